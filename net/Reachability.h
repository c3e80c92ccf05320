#pragma once
// A small synchronous reachability wrapper with an optional notifier: ask currentReachabilityStatus
// for the answer now, or startNotifier to hear of changes through the notification
// "kNetworkReachabilityChangedNotification" (sender: the Reachability object) on the run loop of
// the thread that started it.
//
// Objects are cheap; callers usually make one per question. Status values (note the order differs
// from HKNetworkReachabilityManager's): 0 not reachable, 1 via Wi-Fi, 2 via WWAN. Flags that
// cannot be read count as not reachable.
//
// The notifier runs on the run loop of the thread that called startNotifier, which must also be
// the thread that calls stopNotifier.

#include <netinet/in.h>

#include <string>

#include "foundation/NSObject.h"
#include "system/SCNetworkReachability.h"

enum NetworkStatus : long {
    NotReachable = 0,
    ReachableViaWiFi = 1,
    ReachableViaWWAN = 2,
};

inline constexpr char kReachabilityChangedNotification[] = "kNetworkReachabilityChangedNotification";

class Reachability : public NSObject {
  public:
    Reachability(SCNetworkReachabilityRef reachability, bool alwaysReturnLocalWiFiStatus);
    ~Reachability() override;
    std::string className() const override { return "Reachability"; }

    // nullptr when the platform cannot make a handle.
    static Ref<Reachability> reachabilityWithHostName(const std::string& hostName);
    static Ref<Reachability> reachabilityWithAddress(const sockaddr_in* hostAddress);
    // The default route (0.0.0.0).
    static Ref<Reachability> reachabilityForInternetConnection();
    // The link-local network (169.254.0.0); answers only 0 or 1.
    static Ref<Reachability> reachabilityForLocalWiFi();

    bool startNotifier();
    void stopNotifier();

    NetworkStatus currentReachabilityStatus() const;
    bool connectionRequired() const;
    NetworkStatus networkStatusForFlags(SCNetworkReachabilityFlags flags) const;
    NetworkStatus localWiFiStatusForFlags(SCNetworkReachabilityFlags flags) const;

    const SCNetworkReachabilityRef& reachabilityRef() const { return reachabilityRef_; }
    bool alwaysReturnLocalWiFiStatus() const { return alwaysReturnLocalWiFiStatus_; }

  private:
    const SCNetworkReachabilityRef reachabilityRef_;
    const bool alwaysReturnLocalWiFiStatus_;
    Weak<NSRunLoop> notifierRunLoop_;
};
