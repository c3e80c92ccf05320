#include "net/HKURLConnectionOperation.h"

#include <mutex>
#include <thread>

#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSObject+Perform.h"
#include "foundation/NSRunLoop.h"
#include "uikit/UIApplication.h"

namespace {

const NSCodableClass<HKURLConnectionOperation> registration("HKURLConnectionOperation");

const char* keyPathFromOperationState(std::int64_t state) {
    switch (state) {
        case HKOperationReadyState:
            return "isReady";
        case HKOperationExecutingState:
            return "isExecuting";
        case HKOperationFinishedState:
            return "isFinished";
        case HKOperationPausedState:
            return "isPaused";
        default:
            return "state";
    }
}

bool stateTransitionIsValid(std::int64_t from, std::int64_t to, bool cancelled) {
    switch (from) {
        case HKOperationReadyState:
            switch (to) {
                case HKOperationPausedState:
                case HKOperationExecutingState:
                    return true;
                case HKOperationFinishedState:
                    return cancelled;
                default:
                    return false;
            }
        case HKOperationExecutingState:
            return to == HKOperationPausedState || to == HKOperationFinishedState;
        case HKOperationFinishedState:
            return false;
        case HKOperationPausedState:
            return to == HKOperationReadyState;
        default:
            return to == HKOperationPausedState || to == HKOperationReadyState ||
                   to == HKOperationExecutingState || to == HKOperationFinishedState;
    }
}

}  // namespace

dispatch_group_t HKURLConnectionOperationCompletionGroup() {
    static const dispatch_group_t group = dispatch_group_create();
    return group;
}

dispatch_queue_t HKURLConnectionOperationCompletionQueue() {
    static const dispatch_queue_t queue =
        dispatch_queue_create("com.quentaro.networking.operation.queue", DISPATCH_QUEUE_CONCURRENT);
    return queue;
}

// ---- the network thread -----------------------------------------------------------------------

void HKURLConnectionOperation::networkRequestThreadEntryPoint() {
    NSThread::currentThread()->setName("HKNetworking");
    auto runLoop = NSRunLoop::currentRunLoop();
    // A source that never fires, so that the loop always has something to wait on.
    runLoop->addPort(NSMachPort::port(), NSDefaultRunLoopMode);
    for (;;) runLoop->run();
}

Ref<NSThread> HKURLConnectionOperation::networkRequestThread() {
    static const Ref<NSThread> thread = [] {
        auto t = make<NSThread>([] { networkRequestThreadEntryPoint(); });
        t->start();
        return t;
    }();
    return thread;
}

// ---- creation ------------------------------------------------------------------------------------

HKURLConnectionOperation::HKURLConnectionOperation(const Ref<NSURLRequest>& request)
    : lock_(make<NSRecursiveLock>()),
      runLoopModes_{NSRunLoopCommonModes},
      request_(request),
      securityPolicy_(HKSecurityPolicy::defaultPolicy()) {
    lock_->setName(std::string("com.quentaro.networking.operation.lock"));
    detail::HKRegisterServerTrustFactory();
}

HKURLConnectionOperation::HKURLConnectionOperation(NSCoder& coder)
    : HKURLConnectionOperation(coder.decodeObjectOfClassAs<NSURLRequest>("NSURLRequest", "request")) {
    decodeState(coder);
}

void HKURLConnectionOperation::decodeState(NSCoder& coder) {
    setState(static_cast<HKConnectionOperationState>(coder.decodeInt64ForKey("state")));
    std::lock_guard guard(*lock_);
    response_ = coder.decodeObjectOfClassAs<NSHTTPURLResponse>("NSHTTPURLResponse", "response");
    error_ = coder.decodeObjectOfClassAs<NSError>("NSError", "error");
    Value data = coder.decodeObjectOfClass("NSData", "responseData");
    if (const NSData* d = data.data()) responseData_ = *d;
    totalBytesRead_.store(coder.decodeInt64ForKey("totalBytesRead"));
}

HKURLConnectionOperation::~HKURLConnectionOperation() {
    if (outputStream_) outputStream_->close();
    if (backgroundTaskIdentifier_)
        UIApplication::sharedApplication()->endBackgroundTask(backgroundTaskIdentifier_);
}

