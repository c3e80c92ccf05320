#include <gtest/gtest.h>

#include "dispatch/Dispatch.h"
#include "media/AVCapture.h"  // capture and movie names live side by side
#include "media/AVPlayerItem.h"
#include "media/CADisplayLink.h"
#include "tests/support/MainLoop.h"
#include "tests/support/MovieClips.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

class Listener : public NSObject, public AVPlayerItemOutputPullDelegate {
  public:
    std::atomic<int> notices{0};
    void outputMediaDataWillChange(const Ref<AVPlayerItemVideoOutput>&) override { ++notices; }
};

TEST(CADisplayLinkTest, TicksOnTheClockWhileNotPausedAndStopsWhenInvalidated) {
    ManualClock clock;
    int ticks = 0;
    double lastStamp = 0;
    auto link = CADisplayLink::displayLinkWithTarget([&](const Ref<CADisplayLink>& l) {
        ++ticks;
        lastStamp = l->timestamp();
        EXPECT_DOUBLE_EQ(l->duration(), 1.0 / 60);
    });
    link->addToRunLoop(NSRunLoop::mainRunLoop(), NSRunLoopCommonModes);
    clock.advance(0.5);
    EXPECT_NEAR(ticks, 30, 1);
    EXPECT_GT(lastStamp, 0);
    link->setPaused(true);
    clock.advance(0.5);
    EXPECT_NEAR(ticks, 30, 1);
    link->setPaused(false);
    clock.advance(0.1);
    EXPECT_NEAR(ticks, 36, 1);
    link->invalidate();
    EXPECT_FALSE(link->isValid());
    clock.advance(0.5);
    EXPECT_NEAR(ticks, 36, 1);
    EXPECT_EQ(AVAudioSession::sharedInstance()->sampleRate(), 44100);
}

TEST(AVPlayerItemTest, VideoOutputHandsOutFramesAsThePlayerClockMoves) {
    TemporaryDirectory dir;
    ClipSpec spec;
    spec.frames = 6;
    spec.framesPerSecond = 10;
    ASSERT_TRUE(writeClip(dir.file("clip.mp4"), spec));
    ManualClock clock;
    auto item = AVPlayerItem::playerItemWithURL(NSURL::fileURLWithPath(dir.file("clip.mp4")));
    auto output = make<AVPlayerItemVideoOutput>(
        Dictionary{{kCVPixelBufferPixelFormatTypeKey, kCVPixelFormatType_32BGRA}});
    auto listener = make<Listener>();
    auto queue = dispatch_queue_create("test.output");
    output->setDelegate(listener, queue);
    item->addOutput(output);
    output->requestNotificationOfMediaDataChangeWithAdvanceInterval(0.1);
    EXPECT_EQ(listener->notices.load(), 0);

    auto player = AVPlayer::playerWithPlayerItem(item);
    const double start = CACurrentMediaTime();
    EXPECT_TRUE(output->hasNewPixelBufferForItemTime(output->itemTimeForHostTime(start)));  // frame 0 at 0
    player->play();
    dispatch_sync(queue, [] {});
    EXPECT_EQ(listener->notices.load(), 1);

    CMTime shown;
    auto first =
        output->copyPixelBufferForItemTime(output->itemTimeForHostTime(CACurrentMediaTime()), &shown);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(CMTimeGetSeconds(shown), 0);
    EXPECT_FALSE(output->hasNewPixelBufferForItemTime(output->itemTimeForHostTime(CACurrentMediaTime())));

    clock.advance(0.25);  // frames 1 and 2 are due; the latest is handed out
    auto later =
        output->copyPixelBufferForItemTime(output->itemTimeForHostTime(CACurrentMediaTime()), &shown);
    ASSERT_NE(later, nullptr);
    EXPECT_NEAR(CMTimeGetSeconds(shown), 0.2, 1e-3);
    EXPECT_EQ(later->width(), 64u);

    player->pause();
    clock.advance(1.0);
    EXPECT_NEAR(CMTimeGetSeconds(item->currentTime()), 0.25, 1e-2);
    player->play();
    clock.advance(5.0);
    EXPECT_NEAR(CMTimeGetSeconds(item->currentTime()), 0.6, 0.05);  // stops at the end
    auto last = output->copyPixelBufferForItemTime(item->currentTime(), &shown);
    ASSERT_NE(last, nullptr);
    EXPECT_NEAR(CMTimeGetSeconds(shown), 0.5, 1e-3);
    EXPECT_FALSE(output->hasNewPixelBufferForItemTime(item->currentTime()));
}

