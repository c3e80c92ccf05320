#include "foundation/NSKeyValueObserving.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "foundation/NSLog.h"

namespace {

// An object with observable properties of each kind: automatic ("count", "name"), manual
// ("manual"), derived ("doubled" from "count", "label" from "doubled").
class Gauge : public NSObject {
  public:
    int count() const { return count_.load(); }
    void setCount(int value) { KVO::assign(*this, "count", count_, value); }
    // Writes without announcing, for tests that announce by hand.
    void storeCount(int value) { count_ = value; }

    std::optional<std::string> name() const {
        std::lock_guard guard(lock_);
        return name_;
    }
    void setName(std::optional<std::string> value) {
        KVO::ChangeScope scope(*this, "name");
        std::lock_guard guard(lock_);
        name_ = std::move(value);
    }

    // The setter leaves announcing to the caller's choice.
    void setManualQuietly(int value) { KVO::assign(*this, "manual", manual_, value); }
    void setManualAnnounced(int value) {
        KVO::willChangeValueForKey(*this, "manual");
        manual_ = value;
        KVO::didChangeValueForKey(*this, "manual");
    }

    Value valueForKey(const std::string& key) const override {
        if (key == "count") return Value(count());
        if (key == "doubled") return Value(count() * 2);
        if (key == "label") return Value("x" + std::to_string(count() * 2));
        if (key == "manual") return Value(manual_.load());
        if (key == "name") return Value(name());
        return NSObject::valueForKey(key);
    }
    bool automaticallyNotifiesObserversForKey(const std::string& key) const override {
        return !KVO::isAnyOf(key, {"manual"}) && NSObject::automaticallyNotifiesObserversForKey(key);
    }
    std::vector<std::string> keyPathsForValuesAffectingValueForKey(const std::string& key) const override {
        if (key == "doubled") return {"count"};
        if (key == "label") return {"doubled"};
        return NSObject::keyPathsForValuesAffectingValueForKey(key);
    }

  private:
    std::atomic<int> count_{0};
    std::atomic<int> manual_{0};
    mutable std::mutex lock_;
    std::optional<std::string> name_;
};

struct Call {
    std::string keyPath;
    Ref<NSObject> object;
    Dictionary change;
    void* context;
    std::thread::id thread;
};

class Recorder : public NSObject, public NSKeyValueObserving {
  public:
    void observeValueForKeyPath(const std::string& keyPath, const Ref<NSObject>& object,
                                const Dictionary& change, void* context) override {
        Call call{keyPath, object, change, context, std::this_thread::get_id()};
        {
            std::lock_guard guard(lock_);
            calls_.push_back(call);
        }
        if (onCall) onCall(call);
    }
    std::vector<Call> calls() const {
        std::lock_guard guard(lock_);
        return calls_;
    }
    std::size_t count() const {
        std::lock_guard guard(lock_);
        return calls_.size();
    }

    std::function<void(const Call&)> onCall;

  private:
    mutable std::mutex lock_;
    std::vector<Call> calls_;
};

// An NSObject that does not implement the observer protocol.
class NotAnObserver : public NSObject {};

constexpr auto NewOld = NSKeyValueObservingOptionNew | NSKeyValueObservingOptionOld;

class KeyValueObservingTest : public ::testing::Test {
  protected:
    Ref<Gauge> gauge = make<Gauge>();
    Ref<Recorder> recorder = make<Recorder>();
};

TEST_F(KeyValueObservingTest, DeliversOldAndNewValuesWithContextSynchronously) {
    int token = 0;
    KVO::addObserver(*gauge, recorder, "count", NewOld, &token);
    gauge->setCount(5);
    auto calls = recorder->calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].keyPath, "count");
    EXPECT_EQ(calls[0].object, gauge);
    EXPECT_EQ(calls[0].context, &token);
    EXPECT_EQ(calls[0].thread, std::this_thread::get_id());
    EXPECT_EQ(calls[0].change[NSKeyValueChangeKindKey].intValue(), NSKeyValueChangeSetting);
    EXPECT_EQ(calls[0].change[NSKeyValueChangeOldKey].intValue(), 0);
    EXPECT_EQ(calls[0].change[NSKeyValueChangeNewKey].intValue(), 5);
    EXPECT_FALSE(calls[0].change.containsKey(NSKeyValueChangeNotificationIsPriorKey));
}

