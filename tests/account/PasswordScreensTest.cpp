// Password recovery, phone binding and password change: their checks, the server's answers and
// what each leaves behind on the server and in the user store.

#include <gtest/gtest.h>

#include "account/AccountArtwork.h"
#include "account/ChangePasswordViewController.h"
#include "account/FindPasswordViewController.h"
#include "account/VerifyPhoneViewController.h"
#include "tests/account/AccountTestSupport.h"

using namespace accounttest;

namespace {

class PasswordScreensTest : public ScreenTest {};

std::string titleOf(const Weak<UIButton>& button) {
    return button.lock()->titleForState(UIControlStateNormal).value_or("");
}

}  // namespace

TEST_F(PasswordScreensTest, RecoveryResetsThePasswordBySMSAndSignsIn) {
    auto screen = push<FindPasswordViewController>("FindPasswordViewController");
    type(screen->phonenumberTextField, "13800000002");
    screen->starTime(nullptr);
    ASSERT_TRUE(waitUntil([&] { return titleOf(screen->identifyCodeBtn) == "59秒"; }));
    std::string code = server.verificationCode("13800000002").value_or("");
    ASSERT_FALSE(code.empty());

    // A wrong code first: the screen stays with everything as typed.
    type(screen->identifyCodeTextField, "111111");
    type(screen->PasswordTextfield, "fresh1");
    type(screen->turePasswordTextField, "fresh1");
    screen->findPasswordBtnAction(nullptr);
    ASSERT_TRUE(waitUntil([&] { return hudText(screen->view()) == std::string("验证码错误"); }));
    EXPECT_EQ(screen->identifyCodeTextField.lock()->text(), "111111");
    EXPECT_EQ(server.user(2)->password, "abcdef");

    type(screen->identifyCodeTextField, code);
    screen->findPasswordBtnAction(nullptr);
    ASSERT_TRUE(waitUntil([&] { return QVNUserManager::shareObject()->hasCurrentUser(); }));
    EXPECT_EQ(server.user(2)->password, "fresh1");
    EXPECT_EQ(QVNUserManager::shareObject()->currentUser()->user_id->integerValue(), 2);
    clock.advance(1.2);
    EXPECT_EQ(navigation->topViewController(), root);
}

TEST_F(PasswordScreensTest, RecoveryChecksItsFieldsInOrder) {
    auto screen = push<FindPasswordViewController>("FindPasswordViewController");
    struct Case {
        const char *phone, *code, *password, *confirmation, *shown;
    };
    const Case cases[] = {{"", "1", "abcdef", "abcdef", "请输手机号码"},
                          {"13800000002", "", "abcdef", "abcdef", "请输入验证码"},
                          {"13800000002", "1", "abc", "abc", AccountForms::kPasswordHint},
                          {"13800000002", "1", "abcdef", "", "请输入确认密码"},
                          {"13800000002", "1", "abcdef", "abcdeg", "两个密码不匹配，请重新输入"}};
    for (const Case& c : cases) {
        type(screen->phonenumberTextField, c.phone);
        type(screen->identifyCodeTextField, c.code);
        type(screen->PasswordTextfield, c.password);
        type(screen->turePasswordTextField, c.confirmation);
        screen->findPasswordBtnAction(nullptr);
        EXPECT_EQ(hudText(screen->view()), std::string(c.shown));
        clock.advance(1.5);
    }
    EXPECT_EQ(requestsTo("user/findpassword.do"), 0u);
    // An unknown phone: the server answers 10003, which reads as the sign-in alert.
    type(screen->phonenumberTextField, "13999990000");
    type(screen->identifyCodeTextField, std::to_string(devserver::kVerificationCode));
    type(screen->PasswordTextfield, "abcdef");
    type(screen->turePasswordTextField, "abcdef");
    screen->findPasswordBtnAction(nullptr);
    ASSERT_TRUE(waitUntil([&] { return alertTitle() == std::string("帐号失效请重新登录"); }));
}

TEST_F(PasswordScreensTest, BindingKeepsItsButtonsDisabledUntilThePhoneIsEdited) {
    signIn();
    auto screen = push<VerifyPhoneViewController>("VerifyPhoneViewController");
    EXPECT_EQ(screen->phoneNumber.lock()->text(), "13800000001");
    EXPECT_EQ(screen->phoneNumber.lock()->keyboardType(), UIKeyboardTypeNumberPad);
    EXPECT_EQ(screen->verifyNumber.lock()->keyboardType(), UIKeyboardTypeNumberPad);
    EXPECT_FALSE(screen->verityBtn.lock()->isEnabled());
    EXPECT_FALSE(screen->summitBtn.lock()->isEnabled());

    UITextEntryDriver::typeText(screen->phoneNumber.lock(), "9");
    EXPECT_TRUE(screen->verityBtn.lock()->isEnabled());
    EXPECT_TRUE(screen->summitBtn.lock()->isEnabled());
    EXPECT_TRUE(screen->verityBtn.lock()
                    ->titleColorForState(UIControlStateNormal)
                    ->isEqual(*UIColor::colorWithRed(11 / 255.0, 11 / 255.0, 11 / 255.0, 1)));
    EXPECT_EQ(screen->summitBtn.lock()->imageForState(UIControlStateNormal),
              AccountArtwork::imageNamed("tijiaobigup"));

    screen->phoneNumber.lock()->setText(std::string());
    UITextEntryDriver::insertText(screen->phoneNumber.lock(), "");
    screen->phoneNumberChange(nullptr);
    EXPECT_FALSE(screen->verityBtn.lock()->isEnabled());
    EXPECT_FALSE(screen->summitBtn.lock()->isEnabled());
    EXPECT_TRUE(screen->verityBtn.lock()
                    ->titleColorForState(UIControlStateNormal)
                    ->isEqual(*UIColor::colorWithRed(201 / 255.0, 215 / 255.0, 203 / 255.0, 1)));
    EXPECT_EQ(screen->summitBtn.lock()->imageForState(UIControlStateNormal),
              AccountArtwork::imageNamed("tijiaobigdown"));
}

