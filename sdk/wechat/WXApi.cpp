#include "sdk/wechat/WXApi.h"

#include <mutex>

#include "foundation/NSLog.h"
#include "foundation/NSString.h"
#include "sdk/wechat/WXTransfer.h"
#include "sdk/wechat/WeChatTesting.h"
#include "system/SystemOtherApps.h"
#include "system/UIPasteboard.h"
#include "uikit/UIApplication.h"

using namespace detail::wechat;

namespace {

std::mutex& stateMutex() {
    static std::mutex m;
    return m;
}
std::string& appIDStorage() {
    static std::string id;
    return id;
}

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

Ref<NSURL> wechatURL(const std::string& appID, const std::string& action) {
    return NSURL::URLWithString(std::string(kScheme) + "://app/" + appID + "/" + action);
}

Ref<UIPasteboard> persistentPasteboard(const char* name) {
    auto board = UIPasteboard::pasteboardWithName(name, true);
    if (board && !board->isPersistent()) board->setPersistent(true);
    return board;
}

// The sign-in answer comes in the URL itself.
Ref<BaseResp> authResponseFromQuery(const Ref<NSURL>& url) {
    auto components = NSURLComponents::componentsWithURL(url);
    auto response = make<SendAuthResp>();
    response->setType(kKindSendAuthResp);
    std::optional<std::string> errCodeText;
    if (components) {
        if (auto items = components->queryItems()) {
            for (const auto& item : *items) {
                if (item->name() == "code")
                    response->setCode(item->value());
                else if (item->name() == "state")
                    response->setState(item->value());
                else if (item->name() == "lang")
                    response->setLang(item->value());
                else if (item->name() == "country")
                    response->setCountry(item->value());
                else if (item->name() == "errCode")
                    errCodeText = item->value();
            }
        }
    }
    if (response->code() && response->code()->empty()) response->setCode(std::nullopt);
    if (errCodeText) {
        // Only a plain decimal 32-bit number counts; anything else is a plain denial.
        char* end = nullptr;
        errno = 0;
        long long v = std::strtoll(errCodeText->c_str(), &end, 10);
        bool ok =
            !errCodeText->empty() && end && *end == '\0' && errno == 0 && v >= INT32_MIN && v <= INT32_MAX;
        response->setErrCode(ok ? static_cast<std::int32_t>(v) : WXErrCodeAuthDeny);
    } else {
        response->setErrCode(response->code() ? WXSuccess : WXErrCodeAuthDeny);
    }
    // A success without a code is no success.
    if (response->errCode() == WXSuccess && !response->code()) response->setErrCode(WXErrCodeAuthDeny);
    return response;
}

}  // namespace

bool WXApi::registerApp(const std::string& appID) {
    if (appID.empty()) {
        NSLog("WXApi: registerApp refused an empty app id");
        return false;
    }
    {
        std::lock_guard lock(stateMutex());
        appIDStorage() = appID;
    }
    Dictionary fields = Dictionary::mutableDictionary();
    fields.setObject(kKeyBundleID, SystemOtherApps::ownBundleIdentifier());
    fields.setObject(kKeyKind, 0);
    auto data = encodeTransfer(fields, appID, kOriginApp);
    auto board = persistentPasteboard(kRegistrationPasteboard);
    if (data && board) {
        // Keep the other apps' entries: the registration pasteboard lists every app id.
        Array items = board->items();
        Dictionary item = items.count() > 0 && items[0].isDictionary() ? items[0].dictionary()->mutableCopy()
                                                                       : Dictionary::mutableDictionary();
        item.setObject(appID, *data);
        board->setItems(Array{Value(item)});
    }
    return true;
}

std::string WXApi::registeredAppID() {
    std::lock_guard lock(stateMutex());
    return appIDStorage();
}

bool WXApi::isWXAppInstalled() {
    return UIApplication::sharedApplication()->canOpenURL(wechatURL(registeredAppID(), ""));
}

bool WXApi::isWXAppSupportApi() {
    return isWXAppInstalled();
}

std::string WXApi::getApiVersion() {
    return kSDKVersion;
}

bool WXApi::sendReq(const Ref<BaseReq>& request) {
    if (!request) return false;
    std::string appID = registeredAppID();
    if (appID.empty()) {
        NSLog("WXApi: sendReq before registerApp");
        return false;
    }
    std::string reason;
    auto data = encodeAppRequest(*request, appID, &reason);
    if (!data) {
        NSLog("WXApi: sendReq refused: %@", reason);
        return false;
    }
    auto url = wechatURL(appID, "sendreq/?");
    if (!url || !UIApplication::sharedApplication()->canOpenURL(url)) {
        NSLog("WXApi: WeChat is not installed");
        return false;
    }
    auto board = persistentPasteboard(kTransferPasteboard);
    if (!board) return false;
    board->setData(*data, appID);
    return UIApplication::sharedApplication()->openURL(url);
}

bool WXApi::handleOpenURL(const Ref<NSURL>& url, WXApiDelegate* delegate) {
    if (!url) return false;
    std::string appID = registeredAppID();
    auto scheme = url->scheme();
    if (appID.empty() || !scheme || lower(*scheme) != lower(appID)) return false;
    auto host = url->host();
    if (!host) return false;

    if (*host == kOAuthHost) {
        auto response = authResponseFromQuery(url);
        if (delegate) delegate->onResp(response);
        return true;
    }
    if (*host != kTransferHost) return false;

    auto board = UIPasteboard::pasteboardWithName(kTransferPasteboard, false);
    if (!board) return false;
    auto data = board->dataForPasteboardType(appID);
    if (!data) return false;
    std::string reason;
    auto fields = decodeTransfer(*data, appID, kOriginWeChat, &reason);
    if (!fields) {
        NSLog("WXApi: unreadable transfer: %@", reason);
        return false;
    }
    std::int64_t kind = (*fields)[kKeyKind].longLongValue();
    Ref<BaseReq> request;
    Ref<BaseResp> response;
    if (kind >= kKindSendAuthResp)
        response = responseFromFields(*fields, &reason);
    else
        request = requestFromFields(*fields, &reason);
    if (!request && !response) {
        NSLog("WXApi: unreadable transfer: %@", reason);
        return false;
    }
    // A transfer is read once: the same URL opened again finds nothing.
    board->setItems(Array());
    if (delegate) {
        if (request)
            delegate->onReq(request);
        else
            delegate->onResp(response);
    }
    return true;
}

namespace wechat_testing {

void resetSDK() {
    std::lock_guard lock(stateMutex());
    appIDStorage().clear();
}

}  // namespace wechat_testing
