#pragma once
// Shared pieces of the event screen tests: the stand-in server, the manual clock, an application
// whose key window holds a navigation controller, the event scenes, and stand-ins for the screens
// of other areas that the event screens open (the login screen of "MyUser" and the car studio,
// the initial scene of "Car"), which record what they were handed.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/QVNAccountScreens.h"
#include "app/QVNCarScreens.h"
#include "controls/VHProgressHUD.h"
#include "graphics/UIGraphics.h"
#include "information/InformationScenes.h"
#include "information/InformationScreens.h"
#include "information/QVNActivityCommunicator.h"
#include "tests/information/InformationTestSupport.h"
#include "uikit/UIAlertTestDriver.h"
#include "uikit/UIApplication.h"
#include "uikit/UIImagePickerController.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UITestDriver.h"
#include "uikit/UITextEntryDriver.h"
#include "uikit/UIWindow.h"

namespace infotest {

// The car studio as another area builds it: it only keeps what it is handed.
class StudioStandIn : public UIViewController, public QVNCarScreens::CarStudioEntry {
  public:
    std::string className() const override { return "StudioStandIn"; }
    void setActivity(const Ref<QVNActivity>& activity) override { activity_ = activity; }
    void setTuningList(const Ref<QVNTuningList>&) override {}
    Ref<QVNActivity> activity_;
};

class LoginStandIn : public UIViewController {
  public:
    std::string className() const override { return "LoginStandIn"; }
};

// An entry gallery as the galleries' own scenes would take it.
class GalleryStandIn : public UIViewController, public InformationScreens::ActivityHandOver {
  public:
    std::string className() const override { return "GalleryStandIn"; }
    void setActivity(const Ref<QVNActivity>& activity) override { activity_ = activity; }
    Ref<QVNActivity> activity_;
};

class EventScreenTest : public InformationServerTest {
  protected:
    void SetUp() override {
        InformationServerTest::SetUp();
        InformationScenes::registerAll();
        UIStoryboard::registerStoryboard(QVNCarScreens::kStoryboard, std::string("StudioStandIn"));
        UIStoryboard::registerScene(
            QVNCarScreens::kStoryboard, "StudioStandIn",
            [](UIStoryboard&) -> Ref<UIViewController> { return make<StudioStandIn>(); });
        UIStoryboard::registerScene(
            QVNAccountScreens::kStoryboard, QVNAccountScreens::kLoginIdentifier,
            [](UIStoryboard&) -> Ref<UIViewController> { return make<LoginStandIn>(); });
        UIImagePickerTestDriver::reset();
        UITextEntryDriver::reset();
        application = make<UIApplication>();
        UIApplication::setSharedApplication(application);
        window = make<UIWindow>(UIScreen::mainScreen()->bounds());
        root = make<UIViewController>();
        navigation = make<UINavigationController>(root);
        window->setRootViewController(navigation);
        window->makeKeyAndVisible();
        settle();
    }
    void TearDown() override {
        UITestDriver::reset();
        UITextEntryDriver::reset();
        if (navigation->presentedViewController()) navigation->dismissViewControllerAnimated(false);
        settle(1.0);
        window->setHidden(true);
        testsupport::drainMainRunLoop();
        window = nullptr;
        navigation = nullptr;
        root = nullptr;
        UIImagePickerTestDriver::reset();
        UIStoryboard::unregisterStoryboard(QVNCarScreens::kStoryboard);
        UIStoryboard::unregisterStoryboard(QVNAccountScreens::kStoryboard);
        // Tests may replace the event storyboard's scenes: the real ones go back.
        UIStoryboard::unregisterStoryboard(InformationScreens::kActivityStoryboard);
        InformationScenes::registerAll();
        UIApplication::setSharedApplication(nullptr);
        application = nullptr;
        InformationServerTest::TearDown();
    }

    // Runs what is due now and lets the clock move a little, for chained main-queue work.
    void settle(double seconds = 0.05) {
        testsupport::drainMainRunLoop();
        clock.advance(seconds);
    }
    // Lets pushes, pops and presentations finish their animations.
    void finishTransitions() { settle(0.8); }

    // The stand-in server's events as the event list receives them (for the signed-in user, if any).
    std::vector<Ref<QVNActivity>> fetchEvents() {
        auto communicator = make<QVNActivityCommunicator>();
        using Result = std::optional<std::vector<Ref<QVNActivity>>>;
        Result events = await<Result>([&](std::function<void(Result)> done) {
            communicator->getActivitiesWithEventId(std::nullopt, done);
        });
        return events.value_or(std::vector<Ref<QVNActivity>>{});
    }
    // The first fetched event with the category and openness asked for.
    Ref<QVNActivity> fetchEvent(long category, bool open = true) {
        for (const auto& event : fetchEvents()) {
            if (event->category && event->category->integerValue() == category && event->isClosed() != open)
                return event;
        }
        ADD_FAILURE() << "no event of category " << category;
        return nullptr;
    }

    // Instantiates a scene of "MyActivity", hands it the event and pushes it (not animated).
    template <class T>
    Ref<T> push(const std::string& identifier, const Ref<QVNActivity>& activity) {
        auto screen = std::dynamic_pointer_cast<T>(
            UIStoryboard::storyboardWithName(InformationScreens::kActivityStoryboard, nullptr)
                ->instantiateViewControllerWithIdentifier(identifier));
        EXPECT_TRUE(screen) << identifier;
        if (!screen) return nullptr;
        if (auto handOver = std::dynamic_pointer_cast<InformationScreens::ActivityHandOver>(screen))
            handOver->setActivity(activity);
        navigation->pushViewController(screen, false);
        settle();
        return screen;
    }

    static bool hudShowing(const Ref<VHProgressHUD>& hud) {
        return hud && hud->superview() && !hud->isHidden() && hud->alpha() > 0;
    }
    static std::optional<std::string> alertTitle() {
        auto alert = UIAlertTestDriver::frontmostAlert();
        return alert ? alert->title : std::nullopt;
    }
    static Ref<UIImage> picture(double red, double green, double blue) {
        UIGraphicsBeginImageContextWithOptions(CGSizeMake(24, 16), true, 1);
        CGContextSetRGBFillColor(UIGraphicsGetCurrentContext(), red, green, blue, 1);
        CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, 24, 16));
        auto image = UIGraphicsGetImageFromCurrentImageContext();
        UIGraphicsEndImageContext();
        return image;
    }
    std::size_t requestsTo(const std::string& path) const { return server.requestsTo(path).size(); }

    testsupport::ManualClock clock;
    Ref<UIApplication> application;
    Ref<UIWindow> window;
    Ref<UIViewController> root;
    Ref<UINavigationController> navigation;
};

}  // namespace infotest
