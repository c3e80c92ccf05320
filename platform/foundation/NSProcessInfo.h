#pragma once
// Facts about the running process and the system it believes it runs on.
//
// The process facts (name, id, arguments, environment, host, memory, processors) are Linux's.
// The system facts are those of the phone system the app is built for, from configuration:
// operatingSystemVersion is 8.4.0 unless the environment variable APP_OS_VERSION ("9.1",
// "8.4.1") or setOperatingSystemVersion() says otherwise. The two version numbers below are
// process-wide variables, atomic so that tests may change them while other threads read them;
// their defaults are those of a system of the 8.4 line.
//
// systemUptime follows the platform clock (manual in tests). Everything here is thread-safe.

#include <atomic>
#include <string>
#include <vector>

#include "foundation/NSObject.h"
#include "foundation/Value.h"

struct NSOperatingSystemVersion {
    long majorVersion = 0;
    long minorVersion = 0;
    long patchVersion = 0;
};

class NSProcessInfo : public NSObject {
  public:
    NSProcessInfo() = default;
    static Ref<NSProcessInfo> processInfo();

    // The executable's file name unless set.
    std::string processName() const;
    void setProcessName(std::string name);
    int processIdentifier() const;
    // The command line, program first.
    std::vector<std::string> arguments() const;
    // The environment as it is now, name to value.
    Dictionary environment() const;
    // A text unique across processes and calls: a random UUID, the process id and a counter.
    std::string globallyUniqueString() const;
    std::string hostName() const;
    unsigned long long physicalMemory() const;
    unsigned long processorCount() const;
    unsigned long activeProcessorCount() const;
    // Seconds since the platform clock started counting (monotonic).
    double systemUptime() const;

    NSOperatingSystemVersion operatingSystemVersion() const;
    // "Version 8.4 (Build 0)" style, the patch shown only when not zero.
    std::string operatingSystemVersionString() const;
    bool isOperatingSystemAtLeastVersion(const NSOperatingSystemVersion& version) const;

    // Configuration: the system version this process reports (for tests and deployments).
    static void setOperatingSystemVersion(const NSOperatingSystemVersion& version);
    // The device's version text: "8.4", "8.4.1" (the patch only when not zero).
    static std::string versionText(const NSOperatingSystemVersion& version);
    // Reads "8", "8.4" or "8.4.1"; false for anything else.
    static bool parseVersion(const std::string& text, NSOperatingSystemVersion& version);

    std::string className() const override { return "NSProcessInfo"; }
};

// The platform's Foundation and Core Foundation version numbers. Code compares their floors
// with the release thresholds below (and with bare numbers such as 993, 1047, 1140, 1144).
extern std::atomic<double> NSFoundationVersionNumber;
extern std::atomic<double> kCFCoreFoundationVersionNumber;

inline constexpr double NSFoundationVersionNumber_iOS_7_0 = 1047.20;
inline constexpr double NSFoundationVersionNumber_iOS_7_1 = 1047.25;
inline constexpr double NSFoundationVersionNumber_iOS_8_0 = 1140.11;
inline constexpr double NSFoundationVersionNumber_iOS_8_1 = 1141.1;
inline constexpr double kCFCoreFoundationVersionNumber_iOS_7_0 = 847.20;
inline constexpr double kCFCoreFoundationVersionNumber_iOS_8_0 = 1140.10;
