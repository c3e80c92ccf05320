// The shared open device identifier: slot pasteboards written by "other apps" (files in the
// device's pasteboard folder), the local record, opting out, damaged slots.

#include <gtest/gtest.h>

#include "TallyTestSupport.h"
#include "foundation/NSKeyedArchiver.h"
#include "sdk/analytics/collection/TANSharedUDID.h"
#include <filesystem>

#include "system/CTTelephonyNetworkInfo.h"
#include "system/SystemTesting.h"
#include "system/UIPasteboard.h"

namespace {

std::string slot(int n) {
    return "org.SharedUDID.slot." + std::to_string(n);
}

class TANSharedUDIDTest : public tallytest::TallyTest {
  protected:
    // Another app's record in a slot.
    void writeSlot(int n, const std::string& identifier, const std::string& appUID = "OTHER-APP") {
        Dictionary record{
            {"SharedUDID", identifier}, {"SharedUDID_appUID", appUID}, {"SharedUDID_slot", slot(n)}};
        auto data = NSKeyedArchiver::archivedDataWithRootObject(Value(record));
        auto pasteboard = UIPasteboard::pasteboardWithName(slot(n), true);
        pasteboard->setPersistent(true);
        pasteboard->setData(*data, "org.SharedUDID");
    }
    Dictionary slotRecord(int n) {
        return TANSharedUDID::_getDictFromPasteboard(UIPasteboard::pasteboardWithName(slot(n), false));
    }
    std::string value(Ref<NSError>* error = nullptr) {
        TANSharedUDID::resetCacheForTesting();
        return TANSharedUDID::valueWithError(error).value_or("");
    }
};

bool isIdentifier(const std::string& s) {
    if (s.size() != 40) return false;
    for (char c : s) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

TEST_F(TANSharedUDIDTest, AFirstRunMakesAnIdentifierAndClaimsSlotZero) {
    Ref<NSError> error;
    std::string id = value(&error);
    EXPECT_TRUE(isIdentifier(id)) << id;
    EXPECT_EQ(error->code(), 0);
    EXPECT_EQ(*error->userInfo()["description"].string(), "SharedUDID succesfully retrieved");
    Dictionary record = slotRecord(0);
    EXPECT_EQ(*record["SharedUDID"].string(), id);
    auto local = NSUserDefaults::standardUserDefaults()->dictionaryForKey("SharedUDID");
    ASSERT_TRUE(local);
    EXPECT_EQ(*(*local)["SharedUDID_slot"].string(), slot(0));
    EXPECT_TRUE((*local)["SharedUDID_createdTS"].isDate());
    // The same value again, from the process cache.
    EXPECT_EQ(*TANSharedUDID::valueWithError(&error), id);
    EXPECT_EQ(*error->userInfo()["description"].string(), "SharedUDID in cache from first call");
}

TEST_F(TANSharedUDIDTest, TheMostFrequentIdentifierOfOtherAppsIsAdopted) {
    std::string shared(40, 'a');
    writeSlot(0, shared);
    writeSlot(1, shared);
    EXPECT_EQ(value(), shared);
    EXPECT_EQ(*slotRecord(2)["SharedUDID"].string(), shared);
}

TEST_F(TANSharedUDIDTest, ALocalIdentifierWinsButADiscrepancyIsReported) {
    std::string mine(40, 'b');
    NSUserDefaults::standardUserDefaults()->setObject(
        "SharedUDID", Value(Dictionary{{"SharedUDID", mine}, {"SharedUDID_slot", slot(5)}}));
    writeSlot(0, std::string(40, 'c'));
    Ref<NSError> error;
    EXPECT_EQ(value(&error), mine);
    EXPECT_EQ(error->code(), 2);
}

TEST_F(TANSharedUDIDTest, OptingOut) {
    std::string id = value();
    TANSharedUDID::setOptOut(true);
    Ref<NSError> error;
    // A new process (the slot names a different app id, so the opt-out holds).
    std::string out = TANSharedUDID::valueWithError(&error).value_or("");
    EXPECT_EQ(out, std::string(40, '0'));
    EXPECT_EQ(error->code(), 1);
    EXPECT_EQ(*TANSharedUDID::valueWithError(&error), std::string(40, '0'));
    EXPECT_EQ(*error->userInfo()["description"].string(), "SharedUDID in cache from first call");
    TANSharedUDID::setOptOut(false);
    EXPECT_EQ(*TANSharedUDID::value(), id);
}

TEST_F(TANSharedUDIDTest, AllSlotsTakenClaimsNothing) {
    for (int n = 0; n < 100; ++n) writeSlot(n, std::string(40, n % 2 ? 'd' : 'e'));
    writeSlot(98, std::string(40, 'd'));  // 51 against 49
    std::string id = value();
    EXPECT_EQ(id, std::string(40, 'd'));
    for (int n = 0; n < 100; ++n) EXPECT_NE(*slotRecord(n)["SharedUDID_appUID"].string(), "");
}

TEST_F(TANSharedUDIDTest, DamagedSlotsCountAsEmpty) {
    std::string valid;
    {
        Dictionary record{{"SharedUDID", std::string(40, 'f')}};
        valid = NSKeyedArchiver::archivedDataWithRootObject(Value(record))->toString();
    }
    for (unsigned seed = 0; seed < 150; ++seed) {
        auto pasteboard = UIPasteboard::pasteboardWithName(slot(seed % 3), true);
        pasteboard->setPersistent(true);
        pasteboard->setData(NSData::fromString(testsupport::mutate(valid, seed)), "org.SharedUDID");
        NSUserDefaults::standardUserDefaults()->removeObjectForKey("SharedUDID");
        EXPECT_TRUE(isIdentifier(value()));
    }
    NSUserDefaults::standardUserDefaults()->setObject("SharedUDID", Value("not a dictionary"));
    EXPECT_TRUE(isIdentifier(value()));
}

TEST_F(TANSharedUDIDTest, FreshIdentifiersDiffer) {
    std::string a = TANSharedUDID::_generateFreshSharedUDID();
    std::string b = TANSharedUDID::_generateFreshSharedUDID();
    EXPECT_TRUE(isIdentifier(a));
    EXPECT_NE(a, b);
}

// ---------------------------------------------------------------------------------------------
// Device probes as the phone answers them

class TANProbesTest : public tallytest::TallyTest {};

TEST_F(TANProbesTest, NetworkAccessFromTheInterfaces) {
    tallytest::setNetworkAccess("WiFi");
    EXPECT_EQ(TANUtil::accessString(), "WiFi");
    tallytest::setNetworkAccess("CellNetwork");
    EXPECT_EQ(TANUtil::accessString(), "CellNetwork");
    tallytest::setNetworkAccess("");
    EXPECT_EQ(TANUtil::accessString(), "");
    detail::setMachineModel("x86_64");
    EXPECT_EQ(TANUtil::accessString(), "WiFi");  // a simulator always has Wi-Fi
    detail::setMachineModel("");
    EXPECT_EQ(TANUtil::deviceModelString(), "iPhone7,2");
}

TEST_F(TANProbesTest, HardwareAddressCarrierAndDeviceFiles) {
    testsupport::TemporaryDirectory sysfs;
    std::filesystem::create_directories(sysfs.file("wlan9"));
    NSData::fromString("02:1a:2b:3c:4d:5e\n").writeToFile(sysfs.file("wlan9/address"));
    system_testing::setSysfsNetDirectory(sysfs.path());
    detail::setWiFiInterfaceName("wlan9");
    auto mac = TANProtocolData::deviceMacString();
    if (detail::interfaceIndex("en0") != 0) {
        EXPECT_EQ(mac, std::optional<std::string>("02:1A:2B:3C:4D:5E"));
    } else {
        EXPECT_FALSE(mac);
        EXPECT_TRUE(log_.contains("Error: if_nametoindex error"));
    }
    EXPECT_EQ(TANUtil::carrierString(), "");
    system_testing::setCarrier(CTCarrierInfo{std::string("中国移动"), {}, {}, {}, false});
    EXPECT_EQ(TANUtil::carrierString(), "中国移动");
    system_testing::setCarrier(std::nullopt);
    system_testing::setDeviceFiles({"/private/var/lib/apt"});
    EXPECT_TRUE(TANUtil::isDeviceJailBreak());
    EXPECT_EQ(TANUtil::deviceJailBreakString(), "YES");
}

}  // namespace
