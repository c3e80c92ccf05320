#pragma once
// A raw TCP server on 127.0.0.1 for tests of clients against hostile HTTP servers: each
// connection has its request head read, then a scripted behaviour writes whatever bytes it likes
// (conflicting lengths, broken status lines, cut-short encodings, bodies that never end, heads
// with thousands of fields) until it returns or the client goes away; then the connection closes.
//
// Thread safety: the behaviour runs on the connection's own thread; the members may be called
// from any thread.

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace testsupport {

class HostileHTTPServer {
  public:
    // The connection's socket, as the behaviour sees it.
    class Channel {
      public:
        // Sends every byte; false once the client is gone or the server stops.
        bool write(std::string_view bytes);
        // Sends nothing and waits until the client closes the connection or the server stops.
        void waitUntilClosed();

      private:
        friend class HostileHTTPServer;
        Channel(int fd, const std::atomic<bool>& stopping) : fd_(fd), stopping_(stopping) {}
        int fd_;
        const std::atomic<bool>& stopping_;
    };
    using Behaviour = std::function<void(Channel&)>;

    explicit HostileHTTPServer(Behaviour behaviour);
    ~HostileHTTPServer();
    HostileHTTPServer(const HostileHTTPServer&) = delete;
    HostileHTTPServer& operator=(const HostileHTTPServer&) = delete;

    // "http://127.0.0.1:<port>" + path
    std::string url(const std::string& path = "/") const;
    int connectionCount() const { return connections_.load(); }
    // Stops accepting, closes every connection and joins the threads. Idempotent.
    void stop();

    // ---- stock behaviours ------------------------------------------------------------------------
    // These bytes, then close.
    static Behaviour raw(std::string bytes);
    // The head (status line and fields, without the blank line), then a body that never ends.
    static Behaviour endless(std::string head);
    // A 200 reply with `count` distinct fields "X-Field-<i>: <i>" and the given body.
    static Behaviour manyFields(std::size_t count, std::string body);

    // A 200 reply with Content-Encoding: gzip whose body inflates to `decodedMiB` MiB of zeros
    // from about a thousandth of that on the wire, made and written as it goes (nothing that
    // size is held). `sent`, when given, counts the body bytes written; `whole` is set once the
    // body was written to its end.
    static Behaviour gzipBomb(std::size_t decodedMiB, std::atomic<std::size_t>* sent = nullptr,
                              std::atomic<bool>* whole = nullptr);
    // Its body's length on the wire.
    static std::size_t gzipBombLength(std::size_t decodedMiB);

    // The text compressed as gzip, as a zlib stream ("deflate"), or as a bare deflate stream.
    enum class Compression { Gzip, Zlib, RawDeflate };
    static std::string compress(std::string_view text, Compression format);

  private:
    void acceptLoop();
    void serve(int fd);

    Behaviour behaviour_;
    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::thread acceptThread_;
    std::mutex mutex_;  // guards what follows
    std::vector<std::thread> workers_;
    std::vector<int> openFds_;
};

}  // namespace testsupport
