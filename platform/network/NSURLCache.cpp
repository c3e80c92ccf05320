#include "network/NSURLCache.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <list>
#include <unordered_map>

#include "foundation/NSLog.h"
#include "foundation/NSSandbox.h"

namespace {

const NSCodableClass<NSCachedURLResponse> cachedResponseRegistration("NSCachedURLResponse");

Ref<NSURLCache>& sharedSlot() {
    static Ref<NSURLCache> cache;
    return cache;
}
std::mutex sharedMutex;

// The memory cost of an entry: its body and a fixed allowance for the response.
constexpr std::size_t kEntryOverhead = 512;

std::string keyFor(const Ref<NSURLRequest>& request) {
    if (!request || !request->URL()) return std::string();
    std::string key = request->URL()->absoluteString();
    if (auto hash = key.find('#'); hash != std::string::npos) key.resize(hash);
    return key;
}

std::uint64_t fnv1a(const std::string& s) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

double nowSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

// ---- NSCachedURLResponse -------------------------------------------------------------------------
NSCachedURLResponse::NSCachedURLResponse(Ref<NSURLResponse> response, NSData data, Dictionary userInfo,
                                         NSURLCacheStoragePolicy storagePolicy)
    : response_(std::move(response)),
      data_(std::move(data)),
      userInfo_(std::move(userInfo)),
      storagePolicy_(storagePolicy) {}

NSCachedURLResponse::NSCachedURLResponse(NSCoder& coder) : storagePolicy_(NSURLCacheStorageAllowed) {
    response_ = coder.decodeObjectOfClasses({"NSURLResponse", "NSHTTPURLResponse"}, "response")
                    .objectAs<NSURLResponse>();
    Value data = coder.decodeObjectOfClass("NSData", "data");
    if (auto d = data.data()) data_ = *d;
    Value info = coder.decodeObjectOfClass("NSDictionary", "userInfo");
    if (auto u = info.dictionary()) userInfo_ = *u;
    auto p = coder.decodeInt64ForKey("storagePolicy");
    if (p >= 0 && p <= 2) storagePolicy_ = static_cast<NSURLCacheStoragePolicy>(p);
}

void NSCachedURLResponse::encodeWithCoder(NSCoder& coder) const {
    if (response_) coder.encodeObject(response_, "response");
    coder.encodeObject(data_, "data");
    if (!userInfo_.empty()) coder.encodeObject(userInfo_, "userInfo");
    coder.encodeInt64(static_cast<std::int64_t>(storagePolicy_), "storagePolicy");
}

// ---- the store ------------------------------------------------------------------------------------
struct NSURLCache::Impl {
    std::mutex mutex;  // guards everything below
    NSUInteger memoryCapacity;
    NSUInteger diskCapacity;
    std::string directory;

    struct MemoryEntry {
        Ref<NSCachedURLResponse> response;
        std::size_t cost;
        std::list<std::string>::iterator position;
    };
    std::unordered_map<std::string, MemoryEntry> memory;
    std::list<std::string> recency;  // most recent first
    std::size_t memoryUsage = 0;

    sqlite3* db = nullptr;
    bool diskTried = false;
    // What the disk entries take, as last summed and kept since, and the index's version then.
    std::optional<std::uint64_t> usageKnown;
    sqlite3_int64 usageVersion = 0;

    ~Impl() {
        if (db) sqlite3_close(db);
    }

    std::string bodiesDir() const { return directory + "/bodies"; }
    std::string indexPath() const { return directory + "/index.sqlite"; }

    // ---- memory ----
    void memoryTouch(MemoryEntry& e, const std::string& key) {
        recency.erase(e.position);
        recency.push_front(key);
        e.position = recency.begin();
    }
    void memoryRemove(const std::string& key) {
        auto it = memory.find(key);
        if (it == memory.end()) return;
        memoryUsage -= it->second.cost;
        recency.erase(it->second.position);
        memory.erase(it);
    }
    void memoryTrim() {
        while (memoryUsage > memoryCapacity && !recency.empty()) memoryRemove(recency.back());
    }
    void memoryStore(const std::string& key, const Ref<NSCachedURLResponse>& r) {
        memoryRemove(key);
        std::size_t cost = r->data().length() + kEntryOverhead;
        if (cost > memoryCapacity) return;
        recency.push_front(key);
        memory.emplace(key, MemoryEntry{r, cost, recency.begin()});
        memoryUsage += cost;
        memoryTrim();
    }

