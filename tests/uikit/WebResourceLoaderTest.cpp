// The web view's resource loader on its own: pending counts through each way a resource ends,
// cancelling, its bounds, the order it fetches in, many thousands of resources, stray fetch numbers.

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/NSRunLoop.h"
#include "tests/support/LoopbackHTTPServer.h"
#include "tests/support/MainLoop.h"
#include "uikit/UIWebViewResources.h"

namespace {

using Kind = detail::WebResourceLoader::Kind;
using testsupport::ScriptedReply;
using Bytes = std::optional<std::string>;  // nullopt: failed

struct Delivery {
    std::string url;
    Bytes bytes;
};

class WebResourceLoaderTest : public ::testing::Test {
  protected:
    WebResourceLoaderTest() {
        ScriptedReply held;  // for what has no reply of its own: only finishBytes ends its fetch
        held.delayBeforeHeaders = 600;
        server.setDefaultHandler([held](auto&) { return held; });
    }
    // A loader for a page from the network (it reads no file).
    void makeLoader() {
        deliveries.clear();
        loader = make<detail::WebResourceLoader>(
            limits, detail::WebFileAccess{},
            [this](Kind, std::string url, std::optional<NSData> bytes, auto&) {
                deliveries.push_back({url, bytes ? Bytes(bytes->toString()) : Bytes()});
                if (onDeliver) onDeliver(deliveries.back());
            });
    }
    bool waitDeliveries(std::size_t n, double seconds = 10) {
        return testsupport::pumpMainRunLoopUntil([&] { return deliveries.size() >= n; }, seconds);
    }

