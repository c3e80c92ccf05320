#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/uikit/ViewControllerTestSupport.h"

using namespace uikittest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// A screen with a container view that swaps pages the way a tabbed home screen does: the new page
// becomes a child, fades in over 0.1 s and the old page leaves in the completion.
class PagedScreen : public RecordingController {
  public:
    using RecordingController::RecordingController;
    void viewDidLoad() override {
        RecordingController::viewDidLoad();
        container = make<UIView>(CGRectMake(0, 100, 375, 500));
        view()->addSubview(container);
    }
    void show(const Ref<UIViewController>& page) {
        loadViewIfNeeded();
        auto old = current;
        if (page == old) return;
        page->view()->setFrame(container->bounds());
        if (old) old->willMoveToParentViewController(nullptr);
        auto me = std::static_pointer_cast<PagedScreen>(shared_from_this());
        addChildViewController(page);
        if (!old) {
            container->addSubview(page->view());
            page->didMoveToParentViewController(me);
            current = page;
            return;
        }
        page->view()->setAlpha(0);
        Weak<PagedScreen> weak = me;
        transitionFromViewController(
            old, page, 0.1, UIViewAnimationOptionLayoutSubviews, [page] { page->view()->setAlpha(1); },
            [weak, old, page](bool finished) {
                old->removeFromParentViewController();
                auto screen = weak.lock();
                page->didMoveToParentViewController(screen);
                if (screen) screen->current = page;
                screen->finishedFlags.push_back(finished);
            });
    }

    Ref<UIView> container;
    Ref<UIViewController> current;
    std::vector<bool> finishedFlags;
};

class ContainmentTest : public ControllerTest {};

}  // namespace

TEST_F(ContainmentTest, AddingAndRemovingAChildCallsTheMoveHooks) {
    auto parent = controller("parent");
    auto child = controller("child");
    parent->addChildViewController(child);
    EXPECT_THAT(parent->childViewControllers(), ElementsAre(child));
    EXPECT_EQ(child->parentViewController(), parent);
    EXPECT_THAT(calls(), ElementsAre("child.willMoveToParent(parent)"));
    clearLog();
    child->removeFromParentViewController();
    EXPECT_THAT(calls(), ElementsAre("child.didMoveToParent(nil)"));
    EXPECT_THAT(parent->childViewControllers(), IsEmpty());
    EXPECT_EQ(child->parentViewController(), nullptr);
}

TEST_F(ContainmentTest, RemovingAControllerWithoutParentDoesNothing) {
    auto lonely = controller("lonely");
    lonely->removeFromParentViewController();
    EXPECT_THAT(calls(), IsEmpty());
}

TEST_F(ContainmentTest, ChildrenKeepTheOrderTheyWereAdded) {
    auto parent = controller("parent");
    auto a = controller("a");
    auto b = controller("b");
    auto c = controller("c");
    parent->addChildViewController(a);
    parent->addChildViewController(b);
    parent->addChildViewController(c);
    parent->addChildViewController(b);  // already a child: nothing
    EXPECT_THAT(parent->childViewControllers(), ElementsAre(a, b, c));
    b->removeFromParentViewController();
    EXPECT_THAT(parent->childViewControllers(), ElementsAre(a, c));
}

TEST_F(ContainmentTest, AddingItselfOrAnAncestorIsRefused) {
    auto grand = controller("grand");
    auto parent = controller("parent");
    auto child = controller("child");
    grand->addChildViewController(parent);
    parent->addChildViewController(child);
    clearLog();
    child->addChildViewController(child);
    child->addChildViewController(grand);
    parent->addChildViewController(nullptr);
    EXPECT_THAT(calls(), IsEmpty());
    EXPECT_THAT(child->childViewControllers(), IsEmpty());
    EXPECT_EQ(grand->parentViewController(), nullptr);
}

TEST_F(ContainmentTest, MovingAChildToAnotherParentLeavesTheOldOne) {
    auto first = controller("first");
    auto second = controller("second");
    auto child = controller("child");
    first->addChildViewController(child);
    clearLog();
    second->addChildViewController(child);
    EXPECT_THAT(calls(), ElementsAre("child.didMoveToParent(nil)", "child.willMoveToParent(second)"));
    EXPECT_THAT(first->childViewControllers(), IsEmpty());
    EXPECT_EQ(child->parentViewController(), second);
}

