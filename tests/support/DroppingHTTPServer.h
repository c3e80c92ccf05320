#pragma once
// A raw HTTP/1.1 server on 127.0.0.1 that loses connections on purpose: on each connection it
// answers the first `answered` requests with a short keep-alive reply, then reads the next request
// whole (head and body) and drops the connection, by a close or a reset. It counts every request
// it read, per method, so that a test can see whether a client sent one twice.
//
// Thread safety: every member may be called from any thread.

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class DroppingHTTPServer {
  public:
    enum class Drop { Close, Reset };

    explicit DroppingHTTPServer(int answered = 0, Drop drop = Drop::Close);
    ~DroppingHTTPServer();
    DroppingHTTPServer(const DroppingHTTPServer&) = delete;
    DroppingHTTPServer& operator=(const DroppingHTTPServer&) = delete;

    // "http://127.0.0.1:<port>" + path
    std::string url(const std::string& path = "/") const;
    // Requests read whole so far with this method, answered or dropped.
    int received(const std::string& method) const;
    int connectionCount() const { return connections_.load(); }
    // Changes how many requests each connection answers, from the next request read on.
    void setAnswered(int answered) { answered_ = answered; }
    // Stops accepting, closes every connection and joins the threads. Idempotent.
    void stop();

  private:
    void acceptLoop();
    void serve(int fd);

    std::atomic<int> answered_;
    const Drop drop_;
    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::thread acceptThread_;
    mutable std::mutex mutex_;  // guards what follows
    std::map<std::string, int> received_;
    std::vector<std::thread> workers_;
    std::vector<int> openFds_;
};

}  // namespace testsupport
