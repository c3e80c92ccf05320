#include "network/NSURLSessionTask.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSPathUtilities.h"
#include "foundation/NSPropertyListSerialization.h"
#include "foundation/NSString.h"
#include "foundation/NSUUID.h"
#include "network/NSURLConnection.h"
#include "network/NSURLSession.h"
#include "network/NSURLTransport.h"
#include "network/NetworkInternal.h"

namespace {

constexpr char kTemporaryPrefix[] = "URLSessionDownload_";
constexpr char kTemporarySuffix[] = ".tmp";
constexpr long kResumeInfoVersion = 1;
// A request body stream that failed or cannot be sent.
constexpr long kBodyStreamExhausted = -1021;

std::mutex hooksMutex;
std::vector<NSURLSessionTask::MethodHook> resumeHooks;
std::vector<NSURLSessionTask::MethodHook> suspendHooks;

std::string urlTextOf(const Ref<NSURLRequest>& request) {
    return request && request->URL() ? request->URL()->absoluteString() : std::string();
}

std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// "bytes <first>-<last>/<total or *>": the first byte and the total (-1 for "*").
std::optional<std::pair<std::int64_t, std::int64_t>> parseContentRange(const std::string& field) {
    std::string_view s = detail::trimWhitespace(field);
    if (s.size() < 6 || !detail::equalsIgnoringCase(s.substr(0, 6), "bytes ")) return std::nullopt;
    s.remove_prefix(6);
    auto number = [&](std::int64_t& out) {
        std::size_t i = 0;
        out = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            if (out > (INT64_MAX - 9) / 10) return false;
            out = out * 10 + (s[i] - '0');
            ++i;
        }
        if (i == 0) return false;
        s.remove_prefix(i);
        return true;
    };
    std::int64_t first = 0, last = 0, total = -1;
    if (!number(first) || s.empty() || s.front() != '-') return std::nullopt;
    s.remove_prefix(1);
    if (!number(last) || s.empty() || s.front() != '/' || last < first) return std::nullopt;
    s.remove_prefix(1);
    if (s == "*") {
        total = -1;
    } else if (!number(total) || !s.empty() || total <= last) {
        return std::nullopt;
    }
    return std::make_pair(first, total);
}

}  // namespace

// ---- resume data -----------------------------------------------------------------------------------
namespace detail {

std::string makeDownloadTemporaryPath() {
    std::string directory = withoutTrailingSlash(NSTemporaryDirectory());
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    return directory + "/" + kTemporaryPrefix + make<NSUUID>()->UUIDString() + kTemporarySuffix;
}

bool isDownloadTemporaryPath(const std::string& path) {
    std::string directory = withoutTrailingSlash(NSTemporaryDirectory());
    if (path.size() <= directory.size() + 1 || path.compare(0, directory.size(), directory) != 0 ||
        path[directory.size()] != '/') {
        return false;
    }
    std::string name = path.substr(directory.size() + 1);
    if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos) return false;
    std::string_view prefix = kTemporaryPrefix, suffix = kTemporarySuffix;
    if (name.size() <= prefix.size() + suffix.size()) return false;
    if (name.compare(0, prefix.size(), prefix) != 0) return false;
    if (name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) return false;
    std::string_view middle(name.data() + prefix.size(), name.size() - prefix.size() - suffix.size());
    return std::all_of(middle.begin(), middle.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f') || c == '-';
    });
}

std::optional<NSData> encodeDownloadResumeInfo(const DownloadResumeInfo& info) {
    Dictionary d = Dictionary::mutableDictionary();
    d.setObject("NSURLSessionResumeInfoVersion", NSNumber::numberWithLong(kResumeInfoVersion));
    d.setObject("NSURLSessionDownloadURL", info.URL);
    d.setObject("NSURLSessionResumeBytesReceived", NSNumber::numberWithLongLong(info.bytesReceived));
    d.setObject("NSURLSessionResumeInfoLocalPath", info.localPath);
    if (info.entityTag) d.setObject("NSURLSessionResumeEntityTag", *info.entityTag);
    if (info.lastModified) d.setObject("NSURLSessionResumeServerDownloadDate", *info.lastModified);
    d.setObject("NSURLSessionResumeOriginalRequestHeaders", info.headers.copy());
    return NSPropertyListSerialization::dataWithPropertyList(d, NSPropertyListXMLFormat_v1_0, 0, nullptr);
}

