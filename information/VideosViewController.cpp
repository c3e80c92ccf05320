#include "information/VideosViewController.h"

#include "app/ScreenParts.h"
#include "information/InformationScenes.h"
#include "information/VideoDetailViewController.h"
#include "uikit/UINavigationController.h"

#include "controls/PullRefreshAutoNormalFooter.h"
#include "controls/PullRefreshNormalHeader.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSURL.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "images/UIImageView+WebCache.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"

namespace {

constexpr char kSourceText[] = "来源：trasselin.example";

using ScreenParts::label;

}  // namespace

void QVNVideoTableViewCell::buildIfNeeded() {
    if (title.lock()) return;
    const Ref<UIView>& content = contentView();
    const CGFloat W = UIScreen::mainScreen()->bounds().size.width;
    auto picture = make<UIImageView>(CGRectMake(10, 10, 112, 70));
    picture->setContentMode(UIViewContentModeScaleAspectFill);
    picture->setClipsToBounds(true);
    content->addSubview(picture);
    auto titleLabel = label(CGRectMake(132, 10, W - 142, 40), 15, UIColor::darkGrayColor());
    titleLabel->setNumberOfLines(2);
    content->addSubview(titleLabel);
    auto sourceLabel = label(CGRectMake(132, 62, 120, 18), 11, UIColor::grayColor());
    content->addSubview(sourceLabel);
    auto dateLabel = label(CGRectMake(W - 170, 62, 80, 18), 11, UIColor::grayColor());
    content->addSubview(dateLabel);
    auto viewLabel = label(CGRectMake(W - 85, 62, 75, 18), 11, UIColor::grayColor());
    viewLabel->setTextAlignment(NSTextAlignmentRight);
    content->addSubview(viewLabel);
    image = picture;
    title = titleLabel;
    source = sourceLabel;
    date = dateLabel;
    view = viewLabel;
}

void VideosViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    const Ref<UIView>& root = view();
    Ref<UITableView> table = tableView.lock();
    if (!table) {
        auto made = make<UITableView>(root->bounds(), UITableViewStylePlain);
        made->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
        root->addSubview(made);
        tableView = made;
        table = made;
    }
    table->registerClass<QVNVideoTableViewCell>(QVNVideoTableViewCell::kIdentifier);
    table->setDataSource(selfAs<VideosViewController>());
    table->setDelegate(selfAs<VideosViewController>());
    table->setContentInset(UIEdgeInsetsMake(0, 0, 30, 0));
    Weak<VideosViewController> weak = selfAs<VideosViewController>();
    UIScrollView_PullRefresh::setHeader(table, PullRefreshNormalHeader::headerWithRefreshingBlock([weak] {
                                            if (auto self = weak.lock()) self->loadFirstPage();
                                        }));
    UIScrollView_PullRefresh::setFooter(table, PullRefreshAutoNormalFooter::footerWithRefreshingBlock([weak] {
                                            if (auto self = weak.lock()) self->loadMore();
                                        }));
    if (auto header = UIScrollView_PullRefresh::header(*table)) header->beginRefreshing();
}

void VideosViewController::loadFirstPage() {
    NS_ASSERT_MAIN_THREAD();
    Weak<VideosViewController> weak = selfAs<VideosViewController>();
    QVNVideo::fetchVideoListIndex(
        NSNumber::numberWithInt(0),
        [weak](const Ref<NSError>& error, const std::optional<QVNVideo::List>& videos) {
            auto self = weak.lock();
            if (!self) return;
            Ref<UITableView> table = self->tableView.lock();
            if (!error && videos) {
                self->videoList_ = *videos;
                if (table) table->reloadData();
            }
            if (auto header = table ? UIScrollView_PullRefresh::header(*table) : nullptr)
                header->endRefreshing();
        });
}

