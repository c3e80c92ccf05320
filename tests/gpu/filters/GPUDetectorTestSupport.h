#pragma once
// Helpers for the detectors and reductions: frames fed from memory with a time each, and the
// values their callbacks delivered, waited for one at a time.

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "../core/GPUFilterTestSupport.h"
#include "gpu/core/GPXRawDataInput.h"

namespace gputest {

// Frames from bytes in memory, each with its own time; the size may change between frames.
class FrameFeeder {
  public:
    explicit FrameFeeder(const Ref<GPXInput>& target) {
        std::vector<std::uint8_t> bytes(4, 0);
        input_ = make<GPXRawDataInput>(bytes.data(), CGSizeMake(1, 1), GL_RGBA);
        input_->addTarget(target);
    }
    ~FrameFeeder() { input_->removeAllTargets(); }
    void feed(const Pixels& frame, CMTime time) {
        std::vector<std::uint8_t> bytes;
        for (auto& c : frame.px) bytes.insert(bytes.end(), c.begin(), c.end());
        input_->updateDataFromBytes(bytes.data(), CGSizeMake(frame.width, frame.height));
        input_->processDataForTimestamp(time);
    }

  private:
    Ref<GPXRawDataInput> input_;
};

// What the callbacks delivered, waited for one at a time.
struct Reports {
    std::mutex mutex;
    std::vector<std::vector<double>> values;
    std::vector<CMTime> times;
    dispatch_semaphore_t arrived = dispatch_semaphore_create(0);
    void add(std::vector<double> v, CMTime time) {
        {
            std::lock_guard lock(mutex);
            values.push_back(std::move(v));
            times.push_back(time);
        }
        dispatch_semaphore_signal(arrived);
    }
    std::vector<double> next() {
        EXPECT_TRUE(waitFor(arrived));
        std::lock_guard lock(mutex);
        return values.empty() ? std::vector<double>{} : values.back();
    }
    CMTime lastTime() {
        std::lock_guard lock(mutex);
        return times.back();
    }
};

}  // namespace gputest
