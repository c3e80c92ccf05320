#pragma once
// Managed object models: the entities of an object graph, their attributes (typed, with
// defaults) and relationships (to-one or to-many, ordered or not, with inverses and delete
// rules), each with a user-info dictionary that helpers may read.
//
// Models are read from model files in the project's own format, a JSON document:
//
//   {"entities": [
//     {"name": "Car", "representedClassName": "Car", "userInfo": {"relatedByAttribute": "carID"},
//      "attributes": [
//        {"name": "carID", "type": "integer64", "defaultValue": 0, "optional": true, "userInfo": {}},
//        {"name": "name", "type": "string"}],
//      "relationships": [
//        {"name": "owner", "destination": "Owner", "inverse": "cars", "toMany": false,
//         "ordered": false, "deleteRule": "nullify", "userInfo": {}}]}]}
//
// Attribute types: integer16, integer32, integer64, decimal, double, float, string, boolean,
// date, binary, transformable. Delete rules: noAction, nullify (the default), cascade, deny.
// The file name's extension is "model"; merging a bundle takes every "*.model" file in it.
//
// A model is immutable once read and may be shared by any number of threads. Each entity has a
// version hash made from its name, its attributes (name and type) and relationships (name,
// destination, cardinality, order); a store remembers the hashes of the model it was made with.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/NSBundle.h"
#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/NSURL.h"
#include "foundation/Value.h"

class NSEntityDescription;
class NSManagedObjectModel;
class NSManagedObjectContext;
class NSManagedObject;
class NSExpression;

enum NSAttributeType : unsigned long {
    NSUndefinedAttributeType = 0,
    NSInteger16AttributeType = 100,
    NSInteger32AttributeType = 200,
    NSInteger64AttributeType = 300,
    NSDecimalAttributeType = 400,
    NSDoubleAttributeType = 500,
    NSFloatAttributeType = 600,
    NSStringAttributeType = 700,
    NSBooleanAttributeType = 800,
    NSDateAttributeType = 900,
    NSBinaryDataAttributeType = 1000,
    NSTransformableAttributeType = 1800,
};

// Whether the attribute holds a number (integer, decimal or floating point; a boolean is not one).
constexpr bool NSAttributeTypeIsNumeric(NSAttributeType type) {
    switch (type) {
        case NSInteger16AttributeType:
        case NSInteger32AttributeType:
        case NSInteger64AttributeType:
        case NSDecimalAttributeType:
        case NSDoubleAttributeType:
        case NSFloatAttributeType:
            return true;
        default:
            return false;
    }
}

enum NSDeleteRule : unsigned long {
    NSNoActionDeleteRule = 0,
    NSNullifyDeleteRule = 1,
    NSCascadeDeleteRule = 2,
    NSDenyDeleteRule = 3,
};

class NSPropertyDescription : public NSObject {
  public:
    const std::string& name() const { return name_; }
    const Dictionary& userInfo() const { return userInfo_; }
    // The entity that has the property (nullptr for a description made alone).
    Ref<NSEntityDescription> entity() const { return entity_.lock(); }
    bool isOptional() const { return optional_; }
    virtual bool isAttribute() const { return false; }
    virtual bool isRelationship() const { return false; }

    std::string className() const override { return "NSPropertyDescription"; }
    std::string description() const override;

    // The property's slot among its entity's properties (attributes first, then relationships).
    std::size_t slot() const { return slot_; }

  protected:
    friend class NSManagedObjectModel;
    friend class NSEntityDescription;
    std::string name_;
    Dictionary userInfo_;
    Weak<NSEntityDescription> entity_;
    bool optional_ = true;
    std::size_t slot_ = 0;
};

class NSAttributeDescription : public NSPropertyDescription {
  public:
    NSAttributeType attributeType() const { return type_; }
    // The model's default, already of the attribute's kind (nil when the model gives none).
    const Value& defaultValue() const { return defaultValue_; }
    bool isAttribute() const override { return true; }
    std::string className() const override { return "NSAttributeDescription"; }

    // Made alone, for tests and expression results.
    static Ref<NSAttributeDescription> attribute(std::string name, NSAttributeType type,
                                                 Value defaultValue = {});

