#include "foundation/NSString.h"
#include "foundation/NSPathUtilities.h"

#include "foundation/NSRegularExpression.h"

#include <locale.h>
#include <pwd.h>
#include <unicode/brkiter.h>
#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/translit.h>
#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/uniset.h>
#include <unicode/unistr.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

// =============================================================================================
// UTF-8 and UTF-16
// =============================================================================================

namespace {

inline bool isContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// ASCII classes and case, independent of the process locale.
inline char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}
inline char asciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}
inline bool asciiAlnum(char32_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
inline bool isHighSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
inline bool isLowSurrogate(char32_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}
inline bool isSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

// UTF-16 units of one code point.
inline std::size_t unitsOf(char32_t c) {
    return c >= 0x10000 ? 2 : 1;
}

void appendUTF16(std::u16string& out, char32_t c) {
    if (c >= 0x10000) {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(c));
    }
}

// Whether the bytes are UTF-8 in the strict sense (no encoded surrogates, no overlong forms).
bool isStrictUTF8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t before = i;
        char32_t cp = detail::decodeUTF8(s, i);
        if (isSurrogate(cp)) return false;
        if (cp == 0xFFFD && !(i - before == 3 && static_cast<unsigned char>(s[before]) == 0xEF)) return false;
    }
    return true;
}

// UnicodeString over a UTF-16 buffer without copying (read-only alias).
icu::UnicodeString alias(const std::u16string& u) {
    return icu::UnicodeString(false, u.data(), static_cast<int32_t>(u.size()));
}

std::string toUTF8(const icu::UnicodeString& u) {
    return NSString::fromUTF16(std::u16string_view(u.getBuffer(), static_cast<std::size_t>(u.length())));
}

NSRange clipRange(NSRange range, std::size_t length) {
    std::size_t location = std::min(range.location, length);
    std::size_t available = length - location;
    return NSRange{location, std::min(range.length, available)};
}

}  // namespace

char32_t detail::decodeUTF8(std::string_view s, std::size_t& i) {
    const std::size_t n = s.size() - i;
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    unsigned char c = byte(0);
    if (c < 0x80) {
        ++i;
        return c;
    }
    if (c >= 0xC2 && c <= 0xDF) {
        if (n >= 2 && isContinuation(byte(1))) {
            char32_t cp = (static_cast<char32_t>(c & 0x1F) << 6) | (byte(1) & 0x3F);
            i += 2;
            return cp;
        }
    } else if (c >= 0xE0 && c <= 0xEF) {
        if (n >= 3 && isContinuation(byte(1)) && isContinuation(byte(2)) && !(c == 0xE0 && byte(1) < 0xA0)) {
            // ED A0–BF is a surrogate on its own: kept as that unit.
            char32_t cp = (static_cast<char32_t>(c & 0x0F) << 12) |
                          (static_cast<char32_t>(byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
            i += 3;
            return cp;
        }
    } else if (c >= 0xF0 && c <= 0xF4) {
        if (n >= 4 && isContinuation(byte(1)) && isContinuation(byte(2)) && isContinuation(byte(3)) &&
            !(c == 0xF0 && byte(1) < 0x90) && !(c == 0xF4 && byte(1) >= 0x90)) {
            char32_t cp = (static_cast<char32_t>(c & 0x07) << 18) |
                          (static_cast<char32_t>(byte(1) & 0x3F) << 12) |
                          (static_cast<char32_t>(byte(2) & 0x3F) << 6) | (byte(3) & 0x3F);
            i += 4;
            return cp;
        }
    }
    ++i;
    return 0xFFFD;
}

void detail::appendUTF8(std::string& out, char32_t c) {
    if (c > 0x10FFFF) c = 0xFFFD;
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::u16string NSString::utf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            out.push_back(c);
            ++i;
        } else {
            appendUTF16(out, detail::decodeUTF8(s, i));
        }
    }
    return out;
}

