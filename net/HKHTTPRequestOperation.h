#pragma once
// The connection operation specialised for HTTP: the received body is decoded by a response
// serialiser into a response object, decoding failures become the operation's error, success and
// failure blocks run on the completion queue after decoding has happened off the main thread,
// and a paused download resumes with an HTTP byte range.
//
// The path of one request: the operation queue starts the operation; the network thread runs
// the connection; when it finishes, the completion block hops to the completion queue (main by
// default), which hands decoding to the concurrent queue
// "com.quentaro.networking.http-request.processing"; from there exactly one of the success and
// failure blocks is dispatched back to the completion queue. The response object is decoded at
// most once, under the operation's lock, so concurrent readers see one decode.
//
// A serialiser error wins over a transport error when both exist; a transport error means the
// serialiser is never asked.

#include <functional>

#include "net/HKURLConnectionOperation.h"
#include "net/HKURLResponseSerialization.h"

class HKHTTPRequestOperation;

// The queue bodies are decoded on, and the group success and failure blocks run in when the
// operation has no completion group.
dispatch_queue_t HKHTTPRequestOperationProcessingQueue();
dispatch_group_t HKOperationCompletionGroup();

class HKHTTPRequestOperation : public HKURLConnectionOperation {
  public:
    using SuccessBlock =
        std::function<void(const Ref<HKHTTPRequestOperation>& operation, const Value& responseObject)>;
    using FailureBlock =
        std::function<void(const Ref<HKHTTPRequestOperation>& operation, const Ref<NSError>& error)>;

    explicit HKHTTPRequestOperation(const Ref<NSURLRequest>& request);
    explicit HKHTTPRequestOperation(NSCoder& coder);
    std::string className() const override { return "HKHTTPRequestOperation"; }

    // The HTTP response, when the response is one.
    Ref<NSHTTPURLResponse> HTTPResponse() const { return asKind<NSHTTPURLResponse>(response()); }

    Ref<HKHTTPResponseSerializer> responseSerializer() const;
    // Forgets a decoded object and its error, so the next read decodes with the new serialiser.
    void setResponseSerializer(const Ref<HKHTTPResponseSerializer>& serializer);
    // The decoded body once the operation has finished without error; nil before.
    Value responseObject();
    Ref<NSError> responseSerializationError() const;
    // The serialiser's error when there is one, else the transport's.
    Ref<NSError> error() const override;

    // Either block may be empty; exactly one runs per completion.
    void setCompletionBlockWithSuccess(SuccessBlock success, FailureBlock failure);

    // Also prepares the request for resuming: "Range: bytes=<received>-", with "If-Range" when
    // the response carried an ETag.
    void pause() override;

    void encodeWithCoder(NSCoder& coder) const override;
    Ref<NSObject> copyObject() const override;

  private:
    Ref<HKHTTPResponseSerializer> responseSerializer_;
    Value responseObject_;
    Ref<NSError> responseSerializationError_;
};
