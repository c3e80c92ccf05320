#pragma once
// The record protocols: what a record class may implement to steer the mapping (RMKeyValue)
// and the archiving by property (RMCoding). Everything is optional; no record needs any of it,
// since the setup operations of NSObject(Property) and NSObject(RMClass) configure a class from
// outside as well.
//
// Class hooks are static member functions that the registration (app/RMRecord.h) finds on the
// record class; a subclass inherits its superclass's hooks, as a class method is inherited:
//
//     static std::vector<std::string> allowedPropertyNames();        // only these are mapped
//     static std::vector<std::string> ignoredPropertyNames();        // never mapped
//     static Dictionary replacedKeyFromPropertyName();               // property -> JSON key
//     static std::optional<std::string> replacedKeyFromPropertyName121(const std::string& name);
//     static Dictionary objectClassInArray();                        // property -> element class
//     static std::vector<std::string> allowedCodingPropertyNames();  // only these are archived
//     static std::vector<std::string> ignoredCodingPropertyNames();  // never archived
//
// A JSON key may be a key path: "data.list[0].name" reads data, then list, then element 0, then
// name. An element class is given by its name ("QVNCar") or as RMClass::classValue().
//
// Instance hooks are the virtual functions of RMKeyValue below, for a record that also derives
// from it.

#include <optional>

#include "foundation/Value.h"

class RMProperty;

class RMKeyValue {
  public:
    virtual ~RMKeyValue() = default;

    // A replacement for the JSON value about to be converted into the property (nil: keep the
    // old one). std::nullopt means "not implemented", and the class's new-value block is asked
    // instead.
    virtual std::optional<Value> newValueFromOldValue(const Value& oldValue, const RMProperty& property) {
        return std::nullopt;
    }
    // Called once a record has been filled from a dictionary.
    virtual void keyValuesDidFinishConvertingToObject() {}
    // Called once a record has been turned into a dictionary.
    virtual void objectDidFinishConvertingToKeyValues() {}
};
