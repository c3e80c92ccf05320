#pragma once
// WBHttpRequest: one request to the Weibo open API, loaded by a URL connection on the run loop of
// the thread that made it, so its callbacks arrive on that thread.
//
// The parameters are copied and the request layer's own signing parameters added ("aid" when the
// SDK knows one). A GET carries them in its query; another method sends them as a form body. On a
// reply (whatever its status) the delegate gets the raw body, then the body as UTF-8 text; on a
// failure, the error. Each callback goes only to a delegate that implements it; the delegate is
// held weakly, the request keeps itself alive until it ends.

#include <optional>
#include <string>

#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"

class WBHttpRequest;
class NSURLConnection;

class WBHttpRequestDelegate {
  public:
    virtual ~WBHttpRequestDelegate() = default;
    // request:didFailWithError:
    virtual void requestDidFailWithError(const Ref<WBHttpRequest>& request, const Ref<NSError>& error) {}
    virtual bool implementsDidFailWithError() const { return false; }
    // request:didFinishLoadingWithResult:
    virtual void requestDidFinishLoadingWithResult(const Ref<WBHttpRequest>& request,
                                                   const std::string& result) {}
    virtual bool implementsDidFinishLoadingWithResult() const { return false; }
    // request:didFinishLoadingWithDataResult:
    virtual void requestDidFinishLoadingWithDataResult(const Ref<WBHttpRequest>& request,
                                                       const NSData& data) {}
    virtual bool implementsDidFinishLoadingWithDataResult() const { return false; }
};

class WBHttpRequest : public NSObject {
  public:
    WBHttpRequest(std::string url, std::string httpMethod, Dictionary params,
                  Weak<WBHttpRequestDelegate> delegate, std::optional<std::string> tag);
    ~WBHttpRequest() override;
    std::string className() const override { return "WBHttpRequest"; }

    // The request, already started. Nil for a URL that cannot be loaded (after a failure callback
    // on the next turn of the calling thread's run loop, so the delegate always hears).
    static Ref<WBHttpRequest> requestWithURL(const std::string& url, const std::string& httpMethod,
                                             const Dictionary& params,
                                             const Weak<WBHttpRequestDelegate>& delegate,
                                             const std::optional<std::string>& tag);

    const std::string& url() const { return url_; }
    const std::string& httpMethod() const { return httpMethod_; }
    // The parameters as sent, signing parameters included.
    const Dictionary& params() const { return params_; }
    const std::optional<std::string>& tag() const { return tag_; }
    // Stops the request; no callback follows.
    void disconnect();

    // The connection's callbacks.
    void connectionFinished(const NSData& body);
    void connectionFailed(const Ref<NSError>& error);

  private:
    void start();

    std::string url_;
    std::string httpMethod_;
    Dictionary params_;
    Weak<WBHttpRequestDelegate> delegate_;
    std::optional<std::string> tag_;
    Ref<NSURLConnection> connection_;
    Ref<WBHttpRequest> keepAlive_;  // until the request ends
};
