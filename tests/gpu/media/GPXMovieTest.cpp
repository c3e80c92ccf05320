#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "foundation/NSLog.h"
#include "gpu/core/GPXMonochromeFilter.h"
#include "gpu/core/GPXRawDataOutput.h"
#include "gpu/media/GPXMovie.h"
#include "gpu/media/GPXMovieWriter.h"
#include "tests/gpu/core/GPUTestSupport.h"
#include "tests/gpu/media/MovieTestSupport.h"
#include "tests/support/MainLoop.h"
#include "tests/support/MovieClips.h"
#include "tests/support/TestSupport.h"

using namespace gputest;
using testsupport::ClipSpec;

namespace {

// Collects the frames a raw data output reads (top row first, RGBA), in order.
struct FrameCollector {
    Ref<GPXRawDataOutput> output;
    std::mutex mutex;
    std::vector<std::vector<std::uint8_t>> frames;

    explicit FrameCollector(CGSize size) : output(make<GPXRawDataOutput>(size, false)) {
        output->setNewFrameAvailableBlock([this, size] {
            const GLubyte* bytes = output->rawBytesForImage();
            std::lock_guard lock(mutex);
            frames.emplace_back(bytes, bytes + static_cast<std::size_t>(size.width * size.height * 4));
        });
    }
    std::size_t count() {
        std::lock_guard lock(mutex);
        return frames.size();
    }
};

class GPXMovieTest : public ::testing::Test {
  protected:
    std::string clip(const std::string& name, ClipSpec spec = ClipSpec()) {
        const std::string path = dir.file(name);
        std::string error;
        EXPECT_TRUE(testsupport::writeClip(path, spec, &error)) << error;
        return path;
    }
    Ref<NSURL> url(const std::string& path) { return NSURL::fileURLWithPath(path); }

