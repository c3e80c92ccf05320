#include "DrawingTestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "graphics/UIImage.h"
#include "tests/support/TestSupport.h"

namespace drawtest {

CGContextRef makeBGRAContext(int width, int height) {
    return CGBitmapContextCreate(nullptr, std::size_t(width), std::size_t(height), 8, 0,
                                 CGColorSpaceCreateDeviceRGB(),
                                 kCGBitmapByteOrder32Little | kCGImageAlphaPremultipliedFirst);
}

RGBA rawPixel(const CGContextRef& context, int x, int y) {
    auto* data = static_cast<const std::uint8_t*>(CGBitmapContextGetData(context));
    const std::uint8_t* p =
        data + std::size_t(y) * CGBitmapContextGetBytesPerRow(context) + std::size_t(x) * 4;
    return RGBA{p[2], p[1], p[0], p[3]};
}

RGBA pixel(const CGContextRef& context, int x, int y) {
    RGBA raw = rawPixel(context, x, y);
    if (raw.a == 0) return RGBA{0, 0, 0, 0};
    auto un = [&](int c) { return std::min(255, (c * 255 + raw.a / 2) / raw.a); };
    return RGBA{un(raw.r), un(raw.g), un(raw.b), raw.a};
}

::testing::AssertionResult near(const RGBA& actual, const RGBA& expected, int tolerance) {
    auto off = [&](int a, int b) { return std::abs(a - b) > tolerance; };
    if (off(actual.r, expected.r) || off(actual.g, expected.g) || off(actual.b, expected.b) ||
        off(actual.a, expected.a)) {
        return ::testing::AssertionFailure()
               << "pixel (" << actual.r << ", " << actual.g << ", " << actual.b << ", " << actual.a
               << ") is not within " << tolerance << " of (" << expected.r << ", " << expected.g << ", "
               << expected.b << ", " << expected.a << ")";
    }
    return ::testing::AssertionSuccess();
}

std::string writePicture(const CGContextRef& context, const std::string& name) {
    // One temporary folder for the process, kept so the pictures can be looked at afterwards.
    static const std::string folder = [] {
        if (const char* out = std::getenv("APP_GOLDEN_OUT"); out && *out) {
            std::filesystem::create_directories(out);
            return std::string(out);
        }
        static testsupport::TemporaryDirectory* dir = new testsupport::TemporaryDirectory();
        return dir->path();
    }();
    auto image = UIImage::imageWithCGImage(CGBitmapContextCreateImage(context));
    auto png = UIImagePNGRepresentation(image);
    std::string path = folder + "/" + name + ".png";
    if (png) png->writeToFile(path);
    return path;
}

CGImageRef makeImage(int width, int height, RGBA (*fn)(int x, int y)) {
    NSData bytes = NSData::dataWithLength(std::size_t(width) * height * 4);
    std::uint8_t* p = bytes.mutableBytes();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            RGBA c = fn(x, y);
            std::uint8_t* q = p + (std::size_t(y) * width + x) * 4;
            q[0] = std::uint8_t(c.r), q[1] = std::uint8_t(c.g), q[2] = std::uint8_t(c.b),
            q[3] = std::uint8_t(c.a);
        }
    }
    return CGImageCreate(std::size_t(width), std::size_t(height), 8, 32, std::size_t(width) * 4,
                         CGColorSpaceCreateDeviceRGB(), kCGBitmapByteOrder32Big | kCGImageAlphaLast,
                         CGDataProviderCreateWithData(bytes));
}

namespace {
int gQuadW = 2, gQuadH = 2;
RGBA quadrant(int x, int y) {
    bool right = x >= gQuadW / 2, bottom = y >= gQuadH / 2;
    if (!right && !bottom) return {255, 0, 0, 255};
    if (right && !bottom) return {0, 255, 0, 255};
    if (!right && bottom) return {0, 0, 255, 255};
    return {255, 255, 255, 255};
}
}  // namespace

CGImageRef quadrantImage(int width, int height) {
    gQuadW = width, gQuadH = height;
    return makeImage(width, height, quadrant);
}

}  // namespace drawtest
