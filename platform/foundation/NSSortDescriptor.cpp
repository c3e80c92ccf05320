#include "foundation/NSSortDescriptor.h"

#include <algorithm>

#include "foundation/NSString.h"

Value NSSortDescriptor::valueOf(const Value& object) const {
    Value current = object;
    for (const std::string& key : NSString::componentsSeparatedByString(key_, ".")) {
        if (auto obj = current.object()) {
            Value next = obj->valueForKey(key);
            current = std::move(next);
        } else if (current.isDictionary()) {
            Value next = current[key];
            current = std::move(next);
        } else {
            return Value();
        }
    }
    return current;
}

int NSSortDescriptor::compareValues(const Value& a, const Value& b) {
    bool aNone = !a.isSomething(), bNone = !b.isSomething();
    if (aNone || bNone) return aNone == bNone ? 0 : (aNone ? -1 : 1);
    if (a.isNumber() && b.isNumber()) return a.number()->compare(*b.number());
    if (a.isString() && b.isString()) {
        int order = NSString::compare(*a.string(), *b.string(), 0);
        return order < 0 ? -1 : (order > 0 ? 1 : 0);
    }
    if (a.isDate() && b.isDate()) return *a.date() < *b.date() ? -1 : (*b.date() < *a.date() ? 1 : 0);
    return 0;
}

int NSSortDescriptor::compareObject(const Value& a, const Value& b) const {
    int order = compareValues(valueOf(a), valueOf(b));
    return ascending_ ? order : -order;
}

Array NSSortDescriptor::sortedArrayUsingDescriptors(const Array& array,
                                                    const std::vector<Ref<NSSortDescriptor>>& sorts) {
    std::vector<Value> items(array.begin(), array.end());
    if (!sorts.empty()) {
        // Each key read once per element rather than once per comparison.
        std::vector<std::vector<Value>> keys(items.size());
        for (std::size_t i = 0; i < items.size(); ++i) {
            for (const auto& s : sorts) keys[i].push_back(s ? s->valueOf(items[i]) : Value());
        }
        std::vector<std::size_t> order(items.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
            for (std::size_t k = 0; k < sorts.size(); ++k) {
                if (!sorts[k]) continue;
                int c = compareValues(keys[x][k], keys[y][k]);
                if (c != 0) return sorts[k]->ascending() ? c < 0 : c > 0;
            }
            return false;
        });
        std::vector<Value> sorted;
        sorted.reserve(items.size());
        for (std::size_t i : order) sorted.push_back(items[i]);
        items = std::move(sorted);
    }
    return Array(std::move(items), true);
}

std::string NSSortDescriptor::description() const {
    return "(" + key_ + ", " + (ascending_ ? "ascending" : "descending") + ", compare:)";
}
