#include "network/NSURLCache.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "tests/support/TestSupport.h"

namespace {

Ref<NSURLRequest> req(const std::string& path) {
    return NSURLRequest::requestWithURL(NSURL::URLWithString("http://127.0.0.1:9" + path));
}

Ref<NSCachedURLResponse> entry(const std::string& body,
                               NSURLCacheStoragePolicy policy = NSURLCacheStorageAllowed) {
    auto response = make<NSHTTPURLResponse>(NSURL::URLWithString("http://127.0.0.1:9/x"), 200, "HTTP/1.1",
                                            Dictionary{{"ETag", "\"1\""}, {"Content-Type", "text/plain"}});
    return make<NSCachedURLResponse>(response, NSData::fromString(body), Dictionary(), policy);
}

class NSURLCacheTest : public ::testing::Test {
  protected:
    std::string folder() const { return dir.file("c"); }
    testsupport::TemporaryDirectory dir;
};

TEST_F(NSURLCacheTest, StoresAndFindsByURLIgnoringTheFragment) {
    auto cache = make<NSURLCache>(1 << 20, 1 << 20, folder());
    EXPECT_FALSE(cache->cachedResponseForRequest(req("/a")));
    cache->storeCachedResponse(entry("alpha"), req("/a"));
    auto found = cache->cachedResponseForRequest(req("/a#frag"));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->data().toString(), "alpha");
    EXPECT_EQ(asKind<NSHTTPURLResponse>(found->response())->valueForHTTPHeaderField("ETag"), "\"1\"");
    EXPECT_FALSE(cache->cachedResponseForRequest(req("/b")));
    EXPECT_GT(cache->currentMemoryUsage(), 5u);
    EXPECT_GT(cache->currentDiskUsage(), 5u);
    cache->removeCachedResponseForRequest(req("/a"));
    EXPECT_FALSE(cache->cachedResponseForRequest(req("/a")));
    EXPECT_EQ(cache->currentMemoryUsage(), 0u);
    EXPECT_EQ(cache->currentDiskUsage(), 0u);
}

TEST_F(NSURLCacheTest, DiskEntriesOutliveTheCacheObject) {
    {
        auto cache = make<NSURLCache>(1 << 20, 1 << 20, folder());
        cache->storeCachedResponse(entry("kept"), req("/k"));
        cache->storeCachedResponse(entry("memory only", NSURLCacheStorageAllowedInMemoryOnly), req("/m"));
        cache->storeCachedResponse(entry("never", NSURLCacheStorageNotAllowed), req("/n"));
        EXPECT_TRUE(cache->cachedResponseForRequest(req("/m")));
        EXPECT_FALSE(cache->cachedResponseForRequest(req("/n")));
    }
    auto cache = make<NSURLCache>(0, 1 << 20, folder());
    auto k = cache->cachedResponseForRequest(req("/k"));
    ASSERT_TRUE(k);
    EXPECT_EQ(k->data().toString(), "kept");
    EXPECT_FALSE(cache->cachedResponseForRequest(req("/m")));
    EXPECT_EQ(cache->currentMemoryUsage(), 0u);
}

TEST_F(NSURLCacheTest, MemoryCapacityEvictsTheLeastRecentlyUsed) {
    auto cache = make<NSURLCache>(3 * (1000 + 512), 0, folder());
    for (int i = 0; i < 3; ++i)
        cache->storeCachedResponse(entry(std::string(1000, 'a' + i)), req("/" + std::to_string(i)));
    EXPECT_TRUE(cache->cachedResponseForRequest(req("/0")));  // now the most recent
    cache->storeCachedResponse(entry(std::string(1000, 'z')), req("/3"));
    EXPECT_TRUE(cache->cachedResponseForRequest(req("/0")));
    EXPECT_FALSE(cache->cachedResponseForRequest(req("/1")));
    EXPECT_LE(cache->currentMemoryUsage(), cache->memoryCapacity());
    cache->storeCachedResponse(entry(std::string(10000, 'b')), req("/big"));
    EXPECT_FALSE(cache->cachedResponseForRequest(req("/big")));
    cache->setMemoryCapacity(0);
    EXPECT_EQ(cache->currentMemoryUsage(), 0u);
}

TEST_F(NSURLCacheTest, DiskCapacityEvictsTheOldest) {
    auto cache = make<NSURLCache>(0, 60000, folder());
    for (int i = 0; i < 10; ++i) {
        cache->storeCachedResponse(entry(std::string(10000, 'a')), req("/" + std::to_string(i)));
        EXPECT_LE(cache->currentDiskUsage(), 60000u);
    }
    EXPECT_FALSE(cache->cachedResponseForRequest(req("/0")));
    EXPECT_TRUE(cache->cachedResponseForRequest(req("/9")));
    cache->setDiskCapacity(15000);
    EXPECT_LE(cache->currentDiskUsage(), 15000u);
    EXPECT_TRUE(cache->cachedResponseForRequest(req("/9")));
    std::size_t files = 0;
    for (auto& f : std::filesystem::directory_iterator(folder() + "/bodies")) files += f.is_regular_file();
    EXPECT_EQ(files, 1u);
}

