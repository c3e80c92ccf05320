// The login screen: password sign-in with its HUD texts and timings, the refusals, the social
// buttons, the WeChat sign-in through the stand-in app and the application delegate, and the two
// ways of leaving.

#include <gtest/gtest.h>

#include "account/FindPasswordViewController.h"
#include "account/LoginViewController.h"
#include "account/SignUpViewController.h"
#include "app/AppDelegate.h"
#include "foundation/NSKeyValueObserving.h"
#include "sdk/wechat/WXApi.h"
#include "sdk/wechat/WeChatTesting.h"
#include "sdk/wechat/testing/WeChatAppStandIn.h"
#include "sdk/weibo/bridge/WBRequests.h"
#include "sdk/weibo/bridge/WeiboSDK.h"
#include "sdk/weibo/bridge/WeiboTesting.h"
#include "sdk/weibo/bridge/testing/WeiboAppStandIn.h"
#include "system/SystemOtherApps.h"
#include "tests/account/AccountTestSupport.h"

using namespace accounttest;

namespace {

class LoginViewControllerTest : public ScreenTest {
  protected:
    void TearDown() override {
        if (wechat) wechat->uninstall();
        wechat_testing::resetSDK();
        ScreenTest::TearDown();
    }
    Ref<LoginViewController> open() { return push<LoginViewController>("LoginViewController"); }
    void fill(const Ref<LoginViewController>& login, const std::string& name, const std::string& password) {
        type(login->userNameTextField, name);
        type(login->passwordTextField, password);
        login->view()->endEditing(true);
    }
    // The application delegate the social sign-in observes, with WeChat registered and installed.
    Ref<AppDelegate> installWeChat() {
        delegate = make<AppDelegate>();
        application->setDelegate(delegate);
        WXApi::registerApp(AppDelegate::kWeChatAppID);
        wechat = WeChatAppStandIn::install();
        return delegate;
    }

    Ref<AppDelegate> delegate;
    Ref<WeChatAppStandIn> wechat;
};

}  // namespace

TEST_F(LoginViewControllerTest, EmptyFieldsAreRefusedWithAnAlertAndNothingIsSent) {
    auto login = open();
    for (const auto& [name, password] :
         std::vector<std::pair<std::string, std::string>>{{"", ""}, {"13800000001", ""}, {"", "123456"}}) {
        UIAlertTestDriver::reset();
        fill(login, name, password);
        login->login(nullptr);
        EXPECT_EQ(alertTitle(), "用户名或密码不能为空") << name << "/" << password;
        EXPECT_FALSE(alertMessage());
        EXPECT_EQ(UIAlertTestDriver::frontmostAlert()->buttonTitles, std::vector<std::string>{"确定"});
    }
    EXPECT_EQ(requestsTo("user/login.do"), 0u);
}

TEST_F(LoginViewControllerTest, ARefusedSignInShowsTheCallsTextForOneSecondAndStays) {
    auto login = open();
    fill(login, "   ", "nope");  // blanks pass: only the length is tested
    login->login(nullptr);
    EXPECT_EQ(login->hud()->labelText(), "正在提交");
    ASSERT_TRUE(waitUntil([&] { return login->hud()->labelText() == std::string("用户名或密码错误"); }));
    auto sent = server.requestsTo("user/login.do");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].queryParam("username"), "   ");
    EXPECT_TRUE(hudShowing(login->hud()));
    clock.advance(0.9);
    EXPECT_TRUE(hudShowing(login->hud()));
    clock.advance(0.5);
    EXPECT_FALSE(hudShowing(login->hud()));
    EXPECT_EQ(navigation->topViewController(), login);
    EXPECT_FALSE(QVNUserManager::shareObject()->hasCurrentUser());
    EXPECT_EQ(posted["LogoutSuccess"], 0);
    EXPECT_EQ(login->userNameTextField.lock()->text(), "   ");
}

