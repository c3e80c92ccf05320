// The Weibo SDK's device identifiers: the shared identifier over slot pasteboards agreed between
// two apps, opting out, damaged slots; the keychain store; the keychain-kept identifier; and the
// reachability status rules with the notifier.

#include <gtest/gtest.h>

#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSNotificationCenter.h"
#include "sdk/weibo/util/UIDevice+WBSDKHelpers.h"
#include "sdk/weibo/util/WBSDKKeychainUtils.h"
#include "sdk/weibo/util/WBSDKReachability.h"
#include "sdk/weibo/util/WBSDKSharedUDID.h"
#include "security/SecurityTesting.h"
#include "tests/sdk/weibo/util/WeiboUtilTestSupport.h"
#include "tests/support/MainLoop.h"

namespace {

std::string slot(int n) {
    return "org.WBSDKSharedUDID.slot." + std::to_string(n);
}

bool isIdentifier(const std::string& s) {
    if (s.size() != 40) return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

class WBSDKSharedUDIDTest : public weiboutiltest::SandboxTest {
  protected:
    void SetUp() override {
        SandboxTest::SetUp();
        wbsdk_testing::resetSharedUDIDCache();
    }
    void TearDown() override {
        wbsdk_testing::resetSharedUDIDCache();
        SandboxTest::TearDown();
    }
    void writeSlot(int n, const std::string& identifier, const std::string& appUID = "OTHER-APP") {
        Dictionary record{{"WBSDKSharedUDID", identifier},
                          {"WBSDKSharedUDID_appUID", appUID},
                          {"WBSDKSharedUDID_slot", slot(n)}};
        auto pasteboard = UIPasteboard::pasteboardWithName(slot(n), true);
        pasteboard->setPersistent(true);
        pasteboard->setData(*NSKeyedArchiver::archivedDataWithRootObject(Value(record)),
                            "org.WBSDKSharedUDID");
    }
    Dictionary slotRecord(int n) {
        return WBSDKSharedUDID::_getDictFromPasteboard(UIPasteboard::pasteboardWithName(slot(n), false));
    }
    std::string value(Ref<NSError>* error = nullptr) {
        wbsdk_testing::resetSharedUDIDCache();
        return WBSDKSharedUDID::valueWithError(error);
    }
    // Another app on the same device: its own defaults, the same pasteboards.
    void becomeAnotherApp(const std::string& name) {
        ASSERT_TRUE(NSSandbox::setRoot(sandbox_->file(name)));
        NSUserDefaults::resetStandardUserDefaults();
        system_testing::resetPasteboards();
        wbsdk_testing::resetSharedUDIDCache();
    }
};

TEST_F(WBSDKSharedUDIDTest, AFirstLaunchMakesAnIdentifierInSlotZero) {
    Ref<NSError> error;
    std::string id = value(&error);
    EXPECT_TRUE(isIdentifier(id)) << id;
    EXPECT_EQ(error->domain(), "org.WBSDKSharedUDID");
    EXPECT_EQ(error->code(), 0);
    EXPECT_EQ(error->userInfo()["description"], Value("SharedUDID succesfully retrieved"));
    EXPECT_EQ(slotRecord(0)["WBSDKSharedUDID"], Value(id));
    auto local = NSUserDefaults::standardUserDefaults()->dictionaryForKey("WBSDKSharedUDID");
    ASSERT_TRUE(local);
    EXPECT_EQ((*local)["WBSDKSharedUDID_slot"], Value(slot(0)));
    EXPECT_TRUE((*local)["WBSDKSharedUDID_createdTS"].isDate());
    // The other copies of the protocol keep their own names.
    EXPECT_FALSE(UIPasteboard::pasteboardWithName("org.SharedUDID.slot.0", false));
}

TEST_F(WBSDKSharedUDIDTest, TwoAppsAgreeThroughTheSlots) {
    std::string first = value();
    becomeAnotherApp("second-app");
    std::string second = value();
    EXPECT_EQ(first, second);
    EXPECT_EQ(slotRecord(1)["WBSDKSharedUDID"], Value(first));  // the second app's own slot
}

TEST_F(WBSDKSharedUDIDTest, TheMostFrequentSlotIdentifierIsAdopted) {
    std::string a(40, 'a'), b(40, 'b');
    writeSlot(0, a);
    writeSlot(1, b);
    writeSlot(2, b);
    EXPECT_EQ(value(), b);
    EXPECT_EQ(slotRecord(3)["WBSDKSharedUDID"], Value(b));
}

TEST_F(WBSDKSharedUDIDTest, ALocalIdentifierThatDiffersIsKeptWithCodeTwo) {
    std::string mine = value();
    std::string other(40, 'c');
    for (int n = 1; n < 4; ++n) writeSlot(n, other);
    Ref<NSError> error;
    EXPECT_EQ(value(&error), mine);
    EXPECT_EQ(error->code(), 2);
}

TEST_F(WBSDKSharedUDIDTest, OptedOutGivesZerosThenTheCacheAnswers) {
    value();
    WBSDKSharedUDID::setOptOut(true);
    Ref<NSError> error;
    EXPECT_EQ(WBSDKSharedUDID::valueWithError(&error), std::string(40, '0'));
    EXPECT_EQ(error->code(), 1);
    EXPECT_EQ(WBSDKSharedUDID::valueWithError(&error), std::string(40, '0'));
    EXPECT_EQ(error->code(), 0);
    EXPECT_EQ(error->userInfo()["description"], Value("SharedUDID in cache from first call"));
    WBSDKSharedUDID::setOptOut(false);
    EXPECT_TRUE(isIdentifier(WBSDKSharedUDID::value()));
    EXPECT_NE(WBSDKSharedUDID::value(), std::string(40, '0'));
}

TEST_F(WBSDKSharedUDIDTest, DamagedSlotsCountAsEmpty) {
    auto pasteboard = UIPasteboard::pasteboardWithName(slot(0), true);
    pasteboard->setPersistent(true);
    pasteboard->setData(NSData::fromString("not an archive"), "org.WBSDKSharedUDID");
    EXPECT_EQ(slotRecord(0).count(), 0u);
    EXPECT_TRUE(isIdentifier(value()));
    EXPECT_TRUE(isIdentifier(*slotRecord(0)["WBSDKSharedUDID"].string()));  // the free slot is reused
}

TEST_F(WBSDKSharedUDIDTest, FreshIdentifiersDiffer) {
    auto a = WBSDKSharedUDID::_generateFreshSharedUDID();
    auto b = WBSDKSharedUDID::_generateFreshSharedUDID();
    EXPECT_TRUE(isIdentifier(a));
    EXPECT_NE(a, b);
}

class WBSDKKeychainUtilsTest : public weiboutiltest::SandboxTest {
  protected:
    void TearDown() override {
        security_testing::clearInjectedKeychainStatuses();
        wbsdk_testing::resetOpenUniqueIdentifier();
        wbsdk_testing::resetSharedUDIDCache();
        SandboxTest::TearDown();
    }
    std::optional<std::string> s(const char* text) { return std::string(text); }
};

TEST_F(WBSDKKeychainUtilsTest, StoreReadUpdateAndDelete) {
    Ref<NSError> error;
    EXPECT_FALSE(WBSDKKeychainUtils::getPasswordForUsername(s("u"), s("svc"), &error));
    EXPECT_FALSE(error);  // a missing item is no error
    EXPECT_TRUE(WBSDKKeychainUtils::storeUsername(s("u"), s("one"), s("svc"), false, &error));
    EXPECT_EQ(WBSDKKeychainUtils::getPasswordForUsername(s("u"), s("svc"), &error), "one");
    EXPECT_TRUE(WBSDKKeychainUtils::storeUsername(s("u"), s("two"), s("svc"), false, &error));
    EXPECT_EQ(WBSDKKeychainUtils::getPasswordForUsername(s("u"), s("svc"), &error), "one");
    EXPECT_TRUE(WBSDKKeychainUtils::storeUsername(s("u"), s("two"), s("svc"), true, &error));
    EXPECT_EQ(WBSDKKeychainUtils::getPasswordForUsername(s("u"), s("svc"), &error), "two");
    EXPECT_TRUE(WBSDKKeychainUtils::deleteItemForUsername(s("u"), s("svc"), &error));
    EXPECT_FALSE(WBSDKKeychainUtils::deleteItemForUsername(s("u"), s("svc"), &error));
    EXPECT_EQ(error->code(), -25300);
    EXPECT_EQ(error->domain(), "WBSDKKeychainUtilsErrorDomain");
}

TEST_F(WBSDKKeychainUtilsTest, MissingArgumentsAreCode2000) {
    Ref<NSError> error;
    EXPECT_FALSE(WBSDKKeychainUtils::getPasswordForUsername(std::nullopt, s("svc"), &error));
    EXPECT_EQ(error->code(), -2000);
    error = nullptr;
    EXPECT_FALSE(WBSDKKeychainUtils::storeUsername(s("u"), std::nullopt, s("svc"), true, &error));
    EXPECT_EQ(error->code(), -2000);
    error = nullptr;
    EXPECT_FALSE(WBSDKKeychainUtils::deleteItemForUsername(s("u"), std::nullopt, &error));
    EXPECT_EQ(error->code(), -2000);
}

TEST_F(WBSDKKeychainUtilsTest, KeychainFailuresAreReportedWithTheirStatus) {
    security_testing::injectKeychainStatus(security_testing::SecItemOperation::CopyMatching, -25308);
    Ref<NSError> error;
    EXPECT_FALSE(WBSDKKeychainUtils::getPasswordForUsername(s("u"), s("svc"), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), -25308);
    error = nullptr;
    security_testing::injectKeychainStatus(security_testing::SecItemOperation::Add, -25299);
    EXPECT_FALSE(WBSDKKeychainUtils::storeUsername(s("u"), s("p"), s("svc"), true, &error));
    EXPECT_EQ(error->code(), -25299);
}

TEST_F(WBSDKKeychainUtilsTest, TheOpenIdentifierComesFromTheKeychainFirst) {
    WBSDKKeychainUtils::storeUsername(s("kWBSDKKeyChainUDID"), s("from-keychain"),
                                      s("kWBSDKKeyChainAuthService"), true, nullptr);
    EXPECT_EQ(UIDevice_WBSDKHelpers::weibosdk_openUniqueIdentifier(UIDevice::currentDevice()),
              "from-keychain");
    EXPECT_FALSE(UIPasteboard::pasteboardWithName(slot(0), false));  // the shared identifier was not asked
}

TEST_F(WBSDKKeychainUtilsTest, WithoutAKeychainValueTheSharedIdentifierIsKeptThere) {
    std::string id = UIDevice_WBSDKHelpers::weibosdk_openUniqueIdentifier(UIDevice::currentDevice());
    EXPECT_TRUE(isIdentifier(id));
    EXPECT_EQ(WBSDKKeychainUtils::getPasswordForUsername(s("kWBSDKKeyChainUDID"),
                                                         s("kWBSDKKeyChainAuthService"), nullptr),
              id);
    EXPECT_EQ(UIDevice_WBSDKHelpers::weibosdk_openUniqueIdentifier(UIDevice::currentDevice()), id);
}

// ---- reachability --------------------------------------------------------------------------------

TEST(WBSDKReachabilityTest, FlagsBecomeAStatus) {
    using R = WBSDKReachability;
    const auto reachable = kSCNetworkReachabilityFlagsReachable;
    const auto required = kSCNetworkReachabilityFlagsConnectionRequired;
    struct Case {
        SCNetworkReachabilityFlags flags;
        WBSDKNetworkStatus status;
    };
    std::vector<Case> cases = {
        {0, 0},
        {reachable, 1},
        {reachable | required, 0},
        {reachable | required | kSCNetworkReachabilityFlagsIsWWAN, 1},
        {reachable | required | kSCNetworkReachabilityFlagsConnectionOnDemand, 1},
        {reachable | required | kSCNetworkReachabilityFlagsConnectionOnTraffic, 1},
        {reachable | required | kSCNetworkReachabilityFlagsConnectionOnDemand |
             kSCNetworkReachabilityFlagsInterventionRequired,
         0},
        {kSCNetworkReachabilityFlagsIsWWAN, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(R::networkStatusForFlags(c.flags), c.status) << c.flags;
    EXPECT_EQ(R::localWiFiStatusForFlags(reachable), 0);
    EXPECT_EQ(R::localWiFiStatusForFlags(reachable | kSCNetworkReachabilityFlagsIsDirect), 1);
}

class WBSDKReachabilityNotifierTest : public ::testing::Test {
  protected:
    void TearDown() override { system_testing::resetReachability(); }
};

TEST_F(WBSDKReachabilityNotifierTest, TheCurrentStatusFollowsTheDevice) {
    auto internet = WBSDKReachability::reachabilityForInternetConnection();
    auto wifi = WBSDKReachability::reachabilityForLocalWiFi();
    ASSERT_TRUE(internet && wifi);
    EXPECT_TRUE(wifi->localWiFiRef());
    system_testing::setReachabilityFlags(kSCNetworkReachabilityFlagsReachable);
    EXPECT_EQ(internet->currentReachabilityStatus(), 1);
    EXPECT_EQ(wifi->currentReachabilityStatus(), 0);
    EXPECT_FALSE(internet->connectionRequired());
    system_testing::setReachabilityFlags(kSCNetworkReachabilityFlagsReachable |
                                         kSCNetworkReachabilityFlagsConnectionRequired);
    EXPECT_TRUE(internet->connectionRequired());
    system_testing::setReachabilityGetFlagsFails(true);
    EXPECT_EQ(internet->currentReachabilityStatus(), 0);
    EXPECT_FALSE(internet->connectionRequired());
    system_testing::setReachabilityGetFlagsFails(false);
    EXPECT_TRUE(WBSDKReachability::reachabilityWithHostName("api.example.com"));
    EXPECT_FALSE(WBSDKReachability::reachabilityWithHostName(""));
}

TEST_F(WBSDKReachabilityNotifierTest, AChangePostsTheNotificationOnTheStartingRunLoop) {
    system_testing::setReachabilityFlags(0);
    auto internet = WBSDKReachability::reachabilityForInternetConnection();
    ASSERT_TRUE(internet->startNotifier());
    int posted = 0;
    Ref<NSObject> sender;
    auto observer = make<NSObject>();
    NSNotificationCenter::defaultCenter()->addObserver(
        observer, "changed",
        [&](const Ref<NSNotification>& n) {
            ++posted;
            sender = n->object();
        },
        std::string(kWBSDKNetworkStatusNetworkReachabilityChangedNotification), nullptr);
    system_testing::setReachabilityFlags(kSCNetworkReachabilityFlagsReachable);
    EXPECT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return posted > 0; }, 5));
    EXPECT_EQ(sender, internet);
    internet->stopNotifier();
    int before = posted;
    system_testing::setReachabilityFlags(0);
    testsupport::pumpMainRunLoop(0.05);
    EXPECT_EQ(posted, before);
    NSNotificationCenter::defaultCenter()->removeObserver(observer);
}

}  // namespace
