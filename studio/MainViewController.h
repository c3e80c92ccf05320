#pragma once
// MainViewController: the app's first screen, the root of a navigation stack whose bar it hides.
//
// A header holds the tab buttons (information, Q&A, videos, events), a title, the own-page button
// with its unread dot and a search button; below it a container shows one of four child pages,
// each made from its storyboard on its first showing and kept for the screen's life. A strip
// under the tabs slides to the tapped tab. Swipes left and right flip between the information and
// Q&A pages only. Two entry buttons open the car studio (signed in only; presented from the left
// with QVNTransitionAnimator, this screen being its transitioning delegate) and the camera. The
// first launch lays a one-page guide over the screen one second after the first appearance.
//
// Page switches: the first page goes straight into the container; a later one fades in over 0.1 s
// through the containment transition, and until that ends the old page is still the current one.
// A switch asked for while one runs starts from the page still recorded as current and the
// transition machinery queues it behind the running one, so the last page asked for ends up
// current.
//
// Main thread only.

#include <string>
#include <vector>

#include "app/QVNInformationScreens.h"
#include "foundation/NSObject.h"
#include "uikit/NSLayoutConstraint.h"
#include "uikit/UIButton.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UINavigationController.h"
#include "uikit/UISwipeGestureRecognizer.h"
#include "uikit/UIViewController.h"
#include "uikit/UIViewControllerTransitioning.h"

class MainViewController : public UIViewController,
                           public UIViewControllerTransitioningDelegate,
                           public UINavigationControllerDelegate,
                           public InformationRootViewControllerDelegate {
  public:
    std::string className() const override { return "MainViewController"; }

    // ---- outlets (connected by the storyboard scene) -----------------------------------------
    Weak<UIView> headerContainer;
    Weak<UIButton> btnMy;
    Weak<UILabel> labTitle;
    Weak<UIButton> btnSearch;
    Weak<UIButton> btnNews;
    Weak<UIButton> btnRizur;
    Weak<UIButton> btnVideos;
    Weak<UIButton> btnActivity;
    Weak<UIView> viewContainer;
    Weak<UIButton> modifyEntranceButton;
    Weak<NSLayoutConstraint> modifyEntranceButtonConstraint;
    Weak<UIImageView> HeaderImage;
    // Made in viewDidLoad; the header keeps them alive.
    Weak<UIImageView> buttonIndicator;
    Weak<NSLayoutConstraint> buttonIndicatorLeftConstraint;

    // ---- strong state --------------------------------------------------------------------------
    const std::vector<Ref<UIButton>>& topButtons() const { return topButtons_; }
    // The information tab as its scene made it (it adopts QVNInformationScreens::InformationTab,
    // unless a stand-in page takes its place).
    const Ref<UIViewController>& informationRootViewController() const { return information_; }
    const Ref<UIViewController>& rizUrListViewController() const { return rizUr_; }
    const Ref<UIViewController>& videosViewController() const { return videos_; }
    const Ref<UIViewController>& activityListViewController() const { return activities_; }
    const Ref<UIViewController>& currentChildViewController() const { return current_; }
    const Ref<UISwipeGestureRecognizer>& leftSwipeGestureRecognizer() const { return leftSwipe_; }
    const Ref<UISwipeGestureRecognizer>& rightSwipeGestureRecognizier() const { return rightSwipe_; }
    // The unread dot (made on first use, added to btnMy at creation).
    const Ref<UIImageView>& dotImage();
    bool hasDotImage() const { return dotImage_ != nullptr; }
    // The feature-guide overlay while it shows.
    const Ref<UIImageView>& imageView() const { return imageView_; }

    // ---- the screen ---------------------------------------------------------------------------
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    UIStatusBarStyle preferredStatusBarStyle() const override { return UIStatusBarStyleLightContent; }
    bool shouldAutorotate() const override { return false; }

    // ---- actions ------------------------------------------------------------------------------
    void showNewsViewController(const Ref<NSObject>& sender);
    void showRizUrListViewController(const Ref<NSObject>& sender);
    void showVideosViewController(const Ref<NSObject>& sender);
    void showActivityViewController(const Ref<NSObject>& sender);
    void childViewButtonTapped(const Ref<NSObject>& sender);
    void showMyViewController(const Ref<NSObject>& sender);
    void modifyEntranceButtonTapped(const Ref<NSObject>& sender);
    void modifyEntranceButtonPanning(const Ref<NSObject>& sender) {}
    void showCustomCameraVC(const Ref<NSObject>& sender);
    void nextVc(const Ref<NSObject>& sender);
    void previousVc(const Ref<NSObject>& sender);

    // Puts the new page in the container in place of the old one (nullptr: none yet).
    void addChild(const Ref<UIViewController>& newChild, const Ref<UIViewController>& childToRemove);
    void checkread();
    void addLanchView();
    void removeLanchView();

    // ---- InformationRootViewControllerDelegate ------------------------------------------------
    void informationRootViewControllerDidScrollToNext() override;

    // ---- UIViewControllerTransitioningDelegate ------------------------------------------------
    Ref<UIViewControllerAnimatedTransitioning>
    animationControllerForPresentedController(const Ref<UIViewController>& presented,
                                              const Ref<UIViewController>& presenting,
                                              const Ref<UIViewController>& source) override;

    // The user-defaults key of the first-launch guide (spelt as stored by earlier versions).
    static constexpr char kFirstLaunchKey[] = "firstLanch";

  private:
    Ref<UIButton> button(const Ref<NSObject>& sender) const;
    // Steps 2 and 3 of every page switch: tab colours and the title.
    void markTab(const Ref<NSObject>& sender, const std::string& title);
    void pushScene(const std::string& storyboard, const std::string& identifier,
                   const std::function<void(const Ref<UIViewController>&)>& prepare = {});

    std::vector<Ref<UIButton>> topButtons_;
    Ref<UIViewController> information_;
    Ref<UIViewController> rizUr_;
    Ref<UIViewController> videos_;
    Ref<UIViewController> activities_;
    Ref<UIViewController> current_;
    Ref<UISwipeGestureRecognizer> leftSwipe_;
    Ref<UISwipeGestureRecognizer> rightSwipe_;
    Ref<UIImageView> dotImage_;
    Ref<UIImageView> imageView_;
    // A page fade is running; the page asked for meanwhile (the latest wins) follows it.
    bool switching_ = false;
    Ref<UIViewController> pending_;
};
