#include "account/NewMessageViewController.h"

#include <algorithm>
#include <cmath>

#include "account/AccountForms.h"
#include "account/MailListlViewController.h"
#include "account/QVNMessageCell.h"
#include "app/QVNAPIClient.h"
#include "app/QVNQuestionScreens.h"
#include "app/QVNUserManager.h"
#include "controls/PullRefreshAutoNormalFooter.h"
#include "controls/PullRefreshNormalHeader.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "controls/UITableView+TLTemplateLayoutCell.h"
#include "controls/UITableViewCell+TLTemplateLayoutCell.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSString.h"
#include "graphics/UIFont.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIStoryboard.h"

namespace {

Ref<QVNMessage> messageAt(const Array& messages, long row) {
    if (row < 0 || static_cast<std::size_t>(row) >= messages.count()) return nullptr;
    return messages[static_cast<std::size_t>(row)].objectAs<QVNMessage>();
}

}  // namespace

NewMessageViewController::~NewMessageViewController() {
    auto center = NSNotificationCenter::defaultCenter();
    center->removeObserver(this, std::string(kMailReadNotification), nullptr);
    center->removeObserver(this, std::string(kQuestionReadNotification), nullptr);
}

NewMessageViewController::Page& NewMessageViewController::page(long category) {
    return pages_[std::clamp<long>(category, 1, 3) - 1];
}

NewMessageViewController::Page* NewMessageViewController::pageOf(const UITableView& table) {
    for (Page& p : pages_)
        if (p.table.lock().get() == &table) return &p;
    return nullptr;
}

Array& NewMessageViewController::siXinMessages() {
    return page(1).messages;
}
Array& NewMessageViewController::rizUrMessages() {
    return page(2).messages;
}
Array& NewMessageViewController::siTongMessages() {
    return page(3).messages;
}

void NewMessageViewController::viewDidLoad() {
    AccountScreen::viewDidLoad();
    auto self = selfAs<NewMessageViewController>();
    auto center = NSNotificationCenter::defaultCenter();
    center->addObserver(self, &NewMessageViewController::getStrFromMailistVC,
                        std::string(kMailReadNotification));
    center->addObserver(self, &NewMessageViewController::getStrFromeDetailQuestionVC,
                        std::string(kQuestionReadNotification));
    siXinCategory = NSNumber::numberWithInt(1);
    rizUrCategory = NSNumber::numberWithInt(2);
    siTongCategory = NSNumber::numberWithInt(3);
    pages_[0] = Page{1, siXinTableView, siXinTitle, Array::mutableArray(), "私信(%@)", siXinClear};
    pages_[1] = Page{2, rizUrTableView, rizUrTitle, Array::mutableArray(), "问吧回复(%@)", rizUrClear};
    pages_[2] = Page{3, siTongTableView, siTongTitle, Array::mutableArray(), "系统公告(%@)", siTongClear};
    for (long category : {1L, 2L, 3L}) setupTable(category);
    if (auto pager = pagesView.lock()) pager->setDelegate(self);
    markShown(0);
}

void NewMessageViewController::markShown(long index) {
    shown_ = std::clamp<long>(index, 0, 2);
    // The accent itself is too light for text on the white strip: the title takes a deeper tone of
    // it, the bar the accent.
    static const Ref<UIColor> kMarkedTitle = UIColor::colorWithRed(0, 128 / 255.0, 145 / 255.0, 1);
    for (long i = 0; i < 3; ++i) {
        const bool shown = i == shown_;
        if (auto title = pages_[i].title.lock()) {
            title->setTitleColor(shown ? kMarkedTitle : UIColor::darkGrayColor(), UIControlStateNormal);
            title->titleLabel()->setFont(shown ? UIFont::boldSystemFontOfSize(14)
                                               : UIFont::systemFontOfSize(14));
            if (auto mark = titleMark.lock(); mark && shown) {
                CGRect under = title->frame();
                CGFloat height = mark->frame().size.height;
                mark->setFrame(CGRectMake(under.origin.x + 16, CGRectGetMaxY(under) - height,
                                          std::max<CGFloat>(under.size.width - 32, 0), height));
            }
        }
        if (auto clear = pages_[i].clear.lock()) clear->setHidden(!shown);
    }
}

void NewMessageViewController::pagerSettled(UIScrollView& scrollView) {
    auto pager = pagesView.lock();
    if (pager.get() != &scrollView) return;
    CGFloat width = scrollView.bounds().size.width;
    if (width <= 0) return;
    markShown(std::lround(scrollView.contentOffset().x / width));
}

void NewMessageViewController::scrollViewDidEndDragging(UIScrollView& scrollView, bool willDecelerate) {
    if (!willDecelerate) pagerSettled(scrollView);
}

void NewMessageViewController::scrollViewDidEndDecelerating(UIScrollView& scrollView) {
    pagerSettled(scrollView);
}

void NewMessageViewController::scrollViewDidEndScrollingAnimation(UIScrollView& scrollView) {
    pagerSettled(scrollView);
}

