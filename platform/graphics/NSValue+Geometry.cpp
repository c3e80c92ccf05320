#include "graphics/NSValue+Geometry.h"

namespace NSValue_Geometry {

namespace {
template <class T>
T read(const Ref<NSValue>& value, const char* encoding, T fallback = T{}) {
    if (!value) return fallback;
    return value->valueAs<T>(encoding).value_or(fallback);
}
}  // namespace

Ref<NSValue> valueWithCGPoint(CGPoint point) {
    return NSValue::valueWithValue(point, kNSValueEncodingCGPoint);
}
Ref<NSValue> valueWithCGSize(CGSize size) {
    return NSValue::valueWithValue(size, kNSValueEncodingCGSize);
}
Ref<NSValue> valueWithCGRect(CGRect rect) {
    return NSValue::valueWithValue(rect, kNSValueEncodingCGRect);
}
Ref<NSValue> valueWithCGVector(CGVector vector) {
    return NSValue::valueWithValue(vector, kNSValueEncodingCGVector);
}
Ref<NSValue> valueWithUIOffset(UIOffset offset) {
    return NSValue::valueWithValue(offset, kNSValueEncodingUIOffset);
}
Ref<NSValue> valueWithUIEdgeInsets(UIEdgeInsets insets) {
    return NSValue::valueWithValue(insets, kNSValueEncodingUIEdgeInsets);
}
Ref<NSValue> valueWithCGAffineTransform(CGAffineTransform transform) {
    return NSValue::valueWithValue(transform, kNSValueEncodingCGAffineTransform);
}

CGPoint CGPointValue(const Ref<NSValue>& value) {
    return read<CGPoint>(value, kNSValueEncodingCGPoint);
}
CGSize CGSizeValue(const Ref<NSValue>& value) {
    return read<CGSize>(value, kNSValueEncodingCGSize);
}
CGRect CGRectValue(const Ref<NSValue>& value) {
    return read<CGRect>(value, kNSValueEncodingCGRect);
}
CGVector CGVectorValue(const Ref<NSValue>& value) {
    return read<CGVector>(value, kNSValueEncodingCGVector);
}
UIOffset UIOffsetValue(const Ref<NSValue>& value) {
    return read<UIOffset>(value, kNSValueEncodingUIOffset);
}
UIEdgeInsets UIEdgeInsetsValue(const Ref<NSValue>& value) {
    return read<UIEdgeInsets>(value, kNSValueEncodingUIEdgeInsets);
}
CGAffineTransform CGAffineTransformValue(const Ref<NSValue>& value) {
    return read<CGAffineTransform>(value, kNSValueEncodingCGAffineTransform, CGAffineTransformIdentity);
}

}  // namespace NSValue_Geometry
