// Hostile input for every decoder: truncations, random mutations, absurd sizes, decompression
// bombs, endless frames and broken palettes. Nothing may crash, hang or allocate without bound;
// whatever decodes must be a consistent picture.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <zlib.h>

#include <chrono>
#include <cstring>

#include "ImageCorpus.h"
#include "graphics/CGImageSource.h"
#include "graphics/ImageCodec.h"
#include "graphics/UIImage.h"
#include "tests/support/TestSupport.h"

namespace {

// Touches every query and checks the invariants of whatever comes back.
void exercise(const NSData& data, bool incremental) {
    CGImageSourceRef source;
    if (incremental) {
        source = CGImageSourceCreateIncremental();
        CGImageSourceUpdateData(source, data, false);
    } else {
        source = CGImageSourceCreateWithData(data);
    }
    if (!source) return;
    (void)CGImageSourceGetType(source);
    (void)CGImageSourceGetStatus(source);
    (void)CGImageSourceCopyProperties(source);
    std::size_t count = std::min<std::size_t>(CGImageSourceGetCount(source), 8);
    for (std::size_t i = 0; i < count + 1; ++i) {
        (void)CGImageSourceGetStatusAtIndex(source, i);
        auto props = CGImageSourceCopyPropertiesAtIndex(source, i);
        auto image = CGImageSourceCreateImageAtIndex(source, i);
        if (!image) continue;
        ASSERT_TRUE(props.has_value());
        EXPECT_EQ(image->width(),
                  static_cast<std::size_t>((*props)[kCGImagePropertyPixelWidth].integerValue()));
        EXPECT_EQ(image->height(),
                  static_cast<std::size_t>((*props)[kCGImagePropertyPixelHeight].integerValue()));
        EXPECT_TRUE(detail::imageSizeAllowed(image->width(), image->height()));
        EXPECT_EQ(image->data().length(), image->width() * image->height() * 4);
        EXPECT_EQ(detail::pixelsAsPremultipliedBGRA(*image).length(), image->data().length());
    }
    if (!incremental && count > 0) {
        Dictionary options{{kCGImageSourceCreateThumbnailFromImageAlways, true},
                           {kCGImageSourceCreateThumbnailWithTransform, true},
                           {kCGImageSourceThumbnailMaxPixelSize, 16}};
        auto thumb = CGImageSourceCreateThumbnailAtIndex(source, 0, options);
        if (thumb) {
            EXPECT_LE(std::max(thumb->width(), thumb->height()), 16u);
        }
        (void)UIImage::imageWithData(data);
    }
}

std::vector<NSData> seedCorpus() {
    std::vector<NSData> files;
    for (int type : {0, 2, 3, 4, 6}) {
        corpus::PNGRecipe recipe;
        recipe.colorType = type;
        recipe.bitDepth = type == 0 || type == 3 ? 4 : 8;
        recipe.interlaced = type % 2 == 0;
        recipe.transparency = type == 3;
        recipe.width = 24;
        recipe.height = 20;
        files.push_back(corpus::makePNG(recipe, nullptr));
    }
    corpus::JPEGRecipe jpeg;
    jpeg.width = 40;
    jpeg.height = 32;
    jpeg.exifOrientation = 6;
    files.push_back(corpus::makeJPEG(jpeg));
    jpeg.progressive = true;
    files.push_back(corpus::makeJPEG(jpeg));
    jpeg.progressive = false;
    jpeg.cmyk = true;
    jpeg.exifOrientation = 0;
    files.push_back(corpus::makeJPEG(jpeg));
    corpus::GIFRecipe gif;
    gif.width = 10;
    gif.height = 8;
    gif.globalPalette = corpus::basicPalette();
    gif.loopCount = 3;
    for (int i = 0; i < 4; ++i) {
        corpus::GIFFrame f;
        f.left = static_cast<std::size_t>(i);
        f.top = 1;
        f.width = 6;
        f.height = 5;
        f.indices.assign(30, static_cast<std::uint8_t>(i));
        f.delayHundredths = i * 3;
        f.disposal = i % 4;
        f.transparentIndex = i == 2 ? 1 : -1;
        f.interlaced = i == 1;
        gif.frames.push_back(f);
    }
    files.push_back(corpus::makeGIF(gif));
    return files;
}

TEST(DecoderFuzzTest, TruncationsAtEverySixtyFourth) {
    for (const NSData& file : seedCorpus()) {
        auto format = detail::sniffImageFormat(file.bytes(), file.length());
        for (int part = 0; part < 64; ++part) {
            NSData cut = file.subdataWithRange(0, file.length() * part / 64);
            exercise(cut, false);
            exercise(cut, true);
            if (format == detail::ImageFormat::PNG || format == detail::ImageFormat::JPEG) {
                // A complete-data decode of a cut file refuses it.
                EXPECT_EQ(CGImageSourceCreateImageAtIndex(CGImageSourceCreateWithData(cut), 0), nullptr);
            }
        }
    }
}

TEST(DecoderFuzzTest, RandomMutations) {
    auto files = seedCorpus();
    for (std::size_t f = 0; f < files.size(); ++f) {
        std::string original = files[f].toString();
        for (unsigned seed = 0; seed < 250; ++seed) {
            std::string mutated = testsupport::mutate(original, seed * 7919 + static_cast<unsigned>(f));
            NSData data(mutated.data(), mutated.size());
            exercise(data, false);
            exercise(data, seed % 4 == 0);
        }
    }
}

TEST(DecoderFuzzTest, ByteFlipsInsidePixelData) {
    // Flips that keep the container intact reach the entropy decoders themselves.
    for (const NSData& file : seedCorpus()) {
        for (unsigned i = 0; i < 120; ++i) {
            NSData copy = file;
            std::size_t at = file.length() / 3 + (i * 131) % (file.length() / 2);
            copy.mutableBytes()[at] ^= static_cast<std::uint8_t>(1u << (i % 8));
            exercise(copy, false);
        }
    }
}

// ---- Hand-built PNGs ---------------------------------------------------------------------------
void chunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& body) {
    std::uint32_t n = static_cast<std::uint32_t>(body.size());
    out.insert(out.end(),
               {std::uint8_t(n >> 24), std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n)});
    std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    uLong crc = crc32(0, out.data() + start, static_cast<uInt>(out.size() - start));
    out.insert(out.end(),
               {std::uint8_t(crc >> 24), std::uint8_t(crc >> 16), std::uint8_t(crc >> 8), std::uint8_t(crc)});
}

