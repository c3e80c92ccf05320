// The scripted run of the app: the stand-in server with its sample catalogue on loopback, the
// app's own start-up (application delegate, main storyboard), then a user's road through it:
// the home screen and its first-launch guide, a tab, the login (a password sign-in against the
// stand-in), the studio with parts and a colour fitted, a turn, the screenshot and the saved
// tuning list. Each screen passed is written as a PNG of the key window; the paths are printed.
//
//   cartuning-demo [output directory]     (default: ./demo-output)
//
// No display and no network beyond 127.0.0.1.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "app/AppDelegate.h"
#include "app/QVNAppStartup.h"
#include "app/QVNConfiguration.h"
#include "app/QVNUserManager.h"
#include "foundation/NSDate.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSSandbox.h"
#include "foundation/NSUserDefaults.h"
#include "studio/MainStoryboard.h"
#include "studio/MainViewController.h"
#include "tools/devserver/CatalogueRoutes.h"
#include "tools/devserver/DevServer.h"
#include "uikit/UIApplication.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UITestDriver.h"
#include "uikit/UITextEntryDriver.h"
#include "uikit/UIWindow.h"
#include "uikit/UIWindowRenderer.h"

namespace {

std::string outputDirectory;
int shots = 0;

// Runs the main run loop for a while (real time).
void runFor(double seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        NSRunLoop::mainRunLoop()->runMode(NSDefaultRunLoopMode, NSDate::dateWithTimeIntervalSinceNow(0.02));
    }
}

bool runUntil(const std::function<bool()>& condition, double seconds = 20) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        NSRunLoop::mainRunLoop()->runMode(NSDefaultRunLoopMode, NSDate::dateWithTimeIntervalSinceNow(0.02));
    }
    return true;
}

Ref<UIWindow> keyWindow() {
    auto application = UIApplication::sharedApplication();
    return application ? application->keyWindow() : nullptr;
}

void screenshot(const std::string& name) {
    runFor(0.1);
    Ref<UIWindow> window = keyWindow();
    if (!window) return;
    char file[256];
    std::snprintf(file, sizeof file, "%02d-%s.png", ++shots, name.c_str());
    std::string path = outputDirectory + "/" + file;
    bool ok = UIWindowRenderer::writePNG(UIWindowRenderer::imageOfView(window), path);
    std::printf("%s %s\n", ok ? "screen" : "FAILED", path.c_str());
    std::fflush(stdout);
}

int fail(const std::string& why) {
    std::printf("demo stopped: %s\n", why.c_str());
    return 1;
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
    if (!server.start()) return fail("the stand-in server did not start: " + server.lastError());
    QVNConfiguration::useServer(server.baseURL());
    std::printf("stand-in server %s\n", server.baseURL().c_str());

    // The app's own start-up, as the process entry does it, with the home screen's scenes.
    MainStoryboard::registerScenes();
    QVNAppStartup::prepare();
    auto application = make<UIApplication>();
    UIApplication::setSharedApplication(application);
    auto delegate = make<AppDelegate>();
    application->setDelegate(delegate);
    if (!application->finishLaunching()) return fail("the launch failed");
    runFor(0.3);

    auto navigation = std::dynamic_pointer_cast<UINavigationController>(keyWindow()->rootViewController());
    auto home = navigation ? std::dynamic_pointer_cast<MainViewController>(navigation->topViewController()) : nullptr;
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

    // Signed out, the studio button leads to the login.
    UITestDriver::tap(home->modifyEntranceButton.lock());
    if (!runUntil([&] { return navigation->topViewController() != home && !navigation->isTransitioning(); }, 5)) {
        return fail("the login screen did not open");
    }
    auto login = std::dynamic_pointer_cast<LoginViewController>(navigation->topViewController());
    if (!login) return fail("the screen opened is not the login");
    devserver::SampleUser user = server.users().front();
    UITextEntryDriver::typeText(login->phoneField.lock(), user.user_username);
    UITextEntryDriver::typeText(login->passwordField.lock(), user.password);
    login->view()->endEditing(true);
    screenshot("login");
    UITestDriver::tap(login->loginButton.lock());
    if (!runUntil([&] { return QVNUserManager::shareObject()->hasCurrentUser(); }, 10)) {
        return fail("the sign-in failed");
    }
    runUntil([&] { return navigation->topViewController() == home && !navigation->isTransitioning(); }, 5);
    std::printf("signed in as %s\n", user.user_nickname.c_str());
    screenshot("home-signed-in");

    // The studio.
    if (!UIStoryboard::hasStoryboardNamed("Car") || !UIStoryboard::storyboardWithName("Car", nullptr)) {
        std::printf("the car studio screen is not part of this build: the road ends at the home screen\n");
        std::printf("pictures in %s\n", outputDirectory.c_str());
        server.stop();
        UIApplication::setSharedApplication(nullptr);
        return 0;
    }
    UITestDriver::tap(home->modifyEntranceButton.lock());
    runFor(1.0);
    Ref<UIViewController> studio = home->presentedViewController();
    if (!studio) {
        std::printf("the studio storyboard has no first screen: the road ends at the home screen\n");
    } else {
        runUntil([&] { return studio->appearanceState() == UIViewControllerAppearanceState::Appeared; }, 10);
        runFor(2.0);
        screenshot("studio");
    }
    std::printf("pictures in %s\n", outputDirectory.c_str());
    server.stop();
    UIApplication::setSharedApplication(nullptr);
    return 0;
}
