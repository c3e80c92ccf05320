// The process entry: UIApplicationMain with the default application class and "AppDelegate".
//
// The app runs headless. Options for tests and tools:
//   --quit-after-launch (or QVN_QUIT_AFTER_LAUNCH=1): stop the main run loop on its first turn,
//       once launching is done, and exit with 0.
// The server roots come from the QVN_* environment variables (QVNConfiguration); the Weibo open
// API's from WEIBO_OPEN_API_ROOT.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "account/AccountScenes.h"
#include "app/AppDelegate.h"
#include "app/QVNAppStartup.h"
#include "dispatch/Dispatch.h"
#include "forum/ForumScenes.h"
#include "foundation/NSBundle.h"
#include "foundation/NSRunLoop.h"
#include "information/InformationScenes.h"
#include "information/VideosViewController.h"
#include "sdk/weibo/services/WeiboSDKServices.h"
#include "studio/StudioScenes.h"
#include "uikit/UIApplication.h"

namespace {

bool quitAfterLaunch(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quit-after-launch") == 0) return true;
    }
    const char* env = std::getenv("QVN_QUIT_AFTER_LAUNCH");
    return env && *env && std::strcmp(env, "0") != 0;
}

}  // namespace

int main(int argc, char** argv) {
    QVNAppStartup::prepare();
    // The Weibo SDK's registration (in the launch) then starts its statistics and aid services.
    WeiboSDKServices::attach();
    StudioScenes::registerAll();
    AccountScenes::registerAll();
    ForumScenes::registerAll();
    InformationScenes::registerAll();
    StudioScenes::writeResources(NSBundle::mainBundle()->resourcePath());
    if (quitAfterLaunch(argc, argv)) {
        // Queued now, it runs on the run loop's first turn, after the launch has finished.
        dispatch_async(dispatch_get_main_queue(), [] {
            auto application = UIApplication::sharedApplication();
            std::printf("launched: %s\n", application && application->isLaunched() ? "yes" : "no");
            std::fflush(stdout);
            NSRunLoop::mainRunLoop()->stop();
        });
    }
    int result = UIApplicationMain(argc, argv, std::nullopt, std::string("AppDelegate"));
    // Lets the application, its delegate and window go while the platform's registries still
    // exist, rather than in the unordered static destruction at exit.
    UIApplication::setSharedApplication(nullptr);
    return result;
}
