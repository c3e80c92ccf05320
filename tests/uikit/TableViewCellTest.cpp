// Table cells: the four styles' layouts, accessory widths and the content view, separators,
// selection appearance and reuse; and the table view controller.

#include <gtest/gtest.h>

#include "graphics/UIGraphics.h"
#include "tests/uikit/UIKitTestSupport.h"
#include "uikit/UITableViewController.h"
#include "uikit/UIWindow.h"

namespace {

class TableViewCellTest : public uikittest::UIKitTest {};

Ref<UIImage> squareImage(CGFloat side) {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(side, side), false, 1);
    UIColor::redColor()->setFill();
    UIRectFill(CGRectMake(0, 0, side, side));
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

TEST_F(TableViewCellTest, ANewCellIsADefaultRowWithItsIdentifier) {
    auto cell = make<UITableViewCell>(UITableViewCellStyleDefault, std::string("id"));
    EXPECT_EQ(cell->reuseIdentifier(), "id");
    EXPECT_RECT(cell->frame(), 0, 0, 320, 44);
    ASSERT_TRUE(cell->contentView());
    EXPECT_EQ(cell->contentView()->superview(), cell);
    EXPECT_FALSE(cell->detailTextLabel()) << "the Default style has no detail label";
    EXPECT_FALSE(cell->existingTextLabel()) << "labels are made on first use";
    auto label = cell->textLabel();
    EXPECT_EQ(label->superview(), cell->contentView());
    EXPECT_EQ(cell->textLabel(), label);
    auto plain = make<UITableViewCell>();
    EXPECT_FALSE(plain->reuseIdentifier());
    EXPECT_EQ(plain->style(), UITableViewCellStyleDefault);
}

TEST_F(TableViewCellTest, AccessoryWidthsNarrowTheContentView) {
    const CGFloat widths[] = {0, 34, 68, 40, 48};
    for (long type = 0; type <= 4; ++type) {
        auto cell = make<UITableViewCell>(UITableViewCellStyleDefault, std::string("id"));
        cell->setAccessoryType(UITableViewCellAccessoryType(type));
        EXPECT_DOUBLE_EQ(UITableViewCell::accessoryWidthForType(UITableViewCellAccessoryType(type)),
                         widths[type]);
        EXPECT_DOUBLE_EQ(cell->accessoryWidth(), widths[type]);
        cell->layoutIfNeeded();
        EXPECT_RECT(cell->contentView()->frame(), 0, 0, 320 - widths[type], 44) << "type " << type;
        EXPECT_EQ(bool(cell->accessoryGlyphView()), type != 0);
    }
    EXPECT_DOUBLE_EQ(UITableViewCell::accessoryWidthForType(UITableViewCellAccessoryType(9)), 0);
}

TEST_F(TableViewCellTest, AnAccessoryViewTakesItsWidthPlusSixteen) {
    auto cell = make<UITableViewCell>(UITableViewCellStyleDefault, std::string("id"));
    cell->setAccessoryType(UITableViewCellAccessoryDisclosureIndicator);
    auto view = make<UIView>(CGRectMake(0, 0, 30, 20));
    cell->setAccessoryView(view);
    EXPECT_DOUBLE_EQ(cell->accessoryWidth(), 46);
    EXPECT_FALSE(cell->accessoryGlyphView()) << "the view wins over the type";
    cell->layoutIfNeeded();
    EXPECT_RECT(cell->contentView()->frame(), 0, 0, 274, 44);
    EXPECT_RECT(view->frame(), 282, 12, 30, 20);
    cell->setAccessoryView(nullptr);
    EXPECT_FALSE(view->superview());
    EXPECT_DOUBLE_EQ(cell->accessoryWidth(), 34);
    EXPECT_TRUE(cell->accessoryGlyphView());
}

TEST_F(TableViewCellTest, TheSeparatorTakesTheBottomOfTheCell) {
    auto cell = make<UITableViewCell>(UITableViewCellStyleDefault, std::string("id"));
    cell->setTableSeparator(0.5, UIColor::grayColor(), UIEdgeInsetsMake(0, 15, 0, 0));
    cell->layoutIfNeeded();
    EXPECT_RECT(cell->contentView()->frame(), 0, 0, 320, 43.5);
    ASSERT_TRUE(cell->separatorView());
    EXPECT_RECT(cell->separatorView()->frame(), 15, 43.5, 305, 0.5);
    cell->setSeparatorInset(UIEdgeInsetsMake(0, 60, 0, 10));
    cell->layoutIfNeeded();
    EXPECT_RECT(cell->separatorView()->frame(), 60, 43.5, 250, 0.5);
    cell->setTableSeparator(0, nullptr, UIEdgeInsetsZero);
    cell->layoutIfNeeded();
    EXPECT_FALSE(cell->separatorView());
    EXPECT_RECT(cell->contentView()->frame(), 0, 0, 320, 44);
}

TEST_F(TableViewCellTest, DefaultStylePutsTheImageBeforeTheText) {
    auto cell = make<UITableViewCell>(UITableViewCellStyleDefault, std::string("id"));
    cell->textLabel()->setText(std::string("标题"));
    cell->layoutIfNeeded();
    EXPECT_RECT(cell->textLabel()->frame(), 15, 0, 290, 44);
    cell->imageView()->setImage(squareImage(30));
    cell->layoutIfNeeded();
    EXPECT_RECT(cell->imageView()->frame(), 15, 7, 30, 30);
    EXPECT_RECT(cell->textLabel()->frame(), 60, 0, 245, 44);
    // An image taller than the row is scaled down to it.
    cell->imageView()->setImage(squareImage(60));
    cell->setNeedsLayout();
    cell->layoutIfNeeded();
    EXPECT_RECT(cell->imageView()->frame(), 15, 0, 44, 44);
}

TEST_F(TableViewCellTest, SubtitleStackesTheLabelsAndValue1PutsTheDetailRight) {
    auto subtitle = make<UITableViewCell>(UITableViewCellStyleSubtitle, std::string("id"));
    subtitle->setFrame(CGRectMake(0, 0, 320, 60));
    subtitle->textLabel()->setText(std::string("Title"));
    subtitle->detailTextLabel()->setText(std::string("detail"));
    subtitle->layoutIfNeeded();
    const CGRect t = subtitle->textLabel()->frame(), d = subtitle->detailTextLabel()->frame();
    EXPECT_DOUBLE_EQ(t.origin.x, 15);
    EXPECT_DOUBLE_EQ(d.origin.y, t.origin.y + t.size.height);
    EXPECT_NEAR(t.origin.y, 60 - (d.origin.y + d.size.height), 1e-9) << "the pair is centred";
    EXPECT_GT(t.size.height, d.size.height) << "the detail's font is smaller";

    auto value1 = make<UITableViewCell>(UITableViewCellStyleValue1, std::string("id"));
    value1->textLabel()->setText(std::string("Left"));
    value1->detailTextLabel()->setText(std::string("Right"));
    value1->layoutIfNeeded();
    const CGRect r = value1->detailTextLabel()->frame();
    EXPECT_DOUBLE_EQ(r.origin.x + r.size.width, 305);
    EXPECT_LT(value1->textLabel()->frame().origin.x + value1->textLabel()->frame().size.width, r.origin.x);

    auto value2 = make<UITableViewCell>(UITableViewCellStyleValue2, std::string("id"));
    value2->textLabel()->setText(std::string("Key"));
    value2->detailTextLabel()->setText(std::string("Value"));
    value2->layoutIfNeeded();
    EXPECT_RECT(value2->textLabel()->frame(), 15, 0, 67, 44);
    EXPECT_RECT(value2->detailTextLabel()->frame(), 88, 0, 217, 44);
    EXPECT_EQ(value2->textLabel()->textAlignment(), NSTextAlignmentRight);
}

TEST_F(TableViewCellTest, SelectionShowsTheSelectedBackgroundUnlessTheStyleIsNone) {
    auto cell = make<UITableViewCell>(UITableViewCellStyleDefault, std::string("id"));
    auto background = make<UIView>();
    cell->setBackgroundView(background);
    cell->textLabel()->setText(std::string("x"));
    cell->setSelected(true, true);
    ASSERT_TRUE(cell->selectedBackgroundView());
    EXPECT_EQ(cell->selectedBackgroundView()->superview(), cell);
    EXPECT_EQ(cell->subviews()[0], background);
    EXPECT_EQ(cell->subviews()[1], cell->selectedBackgroundView());
    EXPECT_TRUE(cell->textLabel()->isHighlighted());
    cell->setSelected(false);
    EXPECT_FALSE(cell->selectedBackgroundView()->superview());
    EXPECT_FALSE(cell->textLabel()->isHighlighted());
    cell->setSelectionStyle(UITableViewCellSelectionStyleNone);
    cell->setHighlighted(true);
    EXPECT_TRUE(cell->isHighlighted());
    EXPECT_FALSE(cell->selectedBackgroundView()->superview());
}

TEST_F(TableViewCellTest, PrepareForReuseClearsSelectionButNotContent) {
    auto cell = make<UITableViewCell>(UITableViewCellStyleDefault, std::string("id"));
    cell->textLabel()->setText(std::string("keep"));
    cell->setSelected(true);
    cell->setHighlighted(true);
    cell->prepareForReuse();
    EXPECT_FALSE(cell->isSelected());
    EXPECT_FALSE(cell->isHighlighted());
    EXPECT_EQ(cell->textLabel()->text(), "keep");
}

// ---- the table view controller -------------------------------------------------------------------

class ListController : public UITableViewController {
  public:
    using UITableViewController::UITableViewController;
    long rows = 4;
    long tableViewNumberOfRowsInSection(UITableView&, long) override { return rows; }
    Ref<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& t, const Ref<NSIndexPath>& p) override {
        auto cell = t.dequeueReusableCellWithIdentifier("row");
        if (!cell) cell = make<UITableViewCell>(UITableViewCellStyleDefault, std::string("row"));
        cell->textLabel()->setText(std::to_string(p->row()));
        return cell;
    }
};

