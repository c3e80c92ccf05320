#pragma once
// The resource bundle of the global progress HUD: "GHProgressHUD.bundle" in the resources folder
// beside the code, holding the images "info", "success" and "error" (glyphs drawn in black on a
// transparent ground; the HUD tints them) and "angle-mask" (the spinner's mask, whose opacity
// grows clockwise from twelve o'clock). All four are type "png".
//
// writeBundle() draws the artwork and writes the bundle into a resources folder, for the app's
// resources and for tests; the HUD only reads it (a missing bundle or image leaves the image
// empty).

#include <optional>
#include <string>

#include "foundation/NSBundle.h"
#include "graphics/UIImage.h"

namespace GHProgressHUDResources {

// Writes "<resourcesDirectory>/GHProgressHUD.bundle" with its four images, replacing what is there.
// False when a file could not be written.
bool writeBundle(const std::string& resourcesDirectory);

// The bundle: the main bundle's resource "GHProgressHUD" of type "bundle", opened as a bundle;
// nullptr when it is missing.
Ref<NSBundle> bundle();
// An image of type "png" from the bundle; nullptr when the bundle or the file is missing.
Ref<UIImage> imageNamed(const std::string& name);

}  // namespace GHProgressHUDResources
