// Reachability: the manager's status from flags, its first report, changes reaching the block and
// the notification on the main thread, host-name managers that wait for a change, observers; and
// the synchronous wrapper with its own status order, local Wi-Fi rule and notifier. Flags are
// injected through the platform's test hooks.

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSThread.h"
#include "net/HKNetworkReachabilityManager.h"
#include "net/Reachability.h"
#include "system/SystemTesting.h"
#include "tests/support/MainLoop.h"

namespace {

constexpr SCNetworkReachabilityFlags kReachable = kSCNetworkReachabilityFlagsReachable;
constexpr SCNetworkReachabilityFlags kConnectionRequired = kSCNetworkReachabilityFlagsConnectionRequired;
constexpr SCNetworkReachabilityFlags kOnTraffic = kSCNetworkReachabilityFlagsConnectionOnTraffic;
constexpr SCNetworkReachabilityFlags kOnDemand = kSCNetworkReachabilityFlagsConnectionOnDemand;
constexpr SCNetworkReachabilityFlags kIntervention = kSCNetworkReachabilityFlagsInterventionRequired;
constexpr SCNetworkReachabilityFlags kWWAN = kSCNetworkReachabilityFlagsIsWWAN;
constexpr SCNetworkReachabilityFlags kDirect = kSCNetworkReachabilityFlagsIsDirect;

// Collects the reachability-change notifications.
class ChangeLog {
  public:
    explicit ChangeLog(const std::string& name) {
        token_ = NSNotificationCenter::defaultCenter()->addObserverForName(
            name, nullptr, nullptr, [this](const Ref<NSNotification>& n) {
                if (!NSThread::isMainThread()) offMain = true;
                senders.push_back(n->object());
                statuses.push_back(
                    n->userInfoValue(HKNetworkingReachabilityNotificationStatusItem).isNil()
                        ? -100
                        : n->userInfoValue(HKNetworkingReachabilityNotificationStatusItem).longLongValue());
            });
    }
    ~ChangeLog() { NSNotificationCenter::defaultCenter()->removeObserver(token_); }
    std::vector<long long> statuses;
    std::vector<Ref<NSObject>> senders;
    bool offMain = false;

  private:
    Ref<NSObject> token_;
};

class NetReachabilityTest : public ::testing::Test {
  protected:
    void SetUp() override { system_testing::resetReachability(); }
    void TearDown() override {
        system_testing::resetReachability();
        testsupport::drainMainRunLoop();
    }
    static Ref<HKNetworkReachabilityManager> addressManager(const char* ip) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        inet_pton(AF_INET, ip, &address.sin_addr);
        return HKNetworkReachabilityManager::managerForAddress(reinterpret_cast<const sockaddr*>(&address));
    }
};

// ---- the manager ------------------------------------------------------------------------------------

TEST(ReachabilityStatus, FromFlags) {
    EXPECT_EQ(HKNetworkReachabilityStatusForFlags(0), HKNetworkReachabilityStatusNotReachable);
    EXPECT_EQ(HKNetworkReachabilityStatusForFlags(kReachable), HKNetworkReachabilityStatusReachableViaWiFi);
    EXPECT_EQ(HKNetworkReachabilityStatusForFlags(kReachable | kWWAN),
              HKNetworkReachabilityStatusReachableViaWWAN);
    EXPECT_EQ(HKNetworkReachabilityStatusForFlags(kReachable | kConnectionRequired),
              HKNetworkReachabilityStatusNotReachable);
    EXPECT_EQ(HKNetworkReachabilityStatusForFlags(kReachable | kConnectionRequired | kOnTraffic),
              HKNetworkReachabilityStatusReachableViaWiFi);
    EXPECT_EQ(HKNetworkReachabilityStatusForFlags(kReachable | kConnectionRequired | kOnDemand | kWWAN),
              HKNetworkReachabilityStatusReachableViaWWAN);
    EXPECT_EQ(
        HKNetworkReachabilityStatusForFlags(kReachable | kConnectionRequired | kOnTraffic | kIntervention),
        HKNetworkReachabilityStatusNotReachable);
    EXPECT_EQ(HKNetworkReachabilityStatusForFlags(kReachable | kConnectionRequired | kWWAN),
              HKNetworkReachabilityStatusNotReachable);
    EXPECT_EQ(HKNetworkReachabilityStatusForFlags(kWWAN | kDirect), HKNetworkReachabilityStatusNotReachable);
}

