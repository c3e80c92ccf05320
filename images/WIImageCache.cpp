#include "images/WIImageCache.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

#include "foundation/NSDate.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSPathUtilities.h"
#include "images/UIImage+ForceDecode.h"
#include "images/UIImage+MultiFormat.h"
#include "images/WIImageWithScaleFromKey.h"
#include "security/CommonDigest.h"
#include "uikit/UIApplication.h"

namespace {

constexpr char kNamespacePrefix[] = "com.dravelin.WIWebImageCache.";
constexpr char kIOQueueLabel[] = "com.dravelin.WIWebImageCache";
constexpr std::uint8_t kPNGSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
// A temporary file older than this when a clean runs is the leftover of a crashed write.
constexpr double kStaleIncomingSeconds = 60;

bool dataStartsWithPNGSignature(const NSData& data) {
    return data.length() >= 8 && std::equal(kPNGSignature, kPNGSignature + 8, data.bytes());
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

// Writes all of data to a fresh file at path; false (and nothing left behind) on failure.
bool writeWholeFile(const std::string& path, const NSData& data) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const std::uint8_t* bytes = data.bytes();
    std::size_t left = data.length();
    while (left > 0) {
        ssize_t written = ::write(fd, bytes, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            ::unlink(path.c_str());
            return false;
        }
        bytes += written;
        left -= static_cast<std::size_t>(written);
    }
    if (::close(fd) != 0) {
        ::unlink(path.c_str());
        return false;
    }
    return true;
}

std::atomic<std::uint64_t> gIncomingSerial{0};

}  // namespace

WIImageCache::WIImageCache() : WIImageCache("default") {}

WIImageCache::WIImageCache(const std::string& ns) {
    std::string fullNamespace = kNamespacePrefix + ns;
    ioQueue_ = dispatch_queue_create(kIOQueueLabel, DISPATCH_QUEUE_SERIAL);
    memCache_ = make<NSCache>();
    memCache_->setName(fullNamespace);
    auto caches = NSSearchPathForDirectoriesInDomains(NSCachesDirectory, NSUserDomainMask, true);
    diskCachePath_ = joinPath(caches.empty() ? std::string() : caches.front(), fullNamespace);
    dispatch_sync(ioQueue_, [this] { fileManager_ = make<NSFileManager>(); });
}

void WIImageCache::didInit() {
    auto center = NSNotificationCenter::defaultCenter();
    Weak<WIImageCache> weak = selfAs<WIImageCache>();
    center->addObserver(
        self(), "clearMemory",
        [weak](const Ref<NSNotification>&) {
            if (auto cache = weak.lock()) cache->clearMemory();
        },
        std::string(UIApplicationDidReceiveMemoryWarningNotification));
    center->addObserver(
        self(), "cleanDisk",
        [weak](const Ref<NSNotification>&) {
            if (auto cache = weak.lock()) cache->cleanDisk();
        },
        std::string(UIApplicationWillTerminateNotification));
    center->addObserver(
        self(), "backgroundCleanDisk",
        [weak](const Ref<NSNotification>&) {
            if (auto cache = weak.lock()) cache->backgroundCleanDisk();
        },
        std::string(UIApplicationDidEnterBackgroundNotification));
}

WIImageCache::~WIImageCache() {
    NSNotificationCenter::defaultCenter()->removeObserver(this);
}

Ref<WIImageCache> WIImageCache::sharedImageCache() {
    static Ref<WIImageCache> instance = make<WIImageCache>("default");
    return instance;
}

// ---- paths ----------------------------------------------------------------------------------

std::string WIImageCache::diskCachePath() const {
    std::lock_guard lock(pathsLock_);
    return diskCachePath_;
}

void WIImageCache::setDiskCachePath(const std::string& path) {
    std::lock_guard lock(pathsLock_);
    diskCachePath_ = path;
}

std::vector<std::string> WIImageCache::customPaths() const {
    std::lock_guard lock(pathsLock_);
    return customPaths_;
}

std::string WIImageCache::incomingPath() const {
    std::string own = diskCachePath();
    while (own.size() > 1 && own.back() == '/') own.pop_back();
    auto slash = own.rfind('/');
    std::string parent = slash == std::string::npos ? std::string(".") : own.substr(0, slash);
    std::string name = slash == std::string::npos ? own : own.substr(slash + 1);
    return joinPath(parent, "." + name + ".incoming");
}

