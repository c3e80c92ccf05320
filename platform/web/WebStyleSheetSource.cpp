#include "web/WebStyleSheetSource.h"

#include <algorithm>
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

class Walker {
  public:
    Walker(std::string_view css, const WebStyleSheetLimits& limits, WebStyleSheetInfo& info)
        : in_(css.substr(0, limits.maxBytes)), limits_(limits), info_(info) {
        if (in_.size() < css.size()) info_.truncated = true;
        out_.reserve(in_.size() + 16);
    }

    std::string run() {
        frames_.push_back({Kind::Rules, 0});
        std::size_t i = 0;
        while (i < in_.size() && !stopped_)
            i = frames_.back().kind == Kind::Rules ? ruleListStep(i) : declarationsStep(i);
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

    std::size_t closeBlock(std::size_t i) {
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
                return closeBlock(i);
            case '{':
                // A rule nested in the declarations goes with the declaration it stands in.
                out_.resize(f.declarationStart);
                f.parens = 0;
                ++info_.droppedRules;
                return skipDeclaration(skipBlock(i + 1));
            case ';':
                out_.push_back(';');
                if (f.parens == 0) f.declarationStart = out_.size();
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

    std::string_view in_;
    const WebStyleSheetLimits& limits_;
    WebStyleSheetInfo& info_;
    std::string out_;
    std::vector<Frame> frames_;
    std::size_t comments_ = 0;
    bool stopped_ = false;
};

}  // namespace

std::string boundedStyleSheet(std::string_view css, const WebStyleSheetLimits& limits,
                              WebStyleSheetInfo* info) {
    WebStyleSheetInfo local;
    WebStyleSheetInfo& result = info ? *info : local;
    result = {};
    return Walker(css, limits, result).run();
}

}  // namespace detail
