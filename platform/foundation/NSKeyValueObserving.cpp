#include "foundation/NSKeyValueObserving.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "foundation/NSException.h"

namespace detail {

// One registration. Immutable after registration except for `removed`, so a snapshot of the
// registry can be delivered to without any lock.
struct Observance {
    std::uint64_t identifier = 0;
    std::string keyPath;
    // The key path itself and every key that affects it, directly or through other keys.
    std::vector<std::string> affectingKeys;
    NSKeyValueObservingOptions options = 0;
    void* context = nullptr;
    // An observer object (weakly held; identity kept for removal from its destructor)...
    const NSObject* observerIdentity = nullptr;
    Weak<NSObject> observer;
    NSKeyValueObserving* target = nullptr;
    // ...or a block.
    NSKeyValueObservingBlock block;
    std::atomic<bool> removed{false};

    bool affectedBy(const std::string& key) const {
        return std::find(affectingKeys.begin(), affectingKeys.end(), key) != affectingKeys.end();
    }
    bool isDead() const { return !block && observer.expired(); }
};

struct ObservationInfo {
    std::mutex lock;
    std::vector<std::shared_ptr<Observance>> observances;  // registration order
};

struct ObservationAccess {
    static std::atomic<ObservationInfo*>& slot(const NSObject& object) { return object.observation_; }
};

void destroyObservationInfo(ObservationInfo* info) noexcept {
    for (auto& o : info->observances) o->removed.store(true, std::memory_order_release);
    delete info;
}

}  // namespace detail

namespace {

using detail::Observance;
using detail::ObservationAccess;
using detail::ObservationInfo;

std::atomic<std::uint64_t> nextIdentifier{1};

ObservationInfo* existingInfo(const NSObject& object) {
    return ObservationAccess::slot(object).load(std::memory_order_acquire);
}

ObservationInfo& infoFor(NSObject& object) {
    auto& slot = ObservationAccess::slot(object);
    auto info = slot.load(std::memory_order_acquire);
    if (info) return *info;
    auto fresh = new ObservationInfo();
    if (slot.compare_exchange_strong(info, fresh, std::memory_order_acq_rel)) return *fresh;
    delete fresh;  // another thread won the race
    return *info;
}

// The key and, transitively, every key its value is computed from.
std::vector<std::string> affectingClosure(const NSObject& object, const std::string& key) {
    std::vector<std::string> keys{key};
    for (std::size_t i = 0; i < keys.size(); ++i) {
        for (auto& k : object.keyPathsForValuesAffectingValueForKey(keys[i])) {
            if (std::find(keys.begin(), keys.end(), k) == keys.end()) keys.push_back(k);
        }
    }
    return keys;
}

Value boxed(const Value& v) {
    return v.isNil() ? Value::null() : v;
}

// Reads each key at most once per announcement.
class ValueCache {
  public:
    explicit ValueCache(const NSObject& object) : object_(object) {}
    const Value& get(const std::string& key) {
        for (auto& [k, v] : values_) {
            if (k == key) return v;
        }
        values_.emplace_back(key, object_.valueForKey(key));
        return values_.back().second;
    }

