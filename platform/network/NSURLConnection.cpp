#include "network/NSURLConnection.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <ctime>

#include "dispatch/DispatchBlocking.h"
#include "foundation/NSOperationQueue.h"
#include "foundation/NSRunLoop.h"
#include "network/NetworkInternal.h"

namespace {

// How a challenge was answered.
enum Answer { kUse, kContinue, kCancel, kDefault, kReject };

constexpr int kMaxRedirects = 16;
// Replies longer than this are not offered to the cache (the body would be held twice).
constexpr std::size_t kMaxCacheableBody = 16 * 1024 * 1024;
// The body of a redirect or challenge reply held until the delegate decides: rarely shown, so
// kept only up to this.
constexpr std::size_t kMaxHeldBody = 1024 * 1024;
// Events delivered per turn of the delegate's run loop, so a long body does not starve it.
constexpr int kEventsPerTurn = 32;

// Credentials kept for the session (persistence other than none), by protection space.
std::mutex storageMutex;
std::vector<std::pair<Ref<NSURLProtectionSpace>, Ref<NSURLCredential>>> credentialStorage;

Ref<NSURLCredential> storedCredential(const Ref<NSURLProtectionSpace>& space) {
    std::lock_guard<std::mutex> lock(storageMutex);
    for (auto& [s, c] : credentialStorage) {
        if (s->isEqual(*space)) return c;
    }
    return nullptr;
}

void storeCredential(const Ref<NSURLProtectionSpace>& space, const Ref<NSURLCredential>& credential) {
    std::lock_guard<std::mutex> lock(storageMutex);
    for (auto& [s, c] : credentialStorage) {
        if (s->isEqual(*space)) {
            c = credential;
            return;
        }
    }
    credentialStorage.emplace_back(space, credential);
}

// Tells the transport that a run of body bytes reached its consumer, once nobody holds it.
struct DataReceipt {
    DataReceipt(detail::TransferHandle t, std::size_t n) : transfer(std::move(t)), length(n) {}
    ~DataReceipt() { detail::URLTransport::shared().acknowledge(transfer, length); }
    DataReceipt(const DataReceipt&) = delete;
    DataReceipt& operator=(const DataReceipt&) = delete;
    detail::TransferHandle transfer;
    std::size_t length;
};

bool isToken(std::string_view s) {
    return detail::isValidHeaderName(s);
}

long defaultPort(const std::string& scheme) {
    return detail::equalsIgnoringCase(scheme, "https") ? 443 : 80;
}

// The header fields of a reply as a dictionary, repeated fields joined with ", ".
Dictionary fieldsFrom(const detail::HeaderFields& headers) {
    detail::HeaderFieldMerger merger(headers.size());
    for (auto& [name, value] : headers) merger.add(NSHTTPURLResponse::canonicalHeaderName(name), value);
    return merger.take();
}

bool containsDirective(const std::optional<std::string>& field, std::string_view directive) {
    if (!field) return false;
    std::string lower = detail::asciiLowercase(*field);
    std::size_t pos = 0;
    while ((pos = lower.find(directive, pos)) != std::string::npos) {
        bool startOk = pos == 0 || lower[pos - 1] == ' ' || lower[pos - 1] == ',' || lower[pos - 1] == '\t';
        std::size_t end = pos + directive.size();
        bool endOk = end == lower.size() || lower[end] == ',' || lower[end] == ' ' || lower[end] == '=' ||
                     lower[end] == ';';
        if (startOk && endOk) return true;
        pos = end;
    }
    return false;
}

std::optional<long long> directiveNumber(const std::optional<std::string>& field,
                                         std::string_view directive) {
    if (!field) return std::nullopt;
    std::string lower = detail::asciiLowercase(*field);
    std::string key = std::string(directive) + "=";
    std::size_t pos = lower.find(key);
    if (pos == std::string::npos) return std::nullopt;
    pos += key.size();
    if (pos < lower.size() && lower[pos] == '"') ++pos;
    long long v = 0;
    bool any = false;
    while (pos < lower.size() && lower[pos] >= '0' && lower[pos] <= '9' && v < (1LL << 40)) {
        v = v * 10 + (lower[pos++] - '0');
        any = true;
    }
    return any ? std::optional<long long>(v) : std::nullopt;
}

// Whether a stored reply may be used without asking the server.
bool isFresh(const Ref<NSCachedURLResponse>& cached, const Ref<NSURLRequest>& request) {
    auto http = asKind<NSHTTPURLResponse>(cached->response());
    if (!http) return false;
    auto requestControl = request->valueForHTTPHeaderField("Cache-Control");
    if (containsDirective(requestControl, "no-cache") || directiveNumber(requestControl, "max-age") == 0)
        return false;
    if (containsDirective(request->valueForHTTPHeaderField("Pragma"), "no-cache")) return false;
    auto control = http->valueForHTTPHeaderField("Cache-Control");
    if (containsDirective(control, "no-cache")) return false;
    std::time_t now = std::time(nullptr);
    std::time_t date = -1;
    if (auto d = http->valueForHTTPHeaderField("Date")) date = curl_getdate(d->c_str(), nullptr);
    if (auto maxAge = directiveNumber(control, "max-age")) {
        if (date < 0) return false;
        long long age = now - date;
        if (auto a = directiveNumber(http->valueForHTTPHeaderField("Age"), "")) age += *a;
        return age >= 0 && age < *maxAge;
    }
    if (auto e = http->valueForHTTPHeaderField("Expires")) {
        std::time_t expires = curl_getdate(e->c_str(), nullptr);
        return expires > 0 && now < expires;
    }
    return false;
}

bool isCacheableStatus(long status) {
    return status == 200 || status == 203 || status == 300 || status == 301 || status == 410;
}

// "Basic" or "Digest" (preferred when offered) from a WWW-Authenticate field; nullopt for others.
std::optional<std::string> authenticationMethodOf(const std::string& field) {
    std::string lower = detail::asciiLowercase(field);
    auto offers = [&](std::string_view scheme) {
        std::size_t pos = 0;
        while ((pos = lower.find(scheme, pos)) != std::string::npos) {
            bool startOk = pos == 0 || lower[pos - 1] == ' ' || lower[pos - 1] == ',';
            std::size_t end = pos + scheme.size();
            if (startOk && (end == lower.size() || lower[end] == ' ')) return true;
            pos = end;
        }
        return false;
    };
    if (offers("digest")) return std::string(NSURLAuthenticationMethodHTTPDigest);
    if (offers("basic")) return std::string(NSURLAuthenticationMethodHTTPBasic);
    return std::nullopt;
}

std::optional<std::string> realmOf(const std::string& field) {
    std::string lower = detail::asciiLowercase(field);
    std::size_t pos = lower.find("realm=");
    if (pos == std::string::npos) return std::nullopt;
    pos += 6;
    std::string out;
    if (pos < field.size() && field[pos] == '"') {
        for (++pos; pos < field.size() && field[pos] != '"'; ++pos) {
            if (field[pos] == '\\' && pos + 1 < field.size()) ++pos;
            out += field[pos];
        }
    } else {
        while (pos < field.size() && field[pos] != ',' && field[pos] != ' ') out += field[pos++];
    }
    return out;
}

}  // namespace

