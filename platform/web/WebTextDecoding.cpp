#include "web/WebTextDecoding.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

#include "foundation/NSString.h"

namespace detail {

namespace {

struct Encoding {
    const char* name;       // what the encoding is called
    const char* converter;  // the converter that decodes it
    const char* labels;     // the labels that mean it, lower case, separated by spaces
};

// The labels a browser knows. GBK decodes as GB18030, its superset; ASCII and Latin-1 as
// windows-1252, theirs; Big5 with the Hong Kong additions; Shift_JIS and EUC-KR as their
// Windows code pages.
constexpr Encoding kEncodings[] = {
    {"utf-8", "UTF-8", "unicode-1-1-utf-8 unicode11utf8 unicode20utf8 utf-8 utf8 x-unicode20utf8"},
    {"utf-16le", "UTF-16LE", "csunicode iso-10646-ucs-2 ucs-2 unicode unicodefeff utf-16 utf-16le"},
    {"utf-16be", "UTF-16BE", "unicodefffe utf-16be"},
    {"gbk", "gb18030", "chinese csgb2312 csiso58gb231280 gb2312 gb_2312 gb_2312-80 gbk iso-ir-58 x-gbk"},
    {"gb18030", "gb18030", "gb18030"},
    {"big5", "ibm-1375_P100-2008", "big5 big5-hkscs cn-big5 csbig5 x-x-big5"},
    {"euc-jp", "euc-jp-2007", "cseucpkdfmtjapanese euc-jp x-euc-jp"},
    {"shift_jis", "ibm-943_P15A-2003",
     "csshiftjis ms932 ms_kanji shift-jis shift_jis sjis windows-31j x-sjis"},
    {"euc-kr", "windows-949-2000",
     "cseuckr csksc56011987 euc-kr iso-ir-149 korean ks_c_5601-1987 ks_c_5601-1989 ksc5601 ksc_5601 "
     "windows-949"},
    {"ibm866", "ibm-866", "866 cp866 csibm866 ibm866"},
    {"iso-8859-2", "ISO-8859-2",
     "csisolatin2 iso-8859-2 iso-ir-101 iso8859-2 iso88592 iso_8859-2 iso_8859-2:1987 l2 latin2"},
    {"iso-8859-3", "ISO-8859-3",
     "csisolatin3 iso-8859-3 iso-ir-109 iso8859-3 iso88593 iso_8859-3 iso_8859-3:1988 l3 latin3"},
    {"iso-8859-4", "ISO-8859-4",
     "csisolatin4 iso-8859-4 iso-ir-110 iso8859-4 iso88594 iso_8859-4 iso_8859-4:1988 l4 latin4"},
    {"iso-8859-5", "ISO-8859-5",
     "csisolatincyrillic cyrillic iso-8859-5 iso-ir-144 iso8859-5 iso88595 iso_8859-5 iso_8859-5:1988"},
    {"iso-8859-6", "ISO-8859-6",
     "arabic asmo-708 csiso88596e csiso88596i csisolatinarabic ecma-114 iso-8859-6 iso-8859-6-e "
     "iso-8859-6-i iso-ir-127 iso8859-6 iso88596 iso_8859-6 iso_8859-6:1987"},
    {"iso-8859-7", "ISO-8859-7",
     "csisolatingreek ecma-118 elot_928 greek greek8 iso-8859-7 iso-ir-126 iso8859-7 iso88597 "
     "iso_8859-7 iso_8859-7:1987 sun_eu_greek"},
    {"iso-8859-8", "ISO-8859-8",
     "csiso88598e csisolatinhebrew hebrew iso-8859-8 iso-8859-8-e iso-ir-138 iso8859-8 iso88598 "
     "iso_8859-8 iso_8859-8:1988 visual"},
    {"iso-8859-8-i", "ISO-8859-8", "csiso88598i iso-8859-8-i logical"},
    {"iso-8859-10", "ISO-8859-10", "csisolatin6 iso-8859-10 iso-ir-157 iso8859-10 iso885910 l6 latin6"},
    {"iso-8859-13", "ISO-8859-13", "iso-8859-13 iso8859-13 iso885913"},
    {"iso-8859-14", "ISO-8859-14", "iso-8859-14 iso8859-14 iso885914"},
    {"iso-8859-15", "ISO-8859-15", "csisolatin9 iso-8859-15 iso8859-15 iso885915 iso_8859-15 l9"},
    {"koi8-r", "KOI8-R", "cskoi8r koi koi8 koi8-r koi8_r"},
    {"koi8-u", "KOI8-U", "koi8-ru koi8-u"},
    {"windows-874", "windows-874-2000", "dos-874 iso-8859-11 iso8859-11 iso885911 tis-620 windows-874"},
    {"windows-1250", "windows-1250", "cp1250 windows-1250 x-cp1250"},
    {"windows-1251", "windows-1251", "cp1251 windows-1251 x-cp1251"},
    {"windows-1252", "windows-1252",
     "ansi_x3.4-1968 ascii cp1252 cp819 csisolatin1 ibm819 iso-8859-1 iso-ir-100 iso8859-1 iso88591 "
     "iso_8859-1 iso_8859-1:1987 l1 latin1 us-ascii windows-1252 x-cp1252"},
    {"windows-1253", "windows-1253", "cp1253 windows-1253 x-cp1253"},
    {"windows-1254", "windows-1254",
     "cp1254 csisolatin5 iso-8859-9 iso-ir-148 iso8859-9 iso88599 iso_8859-9 iso_8859-9:1989 l5 latin5 "
     "windows-1254 x-cp1254"},
    {"windows-1255", "windows-1255", "cp1255 windows-1255 x-cp1255"},
    {"windows-1256", "windows-1256", "cp1256 windows-1256 x-cp1256"},
    {"windows-1257", "windows-1257", "cp1257 windows-1257 x-cp1257"},
    {"windows-1258", "windows-1258", "cp1258 windows-1258 x-cp1258"},
};

const Encoding& kUTF8 = kEncodings[0];
const Encoding& kUTF16LE = kEncodings[1];
const Encoding& kUTF16BE = kEncodings[2];

bool isSpace(char c) {
    return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
}

char lowered(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

const Encoding* find(std::string_view label) {
    while (!label.empty() && isSpace(label.front())) label.remove_prefix(1);
    while (!label.empty() && isSpace(label.back())) label.remove_suffix(1);
    // No label is longer; a longer one is no label.
    if (label.empty() || label.size() > 32) return nullptr;
    std::string key(label);
    std::transform(key.begin(), key.end(), key.begin(), lowered);
    for (const Encoding& encoding : kEncodings) {
        std::string_view labels = encoding.labels;
        while (!labels.empty()) {
            const std::size_t end = std::min(labels.find(' '), labels.size());
            if (labels.substr(0, end) == key) return &encoding;
            labels.remove_prefix(std::min(end + 1, labels.size()));
        }
    }
    return nullptr;
}

const Encoding* findOptional(const std::optional<std::string>& label) {
    return label ? find(std::string_view(*label)) : nullptr;
}

// A byte-order mark and its length.
const Encoding* sniffBOM(std::string_view bytes, std::size_t& length) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        length = 3;
        return &kUTF8;
    }
    if (bytes.substr(0, 2) == "\xFE\xFF") {
        length = 2;
        return &kUTF16BE;
    }
    if (bytes.substr(0, 2) == "\xFF\xFE") {
        length = 2;
        return &kUTF16LE;
    }
    return nullptr;
}

// A label inside a declaration means UTF-8 when it says UTF-16: the declaration itself was read
// as ASCII, so the bytes are not UTF-16.
const Encoding* declared(const Encoding* encoding) {
    return encoding == &kUTF16LE || encoding == &kUTF16BE ? &kUTF8 : encoding;
}

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// UTF-8 is checked rather than converted: runs of valid text are copied as they are.
std::string decodeUTF8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    const auto* s = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const auto length = static_cast<std::int32_t>(std::min<std::size_t>(bytes.size(), INT32_MAX));
    std::int32_t i = 0, run = 0;
    while (i < length) {
        if (s[i] < 0x80) {
            ++i;
            continue;
        }
        const std::int32_t start = i;
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0) {
            out.append(bytes.data() + run, std::size_t(start - run));
            out += kReplacement;
            run = i;
        }
    }
    out.append(bytes.data() + run, std::size_t(length - run));
    return out;
}

