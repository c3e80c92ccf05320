#include "sdk/weibo/bridge/WeiboSDK.h"

#include <cctype>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include "dispatch/Dispatch.h"
#include "foundation/NSLog.h"
#include "sdk/weibo/bridge/WBTransfer.h"
#include "sdk/weibo/bridge/WeiboTesting.h"
#include "system/SystemOtherApps.h"
#include "system/UIPasteboard.h"
#include "uikit/UIApplication.h"

using namespace detail::weibo;

namespace {

struct State {
    std::mutex mutex;
    bool debug = false;
    std::optional<std::string> appKey;
    std::vector<std::pair<long, WeiboSDK::RegistrationHook>> hooks;
    long nextHookToken = 1;
    // The userInfo of every request sent and not yet answered, by request id.
    std::map<std::string, Value> userInfoByRequestID;
    // Answers the SDK gave itself (the Weibo app missing), by request id.
    std::map<std::string, Ref<WBBaseResponse>> ownAnswers;
    WeiboSDK::AidProvider storedAid;
    WeiboSDK::AidProvider advertisementIdentifier;
    std::optional<std::string> openAPIRoot;
};

State& state() {
    static State s;
    return s;
}

template <class... Args>
void debugLog(std::string_view format, const Args&... args) {
    if (WeiboSDK::isDebugMode()) NSLog(format, args...);
}

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

Ref<UIPasteboard> transferBoard(bool create) {
    auto board = UIPasteboard::pasteboardWithName(kTransferPasteboard, create);
    if (board && create && !board->isPersistent()) board->setPersistent(true);
    return board;
}

Ref<NSURL> protocolURL(const std::string& scheme, const std::string& kind, const std::string& id) {
    return NSURL::URLWithString(scheme + "://" + kind + "?id=" + id + "&sdkversion=" + kSDKVersion);
}

// The response of the kind that answers the request.
Ref<WBBaseResponse> responseFor(const Ref<WBBaseRequest>& request) {
    if (isKindOf<WBAuthorizeRequest>(request)) return make<WBAuthorizeResponse>();
    if (isKindOf<WBSendMessageToWeiboRequest>(request)) return make<WBSendMessageToWeiboResponse>();
    return make<WBBaseResponse>();
}

// The Weibo app is missing: the SDK answers the request itself, through the application
// delegate's URL entry, as if the answer had come back from outside.
void answerWithoutWeiboApp(const Ref<WBBaseRequest>& request, const std::string& appKey) {
    auto response = responseFor(request);
    response->setStatusCode(WeiboSDKResponseStatusCodeUnsupport);
    response->setRequestID(request->requestID());
    {
        std::lock_guard lock(state().mutex);
        state().ownAnswers[request->requestID()] = response;
    }
    auto url = protocolURL("wb" + appKey, "response", request->requestID());
    dispatch_async(dispatch_get_main_queue(), [url] {
        auto application = UIApplication::sharedApplication();
        auto delegate = application ? application->delegate() : nullptr;
        if (!delegate) return;
        delegate->applicationOpenURL(*application, url, SystemOtherApps::ownBundleIdentifier(), Value());
    });
}

}  // namespace

void WeiboSDK::enableDebugMode(bool enabled) {
    std::lock_guard lock(state().mutex);
    state().debug = enabled;
}

bool WeiboSDK::isDebugMode() {
    std::lock_guard lock(state().mutex);
    return state().debug;
}

bool WeiboSDK::registerApp(const std::optional<std::string>& appKey) {
    if (!appKey || appKey->empty()) {
        NSLog("WeiboSDK: registerApp refused a missing app key");
        return false;
    }
    std::vector<RegistrationHook> hooks;
    {
        std::lock_guard lock(state().mutex);
        state().appKey = appKey;
        for (const auto& [token, hook] : state().hooks) hooks.push_back(hook);
    }
    debugLog("WeiboSDK: registered app key %@", *appKey);
    // The statistics and device-id services start here.
    for (const auto& hook : hooks)
        if (hook) hook(*appKey);
    return true;
}

