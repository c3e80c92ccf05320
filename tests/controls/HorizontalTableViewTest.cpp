// The sideways table: the turned inner table and how it follows resizes, upright cells, offsets
// and sizes in the view's own axes, row extents, sections with their holders, selection by a
// real tap through the turned table, and reuse while scrolling.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "controls/HorizontalTableView.h"
#include "tests/uikit/UIKitTestSupport.h"
#include "uikit/UITestDriver.h"
#include "uikit/UIWindow.h"

namespace {

Ref<NSIndexPath> ip(long row, long section = 0) {
    return NSIndexPath::indexPathForRow(row, section);
}

bool transformNear(CGAffineTransform t, CGAffineTransform expected) {
    auto off = [](double a, double b) { return std::fabs(a - b) > 1e-9; };
    return !(off(t.a, expected.a) || off(t.b, expected.b) || off(t.c, expected.c) || off(t.d, expected.d) ||
             off(t.tx, expected.tx) || off(t.ty, expected.ty));
}

const CGAffineTransform kTurnedBack = CGAffineTransformMakeRotation(-M_PI / 2);
const CGAffineTransform kTurnedUpright = CGAffineTransformMakeRotation(M_PI / 2);

// Stickers: cells of a given size (made fresh or reused from the inner table), optional sections,
// headers, footers and extents, and a record of selections.
class Stickers : public HorizontalTableViewDelegate {
  public:
    long count = 10;
    CGSize cellSize{80, 80};
    std::optional<std::uint64_t> sections;
    std::map<long, Ref<UIView>> headers, footers;
    bool answerHeaders = false, answerFooters = false;
    std::map<long, CGFloat> extents;
    std::vector<std::string> selected;
    Ref<UITableViewCell> fixedCell;  // handed out for every row when set
    int made = 0;

    long horizontalTableViewNumberOfRowsInSection(HorizontalTableView&, long) override { return count; }
    Ref<UITableViewCell> horizontalTableViewCellForRowAtIndexPath(HorizontalTableView& view,
                                                                  const Ref<NSIndexPath>&) override {
        if (fixedCell) return fixedCell;
        auto cell = view.tableView()->dequeueReusableCellWithIdentifier("sticker");
        if (!cell) {
            ++made;
            cell = make<UITableViewCell>(UITableViewCellStyleDefault, std::string("sticker"));
            cell->setFrame(CGRectMake(0, 0, cellSize.width, cellSize.height));
        }
        return cell;
    }
    std::optional<std::uint64_t> numberOfSectionsInHorizontalTableView(HorizontalTableView&) override {
        return sections;
    }
    void horizontalTableViewDidSelectRowAtIndexPath(HorizontalTableView&,
                                                    const Ref<NSIndexPath>& path) override {
        selected.push_back(std::to_string(path->section()) + ":" + std::to_string(path->row()));
    }
    std::optional<Ref<UIView>> horizontalTableViewViewForHeaderInSection(HorizontalTableView&,
                                                                         long s) override {
        if (!answerHeaders) return std::nullopt;
        return headers[s];
    }
    std::optional<Ref<UIView>> horizontalTableViewViewForFooterInSection(HorizontalTableView&,
                                                                         long s) override {
        if (!answerFooters) return std::nullopt;
        return footers[s];
    }
    std::optional<CGFloat>
    horizontalTableViewHeightOrWidthForCellAtIndexPath(HorizontalTableView&,
                                                       const Ref<NSIndexPath>& path) override {
        auto it = extents.find(path->row());
        if (it == extents.end()) return std::nullopt;
        return it->second;
    }
};

class HorizontalTableViewTest : public uikittest::UIKitTest {
  protected:
    void SetUp() override {
        UIKitTest::SetUp();
        strip = HorizontalTableView::initWithFrameOfWidth(CGRectMake(0, 0, 320, 80), 80);
        stickers = make<Stickers>();
        strip->setDelegate(stickers);
    }
    void TearDown() override {
        if (window) window->setHidden(true);
        UITestDriver::reset();
        UIKitTest::TearDown();
    }
    void showInWindow() {
        window = make<UIWindow>(CGRectMake(0, 0, 320, 480));
        window->addSubview(strip);
        window->setHidden(false);
        strip->reload();
        window->layoutIfNeeded();
    }

