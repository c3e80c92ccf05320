#pragma once
// Predicates: conditions evaluated against an object. The format language is a small part of the
// platform's:
//
//   predicate  := or
//   or         := and (("OR" | "||") and)*
//   and        := not (("AND" | "&&") not)*
//   not        := ("NOT" | "!") not | "(" predicate ")" | "TRUEPREDICATE" | "FALSEPREDICATE" | comparison
//   comparison := operand operator["[c]" | "[d]" | "[cd]"] operand
//   operator   := MATCHES LIKE CONTAINS BEGINSWITH ENDSWITH IN == = != <> < <= =< > >= =>
//   operand    := SELF | %@ | %d | %i | %f | %K (a key) | "text" | 'text' | number | TRUE | YES | FALSE
//                 | NO | NIL | NULL | key.path | function "(" operand ")"
//   function   := min | max | sum | average | count
//
// Keywords are case-insensitive. MATCHES is a regular expression (ICU syntax) that must match the
// whole text; LIKE takes "*" and "?" wildcards. IN tests membership in an array (or a
// dictionary's values, or a substring of a text). A key path reads nested dictionary values, and
// an object's own keys through its valueForKey. A function of a single value is that value (the
// count of one); of an array, the array's minimum, maximum, sum, average or count. A string
// operator given something other than text answers NO. Predicates are immutable and may
// be evaluated from any thread.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/NSObject.h"
#include "foundation/Value.h"

namespace detail {
struct PredicateNode;
}

class NSPredicate : public NSObject {
  public:
    using Block = std::function<bool(const Value& object, const Dictionary& bindings)>;

    // nullptr (and a log line) when the format does not parse.
    template <class... Args>
    static Ref<NSPredicate> predicateWithFormat(std::string_view format, const Args&... args) {
        return predicateWithFormatArgs(format, std::vector<Value>{Value(args)...});
    }
    static Ref<NSPredicate> predicateWithFormatArgs(std::string_view format, const std::vector<Value>& args);
    static Ref<NSPredicate> predicateWithValue(bool value);
    static Ref<NSPredicate> predicateWithBlock(Block block);

    // For make<>; use the factories above.
    explicit NSPredicate(std::shared_ptr<const detail::PredicateNode> root, std::string format);
    ~NSPredicate() override;

    bool evaluateWithObject(const Value& object) const;
    bool evaluateWithObject(const Value& object, const Dictionary& bindings) const;

    // The objects of an array that the predicate accepts, in order.
    Array filteredArrayUsingPredicate(const Array& array) const;

    // The parsed form (foundation/NSPredicateNode.h), for translators.
    const detail::PredicateNode& rootNode() const { return *root_; }

    // The format the predicate was made from ("TRUEPREDICATE", "BLOCKPREDICATE" for the others).
    const std::string& predicateFormat() const { return format_; }

    std::string className() const override { return "NSPredicate"; }
    std::string description() const override { return format_; }

  private:
    std::shared_ptr<const detail::PredicateNode> root_;
    std::string format_;
};
