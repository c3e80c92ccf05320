#pragma once
// The app's side of the Weibo app-to-app protocol.
//
// registerApp stores the app key (10 digits); the app's callback scheme is "wb" followed by it.
// sendRequest keeps the request's userInfo by request id, puts a keyed archive of the request
// on the transfer pasteboard and opens "weibosdk://request?id=<request id>&sdkversion=<version>"
// in the Weibo app. The Weibo app answers by opening "wb<app key>://response?id=...&sdkversion=..."
// with the response on the transfer pasteboard; the app hands that URL to handleOpenURL, which
// restores the request's userInfo into the response and calls the delegate. It answers NO,
// calling nothing, for any URL that is not such a callback of this app or whose transfer cannot
// be read.
//
// When the Weibo app is not installed, sendRequest answers the request itself: on a later turn of
// the main queue the application delegate's openURL entry receives the app's own callback URL,
// and the response that handleOpenURL then reads carries WeiboSDKResponseStatusCodeUnsupport
// (-99).
//
// Thread-safe; the delegate is called on the caller's thread, before handleOpenURL returns.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "foundation/NSObject.h"
#include "foundation/NSURL.h"
#include "foundation/Value.h"
#include "sdk/weibo/bridge/WBMessageObject.h"
#include "sdk/weibo/bridge/WBRequests.h"
#include "sdk/weibo/bridge/WBResponses.h"
#include "sdk/weibo/bridge/WeiboSDKDelegate.h"

class WeiboSDK {
  public:
    // Switches the SDK's own log lines on or off (off at start).
    static void enableDebugMode(bool enabled);
    static bool isDebugMode();

    // Stores the app key and runs the registration hooks. A nil or empty key is refused with a
    // log line (NO).
    static bool registerApp(const std::optional<std::string>& appKey);
    // The registered app key; nil before registration.
    static std::optional<std::string> registeredAppKey();

    // Called with the app key after each successful registration, in the order added; the
    // statistics and device-id services attach here. Answers a token for removeRegistrationHook.
    using RegistrationHook = std::function<void(const std::string& appKey)>;
    static long addRegistrationHook(RegistrationHook hook);
    static void removeRegistrationHook(long token);

    static bool handleOpenURL(const Ref<NSURL>& url, WeiboSDKDelegate* delegate);
    static bool handleOpenURL(const Ref<NSURL>& url, const Ref<WeiboSDKDelegate>& delegate) {
        return handleOpenURL(url, delegate.get());
    }
    static bool handleOpenURL(const Ref<NSURL>& url, std::nullptr_t) {
        return handleOpenURL(url, static_cast<WeiboSDKDelegate*>(nullptr));
    }

    // Hands the request to the Weibo app (see above). NO for a null or invalid request, before
    // registration, or when it cannot be transferred.
    static bool sendRequest(const Ref<WBBaseRequest>& request);

    static bool isWeiboAppInstalled();
    // The SDK's version text, sent with every request.
    static std::string getSDKVersion();

    // ---- what the statistics and device-id services use ---------------------------------------
    // The SDK's fixed key hash: 32 lower-case hex digits.
    static std::string hashKey();
    // The URL (its "#" fragment set aside), "?" or "&" when it has a query already, then
    // key=value pairs joined by "&" in the dictionary's order, each value being its description
    // percent-escaped in UTF-8 (everything but letters, digits and "-._~"; keys as they are), then
    // the fragment again. Nil for a nil URL.
    static std::optional<std::string> serializeURLString(const std::optional<std::string>& url,
                                                         const Dictionary& params);
    // The device aid the aid service answers (which may start a fetch), nil while none is known.
    static std::optional<std::string> getWeiboAid();
    // Where the aids come from: `storedAid` answers the aid kept so far without fetching,
    // `advertisementIdentifier` the aid or nil after starting a fetch. The aid service installs
    // them; empty functions answer nil.
    using AidProvider = std::function<std::optional<std::string>()>;
    static void setAidProviders(AidProvider storedAid, AidProvider advertisementIdentifier);
    static std::optional<std::string> storedAid();

    // Where the open API is: a deployment setting, "scheme://host[:port]" without a trailing "/".
    // The process-wide override (setOpenAPIRoot; nullopt forgets it), else the environment's
    // WEIBO_OPEN_API_ROOT, else the production placeholder kDefaultOpenAPIRoot.
    static constexpr char kDefaultOpenAPIRoot[] = "https://api.weibo.example";
    static std::string openAPIRoot();
    static void setOpenAPIRoot(const std::optional<std::string>& root);
};
