#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "foundation/NSLog.h"
#include "tests/uikit/ViewControllerTestSupport.h"
#include "uikit/UIActionSheet.h"
#include "uikit/UIAlertController.h"
#include "uikit/UIAlertTestDriver.h"
#include "uikit/UIAlertView.h"
#include "uikit/UITextField.h"

using namespace uikittest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// A screen that answers its alerts and sheets, writing what it hears into the log.
class AnsweringScreen : public RecordingController, public UIAlertViewDelegate, public UIActionSheetDelegate {
  public:
    using RecordingController::RecordingController;
    void alertViewClickedButtonAtIndex(const Ref<UIAlertView>& alert, long index) override {
        add("clicked " + std::to_string(index));
        if (index == 0 && dismissOnZero) dismissViewControllerAnimated(false);
    }
    void alertViewWillDismissWithButtonIndex(const Ref<UIAlertView>&, long index) override {
        add("willDismiss " + std::to_string(index));
    }
    void alertViewDidDismissWithButtonIndex(const Ref<UIAlertView>&, long index) override {
        add("didDismiss " + std::to_string(index));
    }
    void willPresentAlertView(const Ref<UIAlertView>&) override { add("willPresent"); }
    void didPresentAlertView(const Ref<UIAlertView>&) override { add("didPresent"); }
    void actionSheetClickedButtonAtIndex(const Ref<UIActionSheet>& sheet, long index) override {
        add("sheet " + std::to_string(sheet->tag()) + " clicked " + std::to_string(index));
    }
    void actionSheetDidDismissWithButtonIndex(const Ref<UIActionSheet>&, long index) override {
        add("sheet didDismiss " + std::to_string(index));
    }
    bool dismissOnZero = false;
};

Ref<UIAlertAction> action(const char* title, UIAlertActionStyle style) {
    return UIAlertAction::actionWithTitle(std::string(title), style);
}

class AlertTest : public ControllerTest {
  protected:
    void SetUp() override {
        ControllerTest::SetUp();
        UIAlertTestDriver::reset();
        screen = make<AnsweringScreen>("screen", log);
        showInWindow(screen);
        clearLog();
    }
    void TearDown() override {
        UIAlertTestDriver::reset();
        ControllerTest::TearDown();
    }
    Ref<AnsweringScreen> screen;
};

}  // namespace

TEST_F(AlertTest, AlertViewButtonIndexesPutCancelFirst) {
    auto alert = make<UIAlertView>(std::optional<std::string>("确认修改个人信息"), std::nullopt, nullptr,
                                   std::optional<std::string>("取消"), std::vector<std::string>{"确定"});
    EXPECT_EQ(alert->numberOfButtons(), 2);
    EXPECT_EQ(alert->cancelButtonIndex(), 0);
    EXPECT_EQ(alert->firstOtherButtonIndex(), 1);
    EXPECT_EQ(alert->buttonTitleAtIndex(0), "取消");
    EXPECT_EQ(alert->buttonTitleAtIndex(1), "确定");
    EXPECT_EQ(alert->buttonTitleAtIndex(2), std::nullopt);
    EXPECT_EQ(alert->buttonTitleAtIndex(-1), std::nullopt);
    EXPECT_EQ(alert->addButtonWithTitle("更多"), 2);

    auto bare =
        make<UIAlertView>(std::nullopt, std::optional<std::string>("请选择品牌！"), nullptr, std::nullopt);
    EXPECT_EQ(bare->cancelButtonIndex(), -1);
    EXPECT_EQ(bare->firstOtherButtonIndex(), -1);
    EXPECT_EQ(bare->addButtonWithTitle("确定"), 0);
    EXPECT_EQ(bare->firstOtherButtonIndex(), 0);
}

