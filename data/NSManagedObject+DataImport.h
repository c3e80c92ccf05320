#pragma once
// Data import: decoded documents (dictionaries and arrays, typically from JSON) into managed
// objects, steered by user-info entries of the model:
//
//   attribute "mappedKeyName"           key path of the value in the document (else the name);
//             "mappedKeyName.1" ... ".9" further key paths, tried in turn;
//             "attributeValueClassName" no conversion by type (a name ending in "Color" reads
//                                       an "rgba(r,g,b,a)" text as a colour);
//             "dateFormat"              the format of date texts ("UnixTime": numbers are ms);
//             "useDefaultValueWhenNotPresent"  a missing value sets the model default;
//   entity    "relatedByAttribute"      the attribute that identifies an existing object
//                                       (else entityName with a lower-case first letter + "ID");
//   relationship "mappedKeyName", "relatedByAttribute"  the same for related data.
//
// A managed-object class may take part through methods it registers by name: "shouldImport:",
// "willImport:", "didImport:", "import<Key>:" (replaces the handling of that key; answering NO
// falls back to it) and "shouldImport<Relationship>:". Related objects are found by their
// identifying attribute (one fetch each) or created, and attached with "set<Name>:" or
// "add<Name>Object:" (an ordered relationship through its "<name>Set").

#include <array>
#include <functional>
#include <optional>
#include <string>

#include "coredata/NSManagedObjectContext.h"
#include "foundation/Value.h"
#include "graphics/UIColor.h"

std::string DRCapitalizeFirstLetter(const std::string& text);
std::string DRPrimaryKeyNameFromEntityName(const std::string& entityName);
// GMT, the current locale; nullopt when the text does not parse.
std::optional<NSDate> DRDateFromStringWithFormat(const std::string& text, const std::string& format);
NSDate DRDateFromNumber(double number, bool isMilliseconds);
// The text's numeric reading as a double (0 without a number).
Value DRNumberFromString(const std::string& text);

// Up to four integers of an "rgba(...)" text. Slots the text does not fill are 0 for the colour
// and 1 for alpha, so "rgba(255,0,0)" is opaque red.
struct DRColorComponents {
    bool valid = false;
    std::array<int, 4> slots{0, 0, 0, 1};
    int count = 0;
};
DRColorComponents DRScanColorComponents(const std::string& text);
Ref<UIColor> DRColorFromString(const std::string& text);

namespace NSString_DataRecord_DataImport {
std::string DR_capitalizedFirstCharacterString(const std::string& text);
}

namespace NSDictionary_Merging {
// A mutable copy of `receiver` with every entry of `other` (which wins on equal keys).
Dictionary DR_dictionaryByMergingDictionary(const Dictionary& receiver, const Dictionary& other);
}  // namespace NSDictionary_Merging

namespace NSEntityDescription_DataRecord_DataImport {
Ref<NSAttributeDescription> DR_attributeDescriptionForName(const Ref<NSEntityDescription>& entity,
                                                           const std::string& name);
Ref<NSAttributeDescription> DR_primaryAttributeToRelateBy(const Ref<NSEntityDescription>& entity);
Ref<NSManagedObject> DR_createInstanceInContext(const Ref<NSEntityDescription>& entity,
                                                const Ref<NSManagedObjectContext>& context);
}  // namespace NSEntityDescription_DataRecord_DataImport

namespace NSAttributeDescription_DataRecord_DataImport {
std::optional<std::string> DR_primaryKey(const Ref<NSAttributeDescription>& attribute);
// The document's value at the key path, converted for the attribute (nil for JSON null).
Value DR_valueForKeyPath(const Ref<NSAttributeDescription>& attribute, const std::string& keyPath,
                         const Value& document);
}  // namespace NSAttributeDescription_DataRecord_DataImport

namespace NSRelationshipDescription_DataRecord_DataImport {
std::string DR_primaryKey(const Ref<NSRelationshipDescription>& relationship);
}

// The document side: any decoded value (a bare string or number stands for the identifying
// value of a related object).
namespace NSObject_DataRecord_DataImport {
std::optional<std::string> DR_lookupKeyForAttribute(const Value& document,
                                                    const Ref<NSAttributeDescription>& attribute);
Value DR_valueForAttribute(const Value& document, const Ref<NSAttributeDescription>& attribute);
std::optional<std::string> DR_lookupKeyForRelationship(const Value& document,
                                                       const Ref<NSRelationshipDescription>& relationship);
Value DR_relatedValueForRelationship(const Value& document,
                                     const Ref<NSRelationshipDescription>& relationship);
// A "."-separated key path read through dictionaries; nil elsewhere.
Value DR_valueForKeyPath(const Value& document, const std::string& keyPath);
}  // namespace NSObject_DataRecord_DataImport

namespace NSManagedObject_DataRecord_DataImport {
using RelationshipBlock =
    std::function<void(const Ref<NSRelationshipDescription>& relationship, const Value& data)>;

Ref<NSManagedObject> DR_importFromObject(const NSManagedObjectClass* cls, const Value& document,
                                         const Ref<NSManagedObjectContext>& context);
Ref<NSManagedObject> DR_importFromObject(const NSManagedObjectClass* cls, const Value& document);
Array DR_importFromArray(const NSManagedObjectClass* cls, const Value& documents,
                         const Ref<NSManagedObjectContext>& context);
Array DR_importFromArray(const NSManagedObjectClass* cls, const Value& documents);

bool DR_importValuesForKeysWithObject(const Ref<NSManagedObject>& object, const Value& document);
bool DR_performDataImportFromObject(const Ref<NSManagedObject>& object, const Value& document,
                                    const RelationshipBlock& relationshipBlock);
bool DR_preImport(const Ref<NSManagedObject>& object, const Value& document);
bool DR_postImport(const Ref<NSManagedObject>& object, const Value& document);
bool DR_importValue(const Ref<NSManagedObject>& object, const Value& value, const std::string& key);
void DR_setAttributes(const Ref<NSManagedObject>& object,
                      const NSDescriptionMap<NSAttributeDescription>& attributes, const Value& document);
void DR_setRelationships(const Ref<NSManagedObject>& object,
                         const NSDescriptionMap<NSRelationshipDescription>& relationships,
                         const Value& document, const RelationshipBlock& block);
Ref<NSManagedObject> DR_findObjectForRelationship(const Ref<NSManagedObject>& object,
                                                  const Ref<NSRelationshipDescription>& relationship,
                                                  const Value& data);
void DR_addObject(const Ref<NSManagedObject>& object, const Ref<NSManagedObject>& related,
                  const Ref<NSRelationshipDescription>& relationship);
}  // namespace NSManagedObject_DataRecord_DataImport
