#include "gpu/core/GPXPicture+TextureSubimage.h"

#include "gpu/core/GPXAssert.h"
#include "gpu/core/GPXContext.h"

namespace GPXPicture_TextureSubimage {

namespace {
// Bytes ready for an RGBA upload: the picture's own when they are premultiplied (or opaque) RGBA
// in rows of width x 4 bytes, otherwise a premultiplied RGBA redraw.
NSData rgbaBytes(const CGImageRef& image) {
    const CGBitmapInfo byteOrder = image->bitmapInfo() & kCGBitmapByteOrderMask;
    const CGImageAlphaInfo alpha = image->alphaInfo();
    const bool lastLayout =
        (byteOrder == kCGBitmapByteOrderDefault || byteOrder == kCGBitmapByteOrder32Big) &&
        (alpha == kCGImageAlphaPremultipliedLast || alpha == kCGImageAlphaLast ||
         alpha == kCGImageAlphaNoneSkipLast);
    // Padded rows or other depths cannot go to the texture as they are, whatever the alpha says.
    if (lastLayout && image->bitsPerPixel() == 32 && image->bitsPerComponent() == 8 &&
        image->bytesPerRow() == image->width() * 4 &&
        image->data().length() >= image->width() * image->height() * 4) {
        return image->data();
    }
    return detail::redrawPicture(image, image->width(), image->height(),
                                 kCGBitmapByteOrderDefault | kCGImageAlphaPremultipliedLast);
}
}  // namespace

void replaceTextureWithSubimage(const Ref<GPXPicture>& picture, const Ref<UIImage>& subimage) {
    replaceTextureWithSubCGImage(picture, subimage ? subimage->CGImage() : nullptr);
}

void replaceTextureWithSubCGImage(const Ref<GPXPicture>& picture, const CGImageRef& subimageSource) {
    const CGFloat width = subimageSource ? static_cast<CGFloat>(subimageSource->width()) : 0;
    const CGFloat height = subimageSource ? static_cast<CGFloat>(subimageSource->height()) : 0;
    replaceTextureWithSubCGImage(picture, subimageSource, CGRectMake(0, 0, width, height));
}

void replaceTextureWithSubimage(const Ref<GPXPicture>& picture, const Ref<UIImage>& subimage,
                                CGRect subRect) {
    replaceTextureWithSubCGImage(picture, subimage ? subimage->CGImage() : nullptr, subRect);
}

void replaceTextureWithSubCGImage(const Ref<GPXPicture>& picture, const CGImageRef& subimageSource,
                                  CGRect subRect) {
    auto framebuffer = picture ? picture->framebufferForOutput() : nullptr;
    if (!framebuffer) {
        detail::gpxAssertionFailure("Picture must be initialized first before replacing subtexture");
        return;
    }
    if (framebuffer->textureOptions().internalFormat != GL_RGBA) {
        detail::gpxAssertionFailure("For replacing subtexture the internal texture format must be GL_RGBA.");
        return;
    }
    const std::size_t width = subimageSource ? subimageSource->width() : 0;
    const std::size_t height = subimageSource ? subimageSource->height() : 0;
    if (width == 0 || height == 0) {
        detail::gpxAssertionFailure(
            "Passed sub image must not be empty - it should be at least 1px tall and wide");
        return;
    }
    if (subRect.size.width <= 0 || subRect.size.height <= 0) {
        detail::gpxAssertionFailure("Passed sub rect must not be empty");
        return;
    }
    if (static_cast<CGFloat>(width) != subRect.size.width ||
        static_cast<CGFloat>(height) != subRect.size.height) {
        detail::gpxAssertionFailure("Subimage size must match the size of sub rect");
        return;
    }
    NSData bytes = rgbaBytes(subimageSource);
    if (bytes.empty()) return;

    // A frame in flight reads the texture on the queue; the replacement waits for it, and keeps
    // the next frame from starting until the texture is whole again. On the queue itself no frame
    // can be half done.
    const auto& semaphore = picture->imageUpdateSemaphore();
    const bool onQueue = GPXContext::sharedContextQueue().isCurrent();
    if (!onQueue) dispatch_semaphore_wait(semaphore, DISPATCH_TIME_FOREVER);
    const bool mipmaps = picture->shouldSmoothlyScaleOutput();
    performSyncOnSharedContextQueue([&] {
        GPXContext::useImageProcessingContext();
        framebuffer->disableReferenceCounting();
        glBindTexture(GL_TEXTURE_2D, framebuffer->texture());
        glTexSubImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(subRect.origin.x),
                        static_cast<GLint>(subRect.origin.y), static_cast<GLsizei>(width),
                        static_cast<GLsizei>(height), GL_RGBA, GL_UNSIGNED_BYTE, bytes.bytes());
        if (mipmaps) glGenerateMipmap(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, 0);
    });
    if (!onQueue) dispatch_semaphore_signal(semaphore);
}

}  // namespace GPXPicture_TextureSubimage
