#include "foundation/NSString.h"
#include "foundation/NSPathUtilities.h"
#include "foundation/NSSandbox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cmath>
#include <thread>

#include "tests/support/TestSupport.h"

namespace {

// Text with every kind of unit: ASCII, two-byte, three-byte (CJK) and four-byte (emoji).
const std::string kMixed = "a\u00e9\u4e2d\U0001F600z";

std::string lone(char16_t unit) {
    return NSString::fromUTF16(std::u16string(1, unit));
}

// The emoji refusal rule the text-entry screens apply to each composed character sequence.
bool sequenceIsEmoji(const std::string& s, NSRange r) {
    unichar hs = NSString::characterAtIndex(s, r.location);
    if (hs >= 0xD800 && hs <= 0xDBFF) {
        if (r.length < 2) return false;
        unichar ls = NSString::characterAtIndex(s, r.location + 1);
        char32_t cp = ((hs - 0xD800) * 0x400) + (ls - 0xDC00) + 0x10000;
        return cp >= 0x1D000 && cp <= 0x1F77F;
    }
    if (r.length >= 2) return NSString::characterAtIndex(s, r.location + 1) == 0x20E3;
    return (hs >= 0x2100 && hs <= 0x27FF) || (hs >= 0x2B05 && hs <= 0x2B07) ||
           (hs >= 0x2934 && hs <= 0x2935) || (hs >= 0x3297 && hs <= 0x3299) || hs == 0xA9 || hs == 0xAE ||
           hs == 0x303D || hs == 0x3030 || hs == 0x2B55 || hs == 0x2B1C || hs == 0x2B1B || hs == 0x2B50;
}

bool containsEmoji(const std::string& s) {
    bool found = false;
    NSString::enumerateSubstringsInRange(s, NSMakeRange(0, NSString::length(s)),
                                         NSStringEnumerationByComposedCharacterSequences,
                                         [&](const std::optional<std::string>&, NSRange r, NSRange, bool&) {
                                             found = found || sequenceIsEmoji(s, r);
                                         });
    return found;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// UTF-16 view

TEST(NSStringUnits, LengthCountsUTF16Units) {
    EXPECT_EQ(NSString::length(""), 0u);
    EXPECT_EQ(NSString::length("abc"), 3u);
    EXPECT_EQ(NSString::length("\u00e9"), 1u);
    EXPECT_EQ(NSString::length("\u4e2d\u56fd"), 2u);
    EXPECT_EQ(NSString::length("\U0001F600"), 2u);
    EXPECT_EQ(NSString::length(kMixed), 6u);
}

TEST(NSStringUnits, CharacterAtIndexGivesSurrogateHalves) {
    EXPECT_EQ(NSString::characterAtIndex(kMixed, 0), u'a');
    EXPECT_EQ(NSString::characterAtIndex(kMixed, 1), 0xE9);
    EXPECT_EQ(NSString::characterAtIndex(kMixed, 2), 0x4E2D);
    EXPECT_EQ(NSString::characterAtIndex(kMixed, 3), 0xD83D);
    EXPECT_EQ(NSString::characterAtIndex(kMixed, 4), 0xDE00);
    EXPECT_EQ(NSString::characterAtIndex(kMixed, 5), u'z');
    EXPECT_EQ(NSString::characterAtIndex(kMixed, 6), 0);
    EXPECT_EQ(NSString::characterAtIndex(kMixed, NSNotFound), 0);
}

TEST(NSStringUnits, RoundTripThroughUTF16) {
    EXPECT_EQ(NSString::fromUTF16(NSString::utf16(kMixed)), kMixed);
    EXPECT_EQ(NSString::utf16(kMixed), u"a\u00e9\u4e2d\U0001F600z");
    unichar chars[] = {0x48, 0x69};
    EXPECT_EQ(NSString::stringWithCharacters(chars, 2), "Hi");
    EXPECT_EQ(NSString::stringWithCharacters(nullptr, 5), "");
    EXPECT_EQ(NSString::stringWithCodePoint(0x1F600), "\U0001F600");
    EXPECT_EQ(NSString::stringWithCodePoint(0x110000), "\uFFFD");
}

TEST(NSStringUnits, InvalidBytesReadAsReplacementCharacters) {
    std::string bad = "a\xff\xc3(b\xe4\xb8";
    // a, FFFD, FFFD, (, b, FFFD, FFFD
    EXPECT_EQ(NSString::length(bad), 7u);
    EXPECT_EQ(NSString::characterAtIndex(bad, 1), 0xFFFD);
    EXPECT_EQ(NSString::characterAtIndex(bad, 3), u'(');
    EXPECT_EQ(NSString::fromUTF16(NSString::utf16(bad)), "a\uFFFD\uFFFD(b\uFFFD\uFFFD");
    // Overlong forms and code points beyond U+10FFFF are invalid too.
    EXPECT_EQ(NSString::utf16("\xc0\xaf"), std::u16string(u"\uFFFD\uFFFD"));
    EXPECT_EQ(NSString::utf16("\xf4\x90\x80\x80").front(), 0xFFFD);
}

TEST(NSStringUnits, LoneSurrogatesSurviveCutAndJoin) {
    std::string face = "\U0001F600";
    std::string high = NSString::substringWithRange(face, NSMakeRange(0, 1));
    std::string low = NSString::substringWithRange(face, NSMakeRange(1, 1));
    EXPECT_EQ(high, lone(0xD83D));
    EXPECT_EQ(NSString::length(high), 1u);
    EXPECT_EQ(NSString::characterAtIndex(high, 0), 0xD83D);
    EXPECT_EQ(NSString::characterAtIndex(low, 0), 0xDE00);
    EXPECT_EQ(NSString::fromUTF16(NSString::utf16(high + low)), face);
}

TEST(NSStringUnits, ByteOffsetOfIndex) {
    EXPECT_EQ(NSString::byteOffsetOfIndex(kMixed, 0), 0u);
    EXPECT_EQ(NSString::byteOffsetOfIndex(kMixed, 2), 3u);
    EXPECT_EQ(NSString::byteOffsetOfIndex(kMixed, 3), 6u);
    EXPECT_EQ(NSString::byteOffsetOfIndex(kMixed, 4), 6u);  // inside the pair
    EXPECT_EQ(NSString::byteOffsetOfIndex(kMixed, 5), 10u);
    EXPECT_EQ(NSString::byteOffsetOfIndex(kMixed, 99), kMixed.size());
}

// ---------------------------------------------------------------------------------------------
// Substrings

TEST(NSStringSubstrings, RangesInUnitsAndClipped) {
    EXPECT_EQ(NSString::substringWithRange(kMixed, NSMakeRange(1, 2)), "\u00e9\u4e2d");
    EXPECT_EQ(NSString::substringWithRange(kMixed, NSMakeRange(3, 2)), "\U0001F600");
    EXPECT_EQ(NSString::substringFromIndex(kMixed, 5), "z");
    EXPECT_EQ(NSString::substringToIndex(kMixed, 1), "a");
    EXPECT_EQ(NSString::substringWithRange(kMixed, NSMakeRange(4, 100)), lone(0xDE00) + "z");
    EXPECT_EQ(NSString::substringWithRange(kMixed, NSMakeRange(100, 2)), "");
    EXPECT_EQ(NSString::substringWithRange(kMixed, NSMakeRange(NSNotFound, NSNotFound)), "");
    EXPECT_EQ(NSString::substringToIndex("abc", 0), "");
}

TEST(NSStringSubstrings, PaddingAndAppending) {
    EXPECT_EQ(NSString::stringByPaddingToLength("ab", 6, "xyz", 1), "abyzxy");
    EXPECT_EQ(NSString::stringByPaddingToLength("abcdef", 3, ".", 0), "abc");
    EXPECT_EQ(NSString::stringByPaddingToLength("ab", 5, "", 0), "ab");
    EXPECT_EQ(NSString::stringByAppendingString("ab", "\u4e2d"), "ab\u4e2d");
}

// ---------------------------------------------------------------------------------------------
// Composed character sequences

TEST(NSStringComposed, SequencesOfTheEmojiCases) {
    std::string copyright = "\u00a9";
    std::string copyrightVS = "\u00a9\uFE0F";
    std::string keycapVS = "1\uFE0F\u20E3";
    std::string keycap = "1\u20E3";
    std::string hashKeycap = "#\u20E3";
    std::string face = "\U0001F600";

    EXPECT_EQ(NSString::composedCharacterSequenceRanges(copyright), std::vector<NSRange>{NSMakeRange(0, 1)});
    EXPECT_EQ(NSString::composedCharacterSequenceRanges(copyrightVS),
              std::vector<NSRange>{NSMakeRange(0, 2)});
    EXPECT_EQ(NSString::composedCharacterSequenceRanges(keycapVS), std::vector<NSRange>{NSMakeRange(0, 3)});
    EXPECT_EQ(NSString::composedCharacterSequenceRanges(keycap), std::vector<NSRange>{NSMakeRange(0, 2)});
    EXPECT_EQ(NSString::composedCharacterSequenceRanges(hashKeycap), std::vector<NSRange>{NSMakeRange(0, 2)});
    EXPECT_EQ(NSString::composedCharacterSequenceRanges(face), std::vector<NSRange>{NSMakeRange(0, 2)});

    // What the refusal rule makes of them: a lone (c) and a keycap whose second unit is the
    // enclosing keycap are refused; with a variation selector in second place they are not.
    EXPECT_TRUE(containsEmoji(copyright));
    EXPECT_FALSE(containsEmoji(copyrightVS));
    EXPECT_FALSE(containsEmoji(keycapVS));
    EXPECT_TRUE(containsEmoji(keycap));
    EXPECT_TRUE(containsEmoji(hashKeycap));
    EXPECT_TRUE(containsEmoji(face));
    EXPECT_FALSE(containsEmoji("\u4e2d\u6587 text"));
    EXPECT_TRUE(containsEmoji("ok " + face + " ok"));
}

TEST(NSStringComposed, RangeAtIndex) {
    std::string s = "ae\u0301\U0001F600\r\nb";
    EXPECT_EQ(NSString::rangeOfComposedCharacterSequenceAtIndex(s, 0), NSMakeRange(0, 1));
    EXPECT_EQ(NSString::rangeOfComposedCharacterSequenceAtIndex(s, 2), NSMakeRange(1, 2));
    EXPECT_EQ(NSString::rangeOfComposedCharacterSequenceAtIndex(s, 4), NSMakeRange(3, 2));
    EXPECT_EQ(NSString::rangeOfComposedCharacterSequenceAtIndex(s, 5), NSMakeRange(5, 2));  // CR LF is one
    EXPECT_EQ(NSString::rangeOfComposedCharacterSequenceAtIndex(s, 7), NSMakeRange(7, 1));
    EXPECT_EQ(NSString::rangeOfComposedCharacterSequenceAtIndex(s, 8).location, NSNotFound);
    EXPECT_EQ(NSString::rangeOfComposedCharacterSequencesForRange(s, NSMakeRange(2, 2)), NSMakeRange(1, 4));
    EXPECT_EQ(NSString::rangeOfComposedCharacterSequencesForRange(s, NSMakeRange(1, 0)), NSMakeRange(1, 0));
    EXPECT_EQ(NSString::rangeOfComposedCharacterSequencesForRange(s, NSMakeRange(4, 0)), NSMakeRange(3, 2));
}

TEST(NSStringComposed, FlagsAndJoinedEmojiStayWhole) {
    std::string flag = "\U0001F1E8\U0001F1F3";                          // regional indicators C N
    std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";  // joined by ZWJ
    EXPECT_EQ(NSString::composedCharacterSequenceRanges(flag).size(), 1u);
    EXPECT_EQ(NSString::composedCharacterSequenceRanges(family).size(), 1u);
    EXPECT_EQ(NSString::composedCharacterSequenceRanges(flag + flag).size(), 2u);
}

TEST(NSStringComposed, InvalidBytesAndLoneSurrogatesAreSequencesOfTheirOwn) {
    std::string s = "a\xff" + lone(0xD800) + "b";
    auto ranges = NSString::composedCharacterSequenceRanges(s);
    ASSERT_EQ(ranges.size(), 4u);
    EXPECT_EQ(ranges[2], NSMakeRange(2, 1));
    EXPECT_FALSE(containsEmoji(lone(0xD83D)));  // a lone high surrogate is no emoji
}

TEST(NSStringEnumerate, ComposedSequencesWithStopAndReverse) {
    std::string s = "x\U0001F600y";
    std::vector<std::string> seen;
    NSString::enumerateSubstringsInRange(
        s, NSMakeRange(0, NSString::length(s)), NSStringEnumerationByComposedCharacterSequences,
        [&](const std::optional<std::string>& sub, NSRange r, NSRange enc, bool&) {
            ASSERT_TRUE(sub.has_value());
            EXPECT_EQ(r, enc);
            seen.push_back(*sub);
        });
    EXPECT_EQ(seen, (std::vector<std::string>{"x", "\U0001F600", "y"}));

    seen.clear();
    NSString::enumerateSubstringsInRange(
        s, NSMakeRange(0, 4), NSStringEnumerationByComposedCharacterSequences | NSStringEnumerationReverse,
        [&](const std::optional<std::string>& sub, NSRange, NSRange, bool& stop) {
            seen.push_back(*sub);
            stop = seen.size() == 2;
        });
    EXPECT_EQ(seen, (std::vector<std::string>{"y", "\U0001F600"}));

    int calls = 0;
    NSString::enumerateSubstringsInRange(s, NSMakeRange(0, 4),
                                         NSStringEnumerationByComposedCharacterSequences |
                                             NSStringEnumerationSubstringNotRequired,
                                         [&](const std::optional<std::string>& sub, NSRange, NSRange, bool&) {
                                             EXPECT_FALSE(sub.has_value());
                                             ++calls;
                                         });
    EXPECT_EQ(calls, 3);
    // An empty block and an empty range do nothing.
    NSString::enumerateSubstringsInRange(s, NSMakeRange(0, 4),
                                         NSStringEnumerationByComposedCharacterSequences, {});
    NSString::enumerateSubstringsInRange(s, NSMakeRange(9, 4),
                                         NSStringEnumerationByComposedCharacterSequences,
                                         [&](auto&&...) { ADD_FAILURE(); });
}

TEST(NSStringEnumerate, LinesParagraphsWordsSentences) {
    std::string text = "one\r\ntwo\nthree";
    std::vector<std::string> lines;
    std::vector<NSRange> enclosing;
    NSString::enumerateSubstringsInRange(
        text, NSMakeRange(0, NSString::length(text)), NSStringEnumerationByLines,
        [&](const std::optional<std::string>& sub, NSRange, NSRange enc, bool&) {
            lines.push_back(*sub);
            enclosing.push_back(enc);
        });
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(enclosing[0], NSMakeRange(0, 5));
    EXPECT_EQ(enclosing[1], NSMakeRange(5, 4));

    std::string para = "a\u2028b\u2029c";
    int paragraphs = 0, lineCount = 0;
    NSString::enumerateSubstringsInRange(para, NSMakeRange(0, 5), NSStringEnumerationByParagraphs,
                                         [&](auto&&...) { ++paragraphs; });
    NSString::enumerateSubstringsInRange(para, NSMakeRange(0, 5), NSStringEnumerationByLines,
                                         [&](auto&&...) { ++lineCount; });
    EXPECT_EQ(paragraphs, 2);
    EXPECT_EQ(lineCount, 3);

    std::vector<std::string> words;
    std::string sentence = "Hello, big world! \u4e2d\u6587 ok.";
    NSString::enumerateSubstringsInRange(
        sentence, NSMakeRange(0, NSString::length(sentence)), NSStringEnumerationByWords,
        [&](const std::optional<std::string>& sub, NSRange, NSRange, bool&) { words.push_back(*sub); });
    ASSERT_GE(words.size(), 4u);
    EXPECT_EQ(words[0], "Hello");
    EXPECT_EQ(words[1], "big");
    EXPECT_EQ(words[2], "world");
    EXPECT_EQ(words.back(), "ok");

    std::vector<std::string> sentences;
    std::string two = "First one. Second one?";
    NSString::enumerateSubstringsInRange(
        two, NSMakeRange(0, NSString::length(two)), NSStringEnumerationBySentences,
        [&](const std::optional<std::string>& sub, NSRange, NSRange, bool&) { sentences.push_back(*sub); });
    EXPECT_EQ(sentences, (std::vector<std::string>{"First one.", "Second one?"}));
}

// ---------------------------------------------------------------------------------------------
// Searching

TEST(NSStringSearch, RangeOfStringBasics) {
    EXPECT_EQ(NSString::rangeOfString("hello world", "o"), NSMakeRange(4, 1));
    EXPECT_EQ(NSString::rangeOfString("hello world", "o", NSBackwardsSearch), NSMakeRange(7, 1));
    EXPECT_EQ(NSString::rangeOfString("hello world", "world", NSAnchoredSearch).location, NSNotFound);
    EXPECT_EQ(NSString::rangeOfString("hello world", "hello", NSAnchoredSearch), NSMakeRange(0, 5));
    EXPECT_EQ(NSString::rangeOfString("hello world", "world", NSAnchoredSearch | NSBackwardsSearch),
              NSMakeRange(6, 5));
    EXPECT_EQ(NSString::rangeOfString("hello", "").location, NSNotFound);
    EXPECT_EQ(NSString::rangeOfString("", "a").location, NSNotFound);
    EXPECT_EQ(NSString::rangeOfString("ab", "abc").location, NSNotFound);
    EXPECT_EQ(NSString::rangeOfString("abcabc", "abc", 0, NSMakeRange(1, 5)), NSMakeRange(3, 3));
    EXPECT_EQ(NSString::rangeOfString("abcabc", "abc", 0, NSMakeRange(1, 4)).location, NSNotFound);
    EXPECT_EQ(NSString::rangeOfString("abc", "c", 0, NSMakeRange(50, 50)).location, NSNotFound);
}

TEST(NSStringSearch, RangesAreInUTF16Units) {
    EXPECT_EQ(NSString::rangeOfString(kMixed, "z"), NSMakeRange(5, 1));
    EXPECT_EQ(NSString::rangeOfString(kMixed, "\U0001F600"), NSMakeRange(3, 2));
    EXPECT_EQ(NSString::rangeOfString("\u4e2d\u56fd\u4e2d", "\u4e2d", NSBackwardsSearch), NSMakeRange(2, 1));
}

TEST(NSStringSearch, CaseAndDiacriticOptions) {
    EXPECT_EQ(NSString::rangeOfString("Hello World", "WORLD", NSCaseInsensitiveSearch), NSMakeRange(6, 5));
    EXPECT_EQ(NSString::rangeOfString("Hello World", "WORLD").location, NSNotFound);
    EXPECT_EQ(NSString::rangeOfString("\u00c9t\u00e9", "\u00e9T\u00c9", NSCaseInsensitiveSearch),
              NSMakeRange(0, 3));
    EXPECT_EQ(NSString::rangeOfString("caf\u00e9", "cafe", NSDiacriticInsensitiveSearch), NSMakeRange(0, 4));
    EXPECT_EQ(NSString::rangeOfString("caf\u00e9", "cafe").location, NSNotFound);
    // A mark with no base before it disappears too.
    EXPECT_EQ(NSString::rangeOfString("\u0301ab", "ab", NSDiacriticInsensitiveSearch | NSAnchoredSearch),
              NSMakeRange(1, 2));
    EXPECT_EQ(NSString::rangeOfString("\u4e2d\u6587\u5b57", "\u6587\u5b57"), NSMakeRange(1, 2));
    EXPECT_EQ(NSString::rangeOfString("\uAC00\u1100\u1161", "\uAC00"), NSMakeRange(0, 1));  // Hangul
    EXPECT_EQ(NSString::rangeOfString("\u1100\u1161", "\uAC00"), NSMakeRange(0, 2));
    EXPECT_EQ(NSString::rangeOfString("STRASSE", "stra\u00dfe", NSCaseInsensitiveSearch), NSMakeRange(0, 7));
    EXPECT_EQ(NSString::rangeOfString("stra\u00dfe", "SS", NSCaseInsensitiveSearch), NSMakeRange(4, 1));
    EXPECT_EQ(NSString::rangeOfString("\uff21\uff22", "AB", NSWidthInsensitiveSearch), NSMakeRange(0, 2));
}

TEST(NSStringSearch, CanonicalEquivalenceUnlessLiteral) {
    std::string composed = "caf\u00e9!";
    std::string decomposed = "cafe\u0301!";
    EXPECT_EQ(NSString::rangeOfString(decomposed, "\u00e9"), NSMakeRange(3, 2));
    EXPECT_EQ(NSString::rangeOfString(composed, "e\u0301"), NSMakeRange(3, 1));
    EXPECT_EQ(NSString::rangeOfString(decomposed, "\u00e9", NSLiteralSearch).location, NSNotFound);
    // A match never splits a composed character.
    EXPECT_EQ(NSString::rangeOfString(decomposed, "e").location, NSNotFound);
    EXPECT_EQ(NSString::rangeOfString(decomposed, "e", NSLiteralSearch), NSMakeRange(3, 1));
}

TEST(NSStringSearch, RegularExpressionOption) {
    EXPECT_EQ(NSString::rangeOfString("id: 4521;", "[0-9]+", NSRegularExpressionSearch), NSMakeRange(4, 4));
    EXPECT_EQ(NSString::rangeOfString("ABC", "b", NSRegularExpressionSearch | NSCaseInsensitiveSearch),
              NSMakeRange(1, 1));
    EXPECT_EQ(NSString::rangeOfString("xab", "ab", NSRegularExpressionSearch | NSAnchoredSearch).location,
              NSNotFound);
    EXPECT_EQ(NSString::rangeOfString("abc", "(", NSRegularExpressionSearch).location, NSNotFound);
    EXPECT_EQ(NSString::stringByReplacingOccurrencesOfString("a1b22", "([0-9]+)", "<$1>",
                                                             NSRegularExpressionSearch),
              "a<1>b<22>");
    EXPECT_EQ(NSString::stringByReplacingOccurrencesOfString("a1", "(", "x", NSRegularExpressionSearch),
              "a1");
}

TEST(NSStringSearch, CharacterSets) {
    auto digits = NSCharacterSet::decimalDigitCharacterSet();
    EXPECT_EQ(NSString::rangeOfCharacterFromSet("abc123", digits), NSMakeRange(3, 1));
    EXPECT_EQ(NSString::rangeOfCharacterFromSet("abc123", digits, NSBackwardsSearch), NSMakeRange(5, 1));
    EXPECT_EQ(NSString::rangeOfCharacterFromSet("abc123", digits, NSAnchoredSearch).location, NSNotFound);
    EXPECT_EQ(NSString::rangeOfCharacterFromSet("abc", digits).location, NSNotFound);
    auto faces = NSCharacterSet::characterSetWithRange(NSMakeRange(0x1F600, 0x50));
    EXPECT_EQ(NSString::rangeOfCharacterFromSet("ab\U0001F601", faces), NSMakeRange(2, 2));
    EXPECT_EQ(NSString::rangeOfCharacterFromSet("\U0001F601ab", faces, NSBackwardsSearch), NSMakeRange(0, 2));
    EXPECT_EQ(NSString::rangeOfCharacterFromSet(
                  "xyZ", NSCharacterSet::characterSetWithCharactersInString("z"), NSCaseInsensitiveSearch),
              NSMakeRange(2, 1));
}

TEST(NSStringSearch, PrefixesAndSuffixes) {
    EXPECT_TRUE(NSString::hasPrefix("model.png", "model"));
    EXPECT_FALSE(NSString::hasPrefix("model.png", "Model"));
    EXPECT_FALSE(NSString::hasPrefix("model.png", ""));
    EXPECT_FALSE(NSString::hasPrefix("", "a"));
    EXPECT_TRUE(NSString::hasSuffix("model.png", ".png"));
    EXPECT_FALSE(NSString::hasSuffix("model.png", ""));
    EXPECT_FALSE(NSString::hasSuffix("png", ".png"));
    EXPECT_TRUE(NSString::containsString("abc", "b"));
    EXPECT_FALSE(NSString::containsString("abc", ""));
    EXPECT_TRUE(NSString::localizedCaseInsensitiveContainsString("ABC", "b"));
    EXPECT_EQ(NSString::commonPrefixWithString("prefix-one", "prefix-two"), "prefix-");
    EXPECT_EQ(NSString::commonPrefixWithString("ABC", "abd", NSCaseInsensitiveSearch), "AB");
    EXPECT_EQ(NSString::commonPrefixWithString("e\u0301x", "e\u0302x"), "");
}

// ---------------------------------------------------------------------------------------------
// Comparing

TEST(NSStringCompare, LiteralOrderPutsUpperCaseFirst) {
    EXPECT_EQ(NSString::compare("a", "b"), NSOrderedAscending);
    EXPECT_EQ(NSString::compare("b", "a"), NSOrderedDescending);
    EXPECT_EQ(NSString::compare("abc", "abc"), NSOrderedSame);
    EXPECT_EQ(NSString::compare("Zeta", "alpha"), NSOrderedAscending);
    EXPECT_EQ(NSString::compare("ab", "abc"), NSOrderedAscending);
    EXPECT_EQ(NSString::compare("", ""), NSOrderedSame);
    EXPECT_EQ(NSString::compare("", "a"), NSOrderedAscending);
    // Sorting keys the way query strings are built.
    std::vector<std::string> keys = {"name", "Name", "age", "Zip", "_x"};
    std::sort(keys.begin(), keys.end(),
              [](const std::string& a, const std::string& b) { return NSString::compare(a, b) < 0; });
    EXPECT_EQ(keys, (std::vector<std::string>{"Name", "Zip", "_x", "age", "name"}));
}

TEST(NSStringCompare, UTF16OrderForSupplementaryCharacters) {
    // By code point U+1F600 sorts after U+FF01; by UTF-16 units its lead surrogate D83D sorts
    // before FF01, and the platform orders by units.
    EXPECT_EQ(NSString::compare("\U0001F600", "\uFF01"), NSOrderedAscending);
}

TEST(NSStringCompare, Options) {
    EXPECT_EQ(NSString::caseInsensitiveCompare("abc", "ABC"), NSOrderedSame);
    EXPECT_EQ(NSString::caseInsensitiveCompare("abc", "ABD"), NSOrderedAscending);
    EXPECT_EQ(NSString::caseInsensitiveCompare("_", "a"), NSOrderedAscending);
    EXPECT_EQ(NSString::compare("file9", "file10"), NSOrderedDescending);
    EXPECT_EQ(NSString::compare("file9", "file10", NSNumericSearch), NSOrderedAscending);
    EXPECT_EQ(NSString::compare("file010", "file10", NSNumericSearch), NSOrderedSame);
    EXPECT_EQ(NSString::compare("v2.10", "v2.9", NSNumericSearch), NSOrderedDescending);
    EXPECT_EQ(NSString::compare("\u00e9", "e\u0301"), NSOrderedSame);
    EXPECT_NE(NSString::compare("\u00e9", "e\u0301", NSLiteralSearch), NSOrderedSame);
    EXPECT_EQ(NSString::compare("r\u00e9sum\u00e9", "resume", NSDiacriticInsensitiveSearch), NSOrderedSame);
    EXPECT_EQ(NSString::compare("ABC", "abc", NSCaseInsensitiveSearch | NSForcedOrderingSearch),
              NSOrderedAscending);
    EXPECT_EQ(NSString::compare("xxabc", "abc", 0, NSMakeRange(2, 3)), NSOrderedSame);
}

TEST(NSStringCompare, Localized) {
    EXPECT_EQ(NSString::localizedCaseInsensitiveCompare("apple", "Banana"), NSOrderedAscending);
    EXPECT_EQ(NSString::localizedCaseInsensitiveCompare("Apple", "apple"), NSOrderedSame);
    EXPECT_EQ(NSString::localizedCaseInsensitiveCompare("b", "A"), NSOrderedDescending);
    EXPECT_EQ(NSString::localizedCompare("a", "B"), NSOrderedAscending);
    EXPECT_NE(NSString::localizedCompare("a", "A"), NSOrderedSame);
    EXPECT_EQ(NSString::localizedStandardCompare("file9", "File10"), NSOrderedAscending);
    // Keys sorted as an imprint checksum needs them: case folded, letters before digits do not
    // matter here, just a stable order.
    std::vector<std::string> keys = {"versionCode", "AppKey", "channel", "appkey2"};
    std::sort(keys.begin(), keys.end(), [](const std::string& a, const std::string& b) {
        return NSString::localizedCaseInsensitiveCompare(a, b) == NSOrderedAscending;
    });
    EXPECT_EQ(keys, (std::vector<std::string>{"AppKey", "appkey2", "channel", "versionCode"}));
}

// ---------------------------------------------------------------------------------------------
// Changing

TEST(NSStringChange, ReplaceOccurrences) {
    EXPECT_EQ(NSString::stringByReplacingOccurrencesOfString("car.png", ".png", ".json"), "car.json");
    EXPECT_EQ(NSString::stringByReplacingOccurrencesOfString("aaa", "a", "bb"), "bbbbbb");
    EXPECT_EQ(NSString::stringByReplacingOccurrencesOfString("aaaa", "aa", "a"), "aa");
    EXPECT_EQ(NSString::stringByReplacingOccurrencesOfString("abc", "", "x"), "abc");
    EXPECT_EQ(NSString::stringByReplacingOccurrencesOfString("abc", "b", ""), "ac");
    EXPECT_EQ(NSString::stringByReplacingOccurrencesOfString("ABab", "b", "-", NSCaseInsensitiveSearch),
              "A-a-");
    EXPECT_EQ(NSString::stringByReplacingOccurrencesOfString("abab", "b", "-", 0, NSMakeRange(2, 2)), "aba-");
    EXPECT_EQ(NSString::stringByReplacingOccurrencesOfString("abab", "a", "-", NSAnchoredSearch), "-bab");
    EXPECT_EQ(NSString::stringByReplacingOccurrencesOfString("\u4e2d\U0001F600\u4e2d", "\u4e2d", "z"),
              "z\U0001F600z");
    EXPECT_EQ(NSString::stringByReplacingOccurrencesOfString("cafe\u0301 cafe", "cafe", "X"), "cafe\u0301 X");
    EXPECT_EQ(NSString::stringByReplacingOccurrencesOfString("cafe\u0301 cafe", "cafe", "X", NSLiteralSearch),
              "X\u0301 X");
}

TEST(NSStringChange, ReplaceCharactersInRange) {
    EXPECT_EQ(NSString::stringByReplacingCharactersInRange("hello", NSMakeRange(1, 3), "EY"), "hEYo");
    EXPECT_EQ(NSString::stringByReplacingCharactersInRange(kMixed, NSMakeRange(3, 2), ":)"),
              "a\u00e9\u4e2d:)z");
    EXPECT_EQ(NSString::stringByReplacingCharactersInRange("abc", NSMakeRange(3, 0), "d"), "abcd");
    EXPECT_EQ(NSString::stringByReplacingCharactersInRange("abc", NSMakeRange(10, 5), "d"), "abcd");
}

TEST(NSStringChange, Splitting) {
    using V = std::vector<std::string>;
    EXPECT_EQ(NSString::componentsSeparatedByString("u1;u2;u3", ";"), (V{"u1", "u2", "u3"}));
    EXPECT_EQ(NSString::componentsSeparatedByString("a/b/", "/"), (V{"a", "b", ""}));
    EXPECT_EQ(NSString::componentsSeparatedByString("", ";"), (V{""}));
    EXPECT_EQ(NSString::componentsSeparatedByString(";", ";"), (V{"", ""}));
    EXPECT_EQ(NSString::componentsSeparatedByString("abc", ""), (V{"abc"}));
    EXPECT_EQ(NSString::componentsSeparatedByString("a::b", "::"), (V{"a", "b"}));
    EXPECT_EQ(NSString::componentsSeparatedByCharactersInSet("a b\tc\u3000d",
                                                             NSCharacterSet::whitespaceCharacterSet()),
              (V{"a", "b", "c", "d"}));
    EXPECT_EQ(NSString::componentsSeparatedByCharactersInSet(
                  "a,,b", NSCharacterSet::characterSetWithCharactersInString(",")),
              (V{"a", "", "b"}));
    EXPECT_EQ(NSString::componentsJoinedByString({"u1", "u2", "u3"}, ";"), "u1;u2;u3");
    EXPECT_EQ(NSString::componentsJoinedByString({}, ";"), "");
}

TEST(NSStringChange, Trimming) {
    auto ws = NSCharacterSet::whitespaceAndNewlineCharacterSet();
    EXPECT_EQ(NSString::stringByTrimmingCharactersInSet("  \t hi there \n\r ", ws), "hi there");
    EXPECT_EQ(NSString::stringByTrimmingCharactersInSet("\u3000\u4e2d\u3000", ws), "\u4e2d");
    EXPECT_EQ(NSString::stringByTrimmingCharactersInSet("   ", ws), "");
    EXPECT_EQ(NSString::stringByTrimmingCharactersInSet("", ws), "");
    auto digits = NSCharacterSet::decimalDigitCharacterSet();
    EXPECT_EQ(NSString::stringByTrimmingCharactersInSet("13800138000", digits), "");
    EXPECT_EQ(NSString::stringByTrimmingCharactersInSet("12a34b56", digits), "a34b");
    EXPECT_EQ(NSString::stringByTrimmingCharactersInSet("\u0661\u0662x", digits),
              "x");  // Arabic-Indic digits
}

TEST(NSStringChange, CaseMapping) {
    EXPECT_EQ(NSString::lowercaseString("GET Mixed"), "get mixed");
    EXPECT_EQ(NSString::uppercaseString("get"), "GET");
    EXPECT_EQ(NSString::uppercaseString("stra\u00dfe"), "STRASSE");
    EXPECT_EQ(NSString::lowercaseString("\u00c9COLE"), "\u00e9cole");
    EXPECT_EQ(NSString::uppercaseString("\u4e2d\u6587"), "\u4e2d\u6587");
    EXPECT_EQ(NSString::capitalizedString("hello WORLD\tfoo-bar \u00e9t\u00e9"),
              "Hello World\tFoo-bar \u00c9t\u00e9");
    EXPECT_EQ(NSString::capitalizedString(""), "");
    // Case mapping ignores the locale: a capital I always becomes a plain i.
    EXPECT_EQ(NSString::lowercaseString("I"), "i");
}

TEST(NSStringChange, Normalisation) {
    EXPECT_EQ(NSString::decomposedStringWithCanonicalMapping("\u00e9"), "e\u0301");
    EXPECT_EQ(NSString::precomposedStringWithCanonicalMapping("e\u0301"), "\u00e9");
    EXPECT_EQ(NSString::precomposedStringWithCompatibilityMapping("\uff21\u2460"), "A1");
    EXPECT_EQ(NSString::decomposedStringWithCompatibilityMapping("\ufb01"), "fi");
}

// ---------------------------------------------------------------------------------------------
// Transforms

TEST(NSStringTransform, UserAgentTransformMakesASCII) {
    const char* ua = "Any-Latin; Latin-ASCII; [:^ASCII:] Remove";
    EXPECT_EQ(NSString::applyingTransform("\u8f66\u53cb/1.0 (iPhone; iOS 9.3; Scale/2.00)", ua),
              "che you/1.0 (iPhone; iOS 9.3; Scale/2.00)");
    EXPECT_EQ(NSString::applyingTransform("Caf\u00e9 \U0001F600", ua), "Cafe ");
    auto t = NSString::applyingTransform("\u4e2d\u56fd", "Han-Latin; Latin-ASCII");
    ASSERT_TRUE(t);
    EXPECT_EQ(*t, "zhong guo");
    EXPECT_EQ(NSString::applyingTransform("abc", "Any-Upper"), "ABC");
    EXPECT_EQ(NSString::applyingTransform("\u0430\u0431", "Latin-Cyrillic", true), "ab");
}

TEST(NSStringTransform, UnknownTransformsFail) {
    EXPECT_FALSE(NSString::applyingTransform("abc", "No-Such-Transform"));
    EXPECT_FALSE(NSString::applyingTransform("abc", ""));
    EXPECT_FALSE(NSString::applyingTransform("abc", "[[["));
    std::string text = "keep";
    EXPECT_FALSE(CFStringTransform(text, nullptr, "Bogus-Thing", false));
    EXPECT_EQ(text, "keep");
}

TEST(NSStringTransform, InPlaceWithRange) {
    std::string text = "ab\u4e2dcd";
    NSRange range = NSMakeRange(2, 1);
    ASSERT_TRUE(CFStringTransform(text, &range, kCFStringTransformMandarinLatin, false));
    EXPECT_EQ(text, "abzh\u014dngcd");
    EXPECT_EQ(range, NSMakeRange(2, 5));
    std::string full = "\u00e9l\u00e8ve";
    ASSERT_TRUE(CFStringTransform(full, nullptr, kCFStringTransformStripCombiningMarks, false));
    EXPECT_EQ(full, "eleve");
}

TEST(NSStringTransform, ConcurrentUse) {
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int k = 0; k < 50; ++k) {
                if (NSString::applyingTransform("\u00e9t\u00e9", "Latin-ASCII") !=
                    std::optional<std::string>("ete")) {
                    ++failures;
                }
                if (NSString::composedCharacterSequenceRanges("a\U0001F600").size() != 2) ++failures;
                if (NSString::localizedCaseInsensitiveCompare("a", "B") != NSOrderedAscending) ++failures;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
}

// ---------------------------------------------------------------------------------------------
// Numeric readings

TEST(NSStringNumbers, Integers) {
    EXPECT_EQ(NSString::intValue("0123"), 123);
    EXPECT_EQ(NSString::intValue("abc"), 0);
    EXPECT_EQ(NSString::intValue(""), 0);
    EXPECT_EQ(NSString::intValue("  -42xyz"), -42);
    EXPECT_EQ(NSString::intValue("+7"), 7);
    EXPECT_EQ(NSString::intValue("12.9"), 12);
    EXPECT_EQ(NSString::intValue("\n\t 5"), 5);
    EXPECT_EQ(NSString::intValue("- 5"), 0);
    EXPECT_EQ(NSString::intValue("0x1A"), 0);
    EXPECT_EQ(NSString::intValue("99999999999"), INT_MAX);
    EXPECT_EQ(NSString::intValue("-99999999999"), INT_MIN);
    EXPECT_EQ(NSString::integerValue("9223372036854775807"), LONG_MAX);
    EXPECT_EQ(NSString::integerValue("9223372036854775808"), LONG_MAX);
    EXPECT_EQ(NSString::longLongValue("-9223372036854775808"), LLONG_MIN);
    EXPECT_EQ(NSString::longLongValue("-99999999999999999999999"), LLONG_MIN);
    EXPECT_EQ(NSString::longLongValue(std::string(10000, '9')), LLONG_MAX);
    EXPECT_EQ(NSString::integerValue("\u3000 8"), 8);  // ideographic space
}

TEST(NSStringNumbers, Doubles) {
    EXPECT_DOUBLE_EQ(NSString::doubleValue("9.3"), 9.3);
    EXPECT_DOUBLE_EQ(NSString::doubleValue("10.3.1"), 10.3);
    EXPECT_DOUBLE_EQ(NSString::doubleValue(" -1.5e3x"), -1500.0);
    EXPECT_DOUBLE_EQ(NSString::doubleValue(".5"), 0.5);
    EXPECT_DOUBLE_EQ(NSString::doubleValue("5."), 5.0);
    EXPECT_DOUBLE_EQ(NSString::doubleValue("1e"), 1.0);
    EXPECT_DOUBLE_EQ(NSString::doubleValue("abc"), 0.0);
    EXPECT_DOUBLE_EQ(NSString::doubleValue("."), 0.0);
    EXPECT_DOUBLE_EQ(NSString::doubleValue("inf"), 0.0);
    EXPECT_DOUBLE_EQ(NSString::doubleValue("nan"), 0.0);
    EXPECT_DOUBLE_EQ(NSString::doubleValue("0x10"), 0.0);
    EXPECT_TRUE(std::isinf(NSString::doubleValue("1e999999999999")));
    EXPECT_DOUBLE_EQ(NSString::doubleValue("1e-999999999999"), 0.0);
    EXPECT_FLOAT_EQ(NSString::floatValue("2.5"), 2.5f);
}

TEST(NSStringNumbers, Booleans) {
    EXPECT_TRUE(NSString::boolValue("YES"));
    EXPECT_TRUE(NSString::boolValue("true"));
    EXPECT_TRUE(NSString::boolValue(" y"));
    EXPECT_TRUE(NSString::boolValue("1"));
    EXPECT_TRUE(NSString::boolValue("-0010"));
    EXPECT_FALSE(NSString::boolValue("NO"));
    EXPECT_FALSE(NSString::boolValue("0"));
    EXPECT_FALSE(NSString::boolValue("000"));
    EXPECT_FALSE(NSString::boolValue(""));
    EXPECT_FALSE(NSString::boolValue("false"));
}

TEST(NSStringNumbers, GarbageNeverCrashes) {
    const std::string seed = " -12.5e+3 0123 YES";
    for (unsigned k = 0; k < 2000; ++k) {
        std::string s = testsupport::mutate(seed, k);
        (void)NSString::intValue(s);
        (void)NSString::longLongValue(s);
        (void)NSString::doubleValue(s);
        (void)NSString::boolValue(s);
    }
}

// ---------------------------------------------------------------------------------------------
// Paths

TEST(NSStringPaths, AppendingComponents) {
    EXPECT_EQ(NSString::stringByAppendingPathComponent("/tmp", "scratch.tiff"), "/tmp/scratch.tiff");
    EXPECT_EQ(NSString::stringByAppendingPathComponent("/tmp/", "scratch.tiff"), "/tmp/scratch.tiff");
    EXPECT_EQ(NSString::stringByAppendingPathComponent("/", "scratch.tiff"), "/scratch.tiff");
    EXPECT_EQ(NSString::stringByAppendingPathComponent("", "scratch.tiff"), "scratch.tiff");
    EXPECT_EQ(NSString::stringByAppendingPathComponent("/tmp", ""), "/tmp");
    EXPECT_EQ(NSString::stringByAppendingPathComponent("/tmp//a/", "/b/"), "/tmp/a/b");
    EXPECT_EQ(NSString::stringByAppendingPathComponent("", ""), "");
    EXPECT_EQ(NSString::stringByAppendingPathComponent("Documents", "\u56fe\u7247.png"),
              "Documents/\u56fe\u7247.png");
}

TEST(NSStringPaths, LastComponentAndExtension) {
    EXPECT_EQ(NSString::lastPathComponent("/tmp/scratch.tiff"), "scratch.tiff");
    EXPECT_EQ(NSString::lastPathComponent("/tmp/scratch"), "scratch");
    EXPECT_EQ(NSString::lastPathComponent("/tmp/"), "tmp");
    EXPECT_EQ(NSString::lastPathComponent("scratch///"), "scratch");
    EXPECT_EQ(NSString::lastPathComponent("/"), "/");
    EXPECT_EQ(NSString::lastPathComponent(""), "");
    EXPECT_EQ(NSString::pathExtension("/tmp/scratch.tiff"), "tiff");
    EXPECT_EQ(NSString::pathExtension("archive.tar.gz"), "gz");
    EXPECT_EQ(NSString::pathExtension(".hidden"), "");
    EXPECT_EQ(NSString::pathExtension("/a.b/c"), "");
    EXPECT_EQ(NSString::pathExtension("/tmp/"), "");
    EXPECT_EQ(NSString::pathExtension("name."), "");
    EXPECT_EQ(NSString::pathExtension("/dir/file.png/"), "png");
}

TEST(NSStringPaths, Deleting) {
    EXPECT_EQ(NSString::stringByDeletingLastPathComponent("/tmp/scratch.tiff"), "/tmp");
    EXPECT_EQ(NSString::stringByDeletingLastPathComponent("/tmp/lock/"), "/tmp");
    EXPECT_EQ(NSString::stringByDeletingLastPathComponent("/tmp/"), "/");
    EXPECT_EQ(NSString::stringByDeletingLastPathComponent("/tmp"), "/");
    EXPECT_EQ(NSString::stringByDeletingLastPathComponent("/"), "/");
    EXPECT_EQ(NSString::stringByDeletingLastPathComponent("scratch.tiff"), "");
    EXPECT_EQ(NSString::stringByDeletingPathExtension("/tmp/scratch.tiff"), "/tmp/scratch");
    EXPECT_EQ(NSString::stringByDeletingPathExtension("/tmp/"), "/tmp");
    EXPECT_EQ(NSString::stringByDeletingPathExtension("scratch.bundle/"), "scratch");
    EXPECT_EQ(NSString::stringByDeletingPathExtension("scratch..tiff"), "scratch.");
    EXPECT_EQ(NSString::stringByDeletingPathExtension(".tiff"), ".tiff");
    EXPECT_EQ(NSString::stringByDeletingPathExtension("/"), "/");
    EXPECT_EQ(NSString::stringByDeletingPathExtension("/a.b/c"), "/a.b/c");
}

TEST(NSStringPaths, AppendingExtension) {
    EXPECT_EQ(NSString::stringByAppendingPathExtension("/tmp/scratch.old", "tiff"), "/tmp/scratch.old.tiff");
    EXPECT_EQ(NSString::stringByAppendingPathExtension("/tmp/scratch.", "tiff"), "/tmp/scratch..tiff");
    EXPECT_EQ(NSString::stringByAppendingPathExtension("/tmp/", "tiff"), "/tmp.tiff");
    EXPECT_EQ(NSString::stringByAppendingPathExtension("scratch", "tiff"), "scratch.tiff");
    EXPECT_EQ(NSString::stringByAppendingPathExtension("", "tiff"), "");
    EXPECT_EQ(NSString::stringByAppendingPathExtension("/", "tiff"), "/");
    EXPECT_EQ(NSString::stringByAppendingPathExtension("a", "b/c"), "a");
}

TEST(NSStringPaths, Components) {
    using V = std::vector<std::string>;
    EXPECT_EQ(NSString::pathComponents("/tmp/scratch"), (V{"/", "tmp", "scratch"}));
    EXPECT_EQ(NSString::pathComponents("tmp/scratch/"), (V{"tmp", "scratch", "/"}));
    EXPECT_EQ(NSString::pathComponents("//a//b"), (V{"/", "a", "b"}));
    EXPECT_EQ(NSString::pathComponents("/"), (V{"/"}));
    EXPECT_EQ(NSString::pathComponents("///"), (V{"/"}));
    EXPECT_EQ(NSString::pathComponents(""), V{});
    EXPECT_EQ(NSString::pathWithComponents({"/", "tmp", "scratch"}), "/tmp/scratch");
    EXPECT_EQ(NSString::pathWithComponents({"a", "b"}), "a/b");
    EXPECT_TRUE(NSString::isAbsolutePath("/x"));
    EXPECT_TRUE(NSString::isAbsolutePath("~/x"));
    EXPECT_FALSE(NSString::isAbsolutePath("x"));
}

// "~" is the app's home, the sandbox root.
class NSStringHomeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = NSSandbox::root();
        ASSERT_TRUE(NSSandbox::setRoot(dir_.path()));
        home_ = NSHomeDirectory();
        while (home_.size() > 1 && home_.back() == '/') home_.pop_back();
    }
    void TearDown() override { NSSandbox::setRoot(previous_); }

