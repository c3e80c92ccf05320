// The studio's shell and loading road: entering, the five states, the console slide, the loading
// overlay on the manual clock, the catalogue and the default car with the percentage HUD, choosing
// brands and cars, and taking over tuning lists.

#include "tests/studio/CarViewControllerTestSupport.h"

#include <thread>

#include "app/QVNConfiguration.h"
#include "uikit/UIAlertController.h"

using namespace carstudiotest;

namespace {

class CarViewControllerTest : public CarStudioTest {};

Ref<QVNActivity> anEvent() {
    return make<QVNActivity>();
}

}  // namespace

TEST_F(CarViewControllerTest, EnteringWithoutListOrEventHidesBothEventButtons) {
    auto screen = makeStudio();
    ASSERT_NE(screen, nullptr);
    screen->loadViewIfNeeded();
    EXPECT_TRUE(screen->saveTuningListButton.lock()->isHidden());
    EXPECT_TRUE(screen->screenShotButton.lock()->isHidden());
    EXPECT_EQ(screen->showcaseState(), CarShowcaseStateInitial);
    EXPECT_DOUBLE_EQ(screen->showcaseScale(), 0.5);
    EXPECT_TRUE(screen->btnShare.lock()->isHidden());
    EXPECT_TRUE(screen->colorPicker.lock()->isHidden());
    EXPECT_NE(screen->modifyEntranceView.lock(), nullptr);
    EXPECT_EQ(screen->supportedInterfaceOrientations(), 24u);
    EXPECT_EQ(screen->preferredInterfaceOrientationForPresentation(), 4);
    EXPECT_TRUE(screen->prefersStatusBarHidden());
}

TEST_F(CarViewControllerTest, AnEventShowsBothButtonsAndAListHidesTheScreenshotButton) {
    auto withEvent = makeStudio();
    withEvent->setActivity(anEvent());
    withEvent->loadViewIfNeeded();
    EXPECT_FALSE(withEvent->saveTuningListButton.lock()->isHidden());
    EXPECT_FALSE(withEvent->screenShotButton.lock()->isHidden());

    auto both = makeStudio();
    both->setActivity(anEvent());
    both->setTuningList(make<QVNTuningList>());
    both->loadViewIfNeeded();
    EXPECT_FALSE(both->saveTuningListButton.lock()->isHidden());
    EXPECT_TRUE(both->screenShotButton.lock()->isHidden());
}

TEST_F(CarViewControllerTest, StateFiveIsOnlyStored) {
    auto screen = makeStudio();
    screen->loadViewIfNeeded();
    bool resetHidden = screen->btnPartsReset.lock()->isHidden();
    screen->setShowcaseState(5);
    EXPECT_EQ(screen->showcaseState(), 5u);
    EXPECT_EQ(screen->btnPartsReset.lock()->isHidden(), resetHidden);
    EXPECT_FALSE(screen->consoleHidden());
}

TEST_F(CarViewControllerTest, FirstAppearanceLoadsTheDefaultCarWithThePercentageHUD) {
    testsupport::ManualClock clock;
    auto screen = makeStudio();
    present(screen);
    EXPECT_EQ(studio->showcaseState(), CarShowcaseStateChooseCar);
    EXPECT_EQ(hudText(), "正在加载");
    std::vector<std::string> texts;
    ASSERT_TRUE(waitFor([&] {
        std::string text = hudText();
        if (texts.empty() || texts.back() != text) texts.push_back(text);
        return studio->selectedCar() != nullptr;
    }));
    const auto& car = studio->selectedCar();
    EXPECT_EQ(car->car_en, std::string("sample_coupe"));
    // The first car of the screen leaves the state at choosing.
    EXPECT_EQ(studio->showcaseState(), CarShowcaseStateChooseCar);
    EXPECT_EQ(studio->currentAngle(), 1);
    EXPECT_EQ(studio->carContainerSubviews().size(), car->parts().size());
    // The count is of finished files: it ends at the number of parts that had a picture to fetch.
    EXPECT_GT(studio->downloadCount(), 0);
    EXPECT_LE(studio->downloadCount(), static_cast<int>(car->parts().size()));
    bool sawPercent = false;
    for (const auto& text : texts) sawPercent = sawPercent || (!text.empty() && text.back() == '%');
    EXPECT_TRUE(sawPercent);
    // The default brand is chosen in the first row, its cars in the second.
    ASSERT_NE(studio->selectedBrandButton(), nullptr);
    EXPECT_FALSE(studio->selectedBrandButton()->isEnabled());
    EXPECT_EQ(CarViewController::brandOfButton(studio->selectedBrandButton())->brand_name,
              std::string(CarViewController::kDefaultBrandName));
    EXPECT_EQ(studio->scrollView2Subviews().size(), 2u);
    EXPECT_DOUBLE_EQ(studio->scrollView2.lock()->contentSize().width, 10 + 90 * 2);
    EXPECT_DOUBLE_EQ(studio->scrollView1.lock()->contentSize().width,
                     20 + 80.0 * static_cast<double>(studio->brands().size()));
}

