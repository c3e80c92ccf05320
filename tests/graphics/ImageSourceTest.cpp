#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <optional>
#include <thread>

#include "ImageCorpus.h"
#include "graphics/CGImageSource.h"
#include "graphics/ImageCodec.h"
#include "tests/support/TestSupport.h"

namespace {

using corpus::Pixels;

CGImageRef decodeAll(const NSData& data) {
    auto source = CGImageSourceCreateWithData(data);
    return source ? CGImageSourceCreateImageAtIndex(source, 0) : nullptr;
}

bool isOpaqueLayout(const CGImageRef& image) {
    return image->alphaInfo() == kCGImageAlphaNoneSkipFirst;
}

// ---- PNG -------------------------------------------------------------------------------------
struct PNGCase {
    int colorType;
    int bitDepth;
    bool interlaced;
    bool transparency;
};

class PNGDecodeTest : public ::testing::TestWithParam<PNGCase> {};

TEST_P(PNGDecodeTest, DecodesExactly) {
    const PNGCase c = GetParam();
    corpus::PNGRecipe recipe;
    recipe.colorType = c.colorType;
    recipe.bitDepth = c.bitDepth;
    recipe.interlaced = c.interlaced;
    recipe.transparency = c.transparency;
    recipe.width = 19;
    recipe.height = 17;
    Pixels expected;
    NSData png = corpus::makePNG(recipe, &expected);
    auto image = decodeAll(png);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width(), 19u);
    EXPECT_EQ(image->height(), 17u);
    EXPECT_EQ(image->bitsPerComponent(), 8u);
    EXPECT_EQ(image->bitsPerPixel(), 32u);
    EXPECT_EQ(image->bytesPerRow(), 19u * 4);
    EXPECT_EQ(image->bitmapInfo() & kCGBitmapByteOrderMask, kCGBitmapByteOrder32Little);
    bool alpha = c.colorType == 4 || c.colorType == 6 || c.transparency;
    EXPECT_EQ(image->alphaInfo(), alpha ? kCGImageAlphaPremultipliedFirst : kCGImageAlphaNoneSkipFirst);
    EXPECT_EQ(corpus::maxDifference(expected, *image), 0);
}

