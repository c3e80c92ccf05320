#pragma once
// A path with its own stroke settings, drawn into the current graphics context.
//
// Angles and `clockwise` are as seen in a top-left-origin space (a view, an image context):
// clockwise arcs run with growing angles, the opposite of CGPathAddArc's flag. Rounded rectangles
// use circular corners whose radius is clamped to half the shorter side; with
// byRoundingCorners the radius is cornerRadii.width. Fill, stroke and addClip save and restore the
// context's state around their own settings (addClip keeps its clip, of course).

#include <cstdint>
#include <vector>

#include "foundation/NSObject.h"
#include "graphics/CGContext.h"
#include "graphics/CGPath.h"

using UIRectCorner = std::uint32_t;
enum : std::uint32_t {
    UIRectCornerTopLeft = 1u << 0,
    UIRectCornerTopRight = 1u << 1,
    UIRectCornerBottomLeft = 1u << 2,
    UIRectCornerBottomRight = 1u << 3,
    UIRectCornerAllCorners = ~0u,
};

class UIBezierPath : public NSObject {
  public:
    UIBezierPath();

    static Ref<UIBezierPath> bezierPath();
    static Ref<UIBezierPath> bezierPathWithRect(CGRect rect);
    static Ref<UIBezierPath> bezierPathWithOvalInRect(CGRect rect);
    static Ref<UIBezierPath> bezierPathWithRoundedRect(CGRect rect, CGFloat cornerRadius);
    static Ref<UIBezierPath> bezierPathWithRoundedRect(CGRect rect, UIRectCorner corners, CGSize cornerRadii);
    static Ref<UIBezierPath> bezierPathWithArcCenter(CGPoint center, CGFloat radius, CGFloat startAngle,
                                                     CGFloat endAngle, bool clockwise);
    // A copy of the path; nullptr for a null path.
    static Ref<UIBezierPath> bezierPathWithCGPath(const CGPathRef& path);

    void moveToPoint(CGPoint point);
    void addLineToPoint(CGPoint point);
    void addCurveToPoint(CGPoint endPoint, CGPoint controlPoint1, CGPoint controlPoint2);
    void addQuadCurveToPoint(CGPoint endPoint, CGPoint controlPoint);
    void addArcWithCenter(CGPoint center, CGFloat radius, CGFloat startAngle, CGFloat endAngle,
                          bool clockwise);
    void closePath();
    void removeAllPoints();
    void appendPath(const Ref<UIBezierPath>& other);
    void applyTransform(CGAffineTransform transform);

    // The path itself (shared: later changes to this object show in it) and a replacement.
    const CGPathRef& CGPath() const { return path_; }
    void setCGPath(const CGPathRef& path);

    bool isEmpty() const { return path_->isEmpty(); }
    // The box of every point, control points included; CGRectZero when empty.
    CGRect bounds() const;
    CGPoint currentPoint() const { return CGPathGetCurrentPoint(path_); }
    bool containsPoint(CGPoint point) const;

    CGFloat lineWidth() const { return lineWidth_; }
    void setLineWidth(CGFloat width) { lineWidth_ = width; }
    CGLineCap lineCapStyle() const { return lineCap_; }
    void setLineCapStyle(CGLineCap cap) { lineCap_ = cap; }
    CGLineJoin lineJoinStyle() const { return lineJoin_; }
    void setLineJoinStyle(CGLineJoin join) { lineJoin_ = join; }
    CGFloat miterLimit() const { return miterLimit_; }
    void setMiterLimit(CGFloat limit) { miterLimit_ = limit; }
    CGFloat flatness() const { return flatness_; }
    void setFlatness(CGFloat flatness) { flatness_ = flatness; }
    bool usesEvenOddFillRule() const { return evenOdd_; }
    void setUsesEvenOddFillRule(bool evenOdd) { evenOdd_ = evenOdd; }
    void setLineDash(const CGFloat* pattern, std::size_t count, CGFloat phase);
    const std::vector<CGFloat>& lineDash() const { return dash_; }
    CGFloat lineDashPhase() const { return dashPhase_; }

    // Drawing into UIGraphicsGetCurrentContext(); nothing without one.
    void fill() const;
    void fillWithBlendMode(CGBlendMode blendMode, CGFloat alpha) const;
    void stroke() const;
    void strokeWithBlendMode(CGBlendMode blendMode, CGFloat alpha) const;
    // Intersects the current context's clip with the path.
    void addClip() const;

    std::string className() const override { return "UIBezierPath"; }
    Ref<NSObject> copyObject() const override;

  private:
    void applyStrokeSettings(const CGContextRef& c) const;

    CGPathRef path_;
    CGFloat lineWidth_ = 1;
    CGLineCap lineCap_ = kCGLineCapButt;
    CGLineJoin lineJoin_ = kCGLineJoinMiter;
    CGFloat miterLimit_ = 10;
    CGFloat flatness_ = 0.6;
    bool evenOdd_ = false;
    std::vector<CGFloat> dash_;
    CGFloat dashPhase_ = 0;
};
