// Row heights from template cells on real tables: Auto Layout and frame measurement, accessory
// room and the separator pixel, the template cells, the cached form, the idle pre-computation
// pass on the main run loop, and the cache kept in step with reloads and updates.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "controls/UITableView+TLTemplateLayoutCell.h"
#include "controls/UITableView+TLTemplateLayoutCellAutomaticallyCacheInvalidation.h"
#include "controls/UITableView+TLTemplateLayoutCellPrecache.h"
#include "controls/UITableView+TLTemplateLayoutCellPrivate.h"
#include "controls/UITableViewCell+TLTemplateLayoutCell.h"
#include "foundation/NSRunLoop.h"
#include "tests/controls/ControlsTestSupport.h"
#include "tests/support/MainLoop.h"
#include "uikit/NSLayoutConstraint.h"
#include "uikit/UIScreen.h"
#include "uikit/UITableView.h"

namespace {

using namespace UITableView_TLTemplateLayoutCell;
using namespace UITableView_TLTemplateLayoutCellPrivate;
using namespace UITableView_TLTemplateLayoutCellPrecache;
using controlstest::LogCapture;

Ref<NSIndexPath> ip(long row, long section = 0) {
    return NSIndexPath::indexPathForRow(row, section);
}

Ref<NSLayoutConstraint> pin(const Ref<UIView>& a, NSLayoutAttribute attribute, const Ref<UIView>& b,
                            CGFloat constant = 0) {
    return NSLayoutConstraint::constraintWithItem(a, attribute, NSLayoutRelationEqual, b, attribute, 1,
                                                  constant);
}

// A box pinned 10 points inside the content view's top and bottom and to its sides; its height is
// a constant (the `height` constraint, 23.5 until configured), or half its width with `aspect`.
class BoxCell : public UITableViewCell {
  public:
    BoxCell(UITableViewCellStyle style, std::optional<std::string> identifier, bool aspect = false)
        : UITableViewCell(style, std::move(identifier)) {
        box = make<UIView>();
        box->setTranslatesAutoresizingMaskIntoConstraints(false);
        contentView()->addSubview(box);
        for (auto [attribute, inset] : {std::pair{NSLayoutAttributeLeft, 0},
                                        {NSLayoutAttributeRight, 0},
                                        {NSLayoutAttributeTop, 10},
                                        {NSLayoutAttributeBottom, -10}})
            contentView()->addConstraint(pin(box, attribute, contentView(), inset));
        height = NSLayoutConstraint::constraintWithItem(
            box, NSLayoutAttributeHeight, NSLayoutRelationEqual, aspect ? box : nullptr,
            aspect ? NSLayoutAttributeWidth : NSLayoutAttributeNotAnAttribute, aspect ? 0.5 : 1,
            aspect ? 0 : 23.5);
        box->addConstraint(height);
    }
    void prepareForReuse() override {
        UITableViewCell::prepareForReuse();
        ++reuses;
    }
    // Frame measurement, for cells told to enforce it.
    CGSize sizeThatFits(CGSize size) const override {
        asked.push_back(size);
        return {size.width, 61};
    }
    Ref<UIView> box;
    Ref<NSLayoutConstraint> height;
    int reuses = 0;
    mutable std::vector<CGSize> asked;
};

class AspectCell : public BoxCell {
  public:
    AspectCell(UITableViewCellStyle style, std::optional<std::string> identifier)
        : BoxCell(style, std::move(identifier), true) {}
};

// No constraints: measured by sizeThatFits, which answers `fits` and records what it was asked.
class FrameCell : public UITableViewCell {
  public:
    using UITableViewCell::UITableViewCell;
    CGSize sizeThatFits(CGSize size) const override {
        asked.push_back(size);
        return {size.width, fits};
    }
    CGFloat fits = 30;
    mutable std::vector<CGSize> asked;
};

// Data source and delegate: row counts per section, box heights per row, the cached or uncached
// measurement, and a record of the delegate's height calls.
class Rows : public UITableViewDataSource, public UITableViewDelegate {
  public:
    std::vector<long> rows{3};
    std::map<std::pair<long, long>, CGFloat> boxHeights;  // default 23.5
    bool cached = true;
    std::vector<std::string> heightCalls;

