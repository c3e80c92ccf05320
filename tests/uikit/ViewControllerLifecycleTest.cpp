#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "foundation/NSLog.h"
#include "tests/uikit/ViewControllerTestSupport.h"
#include "uikit/UIDevice.h"
#include "uikit/UILayoutSupport.h"
#include "uikit/UINib.h"

using namespace uikittest;
using ::testing::ElementsAre;

namespace {

class CustomViewController : public UIViewController {
  public:
    void loadView() override {
        ++loads;
        setView(make<UIView>(CGRectMake(0, 0, 100, 50)));
    }
    void viewDidLoad() override { ++didLoads; }
    int loads = 0;
    int didLoads = 0;
};

class LazyController : public UIViewController {
  public:
    void loadView() override {}  // forgets to make a view
};

class StatusBarController : public UIViewController {
  public:
    UIStatusBarStyle preferredStatusBarStyle() const override { return style; }
    bool prefersStatusBarHidden() const override { return hidden; }
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override { return mask; }
    bool shouldAutorotate() const override { return autorotate; }
    void willRotateToInterfaceOrientation(UIInterfaceOrientation o, double) override {
        rotations.push_back(o);
    }
    void didRotateFromInterfaceOrientation(UIInterfaceOrientation o) override {
        fromOrientations.push_back(o);
    }
    void viewWillTransitionToSize(CGSize size, const Ref<UIViewControllerTransitionCoordinator>&) override {
        sizes.push_back(size);
    }

    UIStatusBarStyle style = UIStatusBarStyleLightContent;
    bool hidden = false;
    UIInterfaceOrientationMask mask = UIInterfaceOrientationMaskAllButUpsideDown;
    bool autorotate = true;
    std::vector<UIInterfaceOrientation> rotations;
    std::vector<UIInterfaceOrientation> fromOrientations;
    std::vector<CGSize> sizes;
};

class CapturingLog {
  public:
    CapturingLog() {
        previous_ = NSLogSetSink([this](const std::string& line) { lines.push_back(line); });
    }
    ~CapturingLog() { NSLogSetSink(previous_); }
    bool contains(const std::string& text) const {
        for (auto& line : lines) {
            if (line.find(text) != std::string::npos) return true;
        }
        return false;
    }
    std::vector<std::string> lines;

  private:
    NSLogSink previous_;
};

class ViewControllerLifecycleTest : public ControllerTest {};

}  // namespace

TEST_F(ViewControllerLifecycleTest, ViewLoadsOnceOnFirstAccess) {
    auto vc = make<CustomViewController>();
    EXPECT_FALSE(vc->isViewLoaded());
    EXPECT_EQ(vc->loads, 0);
    auto view = vc->view();
    EXPECT_TRUE(vc->isViewLoaded());
    EXPECT_EQ(vc->loads, 1);
    EXPECT_EQ(vc->didLoads, 1);
    EXPECT_EQ(vc->view(), view);
    EXPECT_EQ(vc->loads, 1);
    EXPECT_EQ(vc->didLoads, 1);
    EXPECT_RECT(view->frame(), 0, 0, 100, 50);
}

