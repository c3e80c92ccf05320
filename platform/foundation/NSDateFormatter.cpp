#include "foundation/NSDateFormatter.h"

#include <unicode/calendar.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <cmath>
#include <mutex>

namespace {

icu::Locale icuLocale(const Ref<NSLocale>& locale) {
    std::string id = locale ? locale->localeIdentifier() : "";
    for (auto& c : id) {
        if (c == '-') c = '_';
    }
    return icu::Locale(id.c_str());
}

icu::DateFormat::EStyle icuStyle(NSDateFormatterStyle style) {
    switch (style) {
        case NSDateFormatterShortStyle:
            return icu::DateFormat::kShort;
        case NSDateFormatterMediumStyle:
            return icu::DateFormat::kMedium;
        case NSDateFormatterLongStyle:
            return icu::DateFormat::kLong;
        case NSDateFormatterFullStyle:
            return icu::DateFormat::kFull;
        default:
            return icu::DateFormat::kNone;
    }
}

std::string utf8(const icu::UnicodeString& s) {
    std::string out;
    s.toUTF8String(out);
    return out;
}

}  // namespace

struct NSDateFormatter::Impl {
    mutable std::mutex lock;
    std::string pattern;
    NSDateFormatterStyle dateStyle = NSDateFormatterNoStyle;
    NSDateFormatterStyle timeStyle = NSDateFormatterNoStyle;
    Ref<NSTimeZone> zone;
    Ref<NSLocale> locale;
    bool lenient = false;
    // Built on first use after a change.
    std::unique_ptr<icu::SimpleDateFormat> format;

    void changed() { format.reset(); }

    // The pattern the two styles give in the current locale.
    void applyStyles() {
        if (dateStyle == NSDateFormatterNoStyle && timeStyle == NSDateFormatterNoStyle) {
            pattern.clear();
            return;
        }
        std::unique_ptr<icu::DateFormat> styled(icu::DateFormat::createDateTimeInstance(
            icuStyle(dateStyle), icuStyle(timeStyle), icuLocale(locale)));
        auto simple = dynamic_cast<icu::SimpleDateFormat*>(styled.get());
        if (!simple) return;
        icu::UnicodeString p;
        simple->toPattern(p);
        pattern = utf8(p);
    }

    icu::SimpleDateFormat* get() {
        if (!format) {
            UErrorCode status = U_ZERO_ERROR;
            format = std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString::fromUTF8(pattern),
                                                             icuLocale(locale), status);
            if (U_FAILURE(status)) {
                // A pattern the library refuses (an unclosed quote) formats nothing and parses
                // nothing, rather than failing.
                format.reset();
                return nullptr;
            }
            format->adoptTimeZone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zone->icuID())));
            format->setLenient(lenient);
        }
        return format.get();
    }
};

NSDateFormatter::NSDateFormatter() : impl_(std::make_unique<Impl>()) {
    impl_->zone = NSTimeZone::defaultTimeZone();
    impl_->locale = NSLocale::currentLocale();
}

NSDateFormatter::~NSDateFormatter() = default;

std::string NSDateFormatter::dateFormat() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->pattern;
}

void NSDateFormatter::setDateFormat(std::string format) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->pattern = std::move(format);
    impl_->changed();
}

NSDateFormatterStyle NSDateFormatter::dateStyle() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->dateStyle;
}

void NSDateFormatter::setDateStyle(NSDateFormatterStyle style) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->dateStyle = style;
    impl_->applyStyles();
    impl_->changed();
}

NSDateFormatterStyle NSDateFormatter::timeStyle() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->timeStyle;
}

void NSDateFormatter::setTimeStyle(NSDateFormatterStyle style) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->timeStyle = style;
    impl_->applyStyles();
    impl_->changed();
}

Ref<NSTimeZone> NSDateFormatter::timeZone() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->zone;
}

void NSDateFormatter::setTimeZone(const Ref<NSTimeZone>& zone) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->zone = zone ? zone : NSTimeZone::defaultTimeZone();
    impl_->changed();
}

Ref<NSLocale> NSDateFormatter::locale() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->locale;
}

void NSDateFormatter::setLocale(const Ref<NSLocale>& locale) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->locale = locale ? locale : NSLocale::currentLocale();
    // A styled formatter takes the new locale's pattern.
    if (impl_->dateStyle != NSDateFormatterNoStyle || impl_->timeStyle != NSDateFormatterNoStyle)
        impl_->applyStyles();
    impl_->changed();
}

bool NSDateFormatter::isLenient() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->lenient;
}

void NSDateFormatter::setLenient(bool lenient) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->lenient = lenient;
    impl_->changed();
}

std::string NSDateFormatter::stringFromDate(const NSDate& date) const {
    double seconds = date.timeIntervalSince1970();
    if (!std::isfinite(seconds)) return "";
    std::lock_guard<std::mutex> guard(impl_->lock);
    auto format = impl_->get();
    if (!format) return "";
    icu::UnicodeString out;
    format->format(seconds * 1000.0, out);
    return utf8(out);
}

std::optional<NSDate> NSDateFormatter::dateFromString(std::string_view text) const {
    if (text.empty()) return std::nullopt;
    icu::UnicodeString input =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    std::lock_guard<std::mutex> guard(impl_->lock);
    auto format = impl_->get();
    if (!format) return std::nullopt;
    std::unique_ptr<icu::Calendar> calendar(format->getCalendar()->clone());
    calendar->clear();
    calendar->set(2000, UCAL_JANUARY, 1, 0, 0, 0);
    icu::ParsePosition position(0);
    format->parse(input, *calendar, position);
    if (position.getErrorIndex() >= 0 || position.getIndex() != input.length()) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    double ms = calendar->getTime(status);
    if (U_FAILURE(status) || !std::isfinite(ms)) return std::nullopt;
    return NSDate::dateWithTimeIntervalSince1970(ms / 1000.0);
}

std::string NSDateFormatter::localizedStringFromDate(const NSDate& date, NSDateFormatterStyle dateStyle,
                                                     NSDateFormatterStyle timeStyle) {
    auto formatter = make<NSDateFormatter>();
    formatter->setDateStyle(dateStyle);
    formatter->setTimeStyle(timeStyle);
    return formatter->stringFromDate(date);
}

Ref<NSObject> NSDateFormatter::copyObject() const {
    auto copy = make<NSDateFormatter>();
    std::lock_guard<std::mutex> guard(impl_->lock);
    copy->impl_->pattern = impl_->pattern;
    copy->impl_->dateStyle = impl_->dateStyle;
    copy->impl_->timeStyle = impl_->timeStyle;
    copy->impl_->zone = impl_->zone;
    copy->impl_->locale = impl_->locale;
    copy->impl_->lenient = impl_->lenient;
    return copy;
}
