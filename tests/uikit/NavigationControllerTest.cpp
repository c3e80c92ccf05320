#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/uikit/ViewControllerTestSupport.h"
#include "uikit/UIBars.h"
#include "uikit/UIDevice.h"

using namespace uikittest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class RecordingNavigationDelegate : public NSObject, public UINavigationControllerDelegate {
  public:
    explicit RecordingNavigationDelegate(CallLog log) : log_(std::move(log)) {}
    void navigationControllerWillShowViewController(const Ref<UINavigationController>&,
                                                    const Ref<UIViewController>& vc, bool animated) override {
        log_->push_back("delegate.willShow(" + nameOf(vc) + (animated ? ", animated)" : ")"));
    }
    void navigationControllerDidShowViewController(const Ref<UINavigationController>&,
                                                   const Ref<UIViewController>& vc, bool animated) override {
        log_->push_back("delegate.didShow(" + nameOf(vc) + (animated ? ", animated)" : ")"));
    }

  private:
    CallLog log_;
};

// Writes isMovingTo/FromParentViewController into the log during its appearance calls.
class MovingController : public RecordingController {
  public:
    using RecordingController::RecordingController;
    void viewWillAppear(bool animated) override {
        add(std::string("willAppear moving=") + (isMovingToParentViewController() ? "yes" : "no"));
    }
    void viewWillDisappear(bool animated) override {
        add(std::string("willDisappear moving=") + (isMovingFromParentViewController() ? "yes" : "no"));
    }
};

class RotatingController : public RecordingController {
  public:
    using RecordingController::RecordingController;
    bool shouldAutorotate() const override { return autorotate; }
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override { return mask; }
    bool autorotate = false;
    UIInterfaceOrientationMask mask = UIInterfaceOrientationMaskLandscape;
};

class NavigationControllerTest : public ControllerTest {
  protected:
    void SetUp() override {
        ControllerTest::SetUp();
        root = controller("root");
        navigation = make<UINavigationController>(root);
    }
    void TearDown() override {
        UINavigationController::setAutorotationHooks({});
        ControllerTest::TearDown();
    }
    void showNavigation() {
        showInWindow(navigation);
        clearLog();
    }

    Ref<RecordingController> root;
    Ref<UINavigationController> navigation;
};

}  // namespace

TEST_F(NavigationControllerTest, TheRootJoinsTheStackAndScreensInsideFindIt) {
    EXPECT_THAT(navigation->viewControllers(), ElementsAre(root));
    EXPECT_EQ(navigation->topViewController(), root);
    EXPECT_EQ(root->parentViewController(), navigation);
    EXPECT_EQ(root->navigationController(), navigation);
    EXPECT_THAT(calls(), ElementsAre("root.willMoveToParent(UINavigationController)",
                                     "root.didMoveToParent(UINavigationController)"));
    // screens deep inside find their navigation controller.
    auto page = controller("page");
    root->addChildViewController(page);
    EXPECT_EQ(page->navigationController(), navigation);
    EXPECT_EQ(navigation->navigationController(), nullptr);
    // title changes reach the navigation item.
    auto item = root->navigationItem();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->title(), std::nullopt);
    root->setTitle(std::optional<std::string>("相簿"));
    EXPECT_EQ(item->title(), "相簿");
    EXPECT_EQ(root->navigationItem(), item);
    // status bar style comes from the top only with the bar hidden.
    EXPECT_EQ(navigation->childViewControllerForStatusBarStyle(), nullptr);
    EXPECT_EQ(navigation->childViewControllerForStatusBarHidden(), root);
    navigation->setNavigationBarHidden(true);
    EXPECT_EQ(navigation->childViewControllerForStatusBarStyle(), root);
}

TEST_F(NavigationControllerTest, ShowingTheNavigationControllerShowsOnlyItsTop) {
    auto second = controller("second");
    navigation->pushViewController(second, false);
    clearLog();
    showInWindow(navigation);
    EXPECT_THAT(calls(), ElementsAre("second.viewDidLoad", "second.viewWillAppear", "second.viewDidAppear"));
    EXPECT_FALSE(root->isViewLoaded());
    EXPECT_EQ(second->view()->superview(), navigation->view());
}