std::string NSString::fromUTF16(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t c = units[i];
        if (isHighSurrogate(c) && i + 1 < units.size() && isLowSurrogate(units[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        }
        detail::appendUTF8(out, c);
    }
    return out;
}

std::string NSString::stringWithCharacters(const unichar* characters, std::size_t length) {
    if (!characters) return {};
    return fromUTF16(std::u16string_view(characters, length));
}

std::string NSString::stringWithCodePoint(char32_t c) {
    std::string out;
    detail::appendUTF8(out, c);
    return out;
}

std::size_t NSString::length(std::string_view s) {
    std::size_t units = 0;
    std::size_t i = 0;
    while (i < s.size()) {
        if (static_cast<unsigned char>(s[i]) < 0x80) {
            ++units;
            ++i;
        } else {
            units += unitsOf(detail::decodeUTF8(s, i));
        }
    }
    return units;
}

unichar NSString::characterAtIndex(std::string_view s, std::size_t index) {
    std::size_t units = 0;
    std::size_t i = 0;
    while (i < s.size()) {
        char32_t c = detail::decodeUTF8(s, i);
        if (c >= 0x10000) {
            if (index == units) return static_cast<unichar>(0xD800 + ((c - 0x10000) >> 10));
            if (index == units + 1) return static_cast<unichar>(0xDC00 + ((c - 0x10000) & 0x3FF));
            units += 2;
        } else {
            if (index == units) return static_cast<unichar>(c);
            units += 1;
        }
    }
    return 0;
}

std::size_t NSString::byteOffsetOfIndex(std::string_view s, std::size_t index) {
    std::size_t units = 0;
    std::size_t i = 0;
    while (i < s.size()) {
        std::size_t before = i;
        char32_t c = detail::decodeUTF8(s, i);
        std::size_t next = units + unitsOf(c);
        if (index < next) return before;
        units = next;
    }
    return s.size();
}

// =============================================================================================
// Substrings
// =============================================================================================

std::string NSString::substringWithRange(std::string_view s, NSRange range) {
    std::u16string u = utf16(s);
    NSRange r = clipRange(range, u.size());
    return fromUTF16(std::u16string_view(u).substr(r.location, r.length));
}

std::string NSString::substringFromIndex(std::string_view s, std::size_t index) {
    return substringWithRange(s, NSMakeRange(index, NSNotFound));
}

std::string NSString::substringToIndex(std::string_view s, std::size_t index) {
    return substringWithRange(s, NSMakeRange(0, index));
}

std::string NSString::stringByAppendingString(std::string_view s, std::string_view other) {
    std::string out(s);
    out.append(other);
    return out;
}

// =============================================================================================
// Break iteration (composed characters, words, sentences)
// =============================================================================================

namespace {

enum class BreakKind { Character, Word, Sentence };

// What an iterator points at between uses, so that it never refers to a freed buffer.
const icu::UnicodeString& emptyText() {
    static const icu::UnicodeString empty;
    return empty;
}

// Break iterators are costly to build; each thread keeps one of each kind.
icu::BreakIterator* breakIterator(BreakKind kind) {
    thread_local std::unique_ptr<icu::BreakIterator> iterators[3];
    auto& slot = iterators[static_cast<int>(kind)];
    if (!slot) {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale root = icu::Locale::getRoot();
        switch (kind) {
            case BreakKind::Character:
                slot.reset(icu::BreakIterator::createCharacterInstance(root, status));
                break;
            case BreakKind::Word:
                slot.reset(icu::BreakIterator::createWordInstance(root, status));
                break;
            case BreakKind::Sentence:
                slot.reset(icu::BreakIterator::createSentenceInstance(root, status));
                break;
        }
        if (U_FAILURE(status)) slot.reset();
    }
    return slot.get();
}

// Boundaries of composed character sequences over the units, including 0 and the end.
std::vector<std::size_t> characterBoundaries(const std::u16string& u) {
    std::vector<std::size_t> bounds;
    bounds.push_back(0);
    if (u.empty()) return bounds;
    icu::BreakIterator* bi = breakIterator(BreakKind::Character);
    if (!bi) {
        // Without ICU data: one code point per sequence.
        for (std::size_t i = 0; i < u.size();) {
            i += (isHighSurrogate(u[i]) && i + 1 < u.size() && isLowSurrogate(u[i + 1])) ? 2 : 1;
            bounds.push_back(i);
        }
        return bounds;
    }
    icu::UnicodeString text = alias(u);
    bi->setText(text);
    for (int32_t b = bi->next(); b != icu::BreakIterator::DONE; b = bi->next()) {
        bounds.push_back(static_cast<std::size_t>(b));
    }
    bi->setText(emptyText());
    if (bounds.back() != u.size()) bounds.push_back(u.size());
    return bounds;
}

}  // namespace

NSRange NSString::rangeOfComposedCharacterSequenceAtIndex(std::string_view s, std::size_t index) {
    std::u16string u = utf16(s);
    if (index >= u.size()) return NSMakeRange(NSNotFound, 0);
    std::vector<std::size_t> bounds = characterBoundaries(u);
    auto after = std::upper_bound(bounds.begin(), bounds.end(), index);
    std::size_t end = *after;
    std::size_t start = *(after - 1);
    return NSMakeRange(start, end - start);
}

NSRange NSString::rangeOfComposedCharacterSequencesForRange(std::string_view s, NSRange range) {
    std::u16string u = utf16(s);
    NSRange r = clipRange(range, u.size());
    std::vector<std::size_t> bounds = characterBoundaries(u);
    // The last boundary at or before the start, and the first at or after the end.
    std::size_t start = *(std::upper_bound(bounds.begin(), bounds.end(), r.location) - 1);
    std::size_t end = NSMaxRange(r);
    if (r.length == 0 && start == r.location) return NSMakeRange(start, 0);
    // An empty range inside a sequence widens to that sequence.
    if (r.length == 0) ++end;
    end = *std::lower_bound(bounds.begin(), bounds.end(), end);
    return NSMakeRange(start, end - start);
}

std::vector<NSRange> NSString::composedCharacterSequenceRanges(std::string_view s) {
    std::u16string u = utf16(s);
    std::vector<std::size_t> bounds = characterBoundaries(u);
    std::vector<NSRange> ranges;
    ranges.reserve(bounds.size());
    for (std::size_t k = 1; k < bounds.size(); ++k) {
        ranges.push_back(NSMakeRange(bounds[k - 1], bounds[k] - bounds[k - 1]));
    }
    return ranges;
}

namespace {

struct TextUnit {
    NSRange substring;
    NSRange enclosing;
};

bool isLineTerminator(char16_t c, bool paragraphsOnly) {
    if (c == 0x0A || c == 0x0D || c == 0x85 || c == 0x2029) return true;
    return !paragraphsOnly && (c == 0x0B || c == 0x0C || c == 0x2028);
}

std::vector<TextUnit> lineUnits(const std::u16string& u, std::size_t from, std::size_t to, bool paragraphs) {
    std::vector<TextUnit> units;
    std::size_t start = from;
    std::size_t i = from;
    while (i < to) {
        if (isLineTerminator(u[i], paragraphs)) {
            std::size_t end = i;
            std::size_t next = i + 1;
            if (u[i] == 0x0D && next < to && u[next] == 0x0A) ++next;
            units.push_back({NSMakeRange(start, end - start), NSMakeRange(start, next - start)});
            start = next;
            i = next;
        } else {
            ++i;
        }
    }
    if (start < to) units.push_back({NSMakeRange(start, to - start), NSMakeRange(start, to - start)});
    return units;
}

std::vector<TextUnit> breakUnits(const std::u16string& u, std::size_t from, std::size_t to, BreakKind kind) {
    std::vector<TextUnit> units;
    std::u16string part = u.substr(from, to - from);
    if (part.empty()) return units;
    icu::BreakIterator* bi = breakIterator(kind);
    if (!bi) return units;
    icu::UnicodeString text = alias(part);
    bi->setText(text);
    std::vector<std::pair<std::size_t, std::size_t>> segments;  // [start, end)
    std::vector<bool> isWord;
    int32_t prev = bi->first();
    for (int32_t b = bi->next(); b != icu::BreakIterator::DONE; prev = b, b = bi->next()) {
        segments.emplace_back(prev, b);
        isWord.push_back(kind != BreakKind::Word || bi->getRuleStatus() != UBRK_WORD_NONE);
    }
    bi->setText(emptyText());

    if (kind == BreakKind::Sentence) {
        for (auto [a, b] : segments) {
            std::size_t end = b;
            while (end > a && (u_isUWhiteSpace(part[end - 1]))) --end;
            units.push_back({NSMakeRange(from + a, end - a), NSMakeRange(from + a, b - a)});
        }
        return units;
    }
    if (kind == BreakKind::Character) {
        for (auto [a, b] : segments)
            units.push_back({NSMakeRange(from + a, b - a), NSMakeRange(from + a, b - a)});
        return units;
    }
    // Words: each word's enclosing range runs to the next word; text before the first word
    // belongs to the first.
    std::vector<std::size_t> words;
    for (std::size_t k = 0; k < segments.size(); ++k) {
        if (isWord[k]) words.push_back(k);
    }
    for (std::size_t w = 0; w < words.size(); ++w) {
        auto [a, b] = segments[words[w]];
        std::size_t encStart = w == 0 ? 0 : a;
        std::size_t encEnd = w + 1 < words.size() ? segments[words[w + 1]].first : part.size();
        units.push_back({NSMakeRange(from + a, b - a), NSMakeRange(from + encStart, encEnd - encStart)});
    }
    return units;
}

}  // namespace

void NSString::enumerateSubstringsInRange(std::string_view s, NSRange range,
                                          NSStringEnumerationOptions options, const SubstringBlock& block) {
    if (!block) return;
    std::u16string u = utf16(s);
    NSRange r = clipRange(range, u.size());
    std::size_t from = r.location, to = NSMaxRange(r);
    std::vector<TextUnit> units;
    switch (options & 0xFF) {
        case NSStringEnumerationByLines:
            units = lineUnits(u, from, to, false);
            break;
        case NSStringEnumerationByParagraphs:
            units = lineUnits(u, from, to, true);
            break;
        case NSStringEnumerationByComposedCharacterSequences: {
            std::vector<std::size_t> bounds = characterBoundaries(u.substr(from, to - from));
            for (std::size_t k = 1; k < bounds.size(); ++k) {
                NSRange unit = NSMakeRange(from + bounds[k - 1], bounds[k] - bounds[k - 1]);
                units.push_back({unit, unit});
            }
            break;
        }
        case NSStringEnumerationByWords:
            units = breakUnits(u, from, to, BreakKind::Word);
            break;
        case NSStringEnumerationBySentences:
            units = breakUnits(u, from, to, BreakKind::Sentence);
            break;
        default:
            return;
    }
    if (options & NSStringEnumerationReverse) std::reverse(units.begin(), units.end());
    bool wantText = !(options & NSStringEnumerationSubstringNotRequired);
    bool stop = false;
    for (const TextUnit& unit : units) {
        std::optional<std::string> text;
        if (wantText)
            text = fromUTF16(std::u16string_view(u).substr(unit.substring.location, unit.substring.length));
        block(text, unit.substring, unit.enclosing, stop);
        if (stop) break;
    }
}

// =============================================================================================
// Searching and comparing
// =============================================================================================

namespace {

// One unit of text prepared for matching: a code point (or a UTF-16 unit for literal matching)
// with the source span of the segment it came from. A match may start only at the first unit
// of a segment and end only at the last, so that it never splits a composed character.
struct MatchUnit {
    char32_t c;
    std::uint32_t segStart;
    std::uint32_t segEnd;
    bool first;
    bool last;
};

const icu::Normalizer2* normalizer(bool compatibility) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* n =
        compatibility ? icu::Normalizer2::getNFKDInstance(status) : icu::Normalizer2::getNFDInstance(status);
    return U_SUCCESS(status) ? n : nullptr;
}

void pushSegment(std::vector<MatchUnit>& out, const icu::UnicodeString& text, std::size_t segStart,
                 std::size_t segEnd) {
    std::size_t before = out.size();
    for (int32_t k = 0; k < text.length();) {
        UChar32 c = text.char32At(k);
        k += U16_LENGTH(c);
        out.push_back({static_cast<char32_t>(c), static_cast<std::uint32_t>(segStart),
                       static_cast<std::uint32_t>(segEnd), false, false});
    }
    if (out.size() > before) {
        out[before].first = true;
        out.back().last = true;
    }
}

// Prepares u[from, to) for matching under the options.
std::vector<MatchUnit> prepare(const std::u16string& u, std::size_t from, std::size_t to,
                               NSStringCompareOptions options) {
    std::vector<MatchUnit> out;
    out.reserve(to - from);
    const bool literal = options & NSLiteralSearch;
    const bool fold = options & NSCaseInsensitiveSearch;
    const bool stripMarks = options & NSDiacriticInsensitiveSearch;
    const bool width = options & NSWidthInsensitiveSearch;

    if (literal && !fold && !stripMarks && !width) {
        for (std::size_t i = from; i < to; ++i) {
            out.push_back(
                {u[i], static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(i + 1), true, true});
        }
        return out;
    }

    const icu::Normalizer2* norm = literal ? nullptr : normalizer(width);
    std::size_t i = from;
    while (i < to) {
        // A segment: one code point (literal) or a canonical segment (a starter and what combines
        // with it).
        std::size_t segStart = i;
        UChar32 c;
        U16_NEXT(u.data(), i, to, c);
        if (norm) {
            while (i < to) {
                std::size_t peek = i;
                UChar32 next;
                U16_NEXT(u.data(), peek, to, next);
                if (norm->hasBoundaryBefore(next)) break;
                i = peek;
            }
        }
        std::size_t segEnd = i;
        // A lone code point that does not decompose needs no normalisation (Han text, for one).
        bool plainCodePoint = segEnd - segStart == 1 && c < 0xC0 && !width;
        if (!plainCodePoint && norm && !width && (!fold || c < 0xC0) &&
            segEnd - segStart == static_cast<std::size_t>(U16_LENGTH(c))) {
            icu::UnicodeString decomposition;
            plainCodePoint = !norm->getDecomposition(c, decomposition) &&
                             !(stripMarks && u_charType(c) == U_NON_SPACING_MARK);
        }
        if (plainCodePoint) {
            // Nothing to decompose: the common fast path.
            char32_t v = static_cast<char32_t>(c);
            if (fold) v = static_cast<char32_t>(u_foldCase(c, U_FOLD_CASE_DEFAULT));
            out.push_back(
                {v, static_cast<std::uint32_t>(segStart), static_cast<std::uint32_t>(segEnd), true, true});
            continue;
        }
        icu::UnicodeString seg(u.data() + segStart, static_cast<int32_t>(segEnd - segStart));
        UErrorCode status = U_ZERO_ERROR;
        if (norm) seg = norm->normalize(seg, status);
        if (fold) {
            seg.foldCase(U_FOLD_CASE_DEFAULT);
            if (norm) {
                status = U_ZERO_ERROR;
                seg = norm->normalize(seg, status);
            }
        }
        if (stripMarks) {
            icu::UnicodeString kept;
            for (int32_t k = 0; k < seg.length();) {
                UChar32 ch = seg.char32At(k);
                k += U16_LENGTH(ch);
                if (u_charType(ch) != U_NON_SPACING_MARK) kept.append(ch);
            }
            seg = kept;
        }
        pushSegment(out, seg, segStart, segEnd);
    }
    return out;
}

// The order of a code point in UTF-16 unit order (supplementary characters sort with their
// lead surrogate, below U+E000).
inline std::uint64_t utf16Order(char32_t c) {
    if (c >= 0x10000) {
        char32_t v = c - 0x10000;
        return (static_cast<std::uint64_t>(0xD800 + (v >> 10)) << 16) | (0xDC00 + (v & 0x3FF));
    }
    return static_cast<std::uint64_t>(c) << 16;
}

inline bool isAsciiDigit(char32_t c) {
    return c >= '0' && c <= '9';
}

int compareUnits(const std::vector<MatchUnit>& a, const std::vector<MatchUnit>& b, bool numeric) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (numeric && isAsciiDigit(a[i].c) && isAsciiDigit(b[j].c)) {
            std::size_t ai = i, bj = j;
            while (ai < a.size() && a[ai].c == '0') ++ai;
            while (bj < b.size() && b[bj].c == '0') ++bj;
            std::size_t aEnd = ai, bEnd = bj;
            while (aEnd < a.size() && isAsciiDigit(a[aEnd].c)) ++aEnd;
            while (bEnd < b.size() && isAsciiDigit(b[bEnd].c)) ++bEnd;
            std::size_t aLen = aEnd - ai, bLen = bEnd - bj;
            if (aLen != bLen) return aLen < bLen ? -1 : 1;
            for (std::size_t k = 0; k < aLen; ++k) {
                if (a[ai + k].c != b[bj + k].c) return a[ai + k].c < b[bj + k].c ? -1 : 1;
            }
            i = aEnd;
            j = bEnd;
            continue;
        }
        std::uint64_t x = utf16Order(a[i].c), y = utf16Order(b[j].c);
        if (x != y) return x < y ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

bool matchesAt(const std::vector<MatchUnit>& hay, std::size_t at, const std::vector<MatchUnit>& needle) {
    if (!hay[at].first || !hay[at + needle.size() - 1].last) return false;
    for (std::size_t k = 0; k < needle.size(); ++k) {
        if (hay[at + k].c != needle[k].c) return false;
    }
    return true;
}

// Finds the needle in u[range]: the first match (the last with NSBackwardsSearch), or with
// `all` every match from the front, not overlapping.
std::vector<NSRange> search(const std::u16string& hayText, const std::u16string& needleText,
                            NSStringCompareOptions options, std::optional<NSRange> range, bool all = false) {
    std::vector<NSRange> hits;
    if (needleText.empty()) return hits;
    NSRange r = clipRange(range.value_or(NSMakeRange(0, hayText.size())), hayText.size());
    std::vector<MatchUnit> hay = prepare(hayText, r.location, NSMaxRange(r), options);
    std::vector<MatchUnit> needle = prepare(needleText, 0, needleText.size(), options);
    if (needle.empty() || needle.size() > hay.size()) return hits;
    const std::size_t last = hay.size() - needle.size();
    const bool backwards = (options & NSBackwardsSearch) && !all;
    const bool anchored = options & NSAnchoredSearch;
    auto found = [&](std::size_t at) {
        std::size_t start = hay[at].segStart;
        std::size_t end = hay[at + needle.size() - 1].segEnd;
        hits.push_back(NSMakeRange(start, end - start));
    };
    if (backwards) {
        if (anchored) {
            if (matchesAt(hay, last, needle)) found(last);
            return hits;
        }
        for (std::size_t at = last + 1; at-- > 0;) {
            if (matchesAt(hay, at, needle)) {
                found(at);
                break;
            }
        }
        return hits;
    }
    if (anchored) {
        if (matchesAt(hay, 0, needle)) found(0);
        return hits;
    }
    for (std::size_t at = 0; at <= last;) {
        if (matchesAt(hay, at, needle)) {
            found(at);
            if (!all) break;
            at += needle.size();
        } else {
            ++at;
        }
    }
    return hits;
}

// The needle of a regular-expression search, compiled (nullptr when it is not a valid pattern).
Ref<NSRegularExpression> patternFor(std::string_view needle, NSStringCompareOptions options) {
    return NSRegularExpression::regularExpressionWithPattern(
        needle, (options & NSCaseInsensitiveSearch) ? NSRegularExpressionCaseInsensitive : 0, nullptr);
}

}  // namespace

NSRange NSString::rangeOfString(std::string_view s, std::string_view needle, NSStringCompareOptions options,
                                std::optional<NSRange> range) {
    if (needle.empty()) return NSMakeRange(NSNotFound, 0);
    if (options & NSRegularExpressionSearch) {
        auto regex = patternFor(needle, options);
        if (!regex) return NSMakeRange(NSNotFound, 0);
        return regex->rangeOfFirstMatchInString(s, (options & NSAnchoredSearch) ? NSMatchingAnchored : 0,
                                                range);
    }
    auto hits = search(utf16(s), utf16(needle), options, range);
    return hits.empty() ? NSMakeRange(NSNotFound, 0) : hits.front();
}

bool NSString::containsString(std::string_view s, std::string_view needle) {
    return rangeOfString(s, needle).location != NSNotFound;
}

bool NSString::localizedCaseInsensitiveContainsString(std::string_view s, std::string_view needle) {
    return rangeOfString(s, needle, NSCaseInsensitiveSearch).location != NSNotFound;
}

