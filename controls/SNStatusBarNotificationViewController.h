#pragma once
// The root view controller of the status-bar overlay's window. It holds no state: rotation and
// status-bar questions are handed on to the app's own frontmost controller (the top of the
// presentation chain of the app's main window), so the overlay never changes how the app turns
// or what its status bar looks like.

#include "uikit/UIViewController.h"

class SNStatusBarNotificationViewController : public UIViewController {
  public:
    std::string className() const override { return "SNStatusBarNotificationViewController"; }

    // The app's frontmost controller; nullptr when the app shows no window.
    Ref<UIViewController> mainController() const;

    bool shouldAutorotateToInterfaceOrientation(UIInterfaceOrientation orientation) const override;
    bool shouldAutorotate() const override;
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override;
    UIInterfaceOrientation preferredInterfaceOrientationForPresentation() const override;
    // The main controller's when the app's controllers decide the status bar's look (the info key
    // "UIViewControllerBasedStatusBarAppearance", read once), the application's otherwise.
    UIStatusBarStyle preferredStatusBarStyle() const override;
    bool prefersStatusBarHidden() const override { return false; }
    UIStatusBarAnimation preferredStatusBarUpdateAnimation() const override;

    // Whether the info key was true when first read.
    static bool viewControllerBasedStatusBarAppearance();
};
