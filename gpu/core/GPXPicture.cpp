#include "gpu/core/GPXPicture.h"

#include <cmath>

#include "gpu/core/GPXAssert.h"
#include "gpu/core/GPXContext.h"
#include "gpu/core/GPXFilter.h"
#include "gpu/core/GPXFramebufferCache.h"
#include "graphics/CGContext.h"

namespace {

NSData contentsOfURL(const Ref<NSURL>& url) {
    if (!url || !url->isFileURL()) return NSData();
    return NSData::dataWithContentsOfFile(url->path()).value_or(NSData());
}

Ref<UIImage> imageFromData(const NSData& data) {
    return data.empty() ? nullptr : UIImage::imageWithData(data);
}

double nextPowerOfTwo(double value) {
    return std::pow(2.0, std::ceil(std::log2(value)));
}

// The upload format for a picture whose own bytes can go to the texture as they are; 0 when they
// cannot. Pictures in 16-bit byte orders are redrawn rather than uploaded unconverted.
GLenum directUploadFormat(const CGImage& image) {
    const CGBitmapInfo info = image.bitmapInfo();
    if (image.bytesPerRow() != image.width() * 4 || image.bitsPerPixel() != 32 ||
        image.bitsPerComponent() != 8 || (info & kCGBitmapFloatComponents) != 0) {
        return 0;
    }
    if (image.data().length() < image.bytesPerRow() * image.height()) return 0;
    const CGBitmapInfo byteOrder = info & kCGBitmapByteOrderMask;
    const CGImageAlphaInfo alpha = image.alphaInfo();
    const bool alphaFirst = alpha == kCGImageAlphaPremultipliedFirst || alpha == kCGImageAlphaFirst ||
                            alpha == kCGImageAlphaNoneSkipFirst;
    const bool alphaLast = alpha == kCGImageAlphaPremultipliedLast || alpha == kCGImageAlphaLast ||
                           alpha == kCGImageAlphaNoneSkipLast;
    if (byteOrder == kCGBitmapByteOrder32Little && alphaFirst) return GL_BGRA;
    if ((byteOrder == kCGBitmapByteOrderDefault || byteOrder == kCGBitmapByteOrder32Big) && alphaLast)
        return GL_RGBA;
    return 0;
}

}  // namespace

namespace detail {

NSData redrawPicture(const CGImageRef& image, std::size_t width, std::size_t height, CGBitmapInfo layout) {
    if (!image || width == 0 || height == 0) return NSData();
    NSData pixels = NSData::dataWithLength(width * height * 4);
    auto context = CGBitmapContextCreate(pixels.mutableBytes(), width, height, 8, width * 4,
                                         CGColorSpaceCreateDeviceRGB(), layout);
    if (!context) return NSData();
    CGContextDrawImage(context, CGRectMake(0, 0, static_cast<CGFloat>(width), static_cast<CGFloat>(height)),
                       image);
    context.reset();  // the drawing is in the buffer once the context is done with it
    return pixels;
}

}  // namespace detail

GPXPicture::GPXPicture(const Ref<NSURL>& url) : GPXPicture(contentsOfURL(url)) {}

GPXPicture::GPXPicture(const NSData& imageData) : GPXPicture(imageFromData(imageData)) {}

GPXPicture::GPXPicture(const Ref<UIImage>& newImageSource, bool smoothlyScaleOutput)
    : GPXPicture(newImageSource ? newImageSource->CGImage() : nullptr, smoothlyScaleOutput) {}

GPXPicture::GPXPicture(const CGImageRef& newImageSource, bool smoothlyScaleOutput)
    : imageUpdateSemaphore_(dispatch_semaphore_create(0)) {
    dispatch_semaphore_signal(imageUpdateSemaphore_);
    shouldSmoothlyScaleOutput_ = smoothlyScaleOutput;
    upload(newImageSource);
}

