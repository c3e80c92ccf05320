#include "foundation/NSIndexSet.h"

#include <algorithm>
#include <cstdio>

namespace {

// Clamps a range to the representable indexes [0, NSNotFound); answers its exclusive end.
std::size_t clampedEnd(std::size_t location, std::size_t length) {
    if (location >= NSNotFound) return location;
    std::size_t room = NSNotFound - location;
    return location + std::min(length, room);
}

}  // namespace

NSIndexSet::NSIndexSet(std::size_t location, std::size_t length) {
    std::size_t end = clampedEnd(location, length);
    if (end > location) ranges_.push_back({location, end - location});
}

std::size_t NSIndexSet::count() const {
    std::size_t n = 0;
    for (auto& r : ranges_) n += r.length;
    return n;
}

std::size_t NSIndexSet::firstIndex() const {
    return ranges_.empty() ? NSNotFound : ranges_.front().location;
}

std::size_t NSIndexSet::lastIndex() const {
    return ranges_.empty() ? NSNotFound : ranges_.back().location + ranges_.back().length - 1;
}

std::size_t NSIndexSet::rangeAfter(std::size_t index) const {
    // Ranges are sorted by location and disjoint, so their ends are sorted too.
    auto it = std::upper_bound(ranges_.begin(), ranges_.end(), index,
                               [](std::size_t i, const Range& r) { return i < r.location + r.length; });
    return static_cast<std::size_t>(it - ranges_.begin());
}

bool NSIndexSet::containsIndex(std::size_t index) const {
    std::size_t i = rangeAfter(index);
    return i < ranges_.size() && ranges_[i].location <= index;
}

bool NSIndexSet::containsIndexesInRange(std::size_t location, std::size_t length) const {
    std::size_t end = clampedEnd(location, length);
    if (end <= location) return false;
    std::size_t i = rangeAfter(location);
    return i < ranges_.size() && ranges_[i].location <= location &&
           ranges_[i].location + ranges_[i].length >= end;
}

bool NSIndexSet::containsIndexes(const NSIndexSet& other) const {
    for (auto& r : other.ranges_) {
        if (!containsIndexesInRange(r.location, r.length)) return false;
    }
    return true;
}

bool NSIndexSet::intersectsIndexesInRange(std::size_t location, std::size_t length) const {
    return countOfIndexesInRange(location, length) > 0;
}

std::size_t NSIndexSet::countOfIndexesInRange(std::size_t location, std::size_t length) const {
    std::size_t end = clampedEnd(location, length);
    std::size_t n = 0;
    for (std::size_t i = rangeAfter(location); i < ranges_.size() && ranges_[i].location < end; ++i) {
        std::size_t a = std::max(location, ranges_[i].location);
        std::size_t b = std::min(end, ranges_[i].location + ranges_[i].length);
        if (b > a) n += b - a;
    }
    return n;
}

std::size_t NSIndexSet::indexGreaterThanOrEqualToIndex(std::size_t index) const {
    std::size_t i = rangeAfter(index);
    if (i >= ranges_.size()) return NSNotFound;
    return std::max(index, ranges_[i].location);
}

std::size_t NSIndexSet::indexGreaterThanIndex(std::size_t index) const {
    if (index >= NSNotFound - 1) return NSNotFound;
    return indexGreaterThanOrEqualToIndex(index + 1);
}

std::size_t NSIndexSet::indexLessThanOrEqualToIndex(std::size_t index) const {
    std::size_t i = rangeAfter(index);
    if (i < ranges_.size() && ranges_[i].location <= index) return index;
    if (i == 0) return NSNotFound;
    const Range& before = ranges_[i - 1];
    return before.location + before.length - 1;
}

std::size_t NSIndexSet::indexLessThanIndex(std::size_t index) const {
    if (index == 0) return NSNotFound;
    return indexLessThanOrEqualToIndex(index - 1);
}

void NSIndexSet::enumerateIndexesUsingBlock(const std::function<void(std::size_t, bool*)>& block) const {
    if (!block) return;
    bool stop = false;
    for (auto& r : ranges_) {
        for (std::size_t i = r.location; i < r.location + r.length; ++i) {
            block(i, &stop);
            if (stop) return;
        }
    }
}

void NSIndexSet::enumerateRangesUsingBlock(
    const std::function<void(std::size_t, std::size_t, bool*)>& block) const {
    if (!block) return;
    bool stop = false;
    for (auto& r : ranges_) {
        block(r.location, r.length, &stop);
        if (stop) return;
    }
}

std::vector<std::size_t> NSIndexSet::allIndexes() const {
    std::vector<std::size_t> out;
    out.reserve(count());
    for (auto i : *this) out.push_back(i);
    return out;
}

