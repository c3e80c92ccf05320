#include "net/HKHTTPRequestOperationManager.h"

namespace {

const NSCodableClass<HKHTTPRequestOperationManager> registration("HKHTTPRequestOperationManager");

}  // namespace

Ref<NSURL> HKHTTPRequestOperationManager::withTrailingSlash(const Ref<NSURL>& url) {
    if (!url) return nullptr;
    if (!url->path().empty() && !NSString::hasSuffix(url->absoluteString(), "/")) {
        return url->URLByAppendingPathComponent("");
    }
    return url;
}

HKHTTPRequestOperationManager::HKHTTPRequestOperationManager(const Ref<NSURL>& baseURL)
    : baseURL_(withTrailingSlash(baseURL)),
      requestSerializer_(HKHTTPRequestSerializer::serializer()),
      responseSerializer_(HKJSONResponseSerializer::serializer()),
      operationQueue_(make<NSOperationQueue>()),
      securityPolicy_(HKSecurityPolicy::defaultPolicy()),
      reachabilityManager_(HKNetworkReachabilityManager::sharedManager()) {}

HKHTTPRequestOperationManager::HKHTTPRequestOperationManager(NSCoder& coder)
    : HKHTTPRequestOperationManager(
          NSURL::URLWithString(coder.decodeObjectOfClass("NSString", "baseURL").stringValue())) {
    if (auto serializer = coder.decodeObjectOfClassAs<HKHTTPRequestSerializer>("HKHTTPRequestSerializer",
                                                                               "requestSerializer")) {
        setRequestSerializer(serializer);
    }
    if (auto serializer = coder.decodeObjectOfClassAs<HKHTTPResponseSerializer>("HKHTTPResponseSerializer",
                                                                                "responseSerializer")) {
        setResponseSerializer(serializer);
    }
}

std::string HKHTTPRequestOperationManager::description() const {
    auto url = baseURL();
    return NSString::stringWithFormat(
        "<%@: %p, baseURL: %@, operationQueue: %@>", className(), static_cast<const void*>(this),
        url ? url->absoluteString() : std::string("(null)"), operationQueue()->description());
}

// ---- accessors -------------------------------------------------------------------------------------

Ref<NSURL> HKHTTPRequestOperationManager::baseURL() const {
    std::lock_guard lock(mutex_);
    return baseURL_;
}

bool HKHTTPRequestOperationManager::shouldUseCredentialStorage() const {
    std::lock_guard lock(mutex_);
    return shouldUseCredentialStorage_;
}

void HKHTTPRequestOperationManager::setShouldUseCredentialStorage(bool value) {
    std::lock_guard lock(mutex_);
    shouldUseCredentialStorage_ = value;
}

Ref<HKHTTPRequestSerializer> HKHTTPRequestOperationManager::requestSerializer() const {
    std::lock_guard lock(mutex_);
    return requestSerializer_;
}

void HKHTTPRequestOperationManager::setRequestSerializer(const Ref<HKHTTPRequestSerializer>& serializer) {
    std::lock_guard lock(mutex_);
    requestSerializer_ = serializer;
}

Ref<HKHTTPResponseSerializer> HKHTTPRequestOperationManager::responseSerializer() const {
    std::lock_guard lock(mutex_);
    return responseSerializer_;
}

void HKHTTPRequestOperationManager::setResponseSerializer(const Ref<HKHTTPResponseSerializer>& serializer) {
    std::lock_guard lock(mutex_);
    responseSerializer_ = serializer;
}

Ref<NSOperationQueue> HKHTTPRequestOperationManager::operationQueue() const {
    std::lock_guard lock(mutex_);
    return operationQueue_;
}

void HKHTTPRequestOperationManager::setOperationQueue(const Ref<NSOperationQueue>& queue) {
    std::lock_guard lock(mutex_);
    operationQueue_ = queue;
}

Ref<NSURLCredential> HKHTTPRequestOperationManager::credential() const {
    std::lock_guard lock(mutex_);
    return credential_;
}

