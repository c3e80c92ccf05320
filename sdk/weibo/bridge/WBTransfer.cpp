#include "sdk/weibo/bridge/WBTransfer.h"

#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSUUID.h"
#include "sdk/weibo/bridge/WBMessageObject.h"
#include "sdk/weibo/bridge/WBRequests.h"
#include "sdk/weibo/bridge/WBResponses.h"

namespace detail::weibo {

std::optional<NSData> encodeEnvelope(const Ref<NSObject>& object, const std::string& origin,
                                     const std::string& appKey, const std::string& bundleID) {
    Dictionary envelope{
        {"transferObject", Value(object)},
        {"origin", origin},
        {"app", Dictionary{{"appKey", appKey}, {"bundleID", bundleID}}},
        {"sdkVersion", kSDKVersion},
    };
    return NSKeyedArchiver::archivedDataWithRootObject(envelope, true, nullptr);
}

std::optional<Envelope> decodeEnvelope(const NSData& data, const std::string& origin, std::string* reason) {
    auto fail = [&](const char* why) -> std::optional<Envelope> {
        if (reason) *reason = why;
        return std::nullopt;
    };
    if (data.empty() || data.length() > kMaxTransferLength) return fail("the transfer is empty or too large");
    Ref<NSError> error;
    Value root = NSKeyedUnarchiver::unarchivedObjectOfClasses(
        {"NSDictionary", "WBBaseRequest", "WBBaseResponse", "WBMessageObject", "WBImageObject"}, data,
        &error);
    if (!root.isDictionary()) return fail("the transfer is not an archived dictionary");
    const Dictionary& d = *root.dictionary();
    Envelope envelope;
    envelope.object = d["transferObject"].object();
    if (!envelope.object) return fail("the transfer carries no object");
    if (!d["origin"].isString() || *d["origin"].string() != origin)
        return fail("the transfer comes from elsewhere");
    envelope.origin = origin;
    const Value& app = d["app"];
    if (!app.isDictionary() || !app["appKey"].isString()) return fail("the transfer names no app");
    envelope.appKey = *app["appKey"].string();
    envelope.bundleID = app["bundleID"].stringValue();
    envelope.sdkVersion = d["sdkVersion"].stringValue();
    return envelope;
}

std::optional<URLArguments> urlArguments(const Ref<NSURL>& url) {
    auto components = NSURLComponents::componentsWithURL(url);
    if (!components) return std::nullopt;
    auto items = components->queryItems();
    if (!items) return std::nullopt;
    std::optional<std::string> id, version;
    for (const auto& item : *items) {
        if (item->name() == "id" && !id)
            id = item->value();
        else if (item->name() == "sdkversion" && !version)
            version = item->value();
    }
    if (!id || !version || version->empty() || !NSUUID::initWithUUIDString(*id)) return std::nullopt;
    return URLArguments{*id, *version};
}

}  // namespace detail::weibo
