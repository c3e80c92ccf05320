#pragma once
// Strings. A string is a UTF-8 std::string; NSString gathers the platform's string operations
// as static functions over it. Lengths, indexes and ranges are counted in UTF-16 units, as the
// platform counts them, so U+1F600 has length 2 and "é" has length 1.
//
// Guarantees:
// - No input makes an operation fail: invalid UTF-8 bytes read as U+FFFD, each on its own. A
//   surrogate encoded on its own in three bytes (ED A0 80–ED BF BF) reads as that lone UTF-16
//   unit, and a lone unit is written back that way, so cutting a surrogate pair in half with a
//   UTF-16 range and joining the halves again gives the original units (the bytes become the
//   original ones again after a trip through utf16() and fromUTF16(), or through an encoding).
// - Ranges outside the string are clipped to it; indexes outside it answer a neutral value
//   (documented per function) rather than raise.
// - Formatting, number reading and case mapping do not depend on the process locale: %f prints
//   a point, "3.5" reads as 3.5 everywhere.
// - Everything is safe to call from any thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "foundation/NSCharacterSet.h"
#include "foundation/NSData.h"
#include "foundation/NSRange.h"
#include "foundation/Value.h"

using unichar = char16_t;

enum NSComparisonResult : long { NSOrderedAscending = -1, NSOrderedSame = 0, NSOrderedDescending = 1 };

// Search and comparison options (combine with |).
using NSStringCompareOptions = unsigned long;
inline constexpr NSStringCompareOptions NSCaseInsensitiveSearch = 1;
inline constexpr NSStringCompareOptions NSLiteralSearch = 2;
inline constexpr NSStringCompareOptions NSBackwardsSearch = 4;
inline constexpr NSStringCompareOptions NSAnchoredSearch = 8;
inline constexpr NSStringCompareOptions NSNumericSearch = 64;
inline constexpr NSStringCompareOptions NSDiacriticInsensitiveSearch = 128;
inline constexpr NSStringCompareOptions NSWidthInsensitiveSearch = 256;
inline constexpr NSStringCompareOptions NSForcedOrderingSearch = 512;
inline constexpr NSStringCompareOptions NSRegularExpressionSearch = 1024;

// Enumeration units and flags.
using NSStringEnumerationOptions = unsigned long;
inline constexpr NSStringEnumerationOptions NSStringEnumerationByLines = 0;
inline constexpr NSStringEnumerationOptions NSStringEnumerationByParagraphs = 1;
inline constexpr NSStringEnumerationOptions NSStringEnumerationByComposedCharacterSequences = 2;
inline constexpr NSStringEnumerationOptions NSStringEnumerationByWords = 3;
inline constexpr NSStringEnumerationOptions NSStringEnumerationBySentences = 4;
inline constexpr NSStringEnumerationOptions NSStringEnumerationReverse = 1UL << 8;
inline constexpr NSStringEnumerationOptions NSStringEnumerationSubstringNotRequired = 1UL << 9;
inline constexpr NSStringEnumerationOptions NSStringEnumerationLocalized = 1UL << 10;

