#include "system/SCNetworkReachability.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/un.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <thread>

#include "foundation/NSThread.h"
#include "system/SystemTesting.h"
#include "tests/support/MainLoop.h"

namespace {

using detail::NetworkInterfaceAddress;

constexpr SCNetworkReachabilityFlags kReachableDirect =
    kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsIsDirect;
constexpr SCNetworkReachabilityFlags kLocal = kReachableDirect | kSCNetworkReachabilityFlagsIsLocalAddress;

sockaddr_in ipv4(const char* text) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, text, &address.sin_addr);
    return address;
}

SCNetworkReachabilityRef targetFor(const char* text) {
    sockaddr_in address = ipv4(text);
    return SCNetworkReachabilityCreateWithAddress(kCFAllocatorDefault,
                                                  reinterpret_cast<const sockaddr*>(&address));
}

NetworkInterfaceAddress iface(std::string name, std::string text, bool up = true, bool loopback = false,
                              int family = AF_INET) {
    NetworkInterfaceAddress a;
    a.name = std::move(name);
    a.address = std::move(text);
    a.up = up;
    a.loopback = loopback;
    a.family = family;
    return a;
}

std::optional<SCNetworkReachabilityFlags> flagsOf(const SCNetworkReachabilityRef& target) {
    SCNetworkReachabilityFlags flags = 0;
    if (!SCNetworkReachabilityGetFlags(target, &flags)) return std::nullopt;
    return flags;
}

// Records callbacks; the info pointer is the recorder itself.
struct Recorder {
    std::vector<SCNetworkReachabilityFlags> flags;
    std::vector<bool> onMain;
    static void callback(const SCNetworkReachabilityRef&, SCNetworkReachabilityFlags flags, void* info) {
        auto* self = static_cast<Recorder*>(info);
        self->flags.push_back(flags);
        self->onMain.push_back(NSThread::isMainThread());
    }
    SCNetworkReachabilityContext context() {
        SCNetworkReachabilityContext c;
        c.info = this;
        return c;
    }
};

class ReachabilityTest : public ::testing::Test {
  protected:
    void SetUp() override {
        system_testing::resetReachability();
        system_testing::setNetworkInterfaces(std::vector<NetworkInterfaceAddress>{
            iface("lo", "127.0.0.1", true, true), iface("eth0", "10.0.0.2")});
    }
    void TearDown() override {
        testsupport::drainMainRunLoop();
        system_testing::resetReachability();
        system_testing::setNetworkInterfaces(std::nullopt);
    }

    // A default-route target with a recorder, scheduled on the main loop in `mode`.
    SCNetworkReachabilityRef scheduled(Recorder& recorder, const std::string& mode = NSDefaultRunLoopMode) {
        auto target = targetFor("0.0.0.0");
        auto context = recorder.context();
        EXPECT_TRUE(SCNetworkReachabilitySetCallback(target, Recorder::callback, &context));
        EXPECT_TRUE(SCNetworkReachabilityScheduleWithRunLoop(target, NSRunLoop::mainRunLoop(), mode));
        return target;
    }
};

TEST_F(ReachabilityTest, CreationRefusesWhatIsNotAnAddressOrAName) {
    EXPECT_FALSE(SCNetworkReachabilityCreateWithAddress(kCFAllocatorDefault, nullptr));
    sockaddr_un local{};
    local.sun_family = AF_UNIX;
    EXPECT_FALSE(
        SCNetworkReachabilityCreateWithAddress(kCFAllocatorDefault, reinterpret_cast<sockaddr*>(&local)));
    EXPECT_FALSE(SCNetworkReachabilityCreateWithName(kCFAllocatorDefault, nullptr));
    EXPECT_FALSE(SCNetworkReachabilityCreateWithName(kCFAllocatorDefault, ""));
    auto named = SCNetworkReachabilityCreateWithName(kCFAllocatorDefault, "Example.TEST");
    ASSERT_TRUE(named);
    EXPECT_EQ(named->overrideKey(), "example.test");
    EXPECT_EQ(targetFor("169.254.0.0")->overrideKey(), "169.254.0.0");
}

