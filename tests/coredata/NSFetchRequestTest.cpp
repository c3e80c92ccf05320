// Fetch requests over a saved store and over pending changes alike: predicates (equality,
// comparisons, IN, AND/OR/NOT, arguments, nil), sorts, limits and offsets, object ids, counts,
// dictionary results, grouping and the aggregate functions, and requests that cannot run.

#include "coredata/NSFetchRequest.h"

#include <gtest/gtest.h>

#include "coredata/CoreDataErrors.h"
#include "coredata/NSManagedObjectContext.h"
#include "tests/coredata/CoreDataTestModel.h"

namespace {

class Fetching : public ::testing::TestWithParam<bool> {
  protected:
    Ref<NSPersistentStoreCoordinator> coordinator = make<NSPersistentStoreCoordinator>(coredatatest::model());
    Ref<NSManagedObjectContext> context = make<NSManagedObjectContext>(NSConfinementConcurrencyType);

    // Parameter: whether the cars are saved (the store answers) or pending (memory answers).
    void SetUp() override {
        ASSERT_TRUE(coordinator->addPersistentStoreWithType(NSInMemoryStoreType, std::nullopt, nullptr,
                                                            std::nullopt));
        context->setPersistentStoreCoordinator(coordinator);
        struct Row {
            const char* name;
            long long id;
            int year;
            double price;
            bool sold;
        };
        const Row rows[] = {{"Alpha", 1, 1990, 10.0, false},
                            {"Beta", 2, 2005, 25.5, true},
                            {"Gamma", 3, 2005, 7.25, false},
                            {"Delta", 4, 2010, 40.0, true},
                            {"Echo", 5, 1990, 12.0, false}};
        for (const auto& r : rows) {
            auto car = NSEntityDescription::insertNewObjectForEntityForName("Car", context);
            car->setValueForKey(Value(r.name), "name");
            car->setValueForKey(Value(r.id), "carID");
            car->setValueForKey(Value(r.year), "year");
            car->setValueForKey(Value(r.price), "price");
            car->setValueForKey(Value(r.sold), "sold");
        }
        // One car without a price.
        NSEntityDescription::insertNewObjectForEntityForName("Car", context)
            ->setValueForKey(Value("Foxtrot"), "name");
        if (GetParam()) {
            ASSERT_TRUE(context->save());
        }
    }

    Array run(const Ref<NSFetchRequest>& request) {
        Ref<NSError> error;
        auto result = context->executeFetchRequest(request, &error);
        EXPECT_TRUE(result) << (error ? error->localizedDescription() : "");
        return result ? *result : Array();
    }