    testsupport::TemporaryDirectory dir_;
    std::string previous_;
    std::string home_;
};

TEST_F(NSStringHomeTest, TildeExpansion) {
    EXPECT_EQ(NSString::stringByExpandingTildeInPath("~"), home_);
    EXPECT_EQ(NSString::stringByExpandingTildeInPath("~/Documents/a.txt"), home_ + "/Documents/a.txt");
    EXPECT_EQ(NSString::stringByExpandingTildeInPath("/abs/~/x"), "/abs/~/x");
    EXPECT_EQ(NSString::stringByExpandingTildeInPath("rel"), "rel");
    EXPECT_EQ(NSString::stringByExpandingTildeInPath("~no-such-user-here-xyz/a"), "~no-such-user-here-xyz/a");
    EXPECT_EQ(NSString::stringByAbbreviatingWithTildeInPath(home_ + "/Library"), "~/Library");
    EXPECT_EQ(NSString::stringByAbbreviatingWithTildeInPath(home_), "~");
    EXPECT_EQ(NSString::stringByAbbreviatingWithTildeInPath(home_ + "work"), home_ + "work");
}

TEST_F(NSStringHomeTest, RootUserHome) {
    // "~root" names another user's home folder.
    EXPECT_EQ(NSString::stringByExpandingTildeInPath("~root/x"), "/root/x");
}

