#pragma once
// The other apps on the device, as far as URL schemes go.
//
// A phone routes a URL to whichever installed app claims its scheme. Here the installed apps are
// fakes that tests (and the stand-ins of the social apps) register: a bundle identifier, the
// schemes it claims and a handler that receives the URLs opened in it. The application layer
// asks this registry when the app calls canOpenURL / openURL, and hands it the app's own entry
// point (setOwnAppURLHandler) so that a fake app can answer by opening one of OUR app's URLs.
//
// - canOpenURL: a registered app claims the scheme, the scheme is one of ours, or the system
//   handles it itself (http, https: the browser; tel, sms, mailto).
// - openURL: records the call (openedURLs), then, on a later turn of the main run loop, delivers
//   the URL to the claiming fake app's handler with our bundle identifier as the source. System
//   schemes are only recorded ("opens in a browser"). Our own schemes go to our own entry point.
//   Answers whether anything will receive the URL.
// - openURLFromApp: a fake app opens a URL. One of our schemes (or, when we declared none, any
//   scheme no other app claims) reaches our entry point on a later turn of the main run loop,
//   with the fake app's bundle identifier as the source application. Deliveries to our app are
//   recorded with the entry point's answer (deliveriesToOwnApp).
//
// Schemes compare without regard to case. Deliveries never run inline: the caller always returns
// first. Thread-safe; handlers run on the main thread.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSObject.h"
#include "foundation/NSURL.h"

class SystemOtherApps {
  public:
    // (url, source application) -> handled. Runs on the main thread.
    using OwnAppURLHandler = std::function<bool(const Ref<NSURL>& url, const std::string& sourceApplication)>;
    // (url, source application). Runs on the main thread.
    using AppURLHandler = std::function<void(const Ref<NSURL>& url, const std::string& sourceApplication)>;

    // Who received (or was meant to receive) an opened URL.
    struct OpenedURL {
        Ref<NSURL> url;
        // The bundle identifier of the fake app; "system" for schemes the system handles; ours
        // for our own schemes; empty when nothing claims the scheme.
        std::string target;
        bool handled = false;
    };
    struct Delivery {
        Ref<NSURL> url;
        std::string sourceApplication;
        bool handled = false;
    };

    // ---- installed apps (tests and fakes) ----------------------------------------------------
    // Installs (or replaces) a fake app. A scheme claimed by two apps goes to the later one.
    static void installApp(const std::string& bundleIdentifier, const std::vector<std::string>& schemes,
                           AppURLHandler handler);
    static void removeApp(const std::string& bundleIdentifier);
    static bool isAppInstalled(const std::string& bundleIdentifier);
    // The bundle identifier of the app claiming a scheme, if any.
    static std::optional<std::string> appForScheme(const std::string& scheme);

    // ---- what the application layer asks -----------------------------------------------------
    static bool canOpenURL(const Ref<NSURL>& url);
    static bool openURL(const Ref<NSURL>& url);

    // ---- our own app -------------------------------------------------------------------------
    static void setOwnAppURLHandler(OwnAppURLHandler handler);
    // The schemes our app declares; a URL of these schemes opens our app.
    static void setOwnAppURLSchemes(std::vector<std::string> schemes);
    // Our bundle identifier, the source application of what we open; the main bundle's
    // identifier unless set (an empty text returns to it).
    static void setOwnBundleIdentifier(const std::string& bundleIdentifier);
    static std::string ownBundleIdentifier();

    // A fake app opens a URL (see above). Answers whether something will receive it.
    static bool openURLFromApp(const std::string& sourceBundleIdentifier, const Ref<NSURL>& url);

    // ---- records -----------------------------------------------------------------------------
    static std::vector<OpenedURL> openedURLs();
    static std::vector<Delivery> deliveriesToOwnApp();
    static void clearRecords();

    // The schemes the system answers itself.
    static bool isSystemScheme(const std::string& scheme);
};
