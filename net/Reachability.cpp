#include "net/Reachability.h"

#include <arpa/inet.h>

#include <cstring>

#include "foundation/NSNotificationCenter.h"
#include "foundation/NSRunLoop.h"

namespace {

// The platform's callback, on the notifier's run loop. The context holds the object without
// owning it; one that is already going is not announced.
void ReachabilityChangedCallback(const SCNetworkReachabilityRef&, SCNetworkReachabilityFlags, void* info) {
    auto* object = static_cast<Reachability*>(info);
    if (!object) return;
    auto sender = object->weak_from_this().lock();
    if (!sender) return;
    NSNotificationCenter::defaultCenter()->postNotificationName(kReachabilityChangedNotification, sender);
}

sockaddr_in ipv4Address(const char* text) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    inet_pton(AF_INET, text, &address.sin_addr);
    return address;
}

}  // namespace

Reachability::Reachability(SCNetworkReachabilityRef reachability, bool alwaysReturnLocalWiFiStatus)
    : reachabilityRef_(std::move(reachability)), alwaysReturnLocalWiFiStatus_(alwaysReturnLocalWiFiStatus) {}

Reachability::~Reachability() {
    stopNotifier();
    // The callback's context points at this object: take it away before the object goes.
    if (reachabilityRef_) SCNetworkReachabilitySetCallback(reachabilityRef_, nullptr, nullptr);
}

Ref<Reachability> Reachability::reachabilityWithHostName(const std::string& hostName) {
    auto handle = SCNetworkReachabilityCreateWithName(kCFAllocatorDefault, hostName.c_str());
    return handle ? make<Reachability>(handle, false) : nullptr;
}

Ref<Reachability> Reachability::reachabilityWithAddress(const sockaddr_in* hostAddress) {
    auto handle = SCNetworkReachabilityCreateWithAddress(kCFAllocatorDefault,
                                                         reinterpret_cast<const sockaddr*>(hostAddress));
    return handle ? make<Reachability>(handle, false) : nullptr;
}

Ref<Reachability> Reachability::reachabilityForInternetConnection() {
    sockaddr_in zero = ipv4Address("0.0.0.0");
    return reachabilityWithAddress(&zero);
}

Ref<Reachability> Reachability::reachabilityForLocalWiFi() {
    sockaddr_in linkLocal = ipv4Address("169.254.0.0");
    auto handle = SCNetworkReachabilityCreateWithAddress(kCFAllocatorDefault,
                                                         reinterpret_cast<const sockaddr*>(&linkLocal));
    return handle ? make<Reachability>(handle, true) : nullptr;
}

bool Reachability::startNotifier() {
    SCNetworkReachabilityContext context;
    context.info = this;
    if (!SCNetworkReachabilitySetCallback(reachabilityRef_, ReachabilityChangedCallback, &context))
        return false;
    auto runLoop = NSRunLoop::currentRunLoop();
    notifierRunLoop_ = runLoop;
    return SCNetworkReachabilityScheduleWithRunLoop(reachabilityRef_, runLoop, NSDefaultRunLoopMode);
}

void Reachability::stopNotifier() {
    if (!reachabilityRef_) return;
    // Unscheduled from the loop it was started on: the caller's thread, as documented.
    auto runLoop = notifierRunLoop_.lock();
    SCNetworkReachabilityUnscheduleFromRunLoop(
        reachabilityRef_, runLoop ? runLoop : NSRunLoop::currentRunLoop(), NSDefaultRunLoopMode);
}

NetworkStatus Reachability::networkStatusForFlags(SCNetworkReachabilityFlags flags) const {
    if (!(flags & kSCNetworkReachabilityFlagsReachable)) return NotReachable;
    NetworkStatus status = NotReachable;
    if (!(flags & kSCNetworkReachabilityFlagsConnectionRequired)) status = ReachableViaWiFi;
    if ((flags &
         (kSCNetworkReachabilityFlagsConnectionOnDemand | kSCNetworkReachabilityFlagsConnectionOnTraffic)) &&
        !(flags & kSCNetworkReachabilityFlagsInterventionRequired)) {
        status = ReachableViaWiFi;
    }
    if (flags & kSCNetworkReachabilityFlagsIsWWAN) status = ReachableViaWWAN;
    return status;
}

NetworkStatus Reachability::localWiFiStatusForFlags(SCNetworkReachabilityFlags flags) const {
    bool reachable = flags & kSCNetworkReachabilityFlagsReachable;
    bool direct = flags & kSCNetworkReachabilityFlagsIsDirect;
    return reachable && direct ? ReachableViaWiFi : NotReachable;
}

NetworkStatus Reachability::currentReachabilityStatus() const {
    SCNetworkReachabilityFlags flags = 0;
    if (!SCNetworkReachabilityGetFlags(reachabilityRef_, &flags)) return NotReachable;
    return alwaysReturnLocalWiFiStatus_ ? localWiFiStatusForFlags(flags) : networkStatusForFlags(flags);
}

bool Reachability::connectionRequired() const {
    SCNetworkReachabilityFlags flags = 0;
    return SCNetworkReachabilityGetFlags(reachabilityRef_, &flags) &&
           (flags & kSCNetworkReachabilityFlagsConnectionRequired);
}
