// The single-attribute constraint: targets, constants, installation, update, removal and
// (de)activation, and the refusals of what cannot be installed.

#include <gtest/gtest.h>

#include "ControlsTestSupport.h"
#include "controls/LKCompositeConstraint.h"
#include "controls/LKConstraintMaker.h"
#include "controls/LKViewConstraint.h"
#include "controls/UIView+LKAdditions.h"
#include "controls/UIView+LKConstraints.h"
#include "graphics/NSValue+Geometry.h"

using namespace UIView_LKAdditions;
using controlstest::LogCapture;
using controlstest::viewIn;

namespace {

class LKViewConstraintTest : public ::testing::Test {
  protected:
    Ref<LKViewConstraint> constraint(const Ref<UIView>& view, NSLayoutAttribute attribute) {
        return make<LKViewConstraint>(make<LKViewAttribute>(view, attribute));
    }
    std::size_t installedCount(const Ref<UIView>& view) {
        return UIView_LKConstraints::lk_installedConstraints(*view)->count();
    }

    Ref<UIView> parent = make<UIView>(CGRectMake(0, 0, 300, 300));
    Ref<UIView> view = viewIn(parent);
    Ref<UIView> sibling = viewIn(parent);
};

}  // namespace

TEST_F(LKViewConstraintTest, StartsWithRequiredPriorityUnitMultiplierAndNoRelation) {
    auto c = constraint(view, NSLayoutAttributeLeft);
    EXPECT_EQ(c->layoutPriority(), 1000.0f);
    EXPECT_EQ(c->layoutMultiplier(), 1.0);
    EXPECT_EQ(c->layoutConstant(), 0.0);
    EXPECT_EQ(c->layoutRelation(), NSLayoutRelationEqual);
    EXPECT_FALSE(c->hasLayoutRelation());
    EXPECT_EQ(c->secondViewAttribute(), nullptr);
    EXPECT_FALSE(c->hasBeenInstalled());
    EXPECT_TRUE(c->isActive());  // nothing to ask yet
}

TEST_F(LKViewConstraintTest, WidthEqualToANumberInstallsOnTheViewItself) {
    auto c = constraint(view, NSLayoutAttributeWidth);
    c->equalTo()(Value(100));
    c->install();
    ASSERT_EQ(view->constraints().size(), 1u);
    auto lc = view->constraints()[0];
    EXPECT_EQ(lc, c->layoutConstraint());
    EXPECT_TRUE(isKindOf<LKLayoutConstraint>(lc));
    EXPECT_EQ(lc->firstItem(), view);
    EXPECT_EQ(lc->firstAttribute(), NSLayoutAttributeWidth);
    EXPECT_EQ(lc->secondItem(), nullptr);
    EXPECT_EQ(lc->secondAttribute(), NSLayoutAttributeNotAnAttribute);
    EXPECT_EQ(lc->constant(), 100);
    EXPECT_EQ(c->installedView(), view);
    EXPECT_TRUE(c->hasBeenInstalled());
    EXPECT_EQ(installedCount(view), 1u);
}

TEST_F(LKViewConstraintTest, PositionWithOnlyAConstantRelatesToTheSuperview) {
    auto c = constraint(view, NSLayoutAttributeLeft);
    c->equalTo()(Value(10));
    c->install();
    ASSERT_EQ(parent->constraints().size(), 1u);
    auto lc = parent->constraints()[0];
    EXPECT_EQ(lc->secondItem(), parent);
    EXPECT_EQ(lc->secondAttribute(), NSLayoutAttributeLeft);
    EXPECT_EQ(lc->constant(), 10);
    EXPECT_EQ(c->installedView(), parent);
}

