#include "studio/UIImage+texture.h"

#include <cmath>
#include <numbers>

#include "graphics/CGContext.h"
#include "graphics/CGImage.h"
#include "graphics/UIGraphics.h"

namespace {

// Addresses of these identify the associated values.
const char kSourceOriginKey = 0;
const char kSourceSizeKey = 0;

bool isFiniteValue(double v) {
    return std::isfinite(v);
}

// The upright picture drawn from a cut that is stored a quarter turn clockwise: the cut is W wide
// and H high, the result H wide and W high. The image context's user space has a top-left origin;
// flipping it, turning it a quarter turn and moving it back lays the cut's columns out as rows.
Ref<UIImage> turnUpright(const CGImageRef& cut, double W, double H) {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(H, W), false, 1.0);
    CGContextRef context = UIGraphicsGetCurrentContext();
    if (!context) {
        UIGraphicsEndImageContext();
        return nullptr;
    }
    CGContextSetInterpolationQuality(context, kCGInterpolationNone);
    CGContextScaleCTM(context, 1, -1);
    CGContextRotateCTM(context, std::numbers::pi / 2);
    CGContextTranslateCTM(context, -W, -H);
    CGContextDrawImage(context, CGRectMake(0, 0, W, H), cut);
    Ref<UIImage> upright = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return upright;
}

}  // namespace

namespace UIImage_texture {

CGRect sliceFrameWithFrameInfo(const Value& frameInfo) {
    const Value& frame = frameInfo["frame"];
    double w = frame["w"].doubleValue(), h = frame["h"].doubleValue();
    if (rotateInfoWithFrameInfo(frameInfo)) std::swap(w, h);
    return CGRectMake(frame["x"].doubleValue(), frame["y"].doubleValue(), w, h);
}

CGRect sliceSourceFrameWithFrameInfo(const Value& frameInfo) {
    const Value& source = frameInfo["spriteSourceSize"];
    return CGRectMake(source["x"].doubleValue(), source["y"].doubleValue(), source["w"].doubleValue(),
                      source["h"].doubleValue());
}

CGSize sliceSourceSizeWithFrameInfo(const Value& frameInfo) {
    const Value& size = frameInfo["sourceSize"];
    return CGSizeMake(size["w"].doubleValue(), size["h"].doubleValue());
}

bool rotateInfoWithFrameInfo(const Value& frameInfo) {
    return frameInfo["rotated"].boolValue();
}

bool trimInfoWithFrameInfo(const Value& frameInfo) {
    return frameInfo["trimmed"].boolValue();
}

Ref<UIImage> trimmedSliceWithFrameInfo(const Ref<UIImage>& sheet, const Value& frameInfo) {
    if (!sheet || !frameInfo.isDictionary()) return nullptr;
    CGImageRef bitmap = sheet->CGImage();
    if (!bitmap) return nullptr;
    const CGRect rect = sliceFrameWithFrameInfo(frameInfo);
    const double x = rect.origin.x, y = rect.origin.y, W = rect.size.width, H = rect.size.height;
    if (!isFiniteValue(x) || !isFiniteValue(y) || !isFiniteValue(W) || !isFiniteValue(H)) return nullptr;
    if (W <= 0 || H <= 0) return nullptr;

    // A rectangle reaching past the sheet is cut to the part inside it; one wholly outside gives
    // nothing.
    CGImageRef cut = CGImageCreateWithImageInRect(bitmap, rect);
    if (!cut) return nullptr;
    const double cutW = static_cast<double>(CGImageGetWidth(cut));
    const double cutH = static_cast<double>(CGImageGetHeight(cut));
    Ref<UIImage> picture = rotateInfoWithFrameInfo(frameInfo)
                               ? turnUpright(cut, cutW, cutH)
                               : UIImage::imageWithCGImage(cut, 1.0, UIImageOrientation::Up);
    if (!picture) return nullptr;

    // A table without the source values leaves them unattached, so readers fall back to (0, 0) and
    // the picture's own size rather than to an empty canvas.
    if (frameInfo["spriteSourceSize"].isDictionary()) {
        picture->setAssociatedObject(
            &kSourceOriginKey, Value(NSStringFromCGPoint(sliceSourceFrameWithFrameInfo(frameInfo).origin)));
    }
    if (frameInfo["sourceSize"].isDictionary()) {
        picture->setAssociatedObject(&kSourceSizeKey,
                                     Value(NSStringFromCGSize(sliceSourceSizeWithFrameInfo(frameInfo))));
    }
    return picture;
}

Ref<UIImage> unTrimmedSliceWithFrameInfo(const Ref<UIImage>& sheet, const Value& frameInfo) {
    Ref<UIImage> cut = trimmedSliceWithFrameInfo(sheet, frameInfo);
    if (!cut) return nullptr;
    const CGSize canvas = getSourceSize(cut);
    if (!isFiniteValue(canvas.width) || !isFiniteValue(canvas.height) || canvas.width < 1 ||
        canvas.height < 1 || canvas.width > kMaximumCanvasSide || canvas.height > kMaximumCanvasSide)
        return nullptr;
    const CGPoint offset = getSourceOrigin(cut);
    if (!isFiniteValue(offset.x) || !isFiniteValue(offset.y)) return nullptr;

    UIGraphicsBeginImageContextWithOptions(canvas, false, 1.0);
    if (!UIGraphicsGetCurrentContext()) {
        UIGraphicsEndImageContext();
        return nullptr;
    }
    CGContextSetInterpolationQuality(UIGraphicsGetCurrentContext(), kCGInterpolationNone);
    cut->drawInRect(CGRectMake(offset.x, offset.y, cut->size().width, cut->size().height));
    Ref<UIImage> picture = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return picture;
}

CGPoint getSourceOrigin(const Ref<UIImage>& image) {
    if (!image) return CGPointZero;
    Value text = image->associatedObject(&kSourceOriginKey);
    return text.isString() ? CGPointFromString(*text.string()) : CGPointZero;
}

CGSize getSourceSize(const Ref<UIImage>& image) {
    if (!image) return CGSizeZero;
    Value text = image->associatedObject(&kSourceSizeKey);
    return text.isString() ? CGSizeFromString(*text.string()) : image->size();
}

}  // namespace UIImage_texture