// Text encodings, with the platform's numbers.
using NSStringEncoding = unsigned long;
inline constexpr NSStringEncoding NSASCIIStringEncoding = 1;
inline constexpr NSStringEncoding NSNEXTSTEPStringEncoding = 2;
inline constexpr NSStringEncoding NSJapaneseEUCStringEncoding = 3;
inline constexpr NSStringEncoding NSUTF8StringEncoding = 4;
inline constexpr NSStringEncoding NSISOLatin1StringEncoding = 5;
inline constexpr NSStringEncoding NSSymbolStringEncoding = 6;
inline constexpr NSStringEncoding NSNonLossyASCIIStringEncoding = 7;
inline constexpr NSStringEncoding NSShiftJISStringEncoding = 8;
inline constexpr NSStringEncoding NSISOLatin2StringEncoding = 9;
inline constexpr NSStringEncoding NSUnicodeStringEncoding = 10;
inline constexpr NSStringEncoding NSWindowsCP1251StringEncoding = 11;
inline constexpr NSStringEncoding NSWindowsCP1252StringEncoding = 12;
inline constexpr NSStringEncoding NSWindowsCP1253StringEncoding = 13;
inline constexpr NSStringEncoding NSWindowsCP1254StringEncoding = 14;
inline constexpr NSStringEncoding NSWindowsCP1250StringEncoding = 15;
inline constexpr NSStringEncoding NSISO2022JPStringEncoding = 21;
inline constexpr NSStringEncoding NSMacOSRomanStringEncoding = 30;
inline constexpr NSStringEncoding NSUTF16StringEncoding = NSUnicodeStringEncoding;
inline constexpr NSStringEncoding NSUTF16BigEndianStringEncoding = 0x90000100;
inline constexpr NSStringEncoding NSUTF16LittleEndianStringEncoding = 0x94000100;
inline constexpr NSStringEncoding NSUTF32StringEncoding = 0x8c000100;
inline constexpr NSStringEncoding NSUTF32BigEndianStringEncoding = 0x98000100;
inline constexpr NSStringEncoding NSUTF32LittleEndianStringEncoding = 0x9c000100;

// The lower-level encoding numbers, and the conversions between the two families and IANA
// charset names ("utf-8", "GBK", "iso-8859-1"...).
using CFStringEncoding = std::uint32_t;
inline constexpr CFStringEncoding kCFStringEncodingInvalidId = 0xffffffffU;
inline constexpr CFStringEncoding kCFStringEncodingMacRoman = 0;
inline constexpr CFStringEncoding kCFStringEncodingWindowsLatin1 = 0x0500;
inline constexpr CFStringEncoding kCFStringEncodingISOLatin1 = 0x0201;
inline constexpr CFStringEncoding kCFStringEncodingNextStepLatin = 0x0B01;
inline constexpr CFStringEncoding kCFStringEncodingASCII = 0x0600;
inline constexpr CFStringEncoding kCFStringEncodingUnicode = 0x0100;
inline constexpr CFStringEncoding kCFStringEncodingUTF8 = 0x08000100;
inline constexpr CFStringEncoding kCFStringEncodingNonLossyASCII = 0x0BFF;
inline constexpr CFStringEncoding kCFStringEncodingUTF16 = 0x0100;
inline constexpr CFStringEncoding kCFStringEncodingUTF16BE = 0x10000100;
inline constexpr CFStringEncoding kCFStringEncodingUTF16LE = 0x14000100;
inline constexpr CFStringEncoding kCFStringEncodingUTF32 = 0x0c000100;
inline constexpr CFStringEncoding kCFStringEncodingUTF32BE = 0x18000100;
inline constexpr CFStringEncoding kCFStringEncodingUTF32LE = 0x1c000100;
inline constexpr CFStringEncoding kCFStringEncodingGB_18030_2000 = 0x0632;
inline constexpr CFStringEncoding kCFStringEncodingGBK_95 = 0x0631;
inline constexpr CFStringEncoding kCFStringEncodingEUC_CN = 0x0930;
inline constexpr CFStringEncoding kCFStringEncodingBig5 = 0x0A03;
inline constexpr CFStringEncoding kCFStringEncodingBig5_HKSCS_1999 = 0x0A06;
inline constexpr CFStringEncoding kCFStringEncodingShiftJIS = 0x0A01;
inline constexpr CFStringEncoding kCFStringEncodingDOSJapanese = 0x0420;
inline constexpr CFStringEncoding kCFStringEncodingEUC_JP = 0x0920;
inline constexpr CFStringEncoding kCFStringEncodingISO_2022_JP = 0x0820;
inline constexpr CFStringEncoding kCFStringEncodingEUC_KR = 0x0940;
inline constexpr CFStringEncoding kCFStringEncodingKOI8_R = 0x0A02;
inline constexpr CFStringEncoding kCFStringEncodingKOI8_U = 0x0A08;
inline constexpr CFStringEncoding kCFStringEncodingMacSymbol = 0x21;

