#pragma once
// WBSDKDBManager: the one connection to the statistics file "WBSDKStatistics.db" in the app's
// Caches folder, and a concurrent queue ("wbsdk_statistics_io_queue") that runs caller blocks on
// it: reads side by side with each other, writes alone (as barriers), each block inside an
// exclusive transaction that is committed whatever the block did.
//
// Two reads may be in flight at once; since they share the connection, each whole block (begin to
// commit) holds the connection's lock, so no two blocks' transactions ever interleave on it.
//
// WBSDKDBObjectStore: a store per record class that buffers new records in memory and writes them
// in batches of bufferSize (10) on the manager's queue; it flushes when the buffer is full, when the
// app goes to the background or comes back, before every deletion and every query, and when it
// goes. Queries answer on the manager's queue.

#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "dispatch/Dispatch.h"
#include "foundation/NSDate.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSObject.h"
#include "sdk/weibo/services/WBSDKDBObjectAccessDelgate.h"
#include "sdk/weibo/storage/WBSDKSQLDatabase.h"

class WBSDKDBManager : public NSObject {
  public:
    WBSDKDBManager();
    std::string className() const override { return "WBSDKDBManager"; }
    static Ref<WBSDKDBManager> sharedManager();

    using DatabaseBlock = std::function<void(WBSDKSQLDatabase* db)>;
    void readDatabaseBlockInTransaction(DatabaseBlock block);
    void writeDatabaseBlockInTransaction(DatabaseBlock block);

    bool beginTransaction();
    bool endTransaction();
    void openDataBase();
    void closeDataBase();
    // Nothing calls it; answers nil.
    std::optional<Array> databaseObjectsWithResultSet(WBSDKSQLResultSet*, const std::string&) {
        return std::nullopt;
    }

    const Ref<WBSDKSQLDatabase>& db() const { return db_; }
    const dispatch_queue_t& io_queue() const { return io_queue_; }
    // Waits until every block queued so far has run (for an orderly end and for tests).
    void waitUntilIdle();

  private:
    void runInTransaction(const DatabaseBlock& block);

    Ref<WBSDKSQLDatabase> db_;
    dispatch_queue_t io_queue_;
    std::mutex connectionLock_;  // held for each whole block, begin to commit
};

class WBSDKDBObjectStore : public NSObject {
  public:
    explicit WBSDKDBObjectStore(const WBSDKDBObjectClass& objectClass);
    ~WBSDKDBObjectStore() override;
    void didInit();
    std::string className() const override { return "WBSDKDBObjectStore"; }

    // The store of the record class, made on first request.
    static Ref<WBSDKDBObjectStore> sharedStore(const WBSDKDBObjectClass& objectClass);

    void addObject(const WBSDKDBObject& object);
    void addObjects(const std::vector<WBSDKDBObject>& objects);
    void deleteObject(const WBSDKDBObject& object);
    // The records given, each by its own row, in one write.
    void deleteObjects(const std::vector<WBSDKDBObject>& objects);
    // Both ends inclusive; nothing for an empty or reversed range.
    void deleteObjectsFromDate(NSDate from, NSDate to) {
        deleteObjectsFromTime(from.timeIntervalSince1970(), to.timeIntervalSince1970());
    }
    void deleteObjectsFromTime(double from, double to);
    using ResultBlock = std::function<void(const std::vector<WBSDKDBObject>& objects)>;
    // From inclusive, to exclusive; the block runs on the manager's queue, and never for an empty
    // or reversed range.
    void objectsFromDate(NSDate from, NSDate to, ResultBlock block) {
        objectsFromTime(from.timeIntervalSince1970(), to.timeIntervalSince1970(), std::move(block));
    }
    void objectsFromTime(double from, double to, ResultBlock block);
    void flushBuffers();
    void createTableIfNeeded();
    void applicationDidEnterBackground(const Ref<NSNotification>&) { flushBuffers(); }
    void applicationWillEnterForeground(const Ref<NSNotification>&) { flushBuffers(); }

    std::size_t bufferSize();
    void setBufferSize(std::size_t size);
    // A copy of the records waiting to be written.
    std::vector<WBSDKDBObject> recordBuffers() const;

  private:
    const WBSDKDBObjectClass& storeObjectClass_;
    mutable std::recursive_mutex lock_;  // guards the buffer and its size
    std::vector<WBSDKDBObject> recordBuffers_;
    std::size_t bufferSize_ = 0;
};

namespace wbsdk_testing {
// Drops the statistics database manager and every store (flushing them first and waiting for
// their writes), so the next use opens the file of the current sandbox.
void resetStatisticsStores();
}  // namespace wbsdk_testing
