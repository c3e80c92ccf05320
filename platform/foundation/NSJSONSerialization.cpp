#include "foundation/NSJSONSerialization.h"

#include "foundation/NSString.h"

#include <simdjson.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_set>
#include <vector>

namespace {

constexpr long kReadErrorCode = NSPropertyListReadCorruptError;    // 3840
constexpr long kWriteErrorCode = NSPropertyListWriteInvalidError;  // 3852

Ref<NSError> readError(const std::string& reason, std::size_t offset) {
    std::string debug = reason + " around character " + std::to_string(offset) + ".";
    return NSError::errorWithDomain(
        NSCocoaErrorDomain, kReadErrorCode,
        Dictionary{{NSLocalizedDescriptionKey,
                    "The data couldn\u2019t be read because it isn\u2019t in the correct format."},
                   {NSDebugDescriptionErrorKey, debug},
                   {NSJSONSerializationErrorIndex, static_cast<long long>(offset)}});
}

Ref<NSError> writeError(const std::string& reason) {
    return NSError::errorWithDomain(
        NSCocoaErrorDomain, kWriteErrorCode,
        Dictionary{{NSLocalizedDescriptionKey,
                    "The data couldn\u2019t be written because it isn\u2019t in the correct format."},
                   {NSDebugDescriptionErrorKey, reason}});
}

// ---------------------------------------------------------------------------------------------
// Input encodings: the text may be UTF-16 or UTF-32 (told by a byte-order mark or by the zero
// bytes around the first character, which is always ASCII in JSON); it is turned into UTF-8.

enum class Encoding { UTF8, UTF16BE, UTF16LE, UTF32BE, UTF32LE };

Encoding detectEncoding(const std::uint8_t* p, std::size_t n, std::size_t& bomLength) {
    bomLength = 0;
    if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
        bomLength = 3;
        return Encoding::UTF8;
    }
    if (n >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 0xFE && p[3] == 0xFF) {
        bomLength = 4;
        return Encoding::UTF32BE;
    }
    if (n >= 4 && p[0] == 0xFF && p[1] == 0xFE && p[2] == 0 && p[3] == 0) {
        bomLength = 4;
        return Encoding::UTF32LE;
    }
    if (n >= 2 && p[0] == 0xFE && p[1] == 0xFF) {
        bomLength = 2;
        return Encoding::UTF16BE;
    }
    if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        bomLength = 2;
        return Encoding::UTF16LE;
    }
    if (n >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] != 0) return Encoding::UTF32BE;
    if (n >= 4 && p[0] != 0 && p[1] == 0 && p[2] == 0 && p[3] == 0) return Encoding::UTF32LE;
    if (n >= 2 && p[0] == 0 && p[1] != 0) return Encoding::UTF16BE;
    if (n >= 2 && p[0] != 0 && p[1] == 0) return Encoding::UTF16LE;
    return Encoding::UTF8;
}

// False with the offset of the bad unit on an invalid sequence.
bool transcodeToUTF8(const std::uint8_t* p, std::size_t n, Encoding enc, std::string& out,
                     std::size_t& badOffset) {
    out.reserve(n);
    bool wide = enc == Encoding::UTF32BE || enc == Encoding::UTF32LE;
    bool big = enc == Encoding::UTF16BE || enc == Encoding::UTF32BE;
    std::size_t unit = wide ? 4 : 2;
    auto read = [&](std::size_t i) -> std::uint32_t {
        if (wide) {
            return big ? (std::uint32_t(p[i]) << 24 | std::uint32_t(p[i + 1]) << 16 |
                          std::uint32_t(p[i + 2]) << 8 | p[i + 3])
                       : (std::uint32_t(p[i + 3]) << 24 | std::uint32_t(p[i + 2]) << 16 |
                          std::uint32_t(p[i + 1]) << 8 | p[i]);
        }
        return big ? (std::uint32_t(p[i]) << 8 | p[i + 1]) : (std::uint32_t(p[i + 1]) << 8 | p[i]);
    };
    if (n % unit != 0) {
        badOffset = n - n % unit;
        return false;
    }
    for (std::size_t i = 0; i < n; i += unit) {
        std::uint32_t c = read(i);
        if (!wide && c >= 0xD800 && c <= 0xDBFF) {
            if (i + unit >= n) {
                badOffset = i;
                return false;
            }
            std::uint32_t low = read(i + unit);
            if (low < 0xDC00 || low > 0xDFFF) {
                badOffset = i;
                return false;
            }
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i += unit;
        } else if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
            badOffset = i;
            return false;
        }
        detail::appendUTF8(out, c);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Reading: the library indexes the text and checks its UTF-8 and strings in one vector pass, then
// an on-demand walk builds the Values. Numbers are read here from their text, so integers keep
// their kind and reals are correctly rounded at any length. Containers are built from vectors
// reserved with the size of the previous container at the same depth, so a list of like records
// allocates each record's entries once.

namespace od = simdjson::ondemand;

// Where reading stopped in a text the library refused before the walk (bad UTF-8, a control
// character or an unterminated string): the first such byte.
std::size_t locateTextError(const unsigned char* p, std::size_t n) {
    bool inString = false;
    std::size_t quote = 0;
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char c = p[i];
        if (c >= 0x80) {
            std::size_t len = c >= 0xC2 && c <= 0xDF   ? 2
                              : c >= 0xE0 && c <= 0xEF ? 3
                              : c >= 0xF0 && c <= 0xF4 ? 4
                                                       : 0;
            if (len == 0 || n - i < len) return i;
            for (std::size_t k = 1; k < len; ++k) {
                if ((p[i + k] & 0xC0) != 0x80) return i;
            }
            if ((c == 0xE0 && p[i + 1] < 0xA0) || (c == 0xED && p[i + 1] >= 0xA0) ||
                (c == 0xF0 && p[i + 1] < 0x90) || (c == 0xF4 && p[i + 1] >= 0x90))
                return i;
            i += len - 1;
        } else if (inString) {
            if (c < 0x20) return i;
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
            quote = i;
        }
    }
    return inString ? quote : n;
}

