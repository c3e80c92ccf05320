#include "foundation/NSPropertyListSerialization.h"

#include "foundation/XMLSupport.h"

#include "foundation/NSString.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

constexpr unsigned kMaxDepth = NSPropertyListSerialization::kMaxDepth;

Ref<NSError> readError(const std::string& reason) {
    return NSError::errorWithDomain(
        NSCocoaErrorDomain, NSPropertyListReadCorruptError,
        Dictionary{{NSLocalizedDescriptionKey,
                    "The data couldn\u2019t be read because it isn\u2019t in the correct format."},
                   {"NSDebugDescription", reason}});
}

Ref<NSError> writeError(const std::string& reason) {
    return NSError::errorWithDomain(
        NSCocoaErrorDomain, NSPropertyListWriteInvalidError,
        Dictionary{{NSLocalizedDescriptionKey,
                    "The data couldn\u2019t be written because it isn\u2019t in the correct format."},
                   {"NSDebugDescription", reason}});
}

// ---------------------------------------------------------------------------------------------
// Base64 (RFC 4648, standard alphabet, padded).

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64Encode(const std::uint8_t* p, std::size_t n) {
    std::string out;
    out.reserve((n + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        std::uint32_t v = std::uint32_t(p[i]) << 16 | std::uint32_t(p[i + 1]) << 8 | p[i + 2];
        out += kBase64[v >> 18];
        out += kBase64[(v >> 12) & 63];
        out += kBase64[(v >> 6) & 63];
        out += kBase64[v & 63];
    }
    if (n - i == 1) {
        std::uint32_t v = std::uint32_t(p[i]) << 16;
        out += kBase64[v >> 18];
        out += kBase64[(v >> 12) & 63];
        out += "==";
    } else if (n - i == 2) {
        std::uint32_t v = std::uint32_t(p[i]) << 16 | std::uint32_t(p[i + 1]) << 8;
        out += kBase64[v >> 18];
        out += kBase64[(v >> 12) & 63];
        out += kBase64[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

// White space is skipped; anything else outside the alphabet, or misplaced padding, fails.
bool base64Decode(std::string_view text, std::vector<std::uint8_t>& out) {
    static const auto table = [] {
        std::array<std::int8_t, 256> t;
        t.fill(-1);
        for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(kBase64[i])] = static_cast<std::int8_t>(i);
        return t;
    }();
    out.reserve(text.size() / 4 * 3);
    std::uint32_t acc = 0;
    int bits = 0;
    int padding = 0;
    std::size_t symbols = 0;
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
        if (c == '=') {
            ++padding;
            ++symbols;
            continue;
        }
        if (padding) return false;
        int v = table[c];
        if (v < 0) return false;
        ++symbols;
        acc = (acc << 6) | static_cast<std::uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>(acc >> bits));
        }
    }
    if (padding > 2) return false;
    if (padding && symbols % 4 != 0) return false;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Dates: ISO 8601 UTC text from and to seconds since 1970, on the proleptic Gregorian calendar.

long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void civilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

std::string formatISODate(const NSDate& date) {
    double t = std::floor(date.timeIntervalSince1970());
    if (!std::isfinite(t) || std::fabs(t) > 1e14) t = 0;
    auto seconds = static_cast<long long>(t);
    long long days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    long long rest = seconds - days * 86400;
    long long y;
    unsigned m, d;
    civilFromDays(days, y, m, d);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ", y, m, d, rest / 3600,
                  rest / 60 % 60, rest % 60);
    return buf;
}

bool parseISODate(std::string_view s, NSDate& out) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    auto number = [&](std::size_t& pos, std::size_t digits, long long& v) {
        if (pos + digits > s.size()) return false;
        v = 0;
        for (std::size_t i = 0; i < digits; ++i) {
            char c = s[pos + i];
            if (c < '0' || c > '9') return false;
            v = v * 10 + (c - '0');
        }
        pos += digits;
        return true;
    };
    auto expect = [&](std::size_t& pos, char c) {
        if (pos >= s.size() || s[pos] != c) return false;
        ++pos;
        return true;
    };
    std::size_t pos = 0;
    bool negativeYear = !s.empty() && s[0] == '-';
    if (negativeYear) ++pos;
    long long year, month, day, hour, minute, second;
    if (!number(pos, 4, year) || !expect(pos, '-') || !number(pos, 2, month) || !expect(pos, '-') ||
        !number(pos, 2, day) || !expect(pos, 'T') || !number(pos, 2, hour) || !expect(pos, ':') ||
        !number(pos, 2, minute) || !expect(pos, ':') || !number(pos, 2, second)) {
        return false;
    }
    double fraction = 0;
    if (pos < s.size() && s[pos] == '.') {
        std::size_t start = pos;
        ++pos;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') ++pos;
        if (pos == start + 1) return false;
        std::from_chars(s.data() + start, s.data() + pos, fraction);
    }
    if (!expect(pos, 'Z') || pos != s.size()) return false;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return false;
    if (negativeYear) year = -year;
    long long days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    double seconds = static_cast<double>(days) * 86400.0 +
                     static_cast<double>(hour * 3600 + minute * 60 + second) + fraction;
    out = NSDate::dateWithTimeIntervalSince1970(seconds);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Numbers as text.

