#pragma once
// WBSDKReachability: one network-reachability target and its flags read as a network status
// (0 not reachable, 1 reachable). The device fingerprint reads the status of the internet target;
// the notifier posts kWBSDKNetworkStatusNetworkReachabilityChangedNotification (object: the
// WBSDKReachability) on the run loop where it was started.

#include <cstdint>
#include <string>

#include "foundation/NSObject.h"
#include "system/SCNetworkReachability.h"

inline constexpr char kWBSDKNetworkStatusNetworkReachabilityChangedNotification[] =
    "kWBSDKNetworkStatusNetworkReachabilityChangedNotification";

using WBSDKNetworkStatus = std::int32_t;
inline constexpr WBSDKNetworkStatus WBSDKNotReachable = 0;
inline constexpr WBSDKNetworkStatus WBSDKReachable = 1;

class WBSDKReachability : public NSObject {
  public:
    WBSDKReachability(SCNetworkReachabilityRef target, bool localWiFi);
    ~WBSDKReachability() override;
    std::string className() const override { return "WBSDKReachability"; }

    // Nil when the platform refuses the target.
    static Ref<WBSDKReachability> reachabilityWithHostName(const std::string& hostName);
    static Ref<WBSDKReachability> reachabilityWithAddress(const sockaddr_in& address);
    // 0.0.0.0: any route.
    static Ref<WBSDKReachability> reachabilityForInternetConnection();
    // 169.254.0.0, judged by the local Wi-Fi rule.
    static Ref<WBSDKReachability> reachabilityForLocalWiFi();

    bool startNotifier();
    void stopNotifier();

    static WBSDKNetworkStatus localWiFiStatusForFlags(SCNetworkReachabilityFlags flags);
    static WBSDKNetworkStatus networkStatusForFlags(SCNetworkReachabilityFlags flags);
    bool connectionRequired() const;
    WBSDKNetworkStatus currentReachabilityStatus() const;

    const SCNetworkReachabilityRef& reachabilityRef() const { return reachabilityRef_; }
    bool localWiFiRef() const { return localWiFiRef_; }

  private:
    SCNetworkReachabilityRef reachabilityRef_;
    bool localWiFiRef_;
    Ref<NSRunLoop> scheduledRunLoop_;
};
