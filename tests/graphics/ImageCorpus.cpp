#include "ImageCorpus.h"

#include <gif_lib.h>
#include <png.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <jpeglib.h>

namespace corpus {

namespace {

std::uint8_t premul(unsigned c, unsigned a) {
    return static_cast<std::uint8_t>((c * a + 127) / 255);
}

void setPixel(Pixels& p, std::size_t x, std::size_t y, unsigned r, unsigned g, unsigned b, unsigned a) {
    std::uint8_t* d = p.at(x, y);
    d[0] = premul(b, a);
    d[1] = premul(g, a);
    d[2] = premul(r, a);
    d[3] = static_cast<std::uint8_t>(a);
}

void pngWrite(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}
void pngFlush(png_structp) {}

NSData writePNG(std::size_t w, std::size_t h, int colorType, int depth, bool interlaced,
                const std::vector<png_color>& palette, const std::vector<png_byte>& trnsAlpha,
                const png_color_16* trnsColor, const std::vector<std::vector<std::uint8_t>>& rows) {
    std::vector<std::uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("png write failed");
    }
    png_set_write_fn(png, &out, pngWrite, pngFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), depth, colorType,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    if (!trnsAlpha.empty() || trnsColor) {
        png_set_tRNS(png, info, trnsAlpha.empty() ? nullptr : trnsAlpha.data(),
                     static_cast<int>(trnsAlpha.size()), trnsColor);
    }
    png_write_info(png, info);
    std::vector<png_bytep> pointers;
    for (auto& row : rows) pointers.push_back(const_cast<png_bytep>(row.data()));
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return NSData(std::move(out));
}

// Packs samples of `depth` bits, most significant first; 16-bit samples big-endian.
void putSample(std::vector<std::uint8_t>& row, std::size_t index, int depth, unsigned value) {
    if (depth == 16) {
        row[index * 2] = static_cast<std::uint8_t>(value >> 8);
        row[index * 2 + 1] = static_cast<std::uint8_t>(value & 0xFF);
    } else if (depth == 8) {
        row[index] = static_cast<std::uint8_t>(value);
    } else {
        std::size_t bit = index * depth;
        int shift = 8 - depth - static_cast<int>(bit % 8);
        row[bit / 8] |= static_cast<std::uint8_t>(value << shift);
    }
}

}  // namespace

