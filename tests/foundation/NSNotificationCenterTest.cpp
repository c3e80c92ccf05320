#include "foundation/NSNotificationCenter.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "dispatch/Dispatch.h"
#include "foundation/NSOperationQueue.h"

namespace {

// An observer that records what reaches it.
class Listener : public NSObject {
  public:
    void heard(const Ref<NSNotification>& notification) {
        std::lock_guard guard(lock_);
        names_.push_back(notification->name());
        last_ = notification;
    }
    std::vector<std::string> names() const {
        std::lock_guard guard(lock_);
        return names_;
    }
    std::size_t count() const {
        std::lock_guard guard(lock_);
        return names_.size();
    }
    Ref<NSNotification> last() const {
        std::lock_guard guard(lock_);
        return last_;
    }

  private:
    mutable std::mutex lock_;
    std::vector<std::string> names_;
    Ref<NSNotification> last_;
};

class Sender : public NSObject {};

class NSNotificationCenterTest : public ::testing::Test {
  protected:
    // Observes through the handler form, capturing the raw pointer as an observer would.
    void listen(const Ref<Listener>& listener, const std::optional<std::string>& name,
                const Ref<NSObject>& sender = nullptr) {
        Listener* raw = listener.get();
        center->addObserver(
            listener, "heard:", [raw](const Ref<NSNotification>& n) { raw->heard(n); }, name, sender);
    }

