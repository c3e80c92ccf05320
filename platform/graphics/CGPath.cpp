#include "graphics/CGPath.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr CGFloat kPi = 3.14159265358979323846;
// Control-point distance of a quarter circle drawn as one cubic curve, per unit radius.
constexpr CGFloat kQuarterKappa = 0.5522847498307936;
// Arcs longer than this many turns are cut short: nobody draws them, and they would only fill
// memory.
constexpr CGFloat kMaxArcTurns = 64;

CGPoint apply(const CGAffineTransform* m, CGPoint p) {
    return m ? CGPointApplyAffineTransform(p, *m) : p;
}
CGPoint apply(const CGAffineTransform* m, CGFloat x, CGFloat y) {
    return apply(m, CGPoint{x, y});
}

bool isFiniteValue(CGFloat v) {
    return std::isfinite(v);
}

// Appends the arc of (cx, cy, r) from angle a0 sweeping `sweep` radians as cubic curves. The
// current point is already at the arc's start.
void appendArcCurves(CGPath& path, const CGAffineTransform* m, CGFloat cx, CGFloat cy, CGFloat r, CGFloat a0,
                     CGFloat sweep) {
    if (sweep == 0) return;
    int n = static_cast<int>(std::ceil(std::fabs(sweep) / (kPi / 2) - 1e-9));
    n = std::max(n, 1);
    CGFloat theta = sweep / n;
    CGFloat k = 4.0 / 3.0 * std::tan(theta / 4);
    CGFloat t = a0;
    for (int i = 0; i < n; ++i) {
        CGFloat t1 = (i == n - 1) ? a0 + sweep : t + theta;
        CGFloat c0 = std::cos(t), s0 = std::sin(t), c1 = std::cos(t1), s1 = std::sin(t1);
        CGPoint p1{cx + r * (c0 - k * s0), cy + r * (s0 + k * c0)};
        CGPoint p2{cx + r * (c1 + k * s1), cy + r * (s1 - k * c1)};
        CGPoint p3{cx + r * c1, cy + r * s1};
        path.curveTo(apply(m, p1), apply(m, p2), apply(m, p3));
        t = t1;
    }
}

// Starts the arc: a line from the current point, or a move.
void arcStart(CGPath& path, CGPoint start) {
    if (!path.hasCurrentPoint()) {
        path.moveTo(start);
    } else if (!(path.currentPoint() == start)) {
        path.lineTo(start);
    }
}

void addArcSweep(CGPath& path, const CGAffineTransform* m, CGFloat x, CGFloat y, CGFloat radius,
                 CGFloat start, CGFloat sweep) {
    if (!isFiniteValue(x) || !isFiniteValue(y) || !isFiniteValue(radius) || !isFiniteValue(start) ||
        !isFiniteValue(sweep) || radius < 0)
        return;
    sweep = std::clamp(sweep, -kMaxArcTurns * 2 * kPi, kMaxArcTurns * 2 * kPi);
    arcStart(path, apply(m, x + radius * std::cos(start), y + radius * std::sin(start)));
    if (radius == 0) return;
    appendArcCurves(path, m, x, y, radius, start, sweep);
}

void addEllipse(CGPath& path, const CGAffineTransform* m, CGRect rect) {
    rect = CGRectStandardize(rect);
    CGFloat rx = rect.size.width / 2, ry = rect.size.height / 2;
    CGFloat cx = rect.origin.x + rx, cy = rect.origin.y + ry;
    CGFloat kx = rx * kQuarterKappa, ky = ry * kQuarterKappa;
    path.moveTo(apply(m, cx + rx, cy));
    path.curveTo(apply(m, cx + rx, cy + ky), apply(m, cx + kx, cy + ry), apply(m, cx, cy + ry));
    path.curveTo(apply(m, cx - kx, cy + ry), apply(m, cx - rx, cy + ky), apply(m, cx - rx, cy));
    path.curveTo(apply(m, cx - rx, cy - ky), apply(m, cx - kx, cy - ry), apply(m, cx, cy - ry));
    path.curveTo(apply(m, cx + kx, cy - ry), apply(m, cx + rx, cy - ky), apply(m, cx + rx, cy));
    path.close();
}

void addRect(CGPath& path, const CGAffineTransform* m, CGRect rect) {
    rect = CGRectStandardize(rect);
    CGFloat x0 = rect.origin.x, y0 = rect.origin.y, x1 = x0 + rect.size.width, y1 = y0 + rect.size.height;
    path.moveTo(apply(m, x0, y0));
    path.lineTo(apply(m, x1, y0));
    path.lineTo(apply(m, x1, y1));
    path.lineTo(apply(m, x0, y1));
    path.close();
}

