#pragma once
// WBSDKJCSerializer: the Weibo SDK's JSON writer. It turns a tree of Values (strings, numbers,
// arrays, dictionaries, null) into compact or indented JSON text, as UTF-8 data or as a string.
//
// A value of any other kind (data, dates, objects) is handed to the formatter block, or the
// formatter delegate's selector, for a replacement to write in its place; without one, or when
// the replacement is itself unsupported, the call fails. Failures answer nil with the first error
// in the domain "WBSDKJCErrorDomain", code -1. Nesting deeper than kWBSDKJCMaximumDepth levels
// (a container that holds itself, say) is refused.
//
// Each call has its own state; calls may run on any thread at once.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"
#include "sdk/weibo/util/WBSDKJSONDecoder.h"

using WBSDKJCSerializeOptionFlags = std::uint64_t;
inline constexpr WBSDKJCSerializeOptionFlags WBSDKJCSerializeOptionNone = 0;
inline constexpr WBSDKJCSerializeOptionFlags WBSDKJCSerializeOptionPretty = 1;
inline constexpr WBSDKJCSerializeOptionFlags WBSDKJCSerializeOptionEscapeNonASCII = 2;
inline constexpr WBSDKJCSerializeOptionFlags WBSDKJCSerializeOptionEscapeSlash = 16;

using WBSDKJCEncodeOptionType = std::uint64_t;
inline constexpr WBSDKJCEncodeOptionType WBSDKJCEncodeOptionResultData = 1;
inline constexpr WBSDKJCEncodeOptionType WBSDKJCEncodeOptionResultString = 2;
inline constexpr WBSDKJCEncodeOptionType WBSDKJCEncodeOptionResultMask = 7;
inline constexpr WBSDKJCEncodeOptionType WBSDKJCEncodeOptionCollectionObj = 8;
inline constexpr WBSDKJCEncodeOptionType WBSDKJCEncodeOptionStringObj = 16;
inline constexpr WBSDKJCEncodeOptionType WBSDKJCEncodeOptionStringObjTrimQuotes = 32;

// What a formatter answers for an unsupported value: its replacement, or nil for none.
using WBSDKJCFormatterBlock = std::function<Value(const Value& object)>;

class WBSDKJCSerializer : public NSObject {
  public:
    std::string className() const override { return "WBSDKJCSerializer"; }

    // The result of a call: data (result kind 1), a string (result kind 2), or nothing.
    using Result = std::variant<std::monostate, NSData, std::string>;

    // The delegate form: `selector` is the delegate's method; a delegate without a selector
    // raises NSInvalidArgumentException "The delegate argument is not NULL, but the selector
    // argument is NULL.". The caller gives at most one of block and delegate.
    static Result serializeObject(const Value& object, WBSDKJCSerializeOptionFlags options,
                                  WBSDKJCEncodeOptionType encodeOption, const WBSDKJCFormatterBlock& block,
                                  const Ref<NSObject>& delegate, const WBSDKJCFormatterBlock& selector,
                                  Ref<NSError>* error);
};
