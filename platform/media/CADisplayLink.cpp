#include "media/CADisplayLink.h"

#include "uikit/CALayer.h"

CADisplayLink::CADisplayLink(Action action) : action_(std::move(action)) {}

CADisplayLink::~CADisplayLink() {
    if (timer_) timer_->invalidate();
}

void CADisplayLink::addToRunLoop(const Ref<NSRunLoop>& runLoop, const std::string& mode) {
    if (!runLoop) return;
    std::lock_guard lock(mutex_);
    if (invalidated_ || timer_) return;
    Weak<CADisplayLink> weak = std::static_pointer_cast<CADisplayLink>(self());
    timer_ = NSTimer::timerWithTimeInterval(kRefreshInterval, true, [weak](const Ref<NSTimer>&) {
        if (auto link = weak.lock()) link->tick();
    });
    runLoop->addTimer(timer_, mode);
}

void CADisplayLink::tick() {
    Action action;
    {
        std::lock_guard lock(mutex_);
        if (invalidated_) return;
        action = action_;
    }
    if (paused_.load() || !action) return;
    timestamp_.store(CACurrentMediaTime());
    action(std::static_pointer_cast<CADisplayLink>(self()));
}

void CADisplayLink::invalidate() {
    Ref<NSTimer> timer;
    Action action;
    {
        std::lock_guard lock(mutex_);
        invalidated_ = true;
        timer = std::move(timer_);
        action = std::move(action_);  // released outside the lock: it may hold the link's owner
    }
    if (timer) timer->invalidate();
}

bool CADisplayLink::isValid() const {
    std::lock_guard lock(mutex_);
    return !invalidated_;
}

Ref<AVAudioSession> AVAudioSession::sharedInstance() {
    static Ref<AVAudioSession> session = make<AVAudioSession>();
    return session;
}