std::vector<PNGCase> allPNGCases() {
    std::vector<PNGCase> cases;
    const std::vector<std::pair<int, std::vector<int>>> types = {
        {0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}};
    for (const auto& [type, depths] : types) {
        for (int depth : depths) {
            for (bool interlaced : {false, true}) {
                cases.push_back({type, depth, interlaced, false});
                if (type == 0 || type == 2 || type == 3) cases.push_back({type, depth, interlaced, true});
            }
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AllColourTypes, PNGDecodeTest, ::testing::ValuesIn(allPNGCases()),
                         [](const ::testing::TestParamInfo<PNGCase>& info) {
                             return "type" + std::to_string(info.param.colorType) + "_depth" +
                                    std::to_string(info.param.bitDepth) +
                                    (info.param.interlaced ? "_interlaced" : "") +
                                    (info.param.transparency ? "_trns" : "");
                         });

TEST(PNGSourceTest, PropertiesComeFromTheHeaderAlone) {
    corpus::PNGRecipe recipe;
    recipe.width = 300;
    recipe.height = 200;
    recipe.colorType = 6;
    NSData png = corpus::makePNG(recipe, nullptr);
    // Only the signature and header chunk: nothing to decode, yet the size is known.
    auto source = CGImageSourceCreateWithData(png.subdataWithRange(0, 33));
    auto props = CGImageSourceCopyPropertiesAtIndex(source, 0);
    ASSERT_TRUE(props.has_value());
    EXPECT_EQ((*props)[kCGImagePropertyPixelWidth].integerValue(), 300);
    EXPECT_EQ((*props)[kCGImagePropertyPixelHeight].integerValue(), 200);
    EXPECT_TRUE((*props)[kCGImagePropertyHasAlpha].boolValue());
    EXPECT_EQ((*props)[kCGImagePropertyColorModel].stringValue(), "RGB");
    EXPECT_FALSE((*props)[kCGImagePropertyOrientation].isSomething());
    EXPECT_EQ(CGImageSourceGetCount(source), 1u);
    EXPECT_EQ(CGImageSourceGetType(source), std::optional<std::string>("public.png"));
    EXPECT_EQ(CGImageSourceCreateImageAtIndex(source, 0), nullptr);
    EXPECT_FALSE(CGImageSourceCopyPropertiesAtIndex(source, 1).has_value());
}

TEST(PNGSourceTest, SourceCachesTheDecodedImage) {
    auto source = CGImageSourceCreateWithData(corpus::makePNG({}, nullptr));
    auto first = CGImageSourceCreateImageAtIndex(source, 0);
    EXPECT_EQ(CGImageSourceCreateImageAtIndex(source, 0), first);
    EXPECT_NE(CGImageSourceCreateImageAtIndex(source, 0, Dictionary{{kCGImageSourceShouldCache, false}}),
              nullptr);
    EXPECT_EQ(CGImageSourceGetStatus(source), kCGImageStatusComplete);
}

TEST(PNGSourceTest, TruncatedFileGivesNoImage) {
    NSData png = corpus::makePNG({}, nullptr);
    EXPECT_EQ(decodeAll(png.subdataWithRange(0, png.length() - 13)), nullptr);
    EXPECT_EQ(decodeAll(png.subdataWithRange(0, png.length() / 2)), nullptr);
}

// ---- JPEG ------------------------------------------------------------------------------------
TEST(JPEGDecodeTest, BaselineProgressiveGreyCMYKAndRestarts) {
    struct Case {
        const char* name;
        corpus::JPEGRecipe recipe;
        int tolerance;
    };
    corpus::JPEGRecipe base;
    base.width = 70;
    base.height = 45;
    std::vector<Case> cases;
    cases.push_back({"baseline", base, 10});
    auto progressive = base;
    progressive.progressive = true;
    cases.push_back({"progressive", progressive, 10});
    auto grey = base;
    grey.grey = true;
    cases.push_back({"grey", grey, 4});
    auto cmyk = base;
    cmyk.cmyk = true;
    cases.push_back({"cmyk", cmyk, 12});
    auto restarts = base;
    restarts.restartMarkers = true;
    cases.push_back({"restarts", restarts, 10});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Pixels expected;
        NSData jpeg = corpus::makeJPEG(c.recipe, &expected);
        auto image = decodeAll(jpeg);
        ASSERT_NE(image, nullptr);
        EXPECT_TRUE(isOpaqueLayout(image));
        EXPECT_EQ(CGColorSpaceGetModel(image->colorSpace()), kCGColorSpaceModelRGB);
        EXPECT_LE(corpus::maxDifference(expected, *image), c.tolerance);
    }
}

TEST(JPEGDecodeTest, ExifOrientationInBothByteOrders) {
    for (int orientation = 1; orientation <= 8; ++orientation) {
        for (bool little : {false, true}) {
            SCOPED_TRACE(orientation);
            corpus::JPEGRecipe recipe;
            recipe.exifOrientation = orientation;
            recipe.exifLittleEndian = little;
            auto source = CGImageSourceCreateWithData(corpus::makeJPEG(recipe));
            auto props = CGImageSourceCopyPropertiesAtIndex(source, 0);
            ASSERT_TRUE(props.has_value());
            EXPECT_EQ((*props)[kCGImagePropertyOrientation].intValue(), orientation);
            EXPECT_EQ((*props)[kCGImagePropertyTIFFDictionary][kCGImagePropertyTIFFOrientation].intValue(),
                      orientation);
            EXPECT_EQ((*props)[kCGImagePropertyPixelWidth].integerValue(), 64);
            EXPECT_EQ((*props)[kCGImagePropertyPixelHeight].integerValue(), 48);
        }
    }
    auto plain = CGImageSourceCopyPropertiesAtIndex(CGImageSourceCreateWithData(corpus::makeJPEG({})), 0);
    ASSERT_TRUE(plain.has_value());
    EXPECT_FALSE((*plain)[kCGImagePropertyOrientation].isSomething());
}

TEST(JPEGDecodeTest, InvalidOrientationValueIsIgnored) {
    corpus::JPEGRecipe recipe;
    recipe.exifOrientation = 9;
    auto props = CGImageSourceCopyPropertiesAtIndex(CGImageSourceCreateWithData(corpus::makeJPEG(recipe)), 0);
    ASSERT_TRUE(props.has_value());
    EXPECT_FALSE((*props)[kCGImagePropertyOrientation].isSomething());
}

TEST(JPEGDecodeTest, ProgressiveFlagAndHeaderOnlyProperties) {
    corpus::JPEGRecipe recipe;
    recipe.progressive = true;
    recipe.width = 640;
    recipe.height = 480;
    NSData jpeg = corpus::makeJPEG(recipe);
    // Cut just after the frame header: the size is readable, the pixels are not there.
    auto source = CGImageSourceCreateWithData(jpeg.subdataWithRange(0, 700));
    auto props = CGImageSourceCopyPropertiesAtIndex(source, 0);
    ASSERT_TRUE(props.has_value());
    EXPECT_EQ((*props)[kCGImagePropertyPixelWidth].integerValue(), 640);
    EXPECT_TRUE((*props)[kCGImagePropertyJFIFDictionary][kCGImagePropertyJFIFIsProgressive].boolValue());
    EXPECT_EQ(CGImageSourceCreateImageAtIndex(source, 0), nullptr);
}

TEST(JPEGDecodeTest, TruncatedCompleteFileGivesNoImage) {
    NSData jpeg = corpus::makeJPEG({});
    EXPECT_EQ(decodeAll(jpeg.subdataWithRange(0, jpeg.length() - 40)), nullptr);
}

// ---- Incremental ------------------------------------------------------------------------------
// Mean absolute difference over the opaque pixels, and the share of transparent pixels.
struct Progress {
    double error = 0;
    double transparent = 0;
};
Progress compare(const Pixels& expected, const CGImage& image) {
    Pixels got = corpus::pixelsOf(image);
    Progress p;
    std::size_t n = expected.width * expected.height, clear = 0;
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (got.bgra[i * 4 + 3] == 0) {
            ++clear;
            sum += 255;
            continue;
        }
        for (int c = 0; c < 3; ++c) sum += std::abs(int(got.bgra[i * 4 + c]) - int(expected.bgra[i * 4 + c]));
    }
    p.error = sum / (n * 3.0);
    p.transparent = double(clear) / n;
    return p;
}