  private:
    friend class NSManagedObjectModel;
    NSAttributeType type_ = NSUndefinedAttributeType;
    Value defaultValue_;
};

class NSRelationshipDescription : public NSPropertyDescription {
  public:
    // nullptr when the model names no destination or one it does not have.
    Ref<NSEntityDescription> destinationEntity() const { return destination_.lock(); }
    // nullptr when the relationship has no inverse.
    Ref<NSRelationshipDescription> inverseRelationship() const { return inverse_.lock(); }
    bool isToMany() const { return toMany_; }
    bool isOrdered() const { return ordered_; }
    NSDeleteRule deleteRule() const { return deleteRule_; }
    bool isRelationship() const override { return true; }
    std::string className() const override { return "NSRelationshipDescription"; }

  private:
    friend class NSManagedObjectModel;
    Weak<NSEntityDescription> destination_;
    Weak<NSRelationshipDescription> inverse_;
    bool toMany_ = false;
    bool ordered_ = false;
    NSDeleteRule deleteRule_ = NSNullifyDeleteRule;
};

// A computed column of a dictionary fetch: an expression (usually an aggregate function over a
// key path) under a name, with the type its result is given.
class NSExpressionDescription : public NSPropertyDescription {
  public:
    NSExpressionDescription() = default;
    void setName(std::string name) { name_ = std::move(name); }
    const Ref<NSExpression>& expression() const { return expression_; }
    void setExpression(Ref<NSExpression> expression) { expression_ = std::move(expression); }
    NSAttributeType expressionResultType() const { return resultType_; }
    void setExpressionResultType(NSAttributeType type) { resultType_ = type; }
    std::string className() const override { return "NSExpressionDescription"; }

  private:
    Ref<NSExpression> expression_;
    NSAttributeType resultType_ = NSUndefinedAttributeType;
};

namespace detail {

// One flag per property slot (an object's changed properties). Entities of up to 64 properties,
// nearly all of them, keep their flags without an allocation.
class PropertyFlags {
  public:
    std::size_t size() const { return size_; }
    bool operator[](std::size_t slot) const { return (word(slot) >> (slot % 64)) & 1u; }
    void set(std::size_t slot) { word(slot) |= std::uint64_t{1} << (slot % 64); }
    // `count` flags, all of them `value`.
    void assign(std::size_t count, bool value) {
        clear();
        resize(count);
        if (!value) return;
        for (std::size_t first = 0; first < count; first += 64) {
            const std::size_t bits = count - first < 64 ? count - first : 64;
            word(first) = bits == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
        }
    }
    // Flags added are clear; flags beyond a smaller count are dropped.
    void resize(std::size_t count) {
        for (std::size_t slot = count; slot < size_; ++slot) word(slot) &= ~(std::uint64_t{1} << (slot % 64));
        size_ = count;
        if (count > 64) rest_.resize((count - 1) / 64, 0);
    }
    void clear() {
        size_ = 0;
        first_ = 0;
        rest_.clear();
    }

  private:
    std::uint64_t& word(std::size_t slot) { return slot < 64 ? first_ : rest_[slot / 64 - 1]; }
    std::uint64_t word(std::size_t slot) const { return slot < 64 ? first_ : rest_[slot / 64 - 1]; }

    std::size_t size_ = 0;
    std::uint64_t first_ = 0;
    std::vector<std::uint64_t> rest_;
};

}  // namespace detail

// Property descriptions keyed by name, in the order the model lists them.
template <class T>
class NSDescriptionMap {
  public:
    Ref<T> operator[](std::string_view name) const {
        const Ref<T>* found = find(name);
        return found ? *found : nullptr;
    }
    // The item of that name in place (nullptr when none), for readers on every object's access.
    const Ref<T>* find(std::string_view name) const {
        // A few names compare faster in a row than through the tree (from the last, which wins
        // when a name came twice, as in the tree).
        if (items_.size() <= 8) {
            for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
                if (it->first == name) return &it->second;
            }
            return nullptr;
        }
        auto found = index_.find(name);
        return found == index_.end() ? nullptr : &items_[found->second].second;
    }
    std::size_t count() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }
    void add(const std::string& name, Ref<T> item) {
        index_[name] = items_.size();
        items_.emplace_back(name, std::move(item));
    }

  private:
    std::vector<std::pair<std::string, Ref<T>>> items_;
    std::map<std::string, std::size_t, std::less<>> index_;
};