void GPXPicture::upload(const CGImageRef& image) {
    const std::size_t width = image ? image->width() : 0;
    const std::size_t height = image ? image->height() : 0;
    if (width == 0 || height == 0) {
        detail::gpxAssertionFailure(
            "Passed image must not be empty - it should be at least 1px tall and wide");
        return;
    }
    pixelSizeOfImage_ = CGSizeMake(static_cast<CGFloat>(width), static_cast<CGFloat>(height));
    bool redraw = false;
    const CGSize fitted = GPXContext::sizeThatFitsWithinATextureForSize(pixelSizeOfImage_);
    if (fitted != pixelSizeOfImage_) {
        pixelSizeOfImage_ = fitted;
        redraw = true;
    }
    textureSize_ = pixelSizeOfImage_;
    if (shouldSmoothlyScaleOutput_) {
        textureSize_ =
            CGSizeMake(nextPowerOfTwo(pixelSizeOfImage_.width), nextPowerOfTwo(pixelSizeOfImage_.height));
        redraw = true;
    }

    NSData bytes;
    GLenum format = GL_BGRA;
    if (!redraw) {
        format = directUploadFormat(*image);
        if (format != 0) {
            bytes = image->data();  // shared, not copied: image bytes never change
        } else {
            redraw = true;
        }
    }
    if (redraw) {
        format = GL_BGRA;
        bytes = detail::redrawPicture(image, static_cast<std::size_t>(textureSize_.width),
                                      static_cast<std::size_t>(textureSize_.height),
                                      kCGBitmapByteOrder32Little | kCGImageAlphaPremultipliedFirst);
        if (bytes.empty()) {
            detail::gpxAssertionFailure(
                "Passed image must not be empty - it should be at least 1px tall and wide");
            return;
        }
    }
    redrewImage_ = redraw;

    performSyncOnSharedContextQueue([&] {
        GPXContext::useImageProcessingContext();
        outputFramebuffer_ =
            GPXContext::sharedFramebufferCache()->fetchFramebufferForSize(textureSize_, true);
        outputFramebuffer_->disableReferenceCounting();
        glBindTexture(GL_TEXTURE_2D, outputFramebuffer_->texture());
        if (shouldSmoothlyScaleOutput_)
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, static_cast<GLsizei>(textureSize_.width),
                     static_cast<GLsizei>(textureSize_.height), 0, format, GL_UNSIGNED_BYTE, bytes.bytes());
        if (shouldSmoothlyScaleOutput_) glGenerateMipmap(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, 0);
    });
}

GPXPicture::~GPXPicture() {
    if (outputFramebuffer_) {
        outputFramebuffer_->enableReferenceCounting();
        outputFramebuffer_->unlock();
    }
}

void GPXPicture::removeAllTargets() {
    GPXOutput::removeAllTargets();
    hasProcessedImage_.store(false);
}

bool GPXPicture::processImage() {
    return processImageWithCompletionHandler(nullptr);
}

bool GPXPicture::processImageWithCompletionHandler(std::function<void()> completion) {
    // No wait for the queue here: a request made while a frame is in flight answers NO at once.
    hasProcessedImage_.store(true);
    if (!outputFramebuffer_) return false;  // nothing was uploaded (set once, at creation)
    if (dispatch_semaphore_wait(imageUpdateSemaphore_, DISPATCH_TIME_NOW) != 0) return false;
    performAsyncOnSharedContextQueue([this, keepAlive = self(), completion = std::move(completion)] {
        const auto list = targets_;
        const auto indices = targetTextureIndices_;
        for (std::size_t i = 0; i < list.size(); ++i) {
            list[i]->setCurrentlyReceivingMonochromeInput(false);
            list[i]->setInputSize(pixelSizeOfImage_, indices[i]);
            list[i]->setInputFramebuffer(outputFramebuffer_, indices[i]);
            list[i]->newFrameReadyAtTime(kCMTimeIndefinite, indices[i]);
        }
        dispatch_semaphore_signal(imageUpdateSemaphore_);
        if (completion) completion();
    });
    return true;
}

void GPXPicture::processImageUpToFilter(const Ref<GPXFilter>& finalFilterInChain,
                                        std::function<void(const Ref<UIImage>& processedImage)> block) {
    if (!finalFilterInChain) return;
    finalFilterInChain->useNextFrameForImageCapture();
    processImageWithCompletionHandler([finalFilterInChain, block = std::move(block)] {
        auto imageFromFilter = finalFilterInChain->imageFromCurrentFramebuffer();
        if (block) block(imageFromFilter);
    });
}

void GPXPicture::addTargetAtTextureLocation(const Ref<GPXInput>& newTarget, long textureLocation) {
    GPXOutput::addTargetAtTextureLocation(newTarget, textureLocation);
    if (!newTarget) return;
    performSyncOnSharedContextQueue([&] {
        if (hasProcessedImage_.load()) {
            newTarget->setInputSize(pixelSizeOfImage_, textureLocation);
            newTarget->newFrameReadyAtTime(kCMTimeIndefinite, textureLocation);
        }
    });
}

bool GPXPicture::hasProcessedImage() {
    return hasProcessedImage_.load();
}
