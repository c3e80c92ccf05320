// The scripted run of the app: the stand-in server with its sample catalogue on loopback, the
// app's own start-up (application delegate, main storyboard), then a user's road through it:
// the home screen and its first-launch guide, a tab, the login and a sign-up with the SMS code the
// stand-in keeps, the "my" page, the message centre with a mail from a second user, the mail
// thread and the friend list, the studio with parts and a colour fitted, a turn and the saved tuning
// list, then the watermark camera: a shot, two watermarks, the album and a share to WeChat; the forum,
// news and events (the studio's screenshot and entry taken in the studio an event opens). Each screen
// passed is written as a PNG of the whole screen (every window, alerts included); the paths are
// printed.
//
//   cartuning-demo [output directory]     (default: ./demo-output)
//
// No display and no network beyond 127.0.0.1.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "account/AccountScenes.h"
#include "app/AppDelegate.h"
#include "app/ArrayDataSource.h"
#include "app/QVNAppStartup.h"
#include "app/QVNConfiguration.h"
#include "app/QVNUserManager.h"
#include "controls/VHProgressHUD.h"
#include "forum/ForumScenes.h"
#include "foundation/NSBundle.h"
#include "foundation/NSDate.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSSandbox.h"
#include "foundation/NSUserDefaults.h"
#include "graphics/TextMeasurer.h"
#include "information/InformationScenes.h"
#include "information/VideosViewController.h"
#include "studio/CarViewController.h"
#include "studio/MainStoryboard.h"
#include "studio/MainViewController.h"
#include "studio/StudioScenes.h"
#include "studio/TuningDetailViewController.h"
#include "studio/TuningListSaveViewController.h"
#include "studio/TuningListTableViewController.h"
#include "studio/UIImage+ColorAtPixel.h"
#include "tools/devserver/CatalogueRoutes.h"
#include "tools/devserver/DevServer.h"
#include "tools/devserver/ForumRoutes.h"
#include "tools/devserver/InformationRoutes.h"
#include "tools/devserver/WatermarkRoutes.h"
#include "uikit/UIAlertTestDriver.h"
#include "uikit/UIApplication.h"
#include "uikit/UIButton.h"
#include "uikit/UIImageView.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UITableView.h"
#include "uikit/UITestDriver.h"
#include "uikit/UITextEntryDriver.h"
#include "uikit/UIWindow.h"
#include "uikit/UIWindowRenderer.h"

#include "tools/demo/AccountDemo.h"
#include "tools/demo/CameraDemo.h"
#include "tools/demo/DemoSupport.h"
#include "tools/demo/ForumDemo.h"
#include "tools/demo/InformationDemo.h"
#include "tools/demo/StudioDemo.h"

using namespace demo;

namespace {

bool hudGone(const Ref<VHProgressHUD>& hud) {
    return !hud || !hud->superview() || hud->isHidden() || hud->alpha() == 0;
}

// The studio has nothing running: no download behind the HUD, no timed turn, touches taken.
bool studioSettled(const Ref<CarViewController>& studio) {
    return hudGone(studio->hud()) && CarViewController::timedTurnSteps() == -1 &&
           studio->view()->isUserInteractionEnabled();
}

}  // namespace

void demo::waitForStudioReady(const Ref<CarViewController>& studio) {
    waitFor([&] { return appeared(studio); }, "the studio did not appear", 10);
    waitFor([&] { return studio->selectedCar() != nullptr; }, "the car did not load", 40);
    // The loading overlay turns its indicator four times, then slides off to the right.
    waitFor(
        [&] {
            auto constraint = studio->modifyEntranceConstraint.lock();
            return studioSettled(studio) && constraint &&
                   constraint->constant() >= studio->view()->bounds().size.width;
        },
        "the loading overlay did not leave", 20);
    runFor(1.2);
}

