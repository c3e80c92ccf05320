#pragma once
// A span of a string or collection: a start and a length, both counted in the units the owner
// uses (UTF-16 units for strings). A range that is "not found" has location NSNotFound and
// length 0.

#include <cstddef>
#include <string>

struct NSRange {
    std::size_t location = 0;
    std::size_t length = 0;

    constexpr bool operator==(const NSRange& other) const = default;
};

constexpr NSRange NSMakeRange(std::size_t location, std::size_t length) {
    return NSRange{location, length};
}

// One past the last location.
constexpr std::size_t NSMaxRange(NSRange range) {
    return range.location + range.length;
}

constexpr bool NSLocationInRange(std::size_t location, NSRange range) {
    return location >= range.location && location - range.location < range.length;
}

constexpr bool NSEqualRanges(NSRange a, NSRange b) {
    return a == b;
}

// The overlap of two ranges; {0, 0} when they do not overlap.
constexpr NSRange NSIntersectionRange(NSRange a, NSRange b) {
    std::size_t start = a.location > b.location ? a.location : b.location;
    std::size_t endA = NSMaxRange(a), endB = NSMaxRange(b);
    std::size_t end = endA < endB ? endA : endB;
    if (end <= start) return NSRange{0, 0};
    return NSRange{start, end - start};
}

// The smallest range holding both.
constexpr NSRange NSUnionRange(NSRange a, NSRange b) {
    std::size_t start = a.location < b.location ? a.location : b.location;
    std::size_t endA = NSMaxRange(a), endB = NSMaxRange(b);
    std::size_t end = endA > endB ? endA : endB;
    return NSRange{start, end - start};
}

// "{location, length}"
inline std::string NSStringFromRange(NSRange range) {
    return "{" + std::to_string(range.location) + ", " + std::to_string(range.length) + "}";
}
