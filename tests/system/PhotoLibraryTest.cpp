#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "foundation/FoundationTesting.h"
#include "foundation/NSBundle.h"
#include "foundation/NSThread.h"
#include "graphics/UIGraphics.h"
#include "graphics/UIImage.h"
#include "system/ALAssetsLibrary.h"
#include "system/PhotoAlbum.h"
#include "system/SystemTesting.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"

namespace {

struct RGB {
    int r, g, b;
};

// A picture made of vertical bands of colours, equally wide.
Ref<UIImage> bands(int width, int height, std::vector<RGB> colours, bool opaque = true) {
    UIGraphicsBeginImageContextWithOptions({static_cast<double>(width), static_cast<double>(height)}, opaque,
                                           1);
    double band = static_cast<double>(width) / colours.size();
    for (std::size_t i = 0; i < colours.size(); ++i) {
        CGContextSetRGBFillColor(UIGraphicsGetCurrentContext(), colours[i].r / 255.0, colours[i].g / 255.0,
                                 colours[i].b / 255.0, opaque ? 1 : 0.5);
        UIRectFill({band * i, 0, band, static_cast<double>(height)});
    }
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

Ref<UIImage> solid(int width, int height, bool opaque = true) {
    return bands(width, height, {{200, 40, 40}}, opaque);
}

// The colour at a pixel of an image.
RGB pixel(const CGImageRef& image, std::size_t x, std::size_t y) {
    NSData bytes = detail::pixelsAsPremultipliedBGRA(*image);
    const std::uint8_t* p = bytes.bytes() + (y * image->width() + x) * 4;
    return {p[2], p[1], p[0]};
}

bool near(RGB a, RGB b) {
    return std::abs(a.r - b.r) < 12 && std::abs(a.g - b.g) < 12 && std::abs(a.b - b.b) < 12;
}

class PhotoLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The app as it ships: no localisations of its own, developed in Chinese.
        NSBundle::setMainBundlePath(bundle_.path());
        system_testing::resetPhotoLibrary();
        detail::setPhotoAlbumDirectory(album_.path());
        system_testing::setPhotoAlbumSaveError(nullptr);
    }
    void TearDown() override {
        testsupport::drainMainRunLoop();
        system_testing::resetPhotoLibrary();
        detail::setPhotoAlbumDirectory("");
        system_testing::setPhotoAlbumSaveError(nullptr);
        foundation_testing::resetBundles();
    }

    // Every group of the types, collected through a full enumeration.
    std::vector<Ref<ALAssetsGroup>> groups(ALAssetsGroupType types = ALAssetsGroupAll) {
        std::vector<Ref<ALAssetsGroup>> out;
        bool ended = false;
        make<ALAssetsLibrary>()->enumerateGroupsWithTypes(
            types,
            [&](const Ref<ALAssetsGroup>& group, bool*) {
                if (group) {
                    out.push_back(group);
                } else {
                    ended = true;
                }
            },
            [&](const Ref<NSError>&) { ended = true; });
        EXPECT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return ended; }));
        return out;
    }
    Ref<ALAssetsGroup> savedPhotos() {
        for (const auto& g : groups(ALAssetsGroupSavedPhotos)) return g;
        return nullptr;
    }
    static std::vector<Ref<ALAsset>> assetsOf(const Ref<ALAssetsGroup>& group,
                                              NSEnumerationOptions options = 0) {
        std::vector<Ref<ALAsset>> out;
        group->enumerateAssetsWithOptions(options, [&](const Ref<ALAsset>& asset, std::size_t, bool*) {
            if (asset) out.push_back(asset);
        });
        return out;
    }
    std::vector<std::string> albumFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(album_.path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    testsupport::TemporaryDirectory album_, bundle_;
};

// ---- saving ----------------------------------------------------------------------------------------

struct SaveResult {
    bool called = false;
    Ref<UIImage> image;
    Ref<NSError> error;
    void* context = nullptr;
    bool onMain = false;
};

UIImageSaveCompletion recordInto(SaveResult& result) {
    return [&result](const Ref<UIImage>& image, const Ref<NSError>& error, void* context) {
        result = {true, image, error, context, NSThread::isMainThread()};
    };
}

