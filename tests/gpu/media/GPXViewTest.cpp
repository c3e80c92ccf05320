#include <gtest/gtest.h>

#include "gpu/core/GPXFilter.h"
#include "gpu/core/GPXFramebufferCache.h"
#include "gpu/core/GPXPicture.h"
#include "gpu/media/GPXView.h"
#include "tests/gpu/core/GPUTestSupport.h"
#include "uikit/UIScreen.h"
#include "uikit/UIWindow.h"
#include "uikit/UIWindowRenderer.h"

using namespace gputest;

namespace {

// A picture of two halves: red on the left, blue on the right; green across the top row when
// asked, to tell up from down.
CGImageRef halves(std::size_t w, std::size_t h, bool greenTop = false) {
    std::vector<RGBA> pixels(w * h);
    for (std::size_t y = 0; y < h; ++y) {
        for (std::size_t x = 0; x < w; ++x) {
            pixels[y * w + x] = x < w / 2 ? RGBA{255, 0, 0, 255} : RGBA{0, 0, 255, 255};
            if (greenTop && y < h / 2) pixels[y * w + x] = RGBA{0, 255, 0, 255};
        }
    }
    return makePremultipliedImage(w, h, pixels);
}

class GPXViewTest : public ::testing::Test {
  protected:
    void SetUp() override { UIScreen::mainScreen()->setScale(1); }
    void TearDown() override { UIScreen::mainScreen()->setScale(2); }

