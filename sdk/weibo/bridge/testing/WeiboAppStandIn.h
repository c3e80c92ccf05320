#pragma once
// The Weibo app on this device, as tests drive it.
//
// install() registers a fake app claiming the "weibosdk" scheme with SystemOtherApps. When the
// app under test opens "weibosdk://request?id=...", the stand-in (on the main thread, on a later
// run-loop turn) reads the archived request from the transfer pasteboard, records it, and answers
// with the next scripted answer: it archives a response of the matching kind for that request id
// and opens "wb<app key>://response?id=...&sdkversion=..." in the app. Without a scripted answer
// it only records. Tests may also make it send its own requests or raw bytes (hostile input).
//
// Thread-safe; its URL handler runs on the main thread.

#include <optional>
#include <string>
#include <vector>

#include "foundation/NSData.h"
#include "foundation/NSObject.h"
#include "foundation/NSURL.h"
#include "sdk/weibo/bridge/WeiboSDK.h"
#include "system/SystemOtherAppStandIn.h"

class WeiboAppStandIn : public NSObject {
  public:
    static constexpr char kBundleIdentifier[] = "device.weibo";

    std::string className() const override { return "WeiboAppStandIn"; }

    static Ref<WeiboAppStandIn> install();
    void uninstall();

    struct Received {
        Ref<NSURL> url;
        std::string sourceApplication;
        // From the URL.
        std::string requestID;
        std::string sdkVersion;
        // From the transfer: the app's key and bundle id, and the request; nullptr when
        // unreadable, with the reason in `error`.
        std::string appKey;
        std::string bundleID;
        Ref<WBBaseRequest> request;
        std::string error;
    };
    std::vector<Received> received() const;
    std::size_t receivedCount() const;

    // ---- scripted answers, one per received request, in order ------------------------------
    // The user signs in: an authorize answer with these tokens (a share answer carries them as
    // its authResponse).
    void scriptAuthorize(std::string accessToken, std::string userID, std::string refreshToken,
                         double expiresInSeconds = 3600);
    // An answer of the matching kind with this status code and no tokens.
    void scriptStatus(long statusCode);
    void scriptNoAnswer();

    // ---- acting on its own ------------------------------------------------------------------
    // Archives the response (its requestID names the request) and opens the app's callback.
    void sendResponse(const std::string& appKey, const Ref<WBBaseResponse>& response);
    // Archives one of the Weibo app's requests and opens "wb<app key>://request?id=...".
    void sendRequest(const std::string& appKey, const Ref<WBBaseRequest>& request);
    // Raw bytes as the transfer item.
    void writeRawTransfer(const NSData& bytes);
    void openAppURL(const std::string& url);
    // The callback URL for a request id.
    static std::string callbackURL(const std::string& appKey, const std::string& kind, const std::string& id);

  private:
    struct Answer {
        enum Kind { None, Authorize, Status } kind = None;
        long statusCode = 0;
        std::string accessToken, userID, refreshToken;
        double expiresIn = 0;
    };
    void receive(const Ref<NSURL>& url, const std::string& source);
    void answer(const Received& received, const Answer& answer);

    otherapps::Journal<Received, Answer> journal_;
};
