// Stylesheets bounded before the layout engine reads them: ordinary sheets come out byte for
// byte; rules nested too deep, selectors too long, rules inside declarations and stray braces
// go whole; what is open at the end is closed; the characters the engine misreads inside
// strings, url() and escapes are written in a form it cannot misread; hostile sheets come out
// small.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "bench/support/WebStyledPages.h"
#include "tests/web/WebTestPages.h"
#include "web/WebDefaultStyleSheet.h"
#include "web/WebStyleSheetSource.h"

namespace {

using detail::boundedStyleSheet;
using detail::WebStyleSheetInfo;
using detail::WebStyleSheetLimits;

using webtest::repeat;

using benchsupport::kQuestionPageSheet;

TEST(WebStyleSheetSourceTest, SheetsAreWrittenBackAsTheyCameOrBoundedAndRepaired) {
    struct Case {
        const char* name;
        std::string in;
        std::string out;  // "=" when the sheet must come back unchanged
    };
    const std::string same = "=";
    const Case cases[] = {
        // Ordinary sheets.
        {"question page", kQuestionPageSheet, same},
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
        SCOPED_TRACE("comments");
        std::string out = boundedStyleSheet(repeat("/*x*/a{}", 2000));
        EXPECT_EQ(webtest::occurrences(out, "/*"), 1000u);
        EXPECT_EQ(webtest::occurrences(out, "a{}"), 2000u);
    }
    // One bound set low, the rest as they are by default.
    struct Small {
        const char* name;
        std::size_t WebStyleSheetLimits::*bound;
        std::size_t value;
        const char* css;
        const char* out;
        std::optional<bool> closed;  // with `truncated`; not looked at where nullopt
    };
    const Small small[] = {
        {"rules inside a block", &WebStyleSheetLimits::maxRules, 3, "@media x{a{}b{}c{}}d{}",
         "@media x{a{}b{}}", false},
        {"declarations within an unclosed parenthesis", &WebStyleSheetLimits::maxDeclarationBytes, 20,
         "a{x:y;z:f(1;2;3;4;5;6;7;8;9)}b{}", "a{x:y;}b{}", std::nullopt},
        {"bytes", &WebStyleSheetLimits::maxBytes, 10, "a{color:red}b{}", "a{color:re}", true},
    };
    for (const Small& c : small) {
        SCOPED_TRACE(c.name);
        WebStyleSheetLimits limits;
        limits.*c.bound = c.value;
        WebStyleSheetInfo info;
        EXPECT_EQ(boundedStyleSheet(c.css, limits, &info), c.out);
        if (c.closed) {
            EXPECT_TRUE(info.truncated);
            EXPECT_EQ(info.closed, *c.closed);
        }
    }
}

}  // namespace

