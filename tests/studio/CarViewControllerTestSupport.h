#pragma once
// The studio screen under test: the stand-in server with the sample catalogue on loopback, the
// studio's artwork in a resources folder of the sandbox, an application delegate with a window
// whose root presents the studio (from the storyboard "Car"), stub tuning-list scenes, and the
// manual clock for everything timed.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "controls/VHProgressHUD.h"
#include "graphics/GraphicsTesting.h"
#include "studio/CarStoryboard.h"
#include "studio/CarStudioResources.h"
#include "studio/CarViewController.h"
#include "tests/studio/StudioTestSupport.h"
#include "uikit/UIAlertTestDriver.h"
#include "uikit/UIApplication.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UITestDriver.h"
#include "uikit/UIWindow.h"

namespace carstudiotest {

class WindowDelegate : public UIApplicationDelegate {
  public:
    Ref<UIWindow> window() const override { return window_; }
    void setWindow(const Ref<UIWindow>& window) override { window_ = window; }

  private:
    Ref<UIWindow> window_;
};

// A tuning-list screen stand-in that keeps what the studio handed over.
class HandOverScreen : public UIViewController {
  public:
    std::string className() const override { return "HandOverScreen"; }
    std::optional<CarStudioHandOver> handOver;
};

class CarStudioTest : public studiotest::StudioServerTest {
  protected:
    void SetUp() override {
        StudioServerTest::SetUp();
        if (HasFatalFailure()) return;
        const std::string resources = sandbox_.path() + "/resources";
        ASSERT_TRUE(CarStudioResources::writeResources(resources));
        graphics_testing::setResourcesDirectory(resources);
        CarViewController::resetSharedState();
        UIAlertTestDriver::reset();
        UITestDriver::reset();
        CarStoryboardRegister();
        for (const char* scene : {"TuningListTableViewController", "TuningDetailViewController",
                                  "TuningListSaveViewController"}) {
            UIStoryboard::registerScene(
                "Car", scene, [](UIStoryboard&) -> Ref<UIViewController> { return make<HandOverScreen>(); });
        }
        for (const char* identifier :
             {CarSegueShowTuningLists, CarSegueShowTuningListDetail, CarSegueShowSaveTuningList}) {
            CarViewController::registerSegueReceiver(
                identifier, [](const Ref<UIViewController>& destination, const CarStudioHandOver& handOver) {
                    if (auto screen = asKind<HandOverScreen>(destination)) screen->handOver = handOver;
                });
        }
        delegate = std::make_shared<WindowDelegate>();
        window = make<UIWindow>(UIScreen::mainScreen()->bounds());
        delegate->setWindow(window);
        UIApplication::sharedApplication()->setDelegate(delegate);
        root = make<UIViewController>();
        window->setRootViewController(root);
        window->makeKeyAndVisible();
    }

    void TearDown() override {
        if (studio) {
            root->dismissViewControllerAnimated(false);
            testsupport::drainMainRunLoop();
        }
        studio.reset();
        window.reset();
        UIApplication::sharedApplication()->setDelegate(nullptr);
        UIAlertTestDriver::reset();
        UITestDriver::reset();
        CarViewController::resetSharedState();
        StudioServerTest::TearDown();
    }

    // The studio from the storyboard, with what the caller sets, not yet presented.
    Ref<CarViewController> makeStudio() {
        auto storyboard = UIStoryboard::storyboardWithName("Car", nullptr);
        return storyboard ? asKind<CarViewController>(storyboard->instantiateInitialViewController())
                          : nullptr;
    }

    // Presents the studio without animation and waits until it has appeared.
    void present(const Ref<CarViewController>& screen) {
        studio = screen;
        root->presentViewController(screen, false);
        ASSERT_TRUE(studiotest::waitUntil(
            [&] { return screen->appearanceState() == UIViewControllerAppearanceState::Appeared; }, 5));
    }

    // Presents a new studio and waits for the default car.
    void openWithDefaultCar() {
        auto screen = makeStudio();
        ASSERT_NE(screen, nullptr);
        present(screen);
        ASSERT_TRUE(studiotest::waitUntil([&] { return studio->selectedCar() != nullptr; }, 60))
            << "the default car did not load";
    }

    // Waits for a condition, pumping the loop (network, main-queue work) on real time.
    bool waitFor(const std::function<bool()>& condition, double seconds = 60) {
        return studiotest::waitUntil(condition, seconds);
    }

    // The visible label text of the studio's HUD.
    std::string hudText() { return studio->hud()->labelText().value_or(""); }

    Ref<UIButton> buttonOfPartSelector(const std::string& selector) {
        for (const auto& button : studio->scrollView1Subviews()) {
            auto part = CarViewController::partOfButton(button);
            if (part && part->selector() == selector) return button;
        }
        return nullptr;
    }

    std::shared_ptr<WindowDelegate> delegate;
    Ref<UIWindow> window;
    Ref<UIViewController> root;
    Ref<CarViewController> studio;
};

}  // namespace carstudiotest
