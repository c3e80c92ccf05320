#include "foundation/NSDecimalNumber.h"

#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

struct Parsed {
    bool ok = false;
    bool negative = false;
    std::string digits;
    long exponent = 0;
    std::size_t end = 0;
};

// Exponents beyond this are clamped: such numbers are only ever infinite or zero in practice,
// and the clamp keeps the arithmetic on exponents from overflowing.
constexpr long kExponentLimit = 1'000'000'000L;

Parsed parse(std::string_view text) {
    Parsed p;
    std::size_t i = 0, n = text.size();
    while (i < n && isSpace(text[i])) ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) p.negative = text[i++] == '-';
    bool sawDigit = false;
    long fractionDigits = 0;
    while (i < n && isDigit(text[i])) {
        p.digits += text[i++];
        sawDigit = true;
    }
    if (i < n && text[i] == '.') {
        std::size_t dot = i++;
        bool fraction = false;
        while (i < n && isDigit(text[i])) {
            p.digits += text[i++];
            ++fractionDigits;
            fraction = true;
        }
        if (!fraction && !sawDigit) i = dot;
        sawDigit = sawDigit || fraction;
    }
    if (!sawDigit) return p;
    long exponent = 0;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        bool negExp = false;
        if (j < n && (text[j] == '+' || text[j] == '-')) negExp = text[j++] == '-';
        if (j < n && isDigit(text[j])) {
            while (j < n && isDigit(text[j])) {
                if (exponent < kExponentLimit) exponent = exponent * 10 + (text[j] - '0');
                ++j;
            }
            if (negExp) exponent = -exponent;
            i = j;
        }
    }
    p.exponent = exponent - fractionDigits;
    p.end = i;
    p.ok = true;
    return p;
}

}  // namespace

NSDecimalNumber::NSDecimalNumber(bool negative, std::string digits, long exponent)
    : nan_(false), negative_(negative), exponent_(exponent) {
    std::size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) {
        negative_ = false;
        exponent_ = 0;
        return;
    }
    std::size_t last = digits.find_last_not_of('0');
    digits_ = digits.substr(first, last - first + 1);
    exponent_ += static_cast<long>(digits.size() - 1 - last);
}

Ref<NSDecimalNumber> NSDecimalNumber::decimalNumberWithString(std::string_view text) {
    Parsed p = parse(text);
    if (!p.ok) return notANumber();
    return make<NSDecimalNumber>(p.negative, std::move(p.digits), p.exponent);
}

Ref<NSDecimalNumber> NSDecimalNumber::decimalNumberWithExactString(std::string_view text) {
    Parsed p = parse(text);
    if (!p.ok) return nullptr;
    for (std::size_t i = p.end; i < text.size(); ++i) {
        if (!isSpace(text[i])) return nullptr;
    }
    return make<NSDecimalNumber>(p.negative, std::move(p.digits), p.exponent);
}

Ref<NSDecimalNumber> NSDecimalNumber::decimalNumberWithMantissa(unsigned long long mantissa, short exponent,
                                                                bool isNegative) {
    return make<NSDecimalNumber>(isNegative, std::to_string(mantissa), exponent);
}

Ref<NSDecimalNumber> NSDecimalNumber::notANumber() {
    return make<NSDecimalNumber>();
}
Ref<NSDecimalNumber> NSDecimalNumber::zero() {
    return make<NSDecimalNumber>(false, "0", 0);
}
Ref<NSDecimalNumber> NSDecimalNumber::one() {
    return make<NSDecimalNumber>(false, "1", 0);
}

std::string NSDecimalNumber::stringValue() const {
    if (nan_) return "NaN";
    if (digits_.empty()) return "0";
    std::string out = negative_ ? "-" : "";
    long len = static_cast<long>(digits_.size());
    if (exponent_ >= 0) {
        // Plain form is what the platform prints; keep absurd exponents from eating memory.
        if (exponent_ > 4096) return out + digits_ + "e" + std::to_string(exponent_);
        out += digits_;
        out.append(static_cast<std::size_t>(exponent_), '0');
    } else if (-exponent_ < len) {
        out += digits_.substr(0, static_cast<std::size_t>(len + exponent_));
        out += '.';
        out += digits_.substr(static_cast<std::size_t>(len + exponent_));
    } else {
        if (-exponent_ - len > 4096) return out + digits_ + "e" + std::to_string(exponent_);
        out += "0.";
        out.append(static_cast<std::size_t>(-exponent_ - len), '0');
        out += digits_;
    }
    return out;
}

