#pragma once
// Test pictures made in-process with the format libraries: PNGs of every colour type and depth,
// JPEGs (baseline, progressive, grey, CMYK, with an EXIF orientation), GIFs with frames, delays,
// transparency and disposal. Each maker also gives the pixels a decoder should answer, as
// premultiplied BGRA.

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/NSData.h"
#include "graphics/CGImage.h"

namespace corpus {

struct Pixels {
    std::size_t width = 0, height = 0;
    std::vector<std::uint8_t> bgra;  // premultiplied, width * height * 4
    std::uint8_t* at(std::size_t x, std::size_t y) { return bgra.data() + (y * width + x) * 4; }
    const std::uint8_t* at(std::size_t x, std::size_t y) const { return bgra.data() + (y * width + x) * 4; }
};

// ---- PNG
struct PNGRecipe {
    std::size_t width = 13, height = 11;
    int colorType = 2;  // 0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA
    int bitDepth = 8;
    bool interlaced = false;
    bool transparency = false;  // tRNS for types 0, 2 and 3
};
// The file, and the pixels it holds in `expected`.
NSData makePNG(const PNGRecipe& recipe, Pixels* expected);
// A PNG over RGBA rows (straight alpha), 8 bits.
NSData encodeRGBAPNG(std::size_t width, std::size_t height, const std::vector<std::uint8_t>& rgba,
                     bool interlaced = false);

// ---- JPEG
struct JPEGRecipe {
    std::size_t width = 64, height = 48;
    int quality = 95;
    bool progressive = false;
    bool grey = false;
    bool cmyk = false;        // with an APP14 segment: inverted inks
    int exifOrientation = 0;  // 0 = no EXIF segment
    bool exifLittleEndian = false;
    bool restartMarkers = false;
};
// A smooth pattern (so lossy decoding stays close); expected holds the source pattern.
NSData makeJPEG(const JPEGRecipe& recipe, Pixels* expected = nullptr);
// The smooth test pattern itself, straight RGB.
std::vector<std::uint8_t> smoothRGB(std::size_t width, std::size_t height);

// ---- GIF
struct GIFFrame {
    std::size_t left = 0, top = 0, width = 0, height = 0;
    std::vector<std::uint8_t> indices;
    int delayHundredths = -1;  // -1: no graphic control extension
    int disposal = 0;
    int transparentIndex = -1;
    std::vector<std::uint8_t> localPalette;  // RGB triples; empty: the global one
    bool interlaced = false;
};
struct GIFRecipe {
    std::size_t width = 8, height = 6;
    std::vector<std::uint8_t> globalPalette;  // RGB triples, power-of-two count
    std::vector<GIFFrame> frames;
    int loopCount = -1;  // -1: no looping extension
};
NSData makeGIF(const GIFRecipe& recipe);
// A four-colour palette: red, green, blue, white.
std::vector<std::uint8_t> basicPalette();

// ---- Helpers
// The largest per-channel difference; SIZE_MAX when the sizes differ.
int maxDifference(const Pixels& a, const CGImage& image);
Pixels pixelsOf(const CGImage& image);
std::string toString(const NSData& data);
NSData fromString(const std::string& text);

}  // namespace corpus