NSIndexSet::const_iterator& NSIndexSet::const_iterator::operator++() {
    if (++offset_ >= (*ranges_)[range_].length) {
        ++range_;
        offset_ = 0;
    }
    return *this;
}

Ref<NSMutableIndexSet> NSIndexSet::mutableCopy() const {
    return make<NSMutableIndexSet>(ranges_);
}

std::string NSIndexSet::description() const {
    char head[96];
    std::snprintf(head, sizeof head, "<%s: %p>[number of indexes: %zu (in %zu range%s), indexes: (",
                  className().c_str(), static_cast<const void*>(this), count(), ranges_.size(),
                  ranges_.size() == 1 ? "" : "s");
    std::string out = head;
    for (std::size_t i = 0; i < ranges_.size(); ++i) {
        if (i) out += ' ';
        out += std::to_string(ranges_[i].location);
        if (ranges_[i].length > 1) out += "-" + std::to_string(ranges_[i].location + ranges_[i].length - 1);
    }
    return out + ")]";
}

bool NSIndexSet::isEqual(const NSObject& other) const {
    auto o = dynamic_cast<const NSIndexSet*>(&other);
    return o && isEqualToIndexSet(*o);
}

std::size_t NSIndexSet::hash() const {
    std::size_t h = ranges_.size();
    for (auto& r : ranges_) h = (h * 31 + r.location) * 31 + r.length;
    return h;
}

// ---------------------------------------------------------------------------------------------

void NSMutableIndexSet::addIndexesInRange(std::size_t location, std::size_t length) {
    std::size_t end = clampedEnd(location, length);
    if (end <= location) return;
    // Every range that overlaps or touches [location, end) merges with it.
    auto first =
        std::lower_bound(ranges_.begin(), ranges_.end(), location,
                         [](const Range& r, std::size_t loc) { return r.location + r.length < loc; });
    auto last = first;
    std::size_t newStart = location, newEnd = end;
    while (last != ranges_.end() && last->location <= end) {
        newStart = std::min(newStart, last->location);
        newEnd = std::max(newEnd, last->location + last->length);
        ++last;
    }
    first = ranges_.erase(first, last);
    ranges_.insert(first, Range{newStart, newEnd - newStart});
}

void NSMutableIndexSet::addIndexes(const NSIndexSet& other) {
    if (&other == this) return;
    for (auto& r : other.ranges()) addIndexesInRange(r.location, r.length);
}

void NSMutableIndexSet::removeIndexesInRange(std::size_t location, std::size_t length) {
    std::size_t end = clampedEnd(location, length);
    if (end <= location) return;
    std::vector<Range> kept;
    kept.reserve(ranges_.size() + 1);
    for (auto& r : ranges_) {
        std::size_t rEnd = r.location + r.length;
        if (rEnd <= location || r.location >= end) {
            kept.push_back(r);
            continue;
        }
        if (r.location < location) kept.push_back({r.location, location - r.location});
        if (rEnd > end) kept.push_back({end, rEnd - end});
    }
    ranges_ = std::move(kept);
}

void NSMutableIndexSet::removeIndexes(const NSIndexSet& other) {
    if (&other == this) {
        ranges_.clear();
        return;
    }
    for (auto& r : other.ranges()) removeIndexesInRange(r.location, r.length);
}

void NSMutableIndexSet::shiftIndexesStartingAtIndex(std::size_t index, long delta) {
    if (delta == 0 || index >= NSNotFound) return;
    std::vector<Range> below, above;
    for (auto& r : ranges_) {
        std::size_t rEnd = r.location + r.length;
        if (rEnd <= index) {
            below.push_back(r);
        } else if (r.location >= index) {
            above.push_back(r);
        } else {
            below.push_back({r.location, index - r.location});
            above.push_back({index, rEnd - index});
        }
    }
    if (delta < 0) {
        std::size_t down = static_cast<std::size_t>(-(delta + 1)) + 1;
        // The indexes in [index - down, index) give way to those moving down.
        ranges_ = std::move(below);
        std::size_t gapStart = index >= down ? index - down : 0;
        removeIndexesInRange(gapStart, index - gapStart);
        for (auto& r : above) {
            std::size_t start = r.location, end = r.location + r.length;
            if (end <= down) continue;
            start = start >= down ? start - down : 0;
            addIndexesInRange(start, end - down - start);
        }
    } else {
        std::size_t up = static_cast<std::size_t>(delta);
        ranges_ = std::move(below);
        for (auto& r : above) {
            if (r.location >= NSNotFound - std::min(up, NSNotFound)) continue;
            addIndexesInRange(r.location + up, r.length);
        }
    }
}
