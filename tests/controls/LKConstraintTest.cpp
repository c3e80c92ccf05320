// The abstract constraint, view attributes and the view and controller additions.

#include <gtest/gtest.h>

#include "ControlsTestSupport.h"
#include "controls/LKConstraint.h"
#include "controls/LKViewAttribute.h"
#include "controls/LKViewConstraint.h"
#include "controls/UIView+LKAdditions.h"
#include "controls/UIView+LKConstraints.h"
#include "controls/UIViewController+LKAdditions.h"
#include "foundation/NSException.h"
#include "graphics/NSValue+Geometry.h"
#include "uikit/UILayoutSupport.h"
#include "uikit/UIViewController.h"
#include "uikit/UIWindow.h"

using namespace UIView_LKAdditions;
using controlstest::viewIn;

namespace {

// Records what the base class's typing rule hands to each setter.
class RecordingConstraint : public LKConstraint {
  public:
    void setInsets(UIEdgeInsets insets) override {
        calls.push_back("insets " + NSStringFromUIEdgeInsets(insets));
    }
    void setSizeOffset(CGSize size) override { calls.push_back("size " + NSStringFromCGSize(size)); }
    void setCenterOffset(CGPoint point) override { calls.push_back("center " + NSStringFromCGPoint(point)); }
    void setOffset(CGFloat offset) override { calls.push_back("offset " + std::to_string(int(offset))); }
    PriorityBlock priority() override {
        auto self = selfAs<RecordingConstraint>();
        return [self](float p) -> Ref<LKConstraint> {
            self->lastPriority = p;
            return self;
        };
    }
    RelationBlock equalToWithRelation() override {
        auto self = selfAs<RecordingConstraint>();
        return [self](const Value& target, NSLayoutRelation relation) -> Ref<LKConstraint> {
            self->relations.push_back(relation);
            self->targets.push_back(target);
            return self;
        };
    }
    std::vector<std::string> calls;
    std::vector<NSLayoutRelation> relations;
    std::vector<Value> targets;
    float lastPriority = -1;
};

std::string reasonOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const NSException& e) {
        EXPECT_EQ(e.name(), NSInternalInconsistencyException);
        EXPECT_TRUE(e.userInfo().empty());
        return e.reason();
    }
    return "(no exception)";
}

}  // namespace

TEST(LKConstraintTest, BaseClassOperationsRaiseNamingTheOperation) {
    auto c = make<LKConstraint>();
    EXPECT_EQ(reasonOf([&] { c->multipliedBy(); }), "You must override multipliedBy in a subclass.");
    EXPECT_EQ(reasonOf([&] { c->dividedBy(); }), "You must override dividedBy in a subclass.");
    EXPECT_EQ(reasonOf([&] { c->priority(); }), "You must override priority in a subclass.");
    EXPECT_EQ(reasonOf([&] { c->equalToWithRelation(); }),
              "You must override equalToWithRelation in a subclass.");
    EXPECT_EQ(reasonOf([&] { c->key(); }), "You must override key in a subclass.");
    EXPECT_EQ(reasonOf([&] { c->setInsets({}); }), "You must override setInsets: in a subclass.");
    EXPECT_EQ(reasonOf([&] { c->setSizeOffset({}); }), "You must override setSizeOffset: in a subclass.");
    EXPECT_EQ(reasonOf([&] { c->setCenterOffset({}); }), "You must override setCenterOffset: in a subclass.");
    EXPECT_EQ(reasonOf([&] { c->setOffset(1); }), "You must override setOffset: in a subclass.");
    EXPECT_EQ(reasonOf([&] { c->activate(); }), "You must override activate in a subclass.");
    EXPECT_EQ(reasonOf([&] { c->deactivate(); }), "You must override deactivate in a subclass.");
    EXPECT_EQ(reasonOf([&] { c->install(); }), "You must override install in a subclass.");
    EXPECT_EQ(reasonOf([&] { c->uninstall(); }), "You must override uninstall in a subclass.");
    EXPECT_EQ(reasonOf([&] { c->left(); }),
              "You must override addConstraintWithLayoutAttribute: in a subclass.");
    // A relation on the base class reaches the missing relation operation when invoked.
    auto equal = c->equalTo();
    EXPECT_EQ(reasonOf([&] { equal(Value(1)); }), "You must override equalToWithRelation in a subclass.");
}