// Every byte sequence a converter cannot read becomes one U+FFFD, whatever the converter's own
// substitute would be.
void U_CALLCONV replaceWithReplacementCharacter(const void*, UConverterToUnicodeArgs* args, const char*,
                                                int32_t, UConverterCallbackReason reason, UErrorCode* error) {
    if (reason > UCNV_IRREGULAR) return;
    static const UChar replacement = 0xFFFD;
    *error = U_ZERO_ERROR;
    ucnv_cbToUWriteUChars(args, &replacement, 1, 0, error);
}

std::string decodeWith(const Encoding& encoding, std::string_view bytes) {
    if (&encoding == &kUTF8) return decodeUTF8(bytes);
    if (bytes.empty()) return {};
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(encoding.converter, &status);
    if (!converter || U_FAILURE(status)) {
        if (converter) ucnv_close(converter);
        return decodeUTF8(bytes);
    }
    ucnv_setToUCallBack(converter, replaceWithReplacementCharacter, nullptr, nullptr, nullptr, &status);
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    UChar lead = 0;  // a lead surrogate whose trail is in the next chunk
    const char* source = bytes.data();
    const char* end = source + bytes.size();
    UChar chunk[4096];
    while (true) {
        UChar* target = chunk;
        status = U_ZERO_ERROR;
        ucnv_toUnicode(converter, &target, chunk + std::size(chunk), &source, end, nullptr, true, &status);
        for (const UChar* unit = chunk; unit < target; ++unit) {
            if (lead) {
                if (U16_IS_TRAIL(*unit)) {
                    detail::appendUTF8(out, U16_GET_SUPPLEMENTARY(lead, *unit));
                    lead = 0;
                    continue;
                }
                out += kReplacement;
                lead = 0;
            }
            if (U16_IS_LEAD(*unit)) {
                lead = *unit;
            } else {
                detail::appendUTF8(out, U16_IS_TRAIL(*unit) ? 0xFFFD : *unit);
            }
        }
        // A converter that stops early for any other reason ends the text where it stopped.
        if (status != U_BUFFER_OVERFLOW_ERROR) break;
    }
    if (lead) out += kReplacement;
    ucnv_close(converter);
    return out;
}