TEST_F(KeyValueObservingTest, ChangeCarriesOnlyWhatTheOptionsAsk) {
    KVO::addObserver(*gauge, recorder, "count");
    gauge->setCount(1);
    KVO::removeObserver(*gauge, recorder.get(), "count");
    KVO::addObserver(*gauge, recorder, "count", NSKeyValueObservingOptionNew);
    gauge->setCount(2);
    auto calls = recorder->calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].change.count(), 1u);
    EXPECT_TRUE(calls[0].change.containsKey(NSKeyValueChangeKindKey));
    EXPECT_EQ(calls[1].change[NSKeyValueChangeNewKey].intValue(), 2);
    EXPECT_FALSE(calls[1].change.containsKey(NSKeyValueChangeOldKey));
}

TEST_F(KeyValueObservingTest, EveryAnnouncedAssignmentNotifiesEvenWithAnEqualValue) {
    KVO::addObserver(*gauge, recorder, "count", NewOld);
    gauge->setCount(3);
    gauge->setCount(3);
    auto calls = recorder->calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].change[NSKeyValueChangeOldKey].intValue(), 3);
    EXPECT_EQ(calls[1].change[NSKeyValueChangeNewKey].intValue(), 3);
}

TEST_F(KeyValueObservingTest, InitialNotificationAtRegistration) {
    gauge->setCount(7);
    KVO::addObserver(*gauge, recorder, "count", NSKeyValueObservingOptionInitial | NewOld);
    auto calls = recorder->calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].change[NSKeyValueChangeNewKey].intValue(), 7);
    EXPECT_FALSE(calls[0].change.containsKey(NSKeyValueChangeOldKey));

    auto bare = make<Recorder>();
    KVO::addObserver(*gauge, bare, "count", NSKeyValueObservingOptionInitial);
    ASSERT_EQ(bare->count(), 1u);
    EXPECT_FALSE(bare->calls()[0].change.containsKey(NSKeyValueChangeNewKey));
}

TEST_F(KeyValueObservingTest, PriorNotificationComesBeforeTheChange) {
    std::vector<int> seenDuringPrior;
    recorder->onCall = [&](const Call& call) {
        if (call.change[NSKeyValueChangeNotificationIsPriorKey].boolValue())
            seenDuringPrior.push_back(gauge->count());
    };
    gauge->setCount(1);
    KVO::addObserver(*gauge, recorder, "count", NSKeyValueObservingOptionPrior | NewOld);
    gauge->setCount(2);
    auto calls = recorder->calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_TRUE(calls[0].change[NSKeyValueChangeNotificationIsPriorKey].boolValue());
    EXPECT_EQ(calls[0].change[NSKeyValueChangeOldKey].intValue(), 1);
    EXPECT_FALSE(calls[0].change.containsKey(NSKeyValueChangeNewKey));
    EXPECT_FALSE(calls[1].change.containsKey(NSKeyValueChangeNotificationIsPriorKey));
    EXPECT_EQ(calls[1].change[NSKeyValueChangeNewKey].intValue(), 2);
    EXPECT_EQ(seenDuringPrior, std::vector<int>{1});
}

TEST_F(KeyValueObservingTest, NilValuesAreSentAsNull) {
    KVO::addObserver(*gauge, recorder, "name", NewOld);
    gauge->setName("a");
    gauge->setName(std::nullopt);
    auto calls = recorder->calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_TRUE(calls[0].change[NSKeyValueChangeOldKey].isNull());
    EXPECT_EQ(calls[0].change[NSKeyValueChangeNewKey].stringValue(), "a");
    EXPECT_EQ(calls[1].change[NSKeyValueChangeOldKey].stringValue(), "a");
    EXPECT_TRUE(calls[1].change[NSKeyValueChangeNewKey].isNull());
}