void WIImageCache::addReadOnlyCachePath(const std::string& path) {
    std::lock_guard lock(pathsLock_);
    if (std::find(customPaths_.begin(), customPaths_.end(), path) == customPaths_.end()) {
        customPaths_.push_back(path);
    }
}

std::string WIImageCache::cachedFileNameForKey(const std::optional<std::string>& key) {
    const std::string& text = key ? *key : std::string();
    unsigned char digest[CC_MD5_DIGEST_LENGTH];
    CC_MD5(text.data(), static_cast<CC_LONG>(text.size()), digest);
    static const char* hex = "0123456789abcdef";
    std::string name;
    name.reserve(2 * CC_MD5_DIGEST_LENGTH);
    for (unsigned char byte : digest) {
        name.push_back(hex[byte >> 4]);
        name.push_back(hex[byte & 0xF]);
    }
    return name;
}

std::string WIImageCache::cachePathForKey(const std::optional<std::string>& key,
                                          const std::string& path) const {
    return joinPath(path, cachedFileNameForKey(key));
}

std::string WIImageCache::defaultCachePathForKey(const std::optional<std::string>& key) const {
    return cachePathForKey(key, diskCachePath());
}

// ---- store ----------------------------------------------------------------------------------

std::size_t WIImageCache::costForImage(const Ref<UIImage>& image) {
    CGSize size = image->size();
    double cost = size.width * size.height * image->scale();
    return cost > 0 ? static_cast<std::size_t>(cost) : 0;
}

void WIImageCache::storeImage(const Ref<UIImage>& image, bool recalculate,
                              const std::optional<NSData>& imageData, const std::optional<std::string>& key,
                              bool toDisk) {
    if (!image || !key) return;
    memCache_->setObject(*key, Value(image), costForImage(image));
    if (!toDisk) return;
    auto self = selfAs<WIImageCache>();
    std::string keyText = *key;
    dispatch_async(ioQueue_, [self, image, recalculate, imageData, keyText] {
        std::optional<NSData> data = imageData;
        if (image && (!data || recalculate)) {
            if (data && data->length() >= 8) {
                data = dataStartsWithPNGSignature(*data) ? UIImagePNGRepresentation(image)
                                                         : UIImageJPEGRepresentation(image, 1.0);
            } else {
                data = UIImagePNGRepresentation(image);
            }
        }
        if (!data) return;
        self->writeDataToDisk(*data, keyText);
    });
}

void WIImageCache::writeDataToDisk(const NSData& data, const std::string& key) {
    std::string folder = diskCachePath();
    if (!fileManager_->fileExistsAtPath(folder)) fileManager_->createDirectoryAtPath(folder, true);
    std::string incoming = incomingPath();
    if (!fileManager_->fileExistsAtPath(incoming)) fileManager_->createDirectoryAtPath(incoming, true);
    // The bytes go to a temporary file first and are renamed into place in one step, so a
    // reader (or a restart after a crash) finds either the old file, the whole new one or none.
    std::string target = cachePathForKey(key, folder);
    std::string temporary = joinPath(incoming, cachedFileNameForKey(key) + "." + std::to_string(::getpid()) +
                                                   "." + std::to_string(gIncomingSerial.fetch_add(1)));
    if (!writeWholeFile(temporary, data)) return;
    if (std::rename(temporary.c_str(), target.c_str()) != 0) ::unlink(temporary.c_str());
}

// ---- existence --------------------------------------------------------------------------------

bool WIImageCache::diskImageExistsWithKey(const std::optional<std::string>& key) const {
    return NSFileManager::defaultManager()->fileExistsAtPath(defaultCachePathForKey(key));
}

void WIImageCache::diskImageExistsWithKey(const std::optional<std::string>& key,
                                          WIWebImageCheckCacheCompletionBlock completion) {
    auto self = selfAs<WIImageCache>();
    dispatch_async(ioQueue_, [self, key, completion = std::move(completion)] {
        bool exists = self->fileManager_->fileExistsAtPath(self->defaultCachePathForKey(key));
        if (completion) {
            dispatch_async(dispatch_get_main_queue(), [completion, exists] { completion(exists); });
        }
    });
}

// ---- reads ------------------------------------------------------------------------------------

Ref<UIImage> WIImageCache::imageFromMemoryCacheForKey(const std::optional<std::string>& key) {
    if (!key) return nullptr;
    return memCache_->objectForKey(*key).objectAs<UIImage>();
}

