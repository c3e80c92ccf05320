// A 50 MB multipart upload streamed from a file through the operation manager to a loopback
// server that discards the body as it arrives, reporting the time taken and the process's peak
// memory growth (VmHWM from /proc/self/status, reset before the upload where the kernel allows):
// a streamed body keeps the growth far below the body's size.

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/LoopbackListener.h"
#include "foundation/NSRunLoop.h"
#include "net/HKHTTPRequestOperationManager.h"
#include "net/HKMultipartFormData.h"
#include "network/NSURLCache.h"

namespace {

constexpr std::size_t kBodyBytes = 50u * 1024 * 1024;

// Reads each request's head, discards Content-Length bytes of body as they come, answers "{}".
class DiscardingServer {
  public:
    DiscardingServer() {
        listen_ = benchsupport::listenOnLoopback(8, &port_);
        thread_ = std::thread([this] { acceptLoop(); });
    }
    ~DiscardingServer() {
        stopping_ = true;
        ::shutdown(listen_, SHUT_RDWR);
        if (int fd = client_.load(); fd >= 0) ::shutdown(fd, SHUT_RDWR);
        ::close(listen_);
        thread_.join();
    }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::size_t bytesDiscarded() const { return discarded_.load(); }

  private:
    void acceptLoop() {
        while (!stopping_) {
            int fd = ::accept(listen_, nullptr, nullptr);
            if (fd < 0) return;
            client_ = fd;
            serve(fd);
            client_ = -1;
            ::close(fd);
        }
    }
    void serve(int fd) {
        std::string head;
        char buffer[64 * 1024];
        for (;;) {
            // The head.
            std::size_t end;
            while ((end = head.find("\r\n\r\n")) == std::string::npos) {
                ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0) return;
                head.append(buffer, static_cast<std::size_t>(n));
            }
            std::size_t contentLength = 0;
            auto at = head.find("Content-Length:");
            if (at == std::string::npos) at = head.find("content-length:");
            if (at != std::string::npos) contentLength = std::strtoull(head.c_str() + at + 15, nullptr, 10);
            std::size_t already = head.size() - (end + 4);
            std::size_t remaining = contentLength > already ? contentLength - already : 0;
            discarded_ += std::min(already, contentLength);
            std::string leftover =
                already > contentLength ? head.substr(end + 4 + contentLength) : std::string();
            while (remaining > 0) {
                ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, remaining), 0);
                if (n <= 0) return;
                remaining -= static_cast<std::size_t>(n);
                discarded_ += static_cast<std::size_t>(n);
            }
            const char reply[] =
                "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 2\r\n\r\n{}";
            ::send(fd, reply, sizeof reply - 1, MSG_NOSIGNAL);
            head = leftover;
        }
    }

    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<std::size_t> discarded_{0};
    std::atomic<int> client_{-1};
    std::thread thread_;
};

long statusKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) return std::strtol(line.c_str() + std::strlen(field) + 1, nullptr, 10);
    }
    return -1;
}

// Resets the peak-RSS mark to the current RSS; false where the kernel does not allow it.
bool resetPeakRSS() {
    std::ofstream clear("/proc/self/clear_refs");
    if (!clear) return false;
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

std::string makeBodyFile() {
    const char* base = std::getenv("TMPDIR");
    std::string path =
        std::string(base ? base : "/tmp") + "/net-upload-bench-" + std::to_string(::getpid()) + ".bin";
    std::ofstream file(path, std::ios::binary);
    std::vector<char> chunk(1024 * 1024);
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>('a' + i % 26);
    for (std::size_t written = 0; written < kBodyBytes; written += chunk.size())
        file.write(chunk.data(), chunk.size());
    return path;
}

struct UploadResult {
    bool ok = false;
    double seconds = 0;
    long peakGrowthKB = 0;
    bool peakWasReset = false;
};

UploadResult upload(DiscardingServer& server, const std::string& path) {
    static auto manager = make<HKHTTPRequestOperationManager>(NSURL::URLWithString(server.url("/")));
    UploadResult result;
    long rssBefore = statusKilobytes("VmRSS:");
    result.peakWasReset = resetPeakRSS();
    long hwmBefore = statusKilobytes("VmHWM:");
    auto start = std::chrono::steady_clock::now();
    bool done = false;
    manager->POST(
        "upload", Dictionary{{"name", "big"}},
        [&](const Ref<HKMultipartFormData>& form) {
            Ref<NSError> error;
            form->appendPartWithFileURL(NSURL::fileURLWithPath(path), "file", &error);
        },
        [&](const Ref<HKHTTPRequestOperation>&, const Value&) {
            result.ok = true;
            done = true;
        },
        [&](const Ref<HKHTTPRequestOperation>&, const Ref<NSError>& error) {
            std::fprintf(stderr, "upload failed: %s\n", error ? error->description().c_str() : "?");
            done = true;
        });
    auto loop = NSRunLoop::currentRunLoop();
    while (!done) loop->runMode(NSDefaultRunLoopMode, NSDate::dateWithTimeIntervalSinceNow(1));
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    long hwmAfter = statusKilobytes("VmHWM:");
    result.peakGrowthKB = hwmAfter - (result.peakWasReset ? rssBefore : hwmBefore);
    return result;
}

DiscardingServer* gServer = nullptr;
std::string gPath;

void BM_MultipartUpload50MB(benchmark::State& state) {
    for (auto _ : state) {
        auto result = upload(*gServer, gPath);
        if (!result.ok) state.SkipWithError("upload failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBodyBytes));
}
BENCHMARK(BM_MultipartUpload50MB)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    NSURLCache::setSharedURLCache(make<NSURLCache>(0, 0, std::nullopt));
    DiscardingServer server;
    gServer = &server;
    gPath = makeBodyFile();
    // Warm up the client (threads, queues, the first connection) before measuring memory.
    upload(server, gPath);
    auto measured = upload(server, gPath);
    benchmark::Initialize(&argc, argv);
    benchmark::ConsoleReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::remove(gPath.c_str());
    std::printf(
        "50 MB multipart upload from a file: %s in %.2f s (%.0f MB/s); the server discarded %zu bytes in "
        "all\n",
        measured.ok ? "sent" : "FAILED", measured.seconds, 50.0 / measured.seconds, server.bytesDiscarded());
    std::printf("peak memory growth during the upload: %ld KB (%s; the body is %zu KB; lower is better)\n",
                measured.peakGrowthKB, measured.peakWasReset ? "VmHWM reset before it" : "VmHWM difference",
                kBodyBytes / 1024);
    std::printf("ratio upload_peak_memory_vs_body %.4f\n",
                static_cast<double>(measured.peakGrowthKB) / static_cast<double>(kBodyBytes / 1024));
    return measured.ok ? 0 : 1;
}
