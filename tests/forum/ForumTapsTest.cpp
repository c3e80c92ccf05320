// A finger on the forum's buttons that sit in views closing the keyboard on a tap: the photo
// strip's add button and submit button on the publishing screen, and the question's like button
// in the detail's header. Each is tapped through the touch driver, as a user would.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "forum/ForumScenes.h"
#include "forum/MessagePhotoView.h"
#include "forum/PublishQuestionViewController.h"
#include "forum/QVNRizUrDetailView.h"
#include "forum/QuestionDetailController.h"
#include "forum/RizUrListViewController.h"
#include "system/SystemTesting.h"
#include "tests/app/AreaStandIns.h"
#include "tests/forum/ForumTestSupport.h"
#include "tests/forum/ForumWindowTest.h"
#include "tests/support/ScreenTestSupport.h"
#include "uikit/UIAlertTestDriver.h"
#include "uikit/UIApplication.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UITestDriver.h"
#include "uikit/UITextEntryDriver.h"
#include "uikit/UIWindow.h"

using namespace forumtest;

namespace {

class ForumTapsTest : public ForumWindowTest {
  protected:
    template <class T>
    Ref<T> showScene(const std::string& identifier, const std::function<void(const Ref<T>&)>& prepare = {}) {
        auto screen = scene<T>(identifier);
        if (prepare) prepare(screen);
        navigation = make<UINavigationController>(screen);
        navigation->setNavigationBarHidden(true, false);
        window->setRootViewController(navigation);
        window->makeKeyAndVisible();
        testsupport::drainMainRunLoop();
        return screen;
    }
    // Whether the view is on screen where a finger can reach it: the window's hit test at its
    // centre finds it (or a view inside it).
    bool reachable(const Ref<UIView>& view) {
        CGRect b = view->bounds();
        CGPoint centre = view->convertPointToView(CGPointMake(CGRectGetMidX(b), CGRectGetMidY(b)), nullptr);
        Ref<UIView> hit = window->hitTest(centre, nullptr);
        return hit && hit->isDescendantOfView(view.get());
    }
    std::size_t alertsShown() { return UIAlertTestDriver::shownAlerts().size(); }
};

TEST_F(ForumTapsTest, ThePublishingStripsButtonsAnswerATap) {
    signIn();
    auto publish = showScene<PublishQuestionViewController>("PublishQuestionViewController");
    ASSERT_TRUE(waitUntil([&] { return publish->brandArray().size() >= 2; }));
    auto strip = publish->messagePhotoView();
    ASSERT_TRUE(strip && strip->addButton());
    ASSERT_TRUE(reachable(strip->addButton()));
    ASSERT_TRUE(reachable(strip->pushBtn));

    // The add button opens the menu of photo sources.
    UITestDriver::tap(strip->addButton());
    ASSERT_TRUE(waitUntil([] { return UIAlertTestDriver::frontmostAlert().has_value(); }, 5));
    auto menu = UIAlertTestDriver::frontmostAlert();
    ASSERT_TRUE(menu.has_value());
    EXPECT_NE(std::find(menu->buttonTitles.begin(), menu->buttonTitles.end(), "从相册中选择"),
              menu->buttonTitles.end());
    UIAlertTestDriver::tapAlertButton(std::string("取消"));
    testsupport::drainMainRunLoop();

    // The submit button submits: with nothing written the screen says so and sends nothing.
    std::size_t before = alertsShown();
    UITestDriver::tap(strip->pushBtn);
    ASSERT_TRUE(waitUntil([&] { return alertsShown() == before + 1; }, 5));
    EXPECT_EQ(UIAlertTestDriver::shownAlerts().back().message,
              std::optional<std::string>("问题或正文不能为空！"));
    EXPECT_TRUE(server.requestsTo("question/addquestion.do").empty());
}

TEST_F(ForumTapsTest, ATapBesideTheStripsButtonsStillClosesTheKeyboard) {
    signIn();
    auto publish = showScene<PublishQuestionViewController>("PublishQuestionViewController");
    ASSERT_TRUE(waitUntil([&] { return publish->brandArray().size() >= 2; }));
    auto title = publish->questionTextFiled.lock();
    UITextEntryDriver::focus(title);
    ASSERT_TRUE(title->isFirstResponder());
    testsupport::pumpMainRunLoop(1.0);  // the keyboard comes up with an animation
    auto strip = publish->messagePhotoView();
    // The strip's empty band above the photos, well away from its buttons.
    UITestDriver::tapAt(strip, CGPointMake(10, 10));
    ASSERT_TRUE(waitUntil([&] { return !title->isFirstResponder(); }, 5));
    EXPECT_FALSE(UIAlertTestDriver::frontmostAlert().has_value());
}

TEST_F(ForumTapsTest, TheQuestionsLikeButtonAnswersATap) {
    signIn(3);
    auto detail = showScene<QuestionDetailController>("QuestionDetailController",
                                                      [](const Ref<QuestionDetailController>& screen) {
                                                          screen->setQuestionId(NSNumber::numberWithLong(24));
                                                      });
    ASSERT_TRUE(waitUntil([&] { return detail->detailQuestion() && !detail->comments().empty(); }));
    testsupport::pumpMainRunLoop(1.0);  // the answers' rows come in with an animation
    auto like = detail->detailView()->likeButton.lock();
    ASSERT_TRUE(like);
    ASSERT_TRUE(reachable(like));
    UITestDriver::tap(like);
    ASSERT_TRUE(waitUntil(
        [&] { return like->titleForState(UIControlStateNormal) == std::optional<std::string>("(3)"); }, 10));
    ASSERT_TRUE(waitUntil([&] { return !server.requestsTo("question/questionlike.do").empty(); }, 5));
}

// What the forum writes on its buttons reads where a finger reaches them: the list's ask button in
// the accent on white; the answer bar's send button and the publishing strip's submit picture in
// white on their fills, the picture drawn at the screen's scale so that it is as sharp as the text
// beside it.
TEST_F(ForumTapsTest, TheAskSendAndSubmitButtonsTitlesRead) {
    signIn(3);
    auto list = showScene<RizUrListViewController>("RizUrListViewController");
    ASSERT_TRUE(waitUntil([&] { return list->isViewLoaded(); }));
    auto ask = testsupport::buttonTitled(list->view(), "提问");
    ASSERT_TRUE(ask && reachable(ask));
    EXPECT_TRUE(testsupport::reads(ask));

    auto detail = showScene<QuestionDetailController>("QuestionDetailController",
                                                      [](const Ref<QuestionDetailController>& screen) {
                                                          screen->setQuestionId(NSNumber::numberWithLong(24));
                                                      });
    ASSERT_TRUE(waitUntil([&] { return detail->detailQuestion() && !detail->comments().empty(); }));
    testsupport::pumpMainRunLoop(1.0);
    auto send = testsupport::buttonTitled(detail->view(), "发送");
    ASSERT_TRUE(send);
    ASSERT_TRUE(reachable(send));
    EXPECT_TRUE(testsupport::readsWhite(send));

    auto publish = showScene<PublishQuestionViewController>("PublishQuestionViewController");
    ASSERT_TRUE(waitUntil([&] { return publish->brandArray().size() >= 2; }));
    auto submit = publish->messagePhotoView()->pushBtn;
    ASSERT_TRUE(submit && reachable(submit));
    for (UIControlState state : {UIControlStateNormal, UIControlStateSelected}) {
        SCOPED_TRACE(state);
        auto picture = submit->backgroundImageForState(state);
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->scale(), UIScreen::mainScreen()->scale());
        EXPECT_EQ(picture->size(), submit->bounds().size);
    }
    EXPECT_TRUE(testsupport::readsWhite(submit));
}

}  // namespace
