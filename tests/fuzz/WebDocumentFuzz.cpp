// The web page renderer: the input is a page and a stylesheet (split at the first NUL byte; the
// stylesheet is served for every stylesheet URL the page asks for). A first byte below the
// number of labels below names the charset the transport gave, and is no part of the page.
// Both are decoded as the web view decodes them (the page's whole bytes, since a UTF-16 page
// holds NULs; the stylesheet's bytes with the page's encoding), and the text must come out as
// valid UTF-8 of bounded size. Pictures are small decoded images for URLs whose name holds
// "pic", one 30,000 pixels wide for "wide", and missing for the rest. The page is laid out at two
// widths and drawn onto a small cairo surface; whatever the page says, the results must stay
// consistent and the drawing context usable. The scan of the page's linked stylesheets (what a
// page's process does instead of building a page that waits for them) stays bounded and sound.

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "web/WebDocument.h"
#include "web/WebTextDecoding.h"

namespace {

Ref<CGImage> picture(std::size_t w, std::size_t h) {
    std::vector<std::uint8_t> px(w * h * 4, 0xFF);
    for (std::size_t i = 0; i < w * h; ++i) px[i * 4] = std::uint8_t(i);
    return detail::makeBGRAImage(w, h, NSData(std::move(px)), false);
}

// The charsets a transport may name, an unknown one among them.
const char* const kLabels[] = {"utf-8",  "GBK",     "gb2312",   "gb18030",      "big5",       "shift_jis",
                               "euc-jp", "euc-kr",  "utf-16",   "utf-16be",     "iso-8859-1", "windows-1251",
                               "koi8-r", "x-bogus", " Latin1 ", "iso-8859-8-i", "windows-874"};

bool isValidUTF8(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80           ? 1
                             : (c >> 5) == 0x6  ? 2
                             : (c >> 4) == 0xE  ? 3
                             : (c >> 3) == 0x1E ? 4
                                                : 0;
        if (length == 0 || i + length > text.size()) return false;
        char32_t code = length == 1 ? c : c & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        static const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Ref<CGImage> small = picture(7, 5);
    static const Ref<CGImage> wide = picture(30000, 2);
    std::string input(reinterpret_cast<const char*>(data), size);
    std::optional<std::string> transport;
    if (!input.empty() && static_cast<unsigned char>(input[0]) < std::size(kLabels)) {
        transport = kLabels[static_cast<unsigned char>(input[0])];
        input.erase(0, 1);
    }
    std::size_t split = input.find('\0');
    std::string encoding;
    std::string text = detail::decodeHTMLBytes(input, transport, &encoding);
    FUZZ_CHECK(isValidUTF8(text));
    FUZZ_CHECK(text.size() <= 3 * input.size());
    FUZZ_CHECK(detail::encodingForLabel(encoding) == encoding);
    // Valid UTF-8 that nothing declares otherwise comes out as it went in.
    if (encoding == "utf-8" && input.rfind("\xEF\xBB\xBF", 0) != 0 && isValidUTF8(input))
        FUZZ_CHECK(text == input);
    std::string plain = detail::decodeTextBytes(input, transport);
    FUZZ_CHECK(isValidUTF8(plain));
    std::string html = text.substr(0, text.find('\0'));
    std::string css =
        split == std::string::npos
            ? std::string()
            : detail::decodeStyleSheetBytes(std::string_view(input).substr(split + 1), transport, encoding);
    FUZZ_CHECK(isValidUTF8(css));

    WebDocument::Resources resources;
    resources.stylesheet = [&](const std::string& url) -> std::optional<std::string> {
        FUZZ_CHECK(!url.empty());
        return css;
    };
    resources.image = [](const std::string& url) -> Ref<CGImage> {
        if (url.find("wide") != std::string::npos) return wide;
        if (url.find("pic") != std::string::npos) return small;
        return nullptr;
    };
    // The scan for linked sheets a Load may do instead of building: bounded, absolute, once each.
    const auto linked = WebDocument::linkedStylesheetURLs(html, "http://fuzz.test/dir/page.html", 16);
    FUZZ_CHECK(linked.size() <= 16);
    for (const auto& url : linked)
        FUZZ_CHECK(url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0 ||
                   url.rfind("file:", 0) == 0);
    FUZZ_CHECK(std::set<std::string>(linked.begin(), linked.end()).size() == linked.size());

    auto doc = WebDocument::create(html, "http://fuzz.test/dir/page.html", resources);
    FUZZ_CHECK(doc);
    for (const auto* urls : {&doc->stylesheetURLs(), &doc->imageURLs()}) {
        std::vector<std::string> sorted = *urls;
        std::sort(sorted.begin(), sorted.end());
        FUZZ_CHECK(std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end());
        for (const auto& url : sorted)
            FUZZ_CHECK(url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0 ||
                       url.rfind("file:", 0) == 0 || url.rfind("data:", 0) == 0);
    }

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 64, 64);
    for (CGFloat width : {320.0, 41.0}) {
        CGSize content = doc->layout(width);
        FUZZ_CHECK(content.width >= width);
        FUZZ_CHECK(content.height >= 1);
        FUZZ_CHECK(std::isfinite(content.width) && std::isfinite(content.height));
        cairo_t* cr = cairo_create(surface);
        cairo_scale(cr, 2, 2);
        doc->draw(cr, CGRectMake(0, 0, 32, 32));
        cairo_translate(cr, 0, -std::min(content.height, 1e6) / 2);
        doc->draw(cr, CGRectMake(0, std::min(content.height, 1e6) / 2, 32, 32));
        FUZZ_CHECK(cairo_status(cr) == CAIRO_STATUS_SUCCESS);
        cairo_destroy(cr);
        (void)doc->linkAt(CGPointMake(5, 5));
        (void)doc->canvasColor();
    }
    cairo_surface_destroy(surface);
    return 0;
}
