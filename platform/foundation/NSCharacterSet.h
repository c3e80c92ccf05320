#pragma once
// Sets of Unicode code points, for searching, splitting, trimming and percent escaping.
//
// A value type: copies share one frozen set until one of them is changed (copy on write), so
// the predefined sets are cheap to hand around and safe to read from any thread. The
// predefined sets follow the Unicode general categories the platform documents (whitespace is
// Zs plus tab, letters are L and M, and so on). Membership is by code point; a UTF-16 unit that
// is half of a surrogate pair is a member only when the set holds that surrogate value itself.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "foundation/NSRange.h"

using unichar = char16_t;

namespace detail {
struct CharacterSetStorage;
}

class NSCharacterSet {
  public:
    // The empty set.
    NSCharacterSet();
    ~NSCharacterSet();
    NSCharacterSet(const NSCharacterSet&);
    NSCharacterSet& operator=(const NSCharacterSet&);
    NSCharacterSet(NSCharacterSet&&) noexcept;
    NSCharacterSet& operator=(NSCharacterSet&&) noexcept;

    // Predefined sets.
    static NSCharacterSet whitespaceCharacterSet();            // Zs and U+0009
    static NSCharacterSet whitespaceAndNewlineCharacterSet();  // Z*, U+000A–U+000D, U+0085
    static NSCharacterSet newlineCharacterSet();               // U+000A–U+000D, U+0085, U+2028, U+2029
    static NSCharacterSet decimalDigitCharacterSet();          // Nd
    static NSCharacterSet letterCharacterSet();                // L*, M*
    static NSCharacterSet lowercaseLetterCharacterSet();       // Ll
    static NSCharacterSet uppercaseLetterCharacterSet();       // Lu, Lt
    static NSCharacterSet capitalizedLetterCharacterSet();     // Lt
    static NSCharacterSet nonBaseCharacterSet();               // M*
    static NSCharacterSet alphanumericCharacterSet();          // L*, M*, N*
    static NSCharacterSet decomposableCharacterSet();          // canonically decomposable
    static NSCharacterSet illegalCharacterSet();               // unassigned code points
    static NSCharacterSet punctuationCharacterSet();           // P*
    static NSCharacterSet symbolCharacterSet();                // S*
    static NSCharacterSet controlCharacterSet();               // Cc, Cf

    // The characters each part of a URL may hold unescaped.
    static NSCharacterSet URLUserAllowedCharacterSet();
    static NSCharacterSet URLPasswordAllowedCharacterSet();
    static NSCharacterSet URLHostAllowedCharacterSet();
    static NSCharacterSet URLPathAllowedCharacterSet();
    static NSCharacterSet URLQueryAllowedCharacterSet();
    static NSCharacterSet URLFragmentAllowedCharacterSet();

    // The code points of a UTF-8 string (invalid bytes count as U+FFFD).
    static NSCharacterSet characterSetWithCharactersInString(std::string_view characters);
    // Code points from range.location to NSMaxRange(range) - 1; clipped to U+10FFFF.
    static NSCharacterSet characterSetWithRange(NSRange range);

    NSCharacterSet invertedSet() const;

    bool characterIsMember(unichar character) const;
    bool longCharacterIsMember(char32_t character) const;
    bool isSupersetOfSet(const NSCharacterSet& other) const;
    // Plane 0 is the basic multilingual plane, 1–16 the supplementary planes.
    bool hasMemberInPlane(std::uint8_t plane) const;
    bool isEmpty() const;

    // Changes (the mutable kind of the platform is the same value type).
    void addCharactersInRange(NSRange range);
    void removeCharactersInRange(NSRange range);
    void addCharactersInString(std::string_view characters);
    void removeCharactersInString(std::string_view characters);
    void formUnionWithCharacterSet(const NSCharacterSet& other);
    void formIntersectionWithCharacterSet(const NSCharacterSet& other);
    void invert();

    bool operator==(const NSCharacterSet& other) const;

    // The set in Unicode set notation ("[a-z]"), for diagnostics.
    std::string description() const;

    // For the foundation's own use: the underlying frozen set (an icu::UnicodeSet).
    const void* unicodeSet() const;

  private:
    explicit NSCharacterSet(std::shared_ptr<const detail::CharacterSetStorage> storage);
    detail::CharacterSetStorage& writable();

    std::shared_ptr<const detail::CharacterSetStorage> storage_;
};

using NSMutableCharacterSet = NSCharacterSet;