NSRange NSString::rangeOfCharacterFromSet(std::string_view s, const NSCharacterSet& set,
                                          NSStringCompareOptions options, std::optional<NSRange> range) {
    std::u16string u = utf16(s);
    NSRange r = clipRange(range.value_or(NSMakeRange(0, u.size())), u.size());
    std::size_t from = r.location, to = NSMaxRange(r);
    // The code point starting at i (a lone surrogate counts as itself).
    auto at = [&](std::size_t i, std::size_t& len) -> char32_t {
        if (isHighSurrogate(u[i]) && i + 1 < to && isLowSurrogate(u[i + 1])) {
            len = 2;
            return 0x10000 + ((static_cast<char32_t>(u[i]) - 0xD800) << 10) + (u[i + 1] - 0xDC00);
        }
        len = 1;
        return u[i];
    };
    auto member = [&](char32_t c) {
        if (set.longCharacterIsMember(c)) return true;
        if (options & NSCaseInsensitiveSearch) {
            return set.longCharacterIsMember(static_cast<char32_t>(u_tolower(static_cast<UChar32>(c)))) ||
                   set.longCharacterIsMember(static_cast<char32_t>(u_toupper(static_cast<UChar32>(c))));
        }
        return false;
    };
    if (options & NSBackwardsSearch) {
        std::size_t i = to;
        while (i > from) {
            std::size_t start = i - 1;
            if (isLowSurrogate(u[start]) && start > from && isHighSurrogate(u[start - 1])) --start;
            std::size_t len;
            char32_t c = at(start, len);
            if (member(c)) return NSMakeRange(start, len);
            if (options & NSAnchoredSearch) break;
            i = start;
        }
    } else {
        std::size_t i = from;
        while (i < to) {
            std::size_t len;
            char32_t c = at(i, len);
            if (member(c)) return NSMakeRange(i, len);
            if (options & NSAnchoredSearch) break;
            i += len;
        }
    }
    return NSMakeRange(NSNotFound, 0);
}

bool NSString::hasPrefix(std::string_view s, std::string_view prefix) {
    return !prefix.empty() && s.substr(0, prefix.size()) == prefix;
}

bool NSString::hasSuffix(std::string_view s, std::string_view suffix) {
    return !suffix.empty() && s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

std::string NSString::commonPrefixWithString(std::string_view s, std::string_view other,
                                             NSStringCompareOptions options) {
    std::u16string a = utf16(s), b = utf16(other);
    std::vector<MatchUnit> x = prepare(a, 0, a.size(), options);
    std::vector<MatchUnit> y = prepare(b, 0, b.size(), options);
    // The longest run of whole segments that agree.
    std::size_t end = 0;
    for (std::size_t k = 0; k < x.size() && k < y.size(); ++k) {
        if (x[k].c != y[k].c) break;
        if (x[k].last && y[k].last) end = x[k].segEnd;
    }
    return fromUTF16(std::u16string_view(a).substr(0, end));
}

NSComparisonResult NSString::compare(std::string_view a, std::string_view b, NSStringCompareOptions options,
                                     std::optional<NSRange> range) {
    std::u16string x = utf16(a), y = utf16(b);
    NSRange r = clipRange(range.value_or(NSMakeRange(0, x.size())), x.size());
    auto px = prepare(x, r.location, NSMaxRange(r), options);
    auto py = prepare(y, 0, y.size(), options);
    int result = compareUnits(px, py, options & NSNumericSearch);
    if (result == 0 && (options & NSForcedOrderingSearch)) {
        auto lx = prepare(x, r.location, NSMaxRange(r), NSLiteralSearch);
        auto ly = prepare(y, 0, y.size(), NSLiteralSearch);
        result = compareUnits(lx, ly, false);
    }
    return result < 0 ? NSOrderedAscending : result > 0 ? NSOrderedDescending : NSOrderedSame;
}

namespace {

enum class CollationKind { Plain, CaseInsensitive, Standard };

// The current locale for collation; the POSIX locale has ASCII-order rules, which would make
// case-insensitive collation meaningless, so it collates with the root rules instead.
icu::Locale collationLocale() {
    icu::Locale locale = icu::Locale::getDefault();
    std::string name = locale.getName();
    for (char& c : name) c = asciiLower(c);
    if (name.empty() || name == "c" || name == "posix" || name.rfind("en_us_posix", 0) == 0) {
        return icu::Locale::getRoot();
    }
    return locale;
}

icu::Collator* collator(CollationKind kind) {
    thread_local std::unique_ptr<icu::Collator> collators[3];
    thread_local bool failed[3] = {false, false, false};
    int k = static_cast<int>(kind);
    if (!collators[k] && !failed[k]) {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Collator> c(icu::Collator::createInstance(collationLocale(), status));
        if (U_FAILURE(status) || !c) {
            failed[k] = true;
            return nullptr;
        }
        if (kind != CollationKind::Plain) c->setStrength(icu::Collator::SECONDARY);
        if (kind == CollationKind::Standard) {
            c->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
        }
        collators[k] = std::move(c);
    }
    return collators[k].get();
}

NSComparisonResult collate(std::string_view a, std::string_view b, CollationKind kind,
                           NSStringCompareOptions fallback) {
    icu::Collator* c = collator(kind);
    if (!c) return NSString::compare(a, b, fallback);
    std::u16string x = NSString::utf16(a), y = NSString::utf16(b);
    UErrorCode status = U_ZERO_ERROR;
    UCollationResult r = c->compare(x.data(), static_cast<int32_t>(x.size()), y.data(),
                                    static_cast<int32_t>(y.size()), status);
    if (U_FAILURE(status)) return NSString::compare(a, b, fallback);
    return r == UCOL_LESS ? NSOrderedAscending : r == UCOL_GREATER ? NSOrderedDescending : NSOrderedSame;
}

}  // namespace

NSComparisonResult NSString::localizedCompare(std::string_view a, std::string_view b) {
    return collate(a, b, CollationKind::Plain, 0);
}

NSComparisonResult NSString::localizedCaseInsensitiveCompare(std::string_view a, std::string_view b) {
    return collate(a, b, CollationKind::CaseInsensitive, NSCaseInsensitiveSearch);
}

NSComparisonResult NSString::localizedStandardCompare(std::string_view a, std::string_view b) {
    return collate(a, b, CollationKind::Standard, NSCaseInsensitiveSearch | NSNumericSearch);
}

// =============================================================================================
// Changing
// =============================================================================================

std::string NSString::stringByReplacingOccurrencesOfString(std::string_view s, std::string_view target,
                                                           std::string_view replacement,
                                                           NSStringCompareOptions options,
                                                           std::optional<NSRange> range) {
    if (target.empty()) return std::string(s);
    if (options & NSRegularExpressionSearch) {
        // The replacement is a template: "$1" stands for a group.
        auto regex = patternFor(target, options);
        if (!regex) return std::string(s);
        return regex->stringByReplacingMatchesInString(
            s, (options & NSAnchoredSearch) ? NSMatchingAnchored : 0, range, replacement);
    }
    const bool plain = (options & ~(NSLiteralSearch | NSBackwardsSearch)) == 0 && !range;
    if (plain) {
        // Literal byte matching of valid UTF-8 agrees with unit matching; canonical matching
        // agrees too when the target has no combining marks and nothing in the text combines
        // with a match (checked below by the general path whenever non-ASCII text is involved).
        bool ascii =
            std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }) &&
            std::all_of(target.begin(), target.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (ascii || ((options & NSLiteralSearch) && isStrictUTF8(s) && isStrictUTF8(target))) {
            std::string out;
            out.reserve(s.size());
            std::size_t pos = 0;
            while (true) {
                std::size_t hit = s.find(target, pos);
                if (hit == std::string_view::npos) break;
                out.append(s.substr(pos, hit - pos));
                out.append(replacement);
                pos = hit + target.size();
            }
            out.append(s.substr(pos));
            return out;
        }
    }
    std::u16string u = utf16(s);
    std::u16string t = utf16(target);
    std::u16string rep = utf16(replacement);
    NSRange r = clipRange(range.value_or(NSMakeRange(0, u.size())), u.size());
    // Every occurrence from the front; an anchored search replaces only the one at the anchor.
    std::vector<NSRange> hits = search(u, t, options, r, !(options & NSAnchoredSearch));
    std::u16string out;
    out.reserve(u.size());
    std::size_t pos = 0;
    for (const NSRange& hit : hits) {
        out.append(u, pos, hit.location - pos);
        out.append(rep);
        pos = NSMaxRange(hit);
    }
    out.append(u, pos, std::u16string::npos);
    return fromUTF16(out);
}

std::string NSString::stringByReplacingCharactersInRange(std::string_view s, NSRange range,
                                                         std::string_view replacement) {
    std::u16string u = utf16(s);
    NSRange r = clipRange(range, u.size());
    std::u16string out = u.substr(0, r.location);
    out.append(utf16(replacement));
    out.append(u, NSMaxRange(r), std::u16string::npos);
    return fromUTF16(out);
}

std::string NSString::stringByPaddingToLength(std::string_view s, std::size_t newLength, std::string_view pad,
                                              std::size_t padIndex) {
    std::u16string u = utf16(s);
    if (u.size() >= newLength) return fromUTF16(std::u16string_view(u).substr(0, newLength));
    std::u16string p = utf16(pad);
    if (p.empty()) return fromUTF16(u);
    std::size_t k = padIndex % p.size();
    while (u.size() < newLength) {
        u.push_back(p[k]);
        k = (k + 1) % p.size();
    }
    return fromUTF16(u);
}

std::vector<std::string> NSString::componentsSeparatedByString(std::string_view s,
                                                               std::string_view separator) {
    std::vector<std::string> parts;
    if (separator.empty()) {
        parts.emplace_back(s);
        return parts;
    }
    std::size_t pos = 0;
    while (true) {
        std::size_t hit = s.find(separator, pos);
        if (hit == std::string_view::npos) break;
        parts.emplace_back(s.substr(pos, hit - pos));
        pos = hit + separator.size();
    }
    parts.emplace_back(s.substr(pos));
    return parts;
}

std::vector<std::string> NSString::componentsSeparatedByCharactersInSet(std::string_view s,
                                                                        const NSCharacterSet& set) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < s.size()) {
        std::size_t before = i;
        char32_t c = detail::decodeUTF8(s, i);
        if (set.longCharacterIsMember(c)) {
            parts.emplace_back(s.substr(start, before - start));
            start = i;
        }
    }
    parts.emplace_back(s.substr(start));
    return parts;
}

std::string NSString::componentsJoinedByString(const std::vector<std::string>& components,
                                               std::string_view separator) {
    std::string out;
    for (std::size_t k = 0; k < components.size(); ++k) {
        if (k) out.append(separator);
        out.append(components[k]);
    }
    return out;
}

std::string NSString::stringByTrimmingCharactersInSet(std::string_view s, const NSCharacterSet& set) {
    std::size_t start = 0;
    std::size_t i = 0;
    // Leading members.
    while (i < s.size()) {
        std::size_t before = i;
        char32_t c = detail::decodeUTF8(s, i);
        if (!set.longCharacterIsMember(c)) {
            start = before;
            break;
        }
        start = i;
    }
    // Trailing members: the end of the last non-member.
    std::size_t end = start;
    i = start;
    while (i < s.size()) {
        char32_t c = detail::decodeUTF8(s, i);
        if (!set.longCharacterIsMember(c)) end = i;
    }
    return std::string(s.substr(start, end - start));
}

std::string NSString::lowercaseString(std::string_view s) {
    if (std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        std::string out(s);
        for (char& c : out) c = asciiLower(c);
        return out;
    }
    std::u16string u = utf16(s);
    icu::UnicodeString text(u.data(), static_cast<int32_t>(u.size()));
    text.toLower(icu::Locale::getRoot());
    return toUTF8(text);
}

std::string NSString::uppercaseString(std::string_view s) {
    if (std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        std::string out(s);
        for (char& c : out) c = asciiUpper(c);
        return out;
    }
    std::u16string u = utf16(s);
    icu::UnicodeString text(u.data(), static_cast<int32_t>(u.size()));
    text.toUpper(icu::Locale::getRoot());
    return toUTF8(text);
}

