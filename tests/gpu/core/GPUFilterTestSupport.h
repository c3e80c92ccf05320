#pragma once
// Helpers for filter tests: small generated pictures (gradients, edges, noise) as RGBA pixels in
// rows from the top, runs of pictures through a filter chain into a raw data output, and
// comparisons with a CPU reference within a stated tolerance.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "GPUTestSupport.h"
#include "gpu/core/GPXPicture.h"
#include "gpu/core/GPXRawDataOutput.h"

namespace gputest {

struct Pixels {
    std::size_t width = 0, height = 0;
    std::vector<RGBA> px;  // row 0 at the top
    RGBA& at(std::size_t x, std::size_t y) { return px[y * width + x]; }
    const RGBA& at(std::size_t x, std::size_t y) const { return px[y * width + x]; }
};

// Opaque pictures (alpha 255), so the texture holds the colours as given.
inline Pixels gradientPicture(std::size_t width, std::size_t height) {
    Pixels p{width, height, std::vector<RGBA>(width * height)};
    for (std::size_t y = 0; y < height; ++y) {
        for (std::size_t x = 0; x < width; ++x) {
            p.at(x, y) = {
                static_cast<std::uint8_t>(x * 255 / std::max<std::size_t>(width - 1, 1)),
                static_cast<std::uint8_t>(y * 255 / std::max<std::size_t>(height - 1, 1)),
                static_cast<std::uint8_t>((x + y) * 127 / std::max<std::size_t>(width + height - 2, 1) + 64),
                255};
        }
    }
    return p;
}

inline Pixels noisePicture(std::size_t width, std::size_t height, unsigned seed, bool randomAlpha = false) {
    std::mt19937 random(seed);
    Pixels p{width, height, std::vector<RGBA>(width * height)};
    for (auto& c : p.px) {
        const std::uint8_t alpha = randomAlpha ? static_cast<std::uint8_t>(random() % 256) : 255;
        // Premultiplied, as the picture's texture holds it.
        for (int k = 0; k < 3; ++k) c[k] = static_cast<std::uint8_t>((random() % 256) * alpha / 255);
        c[3] = alpha;
    }
    return p;
}

// A vertical edge: the left half one colour, the right half another.
inline Pixels edgePicture(std::size_t width, std::size_t height, RGBA left, RGBA right) {
    Pixels p{width, height, std::vector<RGBA>(width * height)};
    for (std::size_t y = 0; y < height; ++y)
        for (std::size_t x = 0; x < width; ++x) p.at(x, y) = x < width / 2 ? left : right;
    return p;
}

inline Pixels solidPicture(std::size_t width, std::size_t height, RGBA colour) {
    return Pixels{width, height, std::vector<RGBA>(width * height, colour)};
}

inline Ref<GPXPicture> pictureOf(const Pixels& pixels) {
    return make<GPXPicture>(makePremultipliedImage(pixels.width, pixels.height, pixels.px));
}

// Processes each picture in order (each feeds the targets it was given) and reads `output`'s bytes
// once the last one has been processed. The output must already be a target of the chain's end.
inline Pixels readAfterProcessing(const std::vector<Ref<GPXPicture>>& pictures,
                                  const Ref<GPXRawDataOutput>& output) {
    for (auto& picture : pictures) {
        auto done = dispatch_semaphore_create(0);
        EXPECT_TRUE(picture->processImageWithCompletionHandler([done] { dispatch_semaphore_signal(done); }));
        EXPECT_TRUE(waitFor(done));
    }
    const CGSize size = output->imageSize();
    Pixels result{static_cast<std::size_t>(size.width), static_cast<std::size_t>(size.height), {}};
    const GLubyte* bytes = output->rawBytesForImage();
    result.px.resize(result.width * result.height);
    for (std::size_t i = 0; i < result.px.size(); ++i)
        result.px[i] = {bytes[i * 4], bytes[i * 4 + 1], bytes[i * 4 + 2], bytes[i * 4 + 3]};
    return result;
}

// Pictures into the filter at slots 0, 1, ... in order, the filter into a raw data output of
// `outputSize` (the first picture's size when zero); the filter's result, row 0 at the top.
inline Pixels runFilter(const Ref<GPXOutput>& filter, const std::vector<Pixels>& inputs,
                        CGSize outputSize = CGSizeZero) {
    auto asInput = std::dynamic_pointer_cast<GPXInput>(filter);
    EXPECT_TRUE(asInput != nullptr);
    std::vector<Ref<GPXPicture>> pictures;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        pictures.push_back(pictureOf(inputs[i]));
        pictures.back()->addTargetAtTextureLocation(asInput, static_cast<long>(i));
    }
    if (outputSize.width == 0) outputSize = CGSizeMake(inputs[0].width, inputs[0].height);
    auto output = make<GPXRawDataOutput>(outputSize, false);
    filter->addTarget(output);
    Pixels result = readAfterProcessing(pictures, output);
    filter->removeTarget(output);
    for (auto& picture : pictures) picture->removeAllTargets();
    return result;
}

// A colour in 0-1 from the texture's bytes, and back (rounded, clamped).
using Colour = std::array<double, 4>;
inline Colour toColour(const RGBA& c) {
    return {c[0] / 255.0, c[1] / 255.0, c[2] / 255.0, c[3] / 255.0};
}
inline RGBA toBytes(const Colour& c) {
    RGBA out{};
    for (int k = 0; k < 4; ++k) {
        const double v = std::isnan(c[k]) ? 0.0 : std::clamp(c[k], 0.0, 1.0);
        out[k] = static_cast<std::uint8_t>(std::lround(v * 255.0));
    }
    return out;
}

// Every pixel of `actual` within `tolerance` (in 0-255 steps) of `expected`; names the first few
// that are not.
inline ::testing::AssertionResult matches(const Pixels& actual, const Pixels& expected, int tolerance) {
    if (actual.width != expected.width || actual.height != expected.height)
        return ::testing::AssertionFailure() << "size " << actual.width << "x" << actual.height
                                             << " expected " << expected.width << "x" << expected.height;
    int failures = 0;
    auto result = ::testing::AssertionFailure();
    for (std::size_t y = 0; y < actual.height; ++y) {
        for (std::size_t x = 0; x < actual.width; ++x) {
            auto check = near(actual.at(x, y), expected.at(x, y), tolerance);
            if (!check) {
                if (failures < 4) result << "(" << x << ", " << y << "): " << check.message() << "; ";
                ++failures;
            }
        }
    }
    if (failures == 0) return ::testing::AssertionSuccess();
    return result << failures << " pixels differ";
}

// The per-pixel reference applied to every pixel of the inputs (all of one size).
inline Pixels
mapPixels(const std::vector<Pixels>& inputs,
          const std::function<Colour(const std::vector<Colour>&, double x, double y)>& formula) {
    Pixels out{inputs[0].width, inputs[0].height, std::vector<RGBA>(inputs[0].px.size())};
    for (std::size_t y = 0; y < out.height; ++y) {
        for (std::size_t x = 0; x < out.width; ++x) {
            std::vector<Colour> cs;
            for (auto& in : inputs) cs.push_back(toColour(in.at(x, y)));
            // The texture coordinate of the pixel's centre.
            out.at(x, y) = toBytes(formula(cs, (x + 0.5) / out.width, (y + 0.5) / out.height));
        }
    }
    return out;
}

}  // namespace gputest