void demo::closeStudio(const Ref<CarViewController>& studio) {
    Ref<UIViewController> presenter = studio->presentingViewController();
    require(presenter != nullptr, "the studio is not on screen");
    // While a car is being modified the back button returns to the choice of cars; there it
    // closes the studio.
    for (int attempt = 0; presenter->presentedViewController() == studio; ++attempt) {
        require(attempt < 3, "the studio's back button did not close it");
        waitFor([&] { return studioSettled(studio); }, "the studio did not come to rest", 30);
        runFor(0.6);
        auto button = studio->returnBtn.lock();
        require(button && !button->isHidden(), "the studio has no back button");
        UITestDriver::tap(button);
        runUntil([&] { return presenter->presentedViewController() != studio; }, 2);
    }
    waitFor([&] { return presenter->presentedViewController() == nullptr; }, "the studio did not close", 10);
    runFor(0.3);
}

namespace {

void settle(const Ref<CarViewController>& studio, const std::string& what) {
    waitFor([&] { return studioSettled(studio); }, what + " did not finish", 30);
    runFor(0.3);  // the HUD's fade and the console's slide
}

Ref<UIButton> partButton(const Ref<CarViewController>& studio, const std::string& selector) {
    for (const auto& button : studio->scrollView1Subviews()) {
        auto part = CarViewController::partOfButton(button);
        if (part && part->selector() == selector) return button;
    }
    throw Stop{"the part row has no button for " + selector};
}

Ref<QVNPart> partWithSelector(const Ref<QVNCar>& car, const std::string& selector) {
    for (const auto& part : car->parts())
        if (part->selector() == selector) return part;
    throw Stop{"the car has no part " + selector};
}

std::string optionOf(const Ref<QVNCar>& car, const std::string& selector) {
    auto option = partWithSelector(car, selector)->selectedOption();
    return option ? text(option->name()) : "none";
}

// Taps the wheel where its picture has a fully opaque pixel, at `turn` of the way round (0 = the
// right edge, going clockwise) and 80 % of the radius out; answers the colour under the finger.
std::string tapWheel(const Ref<UIImageView>& wheel, double turn) {
    CGRect bounds = wheel->bounds();
    double radius = std::min(bounds.size.width, bounds.size.height) / 2 * 0.8;
    double angle = turn * 2 * M_PI;
    CGPoint point{bounds.size.width / 2 + radius * std::cos(angle),
                  bounds.size.height / 2 + radius * std::sin(angle)};
    std::string described = "?";
    if (auto image = wheel->image()) {
        CGSize size = image->size();
        auto colour =
            UIImage_ColorAtPixel::colorAtPixel(image, CGPoint{point.x * size.width / bounds.size.width,
                                                              point.y * size.height / bounds.size.height});
        CGFloat r = 0, g = 0, b = 0, a = 0;
        if (colour && colour->getRed(&r, &g, &b, &a)) {
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, "rgb(%d, %d, %d)", int(r * 255), int(g * 255), int(b * 255));
            described = buffer;
        }
    }
    UITestDriver::tapAt(wheel, point);
    return described;
}

