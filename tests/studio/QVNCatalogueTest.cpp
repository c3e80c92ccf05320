// The catalogue from the stand-in server: brands and cars as records, the "carlist" file and its
// rules (written after the completion, kept on failure, replaced by an empty list).

#include <gtest/gtest.h>

#include "app/NSString+Extension.h"
#include "app/QVNBrand.h"
#include "foundation/NSFileManager.h"
#include "foundation/NSJSONSerialization.h"
#include "studio/QVNCar.h"
#include "tests/studio/StudioTestSupport.h"

using namespace studiotest;

namespace {

class QVNCatalogueTest : public StudioServerTest {
  protected:
    std::optional<std::optional<Array>> fetch() {
        std::optional<std::optional<Array>> result;
        QVNBrand::getBrandsAndCars([&](const std::optional<Array>& brands) { result = brands; });
        if (!waitUntil([&] { return result.has_value(); })) return std::nullopt;
        return result;
    }
    std::string carListPath() const { return sandbox_.path() + "/Library/Caches/carlist"; }
    Value carListFile() const {
        auto data = NSData::dataWithContentsOfFile(carListPath());
        return data ? NSJSONSerialization::JSONObjectWithData(*data, 0, nullptr) : Value();
    }
    // Replaces the car list route with a fixed reply.
    void serveCarList(Dictionary reply) {
        server.routes().get(devserver::kCarListPath, [reply](const devserver::Request&) {
            return devserver::Reply::jsonValue(Value(reply));
        });
    }
};

}  // namespace

TEST_F(QVNCatalogueTest, WithTheStudioLinkedTheBrandsCarsAreStudioCars) {
    EXPECT_EQ(QVNBrand::carRecordClass(), QVNCar::rmClass());
    auto result = fetch();
    ASSERT_TRUE(result && *result && !(*result)->empty());
    auto brand = (**result)[0].objectAs<QVNBrand>();
    ASSERT_TRUE(brand && brand->cars && !brand->cars->empty());
    for (const Value& car : *brand->cars) EXPECT_TRUE(car.objectAs<QVNCar>());
    // Read as catalogue cars, the same records.
    EXPECT_EQ(brand->carList().size(), brand->carList<QVNCar>().size());
}

TEST_F(QVNCatalogueTest, BrandsAndCarsComeAsRecordsInReplyOrder) {
    auto result = fetch();
    ASSERT_TRUE(result && *result);
    const Array& brands = **result;
    ASSERT_EQ(brands.count(), catalogue->brands().size());
    for (std::size_t i = 0; i < brands.count(); ++i) {
        auto brand = brands[i].objectAs<QVNBrand>();
        ASSERT_TRUE(brand);
        const auto& sample = catalogue->brands()[i];
        EXPECT_EQ(brand->brand_name, sample.brand_name);
        EXPECT_EQ(brand->brand_id, NSNumber::numberWithInt(sample.brand_id));
        EXPECT_TRUE(brand->brand_logo && !brand->brand_logo->empty());
        EXPECT_TRUE(brand->logo_down && !brand->logo_down->empty());
        auto cars = brand->carList<QVNCar>();
        ASSERT_EQ(cars.size(), sample.cars.size());
        for (std::size_t c = 0; c < cars.size(); ++c) {
            EXPECT_EQ(cars[c]->car_en, sample.cars[c].car_en);
            EXPECT_EQ(cars[c]->cars_name, sample.cars[c].cars_name);
            EXPECT_EQ(cars[c]->cars_id, NSNumber::numberWithInt(sample.cars[c].cars_id));
            EXPECT_EQ(cars[c]->kuanti, std::string(sample.cars[c].kuanti ? "true" : "false"));
            EXPECT_EQ(cars[c]->cars_json, server.modelPrefix() + sample.cars[c].car_en + "/car.json");
        }
    }
    EXPECT_EQ(brands[0].objectAs<QVNBrand>()->brand_name,
              std::string(devserver::catalogue::kDefaultBrandName));
}

TEST_F(QVNCatalogueTest, TheReplyIsStoredAfterTheCompletionEnvelopeIncluded) {
    bool existedInCompletion = true;
    bool done = false;
    QVNBrand::getBrandsAndCars([&](const std::optional<Array>&) {
        existedInCompletion = NSFileManager::defaultManager()->fileExistsAtPath(carListPath());
        done = true;
    });
    ASSERT_TRUE(waitUntil([&] { return done; }));
    EXPECT_FALSE(existedInCompletion);
    Value stored = carListFile();
    ASSERT_TRUE(stored.isDictionary());
    EXPECT_EQ(stored["resultCode"].intValue(), 0);
    EXPECT_EQ(stored["data"].array()->count(), catalogue->brands().size());
    EXPECT_EQ(QVNBrand::CachePath() + "/carlist", NSString_Extension::cacheCarListPath());
}

