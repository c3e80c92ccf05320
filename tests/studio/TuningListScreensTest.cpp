// The tuning-list screens against the stand-in server: the list (empty, filled, choosing,
// deleting, an expired sign-in), the detail's rows and its read and save buttons, the save box
// (the name filter under hostile input, the name clash, success closing two screens, the event
// entry) and the background taps that close.

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "foundation/NSString.h"
#include "graphics/UIGraphics.h"
#include "studio/MainStoryboard.h"
#include "studio/PopAnimator.h"
#include "studio/QVNTuningListCell.h"
#include "studio/SlideOutAnimationController.h"
#include "studio/TuningDetailViewController.h"
#include "studio/TuningListSaveViewController.h"
#include "studio/TuningListTableViewController.h"
#include "tests/studio/MainViewControllerTestSupport.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UITextEntryDriver.h"

using namespace hometest;

namespace {

class RecordingStudio : public UIViewController, public TuningListTableViewControllerDelegate {
  public:
    std::string className() const override { return "RecordingStudio"; }
    void didSelectTuningList(const Ref<QVNTuningList>& list) override { read.push_back(list); }
    std::vector<Ref<QVNTuningList>> read;
};

class TuningListScreensTest : public ScreenTest {
  protected:
    void SetUp() override {
        ScreenTest::SetUp();
        home = make<UIViewController>();
        studio = make<RecordingStudio>();
        show(home);
        home->presentViewController(studio, false);
        settle();
    }
    template <class T>
    Ref<T> scene(const char* identifier) {
        return std::dynamic_pointer_cast<T>(UIStoryboard::storyboardWithName("Car", nullptr)
                                                ->instantiateViewControllerWithIdentifier(identifier));
    }
    Ref<QVNTuningList> store(const std::string& name) {
        auto list = make<QVNTuningList>();
        list->list_name = name;
        list->car_id = NSNumber::numberWithInt(101);
        list->optionGroup = Dictionary{{"lunke", "运动轮毂"}, {"weiyi", "碳纤尾翼"}};
        bool done = false;
        QVNTuningList::upLoadTuningList(list,
                                        [&](const std::optional<NSNumber>& id, const Ref<NSError>& error) {
                                            EXPECT_FALSE(error);
                                            list->tuninglist_id = id;
                                            done = true;
                                        });
        EXPECT_TRUE(waitUntil([&] { return done; }));
        return list;
    }
    Ref<TuningListTableViewController> openList() {
        auto list = scene<TuningListTableViewController>(MainStoryboard::kTuningListIdentifier);
        list->setDelegate(studio);
        studio->presentViewController(list, false);
        settle();
        return list;
    }
    std::string hudText(const Ref<VHProgressHUD>& hud) { return hud->labelText().value_or(""); }
    bool hudShowing(const Ref<VHProgressHUD>& hud) {
        return hud->superview() && hud->alpha() > 0.5 && !hud->isHidden();
    }

    Ref<UIViewController> home;
    Ref<RecordingStudio> studio;
};

}  // namespace

// ---- list ---------------------------------------------------------------------------------------

TEST_F(TuningListScreensTest, WithoutListsTheHUDSaysSoAndHides) {
    signIn();
    auto list = openList();
    ASSERT_TRUE(waitUntil([&] { return hudText(list->hud()) == "你还没有清单"; }));
    EXPECT_FALSE(list->deleteButton.lock()->isEnabled());
    EXPECT_FALSE(list->checkButton.lock()->isEnabled());
    EXPECT_EQ(list->hud()->mode(), VHProgressHUDModeText);
    EXPECT_TRUE(list->view()->backgroundColor()->isEqual(*UIColor::clearColor()));
    EXPECT_EQ(list->supportedInterfaceOrientations(), UIInterfaceOrientationMaskLandscape);
    EXPECT_EQ(list->preferredInterfaceOrientationForPresentation(), UIInterfaceOrientationLandscapeLeft);
    clock.advance(2.0);
    EXPECT_FALSE(hudShowing(list->hud()));
}