TEST_F(NavigationControllerTest, AnimatedPushCallsTheLifeCycleInOrderOnTheClock) {
    showNavigation();
    auto next = controller("next");
    navigation->pushViewController(next, true);
    EXPECT_THAT(navigation->viewControllers(), ElementsAre(root, next));
    EXPECT_TRUE(navigation->isTransitioning());
    EXPECT_THAT(calls(), ElementsAre("next.willMoveToParent(UINavigationController)", "next.viewDidLoad",
                                     "root.viewWillDisappear(animated)", "next.viewWillAppear(animated)"));
    clearLog();
    clock->advance(0.34);
    EXPECT_THAT(calls(), IsEmpty());
    EXPECT_EQ(root->view()->superview(), navigation->view());
    clock->advance(0.02);
    EXPECT_THAT(calls(), ElementsAre("root.viewDidDisappear(animated)", "next.viewDidAppear(animated)",
                                     "next.didMoveToParent(UINavigationController)"));
    EXPECT_FALSE(navigation->isTransitioning());
    EXPECT_EQ(root->view()->superview(), nullptr);
    EXPECT_EQ(next->view()->superview(), navigation->view());
    EXPECT_RECT(next->view()->frame(), 0, 0, 375, 667);
}

TEST_F(NavigationControllerTest, AnimatedPopCallsTheLifeCycleInOrderAndReturnsThePopped) {
    showNavigation();
    auto next = controller("next");
    navigation->pushViewController(next, false);
    clearLog();
    auto popped = navigation->popViewControllerAnimated(true);
    EXPECT_EQ(popped, next);
    EXPECT_THAT(navigation->viewControllers(), ElementsAre(root));
    EXPECT_THAT(calls(), ElementsAre("next.willMoveToParent(nil)", "next.viewWillDisappear(animated)",
                                     "root.viewWillAppear(animated)"));
    clearLog();
    clock->advance(0.36);
    EXPECT_THAT(calls(), ElementsAre("next.viewDidDisappear(animated)", "root.viewDidAppear(animated)",
                                     "next.didMoveToParent(nil)"));
    EXPECT_EQ(next->parentViewController(), nullptr);
    EXPECT_EQ(next->navigationController(), nullptr);
    EXPECT_EQ(next->view()->superview(), nullptr);
    EXPECT_EQ(root->view()->superview(), navigation->view());
}

TEST_F(NavigationControllerTest, UnanimatedPushAndPopHappenWithinTheCall) {
    showNavigation();
    auto next = controller("next");
    navigation->pushViewController(next, false);
    EXPECT_THAT(entriesWith(log, "ppear"), ElementsAre("root.viewWillDisappear", "next.viewWillAppear",
                                                       "root.viewDidDisappear", "next.viewDidAppear"));
    clearLog();
    navigation->popViewControllerAnimated(false);
    EXPECT_THAT(entriesWith(log, "ppear"), ElementsAre("next.viewWillDisappear", "root.viewWillAppear",
                                                       "next.viewDidDisappear", "root.viewDidAppear"));
}

TEST_F(NavigationControllerTest, RefusedPushesAndPopsChangeNothing) {
    showNavigation();
    EXPECT_EQ(navigation->popViewControllerAnimated(true), nullptr);
    EXPECT_THAT(navigation->popToRootViewControllerAnimated(true), IsEmpty());
    EXPECT_THAT(navigation->viewControllers(), ElementsAre(root));
    EXPECT_THAT(calls(), IsEmpty());
    // pop to a controller outside the stack is refused.
    auto stranger = controller("stranger");
    EXPECT_THAT(navigation->popToViewController(stranger, true), IsEmpty());
    EXPECT_THAT(navigation->popToViewController(nullptr, true), IsEmpty());
    EXPECT_THAT(navigation->viewControllers(), ElementsAre(root));
    // pushing twice or pushing a navigation controller is refused.
    navigation->pushViewController(root, true);
    navigation->pushViewController(make<UINavigationController>(controller("inner")), true);
    navigation->pushViewController(nullptr, true);
    EXPECT_THAT(navigation->viewControllers(), ElementsAre(root));
    EXPECT_FALSE(navigation->isTransitioning());
}

