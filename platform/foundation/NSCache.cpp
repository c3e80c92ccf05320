#include "foundation/NSCache.h"

Value NSCache::objectForKey(const std::string& key) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = index_.find(key);
    if (it == index_.end()) return Value();
    entries_.splice(entries_.begin(), entries_, it->second);
    return it->second->object;
}

void NSCache::setObject(const std::string& key, Value object, std::size_t cost) {
    if (object.isNil()) {
        removeObjectForKey(key);
        return;
    }
    List released;  // destroyed after the lock is released
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = index_.find(key);
        if (it != index_.end()) {
            Entry& entry = *it->second;
            totalCost_ -= entry.cost;
            std::swap(entry.object, object);  // the old value leaves with `object`
            entry.cost = cost;
            totalCost_ += cost;
            entries_.splice(entries_.begin(), entries_, it->second);
        } else {
            entries_.push_front(Entry{key, std::move(object), cost});
            index_.emplace(key, entries_.begin());
            totalCost_ += cost;
        }
        trimLocked(released);
    }
}

void NSCache::removeObjectForKey(const std::string& key) {
    List released;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = index_.find(key);
        if (it == index_.end()) return;
        totalCost_ -= it->second->cost;
        released.splice(released.end(), entries_, it->second);
        index_.erase(it);
    }
}

void NSCache::removeAllObjects() {
    List released;
    {
        std::lock_guard<std::mutex> guard(lock_);
        released.swap(entries_);
        index_.clear();
        totalCost_ = 0;
    }
}

void NSCache::trimLocked(List& evicted) {
    while (!entries_.empty() && ((totalCostLimit_ > 0 && totalCost_ > totalCostLimit_) ||
                                 (countLimit_ > 0 && entries_.size() > countLimit_))) {
        auto last = std::prev(entries_.end());
        totalCost_ -= last->cost;
        index_.erase(last->key);
        evicted.splice(evicted.end(), entries_, last);
    }
}

std::string NSCache::name() const {
    std::lock_guard<std::mutex> guard(lock_);
    return name_;
}

void NSCache::setName(std::string name) {
    std::lock_guard<std::mutex> guard(lock_);
    name_ = std::move(name);
}

std::size_t NSCache::totalCostLimit() const {
    std::lock_guard<std::mutex> guard(lock_);
    return totalCostLimit_;
}

void NSCache::setTotalCostLimit(std::size_t limit) {
    List released;
    {
        std::lock_guard<std::mutex> guard(lock_);
        totalCostLimit_ = limit;
        trimLocked(released);
    }
}

std::size_t NSCache::countLimit() const {
    std::lock_guard<std::mutex> guard(lock_);
    return countLimit_;
}

void NSCache::setCountLimit(std::size_t limit) {
    List released;
    {
        std::lock_guard<std::mutex> guard(lock_);
        countLimit_ = limit;
        trimLocked(released);
    }
}

std::size_t NSCache::count() const {
    std::lock_guard<std::mutex> guard(lock_);
    return entries_.size();
}

std::size_t NSCache::totalCost() const {
    std::lock_guard<std::mutex> guard(lock_);
    return totalCost_;
}