// What the disk part takes is kept as entries come and go, and stays what the index sums to, also
// when another cache on the same folder changes it (its trimming then counts those entries too).
TEST_F(NSURLCacheTest, DiskUsageFollowsEveryChangeAndOtherCachesOnTheFolder) {
    auto cache = make<NSURLCache>(0, 1 << 20, folder());
    auto summed = [&] { return make<NSURLCache>(0, 1 << 20, folder())->currentDiskUsage(); };
    struct Step {
        const char* what;
        std::function<void()> change;
    };
    const Step steps[] = {
        {"stored", [&] { cache->storeCachedResponse(entry(std::string(1000, 'a')), req("/1")); }},
        {"another", [&] { cache->storeCachedResponse(entry(std::string(3000, 'b')), req("/2")); }},
        {"replaced larger", [&] { cache->storeCachedResponse(entry(std::string(5000, 'c')), req("/1")); }},
        {"replaced smaller", [&] { cache->storeCachedResponse(entry("d"), req("/2")); }},
        {"removed", [&] { cache->removeCachedResponseForRequest(req("/1")); }},
        {"removed twice", [&] { cache->removeCachedResponseForRequest(req("/1")); }},
        {"memory only",
         [&] { cache->storeCachedResponse(entry("e", NSURLCacheStorageAllowedInMemoryOnly), req("/2")); }},
        {"by another cache",
         [&] {
             make<NSURLCache>(0, 1 << 20, folder())
                 ->storeCachedResponse(entry(std::string(7000, 'f')), req("/3"));
         }},
        {"all removed", [&] { cache->removeAllCachedResponses(); }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.change();
        EXPECT_EQ(cache->currentDiskUsage(), summed());
    }
    EXPECT_EQ(cache->currentDiskUsage(), 0u);

    // Another cache fills the folder: this one's next store trims what that one left.
    auto other = make<NSURLCache>(0, 1 << 20, folder());
    for (int i = 0; i < 5; ++i)
        other->storeCachedResponse(entry(std::string(10000, 'g')), req("/o" + std::to_string(i)));
    cache->setDiskCapacity(30000);
    cache->storeCachedResponse(entry(std::string(10000, 'h')), req("/mine"));
    EXPECT_LE(cache->currentDiskUsage(), 30000u);
    EXPECT_EQ(cache->currentDiskUsage(), summed());
    EXPECT_TRUE(cache->cachedResponseForRequest(req("/mine")));
}

TEST_F(NSURLCacheTest, RemoveAllEmptiesBothParts) {
    auto cache = make<NSURLCache>(1 << 20, 1 << 20, folder());
    cache->storeCachedResponse(entry("a"), req("/a"));
    cache->storeCachedResponse(entry("b"), req("/b"));
    cache->removeAllCachedResponses();
    EXPECT_FALSE(cache->cachedResponseForRequest(req("/a")));
    EXPECT_EQ(cache->currentDiskUsage(), 0u);
    EXPECT_TRUE(std::filesystem::is_empty(folder() + "/bodies"));
}

TEST_F(NSURLCacheTest, RelativePathLivesUnderTheSandboxCaches) {
    auto cache = make<NSURLCache>(0, 1 << 20, std::string("myCache"));
    EXPECT_NE(cache->diskPath().find("/Library/Caches/myCache"), std::string::npos);
}

TEST_F(NSURLCacheTest, SharedCacheCanBeReplaced) {
    auto original = NSURLCache::sharedURLCache();
    ASSERT_TRUE(original);
    auto mine = make<NSURLCache>(4 << 20, 20 << 20, folder());
    NSURLCache::setSharedURLCache(mine);
    EXPECT_EQ(NSURLCache::sharedURLCache(), mine);
    EXPECT_EQ(mine->memoryCapacity(), 4u << 20);
    NSURLCache::setSharedURLCache(nullptr);
    EXPECT_TRUE(NSURLCache::sharedURLCache());
}

TEST_F(NSURLCacheTest, MissingOrDamagedBodyFileIsAMiss) {
    {
        auto cache = make<NSURLCache>(0, 1 << 20, folder());
        cache->storeCachedResponse(entry("one"), req("/1"));
        cache->storeCachedResponse(entry("two"), req("/2"));
    }
    std::vector<std::filesystem::path> bodies;
    for (auto& f : std::filesystem::directory_iterator(folder() + "/bodies")) bodies.push_back(f.path());
    ASSERT_EQ(bodies.size(), 2u);
    std::filesystem::remove(bodies[0]);
    std::ofstream(bodies[1], std::ios::trunc) << "x";  // wrong length
    auto cache = make<NSURLCache>(0, 1 << 20, folder());
    EXPECT_FALSE(cache->cachedResponseForRequest(req("/1")));
    EXPECT_FALSE(cache->cachedResponseForRequest(req("/2")));
    EXPECT_EQ(cache->currentDiskUsage(), 0u);
    cache->storeCachedResponse(entry("again"), req("/1"));
    EXPECT_EQ(cache->cachedResponseForRequest(req("/1"))->data().toString(), "again");
}

TEST_F(NSURLCacheTest, DamagedIndexIsRebuiltEmpty) {
    {
        auto cache = make<NSURLCache>(0, 1 << 20, folder());
        cache->storeCachedResponse(entry("one"), req("/1"));
    }
    std::ofstream(folder() + "/index.sqlite", std::ios::trunc | std::ios::binary)
        << std::string(5000, '\x7f');
    auto cache = make<NSURLCache>(0, 1 << 20, folder());
    EXPECT_FALSE(cache->cachedResponseForRequest(req("/1")));
    cache->storeCachedResponse(entry("fresh"), req("/2"));
    EXPECT_EQ(cache->cachedResponseForRequest(req("/2"))->data().toString(), "fresh");
}

TEST_F(NSURLCacheTest, HostileIndexRowsAreMissesNotCrashes) {
    {
        auto cache = make<NSURLCache>(0, 1 << 20, folder());
        cache->storeCachedResponse(entry("one"), req("/1"));
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((folder() + "/index.sqlite").c_str(), &db), SQLITE_OK);
    const std::string key = "http://127.0.0.1:9/";
    std::string sql = "INSERT INTO entries VALUES ('" + key +
                      "2', '../../escape', 10, 3, 0, x'00');"
                      "INSERT INTO entries VALUES ('" +
                      key +
                      "3', '/etc/passwd', 10, 3, 0, x'3c3f786d6c');"
                      "INSERT INTO entries VALUES ('" +
                      key +
                      "4', '', -5, -1, 0, x'');"
                      "UPDATE entries SET response = x'deadbeef' WHERE key = '" +
                      key + "1';";
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    auto cache = make<NSURLCache>(0, 1 << 20, folder());
    for (const char* p : {"/1", "/2", "/3", "/4"}) EXPECT_FALSE(cache->cachedResponseForRequest(req(p))) << p;
    EXPECT_TRUE(std::filesystem::exists("/etc/passwd"));
}

TEST_F(NSURLCacheTest, MutatedIndexFilesNeverCrash) {
    {
        auto cache = make<NSURLCache>(0, 1 << 20, folder());
        for (int i = 0; i < 5; ++i)
            cache->storeCachedResponse(entry("body" + std::to_string(i)), req("/" + std::to_string(i)));
    }
    std::string original;
    {
        std::ifstream f(folder() + "/index.sqlite", std::ios::binary);
        original.assign(std::istreambuf_iterator<char>(f), {});
    }
    for (unsigned seed = 0; seed < 40; ++seed) {
        std::ofstream(folder() + "/index.sqlite", std::ios::trunc | std::ios::binary)
            << testsupport::mutate(original, seed);
        auto cache = make<NSURLCache>(0, 1 << 20, folder());
        for (int i = 0; i < 5; ++i) {
            auto found = cache->cachedResponseForRequest(req("/" + std::to_string(i)));
            if (found) {
                EXPECT_EQ(found->data().toString(), "body" + std::to_string(i));
            }
        }
        cache->storeCachedResponse(entry("after"), req("/after"));
        (void)cache->currentDiskUsage();
    }
}

TEST_F(NSURLCacheTest, UnusableFolderLeavesAMemoryCache) {
    std::ofstream(dir.file("file")) << "not a folder";
    auto cache = make<NSURLCache>(1 << 20, 1 << 20, dir.file("file/cache"));
    cache->storeCachedResponse(entry("mem"), req("/m"));
    EXPECT_EQ(cache->cachedResponseForRequest(req("/m"))->data().toString(), "mem");
    EXPECT_EQ(cache->currentDiskUsage(), 0u);
}

TEST_F(NSURLCacheTest, ConcurrentUseFromManyThreads) {
    auto cache = make<NSURLCache>(64 * 1024, 256 * 1024, folder());
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 60; ++i) {
                std::string path = "/" + std::to_string((t * 7 + i) % 25);
                cache->storeCachedResponse(entry("v" + path), req(path));
                auto found = cache->cachedResponseForRequest(req(path));
                if (found && found->data().toString() != "v" + path) ++wrong;
                if (i % 20 == 0) cache->removeCachedResponseForRequest(req(path));
                if (t == 0 && i == 30) cache->removeAllCachedResponses();
                (void)cache->currentDiskUsage();
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_LE(cache->currentDiskUsage(), 256u * 1024);
}

TEST_F(NSURLCacheTest, CachedResponseArchives) {
    auto e = entry("archived");
    auto data = NSKeyedArchiver::archivedDataWithRootObject(Value(e), true, nullptr);
    ASSERT_TRUE(data);
    auto back = NSKeyedUnarchiver::unarchivedObjectOfClass("NSCachedURLResponse", *data, nullptr)
                    .objectAs<NSCachedURLResponse>();
    ASSERT_TRUE(back);
    EXPECT_EQ(back->data().toString(), "archived");
    EXPECT_TRUE(back->response()->isEqual(*e->response()));
}

}  // namespace
