#include "net/UIRefreshControl+HKNetworking.h"

#include "dispatch/Dispatch.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSNotificationCenter.h"
#include "net/HKNetworkActivityIndicatorManager.h"

namespace UIRefreshControl_HKNetworking {

namespace {

// Registers a handler that reaches the control through a weak reference.
void observe(const Ref<UIRefreshControl>& control, const char* name, const Ref<NSObject>& sender,
             void (*action)(const Ref<UIRefreshControl>&)) {
    Weak<UIRefreshControl> weak = control;
    NSNotificationCenter::defaultCenter()->addObserver(
        control, name,
        [weak, action](const Ref<NSNotification>&) {
            if (auto c = weak.lock()) action(c);
        },
        std::string(name), sender);
}

void forget(const Ref<UIRefreshControl>& control, std::initializer_list<const char*> names) {
    auto center = NSNotificationCenter::defaultCenter();
    for (const char* name : names) center->removeObserver(control, std::string(name), nullptr);
}

}  // namespace

void hk_beginRefreshing(const Ref<UIRefreshControl>& control) {
    Weak<UIRefreshControl> weak = control;
    dispatch_async(dispatch_get_main_queue(), [weak] {
        if (auto c = weak.lock()) c->beginRefreshing();
    });
}

void hk_endRefreshing(const Ref<UIRefreshControl>& control) {
    Weak<UIRefreshControl> weak = control;
    dispatch_async(dispatch_get_main_queue(), [weak] {
        if (auto c = weak.lock()) c->endRefreshing();
    });
}

void setRefreshingWithStateOfTask(const Ref<UIRefreshControl>& control, const Ref<NSURLSessionTask>& task) {
    NS_ASSERT_MAIN_THREAD();
    if (!control) return;
    forget(control, {HKNetworkingTaskDidResumeNotification, HKNetworkingTaskDidSuspendNotification,
                     HKNetworkingTaskDidCompleteNotification});
    if (!task) return;
    if (task->state() == NSURLSessionTaskStateRunning) {
        control->beginRefreshing();
        observe(control, HKNetworkingTaskDidResumeNotification, task, hk_beginRefreshing);
        observe(control, HKNetworkingTaskDidCompleteNotification, task, hk_endRefreshing);
        observe(control, HKNetworkingTaskDidSuspendNotification, task, hk_endRefreshing);
    } else {
        control->endRefreshing();
    }
}

void setRefreshingWithStateOfOperation(const Ref<UIRefreshControl>& control,
                                       const Ref<HKURLConnectionOperation>& operation) {
    NS_ASSERT_MAIN_THREAD();
    if (!control) return;
    forget(control, {HKNetworkingOperationDidStartNotification, HKNetworkingOperationDidFinishNotification});
    if (!operation || operation->isFinished()) return;
    if (operation->isExecuting()) {
        control->beginRefreshing();
    } else {
        control->endRefreshing();
    }
    observe(control, HKNetworkingOperationDidStartNotification, operation, hk_beginRefreshing);
    observe(control, HKNetworkingOperationDidFinishNotification, operation, hk_endRefreshing);
}

}  // namespace UIRefreshControl_HKNetworking
