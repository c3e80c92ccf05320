// Decoding speed of the image source path against the plain libraries, side by side in one run:
// a 2048 x 2048 photo-like picture as PNG and as JPEG, decoded by CGImageSource (and UIImage) into
// premultiplied BGRA, and by plain libpng / libjpeg into an RGB buffer; a 24 MP progressive photo
// the same two ways. Then hostile pictures against that photo's decode: a 6400 x 6400 progressive
// JPEG in 990 scans (refused), one whose scans ask for the most work still allowed, a 1-pixel
// PNG of 990 zTXt chunks that inflate to 7.9 MB each, a 16 MB GIF of interlaced 100 MP frames on a
// 2-row screen (refused), a GIF of noise asking for the most work a GIF may, and a 16 MB GIF of
// clear codes (refused, each priced at what resetting the decoder's table costs), a 16 MB GIF of 1.1
// million one-pixel frames (refused from its descriptors; its time, and its peak memory read in a
// process of its own against an ordinary animation's), and a 640 x 480 JPEG behind 220 EXIF
// blocks of 64 KB, against the same JPEG without them, as a web page asks for it. Last, a 12 MP
// camera-sized photo, progressive and baseline, as a page shows it in a 40 x 30 pixel box: decoded
// at an eighth. Ends with one "ratio <name> <ours/reference>" line per pair, with its target.

#include <benchmark/benchmark.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <jpeglib.h>

#include "bench/support/ChildProcess.h"
#include "bench/support/RatioReporter.h"
#include "graphics/CGImageSource.h"
#include "graphics/ImageCodec.h"
#include "graphics/UIImage.h"
#include "tests/graphics/HostilePictures.h"
#include "tests/graphics/JPEGWriter.h"

namespace {

constexpr std::size_t kSide = 2048;

// Smooth light falloff, a few hard-edged shapes and sensor-like noise.
std::vector<std::uint8_t> photoPixels() {
    std::vector<std::uint8_t> rgb(kSide * kSide * 3);
    std::mt19937 rng(42);
    std::normal_distribution<float> noise(0, 3);
    for (std::size_t y = 0; y < kSide; ++y) {
        for (std::size_t x = 0; x < kSide; ++x) {
            float fx = x / float(kSide), fy = y / float(kSide);
            float light = 0.6f + 0.4f * std::cos((fx - 0.3f) * 3) * std::cos((fy - 0.6f) * 2);
            float r = 200 * light * (0.7f + 0.3f * fx), g = 170 * light * (0.8f + 0.2f * std::sin(fy * 9)),
                  b = 140 * light * (0.6f + 0.4f * fy);
            float dx = fx - 0.5f, dy = fy - 0.55f;
            if (dx * dx + dy * dy < 0.04f) r *= 0.4f, g *= 0.5f, b *= 1.2f;  // a dark round body
            if (fy > 0.8f && fy < 0.85f) r = g = b = 30;                     // a road line
            float n = noise(rng);
            std::uint8_t* p = rgb.data() + (y * kSide + x) * 3;
            p[0] = static_cast<std::uint8_t>(std::clamp(r + n, 0.0f, 255.0f));
            p[1] = static_cast<std::uint8_t>(std::clamp(g + n, 0.0f, 255.0f));
            p[2] = static_cast<std::uint8_t>(std::clamp(b + n, 0.0f, 255.0f));
        }
    }
    return rgb;
}

void pngWrite(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}
void pngFlush(png_structp) {}

NSData encodePNG(const std::vector<std::uint8_t>& rgb) {
    std::vector<std::uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) std::abort();
    png_set_write_fn(png, &out, pngWrite, pngFlush);
    png_set_IHDR(png, info, kSide, kSide, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (std::size_t y = 0; y < kSide; ++y) png_write_row(png, rgb.data() + y * kSide * 3);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return NSData(std::move(out));
}

// RGB rows of `width` x `height` as a JPEG at the quality, progressive when asked.
NSData encodeJPEG(const std::vector<std::uint8_t>& rgb, int width, int height, int quality,
                  bool progressive) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row =
            const_cast<JSAMPROW>(rgb.data() + std::size_t(cinfo.next_scanline) * std::size_t(width) * 3);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    NSData data(out, size);
    std::free(out);
    return data;
}

