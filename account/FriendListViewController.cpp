#include "account/FriendListViewController.h"

#include "account/AccountForms.h"
#include "account/AddFriendViewController.h"
#include "account/MailListlViewController.h"
#include "app/QVNAPIClient.h"
#include "app/QVNAccountScreens.h"
#include "controls/PullRefreshNormalHeader.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIStoryboard.h"

namespace {

Ref<QVNFriend> friendAt(const Array& friends, long row) {
    if (row < 0 || static_cast<std::size_t>(row) >= friends.count()) return nullptr;
    return friends[static_cast<std::size_t>(row)].objectAs<QVNFriend>();
}

}  // namespace

void FriendListViewController::viewDidLoad() {
    AccountScreen::viewDidLoad();
    auto table = tableView.lock();
    if (!table) return;
    auto self = selfAs<FriendListViewController>();
    table->setDataSource(self);
    table->setDelegate(self);
    Weak<FriendListViewController> weak = self;
    auto header = PullRefreshNormalHeader::headerWithRefreshingBlock([weak] {
        QVNFriend::getFriends([weak](const std::optional<Array>& friends, const Ref<NSError>& error) {
            if (auto self = weak.lock()) self->getFriendsAnswered(friends, error);
        });
    });
    UIScrollView_PullRefresh::setHeader(table, header);
    header->beginRefreshing();
}

void FriendListViewController::getFriendsAnswered(const std::optional<Array>& friends,
                                                  const Ref<NSError>& error) {
    auto table = tableView.lock();
    if (!error && friends) {
        friends_ = friends->mutableCopy();
        if (table) table->reloadData();
    } else if (error && error->code() == QVNResultCodeInvalidToken) {
        auto alert = make<UIAlertView>(std::string(AccountForms::kInvalidTokenTitle), std::nullopt,
                                       selfAs<FriendListViewController>(), std::string(AccountForms::kOK));
        alert->show();
    }
    if (table) {
        if (auto header = UIScrollView_PullRefresh::header(*table)) header->endRefreshing();
    }
}

long FriendListViewController::tableViewNumberOfRowsInSection(UITableView&, long) {
    return static_cast<long>(friends_.count());
}

Ref<UITableViewCell>
FriendListViewController::tableViewCellForRowAtIndexPath(UITableView& table,
                                                         const Ref<NSIndexPath>& indexPath) {
    auto cell = std::dynamic_pointer_cast<QVNFriendCell>(
        table.dequeueReusableCellWithIdentifier(QVNFriendCell::kIdentifier));
    if (!cell) return make<UITableViewCell>(UITableViewCellStyleDefault, std::nullopt);
    cell->setSelectionStyle(UITableViewCellSelectionStyleNone);
    cell->setMyFriend(friendAt(friends_, indexPath->row()));
    Weak<FriendListViewController> weak = selfAs<FriendListViewController>();
    cell->tapUserImageBlock = [weak](const Ref<QVNFriendCell>& tapped) {
        auto self = weak.lock();
        auto table = self ? self->tableView.lock() : nullptr;
        auto navigation = self ? self->navigationController() : nullptr;
        if (!table || !navigation) return;
        auto path = table->indexPathForCell(tapped);
        Ref<QVNFriend> shown = path ? friendAt(self->friends_, path->row()) : tapped->myFriend();
        auto board = UIStoryboard::storyboardWithName(QVNAccountScreens::kStoryboard, nullptr);
        auto profile =
            board ? board->instantiateViewControllerWithIdentifier(QVNAccountScreens::kUserInfoIdentifier)
                  : nullptr;
        if (!profile || !shown) return;
        if (auto handOver = std::dynamic_pointer_cast<QVNAccountScreens::UserInfoHandOver>(profile))
            handOver->setUid(shown->user_id);
        self->userInfoVc_ = profile;
        navigation->pushViewController(profile, true);
    };
    return cell;
}

void FriendListViewController::tableViewDidSelectRowAtIndexPath(UITableView&,
                                                                const Ref<NSIndexPath>& indexPath) {
    Ref<QVNFriend> chosen = friendAt(friends_, indexPath->row());
    auto navigation = navigationController();
    auto thread = std::dynamic_pointer_cast<MailListlViewController>(
        storyboard() ? storyboard()->instantiateViewControllerWithIdentifier("MailListlViewController")
                     : nullptr);
    if (!chosen || !navigation || !thread) return;
    mailListVc_ = thread;
    thread->setFriendUid(chosen->user_id);
    navigation->pushViewController(thread, true);
}

void FriendListViewController::goToAddFriendVC(const Ref<NSObject>&) {
    auto navigation = navigationController();
    auto screen = std::dynamic_pointer_cast<AddFriendViewController>(
        storyboard() ? storyboard()->instantiateViewControllerWithIdentifier(kAddFriendIdentifier) : nullptr);
    if (!navigation || !screen) return;
    addFriendVc_ = screen;
    navigation->pushViewController(screen, true);
}

void FriendListViewController::fanhuiAction(const Ref<NSObject>&) {
    popScreen();
}
