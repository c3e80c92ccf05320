#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSLog.h"
#include "uikit/NSLayoutConstraint.h"
#include "uikit/UILayoutSupport.h"
#include "uikit/UIView+Layout.h"
#include "uikit/UIView.h"

namespace {

using C = NSLayoutConstraint;

Ref<NSLayoutConstraint> pin(const Ref<UIView>& a, NSLayoutAttribute aa, const Ref<UIView>& b,
                            NSLayoutAttribute ba, CGFloat constant = 0, CGFloat multiplier = 1,
                            NSLayoutRelation relation = NSLayoutRelationEqual) {
    return C::constraintWithItem(a, aa, relation, b, ba, multiplier, constant);
}

Ref<NSLayoutConstraint> size(const Ref<UIView>& a, NSLayoutAttribute aa, CGFloat constant,
                             NSLayoutRelation relation = NSLayoutRelationEqual) {
    return C::constraintWithItem(a, aa, relation, nullptr, NSLayoutAttributeNotAnAttribute, 1, constant);
}

// Captures the console while alive.
class LogCapture {
  public:
    LogCapture() {
        previous_ = NSLogSetSink([this](const std::string& line) { lines.push_back(line); });
    }
    ~LogCapture() { NSLogSetSink(previous_); }
    bool contains(const std::string& text) const {
        for (const auto& l : lines) {
            if (l.find(text) != std::string::npos) return true;
        }
        return false;
    }
    std::vector<std::string> lines;

  private:
    NSLogSink previous_;
};

// A view whose content has a size, like a label.
class SizedView : public UIView {
  public:
    explicit SizedView(CGSize content) : content_(content) {}
    CGSize intrinsicContentSize() const override { return content_; }
    void setContent(CGSize content) {
        content_ = content;
        invalidateIntrinsicContentSize();
    }

  private:
    CGSize content_;
};

class LayoutConstraintTest : public ::testing::Test {
  protected:
    Ref<UIView> root = make<UIView>(CGRectMake(0, 0, 320, 480));