std::string NSString::capitalizedString(std::string_view s) {
    const NSCharacterSet separators = NSCharacterSet::whitespaceAndNewlineCharacterSet();
    std::string out;
    out.reserve(s.size());
    std::size_t i = 0;
    bool wordStart = true;
    std::string word;  // the rest of the current word, lower-cased when it ends
    auto flush = [&] {
        if (!word.empty()) {
            out += lowercaseString(word);
            word.clear();
        }
    };
    while (i < s.size()) {
        char32_t c = detail::decodeUTF8(s, i);
        if (separators.longCharacterIsMember(c)) {
            flush();
            detail::appendUTF8(out, c);
            wordStart = true;
        } else if (wordStart) {
            detail::appendUTF8(
                out, isSurrogate(c) ? c : static_cast<char32_t>(u_totitle(static_cast<UChar32>(c))));
            wordStart = false;
        } else {
            detail::appendUTF8(word, c);
        }
    }
    flush();
    return out;
}

namespace {

enum class NormalForm { NFD, NFC, NFKD, NFKC };

std::string normalize(std::string_view s, NormalForm form) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* n = nullptr;
    switch (form) {
        case NormalForm::NFD:
            n = icu::Normalizer2::getNFDInstance(status);
            break;
        case NormalForm::NFC:
            n = icu::Normalizer2::getNFCInstance(status);
            break;
        case NormalForm::NFKD:
            n = icu::Normalizer2::getNFKDInstance(status);
            break;
        case NormalForm::NFKC:
            n = icu::Normalizer2::getNFKCInstance(status);
            break;
    }
    if (U_FAILURE(status) || !n) return std::string(s);
    std::u16string u = NSString::utf16(s);
    icu::UnicodeString result = n->normalize(alias(u), status);
    if (U_FAILURE(status)) return std::string(s);
    return toUTF8(result);
}

}  // namespace

std::string NSString::decomposedStringWithCanonicalMapping(std::string_view s) {
    return normalize(s, NormalForm::NFD);
}
std::string NSString::precomposedStringWithCanonicalMapping(std::string_view s) {
    return normalize(s, NormalForm::NFC);
}
std::string NSString::decomposedStringWithCompatibilityMapping(std::string_view s) {
    return normalize(s, NormalForm::NFKD);
}
std::string NSString::precomposedStringWithCompatibilityMapping(std::string_view s) {
    return normalize(s, NormalForm::NFKC);
}

// =============================================================================================
// Transforms
// =============================================================================================

namespace {

// Transliterators take long to build from their rules, so each one is built once and cloned for
// use (a transliterator is not safe to share between threads while it works).
std::unique_ptr<icu::Transliterator> transliterator(std::string_view id, bool reverse) {
    static std::mutex lock;
    static std::map<std::pair<std::string, bool>, std::unique_ptr<icu::Transliterator>> cache;
    constexpr std::size_t kCacheLimit = 64;
    if (id.empty() || id.size() > 4096) return nullptr;
    std::lock_guard guard(lock);
    auto key = std::make_pair(std::string(id), reverse);
    auto found = cache.find(key);
    if (found != cache.end()) {
        return found->second ? std::unique_ptr<icu::Transliterator>(found->second->clone()) : nullptr;
    }
    std::u16string u = NSString::utf16(id);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Transliterator> t(
        icu::Transliterator::createInstance(icu::UnicodeString(u.data(), static_cast<int32_t>(u.size())),
                                            reverse ? UTRANS_REVERSE : UTRANS_FORWARD, status));
    if (U_FAILURE(status)) t.reset();
    std::unique_ptr<icu::Transliterator> copy(t ? t->clone() : nullptr);
    if (cache.size() < kCacheLimit) cache.emplace(std::move(key), std::move(t));
    return copy;
}

}  // namespace

std::optional<std::string> NSString::applyingTransform(std::string_view s, std::string_view transform,
                                                       bool reverse) {
    auto t = transliterator(transform, reverse);
    if (!t) return std::nullopt;
    std::u16string u = utf16(s);
    icu::UnicodeString text(u.data(), static_cast<int32_t>(u.size()));
    t->transliterate(text);
    return toUTF8(text);
}

bool CFStringTransform(std::string& string, NSRange* range, std::string_view transform, bool reverse) {
    auto t = transliterator(transform, reverse);
    if (!t) return false;
    std::u16string u = NSString::utf16(string);
    NSRange r = clipRange(range ? *range : NSMakeRange(0, u.size()), u.size());
    icu::UnicodeString text(u.data(), static_cast<int32_t>(u.size()));
    int32_t limit =
        t->transliterate(text, static_cast<int32_t>(r.location), static_cast<int32_t>(NSMaxRange(r)));
    if (limit < 0) return false;
    string = toUTF8(text);
    if (range) *range = NSMakeRange(r.location, static_cast<std::size_t>(limit) - r.location);
    return true;
}

// =============================================================================================
// Numeric readings
// =============================================================================================

namespace {

locale_t cLocale() {
    static locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

// The offset of the first character that is not white space or a newline.
std::size_t skipSpace(std::string_view s) {
    static const NSCharacterSet space = NSCharacterSet::whitespaceAndNewlineCharacterSet();
    std::size_t i = 0;
    while (i < s.size()) {
        std::size_t before = i;
        char32_t c = detail::decodeUTF8(s, i);
        if (!space.longCharacterIsMember(c)) return before;
    }
    return s.size();
}

// The leading integer, saturated at the limits of long long.
long long leadingInteger(std::string_view s) {
    std::size_t i = skipSpace(s);
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    unsigned long long magnitude = 0;
    bool overflow = false;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        unsigned digit = static_cast<unsigned>(s[i] - '0');
        if (magnitude > (ULLONG_MAX - digit) / 10) {
            overflow = true;
        } else {
            magnitude = magnitude * 10 + digit;
        }
    }
    if (negative) {
        if (overflow || magnitude > static_cast<unsigned long long>(LLONG_MAX) + 1) return LLONG_MIN;
        return magnitude == static_cast<unsigned long long>(LLONG_MAX) + 1
                   ? LLONG_MIN
                   : -static_cast<long long>(magnitude);
    }
    if (overflow || magnitude > static_cast<unsigned long long>(LLONG_MAX)) return LLONG_MAX;
    return static_cast<long long>(magnitude);
}

}  // namespace

long long NSString::longLongValue(std::string_view s) {
    return leadingInteger(s);
}

long NSString::integerValue(std::string_view s) {
    long long v = leadingInteger(s);
    if (v > LONG_MAX) return LONG_MAX;
    if (v < LONG_MIN) return LONG_MIN;
    return static_cast<long>(v);
}

int NSString::intValue(std::string_view s) {
    long long v = leadingInteger(s);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

double NSString::doubleValue(std::string_view s) {
    std::size_t i = skipSpace(s);
    std::string token;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) token.push_back(s[i++]);
    bool digits = false;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        token.push_back(s[i++]);
        digits = true;
    }
    if (i < s.size() && s[i] == '.') {
        token.push_back(s[i++]);
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            token.push_back(s[i++]);
            digits = true;
        }
    }
    if (!digits) return 0.0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        if (j < s.size() && s[j] >= '0' && s[j] <= '9') {
            // Exponents beyond any double's range saturate rather than grow the token.
            token.append(s.substr(i, j - i));
            std::size_t expDigits = 0;
            while (j < s.size() && s[j] >= '0' && s[j] <= '9') {
                if (expDigits < 6) token.push_back(s[j]);
                ++expDigits;
                ++j;
            }
        }
    }
    return strtod_l(token.c_str(), nullptr, cLocale());
}

float NSString::floatValue(std::string_view s) {
    return static_cast<float>(doubleValue(s));
}

bool NSString::boolValue(std::string_view s) {
    std::size_t i = skipSpace(s);
    if (i >= s.size()) return false;
    char c = s[i];
    if (c == 'Y' || c == 'y' || c == 'T' || c == 't') return true;
    if (c == '+' || c == '-') ++i;
    while (i < s.size() && s[i] == '0') ++i;
    return i < s.size() && s[i] >= '1' && s[i] <= '9';
}

// =============================================================================================
// Paths
// =============================================================================================

namespace {

// Repeated "/" folded into one and a trailing "/" removed (the root stays "/").
std::string cleanSlashes(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        if (c == '/' && !out.empty() && out.back() == '/') continue;
        out.push_back(c);
    }
    if (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

// The offset of the extension's dot in the last component, or npos.
std::size_t extensionDot(const std::string& clean) {
    std::size_t slash = clean.rfind('/');
    std::size_t componentStart = slash == std::string::npos ? 0 : slash + 1;
    std::size_t dot = clean.rfind('.');
    if (dot == std::string::npos || dot <= componentStart) return std::string::npos;
    if (dot + 1 == clean.size()) return std::string::npos;
    return dot;
}

std::string userHome(const std::string& user) {
    std::vector<char> buffer(16384);
    struct passwd entry;
    struct passwd* result = nullptr;
    int rc = user.empty() ? getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result)
                          : getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &result);
    if (rc != 0 || !result || !result->pw_dir) return {};
    return result->pw_dir;
}

// "~" is the app's home: the sandbox root, as on the device.
std::string homeDirectory() {
    return NSHomeDirectory();
}

}  // namespace

std::string NSString::stringByAppendingPathComponent(std::string_view path, std::string_view component) {
    std::string joined;
    if (path.empty()) {
        joined = std::string(component);
    } else if (component.empty()) {
        joined = std::string(path);
    } else {
        joined.reserve(path.size() + component.size() + 1);
        joined.append(path);
        joined.push_back('/');
        joined.append(component);
    }
    return cleanSlashes(joined);
}

std::string NSString::lastPathComponent(std::string_view path) {
    std::string clean = cleanSlashes(path);
    if (clean == "/") return clean;
    std::size_t slash = clean.rfind('/');
    return slash == std::string::npos ? clean : clean.substr(slash + 1);
}

std::string NSString::pathExtension(std::string_view path) {
    std::string clean = cleanSlashes(path);
    std::size_t dot = extensionDot(clean);
    return dot == std::string::npos ? std::string() : clean.substr(dot + 1);
}

std::string NSString::stringByDeletingLastPathComponent(std::string_view path) {
    std::string clean = cleanSlashes(path);
    if (clean == "/") return clean;
    std::size_t slash = clean.rfind('/');
    if (slash == std::string::npos) return {};
    if (slash == 0) return "/";
    return clean.substr(0, slash);
}

std::string NSString::stringByDeletingPathExtension(std::string_view path) {
    std::string clean = cleanSlashes(path);
    std::size_t dot = extensionDot(clean);
    return dot == std::string::npos ? clean : clean.substr(0, dot);
}

std::string NSString::stringByAppendingPathExtension(std::string_view path, std::string_view extension) {
    std::string clean = cleanSlashes(path);
    if (clean.empty() || clean == "/" || clean.back() == '~' ||
        extension.find('/') != std::string_view::npos) {
        return std::string(path);
    }
    clean.push_back('.');
    clean.append(extension);
    return clean;
}

std::vector<std::string> NSString::pathComponents(std::string_view path) {
    std::vector<std::string> parts;
    if (path.empty()) return parts;
    if (path.front() == '/') parts.emplace_back("/");
    std::size_t i = 0;
    while (i < path.size()) {
        while (i < path.size() && path[i] == '/') ++i;
        std::size_t start = i;
        while (i < path.size() && path[i] != '/') ++i;
        if (i > start) parts.emplace_back(path.substr(start, i - start));
    }
    // A trailing separator after a name is a component of its own.
    if (path.back() == '/' && path.find_first_not_of('/') != std::string_view::npos) parts.emplace_back("/");
    return parts;
}

std::string NSString::pathWithComponents(const std::vector<std::string>& components) {
    std::string joined;
    for (std::size_t k = 0; k < components.size(); ++k) {
        if (k) joined.push_back('/');
        joined.append(components[k]);
    }
    std::string out;
    for (char c : joined) {
        if (c == '/' && !out.empty() && out.back() == '/') continue;
        out.push_back(c);
    }
    return out;
}

bool NSString::isAbsolutePath(std::string_view path) {
    return !path.empty() && (path[0] == '/' || path[0] == '~');
}

