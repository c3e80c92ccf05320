#pragma once
// What the JSON decoder and serializer share: one UTF-8 code-point reader with the codec's
// legality rules, the writer of a code point, and printf-style message formatting.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace detail::wbsdkjc {

enum class UTF8Result { OK, Exhausted, Illegal };

struct UTF8Decoded {
    UTF8Result result;
    std::uint32_t codePoint;
    // Bytes the sequence takes (OK) or that an illegal sequence skips.
    std::size_t length;
};

// Reads the sequence starting at bytes[0] (a byte at or above 0x80). Illegal: 5- and 6-byte
// forms, C0, C1 and leads above F4, overlong and surrogate forms, U+FDD0-U+FDEF, code points
// ending in FFFE or FFFF. Exhausted: the sequence runs past the end with only continuation bytes
// present.
inline UTF8Decoded decodeUTF8(const unsigned char* bytes, std::size_t available) {
    unsigned char lead = bytes[0];
    std::size_t expected;
    if (lead < 0x80) return {UTF8Result::OK, lead, 1};
    if (lead < 0xC0) return {UTF8Result::Illegal, 0, 1};
    if (lead < 0xE0) {
        expected = 2;
    } else if (lead < 0xF0) {
        expected = 3;
    } else if (lead < 0xF8) {
        expected = 4;
    } else if (lead < 0xFC) {
        expected = 5;
    } else if (lead < 0xFE) {
        expected = 6;
    } else {
        return {UTF8Result::Illegal, 0, 1};
    }
    // Count the continuation bytes that are there, up to the expected number.
    std::size_t present = 1;
    while (present < expected && present < available && (bytes[present] & 0xC0) == 0x80) ++present;
    if (present < expected) {
        if (present == available) return {UTF8Result::Exhausted, 0, present};
        return {UTF8Result::Illegal, 0, present};
    }
    if (expected > 4 || lead == 0xC0 || lead == 0xC1 || lead > 0xF4)
        return {UTF8Result::Illegal, 0, expected};
    unsigned char second = bytes[1];
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90)) {
        return {UTF8Result::Illegal, 0, expected};
    }
    std::uint32_t cp;
    if (expected == 2) {
        cp = ((lead & 0x1Fu) << 6) | (second & 0x3Fu);
    } else if (expected == 3) {
        cp = ((lead & 0x0Fu) << 12) | ((second & 0x3Fu) << 6) | (bytes[2] & 0x3Fu);
    } else {
        cp = ((lead & 0x07u) << 18) | ((second & 0x3Fu) << 12) | ((bytes[2] & 0x3Fu) << 6) |
             (bytes[3] & 0x3Fu);
    }
    if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF) || (cp >= 0xFDD0 && cp <= 0xFDEF) ||
        (cp & 0xFFFE) == 0xFFFE || cp > 0x10FFFF) {
        return {UTF8Result::Illegal, 0, expected};
    }
    return {UTF8Result::OK, cp, expected};
}

// Writes the code point as UTF-8 (above U+10FFFF as U+FFFD); answers the byte count.
std::size_t encodeUTF8(std::uint32_t codePoint, char* out);

template <class... Args>
std::string formatted(const char* format, Args... args) {
    int n = std::snprintf(nullptr, 0, format, args...);
    if (n <= 0) return std::string();
    std::string out(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), format, args...);
    out.pop_back();
    return out;
}

}  // namespace detail::wbsdkjc
