#include "web/WebDataURL.h"

#include "foundation/NSData+Base64.h"

namespace detail {

namespace {

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = asciiLower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Percent escapes decoded; a "%" not followed by two hex digits stays as it is, as browsers read it.
std::string percentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = hexValue(text[i + 1]), low = hexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out.push_back(static_cast<char>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

std::optional<WebDataURL> refuse(std::string* error, const char* why) {
    if (error) *error = why;
    return std::nullopt;
}

}  // namespace

bool isDataURL(std::string_view url) {
    url = trimmed(url);
    if (url.size() < 5) return false;
    for (std::size_t i = 0; i < 5; ++i)
        if (asciiLower(url[i]) != "data:"[i]) return false;
    return true;
}

std::optional<WebDataURL> readDataURL(std::string_view url, std::size_t maxBytes, std::string* error) {
    if (!isDataURL(url)) return refuse(error, "not a data: URL");
    url = trimmed(url);
    url.remove_prefix(5);
    if (const std::size_t fragment = url.find('#'); fragment != std::string_view::npos)
        url = url.substr(0, fragment);
    const std::size_t comma = url.find(',');
    if (comma == std::string_view::npos) return refuse(error, "a data: URL without a comma");
    // The header is short in any real URL; a long one is no media type anyone reads.
    if (comma > 1024) return refuse(error, "a data: URL's media type too long");
    const std::string header = percentDecoded(url.substr(0, comma));
    std::string_view data = url.substr(comma + 1);

    WebDataURL result;
    std::string_view rest = header;
    std::size_t index = 0;
    while (true) {
        const std::size_t semicolon = rest.find(';');
        const std::string_view part = trimmed(rest.substr(0, semicolon));
        if (index == 0) {
            for (char c : part) result.mediaType.push_back(asciiLower(c));
        } else if (semicolon == std::string_view::npos && part.size() == 6 && asciiLower(part[0]) == 'b' &&
                   asciiLower(part[1]) == 'a' && asciiLower(part[2]) == 's' && asciiLower(part[3]) == 'e' &&
                   part[4] == '6' && part[5] == '4') {
            result.base64 = true;
        } else if (const std::size_t equals = part.find('='); equals != std::string_view::npos) {
            std::string name;
            for (char c : trimmed(part.substr(0, equals))) name.push_back(asciiLower(c));
            std::string_view value = trimmed(part.substr(equals + 1));
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                value = value.substr(1, value.size() - 2);
            if (name == "charset") result.charset = std::string(value);
        }
        ++index;
        if (semicolon == std::string_view::npos) break;
        rest.remove_prefix(semicolon + 1);
    }
    if (result.mediaType.empty() || result.mediaType.find('/') == std::string::npos) {
        result.mediaType = "text/plain";
        if (result.charset.empty() && index == 1) result.charset = "US-ASCII";
    }

    // Percent decoding never lengthens, base64 gives three bytes for four: both bound the result
    // before anything is decoded.
    const std::size_t most = result.base64 ? (data.size() / 4 + 1) * 3 : data.size();
    if (most > maxBytes) {
        // A long run of white space or escapes may still decode small enough: look closer.
        // White space and padding in base64 decode to nothing.
        const auto counts = [&](char c) { return !(result.base64 && (isSpace(c) || c == '=')); };
        std::size_t significant = 0;
        for (std::size_t i = 0; i < data.size(); ++i) {
            if (data[i] == '%' && i + 2 < data.size() && hexValue(data[i + 1]) >= 0 &&
                hexValue(data[i + 2]) >= 0) {
                if (counts(static_cast<char>(hexValue(data[i + 1]) * 16 + hexValue(data[i + 2]))))
                    ++significant;
                i += 2;
            } else if (counts(data[i])) {
                ++significant;
            }
        }
        const std::size_t decoded =
            result.base64 ? significant / 4 * 3 + (significant % 4 > 1 ? significant % 4 - 1 : 0)
                          : significant;
        if (decoded > maxBytes) return refuse(error, "a data: URL past its byte bound");
    }
    std::string text = percentDecoded(data);
    if (!result.base64) {
        result.bytes = std::move(text);
        return result;
    }
    std::string compact;
    compact.reserve(text.size() + 2);
    for (char c : text)
        if (!isSpace(c)) compact.push_back(c);
    text.clear();
    if (compact.size() % 4 == 1) return refuse(error, "a data: URL's base64 of a wrong length");
    while (compact.size() % 4 != 0) compact.push_back('=');
    auto bytes = NSData_Base64::dataFromBase64String(compact);
    if (!bytes) return refuse(error, "a data: URL's base64 is malformed");
    if (bytes->length() > maxBytes) return refuse(error, "a data: URL past its byte bound");
    result.bytes.assign(reinterpret_cast<const char*>(bytes->bytes()), bytes->length());
    return result;
}

}  // namespace detail
