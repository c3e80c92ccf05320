#include "sdk/weibo/util/NSString+WBSDKUtilities.h"

#include <unicode/translit.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <array>
#include <cmath>
#include <memory>
#include <mutex>
#include <utility>

#include "foundation/NSCharacterSet.h"
#include "foundation/NSString.h"

namespace NSString_WBSDK_CountWord {

std::int32_t wb_wordCount(const std::string& text) {
    static const NSCharacterSet blanks = NSCharacterSet::whitespaceCharacterSet();
    std::u16string units = NSString::utf16(text);
    long blank = 0, ascii = 0, other = 0;
    for (char16_t u : units) {
        if (blanks.characterIsMember(u)) {
            ++blank;
        } else if (u < 128) {
            ++ascii;
        } else {
            ++other;
        }
    }
    if (ascii == 0 && other == 0) return 0;
    float halves = static_cast<float>(blank + ascii) / 2.0f;
    return static_cast<std::int32_t>(std::ceil(halves)) + static_cast<std::int32_t>(other);
}

}  // namespace NSString_WBSDK_CountWord

namespace NSString_WBSDKPinyin {

namespace {

constexpr char32_t kFirstIdeograph = 0x4E00;
constexpr char32_t kLastIdeograph = 0x9FA5;

// The initials come from ICU's Han-to-Latin transliteration (a standard pinyin reading), one
// ideograph at a time on first use; 0 marks one not yet read.
struct InitialTable {
    std::mutex lock;
    std::unique_ptr<icu::Transliterator> transliterator;
    bool failed = false;
    std::array<char, kLastIdeograph - kFirstIdeograph + 1> letters{};
};

InitialTable& table() {
    static InitialTable t;
    return t;
}

// Ideographs whose reading in the SDK's published table differs from the transliteration's.
constexpr std::pair<char32_t, char> kTableReadings[] = {{0x4E06, 'n'}};

char readInitial(InitialTable& t, char32_t c) {
    for (const auto& [ideograph, letter] : kTableReadings)
        if (ideograph == c) return letter;
    if (!t.transliterator && !t.failed) {
        UErrorCode status = U_ZERO_ERROR;
        t.transliterator.reset(
            icu::Transliterator::createInstance("Han-Latin; Latin-ASCII", UTRANS_FORWARD, status));
        if (U_FAILURE(status)) {
            t.transliterator.reset();
            t.failed = true;
        }
    }
    char letter = 'z';  // an ideograph without a reading sorts last
    if (t.transliterator) {
        icu::UnicodeString s(static_cast<UChar32>(c));
        t.transliterator->transliterate(s);
        for (int32_t k = 0; k < s.length(); ++k) {
            UChar u = s.charAt(k);
            if (u >= 'A' && u <= 'Z') u = static_cast<UChar>(u - 'A' + 'a');
            if (u >= 'a' && u <= 'z') {
                letter = static_cast<char>(u);
                break;
            }
        }
    }
    // Pinyin syllables never start with i, u or v; a reading that does is a transliteration
    // artefact, so it is taken from the vowel's own syllable family.
    if (letter == 'i' || letter == 'u' || letter == 'v') letter = 'y';
    return letter;
}

std::string lowerCodePoint(char32_t c) {
    return NSString::stringWithCodePoint(static_cast<char32_t>(u_tolower(static_cast<UChar32>(c))));
}

}  // namespace

char wbsdk_pinyinInitial(char32_t c) {
    if (c < kFirstIdeograph || c > kLastIdeograph) return 0;
    auto& t = table();
    std::lock_guard guard(t.lock);
    char& slot = t.letters[c - kFirstIdeograph];
    if (!slot) slot = readInitial(t, c);
    return slot;
}

std::optional<std::string> wbsdk_firstPinyinLetter(const std::string& text) {
    std::u16string units = NSString::utf16(text);
    if (units.empty()) return std::nullopt;
    char16_t first = units[0];
    if (char letter = wbsdk_pinyinInitial(first)) return std::string(1, letter);
    if (u_isalpha(first)) return lowerCodePoint(first);
    return std::string("#");
}

std::optional<std::string> wbsdk_firstPinyinLettersOfEachWord(const std::string& text) {
    std::u16string units = NSString::utf16(text);
    if (units.empty()) return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        char16_t u = units[i];
        if (char letter = wbsdk_pinyinInitial(u)) {
            out += letter;
        } else if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
                   units[i + 1] <= 0xDFFF) {
            // A character beyond the basic plane is kept whole.
            out += NSString::fromUTF16(std::u16string_view(units.data() + i, 2));
            ++i;
        } else if (u_isupper(u)) {
            out += lowerCodePoint(u);
        } else {
            out += NSString::fromUTF16(std::u16string_view(&units[i], 1));
        }
    }
    return out;
}

}  // namespace NSString_WBSDKPinyin

namespace NSString_WBSDKNSStringUtils {

std::string wbsdk_stringByReplacingRange(const std::string& text, NSRange range,
                                         const std::string& replacement) {
    std::size_t length = NSString::length(text);
    if (range.location > length) range.location = length;
    if (range.length > length - range.location) range.length = length - range.location;
    return NSString::stringByReplacingCharactersInRange(text, range, replacement);
}

}  // namespace NSString_WBSDKNSStringUtils

namespace NSString_WBNSStringUtils {

std::string wbsdk_trimmedString(const std::string& text) {
    return NSString::stringByTrimmingCharactersInSet(text,
                                                     NSCharacterSet::whitespaceAndNewlineCharacterSet());
}

}  // namespace NSString_WBNSStringUtils