    Ref<HorizontalTableView> strip;
    Ref<Stickers> stickers;
    Ref<UIWindow> window;
};

TEST_F(HorizontalTableViewTest, TheInnerTableIsTurnedToCoverTheStrip) {
    auto table = strip->tableView();
    ASSERT_TRUE(table);
    EXPECT_EQ(strip->orientation(), HorizontalTableViewOrientationHorizontal);
    EXPECT_EQ(table->superview(), strip);
    EXPECT_EQ(table->rowHeight(), 80);
    // Before the turn its frame was (120, -120, 80, 320): it keeps that size and centre.
    EXPECT_RECT(table->bounds(), 0, 0, 80, 320);
    EXPECT_POINT(table->center(), 160, 40);
    EXPECT_TRUE(transformNear(table->transform(), kTurnedBack));
    EXPECT_TRUE(uikittest::rectNear(table->frame(), CGRectMake(0, 0, 320, 80), 1e-6));
    EXPECT_EQ(table->scrollIndicatorInsets(), UIEdgeInsetsMake(0, 0, 0, 73));
    EXPECT_EQ(table->autoresizingMask(), UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    EXPECT_EQ(table->delegate().get(), static_cast<UITableViewDelegate*>(strip.get()));
    EXPECT_EQ(table->dataSource().get(), static_cast<UITableViewDataSource*>(strip.get()));
}

TEST_F(HorizontalTableViewTest, OddSizesTruncateTheUnturnedFrameTowardsZero) {
    auto odd = HorizontalTableView::initWithFrameOfWidth(CGRectMake(0, 0, 101, 40), 40);
    // (101 - 40) / 2 = 30.5 → 30; (40 - 101) / 2 = -30.5 → -30.
    EXPECT_POINT(odd->tableView()->center(), 30 + 20, -30 + 50.5);
    EXPECT_RECT(odd->tableView()->bounds(), 0, 0, 40, 101);
}

TEST_F(HorizontalTableViewTest, ResizingTheStripLaysTheTableOutAgain) {
    strip->setFrame(CGRectMake(10, 300, 400, 60));
    auto table = strip->tableView();
    EXPECT_TRUE(uikittest::rectNear(table->frame(), CGRectMake(0, 0, 400, 60), 1e-6));
    EXPECT_RECT(table->bounds(), 0, 0, 60, 400);
    EXPECT_EQ(table->scrollIndicatorInsets(), UIEdgeInsetsMake(0, 0, 0, 53));
    // Through a superview's autoresizing too.
    auto holder = make<UIView>(CGRectMake(0, 0, 400, 360));
    holder->addSubview(strip);
    strip->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    holder->setFrame(CGRectMake(0, 0, 300, 360));
    EXPECT_TRUE(uikittest::rectNear(table->frame(), CGRectMake(0, 0, 300, 60), 1e-6));
    EXPECT_RECT(table->bounds(), 0, 0, 60, 300);
}

TEST_F(HorizontalTableViewTest, VerticalStripKeepsItsTableUpright) {
    auto list = HorizontalTableView::initWithFrameOfHeight(CGRectMake(0, 0, 200, 300), 50);
    EXPECT_EQ(list->orientation(), HorizontalTableViewOrientationVertical);
    EXPECT_TRUE(CGAffineTransformIsIdentity(list->tableView()->transform()));
    EXPECT_RECT(list->tableView()->frame(), 0, 0, 200, 300);
    EXPECT_EQ(list->tableView()->rowHeight(), 50);
    // Switching orientation turns it, and back.
    list->setOrientation(HorizontalTableViewOrientationHorizontal);
    EXPECT_TRUE(transformNear(list->tableView()->transform(), kTurnedBack));
    EXPECT_RECT(list->tableView()->bounds(), 0, 0, 300, 200);
    list->setOrientation(HorizontalTableViewOrientationVertical);
    EXPECT_TRUE(CGAffineTransformIsIdentity(list->tableView()->transform()));
    EXPECT_RECT(list->tableView()->frame(), 0, 0, 200, 300);
}

TEST_F(HorizontalTableViewTest, CellsAreTurnedUprightOnce) {
    auto cell = make<UITableViewCell>(CGRectMake(0, 0, 80, 80));
    stickers->fixedCell = cell;
    auto given = strip->tableViewCellForRowAtIndexPath(*strip->tableView(), ip(0));
    EXPECT_EQ(given, cell);
    EXPECT_TRUE(transformNear(cell->contentView()->transform(), kTurnedUpright));
    EXPECT_TRUE(uikittest::rectNear(cell->contentView()->frame(), CGRectMake(0, 0, 80, 80), 1e-6));
    // Handed out again: not turned a second time.
    strip->tableViewCellForRowAtIndexPath(*strip->tableView(), ip(1));
    EXPECT_TRUE(transformNear(cell->contentView()->transform(), kTurnedUpright));
}

TEST_F(HorizontalTableViewTest, OblongCellContentIsSwappedAboutItsCentre) {
    auto cell = make<UITableViewCell>(CGRectMake(0, 0, 100, 44));
    stickers->fixedCell = cell;
    strip->tableViewCellForRowAtIndexPath(*strip->tableView(), ip(0));
    const auto& content = cell->contentView();
    EXPECT_RECT(content->bounds(), 0, 0, 44, 100);
    EXPECT_POINT(content->center(), 28 + 22, -28 + 50);
    EXPECT_TRUE(uikittest::rectNear(content->frame(), CGRectMake(0, 0, 100, 44), 1e-6));
}

TEST_F(HorizontalTableViewTest, VerticalCellsAreLeftAlone) {
    auto list = HorizontalTableView::initWithFrameOfHeight(CGRectMake(0, 0, 200, 300), 50);
    list->setDelegate(stickers);
    auto cell = make<UITableViewCell>(CGRectMake(0, 0, 100, 44));
    stickers->fixedCell = cell;
    const CGRect before = cell->contentView()->frame();
    list->tableViewCellForRowAtIndexPath(*list->tableView(), ip(0));
    EXPECT_TRUE(CGAffineTransformIsIdentity(cell->contentView()->transform()));
    EXPECT_EQ(cell->contentView()->frame(), before);
}

TEST_F(HorizontalTableViewTest, OffsetsAndSizesReadInTheStripsAxes) {
    strip->reload();
    EXPECT_EQ(strip->tableView()->contentSize(), CGSizeMake(80, 800));
    EXPECT_EQ(strip->contentSize(), CGSizeMake(800, 80));
    strip->setContentOffset(CGPointMake(100, 0));
    EXPECT_POINT(strip->tableView()->contentOffset(), 0, 100);
    EXPECT_POINT(strip->contentOffset(), 100, 0);
    auto list = HorizontalTableView::initWithFrameOfHeight(CGRectMake(0, 0, 200, 300), 50);
    list->setDelegate(stickers);
    list->reload();
    list->setContentOffset(CGPointMake(0, 60), false);
    EXPECT_POINT(list->tableView()->contentOffset(), 0, 60);
    EXPECT_POINT(list->contentOffset(), 0, 60);
    EXPECT_EQ(list->contentSize(), CGSizeMake(200, 500));
}

TEST_F(HorizontalTableViewTest, RowExtentsComeFromTheDelegateOrTheRowHeight) {
    stickers->extents = {{1, 120}};
    auto& table = *strip->tableView();
    EXPECT_EQ(strip->tableViewHeightForRowAtIndexPath(table, ip(0)), 80);
    EXPECT_EQ(strip->tableViewHeightForRowAtIndexPath(table, ip(1)), 120);
    strip->reload();
    EXPECT_EQ(strip->contentSize().width, 80 * 9 + 120);
}

TEST_F(HorizontalTableViewTest, WithoutSectionOperationsThereIsOneSectionAndNoHeaders) {
    auto& table = *strip->tableView();
    EXPECT_EQ(strip->numberOfSectionsInTableView(table), 1);
    EXPECT_EQ(strip->tableViewViewForHeaderInSection(table, 0), nullptr);
    EXPECT_EQ(strip->tableViewViewForFooterInSection(table, 0), nullptr);
    EXPECT_EQ(strip->tableViewHeightForHeaderInSection(table, 0), 0);
    EXPECT_EQ(strip->tableViewHeightForFooterInSection(table, 0), 0);
    stickers->sections = 3;
    strip->reload();
    EXPECT_EQ(table.numberOfSections(), 3);
}

TEST_F(HorizontalTableViewTest, HorizontalSectionHeadersComeInATurnedHolder) {
    stickers->answerHeaders = true;
    auto header = make<UIView>(CGRectMake(5, 5, 30, 20));
    stickers->headers[0] = header;
    auto& table = *strip->tableView();
    EXPECT_EQ(strip->tableViewHeightForHeaderInSection(table, 0), 30);
    auto holder = strip->tableViewViewForHeaderInSection(table, 0);
    ASSERT_TRUE(holder);
    EXPECT_EQ(header->superview(), holder);
    EXPECT_RECT(header->frame(), 0, 0, 30, 80);
    EXPECT_EQ(header->autoresizingMask(), UIViewAutoresizingFlexibleTopMargin);
    EXPECT_RECT(holder->bounds(), 0, 0, 30, 80);
    EXPECT_TRUE(transformNear(holder->transform(), kTurnedUpright));
    // The table lays the header out across its section.
    strip->reload();
    EXPECT_EQ(table.rectForHeaderInSection(0).size.height, 30);
    EXPECT_EQ(strip->contentSize().width, 30 + 800);
}

TEST_F(HorizontalTableViewTest, VerticalFootersAreWrappedUpright) {
    auto list = HorizontalTableView::initWithFrameOfHeight(CGRectMake(0, 0, 200, 300), 50);
    list->setDelegate(stickers);
    stickers->answerFooters = true;
    auto footer = make<UIView>(CGRectMake(0, 0, 200, 24));
    stickers->footers[0] = footer;
    auto& table = *list->tableView();
    EXPECT_EQ(list->tableViewHeightForFooterInSection(table, 0), 24);
    auto holder = list->tableViewViewForFooterInSection(table, 0);
    ASSERT_TRUE(holder);
    EXPECT_TRUE(CGAffineTransformIsIdentity(holder->transform()));
    EXPECT_RECT(holder->frame(), 0, 0, 200, 24);
    EXPECT_EQ(footer->autoresizingMask(), UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
}

TEST_F(HorizontalTableViewTest, ANilSectionViewGetsNoHolder) {
    stickers->answerHeaders = true;  // but no view for section 0
    auto& table = *strip->tableView();
    EXPECT_EQ(strip->tableViewViewForHeaderInSection(table, 0), nullptr);
    EXPECT_EQ(strip->tableViewHeightForHeaderInSection(table, 0), 0);
    EXPECT_EQ(strip->viewToHoldSectionView(nullptr), nullptr);
}

TEST_F(HorizontalTableViewTest, ATapOnAStickerSelectsItsRow) {
    showInWindow();
    // Rows run left to right, 80 points each: x = 200 is row 2.
    UITestDriver::tapAt(strip, CGPointMake(200, 40));
    EXPECT_EQ(stickers->selected, (std::vector<std::string>{"0:2"}));
    strip->setContentOffset(CGPointMake(160, 0));
    UITestDriver::tapAt(strip, CGPointMake(10, 40));
    EXPECT_EQ(stickers->selected.back(), "0:2");
    UITestDriver::tapAt(strip, CGPointMake(90, 40));
    EXPECT_EQ(stickers->selected.back(), "0:3");
}

TEST_F(HorizontalTableViewTest, VisibleCellsRunLeftToRightAndAreReused) {
    stickers->count = 200;
    showInWindow();
    auto table = strip->tableView();
    const auto shown = table->visibleCells().size();
    EXPECT_GE(shown, 4u);
    EXPECT_LE(shown, 5u);
    for (int step = 1; step <= 100; ++step) strip->setContentOffset(CGPointMake(step * 120.0, 0));
    EXPECT_LT(stickers->made, 12);
    // The cell of the first visible row sits at the strip's left edge, upright.
    window->layoutIfNeeded();
    auto first = table->indexPathsForVisibleRows().front();
    auto cell = table->cellForRowAtIndexPath(first);
    const CGRect inStrip = cell->convertRectToView(cell->bounds(), strip);
    EXPECT_NEAR(inStrip.origin.x, first->row() * 80.0 - strip->contentOffset().x, 1e-6);
    EXPECT_NEAR(inStrip.size.width, 80, 1e-6);
    EXPECT_NEAR(inStrip.size.height, 80, 1e-6);
    EXPECT_TRUE(transformNear(cell->contentView()->transform(), kTurnedUpright));
}

TEST_F(HorizontalTableViewTest, AGoneDelegateMeansAnEmptyStrip) {
    stickers = nullptr;
    strip->reload();
    EXPECT_EQ(strip->tableView()->numberOfRowsInSection(0), 0);
    EXPECT_EQ(strip->tableView()->numberOfSections(), 1);
    strip->tableViewDidSelectRowAtIndexPath(*strip->tableView(), ip(0));
    EXPECT_EQ(strip->tableViewCellForRowAtIndexPath(*strip->tableView(), ip(0)), nullptr);
}

TEST_F(HorizontalTableViewTest, ASecondTableTakesOverAndTheFirstStays) {
    auto first = strip->tableView();
    auto second = make<UITableView>();
    strip->setTableView(second);
    EXPECT_EQ(strip->tableView(), second);
    EXPECT_EQ(second->superview(), strip);
    EXPECT_EQ(first->superview(), strip);
    EXPECT_TRUE(uikittest::rectNear(second->frame(), CGRectMake(0, 0, 320, 80), 1e-6));
    EXPECT_EQ(second->delegate().get(), static_cast<UITableViewDelegate*>(strip.get()));
}

}  // namespace
