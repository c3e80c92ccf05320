#include "sdk/weibo/bridge/WeiboSDK.h"

void WeiboSDK::enableDebugMode(bool) {}
bool WeiboSDK::isDebugMode() { return false; }
bool WeiboSDK::registerApp(const std::optional<std::string>&) { return false; }
std::optional<std::string> WeiboSDK::registeredAppKey() { return std::nullopt; }
long WeiboSDK::addRegistrationHook(RegistrationHook) { return 0; }
void WeiboSDK::removeRegistrationHook(long) {}
bool WeiboSDK::handleOpenURL(const Ref<NSURL>&, WeiboSDKDelegate*) { return false; }
bool WeiboSDK::sendRequest(const Ref<WBBaseRequest>&) { return false; }
bool WeiboSDK::isWeiboAppInstalled() { return false; }
std::string WeiboSDK::getSDKVersion() { return "1.0.0"; }
void WeiboSDK::resetForTesting() {}