TEST_F(TableViewCellTest, ATableViewControllerOwnsItsTableAndFeedsIt) {
    auto controller = make<ListController>(UITableViewStyleGrouped);
    auto table = controller->tableView();
    ASSERT_TRUE(table);
    EXPECT_EQ(controller->view(), table);
    EXPECT_EQ(table->style(), UITableViewStyleGrouped);
    EXPECT_EQ(table->dataSource().get(), static_cast<UITableViewDataSource*>(controller.get()));
    EXPECT_EQ(table->delegate().get(), static_cast<UITableViewDelegate*>(controller.get()));
    EXPECT_RECT(table->frame(), 0, 0, UIScreen::mainScreen()->bounds().size.width,
                UIScreen::mainScreen()->bounds().size.height);
    EXPECT_FALSE(table->hasLoadedData());
    controller->beginAppearanceTransition(true, false);
    controller->endAppearanceTransition();
    EXPECT_TRUE(table->hasLoadedData());
    EXPECT_EQ(table->visibleCells().size(), 4u);
    table->selectRowAtIndexPath(NSIndexPath::indexPathForRow(1, 0), false, UITableViewScrollPositionNone);
    controller->beginAppearanceTransition(false, false);
    controller->endAppearanceTransition();
    controller->beginAppearanceTransition(true, false);
    EXPECT_FALSE(table->indexPathForSelectedRow()) << "selection is cleared as the list comes back";
    controller->endAppearanceTransition();
    controller->setClearsSelectionOnViewWillAppear(false);
    table->selectRowAtIndexPath(NSIndexPath::indexPathForRow(2, 0), false, UITableViewScrollPositionNone);
    controller->beginAppearanceTransition(false, false);
    controller->endAppearanceTransition();
    controller->beginAppearanceTransition(true, false);
    controller->endAppearanceTransition();
    EXPECT_TRUE(table->indexPathForSelectedRow());
    controller->setEditing(true, false);
    EXPECT_TRUE(table->isEditing());
    for (const auto& cell : table->visibleCells()) EXPECT_TRUE(cell->isEditing());
}

