#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "foundation/NSLog.h"
#include "tests/uikit/ViewControllerTestSupport.h"
#include "uikit/UIDevice.h"

using namespace uikittest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// What an animator saw of its context.
struct Seen {
    Ref<UIView> container;
    Ref<UIViewController> from;
    Ref<UIViewController> to;
    Ref<UIView> fromView;
    Ref<UIView> toView;
    CGRect finalFrame = CGRectZero;
    bool animated = false;
    Ref<UIViewControllerContextTransitioning> context;
};

// Adds the to-view (when presenting), moves it over `duration` and completes with `complete`.
class TestAnimator : public NSObject, public UIViewControllerAnimatedTransitioning {
  public:
    TestAnimator(double duration, bool presenting, CallLog log)
        : duration_(duration), presenting_(presenting), log_(log) {}
    double transitionDuration(const Ref<UIViewControllerContextTransitioning>&) override { return duration_; }
    void animateTransition(const Ref<UIViewControllerContextTransitioning>& context) override {
        seen.context = context;
        seen.container = context->containerView();
        seen.from = context->viewControllerForKey(UITransitionContextFromViewControllerKey);
        seen.to = context->viewControllerForKey(UITransitionContextToViewControllerKey);
        seen.fromView = context->viewForKey(UITransitionContextFromViewKey);
        seen.toView = context->viewForKey(UITransitionContextToViewKey);
        seen.animated = context->isAnimated();
        log_->push_back("animator.animateTransition");
        Ref<UIView> moving;
        if (presenting_) {
            seen.finalFrame = context->finalFrameForViewController(seen.to);
            moving = seen.toView;
            seen.container->addSubview(moving);
            moving->setFrame(CGRectOffset(seen.finalFrame, -seen.finalFrame.size.width, 0));
        } else {
            moving = seen.fromView;
        }
        CGRect target =
            presenting_ ? seen.finalFrame : CGRectOffset(moving->frame(), 0, -moving->frame().size.height);
        bool complete = completeWith;
        UIView::animateWithDuration(
            transitionDuration(context), [moving, target] { moving->setFrame(target); },
            [context, complete](bool) { context->completeTransition(complete); });
    }
    void animationEnded(bool completed) override {
        log_->push_back(std::string("animator.animationEnded(") + (completed ? "yes" : "no") + ")");
    }

    Seen seen;
    bool completeWith = true;

  private:
    double duration_;
    bool presenting_;
    CallLog log_;
};

class TestTransitioningDelegate : public NSObject, public UIViewControllerTransitioningDelegate {
  public:
    Ref<UIViewControllerAnimatedTransitioning>
    animationControllerForPresentedController(const Ref<UIViewController>& presented,
                                              const Ref<UIViewController>& presenting,
                                              const Ref<UIViewController>& source) override {
        presentedAsked = presented;
        presentingAsked = presenting;
        return presenter;
    }
    Ref<UIViewControllerAnimatedTransitioning>
    animationControllerForDismissedController(const Ref<UIViewController>& dismissed) override {
        dismissedAsked = dismissed;
        return dismisser;
    }
    Ref<TestAnimator> presenter;
    Ref<TestAnimator> dismisser;
    Ref<UIViewController> presentedAsked;
    Ref<UIViewController> presentingAsked;
    Ref<UIViewController> dismissedAsked;
};

class LandscapeController : public RecordingController {
  public:
    using RecordingController::RecordingController;
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override {
        return UIInterfaceOrientationMaskLandscape;
    }
    UIInterfaceOrientation preferredInterfaceOrientationForPresentation() const override {
        return UIInterfaceOrientationLandscapeLeft;
    }
};

class PortraitController : public RecordingController {
  public:
    using RecordingController::RecordingController;
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override {
        return UIInterfaceOrientationMaskPortrait;
    }
};

class PresentationTest : public ControllerTest {
  protected:
    void SetUp() override {
        ControllerTest::SetUp();
        root = controller("root");
        showInWindow(root);
        clearLog();
    }
    std::function<void()> recordCompletion(const std::string& name) {
        return [this, name] { log->push_back(name + ".completion"); };
    }