std::optional<DownloadResumeInfo> decodeDownloadResumeInfo(const NSData& data, std::string* reason) {
    auto refuse = [&](const char* why) -> std::optional<DownloadResumeInfo> {
        if (reason) *reason = why;
        return std::nullopt;
    };
    if (data.empty()) return refuse("The resume data is empty.");
    Value plist = NSPropertyListSerialization::propertyListWithData(data, 0, nullptr, nullptr);
    const Dictionary* d = plist.dictionary();
    if (!d) return refuse("The resume data is not a dictionary.");
    const Value& version = (*d)["NSURLSessionResumeInfoVersion"];
    if (!version.isNumber() || version.longLongValue() != kResumeInfoVersion) {
        return refuse("The resume data has an unknown version.");
    }
    DownloadResumeInfo info;
    const Value& url = (*d)["NSURLSessionDownloadURL"];
    if (!url.isString()) return refuse("The resume data has no URL.");
    auto parsed = NSURL::URLWithString(*url.string());
    auto scheme = parsed ? parsed->scheme() : std::nullopt;
    if (!parsed || !scheme ||
        !(detail::equalsIgnoringCase(*scheme, "http") || detail::equalsIgnoringCase(*scheme, "https")) ||
        !parsed->host() || parsed->host()->empty()) {
        return refuse("The resume data's URL is not an HTTP URL.");
    }
    info.URL = *url.string();
    const Value& received = (*d)["NSURLSessionResumeBytesReceived"];
    if (!received.isNumber() || received.number()->isReal() || received.longLongValue() < 0) {
        return refuse("The resume data has no byte count.");
    }
    info.bytesReceived = received.longLongValue();
    const Value& path = (*d)["NSURLSessionResumeInfoLocalPath"];
    if (!path.isString() || !isDownloadTemporaryPath(*path.string())) {
        return refuse("The resume data names no temporary file of a download.");
    }
    info.localPath = *path.string();
    const Value& tag = (*d)["NSURLSessionResumeEntityTag"];
    if (tag.isString() && detail::isValidHeaderValue(*tag.string())) info.entityTag = *tag.string();
    const Value& date = (*d)["NSURLSessionResumeServerDownloadDate"];
    if (date.isString() && detail::isValidHeaderValue(*date.string())) info.lastModified = *date.string();
    if (!info.entityTag && !info.lastModified) return refuse("The resume data has no validator.");
    if (const Dictionary* headers = (*d)["NSURLSessionResumeOriginalRequestHeaders"].dictionary()) {
        for (const auto& [name, value] : *headers) {
            if (value.isString() && detail::isValidHeaderName(name) &&
                detail::isValidHeaderValue(*value.string())) {
                info.headers.setObject(name, value);
            }
        }
    }
    return info;
}

// Connection callbacks arrive here on the session's delegate queue and go to the task they are
// for (a data task's load may be handed to a download task).
class SessionTaskBridge final : public NSURLConnectionDataDelegate {
  public:
    explicit SessionTaskBridge(Weak<NSURLSessionTask> task) : task_(std::move(task)) {}

    void retarget(const Ref<NSURLSessionTask>& task) {
        std::lock_guard lock(mutex_);
        task_ = task;
    }
    Ref<NSURLSessionTask> task() const {
        std::lock_guard lock(mutex_);
        return task_.lock();
    }

    void connectionWillSendRequestForAuthenticationChallenge(
        const Ref<NSURLConnection>&, const Ref<NSURLAuthenticationChallenge>& challenge) override {
        if (auto t = task()) {
            t->handleChallenge(challenge);
        } else if (challenge->sender()) {
            challenge->sender()->cancelAuthenticationChallenge(challenge);
        }
    }
    bool implementsWillSendRequestForAuthenticationChallenge() const override { return true; }
    std::optional<Ref<NSURLRequest>>
    connectionWillSendRequest(const Ref<NSURLConnection>&, const Ref<NSURLRequest>& request,
                              const Ref<NSURLResponse>& redirectResponse) override {
        auto t = task();
        return t ? t->handleRedirect(request, redirectResponse) : std::nullopt;
    }
    std::optional<Ref<NSInputStream>> connectionNeedNewBodyStream(const Ref<NSURLConnection>&,
                                                                  const Ref<NSURLRequest>&) override {
        auto t = task();
        return t ? t->handleNeedNewBodyStream() : std::nullopt;
    }
    void connectionDidSendBodyData(const Ref<NSURLConnection>&, NSInteger bytesWritten,
                                   NSInteger totalBytesWritten, NSInteger totalBytesExpected) override {
        if (auto t = task()) {
            t->deliver([t, bytesWritten, totalBytesWritten, totalBytesExpected] {
                t->handleSentBodyData(bytesWritten, totalBytesWritten, totalBytesExpected);
            });
        }
    }
    void connectionDidReceiveResponse(const Ref<NSURLConnection>&,
                                      const Ref<NSURLResponse>& response) override {
        if (auto t = task()) t->deliver([t, response] { t->handleResponse(response); });
    }
    void connectionDidReceiveData(const Ref<NSURLConnection>& connection, const NSData& data) override {
        // The task may change between events (a data task turned download task): look it up
        // when the event runs. Until then, held while the task is suspended, the bytes count as
        // undelivered, so a suspended task stops its load at the flow-control bound.
        if (auto t = task()) {
            t->deliver([this, data, self = weakFromThis(), receipt = connection->holdDataAcknowledgement()] {
                auto keep = self.lock();
                if (!keep) return;
                if (auto current = task()) current->handleData(data);
            });
        }
    }
    std::optional<Ref<NSCachedURLResponse>>
    connectionWillCacheResponse(const Ref<NSURLConnection>&,
                                const Ref<NSCachedURLResponse>& cachedResponse) override {
        auto t = task();
        return t ? t->handleWillCache(cachedResponse) : std::nullopt;
    }
    void connectionDidFinishLoading(const Ref<NSURLConnection>&) override {
        if (auto t = task()) {
            t->deliver([this, self = weakFromThis()] {
                auto keep = self.lock();
                if (!keep) return;
                if (auto current = task()) current->handleFinished(nullptr);
            });
        }
    }
    void connectionDidFailWithError(const Ref<NSURLConnection>&, const Ref<NSError>& error) override {
        if (auto t = task()) {
            t->deliver([this, error, self = weakFromThis()] {
                auto keep = self.lock();
                if (!keep) return;
                if (auto current = task()) current->handleFinished(error);
            });
        }
    }

