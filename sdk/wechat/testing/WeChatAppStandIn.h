#pragma once
// The WeChat app on this device, as tests drive it.
//
// install() registers a fake app claiming the "weixin" scheme with SystemOtherApps. When the app
// under test opens a WeChat URL, the stand-in (on the main thread, on a later run-loop turn)
// reads the transfer item the SDK left, records what it received, and answers with the next
// scripted answer by opening the app's own callback URL, as WeChat would. Without a scripted
// answer it only records. Tests may also make it act on its own: send the app one of WeChat's
// requests, answer with chosen values, or leave raw bytes as the transfer (for hostile input).
//
// Thread-safe; its URL handler runs on the main thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSData.h"
#include "foundation/NSObject.h"
#include "foundation/NSURL.h"
#include "foundation/Value.h"
#include "sdk/wechat/WXApi.h"
#include "system/SystemOtherAppStandIn.h"

class WeChatAppStandIn : public NSObject {
  public:
    static constexpr char kBundleIdentifier[] = "device.wechat";

    std::string className() const override { return "WeChatAppStandIn"; }

    // Installs a new stand-in (replacing any earlier one) and answers it.
    static Ref<WeChatAppStandIn> install();
    // Removes the fake app from the device.
    void uninstall();

    // What one opened URL brought.
    struct Received {
        Ref<NSURL> url;
        std::string sourceApplication;
        // The app id named in the URL ("weixin://app/<app id>/...").
        std::string appID;
        // The transfer's fields; empty when there was none or it could not be read.
        Dictionary fields;
        // The request rebuilt from the fields (SendAuthReq or SendMessageToWXReq); nullptr when
        // unreadable, with the reason in `error`.
        Ref<BaseReq> request;
        std::string error;
    };
    std::vector<Received> received() const;
    std::size_t receivedCount() const;
    // The app ids on the registration pasteboard.
    std::vector<std::string> registeredAppIDs() const;

    // ---- scripted answers, one per received request, in order ------------------------------
    // A sign-in succeeds with this code (the request's state is handed back).
    void scriptAuthCode(std::string code);
    // The user refuses the sign-in: the callback carries no code.
    void scriptAuthDenied();
    // A share ends with this error code (0 shared, WXErrCodeUserCancel cancelled, ...).
    void scriptShareResult(std::int32_t errCode);
    // No answer to the next request.
    void scriptNoAnswer();

    // ---- acting on its own ------------------------------------------------------------------
    void answerAuth(const std::string& appID, const std::optional<std::string>& code,
                    const std::string& state);
    void answerShare(const std::string& appID, std::int32_t errCode, const std::string& errStr = "");
    void sendGetMessageRequest(const std::string& appID, const std::string& lang = "zh_CN");
    void sendShowMessageRequest(const std::string& appID, const Ref<WXMediaMessage>& message);
    void sendLaunchRequest(const std::string& appID, const Ref<WXMediaMessage>& message);
    // Leaves raw bytes as the transfer item for the app id, then (when callAppURL is set) opens
    // that URL in the app.
    void writeRawTransfer(const std::string& appID, const NSData& bytes);
    void openAppURL(const std::string& url);
    // Writes fields (origin, app id and version added) as WeChat's transfer and opens
    // "<app id>://platformId=wechat".
    void sendTransfer(const std::string& appID, Dictionary fields);

  private:
    struct Answer {
        enum Kind { None, AuthCode, AuthDenied, Share } kind = None;
        std::string code;
        std::int32_t errCode = 0;
    };
    void receive(const Ref<NSURL>& url, const std::string& source);
    void answer(const Received& received, const Answer& answer);

    otherapps::Journal<Received, Answer> journal_;
};
