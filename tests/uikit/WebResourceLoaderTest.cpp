// The web view's resource loader on its own: what it counts as pending through each way a
// resource ends, its bounds (fetches at once, stylesheets, picture bytes), the order it fetches
// in, pages of many thousands of resources, and fetch numbers that are not (or no longer) its.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "foundation/NSRunLoop.h"
#include "tests/support/LoopbackHTTPServer.h"
#include "tests/support/MainLoop.h"
#include "uikit/UIWebViewResources.h"

namespace {

using detail::WebResourceLoader;
using Kind = WebResourceLoader::Kind;
using testsupport::LoopbackHTTPServer;
using testsupport::RecordedRequest;
using testsupport::ScriptedReply;

struct Delivery {
    Kind kind;
    std::string url;
    std::optional<std::string> bytes;  // nullopt: failed
};

// Holds each request's reply until its path is let through (or every path is, at the end).
class Gate {
  public:
    ScriptedReply wait(const RecordedRequest& request, ScriptedReply reply) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return all_ || open_.count(request.path) > 0; });
        return reply;
    }
    void open(const std::string& path) {
        std::lock_guard lock(mutex_);
        open_.insert(path);
        changed_.notify_all();
    }
    void openAll() {
        std::lock_guard lock(mutex_);
        all_ = true;
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::set<std::string> open_;
    bool all_ = false;
};

// A loopback port bound but not listening: every connection to it is refused at once.
class RefusingPort {
  public:
    RefusingPort() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
    }
    ~RefusingPort() {
        if (fd_ >= 0) ::close(fd_);
    }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    int port() const { return port_; }

  private:
    int fd_ = -1;
    int port_ = 0;
};

class WebResourceLoaderTest : public ::testing::Test {
  protected:
    ~WebResourceLoaderTest() override {
        // Server threads held at the gate must end before the server can stop.
        gate.openAll();
        if (loader) loader->cancel();
    }

    // A loader for a page from the network (it reads no file), with short real-time bounds.
    void makeLoader(detail::WebResourceLimits limits = quick()) {
        loader = make<WebResourceLoader>(
            limits, detail::WebFileAccess{},
            [this](Kind kind, const std::string& url, std::optional<NSData> bytes,
                   const std::optional<std::string>&) {
                deliveries.push_back({kind, url, bytes ? std::optional(bytes->toString()) : std::nullopt});
                if (onDeliver) onDeliver(deliveries.back());
            });
    }
    static detail::WebResourceLimits quick() {
        detail::WebResourceLimits limits;
        limits.timeoutSeconds = 10;
        limits.deadlineSeconds = 20;
        return limits;
    }
    // The reply of `path`, held at the gate until the path is let through.
    void gated(const std::string& path, ScriptedReply reply) {
        server.setHandler(
            path, [this, reply](const RecordedRequest& request) { return gate.wait(request, reply); });
    }
    bool deliveredCount(std::size_t n, double seconds = 10) {
        return testsupport::pumpMainRunLoopUntil([&] { return deliveries.size() >= n; }, seconds);
    }
    std::vector<std::string> requestedPaths() const {
        std::vector<std::string> paths;
        for (const auto& request : server.requests()) paths.push_back(request.path);
        return paths;
    }

    Gate gate;
    LoopbackHTTPServer server;
    Ref<WebResourceLoader> loader;
    std::vector<Delivery> deliveries;
    std::function<void(const Delivery&)> onDeliver;
};

// ---- pending counts through each way a resource ends ---------------------------------------------