TEST_F(NSStringHomeTest, Standardizing) {
    EXPECT_EQ(NSString::stringByStandardizingPath("~/a/./b/../c/"), home_ + "/a/c");
    EXPECT_EQ(NSString::stringByStandardizingPath("/../a//b/."), "/a/b");
    EXPECT_EQ(NSString::stringByStandardizingPath("a/../b"), "a/../b");
    EXPECT_EQ(NSString::stringByStandardizingPath("./a"), "a");
    EXPECT_EQ(NSString::stringByStandardizingPath(""), "");
    EXPECT_EQ(NSString::stringByStandardizingPath("/"), "/");
}

// ---------------------------------------------------------------------------------------------
// Encodings

TEST(NSStringEncoding, UTF8AndASCII) {
    auto data = NSString::dataUsingEncoding("\u4e2d", NSUTF8StringEncoding);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->view(), "\xe4\xb8\xad");
    EXPECT_FALSE(NSString::dataUsingEncoding("caf\u00e9", NSASCIIStringEncoding));
    EXPECT_EQ(NSString::dataUsingEncoding("caf\u00e9\U0001F600", NSASCIIStringEncoding, true)->view(),
              "caf??");
    EXPECT_TRUE(NSString::canBeConvertedToEncoding("Mozilla/5.0", NSASCIIStringEncoding));
    EXPECT_FALSE(NSString::canBeConvertedToEncoding("\u8f66\u53cb/1.0", NSASCIIStringEncoding));
    EXPECT_TRUE(NSString::canBeConvertedToEncoding("\u8f66", NSUTF8StringEncoding));
    EXPECT_EQ(NSString::lengthOfBytesUsingEncoding("\u4e2da", NSUTF8StringEncoding), 4u);
    EXPECT_EQ(NSString::lengthOfBytesUsingEncoding("\u4e2da", NSASCIIStringEncoding), 0u);
}

