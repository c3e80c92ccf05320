#include "uikit/VisualFormatParser.h"

#include <cctype>
#include <charconv>
#include <cmath>

namespace detail {

namespace {

class Parser {
  public:
    explicit Parser(const std::string& text) : text_(text) {}

    std::optional<VisualFormat> parse(VisualFormatError* error) {
        VisualFormat result;
        if (!format(result)) {
            if (error) *error = error_;
            return std::nullopt;
        }
        return result;
    }

  private:
    bool format(VisualFormat& out) {
        skipSpace();
        // Orientation: "H:" or "V:" (a view name never starts right after it with a colon).
        if (pos_ + 1 < text_.size() && (text_[pos_] == 'H' || text_[pos_] == 'V')) {
            std::size_t save = pos_;
            char orientation = text_[pos_++];
            skipSpace();
            if (peek() == ':') {
                ++pos_;
                out.vertical = orientation == 'V';
            } else {
                pos_ = save;
            }
        }
        skipSpace();
        VisualFormatConnection leading;
        if (peek() == '|') {
            ++pos_;
            out.leadingSuperview = true;
            if (!connection(leading)) return false;
        }
        out.connections.push_back(leading);
        VisualFormatView first;
        if (!view(first)) return false;
        out.views.push_back(std::move(first));
        for (;;) {
            skipSpace();
            if (atEnd()) {
                out.connections.emplace_back();
                return true;
            }
            VisualFormatConnection link;
            if (!connection(link)) return false;
            skipSpace();
            if (peek() == '|') {
                ++pos_;
                out.trailingSuperview = true;
                out.connections.push_back(std::move(link));
                skipSpace();
                if (!atEnd()) return fail("Expected the end of the format after the superview bar");
                return true;
            }
            if (peek() != '[') {
                return fail(atEnd() ? "A connection must lead to a view or to the superview"
                                    : "Expected a view or the superview bar");
            }
            out.connections.push_back(std::move(link));
            VisualFormatView next;
            if (!view(next)) return false;
            out.views.push_back(std::move(next));
        }
    }

    bool connection(VisualFormatConnection& out) {
        skipSpace();
        if (peek() != '-') {
            out.kind = VisualFormatConnection::Kind::Flush;
            return true;
        }
        ++pos_;
        skipSpace();
        char c = peek();
        if (c == '[' || c == '|') {
            out.kind = VisualFormatConnection::Kind::Standard;
            return true;
        }
        out.kind = VisualFormatConnection::Kind::Predicates;
        if (c == '(') {
            ++pos_;
            if (!predicateList(out.predicates, ')')) return false;
        } else {
            VisualFormatPredicate simple;
            if (!operand(simple.object, false)) return false;
            out.predicates.push_back(std::move(simple));
        }
        skipSpace();
        if (peek() != '-') return fail("Expected '-' after the spacing");
        ++pos_;
        return true;
    }

    bool view(VisualFormatView& out) {
        skipSpace();
        if (peek() != '[') return fail("Expected a view");
        ++pos_;
        skipSpace();
        if (!identifier(out.name)) return fail("Expected a view name");
        skipSpace();
        if (peek() == '(') {
            ++pos_;
            if (!predicateList(out.sizePredicates, ')')) return false;
            skipSpace();
        }
        if (peek() != ']') return fail("Expected ']' to close the view");
        ++pos_;
        return true;
    }

    // After the opening parenthesis; consumes the closing one.
    bool predicateList(std::vector<VisualFormatPredicate>& out, char close) {
        for (;;) {
            VisualFormatPredicate p;
            if (!predicate(p)) return false;
            out.push_back(std::move(p));
            skipSpace();
            char c = peek();
            if (c == ',') {
                ++pos_;
                continue;
            }
            if (c == close) {
                ++pos_;
                return true;
            }
            return fail("Expected ',' or ')' in the predicate list");
        }
    }

    bool predicate(VisualFormatPredicate& out) {
        skipSpace();
        if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '=' &&
            (text_[pos_] == '=' || text_[pos_] == '<' || text_[pos_] == '>')) {
            out.relation = text_[pos_] == '=' ? 0 : text_[pos_] == '<' ? -1 : 1;
            pos_ += 2;
        } else if (peek() == '=' || peek() == '<' || peek() == '>') {
            return fail("Expected a relation (==, <= or >=)");
        }
        if (!operand(out.object, true)) return false;
        skipSpace();
        if (peek() == '@') {
            ++pos_;
            VisualFormatOperand priority;
            if (!operand(priority, false)) return false;
            out.priority = std::move(priority);
        }
        return true;
    }

    bool operand(VisualFormatOperand& out, bool signedNumber) {
        skipSpace();
        char c = peek();
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            identifier(out.name);
            return true;
        }
        std::size_t start = pos_;
        if (signedNumber && (c == '-' || c == '+')) ++pos_;
        std::size_t digits = pos_;
        while (std::isdigit(static_cast<unsigned char>(peek()))) ++pos_;
        if (peek() == '.') {
            ++pos_;
            while (std::isdigit(static_cast<unsigned char>(peek()))) ++pos_;
        }
        if (pos_ == digits || (pos_ == digits + 1 && text_[digits] == '.')) {
            pos_ = start;
            return fail("Expected a number or a name");
        }
        // from_chars reads no sign but '-', and is free of the process locale.
        std::size_t from = text_[start] == '+' ? start + 1 : start;
        double value = 0;
        auto [end, ec] = std::from_chars(text_.data() + from, text_.data() + pos_, value);
        if (ec != std::errc() || end != text_.data() + pos_ || !std::isfinite(value)) {
            pos_ = start;
            return fail("The number is out of range");
        }
        out.number = value;
        return true;
    }

    bool identifier(std::string& out) {
        char c = peek();
        if (!(std::isalpha(static_cast<unsigned char>(c)) || c == '_')) return false;
        std::size_t start = pos_;
        while (std::isalnum(static_cast<unsigned char>(peek())) || peek() == '_') ++pos_;
        out = text_.substr(start, pos_ - start);
        return true;
    }

    void skipSpace() {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    }
    char peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
    bool atEnd() const { return pos_ >= text_.size(); }

    bool fail(const char* message) {
        error_.message = message;
        error_.position = pos_;
        return false;
    }

    const std::string& text_;
    std::size_t pos_ = 0;
    VisualFormatError error_;
};

}  // namespace

std::optional<VisualFormat> parseVisualFormat(const std::string& format, VisualFormatError* error) {
    if (format.find('\0') != std::string::npos) {
        if (error) *error = {"The format contains a NUL character", format.find('\0')};
        return std::nullopt;
    }
    return Parser(format).parse(error);
}

}  // namespace detail