class Reader {
  public:
    Reader(const char* text, std::size_t length, bool mutableContainers, bool allowFragments)
        : text_(text), end_(text + length), mutable_(mutableContainers), allowFragments_(allowFragments) {}

    // nil on failure, with reason() and offset() telling why and where.
    Value read(od::document& doc) {
        doc_ = &doc;
        od::json_type type{};
        if (fail(doc.type().get(type), Context::Value)) return Value();
        Value out;
        if (type == od::json_type::array || type == od::json_type::object) {
            if (!readContainer(doc, type, 1, out)) return Value();
        } else if (!allowFragments_) {
            stop("JSON text did not start with array or object and option to allow fragments not set.",
                 text_);
            return Value();
        } else if (type != od::json_type::string) {
            // A number or literal at the top is read from its text here (the walk never consumes
            // it), and whatever follows must be blank.
            std::string_view token;
            if (fail(doc.raw_json_token().get(token), Context::Value)) return Value();
            const char* after = nullptr;
            if (type == od::json_type::number ? !readNumber(token.data(), out, after)
                                              : !readLiteral(token.data(), out, after))
                return Value();
            while (after < end_ && isBlank(*after)) ++after;
            if (after == end_) return out;
            stop("Garbage at end", after);
            return Value();
        } else if (!readScalar(doc, type, out)) {
            return Value();
        }
        const char* rest = nullptr;
        if (doc.current_location().get(rest) != simdjson::SUCCESS) return out;
        stop("Garbage at end", rest);
        return Value();
    }

    const std::string& reason() const { return reason_; }
    std::size_t offset() const { return offset_; }

  private:
    enum class Context { Value, Array, Object };
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    // Past this many keys an object's duplicate check uses a hash index.
    static constexpr std::size_t kIndexThreshold = 32;

    // The entries of the object being read, with what finds a repeated key fast: a 128-bit
    // filter of the keys seen, then a hash index for big objects.
    struct ObjectFrame;
    // Hashes and compares entry indices by the key they point at, so the index survives the
    // entries vector growing.
    struct KeyHash {
        const ObjectFrame* frame;
        std::size_t operator()(std::size_t i) const {
            return std::hash<std::string_view>()(i == kNone ? frame->probe : frame->entries[i].first);
        }
    };
    struct KeyEqual {
        const ObjectFrame* frame;
        std::string_view key(std::size_t i) const {
            return i == kNone ? frame->probe : std::string_view(frame->entries[i].first);
        }
        bool operator()(std::size_t a, std::size_t b) const { return key(a) == key(b); }
    };
    using KeyIndex = std::unordered_set<std::size_t, KeyHash, KeyEqual>;
    struct ObjectFrame {
        std::vector<Dictionary::Entry> entries;
        std::uint64_t mask[2] = {0, 0};
        std::unique_ptr<KeyIndex> index;
        std::string_view probe;
    };

    static bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
    static bool isDigit(char c) { return static_cast<unsigned char>(c - '0') <= 9; }

    bool stop(const char* reason, const char* where) {
        reason_ = reason;
        offset_ = static_cast<std::size_t>(std::clamp(where, text_, end_) - text_);
        return false;
    }

    // True (after noting why and where) when the library reported an error.
    bool fail(simdjson::error_code code, Context context) {
        if (code == simdjson::SUCCESS) return false;
        if (code == simdjson::INCOMPLETE_ARRAY_OR_OBJECT) {
            // The library tells only that the text does not end where the top container does.
            const char* close = closeOfRoot();
            while (close && close < end_ && isBlank(*close)) ++close;
            if (close && close < end_) {
                stop("Garbage at end", close);
            } else {
                stop("Unexpected end of file during JSON parse", end_);
            }
            return true;
        }
        const char* where = end_;
        const char* location = nullptr;
        if (doc_->current_location().get(location) == simdjson::SUCCESS) where = location;
        stop(reasonFor(code, context), where);
        return true;
    }

    // Just past the bracket that closes the top container, nullptr when none does.
    const char* closeOfRoot() const {
        long depth = 0;
        bool inString = false;
        for (const char* p = text_; p < end_; ++p) {
            char c = *p;
            if (inString) {
                if (c == '\\') {
                    ++p;
                } else if (c == '"') {
                    inString = false;
                }
            } else if (c == '"') {
                inString = true;
            } else if (c == '[' || c == '{') {
                ++depth;
            } else if ((c == ']' || c == '}') && --depth == 0) {
                return p + 1;
            }
        }
        return nullptr;
    }

