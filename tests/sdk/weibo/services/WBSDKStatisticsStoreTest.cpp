// The statistics record, its table and the buffered store: unique ids, empty strings for nil, user
// info as JSON, range statements and their bounds, the buffer of ten, flushes before queries and
// deletions, and reads side by side on the one connection.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "sdk/weibo/services/WBSDKStatisticsRecord.h"
#include "sdk/weibo/storage/WBSDKSQLDatabase+WBSDKSQLDatabaseAdditions.h"
#include "tests/sdk/weibo/services/WeiboServicesTestSupport.h"
#include "uikit/UIApplication.h"

using weiboservicestest::LogCapture;
using namespace WBSDKSQLDatabase_WBSDKSQLDatabaseAdditions;

namespace {

class StatisticsRecordTest : public weiboservicestest::ServicesTest {
  protected:
    void SetUp() override {
        ServicesTest::SetUp();
        db = WBSDKSQLDatabase::databaseWithPath(std::nullopt);
        ASSERT_TRUE(db->open());
        WBSDKStatisticsRecord::createTableIfNeeded(db.get());
        WBSDKStatisticsRecord::createTableIfNeeded(db.get());  // again: no harm
    }
    std::vector<Ref<WBSDKStatisticsRecord>> select(double from, double to) {
        std::vector<Ref<WBSDKStatisticsRecord>> out;
        auto rs = WBSDKStatisticsRecord::selectDB(db.get(), from, to);
        while (rs && rs->next())
            out.push_back(std::dynamic_pointer_cast<WBSDKStatisticsRecord>(
                WBSDKStatisticsRecord::objectFromRS(rs.get())));
        return out;
    }
    Ref<WBSDKSQLDatabase> db;
};

TEST_F(StatisticsRecordTest, UniqueIDsAndDescriptions) {
    auto start = WBSDKStatisticsRecord::recordWithEventID(std::nullopt, std::nullopt, std::nullopt, 0);
    EXPECT_EQ(start->uniqueID(), "(null)_(null)_1700000000.500000_0");
    EXPECT_EQ(start->time().timeIntervalSince1970(), 1'700'000'000.5);
    EXPECT_FALSE(start->aid());
    auto event =
        WBSDKStatisticsRecord::recordWithEventID(std::string("tap"), std::string("home"), std::nullopt, 3);
    EXPECT_EQ(event->uniqueID(), "tap_home_1700000000.500000_3");
    EXPECT_NE(event->description().find("eventID:'tap' pageID:'home'"), std::string::npos);
    EXPECT_NE(event->description().find("recordType:'3'"), std::string::npos);
    EXPECT_EQ(WBSDKStatisticsRecord::tableName(), "statistics_records");
}

TEST_F(StatisticsRecordTest, NilStringsComeBackEmptyAndUserInfoAsJSON) {
    auto page = WBSDKStatisticsRecord::recordWithEventID(std::nullopt, std::nullopt, std::nullopt, 2);
    page->setDuration(4.75);
    page->insertToDataBase(db.get());
    clock_->jump(1);
    auto event = WBSDKStatisticsRecord::recordWithEventID(std::string("e"), std::string("p"),
                                                          Dictionary{{"k", "v"}, {"n", 2}}, 3);
    event->insertToDataBase(db.get());
    auto back = select(0, 2e9);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0]->pageID(), "");
    EXPECT_EQ(back[0]->eventID(), "");
    EXPECT_EQ(back[0]->aid(), "");
    EXPECT_FALSE(back[0]->userInfo());
    EXPECT_DOUBLE_EQ(back[0]->duration(), 4.75);
    EXPECT_EQ(back[0]->recordType(), 2);
    EXPECT_EQ(back[0]->time().timeIntervalSince1970(), 1'700'000'000.5);
    // The row read back still deletes itself, though its derived id differs from the stored one.
    EXPECT_NE(back[0]->uniqueID(), page->uniqueID());
    EXPECT_EQ(back[1]->userInfo(), (Dictionary{{"k", "v"}, {"n", 2}}));
    back[0]->deleteInDB(db.get());
    EXPECT_EQ(select(0, 2e9).size(), 1u);
}

TEST_F(StatisticsRecordTest, AnUnwritableUserInfoIsStoredEmpty) {
    auto event = WBSDKStatisticsRecord::recordWithEventID(
        std::string("e"), std::nullopt, Dictionary{{"when", NSDate::dateWithTimeIntervalSince1970(1)}}, 3);
    event->insertToDataBase(db.get());
    EXPECT_EQ(stringForQuery(*db, "select extendPara from statistics_records"), "");
    auto back = select(0, 2e9);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_FALSE(back[0]->userInfo());
}

TEST_F(StatisticsRecordTest, ATwinRecordIsRefusedAndTheOthersGoIn) {
    auto a = WBSDKStatisticsRecord::recordWithEventID(std::string("e"), std::nullopt, std::nullopt, 3);
    auto twin = WBSDKStatisticsRecord::recordWithEventID(std::string("e"), std::nullopt, std::nullopt, 3);
    auto other = WBSDKStatisticsRecord::recordWithEventID(std::string("f"), std::nullopt, std::nullopt, 3);
    for (auto& r : {a, twin, other}) r->insertToDataBase(db.get());
    EXPECT_EQ(intForQuery(*db, "select count(*) from statistics_records"), 2);
}

TEST_F(StatisticsRecordTest, RangeBounds) {
    for (int i = 0; i < 3; ++i) {
        WBSDKStatisticsRecord::recordWithEventID(std::to_string(i), std::nullopt, std::nullopt, 3)
            ->insertToDataBase(db.get());
        clock_->jump(10);
    }
    double t0 = 1'700'000'000.5;
    EXPECT_EQ(select(t0, t0).size(), 0u);       // from = to: nothing
    EXPECT_EQ(select(t0, t0 + 10).size(), 1u);  // the upper end is left out
    EXPECT_EQ(select(t0, t0 + 20.000001).size(), 3u);
    WBSDKStatisticsRecord::deleteInDB(db.get(), t0 + 10, t0 + 10);  // both ends inclusive
    EXPECT_EQ(select(0, 2e9).size(), 2u);
    WBSDKStatisticsRecord::deleteInDB(db.get(), t0, t0 + 20);
    EXPECT_EQ(select(0, 2e9).size(), 0u);
}

// ---- the store ----------------------------------------------------------------------------------

class StatisticsStoreTest : public weiboservicestest::ServicesTest {
  protected:
    Ref<WBSDKDBObjectStore> store() {
        return WBSDKDBObjectStore::sharedStore(WBSDKStatisticsRecord::objectClass());
    }
    WBSDKDBObject record(const std::string& event) {
        clock_->jump(0.001);
        return WBSDKStatisticsRecord::recordWithEventID(event, std::nullopt, std::nullopt, 3);
    }
    int rowsOnDisk() {
        WBSDKDBManager::sharedManager()->waitUntilIdle();
        int n = -1;
        auto db = WBSDKSQLDatabase::databaseWithPath(WBSDKDBManager::sharedManager()->db()->databasePath());
        db->open();
        n = intForQuery(*db, "select count(*) from statistics_records");
        return n;
    }
};

TEST_F(StatisticsStoreTest, TheFileLivesInCachesAndIsSeededFromTheBundle) {
    wbsdk_testing::resetStatisticsStores();
    // A database shipped with the app's resources, holding one row.
    std::string bundled = NSBundle::mainBundle()->bundlePath() + "/WBSDKStatistics.db";
    {
        auto seed = WBSDKSQLDatabase::databaseWithPath(bundled);
        ASSERT_TRUE(seed->open());
        WBSDKStatisticsRecord::createTableIfNeeded(seed.get());
        WBSDKStatisticsRecord::recordWithEventID(std::string("shipped"), std::nullopt, std::nullopt, 3)
            ->insertToDataBase(seed.get());
    }
    auto path = WBSDKDBManager::sharedManager()->db()->databasePath();
    ASSERT_TRUE(path);
    EXPECT_NE(path->find("/Library/Caches/WBSDKStatistics.db"), std::string::npos);
    auto found = rows();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->eventID(), "shipped");
}

