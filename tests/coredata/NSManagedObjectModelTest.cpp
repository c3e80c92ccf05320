// Reading model files: entities, typed attributes with defaults, relationships with inverses and
// delete rules, version hashes, merging a bundle's models, and malformed files refused with a
// clear error.

#include "coredata/NSManagedObjectModel.h"

#include <gtest/gtest.h>

#include <fstream>

#include "coredata/CoreDataErrors.h"
#include "tests/coredata/CoreDataTestModel.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(NSManagedObjectModel, ReadsEntitiesAttributesAndRelationships) {
    auto model = coredatatest::model();
    ASSERT_TRUE(model);
    ASSERT_EQ(model->entities().size(), 4u);
    auto car = model->entitiesByName()["Car"];
    ASSERT_TRUE(car);
    EXPECT_EQ(car->managedObjectClassName(), "NSManagedObject");
    EXPECT_EQ(model->entitiesByName()["Owner"]->managedObjectClassName(), "Owner");
    EXPECT_EQ(model->entitiesByName()["Owner"]->userInfo()["relatedByAttribute"], Value("ownerID"));
    EXPECT_EQ(car->attributesByName()["year"]->attributeType(), NSInteger32AttributeType);
    EXPECT_EQ(car->attributesByName()["year"]->defaultValue(), Value(2000));
    EXPECT_EQ(car->attributesByName()["sold"]->defaultValue(), Value(false));
    EXPECT_FALSE(car->attributesByName()["name"]->defaultValue().isSomething());

    auto owner = car->relationshipsByName()["owner"];
    ASSERT_TRUE(owner);
    EXPECT_FALSE(owner->isToMany());
    EXPECT_EQ(owner->destinationEntity()->name(), "Owner");
    EXPECT_EQ(owner->inverseRelationship()->name(), "cars");
    auto cars = model->entitiesByName()["Owner"]->relationshipsByName()["cars"];
    EXPECT_TRUE(cars->isToMany());
    EXPECT_TRUE(cars->isOrdered());
    EXPECT_EQ(cars->deleteRule(), NSCascadeDeleteRule);
    EXPECT_EQ(owner->deleteRule(), NSNullifyDeleteRule);
    // Attributes come first in the slots, then relationships.
    EXPECT_EQ(car->properties().front()->name(), "carID");
    EXPECT_TRUE(car->properties().back()->isRelationship());
}

TEST(NSManagedObjectModel, VersionHashesFollowTheShapeOfEachEntity) {
    auto a = coredatatest::model();
    auto b = coredatatest::model();
    auto c = coredatatest::model(/*withColour=*/true);
    EXPECT_TRUE(a->entityVersionHashesByName() == b->entityVersionHashesByName());
    EXPECT_EQ(a->entitiesByName()["Owner"]->versionHash(), c->entitiesByName()["Owner"]->versionHash());
    EXPECT_FALSE(a->entitiesByName()["Car"]->versionHash() == c->entitiesByName()["Car"]->versionHash());
    EXPECT_EQ(a->entitiesByName()["Car"]->versionHash().length(), 8u);
}

TEST(NSManagedObjectModel, MalformedFilesAreRefusedWithTheirReason) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "not a JSON object"},
        {"[]", "not a JSON object"},
        {R"({"entities": 3})", "\"entities\" is not an array"},
        {R"({"entities": [7]})", "an entity is not an object"},
        {R"({"entities": [{"attributes": []}]})", "an entity has no name"},
        {R"({"entities": [{"name": "A"}, {"name": "A"}]})", "defined twice"},
        {R"({"entities": [{"name": "A", "attributes": [{"name": "x", "type": "colour"}]}]})",
         "no known type"},
        {R"({"entities": [{"name": "A", "attributes": [{"name": "x", "type": "string"}, {"name": "x", "type": "string"}]}]})",
         "defined twice"},
        {R"({"entities": [{"name": "A", "relationships": [{"name": "b", "destination": "B", "inverse": "a"}]}]})",
         "inverse but no destination"},
        {R"({"entities": [{"name": "A", "relationships": [{"name": "b", "destination": "A", "inverse": "zz"}]}]})",
         "no inverse zz"},
        {R"({"entities": [{"name": "A", "relationships": [{"name": "b", "deleteRule": "explode"}]}]})",
         "unknown delete rule"},
        {R"({"entities": [{"name": "A", "userInfo": [1]}]})", "bad userInfo"},
        {R"({"entities": [{"name": "A", "attributes": {"x": 1}}]})", "\"attributes\" is not an array"},
        {R"({"entities": [{"name": "A", "relationships": [{"name": "b", "toMany": "yes"}]}]})",
         "bad \"toMany\""},
    };
    for (const auto& [text, reason] : cases) {
        Ref<NSError> error;
        EXPECT_FALSE(NSManagedObjectModel::modelWithData(NSData::fromString(text), &error)) << text;
        ASSERT_TRUE(error) << text;
        EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
        EXPECT_EQ(error->code(), NSFileReadCorruptFileError);
        EXPECT_NE(error->localizedDescription().find(reason), std::string::npos)
            << text << " gave " << error->localizedDescription();
    }
}

TEST(NSManagedObjectModel, ARelationshipToAnUnknownEntityHasNoDestination) {
    auto model = NSManagedObjectModel::modelWithData(NSData::fromString(
        R"({"entities": [{"name": "A", "relationships": [{"name": "b", "destination": "Nowhere"}]}]})"));
    ASSERT_TRUE(model);
    EXPECT_FALSE(model->entitiesByName()["A"]->relationshipsByName()["b"]->destinationEntity());
}

TEST(NSManagedObjectModel, LoadsFilesAndMergesTheModelsOfABundle) {
    testsupport::TemporaryDirectory dir;
    std::ofstream(dir.file("Garage.model")) << coredatatest::modelText();
    std::ofstream(dir.file("Extra.model"))
        << R"({"entities": [{"name": "Note", "attributes": [{"name": "text", "type": "string"}]}]})";
    std::ofstream(dir.file("readme.txt")) << "not a model";

    Ref<NSError> error;
    auto one = NSManagedObjectModel::modelWithContentsOfURL(NSURL::fileURLWithPath(dir.file("Garage.model")),
                                                            &error);
    ASSERT_TRUE(one) << (error ? error->localizedDescription() : "");
    EXPECT_EQ(one->entities().size(), 4u);

    auto merged = NSManagedObjectModel::mergedModelFromBundles({NSBundle::bundleWithPath(dir.path())});
    ASSERT_TRUE(merged);
    EXPECT_EQ(merged->entities().size(), 5u);
    EXPECT_TRUE(merged->entitiesByName()["Note"]);
    EXPECT_TRUE(merged->entitiesByName()["Car"]->relationshipsByName()["owner"]->destinationEntity());

    EXPECT_FALSE(
        NSManagedObjectModel::modelWithContentsOfURL(NSURL::fileURLWithPath(dir.file("none.model")), &error));
    EXPECT_EQ(error->code(), NSFileNoSuchFileError);
}

}  // namespace
