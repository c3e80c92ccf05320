// UIImage drawing into the current graphics context.
//
// The context's user space is taken to have a top-left origin (an image context or a view), so
// the image is drawn upright there, turned and mirrored as its orientation says, filling the
// rectangle. Images with cap insets (or stretchable caps) keep their caps' size and stretch the
// rest; tiling is drawn as stretching. Animated images draw their first frame.

#include <algorithm>
#include <cmath>

#include "graphics/CGContext.h"
#include "graphics/UIGraphics.h"
#include "graphics/UIImage.h"

namespace {

// Stored pixel (u, v), v down from the top row, to display pixel (X, Y), Y down.
CGAffineTransform orientationTransform(UIImageOrientation o, CGFloat w, CGFloat h) {
    switch (o) {
        case UIImageOrientation::Up:
            return CGAffineTransformMake(1, 0, 0, 1, 0, 0);
        case UIImageOrientation::Down:
            return CGAffineTransformMake(-1, 0, 0, -1, w, h);
        case UIImageOrientation::Left:
            return CGAffineTransformMake(0, -1, 1, 0, 0, w);
        case UIImageOrientation::Right:
            return CGAffineTransformMake(0, 1, -1, 0, h, 0);
        case UIImageOrientation::UpMirrored:
            return CGAffineTransformMake(-1, 0, 0, 1, w, 0);
        case UIImageOrientation::DownMirrored:
            return CGAffineTransformMake(1, 0, 0, -1, 0, h);
        case UIImageOrientation::LeftMirrored:
            return CGAffineTransformMake(0, 1, 1, 0, 0, 0);
        case UIImageOrientation::RightMirrored:
            return CGAffineTransformMake(0, -1, -1, 0, h, w);
    }
    return CGAffineTransformIdentity;
}

bool turned(UIImageOrientation o) {
    return o == UIImageOrientation::Left || o == UIImageOrientation::Right ||
           o == UIImageOrientation::LeftMirrored || o == UIImageOrientation::RightMirrored;
}

// Draws the whole bitmap so that display pixel (X, Y) lands at user
// (rect.x + X * rect.w / Wd, rect.y + Y * rect.h / Hd).
void drawOriented(const CGContextRef& c, const CGImageRef& image, UIImageOrientation o, CGRect rect) {
    CGFloat w = CGFloat(image->width()), h = CGFloat(image->height());
    CGFloat wd = turned(o) ? h : w, hd = turned(o) ? w : h;
    // CGContextDrawImage into (0, 0, w, h) puts pixel (u, v) at (u, h - v).
    CGAffineTransform flip = CGAffineTransformMake(1, 0, 0, -1, 0, h);
    CGAffineTransform toRect = CGAffineTransformMake(rect.size.width / wd, 0, 0, rect.size.height / hd,
                                                     rect.origin.x, rect.origin.y);
    CGAffineTransform all =
        CGAffineTransformConcat(CGAffineTransformConcat(flip, orientationTransform(o, w, h)), toRect);
    CGContextSaveGState(c);
    CGContextConcatCTM(c, all);
    CGContextDrawImage(c, CGRectMake(0, 0, w, h), image);
    CGContextRestoreGState(c);
}

// Nine pieces: caps keep their size (shrunk evenly when the rectangle is smaller), the rest
// stretches. All in points of the image.
void drawWithCaps(const CGContextRef& c, const CGImageRef& image, CGSize size, UIEdgeInsets caps,
                  CGRect rect) {
    CGFloat xs[4] = {0, caps.left, size.width - caps.right, size.width};
    CGFloat ys[4] = {0, caps.top, size.height - caps.bottom, size.height};
    CGFloat hScale = std::min(1.0, rect.size.width / std::max(1e-9, caps.left + caps.right));
    CGFloat vScale = std::min(1.0, rect.size.height / std::max(1e-9, caps.top + caps.bottom));
    CGFloat dxs[4] = {rect.origin.x, rect.origin.x + caps.left * hScale,
                      rect.origin.x + rect.size.width - caps.right * hScale, rect.origin.x + rect.size.width};
    CGFloat dys[4] = {rect.origin.y, rect.origin.y + caps.top * vScale,
                      rect.origin.y + rect.size.height - caps.bottom * vScale,
                      rect.origin.y + rect.size.height};
    for (int j = 0; j < 3; ++j) {
        for (int i = 0; i < 3; ++i) {
            CGFloat sw = xs[i + 1] - xs[i], sh = ys[j + 1] - ys[j];
            CGFloat dw = dxs[i + 1] - dxs[i], dh = dys[j + 1] - dys[j];
            if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) continue;
            // The whole image placed so that the source piece covers the destination piece.
            CGFloat sx = dw / sw, sy = dh / sh;
            CGRect whole =
                CGRectMake(dxs[i] - xs[i] * sx, dys[j] - ys[j] * sy, size.width * sx, size.height * sy);
            CGContextSaveGState(c);
            CGContextClipToRect(c, CGRectMake(dxs[i], dys[j], dw, dh));
            drawOriented(c, image, UIImageOrientation::Up, whole);
            CGContextRestoreGState(c);
        }
    }
}

}  // namespace

void UIImage::drawAtPoint(CGPoint point) const {
    CGSize s = size();
    drawInRect(CGRectMake(point.x, point.y, s.width, s.height));
}

void UIImage::drawInRect(CGRect rect) const {
    drawInRect(rect, kCGBlendModeNormal, 1.0);
}

void UIImage::drawInRect(CGRect rect, std::int32_t blendMode, CGFloat alpha) const {
    auto c = UIGraphicsGetCurrentContext();
    CGImageRef image = CGImage();
    if (!c || !image) return;
    rect = CGRectStandardize(rect);
    if (rect.size.width <= 0 || rect.size.height <= 0) return;
    CGContextSaveGState(c);
    CGContextSetBlendMode(c, static_cast<CGBlendMode>(blendMode));
    CGContextSetAlpha(c, alpha);
    UIEdgeInsets caps = capInsets_;
    CGSize s = size();
    if (leftCapWidth_ > 0 || topCapHeight_ > 0) {
        CGFloat left = CGFloat(leftCapWidth_), top = CGFloat(topCapHeight_);
        caps = UIEdgeInsetsMake(top, left, top > 0 ? std::max(0.0, s.height - top - 1) : 0,
                                left > 0 ? std::max(0.0, s.width - left - 1) : 0);
    }
    bool hasCaps = caps.left > 0 || caps.right > 0 || caps.top > 0 || caps.bottom > 0;
    if (hasCaps && orientation_ == UIImageOrientation::Up) {
        drawWithCaps(c, image, s, caps, rect);
    } else {
        drawOriented(c, image, orientation_, rect);
    }
    CGContextRestoreGState(c);
}