    std::vector<std::string> names(const Ref<NSPredicate>& predicate, const std::string& sort = "name",
                                   bool ascending = true) {
        auto request = NSFetchRequest::fetchRequestWithEntityName("Car");
        request->setPredicate(predicate);
        request->setSortDescriptors({NSSortDescriptor::sortDescriptorWithKey(sort, ascending)});
        std::vector<std::string> out;
        for (const Value& v : run(request))
            out.push_back(v.objectAs<NSManagedObject>()->valueForKey("name").stringValue());
        return out;
    }
};

using Strings = std::vector<std::string>;

TEST_P(Fetching, PredicatesSelectTheRightObjects) {
    struct Case {
        Ref<NSPredicate> predicate;
        Strings expected;
    };
    const Case cases[] = {
        {NSPredicate::predicateWithFormat("%K = %@", "year", 2005), {"Beta", "Gamma"}},
        {NSPredicate::predicateWithFormat("year == 1990"), {"Alpha", "Echo"}},
        {NSPredicate::predicateWithFormat("price > %@", 11.0), {"Beta", "Delta", "Echo"}},
        {NSPredicate::predicateWithFormat("price <= 10"), {"Alpha", "Gamma"}},
        {NSPredicate::predicateWithFormat("carID IN %@", Array{Value(1), Value(3), Value(9)}),
         {"Alpha", "Gamma"}},
        {NSPredicate::predicateWithFormat("name IN %@", Array{Value("Echo"), Value(5)}), {"Echo"}},
        {NSPredicate::predicateWithFormat("sold == YES AND year > 2006"), {"Delta"}},
        {NSPredicate::predicateWithFormat("year = 1990 OR name = 'Delta'"), {"Alpha", "Delta", "Echo"}},
        {NSPredicate::predicateWithFormat("NOT (year = 1990)"), {"Beta", "Delta", "Foxtrot", "Gamma"}},
        {NSPredicate::predicateWithFormat("price = nil"), {"Foxtrot"}},
        {NSPredicate::predicateWithFormat("price != nil AND price < 11"), {"Alpha", "Gamma"}},
        {NSPredicate::predicateWithFormat("name = %@", 5), {}},
        {NSPredicate::predicateWithFormat("name BEGINSWITH 'G' OR name ENDSWITH 'ta'"),
         {"Beta", "Delta", "Gamma"}},
        {NSPredicate::predicateWithFormat("name CONTAINS[c] 'LT'"), {"Delta"}},
        {NSPredicate::predicateWithFormat("2005 = year"), {"Beta", "Gamma"}},
        {NSPredicate::predicateWithValue(false), {}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(c.predicate);
        EXPECT_EQ(names(c.predicate), c.expected) << c.predicate->predicateFormat();
    }
}

TEST_P(Fetching, SortsLimitsAndOffsets) {
    EXPECT_EQ(names(nullptr, "price", false),
              (Strings{"Delta", "Beta", "Echo", "Alpha", "Gamma", "Foxtrot"}));
    auto request = NSFetchRequest::fetchRequestWithEntityName("Car");
    request->setSortDescriptors({NSSortDescriptor::sortDescriptorWithKey("year", true),
                                 NSSortDescriptor::sortDescriptorWithKey("name", false)});
    request->setFetchOffset(1);
    request->setFetchLimit(3);
    request->setFetchBatchSize(2);
    Strings got;
    for (const Value& v : run(request))
        got.push_back(v.objectAs<NSManagedObject>()->valueForKey("name").stringValue());
    // Foxtrot has the default year, 2000.
    EXPECT_EQ(got, (Strings{"Alpha", "Foxtrot", "Gamma"}));
    request->setFetchOffset(10);
    EXPECT_EQ(run(request).count(), 0u);
}

TEST_P(Fetching, CountsAndObjectIDs) {
    auto request = NSFetchRequest::fetchRequestWithEntityName("Car");
    request->setPredicate(NSPredicate::predicateWithFormat("year < 2006"));
    EXPECT_EQ(context->countForFetchRequest(request), 5u);
    request->setResultType(NSManagedObjectIDResultType);
    Array ids = run(request);
    ASSERT_EQ(ids.count(), 5u);
    EXPECT_TRUE(ids[0].objectAs<NSManagedObjectID>());
    EXPECT_EQ(context->existingObjectWithID(ids[0].objectAs<NSManagedObjectID>())->entity()->name(), "Car");
}

TEST_P(Fetching, DictionaryResultsWithAggregatesAndGroups) {
    auto sum = make<NSExpressionDescription>();
    sum->setName("result");
    sum->setExpression(
        NSExpression::expressionForFunction("sum:", {NSExpression::expressionForKeyPath("price")}));
    sum->setExpressionResultType(NSDoubleAttributeType);

    auto request = NSFetchRequest::fetchRequestWithEntityName("Car");
    request->setResultType(NSDictionaryResultType);
    request->setPropertiesToFetch({sum});
    Array all = run(request);
    ASSERT_EQ(all.count(), 1u);
    EXPECT_DOUBLE_EQ(all[0]["result"].doubleValue(), 94.75);

    struct Case {
        const char* function;
        NSAttributeType type;
        Value expected;
    };
    const Case cases[] = {{"min:", NSDoubleAttributeType, Value(7.25)},
                          {"max:", NSDoubleAttributeType, Value(40.0)},
                          {"average:", NSDoubleAttributeType, Value(18.95)},
                          {"count:", NSInteger64AttributeType, Value(5LL)}};
    for (const auto& c : cases) {
        sum->setExpression(
            NSExpression::expressionForFunction(c.function, {NSExpression::expressionForKeyPath("price")}));
        sum->setExpressionResultType(c.type);
        Array got = run(request);
        ASSERT_EQ(got.count(), 1u) << c.function;
        EXPECT_NEAR(got[0]["result"].doubleValue(), c.expected.doubleValue(), 1e-9) << c.function;
    }

    sum->setExpression(
        NSExpression::expressionForFunction("sum:", {NSExpression::expressionForKeyPath("price")}));
    sum->setExpressionResultType(NSDoubleAttributeType);
    request->setPropertiesToFetch({Value("year"), sum});
    request->setPropertiesToGroupBy({Value("year")});
    request->setPredicate(NSPredicate::predicateWithFormat("price != nil"));
    request->setSortDescriptors({NSSortDescriptor::sortDescriptorWithKey("year", true)});
    Array groups = run(request);
    ASSERT_EQ(groups.count(), 3u);
    EXPECT_EQ(groups[0]["year"], Value(1990));
    EXPECT_DOUBLE_EQ(groups[0]["result"].doubleValue(), 22.0);
    EXPECT_EQ(groups[1]["year"], Value(2005));
    EXPECT_DOUBLE_EQ(groups[1]["result"].doubleValue(), 32.75);

    // Plain dictionaries of chosen attributes.
    request->setPropertiesToGroupBy({});
    request->setPropertiesToFetch({Value("name")});
    request->setPredicate(NSPredicate::predicateWithFormat("year = 2010"));
    Array plain = run(request);
    ASSERT_EQ(plain.count(), 1u);
    EXPECT_EQ(plain[0]["name"], Value("Delta"));
    EXPECT_EQ(plain[0].dictionary()->count(), 1u);
}

TEST_P(Fetching, RequestsThatCannotRunReportAnError) {
    Ref<NSError> error;
    EXPECT_FALSE(context->executeFetchRequest(NSFetchRequest::fetchRequestWithEntityName("Boat"), &error));
    EXPECT_TRUE(error);
    auto request = NSFetchRequest::fetchRequestWithEntityName("Car");
    request->setResultType(NSDictionaryResultType);
    request->setPropertiesToFetch({Value("wings")});
    error = nullptr;
    EXPECT_FALSE(context->executeFetchRequest(request, &error));
    EXPECT_TRUE(error);
    EXPECT_EQ(context->countForFetchRequest(NSFetchRequest::fetchRequestWithEntityName("Boat")), NSNotFound);
    EXPECT_FALSE(NSExpression::expressionForFunction("median:", {}));
}

TEST_P(Fetching, SortKeyPathsAreFollowedThroughTheModel) {
    // Beta and Gamma keep their cars in Bergen, Alpha in Oslo; Alpha and Delta have owners.
    auto place = [&](const char* city) {
        auto garage = NSEntityDescription::insertNewObjectForEntityForName("Garage", context);
        garage->setValueForKey(Value(city), "city");
        return garage;
    };
    auto person = [&](const char* name) {
        auto owner = NSEntityDescription::insertNewObjectForEntityForName("Owner", context);
        owner->setValueForKey(Value(name), "name");
        return owner;
    };
    Ref<NSManagedObject> bergen = place("Bergen"), oslo = place("Oslo");
    Ref<NSManagedObject> zoe = person("Zoe"), adam = person("Adam");
    auto all = NSFetchRequest::fetchRequestWithEntityName("Car");
    for (const Value& v : run(all)) {
        auto car = v.objectAs<NSManagedObject>();
        const std::string name = car->valueForKey("name").stringValue();
        if (name == "Alpha") car->setValueForKey(oslo, "garage");
        if (name == "Beta" || name == "Gamma") car->setValueForKey(bergen, "garage");
        if (name == "Alpha") car->setValueForKey(zoe, "owner");
        if (name == "Delta") car->setValueForKey(adam, "owner");
    }
    if (GetParam()) ASSERT_TRUE(context->save());

    struct Case {
        const char* entity;
        const char* keyPath;
        Strings expected;  // by name, after the key path and then the name; empty when it fails
        bool fails;
    };
    const Case cases[] = {
        {"Car", "year", {"Alpha", "Echo", "Foxtrot", "Beta", "Gamma", "Delta"}, false},
        {"Car", "garage.city", {"Delta", "Echo", "Foxtrot", "Beta", "Gamma", "Alpha"}, false},
        {"Car", "owner.name", {"Beta", "Echo", "Foxtrot", "Gamma", "Delta", "Alpha"}, false},
        {"Part", "car.garage.city", {}, false},
        {"Car", "nope", {}, true},
        {"Car", "nope.city", {}, true},
        {"Car", "price.foo", {}, true},
        {"Car", "name.length", {}, true},
        {"Car", "garage.nope", {}, true},
        {"Car", "garage.city.foo", {}, true},
        {"Car", "owner.name.first", {}, true},
        {"Car", "garage.", {}, true},
        {"Car", ".name", {}, true},
        {"Car", "garage..city", {}, true},
        {"Owner", "cars.name", {}, true},
        {"Car", "owner.cars.name", {}, true},
        {"Car", "garage.cars.year", {}, true},
        // Ending on a relationship: objects have no order of their own to sort by.
        {"Car", "owner", {}, true},
        {"Car", "garage", {}, true},
        {"Car", "parts", {}, true},
        {"Owner", "cars", {}, true},
        {"Car", "owner.cars", {}, true},
        {"Part", "car", {}, true},
        {"Part", "car.owner", {}, true},
        {"Part", "car.garage.cars", {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keyPath);
        auto request = NSFetchRequest::fetchRequestWithEntityName(c.entity);
        request->setSortDescriptors({NSSortDescriptor::sortDescriptorWithKey(c.keyPath, true),
                                     NSSortDescriptor::sortDescriptorWithKey(
                                         std::string(c.entity) == "Car" ? "name" : "label", true)});
        Ref<NSError> error;
        auto result = context->executeFetchRequest(request, &error);
        if (c.fails) {
            EXPECT_FALSE(result);
            ASSERT_TRUE(error);
            // The same error as for a key the entity does not have at all.
            EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
            EXPECT_EQ(error->code(), NSPersistentStoreOperationError);
            EXPECT_NE(error->localizedDescription().find(std::string("\"") + c.keyPath + "\""),
                      std::string::npos)
                << error->localizedDescription();
            continue;
        }
        ASSERT_TRUE(result) << (error ? error->localizedDescription() : "");
        EXPECT_FALSE(error);
        Strings got;
        for (const Value& v : *result)
            got.push_back(v.objectAs<NSManagedObject>()->valueForKey("name").stringValue());
        EXPECT_EQ(got, c.expected);
    }
}

TEST_P(Fetching, ResultsControllersSplitIntoSections) {
    auto request = NSFetchRequest::fetchRequestWithEntityName("Car");
    request->setPredicate(NSPredicate::predicateWithFormat("price != nil"));
    request->setSortDescriptors({NSSortDescriptor::sortDescriptorWithKey("year", true)});
    auto controller = make<NSFetchedResultsController>(request, context, "year", std::nullopt);
    ASSERT_TRUE(controller->performFetch());
    EXPECT_EQ(controller->fetchedObjects().count(), 5u);
    ASSERT_EQ(controller->sections().size(), 3u);
    EXPECT_EQ(controller->sections()[0].name, "1990");
    EXPECT_EQ(controller->sections()[1].objects.count(), 2u);
}

INSTANTIATE_TEST_SUITE_P(SavedAndPending, Fetching, ::testing::Values(true, false), [](const auto& info) {
    return info.param ? std::string("Saved") : std::string("Pending");
});

}  // namespace