std::string formatReal(double d) {
    if (std::isnan(d)) return "nan";
    if (std::isinf(d)) return d < 0 ? "-infinity" : "+infinity";
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, r.ptr);
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool parseInteger(std::string_view text, Value& out) {
    std::string_view s = trim(text);
    bool negative = false;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty()) return false;
    unsigned long long magnitude = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
    if (negative) {
        if (magnitude > static_cast<unsigned long long>(std::numeric_limits<long long>::max()) + 1)
            return false;
        out = NSNumber::numberWithLongLong(static_cast<long long>(0 - magnitude));
    } else if (magnitude > static_cast<unsigned long long>(std::numeric_limits<long long>::max())) {
        out = NSNumber::numberWithUnsignedLongLong(magnitude);
    } else {
        out = NSNumber::numberWithLongLong(static_cast<long long>(magnitude));
    }
    return true;
}

bool parseReal(std::string_view text, double& out) {
    std::string_view s = trim(text);
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    if (s.empty() || s[0] == '+' || s[0] == '-') return false;
    auto r = std::from_chars(s.data(), s.data() + s.size(), out);
    if (r.ec == std::errc::result_out_of_range) {
        // Too large becomes infinity, too small zero, as a reader of text numbers would.
        std::string copy(s);
        out = std::strtod(copy.c_str(), nullptr);
    } else if (r.ec != std::errc() || r.ptr != s.data() + s.size()) {
        return false;
    }
    if (negative) out = -out;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Dictionaries from a stream of entries: a repeated key keeps its place and takes the new value.

class DictionaryBuilder {
  public:
    void add(std::string key, Value value) {
        if (entries_.size() < kLinear && !index_) {
            for (auto& e : entries_) {
                if (e.first == key) {
                    e.second = std::move(value);
                    return;
                }
            }
            entries_.emplace_back(std::move(key), std::move(value));
            return;
        }
        if (!index_) {
            index_ = std::make_unique<std::unordered_map<std::string, std::size_t>>();
            for (std::size_t i = 0; i < entries_.size(); ++i) index_->emplace(entries_[i].first, i);
        }
        auto [it, fresh] = index_->emplace(key, entries_.size());
        if (fresh) {
            entries_.emplace_back(std::move(key), std::move(value));
        } else {
            entries_[it->second].second = std::move(value);
        }
    }
    void reserve(std::size_t n) { entries_.reserve(n); }
    Dictionary finish(bool isMutable) {
        return Dictionary::withUniqueEntries(std::move(entries_), isMutable);
    }

  private:
    static constexpr std::size_t kLinear = 16;
    std::vector<Dictionary::Entry> entries_;
    std::unique_ptr<std::unordered_map<std::string, std::size_t>> index_;
};

// ---------------------------------------------------------------------------------------------
// Validity.

bool validUTF8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        std::size_t len;
        std::uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (static_cast<std::size_t>(end - p) < len) return false;
        for (std::size_t i = 1; i < len; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
            (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) {
            return false;
        }
        p += len;
    }
    return true;
}

bool validForFormat(const Value& v, NSPropertyListFormat format, unsigned depth) {
    bool openStep = format == NSPropertyListOpenStepFormat;
    switch (v.kind()) {
        case Value::Kind::String:
        case Value::Kind::Data:
            return true;
        case Value::Kind::Number:
        case Value::Kind::Date:
            return !openStep;
        case Value::Kind::Array:
            if (depth >= kMaxDepth) return false;
            for (auto& item : *v.array()) {
                if (!validForFormat(item, format, depth + 1)) return false;
            }
            return true;
        case Value::Kind::Dictionary:
            if (depth >= kMaxDepth) return false;
            for (auto& e : *v.dictionary()) {
                if (!validForFormat(e.second, format, depth + 1)) return false;
            }
            return true;
        default:
            return false;
    }
}

std::string kindName(const Value& v) {
    switch (v.kind()) {
        case Value::Kind::Nil:
            return "nil";
        case Value::Kind::Null:
            return "NSNull";
        case Value::Kind::Object:
            return v.object()->className();
        default:
            return "value";
    }
}

// ---------------------------------------------------------------------------------------------
// XML writing.