TEST_F(TableViewCellTest, ARefreshControlSitsInTheTable) {
    auto controller = make<ListController>();
    auto control = make<UIRefreshControl>();
    controller->setRefreshControl(control);
    EXPECT_EQ(control->superview(), controller->tableView());
    EXPECT_EQ(control->scrollView(), controller->tableView());
    EXPECT_DOUBLE_EQ(control->frame().size.width, controller->tableView()->frame().size.width);
    controller->setRefreshControl(nullptr);
    EXPECT_FALSE(control->superview());
}

TEST_F(TableViewCellTest, AControllerKeepsADataSourceTheSceneConnected) {
    class Other : public UITableViewDataSource {
      public:
        long tableViewNumberOfRowsInSection(UITableView&, long) override { return 2; }
        Ref<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView&, const Ref<NSIndexPath>&) override {
            return make<UITableViewCell>();
        }
    };
    auto other = std::make_shared<Other>();
    auto controller = make<ListController>();
    controller->setViewLoader([other](UIViewController&) -> Ref<UIView> {
        auto table = make<UITableView>(CGRectMake(0, 0, 200, 300));
        table->setDataSource(other);
        return table;
    });
    auto table = controller->tableView();
    EXPECT_RECT(table->frame(), 0, 0, 200, 300);
    EXPECT_EQ(table->dataSource(), other);
    EXPECT_EQ(table->delegate().get(), static_cast<UITableViewDelegate*>(controller.get()));
    EXPECT_EQ(table->numberOfRowsInSection(0), 2);
}

}  // namespace
