#include "graphics/CGImageSource.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <mutex>

#include "graphics/ImageCodec.h"

using detail::ImageFormat;

struct CGImageSource::State {
    mutable std::mutex lock;
    NSData data;
    bool incremental = false;
    bool final = true;
    ImageFormat format = ImageFormat::Unknown;
    // Read on first need, dropped by update().
    mutable bool infoRead = false;
    mutable std::optional<detail::ImageInfo> info;
    mutable bool gifRead = false;
    mutable std::unique_ptr<detail::GIFAnimation> gif;
    // The caller's bound on decoding (kCGImageSourceMaxDecodeBytes at creation); 0 for none.
    std::uint64_t maxDecodeBytes = 0;
    std::map<std::size_t, CGImageRef> cache;

    bool partial() const { return incremental && !final; }
    // What the GIF reader is given: the frames it keeps are part of what decoding holds.
    std::uint64_t gifBudget() const { return maxDecodeBytes ? maxDecodeBytes : detail::kMaxAnimationBytes; }

    void reset() {
        format = detail::sniffImageFormat(data.bytes(), data.length());
        infoRead = false;
        info.reset();
        gifRead = false;
        gif.reset();
        cache.clear();
    }

    const detail::ImageInfo* header() const {
        if (!infoRead) {
            infoRead = true;
            if (format == ImageFormat::PNG) info = detail::readPNGInfo(data.bytes(), data.length());
            if (format == ImageFormat::JPEG) info = detail::readJPEGInfo(data.bytes(), data.length());
        }
        return info ? &*info : nullptr;
    }

    detail::GIFAnimation* animation() const {
        if (!gifRead) {
            gifRead = true;
            if (format == ImageFormat::GIF)
                gif = detail::GIFAnimation::read(data.bytes(), data.length(), gifBudget());
        }
        return gif.get();
    }

    std::size_t count() const {
        switch (format) {
            case ImageFormat::PNG:
            case ImageFormat::JPEG:
                return header() ? 1 : 0;
            case ImageFormat::GIF:
                return animation() ? animation()->frameCount() : 0;
            default:
                return 0;
        }
    }
};

CGImageSource::CGImageSource(NSData data, bool incremental, bool final) : state_(std::make_unique<State>()) {
    state_->data = std::move(data);
    state_->incremental = incremental;
    state_->final = final;
    state_->reset();
}

void CGImageSource::setMaxDecodeBytes(std::uint64_t bytes) {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->maxDecodeBytes = bytes;
    state_->gifRead = false;
    state_->gif.reset();
}

CGImageSource::~CGImageSource() = default;

void CGImageSource::update(const NSData& data, bool final) {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->data = data;
    state_->final = final;
    state_->reset();
}

std::optional<std::string> CGImageSource::type() const {
    std::lock_guard<std::mutex> guard(state_->lock);
    if (state_->format == ImageFormat::Unknown) return std::nullopt;
    return detail::typeIdentifierForFormat(state_->format);
}

std::size_t CGImageSource::count() const {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->count();
}

CGImageSourceStatus CGImageSource::status() const {
    std::lock_guard<std::mutex> guard(state_->lock);
    const State& s = *state_;
    const bool partial = s.partial();
    switch (s.format) {
        case ImageFormat::Unknown:
            return partial && s.data.length() < 12 ? kCGImageStatusReadingHeader : kCGImageStatusUnknownType;
        case ImageFormat::WebP:
        case ImageFormat::TIFF:
            return kCGImageStatusUnknownType;
        case ImageFormat::GIF: {
            auto* gif = s.animation();
            if (!gif) return partial ? kCGImageStatusReadingHeader : kCGImageStatusInvalidData;
            if (partial) return kCGImageStatusIncomplete;
            return gif->complete() ? kCGImageStatusComplete : kCGImageStatusUnexpectedEOF;
        }
        default:
            if (!s.header()) return partial ? kCGImageStatusReadingHeader : kCGImageStatusInvalidData;
            return partial ? kCGImageStatusIncomplete : kCGImageStatusComplete;
    }
}