std::string NSString::stringByExpandingTildeInPath(std::string_view path) {
    if (path.empty() || path[0] != '~') return std::string(path);
    std::size_t slash = path.find('/');
    std::string user(path.substr(1, slash == std::string_view::npos ? std::string_view::npos : slash - 1));
    std::string home = user.empty() ? homeDirectory() : userHome(user);
    if (home.empty()) return std::string(path);
    std::string rest = slash == std::string_view::npos ? std::string() : std::string(path.substr(slash));
    return cleanSlashes(home + rest);
}

std::string NSString::stringByAbbreviatingWithTildeInPath(std::string_view path) {
    std::string home = cleanSlashes(homeDirectory());
    std::string clean = cleanSlashes(path);
    if (home.empty() || home == "/") return clean;
    if (clean == home) return "~";
    if (clean.size() > home.size() && clean.compare(0, home.size(), home) == 0 && clean[home.size()] == '/') {
        return "~" + clean.substr(home.size());
    }
    return clean;
}

std::string NSString::stringByStandardizingPath(std::string_view path) {
    std::string expanded = stringByExpandingTildeInPath(path);
    if (expanded.empty()) return expanded;
    const bool absolute = expanded[0] == '/';
    std::vector<std::string> kept;
    std::size_t i = 0;
    while (i < expanded.size()) {
        while (i < expanded.size() && expanded[i] == '/') ++i;
        std::size_t start = i;
        while (i < expanded.size() && expanded[i] != '/') ++i;
        if (i == start) continue;
        std::string part = expanded.substr(start, i - start);
        if (part == ".") continue;
        if (part == ".." && absolute) {
            if (!kept.empty()) kept.pop_back();
            continue;
        }
        kept.push_back(std::move(part));
    }
    std::string out = absolute ? "/" : "";
    for (std::size_t k = 0; k < kept.size(); ++k) {
        if (k) out.push_back('/');
        out.append(kept[k]);
    }
    if (out.empty() && !absolute) return ".";
    return out;
}

// =============================================================================================
// Encodings
// =============================================================================================

namespace {

struct EncodingEntry {
    CFStringEncoding cf;
    const char* iana;     // preferred IANA name; nullptr when it has none
    const char* icu;      // ICU converter for the encodings converted by ICU
    const char* display;  // "Unicode (UTF-8)"
};

// The encodings this system converts. The Unicode ones, ASCII, Latin-1 and non-lossy ASCII are
// converted here; the rest by ICU's converters.
const EncodingEntry kEncodings[] = {
    {kCFStringEncodingUTF8, "UTF-8", "UTF-8", "Unicode (UTF-8)"},
    {kCFStringEncodingASCII, "US-ASCII", "US-ASCII", "Western (ASCII)"},
    {kCFStringEncodingISOLatin1, "ISO-8859-1", "ISO-8859-1", "Western (ISO Latin 1)"},
    {kCFStringEncodingUnicode, "UTF-16", "UTF-16", "Unicode (UTF-16)"},
    {kCFStringEncodingUTF16BE, "UTF-16BE", "UTF-16BE", "Unicode (UTF-16BE)"},
    {kCFStringEncodingUTF16LE, "UTF-16LE", "UTF-16LE", "Unicode (UTF-16LE)"},
    {kCFStringEncodingUTF32, "UTF-32", "UTF-32", "Unicode (UTF-32)"},
    {kCFStringEncodingUTF32BE, "UTF-32BE", "UTF-32BE", "Unicode (UTF-32BE)"},
    {kCFStringEncodingUTF32LE, "UTF-32LE", "UTF-32LE", "Unicode (UTF-32LE)"},
    {kCFStringEncodingNonLossyASCII, nullptr, nullptr, "Non-lossy ASCII"},
    {kCFStringEncodingMacRoman, "macintosh", "macintosh", "Western (Mac OS Roman)"},
    {kCFStringEncodingWindowsLatin1, "windows-1252", "windows-1252", "Western (windows-1252)"},
    {0x0501, "windows-1250", "windows-1250", "Central European (windows-1250)"},
    {0x0502, "windows-1251", "windows-1251", "Cyrillic (windows-1251)"},
    {0x0503, "windows-1253", "windows-1253", "Greek (windows-1253)"},
    {0x0504, "windows-1254", "windows-1254", "Turkish (windows-1254)"},
    {0x0505, "windows-1255", "windows-1255", "Hebrew (windows-1255)"},
    {0x0506, "windows-1256", "windows-1256", "Arabic (windows-1256)"},
    {0x0507, "windows-1257", "windows-1257", "Baltic (windows-1257)"},
    {0x0508, "windows-1258", "windows-1258", "Vietnamese (windows-1258)"},
    {0x0202, "ISO-8859-2", "ISO-8859-2", "Central European (ISO Latin 2)"},
    {0x0203, "ISO-8859-3", "ISO-8859-3", "Western (ISO Latin 3)"},
    {0x0204, "ISO-8859-4", "ISO-8859-4", "Central European (ISO Latin 4)"},
    {0x0205, "ISO-8859-5", "ISO-8859-5", "Cyrillic (ISO 8859-5)"},
    {0x0206, "ISO-8859-6", "ISO-8859-6", "Arabic (ISO 8859-6)"},
    {0x0207, "ISO-8859-7", "ISO-8859-7", "Greek (ISO 8859-7)"},
    {0x0208, "ISO-8859-8", "ISO-8859-8", "Hebrew (ISO 8859-8)"},
    {0x0209, "ISO-8859-9", "ISO-8859-9", "Turkish (ISO Latin 5)"},
    {0x020A, "ISO-8859-10", "ISO-8859-10", "Nordic (ISO Latin 6)"},
    {0x020B, "TIS-620", "TIS-620", "Thai (ISO 8859-11)"},
    {0x020D, "ISO-8859-13", "ISO-8859-13", "Baltic (ISO Latin 7)"},
    {0x020E, "ISO-8859-14", "ISO-8859-14", "Celtic (ISO Latin 8)"},
    {0x020F, "ISO-8859-15", "ISO-8859-15", "Western (ISO Latin 9)"},
    {0x0210, "ISO-8859-16", "ISO-8859-16", "Romanian (ISO Latin 10)"},
    {kCFStringEncodingGB_18030_2000, "GB18030", "GB18030", "Chinese (GB 18030)"},
    {kCFStringEncodingGBK_95, "GBK", "GBK", "Chinese (GBK)"},
    {kCFStringEncodingEUC_CN, "GB2312", "GB2312", "Simplified Chinese (GB 2312)"},
    {kCFStringEncodingBig5, "Big5", "Big5", "Traditional Chinese (Big 5)"},
    {kCFStringEncodingBig5_HKSCS_1999, "Big5-HKSCS", "Big5-HKSCS", "Traditional Chinese (Big 5 HKSCS)"},
    {kCFStringEncodingShiftJIS, "Shift_JIS", "Shift_JIS", "Japanese (Shift JIS)"},
    {kCFStringEncodingDOSJapanese, "Windows-31J", "windows-31j", "Japanese (Windows-31J)"},
    {kCFStringEncodingEUC_JP, "EUC-JP", "EUC-JP", "Japanese (EUC)"},
    {kCFStringEncodingISO_2022_JP, "ISO-2022-JP", "ISO-2022-JP", "Japanese (ISO 2022-JP)"},
    {kCFStringEncodingEUC_KR, "EUC-KR", "EUC-KR", "Korean (EUC)"},
    {kCFStringEncodingKOI8_R, "KOI8-R", "KOI8-R", "Cyrillic (KOI8-R)"},
    {kCFStringEncodingKOI8_U, "KOI8-U", "KOI8-U", "Ukrainian (KOI8-U)"},
};

// Names in common use that are not the preferred ones.
const std::pair<const char*, CFStringEncoding> kAliases[] = {
    {"utf8", kCFStringEncodingUTF8},
    {"unicode-1-1-utf-8", kCFStringEncodingUTF8},
    {"ascii", kCFStringEncodingASCII},
    {"us", kCFStringEncodingASCII},
    {"iso646-us", kCFStringEncodingASCII},
    {"ansi_x3.4-1968", kCFStringEncodingASCII},
    {"latin1", kCFStringEncodingISOLatin1},
    {"l1", kCFStringEncodingISOLatin1},
    {"iso8859-1", kCFStringEncodingISOLatin1},
    {"iso_8859-1", kCFStringEncodingISOLatin1},
    {"x-mac-roman", kCFStringEncodingMacRoman},
    {"mac", kCFStringEncodingMacRoman},
    {"cp1252", kCFStringEncodingWindowsLatin1},
    {"cp1251", 0x0502},
    {"cp1250", 0x0501},
    {"gb_2312-80", kCFStringEncodingEUC_CN},
    {"euc-cn", kCFStringEncodingEUC_CN},
    {"x-euc-cn", kCFStringEncodingEUC_CN},
    {"cp936", kCFStringEncodingGBK_95},
    {"x-gbk", kCFStringEncodingGBK_95},
    {"windows-936", kCFStringEncodingGBK_95},
    {"x-big5", kCFStringEncodingBig5},
    {"sjis", kCFStringEncodingShiftJIS},
    {"x-sjis", kCFStringEncodingShiftJIS},
    {"shift-jis", kCFStringEncodingShiftJIS},
    {"ms_kanji", kCFStringEncodingShiftJIS},
    {"csshiftjis", kCFStringEncodingShiftJIS},
    {"cp932", kCFStringEncodingDOSJapanese},
    {"x-euc-jp", kCFStringEncodingEUC_JP},
};

const EncodingEntry* entryForCF(CFStringEncoding cf) {
    for (const auto& e : kEncodings) {
        if (e.cf == cf) return &e;
    }
    return nullptr;
}

std::string lowerASCII(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = asciiLower(c);
    return out;
}

// ICU's own name for a converter alias (the first name in its alias list); empty when unknown.
std::string icuConverterName(const std::string& name) {
    UErrorCode status = U_ZERO_ERROR;
    const char* canonical = ucnv_getAlias(name.c_str(), 0, &status);
    if (U_FAILURE(status) || !canonical) return {};
    return canonical;
}

// A code point, with a surrogate pair written as two separate three-byte forms joined again.
char32_t nextCodePoint(std::string_view s, std::size_t& i) {
    char32_t c = detail::decodeUTF8(s, i);
    if (isHighSurrogate(c) && i < s.size()) {
        std::size_t j = i;
        char32_t low = detail::decodeUTF8(s, j);
        if (isLowSurrogate(low)) {
            i = j;
            return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        }
    }
    return c;
}

void appendUnit16(std::string& out, char16_t unit, bool bigEndian) {
    if (bigEndian) {
        out.push_back(static_cast<char>(unit >> 8));
        out.push_back(static_cast<char>(unit & 0xFF));
    } else {
        out.push_back(static_cast<char>(unit & 0xFF));
        out.push_back(static_cast<char>(unit >> 8));
    }
}

void appendUnit32(std::string& out, char32_t unit, bool bigEndian) {
    for (int k = 0; k < 4; ++k) {
        int shift = bigEndian ? 24 - 8 * k : 8 * k;
        out.push_back(static_cast<char>((unit >> shift) & 0xFF));
    }
}

constexpr bool kHostBigEndian = std::endian::native == std::endian::big;

struct Converter {
    explicit Converter(const char* name) {
        UErrorCode status = U_ZERO_ERROR;
        conv = ucnv_open(name, &status);
        if (U_FAILURE(status)) conv = nullptr;
    }
    ~Converter() {
        if (conv) ucnv_close(conv);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    UConverter* conv = nullptr;
};

std::optional<std::string> encodeICU(const std::u16string& u, const char* name, bool lossy) {
    Converter c(name);
    if (!c.conv) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    if (lossy) {
        ucnv_setSubstChars(c.conv, "?", 1, &status);
        ucnv_setFromUCallBack(c.conv, UCNV_FROM_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr, &status);
    } else {
        ucnv_setFromUCallBack(c.conv, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    }
    if (U_FAILURE(status)) return std::nullopt;
    std::string out(UCNV_GET_MAX_BYTES_FOR_STRING(u.size(), ucnv_getMaxCharSize(c.conv)) + 8, '\0');
    int32_t length = ucnv_fromUChars(c.conv, out.data(), static_cast<int32_t>(out.size()), u.data(),
                                     static_cast<int32_t>(u.size()), &status);
    if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING) return std::nullopt;
    out.resize(static_cast<std::size_t>(length));
    return out;
}

std::optional<std::u16string> decodeICU(const char* bytes, std::size_t n, const char* name) {
    Converter c(name);
    if (!c.conv) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    ucnv_setToUCallBack(c.conv, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    if (U_FAILURE(status)) return std::nullopt;
    std::u16string out(2 * n + 8, u'\0');
    int32_t length = ucnv_toUChars(c.conv, out.data(), static_cast<int32_t>(out.size()), bytes,
                                   static_cast<int32_t>(n), &status);
    if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING) return std::nullopt;
    out.resize(static_cast<std::size_t>(length));
    return out;
}

bool fitsICU(std::size_t n) {
    return n < static_cast<std::size_t>(INT32_MAX / 4);
}

std::optional<std::string> encodeText(std::string_view s, NSStringEncoding encoding, bool lossy) {
    const CFStringEncoding cf = CFStringConvertNSStringEncodingToEncoding(encoding);
    switch (cf) {
        case kCFStringEncodingUTF8: {
            if (isStrictUTF8(s)) return std::string(s);
            std::string out;
            out.reserve(s.size());
            for (std::size_t i = 0; i < s.size();) {
                char32_t c = nextCodePoint(s, i);
                if (isSurrogate(c)) {
                    if (!lossy) return std::nullopt;
                    c = '?';
                }
                detail::appendUTF8(out, c);
            }
            return out;
        }
        case kCFStringEncodingASCII:
        case kCFStringEncodingISOLatin1: {
            const char32_t limit = cf == kCFStringEncodingASCII ? 0x7F : 0xFF;
            std::string out;
            out.reserve(s.size());
            for (std::size_t i = 0; i < s.size();) {
                char32_t c = nextCodePoint(s, i);
                if (c > limit) {
                    if (!lossy) return std::nullopt;
                    c = '?';
                }
                out.push_back(static_cast<char>(c));
            }
            return out;
        }
        case kCFStringEncodingUnicode:
        case kCFStringEncodingUTF16BE:
        case kCFStringEncodingUTF16LE: {
            std::u16string u = NSString::utf16(s);
            std::string out;
            out.reserve(2 * u.size() + 2);
            bool big = cf == kCFStringEncodingUTF16BE || (cf == kCFStringEncodingUnicode && kHostBigEndian);
            if (cf == kCFStringEncodingUnicode) appendUnit16(out, 0xFEFF, big);
            for (char16_t unit : u) appendUnit16(out, unit, big);
            return out;
        }
        case kCFStringEncodingUTF32:
        case kCFStringEncodingUTF32BE:
        case kCFStringEncodingUTF32LE: {
            std::string out;
            bool big = cf == kCFStringEncodingUTF32BE || (cf == kCFStringEncodingUTF32 && kHostBigEndian);
            if (cf == kCFStringEncodingUTF32) appendUnit32(out, 0xFEFF, big);
            for (std::size_t i = 0; i < s.size();) {
                char32_t c = nextCodePoint(s, i);
                if (isSurrogate(c)) {
                    if (!lossy) return std::nullopt;
                    c = '?';
                }
                appendUnit32(out, c, big);
            }
            return out;
        }
        case kCFStringEncodingNonLossyASCII: {
            std::string out;
            for (char16_t unit : NSString::utf16(s)) {
                if (unit == '\\') {
                    out += "\\\\";
                } else if (unit < 0x80) {
                    out.push_back(static_cast<char>(unit));
                } else {
                    char buffer[8];
                    std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(unit));
                    out += buffer;
                }
            }
            return out;
        }
        default: {
            const EncodingEntry* entry = entryForCF(cf);
            if (!entry || !entry->icu || !fitsICU(s.size())) return std::nullopt;
            return encodeICU(NSString::utf16(s), entry->icu, lossy);
        }
    }
}

std::optional<std::string> decodeBytes(const unsigned char* p, std::size_t n, NSStringEncoding encoding) {
    const CFStringEncoding cf = CFStringConvertNSStringEncodingToEncoding(encoding);
    if (!p) n = 0;
    switch (cf) {
        case kCFStringEncodingUTF8: {
            if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
                p += 3;
                n -= 3;
            }
            std::string_view text(reinterpret_cast<const char*>(p), n);
            if (!isStrictUTF8(text)) return std::nullopt;
            return std::string(text);
        }
        case kCFStringEncodingASCII: {
            for (std::size_t k = 0; k < n; ++k) {
                if (p[k] >= 0x80) return std::nullopt;
            }
            return std::string(reinterpret_cast<const char*>(p), n);
        }
        case kCFStringEncodingISOLatin1: {
            std::string out;
            out.reserve(n);
            for (std::size_t k = 0; k < n; ++k) detail::appendUTF8(out, p[k]);
            return out;
        }
        case kCFStringEncodingUnicode:
        case kCFStringEncodingUTF16BE:
        case kCFStringEncodingUTF16LE: {
            if (n % 2) return std::nullopt;
            bool big = cf != kCFStringEncodingUTF16LE;
            std::size_t k = 0;
            if (cf == kCFStringEncodingUnicode && n >= 2) {
                if (p[0] == 0xFE && p[1] == 0xFF) {
                    k = 2;
                } else if (p[0] == 0xFF && p[1] == 0xFE) {
                    big = false;
                    k = 2;
                }
            }
            std::u16string u;
            u.reserve(n / 2);
            for (; k < n; k += 2) {
                u.push_back(big ? static_cast<char16_t>((p[k] << 8) | p[k + 1])
                                : static_cast<char16_t>((p[k + 1] << 8) | p[k]));
            }
            return NSString::fromUTF16(u);
        }
        case kCFStringEncodingUTF32:
        case kCFStringEncodingUTF32BE:
        case kCFStringEncodingUTF32LE: {
            if (n % 4) return std::nullopt;
            bool big = cf != kCFStringEncodingUTF32LE;
            std::size_t k = 0;
            if (cf == kCFStringEncodingUTF32 && n >= 4) {
                if (p[0] == 0 && p[1] == 0 && p[2] == 0xFE && p[3] == 0xFF) {
                    k = 4;
                } else if (p[0] == 0xFF && p[1] == 0xFE && p[2] == 0 && p[3] == 0) {
                    big = false;
                    k = 4;
                }
            }
            std::string out;
            out.reserve(n);
            for (; k < n; k += 4) {
                char32_t c = big ? (char32_t(p[k]) << 24) | (char32_t(p[k + 1]) << 16) |
                                       (char32_t(p[k + 2]) << 8) | p[k + 3]
                                 : (char32_t(p[k + 3]) << 24) | (char32_t(p[k + 2]) << 16) |
                                       (char32_t(p[k + 1]) << 8) | p[k];
                if (c > 0x10FFFF || isSurrogate(c)) return std::nullopt;
                detail::appendUTF8(out, c);
            }
            return out;
        }
        case kCFStringEncodingNonLossyASCII: {
            std::u16string u;
            auto hex = [](unsigned char c) -> int {
                if (c >= '0' && c <= '9') return c - '0';
                if (c >= 'a' && c <= 'f') return c - 'a' + 10;
                if (c >= 'A' && c <= 'F') return c - 'A' + 10;
                return -1;
            };
            for (std::size_t k = 0; k < n;) {
                if (p[k] >= 0x80) return std::nullopt;
                if (p[k] != '\\') {
                    u.push_back(p[k++]);
                    continue;
                }
                if (k + 1 < n && p[k + 1] == '\\') {
                    u.push_back('\\');
                    k += 2;
                } else if (k + 5 < n && p[k + 1] == 'u' && hex(p[k + 2]) >= 0 && hex(p[k + 3]) >= 0 &&
                           hex(p[k + 4]) >= 0 && hex(p[k + 5]) >= 0) {
                    u.push_back(static_cast<char16_t>((hex(p[k + 2]) << 12) | (hex(p[k + 3]) << 8) |
                                                      (hex(p[k + 4]) << 4) | hex(p[k + 5])));
                    k += 6;
                } else if (k + 3 < n && p[k + 1] >= '0' && p[k + 1] <= '3' && p[k + 2] >= '0' &&
                           p[k + 2] <= '7' && p[k + 3] >= '0' && p[k + 3] <= '7') {
                    u.push_back(static_cast<char16_t>(((p[k + 1] - '0') << 6) | ((p[k + 2] - '0') << 3) |
                                                      (p[k + 3] - '0')));
                    k += 4;
                } else {
                    u.push_back('\\');
                    ++k;
                }
            }
            return NSString::fromUTF16(u);
        }
        default: {
            const EncodingEntry* entry = entryForCF(cf);
            if (!entry || !entry->icu || !fitsICU(n)) return std::nullopt;
            auto u = decodeICU(reinterpret_cast<const char*>(p), n, entry->icu);
            if (!u) return std::nullopt;
            return NSString::fromUTF16(*u);
        }
    }
}

}  // namespace