TEST(ReachabilityStatus, DisplayTexts) {
    EXPECT_EQ(HKReachabilityStatusDisplayText(-1), "Unknown");
    EXPECT_EQ(HKReachabilityStatusDisplayText(0), "Not Reachable");
    EXPECT_EQ(HKReachabilityStatusDisplayText(1), "Reachable via WWAN");
    EXPECT_EQ(HKReachabilityStatusDisplayText(2), "Reachable via WiFi");
    EXPECT_EQ(HKReachabilityStatusDisplayText(42), "Unknown");
}

TEST_F(NetReachabilityTest, AFreshManagerKnowsNothing) {
    auto manager = addressManager("0.0.0.0");
    EXPECT_EQ(manager->networkReachabilityStatus(), HKNetworkReachabilityStatusUnknown);
    EXPECT_EQ(manager->localizedNetworkReachabilityStatusString(), "Unknown");
    EXPECT_FALSE(manager->isReachable());
    EXPECT_EQ(manager->networkReachabilityAssociation(), HKNetworkReachabilityManager::ForAddress);
}

TEST_F(NetReachabilityTest, SharedManagerWatchesTheDefaultRoute) {
    auto shared = HKNetworkReachabilityManager::sharedManager();
    EXPECT_EQ(shared, HKNetworkReachabilityManager::sharedManager());
    ASSERT_NE(shared->networkReachability(), nullptr);
    EXPECT_EQ(shared->networkReachability()->overrideKey(), "0.0.0.0");
}

TEST_F(NetReachabilityTest, AnAddressManagerReportsItsStatusOnceAtStart) {
    system_testing::setHostReachabilityFlags("10.1.2.3", kReachable | kDirect);
    auto manager = addressManager("10.1.2.3");
    ChangeLog log(HKNetworkingReachabilityDidChangeNotification);
    std::vector<HKNetworkReachabilityStatus> seen;
    bool blockOffMain = false;
    manager->setReachabilityStatusChangeBlock([&](HKNetworkReachabilityStatus status) {
        if (!NSThread::isMainThread()) blockOffMain = true;
        seen.push_back(status);
    });
    manager->startMonitoring();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return !log.statuses.empty(); }, 5));
    testsupport::pumpMainRunLoop(0.05);
    EXPECT_EQ(seen, std::vector<HKNetworkReachabilityStatus>{HKNetworkReachabilityStatusReachableViaWiFi});
    EXPECT_EQ(log.statuses, std::vector<long long>{2});
    EXPECT_EQ(log.senders, std::vector<Ref<NSObject>>{nullptr});
    EXPECT_FALSE(log.offMain);
    EXPECT_FALSE(blockOffMain);
    EXPECT_TRUE(manager->isReachableViaWiFi());
    EXPECT_EQ(manager->localizedNetworkReachabilityStatusString(), "Reachable via WiFi");
    manager->stopMonitoring();
}

TEST_F(NetReachabilityTest, ChangesReachTheBlockAndTheNotification) {
    system_testing::setHostReachabilityFlags("10.9.9.9", kReachable);
    auto manager = addressManager("10.9.9.9");
    ChangeLog log(HKNetworkingReachabilityDidChangeNotification);
    std::vector<HKNetworkReachabilityStatus> seen;
    manager->setReachabilityStatusChangeBlock([&](HKNetworkReachabilityStatus s) { seen.push_back(s); });
    manager->startMonitoring();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return log.statuses.size() == 1; }, 5));
    system_testing::setHostReachabilityFlags("10.9.9.9", kReachable | kWWAN);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return log.statuses.size() == 2; }, 5));
    EXPECT_TRUE(manager->isReachableViaWWAN());
    system_testing::setHostReachabilityFlags("10.9.9.9", 0);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return log.statuses.size() == 3; }, 5));
    EXPECT_EQ(log.statuses, (std::vector<long long>{2, 1, 0}));
    EXPECT_EQ(seen, (std::vector<HKNetworkReachabilityStatus>{HKNetworkReachabilityStatusReachableViaWiFi,
                                                              HKNetworkReachabilityStatusReachableViaWWAN,
                                                              HKNetworkReachabilityStatusNotReachable}));
    EXPECT_FALSE(manager->isReachable());

    manager->stopMonitoring();
    system_testing::setHostReachabilityFlags("10.9.9.9", kReachable);
    testsupport::pumpMainRunLoop(0.1);
    EXPECT_EQ(log.statuses.size(), 3u);
}

