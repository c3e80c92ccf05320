// Tinting the whole car in the studio, as a tap on the colour wheel does with no part selected:
// from the tap to the next rendered frame of the screen, and the first tint of a process (as soon
// as the user can make it: once the studio opened, its entrance played and the wheel came up). The
// studio runs as in its tests: the stand-in server with the sample catalogue on loopback, the
// default car loaded, the manual clock for animations. Target: one frame, 16.7 ms; "ratio <name>"
// is the median time over that frame.
//
// The GPU driver's shader cache is off, as on a phone that has just installed the app: the first
// tint then finds only what the studio built before it (timed in fresh processes of this program,
// the median taken). What that building costs the opening is measured in fresh processes too (the
// driver keeps what it built for the life of a process): the studio's opening as it is, against
// the opening once the tint was prepared before it; the extra time may be one frame at most.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include "app/QVNAPIClient.h"
#include "app/QVNConfiguration.h"
#include "bench/support/BenchSupport.h"
#include "bench/support/RatioReporter.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSSandbox.h"
#include "graphics/GraphicsTesting.h"
#include "images/WIImageCache.h"
#include "images/WIWebImageDownloader.h"
#include "network/NSURLCache.h"
#include "studio/CarStoryboard.h"
#include "studio/CarStudioResources.h"
#include "studio/CarViewController.h"
#include "studio/QVNOption.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"
#include "tools/devserver/CatalogueRoutes.h"
#include "tools/devserver/DevServer.h"
#include "tools/devserver/catalogue/SampleCatalogue.h"
#include "uikit/UIApplication.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UITestDriver.h"
#include "uikit/UIWindow.h"
#include "uikit/UIWindowRenderer.h"

namespace {

constexpr double kFrameMillis = 1000.0 / 60.0;

class WindowDelegate : public UIApplicationDelegate {
  public:
    Ref<UIWindow> window() const override { return window_; }
    void setWindow(const Ref<UIWindow>& window) override { window_ = window; }

  private:
    Ref<UIWindow> window_;
};

// The studio with its default car, open in the key window, and the colour wheel showing.
struct Studio {
    testsupport::TemporaryDirectory sandbox;
    devserver::DevServer server;
    std::shared_ptr<devserver::catalogue::SampleCatalogue> catalogue;
    std::shared_ptr<devserver::CatalogueRoutes> routes;
    std::shared_ptr<WindowDelegate> delegate;
    Ref<UIWindow> window;
    Ref<UIViewController> root;
    Ref<CarViewController> screen;
    testsupport::ManualClock clock;
    bool ready = false;
    static inline bool openingOnly = false;  // a child that times the opening stops there
    double openingMillis = -1;               // from presenting the studio to its car on screen

    Studio() {
        NSSandbox::setRoot(sandbox.path());
        NSURLCache::setSharedURLCache(make<NSURLCache>(0, 0, std::nullopt));
        catalogue = devserver::catalogue::SampleCatalogue::generate();
        routes = devserver::addCatalogueRoutes(server, catalogue);
        if (!server.start()) return;
        QVNConfiguration::useServer(server.baseURL());
        WIImageCache::sharedImageCache()->setDiskCachePath(sandbox.path() + "/Library/Caches/images");
        const std::string resources = sandbox.path() + "/resources";
        if (!CarStudioResources::writeResources(resources)) return;
        graphics_testing::setResourcesDirectory(resources);
        CarStoryboardRegister();
        delegate = std::make_shared<WindowDelegate>();
        window = make<UIWindow>(UIScreen::mainScreen()->bounds());
        delegate->setWindow(window);
        UIApplication::sharedApplication()->setDelegate(delegate);
        root = make<UIViewController>();
        window->setRootViewController(root);
        window->makeKeyAndVisible();
        screen = asKind<CarViewController>(
            UIStoryboard::storyboardWithName("Car", nullptr)->instantiateInitialViewController());
        if (!screen) return;
        const auto opening = std::chrono::steady_clock::now();
        root->presentViewController(screen, false);
        if (!testsupport::pumpMainRunLoopUntil([&] { return screen->selectedCar() != nullptr; }, 120)) return;
        openingMillis =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - opening).count();
        if (openingOnly) return;
        watch(3.5);  // the entrance
        screen->carButtonTapped(screen->scrollView2Subviews().front());
        watch(0.3);
        screen->colorPickerCarButtonTapped(nullptr);  // no part: the whole car
        screen->colorWheelButtonTapped(nullptr);
        watch(0.5);
        ready = screen->colorWheel.lock() != nullptr;
    }

