#include "sdk/analytics/collection/TallySocialAnalytics.h"

#include <cstdlib>

#include "dispatch/Dispatch.h"
#include "foundation/NSBundle.h"
#include "foundation/NSDate.h"
#include "foundation/NSLog.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSString.h"
#include "sdk/analytics/collection/TANSharedUDID.h"
#include "sdk/analytics/collection/TANUtil.h"

namespace {

std::mutex gLock;
Ref<TallySocialAnalytics> gShared;
std::optional<std::string> gServiceURL;

constexpr char kNoPlatform[] = "TallySocialAnalytics: 请提供分享平台名称";

}  // namespace

// ---------------------------------------------------------------------------------------------
// TallySocialWeibo

TallySocialWeibo::TallySocialWeibo(std::optional<std::string> platformType,
                                   std::optional<std::string> weiboId, std::optional<std::string> usid,
                                   std::optional<Dictionary> param)
    : platformType(std::move(platformType)),
      weiboId(std::move(weiboId)),
      userId(std::move(usid)),
      param(std::move(param)) {
    if (!this->platformType || this->platformType->empty()) NSLog("%@", kNoPlatform);
}

std::string TallySocialWeibo::description() const {
    Dictionary d = Dictionary::mutableDictionary();
    if (platformType) d.setObject("platformType", *platformType);
    if (weiboId) d.setObject("weiboId", *weiboId);
    if (userId) d.setObject("usid", *userId);
    if (param) d.setObject("param", *param);
    return Value(d).description();
}

// ---------------------------------------------------------------------------------------------
// TallySocialOperation

TallySocialOperation::TallySocialOperation(std::string url, std::optional<NSData> postBody,
                                           Weak<TallySocialOperateDelegate> delegate)
    : delegate_(std::move(delegate)), requestString_(std::move(url)), postData_(std::move(postBody)) {}

void TallySocialOperation::main() {
    startDoSomething();
}

void TallySocialOperation::startDoSomething() {
    auto url = NSURL::URLWithString(requestString_);
    if (!url) {
        finish(std::nullopt, NSError::errorWithDomain(NSURLErrorDomain, NSURLErrorBadURL));
        return;
    }
    // No cache is read or written for these requests; the process's shared cache is left alone.
    auto request =
        NSMutableURLRequest::requestWithURL(url, NSURLRequestReloadIgnoringLocalAndRemoteCacheData, 10);
    if (postData_ && !postData_->empty()) {
        request->setHTTPMethod("POST");
        request->setHTTPBody(*postData_);
    } else {
        request->setHTTPMethod("GET");
    }
    auto self = std::static_pointer_cast<TallySocialOperation>(this->self());
    connection_ =
        make<NSURLConnection>(request, std::static_pointer_cast<NSURLConnectionDelegate>(self), false);
    auto loop = NSRunLoop::currentRunLoop();
    connection_->scheduleInRunLoop(loop, NSDefaultRunLoopMode);
    connection_->start();
    while (!finished_.load()) loop->runOnce(NSDefaultRunLoopMode, 0.05);
    connection_.reset();
}

void TallySocialOperation::connectionDidReceiveResponse(const Ref<NSURLConnection>&,
                                                        const Ref<NSURLResponse>& response) {
    if (auto http = std::dynamic_pointer_cast<NSHTTPURLResponse>(response)) statusCode_ = http->statusCode();
}

void TallySocialOperation::connectionDidReceiveData(const Ref<NSURLConnection>&, const NSData& data) {
    receivedData_.appendData(data);
}

void TallySocialOperation::connectionDidFailWithError(const Ref<NSURLConnection>&,
                                                      const Ref<NSError>& error) {
    finish(std::nullopt, error);
}

void TallySocialOperation::connectionDidFinishLoading(const Ref<NSURLConnection>&) {
    state_ = 3;
    finish(receivedData_, nullptr);
}

void TallySocialOperation::finish(const std::optional<NSData>& data, const Ref<NSError>& error) {
    if (auto delegate = delegate_.lock()) {
        delegate->TallyOperateFinish(std::static_pointer_cast<TallySocialOperation>(self()), data, error);
    }
    finished_.store(true);
}

// ---------------------------------------------------------------------------------------------
// TallySocialAnalytics

TallySocialAnalytics::TallySocialAnalytics() : operationQueue_(make<NSOperationQueue>()) {
    operationQueue_->setMaxConcurrentOperationCount(2);
}

Ref<TallySocialAnalytics> TallySocialAnalytics::sharedInstance() {
    std::lock_guard<std::mutex> guard(gLock);
    if (!gShared) gShared = make<TallySocialAnalytics>();
    return gShared;
}

std::string TallySocialAnalytics::serviceURL() {
    {
        std::lock_guard<std::mutex> guard(gLock);
        if (gServiceURL) return *gServiceURL;
    }
    if (const char* env = std::getenv("APP_TALLY_SHARE_URL"); env && *env) return env;
    Value info = NSBundle::mainBundle()->objectForInfoDictionaryKey("TallyShareServiceURL");
    return info.isString() ? *info.string() : std::string();
}

void TallySocialAnalytics::setServiceURL(std::optional<std::string> url) {
    std::lock_guard<std::mutex> guard(gLock);
    gServiceURL = std::move(url);
}