CFStringEncoding CFStringConvertIANACharSetNameToEncoding(std::string_view name) {
    // Trim blanks and quotes, which appear around charset parameters.
    while (!name.empty() &&
           (name.front() == ' ' || name.front() == '\t' || name.front() == '"' || name.front() == '\'')) {
        name.remove_prefix(1);
    }
    while (!name.empty() &&
           (name.back() == ' ' || name.back() == '\t' || name.back() == '"' || name.back() == '\'')) {
        name.remove_suffix(1);
    }
    if (name.empty() || name.size() > 64) return kCFStringEncodingInvalidId;
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        // Only what charset names are made of; ICU reads "," as the start of converter options.
        if (!(asciiAlnum(u) || c == '-' || c == '_' || c == '.' || c == ':' || c == '+')) {
            return kCFStringEncodingInvalidId;
        }
    }
    std::string lower = lowerASCII(name);
    for (const auto& e : kEncodings) {
        if (e.iana && lowerASCII(e.iana) == lower) return e.cf;
    }
    for (const auto& [alias, cf] : kAliases) {
        if (lower == alias) return cf;
    }
    // Any other alias ICU knows for one of the encodings above.
    std::string converter = icuConverterName(lower);
    if (converter.empty()) return kCFStringEncodingInvalidId;
    for (const auto& e : kEncodings) {
        if (e.icu && icuConverterName(e.icu) == converter) return e.cf;
    }
    return kCFStringEncodingInvalidId;
}

std::optional<std::string> CFStringConvertEncodingToIANACharSetName(CFStringEncoding encoding) {
    const EncodingEntry* entry = entryForCF(encoding);
    if (!entry || !entry->iana) return std::nullopt;
    return lowerASCII(entry->iana);
}

namespace {
// The small platform numbers and the lower-level encodings they stand for.
const std::pair<NSStringEncoding, CFStringEncoding> kNSNumbers[] = {
    {NSASCIIStringEncoding, kCFStringEncodingASCII},
    {NSNEXTSTEPStringEncoding, kCFStringEncodingNextStepLatin},
    {NSJapaneseEUCStringEncoding, kCFStringEncodingEUC_JP},
    {NSUTF8StringEncoding, kCFStringEncodingUTF8},
    {NSISOLatin1StringEncoding, kCFStringEncodingISOLatin1},
    {NSSymbolStringEncoding, kCFStringEncodingMacSymbol},
    {NSNonLossyASCIIStringEncoding, kCFStringEncodingNonLossyASCII},
    {NSShiftJISStringEncoding, kCFStringEncodingDOSJapanese},
    {NSISOLatin2StringEncoding, 0x0202},
    {NSUnicodeStringEncoding, kCFStringEncodingUnicode},
    {NSWindowsCP1251StringEncoding, 0x0502},
    {NSWindowsCP1252StringEncoding, kCFStringEncodingWindowsLatin1},
    {NSWindowsCP1253StringEncoding, 0x0503},
    {NSWindowsCP1254StringEncoding, 0x0504},
    {NSWindowsCP1250StringEncoding, 0x0501},
    {NSISO2022JPStringEncoding, kCFStringEncodingISO_2022_JP},
    {NSMacOSRomanStringEncoding, kCFStringEncodingMacRoman},
};
constexpr NSStringEncoding kNSForeignFlag = 0x80000000UL;
}  // namespace

NSStringEncoding CFStringConvertEncodingToNSStringEncoding(CFStringEncoding encoding) {
    if (encoding == kCFStringEncodingInvalidId) return kCFStringEncodingInvalidId;
    for (const auto& [ns, cf] : kNSNumbers) {
        if (cf == encoding) return ns;
    }
    return kNSForeignFlag | encoding;
}