// ---- the challenge sender ---------------------------------------------------------------------------
struct NSURLConnection::TrustWait {
    std::mutex mutex;
    std::condition_variable answered;
    std::optional<int> answer;
    Ref<NSURLCredential> credential;

    void give(int a, Ref<NSURLCredential> c) {
        std::lock_guard<std::mutex> lock(mutex);
        if (answer) return;
        answer = a;
        credential = std::move(c);
        answered.notify_all();
    }
};

class NSURLConnection::ChallengeSender final : public NSURLAuthenticationChallengeSender {
  public:
    ChallengeSender(Weak<NSURLConnection> connection, std::shared_ptr<TrustWait> trust)
        : connection_(std::move(connection)), trust_(std::move(trust)) {}

    void useCredential(const Ref<NSURLCredential>& credential,
                       const Ref<NSURLAuthenticationChallenge>&) override {
        answer(kUse, credential);
    }
    void
    continueWithoutCredentialForAuthenticationChallenge(const Ref<NSURLAuthenticationChallenge>&) override {
        answer(kContinue, nullptr);
    }
    void cancelAuthenticationChallenge(const Ref<NSURLAuthenticationChallenge>&) override {
        answer(kCancel, nullptr);
    }
    void performDefaultHandlingForAuthenticationChallenge(const Ref<NSURLAuthenticationChallenge>&) override {
        answer(kDefault, nullptr);
    }
    void rejectProtectionSpaceAndContinueWithChallenge(const Ref<NSURLAuthenticationChallenge>&) override {
        answer(kReject, nullptr);
    }

  private:
    void answer(int a, const Ref<NSURLCredential>& credential) {
        if (answered_.exchange(true)) return;  // the first answer counts
        if (trust_) {
            trust_->give(a, credential);
            return;
        }
        auto c = connection_.lock();
        if (!c) return;
        c->enqueue({[c, a, credential] { c->answerHTTPChallenge(a, credential); }, std::nullopt});
    }

    Weak<NSURLConnection> connection_;
    std::shared_ptr<TrustWait> trust_;
    std::atomic<bool> answered_{false};
};

// ---- creation and scheduling ----------------------------------------------------------------------
NSURLConnection::NSURLConnection(const Ref<NSURLRequest>& request, Ref<NSURLConnectionDelegate> delegate,
                                 bool startImmediately)
    : originalRequest_(request ? request->copy() : make<NSURLRequest>()),
      currentRequest_(originalRequest_),
      delegate_(std::move(delegate)),
      startImmediately_(startImmediately) {}

NSURLConnection::~NSURLConnection() = default;

void NSURLConnection::didInit() {
    if (!startImmediately_) return;
    scheduleInRunLoop(NSRunLoop::currentRunLoop(), NSDefaultRunLoopMode);
    start();
}

bool NSURLConnection::canHandleRequest(const Ref<NSURLRequest>& request) {
    if (!request || !request->URL()) return false;
    auto scheme = request->URL()->scheme();
    return scheme &&
           (detail::equalsIgnoringCase(*scheme, "http") || detail::equalsIgnoringCase(*scheme, "https"));
}

