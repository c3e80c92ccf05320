// The maker, composites and the make / update / remake entry points of views and arrays.

#include <gtest/gtest.h>

#include "ControlsTestSupport.h"
#include "controls/LKCompositeConstraint.h"
#include "controls/LKConstraintMaker.h"
#include "controls/LKViewConstraint.h"
#include "controls/NSArray+LKAdditions.h"
#include "controls/UIView+LKAdditions.h"
#include "controls/UIView+LKConstraints.h"
#include "graphics/NSValue+Geometry.h"

using namespace UIView_LKAdditions;
using controlstest::viewIn;

namespace {

class LKConstraintMakerTest : public ::testing::Test {
  protected:
    // The platform constraints of the parent and the box, in order.
    std::vector<Ref<NSLayoutConstraint>> platformConstraints() {
        auto all = parent->constraints();
        all.insert(all.end(), box->constraints().begin(), box->constraints().end());
        return all;
    }

    Ref<UIView> parent = make<UIView>(CGRectMake(0, 0, 320, 480));
    Ref<UIView> box = viewIn(parent);
    Ref<UIView> other = viewIn(parent, CGRectMake(50, 60, 30, 40));
};

Ref<LKViewConstraint> child(const Ref<LKConstraint>& composite, std::size_t i) {
    auto c = asKind<LKCompositeConstraint>(composite);
    if (!c || i >= c->childConstraints().size()) return nullptr;
    return asKind<LKViewConstraint>(c->childConstraints()[i]);
}

}  // namespace

TEST_F(LKConstraintMakerTest, EdgesEqualToTheSuperviewMakeFourConstraintsInOrderWithKeys) {
    auto installed = lk_makeConstraints(box, [&](const Ref<LKConstraintMaker>& make) {
        make->edges()->equalTo()(Value(parent))->key()(Value("box"));
    });
    ASSERT_EQ(installed.size(), 1u);
    auto constraints = parent->constraints();
    ASSERT_EQ(constraints.size(), 4u);
    const NSLayoutAttribute expected[] = {NSLayoutAttributeLeft, NSLayoutAttributeRight, NSLayoutAttributeTop,
                                          NSLayoutAttributeBottom};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(constraints[i]->firstItem(), box);
        EXPECT_EQ(constraints[i]->firstAttribute(), expected[i]);
        EXPECT_EQ(constraints[i]->secondItem(), parent);
        EXPECT_EQ(constraints[i]->secondAttribute(), expected[i]);
        auto lc = asKind<LKLayoutConstraint>(constraints[i]);
        ASSERT_TRUE(lc);
        EXPECT_EQ(lc->lk_key().stringValue(), "box[" + std::to_string(i) + "]");
    }
    EXPECT_FALSE(box->translatesAutoresizingMaskIntoConstraints());
    EXPECT_EQ(asKind<LKCompositeConstraint>(installed[0])->lk_key().stringValue(), "box");
}

TEST_F(LKConstraintMakerTest, EdgesWithInsetsLayTheViewOut) {
    lk_makeConstraints(box, [&](const Ref<LKConstraintMaker>& make) {
        make->edges()->equalTo()(
            Value(NSValue_Geometry::valueWithUIEdgeInsets(UIEdgeInsetsMake(10, 20, 30, 40))));
    });
    auto constraints = parent->constraints();
    ASSERT_EQ(constraints.size(), 4u);
    EXPECT_EQ(constraints[0]->constant(), 20);   // left
    EXPECT_EQ(constraints[1]->constant(), -40);  // right
    EXPECT_EQ(constraints[2]->constant(), 10);   // top
    EXPECT_EQ(constraints[3]->constant(), -30);  // bottom
    parent->layoutIfNeeded();
    EXPECT_EQ(box->frame(), CGRectMake(20, 10, 260, 440));
}

