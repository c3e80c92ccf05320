#pragma once
// Loading a web view's content through an HTTP request operation instead of the web view's own
// loading, so that the caller can follow the download and rewrite the body before the view shows
// it.
//
// A new load cancels the previous one (which then completes through its failure path). The
// operation is started directly, not queued; the delegate hears webViewDidStartLoad right after,
// and webViewDidFinishLoad once the body has been handed to the view, on success only; a failure
// reaches only the failure block and leaves the view as it was. The shown page's base URL is the
// response's URL (after redirects). Main thread only.

#include <functional>
#include <optional>
#include <string>

#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "net/HKHTTPRequestOperation.h"
#include "net/HKURLRequestSerialization.h"
#include "net/HKURLResponseSerialization.h"
#include "network/NSURLRequest.h"
#include "uikit/UIWebView.h"

namespace UIWebView_HKNetworking {

using ProgressBlock = HKURLConnectionOperation::DownloadProgressBlock;
// The body to show for the response and the received body.
using DataSuccessBlock = std::function<NSData(const Ref<NSHTTPURLResponse>& response, const NSData& data)>;
// The page to show for the response and the received page as text.
using StringSuccessBlock =
    std::function<std::string(const Ref<NSHTTPURLResponse>& response, const std::string& html)>;
using FailureBlock = std::function<void(const Ref<NSError>& error)>;

Ref<HKHTTPRequestSerializer> requestSerializer(const Ref<UIWebView>& webView);
void setRequestSerializer(const Ref<UIWebView>& webView, const Ref<HKHTTPRequestSerializer>& serializer);
Ref<HKHTTPResponseSerializer> responseSerializer(const Ref<UIWebView>& webView);
void setResponseSerializer(const Ref<UIWebView>& webView, const Ref<HKHTTPResponseSerializer>& serializer);
Ref<HKHTTPRequestOperation> hk_HTTPRequestOperation(const Ref<UIWebView>& webView);
void hk_setHTTPRequestOperation(const Ref<UIWebView>& webView, const Ref<HKHTTPRequestOperation>& operation);

// The MIME type and text encoding name default to the response's.
void loadRequest(const Ref<UIWebView>& webView, const Ref<NSURLRequest>& request,
                 const std::optional<std::string>& MIMEType,
                 const std::optional<std::string>& textEncodingName, ProgressBlock progress,
                 DataSuccessBlock success, FailureBlock failure);
// The body goes through text in the response's encoding (UTF-8 when it names none the platform
// knows) and back. A body that does not decode reaches the block as empty text; an empty answer
// then shows the body as it came.
void loadRequest(const Ref<UIWebView>& webView, const Ref<NSURLRequest>& request, ProgressBlock progress,
                 StringSuccessBlock success, FailureBlock failure);

}  // namespace UIWebView_HKNetworking