TEST(IncrementalTest, ProgressiveJPEGGetsFinerAsScansArrive) {
    corpus::JPEGRecipe recipe;
    recipe.progressive = true;
    recipe.width = 256;
    recipe.height = 192;
    Pixels expected;
    NSData jpeg = corpus::makeJPEG(recipe, &expected);
    auto source = CGImageSourceCreateIncremental();
    std::vector<double> errors;
    std::size_t partialImages = 0;
    const std::size_t step = jpeg.length() / 12 + 1;
    for (std::size_t have = step; have < jpeg.length(); have += step) {
        CGImageSourceUpdateData(source, jpeg.subdataWithRange(0, have), false);
        EXPECT_NE(CGImageSourceGetStatus(source), kCGImageStatusComplete);
        auto image = CGImageSourceCreateImageAtIndex(source, 0);
        if (!image) continue;
        ++partialImages;
        EXPECT_EQ(image->width(), 256u);
        EXPECT_EQ(image->height(), 192u);
        errors.push_back(compare(expected, *image).error);
    }
    EXPECT_GE(partialImages, 8u);
    ASSERT_GE(errors.size(), 2u);
    EXPECT_GT(errors.front(), errors.back());
    CGImageSourceUpdateData(source, jpeg, true);
    EXPECT_EQ(CGImageSourceGetStatus(source), kCGImageStatusComplete);
    auto final = CGImageSourceCreateImageAtIndex(source, 0);
    ASSERT_NE(final, nullptr);
    EXPECT_TRUE(isOpaqueLayout(final));
    EXPECT_LE(corpus::maxDifference(expected, *final), 10);
    EXPECT_LT(compare(expected, *final).error, errors.back() + 1e-9);
}

TEST(IncrementalTest, BaselineJPEGLeavesMissingRowsTransparent) {
    corpus::JPEGRecipe recipe;
    recipe.width = 128;
    recipe.height = 128;
    Pixels expected;
    NSData jpeg = corpus::makeJPEG(recipe, &expected);
    auto source = CGImageSourceCreateIncremental();
    CGImageSourceUpdateData(source, jpeg.subdataWithRange(0, jpeg.length() / 2), false);
    EXPECT_EQ(CGImageSourceGetStatus(source), kCGImageStatusIncomplete);
    auto image = CGImageSourceCreateImageAtIndex(source, 0);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->alphaInfo(), kCGImageAlphaPremultipliedFirst);
    Pixels got = corpus::pixelsOf(*image);
    EXPECT_EQ(got.at(5, 2)[3], 255);  // top rows arrived
    EXPECT_EQ(got.at(5, 127)[3], 0);  // bottom rows did not
    EXPECT_LE(std::abs(int(got.at(5, 2)[2]) - int(expected.at(5, 2)[2])), 10);
    Progress p = compare(expected, *image);
    EXPECT_GT(p.transparent, 0.2);
    EXPECT_LT(p.transparent, 0.9);
}

