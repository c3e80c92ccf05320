#pragma once
// Share-count reporting: a side channel that tells a share-log service that content was shared to
// social platforms. One request per list of share records, sent on the reporter's own queue (two
// operations wide); the service's JSON reply goes to that request's completion on the main
// thread. It does not touch the report pipeline.
//
// The service address is a deployment setting: setServiceURL, else the environment variable
// APP_TALLY_SHARE_URL, else the Info value "TallyShareServiceURL". Requests never use or change
// the shared URL cache.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "foundation/NSError.h"
#include "foundation/NSOperation.h"
#include "foundation/NSOperationQueue.h"
#include "foundation/Value.h"
#include "network/NSURLConnection.h"

class TallySocialWeibo : public NSObject {
  public:
    TallySocialWeibo(std::optional<std::string> platformType, std::optional<std::string> weiboId,
                     std::optional<std::string> usid, std::optional<Dictionary> param);
    std::string className() const override { return "TallySocialWeibo"; }
    std::string description() const override;

    std::optional<std::string> platformType;
    std::optional<std::string> weiboId;
    std::optional<std::string> userId;
    std::optional<Dictionary> param;
};

class TallySocialOperation;

class TallySocialOperateDelegate {
  public:
    virtual ~TallySocialOperateDelegate() = default;
    virtual void TallyOperateFinish(const Ref<TallySocialOperation>& operation,
                                    const std::optional<NSData>& data, const Ref<NSError>& error) = 0;
};

class TallySocialOperation : public NSOperation, public NSURLConnectionDataDelegate {
  public:
    TallySocialOperation(std::string url, std::optional<NSData> postBody,
                         Weak<TallySocialOperateDelegate> delegate);
    std::string className() const override { return "TallySocialOperation"; }

    void main() override;
    void startDoSomething();

    void connectionDidReceiveResponse(const Ref<NSURLConnection>& connection,
                                      const Ref<NSURLResponse>& response) override;
    void connectionDidReceiveData(const Ref<NSURLConnection>& connection, const NSData& data) override;
    void connectionDidFailWithError(const Ref<NSURLConnection>& connection,
                                    const Ref<NSError>& error) override;
    void connectionDidFinishLoading(const Ref<NSURLConnection>& connection) override;

    long tag = 0;
    long statusCode() const { return statusCode_; }
    const std::string& requestString() const { return requestString_; }
    const NSData& receivedData() const { return receivedData_; }
    const std::optional<NSData>& postData() const { return postData_; }
    int state() const { return state_; }

  private:
    void finish(const std::optional<NSData>& data, const Ref<NSError>& error);

    std::atomic<bool> finished_{false};
    Weak<TallySocialOperateDelegate> delegate_;
    long statusCode_ = 0;
    std::string requestString_;
    NSData receivedData_;
    std::optional<NSData> postData_;
    Ref<NSURLConnection> connection_;
    int state_ = 0;
};

class TallySocialAnalytics : public NSObject, public TallySocialOperateDelegate {
  public:
    using Completion = std::function<void(const Value& reply, const Ref<NSError>& error)>;

    TallySocialAnalytics();
    static Ref<TallySocialAnalytics> sharedInstance();
    std::string className() const override { return "TallySocialAnalytics"; }

    // The entry point: a list of share records (TallySocialWeibo objects), the app key, an
    // optional topic. Nothing is sent for an empty list or a blank key.
    static void postWeiboCounts(const Array& weibos, const std::optional<std::string>& appKey,
                                const std::optional<std::string>& topic, Completion completion);
    void postWeiboCountsInstance(const Array& weibos, const std::string& appKey,
                                 const std::optional<std::string>& topic, Completion completion);
    void postPlatform(const std::vector<std::string>& platforms, const std::string& appKey,
                      const std::vector<std::string>& users, const std::vector<std::string>& weiboIds,
                      const std::optional<std::string>& topic, const std::optional<NSData>& paramData,
                      Completion completion);
    // Elements joined with ","; nothing for an empty list.
    static std::optional<std::string> convertArrayToString(const std::vector<std::string>& list);
    void TallyOperateFinish(const Ref<TallySocialOperation>& operation, const std::optional<NSData>& data,
                            const Ref<NSError>& error) override;

    const Ref<NSOperationQueue>& operationQueue() const { return operationQueue_; }

    static std::string serviceURL();
    static void setServiceURL(std::optional<std::string> url);

  private:
    Ref<NSOperationQueue> operationQueue_;
    std::mutex lock_;
    // One completion per request, by the operation's tag.
    std::map<long, Completion> completions_;
    long nextTag_ = 1;
};
