#pragma once
// Colour spaces and bitmap images.
//
// A CGImage is immutable pixels with a described layout: size in pixels, bits per component and
// per pixel, row bytes, colour space and bitmap info (alpha kind in the low five bits, byte
// order above). The pixels are an NSData shared by every holder, so images are cheap to pass
// around and safe to read from any thread.
//
// Decoded pictures (PNG, JPEG, GIF) all share one layout, the one the drawing code works in:
// 8 bits per component, 32 bits per pixel, rows of width * 4 bytes, device RGB, 32-bit
// little-endian byte order (BGRA in memory). Pictures with alpha are kCGImageAlphaPremultipliedFirst;
// opaque ones kCGImageAlphaNoneSkipFirst with the skipped byte set to 0xFF. CGImageGetAlphaInfo
// answers which.

#include <cstddef>
#include <cstdint>
#include <functional>

#include "foundation/NSData.h"
#include "foundation/NSObject.h"
#include "graphics/CGGeometry.h"

enum CGImageAlphaInfo : std::uint32_t {
    kCGImageAlphaNone = 0,
    kCGImageAlphaPremultipliedLast = 1,
    kCGImageAlphaPremultipliedFirst = 2,
    kCGImageAlphaLast = 3,
    kCGImageAlphaFirst = 4,
    kCGImageAlphaNoneSkipLast = 5,
    kCGImageAlphaNoneSkipFirst = 6,
    kCGImageAlphaOnly = 7,
};

using CGBitmapInfo = std::uint32_t;
// Plain constants rather than an enum, so that `kCGBitmapByteOrder32Little | kCGImageAlphaPremultipliedFirst`
// combines without mixing two enumeration types.
inline constexpr CGBitmapInfo kCGBitmapAlphaInfoMask = 0x1F;
inline constexpr CGBitmapInfo kCGBitmapFloatComponents = 1u << 8;
inline constexpr CGBitmapInfo kCGBitmapByteOrderMask = 0x7000;
inline constexpr CGBitmapInfo kCGBitmapByteOrderDefault = 0;
inline constexpr CGBitmapInfo kCGBitmapByteOrder16Little = 1u << 12;
inline constexpr CGBitmapInfo kCGBitmapByteOrder32Little = 2u << 12;
inline constexpr CGBitmapInfo kCGBitmapByteOrder16Big = 3u << 12;
inline constexpr CGBitmapInfo kCGBitmapByteOrder32Big = 4u << 12;

enum CGColorSpaceModel : std::int32_t {
    kCGColorSpaceModelUnknown = -1,
    kCGColorSpaceModelMonochrome = 0,
    kCGColorSpaceModelRGB = 1,
    kCGColorSpaceModelCMYK = 2,
    kCGColorSpaceModelLab = 3,
    kCGColorSpaceModelDeviceN = 4,
    kCGColorSpaceModelIndexed = 5,
    kCGColorSpaceModelPattern = 6,
};

class CGColorSpace : public NSObject {
  public:
    explicit CGColorSpace(CGColorSpaceModel model) : model_(model) {}
    CGColorSpaceModel model() const { return model_; }
    // Components per pixel, without alpha: 1 grey, 3 RGB, 4 CMYK.
    std::size_t numberOfComponents() const;
    std::string className() const override { return "CGColorSpace"; }

  private:
    CGColorSpaceModel model_;
};
using CGColorSpaceRef = Ref<CGColorSpace>;

CGColorSpaceRef CGColorSpaceCreateDeviceRGB();
CGColorSpaceRef CGColorSpaceCreateDeviceGray();
CGColorSpaceRef CGColorSpaceCreateDeviceCMYK();
CGColorSpaceModel CGColorSpaceGetModel(const CGColorSpaceRef& space);
std::size_t CGColorSpaceGetNumberOfComponents(const CGColorSpaceRef& space);

// A source of bytes for an image. The release callback, when given, runs once when the last
// holder of the provider goes (the GPU pipeline hands out pixel buffers this way).
class CGDataProvider : public NSObject {
  public:
    explicit CGDataProvider(NSData data, std::function<void()> releaseCallback = nullptr)
        : data_(std::move(data)), release_(std::move(releaseCallback)) {}
    ~CGDataProvider() override {
        if (release_) release_();
    }
    const NSData& data() const { return data_; }
    std::string className() const override { return "CGDataProvider"; }

  private:
    NSData data_;
    std::function<void()> release_;
};
using CGDataProviderRef = Ref<CGDataProvider>;

CGDataProviderRef CGDataProviderCreateWithData(NSData data, std::function<void()> releaseCallback = nullptr);
// A copy of the provider's bytes.
NSData CGDataProviderCopyData(const CGDataProviderRef& provider);

enum CGColorRenderingIntent : std::int32_t { kCGRenderingIntentDefault = 0 };