class NSEntityDescription : public NSObject {
  public:
    const std::string& name() const { return name_; }
    // The class its objects are made of ("NSManagedObject" when the model names none).
    const std::string& managedObjectClassName() const { return className_; }
    const Dictionary& userInfo() const { return userInfo_; }
    const NSDescriptionMap<NSAttributeDescription>& attributesByName() const { return attributes_; }
    const NSDescriptionMap<NSRelationshipDescription>& relationshipsByName() const { return relationships_; }
    const NSDescriptionMap<NSPropertyDescription>& propertiesByName() const { return properties_; }
    // Attributes first, then relationships, each in model order; index = the property's slot.
    const std::vector<Ref<NSPropertyDescription>>& properties() const { return slots_; }
    Ref<NSManagedObjectModel> managedObjectModel() const { return model_.lock(); }
    const NSData& versionHash() const { return versionHash_; }
    // The entity's position in its model.
    std::size_t index() const { return index_; }

    // The entity of that name in the context's model (nullptr when none).
    static Ref<NSEntityDescription> entityForName(const std::string& name,
                                                  const Ref<NSManagedObjectContext>& context);
    // A new object of the named entity, inserted into the context; nullptr when there is no such
    // entity.
    static Ref<NSManagedObject> insertNewObjectForEntityForName(const std::string& name,
                                                                const Ref<NSManagedObjectContext>& context);

    std::string className() const override { return "NSEntityDescription"; }
    std::string description() const override { return "(<NSEntityDescription: " + name_ + ">)"; }

  private:
    friend class NSManagedObjectModel;
    std::string name_;
    std::string className_ = "NSManagedObject";
    Dictionary userInfo_;
    NSDescriptionMap<NSAttributeDescription> attributes_;
    NSDescriptionMap<NSRelationshipDescription> relationships_;
    NSDescriptionMap<NSPropertyDescription> properties_;
    std::vector<Ref<NSPropertyDescription>> slots_;
    Weak<NSManagedObjectModel> model_;
    NSData versionHash_;
    std::size_t index_ = 0;
};

class NSManagedObjectModel : public NSObject {
  public:
    NSManagedObjectModel() = default;

    // Reads a model file; nullptr (and the reason in `error`: NSCocoaErrorDomain,
    // NSFileReadCorruptFileError for a malformed document, NSFileNoSuchFileError for a
    // missing file) when it cannot.
    static Ref<NSManagedObjectModel> modelWithContentsOfURL(const Ref<NSURL>& url,
                                                            Ref<NSError>* error = nullptr);
    static Ref<NSManagedObjectModel> modelWithData(const NSData& data, Ref<NSError>* error = nullptr);
    // Every "*.model" file of the bundles (the main bundle when none are given), merged;
    // nullptr when two files define the same entity, or a file cannot be read. An empty model
    // when there are no model files.
    static Ref<NSManagedObjectModel> mergedModelFromBundles(const std::vector<Ref<NSBundle>>& bundles = {});
    static Ref<NSManagedObjectModel>
    modelByMergingModels(const std::vector<Ref<NSManagedObjectModel>>& models);

    const std::vector<Ref<NSEntityDescription>>& entities() const { return entities_; }
    const NSDescriptionMap<NSEntityDescription>& entitiesByName() const { return entitiesByName_; }
    // Entity name -> version hash (data).
    Dictionary entityVersionHashesByName() const;
    // The model as a model file's document (what stores remember of it).
    const Dictionary& document() const { return document_; }

    std::string className() const override { return "NSManagedObjectModel"; }
    std::string description() const override;

  private:
    static Ref<NSManagedObjectModel> fromDocument(const Dictionary& document, Ref<NSError>* error);
    std::vector<Ref<NSEntityDescription>> entities_;
    NSDescriptionMap<NSEntityDescription> entitiesByName_;
    Dictionary document_;
};

// The model file type names of attribute types and back ("integer64" <-> NSInteger64AttributeType).
std::optional<NSAttributeType> NSAttributeTypeFromName(const std::string& name);
std::string NSAttributeTypeName(NSAttributeType type);
