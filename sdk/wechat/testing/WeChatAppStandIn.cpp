#include "sdk/wechat/testing/WeChatAppStandIn.h"

#include <cctype>

#include "foundation/NSPropertyListSerialization.h"
#include "sdk/wechat/WXTransfer.h"

using namespace detail::wechat;

namespace {

// Everything but the unreserved characters is escaped, so a value can hold "&" or "=".
std::string escaped(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// SendAuthReq / SendMessageToWXReq from the fields the SDK wrote.
Ref<BaseReq> requestFromAppFields(const Dictionary& fields, std::string* error) {
    std::int64_t kind = fields[kKeyKind].longLongValue();
    if (kind == kKindSendAuthReq) {
        if (!fields[kKeyAuthScope].isString()) {
            *error = "sign-in request without a scope";
            return nullptr;
        }
        auto r = make<SendAuthReq>();
        r->setScope(*fields[kKeyAuthScope].string());
        r->setState(fields[kKeyAuthState].stringValue());
        r->setOpenID(fields[kKeyOpenID].stringValue());
        r->setType(kKindSendAuthReq);
        return r;
    }
    if (kind == kKindSendMessageReq) {
        auto r = make<SendMessageToWXReq>();
        r->setType(kKindSendMessageReq);
        r->setBText(fields[kKeyBText].boolValue());
        r->setScene(fields[kKeyScene].intValue());
        if (r->bText()) {
            r->setText(fields[kKeyText].stringValue());
        } else {
            auto message = mediaMessageFromFields(fields, error);
            if (!message) return nullptr;
            r->setMessage(message);
        }
        return r;
    }
    *error = "unknown request kind";
    return nullptr;
}

}  // namespace

Ref<WeChatAppStandIn> WeChatAppStandIn::install() {
    auto standIn = make<WeChatAppStandIn>();
    otherapps::installStandIn(standIn, kBundleIdentifier, {kScheme}, &WeChatAppStandIn::receive);
    return standIn;
}

void WeChatAppStandIn::uninstall() {
    SystemOtherApps::removeApp(kBundleIdentifier);
}

std::vector<WeChatAppStandIn::Received> WeChatAppStandIn::received() const {
    return journal_.received();
}

std::size_t WeChatAppStandIn::receivedCount() const {
    return journal_.receivedCount();
}

std::vector<std::string> WeChatAppStandIn::registeredAppIDs() const {
    std::vector<std::string> ids;
    auto board = UIPasteboard::pasteboardWithName(kRegistrationPasteboard, false);
    if (!board) return ids;
    for (const auto& type : board->pasteboardTypes()) {
        auto data = board->dataForPasteboardType(type);
        if (!data) continue;
        Value plist = NSPropertyListSerialization::propertyListWithData(*data, 0, nullptr, nullptr);
        if (plist[kKeyAppID].isString() && *plist[kKeyAppID].string() == type) ids.push_back(type);
    }
    return ids;
}

void WeChatAppStandIn::scriptAuthCode(std::string code) {
    journal_.script({Answer::AuthCode, std::move(code), 0});
}

void WeChatAppStandIn::scriptAuthDenied() {
    journal_.script({Answer::AuthDenied, "", WXErrCodeAuthDeny});
}

void WeChatAppStandIn::scriptShareResult(std::int32_t errCode) {
    journal_.script({Answer::Share, "", errCode});
}

void WeChatAppStandIn::scriptNoAnswer() {
    journal_.script({Answer::None, "", 0});
}

void WeChatAppStandIn::receive(const Ref<NSURL>& url, const std::string& source) {
    Received got;
    got.url = url;
    got.sourceApplication = source;
    // "weixin://app/<app id>/sendreq/?": the app id is the first path component.
    std::string path = url->path();
    if (path.size() > 1) {
        auto end = path.find('/', 1);
        got.appID = path.substr(1, end == std::string::npos ? std::string::npos : end - 1);
    }
    auto board = UIPasteboard::pasteboardWithName(kTransferPasteboard, false);
    auto data = board && !got.appID.empty() ? board->dataForPasteboardType(got.appID) : std::nullopt;
    if (!data) {
        got.error = "no transfer for the app id";
    } else if (auto fields = decodeTransfer(*data, got.appID, kOriginApp, &got.error)) {
        got.fields = *fields;
        got.request = requestFromAppFields(*fields, &got.error);
    }
    Answer next = journal_.record(got);
    answer(got, next);
}

void WeChatAppStandIn::answer(const Received& got, const Answer& next) {
    std::string state;
    if (auto auth = asKind<SendAuthReq>(got.request)) state = auth->state();
    switch (next.kind) {
        case Answer::None:
            return;
        case Answer::AuthCode:
            answerAuth(got.appID, next.code, state);
            return;
        case Answer::AuthDenied:
            answerAuth(got.appID, std::nullopt, state);
            return;
        case Answer::Share:
            answerShare(got.appID, next.errCode);
            return;
    }
}

void WeChatAppStandIn::answerAuth(const std::string& appID, const std::optional<std::string>& code,
                                  const std::string& state) {
    std::string url = appID + "://" + kOAuthHost + "?";
    if (code) url += "code=" + escaped(*code) + "&";
    url += "state=" + escaped(state);
    openAppURL(url);
}

void WeChatAppStandIn::answerShare(const std::string& appID, std::int32_t errCode,
                                   const std::string& errStr) {
    Dictionary fields = Dictionary::mutableDictionary();
    fields.setObject(kKeyKind, static_cast<int>(kKindSendMessageResp));
    fields.setObject(kKeyErrCode, static_cast<int>(errCode));
    if (!errStr.empty()) fields.setObject(kKeyErrStr, errStr);
    fields.setObject(kKeyLang, "zh_CN");
    fields.setObject(kKeyCountry, "CN");
    sendTransfer(appID, fields);
}

void WeChatAppStandIn::sendGetMessageRequest(const std::string& appID, const std::string& lang) {
    Dictionary fields = Dictionary::mutableDictionary();
    fields.setObject(kKeyKind, static_cast<int>(kKindGetMessageReq));
    fields.setObject(kKeyLang, lang);
    fields.setObject(kKeyCountry, "CN");
    sendTransfer(appID, fields);
}

void WeChatAppStandIn::sendShowMessageRequest(const std::string& appID, const Ref<WXMediaMessage>& message) {
    Dictionary fields = Dictionary::mutableDictionary();
    fields.setObject(kKeyKind, static_cast<int>(kKindShowMessageReq));
    if (message) addMediaMessage(fields, *message);
    sendTransfer(appID, fields);
}

void WeChatAppStandIn::sendLaunchRequest(const std::string& appID, const Ref<WXMediaMessage>& message) {
    Dictionary fields = Dictionary::mutableDictionary();
    fields.setObject(kKeyKind, static_cast<int>(kKindLaunchReq));
    if (message) addMediaMessage(fields, *message);
    sendTransfer(appID, fields);
}

void WeChatAppStandIn::sendTransfer(const std::string& appID, Dictionary fields) {
    auto data = encodeTransfer(fields, appID, kOriginWeChat);
    if (data) writeRawTransfer(appID, *data);
    openAppURL(appID + "://" + kTransferHost);
}

void WeChatAppStandIn::writeRawTransfer(const std::string& appID, const NSData& bytes) {
    if (auto board = otherapps::transferPasteboard(kTransferPasteboard)) board->setData(bytes, appID);
}

void WeChatAppStandIn::openAppURL(const std::string& url) {
    otherapps::openURLFromStandIn(kBundleIdentifier, url);
}
