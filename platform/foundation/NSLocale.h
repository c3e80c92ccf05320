#pragma once
// Locales, and the user's language preferences.
//
// A locale is an identifier such as "zh_CN" or "en_US_POSIX" (language, optional script,
// optional country); formatters and calendars take their conventions from it. The current
// locale and the preferred languages are process-wide settings: they come from the environment
// (APP_LOCALE, and APP_PREFERRED_LANGUAGES as a comma-separated list) and otherwise default to
// "zh_CN" and {"zh-Hans", "en"}, the system this app was made for. Tests set them directly and
// reset them with a null argument. Locales are immutable and may be shared between threads.

#include <optional>
#include <string>
#include <vector>

#include "foundation/NSObject.h"

class NSLocale : public NSObject {
  public:
    explicit NSLocale(std::string identifier) : identifier_(std::move(identifier)) {}

    static Ref<NSLocale> localeWithLocaleIdentifier(const std::string& identifier) {
        return make<NSLocale>(identifier);
    }
    static Ref<NSLocale> currentLocale();
    static Ref<NSLocale> autoupdatingCurrentLocale() { return currentLocale(); }
    // The neutral locale (identifier ""): no language conventions.
    static Ref<NSLocale> systemLocale();
    // nullptr goes back to the environment's or the default locale.
    static void setCurrentLocale(const Ref<NSLocale>& locale);

    // In order of preference, as language tags ("zh-Hans", "en-US").
    static std::vector<std::string> preferredLanguages();
    // nullopt goes back to the environment's or the default list.
    static void setPreferredLanguages(std::optional<std::vector<std::string>> languages);

    const std::string& localeIdentifier() const { return identifier_; }
    // "zh" for "zh_CN"; nullopt for the neutral locale.
    std::optional<std::string> languageCode() const;
    // "CN" for "zh_CN" and "zh-Hans_CN"; nullopt when the identifier names no country.
    std::optional<std::string> countryCode() const;
    // "Hans" for "zh-Hans_CN"; nullopt when there is none.
    std::optional<std::string> scriptCode() const;
    // The locale's number symbols ("." and "," for "zh_CN"; "," and "." for "de_DE").
    std::string decimalSeparator() const;
    std::string groupingSeparator() const;

    std::string className() const override { return "NSLocale"; }
    std::string description() const override;
    bool isEqual(const NSObject& other) const override;
    std::size_t hash() const override { return std::hash<std::string>()(identifier_); }
    Ref<NSObject> copyObject() const override { return make<NSLocale>(identifier_); }

  private:
    std::string identifier_;
};
