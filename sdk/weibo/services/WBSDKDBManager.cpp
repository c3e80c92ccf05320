#include "sdk/weibo/services/WBSDKDBManager.h"

#include "foundation/NSFileManager.h"
#include "sdk/weibo/util/NSFileManager+Utilities.h"
#include "uikit/UIApplication.h"

namespace {

constexpr char kFileName[] = "WBSDKStatistics.db";
constexpr char kQueueLabel[] = "wbsdk_statistics_io_queue";

std::mutex gManagerLock;  // guards gManager
Ref<WBSDKDBManager> gManager;

std::mutex gStoresLock;  // guards gStores
std::map<std::string, Ref<WBSDKDBObjectStore>> gStores;

}  // namespace

// ---- WBSDKDBManager ---------------------------------------------------------------------------

WBSDKDBManager::WBSDKDBManager() {
    openDataBase();
    io_queue_ = dispatch_queue_create(kQueueLabel, DISPATCH_QUEUE_CONCURRENT);
}

Ref<WBSDKDBManager> WBSDKDBManager::sharedManager() {
    std::lock_guard guard(gManagerLock);
    if (!gManager) gManager = make<WBSDKDBManager>();
    return gManager;
}

void WBSDKDBManager::openDataBase() {
    using namespace NSFileManager_Utilities;
    std::string path = wbsdk_PathForFileInCacheNamed(kFileName);
    auto fm = NSFileManager::defaultManager();
    if (!fm->fileExistsAtPath(path)) {
        // A database shipped among the app's resources seeds the file; a failed copy leaves SQLite
        // to make an empty one.
        std::string bundled = wbsdk_PathForBundleDocumentNamed(kFileName);
        if (fm->fileExistsAtPath(bundled)) fm->copyItemAtPath(bundled, path);
    }
    db_ = WBSDKSQLDatabase::databaseWithPath(path);
    db_->open();
}

void WBSDKDBManager::closeDataBase() {
    if (db_) db_->close();
}

bool WBSDKDBManager::beginTransaction() {
    return db_ && db_->beginTransaction();
}

bool WBSDKDBManager::endTransaction() {
    return db_ && db_->commit();
}

void WBSDKDBManager::runInTransaction(const DatabaseBlock& block) {
    std::lock_guard guard(connectionLock_);
    beginTransaction();
    if (block) block(db_.get());
    endTransaction();
}

void WBSDKDBManager::readDatabaseBlockInTransaction(DatabaseBlock block) {
    auto self = std::static_pointer_cast<WBSDKDBManager>(this->self());
    dispatch_async(io_queue_, [self, block = std::move(block)] { self->runInTransaction(block); });
}

void WBSDKDBManager::writeDatabaseBlockInTransaction(DatabaseBlock block) {
    auto self = std::static_pointer_cast<WBSDKDBManager>(this->self());
    dispatch_barrier_async(io_queue_, [self, block = std::move(block)] { self->runInTransaction(block); });
}

void WBSDKDBManager::waitUntilIdle() {
    dispatch_barrier_sync(io_queue_, [] {});
}

// ---- WBSDKDBObjectStore -----------------------------------------------------------------------

WBSDKDBObjectStore::WBSDKDBObjectStore(const WBSDKDBObjectClass& objectClass)
    : storeObjectClass_(objectClass) {
    recordBuffers_.reserve(bufferSize());
}

void WBSDKDBObjectStore::didInit() {
    createTableIfNeeded();
    auto center = NSNotificationCenter::defaultCenter();
    auto self = std::static_pointer_cast<WBSDKDBObjectStore>(this->self());
    center->addObserver(self, &WBSDKDBObjectStore::applicationDidEnterBackground,
                        std::string(UIApplicationDidEnterBackgroundNotification));
    center->addObserver(self, &WBSDKDBObjectStore::applicationWillEnterForeground,
                        std::string(UIApplicationWillEnterForegroundNotification));
}

WBSDKDBObjectStore::~WBSDKDBObjectStore() {
    NSNotificationCenter::defaultCenter()->removeObserver(static_cast<const NSObject*>(this));
    flushBuffers();
}

Ref<WBSDKDBObjectStore> WBSDKDBObjectStore::sharedStore(const WBSDKDBObjectClass& objectClass) {
    std::lock_guard guard(gStoresLock);
    auto& store = gStores[objectClass.name];
    if (!store) store = make<WBSDKDBObjectStore>(objectClass);
    return store;
}

