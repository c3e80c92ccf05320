#include "LoopbackHTTPServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace testsupport {

namespace {

constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
constexpr std::size_t kMaxBodyBytes = 64 * 1024 * 1024;

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

std::string trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    std::size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

const char* standardReason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 201:
            return "Created";
        case 204:
            return "No Content";
        case 206:
            return "Partial Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 304:
            return "Not Modified";
        case 307:
            return "Temporary Redirect";
        case 308:
            return "Permanent Redirect";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

class SocketIO final : public ServerConnectionIO {
  public:
    explicit SocketIO(int fd) : fd_(fd) {}
    ssize_t read(void* buffer, std::size_t length) override {
        ssize_t n;
        do {
            n = ::recv(fd_, buffer, length, 0);
        } while (n < 0 && errno == EINTR);
        return n;
    }
    ssize_t write(const void* buffer, std::size_t length) override {
        ssize_t n;
        do {
            n = ::send(fd_, buffer, length, MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        return n;
    }

  private:
    int fd_;
};

// Buffered reading of one connection.
class Reader {
  public:
    explicit Reader(ServerConnectionIO& io) : io_(io) {}

    // A line without its CRLF; nullopt at the end or when the line is too long.
    std::optional<std::string> line(std::size_t limit) {
        for (;;) {
            std::size_t nl = buffer_.find("\r\n");
            if (nl != std::string::npos) {
                std::string out = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 2);
                return out;
            }
            if (buffer_.size() > limit || !fill()) return std::nullopt;
        }
    }

    bool exactly(std::size_t n, std::string& out) {
        while (buffer_.size() < n) {
            if (!fill()) return false;
        }
        out.append(buffer_, 0, n);
        buffer_.erase(0, n);
        return true;
    }

  private:
    bool fill() {
        char chunk[16384];
        ssize_t n = io_.read(chunk, sizeof chunk);
        if (n <= 0) return false;
        buffer_.append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    ServerConnectionIO& io_;
    std::string buffer_;
};

bool writeAll(ServerConnectionIO& io, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = io.write(bytes.data() + done, bytes.size() - done);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads one request; nullopt when the connection ended or the request is malformed (then
// `malformed` is set).
std::optional<RecordedRequest> readRequest(Reader& reader, ServerConnectionIO& io, bool& malformed) {
    malformed = false;
    std::optional<std::string> first;
    do {
        first = reader.line(kMaxHeaderBytes);
        if (!first) return std::nullopt;
    } while (first->empty());  // tolerate stray CRLFs between requests
    RecordedRequest r;
    std::size_t sp1 = first->find(' ');
    std::size_t sp2 = sp1 == std::string::npos ? std::string::npos : first->find(' ', sp1 + 1);
    if (sp2 == std::string::npos) {
        malformed = true;
        return std::nullopt;
    }
    r.method = first->substr(0, sp1);
    r.target = first->substr(sp1 + 1, sp2 - sp1 - 1);
    r.version = first->substr(sp2 + 1);
    std::size_t q = r.target.find('?');
    r.path = r.target.substr(0, q);
    if (q != std::string::npos) r.query = r.target.substr(q + 1);
    std::size_t headerBytes = 0;
    for (;;) {
        auto line = reader.line(kMaxHeaderBytes);
        if (!line) {
            malformed = true;
            return std::nullopt;
        }
        if (line->empty()) break;
        headerBytes += line->size();
        std::size_t colon = line->find(':');
        if (colon == std::string::npos || headerBytes > kMaxHeaderBytes) {
            malformed = true;
            return std::nullopt;
        }
        r.headers.emplace_back(line->substr(0, colon), trim(line->substr(colon + 1)));
    }
    if (auto expect = r.header("Expect"); expect && equalsIgnoringCase(*expect, "100-continue")) {
        if (!writeAll(io, "HTTP/1.1 100 Continue\r\n\r\n")) return std::nullopt;
    }
    auto te = r.header("Transfer-Encoding");
    if (te && te->find("chunked") != std::string::npos) {
        r.chunkedBody = true;
        for (;;) {
            auto sizeLine = reader.line(1024);
            if (!sizeLine) {
                malformed = true;
                return std::nullopt;
            }
            std::size_t size = 0;
            try {
                size = std::stoul(sizeLine->substr(0, sizeLine->find(';')), nullptr, 16);
            } catch (...) {
                malformed = true;
                return std::nullopt;
            }
            if (r.body.size() + size > kMaxBodyBytes) {
                malformed = true;
                return std::nullopt;
            }
            if (size == 0) {
                // Trailers up to the empty line.
                for (;;) {
                    auto t = reader.line(kMaxHeaderBytes);
                    if (!t) return std::nullopt;
                    if (t->empty()) break;
                }
                break;
            }
            std::string crlf;
            if (!reader.exactly(size, r.body) || !reader.exactly(2, crlf)) return std::nullopt;
        }
    } else if (auto length = r.header("Content-Length")) {
        std::size_t n = 0;
        try {
            n = std::stoul(*length);
        } catch (...) {
            malformed = true;
            return std::nullopt;
        }
        if (n > kMaxBodyBytes) {
            malformed = true;
            return std::nullopt;
        }
        if (!reader.exactly(n, r.body)) return std::nullopt;
    }
    return r;
}

}  // namespace

std::optional<std::string> RecordedRequest::header(const std::string& name) const {
    for (auto& [k, v] : headers) {
        if (equalsIgnoringCase(k, name)) return v;
    }
    return std::nullopt;
}

ScriptedReply ScriptedReply::text(std::string body, int status, std::string contentType) {
    ScriptedReply r;
    r.status = status;
    r.body = std::move(body);
    r.headers.emplace_back("Content-Type", std::move(contentType));
    return r;
}

ScriptedReply ScriptedReply::redirect(int status, std::string location) {
    ScriptedReply r;
    r.status = status;
    r.headers.emplace_back("Location", std::move(location));
    return r;
}

LoopbackHTTPServer::LoopbackHTTPServer() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) throw std::runtime_error("socket failed");
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 128) != 0) {
        ::close(listenFd_);
        throw std::runtime_error("bind/listen failed");
    }
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    if (::pipe2(wakePipe_, O_CLOEXEC) != 0) {
        ::close(listenFd_);
        throw std::runtime_error("pipe failed");
    }
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

LoopbackHTTPServer::~LoopbackHTTPServer() {
    stop();
}

std::string LoopbackHTTPServer::baseURL() const {
    return scheme_ + "://127.0.0.1:" + std::to_string(port_);
}

std::string LoopbackHTTPServer::url(const std::string& path) const {
    return baseURL() + path;
}

void LoopbackHTTPServer::setReply(const std::string& path, ScriptedReply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_[" " + path] = std::move(reply);
}

void LoopbackHTTPServer::setReply(const std::string& method, const std::string& path, ScriptedReply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_[method + " " + path] = std::move(reply);
}

void LoopbackHTTPServer::setHandler(const std::string& path, Handler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handlers_[path] = std::move(handler);
}

void LoopbackHTTPServer::setDefaultHandler(Handler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    defaultHandler_ = std::move(handler);
}

void LoopbackHTTPServer::setConnectionWrapper(ConnectionWrapper wrapper) {
    std::lock_guard<std::mutex> lock(mutex_);
    wrapper_ = std::move(wrapper);
}

std::vector<RecordedRequest> LoopbackHTTPServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::size_t LoopbackHTTPServer::requestCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.size();
}

