#include "network/NSURLTransport.h"

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <pthread.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "dispatch/SpinWait.h"
#include "foundation/NSURL.h"
#include "network/NSURLResponse.h"
#include "network/NetworkInternal.h"
#include "network/NetworkTesting.h"

namespace detail {

namespace {

using Clock = std::chrono::steady_clock;

// Body stream exhausted or unreadable.
constexpr long kBodyStreamExhausted = -1021;

const char* descriptionFor(long code) {
    switch (code) {
        case NSURLErrorCancelled:
            return "cancelled";
        case NSURLErrorBadURL:
            return "bad URL";
        case NSURLErrorTimedOut:
            return "The request timed out.";
        case NSURLErrorUnsupportedURL:
            return "unsupported URL";
        case NSURLErrorCannotFindHost:
            return "A server with the specified hostname could not be found.";
        case NSURLErrorCannotConnectToHost:
            return "Could not connect to the server.";
        case NSURLErrorNetworkConnectionLost:
            return "The network connection was lost.";
        case NSURLErrorHTTPTooManyRedirects:
            return "too many HTTP redirects";
        case NSURLErrorResourceUnavailable:
            return "The requested resource is not available.";
        case NSURLErrorBadServerResponse:
            return "bad server response";
        case NSURLErrorUserCancelledAuthentication:
            return "cancelled";
        case NSURLErrorUserAuthenticationRequired:
            return "authentication required";
        case NSURLErrorCannotDecodeRawData:
            return "cannot decode raw data";
        case NSURLErrorCannotParseResponse:
            return "cannot parse response";
        case kBodyStreamExhausted:
            return "request body stream exhausted";
        case NSURLErrorFileDoesNotExist:
            return "The requested URL was not found on this server.";
        case NSURLErrorFileIsDirectory:
            return "file is directory";
        case NSURLErrorDataLengthExceedsMaximum:
            return "resource exceeds maximum size";
        case NSURLErrorSecureConnectionFailed:
            return "An SSL error has occurred and a secure connection to the server cannot be made.";
        case NSURLErrorServerCertificateUntrusted:
            return "The certificate for this server is invalid.";
        default:
            return "unknown error";
    }
}

long codeForCurl(CURLcode c) {
    switch (c) {
        case CURLE_UNSUPPORTED_PROTOCOL:
            return NSURLErrorUnsupportedURL;
        case CURLE_URL_MALFORMAT:
            return NSURLErrorBadURL;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return NSURLErrorCannotFindHost;
        case CURLE_COULDNT_CONNECT:
            return NSURLErrorCannotConnectToHost;
        case CURLE_OPERATION_TIMEDOUT:
            return NSURLErrorTimedOut;
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
            return NSURLErrorNetworkConnectionLost;
        case CURLE_WEIRD_SERVER_REPLY:
            return NSURLErrorBadServerResponse;
        case CURLE_BAD_CONTENT_ENCODING:
            return NSURLErrorCannotDecodeRawData;
        case CURLE_TOO_MANY_REDIRECTS:
            return NSURLErrorHTTPTooManyRedirects;
        case CURLE_PEER_FAILED_VERIFICATION:
            return NSURLErrorServerCertificateUntrusted;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
            return NSURLErrorSecureConnectionFailed;
        case CURLE_READ_ERROR:
        case CURLE_SEND_FAIL_REWIND:
            return kBodyStreamExhausted;
        default:
            return NSURLErrorUnknown;
    }
}

}  // namespace

Ref<NSError> makeURLError(long code, const std::string& url, const std::string& reason,
                          Ref<NSError> underlying) {
    Dictionary info = Dictionary::mutableDictionary();
    info.setObject(NSLocalizedDescriptionKey, std::string(descriptionFor(code)));
    if (!url.empty()) {
        if (auto u = NSURL::URLWithString(url)) info.setObject(NSURLErrorFailingURLErrorKey, u);
        info.setObject(NSURLErrorFailingURLStringErrorKey, url);
    }
    if (!reason.empty()) info.setObject(NSLocalizedFailureReasonErrorKey, reason);
    if (underlying) info.setObject(NSUnderlyingErrorKey, underlying);
    return NSError::errorWithDomain(NSURLErrorDomain, code, info);
}

// ---- flow control ------------------------------------------------------------------------------------
namespace {
constexpr std::size_t kDefaultFlowControlBound = 4 * 1024 * 1024;
std::atomic<std::size_t> flowBound{kDefaultFlowControlBound};
std::atomic<std::int64_t> largestUndelivered{0};

void noteUndelivered(std::int64_t bytes) {
    std::int64_t seen = largestUndelivered.load(std::memory_order_relaxed);
    while (bytes > seen &&
           !largestUndelivered.compare_exchange_weak(seen, bytes, std::memory_order_relaxed)) {
    }
}
}  // namespace

std::size_t flowControlBound() {
    return flowBound.load(std::memory_order_relaxed);
}

// ---- content decoding ------------------------------------------------------------------------------
// Undoes a gzip or deflate Content-Encoding. The transport decodes bodies itself rather than
// leaving it to libcurl, which hands on a stream cut short as if it were whole: here a body
// whose compressed stream has not reached its end when the transfer ends is an error.
class BodyDecoder {
  public:
    enum class Kind { None, Gzip, Deflate };

