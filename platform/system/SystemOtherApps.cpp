#include "system/SystemOtherApps.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

#include "foundation/NSBundle.h"
#include "foundation/NSRunLoop.h"
#include "system/SystemTesting.h"

namespace {

struct InstalledApp {
    std::vector<std::string> schemes;  // lower case
    std::shared_ptr<SystemOtherApps::AppURLHandler> handler;
    std::uint64_t order = 0;  // later installs win a contested scheme
};

struct State {
    std::mutex mutex;
    std::map<std::string, InstalledApp> apps;
    std::uint64_t nextOrder = 1;
    std::shared_ptr<SystemOtherApps::OwnAppURLHandler> ownHandler;
    std::vector<std::string> ownSchemes;  // lower case
    std::optional<std::string> ownBundleIdentifier;
    std::vector<SystemOtherApps::OpenedURL> opened;
    std::vector<SystemOtherApps::Delivery> deliveries;
};

State& state() {
    static State s;
    return s;
}

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string schemeOf(const Ref<NSURL>& url) {
    if (!url) return {};
    auto scheme = url->scheme();
    return scheme ? lowercase(*scheme) : std::string();
}

// The claiming app's identifier, lock held.
std::optional<std::string> claimantLocked(const State& s, const std::string& scheme) {
    const std::string* best = nullptr;
    std::uint64_t bestOrder = 0;
    for (const auto& [identifier, app] : s.apps) {
        if (std::find(app.schemes.begin(), app.schemes.end(), scheme) != app.schemes.end() &&
            app.order > bestOrder) {
            best = &identifier;
            bestOrder = app.order;
        }
    }
    return best ? std::optional<std::string>(*best) : std::nullopt;
}

bool isOwnSchemeLocked(const State& s, const std::string& scheme) {
    return std::find(s.ownSchemes.begin(), s.ownSchemes.end(), scheme) != s.ownSchemes.end();
}

std::string ownIdentifierLocked(const State& s) {
    if (s.ownBundleIdentifier) return *s.ownBundleIdentifier;
    auto identifier = NSBundle::mainBundle()->bundleIdentifier();
    return identifier ? *identifier : std::string();
}

void onMainLoopLater(std::function<void()> block) {
    NSRunLoop::mainRunLoop()->performInModes({NSRunLoopCommonModes}, std::move(block));
}

// Queues the URL for our own entry point; the handler in place when it runs is the one called.
void deliverToOwnApp(const Ref<NSURL>& url, const std::string& source) {
    onMainLoopLater([url, source] {
        std::shared_ptr<SystemOtherApps::OwnAppURLHandler> handler;
        {
            std::lock_guard lock(state().mutex);
            handler = state().ownHandler;
        }
        bool handled = handler && *handler && (*handler)(url, source);
        std::lock_guard lock(state().mutex);
        state().deliveries.push_back({url, source, handled});
    });
}

}  // namespace

bool SystemOtherApps::isSystemScheme(const std::string& scheme) {
    static const std::vector<std::string> schemes = {"http", "https", "tel", "sms", "mailto"};
    return std::find(schemes.begin(), schemes.end(), lowercase(scheme)) != schemes.end();
}

void SystemOtherApps::installApp(const std::string& bundleIdentifier, const std::vector<std::string>& schemes,
                                 AppURLHandler handler) {
    InstalledApp app;
    for (const auto& scheme : schemes) {
        if (!scheme.empty()) app.schemes.push_back(lowercase(scheme));
    }
    app.handler = std::make_shared<AppURLHandler>(std::move(handler));
    std::lock_guard lock(state().mutex);
    app.order = state().nextOrder++;
    state().apps[bundleIdentifier] = std::move(app);
}

void SystemOtherApps::removeApp(const std::string& bundleIdentifier) {
    std::lock_guard lock(state().mutex);
    state().apps.erase(bundleIdentifier);
}

bool SystemOtherApps::isAppInstalled(const std::string& bundleIdentifier) {
    std::lock_guard lock(state().mutex);
    return state().apps.count(bundleIdentifier) != 0;
}

std::optional<std::string> SystemOtherApps::appForScheme(const std::string& scheme) {
    std::lock_guard lock(state().mutex);
    return claimantLocked(state(), lowercase(scheme));
}

bool SystemOtherApps::canOpenURL(const Ref<NSURL>& url) {
    std::string scheme = schemeOf(url);
    if (scheme.empty()) return false;
    std::lock_guard lock(state().mutex);
    return claimantLocked(state(), scheme) || isOwnSchemeLocked(state(), scheme) || isSystemScheme(scheme);
}