TEST_F(LKViewConstraintTest, SiblingTargetsInstallOnTheCommonParent) {
    auto c = constraint(view, NSLayoutAttributeLeft);
    c->equalTo()(Value(sibling));
    c->install();
    ASSERT_EQ(parent->constraints().size(), 1u);
    EXPECT_EQ(parent->constraints()[0]->secondItem(), sibling);
    EXPECT_EQ(parent->constraints()[0]->secondAttribute(), NSLayoutAttributeLeft);

    auto d = constraint(view, NSLayoutAttributeLeft);
    d->equalTo()(Value(lk_right(sibling)));
    d->install();
    ASSERT_EQ(parent->constraints().size(), 2u);
    EXPECT_EQ(parent->constraints()[1]->secondAttribute(), NSLayoutAttributeRight);
}

TEST_F(LKViewConstraintTest, InsetsApplyPerAttribute) {
    UIEdgeInsets insets = UIEdgeInsetsMake(1, 2, 8, 10);
    auto expectConstant = [&](NSLayoutAttribute attribute, double expected) {
        auto c = constraint(view, attribute);
        c->setLayoutConstant(77);
        c->setInsets(insets);
        EXPECT_EQ(c->layoutConstant(), expected) << "attribute " << attribute;
    };
    expectConstant(NSLayoutAttributeLeft, 2);
    expectConstant(NSLayoutAttributeLeading, 2);
    expectConstant(NSLayoutAttributeRight, -10);
    expectConstant(NSLayoutAttributeTrailing, -10);
    expectConstant(NSLayoutAttributeTop, 1);
    expectConstant(NSLayoutAttributeBottom, -8);
    expectConstant(NSLayoutAttributeWidth, 77);
    expectConstant(NSLayoutAttributeLeftMargin, 77);
    expectConstant(NSLayoutAttributeCenterX, 77);
}

TEST_F(LKViewConstraintTest, SizeAndCenterOffsetsApplyOnlyToTheirAttributes) {
    auto w = constraint(view, NSLayoutAttributeWidth);
    auto h = constraint(view, NSLayoutAttributeHeight);
    auto x = constraint(view, NSLayoutAttributeCenterX);
    auto y = constraint(view, NSLayoutAttributeCenterY);
    auto l = constraint(view, NSLayoutAttributeLeft);
    for (auto& c : {w, h, x, y, l}) {
        c->setSizeOffset(CGSizeMake(50, 60));
        c->setCenterOffset(CGPointMake(5, 6));
    }
    EXPECT_EQ(w->layoutConstant(), 50);
    EXPECT_EQ(h->layoutConstant(), 60);
    EXPECT_EQ(x->layoutConstant(), 5);
    EXPECT_EQ(y->layoutConstant(), 6);
    EXPECT_EQ(l->layoutConstant(), 0);
}

TEST_F(LKViewConstraintTest, MultiplierAndDivider) {
    auto c = constraint(view, NSLayoutAttributeWidth);
    EXPECT_EQ(c->dividedBy()(2), c);
    EXPECT_EQ(c->layoutMultiplier(), 0.5);
    c->multipliedBy()(3);
    EXPECT_EQ(c->layoutMultiplier(), 3);
    c->priority()(999);
    EXPECT_EQ(c->layoutPriority(), 999.0f);
}

TEST_F(LKViewConstraintTest, RelationSetAgainReplacesTheEarlierOne) {
    auto c = constraint(view, NSLayoutAttributeWidth);
    c->greaterThanOrEqualTo()(Value(10));
    EXPECT_EQ(c->layoutRelation(), NSLayoutRelationGreaterThanOrEqual);
    EXPECT_TRUE(c->hasLayoutRelation());
    c->lessThanOrEqualTo()(Value(20));
    EXPECT_EQ(c->layoutRelation(), NSLayoutRelationLessThanOrEqual);
    EXPECT_EQ(c->layoutConstant(), 20);
}

TEST_F(LKViewConstraintTest, UnsupportedTargetsAreIgnored) {
    auto c = constraint(view, NSLayoutAttributeLeft);
    c->equalTo()(Value("text"));
    c->equalTo()(Value(make<NSObject>()));
    c->equalTo()(Value(NSValue_Geometry::valueWithCGRect(CGRectMake(1, 1, 1, 1))));
    EXPECT_EQ(c->secondViewAttribute(), nullptr);
    EXPECT_EQ(c->layoutConstant(), 0);
}

