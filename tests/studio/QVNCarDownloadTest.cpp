// A car's description and its selected options against the stand-in server: the download pass
// with its progress and success signal, failures (one report per pass), stale passes, single
// options, and the revision reconcile that deletes the previous revision's option files.

#include <gtest/gtest.h>

#include "foundation/NSFileManager.h"
#include "images/WIWebImageManager.h"
#include "studio/QVNCar.h"
#include "tests/studio/StudioTestSupport.h"

using namespace studiotest;

namespace {

class QVNCarDownloadTest : public StudioServerTest {
  protected:
    Ref<QVNCar> describedCar(const std::string& car_en) {
        auto car = carNamed(car_en);
        EXPECT_EQ(loadDescription(car), std::optional<bool>(true));
        return car;
    }
    static bool exists(const std::string& path) {
        return NSFileManager::defaultManager()->fileExistsAtPath(path);
    }
    // Files of the selected options with sheets: frame tables and image cache entries.
    std::vector<Ref<QVNOption>> selectedWithSheets(const Ref<QVNCar>& car) {
        std::vector<Ref<QVNOption>> out;
        for (const auto& part : car->parts())
            if (part->selectedOption() && part->selectedOption()->hasMetalFile())
                out.push_back(part->selectedOption());
        return out;
    }
};

}  // namespace

TEST_F(QVNCarDownloadTest, TheDescriptionIsFetchedParsedAndCopiedToTheCarFolder) {
    const std::string car_en = defaultCar();
    auto car = describedCar(car_en);
    EXPECT_EQ(car->parts().size(), catalogue->car(car_en)->parts.size());
    EXPECT_EQ(car->modificators().size(), catalogue->car(car_en)->presets.size());
    EXPECT_EQ(car->updated, catalogue->revision(car_en));
    EXPECT_EQ(car->urlPrefix(), server.modelPrefix() + "/" + car_en);
    EXPECT_TRUE(exists(carFolder(car_en) + "/" + car_en));
    EXPECT_EQ(car->cacheJson()["identifier"].stringValue(), catalogue->car(car_en)->identifier);
    EXPECT_EQ(car->showcaseSize().width, catalogue->options().showcaseWidth);
}

TEST_F(QVNCarDownloadTest, AFailedDescriptionFetchChangesNothing) {
    const std::string car_en = defaultCar();
    auto car = describedCar(car_en);
    auto stored = NSData::dataWithContentsOfFile(carFolder(car_en) + "/" + car_en);
    const std::size_t parts = car->parts().size();
    using Body = devserver::RouteControl::Body;
    for (Body body : {Body::Empty, Body::NotJSON}) {
        devserver::RouteControl control;
        control.body = body;
        control.times = 1;
        server.setRouteControl("/static/model/" + car_en + "/car.json", control);
        EXPECT_EQ(loadDescription(car), std::optional<bool>(false));
    }
    devserver::RouteControl drop;
    drop.dropConnection = true;
    drop.times = 1;
    server.setRouteControl("/static/model/" + car_en + "/car.json", drop);
    EXPECT_EQ(loadDescription(car), std::optional<bool>(false));
    auto files = std::make_shared<ServedFiles>();
    files->set("car.json", "[{\"parts\": []}]", "application/json");
    serveFolder("array_car", files);
    auto arrayCar = carNamed("array_car");
    EXPECT_EQ(loadDescription(arrayCar), std::optional<bool>(false));
    EXPECT_FALSE(exists(carFolder("array_car")));
    auto missing = carNamed("no_such_car");
    EXPECT_EQ(loadDescription(missing), std::optional<bool>(false));
    EXPECT_FALSE(exists(carFolder("no_such_car")));
    auto nowhere = make<QVNCar>();
    EXPECT_EQ(loadDescription(nowhere), std::optional<bool>(false));

    EXPECT_EQ(car->parts().size(), parts);
    EXPECT_EQ(NSData::dataWithContentsOfFile(carFolder(car_en) + "/" + car_en)->toString(),
              stored->toString());
}

TEST_F(QVNCarDownloadTest, APassLoadsEverySelectedOptionReportsProgressAndSignalsOnce) {
    auto car = describedCar(defaultCar());
    EXPECT_FALSE(car->hasSelectedOptionsCache());
    std::atomic<int> progress{0};
    ASSERT_EQ(loadOptions(car, &progress), std::optional<bool>(true));
    EXPECT_GT(progress.load(), 0);
    EXPECT_EQ(car->asyncCount()->loadImagesCount(), static_cast<long>(car->parts().size()));
    EXPECT_TRUE(car->hasSelectedOptionsCache());
    for (const auto& option : selectedWithSheets(car)) {
        EXPECT_TRUE(option->hasCache());
        EXPECT_EQ(option->images().size(), 25u);
    }
    // Nothing more arrives afterwards.
    auto delegate = make<RecordingCarDelegate>();
    car->setDelegate(delegate);
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_EQ(delegate->successes, 0);
}