TEST_F(AlertTest, ShownAlertIsVisibleUntilAnswered) {
    EXPECT_EQ(UIAlertTestDriver::frontmostAlert(), std::nullopt);
    EXPECT_FALSE(UIAlertTestDriver::tapAlertButton(0));
    auto alert = make<UIAlertView>(std::optional<std::string>("加载失败,请重新进入"), std::nullopt, screen,
                                   std::optional<std::string>("确认"));
    alert->setTag(7);
    alert->show();
    EXPECT_TRUE(alert->isVisible());
    auto front = UIAlertTestDriver::frontmostAlert();
    ASSERT_TRUE(front.has_value());
    EXPECT_EQ(front->kind, UIAlertKind::AlertView);
    EXPECT_EQ(front->title, "加载失败,请重新进入");
    EXPECT_EQ(front->message, std::nullopt);
    EXPECT_THAT(front->buttonTitles, ElementsAre("确认"));
    EXPECT_EQ(front->cancelButtonIndex, 0);
    EXPECT_EQ(front->tag, 7);
    EXPECT_EQ(front->object, alert);
    EXPECT_THAT(calls(), ElementsAre("screen.willPresent", "screen.didPresent"));
}

TEST_F(AlertTest, AnsweringAnAlertViewCallsTheDelegateInOrder) {
    auto alert = make<UIAlertView>(std::nullopt, std::optional<std::string>("message"), screen,
                                   std::optional<std::string>("取消"), std::vector<std::string>{"确定"});
    alert->show();
    clearLog();
    EXPECT_TRUE(UIAlertTestDriver::tapAlertButton("确定"));
    EXPECT_THAT(calls(), ElementsAre("screen.clicked 1", "screen.willDismiss 1"));
    EXPECT_FALSE(alert->isVisible());
    EXPECT_THAT(UIAlertTestDriver::visibleAlerts(), IsEmpty());
    testsupport::drainMainRunLoop();
    EXPECT_THAT(calls(), ElementsAre("screen.clicked 1", "screen.willDismiss 1", "screen.didDismiss 1"));
}

TEST_F(AlertTest, AlertAnswerThatDismissesThePresentedScreen) {
    auto studio = make<AnsweringScreen>("studio", log);
    studio->dismissOnZero = true;
    screen->presentViewController(studio, false);
    testsupport::drainMainRunLoop();
    auto alert = make<UIAlertView>(std::optional<std::string>("加载失败,请重新进入"), std::nullopt, studio,
                                   std::optional<std::string>("确认"));
    alert->show();
    EXPECT_TRUE(UIAlertTestDriver::tapAlertButton(0));
    testsupport::drainMainRunLoop();
    EXPECT_EQ(screen->presentedViewController(), nullptr);
}

TEST_F(AlertTest, TappingAMissingButtonDoesNothing) {
    auto alert = make<UIAlertView>(std::optional<std::string>("t"), std::nullopt, screen,
                                   std::optional<std::string>("确定"));
    alert->show();
    clearLog();
    EXPECT_FALSE(UIAlertTestDriver::tapAlertButton(1));
    EXPECT_FALSE(UIAlertTestDriver::tapAlertButton(-1));
    EXPECT_FALSE(UIAlertTestDriver::tapAlertButton("取消"));
    EXPECT_TRUE(alert->isVisible());
    EXPECT_THAT(calls(), IsEmpty());
}

TEST_F(AlertTest, ShownAlertStaysAliveWhileVisibleAndTheHistoryRemembersIt) {
    Weak<UIAlertView> weak;
    {
        auto alert = make<UIAlertView>(std::optional<std::string>("截图成功"), std::nullopt, nullptr,
                                       std::optional<std::string>("确定"));
        alert->show();
        weak = alert;
    }
    ASSERT_NE(weak.lock(), nullptr);
    EXPECT_TRUE(weak.lock()->isVisible());
    EXPECT_TRUE(UIAlertTestDriver::tapAlertButton(0)) << "an alert without a delegate closes";
    testsupport::drainMainRunLoop();
    EXPECT_EQ(weak.lock(), nullptr);
    auto history = UIAlertTestDriver::shownAlerts();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history.front().title, "截图成功");
    EXPECT_EQ(history.front().object, nullptr);
}

