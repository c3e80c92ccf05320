// One user's whole road through the account screens, each step through its screen and checked on
// the stand-in server: sign up with an SMS code, land signed in at the root, open the "my" page and
// the own profile, edit the nickname and the avatar, change the password, sign out, sign in again
// with the new password, and send feedback.

#include <gtest/gtest.h>

#include "account/ChangePasswordViewController.h"
#include "account/EditUserInfoViewController.h"
#include "account/FeedbackViewController.h"
#include "account/LoginViewController.h"
#include "account/SignUpViewController.h"
#include "account/UserInfoViewController.h"
#include "account/UserViewController.h"
#include "tests/account/AccountTestSupport.h"
#include "uikit/UIImagePickerController.h"

using namespace accounttest;

namespace {

class AccountJourneyTest : public ScreenTest {
  protected:
    void TearDown() override {
        UIImagePickerTestDriver::reset();
        ScreenTest::TearDown();
    }
    template <class T>
    Ref<T> top() {
        settle(0.6);
        return std::dynamic_pointer_cast<T>(navigation->topViewController());
    }
};

Ref<UIImage> redSquare() {
    return testsupport::solidImage(CGSizeMake(32, 32), 1, 0, 0);
}

}  // namespace

TEST_F(AccountJourneyTest, SignUpEditChangePasswordSignOutAndBackIn) {
    const std::string phone = "13933334444";
    auto login = push<LoginViewController>("LoginViewController");
    login->showSignUpView(nullptr);
    auto signUp = top<SignUpViewController>();
    ASSERT_TRUE(signUp);
    type(signUp->phoneTextField, phone);
    UITestDriver::tap(signUp->identifyCodeBtn.lock());
    ASSERT_TRUE(waitUntil([&] { return server.verificationCode(phone).has_value(); }));
    type(signUp->codeTextField, *server.verificationCode(phone));
    type(signUp->nickNameTextField, "旅程");
    type(signUp->passwordTextField, "first123");
    type(signUp->conformTextField, "first123");
    signUp->signup(nullptr);
    ASSERT_TRUE(waitUntil([&] { return QVNUserManager::shareObject()->hasCurrentUser(); }));
    clock.advance(1.2);
    ASSERT_EQ(navigation->topViewController(), root);
    long uid = server.userNamed(phone)->user_id;

    // The "my" page, then the own profile and its editing.
    auto page = push<UserViewController>("UserViewController");
    EXPECT_EQ(page->userNameLabel.lock()->text(), "旅程");
    page->showUserInfo(nullptr);
    auto profile = top<UserInfoViewController>();
    ASSERT_TRUE(profile);
    profile->editButtonTapped(nullptr);
    auto edit = top<EditUserInfoViewController>();
    ASSERT_TRUE(edit);
    edit->upLoadPhoto(nullptr);
    settle(0.6);
    UIImagePickerTestDriver::pickImage(UIImagePickerTestDriver::visiblePicker(), redSquare());
    ASSERT_TRUE(waitUntil([&] { return edit->userUpdatedImage() != nullptr; }));
    settle(0.6);
    type(edit->nameField, "旅程改名");
    edit->submit(nullptr);
    UIAlertTestDriver::tapAlertButton("确定");
    ASSERT_TRUE(waitUntil([&] { return edit->hud()->labelText() == std::string("更新成功"); }));
    clock.advance(0.7);
    ASSERT_EQ(navigation->topViewController(), profile);
    EXPECT_EQ(server.user(uid)->user_nickname, "旅程改名");
    auto avatar = server.user(uid)->user_logo;
    EXPECT_NE(avatar.find("/pictures/p"), std::string::npos);
    // Back on the profile: the stored user, edited.
    profile->viewWillAppear(false);
    EXPECT_EQ(profile->nameLabel.lock()->text(), "旅程改名");

    // The password change, from the editing screen.
    profile->editButtonTapped(nullptr);
    edit = top<EditUserInfoViewController>();
    edit->changeMimaAction(nullptr);
    auto change = top<ChangePasswordViewController>();
    ASSERT_TRUE(change);
    type(change->oldPassword, "first123");
    type(change->NewPassword, "second45");
    type(change->TureNewPassword, "second45");
    change->submitAction(nullptr);
    ASSERT_TRUE(waitUntil([&] { return change->attemptHUD()->labelText() == std::string("密码已重置"); }));
    EXPECT_EQ(server.user(uid)->password, "second45");
    clock.advance(1.2);
    navigation->popToViewController(profile, false);
    settle();

    // Sign out, then in again with the new password; the old one is refused.
    profile->viewWillAppear(false);
    profile->logOutButtonTapped(nullptr);
    EXPECT_FALSE(QVNUserManager::shareObject()->hasCurrentUser());
    settle(0.6);
    ASSERT_EQ(navigation->topViewController(), root);
    login = push<LoginViewController>("LoginViewController");
    type(login->userNameTextField, phone);
    type(login->passwordTextField, "first123");
    login->login(nullptr);
    ASSERT_TRUE(waitUntil([&] { return login->hud()->labelText() == std::string("用户名或密码错误"); }));
    clock.advance(1.5);
    type(login->passwordTextField, "second45");
    login->login(nullptr);
    ASSERT_TRUE(waitUntil([&] { return QVNUserManager::shareObject()->hasCurrentUser(); }));
    EXPECT_EQ(QVNUserManager::shareObject()->currentUser()->user_nickname, "旅程改名");
    EXPECT_EQ(QVNUserManager::shareObject()->currentUser()->user_logo, avatar);
    clock.advance(1.6);
    ASSERT_EQ(navigation->topViewController(), root);

    // Feedback, kept by the server under this user.
    auto feedback = push<FeedbackViewController>("FeedbackViewController");
    feedback->FeedbackTextView.lock()->setText(std::string("好用"));
    feedback->SubmitBtnAction(nullptr);
    ASSERT_TRUE(waitUntil([&] { return server.feedback().size() == 1; }));
    EXPECT_EQ(server.feedback()[0].uid, uid);
}