TEST_F(QVNCarDownloadTest, ATintedPartIsTintedWhenItsOptionArrives) {
    auto car = describedCar(defaultCar());
    Ref<QVNPart> colourable;
    for (const auto& part : car->parts())
        if (part->canColor() && part->selectedOption() && part->selectedOption()->hasMetalFile())
            colourable = part;
    ASSERT_TRUE(colourable);
    colourable->setTintColor(UIColor::redColor());
    EXPECT_TRUE(colourable->selectedOption()->tintedImages().empty());
    ASSERT_EQ(loadOptions(car), std::optional<bool>(true));
    // Every angle arrives tinted, off the main thread.
    EXPECT_TRUE(waitUntil([&] { return colourable->selectedOption()->tintedImages().size() == 25u; }));
}

TEST_F(QVNCarDownloadTest, APartWithoutSelectionCountsAtOnceAndACarWithoutPartsSucceeds) {
    // The wagon's spoiler has no default option.
    auto car = describedCar("sample_wagon");
    bool unselected = false;
    for (const auto& part : car->parts()) unselected = unselected || !part->selectedOption();
    ASSERT_TRUE(unselected);
    EXPECT_EQ(loadOptions(car), std::optional<bool>(true));

    auto bare = make<QVNCar>();
    bare->prepareForModify(Dictionary());
    auto delegate = make<RecordingCarDelegate>();
    bare->setDelegate(delegate);
    bool failed = false;
    bare->downLoadAndSetupOptionsWithProgress(nullptr, [&](bool) { failed = true; });
    EXPECT_EQ(delegate->successes, 1);
    EXPECT_FALSE(failed);
}

TEST_F(QVNCarDownloadTest, OneFailingOptionEndsThePassWithOneReport) {
    const std::string car_en = defaultCar();
    auto car = describedCar(car_en);
    auto options = selectedWithSheets(car);
    ASSERT_GE(options.size(), 2u);
    devserver::RouteControl missing;
    missing.status = 404;
    server.setRouteControl("/static/model/" + car_en + "/" + *options[0]->metalFile(), missing);
    server.setRouteControl("/static/model/" + car_en + "/" + *options[1]->metalFile(), missing);

    auto delegate = make<RecordingCarDelegate>();
    car->setDelegate(delegate);
    int failures = 0;
    car->downLoadAndSetupOptionsWithProgress(nullptr, [&](bool ok) {
        EXPECT_FALSE(ok);
        ++failures;
    });
    ASSERT_TRUE(waitUntil([&] { return failures > 0; }));
    // Let every other download of the pass finish.
    ASSERT_TRUE(waitUntil([&] { return WIWebImageManager::sharedManager()->runningOperationCount() == 0; }));
    testsupport::pumpMainRunLoop(0.5);
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(delegate->successes, 0);
    EXPECT_EQ(car->asyncCount()->loadImagesCount(), 0);
    EXPECT_FALSE(car->hasSelectedOptionsCache());
}

TEST_F(QVNCarDownloadTest, AnEarlierPassIsIgnoredOnceANewOneStarts) {
    auto car = describedCar(defaultCar());
    auto delegate = make<RecordingCarDelegate>();
    car->setDelegate(delegate);
    int failures = 0;
    car->downLoadAndSetupOptionsWithProgress(nullptr, [&](bool) { ++failures; });
    car->downLoadAndSetupOptionsWithProgress(nullptr, [&](bool) { ++failures; });
    ASSERT_TRUE(waitUntil([&] { return delegate->successes > 0; }));
    ASSERT_TRUE(waitUntil([&] { return WIWebImageManager::sharedManager()->runningOperationCount() == 0; }));
    testsupport::pumpMainRunLoop(0.5);
    EXPECT_EQ(delegate->successes, 1);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(car->asyncCount()->loadImagesCount(), static_cast<long>(car->parts().size()));
}

TEST_F(QVNCarDownloadTest, TheCounterIsSilentOnResetAndObservableOnSet) {
    auto count = AsyncCount::asyncCount();
    int changes = 0;
    auto token =
        KVO::observe(*count, AsyncCount::kLoadImagesCountKey, NSKeyValueObservingOptionNew,
                     [&](const Ref<NSObject>&, const Dictionary& change) {
                         ++changes;
                         EXPECT_EQ(change[NSKeyValueChangeNewKey].intValue(), count->loadImagesCount());
                     });
    count->setLoadImagesCount(3);
    count->setLoadImagesCount(3);
    count->resetCount();
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(count->loadImagesCount(), 0);
}

