#include "uikit/CAShapeLayer.h"

#include <algorithm>
#include <cmath>

namespace {

CGColorRef colorFromValue(const Value& value) {
    if (auto color = value.objectAs<UIColor>()) return color->CGColor();
    if (auto color = value.objectAs<CGColor>()) return color;
    return nullptr;
}

CGLineCap capFor(const std::string& name) {
    if (name == kCALineCapRound) return kCGLineCapRound;
    if (name == kCALineCapSquare) return kCGLineCapSquare;
    return kCGLineCapButt;
}

CGLineJoin joinFor(const std::string& name) {
    if (name == kCALineJoinRound) return kCGLineJoinRound;
    if (name == kCALineJoinBevel) return kCGLineJoinBevel;
    return kCGLineJoinMiter;
}

}  // namespace

std::vector<std::vector<CGPoint>> detail::trimPath(const CGPath& path, CGFloat start, CGFloat end) {
    std::vector<std::vector<CGPoint>> result;
    start = std::clamp<CGFloat>(start, 0, 1);
    end = std::clamp<CGFloat>(end, 0, 1);
    if (end <= start) return result;
    // Closed subpaths come back from flattening without their closing point; the closing segment
    // counts towards the length, so put it back. Open subpaths are those not ending in a close.
    std::vector<std::vector<CGPoint>> polys = detail::flattenPath(path);
    std::vector<bool> closed;
    {
        bool inSubpath = false, isClosed = false;
        for (auto& e : path.elements()) {
            if (e.type == kCGPathElementMoveToPoint) {
                if (inSubpath) closed.push_back(isClosed);
                inSubpath = true;
                isClosed = false;
            } else if (e.type == kCGPathElementCloseSubpath) {
                isClosed = true;
            } else {
                inSubpath = true;
            }
        }
        if (inSubpath) closed.push_back(isClosed);
    }
    for (std::size_t i = 0; i < polys.size(); ++i) {
        if (i < closed.size() && closed[i] && polys[i].size() > 1) polys[i].push_back(polys[i].front());
    }
    double total = 0;
    for (auto& poly : polys) {
        for (std::size_t i = 1; i < poly.size(); ++i)
            total += std::hypot(poly[i].x - poly[i - 1].x, poly[i].y - poly[i - 1].y);
    }
    if (total <= 0) return result;
    const double from = start * total, to = end * total;
    double walked = 0;
    for (auto& poly : polys) {
        std::vector<CGPoint> piece;
        for (std::size_t i = 1; i < poly.size(); ++i) {
            CGPoint a = poly[i - 1], b = poly[i];
            double len = std::hypot(b.x - a.x, b.y - a.y);
            double s0 = walked, s1 = walked + len;
            walked = s1;
            if (len == 0 || s1 <= from || s0 >= to) {
                if (!piece.empty() && s0 >= to) break;
                continue;
            }
            auto at = [&](double s) {
                double t = (s - s0) / len;
                return CGPoint{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t};
            };
            if (piece.empty()) piece.push_back(s0 < from ? at(from) : a);
            piece.push_back(s1 > to ? at(to) : b);
        }
        if (piece.size() > 1) result.push_back(std::move(piece));
    }
    return result;
}

CAShapeLayer::CAShapeLayer() {
    static const CGColorRef black = UIColor::blackColor()->CGColor();
    fillColor_ = black;
}

void CAShapeLayer::setPath(const CGPathRef& path) {
    path_ = path ? CGPathCreateCopy(path) : nullptr;
}

void CAShapeLayer::setStrokeStart(CGFloat start) {
    strokeStart_ = std::clamp<CGFloat>(start, 0, 1);
}

void CAShapeLayer::setStrokeEnd(CGFloat end) {
    strokeEnd_ = std::clamp<CGFloat>(end, 0, 1);
}

void CAShapeLayer::setValueForKeyPath(const std::string& keyPath, const Value& value) {
    if (keyPath == "path") {
        setPath(value.objectAs<CGPath>());
    } else if (keyPath == "fillColor") {
        setFillColor(colorFromValue(value));
    } else if (keyPath == "strokeColor") {
        setStrokeColor(colorFromValue(value));
    } else if (keyPath == "lineWidth") {
        setLineWidth(value.doubleValue());
    } else if (keyPath == "strokeStart") {
        setStrokeStart(value.doubleValue());
    } else if (keyPath == "strokeEnd") {
        setStrokeEnd(value.doubleValue());
    } else if (keyPath == "miterLimit") {
        setMiterLimit(value.doubleValue());
    } else if (keyPath == "lineDashPhase") {
        setLineDashPhase(value.doubleValue());
    } else {
        CALayer::setValueForKeyPath(keyPath, value);
    }
}

Value CAShapeLayer::valueForKeyPath(const std::string& keyPath) const {
    if (keyPath == "path") return Value(path_);
    if (keyPath == "fillColor") return Value(fillColor_);
    if (keyPath == "strokeColor") return Value(strokeColor_);
    if (keyPath == "lineWidth") return Value(lineWidth_);
    if (keyPath == "strokeStart") return Value(strokeStart_);
    if (keyPath == "strokeEnd") return Value(strokeEnd_);
    if (keyPath == "miterLimit") return Value(miterLimit_);
    if (keyPath == "lineDashPhase") return Value(dashPhase_);
    return CALayer::valueForKeyPath(keyPath);
}

void CAShapeLayer::renderOwnContent(const CGContextRef& context) {
    CALayer::renderOwnContent(context);
    if (!path_ || path_->isEmpty()) return;
    const bool evenOdd = fillRule_ == kCAFillRuleEvenOdd;
    if (fillColor_ && fillColor_->alpha() > 0) {
        CGContextSaveGState(context);
        CGContextSetFillColorWithColor(context, fillColor_);
        CGContextBeginPath(context);
        CGContextAddPath(context, path_);
        if (evenOdd) {
            CGContextEOFillPath(context);
        } else {
            CGContextFillPath(context);
        }
        CGContextRestoreGState(context);
    }
    if (!strokeColor_ || strokeColor_->alpha() <= 0 || lineWidth_ <= 0 || strokeEnd_ <= strokeStart_) return;
    CGContextSaveGState(context);
    CGContextSetStrokeColorWithColor(context, strokeColor_);
    CGContextSetLineWidth(context, lineWidth_);
    CGContextSetLineCap(context, capFor(lineCap_));
    CGContextSetLineJoin(context, joinFor(lineJoin_));
    CGContextSetMiterLimit(context, miterLimit_);
    if (!dashPattern_.empty())
        CGContextSetLineDash(context, dashPhase_, dashPattern_.data(), dashPattern_.size());
    CGContextBeginPath(context);
    if (strokeStart_ <= 0 && strokeEnd_ >= 1) {
        CGContextAddPath(context, path_);
    } else {
        for (auto& piece : detail::trimPath(*path_, strokeStart_, strokeEnd_)) {
            CGContextAddLines(context, piece.data(), piece.size());
        }
    }
    CGContextStrokePath(context);
    CGContextRestoreGState(context);
}
