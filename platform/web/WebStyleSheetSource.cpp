#include "web/WebStyleSheetSource.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

namespace detail {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool isNewline(char c) {
    return c == '\n' || c == '\r' || c == '\f';
}

// NUL counts: it is written as U+FFFD, which is one.
bool isNameChar(char c) {
    auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-' ||
           u == '_' || u >= 0x80 || u == 0;
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

constexpr const char* kReplacement = "\xEF\xBF\xBD";

// Whether a style rule's prelude chains more compound selectors or combinators than `limit` in
// one of its comma-separated selectors. Words inside parentheses count too: a few extra for
// ":nth-child(2n + 1)" cost nothing, and nested selectors in ":not(...)" are parsed all the same.
bool tooManySteps(std::string_view p, std::size_t limit) {
    std::size_t compounds = 0, combinators = 0;
    bool inCompound = false;
    int parens = 0, brackets = 0;
    auto word = [&] {
        if (!inCompound) ++compounds;
        inCompound = true;
    };
    std::size_t k = 0;
    while (k < p.size()) {
        if (compounds > limit || combinators > limit) return true;
        char c = p[k];
        if (c == '/' && k + 1 < p.size() && p[k + 1] == '*') {
            std::size_t end = p.find("*/", k + 2);
            k = end == std::string_view::npos ? p.size() : end + 2;
            inCompound = false;
            continue;
        }
        if (c == '"' || c == '\'') {
            for (++k; k < p.size() && p[k] != c; ++k)
                if (p[k] == '\\') ++k;
            ++k;
            word();
            continue;
        }
        if (c == '\\') {
            k += 2;
            word();
            continue;
        }
        ++k;
        if (brackets > 0) {
            if (c == '[') ++brackets;
            if (c == ']') --brackets;
            continue;
        }
        if (c == '[') {
            ++brackets;
            word();
        } else if (c == ',' && parens == 0) {
            compounds = combinators = 0;
            inCompound = false;
        } else if (isSpace(c)) {
            inCompound = false;
        } else if (c == '>' || c == '+' || c == '~') {
            inCompound = false;
            ++combinators;
        } else {
            if (c == '(') ++parens;
            if (c == ')' && parens > 0) --parens;
            word();
        }
    }
    return compounds > limit || combinators > limit;
}

bool isAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return s;
}

std::string lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = lower(c);
    return out;
}

// Whether s holds `what` (lower case) in any case.
bool containsFolded(std::string_view s, std::string_view what) {
    if (what.empty() || s.size() < what.size()) return what.empty();
    for (std::size_t i = 0; i + what.size() <= s.size(); ++i) {
        std::size_t k = 0;
        while (k < what.size() && lower(s[i + k]) == what[k]) ++k;
        if (k == what.size()) return true;
    }
    return false;
}

// The declaration without its comments, which the engine strips before it reads any.
std::string withoutComments(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        if (s[i] == '/' && i + 1 < s.size() && s[i + 1] == '*') {
            std::size_t end = s.find("*/", i + 2);
            i = end == std::string_view::npos ? s.size() : end + 2;
            continue;
        }
        out.push_back(s[i++]);
    }
    return out;
}

constexpr std::string_view kDataKeyPrefix = "x-web-data:";
// Steps one page's cycle searches may take in all, and one search; past them a definition is
// taken for part of a cycle.
constexpr std::size_t kMaxSearchSteps = 1u << 20;
constexpr std::size_t kMaxStepsPerSearch = 1u << 12;
constexpr std::size_t kMaxPreviewDepth = 256;

}  // namespace

bool WebPageStyleState::reaches(const std::set<std::string>& from, const std::string& target) {
    std::vector<const std::string*> pending;
    std::set<std::string_view> seen;
    for (const auto& name : from) pending.push_back(&name);
    std::size_t steps = 0;
    while (!pending.empty()) {
        const std::string& name = *pending.back();
        pending.pop_back();
        if (name == target) return true;
        if (++steps > kMaxStepsPerSearch || ++searchSteps_ > kMaxSearchSteps) return true;
        if (!seen.insert(name).second) continue;
        auto found = properties_.find(name);
        if (found == properties_.end()) continue;
        for (const auto& next : found->second.refs) pending.push_back(&next);
    }
    return false;
}