TEST_F(PhotoLibraryTest, SavingWritesAJPEGAndCompletesLaterWithoutError) {
    auto screen = make<NSObject>();
    SaveResult result;
    int token = 0;
    auto image = solid(40, 30);
    UIImageWriteToSavedPhotosAlbum(image, screen, recordInto(result), &token);
    EXPECT_FALSE(result.called);  // never inline
    EXPECT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return result.called; }));
    EXPECT_FALSE(result.error);
    EXPECT_EQ(result.image, image);
    EXPECT_EQ(result.context, &token);
    EXPECT_TRUE(result.onMain);
    EXPECT_EQ(albumFiles(), (std::vector<std::string>{"IMG_0001.JPG"}));
    auto saved = UIImage::imageWithContentsOfFile(album_.file("IMG_0001.JPG"));
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->CGImage()->width(), 40u);
}

TEST_F(PhotoLibraryTest, TransparentPicturesAreSavedAsPNGNumberedAfterTheHighest) {
    std::ofstream(album_.file("IMG_0041.JPG")) << "someone else's picture";
    UIImageWriteToSavedPhotosAlbum(solid(10, 10, false), nullptr, nullptr);
    UIImageWriteToSavedPhotosAlbum(solid(10, 10), nullptr, nullptr);
    EXPECT_EQ(albumFiles(), (std::vector<std::string>{"IMG_0041.JPG", "IMG_0042.PNG", "IMG_0043.JPG"}));
}

TEST_F(PhotoLibraryTest, AGoneTargetHearsNothing) {
    SaveResult result;
    auto screen = make<NSObject>();
    UIImageWriteToSavedPhotosAlbum(solid(8, 8), screen, recordInto(result));
    screen.reset();
    testsupport::drainMainRunLoop();
    EXPECT_FALSE(result.called);
    EXPECT_EQ(albumFiles().size(), 1u);  // saved all the same
}

TEST_F(PhotoLibraryTest, AnInjectedErrorReachesTheCompletionAndNothingIsWritten) {
    auto injected = NSError::errorWithDomain(ALAssetsLibraryErrorDomain, ALAssetsLibraryWriteDiskSpaceError);
    system_testing::setPhotoAlbumSaveError(injected);
    SaveResult result;
    auto screen = make<NSObject>();
    UIImageWriteToSavedPhotosAlbum(solid(8, 8), screen, recordInto(result));
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return result.called; }));
    EXPECT_EQ(result.error, injected);
    EXPECT_TRUE(albumFiles().empty());
}

TEST_F(PhotoLibraryTest, RefusedAccessAndNullPicturesFail) {
    auto screen = make<NSObject>();
    SaveResult result;
    UIImageWriteToSavedPhotosAlbum(nullptr, screen, recordInto(result));
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return result.called; }));
    ASSERT_TRUE(result.error);
    EXPECT_EQ(result.error->code(), ALAssetsLibraryWriteInvalidDataError);

    system_testing::setPhotoLibraryAuthorizationStatus(ALAuthorizationStatusDenied);
    result = {};
    UIImageWriteToSavedPhotosAlbum(solid(4, 4), screen, recordInto(result));
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return result.called; }));
    ASSERT_TRUE(result.error);
    EXPECT_EQ(result.error->domain(), ALAssetsLibraryErrorDomain);
    EXPECT_EQ(result.error->code(), ALAssetsLibraryAccessUserDeniedError);
    EXPECT_TRUE(albumFiles().empty());
}

TEST_F(PhotoLibraryTest, AFailedWriteIsReported) {
    std::ofstream(album_.file("blocked")) << "a file where the folder should be";
    detail::setPhotoAlbumDirectory(album_.file("blocked"));
    auto screen = make<NSObject>();
    SaveResult result;
    UIImageWriteToSavedPhotosAlbum(solid(4, 4), screen, recordInto(result));
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return result.called; }));
    ASSERT_TRUE(result.error);
    EXPECT_EQ(result.error->code(), ALAssetsLibraryWriteFailedError);
}

TEST_F(PhotoLibraryTest, SavedPicturesBecomeTheNewestSavedPhotos) {
    UIImageWriteToSavedPhotosAlbum(solid(20, 10), nullptr, nullptr);
    auto group = savedPhotos();
    ASSERT_TRUE(group);
    auto assets = assetsOf(group);
    ASSERT_EQ(assets.size(), 1u);
    auto rep = assets[0]->defaultRepresentation();
    EXPECT_EQ(rep->filename(), "IMG_0001.JPG");
    EXPECT_EQ(rep->UTI(), "public.jpeg");
    EXPECT_EQ(rep->dimensions().width, 20);
    EXPECT_EQ(static_cast<std::uintmax_t>(rep->size()),
              std::filesystem::file_size(album_.file("IMG_0001.JPG")));
}