CGImageSourceStatus CGImageSource::statusAtIndex(std::size_t index) const {
    std::size_t n = count();
    CGImageSourceStatus overall = status();
    if (index < n) {
        if (state_->format == ImageFormat::GIF && (index + 1 < n || overall == kCGImageStatusComplete)) {
            return kCGImageStatusComplete;
        }
        return overall == kCGImageStatusUnexpectedEOF ? kCGImageStatusComplete : overall;
    }
    return overall < kCGImageStatusIncomplete ? overall : kCGImageStatusReadingHeader;
}

std::optional<Dictionary> CGImageSource::properties() const {
    std::lock_guard<std::mutex> guard(state_->lock);
    const State& s = *state_;
    if (s.format == ImageFormat::Unknown) return std::nullopt;
    Dictionary props;
    props.setObject(kCGImagePropertyFileSize, static_cast<unsigned long>(s.data.length()));
    if (s.format == ImageFormat::GIF) {
        if (auto* gif = s.animation(); gif && gif->loopCount()) {
            Dictionary gifProps;
            gifProps.setObject(kCGImagePropertyGIFLoopCount, *gif->loopCount());
            props.setObject(kCGImagePropertyGIFDictionary, gifProps);
        }
    }
    return props;
}

std::optional<Dictionary> CGImageSource::propertiesAtIndex(std::size_t index) const {
    std::lock_guard<std::mutex> guard(state_->lock);
    const State& s = *state_;
    Dictionary props;
    if (s.format == ImageFormat::PNG || s.format == ImageFormat::JPEG) {
        const detail::ImageInfo* info = s.header();
        if (!info || index != 0) return std::nullopt;
        props.setObject(kCGImagePropertyPixelWidth, static_cast<long>(info->width));
        props.setObject(kCGImagePropertyPixelHeight, static_cast<long>(info->height));
        props.setObject(kCGImagePropertyDepth, info->bitDepth);
        props.setObject(kCGImagePropertyColorModel, info->colorModel);
        props.setObject(kCGImagePropertyHasAlpha, info->hasAlpha);
        if (s.format == ImageFormat::PNG) {
            Dictionary png;
            png.setObject(kCGImagePropertyPNGInterlaceType, info->interlaced ? 1 : 0);
            props.setObject(kCGImagePropertyPNGDictionary, png);
        } else {
            Dictionary jfif;
            jfif.setObject(kCGImagePropertyJFIFIsProgressive, info->interlaced);
            props.setObject(kCGImagePropertyJFIFDictionary, jfif);
            if (info->orientation >= 1) {
                props.setObject(kCGImagePropertyOrientation, info->orientation);
                Dictionary tiff;
                tiff.setObject(kCGImagePropertyTIFFOrientation, info->orientation);
                props.setObject(kCGImagePropertyTIFFDictionary, tiff);
            }
        }
        return props;
    }
    if (s.format == ImageFormat::GIF) {
        auto* gif = s.animation();
        if (!gif || index >= gif->frameCount()) return std::nullopt;
        props.setObject(kCGImagePropertyPixelWidth, static_cast<long>(gif->canvasWidth()));
        props.setObject(kCGImagePropertyPixelHeight, static_cast<long>(gif->canvasHeight()));
        props.setObject(kCGImagePropertyDepth, 8);
        props.setObject(kCGImagePropertyColorModel, kCGImagePropertyColorModelRGB);
        props.setObject(kCGImagePropertyHasAlpha, true);
        Dictionary gifProps;
        const double delay = gif->frameDelay(index);
        gifProps.setObject(kCGImagePropertyGIFUnclampedDelayTime, delay);
        gifProps.setObject(kCGImagePropertyGIFDelayTime, detail::clampedGIFDelay(delay));
        props.setObject(kCGImagePropertyGIFDictionary, gifProps);
        return props;
    }
    return std::nullopt;
}