// kCFStringEncodingInvalidId for a name the system does not know.
CFStringEncoding CFStringConvertIANACharSetNameToEncoding(std::string_view name);
// The preferred IANA name; nullopt for an unknown encoding.
std::optional<std::string> CFStringConvertEncodingToIANACharSetName(CFStringEncoding encoding);
// kCFStringEncodingInvalidId maps to itself in both directions.
NSStringEncoding CFStringConvertEncodingToNSStringEncoding(CFStringEncoding encoding);
CFStringEncoding CFStringConvertNSStringEncodingToEncoding(NSStringEncoding encoding);
bool CFStringIsEncodingAvailable(CFStringEncoding encoding);

// Percent escaping in the platform's URL style. Characters that are never legal in a URL are
// escaped (controls, space, non-ASCII, and `"%<>[\]^`{|}`); the legal ones (letters, digits and
// `!#$&'()*+,-./:;=?@_~`) stay unless listed in legalURLCharactersToBeEscaped. Characters in
// charactersToLeaveUnescaped are never escaped. Each escaped character becomes the bytes of its
// form in the encoding, each as "%" and two upper-case hexadecimal digits. nullopt when a
// character cannot be represented in the encoding (or the encoding is unknown).
std::optional<std::string> CFURLCreateStringByAddingPercentEscapes(
    std::string_view string, std::optional<std::string_view> charactersToLeaveUnescaped,
    std::optional<std::string_view> legalURLCharactersToBeEscaped, CFStringEncoding encoding);
// Replaces escapes, except those that decode to a character in charactersToLeaveEscaped; the
// escaped bytes are read as UTF-8. nullopt on a malformed escape or bytes that are not UTF-8.
std::optional<std::string>
CFURLCreateStringByReplacingPercentEscapes(std::string_view string,
                                           std::string_view charactersToLeaveEscaped);

// A value for stringWithFormat: any argument is converted into one of these, keeping what each
// conversion needs (its number, its text, its address).
class FormatArg {
  public:
    enum class Kind : std::uint8_t { Nil, Signed, Unsigned, Real, Bool, Char, Text, Object, Pointer };

    FormatArg() = default;

    template <class T>
    FormatArg(const T& v) {  // NOLINT: implicit on purpose
        using D = std::decay_t<T>;
        if constexpr (std::is_same_v<D, FormatArg>) {
            *this = v;
        } else if constexpr (std::is_array_v<T>) {
            // A character array: its text up to the first NUL.
            static_assert(std::is_same_v<std::remove_cv_t<std::remove_extent_t<T>>, char>,
                          "stringWithFormat: unsupported array argument");
            std::string_view all(v, std::extent_v<T>);
            kind_ = Kind::Text;
            text_ = std::string(all.substr(0, all.find('\0')));
        } else if constexpr (std::is_same_v<D, bool>) {
            kind_ = Kind::Bool;
            i_ = v ? 1 : 0;
        } else if constexpr (std::is_same_v<D, char> || std::is_same_v<D, char8_t>) {
            kind_ = Kind::Char;
            u_ = static_cast<unsigned char>(v);
            bits_ = 8;
        } else if constexpr (std::is_same_v<D, char16_t> || std::is_same_v<D, char32_t> ||
                             std::is_same_v<D, wchar_t>) {
            kind_ = Kind::Char;
            u_ = static_cast<unsigned long long>(v);
            bits_ = sizeof(D) * 8;
        } else if constexpr (std::is_enum_v<D>) {
            *this = FormatArg(static_cast<std::underlying_type_t<D>>(v));
        } else if constexpr (std::is_integral_v<D> && std::is_signed_v<D>) {
            kind_ = Kind::Signed;
            i_ = static_cast<long long>(v);
            bits_ = sizeof(D) * 8;
        } else if constexpr (std::is_integral_v<D>) {
            kind_ = Kind::Unsigned;
            u_ = static_cast<unsigned long long>(v);
            bits_ = sizeof(D) * 8;
        } else if constexpr (std::is_floating_point_v<D>) {
            kind_ = Kind::Real;
            d_ = static_cast<double>(v);
            bits_ = std::is_same_v<D, float> ? 32 : 64;
        } else if constexpr (std::is_same_v<D, const char*> || std::is_same_v<D, char*>) {
            if (v) {
                kind_ = Kind::Text;
                text_ = v;
            }
        } else if constexpr (std::is_same_v<D, std::string> || std::is_same_v<D, std::string_view>) {
            kind_ = Kind::Text;
            text_ = std::string(v);
        } else if constexpr (std::is_same_v<D, std::optional<std::string>>) {
            if (v) {
                kind_ = Kind::Text;
                text_ = *v;
            }
        } else if constexpr (std::is_same_v<D, std::nullptr_t>) {
            // nil
        } else if constexpr (std::is_same_v<D, Value> || std::is_same_v<D, NSNumber> ||
                             std::is_same_v<D, NSData> || std::is_same_v<D, NSDate> ||
                             std::is_same_v<D, Array> || std::is_same_v<D, Dictionary>) {
            setValue(Value(v));
        } else if constexpr (IsRef<D>::value) {
            setValue(Value(v));
        } else if constexpr (std::is_pointer_v<D>) {
            using P = std::remove_cv_t<std::remove_pointer_t<D>>;
            if constexpr (std::is_base_of_v<NSObject, P>) {
                if (v) {
                    kind_ = Kind::Object;
                    p_ = static_cast<const void*>(v);
                    text_ = v->description();
                }
            } else {
                kind_ = v ? Kind::Pointer : Kind::Nil;
                p_ = static_cast<const void*>(v);
            }
        } else if constexpr (std::is_same_v<D, NSRange>) {
            kind_ = Kind::Text;
            text_ = NSStringFromRange(v);
        } else {
            static_assert(sizeof(D) == 0, "stringWithFormat: unsupported argument type");
        }
    }