std::size_t WebPageStyleState::holds(const std::string& name) const {
    auto found = properties_.find(name);
    if (found == properties_.end() || (!found->second.defined && found->second.previewed == 0))
        return kUnknownValueBytes;
    return std::max({found->second.longest, found->second.previewed, kAssumedValueBytes});
}

namespace {

// The names of the var() in a value, each time it is used, as the engine finds them: from "var("
// (not after a letter or digit) to the next ')'. False when one names no custom property. Past
// `most` uses it stops (each is reckoned at kAssumedValueBytes at least, so more pass the bound).
bool varUses(std::string_view value, std::vector<std::string>& uses,
             std::size_t most = WebPageStyleState::kMaxSubstitutionBytes /
                                    WebPageStyleState::kAssumedValueBytes +
                                1) {
    std::size_t close = 0;  // the ')' after the last "var(" found, searched for once per ')'
    for (std::size_t at = 0; at + 4 <= value.size() && uses.size() < most; ++at) {
        if (lower(value[at]) != 'v' || lower(value[at + 1]) != 'a' || lower(value[at + 2]) != 'r' ||
            value[at + 3] != '(' || (at > 0 && isAlnum(value[at - 1])))
            continue;
        if (close < at + 4) close = value.find(')', at + 4);
        if (close == std::string_view::npos) break;
        std::string used = lowered(trimmed(value.substr(at + 4, close - at - 4)));
        if (used.size() < 2 || used[0] != '-' || used[1] != '-') return false;
        uses.push_back(std::move(used));
    }
    return true;
}

}  // namespace

void WebPageStyleState::preview(std::string_view css) {
    if (css.find("--") == std::string_view::npos) return;
    std::string text = css.find("/*") == std::string_view::npos ? std::string(css) : withoutComments(css);
    struct Definition {
        std::size_t length = 0;
        std::vector<std::string> uses;
    };
    std::map<std::string, std::vector<Definition>> found;
    std::size_t definitions = 0;
    for (std::size_t i = text.find("--"); i != std::string::npos && definitions < 10000;
         i = text.find("--", i + 1)) {
        std::size_t before = i;
        while (before > 0 && isSpace(text[before - 1])) --before;
        if (before > 0 && text[before - 1] != '{' && text[before - 1] != ';') continue;
        std::size_t colon = i + 2;
        while (colon < text.size() && isNameChar(text[colon])) ++colon;
        std::string name = lowered(std::string_view(text).substr(i, colon - i));
        while (colon < text.size() && isSpace(text[colon])) ++colon;
        if (colon >= text.size() || text[colon] != ':') continue;
        std::size_t end = colon + 1;
        for (int parens = 0; end < text.size(); ++end) {
            char c = text[end];
            if (c == '(') ++parens;
            if (c == ')' && parens > 0) --parens;
            if (parens == 0 && (c == ';' || c == '}')) break;
        }
        Definition d;
        std::string_view value = trimmed(std::string_view(text).substr(colon + 1, end - colon - 1));
        // A data: URL is written as a short key.
        d.length = value.size();
        for (std::size_t at = 0; at + 5 <= value.size(); ++at) {
            if (!containsFolded(value.substr(at, 5), "data:")) continue;
            std::size_t stop = value.find_first_of(")\"'", at);
            stop = stop == std::string_view::npos ? value.size() : stop;
            d.length -= std::min(d.length, stop - at);
            d.length += 24;
            at = stop;
        }
        i = end - 1;  // past the value, whatever it holds: each is read once
        if (!varUses(value, d.uses)) continue;
        found[name].push_back(std::move(d));
        ++definitions;
    }
    // What each may hold, as acceptDeclaration reckons it; a name in a cycle holds more than any.
    std::map<std::string, std::size_t> memo;
    std::set<std::string> open;
    std::size_t steps = 0;
    // A chain deeper than kMaxPreviewDepth is taken for too long (no ordinary page nests its
    // properties so; the search is recursive).
    std::function<std::size_t(const std::string&)> reckon = [&](const std::string& name) -> std::size_t {
        if (auto m = memo.find(name); m != memo.end()) return m->second;
        auto defs = found.find(name);
        if (defs == found.end()) return holds(name);
        if (open.count(name) || open.size() >= kMaxPreviewDepth || ++steps > kMaxStepsPerSearch * 16)
            return kMaxSubstitutionBytes + 1;
        open.insert(name);
        std::size_t most = 0;
        for (const auto& d : defs->second) {
            std::size_t total = d.length;
            for (const auto& used : d.uses)
                total =
                    std::min(total + std::max(reckon(used), kAssumedValueBytes), kMaxSubstitutionBytes + 1);
            most = std::max(most, total);
        }
        open.erase(name);
        memo[name] = most;
        return most;
    };
    for (const auto& [name, defs] : found) {
        std::size_t most = reckon(name);
        Property& p = properties_[name];
        p.previewed = std::max(p.previewed, most);
    }
}

