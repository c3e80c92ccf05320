#pragma once
// Picture: a plain RGBA bitmap (straight alpha, rows of width * 4 bytes, top row first) that the
// catalogue draws, trims, turns and packs. The catalogue's drawings use no anti-aliasing, so every
// alpha is 0 or 255 and straight and premultiplied forms agree byte for byte; that is what lets a
// client test compare a decoded slice with the original exactly.
//
// Conversions to and from the platform's images go through CGImage, and PNG bytes are written by
// the platform's image destination, so the server never carries its own encoder.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "foundation/NSData.h"
#include "graphics/CGImage.h"

namespace devserver::catalogue {

// A rectangle in whole pixels, top-left origin.
struct PixelRect {
    int x = 0, y = 0, w = 0, h = 0;
    bool empty() const { return w <= 0 || h <= 0; }
    bool operator==(const PixelRect&) const = default;
};

struct Picture {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgba;

    Picture() = default;
    // A transparent picture; a negative side counts as 0.
    Picture(int w, int h);

    bool empty() const { return width <= 0 || height <= 0; }
    std::uint8_t* pixel(int x, int y) { return rgba.data() + (static_cast<std::size_t>(y) * width + x) * 4; }
    const std::uint8_t* pixel(int x, int y) const {
        return rgba.data() + (static_cast<std::size_t>(y) * width + x) * 4;
    }
    bool operator==(const Picture&) const = default;
};

// The smallest rectangle holding every pixel whose alpha is not 0; empty when there is none.
PixelRect opaqueBounds(const Picture& picture);
// The part of the picture inside `rect`, clipped to the picture.
Picture crop(const Picture& picture, PixelRect rect);
// Copies `source` into `target` with its top-left corner at (x, y); what falls outside is dropped.
void blit(Picture& target, const Picture& source, int x, int y);
// Draws `over` on top of `under` (source-over); used for composites such as logos and previews.
void composite(Picture& under, const Picture& over);

// The picture turned a quarter turn clockwise: upright pixel (i, j) goes to (h - 1 - j, i).
Picture rotateClockwise(const Picture& picture);
// The inverse: a quarter turn counter-clockwise.
Picture rotateCounterClockwise(const Picture& picture);

// An image with the picture's pixels (premultiplied RGBA in memory); nullptr for an empty picture.
CGImageRef makeCGImage(const Picture& picture);
// Any image's pixels as a straight-alpha picture.
Picture pictureFromCGImage(const CGImageRef& image);
// PNG bytes (RGBA, 8 bits per component); nullopt when the picture is empty or encoding fails.
std::optional<NSData> encodePNG(const Picture& picture);
// Decodes PNG (or JPEG/GIF) bytes; nullopt when they are not a picture.
std::optional<Picture> decodePicture(const NSData& bytes);

}  // namespace devserver::catalogue
