// Pictures that cost far more than their size are held to what they show: a GIF's frames are
// clipped to its screen (and priced so), a PNG's text chunks are never inflated, and a progressive
// JPEG is refused by the work its scans add up to, while ordinary pictures still decode.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "graphics/CGImageSource.h"
#include "graphics/ImageCodec.h"
#include "tests/graphics/HostilePictures.h"
#include "tests/graphics/ImageCorpus.h"
#include "tests/graphics/JPEGWriter.h"

namespace {

using detail::JPEGDecodeOptions;
using Refusal = JPEGDecodeOptions::Report::Refusal;

constexpr std::uint64_t kPageBudget = 128ull << 20;

const std::uint8_t* bytesOf(const std::string& s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}

NSData dataOf(const std::string& bytes) {
    return NSData(bytes.data(), bytes.size());
}

// As a web page asks for its pictures: a thumbnail within a decode bound given to the source too.
CGImageRef pageThumbnail(const NSData& bytes) {
    Dictionary sourceOptions = Dictionary::mutableDictionary();
    sourceOptions.setObject(kCGImageSourceMaxDecodeBytes, double(kPageBudget));
    auto source = CGImageSourceCreateWithData(bytes, sourceOptions);
    Dictionary options = Dictionary::mutableDictionary();
    options.setObject(kCGImageSourceCreateThumbnailFromImageAlways, true);
    options.setObject(kCGImageSourceThumbnailMaxPixelSize, 2048.0);
    options.setObject(kCGImageSourceMaxDecodeBytes, double(kPageBudget));
    return CGImageSourceCreateThumbnailAtIndex(source, 0, options);
}

// ---- GIF -------------------------------------------------------------------------------------

TEST(GIFWorkBounds, FramesLargerThanTheScreenAreClippedToIt) {
    struct Case {
        const char* name;
        unsigned screenW, screenH;
        std::vector<hostile::GIFFrameSize> frames;
    };
    for (const Case& c : {
             Case{"100 and 34 MP frames on a 1 x 1 screen", 1, 1, {{10000, 10000}, {5000, 6800}}},
             Case{"wider and taller than the screen", 20, 10, {{300, 25}, {21, 4000}}},
             Case{"as large as the screen", 16, 9, {{16, 9}}},
             Case{"narrower than the screen", 40, 30, {{7, 70000 / 7}}},
         }) {
        SCOPED_TRACE(c.name);
        const std::string bytes = hostile::bigFrameGIF(c.screenW, c.screenH, c.frames);
        // Priced by what is kept: the screen and the frames as clipped to it, not their claims.
        auto estimate = detail::estimateDecodeBytes(bytesOf(bytes), bytes.size());
        ASSERT_TRUE(estimate);
        EXPECT_LT(*estimate, 1u << 20);
        auto gif = detail::GIFAnimation::read(bytesOf(bytes), bytes.size());
        ASSERT_TRUE(gif);
        ASSERT_EQ(gif->frameCount(), c.frames.size());
        EXPECT_TRUE(gif->complete());
        for (std::size_t i = 0; i < c.frames.size(); ++i) {
            const auto& frame = gif->frame(i);
            EXPECT_EQ(frame.width, std::min(c.frames[i].width, c.screenW));
            EXPECT_EQ(frame.height, std::min(c.frames[i].height, c.screenH));
            EXPECT_EQ(frame.indices.size(), frame.width * frame.height);
            CGImageRef image = gif->compositeFrame(i);
            ASSERT_TRUE(image);
            ASSERT_EQ(image->width(), c.screenW);
            // Red wherever the frame covers the screen.
            const corpus::Pixels pixels = corpus::pixelsOf(*image);
            const std::uint8_t* corner = pixels.at(frame.width - 1, frame.height - 1);
            EXPECT_EQ(std::vector<std::uint8_t>(corner, corner + 4),
                      (std::vector<std::uint8_t>{0, 0, 255, 255}));
        }
        CGImageRef thumbnail = pageThumbnail(dataOf(bytes));
        ASSERT_TRUE(thumbnail);
        EXPECT_EQ(thumbnail->width(), c.screenW);
    }
}

TEST(GIFWorkBounds, ClippedFramesKeepTheirOnScreenPixelsInterlacedOrNot) {
    // Frames of distinct rows and columns hanging over the right and bottom of an 8 x 6 screen, and
    // one wholly off it, which keeps its place in the timing but shows nothing.
    for (bool interlaced : {false, true}) {
        SCOPED_TRACE(interlaced ? "interlaced" : "progressive rows");
        corpus::GIFRecipe recipe;
        recipe.width = 8;
        recipe.height = 6;
        recipe.globalPalette = corpus::basicPalette();
        corpus::GIFFrame over;
        over.left = 3;
        over.top = 2;
        over.width = 11;
        over.height = 13;
        over.interlaced = interlaced;
        for (std::size_t y = 0; y < over.height; ++y)
            for (std::size_t x = 0; x < over.width; ++x)
                over.indices.push_back(std::uint8_t((x + 2 * y) % 4));
        corpus::GIFFrame off = over;
        off.left = 8;
        off.top = 0;
        off.delayHundredths = 30;
        recipe.frames = {over, off};
        const NSData bytes = corpus::makeGIF(recipe);
        auto gif = detail::GIFAnimation::read(bytes.bytes(), bytes.length());
        ASSERT_TRUE(gif);
        ASSERT_EQ(gif->frameCount(), 2u);
        EXPECT_EQ(gif->frame(1).indices.size(), 0u);
        EXPECT_DOUBLE_EQ(gif->frame(1).delay, 0.3);
        const std::uint8_t palette[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
        for (std::size_t index : {0u, 1u}) {
            CGImageRef image = gif->compositeFrame(index);
            ASSERT_TRUE(image);
            const corpus::Pixels pixels = corpus::pixelsOf(*image);
            for (std::size_t y = 0; y < 6; ++y) {
                for (std::size_t x = 0; x < 8; ++x) {
                    const std::uint8_t* p = pixels.at(x, y);
                    if (x < 3 || y < 2) {
                        EXPECT_EQ(p[3], 0) << x << "," << y;
                        continue;
                    }
                    const auto& rgb = palette[((x - 3) + 2 * (y - 2)) % 4];
                    EXPECT_EQ((std::vector<int>{p[2], p[1], p[0], p[3]}),
                              (std::vector<int>{rgb[0], rgb[1], rgb[2], 255}))
                        << index << " at " << x << "," << y;
                }
            }
        }
    }
}

TEST(GIFWorkBounds, TheEstimateCoversEveryFrameTheReaderKeeps) {
    // Full-screen frames on a 256 x 256 screen: the reader keeps as many as its budget allows,
    // and the estimate for that budget covers the canvases and all the indices kept.
    corpus::GIFRecipe recipe;
    recipe.width = recipe.height = 256;
    recipe.globalPalette = corpus::basicPalette();
    for (int i = 0; i < 12; ++i) {
        corpus::GIFFrame f;
        f.width = f.height = 256;
        f.indices.assign(256 * 256, std::uint8_t(i % 4));
        recipe.frames.push_back(f);
    }
    const NSData bytes = corpus::makeGIF(recipe);
    const std::uint64_t canvas = 256 * 256;
    for (std::uint64_t budget : {std::uint64_t(300) << 10, std::uint64_t(1) << 20, std::uint64_t(3) << 20,
                                 detail::kMaxAnimationBytes}) {
        SCOPED_TRACE(budget);
        auto gif = detail::GIFAnimation::read(bytes.bytes(), bytes.length(), budget);
        ASSERT_TRUE(gif);
        std::uint64_t kept = 0;
        for (std::size_t i = 0; i < gif->frameCount(); ++i) kept += gif->frame(i).indices.size();
        auto estimate = detail::estimateGIFDecodeBytes(bytes.bytes(), bytes.length(), budget);
        ASSERT_TRUE(estimate);
        EXPECT_GE(*estimate, canvas * 12 + kept);
        // And not wildly more: the frames it cannot keep are not charged.
        EXPECT_LE(*estimate, canvas * 12 + kept + canvas + (1u << 20));
        auto viaSource = detail::estimateDecodeBytes(bytes.bytes(), bytes.length(), 1, budget);
        EXPECT_EQ(viaSource, estimate);
    }
    // Bytes that are no GIF, or too short to say, have no estimate.
    EXPECT_FALSE(detail::estimateGIFDecodeBytes(nullptr, 0));
    const std::string shortHeader = "GIF89a\x01\x00";
    EXPECT_FALSE(detail::estimateGIFDecodeBytes(bytesOf(shortHeader), shortHeader.size()));
    // A file cut anywhere is still priced, no higher than the whole.
    const auto whole = detail::estimateGIFDecodeBytes(bytes.bytes(), bytes.length());
    for (std::size_t cut : {std::size_t(13), std::size_t(40), bytes.length() / 2, bytes.length() - 1}) {
        auto partial = detail::estimateGIFDecodeBytes(bytes.bytes(), cut);
        ASSERT_TRUE(partial) << cut;
        EXPECT_LE(*partial, *whole) << cut;
    }
}

// ---- PNG -------------------------------------------------------------------------------------

TEST(PNGWorkBounds, AncillaryChunksAreNeverInflatedNorHeld) {
    struct Case {
        const char* name;
        std::string bytes;
    };
    for (const Case& c : {
             Case{"990 zTXt chunks of 7.9 MB each", hostile::zTXtPNG()},
             Case{"iTXt chunks", hostile::textChunkPNG(20, 1'000'000, "iTXt")},
             Case{"colour profiles that would not inflate", hostile::textChunkPNG(3, 1000, "iCCP", true)},
             Case{"a text chunk larger than a chunk may allocate", hostile::textChunkPNG(1, 80'000'000)},
             Case{"an unknown chunk", hostile::textChunkPNG(4, 100'000, "prVt")},
         }) {
        SCOPED_TRACE(c.name);
        CGImageRef image = detail::decodePNG(bytesOf(c.bytes), c.bytes.size(), false);
        ASSERT_TRUE(image);
        ASSERT_EQ(image->width(), 1u);
        const corpus::Pixels pixels = corpus::pixelsOf(*image);
        EXPECT_EQ(pixels.bgra, (std::vector<std::uint8_t>{0, 255, 0, 255}));
        auto estimate = detail::estimateDecodeBytes(bytesOf(c.bytes), c.bytes.size());
        ASSERT_TRUE(estimate);
        EXPECT_LT(*estimate, 1024u);
        EXPECT_TRUE(pageThumbnail(dataOf(c.bytes)));
    }
}

// ---- JPEG ------------------------------------------------------------------------------------

TEST(JPEGWorkBounds, TheScansAreCountedByTheBlocksTheyCover) {
    struct Case {
        const char* name;
        jpegwriter::Recipe recipe;
        int extraScans;
        std::uint64_t scanBlocks;
    };
    // 64 x 48 is 8 x 6 blocks of luma; at 4:2:0 the chroma are 4 x 3, and an interleaved scan
    // covers 12 MCUs of 6 blocks. The library's progression: two interleaved DC scans, four of luma
    // AC, two of each chroma's AC.
    for (const Case& c : {
             Case{"baseline: one scan, nothing counted", {64, 48, 3, false, false}, 0, 0},
             Case{"progressive 4:4:4", {64, 48, 3, false, true}, 0, 2 * 144 + 8 * 48},
             Case{"progressive 4:2:0", {64, 48, 3, true, true}, 0, 2 * 72 + 4 * 48 + 4 * 12},
             Case{"progressive grey", {64, 48, 1, false, true}, 0, 6 * 48},
             Case{"progressive 4:2:0, 100 luma scans more",
                  {64, 48, 3, true, true},
                  100,
                  2 * 72 + 4 * 48 + 4 * 12 + 100 * 48},
             Case{"edge blocks count whole", {65, 49, 3, true, true}, 0, 2 * 120 + 4 * 63 + 4 * 20},
         }) {
        SCOPED_TRACE(c.name);
        const std::string bytes = jpegwriter::withRepeatedLastScan(jpegwriter::write(c.recipe), c.extraScans);
        JPEGDecodeOptions::Report report;
        JPEGDecodeOptions options;
        options.report = &report;
        EXPECT_TRUE(detail::decodeJPEG(bytesOf(bytes), bytes.size(), options));
        EXPECT_EQ(report.refusal, Refusal::None);
        EXPECT_EQ(report.scanBlocks, c.scanBlocks);
    }
}

TEST(JPEGWorkBounds, ScansThatSweepTooMuchAreRefusedBeforeDecodingWhilePhotosShow) {
    struct Case {
        const char* name;
        int side;
        int scans;
        bool shows;
    };
    for (const Case& c : {
             // 640,000 luma blocks a scan, 980 times over: refused from its headers.
             Case{"6400 x 6400 in 990 scans", 6400, 990, false},
             Case{"2000 x 2000 in 600 scans", 2000, 600, false},
             // 62,500 luma blocks a scan: 190 refinements past the ten of the progression pass the
             // bound, 170 do not.
             Case{"2000 x 2000 in 200 scans", 2000, 200, false},
             Case{"2000 x 2000 in 180 scans", 2000, 180, true},
             Case{"2000 x 2000 in 20 scans", 2000, 20, true},
             Case{"400 x 400 in 900 scans", 400, 900, true},
         }) {
        SCOPED_TRACE(c.name);
        const std::string bytes = hostile::manyScanJPEG(c.side, c.scans);
        ASSERT_FALSE(bytes.empty());
        for (bool partial : {false, true}) {
            JPEGDecodeOptions::Report report;
            JPEGDecodeOptions options;
            options.partial = partial;
            options.scaleDenominator = 8;
            options.report = &report;
            CGImageRef image = detail::decodeJPEG(bytesOf(bytes), bytes.size(), options);
            EXPECT_EQ(image != nullptr, c.shows) << partial;
            if (c.shows) {
                EXPECT_LE(report.scanBlocks, detail::kMaxJPEGScanBlocks);
                continue;
            }
            EXPECT_EQ(report.refusal, Refusal::TooMuchWork);
            EXPECT_FALSE(report.decodingStarted);
            EXPECT_GT(report.scanBlocks, detail::kMaxJPEGScanBlocks);
            // Refused at the first scan: none past it was decoded.
            EXPECT_LE(report.scansRead, 1);
        }
        EXPECT_EQ(pageThumbnail(dataOf(bytes)) != nullptr, c.shows);
        EXPECT_EQ(CGImageSourceCreateImageAtIndex(CGImageSourceCreateWithData(dataOf(bytes)), 0) != nullptr,
                  c.shows);
    }
}

TEST(JPEGWorkBounds, A24MegapixelPhotoIn20ScansStillShows) {
    struct Case {
        const char* name;
        bool subsampled;
        std::uint64_t scanBlocks;
        // A page's thumbnail also needs the coefficient store within its memory bound, which a
        // 4:4:4 picture of this size passes (the work alone would not refuse it).
        bool pageShows;
    };
    // 6000 x 4000: 375,000 luma blocks, and as many a chroma component at 4:4:4 (the most a scan
    // of such a photo can cover), 93,750 at 4:2:0.
    for (const Case& c : {
             Case{"4:4:4", false, 2 * 3 * 375'000ull + 18 * 375'000ull, false},
             Case{"4:2:0", true, 2 * 93'750ull * 6 + 14 * 375'000ull + 4 * 93'750ull, true},
         }) {
        SCOPED_TRACE(c.name);
        const std::string bytes = jpegwriter::withRepeatedLastScan(
            jpegwriter::write({6000, 4000, 3, c.subsampled, true, true, 80}), 10);
        JPEGDecodeOptions::Report report;
        JPEGDecodeOptions options;
        options.scaleDenominator = 8;
        options.report = &report;
        CGImageRef image = detail::decodeJPEG(bytesOf(bytes), bytes.size(), options);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->width(), 750u);
        EXPECT_EQ(report.scanBlocks, c.scanBlocks);
        CGImageRef thumbnail = pageThumbnail(dataOf(bytes));
        ASSERT_EQ(thumbnail != nullptr, c.pageShows);
        if (thumbnail) {
            EXPECT_EQ(thumbnail->width(), 2048u);
        }
    }
}

TEST(JPEGWorkBounds, CutAndDamagedScanHeadersAreCountedSafely) {
    const std::string whole = hostile::manyScanJPEG(256, 200);
    ASSERT_FALSE(whole.empty());
    // Cut anywhere, or with scan headers claiming components the frame lacks: never a crash, never
    // more than the whole counts with every unknown component taken as the largest.
    for (std::size_t cut = 3; cut < whole.size(); cut += whole.size() / 37) {
        JPEGDecodeOptions::Report report;
        JPEGDecodeOptions options;
        options.partial = true;
        options.report = &report;
        (void)detail::decodeJPEG(bytesOf(whole), cut, options);
        EXPECT_LE(report.scanBlocks, 200u * 3 * 32 * 32) << cut;
    }
    std::string renamed = whole;
    for (std::size_t at = 0; at + 6 < renamed.size(); ++at)
        if (std::uint8_t(renamed[at]) == 0xFF && std::uint8_t(renamed[at + 1]) == 0xDA)
            renamed[at + 5] = char(99);
    JPEGDecodeOptions::Report report;
    JPEGDecodeOptions options;
    options.report = &report;
    EXPECT_EQ(detail::decodeJPEG(bytesOf(renamed), renamed.size(), options), nullptr);
    EXPECT_NE(report.refusal, Refusal::None);
}

}  // namespace
