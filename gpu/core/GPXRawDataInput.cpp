#include "gpu/core/GPXRawDataInput.h"

#include "gpu/core/GPXContext.h"
#include "gpu/core/GPXFramebufferCache.h"

GPXRawDataInput::GPXRawDataInput(const void* bytesToUpload, CGSize imageSize, GLenum pixelFormat,
                                 GLenum pixelType)
    : uploadedImageSize_(imageSize),
      dataUpdateSemaphore_(dispatch_semaphore_create(1)),
      pixelFormat_(pixelFormat),
      pixelType_(pixelType) {
    uploadBytes(bytesToUpload);
}

void GPXRawDataInput::uploadBytes(const void* bytesToUpload) {
    const CGSize size = outputImageSize();
    // GL work belongs on the queue, where the context is current; the caller waits for it.
    performSyncOnSharedContextQueue([&] {
        GPXContext::useImageProcessingContext();
        outputFramebuffer_ =
            GPXContext::sharedFramebufferCache()->fetchFramebufferForSize(size, outputTextureOptions_, true);
        glBindTexture(GL_TEXTURE_2D, outputFramebuffer_->texture());
        const GLenum format = pixelFormat();
        // OpenGL ES wants the texture's format to be the bytes' own, except that BGRA bytes go
        // into an RGBA texture; an RGBA texture for grey bytes would be refused and stay empty.
        const bool ownFormat =
            format == GL_RGB || format == GL_LUMINANCE || format == GL_LUMINANCE_ALPHA || format == GL_ALPHA;
        glTexImage2D(GL_TEXTURE_2D, 0, ownFormat ? format : GL_RGBA, static_cast<GLsizei>(size.width),
                     static_cast<GLsizei>(size.height), 0, format, pixelType(), bytesToUpload);
    });
}

void GPXRawDataInput::updateDataFromBytes(const void* bytesToUpload, CGSize imageSize) {
    {
        std::lock_guard lock(sizeMutex_);
        uploadedImageSize_ = imageSize;
    }
    uploadBytes(bytesToUpload);
}

void GPXRawDataInput::processData() {
    process(kCMTimeInvalid);
}

void GPXRawDataInput::processDataForTimestamp(CMTime frameTime) {
    process(frameTime);
}

void GPXRawDataInput::process(CMTime frameTime) {
    if (dispatch_semaphore_wait(dataUpdateSemaphore_, DISPATCH_TIME_NOW) != 0) return;
    performAsyncOnSharedContextQueue([this, keepAlive = self(), frameTime] {
        const CGSize size = outputImageSize();
        const auto list = targets_;
        const auto indices = targetTextureIndices_;
        for (std::size_t i = 0; i < list.size(); ++i) {
            list[i]->setInputSize(size, indices[i]);
            list[i]->setInputFramebuffer(outputFramebuffer_, indices[i]);
            list[i]->newFrameReadyAtTime(frameTime, indices[i]);
        }
        dispatch_semaphore_signal(dataUpdateSemaphore_);
    });
}

CGSize GPXRawDataInput::outputImageSize() const {
    std::lock_guard lock(sizeMutex_);
    return uploadedImageSize_;
}
