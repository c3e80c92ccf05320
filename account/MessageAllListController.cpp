#include "account/MessageAllListController.h"

#include <algorithm>
#include <cmath>

#include "account/MailListlViewController.h"
#include "account/QVNMessageCell.h"
#include "app/QVNMessageCommunicator.h"
#include "controls/PullRefreshAutoNormalFooter.h"
#include "controls/PullRefreshNormalHeader.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "controls/UITableView+TLTemplateLayoutCell.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"

// ---- the container -----------------------------------------------------------------------------------

void MessageAllListController::viewDidLoad() {
    AccountScreen::viewDidLoad();
    selectedButton_ = mailButton.lock();
    buttons_ = {mailButton.lock(), rizurButton.lock(), systemButton.lock()};
    for (long category : {1L, 2L, 3L}) {
        auto page = std::dynamic_pointer_cast<MessageListViewController>(
            storyboard() ? storyboard()->instantiateViewControllerWithIdentifier("MessageListViewController")
                         : nullptr);
        if (!page) continue;
        page->setCategory(NSNumber::numberWithLong(category));
        addChildViewController(page);
    }
    auto pager = scrollView.lock();
    if (!pager) return;
    pager->setDelegate(selfAs<MessageAllListController>());
    pager->setContentSize(
        CGSizeMake(childViewControllers().size() * UIScreen::mainScreen()->bounds().size.width, 0));
    pager->setPagingEnabled(true);
    pager->setShowsHorizontalScrollIndicator(true);
    if (!childViewControllers().empty()) {
        auto first = childViewControllers().front();
        first->view()->setFrame(pager->bounds());
        pager->addSubview(first->view());
    }
    recolour();
}

void MessageAllListController::show(long index) {
    auto pager = scrollView.lock();
    Ref<UIButton> tapped = buttons_.size() > static_cast<std::size_t>(index) ? buttons_[index] : nullptr;
    if (!pager || !tapped || tapped == selectedButton_) return;
    pager->setContentOffset(CGPointMake(index * pager->bounds().size.width, 0), true);
    select(tapped);
}

void MessageAllListController::select(const Ref<UIButton>& button) {
    selectedButton_ = button;
    recolour();
}

void MessageAllListController::recolour() {
    for (const auto& button : buttons_) {
        if (!button) continue;
        button->setTitleColor(button == selectedButton_ ? UIColor::blackColor() : UIColor::grayColor(),
                              UIControlStateNormal);
    }
}

void MessageAllListController::showMail(const Ref<NSObject>&) {
    show(0);
}
void MessageAllListController::showRizUr(const Ref<NSObject>&) {
    show(1);
}
void MessageAllListController::showSystem(const Ref<NSObject>&) {
    show(2);
}

void MessageAllListController::fanhuiAction(const Ref<NSObject>&) {
    popScreen();
}

void MessageAllListController::scrollViewDidScroll(UIScrollView& pager) {
    CGFloat width = pager.bounds().size.width;
    if (width <= 0 || buttons_.empty()) return;
    long index = static_cast<long>(std::floor(pager.contentOffset().x / width + 0.5));
    index = std::clamp<long>(index, 0, 2);
    if (static_cast<std::size_t>(index) < buttons_.size()) select(buttons_[index]);
}

void MessageAllListController::addPageIfNeeded(UIScrollView& pager) {
    CGFloat width = pager.bounds().size.width;
    if (width <= 0) return;
    long index = std::clamp<long>(static_cast<long>(pager.contentOffset().x / width), 0, 2);
    if (static_cast<std::size_t>(index) >= childViewControllers().size()) return;
    auto page = childViewControllers()[index];
    if (page->view()->superview()) return;
    page->view()->setFrame(pager.bounds());
    pager.addSubview(page->view());
}

void MessageAllListController::scrollViewDidEndScrollingAnimation(UIScrollView& pager) {
    addPageIfNeeded(pager);
}

void MessageAllListController::scrollViewDidEndDecelerating(UIScrollView& pager) {
    addPageIfNeeded(pager);
}

// ---- one page --------------------------------------------------------------------------------------------

std::string MessageListViewController::cellIdentifier() const {
    return QVNMessageCell::identifierForCategory(category_ ? category_->integerValue() : 1);
}

