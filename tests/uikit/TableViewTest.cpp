// Table views: the model as of the last reload, the visible rows as the table scrolls, cell reuse,
// heights from the delegate and from cells, sections with headers, updates and batches,
// selection by injected taps, scrolling to rows, and the reload hook lists.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSLog.h"
#include "graphics/NSValue+Geometry.h"
#include "tests/uikit/UIKitTestSupport.h"
#include "uikit/NSLayoutConstraint.h"
#include "uikit/UITableView.h"
#include "uikit/UITestDriver.h"
#include "uikit/UIWindow.h"

namespace {

using testsupport::ManualClock;

Ref<NSIndexPath> ip(long row, long section = 0) {
    return NSIndexPath::indexPathForRow(row, section);
}

using Strings = std::vector<std::string>;
using uikittest::LogCapture;

std::string rowName(const Ref<NSIndexPath>& p) {
    return std::to_string(p->section()) + ":" + std::to_string(p->row());
}

Strings paths(const std::vector<Ref<NSIndexPath>>& list) {
    Strings out;
    for (const auto& p : list) out.push_back(rowName(p));
    return out;
}

// A cell that counts how often it was prepared for reuse and remembers what it shows.
class CountingCell : public UITableViewCell {
  public:
    using UITableViewCell::UITableViewCell;
    int reuses = 0;
    std::string shows;
    void prepareForReuse() override {
        UITableViewCell::prepareForReuse();
        ++reuses;
    }
};

// Rows per section from a vector, cells dequeued from the table, every call recorded.
class Source : public UITableViewDataSource, public UITableViewDelegate {
  public:
    std::vector<long> rows{10};
    std::map<long, std::string> titles;
    std::map<std::pair<long, long>, CGFloat> heights;  // delegate heights (when `useHeights`)
    bool useHeights = false;
    std::optional<CGFloat> headerHeight;
    std::vector<std::string> requests;  // cellForRow calls: "s:r"
    std::vector<std::string> events;    // selection and display calls
    std::function<Ref<UITableViewCell>(UITableView&, const Ref<NSIndexPath>&)> makeCell;
    std::optional<Ref<NSIndexPath>> willSelectAnswer;

    long numberOfSectionsInTableView(UITableView&) override { return long(rows.size()); }
    long tableViewNumberOfRowsInSection(UITableView&, long section) override {
        return section < long(rows.size()) ? rows[std::size_t(section)] : 0;
    }
    Ref<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& table,
                                                        const Ref<NSIndexPath>& path) override {
        requests.push_back(rowName(path));
        if (makeCell) return makeCell(table, path);
        auto cell = table.dequeueReusableCellWithIdentifier("cell", path);
        if (auto counting = std::dynamic_pointer_cast<CountingCell>(cell)) {
            counting->shows = requests.back();
        }
        return cell;
    }
    std::optional<std::string> tableViewTitleForHeaderInSection(UITableView&, long section) override {
        auto it = titles.find(section);
        return it == titles.end() ? std::nullopt : std::optional(it->second);
    }
    std::optional<CGFloat> tableViewHeightForRowAtIndexPath(UITableView&,
                                                            const Ref<NSIndexPath>& path) override {
        if (!useHeights) return std::nullopt;
        auto it = heights.find({path->section(), path->row()});
        return it == heights.end() ? 30 : it->second;
    }
    std::optional<CGFloat> tableViewHeightForHeaderInSection(UITableView&, long) override {
        return headerHeight;
    }
    std::optional<Ref<NSIndexPath>> tableViewWillSelectRowAtIndexPath(UITableView&,
                                                                      const Ref<NSIndexPath>& path) override {
        events.push_back("willSelect " + rowName(path));
        return willSelectAnswer;
    }
    void tableViewDidSelectRowAtIndexPath(UITableView&, const Ref<NSIndexPath>& path) override {
        events.push_back("didSelect " + rowName(path));
    }
    void tableViewDidDeselectRowAtIndexPath(UITableView&, const Ref<NSIndexPath>& path) override {
        events.push_back("didDeselect " + rowName(path));
    }
};

class TableViewTest : public uikittest::UIKitTest {
  protected:
    void SetUp() override {
        UIKitTest::SetUp();
        table = make<UITableView>(CGRectMake(0, 0, 320, 480));
        source = std::make_shared<Source>();
        table->registerClass(
            [this](const std::string& id) -> Ref<UITableViewCell> {
                ++made;
                return make<CountingCell>(UITableViewCellStyleDefault, id);
            },
            "cell");
        table->setDataSource(source);
        table->setDelegate(source);
    }
    void TearDown() override {
        if (window) window->setHidden(true);
        UITestDriver::reset();
        UIKitTest::TearDown();
    }
    void showInWindow() {
        window = make<UIWindow>(CGRectMake(0, 0, 320, 480));
        window->addSubview(table);
        window->setHidden(false);
    }
    // Shown in a window and laid out, with the driver's touch state fresh.
    void showLaidOut(long rows) {
        source->rows = {rows};
        showInWindow();
        table->layoutIfNeeded();
        UITestDriver::reset();
    }
    Strings visible() { return paths(table->indexPathsForVisibleRows()); }

    Ref<UITableView> table;
    std::shared_ptr<Source> source;
    Ref<UIWindow> window;
    int made = 0;
};

// ---- the visible rows and reuse ---------------------------------------------------------------

