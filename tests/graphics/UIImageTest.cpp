#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>

#include "ImageCorpus.h"
#include "foundation/NSBundle.h"
#include "graphics/GraphicsTesting.h"
#include "graphics/UIImage.h"
#include "tests/support/TestSupport.h"

namespace {

CGImageRef pixels(std::size_t w, std::size_t h) {
    return detail::makeBGRAImage(w, h, NSData(std::vector<std::uint8_t>(w * h * 4, 255)), false);
}

TEST(UIImageTest, SizeIsInPointsAndSwapsForSideways) {
    auto image = UIImage::imageWithCGImage(pixels(40, 20), 2);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->size(), CGSizeMake(20, 10));
    EXPECT_EQ(image->scale(), 2);
    EXPECT_EQ(image->imageOrientation(), UIImageOrientation::Up);
    for (auto o : {UIImageOrientation::Left, UIImageOrientation::Right, UIImageOrientation::LeftMirrored,
                   UIImageOrientation::RightMirrored}) {
        EXPECT_EQ(UIImage::imageWithCGImage(pixels(40, 20), 2, o)->size(), CGSizeMake(10, 20));
    }
    EXPECT_EQ(UIImage::imageWithCGImage(pixels(40, 20), 1, UIImageOrientation::DownMirrored)->size(),
              CGSizeMake(40, 20));
    EXPECT_EQ(UIImage::imageWithCGImage(pixels(40, 20), 0)->scale(), 1);
    EXPECT_EQ(UIImage::imageWithCGImage(nullptr), nullptr);
}

TEST(UIImageTest, OrientationValuesAndExifMapping) {
    EXPECT_EQ(static_cast<int>(UIImageOrientation::RightMirrored), 7);
    const UIImageOrientation table[] = {UIImageOrientation::Up,           UIImageOrientation::Up,
                                        UIImageOrientation::UpMirrored,   UIImageOrientation::Down,
                                        UIImageOrientation::DownMirrored, UIImageOrientation::LeftMirrored,
                                        UIImageOrientation::Right,        UIImageOrientation::RightMirrored,
                                        UIImageOrientation::Left};
    for (int exif = 1; exif <= 8; ++exif) {
        EXPECT_EQ(UIImageOrientationFromEXIF(exif), table[exif]);
        EXPECT_EQ(UIImageOrientationToEXIF(table[exif]), exif);
    }
    EXPECT_EQ(UIImageOrientationFromEXIF(0), UIImageOrientation::Up);
    EXPECT_EQ(UIImageOrientationFromEXIF(42), UIImageOrientation::Up);
}

TEST(UIImageTest, ImageWithDataReadsEveryFormatAndOrientation) {
    corpus::JPEGRecipe recipe;
    recipe.exifOrientation = 6;
    auto jpeg = UIImage::imageWithData(corpus::makeJPEG(recipe), 2);
    ASSERT_NE(jpeg, nullptr);
    EXPECT_EQ(jpeg->imageOrientation(), UIImageOrientation::Right);
    EXPECT_EQ(jpeg->size(), CGSizeMake(24, 32));
    EXPECT_EQ(jpeg->CGImage()->width(), 64u);

    auto png = UIImage::imageWithData(corpus::makePNG({}, nullptr));
    ASSERT_NE(png, nullptr);
    EXPECT_EQ(png->size(), CGSizeMake(13, 11));
    EXPECT_TRUE(png->images().empty());

    corpus::GIFRecipe gif;
    gif.globalPalette = corpus::basicPalette();
    for (int i = 0; i < 3; ++i) {
        corpus::GIFFrame f;
        f.width = 8;
        f.height = 6;
        f.indices.assign(48, static_cast<std::uint8_t>(i));
        gif.frames.push_back(f);
    }
    auto still = UIImage::imageWithData(corpus::makeGIF(gif));
    ASSERT_NE(still, nullptr);
    EXPECT_TRUE(still->images().empty());  // the first frame only

    EXPECT_EQ(UIImage::imageWithData(NSData()), nullptr);
    EXPECT_EQ(UIImage::imageWithData(corpus::fromString("definitely not a picture")), nullptr);
    EXPECT_EQ(UIImage::imageWithData(corpus::fromString(std::string("RIFF\0\0\0\0WEBPVP8 ", 16))), nullptr);
}

