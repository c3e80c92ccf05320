// Sprite sheets end to end against the stand-in server: every frame of every sheet of a car cut
// back exactly as the catalogue drew it (rotated and trimmed frames included), progress, the cache
// rules, rebuilding from disk, the GPU tint and its width limit, and downloads that must fail.

#include <gtest/gtest.h>

#include <set>

#include "foundation/NSFileManager.h"
#include "foundation/NSJSONSerialization.h"
#include "gpu/core/GPXMonochromeFilter.h"
#include "images/WIWebImageManager.h"
#include "studio/QVNCar.h"
#include "studio/QVNOption.h"
#include "studio/UIImage+BlendColor.h"
#include "studio/UIImage+texture.h"
#include "tests/studio/StudioTestSupport.h"

using namespace studiotest;
using devserver::catalogue::crop;
using devserver::catalogue::pictureFromCGImage;
using devserver::catalogue::PixelRect;

namespace {

class QVNSpriteSheetTest : public StudioServerTest {
  protected:
    Ref<NSError> download(const Ref<QVNOption>& option, const QVNOption::ProgressBlock& progress = nullptr) {
        bool done = false;
        Ref<NSError> result;
        option->downLoadImagesAndFramesWithProgress(progress, [&](const Ref<NSError>& error) {
            EXPECT_FALSE(done) << "completion called twice";
            result = error;
            done = true;
        });
        EXPECT_TRUE(waitUntil([&] { return done; }, 60));
        return done ? result : NSError::errorWithDomain("test", -1);
    }

    Ref<QVNCar> describedCar(const std::string& car_en) {
        auto car = carNamed(car_en);
        EXPECT_EQ(loadDescription(car), std::optional<bool>(true));
        return car;
    }

    // Compares every angle of an option's table with the catalogue's drawings; counts rotated frames.
    int expectExactFrames(const std::string& car_en, const Ref<QVNOption>& option, bool attach) {
        int rotated = 0;
        const auto& table = attach ? option->attachImages() : option->images();
        EXPECT_EQ(table.size(), 25u) << *option->identifier();
        for (int angle = 1; angle <= 25; ++angle) {
            char key[8];
            std::snprintf(key, sizeof key, "%02d", angle);
            Ref<UIImage> slice = attach ? option->attachForAngle(key) : option->imageForAngle(key);
            auto source = catalogue->sourceDrawing(car_en, *option->identifier(), angle, attach);
            EXPECT_TRUE(slice && source) << *option->identifier() << " " << key;
            if (!slice || !source) continue;
            CGPoint origin = attach ? option->attachOriginForAngle(key) : option->imageOriginForAngle(key);
            CGSize canvas = attach ? option->attachSizeForAngle(key) : option->imageSizeForAngle(key);
            EXPECT_EQ(canvas.width, source->width);
            EXPECT_EQ(canvas.height, source->height);
            PixelRect rect{static_cast<int>(origin.x), static_cast<int>(origin.y),
                           static_cast<int>(slice->size().width), static_cast<int>(slice->size().height)};
            EXPECT_TRUE(pictureFromCGImage(slice->CGImage()) == crop(*source, rect))
                << *option->identifier() << (attach ? " attach " : " metal ") << key;
            if (SampleCatalogue::frameRotated(angle)) ++rotated;
        }
        return rotated;
    }

    static bool samePixels(const Ref<UIImage>& a, const Ref<UIImage>& b) {
        return a && b && pictureFromCGImage(a->CGImage()) == pictureFromCGImage(b->CGImage());
    }

    Ref<QVNOption> optionOf(const Ref<QVNCar>& car, const std::string& identifier) {
        for (const auto& part : car->parts())
            if (auto option = part->optionWithIdentifier(identifier)) return option;
        ADD_FAILURE() << "no option " << identifier;
        return nullptr;
    }
    Ref<QVNOption> withBothSheets(const Ref<QVNCar>& car) {
        for (const auto& part : car->parts())
            for (const auto& option : part->options())
                if (option->hasMetalFile() && option->hasAttach()) return option;
        return nullptr;
    }
};

}  // namespace

