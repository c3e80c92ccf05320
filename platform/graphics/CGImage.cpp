#include "graphics/CGImage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "graphics/ImageCodec.h"

std::size_t CGColorSpace::numberOfComponents() const {
    switch (model_) {
        case kCGColorSpaceModelMonochrome:
        case kCGColorSpaceModelIndexed:
            return 1;
        case kCGColorSpaceModelRGB:
        case kCGColorSpaceModelLab:
            return 3;
        case kCGColorSpaceModelCMYK:
            return 4;
        default:
            return 0;
    }
}

CGColorSpaceRef CGColorSpaceCreateDeviceRGB() {
    static const CGColorSpaceRef space = make<CGColorSpace>(kCGColorSpaceModelRGB);
    return space;
}
CGColorSpaceRef CGColorSpaceCreateDeviceGray() {
    static const CGColorSpaceRef space = make<CGColorSpace>(kCGColorSpaceModelMonochrome);
    return space;
}
CGColorSpaceRef CGColorSpaceCreateDeviceCMYK() {
    static const CGColorSpaceRef space = make<CGColorSpace>(kCGColorSpaceModelCMYK);
    return space;
}
CGColorSpaceModel CGColorSpaceGetModel(const CGColorSpaceRef& space) {
    return space ? space->model() : kCGColorSpaceModelUnknown;
}
std::size_t CGColorSpaceGetNumberOfComponents(const CGColorSpaceRef& space) {
    return space ? space->numberOfComponents() : 0;
}

CGDataProviderRef CGDataProviderCreateWithData(NSData data, std::function<void()> releaseCallback) {
    return make<CGDataProvider>(std::move(data), std::move(releaseCallback));
}
NSData CGDataProviderCopyData(const CGDataProviderRef& provider) {
    if (!provider) return NSData();
    // NSData copies on write, so handing out the shared buffer is a copy as far as anyone can tell.
    return provider->data();
}

// ---------------------------------------------------------------------------------------------
CGImage::CGImage(std::size_t width, std::size_t height, std::size_t bitsPerComponent,
                 std::size_t bitsPerPixel, std::size_t bytesPerRow, CGColorSpaceRef colorSpace,
                 CGBitmapInfo bitmapInfo, CGDataProviderRef provider)
    : width_(width),
      height_(height),
      bitsPerComponent_(bitsPerComponent),
      bitsPerPixel_(bitsPerPixel),
      bytesPerRow_(bytesPerRow),
      colorSpace_(std::move(colorSpace)),
      bitmapInfo_(bitmapInfo),
      provider_(provider ? std::move(provider) : make<CGDataProvider>(NSData())) {}

std::string CGImage::description() const {
    return "<CGImage " + std::to_string(width_) + " x " + std::to_string(height_) + ", " +
           std::to_string(bitsPerPixel_) + " bpp, info 0x" +
           [this] {
               char buf[16];
               std::snprintf(buf, sizeof buf, "%x", bitmapInfo_);
               return std::string(buf);
           }() +
           ">";
}

namespace detail {
struct CGImageAccess {
    static void setFlags(CGImage& image, bool shouldInterpolate, bool skippedBytesOpaque) {
        image.shouldInterpolate_ = shouldInterpolate;
        image.skippedBytesOpaque_ = skippedBytesOpaque;
    }
};
}  // namespace detail

