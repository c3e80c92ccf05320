#include "app/QVNTextRules.h"

#include <algorithm>
#include <string_view>

#include "foundation/NSString.h"

namespace QVNTextRules {

namespace {

bool singleUnitEmoji(char16_t unit) {
    if (unit >= 0x2100 && unit <= 0x27FF) return true;
    if (unit >= 0x2B05 && unit <= 0x2B07) return true;
    if (unit >= 0x2934 && unit <= 0x2935) return true;
    if (unit >= 0x3297 && unit <= 0x3299) return true;
    switch (unit) {
        case 0xA9:
        case 0xAE:
        case 0x303D:
        case 0x3030:
        case 0x2B55:
        case 0x2B1C:
        case 0x2B1B:
        case 0x2B50:
            return true;
        default:
            return false;
    }
}

bool sequenceIsEmoji(std::u16string_view units) {
    if (units.empty()) return false;
    char16_t first = units[0];
    if (first >= 0xD800 && first <= 0xDBFF) {
        if (units.size() < 2) return false;
        char32_t codePoint = ((first - 0xD800) * 0x400) + (units[1] - 0xDC00) + 0x10000;
        return codePoint >= 0x1D000 && codePoint <= 0x1F77F;
    }
    if (units.size() >= 2) return units[1] == 0x20E3;
    return singleUnitEmoji(first);
}

}  // namespace

bool stringContainsEmoji(const std::string& text) {
    std::u16string units = NSString::utf16(text);
    for (const NSRange& range : NSString::composedCharacterSequenceRanges(text)) {
        if (range.location >= units.size()) break;
        std::size_t length = std::min(range.length, units.size() - range.location);
        if (sequenceIsEmoji(std::u16string_view(units).substr(range.location, length))) return true;
    }
    return false;
}

std::string escapeHTML(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace QVNTextRules