TEST_F(QVNSpriteSheetTest, EveryFrameOfEverySheetOfACarComesBackExactly) {
    const std::string car_en = defaultCar();
    auto car = describedCar(car_en);
    int rotated = 0, sheets = 0;
    for (const auto& part : car->parts()) {
        for (const auto& option : part->options()) {
            if (!option->hasMetalFile() && !option->hasAttach()) continue;
            ASSERT_FALSE(download(option)) << *option->identifier();
            EXPECT_TRUE(option->hasCache());
            if (option->hasMetalFile()) {
                rotated += expectExactFrames(car_en, option, false);
                EXPECT_TRUE(option->hasMetalFramesCache());
                ++sheets;
            }
            if (option->hasAttach()) {
                rotated += expectExactFrames(car_en, option, true);
                EXPECT_TRUE(option->hasAttachFramesCache());
                ++sheets;
            }
        }
    }
    EXPECT_GT(sheets, 10);
    EXPECT_GT(rotated, 0);
    // The sheets are cached under their double-slash URLs.
    auto option = car->parts()[0]->options()[0];
    EXPECT_NE(option->metalFileURL()->find("/static/model//" + car_en + "/"), std::string::npos);
    EXPECT_TRUE(WIImageCache::sharedImageCache()->diskImageExistsWithKey(option->metalFileURL()));
}

TEST_F(QVNSpriteSheetTest, AnOptionWithBothSheetsReportsProgressOnlyForItsAttachSheet) {
    auto car = describedCar(defaultCar());
    auto option = withBothSheets(car);
    ASSERT_TRUE(option);
    const auto attachBytes = catalogue->file(defaultCar() + "/" + *option->attachFile())->bytes.length();
    ASSERT_NE(catalogue->file(defaultCar() + "/" + *option->metalFile())->bytes.length(), attachBytes);
    std::set<std::int64_t> expected;
    int calls = 0;
    ASSERT_FALSE(download(option, [&](std::int64_t, std::int64_t total) {
        ++calls;
        // An unknown length (-1) may come before the response.
        if (total >= 0) expected.insert(total);
    }));
    EXPECT_GT(calls, 0);
    EXPECT_EQ(expected, std::set<std::int64_t>{static_cast<std::int64_t>(attachBytes)});
}

TEST_F(QVNSpriteSheetTest, FramesAreRebuiltFromDiskAndASheetGoneFromTheImageCacheIsNotCached) {
    const std::string car_en = defaultCar();
    auto first = describedCar(car_en);
    ASSERT_EQ(loadOptions(first), std::optional<bool>(true));

    auto again = carNamed(car_en);
    again->prepareForModify(again->cacheJson());
    ASSERT_FALSE(again->parts().empty());
    EXPECT_TRUE(again->hasSelectedOptionsCache());
    WIImageCache::sharedImageCache()->clearMemory();
    bool ok = false;
    again->setupOptionsFromCacheWithCompletion([&](bool result) { ok = result; });
    EXPECT_TRUE(ok);
    for (const auto& part : again->parts()) {
        auto option = part->selectedOption();
        if (option && option->hasMetalFile()) expectExactFrames(car_en, option, false);
        if (option && option->hasAttach()) expectExactFrames(car_en, option, true);
    }

    // The sheet leaves the image cache's disk: the option no longer counts as cached.
    auto option = again->parts()[0]->selectedOption();
    ASSERT_TRUE(option && option->hasMetalFile());
    bool removed = false;
    WIImageCache::sharedImageCache()->removeImageForKeyWithCompletion(option->metalFileURL(),
                                                                      [&] { removed = true; });
    ASSERT_TRUE(waitUntil([&] { return removed; }));
    EXPECT_TRUE(option->hasMetalFramesCache());
    EXPECT_FALSE(option->hasCache());
    EXPECT_FALSE(again->hasSelectedOptionsCache());
    again->setupOptionsFromCacheWithCompletion([&](bool result) { ok = result; });
    EXPECT_FALSE(ok);
}

