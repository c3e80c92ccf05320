#include "graphics/ImageCodec.h"

#include <cstring>

namespace detail {

ImageFormat sniffImageFormat(const std::uint8_t* b, std::size_t n) {
    if (!b || n == 0) return ImageFormat::Unknown;
    static const std::uint8_t png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (n >= 8 && std::memcmp(b, png, 8) == 0) return ImageFormat::PNG;
    if (n >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return ImageFormat::JPEG;
    if (n >= 6 && (std::memcmp(b, "GIF87a", 6) == 0 || std::memcmp(b, "GIF89a", 6) == 0))
        return ImageFormat::GIF;
    if (n >= 12 && std::memcmp(b, "RIFF", 4) == 0 && std::memcmp(b + 8, "WEBP", 4) == 0)
        return ImageFormat::WebP;
    if (n >= 4 && ((b[0] == 'I' && b[1] == 'I' && b[2] == 42 && b[3] == 0) ||
                   (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && b[3] == 42))) {
        return ImageFormat::TIFF;
    }
    return ImageFormat::Unknown;
}

std::string typeIdentifierForFormat(ImageFormat format) {
    switch (format) {
        case ImageFormat::PNG:
            return "public.png";
        case ImageFormat::JPEG:
            return "public.jpeg";
        case ImageFormat::GIF:
            return "com.compuserve.gif";
        case ImageFormat::WebP:
            return "org.webmproject.webp";
        case ImageFormat::TIFF:
            return "public.tiff";
        default:
            return "";
    }
}

bool imageSizeAllowed(std::uint64_t width, std::uint64_t height) {
    return width > 0 && height > 0 && width <= kMaxImageSide && height <= kMaxImageSide &&
           width * height <= kMaxImagePixels;
}

double clampedGIFDelay(double unclamped) {
    return unclamped < 0.011 ? 0.1 : unclamped;
}

}  // namespace detail