TEST(CVPixelBufferTest, FormatsPlanesAttachmentsAndWrappedBytes) {
    CVPixelBufferRef bgra, planar, bad;
    ASSERT_EQ(CVPixelBufferCreate(6, 4, kCVPixelFormatType_32BGRA, &bgra), kCVReturnSuccess);
    EXPECT_EQ(bgra->bytesPerRow(), 24u);
    EXPECT_EQ(bgra->planeCount(), 0u);
    ASSERT_EQ(CVPixelBufferCreate(6, 4, kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange, &planar),
              kCVReturnSuccess);
    ASSERT_EQ(planar->planeCount(), 2u);
    EXPECT_EQ(planar->plane(1).width, 3u);
    EXPECT_EQ(planar->plane(1).height, 2u);
    EXPECT_EQ(CVPixelBufferCreate(0, 4, kCVPixelFormatType_32BGRA, &bad), kCVReturnInvalidArgument);
    EXPECT_EQ(CVPixelBufferCreate(4, 4, 0x1234, &bad), kCVReturnInvalidArgument);
    EXPECT_EQ(bad, nullptr);

    CVBufferSetAttachment(bgra, kCVImageBufferYCbCrMatrixKey, Value(kCVImageBufferYCbCrMatrix_ITU_R_709_2),
                          kCVAttachmentMode_ShouldPropagate);
    CVBufferSetAttachment(bgra, "private", Value(1), kCVAttachmentMode_ShouldNotPropagate);
    EXPECT_EQ(CVBufferGetAttachment(bgra, kCVImageBufferYCbCrMatrixKey).stringValue(), "ITU_R_709_2");
    CMVideoFormatDescriptionRef format;
    ASSERT_EQ(CMVideoFormatDescriptionCreateForImageBuffer(bgra, &format), noErr);
    CMSampleTimingInfo timing{CMTimeMake(1, 30), CMTimeMake(1, 30), kCMTimeInvalid};
    CMSampleBufferRef sample;
    ASSERT_EQ(CMSampleBufferCreateForImageBuffer(bgra, true, format, timing, &sample), noErr);
    sample->setAttachment("{Exif}", Value(Dictionary{{"x", 1}}), kCVAttachmentMode_ShouldPropagate);
    auto attachments = CMCopyDictionaryOfAttachments(sample, kCVAttachmentMode_ShouldPropagate);
    EXPECT_TRUE(attachments.containsKey(kCVImageBufferYCbCrMatrixKey));
    EXPECT_TRUE(attachments.containsKey("{Exif}"));
    EXPECT_FALSE(attachments.containsKey("private"));
    EXPECT_EQ(CMSampleBufferGetNumSamples(sample), 1);
    AudioBufferList list;
    EXPECT_EQ(CMSampleBufferGetAudioBufferListWithRetainedBlockBuffer(sample, &list),
              kCMSampleBufferError_InvalidMediaFormat);
    EXPECT_TRUE(CMSampleBufferIsValid(sample));
    CMSampleBufferInvalidate(sample);
    EXPECT_FALSE(CMSampleBufferIsValid(sample));

    int released = 0;
    static std::uint8_t bytes[8 * 2 * 4];
    {
        CVPixelBufferRef wrapped;
        ASSERT_EQ(CVPixelBufferCreateWithBytes(
                      8, 2, kCVPixelFormatType_32BGRA, bytes, 32,
                      [&](void*, const void* base) {
                          EXPECT_EQ(base, bytes);
                          ++released;
                      },
                      nullptr, &wrapped),
                  kCVReturnSuccess);
        EXPECT_EQ(CVPixelBufferGetBaseAddress(wrapped), bytes);
        EXPECT_EQ(
            CVPixelBufferCreateWithBytes(8, 2, kCVPixelFormatType_32BGRA, bytes, 16, nullptr, nullptr, &bad),
            kCVReturnInvalidArgument);
    }
    EXPECT_EQ(released, 1);

    auto audio =
        make<CMSampleBuffer>(std::vector<std::int16_t>{1, 2, 3, 4, 5, 6}, 2u, 8000.0, CMTimeMake(0, 8000));
    ASSERT_EQ(CMSampleBufferGetAudioBufferListWithRetainedBlockBuffer(audio, &list), noErr);
    EXPECT_EQ(CMSampleBufferGetNumSamples(audio), 3);
    static_cast<std::int16_t*>(list.mBuffers[0].mData)[0] = 42;  // changes reach the buffer
    EXPECT_EQ(audio->audioSampleVector()[0], 42);
}

}  // namespace