std::optional<std::string> WeiboSDK::registeredAppKey() {
    std::lock_guard lock(state().mutex);
    return state().appKey;
}

long WeiboSDK::addRegistrationHook(RegistrationHook hook) {
    std::lock_guard lock(state().mutex);
    long token = state().nextHookToken++;
    state().hooks.emplace_back(token, std::move(hook));
    return token;
}

void WeiboSDK::removeRegistrationHook(long token) {
    std::lock_guard lock(state().mutex);
    auto& hooks = state().hooks;
    std::erase_if(hooks, [token](const auto& entry) { return entry.first == token; });
}

bool WeiboSDK::isWeiboAppInstalled() {
    std::string url = kScheme;
    url += "://request";
    return UIApplication::sharedApplication()->canOpenURL(NSURL::URLWithString(url));
}

std::string WeiboSDK::getSDKVersion() {
    return kSDKVersion;
}

bool WeiboSDK::sendRequest(const Ref<WBBaseRequest>& request) {
    if (!request) return false;
    auto appKey = registeredAppKey();
    if (!appKey) {
        debugLog("WeiboSDK: sendRequest before registerApp");
        return false;
    }
    if (!isKindOf<WBAuthorizeRequest>(request) && !isKindOf<WBSendMessageToWeiboRequest>(request)) {
        debugLog("WeiboSDK: the Weibo app takes no %@", request->className());
        return false;
    }
    std::string reason;
    if (!request->isValid(&reason)) {
        NSLog("WeiboSDK: invalid %@: %@", request->className(), reason);
        return false;
    }
    {
        std::lock_guard lock(state().mutex);
        state().userInfoByRequestID[request->requestID()] = request->userInfo();
    }
    if (!isWeiboAppInstalled()) {
        debugLog("WeiboSDK: the Weibo app is not installed; answering %@ here", request->requestID());
        answerWithoutWeiboApp(request, *appKey);
        return true;
    }
    auto data = encodeEnvelope(request, kOriginApp, *appKey, SystemOtherApps::ownBundleIdentifier());
    auto board = transferBoard(true);
    if (!data || !board) {
        NSLog("WeiboSDK: the request could not be archived");
        std::lock_guard lock(state().mutex);
        state().userInfoByRequestID.erase(request->requestID());
        return false;
    }
    board->setData(*data, kTransferType);
    return UIApplication::sharedApplication()->openURL(protocolURL(kScheme, "request", request->requestID()));
}

bool WeiboSDK::handleOpenURL(const Ref<NSURL>& url, WeiboSDKDelegate* delegate) {
    if (!url) return false;
    auto appKey = registeredAppKey();
    auto scheme = url->scheme();
    if (!appKey || !scheme || lower(*scheme) != lower("wb" + *appKey)) return false;
    auto host = url->host();
    if (!host || (*host != "response" && *host != "request")) return false;
    if (!url->path().empty() && url->path() != "/") return false;
    auto arguments = urlArguments(url);
    if (!arguments) {
        debugLog("WeiboSDK: callback without a request id or version: %@", url->absoluteString());
        return false;
    }
    bool isResponse = *host == "response";

    Ref<NSObject> object;
    bool fromPasteboard = false;
    if (isResponse) {
        std::lock_guard lock(state().mutex);
        auto it = state().ownAnswers.find(arguments->id);
        if (it != state().ownAnswers.end()) {
            object = it->second;
            state().ownAnswers.erase(it);
        }
    }
    if (!object) {
        auto board = transferBoard(false);
        auto data = board ? board->dataForPasteboardType(kTransferType) : std::nullopt;
        if (!data) {
            debugLog("WeiboSDK: callback without a transfer");
            return false;
        }
        std::string reason;
        auto envelope = decodeEnvelope(*data, kOriginWeibo, &reason);
        if (!envelope || envelope->appKey != *appKey) {
            debugLog("WeiboSDK: unreadable transfer: %@", envelope ? "for another app" : reason);
            return false;
        }
        object = envelope->object;
        fromPasteboard = true;
    }

    if (isResponse) {
        auto response = asKind<WBBaseResponse>(object);
        if (!response || response->requestID() != arguments->id) {
            debugLog("WeiboSDK: the transfer does not answer %@", arguments->id);
            return false;
        }
        {
            std::lock_guard lock(state().mutex);
            auto it = state().userInfoByRequestID.find(arguments->id);
            if (it != state().userInfoByRequestID.end()) {
                response->setRequestUserInfo(it->second);
                state().userInfoByRequestID.erase(it);
            }
        }
        if (fromPasteboard) transferBoard(false)->setItems(Array());
        if (delegate) delegate->didReceiveWeiboResponse(response);
        return true;
    }
    auto request = asKind<WBBaseRequest>(object);
    if (!request || request->requestID() != arguments->id) {
        debugLog("WeiboSDK: the transfer is not request %@", arguments->id);
        return false;
    }
    transferBoard(false)->setItems(Array());
    if (delegate) delegate->didReceiveWeiboRequest(request);
    return true;
}

