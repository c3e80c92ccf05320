#pragma once
// A universally unique identifier: 16 bytes, written as 36 characters of upper-case hexadecimal
// in the 8-4-4-4-12 grouping. New identifiers are random (version 4). Immutable, so it may be
// shared between threads.

#include <array>
#include <cstdint>
#include <string>

#include "foundation/NSObject.h"

class NSUUID : public NSObject {
  public:
    using Bytes = std::array<std::uint8_t, 16>;

    // A new random identifier.
    NSUUID();
    explicit NSUUID(const Bytes& bytes) : bytes_(bytes) {}

    static Ref<NSUUID> UUID() { return make<NSUUID>(); }
    // nullptr unless the text is exactly 36 characters of hexadecimal (either case) in the
    // 8-4-4-4-12 grouping.
    static Ref<NSUUID> initWithUUIDString(const std::string& text);
    static Ref<NSUUID> initWithUUIDBytes(const Bytes& bytes) { return make<NSUUID>(bytes); }

    // "E621E1F8-C36C-495A-93FC-0C247A3E6E5F"
    std::string UUIDString() const;
    const Bytes& getUUIDBytes() const { return bytes_; }
    // Byte-wise order; -1, 0 or 1.
    int compare(const NSUUID& other) const;

    std::string className() const override { return "NSUUID"; }
    std::string description() const override;
    bool isEqual(const NSObject& other) const override;
    std::size_t hash() const override;
    Ref<NSObject> copyObject() const override { return make<NSUUID>(bytes_); }

  private:
    Bytes bytes_{};
};
