// The database queue and pool: nesting on one thread, transactions, savepoints, the pool's
// ceiling, reuse and veto, and several threads on one file losing no write and never mixing two
// blocks' transactions on one connection.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "foundation/NSException.h"
#include "foundation/NSThread.h"
#include "sdk/weibo/storage/NSThread+WBSDKSQLDDispatchSync.h"
#include "sdk/weibo/storage/WBSDKSQLDatabase+WBSDKSQLDatabaseAdditions.h"
#include "sdk/weibo/storage/WBSDKSQLDatabaseQueue.h"
#include "tests/sdk/weibo/storage/StorageTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace WBSDKSQLDatabase_WBSDKSQLDatabaseAdditions;
using namespace NSThread_WBSDKSQLDDispatchSync;
using weibostoragetest::LogCapture;

namespace {

TEST(NSThreadDispatchCountTest, CountsPerQueueAndNeverBelowZero) {
    auto a = dispatch_queue_create("a.queue");
    auto b = dispatch_queue_create("b.queue");
    EXPECT_EQ(wbsdksql_operationCountOfQueue(a), 0);
    EXPECT_EQ(wbsdksql_operationEndOfQueue(a), 0);
    EXPECT_EQ(wbsdksql_operationAddOfQueue(a), 1);
    EXPECT_EQ(wbsdksql_operationAddOfQueue(a), 2);
    EXPECT_EQ(wbsdksql_operationCountOfQueue(b), 0);
    EXPECT_EQ(wbsdksql_operationEndOfQueue(a), 1);
    EXPECT_EQ(wbsdksql_operationEndOfQueue(a), 0);
    EXPECT_EQ(wbsdksql_operationEndOfQueue(a), 0);
    auto key = wbsdksql_operationCountKeyForDispatchQueue(a);
    EXPECT_EQ(key.rfind("com.weibo.sdk.thread_dispatch_count.a.queue_", 0), 0u);
    // Another thread has counts of its own.
    wbsdksql_operationAddOfQueue(a);
    long seen = -1;
    std::thread([&] { seen = wbsdksql_operationCountOfQueue(a); }).join();
    EXPECT_EQ(seen, 0);
    wbsdksql_operationEndOfQueue(a);
}

class WBSDKSQLDatabaseQueueTest : public ::testing::Test {
  protected:
    void SetUp() override {
        queue = WBSDKSQLDatabaseQueue::databaseQueueWithPath(dir.file("q.db"));
        ASSERT_TRUE(queue);
        queue->inDatabase(
            [](WBSDKSQLDatabase* db) { db->executeUpdate("create table t (a integer, b text)"); });
    }
    int count() {
        int n = -1;
        queue->inDatabase([&](WBSDKSQLDatabase* db) { n = intForQuery(*db, "select count(*) from t"); });
        return n;
    }
    testsupport::TemporaryDirectory dir;
    Ref<WBSDKSQLDatabaseQueue> queue;
};

TEST_F(WBSDKSQLDatabaseQueueTest, AnUnopenablePathGivesNoQueue) {
    LogCapture log;
    EXPECT_FALSE(WBSDKSQLDatabaseQueue::databaseQueueWithPath(dir.file("no/such/dir/x.db")));
    EXPECT_TRUE(log.contains("Could not create database queue for path"));
}

TEST_F(WBSDKSQLDatabaseQueueTest, ANestedBlockRunsAtOnceOnTheSameThread) {
    std::thread::id outer, inner;
    std::vector<int> order;
    queue->inDatabase([&](WBSDKSQLDatabase*) {
        outer = std::this_thread::get_id();
        order.push_back(1);
        queue->inDatabase([&](WBSDKSQLDatabase* db) {
            inner = std::this_thread::get_id();
            order.push_back(2);
            EXPECT_TRUE(db);
        });
        order.push_back(3);
    });
    EXPECT_EQ(outer, inner);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_F(WBSDKSQLDatabaseQueueTest, TransactionsAnswerRollbackAsNoAndCommitAsItsSuccess) {
    EXPECT_FALSE(queue->inTransaction([](WBSDKSQLDatabase* db, bool* rollback) {
        db->executeUpdate("insert into t (a) values (1)");
        *rollback = true;
    }));
    EXPECT_EQ(count(), 0);
    EXPECT_TRUE(queue->inTransaction(
        [](WBSDKSQLDatabase* db, bool*) { db->executeUpdate("insert into t (a) values (1)"); }));
    EXPECT_TRUE(queue->inDeferredTransaction(
        [](WBSDKSQLDatabase* db, bool*) { db->executeUpdate("insert into t (a) values (2)"); }));
    EXPECT_EQ(count(), 2);
}

TEST_F(WBSDKSQLDatabaseQueueTest, SavePointsRollBackOnlyTheirPart) {
    queue->inTransaction([&](WBSDKSQLDatabase* db, bool*) {
        db->executeUpdate("insert into t (a) values (1)");
        auto error = queue->inSavePoint([](WBSDKSQLDatabase* inner, bool* rollback) {
            inner->executeUpdate("insert into t (a) values (2)");
            *rollback = true;
        });
        EXPECT_FALSE(error);
    });
    EXPECT_EQ(count(), 1);
}

TEST_F(WBSDKSQLDatabaseQueueTest, CloseDropsTheConnectionAndTheNextBlockReopensIt) {
    queue->inDatabase([](WBSDKSQLDatabase* db) { db->executeUpdate("insert into t (a) values (1)"); });
    queue->close();
    EXPECT_EQ(count(), 1);
}

TEST_F(WBSDKSQLDatabaseQueueTest, ManyThreadsLoseNoWriteAndNeverMixTransactions) {
    constexpr int kThreads = 6, kPerThread = 60;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                bool ok = queue->inTransaction([&](WBSDKSQLDatabase* db, bool* rollback) {
                    if (inside.fetch_add(1) != 0) overlapped = true;
                    db->executeUpdate("insert into t (a, b) values (?, ?)", t, std::to_string(i));
                    if (i % 10 == 9) {
                        db->executeUpdate("insert into t (a, b) values (?, 'discarded')", t);
                        *rollback = true;
                    }
                    inside.fetch_sub(1);
                });
                EXPECT_EQ(ok, i % 10 != 9);
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(count(), kThreads * kPerThread * 9 / 10);
}

// ---- the pool ---------------------------------------------------------------------------------

class VetoDelegate : public WBSDKSQLDatabasePoolDelegate {
  public:
    std::optional<bool> wbsdk_databasePool(WBSDKSQLDatabasePool&, const Ref<WBSDKSQLDatabase>&) override {
        ++asked;
        return allow;
    }
    bool allow = true;
    int asked = 0;
};

class WBSDKSQLDatabasePoolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        pool = WBSDKSQLDatabasePool::databasePoolWithPath(dir.file("p.db"));
        pool->inDatabase(
            [](WBSDKSQLDatabase* db) { ASSERT_TRUE(db->executeUpdate("create table t (a integer)")); });
    }
    testsupport::TemporaryDirectory dir;
    Ref<WBSDKSQLDatabasePool> pool;
};

