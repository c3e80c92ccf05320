// Pictures that cost far more than their size are held to what they show: a GIF's frames are
// clipped to its screen (and priced so) and a GIF is refused by the pixels its data must be
// expanded to, a PNG's text chunks are never inflated, and a progressive
// JPEG is refused by the work its scans add up to, while ordinary pictures still decode.

#include <gtest/gtest.h>

#include <random>
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

// The clear codes bigFrameGIF writes in a frame's data, counted as they are written.
std::uint64_t clearsOf(const hostile::GIFFrameSize& f) {
    std::uint64_t clears = 0;
    hostile::internal::constantLZW(f.dataPixels ? f.dataPixels : std::uint64_t(f.width) * f.height, &clears,
                                   f.extraClears);
    return clears;
}

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

// The rows a frame must expand, as its data holds them, to reach its last row on the screen: the
// count made from the descriptors before decoding is what the reader then expands, and the rows
// land where they belong.
TEST(GIFWorkBounds, TheWorkIsTheRowsExpandedToReachTheScreen) {
    struct Case {
        const char* name;
        std::size_t height, onScreen;
        bool interlaced;
        std::uint64_t rows;
    };
    for (const Case& c : {
             Case{"in order, cut by the screen", 13, 4, false, 4},
             Case{"in order, whole", 13, 13, false, 13},
             // Rows 0 and 8, then 4 and 12, then 2, 6 and 10, then 1 and 3 of the last pass.
             Case{"interlaced, four rows on the screen", 13, 4, true, 2 + 2 + 3 + 2},
             Case{"interlaced, five rows on the screen", 13, 5, true, 2 + 2 + 3 + 2},
             Case{"interlaced, the first row only", 13, 1, true, 1},
             Case{"interlaced, three rows of three", 3, 3, true, 3},
             Case{"interlaced, whole", 13, 13, true, 13},
             Case{"interlaced, one row of one", 1, 1, true, 1},
         }) {
        SCOPED_TRACE(c.name);
        // Six wide on a screen four wide: whole rows are expanded, what overhangs is not kept.
        corpus::GIFRecipe recipe;
        recipe.width = 4;
        recipe.height = c.onScreen;
        recipe.globalPalette = corpus::basicPalette();
        corpus::GIFFrame frame;
        frame.width = 6;
        frame.height = c.height;
        frame.interlaced = c.interlaced;
        for (std::size_t y = 0; y < c.height; ++y)
            for (std::size_t x = 0; x < 6; ++x) frame.indices.push_back(std::uint8_t((x + 3 * y) % 4));
        recipe.frames = {frame};
        const NSData bytes = corpus::makeGIF(recipe);
        // The encoder opens the data with a clear code, and this little never fills its table.
        const std::uint64_t work = c.rows * 6 + detail::kGIFClearCodePixels + detail::kGIFFramePixels;
        EXPECT_EQ(detail::estimateGIFDecodeWork(bytes.bytes(), bytes.length()), work);
        detail::GIFReadReport report;
        auto gif =
            detail::GIFAnimation::read(bytes.bytes(), bytes.length(), detail::kMaxAnimationBytes, &report);
        ASSERT_TRUE(gif);
        EXPECT_EQ(report.refusal, detail::GIFReadReport::Refusal::None);
        EXPECT_EQ(report.work, work);
        EXPECT_EQ(report.clearCodes, 1u);
        EXPECT_EQ(report.expanded, c.rows * 6);
        ASSERT_EQ(gif->frameCount(), 1u);
        const auto& kept = gif->frame(0);
        ASSERT_EQ(kept.indices.size(), 4 * c.onScreen);
        for (std::size_t y = 0; y < c.onScreen; ++y)
            for (std::size_t x = 0; x < 4; ++x)
                EXPECT_EQ(kept.indices[y * 4 + x], (x + 3 * y) % 4) << x << "," << y;
    }
}

