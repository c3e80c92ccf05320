#include "tools/demo/AccountDemo.h"

#include <cstdio>

#include "account/FriendListViewController.h"
#include "account/LoginViewController.h"
#include "account/MailListlViewController.h"
#include "account/NewMessageViewController.h"
#include "account/SignUpViewController.h"
#include "account/UserViewController.h"
#include "app/QVNUserManager.h"
#include "controls/PullRefreshNormalHeader.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "tools/demo/DemoSupport.h"
#include "uikit/UIAlertTestDriver.h"
#include "uikit/UITestDriver.h"
#include "uikit/UITextEntryDriver.h"

namespace demo {

namespace {

constexpr char kPhone[] = "13912345678";
constexpr char kNickname[] = "新车友";
constexpr char kPassword[] = "track2015";

template <class T>
Ref<T> topAs(const Ref<UINavigationController>& navigation, const std::string& what) {
    waitFor(
        [&] {
            return std::dynamic_pointer_cast<T>(navigation->topViewController()) &&
                   !navigation->isTransitioning();
        },
        what + " did not open", 10);
    auto screen = std::dynamic_pointer_cast<T>(navigation->topViewController());
    waitFor([&] { return appeared(screen); }, what + " did not appear", 5);
    return screen;
}

bool refreshing(const Weak<UITableView>& table) {
    auto strong = table.lock();
    auto header = strong ? UIScrollView_PullRefresh::header(*strong) : nullptr;
    return !header || header->isRefreshing();
}

void back(const Ref<UINavigationController>& navigation, const Ref<UIViewController>& below) {
    tapBack(navigation->topViewController());
    waitFor([&] { return navigation->topViewController() == below && !navigation->isTransitioning(); },
            "going back did not end", 5);
    runFor(0.3);
}

}  // namespace

long signUpThroughTheScreens(const Ref<MainViewController>& home,
                             const Ref<UINavigationController>& navigation, devserver::DevServer& server) {
    auto login = topAs<LoginViewController>(navigation, "the login screen");
    screenshot("login");
    UITestDriver::tap(buttonTitled(login->view(), "注册账号"));
    auto signUp = topAs<SignUpViewController>(navigation, "the sign-up screen");

    // The code goes "by SMS": the stand-in keeps it for us to read.
    UITextEntryDriver::typeText(signUp->phoneTextField.lock(), kPhone);
    UITestDriver::tap(signUp->identifyCodeBtn.lock());
    waitFor([&] { return server.verificationCode(kPhone).has_value(); }, "no verification code was issued",
            10);
    std::string code = *server.verificationCode(kPhone);
    waitFor(
        [&] {
            return signUp->identifyCodeBtn.lock()->titleForState(UIControlStateNormal) !=
                   std::string("获取验证码");
        },
        "the code button did not start counting", 5);
    std::printf("verification code %s sent to %s\n", code.c_str(), kPhone);
    UITextEntryDriver::typeText(signUp->codeTextField.lock(), code);
    UITextEntryDriver::typeText(signUp->nickNameTextField.lock(), kNickname);
    UITextEntryDriver::typeText(signUp->passwordTextField.lock(), kPassword);
    UITextEntryDriver::typeText(signUp->conformTextField.lock(), kPassword);
    // The sign-up screen keeps the keyboard up; the user goes straight on to the button.
    runFor(0.3);
    screenshot("sign-up");
    UITestDriver::tap(buttonTitled(signUp->view(), "注册"));
    waitFor([] { return QVNUserManager::shareObject()->hasCurrentUser(); }, "the sign-up did not sign in",
            15);
    waitFor([&] { return navigation->topViewController() == home && !navigation->isTransitioning(); },
            "the sign-up did not return to the home screen", 10);
    runFor(0.5);
    auto account = server.userNamed(kPhone);
    require(account.has_value(), "the server has no account for the new user");
    std::printf("signed up as %s (user %ld)\n", account->user_nickname.c_str(), account->user_id);
    screenshot("home-signed-in");
    return account->user_id;
}

void driveAccount(const Ref<MainViewController>& home, const Ref<UINavigationController>& navigation,
                  devserver::DevServer& server, long userId) {
    // A second user writes to the newcomer and they become friends.
    devserver::SampleUser other = server.users().at(1);
    server.sendMail(other.user_id, userId, "欢迎入坑！周末一起去赛道吗？");
    server.setFriends(userId, other.user_id, true);

    UITestDriver::tap(home->btnMy.lock());
    auto page = topAs<UserViewController>(navigation, "the my page");
    waitFor([&] { return page->hasDotImage() && page->dotImage()->superview(); },
            "the unread dot did not show", 10);
    runFor(0.5);
    screenshot("my-page");

    UITestDriver::tap(page->messageBtn.lock());
    auto centre = topAs<NewMessageViewController>(navigation, "the message centre");
    waitFor(
        [&] {
            return centre->siXinMessages().count() == 1 && !refreshing(centre->siXinTableView) &&
                   !refreshing(centre->siTongTableView);
        },
        "the message centre did not load", 15);
    runFor(0.6);
    std::printf("message centre: %s\n",
                text(centre->siXinTitle.lock()->titleForState(UIControlStateNormal)).c_str());
    screenshot("message-centre");

    auto mailTable = centre->siXinTableView.lock();
    mailTable->layoutIfNeeded();
    auto row = mailTable->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(0, 0));
    require(row != nullptr, "the mail row is not on screen");
    UITestDriver::tap(row);
    auto thread = topAs<MailListlViewController>(navigation, "the mail thread");
    waitFor([&] { return thread->mails().count() == 1 && !refreshing(thread->tableView); },
            "the thread did not load", 10);
    UITextEntryDriver::typeText(thread->textView.lock(), "好啊，周六见！");
    runFor(0.5);  // the entry bar rises with the keyboard; touches wait for the move to end
    UITestDriver::tap(buttonTitled(thread->textView.lock()->superview(), "发送"));
    waitFor([&] { return thread->mails().count() == 2; }, "the answer was not sent", 10);
    // A tap on the thread closes the keyboard.
    {
        auto table = thread->tableView.lock();
        require(table != nullptr, "the mail thread has no list");
        const CGRect shown = table->bounds();
        UITestDriver::tapAt(table, CGPointMake(CGRectGetMidX(shown), shown.origin.y + 8));
    }
    runFor(0.6);
    require(!thread->textView.lock()->isFirstResponder(), "a tap on the thread left the keyboard up");
    std::printf("mail thread with %s: %zu mails\n", other.user_nickname.c_str(), thread->mails().count());
    screenshot("mail-thread");
    tapBack(thread);
    waitFor([&] { return navigation->topViewController() == centre && !navigation->isTransitioning(); },
            "the thread did not close", 5);
    runFor(0.5);
    back(navigation, page);

    tapControlWithAction(page->view(), page, "showFriends:");
    auto friends = topAs<FriendListViewController>(navigation, "the friend list");
    waitFor([&] { return friends->friends().count() == 1 && !refreshing(friends->tableView); },
            "the friend list did not load", 10);
    runFor(0.6);
    std::printf("friends: %zu\n", friends->friends().count());
    screenshot("friend-list");
    back(navigation, page);
    back(navigation, home);
}

}  // namespace demo
