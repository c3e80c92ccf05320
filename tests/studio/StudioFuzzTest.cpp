// Hostile car descriptions and frame tables: random mutations of real ones, truncations and
// wrong kinds. Every load ends (success or failure report), nothing crashes, and a refused frame
// table is never stored, so nothing half-written counts as cached.

#include <gtest/gtest.h>

#include "app/QVNTuningList.h"
#include "foundation/NSFileManager.h"
#include "foundation/NSJSONSerialization.h"
#include "studio/QVNCar.h"
#include "studio/QVNModificator.h"
#include "tests/studio/StudioTestSupport.h"

using namespace studiotest;

namespace {

class StudioFuzzTest : public StudioServerTest {
  protected:
    void SetUp() override {
        StudioServerTest::SetUp();
        files = std::make_shared<ServedFiles>();
    }
    std::shared_ptr<ServedFiles> files;
};

std::string validDescription(const SampleCatalogue& catalogue, const std::string& car_en) {
    return catalogue.file(car_en + "/car.json")->bytes.toString();
}

}  // namespace

TEST_F(StudioFuzzTest, MutatedDescriptionsEndEveryLoad) {
    const std::string source = defaultCar();
    const std::string valid = validDescription(*catalogue, source);
    serveFolder("fuzzcar", files, source);
    int accepted = 0;
    for (unsigned seed = 0; seed < 40; ++seed) {
        const std::string text = seed == 0 ? valid : testsupport::mutate(valid, seed);
        files->set("car.json", text, "application/json");
        auto car = carNamed("fuzzcar");
        auto loaded = loadDescription(car);
        ASSERT_TRUE(loaded) << "seed " << seed;
        if (!*loaded) {
            EXPECT_FALSE(car->hasInformationCache()) << "seed " << seed;
            continue;
        }
        ++accepted;
        // Whatever parsed must be usable.
        car->hasSelectedOptionsCache();
        for (const auto& preset : car->modificators()) {
            car->countOfDownLoadOptionsWithModificator(preset);
            car->configureSelectedOptionsWithModificator(preset);
        }
        car->resetParts();
        car->configureSelectedOptionsWithTuningList(
            make<QVNTuningList>(Dictionary{{"jsontxt", "{\"lunke\":\"x\"}"}}));
        car->tintColor(UIColor::redColor());
        if (seed % 4 == 0) {
            ASSERT_TRUE(loadOptions(car)) << "seed " << seed;
        }
        car->clearOptionsCacheFromMemory();
        car->clearOptionCacheFromDisk();
        // The next seed starts without the stored copy, so each one is parsed as it comes.
        NSFileManager::defaultManager()->removeItemAtPath(carFolder("fuzzcar"), nullptr);
    }
    EXPECT_GT(accepted, 0);
}

TEST_F(StudioFuzzTest, TruncatedDescriptionsAreRefused) {
    const std::string valid = validDescription(*catalogue, defaultCar());
    serveFolder("cut", files, defaultCar());
    for (std::size_t length :
         {std::size_t(0), std::size_t(1), valid.size() / 3, valid.size() / 2, valid.size() - 1}) {
        files->set("car.json", valid.substr(0, length), "application/json");
        auto car = carNamed("cut");
        EXPECT_EQ(loadDescription(car), std::optional<bool>(false)) << length;
        EXPECT_FALSE(car->hasInformationCache());
    }
}

TEST_F(StudioFuzzTest, HostileButWellFormedDescriptionsAreHarmless) {
    serveFolder("hostile", files, defaultCar());
    const std::vector<std::string> documents = {
        "{}",
        "{\"parts\": {}}",
        "{\"parts\": [null, 1, \"x\", []], \"modificator\": [1]}",
        "{\"showcase\": {\"width\": 1e308, \"height\": -1e308, \"suspension\": \"many\"}, \"parts\": []}",
        "{\"parts\": [{\"partSelector\": \"a\", \"options\": [{\"metalFile\": "
        "\"../../../../etc/passwd.png\"}]}]}",
        "{\"parts\": [{\"partSelector\": \"a\", \"defaultOption\": \"o\", \"options\": [{\"identifier\": "
        "\"o\", "
        "\"metalFile\": \"nope.png\", \"attachFile\": 5}]}]}",
        "{\"parts\": [{\"options\": [{\"name\": \"原厂\", \"metalFile\": {\"x\": 1}}]}], \"modificator\": "
        "[{\"partsAndOptions\": [1, 2]}]}",
    };
    for (const std::string& document : documents) {
        files->set("car.json", document, "application/json");
        auto car = carNamed("hostile");
        ASSERT_EQ(loadDescription(car), std::optional<bool>(true)) << document;
        ASSERT_TRUE(loadOptions(car)) << document;
        for (const auto& part : car->parts())
            for (const auto& option : part->options()) EXPECT_FALSE(option->hasCache()) << document;
        NSFileManager::defaultManager()->removeItemAtPath(carFolder("hostile"), nullptr);
    }
    // Nothing was written outside the car folders.
    EXPECT_FALSE(NSFileManager::defaultManager()->fileExistsAtPath(sandbox_.path() + "/etc"));
}

