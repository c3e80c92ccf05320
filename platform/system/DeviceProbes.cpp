#include "system/DeviceProbes.h"
#include "system/SystemTesting.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace {

struct ProbeState {
    std::mutex mutex;
    std::string machineModel = detail::kDefaultMachineModel;
    std::optional<std::vector<detail::NetworkInterfaceAddress>> interfaces;
    std::string wifiInterface = "eth0";
    std::string sysfsNet = "/sys/class/net";
    std::set<std::string> deviceFiles;
    std::map<std::string, bool> classOverrides;
};

ProbeState& state() {
    static ProbeState s;
    return s;
}

struct Listeners {
    std::mutex mutex;
    std::map<std::uint64_t, std::shared_ptr<std::function<void()>>> entries;
    std::uint64_t next = 1;
};

Listeners& listeners() {
    static Listeners l;
    return l;
}

std::string normalisedDevicePath(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::vector<detail::NetworkInterfaceAddress> hostInterfaces() {
    std::vector<detail::NetworkInterfaceAddress> result;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return result;
    for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || !entry->ifa_name) continue;
        int family = entry->ifa_addr->sa_family;
        char text[INET6_ADDRSTRLEN] = {};
        if (family == AF_INET) {
            auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
            if (!::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) continue;
        } else if (family == AF_INET6) {
            auto* in6 = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
            if (!::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text)) continue;
        } else {
            continue;
        }
        detail::NetworkInterfaceAddress item;
        item.name = entry->ifa_name;
        item.family = family;
        item.address = text;
        item.up = (entry->ifa_flags & IFF_UP) != 0;
        item.running = (entry->ifa_flags & IFF_RUNNING) != 0;
        item.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
        result.push_back(std::move(item));
    }
    ::freeifaddrs(list);
    return result;
}

// Names fixed by the system: present unless overridden.
const std::set<std::string>& presentClasses() {
    static const std::set<std::string> names = {
        "CTTelephonyNetworkInfo", "CTCarrier", "UIPasteboard",   "ALAssetsLibrary",
        "ALAssetsGroup",          "ALAsset",   "ALAssetsFilter", "ALAssetRepresentation",
    };
    return names;
}

}  // namespace

int sysctlbyname(const char* name, void* oldp, std::size_t* oldlenp, const void* newp, std::size_t newlen) {
    if (!name) {
        errno = EINVAL;
        return -1;
    }
    std::string key = name;
    if (key != "hw.machine" && key != "hw.model") {
        errno = ENOENT;
        return -1;
    }
    if (newp || newlen) {
        errno = EPERM;
        return -1;
    }
    if (!oldlenp) {
        errno = EINVAL;
        return -1;
    }
    std::string value = detail::machineModel();
    std::size_t needed = value.size() + 1;
    if (!oldp) {
        *oldlenp = needed;
        return 0;
    }
    if (*oldlenp < needed) {
        errno = ENOMEM;
        return -1;
    }
    std::memcpy(oldp, value.c_str(), needed);
    *oldlenp = needed;
    return 0;
}