TEST(UIImageTest, ContentsOfFileTakesTheScaleFromTheName) {
    testsupport::TemporaryDirectory dir;
    NSData png = corpus::makePNG({}, nullptr);
    ASSERT_TRUE(png.writeToFile(dir.file("icon@2x.png")));
    ASSERT_TRUE(png.writeToFile(dir.file("icon.png")));
    EXPECT_EQ(UIImage::imageWithContentsOfFile(dir.file("icon@2x.png"))->scale(), 2);
    EXPECT_EQ(UIImage::imageWithContentsOfFile(dir.file("icon.png"))->scale(), 1);
    EXPECT_EQ(UIImage::imageWithContentsOfFile(dir.file("missing.png")), nullptr);
    EXPECT_EQ(UIImage::imageWithContentsOfFile(dir.path()), nullptr);
    EXPECT_EQ(UIImage::imageWithContentsOfFile(""), nullptr);
}

class NamedImageTest : public ::testing::Test {
  protected:
    void SetUp() override { graphics_testing::setResourcesDirectory(dir.path()); }
    void TearDown() override { graphics_testing::setResourcesDirectory(""); }
    testsupport::TemporaryDirectory dir;
};

TEST_F(NamedImageTest, FindsVariantsAndCachesByName) {
    NSData png = corpus::makePNG({}, nullptr);
    ASSERT_TRUE(png.writeToFile(dir.file("plain.png")));
    ASSERT_TRUE(png.writeToFile(dir.file("sharp@2x.png")));
    ASSERT_TRUE(png.writeToFile(dir.file("photo.jpg")));
    ASSERT_EQ(::mkdir(dir.file("icons").c_str(), 0755), 0);
    ASSERT_TRUE(png.writeToFile(dir.file("icons/star.png")));

    auto plain = UIImage::imageNamed("plain");
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->scale(), 1);
    EXPECT_EQ(UIImage::imageNamed("plain"), plain);  // cached
    EXPECT_NE(UIImage::imageNamed("plain.png"), nullptr);
    auto sharp = UIImage::imageNamed("sharp");
    ASSERT_NE(sharp, nullptr);
    EXPECT_EQ(sharp->scale(), 2);
    EXPECT_EQ(sharp->size(), CGSizeMake(6.5, 5.5));
    EXPECT_NE(UIImage::imageNamed("sharp.png"), nullptr);
    EXPECT_NE(UIImage::imageNamed("photo.jpg"), nullptr);  // PNG bytes under a JPEG name: the bytes decide
    EXPECT_NE(UIImage::imageNamed("icons/star"), nullptr);
    EXPECT_EQ(UIImage::imageNamed("missing"), nullptr);
    EXPECT_EQ(UIImage::imageNamed(""), nullptr);
    EXPECT_EQ(UIImage::imageNamed("../plain"), nullptr);
}

TEST_F(NamedImageTest, ClearingTheCacheRereads) {
    NSData png = corpus::makePNG({}, nullptr);
    ASSERT_TRUE(png.writeToFile(dir.file("a.png")));
    auto first = UIImage::imageNamed("a");
    UIImage::clearNamedImageCache();
    auto second = UIImage::imageNamed("a");
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
}

TEST(NamedImageEnvironmentTest, UsesTheEnvironmentFolder) {
    testsupport::TemporaryDirectory dir;
    ASSERT_TRUE(corpus::makePNG({}, nullptr).writeToFile(dir.file("env-only.png")));
    ::setenv("APP_RESOURCES_DIR", dir.path().c_str(), 1);
    graphics_testing::setResourcesDirectory("");
    EXPECT_EQ(UIImage::resourcesDirectory(), dir.path());
    EXPECT_NE(UIImage::imageNamed("env-only"), nullptr);
    ::unsetenv("APP_RESOURCES_DIR");
    UIImage::clearNamedImageCache();
}