TEST_F(LKViewConstraintTest, AConstantSetAfterInstallationMovesTheLayoutAtOnce) {
    view->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto c = constraint(view, NSLayoutAttributeWidth);
    c->equalTo()(Value(100));
    c->install();
    c->offset()(120);
    EXPECT_EQ(c->layoutConstraint()->constant(), 120);
    parent->layoutIfNeeded();
    EXPECT_EQ(view->frame().size.width, 120);
}

TEST_F(LKViewConstraintTest, InstallingTwiceDoesNothing) {
    auto c = constraint(view, NSLayoutAttributeWidth);
    c->equalTo()(Value(100));
    c->install();
    auto first = c->layoutConstraint();
    c->install();
    EXPECT_EQ(view->constraints().size(), 1u);
    EXPECT_EQ(c->layoutConstraint(), first);
}

TEST_F(LKViewConstraintTest, PriorityAndKeyReachThePlatformConstraint) {
    auto c = constraint(view, NSLayoutAttributeWidth);
    c->equalTo()(Value(100))->priorityHigh()();
    c->key()(Value("w"));
    c->install();
    EXPECT_EQ(c->layoutConstraint()->priority(), 750.0f);
    EXPECT_EQ(c->layoutConstraint()->lk_key().stringValue(), "w");
}

TEST_F(LKViewConstraintTest, UninstallRemovesEverythingAndAllowsANewInstall) {
    auto c = constraint(view, NSLayoutAttributeLeft);
    c->equalTo()(Value(sibling));
    c->install();
    auto first = c->layoutConstraint();
    c->uninstall();
    EXPECT_TRUE(parent->constraints().empty());
    EXPECT_EQ(c->layoutConstraint(), nullptr);
    EXPECT_EQ(c->installedView(), nullptr);
    EXPECT_EQ(installedCount(view), 0u);
    c->install();
    EXPECT_EQ(parent->constraints().size(), 1u);
    EXPECT_NE(c->layoutConstraint(), first);
    EXPECT_EQ(installedCount(view), 1u);
}

TEST_F(LKViewConstraintTest, DeactivateThenActivateReusesThePlatformConstraint) {
    auto c = constraint(view, NSLayoutAttributeLeft);
    c->equalTo()(Value(sibling));
    c->install();
    auto lc = c->layoutConstraint();
    c->deactivate();
    EXPECT_FALSE(lc->isActive());
    EXPECT_TRUE(parent->constraints().empty());
    EXPECT_EQ(installedCount(view), 0u);
    EXPECT_FALSE(c->hasBeenInstalled());
    EXPECT_EQ(c->layoutConstraint(), lc);
    c->activate();
    EXPECT_TRUE(lc->isActive());
    EXPECT_EQ(c->layoutConstraint(), lc);
    ASSERT_EQ(parent->constraints().size(), 1u);
    EXPECT_EQ(parent->constraints()[0], lc);
    EXPECT_EQ(installedCount(view), 1u);
    c->activate();  // already installed
    EXPECT_EQ(parent->constraints().size(), 1u);
}

TEST_F(LKViewConstraintTest, ActivateWithoutPlatformConstraintInstalls) {
    auto c = constraint(view, NSLayoutAttributeHeight);
    c->equalTo()(Value(40));
    c->activate();
    EXPECT_TRUE(c->hasBeenInstalled());
    EXPECT_EQ(view->constraints().size(), 1u);
    auto d = constraint(view, NSLayoutAttributeWidth);
    d->deactivate();  // nothing to deactivate: uninstall is harmless
    EXPECT_FALSE(d->hasBeenInstalled());
}