    testsupport::TemporaryDirectory dir;
};

TEST_F(GPXMovieTest, AMovieIsFilteredAndWrittenBackWithItsAudio) {
    ClipSpec spec;
    spec.frames = 15;
    const std::string source = clip("source.mp4", spec);
    const std::string written = dir.file("tinted.mp4");

    auto movie = make<GPXMovie>(url(source));
    auto filter = make<GPXMonochromeFilter>();
    auto writer = make<GPXMovieWriter>(url(written), CGSizeMake(64, 48), AVFileTypeMPEG4, Value());
    FrameCollector filtered(CGSizeMake(64, 48));
    movie->addTarget(filter);
    filter->addTarget(writer);
    filter->addTarget(filtered.output);
    movie->setAudioEncodingTarget(writer);
    EXPECT_TRUE(writer->hasAudioTrack());
    movie->enableSynchronizedEncodingUsingMovieWriter(writer);
    EXPECT_FALSE(writer->encodingLiveVideo());
    auto completed = dispatch_semaphore_create(0);
    int completions = 0;
    writer->setCompletionBlock([&] {
        ++completions;
        dispatch_semaphore_signal(completed);
    });
    writer->startRecording();
    movie->startProcessing();
    ASSERT_TRUE(waitFor(completed));
    auto finished = dispatch_semaphore_create(0);
    writer->finishRecordingWithCompletionHandler([finished] { dispatch_semaphore_signal(finished); });
    ASSERT_TRUE(waitFor(finished));
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(writer->assetWriter()->status(), AVAssetWriterStatusCompleted);
    EXPECT_EQ(movie->progress(), 1.0f);
    EXPECT_NEAR(CMTimeGetSeconds(writer->duration()), 14 / 30.0, 1e-3);

    auto original = testsupport::readMovie(source);
    auto result = testsupport::readMovie(written);
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(result.frames.size(), 15u);
    ASSERT_EQ(filtered.count(), 15u);
    EXPECT_NEAR(CMTimeGetSeconds(result.duration), CMTimeGetSeconds(original.duration), 0.04);
    // Audio: the same length within one AAC packet.
    EXPECT_NEAR(result.audioFrames, original.audioFrames, 1024);
    EXPECT_EQ(result.sampleRate, 44100);
    // Frame by frame against what the filter produced: within 10 of 255 per channel at the
    // quadrant centres (H.264 on flat areas plus two colour conversions).
    for (std::size_t f = 0; f < 15; ++f) {
        SCOPED_TRACE(f);
        EXPECT_NEAR(CMTimeGetSeconds(result.frames[f].time), CMTimeGetSeconds(original.frames[f].time), 1e-3);
        for (auto [x, y] : {std::pair{16, 12}, {48, 12}, {16, 36}, {48, 36}}) {
            const std::uint8_t* tinted = &filtered.frames[f][static_cast<std::size_t>((y * 64 + x) * 4)];
            const std::uint8_t* back = result.frames[f].at(x, y);
            EXPECT_NEAR(back[2], tinted[0], 10) << x << "," << y;
            EXPECT_NEAR(back[1], tinted[1], 10) << x << "," << y;
            EXPECT_NEAR(back[0], tinted[2], 10) << x << "," << y;
        }
    }
    // The tint really changed the picture: the blue quadrant is no longer blue.
    std::uint8_t sourcePixel[4];
    testsupport::clipPixel(0, 16, 36, 64, 48, sourcePixel);
    EXPECT_GT(std::abs(int(result.frames[0].at(16, 36)[0]) - int(sourcePixel[0])), 40);
}

TEST_F(GPXMovieTest, ReadingAnAssetFeedsEveryTargetAndReportsCompletionOnce) {
    ClipSpec spec;
    spec.frames = 6;
    spec.audio = false;
    auto asset = AVURLAsset::URLAssetWithURL(url(clip("a.mp4", spec)));
    auto movie = make<GPXMovie>(Ref<AVAsset>(asset));
    auto [target, delegate] = listenTo(movie);
    auto disabled = make<GPXMonochromeFilter>();
    disabled->setEnabled(false);
    auto disabledOut = make<RecordingInput>();
    disabled->addTarget(disabledOut);
    movie->addTarget(disabled);
    EXPECT_EQ(movie->progress(), 0.0f);
    movie->startProcessing();  // reads on this thread, to the end
    EXPECT_EQ(delegate->completions.load(), 1);
    EXPECT_EQ(movie->progress(), 1.0f);
    EXPECT_TRUE(movie->videoEncodingIsFinished());
    EXPECT_TRUE(movie->audioEncodingIsFinished());  // no audio: finished from the start
    std::vector<double> times;
    for (auto& e : target->events()) {
        if (e.call == "newFrame") times.push_back(CMTimeGetSeconds(e.time));
        if (e.call == "size") {
            EXPECT_EQ(e.size, CGSizeMake(64, 48));
        }
    }
    ASSERT_EQ(times.size(), 6u);
    for (int f = 0; f < 6; ++f) EXPECT_NEAR(times[f], f / 30.0, 1e-4);
    EXPECT_GE(target->count("end"), 1);
    EXPECT_EQ(disabledOut->count("newFrame"), 6);  // the movie does not filter by enabled
    movie->endProcessing();
    EXPECT_EQ(delegate->completions.load(), 1);  // the delegate was let go
}

// Notes the movie's progress and the wall time as each frame arrives.
class ProgressTarget : public RecordingInput {
  public:
    Weak<GPXMovie> movie;
    std::vector<float> progress;
    std::vector<std::chrono::steady_clock::time_point> arrivals;
    void newFrameReadyAtTime(CMTime time, long index) override {
        if (auto m = movie.lock()) progress.push_back(m->progress());
        arrivals.push_back(std::chrono::steady_clock::now());
        RecordingInput::newFrameReadyAtTime(time, index);
    }
};

TEST_F(GPXMovieTest, ProgressGrowsAndActualSpeedPacesFramesAtTheMoviesRate) {
    ClipSpec spec;
    spec.frames = 6;
    spec.framesPerSecond = 25;  // 40 ms apart
    spec.audio = false;
    auto movie = make<GPXMovie>(Ref<AVAsset>(AVURLAsset::URLAssetWithURL(url(clip("s.mp4", spec)))));
    auto target = make<ProgressTarget>();
    target->movie = movie;
    movie->addTarget(target);
    movie->setPlayAtActualSpeed(true);
    const auto start = std::chrono::steady_clock::now();
    movie->startProcessing();
    ASSERT_EQ(target->arrivals.size(), 6u);
    // Pacing never lets the last frame come before its time in the movie (0.2 s); a slow frame
    // may use up the next one's wait, so single gaps can be shorter.
    const auto span = std::chrono::duration<double>(target->arrivals.back() - start).count();
    EXPECT_GE(span, 5 * 0.040 * 0.95);
    ASSERT_EQ(target->progress.size(), 6u);
    EXPECT_NEAR(target->progress[0], 0.0f, 1e-3);
    EXPECT_NEAR(target->progress[3], 3 / 6.0f, 0.02);
    for (std::size_t i = 1; i < target->progress.size(); ++i)
        EXPECT_GT(target->progress[i], target->progress[i - 1]);
    EXPECT_EQ(movie->progress(), 1.0f);
}

TEST_F(GPXMovieTest, RepeatingRestartsOnTheMainQueueUntilCancelled) {
    ClipSpec spec;
    spec.frames = 3;
    spec.audio = false;
    auto movie = make<GPXMovie>(url(clip("r.mp4", spec)));
    auto target = make<RecordingInput>();
    movie->addTarget(target);
    movie->setShouldRepeat(true);
    movie->startProcessing();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return target->count("newFrame") >= 7; }, 20));
    movie->cancelProcessing();
    testsupport::pumpMainRunLoop(0.3);
    const int frames = target->count("newFrame");
    testsupport::pumpMainRunLoop(0.3);
    EXPECT_EQ(target->count("newFrame"), frames);
}