// Without either, the pictures are those of the app's bundle, wherever it was started from (the
// working folder has none of them).
TEST(NamedImageEnvironmentTest, ElseUsesTheMainBundlesFolder) {
    testsupport::TemporaryDirectory dir;
    ASSERT_TRUE(corpus::makePNG({}, nullptr).writeToFile(dir.file("bundle-only.png")));
    const char* env = std::getenv("APP_RESOURCES_DIR");
    const std::string savedEnv = env ? env : "";
    ::unsetenv("APP_RESOURCES_DIR");
    const std::string savedBundle = NSBundle::mainBundle()->bundlePath();
    NSBundle::setMainBundlePath(dir.path());
    graphics_testing::setResourcesDirectory("");
    UIImage::clearNamedImageCache();
    EXPECT_EQ(UIImage::resourcesDirectory(), NSBundle::mainBundle()->resourcePath());
    EXPECT_NE(UIImage::imageNamed("bundle-only"), nullptr);
    NSBundle::setMainBundlePath(savedBundle);
    if (!savedEnv.empty()) ::setenv("APP_RESOURCES_DIR", savedEnv.c_str(), 1);
    UIImage::clearNamedImageCache();
    EXPECT_EQ(UIImage::imageNamed("bundle-only"), nullptr);
}

TEST(AnimatedImageTest, FramesAndDuration) {
    auto a = UIImage::imageWithCGImage(pixels(10, 8), 2);
    auto b = UIImage::imageWithCGImage(pixels(10, 8), 2);
    auto animated = UIImage::animatedImageWithImages({a, nullptr, b}, 0.3);
    ASSERT_NE(animated, nullptr);
    EXPECT_EQ(animated->images().size(), 2u);
    EXPECT_EQ(animated->images()[0], a);
    EXPECT_DOUBLE_EQ(animated->duration(), 0.3);
    EXPECT_EQ(animated->size(), CGSizeMake(5, 4));
    EXPECT_EQ(animated->scale(), 2);
    EXPECT_EQ(animated->CGImage(), a->CGImage());
    EXPECT_EQ(UIImage::animatedImageWithImages({}, 1), nullptr);
    EXPECT_EQ(UIImage::animatedImageWithImages({nullptr}, 1), nullptr);
    EXPECT_DOUBLE_EQ(UIImage::animatedImageWithImages({a}, -2)->duration(), 0);
}

TEST(UIImageVariantTest, RenderingModeMakesANewImage) {
    auto image = UIImage::imageWithCGImage(pixels(4, 4));
    auto templ = image->imageWithRenderingMode(UIImageRenderingMode::AlwaysTemplate);
    EXPECT_NE(templ, image);
    EXPECT_EQ(templ->renderingMode(), UIImageRenderingMode::AlwaysTemplate);
    EXPECT_EQ(image->renderingMode(), UIImageRenderingMode::Automatic);
    EXPECT_EQ(templ->CGImage(), image->CGImage());
}

TEST(UIImageVariantTest, CapsForResizableAndStretchableImages) {
    auto image = UIImage::imageWithCGImage(pixels(21, 30));
    auto resizable = image->resizableImageWithCapInsets(UIEdgeInsetsMake(1, 2, 3, 4));
    EXPECT_EQ(resizable->capInsets(), UIEdgeInsetsMake(1, 2, 3, 4));
    EXPECT_EQ(resizable->resizingMode(), UIImageResizingMode::Tile);
    EXPECT_EQ(image->resizableImageWithCapInsets({}, UIImageResizingMode::Stretch)->resizingMode(),
              UIImageResizingMode::Stretch);
    auto stretch = image->stretchableImageWithLeftCapWidth(10, 14);
    EXPECT_EQ(stretch->leftCapWidth(), 10);
    EXPECT_EQ(stretch->topCapHeight(), 14);
    EXPECT_EQ(stretch->capInsets(), UIEdgeInsetsMake(14, 10, 15, 10));
    auto widthOnly = image->stretchableImageWithLeftCapWidth(10, 0);
    EXPECT_EQ(widthOnly->capInsets(), UIEdgeInsetsMake(0, 10, 0, 10));
    // Variants keep the other attributes.
    auto both = stretch->imageWithRenderingMode(UIImageRenderingMode::AlwaysOriginal);
    EXPECT_EQ(both->capInsets(), stretch->capInsets());
    EXPECT_EQ(image->capInsets(), UIEdgeInsetsZero);
}

}  // namespace