    Ref<RecordingController> root;
};

class CapturingLog {
  public:
    CapturingLog() {
        previous_ = NSLogSetSink([this](const std::string& line) { lines.push_back(line); });
    }
    ~CapturingLog() { NSLogSetSink(previous_); }
    std::vector<std::string> lines;

  private:
    NSLogSink previous_;
};

}  // namespace

TEST_F(PresentationTest, DefaultAnimatedPresentationSlidesUpOverHalfASecond) {
    auto modal = controller("modal");
    root->presentViewController(modal, true, recordCompletion("present"));
    EXPECT_EQ(root->presentedViewController(), modal);
    EXPECT_EQ(modal->presentingViewController(), root);
    EXPECT_TRUE(modal->isBeingPresented());
    EXPECT_THAT(calls(), ElementsAre("modal.viewDidLoad", "root.viewWillDisappear(animated)",
                                     "modal.viewWillAppear(animated)"));
    EXPECT_EQ(modal->view()->window(), window);
    EXPECT_FALSE(modal->view()->layer()->animationKeys().empty());  // the slide
    clearLog();
    clock->advance(0.49);
    EXPECT_THAT(calls(), IsEmpty());
    clock->advance(0.02);
    EXPECT_THAT(calls(), ElementsAre("root.viewDidDisappear(animated)", "modal.viewDidAppear(animated)",
                                     "present.completion"));
    EXPECT_FALSE(modal->isBeingPresented());
    EXPECT_EQ(root->view()->superview(), nullptr);  // full screen: the presenter's view leaves
    EXPECT_RECT(modal->view()->convertRectToView(modal->view()->bounds(), nullptr), 0, 0, 375, 667);
}

TEST_F(PresentationTest, UnanimatedPresentationCompletesOnTheNextTurn) {
    auto modal = controller("modal");
    root->presentViewController(modal, false, recordCompletion("present"));
    EXPECT_THAT(calls(), ElementsAre("modal.viewDidLoad", "root.viewWillDisappear", "modal.viewWillAppear"));
    clearLog();
    testsupport::drainMainRunLoop();
    EXPECT_THAT(calls(), ElementsAre("root.viewDidDisappear", "modal.viewDidAppear", "present.completion"));
}

TEST_F(PresentationTest, DefaultAnimatedDismissalBringsThePresenterBack) {
    auto modal = controller("modal");
    root->presentViewController(modal, true);
    clock->advance(0.6);
    clearLog();
    root->dismissViewControllerAnimated(true, recordCompletion("dismiss"));
    EXPECT_TRUE(modal->isBeingDismissed());
    EXPECT_EQ(root->view()->superview(), window);
    EXPECT_EQ(window->subviews().front(), root->view());
    EXPECT_THAT(calls(), ElementsAre("modal.viewWillDisappear(animated)", "root.viewWillAppear(animated)"));
    clearLog();
    clock->advance(0.49);
    EXPECT_THAT(calls(), IsEmpty());
    EXPECT_EQ(root->presentedViewController(), modal);
    clock->advance(0.02);
    EXPECT_THAT(calls(), ElementsAre("modal.viewDidDisappear(animated)", "root.viewDidAppear(animated)",
                                     "dismiss.completion"));
    EXPECT_EQ(root->presentedViewController(), nullptr);
    EXPECT_EQ(modal->presentingViewController(), nullptr);
    EXPECT_EQ(modal->view()->superview(), nullptr);
    EXPECT_THAT(window->subviews(), ElementsAre(root->view()));
}

TEST_F(PresentationTest, DismissOnThePresentedControllerAsksItsPresenter) {
    auto modal = controller("modal");
    root->presentViewController(modal, false);
    testsupport::drainMainRunLoop();
    modal->dismissViewControllerAnimated(false, recordCompletion("dismiss"));
    testsupport::drainMainRunLoop();
    EXPECT_EQ(root->presentedViewController(), nullptr);
    EXPECT_EQ(log->back(), "dismiss.completion");
}

