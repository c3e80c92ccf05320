#pragma once
// WBSDKJSONDecoder: the Weibo SDK's own JSON reader. It turns UTF-8 bytes into Values: arrays and
// dictionaries (immutable, or mutable for the mutable forms), strings, numbers (signed 64-bit,
// unsigned 64-bit above the signed range, doubles), the Booleans and null.
//
// The top level must be an array or an object. Every failure answers nil and, where the caller
// passes an error slot, the first error the parse met: domain "WBSDKJCErrorDomain", code -1, the
// message under the localized-description key, the byte index under "WBSDKJCAtIndexKey" and the
// line number under "WBSDKJCLineNumberKey". Nesting deeper than kWBSDKJCMaximumDepth levels is
// refused, so hostile input cannot exhaust the stack.
//
// A decoder belongs to one thread at a time and may parse many documents.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"

using WBSDKJCParseOptionFlags = std::uint64_t;
inline constexpr WBSDKJCParseOptionFlags WBSDKJCParseOptionNone = 0;
inline constexpr WBSDKJCParseOptionFlags WBSDKJCParseOptionStrict = 0;
inline constexpr WBSDKJCParseOptionFlags WBSDKJCParseOptionAllowComments = 1;
inline constexpr WBSDKJCParseOptionFlags WBSDKJCParseOptionUnicodeLineBreaks = 2;
inline constexpr WBSDKJCParseOptionFlags WBSDKJCParseOptionLenientUnicode = 4;
inline constexpr WBSDKJCParseOptionFlags WBSDKJCParseOptionAllowTrailingText = 8;
inline constexpr WBSDKJCParseOptionFlags WBSDKJCParseOptionValidMask = 15;

inline constexpr char WBSDKJCErrorDomain[] = "WBSDKJCErrorDomain";
inline constexpr char WBSDKJCAtIndexKey[] = "WBSDKJCAtIndexKey";
inline constexpr char WBSDKJCLineNumberKey[] = "WBSDKJCLineNumberKey";
inline constexpr std::size_t kWBSDKJCMaximumDepth = 512;

class WBSDKJSONDecoder : public NSObject {
  public:
    // Raises NSInvalidArgumentException "Invalid parse options." for a bit outside the mask.
    explicit WBSDKJSONDecoder(WBSDKJCParseOptionFlags options = WBSDKJCParseOptionNone);
    std::string className() const override { return "WBSDKJSONDecoder"; }

    static Ref<WBSDKJSONDecoder> decoder() { return decoderWithParseOptions(WBSDKJCParseOptionNone); }
    static Ref<WBSDKJSONDecoder> decoderWithParseOptions(WBSDKJCParseOptionFlags options) {
        return make<WBSDKJSONDecoder>(options);
    }

    // A null byte pointer raises NSInvalidArgumentException "The string argument is NULL.".
    Value objectWithUTF8String(const char* string, std::size_t length, Ref<NSError>* error = nullptr);
    Value mutableObjectWithUTF8String(const char* string, std::size_t length, Ref<NSError>* error = nullptr);
    // A missing data raises NSInvalidArgumentException "The jsonData argument is NULL.".
    Value objectWithData(const std::optional<NSData>& jsonData, Ref<NSError>* error = nullptr);
    Value mutableObjectWithData(const std::optional<NSData>& jsonData, Ref<NSError>* error = nullptr);
    Value parseUTF8String(const char* string, std::size_t length, Ref<NSError>* error = nullptr) {
        return objectWithUTF8String(string, length, error);
    }
    Value parseWBSDKJSONData(const std::optional<NSData>& jsonData, Ref<NSError>* error = nullptr) {
        return objectWithData(jsonData, error);
    }

    // The same parse with the decoder's own collections (WBSDKJCArray, WBSDKJCDictionary, held as
    // objects in the Values) in place of the platform's.
    Value collectionWithUTF8String(const char* string, std::size_t length, bool mutableCollections,
                                   Ref<NSError>* error = nullptr);

    WBSDKJCParseOptionFlags parseOptionFlags() const { return options_; }
    // Strings and numbers are values here, so there is no object cache to clear; kept for callers.
    void clearCache() {}

  private:
    Value parse(const char* string, std::size_t length, bool mutableCollections, Ref<NSError>* error,
                bool privateCollections = false);
    WBSDKJCParseOptionFlags options_;
};
