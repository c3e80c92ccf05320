// PNG reading and writing over libpng. Reading uses the progressive (push) reader for complete
// and partial data alike, so a file that is still arriving decodes as far as it goes: rows not
// yet seen stay transparent, and an interlaced picture shows its earlier passes as blocks.

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <new>

#include "graphics/ImageCodec.h"

namespace detail {
namespace {

std::uint32_t readBE32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

// The largest ratio deflate can reach is a little over 1032:1, so a complete file can never hold
// more raw image bytes than this many times its own length.
constexpr std::uint64_t kMaxDeflateRatio = 1100;

// Ancillary chunks libpng may keep, and the most it may allocate for one chunk's data: a palette
// and its transparency are under a kilobyte, and no other chunk is read.
constexpr png_uint_32 kMaxPNGKeptChunks = 8;
constexpr png_alloc_size_t kMaxPNGChunkBytes = 64u << 10;

struct PNGReadState {
    bool partial = false;
    std::size_t length = 0;
    std::size_t width = 0, height = 0;
    bool hasAlpha = false;
    bool interlaced = false;
    bool headerSeen = false;
    bool finished = false;
    std::size_t rowsSeen = 0;
    std::uint8_t* canvas = nullptr;  // width * height * 4, owned by `pixels`
    std::vector<std::uint8_t>* pixels = nullptr;
};

void premultiplyRow(std::uint8_t* p, std::size_t width) {
    for (std::size_t x = 0; x < width; ++x, p += 4) {
        unsigned a = p[3];
        if (a == 255) continue;
        p[0] = static_cast<std::uint8_t>((p[0] * a + 127) / 255);
        p[1] = static_cast<std::uint8_t>((p[1] * a + 127) / 255);
        p[2] = static_cast<std::uint8_t>((p[2] * a + 127) / 255);
    }
}

void onError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void onWarning(png_structp, png_const_charp) {}

void onInfo(png_structp png, png_infop info) {
    auto* state = static_cast<PNGReadState*>(png_get_progressive_ptr(png));
    png_uint_32 w = 0, h = 0;
    int depth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(png, info, &w, &h, &depth, &colorType, &interlace, nullptr, nullptr);
    if (!imageSizeAllowed(w, h)) png_error(png, "size");
    int channels = (colorType & PNG_COLOR_MASK_PALETTE) ? 1
                   : (colorType & PNG_COLOR_MASK_COLOR) ? ((colorType & PNG_COLOR_MASK_ALPHA) ? 4 : 3)
                                                        : ((colorType & PNG_COLOR_MASK_ALPHA) ? 2 : 1);
    std::uint64_t rawBytes = std::uint64_t(h) * (1 + (std::uint64_t(w) * channels * depth + 7) / 8);
    if (!state->partial && rawBytes > kMaxDeflateRatio * state->length + 4096) png_error(png, "implausible");

    state->width = w;
    state->height = h;
    state->interlaced = interlace != PNG_INTERLACE_NONE;
    state->hasAlpha = (colorType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);

    png_set_expand(png);
    if (depth == 16) png_set_scale_16(png);
    if (!(colorType & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(png);
    png_set_bgr(png);
    if (!(colorType & PNG_COLOR_MASK_ALPHA)) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != std::size_t(w) * 4) png_error(png, "layout");

    // No exception may cross libpng's frames: allocation failure becomes a libpng error.
    try {
        state->pixels->assign(std::size_t(w) * h * 4, 0);
    } catch (const std::bad_alloc&) {
        png_error(png, "memory");
    }
    state->canvas = state->pixels->data();
    state->headerSeen = true;
}

void onRow(png_structp png, png_bytep newRow, png_uint_32 rowNumber, int pass) {
    auto* state = static_cast<PNGReadState*>(png_get_progressive_ptr(png));
    if (!newRow || rowNumber >= state->height) return;
    std::uint8_t* row = state->canvas + std::size_t(rowNumber) * state->width * 4;
    if (state->interlaced) {
        // Alpha is premultiplied once the whole picture is in, since later passes merge into rows.
        png_progressive_combine_row(png, row, newRow);
    } else {
        std::memcpy(row, newRow, state->width * 4);
        if (state->hasAlpha) premultiplyRow(row, state->width);
    }
    state->rowsSeen = std::max<std::size_t>(state->rowsSeen, rowNumber + 1);
    (void)pass;
}

void onEnd(png_structp png, png_infop) {
    auto* state = static_cast<PNGReadState*>(png_get_progressive_ptr(png));
    state->finished = true;
}

// Runs the push reader over the bytes; false on a libpng error. Kept free of C++ objects with
// destructors so that the longjmp out of libpng skips nothing.
bool pushRead(png_structp png, png_infop info, const std::uint8_t* bytes, std::size_t length) {
    if (setjmp(png_jmpbuf(png))) return false;
    // Fed in pieces so that a header error stops the work before the rest is looked at.
    std::size_t offset = 0;
    while (offset < length) {
        std::size_t chunk = std::min<std::size_t>(length - offset, 1 << 16);
        png_process_data(png, info, const_cast<std::uint8_t*>(bytes + offset), chunk);
        offset += chunk;
    }
    return true;
}

}  // namespace

std::optional<ImageInfo> readPNGInfo(const std::uint8_t* b, std::size_t n) {
    if (sniffImageFormat(b, n) != ImageFormat::PNG || n < 33) return std::nullopt;
    if (readBE32(b + 8) != 13 || std::memcmp(b + 12, "IHDR", 4) != 0) return std::nullopt;
    ImageInfo info;
    info.width = readBE32(b + 16);
    info.height = readBE32(b + 20);
    info.bitDepth = b[24];
    int colorType = b[25];
    info.interlaced = b[28] != 0;
    if (info.width == 0 || info.height == 0 || info.width > 0x7FFFFFFF || info.height > 0x7FFFFFFF) {
        return std::nullopt;
    }
    static const int validDepths[7][6] = {{1, 2, 4, 8, 16, 0}, {0}, {8, 16, 0}, {1, 2, 4, 8, 0},
                                          {8, 16, 0},          {0}, {8, 16, 0}};
    if (colorType > 6 || validDepths[colorType][0] == 0) return std::nullopt;
    bool depthOK = false;
    for (int d : validDepths[colorType]) depthOK |= d == info.bitDepth;
    if (!depthOK) return std::nullopt;
    info.colorModel = (colorType & PNG_COLOR_MASK_COLOR) ? "RGB" : "Gray";
    info.hasAlpha = colorType & PNG_COLOR_MASK_ALPHA;
    // A tRNS chunk before the image data also gives alpha.
    std::size_t at = 8;
    while (!info.hasAlpha && at + 8 <= n) {
        std::uint32_t len = readBE32(b + at);
        if (std::memcmp(b + at + 4, "IDAT", 4) == 0 || std::memcmp(b + at + 4, "IEND", 4) == 0) break;
        if (std::memcmp(b + at + 4, "tRNS", 4) == 0) info.hasAlpha = true;
        if (len > n) break;
        at += std::size_t(len) + 12;
    }
    return info;
}

CGImageRef decodePNG(const std::uint8_t* bytes, std::size_t length, bool partial) {
    if (sniffImageFormat(bytes, length) != ImageFormat::PNG) return nullptr;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
    if (!png) return nullptr;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return nullptr;
    }
    png_set_user_limits(png, kMaxImageSide, kMaxImageSide);
    // Nothing here reads text, profiles or any other ancillary chunk, and the compressed ones
    // (zTXt, iTXt, iCCP) would otherwise each be inflated: a file of many small chunks that
    // inflate to megabytes apiece costs minutes. Every chunk but the image's own (IHDR, PLTE,
    // tRNS, IDAT, IEND) is passed over unread, and what libpng may still keep or allocate for any
    // chunk is held small.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_chunk_cache_max(png, kMaxPNGKeptChunks);
    png_set_chunk_malloc_max(png, kMaxPNGChunkBytes);
    std::vector<std::uint8_t> pixels;
    PNGReadState state;
    state.partial = partial;
    state.length = length;
    state.pixels = &pixels;
    png_set_progressive_read_fn(png, &state, onInfo, onRow, onEnd);
    bool ok = pushRead(png, info, bytes, length);
    png_destroy_read_struct(&png, &info, nullptr);

