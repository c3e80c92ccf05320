#pragma once
// Paths: sequences of subpaths made of lines, quadratic and cubic Bézier curves.
//
// A path stores only move, line, quad curve, cubic curve and close elements; arcs, ellipses and
// rounded rectangles are turned into cubic curves as they are added (at most a quarter turn per
// curve), so the elements read back by CGPathApply are exactly what drawing sees. Every adding
// function takes an optional transform applied to the points it adds.
//
// Arcs follow the angle convention of user space: angle 0 points along +x and angles grow
// towards +y. `clockwise` false draws with growing angles and true with falling ones; an end
// angle on the wrong side of the start is moved by whole turns, while an arc asked to run more
// than one turn keeps all its turns (3π/2 to 11π/2 is two full circles). In a top-left-origin
// context (a view, an image context) growing angles turn clockwise on screen.
//
// Lines and curves need a current point: without one they are ignored, as arcs are not (an arc
// starts a subpath of its own when there is none). A CGPath is shared read-only once made; a
// mutable path belongs to one thread while it is being built.

#include <cstddef>
#include <functional>
#include <vector>

#include "foundation/NSObject.h"
#include "graphics/CGGeometry.h"

enum CGPathElementType : std::int32_t {
    kCGPathElementMoveToPoint = 0,
    kCGPathElementAddLineToPoint = 1,
    kCGPathElementAddQuadCurveToPoint = 2,
    kCGPathElementAddCurveToPoint = 3,
    kCGPathElementCloseSubpath = 4,
};

// points: 1 for move and line, 2 for quad (control, end), 3 for cubic, 0 for close.
struct CGPathElement {
    CGPathElementType type;
    const CGPoint* points;
};

enum CGLineCap : std::int32_t { kCGLineCapButt = 0, kCGLineCapRound = 1, kCGLineCapSquare = 2 };
enum CGLineJoin : std::int32_t { kCGLineJoinMiter = 0, kCGLineJoinRound = 1, kCGLineJoinBevel = 2 };

class CGPath : public NSObject {
  public:
    struct Element {
        CGPathElementType type;
        CGPoint points[3];
    };

    CGPath() = default;

    const std::vector<Element>& elements() const { return elements_; }
    bool isEmpty() const { return elements_.empty(); }
    bool hasCurrentPoint() const { return hasCurrent_; }
    CGPoint currentPoint() const { return current_; }

    // Raw appends in path space (callers apply transforms first).
    void moveTo(CGPoint p);
    void lineTo(CGPoint p);
    void quadTo(CGPoint c, CGPoint p);
    void curveTo(CGPoint c1, CGPoint c2, CGPoint p);
    void close();
    void clear();

    std::string className() const override { return "CGPath"; }
    // Same elements with the same points.
    bool isEqual(const NSObject& other) const override;
    Ref<NSObject> copyObject() const override;

  private:
    std::vector<Element> elements_;
    CGPoint current_{};
    CGPoint subpathStart_{};
    bool hasCurrent_ = false;
};
using CGPathRef = Ref<CGPath>;
using CGMutablePathRef = Ref<CGPath>;

CGMutablePathRef CGPathCreateMutable();
// Copies; nullptr for a null path.
CGPathRef CGPathCreateCopy(const CGPathRef& path);
CGMutablePathRef CGPathCreateMutableCopy(const CGPathRef& path);
CGPathRef CGPathCreateCopyByTransformingPath(const CGPathRef& path, const CGAffineTransform* transform);
CGMutablePathRef CGPathCreateMutableCopyByTransformingPath(const CGPathRef& path,
                                                           const CGAffineTransform* transform);
CGPathRef CGPathCreateWithRect(CGRect rect, const CGAffineTransform* transform);
CGPathRef CGPathCreateWithEllipseInRect(CGRect rect, const CGAffineTransform* transform);
CGPathRef CGPathCreateWithRoundedRect(CGRect rect, CGFloat cornerWidth, CGFloat cornerHeight,
                                      const CGAffineTransform* transform);