namespace {

enum class Channel : std::uint8_t { R, G, B, A, X, Grey, C, M, Y, K };

// How to read one pixel of an accepted layout: which channel each byte holds.
struct Layout {
    int bytesPerPixel = 0;
    Channel channels[4] = {Channel::X, Channel::X, Channel::X, Channel::X};
    bool premultiplied = false;
    bool hasAlpha = false;
};

// Byte positions in memory of the big-endian component order, for each byte order.
int memoryIndex(int logical, int count, CGBitmapInfo order) {
    switch (order) {
        case kCGBitmapByteOrder32Little:
            return count == 4 ? 3 - logical : -1;
        case kCGBitmapByteOrder16Little:
            return count % 2 == 0 ? (logical ^ 1) : -1;
        case kCGBitmapByteOrder32Big:
            return count == 4 ? logical : -1;
        case kCGBitmapByteOrder16Big:
            return count % 2 == 0 ? logical : -1;
        case kCGBitmapByteOrderDefault:
            return logical;
        default:
            return -1;
    }
}

std::optional<Layout> layoutFor(std::size_t bpc, std::size_t bpp, CGColorSpaceModel model,
                                CGBitmapInfo info) {
    if (bpc != 8 || (info & kCGBitmapFloatComponents)) return std::nullopt;
    auto alpha = static_cast<CGImageAlphaInfo>(info & kCGBitmapAlphaInfoMask);
    CGBitmapInfo order = info & kCGBitmapByteOrderMask;
    if ((info & ~(kCGBitmapAlphaInfoMask | kCGBitmapByteOrderMask)) != 0) return std::nullopt;
    Channel logical[5];
    int count = 0;
    Layout layout;
    auto withAlpha = [&](Channel a, bool first, std::initializer_list<Channel> colour) {
        if (first) logical[count++] = a;
        for (Channel c : colour) logical[count++] = c;
        if (!first) logical[count++] = a;
    };
    bool alphaFirst = alpha == kCGImageAlphaPremultipliedFirst || alpha == kCGImageAlphaFirst ||
                      alpha == kCGImageAlphaNoneSkipFirst;
    bool realAlpha = alpha >= kCGImageAlphaPremultipliedLast && alpha <= kCGImageAlphaFirst;
    layout.premultiplied =
        alpha == kCGImageAlphaPremultipliedLast || alpha == kCGImageAlphaPremultipliedFirst;
    layout.hasAlpha = realAlpha;
    if (alpha == kCGImageAlphaOnly) {
        if (bpp != 8) return std::nullopt;
        logical[count++] = Channel::A;
        layout.hasAlpha = true;
        layout.premultiplied = true;
    } else if (model == kCGColorSpaceModelRGB) {
        if (alpha == kCGImageAlphaNone) {
            if (bpp != 24) return std::nullopt;
            withAlpha(Channel::X, false, {Channel::R, Channel::G, Channel::B});
            count = 3;
        } else {
            if (bpp != 32 || alpha > kCGImageAlphaNoneSkipFirst) return std::nullopt;
            withAlpha(realAlpha ? Channel::A : Channel::X, alphaFirst, {Channel::R, Channel::G, Channel::B});
        }
    } else if (model == kCGColorSpaceModelMonochrome) {
        if (alpha == kCGImageAlphaNone) {
            if (bpp != 8) return std::nullopt;
            logical[count++] = Channel::Grey;
        } else {
            if (bpp != 16 || alpha > kCGImageAlphaNoneSkipFirst) return std::nullopt;
            withAlpha(realAlpha ? Channel::A : Channel::X, alphaFirst, {Channel::Grey});
        }
    } else if (model == kCGColorSpaceModelCMYK) {
        if (alpha != kCGImageAlphaNone || bpp != 32) return std::nullopt;
        withAlpha(Channel::X, false, {Channel::C, Channel::M, Channel::Y, Channel::K});
        count = 4;
    } else {
        return std::nullopt;
    }
    layout.bytesPerPixel = count;
    for (int i = 0; i < count; ++i) {
        int at = memoryIndex(i, count, order);
        if (at < 0) return std::nullopt;
        layout.channels[at] = logical[i];
    }
    return layout;
}

inline std::uint8_t premultiply(unsigned c, unsigned a) {
    return static_cast<std::uint8_t>((c * a + 127) / 255);
}

}  // namespace

CGImageRef CGImageCreate(std::size_t width, std::size_t height, std::size_t bitsPerComponent,
                         std::size_t bitsPerPixel, std::size_t bytesPerRow, const CGColorSpaceRef& space,
                         CGBitmapInfo bitmapInfo, const CGDataProviderRef& provider,
                         const CGFloat* /*decode*/, bool shouldInterpolate,
                         CGColorRenderingIntent /*intent*/) {
    if (width == 0 || height == 0 || !provider) return nullptr;
    bool alphaOnly = (bitmapInfo & kCGBitmapAlphaInfoMask) == kCGImageAlphaOnly;
    if (!space && !alphaOnly) return nullptr;
    auto layout = layoutFor(bitsPerComponent, bitsPerPixel,
                            space ? space->model() : kCGColorSpaceModelUnknown, bitmapInfo);
    if (!layout) return nullptr;
    constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
    if (width > kMax / static_cast<std::size_t>(layout->bytesPerPixel)) return nullptr;
    std::size_t rowBytes = width * static_cast<std::size_t>(layout->bytesPerPixel);
    if (bytesPerRow < rowBytes) return nullptr;
    if (height - 1 > (kMax - rowBytes) / bytesPerRow) return nullptr;
    if (provider->data().length() < bytesPerRow * (height - 1) + rowBytes) return nullptr;
    auto image = make<CGImage>(width, height, bitsPerComponent, bitsPerPixel, bytesPerRow,
                               space ? space : CGColorSpaceCreateDeviceRGB(), bitmapInfo, provider);
    detail::CGImageAccess::setFlags(*image, shouldInterpolate, false);
    return image;
}

