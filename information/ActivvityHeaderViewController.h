#pragma once
// The events page of the web site ("/extra/art1.html" on the web host), opened from the picture
// over the event list. Each time the screen is about to show, the page is loaded afresh in a new
// web view below the title bar; the spinner shown on first use goes 1.5 s later.
//
// Main thread only.

#include <string>

#include "controls/VHProgressHUD.h"
#include "foundation/NSURL.h"
#include "uikit/UIViewController.h"
#include "uikit/UIWebView.h"

class ActivvityHeaderViewController : public UIViewController {
  public:
    std::string className() const override { return "ActivvityHeaderViewController"; }
    static constexpr CGFloat kBarHeight = 44;
    static constexpr double kHUDDelay = 1.5;

    // Made in loadWebView, each time the screen is about to show.
    Weak<UIWebView> acvityHesderWebview;
    // Made on first use: a spinner shown over the view.
    const Ref<VHProgressHUD>& hud();

    // The page's address: "/extra/art1.html" over http on the configured web host.
    static Ref<NSURL> pageURL();

    void loadView() override;
    void viewWillAppear(bool animated) override;
    void loadWebView();
    void popController(const Ref<NSObject>& sender);

    UIInterfaceOrientationMask supportedInterfaceOrientations() const override {
        return UIInterfaceOrientationMaskPortrait;
    }
    UIInterfaceOrientation preferredInterfaceOrientationForPresentation() const override {
        return UIInterfaceOrientationPortrait;
    }
    UIStatusBarStyle preferredStatusBarStyle() const override { return UIStatusBarStyleLightContent; }

  private:
    Ref<VHProgressHUD> hud_;
};