    static const char* reasonFor(simdjson::error_code code, Context context) {
        switch (code) {
            case simdjson::UTF8_ERROR:
                return "Unable to convert data to string";
            case simdjson::UNESCAPED_CHARS:
                return "Unescaped control character";
            case simdjson::UNCLOSED_STRING:
                return "Unterminated string";
            case simdjson::EMPTY:
            case simdjson::INCOMPLETE_ARRAY_OR_OBJECT:
                return "Unexpected end of file during JSON parse";
            case simdjson::NUMBER_ERROR:
                return "Invalid number";
            case simdjson::STRING_ERROR:
                return "Invalid string";
            case simdjson::DEPTH_ERROR:
                return "Too many nested arrays or dictionaries";
            case simdjson::CAPACITY:
            case simdjson::MEMALLOC:
                return "Document too large";
            case simdjson::T_ATOM_ERROR:
            case simdjson::F_ATOM_ERROR:
            case simdjson::N_ATOM_ERROR:
            case simdjson::INCORRECT_TYPE:
                return "Invalid value";
            default:
                return context == Context::Array    ? "Badly formed array"
                       : context == Context::Object ? "Badly formed object"
                                                    : "Invalid value";
        }
    }

    static const char* tokenStart(od::value& v) { return v.raw_json_token().data(); }
    static const char* tokenStart(od::document& d) {
        std::string_view token;
        return d.raw_json_token().get(token) == simdjson::SUCCESS ? token.data() : nullptr;
    }

    bool readValue(od::value& v, unsigned depth, Value& out) {
        od::json_type type;
        if (fail(v.type().get(type), Context::Value)) return false;
        switch (type) {
            case od::json_type::array:
            case od::json_type::object:
                return readContainer(v, type, depth + 1, out);
            case od::json_type::number: {
                // Left unconsumed: the walk steps over a scalar it did not take.
                const char* after = nullptr;
                return readNumber(tokenStart(v), out, after);
            }
            case od::json_type::string: {
                // Most strings hold no escape: their text is taken from the document as it
                // stands, between the quotes, without the library unescaping it to a buffer
                // first. The token runs to the next structural character, so only blanks follow
                // its closing quote.
                std::string_view token = v.raw_json_token();
                std::size_t n = token.size();
                while (n > 2 && isBlank(token[n - 1])) --n;
                if (n >= 2 && token[n - 1] == '"' && !std::memchr(token.data() + 1, '\\', n - 2)) {
                    out = Value(std::string(token.data() + 1, n - 2));
                    return true;
                }
                return readScalar(v, type, out);
            }
            default:
                return readScalar(v, type, out);
        }
    }

    template <typename Source>
    bool readContainer(Source& source, od::json_type type, unsigned depth, Value& out) {
        if (depth > NSJSONSerialization::kMaxDepth)
            return stop("Too many nested arrays or dictionaries", tokenStart(source));
        if (type == od::json_type::array) {
            od::array a;
            if (fail(source.get_array().get(a), Context::Array)) return false;
            return readArray(a, depth, out);
        }
        od::object o;
        if (fail(source.get_object().get(o), Context::Object)) return false;
        return readObject(o, depth, out);
    }

    template <typename Source>
    bool readScalar(Source& source, od::json_type type, Value& out) {
        switch (type) {
            case od::json_type::string: {
                std::string_view s;
                simdjson::error_code e = source.get_string().get(s);
                if (e == simdjson::SUCCESS) {
                    out = Value(std::string(s));
                    return true;
                }
                if (e != simdjson::STRING_ERROR) return !fail(e, Context::Value);
                // The library refuses lone surrogates; this reader has always taken a lone low one.
                const char* quote = tokenStart(source);
                std::string text;
                if (!quote || !unescape(quote + 1, text)) return false;
                out = Value(std::move(text));
                return true;
            }
            case od::json_type::boolean: {
                bool b = false;
                if (fail(source.get_bool().get(b), Context::Value)) return false;
                out = NSNumber::numberWithBool(b);
                return true;
            }
            case od::json_type::null: {
                bool null = false;
                if (fail(source.is_null().get(null), Context::Value)) return false;
                if (!null) return stop("Invalid value", tokenStart(source));
                out = Value::null();
                return true;
            }
            default:
                return stop("Invalid value", tokenStart(source));
        }
    }

    std::size_t& hint(unsigned depth) {
        if (hints_.size() <= depth) hints_.resize(depth + 1, 0);
        return hints_[depth];
    }

    bool readArray(od::array& a, unsigned depth, Value& out) {
        std::vector<Value> items;
        items.reserve(hint(depth));
        for (auto element : a) {
            od::value v;
            if (fail(std::move(element).get(v), Context::Array)) return false;
            items.emplace_back();
            if (!readValue(v, depth, items.back())) return false;
        }
        hint(depth) = items.size();
        out = Array(std::move(items), mutable_);
        return true;
    }