std::string HKURLConnectionOperation::description() const {
    std::lock_guard guard(*lock_);
    return NSString::stringWithFormat("<%@: %p, state: %@, cancelled: %@ request: %@, response: %@>",
                                      className(), static_cast<const void*>(this),
                                      keyPathFromOperationState(state_.load()), isCancelled() ? "YES" : "NO",
                                      request_ ? request_->description() : std::string("(null)"),
                                      response_ ? response_->description() : std::string("(null)"));
}

// ---- accessors -----------------------------------------------------------------------------------

Ref<NSURLRequest> HKURLConnectionOperation::request() const {
    std::lock_guard guard(*lock_);
    return request_;
}

void HKURLConnectionOperation::setRequest(const Ref<NSURLRequest>& request) {
    std::lock_guard guard(*lock_);
    request_ = request;
}

Ref<NSURLResponse> HKURLConnectionOperation::response() const {
    std::lock_guard guard(*lock_);
    return response_;
}

Ref<NSError> HKURLConnectionOperation::error() const {
    std::lock_guard guard(*lock_);
    return error_;
}

std::optional<NSData> HKURLConnectionOperation::responseData() const {
    std::lock_guard guard(*lock_);
    return responseData_;
}

void HKURLConnectionOperation::setResponseData(const std::optional<NSData>& data) {
    std::lock_guard guard(*lock_);
    responseData_ = data;
}

NSStringEncoding HKURLConnectionOperation::responseStringEncoding() {
    std::lock_guard guard(*lock_);
    if (responseStringEncoding_ == 0 && response_) {
        NSStringEncoding encoding = NSUTF8StringEncoding;
        if (auto name = response_->textEncodingName()) {
            CFStringEncoding cf = CFStringConvertIANACharSetNameToEncoding(*name);
            if (cf != kCFStringEncodingInvalidId) encoding = CFStringConvertEncodingToNSStringEncoding(cf);
        }
        responseStringEncoding_ = encoding;
    }
    return responseStringEncoding_;
}

std::optional<std::string> HKURLConnectionOperation::responseString() {
    std::lock_guard guard(*lock_);
    if (!responseString_ && response_ && responseData_) {
        responseString_ = NSString::initWithData(*responseData_, responseStringEncoding());
    }
    return responseString_;
}

bool HKURLConnectionOperation::shouldUseCredentialStorage() const {
    std::lock_guard guard(*lock_);
    return shouldUseCredentialStorage_;
}

void HKURLConnectionOperation::setShouldUseCredentialStorage(bool value) {
    std::lock_guard guard(*lock_);
    shouldUseCredentialStorage_ = value;
}

Ref<NSURLCredential> HKURLConnectionOperation::credential() const {
    std::lock_guard guard(*lock_);
    return credential_;
}

void HKURLConnectionOperation::setCredential(const Ref<NSURLCredential>& credential) {
    std::lock_guard guard(*lock_);
    credential_ = credential;
}

Ref<HKSecurityPolicy> HKURLConnectionOperation::securityPolicy() const {
    std::lock_guard guard(*lock_);
    return securityPolicy_;
}

void HKURLConnectionOperation::setSecurityPolicy(const Ref<HKSecurityPolicy>& policy) {
    std::lock_guard guard(*lock_);
    securityPolicy_ = policy;
}

std::set<std::string> HKURLConnectionOperation::runLoopModes() const {
    std::lock_guard guard(*lock_);
    return runLoopModes_;
}

void HKURLConnectionOperation::setRunLoopModes(std::set<std::string> modes) {
    std::lock_guard guard(*lock_);
    runLoopModes_ = std::move(modes);
}

Ref<NSInputStream> HKURLConnectionOperation::inputStream() const {
    auto r = request();
    return r ? r->HTTPBodyStream() : nullptr;
}

void HKURLConnectionOperation::setInputStream(const Ref<NSInputStream>& stream) {
    std::lock_guard guard(*lock_);
    auto copy = request_ ? request_->mutableCopy() : make<NSMutableURLRequest>();
    copy->setHTTPBodyStream(stream);
    request_ = copy;
}

Ref<NSOutputStream> HKURLConnectionOperation::outputStream() {
    std::lock_guard guard(*lock_);
    if (!outputStream_) {
        outputStream_ = NSOutputStream::outputStreamToMemory();
        collectsInMemory_ = true;
    }
    return outputStream_;
}

