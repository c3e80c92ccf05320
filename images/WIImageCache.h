#pragma once
// The two-level store of remote pictures: a memory level of decoded, display-ready images and a
// disk folder of the encoded bytes, both keyed by a string (a picture's URL text, by contract).
//
// Guarantees:
// - Disk files are named by the MD5 of the key (32 lower-case hex digits, no extension) and hold
//   the encoded bytes only. A file is written to a temporary file first and renamed into place,
//   so a crash mid-write never leaves a torn picture under a key's name; leftovers of such a
//   crash are swept by the next clean.
// - Every write, delete, clean, clear, asynchronous existence test, size calculation and query
//   disk read runs on one serial I/O queue, in submission order: a store followed by a query
//   for the same key finds the file.
// - The memory level is safe from any thread. Synchronous disk reads (imageFromDiskCacheForKey,
//   diskImageExistsWithKey) run on the caller's thread. getSize and getDiskCount wait for the
//   I/O queue and must not be called from it.
// - Asynchronous completions run on the main queue; answers known at once (memory hits, nil
//   keys, removals that leave the disk alone) run on the caller's thread.
// - Nothing reports an error: unreadable or undecodable files are misses, failed writes and
//   deletes are ignored. Read-only folders added with addReadOnlyCachePath are searched after
//   the own folder and never written, removed or cleaned.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/Dispatch.h"
#include "foundation/NSCache.h"
#include "foundation/NSData.h"
#include "foundation/NSFileManager.h"
#include "foundation/NSObject.h"
#include "foundation/NSOperation.h"
#include "graphics/UIImage.h"

// Where a query found its picture.
enum WICacheSource : long {
    WICacheSourceNone = 0,
    WICacheSourceDisk = 1,
    WICacheSourceMemory = 2,
};

using WIWebImageQueryCompletedBlock = std::function<void(const Ref<UIImage>& image, WICacheSource source)>;
using WIWebImageCheckCacheCompletionBlock = std::function<void(bool isInCache)>;
using WIWebImageCalculateSizeBlock = std::function<void(std::uint64_t fileCount, std::uint64_t totalSize)>;
using WIWebImageNoParamsBlock = std::function<void()>;

class WIImageCache : public NSObject {
  public:
    // The namespace "default".
    WIImageCache();
    explicit WIImageCache(const std::string& ns);
    ~WIImageCache() override;
    void didInit();
    std::string className() const override { return "WIImageCache"; }

    // The process-wide cache, namespace "default".
    static Ref<WIImageCache> sharedImageCache();

    void addReadOnlyCachePath(const std::string& path);
    std::string cachePathForKey(const std::optional<std::string>& key, const std::string& path) const;
    std::string defaultCachePathForKey(const std::optional<std::string>& key) const;
    // MD5 of the key's UTF-8 bytes as 32 lower-case hex digits; a nil key hashes as "".
    static std::string cachedFileNameForKey(const std::optional<std::string>& key);

    // Memory now; disk (when toDisk) on the I/O queue: data as given unless it is absent or
    // recalculate asks for a fresh encoding (PNG when the data is PNG or absent, else JPEG 1.0).
    void storeImage(const Ref<UIImage>& image, bool recalculate, const std::optional<NSData>& imageData,
                    const std::optional<std::string>& key, bool toDisk);
    void storeImage(const Ref<UIImage>& image, const std::optional<std::string>& key) {
        storeImage(image, true, std::nullopt, key, true);
    }
    void storeImage(const Ref<UIImage>& image, const std::optional<std::string>& key, bool toDisk) {
        storeImage(image, true, std::nullopt, key, toDisk);
    }

    // The default file exists (caller's thread, default file manager; read-only folders not
    // searched).
    bool diskImageExistsWithKey(const std::optional<std::string>& key) const;
    // The same test on the I/O queue; the answer on the main queue.
    void diskImageExistsWithKey(const std::optional<std::string>& key,
                                WIWebImageCheckCacheCompletionBlock completion);

