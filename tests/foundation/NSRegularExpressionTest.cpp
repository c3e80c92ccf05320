#include "foundation/NSRegularExpression.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "foundation/NSLog.h"
#include "foundation/NSPredicate.h"
#include "foundation/NSString.h"
#include "tests/support/TestSupport.h"

namespace {

Ref<NSRegularExpression> regex(std::string_view pattern, NSRegularExpressionOptions options = 0) {
    Ref<NSError> error;
    auto r = NSRegularExpression::regularExpressionWithPattern(pattern, options, &error);
    EXPECT_TRUE(r) << pattern;
    EXPECT_FALSE(error);
    return r;
}

// Silences the log of predicates that do not parse, and counts the lines.
class QuietLog {
  public:
    QuietLog() {
        previous_ = NSLogSetSink([this](const std::string&) { ++lines; });
    }
    ~QuietLog() { NSLogSetSink(previous_); }
    int lines = 0;

  private:
    NSLogSink previous_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// NSRegularExpression

TEST(NSRegularExpression, MatchesWithUTF16Ranges) {
    auto r = regex("(\\d+)-(\\d+)?");
    std::string text = "\u4e2d\U0001F600 12-34 5-";
    auto matches = r->matchesInString(text);
    ASSERT_EQ(matches.size(), 2u);
    EXPECT_EQ(matches[0].range(), NSMakeRange(4, 5));
    EXPECT_EQ(matches[0].numberOfRanges(), 3u);
    EXPECT_EQ(matches[0].rangeAtIndex(1), NSMakeRange(4, 2));
    EXPECT_EQ(matches[0].rangeAtIndex(2), NSMakeRange(7, 2));
    EXPECT_EQ(matches[1].range(), NSMakeRange(10, 2));
    EXPECT_EQ(matches[1].rangeAtIndex(2).location, NSNotFound);  // the optional group took no part
    EXPECT_EQ(matches[1].rangeAtIndex(9).location, NSNotFound);
    EXPECT_EQ(NSString::substringWithRange(text, matches[0].rangeAtIndex(2)), "34");
    EXPECT_EQ(r->numberOfCaptureGroups(), 2u);
    EXPECT_EQ(r->numberOfMatchesInString(text), 2u);
    EXPECT_EQ(r->rangeOfFirstMatchInString(text), NSMakeRange(4, 5));
    EXPECT_EQ(r->rangeOfFirstMatchInString("none").location, NSNotFound);
    EXPECT_FALSE(r->firstMatchInString("none"));
}

TEST(NSRegularExpression, OptionsAndSearchRanges) {
    EXPECT_EQ(regex("abc", NSRegularExpressionCaseInsensitive)->numberOfMatchesInString("ABC abc"), 2u);
    EXPECT_EQ(regex("a.c")->numberOfMatchesInString("a\nc"), 0u);
    EXPECT_EQ(regex("a.c", NSRegularExpressionDotMatchesLineSeparators)->numberOfMatchesInString("a\nc"), 1u);
    EXPECT_EQ(regex("^x", NSRegularExpressionAnchorsMatchLines)->numberOfMatchesInString("x\nx"), 2u);
    EXPECT_EQ(regex("^x")->numberOfMatchesInString("x\nx"), 1u);
    EXPECT_EQ(regex("a.b", NSRegularExpressionIgnoreMetacharacters)->numberOfMatchesInString("a.b axb"), 1u);
    EXPECT_EQ(
        regex("a b # comment", NSRegularExpressionAllowCommentsAndWhitespace)->numberOfMatchesInString("ab"),
        1u);

    auto digits = regex("\\d");
    EXPECT_EQ(digits->numberOfMatchesInString("1a2b3", 0, NSMakeRange(1, 3)), 1u);
    EXPECT_EQ(digits->numberOfMatchesInString("1a2b3", 0, NSMakeRange(10, 3)), 0u);
    EXPECT_EQ(digits->numberOfMatchesInString("123a4", NSMatchingAnchored), 3u);
    EXPECT_EQ(digits->numberOfMatchesInString("a123", NSMatchingAnchored), 0u);
    // "^" matches at the start of the search range unless asked not to.
    auto start = regex("^b");
    EXPECT_EQ(start->numberOfMatchesInString("ab", 0, NSMakeRange(1, 1)), 1u);
    EXPECT_EQ(start->numberOfMatchesInString("ab", NSMatchingWithoutAnchoringBounds, NSMakeRange(1, 1)), 0u);
    // Look-behind sees outside the range only with transparent bounds.
    auto behind = regex("(?<=a)b");
    EXPECT_EQ(behind->numberOfMatchesInString("ab", 0, NSMakeRange(1, 1)), 0u);
    EXPECT_EQ(behind->numberOfMatchesInString("ab", NSMatchingWithTransparentBounds, NSMakeRange(1, 1)), 1u);
}

TEST(NSRegularExpression, EmptyMatchesAdvance) {
    auto r = regex("x*");
    EXPECT_EQ(r->numberOfMatchesInString("abc"), 4u);
    EXPECT_EQ(r->stringByReplacingMatchesInString("abc", 0, std::nullopt, "-"), "-a-b-c-");
    EXPECT_EQ(r->numberOfMatchesInString(""), 1u);
}

TEST(NSRegularExpression, Replacing) {
    auto r = regex("(\\w+)@(\\w+)");
    EXPECT_EQ(r->stringByReplacingMatchesInString("mail a@b and c@d", 0, std::nullopt, "$2 at $1"),
              "mail b at a and d at c");
    EXPECT_EQ(r->stringByReplacingMatchesInString("a@b", 0, std::nullopt, "\\$1 costs $$0 $0"),
              "$1 costs $a@b a@b");
    EXPECT_EQ(r->stringByReplacingMatchesInString("a@b", 0, std::nullopt, "$12"), "a2");  // group 1, then "2"
    EXPECT_EQ(r->stringByReplacingMatchesInString("a@b", 0, std::nullopt, "$9"), "");
    EXPECT_EQ(r->stringByReplacingMatchesInString("a@b c@d", 0, NSMakeRange(4, 3), "X"), "a@b X");
    EXPECT_EQ(r->stringByReplacingMatchesInString("\u4e2d a@b \U0001F600", 0, std::nullopt, "[$0]"),
              "\u4e2d [a@b] \U0001F600");

    auto first = r->firstMatchInString("x a@b");
    ASSERT_TRUE(first);
    EXPECT_EQ(r->replacementStringForResult(*first, "x a@b", 0, "<$2$1>"), "<ba>");
    EXPECT_EQ(r->replacementStringForResult(*first, "a@b", -2, "<$2$1>"), "<ba>");
    auto moved = first->resultByAdjustingRangesWithOffset(-2);
    EXPECT_EQ(moved.range(), NSMakeRange(0, 3));
}

TEST(NSRegularExpression, Enumeration) {
    auto r = regex("\\d");
    std::vector<NSRange> seen;
    int completions = 0;
    r->enumerateMatchesInString("1a2b3", NSMatchingReportCompletion, std::nullopt,
                                [&](const NSTextCheckingResult* result, NSMatchingFlags flags, bool& stop) {
                                    if (!result) {
                                        ++completions;
                                        EXPECT_TRUE(flags & NSMatchingCompleted);
                                        return;
                                    }
                                    seen.push_back(result->range());
                                    stop = seen.size() == 2;
                                });
    EXPECT_EQ(seen, (std::vector<NSRange>{NSMakeRange(0, 1), NSMakeRange(2, 1)}));
    EXPECT_EQ(completions, 0);  // stopped early

    seen.clear();
    r->enumerateMatchesInString("1a", NSMatchingReportCompletion, std::nullopt,
                                [&](const NSTextCheckingResult* result, NSMatchingFlags, bool&) {
                                    if (result)
                                        seen.push_back(result->range());
                                    else
                                        ++completions;
                                });
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_EQ(completions, 1);
    r->enumerateMatchesInString("1", 0, std::nullopt, {});
}

TEST(NSRegularExpression, BadPatternsGiveAnError) {
    for (const char* bad : {"(", "[a-", "a{2,1}", "*", "(?<name", "\\"}) {
        Ref<NSError> error;
        auto r = NSRegularExpression::regularExpressionWithPattern(bad, 0, &error);
        EXPECT_FALSE(r) << bad;
        ASSERT_TRUE(error) << bad;
        EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
        EXPECT_EQ(error->code(), NSFormattingError);
    }
    EXPECT_FALSE(NSRegularExpression::regularExpressionWithPattern("(", 0, nullptr));
}

TEST(NSRegularExpression, EscapingAndIdentity) {
    std::string special = "a.b*c(d)[e]{f}^$|?+\\/-";
    auto literal = regex(NSRegularExpression::escapedPatternForString(special));
    EXPECT_EQ(literal->rangeOfFirstMatchInString("x" + special + "x"), NSMakeRange(1, special.size()));
    EXPECT_EQ(NSRegularExpression::escapedTemplateForString("$1\\"), "\\$1\\\\");
    auto r = regex("ab", NSRegularExpressionCaseInsensitive);
    EXPECT_EQ(r->pattern(), "ab");
    EXPECT_EQ(r->options(), NSRegularExpressionCaseInsensitive);
    EXPECT_TRUE(r->isEqual(*regex("ab", NSRegularExpressionCaseInsensitive)));
    EXPECT_FALSE(r->isEqual(*regex("ab")));
    EXPECT_NE(r->description().find("ab"), std::string::npos);
    EXPECT_EQ(r->className(), "NSRegularExpression");
}

TEST(NSRegularExpression, UsableFromManyThreads) {
    auto r = regex("[0-9]+");
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int k = 0; k < 200; ++k) {
                if (r->numberOfMatchesInString("a1b22c333") != 3) ++wrong;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(NSRegularExpression, FuzzPatternsAndInput) {
    const std::string pattern = "^(\\d{3})-([a-z]+)(?:\\s*[\u4e2d\u6587]+)?$";
    const std::string input = "123-abc \u4e2d\u6587";
    for (unsigned k = 0; k < 1500; ++k) {
        std::string p = testsupport::mutate(pattern, k);
        Ref<NSError> error;
        auto r = NSRegularExpression::regularExpressionWithPattern(p, 0, &error);
        EXPECT_TRUE(static_cast<bool>(r) != static_cast<bool>(error));
        std::string s = testsupport::mutate(input, k);
        if (r) {
            for (const auto& m : r->matchesInString(s)) {
                EXPECT_LE(NSMaxRange(m.range()), NSString::length(s));
            }
            (void)r->stringByReplacingMatchesInString(s, 0, std::nullopt,
                                                      testsupport::mutate("$1<$2>\\$", k));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// NSPredicate

TEST(NSPredicate, SelfMatchesPhoneNumbers) {
    auto phone = NSPredicate::predicateWithFormat("SELF MATCHES %@", "^[0-9]{11}$");
    ASSERT_TRUE(phone);
    EXPECT_TRUE(phone->evaluateWithObject(Value("13800138000")));
    EXPECT_FALSE(phone->evaluateWithObject(Value("1380013800")));
    EXPECT_FALSE(phone->evaluateWithObject(Value("138001380001")));
    EXPECT_FALSE(phone->evaluateWithObject(Value("1380013800a")));
    EXPECT_FALSE(phone->evaluateWithObject(Value("")));
    EXPECT_FALSE(phone->evaluateWithObject(Value(13800138000LL)));  // not text
    EXPECT_FALSE(phone->evaluateWithObject(Value()));

    // A mobile-prefix pattern: the whole text must match, not a part of it.
    auto mobile = NSPredicate::predicateWithFormat("SELF MATCHES %@", "1(3[0-9]|5[0-35-9]|8[0-9])\\d{8}");
    ASSERT_TRUE(mobile);
    EXPECT_TRUE(mobile->evaluateWithObject(Value("13912345678")));
    EXPECT_FALSE(mobile->evaluateWithObject(Value("15412345678")));
    EXPECT_FALSE(mobile->evaluateWithObject(Value("x13912345678")));
    EXPECT_FALSE(mobile->evaluateWithObject(Value("139123456789")));
    // Alternatives are tried until the whole text matches.
    EXPECT_TRUE(NSPredicate::predicateWithFormat("SELF MATCHES 'a|ab'")->evaluateWithObject(Value("ab")));
}

TEST(NSPredicate, StringOperatorsAndModifiers) {
    Value name("Caf\u00e9 Racer");
    auto check = [&](const char* format) {
        auto p = NSPredicate::predicateWithFormat(format);
        EXPECT_TRUE(p) << format;
        return p && p->evaluateWithObject(name);
    };
    EXPECT_TRUE(check("SELF CONTAINS 'Racer'"));
    EXPECT_FALSE(check("SELF CONTAINS 'racer'"));
    EXPECT_TRUE(check("SELF CONTAINS[c] 'racer'"));
    EXPECT_TRUE(check("SELF BEGINSWITH[cd] 'cafe'"));
    EXPECT_FALSE(check("SELF BEGINSWITH 'cafe'"));
    EXPECT_TRUE(check("SELF ENDSWITH \"Racer\""));
    EXPECT_FALSE(check("SELF ENDSWITH 'Caf'"));
    EXPECT_TRUE(check("SELF LIKE 'Caf? R*'"));
    EXPECT_FALSE(check("SELF LIKE 'Caf?'"));
    EXPECT_TRUE(check("SELF LIKE[c] 'caf? r*r'"));
    EXPECT_TRUE(check("SELF MATCHES[c] 'caf. racer'"));
    EXPECT_TRUE(check("SELF ==[cd] 'cafe racer'"));
    EXPECT_TRUE(check("SELF != 'x'"));
    EXPECT_TRUE(check("self contains 'Caf' and not (SELF contains 'Bike') or FALSEPREDICATE"));
    EXPECT_TRUE(check("SELF CONTAINS 'x' || SELF CONTAINS 'R'"));
    EXPECT_FALSE(check("SELF CONTAINS 'x' && SELF CONTAINS 'R'"));
}

TEST(NSPredicate, ComparisonsAndKeyPaths) {
    Dictionary asset{
        {"type", Value("video")}, {"duration", Value(12.5)}, {"meta", Value(Dictionary{{"w", Value(640)}})}};
    Value object(asset);
    auto p = NSPredicate::predicateWithFormat("type == 'video' AND duration <= %@", Value(15));
    ASSERT_TRUE(p);
    EXPECT_TRUE(p->evaluateWithObject(object));
    EXPECT_FALSE(NSPredicate::predicateWithFormat("duration > 20")->evaluateWithObject(object));
    EXPECT_TRUE(NSPredicate::predicateWithFormat("meta.w >= 640")->evaluateWithObject(object));
    EXPECT_TRUE(NSPredicate::predicateWithFormat("SELF.meta.w = 640")->evaluateWithObject(object));
    EXPECT_TRUE(NSPredicate::predicateWithFormat("%K == 'video'", "type")->evaluateWithObject(object));
    EXPECT_TRUE(NSPredicate::predicateWithFormat("missing == nil")->evaluateWithObject(object));
    EXPECT_FALSE(NSPredicate::predicateWithFormat("missing > 1")->evaluateWithObject(object));
    EXPECT_TRUE(NSPredicate::predicateWithFormat("SELF > 2.5")->evaluateWithObject(Value(3)));
    EXPECT_TRUE(NSPredicate::predicateWithFormat("SELF < 'b'")->evaluateWithObject(Value("a")));
    EXPECT_FALSE(NSPredicate::predicateWithFormat("SELF < 'b'")->evaluateWithObject(Value(1)));
    EXPECT_TRUE(NSPredicate::predicateWithFormat("SELF == -3")->evaluateWithObject(Value(-3)));
    EXPECT_TRUE(NSPredicate::predicateWithFormat("SELF == YES")->evaluateWithObject(Value(true)));
    EXPECT_FALSE(NSPredicate::predicateWithFormat("SELF == '5'")->evaluateWithObject(Value(5)));
    Array tags{Value("a"), Value("b")};
    EXPECT_TRUE(NSPredicate::predicateWithFormat("SELF CONTAINS 'b'")->evaluateWithObject(Value(tags)));

    Array numbers{Value(1), Value(5), Value(10)};
    Array kept = NSPredicate::predicateWithFormat("SELF >= %d", 5)->filteredArrayUsingPredicate(numbers);
    EXPECT_EQ(kept, (Array{Value(5), Value(10)}));
}

TEST(NSPredicate, ValueAndBlockPredicates) {
    auto yes = NSPredicate::predicateWithValue(true);
    EXPECT_TRUE(yes->evaluateWithObject(Value()));
    EXPECT_EQ(yes->predicateFormat(), "TRUEPREDICATE");
    EXPECT_FALSE(NSPredicate::predicateWithValue(false)->evaluateWithObject(Value(1)));
    EXPECT_TRUE(NSPredicate::predicateWithFormat("TRUEPREDICATE")->evaluateWithObject(Value()));

    auto shortVideo = NSPredicate::predicateWithBlock(
        [](const Value& object, const Dictionary&) { return object["duration"].doubleValue() < 10; });
    EXPECT_TRUE(shortVideo->evaluateWithObject(Value(Dictionary{{"duration", Value(3)}})));
    EXPECT_FALSE(shortVideo->evaluateWithObject(Value(Dictionary{{"duration", Value(30)}})));
    EXPECT_FALSE(NSPredicate::predicateWithBlock(nullptr)->evaluateWithObject(Value()));
    EXPECT_EQ(NSPredicate::predicateWithFormat("SELF == 1")->predicateFormat(), "SELF == 1");
}

TEST(NSPredicate, BadFormatsGiveNil) {
    QuietLog log;
    for (const char* bad :
         {"", "SELF", "SELF MATCHES", "SELF MATCHES %@", "SELF FOO 'x'", "(SELF == 1", "SELF == 1)",
          "SELF == 'open", "SELF ==[q] 'x'", "SELF == 1 AND", "%", "SELF == %z", "AND OR"}) {
        EXPECT_FALSE(NSPredicate::predicateWithFormat(bad)) << bad;
    }
    EXPECT_GE(log.lines, 13);
    // A pattern that does not compile makes the comparison false rather than fail.
    auto broken = NSPredicate::predicateWithFormat("SELF MATCHES %@", "(");
    ASSERT_TRUE(broken);
    EXPECT_FALSE(broken->evaluateWithObject(Value("(")));
}

TEST(NSPredicate, FuzzFormats) {
    QuietLog log;
    const std::string seed = "(SELF MATCHES[c] %@ OR name BEGINSWITH 'x') AND NOT count > 3.5 && a.b != nil";
    std::string deep(300, '(');
    EXPECT_FALSE(NSPredicate::predicateWithFormat(deep + "SELF == 1" + std::string(300, ')')));
    for (unsigned k = 0; k < 3000; ++k) {
        std::string f = testsupport::mutate(seed, k);
        auto p = NSPredicate::predicateWithFormat(f, "^a.*");
        if (p) {
            (void)p->evaluateWithObject(Value("abc"));
            (void)p->evaluateWithObject(Value(Dictionary{{"name", Value("xy")}, {"count", Value(2)}}));
        }
    }
}
