#include "foundation/NSPredicate.h"

#include "foundation/NSPredicateNode.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <cctype>
#include <optional>

#include "foundation/NSLog.h"
#include "foundation/NSString.h"

namespace {

using detail::Operand;
using detail::Operator;
using detail::PredicateNode;
using NodeRef = std::shared_ptr<const PredicateNode>;

// ---------------------------------------------------------------------------------------------
// Tokens

inline bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
inline bool isAlpha(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
inline bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

struct Token {
    enum class Kind { End, Word, Number, String, Argument, Symbol } kind = Kind::End;
    std::string text;  // the word, the symbol, the string's contents, the argument letter
};

class Lexer {
  public:
    explicit Lexer(std::string_view s) : s_(s) {}

    std::optional<Token> next() {
        while (i_ < s_.size() && isSpace(s_[i_])) ++i_;
        Token t;
        if (i_ >= s_.size()) return t;
        char c = s_[i_];
        if (isAlpha(c) || c == '_' || c == '$' || c == '@') {
            std::size_t start = i_;
            while (i_ < s_.size() && ((isAlpha(s_[i_]) || isDigit(s_[i_])) || s_[i_] == '_' ||
                                      s_[i_] == '.' || s_[i_] == '$' || s_[i_] == '@')) {
                ++i_;
            }
            t.kind = Token::Kind::Word;
            t.text = std::string(s_.substr(start, i_ - start));
            return t;
        }
        if (isDigit(c) || (c == '-' && i_ + 1 < s_.size() && isDigit(s_[i_ + 1]))) {
            std::size_t start = i_++;
            while (i_ < s_.size() && (isDigit(s_[i_]) || s_[i_] == '.' || s_[i_] == 'e' || s_[i_] == 'E')) {
                ++i_;
            }
            t.kind = Token::Kind::Number;
            t.text = std::string(s_.substr(start, i_ - start));
            return t;
        }
        if (c == '"' || c == '\'') {
            char quote = c;
            ++i_;
            std::string text;
            while (i_ < s_.size() && s_[i_] != quote) {
                if (s_[i_] == '\\' && i_ + 1 < s_.size()) {
                    char e = s_[++i_];
                    text.push_back(e == 'n' ? '\n' : e == 't' ? '\t' : e);
                    ++i_;
                    continue;
                }
                text.push_back(s_[i_++]);
            }
            if (i_ >= s_.size()) return std::nullopt;  // unterminated
            ++i_;
            t.kind = Token::Kind::String;
            t.text = std::move(text);
            return t;
        }
        if (c == '%') {
            if (i_ + 1 >= s_.size()) return std::nullopt;
            char a = s_[i_ + 1];
            if (a != '@' && a != 'd' && a != 'i' && a != 'f' && a != 'K' && a != 'u' && a != 'g')
                return std::nullopt;
            i_ += 2;
            t.kind = Token::Kind::Argument;
            t.text = std::string(1, a);
            return t;
        }
        static const char* const symbols[] = {"==", "!=", "<>", "<=", "=<", ">=", "=>", "&&", "||",
                                              "=",  "<",  ">",  "!",  "(",  ")",  "[",  "]"};
        for (const char* sym : symbols) {
            std::string_view v(sym);
            if (s_.substr(i_, v.size()) == v) {
                i_ += v.size();
                t.kind = Token::Kind::Symbol;
                t.text = std::string(v);
                return t;
            }
        }
        return std::nullopt;
    }

  private:
    std::string_view s_;
    std::size_t i_ = 0;
};

std::string upper(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    return s;
}

// ---------------------------------------------------------------------------------------------
// Parser (recursive descent over the token list)

class Parser {
  public:
    Parser(std::vector<Token> tokens, const std::vector<Value>& args)
        : tokens_(std::move(tokens)), args_(args) {}

    NodeRef parse() {
        NodeRef root = parseOr();
        if (!root || peek().kind != Token::Kind::End) return nullptr;
        return root;
    }

  private:
    const Token& peek(std::size_t ahead = 0) const {
        static const Token end;
        return pos_ + ahead < tokens_.size() ? tokens_[pos_ + ahead] : end;
    }
    bool isWord(const Token& t, const char* word) const {
        return t.kind == Token::Kind::Word && upper(t.text) == word;
    }
    bool isSymbol(const Token& t, const char* symbol) const {
        return t.kind == Token::Kind::Symbol && t.text == symbol;
    }

    NodeRef combine(PredicateNode::Kind kind, NodeRef a, NodeRef b) {
        auto node = std::make_shared<PredicateNode>();
        node->kind = kind;
        node->children = {std::move(a), std::move(b)};
        return node;
    }

    NodeRef parseOr() {
        NodeRef left = parseAnd();
        while (left && (isWord(peek(), "OR") || isSymbol(peek(), "||"))) {
            ++pos_;
            NodeRef right = parseAnd();
            if (!right) return nullptr;
            left = combine(PredicateNode::Kind::Or, left, right);
        }
        return left;
    }

    NodeRef parseAnd() {
        NodeRef left = parseNot();
        while (left && (isWord(peek(), "AND") || isSymbol(peek(), "&&"))) {
            ++pos_;
            NodeRef right = parseNot();
            if (!right) return nullptr;
            left = combine(PredicateNode::Kind::And, left, right);
        }
        return left;
    }

    NodeRef parseNot() {
        if (++depth_ > 200) return nullptr;  // nesting that deep is not a real predicate
        NodeRef result;
        if (isWord(peek(), "NOT") || isSymbol(peek(), "!")) {
            ++pos_;
            NodeRef inner = parseNot();
            if (inner) {
                auto node = std::make_shared<PredicateNode>();
                node->kind = PredicateNode::Kind::Not;
                node->children = {inner};
                result = node;
            }
        } else if (isSymbol(peek(), "(")) {
            ++pos_;
            NodeRef inner = parseOr();
            if (inner && isSymbol(peek(), ")")) {
                ++pos_;
                result = inner;
            }
        } else if (isWord(peek(), "TRUEPREDICATE") || isWord(peek(), "FALSEPREDICATE")) {
            auto node = std::make_shared<PredicateNode>();
            node->kind =
                isWord(peek(), "TRUEPREDICATE") ? PredicateNode::Kind::True : PredicateNode::Kind::False;
            ++pos_;
            result = node;
        } else {
            result = parseComparison();
        }
        --depth_;
        return result;
    }

    static bool isFunctionName(const std::string& upperWord) {
        return upperWord == "MIN" || upperWord == "MAX" || upperWord == "SUM" || upperWord == "AVERAGE" ||
               upperWord == "COUNT";
    }

    std::optional<Operand> parseOperand() {
        if (++operandDepth_ > 64) return std::nullopt;
        struct Leave {
            int& depth;
            ~Leave() { --depth; }
        } leave{operandDepth_};
        const Token t = peek();
        Operand o;
        switch (t.kind) {
            case Token::Kind::Word: {
                std::string word = upper(t.text);
                ++pos_;
                if (word == "SELF") {
                    o.kind = Operand::Kind::Self;
                } else if (word == "TRUE" || word == "YES") {
                    o.constant = Value(true);
                } else if (word == "FALSE" || word == "NO") {
                    o.constant = Value(false);
                } else if (word == "NIL" || word == "NULL") {
                    o.constant = Value();
                } else if (isSymbol(peek(), "(") && isFunctionName(word)) {
                    // min(x), max(x), sum(x), average(x), count(x)
                    ++pos_;
                    auto inner = parseOperand();
                    if (!inner || !isSymbol(peek(), ")")) return std::nullopt;
                    ++pos_;
                    o.kind = Operand::Kind::Function;
                    o.function = NSString::lowercaseString(t.text);
                    o.arguments.push_back(std::move(*inner));
                } else {
                    o.kind = Operand::Kind::KeyPath;
                    o.path = NSString::componentsSeparatedByString(t.text, ".");
                    if (!o.path.empty() && upper(o.path.front()) == "SELF") o.path.erase(o.path.begin());
                    for (const auto& part : o.path) {
                        if (part.empty()) return std::nullopt;
                    }
                }
                return o;
            }
            case Token::Kind::Number: {
                ++pos_;
                if (t.text.find_first_of(".eE") != std::string::npos) {
                    o.constant = Value(NSString::doubleValue(t.text));
                } else {
                    o.constant = Value(NSString::longLongValue(t.text));
                }
                return o;
            }
            case Token::Kind::String:
                ++pos_;
                o.constant = Value(t.text);
                return o;
            case Token::Kind::Argument: {
                ++pos_;
                if (nextArg_ >= args_.size()) return std::nullopt;
                const Value& arg = args_[nextArg_++];
                if (t.text == "K") {
                    if (!arg.isString()) return std::nullopt;
                    o.kind = Operand::Kind::KeyPath;
                    o.path = NSString::componentsSeparatedByString(*arg.string(), ".");
                } else {
                    o.constant = arg;
                }
                return o;
            }
            default:
                return std::nullopt;
        }
    }

    std::optional<Operator> parseOperator() {
        const Token t = peek();
        static const std::pair<const char*, Operator> words[] = {
            {"MATCHES", Operator::Matches},   {"LIKE", Operator::Like},
            {"CONTAINS", Operator::Contains}, {"BEGINSWITH", Operator::BeginsWith},
            {"ENDSWITH", Operator::EndsWith}, {"IN", Operator::In},
        };
        static const std::pair<const char*, Operator> symbols[] = {
            {"==", Operator::Equal},        {"=", Operator::Equal},   {"!=", Operator::NotEqual},
            {"<>", Operator::NotEqual},     {"<", Operator::Less},    {"<=", Operator::LessEqual},
            {"=<", Operator::LessEqual},    {">", Operator::Greater}, {">=", Operator::GreaterEqual},
            {"=>", Operator::GreaterEqual},
        };
        if (t.kind == Token::Kind::Word) {
            for (auto [w, op] : words) {
                if (isWord(t, w)) {
                    ++pos_;
                    return op;
                }
            }
        } else if (t.kind == Token::Kind::Symbol) {
            for (auto [s, op] : symbols) {
                if (t.text == s) {
                    ++pos_;
                    return op;
                }
            }
        }
        return std::nullopt;
    }

    NodeRef parseComparison() {
        auto lhs = parseOperand();
        if (!lhs) return nullptr;
        auto op = parseOperator();
        if (!op) return nullptr;
        auto node = std::make_shared<PredicateNode>();
        node->kind = PredicateNode::Kind::Compare;
        node->op = *op;
        // Modifiers: [c], [d], [cd].
        if (isSymbol(peek(), "[")) {
            if (peek(1).kind != Token::Kind::Word || !isSymbol(peek(2), "]")) return nullptr;
            for (char c : peek(1).text) {
                if (c == 'c' || c == 'C') {
                    node->caseInsensitive = true;
                } else if (c == 'd' || c == 'D') {
                    node->diacriticInsensitive = true;
                } else if (c != 'n' && c != 'N') {
                    return nullptr;
                }
            }
            pos_ += 3;
        }
        auto rhs = parseOperand();
        if (!rhs) return nullptr;
        node->lhs = std::move(*lhs);
        node->rhs = std::move(*rhs);
        if ((node->op == Operator::Matches || node->op == Operator::Like) &&
            node->rhs.kind == Operand::Kind::Constant && node->rhs.constant.isString()) {
            node->pattern = compile(*node->rhs.constant.string(), node->op, node->caseInsensitive,
                                    node->diacriticInsensitive);
        }
        return node;
    }

  public:
    static std::string stripMarks(const std::string& s) {
        auto stripped = NSString::applyingTransform(s, "NFD; [:Mn:] Remove; NFC");
        return stripped ? *stripped : s;
    }

    // A LIKE pattern becomes a regular expression: "*" any run, "?" one character.
    static std::shared_ptr<const icu::RegexPattern> compile(const std::string& source, Operator op,
                                                            bool caseInsensitive, bool diacriticInsensitive) {
        std::string pattern = diacriticInsensitive ? stripMarks(source) : source;
        if (op == Operator::Like) {
            std::string regex;
            for (char c : pattern) {
                if (c == '*') {
                    regex += ".*";
                } else if (c == '?') {
                    regex += ".";
                } else {
                    regex += NSRegularExpressionEscape(c);
                }
            }
            pattern = regex;
        }
        std::u16string u = NSString::utf16(pattern);
        UParseError parseError{};
        UErrorCode status = U_ZERO_ERROR;
        uint32_t flags =
            (caseInsensitive ? UREGEX_CASE_INSENSITIVE : 0) | (op == Operator::Like ? UREGEX_DOTALL : 0);
        std::shared_ptr<icu::RegexPattern> compiled(icu::RegexPattern::compile(
            icu::UnicodeString(u.data(), static_cast<int32_t>(u.size())), flags, parseError, status));
        if (U_FAILURE(status)) return nullptr;
        return compiled;
    }

  private:
    static std::string NSRegularExpressionEscape(char c) {
        if (std::string_view("\\*?+[](){}^$|./-").find(c) != std::string_view::npos)
            return std::string("\\") + c;
        return std::string(1, c);
    }

    std::vector<Token> tokens_;
    const std::vector<Value>& args_;
    std::size_t pos_ = 0;
    std::size_t nextArg_ = 0;
    int depth_ = 0;
    int operandDepth_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Evaluation

int orderOf(const Value& a, const Value& b) {
    if (a.isNumber() && b.isNumber()) return a.number()->compare(*b.number());
    if (a.isString() && b.isString()) return NSString::compare(*a.string(), *b.string(), 0);
    if (a.isDate() && b.isDate()) return *a.date() < *b.date() ? -1 : (*b.date() < *a.date() ? 1 : 0);
    return 0;
}

// A function over a collection; a single value stands for a collection of itself.
Value applyFunction(const std::string& function, const Value& argument) {
    std::vector<Value> items;
    if (const Array* array = argument.array()) {
        items.assign(array->begin(), array->end());
    } else if (argument.isSomething()) {
        items.push_back(argument);
    }
    if (function == "count") return Value(static_cast<long long>(items.size()));
    if (items.empty()) return Value();
    if (function == "min" || function == "max") {
        Value best = items.front();
        for (const Value& v : items) {
            int order = orderOf(v, best);
            if ((function == "min" && order < 0) || (function == "max" && order > 0)) best = v;
        }
        return best;
    }
    double sum = 0;
    for (const Value& v : items) sum += v.doubleValue();
    if (function == "sum") return Value(sum);
    return Value(sum / static_cast<double>(items.size()));
}

Value resolve(const Operand& o, const Value& object) {
    switch (o.kind) {
        case Operand::Kind::Self:
            return object;
        case Operand::Kind::Constant:
            return o.constant;
        case Operand::Kind::KeyPath: {
            Value current = object;
            for (const std::string& key : o.path) {
                if (auto obj = current.object()) {
                    // Objects answer their keys themselves (managed objects, records).
                    Value next = obj->valueForKey(key);
                    current = std::move(next);
                    continue;
                }
                if (!current.isDictionary()) return Value();
                Value next = current[key];
                current = std::move(next);
            }
            return current;
        }
        case Operand::Kind::Function:
            return applyFunction(o.function, o.arguments.empty() ? Value() : resolve(o.arguments[0], object));
    }
    return Value();
}

bool fullMatch(const icu::RegexPattern& pattern, const std::string& text) {
    std::u16string u = NSString::utf16(text);
    icu::UnicodeString input(false, u.data(), static_cast<int32_t>(u.size()));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> m(pattern.matcher(input, status));
    if (U_FAILURE(status) || !m) return false;
    bool matched = m->matches(status);
    return U_SUCCESS(status) && matched;
}

bool compareNode(const PredicateNode& node, const Value& object) {
    Value lhs = resolve(node.lhs, object);
    Value rhs = resolve(node.rhs, object);
    NSStringCompareOptions options = (node.caseInsensitive ? NSCaseInsensitiveSearch : 0) |
                                     (node.diacriticInsensitive ? NSDiacriticInsensitiveSearch : 0);
    switch (node.op) {
        case Operator::Matches:
        case Operator::Like: {
            if (!lhs.isString() || !rhs.isString()) return false;
            std::shared_ptr<const icu::RegexPattern> pattern = node.pattern;
            if (!pattern) {
                pattern =
                    Parser::compile(*rhs.string(), node.op, node.caseInsensitive, node.diacriticInsensitive);
            }
            if (!pattern) return false;
            std::string text = node.diacriticInsensitive ? Parser::stripMarks(*lhs.string()) : *lhs.string();
            return fullMatch(*pattern, text);
        }
        case Operator::In: {
            if (const Array* array = rhs.array()) {
                for (const Value& v : *array) {
                    if (v == lhs) return true;
                }
                return false;
            }
            if (const Dictionary* dictionary = rhs.dictionary()) {
                for (const auto& [key, v] : *dictionary) {
                    if (v == lhs) return true;
                }
                return false;
            }
            if (!lhs.isString() || !rhs.isString()) return false;
            return NSString::rangeOfString(*rhs.string(), *lhs.string(), options).location != NSNotFound;
        }
        case Operator::Contains:
            if (auto array = lhs.array()) {
                for (const Value& v : *array) {
                    if (v == rhs) return true;
                }
                return false;
            }
            if (!lhs.isString() || !rhs.isString()) return false;
            return NSString::rangeOfString(*lhs.string(), *rhs.string(), options).location != NSNotFound;
        case Operator::BeginsWith:
            if (!lhs.isString() || !rhs.isString()) return false;
            return NSString::rangeOfString(*lhs.string(), *rhs.string(), options | NSAnchoredSearch)
                       .location != NSNotFound;
        case Operator::EndsWith:
            if (!lhs.isString() || !rhs.isString()) return false;
            return NSString::rangeOfString(*lhs.string(), *rhs.string(),
                                           options | NSAnchoredSearch | NSBackwardsSearch)
                       .location != NSNotFound;
        case Operator::Equal:
        case Operator::NotEqual: {
            bool equal;
            if (lhs.isString() && rhs.isString() && options) {
                equal = NSString::compare(*lhs.string(), *rhs.string(), options) == NSOrderedSame;
            } else {
                equal = lhs == rhs || (lhs.isNil() && rhs.isNull()) || (lhs.isNull() && rhs.isNil());
            }
            return node.op == Operator::Equal ? equal : !equal;
        }
        case Operator::Less:
        case Operator::LessEqual:
        case Operator::Greater:
        case Operator::GreaterEqual: {
            int order;
            if (lhs.isNumber() && rhs.isNumber()) {
                order = lhs.number()->compare(*rhs.number());
            } else if (lhs.isString() && rhs.isString()) {
                order = NSString::compare(*lhs.string(), *rhs.string(), options);
            } else if (lhs.isDate() && rhs.isDate()) {
                order = *lhs.date() < *rhs.date() ? -1 : (*rhs.date() < *lhs.date() ? 1 : 0);
            } else {
                return false;
            }
            switch (node.op) {
                case Operator::Less:
                    return order < 0;
                case Operator::LessEqual:
                    return order <= 0;
                case Operator::Greater:
                    return order > 0;
                default:
                    return order >= 0;
            }
        }
    }
    return false;
}

bool evaluate(const PredicateNode& node, const Value& object, const Dictionary& bindings) {
    switch (node.kind) {
        case PredicateNode::Kind::True:
            return true;
        case PredicateNode::Kind::False:
            return false;
        case PredicateNode::Kind::And:
            return evaluate(*node.children[0], object, bindings) &&
                   evaluate(*node.children[1], object, bindings);
        case PredicateNode::Kind::Or:
            return evaluate(*node.children[0], object, bindings) ||
                   evaluate(*node.children[1], object, bindings);
        case PredicateNode::Kind::Not:
            return !evaluate(*node.children[0], object, bindings);
        case PredicateNode::Kind::Compare:
            return compareNode(node, object);
        case PredicateNode::Kind::Block:
            return node.block ? node.block(object, bindings) : false;
    }
    return false;
}

}  // namespace

Ref<NSPredicate> NSPredicate::predicateWithFormatArgs(std::string_view format,
                                                      const std::vector<Value>& args) {
    std::vector<Token> tokens;
    Lexer lexer(format);
    while (true) {
        auto t = lexer.next();
        if (!t) {
            tokens.clear();
            break;
        }
        if (t->kind == Token::Kind::End) break;
        tokens.push_back(std::move(*t));
    }
    NodeRef root = tokens.empty() ? nullptr : Parser(std::move(tokens), args).parse();
    if (!root) {
        NSLogLine("Unable to parse the format string \"" + std::string(format) + "\"");
        return nullptr;
    }
    return make<NSPredicate>(std::move(root), std::string(format));
}

Ref<NSPredicate> NSPredicate::predicateWithValue(bool value) {
    auto node = std::make_shared<PredicateNode>();
    node->kind = value ? PredicateNode::Kind::True : PredicateNode::Kind::False;
    return make<NSPredicate>(std::move(node), value ? "TRUEPREDICATE" : "FALSEPREDICATE");
}

Ref<NSPredicate> NSPredicate::predicateWithBlock(Block block) {
    auto node = std::make_shared<PredicateNode>();
    node->kind = PredicateNode::Kind::Block;
    node->block = std::move(block);
    return make<NSPredicate>(std::move(node), "BLOCKPREDICATE");
}

NSPredicate::NSPredicate(std::shared_ptr<const detail::PredicateNode> root, std::string format)
    : root_(std::move(root)), format_(std::move(format)) {}

NSPredicate::~NSPredicate() = default;

bool NSPredicate::evaluateWithObject(const Value& object) const {
    static const Dictionary empty;
    return evaluate(*root_, object, empty);
}

bool NSPredicate::evaluateWithObject(const Value& object, const Dictionary& bindings) const {
    return evaluate(*root_, object, bindings);
}

Array NSPredicate::filteredArrayUsingPredicate(const Array& array) const {
    std::vector<Value> kept;
    for (const Value& v : array) {
        if (evaluateWithObject(v)) kept.push_back(v);
    }
    return Array(std::move(kept));
}
