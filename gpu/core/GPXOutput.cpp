#include "gpu/core/GPXOutput.h"

#include <algorithm>

#include "gpu/core/GPXContext.h"
#include "gpu/core/GPXPicture.h"

GPXOutput::GPXOutput() = default;

GPXOutput::~GPXOutput() {
    if (targets_.empty() && !outputFramebuffer_) return;
    performSyncOnSharedContextQueue([this] {
        removeAllTargetsOnQueue();
        outputFramebuffer_.reset();
    });
}

void GPXOutput::setInputFramebufferForTarget(const Ref<GPXInput>& target, long inputTextureIndex) {
    if (target) target->setInputFramebuffer(framebufferForOutput(), inputTextureIndex);
}

Ref<GPXFramebuffer> GPXOutput::framebufferForOutput() {
    Ref<GPXFramebuffer> framebuffer;
    performSyncOnSharedContextQueue([&] { framebuffer = outputFramebuffer_; });
    return framebuffer;
}

void GPXOutput::removeOutputFramebuffer() {
    performSyncOnSharedContextQueue([&] { outputFramebuffer_.reset(); });
}

void GPXOutput::notifyTargetsAboutNewOutputTexture() {
    performSyncOnSharedContextQueue([&] {
        auto list = targets_;
        auto indices = targetTextureIndices_;
        for (std::size_t i = 0; i < list.size(); ++i) setInputFramebufferForTarget(list[i], indices[i]);
    });
}

std::vector<Ref<GPXInput>> GPXOutput::targets() {
    std::vector<Ref<GPXInput>> copy;
    performSyncOnSharedContextQueue([&] { copy = targets_; });
    return copy;
}

void GPXOutput::addTarget(const Ref<GPXInput>& newTarget) {
    if (!newTarget) return;
    long nextAvailableTextureIndex = newTarget->nextAvailableTextureIndex();
    addTargetAtTextureLocation(newTarget, nextAvailableTextureIndex);
    if (newTarget->shouldIgnoreUpdatesToThisTarget()) setTargetToIgnoreForUpdates(newTarget);
}

void GPXOutput::addTargetAtTextureLocation(const Ref<GPXInput>& newTarget, long textureLocation) {
    if (!newTarget) return;
    performSyncOnSharedContextQueue([&] {
        if (std::find(targets_.begin(), targets_.end(), newTarget) != targets_.end()) return;
        cachedMaximumOutputSize_ = CGSizeZero;
        setInputFramebufferForTarget(newTarget, textureLocation);
        targets_.push_back(newTarget);
        targetTextureIndices_.push_back(textureLocation);
        allTargetsWantMonochromeData_ = allTargetsWantMonochromeData_ && newTarget->wantsMonochromeInput();
    });
}

void GPXOutput::removeTarget(const Ref<GPXInput>& targetToRemove) {
    if (!targetToRemove) return;
    performSyncOnSharedContextQueue([&] {
        auto found = std::find(targets_.begin(), targets_.end(), targetToRemove);
        if (found == targets_.end()) return;
        if (targetToIgnoreForUpdates_.lock() == targetToRemove) targetToIgnoreForUpdates_.reset();
        cachedMaximumOutputSize_ = CGSizeZero;
        auto position = static_cast<std::size_t>(found - targets_.begin());
        long textureIndexOfTarget = targetTextureIndices_[position];
        targetToRemove->setInputSize(CGSizeZero, textureIndexOfTarget);
        targetToRemove->setInputRotation(rotationNone, textureIndexOfTarget);
        targetTextureIndices_.erase(targetTextureIndices_.begin() + static_cast<long>(position));
        targets_.erase(found);
        targetToRemove->endProcessing();
    });
}

void GPXOutput::removeAllTargets() {
    performSyncOnSharedContextQueue([&] { removeAllTargetsOnQueue(); });
}

void GPXOutput::removeAllTargetsOnQueue() {
    cachedMaximumOutputSize_ = CGSizeZero;
    auto list = std::move(targets_);
    auto indices = std::move(targetTextureIndices_);
    targets_.clear();
    targetTextureIndices_.clear();
    for (std::size_t i = 0; i < list.size(); ++i) {
        list[i]->setInputSize(CGSizeZero, indices[i]);
        list[i]->setInputRotation(rotationNone, indices[i]);
    }
    allTargetsWantMonochromeData_ = true;
}

void GPXOutput::forceProcessingAtSize(CGSize) {}

void GPXOutput::forceProcessingAtSizeRespectingAspectRatio(CGSize) {}

