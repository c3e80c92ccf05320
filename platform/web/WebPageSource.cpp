#include "web/WebPageSource.h"

#include <gumbo.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <vector>

#include "foundation/NSString.h"
#include "web/WebStyleSheetSource.h"

namespace detail {

namespace {

bool isOneOf(std::string_view name, std::initializer_list<std::string_view> names) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

// ---------------------------------------------------------------------------------------------
// The first pass: a model of the parser's stack of open elements, kept from below the real one
// (it may count elements the parser has already closed, never fewer), so that dropping the start
// tags that would take the model past its limit keeps the parser's nesting bounded too.

bool isVoid(std::string_view n) {
    return isOneOf(n, {"area", "base", "br", "col", "embed", "hr", "img", "image", "input", "keygen", "link",
                       "meta", "param", "source", "track", "wbr", "basefont", "bgsound", "frame"});
}

// Closed by another element's end tag, they are opened again before the next text.
bool isFormatting(std::string_view n) {
    return isOneOf(
        n, {"a", "b", "big", "code", "em", "font", "i", "nobr", "s", "small", "strike", "strong", "tt", "u"});
}

// Elements no implied close looks past. More than the parser's own sets: a closer the model does
// not make only overcounts.
bool isBoundary(std::string_view n) {
    return isOneOf(n, {"applet", "caption", "html", "table", "td", "th", "marquee", "object", "template",
                       "button", "svg", "math", "foreignobject", "select", "ol", "ul"});
}

// Their start tag closes an open paragraph.
bool closesParagraph(std::string_view n) {
    return isOneOf(n, {"address", "article", "aside", "blockquote", "center",     "details", "dialog",
                       "dir",     "div",     "dl",    "fieldset",   "figcaption", "figure",  "footer",
                       "header",  "hgroup",  "main",  "menu",       "nav",        "ol",      "p",
                       "section", "summary", "ul",    "h1",         "h2",         "h3",      "h4",
                       "h5",      "h6",      "pre",   "listing",    "form",       "hr",      "xmp",
                       "li",      "dd",      "dt",    "plaintext"});
}

bool isHeading(std::string_view n) {
    return n.size() == 2 && n[0] == 'h' && n[1] >= '1' && n[1] <= '6';
}

// Elements a list item's implied close looks past.
bool listItemLooksPast(std::string_view n) {
    return isOneOf(n, {"address", "div",  "p",   "span", "abbr", "cite", "dfn",  "kbd", "label", "mark",
                       "q",       "samp", "sub", "sup",  "var",  "time", "data", "bdi", "bdo",   "ruby"}) ||
           isFormatting(n);
}

bool isRawText(std::string_view n) {
    return isOneOf(n, {"script", "style", "xmp", "iframe", "noembed", "noframes", "textarea", "title"});
}

class NestingModel {
  public:
    explicit NestingModel(std::size_t limit) : limit_(limit) {}

    bool inForeignContent() const {
        return std::any_of(open_.begin(), open_.end(),
                           [](const std::string& n) { return n == "svg" || n == "math"; });
    }

    // Answers whether the start tag may stay.
    bool start(const std::string& n, bool selfClosing) {
        if (isOneOf(n, {"html", "head", "body", "frameset"})) return true;
        if (closesParagraph(n)) closeParagraph();
        if (isHeading(n) && !open_.empty() && isHeading(open_.back())) open_.pop_back();
        if (n == "li") closeListItem({"li"});
        if (n == "dd" || n == "dt") closeListItem({"dd", "dt"});
        if (n == "td" || n == "th") {
            for (std::size_t k = open_.size(); k-- > 0;) {
                if (open_[k] == "td" || open_[k] == "th") {
                    popFrom(k, true);
                    break;
                }
                if (isOneOf(open_[k], {"table", "html", "template"})) break;
            }
        }
        if (n == "tr") popAboveTableContext({"table", "tbody", "thead", "tfoot"}, "tr");
        if (isOneOf(n, {"tbody", "thead", "tfoot", "caption", "colgroup"}))
            popAboveTableContext({"table"}, "");
        if (n == "option" && !open_.empty() && open_.back() == "option") open_.pop_back();
        if (n == "optgroup") {
            if (!open_.empty() && open_.back() == "option") open_.pop_back();
            if (!open_.empty() && open_.back() == "optgroup") open_.pop_back();
        }
        if (isVoid(n) || (selfClosing && inForeignContent())) return true;
        if (open_.size() >= limit_) return false;
        open_.push_back(n);
        return true;
    }

