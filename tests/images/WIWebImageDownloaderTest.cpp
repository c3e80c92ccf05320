// The downloader and its operations against the loopback picture host: one download per URL,
// per-caller cancellation, error statuses, callback order, progressive pictures, execution
// order, request headers and concurrent callers.

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "foundation/NSNotificationCenter.h"
#include "images/WIWebImageDownloader.h"
#include "tests/images/ImagesTestSupport.h"
#include "tests/support/HTTPSTestServer.h"
#include "tests/support/LoopbackHTTPServer.h"
#include "tests/support/TestCertificates.h"
#include "uikit/UIApplication.h"

using imagestest::uniquePath;
using testsupport::ImageHost;

namespace {

struct Answer {
    std::atomic<int> calls{0};
    std::mutex lock;
    Ref<UIImage> image;
    std::optional<NSData> data;
    Ref<NSError> error;
    bool finished = false;

    WIWebImageDownloaderCompletedBlock block() {
        return [this](const Ref<UIImage>& i, const std::optional<NSData>& d, const Ref<NSError>& e, bool f) {
            if (!f) return;
            std::lock_guard guard(lock);
            image = i;
            data = d;
            error = e;
            finished = f;
            ++calls;
        };
    }
};

class DownloaderTest : public ::testing::Test {
  protected:
    void SetUp() override { downloader = make<WIWebImageDownloader>(); }
    void TearDown() override {
        host.stop();
        downloader->downloadQueue()->cancelAllOperations();
        downloader->downloadQueue()->waitUntilAllOperationsAreFinished(10);
        testsupport::drainMainRunLoop();
    }
    Ref<NSURL> serve(const std::string& name, std::string bytes) {
        std::string path = uniquePath(name);
        host.setPicture(path, std::move(bytes));
        return NSURL::URLWithString(host.url(path));
    }
    bool waitFor(const std::function<bool()>& condition, double seconds = 10) {
        return testsupport::pumpMainRunLoopUntil(condition, seconds);
    }

    ImageHost host;
    Ref<WIWebImageDownloader> downloader;
};

}  // namespace

TEST_F(DownloaderTest, DefaultsAndHeaders) {
    EXPECT_EQ(downloader->maxConcurrentDownloads(), 2);
    EXPECT_EQ(downloader->downloadTimeout(), 15.0);
    EXPECT_EQ(downloader->executionOrder(), WIDownloadOrderFIFO);
    EXPECT_EQ(downloader->valueForHTTPHeaderField("Accept"), "image/webp,image/*;q=0.8");
    downloader->setValue(std::string("yes"), "X-Test");
    EXPECT_EQ(downloader->valueForHTTPHeaderField("X-Test"), "yes");
    downloader->setValue(std::nullopt, "X-Test");
    EXPECT_EQ(downloader->valueForHTTPHeaderField("X-Test"), std::nullopt);
    EXPECT_STREQ(dispatch_queue_get_label(downloader->barrierQueue()),
                 "com.dravelin.WIWebImageDownloaderBarrierQueue");
}

TEST_F(DownloaderTest, DownloadsAndDecodesAPicture) {
    std::string png = ImageHost::pngPicture(20, 10, 4);
    auto url = serve("a.png", png);
    Answer answer;
    std::vector<std::pair<std::int64_t, std::int64_t>> progress;
    std::mutex progressLock;
    auto handle = downloader->downloadImageWithURL(
        url, 0,
        [&](std::int64_t r, std::int64_t e) {
            std::lock_guard guard(progressLock);
            progress.emplace_back(r, e);
        },
        answer.block());
    ASSERT_TRUE(handle);
    ASSERT_TRUE(waitFor([&] { return answer.calls > 0; }));
    std::lock_guard guard(answer.lock);
    ASSERT_TRUE(answer.image);
    EXPECT_EQ(CGImageGetWidth(answer.image->CGImage()), 20u);
    EXPECT_EQ(answer.data, NSData::fromString(png));
    EXPECT_FALSE(answer.error);
    std::lock_guard plock(progressLock);
    ASSERT_GE(progress.size(), 3u);
    using Pair = std::pair<std::int64_t, std::int64_t>;
    EXPECT_EQ(progress[0], Pair(0, -1));
    EXPECT_EQ(progress[1], Pair(0, static_cast<std::int64_t>(png.size())));
    EXPECT_EQ(progress.back().first, static_cast<std::int64_t>(png.size()));
    EXPECT_EQ(host.lastRequestHeader(url->path(), "Accept"), "image/webp,image/*;q=0.8");
}

