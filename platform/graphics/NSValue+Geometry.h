#pragma once
// NSValue(Geometry): boxes for points, sizes, rectangles, vectors, offsets, edge insets and affine
// transforms, under the type encodings the rest of the system recognises them by. Readers answer
// the zero value (identity for a transform) for a null box or one holding another type.

#include "foundation/NSValue.h"
#include "graphics/CGGeometry.h"

inline constexpr char kNSValueEncodingCGPoint[] = "{CGPoint=dd}";
inline constexpr char kNSValueEncodingCGSize[] = "{CGSize=dd}";
inline constexpr char kNSValueEncodingCGRect[] = "{CGRect={CGPoint=dd}{CGSize=dd}}";
inline constexpr char kNSValueEncodingCGVector[] = "{CGVector=dd}";
inline constexpr char kNSValueEncodingUIOffset[] = "{UIOffset=dd}";
inline constexpr char kNSValueEncodingUIEdgeInsets[] = "{UIEdgeInsets=dddd}";
inline constexpr char kNSValueEncodingCGAffineTransform[] = "{CGAffineTransform=dddddd}";

namespace NSValue_Geometry {

Ref<NSValue> valueWithCGPoint(CGPoint point);
Ref<NSValue> valueWithCGSize(CGSize size);
Ref<NSValue> valueWithCGRect(CGRect rect);
Ref<NSValue> valueWithCGVector(CGVector vector);
Ref<NSValue> valueWithUIOffset(UIOffset offset);
Ref<NSValue> valueWithUIEdgeInsets(UIEdgeInsets insets);
Ref<NSValue> valueWithCGAffineTransform(CGAffineTransform transform);

CGPoint CGPointValue(const Ref<NSValue>& value);
CGSize CGSizeValue(const Ref<NSValue>& value);
CGRect CGRectValue(const Ref<NSValue>& value);
CGVector CGVectorValue(const Ref<NSValue>& value);
UIOffset UIOffsetValue(const Ref<NSValue>& value);
UIEdgeInsets UIEdgeInsetsValue(const Ref<NSValue>& value);
CGAffineTransform CGAffineTransformValue(const Ref<NSValue>& value);

}  // namespace NSValue_Geometry