void HKURLConnectionOperation::setOutputStream(const Ref<NSOutputStream>& stream) {
    std::lock_guard guard(*lock_);
    if (stream == outputStream_) return;
    if (outputStream_) outputStream_->close();
    outputStream_ = stream;
    collectsInMemory_ = false;  // the caller's stream takes what comes, however much
}

dispatch_queue_t HKURLConnectionOperation::completionQueue() const {
    std::lock_guard guard(*lock_);
    return completionQueue_;
}

void HKURLConnectionOperation::setCompletionQueue(const dispatch_queue_t& queue) {
    std::lock_guard guard(*lock_);
    completionQueue_ = queue;
}

dispatch_group_t HKURLConnectionOperation::completionGroup() const {
    std::lock_guard guard(*lock_);
    return completionGroup_;
}

void HKURLConnectionOperation::setCompletionGroup(const dispatch_group_t& group) {
    std::lock_guard guard(*lock_);
    completionGroup_ = group;
}

Dictionary HKURLConnectionOperation::userInfo() const {
    std::lock_guard guard(*lock_);
    return userInfo_;
}

void HKURLConnectionOperation::setUserInfo(const Dictionary& userInfo) {
    std::lock_guard guard(*lock_);
    userInfo_ = userInfo;
}

unsigned long HKURLConnectionOperation::backgroundTaskIdentifier() const {
    std::lock_guard guard(*lock_);
    return backgroundTaskIdentifier_;
}

void HKURLConnectionOperation::setUploadProgressBlock(UploadProgressBlock block) {
    std::lock_guard guard(*lock_);
    uploadProgress_ = std::move(block);
}

void HKURLConnectionOperation::setDownloadProgressBlock(DownloadProgressBlock block) {
    std::lock_guard guard(*lock_);
    downloadProgress_ = std::move(block);
}

void HKURLConnectionOperation::setWillSendRequestForAuthenticationChallengeBlock(
    AuthenticationChallengeBlock block) {
    std::lock_guard guard(*lock_);
    authenticationChallenge_ = std::move(block);
}

void HKURLConnectionOperation::setCacheResponseBlock(CacheResponseBlock block) {
    std::lock_guard guard(*lock_);
    cacheResponse_ = std::move(block);
}

void HKURLConnectionOperation::setRedirectResponseBlock(RedirectResponseBlock block) {
    std::lock_guard guard(*lock_);
    redirectResponse_ = std::move(block);
}

void HKURLConnectionOperation::setShouldExecuteAsBackgroundTaskWithExpirationHandler(
    std::function<void()> handler) {
    std::lock_guard guard(*lock_);
    if (backgroundTaskIdentifier_) return;
    auto application = UIApplication::sharedApplication();
    Weak<HKURLConnectionOperation> weak = selfAs<HKURLConnectionOperation>();
    backgroundTaskIdentifier_ = application->beginBackgroundTaskWithExpirationHandler([weak, handler] {
        if (handler) handler();
        if (auto operation = weak.lock()) {
            operation->cancel();
            std::lock_guard inner(*operation->lock_);
            UIApplication::sharedApplication()->endBackgroundTask(operation->backgroundTaskIdentifier_);
            operation->backgroundTaskIdentifier_ = 0;
        }
    });
}

void HKURLConnectionOperation::setCompletionBlock(std::function<void()> block) {
    std::lock_guard guard(*lock_);
    if (!block) {
        completionBlock_ = nullptr;
        return;
    }
    Weak<HKURLConnectionOperation> weak = selfAs<HKURLConnectionOperation>();
    completionBlock_ = [weak, block] {
        auto operation = weak.lock();
        dispatch_group_t group = operation ? operation->completionGroup() : nullptr;
        if (!group) group = HKURLConnectionOperationCompletionGroup();
        dispatch_queue_t queue = operation ? operation->completionQueue() : nullptr;
        if (!queue) queue = dispatch_get_main_queue();
        // The operation lives until its block has run: blocks that hold it weakly (so that an
        // operation never started is freed) still find it.
        dispatch_group_async(group, queue, [block, operation = std::move(operation)] { block(); });
        // Releases the block and everything it holds once it has run.
        dispatch_group_notify(group, HKURLConnectionOperationCompletionQueue(), [weak] {
            if (auto strong = weak.lock()) strong->setCompletionBlock(nullptr);
        });
    };
}

