#include "foundation/NSCharacterSet.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "foundation/NSString.h"
#include "tests/support/TestSupport.h"

TEST(NSCharacterSet, WhitespaceAndNewlines) {
    auto ws = NSCharacterSet::whitespaceCharacterSet();
    EXPECT_TRUE(ws.characterIsMember(u' '));
    EXPECT_TRUE(ws.characterIsMember(u'\t'));
    EXPECT_TRUE(ws.characterIsMember(0x3000));  // ideographic space
    EXPECT_TRUE(ws.characterIsMember(0x00A0));
    EXPECT_FALSE(ws.characterIsMember(u'\n'));
    EXPECT_FALSE(ws.characterIsMember(u'a'));

    auto wsnl = NSCharacterSet::whitespaceAndNewlineCharacterSet();
    for (unichar c :
         {u' ', u'\t', u'\n', u'\r', u'\v', u'\f', char16_t(0x85), char16_t(0x2028), char16_t(0x2029)}) {
        EXPECT_TRUE(wsnl.characterIsMember(c)) << std::hex << static_cast<int>(c);
    }
    EXPECT_FALSE(wsnl.characterIsMember(u'x'));

    auto nl = NSCharacterSet::newlineCharacterSet();
    EXPECT_TRUE(nl.characterIsMember(u'\n'));
    EXPECT_TRUE(nl.characterIsMember(0x2028));
    EXPECT_FALSE(nl.characterIsMember(u' '));
}

TEST(NSCharacterSet, UnicodeClasses) {
    auto digits = NSCharacterSet::decimalDigitCharacterSet();
    EXPECT_TRUE(digits.characterIsMember(u'0'));
    EXPECT_TRUE(digits.characterIsMember(u'9'));
    EXPECT_TRUE(digits.characterIsMember(0x0661));  // Arabic-Indic one
    EXPECT_TRUE(digits.characterIsMember(0xFF10));  // full-width zero
    EXPECT_FALSE(digits.characterIsMember(u'a'));
    EXPECT_FALSE(digits.characterIsMember(0x00B2));  // superscript two is no decimal digit

    auto letters = NSCharacterSet::letterCharacterSet();
    EXPECT_TRUE(letters.characterIsMember(u'a'));
    EXPECT_TRUE(letters.characterIsMember(0x4E2D));
    EXPECT_TRUE(letters.characterIsMember(0x0301));  // marks count as letters
    EXPECT_FALSE(letters.characterIsMember(u'1'));
    EXPECT_FALSE(letters.characterIsMember(u' '));

    auto upper = NSCharacterSet::uppercaseLetterCharacterSet();
    EXPECT_TRUE(upper.characterIsMember(u'A'));
    EXPECT_TRUE(upper.characterIsMember(0x01C5));  // title case Dž
    EXPECT_FALSE(upper.characterIsMember(u'a'));
    EXPECT_TRUE(NSCharacterSet::lowercaseLetterCharacterSet().characterIsMember(u'a'));
    EXPECT_TRUE(NSCharacterSet::capitalizedLetterCharacterSet().characterIsMember(0x01C5));

    auto alnum = NSCharacterSet::alphanumericCharacterSet();
    EXPECT_TRUE(alnum.characterIsMember(u'a'));
    EXPECT_TRUE(alnum.characterIsMember(u'5'));
    EXPECT_TRUE(alnum.characterIsMember(0x00B2));
    EXPECT_FALSE(alnum.characterIsMember(u'-'));

    EXPECT_TRUE(NSCharacterSet::punctuationCharacterSet().characterIsMember(u','));
    EXPECT_TRUE(
        NSCharacterSet::punctuationCharacterSet().characterIsMember(0x3002));  // ideographic full stop
    EXPECT_FALSE(NSCharacterSet::punctuationCharacterSet().characterIsMember(u'+'));
    EXPECT_TRUE(NSCharacterSet::symbolCharacterSet().characterIsMember(u'+'));
    EXPECT_TRUE(NSCharacterSet::controlCharacterSet().characterIsMember(0x07));
    EXPECT_TRUE(NSCharacterSet::controlCharacterSet().characterIsMember(0x200B));  // format character
    EXPECT_TRUE(NSCharacterSet::nonBaseCharacterSet().characterIsMember(0x0301));
    EXPECT_TRUE(NSCharacterSet::decomposableCharacterSet().characterIsMember(0x00E9));
    EXPECT_FALSE(NSCharacterSet::decomposableCharacterSet().characterIsMember(u'e'));
    EXPECT_TRUE(NSCharacterSet::illegalCharacterSet().longCharacterIsMember(0x10FFFF));
    EXPECT_FALSE(NSCharacterSet::illegalCharacterSet().characterIsMember(u'a'));
}

