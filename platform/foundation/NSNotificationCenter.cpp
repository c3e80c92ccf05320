#include "foundation/NSNotificationCenter.h"

#include <atomic>
#include <mutex>
#include <vector>

#include "foundation/NSOperation.h"
#include "foundation/NSOperationQueue.h"

namespace {

// What addObserverForName returns: an identity for removal, nothing more.
class NotificationObserverToken final : public NSObject {
  public:
    std::string className() const override { return "NSNotificationObserverToken"; }
};

struct Registration {
    std::optional<std::string> name;
    const NSObject* sender = nullptr;
    Weak<NSObject> senderAlive;
    // The observer, or the block's token.
    const NSObject* identity = nullptr;
    Weak<NSObject> observer;
    bool isBlock = false;
    Ref<NSObject> token;
    Ref<NSOperationQueue> queue;
    std::string selectorName;
    NSNotificationCenter::Handler handler;
    std::atomic<bool> removed{false};

    bool matches(const NSNotification& notification) const {
        if (name && *name != notification.name()) return false;
        if (sender && (notification.object().get() != sender || senderAlive.expired())) return false;
        return true;
    }
    bool isDead() const { return !isBlock && observer.expired(); }
};

void deliver(const std::shared_ptr<Registration>& registration, const Ref<NSNotification>& notification) {
    if (registration->removed.load(std::memory_order_acquire)) return;
    if (!registration->isBlock) {
        // Held for the call, so the observer cannot go while its handler runs.
        auto observer = registration->observer.lock();
        if (!observer || registration->removed.load(std::memory_order_acquire)) return;
        registration->handler(notification);
        return;
    }
    auto& queue = registration->queue;
    if (!queue || queue == NSOperationQueue::currentQueue()) {
        registration->handler(notification);
        return;
    }
    auto operation = NSBlockOperation::blockOperationWithBlock([registration, notification] {
        if (!registration->removed.load(std::memory_order_acquire)) registration->handler(notification);
    });
    queue->addOperation(operation);
    operation->waitUntilFinished();
}

}  // namespace

struct NSNotificationCenter::Registry {
    std::mutex lock;
    std::vector<std::shared_ptr<Registration>> registrations;  // registration order

    void add(std::shared_ptr<Registration> registration) {
        std::lock_guard guard(lock);
        registrations.push_back(std::move(registration));
    }

    template <class Match>
    void remove(Match match) {
        std::lock_guard guard(lock);
        std::erase_if(registrations, [&](const std::shared_ptr<Registration>& r) {
            if (!match(*r)) return false;
            r->removed.store(true, std::memory_order_release);
            return true;
        });
    }
};

std::string NSNotification::description() const {
    std::string text = "<" + className() + ": name = " + name_;
    if (object_) text += "; object = " + object_->description();
    if (userInfo_) text += "; userInfo = " + userInfo_->description();
    return text + ">";
}

NSNotificationCenter::NSNotificationCenter() : registry_(std::make_unique<Registry>()) {}

NSNotificationCenter::~NSNotificationCenter() = default;

Ref<NSNotificationCenter> NSNotificationCenter::defaultCenter() {
    // Never destroyed: threads may still post while the process ends.
    static Ref<NSNotificationCenter>* center = new Ref<NSNotificationCenter>(make<NSNotificationCenter>());
    return *center;
}

void NSNotificationCenter::addObserver(const Ref<NSObject>& observer, std::string selectorName,
                                       Handler handler, const std::optional<std::string>& name,
                                       const Ref<NSObject>& sender) {
    if (!observer || !handler) return;
    auto registration = std::make_shared<Registration>();
    registration->name = name;
    registration->sender = sender.get();
    registration->senderAlive = sender;
    registration->identity = observer.get();
    registration->observer = observer;
    registration->selectorName = std::move(selectorName);
    registration->handler = std::move(handler);
    registry_->add(std::move(registration));
}

Ref<NSObject> NSNotificationCenter::addObserverForName(const std::optional<std::string>& name,
                                                       const Ref<NSObject>& sender,
                                                       const Ref<NSOperationQueue>& queue, Handler block) {
    auto token = make<NotificationObserverToken>();
    if (!block) return token;
    auto registration = std::make_shared<Registration>();
    registration->name = name;
    registration->sender = sender.get();
    registration->senderAlive = sender;
    registration->identity = token.get();
    registration->isBlock = true;
    registration->token = token;
    registration->queue = queue;
    registration->handler = std::move(block);
    registry_->add(std::move(registration));
    return token;
}

void NSNotificationCenter::removeObserver(const NSObject* observer) {
    if (!observer) return;
    registry_->remove([&](const Registration& r) { return r.identity == observer; });
}

void NSNotificationCenter::removeObserver(const NSObject* observer, const std::optional<std::string>& name,
                                          const NSObject* sender) {
    if (!observer) return;
    registry_->remove([&](const Registration& r) {
        return r.identity == observer && (!name || r.name == name) && (!sender || r.sender == sender);
    });
}

void NSNotificationCenter::postNotification(const Ref<NSNotification>& notification) {
    if (!notification) return;
    std::vector<std::shared_ptr<Registration>> matching;
    {
        std::lock_guard guard(registry_->lock);
        // Registrations of observers that died without removing themselves go here.
        std::erase_if(registry_->registrations, [](const std::shared_ptr<Registration>& r) {
            if (!r->isDead()) return false;
            r->removed.store(true, std::memory_order_release);
            return true;
        });
        for (auto& registration : registry_->registrations) {
            if (registration->matches(*notification)) matching.push_back(registration);
        }
    }
    // Delivered without the lock: handlers may register, remove and post.
    for (auto& registration : matching) deliver(registration, notification);
}

void NSNotificationCenter::postNotificationName(const std::string& name, const Ref<NSObject>& sender,
                                                std::optional<Dictionary> userInfo) {
    postNotification(NSNotification::notificationWithName(name, sender, std::move(userInfo)));
}
