#pragma once
// Points, sizes, rectangles and affine transforms, in CGFloat (double) user-space units.

#include <algorithm>
#include <cmath>
#include <string>

using CGFloat = double;

struct CGPoint {
    CGFloat x = 0, y = 0;
    bool operator==(const CGPoint&) const = default;
};
struct CGSize {
    CGFloat width = 0, height = 0;
    bool operator==(const CGSize&) const = default;
};
struct CGVector {
    CGFloat dx = 0, dy = 0;
    bool operator==(const CGVector&) const = default;
};
struct CGRect {
    CGPoint origin;
    CGSize size;
    bool operator==(const CGRect&) const = default;
};

inline constexpr CGPoint CGPointZero{};
inline constexpr CGSize CGSizeZero{};
inline constexpr CGRect CGRectZero{};

inline constexpr CGPoint CGPointMake(CGFloat x, CGFloat y) {
    return {x, y};
}
inline constexpr CGSize CGSizeMake(CGFloat w, CGFloat h) {
    return {w, h};
}
inline constexpr CGRect CGRectMake(CGFloat x, CGFloat y, CGFloat w, CGFloat h) {
    return {{x, y}, {w, h}};
}

// The rectangle with non-negative width and height covering the same area.
CGRect CGRectStandardize(CGRect r);
CGFloat CGRectGetMinX(CGRect r);
CGFloat CGRectGetMinY(CGRect r);
CGFloat CGRectGetMaxX(CGRect r);
CGFloat CGRectGetMaxY(CGRect r);
CGFloat CGRectGetMidX(CGRect r);
CGFloat CGRectGetMidY(CGRect r);
inline CGFloat CGRectGetWidth(CGRect r) {
    return std::fabs(r.size.width);
}
inline CGFloat CGRectGetHeight(CGRect r) {
    return std::fabs(r.size.height);
}
bool CGRectIsEmpty(CGRect r);
bool CGRectIsNull(CGRect r);
bool CGRectIsInfinite(CGRect r);
bool CGRectEqualToRect(CGRect a, CGRect b);
bool CGSizeEqualToSize(CGSize a, CGSize b);
bool CGPointEqualToPoint(CGPoint a, CGPoint b);
CGRect CGRectInset(CGRect r, CGFloat dx, CGFloat dy);
CGRect CGRectOffset(CGRect r, CGFloat dx, CGFloat dy);
CGRect CGRectIntegral(CGRect r);
CGRect CGRectUnion(CGRect a, CGRect b);
CGRect CGRectIntersection(CGRect a, CGRect b);
bool CGRectIntersectsRect(CGRect a, CGRect b);
bool CGRectContainsPoint(CGRect r, CGPoint p);
bool CGRectContainsRect(CGRect outer, CGRect inner);
extern const CGRect CGRectNull;
extern const CGRect CGRectInfinite;

struct UIEdgeInsets {
    CGFloat top = 0, left = 0, bottom = 0, right = 0;
    bool operator==(const UIEdgeInsets&) const = default;
};
inline constexpr UIEdgeInsets UIEdgeInsetsZero{};
inline constexpr UIEdgeInsets UIEdgeInsetsMake(CGFloat t, CGFloat l, CGFloat b, CGFloat r) {
    return {t, l, b, r};
}
CGRect UIEdgeInsetsInsetRect(CGRect r, UIEdgeInsets insets);

struct UIOffset {
    CGFloat horizontal = 0, vertical = 0;
    bool operator==(const UIOffset&) const = default;
};
inline constexpr UIOffset UIOffsetZero{};
inline constexpr UIOffset UIOffsetMake(CGFloat h, CGFloat v) {
    return {h, v};
}

// x' = a*x + c*y + tx ; y' = b*x + d*y + ty
struct CGAffineTransform {
    CGFloat a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
    bool operator==(const CGAffineTransform&) const = default;
};
inline constexpr CGAffineTransform CGAffineTransformIdentity{};
CGAffineTransform CGAffineTransformMake(CGFloat a, CGFloat b, CGFloat c, CGFloat d, CGFloat tx, CGFloat ty);
CGAffineTransform CGAffineTransformMakeTranslation(CGFloat tx, CGFloat ty);
CGAffineTransform CGAffineTransformMakeScale(CGFloat sx, CGFloat sy);
CGAffineTransform CGAffineTransformMakeRotation(CGFloat angle);
CGAffineTransform CGAffineTransformTranslate(CGAffineTransform t, CGFloat tx, CGFloat ty);
CGAffineTransform CGAffineTransformScale(CGAffineTransform t, CGFloat sx, CGFloat sy);
CGAffineTransform CGAffineTransformRotate(CGAffineTransform t, CGFloat angle);
// t1 then t2.
CGAffineTransform CGAffineTransformConcat(CGAffineTransform t1, CGAffineTransform t2);
// The identity's inverse for a singular transform, unchanged (as the platform answers).
CGAffineTransform CGAffineTransformInvert(CGAffineTransform t);
bool CGAffineTransformIsIdentity(CGAffineTransform t);
bool CGAffineTransformEqualToTransform(CGAffineTransform a, CGAffineTransform b);
CGPoint CGPointApplyAffineTransform(CGPoint p, CGAffineTransform t);
CGSize CGSizeApplyAffineTransform(CGSize s, CGAffineTransform t);
// The bounding box of the transformed rectangle.
CGRect CGRectApplyAffineTransform(CGRect r, CGAffineTransform t);

struct CATransform3D {
    CGFloat m11 = 1, m12 = 0, m13 = 0, m14 = 0;
    CGFloat m21 = 0, m22 = 1, m23 = 0, m24 = 0;
    CGFloat m31 = 0, m32 = 0, m33 = 1, m34 = 0;
    CGFloat m41 = 0, m42 = 0, m43 = 0, m44 = 1;
    bool operator==(const CATransform3D&) const = default;
};
inline constexpr CATransform3D CATransform3DIdentity{};
CATransform3D CATransform3DMakeAffineTransform(CGAffineTransform t);
CATransform3D CATransform3DMakeTranslation(CGFloat tx, CGFloat ty, CGFloat tz);
CATransform3D CATransform3DMakeScale(CGFloat sx, CGFloat sy, CGFloat sz);
CATransform3D CATransform3DMakeRotation(CGFloat angle, CGFloat x, CGFloat y, CGFloat z);
CATransform3D CATransform3DConcat(const CATransform3D& a, const CATransform3D& b);
bool CATransform3DIsAffine(const CATransform3D& t);
CGAffineTransform CATransform3DGetAffineTransform(const CATransform3D& t);
bool CATransform3DIsIdentity(const CATransform3D& t);

// "{x, y}", "{w, h}", "{{x, y}, {w, h}}" and back; unreadable text gives zero.
std::string NSStringFromCGPoint(CGPoint p);
std::string NSStringFromCGSize(CGSize s);
std::string NSStringFromCGRect(CGRect r);
std::string NSStringFromUIEdgeInsets(UIEdgeInsets i);
CGPoint CGPointFromString(const std::string& s);
CGSize CGSizeFromString(const std::string& s);
CGRect CGRectFromString(const std::string& s);

// The largest rectangle of the given aspect ratio that fits centred inside bounding.
CGRect AVMakeRectWithAspectRatioInsideRect(CGSize aspectRatio, CGRect bounding);
