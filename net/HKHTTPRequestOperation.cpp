#include "net/HKHTTPRequestOperation.h"

namespace {

const NSCodableClass<HKHTTPRequestOperation> registration("HKHTTPRequestOperation",
                                                          "HKURLConnectionOperation");

}  // namespace

dispatch_queue_t HKHTTPRequestOperationProcessingQueue() {
    static const dispatch_queue_t queue =
        dispatch_queue_create("com.quentaro.networking.http-request.processing", DISPATCH_QUEUE_CONCURRENT);
    return queue;
}

dispatch_group_t HKOperationCompletionGroup() {
    static const dispatch_group_t group = dispatch_group_create();
    return group;
}

HKHTTPRequestOperation::HKHTTPRequestOperation(const Ref<NSURLRequest>& request)
    : HKURLConnectionOperation(request), responseSerializer_(HKHTTPResponseSerializer::serializer()) {}

HKHTTPRequestOperation::HKHTTPRequestOperation(NSCoder& coder)
    : HKURLConnectionOperation(coder), responseSerializer_(HKHTTPResponseSerializer::serializer()) {
    if (auto serializer = coder.decodeObjectOfClassAs<HKHTTPResponseSerializer>("HKHTTPResponseSerializer",
                                                                                "responseSerializer")) {
        setResponseSerializer(serializer);
    }
}

Ref<HKHTTPResponseSerializer> HKHTTPRequestOperation::responseSerializer() const {
    std::lock_guard guard(lock());
    return responseSerializer_;
}

void HKHTTPRequestOperation::setResponseSerializer(const Ref<HKHTTPResponseSerializer>& serializer) {
    std::lock_guard guard(lock());
    responseSerializer_ = serializer;
    responseObject_ = Value();
    responseSerializationError_.reset();
}

Ref<NSError> HKHTTPRequestOperation::responseSerializationError() const {
    std::lock_guard guard(lock());
    return responseSerializationError_;
}

Ref<NSError> HKHTTPRequestOperation::error() const {
    std::lock_guard guard(lock());
    if (responseSerializationError_) return responseSerializationError_;
    return HKURLConnectionOperation::error();
}

Value HKHTTPRequestOperation::responseObject() {
    std::lock_guard guard(lock());
    if (responseObject_.isNil() && isFinished() && !error() && responseSerializer_) {
        Ref<NSError> serializationError;
        responseObject_ =
            responseSerializer_->responseObjectForResponse(response(), responseData(), &serializationError);
        if (serializationError) responseSerializationError_ = serializationError;
    }
    return responseObject_;
}

void HKHTTPRequestOperation::setCompletionBlockWithSuccess(SuccessBlock success, FailureBlock failure) {
    // The stored block holds the operation weakly: an operation that is made and never started
    // must not keep itself alive through it. Once it runs, the operation is alive (the base class
    // keeps it until the block has run), and the blocks dispatched from here hold it, so the
    // caller's blocks always receive it.
    Weak<HKHTTPRequestOperation> weak = selfAs<HKHTTPRequestOperation>();
    setCompletionBlock([weak, success, failure] {
        auto self = weak.lock();
        if (!self) return;
        dispatch_group_t group = self->completionGroup();
        if (group) dispatch_group_enter(group);
        dispatch_async(HKHTTPRequestOperationProcessingQueue(), [self, success, failure, group] {
            dispatch_group_t callbackGroup = group ? group : HKOperationCompletionGroup();
            dispatch_queue_t queue = self->completionQueue();
            if (!queue) queue = dispatch_get_main_queue();
            auto fail = [&] {
                if (failure)
                    dispatch_group_async(callbackGroup, queue,
                                         [self, failure] { failure(self, self->error()); });
            };
            if (self->error()) {
                fail();
            } else {
                Value object = self->responseObject();
                if (self->error()) {
                    fail();
                } else if (success) {
                    dispatch_group_async(callbackGroup, queue,
                                         [self, success, object] { success(self, object); });
                }
            }
            if (group) dispatch_group_leave(group);
        });
    });
}

void HKHTTPRequestOperation::pause() {
    HKURLConnectionOperation::pause();
    if (!isPaused()) return;

    auto stream = outputStream();
    std::uint64_t offset = 0;
    Value fileOffset = stream->propertyForKey(NSStreamFileCurrentOffsetKey);
    if (fileOffset.isNumber()) {
        offset = fileOffset.unsignedLongLongValue();
    } else {
        Value written = stream->propertyForKey(NSStreamDataWrittenToMemoryStreamKey);
        if (const NSData* data = written.data()) offset = data->length();
    }

    auto current = request();
    auto mutableRequest = current ? current->mutableCopy() : make<NSMutableURLRequest>();
    if (auto http = HTTPResponse()) {
        Value etag = http->allHeaderFields().objectForKey("ETag");
        if (etag.isString()) mutableRequest->setValue(*etag.string(), "If-Range");
    }
    mutableRequest->setValue(
        NSString::stringWithFormat("bytes=%llu-", static_cast<unsigned long long>(offset)), "Range");
    setRequest(mutableRequest);
}

void HKHTTPRequestOperation::encodeWithCoder(NSCoder& coder) const {
    HKURLConnectionOperation::encodeWithCoder(coder);
    coder.encodeObject(Value(responseSerializer()), "responseSerializer");
}

Ref<NSObject> HKHTTPRequestOperation::copyObject() const {
    auto copy = make<HKHTTPRequestOperation>(request());
    copyBaseStateInto(*copy);
    if (auto serializer = responseSerializer()) {
        copy->setResponseSerializer(asKind<HKHTTPResponseSerializer>(serializer->copyObject()));
    }
    return copy;
}