void NewMessageViewController::setupTable(long category) {
    auto table = page(category).table.lock();
    if (!table) return;
    auto self = selfAs<NewMessageViewController>();
    table->setDataSource(self);
    table->setDelegate(self);
    Weak<NewMessageViewController> weak = self;
    auto header = PullRefreshNormalHeader::headerWithRefreshingBlock([weak, category] {
        QVNMessageCommunicator::sharedStore()->fetchMessagesForCategory(
            NSNumber::numberWithLong(category), [weak, category](const std::optional<Array>& messages) {
                if (auto self = weak.lock()) self->firstPageArrived(category, messages);
            });
    });
    UIScrollView_PullRefresh::setHeader(table, header);
    auto footer = PullRefreshAutoNormalFooter::footerWithRefreshingBlock([weak, category] {
        auto self = weak.lock();
        if (!self) return;
        const Array& held = self->page(category).messages;
        Ref<QVNMessage> last = held.empty() ? nullptr : held.lastObject().objectAs<QVNMessage>();
        QVNMessageCommunicator::sharedStore()->fetchMoreMessagesForCategory(
            NSNumber::numberWithLong(category), last, [weak, category](const std::optional<Array>& messages) {
                if (auto self = weak.lock()) self->nextPageArrived(category, messages);
            });
    });
    UIScrollView_PullRefresh::setFooter(table, footer);
    // Nothing is held between visits: every list starts with a refresh.
    if (QVNMessageCommunicator::sharedStore()->messages().empty()) header->beginRefreshing();
}

void NewMessageViewController::firstPageArrived(long category, const std::optional<Array>& messages) {
    Page& p = page(category);
    if (messages) {
        p.messages.removeAllObjects();
        p.messages.addObjectsFromArray(*messages);
        long unread = 0;
        for (const Value& item : *messages) {
            auto message = item.objectAs<QVNMessage>();
            if (message && message->message_read && message->message_read->integerValue() == 0) ++unread;
        }
        if (auto title = p.title.lock()) {
            title->setTitle(
                NSString::stringWithFormat(p.titleFormat, NSString::stringWithFormat("%ld", unread)),
                UIControlStateNormal);
        }
    }
    auto table = p.table.lock();
    if (!table) return;
    table->reloadData();
    if (auto header = UIScrollView_PullRefresh::header(*table)) header->endRefreshing();
    if (auto footer = UIScrollView_PullRefresh::footer(*table)) footer->resetNoMoreData();
}

void NewMessageViewController::nextPageArrived(long category, const std::optional<Array>& messages) {
    Page& p = page(category);
    if (messages) p.messages.addObjectsFromArray(*messages);
    auto table = p.table.lock();
    if (!table) return;
    table->reloadData();
    auto footer = UIScrollView_PullRefresh::footer(*table);
    if (!footer) return;
    // Only the end of the list stops the asking; a page that brought rows lets the next one come.
    if (messages && !messages->empty()) {
        footer->endRefreshing();
    } else {
        footer->endRefreshingWithNoMoreData();
    }
}

void NewMessageViewController::viewWillAppear(bool animated) {
    AccountScreen::viewWillAppear(animated);
    auto refresh = [this](long category) {
        auto table = page(category).table.lock();
        if (!table) return;
        if (auto header = UIScrollView_PullRefresh::header(*table)) header->beginRefreshing();
    };
    if (isFormMailistVcStr_ == "YES") {
        isFormMailistVcStr_ = "NO";
        refresh(1);
    }
    if (isFromeDetailQuestionStr_ == "YES") {
        isFromeDetailQuestionStr_ = "NO";
        refresh(2);
    }
}

void NewMessageViewController::viewWillDisappear(bool animated) {
    AccountScreen::viewWillDisappear(animated);
    updateReadWithCategory(QVNMessage::kCategorySystem, std::nullopt);
}

void NewMessageViewController::getStrFromMailistVC(const Ref<NSNotification>& notification) {
    isFormMailistVcStr_ = notification->userInfoValue("isUpdate").stringValue();
}

void NewMessageViewController::getStrFromeDetailQuestionVC(const Ref<NSNotification>& notification) {
    isFromeDetailQuestionStr_ = notification->userInfoValue("isUpdateFromeQuestion").stringValue();
}

void NewMessageViewController::updateReadWithCategory(long category,
                                                      const std::optional<NSNumber>& senderUid) {
    QVNMessageCommunicator::updateReadWithUserToken(
        QVNUserManager::shareObject()->currentUserToken(), NSNumber::numberWithLong(category),
        category == QVNMessage::kCategoryMail ? senderUid : std::nullopt,
        [](const Value&, const Ref<NSError>&) {});
}

// ---- clearing ---------------------------------------------------------------------------------------

