#pragma once
// WBSDKSQLDatabaseQueue: one connection used from many threads. Every block runs synchronously on
// one serial dispatch queue; a block that calls the queue again runs the nested block at once on
// its own thread (a per-thread count tells), so nesting neither deadlocks nor leaves the thread.
//
// WBSDKSQLDatabasePool: whole connections to one file handed out to callers, idle ones kept for
// reuse (last in, first out), under an optional ceiling and an optional delegate veto. The pool's
// lists are touched only on its lock queue; the caller's block never runs under that lock.

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/Dispatch.h"
#include "sdk/weibo/storage/WBSDKSQLDatabase.h"

class WBSDKSQLDatabaseQueue : public NSObject {
  public:
    // Use databaseQueueWithPath, which answers nil when the file cannot be opened.
    explicit WBSDKSQLDatabaseQueue(std::string path);
    ~WBSDKSQLDatabaseQueue() override;
    std::string className() const override { return "WBSDKSQLDatabaseQueue"; }
    static Ref<WBSDKSQLDatabaseQueue> databaseQueueWithPath(const std::string& path);

    void inDatabase(const std::function<void(WBSDKSQLDatabase* db)>& block);
    using TransactionBlock = std::function<void(WBSDKSQLDatabase* db, bool* rollback)>;
    // NO when the block asked for a rollback; otherwise the commit's success.
    bool inTransaction(const TransactionBlock& block) { return beginTransaction(false, block); }
    bool inDeferredTransaction(const TransactionBlock& block) { return beginTransaction(true, block); }
    Ref<NSError> inSavePoint(const TransactionBlock& block);
    // Closes and drops the connection; a later block opens it again.
    void close();

    const std::string& path() const { return path_; }
    void setPath(std::string path) { path_ = std::move(path); }

  private:
    bool beginTransaction(bool deferred, const TransactionBlock& block);
    // The connection, reopened after close; nil when it cannot be.
    WBSDKSQLDatabase* database();
    void run(const std::function<void()>& work);
    bool openInitial();

    std::string path_;
    dispatch_queue_t queue_;
    Ref<WBSDKSQLDatabase> db_;
};

class WBSDKSQLDatabasePool;

class WBSDKSQLDatabasePoolDelegate {
  public:
    virtual ~WBSDKSQLDatabasePoolDelegate() = default;
    // Optional: nullopt means not implemented (the connection is accepted).
    virtual std::optional<bool> wbsdk_databasePool(WBSDKSQLDatabasePool& pool,
                                                   const Ref<WBSDKSQLDatabase>& db) {
        return std::nullopt;
    }
};

class WBSDKSQLDatabasePool : public NSObject {
  public:
    explicit WBSDKSQLDatabasePool(std::string path);
    std::string className() const override { return "WBSDKSQLDatabasePool"; }
    static Ref<WBSDKSQLDatabasePool> databasePoolWithPath(const std::string& path);

    using TransactionBlock = WBSDKSQLDatabaseQueue::TransactionBlock;
    // The block gets nil when no connection can be had; nothing is pushed back then.
    void inDatabase(const std::function<void(WBSDKSQLDatabase* db)>& block);
    void inTransaction(const TransactionBlock& block) { beginTransaction(false, block); }
    void inDeferredTransaction(const TransactionBlock& block) { beginTransaction(true, block); }
    Ref<NSError> inSavePoint(const TransactionBlock& block);

    // A connection handed out to the caller, or nil (ceiling reached, open failed, vetoed).
    Ref<WBSDKSQLDatabase> db();
    // Raises "Database already in pool" for a connection that is already idle; nil is ignored.
    void pushDatabaseBackInPool(const Ref<WBSDKSQLDatabase>& db);
    void executeLocked(const std::function<void()>& block);

    std::size_t countOfCheckedInDatabases();
    std::size_t countOfCheckedOutDatabases();
    std::size_t countOfOpenDatabases();
    void releaseAllDatabases();

    std::string path() const;
    void setPath(std::string path);
    WBSDKSQLDatabasePoolDelegate* delegate() const { return delegate_; }
    void setDelegate(WBSDKSQLDatabasePoolDelegate* delegate) { delegate_ = delegate; }
    std::size_t maximumNumberOfDatabasesToCreate() const { return maximumNumberOfDatabasesToCreate_; }
    void setMaximumNumberOfDatabasesToCreate(std::size_t n) { maximumNumberOfDatabasesToCreate_ = n; }

  private:
    void beginTransaction(bool deferred, const TransactionBlock& block);

    mutable std::mutex pathLock_;  // the path is an atomic property
    std::string path_;
    dispatch_queue_t lockQueue_;
    std::vector<Ref<WBSDKSQLDatabase>> databaseInPool_;
    std::vector<Ref<WBSDKSQLDatabase>> databaseOutPool_;
    WBSDKSQLDatabasePoolDelegate* delegate_ = nullptr;
    std::atomic<std::size_t> maximumNumberOfDatabasesToCreate_{0};
};