TEST_F(PhotoLibraryTest, WritingThroughTheLibraryAnswersAnAssetURL) {
    auto library = make<ALAssetsLibrary>();
    Ref<NSURL> saved;
    bool done = false;
    library->writeImageToSavedPhotosAlbum(solid(12, 6)->CGImage(), ALAssetOrientationUp,
                                          [&](const Ref<NSURL>& u, const Ref<NSError>& e) {
                                              EXPECT_FALSE(e);
                                              saved = u;
                                              done = true;
                                          });
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return done; }));
    ASSERT_TRUE(saved);
    EXPECT_EQ(*saved->scheme(), "assets-library");
    Ref<ALAsset> found;
    done = false;
    library->assetForURL(
        saved, [&](const Ref<ALAsset>& a) { found = a, done = true; }, nullptr);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return done; }));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->valueForProperty(ALAssetPropertyAssetURL).objectAs<NSURL>()->absoluteString(),
              saved->absoluteString());
}

TEST_F(PhotoLibraryTest, ConcurrentSavesGetDistinctFiles) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 5; ++i) UIImageWriteToSavedPhotosAlbum(solid(6, 6), nullptr, nullptr);
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(albumFiles().size(), 20u);
    EXPECT_EQ(savedPhotos()->numberOfAssets(), 20);
}

// ---- groups ----------------------------------------------------------------------------------------

TEST_F(PhotoLibraryTest, GroupsComeOneTurnEachSavedPhotosFirstThenTheEnd) {
    system_testing::addPhotoGroup("Trips", ALAssetsGroupAlbum);
    system_testing::addPhotoGroup("Shared", ALAssetsGroupPhotoStream);
    std::vector<std::string> events;
    bool ended = false;
    make<ALAssetsLibrary>()->enumerateGroupsWithTypes(
        ALAssetsGroupAll,
        [&](const Ref<ALAssetsGroup>& group, bool*) {
            EXPECT_TRUE(NSThread::isMainThread());
            if (!group) {
                events.push_back("end");
                ended = true;
                return;
            }
            events.push_back(group->valueForProperty(ALAssetsGroupPropertyName).stringValue());
            // Work queued by a callback runs before the next group arrives.
            NSRunLoop::mainRunLoop()->performBlock([&events] { events.push_back("queued"); });
        },
        nullptr);
    EXPECT_TRUE(events.empty());
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return ended; }));
    EXPECT_EQ(events,
              (std::vector<std::string>{"相机胶卷", "queued", "Trips", "queued", "Shared", "queued", "end"}));
}

