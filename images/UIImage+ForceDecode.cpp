#include "images/UIImage+ForceDecode.h"

#include "graphics/CGContext.h"

namespace UIImage_ForceDecode {

Ref<UIImage> decodedImageWithImage(const Ref<UIImage>& image) {
    if (!image) return nullptr;
    if (!image->images().empty()) return image;
    CGImageRef bitmap = image->CGImage();
    if (!bitmap) return image;

    std::size_t width = CGImageGetWidth(bitmap);
    std::size_t height = CGImageGetHeight(bitmap);
    std::size_t bitsPerComponent = CGImageGetBitsPerComponent(bitmap);
    CGBitmapInfo bitmapInfo = CGImageGetBitmapInfo(bitmap);
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    std::size_t components = CGColorSpaceGetNumberOfComponents(space);

    CGBitmapInfo alpha = bitmapInfo & kCGBitmapAlphaInfoMask;
    bool opaque = alpha == kCGImageAlphaNone || alpha == kCGImageAlphaNoneSkipLast ||
                  alpha == kCGImageAlphaNoneSkipFirst;
    if (alpha == kCGImageAlphaNone && components > 1) {
        bitmapInfo = (bitmapInfo & ~kCGBitmapAlphaInfoMask) | kCGImageAlphaNoneSkipFirst;
    } else if (!opaque && components == 3) {
        bitmapInfo = (bitmapInfo & ~kCGBitmapAlphaInfoMask) | kCGImageAlphaPremultipliedFirst;
    }

    // A bitmap already in exactly the layout the redraw would produce (what the platform's
    // decoders hand out) is decompressed as it is: redrawing would only copy it.
    bool displayLayout = CGImageGetBitmapInfo(bitmap) == bitmapInfo && bitsPerComponent == 8 &&
                         CGImageGetBitsPerPixel(bitmap) == 32 && CGImageGetBytesPerRow(bitmap) == width * 4 &&
                         (bitmapInfo & kCGBitmapByteOrderMask) == kCGBitmapByteOrder32Little &&
                         CGColorSpaceGetModel(CGImageGetColorSpace(bitmap)) == kCGColorSpaceModelRGB &&
                         (alpha == kCGImageAlphaPremultipliedFirst ||
                          (alpha == kCGImageAlphaNoneSkipFirst && bitmap->skippedBytesOpaque()));
    if (displayLayout) return image;

    CGContextRef context =
        CGBitmapContextCreate(nullptr, width, height, bitsPerComponent, 0, space, bitmapInfo);
    if (!context) return image;
    CGContextDrawImage(context, CGRectMake(0, 0, width, height), bitmap);
    CGImageRef decoded = CGBitmapContextCreateImage(context);
    if (!decoded) return image;
    return UIImage::imageWithCGImage(decoded, image->scale(), image->imageOrientation());
}

}  // namespace UIImage_ForceDecode
