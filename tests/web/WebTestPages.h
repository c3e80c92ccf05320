#pragma once
// What the web engine's tests build their pages from: text repeated to a size, pictures of one
// colour, a page whose stylesheets and pictures come from maps (every URL it asks for kept), and
// what a drawn pixel counts as when it is clearly of one primary colour.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "graphics/CGImage.h"
#include "web/WebDocument.h"

namespace webtest {

inline std::string repeat(const std::string& s, std::size_t n) {
    std::string out;
    out.reserve(s.size() * n);
    for (std::size_t i = 0; i < n; ++i) out += s;
    return out;
}

// How often `what` stands in `s`, the occurrences not overlapping.
inline std::size_t occurrences(const std::string& s, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + what.size())) ++n;
    return n;
}

// An opaque picture of one colour.
inline Ref<CGImage> solidPicture(std::size_t w, std::size_t h, std::uint8_t r, std::uint8_t g,
                                 std::uint8_t b) {
    std::vector<std::uint8_t> px(w * h * 4);
    for (std::size_t i = 0; i < w * h; ++i) {
        px[i * 4 + 0] = b;
        px[i * 4 + 1] = g;
        px[i * 4 + 2] = r;
        px[i * 4 + 3] = 255;
    }
    return detail::makeBGRAImage(w, h, NSData(std::move(px)), false);
}

// A channel (0 red, 1 green, 2 blue) strong and at least three times each of the others: the
// colour a rule asked for, not the grey of anti-aliased black text.
inline bool clearlyOf(int channel, int r, int g, int b) {
    const int c[3] = {r, g, b};
    return c[channel] > 120 && c[channel] > 3 * c[(channel + 1) % 3] && c[channel] > 3 * c[(channel + 2) % 3];
}

// Resources served from maps; what is not in them is missing. Every URL asked for is kept, in
// order, and so is every URL whose natural size was asked (none is known: the decode's counts).
struct Page {
    std::map<std::string, std::string> sheets;
    std::map<std::string, Ref<CGImage>> pictures;
    std::vector<std::string> asked, sized;

    WebDocument::Resources resources() {
        WebDocument::Resources r;
        r.stylesheet = [this](const std::string& url) -> std::optional<std::string> {
            asked.push_back(url);
            auto found = sheets.find(url);
            if (found == sheets.end()) return std::nullopt;
            return found->second;
        };
        r.image = [this](const std::string& url) -> Ref<CGImage> {
            asked.push_back(url);
            auto found = pictures.find(url);
            return found == pictures.end() ? nullptr : found->second;
        };
        r.imageSize = [this](const std::string& url) -> std::optional<CGSize> {
            sized.push_back(url);
            return std::nullopt;
        };
        return r;
    }

    std::unique_ptr<WebDocument> make(const std::string& html,
                                      const std::string& base = "http://h.test/a/b.html") {
        return WebDocument::create(html, base, resources());
    }
};

}  // namespace webtest