void addRoundedRect(CGPath& path, const CGAffineTransform* m, CGRect rect, CGFloat cw, CGFloat ch) {
    rect = CGRectStandardize(rect);
    cw = std::clamp(std::isnan(cw) ? 0.0 : cw, 0.0, rect.size.width / 2);
    ch = std::clamp(std::isnan(ch) ? 0.0 : ch, 0.0, rect.size.height / 2);
    if (cw == 0 || ch == 0) {
        addRect(path, m, rect);
        return;
    }
    CGFloat x0 = rect.origin.x, y0 = rect.origin.y, x1 = x0 + rect.size.width, y1 = y0 + rect.size.height;
    CGFloat kx = cw * kQuarterKappa, ky = ch * kQuarterKappa;
    path.moveTo(apply(m, x0 + cw, y0));
    path.lineTo(apply(m, x1 - cw, y0));
    path.curveTo(apply(m, x1 - cw + kx, y0), apply(m, x1, y0 + ch - ky), apply(m, x1, y0 + ch));
    path.lineTo(apply(m, x1, y1 - ch));
    path.curveTo(apply(m, x1, y1 - ch + ky), apply(m, x1 - cw + kx, y1), apply(m, x1 - cw, y1));
    path.lineTo(apply(m, x0 + cw, y1));
    path.curveTo(apply(m, x0 + cw - kx, y1), apply(m, x0, y1 - ch + ky), apply(m, x0, y1 - ch));
    path.lineTo(apply(m, x0, y0 + ch));
    path.curveTo(apply(m, x0, y0 + ch - ky), apply(m, x0 + cw - kx, y0), apply(m, x0 + cw, y0));
    path.close();
}

void include(CGFloat& minX, CGFloat& minY, CGFloat& maxX, CGFloat& maxY, CGPoint p) {
    minX = std::min(minX, p.x);
    minY = std::min(minY, p.y);
    maxX = std::max(maxX, p.x);
    maxY = std::max(maxY, p.y);
}

// Parameters in (0, 1) where one coordinate of a cubic has its extrema.
void cubicExtrema(CGFloat p0, CGFloat p1, CGFloat p2, CGFloat p3, std::vector<CGFloat>& out) {
    // Derivative / 3: a t^2 + b t + c
    CGFloat a = -p0 + 3 * p1 - 3 * p2 + p3;
    CGFloat b = 2 * (p0 - 2 * p1 + p2);
    CGFloat c = p1 - p0;
    if (std::fabs(a) < 1e-12) {
        if (std::fabs(b) > 1e-12) out.push_back(-c / b);
        return;
    }
    CGFloat disc = b * b - 4 * a * c;
    if (disc < 0) return;
    CGFloat sq = std::sqrt(disc);
    out.push_back((-b + sq) / (2 * a));
    out.push_back((-b - sq) / (2 * a));
}

CGPoint cubicAt(CGPoint p0, CGPoint p1, CGPoint p2, CGPoint p3, CGFloat t) {
    CGFloat u = 1 - t;
    CGFloat a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
    return {a * p0.x + b * p1.x + c * p2.x + d * p3.x, a * p0.y + b * p1.y + c * p2.y + d * p3.y};
}

// A quad curve as the equivalent cubic.
void quadAsCubic(CGPoint p0, CGPoint c, CGPoint p, CGPoint& c1, CGPoint& c2) {
    c1 = {p0.x + 2.0 / 3.0 * (c.x - p0.x), p0.y + 2.0 / 3.0 * (c.y - p0.y)};
    c2 = {p.x + 2.0 / 3.0 * (c.x - p.x), p.y + 2.0 / 3.0 * (c.y - p.y)};
}

}  // namespace

// ---------------------------------------------------------------------------------------------

void CGPath::moveTo(CGPoint p) {
    // Consecutive moves collapse into the last one.
    if (!elements_.empty() && elements_.back().type == kCGPathElementMoveToPoint) {
        elements_.back().points[0] = p;
    } else {
        elements_.push_back({kCGPathElementMoveToPoint, {p}});
    }
    current_ = subpathStart_ = p;
    hasCurrent_ = true;
}

void CGPath::lineTo(CGPoint p) {
    if (!hasCurrent_) return;
    elements_.push_back({kCGPathElementAddLineToPoint, {p}});
    current_ = p;
}