TEST_F(StatisticsStoreTest, TheEleventhRecordWritesTheFirstTen) {
    EXPECT_EQ(store(), store());
    EXPECT_EQ(store()->bufferSize(), 10u);
    for (int i = 0; i < 10; ++i) store()->addObject(record("e" + std::to_string(i)));
    EXPECT_EQ(rowsOnDisk(), 0);
    store()->addObject(record("e10"));
    EXPECT_EQ(rowsOnDisk(), 10);
    EXPECT_EQ(store()->recordBuffers().size(), 1u);
}

TEST_F(StatisticsStoreTest, QueriesAndDeletionsFlushFirst) {
    store()->addObject(record("a"));
    EXPECT_EQ(rows().size(), 1u);
    EXPECT_TRUE(store()->recordBuffers().empty());
    store()->addObject(record("b"));
    store()->deleteObjectsFromTime(0, 2e9);
    EXPECT_EQ(rows().size(), 0u);
}

TEST_F(StatisticsStoreTest, EmptyOrReversedRangesDoNothing) {
    store()->addObject(record("a"));
    bool called = false;
    store()->objectsFromTime(5, 5, [&](const auto&) { called = true; });
    store()->objectsFromTime(6, 5, [&](const auto&) { called = true; });
    store()->deleteObjectsFromTime(2e9, 0);
    WBSDKDBManager::sharedManager()->waitUntilIdle();
    EXPECT_FALSE(called);
    EXPECT_EQ(store()->recordBuffers().size(), 1u);  // nothing flushed either
    EXPECT_EQ(rows().size(), 1u);
}

TEST_F(StatisticsStoreTest, GoingToTheBackgroundFlushes) {
    store()->addObject(record("a"));
    NSNotificationCenter::defaultCenter()->postNotificationName(UIApplicationDidEnterBackgroundNotification);
    EXPECT_EQ(rowsOnDisk(), 1);
    store()->addObject(record("b"));
    NSNotificationCenter::defaultCenter()->postNotificationName(UIApplicationWillEnterForegroundNotification);
    EXPECT_EQ(rowsOnDisk(), 2);
}

TEST_F(StatisticsStoreTest, ReadsAndWritesFromManyThreadsNeverShareATransaction) {
    LogCapture log;
    std::atomic<int> answered{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                store()->addObject(WBSDKStatisticsRecord::recordWithEventID(
                    std::to_string(t) + "-" + std::to_string(i), std::nullopt, std::nullopt, 3));
                store()->objectsFromTime(0, 2e9, [&](const auto&) { ++answered; });
            }
        });
    }
    for (auto& th : threads) th.join();
    WBSDKDBManager::sharedManager()->waitUntilIdle();
    EXPECT_EQ(answered.load(), 100);
    EXPECT_EQ(rows().size(), 100u);
    // A transaction begun inside another would have failed and logged.
    EXPECT_FALSE(log.contains("within a transaction"));
    EXPECT_FALSE(log.contains("Error calling sqlite3_step"));
}

}  // namespace