TEST(NSStringEncoding, LoneSurrogatesFailUTF8UnlessLossy) {
    std::string s = "a" + lone(0xD83D) + "b";
    EXPECT_FALSE(NSString::canBeConvertedToEncoding(s, NSUTF8StringEncoding));
    EXPECT_FALSE(NSString::dataUsingEncoding(s, NSUTF8StringEncoding));
    auto lossy = NSString::dataUsingEncoding(s, NSUTF8StringEncoding, true);
    ASSERT_TRUE(lossy);
    EXPECT_EQ(lossy->view(), "a?b");
    // A pair written as two separate halves joins again.
    std::string halves = lone(0xD83D) + lone(0xDE00);
    EXPECT_EQ(NSString::dataUsingEncoding(halves, NSUTF8StringEncoding)->view(), "\U0001F600");
}

TEST(NSStringEncoding, Latin1AndUTF16AndUTF32) {
    EXPECT_EQ(NSString::dataUsingEncoding("caf\u00e9", NSISOLatin1StringEncoding)->view(), "caf\xe9");
    EXPECT_FALSE(NSString::dataUsingEncoding("\u4e2d", NSISOLatin1StringEncoding));
    EXPECT_EQ(NSString::initWithData(NSData::fromString("caf\xe9"), NSISOLatin1StringEncoding), "caf\u00e9");

    auto be = NSString::dataUsingEncoding("A\U0001F600", NSUTF16BigEndianStringEncoding);
    EXPECT_EQ(be->view(), std::string("\x00\x41\xd8\x3d\xde\x00", 6));
    auto le = NSString::dataUsingEncoding("A", NSUTF16LittleEndianStringEncoding);
    EXPECT_EQ(le->view(), std::string("\x41\x00", 2));
    auto bom = NSString::dataUsingEncoding("A", NSUTF16StringEncoding);
    ASSERT_EQ(bom->length(), 4u);
    EXPECT_EQ(NSString::initWithData(*bom, NSUTF16StringEncoding), "A");
    EXPECT_EQ(NSString::initWithData(NSData::fromString(std::string("\x00\x41", 2)), NSUTF16StringEncoding),
              "A");
    EXPECT_EQ(
        NSString::initWithData(NSData::fromString(std::string("\xff\xfe\x41\x00", 4)), NSUTF16StringEncoding),
        "A");
    EXPECT_FALSE(NSString::initWithData(NSData::fromString(std::string("\x00", 1)), NSUTF16StringEncoding));

    auto u32 = NSString::dataUsingEncoding("\U0001F600", NSUTF32BigEndianStringEncoding);
    EXPECT_EQ(u32->view(), std::string("\x00\x01\xf6\x00", 4));
    EXPECT_EQ(NSString::initWithData(*u32, NSUTF32BigEndianStringEncoding), "\U0001F600");
    EXPECT_EQ(NSString::initWithData(*NSString::dataUsingEncoding("x\u00e9", NSUTF32StringEncoding),
                                     NSUTF32StringEncoding),
              "x\u00e9");
    EXPECT_FALSE(NSString::initWithData(NSData::fromString(std::string("\x00\x11\x00\x00", 4)),
                                        NSUTF32BigEndianStringEncoding));
    EXPECT_FALSE(NSString::initWithData(NSData::fromString("abc"), NSUTF32StringEncoding));
}

