#include "app/UIImage+Thumbnail.h"

#include <algorithm>

#include "graphics/UIBezierPath.h"
#include "graphics/UIGraphics.h"

namespace UIImage_Thumbnail {

Ref<UIImage> getThumbnailFromImage(const Ref<UIImage>& image) {
    constexpr CGFloat side = 40;
    if (!image) return nullptr;
    CGSize size = image->size();
    if (!(size.width > 0) || !(size.height > 0)) return nullptr;
    // The ratio is kept at single precision, as the drawing code has always rounded it.
    const CGFloat ratio = static_cast<float>(std::max(side / size.width, side / size.height));

    UIGraphicsBeginImageContextWithOptions(CGSizeMake(side, side), false, 0);
    UIBezierPath::bezierPathWithRoundedRect(CGRectMake(0, 0, side, side), 5)->addClip();
    image->drawInRect(CGRectMake((side - size.width * ratio) * 0.5, (side - size.height * ratio) * 0.5,
                                 size.width * ratio, size.height * ratio));
    Ref<UIImage> thumbnail = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return thumbnail;
}

}  // namespace UIImage_Thumbnail
