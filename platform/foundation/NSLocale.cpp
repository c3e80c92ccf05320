#include "foundation/NSLocale.h"

#include <unicode/dcfmtsym.h>
#include <unicode/locid.h>

#include <cstdlib>
#include <mutex>

namespace {

struct LocaleSettings {
    std::mutex lock;
    Ref<NSLocale> current;
    std::optional<std::vector<std::string>> languages;
};

LocaleSettings& settings() {
    static LocaleSettings s;
    return s;
}

std::string environment(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        std::size_t a = item.find_first_not_of(" \t"), b = item.find_last_not_of(" \t");
        if (a != std::string::npos) out.push_back(item.substr(a, b - a + 1));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return out;
}

icu::Locale icuLocale(const std::string& identifier) {
    // The platform writes scripts with '-' ("zh-Hans_CN"); ICU reads '_' throughout.
    std::string id = identifier;
    for (auto& c : id) {
        if (c == '-') c = '_';
    }
    return icu::Locale(id.c_str());
}

std::optional<std::string> nonEmpty(const char* text) {
    if (!text || !*text) return std::nullopt;
    return std::string(text);
}

std::string symbol(const std::string& identifier, icu::DecimalFormatSymbols::ENumberFormatSymbol which,
                   const char* fallback) {
    UErrorCode status = U_ZERO_ERROR;
    icu::DecimalFormatSymbols symbols(icuLocale(identifier), status);
    if (U_FAILURE(status)) return fallback;
    std::string out;
    symbols.getSymbol(which).toUTF8String(out);
    return out;
}

}  // namespace

Ref<NSLocale> NSLocale::currentLocale() {
    auto& s = settings();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.current) return s.current;
    std::string id = environment("APP_LOCALE");
    return make<NSLocale>(id.empty() ? "zh_CN" : id);
}

Ref<NSLocale> NSLocale::systemLocale() {
    return make<NSLocale>("");
}

void NSLocale::setCurrentLocale(const Ref<NSLocale>& locale) {
    auto& s = settings();
    std::lock_guard<std::mutex> guard(s.lock);
    s.current = locale;
}

std::vector<std::string> NSLocale::preferredLanguages() {
    auto& s = settings();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.languages) return *s.languages;
    auto fromEnvironment = splitList(environment("APP_PREFERRED_LANGUAGES"));
    if (!fromEnvironment.empty()) return fromEnvironment;
    return {"zh-Hans", "en"};
}

void NSLocale::setPreferredLanguages(std::optional<std::vector<std::string>> languages) {
    auto& s = settings();
    std::lock_guard<std::mutex> guard(s.lock);
    s.languages = std::move(languages);
}

std::optional<std::string> NSLocale::languageCode() const {
    return nonEmpty(icuLocale(identifier_).getLanguage());
}

std::optional<std::string> NSLocale::countryCode() const {
    return nonEmpty(icuLocale(identifier_).getCountry());
}

std::optional<std::string> NSLocale::scriptCode() const {
    return nonEmpty(icuLocale(identifier_).getScript());
}

std::string NSLocale::decimalSeparator() const {
    return symbol(identifier_, icu::DecimalFormatSymbols::kDecimalSeparatorSymbol, ".");
}

std::string NSLocale::groupingSeparator() const {
    return symbol(identifier_, icu::DecimalFormatSymbols::kGroupingSeparatorSymbol, ",");
}

std::string NSLocale::description() const {
    return identifier_;
}

bool NSLocale::isEqual(const NSObject& other) const {
    auto o = dynamic_cast<const NSLocale*>(&other);
    return o && o->identifier_ == identifier_;
}
