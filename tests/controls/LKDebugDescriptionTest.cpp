// The compact debug descriptions of layout constraints.

#include <gtest/gtest.h>

#include <thread>

#include "controls/LKLayoutConstraint.h"
#include "controls/NSLayoutConstraint+LKDebugAdditions.h"
#include "controls/UIView+LKAdditions.h"
#include "foundation/NSString.h"
#include "uikit/UILayoutSupport.h"

using namespace NSLayoutConstraint_LKDebugAdditions;

namespace {

std::string address(const void* p) {
    return NSString::stringWithFormat("%p", p);
}

class LKDebugDescriptionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        install();
        UIView_LKAdditions::setMas_key(*keyed, Value("b"));
    }
    Ref<LKLayoutConstraint> lk(const Ref<NSObject>& first, NSLayoutAttribute a, NSLayoutRelation r,
                               const Ref<NSObject>& second, NSLayoutAttribute b, CGFloat m, CGFloat c) {
        return LKLayoutConstraint::constraintWithItem(first, a, r, second, b, m, c);
    }

    Ref<UIView> plain = make<UIView>();
    Ref<UIView> keyed = make<UIView>();
};

}  // namespace

TEST_F(LKDebugDescriptionTest, TheWorkedExample) {
    auto c = lk(plain, NSLayoutAttributeLeft, NSLayoutRelationEqual, keyed, NSLayoutAttributeLeft, 1, 10);
    c->setMas_key(Value("k"));
    c->setPriority(750);
    EXPECT_EQ(c->description(),
              "<LKLayoutConstraint:k UIView:" + address(plain.get()) + ".left == UIView:b.left + 10 ^high>");
}

TEST_F(LKDebugDescriptionTest, RequiredWidthWithoutSecondItem) {
    auto c = lk(keyed, NSLayoutAttributeWidth, NSLayoutRelationEqual, nullptr,
                NSLayoutAttributeNotAnAttribute, 1, 100);
    EXPECT_EQ(c->description(), "<LKLayoutConstraint:" + address(c.get()) + " UIView:b.width == 100>");
    auto zero = lk(keyed, NSLayoutAttributeHeight, NSLayoutRelationGreaterThanOrEqual, nullptr,
                   NSLayoutAttributeNotAnAttribute, 1, 0);
    zero->setMas_key(Value("z"));
    EXPECT_EQ(zero->description(), "<LKLayoutConstraint:z UIView:b.height >= 0>");
}

TEST_F(LKDebugDescriptionTest, DefaultsPrintNeitherMultiplierConstantNorPriority) {
    auto c = lk(keyed, NSLayoutAttributeTop, NSLayoutRelationLessThanOrEqual, keyed, NSLayoutAttributeBottom,
                1, 0);
    c->setMas_key(Value("t"));
    EXPECT_EQ(c->description(), "<LKLayoutConstraint:t UIView:b.top <= UIView:b.bottom>");
}

TEST_F(LKDebugDescriptionTest, SignedConstantsMultipliersAndPriorities) {
    auto c = lk(keyed, NSLayoutAttributeRight, NSLayoutRelationEqual, keyed, NSLayoutAttributeRight, 0.5, -8);
    c->setMas_key(Value("r"));
    c->setPriority(999);
    EXPECT_EQ(c->description(), "<LKLayoutConstraint:r UIView:b.right == UIView:b.right * 0.5 - 8 ^999>");
    c->setConstant(8);
    c->setPriority(250);
    EXPECT_EQ(c->description(), "<LKLayoutConstraint:r UIView:b.right == UIView:b.right * 0.5 + 8 ^low>");
    c->setPriority(50);
    EXPECT_EQ(c->description().substr(c->description().size() - 15), " ^fitting size>");
    c->setPriority(500);
    EXPECT_NE(c->description().find("^medium"), std::string::npos);
    c->setPriority(999.5f);
    EXPECT_NE(c->description().find("^999.5>"), std::string::npos);
}

TEST_F(LKDebugDescriptionTest, PlatformConstraintsAndItemsWithoutKeysPrintAddresses) {
    auto c = NSLayoutConstraint::constraintWithItem(plain, NSLayoutAttributeCenterX, NSLayoutRelationEqual,
                                                    keyed, NSLayoutAttributeCenterX, 1, 0);
    EXPECT_EQ(c->description(), "<NSLayoutConstraint:" + address(c.get()) +
                                    " UIView:" + address(plain.get()) + ".centerX == UIView:b.centerX>");
    // A view whose key was cleared goes back to its address.
    UIView_LKAdditions::setMas_key(*keyed, Value());
    EXPECT_NE(c->description().find("UIView:" + address(keyed.get()) + ".centerX>"), std::string::npos);
}

TEST_F(LKDebugDescriptionTest, LayoutGuidesHaveNoKeyAndPrintTheirClass) {
    auto guide = make<UILayoutSupport>(UILayoutSupport::Edge::Top, keyed);
    auto c = lk(plain, NSLayoutAttributeTop, NSLayoutRelationEqual, guide, NSLayoutAttributeBottom, 1, 0);
    EXPECT_EQ(descriptionForObject(guide), "_UILayoutGuide:" + address(guide.get()));
    EXPECT_NE(c->description().find("== _UILayoutGuide:" + address(guide.get()) + ".bottom"),
              std::string::npos);
}

TEST_F(LKDebugDescriptionTest, NumbersWithoutNamesPrintNull) {
    auto c = lk(keyed, NSLayoutAttributeFirstBaseline, NSLayoutRelation(5), nullptr,
                NSLayoutAttributeNotAnAttribute, 1, 3);
    c->setMas_key(Value("n"));
    EXPECT_EQ(c->description(), "<LKLayoutConstraint:n UIView:b.(null) (null) 3>");
}

TEST_F(LKDebugDescriptionTest, NonStringKeysPrintTheirDescription) {
    UIView_LKAdditions::setMas_key(*plain, Value(7));
    EXPECT_EQ(descriptionForObject(plain), "UIView:7");
    EXPECT_EQ(descriptionForObject(nullptr), "(null):0x0");
}

TEST_F(LKDebugDescriptionTest, TablesAreBuiltOnceUnderConcurrentFirstUse) {
    std::vector<const void*> seen(8);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&seen, i] { seen[i] = &layoutAttributeDescriptionsByValue(); });
    }
    for (auto& t : threads) t.join();
    for (const void* p : seen) EXPECT_EQ(p, seen[0]);
}
