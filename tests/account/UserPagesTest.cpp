// The "my" page, profiles (own and another user's), profile editing and feedback, driven through
// their actions against the stand-in server, with the server's state checked after each flow.

#include <gtest/gtest.h>

#include "account/AccountArtwork.h"
#include "account/EditUserInfoViewController.h"
#include "account/FeedbackViewController.h"
#include "account/FriendListViewController.h"
#include "account/MailListlViewController.h"
#include "account/NewMessageViewController.h"
#include "account/QVNFriendCell.h"
#include "account/UserInfoViewController.h"
#include "account/UserViewController.h"
#include "controls/PullRefreshNormalHeader.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "tests/account/AccountTestSupport.h"
#include "tests/support/GoldenImage.h"
#include "uikit/UIImagePickerController.h"
#include "uikit/UIWindowRenderer.h"

using namespace accounttest;

namespace {

class UserPagesTest : public ScreenTest {
  protected:
    void TearDown() override {
        UIImagePickerTestDriver::reset();
        ScreenTest::TearDown();
    }
    Ref<UserInfoViewController> profileOf(long uid) {
        auto screen = std::dynamic_pointer_cast<UserInfoViewController>(
            UIStoryboard::storyboardWithName("MyUser", nullptr)
                ->instantiateViewControllerWithIdentifier("UserInfoViewController"));
        screen->setUid(NSNumber::numberWithLong(uid));
        navigation->pushViewController(screen, false);
        settle();
        EXPECT_TRUE(waitUntil([&] { return screen->boolUser() != nullptr; }));
        return screen;
    }
    // A my-page entry by its title, for a finger to tap.
    static Ref<UIButton> entryTitled(const Ref<UIViewController>& page, const std::string& title) {
        for (const auto& view : page->view()->subviews())
            if (auto button = std::dynamic_pointer_cast<UIButton>(view);
                button && button->titleForState(UIControlStateNormal) == title)
                return button;
        ADD_FAILURE() << "no entry " << title;
        return nullptr;
    }
    // A profile reached by a tap on an entry of the my page, its views filled and laid out.
    Ref<UserInfoViewController> topProfile() {
        settle(0.6);
        auto profile = std::dynamic_pointer_cast<UserInfoViewController>(navigation->topViewController());
        EXPECT_TRUE(profile);
        if (!profile) return nullptr;
        EXPECT_TRUE(waitUntil([&] { return profile->boolUser() != nullptr; }));
        window->layoutIfNeeded();
        return profile;
    }
    CGRect inWindow(const Ref<UIView>& view) const { return view->convertRectToView(view->bounds(), window); }
    Ref<UIImage> render(const std::string& name) {
        window->layoutIfNeeded();
        auto image = UIWindowRenderer::imageOfView(window, 1);
        UIWindowRenderer::writePNG(image, testsupport::goldenOutputFolder("account") + "/" + name);
        return image;
    }
    static bool near(testsupport::RenderedPixels::RGB a, testsupport::RenderedPixels::RGB b, int tolerance) {
        return std::abs(a.red - b.red) <= tolerance && std::abs(a.green - b.green) <= tolerance &&
               std::abs(a.blue - b.blue) <= tolerance;
    }
    static Ref<UIImage> picture(unsigned rgb) {
        return testsupport::solidImage(CGSizeMake(40, 40), ((rgb >> 16) & 255) / 255.0,
                                       ((rgb >> 8) & 255) / 255.0, (rgb & 255) / 255.0);
    }
};

}  // namespace

TEST_F(UserPagesTest, TheMyPageShowsTheStoredUserAndTheUnreadDot) {
    signIn();
    auto page = push<UserViewController>("UserViewController");
    EXPECT_EQ(page->userNameLabel.lock()->text(), "改装达人");
    ASSERT_TRUE(waitUntil([&] { return page->hasDotImage() && page->dotImage()->superview(); }));
    auto button = page->messageBtn.lock();
    EXPECT_EQ(page->dotImage()->superview(), button);
    EXPECT_TRUE(CGRectEqualToRect(
        page->dotImage()->frame(),
        CGRectMake(button->frame().size.width - 30, button->frame().size.height / 2 - 5, 10, 10)));
    EXPECT_EQ(page->dotImage()->image(), AccountArtwork::imageNamed("dot_05"));
    EXPECT_EQ(page->preferredStatusBarStyle(), UIStatusBarStyleLightContent);

    // Everything read: the next appearance removes the dot.
    auto token = *QVNUserManager::shareObject()->currentUserToken();
    bool done = false;
    int marked = 0;
    for (int category : {1, 2, 3}) {
        QVNMessageCommunicator::updateReadWithUserToken(
            token, NSNumber::numberWithInt(category), NSNumber::numberWithInt(2),
            [&](const Value&, const Ref<NSError>&) { done = ++marked == 3; });
    }
    ASSERT_TRUE(waitUntil([&] { return done; }));
    page->viewWillAppear(false);
    ASSERT_TRUE(waitUntil([&] { return !page->dotImage()->superview(); }));
}