TEST_F(PhotoLibraryTest, TheSavedPhotosAreNamedInTheAppsLanguage) {
    struct Case {
        const char* what;
        std::vector<std::string> lproj;  // the app's localisations
        const char* developmentRegion;   // nullptr: as the app ships
        std::vector<std::string> preferred;
        const char* name;
    };
    const Case cases[] = {
        {"as shipped", {}, nullptr, {"zh-Hans", "en"}, "相机胶卷"},
        {"as shipped, English user", {}, nullptr, {"en"}, "相机胶卷"},
        {"developed in English", {}, "en", {"zh-Hans", "en"}, "Camera Roll"},
        {"developed in legacy English", {}, "English", {"zh-Hans"}, "Camera Roll"},
        {"developed in plain Chinese", {}, "zh", {"en"}, "相机胶卷"},
        {"developed in Taiwan", {}, "zh_TW", {"zh-Hans"}, "相機膠卷"},
        {"traditional script", {}, "zh-Hant", {"en"}, "相機膠卷"},
        {"simplified in Hong Kong", {}, "zh-Hans-HK", {"en"}, "相机胶卷"},
        {"a language without a name here", {}, "fr", {"fr"}, "Camera Roll"},
        {"no region at all", {}, "", {"zh-Hans"}, "Camera Roll"},
        {"English only", {"en", "Base"}, nullptr, {"zh-Hans", "en"}, "Camera Roll"},
        {"both, Chinese user", {"en", "zh-Hans"}, "en", {"zh-Hans", "en"}, "相机胶卷"},
        {"both, English user", {"en", "zh-Hans"}, nullptr, {"en", "zh-Hans"}, "Camera Roll"},
        {"regional preference", {"en", "zh-Hans"}, "en", {"zh-Hans-CN"}, "相机胶卷"},
        {"only a base", {"Base"}, "en", {"zh-Hans"}, "Camera Roll"},
        {"neither preferred", {"en", "zh-Hant"}, "zh_CN", {"fr"}, "相机胶卷"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TemporaryDirectory app;
        for (const auto& language : c.lproj) std::filesystem::create_directory(app.file(language + ".lproj"));
        foundation_testing::resetBundles();
        NSBundle::setMainBundlePath(app.path());
        if (c.developmentRegion) NSBundle::setInfoValue(kCFBundleDevelopmentRegionKey, c.developmentRegion);
        NSBundle::setPreferredLanguages(c.preferred);
        auto group = savedPhotos();
        ASSERT_TRUE(group);
        EXPECT_EQ(group->valueForProperty(ALAssetsGroupPropertyName).stringValue(), c.name);
    }
    // The name follows the language as it is when asked, on the same group object; other groups
    // keep the names they were given.
    std::string trips = system_testing::addPhotoGroup("Trips", ALAssetsGroupAlbum);
    auto list = groups();
    ASSERT_EQ(list.size(), 2u);
    foundation_testing::resetBundles();
    NSBundle::setMainBundlePath(bundle_.path());
    EXPECT_EQ(list[0]->valueForProperty(ALAssetsGroupPropertyName).stringValue(), "相机胶卷");
    NSBundle::setInfoValue(kCFBundleDevelopmentRegionKey, "en");
    EXPECT_EQ(list[0]->valueForProperty(ALAssetsGroupPropertyName).stringValue(), "Camera Roll");
    EXPECT_EQ(list[1]->valueForProperty(ALAssetsGroupPropertyName).stringValue(), "Trips");
    EXPECT_EQ(list[0]->valueForProperty(ALAssetsGroupPropertyPersistentID).stringValue(),
              system_testing::savedPhotosGroupID());
}

TEST_F(PhotoLibraryTest, OnlyGroupsOfTheAskedTypesAreListed) {
    system_testing::addPhotoGroup("Trips", ALAssetsGroupAlbum);
    system_testing::addPhotoGroup("Faces", ALAssetsGroupFaces);
    system_testing::addPhotoGroup("Events", ALAssetsGroupEvent);
    auto list = groups(ALAssetsGroupLibrary | ALAssetsGroupAlbum | ALAssetsGroupEvent | ALAssetsGroupFaces |
                       ALAssetsGroupPhotoStream);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0]->valueForProperty(ALAssetsGroupPropertyName).stringValue(), "Trips");
    EXPECT_EQ(groups(ALAssetsGroupSavedPhotos).size(), 1u);
    EXPECT_TRUE(groups(ALAssetsGroupLibrary).empty());
}

TEST_F(PhotoLibraryTest, StoppingEndsTheEnumerationWithoutTheFinalCall) {
    system_testing::addPhotoGroup("Trips", ALAssetsGroupAlbum);
    int calls = 0;
    bool sawEnd = false;
    make<ALAssetsLibrary>()->enumerateGroupsWithTypes(
        ALAssetsGroupAll,
        [&](const Ref<ALAssetsGroup>& group, bool* stop) {
            ++calls;
            if (!group) sawEnd = true;
            *stop = true;
        },
        nullptr);
    testsupport::drainMainRunLoop();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(sawEnd);
}

TEST_F(PhotoLibraryTest, RefusedAccessGivesOnlyTheFailure) {
    for (auto [status, code] :
         {std::pair{ALAuthorizationStatusDenied, ALAssetsLibraryAccessUserDeniedError},
          std::pair{ALAuthorizationStatusRestricted, ALAssetsLibraryAccessGloballyDeniedError}}) {
        system_testing::setPhotoLibraryAuthorizationStatus(status);
        Ref<NSError> error;
        int groupCalls = 0;
        make<ALAssetsLibrary>()->enumerateGroupsWithTypes(
            ALAssetsGroupAll, [&](const Ref<ALAssetsGroup>&, bool*) { ++groupCalls; },
            [&](const Ref<NSError>& e) {
                EXPECT_TRUE(NSThread::isMainThread());
                error = e;
            });
        ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return error != nullptr; }));
        EXPECT_EQ(error->code(), code);
        EXPECT_EQ(groupCalls, 0);
    }
}

TEST_F(PhotoLibraryTest, TheFirstUseAuthorises) {
    EXPECT_EQ(ALAssetsLibrary::authorizationStatus(), ALAuthorizationStatusNotDetermined);
    groups();
    EXPECT_EQ(ALAssetsLibrary::authorizationStatus(), ALAuthorizationStatusAuthorized);
}