TEST_F(QVNSpriteSheetTest, TintingRecoloursTheMetalSheetAndNilDropsIt) {
    auto car = describedCar(defaultCar());
    Ref<QVNPart> colourable;
    for (const auto& part : car->parts())
        if (part->canColor() && part->selectedOption() && part->selectedOption()->hasMetalFile())
            colourable = part;
    ASSERT_TRUE(colourable);
    auto option = colourable->selectedOption();
    ASSERT_FALSE(download(option));
    Ref<UIImage> plain = option->imageForAngle("05");
    colourable->setTintColor(UIColor::colorWithRed(0.9, 0.1, 0.1, 1));
    // The angle asked for is tinted at once; the others arrive from the background work.
    Ref<UIImage> tinted = option->imageForAngle("05");
    EXPECT_EQ(option->tintedImages().count("05"), 1u);
    ASSERT_TRUE(waitUntil([&] { return option->tintedImages().size() == 25u; }));
    EXPECT_EQ(option->imageForAngle("05"), tinted);
    ASSERT_TRUE(tinted);
    EXPECT_NE(tinted, plain);
    EXPECT_FALSE(samePixels(tinted, plain));
    EXPECT_EQ(tinted->size().width, plain->size().width);
    // Position and canvas come from the plain picture.
    EXPECT_EQ(option->imageOriginForAngle("05").x, UIImage_texture::getSourceOrigin(plain).x);
    option->setTintColor(nullptr);
    EXPECT_TRUE(option->tintedImages().empty());
    EXPECT_EQ(option->imageForAngle("05"), plain);

    // The category's tint has the same colours.
    auto sheet = WIImageCache::sharedImageCache()->imageFromDiskCacheForKey(option->metalFileURL());
    auto blended = UIImage_BlendColor::blendColor(sheet, UIColor::colorWithRed(0.9, 0.1, 0.1, 1));
    ASSERT_TRUE(blended);
    EXPECT_EQ(blended->size().width, sheet->size().width);
    EXPECT_FALSE(UIImage_BlendColor::blendColor(nullptr, UIColor::redColor()));
}

TEST_F(QVNSpriteSheetTest, AnglesTintedOneByOneMatchTheTintedSheetAndANewerColourWins) {
    auto car = describedCar(defaultCar());
    Ref<QVNPart> colourable;
    for (const auto& part : car->parts())
        if (part->canColor() && part->selectedOption() && part->selectedOption()->hasMetalFile())
            colourable = part;
    ASSERT_TRUE(colourable);
    auto option = colourable->selectedOption();
    ASSERT_FALSE(download(option));
    // The sheet tinted whole and cut again, as each tint once did.
    auto sheet = WIImageCache::sharedImageCache()->imageFromDiskCacheForKey(option->metalFileURL());
    ASSERT_TRUE(sheet);
    auto cutFromTinted = [&](GLfloat r, GLfloat g, GLfloat b) {
        auto filter = make<GPXMonochromeFilter>();
        filter->setColor({r, g, b, 1.0f});
        return QVNOption::createImagesAndAnglesWithImage(filter->imageByFilteringImage(sheet),
                                                         option->cacheOfMetalFrames());
    };
    const auto blue = cutFromTinted(0.1f, 0.2f, 0.9f);

    // Red, then blue before the red work could finish: only blue arrives.
    option->setTintColor(UIColor::colorWithRed(0.9, 0.1, 0.1, 1));
    option->setTintColor(UIColor::colorWithRed(0.1, 0.2, 0.9, 1));
    EXPECT_TRUE(samePixels(option->imageForAngle("12"), blue.at("12")));  // the angle on screen, at once
    ASSERT_TRUE(waitUntil([&] { return option->tintedImages().size() == 25u; }));
    testsupport::pumpMainRunLoop(0.2);  // anything late from the red work would land now
    for (const auto& [angle, picture] : blue) {
        EXPECT_TRUE(samePixels(option->imageForAngle(angle), picture)) << angle;
    }
    // Dropping the tint drops the work too.
    option->setTintColor(UIColor::colorWithRed(0.9, 0.1, 0.1, 1));
    option->setTintColor(nullptr);
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_TRUE(option->tintedImages().empty());
}