std::size_t WBSDKDBObjectStore::bufferSize() {
    std::lock_guard guard(lock_);
    if (bufferSize_ == 0) bufferSize_ = 10;
    return bufferSize_;
}

void WBSDKDBObjectStore::setBufferSize(std::size_t size) {
    std::lock_guard guard(lock_);
    bufferSize_ = size;
}

std::vector<WBSDKDBObject> WBSDKDBObjectStore::recordBuffers() const {
    std::lock_guard guard(lock_);
    return recordBuffers_;
}

void WBSDKDBObjectStore::createTableIfNeeded() {
    auto create = storeObjectClass_.createTableIfNeeded;
    WBSDKDBManager::sharedManager()->writeDatabaseBlockInTransaction(
        [create](WBSDKSQLDatabase* db) { create(db); });
}

void WBSDKDBObjectStore::addObject(const WBSDKDBObject& object) {
    if (!object) return;
    std::lock_guard guard(lock_);
    if (recordBuffers_.size() >= bufferSize()) flushBuffers();
    recordBuffers_.push_back(object);
}

void WBSDKDBObjectStore::addObjects(const std::vector<WBSDKDBObject>& objects) {
    for (const auto& object : objects) addObject(object);
}

void WBSDKDBObjectStore::flushBuffers() {
    std::lock_guard guard(lock_);
    if (recordBuffers_.empty()) return;
    std::vector<WBSDKDBObject> batch;
    batch.swap(recordBuffers_);
    recordBuffers_.reserve(bufferSize());
    // A record whose insert fails (a repeated uniqueID) is dropped; the others are written.
    WBSDKDBManager::sharedManager()->writeDatabaseBlockInTransaction(
        [batch = std::move(batch)](WBSDKSQLDatabase* db) {
            for (const auto& record : batch) record->insertToDataBase(db);
        });
}

void WBSDKDBObjectStore::deleteObject(const WBSDKDBObject& object) {
    if (!object) return;
    flushBuffers();
    WBSDKDBManager::sharedManager()->writeDatabaseBlockInTransaction(
        [object](WBSDKSQLDatabase* db) { object->deleteInDB(db); });
}

void WBSDKDBObjectStore::deleteObjects(const std::vector<WBSDKDBObject>& objects) {
    if (objects.empty()) return;
    flushBuffers();
    WBSDKDBManager::sharedManager()->writeDatabaseBlockInTransaction([objects](WBSDKSQLDatabase* db) {
        for (const auto& object : objects)
            if (object) object->deleteInDB(db);
    });
}

void WBSDKDBObjectStore::deleteObjectsFromTime(double from, double to) {
    if (!(to > from)) return;
    flushBuffers();
    auto remove = storeObjectClass_.deleteInDB;
    WBSDKDBManager::sharedManager()->writeDatabaseBlockInTransaction(
        [remove, from, to](WBSDKSQLDatabase* db) { remove(db, from, to); });
}

void WBSDKDBObjectStore::objectsFromTime(double from, double to, ResultBlock block) {
    if (!(to > from)) return;
    flushBuffers();
    auto select = storeObjectClass_.selectDB;
    auto load = storeObjectClass_.objectFromRS;
    WBSDKDBManager::sharedManager()->readDatabaseBlockInTransaction(
        [select, load, from, to, block = std::move(block)](WBSDKSQLDatabase* db) {
            std::vector<WBSDKDBObject> objects;
            auto rs = select(db, from, to);
            while (rs && rs->next()) {
                if (auto object = load(rs.get())) objects.push_back(object);
            }
            if (rs) rs->close();
            if (block) block(objects);
        });
}

namespace wbsdk_testing {

void resetStatisticsStores() {
    std::map<std::string, Ref<WBSDKDBObjectStore>> stores;
    {
        std::lock_guard guard(gStoresLock);
        stores.swap(gStores);
    }
    for (auto& [name, store] : stores) store->flushBuffers();
    stores.clear();
    Ref<WBSDKDBManager> manager;
    {
        std::lock_guard guard(gManagerLock);
        manager.swap(gManager);
    }
    if (manager) {
        manager->waitUntilIdle();
        manager->closeDataBase();
    }
}

}  // namespace wbsdk_testing
