#include "graphics/UIBezierPath.h"

#include <algorithm>
#include <cmath>

#include "graphics/UIGraphics.h"

namespace {
constexpr CGFloat kPi = 3.14159265358979323846;
}

UIBezierPath::UIBezierPath() : path_(CGPathCreateMutable()) {}

Ref<UIBezierPath> UIBezierPath::bezierPath() {
    return make<UIBezierPath>();
}

Ref<UIBezierPath> UIBezierPath::bezierPathWithRect(CGRect rect) {
    auto p = make<UIBezierPath>();
    CGPathAddRect(p->path_, nullptr, rect);
    return p;
}

Ref<UIBezierPath> UIBezierPath::bezierPathWithOvalInRect(CGRect rect) {
    auto p = make<UIBezierPath>();
    CGPathAddEllipseInRect(p->path_, nullptr, rect);
    return p;
}

Ref<UIBezierPath> UIBezierPath::bezierPathWithRoundedRect(CGRect rect, CGFloat cornerRadius) {
    return bezierPathWithRoundedRect(rect, UIRectCornerAllCorners, CGSizeMake(cornerRadius, cornerRadius));
}

Ref<UIBezierPath> UIBezierPath::bezierPathWithRoundedRect(CGRect rect, UIRectCorner corners,
                                                          CGSize cornerRadii) {
    auto p = make<UIBezierPath>();
    rect = CGRectStandardize(rect);
    CGFloat r = cornerRadii.width;
    if (std::isnan(r)) r = 0;
    r = std::clamp(r, 0.0, std::min(rect.size.width, rect.size.height) / 2);
    CGFloat x0 = rect.origin.x, y0 = rect.origin.y, x1 = x0 + rect.size.width, y1 = y0 + rect.size.height;
    auto radius = [&](UIRectCorner corner) { return (corners & corner) ? r : 0.0; };
    CGFloat tl = radius(UIRectCornerTopLeft), tr = radius(UIRectCornerTopRight);
    CGFloat br = radius(UIRectCornerBottomRight), bl = radius(UIRectCornerBottomLeft);
    const auto& path = p->path_;
    // Clockwise on screen from the end of the top-left corner.
    CGPathMoveToPoint(path, nullptr, x0 + tl, y0);
    CGPathAddLineToPoint(path, nullptr, x1 - tr, y0);
    if (tr > 0) CGPathAddArc(path, nullptr, x1 - tr, y0 + tr, tr, -kPi / 2, 0, false);
    CGPathAddLineToPoint(path, nullptr, x1, y1 - br);
    if (br > 0) CGPathAddArc(path, nullptr, x1 - br, y1 - br, br, 0, kPi / 2, false);
    CGPathAddLineToPoint(path, nullptr, x0 + bl, y1);
    if (bl > 0) CGPathAddArc(path, nullptr, x0 + bl, y1 - bl, bl, kPi / 2, kPi, false);
    CGPathAddLineToPoint(path, nullptr, x0, y0 + tl);
    if (tl > 0) CGPathAddArc(path, nullptr, x0 + tl, y0 + tl, tl, kPi, 3 * kPi / 2, false);
    CGPathCloseSubpath(path);
    return p;
}

Ref<UIBezierPath> UIBezierPath::bezierPathWithArcCenter(CGPoint center, CGFloat radius, CGFloat startAngle,
                                                        CGFloat endAngle, bool clockwise) {
    auto p = make<UIBezierPath>();
    p->addArcWithCenter(center, radius, startAngle, endAngle, clockwise);
    return p;
}

Ref<UIBezierPath> UIBezierPath::bezierPathWithCGPath(const CGPathRef& path) {
    if (!path) return nullptr;
    auto p = make<UIBezierPath>();
    p->path_ = CGPathCreateMutableCopy(path);
    return p;
}

void UIBezierPath::moveToPoint(CGPoint point) {
    CGPathMoveToPoint(path_, nullptr, point.x, point.y);
}

void UIBezierPath::addLineToPoint(CGPoint point) {
    CGPathAddLineToPoint(path_, nullptr, point.x, point.y);
}

void UIBezierPath::addCurveToPoint(CGPoint endPoint, CGPoint controlPoint1, CGPoint controlPoint2) {
    CGPathAddCurveToPoint(path_, nullptr, controlPoint1.x, controlPoint1.y, controlPoint2.x, controlPoint2.y,
                          endPoint.x, endPoint.y);
}