    Ref<UIImage> imageFromMemoryCacheForKey(const std::optional<std::string>& key);
    // Memory, else disk (the disk image is then put into memory); caller's thread.
    Ref<UIImage> imageFromDiskCacheForKey(const std::optional<std::string>& key);
    // The own file, else the first readable file in the read-only folders, in order.
    std::optional<NSData> diskImageDataBySearchingAllPathsForKey(const std::optional<std::string>& key) const;
    // Decoded, scaled by the key and force-decoded; does not touch memory.
    Ref<UIImage> diskImageForKey(const std::optional<std::string>& key) const;
    Ref<UIImage> scaledImageForKey(const std::optional<std::string>& key, const Ref<UIImage>& image) const;

    // Memory hit or nil key: done now (source 2 or 0), no operation. Otherwise a disk read on the
    // I/O queue and done on the main queue (source 1, found or not); cancelling the returned
    // operation before the read starts suppresses done. A null done does nothing.
    Ref<NSOperation> queryDiskCacheForKey(const std::optional<std::string>& key,
                                          WIWebImageQueryCompletedBlock done);

    // Removal from memory, and from the own folder (on the I/O queue) unless fromDisk is false.
    void removeImageForKey(const std::optional<std::string>& key) {
        removeImageForKey(key, true, WIWebImageNoParamsBlock());
    }
    void removeImageForKeyWithCompletion(const std::optional<std::string>& key,
                                         WIWebImageNoParamsBlock completion) {
        removeImageForKey(key, true, std::move(completion));
    }
    void removeImageForKey(const std::optional<std::string>& key, bool fromDisk) {
        removeImageForKey(key, fromDisk, WIWebImageNoParamsBlock());
    }
    void removeImageForKey(const std::optional<std::string>& key, bool fromDisk,
                           WIWebImageNoParamsBlock completion);

    // The memory level's total cost limit (width x height in points x scale per image); 0: none.
    std::size_t maxMemoryCost() const;
    void setMaxMemoryCost(std::size_t cost);
    void clearMemory();

    // Deletes and recreates the own folder.
    void clearDisk() { clearDiskOnCompletion(WIWebImageNoParamsBlock()); }
    void clearDiskOnCompletion(WIWebImageNoParamsBlock completion);
    // Deletes files older than maxCacheAge, then, when over maxCacheSize, the oldest until the
    // total is below half of it.
    void cleanDisk() { cleanDiskWithCompletionBlock(WIWebImageNoParamsBlock()); }
    void cleanDiskWithCompletionBlock(WIWebImageNoParamsBlock completion);
    // The clean inside an application background task.
    void backgroundCleanDisk();

    std::uint64_t getSize();
    std::uint64_t getDiskCount();
    void calculateSizeWithCompletionBlock(WIWebImageCalculateSizeBlock completion);

    std::int64_t maxCacheAge() const { return maxCacheAge_.load(); }
    void setMaxCacheAge(std::int64_t seconds) { maxCacheAge_.store(seconds); }
    std::uint64_t maxCacheSize() const { return maxCacheSize_.load(); }
    void setMaxCacheSize(std::uint64_t bytes) { maxCacheSize_.store(bytes); }
    const Ref<NSCache>& memCache() const { return memCache_; }
    std::string diskCachePath() const;
    // Moves the own folder (tests and tools point a cache at a folder of their own).
    void setDiskCachePath(const std::string& path);
    std::vector<std::string> customPaths() const;
    const dispatch_queue_t& ioQueue() const { return ioQueue_; }

    // The folder of temporary files being written, beside the own folder.
    std::string incomingPath() const;

  private:
    static std::size_t costForImage(const Ref<UIImage>& image);
    // On the I/O queue.
    void writeDataToDisk(const NSData& data, const std::string& key);
    void cleanOnIOQueue();

    Ref<NSFileManager> fileManager_;  // made and used on the I/O queue only
    std::atomic<std::int64_t> maxCacheAge_{604800};
    std::atomic<std::uint64_t> maxCacheSize_{0};
    Ref<NSCache> memCache_;
    mutable std::mutex pathsLock_;  // guards the two paths below
    std::string diskCachePath_;
    std::vector<std::string> customPaths_;
    dispatch_queue_t ioQueue_;
};
