#include "foundation/NSScanner.h"

#include <unicode/uchar.h>

#include <climits>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <memory>
#include <unordered_set>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// UTF-8 to UTF-16; each byte of a malformed sequence becomes U+FFFD.
std::u16string toUTF16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    std::size_t i = 0, n = s.size();
    auto cont = [&](std::size_t k) { return k < n && (static_cast<unsigned char>(s[k]) & 0xC0) == 0x80; };
    while (i < n) {
        auto b = static_cast<unsigned char>(s[i]);
        char32_t cp = kReplacement;
        std::size_t len = 1;
        if (b < 0x80) {
            cp = b;
        } else if (b >= 0xC2 && b <= 0xDF && cont(i + 1)) {
            cp = (b & 0x1F) << 6 | (static_cast<unsigned char>(s[i + 1]) & 0x3F);
            len = 2;
        } else if (b >= 0xE0 && b <= 0xEF && cont(i + 1) && cont(i + 2)) {
            cp = (b & 0x0F) << 12 | (static_cast<unsigned char>(s[i + 1]) & 0x3F) << 6 |
                 (static_cast<unsigned char>(s[i + 2]) & 0x3F);
            len = 3;
            if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) {
                cp = kReplacement;
                len = 1;
            }
        } else if (b >= 0xF0 && b <= 0xF4 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
            cp = (b & 0x07) << 18 | (static_cast<unsigned char>(s[i + 1]) & 0x3F) << 12 |
                 (static_cast<unsigned char>(s[i + 2]) & 0x3F) << 6 |
                 (static_cast<unsigned char>(s[i + 3]) & 0x3F);
            len = 4;
            if (cp < 0x10000 || cp > 0x10FFFF) {
                cp = kReplacement;
                len = 1;
            }
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += len;
    }
    return out;
}

void appendUTF8(std::string& out, char32_t cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) cp = kReplacement;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool isNewline(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}
bool isWhitespace(char32_t c) {
    return c == 0x09 || u_charType(static_cast<UChar32>(c)) == U_SPACE_SEPARATOR;
}

bool isASCIIDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}
int hexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

char32_t fold(char32_t c) {
    return static_cast<char32_t>(u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT));
}

locale_t cLocale() {
    static locale_t locale = newlocale(LC_ALL_MASK, "C", nullptr);
    return locale;
}

}  // namespace

NSScanner::NSScanner(std::string string)
    : string_(std::move(string)), text_(toUTF16(string_)), skip_(whitespaceAndNewlineCharacters()) {}

NSScanner::CharacterSet NSScanner::whitespaceAndNewlineCharacters() {
    return [](char32_t c) { return isWhitespace(c) || isNewline(c); };
}
NSScanner::CharacterSet NSScanner::whitespaceCharacters() {
    return [](char32_t c) { return isWhitespace(c); };
}
NSScanner::CharacterSet NSScanner::newlineCharacters() {
    return [](char32_t c) { return isNewline(c); };
}
NSScanner::CharacterSet NSScanner::decimalDigitCharacters() {
    return [](char32_t c) { return u_charType(static_cast<UChar32>(c)) == U_DECIMAL_DIGIT_NUMBER; };
}
NSScanner::CharacterSet NSScanner::letterCharacters() {
    return [](char32_t c) { return u_isalpha(static_cast<UChar32>(c)) != 0; };
}

NSScanner::CharacterSet NSScanner::characterSetWithCharactersInString(std::string_view characters) {
    auto set = std::make_shared<std::unordered_set<char32_t>>();
    std::u16string units = toUTF16(characters);
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        }
        set->insert(c);
    }
    return [set](char32_t c) { return set->count(c) > 0; };
}

void NSScanner::setScanLocation(std::size_t location) {
    location_ = location < text_.size() ? location : text_.size();
}

char32_t NSScanner::codePointAt(std::size_t i, std::size_t* units) const {
    char32_t c = text_[i];
    *units = 1;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text_.size() && text_[i + 1] >= 0xDC00 &&
        text_[i + 1] <= 0xDFFF) {
        *units = 2;
        return 0x10000 + ((c - 0xD800) << 10) + (text_[i + 1] - 0xDC00);
    }
    return c;
}

