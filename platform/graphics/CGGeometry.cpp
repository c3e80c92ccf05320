#include "graphics/CGGeometry.h"

#include <cfloat>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <limits>

const CGRect CGRectNull{{std::numeric_limits<CGFloat>::infinity(), std::numeric_limits<CGFloat>::infinity()},
                        {0, 0}};
const CGRect CGRectInfinite{{-DBL_MAX / 2, -DBL_MAX / 2}, {DBL_MAX, DBL_MAX}};

CGRect CGRectStandardize(CGRect r) {
    if (CGRectIsNull(r)) return r;
    if (r.size.width < 0) {
        r.origin.x += r.size.width;
        r.size.width = -r.size.width;
    }
    if (r.size.height < 0) {
        r.origin.y += r.size.height;
        r.size.height = -r.size.height;
    }
    return r;
}

CGFloat CGRectGetMinX(CGRect r) {
    return CGRectStandardize(r).origin.x;
}
CGFloat CGRectGetMinY(CGRect r) {
    return CGRectStandardize(r).origin.y;
}
CGFloat CGRectGetMaxX(CGRect r) {
    r = CGRectStandardize(r);
    return r.origin.x + r.size.width;
}
CGFloat CGRectGetMaxY(CGRect r) {
    r = CGRectStandardize(r);
    return r.origin.y + r.size.height;
}
CGFloat CGRectGetMidX(CGRect r) {
    r = CGRectStandardize(r);
    return r.origin.x + r.size.width / 2;
}
CGFloat CGRectGetMidY(CGRect r) {
    r = CGRectStandardize(r);
    return r.origin.y + r.size.height / 2;
}

bool CGRectIsNull(CGRect r) {
    return (std::isinf(r.origin.x) && r.origin.x > 0) || (std::isinf(r.origin.y) && r.origin.y > 0);
}
bool CGRectIsEmpty(CGRect r) {
    return CGRectIsNull(r) || r.size.width == 0 || r.size.height == 0;
}
bool CGRectIsInfinite(CGRect r) {
    return r == CGRectInfinite;
}

bool CGRectEqualToRect(CGRect a, CGRect b) {
    if (CGRectIsNull(a) || CGRectIsNull(b)) return CGRectIsNull(a) && CGRectIsNull(b);
    return CGRectStandardize(a) == CGRectStandardize(b);
}
bool CGSizeEqualToSize(CGSize a, CGSize b) {
    return a == b;
}
bool CGPointEqualToPoint(CGPoint a, CGPoint b) {
    return a == b;
}

CGRect CGRectInset(CGRect r, CGFloat dx, CGFloat dy) {
    if (CGRectIsNull(r)) return r;
    r = CGRectStandardize(r);
    r.origin.x += dx;
    r.origin.y += dy;
    r.size.width -= 2 * dx;
    r.size.height -= 2 * dy;
    if (r.size.width < 0 || r.size.height < 0) return CGRectNull;
    return r;
}

CGRect CGRectOffset(CGRect r, CGFloat dx, CGFloat dy) {
    if (CGRectIsNull(r)) return r;
    r = CGRectStandardize(r);
    r.origin.x += dx;
    r.origin.y += dy;
    return r;
}

CGRect CGRectIntegral(CGRect r) {
    if (CGRectIsNull(r) || CGRectIsInfinite(r)) return r;
    r = CGRectStandardize(r);
    CGFloat minX = std::floor(r.origin.x), minY = std::floor(r.origin.y);
    CGFloat maxX = std::ceil(r.origin.x + r.size.width), maxY = std::ceil(r.origin.y + r.size.height);
    return {{minX, minY}, {maxX - minX, maxY - minY}};
}

CGRect CGRectUnion(CGRect a, CGRect b) {
    if (CGRectIsNull(a)) return CGRectStandardize(b);
    if (CGRectIsNull(b)) return CGRectStandardize(a);
    a = CGRectStandardize(a);
    b = CGRectStandardize(b);
    CGFloat minX = std::min(a.origin.x, b.origin.x), minY = std::min(a.origin.y, b.origin.y);
    CGFloat maxX = std::max(a.origin.x + a.size.width, b.origin.x + b.size.width);
    CGFloat maxY = std::max(a.origin.y + a.size.height, b.origin.y + b.size.height);
    return {{minX, minY}, {maxX - minX, maxY - minY}};
}

