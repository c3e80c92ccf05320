#pragma once
// A boxed plain value: its bytes and the type encoding that says what they are, such as
// "{CGPoint=dd}", "{CGSize=dd}", "{UIEdgeInsets=dddd}" or "{CGRect={CGPoint=dd}{CGSize=dd}}".
// Code that receives a box decides what to do by its encoding, so the encoding travels exactly as
// given. Immutable; two boxes are equal when encoding and bytes are.
//
// The geometry libraries add typed makers and readers on top of valueWithBytes and getValue.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "foundation/NSObject.h"

class NSValue : public NSObject {
  public:
    NSValue(const void* bytes, std::size_t size, std::string objCType);

    static Ref<NSValue> valueWithBytes(const void* bytes, std::size_t size, std::string objCType) {
        return make<NSValue>(bytes, size, std::move(objCType));
    }
    // Boxes any trivially copyable value under the given encoding.
    template <class T>
    static Ref<NSValue> valueWithValue(const T& value, std::string objCType) {
        static_assert(std::is_trivially_copyable_v<T>, "only plain values can be boxed");
        return make<NSValue>(&value, sizeof(T), std::move(objCType));
    }
    // A pointer, not owned and not retained: encoding "^v".
    static Ref<NSValue> valueWithPointer(const void* pointer) {
        return make<NSValue>(&pointer, sizeof pointer, "^v");
    }

    const std::string& objCType() const { return objCType_; }
    std::size_t size() const { return bytes_.size(); }
    const std::uint8_t* bytes() const { return bytes_.data(); }

    // Copies the bytes out when size is exactly the boxed size; otherwise copies nothing and
    // answers false (reading a box as the wrong type is a caller's mistake, not a crash).
    bool getValue(void* out, std::size_t size) const;
    // The boxed value as T when the encoding matches and the size is T's.
    template <class T>
    std::optional<T> valueAs(const std::string& expectedType) const {
        static_assert(std::is_trivially_copyable_v<T>, "only plain values can be unboxed");
        if (expectedType != objCType_ || bytes_.size() != sizeof(T)) return std::nullopt;
        T value;
        std::memcpy(&value, bytes_.data(), sizeof(T));
        return value;
    }
    // The pointer of valueWithPointer; nullptr for any other box.
    const void* pointerValue() const;

    bool isEqualToValue(const NSValue& other) const;

    std::string className() const override { return "NSValue"; }
    // Geometry boxes print as "NSPoint: {1, 2}", "NSSize: {3, 4}", "NSRect: {{1, 2}, {3, 4}}",
    // "UIEdgeInsets: {1, 2, 3, 4}"; anything else as its bytes in hexadecimal ("<0a000000>").
    std::string description() const override;
    bool isEqual(const NSObject& other) const override;
    std::size_t hash() const override;
    Ref<NSObject> copyObject() const override {
        return make<NSValue>(bytes_.data(), bytes_.size(), objCType_);
    }

  private:
    std::vector<std::uint8_t> bytes_;
    std::string objCType_;
};
