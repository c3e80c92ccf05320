// Percent escaping and unescaping of URL text.

#include <gtest/gtest.h>

#include "foundation/NSCharacterSet.h"
#include "foundation/NSString.h"
#include "tests/support/TestSupport.h"

namespace {

// The query-string rules: values escape everything but letters, digits and "-._~"; field names
// keep "[]." too.
const char kForceEscaped[] = ":/?&=;+!@#$()',*";

std::string escapeValue(const std::string& s) {
    return CFURLCreateStringByAddingPercentEscapes(s, std::nullopt, std::string_view(kForceEscaped),
                                                   kCFStringEncodingUTF8)
        .value_or("<nil>");
}

std::string escapeField(const std::string& s) {
    return CFURLCreateStringByAddingPercentEscapes(s, std::string_view("[]."),
                                                   std::string_view(kForceEscaped), kCFStringEncodingUTF8)
        .value_or("<nil>");
}

}  // namespace

TEST(PercentEscapes, QueryValuesKeepOnlyUnreservedCharacters) {
    EXPECT_EQ(escapeValue("\u4e2d"), "%E4%B8%AD");
    EXPECT_EQ(escapeValue("a b"), "a%20b");
    EXPECT_EQ(escapeValue("a+b"), "a%2Bb");
    std::string all;
    for (char c = 0x20; c < 0x7F; ++c) all.push_back(c);
    std::string escaped = escapeValue(all);
    std::string kept;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] == '%') {
            i += 2;
        } else {
            kept.push_back(escaped[i]);
        }
    }
    EXPECT_EQ(kept, "-.0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz~");
    EXPECT_EQ(escapeValue("100%"), "100%25");
    EXPECT_EQ(escapeValue("[x]"), "%5Bx%5D");
    EXPECT_EQ(escapeValue("\U0001F600"), "%F0%9F%98%80");
}

TEST(PercentEscapes, FieldNamesKeepBrackets) {
    EXPECT_EQ(escapeField("user[name]"), "user[name]");
    EXPECT_EQ(escapeField("a.b[]"), "a.b[]");
    EXPECT_EQ(escapeField("a b&c"), "a%20b%26c");
}

TEST(PercentEscapes, DefaultLegalCharactersStay) {
    auto s = CFURLCreateStringByAddingPercentEscapes("http://h/p?q=1&r=a b#f|\"<>^`{}\\%", std::nullopt,
                                                     std::nullopt, kCFStringEncodingUTF8);
    ASSERT_TRUE(s);
    EXPECT_EQ(*s, "http://h/p?q=1&r=a%20b#f%7C%22%3C%3E%5E%60%7B%7D%5C%25");
    EXPECT_EQ(NSString::stringByAddingPercentEscapesUsingEncoding("a b/\u00e9", NSUTF8StringEncoding),
              "a%20b/%C3%A9");
    EXPECT_EQ(NSString::stringByAddingPercentEscapesUsingEncoding("\u00e9", NSISOLatin1StringEncoding),
              "%E9");
}

TEST(PercentEscapes, URLPropertyRule) {
    // Leaving the URL's own marks and existing escapes as they are.
    auto s = CFURLCreateStringByAddingPercentEscapes("http://x.cn/a b/%E4?k=[1]#top",
                                                     std::string_view("!$&'()*+,-./:;=?@_~%#[]"),
                                                     std::nullopt, kCFStringEncodingUTF8);
    EXPECT_EQ(s, "http://x.cn/a%20b/%E4?k=[1]#top");
}

TEST(PercentEscapes, ReservedSetOfTheOpenAPI) {
    auto s = CFURLCreateStringByAddingPercentEscapes("a=b&c d/\u4e2d!*'();:@+$,?%#[]", std::nullopt,
                                                     std::string_view("!*'();:@&=+$,/?%#[]"),
                                                     kCFStringEncodingUTF8);
    EXPECT_EQ(s, "a%3Db%26c%20d%2F%E4%B8%AD%21%2A%27%28%29%3B%3A%40%2B%24%2C%3F%25%23%5B%5D");
}

TEST(PercentEscapes, EncodingFailures) {
    // A character the encoding cannot hold, a lone surrogate, an unknown encoding.
    EXPECT_FALSE(CFURLCreateStringByAddingPercentEscapes("\u4e2d", std::nullopt, std::nullopt,
                                                         kCFStringEncodingISOLatin1));
    EXPECT_FALSE(CFURLCreateStringByAddingPercentEscapes(NSString::fromUTF16(u"\xD83D"), std::nullopt,
                                                         std::nullopt, kCFStringEncodingUTF8));
    EXPECT_FALSE(
        CFURLCreateStringByAddingPercentEscapes("a", std::nullopt, std::nullopt, kCFStringEncodingInvalidId));
    EXPECT_FALSE(CFURLCreateStringByAddingPercentEscapes("a b", std::nullopt, std::nullopt, 0x7777));
    // Escaped text in GBK: each character becomes its two bytes.
    auto gbk = CFURLCreateStringByAddingPercentEscapes("\u4e2d", std::nullopt, std::nullopt,
                                                       kCFStringEncodingGBK_95);
    EXPECT_EQ(gbk, "%D6%D0");
}