TEST(IncrementalTest, InterlacedPNGShowsEarlierPassesAsBlocks) {
    // Smooth content, so that the blocks of the early passes come close to the picture.
    const std::size_t w = 64, h = 64;
    std::vector<std::uint8_t> rgba(w * h * 4);
    std::vector<std::uint8_t> rgb = corpus::smoothRGB(w, h);
    Pixels expected;
    expected.width = w;
    expected.height = h;
    expected.bgra.resize(w * h * 4);
    for (std::size_t i = 0; i < w * h; ++i) {
        rgba[i * 4] = rgb[i * 3];
        rgba[i * 4 + 1] = rgb[i * 3 + 1];
        // Some noise keeps the file from compressing to almost nothing.
        rgba[i * 4 + 2] = static_cast<std::uint8_t>(rgb[i * 3 + 2] ^ (i * 2654435761u >> 29));
        rgba[i * 4 + 3] = 255;
        expected.bgra[i * 4] = rgba[i * 4 + 2];
        expected.bgra[i * 4 + 1] = rgba[i * 4 + 1];
        expected.bgra[i * 4 + 2] = rgba[i * 4];
        expected.bgra[i * 4 + 3] = 255;
    }
    NSData png = corpus::encodeRGBAPNG(w, h, rgba, true);
    auto source = CGImageSourceCreateIncremental();
    std::vector<double> errors;
    bool sawTransparentRows = false;
    for (std::size_t have = 64; have < png.length(); have += png.length() / 64) {
        CGImageSourceUpdateData(source, png.subdataWithRange(0, have), false);
        auto image = CGImageSourceCreateImageAtIndex(source, 0);
        if (!image) continue;
        EXPECT_EQ(image->alphaInfo(), kCGImageAlphaPremultipliedFirst);
        Pixels got = corpus::pixelsOf(*image);
        // Row 0 belongs to the first pass: it is there from the first partial image on.
        EXPECT_EQ(got.at(0, 0)[3], 255);
        sawTransparentRows |= got.at(0, h - 1)[3] == 0;
        errors.push_back(compare(expected, *image).error);
    }
    ASSERT_GE(errors.size(), 4u);
    EXPECT_TRUE(sawTransparentRows);
    EXPECT_GT(errors.front(), errors.back());
    CGImageSourceUpdateData(source, png, true);
    auto final = CGImageSourceCreateImageAtIndex(source, 0);
    ASSERT_NE(final, nullptr);
    EXPECT_EQ(corpus::maxDifference(expected, *final), 0);
}

TEST(IncrementalTest, HeaderStatusesAndEmptyUpdates) {
    auto source = CGImageSourceCreateIncremental();
    EXPECT_EQ(CGImageSourceGetStatus(source), kCGImageStatusReadingHeader);
    EXPECT_EQ(CGImageSourceGetCount(source), 0u);
    EXPECT_EQ(CGImageSourceCreateImageAtIndex(source, 0), nullptr);
    NSData png = corpus::makePNG({}, nullptr);
    CGImageSourceUpdateData(source, png.subdataWithRange(0, 20), false);
    EXPECT_EQ(CGImageSourceGetStatus(source), kCGImageStatusReadingHeader);
    EXPECT_FALSE(CGImageSourceCopyPropertiesAtIndex(source, 0).has_value());
    CGImageSourceUpdateData(source, png.subdataWithRange(0, 40), false);
    EXPECT_EQ(CGImageSourceGetStatus(source), kCGImageStatusIncomplete);
    EXPECT_TRUE(CGImageSourceCopyPropertiesAtIndex(source, 0).has_value());
    // A final update with everything finishes the picture.
    CGImageSourceUpdateData(source, png, true);
    EXPECT_EQ(CGImageSourceGetStatus(source), kCGImageStatusComplete);
    EXPECT_NE(CGImageSourceCreateImageAtIndex(source, 0), nullptr);
    // Null sources answer nothing.
    CGImageSourceUpdateData(nullptr, png, true);
    EXPECT_EQ(CGImageSourceGetCount(nullptr), 0u);
    EXPECT_EQ(CGImageSourceCreateImageAtIndex(nullptr, 0), nullptr);
}

// ---- GIF -------------------------------------------------------------------------------------
corpus::GIFFrame fullFrame(std::size_t w, std::size_t h, std::uint8_t index, int delay) {
    corpus::GIFFrame f;
    f.width = w;
    f.height = h;
    f.indices.assign(w * h, index);
    f.delayHundredths = delay;
    return f;
}

