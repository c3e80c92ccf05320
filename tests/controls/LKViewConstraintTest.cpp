// The single-attribute constraint: targets, constants, installation, update, removal and
// (de)activation, and the refusals of what cannot be installed.

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

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
    // A constraint of the view's attribute equal to the target, plus the offset, installed.
    Ref<LKViewConstraint> installed(const Ref<UIView>& v, NSLayoutAttribute attribute, Value target,
                                    CGFloat offset = 0) {
        auto c = constraint(v, attribute);
        auto set = c->equalTo()(std::move(target));
        if (offset != 0) set->offset()(offset);
        c->install();
        return c;
    }
    // The same, updating a similar constraint installed before.
    Ref<LKViewConstraint> updating(const std::function<void(const Ref<LKViewConstraint>&)>& set) {
        auto c = constraint(view, NSLayoutAttributeLeft);
        set(c);
        c->setUpdateExisting(true);
        c->install();
        return c;
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
    EXPECT_EQ(
        std::tuple(c->layoutPriority(), c->layoutMultiplier(), c->layoutConstant(), c->layoutRelation()),
        std::tuple(1000.0f, 1.0, 0.0, NSLayoutRelationEqual));
    EXPECT_FALSE(c->hasLayoutRelation());
    EXPECT_EQ(c->secondViewAttribute(), nullptr);
    EXPECT_FALSE(c->hasBeenInstalled());
    EXPECT_TRUE(c->isActive());  // nothing to ask yet
}

TEST_F(LKViewConstraintTest, TargetsChooseWhereTheConstraintIsInstalled) {
    // A size equal to a number installs on the view itself.
    auto c = installed(view, NSLayoutAttributeWidth, Value(100));
    ASSERT_EQ(view->constraints().size(), 1u);
    auto lc = view->constraints()[0];
    EXPECT_EQ(lc, c->layoutConstraint());
    EXPECT_TRUE(isKindOf<LKLayoutConstraint>(lc));
    EXPECT_EQ(std::tuple(lc->firstItem(), lc->firstAttribute(), lc->secondItem(), lc->secondAttribute()),
              std::tuple(view, NSLayoutAttributeWidth, Ref<UIView>(), NSLayoutAttributeNotAnAttribute));
    EXPECT_EQ(lc->constant(), 100);
    EXPECT_EQ(c->installedView(), view);
    EXPECT_TRUE(c->hasBeenInstalled());
    EXPECT_EQ(installedCount(view), 1u);

    // A position with only a constant relates to the superview.
    c = installed(view, NSLayoutAttributeLeft, Value(10));
    ASSERT_EQ(parent->constraints().size(), 1u);
    lc = parent->constraints()[0];
    EXPECT_EQ(std::tuple(lc->secondItem(), lc->secondAttribute(), lc->constant()),
              std::tuple(parent, NSLayoutAttributeLeft, 10.0));
    EXPECT_EQ(c->installedView(), parent);

    // Sibling targets (a view or one of its attributes) install on the common parent.
    installed(view, NSLayoutAttributeLeft, Value(sibling));
    installed(view, NSLayoutAttributeLeft, Value(lk_right(sibling)));
    ASSERT_EQ(parent->constraints().size(), 3u);
    EXPECT_EQ(parent->constraints()[1]->secondItem(), sibling);
    EXPECT_EQ(parent->constraints()[1]->secondAttribute(), NSLayoutAttributeLeft);
    EXPECT_EQ(parent->constraints()[2]->secondAttribute(), NSLayoutAttributeRight);
}

TEST_F(LKViewConstraintTest, InsetsSizeAndCenterOffsetsApplyPerAttribute) {
    const struct {
        NSLayoutAttribute attribute;
        double inset, sizeAndCenter;  // the constant after setInsets, after the size/center offsets
    } cases[] = {
        {NSLayoutAttributeLeft, 2, 0},        {NSLayoutAttributeLeading, 2, 0},
        {NSLayoutAttributeRight, -10, 0},     {NSLayoutAttributeTrailing, -10, 0},
        {NSLayoutAttributeTop, 1, 0},         {NSLayoutAttributeBottom, -8, 0},
        {NSLayoutAttributeWidth, 77, 50},     {NSLayoutAttributeHeight, 77, 60},
        {NSLayoutAttributeLeftMargin, 77, 0}, {NSLayoutAttributeCenterX, 77, 5},
        {NSLayoutAttributeCenterY, 77, 6},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.attribute);
        auto c = constraint(view, k.attribute);
        c->setLayoutConstant(77);
        c->setInsets(UIEdgeInsetsMake(1, 2, 8, 10));
        EXPECT_EQ(c->layoutConstant(), k.inset);
        auto d = constraint(view, k.attribute);
        d->setSizeOffset(CGSizeMake(50, 60));
        d->setCenterOffset(CGPointMake(5, 6));
        EXPECT_EQ(d->layoutConstant(), k.sizeAndCenter);
    }
}

