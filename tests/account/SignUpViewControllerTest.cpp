// Sign-up: the code request with its countdown on the manual clock, every refusal with its own
// message and nothing sent, the server's refusals, and a whole sign-up that lands signed in at the
// root with the account on the server.

#include <gtest/gtest.h>

#include <cstdio>

#include "account/SignUpViewController.h"
#include "tests/account/AccountTestSupport.h"

using namespace accounttest;

namespace {

class SignUpViewControllerTest : public ScreenTest {
  protected:
    Ref<SignUpViewController> open() { return push<SignUpViewController>("SignUpViewController"); }
    void fill(const Ref<SignUpViewController>& screen, const std::string& phone, const std::string& code,
              const std::string& nickname, const std::string& password, const std::string& confirmation) {
        type(screen->phoneTextField, phone);
        type(screen->codeTextField, code);
        type(screen->nickNameTextField, nickname);
        type(screen->passwordTextField, password);
        type(screen->conformTextField, confirmation);
        screen->view()->endEditing(true);
    }
    std::string codeTitle(const Ref<SignUpViewController>& screen) {
        return screen->identifyCodeBtn.lock()->titleForState(UIControlStateNormal).value_or("");
    }
    // One second at a time, waiting for each tick's title: a timer source whose handler is still
    // queued when it fires again runs it once, as on the platform.
    bool countTo(const Ref<SignUpViewController>& screen, int seconds) {
        for (int left = 58; left >= seconds; --left) {
            clock.advance(1.0);
            char expected[16];
            std::snprintf(expected, sizeof expected, "%02d秒", left);
            if (!waitUntil([&] { return codeTitle(screen) == expected; })) return false;
        }
        return true;
    }
    // Taps the code button and waits for the server's code.
    std::string requestCode(const Ref<SignUpViewController>& screen, const std::string& phone) {
        type(screen->phoneTextField, phone);
        UITestDriver::tap(screen->identifyCodeBtn.lock());
        EXPECT_TRUE(waitUntil([&] { return codeTitle(screen) == "59秒"; }));
        return server.verificationCode(phone).value_or("");
    }
};

}  // namespace

TEST_F(SignUpViewControllerTest, AWholeSignUpLandsSignedInAtTheRoot) {
    auto screen = open();
    std::string code = requestCode(screen, "13955556666");
    ASSERT_EQ(code.size(), 6u);
    fill(screen, "13955556666", code, "新车手", "secret88", "secret88");
    screen->signup(nullptr);
    EXPECT_EQ(screen->attemptHUD()->labelText(), "正在提交");
    ASSERT_TRUE(waitUntil([&] { return QVNUserManager::shareObject()->hasCurrentUser(); }));
    auto account = server.userNamed("13955556666");
    ASSERT_TRUE(account);
    EXPECT_EQ(account->user_nickname, "新车手");
    EXPECT_EQ(account->password, "secret88");
    EXPECT_EQ(QVNUserManager::shareObject()->currentUser()->user_nickname, "新车手");
    auto sent = server.requestsTo("user/register.do");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].formParam("code"), code);
    EXPECT_EQ(navigation->topViewController(), screen);
    clock.advance(1.2);
    EXPECT_EQ(navigation->topViewController(), root);
    // Signing up posts nothing.
    EXPECT_EQ(posted["LogoutSuccess"], 0);
}

TEST_F(SignUpViewControllerTest, TheCodeButtonCountsDownFiftyNineSecondsOnTheClock) {
    auto screen = open();
    requestCode(screen, "13955550000");
    auto button = screen->identifyCodeBtn.lock();
    EXPECT_FALSE(button->isUserInteractionEnabled());
    ASSERT_TRUE(countTo(screen, 1));
    EXPECT_FALSE(button->isUserInteractionEnabled());
    clock.advance(1.0);
    ASSERT_TRUE(waitUntil([&] { return codeTitle(screen) == "重新获取"; }));
    EXPECT_TRUE(button->isUserInteractionEnabled());
    EXPECT_FALSE(screen->countdown().isRunning());
}

TEST_F(SignUpViewControllerTest, ASecondCodeRestartsTheOneCountdownAndAGoneScreenStopsIt) {
    auto screen = open();
    requestCode(screen, "13955550001");
    ASSERT_TRUE(countTo(screen, 49));
    screen->starTime(nullptr);
    ASSERT_TRUE(waitUntil([&] { return codeTitle(screen) == "59秒"; }));
    EXPECT_EQ(requestsTo("user/getverifycode.do"), 2u);
    ASSERT_TRUE(countTo(screen, 54));

    Weak<SignUpViewController> weak = screen;
    auto button = screen->identifyCodeBtn.lock();
    navigation->popViewControllerAnimated(false);
    screen.reset();
    settle();
    EXPECT_FALSE(weak.lock());  // the timer does not keep the screen
    clock.advance(3.0);
    testsupport::pumpMainRunLoop(0.05);
    EXPECT_EQ(button->titleForState(UIControlStateNormal), "54秒");
}