    void end(const std::string& n) {
        if (isOneOf(n, {"html", "head", "body", "br"})) return;
        if (isFormatting(n)) {
            for (std::size_t k = open_.size(); k-- > 0;) {
                if (open_[k] == n) {
                    open_.erase(open_.begin() + std::ptrdiff_t(k));
                    return;
                }
            }
            return;
        }
        for (std::size_t k = open_.size(); k-- > 0;) {
            if (open_[k] == n) {
                popFrom(k, isOneOf(n, {"td", "th", "caption", "applet", "object", "marquee", "template"}));
                return;
            }
            if (isBoundary(open_[k])) return;
        }
    }

  private:
    // Closes open_[k] and the elements above it; formatting ones stay counted unless a cell
    // boundary forgets them.
    void popFrom(std::size_t k, bool forgetFormatting) {
        std::vector<std::string> kept;
        if (!forgetFormatting)
            for (std::size_t j = k + 1; j < open_.size(); ++j)
                if (isFormatting(open_[j])) kept.push_back(open_[j]);
        open_.resize(k);
        for (auto& f : kept) open_.push_back(std::move(f));
    }

    void closeParagraph() {
        for (std::size_t k = open_.size(); k-- > 0;) {
            if (open_[k] == "p") {
                popFrom(k, false);
                return;
            }
            if (isBoundary(open_[k])) return;
        }
    }

    void closeListItem(std::initializer_list<std::string_view> items) {
        for (std::size_t k = open_.size(); k-- > 0;) {
            if (isOneOf(open_[k], items)) {
                popFrom(k, false);
                return;
            }
            if (!listItemLooksPast(open_[k])) return;
        }
    }

    void popAboveTableContext(std::initializer_list<std::string_view> contexts, std::string_view same) {
        for (std::size_t k = open_.size(); k-- > 0;) {
            if (!same.empty() && open_[k] == same) {
                popFrom(k, true);
                return;
            }
            if (isOneOf(open_[k], contexts)) {
                popFrom(k + 1, true);
                return;
            }
            if (isOneOf(open_[k], {"html", "template"})) return;
        }
    }