TEST_F(LKViewConstraintTest, CopiesKeepTheSettingsButNotTargetKeyOrInstallation) {
    auto maker = make<LKConstraintMaker>(view);
    auto c = asKind<LKViewConstraint>(maker->left());
    ASSERT_TRUE(c);
    c->greaterThanOrEqualTo()(Value(sibling))->offset()(5)->multipliedBy()(2)->priorityLow()();
    c->key()(Value("k"));
    c->setUpdateExisting(true);
    c->install();
    auto copy = c->copy();
    EXPECT_EQ(copy->firstViewAttribute(), c->firstViewAttribute());
    EXPECT_EQ(copy->layoutConstant(), 5);
    EXPECT_EQ(copy->layoutRelation(), NSLayoutRelationGreaterThanOrEqual);
    EXPECT_TRUE(copy->hasLayoutRelation());
    EXPECT_EQ(copy->layoutPriority(), 250.0f);
    EXPECT_EQ(copy->layoutMultiplier(), 2);
    EXPECT_EQ(copy->delegate(), c->delegate());
    EXPECT_EQ(copy->secondViewAttribute(), nullptr);
    EXPECT_TRUE(copy->lk_key().isNil());
    EXPECT_FALSE(copy->updateExisting());
    EXPECT_EQ(copy->layoutConstraint(), nullptr);
    EXPECT_FALSE(copy->hasBeenInstalled());
}

TEST_F(LKViewConstraintTest, UpdateReusesAMatchingBuilderConstraint) {
    auto c = constraint(view, NSLayoutAttributeLeft);
    c->equalTo()(Value(sibling))->offset()(10);
    c->install();
    auto lc = c->layoutConstraint();

    auto update = constraint(view, NSLayoutAttributeLeft);
    update->equalTo()(Value(sibling))->offset()(25);
    update->setUpdateExisting(true);
    update->install();
    EXPECT_EQ(parent->constraints().size(), 1u);
    EXPECT_EQ(update->layoutConstraint(), lc);
    EXPECT_EQ(lc->constant(), 25);
    // In force, but not a member of the set: the original constraint still is.
    EXPECT_EQ(installedCount(view), 1u);
    EXPECT_TRUE(UIView_LKConstraints::lk_installedConstraints(*view)->containsObject(c.get()));
}

TEST_F(LKViewConstraintTest, UpdateWithAnotherPriorityOrMultiplierAddsAConstraint) {
    auto c = constraint(view, NSLayoutAttributeLeft);
    c->equalTo()(Value(sibling));
    c->install();

    auto otherPriority = constraint(view, NSLayoutAttributeLeft);
    otherPriority->equalTo()(Value(sibling))->priority()(500);
    otherPriority->setUpdateExisting(true);
    otherPriority->install();
    EXPECT_EQ(parent->constraints().size(), 2u);

    auto otherMultiplier = constraint(view, NSLayoutAttributeLeft);
    otherMultiplier->equalTo()(Value(sibling))->multipliedBy()(2);
    otherMultiplier->setUpdateExisting(true);
    otherMultiplier->install();
    EXPECT_EQ(parent->constraints().size(), 3u);
}

TEST_F(LKViewConstraintTest, UpdateNeverReusesAConstraintMadeOutsideTheBuilder) {
    auto plain = NSLayoutConstraint::constraintWithItem(view, NSLayoutAttributeLeft, NSLayoutRelationEqual,
                                                        sibling, NSLayoutAttributeLeft, 1, 0);
    parent->addConstraint(plain);
    auto update = constraint(view, NSLayoutAttributeLeft);
    update->equalTo()(Value(sibling))->offset()(7);
    update->setUpdateExisting(true);
    update->install();
    EXPECT_EQ(parent->constraints().size(), 2u);
    EXPECT_EQ(plain->constant(), 0);
    EXPECT_NE(update->layoutConstraint(), plain);
}

