#include "sdk/weibo/bridge/WBResponses.h"

namespace {
const NSCodableClass<WBBaseResponse> baseRegistration("WBBaseResponse");
const NSCodableClass<WBAuthorizeResponse> authorizeRegistration("WBAuthorizeResponse", "WBBaseResponse");
const NSCodableClass<WBSendMessageToWeiboResponse> shareRegistration("WBSendMessageToWeiboResponse",
                                                                     "WBBaseResponse");
const NSCodableClass<WBPaymentResponse> paymentRegistration("WBPaymentResponse", "WBBaseResponse");
const NSCodableClass<WBSDKAppRecommendResponse> recommendRegistration("WBSDKAppRecommendResponse",
                                                                      "WBBaseResponse");

std::optional<std::string> decodeString(NSCoder& coder, const char* key) {
    return coder.decodeObjectOfClass("NSString", key).optionalString();
}
}  // namespace

WBBaseResponse::WBBaseResponse(NSCoder& coder) {
    statusCode_ = coder.decodeIntegerForKey("statusCode");
    Value info = coder.decodeObjectOfClass("NSDictionary", "userInfo");
    if (info.isDictionary()) userInfo_ = info;
    Value requestInfo = coder.decodeObjectOfClass("NSDictionary", "requestUserInfo");
    if (requestInfo.isDictionary()) requestUserInfo_ = requestInfo;
    requestID_ = decodeString(coder, "requestID").value_or("");
}

void WBBaseResponse::encodeWithCoder(NSCoder& coder) const {
    coder.encodeInteger(statusCode_, "statusCode");
    if (userInfo_.isDictionary()) coder.encodeObject(userInfo_, "userInfo");
    if (requestUserInfo_.isDictionary()) coder.encodeObject(requestUserInfo_, "requestUserInfo");
    coder.encodeObject(requestID_, "requestID");
}

WBAuthorizeResponse::WBAuthorizeResponse(NSCoder& coder) : WBBaseResponse(coder) {
    userID_ = decodeString(coder, "userID");
    accessToken_ = decodeString(coder, "accessToken");
    refreshToken_ = decodeString(coder, "refreshToken");
    Value date = coder.decodeObjectOfClass("NSDate", "expirationDate");
    if (auto* d = date.date()) expirationDate_ = *d;
}

void WBAuthorizeResponse::encodeWithCoder(NSCoder& coder) const {
    WBBaseResponse::encodeWithCoder(coder);
    coder.encodeObject(userID_, "userID");
    coder.encodeObject(accessToken_, "accessToken");
    coder.encodeObject(refreshToken_, "refreshToken");
    if (expirationDate_) coder.encodeObject(*expirationDate_, "expirationDate");
}

WBSendMessageToWeiboResponse::WBSendMessageToWeiboResponse(NSCoder& coder) : WBBaseResponse(coder) {
    authResponse_ = coder.decodeObjectOfClassAs<WBAuthorizeResponse>("WBAuthorizeResponse", "authResponse");
}

void WBSendMessageToWeiboResponse::encodeWithCoder(NSCoder& coder) const {
    WBBaseResponse::encodeWithCoder(coder);
    coder.encodeObject(authResponse_, "authResponse");
}

WBPaymentResponse::WBPaymentResponse(NSCoder& coder) : WBBaseResponse(coder) {
    payStatusCode_ = decodeString(coder, "payStatusCode");
    payStatusMessage_ = decodeString(coder, "payStatusMessage");
}

void WBPaymentResponse::encodeWithCoder(NSCoder& coder) const {
    WBBaseResponse::encodeWithCoder(coder);
    coder.encodeObject(payStatusCode_, "payStatusCode");
    coder.encodeObject(payStatusMessage_, "payStatusMessage");
}