TEST(GIFDecodeTest, SingleFrameWithTransparency) {
    corpus::GIFRecipe recipe;
    recipe.globalPalette = corpus::basicPalette();
    auto frame = fullFrame(8, 6, 0, -1);
    for (std::size_t x = 0; x < 8; ++x) frame.indices[x] = 3;  // top row "transparent" white
    frame.indices[8] = 2;                                      // (0, 1) blue
    frame.transparentIndex = 3;
    recipe.frames = {frame};
    auto source = CGImageSourceCreateWithData(corpus::makeGIF(recipe));
    EXPECT_EQ(CGImageSourceGetType(source), std::optional<std::string>("com.compuserve.gif"));
    ASSERT_EQ(CGImageSourceGetCount(source), 1u);
    auto image = CGImageSourceCreateImageAtIndex(source, 0);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->alphaInfo(), kCGImageAlphaPremultipliedFirst);
    Pixels px = corpus::pixelsOf(*image);
    EXPECT_EQ(std::vector<std::uint8_t>(px.at(3, 0), px.at(3, 0) + 4),
              (std::vector<std::uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(std::vector<std::uint8_t>(px.at(0, 1), px.at(0, 1) + 4),
              (std::vector<std::uint8_t>{255, 0, 0, 255}));
    EXPECT_EQ(std::vector<std::uint8_t>(px.at(1, 1), px.at(1, 1) + 4),
              (std::vector<std::uint8_t>{0, 0, 255, 255}));
}

TEST(GIFDecodeTest, OpaqueFramesUseTheOpaqueLayout) {
    corpus::GIFRecipe recipe;
    recipe.globalPalette = corpus::basicPalette();
    recipe.frames = {fullFrame(8, 6, 1, 5)};
    auto image = decodeAll(corpus::makeGIF(recipe));
    ASSERT_NE(image, nullptr);
    EXPECT_TRUE(isOpaqueLayout(image));
}

TEST(GIFDecodeTest, FramesCompositeWithDisposalModes) {
    corpus::GIFRecipe recipe;
    recipe.width = 4;
    recipe.height = 4;
    recipe.globalPalette = corpus::basicPalette();
    recipe.loopCount = 0;
    // Frame 0: red background over the canvas.
    recipe.frames.push_back(fullFrame(4, 4, 0, 10));
    // Frame 1: a green 2x2 at (1, 1), restored to the previous canvas afterwards.
    auto f1 = fullFrame(2, 2, 1, 20);
    f1.left = f1.top = 1;
    f1.disposal = 3;
    recipe.frames.push_back(f1);
    // Frame 2: a blue pixel at (0, 0) whose area is cleared afterwards; its transparent index
    // leaves (1, 0) alone.
    auto f2 = fullFrame(2, 1, 2, 0);
    f2.indices[1] = 3;
    f2.transparentIndex = 3;
    f2.disposal = 2;
    recipe.frames.push_back(f2);
    // Frame 3: one white pixel at (3, 3), interlaced, with its own palette.
    auto f3 = fullFrame(1, 1, 1, 1);
    f3.left = f3.top = 3;
    f3.localPalette = {0, 0, 0, 255, 255, 255};
    f3.interlaced = true;
    recipe.frames.push_back(f3);

    auto source = CGImageSourceCreateWithData(corpus::makeGIF(recipe));
    ASSERT_EQ(CGImageSourceGetCount(source), 4u);
    auto pixel = [&](std::size_t index, std::size_t x, std::size_t y) {
        auto image = CGImageSourceCreateImageAtIndex(source, index);
        EXPECT_NE(image, nullptr);
        if (!image) return std::vector<std::uint8_t>();
        EXPECT_EQ(image->width(), 4u);
        Pixels px = corpus::pixelsOf(*image);
        return std::vector<std::uint8_t>(px.at(x, y), px.at(x, y) + 4);
    };
    const std::vector<std::uint8_t> red = {0, 0, 255, 255}, green = {0, 255, 0, 255}, blue = {255, 0, 0, 255},
                                    white = {255, 255, 255, 255}, clear = {0, 0, 0, 0};
    EXPECT_EQ(pixel(1, 1, 1), green);
    EXPECT_EQ(pixel(1, 0, 0), red);
    EXPECT_EQ(pixel(2, 1, 1), red);  // frame 1 restored to previous
    EXPECT_EQ(pixel(2, 0, 0), blue);
    EXPECT_EQ(pixel(2, 1, 0), red);    // transparent index leaves the canvas
    EXPECT_EQ(pixel(3, 0, 0), clear);  // frame 2 disposed to background
    EXPECT_EQ(pixel(3, 1, 0), clear);
    EXPECT_EQ(pixel(3, 3, 3), white);
    // Going back to an earlier frame recomposes from the start.
    EXPECT_EQ(pixel(0, 1, 1), red);
    EXPECT_EQ(pixel(0, 0, 0), red);

    auto props = CGImageSourceCopyProperties(source);
    ASSERT_TRUE(props.has_value());
    EXPECT_EQ((*props)[kCGImagePropertyGIFDictionary][kCGImagePropertyGIFLoopCount].intValue(), 0);
}

TEST(GIFDecodeTest, DelaysAreReportedClampedAndUnclamped) {
    corpus::GIFRecipe recipe;
    recipe.globalPalette = corpus::basicPalette();
    for (int delay : {0, 1, 2, 10, 150, -1}) recipe.frames.push_back(fullFrame(8, 6, 1, delay));
    auto source = CGImageSourceCreateWithData(corpus::makeGIF(recipe));
    ASSERT_EQ(CGImageSourceGetCount(source), 6u);
    const double unclamped[] = {0, 0.01, 0.02, 0.1, 1.5, 0};
    const double clamped[] = {0.1, 0.1, 0.02, 0.1, 1.5, 0.1};
    for (std::size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        auto props = CGImageSourceCopyPropertiesAtIndex(source, i);
        ASSERT_TRUE(props.has_value());
        const Value& gif = (*props)[kCGImagePropertyGIFDictionary];
        EXPECT_NEAR(gif[kCGImagePropertyGIFUnclampedDelayTime].doubleValue(), unclamped[i], 1e-9);
        EXPECT_NEAR(gif[kCGImagePropertyGIFDelayTime].doubleValue(), clamped[i], 1e-9);
        EXPECT_EQ((*props)[kCGImagePropertyPixelWidth].integerValue(), 8);
    }
    EXPECT_FALSE(CGImageSourceCopyPropertiesAtIndex(source, 6).has_value());
    EXPECT_FALSE((*CGImageSourceCopyProperties(source))[kCGImagePropertyGIFDictionary].isSomething());
}

// A GIF written by hand: 2x1 canvas, palette of 2, three frames; the middle one's compressed data
// ends (end code) before its pixels are filled, the sub-block structure stays intact.
NSData handMadeGIFWithBrokenMiddleFrame() {
    std::vector<std::uint8_t> g = {'G',  'I', 'F', '8', '9', 'a', 2, 0, 1,  0,
                                   0x80, 0,   0,   255, 0,   0,   0, 0, 255};  // red, blue
    auto frame = [&](std::vector<std::uint8_t> data) {
        g.insert(g.end(), {0x2C, 0, 0, 0, 0, 2, 0, 1, 0, 0});
        g.push_back(2);  // minimum code size: clear 4, end 5, codes of 3 bits
        g.push_back(static_cast<std::uint8_t>(data.size()));
        g.insert(g.end(), data.begin(), data.end());
        g.push_back(0);
    };
    // clear(4) 1 1 end(5), three bits each, least significant first -> 0x4C 0x0A
    frame({0x4C, 0x0A});
    // clear(4) end(5): no pixels at all
    frame({0x2C});
    // clear(4) 0 0 end(5): 100 000 000 101 -> 0x04 0x0A
    frame({0x04, 0x0A});
    g.push_back(0x3B);
    return NSData(g.data(), g.size());
}

TEST(GIFDecodeTest, BrokenFrameIsSkipped) {
    auto source = CGImageSourceCreateWithData(handMadeGIFWithBrokenMiddleFrame());
    ASSERT_EQ(CGImageSourceGetCount(source), 2u);
    auto first = CGImageSourceCreateImageAtIndex(source, 0);
    auto second = CGImageSourceCreateImageAtIndex(source, 1);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(corpus::pixelsOf(*first).bgra, (std::vector<std::uint8_t>{255, 0, 0, 255, 255, 0, 0, 255}));
    EXPECT_EQ(corpus::pixelsOf(*second).bgra, (std::vector<std::uint8_t>{0, 0, 255, 255, 0, 0, 255, 255}));
    EXPECT_EQ(CGImageSourceCreateImageAtIndex(source, 2), nullptr);
}

TEST(GIFDecodeTest, PartialGIFKeepsItsWholeFrames) {
    corpus::GIFRecipe recipe;
    recipe.globalPalette = corpus::basicPalette();
    for (int i = 0; i < 3; ++i) recipe.frames.push_back(fullFrame(8, 6, static_cast<std::uint8_t>(i), 10));
    NSData gif = corpus::makeGIF(recipe);
    auto source = CGImageSourceCreateIncremental();
    CGImageSourceUpdateData(source, gif.subdataWithRange(0, gif.length() - 3), false);
    EXPECT_EQ(CGImageSourceGetCount(source), 2u);
    EXPECT_EQ(CGImageSourceGetStatus(source), kCGImageStatusIncomplete);
    CGImageSourceUpdateData(source, gif, true);
    EXPECT_EQ(CGImageSourceGetCount(source), 3u);
    EXPECT_EQ(CGImageSourceGetStatus(source), kCGImageStatusComplete);
}

// A caller's decoding bound given with the data keeps a GIF's frames within it (each frame counts
// as a composited canvas): frames past it are not read; without one every frame is.
TEST(GIFDecodeTest, ACallersBoundKeepsTheFramesWithinIt) {
    corpus::GIFRecipe recipe;
    recipe.width = recipe.height = 256;  // 256 KB a canvas
    recipe.globalPalette = corpus::basicPalette();
    for (int i = 0; i < 12; ++i)
        recipe.frames.push_back(fullFrame(256, 256, static_cast<std::uint8_t>(i % 4), 10));
    const NSData gif = corpus::makeGIF(recipe);
    struct Case {
        std::optional<double> bound;
        std::size_t frames;
    };
    for (const Case& c : {Case{std::nullopt, 12}, Case{1e9, 12}, Case{1 << 20, 4}, Case{(1 << 20) - 1, 3},
                          Case{300 << 10, 1}, Case{1000, 0}}) {
        SCOPED_TRACE(c.bound ? *c.bound : -1);
        Dictionary options = Dictionary::mutableDictionary();
        if (c.bound) options.setObject(kCGImageSourceMaxDecodeBytes, *c.bound);
        auto source = CGImageSourceCreateWithData(gif, options);
        ASSERT_TRUE(source);
        EXPECT_EQ(CGImageSourceGetCount(source), c.frames);
        if (c.frames > 0) {
            EXPECT_NE(CGImageSourceCreateImageAtIndex(source, c.frames - 1), nullptr);
        }
        EXPECT_EQ(CGImageSourceCreateImageAtIndex(source, c.frames), nullptr);
    }
}

// ---- Types and thumbnails ----------------------------------------------------------------------
TEST(SourceTypeTest, WebPAndTIFFAreRecognisedNotDecoded) {
    std::string webp("RIFF\x10\0\0\0WEBPVP8 ", 16);
    auto source = CGImageSourceCreateWithData(corpus::fromString(webp));
    EXPECT_EQ(CGImageSourceGetType(source), std::optional<std::string>("org.webmproject.webp"));
    EXPECT_EQ(CGImageSourceGetCount(source), 0u);
    EXPECT_EQ(CGImageSourceCreateImageAtIndex(source, 0), nullptr);
    for (std::string tiff : {std::string("II*\0\x08\0\0\0", 8), std::string("MM\0*\0\0\0\x08", 8)}) {
        auto s = CGImageSourceCreateWithData(corpus::fromString(tiff));
        EXPECT_EQ(CGImageSourceGetType(s), std::optional<std::string>("public.tiff"));
        EXPECT_EQ(CGImageSourceGetCount(s), 0u);
    }
    auto unknown = CGImageSourceCreateWithData(corpus::fromString("hello, world"));
    ASSERT_NE(unknown, nullptr);
    EXPECT_FALSE(CGImageSourceGetType(unknown).has_value());
    EXPECT_EQ(CGImageSourceGetStatus(unknown), kCGImageStatusUnknownType);
    EXPECT_EQ(CGImageSourceCreateWithData(NSData()), nullptr);
    EXPECT_EQ(CGImageSourceCopyTypeIdentifiers().count(), 3u);
}

TEST(SourceURLTest, ReadsFilesByPathAndURL) {
    testsupport::TemporaryDirectory dir;
    std::string path = dir.file("a picture.png");
    ASSERT_TRUE(corpus::makePNG({}, nullptr).writeToFile(path));
    EXPECT_EQ(CGImageSourceGetCount(CGImageSourceCreateWithURL(path)), 1u);
    EXPECT_EQ(CGImageSourceGetCount(CGImageSourceCreateWithURL("file://" + dir.path() + "/a%20picture.png")),
              1u);
    EXPECT_EQ(CGImageSourceCreateWithURL(dir.file("missing.png")), nullptr);
    EXPECT_EQ(CGImageSourceCreateWithURL(""), nullptr);
}

class ThumbnailTest : public ::testing::Test {
  protected:
    Dictionary options(double maxPixel, bool transform) {
        Dictionary d;
        d.setObject(kCGImageSourceCreateThumbnailFromImageAlways, true);
        if (maxPixel > 0) d.setObject(kCGImageSourceThumbnailMaxPixelSize, maxPixel);
        d.setObject(kCGImageSourceCreateThumbnailWithTransform, transform);
        return d;
    }
};

TEST_F(ThumbnailTest, ScalesToTheMaximumSideAndKeepsTheAspect) {
    corpus::JPEGRecipe recipe;
    recipe.width = 400;
    recipe.height = 300;
    auto source = CGImageSourceCreateWithData(corpus::makeJPEG(recipe));
    auto thumb = CGImageSourceCreateThumbnailAtIndex(source, 0, options(100, false));
    ASSERT_NE(thumb, nullptr);
    EXPECT_EQ(thumb->width(), 100u);
    EXPECT_EQ(thumb->height(), 75u);
    // Without a maximum, the full size.
    auto full = CGImageSourceCreateThumbnailAtIndex(source, 0, options(0, false));
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(full->width(), 400u);
    // Larger than the picture: not enlarged.
    auto big = CGImageSourceCreateThumbnailAtIndex(source, 0, options(1000, false));
    EXPECT_EQ(big->width(), 400u);
}

TEST_F(ThumbnailTest, AveragesRatherThanSamples) {
    // A fine checkerboard of black and white averages to grey.
    const std::size_t w = 64, h = 64;
    std::vector<std::uint8_t> rgba(w * h * 4, 255);
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x)
            if ((x + y) % 2)
                rgba[(y * w + x) * 4] = rgba[(y * w + x) * 4 + 1] = rgba[(y * w + x) * 4 + 2] = 0;
    auto source = CGImageSourceCreateWithData(corpus::encodeRGBAPNG(w, h, rgba));
    auto thumb = CGImageSourceCreateThumbnailAtIndex(source, 0, options(16, false));
    ASSERT_NE(thumb, nullptr);
    EXPECT_EQ(thumb->width(), 16u);
    Pixels px = corpus::pixelsOf(*thumb);
    for (std::size_t i = 0; i < 16 * 16; ++i) EXPECT_NEAR(px.bgra[i * 4], 128, 2);
}