void NSURLConnection::scheduleInRunLoop(const Ref<NSRunLoop>& runLoop, const std::string& mode) {
    if (!runLoop) return;
    std::unique_lock<std::mutex> lock(mutex_);
    bool present = std::any_of(targets_.begin(), targets_.end(), [&](const Target& t) {
        return t.runLoop.lock() == runLoop && t.mode == mode;
    });
    if (!present) targets_.push_back({runLoop, mode});
    // A pump already posted may sit in a mode that no longer runs: post one for this mode too.
    if (!present && pumpScheduled_ && !events_.empty() && !cancelled_) {
        auto self = me();
        lock.unlock();
        runLoop->performInModes({mode}, [self] { self->pump(); });
        return;
    }
    schedulePump(lock);
}

void NSURLConnection::unscheduleFromRunLoop(const Ref<NSRunLoop>& runLoop, const std::string& mode) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(targets_, [&](const Target& t) {
        auto l = t.runLoop.lock();
        return !l || (l == runLoop && t.mode == mode);
    });
}

void NSURLConnection::setDelegateQueue(const Ref<NSOperationQueue>& queue) {
    std::unique_lock<std::mutex> lock(mutex_);
    delegateQueue_ = queue;
    schedulePump(lock);
}

void NSURLConnection::setDeliversInline() {
    std::unique_lock<std::mutex> lock(mutex_);
    deliversInline_ = true;
    schedulePump(lock);
}

void NSURLConnection::setServerTrustEvaluator(detail::ServerTrustHook evaluator) {
    std::lock_guard<std::mutex> lock(mutex_);
    trustEvaluator_ = std::move(evaluator);
}

Ref<NSURLRequest> NSURLConnection::originalRequest() const {
    return originalRequest_;
}

Ref<NSURLRequest> NSURLConnection::currentRequest() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return currentRequest_;
}

Ref<NSURLConnectionDelegate> NSURLConnection::currentDelegate() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return delegate_;
}

Ref<NSURLConnectionDataDelegate> NSURLConnection::dataDelegate() const {
    return std::dynamic_pointer_cast<NSURLConnectionDataDelegate>(currentDelegate());
}

// ---- delivery ---------------------------------------------------------------------------------------
void NSURLConnection::enqueue(Event event, bool immediately) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (cancelled_ || ended_) return;
    if (event.data && !events_.empty() && events_.back().data && events_.back().transfer == event.transfer) {
        events_.back().data->appendData(*event.data);
        return;
    }
    events_.push_back(std::move(event));
    if (pumpScheduled_) return;
    if (immediately) {
        schedulePump(lock);
        return;
    }
    if (flushDeferred_) return;
    // On the transport thread the hand-over waits for the end of its turn, which usually
    // brings the response, the body and the end together in one delivery.
    auto self = me();
    if (detail::runAfterTransportTurn([self] {
            std::unique_lock<std::mutex> l(self->mutex_);
            self->flushDeferred_ = false;
            self->schedulePump(l);
        })) {
        flushDeferred_ = true;
        return;
    }
    schedulePump(lock);
}

// Posts a pump to the delivery target when events wait and none is posted. Releases the lock.
void NSURLConnection::schedulePump(std::unique_lock<std::mutex>& lock) {
    if (pumpScheduled_ || events_.empty() || cancelled_) return;
    auto self = me();
    auto run = [self] { self->pump(); };
    if (deliversInline_) {
        pumpScheduled_ = true;
        lock.unlock();
        run();
        return;
    }
    if (delegateQueue_) {
        pumpScheduled_ = true;
        auto q = delegateQueue_;
        lock.unlock();
        q->addOperationWithBlock(run);
        return;
    }
    Ref<NSRunLoop> loop;
    std::vector<std::string> modes;
    for (auto& t : targets_) {
        auto l = t.runLoop.lock();
        if (!l) continue;
        if (!loop) loop = l;
        if (l == loop) modes.push_back(t.mode);
    }
    if (!loop) return;  // unscheduled: events wait for a schedule
    pumpScheduled_ = true;
    lock.unlock();
    loop->performInModes(std::move(modes), run);
}

void NSURLConnection::pump() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (pumpRunning_) return;  // another pump is delivering; it takes these events too
        pumpRunning_ = true;
    }
    for (int delivered = 0;; ++delivered) {
        Event event;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (cancelled_ || ended_) {
                events_.clear();
                pumpScheduled_ = false;
                pumpRunning_ = false;
                return;
            }
            if (events_.empty()) {
                pumpScheduled_ = false;
                pumpRunning_ = false;
                return;
            }
            if (delivered == kEventsPerTurn) {
                pumpScheduled_ = false;
                pumpRunning_ = false;
                schedulePump(lock);
                return;
            }
            event = std::move(events_.front());
            events_.pop_front();
        }
        if (event.data) {
            // The bytes count as undelivered until the delegate has them (or a holder lets go).
            if (event.transfer)
                receipt_ = std::make_shared<DataReceipt>(std::move(event.transfer), event.data->length());
            deliverData(*event.data);
            receipt_.reset();
        } else if (event.action) {
            event.action();
        }
    }
}