NSData makePNG(const PNGRecipe& recipe, Pixels* expected) {
    const std::size_t w = recipe.width, h = recipe.height;
    const int depth = recipe.bitDepth;
    const unsigned levels = depth == 16 ? 256 : (1u << depth);
    auto expand = [&](unsigned s) { return depth >= 8 ? s : s * 255 / (levels - 1); };
    auto wide = [&](unsigned v8) { return depth == 16 ? v8 * 257 : v8; };
    int channels = recipe.colorType == 0 || recipe.colorType == 3 ? 1
                   : recipe.colorType == 4                        ? 2
                   : recipe.colorType == 2                        ? 3
                                                                  : 4;
    std::size_t rowBytes = (w * channels * depth + 7) / 8;
    std::vector<std::vector<std::uint8_t>> rows(h, std::vector<std::uint8_t>(rowBytes, 0));
    Pixels px;
    px.width = w;
    px.height = h;
    px.bgra.assign(w * h * 4, 0);
    std::vector<png_color> palette;
    std::vector<png_byte> trnsAlpha;
    png_color_16 trnsColor{};
    bool useTrnsColor = false;

    if (recipe.colorType == 3) {
        unsigned size = std::min(256u, levels);
        for (unsigned i = 0; i < size; ++i) {
            palette.push_back({static_cast<png_byte>(i * 37 % 256), static_cast<png_byte>(i * 91 % 256),
                               static_cast<png_byte>(i * 53 % 256)});
            if (recipe.transparency) trnsAlpha.push_back(static_cast<png_byte>(i * 67 % 256));
        }
        for (std::size_t y = 0; y < h; ++y)
            for (std::size_t x = 0; x < w; ++x) {
                unsigned i = (x + 3 * y) % size;
                putSample(rows[y], x, depth, i);
                unsigned a = recipe.transparency ? trnsAlpha[i] : 255;
                setPixel(px, x, y, palette[i].red, palette[i].green, palette[i].blue, a);
            }
    } else if (recipe.colorType == 0) {
        if (recipe.transparency) {
            useTrnsColor = true;
            trnsColor.gray = static_cast<png_uint_16>(depth == 16 ? 257 : 1);
        }
        for (std::size_t y = 0; y < h; ++y)
            for (std::size_t x = 0; x < w; ++x) {
                unsigned s = (x * 3 + y * 5) % levels;
                putSample(rows[y], x, depth, wide(s));
                unsigned g = expand(s);
                setPixel(px, x, y, g, g, g, recipe.transparency && s == 1 ? 0 : 255);
            }
    } else if (recipe.colorType == 4) {
        for (std::size_t y = 0; y < h; ++y)
            for (std::size_t x = 0; x < w; ++x) {
                unsigned g = (x * 30 + y * 7) % 256, a = (x * 40 + y * 20) % 256;
                putSample(rows[y], x * 2, depth, wide(g));
                putSample(rows[y], x * 2 + 1, depth, wide(a));
                setPixel(px, x, y, g, g, g, a);
            }
    } else {
        const bool alpha = recipe.colorType == 6;
        unsigned r0 = 0, g0 = 0, b0 = 0;
        for (std::size_t y = 0; y < h; ++y)
            for (std::size_t x = 0; x < w; ++x) {
                unsigned r = (x * 20 + y) % 256, g = (y * 20 + x * 3) % 256, b = (x * y * 7) % 256;
                if (x == 0 && y == 0) r0 = r, g0 = g, b0 = b;
                unsigned a = alpha ? (x * 40 + y * 20) % 256 : 255;
                std::size_t base = x * (alpha ? 4 : 3);
                putSample(rows[y], base, depth, wide(r));
                putSample(rows[y], base + 1, depth, wide(g));
                putSample(rows[y], base + 2, depth, wide(b));
                if (alpha) putSample(rows[y], base + 3, depth, wide(a));
                if (!alpha && recipe.transparency && r == r0 && g == g0 && b == b0) a = 0;
                setPixel(px, x, y, r, g, b, a);
            }
        if (!alpha && recipe.transparency) {
            useTrnsColor = true;
            trnsColor.red = static_cast<png_uint_16>(wide(r0));
            trnsColor.green = static_cast<png_uint_16>(wide(g0));
            trnsColor.blue = static_cast<png_uint_16>(wide(b0));
        }
    }
    if (expected) *expected = px;
    return writePNG(w, h, recipe.colorType, depth, recipe.interlaced, palette, trnsAlpha,
                    useTrnsColor ? &trnsColor : nullptr, rows);
}

NSData encodeRGBAPNG(std::size_t width, std::size_t height, const std::vector<std::uint8_t>& rgba,
                     bool interlaced) {
    std::vector<std::vector<std::uint8_t>> rows(height);
    for (std::size_t y = 0; y < height; ++y) {
        rows[y].assign(rgba.begin() + static_cast<std::ptrdiff_t>(y * width * 4),
                       rgba.begin() + static_cast<std::ptrdiff_t>((y + 1) * width * 4));
    }
    return writePNG(width, height, 6, 8, interlaced, {}, {}, nullptr, rows);
}

// ---------------------------------------------------------------------------------------------
std::vector<std::uint8_t> smoothRGB(std::size_t w, std::size_t h) {
    std::vector<std::uint8_t> rgb(w * h * 3);
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x) {
            std::uint8_t* p = rgb.data() + (y * w + x) * 3;
            p[0] = static_cast<std::uint8_t>(w > 1 ? x * 255 / (w - 1) : 0);
            p[1] = static_cast<std::uint8_t>(h > 1 ? y * 255 / (h - 1) : 0);
            p[2] = static_cast<std::uint8_t>(128 + 60 * std::sin((x + y) / 20.0));
        }
    return rgb;
}

namespace {
struct JPEGError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};
void jpegFail(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JPEGError*>(cinfo->err)->jump, 1);
}

