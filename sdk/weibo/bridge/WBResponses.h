#pragma once
// The Weibo app's answers to the app's requests.
//
// statusCode is 0 on success; the WeiboSDKResponseStatusCode constants name the others.
// requestUserInfo is the userInfo of the request answered, restored by WeiboSDK from what it kept
// when the request was sent. All are keyed-archive codable: they travel inside the transfer item.

#include <optional>
#include <string>

#include "foundation/NSDate.h"
#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"

enum WeiboSDKResponseStatusCode : long {
    WeiboSDKResponseStatusCodeSuccess = 0,
    WeiboSDKResponseStatusCodeUserCancel = -1,
    WeiboSDKResponseStatusCodeSentFail = -2,
    WeiboSDKResponseStatusCodeAuthDeny = -3,
    WeiboSDKResponseStatusCodeUserCancelInstall = -4,
    WeiboSDKResponseStatusCodePayFail = -5,
    WeiboSDKResponseStatusCodeShareInSDKFailed = -8,
    WeiboSDKResponseStatusCodeUnsupport = -99,
    WeiboSDKResponseStatusCodeUnknown = -100,
};

class WBBaseResponse : public NSObject, public NSSecureCoding {
  public:
    WBBaseResponse() = default;
    explicit WBBaseResponse(NSCoder& coder);
    void encodeWithCoder(NSCoder& coder) const override;
    static bool supportsSecureCoding() { return true; }
    std::string className() const override { return "WBBaseResponse"; }

    static Ref<WBBaseResponse> response() { return make<WBBaseResponse>(); }

    long statusCode() const { return statusCode_; }
    void setStatusCode(long code) { statusCode_ = code; }
    // What the Weibo app added to the answer (a dictionary, or nil).
    const Value& userInfo() const { return userInfo_; }
    void setUserInfo(Value userInfo) { userInfo_ = std::move(userInfo); }
    // The userInfo of the request answered (nil when unknown).
    const Value& requestUserInfo() const { return requestUserInfo_; }
    void setRequestUserInfo(Value userInfo) { requestUserInfo_ = std::move(userInfo); }
    // The id of the request answered; empty when unknown.
    const std::string& requestID() const { return requestID_; }
    void setRequestID(std::string id) { requestID_ = std::move(id); }

  private:
    long statusCode_ = WeiboSDKResponseStatusCodeSuccess;
    Value userInfo_;
    Value requestUserInfo_;
    std::string requestID_;
};

// The answer to WBAuthorizeRequest; the tokens are nil when the sign-in failed.
class WBAuthorizeResponse : public WBBaseResponse {
  public:
    WBAuthorizeResponse() = default;
    explicit WBAuthorizeResponse(NSCoder& coder);
    void encodeWithCoder(NSCoder& coder) const override;
    std::string className() const override { return "WBAuthorizeResponse"; }

    static Ref<WBAuthorizeResponse> response() { return make<WBAuthorizeResponse>(); }

    const std::optional<std::string>& userID() const { return userID_; }
    void setUserID(std::optional<std::string> v) { userID_ = std::move(v); }
    const std::optional<std::string>& accessToken() const { return accessToken_; }
    void setAccessToken(std::optional<std::string> v) { accessToken_ = std::move(v); }
    const std::optional<std::string>& refreshToken() const { return refreshToken_; }
    void setRefreshToken(std::optional<std::string> v) { refreshToken_ = std::move(v); }
    const std::optional<NSDate>& expirationDate() const { return expirationDate_; }
    void setExpirationDate(std::optional<NSDate> v) { expirationDate_ = v; }

  private:
    std::optional<std::string> userID_;
    std::optional<std::string> accessToken_;
    std::optional<std::string> refreshToken_;
    std::optional<NSDate> expirationDate_;
};

// The answer to WBSendMessageToWeiboRequest; authResponse is set when the user signed in on the
// way.
class WBSendMessageToWeiboResponse : public WBBaseResponse {
  public:
    WBSendMessageToWeiboResponse() = default;
    explicit WBSendMessageToWeiboResponse(NSCoder& coder);
    void encodeWithCoder(NSCoder& coder) const override;
    std::string className() const override { return "WBSendMessageToWeiboResponse"; }

    static Ref<WBSendMessageToWeiboResponse> response() { return make<WBSendMessageToWeiboResponse>(); }

    const Ref<WBAuthorizeResponse>& authResponse() const { return authResponse_; }
    void setAuthResponse(Ref<WBAuthorizeResponse> r) { authResponse_ = std::move(r); }

  private:
    Ref<WBAuthorizeResponse> authResponse_;
};

// The answer to a payment.
class WBPaymentResponse : public WBBaseResponse {
  public:
    WBPaymentResponse() = default;
    explicit WBPaymentResponse(NSCoder& coder);
    void encodeWithCoder(NSCoder& coder) const override;
    std::string className() const override { return "WBPaymentResponse"; }

    static Ref<WBPaymentResponse> response() { return make<WBPaymentResponse>(); }

    const std::optional<std::string>& payStatusCode() const { return payStatusCode_; }
    void setPayStatusCode(std::optional<std::string> v) { payStatusCode_ = std::move(v); }
    const std::optional<std::string>& payStatusMessage() const { return payStatusMessage_; }
    void setPayStatusMessage(std::optional<std::string> v) { payStatusMessage_ = std::move(v); }

  private:
    std::optional<std::string> payStatusCode_;
    std::optional<std::string> payStatusMessage_;
};

// The answer to an app recommendation.
class WBSDKAppRecommendResponse : public WBBaseResponse {
  public:
    WBSDKAppRecommendResponse() = default;
    explicit WBSDKAppRecommendResponse(NSCoder& coder) : WBBaseResponse(coder) {}
    std::string className() const override { return "WBSDKAppRecommendResponse"; }

    static Ref<WBSDKAppRecommendResponse> response() { return make<WBSDKAppRecommendResponse>(); }
};
