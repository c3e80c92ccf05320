// The template-cell height cache on its own: growth on demand, the cache steps of the table's
// reload and eight updates, and hostile index paths and random operation sequences.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "controls/UITableView+TLTemplateLayoutCellAutomaticallyCacheInvalidation.h"
#include "controls/_TLTemplateLayoutCellHeightCache.h"
#include "foundation/Value.h"

namespace {

using Cache = _TLTemplateLayoutCellHeightCache;
using Sections = Cache::Sections;
namespace Invalidation = UITableView_TLTemplateLayoutCellAutomaticallyCacheInvalidation;

Ref<NSIndexPath> ip(long row, long section = 0) {
    return NSIndexPath::indexPathForRow(row, section);
}

Ref<NSIndexSet> indexes(std::initializer_list<std::size_t> list) {
    auto set = make<NSMutableIndexSet>();
    for (auto i : list) set->addIndex(i);
    return set;
}

UITableViewUpdate rows(UITableViewUpdate::Kind kind, std::vector<Ref<NSIndexPath>> paths) {
    UITableViewUpdate u;
    u.kind = kind;
    u.indexPaths = std::move(paths);
    return u;
}

UITableViewUpdate sections(UITableViewUpdate::Kind kind, Ref<NSIndexSet> set) {
    UITableViewUpdate u;
    u.kind = kind;
    u.sections = std::move(set);
    return u;
}

// Five sections, each marked by its first row's height (section s: 100 + s).
Ref<Cache> fiveMarkedSections() {
    auto cache = make<Cache>();
    for (long s = 0; s < 5; ++s) cache->cacheHeight(100 + s, ip(0, s));
    return cache;
}

std::vector<CGFloat> sectionMarks(const Cache& cache) {
    std::vector<CGFloat> marks;
    for (const auto& rows : cache.sections()) marks.push_back(rows.empty() ? -2 : rows[0]);
    return marks;
}

TEST(TLHeightCacheTest, MakingRoomGrowsWithUncachedEntriesAndMinusOneIsUncached) {
    auto cache = make<Cache>();
    EXPECT_FALSE(cache->hasCachedHeightAtIndexPath(ip(5, 2)));
    ASSERT_EQ(cache->sections().size(), 3u);
    EXPECT_TRUE(cache->sections()[0].empty());
    EXPECT_TRUE(cache->sections()[1].empty());
    EXPECT_EQ(cache->sections()[2], std::vector<CGFloat>(6, -1));
    // Heights are stored and answered; -1 means uncached.
    EXPECT_EQ(cache->cachedHeightAtIndexPath(ip(1, 1)), -1);
    cache->cacheHeight(44.5, ip(1, 1));
    EXPECT_TRUE(cache->hasCachedHeightAtIndexPath(ip(1, 1)));
    EXPECT_EQ(cache->cachedHeightAtIndexPath(ip(1, 1)), 44.5);
    EXPECT_FALSE(cache->hasCachedHeightAtIndexPath(ip(0, 1)));
    cache->cacheHeight(0, ip(0, 1));  // a zero height is a height
    EXPECT_TRUE(cache->hasCachedHeightAtIndexPath(ip(0, 1)));
    cache->cacheHeight(-1, ip(1, 1));
    EXPECT_FALSE(cache->hasCachedHeightAtIndexPath(ip(1, 1)));
}

TEST(TLHeightCacheTest, BuildingForAListMakesRoomForEachAndAnEmptyListDoesNothing) {
    auto cache = make<Cache>();
    cache->buildHeightCachesAtIndexPathsIfNeeded({});
    EXPECT_TRUE(cache->sections().empty());
    cache->buildHeightCachesAtIndexPathsIfNeeded({ip(2, 0), ip(0, 3)});
    ASSERT_EQ(cache->sections().size(), 4u);
    EXPECT_EQ(cache->sections()[0].size(), 3u);
    EXPECT_EQ(cache->sections()[3].size(), 1u);
}

TEST(TLHeightCacheTest, PathsThatNameNoRowAreIgnored) {
    auto cache = make<Cache>();
    cache->cacheHeight(10, nullptr);
    cache->cacheHeight(10, NSIndexPath::indexPathWithIndex(3));
    cache->cacheHeight(10, NSIndexPath::indexPathWithIndexes({0, NSNotFound}));
    cache->cacheHeight(10, NSIndexPath::indexPathWithIndexes({Cache::kMaxIndex + 1, 0}));
    EXPECT_FALSE(cache->hasCachedHeightAtIndexPath(NSIndexPath::indexPathWithIndexes({0, NSNotFound})));
    EXPECT_EQ(cache->cachedHeightAtIndexPath(nullptr), -1);
    EXPECT_TRUE(cache->sections().empty());
    // A three-index path names its first two.
    cache->cacheHeight(7, NSIndexPath::indexPathWithIndexes({0, 1, 9}));
    EXPECT_EQ(cache->cachedHeightAtIndexPath(ip(1, 0)), 7);
}

// ---- the cache steps ----------------------------------------------------------------------------

UITableViewUpdate moveRow(Ref<NSIndexPath> from, Ref<NSIndexPath> to) {
    UITableViewUpdate u;
    u.kind = UITableViewUpdate::MoveRow;
    u.fromIndexPath = std::move(from);
    u.toIndexPath = std::move(to);
    return u;
}

UITableViewUpdate moveSection(long from, long to) {
    UITableViewUpdate u;
    u.kind = UITableViewUpdate::MoveSection;
    u.fromSection = from;
    u.toSection = to;
    return u;
}

TEST(TLCacheStepsTest, RowUpdatesMoveForgetAndMakeRoom) {
    using U = UITableViewUpdate;
    const struct {
        const char* what;
        long section;
        std::vector<CGFloat> before;
        UITableViewUpdate update;
        std::vector<CGFloat> after;
    } cases[] = {
        {"insertion moves later heights down",
         0,
         {-1, -1, -1, 80},
         rows(U::InsertRows, {ip(1)}),
         {-1, -1, -1, -1, 80}},
        {"deletion moves later heights up", 0, {-1, -1, -1, 80}, rows(U::DeleteRows, {ip(0)}), {-1, -1, 80}},
        // After the insertion rows 1 and 3 are new: the old rows 0, 1, 2, 3 sit at 0, 2, 4, 5.
        {"insertions in ascending order",
         0,
         {10, 11, 12, 13},
         rows(U::InsertRows, {ip(3), ip(1)}),
         {10, -1, 11, -1, 12, 13}},
        {"deletions of one section at once",
         1,
         {10, 11, 12, 13, 14},
         rows(U::DeleteRows, {ip(3, 1), ip(1, 1), ip(3, 1)}),
         {10, 12, 14}},
        {"reloaded rows become uncached", 0, {10, 11, 12}, rows(U::ReloadRows, {ip(0), ip(2)}), {-1, 11, -1}},
        {"a move takes the height along", 0, {10, 11, 12, 13}, moveRow(ip(0), ip(3)), {11, 12, 13, 10}},
        {"an adjacent move exchanges the two", 0, {10, 20}, moveRow(ip(1), ip(0)), {20, 10}},
        {"deletion beyond the cache makes room", 0, {}, rows(U::DeleteRows, {ip(2)}), {-1, -1}},
        {"insertion beyond the cache makes room",
         0,
         {},
         rows(U::InsertRows, {ip(4)}),
         {-1, -1, -1, -1, -1, -1}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        auto cache = make<Cache>();
        for (std::size_t r = 0; r < k.before.size(); ++r)
            if (k.before[r] != -1) cache->cacheHeight(k.before[r], ip(long(r), k.section));
        Invalidation::applyUpdateToCache(*cache, k.update);
        ASSERT_GT(cache->sections().size(), std::size_t(k.section));
        EXPECT_EQ(cache->sections()[std::size_t(k.section)], k.after);
    }
    // Across sections, into a section the cache has not seen yet.
    auto cache = make<Cache>();
    for (long r = 0; r < 3; ++r) cache->cacheHeight(10 + r, ip(r));
    Invalidation::applyUpdateToCache(*cache, moveRow(ip(1), ip(0, 2)));
    EXPECT_EQ(cache->sections()[0], (std::vector<CGFloat>{10, 12}));
    EXPECT_EQ(cache->cachedHeightAtIndexPath(ip(0, 2)), 11);
}

// Five sections marked by their first row's height (100 + s); -2 marks a section without rows.
TEST(TLCacheStepsTest, SectionUpdatesUseFormerIndexesAndSkipWhatLiesBeyond) {
    using U = UITableViewUpdate;
    const struct {
        const char* what;
        UITableViewUpdate update;
        std::vector<CGFloat> marks;
    } cases[] = {
        {"deletions together", sections(U::DeleteSections, indexes({1, 3, 9})), {100, 102, 104}},
        {"insertion beyond the cache", sections(U::InsertSections, indexes({7})), {100, 101, 102, 103, 104}},
        {"insertion at the end appends",
         sections(U::InsertSections, indexes({5})),
         {100, 101, 102, 103, 104, -2}},
        {"insertions in ascending order",
         sections(U::InsertSections, indexes({0, 2})),
         {-2, 100, -2, 101, 102, 103, 104}},
        {"a move shifts the ones between", moveSection(0, 3), {101, 102, 103, 100, 104}},
        {"a move beyond the cache", moveSection(4, 5), {100, 101, 102, 103, 104}},
        {"a move from a negative section", moveSection(-1, 0), {100, 101, 102, 103, 104}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        auto cache = fiveMarkedSections();
        Invalidation::applyUpdateToCache(*cache, k.update);
        EXPECT_EQ(sectionMarks(*cache), k.marks);
    }
}

TEST(TLCacheStepsTest, ReloadedSectionsForgetTheirRowsButKeepTheirLength) {
    auto cache = fiveMarkedSections();
    cache->cacheHeight(9, ip(2, 1));
    Invalidation::applyUpdateToCache(*cache, sections(UITableViewUpdate::ReloadSections, indexes({1, 8})));
    EXPECT_EQ(cache->sections()[1], (std::vector<CGFloat>{-1, -1, -1}));
    EXPECT_EQ(cache->cachedHeightAtIndexPath(ip(0, 0)), 100);
    EXPECT_EQ(cache->sections().size(), 5u);
}

TEST(TLCacheStepsTest, MissingArgumentsAndHostilePathsAreSkippedAndReloadDataEmpties) {
    auto cache = fiveMarkedSections();
    const Sections before = cache->sections();
    for (auto kind : {UITableViewUpdate::InsertSections, UITableViewUpdate::DeleteSections,
                      UITableViewUpdate::ReloadSections})
        Invalidation::applyUpdateToCache(*cache, sections(kind, nullptr));
    auto hostile = std::vector<Ref<NSIndexPath>>{nullptr, NSIndexPath::indexPathWithIndex(1),
                                                 NSIndexPath::indexPathWithIndexes({0, NSNotFound}),
                                                 NSIndexPath::indexPathWithIndexes({NSNotFound, 0})};
    for (auto kind :
         {UITableViewUpdate::InsertRows, UITableViewUpdate::DeleteRows, UITableViewUpdate::ReloadRows}) {
        Invalidation::applyUpdateToCache(*cache, rows(kind, hostile));
    }
    Invalidation::applyUpdateToCache(*cache, moveRow(nullptr, ip(0)));
    Invalidation::applyUpdateToCache(*cache,
                                     moveRow(ip(0), NSIndexPath::indexPathWithIndexes({0, NSNotFound})));
    EXPECT_EQ(cache->sections(), before);
    Invalidation::applyReloadDataToCache(*cache);
    EXPECT_TRUE(cache->sections().empty());
}

// Random sequences of every operation on random (sometimes hostile) paths: the cache stays
// bounded and consistent, and a row's entry is only ever a stored height or -1.
TEST(TLCacheStepsTest, RandomOperationSequencesStayConsistent) {
    for (unsigned seed = 1; seed <= 200; ++seed) {
        std::mt19937 random(seed);
        auto pick = [&](int n) { return int(random() % unsigned(n)); };
        auto randomPath = [&]() -> Ref<NSIndexPath> {
            switch (pick(12)) {
                case 0:
                    return nullptr;
                case 1:
                    return NSIndexPath::indexPathWithIndex(std::size_t(pick(4)));
                case 2:
                    return NSIndexPath::indexPathWithIndexes({std::size_t(pick(4)), NSNotFound});
                default:
                    return ip(pick(12), pick(6));
            }
        };
        auto randomSet = [&]() {
            auto set = make<NSMutableIndexSet>();
            for (int i = pick(4); i > 0; --i) set->addIndex(std::size_t(pick(8)));
            return set;
        };
        auto cache = make<Cache>();
        for (int step = 0; step < 60; ++step) {
            const int op = pick(11);
            UITableViewUpdate u;
            if (op == 0) {
                cache->cacheHeight(CGFloat(1 + pick(100)), randomPath());
            } else if (op == 1) {
                Invalidation::applyReloadDataToCache(*cache);
            } else if (op == 2) {
                cache->hasCachedHeightAtIndexPath(randomPath());
            } else {
                u.kind = UITableViewUpdate::Kind(op - 3);
                u.sections = randomSet();
                for (int i = pick(4); i > 0; --i) u.indexPaths.push_back(randomPath());
                u.fromSection = pick(8) - 1;
                u.toSection = pick(8) - 1;
                u.fromIndexPath = randomPath();
                u.toIndexPath = randomPath();
                Invalidation::applyUpdateToCache(*cache, u);
            }
            ASSERT_LE(cache->sections().size(), 64u) << "seed " << seed;
            for (const auto& rowsOfSection : cache->sections()) {
                ASSERT_LE(rowsOfSection.size(), 64u) << "seed " << seed;
                for (CGFloat h : rowsOfSection)
                    ASSERT_TRUE(h == -1 || (h >= 1 && h <= 100)) << "seed " << seed;
            }
        }
    }
}

}  // namespace
