#include "net/UIWebView+HKNetworking.h"

#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSString.h"

namespace UIWebView_HKNetworking {

namespace {

const char kRequestSerializerKey = 0;
const char kResponseSerializerKey = 0;
const char kOperationKey = 0;

}  // namespace

Ref<HKHTTPRequestSerializer> requestSerializer(const Ref<UIWebView>& webView) {
    static const Ref<HKHTTPRequestSerializer> shared = HKHTTPRequestSerializer::serializer();
    if (!webView) return shared;
    auto own = webView->associatedObject(&kRequestSerializerKey).objectAs<HKHTTPRequestSerializer>();
    return own ? own : shared;
}

void setRequestSerializer(const Ref<UIWebView>& webView, const Ref<HKHTTPRequestSerializer>& serializer) {
    NS_ASSERT_MAIN_THREAD();
    if (webView) webView->setAssociatedObject(&kRequestSerializerKey, Value(serializer));
}

Ref<HKHTTPResponseSerializer> responseSerializer(const Ref<UIWebView>& webView) {
    static const Ref<HKHTTPResponseSerializer> shared = HKHTTPResponseSerializer::serializer();
    if (!webView) return shared;
    auto own = webView->associatedObject(&kResponseSerializerKey).objectAs<HKHTTPResponseSerializer>();
    return own ? own : shared;
}

void setResponseSerializer(const Ref<UIWebView>& webView, const Ref<HKHTTPResponseSerializer>& serializer) {
    NS_ASSERT_MAIN_THREAD();
    if (webView) webView->setAssociatedObject(&kResponseSerializerKey, Value(serializer));
}

Ref<HKHTTPRequestOperation> hk_HTTPRequestOperation(const Ref<UIWebView>& webView) {
    return webView ? webView->associatedObject(&kOperationKey).objectAs<HKHTTPRequestOperation>() : nullptr;
}

void hk_setHTTPRequestOperation(const Ref<UIWebView>& webView, const Ref<HKHTTPRequestOperation>& operation) {
    NS_ASSERT_MAIN_THREAD();
    if (webView) webView->setAssociatedObject(&kOperationKey, Value(operation));
}

void loadRequest(const Ref<UIWebView>& webView, const Ref<NSURLRequest>& request,
                 const std::optional<std::string>& MIMEType,
                 const std::optional<std::string>& textEncodingName, ProgressBlock progress,
                 DataSuccessBlock success, FailureBlock failure) {
    NS_ASSERT_MAIN_THREAD();
    if (!webView || !request) return;
    if (auto current = hk_HTTPRequestOperation(webView)) current->cancel();

    auto serialized = requestSerializer(webView)->requestBySerializingRequest(request, Value(), nullptr);
    if (!serialized) serialized = request;
    auto operation = make<HKHTTPRequestOperation>(serialized);
    hk_setHTTPRequestOperation(webView, operation);
    operation->setResponseSerializer(responseSerializer(webView));
    operation->setDownloadProgressBlock(std::move(progress));

    Weak<UIWebView> weakView = webView;
    operation->setCompletionBlockWithSuccess(
        [weakView, MIMEType, textEncodingName, success](const Ref<HKHTTPRequestOperation>& op, const Value&) {
            auto view = weakView.lock();
            if (!view) return;
            auto response = op->HTTPResponse();
            NSData body = op->responseData().value_or(NSData());
            NSData shown = success ? success(response, body) : body;
            view->loadData(shown, MIMEType ? MIMEType : (response ? response->MIMEType() : std::nullopt),
                           textEncodingName ? textEncodingName
                                            : (response ? response->textEncodingName() : std::nullopt),
                           response ? response->URL() : nullptr);
            if (auto delegate = view->delegate()) delegate->webViewDidFinishLoad(*view);
        },
        [failure](const Ref<HKHTTPRequestOperation>&, const Ref<NSError>& error) {
            if (failure) failure(error);
        });
    operation->start();
    if (auto delegate = webView->delegate()) delegate->webViewDidStartLoad(*webView);
}

void loadRequest(const Ref<UIWebView>& webView, const Ref<NSURLRequest>& request, ProgressBlock progress,
                 StringSuccessBlock success, FailureBlock failure) {
    NS_ASSERT_MAIN_THREAD();
    auto viaText = [success](const Ref<NSHTTPURLResponse>& response, const NSData& data) {
        NSStringEncoding encoding = NSUTF8StringEncoding;
        if (auto name = response ? response->textEncodingName() : std::nullopt) {
            if (auto known = NSString::encodingForIANACharSetName(*name)) encoding = *known;
        }
        // A body that does not decode in its encoding reaches the block as empty text; an empty
        // answer for it shows the body as it came.
        auto text = NSString::initWithData(data, encoding);
        std::string page = text.value_or(std::string());
        if (success) page = success(response, page);
        if (!text && page.empty()) return data;
        return NSString::dataUsingEncoding(page, encoding, true).value_or(data);
    };
    loadRequest(webView, request, std::nullopt, std::nullopt, std::move(progress), viaText,
                std::move(failure));
}

}  // namespace UIWebView_HKNetworking