    void setSelf(const std::shared_ptr<SessionTaskBridge>& self) { self_ = self; }

  private:
    std::weak_ptr<SessionTaskBridge> weakFromThis() const { return self_; }

    mutable std::mutex mutex_;
    Weak<NSURLSessionTask> task_;
    std::weak_ptr<SessionTaskBridge> self_;
};

}  // namespace detail

// ---- creation ------------------------------------------------------------------------------------------
NSURLSessionTask::NSURLSessionTask(detail::SessionTaskSeed seed)
    : identifier_(seed.identifier),
      kind_(seed.kind),
      originalRequest_(seed.originalRequest),
      session_(seed.session),
      weakSession_(seed.session),
      currentRequest_(seed.request),
      body_(seed.body),
      bodyData_(std::move(seed.bodyData)),
      bodyFile_(std::move(seed.bodyFile)),
      resumeData_(std::move(seed.resumeData)),
      dataCompletion_(std::move(seed.dataCompletion)),
      downloadCompletion_(std::move(seed.downloadCompletion)) {
    std::int64_t expected = 0;
    switch (body_) {
        case Body::Data:
            expected = bodyData_ ? static_cast<std::int64_t>(bodyData_->length()) : 0;
            break;
        case Body::File: {
            std::error_code ec;
            auto size = bodyFile_ ? std::filesystem::file_size(bodyFile_->path(), ec) : 0;
            expected = ec ? NSURLSessionTransferSizeUnknown : static_cast<std::int64_t>(size);
            break;
        }
        case Body::Stream: {
            expected = NSURLSessionTransferSizeUnknown;
            auto request = currentRequest_;
            if (auto length = request ? request->valueForHTTPHeaderField("Content-Length") : std::nullopt) {
                std::string_view text = detail::trimWhitespace(*length);
                if (!text.empty() && text.size() < 19 &&
                    text.find_first_not_of("0123456789") == std::string::npos) {
                    expected = std::stoll(std::string(text));
                }
            } else if (request && request->HTTPBodyStream()) {
                if (auto known = request->HTTPBodyStream()->knownLength())
                    expected = static_cast<std::int64_t>(*known);
            }
            break;
        }
        case Body::None:
            if (currentRequest_ && currentRequest_->HTTPBody()) {
                expected = static_cast<std::int64_t>(currentRequest_->HTTPBody()->length());
            }
            break;
    }
    expectedToSend_.store(expected);
}

NSURLSessionTask::~NSURLSessionTask() {
    if (file_) std::fclose(file_);
}

std::string NSURLSessionTask::description() const {
    static const char* names[] = {"running", "suspended", "canceling", "completed"};
    return NSString::stringWithFormat("<%@: %p> { taskIdentifier: %lu } { %@ }", className(),
                                      static_cast<const void*>(this), identifier_,
                                      std::string(names[std::clamp<long>(state(), 0, 3)]));
}

Ref<NSURLRequest> NSURLSessionTask::currentRequest() const {
    std::lock_guard lock(mutex_);
    return currentRequest_;
}

Ref<NSURLResponse> NSURLSessionTask::response() const {
    std::lock_guard lock(mutex_);
    return response_;
}

Ref<NSError> NSURLSessionTask::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

std::optional<std::string> NSURLSessionTask::taskDescription() const {
    std::lock_guard lock(mutex_);
    return taskDescription_;
}

void NSURLSessionTask::setTaskDescription(std::optional<std::string> description) {
    std::lock_guard lock(mutex_);
    taskDescription_ = std::move(description);
}

NSURLSessionTaskState NSURLSessionTask::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

Value NSURLSessionTask::valueForKey(const std::string& key) const {
    if (key == "state") return NSNumber::numberWithLong(state());
    if (key == "countOfBytesReceived") return NSNumber::numberWithLongLong(countOfBytesReceived());
    if (key == "countOfBytesSent") return NSNumber::numberWithLongLong(countOfBytesSent());
    if (key == "countOfBytesExpectedToSend")
        return NSNumber::numberWithLongLong(countOfBytesExpectedToSend());
    if (key == "countOfBytesExpectedToReceive")
        return NSNumber::numberWithLongLong(countOfBytesExpectedToReceive());
    if (key == "taskIdentifier") return NSNumber::numberWithUnsignedLong(identifier_);
    if (key == "taskDescription") return Value(taskDescription());
    if (key == "originalRequest") return Value(originalRequest_);
    if (key == "currentRequest") return Value(currentRequest());
    if (key == "response") return Value(response());
    if (key == "error") return Value(error());
    return NSObject::valueForKey(key);
}

bool NSURLSessionTask::changeState(NSURLSessionTaskState to,
                                   std::initializer_list<NSURLSessionTaskState> from) {
    std::lock_guard transition(transitionMutex_);
    {
        std::lock_guard lock(mutex_);
        if (std::find(from.begin(), from.end(), state_) == from.end()) return false;
    }
    KVO::willChangeValueForKey(*this, "state");
    {
        std::lock_guard lock(mutex_);
        state_ = to;
    }
    KVO::didChangeValueForKey(*this, "state");
    return true;
}

void NSURLSessionTask::setCount(std::atomic<std::int64_t>& field, const char* key, std::int64_t value) {
    if (field.load() == value) return;
    KVO::willChangeValueForKey(*this, key);
    field.store(value);
    KVO::didChangeValueForKey(*this, key);
}

Ref<NSURLSession> NSURLSessionTask::owningSession() const {
    std::lock_guard lock(mutex_);
    return session_ ? session_ : weakSession_.lock();
}