void UIBezierPath::addQuadCurveToPoint(CGPoint endPoint, CGPoint controlPoint) {
    CGPathAddQuadCurveToPoint(path_, nullptr, controlPoint.x, controlPoint.y, endPoint.x, endPoint.y);
}

void UIBezierPath::addArcWithCenter(CGPoint center, CGFloat radius, CGFloat startAngle, CGFloat endAngle,
                                    bool clockwise) {
    // Clockwise on a top-left screen is growing angles, CGPath's "not clockwise".
    CGPathAddArc(path_, nullptr, center.x, center.y, radius, startAngle, endAngle, !clockwise);
}

void UIBezierPath::closePath() {
    CGPathCloseSubpath(path_);
}

void UIBezierPath::removeAllPoints() {
    path_->clear();
}

void UIBezierPath::appendPath(const Ref<UIBezierPath>& other) {
    if (other) CGPathAddPath(path_, nullptr, other->path_);
}

void UIBezierPath::applyTransform(CGAffineTransform transform) {
    path_ = CGPathCreateMutableCopyByTransformingPath(path_, &transform);
}

void UIBezierPath::setCGPath(const CGPathRef& path) {
    path_ = path ? CGPathCreateMutableCopy(path) : CGPathCreateMutable();
}

CGRect UIBezierPath::bounds() const {
    if (path_->isEmpty()) return CGRectZero;
    return CGPathGetBoundingBox(path_);
}

bool UIBezierPath::containsPoint(CGPoint point) const {
    return CGPathContainsPoint(path_, nullptr, point, evenOdd_);
}

void UIBezierPath::setLineDash(const CGFloat* pattern, std::size_t count, CGFloat phase) {
    dash_.assign(pattern ? pattern : nullptr, pattern ? pattern + count : nullptr);
    dashPhase_ = phase;
}

void UIBezierPath::applyStrokeSettings(const CGContextRef& c) const {
    CGContextSetLineWidth(c, lineWidth_);
    CGContextSetLineCap(c, lineCap_);
    CGContextSetLineJoin(c, lineJoin_);
    CGContextSetMiterLimit(c, miterLimit_);
    CGContextSetLineDash(c, dashPhase_, dash_.empty() ? nullptr : dash_.data(), dash_.size());
}

void UIBezierPath::fill() const {
    auto c = UIGraphicsGetCurrentContext();
    if (!c) return;
    CGContextSaveGState(c);
    CGContextBeginPath(c);
    CGContextAddPath(c, path_);
    CGContextDrawPath(c, evenOdd_ ? kCGPathEOFill : kCGPathFill);
    CGContextRestoreGState(c);
}

void UIBezierPath::fillWithBlendMode(CGBlendMode blendMode, CGFloat alpha) const {
    auto c = UIGraphicsGetCurrentContext();
    if (!c) return;
    CGContextSaveGState(c);
    CGContextSetBlendMode(c, blendMode);
    CGContextSetAlpha(c, alpha);
    fill();
    CGContextRestoreGState(c);
}

void UIBezierPath::stroke() const {
    auto c = UIGraphicsGetCurrentContext();
    if (!c) return;
    CGContextSaveGState(c);
    applyStrokeSettings(c);
    CGContextBeginPath(c);
    CGContextAddPath(c, path_);
    CGContextStrokePath(c);
    CGContextRestoreGState(c);
}

void UIBezierPath::strokeWithBlendMode(CGBlendMode blendMode, CGFloat alpha) const {
    auto c = UIGraphicsGetCurrentContext();
    if (!c) return;
    CGContextSaveGState(c);
    CGContextSetBlendMode(c, blendMode);
    CGContextSetAlpha(c, alpha);
    stroke();
    CGContextRestoreGState(c);
}

void UIBezierPath::addClip() const {
    auto c = UIGraphicsGetCurrentContext();
    if (!c) return;
    CGContextBeginPath(c);
    CGContextAddPath(c, path_);
    if (evenOdd_) {
        CGContextEOClip(c);
    } else {
        CGContextClip(c);
    }
}

Ref<NSObject> UIBezierPath::copyObject() const {
    auto p = make<UIBezierPath>();
    p->path_ = CGPathCreateMutableCopy(path_);
    p->lineWidth_ = lineWidth_;
    p->lineCap_ = lineCap_;
    p->lineJoin_ = lineJoin_;
    p->miterLimit_ = miterLimit_;
    p->flatness_ = flatness_;
    p->evenOdd_ = evenOdd_;
    p->dash_ = dash_;
    p->dashPhase_ = dashPhase_;
    return p;
}
