#pragma once
// The URL cache: responses with their bodies, kept in memory and on disk within capacities,
// keyed by the request's URL (without fragment).
//
// Storage: a memory map (least recently used goes first when over capacity) and, under the
// cache's directory, one file per body plus an SQLite index holding each entry's response,
// size and last use. A relative or absent disk path lives under the sandbox's Library/Caches.
// The disk part is opened on first use. A damaged index is set aside and rebuilt empty; a
// damaged or missing body file, or an index row that does not read back, is a miss (and the
// entry is dropped) — never a crash.
//
// What gets stored is decided by whoever stores: the connection offers cacheable replies
// (see NSURLConnection) and respects the storage policy (memory only, or not at all).
//
// Thread safety: every member may be called from any thread.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "foundation/NSData.h"
#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"
#include "network/NSURLRequest.h"
#include "network/NSURLResponse.h"

enum NSURLCacheStoragePolicy : NSUInteger {
    NSURLCacheStorageAllowed = 0,
    NSURLCacheStorageAllowedInMemoryOnly = 1,
    NSURLCacheStorageNotAllowed = 2,
};

class NSCachedURLResponse : public NSObject, public NSSecureCoding {
  public:
    NSCachedURLResponse(Ref<NSURLResponse> response, NSData data, Dictionary userInfo = Dictionary(),
                        NSURLCacheStoragePolicy storagePolicy = NSURLCacheStorageAllowed);
    explicit NSCachedURLResponse(NSCoder& coder);
    static bool supportsSecureCoding() { return true; }

    const Ref<NSURLResponse>& response() const { return response_; }
    const NSData& data() const { return data_; }
    const Dictionary& userInfo() const { return userInfo_; }
    NSURLCacheStoragePolicy storagePolicy() const { return storagePolicy_; }

    std::string className() const override { return "NSCachedURLResponse"; }
    void encodeWithCoder(NSCoder& coder) const override;

  private:
    Ref<NSURLResponse> response_;
    NSData data_;
    Dictionary userInfo_;
    NSURLCacheStoragePolicy storagePolicy_;
};

class NSURLCache : public NSObject {
  public:
    NSURLCache(NSUInteger memoryCapacity, NSUInteger diskCapacity, std::optional<std::string> diskPath);
    ~NSURLCache() override;
    std::string className() const override { return "NSURLCache"; }

    // The process's cache; a 512 KiB / 10 MiB one under Library/Caches until one is set.
    static Ref<NSURLCache> sharedURLCache();
    static void setSharedURLCache(Ref<NSURLCache> cache);

    // nullptr when nothing is stored for the request's URL (or it no longer reads back).
    Ref<NSCachedURLResponse> cachedResponseForRequest(const Ref<NSURLRequest>& request);
    void storeCachedResponse(const Ref<NSCachedURLResponse>& cachedResponse,
                             const Ref<NSURLRequest>& request);
    void removeCachedResponseForRequest(const Ref<NSURLRequest>& request);
    void removeAllCachedResponses();

    NSUInteger memoryCapacity() const;
    NSUInteger diskCapacity() const;
    // Lowering a capacity evicts at once.
    void setMemoryCapacity(NSUInteger capacity);
    void setDiskCapacity(NSUInteger capacity);
    NSUInteger currentMemoryUsage() const;
    NSUInteger currentDiskUsage() const;
    // The directory of the disk part.
    const std::string& diskPath() const { return directory_; }

  private:
    struct Impl;
    std::string directory_;
    std::unique_ptr<Impl> impl_;
};
