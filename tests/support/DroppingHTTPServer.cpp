#include "tests/support/DroppingHTTPServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

#include "tests/support/TestSupport.h"

namespace testsupport {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The value of a header field in a request head, or "" when absent.
std::string fieldValue(std::string_view head, std::string_view name) {
    std::size_t at = head.find("\r\n");
    while (at != std::string_view::npos && at + 2 < head.size()) {
        std::size_t start = at + 2;
        std::size_t end = head.find("\r\n", start);
        if (end == std::string_view::npos) end = head.size();
        std::string_view line = head.substr(start, end - start);
        std::size_t colon = line.find(':');
        if (colon != std::string_view::npos && equalsIgnoringCase(line.substr(0, colon), name)) {
            std::string_view value = line.substr(colon + 1);
            while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
            return std::string(value);
        }
        at = end;
    }
    return {};
}

}  // namespace

DroppingHTTPServer::DroppingHTTPServer(int answered, Drop drop) : answered_(answered), drop_(drop) {
    int port = 0;
    listenFd_ = listenOnLoopback(port);
    if (listenFd_ < 0 || ::pipe2(wakePipe_, O_CLOEXEC) != 0) {
        throw std::runtime_error("DroppingHTTPServer: cannot listen on loopback");
    }
    port_ = port;
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

DroppingHTTPServer::~DroppingHTTPServer() {
    stop();
}

std::string DroppingHTTPServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

int DroppingHTTPServer::received(const std::string& method) const {
    std::lock_guard lock(mutex_);
    auto it = received_.find(method);
    return it == received_.end() ? 0 : it->second;
}

void DroppingHTTPServer::stop() {
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

void DroppingHTTPServer::acceptLoop() {
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

void DroppingHTTPServer::serve(int fd) {
    std::string pending;
    char buffer[16384];
    // Reads until `pending` holds at least `size` bytes; false when the client went away.
    auto fill = [&](std::size_t size) {
        while (pending.size() < size) {
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) return false;
            pending.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    };
    for (int served = 0; !stopping_; ++served) {
        std::size_t end;
        bool complete = true;
        while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
            if (pending.size() > (1 << 20) || !fill(pending.size() + 1)) {
                complete = false;
                break;
            }
        }
        if (!complete) break;
        std::string head = pending.substr(0, end + 2);
        pending.erase(0, end + 4);
        // The body, so that the request is counted only once it arrived whole.
        bool whole = true;
        if (equalsIgnoringCase(fieldValue(head, "Transfer-Encoding"), "chunked")) {
            std::size_t last;
            while ((last = pending.find("\r\n0\r\n\r\n")) == std::string::npos &&
                   !pending.starts_with("0\r\n\r\n")) {
                if (!fill(pending.size() + 1)) {
                    whole = false;
                    break;
                }
            }
            if (whole) pending.erase(0, pending.starts_with("0\r\n\r\n") ? 5 : last + 7);
        } else if (std::string length = fieldValue(head, "Content-Length"); !length.empty()) {
            std::size_t size = std::strtoull(length.c_str(), nullptr, 10);
            whole = fill(size);
            if (whole) pending.erase(0, size);
        }
        if (!whole) break;
        {
            std::lock_guard lock(mutex_);
            ++received_[head.substr(0, head.find(' '))];
        }
        if (served >= answered_) {
            if (drop_ == Drop::Reset) {
                linger hard{1, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            }
            break;
        }
        static constexpr std::string_view kReply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
        if (::send(fd, kReply.data(), kReply.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(kReply.size()))
            break;
    }
    std::lock_guard lock(mutex_);
    openFds_.erase(std::remove(openFds_.begin(), openFds_.end(), fd), openFds_.end());
    ::close(fd);
}

}  // namespace testsupport
