// The two-level image cache: keys and file names, the store rules, queries and their
// cancellation, removals, read-only folders, expiry and budget cleans, restarts and crashed
// writes, and concurrent use.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "foundation/NSDate.h"
#include "foundation/NSFileManager.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSThread.h"
#include "images/UIImage+MultiFormat.h"
#include "images/WIImageCache.h"
#include "tests/support/ImageHost.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"
#include "uikit/UIApplication.h"

using testsupport::ImageHost;

namespace {

class ImageCacheTest : public ::testing::Test {
  protected:
    void SetUp() override {
        cache = make<WIImageCache>("test");
        cache->setDiskCachePath(folder.file("images"));
    }

    Ref<UIImage> png(unsigned seed = 1, int w = 6, int h = 4) {
        return UIImage::imageWithData(NSData::fromString(ImageHost::pngPicture(w, h, seed)));
    }
    // Waits until everything queued on the I/O queue so far has run.
    void flushIO() {
        dispatch_sync(cache->ioQueue(), [] {});
    }
    std::optional<NSData> fileFor(const std::string& key) {
        return NSData::dataWithContentsOfFile(cache->defaultCachePathForKey(key));
    }
    void setModified(const std::string& path, double secondsAgo) {
        Dictionary attributes{
            {NSFileModificationDate, Value(NSDate::dateWithTimeIntervalSinceNow(-secondsAgo))}};
        ASSERT_TRUE(NSFileManager::defaultManager()->setAttributes(attributes, path));
    }

    testsupport::TemporaryDirectory folder;
    Ref<WIImageCache> cache;
};

}  // namespace