TEST_F(GPXMovieTest, FilesThatAreNotMoviesEndWithAFailedReaderAndCrashNothing) {
    std::ofstream(dir.file("bad.mp4")) << "not a movie";
    std::vector<std::string> logged;
    std::mutex loggedMutex;
    auto previous = NSLogSetSink([&](const std::string& line) {
        std::lock_guard lock(loggedMutex);
        logged.push_back(line);
    });
    auto target = make<RecordingInput>();
    {
        auto movie = make<GPXMovie>(url(dir.file("bad.mp4")));
        movie->addTarget(target);
        auto delegate = make<CompletionRecorder>();
        movie->setDelegate(delegate);
        movie->startProcessing();  // the tracks fail to load: the movie ends, its reader failed
        ASSERT_EQ(
            dispatch_semaphore_wait(delegate->done, dispatch_time(DISPATCH_TIME_NOW, 10 * NSEC_PER_SEC)), 0);
        EXPECT_EQ(delegate->completions.load(), 1);
        ASSERT_NE(movie->assetReader(), nullptr);
        EXPECT_EQ(movie->assetReader()->status(), AVAssetReaderStatusFailed);
        EXPECT_NE(movie->assetReader()->error(), nullptr);
        EXPECT_EQ(movie->progress(), 0.0f);
    }
    auto asset = AVURLAsset::URLAssetWithURL(url(dir.file("bad.mp4")));
    auto movie = make<GPXMovie>(Ref<AVAsset>(asset));
    movie->addTarget(target);
    auto delegate = make<CompletionRecorder>();
    movie->setDelegate(delegate);
    movie->startProcessing();
    EXPECT_EQ(delegate->completions.load(), 1);
    NSLogSetSink(previous);
    EXPECT_EQ(target->count("newFrame"), 0);
    EXPECT_GE(target->count("end"), 2);
    int errors = 0;
    for (auto& line : logged) errors += line.rfind("Error reading from file at URL: ", 0) == 0;
    EXPECT_EQ(errors, 2);
}

TEST_F(GPXMovieTest, PlayerItemPlaybackFollowsTheDisplayLink) {
    ClipSpec spec;
    spec.frames = 6;
    spec.framesPerSecond = 10;
    auto item = AVPlayerItem::playerItemWithURL(url(clip("p.mp4", spec)));
    testsupport::ManualClock clock;
    auto movie = make<GPXMovie>(item);
    auto [target, delegate] = listenTo(movie);
    movie->startProcessing();
    auto link = movie->displayLink();
    ASSERT_NE(link, nullptr);
    EXPECT_TRUE(link->isPaused());
    clock.advance(0.2);
    EXPECT_EQ(target->count("newFrame"), 0);  // paused until the output has media

    auto player = AVPlayer::playerWithPlayerItem(item);
    player->play();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return !link->isPaused(); }));
    clock.advance(0.35);
    const int early = target->count("newFrame");
    EXPECT_GE(early, 3);
    EXPECT_LE(early, 5);
    clock.advance(1.0);
    EXPECT_EQ(target->count("newFrame"), 6);
    std::vector<double> times;
    for (auto& e : target->events()) {
        if (e.call == "newFrame") times.push_back(CMTimeGetSeconds(e.time));
    }
    for (std::size_t i = 1; i < times.size(); ++i) EXPECT_GT(times[i], times[i - 1]);

    movie->endProcessing();
    EXPECT_EQ(delegate->completions.load(), 1);
    EXPECT_FALSE(link->isValid());
    EXPECT_EQ(movie->displayLink(), nullptr);
}

TEST_F(GPXMovieTest, ACompositionIsReadWithItsVideoCompositionAndAudioMix) {
    ClipSpec spec;
    spec.frames = 4;
    auto source = AVURLAsset::URLAssetWithURL(url(clip("c.mp4", spec)));
    auto composition = make<AVMutableComposition>(Ref<AVAsset>(source));
    auto videoComposition = make<AVMutableVideoComposition>();
    videoComposition->setRenderScale(0.5f);
    auto movie = make<GPXMovieComposition>(composition, videoComposition, make<AVMutableAudioMix>());
    auto target = make<RecordingInput>();
    movie->addTarget(target);
    movie->startProcessing();
    EXPECT_EQ(target->count("newFrame"), 4);
    EXPECT_EQ(videoComposition->renderScale(), 1.0f);
    EXPECT_EQ(movie->compositon(), composition);
}

}  // namespace
