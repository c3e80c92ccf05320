#include "net/HKNetworkActivityIndicatorManager.h"

#include "dispatch/Dispatch.h"
#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSObject+Perform.h"
#include "foundation/NSRunLoop.h"
#include "net/HKURLConnectionOperation.h"
#include "network/NSURLConnection.h"
#include "network/NSURLSessionTask.h"
#include "uikit/UIApplication.h"

Ref<NSURLRequest> HKRequestCarriedByNotification(const Ref<NSNotification>& notification) {
    if (!notification) return nullptr;
    const auto& object = notification->object();
    if (auto operation = asKind<HKURLConnectionOperation>(object)) return operation->request();
    if (auto connection = asKind<NSURLConnection>(object)) return connection->originalRequest();
    if (auto task = asKind<NSURLSessionTask>(object)) return task->originalRequest();
    return nullptr;
}

Ref<HKNetworkActivityIndicatorManager> HKNetworkActivityIndicatorManager::sharedManager() {
    static const Ref<HKNetworkActivityIndicatorManager> shared = make<HKNetworkActivityIndicatorManager>();
    return shared;
}

void HKNetworkActivityIndicatorManager::didInit() {
    auto center = NSNotificationCenter::defaultCenter();
    auto self = selfAs<HKNetworkActivityIndicatorManager>();
    center->addObserver(self, &HKNetworkActivityIndicatorManager::networkRequestDidStart,
                        std::string(HKNetworkingOperationDidStartNotification));
    center->addObserver(self, &HKNetworkActivityIndicatorManager::networkRequestDidFinish,
                        std::string(HKNetworkingOperationDidFinishNotification));
    center->addObserver(self, &HKNetworkActivityIndicatorManager::networkRequestDidStart,
                        std::string(HKNetworkingTaskDidResumeNotification));
    center->addObserver(self, &HKNetworkActivityIndicatorManager::networkRequestDidFinish,
                        std::string(HKNetworkingTaskDidSuspendNotification));
    center->addObserver(self, &HKNetworkActivityIndicatorManager::networkRequestDidFinish,
                        std::string(HKNetworkingTaskDidCompleteNotification));
}

HKNetworkActivityIndicatorManager::~HKNetworkActivityIndicatorManager() {
    NSNotificationCenter::defaultCenter()->removeObserver(this);
    if (activityIndicatorVisibilityTimer_) activityIndicatorVisibilityTimer_->invalidate();
}

std::int64_t HKNetworkActivityIndicatorManager::activityCount() const {
    std::lock_guard lock(lock_);
    return activityCount_;
}

Ref<NSTimer> HKNetworkActivityIndicatorManager::activityIndicatorVisibilityTimer() const {
    std::lock_guard lock(lock_);
    return activityIndicatorVisibilityTimer_;
}

void HKNetworkActivityIndicatorManager::setActivityIndicatorVisibilityTimer(const Ref<NSTimer>& timer) {
    std::lock_guard lock(lock_);
    activityIndicatorVisibilityTimer_ = timer;
}

void HKNetworkActivityIndicatorManager::incrementActivityCount() {
    changeCount(+1);
}

void HKNetworkActivityIndicatorManager::decrementActivityCount() {
    changeCount(-1);
}

void HKNetworkActivityIndicatorManager::changeCount(int delta) {
    KVO::willChangeValueForKey(*this, "activityCount");
    {
        std::lock_guard lock(lock_);
        activityCount_ = delta > 0 ? activityCount_ + 1 : std::max<std::int64_t>(activityCount_ - 1, 0);
    }
    KVO::didChangeValueForKey(*this, "activityCount");
    auto self = selfAs<HKNetworkActivityIndicatorManager>();
    dispatch_async(dispatch_get_main_queue(),
                   [self] { self->updateNetworkActivityIndicatorVisibilityDelayed(); });
}

void HKNetworkActivityIndicatorManager::updateNetworkActivityIndicatorVisibilityDelayed() {
    if (!isEnabled()) return;
    if (!isNetworkActivityIndicatorVisible()) {
        Ref<NSTimer> previous = activityIndicatorVisibilityTimer();
        if (previous) previous->invalidate();
        Weak<HKNetworkActivityIndicatorManager> weak = selfAs<HKNetworkActivityIndicatorManager>();
        auto timer = NSTimer::timerWithTimeInterval(
            HKNetworkActivityIndicatorInvisibilityDelay, false, [weak](const Ref<NSTimer>&) {
                if (auto manager = weak.lock()) {
                    manager->updateNetworkActivityIndicatorVisibility();
                }
            });
        setActivityIndicatorVisibilityTimer(timer);
        NSRunLoop::mainRunLoop()->addTimer(timer, NSRunLoopCommonModes);
    } else {
        // A hide timer already armed stays: when it fires it reads the live count.
        auto self = selfAs<HKNetworkActivityIndicatorManager>();
        performSelectorOnMainThread(self, [self] { self->updateNetworkActivityIndicatorVisibility(); }, false,
                                    {NSRunLoopCommonModes});
    }
}

void HKNetworkActivityIndicatorManager::updateNetworkActivityIndicatorVisibility() {
    UIApplication::sharedApplication()->setNetworkActivityIndicatorVisible(
        isNetworkActivityIndicatorVisible());
}

void HKNetworkActivityIndicatorManager::networkRequestDidStart(const Ref<NSNotification>& notification) {
    auto request = HKRequestCarriedByNotification(notification);
    if (request && request->URL()) incrementActivityCount();
}

void HKNetworkActivityIndicatorManager::networkRequestDidFinish(const Ref<NSNotification>& notification) {
    auto request = HKRequestCarriedByNotification(notification);
    if (request && request->URL()) decrementActivityCount();
}

Value HKNetworkActivityIndicatorManager::valueForKey(const std::string& key) const {
    if (key == "activityCount") return Value(static_cast<long long>(activityCount()));
    if (key == "isNetworkActivityIndicatorVisible" || key == "networkActivityIndicatorVisible") {
        return Value(isNetworkActivityIndicatorVisible());
    }
    if (key == "enabled") return Value(isEnabled());
    return NSObject::valueForKey(key);
}

std::vector<std::string>
HKNetworkActivityIndicatorManager::keyPathsForValuesAffectingValueForKey(const std::string& key) const {
    if (key == "isNetworkActivityIndicatorVisible" || key == "networkActivityIndicatorVisible") {
        return {"activityCount"};
    }
    return NSObject::keyPathsForValuesAffectingValueForKey(key);
}
