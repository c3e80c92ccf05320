#include "account/MailListlViewController.h"

#include "account/AccountForms.h"
#include "account/QVNMailCell.h"
#include "app/KeyboardMove.h"
#include "app/QVNAPIClient.h"
#include "app/QVNUserManager.h"
#include "controls/PullRefreshNormalHeader.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "foundation/NSDate.h"
#include "foundation/NSMainThreadCheck.h"
#include "uikit/UIApplication.h"
#include "uikit/UITapGestureRecognizer.h"

MailListlViewController::~MailListlViewController() {
    NSNotificationCenter::defaultCenter()->removeObserver(static_cast<const NSObject*>(this));
}

std::optional<NSNumber> MailListlViewController::correspondent() const {
    if (friendUid_) return friendUid_;
    return message_ ? message_->sender_uid : std::nullopt;
}

const Ref<NSDateFormatter>& MailListlViewController::dateFormatter() {
    if (!dateFormatter_) {
        dateFormatter_ = make<NSDateFormatter>();
        dateFormatter_->setDateFormat("yyyy-MM-dd HH:mm:ss");
    }
    return dateFormatter_;
}

Array& MailListlViewController::mails() {
    return mails_;
}

void MailListlViewController::viewDidLoad() {
    AccountScreen::viewDidLoad();
    auto self = selfAs<MailListlViewController>();
    auto table = tableView.lock();
    if (table) {
        table->setDataSource(self);
        table->setDelegate(self);
        table->setAllowsSelection(false);
        table->setSeparatorStyle(UITableViewCellSeparatorStyleNone);
        table->setEstimatedRowHeight(44);
        table->setRowHeight(UITableViewAutomaticDimension);
        Weak<MailListlViewController> weak = self;
        auto tap = make<UITapGestureRecognizer>(self, [weak](const Ref<UIGestureRecognizer>&) {
            if (auto screen = weak.lock()) screen->view()->endEditing(true);
        });
        tap->setCancelsTouchesInView(false);
        table->addGestureRecognizer(tap);
    }
    auto center = NSNotificationCenter::defaultCenter();
    center->addObserver(self, &MailListlViewController::keyboardWillShow,
                        std::string(UIKeyboardWillShowNotification));
    center->addObserver(self, &MailListlViewController::keyboardWillHide,
                        std::string(UIKeyboardWillHideNotification));
    if (!table) return;
    Weak<MailListlViewController> weak = self;
    auto header = PullRefreshNormalHeader::headerWithRefreshingBlock([weak] {
        auto screen = weak.lock();
        if (!screen) return;
        QVNMail::getMailsWithFriendUid(screen->correspondent(),
                                       [weak](const std::optional<Array>& mails, const Ref<NSError>&) {
                                           auto self = weak.lock();
                                           if (!self) return;
                                           self->mails_.removeAllObjects();
                                           if (mails) self->mails_.addObjectsFromArray(*mails);
                                           auto list = self->tableView.lock();
                                           if (!list) return;
                                           list->reloadData();
                                           if (auto control = UIScrollView_PullRefresh::header(*list))
                                               control->endRefreshing();
                                       });
    });
    UIScrollView_PullRefresh::setHeader(table, header);
    header->beginRefreshing();
}

long MailListlViewController::tableViewNumberOfRowsInSection(UITableView&, long) {
    return static_cast<long>(mails_.count());
}

Ref<UITableViewCell>
MailListlViewController::tableViewCellForRowAtIndexPath(UITableView& table,
                                                        const Ref<NSIndexPath>& indexPath) {
    auto mail = mails_[static_cast<std::size_t>(indexPath->row())].objectAs<QVNMail>();
    Ref<QVNUser> me = QVNUserManager::shareObject()->currentUser();
    // Own mails are told apart by the nickname, as the server lists no sender id in a thread.
    bool own = mail && me && mail->sender_nickname && mail->sender_nickname == me->user_nickname;
    auto cell = std::dynamic_pointer_cast<QVNMailCell>(table.dequeueReusableCellWithIdentifier(
        own ? QVNMailCell::kOwnIdentifier : QVNMailCell::kOtherIdentifier));
    if (!cell) return make<UITableViewCell>(UITableViewCellStyleDefault, std::nullopt);
    cell->setMail(mail);
    return cell;
}

void MailListlViewController::scrollViewWillBeginDragging(UIScrollView&) {
    view()->endEditing(true);
}

void MailListlViewController::sendMail(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    auto entry = textView.lock();
    std::string text = entry ? entry->text() : std::string();
    Ref<QVNUser> me = QVNUserManager::shareObject()->currentUser();
    auto local = make<QVNMail>();
    local->message_content = text;
    local->message_time = dateFormatter()->stringFromDate(NSDate::date());
    if (me) {
        local->sender_logo = me->user_logo;
        local->sender_nickname = me->user_nickname;
    }
    Weak<MailListlViewController> weak = selfAs<MailListlViewController>();
    QVNMail::sendMailWithFriendUid(correspondent(), text, [weak, local](const Ref<NSError>& error) {
        auto self = weak.lock();
        if (!self) return;
        if (error) {
            if (error->code() == QVNResultCodeInvalidToken) {
                auto alert = make<UIAlertView>(std::string(AccountForms::kInvalidTokenTitle), std::nullopt,
                                               self, std::string(AccountForms::kOK));
                alert->show();
            }
            return;
        }
        auto table = self->tableView.lock();
        self->mails_.addObject(local);
        auto path = NSIndexPath::indexPathForRow(static_cast<long>(self->mails_.count()) - 1, 0);
        if (table) {
            table->beginUpdates();
            table->insertRowsAtIndexPaths({path}, UITableViewRowAnimationBottom);
            table->endUpdates();
            table->scrollToRowAtIndexPath(path, UITableViewScrollPositionBottom, true);
        }
        if (auto entry = self->textView.lock()) entry->setText(std::string());
    });
}

void MailListlViewController::animateBar(const Ref<NSNotification>& notification, CGFloat constant) {
    Weak<NSLayoutConstraint> weak = bottmViewBottomConstraint;
    Ref<UIView> root = view();
    KeyboardMove::fromNotification(*notification).animate([weak, root, constant] {
        if (auto constraint = weak.lock()) constraint->setConstant(constant);
        root->layoutIfNeeded();
    });
}

void MailListlViewController::keyboardWillShow(const Ref<NSNotification>& notification) {
    animateBar(notification, KeyboardMove::fromNotification(*notification).height());
}

void MailListlViewController::keyboardWillHide(const Ref<NSNotification>& notification) {
    animateBar(notification, 0);
}

void MailListlViewController::goBack(const Ref<NSObject>&) {
    if (isFromMessafeVc_) {
        NSNotificationCenter::defaultCenter()->postNotificationName(kMailReadNotification, nullptr,
                                                                    Dictionary{{"isUpdate", "YES"}});
    }
    popScreen();
}