std::function<void()> HKURLConnectionOperation::completionBlock() const {
    std::lock_guard guard(*lock_);
    return completionBlock_;
}

// ---- state ----------------------------------------------------------------------------------------

bool HKURLConnectionOperation::isReady() const {
    return state_.load() == HKOperationReadyState && NSOperation::isReady();
}

void HKURLConnectionOperation::setState(HKConnectionOperationState state) {
    std::int64_t current = state_.load();
    if (!stateTransitionIsValid(current, state, isCancelled())) return;
    std::lock_guard guard(*lock_);
    std::string newKey = keyPathFromOperationState(state);
    std::string oldKey = keyPathFromOperationState(current);
    KVO::willChangeValueForKey(*this, newKey);
    KVO::willChangeValueForKey(*this, oldKey);
    state_.store(state);
    KVO::didChangeValueForKey(*this, oldKey);
    KVO::didChangeValueForKey(*this, newKey);
    if (state == HKOperationFinishedState) {
        // Runs once: the block is taken out before it runs.
        std::function<void()> completion = std::move(completionBlock_);
        completionBlock_ = nullptr;
        if (completion) completion();
    }
}

Value HKURLConnectionOperation::valueForKey(const std::string& key) const {
    if (key == "isPaused") return Value(isPaused());
    if (key == "state") return Value(static_cast<long long>(state_.load()));
    return NSOperation::valueForKey(key);
}

void HKURLConnectionOperation::performOnNetworkThread(std::function<void()> action) {
    auto modes = runLoopModes();
    performSelectorOnThread(self(), networkRequestThread(), std::move(action), false,
                            std::vector<std::string>(modes.begin(), modes.end()));
}

void HKURLConnectionOperation::postNotification(const char* name) {
    auto self = selfAs<HKURLConnectionOperation>();
    std::string notification = name;
    dispatch_async(dispatch_get_main_queue(), [self, notification] {
        NSNotificationCenter::defaultCenter()->postNotificationName(notification, self);
    });
}

void HKURLConnectionOperation::start() {
    std::lock_guard guard(*lock_);
    auto self = selfAs<HKURLConnectionOperation>();
    if (isCancelled()) {
        performOnNetworkThread([self] { self->cancelConnection(); });
    } else if (isReady()) {
        setState(HKOperationExecutingState);
        performOnNetworkThread([self] { self->operationDidStart(); });
    }
}

void HKURLConnectionOperation::operationDidStart() {
    {
        std::lock_guard guard(*lock_);
        if (!isCancelled()) {
            auto delegate =
                std::static_pointer_cast<NSURLConnectionDelegate>(selfAs<HKURLConnectionOperation>());
            connection_ = make<NSURLConnection>(request_, delegate, false);
            auto runLoop = NSRunLoop::currentRunLoop();
            auto stream = outputStream();
            for (const auto& mode : runLoopModes_) {
                connection_->scheduleInRunLoop(runLoop, mode);
                stream->scheduleInRunLoop(runLoop, mode);
            }
            stream->open();
            connection_->start();
        }
    }
    postNotification(HKNetworkingOperationDidStartNotification);
}

void HKURLConnectionOperation::cancel() {
    std::lock_guard guard(*lock_);
    if (isFinished() || isCancelled()) return;
    NSOperation::cancel();
    if (isExecuting()) {
        auto self = selfAs<HKURLConnectionOperation>();
        performOnNetworkThread([self] { self->cancelConnection(); });
    }
}

void HKURLConnectionOperation::cancelConnection() {
    Dictionary info = Dictionary::mutableDictionary();
    auto r = request();
    if (r && r->URL()) info.setObject(NSURLErrorFailingURLErrorKey, Value(r->URL()));
    auto error = NSError::errorWithDomain(NSURLErrorDomain, NSURLErrorCancelled, info);
    if (isFinished()) return;
    Ref<NSURLConnection> connection;
    {
        std::lock_guard guard(*lock_);
        connection = connection_;
    }
    if (connection) {
        connection->cancel();
        connectionDidFailWithError(connection, error);
    } else {
        {
            std::lock_guard guard(*lock_);
            error_ = error;
        }
        finish();
    }
}

