#pragma once
// The parser of the layout visual format ("H:|-[title]-8-[badge(==24)]-|"), to a plain
// description that NSLayoutConstraint turns into constraints once names are resolved.
//
// Grammar (spaces between tokens are allowed):
//   format      := (("H" | "V") ":")? ("|" connection)? view (connection view)* (connection "|")?
//   connection  := ""                         flush, spacing 0
//                | "-"                        the standard spacing
//                | "-" simple "-"             a number or a metric name
//                | "-" "(" predicates ")" "-"
//   view        := "[" name ("(" predicates ")")? "]"
//   predicates  := predicate ("," predicate)*
//   predicate   := ("==" | "<=" | ">=")? operand ("@" operand)?
//   operand     := number | name              a name is a metric, or a view in a view's size
// Numbers inside parentheses may carry a sign. Any other input is an error with its position;
// the parser never throws and never reads past the end of the text.

#include <optional>
#include <string>
#include <vector>

namespace detail {

struct VisualFormatOperand {
    std::optional<double> number;  // set for a literal
    std::string name;              // set for a metric or view name
};

struct VisualFormatPredicate {
    int relation = 0;  // -1 <=, 0 ==, 1 >=
    VisualFormatOperand object;
    std::optional<VisualFormatOperand> priority;
};

struct VisualFormatConnection {
    enum class Kind { Flush, Standard, Predicates };
    Kind kind = Kind::Flush;
    std::vector<VisualFormatPredicate> predicates;
};

struct VisualFormatView {
    std::string name;
    std::vector<VisualFormatPredicate> sizePredicates;
};

struct VisualFormat {
    bool vertical = false;
    bool leadingSuperview = false;
    bool trailingSuperview = false;
    std::vector<VisualFormatView> views;
    // views.size() + 1 slots: [0] joins the leading superview to the first view, [i] joins view
    // i-1 to view i, and the last joins the last view to the trailing superview. The two outer
    // slots mean something only when that superview bar is present.
    std::vector<VisualFormatConnection> connections;
};

struct VisualFormatError {
    std::string message;
    std::size_t position = 0;  // byte offset in the format
};

// Parses the format; on failure answers nullopt and fills `error` (when given).
std::optional<VisualFormat> parseVisualFormat(const std::string& format, VisualFormatError* error = nullptr);

}  // namespace detail