TEST_F(NetReachabilityTest, AHostNameManagerWaitsForAChange) {
    system_testing::setHostReachabilityFlags("api.example.test", kReachable);
    auto manager = HKNetworkReachabilityManager::managerForDomain("api.example.test");
    EXPECT_EQ(manager->networkReachabilityAssociation(), HKNetworkReachabilityManager::ForName);
    ChangeLog log(HKNetworkingReachabilityDidChangeNotification);
    manager->startMonitoring();
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_TRUE(log.statuses.empty());
    EXPECT_EQ(manager->networkReachabilityStatus(), HKNetworkReachabilityStatusUnknown);
    system_testing::setHostReachabilityFlags("api.example.test", kReachable | kConnectionRequired);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return !log.statuses.empty(); }, 5));
    EXPECT_EQ(log.statuses, std::vector<long long>{0});
    manager->stopMonitoring();
}

TEST_F(NetReachabilityTest, StartingAgainReportsAFreshFirstStatus) {
    system_testing::setHostReachabilityFlags("10.7.7.7", kReachable);
    auto manager = addressManager("10.7.7.7");
    ChangeLog log(HKNetworkingReachabilityDidChangeNotification);
    manager->startMonitoring();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return log.statuses.size() == 1; }, 5));
    manager->startMonitoring();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return log.statuses.size() == 2; }, 5));
    manager->stopMonitoring();
}

TEST_F(NetReachabilityTest, UnreadableFlagsReportNothingAtStart) {
    system_testing::setReachabilityGetFlagsFails(true);
    auto manager = addressManager("10.4.4.4");
    ChangeLog log(HKNetworkingReachabilityDidChangeNotification);
    manager->startMonitoring();
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_TRUE(log.statuses.empty());
    EXPECT_EQ(manager->networkReachabilityStatus(), HKNetworkReachabilityStatusUnknown);
    manager->stopMonitoring();
}

TEST_F(NetReachabilityTest, ObserversOfTheDerivedKeysAreTold) {
    system_testing::setHostReachabilityFlags("10.5.5.5", kReachable);
    auto manager = addressManager("10.5.5.5");
    std::vector<bool> reachable;
    auto token = KVO::observe(*manager, "reachable", NSKeyValueObservingOptionNew,
                              [&](const Ref<NSObject>&, const Dictionary& change) {
                                  reachable.push_back(change[NSKeyValueChangeNewKey].boolValue());
                              });
    manager->startMonitoring();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return reachable.size() == 1; }, 5));
    system_testing::setHostReachabilityFlags("10.5.5.5", 0);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return reachable.size() == 2; }, 5));
    EXPECT_EQ(reachable, (std::vector<bool>{true, false}));
    manager->stopMonitoring();
}

TEST_F(NetReachabilityTest, AManagerThatGoesIsNeverCalled) {
    system_testing::setHostReachabilityFlags("10.6.6.6", kReachable);
    int calls = 0;
    {
        auto manager = addressManager("10.6.6.6");
        manager->setReachabilityStatusChangeBlock([&](HKNetworkReachabilityStatus) { ++calls; });
        manager->startMonitoring();
    }
    system_testing::setHostReachabilityFlags("10.6.6.6", 0);
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_EQ(calls, 0);
}

TEST_F(NetReachabilityTest, WithoutAHandleStartAndStopDoNothing) {
    auto manager = make<HKNetworkReachabilityManager>(nullptr, HKNetworkReachabilityManager::ForName);
    manager->startMonitoring();
    manager->stopMonitoring();
    EXPECT_EQ(manager->networkReachabilityStatus(), HKNetworkReachabilityStatusUnknown);
    EXPECT_EQ(HKNetworkReachabilityManager::managerForDomain("")->networkReachability(), nullptr);
}

// ---- the synchronous wrapper ------------------------------------------------------------------------------

