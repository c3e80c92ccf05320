// Colours in the store: a colour archives with its colour space and components and comes back
// equal, a damaged colour archive reads as nothing with an error, and imported colour texts
// survive a save and are read back by a coordinator of their own.

#include <gtest/gtest.h>

#include <limits>

#include "data/NSManagedObject+DataImport.h"
#include "data/NSManagedObject+DataRecord.h"
#include "foundation/NSJSONSerialization.h"
#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSPropertyListSerialization.h"
#include "tests/data/DataTestSupport.h"

namespace {

using datatest::carClass;
using datatest::DataStack;

TEST(ColourArchive, AColourComesBackInItsSpaceWithItsComponents) {
    for (const auto& colour :
         {UIColor::colorWithRed(1, 128 / 255.0, 0, 1), UIColor::colorWithWhite(0.5, 0.25),
          UIColor::clearColor(),
          UIColor::colorWithCGColor(CGColorCreate(CGColorSpaceCreateDeviceCMYK(),
                                                  std::vector<CGFloat>{0.1, 0.2, 0.3, 0.4, 0.5}.data()))}) {
        SCOPED_TRACE(colour->description());
        Ref<NSError> error;
        auto data = NSKeyedArchiver::archivedDataWithRootObject(Value(colour), true, &error);
        ASSERT_TRUE(data) << (error ? error->localizedDescription() : "");
        auto back = NSKeyedUnarchiver::unarchivedObjectOfClass("UIColor", *data, &error).objectAs<UIColor>();
        ASSERT_TRUE(back) << (error ? error->localizedDescription() : "");
        EXPECT_TRUE(back->isEqual(*colour));
        EXPECT_EQ(back->CGColor()->model(), colour->CGColor()->model());
    }
    // A colour inside a container too.
    auto data = NSKeyedArchiver::archivedDataWithRootObject(
        Value(Dictionary{{"tint", Value(UIColor::redColor())}, {"name", "red"}}));
    ASSERT_TRUE(data);
    Value back = NSKeyedUnarchiver::unarchiveObjectWithData(*data);
    ASSERT_TRUE(back["tint"].objectAs<UIColor>());
    EXPECT_TRUE(back["tint"].objectAs<UIColor>()->isEqual(*UIColor::redColor()));
}

// A colour in a space no archive can give back is refused when written, not lost when read.
TEST(ColourArchive, AColourInASpaceThatCannotBeReadBackIsNotArchived) {
    auto colour = UIColor::colorWithCGColor(CGColorCreate(make<CGColorSpace>(kCGColorSpaceModelLab),
                                                          std::vector<CGFloat>{50, 10, -10, 1}.data()));
    ASSERT_TRUE(colour);
    Ref<NSError> error;
    EXPECT_FALSE(NSKeyedArchiver::archivedDataWithRootObject(Value(colour), true, &error));
    ASSERT_TRUE(error);
    EXPECT_FALSE(error->localizedDescription().empty());
    // Inside a container the whole archive fails, not only the colour.
    EXPECT_FALSE(NSKeyedArchiver::archivedDataWithRootObject(Value(Array{Value(colour), Value("name")})));
}

// An archive that claims to hold a colour, with the fields a test gives it.
NSData fakeColourArchive(std::int64_t space, const Value& components) {
    class Fake : public NSObject {
      public:
        std::string className() const override { return "FakeColour"; }
    };
    NSCodingRegistry::registerClass(
        "FakeColour",
        [space, components](const NSObject&, NSCoder& coder) {
            coder.encodeInt64(space, "UIColorSpaceModel");
            coder.encodeObject(components, "UIColorComponents");
        },
        [](NSCoder&) -> Ref<NSObject> { return nullptr; }, false);
    auto data = NSKeyedArchiver::archivedDataWithRootObject(Value(make<Fake>()));
    if (!data) return NSData();
    std::string text(data->view());
    const std::string name = "FakeColour";
    text.replace(text.find(name), name.size(), "UIColor");
    return NSData::fromString(text);
}

TEST(ColourArchive, ADamagedColourReadsAsNothingWithAnError) {
    const Array rgb{Value(0.2), Value(0.4), Value(0.6), Value(1.0)};
    // The fake itself, named as a colour, decodes: the fields are the colour's.
    auto good = NSKeyedUnarchiver::unarchiveObjectWithData(fakeColourArchive(kCGColorSpaceModelRGB, rgb));
    ASSERT_TRUE(good.objectAs<UIColor>());
    EXPECT_TRUE(good.objectAs<UIColor>()->isEqual(*UIColor::colorWithRed(0.2, 0.4, 0.6, 1)));

    struct Case {
        const char* name;
        std::int64_t space;
        Value components;
    };
    for (const Case& c :
         {Case{"unknown space", 9, rgb}, Case{"negative space", -1, rgb},
          Case{"pattern space", kCGColorSpaceModelPattern, rgb},
          Case{"too few components", kCGColorSpaceModelRGB, Array{Value(0.2), Value(1.0)}},
          Case{"grey with four", kCGColorSpaceModelMonochrome, rgb},
          Case{"no components", kCGColorSpaceModelRGB, Value()},
          Case{"text component", kCGColorSpaceModelMonochrome, Array{Value("0.5"), Value(1.0)}},
          Case{"endless component", kCGColorSpaceModelMonochrome,
               Array{Value(std::numeric_limits<double>::infinity()), Value(1.0)}}}) {
        SCOPED_TRACE(c.name);
        Ref<NSError> error;
        Value back = NSKeyedUnarchiver::unarchiveTopLevelObjectWithData(
            fakeColourArchive(c.space, c.components), &error);
        EXPECT_FALSE(back.objectAs<UIColor>());
        EXPECT_TRUE(error);
    }
}

class ColourImport : public DataStack {};

TEST_F(ColourImport, ImportedColoursSurviveASaveAndANewCoordinator) {
    DataRecord_Setup::setupAutoMigratingCoreDataStack();
    auto documents = NSJSONSerialization::JSONObjectWithData(NSData::fromString(R"J([
        {"carID": 1, "tint": "rgba(255,128,0,1)"},
        {"carID": 2, "tint": "0 0.5 1"},
        {"carID": 3, "tint": "rgba(0,0,255,0.5)"},
        {"carID": 4, "tint": "rgba(51,102,153,1,7)"}])J"),
                                                             0, nullptr);
    DataRecord_Actions::saveWithBlockAndWait([&](const Ref<NSManagedObjectContext>& local) {
        NSManagedObject_DataRecord_DataImport::DR_importFromArray(carClass(), documents, local);
    });
    auto stores = NSPersistentStoreCoordinator_DataRecord::DR_defaultStoreCoordinator()->persistentStores();
    ASSERT_EQ(stores.size(), 1u);
    auto url = stores[0]->URL();
    auto model = NSManagedObjectModel_DataRecord::DR_defaultManagedObjectModel();
    DataRecord::cleanUp();