void HKHTTPRequestOperationManager::setCredential(const Ref<NSURLCredential>& credential) {
    std::lock_guard lock(mutex_);
    credential_ = credential;
}

Ref<HKSecurityPolicy> HKHTTPRequestOperationManager::securityPolicy() const {
    std::lock_guard lock(mutex_);
    return securityPolicy_;
}

void HKHTTPRequestOperationManager::setSecurityPolicy(const Ref<HKSecurityPolicy>& policy) {
    std::lock_guard lock(mutex_);
    securityPolicy_ = policy;
}

Ref<HKNetworkReachabilityManager> HKHTTPRequestOperationManager::reachabilityManager() const {
    std::lock_guard lock(mutex_);
    return reachabilityManager_;
}

void HKHTTPRequestOperationManager::setReachabilityManager(const Ref<HKNetworkReachabilityManager>& manager) {
    std::lock_guard lock(mutex_);
    reachabilityManager_ = manager;
}

dispatch_queue_t HKHTTPRequestOperationManager::completionQueue() const {
    std::lock_guard lock(mutex_);
    return completionQueue_;
}

void HKHTTPRequestOperationManager::setCompletionQueue(const dispatch_queue_t& queue) {
    std::lock_guard lock(mutex_);
    completionQueue_ = queue;
}

dispatch_group_t HKHTTPRequestOperationManager::completionGroup() const {
    std::lock_guard lock(mutex_);
    return completionGroup_;
}

void HKHTTPRequestOperationManager::setCompletionGroup(const dispatch_group_t& group) {
    std::lock_guard lock(mutex_);
    completionGroup_ = group;
}

// ---- operations ----------------------------------------------------------------------------------------

Ref<HKHTTPRequestOperation>
HKHTTPRequestOperationManager::HTTPRequestOperationWithRequest(const Ref<NSURLRequest>& request,
                                                               SuccessBlock success, FailureBlock failure) {
    auto operation = make<HKHTTPRequestOperation>(request);
    operation->setResponseSerializer(responseSerializer());
    operation->setShouldUseCredentialStorage(shouldUseCredentialStorage());
    operation->setCredential(credential());
    operation->setSecurityPolicy(securityPolicy());
    operation->setCompletionBlockWithSuccess(std::move(success), std::move(failure));
    operation->setCompletionQueue(completionQueue());
    operation->setCompletionGroup(completionGroup());
    return operation;
}

std::string HKHTTPRequestOperationManager::resolvedURLString(const std::string& URLString) const {
    // A string that does not parse is handed on as it is; the request then has no URL and the
    // operation fails with a bad-URL error.
    auto url = NSURL::URLWithString(URLString, baseURL());
    return url ? url->absoluteString() : URLString;
}

void HKHTTPRequestOperationManager::failLater(const FailureBlock& failure, const Ref<NSError>& error) const {
    if (!failure) return;
    dispatch_queue_t queue = completionQueue();
    if (!queue) queue = dispatch_get_main_queue();
    dispatch_async(queue, [failure, error] { failure(nullptr, error); });
}

Ref<HKHTTPRequestOperation> HKHTTPRequestOperationManager::HTTPRequestOperationWithHTTPMethod(
    const std::string& method, const std::string& URLString, const Value& parameters, SuccessBlock success,
    FailureBlock failure) {
    Ref<NSError> serializationError;
    auto request = requestSerializer()->requestWithMethod(method, resolvedURLString(URLString), parameters,
                                                          &serializationError);
    if (serializationError || !request) {
        failLater(failure, serializationError);
        return nullptr;
    }
    return HTTPRequestOperationWithRequest(request, std::move(success), std::move(failure));
}

Ref<HKHTTPRequestOperation>
HKHTTPRequestOperationManager::enqueue(const Ref<HKHTTPRequestOperation>& operation) {
    if (operation) operationQueue()->addOperation(operation);
    return operation;
}