bool NSURLSessionTask::isOver() const {
    std::lock_guard lock(mutex_);
    return state_ == NSURLSessionTaskStateCanceling || state_ == NSURLSessionTaskStateCompleted ||
           completionSent_;
}

// ---- hooks, resume, suspend, cancel ---------------------------------------------------------------------
void NSURLSessionTask::addResumeHook(MethodHook hook) {
    std::lock_guard lock(hooksMutex);
    if (hook) resumeHooks.push_back(std::move(hook));
}

void NSURLSessionTask::addSuspendHook(MethodHook hook) {
    std::lock_guard lock(hooksMutex);
    if (hook) suspendHooks.push_back(std::move(hook));
}

void NSURLSessionTask::removeAllHooks() {
    std::lock_guard lock(hooksMutex);
    resumeHooks.clear();
    suspendHooks.clear();
}

void NSURLSessionTask::runHooked(bool resuming) {
    std::vector<MethodHook> hooks;
    {
        std::lock_guard lock(hooksMutex);
        hooks = resuming ? resumeHooks : suspendHooks;
    }
    auto self = selfAs<NSURLSessionTask>();
    std::function<void()> call = [this, resuming] {
        if (resuming) {
            resumeImplementation();
        } else {
            suspendImplementation();
        }
    };
    for (auto it = hooks.rbegin(); it != hooks.rend(); ++it) {
        call = [hook = *it, self, inner = std::move(call)] { hook(self, inner); };
    }
    call();
}

void NSURLSessionTask::resume() {
    runHooked(true);
}

void NSURLSessionTask::suspend() {
    runHooked(false);
}

void NSURLSessionTask::resumeImplementation() {
    if (!changeState(NSURLSessionTaskStateRunning, {NSURLSessionTaskStateSuspended})) return;
    bool start = false, replay = false;
    {
        std::lock_guard lock(mutex_);
        if (!started_) {
            started_ = true;
            start = true;
        } else if (!held_.empty() && !replayScheduled_) {
            replayScheduled_ = true;
            replay = true;
        }
    }
    if (start) startLoading();
    if (replay) scheduleReplay();
}

void NSURLSessionTask::suspendImplementation() {
    changeState(NSURLSessionTaskStateSuspended, {NSURLSessionTaskStateRunning});
}

void NSURLSessionTask::cancel() {
    cancelProducingResumeData(nullptr);
}

void NSURLSessionTask::cancelProducingResumeData(std::function<void(const std::optional<NSData>&)> handler) {
    auto session = owningSession();
    if (!changeState(NSURLSessionTaskStateCanceling,
                     {NSURLSessionTaskStateRunning, NSURLSessionTaskStateSuspended})) {
        // Already over: nothing to resume from.
        if (handler && session)
            session->delegateQueue()->addOperationWithBlock([handler] { handler(std::nullopt); });
        return;
    }
    Ref<NSURLConnection> connection;
    {
        std::lock_guard lock(mutex_);
        connection = connection_;
        held_.clear();
        resumeDataHandler_ = std::move(handler);
    }
    if (connection) connection->cancel();
    auto self = selfAs<NSURLSessionTask>();
    auto error = detail::makeURLError(NSURLErrorCancelled, urlTextOf(currentRequest()));
    if (session) session->delegateQueue()->addOperationWithBlock([self, error] { self->complete(error); });
}

// ---- loading ---------------------------------------------------------------------------------------------
Ref<NSURLRequest> NSURLSessionTask::prepareRequest(Ref<NSError>* error) {
    auto request = currentRequest();
    if (resumeData_) {
        std::string reason;
        auto info = detail::decodeDownloadResumeInfo(*resumeData_, &reason);
        if (!info) {
            setError(error, detail::makeURLError(NSURLErrorBadURL, "", reason));
            return nullptr;
        }
        auto out = make<NSMutableURLRequest>(
            NSURL::URLWithString(info->URL), NSURLRequestReloadIgnoringLocalCacheData,
            request ? request->timeoutInterval() : NSURLRequestDefaultTimeoutInterval);
        for (const auto& [name, value] : info->headers) {
            if (detail::equalsIgnoringCase(name, "Range") || detail::equalsIgnoringCase(name, "If-Range"))
                continue;
            out->setValue(value.stringValue(), name);
        }
        std::error_code ec;
        auto size = std::filesystem::file_size(info->localPath, ec);
        if (!ec && info->bytesReceived > 0 && size >= static_cast<std::uintmax_t>(info->bytesReceived)) {
            std::filesystem::resize_file(info->localPath, static_cast<std::uintmax_t>(info->bytesReceived),
                                         ec);
        }
        filePath_ = info->localPath;
        if (!ec && info->bytesReceived > 0) {
            requestedOffset_ = info->bytesReceived;
            out->setValue("bytes=" + std::to_string(info->bytesReceived) + "-", "Range");
            out->setValue(info->entityTag ? *info->entityTag : *info->lastModified, "If-Range");
        }
        return out;
    }
    if (!request || !request->URL()) {
        setError(error, detail::makeURLError(NSURLErrorBadURL, "", "The request has no URL."));
        return nullptr;
    }
    switch (body_) {
        case Body::Data: {
            auto out = request->mutableCopy();
            out->setHTTPBody(bodyData_ ? *bodyData_ : NSData());
            return out;
        }
        case Body::File: {
            std::string path = bodyFile_ ? bodyFile_->path() : std::string();
            std::error_code ec;
            bool regular = !path.empty() && std::filesystem::is_regular_file(path, ec);
            auto size = regular ? std::filesystem::file_size(path, ec) : 0;
            auto stream = regular && !ec ? NSInputStream::inputStreamWithFileAtPath(path) : nullptr;
            if (!stream) {
                setError(error, detail::makeURLError(NSURLErrorFileDoesNotExist, urlTextOf(request),
                                                     "The file to upload cannot be read."));
                return nullptr;
            }
            auto out = request->mutableCopy();
            out->setHTTPBody(std::nullopt);
            out->setHTTPBodyStream(stream);
            out->setValue(std::to_string(size), "Content-Length");
            setCount(expectedToSend_, "countOfBytesExpectedToSend", static_cast<std::int64_t>(size));
            return out;
        }
        case Body::Stream:
            if (!request->HTTPBodyStream()) {
                setError(error, detail::makeURLError(kBodyStreamExhausted, urlTextOf(request),
                                                     "The streamed request has no body stream."));
                return nullptr;
            }
            return request;
        case Body::None:
            return request;
    }
    return request;
}