void VideosViewController::loadMore() {
    NS_ASSERT_MAIN_THREAD();
    Ref<UITableView> table = tableView.lock();
    if (videoList_.empty() || !videoList_.back()->identifier()) {
        // Nothing to page after: stop the spinner rather than leave it running.
        if (auto footer = table ? UIScrollView_PullRefresh::footer(*table) : nullptr) footer->endRefreshing();
        return;
    }
    Weak<VideosViewController> weak = selfAs<VideosViewController>();
    QVNVideo::fetchVideoListIndex(
        *videoList_.back()->identifier(),
        [weak](const Ref<NSError>& error, const std::optional<QVNVideo::List>& videos) {
            auto self = weak.lock();
            if (!self) return;
            Ref<UITableView> table = self->tableView.lock();
            auto footer = table ? UIScrollView_PullRefresh::footer(*table) : nullptr;
            if (error || !videos) {
                if (footer) footer->endRefreshing();
                return;
            }
            if (videos->empty()) {
                if (footer) footer->endRefreshingWithNoMoreData();
                return;
            }
            self->videoList_.insert(self->videoList_.end(), videos->begin(), videos->end());
            if (table) table->reloadData();
            if (footer) footer->endRefreshing();
        });
}

void VideosViewController::configureCell(const Ref<QVNVideoTableViewCell>& cell,
                                         const Ref<NSIndexPath>& indexPath) {
    if (!cell || indexPath->row() < 0 || indexPath->row() >= static_cast<long>(videoList_.size())) return;
    cell->buildIfNeeded();
    const Ref<QVNVideo>& video = videoList_[indexPath->row()];
    if (auto picture = cell->image.lock()) {
        // Server text: an address that does not parse leaves the placeholder.
        Ref<NSURL> url = video->video_pic() ? NSURL::URLWithString(*video->video_pic()) : nullptr;
        UIImageView_WebCache::wi_setImageWithURL(picture, url, UIImage::imageNamed("tupianlogo"));
    }
    if (auto title = cell->title.lock()) title->setText(video->video_title().value_or(""));
    if (auto source = cell->source.lock()) source->setText(std::string(kSourceText));
    if (auto date = cell->date.lock()) date->setText(video->video_time().value_or(""));
    if (auto view = cell->view.lock())
        view->setText((video->video_view() ? video->video_view()->stringValue() : std::string("0")) +
                      "条评论");
}

long VideosViewController::tableViewNumberOfRowsInSection(UITableView&, long) {
    return static_cast<long>(videoList_.size());
}

Ref<UITableViewCell> VideosViewController::tableViewCellForRowAtIndexPath(UITableView& table,
                                                                          const Ref<NSIndexPath>& indexPath) {
    auto cell = std::dynamic_pointer_cast<QVNVideoTableViewCell>(
        table.dequeueReusableCellWithIdentifier(QVNVideoTableViewCell::kIdentifier, indexPath));
    configureCell(cell, indexPath);
    return cell;
}

std::optional<CGFloat> VideosViewController::tableViewHeightForRowAtIndexPath(UITableView&,
                                                                              const Ref<NSIndexPath>&) {
    return QVNVideoTableViewCell::kHeight;
}

void VideosViewController::tableViewDidSelectRowAtIndexPath(UITableView& table,
                                                            const Ref<NSIndexPath>& indexPath) {
    table.deselectRowAtIndexPath(indexPath, true);
    Ref<UINavigationController> navigation = navigationController();
    if (!navigation || indexPath->row() < 0 || indexPath->row() >= static_cast<long>(videoList_.size()))
        return;
    const Ref<QVNVideo>& video = videoList_[indexPath->row()];
    auto detail = make<VideoDetailViewController>();
    handOverVideo(*detail, *video);
    navigation->pushViewController(detail, true);
}

namespace InformationScenes {

void registerVideoScenes() {
    UIStoryboard::registerScene(
        VideosViewController::kStoryboard, VideosViewController::kIdentifier,
        [](UIStoryboard&) -> Ref<UIViewController> { return make<VideosViewController>(); });
}

}  // namespace InformationScenes
