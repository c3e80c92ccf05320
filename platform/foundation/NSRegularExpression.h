#pragma once
// Regular expressions over strings, in ICU's pattern syntax (the platform's). Matches report
// ranges in UTF-16 units, like every string range. A compiled expression is immutable and may be
// used from any thread at once; each search runs its own matcher.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/NSRange.h"

using NSRegularExpressionOptions = unsigned long;
inline constexpr NSRegularExpressionOptions NSRegularExpressionCaseInsensitive = 1UL << 0;
inline constexpr NSRegularExpressionOptions NSRegularExpressionAllowCommentsAndWhitespace = 1UL << 1;
inline constexpr NSRegularExpressionOptions NSRegularExpressionIgnoreMetacharacters = 1UL << 2;
inline constexpr NSRegularExpressionOptions NSRegularExpressionDotMatchesLineSeparators = 1UL << 3;
inline constexpr NSRegularExpressionOptions NSRegularExpressionAnchorsMatchLines = 1UL << 4;
inline constexpr NSRegularExpressionOptions NSRegularExpressionUseUnixLineSeparators = 1UL << 5;
inline constexpr NSRegularExpressionOptions NSRegularExpressionUseUnicodeWordBoundaries = 1UL << 6;

using NSMatchingOptions = unsigned long;
inline constexpr NSMatchingOptions NSMatchingReportProgress = 1UL << 0;
inline constexpr NSMatchingOptions NSMatchingReportCompletion = 1UL << 1;
// Matches must start at the start of the search range, each right after the one before.
inline constexpr NSMatchingOptions NSMatchingAnchored = 1UL << 2;
// Look-behind, look-ahead and word boundaries may see text outside the search range.
inline constexpr NSMatchingOptions NSMatchingWithTransparentBounds = 1UL << 3;
// "^" and "$" do not match at the edges of the search range (only at those of the text).
inline constexpr NSMatchingOptions NSMatchingWithoutAnchoringBounds = 1UL << 4;

using NSMatchingFlags = unsigned long;
inline constexpr NSMatchingFlags NSMatchingProgress = 1UL << 0;
inline constexpr NSMatchingFlags NSMatchingCompleted = 1UL << 1;
inline constexpr NSMatchingFlags NSMatchingHitEnd = 1UL << 2;
inline constexpr NSMatchingFlags NSMatchingRequiredEnd = 1UL << 3;
inline constexpr NSMatchingFlags NSMatchingInternalError = 1UL << 4;

// The error code of a pattern that does not compile (domain NSCocoaErrorDomain).
inline constexpr long NSFormattingError = 2048;

// One match: the whole match first, then one range per capture group ({NSNotFound, 0} for a
// group that took no part).
class NSTextCheckingResult {
  public:
    NSTextCheckingResult() = default;
    explicit NSTextCheckingResult(std::vector<NSRange> ranges) : ranges_(std::move(ranges)) {}

    NSRange range() const { return rangeAtIndex(0); }
    // {NSNotFound, 0} beyond the last group.
    NSRange rangeAtIndex(std::size_t index) const;
    std::size_t numberOfRanges() const { return ranges_.size(); }
    // The result with every range moved by offset (which may be negative).
    NSTextCheckingResult resultByAdjustingRangesWithOffset(long offset) const;

    bool operator==(const NSTextCheckingResult& other) const = default;

  private:
    std::vector<NSRange> ranges_;
};

namespace detail {
struct RegexPattern;
}

class NSRegularExpression : public NSObject {
  public:
    // nullptr, with an error (NSCocoaErrorDomain, NSFormattingError) in the slot, when the
    // pattern does not compile.
    static Ref<NSRegularExpression> regularExpressionWithPattern(std::string_view pattern,
                                                                 NSRegularExpressionOptions options = 0,
                                                                 Ref<NSError>* error = nullptr);

    // For make<>; use regularExpressionWithPattern.
    explicit NSRegularExpression(std::shared_ptr<const detail::RegexPattern> compiled);
    ~NSRegularExpression() override;

    const std::string& pattern() const;
    NSRegularExpressionOptions options() const;
    std::size_t numberOfCaptureGroups() const;

    // The search range defaults to the whole string and is clipped to it.
    std::vector<NSTextCheckingResult> matchesInString(std::string_view string, NSMatchingOptions options = 0,
                                                      std::optional<NSRange> range = std::nullopt) const;
    std::size_t numberOfMatchesInString(std::string_view string, NSMatchingOptions options = 0,
                                        std::optional<NSRange> range = std::nullopt) const;
    std::optional<NSTextCheckingResult> firstMatchInString(std::string_view string,
                                                           NSMatchingOptions options = 0,
                                                           std::optional<NSRange> range = std::nullopt) const;
    // {NSNotFound, 0} when nothing matches.
    NSRange rangeOfFirstMatchInString(std::string_view string, NSMatchingOptions options = 0,
                                      std::optional<NSRange> range = std::nullopt) const;

    // Calls the block for each match in order; setting stop ends the walk. With
    // NSMatchingReportCompletion the block is called once more at the end with no result and
    // NSMatchingCompleted.
    using MatchBlock =
        std::function<void(const NSTextCheckingResult* result, NSMatchingFlags flags, bool& stop)>;
    void enumerateMatchesInString(std::string_view string, NSMatchingOptions options,
                                  std::optional<NSRange> range, const MatchBlock& block) const;

    // Replaces each match with the template, where "$0"–"$n" stand for the groups and a
    // backslash takes the next character literally.
    std::string stringByReplacingMatchesInString(std::string_view string, NSMatchingOptions options,
                                                 std::optional<NSRange> range, std::string_view templ) const;
    // The template filled in for one result of a search of string (offset moves its ranges).
    std::string replacementStringForResult(const NSTextCheckingResult& result, std::string_view string,
                                           long offset, std::string_view templ) const;

    // The string with every pattern (or template) metacharacter escaped.
    static std::string escapedPatternForString(std::string_view string);
    static std::string escapedTemplateForString(std::string_view string);

    std::string className() const override { return "NSRegularExpression"; }
    std::string description() const override;
    bool isEqual(const NSObject& other) const override;
    std::size_t hash() const override;

  private:
    std::shared_ptr<const detail::RegexPattern> compiled_;
};
