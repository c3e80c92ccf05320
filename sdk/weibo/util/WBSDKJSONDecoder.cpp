#include "sdk/weibo/util/WBSDKJSONDecoder.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "foundation/NSException.h"
#include "sdk/weibo/util/WBSDKJCCollections.h"
#include "sdk/weibo/util/WBSDKJSONCodecSupport.h"

using namespace detail::wbsdkjc;

namespace {

enum TokenType {
    kTokenNone = 0,
    kTokenNumber = 1,
    kTokenString = 2,
    kTokenObjectBegin = 3,
    kTokenObjectEnd = 4,
    kTokenArrayBegin = 5,
    kTokenArrayEnd = 6,
    kTokenSeparator = 7,
    kTokenComma = 8,
    kTokenTrue = 9,
    kTokenFalse = 10,
    kTokenNull = 11,
};

// Objects up to this size look for a repeated key by comparing with every earlier one.
constexpr std::size_t kLinearDuplicateCheck = 24;

// Accepted next steps inside a container.
enum : unsigned { kAcceptValue = 1, kAcceptComma = 2, kAcceptEnd = 4 };

const char kUnexpectedToken[] =
    "Unexpected token, wanted '{', '}', '[', ']', ',', ':', 'true', 'false', 'null', '\"STRING\"', 'NUMBER'.";

// Bytes a string's fast pass steps over: printable ASCII other than the quotation mark and the
// backslash.
struct PlainByteTable {
    bool table[256];
    constexpr PlainByteTable() : table() {
        for (int c = 0x20; c < 0x80; ++c) table[c] = c != '"' && c != '\\';
    }
    constexpr bool operator[](unsigned char c) const { return table[c]; }
};
constexpr PlainByteTable kPlainByte;

bool isValueToken(int type) {
    return type == kTokenNumber || type == kTokenString || type == kTokenObjectBegin ||
           type == kTokenArrayBegin || type == kTokenTrue || type == kTokenFalse || type == kTokenNull;
}

bool isHex(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned hexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

bool isIllegalCodePoint(std::uint32_t cp) {
    return cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF) || (cp >= 0xFDD0 && cp <= 0xFDEF) ||
           (cp & 0xFFFE) == 0xFFFE;
}

struct Parser {
    const unsigned char* p = nullptr;
    std::size_t length = 0;
    std::size_t atIndex = 0;
    std::size_t line = 1;
    WBSDKJCParseOptionFlags options = 0;
    bool mutableCollections = false;
    bool privateCollections = false;  // the decoder's own array and dictionary classes
    Ref<NSError> error;
    std::size_t depth = 0;

    // The current token.
    int tokenType = kTokenNone;
    std::size_t tokenStart = 0;
    std::size_t tokenLength = 0;
    std::string_view stringValue;
    std::string buffer;
    Value numberValue;

    // Entries of the containers being built, popped as each finishes.
    std::vector<std::size_t> hints;

    void fail(const std::string& message) {
        if (error) return;  // the first error of a parse is the one reported
        error = NSError::errorWithDomain(
            WBSDKJCErrorDomain, -1,
            Dictionary{{NSLocalizedDescriptionKey, message},
                       {WBSDKJCAtIndexKey, NSNumber::numberWithUnsignedLong(atIndex)},
                       {WBSDKJCLineNumberKey, NSNumber::numberWithUnsignedLong(line)}});
    }

    bool option(WBSDKJCParseOptionFlags flag) const { return (options & flag) != 0; }

    // Skips a line break at i, answering its length (0 when there is none).
    std::size_t lineBreakAt(std::size_t i) const {
        unsigned char c = p[i];
        if (c == '\n') return 1;
        if (c == '\r') return (i + 1 < length && p[i + 1] == '\n') ? 2 : 1;
        if (option(WBSDKJCParseOptionUnicodeLineBreaks)) {
            if (c == 0xC2 && i + 1 < length && p[i + 1] == 0x85) return 2;
            if (c == 0xE2 && i + 2 < length && p[i + 1] == 0x80 && (p[i + 2] == 0xA8 || p[i + 2] == 0xA9))
                return 3;
        }
        return 0;
    }

