#include "account/AddFriendViewController.h"

#include "account/AccountForms.h"
#include "app/QVNAPIClient.h"
#include "app/QVNAccountScreens.h"
#include "app/QVNUserManager.h"
#include "controls/PullRefreshNormalHeader.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIStoryboard.h"

void AddFriendViewController::viewDidLoad() {
    AccountScreen::viewDidLoad();
    auto self = selfAs<AddFriendViewController>();
    if (auto field = seachfiled.lock()) field->setDelegate(self);
    if (auto table = addFriendTableView.lock()) {
        table->setDataSource(self);
        table->setDelegate(self);
    }
}

void AddFriendViewController::showMessage(const std::string& text, double seconds) {
    // A HUD made by the factory leaves the view when hidden: each message gets a new one.
    hud_ = VHProgressHUD::showHUDAddedTo(view(), true);
    hud_->setMode(VHProgressHUDModeText);
    hud_->setLabelText(text);
    hud_->hide(true, seconds);
}

void AddFriendViewController::showInvalidToken() {
    auto alert = make<UIAlertView>(std::string(AccountForms::kInvalidTokenTitle), std::nullopt,
                                   selfAs<AddFriendViewController>(), std::string(AccountForms::kOK));
    alert->show();
}

std::optional<bool> AddFriendViewController::textFieldShouldReturn(UITextField& textField) {
    loadSeachResultWithKeyword(textField.text());
    if (auto table = addFriendTableView.lock()) {
        Weak<AddFriendViewController> weak = selfAs<AddFriendViewController>();
        UIScrollView_PullRefresh::setHeader(table, PullRefreshNormalHeader::headerWithRefreshingBlock([weak] {
                                                auto self = weak.lock();
                                                auto field = self ? self->seachfiled.lock() : nullptr;
                                                if (self)
                                                    self->loadSeachResultWithKeyword(field ? field->text()
                                                                                           : "");
                                            }));
    }
    view()->endEditing(true);
    return true;
}

void AddFriendViewController::loadSeachResultWithKeyword(const std::string& keyword) {
    Weak<AddFriendViewController> weak = selfAs<AddFriendViewController>();
    QVNFriend::seachFriendsWithKeyWord(keyword,
                                       [weak](const std::optional<Array>& users, const Ref<NSError>& error) {
                                           auto self = weak.lock();
                                           if (!self) return;
                                           auto table = self->addFriendTableView.lock();
                                           if (!error && users) {
                                               self->friendsArr_.removeAllObjects();
                                               self->friendsArr_.addObjectsFromArray(*users);
                                               if (table) table->reloadData();
                                               if (self->friendsArr_.empty())
                                                   self->showMessage("没有数据", 1.5);
                                           } else if (error && error->code() == QVNResultCodeInvalidToken) {
                                               self->showInvalidToken();
                                           }
                                           // Every answer ends a pull-down, failures included.
                                           if (table) {
                                               if (auto header = UIScrollView_PullRefresh::header(*table))
                                                   header->endRefreshing();
                                           }
                                       });
}

long AddFriendViewController::tableViewNumberOfRowsInSection(UITableView&, long) {
    return static_cast<long>(friendsArr_.count());
}

Ref<UITableViewCell>
AddFriendViewController::tableViewCellForRowAtIndexPath(UITableView& table,
                                                        const Ref<NSIndexPath>& indexPath) {
    auto cell = QVNAddFriendCell::cellWithTableView(table);
    if (!cell) return make<UITableViewCell>(UITableViewCellStyleDefault, std::nullopt);
    std::size_t row = static_cast<std::size_t>(indexPath->row());
    cell->setFriends(row < friendsArr_.count() ? friendsArr_[row].objectAs<QVNFriend>() : nullptr);
    addFfriendWithCell(cell);
    return cell;
}

void AddFriendViewController::addFfriendWithCell(const Ref<QVNAddFriendCell>& cell) {
    Weak<AddFriendViewController> weak = selfAs<AddFriendViewController>();
    cell->addFriendBlock = [weak](const Ref<QVNAddFriendCell>& tapped) {
        Ref<QVNFriend> record = tapped->friends();
        if (!record) return;
        Weak<QVNAddFriendCell> weakCell = tapped;
        QVNFriend::addFriendWithId(
            record->user_id, [weak, weakCell, record](const Value&, const Ref<NSError>& error) {
                auto self = weak.lock();
                if (!self) return;
                if (!error) {
                    // Only a friendship the server made marks the record.
                    record->isFriend = true;
                    self->showMessage("添加成功", 1.0);
                    AccountForms::after(1.0, [weak, weakCell] {
                        auto screen = weak.lock();
                        auto cell = weakCell.lock();
                        if (!screen || !cell) return;
                        if (auto button = cell->addFriendBtn.lock()) button->setHidden(true);
                        auto table = screen->addFriendTableView.lock();
                        auto path = table ? table->indexPathForCell(cell) : nullptr;
                        if (path) table->reloadRowsAtIndexPaths({path}, UITableViewRowAnimationBottom);
                    });
                } else if (error->code() == QVNResultCodeInvalidToken) {
                    self->showInvalidToken();
                } else {
                    self->showMessage("网络连接出错，请重新尝试", 1.5);
                }
            });
    };
    cell->tapUserImageBlock = [weak](const Ref<QVNAddFriendCell>& tapped) {
        auto self = weak.lock();
        if (!self || !QVNUserManager::shareObject()->hasCurrentUser()) return;
        Ref<QVNFriend> record = tapped->friends();
        auto navigation = self->navigationController();
        auto board = UIStoryboard::storyboardWithName(QVNAccountScreens::kStoryboard, nullptr);
        auto profile =
            board ? board->instantiateViewControllerWithIdentifier(QVNAccountScreens::kUserInfoIdentifier)
                  : nullptr;
        if (!record || !navigation || !profile) return;
        if (auto handOver = std::dynamic_pointer_cast<QVNAccountScreens::UserInfoHandOver>(profile))
            handOver->setUid(record->user_id);
        self->userInfoVc_ = profile;
        navigation->pushViewController(profile, true);
    };
}

void AddFriendViewController::goBack(const Ref<NSObject>&) {
    popScreen();
}