    ~BodyDecoder() { reset(Kind::None); }

    void reset(Kind kind) {
        if (open_) inflateEnd(&stream_);
        open_ = false;
        kind_ = kind;
        ended_ = false;
        started_ = false;
        failed_ = false;
        rawTried_ = false;
        outputPending_ = false;
    }
    bool active() const { return kind_ != Kind::None; }
    bool failed() const { return failed_; }
    // Whether the body is whole: nothing came, or the compressed stream reached its end.
    bool complete() const { return !active() || !started_ || ended_; }

    enum class Result { Done, Stopped, Failed };

    // Decodes the bytes and hands the output to sink, one block at a time, until the input is used
    // up or stop() answers true after a block; *consumed gets the input bytes taken. A stopped
    // decoder may hold output still to come: the next call, even with no input, hands it on first.
    template <typename Sink, typename Stop>
    Result decode(const std::uint8_t* bytes, std::size_t length, std::size_t* consumed, Sink&& sink,
                  Stop&& stop) {
        *consumed = 0;
        if (failed_) return Result::Failed;
        if (!open_ && !open(kind_ == Kind::Gzip ? 16 + MAX_WBITS : MAX_WBITS)) return Result::Failed;
        started_ = started_ || length > 0;
        stream_.next_in = const_cast<Bytef*>(bytes);
        stream_.avail_in = static_cast<uInt>(length);
        std::uint8_t out[16384];
        // A block that filled the output may leave more output in the stream with no input left.
        while ((stream_.avail_in > 0 || outputPending_) && !ended_) {
            stream_.next_out = out;
            stream_.avail_out = sizeof out;
            int rc = inflate(&stream_, Z_NO_FLUSH);
            std::size_t produced = sizeof out - stream_.avail_out;
            outputPending_ = stream_.avail_out == 0;
            if (rc == Z_DATA_ERROR && kind_ == Kind::Deflate && !rawTried_ && stream_.total_out == 0) {
                // Some servers send a bare deflate stream without its zlib wrapper.
                rawTried_ = true;
                inflateEnd(&stream_);
                open_ = false;
                if (!open(-MAX_WBITS)) return Result::Failed;
                stream_.next_in = const_cast<Bytef*>(bytes);
                stream_.avail_in = static_cast<uInt>(length);
                continue;
            }
            if (rc == Z_BUF_ERROR && produced == 0 && stream_.avail_in == 0) {
                outputPending_ = false;  // nothing more until more input comes
                break;
            }
            if (rc != Z_OK && rc != Z_STREAM_END && !(rc == Z_BUF_ERROR && produced > 0)) {
                failed_ = true;
                return Result::Failed;
            }
            if (produced) sink(out, produced);
            if (rc == Z_STREAM_END) {
                outputPending_ = false;
                // Another gzip member may follow; anything else after the end is ignored.
                if (kind_ == Kind::Gzip && stream_.avail_in >= 2 && stream_.next_in[0] == 0x1f &&
                    stream_.next_in[1] == 0x8b) {
                    inflateReset(&stream_);
                } else {
                    ended_ = true;
                }
            }
            if (produced && (stream_.avail_in > 0 || outputPending_) && !ended_ && stop()) {
                *consumed = length - stream_.avail_in;
                return Result::Stopped;
            }
        }
        *consumed = length;
        return Result::Done;
    }

  private:
    bool open(int windowBits) {
        stream_ = z_stream();
        if (inflateInit2(&stream_, windowBits) != Z_OK) {
            failed_ = true;
            return false;
        }
        open_ = true;
        return true;
    }

    z_stream stream_{};
    Kind kind_ = Kind::None;
    bool open_ = false;
    bool ended_ = false;
    bool started_ = false;
    bool failed_ = false;
    bool rawTried_ = false;
    bool outputPending_ = false;
};

// ---- one transfer ---------------------------------------------------------------------------------
class Transfer : public std::enable_shared_from_this<Transfer> {
  public:
    TransferRequest request;
    std::shared_ptr<TransferObserver> observer;
    std::atomic<bool> cancelled{false};
    // Body bytes handed to the observer and not yet acknowledged by the consumer.
    std::atomic<std::int64_t> undelivered{0};
    // Paused for the consumer: set on the transport thread, read by acknowledge().
    std::atomic<bool> paused{false};