    // Draws the picture into the view once and answers what the layer shows.
    CGImageRef show(const Ref<GPXView>& view, const CGImageRef& image) {
        auto picture = make<GPXPicture>(image);
        picture->addTarget(view);
        auto done = dispatch_semaphore_create(0);
        EXPECT_TRUE(picture->processImageWithCompletionHandler([done] { dispatch_semaphore_signal(done); }));
        EXPECT_TRUE(waitFor(done));
        picture->removeTarget(view);
        return view->eaglLayer()->presentedImage();
    }
};

TEST_F(GPXViewTest, DisplayCoordinatesAreTheFilterRowsWithTopAndBottomExchanged) {
    for (int mode = -1; mode <= 8; ++mode) {
        SCOPED_TRACE(mode);
        const GLfloat* display = GPXView::textureCoordinatesForRotation(static_cast<GPURotationMode>(mode));
        const GLfloat* filter = GPXFilter::textureCoordinatesForRotation(static_cast<GPURotationMode>(mode));
        const int swapped[8] = {4, 5, 6, 7, 0, 1, 2, 3};
        for (int i = 0; i < 8; ++i) EXPECT_EQ(display[i], filter[swapped[i]]) << i;
    }
}

TEST_F(GPXViewTest, QuadFollowsTheFillMode) {
    auto view = make<GPXView>(CGRectMake(0, 0, 320, 320));
    EXPECT_EQ(view->fillMode(), kGPXFillModePreserveAspectRatio);
    EXPECT_TRUE(view->enabled());
    view->setInputSize(CGSizeMake(640, 480), 0);
    struct Case {
        int mode;
        float sx, sy;
    } cases[] = {{1, 1.0f, 0.75f}, {2, 1.3333334f, 1.0f}, {0, 1.0f, 1.0f}, {7, 1.0f, 1.0f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        view->setFillMode(c.mode);
        const auto v = view->imageVertices();
        const std::array<GLfloat, 8> expected = {-c.sx, -c.sy, c.sx, -c.sy, -c.sx, c.sy, c.sx, c.sy};
        for (int i = 0; i < 8; ++i) EXPECT_NEAR(v[i], expected[i], 1e-5) << i;
    }
}

TEST_F(GPXViewTest, QuarterTurnsSwapTheInputSize) {
    auto view = make<GPXView>(CGRectMake(0, 0, 100, 100));
    for (auto rotation :
         {rotationLeft, rotationRight, rotationRightFlipVertical, rotationRightFlipHorizontal}) {
        view->setInputRotation(rotation, 0);
        view->setInputSize(CGSizeMake(30, 20), 0);
        EXPECT_EQ(view->inputImageSize(), CGSizeMake(20, 30));
    }
    view->setInputRotation(rotation180, 0);
    view->setInputSize(CGSizeMake(30, 20), 0);
    EXPECT_EQ(view->inputImageSize(), CGSizeMake(30, 20));
    EXPECT_EQ(view->inputRotation(), rotation180);
}

TEST_F(GPXViewTest, LayoutRebuildsTheFramebufferOnlyForANewNonZeroSize) {
    auto view = make<GPXView>(CGRectMake(0, 0, 40, 30));
    const GLuint first = view->displayFramebuffer();
    ASSERT_NE(first, 0u);
    EXPECT_EQ(view->sizeInPixels(), CGSizeMake(40, 30));
    view->layoutSubviews();  // same size
    EXPECT_EQ(view->displayFramebuffer(), first);
    view->setFrame(CGRectMake(0, 0, 0, 0));
    view->layoutSubviews();  // zero: kept
    EXPECT_EQ(view->displayFramebuffer(), first);
    view->setFrame(CGRectMake(0, 0, 60, 20));
    view->layoutSubviews();
    EXPECT_NE(view->displayFramebuffer(), 0u);
    EXPECT_EQ(view->sizeInPixels(), CGSizeMake(60, 20));
    EXPECT_EQ(view->maximumOutputSize(), CGSizeMake(60, 20));
}

TEST_F(GPXViewTest, AFrameBeforeTheViewHasASizeDrawsNothingAndGivesTheFrameBack) {
    auto view = make<GPXView>();
    EXPECT_EQ(view->displayFramebuffer(), 0u);
    EXPECT_EQ(view->sizeInPixels(), CGSizeZero);
    auto framebuffer = GPXContext::sharedFramebufferCache()->fetchFramebufferForSize(CGSizeMake(4, 4), false);
    const auto before = framebuffer->framebufferReferenceCount();
    view->setInputFramebuffer(framebuffer, 0);
    EXPECT_EQ(framebuffer->framebufferReferenceCount(), before + 1);
    view->setInputSize(CGSizeMake(4, 4), 0);
    view->newFrameReadyAtTime(kCMTimeIndefinite, 0);
    EXPECT_EQ(framebuffer->framebufferReferenceCount(), before);
    EXPECT_EQ(view->displayFramebuffer(), 0u);
    EXPECT_EQ(view->eaglLayer()->presentCount(), 0u);
    framebuffer->unlock();
}

TEST_F(GPXViewTest, DrawsUprightAtEachFillModeAndRotation) {
    auto view = make<GPXView>(CGRectMake(0, 0, 40, 20));
    view->setFillMode(kGPXFillModeStretch);
    auto shown = show(view, halves(8, 8, true));
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->width(), 40u);
    EXPECT_EQ(shown->height(), 20u);
    EXPECT_TRUE(near(rgbaAt(shown, 5, 2), {0, 255, 0, 255}));    // top stays on top
    EXPECT_TRUE(near(rgbaAt(shown, 5, 17), {255, 0, 0, 255}));   // bottom left red
    EXPECT_TRUE(near(rgbaAt(shown, 35, 17), {0, 0, 255, 255}));  // bottom right blue

    view->setInputRotation(rotation180, 0);
    shown = show(view, halves(8, 8, true));
    EXPECT_TRUE(near(rgbaAt(shown, 5, 17), {0, 255, 0, 255}));  // turned: green at the bottom
    EXPECT_TRUE(near(rgbaAt(shown, 5, 2), {0, 0, 255, 255}));   // and blue on the left

    // A quarter turn to the left: the top (green) comes to the left side.
    view->setInputRotation(rotationLeft, 0);
    shown = show(view, halves(8, 8, true));
    EXPECT_TRUE(near(rgbaAt(shown, 5, 10), {0, 255, 0, 255}));
    EXPECT_TRUE(near(rgbaAt(shown, 35, 2), {0, 0, 255, 255}));   // blue (right) now at the top
    EXPECT_TRUE(near(rgbaAt(shown, 35, 17), {255, 0, 0, 255}));  // red (left) at the bottom

    // Aspect ratio kept: a square picture in a 40 x 20 view leaves side bars of the background.
    view->setInputRotation(rotationNone, 0);
    view->setFillMode(kGPXFillModePreserveAspectRatio);
    view->setBackgroundColorRed(1, 1, 1, 1);
    shown = show(view, halves(8, 8));
    EXPECT_TRUE(near(rgbaAt(shown, 2, 10), {255, 255, 255, 255}));
    EXPECT_TRUE(near(rgbaAt(shown, 37, 10), {255, 255, 255, 255}));
    EXPECT_TRUE(near(rgbaAt(shown, 15, 10), {255, 0, 0, 255}));
    EXPECT_TRUE(near(rgbaAt(shown, 25, 10), {0, 0, 255, 255}));

    // Filling: the square covers the view and is cropped top and bottom.
    view->setFillMode(kGPXFillModePreserveAspectRatioAndFill);
    shown = show(view, halves(8, 8, true));
    EXPECT_TRUE(near(rgbaAt(shown, 2, 2), {0, 255, 0, 255}));
    EXPECT_TRUE(near(rgbaAt(shown, 2, 18), {255, 0, 0, 255}));
    EXPECT_TRUE(near(rgbaAt(shown, 38, 18), {0, 0, 255, 255}));
    EXPECT_EQ(view->eaglLayer()->presentCount(), 5u);
}

TEST_F(GPXViewTest, AWindowRenderingShowsTheView) {
    auto window = make<UIWindow>(CGRectMake(0, 0, 60, 60));
    window->setBackgroundColor(UIColor::whiteColor());
    window->setHidden(false);
    auto view = make<GPXView>(CGRectMake(10, 10, 40, 40));
    window->addSubview(view);
    view->setFillMode(kGPXFillModeStretch);
    show(view, halves(4, 4, true));
    auto rendered = UIWindowRenderer::imageOfView(window, 1);
    ASSERT_NE(rendered, nullptr);
    auto cg = rendered->CGImage();
    auto pixel = [&](std::size_t x, std::size_t y) {
        const auto* p = cg->data().bytes() + y * cg->bytesPerRow() + x * 4;
        // The renderer's pictures are premultiplied BGRA.
        return RGBA{p[2], p[1], p[0], p[3]};
    };
    EXPECT_TRUE(near(pixel(2, 2), {255, 255, 255, 255}));
    EXPECT_TRUE(near(pixel(15, 15), {0, 255, 0, 255}));
    EXPECT_TRUE(near(pixel(15, 45), {255, 0, 0, 255}));
    EXPECT_TRUE(near(pixel(45, 45), {0, 0, 255, 255}));
}

}  // namespace
