#pragma once
// The main storyboard, "Main": its first screen is the home screen inside a navigation controller
// whose bar the home screen keeps hidden. The home screen is the scene "MainViewController" when
// the screen's own code registered it in "Main"; until then a placeholder screen stands in, so the
// app always starts into a navigation stack.

#include <string>

#include "uikit/UIViewController.h"

namespace QVNMainStoryboard {

inline constexpr char kName[] = "Main";
inline constexpr char kNavigationIdentifier[] = "QVNMainNavigationController";
inline constexpr char kHomeIdentifier[] = "MainViewController";
inline constexpr char kPlaceholderIdentifier[] = "QVNLaunchViewController";

// Registers "Main" with the navigation scene as its initial scene, and the placeholder scene.
// Leaves a "MainViewController" scene registered by others in place. Idempotent.
void registerScenes();

}  // namespace QVNMainStoryboard

// The stand-in first screen: the app's name on the dark background, portrait only.
class QVNLaunchViewController : public UIViewController {
  public:
    std::string className() const override { return "QVNLaunchViewController"; }
    void viewDidLoad() override;
    bool shouldAutorotate() const override { return false; }
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override;
};