TEST_F(CarViewControllerTest, LoadingOverlayTurnsFourTimesThenSlidesOff) {
    testsupport::ManualClock clock;
    auto screen = makeStudio();
    present(screen);
    auto indicator = studio->modifyEntranceIndicator.lock();
    auto constraint = studio->modifyEntranceConstraint.lock();
    ASSERT_NE(indicator, nullptr);
    ASSERT_NE(constraint, nullptr);
    EXPECT_EQ(CarViewController::modifyEntranceStep(), 1);
    clock.advance(0.5);
    EXPECT_EQ(CarViewController::modifyEntranceStep(), 2);
    clock.advance(1.5);
    // The fifth call starts the logo's turn and sets the counter back at once.
    EXPECT_EQ(CarViewController::modifyEntranceStep(), 0);
    EXPECT_DOUBLE_EQ(constraint->constant(), 0);
    clock.advance(0.4);
    clock.advance(1.0);
    EXPECT_DOUBLE_EQ(constraint->constant(), studio->view()->bounds().size.width);
    studio->view()->layoutIfNeeded();
    EXPECT_GE(studio->modifyEntranceView.lock()->frame().origin.x, studio->view()->bounds().size.width);
    EXPECT_TRUE(CGAffineTransformIsIdentity(indicator->transform()));
}

TEST_F(CarViewControllerTest, ConsoleSlidesDownAndUpOverAFifthOfASecond) {
    testsupport::ManualClock clock;
    openWithDefaultCar();
    auto constraint = studio->cstConsole.lock();
    const double d =
        studio->consoleView.lock()->bounds().size.height - studio->btnConsole.lock()->bounds().size.height;
    const CGPoint before = studio->carContainer()->center();
    studio->consoleButtonTapped(nullptr);
    EXPECT_TRUE(studio->consoleHidden());
    EXPECT_EQ(studio->showcaseState(), CarShowcaseStatePlain);
    EXPECT_FALSE(studio->view()->isUserInteractionEnabled());
    EXPECT_DOUBLE_EQ(constraint->constant(), -d);
    EXPECT_DOUBLE_EQ(studio->carContainer()->center().y, before.y + d / 2);
    clock.advance(0.21);
    EXPECT_TRUE(studio->view()->isUserInteractionEnabled());
    // The same value again changes nothing.
    studio->setConsoleHidden(true);
    EXPECT_TRUE(studio->view()->isUserInteractionEnabled());
    // From the colour wheel the console comes up and the state is modify.
    studio->colorWheelButtonTapped(nullptr);
    EXPECT_EQ(studio->showcaseState(), CarShowcaseStateColorWheel);
    EXPECT_FALSE(studio->colorPicker.lock()->isHidden());
    clock.advance(0.21);
    studio->consoleButtonTapped(nullptr);
    EXPECT_FALSE(studio->consoleHidden());
    EXPECT_EQ(studio->showcaseState(), CarShowcaseStateModify);
    EXPECT_DOUBLE_EQ(constraint->constant(), 0);
    EXPECT_FALSE(studio->btnPartsReset.lock()->isHidden());
    EXPECT_TRUE(studio->colorPicker.lock()->isHidden());
}