CGImageRef CGImageSource::imageAtIndex(std::size_t index, bool cache, std::uint64_t maxDecodeBytes) {
    std::lock_guard<std::mutex> guard(state_->lock);
    State& s = *state_;
    if (auto it = s.cache.find(index); it != s.cache.end()) return it->second;
    if (maxDecodeBytes > 0 && s.format != ImageFormat::JPEG) {
        auto needed = detail::estimateDecodeBytes(s.data.bytes(), s.data.length(), 1, s.gifBudget());
        if (!needed || *needed > maxDecodeBytes) return nullptr;
    }
    CGImageRef image;
    const bool partial = s.partial();
    switch (s.format) {
        case ImageFormat::PNG:
            // Only what the header describes is decoded, so a picture always has its properties.
            if (index == 0 && s.header()) image = detail::decodePNG(s.data.bytes(), s.data.length(), partial);
            break;
        case ImageFormat::JPEG:
            if (index == 0 && s.header()) {
                detail::JPEGDecodeOptions options;
                options.partial = partial;
                options.maxMemoryBytes = maxDecodeBytes;
                image = detail::decodeJPEG(s.data.bytes(), s.data.length(), options);
            }
            break;
        case ImageFormat::GIF:
            if (auto* gif = s.animation()) image = gif->compositeFrame(index);
            break;
        default:
            break;
    }
    if (image && (s.format == ImageFormat::PNG || s.format == ImageFormat::JPEG) &&
        (image->width() != s.header()->width || image->height() != s.header()->height)) {
        image = nullptr;
    }
    if (image && cache && !partial) s.cache[index] = image;
    return image;
}

namespace {
bool flag(const Dictionary& options, const char* key) {
    const Value& v = options[key];
    return v.isSomething() && v.boolValue();
}

// A positive whole number option; 0 when absent or not one.
std::uint64_t wholeNumber(const Dictionary& options, const char* key) {
    double value = options[key].doubleValue();
    return std::isfinite(value) && value >= 1 && value < 1e18 ? static_cast<std::uint64_t>(value) : 0;
}

// The decoder does most of the shrinking: the largest 1/2, 1/4 or 1/8 that still covers the
// requested size.
unsigned thumbnailScale(std::size_t longSide, std::size_t maxPixel) {
    if (maxPixel == 0) return 1;
    for (unsigned d : {8u, 4u, 2u})
        if ((longSide + d - 1) / d >= maxPixel) return d;
    return 1;
}
}  // namespace