void GPXOutput::useNextFrameForImageCapture() {}

CGImageRef GPXOutput::newCGImageFromCurrentlyProcessedOutput() {
    return nullptr;
}

CGImageRef GPXOutput::newCGImageByFilteringCGImage(const CGImageRef& imageToFilter) {
    auto asInput = std::dynamic_pointer_cast<GPXInput>(self());
    if (!asInput || !imageToFilter) return nullptr;
    auto stillImageSource = make<GPXPicture>(imageToFilter);
    useNextFrameForImageCapture();
    stillImageSource->addTarget(asInput);
    stillImageSource->processImage();
    CGImageRef processedImage = newCGImageFromCurrentlyProcessedOutput();
    stillImageSource->removeTarget(asInput);
    return processedImage;
}

CGImageRef GPXOutput::newCGImageByFilteringImage(const Ref<UIImage>& imageToFilter) {
    return imageToFilter ? newCGImageByFilteringCGImage(imageToFilter->CGImage()) : nullptr;
}

Ref<UIImage> GPXOutput::imageFromCurrentFramebuffer() {
    // Portrait, as a device without an orientation sensor reports "unknown", which maps to up.
    return imageFromCurrentFramebufferWithOrientation(UIImageOrientation::Up);
}

Ref<UIImage> GPXOutput::imageFromCurrentFramebufferWithOrientation(UIImageOrientation imageOrientation) {
    CGImageRef cgImageFromBytes = newCGImageFromCurrentlyProcessedOutput();
    if (!cgImageFromBytes) return nullptr;
    return UIImage::imageWithCGImage(cgImageFromBytes, 1.0, imageOrientation);
}

Ref<UIImage> GPXOutput::imageByFilteringImage(const Ref<UIImage>& imageToFilter) {
    if (!imageToFilter) return nullptr;
    CGImageRef image = newCGImageByFilteringCGImage(imageToFilter->CGImage());
    if (!image) return nullptr;
    return UIImage::imageWithCGImage(image, imageToFilter->scale(), imageToFilter->imageOrientation());
}

GPUTextureOptions GPXOutput::outputTextureOptions() {
    GPUTextureOptions options;
    performSyncOnSharedContextQueue([&] { options = outputTextureOptions_; });
    return options;
}

void GPXOutput::setOutputTextureOptions(GPUTextureOptions options) {
    performSyncOnSharedContextQueue([&] {
        outputTextureOptions_ = options;
        if (outputFramebuffer_ && outputFramebuffer_->texture()) {
            GPXContext::useImageProcessingContext();
            glBindTexture(GL_TEXTURE_2D, outputFramebuffer_->texture());
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, static_cast<GLint>(options.wrapS));
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, static_cast<GLint>(options.wrapT));
            glBindTexture(GL_TEXTURE_2D, 0);
        }
    });
}

bool GPXOutput::shouldSmoothlyScaleOutput() {
    bool value = false;
    performSyncOnSharedContextQueue([&] { value = shouldSmoothlyScaleOutput_; });
    return value;
}

void GPXOutput::setShouldSmoothlyScaleOutput(bool value) {
    performSyncOnSharedContextQueue([&] { shouldSmoothlyScaleOutput_ = value; });
}

Ref<GPXInput> GPXOutput::targetToIgnoreForUpdates() {
    Ref<GPXInput> target;
    performSyncOnSharedContextQueue([&] { target = targetToIgnoreForUpdates_.lock(); });
    return target;
}

void GPXOutput::setTargetToIgnoreForUpdates(const Ref<GPXInput>& target) {
    performSyncOnSharedContextQueue([&] { targetToIgnoreForUpdates_ = target; });
}

GPXOutput::FrameProcessingCompletionBlock GPXOutput::frameProcessingCompletionBlock() {
    FrameProcessingCompletionBlock block;
    performSyncOnSharedContextQueue([&] { block = frameProcessingCompletionBlock_; });
    return block;
}

void GPXOutput::setFrameProcessingCompletionBlock(FrameProcessingCompletionBlock block) {
    performSyncOnSharedContextQueue([&] { frameProcessingCompletionBlock_ = std::move(block); });
}

CGSize GPXOutput::inputTextureSize() {
    CGSize size;
    performSyncOnSharedContextQueue([&] { size = inputTextureSize_; });
    return size;
}

bool GPXOutput::allTargetsWantMonochromeData() {
    bool value = true;
    performSyncOnSharedContextQueue([&] { value = allTargetsWantMonochromeData_; });
    return value;
}