CGRect CGRectIntersection(CGRect a, CGRect b) {
    if (CGRectIsNull(a) || CGRectIsNull(b)) return CGRectNull;
    a = CGRectStandardize(a);
    b = CGRectStandardize(b);
    CGFloat minX = std::max(a.origin.x, b.origin.x), minY = std::max(a.origin.y, b.origin.y);
    CGFloat maxX = std::min(a.origin.x + a.size.width, b.origin.x + b.size.width);
    CGFloat maxY = std::min(a.origin.y + a.size.height, b.origin.y + b.size.height);
    if (maxX < minX || maxY < minY) return CGRectNull;
    return {{minX, minY}, {maxX - minX, maxY - minY}};
}

bool CGRectIntersectsRect(CGRect a, CGRect b) {
    return !CGRectIsEmpty(CGRectIntersection(a, b));
}

bool CGRectContainsPoint(CGRect r, CGPoint p) {
    if (CGRectIsNull(r)) return false;
    r = CGRectStandardize(r);
    return p.x >= r.origin.x && p.x < r.origin.x + r.size.width && p.y >= r.origin.y &&
           p.y < r.origin.y + r.size.height;
}

bool CGRectContainsRect(CGRect outer, CGRect inner) {
    if (CGRectIsNull(outer) || CGRectIsNull(inner)) return false;
    outer = CGRectStandardize(outer);
    inner = CGRectStandardize(inner);
    return inner.origin.x >= outer.origin.x && inner.origin.y >= outer.origin.y &&
           inner.origin.x + inner.size.width <= outer.origin.x + outer.size.width &&
           inner.origin.y + inner.size.height <= outer.origin.y + outer.size.height;
}

CGRect UIEdgeInsetsInsetRect(CGRect r, UIEdgeInsets insets) {
    r.origin.x += insets.left;
    r.origin.y += insets.top;
    r.size.width -= insets.left + insets.right;
    r.size.height -= insets.top + insets.bottom;
    return r;
}

// ---------------------------------------------------------------------------------------------
CGAffineTransform CGAffineTransformMake(CGFloat a, CGFloat b, CGFloat c, CGFloat d, CGFloat tx, CGFloat ty) {
    return {a, b, c, d, tx, ty};
}
CGAffineTransform CGAffineTransformMakeTranslation(CGFloat tx, CGFloat ty) {
    return {1, 0, 0, 1, tx, ty};
}
CGAffineTransform CGAffineTransformMakeScale(CGFloat sx, CGFloat sy) {
    return {sx, 0, 0, sy, 0, 0};
}
CGAffineTransform CGAffineTransformMakeRotation(CGFloat angle) {
    CGFloat c = std::cos(angle), s = std::sin(angle);
    return {c, s, -s, c, 0, 0};
}
CGAffineTransform CGAffineTransformConcat(CGAffineTransform t1, CGAffineTransform t2) {
    return {t1.a * t2.a + t1.b * t2.c,           t1.a * t2.b + t1.b * t2.d,
            t1.c * t2.a + t1.d * t2.c,           t1.c * t2.b + t1.d * t2.d,
            t1.tx * t2.a + t1.ty * t2.c + t2.tx, t1.tx * t2.b + t1.ty * t2.d + t2.ty};
}
// The new step acts first, in the transform's own (untransformed) space.
CGAffineTransform CGAffineTransformTranslate(CGAffineTransform t, CGFloat tx, CGFloat ty) {
    return CGAffineTransformConcat(CGAffineTransformMakeTranslation(tx, ty), t);
}
CGAffineTransform CGAffineTransformScale(CGAffineTransform t, CGFloat sx, CGFloat sy) {
    return CGAffineTransformConcat(CGAffineTransformMakeScale(sx, sy), t);
}
CGAffineTransform CGAffineTransformRotate(CGAffineTransform t, CGFloat angle) {
    return CGAffineTransformConcat(CGAffineTransformMakeRotation(angle), t);
}
CGAffineTransform CGAffineTransformInvert(CGAffineTransform t) {
    CGFloat det = t.a * t.d - t.b * t.c;
    if (det == 0 || !std::isfinite(det)) return t;
    CGAffineTransform r;
    r.a = t.d / det;
    r.b = -t.b / det;
    r.c = -t.c / det;
    r.d = t.a / det;
    r.tx = (t.c * t.ty - t.d * t.tx) / det;
    r.ty = (t.b * t.tx - t.a * t.ty) / det;
    return r;
}
bool CGAffineTransformIsIdentity(CGAffineTransform t) {
    return t == CGAffineTransformIdentity;
}
bool CGAffineTransformEqualToTransform(CGAffineTransform a, CGAffineTransform b) {
    return a == b;
}
CGPoint CGPointApplyAffineTransform(CGPoint p, CGAffineTransform t) {
    return {t.a * p.x + t.c * p.y + t.tx, t.b * p.x + t.d * p.y + t.ty};
}
CGSize CGSizeApplyAffineTransform(CGSize s, CGAffineTransform t) {
    return {t.a * s.width + t.c * s.height, t.b * s.width + t.d * s.height};
}
CGRect CGRectApplyAffineTransform(CGRect r, CGAffineTransform t) {
    if (CGRectIsNull(r)) return r;
    r = CGRectStandardize(r);
    CGPoint corners[4] = {r.origin,
                          {r.origin.x + r.size.width, r.origin.y},
                          {r.origin.x, r.origin.y + r.size.height},
                          {r.origin.x + r.size.width, r.origin.y + r.size.height}};
    CGFloat minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
    for (CGPoint c : corners) {
        CGPoint p = CGPointApplyAffineTransform(c, t);
        minX = std::min(minX, p.x);
        minY = std::min(minY, p.y);
        maxX = std::max(maxX, p.x);
        maxY = std::max(maxY, p.y);
    }
    return {{minX, minY}, {maxX - minX, maxY - minY}};
}