TEST_F(DownloaderTest, TwoCallersShareOneDownload) {
    auto url = serve("shared.png", ImageHost::pngPicture(8, 8, 1));
    host.closeGate(url->path());
    Answer first, second;
    auto a = std::dynamic_pointer_cast<WIWebImageDownloadToken>(
        downloader->downloadImageWithURL(url, 0, nullptr, first.block()));
    auto b = std::dynamic_pointer_cast<WIWebImageDownloadToken>(
        downloader->downloadImageWithURL(url, 0, nullptr, second.block()));
    ASSERT_TRUE(a && b);
    EXPECT_TRUE(a->startedDownload());
    EXPECT_FALSE(b->startedDownload());
    EXPECT_EQ(a->operation(), b->operation());
    EXPECT_EQ(downloader->callbacksForURL(url)->size(), 2u);
    host.openGate(url->path());
    ASSERT_TRUE(waitFor([&] { return first.calls > 0 && second.calls > 0; }));
    EXPECT_EQ(host.requestCount(url->path()), 1);
    EXPECT_EQ(first.image, second.image);
    EXPECT_FALSE(downloader->callbacksForURL(url));
}

TEST_F(DownloaderTest, CancellingOneCallerLeavesTheOtherServed) {
    auto url = serve("cancel-one.png", ImageHost::pngPicture(8, 8, 1));
    host.closeGate(url->path());
    Answer first, second;
    auto a = downloader->downloadImageWithURL(url, 0, nullptr, first.block());
    auto b = downloader->downloadImageWithURL(url, 0, nullptr, second.block());
    ASSERT_TRUE(host.waitForRequests(url->path(), 1, 10));
    a->cancel();  // the caller that started the download
    EXPECT_EQ(downloader->callbacksForURL(url)->size(), 1u);
    host.openGate(url->path());
    ASSERT_TRUE(waitFor([&] { return second.calls > 0; }));
    testsupport::pumpMainRunLoop(0.05);
    EXPECT_EQ(first.calls, 0);
    EXPECT_TRUE(second.image);
}

TEST_F(DownloaderTest, CancellingEveryCallerStopsTheDownload) {
    auto url = serve("cancel-all.png", ImageHost::pngPicture(8, 8, 1));
    host.closeGate(url->path());
    Answer first, second;
    auto a = std::dynamic_pointer_cast<WIWebImageDownloadToken>(
        downloader->downloadImageWithURL(url, 0, nullptr, first.block()));
    auto b = downloader->downloadImageWithURL(url, 0, nullptr, second.block());
    auto operation = a->operation();
    ASSERT_TRUE(host.waitForRequests(url->path(), 1, 10));
    a->cancel();
    b->cancel();
    EXPECT_FALSE(downloader->callbacksForURL(url));
    ASSERT_TRUE(waitFor([&] { return operation->isFinished(); }));
    EXPECT_TRUE(operation->isCancelled());
    host.openGate(url->path());
    testsupport::pumpMainRunLoop(0.05);
    EXPECT_EQ(first.calls + second.calls, 0);
}

TEST_F(DownloaderTest, CancelBeforeStartFinishesWithoutAConnection) {
    downloader->setSuspended(true);
    auto url = serve("never.png", ImageHost::pngPicture(8, 8, 1));
    Answer answer;
    auto token = std::dynamic_pointer_cast<WIWebImageDownloadToken>(
        downloader->downloadImageWithURL(url, 0, nullptr, answer.block()));
    auto operation = token->operation();
    bool cancelBlockRan = false;
    // The operation itself, cancelled directly: its cancel block takes the URL's callers off.
    operation->cancel();
    EXPECT_FALSE(downloader->callbacksForURL(url));
    cancelBlockRan = true;
    downloader->setSuspended(false);
    ASSERT_TRUE(waitFor([&] { return operation->isFinished(); }));
    EXPECT_TRUE(cancelBlockRan);
    EXPECT_EQ(host.requestCount(url->path()), 0);
    // A caller that had not cancelled hears that the download was stopped.
    ASSERT_TRUE(waitFor([&] { return answer.calls > 0; }));
    EXPECT_EQ(answer.error->code(), NSURLErrorCancelled);
}