    Kind kind() const { return kind_; }
    // Integers: the width of the source type in bits (for %x of negative numbers).
    int bits() const { return bits_; }
    long long signedValue() const;
    unsigned long long unsignedValue() const;
    double realValue() const;
    // The "%@" text.
    std::string description() const;
    // The "%s" text.
    std::string text() const;
    const void* pointer() const;
    // The code point for %c and %C.
    char32_t character() const;

  private:
    template <class T>
    struct IsRef : std::false_type {};
    template <class T>
    struct IsRef<std::shared_ptr<T>> : std::is_base_of<NSObject, T> {};

    void setValue(Value value);

    Kind kind_ = Kind::Nil;
    int bits_ = 64;
    union {
        long long i_ = 0;
        unsigned long long u_;
        double d_;
        const void* p_;
    };
    std::string text_;
    Value value_;
    bool isValue_ = false;
};

namespace detail {
// Reads one code point of UTF-8 at i and advances i (always by at least one byte). Invalid bytes
// give U+FFFD; a surrogate encoded on its own gives that surrogate value.
char32_t decodeUTF8(std::string_view s, std::size_t& i);
// Appends a code point (or a lone surrogate) as UTF-8.
void appendUTF8(std::string& out, char32_t c);
}  // namespace detail

class NSString {
  public:
    NSString() = delete;

    // ----- UTF-16 view -----
    static std::u16string utf16(std::string_view s);
    static std::string fromUTF16(std::u16string_view units);
    static std::string stringWithCharacters(const unichar* characters, std::size_t length);
    // A one-character string of a code point (U+FFFD for a value beyond U+10FFFF).
    static std::string stringWithCodePoint(char32_t c);

    // Length in UTF-16 units.
    static std::size_t length(std::string_view s);
    // 0 when the index is outside the string.
    static unichar characterAtIndex(std::string_view s, std::size_t index);
    // The UTF-8 byte offset of a UTF-16 index (the end of the string for indexes past it; an
    // index inside a surrogate pair answers the offset of the pair).
    static std::size_t byteOffsetOfIndex(std::string_view s, std::size_t index);
    static std::size_t lengthOfBytesUsingEncoding(std::string_view s, NSStringEncoding encoding);

    // ----- Substrings (ranges are clipped to the string) -----
    static std::string substringWithRange(std::string_view s, NSRange range);
    static std::string substringFromIndex(std::string_view s, std::size_t index);
    static std::string substringToIndex(std::string_view s, std::size_t index);