class XMLWriter {
  public:
    bool write(const Value& v, unsigned depth) {
        if (depth > kMaxDepth) return fail("Property list nested too deeply (or holding itself)");
        switch (v.kind()) {
            case Value::Kind::String:
                open(depth, "<string>");
                if (!text(*v.string())) return false;
                out_ += "</string>\n";
                return true;
            case Value::Kind::Number: {
                const NSNumber& n = *v.number();
                indent(depth);
                if (n.isBoolean()) {
                    out_ += n.boolValue() ? "<true/>\n" : "<false/>\n";
                } else if (n.isReal()) {
                    out_ += "<real>" + formatReal(n.doubleValue()) + "</real>\n";
                } else {
                    out_ += "<integer>" + n.stringValue() + "</integer>\n";
                }
                return true;
            }
            case Value::Kind::Date:
                indent(depth);
                out_ += "<date>" + formatISODate(*v.date()) + "</date>\n";
                return true;
            case Value::Kind::Data: {
                const NSData& d = *v.data();
                indent(depth);
                if (d.empty()) {
                    out_ += "<data></data>\n";
                    return true;
                }
                out_ += "<data>\n";
                std::string b64 = base64Encode(d.bytes(), d.length());
                for (std::size_t i = 0; i < b64.size(); i += 68) {
                    indent(depth);
                    out_.append(b64, i, 68);
                    out_ += '\n';
                }
                indent(depth);
                out_ += "</data>\n";
                return true;
            }
            case Value::Kind::Array: {
                const Array& a = *v.array();
                indent(depth);
                if (a.empty()) {
                    out_ += "<array/>\n";
                    return true;
                }
                out_ += "<array>\n";
                for (auto& item : a) {
                    if (!write(item, depth + 1)) return false;
                }
                indent(depth);
                out_ += "</array>\n";
                return true;
            }
            case Value::Kind::Dictionary: {
                const Dictionary& d = *v.dictionary();
                indent(depth);
                if (d.empty()) {
                    out_ += "<dict/>\n";
                    return true;
                }
                out_ += "<dict>\n";
                for (auto& [key, value] : d) {
                    open(depth + 1, "<key>");
                    if (!text(key)) return false;
                    out_ += "</key>\n";
                    if (!write(value, depth + 1)) return false;
                }
                indent(depth);
                out_ += "</dict>\n";
                return true;
            }
            default:
                return fail("Property list invalid for format (" + kindName(v) +
                            " is not a property-list value)");
        }
    }

    std::string& out() { return out_; }
    const std::string& reason() const { return reason_; }

  private:
    bool fail(std::string reason) {
        if (reason_.empty()) reason_ = std::move(reason);
        return false;
    }
    void indent(unsigned depth) { out_.append(depth, '\t'); }
    void open(unsigned depth, const char* tag) {
        indent(depth);
        out_ += tag;
    }

    // Text content: markup characters escaped, a carriage return kept by a character reference
    // (a reader would turn a bare one into a line feed); characters XML cannot carry fail.
    bool text(const std::string& s) {
        if (!validUTF8(s)) return fail("Property list string is not UTF-8");
        for (std::size_t i = 0; i < s.size(); ++i) {
            auto c = static_cast<unsigned char>(s[i]);
            switch (c) {
                case '&':
                    out_ += "&amp;";
                    break;
                case '<':
                    out_ += "&lt;";
                    break;
                case '>':
                    out_ += "&gt;";
                    break;
                case '\r':
                    out_ += "&#13;";
                    break;
                case '\t':
                case '\n':
                    out_ += static_cast<char>(c);
                    break;
                default:
                    if (c < 0x20)
                        return fail("Property list string holds a control character XML cannot carry");
                    // U+FFFE and U+FFFF are not XML characters.
                    if (c == 0xEF && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0xBF &&
                        static_cast<unsigned char>(s[i + 2]) >= 0xBE) {
                        return fail("Property list string holds a character XML cannot carry");
                    }
                    out_ += static_cast<char>(c);
            }
        }
        return true;
    }

    std::string out_;
    std::string reason_;
};

// ---------------------------------------------------------------------------------------------
// XML reading over libxml2's tree.

using detail::initXML;
using detail::QuietXMLErrors;

class XMLReader {
  public:
    explicit XMLReader(bool mutableContainers) : mutable_(mutableContainers) {}

    Value read(const NSData& data) {
        initXML();
        QuietXMLErrors quiet;
        if (data.length() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
            fail("Property list too large");
            return Value();
        }
        xmlDocPtr doc = xmlReadMemory(
            reinterpret_cast<const char*>(data.bytes()), static_cast<int>(data.length()), nullptr, nullptr,
            XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA);
        if (!doc) {
            const xmlError* e = xmlGetLastError();
            std::string message = e && e->message ? e->message : "malformed XML";
            while (!message.empty() && message.back() == '\n') message.pop_back();
            fail("XML parse error: " + message + (e ? " at line " + std::to_string(e->line) : ""));
            return Value();
        }
        Value result;
        xmlNodePtr root = xmlDocGetRootElement(doc);
        if (!root) {
            fail("No root element");
        } else if (name(root) == "plist") {
            xmlNodePtr only = nullptr;
            bool ok = true;
            for (xmlNodePtr c = root->children; c; c = c->next) {
                if (!skippable(c)) {
                    if (c->type != XML_ELEMENT_NODE || only) {
                        ok = false;
                        break;
                    }
                    only = c;
                }
            }
            if (!ok) {
                fail("A plist element holds exactly one value");
            } else if (!only) {
                fail("Empty plist element");
            } else {
                result = convert(only, 0);
            }
        } else {
            result = convert(root, 0);
        }
        xmlFreeDoc(doc);
        return reason_.empty() ? result : Value();
    }