TEST(NSStringEncoding, DecodingUTF8IsStrict) {
    EXPECT_EQ(NSString::initWithData(NSData::fromString("\xef\xbb\xbf{}"), NSUTF8StringEncoding), "{}");
    EXPECT_FALSE(NSString::initWithData(NSData::fromString("ab\xff"), NSUTF8StringEncoding));
    EXPECT_FALSE(NSString::initWithData(NSData::fromString("\xed\xa0\xbd"), NSUTF8StringEncoding));
    EXPECT_FALSE(NSString::initWithData(NSData::fromString("\xe4\xb8"), NSUTF8StringEncoding));
    EXPECT_EQ(NSString::initWithData(NSData(), NSUTF8StringEncoding), "");
    EXPECT_FALSE(NSString::initWithData(NSData::fromString("\x80"), NSASCIIStringEncoding));
    EXPECT_EQ(NSString::initWithBytes(nullptr, 10, NSUTF8StringEncoding), "");
}

TEST(NSStringEncoding, ChineseEncodingsThroughICU) {
    std::string text = "\u4e2d\u6587abc";
    for (const char* name : {"GBK", "GB18030", "gb2312", "Big5"}) {
        SCOPED_TRACE(name);
        auto enc = NSString::encodingForIANACharSetName(name);
        ASSERT_TRUE(enc);
        auto data = NSString::dataUsingEncoding(text, *enc);
        ASSERT_TRUE(data);
        EXPECT_EQ(data->length(), 7u);
        EXPECT_EQ(NSString::initWithData(*data, *enc), text);
    }
    auto gbk = *NSString::encodingForIANACharSetName("gbk");
    EXPECT_EQ(NSString::dataUsingEncoding("\u4e2d", gbk)->view(), "\xd6\xd0");
    EXPECT_FALSE(NSString::dataUsingEncoding("\U0001F600", gbk));
    EXPECT_EQ(NSString::dataUsingEncoding("a\U0001F600", gbk, true)->view(), "a?");
    EXPECT_FALSE(NSString::initWithData(NSData::fromString("\xd6"), gbk));
    auto sjis = *NSString::encodingForIANACharSetName("Shift_JIS");
    EXPECT_EQ(NSString::initWithData(*NSString::dataUsingEncoding("\u65e5\u672c", sjis), sjis),
              "\u65e5\u672c");
}