std::size_t NSScanner::skipped(std::size_t from) const {
    if (!skip_) return from;
    std::size_t i = from, units = 1;
    while (i < text_.size() && skip_(codePointAt(i, &units))) i += units;
    return i;
}

bool NSScanner::isAtEnd() const {
    return skipped(location_) >= text_.size();
}

std::string NSScanner::slice(std::size_t from, std::size_t to) const {
    std::string out;
    out.reserve((to - from) * 3 / 2);
    std::size_t units = 1;
    for (std::size_t i = from; i < to; i += units) appendUTF8(out, codePointAt(i, &units));
    return out;
}

bool NSScanner::scanSigned(long long minValue, long long maxValue, long long* result) {
    std::size_t i = skipped(location_);
    bool negative = false;
    if (i < text_.size() && (text_[i] == u'-' || text_[i] == u'+')) negative = text_[i++] == u'-';
    if (i >= text_.size() || !isASCIIDigit(text_[i])) return false;
    // Accumulate as a negative number: its range is the larger one.
    long long value = 0;
    bool overflow = false;
    for (; i < text_.size() && isASCIIDigit(text_[i]); ++i) {
        int d = text_[i] - u'0';
        if (!overflow) {
            if (value < (LLONG_MIN + d) / 10) {
                overflow = true;
            } else {
                value = value * 10 - d;
            }
        }
    }
    long long out;
    if (negative) {
        out = overflow || value < minValue ? minValue : value;
    } else {
        out = overflow || value < -maxValue ? maxValue : -value;
    }
    if (result) *result = out;
    location_ = i;
    return true;
}

bool NSScanner::scanInt(int* result) {
    long long v;
    if (!scanSigned(INT_MIN, INT_MAX, &v)) return false;
    if (result) *result = static_cast<int>(v);
    return true;
}

bool NSScanner::scanInteger(long* result) {
    long long v;
    if (!scanSigned(LONG_MIN, LONG_MAX, &v)) return false;
    if (result) *result = static_cast<long>(v);
    return true;
}

bool NSScanner::scanLongLong(long long* result) {
    return scanSigned(LLONG_MIN, LLONG_MAX, result);
}

bool NSScanner::scanUnsignedLongLong(unsigned long long* result) {
    std::size_t i = skipped(location_);
    if (i < text_.size() && text_[i] == u'+') ++i;
    if (i >= text_.size() || !isASCIIDigit(text_[i])) return false;
    unsigned long long value = 0;
    bool overflow = false;
    for (; i < text_.size() && isASCIIDigit(text_[i]); ++i) {
        unsigned d = static_cast<unsigned>(text_[i] - u'0');
        if (value > (ULLONG_MAX - d) / 10) overflow = true;
        if (!overflow) value = value * 10 + d;
    }
    if (result) *result = overflow ? ULLONG_MAX : value;
    location_ = i;
    return true;
}

bool NSScanner::scanHex(unsigned long long maxValue, unsigned long long* result) {
    std::size_t i = skipped(location_);
    if (i + 2 < text_.size() && text_[i] == u'0' && (text_[i + 1] == u'x' || text_[i + 1] == u'X') &&
        hexDigit(text_[i + 2]) >= 0) {
        i += 2;
    }
    if (i >= text_.size() || hexDigit(text_[i]) < 0) return false;
    unsigned long long value = 0;
    bool overflow = false;
    for (; i < text_.size() && hexDigit(text_[i]) >= 0; ++i) {
        if (value > (maxValue >> 4)) overflow = true;
        if (!overflow) value = value << 4 | static_cast<unsigned>(hexDigit(text_[i]));
    }
    if (result) *result = overflow ? maxValue : value;
    location_ = i;
    return true;
}

bool NSScanner::scanHexInt(unsigned* result) {
    unsigned long long v;
    if (!scanHex(UINT_MAX, &v)) return false;
    if (result) *result = static_cast<unsigned>(v);
    return true;
}

bool NSScanner::scanHexLongLong(unsigned long long* result) {
    return scanHex(ULLONG_MAX, result);
}

