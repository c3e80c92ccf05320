#pragma once
// Helpers for the drawing tests: reading pixels back and writing pictures out for a person to look
// at (into $APP_GOLDEN_OUT when set, else into a temporary folder of the test).

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "graphics/CGContext.h"

namespace drawtest {

struct RGBA {
    int r = 0, g = 0, b = 0, a = 0;
};

// A premultiplied BGRA context of w x h pixels, transparent.
CGContextRef makeBGRAContext(int width, int height);
// The pixel at (x, y), counted from the top-left of the memory, of a 32-bit premultiplied
// first/little-endian context, unpremultiplied.
RGBA pixel(const CGContextRef& context, int x, int y);
// As stored (premultiplied).
RGBA rawPixel(const CGContextRef& context, int x, int y);

::testing::AssertionResult near(const RGBA& actual, const RGBA& expected, int tolerance);

// Writes the context's picture as <name>.png; answers the path written.
std::string writePicture(const CGContextRef& context, const std::string& name);

// A test image of w x h pixels: each pixel's colour comes from fn(x, y) (top-left origin),
// opaque unless fn says otherwise.
CGImageRef makeImage(int width, int height, RGBA (*fn)(int x, int y));
// A 2x2 image: top-left red, top-right green, bottom-left blue, bottom-right white.
CGImageRef quadrantImage(int width = 2, int height = 2);

}  // namespace drawtest

#define EXPECT_PIXEL(actual, r, g, b, a, tol)                                                                \
    EXPECT_TRUE(drawtest::near((actual), drawtest::RGBA{r, g, b, a}, tol))