void CGPath::quadTo(CGPoint c, CGPoint p) {
    if (!hasCurrent_) return;
    elements_.push_back({kCGPathElementAddQuadCurveToPoint, {c, p}});
    current_ = p;
}

void CGPath::curveTo(CGPoint c1, CGPoint c2, CGPoint p) {
    if (!hasCurrent_) return;
    elements_.push_back({kCGPathElementAddCurveToPoint, {c1, c2, p}});
    current_ = p;
}

void CGPath::close() {
    if (!hasCurrent_ || elements_.empty() || elements_.back().type == kCGPathElementCloseSubpath) return;
    elements_.push_back({kCGPathElementCloseSubpath, {}});
    current_ = subpathStart_;
}

void CGPath::clear() {
    elements_.clear();
    hasCurrent_ = false;
    current_ = subpathStart_ = CGPoint{};
}

bool CGPath::isEqual(const NSObject& other) const {
    auto o = dynamic_cast<const CGPath*>(&other);
    if (!o || o->elements_.size() != elements_.size()) return false;
    for (std::size_t i = 0; i < elements_.size(); ++i) {
        const auto& a = elements_[i];
        const auto& b = o->elements_[i];
        if (a.type != b.type) return false;
        for (int k = 0; k < 3; ++k) {
            if (!(a.points[k] == b.points[k])) return false;
        }
    }
    return true;
}

Ref<NSObject> CGPath::copyObject() const {
    auto copy = make<CGPath>();
    copy->elements_ = elements_;
    copy->current_ = current_;
    copy->subpathStart_ = subpathStart_;
    copy->hasCurrent_ = hasCurrent_;
    return copy;
}

// ---------------------------------------------------------------------------------------------

CGMutablePathRef CGPathCreateMutable() {
    return make<CGPath>();
}

CGPathRef CGPathCreateCopy(const CGPathRef& path) {
    return path ? std::static_pointer_cast<CGPath>(path->copyObject()) : nullptr;
}

CGMutablePathRef CGPathCreateMutableCopy(const CGPathRef& path) {
    return CGPathCreateCopy(path);
}

CGPathRef CGPathCreateCopyByTransformingPath(const CGPathRef& path, const CGAffineTransform* transform) {
    if (!path) return nullptr;
    auto copy = make<CGPath>();
    CGPathAddPath(copy, transform, path);
    return copy;
}

CGMutablePathRef CGPathCreateMutableCopyByTransformingPath(const CGPathRef& path,
                                                           const CGAffineTransform* transform) {
    return CGPathCreateCopyByTransformingPath(path, transform);
}

CGPathRef CGPathCreateWithRect(CGRect rect, const CGAffineTransform* transform) {
    auto path = make<CGPath>();
    addRect(*path, transform, rect);
    return path;
}

CGPathRef CGPathCreateWithEllipseInRect(CGRect rect, const CGAffineTransform* transform) {
    auto path = make<CGPath>();
    addEllipse(*path, transform, rect);
    return path;
}

CGPathRef CGPathCreateWithRoundedRect(CGRect rect, CGFloat cornerWidth, CGFloat cornerHeight,
                                      const CGAffineTransform* transform) {
    auto path = make<CGPath>();
    addRoundedRect(*path, transform, rect, cornerWidth, cornerHeight);
    return path;
}

void CGPathMoveToPoint(const CGMutablePathRef& path, const CGAffineTransform* m, CGFloat x, CGFloat y) {
    if (path) path->moveTo(apply(m, x, y));
}

void CGPathAddLineToPoint(const CGMutablePathRef& path, const CGAffineTransform* m, CGFloat x, CGFloat y) {
    if (path) path->lineTo(apply(m, x, y));
}

void CGPathAddQuadCurveToPoint(const CGMutablePathRef& path, const CGAffineTransform* m, CGFloat cpx,
                               CGFloat cpy, CGFloat x, CGFloat y) {
    if (path) path->quadTo(apply(m, cpx, cpy), apply(m, x, y));
}

void CGPathAddCurveToPoint(const CGMutablePathRef& path, const CGAffineTransform* m, CGFloat cp1x,
                           CGFloat cp1y, CGFloat cp2x, CGFloat cp2y, CGFloat x, CGFloat y) {
    if (path) path->curveTo(apply(m, cp1x, cp1y), apply(m, cp2x, cp2y), apply(m, x, y));
}