TEST_F(QVNSpriteSheetTest, ASheetWiderThan4096IsShownUntinted) {
    auto car = describedCar(defaultCar());
    Ref<QVNOption> wide;
    for (const auto& part : car->parts())
        for (const auto& option : part->options())
            if (option->hasMetalFile() && option->identifier() == std::string("yinqinggai_carbon"))
                wide = option;
    if (!wide) {
        for (const auto& part : car->parts())
            for (const auto& option : part->options()) {
                if (!option->hasMetalFile() || wide) continue;
                auto file = catalogue->file(defaultCar() + "/" + *option->metalFile());
                auto picture = file ? devserver::catalogue::decodePicture(file->bytes) : std::nullopt;
                if (picture && picture->width == 4097) wide = option;
            }
    }
    ASSERT_TRUE(wide);
    ASSERT_FALSE(download(wide));
    auto sheet = WIImageCache::sharedImageCache()->imageFromDiskCacheForKey(wide->metalFileURL());
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->size().width, 4097);
    Ref<UIImage> plain = wide->imageForAngle("03");
    wide->setTintColor(UIColor::blueColor());
    ASSERT_EQ(wide->tintedImages().size(), 25u);
    EXPECT_TRUE(samePixels(wide->imageForAngle("03"), plain));
}

TEST_F(QVNSpriteSheetTest, ASheetExactly4096WideIsTinted) {
    devserver::catalogue::Options options;
    options.wideSheetWidth = 4096;
    auto narrower = SampleCatalogue::generate(options);
    server.routes().addStatic(
        "/static/model/w4096/", [narrower](const std::string& name) -> std::optional<devserver::StaticFile> {
            auto file = narrower->file(std::string("sample_coupe/") + name);
            if (!file) return std::nullopt;
            return devserver::StaticFile{file->bytes.toString(), file->contentType, std::nullopt};
        });
    Ref<QVNOption> wide;
    for (const auto& part : narrower->car("sample_coupe")->parts)
        for (const auto& sample : part.options)
            if (sample.wideSheet) {
                Dictionary attributes{{"name", sample.name},
                                      {"identifier", sample.identifier},
                                      {"metalFile", sample.metalFile()}};
                wide = make<QVNOption>(attributes, server.modelPrefix() + "w4096", carFolder("w4096"));
            }
    ASSERT_TRUE(wide);
    NSFileManager::defaultManager()->createDirectoryAtPath(carFolder("w4096"), true);
    ASSERT_FALSE(download(wide));
    auto sheet = WIImageCache::sharedImageCache()->imageFromDiskCacheForKey(wide->metalFileURL());
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->size().width, 4096);
    Ref<UIImage> plain = wide->imageForAngle("03");
    wide->setTintColor(UIColor::blueColor());
    EXPECT_FALSE(samePixels(wide->imageForAngle("03"), plain));
}

TEST_F(QVNSpriteSheetTest, TintIsIgnoredWithoutAMetalSheet) {
    auto none = make<QVNOption>(Dictionary{{"name", "无"}, {"metalFile", ""}}, server.modelPrefix() + "x",
                                carFolder("x"));
    none->setTintColor(UIColor::redColor());
    EXPECT_FALSE(none->tintColor());
    EXPECT_FALSE(download(none));
}

// ---- downloads that must fail ---------------------------------------------------------------------

namespace {

class QVNSpriteSheetFailureTest : public QVNSpriteSheetTest {
  protected:
    void SetUp() override {
        QVNSpriteSheetTest::SetUp();
        files = std::make_shared<ServedFiles>();
        serveFolder("bad", files, defaultCar());
        NSFileManager::defaultManager()->createDirectoryAtPath(carFolder("bad"), true);
        // A metal-only option of the default car, served from the folder "bad".
        auto sample = catalogue->car(defaultCar());
        for (const auto& part : sample->parts)
            for (const auto& o : part.options)
                if (o.hasMetal && !o.hasAttach() && !o.wideSheet && sheetName.empty()) {
                    sheetName = o.metalFile();
                    tableName = o.identifier + "_metal.json";
                }
        option = make<QVNOption>(Dictionary{{"name", "x"}, {"identifier", "x"}, {"metalFile", sheetName}},
                                 server.modelPrefix() + "bad", carFolder("bad"));
        table = NSJSONSerialization::JSONObjectWithData(
            catalogue->file(defaultCar() + "/" + tableName)->bytes, NSJSONReadingMutableContainers, nullptr);
    }
    void expectRefused(long code = 0) {
        Ref<NSError> error = download(option);
        ASSERT_TRUE(error);
        if (code) {
            EXPECT_EQ(error->domain(), QVNStudioErrorDomain);
            EXPECT_EQ(error->code(), code);
        }
        EXPECT_FALSE(option->hasCache());
        EXPECT_FALSE(option->hasMetalFramesCache());
        EXPECT_TRUE(option->images().empty());
    }
    std::string tablePath() const { return "/static/model/bad/" + tableName; }