    long numberOfSectionsInTableView(UITableView&) override { return long(rows.size()); }
    long tableViewNumberOfRowsInSection(UITableView&, long section) override {
        return section < long(rows.size()) ? rows[std::size_t(section)] : 0;
    }
    Ref<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& table,
                                                        const Ref<NSIndexPath>& path) override {
        return table.dequeueReusableCellWithIdentifier("box", path);
    }
    std::optional<CGFloat> tableViewHeightForRowAtIndexPath(UITableView& table,
                                                            const Ref<NSIndexPath>& path) override {
        heightCalls.push_back(std::to_string(path->section()) + ":" + std::to_string(path->row()));
        auto configure = [this, path](const Ref<UITableViewCell>& cell) {
            auto it = boxHeights.find({path->section(), path->row()});
            std::static_pointer_cast<BoxCell>(cell)->height->setConstant(it == boxHeights.end() ? 23.5
                                                                                                : it->second);
        };
        return cached ? tl_heightForCellWithIdentifier(table, "box", path, configure)
                      : tl_heightForCellWithIdentifier(table, "box", configure);
    }
};

// A delegate that does not answer heights.
class CountsOnly : public UITableViewDataSource, public UITableViewDelegate {
  public:
    long tableViewNumberOfRowsInSection(UITableView&, long) override { return 5; }
    Ref<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& table,
                                                        const Ref<NSIndexPath>& path) override {
        return table.dequeueReusableCellWithIdentifier("box", path);
    }
};

std::size_t cachedCount(UITableView& table) {
    std::size_t n = 0;
    for (const auto& rows : tl_cellHeightCache(table)->sections()) {
        for (CGFloat h : rows) n += h != -1;
    }
    return n;
}

// Runs the main run loop until every pre-computation pass has ended. The loop must reach its idle
// moment (before waiting) for a pass to move, so this pumps with short real waits.
bool finishPasses() {
    return testsupport::pumpMainRunLoopUntil([] { return tl_runningPrecachePassCount() == 0; }, 10);
}

// One turn of the main run loop that goes idle once: at most one row is pre-computed.
void oneIdleMoment(const std::string& mode = NSDefaultRunLoopMode) {
    NSRunLoop::mainRunLoop()->runOnce(mode, 0.05);
}

class TemplateLayoutCellTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UIScreen::mainScreen()->resetToConfiguration();
        UIScreen::mainScreen()->setScale(2);
        table = make<UITableView>(CGRectMake(0, 0, 320, 480));
        table->registerClass<BoxCell>("box");
        table->registerClass<AspectCell>("aspect");
        table->registerClass<FrameCell>("frame");
    }
    void TearDown() override {
        table = nullptr;
        EXPECT_TRUE(finishPasses());
        UIScreen::mainScreen()->resetToConfiguration();
    }

    // Wires a Rows source with the table, which then loads at its first question.
    Ref<Rows> attach(std::vector<long> rowCounts = {3}) {
        auto rows = make<Rows>();
        rows->rows = std::move(rowCounts);
        table->setDataSource(rows);
        table->setDelegate(rows);
        source = rows;  // the table holds it weakly
        return rows;
    }

    CGFloat measure(const std::string& identifier,
                    const std::function<void(const Ref<UITableViewCell>&)>& configure) {
        return tl_heightForCellWithIdentifier(*table, identifier, configure);
    }

    Ref<UITableView> table;
    Ref<Rows> source;
};

// ---- the measurement ----------------------------------------------------------------------------