    // ---- disk ----
    bool exec(const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

    bool createSchema() {
        return exec("CREATE TABLE IF NOT EXISTS entries (key TEXT PRIMARY KEY, file TEXT NOT NULL, "
                    "size INTEGER NOT NULL, body_size INTEGER NOT NULL, accessed REAL NOT NULL, "
                    "response BLOB NOT NULL)") &&
               exec("CREATE INDEX IF NOT EXISTS entries_accessed ON entries(accessed)");
    }

    void closeDisk() {
        if (db) sqlite3_close(db);
        db = nullptr;
        usageKnown.reset();
    }

    // Sets a damaged store aside and starts an empty one.
    void resetDisk() {
        closeDisk();
        std::error_code ec;
        std::filesystem::remove(indexPath(), ec);
        std::filesystem::remove(indexPath() + "-journal", ec);
        std::filesystem::remove(indexPath() + "-wal", ec);
        std::filesystem::remove(indexPath() + "-shm", ec);
        std::filesystem::remove_all(bodiesDir(), ec);
        openDisk();
    }

    bool openDisk() {
        std::error_code ec;
        std::filesystem::create_directories(bodiesDir(), ec);
        if (ec) return false;
        if (sqlite3_open_v2(indexPath().c_str(), &db,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK) {
            closeDisk();
            return false;
        }
        sqlite3_busy_timeout(db, 2000);
        // A cache may lose what it kept when the machine stops (a body shorter than its row says
        // is a miss, a damaged index is set aside): it does not wait for the disk on each reply
        // it keeps, which would hold up whoever stores it (a page's pictures, one by one).
        exec("PRAGMA synchronous=OFF");
        if (!createSchema()) {
            closeDisk();
            return false;
        }
        // A check that the file really is a usable index.
        if (!exec("SELECT count(*) FROM entries")) {
            closeDisk();
            return false;
        }
        return true;
    }

    // The disk part, opened on first use; nullptr when unavailable.
    sqlite3* disk() {
        if (diskCapacity == 0 || directory.empty()) return nullptr;
        if (!db && !diskTried) {
            diskTried = true;
            if (!openDisk()) {
                NSLog("URL cache: index at %@ unreadable; starting afresh", indexPath());
                resetDisk();
            }
        }
        return db;
    }

    // A statement failed on a damaged file: start again rather than fail forever.
    void diskFailed() {
        NSLog("URL cache: index at %@ failed (%@); starting afresh", indexPath(),
              std::string(db ? sqlite3_errmsg(db) : ""));
        resetDisk();
    }

    void diskRemove(const std::string& key) {
        sqlite3* d = disk();
        if (!d) return;
        sqlite3_stmt* st = nullptr;
        std::uint64_t removed = 0;
        if (sqlite3_prepare_v2(d, "SELECT file, size FROM entries WHERE key = ?", -1, &st, nullptr) ==
            SQLITE_OK) {
            sqlite3_bind_text(st, 1, key.c_str(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
            while (sqlite3_step(st) == SQLITE_ROW) {
                if (auto f = reinterpret_cast<const char*>(sqlite3_column_text(st, 0))) removeBodyFile(f);
                removed +=
                    static_cast<std::uint64_t>(std::max<sqlite3_int64>(0, sqlite3_column_int64(st, 1)));
            }
        }
        sqlite3_finalize(st);
        if (usageKnown) *usageKnown -= std::min(*usageKnown, removed);
        if (sqlite3_prepare_v2(d, "DELETE FROM entries WHERE key = ?", -1, &st, nullptr) == SQLITE_OK) {
            sqlite3_bind_text(st, 1, key.c_str(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
            sqlite3_step(st);
        }
        sqlite3_finalize(st);
    }

    void removeBodyFile(const std::string& file) {
        // Only plain names inside the bodies folder: an index row cannot point elsewhere.
        if (file.empty() || file.find('/') != std::string::npos || file == "." || file == "..") return;
        std::error_code ec;
        std::filesystem::remove(bodiesDir() + "/" + file, ec);
    }

    // The index's version as other connections change it (this one's own changes leave it).
    std::optional<sqlite3_int64> dataVersion(sqlite3* d) {
        sqlite3_stmt* st = nullptr;
        std::optional<sqlite3_int64> version;
        if (sqlite3_prepare_v2(d, "PRAGMA data_version", -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            version = sqlite3_column_int64(st, 0);
        sqlite3_finalize(st);
        return version;
    }

    // What the entries take: summed once, then kept as this cache adds and removes entries, and
    // summed again only when another cache on the same folder changed them. Summing every time
    // read the whole index for each reply kept (a page's pictures cost more the more came before).
    std::uint64_t diskUsage() {
        sqlite3* d = disk();
        if (!d) return 0;
        const auto version = dataVersion(d);
        if (usageKnown && version && *version == usageVersion) return *usageKnown;
        sqlite3_stmt* st = nullptr;
        std::uint64_t total = 0;
        if (sqlite3_prepare_v2(d, "SELECT COALESCE(SUM(size), 0) FROM entries", -1, &st, nullptr) ==
                SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW) {
            total = static_cast<std::uint64_t>(std::max<sqlite3_int64>(0, sqlite3_column_int64(st, 0)));
        }
        sqlite3_finalize(st);
        if (version) {
            usageKnown = total;
            usageVersion = *version;
        }
        return total;
    }

    void diskTrim() {
        sqlite3* d = disk();
        if (!d) return;
        std::uint64_t usage = diskUsage();
        while (usage > diskCapacity) {
            sqlite3_stmt* st = nullptr;
            std::string oldest;
            if (sqlite3_prepare_v2(d, "SELECT key FROM entries ORDER BY accessed ASC LIMIT 1", -1, &st,
                                   nullptr) == SQLITE_OK &&
                sqlite3_step(st) == SQLITE_ROW) {
                if (auto k = reinterpret_cast<const char*>(sqlite3_column_text(st, 0))) oldest = k;
            }
            sqlite3_finalize(st);
            if (oldest.empty()) {
                // Nothing readable to evict yet over capacity: the index is inconsistent.
                diskFailed();
                return;
            }
            diskRemove(oldest);
            std::uint64_t after = diskUsage();
            if (after >= usage) {
                // The row would not go: the index is read-only or damaged.
                diskFailed();
                return;
            }
            usage = after;
        }
    }

    void diskStore(const std::string& key, const Ref<NSCachedURLResponse>& r) {
        sqlite3* d = disk();
        if (!d) return;
        auto archived = NSKeyedArchiver::archivedDataWithRootObject(Value(r->response()), true, nullptr);
        if (!archived) return;
        std::uint64_t size = r->data().length() + archived->length();
        diskRemove(key);
        if (size > diskCapacity) return;
        char name[64];
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        std::snprintf(name, sizeof name, "%016llx-%llx.body", static_cast<unsigned long long>(fnv1a(key)),
                      static_cast<unsigned long long>(stamp));
        // A name of its own, read only once its row is in: written in place, not synced.
        if (!r->data().writeToFile(bodiesDir() + "/" + name, false)) {
            removeBodyFile(name);
            return;
        }
        sqlite3_stmt* st = nullptr;
        bool ok = false;
        if (sqlite3_prepare_v2(
                d,
                "INSERT OR REPLACE INTO entries (key, file, size, body_size, accessed, response) "
                "VALUES (?, ?, ?, ?, ?, ?)",
                -1, &st, nullptr) == SQLITE_OK) {
            sqlite3_bind_text(st, 1, key.c_str(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
            sqlite3_bind_text(st, 2, name, -1, SQLITE_TRANSIENT);
            sqlite3_bind_int64(st, 3, static_cast<sqlite3_int64>(size));
            sqlite3_bind_int64(st, 4, static_cast<sqlite3_int64>(r->data().length()));
            sqlite3_bind_double(st, 5, nowSeconds());
            sqlite3_bind_blob(st, 6, archived->bytes(), static_cast<int>(archived->length()),
                              SQLITE_TRANSIENT);
            ok = sqlite3_step(st) == SQLITE_DONE;
        }
        sqlite3_finalize(st);
        if (!ok) {
            removeBodyFile(name);
            diskFailed();
            return;
        }
        if (usageKnown) *usageKnown += size;
        diskTrim();
    }

    Ref<NSCachedURLResponse> diskLoad(const std::string& key) {
        sqlite3* d = disk();
        if (!d) return nullptr;
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(d, "SELECT file, body_size, response FROM entries WHERE key = ?", -1, &st,
                               nullptr) != SQLITE_OK) {
            sqlite3_finalize(st);
            diskFailed();
            return nullptr;
        }
        sqlite3_bind_text(st, 1, key.c_str(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
        int rc = sqlite3_step(st);
        if (rc != SQLITE_ROW) {
            sqlite3_finalize(st);
            if (rc != SQLITE_DONE) diskFailed();
            return nullptr;
        }
        std::string file;
        if (auto f = reinterpret_cast<const char*>(sqlite3_column_text(st, 0))) file = f;
        sqlite3_int64 bodySize = sqlite3_column_int64(st, 1);
        NSData blob;
        if (auto p = sqlite3_column_blob(st, 2))
            blob = NSData(p, static_cast<std::size_t>(sqlite3_column_bytes(st, 2)));
        sqlite3_finalize(st);

        Ref<NSCachedURLResponse> result;
        if (!file.empty() && file.find('/') == std::string::npos && file != "." && file != "..") {
            auto response = NSKeyedUnarchiver::unarchivedObjectOfClasses(
                                {"NSURLResponse", "NSHTTPURLResponse"}, blob, nullptr)
                                .objectAs<NSURLResponse>();
            auto body = NSData::dataWithContentsOfFile(bodiesDir() + "/" + file);
            if (response && body && static_cast<sqlite3_int64>(body->length()) == bodySize) {
                result = make<NSCachedURLResponse>(response, *body);
            }
        }
        if (!result) {
            diskRemove(key);
            return nullptr;
        }
        if (sqlite3_prepare_v2(d, "UPDATE entries SET accessed = ? WHERE key = ?", -1, &st, nullptr) ==
            SQLITE_OK) {
            sqlite3_bind_double(st, 1, nowSeconds());
            sqlite3_bind_text(st, 2, key.c_str(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
            sqlite3_step(st);
        }
        sqlite3_finalize(st);
        return result;
    }

    void diskRemoveAll() {
        sqlite3* d = disk();
        if (!d) return;
        exec("DELETE FROM entries");
        if (usageKnown) usageKnown = 0;
        std::error_code ec;
        for (auto& entry : std::filesystem::directory_iterator(bodiesDir(), ec)) {
            std::filesystem::remove(entry.path(), ec);
        }
    }
};

NSURLCache::NSURLCache(NSUInteger memoryCapacity, NSUInteger diskCapacity,
                       std::optional<std::string> diskPath)
    : impl_(std::make_unique<Impl>()) {
    if (diskPath && !diskPath->empty() && diskPath->front() == '/') {
        directory_ = *diskPath;
    } else {
        directory_ =
            NSSandbox::cachesPath() + "/" + (diskPath && !diskPath->empty() ? *diskPath : "URLCache");
    }
    impl_->memoryCapacity = memoryCapacity;
    impl_->diskCapacity = diskCapacity;
    impl_->directory = directory_;
}

NSURLCache::~NSURLCache() = default;

Ref<NSURLCache> NSURLCache::sharedURLCache() {
    std::lock_guard<std::mutex> lock(sharedMutex);
    auto& slot = sharedSlot();
    if (!slot) slot = make<NSURLCache>(512 * 1024, 10 * 1024 * 1024, std::nullopt);
    return slot;
}

void NSURLCache::setSharedURLCache(Ref<NSURLCache> cache) {
    std::lock_guard<std::mutex> lock(sharedMutex);
    sharedSlot() = std::move(cache);
}

Ref<NSCachedURLResponse> NSURLCache::cachedResponseForRequest(const Ref<NSURLRequest>& request) {
    std::string key = keyFor(request);
    if (key.empty()) return nullptr;
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (auto it = impl_->memory.find(key); it != impl_->memory.end()) {
        impl_->memoryTouch(it->second, key);
        return it->second.response;
    }
    auto loaded = impl_->diskLoad(key);
    if (loaded) impl_->memoryStore(key, loaded);
    return loaded;
}

void NSURLCache::storeCachedResponse(const Ref<NSCachedURLResponse>& cachedResponse,
                                     const Ref<NSURLRequest>& request) {
    std::string key = keyFor(request);
    if (key.empty() || !cachedResponse || !cachedResponse->response()) return;
    if (cachedResponse->storagePolicy() == NSURLCacheStorageNotAllowed) return;
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->memoryStore(key, cachedResponse);
    if (cachedResponse->storagePolicy() == NSURLCacheStorageAllowed) {
        impl_->diskStore(key, cachedResponse);
    } else {
        impl_->diskRemove(key);
    }
}

void NSURLCache::removeCachedResponseForRequest(const Ref<NSURLRequest>& request) {
    std::string key = keyFor(request);
    if (key.empty()) return;
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->memoryRemove(key);
    impl_->diskRemove(key);
}

void NSURLCache::removeAllCachedResponses() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->memory.clear();
    impl_->recency.clear();
    impl_->memoryUsage = 0;
    impl_->diskRemoveAll();
}

NSUInteger NSURLCache::memoryCapacity() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->memoryCapacity;
}

NSUInteger NSURLCache::diskCapacity() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->diskCapacity;
}

void NSURLCache::setMemoryCapacity(NSUInteger capacity) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->memoryCapacity = capacity;
    impl_->memoryTrim();
}

void NSURLCache::setDiskCapacity(NSUInteger capacity) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->diskCapacity = capacity;
    if (capacity == 0) {
        if (impl_->db) impl_->diskRemoveAll();
        impl_->closeDisk();
        impl_->diskTried = false;
        return;
    }
    impl_->diskTrim();
}

NSUInteger NSURLCache::currentMemoryUsage() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->memoryUsage;
}

NSUInteger NSURLCache::currentDiskUsage() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->diskUsage();
}
