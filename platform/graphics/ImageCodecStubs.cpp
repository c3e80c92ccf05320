#include "graphics/ImageCodec.h"

namespace detail {
std::optional<ImageInfo> readPNGInfo(const std::uint8_t*, std::size_t) {
    return std::nullopt;
}
CGImageRef decodePNG(const std::uint8_t*, std::size_t, bool) {
    return nullptr;
}
std::optional<ImageInfo> readJPEGInfo(const std::uint8_t*, std::size_t) {
    return std::nullopt;
}
CGImageRef decodeJPEG(const std::uint8_t*, std::size_t, const JPEGDecodeOptions&) {
    return nullptr;
}
std::unique_ptr<GIFAnimation> GIFAnimation::read(const std::uint8_t*, std::size_t) {
    return nullptr;
}
CGImageRef GIFAnimation::compositeFrame(std::size_t) {
    return nullptr;
}
std::optional<NSData> encodePNG(const CGImage&) {
    return std::nullopt;
}
std::optional<NSData> encodeJPEG(const CGImage&, double, int) {
    return std::nullopt;
}
CGImageRef orientImage(const CGImageRef& image, int) {
    return image;
}
CGImageRef downscaleImage(const CGImageRef& image, std::size_t) {
    return image;
}
CGImageRef decodedLayoutImage(const CGImageRef& image) {
    return image;
}
}  // namespace detail