namespace detail {
Ref<CGImage> makeBGRAImage(std::size_t width, std::size_t height, NSData pixels, bool hasAlpha) {
    CGBitmapInfo info = kCGBitmapByteOrder32Little |
                        (hasAlpha ? kCGImageAlphaPremultipliedFirst : kCGImageAlphaNoneSkipFirst);
    auto image = make<CGImage>(width, height, 8, 32, width * 4, CGColorSpaceCreateDeviceRGB(), info,
                               make<CGDataProvider>(std::move(pixels)));
    CGImageAccess::setFlags(*image, true, !hasAlpha);
    return image;
}

NSData pixelsAsPremultipliedBGRA(const CGImage& image) {
    const std::size_t w = image.width(), h = image.height();
    const NSData& data = image.data();
    auto layout = layoutFor(image.bitsPerComponent(), image.bitsPerPixel(),
                            CGColorSpaceGetModel(image.colorSpace()), image.bitmapInfo());
    if (!layout || w == 0 || h == 0) return NSData();
    const std::size_t bpr = image.bytesPerRow();
    const std::size_t rowBytes = w * static_cast<std::size_t>(layout->bytesPerPixel);
    if (bpr < rowBytes || data.length() < bpr * (h - 1) + rowBytes) return NSData();

    const CGBitmapInfo info = image.bitmapInfo();
    const bool nativeLayout =
        info == (kCGBitmapByteOrder32Little | kCGImageAlphaPremultipliedFirst) ||
        (info == (kCGBitmapByteOrder32Little | kCGImageAlphaNoneSkipFirst) && image.skippedBytesOpaque());
    if (nativeLayout && bpr == w * 4 && data.length() == w * h * 4 &&
        CGColorSpaceGetModel(image.colorSpace()) == kCGColorSpaceModelRGB) {
        return data;
    }

    std::vector<std::uint8_t> out(w * h * 4);
    const int bytesPerPixel = layout->bytesPerPixel;
    int at[10];
    for (int& v : at) v = -1;
    for (int i = 0; i < bytesPerPixel; ++i) at[static_cast<int>(layout->channels[i])] = i;
    const std::uint8_t* src = data.bytes();
    std::uint8_t* dst = out.data();
    for (std::size_t y = 0; y < h; ++y) {
        const std::uint8_t* s = src + y * bpr;
        std::uint8_t* d = dst + y * w * 4;
        for (std::size_t x = 0; x < w; ++x, s += bytesPerPixel, d += 4) {
            unsigned r, g, b, a = at[int(Channel::A)] >= 0 ? s[at[int(Channel::A)]] : 255u;
            if (at[int(Channel::R)] >= 0) {
                r = s[at[int(Channel::R)]];
                g = s[at[int(Channel::G)]];
                b = s[at[int(Channel::B)]];
            } else if (at[int(Channel::Grey)] >= 0) {
                r = g = b = s[at[int(Channel::Grey)]];
            } else if (at[int(Channel::C)] >= 0) {
                unsigned k = 255u - s[at[int(Channel::K)]];
                r = (255u - s[at[int(Channel::C)]]) * k / 255u;
                g = (255u - s[at[int(Channel::M)]]) * k / 255u;
                b = (255u - s[at[int(Channel::Y)]]) * k / 255u;
            } else {
                // Alpha only: black ink of that coverage.
                r = g = b = 0;
            }
            if (layout->hasAlpha && !layout->premultiplied) {
                r = premultiply(r, a);
                g = premultiply(g, a);
                b = premultiply(b, a);
            } else if (layout->premultiplied) {
                // Clamp bad premultiplied data so colour never exceeds coverage.
                r = std::min(r, a);
                g = std::min(g, a);
                b = std::min(b, a);
            }
            d[0] = static_cast<std::uint8_t>(b);
            d[1] = static_cast<std::uint8_t>(g);
            d[2] = static_cast<std::uint8_t>(r);
            d[3] = static_cast<std::uint8_t>(a);
        }
    }
    return NSData(std::move(out));
}
}  // namespace detail

