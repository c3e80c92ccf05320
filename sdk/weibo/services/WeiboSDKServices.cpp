#include "sdk/weibo/services/WeiboSDKServices.h"

#include <mutex>

#include "sdk/weibo/bridge/WeiboSDK.h"
#include "sdk/weibo/bridge/WeiboSDK3rdApp.h"
#include "sdk/weibo/services/WBAidManager.h"
#include "sdk/weibo/services/WBSDKStatisticsRecordManager.h"

namespace {
std::mutex gLock;  // guards gToken
long gToken = 0;
}  // namespace

namespace WeiboSDKServices {

void attach() {
    std::lock_guard guard(gLock);
    if (gToken) return;
    WeiboSDK::setAidProviders([] { return WBAidManager::sharedInstance()->aid(); },
                              [] { return WBAidManager::sharedInstance()->advertisementIdentifier(); });
    gToken = WeiboSDK::addRegistrationHook([](const std::string&) {
        WBAidManager::sharedInstance()->fetchAidIfNeededWithApp(WeiboSDK3rdApp::currentApp());
        WBSDKStatisticsRecordManager::instance()->startApp();
    });
}

void detach() {
    std::lock_guard guard(gLock);
    if (!gToken) return;
    WeiboSDK::removeRegistrationHook(gToken);
    WeiboSDK::setAidProviders(nullptr, nullptr);
    gToken = 0;
}

}  // namespace WeiboSDKServices
