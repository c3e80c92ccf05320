// A process that fetches the device's aid from the open API and ends by returning from main,
// without synchronizing the user defaults. Exit status 0 once the aid arrived, 1 when it did not
// within ten seconds.
//
//   aid_fetcher <sandbox root> <resources folder> <bundle identifier> <open API root>

#include <atomic>
#include <string>

#include "foundation/NSBundle.h"
#include "foundation/NSDate.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSSandbox.h"
#include "sdk/weibo/bridge/WeiboSDK.h"
#include "sdk/weibo/services/WBAidManager.h"

int main(int argc, char** argv) {
    if (argc < 5) return 2;
    if (!NSSandbox::setRoot(argv[1])) return 3;
    NSBundle::setMainBundlePath(argv[2]);
    NSBundle::setInfoValue("CFBundleIdentifier", std::string(argv[3]));
    WeiboSDK::setOpenAPIRoot(std::string(argv[4]));

    std::atomic<bool> answered{false};
    bool succeeded = false;
    auto observer = make<NSObject>();
    auto center = NSNotificationCenter::defaultCenter();
    center->addObserver(
        observer, "aid",
        [&](const Ref<NSNotification>&) {
            succeeded = true;
            answered = true;
        },
        std::string(kWeiboSDKGetAidSucessNotification));
    center->addObserver(
        observer, "fail", [&](const Ref<NSNotification>&) { answered = true; },
        std::string(kWeiboSDKGetAidFailNotification));

    WBAidManager::sharedInstance()->fetchAid(false);
    auto runLoop = NSRunLoop::mainRunLoop();
    double deadline = NSDate::date().timeIntervalSince1970() + 10;
    while (!answered && NSDate::date().timeIntervalSince1970() < deadline)
        runLoop->runMode(NSDefaultRunLoopMode, NSDate::dateWithTimeIntervalSinceNow(0.05));
    center->removeObserver(observer);
    return succeeded ? 0 : 1;
}
