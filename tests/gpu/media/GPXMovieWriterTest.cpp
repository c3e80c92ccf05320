#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "foundation/NSLog.h"
#include "gpu/core/GPXFramebufferCache.h"
#include "gpu/core/GPXPicture.h"
#include "gpu/media/GPXMovieWriter.h"
#include "gpu/media/GPXUIElement.h"
#include "tests/gpu/core/GPUTestSupport.h"
#include "tests/support/MovieClips.h"
#include "tests/support/TestSupport.h"

using namespace gputest;

namespace {

class FailureRecorder : public NSObject, public GPXMovieWriterDelegate {
  public:
    std::atomic<int> completed{0};
    Ref<NSError> error;
    void movieRecordingCompleted() override { ++completed; }
    bool implementsMovieRecordingCompleted() const override { return true; }
    void movieRecordingFailedWithError(const Ref<NSError>& e) override { error = e; }
    bool implementsMovieRecordingFailedWithError() const override { return true; }
};

class GPXMovieWriterTest : public ::testing::Test {
  protected:
    Ref<NSURL> url(const std::string& name) { return NSURL::fileURLWithPath(dir.file(name)); }

    // Hands the writer a frame of the picture at the time, as a producer does.
    void feed(const Ref<GPXMovieWriter>& writer, CMTime time) {
        performSyncOnSharedContextQueue([&] {
            writer->setInputSize(CGSizeMake(16, 16), 0);
            writer->setInputFramebuffer(picture->framebufferForOutput(), 0);
            writer->newFrameReadyAtTime(time, 0);
        });
    }
    // Waits until the writer's queue has done what was handed to it.
    void drain(const Ref<GPXMovieWriter>& writer) {
        performSyncOnContextQueue(writer->movieWriterContext(), [] {});
    }
    bool finish(const Ref<GPXMovieWriter>& writer) {
        auto done = dispatch_semaphore_create(0);
        writer->finishRecordingWithCompletionHandler([done] { dispatch_semaphore_signal(done); });
        return waitFor(done);
    }