// The charset named in an http-equiv content value (already lower case), as a browser finds it.
std::optional<std::string_view> charsetInContent(std::string_view value) {
    std::size_t i = 0;
    while (true) {
        const std::size_t at = value.find("charset", i);
        if (at == std::string_view::npos) return std::nullopt;
        i = at + 7;
        while (i < value.size() && isSpace(value[i])) ++i;
        if (i >= value.size() || value[i] != '=') continue;
        ++i;
        while (i < value.size() && isSpace(value[i])) ++i;
        if (i >= value.size()) return std::nullopt;
        if (value[i] == '"' || value[i] == '\'') {
            const std::size_t close = value.find(value[i], i + 1);
            if (close == std::string_view::npos) return std::nullopt;
            return value.substr(i + 1, close - i - 1);
        }
        const std::size_t stop = value.find_first_of("\t\n\f\r ;", i);
        return value.substr(i, stop == std::string_view::npos ? std::string_view::npos : stop - i);
    }
}

// The encoding a page declares in a <meta> among its first bytes, read as a browser reads them
// before it parses: comments and other tags' attributes are stepped over, not searched.
class Prescan {
  public:
    explicit Prescan(std::string_view bytes) : s_(bytes.substr(0, 1024)) {}

    const Encoding* run() {
        while (p_ < s_.size()) {
            if (at("<!--")) {
                const std::size_t close = s_.find("-->", p_ + 2);
                if (close == std::string_view::npos) return nullptr;
                p_ = close + 3;
                continue;
            }
            if (atMeta()) {
                p_ += 5;
                bool ended = false;
                if (const Encoding* encoding = meta(ended)) return encoding;
                if (ended) return nullptr;
            } else if (s_[p_] == '<' && p_ + 1 < s_.size() &&
                       (isLetter(s_[p_ + 1]) ||
                        (s_[p_ + 1] == '/' && p_ + 2 < s_.size() && isLetter(s_[p_ + 2])))) {
                while (p_ < s_.size() && !isSpace(s_[p_]) && s_[p_] != '>') ++p_;
                Attribute attribute;
                while (true) {
                    const Got got = next(attribute);
                    if (got == Got::End) return nullptr;
                    if (got == Got::None) break;
                }
            } else if (at("<!") || at("</") || at("<?")) {
                const std::size_t close = s_.find('>', p_ + 1);
                if (close == std::string_view::npos) return nullptr;
                p_ = close;
            }
            ++p_;
        }
        return nullptr;
    }