void NSURLSessionTask::startLoading() {
    auto session = owningSession();
    if (!session) return;
    auto self = selfAs<NSURLSessionTask>();
    Ref<NSError> error;
    auto request = prepareRequest(&error);
    if (!request) {
        session->delegateQueue()->addOperationWithBlock([self, error] {
            if (self->isOver()) return;
            self->complete(error);
        });
        return;
    }
    auto bridge = std::make_shared<detail::SessionTaskBridge>(self);
    bridge->setSelf(bridge);
    auto connection = make<NSURLConnection>(request, bridge, false);
    connection->setDelegateQueue(session->delegateQueue());
    {
        std::lock_guard lock(mutex_);
        if (state_ == NSURLSessionTaskStateCanceling || state_ == NSURLSessionTaskStateCompleted) return;
        connection_ = connection;
        bridge_ = bridge;
        currentRequest_ = request;
    }
    connection->start();
}

void NSURLSessionTask::deliver(std::function<void()> event) {
    {
        std::lock_guard lock(mutex_);
        if (state_ == NSURLSessionTaskStateCanceling || state_ == NSURLSessionTaskStateCompleted ||
            completionSent_) {
            return;
        }
        if (state_ == NSURLSessionTaskStateSuspended || !held_.empty()) {
            held_.push_back(std::move(event));
            return;
        }
    }
    event();
}

void NSURLSessionTask::scheduleReplay() {
    auto session = owningSession();
    if (!session) return;
    auto self = selfAs<NSURLSessionTask>();
    session->delegateQueue()->addOperationWithBlock([self] { self->replayHeld(); });
}

void NSURLSessionTask::replayHeld() {
    for (;;) {
        std::function<void()> event;
        {
            std::lock_guard lock(mutex_);
            if (state_ != NSURLSessionTaskStateRunning || held_.empty()) {
                replayScheduled_ = false;
                return;
            }
            event = std::move(held_.front());
            held_.pop_front();
        }
        event();
    }
}

// ---- events (delegate queue) ----------------------------------------------------------------------------
void NSURLSessionTask::handleChallenge(const Ref<NSURLAuthenticationChallenge>& challenge) {
    auto sender = challenge->sender();
    auto completion = [sender, challenge](NSURLSessionAuthChallengeDisposition disposition,
                                          const Ref<NSURLCredential>& credential) {
        if (!sender) return;
        switch (disposition) {
            case NSURLSessionAuthChallengeUseCredential:
                if (credential) {
                    sender->useCredential(credential, challenge);
                } else {
                    sender->continueWithoutCredentialForAuthenticationChallenge(challenge);
                }
                break;
            case NSURLSessionAuthChallengeCancelAuthenticationChallenge:
                sender->cancelAuthenticationChallenge(challenge);
                break;
            case NSURLSessionAuthChallengeRejectProtectionSpace:
                sender->rejectProtectionSpaceAndContinueWithChallenge(challenge);
                break;
            default:
                sender->performDefaultHandlingForAuthenticationChallenge(challenge);
                break;
        }
    };
    if (isOver()) {
        completion(NSURLSessionAuthChallengeCancelAuthenticationChallenge, nullptr);
        return;
    }
    auto session = owningSession();
    auto delegate = session ? session->delegate() : nullptr;
    auto taskDelegate = std::dynamic_pointer_cast<NSURLSessionTaskDelegate>(delegate);
    bool serverTrust = challenge->protectionSpace() && challenge->protectionSpace()->authenticationMethod() ==
                                                           NSURLAuthenticationMethodServerTrust;
    if (taskDelegate && taskDelegate->implementsURLSessionTaskDidReceiveChallenge()) {
        taskDelegate->URLSessionTaskDidReceiveChallenge(session, selfAs<NSURLSessionTask>(), challenge,
                                                        completion);
    } else if (serverTrust && delegate && delegate->implementsURLSessionDidReceiveChallenge()) {
        delegate->URLSessionDidReceiveChallenge(session, challenge, completion);
    } else {
        completion(NSURLSessionAuthChallengePerformDefaultHandling, nullptr);
    }
}

