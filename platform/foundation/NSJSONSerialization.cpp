#include "foundation/NSJSONSerialization.h"

#include "foundation/NSString.h"

// The vector paths of the parser need only SSE2, which every x86-64 processor has.
#if defined(__SSE2__) && !defined(RAPIDJSON_SSE2)
#define RAPIDJSON_SSE2
#endif
#include <rapidjson/error/error.h>
#include <rapidjson/reader.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
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
// Reading: each open container is a frame whose vector is filled in place and handed over whole
// to the new array or dictionary when the container ends. Vectors are reserved with the size of
// the previous container at the same depth, so a list of like records allocates each record's
// entries once.

class Builder {
  public:
    enum class Stop { None, TooDeep, Fragment, BadEncoding };

    Builder(bool mutableContainers, bool allowFragments)
        : mutable_(mutableContainers), allowFragments_(allowFragments) {}

    bool Null() { return scalar(Value::null()); }
    bool Bool(bool b) { return scalar(NSNumber::numberWithBool(b)); }
    bool Int(int i) { return scalar(NSNumber::numberWithLongLong(i)); }
    bool Uint(unsigned u) { return scalar(NSNumber::numberWithLongLong(u)); }
    bool Int64(std::int64_t i) { return scalar(NSNumber::numberWithLongLong(i)); }
    bool Uint64(std::uint64_t u) {
        if (u > static_cast<std::uint64_t>(std::numeric_limits<long long>::max())) {
            return scalar(NSNumber::numberWithUnsignedLongLong(u));
        }
        return scalar(NSNumber::numberWithLongLong(static_cast<long long>(u)));
    }
    bool Double(double d) { return scalar(NSNumber::numberWithDouble(d)); }
    bool RawNumber(const char*, rapidjson::SizeType, bool) { return false; }

    bool String(const char* s, rapidjson::SizeType length, bool) {
        bool surrogates = false;
        if (!validUTF8(s, length, surrogates)) return badEncoding();
        if (surrogates) return scalar(replaceSurrogates(std::string(s, length)));
        if (depth_ == 0) {
            if (!allowFragments_) return fragment();
            root_ = Value(std::string(s, length));
            return true;
        }
        Frame& f = frames_[depth_ - 1];
        if (!f.isObject) {
            f.items.emplace_back(std::string(s, length));
        } else if (f.replaceIndex != kNone) {
            f.entries[f.replaceIndex].second = std::string(s, length);
        } else {
            f.entries.back().second = Value(std::string(s, length));
        }
        return true;
    }

    bool Key(const char* s, rapidjson::SizeType length, bool) {
        bool surrogates = false;
        if (!validUTF8(s, length, surrogates)) return badEncoding();
        Frame& f = frames_[depth_ - 1];
        if (surrogates) {
            std::string key = replaceSurrogates(std::string(s, length));
            return addKey(f, key.data(), key.size());
        }
        return addKey(f, s, length);
    }

    bool StartObject() { return enter(true); }
    bool StartArray() { return enter(false); }

    bool EndArray(rapidjson::SizeType) {
        Frame& f = frames_[depth_ - 1];
        hint(depth_) = f.items.size();
        Value v = Array(std::move(f.items), mutable_);
        f.items = {};
        --depth_;
        return scalar(std::move(v));
    }

    bool EndObject(rapidjson::SizeType) {
        Frame& f = frames_[depth_ - 1];
        hint(depth_) = f.entries.size();
        Value v = Dictionary::withUniqueEntries(std::move(f.entries), mutable_);
        f.entries = {};
        f.index.reset();
        --depth_;
        return scalar(std::move(v));
    }

    Value result() { return std::move(root_); }
    Stop stop() const { return stop_; }

  private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    // Past this many keys an object's duplicate check uses a hash index.
    static constexpr std::size_t kIndexThreshold = 32;

    struct Frame;
    // Hashes and compares entry indices by the key they point at, so the index survives the
    // entries vector growing.
    struct KeyHash {
        const Frame* frame;
        std::size_t operator()(std::size_t i) const {
            return std::hash<std::string_view>()(i == kNone ? frame->probe : frame->entries[i].first);
        }
    };
    struct KeyEqual {
        const Frame* frame;
        std::string_view key(std::size_t i) const {
            return i == kNone ? frame->probe : std::string_view(frame->entries[i].first);
        }
        bool operator()(std::size_t a, std::size_t b) const { return key(a) == key(b); }
    };
    using KeyIndex = std::unordered_set<std::size_t, KeyHash, KeyEqual>;

