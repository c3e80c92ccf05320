#pragma once
// Driving the main run loop from tests. GoogleTest runs tests on the process's main thread, so a
// test pumps the main run loop directly: timers, performs, main-queue blocks and end-of-turn
// hooks run inside these calls.

#include <functional>
#include <string>

#include "foundation/NSRunLoop.h"

namespace testsupport {

// Runs the main run loop in the mode, in short slices, until condition() holds or timeoutSeconds
// of REAL time have passed. Answers condition()'s last value. Works on the manual clock too.
bool pumpMainRunLoopUntil(const std::function<bool()>& condition, double timeoutSeconds = 5,
                          const std::string& mode = NSDefaultRunLoopMode);
// Runs the main run loop in the mode for the given REAL time.
void pumpMainRunLoop(double seconds, const std::string& mode = NSDefaultRunLoopMode);
// Runs everything that is already due (timers, performs, main-queue blocks, the hooks), pass
// after pass, until a pass finds nothing to do. Never waits.
void drainMainRunLoop(const std::string& mode = NSDefaultRunLoopMode);

// Switches the platform clock to manual time for its lifetime and back to real time after.
//
// advance(s) moves the clock forward by s seconds stopping at every deadline on the way (main
// run-loop timers of the mode, dispatch_after blocks and timer sources), and drains the main run
// loop at each stop: a 0.02 s repeating timer fires 50 times in advance(1.0), in order, and work
// scheduled by a callback fires too if it falls inside the span. jump(s) moves in one step (beats
// missed by a repeating timer coalesce into one fire), then drains.
class ManualClock {
  public:
    explicit ManualClock(double startSince1970 = 1'700'000'000.0);
    ~ManualClock();
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    void advance(double seconds, const std::string& mode = NSDefaultRunLoopMode);
    void jump(double seconds, const std::string& mode = NSDefaultRunLoopMode);
    // The clock's reading, seconds since 1970.
    double now() const;
};

}  // namespace testsupport
