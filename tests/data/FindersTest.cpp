// Finders, requests, counts and aggregates of managed-object classes, on the in-memory default
// stack.

#include "data/NSManagedObject+DataRecord.h"

#include "data/DataRecord+ShorthandMethods.h"
#include "tests/data/DataTestSupport.h"

namespace {

using datatest::carClass;
using datatest::DataStack;
using namespace NSManagedObject_DataFinders;
using namespace NSManagedObject_DataAggregation;
using namespace NSManagedObject_DataRecord;

class Finders : public DataStack {
  protected:
    Ref<NSManagedObjectContext> context;

    void SetUp() override {
        DataStack::SetUp();
        DataRecord_Setup::setupCoreDataStackWithInMemoryStore();
        context = defaultContext();
        struct Row {
            const char* name;
            int year;
            double price;
        };
        for (const Row& r : {Row{"Alpha", 1990, 10}, Row{"Beta", 2005, 30}, Row{"Gamma", 2005, 20},
                             Row{"Delta", 1990, 40}}) {
            auto car = DR_createEntityInContext(carClass(), context);
            car->setValueForKey(Value(r.name), "name");
            car->setValueForKey(Value(r.year), "year");
            car->setValueForKey(Value(r.price), "price");
        }
    }

    static std::vector<std::string> names(const std::optional<Array>& found) {
        std::vector<std::string> out;
        if (found) {
            for (const Value& v : *found)
                out.push_back(v.objectAs<NSManagedObject>()->valueForKey("name").stringValue());
        }
        return out;
    }
};

using Strings = std::vector<std::string>;

TEST_F(Finders, SortTermsSetTheDirectionForEveryLaterKey) {
    EXPECT_EQ(names(DR_findAllSortedBy(carClass(), "year,price:NO,name", true, context)),
              (Strings{"Delta", "Alpha", "Beta", "Gamma"}));
    auto request =
        NSManagedObject_DataRequests::DR_requestAllSortedBy(carClass(), "name,year:NO,price", true, context);
    const auto& sorts = request->sortDescriptors();
    ASSERT_EQ(sorts.size(), 3u);
    EXPECT_TRUE(sorts[0]->ascending());
    EXPECT_FALSE(sorts[1]->ascending());
    EXPECT_FALSE(sorts[2]->ascending());
    EXPECT_EQ(request->fetchBatchSize(), 20u);
    auto spaced =
        NSManagedObject_DataRequests::DR_requestAllSortedBy(carClass(), "name, year", true, context);
    EXPECT_EQ(spaced->sortDescriptors()[1]->key(), " year");
}

TEST_F(Finders, FindersSelectFirstAndAll) {
    EXPECT_EQ(names(DR_findByAttribute(carClass(), "year", Value(2005), context)),
              (Strings{"Beta", "Gamma"}));
    EXPECT_EQ(names(DR_findByAttributeAndOrderBy(carClass(), "year", Value(1990), "price", false, context)),
              (Strings{"Delta", "Alpha"}));
    EXPECT_EQ(
        names(DR_findAllWithPredicate(carClass(), NSPredicate::predicateWithFormat("price > 15"), context))
            .size(),
        3u);
    EXPECT_EQ(DR_findFirstOrderedByAttribute(carClass(), "price", false, context)->valueForKey("name"),
              Value("Delta"));
    EXPECT_EQ(DR_findFirstWithPredicateSortedBy(carClass(), NSPredicate::predicateWithFormat("year = 2005"),
                                                "price", true, context)
                  ->valueForKey("name"),
              Value("Gamma"));
    EXPECT_FALSE(DR_findFirstByAttribute(carClass(), "name", Value("Zeta"), context));
    EXPECT_EQ(names(DR_findAllInContext(carClass(), context)).size(), 4u);
    // The context-free forms use the main thread's context.
    EXPECT_EQ(names(DR_findAll(carClass())).size(), 4u);
}

TEST_F(Finders, FirstObjectLeavesTheRequestLimitedToOne) {
    auto request = NSManagedObject_DataRequests::DR_requestAll(carClass(), context);
    EXPECT_TRUE(DR_executeFetchRequestAndReturnFirstObject(request, context));
    EXPECT_EQ(request->fetchLimit(), 1u);
}

TEST_F(Finders, FindOrCreateCreatesExactlyOnce) {
    auto made = DR_findFirstOrCreateByAttribute(carClass(), "name", Value("Epsilon"), context);
    ASSERT_TRUE(made);
    EXPECT_TRUE(made->isInserted());
    EXPECT_EQ(DR_findFirstOrCreateByAttribute(carClass(), "name", Value("Epsilon"), context), made);
    EXPECT_EQ(DR_countOfEntitiesWithContext(carClass(), context), 5u);
}

TEST_F(Finders, CountsAndAggregates) {
    EXPECT_EQ(
        DR_countOfEntitiesWithPredicate(carClass(), NSPredicate::predicateWithFormat("year = 1990"), context),
        2u);
    EXPECT_EQ(DR_numberOfEntitiesWithContext(carClass(), context), Value(4ul));
    EXPECT_TRUE(DR_hasAtLeastOneEntityInContext(carClass(), context));
    EXPECT_EQ(DR_aggregateOperation(carClass(), "sum:", "price", nullptr, context), Value(100.0));
    EXPECT_EQ(DR_aggregateOperation(carClass(), "max:", "price",
                                    NSPredicate::predicateWithFormat("year = 2005"), context),
              Value(30.0));
    EXPECT_EQ(DR_aggregateOperation(carClass(), "average:", "price", nullptr, context), Value(25.0));
    auto groups = DR_aggregateOperationGroupBy(carClass(), "sum:", "price", nullptr, "year", context);
    ASSERT_TRUE(groups);
    ASSERT_EQ(groups->count(), 2u);
    EXPECT_EQ((*groups)[0]["year"], Value(1990));
    EXPECT_EQ((*groups)[0]["result"], Value(50.0));

    auto any = DR_findFirstInContext(carClass(), context);
    EXPECT_EQ(DR_minValueFor(any, "price"), Value(10.0));
    EXPECT_EQ(DR_maxValueFor(any, "year"), Value(2005));
}

TEST_F(Finders, DeletingReportsWhatItCouldDo) {
    EXPECT_TRUE(
        DR_deleteAllMatchingPredicate(carClass(), NSPredicate::predicateWithFormat("year = 1990"), context));
    EXPECT_EQ(DR_countOfEntitiesWithContext(carClass(), context), 2u);
    auto beta = DR_findFirstByAttribute(carClass(), "name", Value("Beta"), context);
    EXPECT_TRUE(DR_deleteEntity(beta));
    // Gone from its context: a second delete finds nothing.
    NSManagedObjectContext_DataSaves::DR_saveToPersistentStoreAndWait(context);
    EXPECT_FALSE(DR_deleteEntityInContext(beta, context));
    EXPECT_TRUE(DR_truncateAllInContext(carClass(), context));
    EXPECT_FALSE(DR_hasAtLeastOneEntityInContext(carClass(), context));
}

TEST_F(Finders, ObjectsMoveBetweenContexts) {
    auto alpha = DR_findFirstByAttribute(carClass(), "name", Value("Alpha"), context);
    EXPECT_TRUE(alpha->objectID()->isTemporaryID());
    auto other = NSManagedObjectContext_DataRecord::DR_contextWithParent(context);
    auto moved = DR_inContext(alpha, other);
    ASSERT_TRUE(moved);
    EXPECT_FALSE(alpha->objectID()->isTemporaryID());
    EXPECT_EQ(moved->managedObjectContext(), other);
    other->performBlockAndWait([&] { EXPECT_EQ(moved->valueForKey("name"), Value("Alpha")); });
}

TEST_F(Finders, EntityNamesComeFromTheHookOrTheClassName) {
    static const auto* plain = NSManagedObjectClass::registerClass<NSManagedObject>("Shop.Garage");
    EXPECT_EQ(DR_entityName(plain), "Garage");
    NSManagedObjectClassDefinition named;
    named.entityName = [] { return std::optional<std::string>("Car"); };
    static const auto* hooked = NSManagedObjectClass::registerClass<NSManagedObject>("Vehicle", named);
    EXPECT_EQ(DR_entityName(hooked), "Car");
    EXPECT_TRUE(DR_createEntityInContext(hooked, context));
    EXPECT_FALSE(DR_createEntityInContext(plain, context));
}

TEST_F(Finders, PropertiesByNameSkipUnknownNames) {
    DataRecord::setLoggingLevel(DataRecordLogWarn);
    auto found = DR_propertiesNamed(carClass(), std::vector<std::string>{"price", "wings", "name"}, context);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0]->name(), "price");
    EXPECT_TRUE(loggedLine("Property 'wings' not found in a properties for Car"));
    EXPECT_TRUE(DR_propertiesNamed(carClass(), std::nullopt, context).empty());
}