TEST_F(UserPagesTest, TheMyPageEntriesOpenTheirScenes) {
    auto user = signIn();
    auto page = push<UserViewController>("UserViewController");
    struct Entry {
        void (UserViewController::*action)(const Ref<NSObject>&);
        std::string className;
    };
    const Entry entries[] = {{&UserViewController::showMessage, "NewMessageViewController"},
                             {&UserViewController::showFriends, "FriendListViewController"},
                             {&UserViewController::showUserInfo, "UserInfoViewController"},
                             {&UserViewController::FeedbackBtnAction, "FeedbackViewController"}};
    for (const Entry& entry : entries) {
        ((*page).*entry.action)(nullptr);
        settle(0.6);
        EXPECT_EQ(navigation->topViewController()->className(), entry.className);
        if (auto profile =
                std::dynamic_pointer_cast<UserInfoViewController>(navigation->topViewController())) {
            ASSERT_TRUE(profile->user());
            EXPECT_EQ(profile->user()->user_nickname, user->user_nickname);
        }
        navigation->popToViewController(page, false);
        settle();
    }
}

TEST_F(UserPagesTest, TheOwnProfileShowsThePhoneAndSignsOutOnce) {
    signIn();
    auto page = push<UserViewController>("UserViewController");
    page->showUserInfo(nullptr);
    settle(0.6);
    auto profile = std::dynamic_pointer_cast<UserInfoViewController>(navigation->topViewController());
    ASSERT_TRUE(profile);
    EXPECT_EQ(profile->nameLabel.lock()->text(), "改装达人");
    EXPECT_EQ(profile->genderLabel.lock()->text(), "男");
    EXPECT_EQ(profile->phoneNumber.lock()->text(), "13800000001");
    EXPECT_TRUE(profile->phoneNumber.lock()->superview());
    EXPECT_TRUE(profile->senderMessageBtn.lock()->isHidden());
    EXPECT_FALSE(profile->changeButton.lock()->isHidden());
    EXPECT_EQ(profile->changeButton.lock()->imageForState(UIControlStateNormal), nullptr);

    profile->logOutButtonTapped(nullptr);
    EXPECT_FALSE(QVNUserManager::shareObject()->hasCurrentUser());
    EXPECT_EQ(posted["LoginSuccess"], 1);
    settle(0.6);
    EXPECT_EQ(navigation->topViewController(), root);
}

TEST_F(UserPagesTest, AnotherUsersProfileRemovesAFriendThroughTheServer) {
    signIn();
    auto profile = profileOf(2);
    EXPECT_EQ(profile->nameLabel.lock()->text(), "赛道老王");
    // Removed from the view: nothing holds the labels any more.
    EXPECT_TRUE(!profile->phoneNumber.lock() || !profile->phoneNumber.lock()->superview());
    EXPECT_TRUE(!profile->phoneNumberLabel.lock() || !profile->phoneNumberLabel.lock()->superview());
    EXPECT_EQ(profile->signTopMargin.lock()->constant(), 8.0);
    EXPECT_FALSE(profile->senderMessageBtn.lock()->isHidden());
    EXPECT_TRUE(profile->editButton.lock()->isHidden());
    EXPECT_EQ(profile->changeButton.lock()->imageForState(UIControlStateNormal),
              AccountArtwork::imageNamed("shanchuhao_up.png"));
    EXPECT_EQ(profile->changeButton.lock()->imageForState(UIControlStateSelected),
              AccountArtwork::imageNamed("shanchuhao_down.png"));

    profile->logOutButtonTapped(nullptr);
    ASSERT_TRUE(waitUntil([&] {
        return profile->friendHUD() && profile->friendHUD()->labelText() == std::string("删除成功");
    }));
    EXPECT_FALSE(server.areFriends(1, 2));
    EXPECT_TRUE(QVNUserManager::shareObject()->hasCurrentUser());
    clock.advance(1.2);
    EXPECT_EQ(navigation->topViewController(), root);
}