TEST_F(AlertTest, LastShownAlertIsTheFrontmost) {
    auto first = make<UIAlertView>(std::optional<std::string>("first"), std::nullopt, nullptr,
                                   std::optional<std::string>("确定"));
    auto second = make<UIAlertView>(std::optional<std::string>("second"), std::nullopt, nullptr,
                                    std::optional<std::string>("确定"));
    first->show();
    second->show();
    first->show();  // already visible: stays where it is
    auto visible = UIAlertTestDriver::visibleAlerts();
    ASSERT_EQ(visible.size(), 2u);
    EXPECT_EQ(visible[0].title, "first");
    EXPECT_EQ(UIAlertTestDriver::frontmostAlert()->title, "second");
    UIAlertTestDriver::tapAlertButton(0);
    EXPECT_EQ(UIAlertTestDriver::frontmostAlert()->title, "first");
}

TEST_F(AlertTest, ProgramDismissalSkipsTheClick) {
    auto alert = make<UIAlertView>(std::optional<std::string>("t"), std::nullopt, screen,
                                   std::optional<std::string>("确定"));
    alert->show();
    clearLog();
    alert->dismissWithClickedButtonIndex(0, true);
    testsupport::drainMainRunLoop();
    EXPECT_THAT(calls(), ElementsAre("screen.willDismiss 0", "screen.didDismiss 0"));
    alert->dismissWithClickedButtonIndex(0, true);  // not visible any more
    testsupport::drainMainRunLoop();
    EXPECT_EQ(calls().size(), 2u);
}

TEST_F(AlertTest, ActionSheetPutsCancelLast) {
    auto sheet = make<UIActionSheet>(std::nullopt, screen, std::optional<std::string>("取消"), std::nullopt,
                                     std::vector<std::string>{"照相", "从相册选择"});
    EXPECT_EQ(sheet->cancelButtonIndex(), 2);
    EXPECT_EQ(sheet->destructiveButtonIndex(), -1);
    EXPECT_EQ(sheet->firstOtherButtonIndex(), 0);
    auto destructive =
        make<UIActionSheet>(std::optional<std::string>("t"), nullptr, std::optional<std::string>("取消"),
                            std::optional<std::string>("删除"), std::vector<std::string>{"a"});
    EXPECT_EQ(destructive->destructiveButtonIndex(), 0);
    EXPECT_EQ(destructive->firstOtherButtonIndex(), 1);
    EXPECT_EQ(destructive->cancelButtonIndex(), 2);
    EXPECT_EQ(destructive->buttonTitleAtIndex(0), "删除");
}

TEST_F(AlertTest, ActionSheetShownInAViewIsAnswered) {
    auto sheet = make<UIActionSheet>(std::nullopt, screen, std::optional<std::string>("取消"), std::nullopt,
                                     std::vector<std::string>{"男", "女"});
    sheet->setTag(10001);
    sheet->showInView(screen->view());
    auto front = UIAlertTestDriver::frontmostAlert();
    ASSERT_TRUE(front.has_value());
    EXPECT_EQ(front->kind, UIAlertKind::ActionSheet);
    EXPECT_EQ(front->title, std::nullopt);
    EXPECT_THAT(front->buttonTitles, ElementsAre("男", "女", "取消"));
    EXPECT_EQ(front->cancelButtonIndex, 2);
    EXPECT_EQ(front->shownInView, screen->view());
    EXPECT_TRUE(UIAlertTestDriver::tapAlertButton("女"));
    testsupport::drainMainRunLoop();
    EXPECT_THAT(calls(), ElementsAre("screen.sheet 10001 clicked 1", "screen.sheet didDismiss 1"));
}

