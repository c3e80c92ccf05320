#pragma once
// Pixel probes for the control tests: a rendered picture read back as unpremultiplied RGBA.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "graphics/CGImage.h"
#include "graphics/UIGraphics.h"
#include "graphics/UIImage.h"

namespace controlstest {

struct RGBA {
    int r = 0, g = 0, b = 0, a = 0;
};

// A picture's pixels, converted once, read by (x, y) from the top left.
class PixelReader {
  public:
    explicit PixelReader(const Ref<UIImage>& image)
        : bytes_(detail::pixelsAsPremultipliedBGRA(*image->CGImage())), width_(image->CGImage()->width()) {}
    RGBA at(int x, int y) const {
        const std::uint8_t* p = bytes_.bytes() + (std::size_t(y) * width_ + std::size_t(x)) * 4;
        int a = p[3];
        if (a == 0) return {0, 0, 0, 0};
        auto un = [a](int c) { return std::min(255, (c * 255 + a / 2) / a); };
        return {un(p[2]), un(p[1]), un(p[0]), a};
    }

  private:
    NSData bytes_;
    std::size_t width_;
};

// The pixel at (x, y) of the image, top-left origin, in pixels (one probe; use a PixelReader for
// many).
inline RGBA pixelAt(const Ref<UIImage>& image, int x, int y) {
    return PixelReader(image).at(x, y);
}

inline ::testing::AssertionResult colorNear(RGBA actual, RGBA expected, int tolerance = 3) {
    auto off = [&](int a, int b) { return std::abs(a - b) > tolerance; };
    if (off(actual.r, expected.r) || off(actual.g, expected.g) || off(actual.b, expected.b) ||
        off(actual.a, expected.a)) {
        return ::testing::AssertionFailure()
               << "(" << actual.r << ", " << actual.g << ", " << actual.b << ", " << actual.a << ") is not ("
               << expected.r << ", " << expected.g << ", " << expected.b << ", " << expected.a << ")";
    }
    return ::testing::AssertionSuccess();
}

// A plain picture of one colour.
inline Ref<UIImage> solidImage(const Ref<UIColor>& color, CGSize size = {10, 10}, CGFloat scale = 1) {
    UIGraphicsBeginImageContextWithOptions(size, false, scale);
    color->setFill();
    UIRectFill(CGRect{{0, 0}, size});
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

}  // namespace controlstest

#define EXPECT_PIXEL(image, x, y, r, g, b, a)                                                                \
    EXPECT_TRUE(controlstest::colorNear(controlstest::pixelAt(image, x, y), controlstest::RGBA{r, g, b, a})) \
        << "at " << x << ", " << y