TEST_F(KeyValueObservingTest, KeysWithoutAutomaticNotificationAnnounceOnlyByHand) {
    EXPECT_FALSE(gauge->automaticallyNotifiesObserversForKey("manual"));
    EXPECT_TRUE(gauge->automaticallyNotifiesObserversForKey("count"));
    KVO::addObserver(*gauge, recorder, "manual", NewOld);
    gauge->setManualQuietly(4);
    EXPECT_EQ(recorder->count(), 0u);
    EXPECT_EQ(KVO::valueForKey(*gauge, "manual").intValue(), 4);
    gauge->setManualAnnounced(9);
    auto calls = recorder->calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].change[NSKeyValueChangeOldKey].intValue(), 4);
    EXPECT_EQ(calls[0].change[NSKeyValueChangeNewKey].intValue(), 9);
}

TEST_F(KeyValueObservingTest, DependentKeyObserversAreToldWithTheDerivedValues) {
    gauge->setCount(1);
    KVO::addObserver(*gauge, recorder, "doubled", NewOld);
    auto labels = make<Recorder>();
    KVO::addObserver(*gauge, labels, "label", NewOld);
    EXPECT_TRUE(KVO::hasObservers(*gauge, "count"));
    gauge->setCount(3);
    auto calls = recorder->calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].keyPath, "doubled");
    EXPECT_EQ(calls[0].change[NSKeyValueChangeOldKey].intValue(), 2);
    EXPECT_EQ(calls[0].change[NSKeyValueChangeNewKey].intValue(), 6);
    // Through two levels of dependency.
    auto labelCalls = labels->calls();
    ASSERT_EQ(labelCalls.size(), 1u);
    EXPECT_EQ(labelCalls[0].change[NSKeyValueChangeOldKey].stringValue(), "x2");
    EXPECT_EQ(labelCalls[0].change[NSKeyValueChangeNewKey].stringValue(), "x6");
    // A change of an unrelated key does not reach them.
    gauge->setName("n");
    EXPECT_EQ(recorder->count(), 1u);
}

TEST_F(KeyValueObservingTest, ObserversAreCalledInRegistrationOrder) {
    std::vector<std::string> order;
    auto first = make<Recorder>();
    auto second = make<Recorder>();
    first->onCall = [&](const Call& c) { order.push_back("first:" + c.keyPath); };
    second->onCall = [&](const Call& c) { order.push_back("second:" + c.keyPath); };
    KVO::addObserver(*gauge, first, "doubled");
    KVO::addObserver(*gauge, second, "count");
    gauge->setCount(1);
    EXPECT_EQ(order, (std::vector<std::string>{"first:doubled", "second:count"}));
}

TEST_F(KeyValueObservingTest, NestedPairsForOneKeyNotifyOnceForTheOutermost) {
    KVO::addObserver(*gauge, recorder, "count", NewOld | NSKeyValueObservingOptionPrior);
    KVO::willChangeValueForKey(*gauge, "count");
    gauge->storeCount(1);
    KVO::willChangeValueForKey(*gauge, "count");
    gauge->storeCount(2);
    KVO::didChangeValueForKey(*gauge, "count");
    EXPECT_EQ(recorder->count(), 1u);  // only the prior one so far
    KVO::didChangeValueForKey(*gauge, "count");
    auto calls = recorder->calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].change[NSKeyValueChangeOldKey].intValue(), 0);
    EXPECT_EQ(calls[1].change[NSKeyValueChangeNewKey].intValue(), 2);
    // The count is back to zero: a later pair notifies again.
    gauge->setCount(5);
    EXPECT_EQ(recorder->count(), 4u);
}

