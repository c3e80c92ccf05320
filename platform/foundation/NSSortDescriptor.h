#pragma once
// Sort descriptors: a key (or key path) and a direction. Values compare the platform way:
// numbers by value, strings by NSString::compare, dates by time; nil and null come before
// everything else; values of different kinds compare equal.

#include <string>
#include <vector>

#include "foundation/NSObject.h"
#include "foundation/Value.h"

class NSSortDescriptor : public NSObject {
  public:
    NSSortDescriptor(std::string key, bool ascending) : key_(std::move(key)), ascending_(ascending) {}
    static Ref<NSSortDescriptor> sortDescriptorWithKey(std::string key, bool ascending) {
        return make<NSSortDescriptor>(std::move(key), ascending);
    }

    const std::string& key() const { return key_; }
    bool ascending() const { return ascending_; }
    // The value at the descriptor's key path: dictionaries by key, objects by valueForKey.
    Value valueOf(const Value& object) const;
    // -1, 0 or 1 for two objects, in the descriptor's direction.
    int compareObject(const Value& a, const Value& b) const;
    // The order of two values (ascending).
    static int compareValues(const Value& a, const Value& b);
    // Stable sort by the descriptors in turn.
    static Array sortedArrayUsingDescriptors(const Array& array,
                                             const std::vector<Ref<NSSortDescriptor>>& sorts);

    std::string className() const override { return "NSSortDescriptor"; }
    std::string description() const override;

  private:
    std::string key_;
    bool ascending_;
};
