// The view tree: adding, moving and removing views, the hooks and their order, the layer tree
// that mirrors the views, tags, tint and first responders.

#include <string>
#include <vector>

#include "UIKitTestSupport.h"
#include "uikit/UIView.h"
#include "uikit/UIWindow.h"

using uikittest::UIKitTest;

namespace {

std::vector<std::string>* gLog = nullptr;

// Logs every hook as "<name>:<hook>".
class LoggingView : public UIView {
  public:
    explicit LoggingView(std::string name, CGRect frame = CGRectZero)
        : UIView(frame), name_(std::move(name)) {}
    void willMoveToSuperview(const Ref<UIView>& s) override {
        log(s ? "willMoveToSuperview" : "willMoveToSuperview(nil)");
    }
    void didMoveToSuperview() override { log("didMoveToSuperview"); }
    void willMoveToWindow(const Ref<UIWindow>& w) override {
        log(w ? "willMoveToWindow" : "willMoveToWindow(nil)");
    }
    void didMoveToWindow() override { log("didMoveToWindow"); }
    void didAddSubview(const Ref<UIView>& v) override { log("didAddSubview"); }
    void willRemoveSubview(const Ref<UIView>& v) override { log("willRemoveSubview"); }
    void tintColorDidChange() override { log("tintColorDidChange"); }

  private:
    void log(const std::string& hook) {
        if (gLog) gLog->push_back(name_ + ":" + hook);
    }
    std::string name_;
};

class HierarchyTest : public UIKitTest {
  protected:
    void SetUp() override {
        UIKitTest::SetUp();
        gLog = &log;
    }
    void TearDown() override {
        gLog = nullptr;
        UIKitTest::TearDown();
    }
    std::vector<std::string> log;
};

std::vector<UIView*> pointers(const std::vector<Ref<UIView>>& views) {
    std::vector<UIView*> out;
    for (auto& v : views) out.push_back(v.get());
    return out;
}

}  // namespace

TEST_F(HierarchyTest, HooksRunInOrderWhenAViewJoinsAWindow) {
    auto window = make<UIWindow>(CGRectMake(0, 0, 100, 100));
    auto parent = make<LoggingView>("parent");
    window->addSubview(parent);
    auto child = make<LoggingView>("child");
    auto grandchild = make<LoggingView>("grandchild");
    child->addSubview(grandchild);
    log.clear();
    parent->addSubview(child);
    std::vector<std::string> expected{
        "child:willMoveToSuperview", "child:willMoveToWindow",     "grandchild:willMoveToWindow",
        "child:didMoveToWindow",     "grandchild:didMoveToWindow", "child:didMoveToSuperview",
        "parent:didAddSubview",      "child:tintColorDidChange",   "grandchild:tintColorDidChange",
    };
    EXPECT_EQ(log, expected);
    EXPECT_EQ(grandchild->window(), window);
}

TEST_F(HierarchyTest, RemovalRunsTheHooksWithNil) {
    auto window = make<UIWindow>(CGRectMake(0, 0, 100, 100));
    auto parent = make<LoggingView>("parent");
    auto child = make<LoggingView>("child");
    window->addSubview(parent);
    parent->addSubview(child);
    log.clear();
    child->removeFromSuperview();
    std::vector<std::string> expected{"parent:willRemoveSubview", "child:willMoveToSuperview(nil)",
                                      "child:willMoveToWindow(nil)", "child:didMoveToWindow",
                                      "child:didMoveToSuperview"};
    EXPECT_EQ(log, expected);
    EXPECT_EQ(child->superview(), nullptr);
    EXPECT_EQ(child->window(), nullptr);
    EXPECT_EQ(child->layer()->superlayer(), nullptr);
    // A second removal does nothing.
    log.clear();
    child->removeFromSuperview();
    EXPECT_TRUE(log.empty());
}

TEST_F(HierarchyTest, AddingMovesAViewFromItsOldSuperview) {
    auto a = make<LoggingView>("a");
    auto b = make<LoggingView>("b");
    auto v = make<LoggingView>("v");
    a->addSubview(v);
    log.clear();
    b->addSubview(v);
    EXPECT_TRUE(a->subviews().empty());
    EXPECT_EQ(pointers(b->subviews()), std::vector<UIView*>{v.get()});
    EXPECT_EQ(v->layer()->superlayer(), b->layer());
    EXPECT_TRUE(a->layer()->sublayers().empty());
    std::vector<std::string> expected{"v:willMoveToSuperview", "a:willRemoveSubview", "v:didMoveToSuperview",
                                      "b:didAddSubview", "v:tintColorDidChange"};
    EXPECT_EQ(log, expected);
}

TEST_F(HierarchyTest, CyclesAreRefused) {
    auto a = make<UIView>();
    auto b = make<UIView>();
    a->addSubview(b);
    b->addSubview(a);
    a->addSubview(a);
    EXPECT_EQ(a->superview(), nullptr);
    EXPECT_EQ(b->superview(), a);
    EXPECT_TRUE(b->subviews().empty());
}

