#include "foundation/NSRegularExpression.h"

#include <unicode/parseerr.h>
#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "foundation/NSString.h"

namespace detail {
struct RegexPattern {
    std::string source;
    NSRegularExpressionOptions options = 0;
    std::unique_ptr<icu::RegexPattern> compiled;
    std::size_t groups = 0;
};
}  // namespace detail

namespace {

NSRange clipTo(std::optional<NSRange> range, std::size_t length) {
    NSRange r = range.value_or(NSMakeRange(0, length));
    std::size_t location = std::min(r.location, length);
    return NSMakeRange(location, std::min(r.length, length - location));
}

uint32_t icuFlags(NSRegularExpressionOptions options) {
    uint32_t flags = 0;
    if (options & NSRegularExpressionCaseInsensitive) flags |= UREGEX_CASE_INSENSITIVE;
    if (options & NSRegularExpressionAllowCommentsAndWhitespace) flags |= UREGEX_COMMENTS;
    if (options & NSRegularExpressionIgnoreMetacharacters) flags |= UREGEX_LITERAL;
    if (options & NSRegularExpressionDotMatchesLineSeparators) flags |= UREGEX_DOTALL;
    if (options & NSRegularExpressionAnchorsMatchLines) flags |= UREGEX_MULTILINE;
    if (options & NSRegularExpressionUseUnixLineSeparators) flags |= UREGEX_UNIX_LINES;
    if (options & NSRegularExpressionUseUnicodeWordBoundaries) flags |= UREGEX_UWORD;
    return flags;
}

// Runs the search, calling `each` for every match until it answers false. Answers whether the
// last search hit the end of the input.
bool runMatches(const detail::RegexPattern& p, const std::u16string& u, NSMatchingOptions options, NSRange r,
                const std::function<bool(const NSTextCheckingResult&)>& each) {
    // ICU's look-behind reaches before a region even with opaque bounds, so the usual case
    // (opaque, anchoring bounds) searches a copy of the range; the others search the whole text
    // within a region.
    const bool transparent = options & NSMatchingWithTransparentBounds;
    const bool anchoring = !(options & NSMatchingWithoutAnchoringBounds);
    const bool searchCopy = !transparent && anchoring && (r.location > 0 || r.length < u.size());
    std::u16string copy;
    std::size_t base = 0;
    if (searchCopy) {
        copy = u.substr(r.location, r.length);
        base = r.location;
    }
    const std::u16string& source = searchCopy ? copy : u;
    icu::UnicodeString text(false, source.data(), static_cast<int32_t>(source.size()));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> m(p.compiled->matcher(text, status));
    if (U_FAILURE(status) || !m) return false;
    if (!searchCopy) {
        m->region(static_cast<int64_t>(r.location), static_cast<int64_t>(NSMaxRange(r)), status);
        m->useTransparentBounds(transparent);
        m->useAnchoringBounds(anchoring);
    }
    if (U_FAILURE(status)) return false;
    const bool anchored = options & NSMatchingAnchored;
    int64_t expected = static_cast<int64_t>(r.location - base);
    while (m->find()) {
        status = U_ZERO_ERROR;
        int64_t start = m->start64(status);
        if (U_FAILURE(status)) break;
        if (anchored && start != expected) break;
        std::vector<NSRange> ranges;
        ranges.reserve(p.groups + 1);
        for (std::size_t g = 0; g <= p.groups; ++g) {
            int64_t s = m->start64(static_cast<int32_t>(g), status);
            int64_t e = m->end64(static_cast<int32_t>(g), status);
            if (U_FAILURE(status) || s < 0 || e < s) {
                ranges.push_back(NSMakeRange(NSNotFound, 0));
                status = U_ZERO_ERROR;
            } else {
                ranges.push_back(
                    NSMakeRange(base + static_cast<std::size_t>(s), static_cast<std::size_t>(e - s)));
            }
        }
        expected = static_cast<int64_t>(NSMaxRange(ranges[0]) - base);
        if (!each(NSTextCheckingResult(std::move(ranges)))) return m->hitEnd();
    }
    return m->hitEnd();
}

// Appends units of u (in UTF-16) for a range, when the range lies inside it.
void appendRange(std::u16string& out, const std::u16string& u, NSRange range) {
    if (range.location == NSNotFound || range.location > u.size()) return;
    out.append(u, range.location, std::min(range.length, u.size() - range.location));
}

// Expands a replacement template for one match.
std::u16string expandTemplate(const std::u16string& templ, const std::u16string& u,
                              const NSTextCheckingResult& result, long offset, std::size_t groups) {
    std::u16string out;
    for (std::size_t i = 0; i < templ.size(); ++i) {
        char16_t c = templ[i];
        if (c == u'\\' && i + 1 < templ.size()) {
            out.push_back(templ[++i]);
            continue;
        }
        if (c == u'$' && i + 1 < templ.size() && templ[i + 1] >= u'0' && templ[i + 1] <= u'9') {
            std::size_t group = static_cast<std::size_t>(templ[++i] - u'0');
            // Further digits belong to the number while it still names a group.
            while (i + 1 < templ.size() && templ[i + 1] >= u'0' && templ[i + 1] <= u'9') {
                std::size_t longer = group * 10 + static_cast<std::size_t>(templ[i + 1] - u'0');
                if (longer > groups) break;
                group = longer;
                ++i;
            }
            if (group <= groups) {
                NSRange r = result.rangeAtIndex(group);
                if (r.location != NSNotFound) {
                    long moved = static_cast<long>(r.location) + offset;
                    if (moved >= 0)
                        appendRange(out, u, NSMakeRange(static_cast<std::size_t>(moved), r.length));
                }
            }
            continue;
        }
        out.push_back(c);
    }
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

NSRange NSTextCheckingResult::rangeAtIndex(std::size_t index) const {
    return index < ranges_.size() ? ranges_[index] : NSMakeRange(NSNotFound, 0);
}

NSTextCheckingResult NSTextCheckingResult::resultByAdjustingRangesWithOffset(long offset) const {
    std::vector<NSRange> moved = ranges_;
    for (NSRange& r : moved) {
        if (r.location == NSNotFound) continue;
        long location = static_cast<long>(r.location) + offset;
        r.location = location < 0 ? 0 : static_cast<std::size_t>(location);
    }
    return NSTextCheckingResult(std::move(moved));
}

// ---------------------------------------------------------------------------------------------

Ref<NSRegularExpression> NSRegularExpression::regularExpressionWithPattern(std::string_view pattern,
                                                                           NSRegularExpressionOptions options,
                                                                           Ref<NSError>* error) {
    auto p = std::make_shared<detail::RegexPattern>();
    p->source = std::string(pattern);
    p->options = options;
    std::u16string u = NSString::utf16(pattern);
    UParseError parseError{};
    UErrorCode status = U_ZERO_ERROR;
    p->compiled.reset(icu::RegexPattern::compile(icu::UnicodeString(u.data(), static_cast<int32_t>(u.size())),
                                                 icuFlags(options), parseError, status));
    if (U_FAILURE(status) || !p->compiled) {
        Dictionary info = Dictionary::mutableDictionary();
        info.setObject("NSInvalidValue", Value(std::string(pattern)));
        info.setObject(NSLocalizedDescriptionKey,
                       Value("The value \u201c" + std::string(pattern) + "\u201d is invalid."));
        setError(error, NSError::errorWithDomain(NSCocoaErrorDomain, NSFormattingError, info));
        return nullptr;
    }
    {
        // The group count is known to a matcher only.
        icu::UnicodeString empty;
        std::unique_ptr<icu::RegexMatcher> m(p->compiled->matcher(empty, status));
        p->groups = m && U_SUCCESS(status) ? static_cast<std::size_t>(std::max(0, m->groupCount())) : 0;
    }
    return make<NSRegularExpression>(std::move(p));
}

NSRegularExpression::NSRegularExpression(std::shared_ptr<const detail::RegexPattern> compiled)
    : compiled_(std::move(compiled)) {}

NSRegularExpression::~NSRegularExpression() = default;

const std::string& NSRegularExpression::pattern() const {
    return compiled_->source;
}
NSRegularExpressionOptions NSRegularExpression::options() const {
    return compiled_->options;
}
std::size_t NSRegularExpression::numberOfCaptureGroups() const {
    return compiled_->groups;
}

std::vector<NSTextCheckingResult> NSRegularExpression::matchesInString(std::string_view string,
                                                                       NSMatchingOptions options,
                                                                       std::optional<NSRange> range) const {
    std::vector<NSTextCheckingResult> results;
    std::u16string u = NSString::utf16(string);
    runMatches(*compiled_, u, options, clipTo(range, u.size()), [&](const NSTextCheckingResult& r) {
        results.push_back(r);
        return true;
    });
    return results;
}

std::size_t NSRegularExpression::numberOfMatchesInString(std::string_view string, NSMatchingOptions options,
                                                         std::optional<NSRange> range) const {
    std::size_t count = 0;
    std::u16string u = NSString::utf16(string);
    runMatches(*compiled_, u, options, clipTo(range, u.size()), [&](const NSTextCheckingResult&) {
        ++count;
        return true;
    });
    return count;
}

std::optional<NSTextCheckingResult>
NSRegularExpression::firstMatchInString(std::string_view string, NSMatchingOptions options,
                                        std::optional<NSRange> range) const {
    std::optional<NSTextCheckingResult> first;
    std::u16string u = NSString::utf16(string);
    runMatches(*compiled_, u, options, clipTo(range, u.size()), [&](const NSTextCheckingResult& r) {
        first = r;
        return false;
    });
    return first;
}

NSRange NSRegularExpression::rangeOfFirstMatchInString(std::string_view string, NSMatchingOptions options,
                                                       std::optional<NSRange> range) const {
    auto first = firstMatchInString(string, options, range);
    return first ? first->range() : NSMakeRange(NSNotFound, 0);
}

void NSRegularExpression::enumerateMatchesInString(std::string_view string, NSMatchingOptions options,
                                                   std::optional<NSRange> range,
                                                   const MatchBlock& block) const {
    if (!block) return;
    std::u16string u = NSString::utf16(string);
    bool stop = false;
    bool hitEnd =
        runMatches(*compiled_, u, options, clipTo(range, u.size()), [&](const NSTextCheckingResult& r) {
            block(&r, 0, stop);
            return !stop;
        });
    if (!stop && (options & NSMatchingReportCompletion)) {
        block(nullptr, NSMatchingCompleted | (hitEnd ? NSMatchingHitEnd : 0), stop);
    }
}

std::string NSRegularExpression::stringByReplacingMatchesInString(std::string_view string,
                                                                  NSMatchingOptions options,
                                                                  std::optional<NSRange> range,
                                                                  std::string_view templ) const {
    std::u16string u = NSString::utf16(string);
    std::u16string t = NSString::utf16(templ);
    std::u16string out;
    out.reserve(u.size());
    std::size_t pos = 0;
    runMatches(*compiled_, u, options, clipTo(range, u.size()), [&](const NSTextCheckingResult& r) {
        NSRange whole = r.range();
        out.append(u, pos, whole.location - pos);
        out += expandTemplate(t, u, r, 0, compiled_->groups);
        pos = NSMaxRange(whole);
        return true;
    });
    out.append(u, pos, std::u16string::npos);
    return NSString::fromUTF16(out);
}

std::string NSRegularExpression::replacementStringForResult(const NSTextCheckingResult& result,
                                                            std::string_view string, long offset,
                                                            std::string_view templ) const {
    std::u16string u = NSString::utf16(string);
    return NSString::fromUTF16(expandTemplate(NSString::utf16(templ), u, result, offset, compiled_->groups));
}

std::string NSRegularExpression::escapedPatternForString(std::string_view string) {
    std::string out;
    out.reserve(string.size() + 8);
    for (char c : string) {
        if (std::string_view("\\*?+[](){}^$|./-").find(c) != std::string_view::npos) out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

std::string NSRegularExpression::escapedTemplateForString(std::string_view string) {
    std::string out;
    out.reserve(string.size() + 4);
    for (char c : string) {
        if (c == '\\' || c == '$') out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

std::string NSRegularExpression::description() const {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "<NSRegularExpression: %p> ", static_cast<const void*>(this));
    char options[32];
    std::snprintf(options, sizeof options, " 0x%lx", compiled_->options);
    return buffer + compiled_->source + options;
}

bool NSRegularExpression::isEqual(const NSObject& other) const {
    auto o = dynamic_cast<const NSRegularExpression*>(&other);
    return o && o->pattern() == pattern() && o->options() == options();
}

std::size_t NSRegularExpression::hash() const {
    return std::hash<std::string>()(compiled_->source) ^ compiled_->options;
}
