// Buttons: per-state values with the fallback to normal, the subviews that show them, layout of
// image and title, fitting sizes and the system type's tint.

#include <gtest/gtest.h>

#include "tests/uikit/ControlsTestSupport.h"
#include "tests/uikit/UIKitTestSupport.h"
#include "uikit/UIButton.h"
#include "uikit/UIWindowRenderer.h"

namespace {

using controlstest::solidImage;

class ButtonTest : public uikittest::UIKitTest {
  protected:
    void SetUp() override {
        UIKitTest::SetUp();
        ASSERT_TRUE(TextMeasurer::usesDeterministic());
        button = UIButton::buttonWithType(UIButtonTypeCustom);
        button->setFrame(CGRectMake(0, 0, 200, 44));
    }
    Ref<UIButton> button;
};

TEST_F(ButtonTest, ValuesFallBackToNormal) {
    button->setTitle(std::string("关注"), UIControlStateNormal);
    button->setTitle(std::string("已关注"), UIControlStateSelected);
    EXPECT_EQ(button->currentTitle(), std::optional<std::string>("关注"));
    button->setSelected(true);
    EXPECT_EQ(button->currentTitle(), std::optional<std::string>("已关注"));
    // Selected and highlighted has nothing of its own: normal, not selected.
    button->setHighlighted(true);
    EXPECT_EQ(button->state(), UIControlStateSelected | UIControlStateHighlighted);
    EXPECT_EQ(button->currentTitle(), std::optional<std::string>("关注"));
    button->setTitle(std::string("both"), UIControlStateSelected | UIControlStateHighlighted);
    EXPECT_EQ(button->currentTitle(), std::optional<std::string>("both"));
    // A nil title removes the state's own one.
    button->setTitle(std::nullopt, UIControlStateSelected | UIControlStateHighlighted);
    EXPECT_EQ(button->currentTitle(), std::optional<std::string>("关注"));
    button->setTitle(std::nullopt, UIControlStateNormal);
    button->setHighlighted(false);
    button->setSelected(false);
    EXPECT_FALSE(button->currentTitle());
}

TEST_F(ButtonTest, TheTitleLabelShowsTheCurrentTitleAndColour) {
    button->setTitle(std::string("Go"), UIControlStateNormal);
    button->setTitleColor(UIColor::redColor(), UIControlStateNormal);
    button->setTitleColor(UIColor::blueColor(), UIControlStateDisabled);
    auto label = button->titleLabel();
    ASSERT_TRUE(label);
    EXPECT_EQ(label->superview(), button);
    EXPECT_EQ(label->text(), std::optional<std::string>("Go"));
    EXPECT_TRUE(label->textColor()->isEqual(*UIColor::redColor()));
    button->setEnabled(false);
    EXPECT_TRUE(label->textColor()->isEqual(*UIColor::blueColor()));
    EXPECT_DOUBLE_EQ(label->font()->pointSize(), 15);
}

TEST_F(ButtonTest, CustomTitlesAreWhiteUntilSet) {
    button->setTitle(std::string("x"), UIControlStateNormal);
    EXPECT_TRUE(button->currentTitleColor()->isEqual(*UIColor::whiteColor()));
}

TEST_F(ButtonTest, SystemButtonsFollowTheTint) {
    auto system = UIButton::buttonWithType(UIButtonTypeSystem);
    system->setTitle(std::string("OK"), UIControlStateNormal);
    system->setTintColor(UIColor::redColor());
    EXPECT_TRUE(system->currentTitleColor()->isEqual(*UIColor::redColor()));
    EXPECT_TRUE(system->titleLabel()->textColor()->isEqual(*UIColor::redColor()));
    system->setHighlighted(true);
    EXPECT_LT(system->titleLabel()->textColor()->alpha(), 0.5);  // dimmed while pressed
    system->setHighlighted(false);
    system->setEnabled(false);
    EXPECT_FALSE(system->currentTitleColor()->isEqual(*UIColor::redColor()));
    system->setImage(solidImage(UIColor::greenColor()), UIControlStateNormal);
    EXPECT_EQ(system->imageView()->image()->renderingMode(), UIImageRenderingMode::AlwaysTemplate);
}

TEST_F(ButtonTest, ImagesPerStateAndTheirAdjustments) {
    auto normal = solidImage(UIColor::redColor(), {20, 20});
    auto selected = solidImage(UIColor::greenColor(), {20, 20});
    button->setImage(normal, UIControlStateNormal);
    button->setImage(selected, UIControlStateSelected);
    EXPECT_EQ(button->imageView()->image(), normal);
    button->setSelected(true);
    EXPECT_EQ(button->imageView()->image(), selected);
    EXPECT_EQ(button->currentImage(), selected);
    button->setSelected(false);
    // Highlighted without its own image: a darkened copy of the normal one.
    button->setHighlighted(true);
    EXPECT_EQ(button->currentImage(), normal);
    EXPECT_NE(button->imageView()->image(), normal);
    button->setAdjustsImageWhenHighlighted(false);
    EXPECT_EQ(button->imageView()->image(), normal);
}

TEST_F(ButtonTest, BackgroundImageFillsTheBounds) {
    auto background = solidImage(UIColor::blueColor(), {4, 4});
    button->setBackgroundImage(background, UIControlStateNormal);
    EXPECT_EQ(button->currentBackgroundImage(), background);
    button->layoutIfNeeded();
    auto picture = UIWindowRenderer::imageOfView(button, 1);
    ASSERT_TRUE(picture);
    EXPECT_PIXEL(picture, 1, 1, 0, 0, 255, 255);
    EXPECT_PIXEL(picture, 198, 42, 0, 0, 255, 255);
}

TEST_F(ButtonTest, ImageThenTitleCentredTogether) {
    button->setImage(solidImage(UIColor::redColor(), {20, 20}), UIControlStateNormal);
    button->setTitle(std::string("abcd"), UIControlStateNormal);  // 4 × 7.5 = 30 wide, 18 high
    button->layoutIfNeeded();
    // 50 wide together, centred in 200: from 75.
    EXPECT_RECT(button->imageView()->frame(), 75, 12, 20, 20);
    EXPECT_RECT(button->titleLabel()->frame(), 95, 13, 30, 18);
    button->setContentHorizontalAlignment(UIControlContentHorizontalAlignmentLeft);
    button->setContentEdgeInsets(UIEdgeInsetsMake(0, 10, 0, 0));
    button->layoutIfNeeded();
    EXPECT_RECT(button->imageView()->frame(), 10, 12, 20, 20);
    EXPECT_RECT(button->titleLabel()->frame(), 30, 13, 30, 18);
    button->setContentHorizontalAlignment(UIControlContentHorizontalAlignmentRight);
    button->setContentEdgeInsets(UIEdgeInsetsZero);
    button->setContentVerticalAlignment(UIControlContentVerticalAlignmentTop);
    button->layoutIfNeeded();
    EXPECT_RECT(button->imageView()->frame(), 150, 0, 20, 20);
    EXPECT_RECT(button->titleLabel()->frame(), 170, 0, 30, 18);
}

TEST_F(ButtonTest, AnImageLargerThanTheButtonStaysInsideIt) {
    auto host = make<UIView>(CGRectMake(0, 0, 80, 80));
    host->setBackgroundColor(UIColor::whiteColor());
    button->setFrame(CGRectMake(20, 20, 40, 40));
    host->addSubview(button);
    button->setImage(solidImage(UIColor::redColor(), {160, 80}), UIControlStateNormal);
    button->layoutIfNeeded();
    // Shrunk to the content, keeping its proportions, and centred.
    EXPECT_RECT(button->imageView()->frame(), 0, 10, 40, 20);
    auto picture = UIWindowRenderer::imageOfView(host, 1);
    EXPECT_PIXEL(picture, 40, 40, 255, 0, 0, 255);
    EXPECT_PIXEL(picture, 10, 40, 255, 255, 255, 255);
    EXPECT_PIXEL(picture, 40, 25, 255, 255, 255, 255);
    // The image insets shrink the area it fits into; a fill alignment stretches it to the area.
    button->setImageEdgeInsets(UIEdgeInsetsMake(5, 5, 5, 5));
    button->layoutIfNeeded();
    EXPECT_RECT(button->imageView()->frame(), 5, 12.5, 30, 15);
    button->setContentVerticalAlignment(UIControlContentVerticalAlignmentFill);
    button->layoutIfNeeded();
    EXPECT_RECT(button->imageView()->frame(), 5, 5, 30, 30);
    // A tall image in a wide button.
    button->setImageEdgeInsets(UIEdgeInsetsZero);
    button->setContentVerticalAlignment(UIControlContentVerticalAlignmentCenter);
    button->setFrame(CGRectMake(0, 0, 80, 40));
    button->setImage(solidImage(UIColor::redColor(), {20, 100}), UIControlStateNormal);
    button->layoutIfNeeded();
    EXPECT_RECT(button->imageView()->frame(), 36, 0, 8, 40);
}

TEST_F(ButtonTest, TitleInsetsMoveTheTitleOnly) {
    button->setTitle(std::string("abcd"), UIControlStateNormal);
    button->setContentHorizontalAlignment(UIControlContentHorizontalAlignmentLeft);
    button->setTitleEdgeInsets(UIEdgeInsetsMake(0, 15, 0, 0));
    button->layoutIfNeeded();
    EXPECT_RECT(button->titleLabel()->frame(), 15, 13, 30, 18);
}

TEST_F(ButtonTest, ALongTitleIsCutToTheRoomLeft) {
    button->setFrame(CGRectMake(0, 0, 60, 44));
    button->setImage(solidImage(UIColor::redColor(), {20, 20}), UIControlStateNormal);
    button->setTitle(std::string("a title far too long"), UIControlStateNormal);
    button->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(button->titleLabel()->frame().size.width, 40);
}

TEST_F(ButtonTest, FittingSizes) {
    button->setTitle(std::string("abcd"), UIControlStateNormal);
    EXPECT_EQ(button->intrinsicContentSize(), CGSizeMake(30, 18));
    button->setImage(solidImage(UIColor::redColor(), {20, 24}), UIControlStateNormal);
    button->setContentEdgeInsets(UIEdgeInsetsMake(2, 3, 4, 5));
    EXPECT_EQ(button->intrinsicContentSize(), CGSizeMake(58, 30));
    button->sizeToFit();
    EXPECT_RECT(button->frame(), 0, 0, 58, 30);

    auto system = UIButton::buttonWithType(UIButtonTypeSystem);
    system->setTitle(std::string("abcd"), UIControlStateNormal);
    EXPECT_EQ(system->intrinsicContentSize(), CGSizeMake(30, 30));
}

TEST_F(ButtonTest, AttributedTitlesWin) {
    button->setTitle(std::string("plain"), UIControlStateNormal);
    button->setAttributedTitle(make<NSAttributedString>("rich"), UIControlStateNormal);
    EXPECT_EQ(button->titleLabel()->text(), std::optional<std::string>("rich"));
    EXPECT_EQ(button->currentTitle(), std::optional<std::string>("plain"));
    button->setAttributedTitle(nullptr, UIControlStateNormal);
    EXPECT_EQ(button->titleLabel()->text(), std::optional<std::string>("plain"));
}

TEST_F(ButtonTest, TrackingHighlights) {
    button->setTitle(std::string("a"), UIControlStateNormal);
    button->setTitle(std::string("pressed"), UIControlStateHighlighted);
    int taps = 0;
    button->addTarget(
        nullptr, [&](const Ref<NSObject>&, const Ref<UIEvent>&) { ++taps; }, UIControlEventTouchUpInside);
    button->trackTouchDownAt(CGPointMake(10, 10), nullptr);
    EXPECT_EQ(button->titleLabel()->text(), std::optional<std::string>("pressed"));
    button->trackTouchUpAt(CGPointMake(10, 10), nullptr);
    EXPECT_EQ(button->titleLabel()->text(), std::optional<std::string>("a"));
    EXPECT_EQ(taps, 1);
}

}  // namespace