void CGPathAddLines(const CGMutablePathRef& path, const CGAffineTransform* m, const CGPoint* points,
                    std::size_t count) {
    if (!path || !points || count == 0) return;
    path->moveTo(apply(m, points[0]));
    for (std::size_t i = 1; i < count; ++i) path->lineTo(apply(m, points[i]));
}

void CGPathAddRect(const CGMutablePathRef& path, const CGAffineTransform* m, CGRect rect) {
    if (path) addRect(*path, m, rect);
}

void CGPathAddRects(const CGMutablePathRef& path, const CGAffineTransform* m, const CGRect* rects,
                    std::size_t count) {
    if (!path || !rects) return;
    for (std::size_t i = 0; i < count; ++i) addRect(*path, m, rects[i]);
}

void CGPathAddEllipseInRect(const CGMutablePathRef& path, const CGAffineTransform* m, CGRect rect) {
    if (path) addEllipse(*path, m, rect);
}

void CGPathAddRoundedRect(const CGMutablePathRef& path, const CGAffineTransform* m, CGRect rect,
                          CGFloat cornerWidth, CGFloat cornerHeight) {
    if (path) addRoundedRect(*path, m, rect, cornerWidth, cornerHeight);
}

void CGPathAddArc(const CGMutablePathRef& path, const CGAffineTransform* m, CGFloat x, CGFloat y,
                  CGFloat radius, CGFloat startAngle, CGFloat endAngle, bool clockwise) {
    if (!path || !isFiniteValue(startAngle) || !isFiniteValue(endAngle)) return;
    constexpr CGFloat turn = 2 * kPi;
    CGFloat sweep = endAngle - startAngle;
    if (!clockwise && sweep < 0) {
        sweep += std::ceil(-sweep / turn) * turn;
    } else if (clockwise && sweep > 0) {
        sweep -= std::ceil(sweep / turn) * turn;
    }
    addArcSweep(*path, m, x, y, radius, startAngle, sweep);
}

void CGPathAddRelativeArc(const CGMutablePathRef& path, const CGAffineTransform* m, CGFloat x, CGFloat y,
                          CGFloat radius, CGFloat startAngle, CGFloat delta) {
    if (path) addArcSweep(*path, m, x, y, radius, startAngle, delta);
}

void CGPathAddArcToPoint(const CGMutablePathRef& path, const CGAffineTransform* m, CGFloat x1, CGFloat y1,
                         CGFloat x2, CGFloat y2, CGFloat radius) {
    if (!path) return;
    if (!path->hasCurrentPoint()) {
        path->moveTo(apply(m, x1, y1));
        return;
    }
    // Work in the caller's space: bring the current point back through m.
    CGPoint p0 = path->currentPoint();
    if (m) p0 = CGPointApplyAffineTransform(p0, CGAffineTransformInvert(*m));
    CGPoint p1{x1, y1}, p2{x2, y2};
    CGFloat ax = p0.x - p1.x, ay = p0.y - p1.y, bx = p2.x - p1.x, by = p2.y - p1.y;
    CGFloat la = std::hypot(ax, ay), lb = std::hypot(bx, by);
    CGFloat cross = ax * by - ay * bx;
    if (radius <= 0 || !isFiniteValue(radius) || la < 1e-12 || lb < 1e-12 ||
        std::fabs(cross) < 1e-12 * la * lb) {
        path->lineTo(apply(m, p1));
        return;
    }
    ax /= la, ay /= la, bx /= lb, by /= lb;
    // Angle between the two legs at p1.
    CGFloat cosTheta = std::clamp(ax * bx + ay * by, -1.0, 1.0);
    CGFloat theta = std::acos(cosTheta);
    CGFloat d = radius / std::tan(theta / 2);
    CGPoint t1{p1.x + ax * d, p1.y + ay * d};
    CGPoint t2{p1.x + bx * d, p1.y + by * d};
    CGFloat bisx = ax + bx, bisy = ay + by, lbis = std::hypot(bisx, bisy);
    CGFloat h = radius / std::sin(theta / 2);
    CGPoint c{p1.x + bisx / lbis * h, p1.y + bisy / lbis * h};
    CGFloat a0 = std::atan2(t1.y - c.y, t1.x - c.x);
    CGFloat a1 = std::atan2(t2.y - c.y, t2.x - c.x);
    CGFloat sweep = a1 - a0;
    // The short way round, which is the way the corner turns.
    while (sweep > kPi) sweep -= 2 * kPi;
    while (sweep < -kPi) sweep += 2 * kPi;
    arcStart(*path, apply(m, t1));
    appendArcCurves(*path, m, c.x, c.y, radius, a0, sweep);
}