TEST_F(PhotoLibraryTest, GroupPropertiesAndPoster) {
    std::string id = system_testing::addPhotoGroup("Trips", ALAssetsGroupAlbum);
    auto group = make<ALAssetsGroup>(id);
    EXPECT_EQ(group->valueForProperty(ALAssetsGroupPropertyName).stringValue(), "Trips");
    EXPECT_EQ(group->valueForProperty(ALAssetsGroupPropertyType).unsignedLongLongValue(), ALAssetsGroupAlbum);
    EXPECT_EQ(group->valueForProperty(ALAssetsGroupPropertyPersistentID).stringValue(), id);
    EXPECT_TRUE(group->valueForProperty(ALAssetsGroupPropertyURL).objectAs<NSURL>());
    EXPECT_TRUE(group->valueForProperty("NoSuchProperty").isNil());
    EXPECT_FALSE(group->posterImage());
    system_testing::addPhoto(id, bands(90, 30, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}}));
    auto poster = group->posterImage();
    ASSERT_TRUE(poster);
    EXPECT_EQ(poster->height(), 156u);  // 78 points at the screen's scale
    EXPECT_EQ(poster->width(), 156u);
    EXPECT_TRUE(make<ALAssetsGroup>("unknown")->valueForProperty(ALAssetsGroupPropertyName).isNil());
}

TEST_F(PhotoLibraryTest, FiltersDecideWhatAGroupCountsAndShows) {
    std::string id = system_testing::addPhotoGroup("Mixed", ALAssetsGroupAlbum);
    system_testing::addPhoto(id, solid(4, 4));
    system_testing::addVideo(id, solid(4, 4), 4.9);
    system_testing::addPhoto(id, solid(4, 4));
    auto group = make<ALAssetsGroup>(id);
    EXPECT_EQ(group->numberOfAssets(), 3);
    group->setAssetsFilter(ALAssetsFilter::allPhotos());
    EXPECT_EQ(group->numberOfAssets(), 2);
    for (const auto& asset : assetsOf(group)) {
        EXPECT_EQ(asset->valueForProperty(ALAssetPropertyType).stringValue(), ALAssetTypePhoto);
    }
    group->setAssetsFilter(ALAssetsFilter::allVideos());
    EXPECT_EQ(group->numberOfAssets(), 1);
    group->setAssetsFilter(ALAssetsFilter::allAssets());
    EXPECT_EQ(group->numberOfAssets(), 3);
    group->setAssetsFilter(nullptr);
    EXPECT_EQ(group->numberOfAssets(), 3);
    // Each group object has its own filter.
    group->setAssetsFilter(ALAssetsFilter::allVideos());
    EXPECT_EQ(make<ALAssetsGroup>(id)->numberOfAssets(), 3);
}

TEST_F(PhotoLibraryTest, AssetsComeInOrderThenANilWithNotFound) {
    std::string id = system_testing::addPhotoGroup("Ordered", ALAssetsGroupAlbum);
    std::vector<std::string> urls;
    for (int i = 0; i < 4; ++i) urls.push_back(system_testing::addPhoto(id, solid(4, 4))->absoluteString());
    auto group = make<ALAssetsGroup>(id);
    std::vector<std::pair<std::string, std::size_t>> seen;
    group->enumerateAssetsUsingBlock([&](const Ref<ALAsset>& a, std::size_t index, bool*) {
        seen.push_back({a ? a->defaultRepresentation()->url()->absoluteString() : "nil", index});
    });
    ASSERT_EQ(seen.size(), 5u);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(seen[i], std::make_pair(urls[i], i));
    EXPECT_EQ(seen[4], std::make_pair(std::string("nil"), NSNotFound));

    seen.clear();
    group->enumerateAssetsWithOptions(
        NSEnumerationReverse, [&](const Ref<ALAsset>& a, std::size_t index, bool*) {
            seen.push_back({a ? a->defaultRepresentation()->url()->absoluteString() : "nil", index});
        });
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0], std::make_pair(urls[3], std::size_t{3}));
    EXPECT_EQ(seen[3], std::make_pair(urls[0], std::size_t{0}));

    std::vector<std::size_t> indexes;
    NSMutableIndexSet chosen;
    chosen.addIndex(1);
    chosen.addIndex(3);
    chosen.addIndex(99);  // past the end: skipped
    group->enumerateAssetsAtIndexes(
        chosen, 0, [&](const Ref<ALAsset>& a, std::size_t index, bool*) { indexes.push_back(index); });
    EXPECT_EQ(indexes, (std::vector<std::size_t>{1, 3, NSNotFound}));

    int calls = 0;
    group->enumerateAssetsUsingBlock([&](const Ref<ALAsset>&, std::size_t, bool* stop) {
        ++calls;
        *stop = true;
    });
    EXPECT_EQ(calls, 1);
    group->enumerateAssetsUsingBlock(nullptr);  // nothing to call
}

