#include "information/ActivityListViewController.h"

#include "app/QVNTAAnalyticsHelper.h"
#include "controls/PullRefreshAutoNormalFooter.h"
#include "controls/PullRefreshNormalHeader.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSURL.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "images/UIImageView+WebCache.h"
#include "information/InformationScenes.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"

namespace {

Ref<UILabel> label(CGRect frame, CGFloat size, const Ref<UIColor>& colour) {
    auto made = make<UILabel>(frame);
    made->setFont(UIFont::systemFontOfSize(size));
    made->setTextColor(colour);
    made->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    return made;
}

}  // namespace

// ---- the cell -----------------------------------------------------------------------------------

void QVNActivityCell::buildIfNeeded() {
    if (titleLabel.lock()) return;
    const Ref<UIView>& content = contentView();
    const CGFloat W = UIScreen::mainScreen()->bounds().size.width;
    auto picture = make<UIImageView>(CGRectMake(10, 40, W - 20, 140));
    picture->setContentMode(UIViewContentModeScaleAspectFill);
    picture->setClipsToBounds(true);
    picture->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    content->addSubview(picture);
    auto date = UIButton::buttonWithType(UIButtonTypeCustom);
    date->setFrame(CGRectMake(10, 8, 100, 24));
    date->setTitleColor(UIColor::grayColor(), UIControlStateNormal);
    date->titleLabel()->setFont(UIFont::systemFontOfSize(12));
    // The date is a decoration.
    date->setUserInteractionEnabled(false);
    content->addSubview(date);
    auto title = label(CGRectMake(10, 186, W - 130, 22), 16, UIColor::darkGrayColor());
    content->addSubview(title);
    auto count = label(CGRectMake(W - 120, 186, 110, 22), 12, UIColor::grayColor());
    count->setTextAlignment(NSTextAlignmentRight);
    content->addSubview(count);
    auto summary = label(CGRectMake(10, 210, W - 20, 34), 12, UIColor::grayColor());
    summary->setNumberOfLines(2);
    content->addSubview(summary);
    dateButton = date;
    titleLabel = title;
    joinCountLabel = count;
    summaryLabel = summary;
    activityImageView = picture;
}

void QVNActivityCell::setActivity(const Ref<QVNActivity>& activity) {
    activity_ = activity;
    buildIfNeeded();
    if (!activity) return;
    std::string date = activity->addtime.value_or("");
    if (auto button = dateButton.lock()) button->setTitle(date.substr(0, 10), UIControlStateNormal);
    if (auto title = titleLabel.lock()) title->setText(activity->event_title.value_or(""));
    if (auto count = joinCountLabel.lock())
        count->setText("参与人数" + (activity->rest ? activity->rest->stringValue() : std::string("(null)")));
    if (auto summary = summaryLabel.lock()) summary->setText(activity->event_summary.value_or(""));
    if (auto picture = activityImageView.lock()) {
        // Server text: an address that does not parse leaves the placeholder.
        Ref<NSURL> url = activity->event_pic ? NSURL::URLWithString(*activity->event_pic) : nullptr;
        UIImageView_WebCache::wi_setImageWithURL(picture, url, UIImage::imageNamed("loading"));
    }
}

// ---- the data provider --------------------------------------------------------------------------

Ref<QVNActivityListDataProvider> QVNActivityListDataProvider::withTableView(const Ref<UITableView>& tableView,
                                                                            ConfigureCell configure) {
    auto provider = make<QVNActivityListDataProvider>();
    provider->tableView_ = tableView;
    provider->configure_ = std::move(configure);
    if (tableView) {
        tableView->registerClass<QVNActivityCell>(kCellIdentifier);
        tableView->setDataSource(provider);
    }
    return provider;
}

void QVNActivityListDataProvider::addActivities(
    const std::optional<std::vector<Ref<QVNActivity>>>& activities) {
    activities_ = activities.value_or(std::vector<Ref<QVNActivity>>{});
}

void QVNActivityListDataProvider::addMoreActivities(const std::vector<Ref<QVNActivity>>& activities) {
    activities_.insert(activities_.end(), activities.begin(), activities.end());
}

Ref<QVNActivity> QVNActivityListDataProvider::activityForIndexPath(const Ref<NSIndexPath>& indexPath) const {
    if (!indexPath || indexPath->row() < 0 || indexPath->row() >= static_cast<long>(activities_.size()))
        return nullptr;
    return activities_[indexPath->row()];
}

long QVNActivityListDataProvider::tableViewNumberOfRowsInSection(UITableView&, long) {
    return static_cast<long>(activities_.size());
}