TEST_F(ImageCacheTest, FileNamesAreLowerCaseMD5WithoutExtension) {
    EXPECT_EQ(WIImageCache::cachedFileNameForKey(std::string("")), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(WIImageCache::cachedFileNameForKey(std::nullopt), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(WIImageCache::cachedFileNameForKey(std::string("abc")), "900150983cd24fb0d6963f7d28e17f72");
    std::string odd = WIImageCache::cachedFileNameForKey(std::string("http://h/a/b.png?x=1&y=/\xE4\xB8\xAD"));
    EXPECT_EQ(odd.size(), 32u);
    EXPECT_EQ(odd.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(cache->defaultCachePathForKey(std::string("abc")),
              folder.file("images") + "/900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(cache->cachePathForKey(std::string("abc"), "/x/"), "/x/900150983cd24fb0d6963f7d28e17f72");
}

TEST_F(ImageCacheTest, SharedCacheLivesInTheCachesFolderUnderItsNamespace) {
    auto shared = WIImageCache::sharedImageCache();
    EXPECT_EQ(shared, WIImageCache::sharedImageCache());
    auto fresh = make<WIImageCache>();
    EXPECT_NE(fresh->diskCachePath().find("/com.dravelin.WIWebImageCache.default"), std::string::npos);
    EXPECT_STREQ(dispatch_queue_get_label(fresh->ioQueue()), "com.dravelin.WIWebImageCache");
    EXPECT_EQ(fresh->maxCacheAge(), 604800);
    EXPECT_EQ(fresh->maxCacheSize(), 0u);
    EXPECT_EQ(fresh->memCache()->name(), "com.dravelin.WIWebImageCache.default");
}

TEST_F(ImageCacheTest, StoreRulesForTheDiskBytes) {
    auto image = png();
    NSData pngBytes = *UIImagePNGRepresentation(png(9));
    NSData jpegBytes = NSData::fromString(ImageHost::jpegPicture(6, 4, 9));

    cache->storeImage(image, false, pngBytes, std::string("as-is"), true);
    cache->storeImage(image, true, pngBytes, std::string("png-again"), true);
    cache->storeImage(image, true, jpegBytes, std::string("jpeg-again"), true);
    cache->storeImage(image, std::string("no-data"));
    cache->storeImage(image, true, NSData::fromString("abc"), std::string("short-data"), true);
    flushIO();

    EXPECT_EQ(fileFor("as-is"), pngBytes);
    auto again = fileFor("png-again");
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *UIImagePNGRepresentation(image));
    auto jpeg = fileFor("jpeg-again");
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpeg->bytes()[0], 0xFF);
    EXPECT_EQ(*jpeg, *UIImageJPEGRepresentation(image, 1.0));
    EXPECT_EQ(fileFor("no-data"), UIImagePNGRepresentation(image));
    EXPECT_EQ(fileFor("short-data"), UIImagePNGRepresentation(image));
}

TEST_F(ImageCacheTest, NilImageOrKeyStoresNothing) {
    cache->storeImage(nullptr, std::string("k"));
    cache->storeImage(png(), std::nullopt);
    flushIO();
    EXPECT_FALSE(cache->imageFromMemoryCacheForKey(std::string("k")));
    EXPECT_FALSE(NSFileManager::defaultManager()->fileExistsAtPath(cache->diskCachePath()));
}

TEST_F(ImageCacheTest, MemoryOnlyStoreAndCost) {
    auto image = UIImage::imageWithCGImage(png(1, 10, 4)->CGImage(), 2, UIImageOrientation::Up);
    cache->storeImage(image, std::string("m"), false);
    flushIO();
    EXPECT_EQ(cache->imageFromMemoryCacheForKey(std::string("m")), image);
    EXPECT_FALSE(cache->diskImageExistsWithKey(std::string("m")));
    // 5 x 2 points at scale 2: the cost counts the scale once.
    EXPECT_EQ(cache->memCache()->totalCost(), 20u);
    cache->setMaxMemoryCost(15);
    EXPECT_EQ(cache->maxMemoryCost(), 15u);
    EXPECT_FALSE(cache->imageFromMemoryCacheForKey(std::string("m")));
}

TEST_F(ImageCacheTest, DiskQueryAnswersOnTheMainQueueThenFromMemory) {
    auto image = png(3);
    cache->storeImage(image, std::string("k"));
    flushIO();
    cache->clearMemory();

    int calls = 0;
    WICacheSource source = WICacheSourceNone;
    Ref<UIImage> found;
    auto operation =
        cache->queryDiskCacheForKey(std::string("k"), [&](const Ref<UIImage>& i, WICacheSource s) {
            EXPECT_TRUE(NSThread::isMainThread());
            ++calls;
            found = i;
            source = s;
        });
    EXPECT_TRUE(operation);
    EXPECT_EQ(calls, 0);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return calls > 0; }));
    testsupport::drainMainRunLoop();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(source, WICacheSourceDisk);
    ASSERT_TRUE(found);
    EXPECT_EQ(CGImageGetWidth(found->CGImage()), 6u);

    int second = 0;
    auto none = cache->queryDiskCacheForKey(std::string("k"), [&](const Ref<UIImage>& i, WICacheSource s) {
        ++second;
        EXPECT_EQ(s, WICacheSourceMemory);
        EXPECT_EQ(i, found);
    });
    EXPECT_FALSE(none);
    EXPECT_EQ(second, 1);
}

TEST_F(ImageCacheTest, QueryEdgeCases) {
    EXPECT_FALSE(cache->queryDiskCacheForKey(std::string("k"), nullptr));
    int calls = 0;
    EXPECT_FALSE(cache->queryDiskCacheForKey(std::nullopt, [&](const Ref<UIImage>& i, WICacheSource s) {
        ++calls;
        EXPECT_FALSE(i);
        EXPECT_EQ(s, WICacheSourceNone);
    }));
    EXPECT_EQ(calls, 1);

    // A miss still answers from the disk level.
    WICacheSource source = WICacheSourceMemory;
    bool answered = false;
    cache->queryDiskCacheForKey(std::string("missing"), [&](const Ref<UIImage>& i, WICacheSource s) {
        answered = true;
        source = s;
        EXPECT_FALSE(i);
    });
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return answered; }));
    EXPECT_EQ(source, WICacheSourceDisk);
}

TEST_F(ImageCacheTest, CancellingBeforeTheReadSuppressesTheAnswer) {
    cache->storeImage(png(), std::string("k"));
    flushIO();
    cache->clearMemory();
    // Hold the I/O queue so the read cannot start before the cancel.
    dispatch_semaphore_t gate = dispatch_semaphore_create(0);
    dispatch_async(cache->ioQueue(), [gate] { dispatch_semaphore_wait(gate, DISPATCH_TIME_FOREVER); });
    bool called = false;
    auto operation = cache->queryDiskCacheForKey(std::string("k"),
                                                 [&](const Ref<UIImage>&, WICacheSource) { called = true; });
    ASSERT_TRUE(operation);
    operation->cancel();
    dispatch_semaphore_signal(gate);
    flushIO();
    testsupport::drainMainRunLoop();
    EXPECT_FALSE(called);
    EXPECT_FALSE(cache->imageFromMemoryCacheForKey(std::string("k")));
}