TEST_F(QVNCarDownloadTest, ASingleOptionIsSelectedOnlyWhenItLoads) {
    const std::string car_en = defaultCar();
    auto car = describedCar(car_en);
    Ref<QVNPart> part;
    Ref<QVNOption> other, broken;
    for (const auto& p : car->parts()) {
        std::vector<Ref<QVNOption>> candidates;
        for (const auto& o : p->options())
            if (o != p->selectedOption() && o->hasMetalFile()) candidates.push_back(o);
        if (candidates.size() >= 2 && !part) {
            part = p;
            other = candidates[0];
            broken = candidates[1];
        }
    }
    ASSERT_TRUE(part);
    devserver::RouteControl missing;
    missing.status = 404;
    server.setRouteControl("/static/model/" + car_en + "/" + *broken->metalFile(), missing);
    auto selected = part->selectedOption();
    std::optional<Ref<NSError>> result;
    car->downLoadAndSetupOption(broken, *part->selector(),
                                [&](const Ref<NSError>& error) { result = error; });
    ASSERT_TRUE(waitUntil([&] { return result.has_value(); }));
    EXPECT_TRUE(*result);
    EXPECT_EQ(part->selectedOption(), selected);

    result.reset();
    car->downLoadAndSetupOption(other, *part->selector(), [&](const Ref<NSError>& error) { result = error; });
    ASSERT_TRUE(waitUntil([&] { return result.has_value(); }));
    EXPECT_FALSE(*result);
    EXPECT_EQ(part->selectedOption(), other);
    EXPECT_TRUE(other->hasCache());
    bool ok = false;
    car->setupOptionFromCache(other, *part->selector(), [&](bool r) { ok = r; });
    EXPECT_TRUE(ok);
}

TEST_F(QVNCarDownloadTest, AChangedRevisionDeletesThePreviousOptionFilesAnEqualOneKeepsThem) {
    const std::string car_en = defaultCar();
    auto car = describedCar(car_en);
    ASSERT_EQ(loadOptions(car), std::optional<bool>(true));
    auto options = selectedWithSheets(car);
    ASSERT_FALSE(options.empty());
    auto images = WIImageCache::sharedImageCache();

    // The same revision again: everything stays.
    ASSERT_EQ(loadDescription(car), std::optional<bool>(true));
    for (const auto& option : options) {
        EXPECT_TRUE(exists(*option->metalFramesCachePath()));
        EXPECT_TRUE(images->diskImageExistsWithKey(option->metalFileURL()));
    }

    // A new revision, bumped over HTTP as a test would from outside.
    bool bumped = false;
    QVNAPIClient::getWithURL(
        server.baseURL() + "test/catalogue/bump?car_en=" + car_en, Value(),
        [&](const Value& reply, const Ref<NSError>& error) {
            EXPECT_FALSE(error);
            EXPECT_EQ(reply["updated"].stringValue(), catalogue->revision(car_en));
            bumped = true;
        },
        [&](const Ref<NSError>&) { bumped = true; });
    ASSERT_TRUE(waitUntil([&] { return bumped; }));
    ASSERT_EQ(loadDescription(car), std::optional<bool>(true));
    EXPECT_EQ(car->updated, catalogue->revision(car_en));
    EXPECT_EQ(car->cacheJson()["updated"].stringValue(), catalogue->revision(car_en));
    for (const auto& option : options) {
        EXPECT_FALSE(exists(*option->metalFramesCachePath()));
        EXPECT_FALSE(option->hasCache());
    }
    ASSERT_TRUE(waitUntil([&] {
        for (const auto& option : options)
            if (images->diskImageExistsWithKey(option->metalFileURL())) return false;
        return true;
    }));
    EXPECT_FALSE(car->hasSelectedOptionsCache());
    // And the new revision loads again.
    EXPECT_EQ(loadOptions(car), std::optional<bool>(true));
}

TEST_F(QVNCarDownloadTest, AnUnreadableStoredCopyIsReplacedWithoutDeletingFiles) {
    const std::string car_en = defaultCar();
    auto car = describedCar(car_en);
    ASSERT_EQ(loadOptions(car), std::optional<bool>(true));
    auto options = selectedWithSheets(car);
    NSData::fromString("{\"updated\": \"rev").writeToFile(carFolder(car_en) + "/" + car_en, true);
    EXPECT_FALSE(car->cacheJson());
    ASSERT_EQ(loadDescription(car), std::optional<bool>(true));
    EXPECT_TRUE(car->cacheJson().isDictionary());
    for (const auto& option : options) EXPECT_TRUE(exists(*option->metalFramesCachePath()));
}

TEST_F(QVNCarDownloadTest, ClearingMemoryKeepsDiskAndClearingDiskKeepsMemory) {
    auto car = describedCar(defaultCar());
    ASSERT_EQ(loadOptions(car), std::optional<bool>(true));
    auto option = selectedWithSheets(car).front();
    car->clearNotSelecteOptionsCacheFromMemory();
    EXPECT_EQ(option->images().size(), 25u);
    car->clearOptionsCacheFromMemory();
    EXPECT_TRUE(option->images().empty());
    EXPECT_TRUE(option->hasCache());
    EXPECT_FALSE(WIImageCache::sharedImageCache()->imageFromMemoryCacheForKey(option->metalFileURL()));
    option->configureImageAndFramesFromCache();
    EXPECT_EQ(option->images().size(), 25u);
    car->clearOptionCacheFromDisk();
    EXPECT_FALSE(option->hasCache());
    EXPECT_EQ(option->images().size(), 25u);
}