void HKURLConnectionOperation::finish() {
    {
        std::lock_guard guard(*lock_);
        setState(HKOperationFinishedState);
    }
    postNotification(HKNetworkingOperationDidFinishNotification);
}

void HKURLConnectionOperation::pause() {
    if (isPaused() || isFinished() || isCancelled()) return;
    std::lock_guard guard(*lock_);
    if (isExecuting()) {
        auto self = selfAs<HKURLConnectionOperation>();
        performOnNetworkThread([self] { self->operationDidPause(); });
        postNotification(HKNetworkingOperationDidFinishNotification);
    }
    setState(HKOperationPausedState);
}

void HKURLConnectionOperation::operationDidPause() {
    std::lock_guard guard(*lock_);
    if (connection_) {
        connection_->cancel();
        connection_.reset();
    }
}

void HKURLConnectionOperation::resume() {
    if (!isPaused()) return;
    std::lock_guard guard(*lock_);
    setState(HKOperationReadyState);
    start();
}

// ---- batches --------------------------------------------------------------------------------------

std::vector<Ref<NSOperation>> HKURLConnectionOperation::batchOfRequestOperations(
    const std::vector<Ref<HKURLConnectionOperation>>& operations, BatchProgressBlock progressBlock,
    BatchCompletionBlock completionBlock) {
    if (operations.empty()) {
        auto operation = NSBlockOperation::blockOperationWithBlock([completionBlock] {
            dispatch_async(dispatch_get_main_queue(), [completionBlock] {
                if (completionBlock) completionBlock({});
            });
        });
        return {operation};
    }

    auto group = dispatch_group_create();
    auto batchedOperation = NSBlockOperation::blockOperationWithBlock([group, operations, completionBlock] {
        dispatch_group_notify(group, dispatch_get_main_queue(), [operations, completionBlock] {
            if (completionBlock) completionBlock(operations);
        });
    });

    // Each operation holds the array weakly so that no operation keeps the batch alive.
    auto weakOperations = std::make_shared<std::vector<Weak<HKURLConnectionOperation>>>();
    for (const auto& operation : operations) weakOperations->push_back(operation);

    for (const auto& operation : operations) {
        if (!operation) continue;
        operation->setCompletionGroup(group);
        auto originalCompletionBlock = operation->completionBlock();
        Weak<HKURLConnectionOperation> weakOperation = operation;
        operation->setCompletionBlock(
            [weakOperation, originalCompletionBlock, weakOperations, progressBlock, group] {
                auto strong = weakOperation.lock();
                dispatch_queue_t queue = strong ? strong->completionQueue() : nullptr;
                if (!queue) queue = dispatch_get_main_queue();
                dispatch_group_async(group, queue,
                                     [originalCompletionBlock, weakOperations, progressBlock, group] {
                                         if (originalCompletionBlock) originalCompletionBlock();
                                         std::size_t finished = 0;
                                         for (const auto& weak : *weakOperations) {
                                             auto op = weak.lock();
                                             // An operation that is gone has finished and been let go of.
                                             if (!op || op->isFinished()) ++finished;
                                         }
                                         if (progressBlock) progressBlock(finished, weakOperations->size());
                                         dispatch_group_leave(group);
                                     });
            });
        dispatch_group_enter(group);
        batchedOperation->addDependency(operation);
    }

    std::vector<Ref<NSOperation>> all(operations.begin(), operations.end());
    all.push_back(batchedOperation);
    return all;
}

// ---- coding and copying -----------------------------------------------------------------------------

void HKURLConnectionOperation::encodeWithCoder(NSCoder& coder) const {
    // Archiving takes a snapshot of a live operation: it stops it first, as the platform does.
    const_cast<HKURLConnectionOperation*>(this)->pause();
    std::lock_guard guard(*lock_);
    coder.encodeObject(Value(request_), "request");
    std::int64_t state = state_.load();
    if (state == HKOperationExecutingState || state == HKOperationPausedState) state = HKOperationReadyState;
    coder.encodeInt64(state, "state");
    coder.encodeObject(Value(response_), "response");
    coder.encodeObject(Value(error_), "error");
    if (responseData_) coder.encodeObject(Value(*responseData_), "responseData");
    coder.encodeInt64(totalBytesRead_.load(), "totalBytesRead");
}