TEST_F(TableViewTest, AThousandRowsScrollThroughAHandfulOfCells) {
    source->rows = {1000};
    table->reloadData();
    EXPECT_EQ(table->numberOfRowsInSection(0), 1000);
    EXPECT_DOUBLE_EQ(table->contentSize().width, 320);
    EXPECT_DOUBLE_EQ(table->contentSize().height, 44000);
    // 480 / 44 = 10.9: rows 0 to 10 show.
    auto rows = table->indexPathsForVisibleRows();
    ASSERT_EQ(rows.size(), 11u);
    EXPECT_EQ(rows.front()->row(), 0);
    EXPECT_EQ(rows.back()->row(), 10);
    const CGFloat maxY = table->contentSize().height - 480;
    std::set<long> seen;
    for (CGFloat y = 0; y <= maxY; y += 37) {
        table->setContentOffset(CGPointMake(0, y));
        auto now = table->indexPathsForVisibleRows();
        ASSERT_FALSE(now.empty());
        const long first = long(y / 44), last = long((y + 480 - 1e-9) / 44);
        EXPECT_EQ(now.front()->row(), first) << "at " << y;
        EXPECT_EQ(now.back()->row(), last) << "at " << y;
        EXPECT_EQ(long(now.size()), last - first + 1);
        for (const auto& cell : table->visibleCells()) {
            auto path = table->indexPathForCell(cell);
            ASSERT_TRUE(path);
            EXPECT_EQ(static_cast<CountingCell&>(*cell).shows, "0:" + std::to_string(path->row()));
            EXPECT_DOUBLE_EQ(cell->frame().origin.y, 44.0 * double(path->row()));
            seen.insert(path->row());
        }
    }
    table->setContentOffset(CGPointMake(0, maxY));
    EXPECT_EQ(table->indexPathsForVisibleRows().back()->row(), 999);
    seen.insert(999);
    EXPECT_GE(seen.size(), 990u);
    // Never more cells than fit on screen, plus one for the row coming in.
    EXPECT_LE(made, 13);
    EXPECT_EQ(std::size_t(made), table->cellsCreatedFromRegistrations());
    int reuses = 0;
    for (const auto& cell : table->visibleCells()) reuses += static_cast<CountingCell&>(*cell).reuses;
    EXPECT_GT(reuses, 0);
    // Every row was asked for once on the way down.
    EXPECT_GE(source->requests.size(), 1000u);
}

TEST_F(TableViewTest, RowsLeavingTheViewGoBackToTheQueueAndComeOutPrepared) {
    source->rows = {100};
    table->reloadData();
    source->rows = {12};
    table->reloadData();
    auto first = std::static_pointer_cast<CountingCell>(table->cellForRowAtIndexPath(ip(0)));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->superview(), table);
    const int reusesBefore = first->reuses;
    // Past the end only the last row shows: the other cells wait in the queue.
    table->setContentOffset(CGPointMake(0, 11 * 44));
    EXPECT_EQ(visible(), (Strings{"0:11"}));
    EXPECT_FALSE(table->cellForRowAtIndexPath(ip(0)));
    EXPECT_FALSE(first->superview()) << "a queued cell leaves the table";
    EXPECT_EQ(table->reusableCellCount("cell"), 10u);
    EXPECT_EQ(first->reuses, reusesBefore);
    table->setContentOffset(CGPointMake(0, 0));
    EXPECT_EQ(first->reuses, reusesBefore + 1) << "prepared as it comes out of the queue";
    EXPECT_EQ(first->superview(), table);
    EXPECT_EQ(table->reusableCellCount("cell"), 0u);
    EXPECT_EQ(visible().size(), 11u);
}

TEST_F(TableViewTest, VisibleRowsFollowDelegateHeights) {
    source->rows = {50};
    source->useHeights = true;
    for (long r = 0; r < 50; ++r) source->heights[{0, r}] = 30 + CGFloat(r % 3) * 10;  // 30, 40, 50...
    table->reloadData();
    EXPECT_DOUBLE_EQ(table->contentSize().height, 16 * 120 + 30 + 40);
    EXPECT_RECT(table->rectForRowAtIndexPath(ip(4)), 0, 150, 320, 40);
    table->setContentOffset(CGPointMake(0, 500));
    // Row 12 starts at 480 and is 30 tall (ends 510); rows run to the one holding 979.
    auto rows = table->indexPathsForVisibleRows();
    EXPECT_EQ(rows.front()->row(), 12);
    EXPECT_EQ(rowName(table->indexPathForRowAtPoint(CGPointMake(10, 979))), rowName(rows.back()));
    EXPECT_EQ(rowName(table->indexPathForRowAtPoint(CGPointMake(10, 150))), "0:4");
    EXPECT_EQ(rowName(table->indexPathForRowAtPoint(CGPointMake(10, 149.9))), "0:3");
    EXPECT_FALSE(table->indexPathForRowAtPoint(CGPointMake(10, 99999)));
    EXPECT_FALSE(table->indexPathForRowAtPoint(CGPointMake(10, -1)));
    EXPECT_EQ(paths(table->indexPathsForRowsInRect(CGRectMake(0, 140, 320, 40))), (Strings{"0:3", "0:4"}));
}

TEST_F(TableViewTest, EdgesOfTheVisibleRange) {
    // A row exactly at the bottom edge is not visible.
    source->rows = {20};
    table->setFrame(CGRectMake(0, 0, 320, 440));
    table->reloadData();
    EXPECT_EQ(visible().size(), 10u);
    table->setContentOffset(CGPointMake(0, 1));
    EXPECT_EQ(visible().size(), 11u);
    EXPECT_EQ(visible().back(), "0:10");
    // A row height of zero still counts as a row.
    source->rows = {3};
    source->useHeights = true;
    source->heights[{0, 1}] = 0;
    table->setFrame(CGRectMake(0, 0, 320, 480));
    table->setContentOffset(CGPointZero);
    table->reloadData();
    EXPECT_DOUBLE_EQ(table->contentSize().height, 60);
    EXPECT_EQ(visible(), (Strings{"0:0", "0:1", "0:2"}));
    // An empty table, or one without a data source, shows nothing.
    source->rows = {0};
    table->reloadData();
    EXPECT_TRUE(table->visibleCells().empty());
    EXPECT_DOUBLE_EQ(table->contentSize().height, 0);
    auto bare = make<UITableView>(CGRectMake(0, 0, 100, 100));
    EXPECT_EQ(bare->numberOfSections(), 0);
    EXPECT_EQ(bare->numberOfRowsInSection(3), 0);
    EXPECT_TRUE(bare->visibleCells().empty());
    EXPECT_RECT(bare->rectForRowAtIndexPath(ip(0)), 0, 0, 0, 0);
}

TEST_F(TableViewTest, ADataSourceThatGivesNoCellIsLoggedAndSkipped) {
    LogCapture log;
    source->rows = {3};
    source->makeCell = [](UITableView& t, const Ref<NSIndexPath>& p) -> Ref<UITableViewCell> {
        return p->row() == 1 ? nullptr : t.dequeueReusableCellWithIdentifier("cell", p);
    };
    table->reloadData();
    EXPECT_EQ(visible(), (Strings{"0:0", "0:2"}));
    ASSERT_FALSE(log.lines.empty());
    EXPECT_NE(log.lines[0].find("no cell"), std::string::npos);
}

