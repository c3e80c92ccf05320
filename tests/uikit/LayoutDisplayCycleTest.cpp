// The end-of-turn cycle: pending layout first (top-down), then drawRect for views in a window.

#include <string>
#include <vector>

#include "UIKitTestSupport.h"
#include "graphics/UIGraphics.h"
#include "uikit/UIView.h"
#include "uikit/UIWindow.h"

using testsupport::drainMainRunLoop;
using uikittest::UIKitTest;

namespace {

std::vector<std::string>* gEvents = nullptr;

class Recorder : public UIView {
  public:
    explicit Recorder(std::string name, CGRect frame = CGRectMake(0, 0, 20, 10))
        : UIView(frame), name_(std::move(name)) {}
    int layouts = 0, draws = 0, constraintUpdates = 0;
    CGRect lastRect{};
    bool hadContext = false;
    std::function<void(Recorder&)> onLayout;

    void layoutSubviews() override {
        ++layouts;
        if (gEvents) gEvents->push_back(name_ + ":layout");
        if (onLayout) onLayout(*this);
    }
    void drawRect(CGRect rect) override {
        ++draws;
        lastRect = rect;
        auto context = UIGraphicsGetCurrentContext();
        hadContext = context != nullptr;
        if (context) {
            CGContextSetRGBFillColor(context, 1, 0, 0, 1);
            CGContextFillRect(context, rect);
        }
        if (gEvents) gEvents->push_back(name_ + ":draw");
    }
    void updateConstraints() override {
        ++constraintUpdates;
        if (gEvents) gEvents->push_back(name_ + ":updateConstraints");
    }
    CGSize sizeThatFits(CGSize size) const override { return {size.width / 2, 33}; }

  private:
    std::string name_;
};

class CycleTest : public UIKitTest {
  protected:
    void SetUp() override {
        UIKitTest::SetUp();
        gEvents = &events;
        window = make<UIWindow>(CGRectMake(0, 0, 100, 100));
        window->makeKeyAndVisible();
        drainMainRunLoop();
        events.clear();
    }
    void TearDown() override {
        gEvents = nullptr;
        UIKitTest::TearDown();
    }
    std::vector<std::string> events;
    Ref<UIWindow> window;
};

}  // namespace

TEST_F(CycleTest, DrawRectRunsOncePerBatchOnlyInAWindow) {
    auto inside = make<Recorder>("inside");
    auto outside = make<Recorder>("outside");
    window->addSubview(inside);
    inside->setNeedsDisplay();
    inside->setNeedsDisplay();
    inside->setNeedsDisplayInRect(CGRectMake(1, 1, 2, 2));
    outside->setNeedsDisplay();
    EXPECT_EQ(inside->draws, 0);  // nothing happens inline
    drainMainRunLoop();
    EXPECT_EQ(inside->draws, 1);
    EXPECT_TRUE(inside->hadContext);
    EXPECT_RECT(inside->lastRect, 0, 0, 20, 10);
    EXPECT_EQ(outside->draws, 0);
    EXPECT_TRUE(outside->needsDisplay());
    // The picture becomes the layer's contents, at the view's scale.
    ASSERT_TRUE(inside->layer()->contents());
    EXPECT_EQ(inside->layer()->contents()->width(), std::size_t(20 * inside->contentScaleFactor()));
    drainMainRunLoop();
    EXPECT_EQ(inside->draws, 1);

    // A view waiting for display is drawn once it joins a window.
    window->addSubview(outside);
    drainMainRunLoop();
    EXPECT_EQ(outside->draws, 1);
    EXPECT_FALSE(outside->needsDisplay());
}

TEST_F(CycleTest, ViewsThatGoAwayBeforeTheirTurnAreSkipped) {
    auto doomed = make<Recorder>("doomed");
    window->addSubview(doomed);
    doomed->setNeedsDisplay();
    doomed->removeFromSuperview();
    doomed.reset();
    drainMainRunLoop();  // must not touch the dead view
    SUCCEED();
}

TEST_F(CycleTest, RedrawContentModeRedrawsOnResize) {
    auto view = make<Recorder>("v");
    window->addSubview(view);
    view->setNeedsDisplay();
    drainMainRunLoop();
    view->setFrame(CGRectMake(0, 0, 40, 40));
    drainMainRunLoop();
    EXPECT_EQ(view->draws, 1);
    view->setContentMode(UIViewContentModeRedraw);
    view->setFrame(CGRectMake(0, 0, 50, 40));
    drainMainRunLoop();
    EXPECT_EQ(view->draws, 2);
}

TEST_F(CycleTest, LayoutRunsBeforeDisplayAndTopDown) {
    auto parent = make<Recorder>("parent", CGRectMake(0, 0, 50, 50));
    auto child = make<Recorder>("child");
    window->addSubview(parent);
    parent->addSubview(child);
    drainMainRunLoop();
    events.clear();
    // The child asks first, the parent after: layout still goes parent first; display comes last.
    child->setNeedsDisplay();
    child->setNeedsLayout();
    parent->setNeedsLayout();
    drainMainRunLoop();
    EXPECT_EQ(events, (std::vector<std::string>{"parent:layout", "child:layout", "child:draw"}));
}