Ref<HKHTTPRequestOperation> HKHTTPRequestOperationManager::GET(const std::string& URLString,
                                                               const Value& parameters, SuccessBlock success,
                                                               FailureBlock failure) {
    return enqueue(HTTPRequestOperationWithHTTPMethod("GET", URLString, parameters, std::move(success),
                                                      std::move(failure)));
}

Ref<HKHTTPRequestOperation> HKHTTPRequestOperationManager::HEAD(const std::string& URLString,
                                                                const Value& parameters,
                                                                HeadSuccessBlock success,
                                                                FailureBlock failure) {
    SuccessBlock wrapper;
    if (success) {
        wrapper = [success](const Ref<HKHTTPRequestOperation>& operation, const Value&) {
            success(operation);
        };
    }
    return enqueue(HTTPRequestOperationWithHTTPMethod("HEAD", URLString, parameters, std::move(wrapper),
                                                      std::move(failure)));
}

Ref<HKHTTPRequestOperation> HKHTTPRequestOperationManager::POST(const std::string& URLString,
                                                                const Value& parameters, SuccessBlock success,
                                                                FailureBlock failure) {
    return enqueue(HTTPRequestOperationWithHTTPMethod("POST", URLString, parameters, std::move(success),
                                                      std::move(failure)));
}

Ref<HKHTTPRequestOperation>
HKHTTPRequestOperationManager::POST(const std::string& URLString, const Value& parameters,
                                    HKHTTPRequestSerializer::ConstructingBodyBlock block,
                                    SuccessBlock success, FailureBlock failure) {
    Ref<NSError> serializationError;
    auto request = requestSerializer()->multipartFormRequestWithMethod(
        "POST", resolvedURLString(URLString), parameters, std::move(block), &serializationError);
    if (serializationError || !request) {
        failLater(failure, serializationError);
        return nullptr;
    }
    return enqueue(HTTPRequestOperationWithRequest(request, std::move(success), std::move(failure)));
}

Ref<HKHTTPRequestOperation> HKHTTPRequestOperationManager::PUT(const std::string& URLString,
                                                               const Value& parameters, SuccessBlock success,
                                                               FailureBlock failure) {
    return enqueue(HTTPRequestOperationWithHTTPMethod("PUT", URLString, parameters, std::move(success),
                                                      std::move(failure)));
}

Ref<HKHTTPRequestOperation> HKHTTPRequestOperationManager::PATCH(const std::string& URLString,
                                                                 const Value& parameters,
                                                                 SuccessBlock success, FailureBlock failure) {
    return enqueue(HTTPRequestOperationWithHTTPMethod("PATCH", URLString, parameters, std::move(success),
                                                      std::move(failure)));
}

Ref<HKHTTPRequestOperation> HKHTTPRequestOperationManager::DELETE(const std::string& URLString,
                                                                  const Value& parameters,
                                                                  SuccessBlock success,
                                                                  FailureBlock failure) {
    return enqueue(HTTPRequestOperationWithHTTPMethod("DELETE", URLString, parameters, std::move(success),
                                                      std::move(failure)));
}

// ---- coding and copying ---------------------------------------------------------------------------------

void HKHTTPRequestOperationManager::encodeWithCoder(NSCoder& coder) const {
    auto url = baseURL();
    if (url) coder.encodeObject(url->absoluteString(), "baseURL");
    coder.encodeObject(Value(requestSerializer()), "requestSerializer");
    coder.encodeObject(Value(responseSerializer()), "responseSerializer");
}

Ref<NSObject> HKHTTPRequestOperationManager::copyObject() const {
    auto copy = make<HKHTTPRequestOperationManager>(baseURL());
    if (auto serializer = requestSerializer()) {
        copy->setRequestSerializer(asKind<HKHTTPRequestSerializer>(serializer->copyObject()));
    }
    if (auto serializer = responseSerializer()) {
        copy->setResponseSerializer(asKind<HKHTTPResponseSerializer>(serializer->copyObject()));
    }
    return copy;
}