TEST_F(TuningListScreensTest, ListsAreShownWithTheFirstChosen) {
    signIn();
    store("街道版");
    store("赛道版");
    auto list = openList();
    ASSERT_TRUE(waitUntil([&] { return list->tuningsDataSource() != nullptr; }));
    auto table = list->tableView.lock();
    ASSERT_EQ(table->numberOfRowsInSection(0), 2);
    EXPECT_TRUE(list->deleteButton.lock()->isEnabled());
    EXPECT_TRUE(list->checkButton.lock()->isEnabled());
    ASSERT_TRUE(list->selectedTuningList());
    EXPECT_TRUE(list->selectedTuningList()->selected);
    settle();
    auto first = std::dynamic_pointer_cast<QVNTuningListCell>(
        table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(0, 0)));
    auto second = std::dynamic_pointer_cast<QVNTuningListCell>(
        table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(1, 0)));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->accessoryType(), UITableViewCellAccessoryCheckmark);
    EXPECT_EQ(second->accessoryType(), UITableViewCellAccessoryNone);
    EXPECT_EQ(first->listNameLabel.lock()->text(), first->tuningList()->list_name);
    EXPECT_EQ(first->selectionStyle(), UITableViewCellSelectionStyleNone);

    // Choosing another row moves the mark; the chosen row again changes nothing.
    UITestDriver::tap(second);
    settle();
    EXPECT_EQ(list->selectedTuningList(), second->tuningList());
    EXPECT_FALSE(first->tuningList()->selected);
    auto chosen = list->selectedTuningList();
    UITestDriver::tap(table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(1, 0)));
    settle();
    EXPECT_EQ(list->selectedTuningList(), chosen);
    EXPECT_TRUE(chosen->selected);
}

TEST_F(TuningListScreensTest, DeletingTheOnlyListDisablesBothButtons) {
    signIn();
    store("唯一");
    auto list = openList();
    ASSERT_TRUE(waitUntil([&] { return list->tuningsDataSource() != nullptr; }));
    UITestDriver::tap(list->deleteButton.lock());
    ASSERT_TRUE(waitUntil([&] { return hudText(list->hud()) == "删除成功"; }));
    EXPECT_TRUE(server.tuningLists(server.users().at(0).user_id).empty());
    EXPECT_EQ(list->tableView.lock()->numberOfRowsInSection(0), 0);
    EXPECT_FALSE(list->selectedTuningList());
    EXPECT_FALSE(list->deleteButton.lock()->isEnabled());
    EXPECT_FALSE(list->checkButton.lock()->isEnabled());
    clock.advance(1.5);
    EXPECT_FALSE(hudShowing(list->hud()));
}

TEST_F(TuningListScreensTest, DeletingChoosesTheLastRemainingList) {
    signIn();
    store("一");
    store("二");
    auto last = store("三");
    auto list = openList();
    ASSERT_TRUE(waitUntil([&] { return list->tuningsDataSource() != nullptr; }));
    list->deleteTuningList(nullptr);
    ASSERT_TRUE(waitUntil([&] { return list->tuningsDataSource()->items().count() == 2; }));
    ASSERT_TRUE(list->selectedTuningList());
    EXPECT_EQ(list->selectedTuningList()->list_name, last->list_name);
}

TEST_F(TuningListScreensTest, AFailedDeleteSaysSo) {
    signIn();
    store("一");
    auto list = openList();
    ASSERT_TRUE(waitUntil([&] { return list->tuningsDataSource() != nullptr; }));
    devserver::RouteControl broken;
    broken.status = 500;
    server.setRouteControl("car/deletetuninglist.do", broken);
    list->deleteTuningList(nullptr);
    ASSERT_TRUE(waitUntil([&] { return hudText(list->hud()) == "删除失败"; }));
    EXPECT_EQ(list->tuningsDataSource()->items().count(), 1u);
}