// ---- the model ----------------------------------------------------------------------------------

TEST_F(TableViewTest, CountsAnswerAsOfTheLastReload) {
    source->rows = {3, 4};
    EXPECT_EQ(table->numberOfSections(), 2) << "the first question loads the data";
    EXPECT_EQ(table->numberOfRowsInSection(1), 4);
    source->rows = {7};
    EXPECT_EQ(table->numberOfSections(), 2);
    EXPECT_EQ(table->numberOfRowsInSection(1), 4);
    table->reloadData();
    EXPECT_EQ(table->numberOfSections(), 1);
    EXPECT_EQ(table->numberOfRowsInSection(0), 7);
    EXPECT_EQ(table->numberOfRowsInSection(1), 0);
    EXPECT_EQ(table->numberOfRowsInSection(-1), 0);
}

TEST_F(TableViewTest, TheFirstLayoutLoadsTheDataWithoutRunningHooks) {
    int hookRuns = 0;
    auto token =
        UITableView::addReloadDataHook(UITableView::ReloadStage::After, 0, [&](UITableView&) { ++hookRuns; });
    source->rows = {5};
    showInWindow();
    testsupport::drainMainRunLoop();
    EXPECT_TRUE(table->hasLoadedData());
    EXPECT_EQ(table->visibleCells().size(), 5u);
    EXPECT_EQ(hookRuns, 0);
    table->reloadData();
    EXPECT_EQ(hookRuns, 1);
    UITableView::removeReloadDataHook(token);
}

TEST_F(TableViewTest, ReloadClearsSelectionAndRefillsTheShownCells) {
    source->rows = {5};
    table->reloadData();
    auto before = table->visibleCells();
    table->selectRowAtIndexPath(ip(2), false, UITableViewScrollPositionNone);
    ASSERT_TRUE(table->cellForRowAtIndexPath(ip(2))->isSelected());
    source->requests.clear();
    table->reloadData();
    EXPECT_FALSE(table->indexPathForSelectedRow());
    EXPECT_EQ(source->requests.size(), 5u);
    // The cells come back for the same rows (dequeue prefers the cell that showed the row).
    auto after = table->visibleCells();
    EXPECT_EQ(after, before);
    for (const auto& cell : after) EXPECT_FALSE(cell->isSelected());
    EXPECT_EQ(made, 5);
}

TEST_F(TableViewTest, DuringAReloadTheTableAnswersTheCellItShowedForTheRow) {
    // The pattern of screens that ask the table for "the cell it already shows" and make a new
    // cell only when there is none.
    std::map<long, Ref<UITableViewCell>> givenAtRequest;
    int created = 0;
    source->rows = {4};
    source->makeCell = [&](UITableView& t, const Ref<NSIndexPath>& p) -> Ref<UITableViewCell> {
        auto cell = t.cellForRowAtIndexPath(p);
        givenAtRequest[p->row()] = cell;
        if (!cell) {
            ++created;
            cell = make<UITableViewCell>(UITableViewCellStyleDefault, std::string("detailCell"));
        }
        return cell;
    };
    table->reloadData();
    EXPECT_EQ(created, 4);
    for (long r = 0; r < 4; ++r) EXPECT_FALSE(givenAtRequest[r]);
    auto shown = table->visibleCells();
    table->reloadData();
    EXPECT_EQ(created, 4) << "a reload refills the cells it showed";
    for (long r = 0; r < 4; ++r) EXPECT_EQ(givenAtRequest[r], shown[std::size_t(r)]);
    // A row that only scrolls into view has no cell yet.
    source->rows = {40};
    table->reloadData();
    givenAtRequest.clear();
    table->setContentOffset(CGPointMake(0, 44 * 30));
    EXPECT_FALSE(givenAtRequest.empty());
    for (const auto& [row, cell] : givenAtRequest) EXPECT_FALSE(cell) << row;
    // Reloading one row refills its cell too.
    auto cell31 = table->cellForRowAtIndexPath(ip(31));
    givenAtRequest.clear();
    table->reloadRowsAtIndexPaths({ip(31)}, UITableViewRowAnimationNone);
    EXPECT_EQ(givenAtRequest[31], cell31);
    EXPECT_EQ(table->cellForRowAtIndexPath(ip(31)), cell31);
}

// ---- heights, sections and the table's own views ---------------------------------------------

TEST_F(TableViewTest, SectionsWithTitlesGetHeadersThatFloatInPlainTables) {
    source->rows = {3, 20};
    source->titles = {{0, "一"}, {1, "二"}};
    table->reloadData();
    EXPECT_DOUBLE_EQ(table->contentSize().height, 22 + 3 * 44 + 22 + 20 * 44);
    EXPECT_RECT(table->rectForSection(1), 0, 154, 320, 22 + 880);
    EXPECT_RECT(table->rectForHeaderInSection(1), 0, 154, 320, 22);
    EXPECT_RECT(table->rectForRowAtIndexPath(ip(0, 1)), 0, 176, 320, 44);
    auto header = std::dynamic_pointer_cast<UITableViewHeaderFooterView>(table->headerViewForSection(0));
    ASSERT_TRUE(header);
    EXPECT_EQ(header->textLabel()->text(), "一");
    // Scrolled into section 1, its header sticks to the top of the view.
    table->setContentOffset(CGPointMake(0, 400));
    auto header1 = table->headerViewForSection(1);
    ASSERT_TRUE(header1);
    EXPECT_RECT(header1->frame(), 0, 400, 320, 22);
    EXPECT_FALSE(table->headerViewForSection(0)) << "section 0 is out of view";
    // Near the end of the section it is pushed up with it.
    table->setContentOffset(CGPointMake(0, table->contentSize().height - 480));
    EXPECT_DOUBLE_EQ(table->headerViewForSection(1)->frame().origin.y, table->contentSize().height - 480);
    // Grouped tables leave headers in place.
    auto grouped = make<UITableView>(CGRectMake(0, 0, 320, 480), UITableViewStyleGrouped);
    grouped->setDataSource(source);
    grouped->registerClass<UITableViewCell>("cell");
    grouped->setContentOffset(CGPointMake(0, 400));
    EXPECT_RECT(grouped->headerViewForSection(1)->frame(), 0, 154, 320, 22);
}