    const std::string& reason() const { return reason_; }

  private:
    static std::string_view name(xmlNodePtr n) { return reinterpret_cast<const char*>(n->name); }

    // Comments, processing instructions and white space between elements.
    static bool skippable(xmlNodePtr n) {
        if (n->type == XML_COMMENT_NODE || n->type == XML_PI_NODE) return true;
        if (n->type == XML_TEXT_NODE) {
            for (const xmlChar* p = n->content; p && *p; ++p) {
                if (!std::isspace(*p)) return false;
            }
            return true;
        }
        return false;
    }

    Value fail(std::string reason) {
        if (reason_.empty()) reason_ = std::move(reason);
        return Value();
    }

    bool text(xmlNodePtr n, std::string& out) {
        for (xmlNodePtr c = n->children; c; c = c->next) {
            if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) {
                if (c->content) out += reinterpret_cast<const char*>(c->content);
            } else if (c->type == XML_COMMENT_NODE || c->type == XML_PI_NODE) {
                continue;
            } else {
                fail("Unexpected content in <" + std::string(name(n)) + ">");
                return false;
            }
        }
        return true;
    }

    Value convert(xmlNodePtr n, unsigned depth) {
        if (depth > kMaxDepth) return fail("Property list nested too deeply");
        if (n->type != XML_ELEMENT_NODE) return fail("Expected an element");
        std::string_view tag = name(n);
        if (tag == "dict") {
            DictionaryBuilder builder;
            for (xmlNodePtr c = n->children; c; c = c->next) {
                if (skippable(c)) continue;
                if (c->type != XML_ELEMENT_NODE || name(c) != "key") return fail("Expected <key> in <dict>");
                std::string key;
                if (!text(c, key)) return Value();
                xmlNodePtr v = c->next;
                while (v && skippable(v)) v = v->next;
                if (!v) return fail("Missing value for key \"" + key + "\"");
                Value value = convert(v, depth + 1);
                if (value.isNil()) return Value();
                builder.add(std::move(key), std::move(value));
                c = v;
            }
            return builder.finish(mutable_);
        }
        if (tag == "array") {
            std::vector<Value> items;
            for (xmlNodePtr c = n->children; c; c = c->next) {
                if (skippable(c)) continue;
                Value value = convert(c, depth + 1);
                if (value.isNil()) return Value();
                items.push_back(std::move(value));
            }
            return Array(std::move(items), mutable_);
        }
        std::string content;
        if (!text(n, content)) return Value();
        if (tag == "string") return Value(std::move(content));
        if (tag == "integer") {
            Value v;
            if (!parseInteger(content, v)) return fail("Invalid <integer> \"" + content + "\"");
            return v;
        }
        if (tag == "real") {
            double d;
            if (!parseReal(content, d)) return fail("Invalid <real> \"" + content + "\"");
            return NSNumber::numberWithDouble(d);
        }
        if (tag == "true" || tag == "false") {
            if (!trim(content).empty()) return fail("<" + std::string(tag) + "/> holds text");
            return NSNumber::numberWithBool(tag == "true");
        }
        if (tag == "date") {
            NSDate date;
            if (!parseISODate(content, date)) return fail("Invalid <date> \"" + content + "\"");
            return date;
        }
        if (tag == "data") {
            std::vector<std::uint8_t> bytes;
            if (!base64Decode(content, bytes)) return fail("Invalid base64 in <data>");
            return NSData(std::move(bytes));
        }
        return fail("Unknown element <" + std::string(tag) + ">");
    }

    bool mutable_;
    std::string reason_;
};

// ---------------------------------------------------------------------------------------------
// Binary writing.

unsigned bytesFor(std::uint64_t v) {
    if (v <= 0xFF) return 1;
    if (v <= 0xFFFF) return 2;
    if (v <= 0xFFFFFFFFull) return 4;
    return 8;
}

