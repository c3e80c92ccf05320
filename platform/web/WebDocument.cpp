#include "web/WebDocument.h"

#include <litehtml/litehtml.h>
#include <pango/pangocairo.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

// After the engine's own header, which it needs first.
#include <litehtml/el_text.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <set>
#include <tuple>
#include <unordered_map>

#include "foundation/NSURL.h"
#include "graphics/TextMeasurer.h"
#include "graphics/UIFont.h"
#include "web/WebDefaultStyleSheet.h"
#include "web/WebElementMatching.h"
#include "web/WebEngineAccess.h"
#include "web/WebPageSource.h"
#include "web/WebStyleSheetSource.h"

namespace detail {

namespace {

// Font sizes past this draw at it: a glyph a thousand points high already fills a phone screen,
// and pango's and cairo's sizes overflow long before a hostile page's do.
constexpr int kMaxFontSize = 1000;
// Stylesheets: how many one page may pull in (through links and @import) and how much text.
constexpr std::size_t kMaxStylesheets = 64;
constexpr std::size_t kMaxStylesheetBytes = 2u << 20;
// Widest layout accepted; the layout engine counts in ints.
constexpr int kMaxLayoutWidth = 100000;
// Boxes sized to their content (tables, inline blocks, floats, absolutely placed boxes) lay their
// content out more than once to measure it, so nesting them multiplies the work: past this many
// around it, such a box is left out with what it holds.
constexpr int kMaxShrinkToFitNesting = 6;
// Reduced copies of pictures kept for drawing: how many, and their largest side in pixels.
constexpr std::size_t kMaxReducedPictures = 32;
constexpr long kMaxReducedSide = 2048;
// Measured words kept per font before the cache starts over.
constexpr std::size_t kMaxCachedWidths = 20000;
// Faces (family, size, weight, slant) one page may load: each costs pango a font and its metrics,
// about a millisecond, and a page can ask for one per element. Past this many, text takes the
// nearest size already loaded in its family, weight and slant.
constexpr std::size_t kMaxFontFaces = 128;
// Words and spaces one page is split into: each is an element of its own (about 280 bytes, laid
// out and drawn one by one), and a megabyte of text may hold a million. Past this many (about
// 210 MB of them, beside 100,000 elements' 190 MB), the rest of the page's text is left out, as
// past the page's text bound.
constexpr std::size_t kMaxTextPieces = 768u << 10;
// Pieces an ordinary page may make, about 140 MB of the engine's elements: a page whose text would
// make more (a few megabytes of it) has its words joined in twos or threes, evenly, so that it
// keeps to about this many. Its lines then break at every second or third word: all of it shows.
constexpr std::size_t kTextPieceBudget = 384u << 10;
constexpr double kMaxWordsPerPiece = 4;
// Floats one page lays out as floats: placing one looks at those before it in its formatting
// context at every height it tries, so thousands cost seconds. Past this many, a float is laid out
// where it stands in the flow, as a block.
constexpr std::size_t kMaxFloats = 2000;
// Distinct z-index levels one page draws: a stacking context walks its whole subtree once for
// each level among its positioned boxes. Past this many, levels are merged into as many bands
// (in order; boxes of one band draw in document order).
constexpr std::size_t kMaxZIndexLevels = 64;

litehtml::context& sharedContext() {
    static litehtml::context* context = [] {
        auto* c = new litehtml::context;
        c->load_master_stylesheet(webDefaultStyleSheet());
        return c;
    }();
    return *context;
}

std::string lowercase(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

// Pango takes only valid UTF-8; text from a page's stylesheets (generated content) may not be.
std::string validUTF8(const char* text) {
    if (g_utf8_validate(text, -1, nullptr)) return text;
    gchar* valid = g_utf8_make_valid(text, -1);
    std::string out(valid);
    g_free(valid);
    return out;
}

bool isWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// A URL reference as written in a page, made acceptable to the URL parser the way browsers
// read one: surrounding spaces trimmed, tabs and line breaks removed, other characters outside
// the URL set percent-encoded.
std::string cleanReference(const std::string& text) {
    std::size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    bool fragment = false;
    for (std::size_t i = b; i < e; ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c == '\t' || c == '\n' || c == '\r') continue;
        bool escape = c <= ' ' || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' ||
                      c == '`' || c == '{' || c == '|' || c == '}';
        if (c == '%') {
            auto isHex = [&](std::size_t k) {
                return k < e && std::isxdigit(static_cast<unsigned char>(text[k]));
            };
            escape = !(isHex(i + 1) && isHex(i + 2));
        }
        if (c == '#') {
            escape = fragment;
            fragment = true;
        }
        if (escape) {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        } else {
            out.push_back(char(c));
        }
    }
    return out;
}

// An absolute http, https or file URL for a reference as a page writes one, against a base.
std::optional<std::string> resolveReference(const char* reference, const std::string& base,
                                            bool keepFragment) {
    std::string ref = cleanReference(reference);
    if (ref.empty()) return std::nullopt;
    Ref<NSURL> baseURL = base.empty() ? nullptr : NSURL::URLWithString(base);
    Ref<NSURL> url = baseURL ? NSURL::URLWithString(ref, baseURL) : NSURL::URLWithString(ref);
    if (!url || !url->scheme()) return std::nullopt;
    std::string scheme = lowercase(*url->scheme());
    if (scheme != "http" && scheme != "https" && scheme != "file") return std::nullopt;
    // "https:name" names no server to ask.
    if (scheme != "file" && (!url->host() || url->host()->empty())) return std::nullopt;
    std::string text = url->absoluteString();
    if (!keepFragment) text = text.substr(0, text.find('#'));
    return text;
}

// A stylesheet's or picture's URL: data: ones as written, others absolute without a fragment.
std::optional<std::string> resolveResource(const char* reference, const std::string& base) {
    if (auto ref = cleanReference(reference ? reference : ""); lowercase(ref.substr(0, 5)) == "data:")
        return ref;
    return resolveReference(reference ? reference : "", base, false);
}

// A loaded face, shared by every font of the page that differs from it only in decoration or in
// what the page asked for beyond what is drawn (weights 600 and 900 draw alike).
struct WebFontFace {
    PangoFontDescription* description = nullptr;
    // Shared by every word measured or drawn in this face: making a layout costs more than
    // setting its text.
    PangoLayout* layout = nullptr;
    int ascent = 0, descent = 0, xHeight = 0;
    double underlinePosition = 0, underlineThickness = 1, strikePosition = 0, strikeThickness = 1;
    std::unordered_map<std::string, int> widths;

