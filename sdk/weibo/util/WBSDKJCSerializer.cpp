#include "sdk/weibo/util/WBSDKJCSerializer.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "foundation/NSException.h"
#include "sdk/weibo/util/WBSDKJSONCodecSupport.h"

using namespace detail::wbsdkjc;

namespace {

std::string kindName(const Value& v) {
    switch (v.kind()) {
        case Value::Kind::Nil:
            return "NULL";
        case Value::Kind::Null:
            return "NSNull";
        case Value::Kind::Number:
            return "NSNumber";
        case Value::Kind::String:
            return "NSString";
        case Value::Kind::Data:
            return "NSData";
        case Value::Kind::Date:
            return "NSDate";
        case Value::Kind::Array:
            return "NSArray";
        case Value::Kind::Dictionary:
            return "NSDictionary";
        case Value::Kind::Object:
            return v.object()->className();
    }
    return "NSObject";
}

struct Encoder {
    std::string out;
    WBSDKJCSerializeOptionFlags options = 0;
    WBSDKJCEncodeOptionType encodeOption = 0;
    const WBSDKJCFormatterBlock* formatter = nullptr;
    Ref<NSError> error;
    std::size_t depth = 0;

    bool pretty() const { return (options & WBSDKJCSerializeOptionPretty) != 0; }

    bool fail(const std::string& message) {
        if (!error) {
            error = NSError::errorWithDomain(WBSDKJCErrorDomain, -1,
                                             Dictionary{{NSLocalizedDescriptionKey, message}});
        }
        return false;
    }

    void newline() {
        out += '\n';
        out.append(2 * depth, ' ');
    }

    // "{" and "[" open a level, "}" and "]" close one; pretty text breaks lines around them.
    void open(char c) {
        out += c;
        ++depth;
        if (pretty()) newline();
    }
    void close(char c) {
        --depth;
        if (pretty()) newline();
        out += c;
    }
    void comma() {
        out += ',';
        if (pretty()) newline();
    }
    void colon() { out += pretty() ? ": " : ":"; }

    bool writeString(const std::string& s, bool quotes) {
        if (quotes) out += '"';
        const bool escapeSlash = (options & WBSDKJCSerializeOptionEscapeSlash) != 0;
        const bool escapeNonASCII = (options & WBSDKJCSerializeOptionEscapeNonASCII) != 0;
        const auto* bytes = reinterpret_cast<const unsigned char*>(s.data());
        const std::size_t n = s.size();
        std::size_t i = 0;
        while (i < n) {
            unsigned char c = bytes[i];
            if (c >= 0x80) {
                auto decoded = decodeUTF8(bytes + i, n - i);
                // Text that is not UTF-8 cannot be written as JSON.
                if (decoded.result != UTF8Result::OK) {
                    bool lone = decoded.result == UTF8Result::Illegal &&
                                decodeAllowingNonCharacters(bytes + i, n - i);
                    if (!lone)
                        return fail("An error occurred converting the contents of a NSString to UTF8.");
                    decoded = decodeLoose(bytes + i, n - i);
                }
                if (escapeNonASCII) {
                    std::uint32_t cp = decoded.codePoint;
                    if (cp < 0x10000) {
                        out += formatted("\\u%4.4x", cp);
                    } else {
                        out += formatted("\\u%4.4x\\u%4.4x", 0xD7C0 + (cp >> 10), 0xDC00 + (cp & 0x3FF));
                    }
                } else {
                    out.append(s, i, decoded.length);
                }
                i += decoded.length;
                continue;
            }
            switch (c) {
                case '"':
                    out += "\\\"";
                    break;
                case '\\':
                    out += "\\\\";
                    break;
                case '/':
                    out += escapeSlash ? "\\/" : "/";
                    break;
                case 0x08:
                    out += "\\b";
                    break;
                case 0x09:
                    out += "\\t";
                    break;
                case 0x0A:
                    out += "\\n";
                    break;
                case 0x0C:
                    out += "\\f";
                    break;
                case 0x0D:
                    out += "\\r";
                    break;
                default:
                    if (c < 0x20) {
                        out += formatted("\\u%4.4x", static_cast<unsigned>(c));
                    } else {
                        out += static_cast<char>(c);
                    }
                    break;
            }
            ++i;
        }
        if (quotes) out += '"';
        return true;
    }

    // Non-characters (U+FDD0-U+FDEF, U+xFFFE, U+xFFFF) are valid UTF-8 text; only the decoder
    // refuses them. These two let the writer pass them through.
    static bool decodeAllowingNonCharacters(const unsigned char* bytes, std::size_t available) {
        return decodeLoose(bytes, available).result == UTF8Result::OK;
    }
    static UTF8Decoded decodeLoose(const unsigned char* b, std::size_t available) {
        unsigned char lead = b[0];
        std::size_t expected = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        if (lead < 0xC2 || lead > 0xF4 || available < expected) return {UTF8Result::Illegal, 0, 1};
        for (std::size_t k = 1; k < expected; ++k)
            if ((b[k] & 0xC0) != 0x80) return {UTF8Result::Illegal, 0, 1};
        if ((lead == 0xE0 && b[1] < 0xA0) || (lead == 0xED && b[1] >= 0xA0) ||
            (lead == 0xF0 && b[1] < 0x90) || (lead == 0xF4 && b[1] >= 0x90))
            return {UTF8Result::Illegal, 0, 1};
        std::uint32_t cp = expected == 2   ? ((lead & 0x1Fu) << 6) | (b[1] & 0x3Fu)
                           : expected == 3 ? ((lead & 0x0Fu) << 12) | ((b[1] & 0x3Fu) << 6) | (b[2] & 0x3Fu)
                                           : ((lead & 0x07u) << 18) | ((b[1] & 0x3Fu) << 12) |
                                                 ((b[2] & 0x3Fu) << 6) | (b[3] & 0x3Fu);
        return {UTF8Result::OK, cp, expected};
    }

