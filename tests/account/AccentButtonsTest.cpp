// The account screens' white writing on the accent's fills reads, as a user meets it on the screen:
// the login and sign-up buttons, the code button while it counts down, the mail thread's send
// button and the user's own bubble, the search's add button and the profile's friend picture.
// Each is reached by taps and typing, and measured on the rendered screen.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "account/AddFriendViewController.h"
#include "account/LoginViewController.h"
#include "account/MailListlViewController.h"
#include "account/QVNAddFriendCell.h"
#include "account/QVNMailCell.h"
#include "account/SignUpViewController.h"
#include "account/UserInfoViewController.h"
#include "tests/account/AccountTestSupport.h"

using namespace accounttest;
using testsupport::buttonTitled;

namespace {

class AccentButtonsTest : public ScreenTest {
  protected:
    // What a row of the table shows: the view whose writing is read, in its own points (its bounds
    // when null).
    struct Shown {
        Ref<UIView> view;
        CGRect rect = CGRectNull;
    };
    struct Row {
        const char* what;
        std::function<Shown()> reach;
    };

    void expectReadable(const std::vector<Row>& rows) {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.what);
            Shown shown = row.reach();
            ASSERT_TRUE(shown.view);
            settle(0.5);
            EXPECT_TRUE(testsupport::readsWhite(shown.view, shown.rect));
        }
    }

    Ref<UIView> top() { return navigation->topViewController()->view(); }
};

}  // namespace

TEST_F(AccentButtonsTest, SignInAndSignUpButtonsRead) {
    push<LoginViewController>("LoginViewController");
    Ref<SignUpViewController> signUp;
    expectReadable({
        {"登录", [&] { return Shown{buttonTitled(top(), "登录")}; }},
        {"注册",
         [&] {
             UITestDriver::tap(buttonTitled(top(), "注册账号"));
             settle(0.6);
             signUp = std::dynamic_pointer_cast<SignUpViewController>(navigation->topViewController());
             EXPECT_TRUE(signUp);
             return signUp ? Shown{buttonTitled(signUp->view(), "注册")} : Shown{};
         }},
        {"59秒",
         [&] {
             type(signUp->phoneTextField, "13955550001");
             signUp->view()->endEditing(true);
             auto code = signUp->identifyCodeBtn.lock();
             UITestDriver::tap(code);
             EXPECT_TRUE(waitUntil([&] { return code->titleForState(UIControlStateNormal) == "59秒"; }));
             // The title's change is animated over a second: let it land.
             settle(1.0);
             return Shown{code};
         }},
    });
}

TEST_F(AccentButtonsTest, TheMailThreadsSendButtonAndOwnBubbleRead) {
    signIn();
    server.sendMail(1, 2, "我先说");
    auto thread = std::dynamic_pointer_cast<MailListlViewController>(
        UIStoryboard::storyboardWithName("MyUser", nullptr)
            ->instantiateViewControllerWithIdentifier("MailListlViewController"));
    thread->setFriendUid(NSNumber::numberWithInt(2));
    navigation->pushViewController(thread, false);
    // The other user's mail the stand-in keeps, then the user's own.
    ASSERT_TRUE(waitAdvancing([&] { return thread->mails().count() == 2; }));
    expectReadable({
        {"发送", [&] { return Shown{buttonTitled(thread->view(), "发送")}; }},
        {"own bubble",
         [&] {
             auto table = thread->tableView.lock();
             table->layoutIfNeeded();
             auto mine = std::dynamic_pointer_cast<QVNMailCell>(
                 table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(1, 0)));
             EXPECT_TRUE(mine && mine->reuseIdentifier() == std::string(QVNMailCell::kOwnIdentifier));
             if (!mine) return Shown{};
             auto text = mine->contentLabel.lock();
             return Shown{text, text->bounds()};
         }},
    });
}

TEST_F(AccentButtonsTest, TheSearchsAddButtonAndTheProfilesFriendPictureRead) {
    signIn();
    auto search = push<AddFriendViewController>("AddFriendViewcontroller");
    expectReadable({
        {"加好友",
         [&] {
             auto field = search->seachfiled.lock();
             UITextEntryDriver::typeText(field, "小");
             UITextEntryDriver::pressReturn(field);
             EXPECT_TRUE(waitAdvancing([&] { return search->friendsArr().count() == 1; }));
             settle();
             auto table = search->addFriendTableView.lock();
             table->layoutIfNeeded();
             auto row = std::dynamic_pointer_cast<QVNAddFriendCell>(
                 table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(0, 0)));
             return row ? Shown{row->addFriendBtn.lock()} : Shown{};
         }},
        {"加为好友",
         [&] {
             auto profile = std::dynamic_pointer_cast<UserInfoViewController>(
                 UIStoryboard::storyboardWithName("MyUser", nullptr)
                     ->instantiateViewControllerWithIdentifier("UserInfoViewController"));
             profile->setUid(NSNumber::numberWithLong(3));  // a stranger
             navigation->pushViewController(profile, false);
             settle();
             EXPECT_TRUE(waitUntil([&] { return profile->boolUser() != nullptr; }));
             settle();
             auto button = profile->changeButton.lock();
             button->layoutIfNeeded();
             // The picture's middle, away from its edges; the button is larger than its picture.
             auto picture = button->imageView();
             return picture ? Shown{picture, CGRectInset(picture->bounds(), 4, 4)} : Shown{};
         }},
    });
}