CGImageRef CGImageCreateWithPNGDataProvider(const CGDataProviderRef& provider, const CGFloat*,
                                            bool shouldInterpolate, CGColorRenderingIntent) {
    if (!provider) return nullptr;
    const NSData& d = provider->data();
    if (detail::sniffImageFormat(d.bytes(), d.length()) != detail::ImageFormat::PNG) return nullptr;
    auto image = detail::decodePNG(d.bytes(), d.length(), false);
    if (image) detail::CGImageAccess::setFlags(*image, shouldInterpolate, image->skippedBytesOpaque());
    return image;
}

CGImageRef CGImageCreateWithJPEGDataProvider(const CGDataProviderRef& provider, const CGFloat*,
                                             bool shouldInterpolate, CGColorRenderingIntent) {
    if (!provider) return nullptr;
    const NSData& d = provider->data();
    if (detail::sniffImageFormat(d.bytes(), d.length()) != detail::ImageFormat::JPEG) return nullptr;
    detail::JPEGDecodeOptions options;
    options.keepCMYK = true;
    auto image = detail::decodeJPEG(d.bytes(), d.length(), options);
    if (image) detail::CGImageAccess::setFlags(*image, shouldInterpolate, image->skippedBytesOpaque());
    return image;
}

CGImageRef CGImageCreateWithImageInRect(const CGImageRef& image, CGRect rect) {
    if (!image || CGRectIsNull(rect)) return nullptr;
    CGRect bounds =
        CGRectMake(0, 0, static_cast<CGFloat>(image->width()), static_cast<CGFloat>(image->height()));
    CGRect r = CGRectIntersection(CGRectIntegral(rect), bounds);
    if (CGRectIsEmpty(r)) return nullptr;
    auto x0 = static_cast<std::size_t>(r.origin.x), y0 = static_cast<std::size_t>(r.origin.y);
    auto w = static_cast<std::size_t>(r.size.width), h = static_cast<std::size_t>(r.size.height);
    if (x0 == 0 && y0 == 0 && w == image->width() && h == image->height()) return image;
    std::size_t pixelBytes = image->bitsPerPixel() / 8;
    std::size_t rowBytes = w * pixelBytes;
    const NSData& data = image->data();
    if (data.length() < image->bytesPerRow() * (y0 + h - 1) + (x0 + w) * pixelBytes) return nullptr;
    std::vector<std::uint8_t> out(rowBytes * h);
    for (std::size_t y = 0; y < h; ++y) {
        std::memcpy(out.data() + y * rowBytes,
                    data.bytes() + (y0 + y) * image->bytesPerRow() + x0 * pixelBytes, rowBytes);
    }
    auto crop =
        make<CGImage>(w, h, image->bitsPerComponent(), image->bitsPerPixel(), rowBytes, image->colorSpace(),
                      image->bitmapInfo(), make<CGDataProvider>(NSData(std::move(out))));
    detail::CGImageAccess::setFlags(*crop, image->shouldInterpolate(), image->skippedBytesOpaque());
    return crop;
}

std::size_t CGImageGetWidth(const CGImageRef& image) {
    return image ? image->width() : 0;
}
std::size_t CGImageGetHeight(const CGImageRef& image) {
    return image ? image->height() : 0;
}
std::size_t CGImageGetBitsPerComponent(const CGImageRef& image) {
    return image ? image->bitsPerComponent() : 0;
}
std::size_t CGImageGetBitsPerPixel(const CGImageRef& image) {
    return image ? image->bitsPerPixel() : 0;
}
std::size_t CGImageGetBytesPerRow(const CGImageRef& image) {
    return image ? image->bytesPerRow() : 0;
}
CGBitmapInfo CGImageGetBitmapInfo(const CGImageRef& image) {
    return image ? image->bitmapInfo() : 0;
}
CGImageAlphaInfo CGImageGetAlphaInfo(const CGImageRef& image) {
    return image ? image->alphaInfo() : kCGImageAlphaNone;
}
CGColorSpaceRef CGImageGetColorSpace(const CGImageRef& image) {
    return image ? image->colorSpace() : nullptr;
}
CGDataProviderRef CGImageGetDataProvider(const CGImageRef& image) {
    return image ? image->dataProvider() : nullptr;
}