Ref<UIImage> WIImageCache::imageFromDiskCacheForKey(const std::optional<std::string>& key) {
    if (auto image = imageFromMemoryCacheForKey(key)) return image;
    auto image = diskImageForKey(key);
    if (image && key) memCache_->setObject(*key, Value(image), costForImage(image));
    return image;
}

std::optional<NSData>
WIImageCache::diskImageDataBySearchingAllPathsForKey(const std::optional<std::string>& key) const {
    std::string own = defaultCachePathForKey(key);
    if (auto data = NSData::dataWithContentsOfFile(own)) return data;
    for (const auto& folder : customPaths()) {
        if (auto data = NSData::dataWithContentsOfFile(cachePathForKey(key, folder))) return data;
    }
    return std::nullopt;
}

Ref<UIImage> WIImageCache::diskImageForKey(const std::optional<std::string>& key) const {
    auto data = diskImageDataBySearchingAllPathsForKey(key);
    if (!data) return nullptr;
    auto image = UIImage_MultiFormat::wi_imageWithData(*data);
    image = scaledImageForKey(key, image);
    return UIImage_ForceDecode::decodedImageWithImage(image);
}

Ref<UIImage> WIImageCache::scaledImageForKey(const std::optional<std::string>& key,
                                             const Ref<UIImage>& image) const {
    return WIImageWithScaleFromKey(key, image);
}

Ref<NSOperation> WIImageCache::queryDiskCacheForKey(const std::optional<std::string>& key,
                                                    WIWebImageQueryCompletedBlock done) {
    if (!done) return nullptr;
    if (!key) {
        done(nullptr, WICacheSourceNone);
        return nullptr;
    }
    if (auto image = imageFromMemoryCacheForKey(key)) {
        done(image, WICacheSourceMemory);
        return nullptr;
    }
    auto operation = make<NSOperation>();
    auto self = selfAs<WIImageCache>();
    std::string keyText = *key;
    dispatch_async(ioQueue_, [self, operation, keyText, done = std::move(done)] {
        // The one look at cancellation: a cancel after this point still gets its answer.
        if (operation->isCancelled()) return;
        auto image = self->diskImageForKey(keyText);
        if (image) self->memCache_->setObject(keyText, Value(image), costForImage(image));
        dispatch_async(dispatch_get_main_queue(), [done, image] { done(image, WICacheSourceDisk); });
    });
    return operation;
}

// ---- removal ----------------------------------------------------------------------------------

void WIImageCache::removeImageForKey(const std::optional<std::string>& key, bool fromDisk,
                                     WIWebImageNoParamsBlock completion) {
    if (!key) return;
    memCache_->removeObjectForKey(*key);
    if (fromDisk) {
        auto self = selfAs<WIImageCache>();
        std::string keyText = *key;
        dispatch_async(ioQueue_, [self, keyText, completion = std::move(completion)] {
            self->fileManager_->removeItemAtPath(self->defaultCachePathForKey(keyText));
            if (completion) dispatch_async(dispatch_get_main_queue(), completion);
        });
    } else if (completion) {
        completion();
    }
}

// ---- memory -----------------------------------------------------------------------------------

std::size_t WIImageCache::maxMemoryCost() const {
    return memCache_->totalCostLimit();
}

void WIImageCache::setMaxMemoryCost(std::size_t cost) {
    memCache_->setTotalCostLimit(cost);
}

void WIImageCache::clearMemory() {
    memCache_->removeAllObjects();
}

// ---- disk maintenance -------------------------------------------------------------------------

void WIImageCache::clearDiskOnCompletion(WIWebImageNoParamsBlock completion) {
    auto self = selfAs<WIImageCache>();
    dispatch_async(ioQueue_, [self, completion = std::move(completion)] {
        std::string folder = self->diskCachePath();
        self->fileManager_->removeItemAtPath(folder);
        self->fileManager_->createDirectoryAtPath(folder, true);
        if (completion) dispatch_async(dispatch_get_main_queue(), completion);
    });
}

void WIImageCache::cleanDiskWithCompletionBlock(WIWebImageNoParamsBlock completion) {
    auto self = selfAs<WIImageCache>();
    dispatch_async(ioQueue_, [self, completion = std::move(completion)] {
        self->cleanOnIOQueue();
        if (completion) dispatch_async(dispatch_get_main_queue(), completion);
    });
}