void putBigEndian(std::string& out, std::uint64_t v, unsigned bytes) {
    for (unsigned i = bytes; i-- > 0;) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void putDouble(std::string& out, double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    putBigEndian(out, bits, 8);
}

// The marker byte with a count, and the count as an integer object after it when it does not fit
// in the low nibble.
void putMarker(std::string& out, std::uint8_t type, std::uint64_t count) {
    if (count < 15) {
        out += static_cast<char>(type | count);
        return;
    }
    out += static_cast<char>(type | 0x0F);
    unsigned n = bytesFor(count);
    out += static_cast<char>(0x10 | (n == 1 ? 0 : n == 2 ? 1 : n == 4 ? 2 : 3));
    putBigEndian(out, count, n);
}

class BinaryWriter {
  public:
    bool write(const Value& root) {
        if (!collect(root, 0)) return false;
        std::uint64_t count = objects_.size();
        unsigned refSize = bytesFor(count - 1);
        std::string out = "bplist00";
        std::vector<std::uint64_t> offsets;
        offsets.reserve(count);
        for (auto& object : objects_) {
            offsets.push_back(out.size());
            if (!object.refs) {
                out += object.bytes;
                continue;
            }
            out += object.bytes;  // the marker and count
            for (std::uint64_t ref : *object.refs) putBigEndian(out, ref, refSize);
        }
        std::uint64_t tableOffset = out.size();
        unsigned offsetSize = bytesFor(tableOffset);
        for (std::uint64_t o : offsets) putBigEndian(out, o, offsetSize);
        out.append(6, '\0');
        out += static_cast<char>(offsetSize);
        out += static_cast<char>(refSize);
        putBigEndian(out, count, 8);
        putBigEndian(out, 0, 8);  // the root is the first object
        putBigEndian(out, tableOffset, 8);
        out_ = std::move(out);
        return true;
    }

    std::string& out() { return out_; }
    const std::string& reason() const { return reason_; }

  private:
    struct Object {
        std::string bytes;
        std::unique_ptr<std::vector<std::uint64_t>> refs;
    };

    bool fail(std::string reason) {
        if (reason_.empty()) reason_ = std::move(reason);
        return false;
    }

    // Appends v's objects; returns false on an invalid value. Leaves are shared by their bytes.
    bool collect(const Value& v, unsigned depth, std::uint64_t* indexOut = nullptr) {
        if (depth > kMaxDepth) return fail("Property list nested too deeply (or holding itself)");
        if (v.isArray() || v.isDictionary()) {
            std::uint64_t index = objects_.size();
            if (indexOut) *indexOut = index;
            objects_.emplace_back();
            auto refs = std::make_unique<std::vector<std::uint64_t>>();
            std::string marker;
            if (auto a = v.array()) {
                putMarker(marker, 0xA0, a->count());
                refs->resize(a->count());
                for (std::size_t i = 0; i < a->count(); ++i) {
                    if (!collect((*a)[i], depth + 1, &(*refs)[i])) return false;
                }
            } else {
                const Dictionary& d = *v.dictionary();
                putMarker(marker, 0xD0, d.count());
                refs->resize(d.count() * 2);
                std::size_t i = 0;
                for (auto& [key, value] : d) {
                    if (!collect(Value(key), depth + 1, &(*refs)[i])) return false;
                    if (!collect(value, depth + 1, &(*refs)[d.count() + i])) return false;
                    ++i;
                }
            }
            objects_[index].bytes = std::move(marker);
            objects_[index].refs = std::move(refs);
            return true;
        }
        std::string bytes;
        if (!encodeLeaf(v, bytes)) return false;
        auto [it, fresh] = leaves_.emplace(std::move(bytes), objects_.size());
        if (fresh) {
            objects_.emplace_back();
            objects_.back().bytes = it->first;
        }
        if (indexOut) *indexOut = it->second;
        return true;
    }

    bool encodeLeaf(const Value& v, std::string& out) {
        switch (v.kind()) {
            case Value::Kind::Number: {
                const NSNumber& n = *v.number();
                if (n.isBoolean()) {
                    out += static_cast<char>(n.boolValue() ? 0x09 : 0x08);
                } else if (n.isReal()) {
                    out += static_cast<char>(0x23);
                    putDouble(out, n.doubleValue());
                } else if (n.isUnsigned() &&
                           n.unsignedLongLongValue() >
                               static_cast<unsigned long long>(std::numeric_limits<long long>::max())) {
                    out += static_cast<char>(0x14);
                    putBigEndian(out, 0, 8);
                    putBigEndian(out, n.unsignedLongLongValue(), 8);
                } else {
                    long long i = n.longLongValue();
                    if (i < 0) {
                        out += static_cast<char>(0x13);
                        putBigEndian(out, static_cast<std::uint64_t>(i), 8);
                    } else {
                        unsigned size = bytesFor(static_cast<std::uint64_t>(i));
                        out += static_cast<char>(0x10 | (size == 1 ? 0 : size == 2 ? 1 : size == 4 ? 2 : 3));
                        putBigEndian(out, static_cast<std::uint64_t>(i), size);
                    }
                }
                return true;
            }
            case Value::Kind::Date:
                out += static_cast<char>(0x33);
                putDouble(out, v.date()->timeIntervalSinceReferenceDate());
                return true;
            case Value::Kind::Data: {
                const NSData& d = *v.data();
                putMarker(out, 0x40, d.length());
                out.append(reinterpret_cast<const char*>(d.bytes()), d.length());
                return true;
            }
            case Value::Kind::String: {
                const std::string& s = *v.string();
                if (!validUTF8(s)) return fail("Property list string is not UTF-8");
                bool ascii = std::all_of(s.begin(), s.end(),
                                         [](char c) { return static_cast<unsigned char>(c) < 0x80; });
                if (ascii) {
                    putMarker(out, 0x50, s.size());
                    out += s;
                    return true;
                }
                std::u16string units = toUTF16(s);
                putMarker(out, 0x60, units.size());
                for (char16_t u : units) putBigEndian(out, u, 2);
                return true;
            }
            default:
                return fail("Property list invalid for format (" + kindName(v) +
                            " is not a property-list value)");
        }
    }

    static std::u16string toUTF16(const std::string& s) {
        std::u16string out;
        out.reserve(s.size());
        const auto* p = reinterpret_cast<const unsigned char*>(s.data());
        const auto* end = p + s.size();
        while (p < end) {
            std::uint32_t c = *p;
            std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            if (len == 2) c &= 0x1F;
            if (len == 3) c &= 0x0F;
            if (len == 4) c &= 0x07;
            for (std::size_t i = 1; i < len; ++i) c = (c << 6) | (p[i] & 0x3F);
            p += len;
            if (c >= 0x10000) {
                c -= 0x10000;
                out += static_cast<char16_t>(0xD800 + (c >> 10));
                out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
            } else {
                out += static_cast<char16_t>(c);
            }
        }
        return out;
    }

    std::vector<Object> objects_;
    std::unordered_map<std::string, std::uint64_t> leaves_;
    std::string out_;
    std::string reason_;
};

// ---------------------------------------------------------------------------------------------
// Binary reading: every offset, count and reference is checked against the file before use.

class BinaryReader {
  public:
    BinaryReader(const NSData& data, bool mutableContainers)
        : p_(data.bytes()), size_(data.length()), mutable_(mutableContainers) {
        // Strings and data shared many times over expand in memory; past this many bytes the
        // file is refused.
        budget_ = (std::uint64_t(64) << 20) + std::uint64_t(64) * size_;
    }

    Value read() {
        if (size_ < 8 + 32) return fail("Binary property list too short");
        const std::uint8_t* t = p_ + size_ - 32;
        offsetSize_ = t[6];
        refSize_ = t[7];
        count_ = be(t + 8, 8);
        std::uint64_t top = be(t + 16, 8);
        tableOffset_ = be(t + 24, 8);
        auto validSize = [](unsigned s) { return s == 1 || s == 2 || s == 4 || s == 8; };
        if (!validSize(offsetSize_) || !validSize(refSize_)) return fail("Invalid trailer sizes");
        if (count_ == 0 || top >= count_) return fail("Invalid object count or top object");
        std::uint64_t trailerStart = size_ - 32;
        if (tableOffset_ < 9 || tableOffset_ > trailerStart) return fail("Invalid offset table position");
        if (count_ > (trailerStart - tableOffset_) / offsetSize_)
            return fail("Offset table runs past the trailer");
        if (refSize_ < 8 && count_ - 1 > (std::uint64_t(1) << (8 * refSize_)) - 1) {
            return fail("Object references too small for the object count");
        }
        state_.assign(count_, 0);
        return object(top, 0);
    }

    const std::string& reason() const { return reason_; }

  private:
    static std::uint64_t be(const std::uint8_t* p, unsigned n) {
        std::uint64_t v = 0;
        for (unsigned i = 0; i < n; ++i) v = (v << 8) | p[i];
        return v;
    }

    Value fail(std::string reason) {
        if (reason_.empty()) reason_ = std::move(reason);
        return Value();
    }

    // Bytes [offset, offset + n) must lie before the offset table.
    bool inObjects(std::uint64_t offset, std::uint64_t n) const {
        return offset >= 8 && offset <= tableOffset_ && n <= tableOffset_ - offset;
    }

    bool charge(std::uint64_t bytes) {
        if (bytes > budget_) {
            fail("Property list expands beyond the size limit");
            return false;
        }
        budget_ -= bytes;
        return true;
    }

    // The count in the marker's low nibble, or the integer object after it.
    bool count(std::uint64_t& pos, std::uint8_t marker, std::uint64_t& out) {
        std::uint8_t nibble = marker & 0x0F;
        if (nibble != 0x0F) {
            out = nibble;
            return true;
        }
        if (!inObjects(pos, 1)) return false;
        std::uint8_t intMarker = p_[pos++];
        if ((intMarker & 0xF0) != 0x10 || (intMarker & 0x0F) > 3) return false;
        unsigned n = 1u << (intMarker & 0x0F);
        if (!inObjects(pos, n)) return false;
        out = be(p_ + pos, n);
        pos += n;
        return true;
    }

    Value object(std::uint64_t ref, unsigned depth) {
        if (ref >= count_) return fail("Object reference out of range");
        if (depth > kMaxDepth) return fail("Property list nested too deeply");
        auto cached = containers_.find(ref);
        if (cached != containers_.end()) return cached->second;
        if (state_[ref] == 1) return fail("Object reference cycle");

        std::uint64_t offset = be(p_ + tableOffset_ + ref * offsetSize_, offsetSize_);
        if (!inObjects(offset, 1)) return fail("Object offset out of range");
        std::uint64_t pos = offset;
        std::uint8_t marker = p_[pos++];
        std::uint8_t type = marker >> 4;
        std::uint8_t nibble = marker & 0x0F;
        switch (type) {
            case 0x0:
                if (nibble == 0x8 || nibble == 0x9) return NSNumber::numberWithBool(nibble == 0x9);
                return fail("Unsupported object (null or fill)");
            case 0x1: {
                if (nibble > 4) return fail("Invalid integer size");
                unsigned n = 1u << nibble;
                if (!inObjects(pos, n)) return fail("Integer runs past the objects");
                if (n == 16) {
                    std::uint64_t high = be(p_ + pos, 8), low = be(p_ + pos + 8, 8);
                    if (high == 0) {
                        if (low > static_cast<std::uint64_t>(std::numeric_limits<long long>::max())) {
                            return NSNumber::numberWithUnsignedLongLong(low);
                        }
                        return NSNumber::numberWithLongLong(static_cast<long long>(low));
                    }
                    if (high == ~std::uint64_t(0) && (low >> 63)) {
                        return NSNumber::numberWithLongLong(static_cast<long long>(low));
                    }
                    return fail("Integer out of range");
                }
                std::uint64_t v = be(p_ + pos, n);
                // Eight-byte integers are signed; shorter ones unsigned.
                return NSNumber::numberWithLongLong(n == 8 ? static_cast<long long>(v)
                                                           : static_cast<long long>(v));
            }
            case 0x2: {
                if (nibble == 2) {
                    if (!inObjects(pos, 4)) return fail("Real runs past the objects");
                    auto bits = static_cast<std::uint32_t>(be(p_ + pos, 4));
                    float f;
                    std::memcpy(&f, &bits, 4);
                    return NSNumber::numberWithDouble(f);
                }
                if (nibble == 3) {
                    if (!inObjects(pos, 8)) return fail("Real runs past the objects");
                    return NSNumber::numberWithDouble(readDouble(pos));
                }
                return fail("Invalid real size");
            }
            case 0x3:
                if (nibble != 3 || !inObjects(pos, 8)) return fail("Invalid date");
                return NSDate::dateWithTimeIntervalSinceReferenceDate(readDouble(pos));
            case 0x4: {
                std::uint64_t n;
                if (!count(pos, marker, n) || !inObjects(pos, n)) return fail("Data runs past the objects");
                if (!charge(n)) return Value();
                return NSData(p_ + pos, static_cast<std::size_t>(n));
            }
            case 0x5: {
                std::uint64_t n;
                if (!count(pos, marker, n) || !inObjects(pos, n)) return fail("String runs past the objects");
                if (!charge(n)) return Value();
                // Bytes above 0x7F are read as Latin-1 so the result stays UTF-8.
                std::string s;
                s.reserve(static_cast<std::size_t>(n));
                for (std::uint64_t i = 0; i < n; ++i) {
                    std::uint8_t c = p_[pos + i];
                    if (c < 0x80) {
                        s += static_cast<char>(c);
                    } else {
                        s += static_cast<char>(0xC0 | (c >> 6));
                        s += static_cast<char>(0x80 | (c & 0x3F));
                    }
                }
                return s;
            }
            case 0x6: {
                std::uint64_t n;
                if (!count(pos, marker, n) || n > tableOffset_ / 2 || !inObjects(pos, n * 2)) {
                    return fail("String runs past the objects");
                }
                if (!charge(n * 3)) return Value();
                return utf16(pos, n);
            }
            case 0x7: {
                std::uint64_t n;
                if (!count(pos, marker, n) || !inObjects(pos, n)) return fail("String runs past the objects");
                if (!charge(n)) return Value();
                std::string s(reinterpret_cast<const char*>(p_ + pos), static_cast<std::size_t>(n));
                if (!validUTF8(s)) return fail("Invalid UTF-8 string");
                return s;
            }
            case 0xA:
            case 0xD: {
                std::uint64_t n;
                bool isDict = type == 0xD;
                if (!count(pos, marker, n)) return fail("Invalid container count");
                std::uint64_t refs = isDict ? n * 2 : n;
                if (n > tableOffset_ || refs > tableOffset_ / refSize_ || !inObjects(pos, refs * refSize_)) {
                    return fail("Container runs past the objects");
                }
                if (!charge(refs * 16)) return Value();
                state_[ref] = 1;
                Value result;
                if (isDict) {
                    DictionaryBuilder builder;
                    builder.reserve(static_cast<std::size_t>(n));
                    for (std::uint64_t i = 0; i < n; ++i) {
                        Value key = object(be(p_ + pos + i * refSize_, refSize_), depth + 1);
                        if (key.isNil()) return Value();
                        if (!key.isString()) return fail("Dictionary key is not a string");
                        Value value = object(be(p_ + pos + (n + i) * refSize_, refSize_), depth + 1);
                        if (value.isNil()) return Value();
                        builder.add(std::move(*key.string()), std::move(value));
                    }
                    result = builder.finish(mutable_);
                } else {
                    std::vector<Value> items;
                    items.reserve(static_cast<std::size_t>(n));
                    for (std::uint64_t i = 0; i < n; ++i) {
                        Value item = object(be(p_ + pos + i * refSize_, refSize_), depth + 1);
                        if (item.isNil()) return Value();
                        items.push_back(std::move(item));
                    }
                    result = Array(std::move(items), mutable_);
                }
                state_[ref] = 0;
                containers_.emplace(ref, result);
                return result;
            }
            default:
                return fail("Unsupported object type");
        }
    }

    double readDouble(std::uint64_t pos) const {
        std::uint64_t bits = be(p_ + pos, 8);
        double d;
        std::memcpy(&d, &bits, 8);
        return d;
    }

    // Big-endian UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
    std::string utf16(std::uint64_t pos, std::uint64_t n) const {
        std::string out;
        out.reserve(static_cast<std::size_t>(n));
        auto unit = [&](std::uint64_t i) { return static_cast<std::uint32_t>(be(p_ + pos + i * 2, 2)); };
        for (std::uint64_t i = 0; i < n; ++i) {
            std::uint32_t c = unit(i);
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
                ++i;
            } else if (c >= 0xD800 && c <= 0xDFFF) {
                c = 0xFFFD;
            }
            detail::appendUTF8(out, c);
        }
        return out;
    }

    const std::uint8_t* p_;
    std::uint64_t size_;
    bool mutable_;
    unsigned offsetSize_ = 0;
    unsigned refSize_ = 0;
    std::uint64_t count_ = 0;
    std::uint64_t tableOffset_ = 0;
    std::uint64_t budget_ = 0;
    // 1 while an object's contents are being read, to catch cycles.
    std::vector<std::uint8_t> state_;
    // Containers already read, shared by every reference to them.
    std::unordered_map<std::uint64_t, Value> containers_;
    std::string reason_;
};

}  // namespace