TEST_F(LoginViewControllerTest, ASignInStoresTheUserPostsOnceAndClosesAfterOneAndAHalfSeconds) {
    auto login = open();
    fill(login, "13800000001", "123456");
    UITestDriver::tap(login->view()->subviews().at(4));  // the sign-in button
    ASSERT_TRUE(waitUntil([&] { return login->hud()->labelText() == std::string("登录成功"); }));
    EXPECT_TRUE(QVNUserManager::shareObject()->hasCurrentUser());
    EXPECT_EQ(posted["LogoutSuccess"], 1);
    EXPECT_EQ(navigation->topViewController(), login);
    clock.advance(1.3);
    EXPECT_EQ(navigation->topViewController(), login);
    EXPECT_TRUE(hudShowing(login->hud()));
    clock.advance(0.8);
    EXPECT_EQ(navigation->topViewController(), root);
    EXPECT_EQ(posted["LogoutSuccess"], 1);
}

TEST_F(LoginViewControllerTest, WithoutWeChatNeitherSocialButtonShows) {
    auto login = open();
    EXPECT_EQ(login->xinLangLogin.lock()->tag(), LoginViewController::kWeiboButtonTag);
    EXPECT_EQ(login->weiXinLogin.lock()->tag(), LoginViewController::kWeChatButtonTag);
    EXPECT_TRUE(login->xinLangLogin.lock()->isHidden());
    EXPECT_TRUE(login->weiXinLogin.lock()->isHidden());
    EXPECT_EQ(login->xinLangCenterXConstraint.lock()->constant(), 0);
    EXPECT_EQ(login->preferredStatusBarStyle(), UIStatusBarStyleLightContent);
    EXPECT_EQ(login->supportedInterfaceOrientations(), UIInterfaceOrientationMaskPortrait);
    EXPECT_FALSE(login->shouldAutorotate());
}

TEST_F(LoginViewControllerTest, AWeChatCodeSignsInByTokenAndClosesAfterAFifthOfASecond) {
    installWeChat();
    auto login = open();
    ASSERT_FALSE(login->weiXinLogin.lock()->isHidden());
    EXPECT_TRUE(login->xinLangLogin.lock()->isHidden());
    EXPECT_NE(login->xinLangCenterXConstraint.lock()->constant(), 0);

    // Tapped twice: one request each, one observation.
    UITestDriver::tap(login->weiXinLogin.lock());
    UITestDriver::tap(login->weiXinLogin.lock());
    EXPECT_TRUE(login->isObservingKeyPath("wxCode"));
    ASSERT_TRUE(waitUntil([&] { return wechat->receivedCount() == 2; }));
    auto request = std::dynamic_pointer_cast<SendAuthReq>(wechat->received().front().request);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->scope(), "snsapi_userinfo");
    EXPECT_EQ(request->state(), "123");

    // WeChat answers through the app's URL entry.
    auto url = NSURL::URLWithString(std::string(AppDelegate::kWeChatAppID) + "://oauth?code=c0de&state=123");
    delegate->applicationOpenURL(*application, url, std::string("device.wechat"), Value());
    EXPECT_FALSE(login->isObservingKeyPath("wxCode"));
    ASSERT_TRUE(waitUntil([&] { return QVNUserManager::shareObject()->hasCurrentUser(); }));
    auto sent = server.requestsTo("user/loginbywechat.do");
    ASSERT_EQ(sent.size(), 1u);  // one registration, one sign-in
    EXPECT_EQ(sent[0].formParam("code"), "c0de");
    EXPECT_EQ(posted["LogoutSuccess"], 1);
    clock.advance(0.1);
    EXPECT_EQ(navigation->topViewController(), login);
    clock.advance(0.6);
    EXPECT_EQ(navigation->topViewController(), root);
}

TEST_F(LoginViewControllerTest, ARefusedSocialSignInSaysWhyAndKeepsTheScreen) {
    installWeChat();
    auto login = open();
    login->weiXinBtnAction(nullptr);
    delegate->setWxCode(std::string("invalid-code"));
    ASSERT_TRUE(waitUntil([&] { return hudText(login->view()) == std::string("用户名或密码错误"); }));
    clock.advance(1.0);
    EXPECT_EQ(navigation->topViewController(), login);
    EXPECT_EQ(posted["LogoutSuccess"], 0);
    EXPECT_FALSE(QVNUserManager::shareObject()->hasCurrentUser());
}

