#include "graphics/UIImage.h"

#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <mutex>

#include "foundation/NSBundle.h"
#include "graphics/GraphicsTesting.h"
#include "graphics/ImageCodec.h"

int UIImageOrientationToEXIF(UIImageOrientation orientation) {
    switch (orientation) {
        case UIImageOrientation::Up:
            return 1;
        case UIImageOrientation::UpMirrored:
            return 2;
        case UIImageOrientation::Down:
            return 3;
        case UIImageOrientation::DownMirrored:
            return 4;
        case UIImageOrientation::LeftMirrored:
            return 5;
        case UIImageOrientation::Right:
            return 6;
        case UIImageOrientation::RightMirrored:
            return 7;
        case UIImageOrientation::Left:
            return 8;
    }
    return 1;
}

UIImageOrientation UIImageOrientationFromEXIF(long exif) {
    switch (exif) {
        case 2:
            return UIImageOrientation::UpMirrored;
        case 3:
            return UIImageOrientation::Down;
        case 4:
            return UIImageOrientation::DownMirrored;
        case 5:
            return UIImageOrientation::LeftMirrored;
        case 6:
            return UIImageOrientation::Right;
        case 7:
            return UIImageOrientation::RightMirrored;
        case 8:
            return UIImageOrientation::Left;
        default:
            return UIImageOrientation::Up;
    }
}

UIImage::UIImage(CGImageRef image, CGFloat scale, UIImageOrientation orientation)
    : image_(std::move(image)), scale_(scale > 0 ? scale : 1), orientation_(orientation) {}

Ref<UIImage> UIImage::imageWithCGImage(CGImageRef image, CGFloat scale, UIImageOrientation orientation) {
    if (!image) return nullptr;
    return make<UIImage>(std::move(image), scale, orientation);
}

namespace {

// The first picture of the bytes and its EXIF orientation (1 when none).
CGImageRef decodeFirstPicture(const NSData& data, int* orientation) {
    *orientation = 1;
    const std::uint8_t* bytes = data.bytes();
    std::size_t length = data.length();
    switch (detail::sniffImageFormat(bytes, length)) {
        case detail::ImageFormat::PNG:
            return detail::decodePNG(bytes, length, false);
        case detail::ImageFormat::JPEG: {
            if (auto info = detail::readJPEGInfo(bytes, length); info && info->orientation >= 1) {
                *orientation = info->orientation;
            }
            return detail::decodeJPEG(bytes, length, detail::JPEGDecodeOptions{});
        }
        case detail::ImageFormat::GIF: {
            auto gif = detail::GIFAnimation::read(bytes, length);
            return gif && gif->frameCount() > 0 ? gif->compositeFrame(0) : nullptr;
        }
        default:
            return nullptr;
    }
}

// "name@2x.png" -> 2; no marker -> 1.
CGFloat scaleFromFileName(const std::string& path) {
    std::string file =
        path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
    std::string stem = file.substr(0, file.find_last_of('.'));
    if (stem.size() >= 3 && stem[stem.size() - 3] == '@' && stem.back() == 'x' &&
        (stem[stem.size() - 2] == '2' || stem[stem.size() - 2] == '3')) {
        return stem[stem.size() - 2] - '0';
    }
    return 1;
}

bool isRegularFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

struct NamedImages {
    std::mutex lock;
    std::string directoryOverride;
    std::map<std::string, Ref<UIImage>> cache;
};
NamedImages& namedImages() {
    static NamedImages* shared = new NamedImages;
    return *shared;
}

}  // namespace

Ref<UIImage> UIImage::imageWithData(const NSData& data, CGFloat scale) {
    int orientation = 1;
    CGImageRef image = decodeFirstPicture(data, &orientation);
    if (!image) return nullptr;
    return imageWithCGImage(std::move(image), scale, UIImageOrientationFromEXIF(orientation));
}

Ref<UIImage> UIImage::imageWithContentsOfFile(const std::string& path) {
    if (path.empty() || !isRegularFile(path)) return nullptr;
    auto data = NSData::dataWithContentsOfFile(path);
    if (!data) return nullptr;
    return imageWithData(*data, scaleFromFileName(path));
}

std::string UIImage::resourcesDirectory() {
    {
        auto& named = namedImages();
        std::lock_guard<std::mutex> guard(named.lock);
        if (!named.directoryOverride.empty()) return named.directoryOverride;
    }
    if (const char* env = std::getenv("APP_RESOURCES_DIR"); env && *env) return env;
    // Else where the app's bundle is: a program started by hand finds the pictures it keeps there.
    return NSBundle::mainBundle()->resourcePath();
}

void UIImage::clearNamedImageCache() {
    auto& named = namedImages();
    std::lock_guard<std::mutex> guard(named.lock);
    named.cache.clear();
}