std::vector<std::uint8_t> exifSegment(int orientation, bool little) {
    auto u16 = [&](std::vector<std::uint8_t>& v, unsigned x) {
        if (little) {
            v.push_back(x & 0xFF);
            v.push_back(x >> 8);
        } else {
            v.push_back(x >> 8);
            v.push_back(x & 0xFF);
        }
    };
    auto u32 = [&](std::vector<std::uint8_t>& v, unsigned x) {
        if (little) {
            u16(v, x & 0xFFFF);
            u16(v, x >> 16);
        } else {
            u16(v, x >> 16);
            u16(v, x & 0xFFFF);
        }
    };
    std::vector<std::uint8_t> e = {'E', 'x', 'i', 'f', 0, 0};
    e.push_back(little ? 'I' : 'M');
    e.push_back(little ? 'I' : 'M');
    u16(e, 42);
    u32(e, 8);
    u16(e, 2);  // two entries: image description first, then orientation
    u16(e, 0x010E);
    u16(e, 2);  // ASCII
    u32(e, 4);
    e.insert(e.end(), {'c', 'a', 'r', 0});
    u16(e, 0x0112);
    u16(e, 3);  // SHORT
    u32(e, 1);
    u16(e, static_cast<unsigned>(orientation));
    u16(e, 0);
    u32(e, 0);  // no next IFD
    return e;
}
}  // namespace

NSData makeJPEG(const JPEGRecipe& recipe, Pixels* expected) {
    const std::size_t w = recipe.width, h = recipe.height;
    std::vector<std::uint8_t> rgb = smoothRGB(w, h);
    Pixels px;
    px.width = w;
    px.height = h;
    px.bgra.assign(w * h * 4, 255);
    std::vector<std::uint8_t> input;
    input.reserve(w * h * 4);
    for (std::size_t i = 0; i < w * h; ++i) {
        unsigned r = rgb[i * 3], g = rgb[i * 3 + 1], b = rgb[i * 3 + 2];
        if (recipe.grey) {
            unsigned y = (r * 77 + g * 150 + b * 29 + 128) >> 8;
            input.push_back(static_cast<std::uint8_t>(y));
            r = g = b = y;
        } else if (recipe.cmyk) {
            // Inverted inks: stored value = paper left showing; no black ink.
            input.insert(input.end(), {static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
                                       static_cast<std::uint8_t>(b), 255});
        } else {
            input.insert(input.end(), {static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
                                       static_cast<std::uint8_t>(b)});
        }
        px.bgra[i * 4] = static_cast<std::uint8_t>(b);
        px.bgra[i * 4 + 1] = static_cast<std::uint8_t>(g);
        px.bgra[i * 4 + 2] = static_cast<std::uint8_t>(r);
    }
    if (expected) *expected = px;

    jpeg_compress_struct cinfo;
    JPEGError err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = jpegFail;
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(out);
        throw std::runtime_error("jpeg write failed");
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = static_cast<JDIMENSION>(w);
    cinfo.image_height = static_cast<JDIMENSION>(h);
    cinfo.input_components = recipe.grey ? 1 : recipe.cmyk ? 4 : 3;
    cinfo.in_color_space = recipe.grey ? JCS_GRAYSCALE : recipe.cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    if (recipe.cmyk) jpeg_set_colorspace(&cinfo, JCS_CMYK);
    jpeg_set_quality(&cinfo, recipe.quality, TRUE);
    if (recipe.progressive) jpeg_simple_progression(&cinfo);
    if (recipe.restartMarkers) cinfo.restart_interval = 2;
    jpeg_start_compress(&cinfo, TRUE);
    if (recipe.exifOrientation > 0) {
        auto exif = exifSegment(recipe.exifOrientation, recipe.exifLittleEndian);
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, exif.data(), static_cast<unsigned>(exif.size()));
    }
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row =
            input.data() + std::size_t(cinfo.next_scanline) * w * std::size_t(cinfo.input_components);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    NSData data(out, size);
    std::free(out);
    return data;
}

// ---------------------------------------------------------------------------------------------
namespace {
int gifWrite(GifFileType* gif, const GifByteType* bytes, int length) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
    out->insert(out->end(), bytes, bytes + length);
    return length;
}

