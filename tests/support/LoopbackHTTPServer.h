#pragma once
// An HTTP/1.1 server on 127.0.0.1 for tests: started on an ephemeral port by the constructor,
// stopped by stop() or the destructor, answering from a script.
//
// Replies are scripted by path (and optionally method): status, headers and body, with the
// misbehaviours that client code must survive — a delay before the headers, a chunked body, a
// body cut short of its Content-Length, a body trickled slowly, a connection closed mid-body,
// raw bytes instead of a reply, no reply at all — plus redirects and conditional replies (304
// when the request's If-None-Match or If-Modified-Since matches). A handler may compute the
// reply. Every request received is recorded (method, path, query, headers, body) for
// assertions. Connections are kept alive as HTTP/1.1 says; each is served by its own thread.
//
// Socket I/O goes through ServerConnectionIO, so a TLS layer can wrap the accepted socket
// (setConnectionWrapper) without touching the HTTP logic.
//
// Thread safety: every member may be called from any thread while the server runs.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace testsupport {

// One request as the server received it.
struct RecordedRequest {
    std::string method;
    std::string target;  // as on the request line
    std::string path;    // target without the query
    std::string query;   // after "?", "" when none
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    int connection = 0;  // which accepted connection carried it (1, 2, ...)
    bool chunkedBody = false;

    // Ignoring case; nullopt when absent.
    std::optional<std::string> header(const std::string& name) const;
};

// What to answer.
struct ScriptedReply {
    int status = 200;
    std::string reason;  // a standard phrase when empty
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    double delayBeforeHeaders = 0;  // seconds before anything is written
    bool chunked = false;           // Transfer-Encoding: chunked, in pieces of chunkSize
    std::size_t chunkSize = 1024;
    // Declares the whole body's Content-Length but writes only this many bytes, then closes.
    std::optional<std::size_t> truncateAt;
    // Writes the body a few bytes at a time with a pause between (a slow body).
    double trickleDelay = 0;
    std::size_t trickleBytes = 1;
    // Writes the headers and this many body bytes of a chunked body, then closes.
    std::optional<std::size_t> closeMidBodyAt;
    bool omitContentLength = false;  // no length: the body ends when the connection closes
    bool closeAfterReply = false;    // "Connection: close", then close
    bool noReply = false;            // close without writing anything
    std::optional<std::string> raw;  // these exact bytes instead of a reply, then close

    // Validators: sent with the reply; a request whose If-None-Match / If-Modified-Since
    // matches gets 304 Not Modified with no body.
    std::optional<std::string> etag;
    std::optional<std::string> lastModified;

    static ScriptedReply text(std::string body, int status = 200, std::string contentType = "text/plain");
    static ScriptedReply redirect(int status, std::string location);
    ScriptedReply& header(std::string name, std::string value) {
        headers.emplace_back(std::move(name), std::move(value));
        return *this;
    }
};

// The byte channel of one accepted connection; the plain one is the socket itself.
class ServerConnectionIO {
  public:
    virtual ~ServerConnectionIO() = default;
    // Like recv/send: bytes moved, 0 at the peer's end, -1 on failure.
    virtual ssize_t read(void* buffer, std::size_t length) = 0;
    virtual ssize_t write(const void* buffer, std::size_t length) = 0;
};

class LoopbackHTTPServer {
  public:
    using Handler = std::function<ScriptedReply(const RecordedRequest&)>;
    // Wraps an accepted socket (for TLS); nullptr refuses the connection.
    using ConnectionWrapper = std::function<std::unique_ptr<ServerConnectionIO>(int fd)>;

    LoopbackHTTPServer();
    ~LoopbackHTTPServer();
    LoopbackHTTPServer(const LoopbackHTTPServer&) = delete;
    LoopbackHTTPServer& operator=(const LoopbackHTTPServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:<port>"
    std::string baseURL() const;
    // baseURL() + path
    std::string url(const std::string& path) const;
    void setScheme(std::string scheme) { scheme_ = std::move(scheme); }

    // Scripted replies: by method and path, else by path, else the handler, else 404.
    void setReply(const std::string& path, ScriptedReply reply);
    void setReply(const std::string& method, const std::string& path, ScriptedReply reply);
    void setHandler(const std::string& path, Handler handler);
    void setDefaultHandler(Handler handler);
    void setConnectionWrapper(ConnectionWrapper wrapper);

    std::vector<RecordedRequest> requests() const;
    std::size_t requestCount() const;
    // Connections accepted so far.
    int connectionCount() const { return connections_.load(); }
    // Waits (real time) until at least n requests have arrived.
    bool waitForRequests(std::size_t n, double timeoutSeconds) const;

    // Stops accepting, closes every connection, joins the threads. Idempotent.
    void stop();

  private:
    void acceptLoop();
    void serve(int fd, int index);
    std::optional<ScriptedReply> replyFor(const RecordedRequest& request);
    // Sleeps for seconds unless the server stops first; false when it stopped.
    bool pause(double seconds);

    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    int port_ = 0;
    std::string scheme_ = "http";
    std::thread acceptThread_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};

    mutable std::mutex mutex_;  // guards what follows
    mutable std::condition_variable changed_;
    std::map<std::string, ScriptedReply> replies_;  // "METHOD path" or " path"
    std::map<std::string, Handler> handlers_;
    Handler defaultHandler_;
    ConnectionWrapper wrapper_;
    std::vector<RecordedRequest> requests_;
    std::vector<std::thread> workers_;
    std::vector<int> openFds_;
};

// A loopback port bound but not listening: every connection to it is refused at once, and no other
// server can take the port while it lives (a port closed after use may be taken by the next test).
class RefusingPort {
  public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    int port() const { return port_; }
    std::string url(const std::string& path) const;

  private:
    int fd_ = -1;
    int port_ = 0;
};

}  // namespace testsupport
