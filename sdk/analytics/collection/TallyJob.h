#pragma once
// Send scheduling: decides when the cached items become an envelope and an upload starts.
//
// It applies the report policy (0: after 15 s since the last post; 1: only when a session
// starts; 6: after the send interval; 8: background sends, or 36 h / 3 h in the foreground), the
// server's back-off level ("defcon" 0 to 3: at least 0, 4, 8 or 24 hours between posts) and a
// latency that delays a send after a long silence (15 days, or the imprint's "latent_hours") or
// marks it (after 36 hours).
//
// Scheduling runs on the main thread; the delayed start is a perform on the main run loop. The
// upload worker reads the level and clears the running flag from its own thread, so those
// fields, and every other the public interface may set, are atomics.

#include <atomic>
#include <cstdint>
#include <string>

#include "foundation/NSObject.h"

class TallyJob : public NSObject {
  public:
    static Ref<TallyJob> sharedInstance();
    std::string className() const override { return "TallyJob"; }
    std::string description() const override;

    // trigger 0: a session started; 1: an item was added (or a background session end under
    // policy 8).
    static void preparePerformJob(int trigger);
    static void beginPerformJobDelay();
    static bool defconPass();
    static bool checkLatentCondition();
    // Seconds since the last upload attempt; -1 when there was none.
    static double elapsedTimeFromPost();
    static bool shouldCommitJob(int trigger);

    int randomNumFrom(int a, int b) const;
    // 128 to 255 from the device signature; 0 without one.
    int latencySeed() const;
    int calculateLatency();
    // A session has begun and no upload is queued or running.
    bool ready() const;

    bool jobRunning() const { return jobRunning_.load(); }
    void setJobRunning(bool v) { jobRunning_.store(v); }
    int defcon() const { return defcon_.load(); }
    void setDefcon(int v) { defcon_.store(v); }
    int latency() const { return latency_.load(); }
    void setLatency(int v) { latency_.store(v); }
    int latency_sdk() const { return latency_sdk_.load(); }
    void setLatency_sdk(int v) { latency_sdk_.store(v); }
    bool bLatencyJob() const { return bLatencyJob_.load(); }
    void setBLatencyJob(bool v) { bLatencyJob_.store(v); }
    bool bDisguisedLatency() const { return bDisguisedLatency_.load(); }
    void setBDisguisedLatency(bool v) { bDisguisedLatency_.store(v); }

    static void resetForTesting();

  private:
    std::atomic<bool> jobRunning_{false};
    std::atomic<int> defcon_{0};
    std::atomic<int> latency_{0};
    std::atomic<int> latency_sdk_{0};
    std::atomic<bool> bLatencyJob_{false};
    std::atomic<bool> bDisguisedLatency_{false};
};
