#pragma once
// RMPropertyKey: one step of the key path by which a property reads its JSON value: a
// dictionary key, or an array index (the decimal text of it). "data.list[0][1].name" is the
// steps data, list, 0, 1, name.

#include <memory>
#include <string>
#include <vector>

#include "foundation/NSObject.h"
#include "foundation/Value.h"

enum RMPropertyKeyType : int {
    RMPropertyKeyTypeDictionary = 0,
    RMPropertyKeyTypeArray = 1,
};

class RMPropertyKey : public NSObject {
  public:
    RMPropertyKey() = default;
    RMPropertyKey(std::string name, RMPropertyKeyType type) : name_(std::move(name)), type_(type) {}

    const std::string& name() const { return name_; }
    void setName(std::string name) { name_ = std::move(name); }
    RMPropertyKeyType type() const { return type_; }
    void setType(RMPropertyKeyType type) { type_ = type; }
    // The integer value of the name, for an array step ("abc" reads as 0).
    long index() const;

    // A key step on a dictionary gives its entry; an index step on a non-empty array gives the
    // element (nil past the end); anything else gives nil.
    Value valueInObject(const Value& object) const;

    std::string className() const override { return "RMPropertyKey"; }
    std::string description() const override;

  private:
    std::string name_;
    RMPropertyKeyType type_ = RMPropertyKeyTypeDictionary;
};

// A parsed key path; shared by every property and class that uses the same key text.
using RMPropertyKeyPath = std::shared_ptr<const std::vector<Ref<RMPropertyKey>>>;

namespace detail {
// Parses a key text into steps, through the process-wide cache (one parse per distinct text).
// An empty text gives nullptr.
RMPropertyKeyPath rmParsedKeyPath(const std::string& key);
}  // namespace detail
