// Loading 500 distinct 256x256 pictures into image views from a loopback picture host through
// the remote-image stack: cold (network, decode, disk write), warm (disk) and hot (memory);
// beside them, the plain decoding of the same files' bytes. Ends with the ratio of a warm load
// to a plain decode: lower is better, the target is at most 1.5.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/support/BenchSupport.h"
#include "foundation/NSRunLoop.h"
#include "graphics/UIImage.h"
#include "images/UIImageView+WebCache.h"
#include "images/WIImageCache.h"
#include "images/WIWebImageManager.h"
#include "tests/support/ImageHost.h"
#include "tests/support/TestSupport.h"

namespace {

constexpr int kPictures = 500;

struct Fixture {
    testsupport::TemporaryDirectory folder;
    testsupport::ImageHost host;
    std::vector<Ref<NSURL>> urls;
    std::vector<NSData> files;

    Fixture() {
        for (int i = 0; i < kPictures; ++i) {
            // Half photographs (JPEG), half drawings (PNG), as a list of pictures has.
            std::string bytes = i % 2 ? testsupport::ImageHost::jpegPicture(256, 256, i + 1, 0.85)
                                      : testsupport::ImageHost::pngPicture(256, 256, i + 1);
            std::string path = "/pictures/" + std::to_string(i) + (i % 2 ? ".jpg" : ".png");
            host.setPicture(path, bytes);
            urls.push_back(NSURL::URLWithString(host.url(path)));
            files.push_back(NSData::fromString(bytes));
        }
        WIImageCache::sharedImageCache()->setDiskCachePath(folder.file("cache"));
    }
};

Fixture& fixture() {
    static Fixture* f = new Fixture();
    return *f;
}

// Loads every picture into its own image view and waits until all show; seconds taken.
double loadAll() {
    auto& f = fixture();
    std::vector<Ref<UIImageView>> views;
    views.reserve(kPictures);
    int done = 0;
    auto start = std::chrono::steady_clock::now();
    for (const auto& url : f.urls) {
        auto view = make<UIImageView>();
        views.push_back(view);
        UIImageView_WebCache::wi_setImageWithURL(
            view, url, nullptr,
            [&done](const Ref<UIImage>&, const Ref<NSError>&, WICacheSource, const Ref<NSURL>&) { ++done; });
    }
    auto loop = NSRunLoop::mainRunLoop();
    while (done < kPictures) loop->runMode(NSDefaultRunLoopMode, NSDate::dateWithTimeIntervalSinceNow(1));
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const auto& view : views) {
        if (!view->image()) std::fprintf(stderr, "a view got no picture\n");
    }
    return seconds;
}

void emptyCaches() {
    auto cache = WIImageCache::sharedImageCache();
    cache->clearMemory();
    bool cleared = false;
    cache->clearDiskOnCompletion([&] { cleared = true; });
    while (!cleared)
        NSRunLoop::mainRunLoop()->runMode(NSDefaultRunLoopMode, NSDate::dateWithTimeIntervalSinceNow(1));
}

double cold() {
    emptyCaches();
    return loadAll();
}

// Waits until the cache's I/O queue has done what is queued on it (the previous phase's disk
// writes), so that a warm load is timed on its own.
void settleDiskWrites() {
    bool settled = false;
    WIImageCache::sharedImageCache()->diskImageExistsWithKey(std::string("settle"),
                                                             [&](bool) { settled = true; });
    while (!settled)
        NSRunLoop::mainRunLoop()->runMode(NSDefaultRunLoopMode, NSDate::dateWithTimeIntervalSinceNow(1));
}

double warm() {
    settleDiskWrites();
    WIImageCache::sharedImageCache()->clearMemory();
    return loadAll();
}

double hot() {
    return loadAll();
}

