#include "net/HKHTTPSessionManager.h"

#include "foundation/NSString.h"

namespace {

const NSCodableClass<HKHTTPSessionManager> registration("HKHTTPSessionManager", "HKURLSessionManager");

Ref<NSURLSessionConfiguration> decodedConfiguration(NSCoder& coder) {
    if (auto configuration = coder.decodeObjectOfClassAs<NSURLSessionConfiguration>(
            "NSURLSessionConfiguration", "sessionConfiguration")) {
        return configuration;
    }
    if (auto identifier = coder.decodeObjectOfClass("NSString", "identifier").optionalString()) {
        return NSURLSessionConfiguration::backgroundSessionConfigurationWithIdentifier(*identifier);
    }
    return nullptr;
}

// URLs do not archive as objects here: the base URL is kept as its absolute string.
Ref<NSURL> decodedBaseURL(NSCoder& coder) {
    Value text = coder.decodeObjectOfClass("NSString", "baseURL");
    return text.isString() ? NSURL::URLWithString(*text.string()) : nullptr;
}

}  // namespace

Ref<NSURL> HKHTTPSessionManager::withTrailingSlash(const Ref<NSURL>& url) {
    if (!url) return nullptr;
    if (!url->path().empty() && !NSString::hasSuffix(url->absoluteString(), "/")) {
        return url->URLByAppendingPathComponent("");
    }
    return url;
}

HKHTTPSessionManager::HKHTTPSessionManager(const Ref<NSURL>& baseURL,
                                           const Ref<NSURLSessionConfiguration>& configuration)
    : HKURLSessionManager(configuration),
      baseURL_(withTrailingSlash(baseURL)),
      requestSerializer_(HKHTTPRequestSerializer::serializer()) {
    HKURLSessionManager::setResponseSerializer(HKJSONResponseSerializer::serializer());
}

HKHTTPSessionManager::HKHTTPSessionManager(NSCoder& coder)
    : HKHTTPSessionManager(decodedBaseURL(coder), decodedConfiguration(coder)) {
    if (auto serializer = coder.decodeObjectOfClassAs<HKHTTPRequestSerializer>("HKHTTPRequestSerializer",
                                                                               "requestSerializer")) {
        setRequestSerializer(serializer);
    }
    if (auto serializer = coder.decodeObjectOfClassAs<HKHTTPResponseSerializer>("HKHTTPResponseSerializer",
                                                                                "responseSerializer")) {
        setResponseSerializer(serializer);
    }
}

std::string HKHTTPSessionManager::description() const {
    return NSString::stringWithFormat(
        "<%@: %p, baseURL: %@, session: %@, operationQueue: %@>", className(), static_cast<const void*>(this),
        baseURL_ ? baseURL_->absoluteString() : std::string("(null)"),
        session() ? session()->description() : std::string("(null)"), operationQueue()->description());
}

Ref<HKHTTPRequestSerializer> HKHTTPSessionManager::requestSerializer() const {
    std::lock_guard lock(serializerMutex_);
    return requestSerializer_;
}

void HKHTTPSessionManager::setRequestSerializer(const Ref<HKHTTPRequestSerializer>& serializer) {
    std::lock_guard lock(serializerMutex_);
    requestSerializer_ = serializer;
}

void HKHTTPSessionManager::failLater(const FailureBlock& failure, const Ref<NSError>& error) const {
    if (!failure) return;
    dispatch_queue_t queue = completionQueue();
    if (!queue) queue = dispatch_get_main_queue();
    dispatch_async(queue, [failure, error] { failure(nullptr, error); });
}

// A verb's completion: the task is filled in once it exists (the task's delegate holds the
// completion, not the task, so holding the task here makes no cycle); it is let go after the call.
namespace {

struct TaskSlot {
    std::mutex mutex;
    Ref<NSURLSessionDataTask> task;
};

HKURLSessionManager::CompletionHandler verbCompletion(const std::shared_ptr<TaskSlot>& slot,
                                                      HKHTTPSessionManager::SuccessBlock success,
                                                      HKHTTPSessionManager::FailureBlock failure) {
    return
        [slot, success, failure](const Ref<NSURLResponse>&, const Value& object, const Ref<NSError>& error) {
            Ref<NSURLSessionDataTask> task;
            {
                std::lock_guard lock(slot->mutex);
                task = std::move(slot->task);
                slot->task.reset();
            }
            if (error) {
                if (failure) failure(task, error);
            } else if (success) {
                success(task, object);
            }
        };
}

}  // namespace

Ref<NSURLSessionDataTask> HKHTTPSessionManager::dataTaskWithHTTPMethod(const std::string& method,
                                                                       const std::string& URLString,
                                                                       const Value& parameters,
                                                                       SuccessBlock success,
                                                                       FailureBlock failure) {
    auto url = NSURL::URLWithString(URLString, baseURL_);
    Ref<NSError> serializationError;
    auto request = requestSerializer()->requestWithMethod(method, url ? url->absoluteString() : URLString,
                                                          parameters, &serializationError);
    if (serializationError || !request) {
        failLater(failure, serializationError);
        return nullptr;
    }
    auto slot = std::make_shared<TaskSlot>();
    auto task = dataTaskWithRequest(request, verbCompletion(slot, std::move(success), std::move(failure)));
    std::lock_guard lock(slot->mutex);
    slot->task = task;
    return task;
}

