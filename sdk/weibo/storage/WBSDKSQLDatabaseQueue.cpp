#include "sdk/weibo/storage/WBSDKSQLDatabaseQueue.h"

#include <algorithm>
#include <atomic>

#include "foundation/NSException.h"
#include "foundation/NSLog.h"
#include "foundation/NSString.h"
#include "sdk/weibo/storage/NSThread+WBSDKSQLDDispatchSync.h"

using namespace NSThread_WBSDKSQLDDispatchSync;

// ---- WBSDKSQLDatabaseQueue --------------------------------------------------------------------

WBSDKSQLDatabaseQueue::WBSDKSQLDatabaseQueue(std::string path) : path_(std::move(path)) {
    queue_ = dispatch_queue_create(NSString::stringWithFormat("sqldb.%@", NSObject::description()).c_str());
}

WBSDKSQLDatabaseQueue::~WBSDKSQLDatabaseQueue() = default;

bool WBSDKSQLDatabaseQueue::openInitial() {
    db_ = WBSDKSQLDatabase::databaseWithPath(path_);
    if (!db_->open()) {
        NSLog("Could not create database queue for path %@", path_);
        db_.reset();
        return false;
    }
    return true;
}

Ref<WBSDKSQLDatabaseQueue> WBSDKSQLDatabaseQueue::databaseQueueWithPath(const std::string& path) {
    auto queue = make<WBSDKSQLDatabaseQueue>(path);
    if (!queue->openInitial()) return nullptr;
    return queue;
}

WBSDKSQLDatabase* WBSDKSQLDatabaseQueue::database() {
    if (!db_) {
        auto db = WBSDKSQLDatabase::databaseWithPath(path_);
        if (!db->open()) {
            NSLog("SQLDatabaseQueue could not reopen database for path %@", path_);
            return nullptr;
        }
        db_ = db;
    }
    return db_.get();
}

void WBSDKSQLDatabaseQueue::run(const std::function<void()>& work) {
    auto counted = [this, &work] {
        wbsdksql_operationAddOfQueue(queue_);
        work();
        wbsdksql_operationEndOfQueue(queue_);
    };
    if (wbsdksql_operationCountOfQueue(queue_) < 1) {
        dispatch_sync(queue_, counted);
    } else {
        counted();  // already inside a block of this queue on this thread
    }
}

void WBSDKSQLDatabaseQueue::inDatabase(const std::function<void(WBSDKSQLDatabase* db)>& block) {
    run([&] {
        auto db = database();
        if (block) block(db);
    });
}

bool WBSDKSQLDatabaseQueue::beginTransaction(bool deferred, const TransactionBlock& block) {
    bool result = false;
    run([&] {
        auto db = database();
        if (!db) {
            if (block) {
                bool ignored = false;
                block(nullptr, &ignored);
            }
            return;
        }
        if (deferred) {
            db->beginDeferredTransaction();
        } else {
            db->beginTransaction();
        }
        bool shouldRollback = false;
        if (block) block(db, &shouldRollback);
        if (shouldRollback) {
            db->rollback();
            result = false;
        } else {
            result = db->commit();
        }
    });
    return result;
}

Ref<NSError> WBSDKSQLDatabaseQueue::inSavePoint(const TransactionBlock& block) {
    static std::atomic<long> savePointIdx{0};
    Ref<NSError> err;
    run([&] {
        std::string name = NSString::stringWithFormat("savePoint%ld", savePointIdx.fetch_add(1));
        auto db = database();
        if (!db) return;
        bool shouldRollback = false;
        if (db->startSavePointWithName(name, &err)) {
            if (block) block(db, &shouldRollback);
            if (shouldRollback) {
                db->rollbackToSavePointWithName(name, &err);
            } else {
                db->releaseSavePointWithName(name, &err);
            }
        }
    });
    return err;
}

void WBSDKSQLDatabaseQueue::close() {
    run([&] {
        if (db_) db_->close();
        db_.reset();
    });
}

// ---- WBSDKSQLDatabasePool ---------------------------------------------------------------------

WBSDKSQLDatabasePool::WBSDKSQLDatabasePool(std::string path) : path_(std::move(path)) {
    lockQueue_ =
        dispatch_queue_create(NSString::stringWithFormat("sqldb.%@", NSObject::description()).c_str());
}

Ref<WBSDKSQLDatabasePool> WBSDKSQLDatabasePool::databasePoolWithPath(const std::string& path) {
    return make<WBSDKSQLDatabasePool>(path);
}

std::string WBSDKSQLDatabasePool::path() const {
    std::lock_guard lock(pathLock_);
    return path_;
}

void WBSDKSQLDatabasePool::setPath(std::string path) {
    std::lock_guard lock(pathLock_);
    path_ = std::move(path);
}

