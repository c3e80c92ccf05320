#pragma once
// Reads numbers and words off the front of a string, step by step.
//
// Positions (scanLocation) count UTF-16 units, as the platform's strings do. Before each scan,
// the characters to be skipped (white space and newlines unless changed) are passed over; a
// scan that fails leaves the position where it was. Numbers are ASCII digits with an optional
// sign; integers that overflow give the largest or smallest value of their type and still count
// as scanned. Matching of strings ignores case unless caseSensitive is set, as on the platform.
// Malformed UTF-8 in the input reads as U+FFFD. A scanner belongs to one thread at a time.
//
// Character sets are predicates on code points; the static helpers make the common ones.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "foundation/NSObject.h"

class NSScanner : public NSObject {
  public:
    using CharacterSet = std::function<bool(char32_t)>;

    explicit NSScanner(std::string string);
    static Ref<NSScanner> scannerWithString(std::string string) { return make<NSScanner>(std::move(string)); }

    // Unicode white space (space separators, tab) with or without the line and paragraph
    // separators (LF, VT, FF, CR, NEL, U+2028, U+2029).
    static CharacterSet whitespaceAndNewlineCharacters();
    static CharacterSet whitespaceCharacters();
    static CharacterSet newlineCharacters();
    // Unicode decimal digits (general category Nd).
    static CharacterSet decimalDigitCharacters();
    static CharacterSet letterCharacters();
    // The code points of a UTF-8 string.
    static CharacterSet characterSetWithCharactersInString(std::string_view characters);

    const std::string& string() const { return string_; }
    std::size_t scanLocation() const { return location_; }
    // Clamped to the length.
    void setScanLocation(std::size_t location);
    // The length in UTF-16 units.
    std::size_t length() const { return text_.size(); }
    const CharacterSet& charactersToBeSkipped() const { return skip_; }
    // An empty function skips nothing.
    void setCharactersToBeSkipped(CharacterSet set) { skip_ = std::move(set); }
    bool caseSensitive() const { return caseSensitive_; }
    void setCaseSensitive(bool caseSensitive) { caseSensitive_ = caseSensitive; }

    // Whether only characters to be skipped remain.
    bool isAtEnd() const;

    // Each answers whether it scanned; the out-pointer may be null.
    bool scanInt(int* result);
    bool scanInteger(long* result);
    bool scanLongLong(long long* result);
    bool scanUnsignedLongLong(unsigned long long* result);
    // Hexadecimal digits, after an optional "0x" or "0X".
    bool scanHexInt(unsigned* result);
    bool scanHexLongLong(unsigned long long* result);
    // Sign, digits, optional fraction and exponent ("-1.5e3", ".5", "5."); overflow gives
    // infinity.
    bool scanFloat(float* result);
    bool scanDouble(double* result);
    bool scanString(std::string_view string, std::string* result);
    // Scans up to the first occurrence of stop, or to the end; fails when that is nothing.
    bool scanUpToString(std::string_view stop, std::string* result);
    bool scanCharactersFromSet(const CharacterSet& set, std::string* result);
    bool scanUpToCharactersFromSet(const CharacterSet& set, std::string* result);

    std::string className() const override { return "NSScanner"; }
    Ref<NSObject> copyObject() const override;

  private:
    // The code point at position i and its length in units (a lone surrogate stands alone).
    char32_t codePointAt(std::size_t i, std::size_t* units) const;
    std::size_t skipped(std::size_t from) const;
    bool scanSigned(long long minValue, long long maxValue, long long* result);
    bool scanHex(unsigned long long maxValue, unsigned long long* result);
    std::string slice(std::size_t from, std::size_t to) const;
    // The position just past a match of needle at i, or npos.
    std::size_t matchAt(std::size_t i, const std::u16string& needle) const;

    std::string string_;
    std::u16string text_;
    std::size_t location_ = 0;
    CharacterSet skip_;
    bool caseSensitive_ = false;
};