    // Transport thread only from here on.
    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;
    bool finished = false;
    TransferResponseHead head;
    bool inHead = false;
    bool headDelivered = false;
    Clock::time_point lastActivity = Clock::now();
    double idleLimit = 60;
    std::int64_t streamSent = 0;
    std::int64_t lastReportedSent = 0;
    std::int64_t expectedSent = -1;
    bool bodyOpened = false;
    Ref<NSError> bodyError;
    bool trustRejected = false;
    std::string host;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    // A reply the transport refused on its own reading (code and reason); 0 when none.
    long replyError = 0;
    std::string replyErrorReason;
    // The head being read: its bytes so far and the Content-Length it declared.
    std::size_t headBytes = 0;
    std::optional<std::uint64_t> declaredLength;
    BodyDecoder decoder;
    // After a pause libcurl hands the paused block over again from its first byte: this many of
    // those bytes were decoded already.
    std::size_t redelivered = 0;
    // Each time libcurl is about to send the request: how often it did, whether any reply line
    // came since the last time, and whether a new send was refused (see onRequestReady).
    int sends = 0;
    int resends = 0;
    bool repliedSinceSend = false;
    bool resendRefused = false;

    // Whether the request may go out again after its connection died with no reply: the server
    // may have acted on the first copy, so only methods whose repetition changes nothing, with a
    // body that can be sent again, qualify.
    bool mayResend() const {
        const std::string& m = request.method;
        bool idempotent = m == "GET" || m == "HEAD" || m == "OPTIONS" || m == "PUT" || m == "DELETE";
        return idempotent && !request.bodyStream;
    }

    void touch() { lastActivity = Clock::now(); }
    bool overBound() const { return undelivered.load() > static_cast<std::int64_t>(flowControlBound()); }
    bool drained() const { return undelivered.load() <= static_cast<std::int64_t>(flowControlBound() / 4); }
    std::int64_t bytesSent() const {
        if (request.bodyStream) return streamSent;
        curl_off_t up = 0;
        if (easy) curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &up);
        return std::min<std::int64_t>(up, expectedSent < 0 ? up : expectedSent);
    }
    void reportUpload() {
        if (!request.body && !request.bodyStream) return;
        std::int64_t sent = bytesSent();
        if (sent > lastReportedSent && observer && !cancelled) {
            lastReportedSent = sent;
            observer->transferSentBodyData(sent, expectedSent);
        }
    }
};

namespace {

// The largest reply head read: far above any real server's, and below libcurl's own limit so
// that an oversized head is refused here, as a bad reply, rather than as a lost connection.
constexpr std::size_t kMaxHeadBytes = 256 * 1024;

// Refuses the reply as malformed: the transfer stops and fails with the code.
size_t refuseReply(Transfer* t, long code, std::string reason) {
    t->replyError = code;
    t->replyErrorReason = std::move(reason);
    return 0;  // fewer bytes than offered: libcurl aborts the transfer
}

// "HTTP/1.1 200 OK", "HTTP/2 404": a version, one space, three digits, then a space or the end.
std::optional<long> parseStatusLine(std::string_view line, std::string_view* version) {
    std::size_t sp = line.find(' ');
    if (sp == std::string_view::npos) return std::nullopt;
    std::string_view v = line.substr(0, sp);
    std::string_view number = v.substr(5);
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    bool versionOk = (number.size() == 1 && isDigit(number[0])) ||
                     (number.size() == 3 && isDigit(number[0]) && number[1] == '.' && isDigit(number[2]));
    if (!versionOk) return std::nullopt;
    std::string_view rest = line.substr(sp + 1);
    if (rest.size() < 3 || !isDigit(rest[0]) || !isDigit(rest[1]) || !isDigit(rest[2])) return std::nullopt;
    if (rest.size() > 3 && rest[3] != ' ') return std::nullopt;
    *version = v;
    return (rest[0] - '0') * 100 + (rest[1] - '0') * 10 + (rest[2] - '0');
}

// Folds one Content-Length field (possibly a list) into the length declared so far; false when
// the field is not a length or names another length than an earlier one.
bool foldContentLength(Transfer* t, std::string_view field) {
    while (!field.empty()) {
        std::size_t comma = field.find(',');
        std::string_view item = trimWhitespace(field.substr(0, comma));
        field = comma == std::string_view::npos ? std::string_view() : field.substr(comma + 1);
        if (item.empty() || item.size() > 18 ||
            item.find_first_not_of("0123456789") != std::string_view::npos)
            return false;
        std::uint64_t value = 0;
        for (char c : item) value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (t->declaredLength && *t->declaredLength != value) return false;
        t->declaredLength = value;
    }
    return true;
}

// Chooses the decoder for the final head's Content-Encoding; false for a coding not supported.
bool chooseDecoder(Transfer* t) {
    BodyDecoder::Kind kind = BodyDecoder::Kind::None;
    int codings = 0;
    for (auto& [name, value] : t->head.headers) {
        if (!equalsIgnoringCase(name, "Content-Encoding")) continue;
        std::string_view list = value;
        while (!list.empty()) {
            std::size_t comma = list.find(',');
            std::string_view item = trimWhitespace(list.substr(0, comma));
            list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
            if (item.empty() || equalsIgnoringCase(item, "identity")) continue;
            ++codings;
            if (equalsIgnoringCase(item, "gzip") || equalsIgnoringCase(item, "x-gzip")) {
                kind = BodyDecoder::Kind::Gzip;
            } else if (equalsIgnoringCase(item, "deflate")) {
                kind = BodyDecoder::Kind::Deflate;
            } else {
                return false;
            }
        }
    }
    if (codings > 1) return false;
    t->decoder.reset(kind);
    return true;
}

size_t onHeader(char* buffer, size_t size, size_t count, void* userdata) {
    auto* t = static_cast<Transfer*>(userdata);
    std::size_t length = size * count;
    t->touch();
    if (t->cancelled) return 0;
    t->repliedSinceSend = true;
    std::string_view line(buffer, length);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.starts_with("HTTP/")) {
        t->head = TransferResponseHead();
        t->inHead = true;
        t->headBytes = length;
        t->declaredLength.reset();
        std::string_view version;
        auto status = parseStatusLine(line, &version);
        if (!status)
            return refuseReply(t, NSURLErrorBadServerResponse, "The reply's status line is malformed.");
        t->head.version = std::string(version);
        t->head.status = *status;
        return length;
    }
    if (!t->inHead) return length;
    t->headBytes += length;
    if (t->headBytes > kMaxHeadBytes)
        return refuseReply(t, NSURLErrorBadServerResponse, "The reply's header fields are too large.");
    if (line.empty()) {
        t->inHead = false;
        if (t->head.status >= 100 && t->head.status < 200) return length;  // interim reply
        if (!chooseDecoder(t)) {
            return refuseReply(t, NSURLErrorCannotDecodeRawData,
                               "The reply's content coding is not supported.");
        }
        t->headDelivered = true;
        t->reportUpload();  // the body's progress comes before the reply
        t->observer->transferReceivedResponse(t->head);
        return length;
    }
    if ((line.front() == ' ' || line.front() == '\t') && !t->head.headers.empty()) {
        auto& value = t->head.headers.back().second;
        value += ' ';
        value += trimWhitespace(line);
        return length;
    }
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return length;  // not a field: ignored
    std::string_view name = trimWhitespace(line.substr(0, colon));
    std::string_view value = trimWhitespace(line.substr(colon + 1));
    // Two lengths that disagree leave the body's end in doubt, which could splice replies.
    if (equalsIgnoringCase(name, "Content-Length") && !foldContentLength(t, value)) {
        return refuseReply(t, NSURLErrorBadServerResponse,
                           "The reply declares conflicting Content-Length values.");
    }
    t->head.headers.emplace_back(std::string(name), std::string(value));
    return length;
}