void NewMessageViewController::clean(long category) {
    NS_ASSERT_MAIN_THREAD();
    Weak<NewMessageViewController> weak = selfAs<NewMessageViewController>();
    QVNMessageCommunicator::cleanMessageForCagegory(
        NSNumber::numberWithLong(category), [weak, category](const Value&, const Ref<NSError>& error) {
            auto self = weak.lock();
            if (!self) return;
            if (!error) {
                auto table = self->page(category).table.lock();
                auto header = table ? UIScrollView_PullRefresh::header(*table) : nullptr;
                if (header) header->beginRefreshing();
            } else if (error->code() == QVNResultCodeInvalidToken) {
                auto alert = make<UIAlertView>(std::string(AccountForms::kInvalidTokenTitle), std::nullopt,
                                               self, std::string(AccountForms::kOK));
                alert->show();
            }
        });
}

void NewMessageViewController::siXinCleanMessage(const Ref<NSObject>&) {
    clean(1);
}
void NewMessageViewController::rizUrCleanMessage(const Ref<NSObject>&) {
    clean(2);
}
void NewMessageViewController::xiTongCleanMessage(const Ref<NSObject>&) {
    clean(3);
}

void NewMessageViewController::goBackAction(const Ref<NSObject>&) {
    popScreen();
}

void NewMessageViewController::showCategoryPage(const Ref<NSObject>& sender) {
    auto pager = pagesView.lock();
    if (!pager) return;
    for (long index = 0; index < 3; ++index) {
        if (pages_[index].title.lock() != sender) continue;
        // Marked at once: the mark answers the tap, not the end of the slide.
        markShown(index);
        pager->setContentOffset(CGPointMake(index * pager->bounds().size.width, 0), true);
    }
}

// ---- the tables -------------------------------------------------------------------------------------

long NewMessageViewController::tableViewNumberOfRowsInSection(UITableView& table, long) {
    Page* p = pageOf(table);
    return p ? static_cast<long>(p->messages.count()) : 0;
}

Ref<UITableViewCell>
NewMessageViewController::tableViewCellForRowAtIndexPath(UITableView& table,
                                                         const Ref<NSIndexPath>& indexPath) {
    Page* p = pageOf(table);
    long category = p ? p->category : 1;
    auto cell = std::dynamic_pointer_cast<QVNMessageCell>(
        table.dequeueReusableCellWithIdentifier(QVNMessageCell::identifierForCategory(category), indexPath));
    if (!cell) return make<UITableViewCell>(UITableViewCellStyleDefault, std::nullopt);
    if (category == QVNMessage::kCategorySystem)
        UITableViewCell_TLTemplateLayoutCell::setFd_enforceFrameLayout(*cell, false);
    cell->setMessage(p ? messageAt(p->messages, indexPath->row()) : nullptr);
    return cell;
}

std::optional<CGFloat>
NewMessageViewController::tableViewHeightForRowAtIndexPath(UITableView& table,
                                                           const Ref<NSIndexPath>& indexPath) {
    Page* p = pageOf(table);
    if (!p) return std::nullopt;
    Ref<QVNMessage> message = messageAt(p->messages, indexPath->row());
    long category = p->category;
    return UITableView_TLTemplateLayoutCell::tl_heightForCellWithIdentifier(
        table, std::string(QVNMessageCell::identifierForCategory(category)),
        [message, category](const Ref<UITableViewCell>& cell) {
            auto row = std::dynamic_pointer_cast<QVNMessageCell>(cell);
            if (!row) return;
            if (category == QVNMessage::kCategorySystem)
                UITableViewCell_TLTemplateLayoutCell::setFd_enforceFrameLayout(*row, false);
            row->setMessage(message);
        });
}

void NewMessageViewController::tableViewDidSelectRowAtIndexPath(UITableView& table,
                                                                const Ref<NSIndexPath>& indexPath) {
    Page* p = pageOf(table);
    if (!p) return;
    Ref<QVNMessage> message = messageAt(p->messages, indexPath->row());
    auto navigation = navigationController();
    if (!message || !navigation) return;
    if (p->category == QVNMessage::kCategoryMail) {
        auto thread = std::dynamic_pointer_cast<MailListlViewController>(
            storyboard() ? storyboard()->instantiateViewControllerWithIdentifier("MailListlViewController")
                         : nullptr);
        if (!thread) return;
        thread->setFriendUid(message->sender_uid);
        thread->setIsFromMessafeVc(true);
        updateReadWithCategory(QVNMessage::kCategoryMail, message->sender_uid);
        navigation->pushViewController(thread, true);
    } else if (p->category == QVNMessage::kCategoryQuestionReply) {
        auto board = UIStoryboard::storyboardWithName(QVNQuestionScreens::kStoryboard, nullptr);
        auto question = board ? board->instantiateViewControllerWithIdentifier(
                                    QVNQuestionScreens::kQuestionDetailIdentifier)
                              : nullptr;
        if (!question) return;
        if (auto handOver = std::dynamic_pointer_cast<QVNQuestionScreens::QuestionDetailHandOver>(question)) {
            handOver->setQuestionId(message->question_id);
            handOver->setIsFromMessafeVc(true);
        }
        updateReadWithCategory(QVNMessage::kCategoryQuestionReply, std::nullopt);
        navigation->pushViewController(question, true);
    }
}