    void skipWhitespace() {
        // Most tokens follow their predecessor directly or after one blank.
        if (atIndex < length && p[atIndex] > ' ' && p[atIndex] != '/' && p[atIndex] < 0x80) return;
        while (atIndex < length) {
            unsigned char c = p[atIndex];
            if (c == ' ' || c == '\t') {
                ++atIndex;
                continue;
            }
            if (std::size_t n = lineBreakAt(atIndex)) {
                atIndex += n;
                ++line;
                continue;
            }
            if (c == '/' && option(WBSDKJCParseOptionAllowComments) && atIndex + 1 < length) {
                if (p[atIndex + 1] == '/') {
                    atIndex += 2;
                    while (atIndex < length) {
                        if (std::size_t n = lineBreakAt(atIndex)) {
                            atIndex += n;
                            ++line;
                            break;
                        }
                        ++atIndex;
                    }
                    continue;
                }
                if (p[atIndex + 1] == '*') {
                    atIndex += 2;
                    while (atIndex < length) {
                        if (p[atIndex] == '*' && atIndex + 1 < length && p[atIndex + 1] == '/') {
                            atIndex += 2;
                            break;
                        }
                        if (std::size_t n = lineBreakAt(atIndex)) {
                            atIndex += n;
                            ++line;
                            continue;
                        }
                        ++atIndex;
                    }
                    continue;
                }
            }
            break;
        }
    }

    void appendCodePoint(std::uint32_t cp) {
        char bytes[4];
        std::size_t n = encodeUTF8(cp, bytes);
        buffer.append(bytes, n);
    }

    // Four hex digits at i into value; false (with the error) when they are not there.
    bool readHex4(std::size_t i, std::uint32_t& value) {
        value = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            if (i + k >= length) {
                atIndex = i + k;
                fail("Invalid string.");
                return false;
            }
            unsigned char c = p[i + k];
            if (!isHex(c)) {
                atIndex = i + k;
                char message[160];
                std::snprintf(
                    message, sizeof message,
                    "Unexpected character found in \\u Unicode escape sequence.  Found '%c', expected "
                    "[0-9a-fA-F].",
                    c);
                fail(message);
                return false;
            }
            value = (value << 4) | hexValue(c);
        }
        return true;
    }

