#include "gpu/core/GPXBuffer.h"

#include "gpu/core/GPXContext.h"

GPXBuffer::GPXBuffer() : GPXFilter(kGPXPassthroughFragmentShaderString) {}

GPXBuffer::~GPXBuffer() {
    for (auto& framebuffer : bufferedFramebuffers_) framebuffer->unlock();
}

void GPXBuffer::newFrameReadyAtTime(CMTime frameTime, long) {
    performSyncOnSharedContextQueue([&] {
        if (!firstInputFramebuffer_) return;
        if (bufferedFramebuffers_.size() < bufferSize_) {
            // Still filling: the input goes straight on, with a lock of its own for the hand-off.
            outputFramebuffer_ = firstInputFramebuffer_;
            firstInputFramebuffer_->lock();
        } else {
            outputFramebuffer_ = bufferedFramebuffers_.front();
            bufferedFramebuffers_.pop_front();
        }
        // The input's lock becomes the list's.
        bufferedFramebuffers_.push_back(firstInputFramebuffer_);

        const auto list = targets_;
        const auto indices = targetTextureIndices_;
        const auto ignored = targetToIgnoreForUpdates_.lock();
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (list[i] != ignored) list[i]->setInputRotation(inputRotation_, indices[i]);
        }
        informTargetsAboutNewFrameAtTime(frameTime);
    });
}

void GPXBuffer::setBufferSize(std::uint64_t newValue) {
    performSyncOnSharedContextQueue([&] {
        if (newValue == 0) return;
        if (newValue < bufferSize_) {
            // Only what the list holds can go, however much the size shrinks.
            std::uint64_t toRemove = bufferSize_ - newValue;
            while (toRemove-- > 0 && !bufferedFramebuffers_.empty()) {
                bufferedFramebuffers_.back()->unlock();
                bufferedFramebuffers_.pop_back();
            }
        }
        bufferSize_ = newValue;
    });
}

std::uint64_t GPXBuffer::bufferSize() {
    std::uint64_t value = 0;
    performSyncOnSharedContextQueue([&] { value = bufferSize_; });
    return value;
}

std::size_t GPXBuffer::bufferedFramebufferCount() {
    std::size_t count = 0;
    performSyncOnSharedContextQueue([&] { count = bufferedFramebuffers_.size(); });
    return count;
}
