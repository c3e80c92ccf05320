#include "gpu/core/GPXFramebuffer.h"

#include "gpu/core/GPXAssert.h"
#include "gpu/core/GPXContext.h"
#include "gpu/core/GPXFramebufferCache.h"

GPXFramebuffer::GPXFramebuffer(CGSize framebufferSize, GPUTextureOptions textureOptions, bool onlyTexture)
    : size_(framebufferSize),
      textureOptions_(textureOptions),
      missingFramebuffer_(onlyTexture),
      ownsTexture_(true) {
    if (onlyTexture) {
        performSyncOnSharedContextQueue([this] {
            GPXContext::useImageProcessingContext();
            generateTexture();
        });
    } else {
        generateFramebuffer();
    }
}

GPXFramebuffer::GPXFramebuffer(CGSize framebufferSize, GLuint overriddenTexture)
    : size_(framebufferSize),
      textureOptions_(kGPUTextureOptionsDefault),
      missingFramebuffer_(false),
      ownsTexture_(false),
      texture_(overriddenTexture),
      referenceCountingDisabled_(true) {}

GPXFramebuffer::GPXFramebuffer(CGSize framebufferSize)
    : GPXFramebuffer(framebufferSize, kGPUTextureOptionsDefault, false) {}

GPXFramebuffer::~GPXFramebuffer() {
    destroyFramebuffer();
}

void GPXFramebuffer::generateTexture() {
    glActiveTexture(GL_TEXTURE1);
    glGenTextures(1, &texture_);
    glBindTexture(GL_TEXTURE_2D, texture_);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, static_cast<GLint>(textureOptions_.minFilter));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, static_cast<GLint>(textureOptions_.magFilter));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, static_cast<GLint>(textureOptions_.wrapS));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, static_cast<GLint>(textureOptions_.wrapT));
}

void GPXFramebuffer::generateFramebuffer() {
    performSyncOnSharedContextQueue([this] {
        GPXContext::useImageProcessingContext();
        glGenFramebuffers(1, &framebuffer_);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
        // No pixel-buffer-backed textures here: the texture gets plain storage.
        generateTexture();
        glBindTexture(GL_TEXTURE_2D, texture_);
        glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(textureOptions_.internalFormat),
                     static_cast<GLsizei>(size_.width), static_cast<GLsizei>(size_.height), 0,
                     textureOptions_.format, textureOptions_.type, nullptr);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture_, 0);
        GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
        if (status != GL_FRAMEBUFFER_COMPLETE) {
            detail::gpxAssertionFailure("Incomplete filter FBO: " + std::to_string(status));
        }
        glBindTexture(GL_TEXTURE_2D, 0);
    });
}

void GPXFramebuffer::destroyFramebuffer() {
    const GLuint framebuffer = framebuffer_;
    const GLuint texture = ownsTexture_ ? texture_ : 0;
    if (!framebuffer && !texture) return;
    framebuffer_ = 0;
    // Nothing waits for the deletion: the last owner may be a queue the shared queue is itself
    // waiting for (a movie writer holding up its producer), and a wait here would close the
    // circle. Only the names go along, and the queue's order puts the deletion before any later
    // work there. On the shared queue it happens at once.
    performAsyncOnSharedContextQueue([=] {
        GPXContext::useImageProcessingContext();
        if (framebuffer) glDeleteFramebuffers(1, &framebuffer);
        if (texture) glDeleteTextures(1, &texture);
    });
}

void GPXFramebuffer::activateFramebuffer() {
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glViewport(0, 0, static_cast<GLsizei>(size_.width), static_cast<GLsizei>(size_.height));
}

void GPXFramebuffer::lock() {
    std::lock_guard guard(lockMutex_);
    if (referenceCountingDisabled_) return;
    ++framebufferReferenceCount_;
}

void GPXFramebuffer::unlock() {
    bool overReleased = false, reachedZero = false;
    {
        std::lock_guard guard(lockMutex_);
        if (referenceCountingDisabled_) return;
        if (framebufferReferenceCount_ == 0) {
            overReleased = true;
        } else {
            reachedZero = --framebufferReferenceCount_ == 0;
        }
    }
    if (overReleased) {
        detail::gpxAssertionFailure(
            "Tried to overrelease a framebuffer, did you forget to call -useNextFrameForImageCapture before "
            "using "
            "-imageFromCurrentFramebuffer?");
    } else if (reachedZero) {
        GPXContext::sharedFramebufferCache()->returnFramebufferToCache(selfAs<GPXFramebuffer>());
    }
}

void GPXFramebuffer::clearAllLocks() {
    std::lock_guard guard(lockMutex_);
    framebufferReferenceCount_ = 0;
}

void GPXFramebuffer::disableReferenceCounting() {
    std::lock_guard guard(lockMutex_);
    referenceCountingDisabled_ = true;
}

void GPXFramebuffer::enableReferenceCounting() {
    std::lock_guard guard(lockMutex_);
    referenceCountingDisabled_ = false;
}

std::uint64_t GPXFramebuffer::framebufferReferenceCount() const {
    std::lock_guard guard(lockMutex_);
    return framebufferReferenceCount_;
}

bool GPXFramebuffer::referenceCountingDisabled() const {
    std::lock_guard guard(lockMutex_);
    return referenceCountingDisabled_;
}

CGImageRef GPXFramebuffer::newCGImageFromFramebufferContents() {
    if (textureOptions_.internalFormat != GL_RGBA) {
        detail::gpxAssertionFailure(
            "For conversion to a CGImage the output texture format for this filter must be GL_RGBA.");
        return nullptr;
    }
    if (textureOptions_.type != GL_UNSIGNED_BYTE) {
        detail::gpxAssertionFailure(
            "For conversion to a CGImage the type of the output texture of this filter must be "
            "GL_UNSIGNED_BYTE.");
        return nullptr;
    }
    const auto width = static_cast<GLsizei>(size_.width);
    const auto height = static_cast<GLsizei>(size_.height);
    if (width <= 0 || height <= 0) return nullptr;
    NSData pixels =
        NSData::dataWithLength(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    performSyncOnSharedContextQueue([&] {
        GPXContext::useImageProcessingContext();
        activateFramebuffer();
        glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.mutableBytes());
        // The bytes are copied out: the capture's lock goes at once.
        unlock();
    });
    return CGImageCreate(static_cast<std::size_t>(width), static_cast<std::size_t>(height), 8, 32,
                         static_cast<std::size_t>(width) * 4, CGColorSpaceCreateDeviceRGB(),
                         kCGBitmapByteOrderDefault | kCGImageAlphaLast,
                         CGDataProviderCreateWithData(std::move(pixels)), nullptr, false,
                         kCGRenderingIntentDefault);
}

void GPXFramebuffer::restoreRenderTarget() {
    unlockAfterReading();
}

void GPXFramebuffer::lockForReading() {}

void GPXFramebuffer::unlockAfterReading() {}

std::size_t GPXFramebuffer::bytesPerRow() const {
    return static_cast<std::size_t>(size_.width) * 4;
}

GLubyte* GPXFramebuffer::byteBuffer() {
    return nullptr;
}
