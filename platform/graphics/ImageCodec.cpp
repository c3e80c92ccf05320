#include "graphics/ImageCodec.h"

#include <algorithm>
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

std::uint64_t estimateJPEGDecodeBytes(std::uint64_t width, std::uint64_t height,
                                      const ImageInfo::Sampling* sampling, int components, bool multiScan,
                                      unsigned scaleDenominator) {
    // Tables, pools and the like: small, whatever the picture.
    constexpr std::uint64_t kFixed = 512u << 10;
    int maxH = 1, maxV = 1;
    for (int c = 0; c < components; ++c) {
        maxH = std::max(maxH, std::clamp(sampling[c].horizontal, 1, 4));
        maxV = std::max(maxV, std::clamp(sampling[c].vertical, 1, 4));
    }
    auto roundUp = [](std::uint64_t value, std::uint64_t step) { return (value + step - 1) / step * step; };
    std::uint64_t coefficients = 0, rows = 0;
    for (int c = 0; c < components; ++c) {
        const std::uint64_t h = std::clamp(sampling[c].horizontal, 1, 4);
        const std::uint64_t v = std::clamp(sampling[c].vertical, 1, 4);
        // As the library lays out a component: whole blocks, whole sampling groups of them.
        const std::uint64_t across = roundUp((width * h + 8 * maxH - 1) / (8 * maxH), h);
        const std::uint64_t down = roundUp((height * v + 8 * maxV - 1) / (8 * maxV), v);
        // 64 coefficients of two bytes a block.
        if (multiScan) coefficients += across * down * 128;
        // A few row groups of samples, for the upsampler's context.
        rows += across * 8 * v * 8 * 3;
    }
    const unsigned d =
        scaleDenominator == 2 || scaleDenominator == 4 || scaleDenominator == 8 ? scaleDenominator : 1;
    const std::uint64_t outWidth = (width + d - 1) / d, outHeight = (height + d - 1) / d;
    // Four bytes a pixel, and the upsampled rows on their way there.
    return coefficients + rows + outWidth * outHeight * 4 + outWidth * 16 + kFixed;
}

std::optional<std::uint64_t> estimateDecodeBytes(const std::uint8_t* bytes, std::size_t length,
                                                 unsigned scaleDenominator, std::uint64_t gifBudget) {
    switch (sniffImageFormat(bytes, length)) {
        case ImageFormat::JPEG: {
            // The size and sampling alone: metadata costs nothing here.
            auto info = readJPEGInfo(bytes, length, false);
            if (!info || info->sampling.empty()) return std::nullopt;
            return estimateJPEGDecodeBytes(info->width, info->height, info->sampling.data(),
                                           static_cast<int>(info->sampling.size()), info->multiScan,
                                           scaleDenominator);
        }
        case ImageFormat::PNG: {
            auto info = readPNGInfo(bytes, length);
            if (!info) return std::nullopt;
            return std::uint64_t(info->width) * info->height * 4 + std::uint64_t(info->width) * 16;
        }
        case ImageFormat::GIF:
            return estimateGIFDecodeBytes(bytes, length, gifBudget);
        default:
            return std::nullopt;
    }
}

double clampedGIFDelay(double unclamped) {
    return unclamped < 0.011 ? 0.1 : unclamped;
}

}  // namespace detail
