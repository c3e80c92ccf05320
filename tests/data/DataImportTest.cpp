// Importing documents into managed objects: key mapping with alternatives, value conversion
// (numbers, texts, dates, colours, booleans), defaults, identifying attributes that update
// instead of duplicating, related objects by dictionary or bare value, the class hooks, and the
// end-to-end road: import, save, restart, read back.

#include "data/NSManagedObject+DataImport.h"

#include "data/NSManagedObject+DataRecord.h"
#include "tests/data/DataTestSupport.h"

namespace {

using datatest::carClass;
using datatest::DataStack;
using datatest::json;
using datatest::ownerClass;
using namespace NSManagedObject_DataRecord_DataImport;

class Import : public DataStack {
  protected:
    Ref<NSManagedObjectContext> context;
    void SetUp() override {
        DataStack::SetUp();
        DataRecord_Setup::setupCoreDataStackWithInMemoryStore();
        context = defaultContext();
    }
};

TEST(DataImportFunctions, NamesNumbersDatesAndColours) {
    EXPECT_EQ(DRPrimaryKeyNameFromEntityName("Garage"), "garageID");
    EXPECT_EQ(DRCapitalizeFirstLetter("color"), "Color");
    EXPECT_EQ(NSString_DataRecord_DataImport::DR_capitalizedFirstCharacterString(""), "");
    EXPECT_EQ(DRNumberFromString("12.5kg"), Value(12.5));
    EXPECT_EQ(DRNumberFromString("none"), Value(0.0));
    EXPECT_EQ(DRDateFromNumber(1400000000000.0, true).timeIntervalSince1970(), 1400000000.0);
    auto date = DRDateFromStringWithFormat("2014-05-13T16:53:20GMT", "yyyy-MM-dd'T'HH:mm:ssz");
    ASSERT_TRUE(date);
    EXPECT_EQ(date->timeIntervalSince1970(), 1400000000.0);
    EXPECT_FALSE(DRDateFromStringWithFormat("yesterday", "yyyy-MM-dd'T'HH:mm:ssz"));

    auto four = DRScanColorComponents("rgba(1,2,3,4,5)");
    EXPECT_TRUE(four.valid);
    EXPECT_EQ(four.count, 4);
    EXPECT_EQ(four.slots, (std::array<int, 4>{1, 2, 3, 4}));
    EXPECT_FALSE(DRScanColorComponents("rgb(1,2,3)").valid);
    EXPECT_FALSE(DRColorFromString("rgb(1,2,3)"));
    auto red = DRColorFromString("rgba(255,0,0,1)");
    ASSERT_TRUE(red);
    EXPECT_TRUE(red->isEqual(*UIColor::colorWithRed(1, 0, 0, 1)));
    // A missing alpha reads as opaque.
    EXPECT_TRUE(DRColorFromString("rgba(255, 0, 0)")->isEqual(*UIColor::colorWithRed(1, 0, 0, 1)));
    EXPECT_EQ(NSDictionary_Merging::DR_dictionaryByMergingDictionary(Dictionary{{"a", 1}, {"b", 2}},
                                                                     Dictionary{{"b", 3}}),
              (Dictionary{{"a", 1}, {"b", 3}}));
}

TEST_F(Import, AttributesFollowTheirMappedKeysAndConvert) {
    auto car =
        DR_importFromObject(carClass(), json(R"J({"carID": 1, "title": 42, "pricing": {"value": "19.5"},
        "sold": "yes", "built": 1400000000000, "registered": "2014-05-13T16:53:20GMT", "tint": "rgba(0,255,0,1)"})J"),
                            context);
    ASSERT_TRUE(car);
    EXPECT_EQ(car->valueForKey("name"), Value("42"));
    EXPECT_EQ(car->valueForKey("price"), Value(19.5));
    EXPECT_EQ(car->valueForKey("year"), Value(2000));  // the default, as the document has none
    EXPECT_EQ(car->valueForKey("sold"), Value(true));
    EXPECT_EQ(car->valueForKey("built").date()->timeIntervalSince1970(), 1400000000.0);
    EXPECT_EQ(car->valueForKey("registered").date()->timeIntervalSince1970(), 1400000000.0);
    auto tint = car->valueForKey("tint").objectAs<UIColor>();
    ASSERT_TRUE(tint);
    EXPECT_TRUE(tint->isEqual(*UIColor::colorWithRed(0, 1, 0, 1)));

    // The first mapped key wins when present; a null clears; a missing key leaves the value.
    DR_importFromObject(carClass(),
                        json(R"({"carID": 1, "cost": 7, "pricing": {"value": 9}, "title": null})"), context);
    EXPECT_EQ(car->valueForKey("price"), Value(7.0));
    EXPECT_FALSE(car->valueForKey("name").isSomething());
    EXPECT_EQ(car->valueForKey("sold"), Value(true));
}

TEST_F(Import, TheSameDocumentTwiceUpdatesOneObject) {
    Value documents =
        json(R"([{"carID": 5, "title": "A"}, {"carID": 5, "title": "B"}, {"carID": 6, "title": "C"}])");
    Array imported = DR_importFromArray(carClass(), documents, context);
    ASSERT_EQ(imported.count(), 3u);
    EXPECT_EQ(imported[0], imported[1]);
    EXPECT_EQ(NSManagedObject_DataAggregation::DR_countOfEntitiesWithContext(carClass(), context), 2u);
    EXPECT_EQ(imported[0].objectAs<NSManagedObject>()->valueForKey("name"), Value("B"));
}

