#pragma once
// A stand-in for the analytics collector on 127.0.0.1 (an ephemeral port), for tests of the
// upload path.
//
// It accepts POST /app_logs, checks the headers an envelope upload carries, reads the body as an
// envelope record with the project's own record readers, decrypts the entity when the envelope
// says it is encrypted (AES-128-CBC, the key from the envelope's signature, done here
// independently of the library), inflates it and reads the report. Everything received is kept
// for assertions. It answers with a scripted reply record (result code, imprint) or a scripted
// failure: down, slow, an HTTP error status, garbage, a foreign content type, an empty body.
//
// Thread safety: every member may be called from any thread while the collector runs.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sdk/analytics/records/TAEnvelope.h"
#include "sdk/analytics/records/TATUALogEntry.h"
#include "tests/support/LoopbackHTTPServer.h"

namespace testsupport {

// What one upload carried, as decoded.
struct ReceivedEnvelope {
    RecordedRequest request;
    Ref<TAEnvelope> envelope;           // nullptr when the body did not read as one
    Ref<TATUALogEntry> report;          // nullptr when the entity did not decode
    std::vector<std::string> problems;  // header or decoding complaints; empty when all is well
};

class TestCollector {
  public:
    enum class Mode {
        Accept,       // 200, application/x-tally-record, the reply record
        HTTPError,    // the status below, with a reply record body
        Garbage,      // 200, application/x-tally-record, bytes that are no record
        ForeignType,  // 200, text/html
        EmptyBody,    // 200, application/x-tally-record, no body
        Slow,         // the reply after a delay
        Down,         // the connection closes without a reply
    };

    TestCollector();
    ~TestCollector();

    // "http://127.0.0.1:<port>/app_logs"
    std::string url() const;
    // An address on this machine where nothing listens.
    static std::string unreachableURL();

    void setMode(Mode mode);
    void setStatus(int status) {
        std::lock_guard<std::mutex> g(lock_);
        status_ = status;
    }
    void setDelay(double seconds) {
        std::lock_guard<std::mutex> g(lock_);
        delay_ = seconds;
    }
    // The reply record: result code (1 success) and an optional imprint.
    void setReplyCode(std::int32_t code) {
        std::lock_guard<std::mutex> g(lock_);
        replyCode_ = code;
    }
    void setReplyImprint(Ref<TATImprint> imprint) {
        std::lock_guard<std::mutex> g(lock_);
        imprint_ = std::move(imprint);
    }

    std::vector<ReceivedEnvelope> received() const;
    std::size_t receivedCount() const;
    bool waitForUploads(std::size_t n, double timeoutSeconds) const;

    // An imprint of the given settings whose checksum the library accepts (the same rule: keys
    // sorted case-insensitively, "%@%@%qi%@" per entry, the version, lower-case MD5).
    static Ref<TATImprint>
    makeImprint(const std::vector<std::pair<std::string, std::optional<std::string>>>& values,
                std::int32_t version = 1, std::int64_t ts = 1700000000000);
    // Decoding used by the collector, for tests that read envelope files directly.
    static ReceivedEnvelope decode(const std::string& body);

    LoopbackHTTPServer& server() { return *server_; }

  private:
    ScriptedReply handle(const RecordedRequest& request);

    std::unique_ptr<LoopbackHTTPServer> server_;
    mutable std::mutex lock_;
    Mode mode_ = Mode::Accept;
    int status_ = 500;
    double delay_ = 0;
    std::int32_t replyCode_ = 1;
    Ref<TATImprint> imprint_;
    std::vector<ReceivedEnvelope> received_;
};

}  // namespace testsupport