    ~WebFontFace() {
        if (layout) g_object_unref(layout);
        if (description) pango_font_description_free(description);
    }
};

struct WebFont {
    std::shared_ptr<WebFontFace> face;
    unsigned decoration = 0;
};

// A face by what tells faces apart: monospace, bold, italic, size.
using FontFaceKey = std::tuple<bool, bool, bool, int>;

// The engine keeps an element's float and z-index to itself, set from its style; the layout
// bounds below change them once the page is styled.
struct FloatTag {
    using type = litehtml::element_float litehtml::html_tag::*;
    friend type member(FloatTag);
};
template struct ExposeMember<FloatTag, &litehtml::html_tag::m_float>;
struct ZIndexTag {
    using type = int litehtml::html_tag::*;
    friend type member(ZIndexTag);
};
template struct ExposeMember<ZIndexTag, &litehtml::html_tag::m_z_index>;

// Text longer than this is measured and drawn a run at a time: pango counts a line's width in
// 1/1024 points in an int, which a word of some hundred thousand characters passes (it was then
// drawn not at all).
constexpr std::size_t kMaxRunBytes = 2048;

// Where text may be cut into runs or pieces: at a character, never before a combining mark or a
// joiner (which belong to the character before).
bool cutsBefore(const char* p) {
    gunichar c = g_utf8_get_char(p);
    return !g_unichar_ismark(c) && c != 0x200D && !(c >= 0xFE00 && c <= 0xFE0F);
}

std::vector<std::string_view> runsOf(std::string_view text) {
    std::vector<std::string_view> runs;
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    while (begin < end) {
        const char* cut = begin;
        while (cut < end && std::size_t(cut - begin) < kMaxRunBytes) cut = g_utf8_next_char(cut);
        while (cut < end && !cutsBefore(cut)) cut = g_utf8_next_char(cut);
        runs.emplace_back(begin, std::size_t(std::min(cut, end) - begin));
        begin = cut;
    }
    return runs;
}

struct ChildrenTag {
    using type = litehtml::elements_vector litehtml::element::*;
    friend type member(ChildrenTag);
};
template struct ExposeMember<ChildrenTag, &litehtml::element::m_children>;

// Whether the styles an element inherits let a word break anywhere to fit its line.
bool breaksWords(const litehtml::element& el) {
    auto is = [&](const char* property, std::initializer_list<const char*> values) {
        const char* v = el.get_style_property(property, true, nullptr);
        if (!v) return false;
        for (const char* value : values)
            if (std::strcmp(v, value) == 0) return true;
        return false;
    };
    return is("word-break", {"break-all", "break-word"}) || is("overflow-wrap", {"break-word", "anywhere"}) ||
           is("word-wrap", {"break-word", "anywhere"});
}

struct ListStyleTag {
    using type = litehtml::list_style_type litehtml::html_tag::*;
    friend type member(ListStyleTag);
};
template struct ExposeMember<ListStyleTag, &litehtml::html_tag::m_list_style_type>;

// An integer attribute as HTML reads one (leading white space, a sign, digits up to the first
// other character), kept within what list numbers may be; nullopt without digits.
std::optional<long> integerAttribute(const char* text) {
    if (!text) return std::nullopt;
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f') ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    if (*p < '0' || *p > '9') return std::nullopt;
    long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) value = std::min(value * 10 + (*p - '0'), 1000000000L);
    return negative ? -value : value;
}

// The text pieces wider than the line they are laid out in (the content box of the nearest block,
// list item, table cell or inline block around them) where the styles they inherit let words
// break, in document order, each with that line's width. Each element's line width is handed down
// from its parent rather than looked up through its ancestors: a page holds a million pieces.
std::vector<std::pair<litehtml::element::ptr, int>> overlongTextPieces(const litehtml::element::ptr& root) {
    std::vector<std::pair<litehtml::element::ptr, int>> overlong;
    // An element, and the width of the lines its children are laid out in.
    std::vector<std::pair<const litehtml::element::ptr*, int>> pending;
    pending.emplace_back(&root, 0);
    while (!pending.empty()) {
        auto [at, line] = pending.back();
        pending.pop_back();
        const litehtml::element::ptr& el = *at;
        const auto& children = el.get()->*member(ChildrenTag{});
        if (children.empty()) {
            if (line > 0 && el->get_position().width > line && dynamic_cast<litehtml::el_text*>(el.get()) &&
                !el->is_white_space() && breaksWords(*el))
                overlong.emplace_back(el, line);
            continue;
        }
        int inner = line;
        switch (el->get_display()) {
            case litehtml::display_block:
            case litehtml::display_list_item:
            case litehtml::display_table_cell:
            case litehtml::display_inline_block:
                inner = el->get_position().width;
                break;
            default:
                break;
        }
        for (auto child = children.rbegin(); child != children.rend(); ++child)
            if (*child) pending.emplace_back(&*child, inner);
    }
    return overlong;
}

// Numbers the list items of every list as a browser does: from the list's start (its count of
// items when reversed), down when reversed, an item's own value setting its number and the
// next's; items not shown are not counted. The engine's items have numbered themselves when
// first laid out (from 1, every item counted); this runs after each layout, before drawing.
void numberLists(const std::vector<litehtml::element::ptr>& lists) {
    for (const auto& list : lists) {
        std::vector<litehtml::html_tag*> items;
        for (std::size_t i = 0; i < list->get_children_count(); ++i) {
            auto child = list->get_child(int(i));
            auto* tag = dynamic_cast<litehtml::html_tag*>(child.get());
            if (tag && tag->get_display() == litehtml::display_list_item) items.push_back(tag);
        }
        const char* name = list->get_tagName();
        const bool ordered = name && std::strcmp(name, "ol") == 0;
        const bool reversed = ordered && list->get_attr("reversed");
        long number = reversed ? long(items.size()) : 1;
        if (ordered)
            if (auto start = integerAttribute(list->get_attr("start"))) number = *start;
        for (auto* item : items) {
            if (auto value = integerAttribute(item->get_attr("value"))) number = *value;
            // A style with no numeral for the number falls back to decimal, as in a browser:
            // letters from 1, Roman numerals from 1 to 3999 (past which the engine would write
            // thousands of 'm's).
            auto& style = item->*member(ListStyleTag{});
            const bool roman = style == litehtml::list_style_type_lower_roman ||
                               style == litehtml::list_style_type_upper_roman;
            if (style > litehtml::list_style_type_decimal_leading_zero &&
                (number < 1 || (roman && number > 3999)))
                style = litehtml::list_style_type_decimal;
            item->set_attr("list_index", std::to_string(number).c_str());
            number += reversed ? -1 : 1;
        }
    }
}

bool isMonospaceFamily(const std::string& faceName) {
    std::string list = lowercase(faceName);
    std::size_t start = 0;
    bool first = true;
    while (start <= list.size()) {
        std::size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        std::string family = list.substr(start, comma - start);
        family.erase(
            std::remove_if(family.begin(), family.end(), [](char c) { return c == '"' || c == '\''; }),
            family.end());
        while (!family.empty() && family.front() == ' ') family.erase(family.begin());
        while (!family.empty() && family.back() == ' ') family.pop_back();
        if (family == "monospace") return true;
        if (first &&
            (family.find("mono") != std::string::npos || family.find("courier") != std::string::npos))
            return true;
        first = false;
        start = comma + 1;
    }
    return false;
}

void roundedRectangle(cairo_t* cr, double x, double y, double w, double h,
                      const litehtml::border_radiuses& r) {
    double tlx = r.top_left_x, tly = r.top_left_y, trx = r.top_right_x, try_ = r.top_right_y;
    double brx = r.bottom_right_x, bry = r.bottom_right_y, blx = r.bottom_left_x, bly = r.bottom_left_y;
    if (w <= 0 || h <= 0) return;
    if (tlx <= 0 && tly <= 0 && trx <= 0 && try_ <= 0 && brx <= 0 && bry <= 0 && blx <= 0 && bly <= 0) {
        cairo_rectangle(cr, x, y, w, h);
        return;
    }
    // Radii that do not fit shrink together, as CSS has them.
    double f = 1;
    auto fit = [&](double a, double b, double side) {
        if (a + b > side && a + b > 0) f = std::min(f, side / (a + b));
    };
    fit(tlx, trx, w);
    fit(blx, brx, w);
    fit(tly, bly, h);
    fit(try_, bry, h);
    tlx *= f, tly *= f, trx *= f, try_ *= f, brx *= f, bry *= f, blx *= f, bly *= f;
    auto corner = [&](double cx, double cy, double rx, double ry, double from) {
        cairo_save(cr);
        cairo_translate(cr, cx, cy);
        cairo_scale(cr, rx, ry);
        cairo_arc(cr, 0, 0, 1, from, from + M_PI / 2);
        cairo_restore(cr);
    };
    cairo_new_sub_path(cr);
    if (tlx > 0 && tly > 0)
        corner(x + tlx, y + tly, tlx, tly, M_PI);
    else
        cairo_move_to(cr, x, y);
    if (trx > 0 && try_ > 0)
        corner(x + w - trx, y + try_, trx, try_, -M_PI / 2);
    else
        cairo_line_to(cr, x + w, y);
    if (brx > 0 && bry > 0)
        corner(x + w - brx, y + h - bry, brx, bry, 0);
    else
        cairo_line_to(cr, x + w, y + h);
    if (blx > 0 && bly > 0)
        corner(x + blx, y + h - bly, blx, bly, M_PI / 2);
    else
        cairo_line_to(cr, x, y + h);
    cairo_close_path(cr);
}

void setColor(cairo_t* cr, const litehtml::web_color& c) {
    cairo_set_source_rgba(cr, c.red / 255.0, c.green / 255.0, c.blue / 255.0, c.alpha / 255.0);
}

bool shrinksToFit(const litehtml::element::ptr& el) {
    switch (el->get_display()) {
        case litehtml::display_inline_block:
        case litehtml::display_inline_table:
        case litehtml::display_table:
            return true;
        default:
            break;
    }
    if (el->get_float() != litehtml::float_none) return true;
    auto position = el->get_element_position();
    return position == litehtml::element_position_absolute || position == litehtml::element_position_fixed;
}

void boundShrinkToFitNesting(const litehtml::element::ptr& root) {
    // Plain pointers, not copies of the engine's: a page of a million text pieces would otherwise
    // pay two atomic counts for each.
    std::vector<std::pair<litehtml::element*, int>> pending;
    pending.emplace_back(root.get(), 0);
    std::vector<litehtml::element::ptr> dropped;
    while (!pending.empty()) {
        auto [el, level] = pending.back();
        pending.pop_back();
        dropped.clear();
        for (const auto& child : el->*member(ChildrenTag{})) {
            if (!child) continue;
            // A childless element short of the bound stays whatever it is: only text pieces are
            // asked nothing.
            const bool leaf = (child.get()->*member(ChildrenTag{})).empty();
            if (leaf && level < kMaxShrinkToFitNesting) continue;
            int inner = level + (shrinksToFit(child) ? 1 : 0);
            if (inner > kMaxShrinkToFitNesting)
                dropped.push_back(child);
            else
                pending.emplace_back(child.get(), inner);
        }
        for (const auto& child : dropped) el->removeChild(child);
    }
}

// Calls `visit` on every element of the tree under `root` (itself first), in document order,
// without recursion: a page's tree may be deep. The walk holds the engine's own pointers, not
// copies (a page of a million text pieces would pay two atomic counts for each), so `visit`
// leaves the tree as it is.
template <class Visit>
void forEachElement(const litehtml::element::ptr& root, Visit&& visit) {
    std::vector<const litehtml::element::ptr*> pending;
    pending.push_back(&root);
    while (!pending.empty()) {
        const litehtml::element::ptr& el = *pending.back();
        pending.pop_back();
        const auto& children = el.get()->*member(ChildrenTag{});
        for (auto child = children.rbegin(); child != children.rend(); ++child)
            if (*child) pending.push_back(&*child);
        visit(el);
    }
}

// What the page's styles leave for layout and drawing to do, bounded (see kMaxFloats and
// kMaxZIndexLevels). Runs after every styling, before layout: styling sets both again.
// Collects the elements holding list items, for numberLists.
void boundLayoutWork(const litehtml::element::ptr& root, std::vector<litehtml::element::ptr>& lists) {
    std::size_t floats = 0;
    std::vector<litehtml::html_tag*> positioned;
    lists.clear();
    forEachElement(root, [&](const litehtml::element::ptr& el) {
        auto* tag = dynamic_cast<litehtml::html_tag*>(el.get());
        if (!tag) return;
        if (tag->get_display() == litehtml::display_list_item)
            if (auto parent = el->parent(); parent && (lists.empty() || lists.back() != parent))
                lists.push_back(parent);
        if (tag->get_float() != litehtml::float_none && ++floats > kMaxFloats)
            tag->*member(FloatTag{}) = litehtml::float_none;
        if (tag->is_positioned()) positioned.push_back(tag);
    });
    std::vector<int> below, above;  // distinct levels under and over 0, ascending
    for (auto* tag : positioned) {
        int z = tag->*member(ZIndexTag{});
        if (z < 0) below.push_back(z);
        if (z > 0) above.push_back(z);
    }
    auto distinct = [](std::vector<int>& levels) {
        std::sort(levels.begin(), levels.end());
        levels.erase(std::unique(levels.begin(), levels.end()), levels.end());
    };
    distinct(below);
    distinct(above);
    if (below.size() + above.size() < kMaxZIndexLevels) return;
    // Each side keeps its sign (what draws under the page's blocks stays under them) and its
    // order, in half the levels.
    const std::size_t bands = kMaxZIndexLevels / 2;
    for (auto* tag : positioned) {
        int& z = tag->*member(ZIndexTag{});
        if (z < 0) {
            std::size_t fromTop =
                std::size_t(below.end() - std::lower_bound(below.begin(), below.end(), z)) - 1;
            z = -1 - int(fromTop * bands / below.size());
        } else if (z > 0) {
            std::size_t rank = std::size_t(std::lower_bound(above.begin(), above.end(), z) - above.begin());
            z = 1 + int(rank * bands / above.size());
        }
    }
}

}  // namespace

