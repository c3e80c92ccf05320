#pragma once
// Everything the studio side of the app registers at start-up, in one call: the home screen and
// the tuning-list scenes (with the stand-ins of pages other parts of the app will provide), the
// car studio's "Car" storyboard, the studio's hand-over to the tuning-list screens it presents
// (the list screen reports back to the studio, the detail and save screens get the list, the
// event and the screenshot) and the animators it presents them with. The app's process and the
// demo call it before UIApplicationMain; it is idempotent.
//
// writeResources() puts the artwork the screens read by name (the studio's buttons and colour
// wheel, the HUD and pull-to-refresh bundles) into a resources folder, skipping what is there.

#include <string>

namespace StudioScenes {

void registerAll();
bool writeResources(const std::string& resourcesDirectory);

}  // namespace StudioScenes