TEST_F(WBSDKSQLDatabasePoolTest, IdleConnectionsAreReusedLastInFirstOut) {
    EXPECT_EQ(pool->countOfCheckedInDatabases(), 1u);
    auto a = pool->db();
    auto b = pool->db();
    EXPECT_NE(a, b);
    EXPECT_EQ(pool->countOfCheckedOutDatabases(), 2u);
    pool->pushDatabaseBackInPool(a);
    pool->pushDatabaseBackInPool(b);
    EXPECT_EQ(pool->db(), b);
    EXPECT_EQ(pool->countOfOpenDatabases(), 2u);
    pool->pushDatabaseBackInPool(nullptr);  // ignored
    pool->releaseAllDatabases();
    EXPECT_EQ(pool->countOfOpenDatabases(), 0u);
}

TEST_F(WBSDKSQLDatabasePoolTest, TheCeilingRefusesAThirdConnectionUntilOneComesBack) {
    LogCapture log;
    pool->releaseAllDatabases();
    pool->setMaximumNumberOfDatabasesToCreate(2);
    auto a = pool->db();
    auto b = pool->db();
    ASSERT_TRUE(a && b);
    EXPECT_FALSE(pool->db());
    EXPECT_TRUE(log.contains("Maximum number of databases (2) has already been reached!"));
    bool gotNil = false;
    pool->inDatabase([&](WBSDKSQLDatabase* db) { gotNil = db == nullptr; });
    EXPECT_TRUE(gotNil);
    pool->pushDatabaseBackInPool(a);
    EXPECT_EQ(pool->db(), a);
}