TEST_F(NetReachabilityTest, WrapperStatusOrderAndRules) {
    auto internet = Reachability::reachabilityForInternetConnection();
    ASSERT_NE(internet, nullptr);
    auto check = [&](SCNetworkReachabilityFlags flags, NetworkStatus expected) {
        system_testing::setHostReachabilityFlags("0.0.0.0", flags);
        EXPECT_EQ(internet->currentReachabilityStatus(), expected) << std::hex << flags;
    };
    check(0, NotReachable);
    check(kReachable, ReachableViaWiFi);
    check(kReachable | kWWAN, ReachableViaWWAN);
    check(kReachable | kConnectionRequired, NotReachable);
    check(kReachable | kConnectionRequired | kOnTraffic, ReachableViaWiFi);
    check(kReachable | kConnectionRequired | kOnTraffic | kWWAN, ReachableViaWWAN);
    check(kReachable | kConnectionRequired | kOnTraffic | kIntervention, NotReachable);
    check(kReachable | kConnectionRequired | kWWAN, ReachableViaWWAN);  // the WWAN test wins here
    system_testing::setHostReachabilityFlags("0.0.0.0", kReachable | kConnectionRequired);
    EXPECT_TRUE(internet->connectionRequired());
}

TEST_F(NetReachabilityTest, LocalWiFiAnswersOnlyZeroOrOne) {
    auto local = Reachability::reachabilityForLocalWiFi();
    ASSERT_NE(local, nullptr);
    EXPECT_TRUE(local->alwaysReturnLocalWiFiStatus());
    system_testing::setHostReachabilityFlags("169.254.0.0", kReachable | kDirect | kWWAN);
    EXPECT_EQ(local->currentReachabilityStatus(), ReachableViaWiFi);
    system_testing::setHostReachabilityFlags("169.254.0.0", kReachable | kWWAN);
    EXPECT_EQ(local->currentReachabilityStatus(), NotReachable);
    system_testing::setHostReachabilityFlags("169.254.0.0", kDirect);
    EXPECT_EQ(local->currentReachabilityStatus(), NotReachable);
}

TEST_F(NetReachabilityTest, UnreadableFlagsMeanNotReachable) {
    auto internet = Reachability::reachabilityForInternetConnection();
    system_testing::setHostReachabilityFlags("0.0.0.0", kReachable | kConnectionRequired);
    system_testing::setReachabilityGetFlagsFails(true);
    EXPECT_EQ(internet->currentReachabilityStatus(), NotReachable);
    EXPECT_FALSE(internet->connectionRequired());
}

TEST_F(NetReachabilityTest, ConstructorsRefuseWhatCannotBeWatched) {
    EXPECT_EQ(Reachability::reachabilityWithHostName(""), nullptr);
    EXPECT_EQ(Reachability::reachabilityWithAddress(nullptr), nullptr);
    auto host = Reachability::reachabilityWithHostName("cdn.example.test");
    ASSERT_NE(host, nullptr);
    EXPECT_FALSE(host->alwaysReturnLocalWiFiStatus());
}

TEST_F(NetReachabilityTest, NotifierPostsChangesOnItsRunLoopUntilStopped) {
    system_testing::setHostReachabilityFlags("cdn.example.test", kReachable);
    auto host = Reachability::reachabilityWithHostName("cdn.example.test");
    ChangeLog log(kReachabilityChangedNotification);
    ASSERT_TRUE(host->startNotifier());
    system_testing::setHostReachabilityFlags("cdn.example.test", 0);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return !log.senders.empty(); }, 5));
    EXPECT_EQ(log.senders.front(), host);
    EXPECT_EQ(log.statuses.front(), -100);  // no user info
    EXPECT_EQ(host->currentReachabilityStatus(), NotReachable);
    host->stopNotifier();
    system_testing::setHostReachabilityFlags("cdn.example.test", kReachable);
    testsupport::pumpMainRunLoop(0.1);
    EXPECT_EQ(log.senders.size(), 1u);
}

TEST_F(NetReachabilityTest, AWrapperThatGoesWithItsNotifierRunningIsForgotten) {
    system_testing::setHostReachabilityFlags("gone.example.test", kReachable);
    ChangeLog log(kReachabilityChangedNotification);
    {
        auto host = Reachability::reachabilityWithHostName("gone.example.test");
        ASSERT_TRUE(host->startNotifier());
    }
    system_testing::setHostReachabilityFlags("gone.example.test", 0);
    testsupport::pumpMainRunLoop(0.1);
    EXPECT_TRUE(log.senders.empty());
}

}  // namespace
