#pragma once
// Notifications: named broadcasts with a sender and optional user info, delivered by a centre to
// whoever registered for them.
//
// Observing: either an observer object with a handler (the platform's observer and selector),
//
//     center->addObserver(self(), "keyboardWillShow:", [this](const Ref<NSNotification>& n) {...},
//                         "UIKeyboardWillShowNotification", nullptr);
//     center->addObserver(self(), &MyScreen::keyboardWillShow, "UIKeyboardWillShowNotification");
//
// where the observer is held weakly (an observer destroyed without removing itself is never
// called; a handler may therefore capture `this` but must not hold the observer strongly), or a
// block, held strongly until its token is removed:
//
//     auto token = center->addObserverForName("RefreshView", nullptr, nullptr, [](auto& n) {...});
//     center->removeObserver(token);
//
// A nil name observes every name, a nil sender every sender; a sender is matched by identity and
// held weakly (once it is gone the registration matches nothing).
//
// Posting is synchronous on the poster's thread: every matching registration is called, in
// registration order, before post returns. A block registered with an operation queue runs as an
// operation of that queue and the poster waits until it has run (directly, when the poster is
// already running on that queue). Observers may add and remove registrations (their own
// included) during a post: one removed before its turn is not called, one added is first called
// by the next post. Posting and registering from several threads at once is safe.

#include <functional>
#include <optional>
#include <string>

#include "foundation/NSObject.h"
#include "foundation/Value.h"

class NSOperationQueue;

class NSNotification : public NSObject {
  public:
    NSNotification(std::string name, Ref<NSObject> object, std::optional<Dictionary> userInfo = std::nullopt)
        : name_(std::move(name)), object_(std::move(object)), userInfo_(std::move(userInfo)) {}
    static Ref<NSNotification> notificationWithName(std::string name, Ref<NSObject> object,
                                                    std::optional<Dictionary> userInfo = std::nullopt) {
        return make<NSNotification>(std::move(name), std::move(object), std::move(userInfo));
    }

    const std::string& name() const { return name_; }
    // The sender, or nullptr.
    const Ref<NSObject>& object() const { return object_; }
    const std::optional<Dictionary>& userInfo() const { return userInfo_; }
    // One user-info entry; nil when absent or when there is no user info.
    const Value& userInfoValue(std::string_view key) const {
        return userInfo_ ? userInfo_->objectForKey(key) : Value::nil();
    }

    std::string className() const override { return "NSNotification"; }
    std::string description() const override;

  private:
    std::string name_;
    Ref<NSObject> object_;
    std::optional<Dictionary> userInfo_;
};

class NSNotificationCenter : public NSObject {
  public:
    using Handler = std::function<void(const Ref<NSNotification>& notification)>;

    NSNotificationCenter();
    ~NSNotificationCenter() override;

    // The process's centre.
    static Ref<NSNotificationCenter> defaultCenter();

    // Registers `observer` (held weakly) for `name` (nil: all names) from `sender` (nullptr: any
    // sender); `handler` is called for each matching notification while the observer lives.
    // `selectorName` names the handler in descriptions.
    void addObserver(const Ref<NSObject>& observer, std::string selectorName, Handler handler,
                     const std::optional<std::string>& name, const Ref<NSObject>& sender = nullptr);
    // The same with a member function of the observer as the handler.
    template <class T, class C>
    void addObserver(const Ref<T>& observer, void (C::*method)(const Ref<NSNotification>&),
                     const std::optional<std::string>& name, const Ref<NSObject>& sender = nullptr) {
        C* target = observer.get();
        addObserver(
            Ref<NSObject>(observer), "",
            [target, method](const Ref<NSNotification>& n) { (target->*method)(n); }, name, sender);
    }

    // Registers a block, held strongly until the returned token is removed. With a queue, the
    // block runs as an operation of that queue; without one, on the posting thread.
    Ref<NSObject> addObserverForName(const std::optional<std::string>& name, const Ref<NSObject>& sender,
                                     const Ref<NSOperationQueue>& queue, Handler block);

    // Removes every registration of an observer (or a block token). Nothing when none.
    void removeObserver(const NSObject* observer);
    // Removes the observer's registrations for `name` (nil: any) and `sender` (nullptr: any).
    void removeObserver(const NSObject* observer, const std::optional<std::string>& name,
                        const NSObject* sender);
    template <class T>
    void removeObserver(const Ref<T>& observer) {
        removeObserver(static_cast<const NSObject*>(observer.get()));
    }
    template <class T>
    void removeObserver(const Ref<T>& observer, const std::optional<std::string>& name,
                        const NSObject* sender = nullptr) {
        removeObserver(static_cast<const NSObject*>(observer.get()), name, sender);
    }

    void postNotification(const Ref<NSNotification>& notification);
    void postNotificationName(const std::string& name, const Ref<NSObject>& sender = nullptr,
                              std::optional<Dictionary> userInfo = std::nullopt);

    std::string className() const override { return "NSNotificationCenter"; }

  private:
    struct Registry;
    std::unique_ptr<Registry> registry_;
};