TEST(GIFWorkBounds, FramesAskingTooMuchAreRefusedBeforeDecodingWhileAnimationsShow) {
    using hostile::GIFFrameSize;
    struct Case {
        const char* name;
        unsigned screenW, screenH;
        std::vector<GIFFrameSize> frames;
        // The pixels the descriptors ask to be expanded, when under the bound; the clear codes of
        // the frames decoded are added to them.
        std::uint64_t pixels;
        bool shows;
        std::size_t framesKept;
    };
    const GIFFrameSize interlaced{10000, 10000, true}, plain{10000, 10000};
    // Two frames of 10,000 wide on a screen of 7000 rows whose pixels are the bound exactly, and two a
    // row shorter.
    static_assert(detail::kMaxGIFDecodePixels % 20000 == 0 && detail::kMaxGIFDecodePixels / 20000 < 7000);
    constexpr unsigned kRows = unsigned(detail::kMaxGIFDecodePixels / 20000);
    const GIFFrameSize exact{10000, kRows}, tall{10000, kRows - 1};
    // The screen's second row is in the last pass: 5001 rows of 10,000 a frame.
    constexpr std::uint64_t kInterlacedFrame = 5001 * 10000;
    // The shorter two, and one row as wide as what is left of the bound once their clear codes and
    // its own are charged: the bound exactly.
    const std::uint64_t left = detail::kMaxGIFDecodePixels - 2 * (kRows - 1) * 10000ull -
                               (2 * clearsOf(tall) + 1) * detail::kGIFClearCodePixels -
                               3 * detail::kGIFFramePixels;
    ASSERT_LT(left, 65536u);
    const GIFFrameSize last{unsigned(left), 1}, lastAndOne{unsigned(left + 1), 1};
    for (const Case& c : {
             Case{"a 2-row screen, four interlaced frames of 100 MP", 1, 2, {4, interlaced}, 0, false, 0},
             Case{"a 2-row screen, three interlaced frames of 100 MP", 1, 2, {3, interlaced}, 0, false, 0},
             Case{"a 2-row screen, one interlaced frame of 100 MP",
                  1,
                  2,
                  {interlaced},
                  kInterlacedFrame,
                  true,
                  1},
             Case{"a 2-row screen, the same four frames in row order",
                  1,
                  2,
                  {4, plain},
                  4 * 2 * 10000,
                  true,
                  4},
             Case{"at the bound", 1, 7000, {tall, tall, last}, 2 * (kRows - 1) * 10000ull + left, true, 3},
             Case{"one pixel past the bound", 1, 7000, {tall, tall, lastAndOne}, 0, false, 0},
             Case{"the bound's pixels, then their clear codes", 1, 7000, {exact, exact}, 0, false, 0},
             // The size budget keeps 134 of the canvases of 4 MB, and only those are expanded.
             Case{"200 frames of 1000 x 1000", 1000, 1000, {200, {1000, 1000}}, 134'000'000, true, 134},
         }) {
        SCOPED_TRACE(c.name);
        const std::string bytes = hostile::bigFrameGIF(c.screenW, c.screenH, c.frames);
        const std::uint64_t work = detail::estimateGIFDecodeWork(bytesOf(bytes), bytes.size());
        detail::GIFReadReport report;
        auto gif =
            detail::GIFAnimation::read(bytesOf(bytes), bytes.size(), detail::kMaxAnimationBytes, &report);
        EXPECT_EQ(report.work, work);
        if (!c.shows) {
            // Refused from the descriptors: nothing expanded, and no frame for anyone asking.
            EXPECT_FALSE(gif);
            EXPECT_GT(work, detail::kMaxGIFDecodePixels);
            EXPECT_EQ(report.refusal, detail::GIFReadReport::Refusal::TooMuchWork);
            EXPECT_EQ(report.expanded, 0u);
            auto source = CGImageSourceCreateWithData(dataOf(bytes));
            EXPECT_EQ(CGImageSourceGetCount(source), 0u);
            EXPECT_EQ(CGImageSourceGetStatus(source), kCGImageStatusInvalidData);
            EXPECT_FALSE(CGImageSourceCreateImageAtIndex(source, 0));
            EXPECT_FALSE(pageThumbnail(dataOf(bytes)));
            continue;
        }
        // Every clear code of a decoded frame is charged, those of rows never reached too.
        std::uint64_t clears = 0;
        for (std::size_t i = 0; i < c.framesKept; ++i) clears += clearsOf(c.frames[i]);
        EXPECT_EQ(report.clearCodes, clears);
        // And every descriptor read, the one the size budget stops at too.
        const std::uint64_t descriptors = std::min(c.frames.size(), c.framesKept + 1);
        EXPECT_EQ(work,
                  c.pixels + clears * detail::kGIFClearCodePixels + descriptors * detail::kGIFFramePixels);
        EXPECT_LE(work, detail::kMaxGIFDecodePixels);
        ASSERT_TRUE(gif);
        EXPECT_EQ(report.refusal, detail::GIFReadReport::Refusal::None);
        EXPECT_EQ(report.expanded, c.pixels);
        EXPECT_FALSE(report.stoppedForWork);
        ASSERT_EQ(gif->frameCount(), c.framesKept);
        CGImageRef lastFrame = gif->compositeFrame(c.framesKept - 1);
        ASSERT_TRUE(lastFrame);
        EXPECT_EQ(corpus::pixelsOf(*lastFrame).bgra[2], 255);  // red
    }
}