TEST_F(CarViewControllerTest, ReturnButtonSwitchesBetweenLeavingAndChoosing) {
    testsupport::ManualClock clock;
    openWithDefaultCar();
    clock.advance(3.5);
    auto back = studio->returnBtn.lock();
    EXPECT_NE(back->imageForState(UIControlStateNormal), nullptr);
    studio->setShowcaseState(CarShowcaseStateModify);
    back->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_EQ(studio->showcaseState(), CarShowcaseStateChooseCar);
    // The brand row is laid out again with the remembered brand chosen.
    EXPECT_FALSE(studio->selectedBrandButton()->isEnabled());
    EXPECT_EQ(studio->selectedBrandButton(),
              studio->scrollView1Subviews()[studio->selectedBrandButtonIndex()]);
    back->sendActionsForControlEvents(UIControlEventTouchUpInside);
    clock.advance(1.0);
    EXPECT_EQ(root->presentedViewController(), nullptr);
    studio.reset();
}

TEST_F(CarViewControllerTest, TappingTheCarOnShowGoesToModifyWithoutLoading) {
    testsupport::ManualClock clock;
    openWithDefaultCar();
    auto shown = studio->selectedCar();
    studio->carButtonTapped(studio->scrollView2Subviews().front());
    EXPECT_EQ(studio->showcaseState(), CarShowcaseStateModify);
    EXPECT_EQ(studio->selectedCar(), shown);
    // The part row: the presets button first, chosen.
    ASSERT_FALSE(studio->scrollView1Subviews().empty());
    EXPECT_EQ(studio->selectedPartButton(), studio->scrollView1Subviews().front());
    EXPECT_EQ(studio->selectedPart(), nullptr);
    EXPECT_EQ(studio->scrollView2Subviews().size(), shown->modificators().size());
}

TEST_F(CarViewControllerTest, AnotherCarLoadsThenModifyAndTheWideBodyAlertShows) {
    testsupport::ManualClock clock;
    openWithDefaultCar();
    auto first = studio->selectedCar();
    auto wide = studio->scrollView2Subviews().at(1);
    ASSERT_EQ(CarViewController::carOfButton(wide)->car_en, std::string("sample_wide"));
    studio->carButtonTapped(wide);
    EXPECT_EQ(hudText(), "正在加载");
    ASSERT_TRUE(waitFor([&] { return studio->selectedCar() != first; }));
    EXPECT_EQ(studio->selectedCar()->car_en, std::string("sample_wide"));
    EXPECT_EQ(studio->showcaseState(), CarShowcaseStateModify);
    auto alert = UIAlertTestDriver::frontmostAlert();
    ASSERT_TRUE(alert.has_value());
    EXPECT_EQ(alert->kind, UIAlertKind::AlertController);
    EXPECT_EQ(alert->title, std::string("温馨提示：该车型含有宽体套件，改装散件时可能会与原车效果冲突。"));
    EXPECT_EQ(alert->buttonTitles, std::vector<std::string>{"确定"});
}

TEST_F(CarViewControllerTest, ProgressCountsFinishedFilesInSinglePrecision) {
    auto screen = makeStudio();
    screen->loadViewIfNeeded();
    studio = nullptr;
    screen->showIndicatorWithCount(4, 10, 20);
    EXPECT_EQ(screen->downloadCount(), 0);
    for (int i = 0; i < 3; ++i) screen->showIndicatorWithCount(4, 20, 20);
    EXPECT_EQ(screen->hud()->labelText(), std::string("75%"));
    auto other = makeStudio();
    other->loadViewIfNeeded();
    other->showIndicatorWithCount(3, 5, 5);
    EXPECT_EQ(other->hud()->labelText(), std::string("33%"));
    // No parts: nothing to divide by; the count still moves.
    other->showIndicatorWithCount(0, 5, 5);
    EXPECT_EQ(other->downloadCount(), 2);
}

TEST_F(CarViewControllerTest, ProgressFromAnotherThreadIsHandedToTheMainThread) {
    auto screen = makeStudio();
    screen->loadViewIfNeeded();
    std::thread worker([screen] {
        for (int i = 0; i < 4; ++i) screen->showIndicatorWithCount(4, 1, 1);
    });
    worker.join();
    EXPECT_EQ(screen->downloadCount(), 0);
    ASSERT_TRUE(waitFor([&] { return screen->downloadCount() == 4; }, 5));
    EXPECT_EQ(screen->hud()->labelText(), std::string("100%"));
}

