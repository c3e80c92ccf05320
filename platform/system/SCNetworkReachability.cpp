#include "system/SCNetworkReachability.h"
#include "system/SystemTesting.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <map>

namespace {

struct Overrides {
    std::mutex mutex;
    std::optional<SCNetworkReachabilityFlags> global;
    std::map<std::string, SCNetworkReachabilityFlags> hosts;
    bool getFlagsFails = false;
};

Overrides& overrides() {
    static Overrides o;
    return o;
}

// Every target that is scheduled somewhere, held weakly: a scheduled target still goes when its
// owner lets it go.
struct Registry {
    std::mutex mutex;
    std::vector<Weak<SCNetworkReachability>> scheduled;
};

Registry& registry() {
    static Registry r;
    return r;
}

void listenToNetworkChanges() {
    static std::once_flag once;
    std::call_once(once,
                   [] { detail::addNetworkChangeListener([] { detail::reachabilityReevaluateAll(); }); });
}

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string numericText(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        auto* in = reinterpret_cast<const sockaddr_in*>(&address);
        ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    } else if (address.ss_family == AF_INET6) {
        auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address);
        ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
    }
    return text;
}

// A numeric host name as an address.
std::optional<sockaddr_storage> parseNumeric(const std::string& text) {
    sockaddr_storage storage{};
    auto* in = reinterpret_cast<sockaddr_in*>(&storage);
    if (::inet_pton(AF_INET, text.c_str(), &in->sin_addr) == 1) {
        in->sin_family = AF_INET;
        return storage;
    }
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
    if (::inet_pton(AF_INET6, text.c_str(), &in6->sin6_addr) == 1) {
        in6->sin6_family = AF_INET6;
        return storage;
    }
    return std::nullopt;
}

bool isLoopback(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) {
        auto* in = reinterpret_cast<const sockaddr_in*>(&address);
        return (ntohl(in->sin_addr.s_addr) >> 24) == 127;
    }
    if (address.ss_family == AF_INET6) {
        auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address);
        return IN6_IS_ADDR_LOOPBACK(&in6->sin6_addr);
    }
    return false;
}

constexpr SCNetworkReachabilityFlags kLocalFlags = kSCNetworkReachabilityFlagsReachable |
                                                   kSCNetworkReachabilityFlagsIsLocalAddress |
                                                   kSCNetworkReachabilityFlagsIsDirect;

}  // namespace

namespace detail {

struct ReachabilityAccess {
    static std::mutex& mutex(SCNetworkReachability& t) { return t.mutex_; }

    static std::optional<SCNetworkReachabilityFlags> readFlags(const SCNetworkReachability& t) {
        {
            auto& o = overrides();
            std::lock_guard lock(o.mutex);
            if (o.getFlagsFails) return std::nullopt;
            auto it = o.hosts.find(t.key_);
            if (it != o.hosts.end()) return it->second;
            if (o.global) return *o.global;
        }
        return derivedReachabilityFlags(t.hostName_, t.address_, networkInterfaceAddresses());
    }

    // Delivers one change to every place the target is scheduled.
    static void deliver(const Ref<SCNetworkReachability>& target, SCNetworkReachabilityFlags flags) {
        std::vector<SCNetworkReachability::Schedule> schedules;
        dispatch_queue_t queue;
        {
            std::lock_guard lock(target->mutex_);
            if (target->schedules_.empty() && !target->queue_) return;
            if (target->lastFlags_ && *target->lastFlags_ == flags) return;
            target->lastFlags_ = flags;
            if (!target->callback_) return;
            schedules = target->schedules_;
            queue = target->queue_;
        }
        Weak<SCNetworkReachability> weak = target;
        for (const auto& schedule : schedules) {
            auto loop = schedule.runLoop.lock();
            if (!loop) continue;
            Weak<NSRunLoop> weakLoop = loop;
            std::string mode = schedule.mode;
            loop->performInModes({mode}, [weak, weakLoop, mode, flags] {
                auto t = weak.lock();
                if (!t) return;
                SCNetworkReachabilityCallBack callback;
                void* info = nullptr;
                {
                    std::lock_guard lock(t->mutex_);
                    auto loopNow = weakLoop.lock();
                    bool stillScheduled =
                        std::any_of(t->schedules_.begin(), t->schedules_.end(), [&](const auto& s) {
                            return s.mode == mode && s.runLoop.lock() == loopNow;
                        });
                    if (!stillScheduled) return;
                    callback = t->callback_;
                    info = const_cast<void*>(t->info_);
                }
                if (callback) callback(t, flags, info);
            });
        }
        if (queue) {
            dispatch_async(queue, [weak, queue, flags] {
                auto t = weak.lock();
                if (!t) return;
                SCNetworkReachabilityCallBack callback;
                void* info = nullptr;
                {
                    std::lock_guard lock(t->mutex_);
                    if (t->queue_ != queue) return;
                    callback = t->callback_;
                    info = const_cast<void*>(t->info_);
                }
                if (callback) callback(t, flags, info);
            });
        }
    }