    bool readObject(od::object& o, unsigned depth, Value& out) {
        ObjectFrame f;
        f.entries.reserve(hint(depth));
        std::string unescaped;
        for (auto result : o) {
            od::field field;
            if (fail(std::move(result).get(field), Context::Object)) return false;
            // Taken first: unescaping the key lets go of its raw text.
            const char* rawKey = field.key().raw();
            // A key without escapes (nearly all) is used where it stands in the document. The
            // text passed the library's checks, so a quote or a backslash comes before any zero.
            const char* close = rawKey;
            while (*close != '"' && *close != '\\' && *close != 0) ++close;
            std::string_view key;
            if (*close == '"') {
                key = std::string_view(rawKey, static_cast<std::size_t>(close - rawKey));
            } else if (simdjson::error_code e = field.unescaped_key().get(key); e == simdjson::STRING_ERROR) {
                unescaped.clear();
                if (!unescape(rawKey, unescaped)) return false;
                key = unescaped;
            } else if (fail(e, Context::Object)) {
                return false;
            }
            // Read in place: nothing below this object touches its entries.
            std::size_t slot = addKey(f, key);
            if (!readValue(field.value(), depth, f.entries[slot].second)) return false;
        }
        hint(depth) = f.entries.size();
        out = Dictionary::withUniqueEntries(std::move(f.entries), mutable_);
        return true;
    }

    static unsigned keyBit(std::string_view s) {
        std::size_t n = s.size();
        if (n == 0) return 0;
        auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
        return (static_cast<unsigned>(n) * 13u + b(0) * 3u + b(n - 1) * 5u + b(n / 2) * 7u) & 127u;
    }

    // The index of the entry the key's value goes into: a repeated key keeps its first place.
    static std::size_t addKey(ObjectFrame& f, std::string_view key) {
        if (f.index) {
            f.probe = key;
            auto it = f.index->find(kNone);
            if (it != f.index->end()) return *it;
            f.entries.emplace_back(std::string(key), Value());
            f.index->insert(f.entries.size() - 1);
            return f.entries.size() - 1;
        }
        unsigned bit = keyBit(key);
        std::uint64_t& word = f.mask[bit >> 6];
        std::uint64_t flag = std::uint64_t(1) << (bit & 63);
        if (word & flag) {
            for (std::size_t i = 0; i < f.entries.size(); ++i) {
                if (f.entries[i].first == key) return i;
            }
        }
        word |= flag;
        f.entries.emplace_back(std::string(key), Value());
        if (f.entries.size() >= kIndexThreshold) {
            f.index = std::make_unique<KeyIndex>(f.entries.size() * 2, KeyHash{&f}, KeyEqual{&f});
            for (std::size_t i = 0; i < f.entries.size(); ++i) f.index->insert(i);
        }
        return f.entries.size() - 1;
    }

    bool readLiteral(const char* p, Value& out, const char*& after) {
        auto is = [&](std::string_view word) {
            return static_cast<std::size_t>(end_ - p) >= word.size() &&
                   std::string_view(p, word.size()) == word;
        };
        if (is("true") || is("false")) {
            out = NSNumber::numberWithBool(*p == 't');
        } else if (is("null")) {
            out = Value::null();
        } else {
            return stop("Invalid value", p);
        }
        after = p + (*p == 'f' ? 5 : 4);
        return true;
    }

    // Integers stay integers: 64-bit signed, larger ones unsigned 64-bit, beyond that a double.
    // Reals are correctly rounded whatever their length; one beyond the double range is an
    // error, one below it is zero.
    bool readNumber(const char* start, Value& out, const char*& after) {
        if (!start) return stop("Invalid number", end_);
        const char* p = start;
        bool negative = p < end_ && *p == '-';
        if (negative) ++p;
        const char* digits = p;
        std::uint64_t magnitude = 0;
        while (p < end_ && isDigit(*p)) magnitude = magnitude * 10 + static_cast<unsigned>(*p++ - '0');
        std::size_t intLength = static_cast<std::size_t>(p - digits);
        if (intLength == 0 || (*digits == '0' && intLength > 1)) return stop("Invalid number", start);
        const char* fraction = nullptr;
        const char* exponent = nullptr;
        if (p < end_ && *p == '.') {
            fraction = ++p;
            while (p < end_ && isDigit(*p)) ++p;
            if (p == fraction) return stop("Invalid number", start);
        }
        if (p < end_ && (*p == 'e' || *p == 'E')) {
            if (++p < end_ && (*p == '+' || *p == '-')) ++p;
            exponent = p;
            while (p < end_ && isDigit(*p)) ++p;
            if (p == exponent) return stop("Invalid number", start);
        }
        if (p < end_ && !isBlank(*p) && *p != ',' && *p != ']' && *p != '}' && *p != ':')
            return stop("Invalid number", start);
        after = p;

        if (!fraction && !exponent) {
            // Twenty digits fit when not above 2^64 - 1; then the wrapping sum above never wrapped.
            bool fits =
                intLength < 20 || (intLength == 20 && std::string_view(digits, 20) <= "18446744073709551615");
            constexpr auto kSignedMax = static_cast<std::uint64_t>(std::numeric_limits<long long>::max());
            if (fits && !negative) {
                out = magnitude <= kSignedMax
                          ? NSNumber::numberWithLongLong(static_cast<long long>(magnitude))
                          : NSNumber::numberWithUnsignedLongLong(magnitude);
                return true;
            }
            if (fits && magnitude <= kSignedMax + 1) {
                // Modular conversion: 2^63 becomes the least long long.
                out = NSNumber::numberWithLongLong(static_cast<long long>(0 - magnitude));
                return true;
            }
        }
        double d = 0;
        auto [end, ec] = std::from_chars(start, p, d);
        if (ec == std::errc::result_out_of_range) {
            if (decimalExponent(digits, intLength, fraction, exponent) > 0)
                return stop("Number too large", start);
            d = negative ? -0.0 : 0.0;
        } else if (ec != std::errc() || end != p) {
            return stop("Invalid number", start);
        }
        out = NSNumber::numberWithDouble(d);
        return true;
    }

