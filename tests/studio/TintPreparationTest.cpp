// The studio builds the tint's GPU program while it opens, off the main thread, so that the user's
// first tint of the whole car finds it built and compiles nothing. (Each test runs in a process of
// its own under ctest: the program cache then starts empty.)

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
