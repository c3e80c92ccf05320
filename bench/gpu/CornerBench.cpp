// Harris corner detection on a 1024 x 1024 picture through the GPU pipeline (picture source,
// derivatives, blur, cornerness, local maxima, read-back and the scan for corners) beside the
// Gaussian blur of sigma 4 on the same picture read back through a raw data output, in the same
// run. Target: a detector frame within twice a blur frame.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>

#include "bench/support/RatioReporter.h"
#include "foundation/NSLog.h"
#include "gpu/core/GPXPicture.h"
#include "gpu/core/GPXRawDataOutput.h"
#include "gpu/filters/GPXBlurFilters.h"
#include "gpu/filters/GPXCornerDetectionFilters.h"

namespace {

constexpr std::size_t kSide = 1024;

// Opaque pictures in the decoded layout (BGRA, alpha first, little-endian): noise under a few
// bright rectangles, so that the detector has corners to find and a busy background to reject.
CGImageRef picture() {
    NSData bytes = NSData::dataWithLength(kSide * kSide * 4);
    std::mt19937 random(3);
    auto* p = bytes.mutableBytes();
    for (std::size_t y = 0; y < kSide; ++y)
        for (std::size_t x = 0; x < kSide; ++x) {
            const bool box = (x / 128) % 2 == 1 && (y / 128) % 2 == 1 && x % 128 > 20 && y % 128 > 20;
            const std::size_t i = (y * kSide + x) * 4;
            for (int k = 0; k < 3; ++k)
                p[i + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(box ? 230 : random() % 40);
            p[i + 3] = 255;
        }
    return CGImageCreate(kSide, kSide, 8, 32, kSide * 4, CGColorSpaceCreateDeviceRGB(),
                         kCGBitmapByteOrder32Little | kCGImageAlphaPremultipliedFirst,
                         CGDataProviderCreateWithData(bytes));
}

void processOnce(const Ref<GPXPicture>& source) {
    auto done = dispatch_semaphore_create(0);
    source->processImageWithCompletionHandler([done] { dispatch_semaphore_signal(done); });
    dispatch_semaphore_wait(done, DISPATCH_TIME_FOREVER);
}

void BM_HarrisCornersGPU(benchmark::State& state) {
    auto source = make<GPXPicture>(picture());
    auto detector = make<GPXHarrisCornerDetectionFilter>();
    unsigned long corners = 0;
    detector->setCornersDetectedBlock([&corners](GLfloat*, unsigned long count, CMTime) { corners = count; });
    source->addTarget(detector);
    processOnce(source);  // the first frame compiles the shaders
    for (auto _ : state) {
        processOnce(source);
        benchmark::DoNotOptimize(corners);
    }
    state.counters["corners"] = static_cast<double>(corners);
}

void BM_GaussianBlurGPU(benchmark::State& state) {
    auto source = make<GPXPicture>(picture());
    auto blur = make<GPXGaussianBlurFilter>();
    blur->setBlurRadiusInPixels(4.0);
    auto output = make<GPXRawDataOutput>(CGSizeMake(kSide, kSide), false);
    source->addTarget(blur);
    blur->addTarget(output);
    processOnce(source);
    for (auto _ : state) {
        processOnce(source);
        benchmark::DoNotOptimize(output->rawBytesForImage());
    }
}

}  // namespace

BENCHMARK(BM_HarrisCornersGPU)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_GaussianBlurGPU)->Unit(benchmark::kMillisecond)->MinTime(2.0);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    // The detector logs its scan time every frame; not wanted between the timings.
    NSLogSetSink([](const std::string&) {});
    benchsupport::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    for (const char* name : {"BM_HarrisCornersGPU", "BM_GaussianBlurGPU"})
        if (auto ms = reporter.time(name)) std::printf("ms_per_frame %s %.3f\n", name, *ms);
    reporter.printRatio("harris_corners_vs_gaussian_blur", "BM_HarrisCornersGPU", "BM_GaussianBlurGPU", "ms");
    std::printf("target: harris_corners_vs_gaussian_blur <= 2.0\n");
    return 0;
}