TEST_F(HierarchyTest, OrderingOperationsKeepTheLayersInStep) {
    auto parent = make<UIView>();
    auto free = make<CALayer>();
    parent->layer()->addSublayer(free);  // a layer of the parent's own, below the subviews
    auto a = make<UIView>(), b = make<UIView>(), c = make<UIView>(), d = make<UIView>();
    parent->addSubview(a);
    parent->addSubview(c);
    parent->insertSubviewBelow(b, c);
    parent->insertSubviewAtIndex(d, 0);
    EXPECT_EQ(pointers(parent->subviews()), (std::vector<UIView*>{d.get(), a.get(), b.get(), c.get()}));
    parent->bringSubviewToFront(d);
    parent->sendSubviewToBack(c);
    EXPECT_EQ(pointers(parent->subviews()), (std::vector<UIView*>{c.get(), a.get(), b.get(), d.get()}));
    parent->exchangeSubviewAtIndex(0, 3);
    EXPECT_EQ(pointers(parent->subviews()), (std::vector<UIView*>{d.get(), a.get(), b.get(), c.get()}));
    parent->insertSubviewAbove(a, c);
    EXPECT_EQ(pointers(parent->subviews()), (std::vector<UIView*>{d.get(), b.get(), c.get(), a.get()}));
    // The view layers keep the view order; the free layer keeps its place at the back.
    std::vector<CALayer*> viewLayers;
    for (auto& l : parent->layer()->sublayers()) {
        if (l != free) viewLayers.push_back(l.get());
    }
    EXPECT_EQ(viewLayers, (std::vector<CALayer*>{d->layer().get(), b->layer().get(), c->layer().get(),
                                                 a->layer().get()}));
    EXPECT_EQ(parent->layer()->sublayers().front(), free);
    // Out-of-range requests do nothing.
    parent->exchangeSubviewAtIndex(0, 9);
    parent->bringSubviewToFront(make<UIView>());
    EXPECT_EQ(parent->subviews().size(), 4u);
}

TEST_F(HierarchyTest, TagsDescendantsAndTint) {
    auto root = make<UIView>();
    auto a = make<UIView>(), b = make<UIView>();
    root->addSubview(a);
    a->addSubview(b);
    b->setTag(7);
    EXPECT_EQ(root->viewWithTag(7), b);
    EXPECT_EQ(root->viewWithTag(8), nullptr);
    EXPECT_EQ(root->viewWithTag(0), root);  // every view starts with tag 0
    EXPECT_TRUE(b->isDescendantOfView(root));
    EXPECT_TRUE(b->isDescendantOfView(b));
    EXPECT_FALSE(root->isDescendantOfView(b));
    EXPECT_FALSE(b->isDescendantOfView(Ref<UIView>()));

    auto red = UIColor::redColor();
    root->setTintColor(red);
    EXPECT_EQ(b->tintColor(), red);
    auto blue = UIColor::blueColor();
    a->setTintColor(blue);
    EXPECT_EQ(b->tintColor(), blue);
    a->setTintColor(nullptr);
    EXPECT_EQ(b->tintColor(), red);
}

TEST_F(HierarchyTest, ASuperviewGoingAwayLeavesItsSubviewsDetached) {
    auto child = make<UIView>();
    {
        auto parent = make<UIView>();
        parent->addSubview(child);
    }
    EXPECT_EQ(child->superview(), nullptr);
    EXPECT_EQ(child->layer()->superlayer(), nullptr);
}

TEST_F(HierarchyTest, ResponderChainRunsThroughControllerSuperviewWindowAndApplication) {
    auto window = make<UIWindow>(CGRectMake(0, 0, 100, 100));
    auto parent = make<UIView>();
    auto child = make<UIView>();
    window->addSubview(parent);
    parent->addSubview(child);
    EXPECT_EQ(child->nextResponder(), parent);
    auto controller = make<UIResponder>();
    child->setViewControllerForResponderChain(controller);
    EXPECT_EQ(child->nextResponder(), controller);
    EXPECT_EQ(parent->nextResponder(), window);
    EXPECT_EQ(window->nextResponder(), UIApplication::sharedApplication());
    controller.reset();  // held weakly
    EXPECT_EQ(child->nextResponder(), parent);
}

namespace {
class Field : public UIView {
  public:
    bool refuseResign = false;
    bool canBecomeFirstResponder() const override { return true; }
    bool canResignFirstResponder() const override { return !refuseResign; }
};
}  // namespace

TEST_F(HierarchyTest, OneFirstResponderPerWindow) {
    auto window = make<UIWindow>(CGRectMake(0, 0, 100, 100));
    auto other = make<UIWindow>(CGRectMake(0, 0, 100, 100));
    auto a = make<Field>(), b = make<Field>(), c = make<Field>();
    auto plain = make<UIView>();
    window->addSubview(a);
    window->addSubview(b);
    window->addSubview(plain);
    other->addSubview(c);

    EXPECT_FALSE(plain->becomeFirstResponder());
    EXPECT_TRUE(a->becomeFirstResponder());
    EXPECT_TRUE(c->becomeFirstResponder());
    EXPECT_TRUE(a->isFirstResponder());
    EXPECT_TRUE(c->isFirstResponder());
    EXPECT_TRUE(b->becomeFirstResponder());
    EXPECT_FALSE(a->isFirstResponder());
    EXPECT_EQ(window->firstResponder(), b);

    b->refuseResign = true;
    EXPECT_FALSE(a->becomeFirstResponder());
    EXPECT_FALSE(window->endEditing(false));
    EXPECT_TRUE(b->isFirstResponder());
    EXPECT_TRUE(window->endEditing(true));
    EXPECT_EQ(window->firstResponder(), nullptr);

    // Outside a window nothing becomes first responder; leaving the window resigns.
    auto loose = make<Field>();
    EXPECT_FALSE(loose->becomeFirstResponder());
    EXPECT_TRUE(a->becomeFirstResponder());
    a->removeFromSuperview();
    EXPECT_FALSE(a->isFirstResponder());
    EXPECT_EQ(window->firstResponder(), nullptr);
    // Hiding resigns too.
    b->refuseResign = false;
    EXPECT_TRUE(b->becomeFirstResponder());
    b->setHidden(true);
    EXPECT_FALSE(b->isFirstResponder());
}
