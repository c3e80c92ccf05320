#include "graphics/CGImageDestination.h"

#include "graphics/ImageCodec.h"

namespace {
bool supportedType(const std::string& type) {
    return type == kUTTypePNG || type == kUTTypeJPEG;
}

std::string pathFromURL(const std::string& url) {
    if (url.rfind("file://", 0) == 0) return url.substr(7);
    return url;
}
}  // namespace

void CGImageDestination::addImage(const CGImageRef& image, const Dictionary& properties) {
    if (!image || finalized_ || added_ >= capacity_) return;
    if (added_++ == 0) {
        image_ = image;
        imageProperties_ = properties;
    }
}

void CGImageDestination::setProperties(const Dictionary& properties) {
    properties_ = properties;
}

bool CGImageDestination::finalize() {
    if (finalized_ || !image_) return false;
    finalized_ = true;
    auto lookup = [&](const char* key) -> const Value& {
        const Value& v = imageProperties_[key];
        return v.isSomething() ? v : properties_[key];
    };
    const Value& orientationValue = lookup(kCGImagePropertyOrientation);
    int orientation = orientationValue.isSomething() ? orientationValue.intValue() : 1;
    if (orientation < 1 || orientation > 8) orientation = 1;
    std::optional<NSData> bytes;
    if (type_ == kUTTypePNG) {
        CGImageRef upright = detail::orientImage(detail::decodedLayoutImage(image_), orientation);
        if (upright) bytes = detail::encodePNG(*upright);
    } else {
        const Value& qualityValue = lookup(kCGImageDestinationLossyCompressionQuality);
        double quality = qualityValue.isSomething() ? qualityValue.doubleValue() : 0.8;
        bytes = detail::encodeJPEG(*image_, quality, orientation);
    }
    if (!bytes) return false;
    if (data_) {
        *data_ = std::move(*bytes);
        return true;
    }
    return bytes->writeToFile(path_, true);
}

CGImageDestinationRef CGImageDestinationCreateWithData(NSData* data, const std::string& type,
                                                       std::size_t count, const Dictionary&) {
    if (!data || count == 0 || !supportedType(type)) return nullptr;
    return make<CGImageDestination>(type, data, std::string(), count);
}

CGImageDestinationRef CGImageDestinationCreateWithURL(const std::string& url, const std::string& type,
                                                      std::size_t count, const Dictionary&) {
    std::string path = pathFromURL(url);
    if (path.empty() || count == 0 || !supportedType(type)) return nullptr;
    return make<CGImageDestination>(type, nullptr, path, count);
}

void CGImageDestinationAddImage(const CGImageDestinationRef& destination, const CGImageRef& image,
                                const Dictionary& properties) {
    if (destination) destination->addImage(image, properties);
}

void CGImageDestinationSetProperties(const CGImageDestinationRef& destination, const Dictionary& properties) {
    if (destination) destination->setProperties(properties);
}

bool CGImageDestinationFinalize(const CGImageDestinationRef& destination) {
    return destination && destination->finalize();
}

Array CGImageDestinationCopyTypeIdentifiers() {
    return Array{kUTTypePNG, kUTTypeJPEG};
}