class CGImage;
namespace detail {
struct CGImageAccess;
// An image in the decoded layout above over `pixels` (width * height * 4 bytes). hasAlpha picks
// premultiplied-first; otherwise the caller guarantees every fourth byte is 0xFF (skip-first).
Ref<CGImage> makeBGRAImage(std::size_t width, std::size_t height, NSData pixels, bool hasAlpha);
}  // namespace detail

class CGImage : public NSObject {
  public:
    CGImage(std::size_t width, std::size_t height, std::size_t bitsPerComponent, std::size_t bitsPerPixel,
            std::size_t bytesPerRow, CGColorSpaceRef colorSpace, CGBitmapInfo bitmapInfo,
            CGDataProviderRef provider);

    std::size_t width() const { return width_; }
    std::size_t height() const { return height_; }
    std::size_t bitsPerComponent() const { return bitsPerComponent_; }
    std::size_t bitsPerPixel() const { return bitsPerPixel_; }
    std::size_t bytesPerRow() const { return bytesPerRow_; }
    const CGColorSpaceRef& colorSpace() const { return colorSpace_; }
    CGBitmapInfo bitmapInfo() const { return bitmapInfo_; }
    CGImageAlphaInfo alphaInfo() const {
        return static_cast<CGImageAlphaInfo>(bitmapInfo_ & kCGBitmapAlphaInfoMask);
    }
    const CGDataProviderRef& dataProvider() const { return provider_; }
    // The pixel bytes, bytesPerRow * height of them.
    const NSData& data() const { return provider_->data(); }

    bool shouldInterpolate() const { return shouldInterpolate_; }
    // True when the skipped byte of a skip-alpha layout is known to hold 0xFF, so the pixels can
    // be read as premultiplied without a pass over them.
    bool skippedBytesOpaque() const { return skippedBytesOpaque_; }

    std::string className() const override { return "CGImage"; }
    std::string description() const override;

  private:
    friend struct detail::CGImageAccess;

    std::size_t width_, height_, bitsPerComponent_, bitsPerPixel_, bytesPerRow_;
    CGColorSpaceRef colorSpace_;
    CGBitmapInfo bitmapInfo_;
    CGDataProviderRef provider_;
    bool shouldInterpolate_ = true;
    bool skippedBytesOpaque_ = false;
};
using CGImageRef = Ref<CGImage>;

// nullptr when the layout is inconsistent (zero size, too few bytes, unsupported depth).
// Accepted layouts, all 8 bits per component: RGB at 32 bits per pixel with alpha first or last
// (premultiplied, straight or skipped) in any byte order; RGB at 24 bits without alpha; grey at 8
// bits; grey with alpha at 16 bits; alpha only at 8 bits; CMYK at 32 bits without alpha.
CGImageRef CGImageCreate(std::size_t width, std::size_t height, std::size_t bitsPerComponent,
                         std::size_t bitsPerPixel, std::size_t bytesPerRow, const CGColorSpaceRef& space,
                         CGBitmapInfo bitmapInfo, const CGDataProviderRef& provider,
                         const CGFloat* decode = nullptr, bool shouldInterpolate = true,
                         CGColorRenderingIntent intent = kCGRenderingIntentDefault);
// Decoded from PNG or JPEG bytes; nullptr when the data is not such an image. A CMYK JPEG keeps
// its CMYK colour space here (32 bits per pixel, no alpha, plain ink values).
CGImageRef CGImageCreateWithPNGDataProvider(const CGDataProviderRef& provider,
                                            const CGFloat* decode = nullptr, bool shouldInterpolate = true,
                                            CGColorRenderingIntent intent = kCGRenderingIntentDefault);
CGImageRef CGImageCreateWithJPEGDataProvider(const CGDataProviderRef& provider,
                                             const CGFloat* decode = nullptr, bool shouldInterpolate = true,
                                             CGColorRenderingIntent intent = kCGRenderingIntentDefault);
// A crop in pixel coordinates (top-left origin), clipped to the image; nullptr when nothing is left.
CGImageRef CGImageCreateWithImageInRect(const CGImageRef& image, CGRect rect);

std::size_t CGImageGetWidth(const CGImageRef& image);
std::size_t CGImageGetHeight(const CGImageRef& image);
std::size_t CGImageGetBitsPerComponent(const CGImageRef& image);
std::size_t CGImageGetBitsPerPixel(const CGImageRef& image);
std::size_t CGImageGetBytesPerRow(const CGImageRef& image);
CGBitmapInfo CGImageGetBitmapInfo(const CGImageRef& image);
CGImageAlphaInfo CGImageGetAlphaInfo(const CGImageRef& image);
CGColorSpaceRef CGImageGetColorSpace(const CGImageRef& image);
CGDataProviderRef CGImageGetDataProvider(const CGImageRef& image);

namespace detail {
// Every image's pixels as premultiplied ARGB32 in native byte order (BGRA in memory on this
// machine), the layout the drawing code works in: rows of exactly width * 4 bytes. Converts from
// any supported layout; decoded images answer their own bytes without a copy. Empty for an image
// whose bytes cannot be read.
NSData pixelsAsPremultipliedBGRA(const CGImage& image);
}  // namespace detail