TEST_F(QVNCatalogueTest, AFailedFetchGivesNilAndKeepsThePreviousFile) {
    ASSERT_TRUE(fetch());
    auto before = NSData::dataWithContentsOfFile(carListPath());
    ASSERT_TRUE(before);
    for (auto body : {devserver::RouteControl::Body::NotJSON, devserver::RouteControl::Body::TopLevelArray}) {
        devserver::RouteControl control;
        control.body = body;
        control.times = 1;
        server.setRouteControl(devserver::kCarListPath, control);
        auto result = fetch();
        ASSERT_TRUE(result);
        EXPECT_FALSE(*result);
    }
    devserver::RouteControl status;
    status.status = 500;
    status.times = 1;
    server.setRouteControl(devserver::kCarListPath, status);
    auto failed = fetch();
    ASSERT_TRUE(failed);
    EXPECT_FALSE(*failed);
    EXPECT_EQ(NSData::dataWithContentsOfFile(carListPath())->toString(), before->toString());
}

TEST_F(QVNCatalogueTest, AnErrorCodeIsAFailure) {
    serveCarList(Dictionary{{"resultCode", 10003}, {"errmsg", "no"}});
    auto result = fetch();
    ASSERT_TRUE(result);
    EXPECT_FALSE(*result);
    EXPECT_FALSE(NSFileManager::defaultManager()->fileExistsAtPath(carListPath()));
}

TEST_F(QVNCatalogueTest, AnEmptyListOrNoDataGivesNoBrandsAndStillReplacesTheFile) {
    ASSERT_TRUE(fetch());
    serveCarList(Dictionary{{"resultCode", 0}, {"data", Array()}});
    auto empty = fetch();
    ASSERT_TRUE(empty && *empty);
    EXPECT_EQ((*empty)->count(), 0u);
    EXPECT_EQ(carListFile()["data"].array()->count(), 0u);

    serveCarList(Dictionary{{"resultCode", 0}, {"errmsg", "no data"}});
    auto none = fetch();
    ASSERT_TRUE(none && *none);
    EXPECT_EQ((*none)->count(), 0u);
    EXPECT_EQ(carListFile()["errmsg"].stringValue(), "no data");
}

TEST_F(QVNCatalogueTest, TheStoredListReadsBackAndListsACarUnderTwoBrandsTwice) {
    EXPECT_FALSE(QVNBrand::getBrandsAndCarsFromCache());
    EXPECT_TRUE(QVNBrand::carsFromCache<QVNCar>().empty());
    ASSERT_TRUE(fetch());
    auto cached = QVNBrand::getBrandsAndCarsFromCache();
    ASSERT_TRUE(cached);
    ASSERT_EQ(cached->count(), catalogue->brands().size());
    EXPECT_EQ((*cached)[0].objectAs<QVNBrand>()->carList<QVNCar>().front()->car_en, defaultCar());

    Dictionary car{{"car_en", "twin"}, {"cars_name", "双"}};
    serveCarList(Dictionary{
        {"resultCode", 0},
        {"data",
         Array{Dictionary{{"brand_name", "A"}, {"cars", Array{car}}},
               Dictionary{{"brand_name", "B"}, {"cars", Array{car, Dictionary{{"car_en", "solo"}}}}}}}});
    ASSERT_TRUE(fetch());
    auto flat = QVNBrand::carsFromCache<QVNCar>();
    ASSERT_EQ(flat.size(), 3u);
    EXPECT_EQ(flat[0]->car_en, std::string("twin"));
    EXPECT_EQ(flat[1]->car_en, std::string("twin"));
    EXPECT_EQ(flat[2]->car_en, std::string("solo"));
}

TEST_F(QVNCatalogueTest, AnUnreadableStoredListReadsAsNothing) {
    NSFileManager::defaultManager()->createDirectoryAtPath(sandbox_.path() + "/Library/Caches", true);
    NSData::fromString("{\"data\": [").writeToFile(carListPath(), true);
    EXPECT_FALSE(QVNBrand::getBrandsAndCarsFromCache());
    EXPECT_TRUE(QVNBrand::carsFromCache<QVNCar>().empty());
}

TEST_F(QVNCatalogueTest, SaveWritesNothingForAValueThatIsNotJSON) {
    QVNBrand::saveJSON(Dictionary{{"resultCode", 0}});
    auto before = NSData::dataWithContentsOfFile(carListPath());
    ASSERT_TRUE(before);
    QVNBrand::saveJSON(Dictionary{{"bad", Value(NSDate::date())}});
    EXPECT_EQ(NSData::dataWithContentsOfFile(carListPath())->toString(), before->toString());
}