    // Roughly the power of ten of a number out of the double range: its sign tells too large
    // from too small.
    long long decimalExponent(const char* digits, std::size_t intLength, const char* fraction,
                              const char* exponent) const {
        long long e10 = 0;
        std::size_t i = 0;
        while (i < intLength && digits[i] == '0') ++i;
        if (i < intLength) {
            e10 = static_cast<long long>(intLength - i);
        } else if (fraction) {
            const char* f = fraction;
            while (f < end_ && *f == '0') ++f;
            e10 = -static_cast<long long>(f - fraction);
        }
        if (exponent) {
            bool minus = exponent[-1] == '-';
            long long e = 0;
            // Saturates: no text is long enough for its digits to outweigh this.
            for (const char* q = exponent; q < end_ && isDigit(*q); ++q)
                e = std::min(e * 10 + (*q - '0'), 1LL << 50);
            e10 += minus ? -e : e;
        }
        return e10;
    }

    // Unescapes the string whose text starts at p (after the opening quote). The text has passed
    // the library's checks, so only the escapes can be wrong.
    bool unescape(const char* p, std::string& out) {
        const char* start = p - 1;
        auto hex4 = [&](const char* q, std::uint32_t& value) {
            if (end_ - q < 4) return false;
            value = 0;
            for (int i = 0; i < 4; ++i) {
                char c = q[i];
                unsigned digit = isDigit(c)               ? unsigned(c - '0')
                                 : (c >= 'a' && c <= 'f') ? unsigned(c - 'a' + 10)
                                 : (c >= 'A' && c <= 'F') ? unsigned(c - 'A' + 10)
                                                          : 16u;
                if (digit == 16) return false;
                value = value << 4 | digit;
            }
            return true;
        };
        while (p < end_ && *p != '"') {
            if (*p != '\\') {
                const char* run = p;
                while (p < end_ && *p != '"' && *p != '\\') ++p;
                out.append(run, static_cast<std::size_t>(p - run));
                continue;
            }
            const char* escape = p;
            if (++p == end_) break;
            char c = *p++;
            switch (c) {
                case '"':
                case '\\':
                case '/':
                    out += c;
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    std::uint32_t cp = 0;
                    if (!hex4(p, cp)) return stop("Invalid hex escape sequence", escape);
                    p += 4;
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        std::uint32_t low = 0;
                        if (end_ - p < 6 || p[0] != '\\' || p[1] != 'u' || !hex4(p + 2, low) ||
                            low < 0xDC00 || low > 0xDFFF)
                            return stop("Unable to convert hex escape sequence (no low surrogate)", escape);
                        p += 6;
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                        // A lone low surrogate stands for the replacement character, so every
                        // string stays valid UTF-8.
                        cp = 0xFFFD;
                    }
                    detail::appendUTF8(out, cp);
                    break;
                }
                default:
                    return stop("Invalid escape sequence", escape);
            }
        }
        if (p == end_) return stop("Unterminated string", start);
        return true;
    }

    const char* text_;
    const char* end_;
    od::document* doc_ = nullptr;
    std::vector<std::size_t> hints_;
    bool mutable_;
    bool allowFragments_;
    std::string reason_;
    std::size_t offset_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Writing into a growing byte buffer.