TEST_F(WebResourceLoaderTest, AResourceIsPendingUntilThePageTookItInWhicheverWayItEnded) {
    server.setReply("/ok.png", ScriptedReply::text("PNG", 200, "image/png"));
    server.setReply("/missing.png", ScriptedReply::text("gone", 404));
    makeLoader();

    // Fails at once, inside the request: a network page reads no file.
    loader->request(Kind::Image, "file:///etc/hostname");
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_FALSE(deliveries[0].bytes);
    EXPECT_EQ(loader->pending(Kind::Image), 1u);

    loader->request(Kind::Image, server.url("/ok.png"));
    loader->request(Kind::Image, server.url("/missing.png"));
    loader->request(Kind::Stylesheet, "gopher://127.0.0.1/");  // no such scheme: fails at once
    EXPECT_EQ(loader->pending(Kind::Image), 3u);
    EXPECT_EQ(loader->pending(Kind::Stylesheet), 1u);
    ASSERT_TRUE(deliveredCount(4));
    EXPECT_EQ(loader->pending(Kind::Image), 3u) << "handed over is not ended";
    EXPECT_FALSE(loader->idle());

    for (const Delivery& d : deliveries) {
        if (d.url == server.url("/ok.png")) {
            EXPECT_EQ(d.bytes, std::optional<std::string>("PNG"));
        } else if (d.url == server.url("/missing.png")) {
            EXPECT_FALSE(d.bytes) << "a 404 fails";
        }
    }
    loader->delivered(server.url("/ok.png"));
    EXPECT_EQ(loader->pending(Kind::Image), 2u);
    loader->delivered(server.url("/ok.png"));  // once only
    loader->delivered("http://127.0.0.1/never-asked.png");
    EXPECT_EQ(loader->pending(Kind::Image), 2u);
    loader->delivered("file:///etc/hostname");
    loader->delivered(server.url("/missing.png"));
    EXPECT_EQ(loader->pending(Kind::Image), 0u);
    EXPECT_FALSE(loader->idle());
    loader->delivered("gopher://127.0.0.1/");
    EXPECT_EQ(loader->pending(Kind::Stylesheet), 0u);
    EXPECT_TRUE(loader->idle());
}

TEST_F(WebResourceLoaderTest, DeliveredBeforeTheHandOverDoesNotEndTheResource) {
    gated("/slow.css", ScriptedReply::text("p{}", 200, "text/css"));
    makeLoader();
    loader->request(Kind::Stylesheet, server.url("/slow.css"));
    ASSERT_TRUE(server.waitForRequests(1, 10));
    loader->delivered(server.url("/slow.css"));
    EXPECT_EQ(loader->pending(Kind::Stylesheet), 1u);
    gate.openAll();
    ASSERT_TRUE(deliveredCount(1));
    loader->delivered(server.url("/slow.css"));
    EXPECT_EQ(loader->pending(Kind::Stylesheet), 0u);
}

TEST_F(WebResourceLoaderTest, AURLAskedTwiceIsFetchedAndCountedOnce) {
    server.setReply("/a.png", ScriptedReply::text("A", 200, "image/png"));
    makeLoader();
    loader->request(Kind::Image, server.url("/a.png"));
    loader->request(Kind::Image, server.url("/a.png"));
    EXPECT_EQ(loader->pending(Kind::Image), 1u);
    ASSERT_TRUE(deliveredCount(1));
    loader->delivered(server.url("/a.png"));
    // Asked again once it ended: the page's process keeps its bytes.
    loader->request(Kind::Image, server.url("/a.png"));
    loader->request(Kind::Stylesheet, server.url("/a.png"));
    testsupport::pumpMainRunLoop(0.05);
    EXPECT_EQ(deliveries.size(), 1u);
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_TRUE(loader->idle());
}

TEST_F(WebResourceLoaderTest, CancelStopsEveryFetchAndHandsNothingOverAfter) {
    for (const char* path : {"/1.png", "/2.png", "/3.png"}) gated(path, ScriptedReply::text("x"));
    auto limits = quick();
    limits.maxConcurrent = 2;
    makeLoader(limits);
    for (const char* path : {"/1.png", "/2.png", "/3.png"}) loader->request(Kind::Image, server.url(path));
    ASSERT_TRUE(server.waitForRequests(2, 10));
    loader->cancel();
    gate.openAll();
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_TRUE(deliveries.empty());
    EXPECT_EQ(server.requestCount(), 2u) << "what waited is not fetched";
    // Nothing ended: the page's process took nothing in.
    EXPECT_EQ(loader->pending(Kind::Image), 3u);
    loader->request(Kind::Image, server.url("/4.png"));
    EXPECT_EQ(loader->pending(Kind::Image), 3u) << "a cancelled loader takes no request";
    EXPECT_TRUE(deliveries.empty());
}

TEST_F(WebResourceLoaderTest, CancelFromTheHandOverStopsTheRest) {
    RefusingPort refusing;
    auto limits = quick();
    limits.maxConcurrent = 1;
    makeLoader(limits);
    onDeliver = [&](const Delivery&) { loader->cancel(); };
    for (int i = 0; i < 5; ++i) loader->request(Kind::Image, refusing.url("/" + std::to_string(i)));
    ASSERT_TRUE(deliveredCount(1));
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_EQ(deliveries.size(), 1u);
    EXPECT_EQ(deliveries[0].url, refusing.url("/0"));
}

// ---- bounds --------------------------------------------------------------------------------------