TEST(NSStringEncoding, NonLossyASCII) {
    auto data = NSString::dataUsingEncoding("a\\\u4e2d", NSNonLossyASCIIStringEncoding);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->view(), "a\\\\\\u4e2d");
    EXPECT_EQ(NSString::initWithData(*data, NSNonLossyASCIIStringEncoding), "a\\\u4e2d");
    EXPECT_EQ(NSString::initWithData(NSData::fromString("\\351t\\u00E9"), NSNonLossyASCIIStringEncoding),
              "\u00e9t\u00e9");
    EXPECT_EQ(NSString::initWithData(NSData::fromString("\\x"), NSNonLossyASCIIStringEncoding), "\\x");
}

TEST(NSStringEncoding, UnknownEncodingsFail) {
    EXPECT_FALSE(NSString::dataUsingEncoding("abc", 0));
    EXPECT_FALSE(NSString::dataUsingEncoding("abc", 12345));
    EXPECT_FALSE(NSString::initWithData(NSData::fromString("abc"), 0));
    EXPECT_FALSE(NSString::canBeConvertedToEncoding("abc", 999));
    EXPECT_FALSE(NSString::dataUsingEncoding("abc", NSSymbolStringEncoding));
}

TEST(NSStringEncoding, IANANames) {
    EXPECT_EQ(CFStringConvertIANACharSetNameToEncoding("utf-8"), kCFStringEncodingUTF8);
    EXPECT_EQ(CFStringConvertIANACharSetNameToEncoding("UTF-8"), kCFStringEncodingUTF8);
    EXPECT_EQ(CFStringConvertIANACharSetNameToEncoding(" \"utf8\" "), kCFStringEncodingUTF8);
    EXPECT_EQ(CFStringConvertIANACharSetNameToEncoding("ISO-8859-1"), kCFStringEncodingISOLatin1);
    EXPECT_EQ(CFStringConvertIANACharSetNameToEncoding("latin1"), kCFStringEncodingISOLatin1);
    EXPECT_EQ(CFStringConvertIANACharSetNameToEncoding("csISOLatin1"), kCFStringEncodingISOLatin1);
    EXPECT_EQ(CFStringConvertIANACharSetNameToEncoding("us-ascii"), kCFStringEncodingASCII);
    EXPECT_EQ(CFStringConvertIANACharSetNameToEncoding("gbk"), kCFStringEncodingGBK_95);
    EXPECT_EQ(CFStringConvertIANACharSetNameToEncoding("no-such-charset"), kCFStringEncodingInvalidId);
    EXPECT_EQ(CFStringConvertIANACharSetNameToEncoding(""), kCFStringEncodingInvalidId);
    EXPECT_EQ(CFStringConvertIANACharSetNameToEncoding("ISO-2022-JP,version=1"), kCFStringEncodingInvalidId);

    EXPECT_EQ(CFStringConvertEncodingToNSStringEncoding(kCFStringEncodingUTF8), NSUTF8StringEncoding);
    EXPECT_EQ(CFStringConvertEncodingToNSStringEncoding(kCFStringEncodingASCII), NSASCIIStringEncoding);
    EXPECT_EQ(CFStringConvertEncodingToNSStringEncoding(kCFStringEncodingUTF16BE),
              NSUTF16BigEndianStringEncoding);
    EXPECT_EQ(CFStringConvertEncodingToNSStringEncoding(kCFStringEncodingGBK_95), 0x80000631UL);
    EXPECT_EQ(CFStringConvertEncodingToNSStringEncoding(kCFStringEncodingInvalidId),
              kCFStringEncodingInvalidId);
    EXPECT_EQ(CFStringConvertNSStringEncodingToEncoding(NSUTF8StringEncoding), kCFStringEncodingUTF8);
    EXPECT_EQ(CFStringConvertNSStringEncodingToEncoding(0x80000631UL), kCFStringEncodingGBK_95);
    EXPECT_EQ(CFStringConvertNSStringEncodingToEncoding(77), kCFStringEncodingInvalidId);
    EXPECT_EQ(CFStringConvertEncodingToIANACharSetName(kCFStringEncodingUTF8), "utf-8");
    EXPECT_FALSE(CFStringConvertEncodingToIANACharSetName(kCFStringEncodingInvalidId));
    EXPECT_TRUE(CFStringIsEncodingAvailable(kCFStringEncodingGB_18030_2000));
    EXPECT_FALSE(CFStringIsEncodingAvailable(kCFStringEncodingInvalidId));

    EXPECT_EQ(NSString::encodingForIANACharSetName("UTF-8"), NSUTF8StringEncoding);
    EXPECT_FALSE(NSString::encodingForIANACharSetName("x-nothing"));
    EXPECT_EQ(NSString::localizedNameOfStringEncoding(NSUTF8StringEncoding), "Unicode (UTF-8)");
}