    static void swapCallback(SCNetworkReachability& t, SCNetworkReachabilityCallBack callback,
                             SCNetworkReachabilityContext context, const void* info, bool hasContext) {
        SCNetworkReachabilityContext oldContext;
        const void* oldInfo = nullptr;
        bool oldHasContext = false;
        {
            std::lock_guard lock(t.mutex_);
            std::swap(oldContext, t.context_);
            std::swap(oldInfo, t.info_);
            std::swap(oldHasContext, t.hasContext_);
            t.callback_ = std::move(callback);
            t.context_ = std::move(context);
            t.info_ = info;
            t.hasContext_ = hasContext;
        }
        // The old context goes outside the lock: releasing a block may run anything, even code
        // that comes back to this target.
        if (oldHasContext && oldContext.release) oldContext.release(oldInfo);
    }

    // The first schedule reads the baseline that later changes are measured from, and puts the
    // target in the registry.
    static void startWatchingLocked(const Ref<SCNetworkReachability>& t, bool wasScheduled) {
        if (wasScheduled) return;
        t->lastFlags_ = readFlags(*t);
        listenToNetworkChanges();
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        auto& list = r.scheduled;
        list.erase(std::remove_if(list.begin(), list.end(), [](const auto& w) { return w.expired(); }),
                   list.end());
        bool known = std::any_of(list.begin(), list.end(), [&](const auto& w) { return w.lock() == t; });
        if (!known) list.push_back(t);
    }

    static bool schedule(const Ref<SCNetworkReachability>& t, const Ref<NSRunLoop>& loop,
                         const std::string& mode) {
        std::lock_guard lock(t->mutex_);
        if (t->queue_) return false;
        for (const auto& s : t->schedules_) {
            if (s.mode == mode && s.runLoop.lock() == loop) return true;
        }
        bool wasScheduled = !t->schedules_.empty();
        t->schedules_.push_back({loop, mode});
        startWatchingLocked(t, wasScheduled);
        return true;
    }

    static bool unschedule(SCNetworkReachability& t, const Ref<NSRunLoop>& loop, const std::string& mode) {
        std::lock_guard lock(t.mutex_);
        auto it = std::find_if(t.schedules_.begin(), t.schedules_.end(),
                               [&](const auto& s) { return s.mode == mode && s.runLoop.lock() == loop; });
        if (it == t.schedules_.end()) return false;
        t.schedules_.erase(it);
        // Dead loops' schedules go too.
        t.schedules_.erase(std::remove_if(t.schedules_.begin(), t.schedules_.end(),
                                          [](const auto& s) { return s.runLoop.expired(); }),
                           t.schedules_.end());
        if (t.schedules_.empty() && !t.queue_) t.lastFlags_.reset();
        return true;
    }

    static bool setQueue(const Ref<SCNetworkReachability>& t, const dispatch_queue_t& queue) {
        std::lock_guard lock(t->mutex_);
        if (!t->schedules_.empty()) return false;
        bool wasScheduled = static_cast<bool>(t->queue_);
        t->queue_ = queue;
        if (queue) {
            startWatchingLocked(t, wasScheduled);
        } else {
            t->lastFlags_.reset();
        }
        return true;
    }
};

SCNetworkReachabilityFlags derivedReachabilityFlags(const std::optional<std::string>& hostName,
                                                    const std::optional<sockaddr_storage>& address,
                                                    const std::vector<NetworkInterfaceAddress>& interfaces) {
    std::optional<sockaddr_storage> target = address;
    if (hostName) {
        std::string name = lowercase(*hostName);
        if (name == "localhost" || name == "localhost.") return kLocalFlags;
        target = parseNumeric(name);
    }
    if (target) {
        if (isLoopback(*target)) return kLocalFlags;
        std::string text = numericText(*target);
        for (const auto& item : interfaces) {
            if (item.up && item.family == target->ss_family && item.address == text) return kLocalFlags;
        }
    }
    bool connected =
        std::any_of(interfaces.begin(), interfaces.end(), [](const NetworkInterfaceAddress& item) {
            return item.up && !item.loopback && !item.address.empty();
        });
    return connected ? kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsIsDirect : 0;
}

void reachabilityReevaluateAll() {
    std::vector<Ref<SCNetworkReachability>> alive;
    {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        auto& list = r.scheduled;
        list.erase(std::remove_if(list.begin(), list.end(), [](const auto& w) { return w.expired(); }),
                   list.end());
        for (const auto& w : list) {
            if (auto t = w.lock()) alive.push_back(std::move(t));
        }
    }
    for (const auto& t : alive) {
        auto flags = ReachabilityAccess::readFlags(*t);
        if (flags) ReachabilityAccess::deliver(t, *flags);
    }
}

}  // namespace detail