TEST_F(PresentationTest, DismissWithNothingPresentedDoesNothing) {
    root->dismissViewControllerAnimated(true, recordCompletion("dismiss"));
    clock->advance(1);
    EXPECT_THAT(calls(), IsEmpty());
}

TEST_F(PresentationTest, CustomAnimatorRunsOnTheClockWithTheContext) {
    auto modal = controller("modal");
    auto delegate = make<TestTransitioningDelegate>();
    delegate->presenter = make<TestAnimator>(0.8, true, log);
    modal->setTransitioningDelegate(delegate);
    root->presentViewController(modal, true, recordCompletion("present"));
    EXPECT_EQ(delegate->presentedAsked, modal);
    EXPECT_EQ(delegate->presentingAsked, root);
    const Seen& seen = delegate->presenter->seen;
    EXPECT_EQ(seen.from, root);
    EXPECT_EQ(seen.to, modal);
    EXPECT_EQ(seen.fromView, root->view());
    EXPECT_EQ(seen.toView, modal->view());
    EXPECT_TRUE(seen.animated);
    ASSERT_NE(seen.container, nullptr);
    EXPECT_EQ(seen.container->superview(), window);
    EXPECT_RECT(seen.container->frame(), 0, 0, 375, 667);
    EXPECT_RECT(seen.finalFrame, 0, 0, 375, 667);
    EXPECT_EQ(seen.context->viewControllerForKey("other"), nullptr);
    EXPECT_RECT(seen.context->initialFrameForViewController(root), 0, 0, 375, 667);
    clearLog();
    clock->advance(0.79);
    EXPECT_THAT(calls(), IsEmpty());
    clock->advance(0.02);
    EXPECT_THAT(calls(), ElementsAre("root.viewDidDisappear(animated)", "modal.viewDidAppear(animated)",
                                     "animator.animationEnded(yes)", "present.completion"));
    EXPECT_FALSE(seen.context->transitionWasCancelled());
    EXPECT_RECT(modal->view()->frame(), 0, 0, 375, 667);
}

TEST_F(PresentationTest, CustomStyleLeavesThePresenterInPlace) {
    auto modal = controller("modal");
    modal->setModalPresentationStyle(UIModalPresentationCustom);
    auto delegate = make<TestTransitioningDelegate>();
    delegate->presenter = make<TestAnimator>(1.0, true, log);
    delegate->dismisser = make<TestAnimator>(0.3, false, log);
    modal->setTransitioningDelegate(delegate);
    root->presentViewController(modal, true);
    EXPECT_EQ(delegate->presenter->seen.fromView, nullptr);
    EXPECT_EQ(delegate->presenter->seen.context->presentationStyle(), UIModalPresentationCustom);
    clock->advance(1.1);
    EXPECT_THAT(entriesWith(log, "root."), IsEmpty());
    EXPECT_EQ(root->view()->superview(), window);
    EXPECT_EQ(root->appearanceState(), UIViewControllerAppearanceState::Appeared);

    clearLog();
    root->dismissViewControllerAnimated(true, recordCompletion("dismiss"));
    EXPECT_EQ(delegate->dismissedAsked, modal);
    EXPECT_EQ(delegate->dismisser->seen.from, modal);
    EXPECT_EQ(delegate->dismisser->seen.to, root);
    EXPECT_EQ(delegate->dismisser->seen.toView, nullptr);
    EXPECT_EQ(delegate->dismisser->seen.fromView, modal->view());
    clock->advance(0.31);
    EXPECT_THAT(calls(), ElementsAre("modal.viewWillDisappear(animated)", "animator.animateTransition",
                                     "modal.viewDidDisappear(animated)", "animator.animationEnded(yes)",
                                     "dismiss.completion"));
    EXPECT_EQ(root->presentedViewController(), nullptr);
}