    auto coordinator = make<NSPersistentStoreCoordinator>(model);
    Ref<NSError> error;
    ASSERT_TRUE(
        coordinator->addPersistentStoreWithType(NSSQLiteStoreType, std::nullopt, url, std::nullopt, &error))
        << (error ? error->localizedDescription() : "");
    auto context = make<NSManagedObjectContext>(NSConfinementConcurrencyType);
    context->setPersistentStoreCoordinator(coordinator);
    auto request = NSFetchRequest::fetchRequestWithEntityName("Car");
    request->setSortDescriptors({NSSortDescriptor::sortDescriptorWithKey("carID", true)});
    auto cars = context->executeFetchRequest(request, &error);
    ASSERT_TRUE(cars);
    ASSERT_EQ(cars->count(), 4u);
    auto tint = [&](std::size_t i) { return (*cars)[i].objectAs<NSManagedObject>()->valueForKey("tint"); };

    auto orange = tint(0).objectAs<UIColor>();
    ASSERT_TRUE(orange);
    EXPECT_TRUE(orange->isEqual(*UIColor::colorWithRed(1, 128.0f / 255.0f, 0, 1)));
    // Not an "rgba" text: no colour, stored as none.
    EXPECT_FALSE(tint(1).isSomething());
    // A fraction alpha reads as its integer part.
    auto clear = tint(2).objectAs<UIColor>();
    ASSERT_TRUE(clear);
    EXPECT_TRUE(clear->isEqual(*UIColor::colorWithRed(0, 0, 1, 0)));
    // Five values: the first four.
    auto five = tint(3).objectAs<UIColor>();
    ASSERT_TRUE(five);
    EXPECT_TRUE(five->isEqual(*UIColor::colorWithRed(51.0f / 255.0f, 102.0f / 255.0f, 153.0f / 255.0f, 1)));
}

}  // namespace