    Ref<NSNotificationCenter> center = make<NSNotificationCenter>();
};

TEST_F(NSNotificationCenterTest, DeliversByName) {
    auto listener = make<Listener>();
    listen(listener, "LoginSuccess");
    center->postNotificationName("LoginSuccess");
    center->postNotificationName("LogoutSuccess");
    center->postNotificationName("LoginSuccess");
    EXPECT_EQ(listener->names(), (std::vector<std::string>{"LoginSuccess", "LoginSuccess"}));
}

TEST_F(NSNotificationCenterTest, NilNameHearsEveryName) {
    auto listener = make<Listener>();
    listen(listener, std::nullopt);
    center->postNotificationName("a");
    center->postNotificationName("b");
    EXPECT_EQ(listener->names(), (std::vector<std::string>{"a", "b"}));
}

TEST_F(NSNotificationCenterTest, SenderFilter) {
    auto mine = make<Sender>();
    auto other = make<Sender>();
    auto fromMine = make<Listener>();
    auto fromAnyone = make<Listener>();
    listen(fromMine, "RefreshView", mine);
    listen(fromAnyone, "RefreshView");
    center->postNotificationName("RefreshView", mine);
    center->postNotificationName("RefreshView", other);
    center->postNotificationName("RefreshView");
    EXPECT_EQ(fromMine->count(), 1u);
    EXPECT_EQ(fromMine->last()->object(), mine);
    EXPECT_EQ(fromAnyone->count(), 3u);
}

TEST_F(NSNotificationCenterTest, RegistrationForAGoneSenderMatchesNothing) {
    auto listener = make<Listener>();
    {
        auto transient = make<Sender>();
        listen(listener, "x", transient);
        center->postNotificationName("x", transient);
    }
    EXPECT_EQ(listener->count(), 1u);
    // Whatever object comes next, even at the same address, is another sender.
    for (int i = 0; i < 8; ++i) center->postNotificationName("x", make<Sender>());
    EXPECT_EQ(listener->count(), 1u);
}

TEST_F(NSNotificationCenterTest, CarriesObjectAndUserInfo) {
    auto listener = make<Listener>();
    listen(listener, "updateRead");
    auto sender = make<Sender>();
    center->postNotificationName("updateRead", sender, Dictionary{{"isUpdate", "YES"}});
    auto note = listener->last();
    ASSERT_TRUE(note);
    EXPECT_EQ(note->name(), "updateRead");
    EXPECT_EQ(note->object(), sender);
    ASSERT_TRUE(note->userInfo());
    EXPECT_EQ(note->userInfoValue("isUpdate").stringValue(), "YES");
    EXPECT_TRUE(note->userInfoValue("missing").isNil());

    center->postNotificationName("updateRead");
    note = listener->last();
    EXPECT_FALSE(note->userInfo());
    EXPECT_EQ(note->object(), nullptr);
    EXPECT_TRUE(note->userInfoValue("isUpdate").isNil());
    EXPECT_NE(note->description().find("updateRead"), std::string::npos);
}

TEST_F(NSNotificationCenterTest, PostingANotificationObject) {
    auto listener = make<Listener>();
    listen(listener, "n");
    auto note = NSNotification::notificationWithName("n", nullptr, Dictionary{{"k", 1}});
    center->postNotification(note);
    center->postNotification(nullptr);
    EXPECT_EQ(listener->last(), note);
    EXPECT_EQ(listener->count(), 1u);
}

TEST_F(NSNotificationCenterTest, DeliveredInRegistrationOrderOnThePostingThread) {
    std::vector<std::string> order;
    std::vector<std::thread::id> threads;
    auto a = make<Listener>();
    auto b = make<Listener>();
    center->addObserver(
        a, "a:",
        [&](const Ref<NSNotification>&) {
            order.push_back("a");
            threads.push_back(std::this_thread::get_id());
        },
        "n");
    auto token = center->addObserverForName("n", nullptr, nullptr, [&](const Ref<NSNotification>&) {
        order.push_back("block");
        threads.push_back(std::this_thread::get_id());
    });
    center->addObserver(
        b, "b:", [&](const Ref<NSNotification>&) { order.push_back("b"); }, std::nullopt);
    std::thread poster([&] { center->postNotificationName("n"); });
    auto posterId = poster.get_id();
    poster.join();
    EXPECT_EQ(order, (std::vector<std::string>{"a", "block", "b"}));
    EXPECT_EQ(threads, (std::vector<std::thread::id>{posterId, posterId}));
}

TEST_F(NSNotificationCenterTest, MemberFunctionHandler) {
    auto listener = make<Listener>();
    center->addObserver(listener, &Listener::heard, "m");
    center->postNotificationName("m");
    EXPECT_EQ(listener->count(), 1u);
}

TEST_F(NSNotificationCenterTest, RemovingEveryRegistrationOfAnObserver) {
    auto listener = make<Listener>();
    auto other = make<Listener>();
    listen(listener, "a");
    listen(listener, "b");
    listen(other, "a");
    center->removeObserver(listener);
    center->postNotificationName("a");
    center->postNotificationName("b");
    EXPECT_EQ(listener->count(), 0u);
    EXPECT_EQ(other->count(), 1u);
    // Removing again, or something never registered, is harmless.
    center->removeObserver(listener);
    center->removeObserver(make<Listener>());
    center->removeObserver(static_cast<const NSObject*>(nullptr));
}

TEST_F(NSNotificationCenterTest, RemovingByNameAndSender) {
    auto listener = make<Listener>();
    auto s1 = make<Sender>();
    auto s2 = make<Sender>();
    listen(listener, "a", s1);
    listen(listener, "a", s2);
    listen(listener, "b");
    center->removeObserver(listener, "a", s1.get());
    center->postNotificationName("a", s1);
    center->postNotificationName("a", s2);
    center->postNotificationName("b");
    EXPECT_EQ(listener->names(), (std::vector<std::string>{"a", "b"}));
    center->removeObserver(listener, "a");  // any sender
    center->postNotificationName("a", s2);
    center->postNotificationName("b", s2);
    EXPECT_EQ(listener->names(), (std::vector<std::string>{"a", "b", "b"}));
    center->removeObserver(listener, std::nullopt, nullptr);  // everything
    center->postNotificationName("b");
    EXPECT_EQ(listener->count(), 3u);
}

TEST_F(NSNotificationCenterTest, DestroyedObserverIsNeverCalled) {
    auto calls = std::make_shared<std::atomic<int>>(0);
    {
        auto transient = make<Listener>();
        center->addObserver(
            transient, "x:", [calls](const Ref<NSNotification>&) { ++*calls; }, "x");
        center->postNotificationName("x");
    }
    center->postNotificationName("x");
    EXPECT_EQ(*calls, 1);
}

TEST_F(NSNotificationCenterTest, BlockObserversLastUntilTheirTokenIsRemoved) {
    int calls = 0;
    Ref<NSObject> token =
        center->addObserverForName("n", nullptr, nullptr, [&](const Ref<NSNotification>&) { ++calls; });
    ASSERT_TRUE(token);
    center->postNotificationName("n");
    center->postNotificationName("other");
    EXPECT_EQ(calls, 1);
    center->removeObserver(token);
    center->postNotificationName("n");
    EXPECT_EQ(calls, 1);
}

TEST_F(NSNotificationCenterTest, BlockObserverHeldStronglyWithoutItsToken) {
    auto calls = std::make_shared<int>(0);
    Weak<NSObject> weakToken;
    {
        auto token = center->addObserverForName("n", nullptr, nullptr,
                                                [calls](const Ref<NSNotification>&) { ++*calls; });
        weakToken = token;
    }
    center->postNotificationName("n");
    EXPECT_EQ(*calls, 1);
    auto token = weakToken.lock();
    ASSERT_TRUE(token);  // the centre holds it until removed
    center->removeObserver(token);
    token.reset();
    EXPECT_TRUE(weakToken.expired());
}

TEST_F(NSNotificationCenterTest, OneShotBlockObserverRemovesItself) {
    int calls = 0;
    auto token = std::make_shared<Ref<NSObject>>();
    *token = center->addObserverForName("done", nullptr, nullptr, [&, token](const Ref<NSNotification>&) {
        ++calls;
        center->removeObserver(*token);
    });
    center->postNotificationName("done");
    center->postNotificationName("done");
    EXPECT_EQ(calls, 1);
    token->reset();
}

TEST_F(NSNotificationCenterTest, ObserverRemovingItselfAndALaterOneDuringAPost) {
    auto first = make<Listener>();
    auto later = make<Listener>();
    int firstCalls = 0;
    center->addObserver(
        first, "first:",
        [&](const Ref<NSNotification>&) {
            ++firstCalls;
            center->removeObserver(first);
            center->removeObserver(later);
        },
        "n");
    listen(later, "n");
    center->postNotificationName("n");
    center->postNotificationName("n");
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(later->count(), 0u);
}

TEST_F(NSNotificationCenterTest, ObserverAddedDuringAPostHearsTheNextOne) {
    auto adder = make<Listener>();
    auto added = make<Listener>();
    bool once = false;
    center->addObserver(
        adder, "add:",
        [&](const Ref<NSNotification>&) {
            if (once) return;
            once = true;
            listen(added, "n");
        },
        "n");
    center->postNotificationName("n");
    EXPECT_EQ(added->count(), 0u);
    center->postNotificationName("n");
    EXPECT_EQ(added->count(), 1u);
}

TEST_F(NSNotificationCenterTest, ObserverDestroyedByAnEarlierObserverIsSkipped) {
    auto killer = make<Listener>();
    auto victim = std::make_shared<Ref<Listener>>(make<Listener>());
    auto victimCalls = std::make_shared<int>(0);
    center->addObserver(
        killer, "kill:", [victim](const Ref<NSNotification>&) { victim->reset(); }, "n");
    center->addObserver(
        *victim, "v:", [victimCalls](const Ref<NSNotification>&) { ++*victimCalls; }, "n");
    center->postNotificationName("n");
    EXPECT_EQ(*victimCalls, 0);
}

TEST_F(NSNotificationCenterTest, PostingFromAHandler) {
    auto outer = make<Listener>();
    auto inner = make<Listener>();
    center->addObserver(
        outer, "outer:", [&](const Ref<NSNotification>&) { center->postNotificationName("inner"); }, "outer");
    listen(inner, "inner");
    center->postNotificationName("outer");
    EXPECT_EQ(inner->count(), 1u);
}

TEST_F(NSNotificationCenterTest, QueueObserverRunsOnTheQueueAndThePosterWaits) {
    auto queue = make<NSOperationQueue>();
    std::thread::id ranOn;
    Ref<NSOperationQueue> current;
    auto token = center->addObserverForName("n", nullptr, queue, [&](const Ref<NSNotification>&) {
        ranOn = std::this_thread::get_id();
        current = NSOperationQueue::currentQueue();
    });
    center->postNotificationName("n");
    // Already run when post returns.
    EXPECT_NE(ranOn, std::thread::id());
    EXPECT_NE(ranOn, std::this_thread::get_id());
    EXPECT_EQ(current, queue);
    center->removeObserver(token);
}

TEST_F(NSNotificationCenterTest, PostingFromTheObserversOwnQueueRunsDirectly) {
    auto queue = make<NSOperationQueue>();
    queue->setMaxConcurrentOperationCount(1);
    std::atomic<int> calls{0};
    std::thread::id postedFrom, ranOn;
    auto token = center->addObserverForName("n", nullptr, queue, [&](const Ref<NSNotification>&) {
        ++calls;
        ranOn = std::this_thread::get_id();
    });
    // Waiting for its own serial queue would never end; the centre runs it in place.
    queue->addOperationWithBlock([&] {
        postedFrom = std::this_thread::get_id();
        center->postNotificationName("n");
    });
    ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(10.0));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(ranOn, postedFrom);
    center->removeObserver(token);
}

