#include "account/LoginViewController.h"

#include "account/AccountForms.h"
#include "account/FindPasswordViewController.h"
#include "app/AppDelegate.h"
#include "app/QVNTAAnalyticsHelper.h"
#include "app/QVNUser.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSNotificationCenter.h"
#include "sdk/wechat/WXApi.h"
#include "sdk/wechat/WXApiRequests.h"
#include "sdk/weibo/bridge/WBRequests.h"
#include "sdk/weibo/bridge/WeiboSDK.h"
#include "uikit/UIApplication.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIStoryboard.h"

namespace {

constexpr char kWxCode[] = "wxCode";
constexpr char kWbtoken[] = "wbtoken";
// The Weibo service's OAuth default page.
constexpr char kWeiboRedirectURI[] = "https://api.weibo.com/oauth2/default.html";

Ref<NSObject> applicationDelegate() {
    auto application = UIApplication::sharedApplication();
    if (!application) return nullptr;
    return std::dynamic_pointer_cast<NSObject>(application->delegate());
}

}  // namespace

LoginViewController::~LoginViewController() {
    stopObservingAll();
}

void LoginViewController::viewDidLoad() {
    AccountScreen::viewDidLoad();
    auto weibo = xinLangLogin.lock();
    auto wechat = weiXinLogin.lock();
    if (weibo) {
        weibo->setTag(kWeiboButtonTag);
        weibo->setHidden(true);
    }
    if (wechat) wechat->setTag(kWeChatButtonTag);
    Weak<LoginViewController> weak = selfAs<LoginViewController>();
    addBackSwipe([weak] {
        if (auto self = weak.lock()) self->fanhuiAction(nullptr);
    });
    if (!WXApi::isWXAppInstalled()) {
        if (auto constraint = xinLangCenterXConstraint.lock()) constraint->setConstant(0);
        if (wechat) wechat->setHidden(true);
    }
}

void LoginViewController::viewDidDisappear(bool animated) {
    AccountScreen::viewDidDisappear(animated);
    // A social sign-in that never answered must not reach a screen that has gone.
    stopObservingAll();
}

bool LoginViewController::isObservingKeyPath(const std::string& keyPath) const {
    if (keyPath == kWxCode) return observingWxCode_;
    if (keyPath == kWbtoken) return observingWbtoken_;
    return false;
}

// ---- password -----------------------------------------------------------------------------------

void LoginViewController::login(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    auto nameField = userNameTextField.lock();
    auto passwordField = passwordTextField.lock();
    std::string userName = nameField ? nameField->text() : std::string();
    std::string password = passwordField ? passwordField->text() : std::string();
    if (userName.empty() || password.empty()) {
        AccountForms::showAlert(std::string("用户名或密码不能为空"), std::nullopt);
        return;
    }
    hud_ = make<VHProgressHUD>(view());
    view()->addSubview(hud_);
    hud_->setLabelText(std::string("正在提交"));
    hud_->show(true);
    Ref<VHProgressHUD> hud = hud_;
    Weak<LoginViewController> weak = selfAs<LoginViewController>();
    QVNUser::loginWithUserName(
        userName, password, [weak, hud](const Ref<NSError>& error, const Ref<QVNUser>&) {
            if (error) {
                hud->setLabelText(AccountForms::errorMessage(error));
                AccountForms::after(1.0, [hud] { hud->hide(true); });
                return;
            }
            hud->setLabelText(std::string("登录成功"));
            auto self = weak.lock();
            auto nameField = self ? self->userNameTextField.lock() : nullptr;
            QVNTAAnalyticsHelper::AccountStatisticsWithPUID(nameField ? std::optional(nameField->text())
                                                                      : std::nullopt);
            NSNotificationCenter::defaultCenter()->postNotificationName(kLoginSucceededNotification);
            AccountForms::after(1.5, [weak, hud] {
                if (auto screen = weak.lock()) screen->leave();
                hud->hide(true);
            });
        });
}

// ---- social sign-in -------------------------------------------------------------------------------

void LoginViewController::weiXinBtnAction(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    auto request = make<SendAuthReq>();
    request->setScope("snsapi_userinfo");
    request->setState("123");
    WXApi::sendReq(request);
    observe(kWxCode);
}