TEST(NSCharacterSet, SupplementaryCharacters) {
    auto letters = NSCharacterSet::letterCharacterSet();
    EXPECT_TRUE(letters.longCharacterIsMember(0x20000));  // CJK extension B
    EXPECT_FALSE(letters.longCharacterIsMember(0x1F600));
    EXPECT_TRUE(NSCharacterSet::symbolCharacterSet().longCharacterIsMember(0x1F600));
    EXPECT_FALSE(letters.longCharacterIsMember(0x110000));
    EXPECT_FALSE(letters.longCharacterIsMember(0xFFFFFFFF));
    EXPECT_TRUE(letters.hasMemberInPlane(0));
    EXPECT_TRUE(letters.hasMemberInPlane(2));
    EXPECT_FALSE(letters.hasMemberInPlane(17));
    EXPECT_FALSE(letters.hasMemberInPlane(255));
}

TEST(NSCharacterSet, AllowedPasswordCharacters) {
    // The 63 characters a password may hold: letters, digits and the underscore.
    auto allowed = NSCharacterSet::characterSetWithCharactersInString(
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_");
    int members = 0;
    for (char32_t c = 0; c < 0x80; ++c) members += allowed.longCharacterIsMember(c);
    EXPECT_EQ(members, 63);
    EXPECT_TRUE(allowed.characterIsMember(u'_'));
    EXPECT_FALSE(allowed.characterIsMember(u'-'));
    EXPECT_FALSE(allowed.characterIsMember(0x4E2D));
    auto outside = allowed.invertedSet();
    EXPECT_EQ(NSString::rangeOfCharacterFromSet("abc_123", outside).location, NSNotFound);
    EXPECT_EQ(NSString::rangeOfCharacterFromSet("abc 123", outside), NSMakeRange(3, 1));
}

TEST(NSCharacterSet, StringAndRangeConstruction) {
    auto set = NSCharacterSet::characterSetWithCharactersInString("a\u4e2d\U0001F600");
    EXPECT_TRUE(set.characterIsMember(u'a'));
    EXPECT_TRUE(set.characterIsMember(0x4E2D));
    EXPECT_TRUE(set.longCharacterIsMember(0x1F600));
    EXPECT_FALSE(set.characterIsMember(0xD83D));  // half of the pair is not a member
    EXPECT_TRUE(NSCharacterSet::characterSetWithCharactersInString("").isEmpty());
    // Invalid bytes add the replacement character.
    EXPECT_TRUE(NSCharacterSet::characterSetWithCharactersInString("\xff").characterIsMember(0xFFFD));

    auto range = NSCharacterSet::characterSetWithRange(NSMakeRange('a', 3));
    EXPECT_TRUE(range.characterIsMember(u'a'));
    EXPECT_TRUE(range.characterIsMember(u'c'));
    EXPECT_FALSE(range.characterIsMember(u'd'));
    EXPECT_TRUE(NSCharacterSet::characterSetWithRange(NSMakeRange(5, 0)).isEmpty());
    EXPECT_TRUE(NSCharacterSet::characterSetWithRange(NSMakeRange(0x200000, 5)).isEmpty());
    auto clipped = NSCharacterSet::characterSetWithRange(NSMakeRange(0x10FFFE, NSNotFound));
    EXPECT_TRUE(clipped.longCharacterIsMember(0x10FFFF));
    EXPECT_FALSE(clipped.longCharacterIsMember(0x10FFFD));
    auto everything = NSCharacterSet::characterSetWithRange(NSMakeRange(0, NSNotFound));
    EXPECT_TRUE(everything.longCharacterIsMember(0));
    EXPECT_TRUE(everything.longCharacterIsMember(0x10FFFF));
}

TEST(NSCharacterSet, InversionAndMutationAreCopyOnWrite) {
    auto digits = NSCharacterSet::decimalDigitCharacterSet();
    auto copy = digits;
    copy.addCharactersInString("x");
    copy.removeCharactersInString("5");
    EXPECT_TRUE(copy.characterIsMember(u'x'));
    EXPECT_FALSE(copy.characterIsMember(u'5'));
    EXPECT_FALSE(digits.characterIsMember(u'x'));
    EXPECT_TRUE(digits.characterIsMember(u'5'));
    EXPECT_TRUE(NSCharacterSet::decimalDigitCharacterSet().characterIsMember(u'5'));

    auto inverted = digits.invertedSet();
    EXPECT_FALSE(inverted.characterIsMember(u'1'));
    EXPECT_TRUE(inverted.characterIsMember(u'a'));
    EXPECT_TRUE(inverted.longCharacterIsMember(0x1F600));
    EXPECT_EQ(inverted.invertedSet(), digits);

    NSMutableCharacterSet set;
    EXPECT_TRUE(set.isEmpty());
    set.addCharactersInRange(NSMakeRange('a', 26));
    set.removeCharactersInRange(NSMakeRange('m', 2));
    EXPECT_TRUE(set.characterIsMember(u'l'));
    EXPECT_FALSE(set.characterIsMember(u'm'));
    EXPECT_FALSE(set.characterIsMember(u'n'));
    set.formUnionWithCharacterSet(NSCharacterSet::decimalDigitCharacterSet());
    EXPECT_TRUE(set.characterIsMember(u'7'));
    set.formIntersectionWithCharacterSet(NSCharacterSet::characterSetWithRange(NSMakeRange('0', 80)));
    EXPECT_TRUE(set.characterIsMember(u'a'));
    EXPECT_FALSE(set.characterIsMember(0x0661));
    set.invert();
    EXPECT_FALSE(set.characterIsMember(u'a'));
    EXPECT_TRUE(set.characterIsMember(u'm'));
    // Union and intersection with itself keep the set.
    auto self = NSCharacterSet::characterSetWithCharactersInString("ab");
    self.formUnionWithCharacterSet(self);
    self.formIntersectionWithCharacterSet(self);
    EXPECT_EQ(self, NSCharacterSet::characterSetWithCharactersInString("ba"));
}

TEST(NSCharacterSet, SupersetsAndDescription) {
    auto alnum = NSCharacterSet::alphanumericCharacterSet();
    EXPECT_TRUE(alnum.isSupersetOfSet(NSCharacterSet::decimalDigitCharacterSet()));
    EXPECT_FALSE(NSCharacterSet::decimalDigitCharacterSet().isSupersetOfSet(alnum));
    EXPECT_TRUE(alnum.isSupersetOfSet(NSCharacterSet()));
    EXPECT_EQ(NSCharacterSet::characterSetWithRange(NSMakeRange('a', 3)).description(), "[a-c]");
}

TEST(NSCharacterSet, URLAllowedSets) {
    auto query = NSCharacterSet::URLQueryAllowedCharacterSet();
    for (char c : std::string("abcXYZ019-._~!$&'()*+,;=:@/?")) EXPECT_TRUE(query.characterIsMember(c)) << c;
    for (char c : std::string(" \"#%<>[\\]^`{|}")) EXPECT_FALSE(query.characterIsMember(c)) << c;
    EXPECT_FALSE(query.characterIsMember(0x4E2D));

    auto path = NSCharacterSet::URLPathAllowedCharacterSet();
    EXPECT_TRUE(path.characterIsMember(u'/'));
    EXPECT_FALSE(path.characterIsMember(u'?'));
    EXPECT_FALSE(path.characterIsMember(u';'));
    auto host = NSCharacterSet::URLHostAllowedCharacterSet();
    EXPECT_TRUE(host.characterIsMember(u'['));
    EXPECT_FALSE(host.characterIsMember(u'/'));
    auto user = NSCharacterSet::URLUserAllowedCharacterSet();
    EXPECT_FALSE(user.characterIsMember(u':'));
    EXPECT_FALSE(user.characterIsMember(u'@'));
    EXPECT_EQ(NSCharacterSet::URLPasswordAllowedCharacterSet(), user);
    auto fragment = NSCharacterSet::URLFragmentAllowedCharacterSet();
    EXPECT_TRUE(fragment.characterIsMember(u'?'));
    EXPECT_FALSE(fragment.characterIsMember(u'#'));
}

TEST(NSCharacterSet, SharedAcrossThreads) {
    auto letters = NSCharacterSet::letterCharacterSet();
    std::vector<std::thread> threads;
    std::atomic<int> misses{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            auto mine = letters;
            mine.addCharactersInString(std::to_string(t));
            for (char32_t c = 0; c < 0x3000; ++c) {
                if (letters.longCharacterIsMember(c) !=
                    NSCharacterSet::letterCharacterSet().longCharacterIsMember(c)) {
                    ++misses;
                }
            }
            if (!mine.characterIsMember(static_cast<unichar>('0' + t))) ++misses;
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(misses.load(), 0);
    EXPECT_FALSE(letters.characterIsMember(u'0'));
}

TEST(NSCharacterSet, FuzzStringConstruction) {
    const std::string seed = "abc\u00e9\u4e2d\U0001F600";
    for (unsigned k = 0; k < 1000; ++k) {
        std::string s = testsupport::mutate(seed, k);
        auto set = NSCharacterSet::characterSetWithCharactersInString(s);
        // Every code point read from the text is a member.
        for (std::size_t i = 0; i < s.size();) {
            char32_t c = detail::decodeUTF8(s, i);
            EXPECT_TRUE(set.longCharacterIsMember(c));
        }
        set.removeCharactersInString(s);
        EXPECT_TRUE(set.isEmpty());
    }
}