std::shared_ptr<void> NSURLConnection::holdDataAcknowledgement() {
    return receipt_;
}

// ---- starting and stopping ----------------------------------------------------------------------------
void NSURLConnection::start() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (started_ || cancelled_) return;
    started_ = true;
    bool scheduled =
        deliversInline_ || delegateQueue_ ||
        std::any_of(targets_.begin(), targets_.end(), [](const Target& t) { return !t.runLoop.expired(); });
    lock.unlock();
    if (!scheduled) scheduleInRunLoop(NSRunLoop::currentRunLoop(), NSDefaultRunLoopMode);
    // Loading begins at once; only the callbacks wait for the delegate's run loop.
    beginLoad(originalRequest_);
}

void NSURLConnection::cancel() {
    if (cancelled_.exchange(true)) return;
    detail::TransferHandle transfer;
    std::shared_ptr<TrustWait> wait;
    Ref<NSURLConnectionDelegate> delegate;
    std::deque<Event> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        transfer = std::move(transfer_);
        wait = trustWait_;
        delegate = std::move(delegate_);
        dropped.swap(events_);
    }
    if (transfer) detail::URLTransport::shared().cancel(transfer);
    if (wait) wait->give(kCancel, nullptr);
}

void NSURLConnection::end() {
    Ref<NSURLConnectionDelegate> delegate;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
        transfer_.reset();
        delegate = std::move(delegate_);
        events_.clear();
    }
}

void NSURLConnection::postFailure(const Ref<NSError>& error) {
    auto self = me();
    enqueue({[self, error] { self->fail(error); }, std::nullopt});
}

void NSURLConnection::fail(const Ref<NSError>& error) {
    if (cancelled_) return;
    if (auto d = currentDelegate()) d->connectionDidFailWithError(me(), error);
    end();
}

// ---- loading ----------------------------------------------------------------------------------------
void NSURLConnection::beginLoad(const Ref<NSURLRequest>& request) {
    if (cancelled_) return;
    std::string urlText = request->URL() ? request->URL()->absoluteString() : std::string();
    if (!request->URL()) {
        postFailure(detail::makeURLError(NSURLErrorBadURL, urlText, "The request has no URL."));
        return;
    }
    auto scheme = request->URL()->scheme();
    if (!scheme ||
        !(detail::equalsIgnoringCase(*scheme, "http") || detail::equalsIgnoringCase(*scheme, "https"))) {
        postFailure(detail::makeURLError(NSURLErrorUnsupportedURL, urlText));
        return;
    }
    if (!request->URL()->host() || request->URL()->host()->empty()) {
        postFailure(detail::makeURLError(NSURLErrorBadURL, urlText, "The URL has no host."));
        return;
    }
    if (!isToken(request->HTTPMethod())) {
        postFailure(detail::makeURLError(NSURLErrorBadURL, urlText, "The request method is not a token."));
        return;
    }
    for (auto& [name, value] : request->headerList()) {
        if (!detail::isValidHeaderName(name) || !detail::isValidHeaderValue(value)) {
            postFailure(detail::makeURLError(NSURLErrorBadURL, urlText,
                                             "The header field \"" + name + "\" would break the request."));
            return;
        }
    }

    {
        std::lock_guard<std::mutex> lock(mutex_);
        revalidating_.reset();
    }
    auto policy = request->cachePolicy();
    bool readsCache = policy == NSURLRequestUseProtocolCachePolicy ||
                      policy == NSURLRequestReturnCacheDataElseLoad ||
                      policy == NSURLRequestReturnCacheDataDontLoad;
    if (readsCache && request->HTTPMethod() == "GET") {
        auto cached = NSURLCache::sharedURLCache()->cachedResponseForRequest(request);
        if (cached && cached->response()) {
            if (policy != NSURLRequestUseProtocolCachePolicy || isFresh(cached, request)) {
                auto self = me();
                enqueue({[self, cached] { self->serveCached(cached); }, std::nullopt});
                return;
            }
            auto http = asKind<NSHTTPURLResponse>(cached->response());
            bool callerConditional = request->valueForHTTPHeaderField("If-None-Match") ||
                                     request->valueForHTTPHeaderField("If-Modified-Since");
            if (http && !callerConditional &&
                (http->valueForHTTPHeaderField("ETag") || http->valueForHTTPHeaderField("Last-Modified"))) {
                std::lock_guard<std::mutex> lock(mutex_);
                revalidating_ = cached;
            }
        } else if (policy == NSURLRequestReturnCacheDataDontLoad) {
            postFailure(detail::makeURLError(NSURLErrorResourceUnavailable, urlText));
            return;
        }
    }
    launch(request, nullptr, false);
}

