#pragma once
// A layer that draws a path: filled, then stroked, in its own bounds space. strokeStart and
// strokeEnd (fractions of the path's length, 0...1) limit the stroke to a part of the path, which
// is how progress rings are drawn. Rendered with cairo like every layer (CALayer::renderInContext).

#include <string>
#include <vector>

#include "graphics/CGPath.h"
#include "uikit/CALayer.h"

inline constexpr char kCALineCapButt[] = "butt";
inline constexpr char kCALineCapRound[] = "round";
inline constexpr char kCALineCapSquare[] = "square";
inline constexpr char kCALineJoinMiter[] = "miter";
inline constexpr char kCALineJoinRound[] = "round";
inline constexpr char kCALineJoinBevel[] = "bevel";
inline constexpr char kCAFillRuleNonZero[] = "non-zero";
inline constexpr char kCAFillRuleEvenOdd[] = "even-odd";

class CAShapeLayer : public CALayer {
  public:
    CAShapeLayer();
    std::string className() const override { return "CAShapeLayer"; }
    static Ref<CAShapeLayer> layer() { return make<CAShapeLayer>(); }

    const CGPathRef& path() const { return path_; }
    // The layer keeps a copy, so later changes to a mutable path do not show.
    void setPath(const CGPathRef& path);
    // Opaque black by default; nullptr fills nothing.
    const CGColorRef& fillColor() const { return fillColor_; }
    void setFillColor(const CGColorRef& color) { fillColor_ = color; }
    // None by default.
    const CGColorRef& strokeColor() const { return strokeColor_; }
    void setStrokeColor(const CGColorRef& color) { strokeColor_ = color; }
    CGFloat lineWidth() const { return lineWidth_; }
    void setLineWidth(CGFloat width) { lineWidth_ = width; }
    const std::string& lineCap() const { return lineCap_; }
    void setLineCap(std::string cap) { lineCap_ = std::move(cap); }
    const std::string& lineJoin() const { return lineJoin_; }
    void setLineJoin(std::string join) { lineJoin_ = std::move(join); }
    CGFloat miterLimit() const { return miterLimit_; }
    void setMiterLimit(CGFloat limit) { miterLimit_ = limit; }
    const std::string& fillRule() const { return fillRule_; }
    void setFillRule(std::string rule) { fillRule_ = std::move(rule); }
    CGFloat strokeStart() const { return strokeStart_; }
    void setStrokeStart(CGFloat start);
    CGFloat strokeEnd() const { return strokeEnd_; }
    void setStrokeEnd(CGFloat end);
    const std::vector<CGFloat>& lineDashPattern() const { return dashPattern_; }
    void setLineDashPattern(std::vector<CGFloat> pattern) { dashPattern_ = std::move(pattern); }
    CGFloat lineDashPhase() const { return dashPhase_; }
    void setLineDashPhase(CGFloat phase) { dashPhase_ = phase; }

    // Adds "path" (a CGPath), "fillColor", "strokeColor", "lineWidth", "strokeStart",
    // "strokeEnd", "miterLimit" and "lineDashPhase".
    void setValueForKeyPath(const std::string& keyPath, const Value& value) override;
    Value valueForKeyPath(const std::string& keyPath) const override;

  protected:
    void renderOwnContent(const CGContextRef& context) override;

  private:
    CGPathRef path_;
    CGColorRef fillColor_;
    CGColorRef strokeColor_;
    CGFloat lineWidth_ = 1;
    std::string lineCap_ = kCALineCapButt;
    std::string lineJoin_ = kCALineJoinMiter;
    CGFloat miterLimit_ = 10;
    std::string fillRule_ = kCAFillRuleNonZero;
    CGFloat strokeStart_ = 0;
    CGFloat strokeEnd_ = 1;
    std::vector<CGFloat> dashPattern_;
    CGFloat dashPhase_ = 0;
};

namespace detail {
// The part of a path between two fractions of its length, as polylines (curves flattened).
std::vector<std::vector<CGPoint>> trimPath(const CGPath& path, CGFloat start, CGFloat end);
}  // namespace detail
