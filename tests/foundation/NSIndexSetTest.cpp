#include "foundation/NSIndexSet.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

#include "foundation/NSIndexPath.h"

namespace {

// A stand-in for the string library's range type: anything with location and length works.
struct TestRange {
    std::size_t location;
    std::size_t length;
};

std::vector<std::size_t> collect(const NSIndexSet& set) {
    return std::vector<std::size_t>(set.begin(), set.end());
}

TEST(NSIndexSetTest, RangeSetIteratesAscending) {
    auto set = NSIndexSet::indexSetWithIndexesInRange(TestRange{200, 100});
    EXPECT_EQ(set->count(), 100u);
    EXPECT_EQ(set->firstIndex(), 200u);
    EXPECT_EQ(set->lastIndex(), 299u);
    EXPECT_TRUE(set->containsIndex(200));
    EXPECT_TRUE(set->containsIndex(299));
    EXPECT_FALSE(set->containsIndex(199));
    EXPECT_FALSE(set->containsIndex(300));
    std::size_t expected = 200;
    for (auto i : *set) EXPECT_EQ(i, expected++);
    EXPECT_EQ(expected, 300u);
}

TEST(NSIndexSetTest, EmptySetAnswersNotFound) {
    auto set = NSIndexSet::indexSet();
    EXPECT_TRUE(set->empty());
    EXPECT_EQ(set->count(), 0u);
    EXPECT_EQ(set->firstIndex(), NSNotFound);
    EXPECT_EQ(set->lastIndex(), NSNotFound);
    EXPECT_EQ(set->begin(), set->end());
    EXPECT_EQ(set->indexGreaterThanIndex(0), NSNotFound);
    EXPECT_EQ(set->indexLessThanIndex(10), NSNotFound);
    EXPECT_TRUE(NSIndexSet::indexSetWithIndexesInRange(5, 0)->empty());
    EXPECT_FALSE(set->containsIndexesInRange(0, 0));
}

TEST(NSIndexSetTest, RangesAreCutAtNotFound) {
    auto set = NSIndexSet::indexSetWithIndexesInRange(NSNotFound - 2, 100);
    EXPECT_EQ(set->count(), 2u);
    EXPECT_EQ(set->lastIndex(), NSNotFound - 1);
    EXPECT_TRUE(NSIndexSet::indexSetWithIndex(NSNotFound)->empty());
    EXPECT_EQ(set->indexGreaterThanIndex(NSNotFound - 1), NSNotFound);
    auto huge = NSIndexSet::indexSetWithIndexesInRange(~std::size_t(0) - 1, 10);
    EXPECT_TRUE(huge->empty());
}

TEST(NSIndexSetTest, Neighbours) {
    auto set = NSMutableIndexSet::indexSet();
    set->addIndexesInRange(10, 5);  // 10..14
    set->addIndex(20);
    EXPECT_EQ(set->indexGreaterThanIndex(9), 10u);
    EXPECT_EQ(set->indexGreaterThanIndex(12), 13u);
    EXPECT_EQ(set->indexGreaterThanIndex(14), 20u);
    EXPECT_EQ(set->indexGreaterThanIndex(20), NSNotFound);
    EXPECT_EQ(set->indexGreaterThanOrEqualToIndex(20), 20u);
    EXPECT_EQ(set->indexLessThanIndex(20), 14u);
    EXPECT_EQ(set->indexLessThanIndex(10), NSNotFound);
    EXPECT_EQ(set->indexLessThanOrEqualToIndex(17), 14u);
    EXPECT_EQ(set->indexLessThanOrEqualToIndex(12), 12u);
    EXPECT_EQ(set->indexLessThanIndex(0), NSNotFound);
    EXPECT_EQ(set->countOfIndexesInRange(12, 10), 4u);
    EXPECT_TRUE(set->intersectsIndexesInRange(15, 6));
    EXPECT_FALSE(set->intersectsIndexesInRange(15, 5));
    EXPECT_TRUE(set->containsIndexesInRange(11, 3));
    EXPECT_FALSE(set->containsIndexesInRange(11, 10));
}

TEST(NSIndexSetTest, AddingMergesTouchingRanges) {
    auto set = NSMutableIndexSet::indexSet();
    set->addIndex(5);
    set->addIndex(7);
    EXPECT_EQ(set->ranges().size(), 2u);
    set->addIndex(6);
    ASSERT_EQ(set->ranges().size(), 1u);
    EXPECT_EQ(set->ranges()[0], (NSIndexSet::Range{5, 3}));
    set->addIndexesInRange(0, 5);
    EXPECT_EQ(set->ranges()[0], (NSIndexSet::Range{0, 8}));
    set->addIndexesInRange(TestRange{20, 2});
    set->addIndexesInRange(2, 30);
    EXPECT_EQ(set->ranges().size(), 1u);
    EXPECT_EQ(set->count(), 32u);
    set->addIndexes(*set);  // with itself: unchanged
    EXPECT_EQ(set->count(), 32u);
}

TEST(NSIndexSetTest, RemovingSplitsRanges) {
    auto set = NSMutableIndexSet::indexSetWithIndexesInRange(0, 10);
    set->removeIndex(5);
    EXPECT_EQ(collect(*set), (std::vector<std::size_t>{0, 1, 2, 3, 4, 6, 7, 8, 9}));
    set->removeIndexesInRange(0, 2);
    set->removeIndexesInRange(8, 100);
    EXPECT_EQ(collect(*set), (std::vector<std::size_t>{2, 3, 4, 6, 7}));
    auto other = NSIndexSet::indexSetWithIndexesInRange(3, 4);
    set->removeIndexes(*other);
    EXPECT_EQ(collect(*set), (std::vector<std::size_t>{2, 7}));
    set->removeIndexes(*set);
    EXPECT_TRUE(set->empty());
}

TEST(NSIndexSetTest, Shifting) {
    auto set = NSMutableIndexSet::indexSet();
    for (auto i : {1, 3, 4, 8}) set->addIndex(i);
    set->shiftIndexesStartingAtIndex(3, 2);
    EXPECT_EQ(collect(*set), (std::vector<std::size_t>{1, 5, 6, 10}));
    set->shiftIndexesStartingAtIndex(5, -3);  // 2..4 give way; 1 survives below
    EXPECT_EQ(collect(*set), (std::vector<std::size_t>{1, 2, 3, 7}));
    set->shiftIndexesStartingAtIndex(2, -5);  // 1 gives way, 2 and 3 fall below zero
    EXPECT_EQ(collect(*set), (std::vector<std::size_t>{2}));
    set->shiftIndexesStartingAtIndex(0, std::numeric_limits<long>::max());
    set->shiftIndexesStartingAtIndex(0, std::numeric_limits<long>::min());
    EXPECT_TRUE(set->count() <= 2);
}

TEST(NSIndexSetTest, EnumerationStops) {
    auto set = NSIndexSet::indexSetWithIndexesInRange(0, 10);
    std::vector<std::size_t> seen;
    set->enumerateIndexesUsingBlock([&](std::size_t i, bool* stop) {
        seen.push_back(i);
        if (i == 3) *stop = true;
    });
    EXPECT_EQ(seen, (std::vector<std::size_t>{0, 1, 2, 3}));
    int ranges = 0;
    set->enumerateRangesUsingBlock([&](std::size_t, std::size_t length, bool*) {
        ++ranges;
        EXPECT_EQ(length, 10u);
    });
    EXPECT_EQ(ranges, 1);
    set->enumerateIndexesUsingBlock(nullptr);  // an empty block is ignored
}

TEST(NSIndexSetTest, EqualityCopiesAndDescription) {
    auto a = NSIndexSet::indexSetWithIndexesInRange(1, 3);
    auto b = NSMutableIndexSet::indexSet();
    b->addIndex(3);
    b->addIndex(1);
    b->addIndex(2);
    EXPECT_TRUE(a->isEqual(*b));
    EXPECT_EQ(a->hash(), b->hash());
    auto copy = asKind<NSIndexSet>(b->copyObject());
    ASSERT_TRUE(copy);
    EXPECT_FALSE(isKindOf<NSMutableIndexSet>(copy));
    auto mutableCopy = a->mutableCopy();
    mutableCopy->addIndex(7);
    EXPECT_EQ(a->count(), 3u);
    EXPECT_NE(mutableCopy->description().find("number of indexes: 4 (in 2 ranges), indexes: (1-3 7)"),
              std::string::npos)
        << mutableCopy->description();
    EXPECT_TRUE(a->containsIndexes(*NSIndexSet::indexSetWithIndex(2)));
    EXPECT_FALSE(a->containsIndexes(*mutableCopy));
    EXPECT_TRUE(NSIndexSet::indexSetWithIndexSet(nullptr)->empty());
}

// Random edits against a plain std::set model.
TEST(NSIndexSetTest, AgreesWithAModelUnderRandomEdits) {
    std::mt19937 rng(7);
    auto set = NSMutableIndexSet::indexSet();
    std::set<std::size_t> model;
    for (int step = 0; step < 3000; ++step) {
        std::size_t loc = rng() % 200, len = rng() % 12;
        switch (rng() % 4) {
            case 0:
            case 1:
                set->addIndexesInRange(loc, len);
                for (std::size_t i = loc; i < loc + len; ++i) model.insert(i);
                break;
            case 2:
                set->removeIndexesInRange(loc, len);
                for (std::size_t i = loc; i < loc + len; ++i) model.erase(i);
                break;
            case 3: {
                long delta = static_cast<long>(rng() % 21) - 10;
                set->shiftIndexesStartingAtIndex(loc, delta);
                std::set<std::size_t> shifted;
                for (auto i : model) {
                    if (i < loc) {
                        if (delta < 0 && static_cast<long>(i) >= static_cast<long>(loc) + delta) continue;
                        shifted.insert(i);
                    } else if (static_cast<long>(i) + delta >= 0) {
                        shifted.insert(static_cast<std::size_t>(static_cast<long>(i) + delta));
                    }
                }
                model = shifted;
                break;
            }
        }
        ASSERT_EQ(collect(*set), std::vector<std::size_t>(model.begin(), model.end())) << "step " << step;
        // Ranges stay sorted, disjoint and non-touching.
        const auto& r = set->ranges();
        for (std::size_t k = 1; k < r.size(); ++k)
            ASSERT_GT(r[k].location, r[k - 1].location + r[k - 1].length);
    }
}

// ---------------------------------------------------------------------------------------------

TEST(NSIndexPathTest, SectionRowAndItem) {
    auto p = NSIndexPath::indexPathForRow(3, 1);
    EXPECT_EQ(p->section(), 1);
    EXPECT_EQ(p->row(), 3);
    EXPECT_EQ(p->item(), 3);
    EXPECT_EQ(p->length(), 2u);
    EXPECT_EQ(p->indexAtPosition(5), NSNotFound);
    EXPECT_TRUE(p->isEqual(*NSIndexPath::indexPathForItem(3, 1)));
    EXPECT_EQ(p->hash(), NSIndexPath::indexPathForItem(3, 1)->hash());
    auto single = NSIndexPath::indexPathWithIndex(4);
    EXPECT_EQ(single->section(), 4);
    EXPECT_EQ(static_cast<std::size_t>(single->row()), NSNotFound);
    EXPECT_EQ(p->description().substr(p->description().find('{')), "{length = 2, path = 1 - 3}");
}

TEST(NSIndexPathTest, OrderAndEditing) {
    auto a = NSIndexPath::indexPathForRow(5, 0);
    auto b = NSIndexPath::indexPathForRow(0, 1);
    EXPECT_EQ(a->compare(*b), -1);
    EXPECT_EQ(b->compare(*a), 1);
    EXPECT_EQ(a->compare(*NSIndexPath::indexPathForRow(5, 0)), 0);
    auto section = NSIndexPath::indexPathWithIndex(0);
    EXPECT_EQ(section->compare(*a), -1);  // a prefix orders first
    EXPECT_EQ(a->indexPathByRemovingLastIndex()->compare(*section), 0);
    EXPECT_EQ(section->indexPathByAddingIndex(5)->compare(*a), 0);
    EXPECT_EQ(NSIndexPath::indexPathWithIndexes({})->indexPathByRemovingLastIndex()->length(), 0u);
    EXPECT_FALSE(a->isEqual(*NSIndexSet::indexSet()));

    std::set<Ref<NSIndexPath>, NSIndexPath::Less> ordered{b, a, NSIndexPath::indexPathForRow(5, 0), nullptr};
    ASSERT_EQ(ordered.size(), 3u);
    EXPECT_FALSE(*ordered.begin());
    EXPECT_TRUE((*std::next(ordered.begin()))->isEqual(*a));
    NSIndexPath::Equal eq;
    EXPECT_TRUE(eq(a, NSIndexPath::indexPathForRow(5, 0)));
    EXPECT_FALSE(eq(a, nullptr));
    EXPECT_TRUE(eq(nullptr, nullptr));
}

}  // namespace