const NSData& pngFile() {
    static const NSData data = encodePNG(photoPixels());
    return data;
}
const NSData& jpegFile() {
    static const NSData data = encodeJPEG(photoPixels(), kSide, kSide, 90, false);
    return data;
}

// Pictures that cost far more than their size, and a real progressive photo beside them.
NSData dataOf(const std::string& bytes) {
    return NSData(bytes.data(), bytes.size());
}
const NSData& manyScanJPEG() {
    static const NSData data = dataOf(hostile::manyScan6400JPEG());
    return data;
}
// Near the most work a file may ask for and still be decoded: 6400 x 6400 at 4:2:0 in 20 scans
// (11.5 million blocks).
const NSData& boundJPEG() {
    static const NSData data = dataOf(hostile::manyScanJPEG(6400, 20));
    return data;
}
const NSData& zTXtPNG() {
    static const NSData data = dataOf(hostile::zTXtPNG());
    return data;
}
// 230 interlaced frames of 100 MP (16 MB) on a 1 x 2 screen: 11.5 billion pixels to expand.
const NSData& interlacedGIF() {
    static const NSData data = dataOf(hostile::interlacedHugeFramesGIF(230));
    return data;
}
// Near the most work a GIF may ask for, in the data slowest to expand: 14 frames of 9600 x 1000
// pixels of noise overhanging a 1000 x 1000 screen (about 185 MB), 134.4 million pixels and the
// clear codes an encoder writes when its table is full (about 2400 a frame, 2.1 million pixels'
// worth).
const NSData& boundGIF() {
    static const NSData data = dataOf(hostile::noiseGIF(1000, 1000, 9600, 14));
    return data;
}
// 16 MB of clear codes before one pixel, each of which costs the library's line reader a reset of
// its whole table: refused from the count of its codes.
const NSData& clearCodeGIF() {
    static const NSData data = dataOf(hostile::clearCodeGIF(16'000'000 * 8 / 3));
    return data;
}
// 1.1 million frames of one pixel, 15 bytes each (16.5 MB): refused for the descriptors it asks the
// decoder to read, each of which sets the decoder up.
const NSData& millionFrameGIF() {
    static const NSData data = dataOf(hostile::millionFrameGIF());
    return data;
}
// The same 640 x 480 photo (orientation 6) behind 220 EXIF blocks of 64 KB whose data overlap, or
// first a phone's block with a maker's note of overlapping data and 219 more of them; and bare.
const NSData& stuffedJPEG() {
    static const NSData data = dataOf(hostile::exifStuffedJPEG(220, 6));
    return data;
}
const NSData& makerNoteJPEG() {
    static const NSData data = dataOf(hostile::exifStuffedJPEG(220, 0, hostile::ExifStuffing::MakerNote));
    return data;
}
const NSData& bareJPEG() {
    static const NSData data = dataOf(hostile::exifStuffedJPEG(0, 6));
    return data;
}
// 6000 x 4000 at 4:2:0 in the library's ten scans, with a photo's noise.
const NSData& photo24MP() {
    static const NSData data = dataOf(jpegwriter::write({6000, 4000, 3, true, true, false, 85}));
    return data;
}