std::vector<std::uint8_t> ihdr(std::uint32_t w, std::uint32_t h, int depth, int colorType) {
    return {std::uint8_t(w >> 24),
            std::uint8_t(w >> 16),
            std::uint8_t(w >> 8),
            std::uint8_t(w),
            std::uint8_t(h >> 24),
            std::uint8_t(h >> 16),
            std::uint8_t(h >> 8),
            std::uint8_t(h),
            std::uint8_t(depth),
            std::uint8_t(colorType),
            0,
            0,
            0};
}

// Compresses `rows` rows of `rowBytes` zero bytes (each with its filter byte) as one stream.
std::vector<std::uint8_t> zeroRows(std::size_t rows, std::size_t rowBytes) {
    z_stream z{};
    deflateInit(&z, 9);
    std::vector<std::uint8_t> zeros(1 + rowBytes, 0), out, buffer(1 << 16);
    for (std::size_t r = 0; r <= rows; ++r) {
        z.next_in = zeros.data();
        z.avail_in = r < rows ? static_cast<uInt>(zeros.size()) : 0;
        int flush = r < rows ? Z_NO_FLUSH : Z_FINISH;
        do {
            z.next_out = buffer.data();
            z.avail_out = static_cast<uInt>(buffer.size());
            deflate(&z, flush);
            out.insert(out.end(), buffer.data(), buffer.data() + (buffer.size() - z.avail_out));
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return out;
}

NSData rawPNG(const std::vector<std::uint8_t>& header, const std::vector<std::uint8_t>& palette,
              const std::vector<std::uint8_t>& idat) {
    std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    chunk(out, "IHDR", header);
    if (!palette.empty()) chunk(out, "PLTE", palette);
    chunk(out, "IDAT", idat);
    chunk(out, "IEND", {});
    return NSData(std::move(out));
}

long maxResidentKB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(HostilePNGTest, DecompressionBombIsRefusedFromItsHeader) {
    // 30000 x 30000 one-bit grey, every row zero: about 110 KB that would inflate to 112 MB of
    // rows and 3.6 GB of pixels.
    NSData bomb = rawPNG(ihdr(30000, 30000, 1, 0), {}, zeroRows(30000, 3750));
    ASSERT_LT(bomb.length(), 1u << 20);
    long before = maxResidentKB();
    auto start = std::chrono::steady_clock::now();
    auto source = CGImageSourceCreateWithData(bomb);
    auto props = CGImageSourceCopyPropertiesAtIndex(source, 0);
    ASSERT_TRUE(props.has_value());  // the header itself is readable
    EXPECT_EQ((*props)[kCGImagePropertyPixelWidth].integerValue(), 30000);
    EXPECT_EQ(CGImageSourceCreateImageAtIndex(source, 0), nullptr);
    EXPECT_EQ(CGImageSourceCreateThumbnailAtIndex(
                  source, 0, Dictionary{{kCGImageSourceCreateThumbnailFromImageAlways, true}}),
              nullptr);
    EXPECT_EQ(UIImage::imageWithData(bomb), nullptr);
    auto incremental = CGImageSourceCreateIncremental();
    CGImageSourceUpdateData(incremental, bomb, false);
    EXPECT_EQ(CGImageSourceCreateImageAtIndex(incremental, 0), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_LT(maxResidentKB() - before, 200 * 1024);
}

TEST(HostilePNGTest, ClaimedSizeBeyondWhatTheDataCouldHoldIsRefused) {
    // 8000 x 8000 RGBA (256 MB of rows) claimed by a complete file of a few hundred bytes.
    NSData liar = rawPNG(ihdr(8000, 8000, 8, 6), {}, zeroRows(10, 32000));
    long before = maxResidentKB();
    EXPECT_EQ(CGImageSourceCreateImageAtIndex(CGImageSourceCreateWithData(liar), 0), nullptr);
    EXPECT_LT(maxResidentKB() - before, 100 * 1024);
}

TEST(HostilePNGTest, AbsurdAndZeroDimensions) {
    for (auto [w, h] : std::vector<std::pair<std::uint32_t, std::uint32_t>>{{0, 10},
                                                                            {10, 0},
                                                                            {0x7FFFFFFF, 1},
                                                                            {1, 0x7FFFFFFF},
                                                                            {40000, 2},
                                                                            {0xFFFFFFFF, 0xFFFFFFFF},
                                                                            {20000, 20000}}) {
        NSData png = rawPNG(ihdr(w, h, 8, 2), {}, zeroRows(1, 3));
        EXPECT_EQ(CGImageSourceCreateImageAtIndex(CGImageSourceCreateWithData(png), 0), nullptr)
            << w << "x" << h;
        exercise(png, true);
    }
}

TEST(HostilePNGTest, BadPalettes) {
    // Indices beyond a two-entry palette.
    std::vector<std::uint8_t> rows;
    for (int y = 0; y < 4; ++y) rows.insert(rows.end(), {0, 0x01, 0x23});  // 4-bit indices 0..3
    std::vector<std::uint8_t> compressed(compressBound(rows.size()));
    uLongf size = compressed.size();
    compress(compressed.data(), &size, rows.data(), rows.size());
    compressed.resize(size);
    auto image = CGImageSourceCreateImageAtIndex(
        CGImageSourceCreateWithData(rawPNG(ihdr(4, 4, 4, 3), {255, 0, 0, 0, 255, 0}, compressed)), 0);
    if (image) {
        EXPECT_EQ(image->width(), 4u);
    }
    // A palette whose length is not a multiple of three, an empty one, none at all, and one too long.
    for (std::vector<std::uint8_t> palette :
         {std::vector<std::uint8_t>{1, 2, 3, 4}, std::vector<std::uint8_t>(),
          std::vector<std::uint8_t>(3 * 300, 7)}) {
        NSData png = rawPNG(ihdr(4, 4, 4, 3), palette, compressed);
        exercise(png, false);
        exercise(png, true);
    }
    // A palette on a picture whose depth cannot index it.
    exercise(rawPNG(ihdr(4, 4, 16, 3), {1, 2, 3}, compressed), false);
}

// ---- JPEG and GIF headers ------------------------------------------------------------------------
NSData withJPEGSize(NSData jpeg, unsigned w, unsigned h) {
    std::uint8_t* b = jpeg.mutableBytes();
    for (std::size_t i = 2; i + 9 < jpeg.length(); ++i) {
        if (b[i] == 0xFF && (b[i + 1] == 0xC0 || b[i + 1] == 0xC2)) {
            b[i + 5] = std::uint8_t(h >> 8);
            b[i + 6] = std::uint8_t(h);
            b[i + 7] = std::uint8_t(w >> 8);
            b[i + 8] = std::uint8_t(w);
            break;
        }
    }
    return jpeg;
}

TEST(HostileJPEGTest, AbsurdClaimedSizes) {
    for (bool progressive : {false, true}) {
        corpus::JPEGRecipe recipe;
        recipe.progressive = progressive;
        NSData jpeg = corpus::makeJPEG(recipe);
        for (auto [w, h] :
             std::vector<std::pair<unsigned, unsigned>>{{65000, 65000}, {9000, 9000}, {0, 100}}) {
            NSData liar = withJPEGSize(jpeg, w, h);
            long before = maxResidentKB();
            auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(CGImageSourceCreateImageAtIndex(CGImageSourceCreateWithData(liar), 0), nullptr) << w;
            EXPECT_EQ(UIImage::imageWithData(liar), nullptr);
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
            EXPECT_LT(maxResidentKB() - before, 100 * 1024);
            exercise(liar, true);
        }
    }
}

TEST(HostileJPEGTest, DamagedExifSegments) {
    // Every byte of the EXIF segment set to each extreme: offsets, counts and types that point
    // anywhere. The picture still decodes; an orientation is answered only when it is 1...8.
    for (bool little : {false, true}) {
        corpus::JPEGRecipe recipe;
        recipe.exifOrientation = 3;
        recipe.exifLittleEndian = little;
        NSData jpeg = corpus::makeJPEG(recipe);
        std::size_t start = 0, length = 0;
        for (std::size_t i = 2; i + 3 < jpeg.length(); ++i) {
            if (jpeg.bytes()[i] == 0xFF && jpeg.bytes()[i + 1] == 0xE1) {
                start = i + 4;
                length = ((std::size_t(jpeg.bytes()[i + 2]) << 8) | jpeg.bytes()[i + 3]) - 2;
                break;
            }
        }
        ASSERT_GT(start, 0u);
        for (std::size_t at = start; at < start + length; ++at) {
            for (std::uint8_t value : {std::uint8_t(0x00), std::uint8_t(0xFF), std::uint8_t(0x7F)}) {
                NSData copy = jpeg;
                copy.mutableBytes()[at] = value;
                auto source = CGImageSourceCreateWithData(copy);
                auto props = CGImageSourceCopyPropertiesAtIndex(source, 0);
                ASSERT_TRUE(props.has_value());
                const Value& orientation = (*props)[kCGImagePropertyOrientation];
                if (orientation.isSomething()) {
                    EXPECT_GE(orientation.intValue(), 1);
                    EXPECT_LE(orientation.intValue(), 8);
                }
                EXPECT_NE(CGImageSourceCreateImageAtIndex(source, 0), nullptr);
            }
        }
    }
}

TEST(HostileGIFTest, AbsurdCanvasAndFrameSizes) {
    corpus::GIFRecipe recipe;
    recipe.globalPalette = corpus::basicPalette();
    corpus::GIFFrame f;
    f.width = 8;
    f.height = 6;
    f.indices.assign(48, 1);
    recipe.frames = {f};
    NSData gif = corpus::makeGIF(recipe);
    NSData hugeCanvas = gif;
    hugeCanvas.mutableBytes()[6] = hugeCanvas.mutableBytes()[7] = 0xFF;
    hugeCanvas.mutableBytes()[8] = hugeCanvas.mutableBytes()[9] = 0xFF;
    EXPECT_EQ(CGImageSourceGetCount(CGImageSourceCreateWithData(hugeCanvas)), 0u);
    EXPECT_EQ(UIImage::imageWithData(hugeCanvas), nullptr);
    NSData zeroCanvas = gif;
    zeroCanvas.mutableBytes()[6] = zeroCanvas.mutableBytes()[7] = 0;
    EXPECT_EQ(CGImageSourceGetCount(CGImageSourceCreateWithData(zeroCanvas)), 0u);
    // The frame descriptor claims 65535 x 65535 inside the small canvas.
    NSData hugeFrame = gif;
    std::uint8_t* b = hugeFrame.mutableBytes();
    for (std::size_t i = 13 + 12; i + 9 < hugeFrame.length(); ++i) {
        if (b[i] == 0x2C) {
            b[i + 5] = b[i + 6] = b[i + 7] = b[i + 8] = 0xFF;
            break;
        }
    }
    EXPECT_EQ(CGImageSourceGetCount(CGImageSourceCreateWithData(hugeFrame)), 0u);
}

// Many one-pixel frames, written by hand: each is a graphic control block, a descriptor and
// three bytes of data.
NSData manyFrames(std::uint16_t canvasW, std::uint16_t canvasH, std::size_t frames) {
    std::vector<std::uint8_t> g = {'G',
                                   'I',
                                   'F',
                                   '8',
                                   '9',
                                   'a',
                                   std::uint8_t(canvasW),
                                   std::uint8_t(canvasW >> 8),
                                   std::uint8_t(canvasH),
                                   std::uint8_t(canvasH >> 8),
                                   0x80,
                                   0,
                                   0,
                                   255,
                                   0,
                                   0,
                                   0,
                                   0,
                                   255};
    for (std::size_t i = 0; i < frames; ++i) {
        g.insert(g.end(), {0x21, 0xF9, 4, 0, 1, 0, 0, 0});
        g.insert(g.end(), {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x4C, 0x01, 0});  // clear, 1, end
    }
    g.push_back(0x3B);
    return NSData(std::move(g));
}

TEST(HostileGIFTest, HugeFrameCountsStayWithinTheBudget) {
    auto small = CGImageSourceCreateWithData(manyFrames(1, 1, 20000));
    EXPECT_EQ(CGImageSourceGetCount(small), 20000u);
    EXPECT_NE(CGImageSourceCreateImageAtIndex(small, 19999), nullptr);
    // On a 4000 x 4000 canvas each composited frame costs 64 MB: only a few fit the budget.
    long before = maxResidentKB();
    auto big = CGImageSourceCreateWithData(manyFrames(4000, 4000, 5000));
    std::size_t count = CGImageSourceGetCount(big);
    EXPECT_GE(count, 1u);
    EXPECT_LE(count * 4000ull * 4000 * 4, detail::kMaxAnimationBytes);
    EXPECT_LT(maxResidentKB() - before, 100 * 1024);
}

TEST(HostileGIFTest, FramesWithoutPaletteAreSkipped) {
    // No global colour table; only the middle frame brings its own (red, green).
    std::vector<std::uint8_t> g = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x00, 0, 0};
    const std::vector<std::uint8_t> data = {2, 2, 0x4C, 0x01, 0};  // clear, 1, end
    auto frame = [&](bool palette) {
        g.insert(g.end(), {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, std::uint8_t(palette ? 0x80 : 0)});
        if (palette) g.insert(g.end(), {255, 0, 0, 0, 255, 0});
        g.insert(g.end(), data.begin(), data.end());
    };
    frame(false);
    frame(true);
    frame(false);
    g.push_back(0x3B);
    auto source = CGImageSourceCreateWithData(NSData(g.data(), g.size()));
    ASSERT_EQ(CGImageSourceGetCount(source), 1u);
    auto image = CGImageSourceCreateImageAtIndex(source, 0);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(corpus::pixelsOf(*image).bgra, (std::vector<std::uint8_t>{0, 255, 0, 255}));
}

}  // namespace
