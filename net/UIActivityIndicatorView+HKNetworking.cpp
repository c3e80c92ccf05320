#include "net/UIActivityIndicatorView+HKNetworking.h"

#include "dispatch/Dispatch.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSNotificationCenter.h"
#include "net/HKNetworkActivityIndicatorManager.h"

namespace UIActivityIndicatorView_HKNetworking {

namespace {

// Registers a handler that reaches the indicator through a weak reference.
void observe(const Ref<UIActivityIndicatorView>& indicator, const char* name, const Ref<NSObject>& sender,
             void (*action)(const Ref<UIActivityIndicatorView>&)) {
    Weak<UIActivityIndicatorView> weak = indicator;
    NSNotificationCenter::defaultCenter()->addObserver(
        indicator, name,
        [weak, action](const Ref<NSNotification>&) {
            if (auto c = weak.lock()) action(c);
        },
        std::string(name), sender);
}

void forget(const Ref<UIActivityIndicatorView>& indicator, std::initializer_list<const char*> names) {
    auto center = NSNotificationCenter::defaultCenter();
    for (const char* name : names) center->removeObserver(indicator, std::string(name), nullptr);
}

}  // namespace

void hk_startAnimating(const Ref<UIActivityIndicatorView>& indicator) {
    Weak<UIActivityIndicatorView> weak = indicator;
    dispatch_async(dispatch_get_main_queue(), [weak] {
        if (auto c = weak.lock()) c->startAnimating();
    });
}

void hk_stopAnimating(const Ref<UIActivityIndicatorView>& indicator) {
    Weak<UIActivityIndicatorView> weak = indicator;
    dispatch_async(dispatch_get_main_queue(), [weak] {
        if (auto c = weak.lock()) c->stopAnimating();
    });
}

void setAnimatingWithStateOfTask(const Ref<UIActivityIndicatorView>& indicator,
                                 const Ref<NSURLSessionTask>& task) {
    NS_ASSERT_MAIN_THREAD();
    if (!indicator) return;
    forget(indicator, {HKNetworkingTaskDidResumeNotification, HKNetworkingTaskDidSuspendNotification,
                       HKNetworkingTaskDidCompleteNotification});
    // A completed task leaves the animation as it is and is not followed.
    if (!task || task->state() == NSURLSessionTaskStateCompleted) return;
    if (task->state() == NSURLSessionTaskStateRunning) {
        indicator->startAnimating();
    } else {
        indicator->stopAnimating();
    }
    observe(indicator, HKNetworkingTaskDidResumeNotification, task, hk_startAnimating);
    observe(indicator, HKNetworkingTaskDidCompleteNotification, task, hk_stopAnimating);
    observe(indicator, HKNetworkingTaskDidSuspendNotification, task, hk_stopAnimating);
}

void setAnimatingWithStateOfOperation(const Ref<UIActivityIndicatorView>& indicator,
                                      const Ref<HKURLConnectionOperation>& operation) {
    NS_ASSERT_MAIN_THREAD();
    if (!indicator) return;
    forget(indicator,
           {HKNetworkingOperationDidStartNotification, HKNetworkingOperationDidFinishNotification});
    if (!operation || operation->isFinished()) return;
    if (operation->isExecuting()) {
        indicator->startAnimating();
    } else {
        indicator->stopAnimating();
    }
    observe(indicator, HKNetworkingOperationDidStartNotification, operation, hk_startAnimating);
    observe(indicator, HKNetworkingOperationDidFinishNotification, operation, hk_stopAnimating);
}

}  // namespace UIActivityIndicatorView_HKNetworking
