#pragma once
// The studio's pictures from the app's resources folder: the return button ("back_up",
// "back_down"), the presets button ("zhengti_up", "zhengti_down"), the console handle's arrows, the
// colour wheel's cross-hair ("shizi"), the colour wheel ("color_wheel") and, per modifiable part,
// "<selector>_up.png" and "<selector>_down.png". The screen reads them by name through
// UIImage::imageNamed; a missing picture leaves its button plain. Every picture is written as an
// "@2x" file (drawn at twice its size in points), which imageNamed prefers.
//
// writeResources() draws the artwork and writes it into a resources folder (for the app's
// resources and for tests). Drawing is deterministic, so renders of the studio compare run to run.

#include <string>
#include <vector>

#include "graphics/UIImage.h"

namespace CarStudioResources {

// The part selectors that get row buttons drawn.
const std::vector<std::string>& partSelectors();
// The colour wheel: hue round the circle, white at the centre, transparent outside, its rim
// smoothed; side points at `scale` pixels a point (nullptr for a side or scale out of reason).
Ref<UIImage> drawColorWheel(int side = 150, int scale = 2);
// The console handle's arrows: pointing down while the console is up (a tap lowers it), up while
// it is lowered.
inline constexpr char kConsoleLowerImage[] = "console_lower";
inline constexpr char kConsoleRaiseImage[] = "console_raise";
// What the presets button says: the presets are kits (运动套件, 赛道套件, ...).
inline constexpr char kPresetsButtonName[] = "套件";

// The name a part's button shows: the part's row title in the tuning-list detail; the body, which
// has no row there, is "车身". An unknown selector is shown as it is.
std::string partName(const std::string& selector);
// A part's round button, side points: a small side view of a car with the part in amber over the
// part's name, on a dark disc; pressed (also: selected), the disc is red with a thick white rim.
Ref<UIImage> drawPartButton(const std::string& selector, bool pressed, int side = 50);
// The presets button: the same disc with the whole car outlined in amber over "套件".
Ref<UIImage> drawPresetsButton(bool pressed, int side = 50);
// The return button: a white chevron pointing left on the disc.
Ref<UIImage> drawBackButton(bool pressed, int side = 44);
// The console handle's arrow (24 x 14 points), white.
Ref<UIImage> drawConsoleHandleArrow(bool up);
// The colour wheel's cross-hair, 15 points, black.
Ref<UIImage> drawCrossHair();
// Writes every picture above into the folder (made when missing). False when one failed.
bool writeResources(const std::string& resourcesDirectory);

}  // namespace CarStudioResources
