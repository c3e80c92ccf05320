#pragma once
// The requests that travel between the app and WeChat.
//
// The app sends SendAuthReq (sign in with WeChat) and SendMessageToWXReq (share); WeChat sends
// the app GetMessageFromWXReq (asks for content to share), ShowMessageFromWXReq (shows content
// the app shared earlier) and LaunchFromWXReq (opens the app from a shared message). Requests are
// plain records: they are built on the main thread and handed to WXApi, which reads them at once.

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/NSObject.h"

class WXMediaMessage;

// Where a share goes.
enum WXScene : std::int32_t {
    WXSceneSession = 0,   // a chat
    WXSceneTimeline = 1,  // the moments feed
    WXSceneFavorite = 2,  // the favourites
};

class BaseReq : public NSObject {
  public:
    std::string className() const override { return "BaseReq"; }

    // The request kind's code as the transfer carries it (0 for the base class).
    std::int32_t type() const { return type_; }
    void setType(std::int32_t type) { type_ = type; }
    // The user's id in the requesting app's WeChat namespace; empty when unknown.
    const std::string& openID() const { return openID_; }
    void setOpenID(std::string openID) { openID_ = std::move(openID); }

  private:
    std::int32_t type_ = 0;
    std::string openID_;
};

// Sign in with WeChat: the answer is a SendAuthResp carrying an authorization code.
class SendAuthReq : public BaseReq {
  public:
    std::string className() const override { return "SendAuthReq"; }

    // The permissions asked for, e.g. "snsapi_userinfo". Required.
    const std::string& scope() const { return scope_; }
    void setScope(std::string scope) { scope_ = std::move(scope); }
    // An opaque text handed back unchanged with the answer (guards against forged answers).
    const std::string& state() const { return state_; }
    void setState(std::string state) { state_ = std::move(state); }

  private:
    std::string scope_;
    std::string state_;
};

// Share a text (bText YES) or a media message (bText NO) to a chat or the moments feed.
class SendMessageToWXReq : public BaseReq {
  public:
    std::string className() const override { return "SendMessageToWXReq"; }

    const std::string& text() const { return text_; }
    void setText(std::string text) { text_ = std::move(text); }
    const Ref<WXMediaMessage>& message() const { return message_; }
    void setMessage(Ref<WXMediaMessage> message) { message_ = std::move(message); }
    bool bText() const { return bText_; }
    void setBText(bool bText) { bText_ = bText; }
    std::int32_t scene() const { return scene_; }
    void setScene(std::int32_t scene) { scene_ = scene; }

  private:
    std::string text_;
    Ref<WXMediaMessage> message_;
    bool bText_ = false;
    std::int32_t scene_ = WXSceneSession;
};

// WeChat asks the app for content to share.
class GetMessageFromWXReq : public BaseReq {
  public:
    std::string className() const override { return "GetMessageFromWXReq"; }

    const std::string& lang() const { return lang_; }
    void setLang(std::string lang) { lang_ = std::move(lang); }
    const std::string& country() const { return country_; }
    void setCountry(std::string country) { country_ = std::move(country); }

  private:
    std::string lang_;
    std::string country_;
};

// WeChat asks the app to show a message the app shared earlier.
class ShowMessageFromWXReq : public BaseReq {
  public:
    std::string className() const override { return "ShowMessageFromWXReq"; }

    const Ref<WXMediaMessage>& message() const { return message_; }
    void setMessage(Ref<WXMediaMessage> message) { message_ = std::move(message); }
    const std::string& lang() const { return lang_; }
    void setLang(std::string lang) { lang_ = std::move(lang); }
    const std::string& country() const { return country_; }
    void setCountry(std::string country) { country_ = std::move(country); }

  private:
    Ref<WXMediaMessage> message_;
    std::string lang_;
    std::string country_;
};

// WeChat opens the app from a shared message.
class LaunchFromWXReq : public BaseReq {
  public:
    std::string className() const override { return "LaunchFromWXReq"; }

    const Ref<WXMediaMessage>& message() const { return message_; }
    void setMessage(Ref<WXMediaMessage> message) { message_ = std::move(message); }
    const std::string& lang() const { return lang_; }
    void setLang(std::string lang) { lang_ = std::move(lang); }
    const std::string& country() const { return country_; }
    void setCountry(std::string country) { country_ = std::move(country); }

  private:
    Ref<WXMediaMessage> message_;
    std::string lang_;
    std::string country_;
};