bool WebPageStyleState::acceptDeclaration(std::string_view declaration, bool inSheet) {
    // Most declarations have nothing to do with custom properties.
    if (declaration.find("--") == std::string_view::npos && !containsFolded(declaration, "var(")) return true;
    std::string text = declaration.find("/*") == std::string_view::npos ? std::string(declaration)
                                                                        : withoutComments(declaration);
    std::size_t colon = text.find(':');
    if (colon == std::string::npos) return true;
    std::string name = lowered(trimmed(std::string_view(text).substr(0, colon)));
    std::string_view value = trimmed(std::string_view(text).substr(colon + 1));
    const bool custom = name.size() > 2 && name[0] == '-' && name[1] == '-';
    bool hasVar = containsFolded(value, "var(");
    if (!custom && !hasVar) return true;

    std::vector<std::string> uses;
    if (hasVar && !varUses(value, uses)) return false;
    std::size_t longest = value.size();
    std::vector<std::size_t> reckoned;
    for (const auto& used : uses) {
        reckoned.push_back(holds(used));
        longest += reckoned.back();
        if (longest > kMaxSubstitutionBytes) return false;
    }
    if (custom) {
        std::set<std::string> refs(uses.begin(), uses.end());
        if (refs.count(name) || reaches(refs, name)) return false;
        auto found = properties_.find(name);
        if (found != properties_.end() && found->second.assumed > 0 && longest > found->second.assumed)
            return false;
    }
    if (!uses.empty() && longest > kFreeSubstitutionBytes) {
        std::size_t copies = inSheet ? std::max<std::size_t>(pageElements_, 1) : 1;
        if (longest > (kMaxCopiedSubstitutionBytes - copiedBytes_) / copies) return false;
        copiedBytes_ += longest * copies;
    }
    for (std::size_t k = 0; k < uses.size(); ++k) {
        Property& p = properties_[uses[k]];
        p.assumed = std::max(p.assumed, reckoned[k]);
    }
    if (custom) {
        Property& p = properties_[name];
        p.defined = true;
        p.longest = std::max(p.longest, longest);
        p.refs.insert(uses.begin(), uses.end());
    }
    return true;
}

std::optional<std::string> WebPageStyleState::keepDataURL(std::string_view url) {
    auto found = dataKeys_.find(url);
    std::size_t index;
    if (found != dataKeys_.end()) {
        index = found->second;
    } else {
        if (url.size() > kMaxDataURLBytes || dataBytes_ + url.size() > kMaxPageDataBytes) return std::nullopt;
        dataBytes_ += url.size();
        index = dataURLs_.size();
        dataURLs_.emplace_back(url);
        dataKeys_.emplace(dataURLs_.back(), index);
    }
    return std::string(kDataKeyPrefix) + std::to_string(index);
}