TEST_F(CarViewControllerTest, CatalogueFailureAlertClosesTheStudio) {
    testsupport::ManualClock clock;
    QVNConfiguration::useServer("http://127.0.0.1:9/");
    auto screen = makeStudio();
    present(screen);
    ASSERT_TRUE(waitFor([] { return UIAlertTestDriver::frontmostAlert().has_value(); }, 30));
    auto alert = UIAlertTestDriver::frontmostAlert();
    EXPECT_EQ(alert->title, std::string("加载失败,请重新进入"));
    EXPECT_EQ(alert->buttonTitles, std::vector<std::string>{"确认"});
    EXPECT_TRUE(UIAlertTestDriver::tapAlertButton(0));
    clock.advance(1.0);
    EXPECT_EQ(root->presentedViewController(), nullptr);
    studio.reset();
}

TEST_F(CarViewControllerTest, EnteringWithATuningListLoadsItsCarAndGoesToModify) {
    testsupport::ManualClock clock;
    auto list = make<QVNTuningList>();
    list->car_id = NSNumber::numberWithDouble(201.0);  // another brand's car, as a double
    list->optionGroup = Dictionary{{"weiyi", "竞技尾翼"}};
    auto screen = makeStudio();
    screen->setTuningList(list);
    present(screen);
    ASSERT_TRUE(waitFor([&] { return studio->selectedCar() != nullptr; }));
    EXPECT_EQ(studio->selectedCar()->car_en, std::string("sample_wagon"));
    EXPECT_EQ(studio->showcaseState(), CarShowcaseStateModify);
    // The default brand is still the one chosen in the row.
    EXPECT_EQ(CarViewController::brandOfButton(studio->selectedBrandButton())->brand_name,
              std::string(CarViewController::kDefaultBrandName));
    auto spoiler = studio->selectedCar()->selectedPartWithPartSelector("weiyi");
    ASSERT_NE(spoiler, nullptr);
    EXPECT_EQ(spoiler->selectedOption()->name(), std::string("竞技尾翼"));
}

TEST_F(CarViewControllerTest, ATuningListOfAnUnknownCarShowsNotFound) {
    testsupport::ManualClock clock;
    openWithDefaultCar();
    auto list = make<QVNTuningList>();
    list->car_id = NSNumber::numberWithInt(999);
    studio->didSelectTuningList(list);
    auto alert = UIAlertTestDriver::frontmostAlert();
    ASSERT_TRUE(alert.has_value());
    EXPECT_EQ(alert->title, std::string("没有找到该车辆"));
    EXPECT_EQ(alert->buttonTitles, std::vector<std::string>{"确定"});
    EXPECT_EQ(studio->selectedCar()->car_en, std::string("sample_coupe"));
}

TEST_F(CarViewControllerTest, ChoosingAListOfTheSameCarKeepsTheSelectedPart) {
    testsupport::ManualClock clock;
    openWithDefaultCar();
    studio->setShowcaseState(CarShowcaseStateModify);
    auto car = studio->selectedCar();
    auto hood = car->selectedPartWithPartSelector("yinqinggai");
    studio->setSelectedPart(hood);
    auto list = make<QVNTuningList>();
    list->car_id = car->cars_id;
    list->optionGroup = Dictionary{{"yinqinggai", "散热孔机盖"}};
    studio->didSelectTuningList(list);
    EXPECT_EQ(studio->selectedPart(), hood);
    // Reading the description again makes new part records, so the car is asked afresh.
    ASSERT_TRUE(waitFor([&] {
        auto part = studio->selectedCar()->selectedPartWithPartSelector("yinqinggai");
        return part && part->selectedOption() && part->selectedOption()->name() == std::string("散热孔机盖");
    }));
    EXPECT_EQ(studio->tuningList(), list);
}

TEST_F(CarViewControllerTest, MemoryWarningDropsOtherCarsPicturesOnly) {
    testsupport::ManualClock clock;
    openWithDefaultCar();
    auto shown = studio->selectedCar();
    auto anyPicture = [](const Ref<QVNCar>& car) {
        for (const auto& part : car->parts())
            if (part->selectedOption() && !part->selectedOption()->images().empty()) return true;
        return false;
    };
    ASSERT_TRUE(anyPicture(shown));
    studio->didReceiveMemoryWarning();
    EXPECT_TRUE(anyPicture(shown));
}