    // The animations play as the user sees them: frame by frame on the manual clock, each frame
    // drawn and taking its real time, so that what the studio does in the background meanwhile
    // (as the tint's preparation) has the time it has on a phone before the user can tap again,
    // and the first tint is not the first frame the screen draws.
    void watch(double seconds) {
        for (double shown = 0; shown < seconds; shown += kFrameMillis / 1000) {
            const auto start = std::chrono::steady_clock::now();
            clock.advance(kFrameMillis / 1000);
            testsupport::drainMainRunLoop();
            benchmark::DoNotOptimize(UIWindowRenderer::imageOfScreen());
            const double spent =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (spent < kFrameMillis / 1000)
                testsupport::pumpMainRunLoopUntil([] { return false; }, kFrameMillis / 1000 - spent);
        }
    }
};

Studio& studio() {
    static Studio* s = new Studio();
    return *s;
}

// Points on the wheel's rim, so that each tap picks another colour.
CGPoint wheelPoint(std::size_t i) {
    static const CGPoint points[] = {{140, 75}, {75, 10}, {10, 75}, {75, 140}, {120, 30}, {30, 120}};
    return points[i % (sizeof points / sizeof points[0])];
}

std::vector<double> tapOnly;

// One tap on the wheel and the frame that follows it, in milliseconds (wall time); the CPU time
// of the calling thread goes to *cpu.
double tapToFrame(std::size_t i, double* cpu) {
    Studio& s = studio();
    const double cpuBefore = benchsupport::threadCPUSeconds();
    const auto start = std::chrono::steady_clock::now();
    UITestDriver::tapAt(s.screen->colorWheel.lock(), wheelPoint(i));
    testsupport::drainMainRunLoop();
    const auto tapped = std::chrono::steady_clock::now();
    auto frame = UIWindowRenderer::imageOfScreen();
    tapOnly.push_back(std::chrono::duration<double, std::milli>(tapped - start).count());
    benchmark::DoNotOptimize(frame);
    const double millis =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    *cpu = (benchsupport::threadCPUSeconds() - cpuBefore) * 1000;
    return millis;
}

// Lets the flash and the previous tint's work end before the next tap.
void settle() {
    Studio& s = studio();
    for (int i = 0; i < 20; ++i) {
        s.clock.advance(0.05);
        testsupport::pumpMainRunLoopUntil([] { return false; }, 0.005);
    }
}

std::vector<double> tapTimes, tapCPU;
double firstTint = -1, firstTintCPU = -1;

