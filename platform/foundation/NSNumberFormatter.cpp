#include "foundation/NSNumberFormatter.h"

#include <unicode/decimfmt.h>
#include <unicode/fmtable.h>
#include <unicode/numfmt.h>

#include <cmath>
#include <limits>
#include <mutex>

namespace {

icu::Locale icuLocale(const Ref<NSLocale>& locale) {
    std::string id = locale ? locale->localeIdentifier() : "";
    for (auto& c : id) {
        if (c == '-') c = '_';
    }
    return icu::Locale(id.c_str());
}

int32_t clampDigits(long digits) {
    return static_cast<int32_t>(digits < 0 ? 0 : (digits > 340 ? 340 : digits));
}

}  // namespace

struct NSNumberFormatter::Impl {
    mutable std::mutex lock;
    NSNumberFormatterStyle style = NSNumberFormatterNoStyle;
    Ref<NSLocale> locale;
    long minFraction = 0, maxFraction = 0, minInteger = 1;
    bool grouping = false;
    bool lenient = false;
    std::unique_ptr<icu::NumberFormat> format;

    void resetDigits() {
        switch (style) {
            case NSNumberFormatterDecimalStyle:
                minFraction = 0;
                maxFraction = 3;
                grouping = true;
                break;
            case NSNumberFormatterCurrencyStyle:
                minFraction = 2;
                maxFraction = 2;
                grouping = true;
                break;
            case NSNumberFormatterPercentStyle:
                minFraction = 0;
                maxFraction = 0;
                grouping = true;
                break;
            case NSNumberFormatterScientificStyle:
                minFraction = 0;
                maxFraction = 6;
                grouping = false;
                break;
            default:
                minFraction = 0;
                maxFraction = 0;
                grouping = false;
                break;
        }
        minInteger = 1;
        format.reset();
    }

    icu::NumberFormat* get() {
        if (!format) {
            UErrorCode status = U_ZERO_ERROR;
            UNumberFormatStyle icuStyle = UNUM_DECIMAL;
            if (style == NSNumberFormatterCurrencyStyle) icuStyle = UNUM_CURRENCY;
            if (style == NSNumberFormatterPercentStyle) icuStyle = UNUM_PERCENT;
            if (style == NSNumberFormatterScientificStyle) icuStyle = UNUM_SCIENTIFIC;
            format.reset(icu::NumberFormat::createInstance(icuLocale(locale), icuStyle, status));
            if (U_FAILURE(status) || !format) {
                format.reset();
                return nullptr;
            }
            format->setMinimumFractionDigits(clampDigits(minFraction));
            format->setMaximumFractionDigits(clampDigits(maxFraction));
            format->setMinimumIntegerDigits(clampDigits(minInteger));
            format->setGroupingUsed(grouping);
            format->setLenient(lenient);
        }
        return format.get();
    }
};

NSNumberFormatter::NSNumberFormatter() : impl_(std::make_unique<Impl>()) {
    impl_->locale = NSLocale::currentLocale();
    impl_->resetDigits();
}

NSNumberFormatter::~NSNumberFormatter() = default;

NSNumberFormatterStyle NSNumberFormatter::numberStyle() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->style;
}

void NSNumberFormatter::setNumberStyle(NSNumberFormatterStyle style) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->style = style;
    impl_->resetDigits();
}

Ref<NSLocale> NSNumberFormatter::locale() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->locale;
}

void NSNumberFormatter::setLocale(const Ref<NSLocale>& locale) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->locale = locale ? locale : NSLocale::currentLocale();
    impl_->format.reset();
}

#define NUMBER_FORMATTER_PROPERTY(Type, getter, setter, member)                                              \
    Type NSNumberFormatter::getter() const {                                                                 \
        std::lock_guard<std::mutex> guard(impl_->lock);                                                      \
        return impl_->member;                                                                                \
    }                                                                                                        \
    void NSNumberFormatter::setter(Type value) {                                                             \
        std::lock_guard<std::mutex> guard(impl_->lock);                                                      \
        impl_->member = value;                                                                               \
        impl_->format.reset();                                                                               \
    }

NUMBER_FORMATTER_PROPERTY(long, minimumFractionDigits, setMinimumFractionDigits, minFraction)
NUMBER_FORMATTER_PROPERTY(long, maximumFractionDigits, setMaximumFractionDigits, maxFraction)
NUMBER_FORMATTER_PROPERTY(long, minimumIntegerDigits, setMinimumIntegerDigits, minInteger)
NUMBER_FORMATTER_PROPERTY(bool, usesGroupingSeparator, setUsesGroupingSeparator, grouping)
NUMBER_FORMATTER_PROPERTY(bool, isLenient, setLenient, lenient)

#undef NUMBER_FORMATTER_PROPERTY

Value NSNumberFormatter::numberFromString(std::string_view text) const {
    if (text.empty()) return Value();
    icu::UnicodeString input =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    std::lock_guard<std::mutex> guard(impl_->lock);
    auto format = impl_->get();
    if (!format) return Value();
    icu::Formattable result;
    icu::ParsePosition position(0);
    format->parse(input, result, position);
    if (position.getErrorIndex() >= 0 || position.getIndex() == 0 || position.getIndex() != input.length())
        return Value();
    UErrorCode status = U_ZERO_ERROR;
    switch (result.getType()) {
        case icu::Formattable::kLong:
        case icu::Formattable::kInt64:
            return Value(NSNumber::numberWithLongLong(result.getInt64(status)));
        default: {
            double d = result.getDouble(status);
            if (U_FAILURE(status)) return Value();
            // Integral values that fit are integers, as the text was.
            if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 9.0e15)
                return Value(NSNumber::numberWithLongLong(static_cast<long long>(d)));
            return Value(NSNumber::numberWithDouble(d));
        }
    }
}

std::optional<std::string> NSNumberFormatter::stringFromNumber(const NSNumber& number) const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    auto format = impl_->get();
    if (!format) return std::nullopt;
    icu::UnicodeString out;
    if (number.isReal()) {
        format->format(number.doubleValue(), out);
    } else if (number.isUnsigned() &&
               number.unsignedLongLongValue() > static_cast<unsigned long long>(INT64_MAX)) {
        // Beyond 64-bit signed: through the decimal text, so no digit is lost.
        UErrorCode status = U_ZERO_ERROR;
        std::string digits = number.stringValue();
        icu::Formattable big(icu::StringPiece(digits.c_str()), status);
        icu::FieldPosition position;
        if (U_SUCCESS(status)) format->format(big, out, position, status);
        if (U_FAILURE(status)) return std::nullopt;
    } else {
        format->format(static_cast<int64_t>(number.longLongValue()), out);
    }
    std::string s;
    out.toUTF8String(s);
    return s;
}

std::string NSNumberFormatter::localizedStringFromNumber(const NSNumber& number,
                                                         NSNumberFormatterStyle style) {
    auto formatter = make<NSNumberFormatter>();
    formatter->setNumberStyle(style);
    return formatter->stringFromNumber(number).value_or("");
}

Ref<NSObject> NSNumberFormatter::copyObject() const {
    auto copy = make<NSNumberFormatter>();
    std::lock_guard<std::mutex> guard(impl_->lock);
    copy->impl_->style = impl_->style;
    copy->impl_->locale = impl_->locale;
    copy->impl_->minFraction = impl_->minFraction;
    copy->impl_->maxFraction = impl_->maxFraction;
    copy->impl_->minInteger = impl_->minInteger;
    copy->impl_->grouping = impl_->grouping;
    copy->impl_->lenient = impl_->lenient;
    return copy;
}
