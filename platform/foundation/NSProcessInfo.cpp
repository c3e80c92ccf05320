#include "foundation/NSProcessInfo.h"

#include <limits.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "dispatch/Clock.h"

extern char** environ;

std::atomic<double> NSFoundationVersionNumber{1144.17};
std::atomic<double> kCFCoreFoundationVersionNumber{1145.15};

namespace {

struct ProcessState {
    std::mutex mutex;
    bool versionChosen = false;
    NSOperatingSystemVersion version;
    std::string processName;  // empty until set or first read
};

ProcessState& state() {
    static auto* s = new ProcessState();
    return *s;
}

std::string executableName() {
    std::string cmd = program_invocation_short_name ? program_invocation_short_name : "";
    char buffer[PATH_MAX + 1];
    ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n > 0) {
        std::string path(buffer, static_cast<std::size_t>(n));
        auto slash = path.rfind('/');
        return slash == std::string::npos ? path : path.substr(slash + 1);
    }
    return cmd;
}

}  // namespace

Ref<NSProcessInfo> NSProcessInfo::processInfo() {
    static const Ref<NSProcessInfo> shared = make<NSProcessInfo>();
    return shared;
}

std::string NSProcessInfo::processName() const {
    auto& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    if (s.processName.empty()) s.processName = executableName();
    return s.processName;
}

void NSProcessInfo::setProcessName(std::string name) {
    auto& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    s.processName = std::move(name);
}

int NSProcessInfo::processIdentifier() const {
    return static_cast<int>(::getpid());
}

std::vector<std::string> NSProcessInfo::arguments() const {
    std::vector<std::string> args;
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t start = 0;
    while (start < all.size()) {
        std::size_t end = all.find('\0', start);
        if (end == std::string::npos) end = all.size();
        args.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return args;
}

Dictionary NSProcessInfo::environment() const {
    Dictionary env = Dictionary::mutableDictionary();
    for (char** p = environ; p && *p; ++p) {
        std::string entry(*p);
        auto eq = entry.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        env.setObject(entry.substr(0, eq), entry.substr(eq + 1));
    }
    return env.copy();
}

std::string NSProcessInfo::globallyUniqueString() const {
    static std::atomic<unsigned long long> counter{0};
    uuid_t uuid;
    uuid_generate_random(uuid);
    char text[37];
    uuid_unparse_upper(uuid, text);
    char tail[64];
    std::snprintf(tail, sizeof tail, "-%d-%016llX", static_cast<int>(::getpid()),
                  counter.fetch_add(1, std::memory_order_relaxed));
    return std::string(text) + tail;
}

std::string NSProcessInfo::hostName() const {
    char buffer[HOST_NAME_MAX + 1] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0) return "localhost";
    return buffer;
}

unsigned long long NSProcessInfo::physicalMemory() const {
    long pages = ::sysconf(_SC_PHYS_PAGES);
    long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return static_cast<unsigned long long>(pages) * static_cast<unsigned long long>(pageSize);
}

unsigned long NSProcessInfo::processorCount() const {
    long n = ::sysconf(_SC_NPROCESSORS_CONF);
    return n > 0 ? static_cast<unsigned long>(n) : 1;
}

unsigned long NSProcessInfo::activeProcessorCount() const {
    unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? n : 1;
}

double NSProcessInfo::systemUptime() const {
    return PlatformClock::monotonic();
}

NSOperatingSystemVersion NSProcessInfo::operatingSystemVersion() const {
    auto& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    if (!s.versionChosen) {
        s.versionChosen = true;
        s.version = NSOperatingSystemVersion{8, 4, 0};
        const char* env = std::getenv("APP_OS_VERSION");
        NSOperatingSystemVersion configured;
        if (env && parseVersion(env, configured)) s.version = configured;
    }
    return s.version;
}

std::string NSProcessInfo::operatingSystemVersionString() const {
    return "Version " + versionText(operatingSystemVersion()) + " (Build 0)";
}

bool NSProcessInfo::isOperatingSystemAtLeastVersion(const NSOperatingSystemVersion& v) const {
    auto mine = operatingSystemVersion();
    if (mine.majorVersion != v.majorVersion) return mine.majorVersion > v.majorVersion;
    if (mine.minorVersion != v.minorVersion) return mine.minorVersion > v.minorVersion;
    return mine.patchVersion >= v.patchVersion;
}

void NSProcessInfo::setOperatingSystemVersion(const NSOperatingSystemVersion& version) {
    auto& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    s.versionChosen = true;
    s.version = version;
}

std::string NSProcessInfo::versionText(const NSOperatingSystemVersion& v) {
    std::string text = std::to_string(v.majorVersion) + "." + std::to_string(v.minorVersion);
    if (v.patchVersion != 0) text += "." + std::to_string(v.patchVersion);
    return text;
}

bool NSProcessInfo::parseVersion(const std::string& text, NSOperatingSystemVersion& version) {
    long parts[3] = {0, 0, 0};
    std::size_t count = 0;
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
        if (count == 3 || !std::isdigit(static_cast<unsigned char>(*p))) return false;
        auto result = std::from_chars(p, end, parts[count]);
        if (result.ec != std::errc()) return false;
        ++count;
        p = result.ptr;
        if (p == end) break;
        if (*p != '.' || p + 1 == end) return false;
        ++p;
    }
    if (count == 0) return false;
    version = NSOperatingSystemVersion{parts[0], parts[1], parts[2]};
    return true;
}