TEST_F(Import, RelatedObjectsAreFoundOrCreated) {
    auto owner = DR_importFromObject(ownerClass(), json(R"({"ownerID": 9, "name": "Ada",
        "cars": [{"carID": 1, "title": "A", "parts": ["bumper", "hood"]}, {"carID": 2, "title": "B"}, {"carID": 3}]})"),
                                     context);
    ASSERT_TRUE(owner);
    Value cars = owner->valueForKey("cars");
    ASSERT_EQ(cars.array()->count(), 3u);
    auto first = (*cars.array())[0].objectAs<NSManagedObject>();
    EXPECT_EQ(first->valueForKey("name"), Value("A"));
    EXPECT_EQ(first->valueForKey("owner").objectAs<NSManagedObject>(), owner);
    EXPECT_EQ(first->valueForKey("parts").array()->count(), 2u);

    // A bare number for a to-one relationship names the destination by its identifying attribute.
    auto car = DR_importFromObject(carClass(), json(R"({"carID": 4, "owner": 9})"), context);
    EXPECT_EQ(car->valueForKey("owner").objectAs<NSManagedObject>(), owner);
    auto stray = DR_importFromObject(carClass(), json(R"({"carID": 8, "owner": 77})"), context);
    auto made = stray->valueForKey("owner").objectAs<NSManagedObject>();
    ASSERT_TRUE(made);
    EXPECT_EQ(made->valueForKey("ownerID"), Value(77LL));
    EXPECT_EQ(NSManagedObject_DataAggregation::DR_countOfEntitiesWithContext(ownerClass(), context), 2u);
}

TEST_F(Import, ClassHooksSteerTheImport) {
    std::vector<std::string> calls;
    NSManagedObjectClassDefinition definition;
    definition.methods["shouldImport:"] = [&](NSManagedObject&, const Value& d) {
        calls.push_back("should");
        return Value(!d["skip"].boolValue());
    };
    definition.methods["willImport:"] = [&](NSManagedObject&, const Value&) {
        calls.push_back("will");
        return Value();
    };
    definition.methods["didImport:"] = [&](NSManagedObject&, const Value&) {
        calls.push_back("did");
        return Value();
    };
    definition.methods["importName:"] = [&](NSManagedObject& o, const Value& v) {
        o.setValueForKey(Value("<" + v.stringValue() + ">"), "name");
        return Value();
    };
    definition.methods["importPrice:"] = [&](NSManagedObject&, const Value&) { return Value(false); };
    definition.methods["shouldImportParts:"] = [&](NSManagedObject&, const Value&) { return Value(false); };
    definition.entityName = [] { return std::optional<std::string>("Car"); };
    static const auto* hooked = NSManagedObjectClass::registerClass<NSManagedObject>("HookedCar", definition);

    auto car = DR_importFromObject(hooked, json(R"({"carID": 1, "title": "x", "cost": 3, "parts": ["p"]})"),
                                   context);
    EXPECT_EQ(calls, (std::vector<std::string>{"should", "will", "did"}));
    EXPECT_EQ(car->valueForKey("name"), Value("<x>"));
    EXPECT_EQ(car->valueForKey("price"), Value(3.0));  // the hook said NO: handled by default
    EXPECT_EQ(car->valueForKey("parts").array()->count(), 0u);

    auto skipped = DR_importFromObject(hooked, json(R"({"carID": 2, "title": "y", "skip": true})"), context);
    ASSERT_TRUE(skipped);
    EXPECT_FALSE(skipped->valueForKey("name").isSomething());
}

TEST_F(Import, ImportedRecordsSurviveARestart) {
    DataRecord::cleanUp();
    DataRecord_Setup::setupAutoMigratingCoreDataStack();
    Value documents =
        json(R"([{"ownerID": 1, "name": "Ada", "cars": [{"carID": 10, "title": "Alpha", "cost": 12}]},
                              {"ownerID": 2, "name": "Bo", "cars": [{"carID": 11, "title": "Beta", "cost": 30},
                                                                     {"carID": 12, "title": "Gamma", "cost": 20}]}])");
    DataRecord_Actions::saveWithBlockAndWait([&](const Ref<NSManagedObjectContext>& local) {
        DR_importFromArray(ownerClass(), documents, local);
    });
    DataRecord::cleanUp();

    DataRecord_Setup::setupAutoMigratingCoreDataStack();
    auto context = defaultContext();
    auto cars = NSManagedObject_DataFinders::DR_findAllSortedBy(carClass(), "price", false, context);
    ASSERT_TRUE(cars);
    ASSERT_EQ(cars->count(), 3u);
    auto beta = (*cars)[0].objectAs<NSManagedObject>();
    EXPECT_EQ(beta->valueForKey("name"), Value("Beta"));
    EXPECT_EQ(beta->valueForKey("owner").objectAs<NSManagedObject>()->valueForKey("name"), Value("Bo"));
    EXPECT_EQ(
        NSManagedObject_DataAggregation::DR_aggregateOperation(carClass(), "sum:", "price", nullptr, context),
        Value(62.0));
}

}  // namespace