TEST_F(ImageCacheTest, RemoveFromMemoryOnlyReloadsFromDisk) {
    cache->storeImage(png(), std::string("k"));
    flushIO();
    bool completed = false;
    cache->removeImageForKey(std::string("k"), false, [&] { completed = true; });
    EXPECT_TRUE(completed);  // at once, on the caller's thread
    EXPECT_FALSE(cache->imageFromMemoryCacheForKey(std::string("k")));
    EXPECT_TRUE(cache->imageFromDiskCacheForKey(std::string("k")));
    EXPECT_TRUE(cache->imageFromMemoryCacheForKey(std::string("k")));

    bool removed = false;
    cache->removeImageForKeyWithCompletion(std::string("k"), [&] { removed = true; });
    EXPECT_FALSE(removed);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return removed; }));
    EXPECT_FALSE(cache->diskImageExistsWithKey(std::string("k")));
    EXPECT_FALSE(cache->imageFromDiskCacheForKey(std::string("k")));

    bool nilCalled = false;
    cache->removeImageForKey(std::nullopt, true, [&] { nilCalled = true; });
    testsupport::drainMainRunLoop();
    EXPECT_FALSE(nilCalled);
}

TEST_F(ImageCacheTest, ReadOnlyFoldersAreSearchedAfterTheOwnAndNeverTouched) {
    std::string extra = folder.file("bundled");
    ASSERT_TRUE(NSFileManager::defaultManager()->createDirectoryAtPath(extra, true));
    NSData bundled = NSData::fromString(ImageHost::pngPicture(3, 3, 7));
    ASSERT_TRUE(bundled.writeToFile(cache->cachePathForKey(std::string("k"), extra)));
    cache->addReadOnlyCachePath(extra);
    cache->addReadOnlyCachePath(extra);
    EXPECT_EQ(cache->customPaths().size(), 1u);

    EXPECT_FALSE(cache->diskImageExistsWithKey(std::string("k")));
    EXPECT_EQ(cache->diskImageDataBySearchingAllPathsForKey(std::string("k")), bundled);
    auto image = cache->imageFromDiskCacheForKey(std::string("k"));
    ASSERT_TRUE(image);
    EXPECT_EQ(CGImageGetWidth(image->CGImage()), 3u);

    // The own folder wins.
    NSData own = NSData::fromString(ImageHost::pngPicture(5, 5, 7));
    cache->storeImage(png(), false, own, std::string("k"), true);
    flushIO();
    EXPECT_EQ(cache->diskImageDataBySearchingAllPathsForKey(std::string("k")), own);

    cache->removeImageForKey(std::string("k"));
    cache->setMaxCacheAge(0);
    cache->cleanDisk();
    flushIO();
    EXPECT_EQ(NSData::dataWithContentsOfFile(cache->cachePathForKey(std::string("k"), extra)), bundled);
}

TEST_F(ImageCacheTest, CleanDeletesExpiredFilesAndKeepsYoungOnes) {
    cache->storeImage(png(1), std::string("old"));
    cache->storeImage(png(2), std::string("young"));
    flushIO();
    setModified(cache->defaultCachePathForKey(std::string("old")), 8 * 86400);
    setModified(cache->defaultCachePathForKey(std::string("young")), 86400);
    bool done = false;
    cache->cleanDiskWithCompletionBlock([&] { done = true; });
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return done; }));
    EXPECT_FALSE(cache->diskImageExistsWithKey(std::string("old")));
    EXPECT_TRUE(cache->diskImageExistsWithKey(std::string("young")));
}