TEST_F(LKViewConstraintTest, MultiplierDividerPriorityAndRelation) {
    auto c = constraint(view, NSLayoutAttributeWidth);
    EXPECT_EQ(c->dividedBy()(2), c);
    EXPECT_EQ(c->layoutMultiplier(), 0.5);
    c->multipliedBy()(3);
    EXPECT_EQ(c->layoutMultiplier(), 3);
    c->priority()(999);
    EXPECT_EQ(c->layoutPriority(), 999.0f);
    // A relation set again replaces the earlier one.
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

TEST_F(LKViewConstraintTest, InstalledConstraintsTakeLaterSettingsAndInstallOnce) {
    view->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto c = constraint(view, NSLayoutAttributeWidth);
    c->equalTo()(Value(100))->priorityHigh()();
    c->key()(Value("w"));
    c->install();
    auto first = c->layoutConstraint();
    EXPECT_EQ(first->priority(), 750.0f);
    EXPECT_EQ(first->lk_key().stringValue(), "w");
    c->install();  // twice does nothing
    EXPECT_EQ(view->constraints().size(), 1u);
    EXPECT_EQ(c->layoutConstraint(), first);
    // A constant set after installation moves the layout at once.
    c->offset()(120);
    EXPECT_EQ(first->constant(), 120);
    parent->layoutIfNeeded();
    EXPECT_EQ(view->frame().size.width, 120);
}

TEST_F(LKViewConstraintTest, UninstallRemovesEverythingAndAllowsANewInstall) {
    auto c = installed(view, NSLayoutAttributeLeft, Value(sibling));
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
    auto c = installed(view, NSLayoutAttributeLeft, Value(sibling));
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
    EXPECT_EQ(parent->constraints(), std::vector<Ref<NSLayoutConstraint>>{lc});
    EXPECT_EQ(installedCount(view), 1u);
    c->activate();  // already installed
    EXPECT_EQ(parent->constraints().size(), 1u);

    // Without a platform constraint, activate installs; deactivate is harmless.
    auto h = constraint(view, NSLayoutAttributeHeight);
    h->equalTo()(Value(40));
    h->activate();
    EXPECT_TRUE(h->hasBeenInstalled());
    EXPECT_EQ(view->constraints().size(), 1u);
    auto d = constraint(view, NSLayoutAttributeWidth);
    d->deactivate();
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
    EXPECT_EQ(std::tuple(copy->layoutConstant(), copy->layoutRelation(), copy->layoutPriority(),
                         copy->layoutMultiplier()),
              std::tuple(5.0, NSLayoutRelationGreaterThanOrEqual, 250.0f, 2.0));
    EXPECT_TRUE(copy->hasLayoutRelation());
    EXPECT_EQ(copy->delegate(), c->delegate());
    EXPECT_EQ(copy->secondViewAttribute(), nullptr);
    EXPECT_TRUE(copy->lk_key().isNil());
    EXPECT_FALSE(copy->updateExisting());
    EXPECT_EQ(copy->layoutConstraint(), nullptr);
    EXPECT_FALSE(copy->hasBeenInstalled());
}

TEST_F(LKViewConstraintTest, UpdateReusesOnlyAMatchingBuilderConstraint) {
    auto c = installed(view, NSLayoutAttributeLeft, Value(sibling), 10);
    auto lc = c->layoutConstraint();
    auto update = updating([&](const auto& u) { u->equalTo()(Value(sibling))->offset()(25); });
    EXPECT_EQ(parent->constraints().size(), 1u);
    EXPECT_EQ(update->layoutConstraint(), lc);
    EXPECT_EQ(lc->constant(), 25);
    // In force, but not a member of the set: the original constraint still is.
    EXPECT_EQ(installedCount(view), 1u);
    EXPECT_TRUE(UIView_LKConstraints::lk_installedConstraints(*view)->containsObject(c.get()));

    // Another priority or multiplier adds a constraint.
    updating([&](const auto& u) { u->equalTo()(Value(sibling))->priority()(500); });
    EXPECT_EQ(parent->constraints().size(), 2u);
    updating([&](const auto& u) { u->equalTo()(Value(sibling))->multipliedBy()(2); });
    EXPECT_EQ(parent->constraints().size(), 3u);
}

TEST_F(LKViewConstraintTest, UpdateNeverReusesAConstraintMadeOutsideTheBuilder) {
    auto plain = NSLayoutConstraint::constraintWithItem(view, NSLayoutAttributeLeft, NSLayoutRelationEqual,
                                                        sibling, NSLayoutAttributeLeft, 1, 0);
    parent->addConstraint(plain);
    auto update = updating([&](const auto& u) { u->equalTo()(Value(sibling))->offset()(7); });
    EXPECT_EQ(parent->constraints().size(), 2u);
    EXPECT_EQ(plain->constant(), 0);
    EXPECT_NE(update->layoutConstraint(), plain);
}

TEST_F(LKViewConstraintTest, SimilarSearchPrefersTheNewestMatch) {
    installed(view, NSLayoutAttributeLeft, Value(sibling));
    auto b = installed(view, NSLayoutAttributeLeft, Value(sibling));
    auto probe = [&](NSLayoutRelation relation) {
        return b->layoutConstraintSimilarTo(LKLayoutConstraint::constraintWithItem(
            view, NSLayoutAttributeLeft, relation, sibling, NSLayoutAttributeLeft, 1, 99));
    };
    EXPECT_EQ(probe(NSLayoutRelationEqual), b->layoutConstraint());
    EXPECT_EQ(probe(NSLayoutRelationGreaterThanOrEqual), nullptr);
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
    auto c = installed(lonely, NSLayoutAttributeTop, Value(8));
    EXPECT_TRUE(log.contains("needs a superview"));
    EXPECT_FALSE(c->hasBeenInstalled());
    EXPECT_TRUE(lonely->constraints().empty());
    EXPECT_EQ(installedCount(lonely), 0u);
    // A size needs no superview.
    EXPECT_TRUE(installed(lonely, NSLayoutAttributeWidth, Value(8))->hasBeenInstalled());
}

TEST_F(LKViewConstraintTest, InstalledSnapshotSurvivesUninstallingWhileWalking) {
    for (int i = 0; i < 3; ++i) installed(view, NSLayoutAttributeWidth, Value(10 + i));
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
