#include "gpu/media/GPXUIElement.h"

#include "dispatch/Clock.h"
#include "foundation/NSData.h"
#include "gpu/core/GPXContext.h"
#include "gpu/core/GPXFramebufferCache.h"
#include "graphics/CGContext.h"

GPXUIElement::GPXUIElement(Ref<UIView> view)
    : view_(std::move(view)), layer_(view_ ? view_->layer() : nullptr) {}

GPXUIElement::GPXUIElement(Ref<CALayer> layer) : layer_(std::move(layer)) {}

void GPXUIElement::didInit() {
    update();
}

CGSize GPXUIElement::layerSizeInPixels() const {
    if (!layer_) return CGSizeZero;
    const CGSize pointSize = layer_->bounds().size;
    return CGSizeMake(layer_->contentsScale() * pointSize.width, layer_->contentsScale() * pointSize.height);
}

void GPXUIElement::update() {
    updateWithTimestamp(kCMTimeIndefinite);
}

void GPXUIElement::updateUsingCurrentTime() {
    const double now = PlatformClock::now();
    if (CMTIME_IS_INVALID(time_)) {
        time_ = CMTimeMakeWithSeconds(0, 600);
    } else {
        time_ = CMTimeAdd(time_, CMTimeMakeWithSeconds(now - actualTimeOfLastUpdate_, 600));
    }
    actualTimeOfLastUpdate_ = now;
    updateWithTimestamp(time_);
}

CMTime GPXUIElement::time() const {
    return time_;
}

void GPXUIElement::updateWithTimestamp(CMTime frameTime) {
    if (!layer_) return;
    const CGSize layerPixelSize = layerSizeInPixels();
    const auto width = static_cast<std::size_t>(layerPixelSize.width);
    const auto height = static_cast<std::size_t>(layerPixelSize.height);
    if (width == 0 || height == 0) return;  // nothing to draw, and a texture of no size is no frame
    previousLayerSizeInPixels_ = layerPixelSize;

    NSData imageData = NSData::dataWithLength(width * height * 4);
    {
        auto imageContext = CGBitmapContextCreate(
            imageData.mutableBytes(), width, height, 8, width * 4, CGColorSpaceCreateDeviceRGB(),
            kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little);
        if (!imageContext) return;
        CGContextTranslateCTM(imageContext, 0.0, layerPixelSize.height);
        CGContextScaleCTM(imageContext, layer_->contentsScale(), -layer_->contentsScale());
        layer_->renderInContext(imageContext);
    }

    performSyncOnSharedContextQueue([&] {
        GPXContext::useImageProcessingContext();
        outputFramebuffer_ = GPXContext::sharedFramebufferCache()->fetchFramebufferForSize(
            CGSizeMake(width, height), outputTextureOptions_, true);
        glBindTexture(GL_TEXTURE_2D, outputFramebuffer_->texture());
        // BGRA bytes into an RGBA texture, whatever the texture options say.
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, static_cast<GLsizei>(width), static_cast<GLsizei>(height), 0,
                     GL_BGRA, GL_UNSIGNED_BYTE, imageData.bytes());
        glBindTexture(GL_TEXTURE_2D, 0);

        const auto list = targets_;
        const auto indices = targetTextureIndices_;
        const auto ignored = targetToIgnoreForUpdates_.lock();
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (list[i] == ignored) continue;
            list[i]->setInputSize(layerPixelSize, indices[i]);
            list[i]->setInputFramebuffer(outputFramebuffer_, indices[i]);
            list[i]->newFrameReadyAtTime(frameTime, indices[i]);
        }
        outputFramebuffer_->unlock();
    });
}
