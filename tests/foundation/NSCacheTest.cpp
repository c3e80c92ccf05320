#include "foundation/NSCache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

namespace {

class NSCacheTest : public ::testing::Test {
  protected:
    Ref<NSCache> cache = make<NSCache>();
};

TEST_F(NSCacheTest, StoresReadsAndRemoves) {
    EXPECT_TRUE(cache->objectForKey("a").isNil());
    cache->setObject("a", "one");
    cache->setObject("b", 2, 5);
    EXPECT_EQ(cache->objectForKey("a"), Value("one"));
    EXPECT_EQ(cache->objectForKey("b"), Value(2));
    EXPECT_EQ(cache->count(), 2u);
    EXPECT_EQ(cache->totalCost(), 5u);
    cache->removeObjectForKey("a");
    cache->removeObjectForKey("never there");
    EXPECT_TRUE(cache->objectForKey("a").isNil());
    cache->removeAllObjects();
    EXPECT_EQ(cache->count(), 0u);
    EXPECT_EQ(cache->totalCost(), 0u);
}

TEST_F(NSCacheTest, SettingNilRemoves) {
    cache->setObject("a", "x", 3);
    cache->setObject("a", Value());
    EXPECT_TRUE(cache->objectForKey("a").isNil());
    EXPECT_EQ(cache->totalCost(), 0u);
}

TEST_F(NSCacheTest, ReplacingAnEntryReplacesItsCost) {
    cache->setObject("a", "x", 3);
    cache->setObject("a", "y", 7);
    EXPECT_EQ(cache->objectForKey("a"), Value("y"));
    EXPECT_EQ(cache->count(), 1u);
    EXPECT_EQ(cache->totalCost(), 7u);
}

TEST_F(NSCacheTest, NameAndLimits) {
    EXPECT_EQ(cache->name(), "");
    cache->setName("com.example.ImageCache.default");
    EXPECT_EQ(cache->name(), "com.example.ImageCache.default");
    EXPECT_EQ(cache->totalCostLimit(), 0u);
    EXPECT_EQ(cache->countLimit(), 0u);
    cache->setTotalCostLimit(100);
    cache->setCountLimit(3);
    EXPECT_EQ(cache->totalCostLimit(), 100u);
    EXPECT_EQ(cache->countLimit(), 3u);
}

TEST_F(NSCacheTest, NoLimitKeepsEverything) {
    for (int i = 0; i < 1000; ++i) cache->setObject(std::to_string(i), i, 1'000'000);
    EXPECT_EQ(cache->count(), 1000u);
}

TEST_F(NSCacheTest, CostLimitEvictsTheLeastRecentlyUsed) {
    cache->setTotalCostLimit(10);
    cache->setObject("a", 1, 4);
    cache->setObject("b", 2, 4);
    EXPECT_EQ(cache->objectForKey("a"), Value(1));  // "a" becomes the most recent
    cache->setObject("c", 3, 4);                    // 12 > 10: the oldest ("b") goes
    EXPECT_TRUE(cache->objectForKey("b").isNil());
    EXPECT_EQ(cache->objectForKey("a"), Value(1));
    EXPECT_EQ(cache->objectForKey("c"), Value(3));
    EXPECT_EQ(cache->totalCost(), 8u);
}

TEST_F(NSCacheTest, CostExactlyAtTheLimitStays) {
    cache->setTotalCostLimit(10);
    cache->setObject("a", 1, 6);
    cache->setObject("b", 2, 4);
    EXPECT_EQ(cache->count(), 2u);
}

TEST_F(NSCacheTest, AnEntryOverTheWholeLimitIsNotKept) {
    cache->setTotalCostLimit(10);
    cache->setObject("small", 1, 2);
    cache->setObject("huge", 2, 11);
    EXPECT_TRUE(cache->objectForKey("huge").isNil());
    EXPECT_TRUE(cache->objectForKey("small").isNil());
    EXPECT_EQ(cache->totalCost(), 0u);
}

TEST_F(NSCacheTest, CountLimitEvictsTheOldest) {
    cache->setCountLimit(2);
    cache->setObject("a", 1);
    cache->setObject("b", 2);
    cache->setObject("c", 3);
    EXPECT_TRUE(cache->objectForKey("a").isNil());
    EXPECT_EQ(cache->count(), 2u);
}

TEST_F(NSCacheTest, LoweringALimitTrimsAtOnce) {
    for (int i = 0; i < 10; ++i) cache->setObject(std::to_string(i), i, 10);
    cache->setTotalCostLimit(35);
    EXPECT_EQ(cache->count(), 3u);
    EXPECT_EQ(cache->objectForKey("9"), Value(9));
    EXPECT_TRUE(cache->objectForKey("6").isNil());
    cache->setCountLimit(1);
    EXPECT_EQ(cache->count(), 1u);
    EXPECT_EQ(cache->objectForKey("9"), Value(9));
}

// A value whose destruction reads the cache again: it must not happen under the cache's lock.
class ReentrantValue : public NSObject {
  public:
    explicit ReentrantValue(Ref<NSCache> cache) : cache_(std::move(cache)) {}
    ~ReentrantValue() override {
        if (auto cache = cache_.lock()) cache->objectForKey("probe");
    }