    // ----- Composed character sequences -----
    // The user-perceived character holding the unit at index (extended grapheme clusters);
    // {NSNotFound, 0} for an index outside the string.
    static NSRange rangeOfComposedCharacterSequenceAtIndex(std::string_view s, std::size_t index);
    // The given range widened to whole composed character sequences.
    static NSRange rangeOfComposedCharacterSequencesForRange(std::string_view s, NSRange range);
    // Every composed character sequence, in order.
    static std::vector<NSRange> composedCharacterSequenceRanges(std::string_view s);

    // Calls the block for each unit of text in range (composed character sequences, words,
    // sentences, lines or paragraphs). The substring is nullopt with
    // NSStringEnumerationSubstringNotRequired; the enclosing range adds what follows the unit up
    // to the next one (the line terminator, the spaces after a word). Setting stop ends the walk.
    using SubstringBlock = std::function<void(const std::optional<std::string>& substring,
                                              NSRange substringRange, NSRange enclosingRange, bool& stop)>;
    static void enumerateSubstringsInRange(std::string_view s, NSRange range,
                                           NSStringEnumerationOptions options, const SubstringBlock& block);

    // ----- Searching -----
    // {NSNotFound, 0} when absent; an empty needle is never found. Without NSLiteralSearch,
    // canonically equivalent forms match ("é" and "e" + U+0301) and a match never splits a
    // composed character. Case-insensitive matching uses simple case folding.
    static NSRange rangeOfString(std::string_view s, std::string_view needle,
                                 NSStringCompareOptions options = 0,
                                 std::optional<NSRange> range = std::nullopt);
    static bool containsString(std::string_view s, std::string_view needle);
    static bool localizedCaseInsensitiveContainsString(std::string_view s, std::string_view needle);
    // The first (or with NSBackwardsSearch the last) code point in the set.
    static NSRange rangeOfCharacterFromSet(std::string_view s, const NSCharacterSet& set,
                                           NSStringCompareOptions options = 0,
                                           std::optional<NSRange> range = std::nullopt);
    // Literal prefix and suffix tests; an empty prefix or suffix answers false, as on the platform.
    static bool hasPrefix(std::string_view s, std::string_view prefix);
    static bool hasSuffix(std::string_view s, std::string_view suffix);
    static std::string commonPrefixWithString(std::string_view s, std::string_view other,
                                              NSStringCompareOptions options = 0);

    // ----- Comparing -----
    // Ordering by UTF-16 units after the options' transformations; NSNumericSearch compares runs
    // of digits by value ("file9" < "file10").
    static NSComparisonResult compare(std::string_view a, std::string_view b,
                                      NSStringCompareOptions options = 0,
                                      std::optional<NSRange> range = std::nullopt);
    static NSComparisonResult caseInsensitiveCompare(std::string_view a, std::string_view b) {
        return compare(a, b, NSCaseInsensitiveSearch);
    }
    // Collation of the current locale (the process's ICU default; root rules under the POSIX
    // locale). The case-insensitive form ignores case only.
    static NSComparisonResult localizedCompare(std::string_view a, std::string_view b);
    static NSComparisonResult localizedCaseInsensitiveCompare(std::string_view a, std::string_view b);
    static NSComparisonResult localizedStandardCompare(std::string_view a, std::string_view b);
    static bool isEqualToString(std::string_view a, std::string_view b) { return a == b; }

    // ----- Changing -----
    static std::string stringByReplacingOccurrencesOfString(std::string_view s, std::string_view target,
                                                            std::string_view replacement,
                                                            NSStringCompareOptions options = 0,
                                                            std::optional<NSRange> range = std::nullopt);
    static std::string stringByReplacingCharactersInRange(std::string_view s, NSRange range,
                                                          std::string_view replacement);
    static std::string stringByAppendingString(std::string_view s, std::string_view other);
    // Pads with repetitions of pad (starting at padIndex of it) or cuts to newLength units.
    static std::string stringByPaddingToLength(std::string_view s, std::size_t newLength,
                                               std::string_view pad, std::size_t padIndex);
    static std::vector<std::string> componentsSeparatedByString(std::string_view s,
                                                                std::string_view separator);
    static std::vector<std::string> componentsSeparatedByCharactersInSet(std::string_view s,
                                                                         const NSCharacterSet& set);
    static std::string componentsJoinedByString(const std::vector<std::string>& components,
                                                std::string_view separator);
    static std::string stringByTrimmingCharactersInSet(std::string_view s, const NSCharacterSet& set);

