#include "sdk/weibo/util/UIImage+WBSDKResize.h"

#include <algorithm>
#include <cmath>

#include "foundation/NSException.h"
#include "foundation/NSLog.h"
#include "foundation/NSString.h"
#include "graphics/CGImageSource.h"
#include "graphics/UIGraphics.h"
#include "uikit/UIScreen.h"

namespace UIImage_WBSDKResize {

namespace {

bool isTransposed(UIImageOrientation o) {
    return o == UIImageOrientation::Left || o == UIImageOrientation::Right ||
           o == UIImageOrientation::LeftMirrored || o == UIImageOrientation::RightMirrored;
}

CGFloat screenScale() {
    auto screen = UIScreen::mainScreen();
    return screen ? screen->scale() : 1;
}

// The picture of the current image context with the given scale and upright.
Ref<UIImage> contextImage(CGFloat scale) {
    auto drawn = UIGraphicsGetImageFromCurrentImageContext();
    if (!drawn || !drawn->CGImage()) return drawn;
    return UIImage::imageWithCGImage(drawn->CGImage(), scale, UIImageOrientation::Up);
}

}  // namespace

Ref<UIImage> wbsdk_croppedImage(const Ref<UIImage>& image, CGRect rect) {
    if (!image || !image->CGImage()) return nullptr;
    CGFloat s = image->scale();
    CGRect pixels =
        CGRectMake(rect.origin.x * s, rect.origin.y * s, rect.size.width * s, rect.size.height * s);
    auto cut = CGImageCreateWithImageInRect(image->CGImage(), pixels);
    return cut ? UIImage::imageWithCGImage(cut, image->scale(), image->imageOrientation()) : nullptr;
}

CGAffineTransform wbsdk_transformForOrientation(const Ref<UIImage>& image, CGSize newSize) {
    CGAffineTransform t = CGAffineTransformIdentity;
    if (!image) return t;
    const CGFloat w = newSize.width, h = newSize.height;
    switch (image->imageOrientation()) {
        case UIImageOrientation::Down:
        case UIImageOrientation::DownMirrored:
            t = CGAffineTransformTranslate(t, w, h);
            t = CGAffineTransformRotate(t, M_PI);
            break;
        case UIImageOrientation::Left:
        case UIImageOrientation::LeftMirrored:
            t = CGAffineTransformTranslate(t, w, 0);
            t = CGAffineTransformRotate(t, M_PI_2);
            break;
        case UIImageOrientation::Right:
        case UIImageOrientation::RightMirrored:
            t = CGAffineTransformTranslate(t, 0, h);
            t = CGAffineTransformRotate(t, -M_PI_2);
            break;
        default:
            break;
    }
    switch (image->imageOrientation()) {
        case UIImageOrientation::UpMirrored:
        case UIImageOrientation::DownMirrored:
            t = CGAffineTransformTranslate(t, w, 0);
            t = CGAffineTransformScale(t, -1, 1);
            break;
        case UIImageOrientation::LeftMirrored:
        case UIImageOrientation::RightMirrored:
            t = CGAffineTransformTranslate(t, h, 0);
            t = CGAffineTransformScale(t, -1, 1);
            break;
        default:
            break;
    }
    return t;
}

Ref<UIImage> wbsdk_resizedImageWithTransform(const Ref<UIImage>& image, CGSize newSize,
                                             CGAffineTransform transform, bool transpose,
                                             CGInterpolationQuality quality,
                                             const Ref<UIColor>& backgroundColor) {
    if (!image || !image->CGImage()) return nullptr;
    CGRect newRect = CGRectIntegral(CGRectMake(0, 0, newSize.width, newSize.height));
    CGRect transposedRect = CGRectMake(0, 0, newRect.size.height, newRect.size.width);
    auto width = static_cast<std::size_t>(newRect.size.width);
    auto height = static_cast<std::size_t>(newRect.size.height);
    CGBitmapInfo info = backgroundColor ? (kCGBitmapByteOrder32Little | kCGImageAlphaPremultipliedFirst)
                                        : (kCGBitmapByteOrder32Little | kCGImageAlphaNoneSkipFirst);
    auto context = CGBitmapContextCreate(nullptr, width, height, 8, 0, CGColorSpaceCreateDeviceRGB(), info);
    if (!context) return nullptr;
    if (backgroundColor) {
        CGContextSetFillColorWithColor(context, backgroundColor->CGColor());
    } else {
        CGContextSetRGBFillColor(context, 1, 1, 1, 1);
    }
    CGContextFillRect(context, newRect);
    CGContextConcatCTM(context, transform);
    CGContextSetInterpolationQuality(context, quality);
    CGContextDrawImage(context, transpose ? transposedRect : newRect, image->CGImage());
    auto drawn = CGBitmapContextCreateImage(context);
    return drawn ? UIImage::imageWithCGImage(drawn, 1, UIImageOrientation::Up) : nullptr;
}

Ref<UIImage> wbsdk_resizedImage(const Ref<UIImage>& image, CGSize newSize, CGInterpolationQuality quality) {
    if (!image) return nullptr;
    return wbsdk_resizedImageWithTransform(image, newSize, wbsdk_transformForOrientation(image, newSize),
                                           isTransposed(image->imageOrientation()), quality);
}

Ref<UIImage> wbsdk_resizedImageWithBackgroundColor(const Ref<UIImage>& image, CGSize newSize,
                                                   CGInterpolationQuality quality,
                                                   const Ref<UIColor>& color) {
    if (!image) return nullptr;
    return wbsdk_resizedImageWithTransform(image, newSize, wbsdk_transformForOrientation(image, newSize),
                                           isTransposed(image->imageOrientation()), quality,
                                           color ? color : UIColor::whiteColor());
}

Ref<UIImage> wbsdk_resizedImageWithContentMode(const Ref<UIImage>& image, long contentMode, CGSize bounds,
                                               CGInterpolationQuality quality) {
    if (!image) return nullptr;
    CGSize size = image->size();
    if (size.width <= 0 || size.height <= 0) return nullptr;
    CGFloat horizontal = bounds.width / size.width;
    CGFloat vertical = bounds.height / size.height;
    CGFloat ratio;
    if (contentMode == 1) {
        ratio = std::min(horizontal, vertical);
    } else if (contentMode == 2) {
        ratio = std::max(horizontal, vertical);
    } else {
        NSException::raise(
            NSInvalidArgumentException,
            NSString::stringWithFormat("Unsupported content mode: %d", static_cast<int>(contentMode)));
    }
    return wbsdk_resizedImage(image, CGSizeMake(size.width * ratio, size.height * ratio), quality);
}

Ref<UIImage> wbsdk_resizedImageWithCompressionLevelHighResolution(const Ref<UIImage>& image) {
    if (!image) return nullptr;
    CGSize size = image->size();
    if (size.width > 1600 || size.height > 1600)
        return wbsdk_resizedImageWithContentMode(image, 1, CGSizeMake(1600, 1600), kCGInterpolationDefault);
    return wbsdk_resizedImageWithContentMode(image, 1, size, kCGInterpolationDefault);
}

Ref<UIImage> wbsdk_imageByScalingAndCroppingForSize(const Ref<UIImage>& image, CGSize target) {
    if (!image || !image->CGImage()) {
        NSLog("could not scale image");
        return nullptr;
    }
    CGSize size = image->size();
    CGRect drawRect = CGRectMake(0, 0, target.width, target.height);
    if (!(size.width == target.width && size.height == target.height) && size.width > 0 && size.height > 0) {
        CGFloat widthFactor = target.width / size.width;
        CGFloat heightFactor = target.height / size.height;
        CGFloat scale = std::max(widthFactor, heightFactor);
        CGSize scaled = CGSizeMake(size.width * scale, size.height * scale);
        CGPoint origin = CGPointMake(0, 0);
        if (widthFactor > heightFactor) {
            origin.y = (target.height - scaled.height) * 0.5;
        } else if (widthFactor < heightFactor) {
            origin.x = (target.width - scaled.width) * 0.5;
        }
        drawRect = CGRectMake(origin.x, origin.y, scaled.width, scaled.height);
    }
    UIGraphicsBeginImageContextWithOptions(target, false, 1);
    image->drawInRect(drawRect);
    auto out = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    if (!out) NSLog("could not scale image");
    return out;
}

Ref<UIImage> wbsdk_resizeImageToMaxSize(double maxPixelSize, const std::string& sourcePath) {
    auto source = CGImageSourceCreateWithURL(sourcePath);
    if (!source) return nullptr;
    Dictionary options{{kCGImageSourceCreateThumbnailFromImageAlways, true},
                       {kCGImageSourceCreateThumbnailWithTransform, true},
                       {kCGImageSourceThumbnailMaxPixelSize, static_cast<float>(maxPixelSize)}};
    auto thumbnail = CGImageSourceCreateThumbnailAtIndex(source, 0, options);
    return thumbnail ? UIImage::imageWithCGImage(thumbnail) : nullptr;
}

Ref<UIImage> wbsdk_cropImageWithSourceImage(const Ref<UIImage>& image, CGRect rect) {
    if (!image || !image->CGImage()) return nullptr;
    auto cut = CGImageCreateWithImageInRect(image->CGImage(), rect);
    return cut ? UIImage::imageWithCGImage(cut, 1, UIImageOrientation::Up) : nullptr;
}

CGSize wbsdk_imageSizeWithoutLoadingWithPath(const std::string& path) {
    if (path.empty()) return CGSizeMake(0, 0);
    auto source = CGImageSourceCreateWithURL(path);
    if (!source) return CGSizeMake(0, 0);
    auto properties = CGImageSourceCopyPropertiesAtIndex(source, 0);
    if (!properties) return CGSizeMake(0, 0);
    return CGSizeMake((*properties)[kCGImagePropertyPixelWidth].doubleValue(),
                      (*properties)[kCGImagePropertyPixelHeight].doubleValue());
}

Ref<UIImage> wbsdk_imageWithPureColorBackgroundImage(const Ref<UIColor>& color, CGSize size) {
    CGRect rect = CGRectIntegral(CGRectMake(0, 0, size.width, size.height));
    auto context = CGBitmapContextCreate(
        nullptr, static_cast<std::size_t>(rect.size.width), static_cast<std::size_t>(rect.size.height), 8, 0,
        CGColorSpaceCreateDeviceRGB(), kCGBitmapByteOrder32Little | kCGImageAlphaPremultipliedFirst);
    if (!context) return nullptr;
    if (color) CGContextSetFillColorWithColor(context, color->CGColor());
    CGContextFillRect(context, rect);
    auto drawn = CGBitmapContextCreateImage(context);
    return drawn ? UIImage::imageWithCGImage(drawn) : nullptr;
}

Ref<UIImage> wbsdk_imageWithSize(const Ref<UIImage>& image, CGSize target) {
    if (!image || target.width <= 0 || target.height <= 0) return nullptr;
    CGSize size = image->size();
    if (size.width == 0 || size.height == 0) return nullptr;
    CGFloat scale = screenScale();
    UIGraphicsBeginImageContextWithOptions(target, false, scale);
    CGFloat ratio = std::min(size.width / target.width, size.height / target.height);
    CGSize drawn = CGSizeMake(size.width / ratio, size.height / ratio);
    image->drawInRect(CGRectMake((target.width - drawn.width) * 0.5, (target.height - drawn.height) * 0.5,
                                 drawn.width, drawn.height));
    auto out = contextImage(scale);
    UIGraphicsEndImageContext();
    return out;
}

Ref<UIImage> rotatedImageWithtransform(const Ref<UIImage>& image, CGAffineTransform transform) {
    if (!image) return nullptr;
    CGSize size = image->size();
    UIGraphicsBeginImageContextWithOptions(size, true, image->scale());
    auto context = UIGraphicsGetCurrentContext();
    CGContextTranslateCTM(context, size.width / 2, size.height / 2);
    CGContextConcatCTM(context, transform);
    CGContextTranslateCTM(context, -size.width / 2, -size.height / 2);
    image->drawInRect(CGRectMake(0, 0, size.width, size.height));
    auto out = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return out;
}

Ref<UIImage> rotatedImageWithtransformCroppedToRect(const Ref<UIImage>& image, CGAffineTransform transform,
                                                    CGRect rect) {
    auto rotated = rotatedImageWithtransform(image, transform);
    if (!rotated || !rotated->CGImage()) return nullptr;
    CGFloat s = rotated->scale();
    auto cut = CGImageCreateWithImageInRect(
        rotated->CGImage(),
        CGRectMake(rect.origin.x * s, rect.origin.y * s, rect.size.width * s, rect.size.height * s));
    return cut ? UIImage::imageWithCGImage(cut, image->scale(), rotated->imageOrientation()) : nullptr;
}

Ref<UIImage> customRotateImageWithtransform(const Ref<UIImage>& image, CGAffineTransform transform,
                                            CGRect rect) {
    if (!image) return nullptr;
    UIGraphicsBeginImageContextWithOptions(rect.size, true, image->scale());
    auto context = UIGraphicsGetCurrentContext();
    CGContextTranslateCTM(context, rect.size.width / 2, rect.size.height / 2);
    CGContextConcatCTM(context, transform);
    CGSize size = image->size();
    CGContextTranslateCTM(context, -size.width / 2, -size.height / 2);
    image->drawInRect(CGRectMake(0, 0, size.width, size.height));
    auto out = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return out;
}

}  // namespace UIImage_WBSDKResize