std::optional<Ref<NSURLRequest>>
NSURLSessionTask::handleRedirect(const Ref<NSURLRequest>& request,
                                 const Ref<NSURLResponse>& redirectResponse) {
    if (isOver()) return std::nullopt;
    auto session = owningSession();
    auto taskDelegate =
        std::dynamic_pointer_cast<NSURLSessionTaskDelegate>(session ? session->delegate() : nullptr);
    Ref<NSURLRequest> chosen = request;
    if (taskDelegate && taskDelegate->implementsURLSessionTaskWillPerformHTTPRedirection()) {
        taskDelegate->URLSessionTaskWillPerformHTTPRedirection(
            session, selfAs<NSURLSessionTask>(), asKind<NSHTTPURLResponse>(redirectResponse), request,
            [&chosen](const Ref<NSURLRequest>& answer) { chosen = answer; });
    }
    if (chosen) {
        std::lock_guard lock(mutex_);
        currentRequest_ = chosen;
    }
    return chosen;
}

std::optional<Ref<NSInputStream>> NSURLSessionTask::handleNeedNewBodyStream() {
    if (isOver()) return std::nullopt;
    auto session = owningSession();
    auto taskDelegate =
        std::dynamic_pointer_cast<NSURLSessionTaskDelegate>(session ? session->delegate() : nullptr);
    if (taskDelegate && taskDelegate->implementsURLSessionTaskNeedNewBodyStream()) {
        Ref<NSInputStream> answer;
        taskDelegate->URLSessionTaskNeedNewBodyStream(session, selfAs<NSURLSessionTask>(),
                                                      [&answer](const Ref<NSInputStream>& s) { answer = s; });
        return answer;
    }
    if (body_ == Body::File && bodyFile_) return NSInputStream::inputStreamWithFileAtPath(bodyFile_->path());
    if (auto original = originalRequest_ ? originalRequest_->HTTPBodyStream() : nullptr) {
        if (auto copy = asKind<NSInputStream>(original->copyObject())) return copy;
    }
    return std::nullopt;
}

std::optional<Ref<NSCachedURLResponse>>
NSURLSessionTask::handleWillCache(const Ref<NSCachedURLResponse>& proposed) {
    {
        std::lock_guard lock(mutex_);
        if (state_ != NSURLSessionTaskStateRunning || !held_.empty() || completionSent_ || dataCompletion_) {
            return std::nullopt;
        }
    }
    if (kind_ == Kind::Download) return std::nullopt;
    auto session = owningSession();
    auto dataDelegate =
        std::dynamic_pointer_cast<NSURLSessionDataDelegate>(session ? session->delegate() : nullptr);
    if (!dataDelegate || !dataDelegate->implementsURLSessionDataTaskWillCacheResponse()) return std::nullopt;
    Ref<NSCachedURLResponse> answer = proposed;
    dataDelegate->URLSessionDataTaskWillCacheResponse(
        session, selfAs<NSURLSessionDataTask>(), proposed,
        [&answer](const Ref<NSCachedURLResponse>& chosen) { answer = chosen; });
    return answer;
}

void NSURLSessionTask::handleSentBodyData(std::int64_t bytesSent, std::int64_t totalSent,
                                          std::int64_t totalExpected) {
    if (totalExpected >= 0 && expectedToSend_.load() == NSURLSessionTransferSizeUnknown) {
        setCount(expectedToSend_, "countOfBytesExpectedToSend", totalExpected);
    }
    setCount(sent_, "countOfBytesSent", totalSent);
    auto session = owningSession();
    auto taskDelegate =
        std::dynamic_pointer_cast<NSURLSessionTaskDelegate>(session ? session->delegate() : nullptr);
    if (taskDelegate) {
        taskDelegate->URLSessionTaskDidSendBodyData(session, selfAs<NSURLSessionTask>(), bytesSent, totalSent,
                                                    expectedToSend_.load());
    }
}

void NSURLSessionTask::handleResponse(const Ref<NSURLResponse>& response) {
    {
        std::lock_guard lock(mutex_);
        response_ = response;
    }
    collected_ = NSData();
    auto session = owningSession();
    auto delegate = session ? session->delegate() : nullptr;
    std::int64_t length = response ? response->expectedContentLength() : -1;
    if (kind_ == Kind::Download) {
        Ref<NSError> error;
        bool continuing = requestedOffset_ > 0 || resumeData_;
        if (!openDownloadFile(response, &error)) {
            Ref<NSURLConnection> connection;
            {
                std::lock_guard lock(mutex_);
                connection = connection_;
            }
            if (connection) connection->cancel();
            complete(error);
            return;
        }
        std::int64_t expected = length >= 0 ? resumeOffset_ + length : NSURLSessionTransferSizeUnknown;
        setCount(expectedToReceive_, "countOfBytesExpectedToReceive", expected);
        if (continuing && !downloadCompletion_) {
            if (auto dd = std::dynamic_pointer_cast<NSURLSessionDownloadDelegate>(delegate)) {
                dd->URLSessionDownloadTaskDidResumeAtOffset(session, selfAs<NSURLSessionDownloadTask>(),
                                                            resumeOffset_, expected);
            }
        }
        return;
    }
    setCount(expectedToReceive_, "countOfBytesExpectedToReceive",
             length >= 0 ? length : NSURLSessionTransferSizeUnknown);
    if (dataCompletion_ && length > static_cast<std::int64_t>(NSURLMaximumInMemoryBodyLength())) {
        refuseOversizedBody();
        return;
    }
    auto dataDelegate = std::dynamic_pointer_cast<NSURLSessionDataDelegate>(delegate);
    if (dataCompletion_ || !dataDelegate || !dataDelegate->implementsURLSessionDataTaskDidReceiveResponse())
        return;
    NSURLSessionResponseDisposition disposition = NSURLSessionResponseAllow;
    dataDelegate->URLSessionDataTaskDidReceiveResponse(
        session, selfAs<NSURLSessionDataTask>(), response,
        [&disposition](NSURLSessionResponseDisposition answer) { disposition = answer; });
    if (disposition == NSURLSessionResponseCancel) {
        cancel();
    } else if (disposition == NSURLSessionResponseBecomeDownload && kind_ != Kind::Download && session) {
        auto download = session->makeDownloadTaskAdopting(selfAs<NSURLSessionTask>());
        if (download)
            dataDelegate->URLSessionDataTaskDidBecomeDownloadTask(session, selfAs<NSURLSessionDataTask>(),
                                                                  download);
    }
}

