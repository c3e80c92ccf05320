#pragma once
// Network reachability: whether an address or a host can be reached, and over what.
//
// A reachability target is made from a socket address (0.0.0.0 stands for the default route,
// 169.254.0.0 for the local link) or from a host name. GetFlags answers its flags at once. A
// target with a callback may be scheduled on run loops (in modes) or on a dispatch queue; when its
// flags change, the callback runs there, once per change, on a later turn of that loop (in that
// mode) or as a block of that queue. Nothing is delivered when a target is first scheduled.
//
// Where the flags come from, in order:
// 1. a per-host test override (the host name of a name target, or the numeric text of an address
//    target such as "0.0.0.0");
// 2. the process-wide test override;
// 3. the interface list (detail::networkInterfaceAddresses): loopback targets ("localhost",
//    127.x, ::1) and targets equal to an address of this machine are reachable, local and
//    direct; any other target is reachable and direct when an interface other than loopback is
//    up with an address, and has no flags otherwise. The WWAN bit is never derived: nothing here
//    is a cellular interface.
// Host names are never resolved: no query leaves the machine.
//
// The context's retain callback runs when a callback is installed (its answer is the info kept),
// release when that callback is replaced or removed and when the target goes, so a context that
// retains a block keeps it alive exactly as long as it is installed.
//
// Thread-safe: targets may be made, read, scheduled and changed from any thread; callbacks run
// on the loop or queue they were scheduled on.

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dispatch/Dispatch.h"
#include "foundation/NSObject.h"
#include "foundation/NSRunLoop.h"
#include "system/DeviceProbes.h"

using SCNetworkReachabilityFlags = std::uint32_t;
enum : SCNetworkReachabilityFlags {
    kSCNetworkReachabilityFlagsTransientConnection = 1u << 0,
    kSCNetworkReachabilityFlagsReachable = 1u << 1,
    kSCNetworkReachabilityFlagsConnectionRequired = 1u << 2,
    kSCNetworkReachabilityFlagsConnectionOnTraffic = 1u << 3,
    kSCNetworkReachabilityFlagsInterventionRequired = 1u << 4,
    kSCNetworkReachabilityFlagsConnectionOnDemand = 1u << 5,
    kSCNetworkReachabilityFlagsIsLocalAddress = 1u << 16,
    kSCNetworkReachabilityFlagsIsDirect = 1u << 17,
    kSCNetworkReachabilityFlagsIsWWAN = 1u << 18,
    kSCNetworkReachabilityFlagsConnectionAutomatic = kSCNetworkReachabilityFlagsConnectionOnTraffic,
};

class SCNetworkReachability;
using SCNetworkReachabilityRef = Ref<SCNetworkReachability>;

// The allocator argument of the creation functions; only the default exists.
#ifndef CF_ALLOCATOR_DEFINED
#define CF_ALLOCATOR_DEFINED
using CFAllocatorRef = const void*;
inline constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;
#endif

using SCNetworkReachabilityCallBack =
    std::function<void(const SCNetworkReachabilityRef& target, SCNetworkReachabilityFlags flags, void* info)>;

struct SCNetworkReachabilityContext {
    long version = 0;
    void* info = nullptr;
    // Answers the info to keep (usually the same pointer, retained).
    std::function<const void*(const void* info)> retain;
    std::function<void(const void* info)> release;
    std::function<std::string(const void* info)> copyDescription;
};

namespace detail {
struct ReachabilityAccess;
}

class SCNetworkReachability : public NSObject {
  public:
    // Use the creation functions; public for make<>.
    SCNetworkReachability(std::optional<std::string> hostName, std::optional<sockaddr_storage> address);
    ~SCNetworkReachability() override;
    std::string className() const override { return "SCNetworkReachability"; }
    std::string description() const override;

    // The name of a name target; nullopt for an address target.
    const std::optional<std::string>& hostName() const { return hostName_; }
    const std::optional<sockaddr_storage>& address() const { return address_; }
    // The key that per-host overrides match: the host name in lower case, or the address's
    // numeric text.
    const std::string& overrideKey() const { return key_; }

  private:
    friend struct detail::ReachabilityAccess;
    struct Schedule {
        Weak<NSRunLoop> runLoop;
        std::string mode;
    };

    const std::optional<std::string> hostName_;
    const std::optional<sockaddr_storage> address_;
    std::string key_;

    std::mutex mutex_;  // guards what follows
    SCNetworkReachabilityCallBack callback_;
    SCNetworkReachabilityContext context_;
    const void* info_ = nullptr;  // what the context's retain answered
    bool hasContext_ = false;
    std::vector<Schedule> schedules_;
    dispatch_queue_t queue_;
    // The flags last delivered (or read when first scheduled): a change is measured from them.
    std::optional<SCNetworkReachabilityFlags> lastFlags_;
};

// nullptr for a null address or a family other than IPv4 and IPv6.
SCNetworkReachabilityRef SCNetworkReachabilityCreateWithAddress(CFAllocatorRef allocator,
                                                                const sockaddr* address);
// nullptr for a null or empty name.
SCNetworkReachabilityRef SCNetworkReachabilityCreateWithName(CFAllocatorRef allocator, const char* nodename);

// False for a null target or flags pointer, or when reading is made to fail by a test.
bool SCNetworkReachabilityGetFlags(const SCNetworkReachabilityRef& target, SCNetworkReachabilityFlags* flags);

// Installs (or, with an empty callback, removes) the callback. The context is copied; its retain
// runs now, the previous context's release runs now. False for a null target.
bool SCNetworkReachabilitySetCallback(const SCNetworkReachabilityRef& target,
                                      SCNetworkReachabilityCallBack callback,
                                      const SCNetworkReachabilityContext* context);

// Adds a (run loop, mode) pair; scheduling the same pair twice is one schedule. False for a null
// target or loop, or when the target is on a dispatch queue.
bool SCNetworkReachabilityScheduleWithRunLoop(const SCNetworkReachabilityRef& target,
                                              const Ref<NSRunLoop>& runLoop, const std::string& mode);
// Removes the pair (callbacks already queued for it are dropped); false when it was not there.
bool SCNetworkReachabilityUnscheduleFromRunLoop(const SCNetworkReachabilityRef& target,
                                                const Ref<NSRunLoop>& runLoop, const std::string& mode);
// Delivers callbacks on the queue instead; a null queue stops that. False when the target is
// scheduled on a run loop.
bool SCNetworkReachabilitySetDispatchQueue(const SCNetworkReachabilityRef& target,
                                           const dispatch_queue_t& queue);

namespace detail {
// The flags that the interface list gives a target (step 3 above), for an address in numeric
// form or a host name.
SCNetworkReachabilityFlags derivedReachabilityFlags(const std::optional<std::string>& hostName,
                                                    const std::optional<sockaddr_storage>& address,
                                                    const std::vector<NetworkInterfaceAddress>& interfaces);
// Re-reads every scheduled target's flags and delivers the changes.
void reachabilityReevaluateAll();
}  // namespace detail
