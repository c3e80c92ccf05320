#pragma once
// The studio's pictures from the app's resources folder: the return button ("back_up",
// "back_down"), the presets button ("zhengti_up", "zhengti_down"), the colour wheel's cross-hair
// ("shizi"), the colour wheel ("color_wheel") and, per modifiable part, "<selector>_up.png" and
// "<selector>_down.png". The screen reads them by name through UIImage::imageNamed; a missing
// picture leaves its button plain.
//
// writeResources() draws the artwork and writes it into a resources folder (for the app's
// resources and for tests). Drawing is deterministic, so renders of the studio compare run to run.

#include <string>
#include <vector>

#include "graphics/UIImage.h"

namespace CarStudioResources {

// The part selectors that get row buttons drawn.
const std::vector<std::string>& partSelectors();
// The colour wheel: hue round the circle, white at the centre, transparent outside; side points.
Ref<UIImage> drawColorWheel(int side = 150);
// A round button face in a colour, with a lighter ring when pressed; side points.
Ref<UIImage> drawButtonFace(double red, double green, double blue, bool pressed, int side = 50);
Ref<UIImage> drawCrossHair();
// Writes every picture above into the folder (made when missing). False when one failed.
bool writeResources(const std::string& resourcesDirectory);

}  // namespace CarStudioResources