bool NSScanner::scanDouble(double* result) {
    std::size_t i = skipped(location_), n = text_.size();
    std::string ascii;
    if (i < n && (text_[i] == u'-' || text_[i] == u'+')) ascii += static_cast<char>(text_[i++]);
    bool digits = false;
    while (i < n && isASCIIDigit(text_[i])) {
        ascii += static_cast<char>(text_[i++]);
        digits = true;
    }
    if (i < n && text_[i] == u'.') {
        std::size_t dot = i++;
        bool fraction = false;
        std::string part = ".";
        while (i < n && isASCIIDigit(text_[i])) {
            part += static_cast<char>(text_[i++]);
            fraction = true;
        }
        if (digits || fraction) {
            ascii += part;
        } else {
            i = dot;
        }
        digits = digits || fraction;
    }
    if (!digits) return false;
    if (i < n && (text_[i] == u'e' || text_[i] == u'E')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < n && (text_[j] == u'-' || text_[j] == u'+')) exponent += static_cast<char>(text_[j++]);
        if (j < n && isASCIIDigit(text_[j])) {
            // A huge exponent only needs to stay huge: cap its digits.
            std::size_t kept = 0;
            while (j < n && isASCIIDigit(text_[j])) {
                if (kept < 9) exponent += static_cast<char>(text_[j]);
                if (kept > 0 || text_[j] != u'0') ++kept;
                ++j;
            }
            ascii += exponent;
            i = j;
        }
    }
    double value = strtod_l(ascii.c_str(), nullptr, cLocale());
    if (result) *result = value;
    location_ = i;
    return true;
}

bool NSScanner::scanFloat(float* result) {
    double v;
    if (!scanDouble(&v)) return false;
    if (result) *result = static_cast<float>(v);
    return true;
}

std::size_t NSScanner::matchAt(std::size_t i, const std::u16string& needle) const {
    if (caseSensitive_) {
        if (i + needle.size() <= text_.size() && text_.compare(i, needle.size(), needle) == 0)
            return i + needle.size();
        return std::u16string::npos;
    }
    std::size_t a = i, b = 0, ua = 1, ub = 1;
    while (b < needle.size()) {
        if (a >= text_.size()) return std::u16string::npos;
        char32_t x = codePointAt(a, &ua);
        char32_t y = needle[b];
        ub = 1;
        if (y >= 0xD800 && y <= 0xDBFF && b + 1 < needle.size() && needle[b + 1] >= 0xDC00 &&
            needle[b + 1] <= 0xDFFF) {
            y = 0x10000 + ((y - 0xD800) << 10) + (needle[b + 1] - 0xDC00);
            ub = 2;
        }
        if (x != y && fold(x) != fold(y)) return std::u16string::npos;
        a += ua;
        b += ub;
    }
    return a;
}

bool NSScanner::scanString(std::string_view string, std::string* result) {
    std::u16string needle = toUTF16(string);
    if (needle.empty()) return false;
    std::size_t i = skipped(location_);
    std::size_t end = matchAt(i, needle);
    if (end == std::u16string::npos) return false;
    if (result) *result = slice(i, end);
    location_ = end;
    return true;
}

bool NSScanner::scanUpToString(std::string_view stop, std::string* result) {
    std::u16string needle = toUTF16(stop);
    std::size_t start = skipped(location_);
    std::size_t i = start;
    if (!needle.empty()) {
        std::size_t units = 1;
        while (i < text_.size() && matchAt(i, needle) == std::u16string::npos) {
            codePointAt(i, &units);
            i += units;
        }
    } else {
        i = text_.size();
    }
    if (i == start) return false;
    if (result) *result = slice(start, i);
    location_ = i;
    return true;
}

bool NSScanner::scanCharactersFromSet(const CharacterSet& set, std::string* result) {
    if (!set) return false;
    std::size_t start = skipped(location_), i = start, units = 1;
    while (i < text_.size() && set(codePointAt(i, &units))) i += units;
    if (i == start) return false;
    if (result) *result = slice(start, i);
    location_ = i;
    return true;
}

bool NSScanner::scanUpToCharactersFromSet(const CharacterSet& set, std::string* result) {
    std::size_t start = skipped(location_), i = start, units = 1;
    while (i < text_.size() && !(set && set(codePointAt(i, &units)))) i += units;
    if (i == start) return false;
    if (result) *result = slice(start, i);
    location_ = i;
    return true;
}

Ref<NSObject> NSScanner::copyObject() const {
    auto copy = make<NSScanner>(string_);
    copy->location_ = location_;
    copy->skip_ = skip_;
    copy->caseSensitive_ = caseSensitive_;
    return copy;
}
