#pragma once
// What the two entry galleries share: an event's entries in a grid of cards with pull-to-refresh
// and load-more, voting and "try this car". The galleries differ only in their grid and card
// (ProductionListViewController, ProductionListsViewController).
//
// Paging: the first page is asked when the view loads and appended; a header refresh replaces
// the data source with a new first page (empty when it failed) and lets the footer ask again; a
// load-more asks for the page after the last entry held and appends it, and an empty or failed
// page puts the footer in its no-more-data state. A reply that comes back after a refresh has
// replaced the data source it was asked for is dropped, so no page lands on the wrong list.
//
// Voting and trying a car need a signed-in user; signed out, an alert "请先登录" offers the login
// screen ("MyUser"/"LoginViewController"). A counted vote shows "投票成功" for 2.0 s and adds one
// to that card; a refused one tells why ("帐号失效请重新登录" and a sign-out on 10003, "您已投票" on
// 43001, else "投票失败"). Trying a car fetches the entry's tuning list and presents the car studio
// (the initial screen of the storyboard "Car") dressed in it; without a list "体验失败" shows for
// 1.5 s. Every block and reply holds the gallery weakly.
//
// Main thread only.

#include <string>

#include "app/ArrayDataSource.h"
#include "app/QVNProduction.h"
#include "controls/VHProgressHUD.h"
#include "information/InformationScreens.h"
#include "information/QVNProductionCell.h"
#include "uikit/UIAlertView.h"
#include "uikit/UICollectionView.h"
#include "uikit/UIGestureRecognizer.h"
#include "uikit/UIViewController.h"

namespace detail {

class ProductionGallery : public UIViewController,
                          public UIAlertViewDelegate,
                          public UIGestureRecognizerDelegate,
                          public InformationScreens::ActivityHandOver {
  public:
    // The title bar the galleries draw above the grid (the navigation bar is hidden).
    static constexpr CGFloat kTitleBarHeight = 44;
    // Where the title bar starts: below the status bar while it shows (the gallery's view covers
    // the whole screen, status bar included).
    static CGFloat titleBarTop();
    // Where the grid starts: below the title bar.
    static CGFloat gridTop() { return titleBarTop() + kTitleBarHeight; }

    const Ref<QVNActivity>& activity() const { return activity_; }
    void setActivity(const Ref<QVNActivity>& activity) override { activity_ = activity; }

    Weak<UICollectionView> collectionView;
    const Ref<ArrayDataSource>& productionsDataSource() const { return productionsDataSource_; }
    // Made on first use over the view, not shown.
    const Ref<VHProgressHUD>& hud();

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override;
    UIInterfaceOrientation preferredInterfaceOrientationForPresentation() const override;
    UIStatusBarStyle preferredStatusBarStyle() const override { return UIStatusBarStyleLightContent; }

    // A right swipe pops the gallery, also one that starts on the grid (whose own pan would
    // otherwise take every stroke).
    void setupGesture();
    void popController(const Ref<NSObject>& sender);
    std::optional<bool>
    gestureRecognizerShouldRecognizeSimultaneouslyWithGestureRecognizer(UIGestureRecognizer& recognizer,
                                                                        UIGestureRecognizer& other) override;
    // The data source, the first page and the refresh controls.
    void setupCollectionView();
    void setupCollectionViewRefresh();
    // The header's refresh and the footer's load-more.
    void loadNewProductions();
    void loadMoreProductions();

    // The cards' handlers.
    void voteForProduction(const Ref<QVNProduction>& production);
    void tryCarOfProduction(const Ref<QVNProduction>& production);
    void handleReplyError(const Ref<NSError>& error);
    void alterAndGotoLogin();
    void alertViewClickedButtonAtIndex(const Ref<UIAlertView>& alertView, long buttonIndex) override;

    // The entries the data source holds, in order.
    std::vector<Ref<QVNProduction>> productions() const;

  protected:
    // The grid's card identifier, and the grid's own set-up before the data source is made.
    virtual std::string productionCellIdentifier() const = 0;
    virtual void prepareCollectionView() {}
    // The title bar with the event's title and a back button, at titleBarTop(); the strip behind
    // the status bar takes the bar's colour, under the status bar's light text.
    void addTitleBar();

  private:
    Ref<ArrayDataSource> makeDataSource(const std::optional<QVNProduction::List>& productions);
    void showText(const std::optional<std::string>& text, double hideAfter);

    Ref<QVNActivity> activity_;
    Ref<ArrayDataSource> productionsDataSource_;
    Ref<VHProgressHUD> hud_;
};

}  // namespace detail
