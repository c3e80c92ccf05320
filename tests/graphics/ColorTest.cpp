#include <gtest/gtest.h>

#include <cmath>

#include "graphics/UIColor.h"

TEST(UIColorTest, RGBComponentsReadBack) {
    auto c = UIColor::colorWithRed(99 / 255.0, 214 / 255.0, 228 / 255.0, 1);
    CGFloat r, g, b, a;
    ASSERT_TRUE(c->getRed(&r, &g, &b, &a));
    EXPECT_DOUBLE_EQ(r, 99 / 255.0);
    EXPECT_DOUBLE_EQ(g, 214 / 255.0);
    EXPECT_DOUBLE_EQ(b, 228 / 255.0);
    EXPECT_DOUBLE_EQ(a, 1);
}

TEST(UIColorTest, GreyColoursAnswerRGBWithWhiteInEveryChannel) {
    auto c = UIColor::colorWithWhite(0.5, 0.25);
    CGFloat r = -1, g = -1, b = -1, a = -1;
    ASSERT_TRUE(c->getRed(&r, &g, &b, &a));
    EXPECT_DOUBLE_EQ(r, 0.5);
    EXPECT_DOUBLE_EQ(g, 0.5);
    EXPECT_DOUBLE_EQ(b, 0.5);
    EXPECT_DOUBLE_EQ(a, 0.25);
    CGFloat w, wa;
    ASSERT_TRUE(c->getWhite(&w, &wa));
    EXPECT_DOUBLE_EQ(w, 0.5);
    EXPECT_DOUBLE_EQ(wa, 0.25);
}

TEST(UIColorTest, NullOutputsAreAllowed) {
    auto c = UIColor::redColor();
    CGFloat a = 0;
    EXPECT_TRUE(c->getRed(nullptr, nullptr, nullptr, &a));
    EXPECT_DOUBLE_EQ(a, 1);
}

TEST(UIColorTest, WhiteOfAnRGBColourIsItsLuma) {
    CGFloat w;
    ASSERT_TRUE(UIColor::colorWithRed(1, 0, 0, 1)->getWhite(&w, nullptr));
    EXPECT_NEAR(w, 0.299, 1e-12);
}

TEST(UIColorTest, ComponentsAreClampedAndNaNIsZero) {
    auto c = UIColor::colorWithRed(2, -1, NAN, 7);
    CGFloat r, g, b, a;
    c->getRed(&r, &g, &b, &a);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(g, 0);
    EXPECT_EQ(b, 0);
    EXPECT_EQ(a, 1);
}

TEST(UIColorTest, NamedColoursHaveTheirSpaces) {
    EXPECT_EQ(UIColor::blackColor()->CGColor()->model(), kCGColorSpaceModelMonochrome);
    EXPECT_EQ(UIColor::whiteColor()->CGColor()->model(), kCGColorSpaceModelMonochrome);
    EXPECT_EQ(UIColor::redColor()->CGColor()->model(), kCGColorSpaceModelRGB);
    EXPECT_DOUBLE_EQ(UIColor::clearColor()->alpha(), 0);
    CGFloat w;
    UIColor::lightGrayColor()->getWhite(&w, nullptr);
    EXPECT_NEAR(w, 2.0 / 3.0, 1e-12);
    CGFloat r, g, b;
    UIColor::orangeColor()->getRed(&r, &g, &b, nullptr);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(g, 0.5);
    EXPECT_EQ(b, 0);
}

TEST(UIColorTest, EqualityNeedsTheSameSpace) {
    EXPECT_TRUE(UIColor::colorWithRed(1, 0, 0, 1)->isEqual(*UIColor::redColor()));
    EXPECT_EQ(UIColor::colorWithRed(1, 0, 0, 1)->hash(), UIColor::redColor()->hash());
    EXPECT_FALSE(UIColor::colorWithWhite(0, 1)->isEqual(*UIColor::colorWithRed(0, 0, 0, 1)));
    EXPECT_FALSE(UIColor::redColor()->isEqual(*UIColor::redColor()->colorWithAlphaComponent(0.5)));
}

TEST(UIColorTest, AlphaComponentKeepsTheSpace) {
    auto c = UIColor::colorWithWhite(0.2, 1)->colorWithAlphaComponent(0.1);
    EXPECT_EQ(c->CGColor()->model(), kCGColorSpaceModelMonochrome);
    EXPECT_DOUBLE_EQ(c->alpha(), 0.1);
    EXPECT_EQ(CGColorGetNumberOfComponents(c->CGColor()), 2u);
}