class WebContainer final : public litehtml::document_container {
  public:
    WebContainer(const std::string& baseURL, WebDocument::Resources resources)
        : resources_(std::move(resources)) {
        if (auto url = NSURL::URLWithString(cleanReference(baseURL)); url && url->scheme())
            baseURL_ = baseURL;
        documentBaseURL_ = baseURL_;
    }

    ~WebContainer() {
        document_.reset();  // fonts go through delete_font
        for (auto& [url, surface] : surfaces_) cairo_surface_destroy(surface);
        for (auto& [url, reduced] : reduced_) cairo_surface_destroy(reduced.surface);
    }

    void load(const std::string& html) {
        WebPageSourceInfo info;
        std::string source = boundedPageSource(html, {}, &info, &styleState_);
        textPieces_ = wordsSeen_ = wordPieces_ = 0;
        layoutBounded_ = false;
        wordsPerPiece_ =
            std::clamp(double(info.textPieces) / double(kTextPieceBudget), 1.0, kMaxWordsPerPiece);
        // One budget for every page: a forum thread of 30,000 elements under a thousand-rule site
        // sheet takes about a tenth of it.
        matching_ = makeElementMatching(kDefaultMatchingStepsPerPass);
        try {
            document_ = litehtml::document::createFromUTF8(source.c_str(), this, &sharedContext());
            if (document_ && document_->root()) boundShrinkToFitNesting(document_->root());
        } catch (...) {
            document_.reset();
        }
        if (!document_) {
            try {
                document_ = litehtml::document::createFromUTF8("", this, &sharedContext());
            } catch (...) {
            }
        }
    }

    CGSize layout(CGFloat width) {
        double w = std::isfinite(width) ? std::clamp(width, 1.0, double(kMaxLayoutWidth)) : 1.0;
        int px = std::max(1, int(std::lround(w)));
        // Pictures are asked for again: missing ones may be in, others decoded larger.
        images_.clear();
        naturalSizes_.clear();
        pictureBoxes_.clear();
        if (!document_) return CGSizeMake(w, 1);
        if (px != width_) {
            width_ = px;
            // Styled again when the page's media queries answer otherwise at this width.
            if (document_->media_changed()) layoutBounded_ = false;
        }
        try {
            if (!layoutBounded_) {
                if (auto root = document_->root()) boundLayoutWork(root, lists_);
                layoutBounded_ = true;
            }
            document_->render(px);
            if (widestWord_ > px / 2 && breakOverlongWords()) document_->render(px);
            numberLists(lists_);
        } catch (...) {
        }
        laidOut_ = true;
        measurePictureBoxes();
        double height = std::max(1, document_->height());
        return CGSizeMake(std::max(w, double(document_->width())), height);
    }

    void draw(cairo_t* cr, CGRect rect) {
        if (!cr || cairo_status(cr) != CAIRO_STATUS_SUCCESS) return;
        if (!(rect.size.width > 0 && rect.size.height > 0) || !std::isfinite(rect.origin.x) ||
            !std::isfinite(rect.origin.y) || !std::isfinite(rect.size.width) ||
            !std::isfinite(rect.size.height))
            return;
        cairo_save(cr);
        cairo_rectangle(cr, rect.origin.x, rect.origin.y, rect.size.width, rect.size.height);
        cairo_clip(cr);
        if (auto canvas = canvasColor()) {
            auto c = canvas->CGColor()->rgba();
            cairo_set_source_rgba(cr, c[0], c[1], c[2], c[3]);
            cairo_paint(cr);
        }
        if (document_ && laidOut_) {
            auto toInt = [](double v) { return int(std::clamp(v, -1e9, 1e9)); };
            drawRect_ = rect;
            drawArea_ = litehtml::position(toInt(std::floor(rect.origin.x)), toInt(std::floor(rect.origin.y)),
                                           toInt(std::ceil(rect.size.width)) + 1,
                                           toInt(std::ceil(rect.size.height)) + 1);
            cr_ = cr;
            clipDepth_ = 0;
            try {
                document_->draw(reinterpret_cast<litehtml::uint_ptr>(cr), 0, 0, &drawArea_);
            } catch (...) {
            }
            for (; clipDepth_ > 0; --clipDepth_) cairo_restore(cr);
            cr_ = nullptr;
        }
        cairo_restore(cr);
    }

    Ref<UIColor> canvasColor() const {
        if (!document_) return nullptr;
        litehtml::element::ptr root = document_->root();
        if (!root) return nullptr;
        auto colorOf = [](const litehtml::element::ptr& el) -> Ref<UIColor> {
            if (!el) return nullptr;
            const litehtml::background* bg = el->get_background(true);
            if (!bg || bg->m_color.alpha == 0) return nullptr;
            const auto& c = bg->m_color;
            return UIColor::colorWithRed(c.red / 255.0, c.green / 255.0, c.blue / 255.0, c.alpha / 255.0);
        };
        if (auto c = colorOf(root)) return c;
        for (std::size_t i = 0; i < root->get_children_count(); ++i) {
            auto child = root->get_child(int(i));
            if (child && child->get_tagName() && std::string(child->get_tagName()) == "body")
                return colorOf(child);
        }
        return nullptr;
    }