TEST_F(LKConstraintMakerTest, SizeFromAValueAndCenterOnAnotherView) {
    lk_makeConstraints(box, [&](const Ref<LKConstraintMaker>& make) {
        make->size()->equalTo()(Value(NSValue_Geometry::valueWithCGSize(CGSizeMake(50, 60))));
        make->center()->equalTo()(Value(other));
    });
    ASSERT_EQ(box->constraints().size(), 2u);
    EXPECT_EQ(box->constraints()[0]->firstAttribute(), NSLayoutAttributeWidth);
    EXPECT_EQ(box->constraints()[0]->constant(), 50);
    EXPECT_EQ(box->constraints()[1]->firstAttribute(), NSLayoutAttributeHeight);
    EXPECT_EQ(box->constraints()[1]->constant(), 60);
    ASSERT_EQ(parent->constraints().size(), 2u);
    EXPECT_EQ(parent->constraints()[0]->secondItem(), other);
    EXPECT_EQ(parent->constraints()[0]->secondAttribute(), NSLayoutAttributeCenterX);
    EXPECT_EQ(parent->constraints()[1]->secondAttribute(), NSLayoutAttributeCenterY);
    parent->layoutIfNeeded();
    EXPECT_EQ(box->frame(), CGRectMake(40, 50, 50, 60));
}

TEST_F(LKConstraintMakerTest, AChainOfAttributesBecomesACompositeInTheFirstPlace) {
    auto maker = make<LKConstraintMaker>(box);
    auto top = maker->top();
    auto chain = maker->left()->right()->equalTo()(Value(other));
    ASSERT_EQ(maker->constraints().size(), 2u);
    EXPECT_EQ(maker->constraints()[0], top);
    auto composite = asKind<LKCompositeConstraint>(maker->constraints()[1]);
    ASSERT_TRUE(composite);
    EXPECT_EQ(chain, composite);
    ASSERT_EQ(composite->childConstraints().size(), 2u);
    EXPECT_EQ(child(composite, 0)->firstViewAttribute()->layoutAttribute(), NSLayoutAttributeLeft);
    EXPECT_EQ(child(composite, 1)->firstViewAttribute()->layoutAttribute(), NSLayoutAttributeRight);
    EXPECT_EQ(child(composite, 1)->secondViewAttribute()->view(), other);
}

TEST_F(LKConstraintMakerTest, EdgesThenWidthGrowsTheSameComposite) {
    auto maker = make<LKConstraintMaker>(box);
    auto edges = maker->edges();
    auto chained = edges->width();
    EXPECT_EQ(chained, edges);
    ASSERT_EQ(asKind<LKCompositeConstraint>(edges)->childConstraints().size(), 5u);
    EXPECT_EQ(child(edges, 4)->firstViewAttribute()->layoutAttribute(), NSLayoutAttributeWidth);
    EXPECT_EQ(child(edges, 4)->delegate().get(),
              static_cast<LKConstraintDelegate*>(asKind<LKCompositeConstraint>(edges).get()));
    EXPECT_EQ(maker->constraints().size(), 1u);
}

TEST_F(LKConstraintMakerTest, AttributeMasksFollowAttributeOrderAndIgnoreUnknownBits) {
    auto maker = make<LKConstraintMaker>(box);
    unsigned long mask = (1ul << NSLayoutAttributeCenterY) | (1ul << NSLayoutAttributeLeft) |
                         (1ul << NSLayoutAttributeBaseline) | (1ul << 12) | (1ul << 0) | (1ul << 30);
    auto composite = maker->attributes()(mask);
    auto c = asKind<LKCompositeConstraint>(composite);
    ASSERT_TRUE(c);
    ASSERT_EQ(c->childConstraints().size(), 3u);
    EXPECT_EQ(child(c, 0)->firstViewAttribute()->layoutAttribute(), NSLayoutAttributeLeft);
    EXPECT_EQ(child(c, 1)->firstViewAttribute()->layoutAttribute(), NSLayoutAttributeCenterY);
    EXPECT_EQ(child(c, 2)->firstViewAttribute()->layoutAttribute(), NSLayoutAttributeBaseline);
    auto empty = asKind<LKCompositeConstraint>(maker->addConstraintWithAttributes(1ul << 12));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->childConstraints().empty());
    EXPECT_EQ(maker->constraints().size(), 2u);
}

