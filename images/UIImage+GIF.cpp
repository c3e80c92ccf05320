#include "images/UIImage+GIF.h"

#include <vector>

#include "foundation/NSBundle.h"
#include "graphics/UIGraphics.h"
#include "uikit/UIScreen.h"

namespace UIImage_GIF {

Ref<UIImage> wi_animatedGIFWithData(const NSData& data) {
    if (data.empty()) return nullptr;
    auto source = CGImageSourceCreateWithData(data);
    std::size_t count = source ? CGImageSourceGetCount(source) : 0;
    if (count <= 1) return UIImage::imageWithData(data);

    CGFloat scale = UIScreen::mainScreen()->scale();
    std::vector<Ref<UIImage>> frames;
    frames.reserve(count);
    double duration = 0;
    for (std::size_t i = 0; i < count; ++i) {
        CGImageRef frame = CGImageSourceCreateImageAtIndex(source, i);
        // A frame that does not decode is left out rather than failing the whole picture.
        if (!frame) continue;
        duration += wi_frameDurationAtIndex(i, source);
        frames.push_back(UIImage::imageWithCGImage(frame, scale, UIImageOrientation::Up));
    }
    if (frames.empty()) return nullptr;
    if (duration == 0) duration = static_cast<float>(frames.size()) * 0.1f;
    return UIImage::animatedImageWithImages(frames, duration);
}

float wi_frameDurationAtIndex(std::size_t index, const CGImageSourceRef& source) {
    float duration = 0.1f;
    auto properties = source ? CGImageSourceCopyPropertiesAtIndex(source, index) : std::nullopt;
    if (properties) {
        const Value& gif = properties->objectForKey(kCGImagePropertyGIFDictionary);
        const Value& unclamped = gif[kCGImagePropertyGIFUnclampedDelayTime];
        const Value& delay = gif[kCGImagePropertyGIFDelayTime];
        if (unclamped.isNumber()) {
            duration = unclamped.floatValue();
        } else if (delay.isNumber()) {
            duration = delay.floatValue();
        }
    }
    // Delays of 0 and 0.01 s are meant as "as fast as possible", which browsers play at 0.1 s.
    if (duration < 0.011f) duration = 0.1f;
    return duration;
}

Ref<UIImage> wi_animatedGIFNamed(const std::string& name) {
    auto bundle = NSBundle::mainBundle();
    if (UIScreen::mainScreen()->scale() > 1.0) {
        auto retinaPath = bundle->pathForResource(name + "@2x", "gif");
        if (retinaPath) {
            auto data = NSData::dataWithContentsOfFile(*retinaPath);
            if (data) return wi_animatedGIFWithData(*data);
        }
    }
    auto path = bundle->pathForResource(name, "gif");
    if (path) {
        auto data = NSData::dataWithContentsOfFile(*path);
        if (data) return wi_animatedGIFWithData(*data);
    }
    return UIImage::imageNamed(name);
}

Ref<UIImage> wi_animatedImageByScalingAndCroppingToSize(const Ref<UIImage>& image, CGSize size) {
    if (!image) return nullptr;
    CGSize own = image->size();
    if ((size.width == own.width && size.height == own.height) || (size.width == 0 && size.height == 0)) {
        return image;
    }
    CGFloat widthFactor = own.width > 0 ? size.width / own.width : 0;
    CGFloat heightFactor = own.height > 0 ? size.height / own.height : 0;
    CGFloat scaleFactor = widthFactor > heightFactor ? widthFactor : heightFactor;
    CGSize scaled = CGSizeMake(own.width * scaleFactor, own.height * scaleFactor);
    CGPoint origin = CGPointMake(0, 0);
    if (widthFactor > heightFactor) {
        origin.y = (size.height - scaled.height) * 0.5;
    } else if (widthFactor < heightFactor) {
        origin.x = (size.width - scaled.width) * 0.5;
    }

    std::vector<Ref<UIImage>> frames;
    const std::vector<Ref<UIImage>> source =
        image->images().empty() ? std::vector<Ref<UIImage>>{image} : image->images();
    UIGraphicsBeginImageContextWithOptions(size, false, 0);
    for (const auto& frame : source) {
        frame->drawInRect(CGRectMake(origin.x, origin.y, scaled.width, scaled.height));
        auto drawn = UIGraphicsGetImageFromCurrentImageContext();
        if (drawn) frames.push_back(drawn);
    }
    UIGraphicsEndImageContext();
    return UIImage::animatedImageWithImages(frames, image->duration());
}

}  // namespace UIImage_GIF
