// Stylesheets bounded before the layout engine reads them: ordinary sheets come out byte for
// byte; rules nested too deep, selectors too long, rules inside declarations and stray braces
// go whole; what is open at the end is closed; the characters the engine misreads inside
// strings, url() and escapes are written in a form it cannot misread; hostile sheets come out
// small.

#include <gtest/gtest.h>

#include <string>

#include "web/WebDefaultStyleSheet.h"
#include "web/WebStyleSheetSource.h"

namespace {

using detail::boundedStyleSheet;
using detail::WebStyleSheetInfo;
using detail::WebStyleSheetLimits;

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

std::size_t count(const std::string& s, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + what.size())) ++n;
    return n;
}

const char* kQuestionSheet = R"css(
body { margin: 0; padding: 0 10px; font-size: 15px; color: #333333; line-height: 1.6;
       font-family: "Helvetica Neue", sans-serif; word-wrap: break-word; }
p { margin: 0 0 8px 0; }
img { display: block; margin: 6px 0; border-radius: 4px; }
a { color: #2a7ae2; text-decoration: none; }
)css";

TEST(WebStyleSheetSourceTest, SheetsAreWrittenBackAsTheyCameOrBoundedAndRepaired) {
    struct Case {
        const char* name;
        std::string in;
        std::string out;  // "=" when the sheet must come back unchanged
    };
    const std::string same = "=";
    const Case cases[] = {
        // Ordinary sheets.
        {"question page", kQuestionSheet, same},
        {"the default style", detail::webDefaultStyleSheet(), same},
        {"the app's picture width", "img{max-width:355.000000px}", same},
        {"nested at-rules within the depth",
         "@media screen and (max-width:600px){@supports (display:grid){.a>.b+.c~d{color:red}}}", same},
        {"four blocks deep", "@media a{@media b{@media c{x{color:red}}}}", same},
        {"at-rules ending in ';'", "@charset \"utf-8\";\n@import url(\"x.css\") screen;@import 'y.css';",
         same},
        {"comments, strings and urls",
         "/* } { \" */a{content:\"a;b\\\"\";background:url(data:image/png;base64,AA/A=)}", same},
        {"font face and keyframes",
         "@font-face{font-family:x;src:url(f.woff)}@keyframes k{from{opacity:0}50%{opacity:.5}to{opacity:1}}",
         same},
        {"selectors", "a[href$=\".pdf\" i]:not(.x, .y)::before, li:nth-child(2n + 1) > b{content:'\\201C'}",
         same},
        {"32 compounds", repeat("a ", 31) + "a{x:y}", same},
        {"a long selector list", repeat("a b c, ", 40) + "d{x:y}", same},
        {"CRLF", "a{color:red}\r\nb{\r\n  color:blue;\r\n}\r\n", same},
        {"line continuation in a string", "a{content:\"x\\\r\ny\"}", same},
        {"a trailing prelude", "a{}b c", same},
        {"empty", "", same},
        // Depth.
        {"five blocks deep", "@media a{@media b{@media c{@media d{x{color:red}}}}}y{color:blue}",
         "@media a{@media b{@media c{@media d{}}}}y{color:blue}"},
        // Selectors.
        {"a selector past its bytes", repeat("a ", 600) + "{color:red}b{color:blue}", "b{color:blue}"},
        {"33 compounds", repeat("a ", 32) + "a{x:y} b{}", " b{}"},
        {"33 combinators", "a" + repeat(">", 33) + "b{x:y}c{}", "c{}"},
        {"a long at-rule prelude", "@media " + repeat("x", 1100) + "{a{}}b{}", "b{}"},
        // Braces the engine would misread.
        {"'}' in a string", "a{content:\"}\"}b{}", "a{content:\"\\7d \"}b{}"},
        {"'{' in a string", "a{content:'{'}", "a{content:'\\7b '}"},
        {"'}' in a comment", "/*}*/a{}", same},
        {"'}' in url()", "a{background:url(x}.png)}b{}", "a{background:url(x%7D.png)}b{}"},
        {"escaped quote then '}'", "a{content:\"\\\"}\"}", "a{content:\"\\\"\\7d \"}"},
        {"escaped backslash ends the string", "a{content:\"\\\\\"}b{}", same},
        {"escaped brace in a selector", ".a\\{b{}", ".a\\7b b{}"},
        {"'/*' in a string", "a{content:\"/*\"}", "a{content:\"/\\*\"}"},
        {"'/*' in url()", "a{b:url(/*.png)}", "a{b:url(/%2A.png)}"},
        {"';' in an at-rule's string", "@import \"a;b\";", "@import \"a\\3b b\";"},
        {"a comment between '/' and '*'", "a{x:1//**/*2}", "a{x:1/ *2}"},
        {"a bad string ends at the line", "a{content:\"x\n}b{}", same},
        {"NUL", std::string("a{content:\"\0\"}", 14), "a{content:\"\xEF\xBF\xBD\"}"},
        // Error recovery.
        {"unterminated comment", "a{}/* x", "a{}/* x*/"},
        {"unterminated comment after one character", "a/*", "a/**/"},
        {"unterminated string", "a{content:\"x", "a{content:\"x\"}"},
        {"a backslash at the end", "a{content:\"x\\", "a{content:\"x\"}"},
        {"NUL before url(", std::string("\0url(x')", 8), "\xEF\xBF\xBDurl(x')'"},
        {"unterminated url", "a{b:url(x", "a{b:url(x)}"},
        {"unterminated blocks", "@media x{a{color:red", "@media x{a{color:red}}"},
        {"stray '}' drops the rule it stands in", "a{} } b{color:red} c{}", "a{} c{}"},
        {"stray '}' in an at-rule", "@import x } y; a{}", " a{}"},
        {"a rule inside declarations", "a{color:red; b{x:y} z:w; color:blue}", "a{color:red; color:blue}"},
        {"nested rules repeated", repeat("a{b{}}", 3) + ".k{}", "a{}a{}a{}.k{}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WebStyleSheetInfo info;
        std::string out = boundedStyleSheet(c.in, {}, &info);
        EXPECT_EQ(out, c.out == same ? c.in : c.out);
        EXPECT_EQ(boundedStyleSheet(out), out);  // what comes out reads as it is written
        if (c.out == same) {
            EXPECT_EQ(info.droppedRules, 0u);
            EXPECT_FALSE(info.truncated);
        }
    }
}

TEST(WebStyleSheetSourceTest, HostileSheetsComeOutSmall) {
    const std::string tail = ".k{color:red}";
    struct Case {
        const char* name;
        std::string in;
        std::string out;
        std::size_t dropped;
    };
    const Case cases[] = {
        {"10,000 nested @media",
         repeat("@media screen{", 10000) + "a{color:blue}" + repeat("}", 10000) + tail,
         repeat("@media screen{", 4) + repeat("}", 4) + tail, 1},
        {"10,000 descendants", repeat("a ", 10000) + "a{color:blue}" + tail, tail, 1},
        {"10,000 children", repeat("a > ", 10000) + "a{color:blue}" + tail, tail, 1},
        {"10,000 :not(", repeat(":not(", 10000) + "a" + repeat(")", 10000) + "{x:y}" + tail, tail, 1},
        {"10,000 stray braces", repeat("}", 10000) + "x{}" + tail, tail, 1},
        {"10,000 nested open blocks", repeat("a{", 10000), "a{}", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WebStyleSheetInfo info;
        EXPECT_EQ(boundedStyleSheet(c.in, {}, &info), c.out);
        EXPECT_EQ(info.droppedRules, c.dropped);
        EXPECT_LE(info.depth, 4u);
    }
}

TEST(WebStyleSheetSourceTest, SizeAndCountBoundsCutAtWholePieces) {
    {
        SCOPED_TRACE("rules");
        WebStyleSheetInfo info;
        std::string out = boundedStyleSheet(repeat("a{}", 25000) + "@import x;", {}, &info);
        EXPECT_EQ(out, repeat("a{}", 20000));
        EXPECT_EQ(info.rules, 20000u);
        EXPECT_TRUE(info.truncated);
    }
    {
        SCOPED_TRACE("rules inside a block");
        WebStyleSheetLimits limits;
        limits.maxRules = 3;
        WebStyleSheetInfo info;
        EXPECT_EQ(boundedStyleSheet("@media x{a{}b{}c{}}d{}", limits, &info), "@media x{a{}b{}}");
        EXPECT_TRUE(info.truncated);
        EXPECT_FALSE(info.closed);
    }
    {
        SCOPED_TRACE("declarations");
        WebStyleSheetInfo info;
        std::string out = boundedStyleSheet(".k{" + repeat("color:red;", 10000) + "}b{}", {}, &info);
        EXPECT_TRUE(info.truncated);
        EXPECT_LE(out.size(), (64u << 10) + 16);
        EXPECT_GT(out.size(), (64u << 10) - 16);
        EXPECT_EQ(out.substr(0, 13), ".k{color:red;");
        EXPECT_EQ(out.substr(out.size() - 8), "red;}b{}");
    }
    {
        SCOPED_TRACE("declarations within an unclosed parenthesis");
        WebStyleSheetLimits limits;
        limits.maxDeclarationBytes = 20;
        EXPECT_EQ(boundedStyleSheet("a{x:y;z:f(1;2;3;4;5;6;7;8;9)}b{}", limits), "a{x:y;}b{}");
    }
    {
        SCOPED_TRACE("bytes");
        WebStyleSheetLimits limits;
        limits.maxBytes = 10;
        WebStyleSheetInfo info;
        EXPECT_EQ(boundedStyleSheet("a{color:red}b{}", limits, &info), "a{color:re}");
        EXPECT_TRUE(info.truncated);
        EXPECT_TRUE(info.closed);
    }
    {
        SCOPED_TRACE("comments");
        std::string out = boundedStyleSheet(repeat("/*x*/a{}", 2000));
        EXPECT_EQ(count(out, "/*"), 1000u);
        EXPECT_EQ(count(out, "a{}"), 2000u);
    }
}

}  // namespace
