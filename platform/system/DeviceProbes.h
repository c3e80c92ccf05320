#pragma once
// Device and network probes: what the app asks the device about itself.
//
// A phone answers with phone facts even though this machine is no phone:
// - sysctlbyname("hw.machine") answers a configured phone model code ("iPhone7,2" unless set),
//   never the host's architecture, which would make the app believe it runs in a simulator;
// - the interface list is the host's (getifaddrs) unless a test injects one; interface names are
//   kept as they are (a host has "eth0" where a phone has "en0"), so rules that look for "en0" see
//   what the host really has;
// - the hardware address of the phone's Wi-Fi interface "en0" is that of a configured host
//   interface ("eth0" unless set), read from its sysfs entry;
// - files that exist only on a modified phone do not exist here; tests may inject some;
// - system classes are looked up by name in a fixed table: the advertising identifier class is
//   absent, the telephony classes are present.
//
// All functions are thread-safe. Changing the interface list tells the listeners (reachability
// re-evaluates its targets).

#include <sys/socket.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The platform's named system values. Known: "hw.machine" (and "hw.model", the same text). With
// oldp null the needed length (with the terminator) goes to *oldlenp; a buffer that is too small
// gives -1 with errno ENOMEM; an unknown name -1 with ENOENT; setting values -1 with EPERM.
int sysctlbyname(const char* name, void* oldp, std::size_t* oldlenp, const void* newp, std::size_t newlen);

namespace detail {

// ---- the phone model ---------------------------------------------------------------------------
inline constexpr char kDefaultMachineModel[] = "iPhone7,2";
std::string machineModel();
// An empty model returns to the default.
void setMachineModel(const std::string& model);

// ---- interfaces ----------------------------------------------------------------------------------
// One address of one interface, as getifaddrs lists it (an interface with two addresses appears
// twice). Only IPv4 and IPv6 addresses are listed.
struct NetworkInterfaceAddress {
    std::string name;
    int family = AF_INET;  // AF_INET or AF_INET6
    std::string address;   // numeric text: "192.168.1.20", "fe80::1"
    bool up = true;
    bool running = true;
    bool loopback = false;
    bool operator==(const NetworkInterfaceAddress&) const = default;
};

// The injected list when there is one, else the host's.
std::vector<NetworkInterfaceAddress> networkInterfaceAddresses();
// Called (on the calling thread of the change) whenever the interface list or another network
// fact changes through a test hook. Returns a token for removal.
std::uint64_t addNetworkChangeListener(std::function<void()> listener);
void removeNetworkChangeListener(std::uint64_t token);
// Tells the listeners that the network may have changed (a host interface came or went).
void networkConfigurationChanged();

// Names of the interfaces that are up, not loopback and hold an IPv4 address, in list order,
// without repeats.
std::vector<std::string> activeIPv4InterfaceNames();

// ---- hardware addresses --------------------------------------------------------------------------
using HardwareAddress = std::array<std::uint8_t, 6>;
// The host interface that stands for the phone's "en0"; "eth0" unless set (empty returns to it).
std::string wifiInterfaceName();
void setWiFiInterfaceName(const std::string& hostInterface);
// The host name for a phone interface name: "en0" maps to wifiInterfaceName(), others are kept.
std::string hostInterfaceName(const std::string& phoneInterface);
// if_nametoindex with the "en0" mapping; 0 when there is no such interface.
unsigned interfaceIndex(const std::string& phoneInterface);
// The address from <sysfs>/<host interface>/address; nullopt when the interface is unknown, the
// file is missing or it does not hold six colon-separated hex bytes.
std::optional<HardwareAddress> hardwareAddressOfInterface(const std::string& phoneInterface);
// "aa:bb:cc:dd:ee:ff" (a trailing line end allowed) into bytes; nullopt for anything else.
std::optional<HardwareAddress> parseHardwareAddress(std::string_view text);

// ---- device files ----------------------------------------------------------------------------------
// Whether a path exists on the phone's own file system (outside the app's sandbox). Nothing exists
// there unless a test says so; a trailing "/" does not matter.
bool deviceFileExists(const std::string& path);

// ---- system classes --------------------------------------------------------------------------------
// Whether the system offers a class by that name (a run-time lookup by name). Unknown names are
// absent; "ASIdentifierManager" is absent; the telephony, pasteboard, reachability and photo
// library classes are present.
bool isSystemClassAvailable(const std::string& className);

}  // namespace detail
