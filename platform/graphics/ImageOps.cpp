// Pixel operations on decoded-layout images: turning by EXIF orientation and downscaling.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "graphics/ImageCodec.h"

namespace detail {

CGImageRef decodedLayoutImage(const CGImageRef& image) {
    if (!image) return nullptr;
    CGImageAlphaInfo alpha = image->alphaInfo();
    bool opaque = alpha == kCGImageAlphaNone || alpha == kCGImageAlphaNoneSkipFirst ||
                  alpha == kCGImageAlphaNoneSkipLast;
    NSData pixels = pixelsAsPremultipliedBGRA(*image);
    if (pixels.empty()) return nullptr;
    if (pixels.bytes() == image->data().bytes()) return image;
    return makeBGRAImage(image->width(), image->height(), std::move(pixels), !opaque);
}

CGImageRef orientImage(const CGImageRef& image, int orientation) {
    if (!image) return nullptr;
    if (orientation < 2 || orientation > 8) return image;
    CGImageRef source = decodedLayoutImage(image);
    if (!source) return nullptr;
    const std::size_t w = source->width(), h = source->height();
    const bool swap = orientation >= 5;
    const std::size_t ow = swap ? h : w, oh = swap ? w : h;
    std::vector<std::uint8_t> out(ow * oh * 4);
    const auto* src = reinterpret_cast<const std::uint32_t*>(source->data().bytes());
    auto* dst = reinterpret_cast<std::uint32_t*>(out.data());
    // For each displayed pixel (dx, dy), the stored pixel it shows.
    for (std::size_t dy = 0; dy < oh; ++dy) {
        for (std::size_t dx = 0; dx < ow; ++dx) {
            std::size_t sx = 0, sy = 0;
            switch (orientation) {
                case 2:
                    sx = w - 1 - dx;
                    sy = dy;
                    break;
                case 3:
                    sx = w - 1 - dx;
                    sy = h - 1 - dy;
                    break;
                case 4:
                    sx = dx;
                    sy = h - 1 - dy;
                    break;
                case 5:
                    sx = dy;
                    sy = dx;
                    break;
                case 6:
                    sx = dy;
                    sy = h - 1 - dx;
                    break;
                case 7:
                    sx = w - 1 - dy;
                    sy = h - 1 - dx;
                    break;
                case 8:
                    sx = w - 1 - dy;
                    sy = dx;
                    break;
            }
            dst[dy * ow + dx] = src[sy * w + sx];
        }
    }
    bool hasAlpha = source->alphaInfo() == kCGImageAlphaPremultipliedFirst;
    return makeBGRAImage(ow, oh, NSData(std::move(out)), hasAlpha);
}

namespace {
// Area-average weights: for each output index, the input span it covers and the share of each.
struct Span {
    std::size_t first = 0;
    std::vector<float> weights;
};
std::vector<Span> areaSpans(std::size_t in, std::size_t out) {
    std::vector<Span> spans(out);
    const double ratio = static_cast<double>(in) / static_cast<double>(out);
    for (std::size_t o = 0; o < out; ++o) {
        double start = o * ratio, end = (o + 1) * ratio;
        auto first = static_cast<std::size_t>(std::floor(start));
        auto last = std::min(in, static_cast<std::size_t>(std::ceil(end)));
        spans[o].first = first;
        for (std::size_t i = first; i < last; ++i) {
            double cover = std::min<double>(end, i + 1) - std::max<double>(start, i);
            spans[o].weights.push_back(static_cast<float>(cover / ratio));
        }
    }
    return spans;
}
}  // namespace

CGImageRef downscaleImage(const CGImageRef& image, std::size_t maxPixelSize) {
    if (!image || maxPixelSize == 0) return image;
    const std::size_t w = image->width(), h = image->height();
    if (std::max(w, h) <= maxPixelSize) return image;
    CGImageRef source = decodedLayoutImage(image);
    if (!source) return nullptr;
    const double scale = static_cast<double>(maxPixelSize) / static_cast<double>(std::max(w, h));
    const std::size_t ow =
        std::clamp<std::size_t>(static_cast<std::size_t>(std::lround(w * scale)), 1, maxPixelSize);
    const std::size_t oh =
        std::clamp<std::size_t>(static_cast<std::size_t>(std::lround(h * scale)), 1, maxPixelSize);
    const auto xs = areaSpans(w, ow), ys = areaSpans(h, oh);
    const std::uint8_t* src = source->data().bytes();
    // Horizontal pass into floats, one input row at a time; vertical pass accumulates rows.
    std::vector<float> rowH(ow * 4), acc(ow * 4);
    std::vector<std::uint8_t> out(ow * oh * 4);
    for (std::size_t oy = 0; oy < oh; ++oy) {
        std::fill(acc.begin(), acc.end(), 0.0f);
        const Span& sy = ys[oy];
        for (std::size_t k = 0; k < sy.weights.size(); ++k) {
            const std::uint8_t* row = src + (sy.first + k) * w * 4;
            for (std::size_t ox = 0; ox < ow; ++ox) {
                const Span& sx = xs[ox];
                float c0 = 0, c1 = 0, c2 = 0, c3 = 0;
                const std::uint8_t* p = row + sx.first * 4;
                for (float wgt : sx.weights) {
                    c0 += p[0] * wgt;
                    c1 += p[1] * wgt;
                    c2 += p[2] * wgt;
                    c3 += p[3] * wgt;
                    p += 4;
                }
                float vw = sy.weights[k];
                acc[ox * 4] += c0 * vw;
                acc[ox * 4 + 1] += c1 * vw;
                acc[ox * 4 + 2] += c2 * vw;
                acc[ox * 4 + 3] += c3 * vw;
            }
        }
        std::uint8_t* d = out.data() + oy * ow * 4;
        for (std::size_t i = 0; i < ow * 4; ++i) {
            d[i] = static_cast<std::uint8_t>(std::clamp(std::lround(acc[i]), 0L, 255L));
        }
    }
    (void)rowH;
    bool hasAlpha = source->alphaInfo() == kCGImageAlphaPremultipliedFirst;
    return makeBGRAImage(ow, oh, NSData(std::move(out)), hasAlpha);
}

}  // namespace detail
