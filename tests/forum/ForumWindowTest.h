#pragma once
// A fixture for the forum's screens shown in a window of an application, against the stand-in
// server: the scenes and account stand-ins registered, the photo library and the test drivers
// fresh for every test, and every screen taken down at its end.

#include <memory>
#include <string>

#include "forum/ForumScenes.h"
#include "system/SystemTesting.h"
#include "tests/app/AreaStandIns.h"
#include "tests/forum/ForumTestSupport.h"
#include "tests/support/MainLoop.h"
#include "uikit/UIApplication.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UITestDriver.h"
#include "uikit/UITextEntryDriver.h"
#include "uikit/UIWindow.h"

namespace forumtest {

class ForumWindowTest : public ForumServerTest {
  protected:
    void SetUp() override {
        ForumServerTest::SetUp();
        ForumScenes::registerAll();
        standins::registerAccountStandIns();
        system_testing::resetPhotoLibrary();
        UITextEntryDriver::reset();
        application = make<UIApplication>();
        UIApplication::setSharedApplication(application);
        window = make<UIWindow>(UIScreen::mainScreen()->bounds());
    }
    void TearDown() override {
        UITestDriver::reset();
        UITextEntryDriver::reset();
        if (window) {
            if (navigation && navigation->presentedViewController())
                navigation->dismissViewControllerAnimated(false);
            testsupport::drainMainRunLoop();
            window->setHidden(true);
        }
        navigation = nullptr;
        window = nullptr;
        testsupport::drainMainRunLoop();
        UIApplication::setSharedApplication(nullptr);
        system_testing::resetPhotoLibrary();
        ForumServerTest::TearDown();
    }

    template <class T>
    Ref<T> scene(const std::string& identifier) {
        return std::dynamic_pointer_cast<T>(UIStoryboard::storyboardWithName("MyRizUr", nullptr)
                                                ->instantiateViewControllerWithIdentifier(identifier));
    }

    Ref<UIApplication> application;
    Ref<UIWindow> window;
    // The navigation controller the test shows its screens in, if any: its presented screen is
    // dismissed at the end.
    Ref<UINavigationController> navigation;
};

}  // namespace forumtest
