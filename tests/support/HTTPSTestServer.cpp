#include "HTTPSTestServer.h"
#include "tests/support/TestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>

namespace testsupport {

struct HTTPSTestServer::Context {
    SSL_CTX* ctx = nullptr;
    ~Context() { SSL_CTX_free(ctx); }
};

namespace {

std::string openSSLError() {
    char text[256] = {};
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    ERR_clear_error();
    return text;
}

const char* reasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

}  // namespace

HTTPSTestServer::HTTPSTestServer(std::string chainPEM, std::string keyPEM)
    : chainPEM_(std::move(chainPEM)), keyPEM_(std::move(keyPEM)) {}

HTTPSTestServer::~HTTPSTestServer() {
    stop();
}

void HTTPSTestServer::setResponse(int status, std::string body, std::string contentType) {
    status_ = status;
    body_ = std::move(body);
    contentType_ = std::move(contentType);
}

std::string HTTPSTestServer::url(const std::string& path, const std::string& host) const {
    return "https://" + host + ":" + std::to_string(port_) + path;
}

std::vector<std::string> HTTPSTestServer::requestLines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requestLines_;
}

bool HTTPSTestServer::start() {
    // A peer that goes away mid-write must not end the test process.
    std::signal(SIGPIPE, SIG_IGN);

    context_ = std::make_unique<Context>();
    context_->ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX* ctx = context_->ctx;
    if (!ctx) {
        error_ = "SSL_CTX_new: " + openSSLError();
        return false;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    // Lets tests use small RSA keys where they need them.
    SSL_CTX_set_security_level(ctx, 1);

    BIO* chain = BIO_new_mem_buf(chainPEM_.data(), static_cast<int>(chainPEM_.size()));
    X509* leaf = chain ? PEM_read_bio_X509(chain, nullptr, nullptr, nullptr) : nullptr;
    bool ok = leaf && SSL_CTX_use_certificate(ctx, leaf) == 1;
    X509_free(leaf);
    while (ok) {
        X509* extra = PEM_read_bio_X509(chain, nullptr, nullptr, nullptr);
        if (!extra) break;
        ok = SSL_CTX_add0_chain_cert(ctx, extra) == 1;
        if (!ok) X509_free(extra);
    }
    BIO_free(chain);
    ERR_clear_error();
    BIO* keyBio = BIO_new_mem_buf(keyPEM_.data(), static_cast<int>(keyPEM_.size()));
    EVP_PKEY* key =
        keyBio ? PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, const_cast<char*>("")) : nullptr;
    BIO_free(keyBio);
    ok = ok && key && SSL_CTX_use_PrivateKey(ctx, key) == 1 && SSL_CTX_check_private_key(ctx) == 1;
    EVP_PKEY_free(key);
    if (!ok) {
        error_ = "certificate or key: " + openSSLError();
        return false;
    }

    int port = 0;
    listenFd_ = testsupport::listenOnLoopback(port);
    if (listenFd_ < 0) {
        error_ = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    port_ = static_cast<std::uint16_t>(port);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    stopping_ = false;
    acceptor_ = std::thread([this] { acceptLoop(); });
    return true;
}

void HTTPSTestServer::stop() {
    if (!acceptor_.joinable()) return;
    stopping_ = true;
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
    acceptor_.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
        workers.swap(workers_);
    }
    for (auto& worker : workers) worker.join();
    ::close(listenFd_);
    ::close(wakeFd_);
    listenFd_ = wakeFd_ = -1;
}

bool HTTPSTestServer::waitUntilIdle(int connections, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return idle_.wait_for(lock, timeout, [&] { return active_ == 0 && accepted_.load() >= connections; });
}

void HTTPSTestServer::acceptLoop() {
    while (!stopping_) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (::poll(fds, 2, 1000) <= 0) continue;
        if (fds[1].revents) break;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        accepted_++;
        openFds_.push_back(fd);
        active_++;
        workers_.emplace_back([this, fd] { serve(fd); });
    }
}

void HTTPSTestServer::serve(int fd) {
    timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);

    SSL* ssl = SSL_new(context_->ctx);
    if (ssl && SSL_set_fd(ssl, fd) == 1 && SSL_accept(ssl) == 1) {
        handshakes_++;
        std::string request;
        char buffer[4096];
        std::size_t headerEnd = std::string::npos;
        std::size_t wanted = 0;
        while (!stopping_) {
            int n = SSL_read(ssl, buffer, sizeof buffer);
            if (n <= 0) break;
            requestBytes_ += static_cast<std::size_t>(n);
            request.append(buffer, static_cast<std::size_t>(n));
            if (headerEnd == std::string::npos) {
                headerEnd = request.find("\r\n\r\n");
                if (headerEnd == std::string::npos) continue;
                std::string lower = request.substr(0, headerEnd);
                std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
                auto at = lower.find("\r\ncontent-length:");
                std::size_t bodyLength =
                    at == std::string::npos ? 0 : std::strtoul(lower.c_str() + at + 17, nullptr, 10);
                wanted = headerEnd + 4 + bodyLength;
            }
            if (request.size() >= wanted) {
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    requestLines_.push_back(request.substr(0, request.find("\r\n")));
                }
                std::string response = "HTTP/1.1 " + std::to_string(status_) + " " + reasonPhrase(status_) +
                                       "\r\nContent-Type: " + contentType_ +
                                       "\r\nContent-Length: " + std::to_string(body_.size()) +
                                       "\r\nConnection: close\r\n\r\n" + body_;
                SSL_write(ssl, response.data(), static_cast<int>(response.size()));
                requests_++;
                SSL_shutdown(ssl);
                break;
            }
        }
    } else {
        failedHandshakes_++;
    }
    SSL_free(ssl);
    ERR_clear_error();
    std::lock_guard<std::mutex> lock(mutex_);
    openFds_.erase(std::remove(openFds_.begin(), openFds_.end(), fd), openFds_.end());
    ::close(fd);
    active_--;
    idle_.notify_all();
}

}  // namespace testsupport