    bool writeNumber(const NSNumber& number) {
        if (number.isBoolean()) {
            out += number.boolValue() ? "true" : "false";
            return true;
        }
        switch (number.objCType()) {
            case 'c':
            case 'i':
            case 's':
            case 'l':
            case 'q': {
                long long v = number.longLongValue();
                if (v < 0) {
                    out += '-';
                    out += std::to_string(0ull - static_cast<unsigned long long>(v));
                } else {
                    out += std::to_string(static_cast<unsigned long long>(v));
                }
                return true;
            }
            case 'C':
            case 'I':
            case 'S':
            case 'L':
            case 'Q':
            case 'B':
                out += std::to_string(number.unsignedLongLongValue());
                return true;
            case 'f':
            case 'd': {
                double d = number.doubleValue();
                if (std::isnan(d) || std::isinf(d)) {
                    return fail(
                        "Floating point values must be finite.  WBSDKJSON does not support NaN or Infinity.");
                }
                out += formatted("%.17g", d);
                return true;
            }
            default: {
                char code = number.objCType();
                return fail(formatted("NSNumber conversion error, unknown type.  Type: '%c' / 0x%2.2x", code,
                                      static_cast<unsigned>(static_cast<unsigned char>(code))));
            }
        }
    }

    bool enter() {
        if (depth >= kWBSDKJCMaximumDepth) {
            return fail(formatted("The object is nested more than %zu levels deep.", kWBSDKJCMaximumDepth));
        }
        return true;
    }

    bool write(const Value& value, bool topLevelString = false) {
        switch (value.kind()) {
            case Value::Kind::Null:
                out += "null";
                return true;
            case Value::Kind::Number:
                return writeNumber(*value.number());
            case Value::Kind::String:
                return writeString(
                    *value.string(),
                    !(topLevelString && (encodeOption & WBSDKJCEncodeOptionStringObjTrimQuotes)));
            case Value::Kind::Dictionary: {
                if (!enter()) return false;
                const Dictionary& dict = *value.dictionary();
                open('{');
                std::vector<const Dictionary::Entry*> entries;
                entries.reserve(dict.count());
                for (const auto& entry : dict) entries.push_back(&entry);
                if (pretty()) {
                    std::sort(entries.begin(), entries.end(),
                              [](const Dictionary::Entry* a, const Dictionary::Entry* b) {
                                  return a->first < b->first;
                              });
                }
                bool first = true;
                for (const auto* entry : entries) {
                    if (!first) comma();
                    first = false;
                    if (!writeString(entry->first, true)) return false;
                    colon();
                    if (!write(entry->second)) return false;
                }
                close('}');
                return true;
            }
            case Value::Kind::Array: {
                if (!enter()) return false;
                const Array& array = *value.array();
                open('[');
                bool first = true;
                for (const auto& item : array) {
                    if (!first) comma();
                    first = false;
                    if (!write(item)) return false;
                }
                close(']');
                return true;
            }
            default:
                break;
        }
        // Another kind: ask the formatter once for a replacement.
        Value replacement = formatter && *formatter ? (*formatter)(value) : Value();
        if (replacement.isNil())
            return fail(formatted("Unable to serialize object class %s.", kindName(value).c_str()));
        if (!isSupported(replacement)) {
            return fail(
                formatted("Unable to serialize object class %s that was returned by the unsupported class "
                          "formatter.  Original object class was %s.",
                          kindName(replacement).c_str(), kindName(value).c_str()));
        }
        return write(replacement);
    }

    static bool isSupported(const Value& v) {
        switch (v.kind()) {
            case Value::Kind::Null:
            case Value::Kind::Number:
            case Value::Kind::String:
            case Value::Kind::Dictionary:
            case Value::Kind::Array:
                return true;
            default:
                return false;
        }
    }
};

}  // namespace

WBSDKJCSerializer::Result
WBSDKJCSerializer::serializeObject(const Value& object, WBSDKJCSerializeOptionFlags options,
                                   WBSDKJCEncodeOptionType encodeOption, const WBSDKJCFormatterBlock& block,
                                   const Ref<NSObject>& delegate, const WBSDKJCFormatterBlock& selector,
                                   Ref<NSError>* error) {
    if (error) *error = nullptr;
    if (delegate && !selector) {
        NSException::raise(NSInvalidArgumentException,
                           "The delegate argument is not NULL, but the selector argument is NULL.");
    }
    Encoder encoder;
    encoder.options = options;
    encoder.encodeOption = encodeOption;
    encoder.formatter = block ? &block : (delegate ? &selector : nullptr);
    bool ok = true;
    if ((encodeOption & WBSDKJCEncodeOptionCollectionObj) && !object.isArray() && !object.isDictionary()) {
        ok =
            encoder.fail(formatted("Unable to serialize object class %s, expected a NSArray or NSDictionary.",
                                   kindName(object).c_str()));
    } else if ((encodeOption & WBSDKJCEncodeOptionStringObj) && !object.isString()) {
        ok = encoder.fail(
            formatted("Unable to serialize object class %s, expected a NSString.", kindName(object).c_str()));
    }
    if (ok) ok = encoder.write(object, true);
    if (ok) {
        switch (encodeOption & WBSDKJCEncodeOptionResultMask) {
            case WBSDKJCEncodeOptionResultData:
                return NSData(encoder.out.data(), encoder.out.size());
            case WBSDKJCEncodeOptionResultString:
                return std::move(encoder.out);
            default:
                encoder.fail("Unknown encode as type.");
                break;
        }
    }
    if (error) *error = encoder.error;
    return std::monostate{};
}
