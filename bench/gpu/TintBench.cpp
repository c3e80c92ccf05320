// The studio's tint of a 1024 x 1024 part picture: through the GPU pipeline (picture source,
// monochrome filter, read-back into an image) against the same formula in a plain C++ loop.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>

#include "bench/support/RatioReporter.h"
#include "gpu/core/GPXContext.h"
#include "gpu/core/GPXFramebufferCache.h"
#include "gpu/core/GPXMonochromeFilter.h"

namespace {

constexpr std::size_t kSide = 1024;
constexpr float kColour[3] = {0.85f, 0.2f, 0.35f};
constexpr float kIntensity = 1.0f;

// A picture in the decoded layout (premultiplied BGRA), with some shading and some transparency.
const Ref<UIImage>& partPicture() {
    static Ref<UIImage> image = [] {
        NSData bytes = NSData::dataWithLength(kSide * kSide * 4);
        auto* p = bytes.mutableBytes();
        std::mt19937 random(3);
        for (std::size_t y = 0; y < kSide; ++y) {
            for (std::size_t x = 0; x < kSide; ++x) {
                auto* px = p + (y * kSide + x) * 4;
                const int alpha = (x / 64 + y / 64) % 5 == 0 ? 128 : 255;
                const int shade = static_cast<int>((x + y) * 255 / (2 * kSide));
                px[0] = static_cast<std::uint8_t>(shade * alpha / 255);
                px[1] = static_cast<std::uint8_t>((random() % 256) * alpha / 255);
                px[2] = static_cast<std::uint8_t>((255 - shade) * alpha / 255);
                px[3] = static_cast<std::uint8_t>(alpha);
            }
        }
        auto cg = CGImageCreate(kSide, kSide, 8, 32, kSide * 4, CGColorSpaceCreateDeviceRGB(),
                                kCGBitmapByteOrder32Little | kCGImageAlphaPremultipliedFirst,
                                CGDataProviderCreateWithData(std::move(bytes)));
        return UIImage::imageWithCGImage(cg);
    }();
    return image;
}

void BM_TintGPU(benchmark::State& state) {
    auto filter = make<GPXMonochromeFilter>();
    filter->setColorRed(kColour[0], kColour[1], kColour[2]);
    filter->setIntensity(kIntensity);
    const auto& picture = partPicture();
    filter->imageByFilteringImage(picture);  // the first frame compiles the shaders
    for (auto _ : state) {
        auto tinted = filter->imageByFilteringImage(picture);
        if (!tinted) state.SkipWithError("the tint timed out");
        benchmark::DoNotOptimize(tinted);
        // As the studio does after each tint.
        GPXContext::sharedFramebufferCache()->purgeAllUnassignedFramebuffers();
    }
}

// The same formula, pixel by pixel, from the decoded bytes to RGBA bytes in a new image.
void BM_TintCPU(benchmark::State& state) {
    const auto& picture = partPicture();
    for (auto _ : state) {
        const auto& source = picture->CGImage()->data();
        NSData out = NSData::dataWithLength(kSide * kSide * 4);
        const std::uint8_t* in = source.bytes();
        std::uint8_t* o = out.mutableBytes();
        for (std::size_t i = 0; i < kSide * kSide; ++i) {
            const float c[3] = {in[i * 4 + 2] / 255.0f, in[i * 4 + 1] / 255.0f, in[i * 4] / 255.0f};
            const float l = c[0] * 0.2125f + c[1] * 0.7154f + c[2] * 0.0721f;
            for (int k = 0; k < 3; ++k) {
                const float overlay =
                    l < 0.5f ? 2.0f * l * kColour[k] : 1.0f - 2.0f * (1.0f - l) * (1.0f - kColour[k]);
                const float mixed = c[k] * (1.0f - kIntensity) + overlay * kIntensity;
                o[i * 4 + k] = static_cast<std::uint8_t>(mixed * 255.0f + 0.5f);
            }
            o[i * 4 + 3] = in[i * 4 + 3];
        }
        auto image = CGImageCreate(kSide, kSide, 8, 32, kSide * 4, CGColorSpaceCreateDeviceRGB(),
                                   kCGBitmapByteOrderDefault | kCGImageAlphaLast,
                                   CGDataProviderCreateWithData(std::move(out)));
        benchmark::DoNotOptimize(UIImage::imageWithCGImage(image));
    }
}

// Wall time for the ratio; the CPU time is the whole process's, so that the software renderer's
// own worker threads are counted.
BENCHMARK(BM_TintGPU)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
BENCHMARK(BM_TintCPU)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::printf("picture: %zu x %zu, premultiplied BGRA\n", kSide, kSide);
    benchsupport::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    reporter.printRatio("gpu_tint_vs_cpu", "BM_TintGPU", "BM_TintCPU", "ms");
    reporter.printCPU("gpu_tint_vs_cpu", "BM_TintGPU", "BM_TintCPU", "ms");
    return 0;
}