TEST_F(StudioFuzzTest, MutatedFrameTablesAreRefusedOrCutSafely) {
    const std::string source = defaultCar();
    std::string sheet, tableName;
    for (const auto& part : catalogue->car(source)->parts)
        for (const auto& o : part.options)
            if (o.hasMetal && !o.wideSheet && sheet.empty()) {
                sheet = o.metalFile();
                tableName = o.identifier + "_metal.json";
            }
    const std::string valid = catalogue->file(source + "/" + tableName)->bytes.toString();
    serveFolder("frames", files, source);
    NSFileManager::defaultManager()->createDirectoryAtPath(carFolder("frames"), true);
    int refused = 0, accepted = 0;
    for (unsigned seed = 1; seed <= 60; ++seed) {
        files->set(tableName, testsupport::mutate(valid, seed), "application/json");
        auto option = make<QVNOption>(Dictionary{{"identifier", "f"}, {"metalFile", sheet}},
                                      server.modelPrefix() + "frames", carFolder("frames"));
        NSFileManager::defaultManager()->removeItemAtPath(*option->metalFramesCachePath(), nullptr);
        std::optional<Ref<NSError>> result;
        option->downLoadImagesAndFramesWithProgress(nullptr,
                                                    [&](const Ref<NSError>& error) { result = error; });
        ASSERT_TRUE(waitUntil([&] { return result.has_value(); })) << "seed " << seed;
        if (*result) {
            ++refused;
            EXPECT_FALSE(option->hasMetalFramesCache()) << "seed " << seed;
            EXPECT_FALSE(option->hasCache()) << "seed " << seed;
            EXPECT_TRUE(option->images().empty());
        } else {
            ++accepted;
            EXPECT_TRUE(option->hasCache());
            for (const auto& [angle, picture] : option->images()) {
                EXPECT_TRUE(picture);
                EXPECT_GE(picture->size().width, 1);
            }
            // A table read back from disk cuts the same way.
            auto again = make<QVNOption>(Dictionary{{"identifier", "f"}, {"metalFile", sheet}},
                                         server.modelPrefix() + "frames", carFolder("frames"));
            again->configureImageAndFramesFromCache();
            EXPECT_EQ(again->images().size(), option->images().size());
            again->setTintColor(UIColor::greenColor());
        }
    }
    EXPECT_GT(refused, 0);
}

TEST_F(StudioFuzzTest, FrameTableFilesDamagedOnDiskCutNothingWithoutCrashing) {
    auto car = carNamed(defaultCar());
    ASSERT_EQ(loadDescription(car), std::optional<bool>(true));
    ASSERT_EQ(loadOptions(car), std::optional<bool>(true));
    Ref<QVNOption> option;
    for (const auto& part : car->parts())
        if (part->selectedOption() && part->selectedOption()->hasMetalFile()) option = part->selectedOption();
    ASSERT_TRUE(option);
    const std::string path = *option->metalFramesCachePath();
    const std::string valid = NSData::dataWithContentsOfFile(path)->toString();
    for (unsigned seed = 1; seed <= 80; ++seed) {
        NSData::fromString(testsupport::mutate(valid, seed)).writeToFile(path, true);
        auto fresh = make<QVNOption>(Dictionary{{"metalFile", *option->metalFile()}}, car->urlPrefix(),
                                     car->cachePath());
        fresh->configureImageAndFramesFromCache();
        EXPECT_LE(fresh->images().size(), 25u);
        fresh->setTintColor(UIColor::blueColor());
    }
    // Not JSON at all: nothing is cut.
    NSData::fromString("\xff\xfe garbage").writeToFile(path, true);
    auto fresh =
        make<QVNOption>(Dictionary{{"metalFile", *option->metalFile()}}, car->urlPrefix(), car->cachePath());
    EXPECT_FALSE(fresh->cacheOfMetalFrames());
    fresh->configureImageAndFramesFromCache();
    EXPECT_TRUE(fresh->images().empty());
}