TEST_F(ReachabilityTest, GetFlagsNeedsATargetAndAPlaceForTheFlags) {
    SCNetworkReachabilityFlags flags;
    EXPECT_FALSE(SCNetworkReachabilityGetFlags(nullptr, &flags));
    EXPECT_FALSE(SCNetworkReachabilityGetFlags(targetFor("0.0.0.0"), nullptr));
}

TEST_F(ReachabilityTest, AnUpInterfaceMakesTheDefaultRouteReachableAndDirectNeverWWAN) {
    EXPECT_EQ(flagsOf(targetFor("0.0.0.0")), kReachableDirect);
    EXPECT_EQ(flagsOf(targetFor("169.254.0.0")), kReachableDirect);
    EXPECT_EQ(flagsOf(SCNetworkReachabilityCreateWithName(nullptr, "example.test")), kReachableDirect);
    EXPECT_FALSE(*flagsOf(targetFor("0.0.0.0")) & kSCNetworkReachabilityFlagsIsWWAN);
}

TEST_F(ReachabilityTest, OnlyLoopbackOrDownInterfacesMeanNoNetwork) {
    system_testing::setNetworkInterfaces(std::vector<NetworkInterfaceAddress>{
        iface("lo", "127.0.0.1", true, true), iface("eth0", "10.0.0.2", false)});
    EXPECT_EQ(flagsOf(targetFor("0.0.0.0")), 0u);
    EXPECT_EQ(flagsOf(SCNetworkReachabilityCreateWithName(nullptr, "example.test")), 0u);
    // The machine itself stays reachable.
    EXPECT_EQ(flagsOf(targetFor("127.0.0.1")), kLocal);
}

TEST_F(ReachabilityTest, LoopbackAndOwnAddressesAreLocal) {
    EXPECT_EQ(flagsOf(targetFor("127.3.4.5")), kLocal);
    EXPECT_EQ(flagsOf(targetFor("10.0.0.2")), kLocal);
    EXPECT_EQ(flagsOf(targetFor("10.0.0.3")), kReachableDirect);
    EXPECT_EQ(flagsOf(SCNetworkReachabilityCreateWithName(nullptr, "LOCALHOST")), kLocal);
    EXPECT_EQ(flagsOf(SCNetworkReachabilityCreateWithName(nullptr, "::1")), kLocal);
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_addr = in6addr_loopback;
    auto target = SCNetworkReachabilityCreateWithAddress(nullptr, reinterpret_cast<sockaddr*>(&v6));
    ASSERT_TRUE(target);
    EXPECT_EQ(flagsOf(target), kLocal);
}

TEST_F(ReachabilityTest, HostOverridesBeatTheGlobalOverrideWhichBeatsTheInterfaces) {
    auto route = targetFor("0.0.0.0");
    auto host = SCNetworkReachabilityCreateWithName(nullptr, "api.example.test");
    system_testing::setReachabilityFlags(kSCNetworkReachabilityFlagsReachable |
                                         kSCNetworkReachabilityFlagsIsWWAN);
    EXPECT_EQ(flagsOf(route), kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsIsWWAN);
    system_testing::setHostReachabilityFlags("API.example.test", 0);
    EXPECT_EQ(flagsOf(host), 0u);
    EXPECT_EQ(flagsOf(route), kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsIsWWAN);
    system_testing::setHostReachabilityFlags("0.0.0.0", kSCNetworkReachabilityFlagsConnectionRequired);
    EXPECT_EQ(flagsOf(route), kSCNetworkReachabilityFlagsConnectionRequired);
    system_testing::setHostReachabilityFlags("0.0.0.0", std::nullopt);
    system_testing::setReachabilityFlags(std::nullopt);
    EXPECT_EQ(flagsOf(route), kReachableDirect);
}

