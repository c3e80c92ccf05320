// The image manager end to end against the loopback picture host: memory, then disk, then
// network; one fetch per URL; the failed list; refresh through the URL cache with 304; per-load
// cancellation; the running list.

#include <gtest/gtest.h>

#include <vector>

#include "images/WIWebImageManager.h"
#include "tests/images/ImagesTestSupport.h"

using imagestest::RemoteImageTest;
using imagestest::uniquePath;
using testsupport::ImageHost;

namespace {

struct Call {
    Ref<UIImage> image;
    Ref<NSError> error;
    WICacheSource source = WICacheSourceNone;
    bool finished = false;
    Ref<NSURL> url;
    bool managerRunning = false;  // what the manager said while the caller was being told
};

class ManagerTest : public RemoteImageTest {
  protected:
    Ref<WIWebImageManager> manager = WIWebImageManager::sharedManager();

    Ref<WIWebImageOperation> load(const Ref<NSURL>& url, WILoadOptions options, std::vector<Call>& calls) {
        return manager->downloadImageWithURL(url, options, nullptr,
                                             [this, &calls](const Ref<UIImage>& i, const Ref<NSError>& e,
                                                            WICacheSource s, bool f, const Ref<NSURL>& u) {
                                                 EXPECT_TRUE(NSThread::isMainThread());
                                                 calls.push_back({i, e, s, f, u, manager->isRunning()});
                                             });
    }
    void flushIO() {
        dispatch_sync(cache->ioQueue(), [] {});
    }
};

}  // namespace

TEST_F(ManagerTest, NetworkThenMemoryThenDisk) {
    auto url = servePNG("a.png", 12, 9);
    std::vector<Call> calls;
    load(url, 0, calls);
    ASSERT_TRUE(pumpUntil([&] { return !calls.empty(); }));
    ASSERT_TRUE(calls[0].image);
    EXPECT_EQ(calls[0].source, WICacheSourceNone);
    EXPECT_TRUE(calls[0].finished);
    EXPECT_EQ(calls[0].url, url);
    // A finished load is off the running list by the time its caller hears of it.
    EXPECT_FALSE(calls[0].managerRunning);
    EXPECT_EQ(host.requestCount(url->path()), 1);

    // Memory: answered before the call returns.
    std::vector<Call> hot;
    load(url, 0, hot);
    ASSERT_EQ(hot.size(), 1u);
    EXPECT_EQ(hot[0].source, WICacheSourceMemory);

    // Disk: the downloaded bytes were written as they came.
    flushIO();
    EXPECT_EQ(NSData::dataWithContentsOfFile(cache->defaultCachePathForKey(url->absoluteString())),
              NSData::fromString(host.reply(url->path()).body));
    cache->clearMemory();
    std::vector<Call> warm;
    load(url, 0, warm);
    EXPECT_TRUE(warm.empty());
    ASSERT_TRUE(pumpUntil([&] { return !warm.empty(); }));
    EXPECT_EQ(warm[0].source, WICacheSourceDisk);
    EXPECT_TRUE(warm[0].image);
    EXPECT_FALSE(warm[0].managerRunning);
    EXPECT_EQ(host.requestCount(url->path()), 1);
    EXPECT_FALSE(manager->isRunning());
}

TEST_F(ManagerTest, StringURLsAndTheCacheKey) {
    auto url = servePNG("s.png");
    EXPECT_EQ(manager->cacheKeyForURL(url), url->absoluteString());
    EXPECT_EQ(manager->cacheKeyForURL(nullptr), std::nullopt);
    std::vector<Call> calls;
    manager->downloadImageWithURL(
        url->absoluteString(), 0, nullptr,
        [&](const Ref<UIImage>& i, const Ref<NSError>& e, WICacheSource s, bool f, const Ref<NSURL>& u) {
            calls.push_back({i, e, s, f, u});
        });
    ASSERT_TRUE(pumpUntil([&] { return !calls.empty(); }));
    EXPECT_TRUE(calls[0].image);

    std::vector<Call> bad;
    manager->downloadImageWithURL(
        std::string("not a url"), 0, nullptr,
        [&](const Ref<UIImage>& i, const Ref<NSError>& e, WICacheSource s, bool f, const Ref<NSURL>& u) {
            bad.push_back({i, e, s, f, u});
        });
    ASSERT_EQ(bad.size(), 1u);
    EXPECT_EQ(bad[0].error->code(), NSURLErrorFileDoesNotExist);
    EXPECT_TRUE(bad[0].finished);
}