    // Case mapping with the locale-independent (root) rules: "ß" upper-cases to "SS".
    static std::string lowercaseString(std::string_view s);
    static std::string uppercaseString(std::string_view s);
    // The first character of each word upper-case, the rest lower-case; words are separated by
    // white space and newlines.
    static std::string capitalizedString(std::string_view s);

    // Unicode normalisation forms.
    static std::string decomposedStringWithCanonicalMapping(std::string_view s);       // NFD
    static std::string precomposedStringWithCanonicalMapping(std::string_view s);      // NFC
    static std::string decomposedStringWithCompatibilityMapping(std::string_view s);   // NFKD
    static std::string precomposedStringWithCompatibilityMapping(std::string_view s);  // NFKC

    // An ICU transform ("Any-Latin; Latin-ASCII; [:^ASCII:] Remove", "Han-Latin"...), forward or
    // reverse; nullopt when the transform is not known or not valid.
    static std::optional<std::string> applyingTransform(std::string_view s, std::string_view transform,
                                                        bool reverse = false);

    // ----- Numeric readings -----
    // Leading white space, an optional sign and the digits that follow; anything after is
    // ignored, and text that does not start so reads as 0 ("0123" gives 123, "12abc" 12, "abc"
    // 0). Out-of-range values clamp to the type's limits.
    static int intValue(std::string_view s);
    static long integerValue(std::string_view s);
    static long long longLongValue(std::string_view s);
    // Decimal notation with an optional fraction and exponent, always with a point; no hex, no
    // "inf" or "nan". Overflow gives ±HUGE_VAL.
    static double doubleValue(std::string_view s);
    static float floatValue(std::string_view s);
    // YES for a leading "Y", "y", "T", "t" or a non-zero digit (after white space, a sign and
    // zeros).
    static bool boolValue(std::string_view s);

    // ----- Paths (the separator is "/"; repeated separators fold into one) -----
    static std::string stringByAppendingPathComponent(std::string_view path, std::string_view component);
    static std::string lastPathComponent(std::string_view path);
    static std::string pathExtension(std::string_view path);
    static std::string stringByDeletingLastPathComponent(std::string_view path);
    static std::string stringByDeletingPathExtension(std::string_view path);
    // The path unchanged when it is empty or ends in "/" only, or when the extension holds a
    // "/" or the path ends in "~".
    static std::string stringByAppendingPathExtension(std::string_view path, std::string_view extension);
    // "/tmp/scratch" gives "/", "tmp", "scratch"; a trailing "/" gives a last "/" component.
    static std::vector<std::string> pathComponents(std::string_view path);
    static std::string pathWithComponents(const std::vector<std::string>& components);
    static bool isAbsolutePath(std::string_view path);
    // "~" and "~/..." become the home folder; "~user/..." that user's home folder.
    static std::string stringByExpandingTildeInPath(std::string_view path);
    static std::string stringByAbbreviatingWithTildeInPath(std::string_view path);
    // Tilde expanded, "." removed, ".." resolved against what precedes it in absolute paths,
    // repeated and trailing "/" removed.
    static std::string stringByStandardizingPath(std::string_view path);