// Hands decoded body bytes to the observer, counting them as undelivered.
void handOver(Transfer* t, const TransferHandle& self, const std::uint8_t* bytes, std::size_t length) {
    if (t->cancelled || !length) return;
    noteUndelivered(t->undelivered.fetch_add(static_cast<std::int64_t>(length)) +
                    static_cast<std::int64_t>(length));
    t->observer->transferReceivedData(self, bytes, length);
}

// Stops reading until the consumer catches up: libcurl keeps the block and hands it over again,
// from its first byte, once resumed.
size_t pauseForConsumer(Transfer* t) {
    t->paused.store(true);
    return CURL_WRITEFUNC_PAUSE;
}

size_t onData(char* buffer, size_t size, size_t count, void* userdata) {
    auto* t = static_cast<Transfer*>(userdata);
    std::size_t length = size * count;
    t->touch();
    if (t->cancelled) return 0;
    if (!length) return length;
    if (t->overBound()) return pauseForConsumer(t);
    // Bytes of a block handed over again that were decoded before the pause are skipped.
    std::size_t skip = std::min(t->redelivered, length);
    t->redelivered -= skip;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(buffer) + skip;
    std::size_t rest = length - skip;
    TransferHandle self = t->shared_from_this();
    if (!t->decoder.active()) {
        handOver(t, self, bytes, rest);
        return t->cancelled ? 0 : length;
    }
    // One block of a compressed body may inflate a thousandfold: decoding stops at the bound too.
    std::size_t consumed = 0;
    auto result = t->decoder.decode(
        bytes, rest, &consumed, [&](const std::uint8_t* out, std::size_t n) { handOver(t, self, out, n); },
        [t] { return t->cancelled || t->overBound(); });
    if (result == BodyDecoder::Result::Failed)
        return refuseReply(t, NSURLErrorCannotDecodeRawData, "The reply's body cannot be decoded.");
    if (t->cancelled) return 0;
    if (result == BodyDecoder::Result::Stopped) {
        t->redelivered = skip + consumed;
        return pauseForConsumer(t);
    }
    return length;
}