TEST(NSStringEncoding, HostileCharsetNames) {
    const std::string seed = "ISO-8859-1";
    for (unsigned k = 0; k < 3000; ++k) {
        std::string name = testsupport::mutate(seed, k);
        CFStringEncoding cf = CFStringConvertIANACharSetNameToEncoding(name);
        if (cf != kCFStringEncodingInvalidId) {
            EXPECT_TRUE(CFStringConvertEncodingToIANACharSetName(cf).has_value()) << name;
        }
    }
    EXPECT_EQ(CFStringConvertIANACharSetNameToEncoding(std::string(100000, 'a')), kCFStringEncodingInvalidId);
    EXPECT_EQ(CFStringConvertIANACharSetNameToEncoding(std::string("utf-8\0x", 7)),
              kCFStringEncodingInvalidId);
}

TEST(NSStringEncoding, FuzzDecodingAndEncoding) {
    const std::string seed = "caf\u00e9 \u4e2d\u6587 \U0001F600 plain ascii";
    const NSStringEncoding encodings[] = {
        NSUTF8StringEncoding,
        NSASCIIStringEncoding,
        NSISOLatin1StringEncoding,
        NSUTF16StringEncoding,
        NSUTF16LittleEndianStringEncoding,
        NSUTF32StringEncoding,
        NSNonLossyASCIIStringEncoding,
        NSShiftJISStringEncoding,
        NSISO2022JPStringEncoding,
        *NSString::encodingForIANACharSetName("GBK"),
        *NSString::encodingForIANACharSetName("Big5"),
        NSMacOSRomanStringEncoding,
    };
    for (NSStringEncoding enc : encodings) {
        auto encoded = NSString::dataUsingEncoding(seed, enc, true);
        ASSERT_TRUE(encoded) << enc;
        std::string bytes = encoded->toString();
        for (unsigned k = 0; k < 300; ++k) {
            std::string damaged = testsupport::mutate(bytes, k);
            auto text = NSString::initWithData(NSData::fromString(damaged), enc);
            if (text) {
                // Whatever decodes is text that reads back into units without trouble.
                (void)NSString::length(*text);
                (void)NSString::dataUsingEncoding(*text, enc, true);
            }
            (void)NSString::canBeConvertedToEncoding(damaged, enc);
            (void)NSString::dataUsingEncoding(damaged, enc, false);
        }
    }
}

