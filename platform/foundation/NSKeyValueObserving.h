#pragma once
// Observable properties: explicit change announcements that observers registered on an object
// receive synchronously, with the old and new values. There is no general key-value coding; a
// class makes a property observable in three steps:
//
//   1. Its setter announces the change: `KVO::assign(*this, "count", count_, value)` wraps the
//      assignment in willChangeValueForKey / didChangeValueForKey (unless the class turned
//      automatic notification off for the key); a setter that decides itself when to announce
//      calls `KVO::willChangeValueForKey(*this, key)` / `didChangeValueForKey` around the change,
//      or holds a `KVO::ChangeScope` for the duration.
//   2. It answers the key in `valueForKey` (an NSObject virtual), which is where old values are
//      read at "will" and new values at "did". Keys it does not answer give nil, sent as null.
//   3. Optionally, it overrides `automaticallyNotifiesObserversForKey` (false for keys whose
//      setters announce themselves, e.g. `return !KVO::isAnyOf(key, {"a", "b"}) && Base::...`)
//      and `keyPathsForValuesAffectingValueForKey` (a derived key K answers the keys it is
//      computed from: a change of any of them is announced to K's observers with K's values).
//
// An observer is an NSObject that also implements the NSKeyValueObserving protocol class; it is
// held weakly: once destroyed it is never called, whether or not it removed itself. A block
// observation (`KVO::observe`) returns a token that removes the observation when destroyed.
//
// Guarantees:
// - Callbacks run synchronously on the thread that announces the change, in registration order,
//   with no lock of this mechanism held: a callback may add or remove observers (itself
//   included) and announce other changes. An observer removed before its turn is not called.
// - Nested will/did pairs for one key of one object on one thread count: only the outermost pair
//   notifies, with the old value read at the outermost "will" and the new at the outermost "did".
// - Removing an observation that is not registered does nothing (no exception).
// - Registrations and announcements may come from any thread; announcements for different
//   objects (or different keys of one object) may run in parallel.
// - Key paths are single keys; "a.b" is taken as one key name.
// - Observations die with the observed object.

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "foundation/NSObject.h"
#include "foundation/Value.h"

using NSKeyValueObservingOptions = unsigned;
enum : NSKeyValueObservingOptions {
    // The change carries the value after the change under NSKeyValueChangeNewKey.
    NSKeyValueObservingOptionNew = 0x01,
    // The change carries the value before the change under NSKeyValueChangeOldKey.
    NSKeyValueObservingOptionOld = 0x02,
    // One notification at registration, carrying the current value when New is also asked.
    NSKeyValueObservingOptionInitial = 0x04,
    // An extra notification at "will", marked by NSKeyValueChangeNotificationIsPriorKey.
    NSKeyValueObservingOptionPrior = 0x08,
};

// The change kinds; every announced change is a setting.
enum : long {
    NSKeyValueChangeSetting = 1,
    NSKeyValueChangeInsertion = 2,
    NSKeyValueChangeRemoval = 3,
    NSKeyValueChangeReplacement = 4,
};

// Keys of the change dictionary.
inline constexpr char NSKeyValueChangeKindKey[] = "kind";
inline constexpr char NSKeyValueChangeNewKey[] = "new";
inline constexpr char NSKeyValueChangeOldKey[] = "old";
inline constexpr char NSKeyValueChangeIndexesKey[] = "indexes";
inline constexpr char NSKeyValueChangeNotificationIsPriorKey[] = "notificationIsPrior";

// The observer protocol. `object` is the observed object (null only when it announces a change
// while being destroyed); `context` is the token given at registration.
class NSKeyValueObserving {
  public:
    virtual ~NSKeyValueObserving() = default;
    virtual void observeValueForKeyPath(const std::string& keyPath, const Ref<NSObject>& object,
                                        const Dictionary& change, void* context) = 0;
};

// A block observation's callback: the observed object and the change.
using NSKeyValueObservingBlock = std::function<void(const Ref<NSObject>& object, const Dictionary& change)>;