// Plain decoding of every file. A warm load leaves 500 decoded pictures in the views and the
// memory cache, so the fair yardstick keeps its pictures too (fresh memory for each); dropping each
// picture at once reuses the same memory and is timed as well, for reference.
double decodeAll(bool keep = true) {
    auto& f = fixture();
    std::vector<Ref<UIImage>> kept;
    kept.reserve(f.files.size());
    auto start = std::chrono::steady_clock::now();
    int decoded = 0;
    for (const auto& file : f.files) {
        auto image = UIImage::imageWithData(file);
        if (!image) continue;
        ++decoded;
        if (keep) kept.push_back(std::move(image));
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (decoded != kPictures) std::fprintf(stderr, "decoding failed\n");
    return seconds;
}

// The disk level's own read path (file, decode, orientation, scale, forced decompression) for
// every picture, on this thread without queues: what a warm load costs before the hand-overs.
double diskReadsAll() {
    auto& f = fixture();
    auto cache = WIImageCache::sharedImageCache();
    auto start = std::chrono::steady_clock::now();
    for (const auto& url : f.urls) {
        if (!cache->diskImageForKey(url->absoluteString())) std::fprintf(stderr, "disk read failed\n");
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_ColdLoad(benchmark::State& state) {
    for (auto _ : state) state.SetIterationTime(cold());
    state.SetItemsProcessed(state.iterations() * kPictures);
}
BENCHMARK(BM_ColdLoad)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();

void BM_WarmLoad(benchmark::State& state) {
    for (auto _ : state) state.SetIterationTime(warm());
    state.SetItemsProcessed(state.iterations() * kPictures);
}
BENCHMARK(BM_WarmLoad)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();

void BM_HotLoad(benchmark::State& state) {
    for (auto _ : state) state.SetIterationTime(hot());
    state.SetItemsProcessed(state.iterations() * kPictures);
}
BENCHMARK(BM_HotLoad)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();

void BM_PlainDecode(benchmark::State& state) {
    for (auto _ : state) state.SetIterationTime(decodeAll());
    state.SetItemsProcessed(state.iterations() * kPictures);
}
BENCHMARK(BM_PlainDecode)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();

}  // namespace

int main(int argc, char** argv) {
    // A picture list does not go through the URL cache (no refresh option).
    benchmark::Initialize(&argc, argv);
    fixture();
    std::printf("%d distinct 256x256 pictures (half PNG, half JPEG) into image views from a loopback host\n",
                kPictures);
    benchmark::ConsoleReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    // Rounds alternate the ways, so that the machine's drifting load weighs on all alike.
    constexpr int kRounds = 5;
    std::vector<double> coldTimes, warmTimes, hotTimes, decodeTimes, droppingTimes, diskTimes, ratios,
        droppingRatios;
    for (int round = 0; round < kRounds; ++round) {
        coldTimes.push_back(cold());
        double w = warm();
        hotTimes.push_back(hot());
        double d = decodeAll(true);
        double dropping = decodeAll(false);
        diskTimes.push_back(diskReadsAll());
        warmTimes.push_back(w);
        decodeTimes.push_back(d);
        droppingTimes.push_back(dropping);
        ratios.push_back(w / d);
        droppingRatios.push_back(w / dropping);
    }
    using benchsupport::median;
    std::printf(
        "throughput (pictures/s, median of %d rounds; higher is better): cold (network) %.0f, warm (disk) "
        "%.0f, "
        "hot (memory) %.0f\n",
        kRounds, kPictures / median(coldTimes), kPictures / median(warmTimes), kPictures / median(hotTimes));
    std::printf("plain decode of the same files, keeping the pictures: %.2f ms for %d (%.0f pictures/s)\n",
                median(decodeTimes) * 1000, kPictures, kPictures / median(decodeTimes));
    std::printf("plain decode dropping each picture at once: %.2f ms\n", median(droppingTimes) * 1000);
    std::printf("disk read path alone (no queues): %.2f ms for %d\n", median(diskTimes) * 1000, kPictures);
    std::printf("ratio warm_load_vs_decode %.3f\n", median(ratios));
    std::printf(
        "  (time of a warm load over plain decoding that keeps its pictures, as the views do: lower is "
        "better; the target is at most 1.5)\n");
    std::printf("ratio warm_load_vs_decode_dropping %.3f\n", median(droppingRatios));
    std::printf("  (the same over decoding that drops each picture at once, so its memory is reused)\n");
    return 0;
}
