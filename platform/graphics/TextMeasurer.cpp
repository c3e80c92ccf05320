#include "graphics/TextMeasurer.h"

#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>
#include <unicode/uchar.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstring>
#include <mutex>

namespace {

constexpr CGFloat kEps = 1e-9;
const char* const kEllipsis = "\xE2\x80\xA6";  // U+2026
constexpr char32_t kEllipsisCodePoint = 0x2026;

Ref<UIFont> fontOf(const TextRun& run) {
    static const Ref<UIFont> fallback = UIFont::systemFontOfSize(12);
    return run.font ? run.font : fallback;
}

// Decodes one UTF-8 code point at s[i]; malformed bytes read as U+FFFD, one byte each.
char32_t decodeUTF8(const std::string& s, std::size_t& i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = byte(i);
    if (c < 0x80) {
        ++i;
        return c;
    }
    int extra = (c >= 0xF0 && c < 0xF5) ? 3 : (c >= 0xE0 && c < 0xF0) ? 2 : (c >= 0xC2 && c < 0xE0) ? 1 : -1;
    if (extra < 0) {
        ++i;
        return 0xFFFD;
    }
    char32_t cp = c & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        if (i + k >= s.size() || (byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    i += extra + 1;
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFD;
    return cp;
}

bool isLineBreak(char32_t c) {
    return c == '\n' || c == '\r' || c == 0x2028 || c == 0x2029;
}

// ---------------------------------------------------------------------------------------------
// The deterministic measurer

struct Glyph {
    char32_t cp;
    std::size_t begin, end;  // bytes in the joined text
    int run;
    CGFloat advance;
    bool space;
    bool wide;
    bool lineBreak;
};

CGFloat emAdvance(char32_t c, bool monospaced) {
    if (c == 0x200B || c == 0x200C || c == 0x200D || c == 0xFEFF || (c >= 0xFE00 && c <= 0xFE0F)) return 0;
    int category = u_charType(static_cast<UChar32>(c));
    if (category == U_NON_SPACING_MARK || category == U_ENCLOSING_MARK) return 0;
    if (monospaced) return 0.6;
    if (c == ' ' || c == 0xA0) return 0.25;
    if (c == '\t') return 1.0;
    int width = u_getIntPropertyValue(static_cast<UChar32>(c), UCHAR_EAST_ASIAN_WIDTH);
    if (width == U_EA_WIDE || width == U_EA_FULLWIDTH) return 1.0;
    return 0.5;
}

bool isWide(char32_t c) {
    int width = u_getIntPropertyValue(static_cast<UChar32>(c), UCHAR_EAST_ASIAN_WIDTH);
    return width == U_EA_WIDE || width == U_EA_FULLWIDTH;
}

FontMetrics deterministicMetrics(const UIFont& font) {
    CGFloat em = font.pointSize();
    return FontMetrics{0.95 * em, -0.25 * em, 0, 0.7 * em, 0.5 * em};
}

class DeterministicMeasurer final : public TextMeasurer {
  public:
    FontMetrics metrics(const UIFont& font) const override { return deterministicMetrics(font); }
    bool isDeterministic() const override { return true; }
    TextLayout layout(const TextLayoutRequest& request) const override;
};

struct Line {
    std::size_t begin, end;  // glyph indexes
    std::size_t paragraphEnd;
    int fontRun;  // run whose font sizes an empty line
};

class Builder {
  public:
    explicit Builder(const TextLayoutRequest& request) : request_(request) {
        for (std::size_t r = 0; r < request.runs.size(); ++r) {
            const auto& run = request.runs[r];
            bool mono = fontOf(run)->isMonospaced();
            CGFloat em = fontOf(run)->pointSize();
            std::size_t base = text_.size();
            text_ += run.text;
            std::size_t i = 0;
            while (i < run.text.size()) {
                std::size_t start = i;
                char32_t cp = decodeUTF8(run.text, i);
                if (cp == '\n' && !glyphs_.empty() && glyphs_.back().cp == '\r' &&
                    glyphs_.back().end == base + start) {
                    glyphs_.back().end = base + i;  // CR LF is one break
                    continue;
                }
                Glyph g{cp, base + start, base + i, int(r), 0, false, false, isLineBreak(cp)};
                if (!g.lineBreak) {
                    g.advance = emAdvance(cp, mono) * em + (emAdvance(cp, mono) > 0 ? run.kern : 0);
                    g.space = cp == ' ' || cp == '\t' || cp == 0x3000;
                    g.wide = isWide(cp);
                }
                glyphs_.push_back(g);
            }
        }
    }

    TextLayout build() {
        TextLayout result;
        if (glyphs_.empty()) return result;
        std::vector<Line> lines;
        std::size_t start = 0;
        for (std::size_t i = 0; i <= glyphs_.size(); ++i) {
            if (i == glyphs_.size() || glyphs_[i].lineBreak) {
                if (i == glyphs_.size() && start == i && i > 0) break;  // final line break: no empty line
                int fontRun = i < glyphs_.size() ? glyphs_[i].run : glyphs_[start < i ? start : i - 1].run;
                wrapParagraph(start, i, fontRun, lines);
                start = i + 1;
            }
        }
        // Visible lines.
        std::size_t visible = lines.size();
        if (request_.maxLines > 0) visible = std::min<std::size_t>(visible, request_.maxLines);
        if (std::isfinite(request_.maxHeight)) {
            CGFloat y = 0;
            std::size_t fit = 0;
            for (std::size_t k = 0; k < visible; ++k) {
                y += (k ? request_.lineSpacing : 0) + lineHeight(lines[k]);
                if (y > request_.maxHeight + 1e-6 && k > 0) break;
                fit = k + 1;
            }
            visible = fit;
        }
        result.truncated = visible < lines.size();
        CGFloat y = 0;
        for (std::size_t k = 0; k < visible; ++k) {
            const Line& line = lines[k];
            TextLine out;
            bool last = k + 1 == visible;
            bool hidden = last && visible < lines.size();
            bool truncating = request_.lineBreakMode == NSLineBreakByTruncatingHead ||
                              request_.lineBreakMode == NSLineBreakByTruncatingTail ||
                              request_.lineBreakMode == NSLineBreakByTruncatingMiddle;
            if (last && (hidden || !request_.wraps) &&
                (request_.truncateLastLine || truncating || !request_.wraps)) {
                std::size_t end = hidden ? line.paragraphEnd : line.end;
                CGFloat full = width(line.begin, end, true);
                bool over = std::isfinite(request_.maxWidth) && full > request_.maxWidth + kEps;
                if ((hidden && request_.truncateLastLine) || (over && truncating) ||
                    (over && !request_.wraps && request_.truncateLastLine)) {
                    truncate(line.begin, end, hidden, out);
                    result.truncated = true;
                } else if (over && request_.lineBreakMode == NSLineBreakByClipping) {
                    clip(line.begin, end, out);
                    result.truncated = true;
                } else {
                    plain(line.begin, line.end, out);
                }
            } else {
                plain(line.begin, line.end, out);
            }
            out.height = lineHeight(line);
            out.ascent = lineAscent(line);
            out.y = y;
            y += out.height + (last ? 0 : request_.lineSpacing);
            result.size.width = std::max(result.size.width, out.width);
            result.lines.push_back(std::move(out));
        }
        result.size.height = y;
        return result;
    }

  private:
    CGFloat width(std::size_t b, std::size_t e, bool dropTrailingSpaces) const {
        CGFloat w = 0, trailing = 0;
        for (std::size_t i = b; i < e; ++i) {
            w += glyphs_[i].advance;
            trailing = glyphs_[i].space ? trailing + glyphs_[i].advance : 0;
        }
        return dropTrailingSpaces ? w - trailing : w;
    }

    bool canBreakBefore(std::size_t i, std::size_t b) const {
        if (i <= b) return false;
        const Glyph& g = glyphs_[i];
        const Glyph& prev = glyphs_[i - 1];
        if (g.advance == 0 && !g.space) return false;  // keep marks with their base
        if (request_.lineBreakMode == NSLineBreakByCharWrapping) return true;
        if (prev.space && !g.space) return true;
        if (!g.space && (g.wide || prev.wide)) return true;
        return false;
    }

    void wrapParagraph(std::size_t b, std::size_t e, int fontRun, std::vector<Line>& lines) const {
        bool wrap = request_.wraps && std::isfinite(request_.maxWidth);
        if (!wrap || b == e) {
            lines.push_back({b, e, e, fontRun});
            return;
        }
        std::size_t lineStart = b;
        while (lineStart < e) {
            std::size_t lastBreak = lineStart;
            CGFloat w = 0, trailing = 0;
            std::size_t i = lineStart;
            std::size_t cut = e;
            for (; i < e; ++i) {
                if (canBreakBefore(i, lineStart)) lastBreak = i;
                w += glyphs_[i].advance;
                trailing = glyphs_[i].space ? trailing + glyphs_[i].advance : 0;
                if (w - trailing > request_.maxWidth + kEps && i > lineStart) {
                    cut = lastBreak > lineStart ? lastBreak : i;
                    // Never split a base character from the marks that follow it.
                    while (cut > lineStart + 1 && glyphs_[cut].advance == 0 && !glyphs_[cut].space) --cut;
                    break;
                }
            }
            lines.push_back({lineStart, cut, e, glyphs_[lineStart].run});
            lineStart = cut;
        }
    }

    CGFloat lineHeight(const Line& line) const {
        CGFloat h = 0;
        for (std::size_t i = line.begin; i < line.end; ++i) h = std::max(h, heightOf(glyphs_[i].run));
        return h > 0 ? h : heightOf(line.fontRun);
    }

    CGFloat lineAscent(const Line& line) const {
        CGFloat a = 0;
        for (std::size_t i = line.begin; i < line.end; ++i) {
            a = std::max(a, deterministicMetrics(*fontOf(request_.runs[glyphs_[i].run])).ascender);
        }
        return a > 0 ? a : deterministicMetrics(*fontOf(request_.runs[line.fontRun])).ascender;
    }

    CGFloat heightOf(int run) const {
        auto m = deterministicMetrics(*fontOf(request_.runs[run]));
        CGFloat h = m.ascender - m.descender;
        if (request_.usesFontLeading) h += m.leading;
        return h;
    }

    std::string textOf(std::size_t b, std::size_t e) const {
        if (b >= e) return {};
        return text_.substr(glyphs_[b].begin, glyphs_[e - 1].end - glyphs_[b].begin);
    }

    void plain(std::size_t b, std::size_t e, TextLine& out) const {
        // Trailing spaces hang: dropped from the shown text and the width.
        std::size_t end = e;
        while (end > b && glyphs_[end - 1].space) --end;
        out.text = textOf(b, end);
        out.width = width(b, end, false);
    }

    void clip(std::size_t b, std::size_t e, TextLine& out) const {
        CGFloat w = 0;
        std::size_t i = b;
        while (i < e && w + glyphs_[i].advance <= request_.maxWidth + kEps) w += glyphs_[i++].advance;
        out.text = textOf(b, i);
        out.width = w;
        out.truncated = true;
    }

    CGFloat ellipsisWidth(std::size_t nearGlyph) const {
        const auto& run = request_.runs[glyphs_[nearGlyph].run];
        return emAdvance(kEllipsisCodePoint, fontOf(run)->isMonospaced()) * fontOf(run)->pointSize() +
               run.kern;
    }

    void truncate(std::size_t b, std::size_t e, bool forceEllipsis, TextLine& out) const {
        CGFloat limit =
            std::isfinite(request_.maxWidth) ? request_.maxWidth : std::numeric_limits<CGFloat>::max();
        std::size_t end = e;
        while (end > b && glyphs_[end - 1].space) --end;
        if (!forceEllipsis && width(b, end, false) <= limit + kEps) {
            plain(b, end, out);
            return;
        }
        CGFloat ew = ellipsisWidth(end > b ? end - 1 : b);
        CGFloat room = limit - ew;
        out.truncated = true;
        switch (request_.lineBreakMode) {
            case NSLineBreakByTruncatingHead: {
                CGFloat w = 0;
                std::size_t i = end;
                while (i > b && w + glyphs_[i - 1].advance <= room + kEps) w += glyphs_[--i].advance;
                while (i < end && glyphs_[i].advance == 0 && !glyphs_[i].space) ++i;
                out.text = std::string(kEllipsis) + textOf(i, end);
                out.width = ew + width(i, end, false);
                return;
            }
            case NSLineBreakByTruncatingMiddle: {
                std::size_t head = b, tail = end;
                CGFloat w = 0;
                bool front = true;
                while (head < tail) {
                    CGFloat a = front ? glyphs_[head].advance : glyphs_[tail - 1].advance;
                    if (w + a > room + kEps) break;
                    w += a;
                    if (front) {
                        ++head;
                    } else {
                        --tail;
                    }
                    front = !front;
                }
                out.text = textOf(b, head) + kEllipsis + textOf(tail, end);
                out.width = width(b, head, false) + ew + width(tail, end, false);
                return;
            }
            default: {
                CGFloat w = 0;
                std::size_t i = b;
                while (i < end && w + glyphs_[i].advance <= room + kEps) w += glyphs_[i++].advance;
                while (i > b && glyphs_[i - 1].space) w -= glyphs_[--i].advance;
                out.text = textOf(b, i) + kEllipsis;
                out.width = w + ew;
                return;
            }
        }
    }

    const TextLayoutRequest& request_;
    std::string text_;
    std::vector<Glyph> glyphs_;
};

TextLayout DeterministicMeasurer::layout(const TextLayoutRequest& request) const {
    return Builder(request).build();
}

// ---------------------------------------------------------------------------------------------
// The real measurer

std::mutex& pangoMutex() {
    static std::mutex mutex;
    return mutex;
}

PangoContext*& contextSlot() {
    static PangoContext* slot = nullptr;
    return slot;
}

// The shared context, made on first use and kept for the process's life (fontconfig's caches
// cannot be torn down safely while cairo still holds fonts). The caller holds the lock.
PangoContext* pangoContext() {
    PangoContext*& slot = contextSlot();
    if (slot) return slot;
    // The font map would load the font configuration on a thread of its own and hand it over
    // through locks a thread checker cannot see; loaded here first, it is ours from the start.
    FcInit();
    PangoFontMap* map = pango_cairo_font_map_new();
    PangoContext* ctx = pango_font_map_create_context(map);
    g_object_unref(map);  // the context holds it
    pango_cairo_context_set_resolution(ctx, 72);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    pango_cairo_context_set_font_options(ctx, options);
    cairo_font_options_destroy(options);
    pango_context_set_round_glyph_positions(ctx, FALSE);
    slot = ctx;
    return ctx;
}

PangoFontDescription* describe(const UIFont& font) {
    PangoFontDescription* desc = pango_font_description_new();
    pango_font_description_set_family(desc, font.isMonospaced() ? "WenQuanYi Micro Hei Mono"
                                                                : "WenQuanYi Micro Hei");
    pango_font_description_set_weight(desc, font.isBold() ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(desc, font.isItalic() ? PANGO_STYLE_OBLIQUE : PANGO_STYLE_NORMAL);
    pango_font_description_set_absolute_size(desc, font.pointSize() * PANGO_SCALE);
    return desc;
}

FontMetrics realMetricsLocked(const UIFont& font) {
    PangoFontDescription* desc = describe(font);
    PangoFontMetrics* m = pango_context_get_metrics(pangoContext(), desc, nullptr);
    FontMetrics out;
    out.ascender = pango_font_metrics_get_ascent(m) / double(PANGO_SCALE);
    out.descender = -pango_font_metrics_get_descent(m) / double(PANGO_SCALE);
    out.leading = 0;
    out.capHeight = out.ascender * 0.75;
    out.xHeight = out.ascender * 0.55;
    pango_font_metrics_unref(m);
    pango_font_description_free(desc);
    return out;
}

int toPango(CGFloat v) {
    return static_cast<int>(std::clamp(v * PANGO_SCALE, 0.0, double(INT_MAX / 2)));
}
bool limitedWidth(CGFloat w) {
    return std::isfinite(w) && w < 1e6;
}

struct PangoResult {
    PangoLayout* layout = nullptr;
    int visible = 0;  // lines to show
    bool truncated = false;
    ~PangoResult() {
        if (layout) g_object_unref(layout);
    }
};

void setText(PangoLayout* layout, const TextLayoutRequest& request, bool colours, CGFloat alpha) {
    std::string text;
    PangoAttrList* attrs = pango_attr_list_new();
    for (const auto& run : request.runs) {
        guint start = guint(text.size());
        text += run.text;
        guint end = guint(text.size());
        if (start == end) continue;
        PangoFontDescription* desc = describe(*fontOf(run));
        PangoAttribute* a = pango_attr_font_desc_new(desc);
        pango_font_description_free(desc);
        a->start_index = start, a->end_index = end;
        pango_attr_list_insert(attrs, a);
        if (run.kern != 0) {
            a = pango_attr_letter_spacing_new(int(run.kern * PANGO_SCALE));
            a->start_index = start, a->end_index = end;
            pango_attr_list_insert(attrs, a);
        }
        if (colours) {
            std::array<CGFloat, 4> c{0, 0, 0, 1};
            if (run.color) c = run.color->CGColor()->rgba();
            auto channel = [](CGFloat v) { return guint16(std::lround(std::clamp(v, 0.0, 1.0) * 65535)); };
            a = pango_attr_foreground_new(channel(c[0]), channel(c[1]), channel(c[2]));
            a->start_index = start, a->end_index = end;
            pango_attr_list_insert(attrs, a);
            a = pango_attr_foreground_alpha_new(std::max<guint16>(1, channel(c[3] * alpha)));
            a->start_index = start, a->end_index = end;
            pango_attr_list_insert(attrs, a);
        }
    }
    // A final line break adds no empty line.
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
    // Pango wants valid UTF-8 without NUL bytes.
    for (char& ch : text) {
        if (ch == '\0') ch = ' ';
    }
    const gchar* endValid = nullptr;
    if (!g_utf8_validate(text.data(), gssize(text.size()), &endValid)) {
        gchar* fixed = g_utf8_make_valid(text.data(), gssize(text.size()));
        text = fixed;
        g_free(fixed);
    }
    pango_layout_set_text(layout, text.data(), int(text.size()));
    pango_layout_set_attributes(layout, attrs);
    pango_attr_list_unref(attrs);
}

PangoEllipsizeMode ellipsizeFor(NSLineBreakMode mode) {
    switch (mode) {
        case NSLineBreakByTruncatingHead:
            return PANGO_ELLIPSIZE_START;
        case NSLineBreakByTruncatingMiddle:
            return PANGO_ELLIPSIZE_MIDDLE;
        default:
            return PANGO_ELLIPSIZE_END;
    }
}

bool truncatingMode(NSLineBreakMode mode) {
    return mode == NSLineBreakByTruncatingHead || mode == NSLineBreakByTruncatingTail ||
           mode == NSLineBreakByTruncatingMiddle;
}

// Lays the request out; the caller holds the pango lock.
void layOut(const TextLayoutRequest& request, bool colours, CGFloat alpha, PangoResult& result) {
    result.layout = pango_layout_new(pangoContext());
    PangoLayout* layout = result.layout;
    setText(layout, request, colours, alpha);
    pango_layout_set_spacing(layout, toPango(std::max(0.0, request.lineSpacing)));
    bool widthLimited = limitedWidth(request.maxWidth);
    if (request.wraps && widthLimited) {
        pango_layout_set_width(layout, toPango(request.maxWidth));
        pango_layout_set_wrap(layout, request.lineBreakMode == NSLineBreakByCharWrapping
                                          ? PANGO_WRAP_CHAR
                                          : PANGO_WRAP_WORD_CHAR);
    } else if (widthLimited && (truncatingMode(request.lineBreakMode) || request.truncateLastLine)) {
        // One line per paragraph, each ellipsized.
        pango_layout_set_width(layout, toPango(request.maxWidth));
        pango_layout_set_ellipsize(layout, ellipsizeFor(request.lineBreakMode));
    }
    int total = pango_layout_get_line_count(layout);
    if (pango_layout_get_text(layout)[0] == '\0') total = 0;
    int visible = total;
    if (request.maxLines > 0) visible = std::min(visible, request.maxLines);
    if (std::isfinite(request.maxHeight) && visible > 1) {
        PangoLayoutIter* iter = pango_layout_get_iter(layout);
        int fit = 0;
        do {
            PangoRectangle logical;
            pango_layout_iter_get_line_extents(iter, nullptr, &logical);
            double bottom = (logical.y + logical.height) / double(PANGO_SCALE);
            if (fit > 0 && bottom > request.maxHeight + 1e-6) break;
            ++fit;
        } while (fit < visible && pango_layout_iter_next_line(iter));
        pango_layout_iter_free(iter);
        visible = std::min(visible, fit);
    }
    result.truncated = visible < total || pango_layout_is_ellipsized(layout);
    if (visible < total && visible > 0 && request.truncateLastLine && widthLimited && request.wraps) {
        pango_layout_set_ellipsize(layout, ellipsizeFor(request.lineBreakMode));
        pango_layout_set_height(layout, -visible);
    }
    result.visible = visible;
}

// Pango spaces letters only between them and leaves the space after a line's last character
// out of the line's extents, yet counts it when it decides what fits a width: a line as wide as
// its extents would wrap its last character away. The kern goes after every character, the last
// one too, so a line is as wide as pango needs to keep it whole. The caller holds the lock.
int trailingLetterSpacing(PangoLayoutLine* line) {
    GSList* last = g_slist_last(line->runs);
    if (!last) return 0;
    auto* run = static_cast<PangoLayoutRun*>(last->data);
    int spacing = 0;
    for (GSList* a = run->item->analysis.extra_attrs; a; a = a->next) {
        auto* attribute = static_cast<PangoAttribute*>(a->data);
        if (attribute->klass->type == PANGO_ATTR_LETTER_SPACING)
            spacing = reinterpret_cast<PangoAttrInt*>(attribute)->value;
    }
    return spacing;
}

class RealMeasurer final : public TextMeasurer {
  public:
    FontMetrics metrics(const UIFont& font) const override {
        std::lock_guard<std::mutex> lock(pangoMutex());
        return realMetricsLocked(font);
    }
    bool isDeterministic() const override { return false; }

    TextLayout layout(const TextLayoutRequest& request) const override {
        std::lock_guard<std::mutex> lock(pangoMutex());
        PangoResult r;
        layOut(request, false, 1, r);
        TextLayout out;
        out.truncated = r.truncated;
        if (r.visible == 0) return out;
        const char* text = pango_layout_get_text(r.layout);
        PangoLayoutIter* iter = pango_layout_get_iter(r.layout);
        int k = 0;
        do {
            PangoLayoutLine* line = pango_layout_iter_get_line_readonly(iter);
            PangoRectangle logical;
            pango_layout_iter_get_line_extents(iter, nullptr, &logical);
            TextLine tl;
            std::size_t textLength = std::strlen(text);
            std::size_t start =
                std::min<std::size_t>(std::size_t(std::max(0, line->start_index)), textLength);
            tl.text = std::string(text + start, std::min<std::size_t>(std::size_t(std::max(0, line->length)),
                                                                      textLength - start));
            while (!tl.text.empty() &&
                   (tl.text.back() == ' ' || tl.text.back() == '\n' || tl.text.back() == '\r')) {
                tl.text.pop_back();
            }
            PangoRectangle ink, lineLogical;
            pango_layout_line_get_extents(line, &ink, &lineLogical);
            tl.width = (lineLogical.width + trailingLetterSpacing(line)) / double(PANGO_SCALE);
            tl.y = logical.y / double(PANGO_SCALE);
            tl.height = logical.height / double(PANGO_SCALE);
            tl.ascent = pango_layout_iter_get_baseline(iter) / double(PANGO_SCALE) - tl.y;
            out.size.width = std::max(out.size.width, tl.width);
            out.size.height = tl.y + tl.height;
            out.lines.push_back(std::move(tl));
            ++k;
        } while (k < r.visible && pango_layout_iter_next_line(iter));
        pango_layout_iter_free(iter);
        return out;
    }
};

std::atomic<bool> gDeterministic{true};

}  // namespace

const TextMeasurer& TextMeasurer::deterministic() {
    static const DeterministicMeasurer measurer;
    return measurer;
}

const TextMeasurer& TextMeasurer::real() {
    static const RealMeasurer measurer;
    return measurer;
}

const TextMeasurer& TextMeasurer::current() {
    return gDeterministic.load() ? deterministic() : real();
}

void TextMeasurer::useDeterministic(bool deterministic) {
    gDeterministic.store(deterministic);
}

bool TextMeasurer::usesDeterministic() {
    return gDeterministic.load();
}

void detail::withRealPangoContext(const std::function<void(PangoContext*)>& work) {
    std::lock_guard<std::mutex> lock(pangoMutex());
    work(pangoContext());
}

PangoFontDescription* detail::realFontDescription(const UIFont& font) {
    return describe(font);
}

void detail::drawTextWithRealMeasurer(cairo_t* cr, const TextLayoutRequest& request, CGPoint origin,
                                      CGFloat alignWidth, bool coverageOnly, CGFloat alpha) {
    std::lock_guard<std::mutex> lock(pangoMutex());
    PangoResult r;
    layOut(request, !coverageOnly, alpha, r);
    if (r.visible == 0) return;
    cairo_save(cr);
    if (coverageOnly) cairo_set_source_rgba(cr, 0, 0, 0, 1);
    PangoLayoutIter* iter = pango_layout_get_iter(r.layout);
    int k = 0;
    do {
        PangoLayoutLine* line = pango_layout_iter_get_line_readonly(iter);
        PangoRectangle lineLogical;
        pango_layout_line_get_extents(line, nullptr, &lineLogical);
        PangoRectangle logical;
        pango_layout_iter_get_line_extents(iter, nullptr, &logical);
        double lineWidth = lineLogical.width / double(PANGO_SCALE);
        double x = origin.x;
        if (std::isfinite(alignWidth)) {
            if (request.alignment == NSTextAlignmentCenter) x += (alignWidth - lineWidth) / 2;
            if (request.alignment == NSTextAlignmentRight) x += alignWidth - lineWidth;
        }
        double baseline = origin.y + pango_layout_iter_get_baseline(iter) / double(PANGO_SCALE);
        cairo_move_to(cr, x - lineLogical.x / double(PANGO_SCALE), baseline);
        if (coverageOnly) {
            pango_cairo_layout_line_path(cr, line);
            cairo_fill(cr);
        } else {
            pango_cairo_show_layout_line(cr, line);
        }
        ++k;
    } while (k < r.visible && pango_layout_iter_next_line(iter));
    pango_layout_iter_free(iter);
    cairo_restore(cr);
}