TEST_F(NSNotificationCenterTest, DefaultCenterIsShared) {
    EXPECT_EQ(NSNotificationCenter::defaultCenter(), NSNotificationCenter::defaultCenter());
    auto listener = make<Listener>();
    NSNotificationCenter::defaultCenter()->addObserver(listener, &Listener::heard, "DefaultCenterIsShared");
    NSNotificationCenter::defaultCenter()->postNotificationName("DefaultCenterIsShared");
    EXPECT_EQ(listener->count(), 1u);
    NSNotificationCenter::defaultCenter()->removeObserver(listener);
}

TEST(NSNotificationCenterConcurrencyTest, PostsFromManyThreads) {
    auto center = make<NSNotificationCenter>();
    constexpr int kThreads = 8, kPosts = 500;
    auto all = make<Listener>();
    center->addObserver(all, &Listener::heard, std::nullopt);
    std::atomic<int> blockCalls{0};
    auto token = center->addObserverForName("even", nullptr, nullptr,
                                            [&](const Ref<NSNotification>&) { ++blockCalls; });
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            auto sender = make<Sender>();
            for (int i = 0; i < kPosts; ++i) center->postNotificationName(t % 2 ? "odd" : "even", sender);
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(all->count(), static_cast<std::size_t>(kThreads * kPosts));
    EXPECT_EQ(blockCalls, kThreads / 2 * kPosts);
}