class Writer {
  public:
    explicit Writer(unsigned options)
        : pretty_(options & NSJSONWritingPrettyPrinted),
          sorted_(options & NSJSONWritingSortedKeys),
          escapeSlash_(!(options & NSJSONWritingWithoutEscapingSlashes)) {
        Scratch& sc = scratch();
        if (!sc.data) {
            sc.data = static_cast<std::uint8_t*>(std::malloc(kInitialScratch));
            sc.capacity = sc.data ? kInitialScratch : 0;
        }
        buffer_ = sc.data;
        capacity_ = sc.capacity;
    }
    ~Writer() {
        Scratch& sc = scratch();
        if (capacity_ > kKeptScratch) {
            std::free(buffer_);
            buffer_ = nullptr;
            capacity_ = 0;
        }
        sc.data = buffer_;
        sc.capacity = capacity_;
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    bool write(const Value& v, unsigned depth) {
        switch (v.kind()) {
            case Value::Kind::Null:
                append("null", 4);
                return true;
            case Value::Kind::Number:
                return writeNumber(*v.number());
            case Value::Kind::String:
                return writeString(*v.string());
            case Value::Kind::Array:
                return writeArray(*v.array(), depth + 1);
            case Value::Kind::Dictionary:
                return writeDictionary(*v.dictionary(), depth + 1);
            case Value::Kind::Nil:
                return fail("Invalid value (nil) in JSON write");
            case Value::Kind::Data:
                return fail("Invalid type in JSON write (NSData)");
            case Value::Kind::Date:
                return fail("Invalid type in JSON write (NSDate)");
            case Value::Kind::Object:
                return fail("Invalid type in JSON write (" + v.object()->className() + ")");
        }
        return fail("Invalid type in JSON write");
    }

    NSData data() const { return NSData(buffer_, size_); }
    const std::string& reason() const { return reason_; }

  private:
    bool fail(std::string reason) {
        if (reason_.empty()) reason_ = std::move(reason);
        return false;
    }

    // Text goes into a per-thread buffer that grows by realloc and is kept for the next call
    // unless it grew large; the result is one exact copy of it.
    struct Scratch {
        std::uint8_t* data = nullptr;
        std::size_t capacity = 0;
        ~Scratch() { std::free(data); }
    };
    static constexpr std::size_t kInitialScratch = 64 * 1024;
    static constexpr std::size_t kKeptScratch = std::size_t(4) << 20;
    static Scratch& scratch() {
        thread_local Scratch s;
        return s;
    }
    // Room for n more bytes; answers where they go. The buffer is held here while writing (the
    // per-thread slot gets it back at the end), which keeps the hot path free of thread-local
    // look-ups.
    std::uint8_t* reserve(std::size_t n) {
        if (capacity_ - size_ < n) {
            std::size_t capacity = std::max(capacity_ * 2, size_ + n);
            auto* grown = static_cast<std::uint8_t*>(std::realloc(buffer_, capacity));
            if (!grown) throw std::bad_alloc();
            buffer_ = grown;
            capacity_ = capacity;
        }
        return buffer_ + size_;
    }
    void append(const void* s, std::size_t n) {
        std::memcpy(reserve(n), s, n);
        size_ += n;
    }
    void put(char c) {
        *reserve(1) = static_cast<std::uint8_t>(c);
        ++size_;
    }
    void newline(unsigned depth) {
        std::size_t n = static_cast<std::size_t>(depth) * 2 + 1;
        std::uint8_t* p = reserve(n);
        p[0] = '\n';
        std::memset(p + 1, ' ', n - 1);
        size_ += n;
    }

    bool writeNumber(const NSNumber& n) {
        char buf[64];
        std::to_chars_result r;
        switch (n.type()) {
            case NSNumber::Type::Bool:
                if (n.boolValue()) {
                    append("true", 4);
                } else {
                    append("false", 5);
                }
                return true;
            case NSNumber::Type::Float: {
                float f = n.floatValue();
                if (!std::isfinite(f))
                    return fail("Invalid number value (" + n.stringValue() + ") in JSON write");
                r = std::to_chars(buf, buf + sizeof buf, f);
                break;
            }
            case NSNumber::Type::Double: {
                double d = n.doubleValue();
                if (!std::isfinite(d))
                    return fail("Invalid number value (" + n.stringValue() + ") in JSON write");
                r = std::to_chars(buf, buf + sizeof buf, d);
                break;
            }
            default:
                if (n.isUnsigned()) {
                    r = std::to_chars(buf, buf + sizeof buf, n.unsignedLongLongValue());
                } else {
                    r = std::to_chars(buf, buf + sizeof buf, n.longLongValue());
                }
        }
        append(buf, static_cast<std::size_t>(r.ptr - buf));
        return true;
    }

    // A string's text goes out sixteen bytes at a time: each block is stored as it stands and then
    // looked at for the bytes that need work (a control byte, a quote, a backslash, a slash when
    // escaped, and until the first one is met, any byte at or above 0x80). The first byte at or
    // above 0x80 has the rest of the string checked as UTF-8 in one pass, after which such bytes
    // need no look of their own.
    static constexpr std::ptrdiff_t kBlock = 16;

    bool writeString(const std::string& s) {
        const auto* p = reinterpret_cast<const unsigned char*>(s.data());
        const auto* end = p + s.size();
        // Room for the text, its quotes, and a whole block stored past the last byte; each escape
        // makes room for the rest again.
        std::uint8_t* o = reserve(s.size() + 2 + kBlock);
        *o++ = '"';
        bool checked = false;
        // A string's buffer holds capacity() + 1 bytes (its terminator included), so blocks are
        // read in place as long as they stay inside it; the bytes past the end are ignored.
        const auto* readable = p + s.capacity() + 1;
        if (readable - p >= kBlock && !copyText(p, std::min(readable - (kBlock - 1), end), end, o, checked)) {
            return fail("Invalid string (not UTF-8) in JSON write");
        }
        if (p > end) o -= p - end;
        if (p < end) {
            // The rest is read from a copy padded with plain bytes, so that no load reaches past
            // the buffer, wherever an escape left the block's start.
            unsigned char tail[2 * kBlock];
            auto n = end - p;
            std::memcpy(tail, p, static_cast<std::size_t>(n));
            std::memset(tail + n, 'a', sizeof tail - static_cast<std::size_t>(n));
            const unsigned char* q = tail;
            if (!copyText(q, tail + n, tail + n, o, checked))
                return fail("Invalid string (not UTF-8) in JSON write");
            o -= q - (tail + n);
        }
        *o++ = '"';
        size_ = static_cast<std::size_t>(o - buffer_);
        return true;
    }

    // Copies the text from p to end into o, escaping what needs it, a block at a time while p is
    // before stop, which is at most end (a block may be read at any such p, and stored at o). p
    // may finish past end, and o past the text by as much. Answers false on text that is not
    // UTF-8.
    bool copyText(const unsigned char*& from, const unsigned char* stop, const unsigned char* end,
                  std::uint8_t*& to, bool& checked) {
        const unsigned char* p = from;
        std::uint8_t* o = to;
        bool valid = true;
        while (p < stop) {
            unsigned m = storeBlock(p, o, checked);
            if (end - p < kBlock) m &= (1u << (end - p)) - 1;
            if (m == 0) {
                p += kBlock;
                o += kBlock;
                continue;
            }
            unsigned i = static_cast<unsigned>(__builtin_ctz(m));
            p += i;
            o += i;
            unsigned char c = *p;
            if (c >= 0x80) {
                if (!simdjson::validate_utf8(reinterpret_cast<const char*>(p),
                                             static_cast<std::size_t>(end - p))) {
                    valid = false;
                    break;
                }
                checked = true;
                continue;
            }
            size_ = static_cast<std::size_t>(o - buffer_);
            o = reserve(static_cast<std::size_t>(end - p) + 7 + kBlock);
            o = putEscape(o, c);
            ++p;
        }
        from = p;
        to = o;
        return valid;
    }

    // Stores the block at p to o and answers which of its bytes need work, one bit each.
    unsigned storeBlock(const unsigned char* p, std::uint8_t* o, bool checked) const {
#if defined(__SSE2__)
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), b);
        // As signed bytes, those at or above 0x80 are below 0x20 too; the unsigned minimum finds
        // control bytes alone.
        __m128i low = checked ? _mm_cmpeq_epi8(_mm_min_epu8(b, _mm_set1_epi8(0x1F)), b)
                              : _mm_cmplt_epi8(b, _mm_set1_epi8(0x20));
        __m128i quote = _mm_cmpeq_epi8(b, _mm_set1_epi8('"'));
        __m128i backslash = _mm_cmpeq_epi8(b, _mm_set1_epi8('\\'));
        __m128i slash = _mm_cmpeq_epi8(b, _mm_set1_epi8(static_cast<char>(escapeSlash_ ? '/' : '"')));
        __m128i any = _mm_or_si128(_mm_or_si128(low, quote), _mm_or_si128(backslash, slash));
        return static_cast<unsigned>(_mm_movemask_epi8(any));
#else
        std::memcpy(o, p, kBlock);
        unsigned m = 0;
        for (int i = 0; i < kBlock; ++i) {
            unsigned char c = p[i];
            bool work =
                c < 0x20 || c == '"' || c == '\\' || (c == '/' && escapeSlash_) || (c >= 0x80 && !checked);
            m |= static_cast<unsigned>(work) << i;
        }
        return m;
#endif
    }

    static std::uint8_t* putEscape(std::uint8_t* o, unsigned char c) {
        static const char hex[] = "0123456789abcdef";
        *o++ = '\\';
        switch (c) {
            case '"':
                *o++ = '"';
                break;
            case '\\':
                *o++ = '\\';
                break;
            case '/':
                *o++ = '/';
                break;
            case '\n':
                *o++ = 'n';
                break;
            case '\r':
                *o++ = 'r';
                break;
            case '\t':
                *o++ = 't';
                break;
            case '\b':
                *o++ = 'b';
                break;
            case '\f':
                *o++ = 'f';
                break;
            default:
                *o++ = 'u';
                *o++ = '0';
                *o++ = '0';
                *o++ = static_cast<std::uint8_t>(hex[c >> 4]);
                *o++ = static_cast<std::uint8_t>(hex[c & 0xF]);
        }
        return o;
    }

    bool writeArray(const Array& a, unsigned depth) {
        if (depth > NSJSONSerialization::kMaxDepth)
            return fail("Too many nested arrays or dictionaries in JSON write");
        put('[');
        bool first = true;
        const auto end = a.end();
        for (auto it = a.begin(); it != end; ++it) {
            const Value& v = *it;
            if (!first) put(',');
            first = false;
            if (pretty_) newline(depth);
            if (!write(v, depth)) return false;
        }
        if (pretty_) {
            if (a.empty()) put('\n');
            newline(depth - 1);
        }
        put(']');
        return true;
    }

    bool writeDictionary(const Dictionary& d, unsigned depth) {
        if (depth > NSJSONSerialization::kMaxDepth)
            return fail("Too many nested arrays or dictionaries in JSON write");
        put('{');
        auto writeEntry = [&](const Dictionary::Entry& e, bool first) {
            if (!first) put(',');
            if (pretty_) newline(depth);
            if (!writeString(e.first)) return false;
            if (pretty_) {
                append(" : ", 3);
            } else {
                put(':');
            }
            return write(e.second, depth);
        };
        if (sorted_) {
            std::vector<const Dictionary::Entry*> order;
            order.reserve(d.count());
            for (auto& e : d) order.push_back(&e);
            std::sort(order.begin(), order.end(), [](auto* a, auto* b) { return a->first < b->first; });
            bool first = true;
            for (auto* e : order) {
                if (!writeEntry(*e, first)) return false;
                first = false;
            }
        } else {
            bool first = true;
            const auto end = d.end();
            for (auto it = d.begin(); it != end; ++it) {
                if (!writeEntry(*it, first)) return false;
                first = false;
            }
        }
        if (pretty_) {
            if (d.empty()) put('\n');
            newline(depth - 1);
        }
        put('}');
        return true;
    }

    std::uint8_t* buffer_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;
    std::string reason_;
    bool pretty_;
    bool sorted_;
    bool escapeSlash_;
};