void NSURLConnection::launch(const Ref<NSURLRequest>& request, const Ref<NSURLCredential>& credential,
                             bool digest) {
    if (cancelled_) return;
    detail::TransferRequest tr;
    tr.url = request->URL()->absoluteString();
    if (auto hash = tr.url.find('#'); hash != std::string::npos) tr.url.resize(hash);
    tr.method = request->HTTPMethod();
    tr.headers = request->headerList();
    tr.body = request->HTTPBody();
    tr.timeout = request->timeoutInterval();

    if (auto stream = request->HTTPBodyStream()) {
        if (stream->streamStatus() != NSStreamStatusNotOpen) {
            // Already sent once: the delegate must supply a fresh one.
            Ref<NSInputStream> fresh;
            if (auto dd = dataDelegate()) {
                if (auto s = dd->connectionNeedNewBodyStream(me(), request)) fresh = *s;
            }
            if (cancelled_) return;
            if (!fresh) {
                postFailure(detail::makeURLError(-1021, tr.url, "The body stream cannot be sent again."));
                return;
            }
            stream = fresh;
        }
        tr.bodyStream = stream;
        if (auto length = request->valueForHTTPHeaderField("Content-Length")) {
            std::string_view text = detail::trimWhitespace(*length);
            bool digits = !text.empty() && text.size() < 19 &&
                          text.find_first_not_of("0123456789") == std::string::npos;
            if (digits) tr.bodyStreamLength = std::stoull(std::string(text));
        }
        if (!tr.bodyStreamLength) tr.bodyStreamLength = stream->knownLength();
    }
    if (credential && credential->user()) {
        tr.user = credential->user();
        tr.password = credential->password();
        tr.digest = digest;
    }

    Ref<NSCachedURLResponse> revalidating;
    detail::ServerTrustHook evaluator;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        revalidating = revalidating_;
        evaluator = trustEvaluator_;
        mode_ = Mode::Stream;
        pendingResponse_.reset();
        heldBody_ = NSData();
        heldBodyDropped_ = false;
        offerToCache_ = false;
        cacheBody_ = NSData();
        lastSent_ = 0;
        trustCancelled_ = false;
    }
    if (revalidating) {
        auto http = asKind<NSHTTPURLResponse>(revalidating->response());
        if (auto etag = http->valueForHTTPHeaderField("ETag"))
            tr.headers.emplace_back("If-None-Match", *etag);
        if (auto modified = http->valueForHTTPHeaderField("Last-Modified")) {
            tr.headers.emplace_back("If-Modified-Since", *modified);
        }
    }
    auto scheme = request->URL()->scheme().value_or("");
    auto d = currentDelegate();
    if (detail::equalsIgnoringCase(scheme, "https") &&
        (evaluator || (d && d->implementsWillSendRequestForAuthenticationChallenge()))) {
        Weak<NSURLConnection> weak = me();
        tr.serverTrust = [weak](const std::vector<NSData>& chain, const std::string& host) {
            auto c = weak.lock();
            return c && c->serverTrustDecision(chain, host);
        };
    }

    auto handle = detail::URLTransport::shared().start(
        std::move(tr), std::static_pointer_cast<detail::TransferObserver>(me()));
    bool cancelNow = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (cancelled_) {
            cancelNow = true;
        } else {
            transfer_ = handle;
        }
    }
    if (cancelNow) detail::URLTransport::shared().cancel(handle);
}

void NSURLConnection::serveCached(const Ref<NSCachedURLResponse>& cached) {
    deliverResponse(cached->response());
    if (!cached->data().empty()) deliverData(cached->data());
    if (cancelled_) return;
    if (auto dd = dataDelegate()) dd->connectionDidFinishLoading(me());
    end();
}

void NSURLConnection::deliverResponse(const Ref<NSURLResponse>& response) {
    if (cancelled_) return;
    response_ = response;
    if (auto dd = dataDelegate()) dd->connectionDidReceiveResponse(me(), response);
}

void NSURLConnection::deliverData(const NSData& data) {
    if (cancelled_) return;
    if (auto dd = dataDelegate()) dd->connectionDidReceiveData(me(), data);
}

// ---- transport callbacks (transport thread) ------------------------------------------------------------
void NSURLConnection::transferReceivedResponse(const detail::TransferResponseHead& head) {
    if (cancelled_) return;
    Ref<NSURLRequest> request = currentRequest();
    auto response =
        make<NSHTTPURLResponse>(request->URL(), head.status, head.version, fieldsFrom(head.headers));
    long s = head.status;
    Mode mode = Mode::Stream;
    bool redirect = (s == 301 || s == 302 || s == 303 || s == 307 || s == 308) &&
                    response->valueForHTTPHeaderField("Location");
    std::optional<std::string> challenge = response->valueForHTTPHeaderField("WWW-Authenticate");
    std::unique_lock<std::mutex> lock(mutex_);
    if (redirect) {
        mode = Mode::Redirect;
    } else if (s == 401 && challenge && authenticationMethodOf(*challenge)) {
        mode = Mode::Challenge;
    } else if (s == 304 && revalidating_) {
        mode = Mode::NotModified;
    }
    mode_ = mode;
    pendingResponse_ = response;
    // A later head (curl retrying with a digest) replaces what an earlier one brought.
    heldBody_ = NSData();
    heldBodyDropped_ = false;
    cacheBody_ = NSData();
    offerToCache_ = mode == Mode::Stream && request->HTTPMethod() == "GET" && isCacheableStatus(s) &&
                    !containsDirective(response->valueForHTTPHeaderField("Cache-Control"), "no-store") &&
                    !containsDirective(request->valueForHTTPHeaderField("Cache-Control"), "no-store") &&
                    response->valueForHTTPHeaderField("Vary").value_or("") != "*";
    lock.unlock();
    if (mode == Mode::Stream) {
        auto self = me();
        enqueue({[self, response] { self->deliverResponse(response); }, std::nullopt});
    }
}