TEST_F(ViewControllerLifecycleTest, DefaultViewFillsTheScreenAndResizes) {
    auto vc = make<UIViewController>();
    EXPECT_RECT(vc->view()->frame(), 0, 0, 375, 667);
    EXPECT_EQ(vc->view()->autoresizingMask(),
              UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
}

TEST_F(ViewControllerLifecycleTest, UnloadingTheViewLoadsItAgainLater) {
    auto vc = make<CustomViewController>();
    vc->view();
    vc->setView(nullptr);
    EXPECT_FALSE(vc->isViewLoaded());
    vc->view();
    EXPECT_EQ(vc->loads, 2);
    EXPECT_EQ(vc->didLoads, 2);
}

TEST_F(ViewControllerLifecycleTest, LoadViewWithoutAViewGetsAStandIn) {
    CapturingLog captured;
    auto vc = make<LazyController>();
    ASSERT_NE(vc->view(), nullptr);
    EXPECT_TRUE(captured.contains("did not make a view"));
}

TEST_F(ViewControllerLifecycleTest, ViewLoaderWinsOverTheDefault) {
    auto vc = controller("scene");
    Weak<UIView> outlet;
    vc->setViewLoader([&outlet](UIViewController& owner) {
        auto view = make<UIView>(CGRectMake(0, 0, 10, 10));
        auto label = make<UIView>(CGRectMake(1, 1, 2, 2));
        view->addSubview(label);
        outlet = label;
        return view;
    });
    EXPECT_TRUE(vc->hasViewLoader());
    EXPECT_EQ(outlet.lock(), nullptr);  // nothing is built before the view loads
    auto view = vc->view();
    ASSERT_NE(outlet.lock(), nullptr);
    EXPECT_EQ(outlet.lock()->superview(), view);
    EXPECT_THAT(calls(), ElementsAre("scene.viewDidLoad"));
}

TEST_F(ViewControllerLifecycleTest, NibNamedOnInitGivesTheView) {
    UINib::registerNib("LifecycleTestView", [](const Ref<NSObject>& owner, const Dictionary&) {
        auto view = make<UIView>(CGRectMake(0, 0, 42, 42));
        return std::vector<Ref<NSObject>>{make<NSObject>(), view};
    });
    auto vc = make<UIViewController>(std::optional<std::string>("LifecycleTestView"), nullptr);
    EXPECT_RECT(vc->view()->frame(), 0, 0, 42, 42);
    UINib::unregisterNib("LifecycleTestView");
}

TEST_F(ViewControllerLifecycleTest, MissingNibIsLoggedAndAPlainViewStandsIn) {
    CapturingLog captured;
    auto vc = make<UIViewController>(std::optional<std::string>("NoSuchNibAnywhere"), nullptr);
    ASSERT_NE(vc->view(), nullptr);
    EXPECT_TRUE(captured.contains("NoSuchNibAnywhere"));
}

TEST_F(ViewControllerLifecycleTest, ResponderChainRunsThroughTheController) {
    auto vc = controller("root");
    showInWindow(vc);
    EXPECT_EQ(vc->view()->nextResponder(), vc);
    EXPECT_EQ(vc->nextResponder(), window);
    auto sub = make<UIView>();
    vc->view()->addSubview(sub);
    EXPECT_EQ(sub->nextResponder(), vc->view());
}

TEST_F(ViewControllerLifecycleTest, RootOfHiddenWindowLoadsWhenTheWindowShows) {
    auto vc = controller("root");
    window = make<UIWindow>(UIScreen::mainScreen()->bounds());
    window->setRootViewController(vc);
    EXPECT_FALSE(vc->isViewLoaded());
    EXPECT_TRUE(calls().empty());
    window->makeKeyAndVisible();
    EXPECT_THAT(calls(), ElementsAre("root.viewDidLoad", "root.viewWillAppear", "root.viewDidAppear"));
    EXPECT_EQ(vc->view()->superview(), window);
    EXPECT_RECT(vc->view()->frame(), 0, 0, 375, 667);
    EXPECT_EQ(vc->appearanceState(), UIViewControllerAppearanceState::Appeared);
}

TEST_F(ViewControllerLifecycleTest, ReplacingTheRootOfAVisibleWindow) {
    auto first = controller("first");
    showInWindow(first);
    clearLog();
    auto second = controller("second");
    window->setRootViewController(second);
    EXPECT_THAT(calls(), ElementsAre("first.viewWillDisappear", "first.viewDidDisappear",
                                     "second.viewDidLoad", "second.viewWillAppear", "second.viewDidAppear"));
    EXPECT_EQ(first->view()->superview(), nullptr);
    EXPECT_EQ(second->view()->superview(), window);
}

TEST_F(ViewControllerLifecycleTest, HidingTheWindowMakesTheRootDisappear) {
    auto vc = controller("root");
    showInWindow(vc);
    clearLog();
    window->setHidden(true);
    EXPECT_THAT(calls(), ElementsAre("root.viewWillDisappear", "root.viewDidDisappear"));
    clearLog();
    window->setHidden(false);
    EXPECT_THAT(calls(), ElementsAre("root.viewWillAppear", "root.viewDidAppear"));
}

TEST_F(ViewControllerLifecycleTest, AppearanceCallsAreNeverRepeated) {
    auto vc = controller("a");
    vc->beginAppearanceTransition(true, false);
    vc->beginAppearanceTransition(true, false);
    vc->endAppearanceTransition();
    vc->endAppearanceTransition();
    vc->beginAppearanceTransition(true, false);
    EXPECT_THAT(calls(), ElementsAre("a.viewDidLoad", "a.viewWillAppear", "a.viewDidAppear"));
    clearLog();
    vc->beginAppearanceTransition(false, true);
    vc->endAppearanceTransition();
    vc->beginAppearanceTransition(false, true);
    EXPECT_THAT(calls(), ElementsAre("a.viewWillDisappear(animated)", "a.viewDidDisappear(animated)"));
}

TEST_F(ViewControllerLifecycleTest, MemoryWarningReachesEveryLiveController) {
    auto a = controller("a");
    auto b = controller("b");
    { auto gone = controller("gone"); }
    UIApplication::sharedApplication()->simulateMemoryWarning();
    EXPECT_THAT(calls(), ElementsAre("a.didReceiveMemoryWarning", "b.didReceiveMemoryWarning"));
}

TEST_F(ViewControllerLifecycleTest, LayoutPassesReachTheController) {
    auto vc = controller("root");
    showInWindow(vc);
    const int before = vc->layoutPasses;
    vc->view()->setNeedsLayout();
    vc->view()->layoutIfNeeded();
    EXPECT_EQ(vc->layoutPasses, before + 1);
}

TEST_F(ViewControllerLifecycleTest, LayoutGuideLengths) {
    auto root = controller("root");
    EXPECT_EQ(root->topLayoutGuideLength(), 20);
    EXPECT_EQ(root->bottomLayoutGuideLength(), 0);
    UIApplication::sharedApplication()->setStatusBarHidden(true);
    EXPECT_EQ(root->topLayoutGuideLength(), 0);
    UIApplication::sharedApplication()->setStatusBarHidden(false);

    auto navigation = make<UINavigationController>(root);
    EXPECT_EQ(root->topLayoutGuideLength(), 64);
    root->setEdgesForExtendedLayout(UIRectEdgeNone);
    EXPECT_EQ(root->topLayoutGuideLength(), 0);
    root->setEdgesForExtendedLayout(UIRectEdgeAll);
    navigation->setNavigationBarHidden(true);
    EXPECT_EQ(root->topLayoutGuideLength(), 20);
    navigation->setToolbarHidden(false);
    EXPECT_EQ(root->bottomLayoutGuideLength(), 44);

    auto parent = controller("parent");
    auto child = controller("child");
    parent->addChildViewController(child);
    EXPECT_EQ(child->topLayoutGuideLength(), 0);
}

TEST_F(ViewControllerLifecycleTest, DefaultsOfTheOrientationAndStatusBarQuestions) {
    auto vc = make<UIViewController>();
    EXPECT_EQ(vc->supportedInterfaceOrientations(), UIInterfaceOrientationMaskAllButUpsideDown);
    EXPECT_EQ(vc->preferredInterfaceOrientationForPresentation(), UIInterfaceOrientationPortrait);
    EXPECT_TRUE(vc->shouldAutorotate());
    EXPECT_TRUE(vc->shouldAutorotateToInterfaceOrientation(UIInterfaceOrientationLandscapeLeft));
    EXPECT_FALSE(vc->shouldAutorotateToInterfaceOrientation(UIInterfaceOrientationPortraitUpsideDown));
    EXPECT_EQ(vc->preferredStatusBarStyle(), UIStatusBarStyleDefault);
    EXPECT_FALSE(vc->prefersStatusBarHidden());
    EXPECT_EQ(vc->edgesForExtendedLayout(), UIRectEdgeAll);
    EXPECT_TRUE(vc->automaticallyAdjustsScrollViewInsets());
    EXPECT_EQ(vc->modalPresentationStyle(), UIModalPresentationFullScreen);
}

TEST_F(ViewControllerLifecycleTest, StatusBarAppearanceFollowsTheRoot) {
    auto vc = make<StatusBarController>();
    showInWindow(vc);
    auto app = UIApplication::sharedApplication();
    EXPECT_EQ(app->statusBarStyle(), UIStatusBarStyleLightContent);
    vc->hidden = true;
    vc->style = UIStatusBarStyleDefault;
    const int updates = app->statusBarAppearanceUpdateCount();
    vc->setNeedsStatusBarAppearanceUpdate();
    EXPECT_TRUE(app->isStatusBarHidden());
    EXPECT_EQ(app->statusBarStyle(), UIStatusBarStyleDefault);
    EXPECT_EQ(app->statusBarAppearanceUpdateCount(), updates + 1);
}

TEST_F(ViewControllerLifecycleTest, RotationFollowsTheDeviceWhenTheRootAllowsIt) {
    auto vc = make<StatusBarController>();
    showInWindow(vc);
    UIDevice::currentDevice()->setOrientation(UIDeviceOrientationLandscapeLeft);
    UIViewController::attemptRotationToDeviceOrientation();
    auto app = UIApplication::sharedApplication();
    // The device's landscape-left is the interface's landscape-right.
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationLandscapeRight);
    EXPECT_THAT(vc->rotations, ElementsAre(UIInterfaceOrientationLandscapeRight));
    EXPECT_THAT(vc->fromOrientations, ElementsAre(UIInterfaceOrientationPortrait));
    ASSERT_EQ(vc->sizes.size(), 1u);
    EXPECT_EQ(vc->sizes[0].width, 667);
    EXPECT_RECT(UIScreen::mainScreen()->bounds(), 0, 0, 667, 375);
    EXPECT_RECT(window->frame(), 0, 0, 667, 375);
    EXPECT_RECT(vc->view()->frame(), 0, 0, 667, 375);
    UIDevice::currentDevice()->setOrientation(UIDeviceOrientationPortrait);
}