Ref<UITableViewCell>
QVNActivityListDataProvider::tableViewCellForRowAtIndexPath(UITableView& tableView,
                                                            const Ref<NSIndexPath>& indexPath) {
    auto cell = std::dynamic_pointer_cast<QVNActivityCell>(
        tableView.dequeueReusableCellWithIdentifier(kCellIdentifier, indexPath));
    if (cell && configure_) configure_(cell, activityForIndexPath(indexPath));
    return cell;
}

// ---- the list -----------------------------------------------------------------------------------

const Ref<QVNActivityCommunicator>& ActivityListViewController::communicator() {
    if (!communicator_) communicator_ = make<QVNActivityCommunicator>();
    return communicator_;
}

void ActivityListViewController::viewDidLoad() {
    UITableViewController::viewDidLoad();
    setupTableView();
    if (!observing_) {
        observing_ = true;
        Weak<ActivityListViewController> weak = selfAs<ActivityListViewController>();
        // Both names mean "the user changed": a sign-in posts one, a sign-out the other.
        for (const char* name : {"LoginSuccess", "LogoutSuccess"})
            NSNotificationCenter::defaultCenter()->addObserver(
                self(), "refreshActivities",
                [weak](const Ref<NSNotification>&) {
                    if (auto self = weak.lock()) self->refreshActivities();
                },
                name, nullptr);
    }
}

void ActivityListViewController::setupTableView() {
    Ref<UITableView> table = tableView();
    if (!table) return;
    Weak<ActivityListViewController> weak = selfAs<ActivityListViewController>();
    UIScrollView_PullRefresh::setHeader(table, PullRefreshNormalHeader::headerWithRefreshingBlock([weak] {
                                            if (auto self = weak.lock()) self->loadFirstPage();
                                        }));
    UIScrollView_PullRefresh::setFooter(table, PullRefreshAutoNormalFooter::footerWithRefreshingBlock([weak] {
                                            if (auto self = weak.lock()) self->loadMore();
                                        }));
    dataProvider_ = QVNActivityListDataProvider::withTableView(
        table, [](const Ref<QVNActivityCell>& cell, const Ref<QVNActivity>& activity) {
            cell->setActivity(activity);
        });
    table->reloadData();
    if (auto header = UIScrollView_PullRefresh::header(*table)) header->beginRefreshing();
}

void ActivityListViewController::refreshActivities() {
    NS_ASSERT_MAIN_THREAD();
    if (dataProvider_) dataProvider_->addActivities(std::nullopt);
    if (Ref<UITableView> table = tableView()) table->reloadData();
    setupTableView();
}

void ActivityListViewController::loadFirstPage() {
    Weak<ActivityListViewController> weak = selfAs<ActivityListViewController>();
    communicator()->getActivitiesWithEventId(
        std::nullopt, [weak](const std::optional<std::vector<Ref<QVNActivity>>>& activities) {
            auto self = weak.lock();
            if (!self) return;
            Ref<UITableView> table = self->tableView();
            if (self->dataProvider_) self->dataProvider_->addActivities(activities);
            if (table) table->reloadData();
            if (auto header = table ? UIScrollView_PullRefresh::header(*table) : nullptr)
                header->endRefreshing();
        });
}

void ActivityListViewController::loadMore() {
    Ref<UITableView> table = tableView();
    auto footer = table ? UIScrollView_PullRefresh::footer(*table) : nullptr;
    if (!dataProvider_ || dataProvider_->activities().empty()) {
        if (footer) footer->endRefreshingWithNoMoreData();
        return;
    }
    Weak<ActivityListViewController> weak = selfAs<ActivityListViewController>();
    communicator()->getActivitiesWithEventId(
        dataProvider_->activities().back()->event_id,
        [weak](const std::optional<std::vector<Ref<QVNActivity>>>& activities) {
            auto self = weak.lock();
            if (!self) return;
            Ref<UITableView> table = self->tableView();
            auto footer = table ? UIScrollView_PullRefresh::footer(*table) : nullptr;
            if (!activities) {
                if (footer) footer->endRefreshingWithNoMoreData();
                return;
            }
            if (self->dataProvider_) self->dataProvider_->addMoreActivities(*activities);
            if (table) table->reloadData();
            if (footer) footer->endRefreshing();
        });
}

std::optional<CGFloat> ActivityListViewController::tableViewHeightForRowAtIndexPath(UITableView&,
                                                                                    const Ref<NSIndexPath>&) {
    return QVNActivityCell::kHeight;
}

namespace InformationScenes {

void registerEventScenes() {
    UIStoryboard::registerScene(
        ActivityListViewController::kStoryboard, ActivityListViewController::kIdentifier,
        [](UIStoryboard&) -> Ref<UIViewController> { return make<ActivityListViewController>(); });
}

}  // namespace InformationScenes