void BM_FirstWholeCarTint(benchmark::State& state) {
    if (!studio().ready) {
        state.SkipWithError("the studio did not open");
        return;
    }
    for (auto _ : state) {
        double cpu = 0;
        firstTint = tapToFrame(0, &cpu);
        firstTintCPU = cpu;
        state.SetIterationTime(firstTint / 1000);
    }
    settle();
}
BENCHMARK(BM_FirstWholeCarTint)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_WholeCarTint(benchmark::State& state) {
    if (!studio().ready) {
        state.SkipWithError("the studio did not open");
        return;
    }
    std::size_t i = 1;
    for (auto _ : state) {
        double cpu = 0;
        const double millis = tapToFrame(i++, &cpu);
        tapTimes.push_back(millis);
        tapCPU.push_back(cpu);
        state.SetIterationTime(millis / 1000);
        state.PauseTiming();
        settle();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_WholeCarTint)->Iterations(30)->UseManualTime()->Unit(benchmark::kMillisecond);

// ---- fresh processes of this program ------------------------------------------------------------

// A child measures one thing in a fresh process and prints it as "<label> <numbers...>".

// On a memory disk when there is one: the files the studio writes as it opens are flushed to
// disk, and the disk's pace is not what is compared.
void keepTheChildsFilesInMemory() {
    std::error_code error;
    if (std::filesystem::is_directory("/dev/shm", error))
        setenv("APP_TEST_TMP", "/dev/shm/bench-studio-tint", 1);
}

// Prints the child's line (when it measured something) and ends it without tearing the studio
// and its server down.
[[noreturn]] void endChild(bool measured, const std::string& line) {
    if (measured) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    std::error_code error;
    std::filesystem::remove_all(studio().sandbox.path(), error);
    std::_Exit(measured ? 0 : 1);
}

// The numbers a child run with the argument printed after its label; empty when it failed.
std::vector<double> childFigures(const char* self, const std::string& argument, const std::string& label) {
    const std::string command = std::string("'") + self + "' " + argument + " 2>/dev/null";
    FILE* child = popen(command.c_str(), "r");
    if (!child) return {};
    std::vector<double> figures;
    char line[256];
    while (std::fgets(line, sizeof line, child)) {
        if (std::strncmp(line, label.c_str(), label.size()) != 0 || line[label.size()] != ' ') continue;
        figures.clear();
        char* at = line + label.size();
        for (char* end = nullptr;; at = end) {
            const double value = std::strtod(at, &end);
            if (end == at) break;
            figures.push_back(value);
        }
    }
    return pclose(child) == 0 ? figures : std::vector<double>();
}

std::string figuresLine(const char* label, std::initializer_list<double> figures) {
    std::string line = label;
    char text[32];
    for (double figure : figures) {
        std::snprintf(text, sizeof text, " %.3f", figure);
        line += text;
    }
    return line;
}

// ---- the opening --------------------------------------------------------------------------------

constexpr const char* kOpeningFlag = "--studio-opening";
constexpr int kOpenings = 9;

// What a running app has done before the user opens the studio, done alike in both children:
// worker threads started, memory used and given back. Without it the child that prepared the tint
// opens faster for that work alone (15-30 ms here, as much as a child that only did this), which is
// no cost of the preparation.
void warmUpAsARunningApp() {
    {
        std::vector<std::vector<char>> blocks;
        for (int i = 0; i < 40; ++i) blocks.emplace_back(std::size_t{4} << 20, char{1});
    }
    auto finished = dispatch_semaphore_create(0);
    const unsigned workers = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < workers; ++i) {
        dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT), [finished] {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            dispatch_semaphore_signal(finished);
        });
    }
    for (unsigned i = 0; i < workers; ++i) dispatch_semaphore_wait(finished, DISPATCH_TIME_FOREVER);
}

// The child's part: opens the studio, the tint prepared beforehand or not, and prints the time.
int reportOpening(bool tintPreparedBefore) {
    Studio::openingOnly = true;
    warmUpAsARunningApp();
    if (tintPreparedBefore) {
        auto prepared = dispatch_semaphore_create(0);
        QVNOption::prepareTint([prepared] { dispatch_semaphore_signal(prepared); });
        if (dispatch_semaphore_wait(prepared, dispatch_time(DISPATCH_TIME_NOW, 60 * NSEC_PER_SEC)) != 0)
            return 1;
    }
    keepTheChildsFilesInMemory();
    endChild(studio().openingMillis >= 0, figuresLine("opening", {studio().openingMillis}));
}

// ---- the first tint -----------------------------------------------------------------------------

// The first tint happens once in a process; its time is the median over fresh processes, as the
// opening's, since one sample swings with what the machine's memory does on first touch.
constexpr const char* kFirstTintFlag = "--first-tint";
constexpr int kFirstTints = 5;

int reportFirstTint() {
    keepTheChildsFilesInMemory();
    if (!studio().ready) endChild(false, "");
    double cpu = 0;
    const double millis = tapToFrame(0, &cpu);
    endChild(true, figuresLine("first", {millis, cpu}));
}

