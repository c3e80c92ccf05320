#include "information/ActivityListViewController.h"

#include "app/QVNTAAnalyticsHelper.h"
#include "app/ScreenParts.h"
#include "controls/PullRefreshAutoNormalFooter.h"
#include "controls/PullRefreshNormalHeader.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "controls/UITableView+TLTemplateLayoutCell.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSURL.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "images/UIImageView+WebCache.h"
#include "information/ActivityDetailViewController.h"
#include "information/ActivvityHeaderViewController.h"
#include "information/InformationScenes.h"
#include "information/InformationScreens.h"
#include "information/JoinActivityViewController.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UITapGestureRecognizer.h"

namespace {

Ref<UILabel> label(CGRect frame, CGFloat size, const Ref<UIColor>& colour) {
    auto made = ScreenParts::label(frame, size, colour);
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
    // The title gets the button's whole width, centred in it, rather than the width its text
    // measured: the text is drawn with the real font, which may need more than the measure, and a
    // label cut to the measure shows "202…1-05".
    date->setContentHorizontalAlignment(UIControlContentHorizontalAlignmentFill);
    date->titleLabel()->setTextAlignment(NSTextAlignmentCenter);
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

CGSize QVNActivityCell::sizeThatFits(CGSize size) const {
    return CGSizeMake(size.width, kHeight);
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
    setAutomaticallyAdjustsScrollViewInsets(false);
    setupHeaderImage();
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

void ActivityListViewController::viewWillAppear(bool animated) {
    UITableViewController::viewWillAppear(animated);
    QVNTAAnalyticsHelper::beginLogPageView(std::string("ActivityListViewController"));
}

void ActivityListViewController::viewWillDisappear(bool animated) {
    UITableViewController::viewWillDisappear(animated);
    QVNTAAnalyticsHelper::endLogPageView(std::string("ActivityListViewController"));
}

void ActivityListViewController::setupHeaderImage() {
    Ref<UITableView> table = tableView();
    if (!table) return;
    const CGFloat W = table->bounds().size.width;
    auto picture = make<UIImageView>(CGRectMake(0, 0, W, kHeaderHeight));
    picture->setBackgroundColor(UIColor::colorWithRed(171 / 255.0, 3 / 255.0, 0, 1));
    picture->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    picture->setUserInteractionEnabled(true);
    auto caption = label(CGRectMake(16, 0, W - 32, kHeaderHeight), 20, UIColor::whiteColor());
    caption->setText(std::string("活动说明"));
    caption->setTextAlignment(NSTextAlignmentCenter);
    picture->addSubview(caption);
    Weak<ActivityListViewController> weak = selfAs<ActivityListViewController>();
    picture->addGestureRecognizer(
        make<UITapGestureRecognizer>(self(), [weak](const Ref<UIGestureRecognizer>& sender) {
            if (auto self = weak.lock()) self->tapHeaderImage(sender);
        }));
    table->setTableHeaderView(picture);
    headerImageView = picture;
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
            // A list that ended before may have more now.
            if (auto footer = table ? UIScrollView_PullRefresh::footer(*table) : nullptr)
                footer->resetNoMoreData();
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

std::optional<CGFloat>
ActivityListViewController::tableViewHeightForRowAtIndexPath(UITableView& tableView,
                                                             const Ref<NSIndexPath>& indexPath) {
    Ref<QVNActivity> activity = dataProvider_ ? dataProvider_->activityForIndexPath(indexPath) : nullptr;
    return UITableView_TLTemplateLayoutCell::tl_heightForCellWithIdentifier(
        tableView, std::string(QVNActivityListDataProvider::kCellIdentifier),
        [activity](const Ref<UITableViewCell>& cell) {
            if (auto eventCell = std::dynamic_pointer_cast<QVNActivityCell>(cell))
                eventCell->setActivity(activity);
        });
}

void ActivityListViewController::tableViewDidSelectRowAtIndexPath(UITableView&,
                                                                  const Ref<NSIndexPath>& indexPath) {
    if (!dataProvider_ || !dataProvider_->activityForIndexPath(indexPath)) return;
    performSegueWithIdentifier(kShowDetailSegue, indexPath);
}

void ActivityListViewController::prepareForSegue(const Ref<UIStoryboardSegue>& segue,
                                                 const Ref<NSObject>& sender) {
    if (!segue || segue->identifier() != std::optional<std::string>(kShowDetailSegue)) return;
    auto indexPath = std::dynamic_pointer_cast<NSIndexPath>(sender);
    auto handOver =
        std::dynamic_pointer_cast<InformationScreens::ActivityHandOver>(segue->destinationViewController());
    if (handOver && dataProvider_) handOver->setActivity(dataProvider_->activityForIndexPath(indexPath));
}

void ActivityListViewController::tapHeaderImage(const Ref<NSObject>&) {
    Ref<UIStoryboard> board =
        storyboard() ? storyboard()
                     : UIStoryboard::storyboardWithName(InformationScreens::kActivityStoryboard, nullptr);
    Ref<UINavigationController> navigation = navigationController();
    if (!board || !navigation) return;
    if (Ref<UIViewController> page =
            board->instantiateViewControllerWithIdentifier(InformationScreens::kActivityHeaderIdentifier))
        navigation->pushViewController(page, true);
}

namespace InformationScenes {

void registerEventScenes() {
    using namespace InformationScreens;
    UIStoryboard::registerScene(kActivityStoryboard, ActivityListViewController::kIdentifier,
                                [](UIStoryboard&) -> Ref<UIViewController> {
                                    auto list = make<ActivityListViewController>();
                                    list->declareSegue(ActivityListViewController::kShowDetailSegue,
                                                       UIStoryboardSegueKind::Show,
                                                       kActivityDetailIdentifier);
                                    return list;
                                });
    UIStoryboard::registerScene(kActivityStoryboard, kActivityDetailIdentifier,
                                [](UIStoryboard&) -> Ref<UIViewController> {
                                    auto detail = make<ActivityDetailViewController>();
                                    // Which gallery an event's page opens is decided here.
                                    detail->declareSegue(ActivityDetailViewController::kShowProductionSegue,
                                                         UIStoryboardSegueKind::Show, kProductionIdentifier);
                                    return detail;
                                });
    UIStoryboard::registerScene(
        kActivityStoryboard, kActivityHeaderIdentifier,
        [](UIStoryboard&) -> Ref<UIViewController> { return make<ActivvityHeaderViewController>(); });
    UIStoryboard::registerScene(
        kActivityStoryboard, kJoinActivityIdentifier,
        [](UIStoryboard&) -> Ref<UIViewController> { return make<JoinActivityViewController>(); });
}

}  // namespace InformationScenes