    // ----- Encodings -----
    // The bytes in an encoding. Without allowLossy, nullopt when a character cannot be
    // represented; with it such characters become "?". UTF-16 and UTF-32 (without an endianness)
    // start with a byte-order mark and use the host's order.
    static std::optional<NSData> dataUsingEncoding(std::string_view s, NSStringEncoding encoding,
                                                   bool allowLossy = false);
    static bool canBeConvertedToEncoding(std::string_view s, NSStringEncoding encoding);
    // Text from bytes; nullopt when the bytes are not valid in the encoding. A leading byte-order
    // mark is dropped for the Unicode encodings; UTF-16 and UTF-32 without one are read as
    // big-endian.
    static std::optional<std::string> initWithData(const NSData& data, NSStringEncoding encoding);
    static std::optional<std::string> initWithBytes(const void* bytes, std::size_t length,
                                                    NSStringEncoding encoding);
    // The encoding for an IANA charset name ("UTF-8", "gbk", "ISO-8859-1"), if the system has it.
    static std::optional<NSStringEncoding> encodingForIANACharSetName(std::string_view name);
    // "Unicode (UTF-8)" style names for diagnostics.
    static std::string localizedNameOfStringEncoding(NSStringEncoding encoding);

    // ----- Percent escaping -----
    // CFURLCreateStringByAddingPercentEscapes with no extra sets.
    static std::optional<std::string> stringByAddingPercentEscapesUsingEncoding(std::string_view s,
                                                                                NSStringEncoding encoding);
    // Every character outside the set as its UTF-8 bytes in "%XX" form; nullopt for text holding
    // a lone surrogate.
    static std::optional<std::string>
    stringByAddingPercentEncodingWithAllowedCharacters(std::string_view s, const NSCharacterSet& allowed);
    // nullopt when a "%" is not followed by two hexadecimal digits or the bytes are not UTF-8.
    static std::optional<std::string> stringByRemovingPercentEncoding(std::string_view s);
    // The escaped bytes read in the encoding; nullopt on a malformed escape or undecodable bytes.
    static std::optional<std::string> stringByReplacingPercentEscapesUsingEncoding(std::string_view s,
                                                                                   NSStringEncoding encoding);

    // ----- Formatting -----
    // printf-style formatting with the platform's "%@" (the description of any argument; nil
    // prints "(null)"). Supported: %@ %d %i %u %o %x %X %c %C %s %S %p %f %F %e %E %g %G %a %A
    // %%, flags "-+ #0'", widths, precisions, "*" and positional "%2$@" arguments, and the
    // length modifiers hh h l ll q z t j L. Numbers always print in the C locale. An argument of
    // another kind than the conversion expects is converted (a double for %d prints truncated,
    // an integer for %@ prints its digits); a missing argument prints nothing; widths and
    // precisions are capped at 8192.
    template <class... Args>
    static std::string stringWithFormat(std::string_view format, const Args&... args) {
        if constexpr (sizeof...(Args) == 0) {
            return stringWithFormatArgs(format, nullptr, 0);
        } else {
            const FormatArg converted[] = {FormatArg(args)...};
            return stringWithFormatArgs(format, converted, sizeof...(Args));
        }
    }
    static std::string stringWithFormatArgs(std::string_view format, const std::vector<FormatArg>& args) {
        return stringWithFormatArgs(format, args.data(), args.size());
    }
    static std::string stringWithFormatArgs(std::string_view format, const FormatArg* args,
                                            std::size_t count);
};

// CFStringTransform: transforms the text (or the given UTF-16 range of it, updated to the new
// extent) in place; false, leaving the text alone, when the transform is not known.
bool CFStringTransform(std::string& string, NSRange* range, std::string_view transform, bool reverse);

// Transform names the platform predefines.
inline constexpr char kCFStringTransformToLatin[] = "Any-Latin";
inline constexpr char kCFStringTransformMandarinLatin[] = "Han-Latin";
inline constexpr char kCFStringTransformLatinHiragana[] = "Latin-Hiragana";
inline constexpr char kCFStringTransformLatinKatakana[] = "Latin-Katakana";
inline constexpr char kCFStringTransformHiraganaKatakana[] = "Hiragana-Katakana";
inline constexpr char kCFStringTransformFullwidthHalfwidth[] = "Fullwidth-Halfwidth";
inline constexpr char kCFStringTransformStripCombiningMarks[] = "NFD; [:Mn:] Remove; NFC";
inline constexpr char kCFStringTransformStripDiacritics[] = "NFD; [:Mn:] Remove; NFC";
inline constexpr char kCFStringTransformToUnicodeName[] = "Any-Name";
inline constexpr char kCFStringTransformToXMLHex[] = "Any-Hex/XML";