TEST_F(UserPagesTest, AnotherUsersProfileAddsAFriendOrSignsOutOnAStaleToken) {
    signIn();
    auto profile = profileOf(3);
    EXPECT_EQ(profile->changeButton.lock()->imageForState(UIControlStateNormal),
              AccountArtwork::imageNamed("jiaweihaoyou_up"));
    profile->logOutButtonTapped(nullptr);
    ASSERT_TRUE(waitUntil([&] {
        return profile->friendHUD() && profile->friendHUD()->labelText() == std::string("添加成功");
    }));
    EXPECT_TRUE(server.areFriends(1, 3));
    clock.advance(1.2);

    auto again = profileOf(3);
    server.setFriends(1, 3, false);
    server.expireTokens();
    // The profile still says "friend": the tap removes, which the stale token refuses.
    again->logOutButtonTapped(nullptr);
    ASSERT_TRUE(waitUntil([&] { return again->friendHUD()->labelText() == std::string("请重试"); }));
    EXPECT_TRUE(QVNUserManager::shareObject()->hasCurrentUser());
}

// The own profile from the my page's entry: the phone row between the sex and signature rows, one
// point apart, and the sign-out button with its title and colour, without a friend picture.
TEST_F(UserPagesTest, TheOwnProfileKeepsItsPhoneRowAndTheSignOutButton) {
    signIn();
    auto page = push<UserViewController>("UserViewController");
    UITestDriver::tap(entryTitled(page, "个人资料"));
    auto profile = topProfile();
    ASSERT_TRUE(profile);
    const CGRect sex = inWindow(profile->genderLabel.lock()->superview());
    const CGRect phone = inWindow(profile->phoneNumber.lock()->superview());
    const CGRect sign = inWindow(profile->signLabel.lock()->superview());
    EXPECT_EQ(phone.origin.y, CGRectGetMaxY(sex) + 1);
    EXPECT_EQ(phone.size.height, 44);
    EXPECT_EQ(sign.origin.y, CGRectGetMaxY(phone) + 1);
    EXPECT_EQ(inWindow(profile->phoneNumberLabel.lock()).origin.y, phone.origin.y);
    auto button = profile->changeButton.lock();
    EXPECT_EQ(button->currentTitle(), "退出登录");
    EXPECT_EQ(button->currentImage(), nullptr);
    testsupport::RenderedPixels pixels(render("profile-own.png"));
    const CGRect area = inWindow(button);
    // The sign-out colour fills the button, corner to corner.
    EXPECT_TRUE(near(pixels.at(static_cast<long>(area.origin.x) + 6, static_cast<long>(area.origin.y) + 6),
                     testsupport::rgbOf(button->backgroundColor()), 8));
}