TEST_F(ImageCacheTest, ExpiryFollowsThePlatformClock) {
    testsupport::ManualClock clock(NSDate::date().timeIntervalSince1970());
    cache->storeImage(png(1), std::string("k"));
    flushIO();
    cache->cleanDisk();
    flushIO();
    EXPECT_TRUE(cache->diskImageExistsWithKey(std::string("k")));
    clock.jump(604800 + 60);
    cache->cleanDisk();
    flushIO();
    EXPECT_FALSE(cache->diskImageExistsWithKey(std::string("k")));
}

TEST_F(ImageCacheTest, BudgetCleanDeletesOldestUntilBelowHalf) {
    // Three young files of about 500 allocated bytes each, over a budget of 1000.
    for (int i = 0; i < 3; ++i) {
        std::string key = "k" + std::to_string(i);
        std::string bytes(500, static_cast<char>('a' + i));
        cache->storeImage(png(), false, NSData::fromString(bytes), key, true);
    }
    flushIO();
    for (int i = 0; i < 3; ++i)
        setModified(cache->defaultCachePathForKey("k" + std::to_string(i)), 3000 - 1000 * i);
    std::uint64_t allocated = 0;
    auto walk = NSFileManager::defaultManager()->enumeratorAtURL(cache->diskCachePath());
    while (auto entry = walk->nextEntry()) allocated += entry->totalFileAllocatedSize;
    // The budget sits just below the total, so the clean must go to below half of it.
    cache->setMaxCacheSize(allocated - 1);
    cache->cleanDisk();
    flushIO();
    std::uint64_t left = 0;
    auto after = NSFileManager::defaultManager()->enumeratorAtURL(cache->diskCachePath());
    while (auto entry = after->nextEntry()) left += entry->totalFileAllocatedSize;
    EXPECT_LT(left, (allocated - 1) / 2);
    EXPECT_FALSE(cache->diskImageExistsWithKey(std::string("k0")));  // the oldest goes first
    EXPECT_TRUE(cache->diskImageExistsWithKey(std::string("k2")));   // the newest stays
}

TEST_F(ImageCacheTest, ClearDiskEmptiesAndRecreatesTheFolder) {
    cache->storeImage(png(), std::string("a"));
    cache->storeImage(png(), std::string("b"));
    flushIO();
    EXPECT_EQ(cache->getDiskCount(), 2u);
    EXPECT_GT(cache->getSize(), 0u);
    std::uint64_t count = 99, size = 99;
    bool calculated = false;
    cache->calculateSizeWithCompletionBlock([&](std::uint64_t c, std::uint64_t s) {
        count = c;
        size = s;
        calculated = true;
    });
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return calculated; }));
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(size, cache->getSize());

    bool cleared = false;
    cache->clearDiskOnCompletion([&] { cleared = true; });
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return cleared; }));
    bool isDirectory = false;
    EXPECT_TRUE(NSFileManager::defaultManager()->fileExistsAtPath(cache->diskCachePath(), &isDirectory));
    EXPECT_TRUE(isDirectory);
    EXPECT_EQ(cache->getDiskCount(), 0u);
    EXPECT_TRUE(cache->imageFromMemoryCacheForKey(std::string("a")));  // memory untouched
}

TEST_F(ImageCacheTest, AsynchronousExistenceAnswersOnTheMainQueue) {
    cache->storeImage(png(), std::string("k"));
    std::optional<bool> present, absent;
    cache->diskImageExistsWithKey(std::string("k"), [&](bool exists) { present = exists; });
    cache->diskImageExistsWithKey(std::string("nope"), [&](bool exists) { absent = exists; });
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return present && absent; }));
    EXPECT_TRUE(*present);
    EXPECT_FALSE(*absent);
}

TEST_F(ImageCacheTest, SurvivesARestart) {
    NSData bytes = NSData::fromString(ImageHost::jpegPicture(7, 5, 1));
    cache->storeImage(UIImage::imageWithData(bytes), false, bytes, std::string("http://h/p.jpg"), true);
    flushIO();
    // A new process: a new cache over the same folder.
    auto restarted = make<WIImageCache>("test");
    restarted->setDiskCachePath(cache->diskCachePath());
    auto image = restarted->imageFromDiskCacheForKey(std::string("http://h/p.jpg"));
    ASSERT_TRUE(image);
    EXPECT_EQ(CGImageGetWidth(image->CGImage()), 7u);
}