TEST_F(LKViewConstraintTest, SimilarSearchPrefersTheNewestMatch) {
    auto a = constraint(view, NSLayoutAttributeLeft);
    a->equalTo()(Value(sibling));
    a->install();
    auto b = constraint(view, NSLayoutAttributeLeft);
    b->equalTo()(Value(sibling));
    b->install();
    auto probe = LKLayoutConstraint::constraintWithItem(view, NSLayoutAttributeLeft, NSLayoutRelationEqual,
                                                        sibling, NSLayoutAttributeLeft, 1, 99);
    EXPECT_EQ(b->layoutConstraintSimilarTo(probe), b->layoutConstraint());
    auto other = LKLayoutConstraint::constraintWithItem(view, NSLayoutAttributeLeft,
                                                        NSLayoutRelationGreaterThanOrEqual, sibling,
                                                        NSLayoutAttributeLeft, 1, 0);
    EXPECT_EQ(b->layoutConstraintSimilarTo(other), nullptr);
}

TEST_F(LKViewConstraintTest, ViewsWithoutCommonAncestorAreRefused) {
    LogCapture log;
    auto stranger = make<UIView>();
    auto c = constraint(view, NSLayoutAttributeLeft);
    c->equalTo()(Value(stranger));
    EXPECT_FALSE(c->installReportingSuccess());
    EXPECT_TRUE(log.contains("no common ancestor"));
    EXPECT_EQ(c->layoutConstraint(), nullptr);
    EXPECT_FALSE(c->hasBeenInstalled());
    EXPECT_EQ(installedCount(view), 0u);
    EXPECT_TRUE(parent->constraints().empty());
}

TEST_F(LKViewConstraintTest, PositionConstantWithoutSuperviewIsRefused) {
    LogCapture log;
    auto lonely = make<UIView>();
    auto c = constraint(lonely, NSLayoutAttributeTop);
    c->equalTo()(Value(8));
    c->install();
    EXPECT_TRUE(log.contains("needs a superview"));
    EXPECT_FALSE(c->hasBeenInstalled());
    EXPECT_TRUE(lonely->constraints().empty());
    EXPECT_EQ(installedCount(lonely), 0u);
    // A size needs no superview.
    auto w = constraint(lonely, NSLayoutAttributeWidth);
    w->equalTo()(Value(8));
    w->install();
    EXPECT_TRUE(w->hasBeenInstalled());
}

TEST_F(LKViewConstraintTest, InstalledSnapshotSurvivesUninstallingWhileWalking) {
    for (int i = 0; i < 3; ++i) {
        auto c = constraint(view, NSLayoutAttributeWidth);
        c->equalTo()(Value(10 + i));
        c->install();
    }
    auto snapshot = LKViewConstraint::installedConstraintsForView(view);
    ASSERT_EQ(snapshot.size(), 3u);
    for (const auto& c : snapshot) c->uninstall();
    EXPECT_EQ(installedCount(view), 0u);
    EXPECT_TRUE(view->constraints().empty());
    EXPECT_TRUE(LKViewConstraint::installedConstraintsForView(nullptr).empty());
}

TEST_F(LKViewConstraintTest, ArrayTargetsBecomeACompositeInTheDelegatesList) {
    auto maker = make<LKConstraintMaker>(view);
    auto c = maker->left();
    auto other = viewIn(parent);
    auto result = c->greaterThanOrEqualTo()(Value(Array{Value(sibling), Value(other)}));
    auto composite = asKind<LKCompositeConstraint>(result);
    ASSERT_TRUE(composite);
    ASSERT_EQ(maker->constraints().size(), 1u);
    EXPECT_EQ(maker->constraints()[0], composite);
    ASSERT_EQ(composite->childConstraints().size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        auto child = asKind<LKViewConstraint>(composite->childConstraints()[i]);
        ASSERT_TRUE(child);
        EXPECT_NE(child, c);
        EXPECT_EQ(child->layoutRelation(), NSLayoutRelationGreaterThanOrEqual);
        EXPECT_EQ(child->secondViewAttribute()->view(), i == 0 ? sibling : other);
        EXPECT_EQ(child->delegate().get(), static_cast<LKConstraintDelegate*>(composite.get()));
    }
    EXPECT_EQ(composite->delegate().get(), static_cast<LKConstraintDelegate*>(maker.get()));
}
