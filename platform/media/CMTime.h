#pragma once
// Media times: a rational number of seconds (value / timescale) with flags that mark the special
// times (invalid, indefinite, the two infinities). Frames and audio samples carry them; sources
// hand them to the pipeline with every frame, a still picture's frames carry the indefinite time
// and raw data without a time the invalid one.
//
// Arithmetic keeps exact values: two times of different timescales are added or subtracted at
// the finer of the two (or their product when neither divides the other), and comparison is
// exact. The special times follow the platform's rules: anything with an invalid time is
// invalid, an infinity wins over a number, indefinite over a number.

#include <cmath>
#include <cstdint>
#include <numeric>
#include <string>

using CMTimeValue = std::int64_t;
using CMTimeScale = std::int32_t;
using CMTimeEpoch = std::int64_t;
using CMTimeFlags = std::uint32_t;

inline constexpr CMTimeFlags kCMTimeFlags_Valid = 1u << 0;
inline constexpr CMTimeFlags kCMTimeFlags_HasBeenRounded = 1u << 1;
inline constexpr CMTimeFlags kCMTimeFlags_PositiveInfinity = 1u << 2;
inline constexpr CMTimeFlags kCMTimeFlags_NegativeInfinity = 1u << 3;
inline constexpr CMTimeFlags kCMTimeFlags_Indefinite = 1u << 4;

struct CMTime {
    CMTimeValue value = 0;
    CMTimeScale timescale = 0;
    CMTimeFlags flags = 0;
    CMTimeEpoch epoch = 0;
};

inline constexpr CMTime kCMTimeInvalid{0, 0, 0, 0};
inline constexpr CMTime kCMTimeIndefinite{0, 0, kCMTimeFlags_Valid | kCMTimeFlags_Indefinite, 0};
inline constexpr CMTime kCMTimeZero{0, 1, kCMTimeFlags_Valid, 0};
inline constexpr CMTime kCMTimePositiveInfinity{0, 0, kCMTimeFlags_Valid | kCMTimeFlags_PositiveInfinity, 0};
inline constexpr CMTime kCMTimeNegativeInfinity{0, 0, kCMTimeFlags_Valid | kCMTimeFlags_NegativeInfinity, 0};

inline constexpr CMTime CMTimeMake(CMTimeValue value, CMTimeScale timescale) {
    return timescale > 0 ? CMTime{value, timescale, kCMTimeFlags_Valid, 0} : kCMTimeInvalid;
}
inline constexpr bool CMTIME_IS_VALID(const CMTime& t) {
    return (t.flags & kCMTimeFlags_Valid) != 0;
}
inline constexpr bool CMTIME_IS_INVALID(const CMTime& t) {
    return !CMTIME_IS_VALID(t);
}
inline constexpr bool CMTIME_IS_INDEFINITE(const CMTime& t) {
    return CMTIME_IS_VALID(t) && (t.flags & kCMTimeFlags_Indefinite) != 0;
}
inline constexpr bool CMTIME_IS_POSITIVE_INFINITY(const CMTime& t) {
    return CMTIME_IS_VALID(t) && (t.flags & kCMTimeFlags_PositiveInfinity) != 0;
}
inline constexpr bool CMTIME_IS_NEGATIVE_INFINITY(const CMTime& t) {
    return CMTIME_IS_VALID(t) && (t.flags & kCMTimeFlags_NegativeInfinity) != 0;
}
// A plain number of seconds: valid and none of the special times.
inline constexpr bool CMTIME_IS_NUMERIC(const CMTime& t) {
    return CMTIME_IS_VALID(t) && (t.flags & (kCMTimeFlags_Indefinite | kCMTimeFlags_PositiveInfinity |
                                             kCMTimeFlags_NegativeInfinity)) == 0;
}

// The seconds rounded to the nearest step of the timescale (600 is the usual one).
inline CMTime CMTimeMakeWithSeconds(double seconds, CMTimeScale preferredTimescale) {
    if (std::isnan(seconds) || preferredTimescale <= 0) return kCMTimeInvalid;
    if (std::isinf(seconds)) return seconds > 0 ? kCMTimePositiveInfinity : kCMTimeNegativeInfinity;
    return CMTimeMake(static_cast<CMTimeValue>(std::llround(seconds * preferredTimescale)),
                      preferredTimescale);
}

// NaN for an invalid or indefinite time; +-infinity for the infinities.
inline double CMTimeGetSeconds(const CMTime& t) {
    if (CMTIME_IS_POSITIVE_INFINITY(t)) return INFINITY;
    if (CMTIME_IS_NEGATIVE_INFINITY(t)) return -INFINITY;
    if (!CMTIME_IS_NUMERIC(t) || t.timescale == 0) return NAN;
    return static_cast<double>(t.value) / static_cast<double>(t.timescale);
}