TEST_F(ReachabilityTest, NumericHostOverridesMatchTheCanonicalAddress) {
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    ::inet_pton(AF_INET6, "fd00::1", &v6.sin6_addr);
    auto target = SCNetworkReachabilityCreateWithAddress(nullptr, reinterpret_cast<sockaddr*>(&v6));
    system_testing::setHostReachabilityFlags("FD00:0:0::0001",
                                             kSCNetworkReachabilityFlagsTransientConnection);
    EXPECT_EQ(flagsOf(target), kSCNetworkReachabilityFlagsTransientConnection);
}

TEST_F(ReachabilityTest, ReadingCanBeMadeToFail) {
    auto target = targetFor("0.0.0.0");
    system_testing::setReachabilityGetFlagsFails(true);
    EXPECT_FALSE(flagsOf(target));
    system_testing::setReachabilityGetFlagsFails(false);
    EXPECT_TRUE(flagsOf(target));
}

TEST_F(ReachabilityTest, SchedulingDeliversNothingUntilTheFlagsChange) {
    Recorder recorder;
    auto target = scheduled(recorder);
    testsupport::drainMainRunLoop();
    EXPECT_TRUE(recorder.flags.empty());
    system_testing::setReachabilityFlags(kReachableDirect);  // what it already was
    testsupport::drainMainRunLoop();
    EXPECT_TRUE(recorder.flags.empty());
}

TEST_F(ReachabilityTest, AChangeIsDeliveredOnceOnALaterTurnOfTheLoop) {
    Recorder recorder;
    auto target = scheduled(recorder);
    system_testing::setReachabilityFlags(0);
    EXPECT_TRUE(recorder.flags.empty());  // never inline
    testsupport::drainMainRunLoop();
    ASSERT_EQ(recorder.flags, (std::vector<SCNetworkReachabilityFlags>{0}));
    EXPECT_TRUE(recorder.onMain.front());
    system_testing::setReachabilityFlags(0);
    system_testing::setHostReachabilityFlags("other.test", 0);
    testsupport::drainMainRunLoop();
    EXPECT_EQ(recorder.flags.size(), 1u);
    system_testing::setReachabilityFlags(kSCNetworkReachabilityFlagsReachable |
                                         kSCNetworkReachabilityFlagsIsWWAN);
    testsupport::drainMainRunLoop();
    EXPECT_EQ(recorder.flags.back(),
              kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsIsWWAN);
    EXPECT_EQ(recorder.flags.size(), 2u);
}

TEST_F(ReachabilityTest, InterfaceChangesReachScheduledTargets) {
    Recorder recorder;
    auto target = scheduled(recorder);
    system_testing::setNetworkInterfaces(
        std::vector<NetworkInterfaceAddress>{iface("lo", "127.0.0.1", true, true)});
    testsupport::drainMainRunLoop();
    ASSERT_EQ(recorder.flags, (std::vector<SCNetworkReachabilityFlags>{0}));
    system_testing::setNetworkInterfaces(std::vector<NetworkInterfaceAddress>{iface("en0", "192.168.0.9")});
    testsupport::drainMainRunLoop();
    EXPECT_EQ(recorder.flags, (std::vector<SCNetworkReachabilityFlags>{0, kReachableDirect}));
}

TEST_F(ReachabilityTest, CallbacksComeOnlyInTheScheduledMode) {
    Recorder recorder;
    auto target = scheduled(recorder, UITrackingRunLoopMode);
    system_testing::setReachabilityFlags(0);
    testsupport::drainMainRunLoop(NSDefaultRunLoopMode);
    EXPECT_TRUE(recorder.flags.empty());
    testsupport::drainMainRunLoop(UITrackingRunLoopMode);
    EXPECT_EQ(recorder.flags.size(), 1u);
}

TEST_F(ReachabilityTest, CommonModesDeliverInTheDefaultMode) {
    Recorder recorder;
    auto target = scheduled(recorder, NSRunLoopCommonModes);
    system_testing::setReachabilityFlags(0);
    testsupport::drainMainRunLoop(NSDefaultRunLoopMode);
    EXPECT_EQ(recorder.flags.size(), 1u);
}