TEST(UIColorTest, Description) {
    EXPECT_EQ(UIColor::colorWithRed(1, 0, 0.5, 1)->description(), "UIDeviceRGBColorSpace 1 0 0.5 1");
    EXPECT_EQ(UIColor::colorWithWhite(0.5, 1)->description(), "UIDeviceWhiteColorSpace 0.5 1");
    EXPECT_EQ(UIColor::colorWithRed(99 / 255.0, 0, 0, 1)->description(),
              "UIDeviceRGBColorSpace 0.388235 0 0 1");
}

TEST(UIColorTest, HueSaturationBrightnessRoundTrip) {
    auto c = UIColor::colorWithHue(0.6, 0.5, 0.8, 1);
    CGFloat h, s, v, a;
    ASSERT_TRUE(c->getHue(&h, &s, &v, &a));
    EXPECT_NEAR(h, 0.6, 1e-9);
    EXPECT_NEAR(s, 0.5, 1e-9);
    EXPECT_NEAR(v, 0.8, 1e-9);
    CGFloat r, g, b;
    UIColor::colorWithHue(0, 1, 1, 1)->getRed(&r, &g, &b, nullptr);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(g, 0);
    EXPECT_EQ(b, 0);
}

TEST(UIColorTest, CopyIsEqual) {
    auto c = UIColor::colorWithRed(0.1, 0.2, 0.3, 0.4);
    auto copy = std::dynamic_pointer_cast<UIColor>(c->copyObject());
    ASSERT_TRUE(copy);
    EXPECT_TRUE(copy->isEqual(*c));
}

TEST(CGColorTest, CreateReadsComponentsOfTheSpace) {
    CGFloat comps[] = {0.1, 0.2, 0.3, 0.4};
    auto c = CGColorCreate(CGColorSpaceCreateDeviceRGB(), comps);
    ASSERT_TRUE(c);
    EXPECT_EQ(CGColorGetNumberOfComponents(c), 4u);
    EXPECT_DOUBLE_EQ(CGColorGetComponents(c)[2], 0.3);
    EXPECT_DOUBLE_EQ(CGColorGetAlpha(c), 0.4);
    EXPECT_EQ(CGColorSpaceGetModel(CGColorGetColorSpace(c)), kCGColorSpaceModelRGB);
}

TEST(CGColorTest, CMYKConvertsForDrawing) {
    CGFloat comps[] = {1, 0, 0, 0, 1};
    auto c = CGColorCreate(CGColorSpaceCreateDeviceCMYK(), comps);
    ASSERT_TRUE(c);
    auto rgba = c->rgba();
    EXPECT_EQ(rgba[0], 0);  // full cyan: no red
    EXPECT_EQ(rgba[1], 1);
    EXPECT_EQ(rgba[2], 1);
    EXPECT_FALSE(UIColor::colorWithCGColor(c)->getRed(nullptr, nullptr, nullptr, nullptr));
}

TEST(CGColorTest, NullInputsAreSafe) {
    CGFloat comps[] = {0, 1};
    EXPECT_FALSE(CGColorCreate(nullptr, comps));
    EXPECT_FALSE(CGColorCreate(CGColorSpaceCreateDeviceGray(), nullptr));
    EXPECT_EQ(CGColorGetComponents(nullptr), nullptr);
    EXPECT_EQ(CGColorGetNumberOfComponents(nullptr), 0u);
    EXPECT_EQ(CGColorGetAlpha(nullptr), 0);
    EXPECT_TRUE(CGColorEqualToColor(nullptr, nullptr));
    EXPECT_FALSE(CGColorEqualToColor(UIColor::redColor()->CGColor(), nullptr));
    EXPECT_FALSE(UIColor::colorWithCGColor(nullptr));
    EXPECT_FALSE(CGColorCreateCopyWithAlpha(nullptr, 1));
}

TEST(CGColorTest, CopyWithAlphaClamps) {
    auto c = CGColorCreateCopyWithAlpha(UIColor::redColor()->CGColor(), 3);
    EXPECT_EQ(CGColorGetAlpha(c), 1);
    EXPECT_TRUE(CGColorEqualToColor(c, UIColor::redColor()->CGColor()));
}