// Another user's profile as a user opens it, from the friend's avatar in the friend list: the
// friend button is the friend picture alone (no sign-out title, no sign-out colour), and the rows
// close up where the phone row was taken away: the signature row 8 points below the sex row, with
// the screen's own ground between them.
TEST_F(UserPagesTest, AnotherUsersProfileShowsTheFriendPictureAloneAndClosesUpItsRows) {
    signIn();
    auto page = push<UserViewController>("UserViewController");
    UITestDriver::tap(entryTitled(page, "我的好友"));
    settle(0.6);
    auto list = std::dynamic_pointer_cast<FriendListViewController>(navigation->topViewController());
    ASSERT_TRUE(list);
    ASSERT_TRUE(waitAdvancing([&] {
        auto table = list->tableView.lock();
        auto header = table ? UIScrollView_PullRefresh::header(*table) : nullptr;
        return list->friends().count() == 1 && header && !header->isRefreshing();
    }));
    // The header's closing animation holds the list's touches until it ends.
    testsupport::settleInSteps(clock);
    auto table = list->tableView.lock();
    table->layoutIfNeeded();
    auto cell = std::dynamic_pointer_cast<QVNFriendCell>(
        table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(0, 0)));
    ASSERT_TRUE(cell);
    UITestDriver::tap(cell->userImageView.lock());
    auto profile = topProfile();
    ASSERT_TRUE(profile);
    EXPECT_EQ(profile->uid()->integerValue(), 2);

    auto button = profile->changeButton.lock();
    EXPECT_FALSE(button->isHidden());
    EXPECT_EQ(button->currentTitle(), std::nullopt);
    CGFloat r = 0, g = 0, b = 0, alpha = 0;
    if (auto ground = button->backgroundColor()) ground->getRed(&r, &g, &b, &alpha);
    EXPECT_EQ(alpha, 0) << "the button keeps a colour of its own";
    EXPECT_EQ(button->currentImage(), AccountArtwork::imageNamed("shanchuhao_up.png"));

    const CGRect sex = inWindow(profile->genderLabel.lock()->superview());
    const CGRect sign = inWindow(profile->signLabel.lock()->superview());
    EXPECT_EQ(sign.origin.y, CGRectGetMaxY(sex) + 8);
    EXPECT_EQ(sign.size.height, 44);
    // The signature's caption stays on its row.
    Ref<UILabel> caption;
    for (const auto& view : profile->signLabel.lock()->superview()->subviews())
        if (auto label = std::dynamic_pointer_cast<UILabel>(view); label && label->text() == "个性签名")
            caption = label;
    ASSERT_TRUE(caption);
    EXPECT_EQ(inWindow(caption).origin.y, sign.origin.y);

    testsupport::RenderedPixels pixels(render("profile-other-user.png"));
    const auto ground = testsupport::rgbOf(profile->view()->backgroundColor());
    // Between the rows, across the screen, only the screen's ground: no row left standing there.
    long covered = 0;
    std::string first;
    for (long y = static_cast<long>(CGRectGetMaxY(sex)) + 1; y < static_cast<long>(sign.origin.y) - 1; ++y)
        for (long x = 2; x < pixels.width() - 2; ++x)
            if (auto p = pixels.at(x, y); !near(p, ground, 3) && covered++ == 0)
                first = "(" + std::to_string(x) + ", " + std::to_string(y) + ") " + std::to_string(p.red) +
                        "," + std::to_string(p.green) + "," + std::to_string(p.blue);
    EXPECT_EQ(covered, 0) << "first at " << first;
    // The picture shows in the middle of the button; the button's corners show the ground.
    const CGRect area = inWindow(button);
    EXPECT_TRUE(near(pixels.at(static_cast<long>(area.origin.x) + 6, static_cast<long>(area.origin.y) + 6),
                     ground, 3));
    EXPECT_TRUE(
        near(pixels.at(static_cast<long>(CGRectGetMidX(area)) - 50, static_cast<long>(CGRectGetMidY(area))),
             {0xE0, 0x60, 0x60}, 12));
}

TEST_F(UserPagesTest, AFailedProfileFetchSaysSo) {
    signIn();
    auto screen = std::dynamic_pointer_cast<UserInfoViewController>(
        UIStoryboard::storyboardWithName("MyUser", nullptr)
            ->instantiateViewControllerWithIdentifier("UserInfoViewController"));
    screen->setUid(NSNumber::numberWithInt(99));
    navigation->pushViewController(screen, false);
    ASSERT_TRUE(waitUntil(
        [&] { return screen->hud()->labelText() == std::string("获取失败,请检查网络或重新登录"); }));
    EXPECT_TRUE(screen->changeButton.lock()->isHidden());
    EXPECT_TRUE(screen->senderMessageBtn.lock()->isHidden());
}

TEST_F(UserPagesTest, TheProfileOpensAMailThreadWithTheShownUser) {
    signIn();
    auto profile = profileOf(2);
    profile->senderMessageBtnAction(nullptr);
    settle(0.6);
    ASSERT_EQ(navigation->topViewController(), profile->mailListVc());
    EXPECT_EQ(profile->mailListVc()->friendUid()->integerValue(), 2);
    EXPECT_FALSE(profile->mailListVc()->isFromMessafeVc());
}