TEST_F(KeyValueObservingTest, InterleavedKeysAreMatchedByKey) {
    KVO::addObserver(*gauge, recorder, "count", NewOld);
    auto names = make<Recorder>();
    KVO::addObserver(*gauge, names, "name", NewOld);
    KVO::willChangeValueForKey(*gauge, "count");
    KVO::willChangeValueForKey(*gauge, "name");
    gauge->storeCount(8);
    KVO::didChangeValueForKey(*gauge, "count");
    KVO::didChangeValueForKey(*gauge, "name");
    ASSERT_EQ(recorder->count(), 1u);
    EXPECT_EQ(recorder->calls()[0].change[NSKeyValueChangeNewKey].intValue(), 8);
    EXPECT_EQ(names->count(), 1u);
}

TEST_F(KeyValueObservingTest, UnpairedDidAndUnobservedChangesDoNothing) {
    KVO::didChangeValueForKey(*gauge, "count");
    gauge->setCount(1);
    KVO::addObserver(*gauge, recorder, "count");
    KVO::didChangeValueForKey(*gauge, "count");
    EXPECT_EQ(recorder->count(), 0u);
}

TEST_F(KeyValueObservingTest, RemovedObserversAreNotCalled) {
    int a = 0, b = 0;
    KVO::addObserver(*gauge, recorder, "count", 0, &a);
    KVO::addObserver(*gauge, recorder, "count", 0, &b);
    gauge->setCount(1);
    EXPECT_EQ(recorder->count(), 2u);
    // With a context, only that registration goes.
    KVO::removeObserver(*gauge, recorder.get(), "count", &a);
    gauge->setCount(2);
    ASSERT_EQ(recorder->count(), 3u);
    EXPECT_EQ(recorder->calls()[2].context, &b);
    KVO::removeObserver(*gauge, recorder.get(), "count");
    gauge->setCount(3);
    EXPECT_EQ(recorder->count(), 3u);
    EXPECT_FALSE(KVO::hasObservers(*gauge));
}

TEST_F(KeyValueObservingTest, RemovingWhatIsNotRegisteredIsIgnored) {
    auto other = make<Gauge>();
    KVO::removeObserver(*other, recorder.get(), "count");  // nothing ever registered
    KVO::addObserver(*gauge, recorder, "count");
    KVO::removeObserver(*gauge, recorder.get(), "name");
    KVO::removeObserver(*gauge, recorder.get(), "count", reinterpret_cast<void*>(0x1));
    KVO::removeObserver(*gauge, nullptr, "count");
    gauge->setCount(1);
    EXPECT_EQ(recorder->count(), 1u);
    KVO::removeObserver(*gauge, recorder.get(), "count");
    KVO::removeObserver(*gauge, recorder.get(), "count");  // twice
    gauge->setCount(2);
    EXPECT_EQ(recorder->count(), 1u);
}

TEST_F(KeyValueObservingTest, RemovingEveryRegistrationOfAnObserver) {
    KVO::addObserver(*gauge, recorder, "count");
    KVO::addObserver(*gauge, recorder, "name");
    auto other = make<Recorder>();
    KVO::addObserver(*gauge, other, "count");
    KVO::removeObserver(*gauge, recorder.get());
    gauge->setCount(1);
    gauge->setName("z");
    EXPECT_EQ(recorder->count(), 0u);
    EXPECT_EQ(other->count(), 1u);
}

TEST_F(KeyValueObservingTest, DestroyedObserverIsNeverCalled) {
    auto calls = std::make_shared<std::atomic<int>>(0);
    {
        auto transient = make<Recorder>();
        transient->onCall = [calls](const Call&) { ++*calls; };
        KVO::addObserver(*gauge, transient, "count");
        gauge->setCount(1);
    }
    EXPECT_EQ(*calls, 1);
    gauge->setCount(2);
    EXPECT_EQ(*calls, 1);
    EXPECT_FALSE(KVO::hasObservers(*gauge));
}