TEST_F(TuningListScreensTest, AnExpiredSignInAlertsAndSignsOut) {
    signIn();
    server.expireTokens();
    auto list = openList();
    ASSERT_TRUE(waitUntil([] { return UIAlertTestDriver::frontmostAlert().has_value(); }));
    auto alert = UIAlertTestDriver::frontmostAlert();
    EXPECT_EQ(alert->title, "帐户已失效请重新登录");
    EXPECT_EQ(alert->buttonTitles, std::vector<std::string>{"确定"});
    EXPECT_FALSE(QVNUserManager::shareObject()->hasCurrentUser());
}

TEST_F(TuningListScreensTest, AnUnreachableServerSaysReadingFailed) {
    signIn();
    devserver::RouteControl broken;
    broken.dropConnection = true;
    server.setRouteControl("car/gettuninglist.do", broken);
    auto list = openList();
    ASSERT_TRUE(waitUntil([&] { return hudText(list->hud()) == "读取失败"; }));
}

TEST_F(TuningListScreensTest, ABackgroundTapClosesButAPanelTapDoesNot) {
    signIn();
    auto list = openList();
    ASSERT_TRUE(waitUntil([&] { return !hudText(list->hud()).empty(); }));
    clock.advance(2.0);
    UITestDriver::tap(list->tableView.lock());
    clock.advance(0.6);
    EXPECT_EQ(studio->presentedViewController(), list);
    UITestDriver::tapAt(list->view(), CGPointMake(10, 10));
    clock.advance(0.6);
    EXPECT_FALSE(studio->presentedViewController());
}

TEST_F(TuningListScreensTest, ReadingAStoredListClosesBothScreensAndTellsTheStudio) {
    signIn();
    store("街道版");
    auto list = openList();
    ASSERT_TRUE(waitUntil([&] { return list->tuningsDataSource() != nullptr; }));
    UITestDriver::tap(list->checkButton.lock());
    settle(0.6);
    auto detail = std::dynamic_pointer_cast<TuningDetailViewController>(list->presentedViewController());
    ASSERT_TRUE(detail);
    EXPECT_EQ(detail->tuningList(), list->selectedTuningList());
    EXPECT_EQ(detail->delegate().get(), static_cast<TuningDetailViewControllerDelegate*>(list.get()));
    auto button = detail->rightFirstButton.lock();
    EXPECT_EQ(button->imageForState(UIControlStateNormal),
              HomeStandInPages::imageNamed("duquqingdan_up.png"));
    EXPECT_EQ(button->imageForState(UIControlStateSelected),
              HomeStandInPages::imageNamed("duquqingdan_down.png"));
    UITestDriver::tap(button);
    clock.advance(1.5);
    ASSERT_EQ(studio->read.size(), 1u);
    EXPECT_EQ(studio->read[0], list->selectedTuningList());
    EXPECT_FALSE(studio->presentedViewController());
}

// ---- detail -------------------------------------------------------------------------------------

TEST(TuningDetailRowsTest, SevenSlotsInOrderWithoutColours) {
    Dictionary group{{"weiyi", "碳纤尾翼"},
                     {"qianbaowei", "竞技前包"},
                     {"qianbaowei_color", Dictionary{{"r", 1}, {"g", 2}, {"b", 3}, {"isColor", 1}}},
                     {"cequn", "低趴侧裙"},
                     {"unknown", "x"}};
    auto rows = TuningDetailViewController::rowTexts(group);
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[0], "前包围: 竞技前包");
    EXPECT_EQ(rows[1], "");
    EXPECT_EQ(rows[4], "侧裙: 低趴侧裙");
    EXPECT_EQ(rows[6], "尾翼: 碳纤尾翼");
    EXPECT_EQ(TuningDetailViewController::rowTexts(std::nullopt), std::vector<std::string>(7));
    // A number where a name should be still reads.
    EXPECT_EQ(TuningDetailViewController::rowTexts(Dictionary{{"lunke", 7}})[2], "轮壳: 7");
}