// A phone camera's 4032 x 3024 photo at 4:2:0 and quality 92 (about 4 MB progressive): light
// falloff, fine texture and sensor noise, so that its AC scans hold most of the file.
constexpr int kCameraWidth = 4032, kCameraHeight = 3024;
std::vector<std::uint8_t> cameraPixels() {
    std::vector<std::uint8_t> rgb(std::size_t(kCameraWidth) * kCameraHeight * 3);
    std::uint32_t seed = 1;
    for (int y = 0; y < kCameraHeight; ++y) {
        const float fy = y / float(kCameraHeight);
        for (int x = 0; x < kCameraWidth; ++x) {
            const float fx = x / float(kCameraWidth);
            const float light = 0.55f + 0.45f * std::cos((fx - 0.3f) * 3) * std::cos((fy - 0.6f) * 2);
            const float texture = 18 * std::sin(x * 0.11f + std::sin(y * 0.03f) * 4) * std::cos(y * 0.07f) +
                                  10 * std::sin((x + y) * 0.23f);
            const float base[3] = {210 * light * (0.7f + 0.3f * fx),
                                   180 * light * (0.8f + 0.2f * std::sin(fy * 9)),
                                   150 * light * (0.6f + 0.4f * fy)};
            std::uint8_t* p = rgb.data() + (std::size_t(y) * kCameraWidth + x) * 3;
            for (int c = 0; c < 3; ++c) {
                seed = seed * 1103515245u + 12345u;
                const float noise = 32 * (((seed >> 16) & 0xFF) / 255.0f - 0.5f);
                p[c] = static_cast<std::uint8_t>(
                    std::clamp(base[c] + texture * (c == 1 ? 1.0f : 0.7f) + noise, 0.0f, 255.0f));
            }
        }
    }
    return rgb;
}
NSData encodeCamera(const std::vector<std::uint8_t>& rgb, bool progressive) {
    return encodeJPEG(rgb, kCameraWidth, kCameraHeight, 92, progressive);
}
const std::pair<NSData, NSData>& cameraPhotos() {
    static const std::pair<NSData, NSData> files = [] {
        const std::vector<std::uint8_t> rgb = cameraPixels();
        return std::pair<NSData, NSData>(encodeCamera(rgb, true), encodeCamera(rgb, false));
    }();
    return files;
}

// ---- Plain library decoding into an RGB buffer ----
struct MemoryReader {
    const std::uint8_t* bytes;
    std::size_t length, offset;
};
void pngRead(png_structp png, png_bytep out, png_size_t length) {
    auto* r = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (r->offset + length > r->length) png_error(png, "eof");
    std::memcpy(out, r->bytes + r->offset, length);
    r->offset += length;
}