  private:
    const NSObject& object_;
    std::vector<std::pair<std::string, Value>> values_;
};

void deliver(const Observance& o, const Ref<NSObject>& object, const Dictionary& change) {
    if (o.removed.load(std::memory_order_acquire)) return;
    if (o.block) {
        o.block(object, change);
        return;
    }
    // Holding the observer keeps it alive for the duration of the call.
    auto observer = o.observer.lock();
    if (!observer || o.removed.load(std::memory_order_acquire)) return;
    o.target->observeValueForKeyPath(o.keyPath, object, change, o.context);
}

Ref<NSObject> refTo(NSObject& object) {
    return object.weakSelf().lock();
}

void registerObservance(NSObject& observed, const std::shared_ptr<Observance>& o) {
    auto& info = infoFor(observed);
    std::lock_guard guard(info.lock);
    // Registrations of observers that died without removing themselves are dropped here.
    std::erase_if(info.observances, [](const std::shared_ptr<Observance>& e) {
        if (!e->isDead()) return false;
        e->removed.store(true, std::memory_order_release);
        return true;
    });
    info.observances.push_back(o);
}

void deliverInitial(NSObject& observed, const Observance& o) {
    if (!(o.options & NSKeyValueObservingOptionInitial)) return;
    Dictionary change;
    change.setObject(NSKeyValueChangeKindKey, Value(NSKeyValueChangeSetting));
    if (o.options & NSKeyValueObservingOptionNew) {
        change.setObject(NSKeyValueChangeNewKey, boxed(observed.valueForKey(o.keyPath)));
    }
    deliver(o, refTo(observed), change);
}

// Removes the most recent matching registration, or every one with `all`.
template <class Match>
void removeMatching(NSObject& observed, Match match, bool all) {
    auto info = existingInfo(observed);
    if (!info) return;
    std::lock_guard guard(info->lock);
    auto& list = info->observances;
    for (std::size_t i = list.size(); i-- > 0;) {
        if (!match(*list[i])) continue;
        list[i]->removed.store(true, std::memory_order_release);
        list.erase(list.begin() + static_cast<long>(i));
        if (!all) return;
    }
}
// A change announced at "will" and not yet at "did", on this thread.
struct PendingChange {
    const NSObject* object;
    std::string key;
    int depth;
    // Each affected registration with the old value of its key path (nil unless Old was asked).
    std::vector<std::pair<std::shared_ptr<Observance>, Value>> entries;
};

thread_local std::vector<PendingChange> pendingChanges;

// Index of the innermost pending change for (object, key), or -1.
long findPending(const NSObject* object, const std::string& key) {
    for (long i = static_cast<long>(pendingChanges.size()) - 1; i >= 0; --i) {
        auto& p = pendingChanges[static_cast<std::size_t>(i)];
        if (p.object == object && p.key == key) return i;
    }
    return -1;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

namespace KVO {

void addObserver(NSObject& observed, const Ref<NSObject>& observer, const std::string& keyPath,
                 NSKeyValueObservingOptions options, void* context) {
    NS_ASSERT_OR(observer, return, "addObserver: the observer is nil");
    auto target = dynamic_cast<NSKeyValueObserving*>(observer.get());
    NS_ASSERT_OR(target, return,
                 observer->description() +
                     " does not implement observeValueForKeyPath (NSKeyValueObserving)");
    auto o = std::make_shared<Observance>();
    o->identifier = nextIdentifier.fetch_add(1, std::memory_order_relaxed);
    o->keyPath = keyPath;
    o->affectingKeys = affectingClosure(observed, keyPath);
    o->options = options;
    o->context = context;
    o->observerIdentity = observer.get();
    o->observer = observer;
    o->target = target;
    registerObservance(observed, o);
    deliverInitial(observed, *o);
}

void removeObserver(NSObject& observed, const NSObject* observer, const std::string& keyPath) {
    if (!observer) return;
    removeMatching(
        observed,
        [&](const Observance& o) {
            return !o.block && o.observerIdentity == observer && o.keyPath == keyPath;
        },
        false);
}

void removeObserver(NSObject& observed, const NSObject* observer, const std::string& keyPath, void* context) {
    if (!observer) return;
    removeMatching(
        observed,
        [&](const Observance& o) {
            return !o.block && o.observerIdentity == observer && o.keyPath == keyPath && o.context == context;
        },
        false);
}

void removeObserver(NSObject& observed, const NSObject* observer) {
    if (!observer) return;
    removeMatching(
        observed, [&](const Observance& o) { return !o.block && o.observerIdentity == observer; }, true);
}

Ref<NSKeyValueObservation> observe(NSObject& observed, const std::string& keyPath,
                                   NSKeyValueObservingOptions options, NSKeyValueObservingBlock block) {
    auto identifier = detail::addObservationBlock(observed, keyPath, options, std::move(block));
    return make<NSKeyValueObservation>(observed.weakSelf(), identifier);
}

void willChangeValueForKey(NSObject& object, const std::string& key) {
    auto info = existingInfo(object);
    if (!info) return;
    long index = findPending(&object, key);
    if (index >= 0) {
        ++pendingChanges[static_cast<std::size_t>(index)].depth;
        return;
    }
    std::vector<std::shared_ptr<Observance>> affected;
    {
        std::lock_guard guard(info->lock);
        for (auto& o : info->observances) {
            if (o->affectedBy(key) && !o->isDead()) affected.push_back(o);
        }
    }
    if (affected.empty()) return;

    PendingChange pending{&object, key, 1, {}};
    pending.entries.reserve(affected.size());
    ValueCache values(object);
    std::vector<std::pair<std::shared_ptr<Observance>, Value>> prior;
    for (auto& o : affected) {
        Value old;
        if (o->options & NSKeyValueObservingOptionOld) old = values.get(o->keyPath);
        if (o->options & NSKeyValueObservingOptionPrior) prior.emplace_back(o, old);
        pending.entries.emplace_back(o, std::move(old));
    }
    pendingChanges.push_back(std::move(pending));
    if (prior.empty()) return;

    auto self = refTo(object);
    for (auto& [o, old] : prior) {
        Dictionary change;
        change.setObject(NSKeyValueChangeKindKey, Value(NSKeyValueChangeSetting));
        change.setObject(NSKeyValueChangeNotificationIsPriorKey, Value(true));
        if (o->options & NSKeyValueObservingOptionOld) change.setObject(NSKeyValueChangeOldKey, boxed(old));
        deliver(*o, self, change);
    }
}

void didChangeValueForKey(NSObject& object, const std::string& key) {
    if (!existingInfo(object)) return;
    long index = findPending(&object, key);
    if (index < 0) return;
    auto position = pendingChanges.begin() + index;
    if (--position->depth > 0) return;
    PendingChange pending = std::move(*position);
    pendingChanges.erase(position);

    auto self = refTo(object);
    ValueCache values(object);
    for (auto& [o, old] : pending.entries) {
        if (o->removed.load(std::memory_order_acquire)) continue;
        Dictionary change;
        change.setObject(NSKeyValueChangeKindKey, Value(NSKeyValueChangeSetting));
        if (o->options & NSKeyValueObservingOptionNew) {
            change.setObject(NSKeyValueChangeNewKey, boxed(values.get(o->keyPath)));
        }
        if (o->options & NSKeyValueObservingOptionOld) change.setObject(NSKeyValueChangeOldKey, boxed(old));
        deliver(*o, self, change);
    }
}

bool hasObservers(const NSObject& object) {
    auto info = existingInfo(object);
    if (!info) return false;
    std::lock_guard guard(info->lock);
    return std::any_of(info->observances.begin(), info->observances.end(),
                       [](const std::shared_ptr<Observance>& o) { return !o->isDead(); });
}

bool hasObservers(const NSObject& object, const std::string& key) {
    auto info = existingInfo(object);
    if (!info) return false;
    std::lock_guard guard(info->lock);
    return std::any_of(
        info->observances.begin(), info->observances.end(),
        [&](const std::shared_ptr<Observance>& o) { return !o->isDead() && o->affectedBy(key); });
}

}  // namespace KVO

// ---------------------------------------------------------------------------------------------

std::uint64_t detail::addObservationBlock(NSObject& observed, const std::string& keyPath,
                                          NSKeyValueObservingOptions options,
                                          NSKeyValueObservingBlock block) {
    auto o = std::make_shared<Observance>();
    o->identifier = nextIdentifier.fetch_add(1, std::memory_order_relaxed);
    o->keyPath = keyPath;
    o->affectingKeys = affectingClosure(observed, keyPath);
    o->options = options;
    o->block = block ? std::move(block) : [](const Ref<NSObject>&, const Dictionary&) {};
    registerObservance(observed, o);
    deliverInitial(observed, *o);
    return o->identifier;
}

void detail::removeObservation(NSObject& observed, std::uint64_t identifier) {
    removeMatching(
        observed, [&](const Observance& o) { return o.identifier == identifier; }, false);
}

NSKeyValueObservation::~NSKeyValueObservation() {
    invalidate();
}

void NSKeyValueObservation::invalidate() {
    auto identifier = identifier_.exchange(0);
    if (!identifier) return;
    if (auto observed = observed_.lock()) detail::removeObservation(*observed, identifier);
}
