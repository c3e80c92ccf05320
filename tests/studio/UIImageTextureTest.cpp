// Cutting pictures out of a sheet: rectangles, the quarter turn back of rotated frames, the
// source origin and size carried by a cut, and entries that must give nothing.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "studio/QVNOption.h"
#include "studio/UIImage+texture.h"
#include "tools/devserver/catalogue/Picture.h"

using devserver::catalogue::makeCGImage;
using devserver::catalogue::Picture;
using devserver::catalogue::pictureFromCGImage;

namespace {

// A picture whose pixel (x, y) is opaque with red x * 16 + 1, green y * 16 + 1: every pixel differs.
Picture numbered(int w, int h) {
    Picture p(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            auto* px = p.pixel(x, y);
            px[0] = static_cast<std::uint8_t>(x * 16 + 1);
            px[1] = static_cast<std::uint8_t>(y * 16 + 1);
            px[2] = 200;
            px[3] = 255;
        }
    return p;
}

Dictionary entry(const std::string& name, double x, double y, double w, double h, bool rotated, double ox = 0,
                 double oy = 0, double sw = 0, double sh = 0) {
    return Dictionary{{"filename", name},
                      {"frame", Dictionary{{"x", x}, {"y", y}, {"w", w}, {"h", h}}},
                      {"rotated", rotated},
                      {"trimmed", true},
                      {"spriteSourceSize", Dictionary{{"x", ox}, {"y", oy}, {"w", w}, {"h", h}}},
                      {"sourceSize", Dictionary{{"w", sw}, {"h", sh}}}};
}

Ref<UIImage> imageOf(const Picture& p) {
    return UIImage::imageWithCGImage(makeCGImage(p));
}

class UIImageTextureTest : public ::testing::Test {
  protected:
    // A 6-by-5 sheet holding, at (1, 1), the 3-by-2 picture `upright` turned a quarter clockwise
    // (2 wide, 3 high), and at (3, 1) the same picture upright.
    void SetUp() override {
        upright = numbered(3, 2);
        Picture sheet(6, 5);
        for (int j = 0; j < 2; ++j)
            for (int i = 0; i < 3; ++i) {
                // Upright (i, j) is stored at (x + h - 1 - j, y + i).
                std::copy_n(upright.pixel(i, j), 4, sheet.pixel(1 + 2 - 1 - j, 1 + i));
                std::copy_n(upright.pixel(i, j), 4, sheet.pixel(3 + i, 1 + j));
            }
        sheetImage = imageOf(sheet);
    }
    Picture upright;
    Ref<UIImage> sheetImage;
};

}  // namespace

TEST_F(UIImageTextureTest, ARotatedFrameIsTurnedBackUpright) {
    auto cut = UIImage_texture::trimmedSliceWithFrameInfo(sheetImage,
                                                          entry("01.png", 1, 1, 3, 2, true, 5, 6, 40, 30));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->size().width, 3);
    EXPECT_EQ(cut->size().height, 2);
    EXPECT_EQ(cut->scale(), 1.0);
    EXPECT_EQ(pictureFromCGImage(cut->CGImage()), upright);
    EXPECT_EQ(UIImage_texture::getSourceOrigin(cut).x, 5);
    EXPECT_EQ(UIImage_texture::getSourceOrigin(cut).y, 6);
    EXPECT_EQ(UIImage_texture::getSourceSize(cut).width, 40);
    EXPECT_EQ(UIImage_texture::getSourceSize(cut).height, 30);
}

TEST_F(UIImageTextureTest, AnUprightFrameIsCutAsItIs) {
    auto cut = UIImage_texture::trimmedSliceWithFrameInfo(sheetImage, entry("02.png", 3, 1, 3, 2, false));
    ASSERT_TRUE(cut);
    EXPECT_EQ(pictureFromCGImage(cut->CGImage()), upright);
}

TEST_F(UIImageTextureTest, RectanglesOfAnEntry) {
    // Frame w 100, h 40 rotated: cut from a 40-by-100 rectangle.
    Dictionary rotated = entry("01.png", 7, 9, 100, 40, true, 3, 4, 400, 240);
    CGRect r = UIImage_texture::sliceFrameWithFrameInfo(rotated);
    EXPECT_EQ(r.origin.x, 7);
    EXPECT_EQ(r.origin.y, 9);
    EXPECT_EQ(r.size.width, 40);
    EXPECT_EQ(r.size.height, 100);
    EXPECT_TRUE(UIImage_texture::rotateInfoWithFrameInfo(rotated));
    EXPECT_TRUE(UIImage_texture::trimInfoWithFrameInfo(rotated));
    EXPECT_EQ(UIImage_texture::sliceSourceFrameWithFrameInfo(rotated).origin.y, 4);
    EXPECT_EQ(UIImage_texture::sliceSourceSizeWithFrameInfo(rotated).width, 400);
    EXPECT_EQ(UIImage_texture::sliceFrameWithFrameInfo(Value()).size.width, 0);
}

TEST_F(UIImageTextureTest, AnUntrimmedSliceHasTheSourceCanvas) {
    auto canvas = UIImage_texture::unTrimmedSliceWithFrameInfo(sheetImage,
                                                               entry("01.png", 1, 1, 3, 2, true, 2, 1, 6, 4));
    ASSERT_TRUE(canvas);
    Picture expected(6, 4);
    devserver::catalogue::blit(expected, upright, 2, 1);
    EXPECT_EQ(pictureFromCGImage(canvas->CGImage()), expected);
    EXPECT_FALSE(UIImage_texture::unTrimmedSliceWithFrameInfo(sheetImage,
                                                              entry("01.png", 1, 1, 3, 2, true, 0, 0, 0, 4)));
    EXPECT_FALSE(UIImage_texture::unTrimmedSliceWithFrameInfo(
        sheetImage, entry("01.png", 1, 1, 3, 2, true, 0, 0, 1e9, 1e9)));
}

