#include "net/HKNetworkReachabilityManager.h"

#include <netinet/in.h>

#include <cstring>

#include "dispatch/Dispatch.h"
#include "foundation/NSBundle.h"
#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSRunLoop.h"

namespace {

using Callback = std::function<void(HKNetworkReachabilityStatus)>;

void postStatusChange(HKNetworkReachabilityStatus status) {
    dispatch_async(dispatch_get_main_queue(), [status] {
        NSNotificationCenter::defaultCenter()->postNotificationName(
            HKNetworkingReachabilityDidChangeNotification, nullptr,
            Dictionary{{HKNetworkingReachabilityNotificationStatusItem, Value(static_cast<long>(status))}});
    });
}

// The platform's callback, on the main run loop: the block first, then the notification.
void flagsChanged(const SCNetworkReachabilityRef&, SCNetworkReachabilityFlags flags, void* info) {
    auto status = HKNetworkReachabilityStatusForFlags(flags);
    if (info) (*static_cast<Callback*>(info))(status);
    postStatusChange(status);
}

}  // namespace

HKNetworkReachabilityStatus HKNetworkReachabilityStatusForFlags(SCNetworkReachabilityFlags flags) {
    bool reachable = flags & kSCNetworkReachabilityFlagsReachable;
    bool needsConnection = flags & kSCNetworkReachabilityFlagsConnectionRequired;
    bool canConnectAutomatically = flags & (kSCNetworkReachabilityFlagsConnectionOnDemand |
                                            kSCNetworkReachabilityFlagsConnectionOnTraffic);
    bool canConnectWithoutUser =
        canConnectAutomatically && !(flags & kSCNetworkReachabilityFlagsInterventionRequired);
    if (!reachable || (needsConnection && !canConnectWithoutUser))
        return HKNetworkReachabilityStatusNotReachable;
    if (flags & kSCNetworkReachabilityFlagsIsWWAN) return HKNetworkReachabilityStatusReachableViaWWAN;
    return HKNetworkReachabilityStatusReachableViaWiFi;
}

std::string HKReachabilityStatusDisplayText(long status) {
    std::string key;
    switch (status) {
        case HKNetworkReachabilityStatusNotReachable:
            key = "Not Reachable";
            break;
        case HKNetworkReachabilityStatusReachableViaWWAN:
            key = "Reachable via WWAN";
            break;
        case HKNetworkReachabilityStatusReachableViaWiFi:
            key = "Reachable via WiFi";
            break;
        default:
            key = "Unknown";
    }
    return NSBundle::mainBundle()->localizedStringForKey(key, std::string(), std::string("HKNetworking"));
}

HKNetworkReachabilityManager::HKNetworkReachabilityManager(SCNetworkReachabilityRef reachability,
                                                           Association association)
    : reachability_(std::move(reachability)), association_(association) {}

HKNetworkReachabilityManager::~HKNetworkReachabilityManager() {
    stopMonitoring();
}

Ref<HKNetworkReachabilityManager> HKNetworkReachabilityManager::sharedManager() {
    static const Ref<HKNetworkReachabilityManager> shared = [] {
        sockaddr_in address;
        std::memset(&address, 0, sizeof address);
        address.sin_family = AF_INET;
        return managerForAddress(reinterpret_cast<const sockaddr*>(&address));
    }();
    return shared;
}

Ref<HKNetworkReachabilityManager> HKNetworkReachabilityManager::managerForDomain(const std::string& domain) {
    return make<HKNetworkReachabilityManager>(
        SCNetworkReachabilityCreateWithName(kCFAllocatorDefault, domain.c_str()), ForName);
}

Ref<HKNetworkReachabilityManager> HKNetworkReachabilityManager::managerForAddress(const sockaddr* address) {
    return make<HKNetworkReachabilityManager>(
        SCNetworkReachabilityCreateWithAddress(kCFAllocatorDefault, address), ForAddress);
}

void HKNetworkReachabilityManager::setReachabilityStatusChangeBlock(StatusBlock block) {
    std::lock_guard lock(mutex_);
    statusBlock_ = std::move(block);
}

HKNetworkReachabilityManager::StatusBlock HKNetworkReachabilityManager::statusBlock() const {
    std::lock_guard lock(mutex_);
    return statusBlock_;
}

void HKNetworkReachabilityManager::statusDidChange(HKNetworkReachabilityStatus status) {
    KVO::willChangeValueForKey(*this, "networkReachabilityStatus");
    status_.store(status);
    KVO::didChangeValueForKey(*this, "networkReachabilityStatus");
    if (auto block = statusBlock()) block(status);
}

void HKNetworkReachabilityManager::startMonitoring() {
    stopMonitoring();
    if (!reachability_) return;

    Weak<HKNetworkReachabilityManager> weak = selfAs<HKNetworkReachabilityManager>();
    Callback callback = [weak](HKNetworkReachabilityStatus status) {
        if (auto manager = weak.lock()) manager->statusDidChange(status);
    };

    // The platform keeps its own copy of the block for as long as the callback is installed.
    SCNetworkReachabilityContext context;
    context.info = &callback;
    context.retain = [](const void* info) -> const void* {
        return new Callback(*static_cast<const Callback*>(info));
    };
    context.release = [](const void* info) { delete static_cast<const Callback*>(info); };
    SCNetworkReachabilitySetCallback(reachability_, flagsChanged, &context);
    SCNetworkReachabilityScheduleWithRunLoop(reachability_, NSRunLoop::mainRunLoop(), NSRunLoopCommonModes);

    if (association_ != ForName) {
        auto target = reachability_;
        dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_BACKGROUND), [target, callback] {
            SCNetworkReachabilityFlags flags = 0;
            // Flags that cannot be read say nothing: no status is reported rather than a guess.
            if (!SCNetworkReachabilityGetFlags(target, &flags)) return;
            auto status = HKNetworkReachabilityStatusForFlags(flags);
            dispatch_async(dispatch_get_main_queue(), [callback, status] {
                callback(status);
                postStatusChange(status);
            });
        });
    }
}

void HKNetworkReachabilityManager::stopMonitoring() {
    if (!reachability_) return;
    SCNetworkReachabilityUnscheduleFromRunLoop(reachability_, NSRunLoop::mainRunLoop(), NSRunLoopCommonModes);
}

std::string HKNetworkReachabilityManager::localizedNetworkReachabilityStatusString() const {
    return HKReachabilityStatusDisplayText(status_.load());
}

Value HKNetworkReachabilityManager::valueForKey(const std::string& key) const {
    if (key == "networkReachabilityStatus") return Value(static_cast<long>(status_.load()));
    if (key == "reachable") return Value(isReachable());
    if (key == "reachableViaWWAN") return Value(isReachableViaWWAN());
    if (key == "reachableViaWiFi") return Value(isReachableViaWiFi());
    return NSObject::valueForKey(key);
}

std::vector<std::string>
HKNetworkReachabilityManager::keyPathsForValuesAffectingValueForKey(const std::string& key) const {
    if (KVO::isAnyOf(key, {"reachable", "reachableViaWWAN", "reachableViaWiFi"}))
        return {"networkReachabilityStatus"};
    return NSObject::keyPathsForValuesAffectingValueForKey(key);
}