void MessageListViewController::viewDidLoad() {
    UITableViewController::viewDidLoad();
    auto table = tableView();
    for (const char* identifier : {QVNMessageCell::kImageIdentifier, QVNMessageCell::kSystemIdentifier}) {
        std::string kind = identifier;
        table->registerClass(
            [kind](const std::string&) -> Ref<UITableViewCell> {
                return QVNMessageCell::makePrototype(kind);
            },
            kind);
    }
    Weak<MessageListViewController> weak = selfAs<MessageListViewController>();
    auto header = PullRefreshNormalHeader::headerWithRefreshingBlock([weak] {
        auto self = weak.lock();
        if (!self) return;
        QVNMessageCommunicator::sharedStore()->fetchMessagesForCategory(
            self->category_, [weak](const std::optional<Array>& messages) {
                if (auto self = weak.lock()) self->firstPageArrived(messages);
            });
    });
    UIScrollView_PullRefresh::setHeader(table, header);
    auto footer = PullRefreshAutoNormalFooter::footerWithRefreshingBlock([weak] {
        auto self = weak.lock();
        if (!self) return;
        Ref<QVNMessage> last;
        if (self->messagesDataSource_ && !self->messagesDataSource_->items().empty())
            last = self->messagesDataSource_->items().lastObject().objectAs<QVNMessage>();
        QVNMessageCommunicator::sharedStore()->fetchMoreMessagesForCategory(
            self->category_, last, [weak](const std::optional<Array>& messages) {
                if (auto self = weak.lock()) self->nextPageArrived(messages);
            });
    });
    UIScrollView_PullRefresh::setFooter(table, footer);
    if (QVNMessageCommunicator::sharedStore()->messages().empty()) header->beginRefreshing();
}

void MessageListViewController::firstPageArrived(const std::optional<Array>& messages) {
    auto table = tableView();
    if (messages) {
        messagesDataSource_ =
            make<ArrayDataSource>(messages, cellIdentifier(), [](const Ref<UIView>& cell, const Value& item) {
                if (auto row = std::dynamic_pointer_cast<QVNMessageCell>(cell))
                    row->setMessage(item.objectAs<QVNMessage>());
            });
        table->reloadData();
        if (auto footer = UIScrollView_PullRefresh::footer(*table)) footer->resetNoMoreData();
    }
    if (auto header = UIScrollView_PullRefresh::header(*table)) header->endRefreshing();
}

void MessageListViewController::nextPageArrived(const std::optional<Array>& messages) {
    auto table = tableView();
    auto footer = UIScrollView_PullRefresh::footer(*table);
    if (!messages || !messagesDataSource_) {
        if (footer) footer->endRefreshingWithNoMoreData();
        return;
    }
    messagesDataSource_->addItems(*messages);
    table->reloadData();
    // The footer goes back to idle, so that the next page can be asked for.
    if (footer) footer->endRefreshing();
}

long MessageListViewController::tableViewNumberOfRowsInSection(UITableView& table, long section) {
    return messagesDataSource_ ? messagesDataSource_->tableViewNumberOfRowsInSection(table, section) : 0;
}

Ref<UITableViewCell>
MessageListViewController::tableViewCellForRowAtIndexPath(UITableView& table,
                                                          const Ref<NSIndexPath>& indexPath) {
    if (!messagesDataSource_) return make<UITableViewCell>(UITableViewCellStyleDefault, std::nullopt);
    return messagesDataSource_->tableViewCellForRowAtIndexPath(table, indexPath);
}

std::optional<CGFloat>
MessageListViewController::tableViewHeightForRowAtIndexPath(UITableView& table,
                                                            const Ref<NSIndexPath>& indexPath) {
    Ref<QVNMessage> message = messagesDataSource_
                                  ? messagesDataSource_->itemAtIndexPath(indexPath).objectAs<QVNMessage>()
                                  : nullptr;
    return UITableView_TLTemplateLayoutCell::tl_heightForCellWithIdentifier(
        table, cellIdentifier(), [message](const Ref<UITableViewCell>& cell) {
            if (auto row = std::dynamic_pointer_cast<QVNMessageCell>(cell)) row->setMessage(message);
        });
}

void MessageListViewController::tableViewDidSelectRowAtIndexPath(UITableView&,
                                                                 const Ref<NSIndexPath>& indexPath) {
    if (!category_ || category_->integerValue() != QVNMessage::kCategoryMail || !messagesDataSource_) return;
    auto thread = std::dynamic_pointer_cast<MailListlViewController>(
        storyboard() ? storyboard()->instantiateViewControllerWithIdentifier("MailListlViewController")
                     : nullptr);
    auto navigation = navigationController();
    if (!thread || !navigation) return;
    thread->setMessage(messagesDataSource_->itemAtIndexPath(indexPath).objectAs<QVNMessage>());
    navigation->pushViewController(thread, true);
}
