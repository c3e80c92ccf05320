#include "sdk/analytics/collection/TANJson.h"

#include <algorithm>
#include <cmath>

#include "foundation/NSDecimalNumber.h"
#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSString.h"

namespace {

bool isJsonWhitespace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int hexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Base

void TANJsonBase::addErrorWithCode(unsigned code, const std::string& description) {
    Dictionary userInfo = Dictionary::mutableDictionary();
    userInfo.setObject(NSLocalizedDescriptionKey, description);
    KVO::willChangeValueForKey(*this, "errorTrace");
    if (!errorTrace_) errorTrace_ = Array::mutableArray();
    if (!errorTrace_->empty()) userInfo.setObject(NSUnderlyingErrorKey, errorTrace_->lastObject());
    errorTrace_->addObject(NSError::errorWithDomain(TANJsonErrorDomain, static_cast<long>(code), userInfo));
    KVO::didChangeValueForKey(*this, "errorTrace");
}

void TANJsonBase::clearErrorTrace() {
    KVO::willChangeValueForKey(*this, "errorTrace");
    errorTrace_.reset();
    KVO::didChangeValueForKey(*this, "errorTrace");
}

Value TANJsonBase::valueForKey(const std::string& key) const {
    if (key == "errorTrace") return errorTrace_ ? Value(*errorTrace_) : Value();
    return NSObject::valueForKey(key);
}

// ---------------------------------------------------------------------------------------------
// Reader

Value TANJsonParser::fragmentWithString(const std::optional<std::string>& text) {
    clearErrorTrace();
    if (!text) {
        addErrorWithCode(12, "Input was 'nil'");
        return Value();
    }
    depth_ = 0;
    text_ = *text;
    pos_ = 0;
    // The input ends at its first zero byte.
    if (auto nul = text_.find('\0'); nul != std::string_view::npos) text_ = text_.substr(0, nul);
    Value out;
    bool ok = scanValue(out);
    if (ok) {
        skipWhitespace();
        if (!atEnd()) {
            addErrorWithCode(10, "Garbage after JSON");
            ok = false;
        }
    }
    text_ = std::string_view();
    return ok ? out : Value();
}

Value TANJsonParser::objectWithString(const std::optional<std::string>& text) {
    Value value = fragmentWithString(text);
    if (value.isNil()) return value;
    if (value.isDictionary() || value.isArray()) return value;
    addErrorWithCode(4, "Valid fragment, but not JSON");
    return Value();
}

void TANJsonParser::skipWhitespace() {
    while (isJsonWhitespace(at())) ++pos_;
}

bool TANJsonParser::scanLiteral(const char* rest, const char* message, Value value, Value& out) {
    std::size_t n = std::char_traits<char>::length(rest);
    for (std::size_t i = 0; i < n; ++i) {
        if (at(i) != static_cast<unsigned char>(rest[i])) {
            addErrorWithCode(3, message);
            return false;
        }
    }
    pos_ += n;
    out = std::move(value);
    return true;
}

bool TANJsonParser::scanValue(Value& out) {
    struct Open {
        Value container;
        std::string key;  // the member being read, for objects
        bool isObject;
    };
    std::vector<Open> open;
    // A failure is reported once by every container still open, innermost first, as each gives
    // up on the member it was reading.
    auto giveUp = [&] {
        for (; !open.empty(); open.pop_back()) {
            if (open.back().isObject) {
                addErrorWithCode(
                    3, NSString::stringWithFormat("Object value expected for key: %@", open.back().key));
            } else {
                addErrorWithCode(3, "Expected value while parsing array");
            }
        }
        return false;
    };
    // The innermost container fails on its own syntax: it does not report the member.
    auto failInnermost = [&](unsigned code, const char* message) {
        addErrorWithCode(code, message);
        open.pop_back();
        return giveUp();
    };
    // Stores a finished member and takes the separator after it.
    auto store = [&](Value&& value) {
        Open& o = open.back();
        if (o.isObject) {
            o.container.dictionary()->setObject(o.key, std::move(value));
        } else {
            o.container.array()->addObject(std::move(value));
        }
        skipWhitespace();
        if (at() == ',') {
            ++pos_;
            skipWhitespace();
            if (at() == (o.isObject ? '}' : ']')) {
                return failInnermost(9, o.isObject ? "Trailing comma disallowed in object"
                                                   : "Trailing comma disallowed in array");
            }
        }
        return true;
    };

    for (;;) {
        skipWhitespace();
        unsigned char c = at();
        if (c == '[' || c == '{') {
            ++pos_;
            if (maxDepth_ && ++depth_ > maxDepth_) {
                addErrorWithCode(7, "Nested too deep");
                return giveUp();
            }
            if (!maxDepth_) ++depth_;
            if (c == '[') {
                open.push_back({Array::mutableArray(8), {}, false});
            } else {
                open.push_back({Dictionary::mutableDictionary(7), {}, true});
            }
        } else {
            Value value;
            if (!scanScalar(value)) return giveUp();
            if (open.empty()) {
                out = std::move(value);
                return true;
            }
            if (!store(std::move(value))) return false;
        }
        // Closes finished containers until one wants another member.
        for (;;) {
            Open& o = open.back();
            if (atEnd()) {
                return failInnermost(11, o.isObject ? "End of input while parsing object"
                                                    : "End of input while parsing array");
            }
            skipWhitespace();
            if (at() == (o.isObject ? '}' : ']')) {
                ++pos_;
                --depth_;
                Value finished = std::move(o.container);
                open.pop_back();
                if (open.empty()) {
                    out = std::move(finished);
                    return true;
                }
                if (!store(std::move(finished))) return false;
                continue;
            }
            if (o.isObject) {
                if (at() != '"') return failInnermost(3, "Object key string expected");
                ++pos_;
                if (!scanRestOfString(o.key)) return failInnermost(3, "Object key string expected");
                skipWhitespace();
                if (at() != ':') return failInnermost(3, "Expected ':' separating key and value");
                ++pos_;
            }
            break;
        }
    }
}

bool TANJsonParser::scanScalar(Value& out) {
    unsigned char c = at();
    switch (c) {
        case '"': {
            ++pos_;
            std::string s;
            if (!scanRestOfString(s)) return false;
            out = Value(std::move(s));
            return true;
        }
        case 't':
            ++pos_;
            return scanLiteral("rue", "Expected 'true'", Value(true), out);
        case 'f':
            ++pos_;
            return scanLiteral("alse", "Expected 'false'", Value(false), out);
        case 'n':
            ++pos_;
            return scanLiteral("ull", "Expected 'null'", Value::null(), out);
        case '+':
            addErrorWithCode(2, "Leading + disallowed in number");
            return false;
        case 0:
            addErrorWithCode(11, "Unexpected end of string");
            return false;
        default:
            if (c == '-' || isDigit(c)) return scanNumber(out);
            addErrorWithCode(3, "Unrecognised leading character");
            return false;
    }
}

bool TANJsonParser::scanRestOfString(std::string& out) {
    out.clear();
    out.reserve(16);
    for (;;) {
        std::size_t start = pos_;
        for (;;) {
            unsigned char c = at();
            if (c == '"' || c == '\\' || c < 0x20) break;
            ++pos_;
        }
        if (pos_ > start) out.append(text_.substr(start, pos_ - start));
        unsigned char c = at();
        if (c == '"') {
            ++pos_;
            return true;
        }
        if (c == '\\') {
            ++pos_;
            unsigned char e = at();
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out.push_back(static_cast<char>(e));
                    ++pos_;
                    break;
                case 'b':
                    out.push_back('\b');
                    ++pos_;
                    break;
                case 'f':
                    out.push_back('\f');
                    ++pos_;
                    break;
                case 'n':
                    out.push_back('\n');
                    ++pos_;
                    break;
                case 'r':
                    out.push_back('\r');
                    ++pos_;
                    break;
                case 't':
                    out.push_back('\t');
                    ++pos_;
                    break;
                case 'u':
                    ++pos_;
                    if (!scanUnicodeChar(out)) {
                        addErrorWithCode(6, "Broken unicode character");
                        return false;
                    }
                    break;
                default:
                    addErrorWithCode(8, NSString::stringWithFormat("Illegal escape sequence '0x%x'", e));
                    return false;
            }
            if (atEnd()) {
                addErrorWithCode(11, "Unexpected EOF while parsing string");
                return false;
            }
            continue;
        }
        addErrorWithCode(5, NSString::stringWithFormat("Unescaped control character '0x%x'", c));
        return false;
    }
}