namespace detail {
// A timescale both times convert to exactly: the least common multiple when it fits.
inline CMTimeScale commonTimescale(CMTimeScale a, CMTimeScale b) {
    const std::int64_t l = std::lcm(static_cast<std::int64_t>(a), static_cast<std::int64_t>(b));
    return l > 0 && l <= INT32_MAX ? static_cast<CMTimeScale>(l) : (a > b ? a : b);
}
inline CMTimeValue valueAtTimescale(const CMTime& t, CMTimeScale scale) {
    if (t.timescale == scale) return t.value;
    return static_cast<CMTimeValue>(
        std::llround(static_cast<long double>(t.value) * scale / static_cast<long double>(t.timescale)));
}
}  // namespace detail

inline CMTime CMTimeConvertScale(const CMTime& t, CMTimeScale newTimescale) {
    if (!CMTIME_IS_NUMERIC(t) || newTimescale <= 0) return t;
    return CMTimeMake(detail::valueAtTimescale(t, newTimescale), newTimescale);
}

inline CMTime CMTimeAdd(const CMTime& a, const CMTime& b) {
    if (CMTIME_IS_INVALID(a) || CMTIME_IS_INVALID(b)) return kCMTimeInvalid;
    const bool aPos = CMTIME_IS_POSITIVE_INFINITY(a), bPos = CMTIME_IS_POSITIVE_INFINITY(b);
    const bool aNeg = CMTIME_IS_NEGATIVE_INFINITY(a), bNeg = CMTIME_IS_NEGATIVE_INFINITY(b);
    if ((aPos && bNeg) || (aNeg && bPos)) return kCMTimeInvalid;
    if (aPos || bPos) return kCMTimePositiveInfinity;
    if (aNeg || bNeg) return kCMTimeNegativeInfinity;
    if (CMTIME_IS_INDEFINITE(a) || CMTIME_IS_INDEFINITE(b)) return kCMTimeIndefinite;
    const CMTimeScale scale = detail::commonTimescale(a.timescale, b.timescale);
    return CMTimeMake(detail::valueAtTimescale(a, scale) + detail::valueAtTimescale(b, scale), scale);
}

inline CMTime CMTimeSubtract(const CMTime& a, const CMTime& b) {
    CMTime negated = b;
    if (CMTIME_IS_POSITIVE_INFINITY(b)) {
        negated = kCMTimeNegativeInfinity;
    } else if (CMTIME_IS_NEGATIVE_INFINITY(b)) {
        negated = kCMTimePositiveInfinity;
    } else {
        negated.value = -b.value;
    }
    return CMTimeAdd(a, negated);
}

// -1, 0 or 1. Invalid times sort before everything and equal each other; then negative infinity,
// numbers, positive infinity, and indefinite last.
inline int CMTimeCompare(const CMTime& a, const CMTime& b) {
    auto rank = [](const CMTime& t) {
        if (CMTIME_IS_INVALID(t)) return 0;
        if (CMTIME_IS_NEGATIVE_INFINITY(t)) return 1;
        if (CMTIME_IS_POSITIVE_INFINITY(t)) return 3;
        if (CMTIME_IS_INDEFINITE(t)) return 4;
        return 2;
    };
    const int ra = rank(a), rb = rank(b);
    if (ra != rb) return ra < rb ? -1 : 1;
    if (ra != 2) return 0;
    const long double left = static_cast<long double>(a.value) * b.timescale;
    const long double right = static_cast<long double>(b.value) * a.timescale;
    return left < right ? -1 : (left > right ? 1 : 0);
}

inline bool CMTIME_COMPARE_EQUAL(const CMTime& a, const CMTime& b) {
    return CMTimeCompare(a, b) == 0;
}

// "{value/timescale = seconds}" for numbers, else the special time's name.
inline std::string CMTimeCopyDescription(const CMTime& t) {
    if (CMTIME_IS_INVALID(t)) return "{INVALID}";
    if (CMTIME_IS_INDEFINITE(t)) return "{INDEFINITE}";
    if (CMTIME_IS_POSITIVE_INFINITY(t)) return "{+INFINITY}";
    if (CMTIME_IS_NEGATIVE_INFINITY(t)) return "{-INFINITY}";
    return "{" + std::to_string(t.value) + "/" + std::to_string(t.timescale) + " = " +
           std::to_string(CMTimeGetSeconds(t)) + "}";
}
