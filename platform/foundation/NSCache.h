#pragma once
// A memory cache: string keys to Values (an image, data, any object), each with a cost.
//
// Guarantees:
// - Every method is safe from any thread; one lock guards the entries and the limits.
// - Limits: totalCostLimit (sum of costs) and countLimit (number of entries); 0 means none.
//   Whenever an insertion or a lowered limit leaves the cache over a limit, the least recently
//   used entries go first (a read or a write makes an entry the most recent) until the cache is
//   within its limits again; an entry that alone costs more than the limit is not kept.
// - Keys are strings, compared by value (the platform keys its caches by strings and URLs; a URL
//   is keyed by its absolute text). Values are held strongly until evicted or removed.
// - Evicted values are released after the lock is let go, so a value's destructor may use the
//   cache again.

#include <cstddef>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "foundation/NSObject.h"
#include "foundation/Value.h"

class NSCache : public NSObject {
  public:
    NSCache() = default;

    // nil when absent.
    Value objectForKey(const std::string& key);
    // Setting nil removes the key.
    void setObject(const std::string& key, Value object, std::size_t cost = 0);
    void removeObjectForKey(const std::string& key);
    void removeAllObjects();

    std::string name() const;
    void setName(std::string name);
    std::size_t totalCostLimit() const;
    void setTotalCostLimit(std::size_t limit);
    std::size_t countLimit() const;
    void setCountLimit(std::size_t limit);

    // Current contents, for diagnostics and tests.
    std::size_t count() const;
    std::size_t totalCost() const;

    std::string className() const override { return "NSCache"; }

  private:
    struct Entry {
        std::string key;
        Value object;
        std::size_t cost;
    };
    using List = std::list<Entry>;

    // Moves the entries over the limits into `evicted`; the caller holds the lock.
    void trimLocked(List& evicted);

    mutable std::mutex lock_;
    List entries_;  // most recently used first
    std::unordered_map<std::string, List::iterator> index_;
    std::size_t totalCost_ = 0;
    std::size_t totalCostLimit_ = 0;
    std::size_t countLimit_ = 0;
    std::string name_;
};