const std::string* WebPageStyleState::dataURL(std::string_view reference) const {
    reference = trimmed(reference);
    if (reference.substr(0, kDataKeyPrefix.size()) != kDataKeyPrefix) return nullptr;
    std::size_t index = 0;
    std::string_view digits = reference.substr(kDataKeyPrefix.size());
    if (digits.empty() || digits.size() > 9) return nullptr;
    for (char c : digits) {
        if (c < '0' || c > '9') return nullptr;
        index = index * 10 + std::size_t(c - '0');
    }
    return index < dataURLs_.size() ? &dataURLs_[index] : nullptr;
}

namespace {

class Walker {
  public:
    Walker(std::string_view css, const WebStyleSheetLimits& limits, WebStyleSheetInfo& info,
           WebPageStyleState* state, bool declarationList = false)
        : full_(css),
          in_(css.substr(0, limits.maxBytes)),
          limits_(limits),
          info_(info),
          state_(state),
          declarationList_(declarationList) {
        out_.reserve(in_.size() + 16);
    }

    std::string run() {
        frames_.push_back({declarationList_ ? Kind::Declarations : Kind::Rules, 0});
        std::size_t i = 0;
        while (i < in_.size() && !stopped_)
            i = frames_.back().kind == Kind::Rules ? ruleListStep(i) : declarationsStep(i);
        if (in_.size() < full_.size()) info_.truncated = true;
        if (!stopped_ && frames_.back().kind == Kind::Declarations) endDeclaration(frames_.back());
        if (frames_.size() > 1 && !stopped_) info_.closed = true;
        for (std::size_t k = frames_.size(); k-- > 1;) out_.push_back('}');
        return std::move(out_);
    }

  private:
    enum class Kind { Rules, Declarations };
    struct Frame {
        Kind kind;
        std::size_t blockStart;  // in out_, just past the block's '{'
        // A list of rules: the statement being read, in out_.
        std::size_t statementStart = blockStart;
        std::size_t preludeStart = blockStart;
        bool started = false;
        bool atRule = false;
        // A declaration block: just past the last whole declaration, in out_.
        std::size_t declarationStart = blockStart;
        int parens = 0;
    };

    void resetStatement(Frame& f) {
        f.started = f.atRule = false;
        f.statementStart = out_.size();
    }

    bool countRule() {
        if (info_.rules >= limits_.maxRules) {
            out_.resize(frames_.back().statementStart);
            info_.truncated = true;
            stopped_ = true;
            return false;
        }
        ++info_.rules;
        return true;
    }

    // In a list of rules (the sheet, or an at-rule's block).
    std::size_t ruleListStep(std::size_t i) {
        Frame& f = frames_.back();
        char c = in_[i];
        if (isSpace(c) || startsComment(i)) return token(i, &out_, false);
        if (!f.started) {
            f.started = true;
            f.preludeStart = out_.size();
            f.atRule = c == '@';
        }
        switch (c) {
            case '{':
                return openBlock(i);
            case '}':
                if (frames_.size() > 1) return closeBlock(i);
                // A stray '}' at the top makes the rule it stands in unreadable.
                return dropStatement(i);
            case ';':
                if (!f.atRule) break;
                if (!countRule()) return in_.size();
                out_.push_back(';');
                resetStatement(f);
                return i + 1;
            default:
                break;
        }
        return token(i, &out_, f.atRule);
    }

    std::size_t openBlock(std::size_t i) {
        Frame& f = frames_.back();
        std::size_t depth = frames_.size();
        std::string_view prelude = std::string_view(out_).substr(f.preludeStart);
        if (depth > limits_.maxDepth || prelude.size() > limits_.maxSelectorBytes ||
            (!f.atRule && tooManySteps(prelude, limits_.maxSelectorSteps))) {
            out_.resize(f.statementStart);
            ++info_.droppedRules;
            resetStatement(f);
            return skipBlock(i + 1);
        }
        if (!countRule()) return in_.size();
        out_.push_back('{');
        info_.depth = std::max(info_.depth, depth);
        frames_.push_back({f.atRule ? Kind::Rules : Kind::Declarations, out_.size()});
        return i + 1;
    }