void WIImageCache::cleanOnIOQueue() {
    std::string folder = diskCachePath();
    NSDate expiration = NSDate::date().dateByAddingTimeInterval(-static_cast<double>(maxCacheAge()));

    std::vector<std::string> deletions;
    std::vector<NSDirectoryEntry> kept;
    std::uint64_t currentSize = 0;
    auto walk = fileManager_->enumeratorAtURL(folder, NSDirectoryEnumerationSkipsHiddenFiles);
    while (auto entry = walk->nextEntry()) {
        if (entry->isDirectory) continue;
        if (entry->contentModificationDate &&
            entry->contentModificationDate->timeIntervalSince1970() <= expiration.timeIntervalSince1970()) {
            deletions.push_back(entry->path);
            continue;
        }
        currentSize += entry->totalFileAllocatedSize;
        kept.push_back(std::move(*entry));
    }
    for (const auto& path : deletions) fileManager_->removeItemAtPath(path);

    std::uint64_t budget = maxCacheSize();
    if (budget > 0 && currentSize > budget) {
        std::uint64_t target = budget / 2;
        std::stable_sort(kept.begin(), kept.end(), [](const NSDirectoryEntry& a, const NSDirectoryEntry& b) {
            double da = a.contentModificationDate ? a.contentModificationDate->timeIntervalSince1970() : 0;
            double db = b.contentModificationDate ? b.contentModificationDate->timeIntervalSince1970() : 0;
            return da < db;
        });
        for (const auto& entry : kept) {
            if (fileManager_->removeItemAtPath(entry.path)) {
                currentSize -= std::min<std::uint64_t>(currentSize, entry.totalFileAllocatedSize);
                if (currentSize < target) break;
            }
        }
    }

    // Temporary files that outlived their write belong to a process that died mid-write.
    std::string incoming = incomingPath();
    // File times are real time, whatever clock the platform runs on.
    double now = static_cast<double>(std::time(nullptr));
    auto leftovers = fileManager_->enumeratorAtURL(incoming);
    while (auto entry = leftovers->nextEntry()) {
        if (entry->isDirectory) continue;
        double modified =
            entry->contentModificationDate ? entry->contentModificationDate->timeIntervalSince1970() : 0;
        if (std::abs(now - modified) > kStaleIncomingSeconds) fileManager_->removeItemAtPath(entry->path);
    }
}

void WIImageCache::backgroundCleanDisk() {
    auto application = UIApplication::sharedApplication();
    if (!application) return;
    // Both the expiration handler and the clean's completion end the same task, once.
    auto task = std::make_shared<std::atomic<UIBackgroundTaskIdentifier>>(UIBackgroundTaskInvalid);
    Weak<UIApplication> weakApplication = application;
    auto finish = [task, weakApplication] {
        UIBackgroundTaskIdentifier id = task->exchange(UIBackgroundTaskInvalid);
        auto app = weakApplication.lock();
        if (app && id != UIBackgroundTaskInvalid) app->endBackgroundTask(id);
    };
    task->store(application->beginBackgroundTaskWithExpirationHandler(finish));
    cleanDiskWithCompletionBlock(finish);
}

std::uint64_t WIImageCache::getSize() {
    std::uint64_t size = 0;
    dispatch_sync(ioQueue_, [this, &size] {
        auto walk = NSFileManager::defaultManager()->enumeratorAtPath(diskCachePath());
        while (auto entry = walk->nextEntry()) size += entry->fileSize;
    });
    return size;
}

std::uint64_t WIImageCache::getDiskCount() {
    std::uint64_t count = 0;
    dispatch_sync(ioQueue_, [this, &count] {
        auto walk = NSFileManager::defaultManager()->enumeratorAtPath(diskCachePath());
        while (walk->nextObject()) ++count;
    });
    return count;
}

void WIImageCache::calculateSizeWithCompletionBlock(WIWebImageCalculateSizeBlock completion) {
    auto self = selfAs<WIImageCache>();
    dispatch_async(ioQueue_, [self, completion = std::move(completion)] {
        std::uint64_t count = 0, total = 0;
        auto walk = self->fileManager_->enumeratorAtURL(self->diskCachePath(),
                                                        NSDirectoryEnumerationSkipsHiddenFiles);
        while (auto entry = walk->nextEntry()) {
            if (entry->isDirectory) continue;
            ++count;
            total += entry->fileSize;
        }
        if (completion)
            dispatch_async(dispatch_get_main_queue(),
                           [completion, count, total] { completion(count, total); });
    });
}