TEST_F(KeyValueObservingTest, ObserverRemovingItselfAndOthersDuringACallback) {
    auto later = make<Recorder>();
    recorder->onCall = [&](const Call&) {
        KVO::removeObserver(*gauge, recorder.get(), "count");
        KVO::removeObserver(*gauge, later.get(), "count");
    };
    KVO::addObserver(*gauge, recorder, "count");
    KVO::addObserver(*gauge, later, "count");
    gauge->setCount(1);
    gauge->setCount(2);
    EXPECT_EQ(recorder->count(), 1u);
    EXPECT_EQ(later->count(), 0u);
}

TEST_F(KeyValueObservingTest, ObserverAddedDuringACallbackHearsTheNextChange) {
    auto added = make<Recorder>();
    bool once = false;
    recorder->onCall = [&](const Call&) {
        if (once) return;
        once = true;
        KVO::addObserver(*gauge, added, "count", NSKeyValueObservingOptionNew);
    };
    KVO::addObserver(*gauge, recorder, "count");
    gauge->setCount(1);
    EXPECT_EQ(added->count(), 0u);
    gauge->setCount(2);
    ASSERT_EQ(added->count(), 1u);
    EXPECT_EQ(added->calls()[0].change[NSKeyValueChangeNewKey].intValue(), 2);
}

TEST_F(KeyValueObservingTest, ObserverDestroyedByAnEarlierCallbackIsSkipped) {
    auto victim = std::make_shared<Ref<Recorder>>(make<Recorder>());
    auto victimCalls = std::make_shared<std::atomic<int>>(0);
    (*victim)->onCall = [victimCalls](const Call&) { ++*victimCalls; };
    recorder->onCall = [victim](const Call&) { victim->reset(); };
    KVO::addObserver(*gauge, recorder, "count");
    KVO::addObserver(*gauge, *victim, "count");
    gauge->setCount(1);
    EXPECT_EQ(*victimCalls, 0);
}

TEST_F(KeyValueObservingTest, ChangesAnnouncedInsideACallbackAreDelivered) {
    auto names = make<Recorder>();
    KVO::addObserver(*gauge, names, "name", NSKeyValueObservingOptionNew);
    recorder->onCall = [&](const Call& call) {
        gauge->setName("count is " + call.change[NSKeyValueChangeNewKey].stringValue());
    };
    KVO::addObserver(*gauge, recorder, "count", NSKeyValueObservingOptionNew);
    gauge->setCount(4);
    ASSERT_EQ(names->count(), 1u);
    EXPECT_EQ(names->calls()[0].change[NSKeyValueChangeNewKey].stringValue(), "count is 4");
}

TEST_F(KeyValueObservingTest, BlockObservationLastsAsLongAsItsToken) {
    std::vector<int> seen;
    auto token = KVO::observe(*gauge, "count", NSKeyValueObservingOptionNew,
                              [&](const Ref<NSObject>& object, const Dictionary& change) {
                                  EXPECT_EQ(object, gauge);
                                  seen.push_back(change[NSKeyValueChangeNewKey].intValue());
                              });
    gauge->setCount(1);
    gauge->setCount(2);
    token.reset();
    gauge->setCount(3);
    EXPECT_EQ(seen, (std::vector<int>{1, 2}));

    auto again =
        KVO::observe(*gauge, "doubled", NSKeyValueObservingOptionNew | NSKeyValueObservingOptionInitial,
                     [&](const Ref<NSObject>&, const Dictionary& change) {
                         seen.push_back(change[NSKeyValueChangeNewKey].intValue());
                     });
    gauge->setCount(4);
    again->invalidate();
    again->invalidate();
    gauge->setCount(5);
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 6, 8}));
}