TEST_F(ViewControllerLifecycleTest, RotationIsRefusedWithoutAutorotateOrSupport) {
    auto vc = make<StatusBarController>();
    vc->autorotate = false;
    showInWindow(vc);
    UIDevice::currentDevice()->setOrientation(UIDeviceOrientationLandscapeLeft);
    UIViewController::attemptRotationToDeviceOrientation();
    EXPECT_EQ(UIApplication::sharedApplication()->statusBarOrientation(), UIInterfaceOrientationPortrait);
    vc->autorotate = true;
    vc->mask = UIInterfaceOrientationMaskPortrait;
    UIViewController::attemptRotationToDeviceOrientation();
    EXPECT_EQ(UIApplication::sharedApplication()->statusBarOrientation(), UIInterfaceOrientationPortrait);
    EXPECT_TRUE(vc->rotations.empty());
    UIDevice::currentDevice()->setOrientation(UIDeviceOrientationPortrait);
}

TEST_F(ViewControllerLifecycleTest, LayoutGuideObjectsFollowTheController) {
    auto root = controller("root");
    auto navigation = make<UINavigationController>(root);
    showInWindow(navigation);
    auto top = root->topLayoutGuide();
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->ownerView(), root->view());
    EXPECT_EQ(top->length(), 64);
    EXPECT_EQ(root->topLayoutGuide(), top);
    navigation->setNavigationBarHidden(true);
    root->view()->layoutIfNeeded();
    EXPECT_EQ(top->length(), 20);
    auto bottom = root->bottomLayoutGuide();
    ASSERT_NE(bottom, nullptr);
    EXPECT_EQ(bottom->length(), 0);
    EXPECT_RECT(bottom->frameInOwner(), 0, 667, 375, 0);
}