    Ref<UIView> child(const Ref<UIView>& parent, CGRect frame = CGRectZero, bool translates = false) {
        auto v = make<UIView>(frame);
        v->setTranslatesAutoresizingMaskIntoConstraints(translates);
        parent->addSubview(v);
        return v;
    }
};

void expectFrame(const Ref<UIView>& view, CGRect expected) {
    CGRect f = view->frame();
    EXPECT_NEAR(f.origin.x, expected.origin.x, 1e-6);
    EXPECT_NEAR(f.origin.y, expected.origin.y, 1e-6);
    EXPECT_NEAR(f.size.width, expected.size.width, 1e-6);
    EXPECT_NEAR(f.size.height, expected.size.height, 1e-6);
}

TEST_F(LayoutConstraintTest, EdgesWithInsets) {
    auto box = child(root);
    root->addConstraints({pin(box, NSLayoutAttributeLeft, root, NSLayoutAttributeLeft, 10),
                          pin(box, NSLayoutAttributeTop, root, NSLayoutAttributeTop, 20),
                          pin(box, NSLayoutAttributeRight, root, NSLayoutAttributeRight, -30),
                          pin(box, NSLayoutAttributeBottom, root, NSLayoutAttributeBottom, -40)});
    root->layoutIfNeeded();
    expectFrame(box, CGRectMake(10, 20, 280, 420));
}

TEST_F(LayoutConstraintTest, CentredFixedSize) {
    auto box = child(root);
    box->addConstraints({size(box, NSLayoutAttributeWidth, 100), size(box, NSLayoutAttributeHeight, 50)});
    root->addConstraints({pin(box, NSLayoutAttributeCenterX, root, NSLayoutAttributeCenterX),
                          pin(box, NSLayoutAttributeCenterY, root, NSLayoutAttributeCenterY, 10)});
    root->layoutIfNeeded();
    expectFrame(box, CGRectMake(110, 225, 100, 50));
}

TEST_F(LayoutConstraintTest, EqualWidthsSideBySide) {
    auto a = child(root), b = child(root);
    root->addConstraints({pin(a, NSLayoutAttributeLeading, root, NSLayoutAttributeLeading, 20),
                          pin(b, NSLayoutAttributeLeading, a, NSLayoutAttributeTrailing, 8),
                          pin(root, NSLayoutAttributeTrailing, b, NSLayoutAttributeTrailing, 20),
                          pin(a, NSLayoutAttributeWidth, b, NSLayoutAttributeWidth),
                          pin(a, NSLayoutAttributeTop, root, NSLayoutAttributeTop),
                          pin(b, NSLayoutAttributeTop, a, NSLayoutAttributeTop),
                          pin(a, NSLayoutAttributeHeight, a, NSLayoutAttributeWidth, 0, 0.5),
                          pin(b, NSLayoutAttributeHeight, a, NSLayoutAttributeHeight)});
    root->layoutIfNeeded();
    expectFrame(a, CGRectMake(20, 0, 136, 68));
    expectFrame(b, CGRectMake(164, 0, 136, 68));
}

// A tab indicator under a header that keeps its frame (autoresizing), twice the header's width.
TEST_F(LayoutConstraintTest, MultipliersAgainstAFrameLaidOutHeader) {
    auto header = child(root, CGRectMake(0, 20, 375, 44), true);
    auto indicator = child(header);
    header->addConstraints({pin(indicator, NSLayoutAttributeBottom, header, NSLayoutAttributeBottom, 1),
                            pin(indicator, NSLayoutAttributeLeft, header, NSLayoutAttributeLeft),
                            pin(indicator, NSLayoutAttributeHeight, header, NSLayoutAttributeHeight, 0, 0.13),
                            pin(indicator, NSLayoutAttributeWidth, header, NSLayoutAttributeWidth, 0, 2.0)});
    root->layoutIfNeeded();
    expectFrame(header, CGRectMake(0, 20, 375, 44));
    expectFrame(indicator, CGRectMake(0, 45 - 44 * 0.13, 750, 44 * 0.13));
}

TEST_F(LayoutConstraintTest, PositionMultiplierCountsInTheHoldersSpace) {
    auto panel = child(root, CGRectMake(100, 50, 200, 100), true);
    auto dot = child(panel);
    panel->addConstraints({pin(dot, NSLayoutAttributeCenterX, panel, NSLayoutAttributeCenterX, 0, 0.5),
                           pin(dot, NSLayoutAttributeTop, panel, NSLayoutAttributeTop)});
    dot->addConstraints({size(dot, NSLayoutAttributeWidth, 10), size(dot, NSLayoutAttributeHeight, 10)});
    root->layoutIfNeeded();
    expectFrame(dot, CGRectMake(45, 0, 10, 10));
}

TEST_F(LayoutConstraintTest, InequalitiesWithPriorities) {
    auto box = child(root);
    auto wish = size(box, NSLayoutAttributeWidth, 100);
    wish->setPriority(UILayoutPriorityDefaultHigh);
    box->addConstraints({size(box, NSLayoutAttributeWidth, 200, NSLayoutRelationGreaterThanOrEqual), wish,
                         size(box, NSLayoutAttributeHeight, 300, NSLayoutRelationLessThanOrEqual)});
    auto tall = size(box, NSLayoutAttributeHeight, 500);
    tall->setPriority(UILayoutPriorityDefaultLow);
    box->addConstraint(tall);
    root->addConstraints({pin(box, NSLayoutAttributeLeft, root, NSLayoutAttributeLeft),
                          pin(box, NSLayoutAttributeTop, root, NSLayoutAttributeTop)});
    root->layoutIfNeeded();
    expectFrame(box, CGRectMake(0, 0, 200, 300));
    // A required "at most 150" cannot hold with "at least 200": it is reported and left out.
    LogCapture log;
    box->addConstraint(size(box, NSLayoutAttributeWidth, 150, NSLayoutRelationLessThanOrEqual));
    root->layoutIfNeeded();
    expectFrame(box, CGRectMake(0, 0, 200, 300));
    EXPECT_TRUE(log.contains("Unable to simultaneously satisfy constraints"));
    EXPECT_EQ(UIView_Layout::conflictingConstraintCount(box), 1u);
}

TEST_F(LayoutConstraintTest, ChangingAConstantRelayouts) {
    auto box = child(root);
    auto left = pin(box, NSLayoutAttributeLeft, root, NSLayoutAttributeLeft, 10);
    root->addConstraints({left, pin(box, NSLayoutAttributeTop, root, NSLayoutAttributeTop, 10)});
    box->addConstraints({size(box, NSLayoutAttributeWidth, 50), size(box, NSLayoutAttributeHeight, 50)});
    root->layoutIfNeeded();
    expectFrame(box, CGRectMake(10, 10, 50, 50));
    left->setConstant(70);
    EXPECT_TRUE(root->needsLayout());
    root->layoutIfNeeded();
    expectFrame(box, CGRectMake(70, 10, 50, 50));
    left->setConstant(-5);
    root->layoutIfNeeded();
    expectFrame(box, CGRectMake(-5, 10, 50, 50));
}

TEST_F(LayoutConstraintTest, RemovingAConstraintRelayouts) {
    auto box = child(root);
    auto pinned = size(box, NSLayoutAttributeWidth, 40);
    auto loose = size(box, NSLayoutAttributeWidth, 90);
    loose->setPriority(500);
    box->addConstraints({pinned, loose, size(box, NSLayoutAttributeHeight, 10)});
    root->addConstraints({pin(box, NSLayoutAttributeLeft, root, NSLayoutAttributeLeft),
                          pin(box, NSLayoutAttributeTop, root, NSLayoutAttributeTop)});
    root->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(box->frame().size.width, 40);
    box->removeConstraint(pinned);
    root->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(box->frame().size.width, 90);
}

TEST_F(LayoutConstraintTest, ConflictResolvesWhenTheEarlierConstraintGoes) {
    LogCapture log;
    auto box = child(root);
    auto first = size(box, NSLayoutAttributeWidth, 10);
    auto second = size(box, NSLayoutAttributeWidth, 20);
    box->addConstraints({first, second, size(box, NSLayoutAttributeHeight, 5)});
    root->addConstraints({pin(box, NSLayoutAttributeLeft, root, NSLayoutAttributeLeft),
                          pin(box, NSLayoutAttributeTop, root, NSLayoutAttributeTop)});
    root->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(box->frame().size.width, 10);
    EXPECT_EQ(log.lines.size(), 1u);
    root->layoutIfNeeded();
    box->setNeedsLayout();
    root->layoutIfNeeded();
    EXPECT_EQ(log.lines.size(), 1u) << "a conflict is reported once";
    box->removeConstraint(first);
    root->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(box->frame().size.width, 20);
    EXPECT_EQ(UIView_Layout::conflictingConstraintCount(box), 0u);
}

TEST_F(LayoutConstraintTest, ViewsWithoutConstraintsKeepTheirFrames) {
    auto plain = child(root, CGRectMake(5, 6, 7, 8), true);
    auto nested = child(plain, CGRectMake(1, 2, 3, 4), true);
    auto box = child(root);
    root->addConstraints({pin(box, NSLayoutAttributeLeft, plain, NSLayoutAttributeRight, 2),
                          pin(box, NSLayoutAttributeTop, nested, NSLayoutAttributeBottom),
                          pin(box, NSLayoutAttributeWidth, plain, NSLayoutAttributeWidth),
                          pin(box, NSLayoutAttributeHeight, nested, NSLayoutAttributeHeight)});
    auto other = child(root, CGRectMake(100, 100, 10, 10), false);  // not named by any constraint
    root->layoutIfNeeded();
    expectFrame(plain, CGRectMake(5, 6, 7, 8));
    expectFrame(nested, CGRectMake(1, 2, 3, 4));
    expectFrame(other, CGRectMake(100, 100, 10, 10));
    // nested's bottom in root space: 6 + 2 + 4.
    expectFrame(box, CGRectMake(14, 12, 7, 4));
}

TEST_F(LayoutConstraintTest, AutoresizingChildFollowsAConstrainedParent) {
    auto panel = child(root);
    auto width = size(panel, NSLayoutAttributeWidth, 100);
    panel->addConstraints({width, size(panel, NSLayoutAttributeHeight, 100)});
    root->addConstraints({pin(panel, NSLayoutAttributeLeft, root, NSLayoutAttributeLeft),
                          pin(panel, NSLayoutAttributeTop, root, NSLayoutAttributeTop)});
    root->layoutIfNeeded();
    auto stretchy = child(panel, CGRectMake(10, 10, 80, 20), true);
    stretchy->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    auto badge = child(panel);
    panel->addConstraints({pin(badge, NSLayoutAttributeLeft, stretchy, NSLayoutAttributeRight),
                           pin(badge, NSLayoutAttributeTop, stretchy, NSLayoutAttributeBottom),
                           size(badge, NSLayoutAttributeWidth, 5), size(badge, NSLayoutAttributeHeight, 5)});
    root->layoutIfNeeded();
    expectFrame(badge, CGRectMake(90, 30, 5, 5));
    width->setConstant(200);
    root->layoutIfNeeded();
    expectFrame(stretchy, CGRectMake(10, 10, 180, 20));
    expectFrame(badge, CGRectMake(190, 30, 5, 5));
}

TEST_F(LayoutConstraintTest, IntrinsicSizeHuggingAndCompression) {
    auto label = make<SizedView>(CGSizeMake(120, 21));
    label->setTranslatesAutoresizingMaskIntoConstraints(false);
    root->addSubview(label);
    root->addConstraints({pin(label, NSLayoutAttributeLeft, root, NSLayoutAttributeLeft, 10),
                          pin(label, NSLayoutAttributeTop, root, NSLayoutAttributeTop, 10)});
    root->layoutIfNeeded();
    expectFrame(label, CGRectMake(10, 10, 120, 21));
    // A preference to be wider than the content loses to nothing but hugging (250 < 300 wins).
    auto wide = size(label, NSLayoutAttributeWidth, 200);
    wide->setPriority(300);
    label->addConstraint(wide);
    root->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(label->frame().size.width, 200);
    // A squeeze at 700 loses to compression resistance (750).
    auto narrow = size(label, NSLayoutAttributeWidth, 50, NSLayoutRelationLessThanOrEqual);
    narrow->setPriority(700);
    label->addConstraint(narrow);
    root->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(label->frame().size.width, 120);
    label->setContentCompressionResistancePriority(600, UILayoutConstraintAxisHorizontal);
    label->setNeedsLayout();
    root->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(label->frame().size.width, 50);
    // New content relayouts.
    label->removeConstraint(narrow);
    label->removeConstraint(wide);
    label->setContent(CGSizeMake(60, 30));
    root->layoutIfNeeded();
    expectFrame(label, CGRectMake(10, 10, 60, 30));
}

TEST_F(LayoutConstraintTest, LayoutGuidesFollowTheirLength) {
    auto controllerView = child(root, CGRectMake(0, 0, 320, 480), true);
    auto top = make<UILayoutSupport>(UILayoutSupport::Edge::Top, controllerView, 64);
    auto bottom = make<UILayoutSupport>(UILayoutSupport::Edge::Bottom, controllerView, 49);
    auto content = child(controllerView);
    controllerView->addConstraints(
        {C::constraintWithItem(content, NSLayoutAttributeTop, NSLayoutRelationEqual, top,
                               NSLayoutAttributeBottom, 1, 8),
         C::constraintWithItem(content, NSLayoutAttributeBottom, NSLayoutRelationEqual, bottom,
                               NSLayoutAttributeTop, 1, 0),
         pin(content, NSLayoutAttributeLeft, controllerView, NSLayoutAttributeLeft),
         pin(content, NSLayoutAttributeRight, controllerView, NSLayoutAttributeRight)});
    root->layoutIfNeeded();
    expectFrame(content, CGRectMake(0, 72, 320, 480 - 49 - 72));
    top->setLength(20);
    root->layoutIfNeeded();
    expectFrame(content, CGRectMake(0, 28, 320, 480 - 49 - 28));
    EXPECT_EQ(top->frameInOwner(), CGRectMake(0, 0, 320, 20));
    EXPECT_EQ(bottom->frameInOwner(), CGRectMake(0, 431, 320, 49));
}

TEST_F(LayoutConstraintTest, ActivationInstallsOnTheClosestCommonAncestor) {
    auto group = child(root, CGRectMake(0, 0, 100, 100), true);
    auto a = child(group), b = child(group);
    auto deep = child(b);
    auto c = pin(a, NSLayoutAttributeLeft, deep, NSLayoutAttributeRight);
    EXPECT_FALSE(c->isActive());
    c->setActive(true);
    EXPECT_TRUE(c->isActive());
    EXPECT_EQ(c->installedView(), group);
    ASSERT_EQ(group->constraints().size(), 1u);
    c->setActive(false);
    EXPECT_FALSE(c->isActive());
    EXPECT_TRUE(group->constraints().empty());

    auto width = size(a, NSLayoutAttributeWidth, 10);
    NSLayoutConstraint::activateConstraints({width, nullptr});
    EXPECT_EQ(width->installedView(), a);
    NSLayoutConstraint::deactivateConstraints({width});
    EXPECT_FALSE(width->isActive());

    // Views of two different trees have no common ancestor.
    LogCapture log;
    auto stranger = make<UIView>(CGRectMake(0, 0, 1, 1));
    auto across = pin(a, NSLayoutAttributeLeft, stranger, NSLayoutAttributeLeft);
    across->setActive(true);
    EXPECT_FALSE(across->isActive());
    EXPECT_TRUE(log.contains("no common ancestor"));
}

TEST_F(LayoutConstraintTest, ClosestCommonAncestor) {
    auto a = child(root), b = child(root);
    auto inner = child(a);
    EXPECT_EQ(C::closestCommonAncestor(a, a), a);
    EXPECT_EQ(C::closestCommonAncestor(a, inner), a);
    EXPECT_EQ(C::closestCommonAncestor(inner, b), root);
    EXPECT_EQ(C::closestCommonAncestor(inner, nullptr), inner);
    EXPECT_EQ(C::closestCommonAncestor(nullptr, a), nullptr);
    EXPECT_EQ(C::closestCommonAncestor(a, make<UIView>()), nullptr);
}

TEST_F(LayoutConstraintTest, ConstraintsNamingOutsideOrDeadItemsAreIgnored) {
    LogCapture log;
    auto box = child(root, CGRectMake(1, 2, 3, 4));
    auto outsider = make<UIView>(CGRectMake(0, 0, 50, 50));
    root->addConstraint(pin(box, NSLayoutAttributeWidth, outsider, NSLayoutAttributeWidth));
    root->layoutIfNeeded();
    EXPECT_TRUE(log.contains("outside the view tree"));
    expectFrame(box, CGRectMake(1, 2, 3, 4));

    auto gone = make<UIView>();
    root->addSubview(gone);
    auto c = pin(box, NSLayoutAttributeWidth, gone, NSLayoutAttributeWidth);
    root->addConstraint(c);
    gone->removeFromSuperview();
    gone.reset();
    EXPECT_EQ(c->secondItem(), nullptr);
    root->setNeedsLayout();
    root->layoutIfNeeded();
    expectFrame(box, CGRectMake(1, 2, 3, 4));

    // Nonsense numbers are refused, not solved.
    auto bad = pin(box, NSLayoutAttributeWidth, root, NSLayoutAttributeWidth, NAN);
    root->addConstraint(bad);
    root->addConstraint(C::constraintWithItem(box, NSLayoutAttributeNotAnAttribute, NSLayoutRelationEqual,
                                              root, NSLayoutAttributeWidth, 1, 0));
    root->addConstraint(C::constraintWithItem(box, NSLayoutAttributeWidth, static_cast<NSLayoutRelation>(7),
                                              root, NSLayoutAttributeWidth, 1, 0));
    root->layoutIfNeeded();
    EXPECT_TRUE(log.contains("takes no part in layout"));
    expectFrame(box, CGRectMake(1, 2, 3, 4));
}

TEST_F(LayoutConstraintTest, TransformIsKeptWhilePlaced) {
    auto box = child(root);
    box->setTransform(CGAffineTransformMakeRotation(M_PI / 2));
    box->addConstraints({size(box, NSLayoutAttributeWidth, 100), size(box, NSLayoutAttributeHeight, 20)});
    root->addConstraints({pin(box, NSLayoutAttributeCenterX, root, NSLayoutAttributeCenterX),
                          pin(box, NSLayoutAttributeCenterY, root, NSLayoutAttributeCenterY)});
    root->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(box->bounds().size.width, 100);
    EXPECT_DOUBLE_EQ(box->bounds().size.height, 20);
    EXPECT_DOUBLE_EQ(box->center().x, 160);
    EXPECT_DOUBLE_EQ(box->center().y, 240);
    EXPECT_NEAR(box->frame().size.width, 20, 1e-9);
}

TEST_F(LayoutConstraintTest, PositionWithoutSecondItemCountsInTheSuperview) {
    auto panel = child(root, CGRectMake(50, 60, 100, 100), true);
    auto box = child(panel);
    box->addConstraints({size(box, NSLayoutAttributeLeft, 7), size(box, NSLayoutAttributeTop, 9),
                         size(box, NSLayoutAttributeWidth, 1), size(box, NSLayoutAttributeHeight, 1)});
    root->layoutIfNeeded();
    expectFrame(box, CGRectMake(7, 9, 1, 1));
}

TEST_F(LayoutConstraintTest, DescriptionsAndHook) {
    auto a = make<UIView>(), b = make<UIView>();
    auto c = pin(a, NSLayoutAttributeLeft, b, NSLayoutAttributeRight, -8, 2);
    c->setPriority(750);
    std::string text = c->description();
    EXPECT_NE(text.find("<NSLayoutConstraint:0x"), std::string::npos) << text;
    EXPECT_NE(text.find(".left == 2*UIView:"), std::string::npos) << text;
    EXPECT_NE(text.find(".right - 8 @750>"), std::string::npos) << text;
    EXPECT_NE(size(a, NSLayoutAttributeWidth, 100)->description().find(".width == 100>"), std::string::npos);
    NSLayoutConstraint::setDescriptionHook(
        [](const NSLayoutConstraint& constraint) -> std::optional<std::string> {
            if (constraint.constant() == 1) return std::string("one");
            return std::nullopt;
        });
    EXPECT_EQ(size(a, NSLayoutAttributeWidth, 1)->description(), "one");
    EXPECT_NE(size(a, NSLayoutAttributeWidth, 2)->description(), "two");
    NSLayoutConstraint::setDescriptionHook({});
    EXPECT_NE(size(a, NSLayoutAttributeWidth, 1)->description(), "one");
}

TEST_F(LayoutConstraintTest, PropertiesAndObservation) {
    auto a = make<UIView>();
    auto c = size(a, NSLayoutAttributeHeight, 5);
    EXPECT_EQ(c->firstItem(), a);
    EXPECT_EQ(c->secondItem(), nullptr);
    EXPECT_EQ(c->firstAttribute(), NSLayoutAttributeHeight);
    EXPECT_EQ(c->secondAttribute(), NSLayoutAttributeNotAnAttribute);
    EXPECT_EQ(c->relation(), NSLayoutRelationEqual);
    EXPECT_EQ(c->multiplier(), 1);
    EXPECT_EQ(c->priority(), UILayoutPriorityRequired);
    EXPECT_FALSE(c->identifier().has_value());
    c->setIdentifier("cell-height");
    EXPECT_EQ(c->valueForKey("identifier").stringValue(), "cell-height");
    std::vector<double> seen;
    auto token = KVO::observe(*c, "constant", NSKeyValueObservingOptionNew,
                              [&](const Ref<NSObject>&, const Dictionary& change) {
                                  seen.push_back(change[NSKeyValueChangeNewKey].doubleValue());
                              });
    c->setConstant(12);
    c->setConstant(13.5);
    EXPECT_EQ(seen, (std::vector<double>{12, 13.5}));
    EXPECT_EQ(c->valueForKey("firstAttribute").integerValue(), NSLayoutAttributeHeight);
    EXPECT_FALSE(c->valueForKey("active").boolValue());
}

}  // namespace
