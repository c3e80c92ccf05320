#include "gpu/core/GPXRawDataOutput.h"

#include <algorithm>
#include <cmath>

#include "foundation/NSLog.h"
#include "gpu/core/GPXAssert.h"
#include "gpu/core/GPXContext.h"
#include "gpu/core/GPXFilter.h"
#include "gpu/core/GPXFramebufferCache.h"

GPXRawDataOutput::GPXRawDataOutput(CGSize newImageSize, bool resultsInBGRAFormat)
    : imageSize_(newImageSize), outputBGRA_(resultsInBGRAFormat) {
    performSyncOnSharedContextQueue([this] {
        GPXContext::useImageProcessingContext();
        // The read-back gives RGBA and a pixel buffer holds BGRA: swap only when the wanted order
        // differs from what the read gives.
        swizzling_ = outputBGRA_ != GPXContext::supportsFastTextureUpload();
        dataProgram_ = GPXContext::sharedImageProcessingContext()->programForVertexShaderString(
            kGPXDefaultVertexShaderString,
            swizzling_ ? kGPXColorSwizzlingFragmentShaderString : kGPXPassthroughFragmentShaderString);
        if (!dataProgram_->initialized()) {
            dataProgram_->addAttribute("position");
            dataProgram_->addAttribute("inputTextureCoordinate");
            if (!dataProgram_->link()) {
                NSLogLine("Program link log: " + dataProgram_->programLog().value_or("(null)"));
                NSLogLine("Fragment shader compile log: " +
                          dataProgram_->fragmentShaderLog().value_or("(null)"));
                NSLogLine("Vertex shader compile log: " + dataProgram_->vertexShaderLog().value_or("(null)"));
                dataProgram_.reset();
                detail::gpxAssertionFailure("Filter shader link failed");
                return;
            }
        }
        dataPositionAttribute_ = static_cast<GLint>(dataProgram_->attributeIndex("position"));
        dataTextureCoordinateAttribute_ =
            static_cast<GLint>(dataProgram_->attributeIndex("inputTextureCoordinate"));
        dataInputTextureUniform_ = static_cast<GLint>(dataProgram_->uniformIndex("inputImageTexture"));
    });
}

GPXRawDataOutput::~GPXRawDataOutput() = default;

void GPXRawDataOutput::renderAtInternalSize() {
    if (!dataProgram_ || imageSize_.width < 1 || imageSize_.height < 1) return;
    GPXContext::setActiveShaderProgram(dataProgram_);
    // The previous render is dropped without an unlock, so it never returns to the cache; it is
    // freed when nothing holds it.
    outputFramebuffer_ = GPXContext::sharedFramebufferCache()->fetchFramebufferForSize(imageSize_, false);
    outputFramebuffer_->activateFramebuffer();
    if (lockNextFramebuffer_) {
        retainedFramebuffer_ = outputFramebuffer_;
        retainedFramebuffer_->lock();
        retainedFramebuffer_->lockForReading();
        lockNextFramebuffer_ = false;
    }
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (!firstInputFramebuffer_) return;

    glActiveTexture(GL_TEXTURE4);
    glBindTexture(GL_TEXTURE_2D, firstInputFramebuffer_->texture());
    glUniform1i(dataInputTextureUniform_, 4);
    glVertexAttribPointer(static_cast<GLuint>(dataPositionAttribute_), 2, GL_FLOAT, GL_FALSE, 0,
                          GPXFilter::imageVertices());
    glVertexAttribPointer(static_cast<GLuint>(dataTextureCoordinateAttribute_), 2, GL_FLOAT, GL_FALSE, 0,
                          GPXFilter::textureCoordinatesForRotation(rotationNone));
    glEnableVertexAttribArray(static_cast<GLuint>(dataPositionAttribute_));
    glEnableVertexAttribArray(static_cast<GLuint>(dataTextureCoordinateAttribute_));
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    firstInputFramebuffer_->unlock();
}