TEST_F(PhotoLibraryTest, AnEmptyGroupOnlyEnds) {
    auto group = make<ALAssetsGroup>(system_testing::addPhotoGroup("Empty", ALAssetsGroupAlbum));
    std::vector<std::size_t> indexes;
    group->enumerateAssetsUsingBlock([&](const Ref<ALAsset>& a, std::size_t index, bool*) {
        EXPECT_FALSE(a);
        indexes.push_back(index);
    });
    EXPECT_EQ(indexes, (std::vector<std::size_t>{NSNotFound}));
}

TEST_F(PhotoLibraryTest, OnlyAlbumsTakeAssets) {
    std::string album = system_testing::addPhotoGroup("Trips", ALAssetsGroupAlbum);
    auto photo = system_testing::addPhoto(system_testing::savedPhotosGroupID(), solid(4, 4));
    auto asset = assetsOf(savedPhotos()).front();
    auto albumGroup = make<ALAssetsGroup>(album);
    EXPECT_TRUE(albumGroup->isEditable());
    EXPECT_TRUE(albumGroup->addAsset(asset));
    EXPECT_TRUE(albumGroup->addAsset(asset));  // once only
    EXPECT_EQ(albumGroup->numberOfAssets(), 1);
    EXPECT_FALSE(savedPhotos()->isEditable());
    EXPECT_FALSE(savedPhotos()->addAsset(asset));
    EXPECT_FALSE(albumGroup->addAsset(nullptr));
    EXPECT_TRUE(asset->isEqual(*assetsOf(albumGroup).front()));
    EXPECT_FALSE(system_testing::addAssetToGroup(photo, "unknown"));
    EXPECT_FALSE(system_testing::addPhoto("unknown", solid(4, 4)));
    EXPECT_FALSE(system_testing::addPhoto(album, nullptr));
}

// ---- assets ----------------------------------------------------------------------------------------

TEST_F(PhotoLibraryTest, AssetPropertiesOfPhotosAndVideos) {
    std::string id = system_testing::addPhotoGroup("Mixed", ALAssetsGroupAlbum);
    auto when = NSDate::dateWithTimeIntervalSince1970(1'600'000'000);
    system_testing::addPhoto(id, solid(4, 4), when);
    system_testing::addVideo(id, solid(4, 4), 75.5, when);
    auto assets = assetsOf(make<ALAssetsGroup>(id));
    ASSERT_EQ(assets.size(), 2u);
    const auto& photo = assets[0];
    const auto& video = assets[1];
    EXPECT_EQ(photo->valueForProperty(ALAssetPropertyType).stringValue(), ALAssetTypePhoto);
    EXPECT_EQ(photo->valueForProperty(ALAssetPropertyDuration).stringValue(), ALErrorInvalidProperty);
    EXPECT_EQ(video->valueForProperty(ALAssetPropertyType).stringValue(), ALAssetTypeVideo);
    EXPECT_DOUBLE_EQ(video->valueForProperty(ALAssetPropertyDuration).doubleValue(), 75.5);
    ASSERT_TRUE(photo->valueForProperty(ALAssetPropertyDate).date());
    EXPECT_EQ(photo->valueForProperty(ALAssetPropertyDate).date()->timeIntervalSince1970(), 1'600'000'000);
    EXPECT_EQ(photo->valueForProperty(ALAssetPropertyRepresentations)[0].stringValue(), "public.png");
    EXPECT_EQ(photo->valueForProperty("Nonsense").stringValue(), ALErrorInvalidProperty);
    EXPECT_EQ(video->defaultRepresentation()->UTI(), "public.mpeg-4");
    EXPECT_TRUE(photo->representationForUTI("public.png"));
    EXPECT_FALSE(photo->representationForUTI("public.jpeg"));
}

TEST_F(PhotoLibraryTest, ThumbnailsAreSquareMiddlesOf78Points) {
    std::string id = system_testing::addPhotoGroup("Bands", ALAssetsGroupAlbum);
    system_testing::addPhoto(id, bands(300, 100, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}}));
    auto asset = assetsOf(make<ALAssetsGroup>(id)).front();
    auto thumb = asset->thumbnail();
    ASSERT_TRUE(thumb);
    EXPECT_EQ(thumb->width(), 156u);
    EXPECT_EQ(thumb->height(), 156u);
    // The middle band fills the square: the sides are cut away.
    EXPECT_TRUE(near(pixel(thumb, 2, 78), {0, 255, 0}));
    EXPECT_TRUE(near(pixel(thumb, 78, 78), {0, 255, 0}));
    EXPECT_TRUE(near(pixel(thumb, 153, 78), {0, 255, 0}));
}

