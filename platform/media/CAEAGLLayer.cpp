#include "media/CAEAGLLayer.h"

#include <cmath>
#include <cstring>

Dictionary CAEAGLLayer::drawableProperties() const {
    std::lock_guard lock(mutex_);
    return drawableProperties_;
}

void CAEAGLLayer::setDrawableProperties(Dictionary properties) {
    std::lock_guard lock(mutex_);
    drawableProperties_ = std::move(properties);
}

void CAEAGLLayer::setBounds(CGRect bounds) {
    CALayer::setBounds(bounds);
    updateDrawableSize();
}

void CAEAGLLayer::updateDrawableSize() {
    const CGRect b = bounds();
    const CGFloat scale = contentsScale();
    std::lock_guard lock(mutex_);
    pixelSize_ = CGSizeMake(std::floor(b.size.width * scale), std::floor(b.size.height * scale));
}

CGSize CAEAGLLayer::drawablePixelSize() const {
    std::lock_guard lock(mutex_);
    return pixelSize_;
}

void CAEAGLLayer::presentRenderbufferContents(GLsizei width, GLsizei height) {
    const auto w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
    std::vector<std::uint8_t> rows(w * h * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rows.data());
    // GL rows start at the bottom; pictures at the top.
    NSData flipped = NSData::dataWithLength(w * h * 4);
    for (std::size_t y = 0; y < h; ++y)
        std::memcpy(flipped.mutableBytes() + y * w * 4, &rows[(h - 1 - y) * w * 4], w * 4);
    CGImageRef image = CGImageCreate(w, h, 8, 32, w * 4, CGColorSpaceCreateDeviceRGB(),
                                     kCGBitmapByteOrderDefault | kCGImageAlphaPremultipliedLast,
                                     CGDataProviderCreateWithData(std::move(flipped)));
    std::lock_guard lock(mutex_);
    presented_ = image;
    ++presentCount_;
}

CGImageRef CAEAGLLayer::presentedImage() const {
    std::lock_guard lock(mutex_);
    return presented_;
}

std::uint64_t CAEAGLLayer::presentCount() const {
    std::lock_guard lock(mutex_);
    return presentCount_;
}

void CAEAGLLayer::renderOwnContent(const CGContextRef& context) {
    CALayer::renderOwnContent(context);
    CGImageRef image = presentedImage();
    if (!image) return;
    const CGRect rect = bounds();
    // Drawn upright: the context's y runs down, an image's up.
    CGContextSaveGState(context);
    CGContextTranslateCTM(context, 0, rect.origin.y * 2 + rect.size.height);
    CGContextScaleCTM(context, 1, -1);
    CGContextDrawImage(context, rect, image);
    CGContextRestoreGState(context);
}
