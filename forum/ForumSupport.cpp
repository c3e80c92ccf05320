#include "forum/ForumSupport.h"

#include "app/QVNAPIClient.h"
#include "app/QVNAccountScreens.h"
#include "app/QVNUserManager.h"
#include "app/UIImageSacle.h"
#include "controls/VHProgressHUD.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSString.h"
#include "uikit/UIAlertView.h"
#include "uikit/UIStoryboard.h"

namespace detail::forum {

Ref<QVNUser> currentUser() {
    return QVNUserManager::shareObject()->currentUser();
}

void addUserToken(Dictionary& params) {
    Ref<QVNUser> user = currentUser();
    if (user && user->user_token) params.setObject(QVNUserTokenParameterName, *user->user_token);
}

std::optional<long> resultCode(const Ref<NSError>& error) {
    if (!error || error->domain() != QVNAPIErrorDomain) return std::nullopt;
    return error->code();
}

bool isInvalidToken(const Ref<NSError>& error) {
    return resultCode(error) == QVNResultCodeInvalidToken;
}

void showInvalidTokenAlert(bool signOut) {
    auto alert =
        make<UIAlertView>(std::string("帐号失效请重新登录"), std::nullopt, nullptr, std::string("确定"));
    alert->show();
    if (signOut) QVNUserManager::shareObject()->logOut();
}

void showAlert(const std::optional<std::string>& title, const std::optional<std::string>& message,
               const std::string& button) {
    auto alert = make<UIAlertView>(title, message, nullptr, std::nullopt, std::vector<std::string>{button});
    alert->show();
}

void showTextHUD(const Ref<UIView>& view, const std::string& text, double hideAfter) {
    if (!view) return;
    Ref<VHProgressHUD> hud = VHProgressHUD::showHUDAddedTo(view, true);
    hud->setMode(VHProgressHUDModeText);
    hud->setLabelText(text);
    hud->setRemoveFromSuperViewOnHide(true);
    hud->hide(true, hideAfter);
}

namespace {

Ref<UIViewController> accountScreen(const std::string& identifier) {
    if (!UIStoryboard::hasStoryboardNamed(QVNAccountScreens::kStoryboard)) return nullptr;
    Ref<UIStoryboard> storyboard = UIStoryboard::storyboardWithName(QVNAccountScreens::kStoryboard, nullptr);
    return storyboard ? storyboard->instantiateViewControllerWithIdentifier(identifier) : nullptr;
}

}  // namespace

void pushLogin(const Ref<UINavigationController>& navigation, bool fromRizUr) {
    Ref<UIViewController> login = accountScreen(QVNAccountScreens::kLoginIdentifier);
    if (!login || !navigation) return;
    if (fromRizUr) {
        if (auto handOver = std::dynamic_pointer_cast<QVNAccountScreens::LoginHandOver>(login))
            handOver->setIsFromRizUr(true);
    }
    navigation->pushViewController(login, true);
}

void pushProfile(const Ref<UINavigationController>& navigation, const std::optional<NSNumber>& uid) {
    Ref<UIViewController> profile = accountScreen(QVNAccountScreens::kUserInfoIdentifier);
    if (!profile || !navigation) return;
    if (auto handOver = std::dynamic_pointer_cast<QVNAccountScreens::UserInfoHandOver>(profile)) {
        Ref<QVNUser> user = currentUser();
        long own = user && user->user_id ? user->user_id->integerValue() : 0;
        long other = uid ? uid->integerValue() : 0;
        if (user && own == other)
            handOver->setUser(user);
        else
            handOver->setUid(uid);
    }
    navigation->pushViewController(profile, true);
}

void afterDelay(double seconds, std::function<void()> block) {
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, static_cast<std::int64_t>(seconds * NSEC_PER_SEC)),
                   dispatch_get_main_queue(), [block = std::move(block)] {
                       if (block) block();
                   });
}

std::vector<std::string> splitPictures(const std::optional<std::string>& joined) {
    std::vector<std::string> parts;
    if (!joined || joined->empty()) return parts;
    std::size_t start = 0;
    while (true) {
        std::size_t end = joined->find(';', start);
        parts.push_back(joined->substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return parts;
}

}  // namespace detail::forum

namespace detail::forum {

void showImageFullScreen(const Ref<UIImageView>& imageView) {
    UIImageSacle::showImage(imageView);
}

}  // namespace detail::forum