std::vector<std::uint8_t> plainPNG(const NSData& file) {
    MemoryReader reader{file.bytes(), file.length(), 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<std::uint8_t> pixels;
    if (setjmp(png_jmpbuf(png))) std::abort();
    png_set_read_fn(png, &reader, pngRead);
    png_read_info(png, info);
    png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    std::size_t rowBytes = png_get_rowbytes(png, info);
    pixels.resize(rowBytes * h);
    std::vector<png_bytep> rows(h);
    for (png_uint_32 y = 0; y < h; ++y) rows[y] = pixels.data() + y * rowBytes;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    (void)w;
    return pixels;
}

std::vector<std::uint8_t> plainJPEG(const NSData& file) {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file.bytes(), file.length());
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    std::size_t stride = std::size_t(cinfo.output_width) * cinfo.output_components;
    std::vector<std::uint8_t> pixels(stride * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = pixels.data() + std::size_t(cinfo.output_scanline) * stride;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return pixels;
}

void BM_PNGDecode_ImageSource(benchmark::State& state) {
    const NSData& file = pngFile();
    for (auto _ : state) {
        auto image = CGImageSourceCreateImageAtIndex(CGImageSourceCreateWithData(file), 0);
        if (!image) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(image);
    }
}
void BM_PNGDecode_UIImage(benchmark::State& state) {
    const NSData& file = pngFile();
    for (auto _ : state) {
        auto image = UIImage::imageWithData(file);
        if (!image) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(image);
    }
}
void BM_PNGDecode_PlainLibrary(benchmark::State& state) {
    const NSData& file = pngFile();
    for (auto _ : state) benchmark::DoNotOptimize(plainPNG(file));
}
void BM_JPEGDecode_ImageSource(benchmark::State& state) {
    const NSData& file = jpegFile();
    for (auto _ : state) {
        auto image = CGImageSourceCreateImageAtIndex(CGImageSourceCreateWithData(file), 0);
        if (!image) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(image);
    }
}
void BM_JPEGDecode_UIImage(benchmark::State& state) {
    const NSData& file = jpegFile();
    for (auto _ : state) {
        auto image = UIImage::imageWithData(file);
        if (!image) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(image);
    }
}
void BM_JPEGDecode_PlainLibrary(benchmark::State& state) {
    const NSData& file = jpegFile();
    for (auto _ : state) benchmark::DoNotOptimize(plainJPEG(file));
}

void BM_HostileJPEG_ManyScansRefused(benchmark::State& state) {
    for (auto _ : state) {
        auto image = CGImageSourceCreateImageAtIndex(CGImageSourceCreateWithData(manyScanJPEG()), 0);
        if (image) state.SkipWithError("the 990-scan picture was decoded");
        benchmark::DoNotOptimize(image);
    }
}
void BM_HostileJPEG_AtTheWorkBound(benchmark::State& state) {
    for (auto _ : state) {
        auto image = CGImageSourceCreateImageAtIndex(CGImageSourceCreateWithData(boundJPEG()), 0);
        if (!image) state.SkipWithError("the picture at the bound was refused");
        benchmark::DoNotOptimize(image);
    }
}
void BM_HostilePNG_TextChunks(benchmark::State& state) {
    for (auto _ : state) {
        auto image = CGImageSourceCreateImageAtIndex(CGImageSourceCreateWithData(zTXtPNG()), 0);
        if (!image) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(image);
    }
}
void BM_HostileGIF_InterlacedRefused(benchmark::State& state) {
    for (auto _ : state) {
        auto image = CGImageSourceCreateImageAtIndex(CGImageSourceCreateWithData(interlacedGIF()), 0);
        if (image) state.SkipWithError("the interlaced frames were decoded");
        benchmark::DoNotOptimize(image);
    }
}
void BM_HostileGIF_AtTheWorkBound(benchmark::State& state) {
    for (auto _ : state) {
        auto image = CGImageSourceCreateImageAtIndex(CGImageSourceCreateWithData(boundGIF()), 0);
        if (!image) state.SkipWithError("the GIF at the bound was refused");
        benchmark::DoNotOptimize(image);
    }
}
void BM_HostileGIF_ClearCodesRefused(benchmark::State& state) {
    for (auto _ : state) {
        auto image = CGImageSourceCreateImageAtIndex(CGImageSourceCreateWithData(clearCodeGIF()), 0);
        if (image) state.SkipWithError("the clear codes were decoded");
        benchmark::DoNotOptimize(image);
    }
}
void BM_HostileGIF_MillionFramesRefused(benchmark::State& state) {
    for (auto _ : state) {
        auto image = CGImageSourceCreateImageAtIndex(CGImageSourceCreateWithData(millionFrameGIF()), 0);
        if (image) state.SkipWithError("the million frames were read");
        benchmark::DoNotOptimize(image);
    }
}

// As a web page asks for a picture shown at most `side` pixels long: the estimate, then a thumbnail
// turned upright, both held to the page's decode bound.
CGImageRef pagePicture(const NSData& bytes, double side = 640) {
    Dictionary options = Dictionary::mutableDictionary();
    options.setObject(kCGImageSourceCreateThumbnailFromImageAlways, true);
    options.setObject(kCGImageSourceCreateThumbnailWithTransform, true);
    options.setObject(kCGImageSourceThumbnailMaxPixelSize, side);
    options.setObject(kCGImageSourceMaxDecodeBytes, double(128u << 20));
    auto source = CGImageSourceCreateWithData(bytes, options);
    auto bytesNeeded = CGImageSourceEstimateThumbnailBytes(source, 0, options);
    if (!bytesNeeded || *bytesNeeded > (128u << 20)) return nullptr;
    return CGImageSourceCreateThumbnailAtIndex(source, 0, options);
}
// As a page shows a photo in a box of 20 x 15 points on a screen of scale 2.
CGImageRef boxPicture(const NSData& bytes) {
    return pagePicture(bytes, 40);
}
void BM_CameraEighth_Progressive(benchmark::State& state) {
    for (auto _ : state) {
        auto image = boxPicture(cameraPhotos().first);
        if (!image || image->width() != 40 || image->height() != 30) state.SkipWithError("not decoded");
        benchmark::DoNotOptimize(image);
    }
}
void BM_CameraEighth_Baseline(benchmark::State& state) {
    for (auto _ : state) {
        auto image = boxPicture(cameraPhotos().second);
        if (!image || image->width() != 40 || image->height() != 30) state.SkipWithError("not decoded");
        benchmark::DoNotOptimize(image);
    }
}

void BM_JPEG640_StuffedEXIF(benchmark::State& state) {
    for (auto _ : state) {
        auto image = pagePicture(stuffedJPEG());
        if (!image || image->width() != 480) state.SkipWithError("not decoded upright");
        benchmark::DoNotOptimize(image);
    }
}
void BM_JPEG640_MakerNoteEXIF(benchmark::State& state) {
    for (auto _ : state) {
        auto image = pagePicture(makerNoteJPEG());
        if (!image || image->width() != 480) state.SkipWithError("not decoded upright");
        benchmark::DoNotOptimize(image);
    }
}
void BM_JPEG640_Bare(benchmark::State& state) {
    for (auto _ : state) {
        auto image = pagePicture(bareJPEG());
        if (!image || image->width() != 480) state.SkipWithError("not decoded upright");
        benchmark::DoNotOptimize(image);
    }
}

void BM_Photo24MP_ImageSource(benchmark::State& state) {
    for (auto _ : state) {
        auto image = CGImageSourceCreateImageAtIndex(CGImageSourceCreateWithData(photo24MP()), 0);
        if (!image) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(image);
    }
}
void BM_Photo24MP_PlainLibrary(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(plainJPEG(photo24MP()));
}

// Interleaved so that drift of the machine's speed affects both sides alike.
BENCHMARK(BM_PNGDecode_PlainLibrary)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_PNGDecode_ImageSource)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_PNGDecode_UIImage)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_JPEGDecode_PlainLibrary)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_JPEGDecode_ImageSource)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_JPEGDecode_UIImage)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_Photo24MP_PlainLibrary)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_Photo24MP_ImageSource)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_HostileJPEG_ManyScansRefused)->Unit(benchmark::kMillisecond)->MinTime(1);
BENCHMARK(BM_HostileJPEG_AtTheWorkBound)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_HostilePNG_TextChunks)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_HostileGIF_InterlacedRefused)->Unit(benchmark::kMillisecond)->MinTime(1);
BENCHMARK(BM_HostileGIF_AtTheWorkBound)->Unit(benchmark::kMillisecond)->MinTime(4);
BENCHMARK(BM_HostileGIF_ClearCodesRefused)->Unit(benchmark::kMillisecond)->MinTime(1);
BENCHMARK(BM_HostileGIF_MillionFramesRefused)->Unit(benchmark::kMillisecond)->MinTime(1);
BENCHMARK(BM_JPEG640_Bare)->Unit(benchmark::kMillisecond)->MinTime(1);
BENCHMARK(BM_JPEG640_StuffedEXIF)->Unit(benchmark::kMillisecond)->MinTime(1);
BENCHMARK(BM_JPEG640_MakerNoteEXIF)->Unit(benchmark::kMillisecond)->MinTime(1);
BENCHMARK(BM_CameraEighth_Baseline)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_CameraEighth_Progressive)->Unit(benchmark::kMillisecond)->MinTime(2);