TEST_F(ThumbnailTest, TransformTurnsByExifOrientation) {
    corpus::JPEGRecipe recipe;
    recipe.width = 80;
    recipe.height = 40;
    recipe.exifOrientation = 6;
    Pixels expected;
    auto source = CGImageSourceCreateWithData(corpus::makeJPEG(recipe, &expected));
    auto upright = CGImageSourceCreateThumbnailAtIndex(source, 0, options(0, true));
    ASSERT_NE(upright, nullptr);
    EXPECT_EQ(upright->width(), 40u);
    EXPECT_EQ(upright->height(), 80u);
    // Orientation 6 shows the stored left column along the top, read right to left.
    Pixels px = corpus::pixelsOf(*upright);
    EXPECT_NEAR(px.at(39, 0)[2], expected.at(0, 0)[2], 12);  // red grows along stored x
    EXPECT_NEAR(px.at(39, 79)[2], expected.at(79, 0)[2], 12);
    EXPECT_NEAR(px.at(0, 0)[1], expected.at(0, 39)[1], 12);  // green grows along stored y
    auto asStored = CGImageSourceCreateThumbnailAtIndex(source, 0, options(20, false));
    ASSERT_NE(asStored, nullptr);
    EXPECT_EQ(asStored->width(), 20u);
    EXPECT_EQ(asStored->height(), 10u);
    auto small = CGImageSourceCreateThumbnailAtIndex(source, 0, options(20, true));
    EXPECT_EQ(small->width(), 10u);
    EXPECT_EQ(small->height(), 20u);
}

