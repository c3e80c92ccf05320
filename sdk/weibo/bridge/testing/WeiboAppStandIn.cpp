#include "sdk/weibo/bridge/testing/WeiboAppStandIn.h"

#include "foundation/NSDate.h"
#include "sdk/weibo/bridge/WBTransfer.h"

using namespace detail::weibo;

Ref<WeiboAppStandIn> WeiboAppStandIn::install() {
    auto standIn = make<WeiboAppStandIn>();
    otherapps::installStandIn(standIn, kBundleIdentifier, {kScheme}, &WeiboAppStandIn::receive);
    return standIn;
}

void WeiboAppStandIn::uninstall() {
    SystemOtherApps::removeApp(kBundleIdentifier);
}

std::vector<WeiboAppStandIn::Received> WeiboAppStandIn::received() const {
    return journal_.received();
}

std::size_t WeiboAppStandIn::receivedCount() const {
    return journal_.receivedCount();
}

void WeiboAppStandIn::scriptAuthorize(std::string accessToken, std::string userID, std::string refreshToken,
                                      double expiresInSeconds) {
    Answer a;
    a.kind = Answer::Authorize;
    a.accessToken = std::move(accessToken);
    a.userID = std::move(userID);
    a.refreshToken = std::move(refreshToken);
    a.expiresIn = expiresInSeconds;
    journal_.script(std::move(a));
}

void WeiboAppStandIn::scriptStatus(long statusCode) {
    Answer a;
    a.kind = Answer::Status;
    a.statusCode = statusCode;
    journal_.script(std::move(a));
}

void WeiboAppStandIn::scriptNoAnswer() {
    journal_.script(Answer{});
}

void WeiboAppStandIn::receive(const Ref<NSURL>& url, const std::string& source) {
    Received got;
    got.url = url;
    got.sourceApplication = source;
    if (auto arguments = urlArguments(url)) {
        got.requestID = arguments->id;
        got.sdkVersion = arguments->sdkVersion;
    } else {
        got.error = "the URL names no request id and version";
    }
    if (got.error.empty()) {
        auto board = UIPasteboard::pasteboardWithName(kTransferPasteboard, false);
        auto data = board ? board->dataForPasteboardType(kTransferType) : std::nullopt;
        if (!data) {
            got.error = "no transfer";
        } else if (auto envelope = decodeEnvelope(*data, kOriginApp, &got.error)) {
            got.appKey = envelope->appKey;
            got.bundleID = envelope->bundleID;
            got.request = asKind<WBBaseRequest>(envelope->object);
            if (!got.request)
                got.error = "the transfer holds no request";
            else if (got.request->requestID() != got.requestID)
                got.error = "the transfer is another request";
        }
    }
    Answer next = journal_.record(got);
    if (got.request) answer(got, next);
}

void WeiboAppStandIn::answer(const Received& got, const Answer& next) {
    if (next.kind == Answer::None) return;
    Ref<WBAuthorizeResponse> auth;
    if (next.kind == Answer::Authorize) {
        auth = make<WBAuthorizeResponse>();
        auth->setAccessToken(next.accessToken);
        auth->setUserID(next.userID);
        auth->setRefreshToken(next.refreshToken);
        auth->setExpirationDate(NSDate::dateWithTimeIntervalSinceNow(next.expiresIn));
        auth->setRequestID(got.requestID);
    }
    Ref<WBBaseResponse> response;
    if (isKindOf<WBAuthorizeRequest>(got.request)) {
        response = auth ? auth : make<WBAuthorizeResponse>();
    } else if (isKindOf<WBSendMessageToWeiboRequest>(got.request)) {
        auto share = make<WBSendMessageToWeiboResponse>();
        share->setAuthResponse(auth);
        response = share;
    } else {
        response = make<WBBaseResponse>();
    }
    response->setStatusCode(next.kind == Answer::Status ? next.statusCode : 0);
    response->setRequestID(got.requestID);
    // The Weibo app's own words come back in userInfo; the request's are restored by the SDK.
    response->setUserInfo(Dictionary{{"answeredBy", kBundleIdentifier}});
    sendResponse(got.appKey, response);
}

std::string WeiboAppStandIn::callbackURL(const std::string& appKey, const std::string& kind,
                                         const std::string& id) {
    return "wb" + appKey + "://" + kind + "?id=" + id + "&sdkversion=" + kSDKVersion;
}

void WeiboAppStandIn::sendResponse(const std::string& appKey, const Ref<WBBaseResponse>& response) {
    if (auto data = encodeEnvelope(response, kOriginWeibo, appKey, "")) writeRawTransfer(*data);
    openAppURL(callbackURL(appKey, "response", response ? response->requestID() : ""));
}

void WeiboAppStandIn::sendRequest(const std::string& appKey, const Ref<WBBaseRequest>& request) {
    if (auto data = encodeEnvelope(request, kOriginWeibo, appKey, "")) writeRawTransfer(*data);
    openAppURL(callbackURL(appKey, "request", request ? request->requestID() : ""));
}

void WeiboAppStandIn::writeRawTransfer(const NSData& bytes) {
    if (auto board = otherapps::transferPasteboard(kTransferPasteboard)) board->setData(bytes, kTransferType);
}

void WeiboAppStandIn::openAppURL(const std::string& url) {
    otherapps::openURLFromStandIn(kBundleIdentifier, url);
}