  private:
    Weak<NSCache> cache_;
};

TEST_F(NSCacheTest, ValuesAreReleasedOutsideTheLock) {
    cache->setCountLimit(1);
    cache->setObject("a", make<ReentrantValue>(cache));
    cache->setObject("b", make<ReentrantValue>(cache));  // evicts "a"
    cache->setObject("b", make<ReentrantValue>(cache));  // replaces "b"
    cache->removeObjectForKey("b");
    cache->setObject("c", make<ReentrantValue>(cache));
    cache->removeAllObjects();
    cache->setObject("d", make<ReentrantValue>(cache));
    cache->setCountLimit(0);
    cache->setTotalCostLimit(1);
    cache->setObject("e", make<ReentrantValue>(cache), 5);
    EXPECT_EQ(cache->count(), 0u);
}

TEST_F(NSCacheTest, ObjectsAreSharedNotCopied) {
    auto object = make<NSObject>();
    cache->setObject("o", object);
    EXPECT_EQ(cache->objectForKey("o").object().get(), object.get());
}

TEST_F(NSCacheTest, ConcurrentUseKeepsTheBooksStraight) {
    cache->setTotalCostLimit(500);
    cache->setCountLimit(40);
    std::vector<std::thread> workers;
    std::atomic<int> wrongValues{0};
    for (int t = 0; t < 8; ++t) {
        workers.emplace_back([&, t] {
            std::mt19937 rng(static_cast<unsigned>(t));
            for (int i = 0; i < 5000; ++i) {
                int k = static_cast<int>(rng() % 100);
                std::string key = "k" + std::to_string(k);
                switch (rng() % 5) {
                    case 0:
                    case 1:
                        cache->setObject(key, k, rng() % 30);
                        break;
                    case 2: {
                        Value v = cache->objectForKey(key);
                        if (!v.isNil() && v.intValue() != k) ++wrongValues;
                        break;
                    }
                    case 3:
                        cache->removeObjectForKey(key);
                        break;
                    case 4:
                        if (i % 500 == 0) cache->removeAllObjects();
                        break;
                }
            }
        });
    }
    for (auto& w : workers) w.join();
    EXPECT_EQ(wrongValues.load(), 0);
    EXPECT_LE(cache->totalCost(), 500u);
    EXPECT_LE(cache->count(), 40u);
    // The running total matches what is actually held: removing every key brings it to zero.
    for (int k = 0; k < 100; ++k) cache->removeObjectForKey("k" + std::to_string(k));
    EXPECT_EQ(cache->totalCost(), 0u);
    EXPECT_EQ(cache->count(), 0u);
}

}  // namespace