namespace detail {

std::string machineModel() {
    std::lock_guard lock(state().mutex);
    return state().machineModel;
}

void setMachineModel(const std::string& model) {
    std::lock_guard lock(state().mutex);
    state().machineModel = model.empty() ? std::string(kDefaultMachineModel) : model;
}

std::vector<NetworkInterfaceAddress> networkInterfaceAddresses() {
    {
        std::lock_guard lock(state().mutex);
        if (state().interfaces) return *state().interfaces;
    }
    return hostInterfaces();
}

std::uint64_t addNetworkChangeListener(std::function<void()> listener) {
    auto& l = listeners();
    std::lock_guard lock(l.mutex);
    std::uint64_t token = l.next++;
    l.entries.emplace(token, std::make_shared<std::function<void()>>(std::move(listener)));
    return token;
}

void removeNetworkChangeListener(std::uint64_t token) {
    auto& l = listeners();
    std::lock_guard lock(l.mutex);
    l.entries.erase(token);
}

void networkConfigurationChanged() {
    std::vector<std::shared_ptr<std::function<void()>>> snapshot;
    {
        auto& l = listeners();
        std::lock_guard lock(l.mutex);
        for (auto& [token, fn] : l.entries) snapshot.push_back(fn);
    }
    // Outside the lock: a listener may add or remove listeners.
    for (auto& fn : snapshot) {
        if (*fn) (*fn)();
    }
}

std::vector<std::string> activeIPv4InterfaceNames() {
    std::vector<std::string> names;
    for (const auto& item : networkInterfaceAddresses()) {
        if (item.family != AF_INET || !item.up || item.loopback) continue;
        if (std::find(names.begin(), names.end(), item.name) == names.end()) names.push_back(item.name);
    }
    return names;
}

std::string wifiInterfaceName() {
    std::lock_guard lock(state().mutex);
    return state().wifiInterface;
}

void setWiFiInterfaceName(const std::string& hostInterface) {
    std::lock_guard lock(state().mutex);
    state().wifiInterface = hostInterface.empty() ? std::string("eth0") : hostInterface;
}

std::string hostInterfaceName(const std::string& phoneInterface) {
    return phoneInterface == "en0" ? wifiInterfaceName() : phoneInterface;
}

unsigned interfaceIndex(const std::string& phoneInterface) {
    std::string host = hostInterfaceName(phoneInterface);
    if (host.empty() || host.size() >= IF_NAMESIZE) return 0;
    return ::if_nametoindex(host.c_str());
}

std::optional<HardwareAddress> parseHardwareAddress(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    // Exactly "hh:hh:hh:hh:hh:hh".
    if (text.size() != 17) return std::nullopt;
    HardwareAddress out{};
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < 6; ++i) {
        std::size_t at = i * 3;
        int hi = hex(text[at]), lo = hex(text[at + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        if (i < 5 && text[at + 2] != ':') return std::nullopt;
        out[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    return out;
}

std::optional<HardwareAddress> hardwareAddressOfInterface(const std::string& phoneInterface) {
    std::string host = hostInterfaceName(phoneInterface);
    // The name becomes a path component: refuse anything that could leave the folder.
    if (host.empty() || host == "." || host == ".." || host.find('/') != std::string::npos ||
        host.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    std::string dir;
    {
        std::lock_guard lock(state().mutex);
        dir = state().sysfsNet;
    }
    std::ifstream in(dir + "/" + host + "/address", std::ios::binary);
    if (!in) return std::nullopt;
    // A real entry is 18 bytes; read a little more so that longer junk is seen as junk.
    char buffer[64];
    in.read(buffer, sizeof buffer);
    return parseHardwareAddress(std::string_view(buffer, static_cast<std::size_t>(in.gcount())));
}

bool deviceFileExists(const std::string& path) {
    std::lock_guard lock(state().mutex);
    return state().deviceFiles.count(normalisedDevicePath(path)) != 0;
}

bool isSystemClassAvailable(const std::string& className) {
    std::lock_guard lock(state().mutex);
    auto it = state().classOverrides.find(className);
    if (it != state().classOverrides.end()) return it->second;
    return presentClasses().count(className) != 0;
}

}  // namespace detail

namespace system_testing {

void setNetworkInterfaces(std::optional<std::vector<detail::NetworkInterfaceAddress>> interfaces) {
    {
        std::lock_guard lock(state().mutex);
        state().interfaces = std::move(interfaces);
    }
    detail::networkConfigurationChanged();
}

void setSysfsNetDirectory(const std::string& path) {
    std::lock_guard lock(state().mutex);
    state().sysfsNet = path.empty() ? std::string("/sys/class/net") : path;
}

void setDeviceFiles(std::vector<std::string> paths) {
    std::lock_guard lock(state().mutex);
    state().deviceFiles.clear();
    for (auto& p : paths) state().deviceFiles.insert(normalisedDevicePath(std::move(p)));
}

void setSystemClassAvailable(const std::string& className, std::optional<bool> available) {
    std::lock_guard lock(state().mutex);
    if (available) {
        state().classOverrides[className] = *available;
    } else {
        state().classOverrides.erase(className);
    }
}

void resetDeviceProbes() {
    bool hadInterfaces;
    {
        std::lock_guard lock(state().mutex);
        auto& s = state();
        hadInterfaces = s.interfaces.has_value();
        s.machineModel = detail::kDefaultMachineModel;
        s.interfaces.reset();
        s.wifiInterface = "eth0";
        s.sysfsNet = "/sys/class/net";
        s.deviceFiles.clear();
        s.classOverrides.clear();
    }
    if (hadInterfaces) detail::networkConfigurationChanged();
}

}  // namespace system_testing