TEST_F(PhotoLibraryTest, AspectRatioThumbnailKeepsTheShapeAndNeverEnlarges) {
    std::string id = system_testing::addPhotoGroup("Shapes", ALAssetsGroupAlbum);
    system_testing::addPhoto(id, solid(600, 400));
    system_testing::addPhoto(id, solid(90, 60));
    auto assets = assetsOf(make<ALAssetsGroup>(id));
    auto big = assets[0]->aspectRatioThumbnail();
    ASSERT_TRUE(big);
    EXPECT_EQ(big->height(), 156u);
    EXPECT_EQ(big->width(), 234u);
    auto small = assets[1]->aspectRatioThumbnail();
    ASSERT_TRUE(small);
    EXPECT_EQ(small->width(), 90u);
    EXPECT_EQ(small->height(), 60u);
}

TEST_F(PhotoLibraryTest, FullScreenImagesFitTheScreenFullResolutionIsWhole) {
    std::string id = system_testing::addPhotoGroup("Sizes", ALAssetsGroupAlbum);
    system_testing::addPhoto(id, bands(1500, 1000, {{10, 20, 30}, {200, 100, 50}}));
    system_testing::addPhoto(id, solid(100, 50));
    auto assets = assetsOf(make<ALAssetsGroup>(id));
    auto rep = assets[0]->defaultRepresentation();
    auto screen = rep->fullScreenImage();
    ASSERT_TRUE(screen);
    EXPECT_EQ(screen->width(), 750u);
    EXPECT_EQ(screen->height(), 500u);
    EXPECT_TRUE(near(pixel(screen, 10, 250), {10, 20, 30}));
    EXPECT_TRUE(near(pixel(screen, 740, 250), {200, 100, 50}));
    EXPECT_EQ(rep->fullResolutionImage()->width(), 1500u);
    EXPECT_EQ(rep->dimensions().height, 1000);
    auto small = assets[1]->defaultRepresentation()->fullScreenImage();
    EXPECT_EQ(small->width(), 100u);
    system_testing::setFullScreenPixelSize({320, 480});
    EXPECT_EQ(rep->fullScreenImage()->width(), 320u);
}

TEST_F(PhotoLibraryTest, RepresentationBytesAreTheStoredFile) {
    std::string id = system_testing::addPhotoGroup("Bytes", ALAssetsGroupAlbum);
    system_testing::addPhoto(id, solid(5, 5));
    auto rep = assetsOf(make<ALAssetsGroup>(id)).front()->defaultRepresentation();
    long long size = rep->size();
    ASSERT_GT(size, 8);
    std::vector<std::uint8_t> all(static_cast<std::size_t>(size) + 10);
    Ref<NSError> error;
    EXPECT_EQ(rep->getBytes(all.data(), 0, all.size(), &error), static_cast<std::size_t>(size));
    EXPECT_EQ(std::string(all.begin() + 1, all.begin() + 4), "PNG");
    EXPECT_TRUE(UIImage::imageWithData(NSData(all.data(), static_cast<std::size_t>(size))));
    std::uint8_t tail[4];
    EXPECT_EQ(rep->getBytes(tail, size - 2, 4, &error), 2u);
    EXPECT_EQ(rep->getBytes(tail, size, 4, &error), 0u);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), ALAssetsLibraryDataUnavailableError);
    EXPECT_EQ(rep->getBytes(tail, -1, 4, nullptr), 0u);
    EXPECT_EQ(rep->getBytes(nullptr, 0, 4, nullptr), 0u);
}

// ---- the album folder as another app sees it --------------------------------------------------------

