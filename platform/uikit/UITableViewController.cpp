#include "uikit/UITableViewController.h"

#include "foundation/NSMainThreadCheck.h"
#include "uikit/UINib.h"
#include "uikit/UIScreen.h"

UITableViewController::UITableViewController(UITableViewStyle style) : style_(style) {}

UITableViewController::UITableViewController(std::optional<std::string> nibName, Ref<NSBundle> nibBundle)
    : UIViewController(std::move(nibName), std::move(nibBundle)) {}

Ref<UITableView> UITableViewController::tableView() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    loadViewIfNeeded();
    return tableView_;
}

void UITableViewController::setTableView(const Ref<UITableView>& tableView) {
    NS_ASSERT_MAIN_THREAD();
    tableView_ = tableView;
    setView(tableView);
    if (tableView) adopt(tableView);
}

void UITableViewController::adopt(const Ref<UITableView>& table) {
    auto me = std::static_pointer_cast<UITableViewController>(shared_from_this());
    if (!table->dataSource()) table->setDataSource(me);
    if (!table->delegate() && !table->UIScrollView::delegate()) table->setDelegate(me);
    if (refreshControl_ && refreshControl_->superviewPointer() != table.get())
        table->addSubview(refreshControl_);
}

void UITableViewController::loadView() {
    const std::string nib = nibName() ? *nibName() : className();
    if (hasViewLoader() || UINib::hasNibNamed(nib)) {
        UIViewController::loadView();
        if (isViewLoaded()) {
            if (auto table = std::dynamic_pointer_cast<UITableView>(view())) {
                tableView_ = table;
                adopt(table);
                return;
            }
        }
    }
    auto table = make<UITableView>(UIScreen::mainScreen()->bounds(), style_);
    table->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    tableView_ = table;
    setView(table);
    adopt(table);
}

void UITableViewController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    auto table = tableView_;
    if (!table) return;
    if (!table->hasLoadedData()) table->reloadData();
    if (clearsSelectionOnViewWillAppear_) {
        for (const auto& path : table->indexPathsForSelectedRows())
            table->deselectRowAtIndexPath(path, animated);
    }
}

void UITableViewController::setEditing(bool editing, bool animated) {
    UIViewController::setEditing(editing, animated);
    if (tableView_) tableView_->setEditing(editing, animated);
}

void UITableViewController::setRefreshControl(const Ref<UIRefreshControl>& control) {
    NS_ASSERT_MAIN_THREAD();
    if (refreshControl_ == control) return;
    if (refreshControl_) refreshControl_->removeFromSuperview();
    refreshControl_ = control;
    if (control && tableView_) tableView_->addSubview(control);
}