bool LoopbackHTTPServer::waitForRequests(std::size_t n, double timeoutSeconds) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                             [&] { return requests_.size() >= n; });
}

void LoopbackHTTPServer::stop() {
    if (stopping_.exchange(true)) return;
    if (wakePipe_[1] >= 0) {
        char c = 1;
        [[maybe_unused]] auto r = ::write(wakePipe_[1], &c, 1);
    }
    if (acceptThread_.joinable()) acceptThread_.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
        workers.swap(workers_);
        changed_.notify_all();
    }
    for (auto& t : workers) t.join();
    ::close(listenFd_);
    ::close(wakePipe_[0]);
    ::close(wakePipe_[1]);
}

bool LoopbackHTTPServer::pause(double seconds) {
    if (seconds <= 0) return !stopping_;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return stopping_.load(); });
    return !stopping_;
}

void LoopbackHTTPServer::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents || stopping_) return;
        if (!(fds[0].revents & POLLIN)) continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        int index = ++connections_;
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) {
            ::close(fd);
            return;
        }
        openFds_.push_back(fd);
        workers_.emplace_back([this, fd, index] { serve(fd, index); });
    }
}

std::optional<ScriptedReply> LoopbackHTTPServer::replyFor(const RecordedRequest& request) {
    Handler handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (auto it = replies_.find(request.method + " " + request.path); it != replies_.end())
            return it->second;
        if (auto it = replies_.find(" " + request.path); it != replies_.end()) return it->second;
        if (auto it = handlers_.find(request.path); it != handlers_.end()) {
            handler = it->second;
        } else {
            handler = defaultHandler_;
        }
    }
    if (handler) return handler(request);
    return ScriptedReply::text("no reply scripted for " + request.path, 404);
}

