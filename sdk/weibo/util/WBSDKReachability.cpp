#include "sdk/weibo/util/WBSDKReachability.h"

#include <arpa/inet.h>

#include <cstring>

#include "foundation/NSException.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSRunLoop.h"

WBSDKReachability::WBSDKReachability(SCNetworkReachabilityRef target, bool localWiFi)
    : reachabilityRef_(std::move(target)), localWiFiRef_(localWiFi) {}

WBSDKReachability::~WBSDKReachability() {
    if (reachabilityRef_ && scheduledRunLoop_) {
        SCNetworkReachabilityUnscheduleFromRunLoop(reachabilityRef_, scheduledRunLoop_, NSDefaultRunLoopMode);
        SCNetworkReachabilitySetCallback(reachabilityRef_, nullptr, nullptr);
    }
}

Ref<WBSDKReachability> WBSDKReachability::reachabilityWithHostName(const std::string& hostName) {
    auto target = SCNetworkReachabilityCreateWithName(kCFAllocatorDefault, hostName.c_str());
    return target ? make<WBSDKReachability>(target, false) : nullptr;
}

Ref<WBSDKReachability> WBSDKReachability::reachabilityWithAddress(const sockaddr_in& address) {
    auto target = SCNetworkReachabilityCreateWithAddress(kCFAllocatorDefault,
                                                         reinterpret_cast<const sockaddr*>(&address));
    return target ? make<WBSDKReachability>(target, false) : nullptr;
}

Ref<WBSDKReachability> WBSDKReachability::reachabilityForInternetConnection() {
    sockaddr_in zero{};
    zero.sin_family = AF_INET;
    return reachabilityWithAddress(zero);
}

Ref<WBSDKReachability> WBSDKReachability::reachabilityForLocalWiFi() {
    sockaddr_in link{};
    link.sin_family = AF_INET;
    link.sin_addr.s_addr = htonl(0xA9FE0000);  // 169.254.0.0
    auto reachability = reachabilityWithAddress(link);
    if (reachability) reachability->localWiFiRef_ = true;
    return reachability;
}

bool WBSDKReachability::startNotifier() {
    if (!reachabilityRef_) return false;
    // The context carries the object without keeping it alive; the destructor unschedules.
    SCNetworkReachabilityContext context;
    context.info = this;
    Weak<WBSDKReachability> weak = std::static_pointer_cast<WBSDKReachability>(self());
    bool set = SCNetworkReachabilitySetCallback(
        reachabilityRef_,
        [weak](const SCNetworkReachabilityRef&, SCNetworkReachabilityFlags, void* info) {
            NS_ASSERT_OR(info != nullptr, return, "info was NULL in ReachabilityCallback");
            auto strong = weak.lock();
            if (!strong) return;  // gone while the change was on its way
            NS_ASSERT_OR(strong.get() == info, return, "info was wrong class in ReachabilityCallback");
            NSNotificationCenter::defaultCenter()->postNotificationName(
                kWBSDKNetworkStatusNetworkReachabilityChangedNotification, strong);
        },
        &context);
    if (!set) return false;
    auto runLoop = NSRunLoop::currentRunLoop();
    if (!SCNetworkReachabilityScheduleWithRunLoop(reachabilityRef_, runLoop, NSDefaultRunLoopMode))
        return false;
    scheduledRunLoop_ = runLoop;
    return true;
}

void WBSDKReachability::stopNotifier() {
    if (!reachabilityRef_) return;
    SCNetworkReachabilityUnscheduleFromRunLoop(reachabilityRef_, NSRunLoop::currentRunLoop(),
                                               NSDefaultRunLoopMode);
    if (scheduledRunLoop_ == NSRunLoop::currentRunLoop()) scheduledRunLoop_.reset();
}

WBSDKNetworkStatus WBSDKReachability::localWiFiStatusForFlags(SCNetworkReachabilityFlags flags) {
    bool reachable = flags & kSCNetworkReachabilityFlagsReachable;
    bool direct = flags & kSCNetworkReachabilityFlagsIsDirect;
    return reachable && direct ? WBSDKReachable : WBSDKNotReachable;
}

WBSDKNetworkStatus WBSDKReachability::networkStatusForFlags(SCNetworkReachabilityFlags flags) {
    if (!(flags & kSCNetworkReachabilityFlagsReachable)) return WBSDKNotReachable;
    if (!(flags & kSCNetworkReachabilityFlagsConnectionRequired)) return WBSDKReachable;
    bool onDemandOrTraffic = flags & (kSCNetworkReachabilityFlagsConnectionOnDemand |
                                      kSCNetworkReachabilityFlagsConnectionOnTraffic);
    if (onDemandOrTraffic && !(flags & kSCNetworkReachabilityFlagsInterventionRequired))
        return WBSDKReachable;
    if (flags & kSCNetworkReachabilityFlagsIsWWAN) return WBSDKReachable;
    return WBSDKNotReachable;
}

bool WBSDKReachability::connectionRequired() const {
    NS_ASSERT_OR(reachabilityRef_ != nullptr, return false,
                 "connectionRequired called with NULL reachabilityRef");
    SCNetworkReachabilityFlags flags = 0;
    return SCNetworkReachabilityGetFlags(reachabilityRef_, &flags) &&
           (flags & kSCNetworkReachabilityFlagsConnectionRequired);
}

WBSDKNetworkStatus WBSDKReachability::currentReachabilityStatus() const {
    NS_ASSERT_OR(reachabilityRef_ != nullptr, return WBSDKNotReachable,
                 "currentNetworkStatus called with NULL reachabilityRef");
    SCNetworkReachabilityFlags flags = 0;
    if (!SCNetworkReachabilityGetFlags(reachabilityRef_, &flags)) return WBSDKNotReachable;
    return localWiFiRef_ ? localWiFiStatusForFlags(flags) : networkStatusForFlags(flags);
}
