#include "web/WebPictureDecoding.h"

#include <algorithm>
#include <cmath>

#include "graphics/CGImageSource.h"

namespace detail {

namespace {

// The thumbnail a page's picture is made as, `side` long on its longer side.
Dictionary webPictureOptions(const WebPictureLimits& limits, long long side) {
    Dictionary options = Dictionary::mutableDictionary();
    options.setObject(kCGImageSourceCreateThumbnailFromImageAlways, true);
    options.setObject(kCGImageSourceCreateThumbnailWithTransform, true);
    options.setObject(kCGImageSourceThumbnailMaxPixelSize, static_cast<double>(std::clamp<long long>(
                                                               side, 1, std::max(1, limits.maxDecodedSide))));
    options.setObject(kCGImageSourceMaxDecodeBytes, static_cast<double>(limits.maxPictureDecodeBytes));
    return options;
}

std::optional<long long> numberOf(const Dictionary& properties, const char* key) {
    const Value& value = properties[key];
    if (!value.isSomething()) return std::nullopt;
    double number = value.doubleValue();
    if (!(number >= 1) || number > 1e9) return std::nullopt;
    return static_cast<long long>(number);
}

// A picture's size from its header, as it stands upright.
struct PictureHeader {
    long long width = 0, height = 0;
    std::uint64_t pixels() const { return std::uint64_t(width) * std::uint64_t(height); }
};

std::optional<PictureHeader> headerOf(const CGImageSourceRef& source) {
    if (!source || CGImageSourceGetCount(source) == 0) return std::nullopt;
    auto properties = CGImageSourceCopyPropertiesAtIndex(source, 0);
    if (!properties) return std::nullopt;
    auto width = numberOf(*properties, kCGImagePropertyPixelWidth);
    auto height = numberOf(*properties, kCGImagePropertyPixelHeight);
    if (!width || !height) return std::nullopt;
    PictureHeader header{*width, *height};
    // Orientations 5 to 8 turn the picture a quarter: the thumbnail comes turned.
    if (auto orientation = numberOf(*properties, kCGImagePropertyOrientation);
        orientation && *orientation >= 5)
        std::swap(header.width, header.height);
    return header;
}

}  // namespace

std::optional<std::uint64_t> webPictureDecodeBytes(const NSData& bytes, const WebPictureLimits& limits,
                                                   const WebPictureFit& fit) {
    // The source is given the decode's own bound, so that a GIF is priced by the frames it keeps.
    auto source = CGImageSourceCreateWithData(bytes, webPictureOptions(limits, limits.maxDecodedSide));
    if (!source) return std::nullopt;
    // Without a size in the header, the bound itself stands for the thumbnail's.
    long long side = limits.maxDecodedSide;
    if (auto header = headerOf(source)) side = fit.side(header->width, header->height, limits.maxDecodedSide);
    return CGImageSourceEstimateThumbnailBytes(source, 0, webPictureOptions(limits, side));
}

long long WebPictureFit::side(long long naturalWidth, long long naturalHeight, long long maxSide) const {
    const long long natural = std::max<long long>(1, std::max(naturalWidth, naturalHeight));
    const long long cap = std::max<long long>(1, std::min(natural, maxSide));
    double need = 0;
    // The thumbnail keeps the picture's proportions: each side given asks for its own scale.
    if (width > 0 && naturalWidth > 0) need = std::max(need, width / double(naturalWidth) * double(natural));
    if (height > 0 && naturalHeight > 0)
        need = std::max(need, height / double(naturalHeight) * double(natural));
    if (screen > 0) need = std::max(need, screen);
    if (!(need > 0) || !std::isfinite(need)) return cap;
    return std::clamp<long long>(static_cast<long long>(std::ceil(std::min(need, 1e12))), 1, cap);
}

WebPictureFit WebPictureFit::joined(const WebPictureFit& other) const {
    return {std::max(width, other.width), std::max(height, other.height), std::max(screen, other.screen)};
}

namespace {

// The picture's header, when the limits let it be decoded.
std::optional<PictureHeader> decodableHeader(const CGImageSourceRef& source, const WebPictureLimits& limits) {
    if (!source) return std::nullopt;
    // Before anything is read past the header (a GIF's frames are read to count them), at the
    // largest decode this picture could be made at.
    const auto largest =
        CGImageSourceEstimateThumbnailBytes(source, 0, webPictureOptions(limits, limits.maxDecodedSide));
    if (!largest || *largest > limits.maxPictureDecodeBytes) return std::nullopt;
    auto header = headerOf(source);
    if (!header) return std::nullopt;
    // A JPEG decoder can shrink by eight as it reads; other formats decode at full size first.
    const bool jpeg = CGImageSourceGetType(source) == std::optional<std::string>(kUTTypeJPEG);
    const std::uint64_t pixels = header->pixels();
    const std::uint64_t decodedPixels = jpeg && pixels > limits.maxImagePixels ? pixels / 64 : pixels;
    if (decodedPixels > limits.maxImagePixels) return std::nullopt;
    return header;
}

CGImageSourceRef sourceOf(const NSData& bytes, const WebPictureLimits& limits) {
    Dictionary sourceOptions = Dictionary::mutableDictionary();
    sourceOptions.setObject(kCGImageSourceMaxDecodeBytes, static_cast<double>(limits.maxPictureDecodeBytes));
    return CGImageSourceCreateWithData(bytes, sourceOptions);
}

}  // namespace

std::uint64_t WebPictureHeader::decodedPixels(const WebPictureFit& fit, long long maxSide) const {
    const long long longer = std::max<long long>(1, std::max(width, height));
    const long long shorter = std::max<long long>(1, std::min(width, height));
    const long long side = fit.side(width, height, std::max<long long>(1, maxSide));
    const auto other = static_cast<std::uint64_t>(std::ceil(double(side) * double(shorter) / double(longer)));
    return std::uint64_t(side) * std::max<std::uint64_t>(1, other);
}

std::optional<WebPictureHeader> readWebPictureHeader(const NSData& bytes, const WebPictureLimits& limits) {
    auto header = decodableHeader(sourceOf(bytes, limits), limits);
    if (!header) return std::nullopt;
    WebPictureHeader read;
    read.width = header->width;
    read.height = header->height;
    // The size a page lays the picture out at: as a thumbnail at the bound would measure.
    const long long maxSide = std::max(1, limits.maxDecodedSide);
    const long long longer = std::max(header->width, header->height);
    const double scale = longer > maxSide ? double(maxSide) / double(longer) : 1.0;
    read.naturalWidth = std::clamp<long long>(std::llround(double(header->width) * scale), 1, maxSide);
    read.naturalHeight = std::clamp<long long>(std::llround(double(header->height) * scale), 1, maxSide);
    return read;
}

Ref<CGImage> decodeWebPicture(const NSData& bytes, const WebPictureLimits& limits, const WebPictureFit& fit) {
    auto source = sourceOf(bytes, limits);
    auto header = decodableHeader(source, limits);
    if (!header) return nullptr;
    const long long maxSide = std::max(1, limits.maxDecodedSide);
    return CGImageSourceCreateThumbnailAtIndex(
        source, 0, webPictureOptions(limits, fit.side(header->width, header->height, maxSide)));
}

}  // namespace detail