    std::shared_ptr<ServedFiles> files;
    std::string sheetName, tableName;
    Ref<QVNOption> option;
    Value table;
};

}  // namespace

TEST_F(QVNSpriteSheetFailureTest, TheUnbentOptionLoads) {
    ASSERT_FALSE(download(option));
    EXPECT_TRUE(option->hasCache());
}

TEST_F(QVNSpriteSheetFailureTest, ABadEntryLosesOnlyItsOwnAngle) {
    // The first entry lies wholly outside the sheet, the second has no source values, the third
    // is not an entry at all: the option still loads, without the first angle.
    Dictionary bent = table.deepCopy(true).dictionary()->mutableCopy();
    Array frames = bent["frames"].array()->mutableCopy();
    ASSERT_GE(frames.count(), 3u);
    Dictionary first = frames[0].dictionary()->mutableCopy();
    first.setObject("frame", Dictionary{{"x", 5000}, {"y", 0}, {"w", 10}, {"h", 10}});
    Dictionary second = frames[1].dictionary()->mutableCopy();
    second.removeObjectForKey("spriteSourceSize");
    second.removeObjectForKey("sourceSize");
    frames.replaceObjectAtIndex(0, first);
    frames.replaceObjectAtIndex(1, second);
    frames.addObject(Value("junk"));
    bent.setObject("frames", frames);
    files->set(tableName, NSJSONSerialization::dataWithJSONObject(bent, 0, nullptr)->toString(),
               "application/json");
    ASSERT_FALSE(download(option));
    EXPECT_TRUE(option->hasCache());
    const std::string firstKey = first["filename"].string()->substr(0, 2);
    const std::string secondKey = second["filename"].string()->substr(0, 2);
    EXPECT_FALSE(option->imageForAngle(firstKey));
    ASSERT_TRUE(option->imageForAngle(secondKey));
    EXPECT_EQ(option->images().size(), frames.count() - 2);
    EXPECT_EQ(option->imageOriginForAngle(secondKey).x, 0);
    EXPECT_EQ(option->imageSizeForAngle(secondKey).width, option->imageForAngle(secondKey)->size().width);
}

TEST_F(QVNSpriteSheetFailureTest, ASheetThatIsNotAPictureIsRefused) {
    files->set(sheetName, "this is not a picture at all", "image/png");
    expectRefused();
}

TEST_F(QVNSpriteSheetFailureTest, AFrameTableThatIsNotJSONOrNotAnObjectIsRefused) {
    devserver::RouteControl control;
    control.body = devserver::RouteControl::Body::NotJSON;
    control.times = 1;
    server.setRouteControl(tablePath(), control);
    expectRefused();
    files->set(tableName, "[1, 2, 3]", "application/json");
    expectRefused();
    files->set(tableName, "{\"frames\": 7}", "application/json");
    expectRefused(QVNStudioErrorBadFrameTable);
    files->set(tableName, "{\"frames\": [{\"filename\": \"01.png\", \"fr", "application/json");
    expectRefused();
}

TEST_F(QVNSpriteSheetFailureTest, AServerThatDropsTheConnectionEndsTheLoad) {
    devserver::RouteControl drop;
    drop.dropConnection = true;
    server.setRouteControl(tablePath(), drop);
    expectRefused();
    server.clearRouteControls();
    // The sheet itself: the image manager remembers the failed address, so the option fails again.
    server.setRouteControl("/static/model/bad/" + sheetName, drop);
    auto other = make<QVNOption>(Dictionary{{"metalFile", sheetName}}, server.modelPrefix() + "bad/",
                                 carFolder("bad"));
    EXPECT_TRUE(download(other));
    EXPECT_FALSE(other->hasCache());
}

TEST_F(QVNSpriteSheetFailureTest, AStoppedServerEndsTheLoad) {
    server.stop();
    expectRefused();
}