TEST_F(TableViewTest, DelegateHeaderHeightsAndViewsWin) {
    class Headers : public Source {
      public:
        Ref<UIView> tableViewViewForHeaderInSection(UITableView&, long section) override {
            auto v = make<UIView>();
            v->setTag(100 + section);
            return v;
        }
    };
    auto headers = std::make_shared<Headers>();
    headers->rows = {2, 2};
    headers->headerHeight = 30;
    table->setDataSource(headers);
    table->setDelegate(headers);
    EXPECT_DOUBLE_EQ(table->contentSize().height, 0) << "not loaded yet";
    table->reloadData();
    EXPECT_DOUBLE_EQ(table->contentSize().height, 2 * 30 + 4 * 44);
    EXPECT_EQ(table->headerViewForSection(1)->tag(), 101);
    EXPECT_RECT(table->headerViewForSection(1)->frame(), 0, 118, 320, 30);
    // Without a height answer and without titles, sections have no headers.
    headers->headerHeight.reset();
    table->reloadData();
    EXPECT_DOUBLE_EQ(table->contentSize().height, 4 * 44);
    EXPECT_FALSE(table->headerViewForSection(0));
    // An explicit section header height applies to every section.
    table->setSectionHeaderHeight(10);
    table->reloadData();
    EXPECT_DOUBLE_EQ(table->contentSize().height, 20 + 4 * 44);
}

TEST_F(TableViewTest, TableHeaderViewTakesItsNewHeightWhenSetAgain) {
    source->rows = {2};
    auto header = make<UIView>(CGRectMake(0, 0, 100, 50));
    auto footer = make<UIView>(CGRectMake(0, 0, 100, 10));
    table->setTableHeaderView(header);
    table->setTableFooterView(footer);
    table->reloadData();
    EXPECT_RECT(header->frame(), 0, 0, 320, 50) << "the header takes the table's width";
    EXPECT_RECT(table->rectForRowAtIndexPath(ip(0)), 0, 50, 320, 44);
    EXPECT_RECT(footer->frame(), 0, 138, 320, 10);
    EXPECT_DOUBLE_EQ(table->contentSize().height, 148);
    header->setFrame(CGRectMake(0, 0, 320, 120));
    EXPECT_DOUBLE_EQ(table->contentSize().height, 148) << "a resize alone is not noticed";
    table->setTableHeaderView(header);
    EXPECT_DOUBLE_EQ(table->contentSize().height, 218);
    EXPECT_RECT(table->cellForRowAtIndexPath(ip(1))->frame(), 0, 164, 320, 44);
    EXPECT_RECT(footer->frame(), 0, 208, 320, 10);
    table->setTableHeaderView(nullptr);
    EXPECT_FALSE(header->superview());
    EXPECT_DOUBLE_EQ(table->contentSize().height, 98);
}

TEST_F(TableViewTest, EstimatedRowsGetTheirRealHeightsAsTheyComeIntoView) {
    int heightQuestions = 0;
    class Counting : public Source {
      public:
        int* count = nullptr;
        std::optional<CGFloat> tableViewHeightForRowAtIndexPath(UITableView& t,
                                                                const Ref<NSIndexPath>& p) override {
            ++*count;
            return Source::tableViewHeightForRowAtIndexPath(t, p);
        }
    };
    auto counting = std::make_shared<Counting>();
    counting->rows = {100};
    counting->useHeights = true;
    counting->count = &heightQuestions;
    for (long r = 0; r < 100; ++r) counting->heights[{0, r}] = 60;
    table->setDataSource(counting);
    table->setDelegate(counting);
    table->setEstimatedRowHeight(40);
    table->reloadData();
    // 8 rows of 60 fill 480; the rest keep their estimate.
    EXPECT_EQ(heightQuestions, 8);
    EXPECT_DOUBLE_EQ(table->contentSize().height, 8 * 60 + 92 * 40);
    EXPECT_EQ(table->visibleCells().size(), 8u);
    // Further down, each row is asked once as it comes into view.
    table->setContentOffset(CGPointMake(0, 1000));
    EXPECT_EQ(heightQuestions, 8 + 8);
    EXPECT_EQ(table->visibleCells().size(), 8u);
    EXPECT_EQ(paths(table->indexPathsForVisibleRows()).front(), "0:21");
    EXPECT_DOUBLE_EQ(table->contentSize().height, 16 * 60 + 84 * 40);
}

// A cell whose content view is held together by constraints: a label of fixed height per row.
class SelfSizingCell : public UITableViewCell {
  public:
    SelfSizingCell(UITableViewCellStyle style, std::optional<std::string> id) : UITableViewCell(style, id) {
        box = make<UIView>();
        box->setTranslatesAutoresizingMaskIntoConstraints(false);
        contentView()->addSubview(box);
        using C = NSLayoutConstraint;
        contentView()->addConstraints(
            {C::constraintWithItem(box, NSLayoutAttributeTop, NSLayoutRelationEqual, contentView(),
                                   NSLayoutAttributeTop, 1, 10),
             C::constraintWithItem(contentView(), NSLayoutAttributeBottom, NSLayoutRelationEqual, box,
                                   NSLayoutAttributeBottom, 1, 10),
             C::constraintWithItem(box, NSLayoutAttributeLeading, NSLayoutRelationEqual, contentView(),
                                   NSLayoutAttributeLeading, 1, 15),
             C::constraintWithItem(box, NSLayoutAttributeWidth, NSLayoutRelationEqual, nullptr,
                                   NSLayoutAttributeNotAnAttribute, 1, 50)});
        heightConstraint = C::constraintWithItem(box, NSLayoutAttributeHeight, NSLayoutRelationEqual, nullptr,
                                                 NSLayoutAttributeNotAnAttribute, 1, 20);
        contentView()->addConstraint(heightConstraint);
    }
    Ref<UIView> box;
    Ref<NSLayoutConstraint> heightConstraint;
};

