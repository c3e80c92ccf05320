// data: URLs as a page writes them: base64 and percent-encoded data, media types and charsets,
// fragments, what browsers forgive (white space in base64, missing padding, stray percent signs)
// and what they do not, and the byte bound checked before anything is decoded.

#include <gtest/gtest.h>

#include <string>

#include "web/WebDataURL.h"

namespace {

using detail::isDataURL;
using detail::readDataURL;

TEST(WebDataURLTest, WellFormedURLsGiveTheirBytesMediaTypeAndCharset) {
    struct Case {
        std::string url, bytes, mediaType, charset;
        bool base64;
    } cases[] = {
        {"data:,Hello%2C%20World!", "Hello, World!", "text/plain", "US-ASCII", false},
        {"data:text/plain;base64,SGVsbG8sIFdvcmxkIQ==", "Hello, World!", "text/plain", "", true},
        {"DATA:Image/PNG;BASE64,AAEC", std::string("\0\1\2", 3), "image/png", "", true},
        {"  data:image/gif;base64,AAEC  ", std::string("\0\1\2", 3), "image/gif", "", true},
        {"data:text/html;charset=GBK,%D6%D0", "\xD6\xD0", "text/html", "GBK", false},
        {"data:text/css;charset=\"utf-8\";base64,cHt9", "p{}", "text/css", "utf-8", true},
        {"data:;charset=utf-8,x", "x", "text/plain", "utf-8", false},
        {"data:image/png;base64,AA\nEC", std::string("\0\1\2", 3), "image/png", "", true},
        {"data:image/png;base64,AA%20EC", std::string("\0\1\2", 3), "image/png", "", true},
        {"data:;base64,QQ", "A", "text/plain", "", true},
        {"data:;base64,QUI", "AB", "text/plain", "", true},
        {"data:,a#fragment", "a", "text/plain", "US-ASCII", false},
        {"data:,100%25 and %zz and %4", "100% and %zz and %4", "text/plain", "US-ASCII", false},
        {"data:,", "", "text/plain", "US-ASCII", false},
        {"data:image/svg+xml;utf8,<svg/>", "<svg/>", "image/svg+xml", "", false},
        {"data:text/plain;base64x,QQ", "QQ", "text/plain", "", false},
        {"data:nonsense;charset=koi8-r,x", "x", "text/plain", "koi8-r", false},
    };
    for (const auto& c : cases) {
        std::string error;
        auto read = readDataURL(c.url, 1 << 20, &error);
        ASSERT_TRUE(read) << c.url << ": " << error;
        EXPECT_EQ(read->bytes, c.bytes) << c.url;
        EXPECT_EQ(read->mediaType, c.mediaType) << c.url;
        EXPECT_EQ(read->charset, c.charset) << c.url;
        EXPECT_EQ(read->base64, c.base64) << c.url;
    }
}

TEST(WebDataURLTest, MalformedURLsAreRefusedWithAReason) {
    const std::string cases[] = {
        "",
        "data",
        "data:",
        "data:text/plain",
        "http://site.test/a,b",
        "dat:,x",
        "data:;base64,Q",         // a length no base64 has
        "data:;base64,Q===",      // padding where data should be
        "data:;base64,QQ==QQ==",  // data after the padding
        "data:;base64,!!!!",      // outside the alphabet
        "data:;base64,QQ%3D%3D%3D",
        "data:" + std::string(2000, 'x') + ",a",  // a media type past its bound
    };
    for (const auto& url : cases) {
        std::string error;
        EXPECT_FALSE(readDataURL(url, 1 << 20, &error)) << url;
        EXPECT_FALSE(error.empty()) << url;
    }
}

TEST(WebDataURLTest, TheByteBoundIsCheckedBeforeDecodingAndCountsWhatDecodes) {
    struct Case {
        std::string url;
        std::size_t most;
        bool read;
    } cases[] = {
        {"data:,abcd", 4, true},
        {"data:,abcde", 4, false},
        {"data:,%61%62%63%64", 4, true},
        {"data:,%61%62%63%64%65", 4, false},
        {"data:;base64,YWJj", 3, true},
        {"data:;base64,YWJjZA==", 3, false},
        {"data:;base64,YWJjZA", 3, false},
        // White space that decodes to nothing does not count.
        {"data:;base64,Y W J j" + std::string(100, ' '), 3, true},
        {"data:;base64,YWJj%0A%0A%0A%0A%0A%0A%0A%0A", 3, true},
        {"data:;base64," + std::string(1 << 20, 'A'), 1000, false},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(readDataURL(c.url, c.most, &error).has_value(), c.read)
            << c.url.substr(0, 60) << ": " << error;
    }
}

TEST(WebDataURLTest, OnlyTheDataSchemeIsOne) {
    EXPECT_TRUE(isDataURL("data:,x"));
    EXPECT_TRUE(isDataURL(" DaTa:"));
    EXPECT_FALSE(isDataURL("data"));
    EXPECT_FALSE(isDataURL("xdata:,x"));
    EXPECT_FALSE(isDataURL("http://data:80/"));
    EXPECT_FALSE(isDataURL(""));
}

}  // namespace
