#pragma once
// Dates to text and back, by pattern ("yyyy-MM-dd HH:mm", "今天 HH:mm") or by the locale's
// styles, in a time zone and a locale.
//
// A new formatter uses the default time zone and the current locale as they are when it is
// made. Patterns use the usual letters (y M d H h m s S a E z Z...); other characters, CJK text
// included, are literal, and quoted text ('T') is literal too. Parsing must consume the whole
// text, is strict by default (month 13 is refused; setLenient(true) relaxes it), and fills what
// the pattern does not give from 2000-01-01 00:00:00 in the formatter's zone. A formatter may
// be used from any thread.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/NSDate.h"
#include "foundation/NSLocale.h"
#include "foundation/NSObject.h"
#include "foundation/NSTimeZone.h"

enum NSDateFormatterStyle : unsigned long {
    NSDateFormatterNoStyle = 0,
    NSDateFormatterShortStyle = 1,
    NSDateFormatterMediumStyle = 2,
    NSDateFormatterLongStyle = 3,
    NSDateFormatterFullStyle = 4,
};

class NSDateFormatter : public NSObject {
  public:
    NSDateFormatter();
    ~NSDateFormatter() override;

    std::string dateFormat() const;
    void setDateFormat(std::string format);
    // Setting a style replaces the pattern with the locale's pattern for the two styles.
    NSDateFormatterStyle dateStyle() const;
    void setDateStyle(NSDateFormatterStyle style);
    NSDateFormatterStyle timeStyle() const;
    void setTimeStyle(NSDateFormatterStyle style);
    Ref<NSTimeZone> timeZone() const;
    // nullptr gives the default time zone.
    void setTimeZone(const Ref<NSTimeZone>& zone);
    Ref<NSLocale> locale() const;
    // nullptr gives the current locale.
    void setLocale(const Ref<NSLocale>& locale);
    bool isLenient() const;
    void setLenient(bool lenient);

    std::string stringFromDate(const NSDate& date) const;
    // nullopt when the text does not match the pattern, entirely.
    std::optional<NSDate> dateFromString(std::string_view text) const;

    static std::string localizedStringFromDate(const NSDate& date, NSDateFormatterStyle dateStyle,
                                               NSDateFormatterStyle timeStyle);

    std::string className() const override { return "NSDateFormatter"; }
    Ref<NSObject> copyObject() const override;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
