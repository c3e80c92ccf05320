#include "foundation/NSDate.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "dispatch/Clock.h"

NSDate NSDate::date() {
    return NSDate(PlatformClock::now());
}

NSDate NSDate::dateWithTimeIntervalSinceNow(double seconds) {
    return NSDate(PlatformClock::now() + seconds);
}

double NSDate::timeIntervalSinceNow() const {
    return seconds_ - PlatformClock::now();
}

std::string NSDate::description() const {
    std::time_t t = static_cast<std::time_t>(std::floor(seconds_));
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d +0000", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

double CFAbsoluteTimeGetCurrent() {
    return PlatformClock::now() - NSDate::kReferenceDateOffset;
}