TEST_F(SignUpViewControllerTest, TheCodeRequestChecksThePhoneFirst) {
    auto screen = open();
    screen->starTime(nullptr);
    EXPECT_EQ(hudText(screen->view()), "请输手机号码");
    for (const char* phone : {"1395555000", "1395555000a", "1395555 000"}) {
        UIAlertTestDriver::reset();
        type(screen->phoneTextField, phone);
        screen->starTime(nullptr);
        EXPECT_FALSE(alertTitle()) << phone;
        EXPECT_EQ(alertMessage(), "手机号码格式错误") << phone;
    }
    EXPECT_EQ(requestsTo("user/getverifycode.do"), 0u);

    // The service failing: its own text, and no countdown.
    server.setVerificationServiceFailing(true);
    type(screen->phoneTextField, "13955550002");
    screen->starTime(nullptr);
    ASSERT_TRUE(waitUntil([&] { return hudText(screen->view()) == std::string("验证码平台错误"); }));
    EXPECT_FALSE(screen->countdown().isRunning());
}

TEST_F(SignUpViewControllerTest, EveryWrongInputShowsItsOwnMessageAndSendsNothing) {
    auto screen = open();
    struct Case {
        const char *phone, *code, *nickname, *password, *confirmation, *shown;
    };
    const Case cases[] = {
        {"", "123456", "名", "abcdef", "abcdef", "请输手机号码"},
        {"13955550003", "", "名", "abcdef", "abcdef", "请输入验证码"},
        {"13955550003", "123456", "", "abcdef", "abcdef", "请输入昵称"},
        {"13955550003", "123456", "名", "abcde", "abcde", AccountForms::kPasswordHint},
        {"13955550003", "123456", "名", "abcdefghijklmnopq", "abcdefghijklmnopq",
         AccountForms::kPasswordHint},
        {"13955550003", "123456", "名", "abcdef", "", "请输入确认密码"},
        {"13955550003", "123456", "名", "abcdef", "abc", "请输入确认密码"},
        {"13955550003", "123456", "名", "abcdef", "abcdeg", "两个密码不匹配，请重新输入"},
    };
    for (const Case& c : cases) {
        fill(screen, c.phone, c.code, c.nickname, c.password, c.confirmation);
        screen->signup(nullptr);
        EXPECT_EQ(hudText(screen->view()), std::string(c.shown)) << c.shown;
        clock.advance(1.5);
        EXPECT_FALSE(hudText(screen->view())) << c.shown;
    }
    EXPECT_EQ(requestsTo("user/register.do"), 0u);
}

TEST_F(SignUpViewControllerTest, TheServersRefusalsReadAsTheirOwnTexts) {
    auto screen = open();
    struct Case {
        std::string phone, code, shown;
    };
    std::string issued = requestCode(screen, "13955550004");
    server.expireVerificationCodes();
    const std::vector<Case> cases = {
        {"13800000001", std::to_string(devserver::kVerificationCode), "用户已存在"},
        {"13955550004", "135791", "验证码错误"},
        {"13955550004", issued, "验证码错误"},  // expired
    };
    for (const Case& c : cases) {
        fill(screen, c.phone, c.code, "另一个名字", "abcdef", "abcdef");
        screen->signup(nullptr);
        ASSERT_TRUE(waitUntil([&] { return screen->attemptHUD()->labelText() == c.shown; })) << c.shown;
        clock.advance(1.5);
        EXPECT_FALSE(hudShowing(screen->attemptHUD()));
    }
    server.setVerificationServiceFailing(true);
    fill(screen, "13955550004", "135791", "另一个名字", "abcdef", "abcdef");
    screen->signup(nullptr);
    ASSERT_TRUE(
        waitUntil([&] { return screen->attemptHUD()->labelText() == std::string("验证码平台错误"); }));
    EXPECT_FALSE(QVNUserManager::shareObject()->hasCurrentUser());
    EXPECT_EQ(navigation->topViewController(), screen);
}

TEST_F(SignUpViewControllerTest, TheCodeIsSentAsANumberAndTheCharacterWatchOnlyWarns) {
    auto screen = open();
    type(screen->passwordTextField, "abc!");
    EXPECT_TRUE(hudShowing(screen->hud()));
    EXPECT_EQ(screen->hud()->labelText(), AccountForms::kPasswordHint);
    clock.advance(1.5);
    EXPECT_FALSE(hudShowing(screen->hud()));
    fill(screen, "13955550005", "0123", "感叹号", "abcdef!", "abcdef!");
    screen->signup(nullptr);
    ASSERT_TRUE(waitUntil([&] { return requestsTo("user/register.do") == 1u; }));
    EXPECT_EQ(server.requestsTo("user/register.do")[0].formParam("code"), "123");
}