TEST_F(ThumbnailTest, WithoutFromImageOptionsOnlyAnEmbeddedThumbnailServes) {
    auto source = CGImageSourceCreateWithData(corpus::makeJPEG({}));
    EXPECT_EQ(CGImageSourceCreateThumbnailAtIndex(source, 0), nullptr);
    auto ifAbsent = CGImageSourceCreateThumbnailAtIndex(
        source, 0, Dictionary{{kCGImageSourceCreateThumbnailFromImageIfAbsent, true}});
    EXPECT_NE(ifAbsent, nullptr);
    EXPECT_EQ(CGImageSourceCreateThumbnailAtIndex(nullptr, 0, options(10, true)), nullptr);
    EXPECT_EQ(CGImageSourceCreateThumbnailAtIndex(source, 3, options(10, true)), nullptr);
}

TEST(OrientImageTest, EveryOrientationMapsCornersAsDisplayed) {
    // A 3x2 picture whose pixels are numbered 0..5 in the red channel.
    std::vector<std::uint8_t> bytes(6 * 4, 255);
    for (int i = 0; i < 6; ++i) bytes[i * 4 + 2] = static_cast<std::uint8_t>(i);
    auto image = detail::makeBGRAImage(3, 2, NSData(bytes), false);
    // Displayed top-left, top-right, bottom-left pixel numbers for each orientation.
    const int expected[9][3] = {{0, 0, 0}, {0, 2, 3}, {2, 0, 5}, {5, 3, 2}, {3, 5, 0},
                                {0, 3, 2}, {3, 0, 5}, {5, 2, 3}, {2, 5, 0}};
    for (int o = 1; o <= 8; ++o) {
        SCOPED_TRACE(o);
        auto turned = detail::orientImage(image, o);
        bool swapped = o >= 5;
        ASSERT_EQ(turned->width(), swapped ? 2u : 3u);
        Pixels px = corpus::pixelsOf(*turned);
        EXPECT_EQ(px.at(0, 0)[2], expected[o][0]);
        EXPECT_EQ(px.at(px.width - 1, 0)[2], expected[o][1]);
        EXPECT_EQ(px.at(0, px.height - 1)[2], expected[o][2]);
    }
}

}  // namespace

namespace {

TEST(SourceConcurrencyTest, OneSourceServesManyThreads) {
    corpus::GIFRecipe recipe;
    recipe.globalPalette = corpus::basicPalette();
    for (int i = 0; i < 6; ++i) {
        corpus::GIFFrame f;
        f.width = 8;
        f.height = 6;
        f.indices.assign(48, static_cast<std::uint8_t>(i % 4));
        f.delayHundredths = i;
        recipe.frames.push_back(f);
    }
    auto source = CGImageSourceCreateWithData(corpus::makeGIF(recipe));
    std::vector<std::thread> threads;
    std::atomic<int> images{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 50; ++round) {
                std::size_t index = static_cast<std::size_t>((round + t) % 6);
                if (CGImageSourceCreateImageAtIndex(source, index,
                                                    Dictionary{{kCGImageSourceShouldCache, false}})) {
                    ++images;
                }
                (void)CGImageSourceCopyPropertiesAtIndex(source, index);
                (void)CGImageSourceGetCount(source);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(images.load(), 200);
}

}  // namespace