bool SystemOtherApps::openURL(const Ref<NSURL>& url) {
    if (!url) return false;
    std::string scheme = schemeOf(url);
    std::shared_ptr<AppURLHandler> handler;
    std::string source;
    OpenedURL record{url, std::string(), false};
    bool toOwnApp = false;
    {
        std::lock_guard lock(state().mutex);
        auto& s = state();
        source = ownIdentifierLocked(s);
        if (auto claimant = scheme.empty() ? std::nullopt : claimantLocked(s, scheme)) {
            record.target = *claimant;
            record.handled = true;
            handler = s.apps[*claimant].handler;
        } else if (!scheme.empty() && isOwnSchemeLocked(s, scheme)) {
            record.target = source;
            record.handled = true;
            toOwnApp = true;
        } else if (isSystemScheme(scheme)) {
            record.target = "system";
            record.handled = true;
        }
        s.opened.push_back(record);
    }
    if (handler) {
        onMainLoopLater([handler, url, source] {
            if (*handler) (*handler)(url, source);
        });
    } else if (toOwnApp) {
        deliverToOwnApp(url, source);
    }
    return record.handled;
}

void SystemOtherApps::setOwnAppURLHandler(OwnAppURLHandler handler) {
    auto shared = handler ? std::make_shared<OwnAppURLHandler>(std::move(handler)) : nullptr;
    std::lock_guard lock(state().mutex);
    state().ownHandler = std::move(shared);
}

void SystemOtherApps::setOwnAppURLSchemes(std::vector<std::string> schemes) {
    for (auto& scheme : schemes) scheme = lowercase(scheme);
    schemes.erase(std::remove(schemes.begin(), schemes.end(), std::string()), schemes.end());
    std::lock_guard lock(state().mutex);
    state().ownSchemes = std::move(schemes);
}

void SystemOtherApps::setOwnBundleIdentifier(const std::string& bundleIdentifier) {
    std::lock_guard lock(state().mutex);
    if (bundleIdentifier.empty()) {
        state().ownBundleIdentifier.reset();
    } else {
        state().ownBundleIdentifier = bundleIdentifier;
    }
}

std::string SystemOtherApps::ownBundleIdentifier() {
    std::lock_guard lock(state().mutex);
    return ownIdentifierLocked(state());
}

bool SystemOtherApps::openURLFromApp(const std::string& sourceBundleIdentifier, const Ref<NSURL>& url) {
    if (!url) return false;
    std::string scheme = schemeOf(url);
    if (scheme.empty()) return false;
    std::shared_ptr<AppURLHandler> handler;
    bool toOwnApp = false;
    {
        std::lock_guard lock(state().mutex);
        auto& s = state();
        if (isOwnSchemeLocked(s, scheme)) {
            toOwnApp = true;
        } else if (auto claimant = claimantLocked(s, scheme)) {
            handler = s.apps[*claimant].handler;
        } else if (isSystemScheme(scheme)) {
            return true;  // opens in the browser
        } else if (s.ownSchemes.empty()) {
            // We declared no schemes: what nobody else claims comes to us.
            toOwnApp = true;
        }
    }
    if (handler) {
        onMainLoopLater([handler, url, sourceBundleIdentifier] {
            if (*handler) (*handler)(url, sourceBundleIdentifier);
        });
        return true;
    }
    if (toOwnApp) {
        deliverToOwnApp(url, sourceBundleIdentifier);
        return true;
    }
    return false;
}

std::vector<SystemOtherApps::OpenedURL> SystemOtherApps::openedURLs() {
    std::lock_guard lock(state().mutex);
    return state().opened;
}

std::vector<SystemOtherApps::Delivery> SystemOtherApps::deliveriesToOwnApp() {
    std::lock_guard lock(state().mutex);
    return state().deliveries;
}

void SystemOtherApps::clearRecords() {
    std::lock_guard lock(state().mutex);
    state().opened.clear();
    state().deliveries.clear();
}

namespace system_testing {

void resetOtherApps() {
    std::lock_guard lock(state().mutex);
    auto& s = state();
    s.apps.clear();
    s.ownHandler.reset();
    s.ownSchemes.clear();
    s.ownBundleIdentifier.reset();
    s.opened.clear();
    s.deliveries.clear();
}

}  // namespace system_testing