// The car studio, as a user goes through it: the default car, the part row, another option for a
// part, a preset, a tint from the colour wheel, a turn, the screenshot, the saved tuning list and
// the list of saved lists. Answers the studio's picture carried on to the camera and the events.
Ref<UIImage> driveStudio(const Ref<CarViewController>& studio) {
    Ref<UIImage> studioPicture;
    waitForStudioReady(studio);
    Ref<QVNCar> car = studio->selectedCar();
    std::printf("the studio shows %s\n", text(car->cars_name).c_str());
    screenshot("studio");

    // The car's own button again: the console turns to its parts.
    Ref<UIButton> carButton;
    for (const auto& button : studio->scrollView2Subviews()) {
        auto shown = CarViewController::carOfButton(button);
        if (shown && shown->car_en == car->car_en) carButton = button;
    }
    require(carButton != nullptr, "the car row has no button for the car on show");
    UITestDriver::tap(carButton);
    waitFor([&] { return studio->showcaseState() == CarShowcaseStateModify; }, "the part row did not open",
            5);
    settle(studio, "opening the part row");
    screenshot("studio-parts");

    // The front bumper: the car turns to face it and its options fill the second row.
    UITestDriver::tap(partButton(studio, "qianbaowei"));
    waitFor([&] { return studio->selectedPart() && studio->selectedPart()->selector() == "qianbaowei"; },
            "the front bumper was not selected", 5);
    settle(studio, "the turn to the front bumper");
    std::printf("front bumper selected, angle %ld, fitted: %s\n", studio->currentAngle(),
                optionOf(car, "qianbaowei").c_str());
    screenshot("studio-front-bumper");

    Ref<UIButton> optionButton;
    std::string optionName;
    for (const auto& button : studio->scrollView2Subviews()) {
        auto option = CarViewController::optionOfButton(button);
        if (option && option->identifier() == std::string("qianbaowei_race")) {
            optionButton = button;
            optionName = text(option->name());
        }
    }
    if (!optionButton && studio->scrollView2Subviews().size() > 1)
        optionButton = studio->scrollView2Subviews().back();
    require(optionButton != nullptr, "the front bumper has no other option");
    UITestDriver::tap(optionButton);
    auto fitted = CarViewController::optionOfButton(optionButton);
    waitFor(
        [&] {
            auto selected = partWithSelector(car, "qianbaowei")->selectedOption();
            return selected && fitted && selected->identifier() == fitted->identifier() &&
                   studioSettled(studio);
        },
        "the other front bumper was not fitted", 30);
    runFor(0.3);
    std::printf("front bumper now: %s\n", optionOf(car, "qianbaowei").c_str());
    screenshot("studio-option-fitted");

    // A preset: the presets button opens the row of whole-car kits.
    UITestDriver::tap(studio->scrollView1Subviews().front());
    runFor(0.3);
    Ref<UIButton> presetButton;
    for (const auto& button : studio->scrollView2Subviews()) {
        auto preset = CarViewController::modificatorOfButton(button);
        if (preset && !presetButton) presetButton = button;
    }
    require(presetButton != nullptr, "the car has no presets");
    auto preset = CarViewController::modificatorOfButton(presetButton);
    UITestDriver::tap(presetButton);
    waitFor([&] { return studio->selectedModificatorButton() == presetButton; }, "the preset was not taken",
            5);
    settle(studio, "the preset");
    std::printf("preset %s: front bumper %s, spoiler %s, wheels %s\n", text(preset->name()).c_str(),
                optionOf(car, "qianbaowei").c_str(), optionOf(car, "weiyi").c_str(),
                optionOf(car, "lunke").c_str());
    screenshot("studio-preset");

    // A tint: the hood from the part row, then a red from the colour wheel.
    UITestDriver::tap(partButton(studio, "yinqinggai"));
    waitFor([&] { return studio->selectedPart() && studio->selectedPart()->selector() == "yinqinggai"; },
            "the hood was not selected", 5);
    settle(studio, "the turn to the hood");
    UITestDriver::tap(studio->btnColorWheel.lock());
    waitFor([&] { return studio->showcaseState() == CarShowcaseStateColorWheel; },
            "the colour wheel did not open", 5);
    settle(studio, "opening the colour wheel");
    std::string colour = tapWheel(studio->colorWheel.lock(), 0.0);
    waitFor([&] { return partWithSelector(car, "yinqinggai")->tintColor() != nullptr; },
            "the hood took no tint", 5);
    settle(studio, "the tint");
    std::printf("hood tinted %s\n", colour.c_str());
    screenshot("studio-hood-tinted");

    // The whole car in another colour: the wheel's whole-car button, then blue from the wheel.
    UITestDriver::tap(buttonTitled(studio->colorPicker.lock(), "整车"));
    waitFor([&] { return studio->selectedPart() == nullptr; }, "the whole-car button kept the part", 5);
    colour = tapWheel(studio->colorWheel.lock(), 0.62);
    settle(studio, "the whole-car tint");
    std::printf("whole car tinted %s\n", colour.c_str());
    screenshot("studio-car-tinted");

    // A turn: a finger drawn across the showcase from right to left.
    long before = studio->currentAngle();
    auto showcase = studio->showcaseView.lock();
    CGRect area = showcase->bounds();
    double y = area.size.height * 0.35;
    UITestDriver::drag(showcase, CGPoint{area.size.width * 0.6, y}, CGPoint{area.size.width * 0.6 - 260, y},
                       26);
    settle(studio, "the turn");
    require(studio->currentAngle() != before, "the drag did not turn the car");
    std::printf("turned by drag from angle %ld to %ld\n", before, studio->currentAngle());
    screenshot("studio-turned");

    // Outside an event the studio shows no shutter (the screenshot is taken in the studio entered
    // for the tuning-list event); what the screen shows now is what the camera will see.
    require(studio->screenShotButton.lock() && studio->screenShotButton.lock()->isHidden(),
            "the studio shows a shutter outside an event");
    studioPicture = UIWindowRenderer::imageOfScreen();

    // The detail of the car's tuning list, then the save box.
    UITestDriver::tap(studio->tuningListDetailButton.lock());
    waitFor([&] { return appeared(presentedOver<TuningDetailViewController>(studio)); },
            "the tuning-list detail did not open", 10);
    auto detail = presentedOver<TuningDetailViewController>(studio);
    runFor(0.3);
    screenshot("tuning-list-detail");
    UITestDriver::tap(detail->rightFirstButton.lock());
    waitFor([&] { return appeared(presentedOver<TuningListSaveViewController>(detail)); },
            "the save box did not open", 10);
    auto box = presentedOver<TuningListSaveViewController>(detail);
    runFor(0.3);
    const std::string listName = "赛道红 demo";
    UITextEntryDriver::typeText(box->nameTextField.lock(), listName);
    screenshot("tuning-list-name");
    // A tap beside the box closes the keyboard.
    tapBareSpot(box->view());
    runFor(0.6);
    require(!box->nameTextField.lock()->isFirstResponder(), "a tap beside the box left the keyboard up");
    require(box->configureButton.lock()->isEnabled(), "the store button stayed disabled after typing");
    UITestDriver::tap(box->configureButton.lock());
    bool saved = runUntil([&] { return box->hud()->labelText() == std::string("保存成功"); }, 15);
    require(saved, "the tuning list was not saved (" + text(box->hud()->labelText()) + ")");
    screenshot("tuning-list-saved");
    waitFor([&] { return studio->presentedViewController() == nullptr; }, "the save box did not close", 10);
    std::printf("tuning list \"%s\" saved\n", listName.c_str());
    runFor(0.5);

    // The user's tuning lists, with the one just saved.
    UITestDriver::tap(studio->tuningListButton.lock());
    waitFor([&] { return appeared(presentedOver<TuningListTableViewController>(studio)); },
            "the tuning lists screen did not open", 10);
    auto lists = presentedOver<TuningListTableViewController>(studio);
    waitFor(
        [&] {
            auto source = lists->tuningsDataSource();
            if (!source) return false;
            for (const Value& item : source->items()) {
                auto list = item.objectAs<QVNTuningList>();
                if (list && list->list_name == listName) return true;
            }
            return false;
        },
        "the saved list is not among the user's lists", 15);
    runFor(0.5);
    std::printf("tuning lists: %zu\n", lists->tuningsDataSource()->items().count());
    screenshot("tuning-lists");
    // A tap beside the list closes it.
    tapBareSpot(lists->view());
    waitFor([&] { return studio->presentedViewController() == nullptr; }, "the tuning lists did not close",
            10);
    runFor(0.3);
    return studioPicture;
}

}  // namespace

