#pragma once
// Content-type sniffing of picture bytes by their first byte (and, for WebP, their RIFF header):
// what the bytes claim to be, before any decoder is asked. Stateless; any thread.

#include <optional>
#include <string>

#include "foundation/NSData.h"

namespace NSData_ImageContentType {
// "image/jpeg", "image/png", "image/gif", "image/tiff", "image/webp", or nullopt when the bytes
// are empty or start like none of these.
std::optional<std::string> wi_contentTypeForImageData(const NSData& data);
}  // namespace NSData_ImageContentType

namespace NSData_ImageContentTypeDeprecated {
// The older name of the same test.
inline std::optional<std::string> contentTypeForImageData(const NSData& data) {
    return NSData_ImageContentType::wi_contentTypeForImageData(data);
}
}  // namespace NSData_ImageContentTypeDeprecated