TEST_F(PresentationTest, InterruptedDismissalLeavesTheControllerPresented) {
    auto modal = controller("modal");
    modal->setModalPresentationStyle(UIModalPresentationCustom);
    auto delegate = make<TestTransitioningDelegate>();
    delegate->dismisser = make<TestAnimator>(0.3, false, log);
    delegate->dismisser->completeWith = false;
    modal->setTransitioningDelegate(delegate);
    root->presentViewController(modal, false);
    testsupport::drainMainRunLoop();
    clearLog();
    root->dismissViewControllerAnimated(true, recordCompletion("dismiss"));
    clock->advance(0.31);
    EXPECT_TRUE(delegate->dismisser->seen.context->transitionWasCancelled());
    EXPECT_EQ(root->presentedViewController(), modal);
    EXPECT_EQ(modal->appearanceState(), UIViewControllerAppearanceState::Appeared);
    EXPECT_NE(modal->view()->window(), nullptr);
    EXPECT_THAT(entriesWith(log, "completion"), IsEmpty());
    EXPECT_EQ(log->back(), "animator.animationEnded(no)");
    // It can still be dismissed afterwards.
    delegate->dismisser = nullptr;
    root->dismissViewControllerAnimated(false);
    testsupport::drainMainRunLoop();
    EXPECT_EQ(root->presentedViewController(), nullptr);
}

TEST_F(PresentationTest, CancelledPresentationUndoesEverything) {
    auto modal = controller("modal");
    auto delegate = make<TestTransitioningDelegate>();
    delegate->presenter = make<TestAnimator>(0.2, true, log);
    delegate->presenter->completeWith = false;
    modal->setTransitioningDelegate(delegate);
    root->presentViewController(modal, true, recordCompletion("present"));
    clock->advance(0.3);
    EXPECT_EQ(root->presentedViewController(), nullptr);
    EXPECT_EQ(modal->presentingViewController(), nullptr);
    EXPECT_EQ(modal->view()->superview(), nullptr);
    EXPECT_EQ(root->view()->superview(), window);
    EXPECT_EQ(root->appearanceState(), UIViewControllerAppearanceState::Appeared);
    EXPECT_EQ(modal->appearanceState(), UIViewControllerAppearanceState::Disappeared);
    EXPECT_THAT(entriesWith(log, "completion"), IsEmpty());
    EXPECT_EQ(window->subviews().size(), 1u);
}

TEST_F(PresentationTest, CompleteTransitionTwiceCountsOnce) {
    auto modal = controller("modal");
    auto delegate = make<TestTransitioningDelegate>();
    delegate->presenter = make<TestAnimator>(0.2, true, log);
    modal->setTransitioningDelegate(delegate);
    root->presentViewController(modal, true, recordCompletion("present"));
    clock->advance(0.3);
    delegate->presenter->seen.context->completeTransition(false);
    EXPECT_EQ(root->presentedViewController(), modal);
    EXPECT_THAT(entriesWith(log, "present.completion"), ElementsAre("present.completion"));
}

TEST_F(PresentationTest, AnimatorThatTakesThePresentersViewIntoTheContainer) {
    // Slides the new screen in from the left over the old one, both inside the container.
    class SlideIn : public NSObject, public UIViewControllerAnimatedTransitioning {
      public:
        double transitionDuration(const Ref<UIViewControllerContextTransitioning>&) override { return 0.5; }
        void animateTransition(const Ref<UIViewControllerContextTransitioning>& context) override {
            auto container = context->containerView();
            auto from = context->viewControllerForKey(UITransitionContextFromViewControllerKey)->view();
            auto to = context->viewControllerForKey(UITransitionContextToViewControllerKey)->view();
            container->addSubview(from);
            container->addSubview(to);
            CGRect b = UIScreen::mainScreen()->bounds();
            to->setFrame(CGRectMake(-b.size.width, 0, b.size.width, b.size.height));
            UIView::animateWithDuration(
                0.5, [to, b] { to->setFrame(b); }, [context](bool) { context->completeTransition(true); });
        }
    };
    class Delegate : public NSObject, public UIViewControllerTransitioningDelegate {
      public:
        Ref<UIViewControllerAnimatedTransitioning>
        animationControllerForPresentedController(const Ref<UIViewController>&, const Ref<UIViewController>&,
                                                  const Ref<UIViewController>&) override {
            return make<SlideIn>();
        }
    };
    auto delegate = make<Delegate>();
    auto studio = controller("studio");
    studio->setTransitioningDelegate(delegate);
    root->presentViewController(studio, true);
    clock->advance(0.6);
    EXPECT_EQ(root->view()->superview(), nullptr);
    EXPECT_RECT(studio->view()->frame(), 0, 0, 375, 667);
    root->dismissViewControllerAnimated(true);  // no dismissal animator: the default slide
    clock->advance(0.6);
    EXPECT_EQ(root->view()->superview(), window);
    EXPECT_RECT(root->view()->frame(), 0, 0, 375, 667);
    EXPECT_THAT(window->subviews(), ElementsAre(root->view()));
}

