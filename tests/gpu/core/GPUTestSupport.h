#pragma once
// Helpers for the GPU pipeline tests: pictures from bytes, a recording consumer, a scope that
// collects assertion reports, and bounded waits.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "dispatch/Dispatch.h"
#include "gpu/core/GPXAssert.h"
#include "gpu/core/GPXContext.h"
#include "gpu/core/GPXFramebuffer.h"
#include "gpu/core/GPXInput.h"
#include "graphics/CGImage.h"

namespace gputest {

inline constexpr std::int64_t kWaitNanoseconds = 10 * static_cast<std::int64_t>(NSEC_PER_SEC);

inline bool waitFor(const dispatch_semaphore_t& semaphore) {
    return dispatch_semaphore_wait(semaphore, dispatch_time(DISPATCH_TIME_NOW, kWaitNanoseconds)) == 0;
}

// Waits until everything queued on the shared context queue so far has run.
inline void drainSharedQueue() {
    performSyncOnSharedContextQueue([] {});
}

// Collects assertion reports while alive (instead of logging, or stopping a debug build).
class AssertionRecorder {
  public:
    AssertionRecorder() {
        previous_ = detail::setGPXAssertionHandler([this](const std::string& message) {
            std::lock_guard lock(mutex_);
            messages_.push_back(message);
        });
    }
    ~AssertionRecorder() { detail::setGPXAssertionHandler(previous_); }
    std::vector<std::string> messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    bool saw(const std::string& message) const {
        for (auto& m : messages()) {
            if (m == message) return true;
        }
        return false;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> messages_;
    detail::GPXAssertionHandler previous_;
};

using RGBA = std::array<std::uint8_t, 4>;

// A picture in the decoded layout (premultiplied BGRA, alpha first, little-endian) from RGBA
// pixels that are already premultiplied, row 0 at the top.
inline CGImageRef makePremultipliedImage(std::size_t width, std::size_t height,
                                         const std::vector<RGBA>& pixels) {
    NSData bytes = NSData::dataWithLength(width * height * 4);
    auto* p = bytes.mutableBytes();
    for (std::size_t i = 0; i < width * height; ++i) {
        p[i * 4 + 0] = pixels[i][2];
        p[i * 4 + 1] = pixels[i][1];
        p[i * 4 + 2] = pixels[i][0];
        p[i * 4 + 3] = pixels[i][3];
    }
    return CGImageCreate(width, height, 8, 32, width * 4, CGColorSpaceCreateDeviceRGB(),
                         kCGBitmapByteOrder32Little | kCGImageAlphaPremultipliedFirst,
                         CGDataProviderCreateWithData(std::move(bytes)));
}

inline CGImageRef makeSolidImage(std::size_t width, std::size_t height, RGBA colour) {
    return makePremultipliedImage(width, height, std::vector<RGBA>(width * height, colour));
}

// The pixel at (x, y) of an image with RGBA bytes in rows (alpha last, default byte order).
inline RGBA rgbaAt(const CGImageRef& image, std::size_t x, std::size_t y) {
    const auto* p = image->data().bytes() + y * image->bytesPerRow() + x * 4;
    return {p[0], p[1], p[2], p[3]};
}

inline ::testing::AssertionResult near(const RGBA& actual, const RGBA& expected, int tolerance = 1) {
    for (int i = 0; i < 4; ++i) {
        if (std::abs(int(actual[i]) - int(expected[i])) > tolerance) {
            return ::testing::AssertionFailure()
                   << "got (" << int(actual[0]) << ", " << int(actual[1]) << ", " << int(actual[2]) << ", "
                   << int(actual[3]) << ") expected (" << int(expected[0]) << ", " << int(expected[1]) << ", "
                   << int(expected[2]) << ", " << int(expected[3]) << ")";
        }
    }
    return ::testing::AssertionSuccess();
}

// A consumer that records what it is told, in order.
class RecordingInput : public NSObject, public GPXInput {
  public:
    struct Event {
        std::string call;
        long index = 0;
        CGSize size;
        GPURotationMode rotation = rotationNone;
        Ref<GPXFramebuffer> framebuffer;
        CMTime time;
    };

    explicit RecordingInput(long nextIndex = 0)
        : nextIndex_(nextIndex), frames_(dispatch_semaphore_create(0)) {}

    void newFrameReadyAtTime(CMTime frameTime, long textureIndex) override {
        Event e;
        e.call = "newFrame";
        e.index = textureIndex;
        e.time = frameTime;
        add(e);
        if (unlockOnFrame_) {
            std::lock_guard lock(mutex_);
            if (framebuffer_) framebuffer_->unlock();
        }
        dispatch_semaphore_signal(frames_);
    }
    void setInputFramebuffer(const Ref<GPXFramebuffer>& framebuffer, long textureIndex) override {
        Event e;
        e.call = "framebuffer";
        e.index = textureIndex;
        e.framebuffer = framebuffer;
        add(e);
        std::lock_guard lock(mutex_);
        framebuffer_ = framebuffer;
        if (framebuffer && lockInputs_) framebuffer->lock();
    }
    long nextAvailableTextureIndex() override { return nextIndex_; }
    void setInputSize(CGSize newSize, long textureIndex) override {
        Event e;
        e.call = "size";
        e.index = textureIndex;
        e.size = newSize;
        add(e);
    }
    void setInputRotation(GPURotationMode rotation, long textureIndex) override {
        Event e;
        e.call = "rotation";
        e.index = textureIndex;
        e.rotation = rotation;
        add(e);
    }
    CGSize maximumOutputSize() override { return CGSizeZero; }
    void endProcessing() override { add(named("end")); }
    bool shouldIgnoreUpdatesToThisTarget() override { return ignoreUpdates_; }
    bool enabled() override { return true; }
    bool wantsMonochromeInput() override { return wantsMonochrome_; }
    void setCurrentlyReceivingMonochromeInput(bool) override { add(named("monochrome")); }

    std::vector<Event> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<std::string> calls() const {
        std::vector<std::string> names;
        for (auto& e : events()) names.push_back(e.call);
        return names;
    }
    int count(const std::string& call) const {
        int n = 0;
        for (auto& e : events()) n += e.call == call;
        return n;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }
    bool waitForFrame() { return waitFor(frames_); }

    bool ignoreUpdates_ = false;
    bool wantsMonochrome_ = false;
    // Take a lock on each framebuffer given, and give it back when the frame arrives, as a filter
    // does.
    bool lockInputs_ = false;
    bool unlockOnFrame_ = false;

  private:
    static Event named(const char* call) {
        Event e;
        e.call = call;
        return e;
    }
    void add(Event e) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(e));
    }
    long nextIndex_;
    dispatch_semaphore_t frames_;
    mutable std::mutex mutex_;
    std::vector<Event> events_;
    Ref<GPXFramebuffer> framebuffer_;
};

}  // namespace gputest
