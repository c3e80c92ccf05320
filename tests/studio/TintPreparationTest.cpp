// The studio builds the tint's GPU program once its car is on screen, off the main thread, so that
// the user's first tint of the whole car finds it built and compiles nothing; and not while the car
// loads, which the GPU driver's loading would hold back. (Each test runs in a process of its own
// under ctest: the program cache then starts empty.)

#include <chrono>

#include "gpu/core/GPXContext.h"
#include "gpu/core/GPXMonochromeFilter.h"
#include "gpu/core/GPXShaders.h"
#include "studio/QVNOption.h"
#include "tests/studio/CarViewControllerTestSupport.h"
#include "uikit/UITestDriver.h"

using namespace carstudiotest;

namespace {

class TintPreparationTest : public CarStudioTest {
  protected:
    static bool tintProgramBuilt() {
        return GPXContext::sharedImageProcessingContext()->hasProgramForVertexShaderString(
            kGPXDefaultVertexShaderString, kGPXMonochromeFragmentShaderString);
    }

    testsupport::ManualClock clock_;
};

TEST_F(TintPreparationTest, TheFirstWholeCarTintAfterOpeningCompilesNoProgram) {
    openWithDefaultCar();
    // Nothing has been tinted yet: only the opening can have built it. Bounded, as it is built in
    // the background.
    ASSERT_TRUE(waitFor(tintProgramBuilt, 30)) << "the studio opened without building the tint's program";
    const std::size_t programs = GPXContext::sharedImageProcessingContext()->programCacheCount();

    clock_.advance(3.5);
    studio->carButtonTapped(studio->scrollView2Subviews().front());
    clock_.advance(0.3);
    studio->colorPickerCarButtonTapped(nullptr);
    studio->colorWheelButtonTapped(nullptr);
    clock_.advance(0.5);
    auto wheel = studio->colorWheel.lock();
    ASSERT_NE(wheel, nullptr);
    UITestDriver::tapAt(wheel, CGPoint{140, 75});

    bool tinted = false;
    for (const auto& part : studio->selectedCar()->parts()) {
        if (!part->canColor()) continue;
        EXPECT_NE(part->tintColor(), nullptr) << part->selector().value_or("");
        tinted = true;
    }
    EXPECT_TRUE(tinted) << "the default car has no part to tint";
    EXPECT_EQ(GPXContext::sharedImageProcessingContext()->programCacheCount(), programs);
}

TEST_F(TintPreparationTest, NothingIsBuiltWhileTheCarLoads) {
    // The car list comes late; meanwhile the studio has long appeared and is only waiting.
    devserver::RouteControl late;
    late.delay = std::chrono::milliseconds(1500);
    server.setRouteControl("car/getcarlist.do", late);
    auto screen = makeStudio();
    ASSERT_NE(screen, nullptr);
    present(screen);
    const auto appeared = std::chrono::steady_clock::now();
    waitFor([&] { return std::chrono::steady_clock::now() - appeared > std::chrono::milliseconds(500); }, 5);
    ASSERT_EQ(studio->selectedCar(), nullptr) << "the car list came before its delay";
    EXPECT_FALSE(tintProgramBuilt()) << "the tint's program was built while the car was loading";

    ASSERT_TRUE(waitFor([&] { return studio->selectedCar() != nullptr; }, 60))
        << "the default car did not load";
    EXPECT_TRUE(waitFor(tintProgramBuilt, 30)) << "the car came without the tint's program being built";
}

TEST_F(TintPreparationTest, PreparingTellsWhenItIsOverAndLeavesTheProgramBuilt) {
    auto done = dispatch_semaphore_create(0);
    QVNOption::prepareTint([done] { dispatch_semaphore_signal(done); });
    ASSERT_EQ(dispatch_semaphore_wait(done, dispatch_time(DISPATCH_TIME_NOW, 30 * NSEC_PER_SEC)), 0);
    EXPECT_TRUE(tintProgramBuilt());
    // Prepared again, it finds the program and builds no second one.
    const std::size_t programs = GPXContext::sharedImageProcessingContext()->programCacheCount();
    QVNOption::prepareTint([done] { dispatch_semaphore_signal(done); });
    ASSERT_EQ(dispatch_semaphore_wait(done, dispatch_time(DISPATCH_TIME_NOW, 30 * NSEC_PER_SEC)), 0);
    EXPECT_EQ(GPXContext::sharedImageProcessingContext()->programCacheCount(), programs);
}

}  // namespace