std::optional<std::uint64_t> CGImageSource::thumbnailBytes(std::size_t index,
                                                           const Dictionary& options) const {
    const bool always = flag(options, kCGImageSourceCreateThumbnailFromImageAlways);
    const bool transform = flag(options, kCGImageSourceCreateThumbnailWithTransform);
    const std::size_t maxPixel = wholeNumber(options, kCGImageSourceThumbnailMaxPixelSize);
    std::lock_guard<std::mutex> guard(state_->lock);
    const State& s = *state_;
    const detail::ImageInfo* info = s.format == ImageFormat::GIF ? nullptr : s.header();
    std::uint64_t width = 0, height = 0;
    std::optional<std::uint64_t> decode;
    if (info) {
        if (index != 0) return std::nullopt;
        width = info->width;
        height = info->height;
        // The embedded thumbnail, unless a broken one could send it to the full picture.
        if (!always && !info->embeddedThumbnail.empty() &&
            !flag(options, kCGImageSourceCreateThumbnailFromImageIfAbsent)) {
            const NSData& t = info->embeddedThumbnail;
            return detail::estimateDecodeBytes(t.bytes(), t.length());
        }
        if (s.format == ImageFormat::JPEG && !s.partial()) {
            const unsigned d = thumbnailScale(std::max(width, height), maxPixel);
            decode = detail::estimateDecodeBytes(s.data.bytes(), s.data.length(), d);
            width = (width + d - 1) / d;
            height = (height + d - 1) / d;
        } else {
            decode = detail::estimateDecodeBytes(s.data.bytes(), s.data.length());
        }
    } else if (s.format == ImageFormat::GIF && s.data.length() >= 10) {
        const std::uint8_t* b = s.data.bytes();
        width = b[6] | (b[7] << 8);
        height = b[8] | (b[9] << 8);
        decode = detail::estimateDecodeBytes(b, s.data.length(), 1, s.gifBudget());
    }
    if (!decode) return std::nullopt;
    // Once decoded, the picture may be copied turned, then shrunk to the thumbnail.
    const int orientation = info && info->orientation >= 1 ? info->orientation : 1;
    const std::uint64_t decoded = width * height * 4;
    std::uint64_t thumbnail = 0;  // a picture that fits is answered itself
    const std::uint64_t longSide = std::max(width, height);
    if (maxPixel > 0 && longSide > maxPixel) {
        const double shrink = double(maxPixel) / double(longSide);
        thumbnail =
            std::uint64_t(std::ceil(width * shrink) + 1) * std::uint64_t(std::ceil(height * shrink) + 1) * 4;
    }
    const std::uint64_t after = decoded * (transform && orientation != 1 ? 2 : 1) + thumbnail;
    return std::max(*decode, after);
}

CGImageRef CGImageSource::thumbnailAtIndex(std::size_t index, const Dictionary& options) {
    const bool always = flag(options, kCGImageSourceCreateThumbnailFromImageAlways);
    const bool ifAbsent = flag(options, kCGImageSourceCreateThumbnailFromImageIfAbsent);
    const bool transform = flag(options, kCGImageSourceCreateThumbnailWithTransform);
    double maxValue = options[kCGImageSourceThumbnailMaxPixelSize].doubleValue();
    std::size_t maxPixel = std::isfinite(maxValue) && maxValue >= 1 ? static_cast<std::size_t>(maxValue) : 0;
    const std::uint64_t maxDecodeBytes = wholeNumber(options, kCGImageSourceMaxDecodeBytes);
    if (maxDecodeBytes > 0) {
        auto needed = thumbnailBytes(index, options);
        if (!needed || *needed > maxDecodeBytes) return nullptr;
    }

    int orientation = 1;
    CGImageRef image;
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        State& s = *state_;
        const detail::ImageInfo* info = s.format == ImageFormat::JPEG ? s.header() : nullptr;
        if (info && info->orientation >= 1) orientation = info->orientation;
        if (!always && info && !info->embeddedThumbnail.empty() && index == 0) {
            const NSData& t = info->embeddedThumbnail;
            image = detail::decodeJPEG(t.bytes(), t.length(), detail::JPEGDecodeOptions{});
        }
        if (!image && !always && !ifAbsent) return nullptr;
        if (!image && s.format == ImageFormat::JPEG && index == 0 && info && maxPixel > 0 && !s.partial()) {
            detail::JPEGDecodeOptions options;
            options.scaleDenominator = thumbnailScale(std::max(info->width, info->height), maxPixel);
            options.maxMemoryBytes = maxDecodeBytes;
            if (options.scaleDenominator > 1)
                image = detail::decodeJPEG(s.data.bytes(), s.data.length(), options);
        }
    }
    if (!image) image = imageAtIndex(index, true, maxDecodeBytes);
    if (!image) return nullptr;
    if (transform) image = detail::orientImage(image, orientation);
    return detail::downscaleImage(image, maxPixel);
}