CFStringEncoding CFStringConvertNSStringEncodingToEncoding(NSStringEncoding encoding) {
    for (const auto& [ns, cf] : kNSNumbers) {
        if (ns == encoding) return cf;
    }
    if ((encoding & kNSForeignFlag) && encoding <= 0xFFFFFFFFUL) {
        return static_cast<CFStringEncoding>(encoding & ~kNSForeignFlag);
    }
    return kCFStringEncodingInvalidId;
}

bool CFStringIsEncodingAvailable(CFStringEncoding encoding) {
    const EncodingEntry* entry = entryForCF(encoding);
    if (!entry) return false;
    if (!entry->icu) return true;
    switch (encoding) {
        case kCFStringEncodingUTF8:
        case kCFStringEncodingASCII:
        case kCFStringEncodingISOLatin1:
        case kCFStringEncodingUnicode:
        case kCFStringEncodingUTF16BE:
        case kCFStringEncodingUTF16LE:
        case kCFStringEncodingUTF32:
        case kCFStringEncodingUTF32BE:
        case kCFStringEncodingUTF32LE:
            return true;
        default:
            break;
    }
    Converter c(entry->icu);
    return c.conv != nullptr;
}

std::optional<NSData> NSString::dataUsingEncoding(std::string_view s, NSStringEncoding encoding,
                                                  bool allowLossy) {
    auto bytes = encodeText(s, encoding, allowLossy);
    if (!bytes) return std::nullopt;
    return NSData::fromString(*bytes);
}

bool NSString::canBeConvertedToEncoding(std::string_view s, NSStringEncoding encoding) {
    const CFStringEncoding cf = CFStringConvertNSStringEncodingToEncoding(encoding);
    if (cf == kCFStringEncodingASCII) {
        return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    }
    if (cf == kCFStringEncodingUTF8 && isStrictUTF8(s)) return true;
    if (cf == kCFStringEncodingUnicode || cf == kCFStringEncodingUTF16BE || cf == kCFStringEncodingUTF16LE) {
        return true;
    }
    return encodeText(s, encoding, false).has_value();
}

std::size_t NSString::lengthOfBytesUsingEncoding(std::string_view s, NSStringEncoding encoding) {
    auto bytes = encodeText(s, encoding, false);
    return bytes ? bytes->size() : 0;
}

std::optional<std::string> NSString::initWithData(const NSData& data, NSStringEncoding encoding) {
    return decodeBytes(data.bytes(), data.length(), encoding);
}

std::optional<std::string> NSString::initWithBytes(const void* bytes, std::size_t length,
                                                   NSStringEncoding encoding) {
    return decodeBytes(static_cast<const unsigned char*>(bytes), length, encoding);
}

std::optional<NSStringEncoding> NSString::encodingForIANACharSetName(std::string_view name) {
    CFStringEncoding cf = CFStringConvertIANACharSetNameToEncoding(name);
    if (cf == kCFStringEncodingInvalidId) return std::nullopt;
    return CFStringConvertEncodingToNSStringEncoding(cf);
}

std::string NSString::localizedNameOfStringEncoding(NSStringEncoding encoding) {
    const EncodingEntry* entry = entryForCF(CFStringConvertNSStringEncodingToEncoding(encoding));
    return entry ? entry->display : std::string();
}

// =============================================================================================
// Percent escaping
// =============================================================================================

namespace {

const char kHexUpper[] = "0123456789ABCDEF";

void appendEscapedBytes(std::string& out, std::string_view bytes) {
    for (unsigned char b : bytes) {
        out.push_back('%');
        out.push_back(kHexUpper[b >> 4]);
        out.push_back(kHexUpper[b & 0xF]);
    }
}

// The characters a URL may hold as they are: letters, digits and the marks below.
bool isURLLegal(char32_t c) {
    if (c >= 0x80) return false;
    if (asciiAlnum(c)) return true;
    return c != 0 && std::strchr("!#$&'()*+,-./:;=?@_~", static_cast<int>(c)) != nullptr;
}

std::u32string codePoints(std::string_view s) {
    std::u32string out;
    for (std::size_t i = 0; i < s.size();) out.push_back(nextCodePoint(s, i));
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads "%XX" at s[i]; -1 when it is not a well-formed escape.
int escapeAt(std::string_view s, std::size_t i) {
    if (i + 2 >= s.size()) return -1;
    int hi = hexValue(s[i + 1]), lo = hexValue(s[i + 2]);
    if (hi < 0 || lo < 0) return -1;
    return (hi << 4) | lo;
}

}  // namespace

std::optional<std::string> CFURLCreateStringByAddingPercentEscapes(
    std::string_view string, std::optional<std::string_view> charactersToLeaveUnescaped,
    std::optional<std::string_view> legalURLCharactersToBeEscaped, CFStringEncoding encoding) {
    NSStringEncoding ns = CFStringConvertEncodingToNSStringEncoding(encoding);
    if (encoding == kCFStringEncodingInvalidId || !entryForCF(encoding)) return std::nullopt;
    std::u32string leave =
        charactersToLeaveUnescaped ? codePoints(*charactersToLeaveUnescaped) : std::u32string();
    std::u32string force =
        legalURLCharactersToBeEscaped ? codePoints(*legalURLCharactersToBeEscaped) : std::u32string();
    std::string out;
    out.reserve(string.size());
    std::string run;  // consecutive characters to escape, converted together
    auto flush = [&]() -> bool {
        if (run.empty()) return true;
        auto bytes = encodeText(run, ns, false);
        run.clear();
        if (!bytes) return false;
        appendEscapedBytes(out, *bytes);
        return true;
    };
    for (std::size_t i = 0; i < string.size();) {
        std::size_t before = i;
        char32_t c = nextCodePoint(string, i);
        bool escape;
        if (leave.find(c) != std::u32string::npos) {
            escape = false;
        } else if (force.find(c) != std::u32string::npos) {
            escape = true;
        } else {
            escape = !isURLLegal(c);
        }
        if (escape) {
            run.append(string.substr(before, i - before));
        } else {
            if (!flush()) return std::nullopt;
            detail::appendUTF8(out, c);
        }
    }
    if (!flush()) return std::nullopt;
    return out;
}

std::optional<std::string>
CFURLCreateStringByReplacingPercentEscapes(std::string_view string,
                                           std::string_view charactersToLeaveEscaped) {
    std::u32string leave = codePoints(charactersToLeaveEscaped);
    std::string out;
    out.reserve(string.size());
    std::size_t i = 0;
    while (i < string.size()) {
        if (string[i] != '%') {
            out.push_back(string[i++]);
            continue;
        }
        // A run of escapes, decoded together so that multi-byte characters come out whole.
        std::size_t runStart = i;
        std::string bytes;
        while (i < string.size() && string[i] == '%') {
            int b = escapeAt(string, i);
            if (b < 0) return std::nullopt;
            bytes.push_back(static_cast<char>(b));
            i += 3;
        }
        if (!isStrictUTF8(bytes)) return std::nullopt;
        std::size_t escapeIndex = runStart;
        for (std::size_t k = 0; k < bytes.size();) {
            std::size_t before = k;
            char32_t c = detail::decodeUTF8(bytes, k);
            std::size_t count = k - before;
            if (leave.find(c) != std::u32string::npos) {
                out.append(string.substr(escapeIndex, 3 * count));
            } else {
                out.append(bytes, before, count);
            }
            escapeIndex += 3 * count;
        }
    }
    return out;
}

std::optional<std::string> NSString::stringByAddingPercentEscapesUsingEncoding(std::string_view s,
                                                                               NSStringEncoding encoding) {
    return CFURLCreateStringByAddingPercentEscapes(s, std::nullopt, std::nullopt,
                                                   CFStringConvertNSStringEncodingToEncoding(encoding));
}

std::optional<std::string>
NSString::stringByAddingPercentEncodingWithAllowedCharacters(std::string_view s,
                                                             const NSCharacterSet& allowed) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        char32_t c = nextCodePoint(s, i);
        if (isSurrogate(c)) return std::nullopt;
        std::string bytes;
        detail::appendUTF8(bytes, c);
        if (allowed.longCharacterIsMember(c)) {
            out += bytes;
        } else {
            appendEscapedBytes(out, bytes);
        }
    }
    return out;
}

std::optional<std::string> NSString::stringByRemovingPercentEncoding(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        if (s[i] != '%') {
            out.push_back(s[i++]);
            continue;
        }
        int b = escapeAt(s, i);
        if (b < 0) return std::nullopt;
        out.push_back(static_cast<char>(b));
        i += 3;
    }
    if (!isStrictUTF8(out)) return std::nullopt;
    return out;
}

std::optional<std::string> NSString::stringByReplacingPercentEscapesUsingEncoding(std::string_view s,
                                                                                  NSStringEncoding encoding) {
    std::string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        if (s[i] != '%') {
            out.push_back(s[i++]);
            continue;
        }
        std::string bytes;
        while (i < s.size() && s[i] == '%') {
            int b = escapeAt(s, i);
            if (b < 0) return std::nullopt;
            bytes.push_back(static_cast<char>(b));
            i += 3;
        }
        auto text = decodeBytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), encoding);
        if (!text) return std::nullopt;
        out += *text;
    }
    return out;
}

// =============================================================================================
// Formatting
// =============================================================================================

namespace {

long long clampToLongLong(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 9.2233720368547758e18) return LLONG_MAX;
    if (d <= -9.2233720368547758e18) return LLONG_MIN;
    return static_cast<long long>(d);
}

unsigned long long clampToUnsigned(double d) {
    if (std::isnan(d)) return 0;
    if (d < 0) return static_cast<unsigned long long>(clampToLongLong(d));
    if (d >= 1.8446744073709552e19) return ULLONG_MAX;
    return static_cast<unsigned long long>(d);
}

std::string hexPointer(const void* p) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "0x%llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(p)));
    return buffer;
}

}  // namespace

void FormatArg::setValue(Value value) {
    if (value.isNil()) {
        kind_ = Kind::Nil;
        return;
    }
    kind_ = Kind::Object;
    isValue_ = true;
    Ref<NSObject> object = value.object();
    p_ = object.get();
    value_ = std::move(value);
}

long long FormatArg::signedValue() const {
    switch (kind_) {
        case Kind::Nil:
            return 0;
        case Kind::Signed:
        case Kind::Bool:
            return i_;
        case Kind::Unsigned:
        case Kind::Char:
            return static_cast<long long>(u_);
        case Kind::Real:
            return clampToLongLong(d_);
        case Kind::Text:
            return NSString::longLongValue(text_);
        case Kind::Object:
            if (!isValue_) return 0;
            if (auto n = value_.number()) {
                if (n->isUnsigned()) return static_cast<long long>(n->unsignedLongLongValue());
                if (n->isReal()) return clampToLongLong(n->doubleValue());
                return n->longLongValue();
            }
            return value_.longLongValue();
        case Kind::Pointer:
            return static_cast<long long>(reinterpret_cast<std::uintptr_t>(p_));
    }
    return 0;
}

unsigned long long FormatArg::unsignedValue() const {
    switch (kind_) {
        case Kind::Unsigned:
        case Kind::Char:
            return u_;
        case Kind::Real:
            return clampToUnsigned(d_);
        case Kind::Pointer:
            return reinterpret_cast<std::uintptr_t>(p_);
        case Kind::Object:
            if (isValue_) {
                if (auto n = value_.number()) {
                    if (n->isReal()) return clampToUnsigned(n->doubleValue());
                    return n->unsignedLongLongValue();
                }
            }
            return static_cast<unsigned long long>(signedValue());
        default:
            return static_cast<unsigned long long>(signedValue());
    }
}

double FormatArg::realValue() const {
    switch (kind_) {
        case Kind::Nil:
            return 0;
        case Kind::Signed:
        case Kind::Bool:
            return static_cast<double>(i_);
        case Kind::Unsigned:
        case Kind::Char:
            return static_cast<double>(u_);
        case Kind::Real:
            return d_;
        case Kind::Text:
            return NSString::doubleValue(text_);
        case Kind::Object:
            return isValue_ ? value_.doubleValue() : 0;
        case Kind::Pointer:
            return static_cast<double>(reinterpret_cast<std::uintptr_t>(p_));
    }
    return 0;
}