// The handle of a block observation: removes it when invalidated or destroyed. The observed
// object is held weakly.
class NSKeyValueObservation : public NSObject {
  public:
    NSKeyValueObservation(Weak<NSObject> observed, std::uint64_t identifier)
        : observed_(std::move(observed)), identifier_(identifier) {}
    ~NSKeyValueObservation() override;

    // Removes the observation; later calls do nothing.
    void invalidate();

    std::string className() const override { return "NSKeyValueObservation"; }

  private:
    Weak<NSObject> observed_;
    std::atomic<std::uint64_t> identifier_;
};

namespace KVO {

// Registers `observer` (an NSObject implementing NSKeyValueObserving, held weakly) for changes of
// `keyPath` of `observed`. An observer that does not implement the protocol is refused (an
// assertion). The same observer may register several times; each registration is notified.
void addObserver(NSObject& observed, const Ref<NSObject>& observer, const std::string& keyPath,
                 NSKeyValueObservingOptions options = 0, void* context = nullptr);
// Removes the most recent registration of `observer` for `keyPath` (with that context, in the
// second form). Ignored when there is none. Usable from the observer's destructor.
void removeObserver(NSObject& observed, const NSObject* observer, const std::string& keyPath);
void removeObserver(NSObject& observed, const NSObject* observer, const std::string& keyPath, void* context);
// Removes every registration of `observer` on `observed`.
void removeObserver(NSObject& observed, const NSObject* observer);

// Observes with a block; the observation lasts until the token is invalidated or destroyed (or
// the observed object goes). `observed` must be owned by a Ref.
Ref<NSKeyValueObservation> observe(NSObject& observed, const std::string& keyPath,
                                   NSKeyValueObservingOptions options, NSKeyValueObservingBlock block);

// Change announcements, around the change itself.
void willChangeValueForKey(NSObject& object, const std::string& key);
void didChangeValueForKey(NSObject& object, const std::string& key);

// The value of a key, read through the object's valueForKey.
inline Value valueForKey(const NSObject& object, const std::string& key) {
    return object.valueForKey(key);
}

// Whether any observation is registered on the object (for `key`, in the second form, counting
// keys that affect it).
bool hasObservers(const NSObject& object);
bool hasObservers(const NSObject& object, const std::string& key);

// Announces a change for the lifetime of the scope: will at construction, did at destruction.
class ChangeScope {
  public:
    ChangeScope(NSObject& object, std::string key) : object_(object), key_(std::move(key)) {
        willChangeValueForKey(object_, key_);
    }
    ~ChangeScope() { didChangeValueForKey(object_, key_); }
    ChangeScope(const ChangeScope&) = delete;
    ChangeScope& operator=(const ChangeScope&) = delete;

  private:
    NSObject& object_;
    std::string key_;
};

// The observable setter: stores `value` in `field`, announcing the change when the class notifies
// automatically for `key` (every call announces, even when the value is unchanged).
template <class T, class V>
void assign(NSObject& object, const std::string& key, T& field, V&& value) {
    if (object.automaticallyNotifiesObserversForKey(key)) {
        willChangeValueForKey(object, key);
        field = std::forward<V>(value);
        didChangeValueForKey(object, key);
    } else {
        field = std::forward<V>(value);
    }
}

// For automaticallyNotifiesObserversForKey and keyPathsForValuesAffectingValueForKey overrides.
inline bool isAnyOf(std::string_view key, std::initializer_list<std::string_view> keys) {
    for (auto k : keys) {
        if (k == key) return true;
    }
    return false;
}

}  // namespace KVO

namespace detail {
// Internal block observations (operations and queues watch each other with them); they need no
// Ref to the observed object, so an object may observe itself from its constructor. The
// identifier removes the observation.
std::uint64_t addObservationBlock(NSObject& observed, const std::string& keyPath,
                                  NSKeyValueObservingOptions options, NSKeyValueObservingBlock block);
void removeObservation(NSObject& observed, std::uint64_t identifier);
}  // namespace detail