std::string WeiboSDK::hashKey() {
    return "7c3e91a05fd24b6e8a17c9d2e0b4f583";
}

std::optional<std::string> WeiboSDK::serializeURLString(const std::optional<std::string>& url,
                                                        const Dictionary& params) {
    if (!url) return std::nullopt;
    std::string base = *url;
    std::optional<std::string> fragment;
    if (auto hash = base.find('#'); hash != std::string::npos) {
        fragment = base.substr(hash + 1);
        base.erase(hash);
    }
    static const char hex[] = "0123456789ABCDEF";
    std::string out = base + (base.find('?') != std::string::npos ? "&" : "?");
    bool first = true;
    for (const auto& [key, value] : params) {
        if (!first) out += '&';
        first = false;
        out += key;
        out += '=';
        for (unsigned char c : value.description()) {
            if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
                out += static_cast<char>(c);
            } else {
                out += '%';
                out += hex[c >> 4];
                out += hex[c & 15];
            }
        }
    }
    if (fragment) out += "#" + *fragment;
    return out;
}

void WeiboSDK::setAidProviders(AidProvider storedAid, AidProvider advertisementIdentifier) {
    std::lock_guard lock(state().mutex);
    state().storedAid = std::move(storedAid);
    state().advertisementIdentifier = std::move(advertisementIdentifier);
}

std::optional<std::string> WeiboSDK::storedAid() {
    AidProvider provider;
    {
        std::lock_guard lock(state().mutex);
        provider = state().storedAid;
    }
    return provider ? provider() : std::nullopt;
}

std::optional<std::string> WeiboSDK::getWeiboAid() {
    AidProvider provider;
    {
        std::lock_guard lock(state().mutex);
        provider = state().advertisementIdentifier;
    }
    return provider ? provider() : std::nullopt;
}

std::string WeiboSDK::openAPIRoot() {
    std::optional<std::string> root;
    {
        std::lock_guard lock(state().mutex);
        root = state().openAPIRoot;
    }
    if (!root) {
        if (const char* env = std::getenv("WEIBO_OPEN_API_ROOT"); env && *env) root = std::string(env);
    }
    std::string out = root.value_or(kDefaultOpenAPIRoot);
    while (!out.empty() && out.back() == '/') out.pop_back();
    return out;
}

void WeiboSDK::setOpenAPIRoot(const std::optional<std::string>& root) {
    std::lock_guard lock(state().mutex);
    state().openAPIRoot = root;
}

namespace weibo_testing {

void resetSDK() {
    std::lock_guard lock(state().mutex);
    state().debug = false;
    state().appKey.reset();
    state().hooks.clear();
    state().userInfoByRequestID.clear();
    state().ownAnswers.clear();
    state().storedAid = nullptr;
    state().advertisementIdentifier = nullptr;
    state().openAPIRoot.reset();
}

}  // namespace weibo_testing