TEST_F(WBSDKSQLDatabasePoolTest, PushingAnIdleConnectionAgainRaises) {
    auto a = pool->db();
    pool->pushDatabaseBackInPool(a);
    try {
        pool->pushDatabaseBackInPool(a);
        FAIL() << "no exception";
    } catch (const NSException& e) {
        EXPECT_EQ(e.name(), "Database already in pool");
        EXPECT_EQ(e.reason(), "The SQLDatabase being put back into the pool is already present in the pool");
    }
    EXPECT_EQ(pool->countOfCheckedInDatabases(), 1u);
}

TEST_F(WBSDKSQLDatabasePoolTest, TheDelegateMayVetoANewConnection) {
    VetoDelegate delegate;
    pool->setDelegate(&delegate);
    auto reused = pool->db();  // the idle one: no question asked
    EXPECT_TRUE(reused);
    EXPECT_EQ(delegate.asked, 0);
    delegate.allow = false;
    EXPECT_FALSE(pool->db());
    EXPECT_EQ(delegate.asked, 1);
    EXPECT_EQ(pool->countOfCheckedOutDatabases(), 1u);
    pool->setDelegate(nullptr);
}

TEST_F(WBSDKSQLDatabasePoolTest, AnUnopenablePathGivesNil) {
    LogCapture log;
    pool->setPath(dir.file("no/such/dir/p.db"));
    pool->releaseAllDatabases();
    EXPECT_FALSE(pool->db());
    EXPECT_TRUE(log.contains("Could not open up the database at path"));
    EXPECT_EQ(pool->countOfOpenDatabases(), 0u);
}

TEST_F(WBSDKSQLDatabasePoolTest, ManyThreadsOnOneFileLoseNoWrite) {
    constexpr int kThreads = 5, kPerThread = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                pool->inTransaction([&](WBSDKSQLDatabase* db, bool* rollback) {
                    ASSERT_TRUE(db);
                    // Each connection waits for the file's lock without limit, so none is lost.
                    EXPECT_TRUE(db->executeUpdate("insert into t (a) values (?)", t * 1000 + i));
                    if (i == 0) *rollback = true;
                });
            }
        });
    }
    for (auto& th : threads) th.join();
    int n = 0;
    pool->inDatabase([&](WBSDKSQLDatabase* db) { n = intForQuery(*db, "select count(*) from t"); });
    EXPECT_EQ(n, kThreads * (kPerThread - 1));
    EXPECT_LE(pool->countOfOpenDatabases(), static_cast<std::size_t>(kThreads));
    EXPECT_EQ(pool->countOfCheckedOutDatabases(), 0u);
}

TEST_F(WBSDKSQLDatabasePoolTest, SavePointsOnAPooledConnection) {
    auto error = pool->inSavePoint([](WBSDKSQLDatabase* db, bool* rollback) {
        db->executeUpdate("insert into t (a) values (1)");
        *rollback = true;
    });
    EXPECT_FALSE(error);
    error = pool->inSavePoint(
        [](WBSDKSQLDatabase* db, bool*) { db->executeUpdate("insert into t (a) values (2)"); });
    EXPECT_FALSE(error);
    int n = 0;
    pool->inDatabase([&](WBSDKSQLDatabase* db) { n = intForQuery(*db, "select count(*) from t"); });
    EXPECT_EQ(n, 1);
}

}  // namespace
