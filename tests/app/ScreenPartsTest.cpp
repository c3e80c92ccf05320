// The parts the pushed screens are built from: the root, the top bar and its title, text buttons,
// and a bar held to the bottom that rides up when its bottom constraint grows.

#include <gtest/gtest.h>

#include "app/ScreenParts.h"
#include "graphics/UIColor.h"
#include "uikit/UIScreen.h"

using namespace ScreenParts;

TEST(ScreenPartsTest, TheRootFillsTheScreenAndTheTopBarCarriesAnEmptyCentredTitle) {
    auto root = screenRoot();
    EXPECT_TRUE(CGRectEqualToRect(root->frame(), UIScreen::mainScreen()->bounds()));
    EXPECT_EQ(root->autoresizingMask(), UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    Ref<UILabel> title;
    auto bar = topBar(root, title);
    ASSERT_TRUE(title);
    EXPECT_EQ(bar->superview(), root);
    EXPECT_EQ(title->superview(), bar);
    EXPECT_EQ(bar->frame().size.height, kTopBarHeight);
    EXPECT_EQ(bar->frame().size.width, root->bounds().size.width);
    EXPECT_EQ(title->textAlignment(), NSTextAlignmentCenter);
    EXPECT_FALSE(title->text().has_value() && !title->text()->empty());
}

TEST(ScreenPartsTest, ABarButtonShowsItsTitleInItsColour) {
    auto button = barButton("返回", CGRectMake(8, 20, 60, 44), UIColor::whiteColor());
    EXPECT_EQ(button->titleForState(UIControlStateNormal), std::optional<std::string>("返回"));
    auto colour = button->titleColorForState(UIControlStateNormal);
    ASSERT_TRUE(colour);
    EXPECT_TRUE(colour->isEqual(*UIColor::whiteColor()));
    EXPECT_TRUE(CGRectEqualToRect(button->frame(), CGRectMake(8, 20, 60, 44)));
}

TEST(ScreenPartsTest, APinnedBarSitsAtTheBottomAcrossTheWidthAndRidesUpOnItsConstraint) {
    auto root = make<UIView>(CGRectMake(0, 0, 320, 480));
    auto bar = make<UIView>(CGRectMake(5, 5, 10, 10));
    root->addSubview(bar);
    BottomPin pin = pinToBottom(root, bar, 50);
    ASSERT_TRUE(pin.bottom);
    ASSERT_TRUE(pin.height);
    root->layoutIfNeeded();
    EXPECT_TRUE(CGRectEqualToRect(bar->frame(), CGRectMake(0, 430, 320, 50)));
    pin.bottom->setConstant(216);
    pin.height->setConstant(80);
    root->layoutIfNeeded();
    EXPECT_TRUE(CGRectEqualToRect(bar->frame(), CGRectMake(0, 184, 320, 80)));
}
