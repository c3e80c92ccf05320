#include "images/NSData+ImageContentType.h"

#include <cstring>

namespace NSData_ImageContentType {

std::optional<std::string> wi_contentTypeForImageData(const NSData& data) {
    if (data.empty()) return std::nullopt;
    const std::uint8_t* bytes = data.bytes();
    switch (bytes[0]) {
        case 0xFF:
            return std::string("image/jpeg");
        case 0x89:
            return std::string("image/png");
        case 0x47:
            return std::string("image/gif");
        case 0x49:
        case 0x4D:
            return std::string("image/tiff");
        case 0x52:
            // "RIFF" .... "WEBP": the twelve-byte header of a WebP file.
            if (data.length() < 12) return std::nullopt;
            if (std::memcmp(bytes, "RIFF", 4) == 0 && std::memcmp(bytes + 8, "WEBP", 4) == 0) {
                return std::string("image/webp");
            }
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

}  // namespace NSData_ImageContentType