TEST_F(Finders, ShorthandNamesAfterEnabling) {
    EXPECT_THROW(DataRecordShorthand::findAll(carClass()), NSException);
    EXPECT_FALSE(DataRecord_ShorthandMethods::resolveClassMethod("NSManagedObject", "findAll"));
    DataRecord_ShorthandMethods::enableShorthandMethods();
    DataRecord_ShorthandMethods::enableShorthandMethods();
    EXPECT_EQ(DataRecordShorthand::findAll(carClass())->count(), 4u);
    EXPECT_EQ(DataRecord_ShorthandMethods::resolveClassMethod("NSManagedObject", "findFirst"),
              "DR_findFirst");
    EXPECT_FALSE(DataRecord_ShorthandMethods::resolveClassMethod("NSManagedObject", "entityName"));
    EXPECT_FALSE(DataRecord_ShorthandMethods::resolveClassMethod("NSManagedObject", "DR_findAll"));
    EXPECT_FALSE(DataRecord_ShorthandMethods::resolveInstanceMethod("NSManagedObject", "inContext:"));
    EXPECT_EQ(DataRecord_ShorthandMethods::resolveInstanceMethod("NSManagedObject", "init"), "DR_init");
    EXPECT_FALSE(DataRecord_ShorthandMethods::updateResolveMethodsForClass("NSManagedObject"));
    EXPECT_EQ(DataRecord_ShorthandMethods::methodNameBlacklist(), (std::vector<std::string>{"entityName"}));
}

}  // namespace