TEST_F(NavigationControllerTest, PopToRootOnlyTheTopDisappears) {
    showNavigation();
    auto second = controller("second");
    auto third = controller("third");
    navigation->pushViewController(second, false);
    navigation->pushViewController(third, false);
    clearLog();
    auto popped = navigation->popToRootViewControllerAnimated(true);
    EXPECT_THAT(popped, ElementsAre(second, third));
    clock->advance(0.4);
    EXPECT_THAT(entriesWith(log, "ppear"),
                ElementsAre("third.viewWillDisappear(animated)", "root.viewWillAppear(animated)",
                            "third.viewDidDisappear(animated)", "root.viewDidAppear(animated)"));
    EXPECT_THAT(entriesWith(log, "second."),
                ElementsAre("second.willMoveToParent(nil)", "second.didMoveToParent(nil)"));
    EXPECT_EQ(second->parentViewController(), nullptr);
    EXPECT_EQ(third->parentViewController(), nullptr);
}

TEST_F(NavigationControllerTest, PopToAControllerInTheMiddle) {
    showNavigation();
    auto second = controller("second");
    auto third = controller("third");
    auto fourth = controller("fourth");
    navigation->setViewControllers({root, second, third, fourth}, false);
    auto popped = navigation->popToViewController(second, false);
    EXPECT_THAT(popped, ElementsAre(third, fourth));
    EXPECT_THAT(navigation->viewControllers(), ElementsAre(root, second));
    EXPECT_EQ(navigation->topViewController(), second);
    EXPECT_EQ(second->appearanceState(), UIViewControllerAppearanceState::Appeared);
}

TEST_F(NavigationControllerTest, PushDuringATransitionFinishesTheRunningOneFirst) {
    showNavigation();
    auto second = controller("second");
    auto third = controller("third");
    navigation->pushViewController(second, true);
    clock->advance(0.1);
    navigation->pushViewController(third, true);
    EXPECT_THAT(entriesWith(log, "ppear"),
                ElementsAre("root.viewWillDisappear(animated)", "second.viewWillAppear(animated)",
                            "root.viewDidDisappear(animated)", "second.viewDidAppear(animated)",
                            "second.viewWillDisappear(animated)", "third.viewWillAppear(animated)"));
    clearLog();
    clock->advance(0.3);  // the first animation's end must not finish the second transition
    EXPECT_THAT(entriesWith(log, "ppear"), IsEmpty());
    clock->advance(0.1);
    EXPECT_THAT(entriesWith(log, "ppear"),
                ElementsAre("second.viewDidDisappear(animated)", "third.viewDidAppear(animated)"));
    EXPECT_THAT(navigation->viewControllers(), ElementsAre(root, second, third));
}

TEST_F(NavigationControllerTest, HiddenNavigationControllerChangesWithoutAppearanceCalls) {
    auto next = controller("next");
    navigation->pushViewController(next, true);
    EXPECT_FALSE(navigation->isTransitioning());
    EXPECT_THAT(entriesWith(log, "ppear"), IsEmpty());
    EXPECT_THAT(navigation->viewControllers(), ElementsAre(root, next));
    EXPECT_EQ(navigation->popViewControllerAnimated(true), next);
    EXPECT_THAT(entriesWith(log, "ppear"), IsEmpty());
}