TEST(NSStringEncoding, FuzzStringOperationsOnInvalidText) {
    const std::string seed = "a\u00e9\u4e2d\U0001F600z e\u0301 1\u20E3 /tmp/x.png";
    for (unsigned k = 0; k < 500; ++k) {
        std::string s = testsupport::mutate(seed, k);
        std::size_t len = NSString::length(s);
        EXPECT_EQ(NSString::utf16(s).size(), len);
        auto ranges = NSString::composedCharacterSequenceRanges(s);
        std::size_t covered = 0;
        for (NSRange r : ranges) {
            EXPECT_EQ(r.location, covered);
            covered += r.length;
        }
        EXPECT_EQ(covered, len);
        (void)NSString::rangeOfString(s, "\u00e9", NSCaseInsensitiveSearch | NSDiacriticInsensitiveSearch);
        (void)NSString::substringWithRange(s, NSMakeRange(k % 7, k % 5));
        (void)NSString::stringByReplacingOccurrencesOfString(s, "e", "E");
        (void)NSString::uppercaseString(s);
        (void)NSString::capitalizedString(s);
        (void)NSString::compare(s, seed, NSNumericSearch | NSCaseInsensitiveSearch);
        (void)NSString::stringByStandardizingPath(s);
        (void)NSString::lastPathComponent(s);
        (void)NSString::pathExtension(s);
    }
}