    // The declaration written since f.declarationStart is whole: it goes when the custom property
    // rules make it invalid.
    void endDeclaration(Frame& f) {
        if (!state_ || out_.size() <= f.declarationStart) return;
        std::string_view declaration = std::string_view(out_).substr(f.declarationStart);
        if (declaration.back() == ';') declaration.remove_suffix(1);
        if (!state_->acceptDeclaration(declaration, !declarationList_)) out_.resize(f.declarationStart);
    }

    std::size_t closeBlock(std::size_t i) {
        if (frames_.back().kind == Kind::Declarations) endDeclaration(frames_.back());
        out_.push_back('}');
        frames_.pop_back();
        resetStatement(frames_.back());
        return i + 1;
    }

    std::size_t dropStatement(std::size_t i) {
        Frame& f = frames_.back();
        bool atRule = f.atRule;
        out_.resize(f.statementStart);
        ++info_.droppedRules;
        resetStatement(f);
        for (++i; i < in_.size();) {
            if (atRule && in_[i] == ';') return i + 1;
            if (in_[i] == '{') return skipBlock(i + 1);
            i = token(i, nullptr, false);
        }
        return i;
    }

    // In a style rule's block.
    std::size_t declarationsStep(std::size_t i) {
        Frame& f = frames_.back();
        std::size_t next = i + 1;
        switch (in_[i]) {
            case '}':
                // In a style attribute, a stray '}' makes the declaration it stands in invalid.
                if (frames_.size() == 1) {
                    out_.resize(f.declarationStart);
                    f.parens = 0;
                    return skipDeclaration(i + 1);
                }
                return closeBlock(i);
            case '{':
                // A rule nested in the declarations goes with the declaration it stands in.
                out_.resize(f.declarationStart);
                f.parens = 0;
                ++info_.droppedRules;
                return skipDeclaration(skipBlock(i + 1));
            case ';':
                out_.push_back(';');
                if (f.parens == 0) {
                    endDeclaration(f);
                    f.declarationStart = out_.size();
                }
                break;
            case '(':
                ++f.parens;
                out_.push_back('(');
                break;
            case ')':
                if (f.parens > 0) --f.parens;
                out_.push_back(')');
                break;
            default:
                next = token(i, &out_, false);
                break;
        }
        if (out_.size() - f.blockStart > limits_.maxDeclarationBytes) {
            out_.resize(f.declarationStart);
            info_.truncated = true;
            if (frames_.size() == 1) {
                stopped_ = true;
                return in_.size();
            }
            next = skipBlock(next);
            out_.push_back('}');
            frames_.pop_back();
            resetStatement(frames_.back());
        }
        return next;
    }

    // Past the '}' that closes the block whose '{' is just before i.
    std::size_t skipBlock(std::size_t i) {
        std::size_t depth = 1;
        while (i < in_.size()) {
            char c = in_[i];
            if (c == '{') {
                ++depth;
            } else if (c == '}') {
                if (--depth == 0) return i + 1;
            } else {
                i = token(i, nullptr, false);
                continue;
            }
            ++i;
        }
        return i;
    }

    // Past the ';' that ends the declaration, or at the '}' that ends its block.
    std::size_t skipDeclaration(std::size_t i) {
        while (i < in_.size()) {
            char c = in_[i];
            if (c == ';') return i + 1;
            if (c == '}') return i;
            i = c == '{' ? skipBlock(i + 1) : token(i, nullptr, false);
        }
        return i;
    }

    // ------------------------------------------------------------------------------------------
    // Tokens. Each reads one from i, writes it to sink when there is one, and returns the
    // position past it. atPrelude: inside an at-rule's prelude, which the engine ends at the
    // first ';' it sees, in a string or not.

    bool startsComment(std::size_t i) const {
        return in_[i] == '/' && i + 1 < in_.size() && in_[i + 1] == '*';
    }

    // "url(" opening an unquoted URL.
    bool startsURL(std::size_t i) const {
        if (in_.size() - i < 4 || (i > 0 && isNameChar(in_[i - 1]))) return false;
        for (std::size_t k = 0; k < 4; ++k)
            if (lower(in_[i + k]) != "url("[k]) return false;
        std::size_t k = i + 4;
        while (k < in_.size() && isSpace(in_[k])) ++k;
        return k == in_.size() || (in_[k] != '"' && in_[k] != '\'');
    }