void NSURLConnection::transferReceivedData(const detail::TransferHandle& transfer, const std::uint8_t* bytes,
                                           std::size_t length) {
    if (cancelled_) return;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (mode_ != Mode::Stream) {
            // Held, not queued: bounded on its own, so the transport need not wait for it.
            if (!heldBodyDropped_ && heldBody_.length() + length > kMaxHeldBody) {
                heldBodyDropped_ = true;
                heldBody_ = NSData();
            }
            if (!heldBodyDropped_) heldBody_.appendBytes(bytes, length);
            lock.unlock();
            detail::URLTransport::shared().acknowledge(transfer, length);
            return;
        }
        if (offerToCache_) {
            if (cacheBody_.length() + length > kMaxCacheableBody) {
                offerToCache_ = false;
                cacheBody_ = NSData();
            } else {
                cacheBody_.appendBytes(bytes, length);
            }
        }
    }
    enqueue({nullptr, NSData(bytes, length), transfer});
}

void NSURLConnection::transferSentBodyData(std::int64_t totalSent, std::int64_t totalExpected) {
    if (cancelled_) return;
    std::int64_t delta;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        delta = totalSent - lastSent_;
        lastSent_ = totalSent;
    }
    if (delta <= 0) return;
    auto self = me();
    enqueue({[self, delta, totalSent, totalExpected] {
                 if (self->cancelled_) return;
                 if (auto dd = self->dataDelegate()) {
                     dd->connectionDidSendBodyData(self, static_cast<NSInteger>(delta),
                                                   static_cast<NSInteger>(totalSent),
                                                   static_cast<NSInteger>(totalExpected));
                 }
             },
             std::nullopt});
}

void NSURLConnection::transferCompleted(const Ref<NSError>& error) {
    if (cancelled_) return;
    auto self = me();
    enqueue({[self, error] { self->completeTransfer(error); }, std::nullopt});
}

// ---- completion (delegate thread) ----------------------------------------------------------------------
void NSURLConnection::completeTransfer(const Ref<NSError>& error) {
    if (cancelled_) return;
    Mode mode;
    bool trustCancelled;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        mode = mode_;
        trustCancelled = trustCancelled_;
        transfer_.reset();
    }
    if (error) {
        if (trustCancelled) {
            std::string url = currentRequest()->URL()->absoluteString();
            fail(detail::makeURLError(NSURLErrorCancelled, url, "The server's trust was not accepted.",
                                      error));
        } else {
            fail(error);
        }
        return;
    }
    switch (mode) {
        case Mode::Stream:
            finishStreamed(true);
            break;
        case Mode::Redirect:
            followRedirect();
            break;
        case Mode::Challenge:
            challengeHTTP();
            break;
        case Mode::NotModified: {
            Ref<NSCachedURLResponse> cached;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                cached = revalidating_;
            }
            serveCached(cached);
            break;
        }
    }
}

void NSURLConnection::finishStreamed(bool offerToCache) {
    if (cancelled_) return;
    bool offer;
    NSData body;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        offer = offerToCache && offerToCache_;
        body = cacheBody_;
        cacheBody_ = NSData();
    }
    if (offer && response_) {
        auto offered = make<NSCachedURLResponse>(response_, body, Dictionary(), NSURLCacheStorageAllowed);
        Ref<NSCachedURLResponse> toStore = offered;
        if (auto dd = dataDelegate()) {
            if (auto answer = dd->connectionWillCacheResponse(me(), offered)) toStore = *answer;
        }
        if (cancelled_) return;
        if (toStore) NSURLCache::sharedURLCache()->storeCachedResponse(toStore, currentRequest());
    }
    if (auto dd = dataDelegate()) dd->connectionDidFinishLoading(me());
    end();
}

