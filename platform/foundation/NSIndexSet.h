#pragma once
// Sets of unsigned indexes, kept as sorted, disjoint, non-touching ranges, so a set of a
// hundred thousand consecutive indexes costs one range. Iteration is always in ascending order.
// Indexes run from 0 to NSNotFound - 1; ranges reaching further are cut there.
//
// NSIndexSet is immutable and may be shared between threads; NSMutableIndexSet belongs to one
// thread at a time, as the platform's mutable collections do.
//
// Ranges are given as (location, length); an overload takes any range type with `location` and
// `length` members.

#include <cstddef>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "foundation/NSObject.h"
#include "foundation/Value.h"

class NSIndexSet : public NSObject {
  public:
    struct Range {
        std::size_t location = 0;
        std::size_t length = 0;
        bool operator==(const Range&) const = default;
    };

    NSIndexSet() = default;
    NSIndexSet(std::size_t location, std::size_t length);
    explicit NSIndexSet(std::vector<Range> normalisedRanges) : ranges_(std::move(normalisedRanges)) {}

    static Ref<NSIndexSet> indexSet() { return make<NSIndexSet>(); }
    static Ref<NSIndexSet> indexSetWithIndex(std::size_t index) { return make<NSIndexSet>(index, 1); }
    static Ref<NSIndexSet> indexSetWithIndexesInRange(std::size_t location, std::size_t length) {
        return make<NSIndexSet>(location, length);
    }
    template <class R, class = decltype(std::declval<const R&>().location + std::declval<const R&>().length)>
    static Ref<NSIndexSet> indexSetWithIndexesInRange(const R& range) {
        return make<NSIndexSet>(static_cast<std::size_t>(range.location),
                                static_cast<std::size_t>(range.length));
    }
    // A set holding the same indexes (nullptr gives an empty set).
    static Ref<NSIndexSet> indexSetWithIndexSet(const Ref<NSIndexSet>& other) {
        return make<NSIndexSet>(other ? other->ranges_ : std::vector<Range>());
    }

    std::size_t count() const;
    bool empty() const { return ranges_.empty(); }
    // NSNotFound when the set is empty.
    std::size_t firstIndex() const;
    std::size_t lastIndex() const;
    bool containsIndex(std::size_t index) const;
    bool containsIndexesInRange(std::size_t location, std::size_t length) const;
    bool containsIndexes(const NSIndexSet& other) const;
    bool intersectsIndexesInRange(std::size_t location, std::size_t length) const;
    std::size_t countOfIndexesInRange(std::size_t location, std::size_t length) const;

    // Neighbours of an index within the set; NSNotFound when there is none.
    std::size_t indexGreaterThanIndex(std::size_t index) const;
    std::size_t indexGreaterThanOrEqualToIndex(std::size_t index) const;
    std::size_t indexLessThanIndex(std::size_t index) const;
    std::size_t indexLessThanOrEqualToIndex(std::size_t index) const;

    // Ascending; setting *stop ends the walk.
    void enumerateIndexesUsingBlock(const std::function<void(std::size_t index, bool* stop)>& block) const;
    void enumerateRangesUsingBlock(
        const std::function<void(std::size_t location, std::size_t length, bool* stop)>& block) const;
    const std::vector<Range>& ranges() const { return ranges_; }
    std::vector<std::size_t> allIndexes() const;

    class const_iterator {
      public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = std::size_t;
        using difference_type = std::ptrdiff_t;
        using pointer = const std::size_t*;
        using reference = std::size_t;

        const_iterator() = default;
        std::size_t operator*() const { return (*ranges_)[range_].location + offset_; }
        const_iterator& operator++();
        const_iterator operator++(int) {
            auto copy = *this;
            ++*this;
            return copy;
        }
        bool operator==(const const_iterator& other) const {
            return range_ == other.range_ && offset_ == other.offset_;
        }

      private:
        friend class NSIndexSet;
        const_iterator(const std::vector<Range>* ranges, std::size_t range)
            : ranges_(ranges), range_(range) {}
        const std::vector<Range>* ranges_ = nullptr;
        std::size_t range_ = 0;
        std::size_t offset_ = 0;
    };
    const_iterator begin() const { return const_iterator(&ranges_, 0); }
    const_iterator end() const { return const_iterator(&ranges_, ranges_.size()); }

    bool isEqualToIndexSet(const NSIndexSet& other) const { return ranges_ == other.ranges_; }
    Ref<class NSMutableIndexSet> mutableCopy() const;

    std::string className() const override { return "NSIndexSet"; }
    // "<NSIndexSet: 0x...>[number of indexes: 4 (in 2 ranges), indexes: (1-3 7)]"
    std::string description() const override;
    bool isEqual(const NSObject& other) const override;
    std::size_t hash() const override;
    Ref<NSObject> copyObject() const override { return make<NSIndexSet>(ranges_); }

  protected:
    // The first range whose end lies beyond index (ranges_.size() when none).
    std::size_t rangeAfter(std::size_t index) const;
    std::vector<Range> ranges_;
};

class NSMutableIndexSet : public NSIndexSet {
  public:
    using NSIndexSet::NSIndexSet;

    static Ref<NSMutableIndexSet> indexSet() { return make<NSMutableIndexSet>(); }
    static Ref<NSMutableIndexSet> indexSetWithIndex(std::size_t index) {
        return make<NSMutableIndexSet>(index, 1);
    }
    static Ref<NSMutableIndexSet> indexSetWithIndexesInRange(std::size_t location, std::size_t length) {
        return make<NSMutableIndexSet>(location, length);
    }

    void addIndex(std::size_t index) { addIndexesInRange(index, 1); }
    void addIndexesInRange(std::size_t location, std::size_t length);
    template <class R, class = decltype(std::declval<const R&>().location + std::declval<const R&>().length)>
    void addIndexesInRange(const R& range) {
        addIndexesInRange(static_cast<std::size_t>(range.location), static_cast<std::size_t>(range.length));
    }
    void addIndexes(const NSIndexSet& other);
    void removeIndex(std::size_t index) { removeIndexesInRange(index, 1); }
    void removeIndexesInRange(std::size_t location, std::size_t length);
    void removeIndexes(const NSIndexSet& other);
    void removeAllIndexes() { ranges_.clear(); }
    // Moves every index at or above `index` by delta (negative moves down). Moving down removes
    // the indexes in [index + delta, index) first, as rows deleted above would; indexes pushed
    // below zero or past the last index are dropped.
    void shiftIndexesStartingAtIndex(std::size_t index, long delta);

    std::string className() const override { return "NSMutableIndexSet"; }
    Ref<NSObject> copyObject() const override { return make<NSIndexSet>(ranges_); }
};
