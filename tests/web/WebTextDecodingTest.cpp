// How a page's and a stylesheet's bytes become text: which source names the encoding (the
// byte-order mark, the transport, the page's <meta> or the stylesheet's @charset, the referring
// page, UTF-8), how labels are read, and what becomes of bytes that do not decode.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "web/WebTextDecoding.h"

namespace {

using namespace std::string_literals;

const std::optional<std::string> none;

std::optional<std::string> label(const char* name) {
    return std::string(name);
}

TEST(WebTextDecoding, PagesAreDecodedByTheFirstSourceThatNamesAKnownEncoding) {
    struct Case {
        const char* what;
        std::string bytes;
        std::optional<std::string> transport;
        std::string text;
        std::string encoding;
    };
    const std::string gbkMeta = "<meta charset=\"gbk\">";
    const std::string pad(1024, ' ');
    const std::vector<Case> cases = {
        // Byte-order marks, which are no part of the text.
        {"UTF-8 mark", "\xEF\xBB\xBF" + "abc"s, none, "abc", "utf-8"},
        {"UTF-16LE mark", "\xFF\xFE" + "a\0\x39\x65\x3D\xD8\x00\xDE"s, none, "a改😀", "utf-16le"},
        {"UTF-16BE mark", "\xFE\xFF\0a\x65\x39"s, none, "a改", "utf-16be"},
        {"the mark beats transport and meta", "\xEF\xBB\xBF" + gbkMeta + "\xE6\x94\xB9", label("gbk"),
         gbkMeta + "改", "utf-8"},
        {"a mark alone", "\xFF\xFE"s, label("gbk"), "", "utf-16le"},
        // The transport's charset.
        {"transport beats meta", gbkMeta + "\xB8\xC4", label("windows-1252"), gbkMeta + "¸Ä", "windows-1252"},
        {"transport label trimmed and in any case", "\xB8\xC4"s, label(" \tGBK\n"), "改", "gbk"},
        {"utf-16 from the transport is little-endian", "\x39\x65"s, label("utf-16"), "改", "utf-16le"},
        {"implied utf-8 keeps a page's meta from counting", gbkMeta + "\xE6\x94\xB9", label("utf-8"),
         gbkMeta + "改", "utf-8"},
        {"an unknown transport label is ignored", gbkMeta + "\xB8\xC4", label("x-no-such"), gbkMeta + "改",
         "gbk"},
        // The page's own declaration.
        {"meta charset", gbkMeta + "\xB8\xC4", none, gbkMeta + "改", "gbk"},
        {"http-equiv before content",
         "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">\xB8\xC4"s, none,
         "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">改", "gbk"},
        {"content before http-equiv",
         "<META CONTENT='text/html;charset = \"GB2312\"' HTTP-EQUIV=content-type>" + "\xB8\xC4"s, none,
         "<META CONTENT='text/html;charset = \"GB2312\"' HTTP-EQUIV=content-type>改", "gbk"},
        {"content without the pragma does not count", "<meta content=\"text/html; charset=gbk\">\xB8\xC4"s,
         none, "<meta content=\"text/html; charset=gbk\">\xEF\xBF\xBD\xEF\xBF\xBD", "utf-8"},
        {"single quotes", "<meta charset='gbk'>\xB8\xC4"s, none, "<meta charset='gbk'>改", "gbk"},
        {"no quotes and a slash", "<meta/charset=gbk>\xB8\xC4"s, none, "<meta/charset=gbk>改", "gbk"},
        {"a slash ends no unquoted value", "<meta charset=gbk/>\xE6\x94\xB9"s, none, "<meta charset=gbk/>改",
         "utf-8"},
        {"after other tags", "<html lang=zh><head><title>t</title><meta charset=gbk>\xB8\xC4"s, none,
         "<html lang=zh><head><title>t</title><meta charset=gbk>改", "gbk"},
        {"the meta ends at byte 1,024", std::string(1024 - gbkMeta.size(), ' ') + gbkMeta + "\xB8\xC4", none,
         std::string(1024 - gbkMeta.size(), ' ') + gbkMeta + "改", "gbk"},
        {"the meta ends past byte 1,024", std::string(1025 - gbkMeta.size(), ' ') + gbkMeta + "\xB8\xC4",
         none, std::string(1025 - gbkMeta.size(), ' ') + gbkMeta + "\xEF\xBF\xBD\xEF\xBF\xBD", "utf-8"},
        {"a meta after 1,024 bytes", pad + gbkMeta + "\xB8\xC4", none,
         pad + gbkMeta + "\xEF\xBF\xBD\xEF\xBF\xBD", "utf-8"},
        {"a meta inside a comment", "<!-- " + gbkMeta + " -->\xB8\xC4", none,
         "<!-- " + gbkMeta + " -->\xEF\xBF\xBD\xEF\xBF\xBD", "utf-8"},
        {"a meta after a comment", "<!--x-->" + gbkMeta + "\xB8\xC4", none, "<!--x-->" + gbkMeta + "改",
         "gbk"},
        {"a meta after the shortest comment", "<!-->" + gbkMeta + "\xB8\xC4", none, "<!-->" + gbkMeta + "改",
         "gbk"},
        {"a meta inside another tag's attribute", "<p title='" + gbkMeta + "'>\xB8\xC4", none,
         "<p title='" + gbkMeta + "'>\xEF\xBF\xBD\xEF\xBF\xBD", "utf-8"},
        {"an unknown label falls back", "<meta charset=\"x-no-such\">\xE6\x94\xB9"s, none,
         "<meta charset=\"x-no-such\">改", "utf-8"},
        {"an unknown label lets a later meta decide", "<meta charset=bogus><meta charset=gbk>\xB8\xC4"s, none,
         "<meta charset=bogus><meta charset=gbk>改", "gbk"},
        {"utf-16 in a meta means utf-8", "<meta charset=utf-16>\xE6\x94\xB9"s, none,
         "<meta charset=utf-16>改", "utf-8"},
        {"an unclosed meta declares nothing", "<meta charset=gbk"s, none, "<meta charset=gbk", "utf-8"},
        // Samples of each family.
        {"GBK", "\xB8\xC4\xD7\xB0\xB3\xB5"s, label("gbk"), "改装车", "gbk"},
        {"GB2312 decodes as GBK", "\xB8\xC4\xD7\xB0"s, label("gb2312"), "改装", "gbk"},
        {"GB18030 four-byte sequences", "\xB8\xC4\x94\x39\xFC\x36"s, label("gb18030"), "改😀", "gb18030"},
        {"Big5", "\xA7\xEF\xB8\xCB\xA8\xAE"s, label("big5"), "改裝車", "big5"},
        {"Shift_JIS", "\x89\xFC\x91\xA2\x8E\xD4"s, label("Shift_JIS"), "改造車", "shift_jis"},
        {"EUC-JP", "\xB2\xFE\xC2\xA4"s, label("euc-jp"), "改造", "euc-jp"},
        {"EUC-KR", "\xC7\xD1\xB1\xB9"s, label("euc-kr"), "한국", "euc-kr"},
        {"windows-1251", "\xCF\xF0\xE8\xE2\xE5\xF2"s, label("windows-1251"), "Привет", "windows-1251"},
        {"KOI8-R", "\xF0\xD2\xC9\xD7\xC5\xD4"s, label("koi8-r"), "Привет", "koi8-r"},
        {"ISO-8859-5", "\xB6"s, label("iso-8859-5"), "Ж", "iso-8859-5"},
        {"ISO-8859-9 decodes as windows-1254", "\xE7\xFD\xF0"s, label("latin5"), "çığ", "windows-1254"},
        {"Latin-1 decodes as windows-1252", "\x80\xE9"s, label("iso-8859-1"), "€é", "windows-1252"},
        {"ASCII decodes as windows-1252", "\x80"s, label("us-ascii"), "€", "windows-1252"},
        // Bytes that do not decode.
        {"a truncated GBK pair at the end", "\xB8\xC4\xB8"s, label("gbk"), "改\xEF\xBF\xBD", "gbk"},
        {"a truncated UTF-8 sequence at the end", "a\xE6\x94"s, none, "a\xEF\xBF\xBD", "utf-8"},
        // A surrogate's bytes are three faults, as a browser counts them.
        {"invalid UTF-8 inside", "a\xFF"s + "b\xED\xA0\x80", none,
         "a\xEF\xBF\xBD"s + "b\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", "utf-8"},
        {"an odd UTF-16 byte at the end", "\xFF\xFE" + "a\0b"s, none, "a\xEF\xBF\xBD", "utf-16le"},
        {"a lone UTF-16 surrogate", "\xFE\xFF\xD8\x3D\0a"s, none, "\xEF\xBF\xBD"s + "a", "utf-16be"},
        {"a lead surrogate at the end", "\xFF\xFE\x3D\xD8"s, none, "\xEF\xBF\xBD", "utf-16le"},
        {"empty", "", none, "", "utf-8"},
        {"empty with a transport", "", label("gbk"), "", "gbk"},
    };
    for (const Case& c : cases) {
        std::string used = "unset";
        EXPECT_EQ(detail::decodeHTMLBytes(c.bytes, c.transport, &used), c.text) << c.what;
        EXPECT_EQ(used, c.encoding) << c.what;
    }
}

TEST(WebTextDecoding, PlainTextDeclaresNothingInside) {
    std::string used;
    EXPECT_EQ(detail::decodeTextBytes("<meta charset=gbk>\xE6\x94\xB9"s, none, &used),
              "<meta charset=gbk>改");
    EXPECT_EQ(used, "utf-8");
    EXPECT_EQ(detail::decodeTextBytes("\xB8\xC4"s, label("gbk"), &used), "改");
    EXPECT_EQ(used, "gbk");
    EXPECT_EQ(detail::decodeTextBytes("\xFE\xFF\x65\x39"s, label("gbk"), &used), "改");
    EXPECT_EQ(used, "utf-16be");
}

TEST(WebTextDecoding, EveryLabelFamilyHasADecoder) {
    // A byte above ASCII decodes to a character in each single-byte encoding: a missing decoder
    // would fall back to UTF-8 and give U+FFFD.
    for (const char* name :
         {"ibm866",       "iso-8859-2",   "iso-8859-3",   "iso-8859-4",   "iso-8859-5",
          "iso-8859-6",   "iso-8859-7",   "iso-8859-8",   "iso-8859-8-i", "iso-8859-10",
          "iso-8859-13",  "iso-8859-14",  "iso-8859-15",  "koi8-r",       "koi8-u",
          "windows-874",  "windows-1250", "windows-1251", "windows-1252", "windows-1253",
          "windows-1254", "windows-1255", "windows-1256", "windows-1257", "windows-1258"}) {
        EXPECT_EQ(detail::encodingForLabel(name), std::optional<std::string>(name)) << name;
        const std::string text = detail::decodeHTMLBytes("\xE9"s, label(name));
        EXPECT_FALSE(text.empty()) << name;
        EXPECT_NE(text, "\xEF\xBF\xBD") << name;
    }
    struct Alias {
        const char* label;
        const char* encoding;
    };
    for (const Alias& a :
         {Alias{"UTF8", "utf-8"}, Alias{"x-gbk", "gbk"}, Alias{"chinese", "gbk"}, Alias{"csgb2312", "gbk"},
          Alias{"big5-hkscs", "big5"}, Alias{"sjis", "shift_jis"}, Alias{"ms932", "shift_jis"},
          Alias{"ks_c_5601-1987", "euc-kr"}, Alias{"latin1", "windows-1252"}, Alias{"ascii", "windows-1252"},
          Alias{"cp1251", "windows-1251"}, Alias{"unicodefffe", "utf-16be"}}) {
        EXPECT_EQ(detail::encodingForLabel(a.label), std::optional<std::string>(a.encoding)) << a.label;
    }
    for (const char* unknown : {"", "  ", "gbk2", "utf-7", "x-user-defined-but-longer-than-any-label-is"})
        EXPECT_EQ(detail::encodingForLabel(unknown), std::nullopt) << unknown;
}

TEST(WebTextDecoding, StyleSheetsAreDecodedByTheFirstSourceThatNamesAKnownEncoding) {
    struct Case {
        const char* what;
        std::string bytes;
        std::optional<std::string> transport;
        std::optional<std::string> document;
        std::string text;
    };
    const std::string rule = "@charset \"gbk\";";
    const std::vector<Case> cases = {
        {"a mark beats everything", "\xEF\xBB\xBF" + rule + "\xE6\x94\xB9", label("windows-1251"),
         label("big5"), rule + "改"},
        {"a UTF-16 mark", "\xFF\xFE\x39\x65"s, none, label("gbk"), "改"},
        {"transport beats @charset", rule + "\xCF\xF0", label("windows-1251"), label("gbk"), rule + "Пр"},
        {"@charset beats the document", rule + "\xB8\xC4", none, label("windows-1251"), rule + "改"},
        {"@charset with any label case", "@charset \"GB2312\";\xB8\xC4"s, none, none,
         "@charset \"GB2312\";改"},
        {"@charset utf-16 means utf-8", "@charset \"utf-16\";\xE6\x94\xB9"s, none, label("gbk"),
         "@charset \"utf-16\";改"},
        {"@charset not at the very start", " " + rule + "\xB8\xC4", none, none,
         " " + rule + "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"@charset in single quotes", "@charset 'gbk';\xB8\xC4"s, none, none,
         "@charset 'gbk';\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"@charset unclosed", "@charset \"gbk\"\xB8\xC4"s, none, none,
         "@charset \"gbk\"\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"an unknown @charset leaves it to the document", "@charset \"nope\";\xB8\xC4"s, none, label("gbk"),
         "@charset \"nope\";改"},
        {"the document's encoding", "p{content:'\xB8\xC4'}"s, none, label("gbk"), "p{content:'改'}"},
        {"none at all", "p{content:'\xE6\x94\xB9'}"s, none, none, "p{content:'改'}"},
        {"empty", "", none, label("gbk"), ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(detail::decodeStyleSheetBytes(c.bytes, c.transport, c.document), c.text) << c.what;
}

}  // namespace