    struct Frame {
        bool isObject = false;
        std::vector<Value> items;
        std::vector<Dictionary::Entry> entries;
        // Where the value of the last key goes when that key repeated an earlier one.
        std::size_t replaceIndex = kNone;
        // A 128-bit filter of the keys seen, then a hash index for big objects.
        std::uint64_t mask[2] = {0, 0};
        std::unique_ptr<KeyIndex> index;
        std::string_view probe;
    };

    static unsigned keyBit(const char* s, std::size_t n) {
        if (n == 0) return 0;
        auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
        return (static_cast<unsigned>(n) * 13u + b(0) * 3u + b(n - 1) * 5u + b(n / 2) * 7u) & 127u;
    }

    bool addKey(Frame& f, const char* s, std::size_t n) {
        std::string_view key(s, n);
        f.replaceIndex = kNone;
        if (f.index) {
            f.probe = key;
            auto it = f.index->find(kNone);
            if (it != f.index->end()) {
                f.replaceIndex = *it;
                return true;
            }
            f.entries.emplace_back(std::piecewise_construct, std::forward_as_tuple(s, n),
                                   std::forward_as_tuple());
            f.index->insert(f.entries.size() - 1);
            return true;
        }
        unsigned bit = keyBit(s, n);
        std::uint64_t& word = f.mask[bit >> 6];
        std::uint64_t flag = std::uint64_t(1) << (bit & 63);
        if (word & flag) {
            for (std::size_t i = 0; i < f.entries.size(); ++i) {
                if (f.entries[i].first == key) {
                    f.replaceIndex = i;
                    return true;
                }
            }
        }
        word |= flag;
        f.entries.emplace_back(std::piecewise_construct, std::forward_as_tuple(s, n),
                               std::forward_as_tuple());
        if (f.entries.size() >= kIndexThreshold) {
            f.index = std::make_unique<KeyIndex>(f.entries.size() * 2, KeyHash{&f}, KeyEqual{&f});
            for (std::size_t i = 0; i < f.entries.size(); ++i) f.index->insert(i);
        }
        return true;
    }

    bool scalar(Value v) {
        if (depth_ == 0) {
            if (!allowFragments_ && !v.isArray() && !v.isDictionary()) return fragment();
            root_ = std::move(v);
            return true;
        }
        Frame& f = frames_[depth_ - 1];
        if (!f.isObject) {
            f.items.emplace_back(std::move(v));
        } else if (f.replaceIndex != kNone) {
            f.entries[f.replaceIndex].second = std::move(v);
        } else {
            f.entries.back().second = std::move(v);
        }
        return true;
    }

    bool fragment() {
        stop_ = Stop::Fragment;
        return false;
    }
    bool badEncoding() {
        stop_ = Stop::BadEncoding;
        return false;
    }

    std::size_t& hint(unsigned depth) {
        if (hints_.size() <= depth) hints_.resize(depth + 1, 0);
        return hints_[depth];
    }

    bool enter(bool isObject) {
        if (depth_ >= NSJSONSerialization::kMaxDepth) {
            stop_ = Stop::TooDeep;
            return false;
        }
        ++depth_;
        if (frames_.size() < depth_) frames_.emplace_back();
        Frame& f = frames_[depth_ - 1];
        f.isObject = isObject;
        f.replaceIndex = kNone;
        f.mask[0] = f.mask[1] = 0;
        std::size_t expected = std::min<std::size_t>(hint(depth_), 4096);
        if (isObject) {
            f.entries.reserve(expected);
        } else {
            f.items.reserve(expected);
        }
        return true;
    }

    // Strings must be UTF-8; checked eight ASCII bytes at a time.
    static bool validUTF8(const char* s, std::size_t length, bool& surrogates) {
        const auto* p = reinterpret_cast<const unsigned char*>(s);
        const auto* end = p + length;
        while (p < end) {
            if (end - p >= 8) {
                std::uint64_t word;
                std::memcpy(&word, p, 8);
                if ((word & 0x8080808080808080ull) == 0) {
                    p += 8;
                    continue;
                }
            }
            if (*p < 0x80) {
                ++p;
                continue;
            }
            std::size_t n = utf8SequenceLength(p, end, surrogates);
            if (n == 0) return false;
            p += n;
        }
        return true;
    }

