#pragma once
// Pictures that cost a decoder far more than their size, made in-process for the tests and the
// benchmarks: a GIF whose tiny screen holds frames of a hundred megapixels (their data compressed
// to the limit of the format, interlaced or not), one whose data is nothing but clear codes, one of
// noise at the most work a GIF may ask for, a PNG of one pixel carrying hundreds of text chunks that each
// inflate to megabytes, and a progressive JPEG whose hundreds of scans of next to no data each
// sweep a large picture.

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tests/graphics/JPEGWriter.h"

namespace hostile {

namespace internal {

// LSB-first code packing, as GIF data is written.
struct BitWriter {
    std::vector<std::uint8_t> bytes;
    std::uint32_t pending = 0;
    int count = 0;
    void put(unsigned code, int width) {
        pending |= std::uint32_t(code) << count;
        count += width;
        while (count >= 8) {
            bytes.push_back(std::uint8_t(pending));
            pending >>= 8;
            count -= 8;
        }
    }
    void finish() {
        if (count > 0) bytes.push_back(std::uint8_t(pending));
        pending = 0;
        count = 0;
    }
};

// LZW data of `pixels` pixels of colour 0 at a code size of 2: runs one pixel longer each code,
// the table cleared before it fills, so a hundred megapixels take under 70 KB. `clears`, when
// given, is told how many clear codes it holds (the first included); `extraClears` more open it.
inline std::vector<std::uint8_t> constantLZW(std::uint64_t pixels, std::uint64_t* clears = nullptr,
                                             std::uint64_t extraClears = 0) {
    constexpr unsigned kClear = 4, kEnd = 5, kFirst = 6, kRestartAt = 4000;
    BitWriter out;
    int width = 3;
    unsigned next = kFirst;
    // Written with the current width; the width grows once the code to be added next no longer
    // fits it, as the decoder expects.
    auto emit = [&](unsigned code, bool adds) {
        out.put(code, width);
        if (adds) {
            if (next > (1u << width) - 1 && width < 12) ++width;
            ++next;
        }
    };
    for (std::uint64_t i = 0; i < extraClears; ++i) out.put(kClear, width);
    out.put(kClear, width);
    if (clears) *clears = 1 + extraClears;
    bool fresh = true;  // the first code after a clear
    std::uint64_t run = 1;
    while (pixels > 0) {
        if (fresh) {
            emit(0, true);
            pixels -= 1;
            run = 2;
            fresh = false;
            continue;
        }
        if (next >= kRestartAt) {
            out.put(kClear, width);
            if (clears) ++*clears;
            width = 3;
            next = kFirst;
            fresh = true;
            continue;
        }
        // The code for a run of `run` zeros is kFirst + run - 2; a shorter tail uses an earlier one.
        const std::uint64_t take = pixels < run ? pixels : run;
        emit(take == 1 ? 0 : unsigned(kFirst + take - 2), true);
        pixels -= take;
        ++run;
    }
    out.put(kEnd, width);
    out.finish();
    return out.bytes;
}

// LZW data of any pixels at a code size of 8, as an encoder writes it: the longest string the
// table holds each code, the table cleared when full.
inline std::vector<std::uint8_t> encodeLZW(const std::vector<std::uint8_t>& pixels) {
    constexpr unsigned kClear = 256, kEnd = 257, kFirst = 258, kTable = 4096;
    BitWriter out;
    int width = 9;
    unsigned next = kFirst;
    // The code for (string, pixel), 0 when the table has none.
    std::vector<std::uint16_t> codes(std::size_t(kTable) * 256, 0);
    out.put(kClear, width);
    if (pixels.empty()) {
        out.put(kEnd, width);
        out.finish();
        return out.bytes;
    }
    unsigned current = pixels[0];
    for (std::size_t i = 1; i < pixels.size(); ++i) {
        const std::uint8_t p = pixels[i];
        if (const unsigned found = codes[std::size_t(current) * 256 + p]) {
            current = found;
            continue;
        }
        out.put(current, width);
        if (next < kTable) {
            codes[std::size_t(current) * 256 + p] = std::uint16_t(next);
            if (next++ == (1u << width) && width < 12) ++width;
        } else {
            out.put(kClear, width);
            std::fill(codes.begin(), codes.end(), 0);
            width = 9;
            next = kFirst;
        }
        current = p;
    }
    out.put(current, width);
    out.put(kEnd, width);
    out.finish();
    return out.bytes;
}

inline void putBlocks(std::string& g, const std::vector<std::uint8_t>& data) {
    for (std::size_t at = 0; at < data.size(); at += 255) {
        const std::size_t n = data.size() - at < 255 ? data.size() - at : 255;
        g += char(n);
        g.append(reinterpret_cast<const char*>(data.data() + at), n);
    }
    g += char(0);
}

inline void put16(std::string& s, unsigned v) {
    s += char(v & 0xFF);
    s += char(v >> 8);
}

// A GIF89a's signature and logical screen; `flags` tells of the global palette that follows.
inline std::string gifScreen(unsigned width, unsigned height, unsigned flags) {
    std::string g = "GIF89a";
    put16(g, width);
    put16(g, height);
    g += char(flags);
    g += char(0);  // background colour
    g += char(0);  // aspect
    return g;
}

// A frame's image descriptor at the screen's top left: its size and its flags (interlace, a
// local palette).
inline void putFrameAt00(std::string& g, unsigned width, unsigned height, unsigned flags) {
    g += char(0x2C);
    put16(g, 0);
    put16(g, 0);
    put16(g, width);
    put16(g, height);
    g += char(flags);
}

inline void put32be(std::string& s, std::uint32_t v) {
    s += char(v >> 24);
    s += char(v >> 16);
    s += char(v >> 8);
    s += char(v);
}

inline void pngChunk(std::string& s, const char* type, const std::string& data) {
    put32be(s, std::uint32_t(data.size()));
    std::string body = std::string(type, 4) + data;
    s += body;
    put32be(s, std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}

}  // namespace internal

struct GIFFrameSize {
    unsigned width, height;
    bool interlaced = false;
    // How many pixels its data holds before the end code; 0: all (fewer: the frame is damaged).
    std::uint64_t dataPixels = 0;
    // Clear codes opening its data besides the one an encoder writes.
    std::uint64_t extraClears = 0;
};

// A GIF89a whose logical screen is screenWidth x screenHeight, holding frames of the sizes given
// at its top left, each wholly of colour 0 (red) of a four-colour global palette.
inline std::string bigFrameGIF(unsigned screenWidth, unsigned screenHeight,
                               const std::vector<GIFFrameSize>& frames) {
    std::string g = internal::gifScreen(screenWidth, screenHeight, 0x81);  // global palette of four
    g += std::string("\xFF\x00\x00\x00\xFF\x00\x00\x00\xFF\xFF\xFF\xFF", 12);
    for (const GIFFrameSize& f : frames) {
        g += std::string("\x21\xF9\x04\x00\x0A\x00\x00\x00", 8);  // a tenth of a second
        internal::putFrameAt00(g, f.width, f.height, f.interlaced ? 0x40 : 0);
        g += char(2);  // code size
        internal::putBlocks(
            g, internal::constantLZW(f.dataPixels ? f.dataPixels : std::uint64_t(f.width) * f.height, nullptr,
                                     f.extraClears));
    }
    g += char(0x3B);
    return g;
}

// The page case: a 1 x 1 screen holding frames of 100 and 34 megapixels (about 88 KB).
inline std::string hugeFramesGIF() {
    return bigFrameGIF(1, 1, {{10000, 10000}, {5000, 6800}});
}

// The page case of work: a 1 x 2 screen holding `frames` interlaced frames of 100 megapixels
// (about 70 KB each). The screen's second row is in the last pass, so half of every frame must be
// expanded to reach it: 50 million pixels a frame.
inline std::string interlacedHugeFramesGIF(int frames) {
    return bigFrameGIF(1, 2, std::vector<GIFFrameSize>(std::size_t(frames), {10000, 10000, true}));
}

// A 1 x 1 GIF whose one frame's data is `clearCodes` clear codes (three bits each) before its
// pixel, of colour 0: each costs a decoder that resets its table at a clear code that reset.
inline std::string clearCodeGIF(std::size_t clearCodes) {
    std::string g = "GIF89a";
    internal::put16(g, 1);
    internal::put16(g, 1);
    g += std::string("\x81\x00\x00\xFF\x00\x00\x00\xFF\x00\x00\x00\xFF\xFF\xFF\xFF", 15);
    g += std::string("\x2C\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02", 11);
    internal::BitWriter out;
    for (std::size_t i = 0; i < clearCodes; ++i) out.put(4, 3);
    out.put(0, 3);
    out.put(5, 3);
    out.finish();
    internal::putBlocks(g, out.bytes);
    g += char(0x3B);
    return g;
}

// A GIF of noise (256 grey levels) whose frames of frameWidth x screenHeight overhang the right of
// a screen of screenWidth x screenHeight: each frame expands frameWidth x screenHeight pixels, the
// worst data there is for it (under one pixel a byte), and keeps a screen of them. One frame's
// data is made and repeated.
inline std::string noiseGIF(unsigned screenWidth, unsigned screenHeight, unsigned frameWidth, int frames) {
    std::string g = internal::gifScreen(screenWidth, screenHeight, 0xF7);  // global palette of 256
    for (int i = 0; i < 256; ++i) g += std::string(3, char(i));
    std::vector<std::uint8_t> pixels(std::size_t(frameWidth) * screenHeight);
    std::mt19937 random(7);
    for (auto& p : pixels) p = std::uint8_t(random());
    std::string frame("\x21\xF9\x04\x00\x0A\x00\x00\x00", 8);
    internal::putFrameAt00(frame, frameWidth, screenHeight, 0);
    frame += char(8);  // code size
    internal::putBlocks(frame, internal::encodeLZW(pixels));
    g.reserve(g.size() + frame.size() * std::size_t(frames) + 1);
    for (int i = 0; i < frames; ++i) g += frame;
    g += char(0x3B);
    return g;
}

// A GIF of `frames` one-pixel frames, each of colour (i % 4), at the top left of a screen of
// screenSide x screenSide with a global palette of 256 colours: the cheapest frame there is, some 15
// bytes, which a reader that keeps a record and a colour table a frame pays hundreds for. With
// `controls` every frame has a graphic control extension (a tenth of a second); with `localColours`
// (a power of two from 2) every frame carries a colour table of its own of that many colours, unlike
// the table of the frame before. One
// frame of each colour is made and repeated, so a file of a million frames takes a moment.
inline std::string manyFrameGIF(std::size_t frames, unsigned screenSide = 1, bool controls = false,
                                unsigned localColours = 0) {
    std::string g = internal::gifScreen(screenSide, screenSide, 0xF7);  // global palette of 256
    for (int i = 0; i < 256; ++i) g += std::string{char(i), char(255 - i), char(i / 2)};
    unsigned localBits = 0;
    while (localColours > (2u << localBits)) ++localBits;
    std::string one[4];
    for (unsigned colour = 0; colour < 4; ++colour) {
        std::string& f = one[colour];
        if (controls) f += std::string("\x21\xF9\x04\x00\x0A\x00\x00\x00", 8);
        internal::putFrameAt00(f, 1, 1, localColours ? 0x80 | localBits : 0);
        for (unsigned i = 0; localColours && i < (2u << localBits); ++i)
            f += std::string{char(i * 7 + colour), char(i * 11), char(i * 13)};
        f += char(2);  // code size
        internal::BitWriter out;
        out.put(4, 3);  // clear
        out.put(colour, 3);
        out.put(5, 3);  // end
        out.finish();
        internal::putBlocks(f, out.bytes);
    }
    g.reserve(g.size() + one[0].size() * frames + 1);
    for (std::size_t i = 0; i < frames; ++i) g += one[i % 4];
    g += char(0x3B);
    return g;
}

// The page case: 1.1 million frames of one pixel (about 16 MB).
inline std::string millionFrameGIF() {
    return manyFrameGIF(1'100'000);
}

// A 1 x 1 opaque green PNG (RGB, 8 bits) with `chunks` zTXt chunks before its data, each
// `inflatedBytes` of zeros deflated. One chunk is made and repeated, so a file of hundreds of
// megabytes of text takes a moment to make. garbled: the deflated data past its first bytes is
// junk that would not inflate (the chunk's checksum still holds).
inline std::string textChunkPNG(int chunks, std::size_t inflatedBytes, const char* chunkType = "zTXt",
                                bool garbled = false) {
    std::string png("\x89PNG\r\n\x1a\n", 8);
    std::string header;
    internal::put32be(header, 1);
    internal::put32be(header, 1);
    header += std::string("\x08\x02\x00\x00\x00", 5);
    internal::pngChunk(png, "IHDR", header);
    std::vector<Bytef> zeros(inflatedBytes, 0);
    uLongf packedSize = compressBound(uLong(zeros.size()));
    std::vector<Bytef> packed(packedSize);
    compress2(packed.data(), &packedSize, zeros.data(), uLong(zeros.size()), 9);
    // Keyword, its terminator and the compression method, then the deflated text.
    std::string text =
        std::string("Comment\0\0", 9) + std::string(reinterpret_cast<char*>(packed.data()), packedSize);
    if (garbled)
        for (std::size_t at = 11; at < text.size(); ++at) text[at] = 'x';
    std::string one;
    internal::pngChunk(one, chunkType, text);
    png.reserve(png.size() + one.size() * std::size_t(chunks) + 64);
    for (int i = 0; i < chunks; ++i) png += one;
    const Bytef row[4] = {0, 0, 255, 0};  // filter none, then R G B
    uLongf rowSize = compressBound(4);
    std::vector<Bytef> rowPacked(rowSize);
    compress2(rowPacked.data(), &rowSize, row, 4, 9);
    internal::pngChunk(png, "IDAT", std::string(reinterpret_cast<char*>(rowPacked.data()), rowSize));
    internal::pngChunk(png, "IEND", "");
    return png;
}

// The page case: 990 chunks that each inflate to 7.9 MB (about 7.6 MB of file).
inline std::string zTXtPNG() {
    return textChunkPNG(990, 7'900'000);
}

// A flat progressive JPEG (4:2:0) of side x side in `scans` scans: the ten of the library's
// progression, then its last (a refinement of all the luma) repeated.
inline std::string manyScanJPEG(int side, int scans) {
    const std::string base = jpegwriter::write({side, side, 3, true, true, true, 75});
    return jpegwriter::withRepeatedLastScan(base, scans > 10 ? scans - 10 : 0);
}

// The page case: 6400 x 6400 in 990 scans (about 245 KB).
inline std::string manyScan6400JPEG() {
    return manyScanJPEG(6400, 990);
}

// ---- JPEG metadata

// What fills the EXIF blocks of exifStuffedJPEG, each about 64 KB, the most a segment holds.
enum class ExifStuffing {
    // A first directory of some 5400 entries whose data all overlap, 60,000 bytes each: a reader that
    // copies every entry's data copies 320 MB a block.
    OverlappingData,
    // A first directory of some 5400 pointers to the EXIF directory, all back at itself: a reader
    // that follows each pointer goes down it thousands of times.
    PointersBack,
    // A maker's note of some 5000 entries of overlapping data, behind a phone maker's signature, in
    // a block otherwise as a phone writes it (with the orientation 6).
    MakerNote,
    // A block that is no EXIF at all (an XMP packet's signature) under the same marker.
    NotExif,
};

namespace internal {

inline void be16(std::string& s, unsigned v) {
    s += char(v >> 8);
    s += char(v);
}

// An APP1 segment holding `payload` (at most 65533 bytes).
inline std::string app1(const std::string& payload) {
    std::string segment("\xFF\xE1", 2);
    be16(segment, unsigned(payload.size() + 2));
    return segment + payload;
}

// Big-endian TIFF structure, as EXIF blocks hold it.
struct TIFFWriter {
    std::string bytes;
    void u16(unsigned v) { be16(bytes, v); }
    void u32(std::uint32_t v) {
        be16(bytes, v >> 16);
        be16(bytes, v & 0xFFFF);
    }
    void entry(unsigned tag, unsigned type, std::uint32_t count, std::uint32_t value) {
        u16(tag);
        u16(type);
        u32(count);
        u32(value);
    }
};

// An EXIF block whose first directory holds `orientation` alone.
inline std::string orientationExif(int orientation) {
    TIFFWriter t{std::string("Exif\0\0MM\0\x2A\0\0\0\x08", 14)};
    t.u16(1);
    t.entry(0x0112, 3, 1, std::uint32_t(orientation) << 16);  // a SHORT sits in the value's first half
    t.u32(0);                                                 // no next directory
    return t.bytes;
}

inline std::string stuffedExif(ExifStuffing kind) {
    constexpr std::size_t kPayload = 65533;
    if (kind == ExifStuffing::NotExif) {
        std::string xmp(kPayload, ' ');
        xmp.replace(0, 29, "http://ns.adobe.com/xap/1.0/\0", 29);
        return xmp;
    }
    TIFFWriter t{std::string("Exif\0\0MM\0\x2A\0\0\0\x08", 14)};
    // Tags of the first directory that a reader keeps.
    static const unsigned kTags[] = {0x010E, 0x010F, 0x0110, 0x0131, 0x0132, 0x013B, 0x8298};
    if (kind == ExifStuffing::MakerNote) {
        // Offsets from the TIFF header: the first directory at 8 (the maker's name at 50), the EXIF
        // directory at 58 and the note at 76, to the end of the block. As a phone writes it, the
        // first directory holds the orientation too: the sixth.
        t.u16(3);
        t.entry(0x0112, 3, 1, 6u << 16);
        t.entry(0x010F, 2, 6, 50);
        t.entry(0x8769, 4, 1, 58);
        t.u32(0);
        t.bytes += std::string("Apple\0\0\0", 8);
        t.u16(1);
        t.entry(0x927C, 7, std::uint32_t(kPayload - 6 - 76), 76);
        t.u32(0);
        t.bytes += std::string("Apple iOS\0\0\x01MM", 14);
        t.u16(5000);
        for (unsigned i = 0; i < 5000; ++i) t.entry(i + 1, 7, 60000, 8);
        t.u32(0);
    } else {
        const unsigned entries = unsigned((kPayload - 14 - 2 - 4) / 12);
        t.u16(entries);
        for (unsigned i = 0; i < entries; ++i) {
            if (kind == ExifStuffing::OverlappingData)
                t.entry(kTags[i % 7], 7, 60000, 8);
            else
                t.entry(0x8769, 4, 1, 8);
        }
        t.u32(0);
    }
    t.bytes.resize(kPayload, 'x');
    return t.bytes;
}

}  // namespace internal

// A 640 x 480 baseline photo-like JPEG (4:2:0) carrying, before its frame, an EXIF block with
// `orientation` (none when 0) and then `segments` APP1 segments of about 64 KB stuffed as `kind`
// says. The page case: 220 of them.
inline std::string exifStuffedJPEG(int segments, int orientation = 0,
                                   ExifStuffing kind = ExifStuffing::OverlappingData) {
    const std::string photo = jpegwriter::write({640, 480, 3, true, false, false, 85});
    std::string out = photo.substr(0, 2);
    if (orientation > 0) out += internal::app1(internal::orientationExif(orientation));
    const std::string stuffed = internal::app1(internal::stuffedExif(kind));
    out.reserve(out.size() + stuffed.size() * std::size_t(segments) + photo.size());
    for (int i = 0; i < segments; ++i) out += stuffed;
    return out + photo.substr(2);
}

}  // namespace hostile
