#pragma once
// The wire form of the WeChat app-to-app protocol, shared by WXApi and the WeChat stand-in that
// tests drive.
//
// A transfer is one item on the persistent pasteboard kTransferPasteboard, under the type of the
// app id it concerns: a binary property list, a dictionary keyed by command codes. Every transfer
// names who wrote it (kKeyOrigin: kOriginApp or kOriginWeChat), the app id and the kind. The
// registration pasteboard holds one item per registered app id, in the same form.
//
// Decoding is strict about shape and lenient about absent optional fields: a wrong type, an
// unknown kind, a foreign origin or a size beyond the limits is refused with a reason.

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/NSData.h"
#include "foundation/Value.h"
#include "sdk/wechat/WXApiRequests.h"
#include "sdk/wechat/WXApiResponses.h"
#include "sdk/wechat/WXMediaMessage.h"

namespace detail::wechat {

inline constexpr char kScheme[] = "weixin";
inline constexpr char kTransferPasteboard[] = "weixin.transfer";
inline constexpr char kRegistrationPasteboard[] = "weixin.registration";
// The host of the app's callback URL that carries a transfer: "<app id>://platformId=wechat".
inline constexpr char kTransferHost[] = "platformId=wechat";
// The host of the sign-in callback: "<app id>://oauth?code=...&state=...".
inline constexpr char kOAuthHost[] = "oauth";
inline constexpr char kSDKVersion[] = "1.8.2";

// Command codes (the keys of a transfer).
inline constexpr char kKeyOrigin[] = "1000";         // string: kOriginApp or kOriginWeChat
inline constexpr char kKeyAppID[] = "1001";          // string
inline constexpr char kKeySDKVersion[] = "1002";     // string
inline constexpr char kKeyBundleID[] = "1003";       // string (registration)
inline constexpr char kKeyKind[] = "1010";           // integer, a Kind
inline constexpr char kKeyErrCode[] = "1020";        // integer
inline constexpr char kKeyErrStr[] = "1021";         // string
inline constexpr char kKeyOpenID[] = "1030";         // string
inline constexpr char kKeyLang[] = "1031";           // string
inline constexpr char kKeyCountry[] = "1032";        // string
inline constexpr char kKeyBText[] = "1040";          // Boolean
inline constexpr char kKeyText[] = "1041";           // string
inline constexpr char kKeyScene[] = "1042";          // integer
inline constexpr char kKeyTitle[] = "1050";          // string
inline constexpr char kKeyDescription[] = "1051";    // string
inline constexpr char kKeyThumbData[] = "1052";      // data
inline constexpr char kKeyTagName[] = "1053";        // string
inline constexpr char kKeyMessageExt[] = "1054";     // string
inline constexpr char kKeyMessageAction[] = "1055";  // string
inline constexpr char kKeyMediaType[] = "1060";      // integer: 0 none, 1 image
inline constexpr char kKeyImageData[] = "1061";      // data
inline constexpr char kKeyAuthScope[] = "1070";      // string
inline constexpr char kKeyAuthState[] = "1071";      // string
inline constexpr char kKeyAuthCode[] = "1072";       // string

inline constexpr char kOriginApp[] = "app";
inline constexpr char kOriginWeChat[] = "weixin";

enum Kind : std::int32_t {
    kKindSendAuthReq = 1,
    kKindSendMessageReq = 2,
    kKindGetMessageReq = 3,
    kKindShowMessageReq = 4,
    kKindLaunchReq = 5,
    kKindSendAuthResp = 101,
    kKindSendMessageResp = 102,
};

inline constexpr std::int32_t kMediaNone = 0;
inline constexpr std::int32_t kMediaImage = 1;

// Limits a transfer must keep to.
inline constexpr std::size_t kMaxImageDataLength = 10485760;
inline constexpr std::size_t kMaxThumbDataLength = 1048576;
inline constexpr std::size_t kMaxTextLength = 1 << 16;
inline constexpr std::size_t kMaxTransferLength = kMaxImageDataLength + (2 << 20);

// The transfer for one of the app's requests (SendAuthReq, SendMessageToWXReq); nil with the
// reason when the request cannot be sent.
std::optional<NSData> encodeAppRequest(const BaseReq& request, const std::string& appID, std::string* reason);
// A transfer written by WeChat, as its fields; nil with the reason when it is not one for appID.
std::optional<Dictionary> decodeTransfer(const NSData& data, const std::string& appID, const char* origin,
                                         std::string* reason);
// Encodes fields (adding origin, app id and version) as a transfer.
std::optional<NSData> encodeTransfer(Dictionary fields, const std::string& appID, const char* origin);

// The objects WeChat sends, from decoded fields; nullptr with the reason on a bad field.
Ref<BaseReq> requestFromFields(const Dictionary& fields, std::string* reason);
Ref<BaseResp> responseFromFields(const Dictionary& fields, std::string* reason);

// A media message to and from fields (added to / read from the transfer dictionary).
void addMediaMessage(Dictionary& fields, const WXMediaMessage& message);
Ref<WXMediaMessage> mediaMessageFromFields(const Dictionary& fields, std::string* reason);

}  // namespace detail::wechat
