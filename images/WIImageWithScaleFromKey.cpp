#include "images/WIImageWithScaleFromKey.h"

#include <vector>

namespace detail {

namespace {
// The key as UTF-16 code units; the platform counts characters that way. Bytes that are not
// valid UTF-8 count one unit each, so odd keys still get an answer.
std::u16string utf16Units(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80           ? 1
                             : (c >> 5) == 0x6  ? 2
                             : (c >> 4) == 0xE  ? 3
                             : (c >> 3) == 0x1E ? 4
                                                : 0;
        if (length == 0 || i + length > text.size()) {
            out.push_back(c);
            ++i;
            continue;
        }
        std::uint32_t cp = length == 1 ? c : length == 2 ? (c & 0x1F) : length == 3 ? (c & 0x0F) : (c & 0x07);
        bool valid = true;
        for (std::size_t k = 1; k < length; ++k) {
            unsigned char cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (!valid) {
            out.push_back(c);
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += length;
    }
    return out;
}
}  // namespace

double wiScaleFromKey(const std::string& key) {
    std::u16string units = utf16Units(key);
    if (units.size() < 8) return 1.0;
    std::u16string window = units.substr(units.size() - 8, 5);
    return window.find(u"@2x.") != std::u16string::npos ? 2.0 : 1.0;
}

}  // namespace detail

Ref<UIImage> WIImageWithScaleFromKey(const std::optional<std::string>& key, const Ref<UIImage>& image) {
    if (!image) return nullptr;
    if (!image->images().empty()) {
        std::vector<Ref<UIImage>> frames;
        frames.reserve(image->images().size());
        for (const auto& frame : image->images()) {
            auto scaled = WIImageWithScaleFromKey(key, frame);
            if (scaled) frames.push_back(scaled);
        }
        return UIImage::animatedImageWithImages(frames, image->duration());
    }
    double scale = detail::wiScaleFromKey(key.value_or(""));
    return UIImage::imageWithCGImage(image->CGImage(), scale, image->imageOrientation());
}