TEST_F(TableViewTest, AutomaticDimensionMeasuresTheCellsConstraints) {
    UIScreen::mainScreen()->setScale(2);
    source->rows = {3};
    table->registerClass<SelfSizingCell>("cell");
    source->makeCell = [](UITableView& t, const Ref<NSIndexPath>& p) -> Ref<UITableViewCell> {
        auto cell = std::static_pointer_cast<SelfSizingCell>(t.dequeueReusableCellWithIdentifier("cell", p));
        cell->heightConstraint->setConstant(20 + 10 * CGFloat(p->row()));
        return cell;
    };
    table->setRowHeight(UITableViewAutomaticDimension);
    table->setEstimatedRowHeight(44);
    table->reloadData();
    // 10 + box + 10 + the separator's half point.
    EXPECT_RECT(table->rectForRowAtIndexPath(ip(0)), 0, 0, 320, 40.5);
    EXPECT_RECT(table->rectForRowAtIndexPath(ip(2)), 0, 40.5 + 50.5, 320, 60.5);
    EXPECT_DOUBLE_EQ(table->contentSize().height, 40.5 + 50.5 + 60.5);
    table->setSeparatorStyle(UITableViewCellSeparatorStyleNone);
    table->reloadData();
    EXPECT_DOUBLE_EQ(table->contentSize().height, 40 + 50 + 60);
}

// ---- updates ------------------------------------------------------------------------------------

TEST_F(TableViewTest, InsertedRowsGetNewCellsAndTheOthersKeepTheirs) {
    source->rows = {5};
    table->reloadData();
    auto cell2 = table->cellForRowAtIndexPath(ip(2));
    source->requests.clear();
    source->rows = {6};
    table->insertRowsAtIndexPaths({ip(1)}, UITableViewRowAnimationAutomatic);
    EXPECT_EQ(source->requests, (Strings{"0:1"}));
    EXPECT_EQ(table->cellForRowAtIndexPath(ip(3)), cell2);
    EXPECT_EQ(table->numberOfRowsInSection(0), 6);
    EXPECT_DOUBLE_EQ(table->contentSize().height, 6 * 44);
    EXPECT_RECT(cell2->frame(), 0, 132, 320, 44);
    // Deleting puts the row's cell back in the queue; the rows after it move up.
    source->rows = {5};
    source->requests.clear();
    auto cell0 = table->cellForRowAtIndexPath(ip(0));
    table->deleteRowsAtIndexPaths({ip(0)}, UITableViewRowAnimationFade);
    EXPECT_TRUE(source->requests.empty());
    EXPECT_EQ(table->cellForRowAtIndexPath(ip(2)), cell2);
    EXPECT_FALSE(cell0->superview());
    EXPECT_EQ(table->reusableCellCount("cell"), 1u);
}

TEST_F(TableViewTest, BatchedUpdatesApplyTogetherAtTheOutermostEnd) {
    source->rows = {5};
    table->reloadData();
    auto cell4 = table->cellForRowAtIndexPath(ip(4));
    auto cell1 = table->cellForRowAtIndexPath(ip(1));
    table->beginUpdates();
    source->rows = {5};
    table->deleteRowsAtIndexPaths({ip(0)}, UITableViewRowAnimationFade);
    table->beginUpdates();
    table->insertRowsAtIndexPaths({ip(4)}, UITableViewRowAnimationFade);
    table->endUpdates();
    EXPECT_EQ(table->cellForRowAtIndexPath(ip(4)), cell4) << "nothing applies before the outermost end";
    table->endUpdates();
    // Deletions name the old rows, insertions the new ones: old 4 is now 3, a new row 4 follows.
    EXPECT_EQ(table->cellForRowAtIndexPath(ip(3)), cell4);
    EXPECT_EQ(table->cellForRowAtIndexPath(ip(0)), cell1);
    EXPECT_NE(table->cellForRowAtIndexPath(ip(4)), cell4);
    EXPECT_EQ(table->inconsistentUpdateCount(), 0u);
}

TEST_F(TableViewTest, MovesAndSectionUpdatesCarryCellsAndSelection) {
    source->rows = {3, 2};
    table->reloadData();
    auto a = table->cellForRowAtIndexPath(ip(0));
    auto b = table->cellForRowAtIndexPath(ip(0, 1));
    table->selectRowAtIndexPath(ip(0), false, UITableViewScrollPositionNone);
    table->moveRowAtIndexPath(ip(0), ip(2));
    EXPECT_EQ(table->cellForRowAtIndexPath(ip(2)), a);
    EXPECT_EQ(rowName(table->indexPathForSelectedRow()), "0:2");
    EXPECT_TRUE(a->isSelected());
    // A new first section pushes the others down.
    source->rows = {1, 3, 2};
    table->insertSections(NSIndexSet::indexSetWithIndex(0), UITableViewRowAnimationNone);
    EXPECT_EQ(table->cellForRowAtIndexPath(ip(2, 1)), a);
    EXPECT_EQ(table->cellForRowAtIndexPath(ip(0, 2)), b);
    source->rows = {1, 2};
    table->deleteSections(NSIndexSet::indexSetWithIndex(1), UITableViewRowAnimationNone);
    EXPECT_EQ(table->cellForRowAtIndexPath(ip(0, 1)), b);
    EXPECT_FALSE(table->indexPathForSelectedRow()) << "the selected row went with its section";
    source->rows = {2, 1};
    table->moveSection(1, 0);
    EXPECT_EQ(table->cellForRowAtIndexPath(ip(0, 0)), b);
    source->requests.clear();
    table->reloadSections(NSIndexSet::indexSetWithIndex(0), UITableViewRowAnimationNone);
    EXPECT_EQ(source->requests, (Strings{"0:0", "0:1"}));
}

TEST_F(TableViewTest, AnInconsistentUpdateIsLoggedAndBecomesAReload) {
    LogCapture log;
    source->rows = {5};
    table->reloadData();
    source->requests.clear();
    // The data source still says 5 rows, but a row is inserted.
    table->insertRowsAtIndexPaths({ip(0)}, UITableViewRowAnimationNone);
    // Rows that do not exist.
    table->deleteRowsAtIndexPaths({ip(9)}, UITableViewRowAnimationNone);
    table->moveRowAtIndexPath(ip(7), ip(0));
    table->deleteSections(NSIndexSet::indexSetWithIndex(4), UITableViewRowAnimationNone);
    table->endUpdates();  // without a begin
    EXPECT_EQ(table->inconsistentUpdateCount(), 4u);
    EXPECT_EQ(log.lines.size(), 5u);
    EXPECT_NE(log.lines[0].find("invalid update"), std::string::npos);
    EXPECT_EQ(table->numberOfRowsInSection(0), 5);
    EXPECT_EQ(visible().size(), 5u);
    EXPECT_EQ(source->requests.size(), 20u) << "each bad update reloads";
}

