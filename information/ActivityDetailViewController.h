#pragma once
// An event's page: its HTML body, and two buttons: join, and see the entries. A closed event
// (available 0) greys both and leaves them inert. Joining needs no server call here: the button
// only chooses the screen that joins (the photo screen, or the car studio for an event entered
// with a tuning list), after the already-joined and signed-in tests. The event object is the one
// the list holds, so a join made further on shows here as is_join without a refetch.
//
// Pushed by the event list (segue "showActivityDetail"); its storyboard scene declares where
// "showProduction" leads (an entry gallery, which takes the event through ActivityHandOver).
//
// Main thread only.

#include <string>

#include "app/QVNActivity.h"
#include "information/InformationScreens.h"
#include "uikit/UIButton.h"
#include "uikit/UIViewController.h"
#include "uikit/UIWebView.h"

class ActivityDetailViewController : public UIViewController, public InformationScreens::ActivityHandOver {
  public:
    std::string className() const override { return "ActivityDetailViewController"; }
    static constexpr char kShowProductionSegue[] = "showProduction";

    const Ref<QVNActivity>& activity() const { return activity_; }
    void setActivity(const Ref<QVNActivity>& activity) override { activity_ = activity; }

    // Outlets.
    Weak<UIWebView> webView;
    Weak<UIButton> joinButton;
    Weak<UIButton> shareBtn;
    Weak<UIButton> showBtn;

    // The page the web view is given: the title and time as text, the body as HTML.
    static std::string pageHTML(const Ref<QVNActivity>& activity, CGFloat screenWidth);

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

    void setupWebView();
    void setButtonUserInter();
    void joinButtonDidTouch(const Ref<NSObject>& sender);
    void appreciateButtonDidTouch(const Ref<NSObject>& sender);
    void fanhiAction(const Ref<NSObject>& sender);
    void prepareForSegue(const Ref<UIStoryboardSegue>& segue, const Ref<NSObject>& sender) override;

    UIInterfaceOrientationMask supportedInterfaceOrientations() const override {
        return UIInterfaceOrientationMaskPortrait;
    }
    UIStatusBarStyle preferredStatusBarStyle() const override { return UIStatusBarStyleLightContent; }

  private:
    void pushLogin();
    void presentCarStudio();
    void pushJoinScreen();

    Ref<QVNActivity> activity_;
};