  private:
    struct Attribute {
        std::string name, value;
    };
    enum class Got { Attribute, None, End };

    bool at(std::string_view literal) const { return s_.substr(p_, literal.size()) == literal; }
    bool atMeta() const {
        static constexpr std::string_view meta = "<meta";
        if (p_ + meta.size() >= s_.size()) return false;
        for (std::size_t i = 0; i < meta.size(); ++i)
            if (lowered(s_[p_ + i]) != meta[i]) return false;
        const char after = s_[p_ + meta.size()];
        return isSpace(after) || after == '/';
    }

    // The attributes of one <meta>; the encoding when they declare one. `ended` when the bytes
    // ran out inside it.
    const Encoding* meta(bool& ended) {
        std::vector<std::string> seen;
        bool gotPragma = false;
        std::optional<bool> needPragma;
        bool charsetGiven = false;  // a charset was named, known or not
        const Encoding* charset = nullptr;
        Attribute attribute;
        while (true) {
            const Got got = next(attribute);
            if (got == Got::End) {
                ended = true;
                return nullptr;
            }
            if (got == Got::None) break;
            if (std::find(seen.begin(), seen.end(), attribute.name) != seen.end()) continue;
            seen.push_back(attribute.name);
            if (attribute.name == "http-equiv") {
                if (attribute.value == "content-type") gotPragma = true;
            } else if (attribute.name == "content") {
                if (!charsetGiven) {
                    if (auto label = charsetInContent(attribute.value)) {
                        if (const Encoding* encoding = find(*label)) {
                            charset = encoding;
                            charsetGiven = true;
                            needPragma = true;
                        }
                    }
                }
            } else if (attribute.name == "charset") {
                charset = find(std::string_view(attribute.value));
                charsetGiven = true;
                needPragma = false;
            }
        }
        if (!needPragma || (*needPragma && !gotPragma) || !charset) return nullptr;
        return declared(charset);
    }

