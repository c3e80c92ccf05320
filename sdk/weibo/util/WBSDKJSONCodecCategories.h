#pragma once
// The Weibo SDK's JSON entry points, as categories on strings, data, arrays and dictionaries
// (prefix weibosdk_, so they cannot clash with the host app's own JSON helpers). Every call makes
// its own decoder or serializer, so they may run on any thread at once.
//
// Reading: a form without parse options uses none; a form without an error slot reports no
// error. Immutable data forms answer nil at once, without an error, for empty data; the mutable
// ones hand it to the decoder. An empty string reaches the decoder as an empty buffer ("Reached
// the end of the buffer.").
//
// Writing: nil on failure, with the serializer's error where the form takes an error slot.

#include <optional>
#include <string>

#include "foundation/NSData.h"
#include "foundation/Value.h"
#include "sdk/weibo/util/WBSDKJCSerializer.h"
#include "sdk/weibo/util/WBSDKJSONDecoder.h"

namespace NSString_WBSDKJSONCodecDeserializing {
Value weibosdk_objectFromWBSDKJSONStringWithParseOptions(const std::string& string,
                                                         WBSDKJCParseOptionFlags options,
                                                         Ref<NSError>* error = nullptr);
inline Value weibosdk_objectFromWBSDKJSONString(const std::string& string) {
    return weibosdk_objectFromWBSDKJSONStringWithParseOptions(string, WBSDKJCParseOptionNone);
}
Value weibosdk_mutableObjectFromWBSDKJSONStringWithParseOptions(const std::string& string,
                                                                WBSDKJCParseOptionFlags options,
                                                                Ref<NSError>* error = nullptr);
inline Value weibosdk_mutableObjectFromWBSDKJSONString(const std::string& string) {
    return weibosdk_mutableObjectFromWBSDKJSONStringWithParseOptions(string, WBSDKJCParseOptionNone);
}
}  // namespace NSString_WBSDKJSONCodecDeserializing

namespace NSData_WBSDKJSONCodecDeserializing {
Value weibosdk_objectFromWBSDKJSONDataWithParseOptions(const NSData& data, WBSDKJCParseOptionFlags options,
                                                       Ref<NSError>* error = nullptr);
inline Value weibosdk_objectFromWBSDKJSONData(const NSData& data) {
    return weibosdk_objectFromWBSDKJSONDataWithParseOptions(data, WBSDKJCParseOptionNone);
}
Value weibosdk_mutableObjectFromWBSDKJSONDataWithParseOptions(const NSData& data,
                                                              WBSDKJCParseOptionFlags options,
                                                              Ref<NSError>* error = nullptr);
inline Value weibosdk_mutableObjectFromWBSDKJSONData(const NSData& data) {
    return weibosdk_mutableObjectFromWBSDKJSONDataWithParseOptions(data, WBSDKJCParseOptionNone);
}
}  // namespace NSData_WBSDKJSONCodecDeserializing

namespace NSString_WBSDKJSONCodecSerializing {
std::optional<NSData> weibosdk_WBSDKJSONDataWithOptions(const std::string& string,
                                                        WBSDKJCSerializeOptionFlags options,
                                                        bool includeQuotes, Ref<NSError>* error = nullptr);
inline std::optional<NSData> weibosdk_WBSDKJSONData(const std::string& string) {
    return weibosdk_WBSDKJSONDataWithOptions(string, WBSDKJCSerializeOptionNone, true);
}
std::optional<std::string> weibosdk_WBSDKJSONStringWithOptions(const std::string& string,
                                                               WBSDKJCSerializeOptionFlags options,
                                                               bool includeQuotes,
                                                               Ref<NSError>* error = nullptr);
inline std::optional<std::string> weibosdk_WBSDKJSONString(const std::string& string) {
    return weibosdk_WBSDKJSONStringWithOptions(string, WBSDKJCSerializeOptionNone, true);
}
}  // namespace NSString_WBSDKJSONCodecSerializing

// Arrays and dictionaries share one set of writers: the receiver is an array or a dictionary
// Value (anything else fails with the serializer's "expected a NSArray or NSDictionary").
namespace NSArray_WBSDKJSONCodecSerializing {
std::optional<NSData> weibosdk_WBSDKJSONDataWithOptions(const Value& collection,
                                                        WBSDKJCSerializeOptionFlags options,
                                                        Ref<NSError>* error = nullptr);
inline std::optional<NSData> weibosdk_WBSDKJSONData(const Value& collection) {
    return weibosdk_WBSDKJSONDataWithOptions(collection, WBSDKJCSerializeOptionNone);
}
std::optional<std::string> weibosdk_WBSDKJSONStringWithOptions(const Value& collection,
                                                               WBSDKJCSerializeOptionFlags options,
                                                               Ref<NSError>* error = nullptr);
inline std::optional<std::string> weibosdk_WBSDKJSONString(const Value& collection) {
    return weibosdk_WBSDKJSONStringWithOptions(collection, WBSDKJCSerializeOptionNone);
}
// The delegate forms: `selector` is the delegate's formatter method.
std::optional<NSData> weibosdk_WBSDKJSONDataWithOptionsSerializeUnsupportedClassesUsingDelegate(
    const Value& collection, WBSDKJCSerializeOptionFlags options, const Ref<NSObject>& delegate,
    const WBSDKJCFormatterBlock& selector, Ref<NSError>* error = nullptr);
std::optional<std::string> weibosdk_WBSDKJSONStringWithOptionsSerializeUnsupportedClassesUsingDelegate(
    const Value& collection, WBSDKJCSerializeOptionFlags options, const Ref<NSObject>& delegate,
    const WBSDKJCFormatterBlock& selector, Ref<NSError>* error = nullptr);
}  // namespace NSArray_WBSDKJSONCodecSerializing

namespace NSArray_WBSDKJSONCodecSerializingBlockAdditions {
std::optional<NSData> weibosdk_WBSDKJSONDataWithOptionsSerializeUnsupportedClassesUsingBlock(
    const Value& collection, WBSDKJCSerializeOptionFlags options, const WBSDKJCFormatterBlock& block,
    Ref<NSError>* error = nullptr);
std::optional<std::string> weibosdk_WBSDKJSONStringWithOptionsSerializeUnsupportedClassesUsingBlock(
    const Value& collection, WBSDKJCSerializeOptionFlags options, const WBSDKJCFormatterBlock& block,
    Ref<NSError>* error = nullptr);
}  // namespace NSArray_WBSDKJSONCodecSerializingBlockAdditions

namespace NSDictionary_WBSDKJSONCodecSerializing = NSArray_WBSDKJSONCodecSerializing;
namespace NSDictionary_WBSDKJSONCodecSerializingBlockAdditions =
    NSArray_WBSDKJSONCodecSerializingBlockAdditions;
