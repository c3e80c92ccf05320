#include "sdk/weibo/bridge/WBRequests.h"

#include "foundation/NSString.h"
#include "foundation/NSUUID.h"
#include "sdk/weibo/bridge/WBMessageObject.h"

namespace {
const NSCodableClass<WBBaseRequest> baseRegistration("WBBaseRequest");
const NSCodableClass<WBAuthorizeRequest> authorizeRegistration("WBAuthorizeRequest", "WBBaseRequest");
const NSCodableClass<WBSendMessageToWeiboRequest> shareRegistration("WBSendMessageToWeiboRequest",
                                                                    "WBBaseRequest");
const NSCodableClass<WBProvideMessageForWeiboRequest> provideRegistration("WBProvideMessageForWeiboRequest",
                                                                          "WBBaseRequest");

void setReason(std::string* slot, const char* reason) {
    if (slot) *slot = reason;
}
}  // namespace

WBBaseRequest::WBBaseRequest() : requestID_(NSUUID::UUID()->UUIDString()) {}

WBBaseRequest::WBBaseRequest(NSCoder& coder) {
    requestID_ = coder.decodeObjectOfClass("NSString", "requestID").stringValue();
    Value info = coder.decodeObjectOfClass("NSDictionary", "userInfo");
    if (info.isDictionary()) userInfo_ = info;
}

void WBBaseRequest::encodeWithCoder(NSCoder& coder) const {
    coder.encodeObject(requestID_, "requestID");
    if (userInfo_.isDictionary()) coder.encodeObject(userInfo_, "userInfo");
}

bool WBBaseRequest::isValid(std::string* reason) const {
    if (!userInfo_.isNil() && !userInfo_.isDictionary()) {
        setReason(reason, "userInfo is not a dictionary");
        return false;
    }
    return true;
}

WBAuthorizeRequest::WBAuthorizeRequest(NSCoder& coder) : WBBaseRequest(coder) {
    redirectURI_ = coder.decodeObjectOfClass("NSString", "redirectURI").optionalString();
    scope_ = coder.decodeObjectOfClass("NSString", "scope").optionalString();
}

void WBAuthorizeRequest::encodeWithCoder(NSCoder& coder) const {
    WBBaseRequest::encodeWithCoder(coder);
    coder.encodeObject(redirectURI_, "redirectURI");
    coder.encodeObject(scope_, "scope");
}

bool WBAuthorizeRequest::isValid(std::string* reason) const {
    if (!WBBaseRequest::isValid(reason)) return false;
    std::size_t uriLength = redirectURI_ ? NSString::length(*redirectURI_) : 0;
    if (uriLength < 1 || uriLength > kMaxRedirectURILength) {
        setReason(reason, "redirectURI must have 1 to 1024 characters");
        return false;
    }
    if (scope_ && NSString::length(*scope_) > kMaxScopeLength) {
        setReason(reason, "scope must have at most 1024 characters");
        return false;
    }
    return true;
}

WBSendMessageToWeiboRequest::WBSendMessageToWeiboRequest(NSCoder& coder) : WBBaseRequest(coder) {
    message_ = coder.decodeObjectOfClassAs<WBMessageObject>("WBMessageObject", "message");
    authRequest_ = coder.decodeObjectOfClassAs<WBAuthorizeRequest>("WBAuthorizeRequest", "authRequest");
    accessToken_ = coder.decodeObjectOfClass("NSString", "accessToken").optionalString();
}

void WBSendMessageToWeiboRequest::encodeWithCoder(NSCoder& coder) const {
    WBBaseRequest::encodeWithCoder(coder);
    coder.encodeObject(message_, "message");
    coder.encodeObject(authRequest_, "authRequest");
    coder.encodeObject(accessToken_, "accessToken");
}

Ref<WBSendMessageToWeiboRequest>
WBSendMessageToWeiboRequest::requestWithMessage(const Ref<WBMessageObject>& message,
                                                const Ref<WBAuthorizeRequest>& authInfo,
                                                const std::optional<std::string>& access_token) {
    auto request = make<WBSendMessageToWeiboRequest>();
    request->setMessage(message);
    request->setAuthRequest(authInfo);
    request->setAccessToken(access_token);
    return request;
}

bool WBSendMessageToWeiboRequest::isValid(std::string* reason) const {
    if (!WBBaseRequest::isValid(reason)) return false;
    if (!message_ || !message_->isValid()) {
        setReason(reason, "the message needs a text or an image of 1 to 10485760 bytes");
        return false;
    }
    if (authRequest_ && !authRequest_->isValid(reason)) return false;
    return true;
}