TEST_F(KeyValueObservingTest, TokenOutlivingTheObservedObjectIsHarmless) {
    int calls = 0;
    Ref<NSKeyValueObservation> token;
    {
        auto transient = make<Gauge>();
        token =
            KVO::observe(*transient, "count", 0, [&](const Ref<NSObject>&, const Dictionary&) { ++calls; });
        KVO::addObserver(*transient, recorder, "count");
        transient->setCount(1);
    }
    token->invalidate();
    token.reset();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(recorder->count(), 1u);
}

TEST_F(KeyValueObservingTest, ObjectWithoutTheProtocolIsRefused) {
#ifdef NDEBUG
    std::vector<std::string> lines;
    NSLogSink previous = NSLogSetSink([&](const std::string& line) { lines.push_back(line); });
    auto plain = make<NotAnObserver>();
    KVO::addObserver(*gauge, plain, "count");
    NSLogSetSink(previous);
    EXPECT_FALSE(KVO::hasObservers(*gauge));
    EXPECT_EQ(lines.size(), 1u);
#else
    GTEST_SKIP() << "assertions abort in debug builds";
#endif
}

TEST_F(KeyValueObservingTest, ValueForKeyReadsThroughTheClass) {
    gauge->setCount(21);
    EXPECT_EQ(KVO::valueForKey(*gauge, "doubled").intValue(), 42);
    EXPECT_TRUE(KVO::valueForKey(*gauge, "unknown").isNil());
    EXPECT_TRUE(KVO::valueForKey(*gauge, "name").isNil());
}

TEST_F(KeyValueObservingTest, CallbacksRunOnTheAnnouncingThread) {
    KVO::addObserver(*gauge, recorder, "count");
    std::thread::id worker;
    std::thread t([&] {
        worker = std::this_thread::get_id();
        gauge->setCount(1);
    });
    t.join();
    auto calls = recorder->calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].thread, worker);
}

TEST(KeyValueObservingConcurrencyTest, ThreadsChangingTheirOwnObjects) {
    constexpr int kThreads = 8, kChanges = 500;
    auto shared = make<Recorder>();
    std::vector<Ref<Gauge>> gauges;
    std::vector<Ref<Recorder>> own;
    for (int i = 0; i < kThreads; ++i) {
        gauges.push_back(make<Gauge>());
        own.push_back(make<Recorder>());
        KVO::addObserver(*gauges[i], own[i], "count", NewOld);
        KVO::addObserver(*gauges[i], shared, "doubled");
    }
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            for (int n = 1; n <= kChanges; ++n) gauges[i]->setCount(n);
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(shared->count(), static_cast<std::size_t>(kThreads * kChanges));
    for (int i = 0; i < kThreads; ++i) {
        auto calls = own[i]->calls();
        ASSERT_EQ(calls.size(), static_cast<std::size_t>(kChanges));
        for (int n = 0; n < kChanges; ++n) {
            EXPECT_EQ(calls[n].change[NSKeyValueChangeOldKey].intValue(), n);
            EXPECT_EQ(calls[n].change[NSKeyValueChangeNewKey].intValue(), n + 1);
        }
    }
}

TEST(KeyValueObservingConcurrencyTest, RegistrationsComeAndGoWhileChangesAreAnnounced) {
    auto gauge = make<Gauge>();
    auto steady = make<Recorder>();
    KVO::addObserver(*gauge, steady, "count");
    std::atomic<bool> stop{false};
    std::thread churn([&] {
        while (!stop) {
            auto transient = make<Recorder>();
            KVO::addObserver(*gauge, transient, "count", NewOld);
            auto token = KVO::observe(*gauge, "name", 0, [](const Ref<NSObject>&, const Dictionary&) {});
            KVO::removeObserver(*gauge, transient.get(), "count");
        }
    });
    std::thread names([&] {
        for (int n = 0; n < 500; ++n) gauge->setName(std::to_string(n));
    });
    for (int n = 1; n <= 1000; ++n) gauge->setCount(n);
    names.join();
    stop = true;
    churn.join();
    EXPECT_EQ(steady->count(), 1000u);
}

}  // namespace
