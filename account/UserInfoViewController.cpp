#include "account/UserInfoViewController.h"

#include "account/AccountArtwork.h"
#include "account/AccountForms.h"
#include "account/EditUserInfoViewController.h"
#include "account/MailListlViewController.h"
#include "account/QVNFriend.h"
#include "app/QVNAPIClient.h"
#include "app/QVNUserManager.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSString.h"
#include "foundation/NSURL.h"
#include "images/UIImageView+WebCache.h"
#include "images/WIWebImageManager.h"
#include "sdk/analytics/collection/Tally.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIStoryboard.h"

namespace {

std::string idText(const std::optional<NSNumber>& id) {
    return id ? id->stringValue() : std::string("(null)");
}

}  // namespace

const Ref<VHProgressHUD>& UserInfoViewController::hud() {
    if (!hud_) hud_ = AccountForms::makeTextHUD(view());
    return hud_;
}

void UserInfoViewController::viewDidLoad() {
    AccountScreen::viewDidLoad();
    Weak<UserInfoViewController> weak = selfAs<UserInfoViewController>();
    addBackSwipe([weak] {
        if (auto self = weak.lock()) self->fanhuiAction(nullptr);
    });
}

void UserInfoViewController::viewWillAppear(bool animated) {
    AccountScreen::viewWillAppear(animated);
    if (user_) {
        // The stored user, so that edits made on the editing screen show at once.
        user_ = QVNUserManager::shareObject()->currentUser();
        if (auto button = changeButton.lock()) button->setHidden(false);
        if (auto button = senderMessageBtn.lock()) button->setHidden(true);
        configureSubViewsWithUser(user_);
        return;
    }
    if (!uid_) return;
    for (const auto& button : {editButton.lock(), changeButton.lock(), senderMessageBtn.lock()})
        if (button) button->setHidden(true);
    Weak<UserInfoViewController> weak = selfAs<UserInfoViewController>();
    QVNUser::getUserWithUserId(Value(*uid_), [weak](const Ref<QVNUser>& user, const Ref<NSError>&) {
        auto self = weak.lock();
        if (!self) return;
        if (!user) {
            AccountForms::flash(self->hud(), "获取失败,请检查网络或重新登录", 1.0);
            return;
        }
        if (auto button = self->changeButton.lock()) button->setHidden(false);
        if (auto button = self->senderMessageBtn.lock()) button->setHidden(false);
        self->configureSubViewsWithUser(user);
    });
}

bool UserInfoViewController::isSignedInUser(const Ref<QVNUser>& user) const {
    Ref<QVNUser> stored = QVNUserManager::shareObject()->currentUser();
    return user && stored && idText(user->user_id) == idText(stored->user_id);
}

void UserInfoViewController::configureSubViewsWithUser(const Ref<QVNUser>& user) {
    boolUser_ = user;
    if (!user) return;
    if (auto label = nameLabel.lock()) label->setText(user->user_nickname);
    if (auto label = genderLabel.lock())
        label->setText(std::string(user->user_sex && user->user_sex->integerValue() == 0 ? "女" : "男"));
    if (auto label = signLabel.lock()) {
        label->setText(user->user_sign);
        label->setBackgroundColor(UIColor::clearColor());
    }
    if (auto label = phoneNumber.lock()) label->setText(user->user_phone);
    if (auto avatar = userImageView.lock()) {
        UIImageView_WebCache::wi_setImageWithURL(avatar, NSURL::URLWithString(user->user_logo.value_or("")),
                                                 AccountArtwork::imageNamed("touxiang.jpg"),
                                                 WILoadRefreshCached);
    }
    if (isSignedInUser(user)) return;
    if (auto label = phoneNumber.lock()) label->removeFromSuperview();
    if (auto label = phoneNumberLabel.lock()) label->removeFromSuperview();
    if (auto constraint = signTopMargin.lock()) constraint->setConstant(8.0);
    if (auto constraint = signLabelTopMargin.lock()) constraint->setConstant(8.0);
    auto button = changeButton.lock();
    if (!button) return;
    // Another user's button is the friend picture alone: the sign-out title and colour it carries
    // are the own profile's.
    button->setTitle(std::nullopt, UIControlStateNormal);
    button->setBackgroundColor(UIColor::clearColor());
    if (!user->isFriend) return;
    long friendState = user->isFriend->integerValue();
    if (friendState == 0) {
        button->setImage(AccountArtwork::imageNamed("jiaweihaoyou_up"), UIControlStateNormal);
        button->setImage(AccountArtwork::imageNamed("jiaweihaoyou_up"), UIControlStateSelected);
    } else if (friendState == 1) {
        button->setImage(AccountArtwork::imageNamed("shanchuhao_up.png"), UIControlStateNormal);
        button->setImage(AccountArtwork::imageNamed("shanchuhao_down.png"), UIControlStateSelected);
    }
}