size_t onReadBody(char* buffer, size_t size, size_t count, void* userdata) {
    auto* t = static_cast<Transfer*>(userdata);
    t->touch();
    if (t->cancelled) return CURL_READFUNC_ABORT;
    auto& stream = t->request.bodyStream;
    if (!t->bodyOpened) {
        t->bodyOpened = true;
        if (stream->streamStatus() == NSStreamStatusNotOpen) stream->open();
    }
    if (stream->streamStatus() == NSStreamStatusError) {
        t->bodyError = stream->streamError();
        return CURL_READFUNC_ABORT;
    }
    NSInteger n = stream->read(reinterpret_cast<std::uint8_t*>(buffer), size * count);
    if (n < 0) {
        t->bodyError = stream->streamError();
        if (!t->bodyError) t->bodyError = makeURLError(kBodyStreamExhausted, t->request.url);
        return CURL_READFUNC_ABORT;
    }
    t->streamSent += n;
    return static_cast<size_t>(n);
}

int onSeekBody(void* userdata, curl_off_t offset, int origin) {
    auto* t = static_cast<Transfer*>(userdata);
    // A stream can only be "rewound" before anything was read from it.
    if (origin == SEEK_SET && offset == 0 && t->streamSent == 0) return CURL_SEEKFUNC_OK;
    // libcurl rewinds before sending the request again on a new connection (see onRequestReady).
    if (t->sends > 0 && !t->repliedSinceSend) t->resendRefused = true;
    return CURL_SEEKFUNC_CANTSEEK;
}

int onProgress(void* userdata, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
    auto* t = static_cast<Transfer*>(userdata);
    if (t->cancelled) return 1;
    static_cast<void>(dlnow);
    static_cast<void>(ulnow);
    t->reportUpload();
    return 0;
}

// libcurl sends a request again on a new connection when a kept-alive one died before any reply
// (and may do so more than once when several idle connections were dead). That is sound only for
// a request whose repetition does no harm, and then once: anything else fails as a lost
// connection and its caller decides. A new send after a reply (an authentication round) is a new
// request, not a repetition.
int onRequestReady(void* userdata, char*, char*, int, int) {
    auto* t = static_cast<Transfer*>(userdata);
    if (t->cancelled) return CURL_PREREQFUNC_ABORT;
    bool repeat = t->sends > 0 && !t->repliedSinceSend;
    ++t->sends;
    t->repliedSinceSend = false;
    if (repeat && (!t->mayResend() || ++t->resends > 1)) {
        t->resendRefused = true;
        return CURL_PREREQFUNC_ABORT;
    }
    return CURL_PREREQFUNC_OK;
}

bool requestWasSent(CURL* easy) {
    long sent = 0;
    return easy && curl_easy_getinfo(easy, CURLINFO_REQUEST_SIZE, &sent) == CURLE_OK && sent > 0;
}

int verifyChain(X509_STORE_CTX* ctx, void* arg) {
    auto* t = static_cast<Transfer*>(arg);
    std::vector<NSData> chain;
    auto addDER = [&](X509* cert) {
        unsigned char* der = nullptr;
        int len = i2d_X509(cert, &der);
        if (len > 0 && der) chain.emplace_back(der, static_cast<std::size_t>(len));
        OPENSSL_free(der);
    };
    X509* leaf = X509_STORE_CTX_get0_cert(ctx);
    if (leaf) addDER(leaf);
    if (STACK_OF(X509)* rest = X509_STORE_CTX_get0_untrusted(ctx)) {
        for (int i = 0; i < sk_X509_num(rest); ++i) {
            X509* c = sk_X509_value(rest, i);
            if (leaf && X509_cmp(c, leaf) == 0) continue;
            addDER(c);
        }
    }
    bool accepted = !t->cancelled && t->request.serverTrust && t->request.serverTrust(chain, t->host);
    t->touch();
    if (!accepted) {
        t->trustRejected = true;
        X509_STORE_CTX_set_error(ctx, X509_V_ERR_APPLICATION_VERIFICATION);
        return 0;
    }
    X509_STORE_CTX_set_error(ctx, X509_V_OK);
    return 1;
}

CURLcode onSSLContext(CURL*, void* sslContext, void* userdata) {
    SSL_CTX_set_cert_verify_callback(static_cast<SSL_CTX*>(sslContext), verifyChain, userdata);
    return CURLE_OK;
}

}  // namespace

// ---- the engine -----------------------------------------------------------------------------------
namespace {
thread_local std::vector<std::function<void()>>* afterTurn = nullptr;
// Easy handles kept for reuse: a reset handle keeps nothing of its last transfer.
constexpr std::size_t kSpareHandles = 16;
}  // namespace

bool runAfterTransportTurn(std::function<void()> work) {
    if (!afterTurn) return false;
    afterTurn->push_back(std::move(work));
    return true;
}

struct URLTransport::Impl {
    CURLM* multi = nullptr;
    std::thread thread;
    std::mutex mutex;  // guards the two queues
    std::deque<TransferHandle> toStart;
    std::deque<TransferHandle> toCancel;
    std::atomic<std::size_t> active{0};
    std::atomic<std::uint64_t> commands{0};  // counts queued starts and cancels
    // Transport thread only.
    std::unordered_map<CURL*, TransferHandle> running;
    std::vector<CURL*> spare;

