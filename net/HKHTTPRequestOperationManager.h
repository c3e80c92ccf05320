#pragma once
// The entry point through which the app talks HTTP: a base URL, a request serialiser, a response
// serialiser, a security policy, a reachability manager, credentials and an operation queue. Each
// verb resolves its URL string against the base URL, builds the request, wraps it in an HTTP
// request operation and enqueues it.
//
// Relative strings are resolved the RFC 3986 way against a base URL that ends in "/" (the
// initialiser adds it to a base with a path): "user/login.do" is appended to the base path, a
// string starting with "/" replaces the path, a full URL replaces the base.
//
// A request that cannot be built (the serialiser reports an error) is reported only through the
// failure block, later, on the completion queue, with no operation; the verb then returns
// nullptr and enqueues nothing. Every other failure comes from the operation.
//
// Subclass it for an API client: the verbs are virtual so that a client can add its own
// behaviour around them.
//
// Thread safety: the verbs may be called from any thread once the manager is configured.

#include <functional>
#include <mutex>
#include <string>

#include "dispatch/Dispatch.h"
#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSOperationQueue.h"
#include "foundation/NSURL.h"
#include "net/HKHTTPRequestOperation.h"
#include "net/HKNetworkReachabilityManager.h"
#include "net/HKSecurityPolicy.h"
#include "net/HKURLRequestSerialization.h"
#include "net/HKURLResponseSerialization.h"

class HKHTTPRequestOperationManager : public NSObject, public NSSecureCoding {
  public:
    using SuccessBlock = HKHTTPRequestOperation::SuccessBlock;
    using FailureBlock = HKHTTPRequestOperation::FailureBlock;
    // HEAD has no body to hand over.
    using HeadSuccessBlock = std::function<void(const Ref<HKHTTPRequestOperation>& operation)>;

    explicit HKHTTPRequestOperationManager(const Ref<NSURL>& baseURL = nullptr);
    explicit HKHTTPRequestOperationManager(NSCoder& coder);
    static bool supportsSecureCoding() { return true; }
    std::string className() const override { return "HKHTTPRequestOperationManager"; }
    std::string description() const override;

    static Ref<HKHTTPRequestOperationManager> manager() { return make<HKHTTPRequestOperationManager>(); }

    // What relative URL strings resolve against; a subclass may take it from elsewhere (the
    // app's client reads its configured root here).
    virtual Ref<NSURL> baseURL() const;
    bool shouldUseCredentialStorage() const;
    void setShouldUseCredentialStorage(bool value);
    Ref<HKHTTPRequestSerializer> requestSerializer() const;
    void setRequestSerializer(const Ref<HKHTTPRequestSerializer>& serializer);
    Ref<HKHTTPResponseSerializer> responseSerializer() const;
    void setResponseSerializer(const Ref<HKHTTPResponseSerializer>& serializer);
    Ref<NSOperationQueue> operationQueue() const;
    void setOperationQueue(const Ref<NSOperationQueue>& queue);
    Ref<NSURLCredential> credential() const;
    void setCredential(const Ref<NSURLCredential>& credential);
    Ref<HKSecurityPolicy> securityPolicy() const;
    void setSecurityPolicy(const Ref<HKSecurityPolicy>& policy);
    Ref<HKNetworkReachabilityManager> reachabilityManager() const;
    void setReachabilityManager(const Ref<HKNetworkReachabilityManager>& manager);
    dispatch_queue_t completionQueue() const;
    void setCompletionQueue(const dispatch_queue_t& queue);
    dispatch_group_t completionGroup() const;
    void setCompletionGroup(const dispatch_group_t& group);

    // A new operation for the request with the manager's settings; not enqueued.
    virtual Ref<HKHTTPRequestOperation> HTTPRequestOperationWithRequest(const Ref<NSURLRequest>& request,
                                                                        SuccessBlock success,
                                                                        FailureBlock failure);
    // The same for a method and a URL string; nullptr (failure called later) when the request
    // cannot be built.
    virtual Ref<HKHTTPRequestOperation>
    HTTPRequestOperationWithHTTPMethod(const std::string& method, const std::string& URLString,
                                       const Value& parameters, SuccessBlock success, FailureBlock failure);

    // The verbs: the enqueued operation, or nullptr.
    virtual Ref<HKHTTPRequestOperation> GET(const std::string& URLString, const Value& parameters,
                                            SuccessBlock success, FailureBlock failure);
    virtual Ref<HKHTTPRequestOperation> HEAD(const std::string& URLString, const Value& parameters,
                                             HeadSuccessBlock success, FailureBlock failure);
    virtual Ref<HKHTTPRequestOperation> POST(const std::string& URLString, const Value& parameters,
                                             SuccessBlock success, FailureBlock failure);
    // A multipart POST: the parameters become form parts, then the block appends its own.
    virtual Ref<HKHTTPRequestOperation> POST(const std::string& URLString, const Value& parameters,
                                             HKHTTPRequestSerializer::ConstructingBodyBlock block,
                                             SuccessBlock success, FailureBlock failure);
    virtual Ref<HKHTTPRequestOperation> PUT(const std::string& URLString, const Value& parameters,
                                            SuccessBlock success, FailureBlock failure);
    virtual Ref<HKHTTPRequestOperation> PATCH(const std::string& URLString, const Value& parameters,
                                              SuccessBlock success, FailureBlock failure);
    virtual Ref<HKHTTPRequestOperation> DELETE(const std::string& URLString, const Value& parameters,
                                               SuccessBlock success, FailureBlock failure);

    // Archives the base URL and the two serialisers; decoding applies the trailing-slash rule
    // again.
    void encodeWithCoder(NSCoder& coder) const override;
    // Same class and base URL, copies of the serialisers; everything else as new.
    Ref<NSObject> copyObject() const override;

  protected:
    // The URL string resolved against the base URL.
    std::string resolvedURLString(const std::string& URLString) const;
    // Reports a request that could not be built.
    void failLater(const FailureBlock& failure, const Ref<NSError>& error) const;
    Ref<HKHTTPRequestOperation> enqueue(const Ref<HKHTTPRequestOperation>& operation);

  private:
    static Ref<NSURL> withTrailingSlash(const Ref<NSURL>& url);

    mutable std::mutex mutex_;  // guards what follows
    Ref<NSURL> baseURL_;
    bool shouldUseCredentialStorage_ = true;
    Ref<HKHTTPRequestSerializer> requestSerializer_;
    Ref<HKHTTPResponseSerializer> responseSerializer_;
    Ref<NSOperationQueue> operationQueue_;
    Ref<NSURLCredential> credential_;
    Ref<HKSecurityPolicy> securityPolicy_;
    Ref<HKNetworkReachabilityManager> reachabilityManager_;
    dispatch_queue_t completionQueue_;
    dispatch_group_t completionGroup_;
};