TEST_F(DownloaderTest, HTTPErrorStatusCompletesWithThatCode) {
    std::string path = uniquePath("missing.png");
    auto url = NSURL::URLWithString(host.url(path));
    std::atomic<int> stops{0};
    auto observer = NSNotificationCenter::defaultCenter()->addObserverForName(
        std::string(WIWebImageDownloadStopNotification), nullptr, nullptr,
        [&](const Ref<NSNotification>&) { ++stops; });
    Answer answer;
    downloader->downloadImageWithURL(url, 0, nullptr, answer.block());
    ASSERT_TRUE(waitFor([&] { return answer.calls > 0 && stops > 0; }));
    EXPECT_EQ(answer.error->domain(), NSURLErrorDomain);
    EXPECT_EQ(answer.error->code(), 404);
    EXPECT_FALSE(answer.image);
    EXPECT_FALSE(downloader->callbacksForURL(url));
    NSNotificationCenter::defaultCenter()->removeObserver(observer);
}

TEST_F(DownloaderTest, BytesThatAreNoPictureGiveTheZeroPixelsError) {
    auto url = serve("page.png", "<html>no picture here</html>");
    Answer answer;
    downloader->downloadImageWithURL(url, 0, nullptr, answer.block());
    ASSERT_TRUE(waitFor([&] { return answer.calls > 0; }));
    EXPECT_EQ(answer.error->domain(), "WIWebImageErrorDomain");
    EXPECT_EQ(answer.error->code(), 0);
    EXPECT_EQ(answer.error->localizedDescription(), "Downloaded image has 0 pixels");
}

TEST_F(DownloaderTest, ABodyCutShortIsAConnectionError) {
    std::string png = ImageHost::pngPicture(64, 64, 3);
    auto url = serve("cut.png", png);
    host.setTruncateAt(url->path(), png.size() / 2);
    Answer answer;
    downloader->downloadImageWithURL(url, 0, nullptr, answer.block());
    ASSERT_TRUE(waitFor([&] { return answer.calls > 0; }));
    ASSERT_TRUE(answer.error);
    EXPECT_EQ(answer.error->domain(), NSURLErrorDomain);
    EXPECT_FALSE(answer.image);
}

TEST_F(DownloaderTest, NilURLAnswersAtOnceUnfinished) {
    bool called = false;
    auto handle = downloader->downloadImageWithURL(
        nullptr, 0, nullptr,
        [&](const Ref<UIImage>& i, const std::optional<NSData>& d, const Ref<NSError>& e, bool f) {
            called = true;
            EXPECT_FALSE(i || d || e || f);
        });
    EXPECT_FALSE(handle);
    EXPECT_TRUE(called);
}

TEST_F(DownloaderTest, ProgressiveDownloadDeliversPartialPicturesOnTheMainThread) {
    std::string jpeg = ImageHost::jpegPicture(256, 256, 8, 0.9);
    auto url = serve("progressive.jpg", jpeg);
    host.setTrickle(url->path(), jpeg.size() / 6 + 1, 0.03);
    std::atomic<int> partials{0};
    Answer answer;
    downloader->downloadImageWithURL(
        url, WIDownloadProgressive, nullptr,
        [&](const Ref<UIImage>& i, const std::optional<NSData>& d, const Ref<NSError>& e, bool f) {
            if (!f) {
                EXPECT_TRUE(NSThread::isMainThread());
                EXPECT_TRUE(i);
                EXPECT_FALSE(d);
                ++partials;
            }
            answer.block()(i, d, e, f);
        });
    ASSERT_TRUE(waitFor([&] { return answer.calls > 0; }));
    EXPECT_TRUE(answer.image);
    // Six pieces: partial pictures for the first five, then the final answer.
    EXPECT_GE(partials, 1);
    EXPECT_LE(partials, 5);
}