void NSURLSessionTask::adoptLoad(const Ref<NSURLSessionTask>& dataTask) {
    Ref<NSURLConnection> connection;
    std::shared_ptr<detail::SessionTaskBridge> bridge;
    Ref<NSURLResponse> response;
    {
        std::lock_guard lock(dataTask->mutex_);
        connection = dataTask->connection_;
        bridge = dataTask->bridge_;
        response = dataTask->response_;
        dataTask->connection_.reset();
        dataTask->bridge_.reset();
    }
    {
        std::lock_guard lock(mutex_);
        state_ = NSURLSessionTaskStateRunning;
        started_ = true;
        connection_ = connection;
        bridge_ = bridge;
        response_ = response;
    }
    if (bridge) bridge->retarget(selfAs<NSURLSessionTask>());
    Ref<NSError> error;
    if (!openDownloadFile(response, &error)) {
        if (connection) connection->cancel();
        auto self = selfAs<NSURLSessionTask>();
        if (auto session = owningSession())
            session->delegateQueue()->addOperationWithBlock([self, error] { self->complete(error); });
        return;
    }
    std::int64_t length = response ? response->expectedContentLength() : -1;
    setCount(expectedToReceive_, "countOfBytesExpectedToReceive",
             length >= 0 ? length : NSURLSessionTransferSizeUnknown);
}

void NSURLSessionTask::handleData(const NSData& data) {
    if (data.empty()) return;
    {
        std::lock_guard lock(mutex_);
        if (completionSent_) return;  // data already queued when the task ended early
    }
    setCount(received_, "countOfBytesReceived", received_.load() + static_cast<std::int64_t>(data.length()));
    auto session = owningSession();
    auto delegate = session ? session->delegate() : nullptr;
    if (kind_ == Kind::Download) {
        if (!file_ || std::fwrite(data.bytes(), 1, data.length(), file_) != data.length()) {
            fileFailed_ = true;
            Ref<NSURLConnection> connection;
            {
                std::lock_guard lock(mutex_);
                connection = connection_;
            }
            if (connection) connection->cancel();
            complete(detail::makeURLError(NSURLErrorCannotWriteToFile, urlTextOf(currentRequest()),
                                          "The downloaded data cannot be written to its file."));
            return;
        }
        if (downloadCompletion_) return;
        if (auto dd = std::dynamic_pointer_cast<NSURLSessionDownloadDelegate>(delegate)) {
            dd->URLSessionDownloadTaskDidWriteData(
                session, selfAs<NSURLSessionDownloadTask>(), static_cast<std::int64_t>(data.length()),
                resumeOffset_ + received_.load(), expectedToReceive_.load());
        }
        return;
    }
    if (dataCompletion_) {
        // The body is held for the handler: bounded, unlike one streamed to a delegate.
        if (collected_.length() + data.length() > NSURLMaximumInMemoryBodyLength()) {
            refuseOversizedBody();
            return;
        }
        collected_.appendData(data);
        return;
    }
    if (auto dd = std::dynamic_pointer_cast<NSURLSessionDataDelegate>(delegate)) {
        dd->URLSessionDataTaskDidReceiveData(session, selfAs<NSURLSessionDataTask>(), data);
    }
}

void NSURLSessionTask::refuseOversizedBody() {
    Ref<NSURLConnection> connection;
    {
        std::lock_guard lock(mutex_);
        connection = connection_;
    }
    if (connection) connection->cancel();
    collected_ = NSData();
    auto request = currentRequest();
    complete(NSURLMakeDataLengthExceedsMaximumError(request ? request->URL() : nullptr));
}

void NSURLSessionTask::handleFinished(const Ref<NSError>& error) {
    complete(error);
}

// ---- download files -------------------------------------------------------------------------------------
bool NSURLSessionTask::openDownloadFile(const Ref<NSURLResponse>& response, Ref<NSError>* error) {
    closeDownloadFile();
    bool continued = false;
    auto http = asKind<NSHTTPURLResponse>(response);
    if (requestedOffset_ > 0 && http && http->statusCode() == 206) {
        auto range = parseContentRange(http->valueForHTTPHeaderField("Content-Range").value_or(""));
        if (!range || range->first != requestedOffset_) {
            setError(error,
                     detail::makeURLError(NSURLErrorBadServerResponse, urlTextOf(currentRequest()),
                                          "The server answered another byte range than the one asked."));
            return false;
        }
        continued = true;
    }
    if (filePath_.empty() || !detail::isDownloadTemporaryPath(filePath_))
        filePath_ = detail::makeDownloadTemporaryPath();
    file_ = std::fopen(filePath_.c_str(), continued ? "ab" : "wb");
    if (!file_) {
        setError(error, detail::makeURLError(NSURLErrorCannotCreateFile, urlTextOf(currentRequest()),
                                             "The download's temporary file cannot be created."));
        return false;
    }
    resumeOffset_ = continued ? requestedOffset_ : 0;
    return true;
}