TEST_F(NavigationControllerTest, DelegateHearsWillShowBeforeAndDidShowAfterAndIsHeldWeakly) {
    auto delegate = make<RecordingNavigationDelegate>(log);
    navigation->setDelegate(delegate);
    showNavigation();
    auto next = controller("next");
    navigation->pushViewController(next, true);
    clock->advance(0.4);
    EXPECT_THAT(calls(),
                ElementsAre("next.willMoveToParent(UINavigationController)", "next.viewDidLoad",
                            "delegate.willShow(next, animated)", "root.viewWillDisappear(animated)",
                            "next.viewWillAppear(animated)", "root.viewDidDisappear(animated)",
                            "next.viewDidAppear(animated)", "next.didMoveToParent(UINavigationController)",
                            "delegate.didShow(next, animated)"));
    clearLog();
    navigation->popViewControllerAnimated(false);
    EXPECT_EQ(calls().front(), "next.willMoveToParent(nil)");
    EXPECT_EQ(calls()[1], "delegate.willShow(root)");
    EXPECT_EQ(calls().back(), "delegate.didShow(root)");
    // delegate is held weakly.
    {
        auto delegate = make<RecordingNavigationDelegate>(log);
        navigation->setDelegate(delegate);
        EXPECT_NE(navigation->delegate(), nullptr);
    }
    EXPECT_EQ(navigation->delegate(), nullptr);
    navigation->pushViewController(controller("next"), false);  // no crash without a delegate
}

TEST_F(NavigationControllerTest, MovingFlagsDuringPushAndPop) {
    showNavigation();
    auto moving = make<MovingController>("moving", log);
    navigation->pushViewController(moving, true);
    clock->advance(0.4);
    navigation->popViewControllerAnimated(true);
    clock->advance(0.4);
    EXPECT_THAT(entriesWith(log, "moving="),
                ElementsAre("moving.willAppear moving=yes", "moving.willDisappear moving=yes"));
    EXPECT_FALSE(moving->isMovingToParentViewController());
    EXPECT_FALSE(moving->isMovingFromParentViewController());
}

TEST_F(NavigationControllerTest, SetViewControllersReplacesTheStack) {
    showNavigation();
    auto a = controller("a");
    auto b = controller("b");
    navigation->setViewControllers({a, b}, false);
    EXPECT_THAT(navigation->viewControllers(), ElementsAre(a, b));
    EXPECT_THAT(navigation->childViewControllers(), ElementsAre(a, b));
    EXPECT_EQ(root->parentViewController(), nullptr);
    EXPECT_EQ(root->appearanceState(), UIViewControllerAppearanceState::Disappeared);
    EXPECT_EQ(b->appearanceState(), UIViewControllerAppearanceState::Appeared);
    EXPECT_FALSE(a->isViewLoaded());
    EXPECT_EQ(b->view()->superview(), navigation->view());
}

TEST_F(NavigationControllerTest, AnimatedSetViewControllersSlidesToTheNewTop) {
    showNavigation();
    auto a = controller("a");
    navigation->setViewControllers({root, a}, true);
    EXPECT_TRUE(navigation->isTransitioning());
    clock->advance(0.4);
    EXPECT_EQ(a->appearanceState(), UIViewControllerAppearanceState::Appeared);
    EXPECT_EQ(root->appearanceState(), UIViewControllerAppearanceState::Disappeared);
    EXPECT_EQ(root->view()->superview(), nullptr);
}

TEST_F(NavigationControllerTest, HidingTheBarMovesViewsThatDoNotExtendUnderIt) {
    root->setEdgesForExtendedLayout(UIRectEdgeNone);
    showNavigation();
    EXPECT_RECT(root->view()->frame(), 0, 64, 375, 603);
    navigation->setNavigationBarHidden(true, false);
    EXPECT_TRUE(navigation->isNavigationBarHidden());
    EXPECT_RECT(root->view()->frame(), 0, 0, 375, 667);
    navigation->setNavigationBarHidden(false, true);
    EXPECT_RECT(root->view()->frame(), 0, 64, 375, 603);
    clock->advance(0.3);
    navigation->setToolbarHidden(false);
    EXPECT_RECT(root->view()->frame(), 0, 64, 375, 559);
}

