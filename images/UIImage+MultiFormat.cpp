#include "images/UIImage+MultiFormat.h"

#include "graphics/CGImageSource.h"
#include "images/NSData+ImageContentType.h"
#include "images/UIImage+GIF.h"

namespace UIImage_MultiFormat {

Ref<UIImage> wi_imageWithData(const NSData& data) {
    if (data.empty()) return nullptr;
    auto type = NSData_ImageContentType::wi_contentTypeForImageData(data);
    if (type && *type == "image/gif") return UIImage_GIF::wi_animatedGIFWithData(data);
    auto image = UIImage::imageWithData(data);
    if (!image) return nullptr;
    UIImageOrientation orientation = wi_imageOrientationFromImageData(data);
    if (orientation != UIImageOrientation::Up) {
        return UIImage::imageWithCGImage(image->CGImage(), image->scale(), orientation);
    }
    return image;
}

UIImageOrientation wi_imageOrientationFromImageData(const NSData& data) {
    auto source = CGImageSourceCreateWithData(data);
    if (!source) return UIImageOrientation::Up;
    auto properties = CGImageSourceCopyPropertiesAtIndex(source, 0);
    if (!properties) return UIImageOrientation::Up;
    const Value& value = properties->objectForKey(kCGImagePropertyOrientation);
    if (!value.isNumber()) return UIImageOrientation::Up;
    return wi_exifOrientationToiOSOrientation(static_cast<std::int32_t>(value.intValue()));
}

UIImageOrientation wi_exifOrientationToiOSOrientation(std::int32_t exifOrientation) {
    return UIImageOrientationFromEXIF(exifOrientation);
}

}  // namespace UIImage_MultiFormat