    // Whether the transport thread sleeps in curl_multi_poll; only then does a command need the
    // wake-up's system call. Pairs with the loop: it marks itself sleeping, then looks at
    // `commands`; a command is counted, then looks at `sleeping`.
    std::atomic<bool> sleeping{false};
    detail::AdaptiveSpin spin{5000, 1000000, 200000};  // the transport thread only

    void wake() {
        if (sleeping.load(std::memory_order_seq_cst) && sleeping.exchange(false, std::memory_order_seq_cst))
            curl_multi_wakeup(multi);
    }
    void loop();
    void begin(const TransferHandle& t);
    void finish(const TransferHandle& t, CURLcode code, Ref<NSError> error = nullptr);
};

URLTransport& URLTransport::shared() {
    // Never destroyed: the thread serves transfers until the process ends.
    static URLTransport* transport = new URLTransport();
    return *transport;
}

URLTransport::URLTransport() : impl_(std::make_unique<Impl>()) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    impl_->multi = curl_multi_init();
    impl_->thread = std::thread([impl = impl_.get()] { impl->loop(); });
    impl_->thread.detach();
}

URLTransport::~URLTransport() = default;

TransferHandle URLTransport::start(TransferRequest request, std::shared_ptr<TransferObserver> observer) {
    auto t = std::make_shared<Transfer>();
    t->request = std::move(request);
    t->observer = std::move(observer);
    impl_->active.fetch_add(1);
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->toStart.push_back(t);
    }
    impl_->commands.fetch_add(1, std::memory_order_seq_cst);
    impl_->wake();
    return t;
}

void URLTransport::cancel(const TransferHandle& transfer) {
    if (!transfer || transfer->cancelled.exchange(true)) return;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->toCancel.push_back(transfer);
    }
    impl_->commands.fetch_add(1, std::memory_order_seq_cst);
    impl_->wake();
}

void URLTransport::acknowledge(const TransferHandle& transfer, std::size_t bytes) {
    if (!transfer || !bytes) return;
    transfer->undelivered.fetch_sub(static_cast<std::int64_t>(bytes));
    // The transport thread marks a transfer paused before it looks at the count again, so either
    // it sees this drain or this sees the pause and wakes it.
    if (transfer->paused.load() && transfer->drained() && !transfer->cancelled) {
        impl_->commands.fetch_add(1, std::memory_order_seq_cst);
        impl_->wake();
    }
}

std::size_t URLTransport::activeTransfers() const {
    return impl_->active.load();
}