// In a process of its own: makes the GIF ("million" or an ordinary animation of 40 frames of
// 400 x 300), starts the peak over, reads it as a web page does (the estimate, then the first frame
// as a thumbnail within the page's bound) and as an image from data, and prints "peak_kb <KB>".
int runGIFPeakChild(const char* which) {
    NSData bytes;
    if (std::strcmp(which, "million") == 0) {
        bytes = dataOf(hostile::millionFrameGIF());
    } else {
        bytes = dataOf(hostile::bigFrameGIF(400, 300, std::vector<hostile::GIFFrameSize>(40, {400, 300})));
    }
    // Only what reading holds is measured: the peak starts over once the file is in memory.
    std::FILE* clear = std::fopen("/proc/self/clear_refs", "w");
    if (clear) {
        std::fputs("5", clear);
        std::fclose(clear);
    }
    Dictionary options = Dictionary::mutableDictionary();
    options.setObject(kCGImageSourceCreateThumbnailFromImageAlways, true);
    options.setObject(kCGImageSourceThumbnailMaxPixelSize, 640.0);
    options.setObject(kCGImageSourceMaxDecodeBytes, double(128u << 20));
    auto source = CGImageSourceCreateWithData(bytes, options);
    auto needed = CGImageSourceEstimateThumbnailBytes(source, 0, options);
    CGImageRef image;
    if (needed && *needed <= (128u << 20)) image = CGImageSourceCreateThumbnailAtIndex(source, 0, options);
    auto plain = UIImage::imageWithData(bytes);
    std::printf("peak_kb %ld %s\n", benchsupport::peakKB(), image || plain ? "decoded" : "refused");
    return 0;
}