GLubyte* GPXRawDataOutput::rawBytesForImage() {
    GLubyte* bytes = nullptr;
    performSyncOnSharedContextQueue([&] {
        const auto width = static_cast<std::size_t>(std::max(imageSize_.width, 0.0));
        const auto height = static_cast<std::size_t>(std::max(imageSize_.height, 0.0));
        if (rawBytes_.empty()) {
            rawBytes_.assign(width * height * 4, 0);
            hasReadFromTheCurrentFrame_ = false;
        }
        if (!hasReadFromTheCurrentFrame_ && !rawBytes_.empty()) {
            GPXContext::useImageProcessingContext();
            renderAtInternalSize();
            glReadPixels(0, 0, static_cast<GLsizei>(width), static_cast<GLsizei>(height), GL_RGBA,
                         GL_UNSIGNED_BYTE, rawBytes_.data());
            hasReadFromTheCurrentFrame_ = true;
        }
        bytes = rawBytes_.empty() ? nullptr : rawBytes_.data();
    });
    return bytes;
}

GPUByteColorVector GPXRawDataOutput::colorAtLocation(CGPoint locationInImage) {
    const GLubyte* bytes = rawBytesForImage();
    const CGSize size = imageSize();
    if (!bytes) return {};
    const double width = std::floor(size.width), height = std::floor(size.height);
    // Rows are bottom-up: pixel row y from the top is row height - 1 - y.
    const double px = std::min(std::max(std::floor(locationInImage.x), 0.0), width - 1);
    const double py = std::min(std::max(height - 1 - std::floor(locationInImage.y), 0.0), height - 1);
    const auto offset = static_cast<std::size_t>(px + width * py) * 4;
    if (outputBGRA_) return {bytes[offset + 2], bytes[offset + 1], bytes[offset], bytes[offset + 3]};
    return {bytes[offset], bytes[offset + 1], bytes[offset + 2], bytes[offset + 3]};
}

std::size_t GPXRawDataOutput::bytesPerRowInOutput() {
    std::size_t bytesPerRow = 0;
    performSyncOnSharedContextQueue([&] {
        if (retainedFramebuffer_) bytesPerRow = retainedFramebuffer_->bytesPerRow();
    });
    return bytesPerRow;
}

CGSize GPXRawDataOutput::imageSize() const {
    CGSize size;
    performSyncOnSharedContextQueue([&] { size = imageSize_; });
    return size;
}

void GPXRawDataOutput::setImageSize(CGSize newImageSize) {
    performSyncOnSharedContextQueue([&] {
        imageSize_ = newImageSize;
        rawBytes_.clear();
        rawBytes_.shrink_to_fit();
    });
}

void GPXRawDataOutput::lockFramebufferForReading() {
    performSyncOnSharedContextQueue([&] { lockNextFramebuffer_ = true; });
}

void GPXRawDataOutput::unlockFramebufferAfterReading() {
    performSyncOnSharedContextQueue([&] {
        if (!retainedFramebuffer_) return;
        retainedFramebuffer_->unlockAfterReading();
        retainedFramebuffer_->unlock();
        retainedFramebuffer_.reset();
    });
}

void GPXRawDataOutput::newFrameReadyAtTime(CMTime, long) {
    NewFrameAvailableBlock block;
    performSyncOnSharedContextQueue([&] {
        hasReadFromTheCurrentFrame_ = false;
        block = newFrameAvailableBlock_;
    });
    if (block) block();
}

void GPXRawDataOutput::setInputFramebuffer(const Ref<GPXFramebuffer>& newInputFramebuffer, long) {
    performSyncOnSharedContextQueue([&] {
        firstInputFramebuffer_ = newInputFramebuffer;
        if (firstInputFramebuffer_) firstInputFramebuffer_->lock();
    });
}

void GPXRawDataOutput::setInputRotation(GPURotationMode newInputRotation, long) {
    performSyncOnSharedContextQueue([&] { inputRotation_ = newInputRotation; });
}

GPXRawDataOutput::NewFrameAvailableBlock GPXRawDataOutput::newFrameAvailableBlock() const {
    NewFrameAvailableBlock block;
    performSyncOnSharedContextQueue([&] { block = newFrameAvailableBlock_; });
    return block;
}

void GPXRawDataOutput::setNewFrameAvailableBlock(NewFrameAvailableBlock block) {
    performSyncOnSharedContextQueue([&] { newFrameAvailableBlock_ = std::move(block); });
}
