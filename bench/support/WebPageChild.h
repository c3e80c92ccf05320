#pragma once
// What the web view benchmarks that load a page in a child process share: a loopback server of
// fixed replies, and a page load run on the main run loop until it ends or its time runs out.

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "bench/support/ChildProcess.h"
#include "bench/support/LoopbackListener.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSURL.h"
#include "network/NSURLRequest.h"
#include "uikit/UIWebView.h"

namespace benchsupport {

// A folder of its own under the temporary folder, where a benchmark keeps the files it makes once.
inline std::string benchCacheDir(const std::string& name) {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/" + name;
}

// Makes a benchmark's files in a child of its own (this program again, with "--make" and the
// folder), so that making them counts in no case's time or peak; whether they are there.
inline bool madeInChild(const std::string& dir, const char* what) {
    if (runSelf({"bench", "--make", dir}, 600).find("ended badly") == std::string::npos) return true;
    std::fprintf(stderr, "could not make %s in %s\n", what, dir.c_str());
    return false;
}

// Writes the file `make` gives, once: written whole and then renamed, so a file that exists is
// complete. 0 when it is there, 1 when it could not be made.
inline int makeFileOnce(const std::string& dir, const std::string& name,
                        const std::function<std::string()>& make) {
    ::mkdir(dir.c_str(), 0755);
    const std::string path = dir + "/" + name;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && st.st_size > 0) return 0;
    const std::string bytes = make();
    if (bytes.empty()) return 1;
    {
        std::ofstream out(path + ".part", std::ios::binary);
        if (!(out << bytes)) return 1;
    }
    return std::rename((path + ".part").c_str(), path.c_str()) == 0 ? 0 : 1;
}

struct PageReply {
    std::string contentType;
    // Shared, so that many URLs of one picture hold its bytes once.
    std::shared_ptr<const std::string> body;
    bool gzip = false;

    PageReply() = default;
    PageReply(std::string type, std::string bytes, bool gzipped = false)
        : contentType(std::move(type)),
          body(std::make_shared<const std::string>(std::move(bytes))),
          gzip(gzipped) {}
    PageReply(std::string type, std::shared_ptr<const std::string> bytes)
        : contentType(std::move(type)), body(std::move(bytes)) {}
};

// Answers each GET by its path (404 for others) and closes the connection. The benchmarks' child
// processes end with _exit, so its threads are never joined.
class PageServer {
  public:
    explicit PageServer(std::map<std::string, PageReply> routes) : routes_(std::move(routes)) {
        listener_ = listenOnLoopback(64, &port_);
        std::thread([this] { acceptLoop(); }).detach();
    }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

  private:
    void acceptLoop() {
        for (;;) {
            int client = ::accept(listener_, nullptr, nullptr);
            if (client < 0) continue;
            std::thread([this, client] { serve(client); }).detach();
        }
    }
    void serve(int client) {
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            request.append(buffer, std::size_t(n));
        }
        const std::size_t start = request.find(' ') + 1;
        const std::string path = request.substr(start, request.find(' ', start) - start);
        auto found = routes_.find(path);
        std::string head;
        const std::string* body = nullptr;
        if (found == routes_.end() || !found->second.body) {
            head = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        } else {
            body = found->second.body.get();
            head = "HTTP/1.1 200 OK\r\nContent-Type: " + found->second.contentType +
                   "\r\nContent-Length: " + std::to_string(body->size()) + "\r\n" +
                   (found->second.gzip ? "Content-Encoding: gzip\r\n" : "") + "Connection: close\r\n\r\n";
        }
        bool ok = send(client, head.data(), head.size());
        if (ok && body) send(client, body->data(), body->size());
        ::shutdown(client, SHUT_WR);
        ::close(client);
    }
    static bool send(int client, const char* data, std::size_t size) {
        while (size > 0) {
            ssize_t n = ::send(client, data, size, MSG_NOSIGNAL);
            if (n <= 0) return false;
            data += n;
            size -= std::size_t(n);
        }
        return true;
    }

    std::map<std::string, PageReply> routes_;
    int listener_ = -1;
    int port_ = 0;
};

class PageEnd : public NSObject, public UIWebViewDelegate {
  public:
    const char* outcome = nullptr;
    void webViewDidFinishLoad(UIWebView&) override { outcome = "finished"; }
    void webViewDidFailLoadWithError(UIWebView&, const Ref<NSError>&) override { outcome = "failed"; }
};

// Loads `url` into the web view and runs the main run loop until the page finishes or fails, or
// `seconds` pass; what ended it ("finished", "failed" or "timed-out").
inline const char* loadUntilEnded(const Ref<UIWebView>& web, const std::string& url, double seconds) {
    auto end = make<PageEnd>();
    web->setDelegate(end);
    web->loadRequest(NSURLRequest::requestWithURL(NSURL::URLWithString(url)));
    auto loop = NSRunLoop::mainRunLoop();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!end->outcome && std::chrono::steady_clock::now() < deadline)
        loop->runOnce(NSDefaultRunLoopMode, 0.01);
    return end->outcome ? end->outcome : "timed-out";
}

}  // namespace benchsupport
