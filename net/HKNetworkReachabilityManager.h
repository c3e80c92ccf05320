#pragma once
// The HTTP client's reachability monitor: whether the default route, a host or an address can be
// reached, and over which kind of interface, with a status-change block and a notification.
//
// Nothing is watched until startMonitoring. An address manager (the shared one watches the
// default route, 0.0.0.0) then reports its current status once at once; a host-name manager
// only when the platform reports a change. Every status, block call and notification arrives on
// the main thread; only the first flag read happens on a background queue.
//
// Status values: -1 unknown (before the first report), 0 not reachable, 1 over the mobile (WWAN)
// interface, 2 over Wi-Fi (any other interface). "reachable", "reachableViaWWAN" and
// "reachableViaWiFi" are observable and follow "networkReachabilityStatus".

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include <sys/socket.h>

#include "foundation/NSObject.h"
#include "foundation/Value.h"
#include "system/SCNetworkReachability.h"

enum HKNetworkReachabilityStatus : long {
    HKNetworkReachabilityStatusUnknown = -1,
    HKNetworkReachabilityStatusNotReachable = 0,
    HKNetworkReachabilityStatusReachableViaWWAN = 1,
    HKNetworkReachabilityStatusReachableViaWiFi = 2,
};

// Posted on the main queue, sender nil, with the status under the key below.
inline constexpr char HKNetworkingReachabilityDidChangeNotification[] =
    "com.quentaro.networking.reachability.change";
inline constexpr char HKNetworkingReachabilityNotificationStatusItem[] =
    "HKNetworkingReachabilityNotificationStatusItem";

// The status the flags stand for.
HKNetworkReachabilityStatus HKNetworkReachabilityStatusForFlags(SCNetworkReachabilityFlags flags);
// "Unknown", "Not Reachable", "Reachable via WWAN" or "Reachable via WiFi", from the string table
// "HKNetworking" when it has them.
std::string HKReachabilityStatusDisplayText(long status);

class HKNetworkReachabilityManager : public NSObject {
  public:
    using StatusBlock = std::function<void(HKNetworkReachabilityStatus status)>;

    // What the handle was made from.
    enum Association : unsigned long { ForAddress = 1, ForName = 3 };

    HKNetworkReachabilityManager(SCNetworkReachabilityRef reachability, Association association);
    ~HKNetworkReachabilityManager() override;
    std::string className() const override { return "HKNetworkReachabilityManager"; }

    // The default route, made once.
    static Ref<HKNetworkReachabilityManager> sharedManager();
    static Ref<HKNetworkReachabilityManager> managerForDomain(const std::string& domain);
    static Ref<HKNetworkReachabilityManager> managerForAddress(const sockaddr* address);

    HKNetworkReachabilityStatus networkReachabilityStatus() const { return status_.load(); }
    bool isReachable() const { return isReachableViaWWAN() || isReachableViaWiFi(); }
    bool isReachableViaWWAN() const { return status_.load() == HKNetworkReachabilityStatusReachableViaWWAN; }
    bool isReachableViaWiFi() const { return status_.load() == HKNetworkReachabilityStatusReachableViaWiFi; }
    const SCNetworkReachabilityRef& networkReachability() const { return reachability_; }
    Association networkReachabilityAssociation() const { return association_; }

    void startMonitoring();
    void stopMonitoring();
    // Called on the main thread with every new status.
    void setReachabilityStatusChangeBlock(StatusBlock block);
    std::string localizedNetworkReachabilityStatusString() const;

    Value valueForKey(const std::string& key) const override;
    std::vector<std::string> keyPathsForValuesAffectingValueForKey(const std::string& key) const override;

  private:
    // Main thread: stores the status and tells the block.
    void statusDidChange(HKNetworkReachabilityStatus status);
    StatusBlock statusBlock() const;

    const SCNetworkReachabilityRef reachability_;
    const Association association_;
    std::atomic<HKNetworkReachabilityStatus> status_{HKNetworkReachabilityStatusUnknown};
    mutable std::mutex mutex_;  // guards the block
    StatusBlock statusBlock_;
};