void URLTransport::Impl::begin(const TransferHandle& t) {
    if (t->cancelled) {
        finish(t, CURLE_OK);
        return;
    }
    const TransferRequest& r = t->request;
    CURL* e = nullptr;
    if (!spare.empty()) {
        e = spare.back();
        spare.pop_back();
    } else {
        e = curl_easy_init();
    }
    if (!e) {
        finish(t, CURLE_OUT_OF_MEMORY);
        return;
    }
    t->easy = e;
    t->idleLimit = r.timeout > 0 && std::isfinite(r.timeout) ? r.timeout : 60;
    t->touch();
    // Only the server-trust hook needs the host: a plain request skips parsing its URL again.
    if (r.serverTrust) {
        if (auto url = NSURL::URLWithString(r.url)) t->host = url->host().value_or("");
    }

    curl_easy_setopt(e, CURLOPT_PRIVATE, t.get());
    curl_easy_setopt(e, CURLOPT_URL, r.url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t->errorBuffer);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, t.get());
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, onData);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, t.get());
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, t.get());
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, std::max(1L, static_cast<long>(t->idleLimit * 1000)));
    curl_easy_setopt(e, CURLOPT_TCP_NODELAY, 1L);
    curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, onRequestReady);
    curl_easy_setopt(e, CURLOPT_PREREQDATA, t.get());

    // Header fields; the body's own fields come from the body.
    std::optional<std::string> acceptEncoding;
    for (auto& [name, value] : r.headers) {
        if (equalsIgnoringCase(name, "Content-Length") || equalsIgnoringCase(name, "Transfer-Encoding") ||
            equalsIgnoringCase(name, "Expect")) {
            continue;
        }
        if (equalsIgnoringCase(name, "Accept-Encoding")) {
            acceptEncoding = value;
            continue;
        }
        std::string line = value.empty() ? name + ";" : name + ": " + value;
        t->headerList = curl_slist_append(t->headerList, line.c_str());
    }
    t->headerList = curl_slist_append(t->headerList, "Expect:");
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, t->headerList);
    curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, acceptEncoding ? acceptEncoding->c_str() : "gzip, deflate");
    // Bodies are decoded here (see BodyDecoder); libcurl only asks for the codings.
    curl_easy_setopt(e, CURLOPT_HTTP_CONTENT_DECODING, 0L);

    // Method and body.
    bool hasData = r.body && !r.body->empty();
    bool hasStream = static_cast<bool>(r.bodyStream);
    if (r.method == "HEAD") {
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else if (r.method == "GET" && !hasData && !hasStream) {
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    } else if (hasData || hasStream || r.method == "POST") {
        curl_easy_setopt(e, CURLOPT_POST, 1L);
        if (hasStream) {
            curl_easy_setopt(e, CURLOPT_READFUNCTION, onReadBody);
            curl_easy_setopt(e, CURLOPT_READDATA, t.get());
            curl_easy_setopt(e, CURLOPT_SEEKFUNCTION, onSeekBody);
            curl_easy_setopt(e, CURLOPT_SEEKDATA, t.get());
            curl_off_t length = r.bodyStreamLength ? static_cast<curl_off_t>(*r.bodyStreamLength) : -1;
            curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, length);
            t->expectedSent = length;
        } else if (hasData) {
            curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.body->length()));
            curl_easy_setopt(e, CURLOPT_POSTFIELDS, r.body->bytes());
            t->expectedSent = static_cast<std::int64_t>(r.body->length());
        } else {
            curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
            curl_easy_setopt(e, CURLOPT_POSTFIELDS, "");
        }
        if (r.method != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, r.method.c_str());
    } else {
        curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, r.method.c_str());
    }

    if (r.user) {
        curl_easy_setopt(e, CURLOPT_USERNAME, r.user->c_str());
        curl_easy_setopt(e, CURLOPT_PASSWORD, r.password.value_or("").c_str());
        curl_easy_setopt(e, CURLOPT_HTTPAUTH, r.digest ? CURLAUTH_DIGEST : CURLAUTH_BASIC);
    }

    if (r.serverTrust) {
        // The hook decides every handshake: no cached session or connection may skip it.
        curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, onSSLContext);
        curl_easy_setopt(e, CURLOPT_SSL_CTX_DATA, t.get());
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 0L);
        curl_easy_setopt(e, CURLOPT_SSL_SESSIONID_CACHE, 0L);
        if (r.url.starts_with("https:") || r.url.starts_with("HTTPS:")) {
            curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);
            curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);
        }
    }

    running.emplace(e, t);
    if (curl_multi_add_handle(multi, e) != CURLM_OK) {
        running.erase(e);
        finish(t, CURLE_FAILED_INIT);
    }
}

void URLTransport::Impl::finish(const TransferHandle& t, CURLcode code, Ref<NSError> error) {
    if (t->finished) return;
    t->finished = true;
    if (t->easy) {
        curl_multi_remove_handle(multi, t->easy);
        running.erase(t->easy);
    }
    if (!t->cancelled && !error) {
        if (t->replyError) {
            error = makeURLError(t->replyError, t->request.url, t->replyErrorReason);
        } else if (t->resendRefused) {
            error = makeURLError(NSURLErrorNetworkConnectionLost, t->request.url,
                                 "The connection closed after the request was sent; it is not sent again.");
        } else if (code == CURLE_OK) {
            t->reportUpload();
            if (!t->headDelivered) {
                error = makeURLError(NSURLErrorCannotParseResponse, t->request.url);
            } else if (!t->decoder.complete()) {
                error = makeURLError(NSURLErrorCannotDecodeRawData, t->request.url,
                                     "The reply's compressed body ends before its stream does.");
            }
        } else if (code == CURLE_UNSUPPORTED_PROTOCOL && requestWasSent(t->easy)) {
            // The scheme was accepted and the request went out: what came back is not HTTP.
            std::string reason = t->errorBuffer[0] ? t->errorBuffer : "The reply is not an HTTP reply.";
            error = makeURLError(NSURLErrorBadServerResponse, t->request.url, reason);
        } else if (t->bodyError) {
            error = makeURLError(kBodyStreamExhausted, t->request.url, t->errorBuffer, t->bodyError);
        } else if (t->trustRejected) {
            error = makeURLError(NSURLErrorServerCertificateUntrusted, t->request.url, t->errorBuffer);
        } else {
            long c = codeForCurl(code);
            if (c == NSURLErrorUnknown && code == CURLE_ABORTED_BY_CALLBACK) c = NSURLErrorCancelled;
            std::string reason = t->errorBuffer[0] ? t->errorBuffer : curl_easy_strerror(code);
            error = makeURLError(c, t->request.url, reason);
        }
    }
    if (t->bodyOpened && t->request.bodyStream) t->request.bodyStream->close();
    auto observer = std::move(t->observer);
    if (t->easy) {
        // A handle stopped while paused still holds the block it kept: it is not reused.
        if (spare.size() < kSpareHandles && !t->paused.load()) {
            curl_easy_reset(t->easy);
            spare.push_back(t->easy);
        } else {
            curl_easy_cleanup(t->easy);
        }
    }
    t->easy = nullptr;
    if (t->headerList) curl_slist_free_all(t->headerList);
    t->headerList = nullptr;
    t->request.serverTrust = nullptr;
    active.fetch_sub(1);
    if (observer && !t->cancelled) observer->transferCompleted(error);
}