void NSURLSessionTask::closeDownloadFile() {
    if (file_) {
        if (std::fclose(file_) != 0) fileFailed_ = true;
        file_ = nullptr;
    }
}

void NSURLSessionTask::removeDownloadFile() {
    if (filePath_.empty()) return;
    std::error_code ec;
    std::filesystem::remove(filePath_, ec);
}

std::optional<NSData> NSURLSessionTask::makeResumeData() {
    if (kind_ != Kind::Download || filePath_.empty() || fileFailed_) return std::nullopt;
    auto http = asKind<NSHTTPURLResponse>(response());
    if (!http || (http->statusCode() != 200 && http->statusCode() != 206)) return std::nullopt;
    auto request = currentRequest();
    if (!request || !request->URL() || request->HTTPMethod() != "GET") return std::nullopt;
    detail::DownloadResumeInfo info;
    info.entityTag = http->valueForHTTPHeaderField("ETag");
    info.lastModified = http->valueForHTTPHeaderField("Last-Modified");
    if (!info.entityTag && !info.lastModified) return std::nullopt;
    std::error_code ec;
    auto size = std::filesystem::file_size(filePath_, ec);
    if (ec || size == 0) return std::nullopt;
    info.URL = request->URL()->absoluteString();
    info.bytesReceived = static_cast<std::int64_t>(size);
    info.localPath = filePath_;
    if (originalRequest_) {
        for (const auto& [name, value] : originalRequest_->headerList()) {
            if (detail::equalsIgnoringCase(name, "Range") || detail::equalsIgnoringCase(name, "If-Range"))
                continue;
            info.headers.setObject(name, value);
        }
    }
    return detail::encodeDownloadResumeInfo(info);
}

// ---- completion -----------------------------------------------------------------------------------------
void NSURLSessionTask::complete(Ref<NSError> error) {
    std::function<void(const std::optional<NSData>&)> resumeDataHandler;
    {
        std::lock_guard lock(mutex_);
        if (completionSent_) return;
        completionSent_ = true;
        held_.clear();
        resumeDataHandler = std::move(resumeDataHandler_);
        resumeDataHandler_ = nullptr;
    }
    auto self = selfAs<NSURLSessionTask>();
    auto session = owningSession();
    auto delegate = session ? session->delegate() : nullptr;
    Ref<NSURLResponse> response = this->response();

    Ref<NSURL> location;
    if (kind_ == Kind::Download) {
        closeDownloadFile();
        if (!error && fileFailed_) {
            error = detail::makeURLError(NSURLErrorCannotWriteToFile, urlTextOf(currentRequest()),
                                         "The downloaded data cannot be written to its file.");
        }
        if (!error) {
            if (filePath_.empty()) {
                // An empty body: the file exists all the same.
                filePath_ = detail::makeDownloadTemporaryPath();
                if (std::FILE* f = std::fopen(filePath_.c_str(), "wb")) std::fclose(f);
            }
            location = NSURL::fileURLWithPath(filePath_);
        } else {
            bool cancelled = error->domain() == NSURLErrorDomain && error->code() == NSURLErrorCancelled;
            std::optional<NSData> resumeData;
            if (!cancelled || resumeDataHandler) resumeData = makeResumeData();
            if (resumeDataHandler) resumeDataHandler(resumeData);
            if (resumeData) {
                Dictionary info = error->userInfo().mutableCopy();
                info.setObject(NSURLSessionDownloadTaskResumeData, *resumeData);
                error = NSError::errorWithDomain(error->domain(), error->code(), info);
            } else {
                removeDownloadFile();
            }
        }
    } else if (resumeDataHandler) {
        resumeDataHandler(std::nullopt);
    }

    if (location) {
        if (downloadCompletion_) {
            downloadCompletion_(location, response, nullptr);
        } else if (auto dd = std::dynamic_pointer_cast<NSURLSessionDownloadDelegate>(delegate)) {
            dd->URLSessionDownloadTaskDidFinishDownloadingToURL(session, selfAs<NSURLSessionDownloadTask>(),
                                                                location);
        }
        removeDownloadFile();
    }

    {
        std::lock_guard lock(mutex_);
        error_ = error;
    }
    changeState(NSURLSessionTaskStateCompleted, {NSURLSessionTaskStateRunning, NSURLSessionTaskStateSuspended,
                                                 NSURLSessionTaskStateCanceling});
    if (dataCompletion_) {
        dataCompletion_(error ? std::nullopt : std::optional<NSData>(collected_), response, error);
    } else if (downloadCompletion_) {
        if (error) downloadCompletion_(nullptr, response, error);
    } else if (auto td = std::dynamic_pointer_cast<NSURLSessionTaskDelegate>(delegate)) {
        td->URLSessionTaskDidCompleteWithError(session, self, error);
    }

    Ref<NSURLConnection> connection;
    std::shared_ptr<detail::SessionTaskBridge> bridge;
    {
        std::lock_guard lock(mutex_);
        connection = std::move(connection_);
        bridge = std::move(bridge_);
        session_.reset();
        dataCompletion_ = nullptr;
        downloadCompletion_ = nullptr;
    }
    collected_ = NSData();
    if (session) session->taskDidComplete(this);
}