void TallySocialAnalytics::postWeiboCounts(const Array& weibos, const std::optional<std::string>& appKey,
                                           const std::optional<std::string>& topic, Completion completion) {
    if (weibos.empty()) {
        NSLog("%@", kNoPlatform);
        return;
    }
    if (!appKey || appKey->empty()) {
        NSLog("TallySocialAnalytics: appKey 不能为空");
        return;
    }
    sharedInstance()->postWeiboCountsInstance(weibos, *appKey, topic, std::move(completion));
}

void TallySocialAnalytics::postWeiboCountsInstance(const Array& weibos, const std::string& appKey,
                                                   const std::optional<std::string>& topic,
                                                   Completion completion) {
    std::vector<std::string> platforms, users, ids;
    Dictionary params = Dictionary::mutableDictionary();
    for (const Value& element : weibos) {
        auto weibo = element.objectAs<TallySocialWeibo>();
        if (!weibo) {
            NSLog("TallySocialAnalytics: the element in weibos must be TallySocialWeibo object!");
            break;
        }
        platforms.push_back(weibo->platformType.value_or(""));
        users.push_back(weibo->userId.value_or(""));
        ids.push_back(weibo->weiboId.value_or(""));
        if (weibo->param) params.setObject(weibo->platformType.value_or(""), *weibo->param);
    }
    std::optional<NSData> body;
    if (!params.empty()) {
        analyticsLog("(Social  Analytics param) %@", params);
        auto json = TANUtil::JSONFragment(Value(params));
        body = NSData::fromString(NSString::stringWithFormat("data=%@", json.value_or("")));
    }
    postPlatform(platforms, appKey, users, ids, topic, body, std::move(completion));
}

void TallySocialAnalytics::postPlatform(const std::vector<std::string>& platforms, const std::string& appKey,
                                        const std::vector<std::string>& users,
                                        const std::vector<std::string>& weiboIds,
                                        const std::optional<std::string>& topic,
                                        const std::optional<NSData>& paramData, Completion completion) {
    std::string deviceId = TANSharedUDID::value().value_or("");
    std::string mac = TANUtil::deviceMacAddressString();
    std::string platform = convertArrayToString(platforms).value_or("");
    std::string usid = convertArrayToString(users).value_or("");
    std::string weiboid = convertArrayToString(weiboIds).value_or("");
    int date = static_cast<int>(NSDate::date().timeIntervalSince1970());
    std::string url = serviceURL() + NSString::stringWithFormat("/share/api/%@/?", appKey);
    url += NSString::stringWithFormat("deviceid=%@,%@", deviceId, mac);
    url += NSString::stringWithFormat("&idtype=%@", "sharedudid,mac");
    url += NSString::stringWithFormat("&platform=%@", platform);
    url += "&channel=3";
    url += NSString::stringWithFormat("&version=%@", TANUtil::sdkVersionString());
    url += NSString::stringWithFormat("&usid=%@", usid);
    if (!(weiboIds.size() == 1 && weiboIds[0].empty()))
        url += NSString::stringWithFormat("&weiboid=%@", weiboid);
    if (topic) {
        auto escaped = NSString::stringByAddingPercentEscapesUsingEncoding(*topic, NSUTF8StringEncoding);
        url += NSString::stringWithFormat("&topic=%@", escaped.value_or(""));
    }
    url += NSString::stringWithFormat("&date=%d", date);

    Dictionary trace{{"appKey", appKey},     {"deviceid", deviceId}, {"mc", mac},
                     {"platform", platform}, {"channel", "3"},       {"version", TANUtil::sdkVersionString()},
                     {"usid", usid},         {"weiboid", weiboid},   {"topic", Value(topic)},
                     {"date", date}};
    analyticsLog("(Social  Analytics) %@", trace);

    auto operation = make<TallySocialOperation>(url, paramData,
                                                std::static_pointer_cast<TallySocialOperateDelegate>(
                                                    std::static_pointer_cast<TallySocialAnalytics>(self())));
    {
        std::lock_guard<std::mutex> guard(lock_);
        operation->tag = nextTag_++;
        completions_[operation->tag] = std::move(completion);
    }
    operationQueue_->addOperation(operation);
}

std::optional<std::string> TallySocialAnalytics::convertArrayToString(const std::vector<std::string>& list) {
    if (list.empty()) {
        NSLog("TallySocialAnalytics: you must pass a NSArray!");
        return std::nullopt;
    }
    return NSString::componentsJoinedByString(list, ",");
}

void TallySocialAnalytics::TallyOperateFinish(const Ref<TallySocialOperation>& operation,
                                              const std::optional<NSData>& data, const Ref<NSError>& error) {
    Completion completion;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto found = completions_.find(operation->tag);
        if (found != completions_.end()) {
            completion = std::move(found->second);
            completions_.erase(found);
        }
    }
    Value reply;
    if (data) {
        auto text = NSString::initWithData(*data, NSUTF8StringEncoding);
        if (text) reply = TANUtil::JSONValue(*text);
    }
    if (!completion) return;
    dispatch_async(dispatch_get_main_queue(), [completion, reply, error] { completion(reply, error); });
}
