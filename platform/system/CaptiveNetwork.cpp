#include "system/CaptiveNetwork.h"
#include "system/SystemTesting.h"

#include <mutex>

namespace {

std::mutex& networkMutex() {
    static std::mutex m;
    return m;
}

std::optional<system_testing::WiFiNetwork>& joinedNetwork() {
    static std::optional<system_testing::WiFiNetwork> network;
    return network;
}

}  // namespace

std::optional<Array> CNCopySupportedInterfaces() {
    return Array{Value("en0")};
}

std::optional<Dictionary> CNCopyCurrentNetworkInfo(const std::string& interfaceName) {
    if (interfaceName != "en0") return std::nullopt;
    std::lock_guard lock(networkMutex());
    const auto& network = joinedNetwork();
    if (!network) return std::nullopt;
    return Dictionary{
        {kCNNetworkInfoKeySSID, Value(network->ssid)},
        {kCNNetworkInfoKeyBSSID, Value(network->bssid)},
        {kCNNetworkInfoKeySSIDData, Value(NSData::fromString(network->ssid))},
    };
}

namespace system_testing {

void setCurrentWiFiNetwork(std::optional<WiFiNetwork> network) {
    std::lock_guard lock(networkMutex());
    joinedNetwork() = std::move(network);
}

}  // namespace system_testing