// The child's peak in MB and what it did; a negative peak when it failed.
std::pair<double, std::string> gifPeak(const char* which) {
    const std::string text = benchsupport::runSelf({"bench_graphics_decode", "--gif-peak", which}, 60);
    long kb = -1;
    char how[32] = "";
    if (std::sscanf(text.c_str(), "peak_kb %ld %31s", &kb, how) != 2) return {-1, text};
    return {kb / 1024.0, how};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--gif-peak") == 0) return runGIFPeakChild(argv[2]);
    benchmark::Initialize(&argc, argv);
    (void)pngFile();
    (void)jpegFile();
    (void)manyScanJPEG();
    (void)boundJPEG();
    (void)zTXtPNG();
    (void)photo24MP();
    (void)interlacedGIF();
    (void)boundGIF();
    (void)clearCodeGIF();
    (void)millionFrameGIF();
    (void)stuffedJPEG();
    (void)makerNoteJPEG();
    (void)bareJPEG();
    (void)cameraPhotos();
    benchsupport::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("files: PNG %zu bytes, JPEG %zu bytes, %zux%zu\n", pngFile().length(), jpegFile().length(),
                kSide, kSide);
    reporter.printRatio("png_decode", "BM_PNGDecode_ImageSource", "BM_PNGDecode_PlainLibrary", "ms");
    reporter.printRatio("jpeg_decode", "BM_JPEGDecode_ImageSource", "BM_JPEGDecode_PlainLibrary", "ms");
    // A real 24 MP progressive photo still decodes, at the plain library's pace.
    if (reporter.printRatio("jpeg_progressive_24mp", "BM_Photo24MP_ImageSource", "BM_Photo24MP_PlainLibrary",
                            "ms"))
        std::printf("  target: at most 1.25\n");
    // The hostile pictures against that photo's decode: refused, or read, in a small part of it.
    if (reporter.printRatio("jpeg_990_scans_refused", "BM_HostileJPEG_ManyScansRefused",
                            "BM_Photo24MP_ImageSource", "ms"))
        std::printf("  target: at most 0.01 (%zu bytes, refused from its scan headers)\n",
                    manyScanJPEG().length());
    if (reporter.printRatio("jpeg_at_work_bound", "BM_HostileJPEG_AtTheWorkBound", "BM_Photo24MP_ImageSource",
                            "ms"))
        std::printf(
            "  target: at most 3.0 (the most work a file may ask for, %zu bytes; 41 MP of output against "
            "the photo's 24)\n",
            boundJPEG().length());
    if (reporter.printRatio("png_ztxt_1px", "BM_HostilePNG_TextChunks", "BM_Photo24MP_ImageSource", "ms"))
        std::printf("  target: at most 0.1 (%zu bytes, 990 zTXt chunks never inflated)\n",
                    zTXtPNG().length());
    if (reporter.printRatio("gif_interlaced_refused", "BM_HostileGIF_InterlacedRefused",
                            "BM_Photo24MP_ImageSource", "ms"))
        std::printf("  target: at most 0.01 (%zu bytes, refused from its frame descriptors)\n",
                    interlacedGIF().length());
    if (reporter.printRatio("gif_at_work_bound", "BM_HostileGIF_AtTheWorkBound", "BM_Photo24MP_ImageSource",
                            "ms")) {
        const double work = double(detail::estimateGIFDecodeWork(boundGIF().bytes(), boundGIF().length()));
        std::printf(
            "  target: at most 4.5 (near the most work a GIF may ask for, %zu bytes; %.1f ns a pixel of "
            "its %.1f million of %.0f; about a second of one core at most)\n",
            boundGIF().length(), *reporter.time("BM_HostileGIF_AtTheWorkBound") * 1e6 / work, work / 1e6,
            double(detail::kMaxGIFDecodePixels) / 1e6);
    }
    if (reporter.printRatio("gif_clear_codes_refused", "BM_HostileGIF_ClearCodesRefused",
                            "BM_Photo24MP_ImageSource", "ms"))
        std::printf(
            "  target: at most 0.01 (%zu bytes of clear codes, refused from the count of its codes)\n",
            clearCodeGIF().length());
    if (reporter.printRatio("gif_million_frames_refused", "BM_HostileGIF_MillionFramesRefused",
                            "BM_Photo24MP_ImageSource", "ms"))
        std::printf("  target: at most 0.25 (%zu bytes, 1.1 million descriptors walked and refused)\n",
                    millionFrameGIF().length());
    // Measured once each, in processes of their own, after the benchmarks.
    const auto million = gifPeak("million"), ordinary = gifPeak("ordinary");
    if (million.first >= 0 && ordinary.first > 0) {
        std::printf("ratio gif_million_frames_peak %.4g\n", million.first / ordinary.first);
        std::printf(
            "  peak while reading %.1f MB (%s), an ordinary animation of 40 frames of 400 x 300 %.1f MB "
            "(%s)\n",
            million.first, million.second.c_str(), ordinary.first, ordinary.second.c_str());
        std::printf("  target: at most 1.5, and well under 100 MB (it held 1.2 GB when every frame kept its "
                    "own records)\n");
    } else {
        std::printf("gif_million_frames_peak: child failed: %s | %s\n", million.second.c_str(),
                    ordinary.second.c_str());
    }
    if (reporter.printRatio("jpeg_220_exif_blocks", "BM_JPEG640_StuffedEXIF", "BM_JPEG640_Bare", "ms"))
        std::printf("  target: at most 1.5 (%zu bytes against %zu: 220 blocks stepped over, the first "
                    "orientation kept)\n",
                    stuffedJPEG().length(), bareJPEG().length());
    if (reporter.printRatio("jpeg_maker_note_first", "BM_JPEG640_MakerNoteEXIF", "BM_JPEG640_Bare", "ms"))
        std::printf("  target: at most 1.5 (the first block read, its maker's note of overlapping data "
                    "passed by)\n");
    // A page of camera photos shown small: a progressive one costs no more than a baseline one.
    if (reporter.printRatio("jpeg_progressive_eighth", "BM_CameraEighth_Progressive",
                            "BM_CameraEighth_Baseline", "ms"))
        std::printf("  target: at most 1.0 (%d x %d at 4:2:0 in a 40 x 30 box, decoded at an eighth; "
                    "progressive %zu bytes, baseline %zu)\n",
                    kCameraWidth, kCameraHeight, cameraPhotos().first.length(),
                    cameraPhotos().second.length());
    return 0;
}