TEST_F(LoginViewControllerTest, ANullCodeOrABlankEndsTheObservationAndSignsNobodyIn) {
    installWeChat();
    auto login = open();
    for (const std::optional<std::string>& code :
         {std::optional<std::string>(), std::optional<std::string>(" ")}) {
        login->weiXinBtnAction(nullptr);
        EXPECT_TRUE(login->isObservingKeyPath("wxCode"));
        delegate->setWxCode(code);
        EXPECT_FALSE(login->isObservingKeyPath("wxCode"));
    }
    settle(0.5);
    EXPECT_EQ(requestsTo("user/loginbywechat.do"), 0u);
    EXPECT_EQ(LoginViewController::convertNull(Value::null()), " ");
    EXPECT_EQ(LoginViewController::convertNull(Value()), "无");
    EXPECT_EQ(LoginViewController::convertNull(Value("t")), "t");
}

TEST_F(LoginViewControllerTest, AScreenThatGoesAwayStopsObservingTheDelegate) {
    installWeChat();
    Weak<LoginViewController> weak;
    {
        auto login = open();
        weak = login;
        login->weiXinBtnAction(nullptr);
        ASSERT_TRUE(KVO::hasObservers(*delegate, "wxCode"));
        navigation->popViewControllerAnimated(false);
        settle();
        EXPECT_FALSE(KVO::hasObservers(*delegate, "wxCode"));
    }
    settle();
    delegate->setWxCode(std::string("late"));
    settle(0.5);
    EXPECT_EQ(requestsTo("user/loginbywechat.do"), 0u);
}

TEST_F(LoginViewControllerTest, BackPopsOrDismissesAndTheOtherButtonsPushTheirScenes) {
    auto login = open();
    login->showSignUpView(nullptr);
    settle(0.6);
    EXPECT_TRUE(std::dynamic_pointer_cast<SignUpViewController>(navigation->topViewController()));
    navigation->popViewControllerAnimated(false);
    settle();
    login->FindPassword(nullptr);
    settle(0.6);
    EXPECT_EQ(navigation->topViewController(), login->findPasswordVc());
    ASSERT_TRUE(login->findPasswordVc());
    navigation->popViewControllerAnimated(false);
    settle();
    UITestDriver::swipe(login->view(), UISwipeGestureRecognizerDirectionRight);
    settle(0.6);
    EXPECT_EQ(navigation->topViewController(), root);

    // Presented without a navigation controller: back dismisses.
    auto modal = std::dynamic_pointer_cast<LoginViewController>(
        UIStoryboard::storyboardWithName("MyUser", nullptr)
            ->instantiateViewControllerWithIdentifier("LoginViewController"));
    navigation->presentViewController(modal, false);
    settle();
    ASSERT_EQ(navigation->presentedViewController(), modal);
    modal->fanhuiAction(nullptr);
    settle(0.7);
    EXPECT_FALSE(navigation->presentedViewController());
}

TEST_F(LoginViewControllerTest, TheHiddenWeiboPathAuthorisesAndSignsInByTheToken) {
    auto delegate = installWeChat();  // the application delegate the screen observes
    WeiboSDK::registerApp(AppDelegate::kWeiboAppKey);
    auto weibo = WeiboAppStandIn::install();
    auto login = open();
    login->xinLangLoginAction(nullptr);
    login->xinLangLoginAction(nullptr);
    EXPECT_TRUE(login->isObservingKeyPath("wbtoken"));
    ASSERT_TRUE(waitUntil([&] { return weibo->receivedCount() >= 1; }));
    auto request = std::dynamic_pointer_cast<WBAuthorizeRequest>(weibo->received().front().request);
    ASSERT_TRUE(request);
    ASSERT_TRUE(request->redirectURI());
    EXPECT_NE(request->redirectURI()->find("/oauth2/default.html"), std::string::npos);
    EXPECT_EQ(request->scope(), "all");
    EXPECT_EQ(request->userInfo()["SSO_From"].stringValue(), "SendMessageToWeiboViewController");
    EXPECT_EQ(request->userInfo()["Other_Info_1"].integerValue(), 123);

    delegate->setWbtoken(std::string("weibo-token"));
    EXPECT_FALSE(login->isObservingKeyPath("wbtoken"));
    ASSERT_TRUE(waitUntil([&] { return QVNUserManager::shareObject()->hasCurrentUser(); }));
    auto sent = server.requestsTo("user/loginbyweibo.do");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].formParam("access_token"), "weibo-token");
    EXPECT_EQ(posted["LogoutSuccess"], 1);
    weibo->uninstall();
    weibo_testing::resetSDK();
}