void LoginViewController::xinLangLoginAction(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    auto request = WBAuthorizeRequest::request();
    request->setRedirectURI(std::string(kWeiboRedirectURI));
    request->setScope(std::string("all"));
    Dictionary info = Dictionary::mutableDictionary();
    info.setObject("SSO_From", "SendMessageToWeiboViewController");
    info.setObject("Other_Info_1", 123);
    info.setObject("Other_Info_2", Array{Value("obj1"), Value("obj2")});
    info.setObject("Other_Info_3", Dictionary{{"key1", "obj1"}, {"key2", "obj2"}});
    request->setUserInfo(info);
    WeiboSDK::sendRequest(request);
    observe(kWbtoken);
}

void LoginViewController::observe(const std::string& keyPath) {
    bool& observing = keyPath == kWxCode ? observingWxCode_ : observingWbtoken_;
    if (observing) return;  // one registration, however often the button is tapped
    Ref<NSObject> delegate = applicationDelegate();
    if (!delegate) return;
    KVO::addObserver(*delegate, self(), keyPath, NSKeyValueObservingOptionNew);
    observed_ = delegate;
    observing = true;
}

void LoginViewController::stopObserving(const std::string& keyPath) {
    bool& observing = keyPath == kWxCode ? observingWxCode_ : observingWbtoken_;
    if (!observing) return;
    observing = false;
    if (auto delegate = observed_.lock()) KVO::removeObserver(*delegate, this, keyPath);
}

void LoginViewController::stopObservingAll() {
    stopObserving(kWxCode);
    stopObserving(kWbtoken);
}

std::string LoginViewController::convertNull(const Value& value) {
    if (value.isNull()) return " ";
    if (value.isNil()) return "无";
    return value.stringValue();
}

void LoginViewController::observeValueForKeyPath(const std::string& keyPath, const Ref<NSObject>&,
                                                 const Dictionary& change, void*) {
    for (const char* key : {kWbtoken, kWxCode}) {
        if (keyPath != key) continue;
        Value value = change[NSKeyValueChangeNewKey];
        stopObserving(key);
        if (convertNull(value) == " ") return;
        long tag = keyPath == kWbtoken ? kWeiboButtonTag : kWeChatButtonTag;
        if (auto button = keyPath == kWbtoken ? xinLangLogin.lock() : weiXinLogin.lock()) tag = button->tag();
        loginWithToken(value.stringValue(), std::to_string(tag));
    }
}

void LoginViewController::loginWithToken(const std::string& token, const std::string& btnTag) {
    Weak<LoginViewController> weak = selfAs<LoginViewController>();
    QVNUser::loginWithToken(token, btnTag, [weak](const Ref<NSError>& error, const Ref<QVNUser>&) {
        auto self = weak.lock();
        if (error) {
            // Nobody was signed in: the screen stays for another try and says why.
            if (self) {
                AccountForms::flash(AccountForms::makeTextHUD(self->view()),
                                    AccountForms::errorMessage(error), 1.0);
            }
            return;
        }
        NSNotificationCenter::defaultCenter()->postNotificationName(kLoginSucceededNotification);
        AccountForms::after(0.2, [weak] {
            if (auto screen = weak.lock()) screen->leave();
        });
    });
}

// ---- other screens --------------------------------------------------------------------------------

void LoginViewController::showSignUpView(const Ref<NSObject>&) {
    auto navigation = navigationController();
    auto screen = storyboard() ? storyboard()->instantiateViewControllerWithIdentifier("SignUpViewController")
                               : nullptr;
    if (navigation && screen) navigation->pushViewController(screen, true);
}

void LoginViewController::FindPassword(const Ref<NSObject>&) {
    auto navigation = navigationController();
    auto screen = std::dynamic_pointer_cast<FindPasswordViewController>(
        storyboard() ? storyboard()->instantiateViewControllerWithIdentifier("FindPasswordViewController")
                     : nullptr);
    if (!navigation || !screen) return;
    findPasswordVc_ = screen;
    navigation->pushViewController(screen, true);
}

void LoginViewController::fanhuiAction(const Ref<NSObject>&) {
    leave();
}