TEST(LKConstraintTest, RelationCallbacksPassTheirRelation) {
    auto c = make<RecordingConstraint>();
    auto view = make<UIView>();
    EXPECT_EQ(c->equalTo()(Value(view)), c);
    c->lk_equalTo()(Value(1));
    c->greaterThanOrEqualTo()(Value(2));
    c->lk_greaterThanOrEqualTo()(Value(3));
    c->lessThanOrEqualTo()(Value(4));
    c->lk_lessThanOrEqualTo()(Value(5));
    EXPECT_EQ(c->relations, (std::vector<NSLayoutRelation>{
                                NSLayoutRelationEqual, NSLayoutRelationEqual,
                                NSLayoutRelationGreaterThanOrEqual, NSLayoutRelationGreaterThanOrEqual,
                                NSLayoutRelationLessThanOrEqual, NSLayoutRelationLessThanOrEqual}));
    EXPECT_EQ(c->targets[0].object(), view);
    EXPECT_EQ(c->targets[5].intValue(), 5);
}

TEST(LKConstraintTest, PriorityWordsAndTheLastOneWins) {
    auto c = make<RecordingConstraint>();
    EXPECT_EQ(c->priorityHigh()(), c);
    EXPECT_EQ(c->lastPriority, 750);
    EXPECT_EQ(c->priorityMedium()(), c);
    EXPECT_EQ(c->lastPriority, 500);
    EXPECT_EQ(c->priorityLow()(), c);
    EXPECT_EQ(c->lastPriority, 250);
}

TEST(LKConstraintTest, ConstantCallbacksUseTheSetters) {
    auto c = make<RecordingConstraint>();
    EXPECT_EQ(c->insets()(UIEdgeInsetsMake(1, 2, 3, 4)), c);
    EXPECT_EQ(c->sizeOffset()(CGSizeMake(5, 6)), c);
    EXPECT_EQ(c->centerOffset()(CGPointMake(7, 8)), c);
    EXPECT_EQ(c->offset()(9), c);
    ASSERT_EQ(c->calls.size(), 4u);
    EXPECT_EQ(c->calls[0], "insets {1, 2, 3, 4}");
    EXPECT_EQ(c->calls[1], "size {5, 6}");
    EXPECT_EQ(c->calls[2], "center {7, 8}");
    EXPECT_EQ(c->calls[3], "offset 9");
}

TEST(LKConstraintTest, BoxedValuesAreTypedByTheirEncoding) {
    auto c = make<RecordingConstraint>();
    c->setLayoutConstantWithValue(Value(5));
    c->setLayoutConstantWithValue(Value(NSValue_Geometry::valueWithCGPoint(CGPointMake(1, 2))));
    c->setLayoutConstantWithValue(Value(NSValue_Geometry::valueWithCGSize(CGSizeMake(3, 4))));
    c->valueOffset()(Value(NSValue_Geometry::valueWithUIEdgeInsets(UIEdgeInsetsMake(1, 1, 1, 1))));
    ASSERT_EQ(c->calls.size(), 4u);
    EXPECT_EQ(c->calls[0], "offset 5");
    EXPECT_EQ(c->calls[1], "center {1, 2}");
    EXPECT_EQ(c->calls[2], "size {3, 4}");
    EXPECT_EQ(c->calls[3], "insets {1, 1, 1, 1}");
}

TEST(LKConstraintTest, UnsupportedBoxesAreIgnored) {
    auto c = make<RecordingConstraint>();
    c->setLayoutConstantWithValue(Value(NSValue_Geometry::valueWithCGRect(CGRectMake(1, 2, 3, 4))));
    c->setLayoutConstantWithValue(Value("10"));
    c->setLayoutConstantWithValue(Value());
    c->setLayoutConstantWithValue(Value(make<UIView>()));
    EXPECT_TRUE(c->calls.empty());
}

TEST(LKViewAttributeTest, EqualityComparesViewAndAttributeNotItem) {
    auto view = make<UIView>();
    auto other = make<UIView>();
    auto guide = make<UILayoutSupport>(UILayoutSupport::Edge::Top, view);
    auto a = lk_left(view);
    auto b = lk_attribute(view)(NSLayoutAttributeLeft);
    auto viaGuide = make<LKViewAttribute>(view, guide, NSLayoutAttributeLeft);
    EXPECT_NE(a, b);
    EXPECT_TRUE(a->isEqual(*b));
    EXPECT_EQ(a->hash(), b->hash());
    EXPECT_TRUE(a->isEqual(*viaGuide));
    EXPECT_FALSE(a->isEqual(*lk_right(view)));
    EXPECT_FALSE(a->isEqual(*lk_left(other)));
    EXPECT_FALSE(a->isEqual(*view));  // another kind of object: identity
    EXPECT_TRUE(a->isEqual(*a));
}