TEST_F(LKConstraintMakerTest, CompositesPassChainingToEveryChild) {
    auto maker = make<LKConstraintMaker>(box);
    auto size = maker->size();
    size->equalTo()(Value(other))->multipliedBy()(2)->priority()(600)->offset()(3);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(child(size, i)->layoutMultiplier(), 2);
        EXPECT_EQ(child(size, i)->layoutPriority(), 600.0f);
        EXPECT_EQ(child(size, i)->layoutConstant(), 3);
    }
    size->dividedBy()(4);
    EXPECT_EQ(child(size, 1)->layoutMultiplier(), 0.25);
    size->sizeOffset()(CGSizeMake(7, 8));
    EXPECT_EQ(child(size, 0)->layoutConstant(), 7);
    EXPECT_EQ(child(size, 1)->layoutConstant(), 8);
    auto center = maker->center();
    center->centerOffset()(CGPointMake(-1, -2));
    EXPECT_EQ(child(center, 0)->layoutConstant(), -1);
    EXPECT_EQ(child(center, 1)->layoutConstant(), -2);
}

TEST_F(LKConstraintMakerTest, AnArrayTargetInsideACompositeReplacesTheChildDuringTheWalk) {
    auto maker = make<LKConstraintMaker>(box);
    auto composite = asKind<LKCompositeConstraint>(maker->size());
    auto third = viewIn(parent);
    composite->equalTo()(Value(Array{Value(other), Value(third)}));
    ASSERT_EQ(composite->childConstraints().size(), 2u);
    for (const auto& c : composite->childConstraints()) {
        auto inner = asKind<LKCompositeConstraint>(c);
        ASSERT_TRUE(inner);
        EXPECT_EQ(inner->childConstraints().size(), 2u);
    }
    lk_makeConstraints(box, [&](const Ref<LKConstraintMaker>& make) {
        make->width()->equalTo()(Value(Array{Value(other), Value(third)}));
    });
    EXPECT_EQ(parent->constraints().size(), 2u);
}

TEST_F(LKConstraintMakerTest, UpdateChangesOnlyConstantsOfMatchingConstraints) {
    lk_makeConstraints(box, [&](const Ref<LKConstraintMaker>& make) {
        make->left()->equalTo()(Value(other))->offset()(5);
        make->width()->equalTo()(Value(100));
    });
    auto before = platformConstraints();
    ASSERT_EQ(before.size(), 2u);
    lk_updateConstraints(box, [&](const Ref<LKConstraintMaker>& make) {
        make->left()->equalTo()(Value(other))->offset()(15);
        make->width()->equalTo()(Value(140));
    });
    auto after = platformConstraints();
    EXPECT_EQ(after, before);
    EXPECT_EQ(after[0]->constant(), 15);
    EXPECT_EQ(after[1]->constant(), 140);
    // Something new is added.
    lk_updateConstraints(box,
                         [&](const Ref<LKConstraintMaker>& make) { make->height()->equalTo()(Value(20)); });
    EXPECT_EQ(platformConstraints().size(), 3u);
}

TEST_F(LKConstraintMakerTest, RemakeRemovesEveryBuilderConstraintOfTheViewFirst) {
    lk_makeConstraints(box, [&](const Ref<LKConstraintMaker>& make) {
        make->left()->equalTo()(Value(other));
        make->width()->equalTo()(Value(100));
    });
    auto plain = NSLayoutConstraint::constraintWithItem(box, NSLayoutAttributeHeight, NSLayoutRelationEqual,
                                                        nullptr, NSLayoutAttributeNotAnAttribute, 1, 30);
    box->addConstraint(plain);
    lk_remakeConstraints(box, [&](const Ref<LKConstraintMaker>& make) { make->top()->equalTo()(Value(4)); });
    auto now = platformConstraints();
    ASSERT_EQ(now.size(), 2u);
    EXPECT_EQ(now[0]->firstAttribute(), NSLayoutAttributeTop);
    EXPECT_EQ(now[1], plain);  // not the builder's
    EXPECT_EQ(UIView_LKConstraints::lk_installedConstraints(*box)->count(), 1u);
}

TEST_F(LKConstraintMakerTest, InstallResultKeepsACompositeAsOneEntryAndEmptiesTheList) {
    auto maker = make<LKConstraintMaker>(box);
    maker->edges()->equalTo()(Value(parent));
    maker->width()->equalTo()(Value(10));
    auto result = maker->install();
    ASSERT_EQ(result.size(), 2u);
    EXPECT_TRUE(isKindOf<LKCompositeConstraint>(result[0]));
    EXPECT_TRUE(isKindOf<LKViewConstraint>(result[1]));
    EXPECT_TRUE(maker->constraints().empty());
    EXPECT_TRUE(maker->install().empty());
}