void HKURLConnectionOperation::copyBaseStateInto(HKURLConnectionOperation& target) const {
    std::lock_guard guard(*lock_);
    std::lock_guard targetGuard(*target.lock_);
    target.uploadProgress_ = uploadProgress_;
    target.downloadProgress_ = downloadProgress_;
    target.authenticationChallenge_ = authenticationChallenge_;
    target.cacheResponse_ = cacheResponse_;
    target.redirectResponse_ = redirectResponse_;
    target.completionQueue_ = completionQueue_;
    target.completionGroup_ = completionGroup_;
}

Ref<NSObject> HKURLConnectionOperation::copyObject() const {
    auto copy = make<HKURLConnectionOperation>(request());
    copyBaseStateInto(*copy);
    return copy;
}

// ---- connection delegate ------------------------------------------------------------------------------

void HKURLConnectionOperation::connectionWillSendRequestForAuthenticationChallenge(
    const Ref<NSURLConnection>& connection, const Ref<NSURLAuthenticationChallenge>& challenge) {
    AuthenticationChallengeBlock block;
    Ref<HKSecurityPolicy> policy;
    Ref<NSURLCredential> credential;
    {
        std::lock_guard guard(*lock_);
        block = authenticationChallenge_;
        policy = securityPolicy_;
        credential = credential_;
    }
    if (block) {
        block(connection, challenge);
        return;
    }
    const auto& space = challenge->protectionSpace();
    const auto& sender = challenge->sender();
    if (!sender) return;
    if (space->authenticationMethod() == NSURLAuthenticationMethodServerTrust) {
        auto trust = detail::HKServerTrustFromObject(space->serverTrust(), space->host());
        if (policy && trust && policy->evaluateServerTrust(trust, space->host())) {
            sender->useCredential(NSURLCredential::credentialForTrust(space->serverTrust()), challenge);
        } else {
            sender->cancelAuthenticationChallenge(challenge);
        }
        return;
    }
    if (challenge->previousFailureCount() == 0 && credential) {
        sender->useCredential(credential, challenge);
    } else {
        sender->continueWithoutCredentialForAuthenticationChallenge(challenge);
    }
}

std::optional<bool>
HKURLConnectionOperation::connectionShouldUseCredentialStorage(const Ref<NSURLConnection>&) {
    return shouldUseCredentialStorage();
}

std::optional<Ref<NSURLRequest>>
HKURLConnectionOperation::connectionWillSendRequest(const Ref<NSURLConnection>& connection,
                                                    const Ref<NSURLRequest>& request,
                                                    const Ref<NSURLResponse>& redirectResponse) {
    RedirectResponseBlock block;
    {
        std::lock_guard guard(*lock_);
        block = redirectResponse_;
    }
    if (block) return block(connection, request, redirectResponse);
    return request;
}

void HKURLConnectionOperation::connectionDidSendBodyData(const Ref<NSURLConnection>&, NSInteger bytesWritten,
                                                         NSInteger totalBytesWritten,
                                                         NSInteger totalBytesExpectedToWrite) {
    UploadProgressBlock block;
    {
        std::lock_guard guard(*lock_);
        block = uploadProgress_;
    }
    if (!block) return;
    dispatch_async(dispatch_get_main_queue(),
                   [block, bytesWritten, totalBytesWritten, totalBytesExpectedToWrite] {
                       block(bytesWritten, totalBytesWritten, totalBytesExpectedToWrite);
                   });
}

void HKURLConnectionOperation::connectionDidReceiveResponse(const Ref<NSURLConnection>& connection,
                                                            const Ref<NSURLResponse>& response) {
    bool refuse;
    {
        std::lock_guard guard(*lock_);
        response_ = response;
        refuse = (collectsInMemory_ || !outputStream_) && response &&
                 response->expectedContentLength() > static_cast<long long>(NSURLMaximumInMemoryBodyLength());
    }
    if (refuse) refuseOversizedBody(connection);
}

void HKURLConnectionOperation::refuseOversizedBody(const Ref<NSURLConnection>& connection) {
    if (connection) connection->cancel();
    auto r = request();
    connectionDidFailWithError(connection, NSURLMakeDataLengthExceedsMaximumError(r ? r->URL() : nullptr));
}