// ---------------------------------------------------------------------------------------------
// Row-vector convention: a point (x, y, z, 1) times the matrix; translation in the fourth row.
CATransform3D CATransform3DMakeAffineTransform(CGAffineTransform t) {
    CATransform3D m;
    m.m11 = t.a;
    m.m12 = t.b;
    m.m21 = t.c;
    m.m22 = t.d;
    m.m41 = t.tx;
    m.m42 = t.ty;
    return m;
}
CATransform3D CATransform3DMakeTranslation(CGFloat tx, CGFloat ty, CGFloat tz) {
    CATransform3D m;
    m.m41 = tx;
    m.m42 = ty;
    m.m43 = tz;
    return m;
}
CATransform3D CATransform3DMakeScale(CGFloat sx, CGFloat sy, CGFloat sz) {
    CATransform3D m;
    m.m11 = sx;
    m.m22 = sy;
    m.m33 = sz;
    return m;
}
CATransform3D CATransform3DMakeRotation(CGFloat angle, CGFloat x, CGFloat y, CGFloat z) {
    CGFloat len = std::sqrt(x * x + y * y + z * z);
    if (len == 0 || !std::isfinite(len)) return CATransform3DIdentity;
    x /= len;
    y /= len;
    z /= len;
    CGFloat c = std::cos(angle), s = std::sin(angle), k = 1 - c;
    CATransform3D m;
    m.m11 = c + x * x * k;
    m.m12 = y * x * k + z * s;
    m.m13 = z * x * k - y * s;
    m.m21 = x * y * k - z * s;
    m.m22 = c + y * y * k;
    m.m23 = z * y * k + x * s;
    m.m31 = x * z * k + y * s;
    m.m32 = y * z * k - x * s;
    m.m33 = c + z * z * k;
    return m;
}
CATransform3D CATransform3DConcat(const CATransform3D& a, const CATransform3D& b) {
    const CGFloat A[4][4] = {{a.m11, a.m12, a.m13, a.m14},
                             {a.m21, a.m22, a.m23, a.m24},
                             {a.m31, a.m32, a.m33, a.m34},
                             {a.m41, a.m42, a.m43, a.m44}};
    const CGFloat B[4][4] = {{b.m11, b.m12, b.m13, b.m14},
                             {b.m21, b.m22, b.m23, b.m24},
                             {b.m31, b.m32, b.m33, b.m34},
                             {b.m41, b.m42, b.m43, b.m44}};
    CGFloat R[4][4];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            R[i][j] = A[i][0] * B[0][j] + A[i][1] * B[1][j] + A[i][2] * B[2][j] + A[i][3] * B[3][j];
    return {R[0][0], R[0][1], R[0][2], R[0][3], R[1][0], R[1][1], R[1][2], R[1][3],
            R[2][0], R[2][1], R[2][2], R[2][3], R[3][0], R[3][1], R[3][2], R[3][3]};
}
bool CATransform3DIsAffine(const CATransform3D& t) {
    return t.m13 == 0 && t.m14 == 0 && t.m23 == 0 && t.m24 == 0 && t.m31 == 0 && t.m32 == 0 && t.m33 == 1 &&
           t.m34 == 0 && t.m43 == 0 && t.m44 == 1;
}
CGAffineTransform CATransform3DGetAffineTransform(const CATransform3D& t) {
    return {t.m11, t.m12, t.m21, t.m22, t.m41, t.m42};
}
bool CATransform3DIsIdentity(const CATransform3D& t) {
    return t == CATransform3DIdentity;
}

