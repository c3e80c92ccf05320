#pragma once
// Shared helpers for the controls tests: console capture and view-tree builders.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "controls/GHProgressHUDResources.h"
#include "foundation/FoundationTesting.h"
#include "foundation/NSBundle.h"
#include "foundation/NSLog.h"
#include "graphics/CGImage.h"
#include "graphics/UIImage.h"
#include "tests/support/TestSupport.h"
#include "uikit/UIView.h"
#include "uikit/UIWindowRenderer.h"

namespace controlstest {

// Captures the console while alive.
class LogCapture {
  public:
    LogCapture() {
        previous_ = NSLogSetSink([this](const std::string& line) { lines.push_back(line); });
    }
    ~LogCapture() { NSLogSetSink(previous_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    bool contains(const std::string& text) const {
        for (const auto& l : lines) {
            if (l.find(text) != std::string::npos) return true;
        }
        return false;
    }
    std::vector<std::string> lines;

  private:
    NSLogSink previous_;
};

inline Ref<UIView> viewIn(const Ref<UIView>& parent, CGRect frame = CGRectMake(0, 0, 10, 10)) {
    auto view = make<UIView>(frame);
    if (parent) parent->addSubview(view);
    return view;
}

// A resources folder holding the HUD's bundle, made the main bundle while alive.
class HUDResources {
  public:
    HUDResources() {
        EXPECT_TRUE(GHProgressHUDResources::writeBundle(folder.path()));
        NSBundle::setMainBundlePath(folder.path());
    }
    ~HUDResources() { foundation_testing::resetBundles(); }
    HUDResources(const HUDResources&) = delete;
    HUDResources& operator=(const HUDResources&) = delete;
    testsupport::TemporaryDirectory folder;
};

struct RGBA {
    int r, g, b, a;
};

// The pixel at (x, y) of the image, top-left origin, in pixels, unpremultiplied; transparent
// outside the picture.
inline RGBA pixelAt(const Ref<UIImage>& image, int x, int y) {
    const auto& cg = image->CGImage();
    if (x < 0 || y < 0 || std::size_t(x) >= cg->width() || std::size_t(y) >= cg->height())
        return {0, 0, 0, 0};
    // The last picture's pixels are kept (with the picture, so its address is not reused).
    static CGImageRef cachedImage;
    static NSData cachedBytes;
    if (cachedImage != cg) {
        cachedBytes = detail::pixelsAsPremultipliedBGRA(*cg);
        cachedImage = cg;
    }
    const NSData& bytes = cachedBytes;
    const std::uint8_t* p = bytes.bytes() + (std::size_t(y) * cg->width() + std::size_t(x)) * 4;
    int a = p[3];
    if (a == 0) return {0, 0, 0, 0};
    auto un = [a](int c) { return std::min(255, (c * 255 + a / 2) / a); };
    return {un(p[2]), un(p[1]), un(p[0]), a};
}

inline ::testing::AssertionResult near(RGBA actual, RGBA expected, int tolerance = 3) {
    auto off = [&](int a, int b) { return std::abs(a - b) > tolerance; };
    if (off(actual.r, expected.r) || off(actual.g, expected.g) || off(actual.b, expected.b) ||
        off(actual.a, expected.a)) {
        return ::testing::AssertionFailure()
               << "(" << actual.r << ", " << actual.g << ", " << actual.b << ", " << actual.a << ") is not ("
               << expected.r << ", " << expected.g << ", " << expected.b << ", " << expected.a << ")";
    }
    return ::testing::AssertionSuccess();
}

// A view rendered alone at scale 1.
inline Ref<UIImage> render(const Ref<UIView>& view) {
    return UIWindowRenderer::imageOfView(view, 1);
}

}  // namespace controlstest

#define EXPECT_PX(image, x, y, r, g, b, a)                                                                   \
    EXPECT_TRUE(controlstest::near(controlstest::pixelAt(image, x, y), controlstest::RGBA{r, g, b, a}))      \
        << "at " << (x) << ", " << (y)
#define EXPECT_PX_TOL(image, x, y, r, g, b, a, tol)                                                          \
    EXPECT_TRUE(controlstest::near(controlstest::pixelAt(image, x, y), controlstest::RGBA{r, g, b, a}, tol)) \
        << "at " << (x) << ", " << (y)