TEST_F(PresentationTest, ChainsOfPresentationsReadBothWays) {
    auto second = controller("second");
    auto third = controller("third");
    auto fourth = controller("fourth");
    root->presentViewController(second, false);
    testsupport::drainMainRunLoop();
    second->presentViewController(third, false);
    testsupport::drainMainRunLoop();
    third->presentViewController(fourth, false);
    testsupport::drainMainRunLoop();
    EXPECT_EQ(fourth->presentingViewController(), third);
    EXPECT_EQ(fourth->presentingViewController()->presentingViewController()->presentingViewController(),
              root);
    EXPECT_EQ(root->presentedViewController()->presentedViewController()->presentedViewController(), fourth);
    EXPECT_EQ(UIViewController::decidingControllerForWindow(window), fourth);
}

TEST_F(PresentationTest, DismissingAChainFromItsBottom) {
    auto second = controller("second");
    auto third = controller("third");
    root->presentViewController(second, false);
    testsupport::drainMainRunLoop();
    second->presentViewController(third, false);
    testsupport::drainMainRunLoop();
    clearLog();
    root->dismissViewControllerAnimated(true, recordCompletion("dismiss"));
    EXPECT_THAT(calls(), ElementsAre("third.viewWillDisappear(animated)", "root.viewWillAppear(animated)"));
    clock->advance(0.6);
    EXPECT_THAT(entriesWith(log, "second."), IsEmpty());  // never visible, never told
    EXPECT_EQ(root->presentedViewController(), nullptr);
    EXPECT_EQ(second->presentedViewController(), nullptr);
    EXPECT_EQ(third->presentingViewController(), nullptr);
    EXPECT_THAT(window->subviews(), ElementsAre(root->view()));
    EXPECT_EQ(log->back(), "dismiss.completion");
}

TEST_F(PresentationTest, PresentingFromAScreenInsideANavigationController) {
    auto navRoot = controller("navRoot");
    auto navigation = make<UINavigationController>(navRoot);
    window->setRootViewController(navigation);
    auto modal = controller("modal");
    navRoot->presentViewController(modal, false);
    testsupport::drainMainRunLoop();
    EXPECT_EQ(modal->presentingViewController(), navigation);
    EXPECT_EQ(navRoot->presentedViewController(), modal);
    EXPECT_EQ(navigation->presentedViewController(), modal);
    EXPECT_EQ(navRoot->appearanceState(), UIViewControllerAppearanceState::Disappeared);
    // A screen inside a presented navigation controller dismisses the whole of it.
    auto inner = controller("inner");
    auto presentedNavigation = make<UINavigationController>(inner);
    modal->presentViewController(presentedNavigation, false);
    testsupport::drainMainRunLoop();
    EXPECT_EQ(inner->presentingViewController(), modal);
    inner->dismissViewControllerAnimated(false);
    testsupport::drainMainRunLoop();
    EXPECT_EQ(modal->presentedViewController(), nullptr);
}

TEST_F(PresentationTest, PresentingTwiceIsRefused) {
    CapturingLog captured;
    auto first = controller("first");
    auto second = controller("second");
    root->presentViewController(first, false);
    testsupport::drainMainRunLoop();
    root->presentViewController(second, false, recordCompletion("second"));
    testsupport::drainMainRunLoop();
    EXPECT_EQ(root->presentedViewController(), first);
    EXPECT_FALSE(second->isViewLoaded());
    EXPECT_THAT(entriesWith(log, "second."), IsEmpty());
    ASSERT_FALSE(captured.lines.empty());
    EXPECT_NE(captured.lines.back().find("already presenting"), std::string::npos);
}