Ref<UIImage> UIImage::imageNamed(const std::string& name) {
    if (name.empty() || name.find("..") != std::string::npos) return nullptr;
    auto& named = namedImages();
    {
        std::lock_guard<std::mutex> guard(named.lock);
        if (auto it = named.cache.find(name); it != named.cache.end()) return it->second;
    }
    std::string dir = resourcesDirectory();
    std::string relative = name.front() == '/' ? name.substr(1) : name;
    // With an extension the name is tried with "@2x" before it; without, ".png" is added too.
    std::string base = relative, extension;
    auto slash = relative.find_last_of('/');
    auto dot = relative.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
        dot + 1 < relative.size()) {
        base = relative.substr(0, dot);
        extension = relative.substr(dot);
    }
    std::vector<std::string> candidates;
    if (!extension.empty()) {
        candidates = {base + "@2x" + extension, relative};
    } else {
        candidates = {relative + "@2x.png", relative + ".png", relative + "@2x.jpg",
                      relative + ".jpg",    relative + "@2x",  relative};
    }
    Ref<UIImage> image;
    for (const auto& candidate : candidates) {
        image = imageWithContentsOfFile(dir + "/" + candidate);
        if (image) break;
    }
    if (!image) return nullptr;
    std::lock_guard<std::mutex> guard(named.lock);
    auto [it, inserted] = named.cache.emplace(name, image);
    return it->second;
}

Ref<UIImage> UIImage::animatedImageWithImages(const std::vector<Ref<UIImage>>& images, double duration) {
    std::vector<Ref<UIImage>> frames;
    for (const auto& frame : images) {
        if (frame) frames.push_back(frame);
    }
    if (frames.empty()) return nullptr;
    auto first = frames.front();
    auto image = make<UIImage>(first->CGImage(), first->scale(), UIImageOrientation::Up);
    image->images_ = std::move(frames);
    image->duration_ = duration > 0 ? duration : 0;
    return image;
}

CGImageRef UIImage::CGImage() const {
    return image_;
}

CGSize UIImage::size() const {
    if (!images_.empty()) return images_.front()->size();
    if (!image_) return CGSizeZero;
    CGFloat w = static_cast<CGFloat>(image_->width()) / scale_;
    CGFloat h = static_cast<CGFloat>(image_->height()) / scale_;
    switch (orientation_) {
        case UIImageOrientation::Left:
        case UIImageOrientation::Right:
        case UIImageOrientation::LeftMirrored:
        case UIImageOrientation::RightMirrored:
            return {h, w};
        default:
            return {w, h};
    }
}

Ref<UIImage> UIImage::copyWithAttributes() const {
    auto copy = make<UIImage>(image_, scale_, orientation_);
    copy->images_ = images_;
    copy->duration_ = duration_;
    copy->renderingMode_ = renderingMode_;
    copy->capInsets_ = capInsets_;
    copy->resizingMode_ = resizingMode_;
    copy->leftCapWidth_ = leftCapWidth_;
    copy->topCapHeight_ = topCapHeight_;
    return copy;
}

Ref<UIImage> UIImage::imageWithRenderingMode(UIImageRenderingMode mode) const {
    auto copy = copyWithAttributes();
    copy->renderingMode_ = mode;
    return copy;
}

Ref<UIImage> UIImage::resizableImageWithCapInsets(UIEdgeInsets insets) const {
    return resizableImageWithCapInsets(insets, UIImageResizingMode::Tile);
}

Ref<UIImage> UIImage::resizableImageWithCapInsets(UIEdgeInsets insets, UIImageResizingMode mode) const {
    auto copy = copyWithAttributes();
    copy->capInsets_ = insets;
    copy->resizingMode_ = mode;
    copy->leftCapWidth_ = static_cast<long>(insets.left);
    copy->topCapHeight_ = static_cast<long>(insets.top);
    return copy;
}

Ref<UIImage> UIImage::stretchableImageWithLeftCapWidth(long left, long top) const {
    CGSize s = size();
    left = std::max(0L, left);
    top = std::max(0L, top);
    UIEdgeInsets insets;
    if (left > 0) {
        insets.left = static_cast<CGFloat>(left);
        insets.right = std::max<CGFloat>(0, s.width - static_cast<CGFloat>(left) - 1);
    }
    if (top > 0) {
        insets.top = static_cast<CGFloat>(top);
        insets.bottom = std::max<CGFloat>(0, s.height - static_cast<CGFloat>(top) - 1);
    }
    auto copy = copyWithAttributes();
    copy->capInsets_ = insets;
    copy->resizingMode_ = UIImageResizingMode::Stretch;
    copy->leftCapWidth_ = left;
    copy->topCapHeight_ = top;
    return copy;
}

std::string UIImage::description() const {
    CGSize s = size();
    char buf[128];
    std::snprintf(buf, sizeof buf, "<UIImage: %p>, {%g, %g}", static_cast<const void*>(this), s.width,
                  s.height);
    return buf;
}

std::optional<NSData> UIImagePNGRepresentation(const Ref<UIImage>& image) {
    if (!image || !image->CGImage()) return std::nullopt;
    CGImageRef upright = detail::orientImage(detail::decodedLayoutImage(image->CGImage()),
                                             UIImageOrientationToEXIF(image->imageOrientation()));
    if (!upright) return std::nullopt;
    return detail::encodePNG(*upright);
}

std::optional<NSData> UIImageJPEGRepresentation(const Ref<UIImage>& image, CGFloat compressionQuality) {
    if (!image || !image->CGImage()) return std::nullopt;
    return detail::encodeJPEG(*image->CGImage(), compressionQuality,
                              UIImageOrientationToEXIF(image->imageOrientation()));
}

namespace graphics_testing {

void setResourcesDirectory(const std::string& path) {
    auto& named = namedImages();
    std::lock_guard<std::mutex> guard(named.lock);
    named.directoryOverride = path;
    named.cache.clear();
}

}  // namespace graphics_testing
