#include "sdk/analytics/collection/TANPlatformProbes.h"

#if __has_include("system/DeviceProbes.h")
#include "system/CTTelephonyNetworkInfo.h"
#include "system/DeviceProbes.h"
#define TALLY_HAVE_SYSTEM_PROBES 1
#else
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#endif

namespace detail {

#if TALLY_HAVE_SYSTEM_PROBES

std::string tallyMachineModel() {
    std::size_t length = 0;
    if (sysctlbyname("hw.machine", nullptr, &length, nullptr, 0) != 0 || length == 0) return std::string();
    std::string buffer(length, '\0');
    if (sysctlbyname("hw.machine", buffer.data(), &length, nullptr, 0) != 0) return std::string();
    buffer.resize(std::min(buffer.size(), length));
    if (auto nul = buffer.find('\0'); nul != std::string::npos) buffer.resize(nul);
    return buffer;
}

std::vector<std::string> tallyActiveIPv4InterfaceNames() {
    return activeIPv4InterfaceNames();
}

std::optional<std::array<std::uint8_t, 6>> tallyWiFiHardwareAddress(bool* missingInterface) {
    if (missingInterface) *missingInterface = interfaceIndex("en0") == 0;
    return hardwareAddressOfInterface("en0");
}

std::optional<std::optional<std::string>> tallyCarrierName() {
    if (!isSystemClassAvailable("CTTelephonyNetworkInfo")) return std::nullopt;
    auto info = make<CTTelephonyNetworkInfo>();
    auto carrier = info->subscriberCellularProvider();
    return carrier ? carrier->carrierName() : std::optional<std::string>();
}

bool tallyDeviceFileExists(const std::string& path) {
    return deviceFileExists(path);
}

#else

std::string tallyMachineModel() {
    return "iPhone7,2";
}

std::vector<std::string> tallyActiveIPv4InterfaceNames() {
    std::vector<std::string> names;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return names;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
        if ((a->ifa_flags & IFF_LOOPBACK) || !(a->ifa_flags & IFF_UP)) continue;
        if (std::find(names.begin(), names.end(), a->ifa_name) == names.end()) names.push_back(a->ifa_name);
    }
    freeifaddrs(list);
    return names;
}

std::optional<std::array<std::uint8_t, 6>> tallyWiFiHardwareAddress(bool* missingInterface) {
    if (missingInterface) *missingInterface = true;
    return std::nullopt;
}

std::optional<std::optional<std::string>> tallyCarrierName() {
    return std::nullopt;
}

bool tallyDeviceFileExists(const std::string&) {
    return false;
}

#endif

}  // namespace detail