TEST_F(ReachabilityTest, UnschedulingDropsWhatIsAlreadyQueued) {
    Recorder recorder;
    auto target = scheduled(recorder);
    system_testing::setReachabilityFlags(0);
    EXPECT_TRUE(
        SCNetworkReachabilityUnscheduleFromRunLoop(target, NSRunLoop::mainRunLoop(), NSDefaultRunLoopMode));
    testsupport::drainMainRunLoop();
    EXPECT_TRUE(recorder.flags.empty());
    EXPECT_FALSE(
        SCNetworkReachabilityUnscheduleFromRunLoop(target, NSRunLoop::mainRunLoop(), NSDefaultRunLoopMode));
    EXPECT_FALSE(
        SCNetworkReachabilityUnscheduleFromRunLoop(nullptr, NSRunLoop::mainRunLoop(), NSDefaultRunLoopMode));
}

TEST_F(ReachabilityTest, RescheduledTargetMeasuresChangesFromTheNewBaseline) {
    Recorder recorder;
    auto target = scheduled(recorder);
    SCNetworkReachabilityUnscheduleFromRunLoop(target, NSRunLoop::mainRunLoop(), NSDefaultRunLoopMode);
    system_testing::setReachabilityFlags(0);  // while nobody listens
    SCNetworkReachabilityScheduleWithRunLoop(target, NSRunLoop::mainRunLoop(), NSDefaultRunLoopMode);
    system_testing::setReachabilityFlags(0);
    testsupport::drainMainRunLoop();
    EXPECT_TRUE(recorder.flags.empty());
}

TEST_F(ReachabilityTest, SchedulingTheSamePairTwiceDeliversOnce) {
    Recorder recorder;
    auto target = scheduled(recorder);
    EXPECT_TRUE(
        SCNetworkReachabilityScheduleWithRunLoop(target, NSRunLoop::mainRunLoop(), NSDefaultRunLoopMode));
    system_testing::setReachabilityFlags(0);
    testsupport::drainMainRunLoop();
    EXPECT_EQ(recorder.flags.size(), 1u);
}

TEST_F(ReachabilityTest, ATargetWithoutCallbackStillTracksItsFlags) {
    auto target = targetFor("0.0.0.0");
    ASSERT_TRUE(
        SCNetworkReachabilityScheduleWithRunLoop(target, NSRunLoop::mainRunLoop(), NSDefaultRunLoopMode));
    system_testing::setReachabilityFlags(0);
    Recorder recorder;
    auto context = recorder.context();
    SCNetworkReachabilitySetCallback(target, Recorder::callback, &context);
    system_testing::setReachabilityFlags(0);  // no change since the last reading
    testsupport::drainMainRunLoop();
    EXPECT_TRUE(recorder.flags.empty());
}

TEST_F(ReachabilityTest, ADestroyedTargetHearsNothingAndBreaksNothing) {
    Recorder recorder;
    {
        auto target = scheduled(recorder);
        system_testing::setReachabilityFlags(0);
    }
    testsupport::drainMainRunLoop();
    system_testing::setReachabilityFlags(kReachableDirect);
    testsupport::drainMainRunLoop();
    EXPECT_TRUE(recorder.flags.empty());
}

TEST_F(ReachabilityTest, ContextRetainAndReleaseKeepABlockAliveWhileInstalled) {
    using Block = std::function<void(SCNetworkReachabilityFlags)>;
    std::vector<SCNetworkReachabilityFlags> seen;
    std::weak_ptr<Block> watch;
    int retains = 0, releases = 0;
    auto target = targetFor("0.0.0.0");
    {
        auto block = std::make_shared<Block>([&](SCNetworkReachabilityFlags f) { seen.push_back(f); });
        watch = block;
        SCNetworkReachabilityContext context;
        // The info is an owner of the block; retaining makes another owner, releasing drops it.
        context.info = &block;
        context.retain = [&](const void* info) -> const void* {
            ++retains;
            return new std::shared_ptr<Block>(*static_cast<const std::shared_ptr<Block>*>(info));
        };
        context.release = [&](const void* info) {
            ++releases;
            delete static_cast<const std::shared_ptr<Block>*>(info);
        };
        ASSERT_TRUE(SCNetworkReachabilitySetCallback(
            target,
            [](const SCNetworkReachabilityRef&, SCNetworkReachabilityFlags flags, void* info) {
                (**static_cast<std::shared_ptr<Block>*>(info))(flags);
            },
            &context));
    }
    EXPECT_EQ(retains, 1);
    EXPECT_FALSE(watch.expired());  // only the retained copy keeps it
    SCNetworkReachabilityScheduleWithRunLoop(target, NSRunLoop::mainRunLoop(), NSRunLoopCommonModes);
    system_testing::setReachabilityFlags(0);
    testsupport::drainMainRunLoop();
    EXPECT_EQ(seen, (std::vector<SCNetworkReachabilityFlags>{0}));
    target.reset();
    EXPECT_EQ(releases, 1);
    EXPECT_TRUE(watch.expired());
}