// ---------------------------------------------------------------------------------------------
CGImageSourceRef CGImageSourceCreateWithData(const NSData& data, const Dictionary& options) {
    if (data.empty()) return nullptr;
    auto source = make<CGImageSource>(data, false, true);
    // A GIF's frames are all read at the first question about it: a caller's bound keeps them in it.
    if (const Value& bound = options[kCGImageSourceMaxDecodeBytes];
        bound.isSomething() && bound.doubleValue() >= 1)
        source->setMaxDecodeBytes(static_cast<std::uint64_t>(std::min(bound.doubleValue(), 1e18)));
    return source;
}

namespace {
std::string pathFromURL(const std::string& url) {
    std::string path = url;
    if (path.rfind("file://", 0) == 0) {
        path = path.substr(7);
        if (path.rfind("localhost/", 0) == 0) path = path.substr(9);
        std::string decoded;
        for (std::size_t i = 0; i < path.size(); ++i) {
            if (path[i] == '%' && i + 2 < path.size() &&
                std::isxdigit(static_cast<unsigned char>(path[i + 1])) &&
                std::isxdigit(static_cast<unsigned char>(path[i + 2]))) {
                decoded += static_cast<char>(std::stoi(path.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                decoded += path[i];
            }
        }
        path = decoded;
    }
    return path;
}
}  // namespace

CGImageSourceRef CGImageSourceCreateWithURL(const std::string& url, const Dictionary& options) {
    std::string path = pathFromURL(url);
    if (path.empty()) return nullptr;
    auto data = NSData::dataWithContentsOfFile(path);
    if (!data) return nullptr;
    return CGImageSourceCreateWithData(*data, options);
}

CGImageSourceRef CGImageSourceCreateIncremental(const Dictionary&) {
    return make<CGImageSource>(NSData(), true, false);
}

void CGImageSourceUpdateData(const CGImageSourceRef& source, const NSData& data, bool final) {
    if (source) source->update(data, final);
}

std::optional<std::string> CGImageSourceGetType(const CGImageSourceRef& source) {
    return source ? source->type() : std::nullopt;
}

std::size_t CGImageSourceGetCount(const CGImageSourceRef& source) {
    return source ? source->count() : 0;
}

CGImageSourceStatus CGImageSourceGetStatus(const CGImageSourceRef& source) {
    return source ? source->status() : kCGImageStatusInvalidData;
}

CGImageSourceStatus CGImageSourceGetStatusAtIndex(const CGImageSourceRef& source, std::size_t index) {
    return source ? source->statusAtIndex(index) : kCGImageStatusInvalidData;
}

std::optional<Dictionary> CGImageSourceCopyProperties(const CGImageSourceRef& source, const Dictionary&) {
    return source ? source->properties() : std::nullopt;
}

std::optional<Dictionary> CGImageSourceCopyPropertiesAtIndex(const CGImageSourceRef& source,
                                                             std::size_t index, const Dictionary&) {
    return source ? source->propertiesAtIndex(index) : std::nullopt;
}

CGImageRef CGImageSourceCreateImageAtIndex(const CGImageSourceRef& source, std::size_t index,
                                           const Dictionary& options) {
    if (!source) return nullptr;
    const Value& cache = options[kCGImageSourceShouldCache];
    return source->imageAtIndex(index, cache.isNil() || cache.boolValue(),
                                wholeNumber(options, kCGImageSourceMaxDecodeBytes));
}

std::optional<std::uint64_t> CGImageSourceEstimateThumbnailBytes(const CGImageSourceRef& source,
                                                                 std::size_t index,
                                                                 const Dictionary& options) {
    return source ? source->thumbnailBytes(index, options) : std::nullopt;
}

CGImageRef CGImageSourceCreateThumbnailAtIndex(const CGImageSourceRef& source, std::size_t index,
                                               const Dictionary& options) {
    return source ? source->thumbnailAtIndex(index, options) : nullptr;
}

Array CGImageSourceCopyTypeIdentifiers() {
    return Array{kUTTypePNG, kUTTypeJPEG, kUTTypeGIF};
}