    testsupport::TemporaryDirectory dir;
    Ref<GPXPicture> picture = make<GPXPicture>(makeSolidImage(16, 16, {200, 100, 50, 255}));
};

TEST_F(GPXMovieWriterTest, FramesOutsideRecordingOrWithoutANewTimeAreDroppedAndGivenBack) {
    auto writer = make<GPXMovieWriter>(url("w.mov"), CGSizeMake(16, 16));
    EXPECT_EQ(writer->assetWriter()->outputFileType(), AVFileTypeQuickTimeMovie);
    EXPECT_EQ(writer->maximumOutputSize(), CGSizeMake(16, 16));
    auto framebuffer =
        GPXContext::sharedFramebufferCache()->fetchFramebufferForSize(CGSizeMake(16, 16), false);
    const auto locks = framebuffer->framebufferReferenceCount();
    writer->setInputFramebuffer(framebuffer, 0);
    writer->newFrameReadyAtTime(CMTimeMake(1, 30), 0);  // before startRecording
    EXPECT_EQ(framebuffer->framebufferReferenceCount(), locks);
    framebuffer->unlock();

    writer->startRecording();
    EXPECT_TRUE(writer->isRecording());
    feed(writer, CMTimeMake(0, 30));
    drain(writer);
    feed(writer, CMTimeMake(0, 30));  // the same time again
    feed(writer, kCMTimeIndefinite);  // a still picture's or a UI element's update
    feed(writer, kCMTimeInvalid);
    feed(writer, CMTimeMake(1, 30));
    drain(writer);
    EXPECT_EQ(writer->framesAppended(), 2);
    EXPECT_NEAR(CMTimeGetSeconds(writer->duration()), 1 / 30.0, 1e-6);
    ASSERT_TRUE(finish(writer));
    auto movie = testsupport::readMovie(dir.file("w.mov"));
    ASSERT_TRUE(movie.ok) << movie.error;
    ASSERT_EQ(movie.frames.size(), 2u);
    const std::uint8_t* p = movie.frames[1].at(8, 8);
    EXPECT_NEAR(p[2], 200, 6);
    EXPECT_NEAR(p[1], 100, 6);
    EXPECT_NEAR(p[0], 50, 6);
}

TEST_F(GPXMovieWriterTest, AUIElementsUntimedUpdatesAreNotWritten) {
    auto view = make<UIView>(CGRectMake(0, 0, 16, 16));
    view->setContentScaleFactor(1);
    auto element = make<GPXUIElement>(view);
    auto writer = make<GPXMovieWriter>(url("ui.mp4"), CGSizeMake(16, 16), AVFileTypeMPEG4, Value());
    element->addTarget(writer);
    writer->startRecording();
    element->update();
    drain(writer);
    EXPECT_EQ(writer->framesAppended(), 0);
    element->updateWithTimestamp(CMTimeMake(1, 600));
    drain(writer);
    EXPECT_EQ(writer->framesAppended(), 1);
    ASSERT_TRUE(finish(writer));
}

TEST_F(GPXMovieWriterTest, FinishingAWriterThatNeverStartedStillCallsBackLater) {
    auto writer = make<GPXMovieWriter>(url("never.mp4"), CGSizeMake(16, 16), AVFileTypeMPEG4, Value());
    std::atomic<bool> called{false};
    auto done = dispatch_semaphore_create(0);
    writer->finishRecordingWithCompletionHandler([&] {
        called = true;
        dispatch_semaphore_signal(done);
    });
    ASSERT_TRUE(waitFor(done));
    EXPECT_TRUE(called.load());
    EXPECT_FALSE(std::filesystem::exists(dir.file("never.mp4")));
}

TEST_F(GPXMovieWriterTest, CancelledMidwayLeavesNoFileAndReportsNoCompletion) {
    auto writer = make<GPXMovieWriter>(url("c.mp4"), CGSizeMake(16, 16), AVFileTypeMPEG4, Value());
    int completions = 0;
    writer->setCompletionBlock([&] { ++completions; });
    writer->startRecording();
    for (int f = 0; f < 5; ++f) feed(writer, CMTimeMake(f, 30));
    drain(writer);
    EXPECT_TRUE(std::filesystem::exists(dir.file("c.mp4")));
    writer->cancelRecording();
    EXPECT_EQ(writer->assetWriter()->status(), AVAssetWriterStatusCancelled);
    EXPECT_FALSE(std::filesystem::exists(dir.file("c.mp4")));
    writer->endProcessing();  // a source ending after the cancel
    EXPECT_EQ(completions, 0);
    ASSERT_TRUE(finish(writer));
    EXPECT_FALSE(std::filesystem::exists(dir.file("c.mp4")));
    EXPECT_EQ(writer->assetWriter()->status(), AVAssetWriterStatusCancelled);
}

TEST_F(GPXMovieWriterTest, AudioAloneGivesTheDurationAndTheProcessingCallbackChangesSamples) {
    auto writer = make<GPXMovieWriter>(url("a.mp4"), CGSizeMake(16, 16), AVFileTypeMPEG4, Value());
    writer->setHasAudioTrack(true);
    const Dictionary* settings = writer->assetWriter()->inputs().back()->outputSettings().dictionary();
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ((*settings)[AVSampleRateKey].doubleValue(), 44100);
    EXPECT_EQ((*settings)[AVNumberOfChannelsKey].intValue(), 1);
    EXPECT_EQ((*settings)[AVEncoderBitRateKey].intValue(), 64000);
    EXPECT_EQ((*settings)[AVChannelLayoutKey].data()->length(), 32u);
    long seen = 0;
    writer->setAudioProcessingCallback([&](std::int16_t** samples, long count) {
        seen += count;
        (*samples)[0] = 1234;
    });
    writer->startRecording();
    auto first = testsupport::clipAudio(0, 1024, 44100, 1);
    auto second = make<CMSampleBuffer>(testsupport::clipAudio(1024, 1024, 44100, 1)->audioSampleVector(), 1u,
                                       44100.0, CMTimeMake(1024, 44100));
    writer->processAudioBuffer(first);
    writer->processAudioBuffer(second);
    drain(writer);
    EXPECT_EQ(seen, 2048);
    EXPECT_EQ(first->audioSampleVector()[0], 1234);
    EXPECT_NEAR(CMTimeGetSeconds(writer->duration()), 1024 / 44100.0, 1e-6);
    // Video and audio both start the session at the first sample; the movie needs a frame too.
    feed(writer, CMTimeMake(1, 30));
    drain(writer);
    ASSERT_TRUE(finish(writer));
    auto movie = testsupport::readMovie(dir.file("a.mp4"));
    ASSERT_TRUE(movie.ok) << movie.error;
    EXPECT_NEAR(movie.audioFrames, 2048, 1024);
}

TEST_F(GPXMovieWriterTest, OutputSettingsLiveFlagAndMissingKeys) {
    AssertionRecorder assertions;
    auto offline = make<GPXMovieWriter>(url("o.mp4"), CGSizeMake(16, 16), AVFileTypeMPEG4,
                                        Dictionary{{AVVideoCodecKey, AVVideoCodecH264},
                                                   {AVVideoWidthKey, 16},
                                                   {AVVideoHeightKey, 16},
                                                   {"EncodingLiveVideo", false}});
    EXPECT_FALSE(offline->encodingLiveVideo());
    auto input = offline->assetWriter()->inputs().front();
    EXPECT_FALSE(input->expectsMediaDataInRealTime());
    EXPECT_FALSE(input->outputSettings().dictionary()->containsKey("EncodingLiveVideo"));
    EXPECT_TRUE(assertions.messages().empty());

    offline->startRecording();
    offline->setEncodingLiveVideo(true);
    EXPECT_TRUE(assertions.saw("Can not change Encoding Live Video while recording"));
    EXPECT_TRUE(offline->encodingLiveVideo());
    offline->cancelRecording();

    auto missing = make<GPXMovieWriter>(url("m.mp4"), CGSizeMake(16, 16), AVFileTypeMPEG4,
                                        Dictionary{{AVVideoCodecKey, AVVideoCodecH264}});
    EXPECT_TRUE(assertions.saw("OutputSettings is missing required parameters."));
    missing->startRecording();
    feed(missing, CMTimeMake(0, 30));
    drain(missing);
    EXPECT_EQ(missing->framesAppended(), 0);
}

TEST_F(GPXMovieWriterTest, AnExistingFileIsReportedToTheFailureBlockOrTheDelegate) {
    std::ofstream(dir.file("taken.mp4")) << "keep";
    std::vector<std::string> logged;
    auto previous = NSLogSetSink([&](const std::string& line) { logged.push_back(line); });
    auto writer = make<GPXMovieWriter>(url("taken.mp4"), CGSizeMake(16, 16), AVFileTypeMPEG4, Value());
    NSLogSetSink(previous);
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.front().rfind("Error: ", 0), 0u);
    EXPECT_EQ(writer->assetWriter()->status(), AVAssetWriterStatusFailed);
    writer->startRecording();
    feed(writer, CMTimeMake(0, 30));
    drain(writer);
    EXPECT_EQ(writer->framesAppended(), 0);
    std::ifstream in(dir.file("taken.mp4"));
    std::string kept;
    in >> kept;
    EXPECT_EQ(kept, "keep");

    auto delegate = make<FailureRecorder>();
    writer->setDelegate(delegate);
    writer->endProcessing();
    writer->endProcessing();
    EXPECT_EQ(delegate->completed.load(), 2);  // without a completion block, every time
}

}  // namespace