TEST_F(TemplateLayoutCellTest, ContentWidthIsTheTableWidthLessTheAccessoryRoom) {
    auto withAccessory = [&](UITableViewCellAccessoryType type, Ref<UIView> view) {
        return measure("aspect", [&](const Ref<UITableViewCell>& cell) {
            cell->setAccessoryType(type);
            cell->setAccessoryView(view);
        });
    };
    // height = width / 2 + 20 + 0.5
    for (auto [type, height] : {std::pair{UITableViewCellAccessoryNone, 180.5},
                                {UITableViewCellAccessoryDisclosureIndicator, 163.5},
                                {UITableViewCellAccessoryDetailDisclosureButton, 146.5},
                                {UITableViewCellAccessoryCheckmark, 160.5},
                                {UITableViewCellAccessoryDetailButton, 156.5}})
        EXPECT_DOUBLE_EQ(withAccessory(type, nullptr), height) << type;
    // An accessory view wins over the type: 320 - (30 + 16) = 274.
    EXPECT_DOUBLE_EQ(withAccessory(UITableViewCellAccessoryCheckmark, make<UIView>(CGRectMake(0, 0, 30, 30))),
                     157.5);
    // A constant box with a disclosure: its fit plus the separator pixel.
    EXPECT_DOUBLE_EQ(measure("box",
                             [](const Ref<UITableViewCell>& cell) {
                                 cell->setAccessoryType(UITableViewCellAccessoryDisclosureIndicator);
                             }),
                     44.0);
}

TEST_F(TemplateLayoutCellTest, TheTemporaryWidthConstraintIsRemovedAgain) {
    measure("box", nullptr);
    auto cell = tl_templateCellForReuseIdentifier(*table, "box");
    EXPECT_EQ(cell->contentView()->constraints().size(), 4u);
    measure("box", nullptr);
    EXPECT_EQ(cell->contentView()->constraints().size(), 4u);
}

TEST_F(TemplateLayoutCellTest, CellWithoutConstraintsIsMeasuredBySizeThatFitsAtZeroHeight) {
    Ref<FrameCell> seen;
    const CGFloat h = measure("frame", [&](const Ref<UITableViewCell>& cell) {
        seen = std::static_pointer_cast<FrameCell>(cell);
        seen->fits = 52;
        cell->setAccessoryType(UITableViewCellAccessoryDisclosureIndicator);
    });
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->asked, std::vector<CGSize>{CGSizeMake(286, 0)});
    EXPECT_DOUBLE_EQ(h, 52.5);
    // Enforced frame layout ignores the constraints.
    Ref<BoxCell> box;
    EXPECT_DOUBLE_EQ(measure("box",
                             [&](const Ref<UITableViewCell>& cell) {
                                 UITableViewCell_TLTemplateLayoutCell::setFd_enforceFrameLayout(*cell, true);
                                 box = std::static_pointer_cast<BoxCell>(cell);
                             }),
                     61.5);
    ASSERT_TRUE(box);
    EXPECT_EQ(box->asked, std::vector<CGSize>{CGSizeMake(320, 0)});
}

TEST_F(TemplateLayoutCellTest, SeparatorPixelFollowsStyleAndScale) {
    table->setSeparatorStyle(UITableViewCellSeparatorStyleNone);
    EXPECT_DOUBLE_EQ(measure("box", nullptr), 43.5);
    table->setSeparatorStyle(UITableViewCellSeparatorStyleSingleLineEtched);
    UIScreen::mainScreen()->setScale(3);
    EXPECT_DOUBLE_EQ(measure("box", nullptr), 43.5 + 1.0 / 3);
}