TEST_F(TableViewTest, AnEmptyBatchAsksTheHeightsAgain) {
    source->rows = {3};
    source->useHeights = true;
    table->reloadData();
    EXPECT_DOUBLE_EQ(table->contentSize().height, 90);
    source->heights[{0, 1}] = 100;
    table->beginUpdates();
    table->endUpdates();
    EXPECT_DOUBLE_EQ(table->contentSize().height, 160);
    EXPECT_RECT(table->cellForRowAtIndexPath(ip(2))->frame(), 0, 130, 320, 30);
}

// ---- selection ----------------------------------------------------------------------------------

TEST_F(TableViewTest, ATapSelectsTheRowAndTellsTheDelegate) {
    showLaidOut(20);
    auto cell = table->cellForRowAtIndexPath(ip(3));
    ASSERT_TRUE(cell);
    UITestDriver::tap(cell);
    EXPECT_EQ(source->events, (Strings{"willSelect 0:3", "didSelect 0:3"}));
    EXPECT_EQ(rowName(table->indexPathForSelectedRow()), "0:3");
    EXPECT_TRUE(cell->isSelected());
    EXPECT_FALSE(cell->isHighlighted());
    source->events.clear();
    UITestDriver::tap(table->cellForRowAtIndexPath(ip(5)));
    EXPECT_EQ(source->events, (Strings{"willSelect 0:5", "didDeselect 0:3", "didSelect 0:5"}));
    EXPECT_FALSE(cell->isSelected());
    // Taps after scrolling land on the rows under the finger.
    table->setContentOffset(CGPointMake(0, 44 * 10));
    source->events.clear();
    UITestDriver::tapAt(table, CGPointMake(100, 44 * 10 + 50));
    EXPECT_EQ(source->events.back(), "didSelect 0:11");
}

TEST_F(TableViewTest, SelectionCanBeRefusedRedirectedMultipleOrTurnedOff) {
    showLaidOut(10);
    source->willSelectAnswer = Ref<NSIndexPath>();  // refuse
    UITestDriver::tap(table->cellForRowAtIndexPath(ip(1)));
    EXPECT_FALSE(table->indexPathForSelectedRow());
    source->willSelectAnswer = ip(4);
    UITestDriver::tap(table->cellForRowAtIndexPath(ip(1)));
    EXPECT_EQ(rowName(table->indexPathForSelectedRow()), "0:4");
    EXPECT_EQ(source->events.back(), "didSelect 0:4");
    source->willSelectAnswer.reset();
    // Multiple selection toggles rows.
    table->setAllowsMultipleSelection(true);
    UITestDriver::tap(table->cellForRowAtIndexPath(ip(1)));
    EXPECT_EQ(paths(table->indexPathsForSelectedRows()), (Strings{"0:1", "0:4"}));
    UITestDriver::tap(table->cellForRowAtIndexPath(ip(4)));
    EXPECT_EQ(paths(table->indexPathsForSelectedRows()), (Strings{"0:1"}));
    EXPECT_EQ(source->events.back(), "didDeselect 0:4");
    source->events.clear();
    table->setAllowsSelection(false);
    EXPECT_FALSE(table->indexPathForSelectedRow());
    UITestDriver::tap(table->cellForRowAtIndexPath(ip(2)));
    EXPECT_TRUE(source->events.empty());
}

TEST_F(TableViewTest, ADragDoesNotSelect) {
    showLaidOut(30);
    UITestDriver::drag(table, CGPointMake(100, 300), CGPointMake(100, 100), 8);
    EXPECT_TRUE(source->events.empty());
    EXPECT_GT(table->contentOffset().y, 0);
    EXPECT_FALSE(table->indexPathForSelectedRow());
    for (const auto& cell : table->visibleCells()) EXPECT_FALSE(cell->isHighlighted());
}

TEST_F(TableViewTest, ProgrammaticSelectionDoesNotAskTheDelegate) {
    source->rows = {30};
    table->reloadData();
    table->selectRowAtIndexPath(ip(20), false, UITableViewScrollPositionMiddle);
    EXPECT_TRUE(source->events.empty());
    EXPECT_TRUE(table->cellForRowAtIndexPath(ip(20))->isSelected());
    table->deselectRowAtIndexPath(ip(20), true);
    EXPECT_FALSE(table->indexPathForSelectedRow());
    table->selectRowAtIndexPath(ip(99), false, UITableViewScrollPositionNone);
    EXPECT_FALSE(table->indexPathForSelectedRow());
}

// ---- scrolling to rows --------------------------------------------------------------------------

TEST_F(TableViewTest, ScrollToRowPlacesTheRowAtTheAskedPosition) {
    source->rows = {100};
    table->reloadData();
    struct Case {
        long row;
        UITableViewScrollPosition position;
        CGFloat offset;
    };
    const Case cases[] = {
        {50, UITableViewScrollPositionTop, 2200},
        {50, UITableViewScrollPositionMiddle, 2200 + 22 - 240},
        {50, UITableViewScrollPositionBottom, 2244 - 480},
        // None: the least move that shows the row; none at all when it is in view.
        {45, UITableViewScrollPositionNone, 2244 - 480},
        {60, UITableViewScrollPositionNone, 61 * 44 - 480},
        {10, UITableViewScrollPositionNone, 440},
        // Clamped at the ends.
        {99, UITableViewScrollPositionTop, 4400 - 480},
        {0, UITableViewScrollPositionBottom, 0},
    };
    for (const auto& c : cases) {
        table->scrollToRowAtIndexPath(ip(c.row), c.position, false);
        EXPECT_DOUBLE_EQ(table->contentOffset().y, c.offset) << c.row << " at " << int(c.position);
        if (c.row == 50 && c.position == UITableViewScrollPositionTop) {
            EXPECT_EQ(visible().front(), "0:50");
        }
    }
    // A row that does not exist is logged and ignored.
    LogCapture log;
    table->scrollToRowAtIndexPath(ip(100), UITableViewScrollPositionTop, false);
    EXPECT_EQ(log.lines.size(), 1u);
    EXPECT_DOUBLE_EQ(table->contentOffset().y, 0);
}