ColorMapObject* mapOf(const std::vector<std::uint8_t>& palette) {
    int count = static_cast<int>(palette.size() / 3);
    std::vector<GifColorType> colours(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        colours[static_cast<std::size_t>(i)] = {palette[static_cast<std::size_t>(i) * 3],
                                                palette[static_cast<std::size_t>(i) * 3 + 1],
                                                palette[static_cast<std::size_t>(i) * 3 + 2]};
    }
    return GifMakeMapObject(count, colours.data());
}
}  // namespace

std::vector<std::uint8_t> basicPalette() {
    return {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
}

NSData makeGIF(const GIFRecipe& recipe) {
    std::vector<std::uint8_t> out;
    int err = 0;
    GifFileType* gif = EGifOpen(&out, gifWrite, &err);
    if (!gif) throw std::runtime_error("gif open failed");
    EGifSetGifVersion(gif, true);
    ColorMapObject* global = recipe.globalPalette.empty() ? nullptr : mapOf(recipe.globalPalette);
    EGifPutScreenDesc(gif, static_cast<int>(recipe.width), static_cast<int>(recipe.height), 8, 0, global);
    if (recipe.loopCount >= 0) {
        EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE);
        EGifPutExtensionBlock(gif, 11, "LOOPINGAPP1");
        unsigned char loop[3] = {1, static_cast<unsigned char>(recipe.loopCount & 0xFF),
                                 static_cast<unsigned char>(recipe.loopCount >> 8)};
        EGifPutExtensionBlock(gif, 3, loop);
        EGifPutExtensionTrailer(gif);
    }
    for (const GIFFrame& f : recipe.frames) {
        if (f.delayHundredths >= 0 || f.transparentIndex >= 0 || f.disposal != 0) {
            GraphicsControlBlock gcb{};
            gcb.DisposalMode = f.disposal;
            gcb.UserInputFlag = false;
            gcb.DelayTime = std::max(0, f.delayHundredths);
            gcb.TransparentColor = f.transparentIndex >= 0 ? f.transparentIndex : NO_TRANSPARENT_COLOR;
            GifByteType ext[4];
            EGifGCBToExtension(&gcb, ext);
            EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext);
        }
        ColorMapObject* local = f.localPalette.empty() ? nullptr : mapOf(f.localPalette);
        EGifPutImageDesc(gif, static_cast<int>(f.left), static_cast<int>(f.top), static_cast<int>(f.width),
                         static_cast<int>(f.height), f.interlaced, local);
        if (local) GifFreeMapObject(local);
        std::vector<std::size_t> order;
        if (f.interlaced) {
            const std::size_t start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
            for (int pass = 0; pass < 4; ++pass)
                for (std::size_t y = start[pass]; y < f.height; y += step[pass]) order.push_back(y);
        } else {
            for (std::size_t y = 0; y < f.height; ++y) order.push_back(y);
        }
        for (std::size_t y : order) {
            EGifPutLine(gif, const_cast<GifPixelType*>(f.indices.data() + y * f.width),
                        static_cast<int>(f.width));
        }
    }
    EGifCloseFile(gif, &err);
    if (global) GifFreeMapObject(global);
    return NSData(std::move(out));
}

// ---------------------------------------------------------------------------------------------
Pixels pixelsOf(const CGImage& image) {
    Pixels p;
    p.width = image.width();
    p.height = image.height();
    NSData data = detail::pixelsAsPremultipliedBGRA(image);
    p.bgra.assign(data.bytes(), data.bytes() + data.length());
    return p;
}

int maxDifference(const Pixels& a, const CGImage& image) {
    Pixels b = pixelsOf(image);
    if (a.width != b.width || a.height != b.height || a.bgra.size() != b.bgra.size()) return INT_MAX;
    int worst = 0;
    for (std::size_t i = 0; i < a.bgra.size(); ++i)
        worst = std::max(worst, std::abs(int(a.bgra[i]) - int(b.bgra[i])));
    return worst;
}

std::string toString(const NSData& data) {
    return data.toString();
}
NSData fromString(const std::string& text) {
    return NSData(text.data(), text.size());
}

}  // namespace corpus