    std::size_t token(std::size_t i, std::string* sink, bool atPrelude) {
        char c = in_[i];
        if (startsComment(i)) return comment(i, sink);
        if (c == '"' || c == '\'') return string(i, sink, atPrelude);
        if (c == '\\') return escape(i, sink, atPrelude);
        if ((c == 'u' || c == 'U') && state_)
            if (std::size_t end = dataURL(i, sink)) return end;
        if ((c == 'u' || c == 'U') && startsURL(i)) return url(i, sink, atPrelude);
        if (sink) put(*sink, c);
        return i + 1;
    }

    static void put(std::string& sink, char c) {
        if (c == '\0')
            sink += kReplacement;
        else
            sink.push_back(c);
    }

    std::size_t comment(std::size_t i, std::string* sink) {
        std::size_t end = in_.find("*/", i + 2);
        bool terminated = end != std::string_view::npos;
        std::size_t stop = terminated ? end + 2 : in_.size();
        if (!sink) return stop;
        // The engine strips comments and would join a '/' before and a '*' after into a new one.
        if (!sink->empty() && sink->back() == '/' && stop < in_.size() && in_[stop] == '*') {
            sink->push_back(' ');
            return stop;
        }
        if (comments_++ >= limits_.maxComments) return stop;
        for (std::size_t k = i; k < stop; ++k) put(*sink, in_[k]);
        if (!terminated) {
            *sink += "*/";
            info_.closed = true;
        }
        return stop;
    }

    std::size_t string(std::size_t i, std::string* sink, bool atPrelude) {
        char quote = in_[i];
        if (sink) sink->push_back(quote);
        std::size_t j = i + 1;
        while (j < in_.size()) {
            char c = in_[j];
            if (c == quote) {
                if (sink) sink->push_back(quote);
                return j + 1;
            }
            if (isNewline(c)) return j;  // a bad string ends before the line break
            if (c == '\\' && j + 1 < in_.size() && isNewline(in_[j + 1])) {
                // A line continuation: "\\\r\n" is one.
                std::size_t n = in_[j + 1] == '\r' && j + 2 < in_.size() && in_[j + 2] == '\n' ? 3 : 2;
                if (sink) sink->append(in_.substr(j, n));
                j += n;
                continue;
            }
            if (c == '\\') {
                j = escape(j, sink, atPrelude);
                continue;
            }
            if (sink) writeQuoted(*sink, c, atPrelude, "\\7b ", "\\7d ", "\\*", "\\3b ");
            ++j;
        }
        if (sink) {
            sink->push_back(quote);
            info_.closed = true;
        }
        return j;
    }

    // A url() holding a data: URL, quoted or not, read whole (from the sheet's text past the byte
    // bound if need be) and written as its key; 0 when there is none at i.
    std::size_t dataURL(std::size_t i, std::string* sink) {
        if (in_.size() - i < 4 || (i > 0 && isNameChar(in_[i - 1]))) return 0;
        for (std::size_t k = 0; k < 4; ++k)
            if (lower(in_[i + k]) != "url("[k]) return 0;
        std::size_t k = i + 4;
        while (k < full_.size() && isSpace(full_[k])) ++k;
        char quote = k < full_.size() && (full_[k] == '"' || full_[k] == '\'') ? full_[k] : 0;
        std::size_t from = quote ? k + 1 : k;
        if (full_.size() - from < 5) return 0;
        for (std::size_t d = 0; d < 5; ++d)
            if (lower(full_[from + d]) != "data:"[d]) return 0;
        // Its end, within what the sheet may hold of data: URLs.
        const std::size_t limit = std::min(full_.size(), in_.size() + (limits_.maxDataBytes - dataBytes_));
        std::size_t to = from;
        if (quote) {
            while (to < limit && full_[to] != quote && !isNewline(full_[to])) to += full_[to] == '\\' ? 2 : 1;
            if (to >= limit || full_[to] != quote) return 0;
        } else {
            while (to < limit && full_[to] != ')' && !isSpace(full_[to]) && full_[to] != '"' &&
                   full_[to] != '\'' && full_[to] != '(')
                ++to;
        }
        std::size_t end = quote ? to + 1 : to;
        while (end < limit && isSpace(full_[end])) ++end;
        if (end >= limit || full_[end] != ')') return 0;
        ++end;
        std::string_view text = full_.substr(from, to - from);
        if (sink) {
            std::optional<std::string> key;
            if (dataBytes_ + text.size() <= limits_.maxDataBytes) key = state_->keepDataURL(text);
            *sink += "url(";
            if (key) *sink += *key;
            *sink += ")";
        }
        // What the URL took is not counted in the sheet's bytes.
        std::size_t taken = end - i;
        dataBytes_ += std::min(taken, limits_.maxDataBytes - dataBytes_);
        in_ = full_.substr(0, std::min(full_.size(), limits_.maxBytes + dataBytes_));
        return end;
    }