namespace {

Ref<NSURLSessionDataTask> resumed(const Ref<NSURLSessionDataTask>& task) {
    if (task) task->resume();
    return task;
}

}  // namespace

Ref<NSURLSessionDataTask> HKHTTPSessionManager::GET(const std::string& URLString, const Value& parameters,
                                                    SuccessBlock success, FailureBlock failure) {
    return resumed(
        dataTaskWithHTTPMethod("GET", URLString, parameters, std::move(success), std::move(failure)));
}

Ref<NSURLSessionDataTask> HKHTTPSessionManager::HEAD(const std::string& URLString, const Value& parameters,
                                                     HeadSuccessBlock success, FailureBlock failure) {
    SuccessBlock dropBody;
    if (success) dropBody = [success](const Ref<NSURLSessionDataTask>& task, const Value&) { success(task); };
    return resumed(
        dataTaskWithHTTPMethod("HEAD", URLString, parameters, std::move(dropBody), std::move(failure)));
}

Ref<NSURLSessionDataTask> HKHTTPSessionManager::POST(const std::string& URLString, const Value& parameters,
                                                     SuccessBlock success, FailureBlock failure) {
    return resumed(
        dataTaskWithHTTPMethod("POST", URLString, parameters, std::move(success), std::move(failure)));
}

Ref<NSURLSessionDataTask> HKHTTPSessionManager::POST(const std::string& URLString, const Value& parameters,
                                                     HKHTTPRequestSerializer::ConstructingBodyBlock block,
                                                     SuccessBlock success, FailureBlock failure) {
    auto url = NSURL::URLWithString(URLString, baseURL_);
    Ref<NSError> serializationError;
    auto request = requestSerializer()->multipartFormRequestWithMethod(
        "POST", url ? url->absoluteString() : URLString, parameters, std::move(block), &serializationError);
    if (serializationError || !request) {
        failLater(failure, serializationError);
        return nullptr;
    }
    auto slot = std::make_shared<TaskSlot>();
    Ref<NSURLSessionDataTask> task = uploadTaskWithStreamedRequest(
        request, nullptr, verbCompletion(slot, std::move(success), std::move(failure)));
    {
        std::lock_guard lock(slot->mutex);
        slot->task = task;
    }
    return resumed(task);
}

Ref<NSURLSessionDataTask> HKHTTPSessionManager::PUT(const std::string& URLString, const Value& parameters,
                                                    SuccessBlock success, FailureBlock failure) {
    return resumed(
        dataTaskWithHTTPMethod("PUT", URLString, parameters, std::move(success), std::move(failure)));
}

Ref<NSURLSessionDataTask> HKHTTPSessionManager::PATCH(const std::string& URLString, const Value& parameters,
                                                      SuccessBlock success, FailureBlock failure) {
    return resumed(
        dataTaskWithHTTPMethod("PATCH", URLString, parameters, std::move(success), std::move(failure)));
}

Ref<NSURLSessionDataTask> HKHTTPSessionManager::DELETE(const std::string& URLString, const Value& parameters,
                                                       SuccessBlock success, FailureBlock failure) {
    return resumed(
        dataTaskWithHTTPMethod("DELETE", URLString, parameters, std::move(success), std::move(failure)));
}

// ---- coding and copying -------------------------------------------------------------------------------
void HKHTTPSessionManager::encodeWithCoder(NSCoder& coder) const {
    HKURLSessionManager::encodeWithCoder(coder);
    if (baseURL_) coder.encodeObject(baseURL_->absoluteString(), "baseURL");
    auto configuration = session() ? session()->configuration() : sessionConfiguration();
    if (configuration) {
        // Configurations here always archive; the identifier form is kept for archives that
        // carry only it.
        coder.encodeObject(Value(configuration), "sessionConfiguration");
        coder.encodeObject(Value(configuration->identifier()), "identifier");
    }
    coder.encodeObject(Value(requestSerializer()), "requestSerializer");
    coder.encodeObject(Value(responseSerializer()), "responseSerializer");
}

Ref<NSObject> HKHTTPSessionManager::copyObject() const {
    auto copy =
        make<HKHTTPSessionManager>(baseURL_, session() ? session()->configuration() : sessionConfiguration());
    if (auto serializer = requestSerializer()) {
        copy->setRequestSerializer(asKind<HKHTTPRequestSerializer>(serializer->copyObject()));
    }
    if (auto serializer = responseSerializer()) {
        copy->setResponseSerializer(asKind<HKHTTPResponseSerializer>(serializer->copyObject()));
    }
    return copy;
}
