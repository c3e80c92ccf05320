#pragma once
// The transport engine beneath URL loading (internal): one thread runs a libcurl multi handle
// and moves the bytes of every transfer in the process, so that keep-alive connections and the
// DNS cache are shared by all of them.
//
// Guarantees:
// - Observer methods run on the transport thread, in order: response head (once), data,
//   completion (exactly once, unless the transfer was cancelled). Upload progress may come at
//   any point before completion. After cancel() the observer gets nothing more once the
//   transport has seen the cancel (a call already running finishes).
// - The idle time-out is measured on real time from the last byte moved in either direction
//   (connecting included): the transfer fails with NSURLErrorTimedOut when nothing moved for
//   that long.
// - A body that ends short of its Content-Length, or a connection closed mid-body, fails the
//   transfer (NSURLErrorNetworkConnectionLost); it never completes as success.
// - The reply head is checked as it is read: a malformed status line, Content-Length values
//   that disagree, or a head over 256 KiB fail the transfer (NSURLErrorBadServerResponse).
// - Bodies are decoded here (gzip, deflate): corrupt data, a stream that ends early or a coding
//   not supported fails the transfer (NSURLErrorCannotDecodeRawData).
// - A request is sent again, once, when its kept-alive connection died before any reply only if
//   its method is GET, HEAD, OPTIONS, PUT or DELETE and its body is not a stream. Any other
//   request goes out at most once: losing its connection fails it (NSURLErrorNetworkConnectionLost).
// - Flow control: body bytes handed to the observer count as undelivered until the consumer
//   takes them (acknowledge()). Once more than flowControlBound() bytes are undelivered the
//   transfer pauses: nothing more is read from its connection and a compressed body stops
//   decoding, so a small reply that inflates to gigabytes costs no more memory than the bound.
//   It resumes when the undelivered bytes fall to a quarter of the bound. A paused transfer's
//   idle time-out stands still (the consumer is slow, not the server) and starts afresh on
//   resuming; cancel() ends it at once.
// - Redirects are never followed here; the caller decides and starts a new transfer.
// - A server-trust hook, when given, is called on the transport thread during the TLS
//   handshake with the presented chain (DER, leaf first) and the host; it may block until a
//   delegate has answered. Its answer decides the handshake; the host name is not checked by
//   the transport then, which leaves that to the hook.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "foundation/NSStream.h"

namespace detail {

using HeaderFields = std::vector<std::pair<std::string, std::string>>;
using ServerTrustHook = std::function<bool(const std::vector<NSData>& chain, const std::string& host)>;

struct TransferRequest {
    std::string url;
    std::string method = "GET";
    HeaderFields headers;
    std::optional<NSData> body;
    Ref<NSInputStream> bodyStream;
    // The stream's length when known (sent as Content-Length); chunked otherwise.
    std::optional<std::uint64_t> bodyStreamLength;
    double timeout = 60;
    // HTTP authentication after a challenge.
    std::optional<std::string> user;
    std::optional<std::string> password;
    bool digest = false;
    ServerTrustHook serverTrust;
};

class Transfer;
using TransferHandle = std::shared_ptr<Transfer>;

// The undelivered bytes past which a transfer pauses (4 MiB; tests may lower it).
std::size_t flowControlBound();

struct TransferResponseHead {
    long status = 0;
    std::string version;
    HeaderFields headers;
};

class TransferObserver {
  public:
    virtual ~TransferObserver() = default;
    virtual void transferReceivedResponse(const TransferResponseHead& head) = 0;
    // The bytes count as undelivered until URLTransport::acknowledge() is called for them.
    virtual void transferReceivedData(const TransferHandle& transfer, const std::uint8_t* bytes,
                                      std::size_t length) = 0;
    // Body bytes sent so far and the total (-1 when unknown).
    virtual void transferSentBodyData(std::int64_t totalSent, std::int64_t totalExpected) = 0;
    // nullptr on success.
    virtual void transferCompleted(const Ref<NSError>& error) = 0;
};

class URLTransport {
  public:
    static URLTransport& shared();

    TransferHandle start(TransferRequest request, std::shared_ptr<TransferObserver> observer);
    // From any thread; safe to repeat and after completion.
    void cancel(const TransferHandle& transfer);
    // From any thread: the consumer has taken `bytes` of the body handed to the observer, which
    // lets a paused transfer resume. Safe after completion or cancel.
    void acknowledge(const TransferHandle& transfer, std::size_t bytes);
    // Transfers started and not yet finished or cancelled (for tests).
    std::size_t activeTransfers() const;

    URLTransport(const URLTransport&) = delete;
    URLTransport& operator=(const URLTransport&) = delete;

  private:
    URLTransport();
    ~URLTransport();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// On the transport thread, queues work to run once the current turn of the transport loop has
// handled every transfer's news (so that a connection hands its callbacks over once per turn,
// not once per event) and answers true; elsewhere answers false and does nothing.
bool runAfterTransportTurn(std::function<void()> work);

// An error in NSURLErrorDomain with the platform's description and the failing URL.
Ref<NSError> makeURLError(long code, const std::string& url, const std::string& reason = std::string(),
                          Ref<NSError> underlying = nullptr);

}  // namespace detail
