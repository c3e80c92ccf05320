#pragma once
// Wi-Fi network information: the phone's Wi-Fi interfaces and the network joined on one.
//
// The phone has one Wi-Fi interface, "en0". Which network it has joined is configuration: none
// unless a test joins one, so CNCopyCurrentNetworkInfo answers nil by default, as a phone that is
// not on Wi-Fi does. Thread-safe.

#include <optional>
#include <string>

#include "foundation/NSData.h"
#include "foundation/Value.h"

inline constexpr char kCNNetworkInfoKeySSIDData[] = "SSIDDATA";
inline constexpr char kCNNetworkInfoKeySSID[] = "SSID";
inline constexpr char kCNNetworkInfoKeyBSSID[] = "BSSID";

// The names of the Wi-Fi interfaces: ["en0"].
std::optional<Array> CNCopySupportedInterfaces();
// {SSID, BSSID, SSIDDATA} of the network joined on the interface; nil when none is joined or the
// interface is not a Wi-Fi interface.
std::optional<Dictionary> CNCopyCurrentNetworkInfo(const std::string& interfaceName);