void LoopbackHTTPServer::serve(int fd, int index) {
    std::unique_ptr<ServerConnectionIO> io;
    {
        ConnectionWrapper wrapper;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            wrapper = wrapper_;
        }
        io = wrapper ? wrapper(fd) : std::make_unique<SocketIO>(fd);
    }
    auto finish = [&] {
        io.reset();
        std::lock_guard<std::mutex> lock(mutex_);
        std::erase(openFds_, fd);
        ::close(fd);
    };
    if (!io) {
        finish();
        return;
    }
    Reader reader(*io);
    while (!stopping_) {
        bool malformed = false;
        auto request = readRequest(reader, *io, malformed);
        if (!request) {
            if (malformed)
                writeAll(*io, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            break;
        }
        request->connection = index;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(*request);
            changed_.notify_all();
        }
        auto scripted = replyFor(*request);
        ScriptedReply reply = scripted ? *scripted : ScriptedReply::text("", 500);
        if (!pause(reply.delayBeforeHeaders)) break;
        if (reply.noReply) break;
        if (reply.raw) {
            writeAll(*io, *reply.raw);
            break;
        }

        int status = reply.status;
        bool notModified = false;
        if (reply.etag) {
            if (auto inm = request->header("If-None-Match");
                inm && inm->find(*reply.etag) != std::string::npos) {
                notModified = true;
            }
        }
        if (reply.lastModified && !request->header("If-None-Match")) {
            if (auto ims = request->header("If-Modified-Since"); ims && *ims == *reply.lastModified)
                notModified = true;
        }
        if (notModified) status = 304;

        bool head = request->method == "HEAD";
        bool noBody = head || status == 304 || status == 204 || (status >= 100 && status < 200);
        bool clientCloses = false;
        if (auto c = request->header("Connection"); c && equalsIgnoringCase(*c, "close")) clientCloses = true;
        if (request->version == "HTTP/1.0") clientCloses = true;
        bool closing = reply.closeAfterReply || clientCloses || reply.omitContentLength ||
                       reply.truncateAt.has_value() || reply.closeMidBodyAt.has_value();
        bool chunked = (reply.chunked || reply.closeMidBodyAt) && !noBody;

        std::string head_ = "HTTP/1.1 " + std::to_string(status) + " " +
                            (reply.reason.empty() || notModified ? standardReason(status) : reply.reason) +
                            "\r\n";
        for (auto& [k, v] : reply.headers) {
            if (notModified &&
                (equalsIgnoringCase(k, "Content-Type") || equalsIgnoringCase(k, "Content-Length"))) {
                continue;
            }
            head_ += k + ": " + v + "\r\n";
        }
        if (reply.etag) head_ += "ETag: " + *reply.etag + "\r\n";
        if (reply.lastModified) head_ += "Last-Modified: " + *reply.lastModified + "\r\n";
        if (chunked) {
            head_ += "Transfer-Encoding: chunked\r\n";
        } else if (!reply.omitContentLength && status != 304 && status != 204) {
            head_ += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
        }
        if (closing) head_ += "Connection: close\r\n";
        head_ += "\r\n";
        // A plain reply goes out in one write, as a real server's would.
        bool plain = !noBody && !chunked && reply.trickleDelay <= 0 && !reply.truncateAt;
        if (plain) {
            if (!writeAll(*io, head_ + reply.body) || closing) break;
            continue;
        }
        if (!writeAll(*io, head_)) break;
        if (noBody) {
            if (closing) break;
            continue;
        }

        std::string body = reply.body;
        if (reply.truncateAt) body = body.substr(0, std::min(*reply.truncateAt, body.size()));
        bool ok = true;
        if (chunked) {
            std::size_t limit =
                reply.closeMidBodyAt ? std::min(*reply.closeMidBodyAt, body.size()) : body.size();
            std::size_t step = std::max<std::size_t>(1, reply.chunkSize);
            for (std::size_t off = 0; ok && off < limit; off += step) {
                std::size_t n = std::min(step, limit - off);
                char size[32];
                std::snprintf(size, sizeof size, "%zx\r\n", n);
                ok = writeAll(*io, size + body.substr(off, n) + "\r\n");
                if (ok && reply.trickleDelay > 0) ok = pause(reply.trickleDelay);
            }
            if (ok && !reply.closeMidBodyAt) ok = writeAll(*io, "0\r\n\r\n");
            if (reply.closeMidBodyAt) break;
        } else if (reply.trickleDelay > 0) {
            std::size_t step = std::max<std::size_t>(1, reply.trickleBytes);
            for (std::size_t off = 0; ok && off < body.size(); off += step) {
                ok = writeAll(*io, body.substr(off, step));
                if (ok && off + step < body.size()) ok = pause(reply.trickleDelay);
            }
        } else {
            ok = writeAll(*io, body);
        }
        if (!ok || closing) break;
    }
    finish();
}

RefusingPort::RefusingPort() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port_ = ntohs(address.sin_port);
}

RefusingPort::~RefusingPort() {
    if (fd_ >= 0) ::close(fd_);
}

std::string RefusingPort::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

}  // namespace testsupport
