#include "gpu/core/GPXTextureOutput.h"

#include "gpu/core/GPXFramebuffer.h"

void GPXTextureOutput::doneWithTexture() {
    Ref<GPXFramebuffer> framebuffer;
    {
        std::lock_guard lock(mutex_);
        framebuffer = firstInputFramebuffer_;
    }
    if (framebuffer) framebuffer->unlock();
}

Ref<GPXTextureOutputDelegate> GPXTextureOutput::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

void GPXTextureOutput::setDelegate(const Ref<GPXTextureOutputDelegate>& delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = delegate;
}

void GPXTextureOutput::newFrameReadyAtTime(CMTime, long) {
    if (auto target = delegate()) target->newFrameReadyFromTextureOutput(selfAs<GPXTextureOutput>());
}

void GPXTextureOutput::setInputFramebuffer(const Ref<GPXFramebuffer>& newInputFramebuffer, long) {
    {
        std::lock_guard lock(mutex_);
        firstInputFramebuffer_ = newInputFramebuffer;
    }
    if (newInputFramebuffer) {
        newInputFramebuffer->lock();
        texture_.store(newInputFramebuffer->texture());
    }
}