    std::optional<std::string> linkAt(CGPoint point) const {
        if (!document_ || !laidOut_ || !std::isfinite(point.x) || !std::isfinite(point.y))
            return std::nullopt;
        auto root = document_->root();
        if (!root || std::abs(point.x) > 1e9 || std::abs(point.y) > 1e9) return std::nullopt;
        int x = int(std::floor(point.x)), y = int(std::floor(point.y));
        for (auto el = root->get_element_by_point(x, y, x, y); el; el = el->parent()) {
            const char* tag = el->get_tagName();
            if (!tag || std::string(tag) != "a") continue;
            const char* href = el->get_attr("href");
            if (!href) continue;
            auto url = resolveLink(href);
            if (url) return url;
            return std::nullopt;
        }
        return std::nullopt;
    }

    const std::vector<std::string>& stylesheetURLs() const { return stylesheetURLs_; }
    const std::vector<std::string>& imageURLs() const { return imageURLs_; }
    const std::map<std::string, WebDocument::PictureBox>& pictureBoxes() const { return pictureBoxes_; }

    // What is kept of a picture's pixels for drawing is let go (see WebDocument::pictureChanged).
    void pictureChanged(const std::string& outside) {
        auto key = dataKeys_.find(std::string_view(outside));
        const std::string url = key != dataKeys_.end() ? key->second : outside;
        images_.erase(url);
        naturalSizes_.erase(url);
        if (auto found = surfaces_.find(url); found != surfaces_.end()) {
            cairo_surface_destroy(found->second);
            surfaces_.erase(found);
        }
        if (auto found = reduced_.find(url); found != reduced_.end()) {
            cairo_surface_destroy(found->second.surface);
            reduced_.erase(found);
        }
    }

    // ------------------------------------------------------------------------------------------
    // The engine's calls.

    litehtml::uint_ptr create_font(const litehtml::tchar_t* faceName, int size, int weight,
                                   litehtml::font_style italic, unsigned int decoration,
                                   litehtml::font_metrics* fm) override {
        auto font = std::make_unique<WebFont>();
        FontFaceKey key{isMonospaceFamily(faceName ? faceName : ""), weight >= 600,
                        italic == litehtml::fontStyleItalic, std::clamp(size, 1, kMaxFontSize)};
        font->face = fontFace(key);
        font->decoration = decoration;
        const WebFontFace& face = *font->face;
        if (fm) {
            fm->ascent = face.ascent;
            fm->descent = face.descent;
            fm->height = face.ascent + face.descent;
            fm->x_height = std::max(1, face.xHeight);
            fm->draw_spaces = decoration != litehtml::font_decoration_none;
        }
        return reinterpret_cast<litehtml::uint_ptr>(font.release());
    }

    void delete_font(litehtml::uint_ptr hFont) override { delete reinterpret_cast<WebFont*>(hFont); }

    int text_width(const litehtml::tchar_t* text, litehtml::uint_ptr hFont) override {
        auto* font = reinterpret_cast<WebFont*>(hFont);
        if (!font || !text || !*text) return 0;
        WebFontFace& face = *font->face;
        std::string key(text);
        if (auto found = face.widths.find(key); found != face.widths.end()) return found->second;
        std::string valid = validUTF8(text);
        double width = 0;
        for (std::string_view run : runsOf(valid)) width += runWidth(face, run);
        int result = int(std::min(std::ceil(width), double(std::numeric_limits<int>::max() / 4)));
        if (face.widths.size() >= kMaxCachedWidths) face.widths.clear();
        face.widths.emplace(std::move(key), result);
        widestWord_ = std::max(widestWord_, result);
        return result;
    }

    // The width of text of at most a run's length, in points.
    static double runWidth(const WebFontFace& face, std::string_view run) {
        double width = 0;
        withRealPangoContext([&](PangoContext*) {
            pango_layout_set_text(face.layout, run.data(), int(run.size()));
            PangoRectangle logical;
            pango_layout_get_extents(face.layout, nullptr, &logical);
            width = logical.width / double(PANGO_SCALE);
        });
        return width;
    }

    void draw_text(litehtml::uint_ptr hdc, const litehtml::tchar_t* text, litehtml::uint_ptr hFont,
                   litehtml::web_color color, const litehtml::position& pos) override {
        auto* cr = reinterpret_cast<cairo_t*>(hdc);
        auto* font = reinterpret_cast<WebFont*>(hFont);
        if (!cr || !font || !text || !*text || color.alpha == 0) return;
        if (!intersectsDrawArea(pos)) return;
        std::string valid = validUTF8(text);
        const WebFontFace& face = *font->face;
        cairo_save(cr);
        setColor(cr, color);
        double baseline = pos.y + face.ascent;
        double x = pos.x;
        // A long word a run at a time, each drawn only where it meets the area drawn.
        auto runs = runsOf(valid);
        for (std::string_view run : runs) {
            if (runs.size() > 1) {
                if (x > drawArea_.x + drawArea_.width) break;
                double w = runWidth(face, run);
                if (x + w < drawArea_.x) {
                    x += w;
                    continue;
                }
            }
            withRealPangoContext([&](PangoContext*) {
                pango_layout_set_text(face.layout, run.data(), int(run.size()));
                PangoLayoutLine* line = pango_layout_get_line_readonly(face.layout, 0);
                if (!line) return;
                PangoRectangle logical;
                pango_layout_line_get_extents(line, nullptr, &logical);
                cairo_move_to(cr, x - logical.x / double(PANGO_SCALE), baseline);
                pango_cairo_show_layout_line(cr, line);
                x += logical.width / double(PANGO_SCALE);
            });
        }
        double from = clampX(pos.x), width = std::max(0.0, clampX(x) - from);
        if (font->decoration & litehtml::font_decoration_underline)
            cairo_rectangle(cr, from, baseline - face.underlinePosition, width, face.underlineThickness);
        if (font->decoration & litehtml::font_decoration_linethrough)
            cairo_rectangle(cr, from, baseline - face.strikePosition, width, face.strikeThickness);
        if (font->decoration & litehtml::font_decoration_overline)
            cairo_rectangle(cr, from, pos.y, width, face.underlineThickness);
        cairo_fill(cr);
        cairo_restore(cr);
    }

    int pt_to_px(int pt) const override { return int(std::lround(pt * 96.0 / 72.0)); }
    int get_default_font_size() const override { return 16; }
    const litehtml::tchar_t* get_default_font_name() const override { return "sans-serif"; }

    void draw_list_marker(litehtml::uint_ptr hdc, const litehtml::list_marker& marker) override {
        auto* cr = reinterpret_cast<cairo_t*>(hdc);
        if (!cr || !intersectsDrawArea(marker.pos)) return;
        if (!marker.image.empty()) {
            if (auto url = resolvePicture(marker.image.c_str(), marker.baseurl)) {
                litehtml::background_paint bg;
                bg.image = *url;
                bg.clip_box = bg.origin_box = bg.border_box = marker.pos;
                bg.image_size.width = marker.pos.width;
                bg.image_size.height = marker.pos.height;
                bg.position_x = marker.pos.x;
                bg.position_y = marker.pos.y;
                bg.repeat = litehtml::background_repeat_no_repeat;
                if (drawImage(cr, *url, bg)) return;
            }
        }
        cairo_save(cr);
        setColor(cr, marker.color);
        const auto& p = marker.pos;
        double cx = p.x + p.width / 2.0, cy = p.y + p.height / 2.0, r = std::min(p.width, p.height) / 2.0;
        switch (marker.marker_type) {
            case litehtml::list_style_type_none:
                break;
            case litehtml::list_style_type_circle:
                cairo_set_line_width(cr, 1);
                cairo_arc(cr, cx, cy, std::max(0.0, r - 0.5), 0, 2 * M_PI);
                cairo_stroke(cr);
                break;
            case litehtml::list_style_type_square:
                cairo_rectangle(cr, p.x, p.y, p.width, p.height);
                cairo_fill(cr);
                break;
            default:
                cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
                cairo_fill(cr);
                break;
        }
        cairo_restore(cr);
    }