TEST_F(UserPagesTest, EditingSavesNicknameSexSignatureAndAvatarOnTheServer) {
    signIn();
    auto edit = push<EditUserInfoViewController>("EditUserInfoViewController");
    EXPECT_EQ(edit->nameField.lock()->text(), "改装达人");
    EXPECT_EQ(edit->sexLabel.lock()->text(), "男");
    EXPECT_EQ(edit->showNumber.lock()->text(), "13800000001");

    // No camera: the library opens at once; the picked picture waits for the save.
    edit->upLoadPhoto(nullptr);
    settle(0.6);
    auto picker = UIImagePickerTestDriver::visiblePicker();
    ASSERT_TRUE(picker);
    EXPECT_EQ(picker->sourceType(), UIImagePickerControllerSourceTypePhotoLibrary);
    EXPECT_TRUE(picker->allowsEditing());
    UIImagePickerTestDriver::pickImage(picker, picture(0xFF0000), picture(0x00FF00));
    ASSERT_TRUE(waitUntil([&] { return edit->userUpdatedImage() != nullptr; }));
    settle(0.6);
    EXPECT_EQ(edit->userIconImageView.lock()->image(), edit->userUpdatedImage());
    EXPECT_EQ(requestsTo("user/updateavatar.do"), 0u);

    edit->chooseSexAction(nullptr);
    auto sheet = UIAlertTestDriver::frontmostAlert();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->tag, EditUserInfoViewController::kSexSheetTag);
    EXPECT_EQ(sheet->buttonTitles, (std::vector<std::string>{"男", "女", "取消"}));
    UIAlertTestDriver::tapAlertButton("女");
    EXPECT_EQ(edit->sexLabel.lock()->text(), "女");

    type(edit->nameField, "八个字的新昵称啊");  // exactly eight
    edit->signTextView.lock()->setText(std::string("周末跑山"));
    edit->submit(nullptr);
    EXPECT_EQ(alertTitle(), "确认修改个人信息");
    EXPECT_EQ(UIAlertTestDriver::frontmostAlert()->buttonTitles, (std::vector<std::string>{"取消", "确定"}));
    UIAlertTestDriver::tapAlertButton("确定");
    ASSERT_TRUE(waitUntil([&] { return edit->hud()->labelText() == std::string("更新成功"); }));
    auto stored = server.user(1);
    EXPECT_EQ(stored->user_nickname, "八个字的新昵称啊");
    EXPECT_EQ(stored->user_sex, 0);
    EXPECT_EQ(stored->user_sign, "周末跑山");
    EXPECT_NE(stored->user_logo.find("/pictures/p"), std::string::npos);  // the uploaded picture
    auto user = QVNUserManager::shareObject()->currentUser();
    EXPECT_EQ(user->user_nickname, "八个字的新昵称啊");
    EXPECT_EQ(user->user_logo, stored->user_logo);
    clock.advance(0.7);
    EXPECT_EQ(navigation->topViewController(), root);
}

TEST_F(UserPagesTest, EditingRefusesBadNicknamesAndCutsLongSignatures) {
    signIn();
    auto edit = push<EditUserInfoViewController>("EditUserInfoViewController");
    for (const char* nickname : {"", "九个字的太长的昵称啊"}) {
        type(edit->nameField, nickname);
        edit->submit(nullptr);
        EXPECT_EQ(hudText(edit->view()), "昵称不能为空或已超出8位数") << nickname;
        clock.advance(1.5);
    }
    EXPECT_FALSE(UIAlertTestDriver::frontmostAlert());
    type(edit->nameField, "好名字");
    edit->sexLabel.lock()->setText(std::string());
    edit->submit(nullptr);
    EXPECT_EQ(hudText(edit->view()), "请输入性别");
    clock.advance(1.5);

    edit->signTextView.lock()->setText(std::string());
    UITextEntryDriver::typeText(edit->signTextView.lock(), std::string(30, 'a'));
    EXPECT_FALSE(UIAlertTestDriver::frontmostAlert());
    UITextEntryDriver::typeText(edit->signTextView.lock(), "b");
    EXPECT_EQ(alertTitle(), "提示");
    EXPECT_EQ(alertMessage(), "字符个数不能大于30");
    EXPECT_EQ(edit->signTextView.lock()->text(), std::string(30, 'a'));

    // Cancelling the confirmation sends nothing; a refused nickname reads as taken.
    UIAlertTestDriver::reset();
    edit->sexLabel.lock()->setText(std::string("男"));
    type(edit->nameField, "赛道老王");
    edit->submit(nullptr);
    UIAlertTestDriver::tapAlertButton("取消");
    settle();
    EXPECT_EQ(requestsTo("user/update.do"), 0u);
    edit->submit(nullptr);
    UIAlertTestDriver::tapAlertButton("确定");
    ASSERT_TRUE(waitUntil([&] { return edit->hud()->labelText() == std::string("该昵称已被使用"); }));
    EXPECT_EQ(server.user(1)->user_nickname, "改装达人");
}

TEST_F(UserPagesTest, AFailedAvatarUploadStillSavesTheTextAndSaysTheAvatarWasNotSaved) {
    signIn();
    auto edit = push<EditUserInfoViewController>("EditUserInfoViewController");
    edit->upLoadPhoto(nullptr);
    settle(0.6);
    UIImagePickerTestDriver::pickImage(UIImagePickerTestDriver::visiblePicker(), picture(0x0000FF));
    ASSERT_TRUE(waitUntil([&] { return edit->userUpdatedImage() != nullptr; }));
    settle(0.6);
    devserver::RouteControl broken;
    broken.status = 500;
    server.setRouteControl("user/updateavatar.do", broken);
    type(edit->nameField, "新名字");
    edit->submit(nullptr);
    UIAlertTestDriver::tapAlertButton("确定");
    ASSERT_TRUE(waitUntil([&] { return edit->hud()->labelText() == std::string("更新成功,头像未保存"); }));
    EXPECT_EQ(server.user(1)->user_nickname, "新名字");
}