void URLTransport::Impl::loop() {
    pthread_setname_np(pthread_self(), "URLTransport");
    std::vector<std::function<void()>> deferred;
    afterTurn = &deferred;
    auto runDeferred = [&] {
        while (!deferred.empty()) {
            auto work = std::move(deferred);
            deferred.clear();
            for (auto& w : work) w();
        }
    };
    // Whether anything happened since the thread last waited: then the next news is likely soon.
    bool busy = false;
    for (;;) {
        // Read before taking the queues: any command counted after this is news for the turn.
        std::uint64_t seen = commands.load(std::memory_order_acquire);
        std::deque<TransferHandle> starting, cancelling;
        {
            std::lock_guard<std::mutex> lock(mutex);
            starting.swap(toStart);
            cancelling.swap(toCancel);
        }
        for (auto& t : cancelling) finish(t, CURLE_OK);
        for (auto& t : starting) begin(t);
        if (!starting.empty() || !cancelling.empty()) busy = true;

        int stillRunning = 0;
        curl_multi_perform(multi, &stillRunning);
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
            if (msg->msg != CURLMSG_DONE) continue;
            auto it = running.find(msg->easy_handle);
            if (it == running.end()) continue;
            TransferHandle t = it->second;
            finish(t, msg->data.result);
            busy = true;
        }

        // Idle time-outs, on real time from the last byte moved; paused transfers whose consumer
        // has caught up resume.
        auto now = Clock::now();
        long waitMs = 1000;
        std::vector<TransferHandle> expired, resuming;
        for (auto& [easy, t] : running) {
            if (t->paused.load()) {
                // Waiting for the consumer, not the server: the idle clock stands still.
                if (t->drained()) resuming.push_back(t);
                continue;
            }
            auto deadline = t->lastActivity + std::chrono::duration_cast<Clock::duration>(
                                                  std::chrono::duration<double>(t->idleLimit));
            if (deadline <= now) {
                expired.push_back(t);
            } else {
                auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
                waitMs = std::min<long>(waitMs, static_cast<long>(ms));
            }
        }
        for (auto& t : expired) {
            finish(t, CURLE_OPERATION_TIMEDOUT,
                   makeURLError(NSURLErrorTimedOut, t->request.url, "no data moved within the time-out"));
        }
        for (auto& t : resuming) {
            if (t->finished) continue;
            t->paused.store(false);
            t->touch();
            // libcurl hands the kept block over at once, which may pause the transfer again.
            CURLcode code = curl_easy_pause(t->easy, CURLPAUSE_CONT);
            if (code != CURLE_OK) finish(t, code);
            busy = true;
        }
        runDeferred();
        if (!expired.empty()) continue;

        long curlWait = -1;
        curl_multi_timeout(multi, &curlWait);
        if (curlWait >= 0) waitMs = std::min(waitMs, curlWait);
        if (waitMs <= 0) continue;
        // Right after activity the next news (a reply, the caller's next request) usually comes
        // within microseconds: look for it briefly before going to sleep, which saves a wake-up
        // on each side of a quick exchange. Idle, the thread sleeps at once.
        if (busy) {
            busy = false;
            std::int64_t start = spinClockNanos();
            bool news = spin.spin(
                start, static_cast<std::int64_t>(waitMs) * 1000000,
                [&] { return commands.load(std::memory_order_acquire) != seen; },
                [&] {
                    int ready = 0;
                    curl_multi_poll(multi, nullptr, 0, 0, &ready);
                    return ready > 0;
                });
            if (news) {
                spin.finished(spinClockNanos() - start);
                continue;
            }
            spin.finished(INT64_MAX);  // nothing came soon: spin less next time
        }
        // Commands wake the poll only while the thread sleeps in it (see start()).
        sleeping.store(true, std::memory_order_seq_cst);
        if (commands.load(std::memory_order_seq_cst) != seen) {
            sleeping.store(false, std::memory_order_seq_cst);
            continue;
        }
        curl_multi_poll(multi, nullptr, 0, static_cast<int>(waitMs), nullptr);
        sleeping.store(false, std::memory_order_seq_cst);
    }
}

}  // namespace detail

namespace network_testing {

void setFlowControlBound(std::optional<std::size_t> bytes) {
    detail::flowBound.store(std::max<std::size_t>(bytes.value_or(detail::kDefaultFlowControlBound), 1));
}

std::size_t largestUndeliveredBytes() {
    return static_cast<std::size_t>(std::max<std::int64_t>(detail::largestUndelivered.load(), 0));
}

void resetLargestUndeliveredBytes() {
    detail::largestUndelivered.store(0);
}

}  // namespace network_testing