TEST_F(PasswordScreensTest, BindingAPhoneStoresTheUserAndLeavesAfterTwoSeconds) {
    signIn();
    auto screen = push<VerifyPhoneViewController>("VerifyPhoneViewController");
    type(screen->phoneNumber, "13700001111");
    screen->commitNumberBtn(nullptr);
    EXPECT_EQ(hudText(screen->view()), "请输入验证码");
    clock.advance(1.5);

    screen->starTime(nullptr);
    ASSERT_TRUE(waitUntil([&] { return server.verificationCode("13700001111").has_value(); }));
    // A phone another account holds.
    type(screen->phoneNumber, "13800000002");
    type(screen->verifyNumber, std::to_string(devserver::kVerificationCode));
    screen->commitNumberBtn(nullptr);
    ASSERT_TRUE(waitUntil([&] { return screen->hud()->labelText() == std::string("该手机号码已被绑定"); }));
    clock.advance(1.6);

    type(screen->phoneNumber, "13700001111");
    type(screen->verifyNumber, *server.verificationCode("13700001111"));
    screen->commitNumberBtn(nullptr);
    ASSERT_TRUE(waitUntil([&] { return screen->hud()->labelText() == std::string("验证成功"); }));
    EXPECT_EQ(QVNUserManager::shareObject()->currentUser()->user_phone, "13700001111");
    EXPECT_EQ(server.user(1)->user_phone, "13700001111");
    clock.advance(1.5);
    EXPECT_EQ(navigation->topViewController(), screen);
    clock.advance(1.0);
    EXPECT_EQ(navigation->topViewController(), root);
}

TEST_F(PasswordScreensTest, AChangeIsGatedByTheLastEditedFieldsCharacters) {
    signIn();
    auto screen = push<ChangePasswordViewController>("ChangePasswordViewController");
    screen->submitAction(nullptr);
    EXPECT_EQ(hudText(screen->view()), AccountForms::kPasswordHint);  // nothing edited yet
    clock.advance(1.5);

    type(screen->NewPassword, "newpass1");
    type(screen->TureNewPassword, "newpass1");
    type(screen->oldPassword, "12345!");
    EXPECT_FALSE(screen->isEdit());
    screen->submitAction(nullptr);
    EXPECT_EQ(hudText(screen->view()), AccountForms::kPasswordHint);
    clock.advance(1.5);
    EXPECT_EQ(requestsTo("user/updatepassword.do"), 0u);

    // A wrong old password.
    type(screen->oldPassword, "654321");
    ASSERT_TRUE(screen->isEdit());
    screen->submitAction(nullptr);
    ASSERT_TRUE(waitUntil([&] { return screen->attemptHUD()->labelText() == std::string("密码错误"); }));
    clock.advance(1.5);

    type(screen->oldPassword, "123456");
    screen->submitAction(nullptr);
    ASSERT_TRUE(waitUntil([&] { return screen->attemptHUD()->labelText() == std::string("密码已重置"); }));
    EXPECT_EQ(server.user(1)->password, "newpass1");
    auto sent = server.requestsTo("user/updatepassword.do").back();
    EXPECT_EQ(sent.queryParam("new_password"), "newpass1");
    EXPECT_EQ(sent.queryParam("user_token"), QVNUserManager::shareObject()->currentUserToken());
    clock.advance(1.2);
    EXPECT_EQ(navigation->topViewController(), root);
}

TEST_F(PasswordScreensTest, AStaleTokenShowsTheSignInAlertAndKeepsTheUser) {
    signIn();
    server.expireTokens();
    auto screen = push<ChangePasswordViewController>("ChangePasswordViewController");
    type(screen->oldPassword, "123456");
    type(screen->NewPassword, "newpass1");
    type(screen->TureNewPassword, "newpass1");
    screen->submitAction(nullptr);
    ASSERT_TRUE(waitUntil([&] { return alertTitle() == std::string("帐号失效请重新登录"); }));
    EXPECT_TRUE(QVNUserManager::shareObject()->hasCurrentUser());
    clock.advance(1.2);
    EXPECT_EQ(navigation->topViewController(), screen);
}