// ---------------------------------------------------------------------------------------------
namespace {
// Shortest text that reads back to the same double ("320", "0.1", "1e-07").
std::string number(CGFloat v) {
    char buf[64];
    auto result = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, result.ptr);
}

// Reads up to n numbers from text such as "{{1, 2}, {3, 4}}"; false when fewer are found or
// something other than braces, commas and spaces separates them.
bool readNumbers(const std::string& s, CGFloat* out, int n) {
    const char* p = s.c_str();
    int found = 0;
    while (*p && found < n) {
        if (*p == '{' || *p == '}' || *p == ',' || *p == ' ' || *p == '\t' || *p == '\n') {
            ++p;
            continue;
        }
        char* end = nullptr;
        double v = std::strtod(p, &end);
        if (end == p) return false;
        out[found++] = v;
        p = end;
    }
    return found == n;
}
}  // namespace

std::string NSStringFromCGPoint(CGPoint p) {
    return "{" + number(p.x) + ", " + number(p.y) + "}";
}
std::string NSStringFromCGSize(CGSize s) {
    return "{" + number(s.width) + ", " + number(s.height) + "}";
}
std::string NSStringFromCGRect(CGRect r) {
    return "{" + NSStringFromCGPoint(r.origin) + ", " + NSStringFromCGSize(r.size) + "}";
}
std::string NSStringFromUIEdgeInsets(UIEdgeInsets i) {
    return "{" + number(i.top) + ", " + number(i.left) + ", " + number(i.bottom) + ", " + number(i.right) +
           "}";
}
CGPoint CGPointFromString(const std::string& s) {
    CGFloat v[2];
    return readNumbers(s, v, 2) ? CGPoint{v[0], v[1]} : CGPointZero;
}
CGSize CGSizeFromString(const std::string& s) {
    CGFloat v[2];
    return readNumbers(s, v, 2) ? CGSize{v[0], v[1]} : CGSizeZero;
}
CGRect CGRectFromString(const std::string& s) {
    CGFloat v[4];
    return readNumbers(s, v, 4) ? CGRectMake(v[0], v[1], v[2], v[3]) : CGRectZero;
}

CGRect AVMakeRectWithAspectRatioInsideRect(CGSize aspectRatio, CGRect bounding) {
    bounding = CGRectStandardize(bounding);
    if (!(aspectRatio.width > 0) || !(aspectRatio.height > 0) || CGRectIsNull(bounding)) return CGRectZero;
    CGFloat scale =
        std::min(bounding.size.width / aspectRatio.width, bounding.size.height / aspectRatio.height);
    CGSize size{aspectRatio.width * scale, aspectRatio.height * scale};
    return {{bounding.origin.x + (bounding.size.width - size.width) / 2,
             bounding.origin.y + (bounding.size.height - size.height) / 2},
            size};
}