// The count takes every frame to be whole; frames dropped as damaged are not kept, so the reader
// may go past where the count stopped at the size budget. The work bound then stops the reading
// where a frame would pass it, keeping what came before, as the size budget does.
TEST(GIFWorkBounds, DamagedFramesCannotCarryTheReadingPastTheBound) {
    // Canvases of 28,000 bytes; a budget of two of them, so the count stops after two frames.
    const std::uint64_t budget = 2 * 7000 * 4;
    using hostile::GIFFrameSize;
    struct Case {
        const char* name;
        std::vector<GIFFrameSize> frames;
        std::uint64_t pixels;  // what the count charges for the first two frames' rows
        std::size_t framesKept;
        bool stoppedForWork;
    };
    // Each whole frame asks for a row less than half the bound and its clear codes.
    constexpr unsigned kRows = unsigned(detail::kMaxGIFDecodePixels / 20000) - 1;
    const GIFFrameSize whole{10000, kRows}, damaged{10000, kRows, false, 1000};
    // Small damaged frames, then frames of a hundred pixels whose clear codes the count never saw:
    // within what is left of the bound, or past it.
    const GIFFrameSize small{10, 10, false, 5};
    const GIFFrameSize cleared{10, 10, false, 0, 1000},
        clearedPast{10, 10, false, 0, detail::kMaxGIFDecodePixels / detail::kGIFClearCodePixels};
    for (const Case& c : {
             Case{"a damaged first frame: the work stops it",
                  {damaged, whole, whole},
                  2 * kRows * 10000ull,
                  1,
                  true},
             Case{"damaged frames before the last", {damaged, damaged, whole}, 2 * kRows * 10000ull, 0, true},
             Case{
                 "damaged frames, then clear codes within the bound", {small, small, cleared}, 200, 1, false},
             Case{"damaged frames, then clear codes past the bound",
                  {small, small, clearedPast},
                  200,
                  0,
                  true},
         }) {
        SCOPED_TRACE(c.name);
        const std::string bytes = hostile::bigFrameGIF(1, 7000, c.frames);
        detail::GIFReadReport report;
        auto gif = detail::GIFAnimation::read(bytesOf(bytes), bytes.size(), budget, &report);
        ASSERT_TRUE(gif);
        const std::uint64_t clears = clearsOf(c.frames[0]) + clearsOf(c.frames[1]);
        EXPECT_EQ(report.clearCodes, clears);
        // The count read the third descriptor before its budget stopped it.
        EXPECT_EQ(report.work, c.pixels + clears * detail::kGIFClearCodePixels + 3 * detail::kGIFFramePixels);
        EXPECT_EQ(gif->frameCount(), c.framesKept);
        EXPECT_EQ(report.stoppedForWork, c.stoppedForWork);
        EXPECT_EQ(gif->complete(), !c.stoppedForWork);
        EXPECT_LE(report.expanded, detail::kMaxGIFDecodePixels);
    }
}