    std::size_t url(std::size_t i, std::string* sink, bool atPrelude) {
        if (sink) sink->append(in_.substr(i, 4));
        std::size_t j = i + 4;
        while (j < in_.size()) {
            char c = in_[j];
            if (c == ')') {
                if (sink) sink->push_back(')');
                return j + 1;
            }
            if (c == '\\') {
                j = escape(j, sink, atPrelude);
                continue;
            }
            if (sink) writeQuoted(*sink, c, atPrelude, "%7B", "%7D", "%2A", "%3B");
            ++j;
        }
        if (sink) {
            sink->push_back(')');
            info_.closed = true;
        }
        return j;
    }

    // A character inside a string or url(): the engine reads braces there as blocks, and "/*"
    // as a comment.
    static void writeQuoted(std::string& sink, char c, bool atPrelude, const char* open, const char* close,
                            const char* star, const char* semicolon) {
        if (c == '{')
            sink += open;
        else if (c == '}')
            sink += close;
        else if (c == '*' && !sink.empty() && sink.back() == '/')
            sink += star;
        else if (c == ';' && atPrelude)
            sink += semicolon;
        else
            put(sink, c);
    }

    std::size_t escape(std::size_t i, std::string* sink, bool atPrelude) {
        // At the end it escapes nothing; kept, it would escape what closes the open pieces.
        if (i + 1 >= in_.size()) return i + 1;
        if (isNewline(in_[i + 1])) {
            if (sink) sink->push_back('\\');
            return i + 1;
        }
        char c = in_[i + 1];
        if (sink) {
            if (c == '{')
                *sink += "\\7b ";
            else if (c == '}')
                *sink += "\\7d ";
            else if (c == '/' && i + 2 < in_.size() && in_[i + 2] == '*')
                *sink += "\\2f ";
            else if (c == ';' && atPrelude)
                *sink += "\\3b ";
            else {
                sink->push_back('\\');
                put(*sink, c);
            }
        }
        return i + 2;
    }

    std::string_view full_;
    std::string_view in_;  // the part of full_ the byte bound lets in
    const WebStyleSheetLimits& limits_;
    WebStyleSheetInfo& info_;
    WebPageStyleState* state_;
    bool declarationList_;
    std::size_t dataBytes_ = 0;  // of data: URLs read
    std::string out_;
    std::vector<Frame> frames_;
    std::size_t comments_ = 0;
    bool stopped_ = false;
};

}  // namespace

std::string boundedStyleSheet(std::string_view css, const WebStyleSheetLimits& limits,
                              WebStyleSheetInfo* info, WebPageStyleState* state) {
    WebStyleSheetInfo local;
    WebStyleSheetInfo& result = info ? *info : local;
    result = {};
    if (state) state->preview(css.substr(0, limits.maxBytes));
    return Walker(css, limits, result, state).run();
}

std::string boundedDeclarations(std::string_view declarations, WebPageStyleState* state) {
    WebStyleSheetLimits limits;
    limits.maxBytes = limits.maxDeclarationBytes;
    WebStyleSheetInfo info;
    if (state) state->preview(declarations.substr(0, limits.maxBytes));
    return Walker(declarations, limits, info, state, true).run();
}

}  // namespace detail
