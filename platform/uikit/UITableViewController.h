#pragma once
// A controller whose view is a table, and which is that table's data source and delegate.
//
// The view: a storyboard scene or a nib (when one is set up) gives it, and its table is used;
// otherwise the controller makes a table of its style over the screen's bounds. Either way the
// table gets the controller as data source and delegate unless the scene connected others.
//
// Appearance: viewWillAppear loads the table's data when it was never loaded and, with
// clearsSelectionOnViewWillAppear (the default), deselects the selected rows. Subclasses that
// override viewWillAppear call this one.
//
// refreshControl: the pull-to-refresh control, placed in the table (it sits above the rows). Main thread
// only.

#include "uikit/UIRefreshControl.h"
#include "uikit/UITableView.h"
#include "uikit/UIViewController.h"

class UITableViewController : public UIViewController,
                              public UITableViewDataSource,
                              public UITableViewDelegate {
  public:
    // initWithStyle: (init: plain).
    explicit UITableViewController(UITableViewStyle style = UITableViewStylePlain);
    UITableViewController(std::optional<std::string> nibName, Ref<NSBundle> nibBundle);
    std::string className() const override { return "UITableViewController"; }

    // The view, loaded on first use.
    Ref<UITableView> tableView();
    void setTableView(const Ref<UITableView>& tableView);
    UITableViewStyle style() const { return style_; }

    bool clearsSelectionOnViewWillAppear() const { return clearsSelectionOnViewWillAppear_; }
    void setClearsSelectionOnViewWillAppear(bool on) { clearsSelectionOnViewWillAppear_ = on; }
    const Ref<UIRefreshControl>& refreshControl() const { return refreshControl_; }
    void setRefreshControl(const Ref<UIRefreshControl>& control);

    void loadView() override;
    void viewWillAppear(bool animated) override;
    void setEditing(bool editing, bool animated) override;

    // The data source's required methods: an empty table until a subclass says otherwise.
    long tableViewNumberOfRowsInSection(UITableView& tableView, long section) override { return 0; }
    Ref<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& tableView,
                                                        const Ref<NSIndexPath>& indexPath) override {
        return nullptr;
    }

  private:
    void adopt(const Ref<UITableView>& table);

    UITableViewStyle style_ = UITableViewStylePlain;
    Ref<UITableView> tableView_;
    Ref<UIRefreshControl> refreshControl_;
    bool clearsSelectionOnViewWillAppear_ = true;
};