// The code boundaries of a frame's data, followed without decoding it: codes and clear codes are
// counted as the library's line reader would meet them, and the count stops where that reader
// stops.
TEST(GIFWorkBounds, TheCodeCounterFollowsTheDataAsTheDecoderReadsIt) {
    using hostile::internal::BitWriter;
    using Stop = detail::GIFCodeCount::Stop;
    struct Code {
        unsigned value;
        int width;
    };
    struct Case {
        const char* name;
        int codeSize;
        std::vector<Code> codes;
        std::uint64_t counted, clearCodes;
        Stop stop;
        std::uint64_t maxClearCodes = ~std::uint64_t(0);
    };
    // One literal a code from a clear on, as an encoder that never looks for strings writes them;
    // the table fills after 4090 codes and then keeps its 12 bits until a clear.
    auto literals = [](std::size_t count, bool clearAtTheEnd) {
        std::vector<Code> codes{{4, 3}};
        int width = 3;
        unsigned next = 6;
        for (std::size_t i = 0; i < count; ++i) {
            codes.push_back({unsigned(i % 4), width});
            if (i > 0 && next < 4096) {
                ++next;
                if (next >= (1u << width) && width < 12) ++width;
            }
        }
        if (clearAtTheEnd) codes.push_back({4, width});
        codes.push_back({clearAtTheEnd ? 2u : 5u, clearAtTheEnd ? 3 : width});
        if (clearAtTheEnd) codes.push_back({5, 3});
        return codes;
    };
    std::vector<Code> million(1'000'000, {4, 3});
    million.insert(million.end(), {{1, 3}, {2, 3}, {5, 3}});
    // Runs of clear codes broken by pixels at odd places, at a code size of 8.
    std::vector<Code> broken(37, {256, 9});
    broken.push_back({65, 9});
    broken.insert(broken.end(), 41, {256, 9});
    broken.insert(broken.end(), {{66, 9}, {67, 9}, {256, 9}, {257, 9}});
    for (const Case& c : {
             Case{"a clear code between pixels",
                  2,
                  {{4, 3}, {1, 3}, {4, 3}, {2, 3}, {4, 3}, {3, 3}, {4, 3}, {0, 3}, {5, 3}},
                  8,
                  4,
                  Stop::EndCode},
             Case{"a million clear codes, then the pixels", 2, million, 1'000'002, 1'000'000, Stop::EndCode},
             Case{"clear codes past what is left of the bound", 2, million, 1001, 1001, Stop::Limit, 1000},
             Case{"runs of clear codes broken by pixels", 8, broken, 37 + 1 + 41 + 3, 37 + 41 + 1,
                  Stop::EndCode},
             Case{"the limit inside a run", 8, broken, 37 + 1 + 41, 37 + 41, Stop::Limit, 77},
             // Codes 6 and 7 are defined by the second and third codes: the fourth is four bits.
             Case{"the width grows at the eighth entry",
                  2,
                  {{4, 3}, {0, 3}, {1, 3}, {2, 3}, {3, 4}, {8, 4}, {5, 4}},
                  6,
                  1,
                  Stop::EndCode},
             // 4095 codes fill the table; then 12 bits until the clear, after which 3 again.
             Case{"the full table kept until a clear", 2, literals(4200, true), 4203, 2, Stop::EndCode},
             Case{"the full table never cleared", 2, literals(5000, false), 5001, 1, Stop::EndCode},
             // The last byte's padding reads as two more codes, the second four bits wide.
             Case{"no end code", 2, {{4, 3}, {1, 3}, {2, 3}}, 5, 1, Stop::DataEnd},
             Case{"no clear code first", 2, {{1, 3}, {2, 3}, {5, 3}}, 2, 0, Stop::EndCode},
             // A code the table does not hold yet, mid-stream: read through, clear codes after it
             // counted.
             Case{"a code past the table",
                  2,
                  {{4, 3}, {1, 3}, {7, 3}, {4, 3}, {4, 3}, {0, 3}, {5, 3}},
                  6,
                  3,
                  Stop::EndCode},
             Case{"a string code first after a clear",
                  2,
                  {{4, 3}, {1, 3}, {4, 3}, {6, 3}, {4, 3}, {4, 3}, {5, 3}},
                  3,
                  2,
                  Stop::Damage},
             Case{"a string code first of all", 2, {{6, 3}, {4, 3}, {5, 3}}, 0, 0, Stop::Damage},
             // At code sizes 0 and 1 the width grows at the first code after a clear.
             Case{"a code size of 1",
                  1,
                  {{2, 2}, {1, 2}, {0, 3}, {4, 3}, {2, 3}, {3, 2}},
                  5,
                  2,
                  Stop::EndCode},
             Case{"a code size of 0",
                  0,
                  {{1, 1}, {0, 1}, {0, 2}, {3, 3}, {1, 3}, {1, 1}, {0, 1}, {2, 2}},
                  7,
                  3,
                  Stop::EndCode},
             Case{"a code size of 8",
                  8,
                  {{256, 9}, {65, 9}, {66, 9}, {256, 9}, {67, 9}, {257, 9}},
                  5,
                  2,
                  Stop::EndCode},
             Case{"a code size of 9", 9, {{512, 10}, {1, 10}, {513, 10}}, 0, 0, Stop::Damage},
         }) {
        SCOPED_TRACE(c.name);
        BitWriter data;
        for (const Code& code : c.codes) data.put(code.value, code.width);
        data.finish();
        std::string blocks;
        hostile::internal::putBlocks(blocks, data.bytes);
        const detail::GIFCodeCount count =
            detail::countGIFCodes(bytesOf(blocks), blocks.size(), c.codeSize, c.maxClearCodes);
        EXPECT_EQ(count.codes, c.counted);
        EXPECT_EQ(count.clearCodes, c.clearCodes);
        EXPECT_EQ(count.stop, c.stop);
        // Cut anywhere, the count is never more than the whole's and never reads past the cut.
        for (std::size_t cut : {std::size_t(0), std::size_t(1), blocks.size() / 2, blocks.size() - 1}) {
            const std::vector<std::uint8_t> part(blocks.begin(), blocks.begin() + std::ptrdiff_t(cut));
            const detail::GIFCodeCount partial =
                detail::countGIFCodes(part.data(), part.size(), c.codeSize, c.maxClearCodes);
            EXPECT_LE(partial.codes, count.codes) << cut;
            EXPECT_LE(partial.clearCodes, count.clearCodes) << cut;
        }
    }
}