    bool parseString() {
        const bool lenient = option(WBSDKJCParseOptionLenientUnicode);
        std::size_t begin = atIndex + 1;
        std::size_t i = begin;
        // Fast pass: no escapes and valid UTF-8 give a view of the input.
        while (i < length) {
            while (i < length && kPlainByte[p[i]]) ++i;
            if (i >= length) break;
            unsigned char c = p[i];
            if (c == '"') {
                stringValue = std::string_view(reinterpret_cast<const char*>(p + begin), i - begin);
                tokenLength = i + 1 - atIndex;
                atIndex = i + 1;
                return true;
            }
            if (c == '\\') break;
            if (c < 0x20) {
                atIndex = i;
                char message[64];
                std::snprintf(message, sizeof message, "Invalid character < 0x20 found in string: 0x%2.2x.",
                              c);
                fail(message);
                return false;
            }
            auto decoded = decodeUTF8(p + i, length - i);
            if (decoded.result != UTF8Result::OK) break;
            i += decoded.length;
        }
        if (i >= length) {
            atIndex = i;
            fail("Invalid string.");
            return false;
        }
        // Slow pass: unescape into the token buffer.
        buffer.assign(reinterpret_cast<const char*>(p + begin), i - begin);
        while (i < length) {
            unsigned char c = p[i];
            if (c == '"') {
                stringValue = buffer;
                tokenLength = i + 1 - atIndex;
                atIndex = i + 1;
                return true;
            }
            if (c == '\\') {
                if (i + 1 >= length) break;
                unsigned char e = p[i + 1];
                char simple = 0;
                switch (e) {
                    case '"':
                        simple = '"';
                        break;
                    case '\\':
                        simple = '\\';
                        break;
                    case '/':
                        simple = '/';
                        break;
                    case 'b':
                        simple = '\b';
                        break;
                    case 'f':
                        simple = '\f';
                        break;
                    case 'n':
                        simple = '\n';
                        break;
                    case 'r':
                        simple = '\r';
                        break;
                    case 't':
                        simple = '\t';
                        break;
                    case 'u':
                        break;
                    default:
                        atIndex = i + 1;
                        fail("Invalid escape sequence found in \"\" string.");
                        return false;
                }
                if (simple) {
                    buffer += simple;
                    i += 2;
                    continue;
                }
                std::uint32_t cp;
                if (!readHex4(i + 2, cp)) return false;
                i += 6;
                bool illegal = false;
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    if (i + 1 < length && p[i] == '\\' && p[i + 1] == 'u') {
                        std::uint32_t low;
                        if (!readHex4(i + 2, low)) return false;
                        if (low >= 0xDC00 && low <= 0xDFFF) {
                            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                            i += 6;
                        } else {
                            illegal = true;  // the second escape is read again on its own
                        }
                    } else {
                        if (!lenient) {
                            atIndex = i;
                            fail("Required a second \\u Unicode escape sequence following a surrogate \\u "
                                 "Unicode "
                                 "escape sequence.");
                            return false;
                        }
                        illegal = true;
                    }
                } else if (isIllegalCodePoint(cp)) {
                    illegal = true;
                }
                if (!illegal && isIllegalCodePoint(cp)) illegal = true;
                if (illegal) {
                    if (!lenient) {
                        atIndex = i;
                        fail("Illegal \\u Unicode escape sequence.");
                        return false;
                    }
                    cp = 0xFFFD;
                }
                appendCodePoint(cp);
                continue;
            }
            if (c < 0x20) {
                atIndex = i;
                char message[64];
                std::snprintf(message, sizeof message, "Invalid character < 0x20 found in string: 0x%2.2x.",
                              c);
                fail(message);
                return false;
            }
            if (c < 0x80) {
                buffer += static_cast<char>(c);
                ++i;
                continue;
            }
            auto decoded = decodeUTF8(p + i, length - i);
            if (decoded.result == UTF8Result::Exhausted) {
                atIndex = i;
                fail("End of buffer reached while parsing UTF8 in \"\" string.");
                return false;
            }
            if (decoded.result == UTF8Result::Illegal) {
                if (!lenient) {
                    atIndex = i;
                    fail("Illegal UTF8 sequence found in \"\" string.");
                    return false;
                }
                appendCodePoint(0xFFFD);
                i += decoded.length;
                continue;
            }
            buffer.append(reinterpret_cast<const char*>(p + i), decoded.length);
            i += decoded.length;
        }
        atIndex = i;
        fail("Invalid string.");
        return false;
    }

    bool parseNumber() {
        std::size_t start = atIndex;
        std::size_t i = start;
        auto digit = [&](std::size_t k) { return k < length && p[k] >= '0' && p[k] <= '9'; };
        bool isDouble = false;
        if (p[i] == '-') {
            ++i;
            if (!digit(i)) {
                atIndex = i;
                fail("Invalid number.");
                return false;
            }
        }
        if (p[i] == '0') {
            ++i;
        } else {
            while (digit(i)) ++i;
        }
        if (i < length && p[i] == '.') {
            ++i;
            isDouble = true;
            if (!digit(i)) {
                atIndex = i;
                fail("Invalid number.");
                return false;
            }
            while (digit(i)) ++i;
        }
        if (i < length && (p[i] == 'e' || p[i] == 'E')) {
            ++i;
            isDouble = true;
            if (i < length && (p[i] == '+' || p[i] == '-')) ++i;
            if (!digit(i)) {
                atIndex = i;
                fail("Invalid number.");
                return false;
            }
            while (digit(i)) ++i;
        }
        if (i >= length) {
            // The input ended before anything closed the number.
            atIndex = i;
            fail("Invalid number.");
            return false;
        }
        std::size_t n = i - start;
        if (!isDouble && n <= 19) {
            // Up to 18 digits cannot overflow: read them directly.
            std::size_t d = start + (p[start] == '-');
            std::size_t digits = i - d;
            if (digits <= 18) {
                unsigned long long v = 0;
                for (std::size_t k = d; k < i; ++k) v = v * 10 + (p[k] - '0');
                numberValue = p[start] == '-'
                                  ? Value(NSNumber::numberWithLongLong(-static_cast<long long>(v)))
                                  : Value(NSNumber::numberWithLongLong(static_cast<long long>(v)));
                // "-0" is the double -0.0
                if (p[start] == '-' && n == 2 && p[start + 1] == '0') numberValue = Value(-0.0);
                tokenLength = n;
                atIndex = i;
                return true;
            }
        }
        char local[64];
        std::string heap;
        char* text = local;
        if (n + 1 > sizeof local) {
            heap.assign(n + 1, '\0');
            text = heap.data();
        }
        std::memcpy(text, p + start, n);
        text[n] = '\0';
        if (n == 2 && text[0] == '-' && text[1] == '0') isDouble = true;
        char* end = nullptr;
        errno = 0;
        if (isDouble) {
            // The common case, read exactly and fast; out-of-range values take strtod's path for
            // their messages.
            double quick = 0;
            auto [ptr, ec] = std::from_chars(text, text + n, quick);
            if (ec == std::errc() && ptr == text + n) {
                numberValue = Value(quick);
                tokenLength = n;
                atIndex = i;
                return true;
            }
            double d = std::strtod(text, &end);
            if (errno == ERANGE && (d == 0.0 || std::isinf(d))) {
                atIndex = start;
                fail(formatted("The value '%s' could not be represented as a 'double' due to %s.", text,
                               d == 0.0 ? "underflow" : "overflow"));
                return false;
            }
            // A subnormal result (ERANGE with a finite, non-zero value) is a number all the same.
            numberValue = Value(d);
        } else if (text[0] == '-') {
            long long v = std::strtoll(text, &end, 10);
            if (errno == ERANGE) {
                atIndex = start;
                fail(formatted("The value '%s' exceeded the minimum value that could be represented: %lld.",
                               text, v));
                return false;
            }
            numberValue = Value(NSNumber::numberWithLongLong(v));
        } else {
            unsigned long long v = std::strtoull(text, &end, 10);
            if (errno == ERANGE) {
                atIndex = start;
                fail(formatted("The value '%s' exceeded the maximum value that could be represented: %llu.",
                               text, v));
                return false;
            }
            numberValue = v <= static_cast<unsigned long long>(LLONG_MAX)
                              ? Value(NSNumber::numberWithLongLong(static_cast<long long>(v)))
                              : Value(NSNumber::numberWithUnsignedLongLong(v));
        }
        if (errno != 0 && errno != ERANGE) {
            atIndex = start;
            fail("Invalid number.");
            return false;
        }
        if (end != text + n) {
            atIndex = start;
            fail("The conversion function did not consume all of the number tokens characters.");
            return false;
        }
        tokenLength = n;
        atIndex = i;
        return true;
    }

    bool literal(const char* word, std::size_t n, int type) {
        // The word must be followed by at least one more byte of input.
        if (atIndex + n < length && std::memcmp(p + atIndex, word, n) == 0) {
            tokenType = type;
            tokenLength = n;
            atIndex += n;
            return true;
        }
        return false;
    }

    bool nextToken() {
        skipWhitespace();
        tokenType = kTokenNone;
        tokenStart = atIndex;
        tokenLength = 1;
        bool ok = false;
        if (atIndex < length) {
            unsigned char c = p[atIndex];
            switch (c) {
                case '"':
                    ok = parseString();
                    if (ok) tokenType = kTokenString;
                    break;
                case ':':
                    tokenType = kTokenSeparator;
                    ++atIndex;
                    ok = true;
                    break;
                case ',':
                    tokenType = kTokenComma;
                    ++atIndex;
                    ok = true;
                    break;
                case '{':
                    tokenType = kTokenObjectBegin;
                    ++atIndex;
                    ok = true;
                    break;
                case '}':
                    tokenType = kTokenObjectEnd;
                    ++atIndex;
                    ok = true;
                    break;
                case '[':
                    tokenType = kTokenArrayBegin;
                    ++atIndex;
                    ok = true;
                    break;
                case ']':
                    tokenType = kTokenArrayEnd;
                    ++atIndex;
                    ok = true;
                    break;
                case 't':
                    ok = literal("true", 4, kTokenTrue);
                    break;
                case 'f':
                    ok = literal("false", 5, kTokenFalse);
                    break;
                case 'n':
                    ok = literal("null", 4, kTokenNull);
                    break;
                default:
                    if (c == '-' || (c >= '0' && c <= '9')) {
                        ok = parseNumber();
                        if (ok) tokenType = kTokenNumber;
                    }
                    break;
            }
        }
        if (!ok) {
            tokenType = kTokenNone;
            fail(kUnexpectedToken);
        }
        return ok;
    }

    std::string tokenText() const {
        std::size_t n = tokenLength;
        if (tokenStart + n > length) n = length - tokenStart;
        return std::string(reinterpret_cast<const char*>(p + tokenStart), n);
    }

    void expectedError(unsigned state, const char* valueName, const char* endName) {
        std::vector<const char*> names;
        if (state & kAcceptValue) names.push_back(valueName);
        if (state & kAcceptComma) names.push_back("a comma");
        if (state & kAcceptEnd) names.push_back(endName);
        std::string token = tokenText();
        std::string message;
        if (names.size() == 1) {
            message = std::string("Expected ") + names[0] + ", not '" + token + "'";
        } else if (names.size() == 2) {
            message = std::string("Expected ") + names[0] + " or " + names[1] + ", not '" + token + "'";
        } else {
            message = std::string("Expected ") + names[0] + ", " + names[1] + ", or " + names[2] + ", not '" +
                      token;
        }
        fail(message);
    }

    bool atEnd() {
        if (atIndex >= length) {
            fail("Reached the end of the buffer.");
            return true;
        }
        return false;
    }

    // The value of the current token, written into `out`; false on failure.
    bool parseValue(Value& out) {
        switch (tokenType) {
            case kTokenNumber:
                out = std::move(numberValue);
                return true;
            case kTokenString:
                out = Value(std::string(stringValue));
                return true;
            case kTokenTrue:
                out = Value(true);
                return true;
            case kTokenFalse:
                out = Value(false);
                return true;
            case kTokenNull:
                out = Value::null();
                return true;
            case kTokenArrayBegin:
                return parseArray(out);
            case kTokenObjectBegin:
                return parseDictionary(out);
            default:
                return false;
        }
    }

    bool enter() {
        if (++depth > kWBSDKJCMaximumDepth) {
            fail(formatted("The WBSDKJSON document is nested more than %zu levels deep.",
                           kWBSDKJCMaximumDepth));
            --depth;
            return false;
        }
        return true;
    }

    // Containers at one depth tend to be alike (a list of records), so each is reserved with the
    // size of the previous one at its depth.
    std::size_t& hint() {
        if (hints.size() <= depth) hints.resize(depth + 1, 0);
        return hints[depth];
    }

    bool parseArray(Value& out) {
        if (!enter()) return false;
        std::vector<Value> items;
        items.reserve(hint());
        unsigned state = kAcceptValue | kAcceptEnd;
        while (true) {
            if (atEnd() || !nextToken()) break;
            int type = tokenType;
            if (isValueToken(type)) {
                if (!(state & kAcceptValue)) {
                    fail("Unexpected value.");
                    break;
                }
                items.emplace_back();
                if (!parseValue(items.back())) break;
                state = kAcceptComma | kAcceptEnd;
            } else if (type == kTokenComma) {
                if (!(state & kAcceptComma)) {
                    fail("Unexpected ','.");
                    break;
                }
                state = kAcceptValue;
            } else if (type == kTokenArrayEnd) {
                if (!(state & kAcceptEnd)) {
                    fail("Unexpected ']'.");
                    break;
                }
                hint() = items.size();
                --depth;
                if (privateCollections) {
                    out = Value(make<WBSDKJCArray>(std::move(items), mutableCollections, 0));
                } else {
                    out = Value(Array(std::move(items), mutableCollections));
                }
                return true;
            } else {
                expectedError(state, "a value", "a ']'");
                break;
            }
        }
        --depth;
        return false;
    }

    bool parseDictionary(Value& out) {
        if (!enter()) return false;
        std::vector<Dictionary::Entry> entries;
        entries.reserve(hint());
        unsigned state = kAcceptValue | kAcceptEnd;
        while (true) {
            if (atEnd() || !nextToken()) break;
            int type = tokenType;
            if (type == kTokenString) {
                if (!(state & kAcceptValue)) {
                    fail("Unexpected string.");
                    break;
                }
                entries.emplace_back(std::string(stringValue), Value());
                if (atEnd() || !nextToken()) break;
                if (tokenType != kTokenSeparator) {
                    fail("Expected ':'.");
                    break;
                }
                if (atEnd() || !nextToken()) break;
                if (!isValueToken(tokenType)) {
                    expectedError(kAcceptValue | kAcceptEnd, "a value", "a '}'");
                    break;
                }
                if (!parseValue(entries.back().second)) break;
                state = kAcceptComma | kAcceptEnd;
            } else if (type == kTokenComma) {
                if (!(state & kAcceptComma)) {
                    fail("Unexpected ','.");
                    break;
                }
                state = kAcceptValue;
            } else if (type == kTokenObjectEnd) {
                if (!(state & kAcceptEnd)) {
                    fail("Unexpected '}'.");
                    break;
                }
                hint() = entries.size();
                --depth;
                if (privateCollections) {
                    auto dict = make<WBSDKJCDictionary>(entries.size(), mutableCollections, 0);
                    for (auto& [key, value] : entries) dict->addEntry(std::move(key), std::move(value));
                    out = Value(dict);
                } else {
                    out = Value(buildDictionary(std::move(entries)));
                }
                return true;
            } else {
                expectedError(state, "a \"STRING\"", "a '}'");
                break;
            }
        }
        --depth;
        return false;
    }

    // A cheap fingerprint of a key: keys with different bits cannot be equal.
    static std::uint64_t keyBit(const std::string& key) {
        std::size_t n = key.size();
        if (n == 0) return 1;
        auto b = [&](std::size_t i) { return static_cast<unsigned char>(key[i]); };
        return std::uint64_t{1} << ((n * 13 + b(0) * 3 + b(n - 1) * 5 + b(n / 2) * 7) & 63);
    }

    // The pairs in input order; a later duplicate key replaces the earlier value in its place.
    Dictionary buildDictionary(std::vector<Dictionary::Entry> entries) {
        std::size_t n = entries.size();
        bool duplicates = false;
        if (n <= kLinearDuplicateCheck) {
            std::uint64_t seen = 0;
            for (std::size_t k = 0; k < n && !duplicates; ++k) {
                std::uint64_t bit = keyBit(entries[k].first);
                if (seen & bit) {
                    for (std::size_t e = 0; e < k; ++e) {
                        if (entries[e].first == entries[k].first) {
                            duplicates = true;
                            break;
                        }
                    }
                }
                seen |= bit;
            }
        } else {
            std::unordered_map<std::string_view, std::size_t> seen;
            seen.reserve(n);
            for (std::size_t k = 0; k < n && !duplicates; ++k)
                duplicates = !seen.try_emplace(entries[k].first, k).second;
        }
        if (!duplicates) return Dictionary::withUniqueEntries(std::move(entries), mutableCollections);
        std::vector<Dictionary::Entry> unique;
        std::unordered_map<std::string, std::size_t> positions;
        for (auto& entry : entries) {
            auto [it, added] = positions.try_emplace(entry.first, unique.size());
            if (added) {
                unique.push_back(std::move(entry));
            } else {
                unique[it->second].second = std::move(entry.second);
            }
        }
        return Dictionary::withUniqueEntries(std::move(unique), mutableCollections);
    }

    Value run() {
        Value result;
        if (atIndex < length && nextToken()) {
            if (tokenType == kTokenArrayBegin || tokenType == kTokenObjectBegin) {
                if (!parseValue(result)) result = Value();
            } else {
                fail("Expected either '[' or '{'.");
            }
        }
        if (result.isNil()) {
            if (atIndex == length) fail("Reached the end of the buffer.");
            fail("Unable to parse WBSDKJSON.");
            return Value();
        }
        if (atIndex < length) {
            skipWhitespace();
            if (atIndex < length && !option(WBSDKJCParseOptionAllowTrailingText)) {
                fail("A valid WBSDKJSON object was parsed but there were additional non-white-space "
                     "characters "
                     "remaining.");
                return Value();
            }
        }
        return result;
    }
};

}  // namespace