std::string FormatArg::description() const {
    switch (kind_) {
        case Kind::Nil:
            return "(null)";
        case Kind::Signed:
            return std::to_string(i_);
        case Kind::Unsigned:
            return std::to_string(u_);
        case Kind::Real:
            return bits_ == 32 ? NSNumber::numberWithFloat(static_cast<float>(d_)).description()
                               : NSNumber::numberWithDouble(d_).description();
        case Kind::Bool:
            return i_ ? "1" : "0";
        case Kind::Char:
            return NSString::stringWithCodePoint(static_cast<char32_t>(u_));
        case Kind::Text:
            return text_;
        case Kind::Object:
            return isValue_ ? value_.description() : text_;
        case Kind::Pointer:
            return hexPointer(p_);
    }
    return {};
}

std::string FormatArg::text() const {
    if (kind_ == Kind::Object && isValue_) {
        if (auto s = value_.string()) return *s;
    }
    return description();
}

const void* FormatArg::pointer() const {
    switch (kind_) {
        case Kind::Pointer:
        case Kind::Object:
            return p_;
        case Kind::Signed:
        case Kind::Unsigned:
            return reinterpret_cast<const void*>(static_cast<std::uintptr_t>(unsignedValue()));
        default:
            return nullptr;
    }
}

char32_t FormatArg::character() const {
    if (kind_ == Kind::Text || (kind_ == Kind::Object && isValue_ && value_.isString())) {
        std::string t = text();
        if (t.empty()) return 0;
        std::size_t i = 0;
        return detail::decodeUTF8(t, i);
    }
    unsigned long long v = unsignedValue();
    return v > 0x10FFFF ? 0xFFFD : static_cast<char32_t>(v);
}

namespace {

constexpr int kMaxFieldWidth = 8192;

struct FieldFormat {
    bool minus = false, plus = false, space = false, alt = false, zero = false;
    int width = -1;
    int precision = -1;
    int lengthBits = 0;  // 0: no length modifier
};

// Reads decimal digits, saturating at the field cap.
int readNumber(std::string_view f, std::size_t& i) {
    long value = 0;
    while (i < f.size() && f[i] >= '0' && f[i] <= '9') {
        value = value * 10 + (f[i] - '0');
        if (value > kMaxFieldWidth) value = kMaxFieldWidth + 1;
        ++i;
    }
    return static_cast<int>(value);
}

// The text cut to at most `units` UTF-16 units, never splitting a character.
std::string truncateUnits(const std::string& text, std::size_t units) {
    std::size_t count = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t before = i;
        char32_t c = detail::decodeUTF8(text, i);
        count += unitsOf(c);
        if (count > units) return text.substr(0, before);
    }
    return text;
}

void appendPadded(std::string& out, const std::string& text, const FieldFormat& field) {
    std::size_t length = field.width > 0 ? NSString::length(text) : 0;
    std::size_t fill = field.width > 0 && static_cast<std::size_t>(field.width) > length
                           ? static_cast<std::size_t>(field.width) - length
                           : 0;
    if (!field.minus) out.append(fill, ' ');
    out += text;
    if (field.minus) out.append(fill, ' ');
}

std::string printfPattern(const FieldFormat& field, const char* length, char conversion) {
    std::string f = "%";
    if (field.minus) f += '-';
    if (field.plus) f += '+';
    if (field.space) f += ' ';
    if (field.alt) f += '#';
    if (field.zero) f += '0';
    if (field.width >= 0) f += std::to_string(field.width);
    if (field.precision >= 0) f += "." + std::to_string(field.precision);
    f += length;
    f += conversion;
    return f;
}

template <class T>
void appendPrintf(std::string& out, const std::string& field, T value) {
    // Numbers always print in the C locale, whatever the process locale says.
    locale_t previous = uselocale(cLocale());
    char small[128];
    int n = std::snprintf(small, sizeof small, field.c_str(), value);
    if (n >= 0 && static_cast<std::size_t>(n) < sizeof small) {
        out.append(small, static_cast<std::size_t>(n));
    } else if (n > 0) {
        std::string big(static_cast<std::size_t>(n) + 1, '\0');
        std::snprintf(big.data(), big.size(), field.c_str(), value);
        big.resize(static_cast<std::size_t>(n));
        out += big;
    }
    uselocale(previous);
}

// The value reinterpreted at a width: truncated to `bits` and sign-extended when signed.
long long signedAtWidth(unsigned long long raw, int bits) {
    if (bits >= 64) return static_cast<long long>(raw);
    unsigned long long mask = (1ULL << bits) - 1;
    raw &= mask;
    unsigned long long sign = 1ULL << (bits - 1);
    return (raw & sign) ? static_cast<long long>(raw | ~mask) : static_cast<long long>(raw);
}

unsigned long long unsignedAtWidth(unsigned long long raw, int bits) {
    if (bits >= 64) return raw;
    return raw & ((1ULL << bits) - 1);
}

bool isIntegerKind(FormatArg::Kind kind) {
    return kind == FormatArg::Kind::Signed || kind == FormatArg::Kind::Unsigned ||
           kind == FormatArg::Kind::Char || kind == FormatArg::Kind::Bool;
}

void formatInteger(std::string& out, const FieldFormat& field, const FormatArg& arg, char conversion) {
    const bool integer = isIntegerKind(arg.kind());
    const int bits = field.lengthBits ? field.lengthBits : (integer ? arg.bits() : 64);
    if (conversion == 'd' || conversion == 'i') {
        long long v;
        if (integer) {
            unsigned long long raw =
                arg.kind() == FormatArg::Kind::Unsigned || arg.kind() == FormatArg::Kind::Char
                    ? arg.unsignedValue()
                    : static_cast<unsigned long long>(arg.signedValue());
            // A char reads as its code, not as a negative number.
            v = arg.kind() == FormatArg::Kind::Char && !field.lengthBits ? static_cast<long long>(raw)
                                                                         : signedAtWidth(raw, bits);
        } else {
            v = field.lengthBits ? signedAtWidth(static_cast<unsigned long long>(arg.signedValue()), bits)
                                 : arg.signedValue();
        }
        appendPrintf(out, printfPattern(field, "ll", 'd'), v);
    } else {
        unsigned long long raw = arg.kind() == FormatArg::Kind::Signed || arg.kind() == FormatArg::Kind::Bool
                                     ? static_cast<unsigned long long>(arg.signedValue())
                                     : arg.unsignedValue();
        FieldFormat unsignedField = field;
        unsignedField.plus = unsignedField.space = false;
        appendPrintf(out, printfPattern(unsignedField, "ll", conversion), unsignedAtWidth(raw, bits));
    }
}

}  // namespace

std::string NSString::stringWithFormatArgs(std::string_view f, const FormatArg* args, std::size_t count) {
    std::string out;
    out.reserve(f.size() + 16 * count);
    std::size_t nextArg = 0;
    auto argAt = [&](std::size_t index) -> const FormatArg* {
        return index < count ? &args[index] : nullptr;
    };
    // An argument given by position ("2$") or the next one in order.
    auto takeArg = [&](long position) -> const FormatArg* {
        if (position > 0) return argAt(static_cast<std::size_t>(position - 1));
        return argAt(nextArg++);
    };

    std::size_t i = 0;
    while (i < f.size()) {
        if (f[i] != '%') {
            std::size_t next = f.find('%', i);
            if (next == std::string_view::npos) next = f.size();
            out.append(f.substr(i, next - i));
            i = next;
            continue;
        }
        const std::size_t start = i++;
        if (i >= f.size()) {
            out.push_back('%');  // a lone "%" at the end stays as written
            break;
        }
        if (f[i] == '%') {
            out.push_back('%');
            ++i;
            continue;
        }

        FieldFormat field;
        long position = 0;
        // Positional argument: digits followed by "$".
        {
            std::size_t j = i;
            int n = readNumber(f, j);
            if (j > i && j < f.size() && f[j] == '$' && n > 0) {
                position = n;
                i = j + 1;
            }
        }
        // Flags.
        for (; i < f.size(); ++i) {
            char c = f[i];
            if (c == '-') {
                field.minus = true;
            } else if (c == '+') {
                field.plus = true;
            } else if (c == ' ') {
                field.space = true;
            } else if (c == '#') {
                field.alt = true;
            } else if (c == '0') {
                field.zero = true;
            } else if (c != '\'') {
                break;
            }
        }
        // Width: digits, "*" or "*n$".
        auto starValue = [&](std::size_t& j) -> std::optional<long long> {
            ++j;  // the "*"
            std::size_t k = j;
            int n = readNumber(f, k);
            const FormatArg* a;
            if (k > j && k < f.size() && f[k] == '$' && n > 0) {
                a = argAt(static_cast<std::size_t>(n - 1));
                j = k + 1;
            } else {
                a = argAt(nextArg++);
            }
            if (!a) return std::nullopt;
            return a->signedValue();
        };
        if (i < f.size() && f[i] == '*') {
            auto w = starValue(i);
            if (w) {
                long long v = *w;
                if (v < 0) {
                    field.minus = true;
                    v = v == LLONG_MIN ? LLONG_MAX : -v;
                }
                field.width = static_cast<int>(std::min<long long>(v, kMaxFieldWidth));
            }
        } else if (i < f.size() && f[i] >= '1' && f[i] <= '9') {
            field.width = std::min(readNumber(f, i), kMaxFieldWidth);
        }
        // Precision.
        if (i < f.size() && f[i] == '.') {
            ++i;
            if (i < f.size() && f[i] == '*') {
                auto p = starValue(i);
                if (p && *p >= 0) field.precision = static_cast<int>(std::min<long long>(*p, kMaxFieldWidth));
            } else {
                field.precision = std::min(readNumber(f, i), kMaxFieldWidth);
            }
        }
        // Length modifier.
        if (i < f.size()) {
            switch (f[i]) {
                case 'h':
                    if (i + 1 < f.size() && f[i + 1] == 'h') {
                        field.lengthBits = 8;
                        i += 2;
                    } else {
                        field.lengthBits = 16;
                        ++i;
                    }
                    break;
                case 'l':
                    field.lengthBits = 64;
                    i += (i + 1 < f.size() && f[i + 1] == 'l') ? 2 : 1;
                    break;
                case 'q':
                case 'z':
                case 't':
                case 'j':
                    field.lengthBits = 64;
                    ++i;
                    break;
                case 'L':
                    ++i;
                    break;
                default:
                    break;
            }
        }
        if (i >= f.size()) {
            out.append(f.substr(start));  // an unfinished conversion stays as written
            break;
        }
        const char conversion = f[i++];
        switch (conversion) {
            case 'd':
            case 'i':
            case 'u':
            case 'o':
            case 'x':
            case 'X': {
                if (const FormatArg* a = takeArg(position)) formatInteger(out, field, *a, conversion);
                break;
            }
            case 'D':
            case 'U':
            case 'O': {
                // The old long forms.
                FieldFormat longField = field;
                longField.lengthBits = 64;
                char c = conversion == 'D' ? 'd' : conversion == 'U' ? 'u' : 'o';
                if (const FormatArg* a = takeArg(position)) formatInteger(out, longField, *a, c);
                break;
            }
            case 'f':
            case 'F':
            case 'e':
            case 'E':
            case 'g':
            case 'G':
            case 'a':
            case 'A': {
                if (const FormatArg* a = takeArg(position)) {
                    appendPrintf(out, printfPattern(field, "", conversion), a->realValue());
                }
                break;
            }
            case 'c':
            case 'C': {
                if (const FormatArg* a = takeArg(position)) {
                    char32_t c = a->character();
                    appendPadded(out, c ? stringWithCodePoint(c) : std::string(), field);
                }
                break;
            }
            case 's':
            case 'S':
            case '@': {
                if (const FormatArg* a = takeArg(position)) {
                    std::string text = conversion == '@' ? a->description() : a->text();
                    if (field.precision >= 0)
                        text = truncateUnits(text, static_cast<std::size_t>(field.precision));
                    appendPadded(out, text, field);
                }
                break;
            }
            case 'p': {
                if (const FormatArg* a = takeArg(position))
                    appendPadded(out, hexPointer(a->pointer()), field);
                break;
            }
            case 'n':
                takeArg(position);
                break;  // never writes through a pointer
            default:
                // Not a conversion: the text stays as written.
                out.append(f.substr(start, i - start));
                break;
        }
    }
    return out;
}