void WBSDKSQLDatabasePool::executeLocked(const std::function<void()>& block) {
    dispatch_sync(lockQueue_, [&] {
        if (block) block();
    });
}

Ref<WBSDKSQLDatabase> WBSDKSQLDatabasePool::db() {
    Ref<WBSDKSQLDatabase> db;
    executeLocked([&] {
        if (!databaseInPool_.empty()) {
            db = databaseInPool_.back();
            databaseInPool_.pop_back();
            databaseOutPool_.push_back(db);  // handed out before anything else can take it
        }
        bool shouldNotify = false;
        if (!db) {
            std::size_t ceiling = maximumNumberOfDatabasesToCreate_;
            if (ceiling) {
                std::size_t current = databaseInPool_.size() + databaseOutPool_.size();
                if (current >= ceiling) {
                    NSLog("Maximum number of databases (%ld) has already been reached!",
                          static_cast<long>(ceiling));
                    return;
                }
            }
            db = WBSDKSQLDatabase::databaseWithPath(path());
            shouldNotify = true;
        }
        if (!db->open()) {
            NSLog("Could not open up the database at path %@", path());
            std::erase(databaseOutPool_, db);
            db.reset();
            return;
        }
        if (shouldNotify && delegate_) {
            auto answer = delegate_->wbsdk_databasePool(*this, db);
            if (answer && !*answer) {
                db->close();
                std::erase(databaseOutPool_, db);
                db.reset();
                return;
            }
        }
        if (std::find(databaseOutPool_.begin(), databaseOutPool_.end(), db) == databaseOutPool_.end())
            databaseOutPool_.push_back(db);
    });
    return db;
}

void WBSDKSQLDatabasePool::pushDatabaseBackInPool(const Ref<WBSDKSQLDatabase>& db) {
    if (!db) return;
    bool already = false;
    executeLocked([&] {
        if (std::find(databaseInPool_.begin(), databaseInPool_.end(), db) != databaseInPool_.end()) {
            already = true;
            return;
        }
        databaseInPool_.push_back(db);
        std::erase(databaseOutPool_, db);
    });
    // Raised outside the lock queue so the pool stays usable.
    if (already) {
        throw NSException("Database already in pool",
                          "The SQLDatabase being put back into the pool is already present in the pool");
    }
}

std::size_t WBSDKSQLDatabasePool::countOfCheckedInDatabases() {
    std::size_t n = 0;
    executeLocked([&] { n = databaseInPool_.size(); });
    return n;
}

std::size_t WBSDKSQLDatabasePool::countOfCheckedOutDatabases() {
    std::size_t n = 0;
    executeLocked([&] { n = databaseOutPool_.size(); });
    return n;
}

std::size_t WBSDKSQLDatabasePool::countOfOpenDatabases() {
    std::size_t n = 0;
    executeLocked([&] { n = databaseInPool_.size() + databaseOutPool_.size(); });
    return n;
}

void WBSDKSQLDatabasePool::releaseAllDatabases() {
    std::vector<Ref<WBSDKSQLDatabase>> in, out;
    executeLocked([&] {
        in.swap(databaseInPool_);
        out.swap(databaseOutPool_);
    });
    // The connections close as their last holders let go, outside the lock.
}

void WBSDKSQLDatabasePool::inDatabase(const std::function<void(WBSDKSQLDatabase* db)>& block) {
    auto db = this->db();
    if (block) block(db.get());
    pushDatabaseBackInPool(db);
}

void WBSDKSQLDatabasePool::beginTransaction(bool deferred, const TransactionBlock& block) {
    auto db = this->db();
    bool shouldRollback = false;
    if (db) {
        if (deferred) {
            db->beginDeferredTransaction();
        } else {
            db->beginTransaction();
        }
    }
    if (block) block(db.get(), &shouldRollback);
    if (db) {
        if (shouldRollback) {
            db->rollback();
        } else {
            db->commit();
        }
    }
    pushDatabaseBackInPool(db);
}

Ref<NSError> WBSDKSQLDatabasePool::inSavePoint(const TransactionBlock& block) {
    static std::atomic<long> savePointIdx{0};
    std::string name = NSString::stringWithFormat("savePoint%ld", savePointIdx.fetch_add(1));
    auto db = this->db();
    Ref<NSError> err;
    if (db && db->startSavePointWithName(name, &err)) {
        bool shouldRollback = false;
        if (block) block(db.get(), &shouldRollback);
        if (shouldRollback) {
            db->rollbackToSavePointWithName(name, &err);
        } else {
            db->releaseSavePointWithName(name, &err);
        }
    } else if (!db && block) {
        bool ignored = false;
        block(nullptr, &ignored);
    }
    pushDatabaseBackInPool(db);
    return err;
}
