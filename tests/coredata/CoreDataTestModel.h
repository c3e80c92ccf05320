#pragma once
// The model the object-store tests share: owners with cars (to-many, ordered, cascade), cars
// with parts (to-many, nullify) and a garage that denies its own deletion while it has cars.

#include <string>

#include "coredata/NSManagedObjectContext.h"
#include "foundation/NSData.h"

namespace coredatatest {

inline std::string modelText(bool withColour = false, bool dropPrice = false) {
    std::string carAttributes = R"({"name": "carID", "type": "integer64"},
        {"name": "name", "type": "string"},
        {"name": "year", "type": "integer32", "defaultValue": 2000},
        {"name": "sold", "type": "boolean", "defaultValue": false},
        {"name": "built", "type": "date"})";
    if (!dropPrice) carAttributes += R"(, {"name": "price", "type": "double"})";
    if (withColour) carAttributes += R"(, {"name": "colour", "type": "string", "defaultValue": "red"})";
    return R"({"entities": [
      {"name": "Owner", "representedClassName": "Owner", "userInfo": {"relatedByAttribute": "ownerID"},
       "attributes": [{"name": "ownerID", "type": "integer64"}, {"name": "name", "type": "string"}],
       "relationships": [{"name": "cars", "destination": "Car", "inverse": "owner", "toMany": true,
                          "ordered": true, "deleteRule": "cascade"}]},
      {"name": "Car", "attributes": [)" +
           carAttributes + R"(],
       "relationships": [{"name": "owner", "destination": "Owner", "inverse": "cars"},
                         {"name": "parts", "destination": "Part", "inverse": "car", "toMany": true},
                         {"name": "garage", "destination": "Garage", "inverse": "cars"}]},
      {"name": "Part", "attributes": [{"name": "label", "type": "string"}, {"name": "weight", "type": "float"}],
       "relationships": [{"name": "car", "destination": "Car", "inverse": "parts"}]},
      {"name": "Garage", "attributes": [{"name": "city", "type": "string"}],
       "relationships": [{"name": "cars", "destination": "Car", "inverse": "garage", "toMany": true,
                          "deleteRule": "deny"}]}
    ]})";
}

inline Ref<NSManagedObjectModel> model(bool withColour = false, bool dropPrice = false) {
    return NSManagedObjectModel::modelWithData(NSData::fromString(modelText(withColour, dropPrice)));
}

}  // namespace coredatatest
