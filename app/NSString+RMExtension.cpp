#include "app/NSString+RMExtension.h"

#include <vector>

#include "foundation/NSScanner.h"
#include "foundation/NSString.h"

namespace NSString_RMExtension {

Ref<NSURL> url(std::string_view string) {
    auto escaped = CFURLCreateStringByAddingPercentEscapes(
        string, std::string_view("!$&'()*+,-./:;=?@_~%#[]"), std::nullopt, kCFStringEncodingUTF8);
    if (!escaped) return nullptr;
    return NSURL::URLWithString(*escaped);
}

std::string underlineFromCamel(std::string_view string) {
    if (string.empty()) return std::string(string);
    std::string out;
    out.reserve(string.size() + 4);
    std::size_t i = 0;
    while (i < string.size()) {
        std::size_t start = i;
        detail::decodeUTF8(string, i);
        std::string_view character = string.substr(start, i - start);
        std::string lower = NSString::lowercaseString(character);
        if (lower != character) out += '_';
        out += lower;
    }
    return out;
}

std::string camelFromUnderline(std::string_view string) {
    std::vector<std::string> pieces = NSString::componentsSeparatedByString(string, "_");
    std::string out;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i == 0) {
            out += pieces[i];
        } else if (!pieces[i].empty()) {
            out += firstCharUpper(pieces[i]);
        }
    }
    return out;
}

namespace {
std::string mapFirst(std::string_view string, bool upper) {
    if (string.empty()) return std::string();
    std::size_t end = 0;
    detail::decodeUTF8(string, end);
    std::string_view first = string.substr(0, end);
    std::string mapped = upper ? NSString::uppercaseString(first) : NSString::lowercaseString(first);
    return mapped + std::string(string.substr(end));
}
}  // namespace

std::string firstCharLower(std::string_view string) {
    return mapFirst(string, false);
}

std::string firstCharUpper(std::string_view string) {
    return mapFirst(string, true);
}

bool isPureInt(std::string_view string) {
    auto scanner = NSScanner::scannerWithString(std::string(string));
    int value = 0;
    return scanner->scanInt(&value) && scanner->isAtEnd();
}

}  // namespace NSString_RMExtension
