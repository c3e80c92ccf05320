#include "sdk/weibo/util/WBSDKJSONCodecCategories.h"

namespace {

Value parseBytes(const char* bytes, std::size_t length, WBSDKJCParseOptionFlags options,
                 bool mutableCollections, Ref<NSError>* error) {
    auto decoder = WBSDKJSONDecoder::decoderWithParseOptions(options);
    return mutableCollections ? decoder->mutableObjectWithUTF8String(bytes, length, error)
                              : decoder->objectWithUTF8String(bytes, length, error);
}

std::optional<NSData> asData(WBSDKJCSerializer::Result result) {
    if (auto data = std::get_if<NSData>(&result)) return std::move(*data);
    return std::nullopt;
}

std::optional<std::string> asString(WBSDKJCSerializer::Result result) {
    if (auto string = std::get_if<std::string>(&result)) return std::move(*string);
    return std::nullopt;
}

WBSDKJCSerializer::Result serialize(const Value& object, WBSDKJCSerializeOptionFlags options,
                                    WBSDKJCEncodeOptionType encode, const WBSDKJCFormatterBlock& block,
                                    const Ref<NSObject>& delegate, const WBSDKJCFormatterBlock& selector,
                                    Ref<NSError>* error) {
    return WBSDKJCSerializer::serializeObject(object, options, encode, block, delegate, selector, error);
}

}  // namespace

namespace NSString_WBSDKJSONCodecDeserializing {

Value weibosdk_objectFromWBSDKJSONStringWithParseOptions(const std::string& string,
                                                         WBSDKJCParseOptionFlags options,
                                                         Ref<NSError>* error) {
    return parseBytes(string.data(), string.size(), options, false, error);
}

Value weibosdk_mutableObjectFromWBSDKJSONStringWithParseOptions(const std::string& string,
                                                                WBSDKJCParseOptionFlags options,
                                                                Ref<NSError>* error) {
    return parseBytes(string.data(), string.size(), options, true, error);
}

}  // namespace NSString_WBSDKJSONCodecDeserializing

namespace NSData_WBSDKJSONCodecDeserializing {

Value weibosdk_objectFromWBSDKJSONDataWithParseOptions(const NSData& data, WBSDKJCParseOptionFlags options,
                                                       Ref<NSError>* error) {
    if (data.length() == 0) return Value();
    return WBSDKJSONDecoder::decoderWithParseOptions(options)->objectWithData(data, error);
}

Value weibosdk_mutableObjectFromWBSDKJSONDataWithParseOptions(const NSData& data,
                                                              WBSDKJCParseOptionFlags options,
                                                              Ref<NSError>* error) {
    return WBSDKJSONDecoder::decoderWithParseOptions(options)->mutableObjectWithData(data, error);
}

}  // namespace NSData_WBSDKJSONCodecDeserializing

namespace NSString_WBSDKJSONCodecSerializing {

std::optional<NSData> weibosdk_WBSDKJSONDataWithOptions(const std::string& string,
                                                        WBSDKJCSerializeOptionFlags options,
                                                        bool includeQuotes, Ref<NSError>* error) {
    return asData(
        serialize(Value(string), options, includeQuotes ? 17 : 49, nullptr, nullptr, nullptr, error));
}

std::optional<std::string> weibosdk_WBSDKJSONStringWithOptions(const std::string& string,
                                                               WBSDKJCSerializeOptionFlags options,
                                                               bool includeQuotes, Ref<NSError>* error) {
    return asString(
        serialize(Value(string), options, includeQuotes ? 18 : 50, nullptr, nullptr, nullptr, error));
}

}  // namespace NSString_WBSDKJSONCodecSerializing

namespace NSArray_WBSDKJSONCodecSerializing {

std::optional<NSData> weibosdk_WBSDKJSONDataWithOptions(const Value& collection,
                                                        WBSDKJCSerializeOptionFlags options,
                                                        Ref<NSError>* error) {
    return asData(serialize(collection, options, 9, nullptr, nullptr, nullptr, error));
}

std::optional<std::string> weibosdk_WBSDKJSONStringWithOptions(const Value& collection,
                                                               WBSDKJCSerializeOptionFlags options,
                                                               Ref<NSError>* error) {
    return asString(serialize(collection, options, 10, nullptr, nullptr, nullptr, error));
}

std::optional<NSData> weibosdk_WBSDKJSONDataWithOptionsSerializeUnsupportedClassesUsingDelegate(
    const Value& collection, WBSDKJCSerializeOptionFlags options, const Ref<NSObject>& delegate,
    const WBSDKJCFormatterBlock& selector, Ref<NSError>* error) {
    return asData(serialize(collection, options, 9, nullptr, delegate, selector, error));
}

std::optional<std::string> weibosdk_WBSDKJSONStringWithOptionsSerializeUnsupportedClassesUsingDelegate(
    const Value& collection, WBSDKJCSerializeOptionFlags options, const Ref<NSObject>& delegate,
    const WBSDKJCFormatterBlock& selector, Ref<NSError>* error) {
    return asString(serialize(collection, options, 10, nullptr, delegate, selector, error));
}

}  // namespace NSArray_WBSDKJSONCodecSerializing

namespace NSArray_WBSDKJSONCodecSerializingBlockAdditions {

std::optional<NSData> weibosdk_WBSDKJSONDataWithOptionsSerializeUnsupportedClassesUsingBlock(
    const Value& collection, WBSDKJCSerializeOptionFlags options, const WBSDKJCFormatterBlock& block,
    Ref<NSError>* error) {
    return asData(serialize(collection, options, 9, block, nullptr, nullptr, error));
}

std::optional<std::string> weibosdk_WBSDKJSONStringWithOptionsSerializeUnsupportedClassesUsingBlock(
    const Value& collection, WBSDKJCSerializeOptionFlags options, const WBSDKJCFormatterBlock& block,
    Ref<NSError>* error) {
    return asString(serialize(collection, options, 10, block, nullptr, nullptr, error));
}

}  // namespace NSArray_WBSDKJSONCodecSerializingBlockAdditions