TEST_F(TuningListScreensTest, ANewListGoesOnToTheSaveBoxWithCustomPresentation) {
    signIn();
    auto detail = scene<TuningDetailViewController>(MainStoryboard::kTuningDetailIdentifier);
    auto fresh = make<QVNTuningList>();
    fresh->optionGroup = Dictionary{{"lunke", "运动轮毂"}};
    detail->setTuningList(fresh);
    studio->presentViewController(detail, false);
    settle();
    auto button = detail->rightFirstButton.lock();
    EXPECT_EQ(button->imageForState(UIControlStateNormal), HomeStandInPages::imageNamed("baocun_up"));
    EXPECT_EQ(detail->partDataSource()->items().count(), 7u);
    UITestDriver::tap(button);
    auto box = std::dynamic_pointer_cast<TuningListSaveViewController>(detail->presentedViewController());
    ASSERT_TRUE(box);
    EXPECT_EQ(box->tuningList(), fresh);
    EXPECT_EQ(box->modalPresentationStyle(), UIModalPresentationCustom);
    EXPECT_FALSE(box->activity());
    clock.advance(1.1);
    EXPECT_EQ(box->appearanceState(), UIViewControllerAppearanceState::Appeared);
    // The pop animator's backdrop lies under the box, and the detail stays visible behind it.
    EXPECT_TRUE(detail->view()->window());
}

// ---- save box -----------------------------------------------------------------------------------

TEST(TuningListNameFilterTest, EmojiAloneIsRefusedAndMixedTextGoesInWhole) {
    EXPECT_TRUE(TuningListSaveViewController::acceptsReplacement(""));
    EXPECT_TRUE(TuningListSaveViewController::acceptsReplacement("a"));
    EXPECT_TRUE(TuningListSaveViewController::acceptsReplacement("街道版"));
    EXPECT_TRUE(TuningListSaveViewController::acceptsReplacement("a\xF0\x9F\x9A\x97"));
    EXPECT_FALSE(TuningListSaveViewController::acceptsReplacement("\xF0\x9F\x9A\x97"));
    EXPECT_FALSE(TuningListSaveViewController::acceptsReplacement("\xF0\x9F\x98\x80\xE2\x9C\x88"));
    EXPECT_FALSE(TuningListSaveViewController::acceptsReplacement("\t"));
    EXPECT_TRUE(TuningListSaveViewController::acceptsReplacement("\n"));
    EXPECT_TRUE(TuningListSaveViewController::acceptsReplacement("\xEF\xBC\x81"));  // full-width "!"
    // Broken UTF-8 counts as nothing allowed.
    EXPECT_FALSE(TuningListSaveViewController::acceptsReplacement("\xFF\xFE"));
    EXPECT_FALSE(TuningListSaveViewController::acceptsReplacement("\xF0\x9F"));
    // Range edges.
    EXPECT_TRUE(TuningListSaveViewController::isAllowedCharacter(0x7E));
    EXPECT_FALSE(TuningListSaveViewController::isAllowedCharacter(0x7F));
    EXPECT_TRUE(TuningListSaveViewController::isAllowedCharacter(0x80));
    EXPECT_FALSE(TuningListSaveViewController::isAllowedCharacter(0xBF));
    EXPECT_TRUE(TuningListSaveViewController::isAllowedCharacter(0xA4CF));
    EXPECT_FALSE(TuningListSaveViewController::isAllowedCharacter(0xA4D0));
    EXPECT_FALSE(TuningListSaveViewController::isAllowedCharacter(0x2020));
    EXPECT_FALSE(TuningListSaveViewController::isAllowedCharacter(0xFFF0));
}

TEST(TuningListNameFilterTest, MutatedInputNeverCrashesAndAgreesWithTheRanges) {
    const std::string seed = "街道版 a\xF0\x9F\x9A\x97 Z\xEF\xBC\x81\n";
    for (unsigned i = 0; i < 3000; ++i) {
        std::string text = testsupport::mutate(seed, i);
        bool accepted = TuningListSaveViewController::acceptsReplacement(text);
        bool anyAllowed = false;
        std::size_t at = 0;
        while (at < text.size())
            anyAllowed |= TuningListSaveViewController::isAllowedCharacter(detail::decodeUTF8(text, at));
        EXPECT_EQ(accepted, text.empty() || anyAllowed);
    }
}