    void load_image(const litehtml::tchar_t* src, const litehtml::tchar_t* baseurl, bool) override {
        if (!src) return;
        if (auto url = resolvePicture(src, baseurl)) image(*url);
    }

    void get_image_size(const litehtml::tchar_t* src, const litehtml::tchar_t* baseurl,
                        litehtml::size& sz) override {
        sz.width = sz.height = 0;
        if (!src) return;
        auto url = resolvePicture(src, baseurl);
        if (!url) return;
        auto picture = image(*url);
        // The natural size, not the decode's: a picture decoded for a small box, or not decoded
        // yet, lays out as large as it is where the page gives it no size.
        double w = 0, h = 0;
        if (auto natural = naturalSize(*url)) {
            w = natural->width, h = natural->height;
        } else if (picture) {
            w = double(picture->width()), h = double(picture->height());
        } else {
            return;
        }
        constexpr double kMost = std::numeric_limits<int>::max() / 4;
        sz.width = int(std::clamp(w, 0.0, kMost));
        sz.height = int(std::clamp(h, 0.0, kMost));
    }

    // The box each <img> picture is laid out in (see WebDocument::PictureBox).
    void measurePictureBoxes() {
        pictureBoxes_.clear();
        // A page without pictures is not walked.
        litehtml::element::ptr root = document_ && !imageURLs_.empty() ? document_->root() : nullptr;
        if (!root) return;
        forEachElement(root, [&](const litehtml::element::ptr& el) {
            const char* tag = el->get_tagName();
            if (!tag || std::strcmp(tag, "img") != 0) return;
            const char* src = el->get_attr("src");
            if (!src) return;
            auto url = resolvePicture(src, nullptr);
            if (!url) return;
            const litehtml::position& box = el->get_position();
            const bool sizedWidth = !el->get_css_width().is_predefined() && box.width > 0;
            const bool sizedHeight = !el->get_css_height().is_predefined() && box.height > 0;
            WebDocument::PictureBox& known = pictureBoxes_[outsideURL(*url)];
            if (sizedWidth) known.width = std::max<CGFloat>(known.width, box.width);
            if (sizedHeight) known.height = std::max<CGFloat>(known.height, box.height);
            if (!sizedWidth && !sizedHeight) known.ownSize = true;
            // A side the page leaves to the picture: its natural size lays the page out.
            if (el->get_css_width().is_predefined() || el->get_css_height().is_predefined())
                known.sizedByPicture = true;
        });
    }

    void draw_background(litehtml::uint_ptr hdc, const litehtml::background_paint& bg) override {
        auto* cr = reinterpret_cast<cairo_t*>(hdc);
        if (!cr || !intersectsDrawArea(bg.clip_box)) return;
        if (bg.image.empty()) {
            if (bg.color.alpha == 0) return;
            cairo_save(cr);
            clipTo(cr, bg.clip_box, bg.border_radius);
            setColor(cr, bg.color);
            cairo_paint(cr);
            cairo_restore(cr);
            return;
        }
        if (auto url = resolvePicture(bg.image.c_str(), bg.baseurl.c_str())) drawImage(cr, *url, bg);
    }

    void draw_borders(litehtml::uint_ptr hdc, const litehtml::borders& borders, const litehtml::position& pos,
                      bool) override {
        auto* cr = reinterpret_cast<cairo_t*>(hdc);
        if (!cr || !intersectsDrawArea(pos)) return;
        auto visible = [](const litehtml::border& b) {
            return b.width > 0 && b.style != litehtml::border_style_none &&
                   b.style != litehtml::border_style_hidden && b.color.alpha > 0;
        };
        const litehtml::border* sides[4] = {&borders.top, &borders.right, &borders.bottom, &borders.left};
        if (!std::any_of(sides, sides + 4, [&](const litehtml::border* b) { return visible(*b); })) return;
        double x = clampX(pos.x), y = clampY(pos.y);
        double r = clampX(double(pos.x) + pos.width), b = clampY(double(pos.y) + pos.height);
        double w = r - x, h = b - y;
        if (w <= 0 || h <= 0) return;
        auto width = [&](const litehtml::border& side, double limit) {
            return visible(side) ? std::min<double>(side.width, limit) : 0.0;
        };
        double top = width(borders.top, h), right = width(borders.right, w),
               bottom = width(borders.bottom, h), left = width(borders.left, w);
        litehtml::border_radiuses inner = borders.radius;
        inner.top_left_x -= int(left), inner.top_left_y -= int(top);
        inner.top_right_x -= int(right), inner.top_right_y -= int(top);
        inner.bottom_right_x -= int(right), inner.bottom_right_y -= int(bottom);
        inner.bottom_left_x -= int(left), inner.bottom_left_y -= int(bottom);
        inner.fix_values();
        // Each side paints the ring within its own trapezoid, from the outer corners to the inner.
        double ix = x + left, iy = y + top, ir = r - right, ib = b - bottom;
        double corners[4][8] = {{x, y, r, y, ir, iy, ix, iy},
                                {r, y, r, b, ir, ib, ir, iy},
                                {r, b, x, b, ix, ib, ir, ib},
                                {x, b, x, y, ix, iy, ix, ib}};
        for (int s = 0; s < 4; ++s) {
            if (!visible(*sides[s])) continue;
            cairo_save(cr);
            const double* c = corners[s];
            cairo_move_to(cr, c[0], c[1]);
            cairo_line_to(cr, c[2], c[3]);
            cairo_line_to(cr, c[4], c[5]);
            cairo_line_to(cr, c[6], c[7]);
            cairo_close_path(cr);
            cairo_clip(cr);
            cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
            roundedRectangle(cr, x, y, w, h, borders.radius);
            roundedRectangle(cr, ix, iy, ir - ix, ib - iy, inner);
            setColor(cr, sides[s]->color);
            cairo_fill(cr);
            cairo_restore(cr);
        }
    }

    void set_caption(const litehtml::tchar_t*) override {}

    void set_base_url(const litehtml::tchar_t* base_url) override {
        if (!base_url) return;
        if (auto url = resolveReference(base_url, documentBaseURL_, false)) baseURL_ = *url;
    }

    void link(const std::shared_ptr<litehtml::document>&, const litehtml::element::ptr&) override {}
    void on_anchor_click(const litehtml::tchar_t*, const litehtml::element::ptr&) override {}
    void set_cursor(const litehtml::tchar_t*) override {}

    void transform_text(litehtml::tstring& text, litehtml::text_transform tt) override {
        icu::UnicodeString s = icu::UnicodeString::fromUTF8(text);
        switch (tt) {
            case litehtml::text_transform_uppercase:
                s.toUpper();
                break;
            case litehtml::text_transform_lowercase:
                s.toLower();
                break;
            case litehtml::text_transform_capitalize: {
                // The first letter of the word (the engine hands words one at a time).
                if (s.length() > 0) {
                    icu::UnicodeString head(s, 0, s.moveIndex32(0, 1));
                    icu::UnicodeString tail(s, s.moveIndex32(0, 1));
                    head.toUpper();
                    s = head + tail;
                }
                break;
            }
            default:
                return;
        }
        text.clear();
        s.toUTF8String(text);
    }

