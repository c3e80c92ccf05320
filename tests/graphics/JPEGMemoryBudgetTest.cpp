// What decoding a picture needs, told from its header, and the decoders held to a byte bound: a
// progressive JPEG keeps every coefficient whatever the output scale, so a huge one is refused
// before it is decoded while an ordinary photo still decodes as a thumbnail; a header that lies
// about its size gains nothing; a file of endless scans is refused.

#include <gtest/gtest.h>

#include <string>

#include "graphics/CGImageSource.h"
#include "graphics/ImageCodec.h"
#include "tests/graphics/JPEGWriter.h"

namespace {

using detail::ImageInfo;
using detail::JPEGDecodeOptions;
using Refusal = JPEGDecodeOptions::Report::Refusal;

constexpr std::uint64_t kBudget = 128ull << 20;

NSData dataOf(const std::string& bytes) {
    return NSData(bytes.data(), bytes.size());
}

TEST(JPEGMemoryBudget, EstimatesCountTheCoefficientStoreOfMultiScanFilesAtEveryScale) {
    const ImageInfo::Sampling s444[] = {{1, 1}, {1, 1}, {1, 1}, {1, 1}};
    const ImageInfo::Sampling s420[] = {{2, 2}, {1, 1}, {1, 1}};
    struct Case {
        const char* name;
        const ImageInfo::Sampling* sampling;
        int components;
        std::uint64_t coefficients;  // of a 10,000 x 10,000 picture
    };
    for (const Case& c :
         {Case{"4:4:4", s444, 3, 1250ull * 1250 * 3 * 128},
          Case{"4:2:0", s420, 3, 1250ull * 1250 * 128 + 2ull * 625 * 625 * 128},
          Case{"grey", s444, 1, 1250ull * 1250 * 128}, Case{"CMYK", s444, 4, 1250ull * 1250 * 4 * 128}}) {
        for (unsigned scale : {1u, 8u}) {
            const std::uint64_t progressive =
                detail::estimateJPEGDecodeBytes(10000, 10000, c.sampling, c.components, true, scale);
            const std::uint64_t baseline =
                detail::estimateJPEGDecodeBytes(10000, 10000, c.sampling, c.components, false, scale);
            EXPECT_EQ(progressive - baseline, c.coefficients) << c.name << " 1/" << scale;
            const std::uint64_t output = 10000ull / scale * (10000 / scale) * 4;
            EXPECT_GE(baseline, output) << c.name;
            EXPECT_LT(baseline, output + (4u << 20)) << c.name << " 1/" << scale;
        }
    }

    // From real files' headers: the sampling and the scans as the encoder wrote them.
    struct FileCase {
        jpegwriter::Recipe recipe;
        std::size_t components;
        int lumaFactor;
    };
    for (const FileCase& f :
         {FileCase{{160, 120, 3, false, false}, 3, 1}, FileCase{{160, 120, 3, true, true}, 3, 2},
          FileCase{{160, 120, 1, false, true}, 1, 1}, FileCase{{160, 120, 4, false, true}, 4, 1}}) {
        const std::string bytes = jpegwriter::write(f.recipe);
        auto info = detail::readJPEGInfo(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        ASSERT_TRUE(info);
        ASSERT_EQ(info->sampling.size(), f.components);
        EXPECT_EQ(info->sampling[0].horizontal, f.lumaFactor);
        EXPECT_EQ(info->sampling[0].vertical, f.lumaFactor);
        EXPECT_EQ(info->multiScan, f.recipe.progressive);
        auto estimate =
            detail::estimateDecodeBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        ASSERT_TRUE(estimate);
        EXPECT_EQ(*estimate, detail::estimateJPEGDecodeBytes(160, 120, info->sampling.data(),
                                                             int(f.components), f.recipe.progressive, 1));
        // What the decoder itself estimated agrees.
        JPEGDecodeOptions::Report report;
        JPEGDecodeOptions options;
        options.report = &report;
        EXPECT_TRUE(
            detail::decodeJPEG(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), options));
        EXPECT_EQ(report.refusal, Refusal::None);
        EXPECT_EQ(report.estimatedBytes, *estimate);
    }
    EXPECT_FALSE(detail::estimateDecodeBytes(nullptr, 0));
    const std::string junk = "\xFF\xD8\xFF\xE0 not much";
    EXPECT_FALSE(
        detail::estimateDecodeBytes(reinterpret_cast<const std::uint8_t*>(junk.data()), junk.size()));
}

// A picture the thumbnail of a page would be made from, within the bound.
CGImageRef thumbnail(const std::string& bytes, std::size_t maxPixel = 2048) {
    auto source = CGImageSourceCreateWithData(dataOf(bytes));
    Dictionary options = Dictionary::mutableDictionary();
    options.setObject(kCGImageSourceCreateThumbnailFromImageAlways, true);
    options.setObject(kCGImageSourceThumbnailMaxPixelSize, double(maxPixel));
    options.setObject(kCGImageSourceMaxDecodeBytes, double(kBudget));
    return CGImageSourceCreateThumbnailAtIndex(source, 0, options);
}

TEST(JPEGMemoryBudget, HugeProgressivePicturesAreRefusedUndecodedWhileOrdinaryPhotosShow) {
    struct Case {
        const char* name;
        jpegwriter::Recipe recipe;
        bool shows;
        std::size_t thumbWidth, thumbHeight;
    };
    for (const Case& c : {
             Case{"24 MP progressive 4:2:0", {6000, 4000, 3, true, true, true}, true, 2048, 1365},
             Case{"12 MP progressive 4:4:4", {4032, 3024, 3, false, true, true}, true, 2048, 1536},
             Case{"12 MP baseline 4:4:4", {4032, 3024, 3, false, false, true}, true, 2048, 1536},
             Case{"100 MP progressive 4:2:0", {10000, 10000, 3, true, true, true}, false, 0, 0},
         }) {
        const std::string bytes = jpegwriter::write(c.recipe);
        ASSERT_FALSE(bytes.empty()) << c.name;
        CGImageRef image = thumbnail(bytes);
        ASSERT_EQ(image != nullptr, c.shows) << c.name;
        if (image) {
            EXPECT_EQ(image->width(), c.thumbWidth) << c.name;
            EXPECT_EQ(image->height(), c.thumbHeight) << c.name;
            continue;
        }
        // Refused from the header: the decoder never began, so nothing of the picture's size was
        // made.
        JPEGDecodeOptions::Report report;
        JPEGDecodeOptions options;
        options.scaleDenominator = 8;
        options.maxMemoryBytes = kBudget;
        options.report = &report;
        EXPECT_EQ(
            detail::decodeJPEG(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), options),
            nullptr);
        EXPECT_EQ(report.refusal, Refusal::OverBudget) << c.name;
        EXPECT_FALSE(report.decodingStarted) << c.name;
        EXPECT_GT(report.estimatedBytes, kBudget) << c.name;
    }
}

