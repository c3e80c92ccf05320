#pragma once
// The few device facts the analytics probes take from the system services layer (model code,
// network interfaces, the Wi-Fi hardware address, the carrier, device files). Kept in one place
// so that the probes read as the device would answer.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace detail {

std::string tallyMachineModel();
// Interfaces that are up, not loopback and hold an IPv4 address.
std::vector<std::string> tallyActiveIPv4InterfaceNames();
// The hardware address of "en0"; *missingInterface is set when there is no such interface.
std::optional<std::array<std::uint8_t, 6>> tallyWiFiHardwareAddress(bool* missingInterface);
// nullopt when the telephony framework is not there; otherwise the carrier's name (maybe none).
std::optional<std::optional<std::string>> tallyCarrierName();
bool tallyDeviceFileExists(const std::string& path);

}  // namespace detail