class SaveBoxTest : public TuningListScreensTest {
  protected:
    Ref<TuningListSaveViewController> openBox(const Ref<QVNActivity>& activity = nullptr) {
        auto box = scene<TuningListSaveViewController>(MainStoryboard::kTuningSaveIdentifier);
        auto list = make<QVNTuningList>();
        list->car_id = NSNumber::numberWithInt(101);
        list->optionGroup = Dictionary{{"lunke", "运动轮毂"}};
        box->setTuningList(list);
        box->setActivity(activity);
        studio->presentViewController(box, true);
        clock.advance(1.1);
        return box;
    }
    void type(const Ref<TuningListSaveViewController>& box, const std::string& text) {
        UITextEntryDriver::typeText(box->nameTextField.lock(), text);
    }
};

TEST_F(SaveBoxTest, TheBoxIsItsOwnPopAndSlideOutDelegate) {
    auto box = scene<TuningListSaveViewController>(MainStoryboard::kTuningSaveIdentifier);
    EXPECT_EQ(box->transitioningDelegate().get(),
              static_cast<UIViewControllerTransitioningDelegate*>(box.get()));
    EXPECT_EQ(box->modalPresentationStyle(), UIModalPresentationCustom);
    EXPECT_TRUE(std::dynamic_pointer_cast<PopAnimator>(
        box->animationControllerForPresentedController(box, studio, studio)));
    EXPECT_TRUE(std::dynamic_pointer_cast<SlideOutAnimationController>(
        box->animationControllerForDismissedController(box)));
}

TEST_F(SaveBoxTest, TheStoreButtonFollowsTheFieldAndEmojiAreRefused) {
    signIn();
    auto box = openBox();
    auto store = box->configureButton.lock();
    EXPECT_FALSE(store->isEnabled());
    type(box, "\xF0\x9F\x9A\x97");
    EXPECT_EQ(box->nameTextField.lock()->text(), "");
    EXPECT_FALSE(store->isEnabled());
    // Pasted as one piece, a letter carries the emoji in with it.
    UITextEntryDriver::replaceRange(box->nameTextField.lock(), NSMakeRange(0, 0), "a\xF0\x9F\x9A\x97");
    EXPECT_EQ(box->nameTextField.lock()->text(), "a\xF0\x9F\x9A\x97");
    EXPECT_TRUE(store->isEnabled());
}

TEST_F(SaveBoxTest, SignedOutTheStoreAsksToSignIn) {
    auto box = openBox();
    box->nameTextField.lock()->setText(std::string("x"));
    box->configureButtonDidTouch(nullptr);
    auto alert = UIAlertTestDriver::frontmostAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->title, "请登录");
    EXPECT_TRUE(server.requestsTo("car/uploadtuninglist.do").empty());
}

TEST_F(SaveBoxTest, ANameTakenAlreadyIsSaidAndTheBoxStays) {
    signIn();
    store("街道版");
    auto box = openBox();
    type(box, "街道版");
    UITestDriver::tap(box->configureButton.lock());
    EXPECT_EQ(box->hud()->labelText(), "正在保存");
    ASSERT_TRUE(waitUntil([&] { return box->hud()->labelText() == "该清单命名已存在"; }));
    clock.advance(1.5);
    EXPECT_EQ(studio->presentedViewController(), box);
    EXPECT_FALSE(box->tuningList()->tuninglist_id);
}

