// Joining an event with a photo against the stand-in server: the screen's set-up, the photo from
// the library or the camera, the title checks in their order, the login gate, the upload and join
// with their HUD texts and delays on the clock, one submission at a time, and the failures (upload,
// refusal, expired token).

#include <gtest/gtest.h>

#include "app/QVNUserManager.h"
#include "information/JoinActivityViewController.h"
#include "tests/information/EventScreensTestSupport.h"
#include "uikit/UIBars.h"

using namespace infotest;

namespace {

class JoinActivityViewControllerTest : public EventScreenTest {
  protected:
    Ref<JoinActivityViewController> open(const Ref<QVNActivity>& activity) {
        auto screen = push<JoinActivityViewController>(InformationScreens::kJoinActivityIdentifier, activity);
        if (screen) {
            EXPECT_EQ(navigation->topViewController(), screen);
        }
        return screen;
    }
    // A new photo event (the samples' are joined by every sample user already), as the signed-in
    // sample user sees it, on the join screen.
    Ref<JoinActivityViewController> openSignedIn() {
        devserver::EventItem fresh;
        fresh.event_title = "新活动";
        fresh.addtime = "2026-12-01 10:00:00";
        fresh.places = 5;
        information->addEvent(fresh);
        signIn(1);
        event = fetchEvent(0);
        return event ? open(event) : nullptr;
    }
    static void typeTitle(const Ref<JoinActivityViewController>& screen, const std::string& title) {
        auto field = screen->titleTextField.lock();
        ASSERT_TRUE(field);
        field->setText(std::string());
        UITextEntryDriver::typeText(field, title);
    }
    // Picks a picture through the picker the upload button opens (no camera: the library).
    void pickPhoto(const Ref<JoinActivityViewController>& screen, const Ref<UIImage>& image) {
        screen->uploadImageButtonDidTouch(nullptr);
        finishTransitions();
        auto picker = UIImagePickerTestDriver::visiblePicker();
        ASSERT_TRUE(picker);
        UIImagePickerTestDriver::pickImage(picker, image);
        finishTransitions();
    }
    void ready(const Ref<JoinActivityViewController>& screen, const std::string& title = "我的爱车") {
        pickPhoto(screen, picture(1, 0, 0));
        typeTitle(screen, title);
    }
    bool submitEnabled(const Ref<JoinActivityViewController>& screen) {
        return screen->submitButton.lock()->isEnabled();
    }
    std::string hudText(const Ref<JoinActivityViewController>& screen) {
        return screen->hud()->labelText().value_or("");
    }
    // Waits on the server while the clock stays put (the HUD delays are tested on it).
    bool waitForHUD(const Ref<JoinActivityViewController>& screen, const std::string& text) {
        return waitUntil([&] { return hudText(screen) == text; });
    }