TEST_F(ReachabilityTest, ReplacingOrRemovingTheCallbackReleasesTheOldContext) {
    int releases = 0;
    std::vector<const void*> released;
    int a = 1, b = 2;
    auto target = targetFor("0.0.0.0");
    SCNetworkReachabilityContext context;
    context.release = [&](const void* info) {
        ++releases;
        released.push_back(info);
    };
    context.info = &a;
    SCNetworkReachabilitySetCallback(target, Recorder::callback, &context);
    context.info = &b;
    SCNetworkReachabilitySetCallback(target, Recorder::callback, &context);
    EXPECT_EQ(released, (std::vector<const void*>{&a}));
    SCNetworkReachabilitySetCallback(target, nullptr, nullptr);
    EXPECT_EQ(released, (std::vector<const void*>{&a, &b}));
    target.reset();
    EXPECT_EQ(releases, 2);  // nothing left to release
    EXPECT_FALSE(SCNetworkReachabilitySetCallback(nullptr, Recorder::callback, &context));
}

TEST_F(ReachabilityTest, AReleaseThatComesBackToTheTargetDoesNotDeadlock) {
    auto target = targetFor("0.0.0.0");
    SCNetworkReachabilityContext context;
    bool cameBack = false;
    context.release = [&](const void*) {
        cameBack = SCNetworkReachabilityUnscheduleFromRunLoop(target, NSRunLoop::mainRunLoop(),
                                                              NSDefaultRunLoopMode);
        SCNetworkReachabilityFlags flags;
        SCNetworkReachabilityGetFlags(target, &flags);
    };
    SCNetworkReachabilitySetCallback(target, Recorder::callback, &context);
    SCNetworkReachabilityScheduleWithRunLoop(target, NSRunLoop::mainRunLoop(), NSDefaultRunLoopMode);
    SCNetworkReachabilitySetCallback(target, nullptr, nullptr);
    EXPECT_TRUE(cameBack);
}

TEST_F(ReachabilityTest, ARunLoopAndADispatchQueueExcludeEachOther) {
    auto target = targetFor("0.0.0.0");
    ASSERT_TRUE(
        SCNetworkReachabilityScheduleWithRunLoop(target, NSRunLoop::mainRunLoop(), NSDefaultRunLoopMode));
    EXPECT_FALSE(SCNetworkReachabilitySetDispatchQueue(target, dispatch_get_main_queue()));
    SCNetworkReachabilityUnscheduleFromRunLoop(target, NSRunLoop::mainRunLoop(), NSDefaultRunLoopMode);
    ASSERT_TRUE(SCNetworkReachabilitySetDispatchQueue(target, dispatch_get_main_queue()));
    EXPECT_FALSE(
        SCNetworkReachabilityScheduleWithRunLoop(target, NSRunLoop::mainRunLoop(), NSDefaultRunLoopMode));
    EXPECT_FALSE(SCNetworkReachabilityScheduleWithRunLoop(target, nullptr, NSDefaultRunLoopMode));
    EXPECT_FALSE(SCNetworkReachabilitySetDispatchQueue(nullptr, dispatch_get_main_queue()));
}

