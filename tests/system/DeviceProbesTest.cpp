#include "system/DeviceProbes.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <thread>

#include "system/CTTelephonyNetworkInfo.h"
#include "system/CaptiveNetwork.h"
#include "system/SystemTesting.h"
#include "tests/support/TestSupport.h"

namespace {

using detail::NetworkInterfaceAddress;

class DeviceProbesTest : public ::testing::Test {
  protected:
    void SetUp() override { system_testing::resetDeviceProbes(); }
    void TearDown() override {
        system_testing::resetDeviceProbes();
        system_testing::setCarrier(std::nullopt);
        system_testing::setRadioAccessTechnology(std::nullopt);
        system_testing::setCurrentWiFiNetwork(std::nullopt);
    }

    static NetworkInterfaceAddress address(std::string name, int family, std::string text, bool up = true,
                                           bool loopback = false) {
        NetworkInterfaceAddress a;
        a.name = std::move(name);
        a.family = family;
        a.address = std::move(text);
        a.up = up;
        a.loopback = loopback;
        return a;
    }

    // A fake sysfs folder with one interface whose address file holds `content`.
    void writeSysfsAddress(const testsupport::TemporaryDirectory& dir, const std::string& interface,
                           const std::string& content) {
        std::filesystem::create_directories(dir.path() + "/" + interface);
        std::ofstream(dir.path() + "/" + interface + "/address", std::ios::binary) << content;
        system_testing::setSysfsNetDirectory(dir.path());
    }
};

std::string machineBySysctl() {
    std::size_t size = 0;
    EXPECT_EQ(sysctlbyname("hw.machine", nullptr, &size, nullptr, 0), 0);
    std::string buffer(size, '\0');
    EXPECT_EQ(sysctlbyname("hw.machine", buffer.data(), &size, nullptr, 0), 0);
    EXPECT_EQ(size, buffer.size());
    return std::string(buffer.c_str());
}

TEST_F(DeviceProbesTest, MachineIsAPhoneModelNeverTheHostArchitecture) {
    EXPECT_EQ(machineBySysctl(), "iPhone7,2");
    EXPECT_NE(machineBySysctl(), "x86_64");
    detail::setMachineModel("iPhone9,1");
    EXPECT_EQ(machineBySysctl(), "iPhone9,1");
    detail::setMachineModel("");
    EXPECT_EQ(machineBySysctl(), "iPhone7,2");
}

TEST_F(DeviceProbesTest, SysctlAnswersTheNeededLengthWithTheTerminator) {
    std::size_t size = 0;
    ASSERT_EQ(sysctlbyname("hw.machine", nullptr, &size, nullptr, 0), 0);
    EXPECT_EQ(size, std::string("iPhone7,2").size() + 1);
}

TEST_F(DeviceProbesTest, SysctlRefusesABufferOneByteShort) {
    std::size_t size = 9;  // no room for the terminator
    char buffer[9];
    errno = 0;
    EXPECT_EQ(sysctlbyname("hw.machine", buffer, &size, nullptr, 0), -1);
    EXPECT_EQ(errno, ENOMEM);
}

TEST_F(DeviceProbesTest, SysctlRefusesUnknownNamesSettingAndMissingArguments) {
    std::size_t size = 64;
    char buffer[64];
    errno = 0;
    EXPECT_EQ(sysctlbyname("hw.ncpu", buffer, &size, nullptr, 0), -1);
    EXPECT_EQ(errno, ENOENT);
    errno = 0;
    EXPECT_EQ(sysctlbyname("hw.machine", nullptr, &size, "x", 1), -1);
    EXPECT_EQ(errno, EPERM);
    EXPECT_EQ(sysctlbyname(nullptr, buffer, &size, nullptr, 0), -1);
    EXPECT_EQ(sysctlbyname("hw.machine", buffer, nullptr, nullptr, 0), -1);
}

TEST_F(DeviceProbesTest, HostInterfacesIncludeTheLoopback) {
    auto list = detail::networkInterfaceAddresses();
    bool loopback = false;
    for (const auto& item : list) {
        EXPECT_TRUE(item.family == AF_INET || item.family == AF_INET6);
        EXPECT_FALSE(item.address.empty());
        if (item.loopback && item.address == "127.0.0.1") loopback = true;
    }
    EXPECT_TRUE(loopback);
}

TEST_F(DeviceProbesTest, ActiveIPv4NamesSkipLoopbackDownAndIPv6OnlyInterfaces) {
    system_testing::setNetworkInterfaces(std::vector<NetworkInterfaceAddress>{
        address("lo", AF_INET, "127.0.0.1", true, true),
        address("eth0", AF_INET, "10.0.0.2"),
        address("eth0", AF_INET, "10.0.0.3"),
        address("wlan1", AF_INET, "10.1.0.2", false),
        address("tun0", AF_INET6, "fd00::2"),
        address("en0", AF_INET, "192.168.1.4"),
    });
    EXPECT_EQ(detail::activeIPv4InterfaceNames(), (std::vector<std::string>{"eth0", "en0"}));
    system_testing::setNetworkInterfaces(std::vector<NetworkInterfaceAddress>{});
    EXPECT_TRUE(detail::activeIPv4InterfaceNames().empty());
}

TEST_F(DeviceProbesTest, InjectedInterfacesReplaceTheHostsUntilCleared) {
    system_testing::setNetworkInterfaces(
        std::vector<NetworkInterfaceAddress>{address("en0", AF_INET, "1.2.3.4")});
    ASSERT_EQ(detail::networkInterfaceAddresses().size(), 1u);
    system_testing::setNetworkInterfaces(std::nullopt);
    EXPECT_GT(detail::networkInterfaceAddresses().size(), 0u);
    EXPECT_NE(detail::networkInterfaceAddresses().front().address, "1.2.3.4");
}

TEST_F(DeviceProbesTest, ListenersHearInterfaceChangesUntilRemoved) {
    int heard = 0;
    auto token = detail::addNetworkChangeListener([&] { ++heard; });
    system_testing::setNetworkInterfaces(std::vector<NetworkInterfaceAddress>{});
    detail::networkConfigurationChanged();
    EXPECT_EQ(heard, 2);
    detail::removeNetworkChangeListener(token);
    system_testing::setNetworkInterfaces(std::nullopt);
    EXPECT_EQ(heard, 2);
}

TEST_F(DeviceProbesTest, AListenerMayRemoveItselfWhileBeingCalled) {
    std::uint64_t token = 0;
    int heard = 0;
    token = detail::addNetworkChangeListener([&] {
        ++heard;
        detail::removeNetworkChangeListener(token);
    });
    detail::networkConfigurationChanged();
    detail::networkConfigurationChanged();
    EXPECT_EQ(heard, 1);
}

TEST_F(DeviceProbesTest, En0MapsToTheConfiguredHostInterface) {
    EXPECT_EQ(detail::hostInterfaceName("en0"), "eth0");
    EXPECT_EQ(detail::hostInterfaceName("pdp_ip0"), "pdp_ip0");
    detail::setWiFiInterfaceName("lo");
    EXPECT_EQ(detail::hostInterfaceName("en0"), "lo");
    EXPECT_NE(detail::interfaceIndex("en0"), 0u);  // every host has a loopback
    EXPECT_EQ(detail::interfaceIndex("no-such-if0"), 0u);
    EXPECT_EQ(detail::interfaceIndex(std::string(300, 'x')), 0u);
}

TEST_F(DeviceProbesTest, HardwareAddressIsReadFromTheSysfsEntry) {
    testsupport::TemporaryDirectory dir;
    writeSysfsAddress(dir, "eth0", "02:fc:00:AB:cd:01\n");
    auto mac = detail::hardwareAddressOfInterface("en0");
    ASSERT_TRUE(mac);
    EXPECT_EQ(*mac, (detail::HardwareAddress{0x02, 0xfc, 0x00, 0xab, 0xcd, 0x01}));
}

TEST_F(DeviceProbesTest, MissingInterfaceOrFileGivesNoAddress) {
    testsupport::TemporaryDirectory dir;
    system_testing::setSysfsNetDirectory(dir.path());
    EXPECT_FALSE(detail::hardwareAddressOfInterface("en0"));
    std::filesystem::create_directories(dir.path() + "/eth0");
    EXPECT_FALSE(detail::hardwareAddressOfInterface("en0"));
}

TEST_F(DeviceProbesTest, InterfaceNamesCannotLeaveTheSysfsFolder) {
    testsupport::TemporaryDirectory dir;
    std::filesystem::create_directories(dir.path() + "/net");
    std::ofstream(dir.path() + "/address") << "02:00:00:00:00:01\n";
    system_testing::setSysfsNetDirectory(dir.path() + "/net");
    EXPECT_FALSE(detail::hardwareAddressOfInterface(".."));
    EXPECT_FALSE(detail::hardwareAddressOfInterface("../net/.."));
    detail::setWiFiInterfaceName("..");
    EXPECT_FALSE(detail::hardwareAddressOfInterface("en0"));
}

TEST_F(DeviceProbesTest, DamagedAddressFilesGiveNoAddress) {
    testsupport::TemporaryDirectory dir;
    for (std::string content : {"", "\n", "02:fc:00:00:00", "02:fc:00:00:00:01:02", "02-fc-00-00-00-01",
                                "0g:fc:00:00:00:01", "02:fc:00:00:00:01 trailing", "02:fc:00:00:00:1\n"}) {
        writeSysfsAddress(dir, "eth0", content);
        EXPECT_FALSE(detail::hardwareAddressOfInterface("en0")) << content;
    }
}

TEST_F(DeviceProbesTest, MutatedAddressesAreEitherSixBytesOrRefused) {
    const std::string valid = "02:fc:00:00:00:01\n";
    for (unsigned seed = 0; seed < 3000; ++seed) {
        std::string text = testsupport::mutate(valid, seed);
        auto parsed = detail::parseHardwareAddress(text);
        if (parsed) {
            // Whatever parses has the exact shape of an address.
            std::string trimmed = text;
            while (!trimmed.empty() && (trimmed.back() == '\n' || trimmed.back() == '\r')) trimmed.pop_back();
            EXPECT_EQ(trimmed.size(), 17u) << seed;
        }
    }
}

TEST_F(DeviceProbesTest, ModifiedPhoneFilesDoNotExistUnlessInjected) {
    EXPECT_FALSE(detail::deviceFileExists("/private/var/lib/apt/"));
    EXPECT_FALSE(detail::deviceFileExists("/"));
    system_testing::setDeviceFiles({"/private/var/lib/apt/"});
    EXPECT_TRUE(detail::deviceFileExists("/private/var/lib/apt"));
    EXPECT_TRUE(detail::deviceFileExists("/private/var/lib/apt//"));
    EXPECT_FALSE(detail::deviceFileExists("/private/var/lib"));
}

TEST_F(DeviceProbesTest, AdvertisingIdentifierClassIsAbsentTelephonyPresent) {
    EXPECT_FALSE(detail::isSystemClassAvailable("ASIdentifierManager"));
    EXPECT_TRUE(detail::isSystemClassAvailable("CTTelephonyNetworkInfo"));
    EXPECT_FALSE(detail::isSystemClassAvailable("NoSuchClass"));
    EXPECT_FALSE(detail::isSystemClassAvailable(""));
    system_testing::setSystemClassAvailable("CTTelephonyNetworkInfo", false);
    EXPECT_FALSE(detail::isSystemClassAvailable("CTTelephonyNetworkInfo"));
    system_testing::setSystemClassAvailable("CTTelephonyNetworkInfo", std::nullopt);
    EXPECT_TRUE(detail::isSystemClassAvailable("CTTelephonyNetworkInfo"));
}

TEST_F(DeviceProbesTest, WithoutASimTheCarrierHasNoName) {
    auto info = make<CTTelephonyNetworkInfo>();
    auto carrier = info->subscriberCellularProvider();
    ASSERT_TRUE(carrier);
    EXPECT_FALSE(carrier->carrierName());
    EXPECT_FALSE(carrier->mobileCountryCode());
    EXPECT_FALSE(carrier->mobileNetworkCode());
    EXPECT_FALSE(carrier->isoCountryCode());
    EXPECT_FALSE(info->currentRadioAccessTechnology());
    EXPECT_NE(carrier->description().find("Carrier name: [(null)]"), std::string::npos);
}

TEST_F(DeviceProbesTest, AnInstalledCarrierIsSeenByExistingObjects) {
    auto info = make<CTTelephonyNetworkInfo>();
    CTCarrierInfo carrier;
    carrier.carrierName = "Test Mobile";
    carrier.mobileCountryCode = "460";
    carrier.mobileNetworkCode = "01";
    carrier.isoCountryCode = "cn";
    system_testing::setCarrier(carrier);
    system_testing::setRadioAccessTechnology(std::string(CTRadioAccessTechnologyLTE));
    EXPECT_EQ(info->subscriberCellularProvider()->carrierName(), "Test Mobile");
    EXPECT_EQ(info->subscriberCellularProvider()->mobileCountryCode(), "460");
    EXPECT_EQ(info->currentRadioAccessTechnology(), CTRadioAccessTechnologyLTE);
}

TEST_F(DeviceProbesTest, WiFiInfoIsAbsentUntilANetworkIsJoined) {
    auto interfaces = CNCopySupportedInterfaces();
    ASSERT_TRUE(interfaces);
    ASSERT_EQ(interfaces->count(), 1u);
    EXPECT_EQ((*interfaces)[0].stringValue(), "en0");
    EXPECT_FALSE(CNCopyCurrentNetworkInfo("en0"));

    system_testing::setCurrentWiFiNetwork(system_testing::WiFiNetwork{"garage", "aa:bb:cc:dd:ee:ff"});
    auto info = CNCopyCurrentNetworkInfo("en0");
    ASSERT_TRUE(info);
    EXPECT_EQ((*info)[kCNNetworkInfoKeySSID].stringValue(), "garage");
    EXPECT_EQ((*info)[kCNNetworkInfoKeyBSSID].stringValue(), "aa:bb:cc:dd:ee:ff");
    ASSERT_TRUE((*info)[kCNNetworkInfoKeySSIDData].data());
    EXPECT_EQ((*info)[kCNNetworkInfoKeySSIDData].data()->toString(), "garage");
    EXPECT_FALSE(CNCopyCurrentNetworkInfo("eth0"));
}

TEST_F(DeviceProbesTest, ProbesMayBeReadAndChangedFromManyThreads) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) {
                if (t % 2) {
                    detail::setMachineModel(i % 2 ? "iPhone8,1" : "iPhone7,2");
                    system_testing::setNetworkInterfaces(std::vector<NetworkInterfaceAddress>{
                        address("en0", AF_INET, "10.0.0." + std::to_string(i))});
                } else {
                    std::string model = detail::machineModel();
                    EXPECT_TRUE(model == "iPhone8,1" || model == "iPhone7,2") << model;
                    auto list = detail::networkInterfaceAddresses();
                    EXPECT_FALSE(list.empty());
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
}

}  // namespace