TEST_F(TableViewTest, ScrollToRowHonoursInsetsAndFloatingHeaders) {
    source->rows = {10, 40};
    source->titles = {{1, "B"}};
    table->setContentInset(UIEdgeInsetsMake(64, 0, 0, 0));
    table->reloadData();
    table->scrollToRowAtIndexPath(ip(5, 1), UITableViewScrollPositionTop, false);
    // Row (1, 5) starts at 440 + 22 + 220; the header covers 22 points under the 64-point inset.
    EXPECT_DOUBLE_EQ(table->contentOffset().y, 682 - 64 - 22);
}

TEST_F(TableViewTest, AnimatedScrollingToARowFillsRowsOnTheWay) {
    ManualClock clock;
    std::vector<double> offsets;
    class Watch : public Source {
      public:
        std::vector<double>* offsets = nullptr;
        void scrollViewDidScroll(UIScrollView& s) override { offsets->push_back(s.contentOffset().y); }
    };
    auto watch = std::make_shared<Watch>();
    watch->rows = {200};
    watch->offsets = &offsets;
    table->setDataSource(watch);
    table->setDelegate(watch);
    table->reloadData();
    table->scrollToRowAtIndexPath(ip(100), UITableViewScrollPositionTop, true);
    EXPECT_DOUBLE_EQ(table->contentOffset().y, 0);
    clock.advance(UIScrollView::kScrollAnimationDuration + 0.05);
    EXPECT_DOUBLE_EQ(table->contentOffset().y, 4400);
    EXPECT_GT(offsets.size(), 5u) << "the table's delegate hears the scroll view's calls";
    EXPECT_EQ(visible().front(), "0:100");
    EXPECT_GT(watch->requests.size(), 20u);
}

// ---- registrations ------------------------------------------------------------------------------

TEST_F(TableViewTest, DequeueWithoutIndexPathIsNilWhenNothingIsRegistered) {
    EXPECT_FALSE(table->dequeueReusableCellWithIdentifier("nothing"));
    auto cell = table->dequeueReusableCellWithIdentifier("cell");
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->reuseIdentifier(), "cell");
    // With an index path a missing registration still gives a cell, and says so.
    {
        LogCapture log;
        auto plain = table->dequeueReusableCellWithIdentifier("nothing", ip(0));
        ASSERT_TRUE(plain);
        EXPECT_EQ(plain->reuseIdentifier(), "nothing");
        EXPECT_EQ(log.lines.size(), 1u);
    }
    table->registerClass(nullptr, "cell");
    EXPECT_FALSE(table->dequeueReusableCellWithIdentifier("cell"));
}

class NibCell : public UITableViewCell {
  public:
    NibCell() : UITableViewCell() {}
    int awoken = 0;
    void awakeFromNib() override { ++awoken; }
};

TEST_F(TableViewTest, NibRegistrationsMakeCellsFromTheNibFactory) {
    const std::string name = "TableViewTestNibCell";
    int instantiations = 0;
    UINib::registerNib(name, [&](const Ref<NSObject>&, const Dictionary&) {
        ++instantiations;
        auto cell = make<NibCell>();
        cell->setReuseIdentifier(std::string("nibCell"));
        cell->awakeFromNib();
        return std::vector<Ref<NSObject>>{make<NSObject>(), cell};
    });
    table->registerNib(UINib::nibWithNibName(name, nullptr), "nibCell");
    source->rows = {3};
    source->makeCell = [](UITableView& t, const Ref<NSIndexPath>& p) {
        return t.dequeueReusableCellWithIdentifier("nibCell", p);
    };
    table->reloadData();
    EXPECT_EQ(instantiations, 3);
    for (const auto& cell : table->visibleCells()) {
        auto nibCell = std::dynamic_pointer_cast<NibCell>(cell);
        ASSERT_TRUE(nibCell);
        EXPECT_EQ(nibCell->awoken, 1);
        EXPECT_DOUBLE_EQ(nibCell->frame().size.width, 320);
    }
    table->reloadData();
    EXPECT_EQ(instantiations, 3) << "a reload reuses the nib's cells";
    UINib::unregisterNib(name);
}

// ---- the hook lists -----------------------------------------------------------------------------

TEST_F(TableViewTest, ReloadHooksRunInTheirWrappingOrder) {
    std::vector<std::string> order;
    long rowsSeenBefore = -1, rowsSeenAfter = -1;
    source->rows = {2};
    table->reloadData();
    source->rows = {7};
    const int refresh = UITableView::kReloadHookOrderRefreshControls;
    const int cache = UITableView::kReloadHookOrderHeightCache;
    // Registered out of order on purpose.
    auto t1 = UITableView::addReloadDataHook(UITableView::ReloadStage::After, cache,
                                             [&](UITableView&) { order.push_back("cache after"); });
    auto t2 = UITableView::addReloadDataHook(UITableView::ReloadStage::After, refresh, [&](UITableView& t) {
        order.push_back("refresh after");
        rowsSeenAfter = t.numberOfRowsInSection(0);
    });
    auto t3 = UITableView::addReloadDataHook(UITableView::ReloadStage::Before, cache, [&](UITableView& t) {
        order.push_back("cache before");
        rowsSeenBefore = t.numberOfRowsInSection(0);
    });
    table->reloadData();
    EXPECT_EQ(order, (Strings{"cache before", "refresh after", "cache after"}));
    EXPECT_EQ(rowsSeenBefore, 2);
    EXPECT_EQ(rowsSeenAfter, 7);
    // The platform reload alone runs no hooks; removed hooks stop.
    order.clear();
    table->platformReloadData();
    UITableView::removeReloadDataHook(t1);
    UITableView::removeReloadDataHook(t2);
    UITableView::removeReloadDataHook(t3);
    table->reloadData();
    EXPECT_TRUE(order.empty());
}