TEST_F(NavigationControllerTest, AutorotationAnswersComeFromThePlatformOrTheHooks) {
    auto rotating = make<RotatingController>("rotating", log);
    navigation->pushViewController(rotating, false);
    EXPECT_TRUE(navigation->shouldAutorotate());
    EXPECT_EQ(navigation->supportedInterfaceOrientations(), UIInterfaceOrientationMaskAllButUpsideDown);
    // autorotation hooks answer for every navigation controller.
    UINavigationController::AutorotationHooks hooks;
    hooks.shouldAutorotate = [](const UINavigationController& nav) {
        auto top = nav.viewControllers().empty() ? nullptr : nav.viewControllers().back();
        return top ? top->shouldAutorotate() : false;
    };
    hooks.supportedInterfaceOrientations =
        [](const UINavigationController& nav) -> UIInterfaceOrientationMask {
        auto top = nav.viewControllers().empty() ? nullptr : nav.viewControllers().back();
        return top ? top->supportedInterfaceOrientations() : 0;
    };
    UINavigationController::setAutorotationHooks(hooks);
    EXPECT_FALSE(navigation->shouldAutorotate());
    EXPECT_EQ(navigation->supportedInterfaceOrientations(), UIInterfaceOrientationMaskLandscape);
    auto empty = make<UINavigationController>();
    EXPECT_FALSE(empty->shouldAutorotate());
    EXPECT_EQ(empty->supportedInterfaceOrientations(), 0u);

    // With a top that refuses to turn, the device turning changes nothing.
    showInWindow(navigation);
    UIDevice::currentDevice()->setOrientation(UIDeviceOrientationLandscapeLeft);
    UIViewController::attemptRotationToDeviceOrientation();
    EXPECT_EQ(UIApplication::sharedApplication()->statusBarOrientation(), UIInterfaceOrientationPortrait);
    UIDevice::currentDevice()->setOrientation(UIDeviceOrientationPortrait);
}

TEST_F(NavigationControllerTest, BarShowsTheStacksItemsAndItsBackButtonPops) {
    root->setTitle(std::optional<std::string>("问答"));
    showNavigation();
    auto bar = navigation->navigationBar();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->superview(), navigation->view());
    EXPECT_RECT(bar->frame(), 0, 20, 375, 44);
    EXPECT_EQ(bar->topItem(), root->navigationItem());
    EXPECT_EQ(root->navigationItem()->title(), "问答");
    auto next = controller("next");
    navigation->pushViewController(next, true);
    EXPECT_EQ(bar->items().size(), 2u);
    EXPECT_EQ(bar->topItem(), next->navigationItem());
    clock->advance(0.4);
    EXPECT_TRUE(bar->simulateBackTap());
    clock->advance(0.4);
    EXPECT_THAT(navigation->viewControllers(), ElementsAre(root));
    EXPECT_EQ(bar->items().size(), 1u);
}

TEST_F(NavigationControllerTest, BarsHideAndToolbarShowsTheTopsItems) {
    showNavigation();
    navigation->setNavigationBarHidden(true, false);
    EXPECT_TRUE(navigation->navigationBar()->isHidden());
    auto toolbar = navigation->toolbar();
    ASSERT_NE(toolbar, nullptr);
    EXPECT_TRUE(toolbar->isHidden());
    auto item = make<UIBarButtonItem>(std::optional<std::string>("完成"), UIBarButtonItemStylePlain, nullptr,
                                      UIBarButtonItem::Action());
    root->setToolbarItems({item});
    navigation->setToolbarHidden(false);
    EXPECT_FALSE(toolbar->isHidden());
    EXPECT_RECT(toolbar->frame(), 0, 623, 375, 44);
    EXPECT_THAT(toolbar->items(), ElementsAre(item));
    // visible view controller is the presented one when there is one.
    EXPECT_EQ(navigation->visibleViewController(), root);
    auto modal = controller("modal");
    root->presentViewController(modal, false);
    EXPECT_EQ(navigation->visibleViewController(), modal);
}
