#include "sdk/wechat/WXTransfer.h"

#include "foundation/NSPropertyListSerialization.h"

namespace detail::wechat {
namespace {

void setReason(std::string* slot, std::string reason) {
    if (slot) *slot = std::move(reason);
}

// Optional string field: absent is fine, another type is not.
bool readString(const Dictionary& fields, const char* key, std::optional<std::string>& out,
                std::string* reason, std::size_t maxLength = kMaxTextLength) {
    const Value& v = fields[key];
    if (v.isNil()) return true;
    if (!v.isString() || v.string()->size() > maxLength) {
        setReason(reason, std::string("field ") + key + " is not a text of the allowed length");
        return false;
    }
    out = *v.string();
    return true;
}

bool readInt(const Dictionary& fields, const char* key, std::optional<std::int64_t>& out,
             std::string* reason) {
    const Value& v = fields[key];
    if (v.isNil()) return true;
    if (!v.isNumber() || v.number()->isReal()) {
        setReason(reason, std::string("field ") + key + " is not an integer");
        return false;
    }
    out = v.number()->longLongValue();
    return true;
}

bool readData(const Dictionary& fields, const char* key, std::optional<NSData>& out, std::size_t maxLength,
              std::string* reason) {
    const Value& v = fields[key];
    if (v.isNil()) return true;
    if (!v.isData() || v.data()->length() > maxLength) {
        setReason(reason, std::string("field ") + key + " is not data of the allowed length");
        return false;
    }
    out = *v.data();
    return true;
}

bool fitsInt32(std::int64_t v) {
    return v >= INT32_MIN && v <= INT32_MAX;
}

}  // namespace

void addMediaMessage(Dictionary& fields, const WXMediaMessage& message) {
    if (!message.title().empty()) fields.setObject(kKeyTitle, message.title());
    if (!message.descriptionText().empty()) fields.setObject(kKeyDescription, message.descriptionText());
    if (message.thumbData()) fields.setObject(kKeyThumbData, *message.thumbData());
    if (!message.mediaTagName().empty()) fields.setObject(kKeyTagName, message.mediaTagName());
    if (!message.messageExt().empty()) fields.setObject(kKeyMessageExt, message.messageExt());
    if (!message.messageAction().empty()) fields.setObject(kKeyMessageAction, message.messageAction());
    if (auto image = asKind<WXImageObject>(message.mediaObject())) {
        fields.setObject(kKeyMediaType, kMediaImage);
        fields.setObject(kKeyImageData, image->imageData());
    } else {
        fields.setObject(kKeyMediaType, kMediaNone);
    }
}

Ref<WXMediaMessage> mediaMessageFromFields(const Dictionary& fields, std::string* reason) {
    std::optional<std::string> title, description, tag, ext, action;
    std::optional<NSData> thumb, image;
    std::optional<std::int64_t> mediaType;
    if (!readString(fields, kKeyTitle, title, reason) ||
        !readString(fields, kKeyDescription, description, reason) ||
        !readString(fields, kKeyTagName, tag, reason) || !readString(fields, kKeyMessageExt, ext, reason) ||
        !readString(fields, kKeyMessageAction, action, reason) ||
        !readData(fields, kKeyThumbData, thumb, kMaxThumbDataLength, reason) ||
        !readData(fields, kKeyImageData, image, kMaxImageDataLength, reason) ||
        !readInt(fields, kKeyMediaType, mediaType, reason))
        return nullptr;
    if (mediaType && *mediaType != kMediaNone && *mediaType != kMediaImage) {
        setReason(reason, "unknown media type");
        return nullptr;
    }
    auto message = WXMediaMessage::message();
    message->setTitle(title.value_or(""));
    message->setDescription(description.value_or(""));
    message->setThumbData(thumb);
    message->setMediaTagName(tag.value_or(""));
    message->setMessageExt(ext.value_or(""));
    message->setMessageAction(action.value_or(""));
    if (mediaType.value_or(kMediaNone) == kMediaImage) {
        auto object = WXImageObject::object();
        object->setImageData(image.value_or(NSData()));
        message->setMediaObject(object);
    }
    return message;
}

std::optional<NSData> encodeTransfer(Dictionary fields, const std::string& appID, const char* origin) {
    fields.setObject(kKeyOrigin, origin);
    fields.setObject(kKeyAppID, appID);
    fields.setObject(kKeySDKVersion, kSDKVersion);
    return NSPropertyListSerialization::dataWithPropertyList(fields, NSPropertyListBinaryFormat_v1_0, 0,
                                                             nullptr);
}

std::optional<NSData> encodeAppRequest(const BaseReq& request, const std::string& appID,
                                       std::string* reason) {
    Dictionary fields = Dictionary::mutableDictionary();
    if (!request.openID().empty()) fields.setObject(kKeyOpenID, request.openID());
    if (auto* auth = dynamic_cast<const SendAuthReq*>(&request)) {
        if (auth->scope().empty() || auth->scope().size() > 1024 || auth->state().size() > 1024) {
            setReason(reason, "a sign-in request needs a scope, and scope and state of at most 1024 bytes");
            return std::nullopt;
        }
        fields.setObject(kKeyKind, static_cast<int>(kKindSendAuthReq));
        fields.setObject(kKeyAuthScope, auth->scope());
        fields.setObject(kKeyAuthState, auth->state());
    } else if (auto* share = dynamic_cast<const SendMessageToWXReq*>(&request)) {
        fields.setObject(kKeyKind, static_cast<int>(kKindSendMessageReq));
        fields.setObject(kKeyBText, share->bText());
        fields.setObject(kKeyScene, static_cast<int>(share->scene()));
        if (share->bText()) {
            if (share->text().empty() || share->text().size() > kMaxTextLength) {
                setReason(reason, "a text share needs a text of 1 to 65536 bytes");
                return std::nullopt;
            }
            fields.setObject(kKeyText, share->text());
        } else {
            const auto& message = share->message();
            if (!message) {
                setReason(reason, "a media share needs a message");
                return std::nullopt;
            }
            if (message->thumbData() && message->thumbData()->length() > kMaxThumbDataLength) {
                setReason(reason, "the thumbnail is larger than 1048576 bytes");
                return std::nullopt;
            }
            if (auto image = asKind<WXImageObject>(message->mediaObject())) {
                if (image->imageData().empty() || image->imageData().length() > kMaxImageDataLength) {
                    setReason(reason, "the image needs 1 to 10485760 bytes");
                    return std::nullopt;
                }
            } else if (message->mediaObject()) {
                setReason(reason, "unsupported media object " + message->mediaObject()->className());
                return std::nullopt;
            }
            addMediaMessage(fields, *message);
        }
    } else {
        setReason(reason, "WeChat does not take a " + request.className() + " from the app");
        return std::nullopt;
    }
    auto data = encodeTransfer(fields, appID, kOriginApp);
    if (!data) setReason(reason, "the request could not be encoded");
    return data;
}

std::optional<Dictionary> decodeTransfer(const NSData& data, const std::string& appID, const char* origin,
                                         std::string* reason) {
    if (data.empty() || data.length() > kMaxTransferLength) {
        setReason(reason, "the transfer is empty or too large");
        return std::nullopt;
    }
    Ref<NSError> error;
    NSPropertyListFormat format{};
    Value plist = NSPropertyListSerialization::propertyListWithData(data, 0, &format, &error);
    if (!plist.isDictionary() || format != NSPropertyListBinaryFormat_v1_0) {
        setReason(reason, "the transfer is not a binary property list dictionary");
        return std::nullopt;
    }
    const Dictionary& fields = *plist.dictionary();
    const Value& from = fields[kKeyOrigin];
    if (!from.isString() || *from.string() != origin) {
        setReason(reason, "the transfer does not come from the expected side");
        return std::nullopt;
    }
    const Value& id = fields[kKeyAppID];
    if (!id.isString() || *id.string() != appID) {
        setReason(reason, "the transfer is for another app id");
        return std::nullopt;
    }
    const Value& kind = fields[kKeyKind];
    if (!kind.isNumber() || kind.number()->isReal()) {
        setReason(reason, "the transfer has no kind");
        return std::nullopt;
    }
    return fields;
}

Ref<BaseReq> requestFromFields(const Dictionary& fields, std::string* reason) {
    std::optional<std::int64_t> kind;
    std::optional<std::string> openID, lang, country;
    if (!readInt(fields, kKeyKind, kind, reason) || !readString(fields, kKeyOpenID, openID, reason) ||
        !readString(fields, kKeyLang, lang, reason) || !readString(fields, kKeyCountry, country, reason))
        return nullptr;
    Ref<BaseReq> request;
    switch (kind.value_or(0)) {
        case kKindGetMessageReq: {
            auto r = make<GetMessageFromWXReq>();
            r->setLang(lang.value_or(""));
            r->setCountry(country.value_or(""));
            request = r;
            break;
        }
        case kKindShowMessageReq: {
            auto message = mediaMessageFromFields(fields, reason);
            if (!message) return nullptr;
            auto r = make<ShowMessageFromWXReq>();
            r->setMessage(message);
            r->setLang(lang.value_or(""));
            r->setCountry(country.value_or(""));
            request = r;
            break;
        }
        case kKindLaunchReq: {
            auto message = mediaMessageFromFields(fields, reason);
            if (!message) return nullptr;
            auto r = make<LaunchFromWXReq>();
            r->setMessage(message);
            r->setLang(lang.value_or(""));
            r->setCountry(country.value_or(""));
            request = r;
            break;
        }
        default:
            setReason(reason, "not a request WeChat sends");
            return nullptr;
    }
    request->setType(static_cast<std::int32_t>(*kind));
    request->setOpenID(openID.value_or(""));
    return request;
}

Ref<BaseResp> responseFromFields(const Dictionary& fields, std::string* reason) {
    std::optional<std::int64_t> kind, errCode;
    std::optional<std::string> errStr, lang, country, code, state;
    if (!readInt(fields, kKeyKind, kind, reason) || !readInt(fields, kKeyErrCode, errCode, reason) ||
        !readString(fields, kKeyErrStr, errStr, reason) || !readString(fields, kKeyLang, lang, reason) ||
        !readString(fields, kKeyCountry, country, reason) ||
        !readString(fields, kKeyAuthCode, code, reason) || !readString(fields, kKeyAuthState, state, reason))
        return nullptr;
    if (errCode && !fitsInt32(*errCode)) {
        setReason(reason, "the error code is out of range");
        return nullptr;
    }
    Ref<BaseResp> response;
    switch (kind.value_or(0)) {
        case kKindSendAuthResp: {
            auto r = make<SendAuthResp>();
            r->setCode(code);
            r->setState(state);
            r->setLang(lang);
            r->setCountry(country);
            response = r;
            break;
        }
        case kKindSendMessageResp: {
            auto r = make<SendMessageToWXResp>();
            r->setLang(lang);
            r->setCountry(country);
            response = r;
            break;
        }
        default:
            setReason(reason, "not an answer WeChat gives");
            return nullptr;
    }
    response->setType(static_cast<std::int32_t>(*kind));
    response->setErrCode(static_cast<std::int32_t>(errCode.value_or(WXSuccess)));
    response->setErrStr(errStr.value_or(""));
    return response;
}

}  // namespace detail::wechat
