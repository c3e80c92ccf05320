#include "sdk/weibo/bridge/WBHttpRequest.h"

#include "foundation/NSRunLoop.h"
#include "foundation/NSURL.h"
#include "network/NSURLConnection.h"
#include "network/NSURLRequest.h"
#include "sdk/weibo/bridge/WeiboSDK.h"

namespace {

class RequestLoader : public NSObject, public NSURLConnectionDataDelegate {
  public:
    explicit RequestLoader(Weak<WBHttpRequest> request) : request_(std::move(request)) {}
    std::string className() const override { return "WBHttpRequestLoader"; }

    void connectionDidReceiveData(const Ref<NSURLConnection>&, const NSData& data) override {
        body_.appendData(data);
    }
    void connectionDidFinishLoading(const Ref<NSURLConnection>&) override {
        if (auto request = request_.lock()) request->connectionFinished(body_);
    }
    void connectionDidFailWithError(const Ref<NSURLConnection>&, const Ref<NSError>& error) override {
        if (auto request = request_.lock()) request->connectionFailed(error);
    }

  private:
    Weak<WBHttpRequest> request_;
    NSData body_;
};

std::string formBody(const Dictionary& params) {
    // The serialiser's escaping, without its leading "?".
    auto query = WeiboSDK::serializeURLString(std::string(), params).value_or("?");
    return query.empty() ? query : query.substr(1);
}

}  // namespace

WBHttpRequest::WBHttpRequest(std::string url, std::string httpMethod, Dictionary params,
                             Weak<WBHttpRequestDelegate> delegate, std::optional<std::string> tag)
    : url_(std::move(url)),
      httpMethod_(std::move(httpMethod)),
      params_(params.mutableCopy()),
      delegate_(std::move(delegate)),
      tag_(std::move(tag)) {}

WBHttpRequest::~WBHttpRequest() = default;

Ref<WBHttpRequest> WBHttpRequest::requestWithURL(const std::string& url, const std::string& httpMethod,
                                                 const Dictionary& params,
                                                 const Weak<WBHttpRequestDelegate>& delegate,
                                                 const std::optional<std::string>& tag) {
    auto request =
        make<WBHttpRequest>(url, httpMethod.empty() ? std::string("GET") : httpMethod, params, delegate, tag);
    if (auto aid = WeiboSDK::getWeiboAid()) request->params_.setObject("aid", *aid);
    request->start();
    return request;
}

void WBHttpRequest::start() {
    bool isGET = httpMethod_ == "GET";
    auto url =
        NSURL::URLWithString(isGET ? WeiboSDK::serializeURLString(url_, params_).value_or(url_) : url_);
    auto urlRequest = url ? NSMutableURLRequest::requestWithURL(url) : nullptr;
    keepAlive_ = std::static_pointer_cast<WBHttpRequest>(self());
    if (!urlRequest || !NSURLConnection::canHandleRequest(urlRequest)) {
        // Told on the next turn, as a connection would tell it.
        auto error = NSError::errorWithDomain(NSURLErrorDomain, NSURLErrorBadURL,
                                              Dictionary{{NSURLErrorFailingURLStringErrorKey, url_}});
        NSRunLoop::currentRunLoop()->performBlock(
            [self = keepAlive_, error] { self->connectionFailed(error); });
        return;
    }
    urlRequest->setHTTPMethod(httpMethod_);
    urlRequest->setTimeoutInterval(60);
    if (!isGET) {
        urlRequest->setValue(std::string("application/x-www-form-urlencoded"), "Content-Type");
        urlRequest->setHTTPBody(NSData::fromString(formBody(params_)));
    }
    auto loader = make<RequestLoader>(std::static_pointer_cast<WBHttpRequest>(self()));
    connection_ = NSURLConnection::connectionWithRequest(urlRequest, loader);
}

void WBHttpRequest::disconnect() {
    if (connection_) connection_->cancel();
    connection_.reset();
    keepAlive_.reset();
}

void WBHttpRequest::connectionFinished(const NSData& body) {
    auto self = keepAlive_;
    if (!self) return;
    keepAlive_.reset();
    connection_.reset();
    auto delegate = delegate_.lock();
    if (!delegate) return;
    if (delegate->implementsDidFinishLoadingWithDataResult())
        delegate->requestDidFinishLoadingWithDataResult(self, body);
    if (delegate->implementsDidFinishLoadingWithResult())
        delegate->requestDidFinishLoadingWithResult(self, body.toString());
}

void WBHttpRequest::connectionFailed(const Ref<NSError>& error) {
    auto self = keepAlive_;
    if (!self) return;
    keepAlive_.reset();
    connection_.reset();
    auto delegate = delegate_.lock();
    if (delegate && delegate->implementsDidFailWithError()) delegate->requestDidFailWithError(self, error);
}