    std::size_t limit_;
    std::vector<std::string> open_;
};

std::size_t find(std::string_view s, std::string_view what, std::size_t from) {
    std::size_t at = s.find(what, from);
    return at == std::string_view::npos ? s.size() : at;
}

// The tag name from `at` (its first letter), lower-cased into `name`; where it ends.
std::size_t readTagName(std::string_view s, std::size_t at, std::string& name) {
    std::size_t end = at;
    while (end < s.size() && !isSpace(s[end]) && s[end] != '/' && s[end] != '>') ++end;
    name.clear();
    for (std::size_t k = at; k < end; ++k) name.push_back(lower(s[k]));
    return end;
}

// One attribute from `i`, its name's first character (which may be '='): its name and its value as
// written (empty without one); where it ends, npos when a quoted value never closes.
std::size_t readAttribute(std::string_view s, std::size_t i, std::string_view& name,
                          std::string_view& value) {
    const std::size_t nameAt = i++;
    while (i < s.size() && !isSpace(s[i]) && s[i] != '/' && s[i] != '>' && s[i] != '=') ++i;
    name = s.substr(nameAt, i - nameAt);
    value = {};
    while (i < s.size() && isSpace(s[i])) ++i;
    if (i >= s.size() || s[i] != '=') return i;
    ++i;
    while (i < s.size() && isSpace(s[i])) ++i;
    if (i < s.size() && (s[i] == '"' || s[i] == '\'')) {
        const std::size_t close = s.find(s[i], i + 1);
        if (close == std::string_view::npos) return close;
        value = s.substr(i + 1, close - i - 1);
        return close + 1;
    }
    const std::size_t from = i;
    while (i < s.size() && !isSpace(s[i]) && s[i] != '>') ++i;
    value = s.substr(from, i - from);
    return i;
}

// Past the '>' that ends a tag whose name ends at i (attribute values may hold '>'); sets
// selfClosing when it ends in "/>".
std::size_t skipTagRest(std::string_view s, std::size_t i, bool& selfClosing) {
    selfClosing = false;
    while (i < s.size()) {
        char c = s[i];
        if (isSpace(c)) {
            ++i;
            continue;
        }
        if (c == '>') return i + 1;
        if (c == '/') {
            ++i;
            if (i < s.size() && s[i] == '>') {
                selfClosing = true;
                return i + 1;
            }
            continue;
        }
        std::string_view name, value;
        i = readAttribute(s, i, name, value);
        if (i == std::string_view::npos) return s.size();
    }
    return s.size();
}

// The page with the start tags past the nesting limit taken out, cut before the tag past the
// tag limit.
std::string limitNesting(std::string_view s, std::size_t depthLimit, std::size_t tagLimit, bool& truncated,
                         bool& capped) {
    std::string out;
    out.reserve(s.size());
    NestingModel model(depthLimit);
    std::size_t tags = 0;
    std::size_t i = 0;
    while (i < s.size()) {
        std::size_t lt = find(s, "<", i);
        out.append(s.substr(i, lt - i));
        i = lt;
        if (i >= s.size()) break;
        std::size_t start = i;
        auto rest = s.substr(i);
        if (rest.substr(0, 4) == "<!--") {
            if (rest.substr(0, 5) == "<!-->") {
                i += 5;
            } else if (rest.substr(0, 6) == "<!--->") {
                i += 6;
            } else {
                std::size_t a = find(s, "-->", i + 4), b = find(s, "--!>", i + 4);
                i = std::min(a == s.size() ? s.size() : a + 3, b == s.size() ? s.size() : b + 4);
            }
            out.append(s.substr(start, i - start));
            continue;
        }
        if (rest.size() >= 2 && (rest[1] == '!' || rest[1] == '?')) {
            i = find(s, ">", i + 2);
            i = std::min(s.size(), i + 1);
            out.append(s.substr(start, i - start));
            continue;
        }
        bool endTag = rest.size() >= 2 && rest[1] == '/';
        std::size_t nameAt = i + (endTag ? 2 : 1);
        if (nameAt >= s.size() || !isLetter(s[nameAt])) {
            if (endTag) {
                // "</>" is dropped, "</ ..." is a bogus comment; neither opens anything.
                i = std::min(s.size(), find(s, ">", nameAt) + 1);
                out.append(s.substr(start, i - start));
            } else {
                out.push_back('<');
                ++i;
            }
            continue;
        }
        std::string name;
        const std::size_t nameEnd = readTagName(s, nameAt, name);
        bool selfClosing = false;
        i = skipTagRest(s, nameEnd, selfClosing);
        if (++tags > tagLimit) {
            truncated = true;
            return out;
        }
        if (endTag) {
            model.end(name);
            out.append(s.substr(start, i - start));
            continue;
        }
        bool foreign = model.inForeignContent();
        if (!model.start(name, selfClosing)) {
            capped = true;
            continue;
        }
        out.append(s.substr(start, i - start));
        if (foreign) continue;
        if (name == "plaintext") {
            out.append(s.substr(i));
            return out;
        }
        if (isRawText(name)) {
            // Text up to the element's own end tag.
            std::size_t k = i;
            while (true) {
                k = find(s, "</", k);
                if (k >= s.size()) break;
                std::size_t e = k + 2;
                bool same = s.size() - e >= name.size();
                for (std::size_t c = 0; same && c < name.size(); ++c) same = lower(s[e + c]) == name[c];
                if (same && (e + name.size() == s.size() || isSpace(s[e + name.size()]) ||
                             s[e + name.size()] == '/' || s[e + name.size()] == '>'))
                    break;
                k += 2;
            }
            out.append(s.substr(i, k - i));
            i = k;
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// The parse itself runs on an arena: the parser's own teardown walks the tree recursively.

class Arena {
  public:
    ~Arena() {
        for (void* block : blocks_) std::free(block);
    }
    void* allocate(std::size_t size) {
        size = (size + 15) & ~std::size_t(15);
        if (size > kBlock / 4) {
            void* p = std::malloc(size);
            if (!p) std::abort();
            blocks_.push_back(p);
            return p;
        }
        if (used_ + size > kBlock || blocks_.empty() || !current_) {
            current_ = static_cast<char*>(std::malloc(kBlock));
            if (!current_) std::abort();
            blocks_.push_back(current_);
            used_ = 0;
        }
        void* p = current_ + used_;
        used_ += size;
        return p;
    }

  private:
    static constexpr std::size_t kBlock = 1 << 20;
    std::vector<void*> blocks_;
    char* current_ = nullptr;
    std::size_t used_ = 0;
};

void* arenaAllocate(void* arena, size_t size) {
    return static_cast<Arena*>(arena)->allocate(size);
}
void arenaFree(void*, void*) {}

// ---------------------------------------------------------------------------------------------
// Writing the tree back.

bool isPlainName(std::string_view name) {
    if (name.empty() || name.size() > 64 || !isLetter(name[0])) return false;
    for (char c : name)
        if (!(isLetter(c) || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == ':' || c == '.'))
            return false;
    return true;
}

std::string tagName(const GumboElement& element) {
    if (element.tag != GUMBO_TAG_UNKNOWN) return gumbo_normalized_tagname(element.tag);
    GumboStringPiece piece = element.original_tag;
    gumbo_tag_from_original_text(&piece);
    std::string name;
    for (std::size_t k = 0; k < piece.length; ++k) name.push_back(lower(piece.data[k]));
    return name;
}

bool isLeftOut(const GumboElement& element) {
    if (element.tag_namespace != GUMBO_NAMESPACE_HTML) return true;
    switch (element.tag) {
        case GUMBO_TAG_SCRIPT:
        case GUMBO_TAG_TEMPLATE:
        case GUMBO_TAG_SVG:
        case GUMBO_TAG_MATH:
            return true;
        default:
            return false;
    }
}

// Spans beyond what a bounded table grid can hold are clipped, as a browser clips them to its
// own (larger) limits.
long clippedSpan(std::string_view name, std::string_view value) {
    long n = std::strtol(std::string(value.substr(0, 16)).c_str(), nullptr, 10);
    return std::clamp(n, 1L, name == "colspan" ? 100L : 200L);
}

std::string attributeValue(std::string_view name, std::string_view value) {
    if (name == "colspan" || name == "rowspan") return std::to_string(clippedSpan(name, value));
    return std::string(value);
}

long spanOf(const GumboElement& cell) {
    const GumboAttribute* a = gumbo_get_attribute(&cell.attributes, "colspan");
    return a ? clippedSpan("colspan", a->value) : 1;
}

bool isCell(const GumboNode* n) {
    return n->type == GUMBO_NODE_ELEMENT &&
           (n->v.element.tag == GUMBO_TAG_TD || n->v.element.tag == GUMBO_TAG_TH);
}

// The columns each row of a table may take so that its grid (rows times the widest row, which
// the layout engine fills whole) stays within `maxCells`; 0 when the table is within it as it is.
std::size_t columnsAllowed(const GumboElement& table, std::size_t maxCells) {
    std::size_t rows = 0, widest = 0;
    auto row = [&](const GumboNode* tr) {
        ++rows;
        std::size_t width = 0;
        const GumboVector& cells = tr->v.element.children;
        for (unsigned k = 0; k < cells.length; ++k)
            if (auto* cell = static_cast<const GumboNode*>(cells.data[k]); isCell(cell))
                width += std::size_t(spanOf(cell->v.element));
        widest = std::max(widest, width);
    };
    for (unsigned i = 0; i < table.children.length; ++i) {
        auto* child = static_cast<const GumboNode*>(table.children.data[i]);
        if (child->type != GUMBO_NODE_ELEMENT) continue;
        GumboTag tag = child->v.element.tag;
        if (tag == GUMBO_TAG_TR) row(child);
        if (tag != GUMBO_TAG_TBODY && tag != GUMBO_TAG_THEAD && tag != GUMBO_TAG_TFOOT) continue;
        const GumboVector& rowsOf = child->v.element.children;
        for (unsigned k = 0; k < rowsOf.length; ++k)
            if (auto* tr = static_cast<const GumboNode*>(rowsOf.data[k]);
                tr->type == GUMBO_NODE_ELEMENT && tr->v.element.tag == GUMBO_TAG_TR)
                row(tr);
    }
    if (rows == 0 || rows * widest <= maxCells) return 0;
    return std::max<std::size_t>(1, maxCells / rows);
}

class Writer {
  public:
    Writer(const WebPageLimits& limits, WebPageSourceInfo& info, WebPageStyleState* state)
        : limits_(limits), info_(info), state_(state) {}

    std::string write(const GumboNode* root) {
        out_ = "<!DOCTYPE html>";
        if (state_) state_->setPageElements(countElements(root));
        struct Frame {
            const GumboNode* node;
            std::size_t next;     // child to visit
            std::string closing;  // end tag to write when done, empty when the tags were dropped
        };
        std::vector<Frame> stack;
        std::size_t depth = 0;  // elements written around the current point
        auto children = [](const GumboNode* n) -> const GumboVector* {
            if (n->type == GUMBO_NODE_DOCUMENT) return &n->v.document.children;
            if (n->type == GUMBO_NODE_ELEMENT) return &n->v.element.children;
            return nullptr;
        };
        stack.push_back({root, 0, {}});
        while (!stack.empty()) {
            Frame& top = stack.back();
            const GumboVector* kids = children(top.node);
            if (full_ || !kids || top.next >= kids->length) {
                if (!top.closing.empty()) {
                    out_ += "</" + top.closing + ">";
                    --depth;
                    if (top.closing == "table" && !tables_.empty()) tables_.pop_back();
                }
                stack.pop_back();
                continue;
            }
            const GumboNode* child = static_cast<const GumboNode*>(kids->data[top.next++]);
            // Text of raw-text elements goes back as it came; that of title and textarea is read
            // with its character references, so it is written escaped like any other.
            const bool raw = top.node->type == GUMBO_NODE_ELEMENT && !top.closing.empty() &&
                             isRawText(top.closing) && top.closing != "title" && top.closing != "textarea";
            switch (child->type) {
                case GUMBO_NODE_WHITESPACE:
                    if (!raw) {
                        writeWhitespace(child->v.text.text);
                        break;
                    }
                    [[fallthrough]];
                case GUMBO_NODE_TEXT:
                case GUMBO_NODE_CDATA:
                    writeText(child->v.text.text, raw, raw && top.closing == "style");
                    break;
                case GUMBO_NODE_ELEMENT: {
                    const GumboElement& element = child->v.element;
                    if (isLeftOut(element)) break;
                    std::string name = tagName(element);
                    // Written as itself, it would turn the rest of the page, closing tags too, into text.
                    if (name == "plaintext") name = "pre";
                    bool keepTags = depth < limits_.maxDepth && isPlainName(name);
                    if (depth >= limits_.maxDepth) info_.depthCapped = true;
                    // A table whose grid would pass the bound keeps the first columns of
                    // each row: later cells are left out, and a span is cut at the edge.
                    std::size_t colspan = 0;
                    if (keepTags && !tables_.empty() && tables_.back().columns > 0) {
                        Table& table = tables_.back();
                        if (name == "tr") table.used = 0;
                        if ((name == "td" || name == "th") && top.closing == "tr") {
                            if (table.used >= table.columns) {
                                info_.gridCut = true;
                                break;
                            }
                            colspan = std::min<std::size_t>(std::size_t(spanOf(element)),
                                                            table.columns - table.used);
                            table.used += colspan;
                        }
                    }
                    if (keepTags) {
                        if (info_.elements >= limits_.maxElements ||
                            info_.nestingWeight + depth + 1 > limits_.maxNestingWeight) {
                            full_ = true;
                            info_.truncated = true;
                            break;
                        }
                        ++info_.elements;
                        info_.nestingWeight += depth + 1;
                        writeStartTag(name, element, colspan);
                        if (name == "table") {
                            tables_.push_back({columnsAllowed(element, limits_.maxTableCells), 0});
                            if (tables_.back().columns > 0) info_.gridCut = true;
                        }
                        if (isVoid(name)) break;
                        ++depth;
                        info_.depth = std::max(info_.depth, depth);
                        // A leading line feed of these is eaten by the parser: keep the page's own.
                        if (isOneOf(name, {"pre", "textarea", "listing"}) && element.children.length > 0) {
                            auto* first = static_cast<const GumboNode*>(element.children.data[0]);
                            if ((first->type == GUMBO_NODE_TEXT || first->type == GUMBO_NODE_WHITESPACE) &&
                                first->v.text.text[0] == '\n')
                                out_.push_back('\n');
                        }
                    }
                    stack.push_back({child, 0, keepTags ? name : std::string()});
                    break;
                }
                default:
                    break;  // comments, the document type, template contents
            }
        }
        return std::move(out_);
    }

  private:
    // Text of white space alone: past the bound, only its first character is kept (all that
    // shows of it unless the page preserves white space).
    void writeWhitespace(const char* text) {
        std::string_view t(text);
        if (whitespace_ + t.size() > limits_.maxWhitespaceBytes) {
            std::size_t room = limits_.maxWhitespaceBytes - std::min(whitespace_, limits_.maxWhitespaceBytes);
            t = t.substr(0, std::max<std::size_t>(room, 1));
            info_.whitespaceCut = true;
        }
        whitespace_ += t.size();
        writeText(std::string(t).c_str(), false, false);
    }

    void writeText(const char* text, bool raw, bool styleSheet) {
        std::string_view t(text);
        if (text_ + t.size() > limits_.maxTextBytes) {
            std::size_t room = limits_.maxTextBytes - text_;
            // Cut on a character boundary.
            while (room > 0 && (static_cast<unsigned char>(t[room]) & 0xC0) == 0x80) --room;
            t = t.substr(0, room);
            full_ = true;
            info_.truncated = true;
        }
        text_ += t.size();
        info_.textBytes = text_;
        // Every inline sheet passes here once; the rule bound is the page's, as many small style
        // elements add up to it.
        if (styleSheet) {
            WebStyleSheetLimits limits;
            limits.maxRules = styleRulesLeft_;
            WebStyleSheetInfo sheet;
            out_.append(boundedStyleSheet(t, limits, &sheet, state_));
            styleRulesLeft_ -= std::min(styleRulesLeft_, sheet.rules);
        } else if (raw) {
            out_.append(t);
        } else {
            countPieces(t);
            appendEscapedHTML(out_, t, false);
        }
    }

    // As the renderer splits text: a word with the lone space after it, each further white space
    // character, each wide character (from U+3000 up, three bytes or more in UTF-8).
    void countPieces(std::string_view t) {
        for (std::size_t k = 0; k < t.size(); ++k) {
            auto c = static_cast<unsigned char>(t[k]);
            if (isSpace(char(c))) {
                if (!inWord_ || c != ' ' || (k + 1 < t.size() && isSpace(t[k + 1]))) ++info_.textPieces;
                inWord_ = false;
            } else if (c >= 0xE3) {
                ++info_.textPieces;
                inWord_ = false;
            } else if (c < 0x80 || c >= 0xC0) {
                if (!inWord_) ++info_.textPieces;
                inWord_ = true;
            }
        }
        inWord_ = false;
    }

    // colspan, when not 0, is the cell's span as written.
    void writeStartTag(const std::string& name, const GumboElement& element, std::size_t colspan = 0) {
        out_ += "<" + name;
        for (unsigned k = 0; k < element.attributes.length; ++k) {
            auto* a = static_cast<const GumboAttribute*>(element.attributes.data[k]);
            std::string_view attrName(a->name);
            if (!isPlainName(attrName) || attrName.substr(0, 2) == "on") continue;
            out_ += " ";
            out_ += attrName;
            out_ += "=\"";
            if (colspan > 0 && attrName == "colspan")
                out_ += std::to_string(colspan);
            else if (state_ && attrName == "style" && needsStyleState(a->value))
                appendEscapedHTML(out_, boundedDeclarations(a->value, state_), true);
            else if (state_ && attrName == "src" && name == "img" && isDataURL(a->value))
                appendEscapedHTML(out_, state_->keepDataURL(trimmedURL(a->value)).value_or(""), true);
            else
                appendEscapedHTML(out_, attributeValue(attrName, a->value), true);
            out_ += "\"";
        }
        out_ += ">";
    }

    // The elements the page will have, at most the bound (its sheets' declarations may style each).
    std::size_t countElements(const GumboNode* root) const {
        std::size_t n = 0;
        std::vector<const GumboNode*> pending{root};
        while (!pending.empty() && n < limits_.maxElements) {
            const GumboNode* node = pending.back();
            pending.pop_back();
            const GumboVector* kids = node->type == GUMBO_NODE_DOCUMENT  ? &node->v.document.children
                                      : node->type == GUMBO_NODE_ELEMENT ? &node->v.element.children
                                                                         : nullptr;
            if (node->type == GUMBO_NODE_ELEMENT) ++n;
            if (!kids) continue;
            for (unsigned k = 0; k < kids->length; ++k)
                pending.push_back(static_cast<const GumboNode*>(kids->data[k]));
        }
        return std::min(n, limits_.maxElements);
    }

    static std::string_view trimmedURL(std::string_view v) {
        while (!v.empty() && static_cast<unsigned char>(v.front()) <= ' ') v.remove_prefix(1);
        while (!v.empty() && static_cast<unsigned char>(v.back()) <= ' ') v.remove_suffix(1);
        return v;
    }
    static bool startsFolded(std::string_view v, std::string_view prefix) {
        if (v.size() < prefix.size()) return false;
        for (std::size_t k = 0; k < prefix.size(); ++k)
            if (lower(v[k]) != prefix[k]) return false;
        return true;
    }
    static bool isDataURL(std::string_view v) { return startsFolded(trimmedURL(v), "data:"); }
    // A style attribute the state has a say in: custom properties, var() or data: URLs.
    static bool needsStyleState(std::string_view v) {
        for (std::size_t k = 0; k + 1 < v.size(); ++k) {
            if (v[k] == '-' && v[k + 1] == '-') return true;
            if (startsFolded(v.substr(k), "var(") || startsFolded(v.substr(k), "data:")) return true;
        }
        return false;
    }

    const WebPageLimits& limits_;
    WebPageSourceInfo& info_;
    WebPageStyleState* state_;
    std::string out_;
    std::size_t text_ = 0;
    std::size_t whitespace_ = 0;
    struct Table {
        std::size_t columns;  // a row's bound, 0 for none
        std::size_t used;     // columns taken in the current row
    };
    std::vector<Table> tables_;  // the tables written around the current point
    std::size_t styleRulesLeft_ = WebStyleSheetLimits{}.maxRules;
    bool full_ = false;
    bool inWord_ = false;
};

}  // namespace

std::string boundedPageSource(std::string_view html, const WebPageLimits& limits, WebPageSourceInfo* info,
                              WebPageStyleState* state) {
    WebPageSourceInfo local;
    WebPageSourceInfo& result = info ? *info : local;
    result = {};
    // The model's limit leaves room for the elements the parser adds on its own (html, head,
    // body, a table's body and rows) and for the copies of formatting elements it reopens.
    std::string bounded =
        limitNesting(html, limits.maxDepth * 2, limits.maxTags, result.truncated, result.depthCapped);

    Arena arena;
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = arenaAllocate;
    options.deallocator = arenaFree;
    options.userdata = &arena;
    options.max_errors = 0;  // each recorded error copies the stack of open elements
    GumboOutput* output = gumbo_parse_with_options(&options, bounded.data(), bounded.size());
    if (!output) return "<!DOCTYPE html>";
    Writer writer(limits, result, state);
    return writer.write(output->document);
    // The arena frees the tree.
}

namespace {

// An attribute's value with the character references a URL is written with read (numeric ones
// and the markup characters' names); others stay as written.
std::string attributeText(std::string_view v) {
    std::string out;
    out.reserve(v.size());
    for (std::size_t i = 0; i < v.size();) {
        if (v[i] != '&') {
            out.push_back(v[i++]);
            continue;
        }
        const std::size_t semicolon = v.find(';', i + 1);
        if (semicolon != std::string_view::npos && semicolon - i <= 10) {
            const std::string_view name = v.substr(i + 1, semicolon - i - 1);
            const char* named = name == "amp"    ? "&"
                                : name == "lt"   ? "<"
                                : name == "gt"   ? ">"
                                : name == "quot" ? "\""
                                : name == "apos" ? "'"
                                                 : nullptr;
            if (named) {
                out += named;
                i = semicolon + 1;
                continue;
            }
            if (name.size() >= 2 && name[0] == '#') {
                const bool hex = name[1] == 'x' || name[1] == 'X';
                const std::string digits(name.substr(hex ? 2 : 1));
                char* end = nullptr;
                const unsigned long c = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
                if (!digits.empty() && end && *end == '\0' &&
                    std::isalnum(static_cast<unsigned char>(digits[0]))) {
                    // What a reference may not stand for reads as the replacement character.
                    const bool valid = c != 0 && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
                    appendUTF8(out, valid ? char32_t(c) : char32_t(0xFFFD));
                    i = semicolon + 1;
                    continue;
                }
            }
        }
        out.push_back(v[i++]);
    }
    return out;
}

// The tag's attributes from just past its name, handed to `attribute` (name in lower case,
// value as written); answers the position past its '>'.
template <class Attribute>
std::size_t readAttributes(std::string_view s, std::size_t i, Attribute&& attribute) {
    while (i < s.size()) {
        char c = s[i];
        if (isSpace(c) || c == '/') {
            ++i;
            continue;
        }
        if (c == '>') return i + 1;
        std::string_view written, value;
        i = readAttribute(s, i, written, value);
        if (i == std::string_view::npos) return s.size();
        std::string name;
        for (char k : written) name.push_back(lower(k));
        attribute(name, value);
    }
    return s.size();
}

bool startsFoldedWith(std::string_view s, std::size_t at, std::string_view prefix) {
    if (s.size() - std::min(at, s.size()) < prefix.size()) return false;
    for (std::size_t k = 0; k < prefix.size(); ++k)
        if (lower(s[at + k]) != prefix[k]) return false;
    return true;
}

// The references of a sheet's @import rules, comments skipped.
void scanImports(std::string_view css, std::vector<std::string>& out, std::size_t most) {
    for (std::size_t i = 0; i < css.size() && out.size() < most;) {
        if (css[i] == '/' && i + 1 < css.size() && css[i + 1] == '*') {
            i = std::min(css.size(), find(css, "*/", i + 2) + 2);
            continue;
        }
        // As the engine reads the rule: in lower case, as written.
        if (css.compare(i, 7, "@import") != 0) {
            ++i;
            continue;
        }
        i += 7;
        while (i < css.size() && isSpace(css[i])) ++i;
        std::size_t from = i, to = i;
        if (startsFoldedWith(css, i, "url(")) {
            from = i + 4;
            to = find(css, ")", from);
            i = to;
        } else if (i < css.size() && (css[i] == '"' || css[i] == '\'')) {
            from = i + 1;
            to = find(css, std::string_view(&css[i], 1), from);
            i = to;
        } else {
            continue;
        }
        std::string_view reference = css.substr(from, to - from);
        while (!reference.empty() &&
               (isSpace(reference.front()) || reference.front() == '"' || reference.front() == '\''))
            reference.remove_prefix(1);
        while (!reference.empty() &&
               (isSpace(reference.back()) || reference.back() == '"' || reference.back() == '\''))
            reference.remove_suffix(1);
        if (!reference.empty()) out.emplace_back(reference);
    }
}

}  // namespace

WebPageLinks scanPageLinks(std::string_view s, std::size_t most) {
    WebPageLinks links;
    std::size_t i = 0;
    while (i < s.size() && (links.stylesheets.size() < most || !links.base)) {
        i = find(s, "<", i);
        if (i >= s.size()) break;
        if (startsFoldedWith(s, i, "<!--")) {
            i = std::min(s.size(), find(s, "-->", i + 4) + 3);
            continue;
        }
        const bool endTag = i + 1 < s.size() && s[i + 1] == '/';
        const std::size_t nameAt = i + (endTag ? 2 : 1);
        if (nameAt >= s.size() || !isLetter(s[nameAt])) {
            // "<!doctype>", "<?...>", "</ ...>": to their '>'; a lone '<' is text.
            i = i + 1 < s.size() && (s[i + 1] == '!' || s[i + 1] == '?' || endTag)
                    ? std::min(s.size(), find(s, ">", i + 1) + 1)
                    : i + 1;
            continue;
        }
        std::string name;
        const std::size_t nameEnd = readTagName(s, nameAt, name);
        if (endTag) {
            bool selfClosing = false;
            i = skipTagRest(s, nameEnd, selfClosing);
            continue;
        }
        std::optional<std::string> href;
        bool stylesheet = false;
        i = readAttributes(s, nameEnd, [&](const std::string& attribute, std::string_view value) {
            if (attribute == "href" && !href) href = attributeText(value);
            // As the engine reads it: the one word, as written.
            if (attribute == "rel" && value == "stylesheet") stylesheet = true;
        });
        if (name == "link" && stylesheet && href && links.stylesheets.size() < most)
            links.stylesheets.push_back(std::move(*href));
        else if (name == "base" && href && !links.base)
            links.base = std::move(*href);
        if (name == "plaintext") break;
        if (!isRawText(name)) continue;
        // Text up to the element's own end tag.
        std::size_t k = i;
        while (true) {
            k = find(s, "</", k);
            if (k >= s.size()) break;
            const std::size_t e = k + 2;
            if (startsFoldedWith(s, e, name) && (e + name.size() == s.size() || isSpace(s[e + name.size()]) ||
                                                 s[e + name.size()] == '/' || s[e + name.size()] == '>'))
                break;
            k += 2;
        }
        if (name == "style") scanImports(s.substr(i, k - i), links.stylesheets, most);
        i = k;
    }
    return links;
}

void appendEscapedHTML(std::string& out, std::string_view text, bool attribute) {
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
                if (attribute) {
                    out += "&quot;";
                    break;
                }
                [[fallthrough]];
            default:
                out.push_back(c);
        }
    }
}

}  // namespace detail
