// The full-screen image viewer: where the picture opens and closes, and what it leaves behind.

#include <gtest/gtest.h>

#include "app/UIImageSacle.h"
#include "tests/app/AppTestSupport.h"
#include "uikit/UIApplication.h"
#include "uikit/UIImageView.h"
#include "uikit/UIScreen.h"
#include "uikit/UITapGestureRecognizer.h"
#include "uikit/UITestDriver.h"
#include "uikit/UIWindow.h"

namespace {

void expectRect(CGRect actual, CGRect expected) {
    EXPECT_NEAR(actual.origin.x, expected.origin.x, 1e-9);
    EXPECT_NEAR(actual.origin.y, expected.origin.y, 1e-9);
    EXPECT_NEAR(actual.size.width, expected.size.width, 1e-9);
    EXPECT_NEAR(actual.size.height, expected.size.height, 1e-9);
}

class UIImageSacleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UIScreen::mainScreen()->setBoundsSize(CGSizeMake(375, 667));
        window = make<UIWindow>(CGRectMake(0, 0, 375, 667));
        window->makeKeyAndVisible();
        holder = make<UIView>(CGRectMake(10, 100, 200, 200));
        window->addSubview(holder);
    }
    void TearDown() override {
        window->setHidden(true);
        UITestDriver::reset();
        UIScreen::mainScreen()->resetToConfiguration();
    }

    // An image view at (x, y) inside the holder showing a picture of the given size.
    Ref<UIImageView> thumbnail(CGFloat width, CGFloat height, CGPoint at = CGPointMake(20, 30)) {
        auto view = make<UIImageView>(CGRectMake(at.x, at.y, 40, 40));
        if (width > 0 || height > 0) view->setImage(apptest::solidImage(width, height));
        holder->addSubview(view);
        return view;
    }

    // The viewer's backdrops in the window, in order.
    std::vector<Ref<UIView>> backdrops() const {
        std::vector<Ref<UIView>> found;
        for (const Ref<UIView>& view : window->subviews())
            if (view != holder) found.push_back(view);
        return found;
    }

    testsupport::ManualClock clock;
    Ref<UIWindow> window;
    Ref<UIView> holder;
};

}  // namespace

TEST_F(UIImageSacleTest, AWidePictureOpensAcrossTheScreenCentredVertically) {
    auto view = thumbnail(1000, 500);
    UIImageSacle::showImage(view);
    auto shown = backdrops();
    ASSERT_EQ(shown.size(), 1u);
    Ref<UIView> backdrop = shown[0];
    expectRect(backdrop->frame(), CGRectMake(0, 0, 375, 667));
    EXPECT_TRUE(backdrop->backgroundColor()->isEqual(*UIColor::blackColor()));
    auto picture = std::dynamic_pointer_cast<UIImageView>(backdrop->viewWithTag(1));
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->image(), view->image());
    // The model values are the animation's end; the animation starts from the thumbnail's place.
    expectRect(picture->frame(), CGRectMake(0, 239.75, 375, 187.5));
    EXPECT_DOUBLE_EQ(backdrop->alpha(), 1);
    EXPECT_FALSE(picture->layer()->animationKeys().empty());
    clock.advance(0.5);
    expectRect(picture->frame(), CGRectMake(0, 239.75, 375, 187.5));
}

TEST_F(UIImageSacleTest, ATallPictureKeepsTheScreenWidthAndReachesPastBothEdges) {
    UIImageSacle::showImage(thumbnail(100, 400));
    auto picture = backdrops().at(0)->viewWithTag(1);
    ASSERT_TRUE(picture);
    expectRect(picture->frame(), CGRectMake(0, (667 - 1500) * 0.5, 375, 1500));
    EXPECT_LT(picture->frame().origin.y, 0);
}

TEST_F(UIImageSacleTest, ATapOnTheBackdropShrinksThePictureBackAndRemovesEverything) {
    auto view = thumbnail(1000, 500);
    UIImageSacle::showImage(view);
    clock.advance(0.5);
    Ref<UIView> backdrop = backdrops().at(0);
    Ref<UIView> picture = backdrop->viewWithTag(1);
    UITestDriver::tapAt(backdrop, CGPointMake(20, 20));
    // The holder is at (10, 100) and the thumbnail at (20, 30) inside it.
    expectRect(picture->frame(), CGRectMake(30, 130, 40, 40));
    EXPECT_DOUBLE_EQ(backdrop->alpha(), 0);
    EXPECT_TRUE(backdrop->superview());  // until the animation ends
    clock.advance(0.5);
    EXPECT_FALSE(backdrop->superview());
    EXPECT_TRUE(backdrops().empty());
    EXPECT_EQ(view->superview(), holder);  // the caller's view is untouched
}

TEST_F(UIImageSacleTest, ASecondViewerMakesBothCloseToTheSecondOrigin) {
    UIImageSacle::showImage(thumbnail(1000, 500, CGPointMake(0, 0)));
    UIImageSacle::showImage(thumbnail(1000, 500, CGPointMake(100, 150)));
    clock.advance(0.5);
    auto shown = backdrops();
    ASSERT_EQ(shown.size(), 2u);
    auto first = shown[0], second = shown[1];
    auto firstPicture = first->viewWithTag(1), secondPicture = second->viewWithTag(1);
    UIImageSacle::hideImage(second->gestureRecognizers().at(0));
    UIImageSacle::hideImage(first->gestureRecognizers().at(0));
    expectRect(firstPicture->frame(), CGRectMake(110, 250, 40, 40));
    expectRect(secondPicture->frame(), CGRectMake(110, 250, 40, 40));
    clock.advance(0.5);
    EXPECT_TRUE(backdrops().empty());
}

TEST_F(UIImageSacleTest, NothingOpensWithoutAPictureWithWidth) {
    UIImageSacle::showImage(thumbnail(0, 0));   // no picture at all
    UIImageSacle::showImage(thumbnail(0, 30));  // a picture without width
    UIImageSacle::showImage(nullptr);
    EXPECT_TRUE(backdrops().empty());
}

TEST_F(UIImageSacleTest, NothingOpensWithoutAKeyWindow) {
    auto view = thumbnail(100, 50);
    Ref<UIApplication> saved = UIApplication::sharedApplication();
    UIApplication::setSharedApplication(make<UIApplication>());
    UIImageSacle::showImage(view);
    UIApplication::setSharedApplication(saved);
    EXPECT_TRUE(backdrops().empty());
}

TEST_F(UIImageSacleTest, ClosingWithoutAViewDoesNothing) {
    UIImageSacle::hideImage(nullptr);
    UIImageSacle::hideImage(make<UITapGestureRecognizer>());  // attached to nothing
    SUCCEED();
}

TEST(UIImageSacleInstanceTest, TheOldFramePropertyIsPlainStorage) {
    auto viewer = make<UIImageSacle>();
    EXPECT_TRUE(CGRectEqualToRect(viewer->oldframe(), CGRectZero));
    viewer->setOldframe(CGRectMake(1, 2, 3, 4));
    EXPECT_TRUE(CGRectEqualToRect(viewer->oldframe(), CGRectMake(1, 2, 3, 4)));
}