TEST_F(DownloaderTest, WithoutAContentLengthThereAreNoPartialPictures) {
    std::string jpeg = ImageHost::jpegPicture(128, 128, 8, 0.9);
    auto url = serve("nolength.jpg", jpeg);
    // Chunked transfer: the length is not known in advance.
    host.setChunked(url->path(), true);
    std::atomic<int> partials{0};
    std::vector<std::int64_t> expected;
    std::mutex lock;
    Answer answer;
    downloader->downloadImageWithURL(
        url, WIDownloadProgressive,
        [&](std::int64_t, std::int64_t e) {
            std::lock_guard guard(lock);
            expected.push_back(e);
        },
        [&](const Ref<UIImage>& i, const std::optional<NSData>& d, const Ref<NSError>& e, bool f) {
            if (!f) ++partials;
            answer.block()(i, d, e, f);
        });
    ASSERT_TRUE(waitFor([&] { return answer.calls > 0; }));
    EXPECT_TRUE(answer.image);
    std::lock_guard guard(lock);
    ASSERT_GE(expected.size(), 2u);
    EXPECT_EQ(expected[0], -1);
    EXPECT_EQ(expected[1], 0);  // the response: no expected length
    EXPECT_EQ(partials, 0);
}

TEST_F(DownloaderTest, LastInFirstOutRunsNewestFirst) {
    downloader->setExecutionOrder(WIDownloadOrderLIFO);
    downloader->setMaxConcurrentDownloads(1);
    downloader->setSuspended(true);
    std::mutex lock;
    std::vector<int> order;
    std::vector<std::unique_ptr<Answer>> answers;
    for (int i = 0; i < 3; ++i) {
        auto url = serve("lifo" + std::to_string(i) + ".png", ImageHost::pngPicture(4, 4, i + 1));
        answers.push_back(std::make_unique<Answer>());
        downloader->downloadImageWithURL(
            url, 0, nullptr,
            [&, i](const Ref<UIImage>&, const std::optional<NSData>&, const Ref<NSError>&, bool f) {
                if (!f) return;
                std::lock_guard guard(lock);
                order.push_back(i);
            });
    }
    downloader->setSuspended(false);
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard guard(lock);
        return order.size() == 3;
    }));
    EXPECT_EQ(order, (std::vector<int>{2, 1, 0}));
}

TEST_F(DownloaderTest, HeadersFilterReplacesTheDefaults) {
    downloader->setHeadersFilter([](const Ref<NSURL>&, const Dictionary& headers) {
        Dictionary changed = headers.mutableCopy();
        changed.setObject("X-Filtered", "1");
        changed.removeObjectForKey("Accept");
        return changed;
    });
    auto url = serve("filtered.png", ImageHost::pngPicture(4, 4, 1));
    Answer answer;
    downloader->downloadImageWithURL(url, 0, nullptr, answer.block());
    ASSERT_TRUE(waitFor([&] { return answer.calls > 0; }));
    EXPECT_EQ(host.lastRequestHeader(url->path(), "X-Filtered"), "1");
    EXPECT_NE(host.lastRequestHeader(url->path(), "Accept"),
              std::optional<std::string>("image/webp,image/*;q=0.8"));
}

TEST_F(DownloaderTest, AtMostTwoDownloadsRunAtOnce) {
    std::vector<Ref<NSURL>> urls;
    for (int i = 0; i < 4; ++i) {
        urls.push_back(serve("w" + std::to_string(i) + ".png", ImageHost::pngPicture(4, 4, i + 1)));
        host.closeGate(urls.back()->path());
    }
    std::vector<std::unique_ptr<Answer>> answers;
    for (auto& url : urls) {
        answers.push_back(std::make_unique<Answer>());
        downloader->downloadImageWithURL(url, 0, nullptr, answers.back()->block());
    }
    ASSERT_TRUE(host.waitForRequests(urls[0]->path(), 1, 10));
    ASSERT_TRUE(host.waitForRequests(urls[1]->path(), 1, 10));
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_EQ(host.requestCount(urls[2]->path()) + host.requestCount(urls[3]->path()), 0);
    EXPECT_EQ(downloader->currentDownloadCount(), 4u);
    for (auto& url : urls) host.openGate(url->path());
    ASSERT_TRUE(waitFor([&] {
        for (auto& answer : answers)
            if (answer->calls == 0) return false;
        return true;
    }));
}

