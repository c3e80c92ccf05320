#pragma once
// The login screen: sign-in by user name (the phone number used at sign-up) and password, through
// the WeChat app, or through the Weibo app (whose button the screen keeps hidden); from here the
// user reaches sign-up and password recovery. Screens that need a signed-in user push it from the
// storyboard "MyUser" ("LoginViewController"). A successful sign-in stores the user (the account
// call does), posts "LogoutSuccess" and closes the screen; nothing is handed back to the opener.
//
// Social sign-in: a tap sends the authorisation request and observes the application delegate's
// "wxCode" (or "wbtoken"); the value the social app hands back signs in by token. At most one
// observation per key path is held, and it ends when a value arrives, when the screen goes off
// screen and when it is destroyed. A refused social sign-in shows the error's text and keeps the
// screen open; only a successful one posts "LogoutSuccess" and closes it (after 0.2 s).
//
// Main thread only.

#include <optional>
#include <string>

#include "account/AccountScreen.h"
#include "app/QVNAccountScreens.h"
#include "controls/VHProgressHUD.h"
#include "foundation/NSKeyValueObserving.h"
#include "uikit/NSLayoutConstraint.h"
#include "uikit/UIButton.h"
#include "uikit/UILabel.h"
#include "uikit/UITextField.h"

class FindPasswordViewController;

class LoginViewController : public AccountScreen,
                            public NSKeyValueObserving,
                            public QVNAccountScreens::LoginHandOver {
  public:
    ~LoginViewController() override;
    std::string className() const override { return "LoginViewController"; }

    static constexpr long kWeiboButtonTag = 10001;
    static constexpr long kWeChatButtonTag = 10002;
    static constexpr char kLoginSucceededNotification[] = "LogoutSuccess";

    // Outlets.
    Weak<UITextField> userNameTextField;
    Weak<UITextField> passwordTextField;
    Weak<UIButton> xinLangLogin;
    Weak<UIButton> weiXinLogin;
    Weak<UILabel> kuaiSuDengLuLable;
    Weak<NSLayoutConstraint> xinLangCenterXConstraint;

    bool isFromRizUr() const { return isFromRizUr_; }
    void setIsFromRizUr(bool isFromRizUr) override { isFromRizUr_ = isFromRizUr; }
    const Ref<FindPasswordViewController>& findPasswordVc() const { return findPasswordVc_; }
    // The HUD of the last password sign-in.
    const Ref<VHProgressHUD>& hud() const { return hud_; }
    bool isObservingKeyPath(const std::string& keyPath) const;

    void viewDidLoad() override;
    void viewDidDisappear(bool animated) override;
    bool shouldAutorotate() const override { return false; }

    // ---- actions ------------------------------------------------------------------------------
    void login(const Ref<NSObject>& sender);
    void showSignUpView(const Ref<NSObject>& sender);
    void FindPassword(const Ref<NSObject>& sender);
    void fanhuiAction(const Ref<NSObject>& sender);
    void xinLangLoginAction(const Ref<NSObject>& sender);
    void weiXinBtnAction(const Ref<NSObject>& sender);

    void observeValueForKeyPath(const std::string& keyPath, const Ref<NSObject>& object,
                                const Dictionary& change, void* context) override;
    // " " for null, "无" for a missing value, the value's text otherwise.
    static std::string convertNull(const Value& value);
    void loginWithToken(const std::string& token, const std::string& btnTag);

  private:
    void observe(const std::string& keyPath);
    void stopObserving(const std::string& keyPath);
    void stopObservingAll();

    bool isFromRizUr_ = false;
    Ref<FindPasswordViewController> findPasswordVc_;
    Ref<VHProgressHUD> hud_;
    Weak<NSObject> observed_;  // the application delegate
    bool observingWxCode_ = false;
    bool observingWbtoken_ = false;
};