void UserInfoViewController::logOutButtonTapped(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    Ref<QVNUser> stored = QVNUserManager::shareObject()->currentUser();
    Ref<QVNUser> shown = boolUser_;
    bool own = !stored || (shown && shown->user_id && stored->user_id && *shown->user_id == *stored->user_id);
    if (own) {
        QVNUserManager::shareObject()->logOut();
        NSNotificationCenter::defaultCenter()->postNotificationName(kSignedOutNotification);
        if (auto navigation = navigationController()) navigation->popToRootViewControllerAnimated(true);
        Tally::profileSignOff();
        return;
    }
    // The text HUD is made for the navigation controller's view and shown on this screen's.
    Ref<UIView> base = navigationController() ? navigationController()->view() : view();
    auto box = make<VHProgressHUD>(base);
    box->setMode(VHProgressHUDModeText);
    view()->addSubview(box);
    friendHUD_ = box;
    Weak<UserInfoViewController> weak = selfAs<UserInfoViewController>();
    auto popLater = [weak] {
        AccountForms::after(1.0, [weak] {
            if (auto self = weak.lock()) self->popScreen();
        });
    };
    if (shown && shown->isFriend && shown->isFriend->integerValue() == 1) {
        QVNFriend::deleteFriendWithId(shown->user_id,
                                      [box, popLater](const Value&, const Ref<NSError>& error) {
                                          if (error) return AccountForms::flash(box, "请重试", 1.0);
                                          AccountForms::flash(box, "删除成功", 1.0);
                                          popLater();
                                      });
        return;
    }
    QVNFriend::addFriendWithId(
        shown ? shown->user_id : std::nullopt, [box, popLater](const Value&, const Ref<NSError>& error) {
            if (!error) {
                AccountForms::flash(box, "添加成功", 1.0);
                popLater();
            } else if (error->code() == QVNResultCodeInvalidToken) {
                AccountForms::showAlert(std::string(AccountForms::kInvalidTokenTitle), std::nullopt);
                QVNUserManager::shareObject()->logOut();
            } else {
                AccountForms::flash(box, "请重试", 1.0);
            }
        });
}

void UserInfoViewController::editButtonTapped(const Ref<NSObject>&) {
    auto navigation = navigationController();
    auto screen = std::dynamic_pointer_cast<EditUserInfoViewController>(
        storyboard() ? storyboard()->instantiateViewControllerWithIdentifier("EditUserInfoViewController")
                     : nullptr);
    if (!navigation || !screen) return;
    screen->setUser(user_);
    navigation->pushViewController(screen, true);
}

void UserInfoViewController::senderMessageBtnAction(const Ref<NSObject>&) {
    auto navigation = navigationController();
    auto screen = std::dynamic_pointer_cast<MailListlViewController>(
        storyboard() ? storyboard()->instantiateViewControllerWithIdentifier("MailListlViewController")
                     : nullptr);
    if (!navigation || !screen) return;
    screen->setFriendUid(boolUser_ ? boolUser_->user_id : std::nullopt);
    mailListVc_ = screen;
    navigation->pushViewController(screen, true);
}

void UserInfoViewController::fanhuiAction(const Ref<NSObject>&) {
    popScreen();
}