int main(int argc, char** argv) {
    outputDirectory = std::filesystem::absolute(argc > 1 ? argv[1] : "demo-output").string();
    std::filesystem::create_directories(outputDirectory);
    std::string sandbox = outputDirectory + "/sandbox";
    std::filesystem::remove_all(sandbox);
    std::filesystem::create_directories(sandbox);
    if (!NSSandbox::setRoot(sandbox)) return fail("cannot use the sandbox " + sandbox);

    devserver::DevServer server;
    devserver::addCatalogueRoutes(server);
    devserver::addWatermarkRoutes(server);
    devserver::addForumRoutes(server);
    devserver::addInformationRoutes(server);
    if (!server.start()) return fail("the stand-in server did not start: " + server.lastError());
    QVNConfiguration::useServer(server.baseURL());
    std::printf("stand-in server %s\n", server.baseURL().c_str());

    // The app's own start-up, as the process entry does it, with the home screen's scenes.
    StudioScenes::registerAll();
    AccountScenes::registerAll();
    ForumScenes::registerAll();
    InformationScenes::registerAll();
    QVNAppStartup::prepare();
    if (TextMeasurer::usesDeterministic())
        return fail("the app measures text with the fixed-width stand-in, not the font that draws it");
    StudioScenes::writeResources(NSBundle::mainBundle()->resourcePath());
    auto application = make<UIApplication>();
    UIApplication::setSharedApplication(application);
    auto delegate = make<AppDelegate>();
    application->setDelegate(delegate);
    if (!application->finishLaunching()) return fail("the launch failed");
    runFor(0.3);

    auto navigation = std::dynamic_pointer_cast<UINavigationController>(keyWindow()->rootViewController());
    auto home =
        navigation ? std::dynamic_pointer_cast<MainViewController>(navigation->topViewController()) : nullptr;
    if (!home) return fail("the first screen is not the home screen");
    screenshot("home");

    // The first launch lays the feature guide over the screen after a second.
    if (runUntil([&] { return home->imageView() != nullptr; }, 3)) {
        screenshot("home-guide");
        UITestDriver::tap(home->imageView()->subviews().front());
        runFor(0.2);
    }
    UITestDriver::tap(home->btnRizur.lock());
    runFor(0.4);
    screenshot("home-questions");
    UITestDriver::tap(home->btnNews.lock());
    runFor(0.4);

    // Signed out, the studio button leads to the login, and from there to the sign-up.
    UITestDriver::tap(home->modifyEntranceButton.lock());
    if (!runUntil([&] { return navigation->topViewController() != home && !navigation->isTransitioning(); },
                  5)) {
        return fail("the login screen did not open");
    }
    try {
        long userId = signUpThroughTheScreens(home, navigation, server);
        driveAccount(home, navigation, server, userId);
    } catch (const Stop& stop) {
        return fail(stop.why);
    }

    // The studio.
    if (!UIStoryboard::hasStoryboardNamed("Car") || !UIStoryboard::storyboardWithName("Car", nullptr)) {
        return fail("the car studio screen is not part of this build");
    }
    UITestDriver::tap(home->modifyEntranceButton.lock());
    if (!runUntil([&] { return home->presentedViewController() != nullptr; }, 5)) {
        return fail("the studio did not open");
    }
    auto studio = std::dynamic_pointer_cast<CarViewController>(home->presentedViewController());
    if (!studio) return fail("the screen opened is not the car studio");
    try {
        // Back to the home screen, and on to the watermark camera with the studio's picture.
        Ref<UIImage> studioPicture = driveStudio(studio);
        closeStudio(studio);
        driveCamera(home, navigation, studioPicture);
        driveForum(home, navigation);
        driveInformation(home, navigation);
    } catch (const Stop& stop) {
        return fail(stop.why);
    }
    std::printf("pictures in %s\n", outputDirectory.c_str());
    server.stop();
    UIApplication::setSharedApplication(nullptr);
    return 0;
}