TEST_F(CycleTest, LayoutThatResizesChildrenLaysThemOutInTheSamePass) {
    auto parent = make<Recorder>("parent", CGRectMake(0, 0, 50, 50));
    auto child = make<Recorder>("child");
    window->addSubview(parent);
    parent->addSubview(child);
    drainMainRunLoop();
    events.clear();
    parent->onLayout = [child](Recorder& self) {
        child->setFrame(CGRectMake(0, 0, self.bounds().size.width, 5));
    };
    parent->setNeedsLayout();
    drainMainRunLoop();
    EXPECT_EQ(events, (std::vector<std::string>{"parent:layout", "child:layout"}));
}

TEST_F(CycleTest, ViewsOutsideAWindowAreLaidOutOnlyOnRequest) {
    auto loose = make<Recorder>("loose");
    auto inner = make<Recorder>("inner");
    loose->addSubview(inner);
    loose->setNeedsLayout();
    drainMainRunLoop();
    EXPECT_EQ(loose->layouts, 0);
    inner->layoutIfNeeded();  // from the topmost ancestor that needs layout
    EXPECT_EQ(loose->layouts, 1);
    EXPECT_EQ(inner->layouts, 1);
    loose->layoutIfNeeded();
    EXPECT_EQ(loose->layouts, 1);
    EXPECT_FALSE(loose->needsLayout());
}

TEST_F(CycleTest, SizeChangesAndAddingSubviewsAskForLayout) {
    auto parent = make<Recorder>("parent", CGRectMake(0, 0, 50, 50));
    window->addSubview(parent);
    drainMainRunLoop();
    int before = parent->layouts;
    parent->setCenter({30, 30});
    drainMainRunLoop();
    EXPECT_EQ(parent->layouts, before);  // moving is not resizing
    parent->setBounds(CGRectMake(0, 0, 60, 60));
    drainMainRunLoop();
    EXPECT_EQ(parent->layouts, before + 1);
    parent->addSubview(make<UIView>());
    drainMainRunLoop();
    EXPECT_EQ(parent->layouts, before + 2);
}

TEST_F(CycleTest, ConstraintUpdatesAndEngineHooksComeBeforeLayoutSubviews) {
    auto view = make<Recorder>("v");
    window->addSubview(view);
    drainMainRunLoop();
    events.clear();
    auto token = UIView::addLayoutEngineHook([this](UIView& v) {
        if (dynamic_cast<Recorder*>(&v)) events.push_back("engine");
    });
    view->setNeedsUpdateConstraints();
    drainMainRunLoop();
    UIView::removeLayoutEngineHook(token);
    EXPECT_EQ(events, (std::vector<std::string>{"v:updateConstraints", "engine", "v:layout"}));
    events.clear();
    view->setNeedsLayout();
    drainMainRunLoop();
    EXPECT_EQ(events, (std::vector<std::string>{"v:layout"}));
}

TEST_F(CycleTest, SizeToFitKeepsTheOrigin) {
    auto view = make<Recorder>("v", CGRectMake(5, 6, 40, 10));
    view->sizeToFit();
    EXPECT_RECT(view->frame(), 5, 6, 20, 33);
    auto plain = make<UIView>(CGRectMake(1, 2, 3, 4));
    EXPECT_EQ(plain->sizeThatFits({100, 100}), CGSizeMake(3, 4));
}

TEST_F(CycleTest, ConstraintListKeepsOrderAndIgnoresDuplicates) {
    // The constraint layer's objects are opaque here; any object stands in.
    auto view = make<UIView>();
    auto a =
        std::shared_ptr<NSLayoutConstraint>(reinterpret_cast<NSLayoutConstraint*>(new int(1)),
                                            [](NSLayoutConstraint* p) { delete reinterpret_cast<int*>(p); });
    auto b =
        std::shared_ptr<NSLayoutConstraint>(reinterpret_cast<NSLayoutConstraint*>(new int(2)),
                                            [](NSLayoutConstraint* p) { delete reinterpret_cast<int*>(p); });
    view->addConstraint(a);
    view->addConstraints({b, a});
    ASSERT_EQ(view->constraints().size(), 2u);
    EXPECT_EQ(view->constraints()[0], a);
    view->removeConstraint(a);
    ASSERT_EQ(view->constraints().size(), 1u);
    EXPECT_EQ(view->constraints()[0], b);
    EXPECT_TRUE(view->translatesAutoresizingMaskIntoConstraints());
    EXPECT_EQ(view->intrinsicContentSize(), CGSizeMake(UIViewNoIntrinsicMetric, UIViewNoIntrinsicMetric));
}