// Long streams of every code size from 2 to 8, written code by code with the widths the decoder
// expects (tables filled, kept full and cleared at random): the count, which takes runs of codes a
// word at a time, agrees with them code for code.
TEST(GIFWorkBounds, TheCodeCounterAgreesWithStreamsWrittenCodeByCode) {
    std::mt19937 random(11);
    for (int codeSize = 2; codeSize <= 8; ++codeSize) {
        for (double clearChance : {0.0, 0.0002, 0.01, 0.3}) {
            SCOPED_TRACE(testing::Message() << codeSize << " bits, clear chance " << clearChance);
            const unsigned clear = 1u << codeSize, end = clear + 1;
            hostile::internal::BitWriter out;
            unsigned width = codeSize + 1, next = clear + 2;
            bool fresh = true;
            std::uint64_t codes = 0, clears = 0;
            std::uniform_real_distribution<double> chance(0, 1);
            for (int i = 0; i < 20000; ++i) {
                if (chance(random) < clearChance) {
                    out.put(clear, int(width));
                    ++codes;
                    ++clears;
                    width = codeSize + 1;
                    next = clear + 2;
                    fresh = true;
                    continue;
                }
                // A literal first after a clear, otherwise any code the table holds but the two.
                unsigned code = unsigned(random()) % (fresh ? clear : next);
                if (code == clear || code == end) code = 0;
                out.put(code, int(width));
                ++codes;
                if (!fresh && next < 4096) {
                    ++next;
                    if (next >= (1u << width) && width < 12) ++width;
                }
                fresh = false;
            }
            out.put(end, int(width));
            out.finish();
            std::string blocks;
            hostile::internal::putBlocks(blocks, out.bytes);
            const detail::GIFCodeCount count =
                detail::countGIFCodes(bytesOf(blocks), blocks.size(), codeSize);
            EXPECT_EQ(count.codes, codes);
            EXPECT_EQ(count.clearCodes, clears);
            EXPECT_EQ(count.stop, detail::GIFCodeCount::Stop::EndCode);
        }
    }
}

