#include "sdk/analytics/collection/TANPlatformProbes.h"

#include <algorithm>

#include "system/CTTelephonyNetworkInfo.h"
#include "system/DeviceProbes.h"

namespace detail {

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

}  // namespace detail
