#pragma once
// A point in time: seconds since 1970-01-01 00:00:00 UTC, as a double. A value type.
// "Now" reads the platform clock, so tests on the manual clock get manual dates.

#include <compare>
#include <string>

class NSDate {
  public:
    // Seconds between 1970 and the platform's reference date, 2001-01-01 00:00:00 UTC.
    static constexpr double kReferenceDateOffset = 978307200.0;

    constexpr NSDate() = default;
    static NSDate date();
    static constexpr NSDate dateWithTimeIntervalSince1970(double seconds) { return NSDate(seconds); }
    static constexpr NSDate dateWithTimeIntervalSinceReferenceDate(double seconds) {
        return NSDate(seconds + kReferenceDateOffset);
    }
    static NSDate dateWithTimeIntervalSinceNow(double seconds);
    static constexpr NSDate distantPast() { return NSDate(-62135769600.0); }   // 0001-01-01
    static constexpr NSDate distantFuture() { return NSDate(64092211200.0); }  // 4001-01-01

    constexpr double timeIntervalSince1970() const { return seconds_; }
    constexpr double timeIntervalSinceReferenceDate() const { return seconds_ - kReferenceDateOffset; }
    constexpr double timeIntervalSinceDate(const NSDate& other) const { return seconds_ - other.seconds_; }
    double timeIntervalSinceNow() const;
    constexpr NSDate dateByAddingTimeInterval(double seconds) const { return NSDate(seconds_ + seconds); }

    constexpr bool operator==(const NSDate& other) const = default;
    constexpr auto operator<=>(const NSDate& other) const = default;
    NSDate earlierDate(const NSDate& other) const { return other < *this ? other : *this; }
    NSDate laterDate(const NSDate& other) const { return other > *this ? other : *this; }

    // "2026-12-06 18:00:00 +0000"
    std::string description() const;

  private:
    constexpr explicit NSDate(double seconds) : seconds_(seconds) {}
    double seconds_ = 0;
};

// CFAbsoluteTimeGetCurrent: seconds since the reference date, from the platform clock.
double CFAbsoluteTimeGetCurrent();