void CGPathMoveToPoint(const CGMutablePathRef& path, const CGAffineTransform* m, CGFloat x, CGFloat y);
void CGPathAddLineToPoint(const CGMutablePathRef& path, const CGAffineTransform* m, CGFloat x, CGFloat y);
void CGPathAddQuadCurveToPoint(const CGMutablePathRef& path, const CGAffineTransform* m, CGFloat cpx,
                               CGFloat cpy, CGFloat x, CGFloat y);
void CGPathAddCurveToPoint(const CGMutablePathRef& path, const CGAffineTransform* m, CGFloat cp1x,
                           CGFloat cp1y, CGFloat cp2x, CGFloat cp2y, CGFloat x, CGFloat y);
void CGPathAddLines(const CGMutablePathRef& path, const CGAffineTransform* m, const CGPoint* points,
                    std::size_t count);
// A closed subpath: min corner, then along x, then y.
void CGPathAddRect(const CGMutablePathRef& path, const CGAffineTransform* m, CGRect rect);
void CGPathAddRects(const CGMutablePathRef& path, const CGAffineTransform* m, const CGRect* rects,
                    std::size_t count);
// A closed subpath of four quarter curves, starting at the maximum x, middle y.
void CGPathAddEllipseInRect(const CGMutablePathRef& path, const CGAffineTransform* m, CGRect rect);
// Corner sizes are clamped to half the rectangle's sides.
void CGPathAddRoundedRect(const CGMutablePathRef& path, const CGAffineTransform* m, CGRect rect,
                          CGFloat cornerWidth, CGFloat cornerHeight);
// A line from the current point to the arc's start (or a move there when there is none), then
// the arc.
void CGPathAddArc(const CGMutablePathRef& path, const CGAffineTransform* m, CGFloat x, CGFloat y,
                  CGFloat radius, CGFloat startAngle, CGFloat endAngle, bool clockwise);
// An arc of `delta` radians (its sign gives the direction) from startAngle.
void CGPathAddRelativeArc(const CGMutablePathRef& path, const CGAffineTransform* m, CGFloat x, CGFloat y,
                          CGFloat radius, CGFloat startAngle, CGFloat delta);
// The arc of the given radius tangent to the line from the current point to (x1, y1) and to the
// line from (x1, y1) to (x2, y2), preceded by a line to its first tangent point. Collinear
// points or a zero radius give a line to (x1, y1); without a current point it starts at (x1, y1).
void CGPathAddArcToPoint(const CGMutablePathRef& path, const CGAffineTransform* m, CGFloat x1, CGFloat y1,
                         CGFloat x2, CGFloat y2, CGFloat radius);
void CGPathAddPath(const CGMutablePathRef& path, const CGAffineTransform* m, const CGPathRef& other);
void CGPathCloseSubpath(const CGMutablePathRef& path);

bool CGPathIsEmpty(const CGPathRef& path);
bool CGPathEqualToPath(const CGPathRef& a, const CGPathRef& b);
// CGPointZero when there is none.
CGPoint CGPathGetCurrentPoint(const CGPathRef& path);
// The smallest rectangle holding every point, control points included; CGRectNull when empty.
CGRect CGPathGetBoundingBox(const CGPathRef& path);
// The smallest rectangle holding the curves themselves; CGRectNull when empty.
CGRect CGPathGetPathBoundingBox(const CGPathRef& path);
// Whether the point (transformed by m first) lies inside the filled path, by the non-zero
// winding rule or, with eoFill, the even-odd rule. Open subpaths count as closed.
bool CGPathContainsPoint(const CGPathRef& path, const CGAffineTransform* m, CGPoint point, bool eoFill);
// True with the rectangle when the path is one closed axis-aligned rectangle.
bool CGPathIsRect(const CGPathRef& path, CGRect* rect);
void CGPathApply(const CGPathRef& path, const std::function<void(const CGPathElement&)>& function);

namespace detail {
// The path's subpaths as polylines (curves flattened to within `tolerance`); each polygon's last
// point repeats nothing, closing is implied.
std::vector<std::vector<CGPoint>> flattenPath(const CGPath& path, CGFloat tolerance = 0.05);
}  // namespace detail