TEST_F(LKConstraintMakerTest, GroupAnswersACompositeWhileTheMakerInstallsTheEntries) {
    Ref<LKConstraint> group;
    auto result = lk_makeConstraints(box, [&](const Ref<LKConstraintMaker>& make) {
        make->top()->equalTo()(Value(1));
        group = make->group()([&] {
            make->left()->equalTo()(Value(2));
            make->height()->equalTo()(Value(3));
        });
        group->offset()(9);
    });
    auto composite = asKind<LKCompositeConstraint>(group);
    ASSERT_TRUE(composite);
    ASSERT_EQ(composite->childConstraints().size(), 2u);
    ASSERT_EQ(result.size(), 3u);
    EXPECT_EQ(result[1], composite->childConstraints()[0]);
    EXPECT_EQ(result[2], composite->childConstraints()[1]);
    EXPECT_EQ(asKind<LKViewConstraint>(result[1])->layoutConstant(), 9);
    EXPECT_EQ(platformConstraints().size(), 3u);
    EXPECT_EQ(result[1]->delegate().get(), static_cast<LKConstraintDelegate*>(composite.get()));
}

TEST_F(LKConstraintMakerTest, CompositesActivateDeactivateAndUninstallTheirChildren) {
    auto result = lk_makeConstraints(box, [&](const Ref<LKConstraintMaker>& make) {
        make->size()->equalTo()(Value(NSValue_Geometry::valueWithCGSize(CGSizeMake(5, 6))));
    });
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(box->constraints().size(), 2u);
    result[0]->deactivate();
    EXPECT_TRUE(box->constraints().empty());
    result[0]->activate();
    EXPECT_EQ(box->constraints().size(), 2u);
    result[0]->uninstall();
    EXPECT_TRUE(box->constraints().empty());
    EXPECT_EQ(UIView_LKConstraints::lk_installedConstraints(*box)->count(), 0u);
}

TEST_F(LKConstraintMakerTest, CompositeInstallHandsDownUpdateExisting) {
    lk_makeConstraints(box, [&](const Ref<LKConstraintMaker>& make) { make->size()->equalTo()(Value(10)); });
    auto maker = make<LKConstraintMaker>(box);
    auto size = maker->size();
    size->equalTo()(Value(20));
    size->setUpdateExisting(true);
    size->install();
    EXPECT_EQ(box->constraints().size(), 2u);
    EXPECT_EQ(box->constraints()[0]->constant(), 20);
}

TEST_F(LKConstraintMakerTest, ArrayFormsRunOncePerViewAndConcatenate) {
    int runs = 0;
    std::vector<Ref<UIView>> seen;
    auto result =
        NSArray_LKAdditions::lk_makeConstraints({box, other}, [&](const Ref<LKConstraintMaker>& make) {
            ++runs;
            seen.push_back(make->view());
            make->width()->equalTo()(Value(10));
            make->height()->equalTo()(Value(10));
        });
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(seen, (std::vector<Ref<UIView>>{box, other}));
    ASSERT_EQ(result.size(), 4u);
    EXPECT_EQ(asKind<LKViewConstraint>(result[2])->firstViewAttribute()->view(), other);

    NSArray_LKAdditions::lk_updateConstraints(
        {box, other}, [&](const Ref<LKConstraintMaker>& make) { make->width()->equalTo()(Value(30)); });
    EXPECT_EQ(box->constraints().size(), 2u);
    EXPECT_EQ(box->constraints()[0]->constant(), 30);
    NSArray_LKAdditions::lk_remakeConstraints({box}, [&](const Ref<LKConstraintMaker>&) {});
    EXPECT_TRUE(box->constraints().empty());
    EXPECT_EQ(other->constraints().size(), 2u);
}

TEST_F(LKConstraintMakerTest, EmptyArrayNeverRunsTheBlock) {
    bool ran = false;
    auto result =
        NSArray_LKAdditions::lk_makeConstraints({}, [&](const Ref<LKConstraintMaker>&) { ran = true; });
    EXPECT_TRUE(result.empty());
    EXPECT_FALSE(ran);
}

TEST_F(LKConstraintMakerTest, TheMakerHoldsItsViewWeakly) {
    Ref<LKConstraintMaker> maker;
    {
        auto view = make<UIView>();
        maker = make<LKConstraintMaker>(view);
    }
    EXPECT_EQ(maker->view(), nullptr);
}
