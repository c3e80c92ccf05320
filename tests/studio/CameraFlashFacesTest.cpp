// The camera's flash button as a user meets it: a tap cycles the modes, and each mode has a face
// of its own a user can name (a bolt with an "A" for auto, the bolt struck through for off), drawn
// sharp at the screen's scale and unlike the close button beside it.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "studio/CameraArtwork.h"
#include "tests/studio/CameraTestSupport.h"
#include "tests/support/GoldenImage.h"

using namespace cameratest;

namespace {

struct Pixel {
    int red, green, blue, alpha;  // not premultiplied
    bool yellow() const { return alpha > 200 && red > 200 && green > 150 && blue < 90; }
    bool light() const { return alpha > 200 && red > 170 && green > 170 && blue > 170; }
};

// A picture's pixels, read once.
class Pixels {
  public:
    explicit Pixels(const Ref<UIImage>& image)
        : width_(image->CGImage()->width()),
          height_(image->CGImage()->height()),
          bgra_(detail::pixelsAsPremultipliedBGRA(*image->CGImage())) {}

    // The pixel under a point given in parts of the picture's width and height.
    Pixel at(CGFloat x, CGFloat y) const {
        return pixel(std::min(width_ - 1, static_cast<std::size_t>(x * width_)),
                     std::min(height_ - 1, static_cast<std::size_t>(y * height_)));
    }

    // The share of the opaque pixels that match `test`.
    double shareOf(const std::function<bool(const Pixel&)>& test) const {
        std::size_t opaque = 0, matching = 0;
        for (std::size_t y = 0; y < height_; ++y) {
            for (std::size_t x = 0; x < width_; ++x) {
                Pixel p = pixel(x, y);
                if (p.alpha < 200) continue;
                ++opaque;
                matching += test(p);
            }
        }
        return opaque ? static_cast<double>(matching) / opaque : 0;
    }

  private:
    Pixel pixel(std::size_t x, std::size_t y) const {
        const std::uint8_t* p = bgra_.bytes() + (y * width_ + x) * 4;
        auto plain = [&](int channel) { return p[3] ? std::min(255, channel * 255 / p[3]) : 0; };
        return {plain(p[2]), plain(p[1]), plain(p[0]), p[3]};
    }

    std::size_t width_, height_;
    NSData bgra_;
};

// Points along the off face's stroke, from its upper left to its lower right end.
constexpr CGPoint kStroke[] = {{0.29, 0.27}, {0.38, 0.37}, {0.5, 0.5}, {0.62, 0.63}, {0.71, 0.73}};

class CameraFlashFacesTest : public CameraTest {
  protected:
    Ref<UIButton> flash() { return camera->flashButton.lock(); }
    Ref<UIImage> face() { return flash()->imageForState(UIControlStateNormal); }
};

}  // namespace

TEST_F(CameraFlashFacesTest, TapsCycleTheModesAndEachShowsItsOwnFace) {
    open();
    // The camera is reached from the home screen, which hides the navigation bar.
    navigation->setNavigationBarHidden(true, false);
    settle();
    ASSERT_TRUE(flash());
    // The finger lands on the flash button, not on anything over it.
    CGPoint centre = flash()->convertPointToView(CGPointMake(20, 20), window);
    EXPECT_EQ(window->hitTest(centre, nullptr), flash());

    struct Step {
        AVCaptureFlashMode mode;
        const char* picture;
    };
    const Step steps[] = {
        {AVCaptureFlashModeAuto, "shangguang"},  // as the camera starts
        {AVCaptureFlashModeOff, "shangguang-guanbi"},
        {AVCaptureFlashModeAuto, "shangguang"},
        {AVCaptureFlashModeOff, "shangguang-guanbi"},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        if (i > 0) UITestDriver::tap(flash());
        EXPECT_EQ(camera->device->flashMode(), steps[i].mode);
        EXPECT_EQ(face(), CameraArtwork::imageNamed(steps[i].picture));
        EXPECT_TRUE(flash()->isEnabled());
    }
}

TEST_F(CameraFlashFacesTest, TheFacesAreABoltWithAnAOrStruckThroughAtTheScreensScale) {
    auto automatic = CameraArtwork::imageNamed("shangguang");
    auto off = CameraArtwork::imageNamed("shangguang-guanbi");
    auto close = CameraArtwork::imageNamed("guanbi");
    ASSERT_TRUE(automatic && off && close);
    for (const auto& picture : {automatic, off}) {
        EXPECT_EQ(picture->scale(), UIScreen::mainScreen()->scale());
        EXPECT_EQ(picture->size().width, 40);
        EXPECT_EQ(picture->size().height, 40);
    }
    const Pixels autoFace(automatic), offFace(off);
    // Auto: a yellow bolt on the left and a yellow "A" in the lower right, far from plain.
    EXPECT_GT(autoFace.shareOf([](const Pixel& p) { return p.yellow(); }), 0.12);
    bool boltOnTheLeft = false, letterLowerRight = false;
    for (CGFloat y = 0.2; y < 0.85; y += 0.025) {
        for (CGFloat x = 0.1; x < 0.9; x += 0.025) {
            if (!autoFace.at(x, y).yellow()) continue;
            boltOnTheLeft = boltOnTheLeft || (x < 0.4 && y > 0.4 && y < 0.6);
            letterLowerRight = letterLowerRight || (x > 0.62 && y > 0.5);
        }
    }
    EXPECT_TRUE(boltOnTheLeft);
    EXPECT_TRUE(letterLowerRight);
    // Off: no yellow at all, the bolt in light grey with a stroke through it end to end.
    EXPECT_EQ(offFace.shareOf([](const Pixel& p) { return p.yellow(); }), 0);
    EXPECT_GT(offFace.shareOf([](const Pixel& p) { return p.light(); }), 0.12);
    for (CGPoint point : kStroke) EXPECT_TRUE(offFace.at(point.x, point.y).light()) << point.x;
    // The auto face has no such stroke: some of its points are the dark ground.
    int darkOnTheStroke = 0;
    for (CGPoint point : kStroke) darkOnTheStroke += !autoFace.at(point.x, point.y).light();
    EXPECT_GE(darkOnTheStroke, 2);
    // Neither reads as the close button beside them.
    EXPECT_GT(testsupport::differingShare(automatic, close, 40), 0.1);
    EXPECT_GT(testsupport::differingShare(off, close, 40), 0.1);
    EXPECT_GT(testsupport::differingShare(automatic, off, 40), 0.1);
}