TEST_F(SaveBoxTest, ASaveClosesTheBoxAndTheScreenBelowAfterOneSecond) {
    signIn();
    auto box = openBox();
    type(box, "新清单");
    UITestDriver::tap(box->configureButton.lock());
    ASSERT_TRUE(waitUntil([&] { return box->hud()->labelText() == "保存成功"; }));
    EXPECT_EQ(server.tuningLists(server.users().at(0).user_id).size(), 1u);
    EXPECT_EQ(box->tuningList()->list_name, "新清单");
    EXPECT_FALSE(box->tuningList()->tuninglist_id);  // a plain save keeps the record as it was
    clock.advance(0.9);
    EXPECT_EQ(home->presentedViewController(), studio);
    clock.advance(1.0);
    EXPECT_FALSE(home->presentedViewController());
}

TEST_F(SaveBoxTest, AnExpiredSignInAlertsAndSignsOut) {
    signIn();
    server.expireTokens();
    auto box = openBox();
    type(box, "x");
    UITestDriver::tap(box->configureButton.lock());
    ASSERT_TRUE(waitUntil([] { return UIAlertTestDriver::frontmostAlert().has_value(); }));
    EXPECT_EQ(UIAlertTestDriver::frontmostAlert()->title, "帐号失效请重新登录");
    EXPECT_FALSE(QVNUserManager::shareObject()->hasCurrentUser());
}

TEST_F(SaveBoxTest, AnEventEntryUploadsTheScreenshotAndJoins) {
    signIn();
    std::atomic<int> joins{0};
    // Written on the server's thread; the socket between the two is invisible to the thread checker.
    std::mutex joinedMutex;
    std::string joinedList;
    server.routes().get("event/joinevent.do", [&](const devserver::Request& request) {
        std::lock_guard lock(joinedMutex);
        ++joins;
        joinedList = request.queryParam("tuninglist_id").value_or("");
        return devserver::Reply::success();
    });
    auto activity = make<QVNActivity>();
    activity->event_id = NSNumber::numberWithInt(7);
    auto box = openBox(activity);
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(8, 8), true, 1);
    box->setScreenImage(UIGraphicsGetImageFromCurrentImageContext());
    UIGraphicsEndImageContext();
    type(box, "参赛版");
    UITestDriver::tap(box->configureButton.lock());
    EXPECT_EQ(box->hud()->labelText(), "正在参与");
    ASSERT_TRUE(waitUntil([&] { return box->hud()->labelText() == "参与成功"; }));
    EXPECT_EQ(joins.load(), 1);
    ASSERT_TRUE(box->tuningList()->tuninglist_id);
    std::string listSent;
    {
        std::lock_guard lock(joinedMutex);
        listSent = joinedList;
    }
    EXPECT_EQ(listSent, box->tuningList()->tuninglist_id->stringValue());
    ASSERT_TRUE(activity->is_join);
    EXPECT_EQ(activity->is_join->intValue(), 1);
    clock.advance(1.4);
    EXPECT_EQ(home->presentedViewController(), studio);
    clock.advance(0.8);
    EXPECT_FALSE(home->presentedViewController());
}

TEST_F(SaveBoxTest, AFailedJoinSaysSoAndStays) {
    signIn();
    server.routes().get("event/joinevent.do", [](const devserver::Request&) {
        return devserver::Reply::failure(10006, "no such event");
    });
    auto activity = make<QVNActivity>();
    activity->event_id = NSNumber::numberWithInt(7);
    auto box = openBox(activity);
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(8, 8), true, 1);
    box->setScreenImage(UIGraphicsGetImageFromCurrentImageContext());
    UIGraphicsEndImageContext();
    type(box, "参赛版");
    UITestDriver::tap(box->configureButton.lock());
    ASSERT_TRUE(waitUntil([&] { return box->hud()->labelText() == "参与失败"; }));
    clock.advance(1.6);
    EXPECT_EQ(studio->presentedViewController(), box);
    EXPECT_FALSE(activity->is_join);
}

TEST_F(SaveBoxTest, CancelFliesTheBoxOut) {
    auto box = openBox();
    UITestDriver::tap(box->cancelButton.lock());
    clock.advance(0.2);
    EXPECT_EQ(studio->presentedViewController(), box);
    clock.advance(0.2);
    EXPECT_FALSE(studio->presentedViewController());
}