std::optional<NSData> NSPropertyListSerialization::dataWithPropertyList(const Value& plist,
                                                                        NSPropertyListFormat format, unsigned,
                                                                        Ref<NSError>* error) {
    if (format == NSPropertyListXMLFormat_v1_0) {
        XMLWriter writer;
        std::string& out = writer.out();
        out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<!DOCTYPE plist PUBLIC \"-//PLIST//DTD PLIST 1.0//EN\" \"PropertyList-1.0.dtd\">\n"
              "<plist version=\"1.0\">\n";
        if (!writer.write(plist, 0)) {
            setError(error, writeError(writer.reason()));
            return std::nullopt;
        }
        out += "</plist>\n";
        return NSData(out.data(), out.size());
    }
    if (format == NSPropertyListBinaryFormat_v1_0) {
        BinaryWriter writer;
        if (!writer.write(plist)) {
            setError(error, writeError(writer.reason()));
            return std::nullopt;
        }
        return NSData(writer.out().data(), writer.out().size());
    }
    setError(error,
             writeError(format == NSPropertyListOpenStepFormat
                            ? "Property list format not supported for writing (old text format)"
                            : "Unknown property list format " + std::to_string(static_cast<int>(format))));
    return std::nullopt;
}

Value NSPropertyListSerialization::propertyListWithData(const NSData& data, unsigned options,
                                                        NSPropertyListFormat* format, Ref<NSError>* error) {
    bool mutableContainers =
        options == NSPropertyListMutableContainers || options == NSPropertyListMutableContainersAndLeaves;
    std::string_view bytes = data.view();
    if (bytes.empty()) {
        setError(error, readError("Cannot parse a NULL or zero-length data"));
        return Value();
    }
    if (bytes.substr(0, 6) == "bplist") {
        if (bytes.substr(0, 8) != "bplist00") {
            setError(error, readError("Unsupported binary property list version"));
            return Value();
        }
        BinaryReader reader(data, mutableContainers);
        Value v = reader.read();
        if (v.isNil()) {
            setError(error,
                     readError(reader.reason().empty() ? "Invalid binary property list" : reader.reason()));
            return Value();
        }
        if (format) *format = NSPropertyListBinaryFormat_v1_0;
        return v;
    }
    // XML: the first thing after white space and a byte-order mark is markup.
    std::string_view rest = bytes;
    if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
    while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.front()))) rest.remove_prefix(1);
    if (rest.empty() || rest.front() != '<') {
        setError(error, readError("Old-style text property lists are not supported"));
        return Value();
    }
    XMLReader reader(mutableContainers);
    Value v = reader.read(data);
    if (v.isNil()) {
        setError(error, readError(reader.reason().empty() ? "Invalid XML property list" : reader.reason()));
        return Value();
    }
    if (format) *format = NSPropertyListXMLFormat_v1_0;
    return v;
}

bool NSPropertyListSerialization::propertyListIsValidForFormat(const Value& plist,
                                                               NSPropertyListFormat format) {
    if (format != NSPropertyListOpenStepFormat && format != NSPropertyListXMLFormat_v1_0 &&
        format != NSPropertyListBinaryFormat_v1_0) {
        return false;
    }
    return validForFormat(plist, format, 0);
}
