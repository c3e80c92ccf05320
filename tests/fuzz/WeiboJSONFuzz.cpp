// The Weibo SDK's JSON decoder under every parse option (the first byte picks them, and the
// mutable form): a nil result must come with an error and a value with none; whatever it accepts
// must write back through the serializer and read again to the same value.

#include "FuzzSupport.h"
#include "sdk/weibo/util/WBSDKJSONCodecCategories.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    WBSDKJCParseOptionFlags options = data[0] & WBSDKJCParseOptionValidMask;
    bool mutableCollections = data[0] & 0x10;
    const char* text = reinterpret_cast<const char*>(data) + 1;
    auto decoder = WBSDKJSONDecoder::decoderWithParseOptions(options);
    Ref<NSError> error;
    Value value = mutableCollections ? decoder->mutableObjectWithUTF8String(text, size - 1, &error)
                                     : decoder->objectWithUTF8String(text, size - 1, &error);
    if (value.isNil()) {
        FUZZ_CHECK(error != nullptr);
        FUZZ_CHECK(error->domain() == WBSDKJCErrorDomain);
        return 0;
    }
    FUZZ_CHECK(error == nullptr);
    FUZZ_CHECK(value.isArray() || value.isDictionary());

    WBSDKJCSerializeOptionFlags writeOptions = (data[0] >> 5) & 3;  // pretty, escaped non-ASCII
    auto written =
        NSArray_WBSDKJSONCodecSerializing::weibosdk_WBSDKJSONStringWithOptions(value, writeOptions);
    FUZZ_CHECK(written.has_value());
    auto again = NSString_WBSDKJSONCodecDeserializing::weibosdk_objectFromWBSDKJSONString(*written);
    FUZZ_CHECK(again == value);
    return 0;
}