void CGPathAddPath(const CGMutablePathRef& path, const CGAffineTransform* m, const CGPathRef& other) {
    if (!path || !other) return;
    auto elements = other->elements();  // a copy: other may be path itself
    for (const auto& e : elements) {
        switch (e.type) {
            case kCGPathElementMoveToPoint:
                path->moveTo(apply(m, e.points[0]));
                break;
            case kCGPathElementAddLineToPoint:
                path->lineTo(apply(m, e.points[0]));
                break;
            case kCGPathElementAddQuadCurveToPoint:
                path->quadTo(apply(m, e.points[0]), apply(m, e.points[1]));
                break;
            case kCGPathElementAddCurveToPoint:
                path->curveTo(apply(m, e.points[0]), apply(m, e.points[1]), apply(m, e.points[2]));
                break;
            case kCGPathElementCloseSubpath:
                path->close();
                break;
        }
    }
}

void CGPathCloseSubpath(const CGMutablePathRef& path) {
    if (path) path->close();
}

bool CGPathIsEmpty(const CGPathRef& path) {
    return !path || path->isEmpty();
}

bool CGPathEqualToPath(const CGPathRef& a, const CGPathRef& b) {
    if (!a || !b) return a == b;
    return a->isEqual(*b);
}

CGPoint CGPathGetCurrentPoint(const CGPathRef& path) {
    return path && path->hasCurrentPoint() ? path->currentPoint() : CGPointZero;
}

CGRect CGPathGetBoundingBox(const CGPathRef& path) {
    if (CGPathIsEmpty(path)) return CGRectNull;
    constexpr CGFloat inf = std::numeric_limits<CGFloat>::infinity();
    CGFloat minX = inf, minY = inf, maxX = -inf, maxY = -inf;
    for (const auto& e : path->elements()) {
        int n = e.type == kCGPathElementAddCurveToPoint       ? 3
                : e.type == kCGPathElementAddQuadCurveToPoint ? 2
                : e.type == kCGPathElementCloseSubpath        ? 0
                                                              : 1;
        for (int i = 0; i < n; ++i) include(minX, minY, maxX, maxY, e.points[i]);
    }
    return CGRectMake(minX, minY, maxX - minX, maxY - minY);
}

CGRect CGPathGetPathBoundingBox(const CGPathRef& path) {
    if (CGPathIsEmpty(path)) return CGRectNull;
    constexpr CGFloat inf = std::numeric_limits<CGFloat>::infinity();
    CGFloat minX = inf, minY = inf, maxX = -inf, maxY = -inf;
    CGPoint current{};
    std::vector<CGFloat> ts;
    for (const auto& e : path->elements()) {
        switch (e.type) {
            case kCGPathElementMoveToPoint:
            case kCGPathElementAddLineToPoint:
                current = e.points[0];
                include(minX, minY, maxX, maxY, current);
                break;
            case kCGPathElementAddQuadCurveToPoint:
            case kCGPathElementAddCurveToPoint: {
                CGPoint c1 = e.points[0], c2 = e.points[1], end = e.points[2];
                if (e.type == kCGPathElementAddQuadCurveToPoint) {
                    end = e.points[1];
                    quadAsCubic(current, e.points[0], end, c1, c2);
                }
                include(minX, minY, maxX, maxY, end);
                ts.clear();
                cubicExtrema(current.x, c1.x, c2.x, end.x, ts);
                cubicExtrema(current.y, c1.y, c2.y, end.y, ts);
                for (CGFloat t : ts) {
                    if (t > 0 && t < 1) include(minX, minY, maxX, maxY, cubicAt(current, c1, c2, end, t));
                }
                current = end;
                break;
            }
            case kCGPathElementCloseSubpath:
                break;
        }
    }
    return CGRectMake(minX, minY, maxX - minX, maxY - minY);
}