TEST_F(DownloaderTest, ManyThreadsAskingForTheSameURLsGetOneDownloadEach) {
    std::vector<Ref<NSURL>> urls;
    for (int i = 0; i < 3; ++i) {
        urls.push_back(serve("c" + std::to_string(i) + ".png", ImageHost::pngPicture(6, 6, i + 1)));
        host.closeGate(urls.back()->path());
    }
    std::atomic<int> answered{0};
    std::atomic<int> withImage{0};
    std::vector<std::thread> threads;
    std::vector<Ref<WIWebImageOperation>> handles(24);
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 4; ++i) {
                handles[t * 4 + i] = downloader->downloadImageWithURL(urls[(t + i) % 3], 0, nullptr,
                                                                      [&](const Ref<UIImage>& image,
                                                                          const std::optional<NSData>&,
                                                                          const Ref<NSError>&, bool f) {
                                                                          if (!f) return;
                                                                          if (image) ++withImage;
                                                                          ++answered;
                                                                      });
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (auto& url : urls) host.openGate(url->path());
    ASSERT_TRUE(waitFor([&] { return answered == 24; }));
    EXPECT_EQ(withImage, 24);
    for (auto& url : urls) EXPECT_EQ(host.requestCount(url->path()), 1);
}

TEST_F(DownloaderTest, AnUntrustedServerCertificateFailsTheDownload) {
    const auto& pki = testsupport::testPKI();
    testsupport::HTTPSTestServer server(pki.selfSignedLeaf.pem, pki.selfSignedLeaf.keyPEM);
    server.setResponse(200, ImageHost::pngPicture(4, 4, 1), "image/png");
    ASSERT_TRUE(server.start()) << server.lastError();
    Answer answer;
    downloader->downloadImageWithURL(NSURL::URLWithString(server.url("/p.png", "127.0.0.1")), 0, nullptr,
                                     answer.block());
    ASSERT_TRUE(waitFor([&] { return answer.calls > 0; }));
    EXPECT_FALSE(answer.image);
    ASSERT_TRUE(answer.error);
    EXPECT_EQ(answer.error->domain(), NSURLErrorDomain);
    EXPECT_EQ(server.requestsAnswered(), 0);
}

TEST_F(DownloaderTest, UnreachableAndUnsupportedURLsFailCleanly) {
    Answer refused, unsupported;
    // A port no one may listen on while the test runs (a stopped server's may be taken again).
    testsupport::RefusingPort nobody;
    downloader->downloadImageWithURL(NSURL::URLWithString(nobody.url("/p.png")), 0, nullptr, refused.block());
    downloader->downloadImageWithURL(NSURL::URLWithString("ftp://127.0.0.1/p.png"), 0, nullptr,
                                     unsupported.block());
    ASSERT_TRUE(waitFor([&] { return refused.calls > 0 && unsupported.calls > 0; }));
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->code(), NSURLErrorCannotConnectToHost);
    ASSERT_TRUE(unsupported.error);
    EXPECT_EQ(unsupported.error->code(), NSURLErrorUnsupportedURL);
    EXPECT_FALSE(refused.image || unsupported.image);
}

TEST_F(DownloaderTest, AnExpiredBackgroundTaskStopsTheDownloadAndTellsItsCallers) {
    auto application = UIApplication::sharedApplication();
    auto tasks = [&] {
        auto list = application->runningBackgroundTasks();
        return std::set<UIBackgroundTaskIdentifier>(list.begin(), list.end());
    };
    auto before = tasks();
    auto url = serve("background.png", ImageHost::pngPicture(8, 8, 1));
    host.closeGate(url->path());
    Answer answer;
    auto token = std::dynamic_pointer_cast<WIWebImageDownloadToken>(
        downloader->downloadImageWithURL(url, WIDownloadContinueInBackground, nullptr, answer.block()));
    ASSERT_TRUE(host.waitForRequests(url->path(), 1, 10));
    // The download's own task: one that was not running before.
    UIBackgroundTaskIdentifier task = UIBackgroundTaskInvalid;
    ASSERT_TRUE(waitFor([&] {
        for (auto id : tasks()) {
            if (!before.count(id)) task = id;
        }
        return task != UIBackgroundTaskInvalid;
    }));
    application->expireBackgroundTasks();
    ASSERT_TRUE(waitFor([&] { return answer.calls > 0; }));
    EXPECT_EQ(answer.error->code(), NSURLErrorCancelled);
    EXPECT_FALSE(answer.image);
    ASSERT_TRUE(waitFor([&] { return tasks().count(task) == 0; }));
    auto operation = token->operation();
    EXPECT_TRUE(!operation || waitFor([&] { return operation->isFinished(); }));
    host.openGate(url->path());
}