void NSURLConnection::followRedirect() {
    Ref<NSHTTPURLResponse> response;
    NSData body;
    bool dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        response = pendingResponse_;
        body = heldBody_;
        dropped = heldBodyDropped_;
    }
    auto current = currentRequest();
    std::string urlText = current->URL()->absoluteString();
    if (++redirects_ > kMaxRedirects) {
        fail(detail::makeURLError(NSURLErrorHTTPTooManyRedirects, urlText));
        return;
    }
    auto deliverAsFinal = [&] { deliverHeldReply(response, body, dropped); };
    auto location = response->valueForHTTPHeaderField("Location");
    Ref<NSURL> resolved = location ? NSURL::URLWithString(*location, current->URL()) : nullptr;
    Ref<NSURL> target = resolved ? NSURL::URLWithString(resolved->absoluteString()) : nullptr;
    if (!target) {
        deliverAsFinal();
        return;
    }
    auto next = current->mutableCopy();
    next->setURL(target);
    long s = response->statusCode();
    const std::string& method = current->HTTPMethod();
    if ((s == 303 && method != "HEAD") || ((s == 301 || s == 302) && method == "POST")) {
        next->setHTTPMethod("GET");
        next->setHTTPBody(std::nullopt);
        next->setHTTPBodyStream(nullptr);
        next->setValue(std::nullopt, "Content-Type");
        next->setValue(std::nullopt, "Content-Length");
    }
    Ref<NSURLRequest> chosen = next;
    if (auto dd = dataDelegate()) {
        if (auto answer = dd->connectionWillSendRequest(me(), next, response)) chosen = *answer;
    }
    if (cancelled_) return;
    if (!chosen) {
        deliverAsFinal();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        currentRequest_ = chosen;
    }
    beginLoad(chosen);
}

void NSURLConnection::challengeHTTP() {
    Ref<NSHTTPURLResponse> response;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        response = pendingResponse_;
    }
    std::string field = response->valueForHTTPHeaderField("WWW-Authenticate").value_or("");
    auto method = authenticationMethodOf(field).value_or(NSURLAuthenticationMethodHTTPBasic);
    auto url = currentRequest()->URL();
    std::string scheme = detail::asciiLowercase(url->scheme().value_or("http"));
    auto space = make<NSURLProtectionSpace>(
        url->host().value_or(""), url->port().value_or(defaultPort(scheme)), scheme, realmOf(field), method);
    if (!shouldUseCredentialStorage_) {
        auto d = currentDelegate();
        shouldUseCredentialStorage_ = d ? d->connectionShouldUseCredentialStorage(me()).value_or(true) : true;
    }
    if (!lastSpace_ || !lastSpace_->isEqual(*space)) authFailures_ = 0;
    lastSpace_ = space;
    Ref<NSURLCredential> proposed =
        shouldUseCredentialStorage_.value_or(true) ? storedCredential(space) : nullptr;
    auto sender = std::make_shared<ChallengeSender>(me(), nullptr);
    auto challenge =
        make<NSURLAuthenticationChallenge>(space, proposed, authFailures_, response, nullptr, sender);
    openChallenge_ = challenge;
    auto d = currentDelegate();
    if (d && d->implementsWillSendRequestForAuthenticationChallenge()) {
        d->connectionWillSendRequestForAuthenticationChallenge(me(), challenge);
    } else {
        sender->performDefaultHandlingForAuthenticationChallenge(challenge);
    }
}

void NSURLConnection::answerHTTPChallenge(int answer, const Ref<NSURLCredential>& credential) {
    if (cancelled_ || !openChallenge_) return;
    auto challenge = std::move(openChallenge_);
    openChallenge_.reset();
    auto space = challenge->protectionSpace();
    bool digest = space->authenticationMethod() == NSURLAuthenticationMethodHTTPDigest;
    Ref<NSURLCredential> use;
    if (answer == kUse && credential && credential->user()) {
        use = credential;
        if (shouldUseCredentialStorage_.value_or(true) &&
            credential->persistence() != NSURLCredentialPersistenceNone) {
            storeCredential(space, credential);
        }
    } else if (answer == kDefault && challenge->previousFailureCount() == 0 &&
               challenge->proposedCredential()) {
        use = challenge->proposedCredential();
    } else if (answer == kCancel) {
        fail(detail::makeURLError(NSURLErrorUserCancelledAuthentication,
                                  currentRequest()->URL()->absoluteString()));
        return;
    }
    if (use) {
        ++authFailures_;
        launch(currentRequest(), use, digest);
        return;
    }
    // Without a credential the 401 itself is the answer.
    Ref<NSHTTPURLResponse> response;
    NSData body;
    bool dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        response = pendingResponse_;
        body = heldBody_;
        dropped = heldBodyDropped_;
    }
    deliverHeldReply(response, body, dropped);
}

void NSURLConnection::deliverHeldReply(const Ref<NSHTTPURLResponse>& response, const NSData& body,
                                       bool dropped) {
    deliverResponse(response);
    if (dropped) {
        // Never a part of the body passed off as the whole of it.
        fail(NSURLMakeDataLengthExceedsMaximumError(currentRequest()->URL()));
        return;
    }
    if (!body.empty()) deliverData(body);
    finishStreamed(false);
}