std::vector<std::vector<CGPoint>> detail::flattenPath(const CGPath& path, CGFloat tolerance) {
    std::vector<std::vector<CGPoint>> polygons;
    CGPoint current{};
    auto flattenCubic = [&](CGPoint p0, CGPoint p1, CGPoint p2, CGPoint p3) {
        CGFloat ddx = std::max(std::fabs(p0.x - 2 * p1.x + p2.x), std::fabs(p1.x - 2 * p2.x + p3.x));
        CGFloat ddy = std::max(std::fabs(p0.y - 2 * p1.y + p2.y), std::fabs(p1.y - 2 * p2.y + p3.y));
        CGFloat dd = std::hypot(ddx, ddy);
        int n = static_cast<int>(std::ceil(std::sqrt(0.75 * dd / tolerance)));
        n = std::clamp(n, 1, 1000);
        for (int i = 1; i <= n; ++i) polygons.back().push_back(cubicAt(p0, p1, p2, p3, CGFloat(i) / n));
    };
    for (const auto& e : path.elements()) {
        switch (e.type) {
            case kCGPathElementMoveToPoint:
                polygons.push_back({e.points[0]});
                current = e.points[0];
                break;
            case kCGPathElementAddLineToPoint:
                if (polygons.empty()) polygons.push_back({current});
                polygons.back().push_back(e.points[0]);
                current = e.points[0];
                break;
            case kCGPathElementAddQuadCurveToPoint: {
                if (polygons.empty()) polygons.push_back({current});
                CGPoint c1, c2;
                quadAsCubic(current, e.points[0], e.points[1], c1, c2);
                flattenCubic(current, c1, c2, e.points[1]);
                current = e.points[1];
                break;
            }
            case kCGPathElementAddCurveToPoint:
                if (polygons.empty()) polygons.push_back({current});
                flattenCubic(current, e.points[0], e.points[1], e.points[2]);
                current = e.points[2];
                break;
            case kCGPathElementCloseSubpath:
                if (!polygons.empty()) {
                    current = polygons.back().front();
                    // A subpath drawn after a close starts at the closed one's start.
                    polygons.push_back({current});
                }
                break;
        }
    }
    std::erase_if(polygons, [](const auto& p) { return p.size() < 2; });
    return polygons;
}

bool CGPathContainsPoint(const CGPathRef& path, const CGAffineTransform* m, CGPoint point, bool eoFill) {
    if (CGPathIsEmpty(path)) return false;
    point = apply(m, point);
    int winding = 0;
    int crossings = 0;
    for (const auto& polygon : detail::flattenPath(*path)) {
        std::size_t n = polygon.size();
        for (std::size_t i = 0; i < n; ++i) {
            CGPoint a = polygon[i], b = polygon[(i + 1) % n];
            // Half-open rule on y so that a vertex is counted once.
            if ((a.y <= point.y) != (b.y <= point.y)) {
                CGFloat x = a.x + (point.y - a.y) * (b.x - a.x) / (b.y - a.y);
                if (x > point.x) {
                    ++crossings;
                    winding += (b.y > a.y) ? 1 : -1;
                }
            }
        }
    }
    return eoFill ? (crossings % 2) == 1 : winding != 0;
}

bool CGPathIsRect(const CGPathRef& path, CGRect* rect) {
    if (CGPathIsEmpty(path)) return false;
    const auto& e = path->elements();
    std::size_t n = e.size();
    if (n < 4 || n > 6) return false;
    if (e[0].type != kCGPathElementMoveToPoint) return false;
    std::vector<CGPoint> pts{e[0].points[0]};
    std::size_t i = 1;
    for (; i < n && e[i].type == kCGPathElementAddLineToPoint; ++i) pts.push_back(e[i].points[0]);
    bool closed = i < n && e[i].type == kCGPathElementCloseSubpath;
    if (i + (closed ? 1 : 0) != n) return false;
    if (pts.size() == 5 && pts[4] == pts[0]) pts.pop_back();
    if (pts.size() != 4 || !closed) return false;
    bool horizontalFirst = pts[0].y == pts[1].y;
    for (int k = 0; k < 4; ++k) {
        CGPoint a = pts[k], b = pts[(k + 1) % 4];
        bool horizontal = (k % 2 == 0) == horizontalFirst;
        if (horizontal ? a.y != b.y : a.x != b.x) return false;
    }
    if (rect) {
        CGFloat minX = std::min({pts[0].x, pts[1].x, pts[2].x}),
                maxX = std::max({pts[0].x, pts[1].x, pts[2].x});
        CGFloat minY = std::min({pts[0].y, pts[1].y, pts[2].y}),
                maxY = std::max({pts[0].y, pts[1].y, pts[2].y});
        *rect = CGRectMake(minX, minY, maxX - minX, maxY - minY);
    }
    return true;
}

void CGPathApply(const CGPathRef& path, const std::function<void(const CGPathElement&)>& function) {
    if (!path || !function) return;
    for (const auto& e : path->elements()) function(CGPathElement{e.type, e.points});
}