TEST_F(ManagerTest, AFailedURLIsRefusedUntilRetried) {
    std::string path = uniquePath("gone.png");
    auto url = hostURL(path);
    std::vector<Call> calls;
    load(url, 0, calls);
    ASSERT_TRUE(pumpUntil([&] { return !calls.empty(); }));
    EXPECT_EQ(calls[0].error->code(), 404);
    EXPECT_TRUE(manager->isFailedURL(url));
    EXPECT_FALSE(calls[0].managerRunning);

    std::vector<Call> refused;
    load(url, 0, refused);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].error->code(), NSURLErrorFileDoesNotExist);
    EXPECT_EQ(host.requestCount(path), 1);

    host.setPicture(path, ImageHost::pngPicture(5, 5, 1));
    std::vector<Call> retried;
    load(url, WILoadRetryFailed, retried);
    ASSERT_TRUE(pumpUntil([&] { return !retried.empty(); }));
    EXPECT_TRUE(retried[0].image);
    EXPECT_EQ(host.requestCount(path), 2);
}

TEST_F(ManagerTest, TimeoutsAreNotRemembered) {
    auto url = servePNG("slow.png");
    host.closeGate(url->path());
    WIWebImageDownloader::sharedDownloader()->setDownloadTimeout(0.3);
    std::vector<Call> calls;
    load(url, 0, calls);
    ASSERT_TRUE(pumpUntil([&] { return !calls.empty(); }, 15));
    WIWebImageDownloader::sharedDownloader()->setDownloadTimeout(15);
    EXPECT_EQ(calls[0].error->code(), NSURLErrorTimedOut);
    EXPECT_FALSE(manager->isFailedURL(url));
    host.openGate(url->path());
}

TEST_F(ManagerTest, RefreshKeepsAnUnchangedPictureAndFetchesAChangedOne) {
    auto url = servePNG("r.png", 7, 7, 1);
    std::vector<Call> first;
    load(url, WILoadRefreshCached, first);
    ASSERT_TRUE(pumpUntil([&] { return !first.empty(); }));
    ASSERT_TRUE(first[0].image);
    flushIO();

    // Unchanged: the cached picture at once, the server answers 304, nothing more.
    std::vector<Call> again;
    load(url, WILoadRefreshCached, again);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].source, WICacheSourceMemory);
    ASSERT_TRUE(pumpUntil([&] { return host.notModifiedCount(url->path()) == 1 && !manager->isRunning(); }));
    testsupport::pumpMainRunLoop(0.05);
    EXPECT_EQ(again.size(), 1u);
    EXPECT_TRUE(host.lastRequestHeader(url->path(), "If-None-Match"));

    // Changed: a second answer with the new picture, and the cache follows.
    host.setPicture(url->path(), ImageHost::pngPicture(11, 3, 2));
    std::vector<Call> changed;
    load(url, WILoadRefreshCached, changed);
    ASSERT_TRUE(pumpUntil([&] { return changed.size() == 2; }));
    EXPECT_EQ(CGImageGetWidth(changed[0].image->CGImage()), 7u);
    EXPECT_EQ(CGImageGetWidth(changed[1].image->CGImage()), 11u);
    EXPECT_EQ(changed[1].source, WICacheSourceNone);
    EXPECT_EQ(CGImageGetWidth(cache->imageFromMemoryCacheForKey(url->absoluteString())->CGImage()), 11u);
}

TEST_F(ManagerTest, CancellingWhileTheCacheQueryIsPendingSuppressesEverything) {
    auto url = servePNG("q.png");
    cache->storeImage(UIImage::imageWithData(NSData::fromString(host.reply(url->path()).body)),
                      url->absoluteString());
    flushIO();
    cache->clearMemory();
    dispatch_semaphore_t gate = dispatch_semaphore_create(0);
    dispatch_async(cache->ioQueue(), [gate] { dispatch_semaphore_wait(gate, DISPATCH_TIME_FOREVER); });
    std::vector<Call> calls;
    auto handle = load(url, 0, calls);
    EXPECT_TRUE(manager->isRunning());
    handle->cancel();
    dispatch_semaphore_signal(gate);
    flushIO();
    testsupport::pumpMainRunLoop(0.05);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(host.requestCount(url->path()), 0);
    // The cancelled load is not left on the running list for good.
    EXPECT_FALSE(manager->isRunning());
}