    // Words for line breaking: Latin words end at spaces; Chinese and Japanese text may break
    // between any two characters, except before closing punctuation (a line never starts with
    // "，" or "？") and after opening punctuation.
    void split_text(const char* text, const std::function<void(const litehtml::tchar_t*)>& on_word,
                    const std::function<void(const litehtml::tchar_t*)>& on_space) override {
        if (!text || textPieces_ >= kMaxTextPieces) return;
        std::string valid = validUTF8(text);
        std::string word;
        bool breakAfter = false, afterOpening = false;
        // mayJoin: the word may be kept to go with the next one (see wordsPerPiece_). Words are
        // joined on their own count, never the spaces' (a page indented with white space would
        // otherwise join its words into pieces no line breaks), and at most as many as the page's
        // rate rounded up go in one piece.
        const int mostJoined = int(std::ceil(wordsPerPiece_));
        int joined = 0;
        auto flush = [&](bool mayJoin = false) {
            if (word.empty()) return;
            ++wordsSeen_;
            ++joined;
            if (mayJoin && joined < mostJoined &&
                double(wordsSeen_) < double(wordPieces_ + 1) * wordsPerPiece_)
                return;
            if (textPieces_ < kMaxTextPieces) {
                ++textPieces_;
                ++wordPieces_;
                on_word(word.c_str());
            }
            word.clear();
            joined = 0;
        };
        for (const char* p = valid.c_str(); *p && textPieces_ < kMaxTextPieces;) {
            const char* next = g_utf8_next_char(p);
            gunichar c = g_utf8_get_char(p);
            std::string bytes(p, next);
            p = next;
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
                // A lone space after a word goes with the word: half the pieces of ordinary text,
                // each of which costs the engine an element of its own. Runs of white space stay
                // pieces of their own, for the engine to collapse or keep.
                if (c == ' ' && !word.empty() && !isWhiteSpace(*p)) {
                    word += ' ';
                    flush(true);
                    breakAfter = afterOpening = false;
                    continue;
                }
                flush();
                if (textPieces_ >= kMaxTextPieces) break;
                ++textPieces_;
                on_space(bytes.c_str());
                breakAfter = afterOpening = false;
                continue;
            }
            auto lb = static_cast<ULineBreak>(u_getIntPropertyValue(UChar32(c), UCHAR_LINE_BREAK));
            int eaw = u_getIntPropertyValue(UChar32(c), UCHAR_EAST_ASIAN_WIDTH);
            bool wide = eaw == U_EA_WIDE || eaw == U_EA_FULLWIDTH;
            switch (lb) {
                case U_LB_CLOSE_PUNCTUATION:
                case U_LB_CLOSE_PARENTHESIS:
                case U_LB_EXCLAMATION:
                case U_LB_INFIX_NUMERIC:
                case U_LB_NONSTARTER:
                case U_LB_CONDITIONAL_JAPANESE_STARTER:
                    word += bytes;
                    breakAfter = wide;
                    afterOpening = false;
                    break;
                case U_LB_OPEN_PUNCTUATION:
                    if (breakAfter) flush(true);
                    word += bytes;
                    breakAfter = false;
                    afterOpening = true;
                    break;
                case U_LB_IDEOGRAPHIC:
                case U_LB_H2:
                case U_LB_H3:
                case U_LB_JL:
                case U_LB_JV:
                case U_LB_JT:
                    if (!afterOpening) flush(true);
                    word += bytes;
                    breakAfter = true;
                    afterOpening = false;
                    break;
                default:
                    if (breakAfter) flush(true);
                    word += bytes;
                    breakAfter = false;
                    afterOpening = false;
                    break;
            }
        }
        flush();
    }

    void import_css(litehtml::tstring& text, const litehtml::tstring& url,
                    litehtml::tstring& baseurl) override {
        text.clear();
        // An @import of a bare string reaches here with its quotes.
        std::string reference = url;
        while (!reference.empty() &&
               (reference.back() == ' ' || reference.back() == '"' || reference.back() == '\''))
            reference.pop_back();
        std::size_t from = reference.find_first_not_of(" \"'");
        reference = from == std::string::npos ? std::string() : reference.substr(from);
        auto absolute = resolve(reference.c_str(), baseurl.c_str());
        if (!absolute) return;
        if (std::find(stylesheetURLs_.begin(), stylesheetURLs_.end(), *absolute) == stylesheetURLs_.end())
            stylesheetURLs_.push_back(*absolute);
        // Each sheet once: a sheet that imports itself, directly or through others, stops there.
        if (!importedSheets_.insert(*absolute).second || importedSheets_.size() > kMaxStylesheets) return;
        if (!resources_.stylesheet) return;
        std::optional<std::string> css = resources_.stylesheet(*absolute);
        if (!css) return;
        std::size_t room =
            kMaxStylesheetBytes > stylesheetBytes_ ? kMaxStylesheetBytes - stylesheetBytes_ : 0;
        WebStyleSheetLimits limits;
        limits.maxBytes = room;
        limits.maxRules = stylesheetRulesLeft_;
        WebStyleSheetInfo sheet;
        text = boundedStyleSheet(*css, limits, &sheet, &styleState_);
        stylesheetBytes_ += std::min(css->size(), room);
        stylesheetRulesLeft_ -= std::min(stylesheetRulesLeft_, sheet.rules);
        baseurl = *absolute;
    }

    void set_clip(const litehtml::position& pos, const litehtml::border_radiuses& radius, bool valid_x,
                  bool valid_y) override {
        if (!cr_) return;
        cairo_save(cr_);
        ++clipDepth_;
        double x = valid_x ? clampX(pos.x) : clampX(-1e9),
               r = valid_x ? clampX(double(pos.x) + pos.width) : clampX(1e9);
        double y = valid_y ? clampY(pos.y) : clampY(-1e9),
               b = valid_y ? clampY(double(pos.y) + pos.height) : clampY(1e9);
        if (r <= x || b <= y) {
            cairo_rectangle(cr_, 0, 0, 0, 0);
        } else {
            roundedRectangle(cr_, x, y, r - x, b - y, radius);
        }
        cairo_clip(cr_);
    }

    void del_clip() override {
        if (!cr_ || clipDepth_ == 0) return;
        cairo_restore(cr_);
        --clipDepth_;
    }

    void get_client_rect(litehtml::position& client) const override {
        client = litehtml::position(0, 0, width_, viewportHeight());
    }

    // Elements whose selector matching is bounded (see WebElementMatching.h).
    std::shared_ptr<litehtml::element>
    create_element(const litehtml::tchar_t* tag, const litehtml::string_map&,
                   const std::shared_ptr<litehtml::document>& doc) override {
        return createMatchedElement(tag, doc, matching_);
    }

    void get_media_features(litehtml::media_features& media) const override {
        media.type = litehtml::media_type_screen;
        media.width = media.device_width = width_;
        media.height = media.device_height = viewportHeight();
        media.color = 8;
        media.color_index = 0;
        media.monochrome = 0;
        media.resolution = 96;
    }

    void get_language(litehtml::tstring& language, litehtml::tstring& culture) const override {
        language = "zh";
        culture = "zh-CN";
    }

  private:
    // The page is shown in a phone-shaped view whose height the document does not know.
    int viewportHeight() const { return std::max(1, width_ * 16 / 9); }

    // Whether a box shows in the area drawn at all (not only in the margin drawArea_ keeps).
    bool showsInDrawRect(const litehtml::position& p) const {
        if (!cr_) return true;
        const double left = drawRect_.origin.x, top = drawRect_.origin.y;
        const double right = left + drawRect_.size.width, bottom = top + drawRect_.size.height;
        const double x = p.x, y = p.y;
        return x < right && x + p.width > left && y < bottom && y + p.height > top;
    }

    bool intersectsDrawArea(const litehtml::position& p) const {
        if (!cr_) return true;
        return double(p.x)<double(drawArea_.x) + drawArea_.width&& double(p.x) + p.width> drawArea_.x &&
               double(p.y)<double(drawArea_.y) + drawArea_.height&& double(p.y) + p.height> drawArea_.y;
    }

    // Coordinates handed to cairo stay near the area drawn: far ones overflow its fixed point.
    double clampX(double v) const {
        return std::clamp(v, double(drawArea_.x) - 10000.0, double(drawArea_.x) + drawArea_.width + 10000.0);
    }
    double clampY(double v) const {
        return std::clamp(v, double(drawArea_.y) - 10000.0, double(drawArea_.y) + drawArea_.height + 10000.0);
    }

    void clipTo(cairo_t* cr, const litehtml::position& box, const litehtml::border_radiuses& radius) {
        double x = clampX(box.x), y = clampY(box.y);
        double r = clampX(double(box.x) + box.width), b = clampY(double(box.y) + box.height);
        if (r <= x || b <= y)
            cairo_rectangle(cr, 0, 0, 0, 0);
        else
            roundedRectangle(cr, x, y, r - x, b - y, radius);
        cairo_clip(cr);
    }

    std::optional<std::string> resolve(const char* reference, const char* baseurl) const {
        return resolveResource(reference, baseurl && *baseurl ? std::string(baseurl) : baseURL_);
    }

    // A picture's URL as the renderer keys it: a data: URL keeps the key it was written as (or,
    // written as it came, its own text, trimmed), never resolved against the base.
    std::optional<std::string> resolvePicture(const char* reference, const char* baseurl) const {
        if (!reference) return std::nullopt;
        if (styleState_.dataURL(reference)) return std::string(reference);
        std::string_view ref(reference);
        while (!ref.empty() && static_cast<unsigned char>(ref.front()) <= ' ') ref.remove_prefix(1);
        while (!ref.empty() && static_cast<unsigned char>(ref.back()) <= ' ') ref.remove_suffix(1);
        if (ref.size() > 5 && lowercase(std::string(ref.substr(0, 5))) == "data:") return std::string(ref);
        return resolve(reference, baseurl);
    }

    // The URL a picture is known by outside: a data: URL whole.
    const std::string& outsideURL(const std::string& url) const {
        const std::string* data = styleState_.dataURL(url);
        return data ? *data : url;
    }

    std::optional<std::string> resolveLink(const char* href) const {
        std::string ref = cleanReference(href);
        if (ref.empty()) return std::nullopt;
        Ref<NSURL> base = baseURL_.empty() ? nullptr : NSURL::URLWithString(baseURL_);
        Ref<NSURL> url = base ? NSURL::URLWithString(ref, base) : NSURL::URLWithString(ref);
        if (!url || !url->scheme() || lowercase(*url->scheme()) == "javascript") return std::nullopt;
        return url->absoluteString();
    }

    // Words wider than their line where the page's styles let words break (word-break,
    // overflow-wrap) are cut into pieces that fit it, each an element of the engine's own text,
    // so that the engine breaks the line between them. Answers whether any was cut.
    bool breakOverlongWords() {
        auto root = document_->root();
        if (!root) return false;
        bool cut = false;
        for (const auto& [el, line] : overlongTextPieces(root)) {
            auto parent = el->parent();
            auto* font = reinterpret_cast<WebFont*>(el->get_font());
            if (!parent || !font || line <= 0) continue;
            std::string text;
            el->get_text(text);
            std::vector<std::string> pieces;
            std::string piece;
            double width = 0;
            const char* p = text.c_str();
            while (*p && textPieces_ < kMaxTextPieces) {
                const char* next = g_utf8_next_char(p);
                while (*next && !cutsBefore(next)) next = g_utf8_next_char(next);
                std::string character(p, next);
                double w = text_width(character.c_str(), el->get_font());
                if (!piece.empty() && width + w > line) {
                    pieces.push_back(std::move(piece));
                    piece.clear();
                    width = 0;
                    ++textPieces_;
                }
                piece += character;
                width += w;
                p = next;
            }
            if (!piece.empty()) pieces.push_back(std::move(piece));
            if (pieces.size() < 2) continue;
            auto& children = parent.get()->*member(ChildrenTag{});
            auto at = std::find(children.begin(), children.end(), el);
            if (at == children.end()) continue;
            litehtml::elements_vector made;
            for (const auto& text : pieces) {
                auto made1 = std::make_shared<litehtml::el_text>(text.c_str(), document_);
                made1->parent(parent);
                made1->parse_styles(false);
                made.push_back(made1);
            }
            at = children.erase(at);
            children.insert(at, made.begin(), made.end());
            cut = true;
        }
        return cut;
    }

    // The face for a key, loaded once per page; past kMaxFontFaces, the nearest size loaded in the
    // same family, weight and slant (or in any, when none is).
    std::shared_ptr<WebFontFace> fontFace(const FontFaceKey& key) {
        if (auto found = faces_.find(key); found != faces_.end()) return found->second;
        if (faces_.size() >= kMaxFontFaces) {
            auto [mono, bold, italic, size] = key;
            std::shared_ptr<WebFontFace> nearest;
            int best = std::numeric_limits<int>::max();
            bool bestSameStyle = false;
            for (const auto& [other, face] : faces_) {
                bool sameStyle =
                    std::get<0>(other) == mono && std::get<1>(other) == bold && std::get<2>(other) == italic;
                int distance = std::abs(std::get<3>(other) - size);
                if ((sameStyle && !bestSameStyle) || (sameStyle == bestSameStyle && distance < best)) {
                    nearest = face;
                    best = distance;
                    bestSameStyle = sameStyle;
                }
            }
            return nearest;
        }
        auto face = std::make_shared<WebFontFace>();
        auto [mono, bold, italic, size] = key;
        UIFont described(mono ? UIFont::Family::Courier : UIFont::Family::System, size,
                         bold ? UIFontWeightBold : UIFontWeightRegular, italic);
        face->description = realFontDescription(described);
        withRealPangoContext([&](PangoContext* context) {
            face->layout = pango_layout_new(context);
            pango_layout_set_font_description(face->layout, face->description);
            PangoFontMetrics* m = pango_context_get_metrics(context, face->description, nullptr);
            face->ascent = int(std::ceil(pango_font_metrics_get_ascent(m) / double(PANGO_SCALE)));
            face->descent = int(std::ceil(pango_font_metrics_get_descent(m) / double(PANGO_SCALE)));
            face->underlinePosition = pango_font_metrics_get_underline_position(m) / double(PANGO_SCALE);
            face->underlineThickness =
                std::max(1.0, pango_font_metrics_get_underline_thickness(m) / double(PANGO_SCALE));
            face->strikePosition = pango_font_metrics_get_strikethrough_position(m) / double(PANGO_SCALE);
            face->strikeThickness =
                std::max(1.0, pango_font_metrics_get_strikethrough_thickness(m) / double(PANGO_SCALE));
            pango_font_metrics_unref(m);
            pango_layout_set_text(face->layout, "x", 1);
            PangoRectangle ink;
            pango_layout_get_extents(face->layout, &ink, nullptr);
            face->xHeight = int(std::lround(ink.height / double(PANGO_SCALE)));
        });
        faces_.emplace(key, face);
        return face;
    }

    // The URL listed among the page's pictures, once, in the order first asked.
    const std::string& listPicture(const std::string& url) {
        const std::string& outside = outsideURL(url);
        if (askedImages_.insert(url).second) {
            imageURLs_.push_back(outside);
            // The data: URL's text lives as long as the page's state: its key is found from it.
            if (&outside != &url) dataKeys_.emplace(std::string_view(outside), url);
        }
        return outside;
    }

    // The picture at an absolute URL as layout sees it, asked for once per layout.
    Ref<CGImage> image(const std::string& url) {
        auto found = images_.find(url);
        if (found != images_.end()) return found->second;
        const std::string& outside = listPicture(url);
        Ref<CGImage> picture = resources_.image ? resources_.image(outside) : nullptr;
        images_[url] = picture;
        return picture;
    }

    // The picture as it is now, asked each time it is drawn: one that came or was decoded since
    // the layout shows without another.
    Ref<CGImage> drawnPicture(const std::string& url) {
        const std::string& outside = listPicture(url);
        return resources_.image ? resources_.image(outside) : nullptr;
    }

    // The picture's natural size where Resources know it, once per layout.
    std::optional<CGSize> naturalSize(const std::string& url) {
        if (!resources_.imageSize) return std::nullopt;
        auto found = naturalSizes_.find(url);
        if (found != naturalSizes_.end()) return found->second;
        std::optional<CGSize> natural = resources_.imageSize(listPicture(url));
        if (natural && !(natural->width >= 1 && natural->height >= 1)) natural.reset();
        naturalSizes_[url] = natural;
        return natural;
    }

    // A cairo surface over the picture's own pixels (no copy for decoded pictures); null when
    // cairo cannot take its size.
    cairo_surface_t* surfaceFor(const std::string& url, const Ref<CGImage>& picture) {
        auto found = surfaces_.find(url);
        if (found != surfaces_.end()) {
            if (found->second && cairo_surface_get_user_data(found->second, &kImageKey) == picture.get())
                return found->second;
            cairo_surface_destroy(found->second);
            surfaces_.erase(found);
            if (auto r = reduced_.find(url); r != reduced_.end()) {
                cairo_surface_destroy(r->second.surface);
                reduced_.erase(r);
            }
        }
        std::size_t w = picture->width(), h = picture->height();
        if (w == 0 || h == 0 || w > 32767 || h > 32767) return nullptr;
        auto* pixels = new NSData(pixelsAsPremultipliedBGRA(*picture));
        if (pixels->length() < w * h * 4) {
            delete pixels;
            return nullptr;
        }
        cairo_surface_t* surface = cairo_image_surface_create_for_data(
            const_cast<unsigned char*>(pixels->bytes()), CAIRO_FORMAT_ARGB32, int(w), int(h), int(w * 4));
        if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(surface);
            delete pixels;
            return nullptr;
        }
        // The surface keeps the pixels alive for as long as cairo holds it.
        cairo_surface_set_user_data(surface, &kPixelsKey, pixels,
                                    [](void* p) { delete static_cast<NSData*>(p); });
        cairo_surface_set_user_data(surface, &kImageKey, picture.get(), nullptr);
        surfaces_[url] = surface;
        return surface;
    }

    // The picture's surface reduced to w x h device pixels, made once per size.
    cairo_surface_t* reducedSurface(const std::string& url, cairo_surface_t* full, int w, int h) {
        auto found = reduced_.find(url);
        if (found != reduced_.end()) {
            if (found->second.source == full && found->second.w == w && found->second.h == h)
                return found->second.surface;
            cairo_surface_destroy(found->second.surface);
            reduced_.erase(found);
        }
        if (reduced_.size() >= kMaxReducedPictures) return nullptr;
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
        if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(surface);
            return nullptr;
        }
        cairo_t* cr = cairo_create(surface);
        cairo_scale(cr, double(w) / cairo_image_surface_get_width(full),
                    double(h) / cairo_image_surface_get_height(full));
        cairo_set_source_surface(cr, full, 0, 0);
        cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
        cairo_paint(cr);
        cairo_destroy(cr);
        reduced_[url] = {full, w, h, surface};
        return surface;
    }

    // Whether the picture was there to draw.
    bool drawImage(cairo_t* cr, const std::string& url, const litehtml::background_paint& bg) {
        // A picture is asked for (and may be decoded for it) only where it shows.
        if (bg.image_size.width <= 0 || bg.image_size.height <= 0 || !showsInDrawRect(bg.clip_box))
            return false;
        Ref<CGImage> picture = drawnPicture(url);
        if (!picture) return false;
        cairo_surface_t* surface = surfaceFor(url, picture);
        if (!surface) return false;
        double sx = double(picture->width()) / bg.image_size.width;
        double sy = double(picture->height()) / bg.image_size.height;
        // A picture shown smaller than its pixels is reduced once to its size on the device and
        // kept: reducing it again on every frame costs more than the rest of the page.
        double dw = bg.image_size.width, dh = bg.image_size.height;
        cairo_user_to_device_distance(cr, &dw, &dh);
        cairo_matrix_t ctm;
        cairo_get_matrix(cr, &ctm);
        long cw = std::lround(std::abs(dw)), ch = std::lround(std::abs(dh));
        if (ctm.xy == 0 && ctm.yx == 0 && cw >= 1 && ch >= 1 && cw <= kMaxReducedSide &&
            ch <= kMaxReducedSide &&
            (std::size_t(cw) < picture->width() || std::size_t(ch) < picture->height())) {
            if (cairo_surface_t* reduced = reducedSurface(url, surface, int(cw), int(ch))) {
                surface = reduced;
                sx = cw / double(bg.image_size.width);
                sy = ch / double(bg.image_size.height);
            }
        }
        cairo_save(cr);
        clipTo(cr, bg.clip_box, bg.border_radius);
        // One tile's strip or rectangle when the picture does not repeat along an axis.
        double px = bg.position_x, py = bg.position_y;
        double tw = bg.image_size.width, th = bg.image_size.height;
        bool repeatX = bg.repeat == litehtml::background_repeat_repeat ||
                       bg.repeat == litehtml::background_repeat_repeat_x;
        bool repeatY = bg.repeat == litehtml::background_repeat_repeat ||
                       bg.repeat == litehtml::background_repeat_repeat_y;
        double x0 = repeatX ? clampX(-1e9) : clampX(px), x1 = repeatX ? clampX(1e9) : clampX(px + tw);
        double y0 = repeatY ? clampY(-1e9) : clampY(py), y1 = repeatY ? clampY(1e9) : clampY(py + th);
        if (x1 <= x0 || y1 <= y0) {
            cairo_restore(cr);
            return true;
        }
        cairo_rectangle(cr, x0, y0, x1 - x0, y1 - y0);
        cairo_clip(cr);
        cairo_pattern_t* pattern = cairo_pattern_create_for_surface(surface);
        cairo_matrix_t m;
        cairo_matrix_init_scale(&m, sx, sy);
        cairo_matrix_translate(&m, -px, -py);
        cairo_pattern_set_matrix(pattern, &m);
        cairo_pattern_set_extend(pattern, repeatX || repeatY ? CAIRO_EXTEND_REPEAT : CAIRO_EXTEND_PAD);
        // Strong reductions sample: the smoothing filter's cost grows with the reduction.
        cairo_pattern_set_filter(pattern, std::max(sx, sy) > 4 ? CAIRO_FILTER_BILINEAR : CAIRO_FILTER_GOOD);
        cairo_set_source(cr, pattern);
        cairo_paint(cr);
        cairo_pattern_destroy(pattern);
        cairo_restore(cr);
        return true;
    }

    static inline cairo_user_data_key_t kPixelsKey;
    static inline cairo_user_data_key_t kImageKey;

    WebDocument::Resources resources_;
    std::string baseURL_;          // <base href> may change it
    std::string documentBaseURL_;  // as given
    std::shared_ptr<litehtml::document> document_;
    std::shared_ptr<ElementMatching> matching_;
    WebPageStyleState styleState_;  // custom properties and data: URLs, see WebStyleSheetSource.h
    std::vector<std::string> stylesheetURLs_, imageURLs_;
    std::set<std::string> askedImages_;  // as keyed here, for imageURLs_
    std::set<std::string> importedSheets_;
    std::size_t stylesheetBytes_ = 0;
    std::size_t stylesheetRulesLeft_ = WebStyleSheetLimits{}.maxRules;  // shared by every linked sheet
    std::map<std::string, Ref<CGImage>> images_;
    std::map<std::string, std::optional<CGSize>> naturalSizes_;
    // The key each data: picture is written as, by its URL (the text the page's state keeps).
    std::unordered_map<std::string_view, std::string> dataKeys_;
    std::map<std::string, WebDocument::PictureBox> pictureBoxes_;
    std::map<std::string, cairo_surface_t*> surfaces_;
    struct Reduced {
        cairo_surface_t* source;
        int w, h;
        cairo_surface_t* surface;
    };
    std::map<std::string, Reduced> reduced_;
    std::map<FontFaceKey, std::shared_ptr<WebFontFace>> faces_;
    // The elements holding list items, and whether the layout bounds hold for the page as last
    // styled (see boundLayoutWork).
    std::vector<litehtml::element::ptr> lists_;
    bool layoutBounded_ = false;
    std::size_t textPieces_ = 0;
    std::size_t wordsSeen_ = 0;
    std::size_t wordPieces_ = 0;  // pieces of words made (of textPieces_)
    int widestWord_ = 0;          // measured so far
    double wordsPerPiece_ = 1;
    int width_ = 0;
    bool laidOut_ = false;
    cairo_t* cr_ = nullptr;
    int clipDepth_ = 0;
    litehtml::position drawArea_;  // the area drawn, rounded out and a little more
    CGRect drawRect_{};            // the area drawn, as asked
};

}  // namespace detail