    testsupport::LoopbackHTTPServer server;
    detail::WebResourceLimits limits;
    Ref<detail::WebResourceLoader> loader;
    std::vector<Delivery> deliveries;
    std::function<void(const Delivery&)> onDeliver;
};

TEST_F(WebResourceLoaderTest, AResourceIsPendingUntilThePageTookItInWhicheverWayItEnded) {
    server.setReply("/ok.png", ScriptedReply::text("PNG", 200, "image/png"));
    server.setReply("/missing.png", ScriptedReply::text("gone", 404));
    limits.maxStylesheets = 1;
    makeLoader();
    loader->request(Kind::Stylesheet, server.url("/held.css"));  // fetch 1
    // Each fails inside its request: past the stylesheets' count (unfetched, still counted), a
    // scheme no connection takes, a file for a page from the network.
    loader->request(Kind::Stylesheet, server.url("/past.css"));
    loader->request(Kind::Image, "gopher://127.0.0.1/");
    loader->request(Kind::Image, "file:///etc/hostname");
    ASSERT_EQ(deliveries.size(), 3u);
    for (auto path : {"/ok.png", "/ok.png", "/missing.png"}) loader->request(Kind::Image, server.url(path));
    EXPECT_EQ(loader->pending(Kind::Image), 4u);
    EXPECT_EQ(loader->pending(Kind::Stylesheet), 2u);
    ASSERT_TRUE(waitDeliveries(5));
    EXPECT_EQ(loader->pending(Kind::Image), 4u) << "handed over is not ended";
    for (const Delivery& d : deliveries)
        EXPECT_EQ(d.bytes, d.url == server.url("/ok.png") ? Bytes("PNG") : Bytes()) << d.url;
    loader->delivered(server.url("/held.css"));  // before its hand-over: does not end it
    for (const char* path : {"/ok.png", "/ok.png", "/never-asked.png"}) loader->delivered(server.url(path));
    EXPECT_EQ(loader->pending(Kind::Image), 3u) << "ended once only";
    for (const Delivery& d : deliveries) loader->delivered(d.url);
    EXPECT_FALSE(loader->idle()) << "the held stylesheet is not ended";
    ASSERT_TRUE(server.waitForRequests(3, 10));
    loader->finishBytes(1, NSData::fromString("p{}"));
    loader->delivered(server.url("/held.css"));
    // Asked again once it ended, as either kind: the page's process keeps its bytes.
    loader->request(Kind::Image, server.url("/ok.png"));
    loader->request(Kind::Stylesheet, server.url("/ok.png"));
    testsupport::pumpMainRunLoop(0.05);
    EXPECT_EQ(deliveries.size(), 6u);
    EXPECT_EQ(server.requestCount(), 3u) << "the held, the found and the missing, once each";
    EXPECT_TRUE(loader->idle());
}

TEST_F(WebResourceLoaderTest, CancelInsideAHandOverStopsTheRunningAndTheWaitingAndTakesNoRequestAfter) {
    server.setReply("/1.png", ScriptedReply::text("1", 200, "image/png"));
    limits.maxConcurrent = 2;  // /2.png runs, held; /3.png waits
    makeLoader();
    onDeliver = [&](const Delivery&) { loader->cancel(); };
    for (const char* path : {"/1.png", "/2.png", "/3.png"}) loader->request(Kind::Image, server.url(path));
    ASSERT_TRUE(server.waitForRequests(2, 10));
    ASSERT_TRUE(waitDeliveries(1));
    loader->finishBytes(2, NSData::fromString("2"));  // its reply, come after all
    loader->request(Kind::Image, server.url("/4.png"));
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_EQ(deliveries.size(), 1u);
    EXPECT_EQ(server.requestCount(), 2u) << "what waited is not fetched";
    EXPECT_EQ(loader->pending(Kind::Image), 3u) << "nothing taken in ends; no request after";
}

TEST_F(WebResourceLoaderTest, PicturesPastTheBytesInAllFailAndAHundredThousandWaitingFailUnfetched) {
    // The bytes in all, and the pictures fetched in turn: the first fits (exactly, in the second
    // row), the next would pass them and fails. Then each waiting one fails as the one before it
    // ends, which once was a call within a call for each.
    const std::pair<std::size_t, std::vector<std::string>> rows[] = {{10, {"123456", "123456"}},
                                                                     {4, {"1234"}}};
    limits.maxConcurrent = 1;
    for (const auto& [bytesInAll, fetched] : rows) {
        SCOPED_TRACE(bytesInAll);
        limits.maxPictureBytesInAll = bytesInAll;
        makeLoader();
        const std::size_t requestsBefore = server.requestCount(), all = fetched.size() + 100'000;
        const std::string at = "/" + std::to_string(bytesInAll) + "/", url = server.url(at);
        for (std::size_t i = 0; i < all; ++i) {
            if (i < fetched.size()) server.setReply(at + std::to_string(i), ScriptedReply::text(fetched[i]));
            loader->request(Kind::Image, url + std::to_string(i));
        }
        ASSERT_TRUE(waitDeliveries(all, 30));
        EXPECT_EQ(deliveries[0].bytes, Bytes(fetched[0]));
        for (std::size_t i = 1; i < all; ++i) ASSERT_FALSE(deliveries[i].bytes) << i;
        EXPECT_EQ(deliveries.back().url, url + std::to_string(all - 1));
        EXPECT_EQ(server.requestCount() - requestsBefore, fetched.size());
        loader->request(Kind::Image, url + "later");
        ASSERT_EQ(deliveries.size(), all + 1) << "asked later: fails inside its request";
        EXPECT_EQ(loader->pending(Kind::Image), all + 1);
        for (const Delivery& d : deliveries) loader->delivered(d.url);
        EXPECT_TRUE(loader->idle());
    }
}

TEST_F(WebResourceLoaderTest, AtMostMaxConcurrentRunEachEndStartsTheNextAskedAndStrayFetchNumbersDoNothing) {
    limits.maxConcurrent = 3;
    makeLoader();
    for (int i = 0; i < 9; ++i) loader->request(Kind::Image, server.url("/" + std::to_string(i)));
    // Out of order, each handed in before its connection's reply: it ends that fetch and starts the
    // next asked, and only that one. Fetch n being the nth started, a number that is none, ended,
    // not started yet or never given does nothing.
    std::size_t ended = 0;
    for (std::size_t i : {2, 0, 1, 5, 3, 4, 8, 7, 6}) {
        loader->finishBytes(i + 1, NSData::fromString(std::to_string(i)));
        for (std::uint64_t stray : {std::size_t(0), i + 1, ended + 5, std::size_t(999'999)})
            loader->finishBytes(stray, NSData::fromString("x"));
        ASSERT_EQ(deliveries.size(), ++ended) << i;
        EXPECT_EQ(deliveries.back().url, server.url("/" + std::to_string(i)));
        loader->delivered(deliveries.back().url);
        EXPECT_EQ(loader->pending(Kind::Image), 9 - ended);
    }
}

TEST_F(WebResourceLoaderTest, TwentyThousandRefusedPicturesAllEndCountedOnceAndInTheOrderAsked) {
    testsupport::RefusingPort refusing;  // refuses every connection at once
    constexpr std::size_t kPictures = 20'000;
    makeLoader();
    // The page's process takes each in a little later, as from the web view: the count seen at
    // each hand-over is what was asked less what was taken in.
    std::size_t takenIn = 0, wrongCounts = 0;
    onDeliver = [&](const Delivery& d) {
        wrongCounts += loader->pending(Kind::Image) != kPictures - takenIn;
        NSRunLoop::mainRunLoop()->performBlock([&, url = d.url] {
            loader->delivered(url);
            ++takenIn;
        });
    };
    const std::string base = refusing.url("/");
    for (std::size_t i = 0; i < kPictures; ++i) loader->request(Kind::Image, base + std::to_string(i));
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return takenIn == kPictures; }, 120));
    EXPECT_EQ(wrongCounts, 0u);
    EXPECT_TRUE(loader->idle());
    ASSERT_EQ(deliveries.size(), kPictures);
    // Each failed, once, and none before those asked before it could make room for it.
    std::vector<bool> seen(kPictures);
    for (std::size_t at = 0; at < kPictures; ++at) {
        const std::size_t i = std::stoul(deliveries[at].url.substr(base.size()));
        ASSERT_FALSE(seen[i] || deliveries[at].bytes) << i << " handed over twice, or not failed";
        ASSERT_LT(i, at + limits.maxConcurrent) << "out of turn";
        seen[i] = true;
    }
}

}  // namespace
