#pragma once
// The requests that travel between the app and the Weibo app.
//
// Every request gets a fresh request id (a UUID text) when it is made; the answer names it, which
// is how WeiboSDK hands the request's userInfo back with the response. The app sends
// WBAuthorizeRequest (sign in) and WBSendMessageToWeiboRequest (share); the Weibo app may send
// WBProvideMessageForWeiboRequest (asks the app for content). All are keyed-archive codable:
// they travel inside the transfer item.

#include <optional>
#include <string>

#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"

class WBMessageObject;

class WBBaseRequest : public NSObject, public NSSecureCoding {
  public:
    WBBaseRequest();
    explicit WBBaseRequest(NSCoder& coder);
    void encodeWithCoder(NSCoder& coder) const override;
    static bool supportsSecureCoding() { return true; }
    std::string className() const override { return "WBBaseRequest"; }

    // A new request of the receiving class.
    static Ref<WBBaseRequest> request() { return make<WBBaseRequest>(); }

    const std::string& requestID() const { return requestID_; }
    // A dictionary carried with the request and handed back with its response (nil by default).
    const Value& userInfo() const { return userInfo_; }
    void setUserInfo(Value userInfo) { userInfo_ = std::move(userInfo); }

    // Whether the request may be sent as it is; the reason goes to the log when not.
    virtual bool isValid(std::string* reason = nullptr) const;

  private:
    std::string requestID_;
    Value userInfo_;
};

// Sign in with Weibo (OAuth2): the answer is a WBAuthorizeResponse with the tokens.
class WBAuthorizeRequest : public WBBaseRequest {
  public:
    static constexpr std::size_t kMaxRedirectURILength = 1024;
    static constexpr std::size_t kMaxScopeLength = 1024;

    WBAuthorizeRequest() = default;
    explicit WBAuthorizeRequest(NSCoder& coder);
    void encodeWithCoder(NSCoder& coder) const override;
    std::string className() const override { return "WBAuthorizeRequest"; }

    static Ref<WBAuthorizeRequest> request() { return make<WBAuthorizeRequest>(); }

    // The OAuth2 redirect URI: 1 to 1024 characters.
    const std::optional<std::string>& redirectURI() const { return redirectURI_; }
    void setRedirectURI(std::optional<std::string> uri) { redirectURI_ = std::move(uri); }
    // The OAuth2 scope: up to 1024 characters; nil asks for the default.
    const std::optional<std::string>& scope() const { return scope_; }
    void setScope(std::optional<std::string> scope) { scope_ = std::move(scope); }

    bool isValid(std::string* reason = nullptr) const override;

  private:
    std::optional<std::string> redirectURI_;
    std::optional<std::string> scope_;
};

// Share a message; authRequest signs the user in first where the Weibo app needs it.
class WBSendMessageToWeiboRequest : public WBBaseRequest {
  public:
    WBSendMessageToWeiboRequest() = default;
    explicit WBSendMessageToWeiboRequest(NSCoder& coder);
    void encodeWithCoder(NSCoder& coder) const override;
    std::string className() const override { return "WBSendMessageToWeiboRequest"; }

    static Ref<WBSendMessageToWeiboRequest> request() { return make<WBSendMessageToWeiboRequest>(); }
    // The share request for the message, signing in with authInfo when the access token (which
    // may be nil) does not do.
    static Ref<WBSendMessageToWeiboRequest>
    requestWithMessage(const Ref<WBMessageObject>& message, const Ref<WBAuthorizeRequest>& authInfo,
                       const std::optional<std::string>& access_token);

    const Ref<WBMessageObject>& message() const { return message_; }
    void setMessage(Ref<WBMessageObject> message) { message_ = std::move(message); }
    const Ref<WBAuthorizeRequest>& authRequest() const { return authRequest_; }
    void setAuthRequest(Ref<WBAuthorizeRequest> request) { authRequest_ = std::move(request); }
    const std::optional<std::string>& accessToken() const { return accessToken_; }
    void setAccessToken(std::optional<std::string> token) { accessToken_ = std::move(token); }

    // A valid message, and a valid authorize request where there is one.
    bool isValid(std::string* reason = nullptr) const override;

  private:
    Ref<WBMessageObject> message_;
    Ref<WBAuthorizeRequest> authRequest_;
    std::optional<std::string> accessToken_;
};

// The Weibo app asks the app for something to share.
class WBProvideMessageForWeiboRequest : public WBBaseRequest {
  public:
    WBProvideMessageForWeiboRequest() = default;
    explicit WBProvideMessageForWeiboRequest(NSCoder& coder) : WBBaseRequest(coder) {}
    std::string className() const override { return "WBProvideMessageForWeiboRequest"; }

    static Ref<WBProvideMessageForWeiboRequest> request() { return make<WBProvideMessageForWeiboRequest>(); }
};