SCNetworkReachability::SCNetworkReachability(std::optional<std::string> hostName,
                                             std::optional<sockaddr_storage> address)
    : hostName_(std::move(hostName)), address_(address) {
    key_ = hostName_ ? lowercase(*hostName_) : numericText(*address_);
}

SCNetworkReachability::~SCNetworkReachability() {
    if (hasContext_ && context_.release) context_.release(info_);
}

std::string SCNetworkReachability::description() const {
    std::string text = "<SCNetworkReachability " + NSObject::description() + "> {";
    text += hostName_ ? "name = " + *hostName_ : "address = " + key_;
    return text + "}";
}

SCNetworkReachabilityRef SCNetworkReachabilityCreateWithAddress(CFAllocatorRef, const sockaddr* address) {
    if (!address) return nullptr;
    sockaddr_storage storage{};
    if (address->sa_family == AF_INET) {
        std::memcpy(&storage, address, sizeof(sockaddr_in));
    } else if (address->sa_family == AF_INET6) {
        std::memcpy(&storage, address, sizeof(sockaddr_in6));
    } else {
        return nullptr;
    }
    return make<SCNetworkReachability>(std::nullopt, storage);
}

SCNetworkReachabilityRef SCNetworkReachabilityCreateWithName(CFAllocatorRef, const char* nodename) {
    if (!nodename || !*nodename) return nullptr;
    return make<SCNetworkReachability>(std::string(nodename), std::nullopt);
}

bool SCNetworkReachabilityGetFlags(const SCNetworkReachabilityRef& target,
                                   SCNetworkReachabilityFlags* flags) {
    if (!target || !flags) return false;
    auto read = detail::ReachabilityAccess::readFlags(*target);
    if (!read) return false;
    *flags = *read;
    return true;
}

bool SCNetworkReachabilitySetCallback(const SCNetworkReachabilityRef& target,
                                      SCNetworkReachabilityCallBack callback,
                                      const SCNetworkReachabilityContext* context) {
    if (!target) return false;
    SCNetworkReachabilityContext newContext;
    const void* newInfo = nullptr;
    bool newHasContext = false;
    if (callback && context) {
        newContext = *context;
        newInfo = newContext.retain ? newContext.retain(newContext.info) : newContext.info;
        newHasContext = true;
    }
    detail::ReachabilityAccess::swapCallback(*target, std::move(callback), std::move(newContext), newInfo,
                                             newHasContext);
    return true;
}

bool SCNetworkReachabilityScheduleWithRunLoop(const SCNetworkReachabilityRef& target,
                                              const Ref<NSRunLoop>& runLoop, const std::string& mode) {
    if (!target || !runLoop || mode.empty()) return false;
    return detail::ReachabilityAccess::schedule(target, runLoop, mode);
}

bool SCNetworkReachabilityUnscheduleFromRunLoop(const SCNetworkReachabilityRef& target,
                                                const Ref<NSRunLoop>& runLoop, const std::string& mode) {
    if (!target || !runLoop) return false;
    return detail::ReachabilityAccess::unschedule(*target, runLoop, mode);
}

bool SCNetworkReachabilitySetDispatchQueue(const SCNetworkReachabilityRef& target,
                                           const dispatch_queue_t& queue) {
    if (!target) return false;
    return detail::ReachabilityAccess::setQueue(target, queue);
}

namespace system_testing {

void setReachabilityFlags(std::optional<SCNetworkReachabilityFlags> flags) {
    {
        auto& o = overrides();
        std::lock_guard lock(o.mutex);
        o.global = flags;
    }
    detail::reachabilityReevaluateAll();
}

void setHostReachabilityFlags(const std::string& host, std::optional<SCNetworkReachabilityFlags> flags) {
    {
        auto& o = overrides();
        std::lock_guard lock(o.mutex);
        // Numeric hosts are matched by their canonical text ("::0001" is "::1").
        std::string key = lowercase(host);
        if (auto numeric = parseNumeric(key)) key = numericText(*numeric);
        if (flags) {
            o.hosts[key] = *flags;
        } else {
            o.hosts.erase(key);
        }
    }
    detail::reachabilityReevaluateAll();
}

void setReachabilityGetFlagsFails(bool fails) {
    auto& o = overrides();
    std::lock_guard lock(o.mutex);
    o.getFlagsFails = fails;
}

void resetReachability() {
    {
        auto& o = overrides();
        std::lock_guard lock(o.mutex);
        o.global.reset();
        o.hosts.clear();
        o.getFlagsFails = false;
    }
    detail::reachabilityReevaluateAll();
}

}  // namespace system_testing
