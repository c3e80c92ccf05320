#pragma once
// A path of indexes into nested arrays; tables and collections use two-index paths (section,
// then row or item). Immutable. Paths order as their indexes do, position by position, a
// shorter path before a longer one that starts with it; equal paths hash alike.

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "foundation/NSObject.h"

class NSIndexPath : public NSObject {
  public:
    NSIndexPath() = default;
    explicit NSIndexPath(std::vector<std::size_t> indexes) : indexes_(std::move(indexes)) {}

    static Ref<NSIndexPath> indexPathWithIndex(std::size_t index) {
        return make<NSIndexPath>(std::vector<std::size_t>{index});
    }
    static Ref<NSIndexPath> indexPathWithIndexes(std::vector<std::size_t> indexes) {
        return make<NSIndexPath>(std::move(indexes));
    }
    static Ref<NSIndexPath> indexPathForRow(long row, long section) {
        return make<NSIndexPath>(
            std::vector<std::size_t>{static_cast<std::size_t>(section), static_cast<std::size_t>(row)});
    }
    static Ref<NSIndexPath> indexPathForItem(long item, long section) {
        return indexPathForRow(item, section);
    }

    std::size_t length() const { return indexes_.size(); }
    // NSNotFound past the end.
    std::size_t indexAtPosition(std::size_t position) const;
    const std::vector<std::size_t>& indexes() const { return indexes_; }
    // The first and second index; NSNotFound (as a long, the platform's NSIntegerMax) when the
    // path is too short.
    long section() const { return static_cast<long>(indexAtPosition(0)); }
    long row() const { return static_cast<long>(indexAtPosition(1)); }
    long item() const { return row(); }

    Ref<NSIndexPath> indexPathByAddingIndex(std::size_t index) const;
    // An empty path when the receiver has one index or none.
    Ref<NSIndexPath> indexPathByRemovingLastIndex() const;

    // -1, 0 or 1.
    int compare(const NSIndexPath& other) const;
    bool operator==(const NSIndexPath& other) const { return indexes_ == other.indexes_; }
    bool operator<(const NSIndexPath& other) const { return compare(other) < 0; }

    std::string className() const override { return "NSIndexPath"; }
    // "<NSIndexPath: 0x...> {length = 2, path = 0 - 3}"
    std::string description() const override;
    bool isEqual(const NSObject& other) const override;
    std::size_t hash() const override;
    Ref<NSObject> copyObject() const override { return make<NSIndexPath>(indexes_); }

    // For maps and sets keyed by Ref<NSIndexPath>: compare the paths, not the pointers (a null
    // Ref orders first and equals only another null).
    struct Less {
        bool operator()(const Ref<NSIndexPath>& a, const Ref<NSIndexPath>& b) const;
    };
    struct Hash {
        std::size_t operator()(const Ref<NSIndexPath>& p) const { return p ? p->hash() : 0; }
    };
    struct Equal {
        bool operator()(const Ref<NSIndexPath>& a, const Ref<NSIndexPath>& b) const {
            return a && b ? *a == *b : a == b;
        }
    };

  private:
    std::vector<std::size_t> indexes_;
};