bool TANJsonParser::scanHexQuad(unsigned& out) {
    out = 0;
    for (int i = 0; i < 4; ++i) {
        int v = hexValue(at());
        if (v < 0) {
            addErrorWithCode(6, "Missing hex digit in quad");
            return false;
        }
        out = out * 16 + static_cast<unsigned>(v);
        ++pos_;
    }
    return true;
}

bool TANJsonParser::scanUnicodeChar(std::string& out) {
    unsigned high = 0;
    if (!scanHexQuad(high)) {
        addErrorWithCode(6, "Missing hex quad");
        return false;
    }
    if (high >= 0xDC00 && high <= 0xDFFF) {
        addErrorWithCode(6, "Invalid high character in surrogate pair");
        return false;
    }
    char32_t codePoint = high;
    if (high >= 0xD800 && high <= 0xDBFF) {
        if (at() != '\\' || at(1) != 'u') {
            addErrorWithCode(6, "Missing low character in surrogate pair");
            return false;
        }
        pos_ += 2;
        unsigned low = 0;
        if (!scanHexQuad(low)) {
            addErrorWithCode(6, "Missing hex quad");
            return false;
        }
        if (low < 0xDC00 || low > 0xDFFF) {
            addErrorWithCode(6, "Invalid low surrogate char");
            return false;
        }
        codePoint = 0x10000 + (high - 0xD800) * 0x400 + (low - 0xDC00);
    }
    detail::appendUTF8(out, codePoint);
    return true;
}