namespace {

using detail::WebPageStyleState;

std::string chain(int levels, std::size_t first) {
    std::string css = "html{--v0:" + std::string(first, 'x') + ";";
    for (int i = 1; i <= levels; ++i)
        css += "--v" + std::to_string(i) + ":var(--v" + std::to_string(i - 1) + ") var(--v" +
               std::to_string(i - 1) + ");";
    return css + "}";
}

TEST(WebStyleSheetSourceTest, VarDeclarationsPastTheirBoundsAreLeftOut) {
    struct Case {
        const char* name;
        std::string in;
        std::string out;  // "=" when unchanged
    };
    const std::string same = "=";
    const Case cases[] = {
        {"ordinary use", ":root{--brand:#c00;--gap:4px}a{color:var(--brand);margin:var(--gap) var( --gap )}",
         same},
        {"a custom property built of others",
         "html{--x:1px;--y:2px;--shadow:var(--x) var(--y) #000}p{box-shadow:var(--shadow)}", same},
        {"a use before the definition", "p{color:var(--later)}html{--later:red}", same},
        {"a fallback the engine cannot read is left alone", "p{color:var(--none, red)}", same},
        {"comments", "p{color:/* a */var(--c)}", same},
        {"a name that is no custom property", "p{width:var(height);color:red}", "p{color:red}"},
        {"a property naming itself", "div{--s:var(--s) var(--s);color:red}", "div{color:red}"},
        {"a ring", "a{--a:var(--b)}b{--b:var(--c)}c{--c:var(--a);color:red}", "a{}b{}c{color:red}"},
        {"a definition after its use, built of others",
         "p{color:var(--brand)}html{--brand:var(--red);--red:#f00}", same},
        {"a data: URL in a custom property is reckoned at its key",
         "html{--icon:url(data:," + std::string(100000, 'x') + ")}a{background:var(--icon)}",
         "html{--icon:url(x-web-data:0)}a{background:var(--icon)}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WebPageStyleState state;
        EXPECT_EQ(boundedStyleSheet(c.in, {}, nullptr, &state), c.out == same ? c.in : c.out);
    }
    // A chain of doublings from 100 bytes: each step reckoned at least 1 KB a use, so the fifth
    // (32 KB and its text) is the last kept, and what uses a dropped step keeps only its own text.
    WebPageStyleState state;
    std::string out = boundedStyleSheet(chain(30, 100), {}, nullptr, &state);
    EXPECT_NE(out.find("--v5:"), std::string::npos) << out;
    EXPECT_EQ(out.find("--v6:"), std::string::npos) << out;
    EXPECT_EQ(out.find("--v30:"), std::string::npos) << out;
    EXPECT_LT(out.size(), 4000u);
    // A sheet read after one that used a name may not define it longer than was assumed there.
    for (std::size_t length : {4000u, 5000u}) {
        SCOPED_TRACE(length);
        WebPageStyleState later;
        boundedStyleSheet("p{color:var(--v)}", {}, nullptr, &later);
        std::string defined = "html{--v:" + std::string(length, 'x') + "}";
        EXPECT_EQ(boundedStyleSheet(defined, {}, nullptr, &later), length < 4096 ? defined : "html{}");
    }
    // Without a state nothing is looked at.
    EXPECT_EQ(boundedStyleSheet(chain(30, 100)), chain(30, 100));
}

TEST(WebStyleSheetSourceTest, LargeSubstitutionsAreReckonedForEveryElementASheetStyles) {
    const std::string big = "html{--big:" + std::string(10000, 'x') + "}";
    struct Case {
        std::size_t elements;
        bool kept;
    } cases[] = {{100, true}, {6000, true}, {7000, false}};  // 64 MB of 10 KB copies: 6,710
    for (const auto& c : cases) {
        SCOPED_TRACE(c.elements);
        WebPageStyleState state;
        state.setPageElements(c.elements);
        std::string out = boundedStyleSheet(big + "*{--copy:var(--big)}", {}, nullptr, &state);
        EXPECT_EQ(out.find("--copy") != std::string::npos, c.kept);
    }
    // A style attribute styles one element.
    WebPageStyleState state;
    state.setPageElements(100000);
    boundedStyleSheet(big, {}, nullptr, &state);
    EXPECT_EQ(detail::boundedDeclarations("--copy:var(--big);color:red", &state),
              "--copy:var(--big);color:red");
    EXPECT_EQ(detail::boundedDeclarations("--s:var(--s);color:red;} x;top:0", &state), "color:red;top:0");
}

TEST(WebStyleSheetSourceTest, DataURLsAreKeptWholeBehindKeys) {
    const std::string base64 = "data:image/png;base64," + std::string(300000, 'A') + "==";
    const std::string percent = "data:image/svg+xml,%3Csvg xmlns='http://www.w3.org/2000/svg'%3E%3C/svg%3E";
    struct Case {
        const char* name;
        std::string css;
        std::string url;  // what the key stands for; empty: written as an empty url()
    };
    const Case cases[] = {
        {"unquoted base64, past the declaration bound", "a{background:url(" + base64 + ") no-repeat}",
         base64},
        {"double quoted", "a{background-image:url( \"" + percent + "\" )}", percent},
        {"single quoted", "a{background-image:URL('data:image/gif;base64,R0lG/+==')}",
         "data:image/gif;base64,R0lG/+=="},
        {"past the bound of one URL", "a{background:url(data:," + std::string(3u << 20, 'x') + ")}", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WebPageStyleState state;
        WebStyleSheetInfo info;
        std::string out = boundedStyleSheet(c.css + "b{color:red}", {}, &info, &state);
        EXPECT_FALSE(info.truncated);
        EXPECT_LT(out.size(), 200u);
        EXPECT_NE(out.find("b{color:red}"), std::string::npos) << out;
        std::size_t open = out.find("url(") + 4, close = out.find(')', open);
        std::string key = out.substr(open, close - open);
        if (c.url.empty()) {
            EXPECT_EQ(key, "");
            continue;
        }
        ASSERT_NE(state.dataURL(key), nullptr) << out;
        EXPECT_EQ(*state.dataURL(key), c.url);
    }
    // The sheet's data bound: 16 MB of 1 MB URLs; past it they are the sheet's own text, whose
    // bounds cut them.
    WebPageStyleState state;
    std::string sheet;
    for (int i = 0; i < 20; ++i)
        sheet += "a{background:url(data:," + std::string(1u << 20, char('a' + i)) + ")}";
    WebStyleSheetInfo info;
    std::string out = boundedStyleSheet(sheet + "b{color:red}", {}, &info, &state);
    EXPECT_EQ(webtest::occurrences(out, "url(x-web-data:"), 15u);
    EXPECT_TRUE(info.truncated);
    EXPECT_LT(out.size(), 3u << 20);
    EXPECT_EQ(*state.dataURL("x-web-data:14"), "data:," + std::string(1u << 20, char('a' + 14)));
    EXPECT_EQ(state.dataURL("x-web-data:99"), nullptr);
    EXPECT_EQ(state.dataURL("http://h.test/x-web-data:1"), nullptr);
}

}  // namespace

namespace {

// Every prefix of a sheet and of a style attribute holding custom properties and data: URLs (cut
// strings, urls, var() and blocks) comes out bounded, and what is kept still reads as a sheet.
TEST(WebStyleSheetSourceTest, CutSheetsWithVarAndDataURLsStayBounded) {
    const std::string sheet =
        "html{--a:url('data:image/png;base64,AAAA');--b:var(--a) var(--a);--c:var(--c)}"
        "p{background:url( \"data:image/svg+xml,%3Csvg%3E\" ) ;color:var(--b, red);width:var(width)}"
        "@media screen{q{--d:var(--b)}}/* var( */a{b:url(data:,x";
    for (std::size_t n = 0; n <= sheet.size(); ++n) {
        SCOPED_TRACE(n);
        detail::WebPageStyleState state;
        std::string out = boundedStyleSheet(sheet.substr(0, n), {}, nullptr, &state);
        EXPECT_LE(out.size(), n + 16);
        EXPECT_EQ(boundedStyleSheet(out), out);
        std::string attribute = detail::boundedDeclarations(sheet.substr(5, n), &state);
        EXPECT_LE(attribute.size(), n + 16);
    }
}

}  // namespace

namespace {

// Shapes that would make the custom property reckoning cost the square of the sheet.
TEST(WebStyleSheetSourceTest, VarReckoningStaysLinearOnHostileSheets) {
    struct Case {
        const char* name;
        std::string css;
    };
    const Case cases[] = {
        {"var( without end", "a{color:" + repeat("var(", 15000) + "}"},
        {"var( before one far ')'", "a{color:" + repeat("var(", 15000) + ")}"},
        {"definitions whose values never close", "a{" + repeat("--a:(;var(x);", 150000) + "}"},
        {"a long chain of custom properties",
         [] {
             std::string css = "a{--p0:x;";
             for (int i = 1; i < 20000; ++i)
                 css += "--p" + std::to_string(i) + ":var(--p" + std::to_string(i - 1) + ");";
             return css + "}";
         }()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        detail::WebPageStyleState state;
        WebStyleSheetInfo info;
        std::string out = boundedStyleSheet(c.css, {}, &info, &state);
        EXPECT_LE(out.size(), c.css.size() + 16);
        detail::boundedDeclarations(c.css.substr(2, 60000), &state);
    }
}

}  // namespace