    Ref<QVNActivity> event;
};

TEST_F(JoinActivityViewControllerTest, TheScreenStartsFromTheEvent) {
    auto screen = openSignedIn();
    ASSERT_TRUE(screen);
    EXPECT_EQ(screen->remainCountLabel.lock()->text(), "剩余名额" + event->event_limit->stringValue());
    EXPECT_TRUE(screen->tipLabel.lock()->isHidden());
    EXPECT_FALSE(submitEnabled(screen));
    EXPECT_FALSE(screen->textView.lock()->isUserInteractionEnabled());
    EXPECT_EQ(screen->imageView.lock()->contentMode(), UIViewContentModeScaleAspectFit);
    EXPECT_FALSE(screen->hud()->superview() == nullptr);
    EXPECT_FALSE(hudShowing(screen->hud()));
    EXPECT_EQ(screen->hud()->mode(), VHProgressHUDModeSpinner);
    EXPECT_EQ(screen->supportedInterfaceOrientations(), UIInterfaceOrientationMaskPortrait);
    EXPECT_EQ(screen->preferredInterfaceOrientationForPresentation(), UIInterfaceOrientationPortrait);
    EXPECT_EQ(screen->preferredStatusBarStyle(), UIStatusBarStyleLightContent);

    auto toolbar = std::dynamic_pointer_cast<UIToolbar>(screen->titleTextField.lock()->inputAccessoryView());
    ASSERT_TRUE(toolbar);
    EXPECT_EQ(toolbar->frame(), CGRectMake(0, 0, 320, 44));
    EXPECT_EQ(toolbar->barStyle(), UIBarStyleDefault);
    ASSERT_EQ(toolbar->items().size(), 2u);
    EXPECT_TRUE(toolbar->items()[0]->isFlexibleSpace());
    auto hide = std::dynamic_pointer_cast<UIButton>(toolbar->items()[1]->customView());
    ASSERT_TRUE(hide);
    EXPECT_EQ(hide->frame(), CGRectMake(2, 5, 100, 25));
    EXPECT_EQ(hide->titleForState(UIControlStateNormal), "退出键盘");
    auto field = screen->titleTextField.lock();
    field->becomeFirstResponder();
    ASSERT_TRUE(field->isFirstResponder());
    hide->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_FALSE(field->isFirstResponder());
}

TEST_F(JoinActivityViewControllerTest, SubmitIsOnExactlyWithAPhotoAndATitle) {
    auto screen = openSignedIn();
    ASSERT_TRUE(screen);
    typeTitle(screen, "标题");
    EXPECT_FALSE(submitEnabled(screen));
    pickPhoto(screen, picture(0, 1, 0));
    EXPECT_TRUE(submitEnabled(screen));
    typeTitle(screen, "");
    EXPECT_FALSE(submitEnabled(screen));
    typeTitle(screen, "x");
    EXPECT_TRUE(submitEnabled(screen));
}

TEST_F(JoinActivityViewControllerTest, WithoutACameraTheLibraryOpensDirectly) {
    auto screen = openSignedIn();
    ASSERT_TRUE(screen);
    UITestDriver::tap(screen->uploadImageButton.lock());
    finishTransitions();
    EXPECT_TRUE(UIAlertTestDriver::shownAlerts().empty());
    auto picker = UIImagePickerTestDriver::visiblePicker();
    ASSERT_TRUE(picker);
    EXPECT_EQ(picker->sourceType(), UIImagePickerControllerSourceTypePhotoLibrary);
    EXPECT_TRUE(picker->allowsEditing());
}

TEST_F(JoinActivityViewControllerTest, WithACameraASheetChoosesTheSource) {
    UIImagePickerTestDriver::setSourceTypeAvailable(UIImagePickerControllerSourceTypeCamera, true);
    auto screen = openSignedIn();
    ASSERT_TRUE(screen);
    struct Case {
        const char* button;
        std::optional<UIImagePickerControllerSourceType> source;
    };
    for (const Case& c :
         {Case{"照相", UIImagePickerControllerSourceTypeCamera},
          Case{"从相册选择", UIImagePickerControllerSourceTypePhotoLibrary}, Case{"取消", std::nullopt}}) {
        SCOPED_TRACE(c.button);
        screen->uploadImageButtonDidTouch(nullptr);
        auto sheet = UIAlertTestDriver::frontmostAlert();
        ASSERT_TRUE(sheet);
        EXPECT_EQ(sheet->kind, UIAlertKind::ActionSheet);
        EXPECT_FALSE(sheet->title);
        EXPECT_EQ(sheet->buttonTitles, (std::vector<std::string>{"照相", "从相册选择", "取消"}));
        ASSERT_TRUE(UIAlertTestDriver::tapAlertButton(c.button));
        finishTransitions();
        auto picker = UIImagePickerTestDriver::visiblePicker();
        EXPECT_EQ(picker != nullptr, c.source.has_value());
        if (!picker) continue;
        EXPECT_EQ(picker->sourceType(), *c.source);
        UIImagePickerTestDriver::cancelPicker(picker);
        finishTransitions();
    }
}

TEST_F(JoinActivityViewControllerTest, CancellingThePickerKeepsThePhotoAndTheButton) {
    auto screen = openSignedIn();
    ASSERT_TRUE(screen);
    ready(screen);
    Ref<UIImage> chosen = screen->imageView.lock()->image();
    ASSERT_TRUE(chosen);
    ASSERT_TRUE(submitEnabled(screen));
    screen->uploadImageButtonDidTouch(nullptr);
    finishTransitions();
    auto picker = UIImagePickerTestDriver::visiblePicker();
    ASSERT_TRUE(picker);
    UIImagePickerTestDriver::cancelPicker(picker);
    finishTransitions();
    EXPECT_FALSE(UIImagePickerTestDriver::visiblePicker());
    EXPECT_EQ(screen->imageView.lock()->image(), chosen);
    EXPECT_TRUE(submitEnabled(screen));
}

TEST_F(JoinActivityViewControllerTest, TitlesAreCheckedForEmojiThenForLength) {
    auto screen = openSignedIn();
    ASSERT_TRUE(screen);
    pickPhoto(screen, picture(0, 0, 1));
    const std::string fifteen = "一二三四五六七八九十一二三四五";
    struct Case {
        std::string title;
        std::optional<std::string> refusal;
    };
    const Case cases[] = {
        {fifteen + "六", "标题长度超出限制"},
        // Fourteen characters and one outside the basic plane: sixteen UTF-16 units.
        {"一二三四五六七八九十一二三四\xF0\xA0\x80\x80", "标题长度超出限制"},
        {"车\xF0\x9F\x98\x80", "请去掉标题栏的表情再提交"},
        // An emoji in a title that is also too long: the emoji is named first.
        {fifteen + "\xF0\x9F\x9A\x97", "请去掉标题栏的表情再提交"},
        {fifteen, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        UIAlertTestDriver::reset();
        typeTitle(screen, c.title);
        screen->submitButtonDidTouch(nullptr);
        if (c.refusal) {
            EXPECT_EQ(alertTitle(), *c.refusal);
            EXPECT_EQ(UIAlertTestDriver::frontmostAlert()->buttonTitles, std::vector<std::string>{"确定"});
            EXPECT_FALSE(screen->isSubmitting());
            UIAlertTestDriver::tapAlertButton("确定");
        } else {
            EXPECT_TRUE(UIAlertTestDriver::shownAlerts().empty());
            EXPECT_TRUE(screen->isSubmitting());
        }
    }
    ASSERT_TRUE(waitForHUD(screen, "参与成功"));
    ASSERT_EQ(requestsTo("upload/upload.do"), 1u);
    EXPECT_EQ(lastRequestTo("event/joinevent.do").queryParam("pic_name"), fifteen);
}

TEST_F(JoinActivityViewControllerTest, SignedOutGoesToLoginAndUploadsNothing) {
    event = fetchEvent(0);
    auto screen = open(event);
    ASSERT_TRUE(screen);
    ready(screen);
    screen->submitButtonDidTouch(nullptr);
    finishTransitions();
    EXPECT_TRUE(std::dynamic_pointer_cast<LoginStandIn>(navigation->topViewController()));
    EXPECT_FALSE(screen->isSubmitting());
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_EQ(requestsTo("upload/upload.do"), 0u);
    EXPECT_EQ(requestsTo("event/joinevent.do"), 0u);
}

TEST_F(JoinActivityViewControllerTest, AJoinUploadsThenJoinsOnceAndLeavesAfterOneAndAHalfSeconds) {
    auto screen = openSignedIn();
    ASSERT_TRUE(screen);
    EXPECT_EQ(event->is_join->integerValue(), 0);
    std::size_t entriesBefore = information->entries(event->event_id->integerValue()).size();
    ready(screen, "红色跑车");
    // The upload takes a while: the second tap comes while it runs.
    devserver::RouteControl slow;
    slow.delay = std::chrono::milliseconds(300);
    server.setRouteControl("upload/upload.do", slow);
    auto submit = screen->submitButton.lock();
    UITestDriver::tap(submit);
    EXPECT_TRUE(screen->isSubmitting());
    EXPECT_FALSE(submit->isEnabled());
    EXPECT_EQ(hudText(screen), "正在参与");
    EXPECT_TRUE(hudShowing(screen->hud()));
    UITestDriver::tap(submit);
    screen->submitButtonDidTouch(nullptr);
    // Edits while it runs neither turn the button on nor change what is sent.
    typeTitle(screen, "改过的标题");
    EXPECT_FALSE(submit->isEnabled());

    ASSERT_TRUE(waitForHUD(screen, "参与成功"));
    EXPECT_EQ(screen->hud()->mode(), VHProgressHUDModeText);
    EXPECT_EQ(requestsTo("upload/upload.do"), 1u);
    ASSERT_EQ(requestsTo("event/joinevent.do"), 1u);
    auto join = lastRequestTo("event/joinevent.do");
    EXPECT_EQ(join.queryParam("event_id"), event->event_id->stringValue());
    EXPECT_EQ(join.queryParam("pic_name"), "红色跑车");
    EXPECT_FALSE(join.queryParam("tuninglist_id"));
    auto entries = information->entries(event->event_id->integerValue());
    ASSERT_EQ(entries.size(), entriesBefore + 1);
    EXPECT_EQ(entries.front().pic_name, "红色跑车");
    EXPECT_EQ(join.queryParam("pic_url"), entries.front().pic_url);
    EXPECT_EQ(event->is_join->integerValue(), 1);

    clock.advance(1.4);
    EXPECT_EQ(navigation->topViewController(), screen);
    EXPECT_TRUE(hudShowing(screen->hud()));
    clock.advance(0.2);
    finishTransitions();
    EXPECT_EQ(navigation->topViewController(), root);
    EXPECT_FALSE(submit->isEnabled());
}

TEST_F(JoinActivityViewControllerTest, AScreenLeftDuringTheJoinStillMarksTheEventAndIsNotPoppedAgain) {
    auto screen = openSignedIn();
    ASSERT_TRUE(screen);
    ready(screen);
    screen->submitButtonDidTouch(nullptr);
    auto cover = make<UIViewController>();
    navigation->popViewControllerAnimated(false);
    navigation->pushViewController(cover, false);
    finishTransitions();
    ASSERT_TRUE(waitUntil([&] { return event->is_join && event->is_join->integerValue() == 1; }));
    clock.advance(2.0);
    finishTransitions();
    EXPECT_EQ(navigation->topViewController(), cover);
}

TEST_F(JoinActivityViewControllerTest, AFailedUploadSaysSoAndJoinsNothing) {
    auto screen = openSignedIn();
    ASSERT_TRUE(screen);
    ready(screen);
    devserver::RouteControl broken;
    broken.status = 500;
    server.setRouteControl("upload/upload.do", broken);
    screen->submitButtonDidTouch(nullptr);
    ASSERT_TRUE(waitForHUD(screen, "参与失败"));
    EXPECT_EQ(requestsTo("event/joinevent.do"), 0u);
    EXPECT_TRUE(submitEnabled(screen));
    EXPECT_EQ(event->is_join->integerValue(), 0);
    clock.advance(0.9);
    EXPECT_TRUE(hudShowing(screen->hud()));
    clock.advance(0.5);
    EXPECT_FALSE(hudShowing(screen->hud()));
    EXPECT_EQ(navigation->topViewController(), screen);

    // The next try goes through.
    server.clearRouteControl("upload/upload.do");
    screen->submitButtonDidTouch(nullptr);
    ASSERT_TRUE(waitForHUD(screen, "参与成功"));
    EXPECT_EQ(requestsTo("event/joinevent.do"), 1u);
}

TEST_F(JoinActivityViewControllerTest, ARefusedJoinSaysSoAndKeepsTheUser) {
    signIn(1);
    // A closed event: the server refuses the entry.
    event = fetchEvent(0, false);
    ASSERT_TRUE(event);
    auto screen = open(event);
    ready(screen);
    screen->submitButtonDidTouch(nullptr);
    ASSERT_TRUE(waitForHUD(screen, "参与失败"));
    EXPECT_EQ(requestsTo("event/joinevent.do"), 1u);
    EXPECT_TRUE(QVNUserManager::shareObject()->hasCurrentUser());
    EXPECT_TRUE(UIAlertTestDriver::shownAlerts().empty());
    EXPECT_TRUE(submitEnabled(screen));
    clock.advance(0.9);
    EXPECT_TRUE(hudShowing(screen->hud()));
    clock.advance(0.5);
    EXPECT_FALSE(hudShowing(screen->hud()));
    EXPECT_EQ(navigation->topViewController(), screen);
}

TEST_F(JoinActivityViewControllerTest, AnExpiredTokenAlertsAndSignsOut) {
    auto screen = openSignedIn();
    ASSERT_TRUE(screen);
    ready(screen);
    server.expireTokens();
    screen->submitButtonDidTouch(nullptr);
    ASSERT_TRUE(waitUntil([&] { return alertTitle() == std::optional<std::string>("帐号失效请重新登录"); }));
    EXPECT_EQ(UIAlertTestDriver::frontmostAlert()->buttonTitles, std::vector<std::string>{"确定"});
    EXPECT_FALSE(QVNUserManager::shareObject()->hasCurrentUser());
    EXPECT_EQ(event->is_join->integerValue(), 0);
    EXPECT_TRUE(hudShowing(screen->hud()));
    clock.advance(0.9);
    EXPECT_TRUE(hudShowing(screen->hud()));
    clock.advance(0.5);
    EXPECT_FALSE(hudShowing(screen->hud()));
    EXPECT_EQ(navigation->topViewController(), screen);
    EXPECT_TRUE(submitEnabled(screen));
}

TEST_F(JoinActivityViewControllerTest, AStudioEntryJoinsWithItsTuningListAndClosesThePresentedChain) {
    signIn(1);
    event = fetchEvent(1);
    ASSERT_TRUE(event);
    auto screen = std::dynamic_pointer_cast<JoinActivityViewController>(
        UIStoryboard::storyboardWithName(InformationScreens::kActivityStoryboard, nullptr)
            ->instantiateViewControllerWithIdentifier(InformationScreens::kJoinActivityIdentifier));
    ASSERT_TRUE(screen);
    screen->setActivity(event);
    navigation->presentViewController(screen, false);
    finishTransitions();
    ASSERT_EQ(navigation->presentedViewController(), screen);
    auto production = make<QVNProduction>();
    production->pic_url = "http://127.0.0.1/shot.png";
    production->pic_name = "方案";
    screen->joinEventFromCarViewControllerWithProduction(production, NSNumber::numberWithLong(42),
                                                         event->event_id);
    ASSERT_TRUE(waitForHUD(screen, "参与成功"));
    auto join = lastRequestTo("event/joinevent.do");
    EXPECT_EQ(join.queryParam("tuninglist_id"), "42");
    EXPECT_EQ(join.queryParam("pic_name"), "方案");
    EXPECT_EQ(information->entries(event->event_id->integerValue()).front().list_id, 42);
    EXPECT_EQ(event->is_join->integerValue(), 1);
    clock.advance(1.4);
    EXPECT_EQ(navigation->presentedViewController(), screen);
    clock.advance(0.2);
    finishTransitions();
    EXPECT_FALSE(navigation->presentedViewController());
}

}  // namespace