TEST_F(ImageCacheTest, ACrashMidWriteLeavesNoTornPicture) {
    NSData whole = NSData::fromString(ImageHost::pngPicture(40, 40, 2));
    cache->storeImage(UIImage::imageWithData(whole), false, whole, std::string("k"), true);
    flushIO();
    // What a crash halfway through the next write of the same key leaves behind: a partial
    // temporary file in the incoming folder, the old picture still in place.
    std::string incoming = cache->incomingPath();
    ASSERT_TRUE(NSFileManager::defaultManager()->fileExistsAtPath(incoming));
    std::string torn = incoming + "/" + WIImageCache::cachedFileNameForKey(std::string("k")) + ".999.0";
    ASSERT_TRUE(whole.subdataWithRange(0, whole.length() / 2).writeToFile(torn, false));

    auto restarted = make<WIImageCache>("test");
    restarted->setDiskCachePath(cache->diskCachePath());
    EXPECT_EQ(restarted->diskImageDataBySearchingAllPathsForKey(std::string("k")), whole);
    EXPECT_EQ(restarted->getDiskCount(), 1u);  // the temporary file is not in the cache folder
    // Stale leftovers are swept by the next clean.
    setModified(torn, 3600);
    restarted->cleanDisk();
    dispatch_sync(restarted->ioQueue(), [] {});
    EXPECT_FALSE(NSFileManager::defaultManager()->fileExistsAtPath(torn));
    EXPECT_TRUE(restarted->diskImageExistsWithKey(std::string("k")));

    // A torn file that did land under a key's name (copied in by hand) is a miss, not a crash.
    ASSERT_TRUE(
        whole.subdataWithRange(0, 30).writeToFile(restarted->defaultCachePathForKey(std::string("t"))));
    EXPECT_FALSE(restarted->imageFromDiskCacheForKey(std::string("t")));
}

TEST_F(ImageCacheTest, MemoryWarningEmptiesTheMemoryLevel) {
    cache->storeImage(png(), std::string("k"), false);
    NSNotificationCenter::defaultCenter()->postNotificationName(
        UIApplicationDidReceiveMemoryWarningNotification);
    EXPECT_FALSE(cache->imageFromMemoryCacheForKey(std::string("k")));
}

TEST_F(ImageCacheTest, BackgroundCleanRunsInsideABackgroundTask) {
    auto application = UIApplication::sharedApplication();
    std::size_t before = application->runningBackgroundTasks().size();
    cache->storeImage(png(), std::string("old"));
    flushIO();
    setModified(cache->defaultCachePathForKey(std::string("old")), 30 * 86400);
    NSNotificationCenter::defaultCenter()->postNotificationName(UIApplicationDidEnterBackgroundNotification);
    // Every live cache takes part (the shared one too, when an earlier test made it).
    EXPECT_GE(application->runningBackgroundTasks().size(), before + 1);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil(
        [&] { return application->runningBackgroundTasks().size() == before; }));
    EXPECT_FALSE(cache->diskImageExistsWithKey(std::string("old")));
}

TEST_F(ImageCacheTest, ConcurrentStoresReadsAndRemovesStayConsistent) {
    std::vector<Ref<UIImage>> images;
    for (unsigned i = 0; i < 4; ++i) images.push_back(png(i + 1, 4 + i, 4));
    std::atomic<int> hits{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 60; ++i) {
                std::string key = "k" + std::to_string((i + t) % 8);
                switch ((i + t) % 4) {
                    case 0:
                        cache->storeImage(images[t], key);
                        break;
                    case 1:
                        if (cache->imageFromDiskCacheForKey(key)) ++hits;
                        break;
                    case 2:
                        cache->removeImageForKey(key, (i % 3) == 0);
                        break;
                    default:
                        if (auto image = cache->imageFromMemoryCacheForKey(key)) {
                            EXPECT_TRUE(image->CGImage());
                        }
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    flushIO();
    testsupport::drainMainRunLoop();
    // Whatever is left on disk reads back whole.
    for (int i = 0; i < 8; ++i) {
        std::string key = "k" + std::to_string(i);
        if (cache->diskImageExistsWithKey(key)) {
            EXPECT_TRUE(cache->diskImageForKey(key)) << key;
        }
    }
}
