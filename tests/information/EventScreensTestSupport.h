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
#include "information/InformationScenes.h"
#include "information/InformationScreens.h"
#include "information/QVNActivityCommunicator.h"
#include "tests/app/AreaStandIns.h"
#include "tests/information/InformationTestSupport.h"
#include "tests/support/ScreenTestSupport.h"
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

using standins::LoginStandIn;
using standins::StudioStandIn;

// An entry gallery as the galleries' own scenes would take it.
class GalleryStandIn : public UIViewController, public InformationScreens::ActivityHandOver {
  public:
    std::string className() const override { return "GalleryStandIn"; }
    void setActivity(const Ref<QVNActivity>& activity) override { activity_ = activity; }
    Ref<QVNActivity> activity_;
};

using testsupport::alertTitle;
using testsupport::hudShowing;

class EventScreenTest : public InformationServerTest, protected testsupport::NavigationWindow {
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
        openWindow(false);
        settle();
    }
    void TearDown() override {
        UITestDriver::reset();
        UITextEntryDriver::reset();
        if (navigation->presentedViewController()) navigation->dismissViewControllerAnimated(false);
        settle(1.0);
        closeWindow();
        UIImagePickerTestDriver::reset();
        UIStoryboard::unregisterStoryboard(QVNCarScreens::kStoryboard);
        UIStoryboard::unregisterStoryboard(QVNAccountScreens::kStoryboard);
        // Tests may replace the event storyboard's scenes: the real ones go back.
        UIStoryboard::unregisterStoryboard(InformationScreens::kActivityStoryboard);
        InformationScenes::registerAll();
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

    static Ref<UIImage> picture(double red, double green, double blue) {
        return testsupport::solidImage(CGSizeMake(24, 16), red, green, blue);
    }
    std::size_t requestsTo(const std::string& path) const { return server.requestsTo(path).size(); }

    testsupport::ManualClock clock;
};

}  // namespace infotest