TEST_F(AlertTest, AlertControllerOnAScreen) {
    int handled = 0;
    auto alert = UIAlertController::alertControllerWithTitle(std::optional<std::string>("温馨提示"),
                                                             std::nullopt, UIAlertControllerStyleAlert);
    alert->addAction(UIAlertAction::actionWithTitle(std::optional<std::string>("确定"),
                                                    UIAlertActionStyleCancel,
                                                    [&handled](const Ref<UIAlertAction>& action) {
                                                        EXPECT_EQ(action->title(), "确定");
                                                        ++handled;
                                                    }));
    screen->presentViewController(alert, true);
    auto front = UIAlertTestDriver::frontmostAlert();
    ASSERT_TRUE(front.has_value());
    EXPECT_EQ(front->kind, UIAlertKind::AlertController);
    EXPECT_EQ(front->title, "温馨提示");
    EXPECT_EQ(front->preferredStyle, UIAlertControllerStyleAlert);
    EXPECT_THAT(front->buttonTitles, ElementsAre("确定"));
    EXPECT_EQ(front->cancelButtonIndex, 0);
    clock->advance(0.6);
    EXPECT_EQ(screen->appearanceState(), UIViewControllerAppearanceState::Appeared);  // stays underneath
    EXPECT_TRUE(UIAlertTestDriver::tapAlertButton(0));
    EXPECT_THAT(UIAlertTestDriver::visibleAlerts(), IsEmpty());
    EXPECT_EQ(handled, 0);  // the handler runs once the alert is gone
    testsupport::drainMainRunLoop();
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(screen->presentedViewController(), nullptr);
}

TEST_F(AlertTest, AlertControllerTappedWhileItStillSlidesIn) {
    int handled = 0;
    auto alert = UIAlertController::alertControllerWithTitle(std::nullopt, std::optional<std::string>("m"),
                                                             UIAlertControllerStyleAlert);
    alert->addAction(UIAlertAction::actionWithTitle(std::optional<std::string>("确定"),
                                                    UIAlertActionStyleDefault,
                                                    [&handled](const Ref<UIAlertAction>&) { ++handled; }));
    screen->presentViewController(alert, true);
    EXPECT_TRUE(UIAlertTestDriver::tapAlertButton(0));
    clock->advance(0.6);
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(screen->presentedViewController(), nullptr);
}

TEST_F(AlertTest, AlertControllerOnAPresentedController) {
    auto picker = controller("picker");
    screen->presentViewController(picker, true);
    clock->advance(0.6);
    auto alert = UIAlertController::alertControllerWithTitle(
        std::optional<std::string>("提示"), std::optional<std::string>("您还没选择图片，请重新选择"),
        UIAlertControllerStyleAlert);
    bool again = false;
    alert->addAction(UIAlertAction::actionWithTitle(std::optional<std::string>("确定"),
                                                    UIAlertActionStyleDefault,
                                                    [&again](const Ref<UIAlertAction>&) { again = true; }));
    picker->presentViewController(alert, true);
    EXPECT_EQ(alert->presentingViewController(), picker);
    EXPECT_EQ(UIAlertTestDriver::frontmostAlert()->message, "您还没选择图片，请重新选择");
    clock->advance(0.6);
    EXPECT_TRUE(UIAlertTestDriver::tapAlertButton("确定"));
    testsupport::drainMainRunLoop();
    EXPECT_TRUE(again);
    EXPECT_EQ(picker->presentedViewController(), nullptr);
    EXPECT_EQ(screen->presentedViewController(), picker);  // the picker stays
}

TEST_F(AlertTest, DisabledActionCannotBePressed) {
    auto alert = UIAlertController::alertControllerWithTitle({}, {}, UIAlertControllerStyleActionSheet);
    auto destroy = action("删除", UIAlertActionStyleDestructive);
    destroy->setEnabled(false);
    alert->addAction(destroy);
    screen->presentViewController(alert, false);
    testsupport::drainMainRunLoop();
    EXPECT_EQ(UIAlertTestDriver::frontmostAlert()->destructiveButtonIndex, 0);
    EXPECT_FALSE(UIAlertTestDriver::tapAlertButton(0));
    EXPECT_EQ(screen->presentedViewController(), alert);
}