TEST_F(UserPagesTest, WithACameraTheAvatarAsksForTheSource) {
    signIn();
    UIImagePickerTestDriver::setSourceTypeAvailable(UIImagePickerControllerSourceTypeCamera, true);
    auto edit = push<EditUserInfoViewController>("EditUserInfoViewController");
    edit->upLoadPhoto(nullptr);
    auto sheet = UIAlertTestDriver::frontmostAlert();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->buttonTitles, (std::vector<std::string>{"照相", "从相册选择", "取消"}));
    UIAlertTestDriver::tapAlertButton("照相");
    settle(0.6);
    auto picker = UIImagePickerTestDriver::visiblePicker();
    ASSERT_TRUE(picker);
    EXPECT_EQ(picker->sourceType(), UIImagePickerControllerSourceTypeCamera);
}

TEST_F(UserPagesTest, KeyboardObserversAreOnePerScreenAndEndWithIt) {
    signIn();
    auto edit = push<EditUserInfoViewController>("EditUserInfoViewController");
    EXPECT_TRUE(edit->isObservingKeyboard());
    CGFloat half = edit->view()->bounds().size.height / 2;
    UITextEntryDriver::focus(edit->nameField.lock());
    settle(0.3);
    EXPECT_NEAR(edit->view()->center().y, half - 236, 0.5);
    edit->view()->endEditing(true);
    settle(0.3);
    EXPECT_NEAR(edit->view()->center().y, half, 0.5);
    // Away and back: still one registration.
    edit->changeMimaAction(nullptr);
    settle(0.6);
    EXPECT_FALSE(edit->isObservingKeyboard());
    navigation->popViewControllerAnimated(false);
    settle(0.6);
    EXPECT_TRUE(edit->isObservingKeyboard());
    ASSERT_TRUE(edit->changePasswordVc());
}

TEST_F(UserPagesTest, FeedbackSendsTheTextAsItStands) {
    signIn();
    auto feedback = push<FeedbackViewController>("FeedbackViewController");
    EXPECT_EQ(feedback->FeedbackTextView.lock()->text(), FeedbackViewController::kPlaceholder);
    EXPECT_FALSE(feedback->shouldAutorotate());
    feedback->SubmitBtnAction(nullptr);
    ASSERT_TRUE(waitUntil([&] {
        return feedback->replyHUD() && feedback->replyHUD()->labelText() == std::string("反馈成功");
    }));
    ASSERT_EQ(server.feedback().size(), 1u);
    EXPECT_EQ(server.feedback()[0].content, "反馈内容...");
    clock.advance(1.6);
    EXPECT_EQ(navigation->topViewController(), root);

    // Typing clears the placeholder; the keyboard lifts the text.
    auto again = push<FeedbackViewController>("FeedbackViewController");
    auto text = again->FeedbackTextView.lock();
    UITextEntryDriver::typeText(text, "加个夜间模式");
    EXPECT_EQ(text->text(), "加个夜间模式");
    EXPECT_EQ(again->feedbackBottomConstraint.lock()->constant(), UITextEntryDriver::keyboardHeight() + 70);
    again->view()->endEditing(true);
    EXPECT_EQ(again->feedbackBottomConstraint.lock()->constant(), 200);
    again->SubmitBtnAction(nullptr);
    ASSERT_TRUE(waitUntil([&] { return server.feedback().size() == 2; }));
    EXPECT_EQ(server.feedback()[1].content, "加个夜间模式");
}

TEST_F(UserPagesTest, FeedbackWithAStaleTokenShowsTheSignInAlert) {
    signIn();
    server.expireTokens();
    auto feedback = push<FeedbackViewController>("FeedbackViewController");
    feedback->SubmitBtnAction(nullptr);
    ASSERT_TRUE(waitUntil([&] { return alertTitle() == std::string("帐号失效请重新登录"); }));
    EXPECT_TRUE(server.feedback().empty());
    clock.advance(2);
    EXPECT_EQ(navigation->topViewController(), feedback);
}
