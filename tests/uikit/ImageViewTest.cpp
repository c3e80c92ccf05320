// Image views: the picture shown, highlighted variants, frame animation on the manual clock,
// animated images, template tinting and sizes.

#include <gtest/gtest.h>

#include "graphics/UIGraphics.h"
#include "tests/uikit/ControlsTestSupport.h"
#include "tests/uikit/UIKitTestSupport.h"
#include "uikit/UIImageView.h"
#include "uikit/UIWindowRenderer.h"

namespace {

using testsupport::ManualClock;

using controlstest::solidImage;
constexpr auto solid = [](const Ref<UIColor>& color, CGSize size = {10, 10}, CGFloat scale = 1) {
    return solidImage(color, size, scale);
};

class ImageViewTest : public uikittest::UIKitTest {
  protected:
    void SetUp() override {
        UIKitTest::SetUp();
        red = solid(UIColor::redColor());
        green = solid(UIColor::greenColor());
        blue = solid(UIColor::blueColor());
        view = make<UIImageView>(CGRectMake(0, 0, 20, 20));
    }
    Ref<UIImage> red, green, blue;
    Ref<UIImageView> view;
};

TEST_F(ImageViewTest, ShowsTheImageThroughItsLayer) {
    EXPECT_FALSE(view->isUserInteractionEnabled());
    EXPECT_EQ(view->displayedImage(), nullptr);
    EXPECT_EQ(view->layer()->contents(), nullptr);
    view->setImage(red);
    EXPECT_EQ(view->displayedImage(), red);
    EXPECT_EQ(view->layer()->contents(), red->CGImage());
    view->setImage(nullptr);
    EXPECT_EQ(view->layer()->contents(), nullptr);
}

TEST_F(ImageViewTest, HighlightedImageWhileHighlighted) {
    view->setImage(red);
    view->setHighlightedImage(green);
    EXPECT_EQ(view->displayedImage(), red);
    view->setHighlighted(true);
    EXPECT_EQ(view->displayedImage(), green);
    view->setHighlightedImage(nullptr);
    EXPECT_EQ(view->displayedImage(), red);  // no highlighted image: the image
}

TEST_F(ImageViewTest, InitWithImageTakesItsSize) {
    auto big = solid(UIColor::redColor(), {40, 30}, 2);
    auto fitted = make<UIImageView>(big);
    EXPECT_RECT(fitted->frame(), 0, 0, 40, 30);
    EXPECT_EQ(fitted->intrinsicContentSize(), CGSizeMake(40, 30));
    EXPECT_DOUBLE_EQ(fitted->layer()->contentsScale(), 2);
    EXPECT_EQ(view->intrinsicContentSize(), CGSizeMake(UIViewNoIntrinsicMetric, UIViewNoIntrinsicMetric));
}

TEST_F(ImageViewTest, FramesAdvanceOnTheClock) {
    ManualClock clock;
    view->setImage(red);
    view->setAnimationImages({green, blue});
    view->setAnimationDuration(0.2);  // 0.1 s per frame
    view->startAnimating();
    EXPECT_TRUE(view->isAnimating());
    EXPECT_EQ(view->displayedImage(), green);
    clock.advance(0.1);
    EXPECT_EQ(view->displayedImage(), blue);
    EXPECT_EQ(view->layer()->contents(), blue->CGImage());
    clock.advance(0.1);
    EXPECT_EQ(view->displayedImage(), green);  // repeats until stopped
    view->stopAnimating();
    EXPECT_FALSE(view->isAnimating());
    EXPECT_EQ(view->displayedImage(), red);
    clock.advance(1);
    EXPECT_EQ(view->displayedImage(), red);
}

TEST_F(ImageViewTest, RepeatCountEndsOnTheImage) {
    ManualClock clock;
    view->setImage(red);
    view->setAnimationImages({green, blue});
    view->setAnimationDuration(0.2);
    view->setAnimationRepeatCount(2);
    view->startAnimating();
    clock.advance(0.3);
    EXPECT_TRUE(view->isAnimating());
    EXPECT_EQ(view->displayedImage(), blue);
    clock.advance(0.1);
    EXPECT_FALSE(view->isAnimating());
    EXPECT_EQ(view->displayedImage(), red);
}

TEST_F(ImageViewTest, DefaultDurationIsAThirtiethPerFrame) {
    ManualClock clock;
    view->setAnimationImages({green, blue, red});
    view->startAnimating();
    clock.advance(1.0 / 30);
    EXPECT_EQ(view->currentFrameIndex(), 1u);
}

TEST_F(ImageViewTest, StartingWithoutFramesDoesNothing) {
    view->startAnimating();
    EXPECT_FALSE(view->isAnimating());
    view->setAnimationImages({green});
    view->startAnimating();
    EXPECT_TRUE(view->isAnimating());
    view->setAnimationImages({});  // new frames stop a running animation
    EXPECT_FALSE(view->isAnimating());
}

TEST_F(ImageViewTest, AnAnimatedImagePlaysByItself) {
    ManualClock clock;
    auto animated = UIImage::animatedImageWithImages({red, green, blue}, 0.3);
    view->setImage(animated);
    EXPECT_FALSE(view->isAnimating());  // only explicit frames count as animating
    EXPECT_EQ(view->displayedImage(), red);
    clock.advance(0.1);
    EXPECT_EQ(view->displayedImage(), green);
    view->setImage(blue);
    clock.advance(0.1);
    EXPECT_EQ(view->displayedImage(), blue);

    auto fromConstructor = make<UIImageView>(animated);
    clock.advance(0.2);
    EXPECT_EQ(fromConstructor->displayedImage(), blue);
}

TEST_F(ImageViewTest, AViewGoneMidAnimationStopsItsTimer) {
    ManualClock clock;
    view->setAnimationImages({green, blue});
    view->startAnimating();
    view.reset();
    clock.advance(1);  // nothing to call: no crash
}

TEST_F(ImageViewTest, TemplateImagesShowInTheTintColour) {
    auto templ = red->imageWithRenderingMode(UIImageRenderingMode::AlwaysTemplate);
    view->setTintColor(UIColor::blueColor());
    view->setImage(templ);
    auto picture = UIWindowRenderer::imageOfView(view, 1);
    ASSERT_TRUE(picture);
    // Stretched over the view, in blue rather than red.
    EXPECT_PIXEL(picture, 10, 10, 0, 0, 255, 255);
    view->setTintColor(UIColor::greenColor());
    EXPECT_PIXEL(UIWindowRenderer::imageOfView(view, 1), 10, 10, 0, 255, 0, 255);
    // A plain image keeps its colours whatever the tint.
    view->setImage(red);
    EXPECT_PIXEL(UIWindowRenderer::imageOfView(view, 1), 10, 10, 255, 0, 0, 255);
}

}  // namespace