bool TANJsonParser::scanNumber(Value& out) {
    std::size_t start = pos_;
    if (at() == '-') {
        ++pos_;
        if (!isDigit(at())) {
            addErrorWithCode(2, "No digits after initial minus");
            return false;
        }
    }
    if (at() == '0') {
        ++pos_;
        if (isDigit(at())) {
            addErrorWithCode(2, "Leading 0 disallowed in number");
            return false;
        }
    } else {
        while (isDigit(at())) ++pos_;
    }
    if (at() == '.') {
        ++pos_;
        if (!isDigit(at())) {
            addErrorWithCode(2, "No digits after decimal point");
            return false;
        }
        while (isDigit(at())) ++pos_;
    }
    if (at() == 'e' || at() == 'E') {
        ++pos_;
        if (at() == '+' || at() == '-') ++pos_;
        if (!isDigit(at())) {
            addErrorWithCode(2, "No digits after exponent");
            return false;
        }
        while (isDigit(at())) ++pos_;
    }
    auto number = NSDecimalNumber::decimalNumberWithExactString(text_.substr(start, pos_ - start));
    if (!number || number->isNaN()) {
        addErrorWithCode(2, "Failed creating decimal instance");
        return false;
    }
    out = Value(number);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Writer

std::optional<std::string> TANJsonWriter::stringWithFragment(const Value& value) {
    clearErrorTrace();
    depth_ = 0;
    std::string out;
    out.reserve(128);
    if (!appendValue(value, out)) return std::nullopt;
    return out;
}

std::optional<std::string> TANJsonWriter::stringWithObject(const Value& value) {
    if (value.isDictionary() || value.isArray()) return stringWithFragment(value);
    if (auto proxy = std::dynamic_pointer_cast<TANJsonProxy>(value.object())) {
        if (auto text = stringWithObject(proxy->proxyForJson())) return text;
    }
    clearErrorTrace();
    addErrorWithCode(4, "Not valid type for JSON");
    return std::nullopt;
}

void TANJsonWriter::appendIndent(std::string& out) {
    out.push_back('\n');
    out.append(2 * static_cast<std::size_t>(depth_), ' ');
}

bool TANJsonWriter::appendValue(const Value& value, std::string& out) {
    switch (value.kind()) {
        case Value::Kind::Dictionary:
            return appendDictionary(*value.dictionary(), out);
        case Value::Kind::Array:
            return appendArray(*value.array(), out);
        case Value::Kind::String:
            appendString(*value.string(), out);
            return true;
        case Value::Kind::Null:
            out += "null";
            return true;
        case Value::Kind::Number: {
            const NSNumber& n = *value.number();
            if (n.isBoolean()) {
                out += n.boolValue() ? "true" : "false";
                return true;
            }
            // Not-a-number and the infinities have no JSON text.
            if (n.isReal() && !std::isfinite(n.doubleValue())) break;
            out += n.stringValue();
            return true;
        }
        case Value::Kind::Object: {
            auto object = value.object();
            if (auto decimal = std::dynamic_pointer_cast<NSDecimalNumber>(object)) {
                if (decimal->isNaN()) break;
                out += decimal->stringValue();
                return true;
            }
            if (auto proxy = std::dynamic_pointer_cast<TANJsonProxy>(object)) {
                return appendValue(proxy->proxyForJson(), out);
            }
            break;
        }
        default:
            break;
    }
    std::string name;
    switch (value.kind()) {
        case Value::Kind::Object:
            name = value.object()->className();
            break;
        case Value::Kind::Number:
            name = "NSNumber";
            break;
        case Value::Kind::Data:
            name = "NSData";
            break;
        case Value::Kind::Date:
            name = "NSDate";
            break;
        default:
            name = "(null)";
            break;
    }
    addErrorWithCode(1, NSString::stringWithFormat("JSON serialisation not supported for %@", name));
    return false;
}

bool TANJsonWriter::appendArray(const Array& array, std::string& out) {
    if (maxDepth_ && ++depth_ > maxDepth_) {
        addErrorWithCode(7, "Nested too deep");
        return false;
    }
    if (!maxDepth_) ++depth_;
    out.push_back('[');
    bool first = true;
    for (const Value& element : array) {
        if (!first) out.push_back(',');
        first = false;
        if (humanReadable_) appendIndent(out);
        if (!appendValue(element, out)) return false;
    }
    --depth_;
    if (humanReadable_ && !array.empty()) appendIndent(out);
    out.push_back(']');
    return true;
}

bool TANJsonWriter::appendDictionary(const Dictionary& dictionary, std::string& out) {
    if (maxDepth_ && ++depth_ > maxDepth_) {
        addErrorWithCode(7, "Nested too deep");
        return false;
    }
    if (!maxDepth_) ++depth_;
    out.push_back('{');
    const char* separator = humanReadable_ ? " : " : ":";
    std::vector<std::string> keys = dictionary.allKeys();
    if (sortKeys_) {
        std::sort(keys.begin(), keys.end(), [](const std::string& a, const std::string& b) {
            return NSString::compare(a, b) == NSOrderedAscending;
        });
    }
    bool first = true;
    for (const std::string& key : keys) {
        if (!first) out.push_back(',');
        first = false;
        if (humanReadable_) appendIndent(out);
        appendString(key, out);
        out += separator;
        if (!appendValue(dictionary.objectForKey(key), out)) {
            addErrorWithCode(1, NSString::stringWithFormat("Unsupported value for key %@ in object", key));
            return false;
        }
    }
    --depth_;
    if (humanReadable_ && !dictionary.empty()) appendIndent(out);
    out.push_back('}');
    return true;
}

void TANJsonWriter::appendString(std::string_view text, std::string& out) {
    out.push_back('"');
    bool plain = std::none_of(text.begin(), text.end(), [](char c) {
        auto u = static_cast<unsigned char>(c);
        return u == '"' || u == '\\' || u < 0x20;
    });
    if (plain) {
        out.append(text);
    } else {
        for (char c : text) {
            auto u = static_cast<unsigned char>(c);
            switch (u) {
                case '"':
                    out += "\\\"";
                    break;
                case '\\':
                    out += "\\\\";
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
                    if (u < 0x20) {
                        out += NSString::stringWithFormat("\\u%04x", u);
                    } else {
                        out.push_back(c);
                    }
            }
        }
    }
    out.push_back('"');
}