namespace UIImage_WBSDKStretch {

namespace {
// ceiling(side / 2) - 1, computed in single precision as the caps always were.
long cap(CGFloat side) {
    float half = static_cast<float>(side) / 2.0f;
    long c = static_cast<long>(std::floor(half));
    if (half == std::floor(half)) c -= 1;
    return c;
}
}  // namespace

Ref<UIImage> wbsdk_stretchableImageByCenter(const Ref<UIImage>& image) {
    if (!image) return nullptr;
    return image->stretchableImageWithLeftCapWidth(cap(image->size().width), cap(image->size().height));
}

Ref<UIImage> wbsdk_stretchableImageByHeightCenter(const Ref<UIImage>& image) {
    if (!image) return nullptr;
    return image->stretchableImageWithLeftCapWidth(0, cap(image->size().height));
}

Ref<UIImage> wbsdk_stretchableImageByWidthCenter(const Ref<UIImage>& image) {
    if (!image) return nullptr;
    return image->stretchableImageWithLeftCapWidth(cap(image->size().width), 0);
}

long long wbsdk_rightCapWidth(const Ref<UIImage>& image) {
    if (!image) return 0;
    return static_cast<long long>(image->size().width) - cap(image->size().width) - 1;
}

long long wbsdk_bottomCapHeight(const Ref<UIImage>& image) {
    if (!image) return 0;
    return static_cast<long long>(image->size().height) - cap(image->size().height) - 1;
}

}  // namespace UIImage_WBSDKStretch