TEST(JPEGMemoryBudget, AHeaderThatLiesAboutItsSizeGainsNothing) {
    const std::string honest = jpegwriter::write({96, 64, 3, true, true});
    const std::string lying = jpegwriter::withClaimedSize(honest, 10000, 10000);
    ASSERT_NE(lying, honest);
    struct Case {
        bool partial;
        std::uint64_t budget;
        Refusal refusal;
    };
    // Complete data shorter than the size claims is refused before decoding; an incremental
    // decode (which keeps what arrived) is stopped by the bound.
    for (const Case& c : {Case{false, 0, Refusal::Invalid}, Case{false, kBudget, Refusal::Invalid},
                          Case{true, kBudget, Refusal::OverBudget}}) {
        JPEGDecodeOptions::Report report;
        JPEGDecodeOptions options;
        options.partial = c.partial;
        options.maxMemoryBytes = c.budget;
        options.report = &report;
        EXPECT_EQ(
            detail::decodeJPEG(reinterpret_cast<const std::uint8_t*>(lying.data()), lying.size(), options),
            nullptr);
        EXPECT_EQ(report.refusal, c.refusal) << c.partial << " " << c.budget;
        EXPECT_FALSE(report.decodingStarted);
    }
    EXPECT_EQ(thumbnail(lying), nullptr);
    auto source = CGImageSourceCreateWithData(dataOf(lying));
    Dictionary bounded = Dictionary::mutableDictionary();
    bounded.setObject(kCGImageSourceMaxDecodeBytes, double(kBudget));
    EXPECT_EQ(CGImageSourceCreateImageAtIndex(source, 0, bounded), nullptr);
    // The honest file decodes, bounded or not.
    EXPECT_TRUE(thumbnail(honest));
    EXPECT_TRUE(CGImageSourceCreateImageAtIndex(CGImageSourceCreateWithData(dataOf(honest)), 0, bounded));
}

TEST(JPEGMemoryBudget, ProgressiveFilesOfEndlessScansAreRefused) {
    const std::string base = jpegwriter::write({64, 48, 3, false, true});
    ASSERT_FALSE(base.empty());
    struct Case {
        int copies;
        bool decodes;
    };
    for (const Case& c : {Case{0, true}, Case{500, true}, Case{5000, false}}) {
        const std::string bytes = jpegwriter::withRepeatedLastScan(base, c.copies);
        JPEGDecodeOptions::Report report;
        JPEGDecodeOptions options;
        options.report = &report;
        CGImageRef image =
            detail::decodeJPEG(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), options);
        EXPECT_EQ(image != nullptr, c.decodes) << c.copies;
        if (c.decodes) continue;
        EXPECT_EQ(report.refusal, Refusal::TooManyScans);
        // Stopped at the bound, not after reading the rest.
        EXPECT_EQ(report.scansRead, detail::kMaxJPEGScans + 1);
        // An incremental source is held to the same bound.
        options.partial = true;
        EXPECT_EQ(
            detail::decodeJPEG(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), options),
            nullptr);
        EXPECT_EQ(report.refusal, Refusal::TooManyScans);
    }
}

TEST(JPEGMemoryBudget, OtherFormatsAreBoundByTheirFullSizePixels) {
    // A PNG and a GIF header claiming 8000 x 8000: 256 MB and more of pixels, refused undecoded.
    auto be32 = [](std::uint32_t v) {
        return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    };
    std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + be32(13) + "IHDR" + be32(8000) + be32(8000) +
                      std::string{8, 6, 0, 0, 0} + be32(0);
    std::string gif = std::string("GIF89a") + "\x40\x1f\x40\x1f" + std::string("\x00\x00\x00", 3);
    for (const std::string& bytes : {png, gif}) {
        auto estimate =
            detail::estimateDecodeBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        ASSERT_TRUE(estimate) << bytes.substr(0, 3);
        EXPECT_GE(*estimate, 8000ull * 8000 * 4);
        auto source = CGImageSourceCreateWithData(dataOf(bytes));
        auto needed = CGImageSourceEstimateThumbnailBytes(source, 0);
        ASSERT_TRUE(needed);
        EXPECT_GE(*needed, *estimate);
        EXPECT_EQ(thumbnail(bytes), nullptr);
    }
}

}  // namespace