TEST_F(UIImageTextureTest, EachEntryIsCutOnItsOwnClippedToTheSheet) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    auto without = [](Dictionary e, const char* key) {
        Dictionary copy = e.mutableCopy();
        copy.removeObjectForKey(key);
        return copy;
    };
    struct Case {
        const char* what;
        Dictionary entry;
        double w, h;        // the picture's size; 0: no picture
        double ox, sw, sh;  // source origin x and source size read back
    };
    const Case cases[] = {
        {"inside", entry("a", 3, 1, 3, 2, false, 4, 0, 9, 8), 3, 2, 4, 9, 8},
        {"past the right edge", entry("a", 4, 1, 3, 2, false, 4, 0, 9, 8), 2, 2, 4, 9, 8},
        {"rotated, past the bottom", entry("a", 1, 3, 3, 2, true, 4, 0, 9, 8), 2, 2, 4, 9, 8},
        {"before the left edge", entry("a", -1, 0, 2, 2, false), 1, 2, 0, 0, 0},
        {"huge, clipped to the sheet", entry("a", 0, 0, 1e300, 1e300, false), 6, 5, 0, 0, 0},
        {"no source origin", without(entry("a", 3, 1, 3, 2, false, 4, 0, 9, 8), "spriteSourceSize"), 3, 2, 0,
         9, 8},
        {"no source size", without(entry("a", 3, 1, 3, 2, false, 4, 0, 9, 8), "sourceSize"), 3, 2, 4, 3, 2},
        {"wholly outside", entry("a", 6, 0, 2, 2, false), 0, 0, 0, 0, 0},
        {"empty", entry("a", 0, 0, 0, 2, false), 0, 0, 0, 0, 0},
        {"not a number", entry("a", nan, 0, 2, 2, false), 0, 0, 0, 0, 0},
        {"infinite", entry("a", 0, 0, inf, 2, false), 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto cut = UIImage_texture::trimmedSliceWithFrameInfo(sheetImage, c.entry);
        ASSERT_EQ(cut != nullptr, c.w > 0);
        if (!cut) continue;
        EXPECT_EQ(cut->size().width, c.w);
        EXPECT_EQ(cut->size().height, c.h);
        EXPECT_EQ(UIImage_texture::getSourceOrigin(cut).x, c.ox);
        EXPECT_EQ(UIImage_texture::getSourceSize(cut).width, c.sw);
        EXPECT_EQ(UIImage_texture::getSourceSize(cut).height, c.sh);
    }
    // The clipped cut is the part of the picture inside the sheet, upright also when rotated.
    // Rotated at (1, 3), only the sheet's rows 3 and 4 remain: the picture's last column, then nothing.
    Picture right(2, 2), lower(2, 2);
    for (int j = 0; j < 2; ++j) {
        for (int i = 0; i < 2; ++i) std::copy_n(upright.pixel(i + 1, j), 4, right.pixel(i, j));
        std::copy_n(upright.pixel(2, j), 4, lower.pixel(0, j));
    }
    EXPECT_EQ(
        pictureFromCGImage(
            UIImage_texture::trimmedSliceWithFrameInfo(sheetImage, entry("a", 4, 1, 3, 2, false))->CGImage()),
        right);
    EXPECT_EQ(
        pictureFromCGImage(
            UIImage_texture::trimmedSliceWithFrameInfo(sheetImage, entry("a", 1, 3, 3, 2, true))->CGImage()),
        lower);
    EXPECT_FALSE(UIImage_texture::trimmedSliceWithFrameInfo(nullptr, entry("01.png", 0, 0, 1, 1, false)));
    EXPECT_FALSE(UIImage_texture::trimmedSliceWithFrameInfo(sheetImage, Value("01.png")));
}

TEST_F(UIImageTextureTest, APictureNotCutFromASheetHasItsOwnSize) {
    EXPECT_EQ(UIImage_texture::getSourceSize(sheetImage).width, 6);
    EXPECT_EQ(UIImage_texture::getSourceSize(sheetImage).height, 5);
    EXPECT_EQ(UIImage_texture::getSourceOrigin(sheetImage).x, 0);
    EXPECT_EQ(UIImage_texture::getSourceOrigin(nullptr).y, 0);
    EXPECT_EQ(UIImage_texture::getSourceSize(nullptr).width, 0);
}

TEST_F(UIImageTextureTest, CuttingByKeyLaterEntriesWinAndFailedCutsRemoveTheKey) {
    Array frames{entry("01.png", 3, 1, 3, 2, false),
                 entry("01.a.png", 1, 1, 3, 2, true),
                 entry("02.png", 3, 1, 3, 2, false),
                 entry("02.png", 9, 9, 3, 2, false),
                 Value("junk"),
                 Dictionary{{"filename", 3}}};
    auto table = QVNOption::createImagesAndAnglesWithImage(sheetImage, frames);
    ASSERT_EQ(table.size(), 1u);
    ASSERT_TRUE(table.count("01"));
    EXPECT_EQ(UIImage_texture::getSourceOrigin(table["01"]).x, 0);
    EXPECT_TRUE(QVNOption::createImagesAndAnglesWithImage(sheetImage, Value("x")).empty());
    EXPECT_TRUE(QVNOption::createImagesAndAnglesWithImage(nullptr, frames).empty());
}