TEST_F(PhotoLibraryTest, PicturesDroppedInTheFolderAppearAndRemovedOnesGo) {
    auto png = UIImagePNGRepresentation(solid(7, 3));
    ASSERT_TRUE(png);
    png->writeToFile(album_.file("IMG_0005.PNG"));
    png->writeToFile(album_.file("notes.txt"));
    EXPECT_EQ(savedPhotos()->numberOfAssets(), 1);
    png->writeToFile(album_.file("IMG_0002.png"));
    auto assets = assetsOf(savedPhotos());
    ASSERT_EQ(assets.size(), 2u);
    EXPECT_EQ(assets[1]->defaultRepresentation()->filename(), "IMG_0002.png");  // newest last
    std::filesystem::remove(album_.file("IMG_0005.PNG"));
    assets = assetsOf(savedPhotos());
    ASSERT_EQ(assets.size(), 1u);
    EXPECT_EQ(assets[0]->defaultRepresentation()->filename(), "IMG_0002.png");
}

TEST_F(PhotoLibraryTest, AssetLookupsFindUnknownAndRefuse) {
    auto library = make<ALAssetsLibrary>();
    bool done = false;
    Ref<ALAsset> found = make<ALAsset>(nullptr);
    library->assetForURL(
        NSURL::URLWithString("assets-library://asset/asset.JPG?id=NOPE&ext=JPG"),
        [&](const Ref<ALAsset>& a) { found = a, done = true; }, nullptr);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return done; }));
    EXPECT_FALSE(found);

    std::string id = system_testing::addPhotoGroup("Trips", ALAssetsGroupAlbum);
    Ref<ALAssetsGroup> group;
    done = false;
    library->groupForURL(
        NSURL::URLWithString("assets-library://group/?id=" + id),
        [&](const Ref<ALAssetsGroup>& g) { group = g, done = true; }, nullptr);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return done; }));
    ASSERT_TRUE(group);
    EXPECT_EQ(group->groupID(), id);

    system_testing::setPhotoLibraryAuthorizationStatus(ALAuthorizationStatusDenied);
    Ref<NSError> error;
    library->assetForURL(nullptr, nullptr, [&](const Ref<NSError>& e) { error = e; });
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return error != nullptr; }));
}

TEST_F(PhotoLibraryTest, DamagedPicturesInTheFolderAreLeftOut) {
    auto png = UIImagePNGRepresentation(bands(16, 16, {{1, 2, 3}, {250, 100, 0}}));
    auto jpeg = UIImageJPEGRepresentation(bands(16, 16, {{1, 2, 3}, {250, 100, 0}}), 0.8);
    ASSERT_TRUE(png && jpeg);
    std::ofstream(album_.file("IMG_0001.JPG")) << "not a picture";
    std::ofstream(album_.file("IMG_0002.PNG"));  // empty
    png->subdataWithRange(0, png->length() / 2).writeToFile(album_.file("IMG_0003.PNG"));
    EXPECT_EQ(savedPhotos()->numberOfAssets(), 0);
    for (unsigned seed = 0; seed < 120; ++seed) {
        const NSData& source = seed % 2 ? *png : *jpeg;
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%04u.%s", 100 + seed, seed % 2 ? "PNG" : "JPG");
        NSData::fromString(testsupport::mutate(source.toString(), seed)).writeToFile(album_.file(name));
    }
    auto group = savedPhotos();
    long count = group->numberOfAssets();
    EXPECT_LE(count, 120);
    // Whatever was accepted can be drawn.
    for (const auto& asset : assetsOf(group)) {
        EXPECT_TRUE(asset->thumbnail());
        EXPECT_TRUE(asset->defaultRepresentation()->fullScreenImage());
    }
    // A damaged file that is repaired is taken on the next look.
    png->writeToFile(album_.file("IMG_0002.PNG"));
    EXPECT_EQ(savedPhotos()->numberOfAssets(), count + 1);
}

TEST_F(PhotoLibraryTest, ADifferentAlbumFolderIsADifferentCameraRoll) {
    UIImageWriteToSavedPhotosAlbum(solid(4, 4), nullptr, nullptr);
    EXPECT_EQ(savedPhotos()->numberOfAssets(), 1);
    testsupport::TemporaryDirectory other;
    detail::setPhotoAlbumDirectory(other.path());
    EXPECT_EQ(detail::photoAlbumDirectory(), other.path());
    EXPECT_EQ(savedPhotos()->numberOfAssets(), 0);
}

}  // namespace
