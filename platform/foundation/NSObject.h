#pragma once
// The root of every reference object.
//
// Objects live only inside a Ref (a shared pointer) and are made by make<T>(...), which runs the
// optional didInit() hook once the Ref exists, so that an object can hand out its own Ref or Weak
// there (register as an observer, capture a weak self). Weak<T> references become empty when the
// object goes, which is how delegates, outlets and observers are held.
//
// NSObject stays small: the associated-object store, the per-object recursive lock (the
// "synchronized" lock) and the key-value observer registry are made on first use.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

template <class T>
using Ref = std::shared_ptr<T>;
template <class T>
using Weak = std::weak_ptr<T>;

class Value;
class NSObject;

namespace detail {
struct AssociatedStore;
struct ObservationInfo;
struct ObservationAccess;
void destroyObservationInfo(ObservationInfo* info) noexcept;

// Detects an accessible `void didInit()` member.
template <class T, class = void>
struct HasDidInit : std::false_type {};
template <class T>
struct HasDidInit<T, std::void_t<decltype(std::declval<T&>().didInit())>> : std::true_type {};
}  // namespace detail

// How an associated value is held: retained (strong), copied on the way in, or weakly.
enum class AssociationPolicy { Retain, Copy, Weak };

class NSObject : public std::enable_shared_from_this<NSObject> {
  public:
    NSObject();
    virtual ~NSObject();
    NSObject(const NSObject&) = delete;
    NSObject& operator=(const NSObject&) = delete;

    // The class's name as the system knows it ("QVNCar", "UIView"); used for descriptions,
    // page-view names and by-name registries. Every named class overrides it.
    virtual std::string className() const { return "NSObject"; }
    // "<ClassName: 0x...>" unless a class has something better to say.
    virtual std::string description() const;
    // Identity by default; value-like classes compare their contents.
    virtual bool isEqual(const NSObject& other) const { return this == &other; }
    virtual std::size_t hash() const { return reinterpret_cast<std::uintptr_t>(this) >> 4; }
    // A new object of the receiver's class with the same state, for classes that can be copied;
    // nullptr for those that cannot.
    virtual Ref<NSObject> copyObject() const { return nullptr; }

    // Associated objects: extra state that categories attach to an instance. Keys are the
    // addresses of static variables, as on the platform. Setting nil removes the entry.
    void setAssociatedObject(const void* key, const Value& value,
                             AssociationPolicy policy = AssociationPolicy::Retain);
    Value associatedObject(const void* key) const;

    // The per-object recursive lock behind `synchronized(self)`.
    std::recursive_mutex& synchronizedLock() const;

    // Observable properties (foundation/NSKeyValueObserving.h). A class answers its observable
    // keys here, so that observers receive old and new values; nil for any key it does not know.
    // Subclasses answer their own keys and defer to their base for the rest.
    virtual Value valueForKey(const std::string& key) const;
    // False for keys whose setters announce changes themselves; KVO::assign consults it.
    virtual bool automaticallyNotifiesObserversForKey(const std::string& key) const { return true; }
    // The keys whose changes also change `key` (a derived property): observers of `key` are told
    // whenever one of them changes. Consulted when an observer registers.
    virtual std::vector<std::string> keyPathsForValuesAffectingValueForKey(const std::string& key) const {
        return {};
    }

    // The object's own Ref, or a typed one. Only valid once make<T>() has returned (and inside
    // didInit()), never in a constructor.
    Ref<NSObject> self() { return shared_from_this(); }
    Ref<const NSObject> self() const { return shared_from_this(); }
    template <class T>
    Ref<T> selfAs() {
        return std::dynamic_pointer_cast<T>(shared_from_this());
    }
    Weak<NSObject> weakSelf() { return weak_from_this(); }

  private:
    detail::AssociatedStore& associated() const;

    mutable std::atomic<detail::AssociatedStore*> associated_{nullptr};
    mutable std::atomic<std::recursive_mutex*> lock_{nullptr};
    // Registered key-value observers, made when the first one registers.
    friend struct detail::ObservationAccess;
    mutable std::atomic<detail::ObservationInfo*> observation_{nullptr};
};

// Creates an object inside a Ref and runs its didInit() hook when it has one.
template <class T, class... Args>
Ref<T> make(Args&&... args) {
    auto object = std::make_shared<T>(std::forward<Args>(args)...);
    if constexpr (detail::HasDidInit<T>::value) {
        object->didInit();
    }
    return object;
}

// Kind tests, the platform's isKindOfClass: (nullptr never is of any kind).
template <class T, class U>
bool isKindOf(const Ref<U>& object) {
    return dynamic_cast<const T*>(object.get()) != nullptr;
}
template <class T, class U>
Ref<T> asKind(const Ref<U>& object) {
    return std::dynamic_pointer_cast<T>(object);
}

// Scope guard for `synchronized(object)`.
class Synchronized {
  public:
    explicit Synchronized(const NSObject& object) : lock_(object.synchronizedLock()) {}

  private:
    std::lock_guard<std::recursive_mutex> lock_;
};

// Per-class values: the platform attaches associated objects to classes too. A class-level store
// keyed by class name and key.
void setClassAssociatedObject(const std::string& className, const void* key, const Value& value);
Value classAssociatedObject(const std::string& className, const void* key);

// Equality the platform way: two nulls are equal, a null never equals an object.
bool objectsEqual(const Ref<NSObject>& a, const Ref<NSObject>& b);