WBSDKJSONDecoder::WBSDKJSONDecoder(WBSDKJCParseOptionFlags options) : options_(options) {
    if (options & ~WBSDKJCParseOptionValidMask)
        NSException::raise(NSInvalidArgumentException, "Invalid parse options.");
}

Value WBSDKJSONDecoder::parse(const char* string, std::size_t length, bool mutableCollections,
                              Ref<NSError>* error, bool privateCollections) {
    if (!string) NSException::raise(NSInvalidArgumentException, "The string argument is NULL.");
    Parser parser;
    parser.privateCollections = privateCollections;
    parser.p = reinterpret_cast<const unsigned char*>(string);
    parser.length = length;
    parser.options = options_;
    parser.mutableCollections = mutableCollections;
    Value result = parser.run();
    if (error && parser.error) *error = parser.error;
    return result;
}

Value WBSDKJSONDecoder::objectWithUTF8String(const char* string, std::size_t length, Ref<NSError>* error) {
    return parse(string, length, false, error);
}

Value WBSDKJSONDecoder::mutableObjectWithUTF8String(const char* string, std::size_t length,
                                                    Ref<NSError>* error) {
    return parse(string, length, true, error);
}

Value WBSDKJSONDecoder::objectWithData(const std::optional<NSData>& jsonData, Ref<NSError>* error) {
    if (!jsonData) NSException::raise(NSInvalidArgumentException, "The jsonData argument is NULL.");
    const char* bytes = jsonData->bytes() ? reinterpret_cast<const char*>(jsonData->bytes()) : "";
    return parse(bytes, jsonData->length(), false, error);
}

Value WBSDKJSONDecoder::mutableObjectWithData(const std::optional<NSData>& jsonData, Ref<NSError>* error) {
    if (!jsonData) NSException::raise(NSInvalidArgumentException, "The jsonData argument is NULL.");
    const char* bytes = jsonData->bytes() ? reinterpret_cast<const char*>(jsonData->bytes()) : "";
    return parse(bytes, jsonData->length(), true, error);
}

Value WBSDKJSONDecoder::collectionWithUTF8String(const char* string, std::size_t length,
                                                 bool mutableCollections, Ref<NSError>* error) {
    return parse(string, length, mutableCollections, error, true);
}
