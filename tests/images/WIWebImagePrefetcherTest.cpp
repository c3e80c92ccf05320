// The prefetcher: width and list order, the completion report, empty batches, failures counted
// as skipped, cancellation, and warming the cache for later view loads.

#include <gtest/gtest.h>

#include <vector>

#include "images/WIWebImagePrefetcher.h"
#include "tests/images/ImagesTestSupport.h"

using imagestest::RemoteImageTest;

namespace {

class PrefetcherTest : public RemoteImageTest {
  protected:
    void SetUp() override {
        RemoteImageTest::SetUp();
        prefetcher = make<WIWebImagePrefetcher>();
    }
    void TearDown() override {
        prefetcher->cancelPrefetching();
        RemoteImageTest::TearDown();
    }
    Ref<WIWebImagePrefetcher> prefetcher;
};

struct Reports : WIWebImagePrefetcherDelegate {
    std::vector<Ref<NSURL>> prefetched;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> finished;
    void imagePrefetcherDidPrefetchURL(const Ref<WIWebImagePrefetcher>&, const Ref<NSURL>& url, std::uint64_t,
                                       std::uint64_t) override {
        prefetched.push_back(url);
    }
    bool implementsDidPrefetchURL() const override { return true; }
    void imagePrefetcherDidFinishWithTotalCount(const Ref<WIWebImagePrefetcher>&, std::uint64_t total,
                                                std::uint64_t skipped) override {
        finished.emplace_back(total, skipped);
    }
    bool implementsDidFinish() const override { return true; }
};

}  // namespace

TEST_F(PrefetcherTest, CreatingOneWidensTheSharedDownloader) {
    EXPECT_EQ(WIWebImageDownloader::sharedDownloader()->maxConcurrentDownloads(), 3);
    EXPECT_EQ(prefetcher->maxConcurrentDownloads(), 3);
    EXPECT_EQ(prefetcher->options(), WILoadLowPriority);
    EXPECT_NE(prefetcher->manager(), WIWebImageManager::sharedManager());
    EXPECT_EQ(prefetcher->manager()->imageCache(), WIImageCache::sharedImageCache());
}

TEST_F(PrefetcherTest, TenURLsThreeAtATimeInListOrder) {
    std::vector<Ref<NSURL>> urls;
    for (int i = 0; i < 10; ++i) {
        if (i == 4) {
            urls.push_back(hostURL(imagestest::uniquePath("missing.png")));
        } else {
            urls.push_back(servePNG("p" + std::to_string(i) + ".png", 4, 4, i + 1));
        }
        host.closeGate(urls.back()->path());
    }
    auto reports = std::make_shared<Reports>();
    prefetcher->setDelegate(reports);
    std::vector<std::uint64_t> progress;
    int completions = 0;
    std::uint64_t finishedCount = 0, skippedCount = 0;
    prefetcher->prefetchURLs(
        urls,
        [&](std::uint64_t finished, std::uint64_t total) {
            EXPECT_EQ(total, 10u);
            progress.push_back(finished);
        },
        [&](std::uint64_t finished, std::uint64_t skipped) {
            ++completions;
            finishedCount = finished;
            skippedCount = skipped;
        });
    EXPECT_EQ(prefetcher->requestedCount(), 3u);
    ASSERT_TRUE(pumpUntil([&] { return host.requestCount(urls[2]->path()) >= 1; }));
    EXPECT_EQ(host.requestCount(urls[3]->path()), 0);
    // Open the gates one at a time: each finished load starts the next URL of the list.
    for (int i = 0; i < 10; ++i) {
        host.openGate(urls[i]->path());
        ASSERT_TRUE(
            pumpUntil([&] { return prefetcher->finishedCount() >= static_cast<std::uint64_t>(i + 1); }));
        if (i + 3 < 10) {
            ASSERT_TRUE(pumpUntil([&] { return host.requestCount(urls[i + 3]->path()) == 1; }));
        }
    }
    ASSERT_TRUE(pumpUntil([&] { return completions == 1; }));
    testsupport::pumpMainRunLoop(0.05);
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(finishedCount, 10u);
    EXPECT_EQ(skippedCount, 1u);
    EXPECT_EQ(progress.size(), 10u);
    EXPECT_EQ(reports->prefetched, urls);
    ASSERT_EQ(reports->finished.size(), 1u);
    EXPECT_EQ(reports->finished[0].first, 9u);
    EXPECT_EQ(reports->finished[0].second, 1u);
}

TEST_F(PrefetcherTest, AnEmptyBatchCompletesAtOnce) {
    int completions = 0;
    prefetcher->prefetchURLs({}, nullptr, [&](std::uint64_t finished, std::uint64_t skipped) {
        ++completions;
        EXPECT_EQ(finished, 0u);
        EXPECT_EQ(skipped, 0u);
    });
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(prefetcher->requestedCount(), 0u);
}

TEST_F(PrefetcherTest, EarlierFailuresCountAsSkipped) {
    auto missing = hostURL(imagestest::uniquePath("gone.png"));
    bool first = false;
    prefetcher->prefetchURLs({missing}, nullptr, [&](std::uint64_t, std::uint64_t) { first = true; });
    ASSERT_TRUE(pumpUntil([&] { return first; }));
    std::uint64_t skipped = 0;
    bool second = false;
    prefetcher->prefetchURLs({missing}, nullptr, [&](std::uint64_t, std::uint64_t s) {
        second = true;
        skipped = s;
    });
    ASSERT_TRUE(pumpUntil([&] { return second; }));
    EXPECT_EQ(skipped, 1u);
    EXPECT_EQ(host.requestCount(missing->path()), 1);
}

TEST_F(PrefetcherTest, PrefetchedPicturesAnswerFromTheCache) {
    auto url = servePNG("warm.png", 9, 9);
    bool done = false;
    prefetcher->prefetchURLs({url}, nullptr, [&](std::uint64_t, std::uint64_t) { done = true; });
    ASSERT_TRUE(pumpUntil([&] { return done; }));
    bool answered = false;
    WIWebImageManager::sharedManager()->downloadImageWithURL(
        url, 0, nullptr,
        [&](const Ref<UIImage>& image, const Ref<NSError>&, WICacheSource source, bool, const Ref<NSURL>&) {
            answered = true;
            EXPECT_TRUE(image);
            EXPECT_EQ(source, WICacheSourceMemory);
        });
    EXPECT_TRUE(answered);
    EXPECT_EQ(host.requestCount(url->path()), 1);
}

TEST_F(PrefetcherTest, ANewBatchEndsTheEarlierOneWithoutItsReport) {
    auto slow = servePNG("slow.png");
    host.closeGate(slow->path());
    int earlier = 0, later = 0;
    prefetcher->prefetchURLs({slow}, nullptr, [&](std::uint64_t, std::uint64_t) { ++earlier; });
    ASSERT_TRUE(pumpUntil([&] { return host.requestCount(slow->path()) >= 1; }));
    auto fast = servePNG("fast.png");
    prefetcher->prefetchURLs({fast}, nullptr, [&](std::uint64_t, std::uint64_t) { ++later; });
    host.openGate(slow->path());
    ASSERT_TRUE(pumpUntil([&] { return later == 1; }));
    testsupport::pumpMainRunLoop(0.1);
    EXPECT_EQ(earlier, 0);
    prefetcher->cancelPrefetching();
    EXPECT_EQ(prefetcher->finishedCount(), 0u);
    EXPECT_TRUE(prefetcher->prefetchURLList().empty());
}
