// Offline recording, odd movie sizes and refused settings.
//
// A hang or a crash at exit cannot be caught inside the process that has it, so those runs go to
// a child process: the program runs one of its own (disabled) tests again, and the parent fails
// when the child outlives its limit (it is killed) or ends by a signal or a failure.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "gpu/core/GPXFramebufferCache.h"
#include "gpu/core/GPXPicture.h"
#include "gpu/media/GPXMovie.h"
#include "gpu/media/GPXMovieWriter.h"
#include "tests/gpu/core/GPUTestSupport.h"
#include "tests/gpu/media/MovieTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/MovieClips.h"
#include "tests/support/TestSupport.h"

using namespace gputest;
using testsupport::ClipSpec;

namespace {

constexpr char kChildSizeVariable[] = "GPX_WRITER_CHILD_SIZE";
constexpr char kChildRunsVariable[] = "GPX_WRITER_CHILD_RUNS";
constexpr char kChildFramesVariable[] = "GPX_WRITER_CHILD_FRAMES";

// Runs the named test of this program in a child with the extra environment; it must end well
// within the limit.
void expectChildSucceeds(const std::string& test, const std::vector<std::string>& environment,
                         std::chrono::seconds limit) {
    const auto r =
        testsupport::runChild({"/proc/self/exe", "--gtest_filter=" + test, "--gtest_also_run_disabled_tests"},
                              static_cast<double>(limit.count()), environment);
    ASSERT_TRUE(r.started) << "cannot start a child";
    EXPECT_FALSE(r.timedOut) << test << " did not end within " << limit.count() << " s";
    if (!r.timedOut) {
        EXPECT_EQ(r.signal, 0) << test << " ended by signal " << r.signal;
        EXPECT_EQ(r.exitCode, 0) << test << " failed";
    }
}

CGSize childSize() {
    const char* text = std::getenv(kChildSizeVariable);
    int width = 64, height = 48;
    if (text) std::sscanf(text, "%dx%d", &width, &height);
    return CGSizeMake(width, height);
}

int childNumber(const char* variable, int fallback) {
    const char* text = std::getenv(variable);
    return text ? std::atoi(text) : fallback;
}

int childRuns() {
    return childNumber(kChildRunsVariable, 1);
}

// A child's test ends the process the ordinary way, statics and exit handlers and all, so that
// threads still winding down meet the process's end as an application's would.
[[noreturn]] void exitChild() {
    std::fflush(nullptr);
    std::exit(::testing::Test::HasFailure() ? 1 : 0);
}

Dictionary offlineSettings(CGSize size) {
    return Dictionary{{AVVideoCodecKey, AVVideoCodecH264},
                      {AVVideoWidthKey, static_cast<long>(size.width)},
                      {AVVideoHeightKey, static_cast<long>(size.height)},
                      {kGPXMovieWriterEncodingLiveVideoKey, false}};
}

bool finish(const Ref<GPXMovieWriter>& writer) {
    auto done = dispatch_semaphore_create(0);
    writer->finishRecordingWithCompletionHandler([done] { dispatch_semaphore_signal(done); });
    return waitFor(done);
}

// ---- run in children ---------------------------------------------------------------------------

// A movie read as fast as the writer takes it (200 frames unless told), again and again.
TEST(GPXMovieWriterChild, DISABLED_SynchronisedOfflineRuns) {
    testsupport::TemporaryDirectory dir;
    const CGSize size = childSize();
    ClipSpec spec;
    spec.width = static_cast<int>(size.width);
    spec.height = static_cast<int>(size.height);
    spec.frames = childNumber(kChildFramesVariable, 200);
    spec.audio = false;
    const std::string source = dir.file("source.mp4");
    std::string error;
    ASSERT_TRUE(testsupport::writeClip(source, spec, &error)) << error;
    for (int run = 0; run < childRuns(); ++run) {
        const std::string written = dir.file("run" + std::to_string(run) + ".mp4");
        auto movie = make<GPXMovie>(NSURL::fileURLWithPath(source));
        auto writer = make<GPXMovieWriter>(NSURL::fileURLWithPath(written), size, AVFileTypeMPEG4,
                                           offlineSettings(size));
        movie->addTarget(writer);
        movie->enableSynchronizedEncodingUsingMovieWriter(writer);
        auto completed = dispatch_semaphore_create(0);
        writer->setCompletionBlock([completed] { dispatch_semaphore_signal(completed); });
        writer->startRecording();
        movie->startProcessing();
        ASSERT_TRUE(waitFor(completed)) << "run " << run;
        ASSERT_TRUE(finish(writer)) << "run " << run;
        EXPECT_EQ(writer->assetWriter()->status(), AVAssetWriterStatusCompleted);
        EXPECT_EQ(writer->framesAppended(), spec.frames) << "run " << run;
    }
    exitChild();
}

// A producer on the shared queue hands over frames faster than the writer draws them, and lets
// go of each at once: the writer's queue then lets go of the last reference while the producer
// waits for the writer in the very same block of the shared queue.
TEST(GPXMovieWriterChild, DISABLED_WritersQueueDropsTheLastReference) {
    testsupport::TemporaryDirectory dir;
    const CGSize size = childSize();
    for (int run = 0; run < childRuns(); ++run) {
        auto writer =
            make<GPXMovieWriter>(NSURL::fileURLWithPath(dir.file("last" + std::to_string(run) + ".mp4")),
                                 size, AVFileTypeMPEG4, offlineSettings(size));
        writer->startRecording();
        performSyncOnSharedContextQueue([&] {
            for (int f = 0; f < 40; ++f) {
                auto framebuffer = make<GPXFramebuffer>(size);
                framebuffer->disableReferenceCounting();  // owned by its source alone
                writer->setInputSize(size, 0);
                writer->setInputFramebuffer(framebuffer, 0);
                writer->newFrameReadyAtTime(CMTimeMake(f, 30), 0);
            }
        });
        ASSERT_TRUE(finish(writer));
        EXPECT_EQ(writer->framesAppended(), 40);
    }
    exitChild();
}

// ---- the parents -------------------------------------------------------------------------------

class GPXMovieWriterOfflineTest : public ::testing::TestWithParam<const char*> {};

TEST_P(GPXMovieWriterOfflineTest, RepeatedSynchronisedRunsNeverHang) {
    for (int child = 0; child < 2; ++child) {
        expectChildSucceeds(
            "GPXMovieWriterChild.DISABLED_SynchronisedOfflineRuns",
            {std::string(kChildSizeVariable) + "=" + GetParam(), std::string(kChildRunsVariable) + "=5"},
            std::chrono::seconds(240));
    }
}

// The writer's GL thread may still be ending when the process ends; it must not take the
// graphics library's state down with it (about one such exit in eight crashed).
TEST_P(GPXMovieWriterOfflineTest, AProcessEndingJustAfterAWriteExitsCleanly) {
    for (int child = 0; child < 12; ++child) {
        expectChildSucceeds("GPXMovieWriterChild.DISABLED_SynchronisedOfflineRuns",
                            {std::string(kChildSizeVariable) + "=" + GetParam(),
                             std::string(kChildFramesVariable) + "=20",
                             std::string(kChildRunsVariable) + "=2"},
                            std::chrono::seconds(120));
    }
}

TEST_P(GPXMovieWriterOfflineTest, TheWritersQueueLettingGoOfAFrameNeverWaitsForTheProducer) {
    expectChildSucceeds(
        "GPXMovieWriterChild.DISABLED_WritersQueueDropsTheLastReference",
        {std::string(kChildSizeVariable) + "=" + GetParam(), std::string(kChildRunsVariable) + "=3"},
        std::chrono::seconds(120));
}

INSTANTIATE_TEST_SUITE_P(Sizes, GPXMovieWriterOfflineTest, ::testing::Values("64x48", "3x5", "1x1"),
                         [](const auto& info) { return std::string(info.param); });

// ---- sizes and refused settings ----------------------------------------------------------------

class FailureRecorder : public NSObject, public GPXMovieWriterDelegate {
  public:
    std::atomic<int> failures{0};
    void movieRecordingFailedWithError(const Ref<NSError>&) override { ++failures; }
    bool implementsMovieRecordingFailedWithError() const override { return true; }
};

TEST(GPXMovieWriterSizeTest, AnOddSizedMovieIsWrittenAtItsExactSize) {
    testsupport::TemporaryDirectory dir;
    auto picture = make<GPXPicture>(makeSolidImage(16, 16, {200, 100, 50, 255}));
    for (CGSize size : {CGSizeMake(3, 5), CGSizeMake(1, 1), CGSizeMake(33, 17)}) {
        const std::string path = dir.file(std::to_string(static_cast<int>(size.width)) + ".mov");
        auto writer = make<GPXMovieWriter>(NSURL::fileURLWithPath(path), size);
        std::atomic<int> failures{0};
        writer->setFailureBlock([&](const Ref<NSError>&) { ++failures; });
        writer->startRecording();
        ASSERT_TRUE(writer->isRecording());
        for (int f = 0; f < 3; ++f) {
            performSyncOnSharedContextQueue([&] {
                writer->setInputFramebuffer(picture->framebufferForOutput(), 0);
                writer->newFrameReadyAtTime(CMTimeMake(f, 30), 0);
            });
        }
        ASSERT_TRUE(finish(writer));
        EXPECT_EQ(failures.load(), 0);
        EXPECT_EQ(writer->framesAppended(), 3);
        auto movie = testsupport::readMovie(path);
        ASSERT_TRUE(movie.ok) << movie.error;
        ASSERT_EQ(movie.frames.size(), 3u);
        EXPECT_EQ(movie.frames[0].width, size.width);
        EXPECT_EQ(movie.frames[0].height, size.height);
        const std::uint8_t* p =
            movie.frames[2].at(static_cast<int>(size.width) - 1, static_cast<int>(size.height) - 1);
        EXPECT_NEAR(p[2], 200, 8);
        EXPECT_NEAR(p[1], 100, 8);
        EXPECT_NEAR(p[0], 50, 8);
    }
}

// Settings the platform refuses fail the writer where its user hears it: the failure block (or
// the delegate) at once when recording starts, the asset writer failed with the reason, and no
// movie at all, never a completed one without its video. A movie source driving it ends.
TEST(GPXMovieWriterSizeTest, RefusedSettingsFailTheWriterVisiblyAndASynchronisedRunEnds) {
    testsupport::TemporaryDirectory dir;
    ClipSpec spec;
    spec.frames = 5;
    const std::string source = dir.file("source.mp4");
    std::string error;
    ASSERT_TRUE(testsupport::writeClip(source, spec, &error)) << error;

    const std::string written = dir.file("refused.mp4");
    auto movie = make<GPXMovie>(NSURL::fileURLWithPath(source));
    auto writer = make<GPXMovieWriter>(
        NSURL::fileURLWithPath(written), CGSizeMake(64, 48), AVFileTypeMPEG4,
        Dictionary{{AVVideoCodecKey, AVVideoCodecH264}, {AVVideoWidthKey, 9000}, {AVVideoHeightKey, 48}});
    EXPECT_EQ(writer->assetWriter()->status(), AVAssetWriterStatusFailed);
    ASSERT_NE(writer->assetWriter()->error(), nullptr);
    auto failed = dispatch_semaphore_create(0);
    Ref<NSError> reported;
    int failures = 0;
    writer->setFailureBlock([&](const Ref<NSError>& e) {
        reported = e;
        ++failures;
        dispatch_semaphore_signal(failed);
    });
    auto listeners = listenTo(movie);
    movie->addTarget(writer);
    movie->setAudioEncodingTarget(writer);
    movie->enableSynchronizedEncodingUsingMovieWriter(writer);
    writer->startRecording();
    movie->startProcessing();
    ASSERT_TRUE(waitFor(failed));
    EXPECT_EQ(failures, 1);
    ASSERT_TRUE(waitFor(listeners.delegate->done)) << "the movie feeding the refused writer never ended";
    EXPECT_EQ(listeners.delegate->completions.load(), 1);
    EXPECT_EQ(reported, writer->assetWriter()->error());
    EXPECT_FALSE(writer->isRecording());
    ASSERT_TRUE(finish(writer));
    EXPECT_EQ(writer->assetWriter()->status(), AVAssetWriterStatusFailed);
    EXPECT_EQ(writer->framesAppended(), 0);
    EXPECT_FALSE(std::filesystem::exists(written));

    // Without a failure block the delegate hears it.
    auto other = make<GPXMovieWriter>(NSURL::fileURLWithPath(dir.file("d.mp4")), CGSizeMake(0, 48));
    auto delegate = make<FailureRecorder>();
    other->setDelegate(delegate);
    other->startRecording();
    EXPECT_EQ(delegate->failures.load(), 1);
    EXPECT_EQ(other->assetWriter()->status(), AVAssetWriterStatusFailed);
}

}  // namespace