std::vector<double> firstTints, firstTintsCPU;

void measureFirstTints(const char* self) {
    for (int i = 0; i < kFirstTints; ++i) {
        const auto figures = childFigures(self, kFirstTintFlag, "first");
        if (figures.size() != 2) continue;
        firstTints.push_back(figures[0]);
        firstTintsCPU.push_back(figures[1]);
    }
}

// The opening time in a fresh process of this program; negative when it failed.
double openingInFreshProcess(const char* self, bool tintPreparedBefore) {
    const auto figures = childFigures(
        self, std::string(kOpeningFlag) + (tintPreparedBefore ? "=prepared" : "=plain"), "opening");
    return figures.size() == 1 ? figures[0] : -1;
}

std::vector<double> openings, openingsPrepared;

void measureOpenings(const char* self) {
    // Alternated, so that the machine's drift falls on both alike.
    for (int i = 0; i < kOpenings; ++i) {
        const double plain = openingInFreshProcess(self, false);
        const double prepared = openingInFreshProcess(self, true);
        if (plain >= 0) openings.push_back(plain);
        if (prepared >= 0) openingsPrepared.push_back(prepared);
    }
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

}  // namespace

int main(int argc, char** argv) {
    // Before the first GL call: the driver reads it when the display is opened.
    setenv("MESA_SHADER_CACHE_DISABLE", "true", 1);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], kFirstTintFlag) == 0) return reportFirstTint();
        if (std::strncmp(argv[i], kOpeningFlag, std::strlen(kOpeningFlag)) == 0)
            return reportOpening(std::strcmp(argv[i] + std::strlen(kOpeningFlag), "=prepared") == 0);
    }
    measureOpenings(argv[0]);
    measureFirstTints(argv[0]);
    benchmark::Initialize(&argc, argv);
    benchsupport::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (!tapTimes.empty()) {
        const double median = percentile(tapTimes, 0.5);
        std::printf("ratio whole_car_tint_vs_frame %.4g\n", median / kFrameMillis);
        std::printf("  of which the tap (tint and layout, before the frame is drawn): median %.1f ms\n",
                    percentile(tapOnly, 0.5));
        std::printf("  tap to rendered frame: median %.1f ms, p90 %.1f ms, main-thread CPU median %.1f ms; "
                    "target one frame, %.1f ms\n",
                    median, percentile(tapTimes, 0.9), percentile(tapCPU, 0.5), kFrameMillis);
    }
    if (!firstTints.empty()) {
        const double median = percentile(firstTints, 0.5);
        std::printf("ratio first_whole_car_tint_vs_frame %.4g\n", median / kFrameMillis);
        std::printf(
            "  the first tint after the studio opened, the driver's shader cache off, median of %zu fresh "
            "processes: %.1f ms (slowest %.1f ms, main-thread CPU median %.1f ms); target %.1f ms\n",
            firstTints.size(), median, percentile(firstTints, 1.0), percentile(firstTintsCPU, 0.5),
            kFrameMillis);
    }
    if (firstTint >= 0)
        std::printf("  this run's first tint: %.1f ms (main-thread CPU %.1f ms)\n", firstTint, firstTintCPU);
    if (!openings.empty() && !openingsPrepared.empty()) {
        const double plain = percentile(openings, 0.5), prepared = percentile(openingsPrepared, 0.5);
        std::printf("ratio studio_opening_extra_vs_frame %.4g\n", (plain - prepared) / kFrameMillis);
        std::printf(
            "  opening the studio (to its car on screen), median of %zu fresh processes: %.1f ms; with the "
            "tint prepared before it: %.1f ms; the extra may be one frame, %.1f ms\n",
            openings.size(), plain, prepared, kFrameMillis);
    }
    if ((firstTint >= 0 || !tapTimes.empty()) && studio().openingMillis >= 0)
        std::printf("  this run's opening, before the first tint: %.1f ms\n", studio().openingMillis);
    // Ends without tearing the studio and its server down (their threads may still be busy).
    std::fflush(stdout);
    std::_Exit(0);
}
