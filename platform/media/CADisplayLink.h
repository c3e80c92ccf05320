#pragma once
// The display's refresh tick, driven by the platform clock: once added to a run loop it calls its
// action every 1/60 s (in the modes it was added in) while not paused, with the tick's timestamp
// and the duration of one refresh. On the manual clock it ticks as tests advance time.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "foundation/NSObject.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSTimer.h"

class CADisplayLink : public NSObject {
  public:
    using Action = std::function<void(const Ref<CADisplayLink>& link)>;
    static constexpr double kRefreshInterval = 1.0 / 60.0;

    explicit CADisplayLink(Action action);
    ~CADisplayLink() override;
    static Ref<CADisplayLink> displayLinkWithTarget(Action action) {
        return make<CADisplayLink>(std::move(action));
    }

    void addToRunLoop(const Ref<NSRunLoop>& runLoop, const std::string& mode);
    // Stops for good and lets the action go.
    void invalidate();

    bool isPaused() const { return paused_.load(); }
    void setPaused(bool paused) { paused_.store(paused); }
    // Monotonic seconds (CACurrentMediaTime) of the latest tick; 0 before the first.
    double timestamp() const { return timestamp_.load(); }
    double duration() const { return kRefreshInterval; }
    bool isValid() const;

    std::string className() const override { return "CADisplayLink"; }

  private:
    void tick();

    mutable std::mutex mutex_;
    Action action_;
    Ref<NSTimer> timer_;
    bool invalidated_ = false;
    std::atomic<bool> paused_{false};
    std::atomic<double> timestamp_{0};
};

// The audio session: a fixed hardware rate of 44,100 Hz here.
class AVAudioSession : public NSObject {
  public:
    static Ref<AVAudioSession> sharedInstance();
    double sampleRate() const { return 44100.0; }
    double currentHardwareSampleRate() const { return 44100.0; }
    std::string className() const override { return "AVAudioSession"; }
};