TEST_F(WebResourceLoaderTest, StylesheetsPastTheirCountFailWithoutAFetchAndStillCount) {
    server.setReply("/s.css", ScriptedReply::text("p{}", 200, "text/css"));
    auto limits = quick();
    limits.maxStylesheets = 2;
    makeLoader(limits);
    loader->request(Kind::Stylesheet, server.url("/s.css?1"));
    loader->request(Kind::Stylesheet, server.url("/s.css?2"));
    loader->request(Kind::Stylesheet, server.url("/s.css?3"));
    // The third fails inside its request; pictures are not counted against stylesheets.
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_EQ(deliveries[0].url, server.url("/s.css?3"));
    EXPECT_FALSE(deliveries[0].bytes);
    EXPECT_EQ(loader->pending(Kind::Stylesheet), 3u);
    ASSERT_TRUE(deliveredCount(3));
    EXPECT_EQ(server.requestCount(), 2u);
    for (const Delivery& d : deliveries) loader->delivered(d.url);
    EXPECT_TRUE(loader->idle());
}

TEST_F(WebResourceLoaderTest, APicturePastTheBytesInAllFailsAndNoPictureIsFetchedAfter) {
    for (const char* path : {"/a.png", "/b.png", "/c.png"})
        server.setReply(path, ScriptedReply::text("123456", 200, "image/png"));
    auto limits = quick();
    limits.maxConcurrent = 1;
    limits.maxPictureBytesInAll = 10;
    makeLoader(limits);
    for (const char* path : {"/a.png", "/b.png", "/c.png"}) loader->request(Kind::Image, server.url(path));
    ASSERT_TRUE(deliveredCount(3));
    EXPECT_EQ(deliveries[0].bytes, std::optional<std::string>("123456"));
    EXPECT_FALSE(deliveries[1].bytes) << "6 + 6 bytes pass 10";
    EXPECT_FALSE(deliveries[2].bytes);
    EXPECT_EQ(requestedPaths(), (std::vector<std::string>{"/a.png", "/b.png"}));
    // Asked later: fails inside its request.
    loader->request(Kind::Image, server.url("/d.png"));
    ASSERT_EQ(deliveries.size(), 4u);
    EXPECT_FALSE(deliveries[3].bytes);
    EXPECT_EQ(loader->pending(Kind::Image), 4u);
    for (const Delivery& d : deliveries) loader->delivered(d.url);
    EXPECT_TRUE(loader->idle());
}

TEST_F(WebResourceLoaderTest, ManyPicturesWaitingPastTheBytesInAllAllFailInTurn) {
    // The first picture fills the bytes in all while the rest wait: each of those then fails in
    // turn as the next is taken up, however many there are.
    server.setReply("/first.png", ScriptedReply::text("1234", 200, "image/png"));
    auto limits = quick();
    limits.maxConcurrent = 1;
    limits.maxPictureBytesInAll = 4;
    makeLoader(limits);
    constexpr int kWaiting = 100'000;
    loader->request(Kind::Image, server.url("/first.png"));
    for (int i = 0; i < kWaiting; ++i) loader->request(Kind::Image, server.url("/w" + std::to_string(i)));
    ASSERT_TRUE(deliveredCount(kWaiting + 1, 30));
    EXPECT_EQ(deliveries[0].bytes, std::optional<std::string>("1234"));
    EXPECT_EQ(deliveries.back().url, server.url("/w" + std::to_string(kWaiting - 1)));
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(loader->pending(Kind::Image), std::size_t(kWaiting + 1));
}

TEST_F(WebResourceLoaderTest, AtMostMaxConcurrentFetchesRunAndTheRestStartInTheOrderAsked) {
    auto limits = quick();
    limits.maxConcurrent = 3;
    makeLoader(limits);
    std::vector<std::string> paths;
    for (int i = 0; i < 9; ++i) {
        paths.push_back("/" + std::to_string(i) + ".png");
        gated(paths.back(), ScriptedReply::text(std::to_string(i), 200, "image/png"));
        loader->request(Kind::Image, server.url(paths.back()));
    }
    ASSERT_TRUE(server.waitForRequests(3, 10));
    testsupport::pumpMainRunLoop(0.1);
    ASSERT_EQ(server.requestCount(), 3u);
    EXPECT_EQ(std::set<std::string>(paths.begin(), paths.begin() + 3), [&] {
        auto got = requestedPaths();
        return std::set<std::string>(got.begin(), got.end());
    }());

    // Out of order: each one that ends lets the next one asked start, and only that one.
    const int finishOrder[] = {2, 0, 1, 5, 3, 4, 8, 7, 6};
    std::size_t ended = 0;
    for (int i : finishOrder) {
        gate.open(paths[std::size_t(i)]);
        ++ended;
        ASSERT_TRUE(deliveredCount(ended)) << i;
        EXPECT_EQ(deliveries.back().url, server.url(paths[std::size_t(i)]));
        EXPECT_EQ(deliveries.back().bytes, std::optional<std::string>(std::to_string(i)));
        const std::size_t started = std::min<std::size_t>(ended + 3, paths.size());
        ASSERT_TRUE(server.waitForRequests(started, 10));
        auto got = requestedPaths();
        ASSERT_EQ(got.size(), started);
        if (ended + 3 <= paths.size()) {
            EXPECT_EQ(got.back(), paths[ended + 2]);
        }
        loader->delivered(server.url(paths[std::size_t(i)]));
        EXPECT_EQ(loader->pending(Kind::Image), paths.size() - ended);
    }
    EXPECT_TRUE(loader->idle());
}

