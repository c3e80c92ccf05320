#include "graphics/UIGraphics.h"

#include <atomic>
#include <cmath>
#include <vector>

#include "graphics/UIImage.h"

namespace {

struct Entry {
    CGContextRef context;
    bool imageContext = false;
    CGFloat scale = 1;
};

std::vector<Entry>& stack() {
    thread_local std::vector<Entry> entries;
    return entries;
}

std::atomic<double> gScreenScale{2.0};

const CGColorSpaceRef& deviceRGB() {
    static const CGColorSpaceRef space = make<CGColorSpace>(kCGColorSpaceModelRGB);
    return space;
}

}  // namespace

CGContextRef UIGraphicsGetCurrentContext() {
    auto& s = stack();
    return s.empty() ? nullptr : s.back().context;
}

void UIGraphicsPushContext(const CGContextRef& context) {
    stack().push_back(Entry{context, false, 1});
}

void UIGraphicsPopContext() {
    auto& s = stack();
    if (!s.empty()) s.pop_back();
}

void UIGraphicsBeginImageContext(CGSize size) {
    UIGraphicsBeginImageContextWithOptions(size, false, 1.0);
}

void UIGraphicsBeginImageContextWithOptions(CGSize size, bool opaque, CGFloat scale) {
    if (!(scale > 0) || !std::isfinite(scale)) scale = UIGraphicsGetDefaultScreenScale();
    Entry entry{nullptr, true, scale};
    if (size.width > 0 && size.height > 0 && std::isfinite(size.width) && std::isfinite(size.height)) {
        // A hair of tolerance so that 10.0000000001 points at scale 1 stay 10 pixels.
        double w = std::ceil(size.width * scale - 1e-6), h = std::ceil(size.height * scale - 1e-6);
        if (w >= 1 && h >= 1 && w <= 32767 && h <= 32767) {
            CGBitmapInfo info =
                CGBitmapInfo(kCGBitmapByteOrder32Little) |
                CGBitmapInfo(opaque ? kCGImageAlphaNoneSkipFirst : kCGImageAlphaPremultipliedFirst);
            entry.context =
                CGBitmapContextCreate(nullptr, std::size_t(w), std::size_t(h), 8, 0, deviceRGB(), info);
            if (entry.context) {
                CGContextTranslateCTM(entry.context, 0, h);
                CGContextScaleCTM(entry.context, scale, -scale);
            }
        }
    }
    stack().push_back(std::move(entry));
}

Ref<UIImage> UIGraphicsGetImageFromCurrentImageContext() {
    auto& s = stack();
    if (s.empty() || !s.back().imageContext || !s.back().context) return nullptr;
    return UIImage::imageWithCGImage(CGBitmapContextCreateImage(s.back().context), s.back().scale,
                                     UIImageOrientation::Up);
}

void UIGraphicsEndImageContext() {
    auto& s = stack();
    if (!s.empty() && s.back().imageContext) s.pop_back();
}

Ref<UIImage> detail::endImageContextWithImage() {
    auto& s = stack();
    if (s.empty() || !s.back().imageContext) return nullptr;
    Entry top = std::move(s.back());
    s.pop_back();
    if (!top.context) return nullptr;
    return UIImage::imageWithCGImage(detail::bitmapContextCreateImageReleasing(std::move(top.context)),
                                     top.scale, UIImageOrientation::Up);
}

void UIGraphicsSetDefaultScreenScale(CGFloat scale) {
    if (scale > 0 && std::isfinite(scale)) gScreenScale.store(scale);
}

CGFloat UIGraphicsGetDefaultScreenScale() {
    return gScreenScale.load();
}

CGFloat detail::currentImageContextScale() {
    auto& s = stack();
    return (!s.empty() && s.back().imageContext) ? s.back().scale : 1;
}

void UIRectFill(CGRect rect) {
    UIRectFillUsingBlendMode(rect, kCGBlendModeCopy);
}

void UIRectFillUsingBlendMode(CGRect rect, CGBlendMode blendMode) {
    auto c = UIGraphicsGetCurrentContext();
    if (!c) return;
    CGContextSaveGState(c);
    CGContextSetBlendMode(c, blendMode);
    CGContextFillRect(c, rect);
    CGContextRestoreGState(c);
}

void UIRectFrame(CGRect rect) {
    UIRectFrameUsingBlendMode(rect, kCGBlendModeCopy);
}

void UIRectFrameUsingBlendMode(CGRect rect, CGBlendMode blendMode) {
    auto c = UIGraphicsGetCurrentContext();
    if (!c) return;
    rect = CGRectStandardize(rect);
    CGContextSaveGState(c);
    CGContextSetBlendMode(c, blendMode);
    // Four one-unit bands inside the rectangle, filled (so corners are not covered twice).
    CGFloat x = rect.origin.x, y = rect.origin.y, w = rect.size.width, h = rect.size.height;
    if (w <= 2 || h <= 2) {
        CGContextFillRect(c, rect);
    } else {
        CGRect bands[4] = {CGRectMake(x, y, w, 1), CGRectMake(x, y + h - 1, w, 1),
                           CGRectMake(x, y + 1, 1, h - 2), CGRectMake(x + w - 1, y + 1, 1, h - 2)};
        CGContextFillRects(c, bands, 4);
    }
    CGContextRestoreGState(c);
}

void UIRectClip(CGRect rect) {
    if (auto c = UIGraphicsGetCurrentContext()) CGContextClipToRect(c, rect);
}