double NSDecimalNumber::doubleValue() const {
    if (nan_) return std::numeric_limits<double>::quiet_NaN();
    if (digits_.empty()) return 0.0;
    std::string text = (negative_ ? "-" : "") + digits_ + "e" + std::to_string(exponent_);
    double v = 0;
    auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec == std::errc::result_out_of_range) {
        // Too large or too small for a double: infinity or zero by the size of the exponent.
        bool huge = exponent_ + static_cast<long>(digits_.size()) > 0;
        v = huge ? std::numeric_limits<double>::infinity() : 0.0;
        if (negative_) v = -v;
    }
    return v;
}

long long NSDecimalNumber::longLongValue() const {
    if (nan_ || digits_.empty()) return 0;
    long len = static_cast<long>(digits_.size());
    long integerDigits = len + exponent_;
    if (integerDigits <= 0) return 0;
    if (integerDigits > 19) return negative_ ? LLONG_MIN : LLONG_MAX;
    unsigned long long v = 0;
    for (long i = 0; i < integerDigits; ++i) {
        int d = i < len ? digits_[static_cast<std::size_t>(i)] - '0' : 0;
        if (v > (ULLONG_MAX - static_cast<unsigned>(d)) / 10) return negative_ ? LLONG_MIN : LLONG_MAX;
        v = v * 10 + static_cast<unsigned>(d);
    }
    if (negative_) {
        if (v > static_cast<unsigned long long>(LLONG_MAX) + 1) return LLONG_MIN;
        return static_cast<long long>(0 - v);
    }
    if (v > static_cast<unsigned long long>(LLONG_MAX)) return LLONG_MAX;
    return static_cast<long long>(v);
}

int NSDecimalNumber::compare(const NSDecimalNumber& other) const {
    if (nan_ || other.nan_) {
        if (nan_ && other.nan_) return 0;
        return nan_ ? -1 : 1;
    }
    bool zeroA = digits_.empty(), zeroB = other.digits_.empty();
    int signA = zeroA ? 0 : (negative_ ? -1 : 1);
    int signB = zeroB ? 0 : (other.negative_ ? -1 : 1);
    if (signA != signB) return signA < signB ? -1 : 1;
    if (signA == 0) return 0;
    // Same sign: compare magnitudes by the position of the leading digit, then digit by digit.
    long magA = static_cast<long>(digits_.size()) + exponent_;
    long magB = static_cast<long>(other.digits_.size()) + other.exponent_;
    int mag = 0;
    if (magA != magB) {
        mag = magA < magB ? -1 : 1;
    } else {
        std::size_t n = std::max(digits_.size(), other.digits_.size());
        for (std::size_t i = 0; i < n && mag == 0; ++i) {
            char a = i < digits_.size() ? digits_[i] : '0';
            char b = i < other.digits_.size() ? other.digits_[i] : '0';
            if (a != b) mag = a < b ? -1 : 1;
        }
    }
    return signA > 0 ? mag : -mag;
}

bool NSDecimalNumber::isEqual(const NSObject& other) const {
    auto o = dynamic_cast<const NSDecimalNumber*>(&other);
    return o && compare(*o) == 0;
}

std::size_t NSDecimalNumber::hash() const {
    if (nan_) return 0x7ff8;
    return std::hash<std::string>()(digits_) ^ (static_cast<std::size_t>(exponent_) * 31) ^
           (negative_ ? 1 : 0);
}

Ref<NSObject> NSDecimalNumber::copyObject() const {
    if (nan_) return notANumber();
    auto copy = make<NSDecimalNumber>(negative_, digits_, exponent_);
    return copy;
}