TEST_F(AlertTest, OnlyOneCancelAction) {
    auto alert = UIAlertController::alertControllerWithTitle({}, {}, UIAlertControllerStyleAlert);
    alert->addAction(action("取消", UIAlertActionStyleCancel));
    alert->addAction(action("不", UIAlertActionStyleCancel));
    alert->addAction(action("登陆", UIAlertActionStyleDefault));
    ASSERT_EQ(alert->actions().size(), 2u);
    EXPECT_EQ(alert->actions()[1]->title(), "登陆");
    EXPECT_EQ(alert->modalPresentationStyle(), UIModalPresentationCustom);
    // Not presented, it is not visible.
    EXPECT_FALSE(alert->pressActionAtIndex(0));
    EXPECT_EQ(UIAlertTestDriver::frontmostAlert(), std::nullopt);
}

TEST_F(AlertTest, AlertViewsAndControllersStackInShowingOrder) {
    auto controllerAlert = UIAlertController::alertControllerWithTitle(
        std::optional<std::string>("controller"), std::nullopt, UIAlertControllerStyleAlert);
    controllerAlert->addAction(action("ok", UIAlertActionStyleDefault));
    screen->presentViewController(controllerAlert, false);
    auto view = make<UIAlertView>(std::optional<std::string>("view"), std::nullopt, nullptr,
                                  std::optional<std::string>("ok"));
    view->show();
    auto visible = UIAlertTestDriver::visibleAlerts();
    ASSERT_EQ(visible.size(), 2u);
    EXPECT_EQ(visible[0].kind, UIAlertKind::AlertController);
    EXPECT_EQ(visible[1].kind, UIAlertKind::AlertView);
    UIAlertTestDriver::reset();
    EXPECT_THAT(UIAlertTestDriver::visibleAlerts(), IsEmpty());
    EXPECT_THAT(UIAlertTestDriver::shownAlerts(), IsEmpty());
}

TEST_F(AlertTest, InputStylesGiveTextFields) {
    auto alert = make<UIAlertView>(std::optional<std::string>("t"), std::nullopt, nullptr,
                                   std::optional<std::string>("确定"));
    EXPECT_EQ(alert->textFieldAtIndex(0), nullptr);
    alert->setAlertViewStyle(UIAlertViewStylePlainTextInput);
    ASSERT_NE(alert->textFieldAtIndex(0), nullptr);
    EXPECT_FALSE(alert->textFieldAtIndex(0)->isSecureTextEntry());
    EXPECT_EQ(alert->textFieldAtIndex(1), nullptr);
    alert->setAlertViewStyle(UIAlertViewStyleLoginAndPasswordInput);
    ASSERT_NE(alert->textFieldAtIndex(1), nullptr);
    EXPECT_TRUE(alert->textFieldAtIndex(1)->isSecureTextEntry());
    alert->setAlertViewStyle(UIAlertViewStyleSecureTextInput);
    EXPECT_TRUE(alert->textFieldAtIndex(0)->isSecureTextEntry());
    EXPECT_EQ(alert->textFieldAtIndex(1), nullptr);
}

TEST_F(AlertTest, AlertControllerTextFieldsAreConfigured) {
    auto alert = UIAlertController::alertControllerWithTitle({}, {}, UIAlertControllerStyleAlert);
    alert->addTextFieldWithConfigurationHandler(
        [](const Ref<UITextField>& field) { field->setPlaceholder(std::optional<std::string>("名字")); });
    ASSERT_EQ(alert->textFields().size(), 1u);
    EXPECT_EQ(alert->textFields().front()->placeholder(), "名字");
    auto sheet = UIAlertController::alertControllerWithTitle(std::nullopt, std::nullopt,
                                                             UIAlertControllerStyleActionSheet);
    sheet->addTextFieldWithConfigurationHandler(nullptr);
    EXPECT_TRUE(sheet->textFields().empty());
}
