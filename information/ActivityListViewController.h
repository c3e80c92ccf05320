#pragma once
// The event tab: a table of events with pull-to-refresh and load-more. The first page replaces
// the list; a next page, asked after the last event shown, is appended, and an empty or failed
// one ends paging. Signing in or out reloads it from the first page (is_join follows the user).
// The home screen embeds it from the storyboard "MyActivity" under "ActivityListViewController".
// A row opens the event's page ("showActivityDetail"); the header picture opens the events page
// of the web site.
//
// Main thread only.

#include <functional>
#include <string>
#include <vector>

#include "information/QVNActivityCommunicator.h"
#include "uikit/UIButton.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UITableView.h"
#include "uikit/UITableViewCell.h"
#include "uikit/UITableViewController.h"

class QVNActivityCell : public UITableViewCell {
  public:
    using UITableViewCell::UITableViewCell;
    std::string className() const override { return "QVNActivityCell"; }
    static constexpr CGFloat kHeight = 250;

    // The row's height, as the table's template-cell measurement asks it.
    CGSize sizeThatFits(CGSize size) const override;

    Weak<UIButton> dateButton;
    Weak<UILabel> titleLabel;
    Weak<UILabel> joinCountLabel;
    Weak<UILabel> summaryLabel;
    Weak<UIImageView> activityImageView;

    const Ref<QVNActivity>& activity() const { return activity_; }
    void setActivity(const Ref<QVNActivity>& activity);

  private:
    void buildIfNeeded();
    Ref<QVNActivity> activity_;
};

class QVNActivityListDataProviderProtocol {
  public:
    virtual ~QVNActivityListDataProviderProtocol() = default;
    virtual void addActivities(const std::optional<std::vector<Ref<QVNActivity>>>& activities) = 0;
    virtual void addMoreActivities(const std::vector<Ref<QVNActivity>>& activities) = 0;
    virtual Ref<QVNActivity> activityForIndexPath(const Ref<NSIndexPath>& indexPath) const = 0;
};

class QVNActivityListDataProvider : public NSObject,
                                    public UITableViewDataSource,
                                    public QVNActivityListDataProviderProtocol {
  public:
    using ConfigureCell =
        std::function<void(const Ref<QVNActivityCell>& cell, const Ref<QVNActivity>& activity)>;
    std::string className() const override { return "QVNActivityListDataProvider"; }
    static constexpr char kCellIdentifier[] = "ActivityCell";

    // initWithTableView:configureCellBlock: (makes itself the table's data source).
    static Ref<QVNActivityListDataProvider> withTableView(const Ref<UITableView>& tableView,
                                                          ConfigureCell configure);

    const Ref<UITableView>& tableView() const { return tableView_; }
    void setTableView(const Ref<UITableView>& tableView) { tableView_ = tableView; }
    const std::vector<Ref<QVNActivity>>& activities() const { return activities_; }

    // Replaces the list (nil: empty).
    void addActivities(const std::optional<std::vector<Ref<QVNActivity>>>& activities) override;
    void addMoreActivities(const std::vector<Ref<QVNActivity>>& activities) override;
    // nullptr outside the list.
    Ref<QVNActivity> activityForIndexPath(const Ref<NSIndexPath>& indexPath) const override;

    long tableViewNumberOfRowsInSection(UITableView& tableView, long section) override;
    Ref<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& tableView,
                                                        const Ref<NSIndexPath>& indexPath) override;

  private:
    Ref<UITableView> tableView_;
    std::vector<Ref<QVNActivity>> activities_;
    ConfigureCell configure_;
};

class ActivityListViewController : public UITableViewController {
  public:
    std::string className() const override { return "ActivityListViewController"; }
    static constexpr char kStoryboard[] = "MyActivity";
    static constexpr char kIdentifier[] = "ActivityListViewController";
    static constexpr char kShowDetailSegue[] = "showActivityDetail";
    static constexpr CGFloat kHeaderHeight = 100;

    // The picture over the table whose tap opens the events page.
    Weak<UIImageView> headerImageView;

    const Ref<QVNActivityListDataProvider>& dataProvider() const { return dataProvider_; }
    const Ref<QVNActivityCommunicator>& communicator();

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void setupTableView();
    void refreshActivities();
    void loadFirstPage();
    void loadMore();
    void tapHeaderImage(const Ref<NSObject>& sender);

    void prepareForSegue(const Ref<UIStoryboardSegue>& segue, const Ref<NSObject>& sender) override;
    void tableViewDidSelectRowAtIndexPath(UITableView& tableView, const Ref<NSIndexPath>& indexPath) override;

    std::optional<CGFloat> tableViewHeightForRowAtIndexPath(UITableView& tableView,
                                                            const Ref<NSIndexPath>& indexPath) override;

  private:
    void setupHeaderImage();

    Ref<QVNActivityListDataProvider> dataProvider_;
    Ref<QVNActivityCommunicator> communicator_;
    bool observing_ = false;
};