TEST(LKViewAttributeTest, HashSwapsTheViewHashHalves) {
    auto view = make<UIView>();
    std::uint64_t h = view->hash();
    std::uint64_t rotated = (h << 32) | (h >> 32);
    EXPECT_EQ(lk_width(view)->hash(), static_cast<std::size_t>(rotated ^ 7u));
    EXPECT_EQ(lk_height(view)->hash(), static_cast<std::size_t>(rotated ^ 8u));
}

TEST(LKViewAttributeTest, EqualHashesOfDifferentViewsStillCompareUnequal) {
    auto v1 = make<UIView>();
    auto v2 = make<UIView>();
    // Pick attributes whose numbers make the hashes collide: h1 ^ a1 == h2 ^ a2.
    std::uint64_t h1 = v1->hash(), h2 = v2->hash();
    std::uint64_t r1 = (h1 << 32) | (h1 >> 32), r2 = (h2 << 32) | (h2 >> 32);
    std::uint64_t diff = r1 ^ r2;
    auto a1 = make<LKViewAttribute>(v1, NSLayoutAttribute(0));
    auto a2 = make<LKViewAttribute>(v2, NSLayoutAttribute(diff));
    EXPECT_EQ(a1->hash(), a2->hash());
    EXPECT_FALSE(a1->isEqual(*a2));
}

TEST(LKViewAttributeTest, TheViewIsHeldWeakly) {
    Ref<LKViewAttribute> attribute;
    {
        auto view = make<UIView>();
        attribute = lk_left(view);
    }
    EXPECT_EQ(attribute->view(), nullptr);
    EXPECT_EQ(attribute->item(), nullptr);
}

TEST(LKViewAdditionsTest, LayoutGuidesGiveTheGuideEdgeTowardsTheContent) {
    auto controller = make<UIViewController>();
    auto top = UIViewController_LKAdditions::lk_topLayoutGuide(controller);
    auto bottom = UIViewController_LKAdditions::lk_bottomLayoutGuide(controller);
    EXPECT_EQ(top->layoutAttribute(), NSLayoutAttributeBottom);
    EXPECT_EQ(bottom->layoutAttribute(), NSLayoutAttributeTop);
    EXPECT_EQ(top->view(), controller->view());
    EXPECT_EQ(top->item(), controller->topLayoutGuide());
    EXPECT_EQ(bottom->item(), controller->bottomLayoutGuide());
}

TEST(LKViewAdditionsTest, ClosestCommonSuperview) {
    auto root = make<UIView>();
    auto a = viewIn(root);
    auto a1 = viewIn(a);
    auto a11 = viewIn(a1);
    auto b = viewIn(root);
    auto b1 = viewIn(b);
    EXPECT_EQ(lk_closestCommonSuperview(a, a), a);
    EXPECT_EQ(lk_closestCommonSuperview(a, a1), a);
    EXPECT_EQ(lk_closestCommonSuperview(a1, a), a);
    EXPECT_EQ(lk_closestCommonSuperview(a11, b1), root);
    EXPECT_EQ(lk_closestCommonSuperview(a11, a1), a1);
    EXPECT_EQ(lk_closestCommonSuperview(a, nullptr), nullptr);
    auto window1 = make<UIWindow>(CGRectMake(0, 0, 100, 100));
    auto window2 = make<UIWindow>(CGRectMake(0, 0, 100, 100));
    auto inOne = viewIn(window1);
    auto inTwo = viewIn(window2);
    EXPECT_EQ(lk_closestCommonSuperview(inOne, inTwo), nullptr);
}

TEST(LKViewAdditionsTest, InstalledConstraintSetIsOnePerViewAndStartsEmpty) {
    auto view = make<UIView>();
    auto other = make<UIView>();
    auto set = UIView_LKConstraints::lk_installedConstraints(*view);
    EXPECT_EQ(set->count(), 0u);
    EXPECT_EQ(UIView_LKConstraints::lk_installedConstraints(*view), set);
    EXPECT_NE(UIView_LKConstraints::lk_installedConstraints(*other), set);
}
