#pragma once
// The parsed form of an NSPredicate, for code that translates predicates into another query
// language (the object store turns them into SQL). Read-only: predicates never change once made.

#include <memory>
#include <string>
#include <vector>

#include "foundation/NSPredicate.h"
#include "foundation/Value.h"

#include <unicode/uversion.h>

U_NAMESPACE_BEGIN
class RegexPattern;
U_NAMESPACE_END

namespace detail {

struct Operand {
    // Function: one of min, max, sum, average, count applied to `arguments[0]`.
    enum class Kind { Self, Constant, KeyPath, Function } kind = Kind::Constant;
    Value constant;
    std::vector<std::string> path;
    std::string function;
    std::vector<Operand> arguments;
};

enum class Operator {
    Matches,
    Like,
    Contains,
    BeginsWith,
    EndsWith,
    Equal,
    NotEqual,
    Less,
    LessEqual,
    Greater,
    GreaterEqual,
    In
};

struct PredicateNode {
    enum class Kind { True, False, And, Or, Not, Compare, Block } kind = Kind::True;
    std::vector<std::shared_ptr<const PredicateNode>> children;
    Operand lhs, rhs;
    Operator op = Operator::Equal;
    bool caseInsensitive = false;
    bool diacriticInsensitive = false;
    // MATCHES and LIKE against a constant: the pattern compiled once (shared by all threads;
    // each evaluation makes its own matcher).
    std::shared_ptr<const icu::RegexPattern> pattern;
    NSPredicate::Block block;
};

}  // namespace detail
