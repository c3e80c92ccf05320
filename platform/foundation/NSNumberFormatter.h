#pragma once
// Numbers to text and back in a locale's conventions.
//
// numberFromString gives an integer-kinded number for integral text ("12" gives a long long 12)
// and a double otherwise ("12.5"), or nil when the text is not entirely a number in the style
// ("12abc", "", "1,2,3" are nil). The decimal style groups digits and keeps up to three
// fraction digits when writing; no style writes plain rounded integers. A new formatter uses
// the current locale. A formatter may be used from any thread.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/NSLocale.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"

enum NSNumberFormatterStyle : unsigned long {
    NSNumberFormatterNoStyle = 0,
    NSNumberFormatterDecimalStyle = 1,
    NSNumberFormatterCurrencyStyle = 2,
    NSNumberFormatterPercentStyle = 3,
    NSNumberFormatterScientificStyle = 4,
};

class NSNumberFormatter : public NSObject {
  public:
    NSNumberFormatter();
    ~NSNumberFormatter() override;

    NSNumberFormatterStyle numberStyle() const;
    // Resets the digit settings to the style's own.
    void setNumberStyle(NSNumberFormatterStyle style);
    Ref<NSLocale> locale() const;
    // nullptr gives the current locale.
    void setLocale(const Ref<NSLocale>& locale);
    long minimumFractionDigits() const;
    void setMinimumFractionDigits(long digits);
    long maximumFractionDigits() const;
    void setMaximumFractionDigits(long digits);
    long minimumIntegerDigits() const;
    void setMinimumIntegerDigits(long digits);
    bool usesGroupingSeparator() const;
    void setUsesGroupingSeparator(bool uses);
    bool isLenient() const;
    void setLenient(bool lenient);

    // A number, or nil.
    Value numberFromString(std::string_view text) const;
    std::optional<std::string> stringFromNumber(const NSNumber& number) const;

    static std::string localizedStringFromNumber(const NSNumber& number, NSNumberFormatterStyle style);

    std::string className() const override { return "NSNumberFormatter"; }
    Ref<NSObject> copyObject() const override;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
