// Predicate forms the object store builds: IN over arrays, dictionaries and text, functions of
// values and arrays, and key paths that read objects through their valueForKey; plus sort
// descriptors over the same values.

#include "foundation/NSPredicate.h"

#include <gtest/gtest.h>

#include "foundation/NSPredicateNode.h"
#include "foundation/NSSortDescriptor.h"

namespace {

class Named : public NSObject {
  public:
    explicit Named(std::string name, int rank) : name_(std::move(name)), rank_(rank) {}
    Value valueForKey(const std::string& key) const override {
        if (key == "name") return Value(name_);
        if (key == "rank") return Value(rank_);
        return Value();
    }

  private:
    std::string name_;
    int rank_;
};

TEST(NSPredicateForms, InTestsMembership) {
    auto in = NSPredicate::predicateWithFormat("rank IN %@", Array{Value(1), Value(3)});
    ASSERT_TRUE(in);
    EXPECT_TRUE(in->evaluateWithObject(Dictionary{{"rank", 3}}));
    EXPECT_FALSE(in->evaluateWithObject(Dictionary{{"rank", 2}}));
    EXPECT_FALSE(in->evaluateWithObject(Dictionary{{"rank", "3"}}));
    EXPECT_TRUE(NSPredicate::predicateWithFormat("SELF IN %@", Dictionary{{"a", "x"}})
                    ->evaluateWithObject(Value("x")));
    EXPECT_TRUE(NSPredicate::predicateWithFormat("SELF IN 'garage'")->evaluateWithObject(Value("rag")));
    EXPECT_EQ(in->rootNode().op, detail::Operator::In);
}

TEST(NSPredicateForms, FunctionsOfValuesAndArrays) {
    auto minimum = NSPredicate::predicateWithFormat("rank = min(%@)", Array{Value(4), Value(2), Value(9)});
    ASSERT_TRUE(minimum);
    EXPECT_TRUE(minimum->evaluateWithObject(Dictionary{{"rank", 2}}));
    EXPECT_TRUE(NSPredicate::predicateWithFormat("max(%@) = 9", Array{Value(4), Value(9)})
                    ->evaluateWithObject(Value()));
    EXPECT_TRUE(NSPredicate::predicateWithFormat("count(%@) = 2", Array{Value(4), Value(9)})
                    ->evaluateWithObject(Value()));
    EXPECT_TRUE(NSPredicate::predicateWithFormat("average(%@) = 6.5", Array{Value(4), Value(9)})
                    ->evaluateWithObject(Value()));
    // A single value stands for itself.
    EXPECT_TRUE(
        NSPredicate::predicateWithFormat("rank = min(rank)")->evaluateWithObject(Dictionary{{"rank", 5}}));
    EXPECT_FALSE(NSPredicate::predicateWithFormat("rank = min("));
    EXPECT_FALSE(NSPredicate::predicateWithFormat("rank = median(rank)"));
}

TEST(NSPredicateForms, KeyPathsReadObjects) {
    auto object = make<Named>("Ada", 3);
    auto p = NSPredicate::predicateWithFormat("name == %@ AND rank > 2", "Ada");
    EXPECT_TRUE(p->evaluateWithObject(Value(object)));
    EXPECT_TRUE(NSPredicate::predicateWithFormat("owner.name == 'Ada'")
                    ->evaluateWithObject(Dictionary{{"owner", object}}));
    EXPECT_TRUE(NSPredicate::predicateWithFormat("SELF = %@", object)->evaluateWithObject(Value(object)));
}

TEST(NSPredicateForms, DeepFunctionNestingIsRefused) {
    std::string format = "rank = ";
    for (int i = 0; i < 200; ++i) format += "min(";
    format += "rank";
    for (int i = 0; i < 200; ++i) format += ")";
    EXPECT_FALSE(NSPredicate::predicateWithFormat(format));
}

TEST(NSSortDescriptor, SortsByKeysInTurnAndKeepsTies) {
    Array items{Dictionary{{"n", "b"}, {"r", 1}}, Dictionary{{"n", "a"}, {"r", 2}},
                Dictionary{{"n", "c"}, {"r", 1}}, Dictionary{{"r", 3}}};
    Array sorted = NSSortDescriptor::sortedArrayUsingDescriptors(
        items, {NSSortDescriptor::sortDescriptorWithKey("r", true),
                NSSortDescriptor::sortDescriptorWithKey("n", false)});
    std::vector<std::string> order;
    for (const Value& v : sorted) order.push_back(v["n"].stringValue());
    EXPECT_EQ(order, (std::vector<std::string>{"c", "b", "a", ""}));
    // Missing values come first ascending.
    Array byName = NSSortDescriptor::sortedArrayUsingDescriptors(
        items, {NSSortDescriptor::sortDescriptorWithKey("n", true)});
    EXPECT_EQ(byName[0]["r"], Value(3));
    EXPECT_EQ(NSSortDescriptor::compareValues(Value(1), Value(1.0)), 0);
    EXPECT_EQ(NSSortDescriptor::compareValues(Value(), Value("x")), -1);
}

}  // namespace