void HKURLConnectionOperation::connectionDidReceiveData(const Ref<NSURLConnection>& connection,
                                                        const NSData& data) {
    if (isFinished()) return;  // refused already; the connection is cancelled
    auto stream = outputStream();
    const std::uint8_t* bytes = data.bytes();
    const NSUInteger length = data.length();
    bool inMemory;
    {
        std::lock_guard guard(*lock_);
        inMemory = collectsInMemory_;
    }
    // The memory stream holds the whole body: bounded, unlike a stream the caller chose.
    if (inMemory) {
        if (bytesHeld_ + length > NSURLMaximumInMemoryBodyLength()) {
            refuseOversizedBody(connection);
            return;
        }
        bytesHeld_ += length;
    }
    for (;;) {
        if (stream->hasSpaceAvailable()) {
            NSUInteger written = 0;
            while (written < length) {
                NSInteger n = stream->write(bytes + written, length - written);
                if (n <= 0) break;
                written += static_cast<NSUInteger>(n);
            }
            if (written < length) {
                // A stream that refuses bytes would leave a silently shortened body: fail instead.
                auto error = stream->streamError();
                if (!error) error = NSError::errorWithDomain(NSURLErrorDomain, NSURLErrorCannotWriteToFile);
                if (connection) connection->cancel();
                connectionDidFailWithError(connection, error);
                return;
            }
            break;
        }
        if (auto error = stream->streamError()) {
            if (connection) connection->cancel();
            connectionDidFailWithError(connection, error);
            return;
        }
        auto status = stream->streamStatus();
        if (status != NSStreamStatusOpen && status != NSStreamStatusOpening &&
            status != NSStreamStatusWriting) {
            // Closed or never opened: it will never have space, so waiting would hang the thread.
            if (connection) connection->cancel();
            connectionDidFailWithError(
                connection, NSError::errorWithDomain(NSURLErrorDomain, NSURLErrorCannotWriteToFile));
            return;
        }
        std::this_thread::yield();
    }

    DownloadProgressBlock block;
    Ref<NSURLResponse> response;
    {
        std::lock_guard guard(*lock_);
        block = downloadProgress_;
        response = response_;
    }
    if (!block) {
        totalBytesRead_.fetch_add(static_cast<std::int64_t>(length), std::memory_order_acq_rel);
        return;
    }
    auto self = selfAs<HKURLConnectionOperation>();
    std::int64_t expected = response ? response->expectedContentLength() : NSURLResponseUnknownLength;
    dispatch_async(dispatch_get_main_queue(), [self, block, length, expected] {
        std::int64_t total =
            self->totalBytesRead_.fetch_add(static_cast<std::int64_t>(length), std::memory_order_acq_rel) +
            static_cast<std::int64_t>(length);
        block(length, total, expected);
    });
}

void HKURLConnectionOperation::connectionDidFinishLoading(const Ref<NSURLConnection>&) {
    {
        std::lock_guard guard(*lock_);
        if (outputStream_) {
            Value written = outputStream_->propertyForKey(NSStreamDataWrittenToMemoryStreamKey);
            if (const NSData* data = written.data()) responseData_ = *data;
            outputStream_->close();
            if (responseData_) outputStream_.reset();
        }
        connection_.reset();
    }
    finish();
}

void HKURLConnectionOperation::connectionDidFailWithError(const Ref<NSURLConnection>&,
                                                          const Ref<NSError>& error) {
    {
        std::lock_guard guard(*lock_);
        error_ = error;
        if (outputStream_) {
            outputStream_->close();
            if (responseData_) outputStream_.reset();
        }
        connection_.reset();
    }
    finish();
}

std::optional<Ref<NSCachedURLResponse>>
HKURLConnectionOperation::connectionWillCacheResponse(const Ref<NSURLConnection>& connection,
                                                      const Ref<NSCachedURLResponse>& cachedResponse) {
    CacheResponseBlock block;
    {
        std::lock_guard guard(*lock_);
        block = cacheResponse_;
    }
    if (block) return block(connection, cachedResponse);
    if (isCancelled()) return Ref<NSCachedURLResponse>();
    return cachedResponse;
}