WebDocument::WebDocument() = default;
WebDocument::~WebDocument() = default;

std::unique_ptr<WebDocument> WebDocument::create(const std::string& html, const std::string& baseURL,
                                                 Resources resources) {
    std::unique_ptr<WebDocument> document(new WebDocument);
    document->container_ = std::make_unique<detail::WebContainer>(baseURL, std::move(resources));
    document->container_->load(html);
    return document;
}

std::vector<std::string> WebDocument::linkedStylesheetURLs(const std::string& html,
                                                           const std::string& baseURL, std::size_t most) {
    const detail::WebPageLinks links = detail::scanPageLinks(html, most);
    // As the document reads its base: only an absolute one is a base at all, and a <base href>
    // is read against it.
    std::string base;
    if (auto url = NSURL::URLWithString(detail::cleanReference(baseURL)); url && url->scheme())
        base = baseURL;
    if (links.base)
        if (auto url = detail::resolveReference(links.base->c_str(), base, false)) base = *url;
    std::vector<std::string> urls;
    std::set<std::string> seen;
    for (const std::string& reference : links.stylesheets) {
        auto url = detail::resolveResource(reference.c_str(), base);
        if (url && seen.insert(*url).second) urls.push_back(std::move(*url));
    }
    return urls;
}

const std::vector<std::string>& WebDocument::stylesheetURLs() const {
    return container_->stylesheetURLs();
}

const std::vector<std::string>& WebDocument::imageURLs() const {
    return container_->imageURLs();
}

CGSize WebDocument::layout(CGFloat width) {
    return container_->layout(width);
}

const std::map<std::string, WebDocument::PictureBox>& WebDocument::pictureBoxes() const {
    return container_->pictureBoxes();
}

void WebDocument::pictureChanged(const std::string& url) {
    container_->pictureChanged(url);
}

void WebDocument::draw(cairo_t* cr, CGRect rect) {
    container_->draw(cr, rect);
}

Ref<UIColor> WebDocument::canvasColor() const {
    return container_->canvasColor();
}

std::optional<std::string> WebDocument::linkAt(CGPoint point) const {
    return container_->linkAt(point);
}