    // The next attribute of a tag, as a browser's prescan reads it.
    Got next(Attribute& attribute) {
        attribute.name.clear();
        attribute.value.clear();
        const std::size_t n = s_.size();
        while (p_ < n && (isSpace(s_[p_]) || s_[p_] == '/')) ++p_;
        if (p_ >= n) return Got::End;
        if (s_[p_] == '>') return Got::None;
        bool hasValue = false;
        for (;; ++p_) {
            if (p_ >= n) return Got::End;
            const char c = s_[p_];
            if (c == '=' && !attribute.name.empty()) {
                ++p_;
                hasValue = true;
                break;
            }
            if (isSpace(c)) break;
            if (c == '/' || c == '>') return Got::Attribute;
            attribute.name += lowered(c);
        }
        if (!hasValue) {
            while (p_ < n && isSpace(s_[p_])) ++p_;
            if (p_ >= n) return Got::End;
            if (s_[p_] != '=') return Got::Attribute;
            ++p_;
        }
        while (p_ < n && isSpace(s_[p_])) ++p_;
        if (p_ >= n) return Got::End;
        const char first = s_[p_];
        if (first == '"' || first == '\'') {
            for (++p_;; ++p_) {
                if (p_ >= n) return Got::End;
                if (s_[p_] == first) {
                    ++p_;
                    return Got::Attribute;
                }
                attribute.value += lowered(s_[p_]);
            }
        }
        if (first == '>') return Got::Attribute;
        for (;; ++p_) {
            if (p_ >= n) return Got::End;
            if (isSpace(s_[p_]) || s_[p_] == '>') return Got::Attribute;
            attribute.value += lowered(s_[p_]);
        }
    }

    std::string_view s_;
    std::size_t p_ = 0;
};

// The label of an `@charset "...";` that starts a stylesheet, exactly as written there.
const Encoding* charsetRule(std::string_view bytes) {
    static constexpr std::string_view start = "@charset \"";
    std::string_view head = bytes.substr(0, 1024);
    if (head.substr(0, start.size()) != start) return nullptr;
    const std::size_t close = head.find('"', start.size());
    if (close == std::string_view::npos || close + 1 >= head.size() || head[close + 1] != ';') return nullptr;
    return declared(find(head.substr(start.size(), close - start.size())));
}

const Encoding* metaDeclaration(std::string_view bytes) {
    return Prescan(bytes).run();
}

// Every kind of text is decoded by the first source that names a known encoding: a byte-order
// mark (left out of the text), the transport's charset, what the text declares inside itself
// (`declaredInside`, where its kind has a way to), the encoding of the document that refers to
// it, and last UTF-8.
std::string decodeByFirstSource(std::string_view bytes, const std::optional<std::string>& transportCharset,
                                const Encoding* (*declaredInside)(std::string_view),
                                const std::optional<std::string>& documentEncoding,
                                std::string* encodingUsed) {
    std::size_t mark = 0;
    const Encoding* encoding = sniffBOM(bytes, mark);
    if (!encoding) encoding = findOptional(transportCharset);
    if (!encoding && declaredInside) encoding = declaredInside(bytes);
    if (!encoding) encoding = findOptional(documentEncoding);
    if (!encoding) encoding = &kUTF8;
    if (encodingUsed) *encodingUsed = encoding->name;
    return decodeWith(*encoding, bytes.substr(mark));
}

}  // namespace

std::optional<std::string> encodingForLabel(std::string_view label) {
    const Encoding* encoding = find(label);
    return encoding ? std::optional<std::string>(encoding->name) : std::nullopt;
}

std::string decodeHTMLBytes(std::string_view bytes, const std::optional<std::string>& transportCharset,
                            std::string* encodingUsed) {
    return decodeByFirstSource(bytes, transportCharset, metaDeclaration, std::nullopt, encodingUsed);
}

std::string decodeTextBytes(std::string_view bytes, const std::optional<std::string>& transportCharset,
                            std::string* encodingUsed) {
    return decodeByFirstSource(bytes, transportCharset, nullptr, std::nullopt, encodingUsed);
}

std::string decodeStyleSheetBytes(std::string_view bytes, const std::optional<std::string>& transportCharset,
                                  const std::optional<std::string>& documentEncoding) {
    return decodeByFirstSource(bytes, transportCharset, charsetRule, documentEncoding, nullptr);
}

}  // namespace detail
