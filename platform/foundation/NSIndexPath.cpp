#include "foundation/NSIndexPath.h"

#include <algorithm>
#include <cstdio>

#include "foundation/Value.h"

std::size_t NSIndexPath::indexAtPosition(std::size_t position) const {
    return position < indexes_.size() ? indexes_[position] : NSNotFound;
}

Ref<NSIndexPath> NSIndexPath::indexPathByAddingIndex(std::size_t index) const {
    auto indexes = indexes_;
    indexes.push_back(index);
    return make<NSIndexPath>(std::move(indexes));
}

Ref<NSIndexPath> NSIndexPath::indexPathByRemovingLastIndex() const {
    auto indexes = indexes_;
    if (!indexes.empty()) indexes.pop_back();
    return make<NSIndexPath>(std::move(indexes));
}

int NSIndexPath::compare(const NSIndexPath& other) const {
    std::size_t n = std::min(indexes_.size(), other.indexes_.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (indexes_[i] != other.indexes_[i]) return indexes_[i] < other.indexes_[i] ? -1 : 1;
    }
    if (indexes_.size() == other.indexes_.size()) return 0;
    return indexes_.size() < other.indexes_.size() ? -1 : 1;
}

std::string NSIndexPath::description() const {
    char head[64];
    std::snprintf(head, sizeof head,
                  "<NSIndexPath: %p> {length = %zu, path = ", static_cast<const void*>(this),
                  indexes_.size());
    std::string out = head;
    for (std::size_t i = 0; i < indexes_.size(); ++i) {
        if (i) out += " - ";
        out += std::to_string(indexes_[i]);
    }
    return out + "}";
}

bool NSIndexPath::isEqual(const NSObject& other) const {
    auto o = dynamic_cast<const NSIndexPath*>(&other);
    return o && *o == *this;
}

std::size_t NSIndexPath::hash() const {
    std::size_t h = indexes_.size();
    for (auto i : indexes_) h = h * 1000003u ^ i;
    return h;
}

bool NSIndexPath::Less::operator()(const Ref<NSIndexPath>& a, const Ref<NSIndexPath>& b) const {
    if (!a || !b) return !a && b;
    return a->compare(*b) < 0;
}
