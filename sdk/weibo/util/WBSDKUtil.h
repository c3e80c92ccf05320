#pragma once
// The Weibo SDK's small stateless routines: MD5 in lower-case hex (request and upload
// signatures), Base64 with line breaks (the device fingerprint), gzip (the statistics body).

#include <cstddef>
#include <optional>
#include <string>

#include "foundation/NSData.h"

class WBSDKUtil {
  public:
    // The MD5 of the text's UTF-8 bytes as 32 lower-case hex digits.
    static std::string md5(const std::string& text);
};

// Base64 of the bytes (standard alphabet, "=" padding), with CR LF after every 48 input bytes
// (64 characters) when lineBreaks is set, none at the end. A new NUL-terminated buffer the
// caller frees with free(); nullptr when it cannot be allocated. outLength excludes the NUL.
char* wbsdk_base64_encode(const void* bytes, std::size_t length, bool lineBreaks, std::size_t* outLength);
// Decodes Base64 text, skipping every byte outside the alphabet (line breaks, "=", blanks). A
// length of all ones means NUL-terminated. A new buffer the caller frees with free().
void* wbsdk_base64_decode(const char* text, std::size_t length, std::size_t* outLength);

namespace NSData_WBSDKBase64 {
// ASCII text with CR LF every 64 characters.
std::string wbsdk_base64EncodedString(const NSData& data);
// Empty data for text that is not pure ASCII.
NSData wbsdk_dataFromBase64String(const std::string& text);
}  // namespace NSData_WBSDKBase64

namespace NSData_WBSDKGZIP {
// A gzip member of the data; level 0.0-1.0 scales to zlib's 0-9, a negative level means zlib's
// default. Nil for empty data or a zlib failure.
std::optional<NSData> wbsdk_gzippedDataWithCompressionLevel(const NSData& data, float level);
inline std::optional<NSData> wbsdk_gzippedData(const NSData& data) {
    return wbsdk_gzippedDataWithCompressionLevel(data, -1.0f);
}
// The data of a gzip or zlib stream; nil for empty data or a stream that does not end cleanly.
// Output beyond kWBSDKMaximumInflatedSize is refused, so a small hostile stream cannot exhaust
// memory.
std::optional<NSData> wbsdk_gunzippedData(const NSData& data);
inline constexpr std::size_t kWBSDKMaximumInflatedSize = 256u << 20;
}  // namespace NSData_WBSDKGZIP
