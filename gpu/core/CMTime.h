#pragma once
// Frame times: a rational number of seconds (value / timescale) with flags that mark the
// special times. The pipeline passes them along with every frame; a still picture's frames carry
// the indefinite time, raw data without a time the invalid one.

#include <cstdint>

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

inline constexpr CMTime CMTimeMake(CMTimeValue value, CMTimeScale timescale) {
    return CMTime{value, timescale, kCMTimeFlags_Valid, 0};
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