TEST_F(PresentationTest, PresentingFromAControllerOutsideTheWindowIsRefused) {
    CapturingLog captured;
    auto loose = controller("loose");
    auto modal = controller("modal");
    loose->presentViewController(modal, true, recordCompletion("present"));
    clock->advance(1);
    EXPECT_EQ(loose->presentedViewController(), nullptr);
    EXPECT_THAT(entriesWith(log, "completion"), IsEmpty());
    ASSERT_FALSE(captured.lines.empty());
    EXPECT_NE(captured.lines.back().find("not in the window hierarchy"), std::string::npos);
}

TEST_F(PresentationTest, PresentingOnAControllerWhilePresentationRunsWaitsForIt) {
    auto picker = controller("picker");
    auto alert = controller("alert");
    root->presentViewController(picker, true);
    clock->advance(0.1);
    picker->presentViewController(alert, true, recordCompletion("alert"));
    EXPECT_EQ(picker->presentedViewController(), nullptr);
    clock->advance(0.41);  // the picker's presentation ends; the alert's starts
    EXPECT_EQ(picker->presentedViewController(), alert);
    EXPECT_EQ(alert->presentingViewController(), picker);
    clock->advance(0.5);
    EXPECT_EQ(log->back(), "alert.completion");
}

TEST_F(PresentationTest, DismissWhilePresentationRunsWaitsForIt) {
    auto modal = controller("modal");
    root->presentViewController(modal, true, recordCompletion("present"));
    clock->advance(0.2);
    root->dismissViewControllerAnimated(true, recordCompletion("dismiss"));
    EXPECT_EQ(root->presentedViewController(), modal);
    clock->advance(0.31);
    EXPECT_TRUE(modal->isBeingDismissed());
    clock->advance(0.5);
    EXPECT_EQ(root->presentedViewController(), nullptr);
    EXPECT_THAT(entriesWith(log, "completion"), ElementsAre("present.completion", "dismiss.completion"));
}

TEST_F(PresentationTest, PresentingALandscapeScreenTurnsTheInterface) {
    auto studio = make<LandscapeController>("studio", log);
    root->presentViewController(studio, true);
    auto app = UIApplication::sharedApplication();
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationLandscapeLeft);
    EXPECT_RECT(UIScreen::mainScreen()->bounds(), 0, 0, 667, 375);
    clock->advance(0.6);
    EXPECT_RECT(studio->view()->convertRectToView(studio->view()->bounds(), nullptr), 0, 0, 667, 375);
    root->dismissViewControllerAnimated(true);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationPortrait);
    clock->advance(0.6);
    EXPECT_RECT(root->view()->frame(), 0, 0, 375, 667);
}

TEST_F(PresentationTest, PresentedControllerDecidesTheStatusBar) {
    class Hidden : public UIViewController {
      public:
        bool prefersStatusBarHidden() const override { return true; }
    };
    auto modal = make<Hidden>();
    root->presentViewController(modal, false);
    testsupport::drainMainRunLoop();
    EXPECT_TRUE(UIApplication::sharedApplication()->isStatusBarHidden());
    root->dismissViewControllerAnimated(false);
    testsupport::drainMainRunLoop();
    EXPECT_FALSE(UIApplication::sharedApplication()->isStatusBarHidden());
}

TEST_F(PresentationTest, TransitioningDelegateIsHeldWeakly) {
    auto modal = controller("modal");
    {
        auto delegate = make<TestTransitioningDelegate>();
        modal->setTransitioningDelegate(delegate);
    }
    EXPECT_EQ(modal->transitioningDelegate(), nullptr);
    root->presentViewController(modal, true);
    clock->advance(0.6);
    EXPECT_EQ(modal->appearanceState(), UIViewControllerAppearanceState::Appeared);
}

TEST_F(PresentationTest, PresentedControllersNextResponderIsItsPresenter) {
    auto modal = controller("modal");
    root->presentViewController(modal, false);
    testsupport::drainMainRunLoop();
    EXPECT_EQ(modal->nextResponder(), root);
}