bool validJSON(const Value& v, unsigned depth) {
    switch (v.kind()) {
        case Value::Kind::Null:
        case Value::Kind::String:
            return true;
        case Value::Kind::Number: {
            auto n = v.number();
            return !n->isReal() || std::isfinite(n->doubleValue());
        }
        case Value::Kind::Array:
            if (depth >= NSJSONSerialization::kMaxDepth) return false;
            for (auto& item : *v.array()) {
                if (!validJSON(item, depth + 1)) return false;
            }
            return true;
        case Value::Kind::Dictionary:
            if (depth >= NSJSONSerialization::kMaxDepth) return false;
            for (auto& e : *v.dictionary()) {
                if (!validJSON(e.second, depth + 1)) return false;
            }
            return true;
        default:
            return false;
    }
}

}  // namespace

Value NSJSONSerialization::JSONObjectWithData(const NSData& data, unsigned options, Ref<NSError>* error) {
    if (data.empty()) {
        setError(error, readError("Unable to parse empty data", 0));
        return Value();
    }
    const auto* bytes = data.bytes();
    std::size_t length = data.length();
    std::size_t bom = 0;
    Encoding enc = detectEncoding(bytes, length, bom);
    std::string transcoded;
    const char* text = reinterpret_cast<const char*>(bytes) + bom;
    std::size_t textLength = length - bom;
    if (enc != Encoding::UTF8) {
        std::size_t bad = 0;
        if (!transcodeToUTF8(bytes + bom, length - bom, enc, transcoded, bad)) {
            setError(error, readError("Unable to convert data to string", bad + bom));
            return Value();
        }
        text = transcoded.data();
        textLength = transcoded.size();
    }

    // The library reads whole blocks past the end, so the text is copied into a padded buffer;
    // buffer and parser are kept per thread for the next reply unless they grew large.
    constexpr std::size_t kKeptScratch = std::size_t(4) << 20;
    thread_local std::vector<char> scratch;
    thread_local od::parser parser;
    struct Release {
        std::size_t length;
        ~Release() {
            if (length > kKeptScratch) {
                std::vector<char>().swap(scratch);
                parser = od::parser();
            }
        }
    } release{textLength};
    scratch.resize(textLength + simdjson::SIMDJSON_PADDING);
    std::memcpy(scratch.data(), text, textLength);
    std::memset(scratch.data() + textLength, 0, simdjson::SIMDJSON_PADDING);

    od::document doc;
    simdjson::error_code code = parser.iterate(scratch.data(), textLength, scratch.size()).get(doc);
    if (code != simdjson::SUCCESS) {
        const char* reason = code == simdjson::UTF8_ERROR        ? "Unable to convert data to string"
                             : code == simdjson::UNESCAPED_CHARS ? "Unescaped control character"
                             : code == simdjson::UNCLOSED_STRING ? "Unterminated string"
                             : code == simdjson::EMPTY           ? "Unexpected end of file during JSON parse"
                             : code == simdjson::CAPACITY        ? "Document too large"
                                                                 : "Invalid JSON text";
        std::size_t offset = code == simdjson::EMPTY
                                 ? textLength
                                 : locateTextError(reinterpret_cast<const unsigned char*>(text), textLength);
        setError(error, readError(reason, offset));
        return Value();
    }
    Reader reader(scratch.data(), textLength, options & NSJSONReadingMutableContainers,
                  options & NSJSONReadingAllowFragments);
    Value result = reader.read(doc);
    if (result.isNil()) setError(error, readError(reader.reason(), reader.offset()));
    return result;
}

std::optional<NSData> NSJSONSerialization::dataWithJSONObject(const Value& object, unsigned options,
                                                              Ref<NSError>* error) {
    if (!(options & NSJSONWritingFragmentsAllowed) && !object.isArray() && !object.isDictionary()) {
        setError(error, writeError("Invalid top-level type in JSON write"));
        return std::nullopt;
    }
    Writer writer(options);
    if (!writer.write(object, 0)) {
        setError(error, writeError(writer.reason()));
        return std::nullopt;
    }
    return writer.data();
}

bool NSJSONSerialization::isValidJSONObject(const Value& object) {
    if (!object.isArray() && !object.isDictionary()) return false;
    return validJSON(object, 0);
}
