#pragma once
// The session-based twin of the operation manager: a session manager with a base URL and a
// request serialiser, offering one call per HTTP verb. Each call builds the request, makes a data
// task (a streamed upload task for multipart POST) through the session manager, resumes it and
// answers it; success and failure blocks receive the task.
//
// Relative URL strings resolve against the base URL, which is kept ending in "/" when it has a
// path. A request that cannot be built gives no task: the call answers nullptr and, when a failure
// block is given, calls it with a nil task and the serialisation error on the completion queue.
//
// Thread safety: the verbs may be called from any thread once the manager is configured.

#include <functional>
#include <string>

#include "net/HKMultipartFormData.h"
#include "net/HKURLRequestSerialization.h"
#include "net/HKURLSessionManager.h"

class HKHTTPSessionManager : public HKURLSessionManager {
  public:
    using SuccessBlock =
        std::function<void(const Ref<NSURLSessionDataTask>& task, const Value& responseObject)>;
    using FailureBlock =
        std::function<void(const Ref<NSURLSessionDataTask>& task, const Ref<NSError>& error)>;
    using HeadSuccessBlock = std::function<void(const Ref<NSURLSessionDataTask>& task)>;

    // initWithBaseURL:sessionConfiguration:
    explicit HKHTTPSessionManager(const Ref<NSURL>& baseURL = nullptr,
                                  const Ref<NSURLSessionConfiguration>& configuration = nullptr);
    explicit HKHTTPSessionManager(NSCoder& coder);
    std::string className() const override { return "HKHTTPSessionManager"; }
    std::string description() const override;

    static Ref<HKHTTPSessionManager> manager() { return make<HKHTTPSessionManager>(); }

    Ref<NSURL> baseURL() const { return baseURL_; }
    Ref<HKHTTPRequestSerializer> requestSerializer() const;
    void setRequestSerializer(const Ref<HKHTTPRequestSerializer>& serializer);

    // The verbs: the resumed task, or nullptr.
    Ref<NSURLSessionDataTask> GET(const std::string& URLString, const Value& parameters, SuccessBlock success,
                                  FailureBlock failure);
    // The success block gets the task only.
    Ref<NSURLSessionDataTask> HEAD(const std::string& URLString, const Value& parameters,
                                   HeadSuccessBlock success, FailureBlock failure);
    Ref<NSURLSessionDataTask> POST(const std::string& URLString, const Value& parameters,
                                   SuccessBlock success, FailureBlock failure);
    // Multipart: the parameters become form parts, then the block appends its own; the body streams.
    Ref<NSURLSessionDataTask> POST(const std::string& URLString, const Value& parameters,
                                   HKHTTPRequestSerializer::ConstructingBodyBlock block, SuccessBlock success,
                                   FailureBlock failure);
    Ref<NSURLSessionDataTask> PUT(const std::string& URLString, const Value& parameters, SuccessBlock success,
                                  FailureBlock failure);
    Ref<NSURLSessionDataTask> PATCH(const std::string& URLString, const Value& parameters,
                                    SuccessBlock success, FailureBlock failure);
    Ref<NSURLSessionDataTask> DELETE(const std::string& URLString, const Value& parameters,
                                     SuccessBlock success, FailureBlock failure);

    // Builds the request and the data task, NOT resumed; nullptr when the request cannot be built.
    Ref<NSURLSessionDataTask> dataTaskWithHTTPMethod(const std::string& method, const std::string& URLString,
                                                     const Value& parameters, SuccessBlock success,
                                                     FailureBlock failure);

    // The base class's fields, then the base URL, the configuration (or only its identifier) and
    // the two serialisers.
    void encodeWithCoder(NSCoder& coder) const override;
    // Same class, base URL and configuration, copies of the serialisers; no blocks, queue or group.
    Ref<NSObject> copyObject() const override;

  private:
    static Ref<NSURL> withTrailingSlash(const Ref<NSURL>& url);
    void failLater(const FailureBlock& failure, const Ref<NSError>& error) const;

    const Ref<NSURL> baseURL_;
    mutable std::mutex serializerMutex_;
    Ref<HKHTTPRequestSerializer> requestSerializer_;
};
