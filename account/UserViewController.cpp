#include "account/UserViewController.h"

#include "account/AccountArtwork.h"
#include "app/QVNMessageCommunicator.h"
#include "app/QVNUserManager.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSURL.h"
#include "images/UIImageView+WebCache.h"
#include "images/WIWebImageManager.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIStoryboard.h"

const Ref<UIImageView>& UserViewController::dotImage() {
    if (!dotImage_) {
        auto button = messageBtn.lock();
        CGSize size = button ? button->frame().size : CGSizeMake(0, 0);
        dotImage_ = make<UIImageView>(CGRectMake(size.width - 30, size.height / 2 - 5, 10, 10));
        dotImage_->setImage(AccountArtwork::imageNamed("dot_05"));
    }
    return dotImage_;
}

void UserViewController::viewDidLoad() {
    AccountScreen::viewDidLoad();
    Weak<UserViewController> weak = selfAs<UserViewController>();
    addBackSwipe([weak] {
        if (auto self = weak.lock()) self->fanhuiAction(nullptr);
    });
}

void UserViewController::viewWillAppear(bool animated) {
    AccountScreen::viewWillAppear(animated);
    if (Ref<QVNUser> stored = QVNUserManager::shareObject()->currentUser()) user_ = stored;
    if (user_) {
        if (auto name = userNameLabel.lock()) name->setText(user_->user_nickname);
        if (auto avatar = userImageView.lock()) {
            UIImageView_WebCache::wi_setImageWithURL(
                avatar, NSURL::URLWithString(user_->user_logo.value_or("")),
                AccountArtwork::imageNamed("touxiang.jpg"), WILoadRefreshCached);
        }
    }
    Weak<UserViewController> weak = selfAs<UserViewController>();
    QVNMessageCommunicator::checkReadWithUerToken(
        QVNUserManager::shareObject()->currentUserToken(),
        [weak](const std::optional<std::string>& text, const Ref<NSError>&) {
            auto self = weak.lock();
            if (!self) return;
            if (text == std::string("1")) {
                if (auto button = self->messageBtn.lock()) button->addSubview(self->dotImage());
            } else if (self->dotImage_) {
                self->dotImage_->removeFromSuperview();
            }
        });
}

void UserViewController::push(const std::string& storyboardName, const std::string& identifier,
                              const std::function<void(const Ref<UIViewController>&)>& prepare) {
    NS_ASSERT_MAIN_THREAD();
    Ref<UIStoryboard> board =
        storyboardName.empty() ? storyboard() : UIStoryboard::storyboardWithName(storyboardName, nullptr);
    if (!board && storyboardName.empty()) board = UIStoryboard::storyboardWithName("MyUser", nullptr);
    Ref<UIViewController> screen =
        board ? board->instantiateViewControllerWithIdentifier(identifier) : nullptr;
    Ref<UINavigationController> navigation = navigationController();
    if (!screen || !navigation) return;
    if (prepare) prepare(screen);
    navigation->pushViewController(screen, true);
}

void UserViewController::showMessage(const Ref<NSObject>&) {
    push("", "NewMessageAllListController");
}

void UserViewController::showFriends(const Ref<NSObject>&) {
    push("", "FriendListViewController");
}

void UserViewController::showUserInfo(const Ref<NSObject>&) {
    Ref<QVNUser> user = user_;
    push("", "UserInfoViewController", [user](const Ref<UIViewController>& screen) {
        if (auto profile = std::dynamic_pointer_cast<QVNAccountScreens::UserInfoHandOver>(screen))
            profile->setUser(user);
    });
}

void UserViewController::FeedbackBtnAction(const Ref<NSObject>&) {
    push("", "FeedbackViewController");
}

void UserViewController::cleanCache(const Ref<NSObject>&) {
    push("MyActivity", "CacheListViewController");
}

void UserViewController::fanhuiAction(const Ref<NSObject>&) {
    popScreen();
}