TEST(PercentEscapes, AllowedCharacterSets) {
    auto query = NSCharacterSet::URLQueryAllowedCharacterSet();
    EXPECT_EQ(NSString::stringByAddingPercentEncodingWithAllowedCharacters("a b=\u4e2d&x#", query),
              "a%20b=%E4%B8%AD&x%23");
    EXPECT_EQ(NSString::stringByAddingPercentEncodingWithAllowedCharacters("", query), "");
    EXPECT_FALSE(
        NSString::stringByAddingPercentEncodingWithAllowedCharacters(NSString::fromUTF16(u"a\xDC00"), query));
    // The strict form: only unreserved characters stay.
    auto unreserved = NSCharacterSet::characterSetWithCharactersInString(
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~");
    EXPECT_EQ(NSString::stringByAddingPercentEncodingWithAllowedCharacters("a+b c/\"", unreserved),
              "a%2Bb%20c%2F%22");
    // A non-ASCII member is kept as its own UTF-8 text.
    auto wide = NSCharacterSet::characterSetWithCharactersInString("\u4e2d");
    EXPECT_EQ(NSString::stringByAddingPercentEncodingWithAllowedCharacters("\u4e2d\u6587", wide),
              "\u4e2d%E6%96%87");
}

TEST(PercentEscapes, RemovingEncoding) {
    EXPECT_EQ(NSString::stringByRemovingPercentEncoding("a%20b%E4%B8%AD+"), "a b\u4e2d+");
    EXPECT_EQ(NSString::stringByRemovingPercentEncoding("%e4%b8%ad"), "\u4e2d");
    EXPECT_EQ(NSString::stringByRemovingPercentEncoding(""), "");
    EXPECT_EQ(NSString::stringByRemovingPercentEncoding("plain"), "plain");
    EXPECT_EQ(NSString::stringByRemovingPercentEncoding("%2525"), "%25");
    for (const char* bad : {"%", "%2", "%zz", "a%g0", "%E4%B8", "%FF", "%C0%AF", "%ED%A0%80", "50%"}) {
        EXPECT_FALSE(NSString::stringByRemovingPercentEncoding(bad)) << bad;
    }
}

TEST(PercentEscapes, ReplacingWithEncoding) {
    EXPECT_EQ(NSString::stringByReplacingPercentEscapesUsingEncoding("a%20%E4%B8%AD", NSUTF8StringEncoding),
              "a \u4e2d");
    EXPECT_EQ(NSString::stringByReplacingPercentEscapesUsingEncoding("caf%E9", NSISOLatin1StringEncoding),
              "caf\u00e9");
    EXPECT_FALSE(NSString::stringByReplacingPercentEscapesUsingEncoding("caf%E9", NSUTF8StringEncoding));
    EXPECT_FALSE(NSString::stringByReplacingPercentEscapesUsingEncoding("%4", NSUTF8StringEncoding));
    auto gbk = *NSString::encodingForIANACharSetName("GBK");
    EXPECT_EQ(NSString::stringByReplacingPercentEscapesUsingEncoding("%D6%D0%CE%C4", gbk), "\u4e2d\u6587");

    EXPECT_EQ(CFURLCreateStringByReplacingPercentEscapes("a%2Fb%20c", "/"), "a%2Fb c");
    EXPECT_EQ(CFURLCreateStringByReplacingPercentEscapes("%E4%B8%AD%2F", ""), "\u4e2d/");
    EXPECT_EQ(CFURLCreateStringByReplacingPercentEscapes("%e4%b8%ad", "\u4e2d"), "%e4%b8%ad");
    EXPECT_FALSE(CFURLCreateStringByReplacingPercentEscapes("%E4%B8", ""));
    EXPECT_FALSE(CFURLCreateStringByReplacingPercentEscapes("%%", ""));
}

TEST(PercentEscapes, RoundTrip) {
    const std::string texts[] = {
        "", "plain", "a b+c&d=e/f?g#h", "\u4e2d\u6587 \U0001F600", "100% [sure]", "\t\n\r"};
    for (const std::string& text : texts) {
        auto escaped = CFURLCreateStringByAddingPercentEscapes(
            text, std::nullopt, std::string_view("!*'();:@&=+$,/?%#[]"), kCFStringEncodingUTF8);
        ASSERT_TRUE(escaped) << text;
        EXPECT_EQ(NSString::stringByRemovingPercentEncoding(*escaped), text);
        EXPECT_EQ(NSString::stringByReplacingPercentEscapesUsingEncoding(*escaped, NSUTF8StringEncoding),
                  text);
        EXPECT_EQ(CFURLCreateStringByReplacingPercentEscapes(*escaped, ""), text);
    }
}

TEST(PercentEscapes, FuzzUnescaping) {
    const std::string seed = "a%20b%E4%B8%AD%2F%25c+d%F0%9F%98%80";
    for (unsigned k = 0; k < 5000; ++k) {
        std::string s = testsupport::mutate(seed, k);
        auto removed = NSString::stringByRemovingPercentEncoding(s);
        if (removed) {
            // What comes out is valid UTF-8 that escapes back to text which unescapes to it again.
            auto again = NSString::stringByAddingPercentEncodingWithAllowedCharacters(
                *removed, NSCharacterSet::URLQueryAllowedCharacterSet().invertedSet().invertedSet());
            ASSERT_TRUE(again);
            auto full = CFURLCreateStringByAddingPercentEscapes(
                *removed, std::nullopt, std::string_view("!*'();:@&=+$,/?%#[]"), kCFStringEncodingUTF8);
            ASSERT_TRUE(full);
            EXPECT_EQ(NSString::stringByRemovingPercentEncoding(*full), removed);
        }
        (void)NSString::stringByReplacingPercentEscapesUsingEncoding(s, NSUTF8StringEncoding);
        (void)NSString::stringByReplacingPercentEscapesUsingEncoding(s, NSShiftJISStringEncoding);
        (void)CFURLCreateStringByReplacingPercentEscapes(s, "/%");
        (void)CFURLCreateStringByAddingPercentEscapes(s, std::string_view(s).substr(0, k % 5), std::nullopt,
                                                      kCFStringEncodingUTF8);
    }
}