TEST(NSNotificationCenterConcurrencyTest, RegistrationsChurnWhilePosting) {
    auto center = make<NSNotificationCenter>();
    auto steady = make<Listener>();
    center->addObserver(steady, &Listener::heard, "n");
    std::atomic<bool> stop{false};
    std::vector<std::thread> churners;
    for (int t = 0; t < 3; ++t) {
        churners.emplace_back([&] {
            while (!stop) {
                auto transient = make<Listener>();
                center->addObserver(transient, &Listener::heard, "n");
                auto token =
                    center->addObserverForName("n", nullptr, nullptr, [](const Ref<NSNotification>&) {});
                center->removeObserver(token);
                if (transient.use_count() % 2) center->removeObserver(transient);
            }
        });
    }
    std::vector<std::thread> posters;
    for (int t = 0; t < 3; ++t) {
        posters.emplace_back([&] {
            for (int i = 0; i < 300; ++i) center->postNotificationName("n");
        });
    }
    for (auto& t : posters) t.join();
    stop = true;
    for (auto& t : churners) t.join();
    EXPECT_EQ(steady->count(), 900u);
}

}  // namespace

// ---- observers on the main queue ---------------------------------------------------------------

namespace {

bool pumpMainQueueUntil(const std::function<bool()>& condition, double seconds = 10.0) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        dispatch_main_queue_drain();
        if (condition()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        pollfd handle{dispatch_main_queue_handle(), POLLIN, 0};
        ::poll(&handle, 1, 10);
    }
    return true;
}

TEST(NSNotificationCenterMainQueueTest, PostFromAnotherThreadWaitsForTheMainThread) {
    auto center = make<NSNotificationCenter>();
    std::atomic<bool> ranOnMain{false};
    std::atomic<bool> ran{false};
    auto token = center->addObserverForName("n", nullptr, NSOperationQueue::mainQueue(),
                                            [&](const Ref<NSNotification>&) {
                                                ranOnMain = dispatch_is_main_thread();
                                                ran = true;
                                            });
    std::atomic<bool> posted{false};
    std::atomic<bool> ranBeforePostReturned{false};
    std::thread poster([&] {
        center->postNotificationName("n");
        ranBeforePostReturned = ran.load();
        posted = true;
    });
    ASSERT_TRUE(pumpMainQueueUntil([&] { return posted.load(); }));
    poster.join();
    EXPECT_TRUE(ranOnMain);
    EXPECT_TRUE(ranBeforePostReturned);
    center->removeObserver(token);
}

TEST(NSNotificationCenterMainQueueTest, PostOnTheMainThreadRunsInPlace) {
    auto center = make<NSNotificationCenter>();
    int calls = 0;
    auto token = center->addObserverForName("n", nullptr, NSOperationQueue::mainQueue(),
                                            [&](const Ref<NSNotification>&) { ++calls; });
    center->postNotificationName("n");
    EXPECT_EQ(calls, 1);  // no turn of the main queue needed
    center->removeObserver(token);
}

}  // namespace