TEST_F(ContainmentTest, ParentAppearanceIsForwardedToChildrenInItsViewTree) {
    auto parent = controller("parent");
    auto shown = controller("shown");
    auto offstage = controller("offstage");
    parent->addChildViewController(shown);
    parent->addChildViewController(offstage);
    parent->view()->addSubview(shown->view());
    offstage->view();
    clearLog();
    showInWindow(parent);
    EXPECT_THAT(calls(), ElementsAre("parent.viewWillAppear", "shown.viewWillAppear", "parent.viewDidAppear",
                                     "shown.viewDidAppear"));
    clearLog();
    window->setHidden(true);
    EXPECT_THAT(calls(), ElementsAre("parent.viewWillDisappear", "shown.viewWillDisappear",
                                     "parent.viewDidDisappear", "shown.viewDidDisappear"));
}

TEST_F(ContainmentTest, ChildAddedToAVisibleParentAppearsWhenItMovesIn) {
    auto screen = make<PagedScreen>("screen", log);
    showInWindow(screen);
    auto page = controller("page");
    clearLog();
    screen->show(page);
    EXPECT_THAT(calls(),
                ElementsAre("page.viewDidLoad", "page.willMoveToParent(screen)",
                            "page.didMoveToParent(screen)", "page.viewWillAppear", "page.viewDidAppear"));
    EXPECT_EQ(screen->current, page);
}

TEST_F(ContainmentTest, ChildWhoseViewLeavesDisappearsWhenRemoved) {
    auto screen = make<PagedScreen>("screen", log);
    showInWindow(screen);
    auto page = controller("page");
    screen->show(page);
    clearLog();
    page->willMoveToParentViewController(nullptr);
    page->view()->removeFromSuperview();
    page->removeFromParentViewController();
    EXPECT_THAT(calls(), ElementsAre("page.willMoveToParent(nil)", "page.viewWillDisappear",
                                     "page.viewDidDisappear", "page.didMoveToParent(nil)"));
}

TEST_F(ContainmentTest, TransitionBetweenChildrenRunsOnTheClock) {
    auto screen = make<PagedScreen>("screen", log);
    showInWindow(screen);
    auto news = controller("news");
    auto forum = controller("forum");
    screen->show(news);
    clearLog();
    screen->show(forum);
    EXPECT_THAT(calls(), ElementsAre("forum.viewDidLoad", "news.willMoveToParent(nil)",
                                     "forum.willMoveToParent(screen)", "news.viewWillDisappear(animated)",
                                     "forum.viewWillAppear(animated)"));
    EXPECT_EQ(forum->view()->superview(), screen->container);
    EXPECT_EQ(forum->view()->alpha(), 1);  // the model value changes at once
    EXPECT_EQ(screen->current, news);      // until the completion runs
    clearLog();
    clock->advance(0.09);
    EXPECT_THAT(calls(), IsEmpty());
    clock->advance(0.02);
    EXPECT_THAT(calls(), ElementsAre("news.viewDidDisappear(animated)", "forum.viewDidAppear(animated)",
                                     "news.didMoveToParent(nil)", "forum.didMoveToParent(screen)"));
    EXPECT_EQ(news->view()->superview(), nullptr);
    EXPECT_EQ(screen->current, forum);
    EXPECT_THAT(screen->childViewControllers(), ElementsAre(forum));
    EXPECT_THAT(screen->finishedFlags, ElementsAre(true));
}

TEST_F(ContainmentTest, TransitionOfAHiddenParentMakesNoAppearanceCalls) {
    auto screen = make<PagedScreen>("screen", log);
    auto news = controller("news");
    auto forum = controller("forum");
    screen->show(news);
    screen->show(forum);
    clock->advance(0.2);
    EXPECT_THAT(entriesWith(log, "ppear"), IsEmpty());
    EXPECT_EQ(screen->current, forum);
}

TEST_F(ContainmentTest, TransitionNeedsTwoChildren) {
    auto parent = controller("parent");
    auto child = controller("child");
    auto stranger = controller("stranger");
    parent->addChildViewController(child);
    bool completed = false;
    parent->transitionFromViewController(child, stranger, 0.1, 0, nullptr, [&](bool) { completed = true; });
    parent->transitionFromViewController(child, child, 0.1, 0, nullptr, [&](bool) { completed = true; });
    clock->advance(1);
    EXPECT_FALSE(completed);
}

TEST_F(ContainmentTest, ZeroDurationTransitionCompletesOnTheNextTurn) {
    auto parent = controller("parent");
    auto a = controller("a");
    auto b = controller("b");
    parent->addChildViewController(a);
    parent->addChildViewController(b);
    parent->view()->addSubview(a->view());
    bool completed = false;
    parent->transitionFromViewController(a, b, 0, 0, nullptr, [&](bool finished) { completed = finished; });
    EXPECT_FALSE(completed);
    testsupport::drainMainRunLoop();
    EXPECT_TRUE(completed);
    EXPECT_EQ(b->view()->superview(), parent->view());
    EXPECT_EQ(a->view()->superview(), nullptr);
}