TEST_F(ManagerTest, CancellingOneOfTwoLoadsOfAURLDoesNotStarveTheOther) {
    auto url = servePNG("two.png");
    host.closeGate(url->path());
    std::vector<Call> first, second;
    auto a = load(url, 0, first);
    auto b = load(url, 0, second);
    ASSERT_TRUE(pumpUntil([&] { return host.requestCount(url->path()) >= 1; }));
    a->cancel();
    host.openGate(url->path());
    ASSERT_TRUE(pumpUntil([&] { return !second.empty(); }));
    EXPECT_TRUE(second[0].image);
    EXPECT_TRUE(first.empty());
    EXPECT_EQ(host.requestCount(url->path()), 1);
    ASSERT_TRUE(pumpUntil([&] { return !manager->isRunning(); }));
}

TEST_F(ManagerTest, CancelAllEmptiesTheRunningList) {
    auto url = servePNG("all.png");
    host.closeGate(url->path());
    std::vector<Call> calls;
    load(url, 0, calls);
    load(servePNG("all2.png"), 0, calls);
    ASSERT_TRUE(pumpUntil([&] { return host.requestCount(url->path()) >= 1; }));
    EXPECT_TRUE(manager->isRunning());
    manager->cancelAll();
    EXPECT_FALSE(manager->isRunning());
    host.openGate(url->path());
    testsupport::pumpMainRunLoop(0.1);
    // The second may have answered before the cancel; the gated one never does.
    for (const auto& call : calls) EXPECT_NE(call.url, url);
}

TEST_F(ManagerTest, MemoryOnlyLoadsLeaveTheDiskAlone) {
    auto url = servePNG("mem.png");
    std::vector<Call> calls;
    load(url, WILoadMemoryOnly, calls);
    ASSERT_TRUE(pumpUntil([&] { return !calls.empty(); }));
    flushIO();
    EXPECT_TRUE(cache->imageFromMemoryCacheForKey(url->absoluteString()));
    EXPECT_FALSE(manager->diskImageExistsForURL(url));
    EXPECT_TRUE(manager->cachedImageExistsForURL(url));
}

TEST_F(ManagerTest, ExistenceQueriesAndSaving) {
    auto url = servePNG("exists.png");
    EXPECT_FALSE(manager->cachedImageExistsForURL(url));
    manager->saveImageToCache(UIImage::imageWithData(NSData::fromString(host.reply(url->path()).body)), url);
    EXPECT_TRUE(manager->cachedImageExistsForURL(url));
    std::optional<bool> cached, disk;
    manager->cachedImageExistsForURL(url, [&](bool yes) { cached = yes; });
    manager->diskImageExistsForURL(url, [&](bool yes) { disk = yes; });
    ASSERT_TRUE(pumpUntil([&] { return cached && disk; }));
    EXPECT_TRUE(*cached);
    EXPECT_TRUE(*disk);
}

TEST_F(ManagerTest, DelegateCanVetoAndTransform) {
    struct Hooks : WIWebImageManagerDelegate {
        std::optional<bool> imageManagerShouldDownloadImageForURL(const Ref<WIWebImageManager>&,
                                                                  const Ref<NSURL>& url) override {
            return url->path().find("vetoed") == std::string::npos;
        }
        Ref<UIImage> imageManagerTransformDownloadedImage(const Ref<WIWebImageManager>&,
                                                          const Ref<UIImage>& image,
                                                          const Ref<NSURL>&) override {
            return UIImage::imageWithCGImage(image->CGImage(), 4);
        }
        bool implementsTransformDownloadedImage() const override { return true; }
    };
    auto hooks = std::make_shared<Hooks>();
    auto own = make<WIWebImageManager>(cache, WIWebImageDownloader::sharedDownloader());
    own->setDelegate(hooks);
    std::vector<Call> vetoed, transformed;
    auto vetoedURL = servePNG("vetoed.png");
    own->downloadImageWithURL(
        vetoedURL, 0, nullptr,
        [&](const Ref<UIImage>& i, const Ref<NSError>& e, WICacheSource s, bool f, const Ref<NSURL>& u) {
            vetoed.push_back({i, e, s, f, u});
        });
    auto url = servePNG("t.png", 8, 8);
    own->downloadImageWithURL(
        url, 0, nullptr,
        [&](const Ref<UIImage>& i, const Ref<NSError>& e, WICacheSource s, bool f, const Ref<NSURL>& u) {
            transformed.push_back({i, e, s, f, u});
        });
    ASSERT_TRUE(pumpUntil([&] { return !vetoed.empty() && !transformed.empty(); }));
    EXPECT_FALSE(vetoed[0].image);
    EXPECT_FALSE(vetoed[0].error);
    EXPECT_EQ(host.requestCount(vetoedURL->path()), 0);
    EXPECT_EQ(transformed[0].image->scale(), 4);
    EXPECT_EQ(cache->imageFromMemoryCacheForKey(url->absoluteString())->scale(), 4);
}