TEST_F(ReachabilityTest, ADispatchQueueReceivesChangesUntilRemoved) {
    Recorder recorder;
    auto target = targetFor("0.0.0.0");
    auto context = recorder.context();
    SCNetworkReachabilitySetCallback(target, Recorder::callback, &context);
    ASSERT_TRUE(SCNetworkReachabilitySetDispatchQueue(target, dispatch_get_main_queue()));
    system_testing::setReachabilityFlags(0);
    EXPECT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return recorder.flags.size() == 1; }));
    ASSERT_TRUE(SCNetworkReachabilitySetDispatchQueue(target, nullptr));
    system_testing::setReachabilityFlags(kReachableDirect);
    testsupport::drainMainRunLoop();
    EXPECT_EQ(recorder.flags.size(), 1u);
}

TEST_F(ReachabilityTest, ABackgroundQueueRunsTheCallbackOffTheMainThread) {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<bool> onMain;
    auto target = targetFor("0.0.0.0");
    SCNetworkReachabilitySetCallback(
        target,
        [&](const SCNetworkReachabilityRef&, SCNetworkReachabilityFlags, void*) {
            std::lock_guard lock(mutex);
            onMain.push_back(NSThread::isMainThread());
            changed.notify_all();
        },
        nullptr);
    auto queue = dispatch_queue_create("reachability.test");
    ASSERT_TRUE(SCNetworkReachabilitySetDispatchQueue(target, queue));
    system_testing::setReachabilityFlags(0);
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(5), [&] { return !onMain.empty(); }));
    EXPECT_FALSE(onMain.front());
}

TEST_F(ReachabilityTest, AnotherThreadsRunLoopRunsTheCallbackOnThatThread) {
    std::promise<Ref<NSRunLoop>> loopReady;
    std::atomic<bool> done{false};
    std::atomic<bool> calledOnThread{false};
    Ref<NSThread> worker = NSThread::detachNewThreadWithBlock([&] {
        auto loop = NSRunLoop::currentRunLoop();
        loop->addPort(NSPort::port(), NSDefaultRunLoopMode);
        loopReady.set_value(loop);
        while (!done) loop->runOnce(NSDefaultRunLoopMode, 0.01);
    });
    auto loop = loopReady.get_future().get();
    auto target = targetFor("0.0.0.0");
    SCNetworkReachabilitySetCallback(
        target,
        [&](const SCNetworkReachabilityRef&, SCNetworkReachabilityFlags, void*) {
            calledOnThread = NSRunLoop::currentRunLoop() == loop && !NSThread::isMainThread();
            done = true;
        },
        nullptr);
    ASSERT_TRUE(SCNetworkReachabilityScheduleWithRunLoop(target, loop, NSDefaultRunLoopMode));
    system_testing::setReachabilityFlags(0);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    done = true;
    while (!worker->isFinished() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    EXPECT_TRUE(calledOnThread);
}

TEST_F(ReachabilityTest, ConcurrentChangesAndSchedulesStayConsistent) {
    Recorder recorder;
    auto target = scheduled(recorder);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) {
                if (t == 0) {
                    system_testing::setReachabilityFlags(i % 2 ? kReachableDirect : 0u);
                } else {
                    auto other = targetFor("0.0.0.0");
                    SCNetworkReachabilitySetCallback(
                        other, [](const SCNetworkReachabilityRef&, SCNetworkReachabilityFlags, void*) {},
                        nullptr);
                    SCNetworkReachabilitySetDispatchQueue(other, dispatch_get_global_queue(0));
                    SCNetworkReachabilityFlags flags;
                    SCNetworkReachabilityGetFlags(other, &flags);
                    SCNetworkReachabilitySetDispatchQueue(other, nullptr);
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    system_testing::setReachabilityFlags(kSCNetworkReachabilityFlagsTransientConnection);
    testsupport::drainMainRunLoop();
    ASSERT_FALSE(recorder.flags.empty());
    EXPECT_EQ(recorder.flags.back(), kSCNetworkReachabilityFlagsTransientConnection);
    // Consecutive deliveries always differ: only changes are delivered.
    for (std::size_t i = 1; i < recorder.flags.size(); ++i)
        EXPECT_NE(recorder.flags[i], recorder.flags[i - 1]);
}

}  // namespace
