#pragma once
// A decimal number kept exactly as its digits, never through binary floating point, so that an
// amount read as "19.99" is written back as "19.99" and compares exactly. Immutable.
//
// The value is sign x digits x 10^exponent with the digits held as text, without a limit on
// their count. Text that is not a number gives the "not a number" value, as the platform does.

#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/NSObject.h"

class NSDecimalNumber : public NSObject {
  public:
    // Not a number.
    NSDecimalNumber() = default;
    NSDecimalNumber(bool negative, std::string digits, long exponent);

    // Reads the number at the start of the text: optional leading white space, an optional sign,
    // digits with an optional "." and fraction, and an optional exponent ("e" or "E", optional
    // sign, digits). Text after the number is ignored; text with no digits gives notANumber.
    static Ref<NSDecimalNumber> decimalNumberWithString(std::string_view text);
    // The whole text must be a number (surrounding white space allowed); nullptr otherwise.
    // For readers of outside data that must not accept "12abc" as 12.
    static Ref<NSDecimalNumber> decimalNumberWithExactString(std::string_view text);
    // mantissa x 10^exponent.
    static Ref<NSDecimalNumber> decimalNumberWithMantissa(unsigned long long mantissa, short exponent,
                                                          bool isNegative);
    static Ref<NSDecimalNumber> notANumber();
    static Ref<NSDecimalNumber> zero();
    static Ref<NSDecimalNumber> one();

    bool isNaN() const { return nan_; }
    bool isNegative() const { return negative_; }

    // The plain decimal form: no exponent, no leading or trailing zeros beyond what the value
    // needs ("1.5", "-0.001", "1200", "0"), "NaN" for not a number.
    std::string stringValue() const;
    double doubleValue() const;
    long long longLongValue() const;
    int intValue() const { return static_cast<int>(longLongValue()); }

    // -1, 0 or 1 by value; not-a-number orders before every number and equals itself.
    int compare(const NSDecimalNumber& other) const;

    std::string className() const override { return "NSDecimalNumber"; }
    std::string description() const override { return stringValue(); }
    bool isEqual(const NSObject& other) const override;
    std::size_t hash() const override;
    Ref<NSObject> copyObject() const override;

  private:
    // Normalised: digits without leading or trailing zeros; zero is empty digits, not negative.
    bool nan_ = true;
    bool negative_ = false;
    std::string digits_;
    long exponent_ = 0;
};