    if (!state.headerSeen) return nullptr;
    if (!state.finished) {
        // Ended early or broke off: only a picture still arriving shows what it has.
        if (!partial || state.rowsSeen == 0) return nullptr;
    }
    (void)ok;
    bool hasAlpha = state.hasAlpha || !state.finished;
    if (state.interlaced && state.hasAlpha) {
        for (std::size_t y = 0; y < state.height; ++y)
            premultiplyRow(pixels.data() + y * state.width * 4, state.width);
    }
    return makeBGRAImage(state.width, state.height, NSData(std::move(pixels)), hasAlpha);
}

// ---------------------------------------------------------------------------------------------
namespace {
void onWrite(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    try {
        out->insert(out->end(), data, data + length);
    } catch (const std::bad_alloc&) {
        png_error(png, "memory");
    }
}
void onFlush(png_structp) {}

bool pushWrite(png_structp png, png_infop info, std::size_t width, std::size_t height, bool alpha,
               png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, info);
    return true;
}
}  // namespace

std::optional<NSData> encodePNG(const CGImage& image) {
    NSData bgra = pixelsAsPremultipliedBGRA(image);
    const std::size_t w = image.width(), h = image.height();
    if (bgra.empty() || w > 0x7FFFFFFF || h > 0x7FFFFFFF) return std::nullopt;
    CGImageAlphaInfo alphaInfo = image.alphaInfo();
    bool alpha = !(alphaInfo == kCGImageAlphaNone || alphaInfo == kCGImageAlphaNoneSkipFirst ||
                   alphaInfo == kCGImageAlphaNoneSkipLast);
    const std::size_t channels = alpha ? 4 : 3;
    std::vector<std::uint8_t> rgb(w * h * channels);
    const std::uint8_t* s = bgra.bytes();
    std::uint8_t* d = rgb.data();
    for (std::size_t i = 0; i < w * h; ++i, s += 4, d += channels) {
        unsigned a = s[3];
        if (!alpha || a == 255) {
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
        } else if (a == 0) {
            d[0] = d[1] = d[2] = 0;
        } else {
            d[0] = static_cast<std::uint8_t>(std::min(255u, (s[2] * 255u + a / 2) / a));
            d[1] = static_cast<std::uint8_t>(std::min(255u, (s[1] * 255u + a / 2) / a));
            d[2] = static_cast<std::uint8_t>(std::min(255u, (s[0] * 255u + a / 2) / a));
        }
        if (alpha) d[3] = static_cast<std::uint8_t>(a);
    }
    std::vector<png_bytep> rows(h);
    for (std::size_t y = 0; y < h; ++y) rows[y] = rgb.data() + y * w * channels;

    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
    if (!png) return std::nullopt;
    png_infop info = png_create_info_struct(png);
    std::vector<std::uint8_t> out;
    out.reserve(w * h + 1024);
    png_set_write_fn(png, &out, onWrite, onFlush);
    bool ok = info && pushWrite(png, info, w, h, alpha, rows.data());
    png_destroy_write_struct(&png, info ? &info : nullptr);
    if (!ok) return std::nullopt;
    return NSData(std::move(out));
}

}  // namespace detail