    // Length of the sequence at p (first byte >= 0x80), 0 when malformed. Surrogate encodings
    // are accepted and flagged: an escaped lone surrogate ("\udc00") comes out of the parser as
    // one.
    static std::size_t utf8SequenceLength(const unsigned char* p, const unsigned char* end, bool& surrogate) {
        unsigned char c = *p;
        std::size_t avail = static_cast<std::size_t>(end - p);
        if (c >= 0xC2 && c <= 0xDF) {
            return avail >= 2 && (p[1] & 0xC0) == 0x80 ? 2 : 0;
        }
        if (c >= 0xE0 && c <= 0xEF) {
            if (avail < 3 || (p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80) return 0;
            if (c == 0xE0 && p[1] < 0xA0) return 0;
            if (c == 0xED && p[1] >= 0xA0) surrogate = true;
            return 3;
        }
        if (c >= 0xF0 && c <= 0xF4) {
            if (avail < 4 || (p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80 || (p[3] & 0xC0) != 0x80)
                return 0;
            if (c == 0xF0 && p[1] < 0x90) return 0;
            if (c == 0xF4 && p[1] >= 0x90) return 0;
            return 4;
        }
        return 0;
    }

    // Lone surrogates become U+FFFD so every string stays valid UTF-8.
    static std::string replaceSurrogates(std::string out) {
        for (std::size_t i = 0; i + 2 < out.size(); ++i) {
            auto b0 = static_cast<unsigned char>(out[i]);
            auto b1 = static_cast<unsigned char>(out[i + 1]);
            if (b0 == 0xED && b1 >= 0xA0 && b1 <= 0xBF) {
                out.replace(i, 3, "\xEF\xBF\xBD");
                i += 2;
            }
        }
        return out;
    }

    // A deque: frames keep their addresses (an index points back at its frame) as more open.
    std::deque<Frame> frames_;
    std::vector<std::size_t> hints_;
    Value root_;
    unsigned depth_ = 0;
    bool mutable_;
    bool allowFragments_;
    Stop stop_ = Stop::None;
};

std::string reasonFor(rapidjson::ParseErrorCode code) {
    using namespace rapidjson;
    switch (code) {
        case kParseErrorDocumentEmpty:
            return "Unexpected end of file during JSON parse";
        case kParseErrorDocumentRootNotSingular:
            return "Garbage at end";
        case kParseErrorValueInvalid:
            return "Invalid value";
        case kParseErrorObjectMissName:
            return "No string key for value in object";
        case kParseErrorObjectMissColon:
            return "No colon after key in object";
        case kParseErrorObjectMissCommaOrCurlyBracket:
            return "Badly formed object";
        case kParseErrorArrayMissCommaOrSquareBracket:
            return "Badly formed array";
        case kParseErrorStringUnicodeEscapeInvalidHex:
            return "Invalid hex escape sequence";
        case kParseErrorStringUnicodeSurrogateInvalid:
            return "Unable to convert hex escape sequence (no low surrogate)";
        case kParseErrorStringEscapeInvalid:
            return "Invalid escape sequence";
        case kParseErrorStringMissQuotationMark:
            return "Unterminated string";
        case kParseErrorStringInvalidEncoding:
            return "Unable to convert data to string";
        case kParseErrorNumberTooBig:
            return "Number too large";
        case kParseErrorNumberMissFraction:
        case kParseErrorNumberMissExponent:
            return "Invalid number";
        default:
            return "Invalid JSON text";
    }
}

// ---------------------------------------------------------------------------------------------
// Writing into a growing byte buffer.

class Writer {
  public:
    explicit Writer(unsigned options)
        : pretty_(options & NSJSONWritingPrettyPrinted),
          sorted_(options & NSJSONWritingSortedKeys),
          escapeSlash_(!(options & NSJSONWritingWithoutEscapingSlashes)) {
        if (!scratch().data) {
            scratch().data = static_cast<std::uint8_t*>(std::malloc(kInitialScratch));
            scratch().capacity = scratch().data ? kInitialScratch : 0;
        }
    }
    ~Writer() {
        Scratch& sc = scratch();
        if (sc.capacity > kKeptScratch) {
            std::free(sc.data);
            sc.data = nullptr;
            sc.capacity = 0;
        }
    }

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

    NSData data() const { return NSData(scratch().data, size_); }
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
    std::uint8_t* reserve(std::size_t n) {
        Scratch& sc = scratch();
        if (sc.capacity - size_ < n) {
            std::size_t capacity = std::max(sc.capacity * 2, size_ + n);
            auto* grown = static_cast<std::uint8_t*>(std::realloc(sc.data, capacity));
            if (!grown) throw std::bad_alloc();
            sc.data = grown;
            sc.capacity = capacity;
        }
        return sc.data + size_;
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

    // What a byte needs in a string: 0 nothing, 1 an escape, 2 a check as part of a multi-byte
    // sequence.
    static const std::uint8_t* byteClasses() {
        static const auto table = [] {
            std::array<std::uint8_t, 256> t{};
            for (int c = 0; c < 0x20; ++c) t[c] = 1;
            t['"'] = t['\\'] = t['/'] = 1;
            for (int c = 0x80; c < 0x100; ++c) t[c] = 2;
            return t;
        }();
        return table.data();
    }

    bool writeString(const std::string& s) {
        static const char hex[] = "0123456789abcdef";
        const std::uint8_t* classes = byteClasses();
        put('"');
        const auto* p = reinterpret_cast<const unsigned char*>(s.data());
        const auto* end = p + s.size();
        const auto* run = p;
        while (p < end) {
            std::uint8_t k = classes[*p];
            if (k == 0) {
                ++p;
                continue;
            }
            if (k == 2) {
                std::size_t len = validUTF8Length(p, end);
                if (len == 0) return fail("Invalid string (not UTF-8) in JSON write");
                p += len;
                continue;
            }
            unsigned char c = *p;
            if (c == '/' && !escapeSlash_) {
                ++p;
                continue;
            }
            append(run, static_cast<std::size_t>(p - run));
            char escape[6] = {'\\', 0, 0, 0, 0, 0};
            std::size_t n = 2;
            switch (c) {
                case '"':
                    escape[1] = '"';
                    break;
                case '\\':
                    escape[1] = '\\';
                    break;
                case '/':
                    escape[1] = '/';
                    break;
                case '\n':
                    escape[1] = 'n';
                    break;
                case '\r':
                    escape[1] = 'r';
                    break;
                case '\t':
                    escape[1] = 't';
                    break;
                case '\b':
                    escape[1] = 'b';
                    break;
                case '\f':
                    escape[1] = 'f';
                    break;
                default:
                    escape[1] = 'u';
                    escape[2] = '0';
                    escape[3] = '0';
                    escape[4] = hex[c >> 4];
                    escape[5] = hex[c & 0xF];
                    n = 6;
            }
            append(escape, n);
            run = ++p;
        }
        append(run, static_cast<std::size_t>(p - run));
        put('"');
        return true;
    }

    // Length of the well-formed UTF-8 sequence at p, 0 when malformed.
    static std::size_t validUTF8Length(const unsigned char* p, const unsigned char* end) {
        unsigned char c = *p;
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
            return 0;
        }
        if (static_cast<std::size_t>(end - p) < len) return 0;
        for (std::size_t i = 1; i < len; ++i) {
            if ((p[i] & 0xC0) != 0x80) return 0;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
            (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) {
            return 0;
        }
        return len;
    }

    bool writeArray(const Array& a, unsigned depth) {
        if (depth > NSJSONSerialization::kMaxDepth)
            return fail("Too many nested arrays or dictionaries in JSON write");
        put('[');
        bool first = true;
        for (const Value& v : a) {
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
            for (auto& e : d) {
                if (!writeEntry(e, first)) return false;
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

    // The parser works in place on a private, zero-terminated copy: strings are unescaped where
    // they lie instead of being copied through a side buffer. The copy's buffer is kept per
    // thread for the next reply unless it grew large.
    thread_local std::vector<char> scratch;
    constexpr std::size_t kKeptScratch = std::size_t(4) << 20;
    struct Release {
        std::vector<char>& buffer;
        ~Release() {
            if (buffer.capacity() > kKeptScratch) std::vector<char>().swap(buffer);
        }
    } release{scratch};
    // The vector paths read whole aligned 16-byte blocks, so the copy is padded with zeros.
    scratch.resize(textLength + 32);
    std::memcpy(scratch.data(), text, textLength);
    std::memset(scratch.data() + textLength, 0, 32);

    Builder builder(options & NSJSONReadingMutableContainers, options & NSJSONReadingAllowFragments);
    rapidjson::Reader reader;
    rapidjson::InsituStringStream stream(scratch.data());
    constexpr unsigned kFlags = rapidjson::kParseInsituFlag | rapidjson::kParseFullPrecisionFlag;
    rapidjson::ParseResult result = reader.Parse<kFlags>(stream, builder);
    if (result.IsError()) {
        std::string reason;
        switch (builder.stop()) {
            case Builder::Stop::TooDeep:
                reason = "Too many nested arrays or dictionaries";
                break;
            case Builder::Stop::BadEncoding:
                reason = "Unable to convert data to string";
                break;
            case Builder::Stop::Fragment:
                reason =
                    "JSON text did not start with array or object and option to allow fragments not set.";
                break;
            default:
                reason = reasonFor(result.Code());
        }
        setError(error, readError(reason, result.Offset()));
        return Value();
    }
    // The parser takes a zero byte for the end of input; anything after one is garbage.
    if (stream.Tell() < textLength) {
        setError(error, readError("Garbage at end", stream.Tell()));
        return Value();
    }
    return builder.result();
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
