#pragma once
// A minimal HTTPS server on 127.0.0.1 for trust tests.
//
// It listens on an ephemeral port, presents the given certificate chain, and answers every
// request with one fixed response ("Connection: close"). It counts what it saw, so a test can
// tell a refused handshake (no request bytes ever arrived) from an accepted one: connections
// accepted, handshakes completed and failed, requests answered and request bytes received.
// One thread accepts; each connection gets its own thread. stop() (or the destructor) closes
// everything and waits for the threads.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class HTTPSTestServer {
  public:
    // `chainPEM`: the server's certificate followed by any intermediates; `keyPEM`: its key.
    HTTPSTestServer(std::string chainPEM, std::string keyPEM);
    ~HTTPSTestServer();
    HTTPSTestServer(const HTTPSTestServer&) = delete;
    HTTPSTestServer& operator=(const HTTPSTestServer&) = delete;

    // Before start().
    void setResponse(int status, std::string body, std::string contentType = "text/plain");

    // false (and lastError()) when the certificate, the key or the socket do not work.
    bool start();
    void stop();
    const std::string& lastError() const { return error_; }

    std::uint16_t port() const { return port_; }
    // "https://<host>:<port><path>"
    std::string url(const std::string& path = "/", const std::string& host = "localhost") const;

    int connectionsAccepted() const { return accepted_.load(); }
    int handshakesCompleted() const { return handshakes_.load(); }
    int handshakesFailed() const { return failedHandshakes_.load(); }
    int requestsAnswered() const { return requests_.load(); }
    std::size_t requestBytesReceived() const { return requestBytes_.load(); }
    // The request lines answered so far ("GET /path HTTP/1.1").
    std::vector<std::string> requestLines() const;

    // Waits (real time) until at least `connections` were accepted and every accepted one has
    // finished; false on time-out.
    bool waitUntilIdle(int connections = 0,
                       std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

  private:
    struct Context;
    void acceptLoop();
    void serve(int fd);

    std::string chainPEM_;
    std::string keyPEM_;
    int status_ = 200;
    std::string body_ = "OK";
    std::string contentType_ = "text/plain";
    std::string error_;

    std::unique_ptr<Context> context_;
    int listenFd_ = -1;
    int wakeFd_ = -1;
    std::uint16_t port_ = 0;
    std::thread acceptor_;
    std::atomic<bool> stopping_{false};

    mutable std::mutex mutex_;
    mutable std::condition_variable idle_;
    std::vector<std::thread> workers_;
    std::vector<int> openFds_;
    int active_ = 0;
    std::vector<std::string> requestLines_;

    std::atomic<int> accepted_{0};
    std::atomic<int> handshakes_{0};
    std::atomic<int> failedHandshakes_{0};
    std::atomic<int> requests_{0};
    std::atomic<std::size_t> requestBytes_{0};
};

}  // namespace testsupport
