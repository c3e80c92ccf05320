#include "Picture.h"

#include <algorithm>
#include <cstring>

#include "graphics/CGImageDestination.h"
#include "graphics/CGImageSource.h"

namespace devserver::catalogue {

Picture::Picture(int w, int h) : width(std::max(w, 0)), height(std::max(h, 0)) {
    rgba.assign(static_cast<std::size_t>(width) * height * 4, 0);
}

PixelRect opaqueBounds(const Picture& picture) {
    int minX = picture.width, minY = picture.height, maxX = -1, maxY = -1;
    for (int y = 0; y < picture.height; ++y) {
        const std::uint8_t* row = picture.pixel(0, y);
        // Most rows of a drawing are empty: look at two pixels' alphas at a time to skip them.
        int x = 0;
        for (; x + 2 <= picture.width; x += 2) {
            std::uint64_t two;
            std::memcpy(&two, row + x * 4, 8);
            if (two & 0xFF000000FF000000ull) break;
        }
        if (x + 2 > picture.width && (x >= picture.width || row[x * 4 + 3] == 0)) continue;
        int first = row[x * 4 + 3] != 0 ? x : x + 1;
        int last = picture.width - 1;
        while (row[last * 4 + 3] == 0) --last;
        minX = std::min(minX, first);
        maxX = std::max(maxX, last);
        minY = std::min(minY, y);
        maxY = y;
    }
    if (maxX < 0) return {};
    return {minX, minY, maxX - minX + 1, maxY - minY + 1};
}

Picture crop(const Picture& picture, PixelRect rect) {
    int x0 = std::max(rect.x, 0), y0 = std::max(rect.y, 0);
    int x1 = std::min(rect.x + rect.w, picture.width), y1 = std::min(rect.y + rect.h, picture.height);
    if (x1 <= x0 || y1 <= y0) return {};
    Picture out(x1 - x0, y1 - y0);
    for (int y = y0; y < y1; ++y)
        std::memcpy(out.pixel(0, y - y0), picture.pixel(x0, y), static_cast<std::size_t>(x1 - x0) * 4);
    return out;
}

void blit(Picture& target, const Picture& source, int x, int y) {
    int sx0 = std::max(0, -x), sy0 = std::max(0, -y);
    int sx1 = std::min(source.width, target.width - x), sy1 = std::min(source.height, target.height - y);
    if (sx1 <= sx0) return;
    for (int sy = sy0; sy < sy1; ++sy)
        std::memcpy(target.pixel(x + sx0, y + sy), source.pixel(sx0, sy),
                    static_cast<std::size_t>(sx1 - sx0) * 4);
}

void composite(Picture& under, const Picture& over) {
    int w = std::min(under.width, over.width), h = std::min(under.height, over.height);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const std::uint8_t* s = over.pixel(x, y);
            std::uint8_t* d = under.pixel(x, y);
            unsigned sa = s[3];
            if (sa == 0) continue;
            if (sa == 255) {
                std::memcpy(d, s, 4);
                continue;
            }
            unsigned da = d[3];
            unsigned outA = sa + da * (255 - sa) / 255;
            for (int c = 0; c < 3; ++c) {
                unsigned v = (s[c] * sa + d[c] * da * (255 - sa) / 255) / std::max(outA, 1u);
                d[c] = static_cast<std::uint8_t>(std::min(v, 255u));
            }
            d[3] = static_cast<std::uint8_t>(outA);
        }
    }
}

Picture rotateClockwise(const Picture& picture) {
    const int w = picture.width, h = picture.height;
    Picture out(h, w);
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) std::memcpy(out.pixel(h - 1 - j, i), picture.pixel(i, j), 4);
    return out;
}

Picture rotateCounterClockwise(const Picture& picture) {
    // The stored block is w' = h wide; sheet pixel (u, v) holds upright pixel (v, w' - 1 - u).
    const int w = picture.width, h = picture.height;
    Picture out(h, w);
    for (int v = 0; v < h; ++v)
        for (int u = 0; u < w; ++u) std::memcpy(out.pixel(v, w - 1 - u), picture.pixel(u, v), 4);
    return out;
}

CGImageRef makeCGImage(const Picture& picture) {
    if (picture.empty()) return nullptr;
    // Straight to the drawing code's own layout (premultiplied BGRA), which the encoder and the
    // contexts read without another conversion.
    std::vector<std::uint8_t> bytes(picture.rgba.size());
    const std::uint8_t* s = picture.rgba.data();
    std::uint8_t* d = bytes.data();
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
        unsigned a = s[i + 3];
        if (a == 0) continue;
        if (a == 255) {
            d[i] = s[i + 2];
            d[i + 1] = s[i + 1];
            d[i + 2] = s[i];
        } else {
            d[i] = static_cast<std::uint8_t>((s[i + 2] * a + 127) / 255);
            d[i + 1] = static_cast<std::uint8_t>((s[i + 1] * a + 127) / 255);
            d[i + 2] = static_cast<std::uint8_t>((s[i] * a + 127) / 255);
        }
        d[i + 3] = static_cast<std::uint8_t>(a);
    }
    return detail::makeBGRAImage(static_cast<std::size_t>(picture.width),
                                 static_cast<std::size_t>(picture.height), NSData(std::move(bytes)), true);
}

Picture pictureFromCGImage(const CGImageRef& image) {
    if (!image) return {};
    NSData bgra = detail::pixelsAsPremultipliedBGRA(*image);
    const int w = static_cast<int>(image->width()), h = static_cast<int>(image->height());
    if (bgra.length() < static_cast<std::size_t>(w) * h * 4) return {};
    Picture out(w, h);
    const std::uint8_t* s = bgra.bytes();
    std::uint8_t* d = out.rgba.data();
    for (std::size_t i = 0; i < static_cast<std::size_t>(w) * h; ++i, s += 4, d += 4) {
        unsigned a = s[3];
        if (a == 255 || a == 0) {
            d[0] = a ? s[2] : 0;
            d[1] = a ? s[1] : 0;
            d[2] = a ? s[0] : 0;
        } else {
            d[0] = static_cast<std::uint8_t>(std::min(255u, (s[2] * 255u + a / 2) / a));
            d[1] = static_cast<std::uint8_t>(std::min(255u, (s[1] * 255u + a / 2) / a));
            d[2] = static_cast<std::uint8_t>(std::min(255u, (s[0] * 255u + a / 2) / a));
        }
        d[3] = static_cast<std::uint8_t>(a);
    }
    return out;
}

std::optional<NSData> encodePNG(const Picture& picture) {
    CGImageRef image = makeCGImage(picture);
    if (!image) return std::nullopt;
    NSData out;
    auto destination = CGImageDestinationCreateWithData(&out, kUTTypePNG, 1);
    if (!destination) return std::nullopt;
    CGImageDestinationAddImage(destination, image);
    if (!CGImageDestinationFinalize(destination)) return std::nullopt;
    return out;
}

std::optional<Picture> decodePicture(const NSData& bytes) {
    auto source = CGImageSourceCreateWithData(bytes);
    if (!source || CGImageSourceGetCount(source) == 0) return std::nullopt;
    CGImageRef image = CGImageSourceCreateImageAtIndex(source, 0);
    if (!image) return std::nullopt;
    Picture picture = pictureFromCGImage(image);
    if (picture.empty()) return std::nullopt;
    return picture;
}

}  // namespace devserver::catalogue
