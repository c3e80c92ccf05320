#include "sdk/weibo/bridge/WeiboSDK3rdApp.h"

#include "foundation/NSBundle.h"
#include "sdk/weibo/bridge/WeiboSDK.h"

Ref<WeiboSDK3rdApp> WeiboSDK3rdApp::currentApp() {
    auto app = make<WeiboSDK3rdApp>();
    app->setAppKey(WeiboSDK::registeredAppKey());
    if (auto bundle = NSBundle::mainBundle()) app->setBundleID(bundle->bundleIdentifier());
    app->setAid(WeiboSDK::storedAid());
    return app;
}