// The same streams read by the decoder: a frame is decoded, or lost while the file goes on, as
// the count before decoding expects, and clear codes the decoder would reset its table at are
// refused in any number past the bound.
TEST(GIFWorkBounds, ClearCodesArePricedWhereTheDecoderMeetsThem) {
    struct Code {
        unsigned value;
        int width;
    };
    struct Case {
        const char* name;
        std::size_t width;
        std::vector<Code> codes;
        std::size_t clearsBeforeLast;      // clear codes written before the last code
        std::vector<std::uint8_t> pixels;  // empty: the frame is lost (or the file refused)
        bool refused = false;
    };
    const std::size_t many = detail::kMaxGIFDecodePixels / detail::kGIFClearCodePixels + 1;
    for (const Case& c : {
             Case{"a clear code before every pixel",
                  4,
                  {{4, 3}, {1, 3}, {4, 3}, {2, 3}, {4, 3}, {3, 3}, {4, 3}, {0, 3}, {5, 3}},
                  0,
                  {1, 2, 3, 0}},
             Case{"the code being defined", 4, {{4, 3}, {1, 3}, {6, 3}, {2, 3}, {5, 3}}, 0, {1, 1, 1, 2}},
             Case{"the width grown at the eighth entry",
                  4,
                  {{4, 3}, {1, 3}, {2, 3}, {3, 3}, {1, 4}, {5, 4}},
                  0,
                  {1, 2, 3, 1}},
             Case{"no end code", 2, {{4, 3}, {1, 3}, {2, 3}}, 0, {1, 2}},
             Case{"the end before the pixels", 4, {{4, 3}, {1, 3}, {2, 3}, {5, 3}}, 0, {}},
             // The decoder makes pixels up from a code past the table and reads on through every
             // clear code after it: refused.
             Case{"a code past the table, then the bound's clear codes",
                  8,
                  {{4, 3}, {1, 3}, {7, 3}, {0, 3}},
                  many,
                  {},
                  true},
             // It stops at a string code first after a clear: the clear codes after it cost
             // nothing, and the frame alone is lost.
             Case{"a string code first after a clear, then the bound's clear codes",
                  8,
                  {{4, 3}, {7, 3}, {0, 3}},
                  many,
                  {}},
             Case{"the bound's clear codes after the last pixel, charged all the same",
                  2,
                  {{4, 3}, {1, 3}, {2, 3}, {5, 3}},
                  many,
                  {},
                  true},
         }) {
        SCOPED_TRACE(c.name);
        hostile::internal::BitWriter data;
        for (std::size_t i = 0; i < c.codes.size(); ++i) {
            if (i + 1 == c.codes.size())
                for (std::size_t k = 0; k < c.clearsBeforeLast; ++k) data.put(4, 3);
            data.put(c.codes[i].value, c.codes[i].width);
        }
        data.finish();
        // The frame on trial, then a whole frame of colour 0 shown for half a second.
        std::string g = "GIF89a";
        hostile::internal::put16(g, unsigned(c.width));
        hostile::internal::put16(g, 1);
        g += std::string("\x81\x00\x00\xFF\x00\x00\x00\xFF\x00\x00\x00\xFF\xFF\xFF\xFF", 15);
        g += char(0x2C);
        for (unsigned v : {0u, 0u, unsigned(c.width), 1u}) hostile::internal::put16(g, v);
        g += char(0);
        g += char(2);
        hostile::internal::putBlocks(g, data.bytes);
        g += std::string("\x21\xF9\x04\x00\x32\x00\x00\x00", 8);
        g += char(0x2C);
        for (unsigned v : {0u, 0u, unsigned(c.width), 1u}) hostile::internal::put16(g, v);
        g += std::string("\x00\x02", 2);
        hostile::internal::putBlocks(g, hostile::internal::constantLZW(c.width));
        g += char(0x3B);
        detail::GIFReadReport report;
        auto gif = detail::GIFAnimation::read(bytesOf(g), g.size(), detail::kMaxAnimationBytes, &report);
        if (c.refused) {
            EXPECT_FALSE(gif);
            EXPECT_EQ(report.refusal, detail::GIFReadReport::Refusal::TooMuchWork);
            EXPECT_EQ(report.expanded, 0u);
            continue;
        }
        ASSERT_TRUE(gif);
        EXPECT_TRUE(gif->complete());
        ASSERT_EQ(gif->frameCount(), c.pixels.empty() ? 1u : 2u);
        if (!c.pixels.empty()) {
            EXPECT_EQ(gif->frame(0).indices, c.pixels);
        }
        EXPECT_DOUBLE_EQ(gif->frame(gif->frameCount() - 1).delay, 0.5);
        EXPECT_EQ(gif->frame(gif->frameCount() - 1).indices, std::vector<std::uint8_t>(c.width, 0));
    }
    // The clear-code file itself: at the bound it is priced and allowed, one clear code more and
    // it is refused before the decoder sees it.
    const std::size_t allowed =
        (detail::kMaxGIFDecodePixels - 1 - detail::kGIFFramePixels) / detail::kGIFClearCodePixels;
    const std::string atBound = hostile::clearCodeGIF(allowed);
    EXPECT_EQ(detail::estimateGIFDecodeWork(bytesOf(atBound), atBound.size()),
              1 + allowed * detail::kGIFClearCodePixels + detail::kGIFFramePixels);
    const std::string past = hostile::clearCodeGIF(allowed + 1);
    detail::GIFReadReport report;
    EXPECT_FALSE(detail::GIFAnimation::read(bytesOf(past), past.size(), detail::kMaxAnimationBytes, &report));
    EXPECT_EQ(report.refusal, detail::GIFReadReport::Refusal::TooMuchWork);
    EXPECT_GT(report.work, detail::kMaxGIFDecodePixels);
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
