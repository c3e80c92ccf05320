// Two filters on a 1024 x 1024 picture through the GPU pipeline (picture source, filter, raw data
// output read back into memory) against the same formulas as plain single-threaded C++ loops:
// the Gaussian blur of sigma 4 (a 21-tap separable kernel) and the multiply blend of two pictures.
// Target: the GPU blur no slower than the plain loop.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include "bench/support/RatioReporter.h"
#include "gpu/core/GPXFramebufferCache.h"
#include "gpu/core/GPXPicture.h"
#include "gpu/core/GPXRawDataOutput.h"
#include "gpu/filters/GPXBlendFilters.h"
#include "gpu/filters/GPXBlurFilters.h"

namespace {

constexpr std::size_t kSide = 1024;
constexpr double kMegapixels = kSide * kSide / 1e6;
constexpr double kSigma = 4.0;

// Opaque noisy pictures in the decoded layout (BGRA, alpha first, little-endian).
NSData pictureBytes(unsigned seed) {
    NSData bytes = NSData::dataWithLength(kSide * kSide * 4);
    std::mt19937 random(seed);
    auto* p = bytes.mutableBytes();
    for (std::size_t i = 0; i < kSide * kSide; ++i) {
        for (int k = 0; k < 3; ++k) p[i * 4 + k] = static_cast<std::uint8_t>(random() % 256);
        p[i * 4 + 3] = 255;
    }
    return bytes;
}

CGImageRef picture(unsigned seed) {
    return CGImageCreate(kSide, kSide, 8, 32, kSide * 4, CGColorSpaceCreateDeviceRGB(),
                         kCGBitmapByteOrder32Little | kCGImageAlphaPremultipliedFirst,
                         CGDataProviderCreateWithData(pictureBytes(seed)));
}

// One frame through the chain: process the pictures, then read the output's bytes.
const GLubyte* runFrame(const std::vector<Ref<GPXPicture>>& pictures, const Ref<GPXRawDataOutput>& output) {
    for (auto& source : pictures) {
        auto done = dispatch_semaphore_create(0);
        source->processImageWithCompletionHandler([done] { dispatch_semaphore_signal(done); });
        dispatch_semaphore_wait(done, DISPATCH_TIME_FOREVER);
    }
    return output->rawBytesForImage();
}

void BM_GaussianBlurGPU(benchmark::State& state) {
    auto source = make<GPXPicture>(picture(1));
    auto blur = make<GPXGaussianBlurFilter>();
    blur->setBlurRadiusInPixels(kSigma);
    auto output = make<GPXRawDataOutput>(CGSizeMake(kSide, kSide), false);
    source->addTarget(blur);
    blur->addTarget(output);
    runFrame({source}, output);  // the first frame compiles the shaders
    for (auto _ : state) benchmark::DoNotOptimize(runFrame({source}, output));
}

void BM_GaussianBlurCPU(benchmark::State& state) {
    const NSData input = pictureBytes(1);
    const unsigned radius = GPXGaussianBlurFilter::sampleRadiusForSigma(kSigma);
    const auto weights = GPXGaussianBlurFilter::gaussianWeights(radius, kSigma);
    std::vector<std::uint8_t> middle(kSide * kSide * 4), out(kSide * kSide * 4);
    for (auto _ : state) {
        const std::uint8_t* in = input.bytes();
        // Vertical, then horizontal, with clamped edges, as the two passes do.
        for (std::size_t y = 0; y < kSide; ++y) {
            for (std::size_t x = 0; x < kSide; ++x) {
                float sum[4] = {0, 0, 0, 0};
                for (long k = -static_cast<long>(radius); k <= static_cast<long>(radius); ++k) {
                    const std::size_t sy = static_cast<std::size_t>(std::clamp<long>(y + k, 0, kSide - 1));
                    const float w = weights[static_cast<std::size_t>(std::abs(k))];
                    for (int c = 0; c < 4; ++c) sum[c] += in[(sy * kSide + x) * 4 + c] * w;
                }
                for (int c = 0; c < 4; ++c)
                    middle[(y * kSide + x) * 4 + c] = static_cast<std::uint8_t>(sum[c] + 0.5f);
            }
        }
        for (std::size_t y = 0; y < kSide; ++y) {
            for (std::size_t x = 0; x < kSide; ++x) {
                float sum[4] = {0, 0, 0, 0};
                for (long k = -static_cast<long>(radius); k <= static_cast<long>(radius); ++k) {
                    const std::size_t sx = static_cast<std::size_t>(std::clamp<long>(x + k, 0, kSide - 1));
                    const float w = weights[static_cast<std::size_t>(std::abs(k))];
                    for (int c = 0; c < 4; ++c) sum[c] += middle[(y * kSide + sx) * 4 + c] * w;
                }
                for (int c = 0; c < 4; ++c)
                    out[(y * kSide + x) * 4 + c] = static_cast<std::uint8_t>(sum[c] + 0.5f);
            }
        }
        benchmark::DoNotOptimize(out.data());
    }
}

void BM_MultiplyBlendGPU(benchmark::State& state) {
    auto base = make<GPXPicture>(picture(1));
    auto overlay = make<GPXPicture>(picture(2));
    auto multiply = make<GPXMultiplyBlendFilter>();
    auto output = make<GPXRawDataOutput>(CGSizeMake(kSide, kSide), false);
    base->addTarget(multiply);
    overlay->addTarget(multiply);
    multiply->addTarget(output);
    runFrame({base, overlay}, output);
    for (auto _ : state) benchmark::DoNotOptimize(runFrame({base, overlay}, output));
}

void BM_MultiplyBlendCPU(benchmark::State& state) {
    const NSData first = pictureBytes(1), second = pictureBytes(2);
    std::vector<std::uint8_t> out(kSide * kSide * 4);
    for (auto _ : state) {
        const std::uint8_t* b = first.bytes();
        const std::uint8_t* o = second.bytes();
        for (std::size_t i = 0; i < kSide * kSide; ++i) {
            const float ba = b[i * 4 + 3] / 255.0f, oa = o[i * 4 + 3] / 255.0f;
            for (int c = 0; c < 4; ++c) {
                const float bc = b[i * 4 + c] / 255.0f, oc = o[i * 4 + c] / 255.0f;
                const float v = oc * bc + oc * (1.0f - ba) + bc * (1.0f - oa);
                out[i * 4 + c] = static_cast<std::uint8_t>(std::min(v, 1.0f) * 255.0f + 0.5f);
            }
        }
        benchmark::DoNotOptimize(out.data());
    }
}

BENCHMARK(BM_GaussianBlurGPU)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GaussianBlurCPU)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MultiplyBlendGPU)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MultiplyBlendCPU)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::printf("picture: %zu x %zu (%.3f megapixels), Gaussian sigma %.0f\n", kSide, kSide, kMegapixels,
                kSigma);
    benchsupport::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    for (const char* name :
         {"BM_GaussianBlurGPU", "BM_GaussianBlurCPU", "BM_MultiplyBlendGPU", "BM_MultiplyBlendCPU"}) {
        if (auto ms = reporter.time(name)) std::printf("ms_per_megapixel %s %.3f\n", name, *ms / kMegapixels);
    }
    reporter.printRatio("gpu_gaussian_blur_vs_cpu", "BM_GaussianBlurGPU", "BM_GaussianBlurCPU", "ms");
    reporter.printRatio("gpu_multiply_blend_vs_cpu", "BM_MultiplyBlendGPU", "BM_MultiplyBlendCPU", "ms");
    std::printf("target: gpu_gaussian_blur_vs_cpu <= 1.0\n");
    return 0;
}
