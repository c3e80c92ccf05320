#pragma once
// The app's side of the WeChat app-to-app protocol.
//
// registerApp stores the app's WeChat app id ("wx" and 16 hex digits), which is also the URL
// scheme on which WeChat calls the app back, and announces the app on the shared registration
// pasteboard. sendReq puts the request on the transfer pasteboard (a binary property list keyed
// by command codes, under the app id) and opens "weixin://app/<app id>/sendreq/?" in WeChat; it
// answers NO when WeChat is not installed, nothing is registered or the request is incomplete.
// WeChat answers later by opening one of the app's URLs, which the app hands to handleOpenURL:
// "<app id>://oauth?code=...&state=..." for a sign-in, "<app id>://platformId=wechat" with a
// transfer item for everything else. handleOpenURL answers NO, calling nothing, for a URL not
// addressed to the registered app id or one whose transfer cannot be read.
//
// Thread-safe; the delegate is called on the caller's thread, before handleOpenURL returns.

#include <cstddef>
#include <string>

#include "foundation/NSObject.h"
#include "foundation/NSURL.h"
#include "sdk/wechat/WXApiDelegate.h"
#include "sdk/wechat/WXApiRequests.h"
#include "sdk/wechat/WXApiResponses.h"
#include "sdk/wechat/WXMediaMessage.h"

class WXApi {
  public:
    // Stores the app id and announces the app to WeChat. NO for an empty id.
    static bool registerApp(const std::string& appID);
    // The registered app id; empty before registration.
    static std::string registeredAppID();

    // Decodes a URL WeChat opened in the app and calls the delegate (which may be null: the URL
    // is then only checked and consumed).
    static bool handleOpenURL(const Ref<NSURL>& url, WXApiDelegate* delegate);
    static bool handleOpenURL(const Ref<NSURL>& url, const Ref<WXApiDelegate>& delegate) {
        return handleOpenURL(url, delegate.get());
    }
    static bool handleOpenURL(const Ref<NSURL>& url, std::nullptr_t) {
        return handleOpenURL(url, static_cast<WXApiDelegate*>(nullptr));
    }

    // YES when WeChat can be opened with the URL of the registered app id.
    static bool isWXAppInstalled();
    // YES when WeChat is installed and understands this SDK's requests.
    static bool isWXAppSupportApi();
    // The SDK's version text.
    static std::string getApiVersion();

    // Hands a SendAuthReq or SendMessageToWXReq to WeChat (see above).
    static bool sendReq(const Ref<BaseReq>& request);
};