// ---- server trust (transport thread) -------------------------------------------------------------------
bool NSURLConnection::serverTrustDecision(const std::vector<NSData>& chain, const std::string& host) {
    if (cancelled_) return false;
    detail::ServerTrustHook evaluator;
    auto wait = std::make_shared<TrustWait>();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (cancelled_) return false;
        evaluator = trustEvaluator_;
        if (!evaluator) trustWait_ = wait;
    }
    if (evaluator) return evaluator(chain, host);

    auto url = currentRequest()->URL();
    auto trust = NSURLProtectionSpace::makeServerTrust(chain, host);
    auto space =
        make<NSURLProtectionSpace>(host, url->port().value_or(443), std::string(NSURLProtectionSpaceHTTPS),
                                   std::nullopt, NSURLAuthenticationMethodServerTrust, trust, chain);
    auto sender = std::make_shared<ChallengeSender>(me(), wait);
    auto challenge = make<NSURLAuthenticationChallenge>(space, nullptr, 0, nullptr, nullptr, sender);
    auto self = me();
    enqueue({[self, challenge] {
                 if (self->cancelled_) return;
                 if (auto d = self->currentDelegate())
                     d->connectionWillSendRequestForAuthenticationChallenge(self, challenge);
             },
             std::nullopt},
            true);  // the transport waits for the answer: no end of turn to wait for
    int answer;
    Ref<NSURLCredential> credential;
    {
        DispatchBlockingScope blocking;
        std::unique_lock<std::mutex> lock(wait->mutex);
        wait->answered.wait(lock, [&] { return wait->answer.has_value() || cancelled_.load(); });
        answer = wait->answer.value_or(kCancel);
        credential = wait->credential;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        trustWait_.reset();
        if (answer == kCancel) trustCancelled_ = true;
    }
    switch (answer) {
        case kUse:
            if (credential && credential->trust()) return true;
            return NSURLProtectionSpace::evaluateTrustByDefault(chain, host);
        case kCancel:
            return false;
        default:
            return NSURLProtectionSpace::evaluateTrustByDefault(chain, host);
    }
}

// ---- convenience loading ---------------------------------------------------------------------------------
namespace {

// Collects a whole load and reports it once.
class CollectingDelegate final : public NSURLConnectionDataDelegate {
  public:
    using Done =
        std::function<void(const Ref<NSURLResponse>&, const std::optional<NSData>&, const Ref<NSError>&)>;
    explicit CollectingDelegate(Done done) : done_(std::move(done)) {}

    void connectionDidReceiveResponse(const Ref<NSURLConnection>& connection,
                                      const Ref<NSURLResponse>& response) override {
        response_ = response;
        data_ = NSData();
        if (response &&
            response->expectedContentLength() > static_cast<long long>(NSURLMaximumInMemoryBodyLength())) {
            refuse(connection);
        }
    }
    void connectionDidReceiveData(const Ref<NSURLConnection>& connection, const NSData& data) override {
        if (data_.length() + data.length() > NSURLMaximumInMemoryBodyLength()) {
            refuse(connection);
            return;
        }
        data_.appendData(data);
    }
    void connectionDidFinishLoading(const Ref<NSURLConnection>&) override {
        done_(response_, data_, nullptr);
    }
    void connectionDidFailWithError(const Ref<NSURLConnection>&, const Ref<NSError>& error) override {
        done_(response_, std::nullopt, error);
    }

  private:
    // The whole body is collected: past the bound the load stops and fails.
    void refuse(const Ref<NSURLConnection>& connection) {
        connection->cancel();
        data_ = NSData();
        auto request = connection->currentRequest();
        done_(response_, std::nullopt,
              NSURLMakeDataLengthExceedsMaximumError(request ? request->URL() : nullptr));
    }

    Done done_;
    Ref<NSURLResponse> response_;
    NSData data_;
};

}  // namespace

std::optional<NSData> NSURLConnection::sendSynchronousRequest(const Ref<NSURLRequest>& request,
                                                              Ref<NSURLResponse>* response,
                                                              Ref<NSError>* error) {
    struct Result {
        std::mutex mutex;
        std::condition_variable cv;
        std::atomic<bool> done{false};
        Ref<NSURLResponse> response;
        std::optional<NSData> data;
        Ref<NSError> error;
    };
    auto result = std::make_shared<Result>();
    auto delegate = std::make_shared<CollectingDelegate>(
        [result](const Ref<NSURLResponse>& r, const std::optional<NSData>& d, const Ref<NSError>& e) {
            std::lock_guard<std::mutex> lock(result->mutex);
            result->response = r;
            result->data = d;
            result->error = e;
            result->done = true;
            result->cv.notify_all();
        });
    auto connection = make<NSURLConnection>(request, delegate, false);
    connection->setDeliversInline();
    connection->start();
    // A quick exchange is often over within microseconds: look before sleeping.
    auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(150);
    while (!result->done.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < until) {
    }
    {
        DispatchBlockingScope blocking;
        std::unique_lock<std::mutex> lock(result->mutex);
        result->cv.wait(lock, [&] { return result->done.load(); });
    }
    if (response) *response = result->response;
    setError(error, result->error);
    return result->data;
}

void NSURLConnection::sendAsynchronousRequest(const Ref<NSURLRequest>& request,
                                              const Ref<NSOperationQueue>& queue, CompletionHandler handler) {
    auto delegate = std::make_shared<CollectingDelegate>(
        [queue, handler](const Ref<NSURLResponse>& r, const std::optional<NSData>& d, const Ref<NSError>& e) {
            if (!handler) return;
            if (queue) {
                queue->addOperationWithBlock([handler, r, d, e] { handler(r, d, e); });
            } else {
                handler(r, d, e);
            }
        });
    auto connection = make<NSURLConnection>(request, delegate, false);
    connection->setDeliversInline();
    connection->start();
}
