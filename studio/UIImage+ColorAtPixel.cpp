#include "studio/UIImage+ColorAtPixel.h"

#include <array>
#include <cmath>
#include <cstdint>

#include "graphics/CGContext.h"
#include "graphics/CGImage.h"

namespace UIImage_ColorAtPixel {

Ref<UIColor> colorAtPixel(const Ref<UIImage>& image, CGPoint point) {
    if (!image) return nullptr;
    CGSize size = image->size();
    if (!(point.x >= 0 && point.y >= 0 && point.x < size.width && point.y < size.height)) return nullptr;
    CGImageRef bitmap = image->CGImage();
    if (!bitmap) return nullptr;
    // A picture of scale 2 (the colour wheel) holds two pixels a point: the one under the point is
    // read, not a blend of the picture drawn down to one pixel a point.
    const double scale = image->scale() > 0 ? image->scale() : 1;
    const double x = std::trunc(point.x * scale);
    const double y = std::trunc(point.y * scale);
    const double width = static_cast<double>(bitmap->width());
    const double height = static_cast<double>(bitmap->height());
    if (x >= width || y >= height) return nullptr;

    std::array<std::uint8_t, 4> pixel{0, 0, 0, 0};
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    CGContextRef context = CGBitmapContextCreate(pixel.data(), 1, 1, 8, 4, space,
                                                 kCGImageAlphaPremultipliedLast | kCGBitmapByteOrder32Big);
    if (!context) return nullptr;
    CGContextSetBlendMode(context, kCGBlendModeCopy);
    // The context's one pixel sits at its bottom left; the picture is drawn upright, so row y from
    // the top lies at height - y - 1 from the bottom: shifting by y + 1 - height brings it to 0.
    CGContextTranslateCTM(context, -x, y + 1 - height);
    CGContextDrawImage(context, CGRect{{0, 0}, {width, height}}, bitmap);
    context.reset();
    return UIColor::colorWithRed(pixel[0] / 255.0, pixel[1] / 255.0, pixel[2] / 255.0, pixel[3] / 255.0);
}

}  // namespace UIImage_ColorAtPixel