TEST_F(TableViewTest, UpdateWrappersSeeEveryUpdateAndCanSkipIt) {
    std::vector<std::string> seen;
    bool skip = false;
    auto inner =
        UITableView::addUpdateWrapper(1, [&](UITableView&, const UITableViewUpdate& u, const auto& proceed) {
            seen.push_back("inner " + std::to_string(int(u.kind)));
            proceed();
        });
    auto outer = UITableView::addUpdateWrapper(2, [&](UITableView& t, const UITableViewUpdate& u,
                                                      const auto& proceed) {
        seen.push_back("outer " + std::to_string(int(u.kind)));
        const long before = t.numberOfRowsInSection(0);
        if (skip) return;
        proceed();
        seen.push_back("rows " + std::to_string(before) + "->" + std::to_string(t.numberOfRowsInSection(0)));
    });
    source->rows = {3};
    table->reloadData();
    EXPECT_TRUE(seen.empty()) << "reloadData is not an update";
    source->rows = {4};
    table->insertRowsAtIndexPaths({ip(0)}, UITableViewRowAnimationNone);
    EXPECT_EQ(seen, (Strings{"outer 4", "inner 4", "rows 3->4"}));
    source->rows = {4, 4};
    table->insertSections(NSIndexSet::indexSetWithIndex(1), UITableViewRowAnimationNone);
    table->reloadSections(NSIndexSet::indexSetWithIndex(1), UITableViewRowAnimationNone);
    table->moveSection(0, 1);
    table->moveSection(1, 0);
    source->rows = {4};
    table->deleteSections(NSIndexSet::indexSetWithIndex(1), UITableViewRowAnimationNone);
    table->reloadRowsAtIndexPaths({ip(0)}, UITableViewRowAnimationNone);
    table->moveRowAtIndexPath(ip(0), ip(1));
    source->rows = {3};
    table->deleteRowsAtIndexPaths({ip(0)}, UITableViewRowAnimationNone);
    std::set<std::string> kinds;
    for (const auto& s : seen) {
        if (s.rfind("outer ", 0) == 0) kinds.insert(s.substr(6));
    }
    EXPECT_EQ(kinds.size(), 8u) << "all eight updates pass through the wrappers";
    EXPECT_EQ(table->inconsistentUpdateCount(), 0u);
    EXPECT_EQ(table->numberOfRowsInSection(0), 3);
    // A wrapper that does not proceed skips the update.
    seen.clear();
    skip = true;
    source->rows = {4};
    table->insertRowsAtIndexPaths({ip(0)}, UITableViewRowAnimationNone);
    EXPECT_EQ(seen, (Strings{"outer 4"}));
    EXPECT_EQ(table->numberOfRowsInSection(0), 3);
    UITableView::removeUpdateWrapper(inner);
    UITableView::removeUpdateWrapper(outer);
}

// ---- what other components rely on ------------------------------------------------------------

TEST_F(TableViewTest, ContentSizeIsAnnouncedDuringTheReloadBeforeTheAfterHooks) {
    std::vector<std::string> order;
    auto token = KVO::observe(*table, "contentSize", NSKeyValueObservingOptionNew,
                              [&](const Ref<NSObject>&, const Dictionary& change) {
                                  auto size = NSValue_Geometry::CGSizeValue(
                                      change[NSKeyValueChangeNewKey].objectAs<NSValue>());
                                  order.push_back("size " + std::to_string(int(size.height)));
                              });
    auto hook = UITableView::addReloadDataHook(UITableView::ReloadStage::After, 0,
                                               [&](UITableView&) { order.push_back("after"); });
    source->rows = {3};
    table->reloadData();
    source->rows = {5};
    table->reloadData();
    table->reloadData();  // unchanged: no announcement
    UITableView::removeReloadDataHook(hook);
    EXPECT_EQ(order, (Strings{"size 132", "after", "size 220", "after", "after"}));
}

TEST_F(TableViewTest, ATurnedTableShowsRowsAlongItsOwnBounds) {
    // A strip 320 wide and 80 high holding a table turned a quarter: rows run left to right.
    auto strip = make<UIView>(CGRectMake(0, 0, 320, 80));
    strip->addSubview(table);
    table->setFrame(CGRectMake(120, -120, 80, 320));
    table->setTransform(CGAffineTransformMakeRotation(-3.14159265358979323846 / 2));
    EXPECT_TRUE(uikittest::rectNear(table->frame(), CGRectMake(0, 0, 320, 80), 1e-9));
    table->setRowHeight(80);
    source->rows = {10};
    table->reloadData();
    EXPECT_EQ(visible(), (Strings{"0:0", "0:1", "0:2", "0:3"}));
    EXPECT_RECT(table->cellForRowAtIndexPath(ip(1))->frame(), 0, 80, 80, 80);
    table->setContentOffset(CGPointMake(0, 100));
    EXPECT_EQ(visible(), (Strings{"0:1", "0:2", "0:3", "0:4", "0:5"}));
}

TEST_F(TableViewTest, ATemplateCellCanBeMeasuredOffTheTable) {
    // The measuring path of a height component: a cell dequeued without an index path, filled,
    // its content view's width fixed by a temporary constraint, its fitting height taken.
    UIScreen::mainScreen()->setScale(2);
    table->registerClass<SelfSizingCell>("template");
    auto cell =
        std::static_pointer_cast<SelfSizingCell>(table->dequeueReusableCellWithIdentifier("template"));
    ASSERT_TRUE(cell);
    EXPECT_FALSE(cell->superview()) << "a template cell is not shown";
    cell->setAccessoryType(UITableViewCellAccessoryDisclosureIndicator);
    cell->heightConstraint->setConstant(23.5);
    const CGFloat contentWidth = table->frame().size.width - cell->accessoryWidth();
    EXPECT_DOUBLE_EQ(contentWidth, 286);
    auto width = NSLayoutConstraint::constraintWithItem(cell->contentView(), NSLayoutAttributeWidth,
                                                        NSLayoutRelationEqual, nullptr,
                                                        NSLayoutAttributeNotAnAttribute, 1, contentWidth);
    cell->contentView()->addConstraint(width);
    const CGSize size = cell->contentView()->systemLayoutSizeFittingSize(UILayoutFittingCompressedSize);
    cell->contentView()->removeConstraint(width);
    EXPECT_DOUBLE_EQ(size.width, 286);
    EXPECT_DOUBLE_EQ(size.height + table->separatorHeight(), 44.0);
    table->setSeparatorStyle(UITableViewCellSeparatorStyleNone);
    EXPECT_DOUBLE_EQ(table->separatorHeight(), 0);
}

TEST_F(TableViewTest, TheDelegateGoesAwayWithoutCrashing) {
    source->rows = {30};
    table->reloadData();
    source.reset();
    table->setContentOffset(CGPointMake(0, 300));
    EXPECT_FALSE(table->delegate());
    EXPECT_FALSE(table->dataSource());
    table->reloadData();
    EXPECT_EQ(table->numberOfSections(), 0);
    EXPECT_TRUE(table->visibleCells().empty());
}

}  // namespace