TEST_F(TemplateLayoutCellTest, OneTemplateCellPerIdentifierPreparedBeforeEveryConfiguration) {
    std::vector<Ref<UITableViewCell>> cells;
    std::vector<int> reusesSeen;
    for (int i = 0; i < 3; ++i) {
        measure("box", [&](const Ref<UITableViewCell>& cell) {
            cells.push_back(cell);
            reusesSeen.push_back(std::static_pointer_cast<BoxCell>(cell)->reuses);
        });
    }
    ASSERT_EQ(cells.size(), 3u);
    EXPECT_EQ(cells[0], cells[1]);
    EXPECT_EQ(cells[1], cells[2]);
    EXPECT_EQ(reusesSeen, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(table->cellsCreatedFromRegistrations(), 1u);
    EXPECT_TRUE(UITableViewCell_TLTemplateLayoutCell::tl_isTemplateLayoutCell(*cells[0]));
    EXPECT_FALSE(cells[0]->contentView()->translatesAutoresizingMaskIntoConstraints());
    EXPECT_EQ(tl_templateCellForReuseIdentifier(*table, "box"), cells[0]);
    EXPECT_NE(tl_templateCellForReuseIdentifier(*table, "frame"), cells[0]);
    // The template cell never joins the table.
    EXPECT_EQ(cells[0]->superview(), nullptr);
}

TEST_F(TemplateLayoutCellTest, MissingIdentifierMeasuresZeroAndAnUnknownOneTheSeparatorPixel) {
    LogCapture log;
    setFd_debugLogEnabled(*table, true);
    bool configured = false;
    EXPECT_EQ(tl_heightForCellWithIdentifier(*table, std::nullopt, [&](const auto&) { configured = true; }),
              0);
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(table->cellsCreatedFromRegistrations(), 0u);
    EXPECT_DOUBLE_EQ(measure("nothing registered", [&](const auto&) { configured = true; }), 0.5);
    EXPECT_FALSE(configured);
    EXPECT_EQ(tl_templateCellForReuseIdentifier(*table, "nothing registered"), nullptr);
    EXPECT_FALSE(log.contains("layout cell created"));
}

TEST_F(TemplateLayoutCellTest, DebugLinesOnlyWhileLoggingIsOn) {
    {
        LogCapture log;
        measure("box", nullptr);
        EXPECT_TRUE(log.lines.empty());
    }
    EXPECT_FALSE(tl_debugLogEnabled(*table));
    setFd_debugLogEnabled(*table, true);
    LogCapture log;
    measure("frame", nullptr);
    measure("box", nullptr);
    EXPECT_EQ(log.lines, (std::vector<std::string>{
                             "** TLTemplateLayoutCell ** layout cell created - frame",
                             "** TLTemplateLayoutCell ** calculate using frame layout - 30.5",
                             "** TLTemplateLayoutCell ** calculate using auto layout - 44",
                         }));
}

// ---- the cached form ----------------------------------------------------------------------------

TEST_F(TemplateLayoutCellTest, FirstCachedRequestSwitchesOnAndLaterOnesHitTheCache) {
    // Missing arguments leave the switches off.
    EXPECT_EQ(tl_heightForCellWithIdentifier(*table, std::nullopt, ip(0), nullptr), 0);
    EXPECT_EQ(tl_heightForCellWithIdentifier(*table, "box", nullptr, nullptr), 0);
    EXPECT_FALSE(tl_autoCacheInvalidationEnabled(*table));
    EXPECT_FALSE(tl_precacheEnabled(*table));
    EXPECT_TRUE(tl_cellHeightCache(*table)->sections().empty());
    setFd_debugLogEnabled(*table, true);
    LogCapture log;
    int configured = 0;
    auto configure = [&](const Ref<UITableViewCell>&) { ++configured; };
    EXPECT_DOUBLE_EQ(tl_heightForCellWithIdentifier(*table, "box", ip(1), configure), 44);
    EXPECT_TRUE(tl_autoCacheInvalidationEnabled(*table));
    EXPECT_TRUE(tl_precacheEnabled(*table));
    EXPECT_TRUE(UITableView_TLTemplateLayoutCellAutomaticallyCacheInvalidation::isLoaded());
    EXPECT_DOUBLE_EQ(tl_heightForCellWithIdentifier(*table, "box", ip(1), configure), 44);
    EXPECT_EQ(configured, 1);
    EXPECT_TRUE(log.contains("** TLTemplateLayoutCell ** cached - [0:1] 44"));
    EXPECT_TRUE(log.contains("** TLTemplateLayoutCell ** hit cache - [0:1] 44"));
    EXPECT_EQ(tl_cellHeightCache(*table)->cachedHeightAtIndexPath(ip(1)), 44);
    // Caches are kept per table.
    auto other = make<UITableView>(CGRectMake(0, 0, 320, 480));
    other->registerClass<BoxCell>("box");
    EXPECT_FALSE(tl_cellHeightCache(*other)->hasCachedHeightAtIndexPath(ip(1)));
    EXPECT_FALSE(tl_precacheEnabled(*other));
    EXPECT_EQ(tl_cellHeightCache(*table), tl_cellHeightCache(*table));
}

// ---- pre-computation ----------------------------------------------------------------------------

class TemplateLayoutPrecacheTest : public TemplateLayoutCellTest {
  protected:
    // A table that measures only its visible rows when it loads (estimated heights), so that the
    // rest are left to the pass.
    Ref<Rows> attachLong(std::vector<long> rowCounts) {
        table->setFrame(CGRectMake(0, 0, 320, 100));
        table->setEstimatedRowHeight(44);
        return attach(std::move(rowCounts));
    }
};

TEST_F(TemplateLayoutPrecacheTest, APassFillsEveryRowOneIdleMomentAtATime) {
    auto rows = attachLong({6, 4});
    rows->boxHeights[{1, 3}] = 50;
    table->reloadData();
    const std::size_t afterLoad = cachedCount(*table);
    ASSERT_GT(afterLoad, 0u);
    ASSERT_LT(afterLoad, 10u);
    EXPECT_GE(tl_runningPrecachePassCount(), 1u);
    // The cache mirrors the table's shape as soon as the pass has collected its rows.
    ASSERT_EQ(tl_cellHeightCache(*table)->sections().size(), 2u);
    EXPECT_EQ(tl_cellHeightCache(*table)->sections()[0].size(), 6u);
    EXPECT_EQ(tl_cellHeightCache(*table)->sections()[1].size(), 4u);

    std::size_t previous = afterLoad;
    for (int turn = 0; turn < 50 && cachedCount(*table) < 10; ++turn) {
        oneIdleMoment();
        const std::size_t now = cachedCount(*table);
        EXPECT_LE(now, previous + 1) << "more than one row in one idle moment";
        previous = now;
    }
    EXPECT_EQ(cachedCount(*table), 10u);
    EXPECT_DOUBLE_EQ(tl_cellHeightCache(*table)->cachedHeightAtIndexPath(ip(3, 1)), 70.5);
    ASSERT_TRUE(finishPasses());
    EXPECT_EQ(tl_runningPrecachePassCount(), 0u);
}

TEST_F(TemplateLayoutPrecacheTest, NothingIsComputedWhileTheLoopRunsInTheTrackingMode) {
    attachLong({20});
    table->reloadData();
    const std::size_t afterLoad = cachedCount(*table);
    for (int turn = 0; turn < 5; ++turn) oneIdleMoment(UITrackingRunLoopMode);
    EXPECT_EQ(cachedCount(*table), afterLoad);
    ASSERT_TRUE(finishPasses());
    EXPECT_EQ(cachedCount(*table), 20u);
}

TEST_F(TemplateLayoutPrecacheTest, FinishedRowsAreLoggedAndAskTheDelegateOnce) {
    auto rows = attachLong({8});
    setFd_debugLogEnabled(*table, true);
    table->reloadData();
    const auto callsAtLoad = rows->heightCalls.size();
    LogCapture log;
    ASSERT_TRUE(finishPasses());
    EXPECT_TRUE(log.contains("** TLTemplateLayoutCell ** finished precache - [0:7] 44"));
    // Each remaining row was asked once by the pass; nothing was asked twice.
    EXPECT_EQ(rows->heightCalls.size(), 8u);
    EXPECT_LT(callsAtLoad, 8u);
    std::set<std::string> unique(rows->heightCalls.begin(), rows->heightCalls.end());
    EXPECT_EQ(unique.size(), 8u);
}

TEST_F(TemplateLayoutPrecacheTest, PassesNeedTheSwitchAndADelegateThatAnswersHeights) {
    auto rows = attachLong({5});
    tl_precacheIfNeeded(*table);  // switch still off
    EXPECT_EQ(tl_runningPrecachePassCount(), 0u);
    table->setDelegate(nullptr);
    setFd_precacheEnabled(*table, true);
    tl_precacheIfNeeded(*table);
    EXPECT_EQ(tl_runningPrecachePassCount(), 0u);
    EXPECT_TRUE(rows->heightCalls.empty());

    auto source = make<CountsOnly>();
    table->setDataSource(source);
    table->setDelegate(source);
    LogCapture log;
    setFd_debugLogEnabled(*table, true);
    tl_precacheIfNeeded(*table);
    ASSERT_TRUE(finishPasses());
    EXPECT_EQ(tl_runningPrecachePassCount(), 0u);
    EXPECT_EQ(cachedCount(*table), 0u);
    EXPECT_FALSE(log.contains("finished precache"));
}

TEST_F(TemplateLayoutPrecacheTest, RowsThatVanishBeforeTheirTurnAreSkipped) {
    auto rows = attachLong({10});
    table->reloadData();
    // Rows 5-9 go; the cache is told (automatic invalidation is on), but the pass still holds
    // their paths.
    rows->rows = {5};
    std::vector<Ref<NSIndexPath>> gone;
    for (long r = 5; r < 10; ++r) gone.push_back(ip(r));
    table->deleteRowsAtIndexPaths(gone, UITableViewRowAnimationNone);
    ASSERT_TRUE(finishPasses());
    // Asking about a vanished row makes room for it again, as an uncached entry.
    EXPECT_EQ(cachedCount(*table), 5u);
    for (const auto& call : rows->heightCalls) {
        EXPECT_LT(std::stoi(call.substr(2)), 5) << call;
    }
}

TEST_F(TemplateLayoutPrecacheTest, APassHoldsItsTableUntilItEnds) {
    attachLong({12});
    table->reloadData();
    Weak<UITableView> weak = table;
    table = nullptr;
    EXPECT_FALSE(weak.expired());
    ASSERT_TRUE(finishPasses());
    EXPECT_TRUE(weak.expired());
}

TEST_F(TemplateLayoutPrecacheTest, AllIndexPathsToBePrecachedListsUncachedRowsInOrder) {
    attachLong({2, 0, 2})->cached = false;
    auto cache = tl_cellHeightCache(*table);
    table->numberOfSections();  // load without any pass
    cache->cacheHeight(10, ip(1, 0));
    std::vector<std::string> listed;
    for (const auto& p : tl_allIndexPathsToBePrecached(*table)) {
        listed.push_back(std::to_string(p->section()) + ":" + std::to_string(p->row()));
    }
    EXPECT_EQ(listed, (std::vector<std::string>{"0:0", "2:0", "2:1"}));
}

TEST_F(TemplateLayoutPrecacheTest, OneRowStepSkipsCachedAndMissingRows) {
    auto rows = attachLong({6});
    table->numberOfSections();
    rows->heightCalls.clear();
    tl_cellHeightCache(*table)->cacheHeight(12, ip(4));
    tl_precacheIndexPathIfNeeded(*table, ip(4));
    tl_precacheIndexPathIfNeeded(*table, ip(6));
    tl_precacheIndexPathIfNeeded(*table, ip(0, 1));
    tl_precacheIndexPathIfNeeded(*table, NSIndexPath::indexPathWithIndex(0));
    EXPECT_TRUE(rows->heightCalls.empty());
    tl_precacheIndexPathIfNeeded(*table, ip(5));
    EXPECT_EQ(rows->heightCalls, (std::vector<std::string>{"0:5"}));
    EXPECT_EQ(tl_cellHeightCache(*table)->cachedHeightAtIndexPath(ip(5)), 44);
}

// ---- the cache in step with the table -------------------------------------------------------------

TEST_F(TemplateLayoutPrecacheTest, ReloadEmptiesTheCacheOnlyWithAutomaticInvalidation) {
    attach({3})->cached = false;
    setFd_autoCacheInvalidationEnabled(*table, false);
    tl_cellHeightCache(*table)->cacheHeight(99, ip(0));
    table->reloadData();
    EXPECT_EQ(tl_cellHeightCache(*table)->cachedHeightAtIndexPath(ip(0)), 99);
    setFd_autoCacheInvalidationEnabled(*table, true);
    table->reloadData();  // the uncached source's heights are not stored
    EXPECT_FALSE(tl_cellHeightCache(*table)->hasCachedHeightAtIndexPath(ip(0)));
}

TEST_F(TemplateLayoutPrecacheTest, ReloadRunsInvalidationThenReloadThenRefreshBlockThenPass) {
    auto rows = attachLong({12});
    table->reloadData();
    ASSERT_TRUE(finishPasses());
    ASSERT_EQ(cachedCount(*table), 12u);
    std::vector<std::string> order;
    auto before = UITableView::addReloadDataHook(
        UITableView::ReloadStage::Before, UITableView::kReloadHookOrderRefreshControls,
        [&](UITableView& t) { order.push_back("refresh-before cached=" + std::to_string(cachedCount(t))); });
    auto after = UITableView::addReloadDataHook(
        UITableView::ReloadStage::After, UITableView::kReloadHookOrderRefreshControls, [&](UITableView&) {
            order.push_back("refresh-after passes=" + std::to_string(tl_runningPrecachePassCount()));
        });
    table->reloadData();
    order.push_back("done passes=" + std::to_string(tl_runningPrecachePassCount()));
    UITableView::removeReloadDataHook(before);
    UITableView::removeReloadDataHook(after);
    EXPECT_EQ(order, (std::vector<std::string>{"refresh-before cached=0", "refresh-after passes=0",
                                               "done passes=1"}));
    ASSERT_TRUE(finishPasses());
    EXPECT_EQ(cachedCount(*table), 12u);
}

TEST_F(TemplateLayoutPrecacheTest, RowUpdatesThroughTheTableMoveCachedHeights) {
    auto rows = attachLong({6});
    rows->boxHeights[{0, 3}] = 60;  // 80.5
    table->reloadData();
    ASSERT_TRUE(finishPasses());
    ASSERT_DOUBLE_EQ(tl_cellHeightCache(*table)->cachedHeightAtIndexPath(ip(3)), 80.5);

    rows->rows = {7};
    rows->boxHeights = {{{0, 4}, 60}};
    table->insertRowsAtIndexPaths({ip(1)}, UITableViewRowAnimationNone);
    EXPECT_DOUBLE_EQ(tl_cellHeightCache(*table)->cachedHeightAtIndexPath(ip(4)), 80.5);
    EXPECT_EQ(table->numberOfRowsInSection(0), 7);
    // The insertion started a pass for the new row.
    ASSERT_TRUE(finishPasses());
    EXPECT_EQ(cachedCount(*table), 7u);

    rows->rows = {6};
    rows->boxHeights = {{{0, 3}, 60}};
    table->deleteRowsAtIndexPaths({ip(0)}, UITableViewRowAnimationNone);
    EXPECT_EQ(tl_runningPrecachePassCount(), 0u);  // deletions start no pass
    EXPECT_DOUBLE_EQ(tl_cellHeightCache(*table)->cachedHeightAtIndexPath(ip(3)), 80.5);
}

TEST_F(TemplateLayoutPrecacheTest, SectionUpdatesThroughTheTable) {
    auto rows = attachLong({2, 2, 2});
    rows->boxHeights = {{{1, 0}, 30}};
    table->reloadData();
    ASSERT_TRUE(finishPasses());
    ASSERT_DOUBLE_EQ(tl_cellHeightCache(*table)->cachedHeightAtIndexPath(ip(0, 1)), 50.5);

    rows->rows = {2, 2};
    rows->boxHeights = {};
    table->deleteSections(NSIndexSet::indexSetWithIndex(1), UITableViewRowAnimationNone);
    EXPECT_EQ(tl_cellHeightCache(*table)->sections().size(), 2u);
    EXPECT_DOUBLE_EQ(tl_cellHeightCache(*table)->cachedHeightAtIndexPath(ip(0, 1)), 44);

    rows->rows = {3, 2, 2};
    table->insertSections(NSIndexSet::indexSetWithIndex(0), UITableViewRowAnimationNone);
    EXPECT_EQ(tl_cellHeightCache(*table)->sections()[0].size(), 3u);  // the pass made room
    ASSERT_TRUE(finishPasses());
    EXPECT_EQ(cachedCount(*table), 7u);

    rows->boxHeights = {{{2, 0}, 0}};
    table->reloadSections(NSIndexSet::indexSetWithIndex(2), UITableViewRowAnimationNone);
    ASSERT_TRUE(finishPasses());
    EXPECT_DOUBLE_EQ(tl_cellHeightCache(*table)->cachedHeightAtIndexPath(ip(0, 2)), 20.5);
}

TEST_F(TemplateLayoutPrecacheTest, UpdatesLeaveTheCacheAloneWithoutAutomaticInvalidation) {
    auto rows = attach({4});
    rows->cached = false;
    table->numberOfSections();
    tl_cellHeightCache(*table)->cacheHeight(77, ip(2));
    rows->rows = {5};
    table->insertRowsAtIndexPaths({ip(0)}, UITableViewRowAnimationNone);
    EXPECT_EQ(tl_cellHeightCache(*table)->cachedHeightAtIndexPath(ip(2)), 77);
}

}  // namespace
