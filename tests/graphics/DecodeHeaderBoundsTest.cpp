// What a picture holds besides its pixels is held to a bound too: a GIF's frames are priced by
// what the reader keeps of each (its record, and a colour table only when it brings a new one) and
// by what reading each descriptor costs, so a file of a million tiny frames is refused from its
// block structure; a JPEG's header is read past any number of metadata segments, only the first
// EXIF block read, and that only when it is shaped as a camera writes one.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "graphics/CGImageSource.h"
#include "graphics/ImageCodec.h"
#include "graphics/UIImage.h"
#include "tests/graphics/HostilePictures.h"
#include "tests/graphics/ImageCorpus.h"

namespace {

const std::uint8_t* bytesOf(const std::string& s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}

NSData dataOf(const std::string& bytes) {
    return NSData(bytes.data(), bytes.size());
}

// ---- GIF -------------------------------------------------------------------------------------

TEST(GIFHeaderBounds, AMillionTinyFramesAreRefusedFromTheirDescriptors) {
    const std::string bytes = hostile::millionFrameGIF();
    const std::uint64_t work = detail::estimateGIFDecodeWork(bytesOf(bytes), bytes.size());
    EXPECT_GT(work, detail::kMaxGIFDecodePixels);
    detail::GIFReadReport report;
    EXPECT_FALSE(
        detail::GIFAnimation::read(bytesOf(bytes), bytes.size(), detail::kMaxAnimationBytes, &report));
    EXPECT_EQ(report.refusal, detail::GIFReadReport::Refusal::TooMuchWork);
    EXPECT_EQ(report.expanded, 0u);
    auto source = CGImageSourceCreateWithData(dataOf(bytes));
    EXPECT_EQ(CGImageSourceGetCount(source), 0u);
    EXPECT_FALSE(UIImage::imageWithData(dataOf(bytes)));
}

TEST(GIFHeaderBounds, TheEstimateCountsEveryFramesRecordAndEachNewColourTable) {
    struct Case {
        const char* name;
        std::size_t frames;
        bool controls;
        unsigned localColours;
        // What each frame is expected to hold beyond its one index.
        std::uint64_t perFrame;
    };
    const std::uint64_t record = detail::kGIFFrameRecordBytes;
    const std::uint64_t table256 = 256 * 3 + detail::kGIFColourTableOverheadBytes;
    const std::uint64_t table4 = 4 * 3 + detail::kGIFColourTableOverheadBytes;
    for (const Case& c : {
             Case{"60,000 frames sharing the global table", 60'000, true, 0, record},
             Case{"60,000 frames without control blocks", 60'000, false, 0, record},
             Case{"20,000 frames each with a table of 256 of its own", 20'000, true, 256, record + table256},
             Case{"20,000 frames each with a table of 4 of its own", 20'000, false, 4, record + table4},
         }) {
        SCOPED_TRACE(c.name);
        const std::string bytes = hostile::manyFrameGIF(c.frames, 1, c.controls, c.localColours);
        const std::uint64_t global = table256;
        const std::uint64_t held = global + c.frames * (c.perFrame + 1);
        auto estimate = detail::estimateGIFDecodeBytes(bytesOf(bytes), bytes.size());
        ASSERT_TRUE(estimate);
        // The canvas of one pixel, its copies and the decoder's tables besides what is kept.
        EXPECT_GE(*estimate, held);
        EXPECT_LE(*estimate, held + (64u << 10) + 64);
        detail::GIFReadReport report;
        auto gif =
            detail::GIFAnimation::read(bytesOf(bytes), bytes.size(), detail::kMaxAnimationBytes, &report);
        ASSERT_TRUE(gif);
        EXPECT_EQ(report.refusal, detail::GIFReadReport::Refusal::None);
        ASSERT_EQ(gif->frameCount(), c.frames);
        EXPECT_TRUE(gif->complete());
        // Each frame keeps its own colour and table, shared or not.
        for (std::size_t i : {std::size_t(0), std::size_t(1), c.frames - 1}) {
            const auto frame = gif->frame(i);
            ASSERT_EQ(frame.indices, std::vector<std::uint8_t>{std::uint8_t(i % 4)});
            ASSERT_EQ(frame.palette.size(), 3 * (c.localColours ? c.localColours : 256));
            // Colour k is red k in the global table, 7k plus the frame's colour in a table of its own.
            const std::size_t k = i % 4;
            EXPECT_EQ(frame.palette[3 * k], std::uint8_t(c.localColours ? 8 * k : k));
            EXPECT_DOUBLE_EQ(gif->frameDelay(i), c.controls ? 0.1 : 0.0);
            CGImageRef image = gif->compositeFrame(i);
            ASSERT_TRUE(image);
            EXPECT_EQ(corpus::pixelsOf(*image).bgra[2], frame.palette[3 * (i % 4)]);
        }
    }
}

TEST(GIFHeaderBounds, TheBudgetStopsReadingAtWhatTheFramesHoldAndTheEstimateCoversIt) {
    // Frames of one pixel, each with a new table of 256: 849 bytes a frame.
    const std::string bytes = hostile::manyFrameGIF(5000, 1, false, 256);
    const std::uint64_t perFrame =
        detail::kGIFFrameRecordBytes + 1 + 256 * 3 + detail::kGIFColourTableOverheadBytes;
    const std::uint64_t global = 256 * 3 + detail::kGIFColourTableOverheadBytes;
    for (std::uint64_t budget : {std::uint64_t(64) << 10, std::uint64_t(1) << 20, std::uint64_t(3) << 20,
                                 detail::kMaxAnimationBytes}) {
        SCOPED_TRACE(budget);
        auto gif = detail::GIFAnimation::read(bytesOf(bytes), bytes.size(), budget);
        ASSERT_TRUE(gif);
        const std::size_t fit = std::size_t(std::min<std::uint64_t>(5000, (budget - global) / perFrame));
        EXPECT_EQ(gif->frameCount(), fit);
        EXPECT_EQ(gif->complete(), fit == 5000);
        auto estimate = detail::estimateGIFDecodeBytes(bytesOf(bytes), bytes.size(), budget);
        ASSERT_TRUE(estimate);
        EXPECT_GE(*estimate, global + fit * perFrame);
        EXPECT_LE(*estimate, global + fit * perFrame + (64u << 10) + 64);
        // A source given the bound prices and keeps the same.
        Dictionary options = Dictionary::mutableDictionary();
        options.setObject(kCGImageSourceMaxDecodeBytes, double(budget));
        auto source = CGImageSourceCreateWithData(dataOf(bytes), options);
        EXPECT_EQ(CGImageSourceGetCount(source), fit);
        EXPECT_EQ(CGImageSourceEstimateThumbnailBytes(source, 0, options), estimate);
    }
}

// ---- JPEG ------------------------------------------------------------------------------------

TEST(JPEGHeaderBounds, StuffedMetadataIsSteppedOverAndTheFirstOrientationHonoured) {
    using hostile::ExifStuffing;
    struct Case {
        const char* name;
        ExifStuffing kind;
    };
    for (const Case& c : {
             Case{"overlapping data", ExifStuffing::OverlappingData},
             Case{"pointers back at their own directory", ExifStuffing::PointersBack},
             Case{"a maker's note of overlapping data", ExifStuffing::MakerNote},
             Case{"blocks of another kind", ExifStuffing::NotExif},
         }) {
        SCOPED_TRACE(c.name);
        const std::string bytes = hostile::exifStuffedJPEG(220, 6, c.kind);
        ASSERT_GT(bytes.size(), 220u * 65535);
        auto info = detail::readJPEGInfo(bytesOf(bytes), bytes.size());
        ASSERT_TRUE(info);
        EXPECT_EQ(info->width, 640u);
        EXPECT_EQ(info->orientation, 6);
        EXPECT_TRUE(info->embeddedThumbnail.empty());
        // A page's thumbnail comes turned: 480 wide.
        auto source = CGImageSourceCreateWithData(dataOf(bytes));
        Dictionary options = Dictionary::mutableDictionary();
        options.setObject(kCGImageSourceCreateThumbnailFromImageAlways, true);
        options.setObject(kCGImageSourceCreateThumbnailWithTransform, true);
        options.setObject(kCGImageSourceThumbnailMaxPixelSize, 640.0);
        options.setObject(kCGImageSourceMaxDecodeBytes, double(128u << 20));
        CGImageRef thumbnail = CGImageSourceCreateThumbnailAtIndex(source, 0, options);
        ASSERT_TRUE(thumbnail);
        EXPECT_EQ(thumbnail->width(), 480u);
        EXPECT_EQ(thumbnail->height(), 640u);
        auto image = UIImage::imageWithData(dataOf(bytes));
        ASSERT_TRUE(image);
        EXPECT_EQ(image->imageOrientation(), UIImageOrientation::Right);
    }
}

TEST(JPEGHeaderBounds, AnEXIFBlockNotShapedAsWrittenIsPassedOverWhileThePictureShows) {
    using hostile::ExifStuffing;
    struct Case {
        ExifStuffing kind;
        int orientation;
    };
    for (const Case& c : {
             Case{ExifStuffing::OverlappingData, 0},
             Case{ExifStuffing::PointersBack, 0},
             // Shaped as written: read, its maker's note passed by.
             Case{ExifStuffing::MakerNote, 6},
         }) {
        SCOPED_TRACE(int(c.kind));
        // The stuffed block first: it is the one looked at.
        const std::string bytes = hostile::exifStuffedJPEG(3, 0, c.kind);
        auto info = detail::readJPEGInfo(bytesOf(bytes), bytes.size());
        ASSERT_TRUE(info);
        EXPECT_EQ(info->orientation, c.orientation);
        EXPECT_TRUE(CGImageSourceCreateImageAtIndex(CGImageSourceCreateWithData(dataOf(bytes)), 0));
    }
    // Megabytes of stray bytes between the segments are searched past, as the decoder passes them.
    {
        std::string stray = hostile::exifStuffedJPEG(1, 6, ExifStuffing::NotExif);
        const std::size_t afterOrientation = 4 + ((std::uint8_t(stray[4]) << 8) | std::uint8_t(stray[5]));
        stray.insert(afterOrientation, std::string(8u << 20, '\0'));
        auto info = detail::readJPEGInfo(bytesOf(stray), stray.size());
        ASSERT_TRUE(info);
        EXPECT_EQ(info->width, 640u);
        EXPECT_EQ(info->orientation, 6);
    }
    // Cut anywhere inside the metadata: no crash, and no picture without its frame header.
    const std::string bytes = hostile::exifStuffedJPEG(2, 6, ExifStuffing::PointersBack);
    for (std::size_t cut = 3; cut < 2 * 65540; cut += 4099) {
        auto info = detail::readJPEGInfo(bytesOf(bytes), cut);
        EXPECT_FALSE(info) << cut;
    }
}

TEST(JPEGHeaderBounds, OrdinaryPhotosKeepTheirOrientationAndThumbnails) {
    struct Case {
        int orientation;
        bool little;
        std::size_t width, height;  // as shown
    };
    for (const Case& c : {
             Case{6, false, 48, 64},
             Case{6, true, 48, 64},
             Case{8, false, 48, 64},
             Case{3, true, 64, 48},
             Case{1, false, 64, 48},
         }) {
        SCOPED_TRACE(testing::Message() << c.orientation << (c.little ? " little" : " big") << "-endian");
        corpus::JPEGRecipe recipe;
        recipe.exifOrientation = c.orientation;
        recipe.exifLittleEndian = c.little;
        const NSData bytes = corpus::makeJPEG(recipe);
        auto info = detail::readJPEGInfo(bytes.bytes(), bytes.length());
        ASSERT_TRUE(info);
        EXPECT_EQ(info->orientation, c.orientation);
        // Read without metadata, for an estimate, the orientation is not looked for.
        EXPECT_EQ(detail::readJPEGInfo(bytes.bytes(), bytes.length(), false)->orientation, 0);
        auto source = CGImageSourceCreateWithData(bytes);
        Dictionary options = Dictionary::mutableDictionary();
        options.setObject(kCGImageSourceCreateThumbnailFromImageAlways, true);
        options.setObject(kCGImageSourceCreateThumbnailWithTransform, true);
        CGImageRef turned = CGImageSourceCreateThumbnailAtIndex(source, 0, options);
        ASSERT_TRUE(turned);
        EXPECT_EQ(turned->width(), c.width);
        EXPECT_EQ(turned->height(), c.height);
    }
}

}  // namespace
