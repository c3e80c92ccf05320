#pragma once
// WBAidManager: the device's "aid", a server-issued identifier fetched once from the open API's
// "/oauth2/getaid.json" and then kept in the user defaults ("WEIBOSDKAID", with "WEIBOSDKSUB").
// The request carries the device fingerprint "mfp": "01" and the Base64 of the RSA-encrypted JSON
// of a few device facts. The outcome is announced with "kWeiboSDKGetAidSucessNotification"
// (object: the aid) or "kWeiboSDKGetAidFailNotification" (object: the error). A fetch asked with
// retry is tried again at once after an error, at most three times in a row.
//
// fetchAid may be called from any thread: the state moves from "no aid" to "fetching" by one
// atomic step, so two callers never start two fetches. Requests are made and answered on the main
// thread.

#include <atomic>
#include <optional>
#include <string>

#include "foundation/NSObject.h"
#include "sdk/weibo/bridge/WBHttpRequest.h"
#include "sdk/weibo/bridge/WeiboSDK3rdApp.h"

inline constexpr char kWeiboSDKGetAidSucessNotification[] = "kWeiboSDKGetAidSucessNotification";
inline constexpr char kWeiboSDKGetAidFailNotification[] = "kWeiboSDKGetAidFailNotification";
inline constexpr char kWBAidFetchRetryTag[] = "WBSDKAidFetchRequestIfErrorWillRetry";
inline constexpr char kWBAidFetchNoRetryTag[] = "WBSDKAidFetchRequestNoRetry";
// The aid request's path on the open API.
inline constexpr char kWBAidRequestPath[] = "/oauth2/getaid.json";

// The aid as the object of the success notification: a string object, whose description is the
// aid itself.
class WBAidString : public NSObject {
  public:
    explicit WBAidString(std::string aid) : aid_(std::move(aid)) {}
    std::string className() const override { return "NSString"; }
    std::string description() const override { return aid_; }
    const std::string& string() const { return aid_; }

  private:
    std::string aid_;
};

class WBAidManager : public NSObject, public WBHttpRequestDelegate {
  public:
    enum Status : std::int32_t { NoAid = 0, Fetching = 1, HasAid = 2 };

    WBAidManager();
    std::string className() const override { return "WBAidManager"; }
    static Ref<WBAidManager> sharedInstance();

    std::optional<std::string> aid() const;
    // Ignored for nil; written only when it differs from the stored value.
    void setAid(const std::optional<std::string>& aid);
    std::optional<std::string> sub() const;
    void setSub(const std::optional<std::string>& sub);

    // The stored aid; without one, starts a fetch without retry and answers nil.
    std::optional<std::string> advertisementIdentifier();
    // The fingerprint text, or nil when it cannot be encrypted (no certificate or key).
    std::optional<std::string> generateMFPString();
    void fetchAid(bool retry);
    void fetchAidIfNeededWithApp(const Ref<WeiboSDK3rdApp>& app);
    void retryFetchAidSinceErrorHappened();

    void requestDidFailWithError(const Ref<WBHttpRequest>& request, const Ref<NSError>& error) override;
    bool implementsDidFailWithError() const override { return true; }
    void requestDidFinishLoadingWithResult(const Ref<WBHttpRequest>& request,
                                           const std::string& result) override;
    bool implementsDidFinishLoadingWithResult() const override { return true; }

    Ref<WeiboSDK3rdApp> app() const;
    void setApp(const Ref<WeiboSDK3rdApp>& app);
    Status aidStatus() const { return aidStatus_.load(); }
    int retryCount() const;

  private:
    void settleAfterFailure();

    std::atomic<Status> aidStatus_{NoAid};
    mutable std::mutex appLock_;  // guards app_
    Ref<WeiboSDK3rdApp> app_;
};

namespace wbsdk_testing {
// Drops the shared aid manager and its retry count, as a new process would have none.
void resetAidManager();
}  // namespace wbsdk_testing
