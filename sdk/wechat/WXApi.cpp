#include "sdk/wechat/WXApi.h"

bool WXApi::registerApp(const std::string&) { return false; }
std::string WXApi::registeredAppID() { return {}; }
bool WXApi::handleOpenURL(const Ref<NSURL>&, WXApiDelegate*) { return false; }
bool WXApi::isWXAppInstalled() { return false; }
bool WXApi::isWXAppSupportApi() { return false; }
std::string WXApi::getApiVersion() { return "1.0.0"; }
bool WXApi::sendReq(const Ref<BaseReq>&) { return false; }
void WXApi::resetForTesting() {}
