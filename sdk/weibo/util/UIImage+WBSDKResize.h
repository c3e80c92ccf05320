#pragma once
// The Weibo SDK's image helpers: scaling, cropping, rotating and redrawing with the orientation
// applied (the web composer shrinks a picture to at most 1600 points a side before upload), and
// stretchable images around the centre for buttons and panels. Geometry is in points.

#include <optional>
#include <string>

#include "graphics/CGContext.h"
#include "graphics/CGGeometry.h"
#include "graphics/UIColor.h"
#include "graphics/UIImage.h"

namespace UIImage_WBSDKResize {

// The rect (in points) cut out of the picture, keeping scale and orientation.
Ref<UIImage> wbsdk_croppedImage(const Ref<UIImage>& image, CGRect rect);
// Redrawn at the size with the orientation applied, on opaque white.
Ref<UIImage> wbsdk_resizedImage(const Ref<UIImage>& image, CGSize newSize, CGInterpolationQuality quality);
// The same on the colour, with alpha.
Ref<UIImage> wbsdk_resizedImageWithBackgroundColor(const Ref<UIImage>& image, CGSize newSize,
                                                   CGInterpolationQuality quality, const Ref<UIColor>& color);
// Mode 1 fits the bounds, mode 2 fills them; any other mode raises NSInvalidArgumentException
// "Unsupported content mode: %d".
Ref<UIImage> wbsdk_resizedImageWithContentMode(const Ref<UIImage>& image, long contentMode, CGSize bounds,
                                               CGInterpolationQuality quality);
// Aspect fill into the size, centred (scale 1); nil (with a log line) without an image.
Ref<UIImage> wbsdk_imageByScalingAndCroppingForSize(const Ref<UIImage>& image, CGSize targetSize);
// The core drawing step.
Ref<UIImage> wbsdk_resizedImageWithTransform(const Ref<UIImage>& image, CGSize newSize,
                                             CGAffineTransform transform, bool transpose,
                                             CGInterpolationQuality quality,
                                             const Ref<UIColor>& backgroundColor = nullptr);
// The transform that uprights the picture drawn at the size.
CGAffineTransform wbsdk_transformForOrientation(const Ref<UIImage>& image, CGSize newSize);
// A thumbnail of at most maxPixelSize pixels a side read from a file; nil when it cannot be read.
Ref<UIImage> wbsdk_resizeImageToMaxSize(double maxPixelSize, const std::string& sourcePath);
// No larger than 1600 points a side (a redraw that applies the orientation otherwise).
Ref<UIImage> wbsdk_resizedImageWithCompressionLevelHighResolution(const Ref<UIImage>& image);
// The rect in pixels, scale 1, up.
Ref<UIImage> wbsdk_cropImageWithSourceImage(const Ref<UIImage>& image, CGRect rect);
// The pixel size from the file's properties, without decoding; (0, 0) when it cannot be read.
CGSize wbsdk_imageSizeWithoutLoadingWithPath(const std::string& path);
Ref<UIImage> wbsdk_imageWithPureColorBackgroundImage(const Ref<UIColor>& color, CGSize size);
// Aspect fill into the size at the screen's scale; nil for an empty size or image.
Ref<UIImage> wbsdk_imageWithSize(const Ref<UIImage>& image, CGSize size);
Ref<UIImage> customRotateImageWithtransform(const Ref<UIImage>& image, CGAffineTransform transform,
                                            CGRect rect);
Ref<UIImage> rotatedImageWithtransformCroppedToRect(const Ref<UIImage>& image, CGAffineTransform transform,
                                                    CGRect rect);
Ref<UIImage> rotatedImageWithtransform(const Ref<UIImage>& image, CGAffineTransform transform);

}  // namespace UIImage_WBSDKResize

namespace UIImage_WBSDKStretch {
// Caps: ceiling(side / 2) - 1 from the left and the top.
Ref<UIImage> wbsdk_stretchableImageByCenter(const Ref<UIImage>& image);
Ref<UIImage> wbsdk_stretchableImageByHeightCenter(const Ref<UIImage>& image);
Ref<UIImage> wbsdk_stretchableImageByWidthCenter(const Ref<UIImage>& image);
long long wbsdk_rightCapWidth(const Ref<UIImage>& image);
long long wbsdk_bottomCapHeight(const Ref<UIImage>& image);
}  // namespace UIImage_WBSDKStretch
