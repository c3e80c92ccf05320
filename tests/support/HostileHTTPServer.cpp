#include "tests/support/HostileHTTPServer.h"
#include "tests/support/TestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace testsupport {

bool HostileHTTPServer::Channel::write(std::string_view bytes) {
    while (!bytes.empty()) {
        if (stopping_) return false;
        ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void HostileHTTPServer::Channel::waitUntilClosed() {
    char buffer[4096];
    while (!stopping_) {
        pollfd fd{fd_, POLLIN, 0};
        int ready = ::poll(&fd, 1, 20);
        if (ready < 0) return;
        if (ready == 0) continue;
        if (::recv(fd_, buffer, sizeof buffer, 0) <= 0) return;
    }
}

HostileHTTPServer::HostileHTTPServer(Behaviour behaviour) : behaviour_(std::move(behaviour)) {
    int port = 0;
    listenFd_ = testsupport::listenOnLoopback(port);
    if (listenFd_ < 0 || ::pipe2(wakePipe_, O_CLOEXEC) != 0) {
        throw std::runtime_error("HostileHTTPServer: cannot listen on loopback");
    }
    port_ = port;
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

HostileHTTPServer::~HostileHTTPServer() {
    stop();
}

std::string HostileHTTPServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void HostileHTTPServer::stop() {
    if (stopping_.exchange(true)) return;
    [[maybe_unused]] ssize_t n = ::write(wakePipe_[1], "x", 1);
    if (acceptThread_.joinable()) acceptThread_.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(mutex_);
        for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
        workers.swap(workers_);
    }
    for (auto& worker : workers) worker.join();
    ::close(listenFd_);
    ::close(wakePipe_[0]);
    ::close(wakePipe_[1]);
}

void HostileHTTPServer::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents || stopping_) return;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ++connections_;
        std::lock_guard lock(mutex_);
        openFds_.push_back(fd);
        workers_.emplace_back([this, fd] { serve(fd); });
    }
}

void HostileHTTPServer::serve(int fd) {
    // The request head, up to its blank line; a body the client sends is not read.
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < (1 << 20)) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        head.append(buffer, static_cast<std::size_t>(n));
    }
    if (!head.empty() && !stopping_) {
        Channel channel(fd, stopping_);
        behaviour_(channel);
    }
    ::shutdown(fd, SHUT_WR);
    std::lock_guard lock(mutex_);
    openFds_.erase(std::remove(openFds_.begin(), openFds_.end(), fd), openFds_.end());
    ::close(fd);
}

HostileHTTPServer::Behaviour HostileHTTPServer::raw(std::string bytes) {
    return [bytes = std::move(bytes)](Channel& channel) { channel.write(bytes); };
}

HostileHTTPServer::Behaviour HostileHTTPServer::endless(std::string head) {
    return [head = std::move(head)](Channel& channel) {
        if (!channel.write(head + "\r\n\r\n")) return;
        const std::string block(64 * 1024, 'z');
        while (channel.write(block)) {
        }
    };
}

HostileHTTPServer::Behaviour HostileHTTPServer::manyFields(std::size_t count, std::string body) {
    std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    for (std::size_t i = 0; i < count; ++i) {
        reply += "X-Field-" + std::to_string(i) + ": " + std::to_string(i) + "\r\n";
    }
    reply += "\r\n" + body;
    return raw(std::move(reply));
}

namespace {

// A gzip stream of zeros in three parts: the head, a deflate piece that inflates to 1 MiB of
// zeros whatever came before it (the compressor's history is reset after it), and the end.
struct ZeroBomb {
    std::string head, piece, tail;
};

ZeroBomb makeZeroBomb(std::size_t mebibytes) {
    const std::string zeros(1 << 20, '\0');
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    auto run = [&](const std::string& in, int flush) {
        std::vector<char> out(deflateBound(&stream, static_cast<uLong>(in.size())) + 64);
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
        stream.avail_in = static_cast<uInt>(in.size());
        stream.next_out = reinterpret_cast<Bytef*>(out.data());
        stream.avail_out = static_cast<uInt>(out.size());
        deflate(&stream, flush);
        return std::string(out.data(), out.size() - stream.avail_out);
    };
    ZeroBomb bomb;
    // The first piece carries the gzip head before its deflate data; a second piece is the
    // same deflate data alone, which then repeats.
    std::string first = run(zeros, Z_FULL_FLUSH);
    bomb.piece = run(zeros, Z_FULL_FLUSH);
    bomb.head = first.substr(0, first.size() - bomb.piece.size());
    std::string finish = run(std::string(), Z_FINISH);
    deflateEnd(&stream);
    // The stream's end: an empty final block, then the check of what all the pieces inflate to.
    std::string end = finish.substr(0, finish.size() - std::min<std::size_t>(finish.size(), 8));
    uLong oneCRC = crc32(0, reinterpret_cast<const Bytef*>(zeros.data()), static_cast<uInt>(zeros.size()));
    uLong crc = 0;
    for (std::size_t i = 0; i < mebibytes; ++i)
        crc = crc32_combine(crc, oneCRC, static_cast<z_off_t>(zeros.size()));
    std::uint32_t size = static_cast<std::uint32_t>(mebibytes << 20);
    for (std::uint32_t v : {static_cast<std::uint32_t>(crc), size}) {
        for (int i = 0; i < 4; ++i) end.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
    }
    bomb.tail = end;
    return bomb;
}

}  // namespace

std::size_t HostileHTTPServer::gzipBombLength(std::size_t decodedMiB) {
    ZeroBomb bomb = makeZeroBomb(0);
    return bomb.head.size() + bomb.piece.size() * decodedMiB + bomb.tail.size();
}

HostileHTTPServer::Behaviour HostileHTTPServer::gzipBomb(std::size_t decodedMiB,
                                                         std::atomic<std::size_t>* sent,
                                                         std::atomic<bool>* whole) {
    return [decodedMiB, sent, whole](Channel& channel) {
        ZeroBomb bomb = makeZeroBomb(decodedMiB);
        std::size_t length = bomb.head.size() + bomb.piece.size() * decodedMiB + bomb.tail.size();
        if (!channel.write("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " +
                           std::to_string(length) + "\r\n\r\n"))
            return;
        auto send = [&](const std::string& bytes) {
            if (!channel.write(bytes)) return false;
            if (sent) *sent += bytes.size();
            return true;
        };
        if (!send(bomb.head)) return;
        // A few pieces per write keep the writes few without holding much.
        std::string group;
        for (int i = 0; i < 16; ++i) group += bomb.piece;
        std::size_t left = decodedMiB;
        while (left >= 16) {
            if (!send(group)) return;
            left -= 16;
        }
        for (; left > 0; --left) {
            if (!send(bomb.piece)) return;
        }
        if (send(bomb.tail) && whole) *whole = true;
    };
}

std::string HostileHTTPServer::compress(std::string_view text, Compression format) {
    z_stream stream{};
    int bits = format == Compression::Gzip   ? 16 + MAX_WBITS
               : format == Compression::Zlib ? MAX_WBITS
                                             : -MAX_WBITS;
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, bits, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(text.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

}  // namespace testsupport