// ---- many resources ------------------------------------------------------------------------------

TEST_F(WebResourceLoaderTest, TwentyThousandRefusedPicturesAllEndCountedAndInTheOrderAsked) {
    RefusingPort refusing;
    ASSERT_NE(refusing.port(), 0);
    auto limits = quick();
    makeLoader(limits);
    constexpr std::size_t kPictures = 20'000;
    std::vector<std::string> urls;
    for (std::size_t i = 0; i < kPictures; ++i)
        urls.push_back(refusing.url("/p" + std::to_string(i) + ".png"));
    // The page's process takes each in a little later, as it does from the web view; the count
    // seen at each hand-over is what was asked less what was taken in.
    std::size_t takenIn = 0, wrongCounts = 0;
    onDeliver = [&](const Delivery& d) {
        if (loader->pending(Kind::Image) != kPictures - takenIn) ++wrongCounts;
        NSRunLoop::mainRunLoop()->performBlock([&, url = d.url] {
            loader->delivered(url);
            ++takenIn;
        });
    };
    for (const auto& url : urls) loader->request(Kind::Image, url);
    EXPECT_EQ(loader->pending(Kind::Image), kPictures);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return takenIn == kPictures; }, 120));
    EXPECT_EQ(wrongCounts, 0u);
    EXPECT_TRUE(loader->idle());
    ASSERT_EQ(deliveries.size(), kPictures);

    // Each failed; each once; none ended before the ones asked before it could make room for it.
    std::vector<std::size_t> position(kPictures, kPictures);
    for (std::size_t at = 0; at < deliveries.size(); ++at) {
        const std::string& url = deliveries[at].url;
        const std::size_t index = std::stoul(url.substr(url.rfind("/p") + 2));
        ASSERT_EQ(position[index], kPictures) << url << " handed over twice";
        position[index] = at;
        EXPECT_FALSE(deliveries[at].bytes);
    }
    std::size_t outOfTurn = 0;
    for (std::size_t i = 0; i < kPictures; ++i)
        if (position[i] + std::size_t(limits.maxConcurrent) <= i) ++outOfTurn;
    EXPECT_EQ(outOfTurn, 0u);
}

// ---- fetch numbers -------------------------------------------------------------------------------

TEST_F(WebResourceLoaderTest, AFinishForAFetchNumberUnknownOrAlreadyEndedDoesNothing) {
    gated("/held.png", ScriptedReply::text("late", 200, "image/png"));
    server.setReply("/next.png", ScriptedReply::text("next", 200, "image/png"));
    auto limits = quick();
    limits.maxConcurrent = 1;
    makeLoader(limits);
    loader->request(Kind::Image, server.url("/held.png"));  // fetch 1
    loader->request(Kind::Image, server.url("/next.png"));  // waits for it
    ASSERT_TRUE(server.waitForRequests(1, 10));

    for (std::uint64_t fetch : {std::uint64_t(0), std::uint64_t(2), std::uint64_t(999'999)})
        loader->finishBytes(fetch, NSData::fromString("stray"));
    EXPECT_TRUE(deliveries.empty());

    // The fetch's own end, handed over before its connection's: that one is then stopped.
    loader->finishBytes(1, NSData::fromString("first"));
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_EQ(deliveries[0].bytes, std::optional<std::string>("first"));
    ASSERT_TRUE(deliveredCount(2));
    EXPECT_EQ(deliveries[1].url, server.url("/next.png"));
    gate.openAll();
    testsupport::pumpMainRunLoop(0.2);
    loader->finishBytes(1, NSData::fromString("again"));
    loader->finishBytes(2, std::nullopt);
    EXPECT_EQ(deliveries.size(), 2u);
    EXPECT_EQ(loader->pending(Kind::Image), 2u);
}

}  // namespace
