#pragma once
// WebViewController: the in-app page that shows an advertisement's URL. The caller sets
// advertisementURL before the view loads (the news list does it while preparing its segue); the
// page then loads that URL once, scaled to fit, and nothing reacts to its progress or errors.
// The back button pops the navigation stack. The page stays portrait with a light status bar.
//
// Its view (a header with the back button above a web view, connected as outlets) is built in
// code when no storyboard scene gave it one. Main thread only.

#include <string>

#include "foundation/NSURL.h"
#include "uikit/UIViewController.h"
#include "uikit/UIWebView.h"

class UIButton;

class WebViewController : public UIViewController {
  public:
    WebViewController() = default;
    void didInit();
    std::string className() const override { return "WebViewController"; }

    const Ref<NSURL>& advertisementURL() const { return advertisementURL_; }
    void setAdvertisementURL(const Ref<NSURL>& url) { advertisementURL_ = url; }

    // Outlets (weak).
    Weak<UIWebView> webView;
    Weak<UIButton> backButton;

    // Loads the advertisement URL (default cache policy and time-out), scaled to fit.
    void viewDidLoad() override;
    // Storyboard action: pops the navigation controller, animated.
    void backButtonDidTouch(const Ref<NSObject>& sender);

    UIInterfaceOrientationMask supportedInterfaceOrientations() const override;
    UIInterfaceOrientation preferredInterfaceOrientationForPresentation() const override;
    UIStatusBarStyle preferredStatusBarStyle() const override;

    // Builds the page's view into the controller: header, back button and web view, connected.
    static Ref<UIView> loadDefaultView(UIViewController& controller);

  private:
    Ref<NSURL> advertisementURL_;
};
