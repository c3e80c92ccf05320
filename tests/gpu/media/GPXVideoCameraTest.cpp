#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "dispatch/Clock.h"
#include "gpu/core/GPUCoreTesting.h"
#include "gpu/core/GPXFilter.h"
#include "gpu/core/GPXRawDataOutput.h"
#include "gpu/media/GPXStillCamera.h"
#include "gpu/media/GPXVideoCamera.h"
#include "gpu/media/GPXView.h"
#include "graphics/CGImageSource.h"
#include "tests/gpu/core/GPUTestSupport.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"

using namespace gputest;

namespace {

// A target that moves the manual clock by a fixed step per frame, so frame times are known.
class SlowTarget : public RecordingInput {
  public:
    void newFrameReadyAtTime(CMTime time, long index) override {
        PlatformClock::advance(0.020);
        RecordingInput::newFrameReadyAtTime(time, index);
    }
};

// Holds each frame on the context queue until released, to keep one in flight.
class GateDelegate : public NSObject, public GPXVideoCameraDelegate {
  public:
    dispatch_semaphore_t entered = dispatch_semaphore_create(0);
    dispatch_semaphore_t gate = dispatch_semaphore_create(0);
    std::atomic<bool> closed{true};
    void willOutputSampleBuffer(const CMSampleBufferRef&) override {
        dispatch_semaphore_signal(entered);
        if (closed.load()) dispatch_semaphore_wait(gate, dispatch_time(DISPATCH_TIME_NOW, 10 * NSEC_PER_SEC));
    }
};

class GPXVideoCameraTest : public ::testing::Test {
  protected:
    void SetUp() override {
        AVCaptureStandIn::reset();
        AVCapturePipelineStandIn::reset();
    }
    void TearDown() override {
        AVCapturePipelineStandIn::reset();
        AVCaptureStandIn::reset();
        gpu_core_testing::setMaximumTextureSizeOverride(0);
    }
    // Pushes a frame and waits until the camera has handed it on (or dropped it).
    void pushAndWait(const CMSampleBufferRef& frame) {
        push(frame);
        drainCamera();
    }
    void push(const CMSampleBufferRef& frame) {
        // Cameras of earlier tests may still be going; each running one takes the frame.
        AVCapturePipelineStandIn::pushVideoSampleBuffer(frame);
    }
    // Every sample taken so far, by any output (of this test or an earlier one), has been handed
    // to its delegate. Counting against what the outputs took, not against a baseline read when
    // the test began: a delivery of an earlier test may end after that read.
    static bool waitForDeliveries() {
        const long taken = AVCapturePipelineStandIn::acceptedSampleBufferCount();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (AVCapturePipelineStandIn::deliveredSampleBufferCount() < taken &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return AVCapturePipelineStandIn::deliveredSampleBufferCount() >= taken;
    }
    // Everything pushed so far has reached the cameras and gone through the context queue.
    void drainCamera() {
        EXPECT_TRUE(waitForDeliveries());
        drainSharedQueue();
    }
    void waitUntilNotCapturing(const Ref<GPXStillCamera>& camera) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (camera->photoOutput()->isCapturingStillImage() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_FALSE(camera->photoOutput()->isCapturingStillImage());
    }
};

TEST_F(GPXVideoCameraTest, RotationTableByCameraMirroringAndOrientation) {
    struct Row {
        bool back, mirrored;
        GPURotationMode portrait, upsideDown, landscapeLeft, landscapeRight;
    } rows[] = {
        {true, false, rotationRight, rotationLeft, rotation180, rotationNone},
        {true, true, rotationRightFlipVertical, rotation180, rotationFlipHorizontal, rotationFlipVertical},
        {false, false, rotationRight, rotationLeft, rotationNone, rotation180},
        {false, true, rotationRightFlipVertical, rotationRightFlipHorizontal, rotationFlipHorizontal,
         rotationFlipVertical},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.back) + std::to_string(r.mirrored));
        EXPECT_EQ(detail::cameraRotation(r.back, r.mirrored, UIInterfaceOrientationPortrait), r.portrait);
        EXPECT_EQ(detail::cameraRotation(r.back, r.mirrored, UIInterfaceOrientationPortraitUpsideDown),
                  r.upsideDown);
        EXPECT_EQ(detail::cameraRotation(r.back, r.mirrored, UIInterfaceOrientationLandscapeLeft),
                  r.landscapeLeft);
        EXPECT_EQ(detail::cameraRotation(r.back, r.mirrored, UIInterfaceOrientationLandscapeRight),
                  r.landscapeRight);
        EXPECT_EQ(detail::cameraRotation(r.back, r.mirrored, UIInterfaceOrientationUnknown), rotationNone);
    }
}

TEST_F(GPXVideoCameraTest, NoCameraAtThePositionGivesNoCamera) {
    AVCaptureStandIn::setCameraConnected(AVCaptureDevicePositionFront, false);
    EXPECT_EQ(
        GPXVideoCamera::cameraWithSessionPreset(AVCaptureSessionPreset640x480, AVCaptureDevicePositionFront),
        nullptr);
    EXPECT_FALSE(GPXVideoCamera::isFrontFacingCameraPresent());
    auto camera = GPXVideoCamera::camera();
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(camera->captureSessionPreset(), AVCaptureSessionPreset640x480);
    EXPECT_EQ(camera->cameraPosition(), AVCaptureDevicePositionBack);
    camera->setOutputImageOrientation(UIInterfaceOrientationLandscapeLeft);
    camera->rotateCamera();  // no front camera: nothing changes
    EXPECT_EQ(camera->cameraPosition(), AVCaptureDevicePositionBack);
    EXPECT_EQ(camera->outputRotation(), rotation180);
    EXPECT_FALSE(camera->videoOutput()->alwaysDiscardsLateVideoFrames());
    EXPECT_NE(camera->videoCaptureConnection(), nullptr);
}

TEST_F(GPXVideoCameraTest, LensSwapRecomputesTheRotation) {
    auto camera = GPXVideoCamera::camera();
    ASSERT_NE(camera, nullptr);
    auto target = make<RecordingInput>();
    camera->addTarget(target);
    camera->setOutputImageOrientation(UIInterfaceOrientationLandscapeLeft);
    EXPECT_EQ(camera->outputRotation(), rotation180);
    camera->rotateCamera();
    EXPECT_EQ(camera->cameraPosition(), AVCaptureDevicePositionFront);
    EXPECT_EQ(camera->inputCamera()->position(), AVCaptureDevicePositionFront);
    EXPECT_EQ(camera->outputRotation(), rotationNone);
    camera->setHorizontallyMirrorFrontFacingCamera(true);
    EXPECT_EQ(camera->outputRotation(), rotationFlipHorizontal);
    EXPECT_EQ(target->events().back().rotation, rotationFlipHorizontal);
    camera->rotateCamera();
    EXPECT_EQ(camera->cameraPosition(), AVCaptureDevicePositionBack);
    EXPECT_EQ(camera->outputRotation(), rotation180);
}

TEST_F(GPXVideoCameraTest, FrameRateSetsTheCamerasFrameDurations) {
    auto camera = GPXVideoCamera::camera();
    camera->setFrameRate(15);
    EXPECT_EQ(camera->frameRate(), 15);
    EXPECT_EQ(CMTimeCompare(camera->inputCamera()->activeVideoMinFrameDuration(), CMTimeMake(1, 15)), 0);
    EXPECT_EQ(CMTimeCompare(camera->inputCamera()->activeVideoMaxFrameDuration(), CMTimeMake(1, 15)), 0);
    camera->setFrameRate(0);
    EXPECT_TRUE(CMTIME_IS_INVALID(camera->inputCamera()->activeVideoMinFrameDuration()));
    EXPECT_TRUE(CMTIME_IS_INVALID(camera->inputCamera()->activeVideoMaxFrameDuration()));
}

TEST_F(GPXVideoCameraTest, PushedFramesFlowThroughFiltersToRawDataAndTheView) {
    auto camera = GPXVideoCamera::camera();
    camera->setOutputImageOrientation(UIInterfaceOrientationLandscapeRight);  // back camera: no turn
    auto filter = make<GPXFilter>();
    auto raw = make<GPXRawDataOutput>(CGSizeMake(8, 4), false);
    auto arrived = dispatch_semaphore_create(0);
    raw->setNewFrameAvailableBlock([arrived] { dispatch_semaphore_signal(arrived); });
    auto view = make<GPXView>(CGRectMake(0, 0, 16, 8));
    camera->addTarget(filter);
    filter->addTarget(raw);
    filter->addTarget(view);
    pushAndWait(
        AVCapturePipelineStandIn::makeBGRASampleBuffer(8, 4, 0x000000ff, CMTimeMake(1, 30)));  // not running
    camera->startCameraCapture();
    pushAndWait(AVCapturePipelineStandIn::makeBGRASampleBuffer(8, 4, 0x336699ff, CMTimeMake(2, 30)));
    ASSERT_TRUE(waitFor(arrived));
    EXPECT_EQ(raw->colorAtLocation(CGPointMake(3, 2)), (GPUByteColorVector{0x33, 0x66, 0x99, 0xff}));
    EXPECT_EQ(view->eaglLayer()->presentCount(), 1u);
    EXPECT_TRUE(near(rgbaAt(view->eaglLayer()->presentedImage(), 8, 4), {0x33, 0x66, 0x99, 0xff}));
    camera->stopCameraCapture();
    pushAndWait(AVCapturePipelineStandIn::makeBGRASampleBuffer(8, 4, 0x000000ff, CMTimeMake(3, 30)));
    EXPECT_EQ(view->eaglLayer()->presentCount(), 1u);  // neither frame outside the running session
}

TEST_F(GPXVideoCameraTest, PortraitBGRAFramesAreToldTheRowWidthAndTheTurn) {
    auto camera = GPXVideoCamera::camera();
    camera->setOutputImageOrientation(UIInterfaceOrientationPortrait);
    auto target = make<RecordingInput>();
    target->lockInputs_ = true;
    target->unlockOnFrame_ = true;
    camera->addTarget(target);
    camera->startCameraCapture();
    target->clear();
    pushAndWait(
        AVCapturePipelineStandIn::makeBGRASampleBuffer(1920, 1080, 0x000000ff, CMTimeMake(1, 30), 1936 * 4));
    auto events = target->events();
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events[0].call, "rotation");
    EXPECT_EQ(events[0].rotation, rotationRight);
    EXPECT_EQ(events[1].call, "size");
    EXPECT_EQ(events[1].size, CGSizeMake(1936, 1080));
    EXPECT_EQ(events.back().call, "newFrame");
    EXPECT_EQ(camera->framebufferForOutput(), nullptr);  // the camera let its frame go
}

TEST_F(GPXVideoCameraTest, FramesArrivingDuringProcessingAreDroppedAndPausedFramesGoNowhere) {
    auto camera = GPXVideoCamera::camera();
    auto gate = make<GateDelegate>();
    camera->setDelegate(gate);
    auto target = make<RecordingInput>();
    camera->addTarget(target);
    camera->startCameraCapture();
    auto frame = [](int n) {
        return AVCapturePipelineStandIn::makeBGRASampleBuffer(4, 4, 0xff0000ff, CMTimeMake(n, 30));
    };
    push(frame(1));
    ASSERT_TRUE(waitFor(gate->entered));  // frame 1 is in flight
    for (int n = 2; n <= 4; ++n) push(frame(n));
    ASSERT_TRUE(waitForDeliveries());  // frames 2 to 4 met the frame still in flight
    gate->closed = false;
    dispatch_semaphore_signal(gate->gate);
    drainCamera();
    EXPECT_EQ(target->count("newFrame"), 1);
    pushAndWait(frame(5));
    EXPECT_EQ(target->count("newFrame"), 2);

    camera->pauseCameraCapture();
    EXPECT_TRUE(camera->isCapturePaused());
    pushAndWait(frame(6));
    EXPECT_EQ(target->count("newFrame"), 2);
    camera->resumeCameraCapture();
    pushAndWait(frame(7));
    EXPECT_EQ(target->count("newFrame"), 3);
}

TEST_F(GPXVideoCameraTest, AverageFrameTimeCountsFromTheSixthFrameAndIsZeroBefore) {
    testsupport::ManualClock clock;
    auto camera = GPXVideoCamera::camera();
    camera->setRunBenchmark(true);
    auto target = make<SlowTarget>();
    camera->addTarget(target);
    camera->startCameraCapture();
    for (int n = 1; n <= 5; ++n)
        pushAndWait(AVCapturePipelineStandIn::makeBGRASampleBuffer(4, 4, 0xff, CMTimeMake(n, 30)));
    EXPECT_EQ(camera->averageFrameDurationDuringCapture(), 0.0);  // five frames: nothing timed yet
    for (int n = 6; n <= 10; ++n)
        pushAndWait(AVCapturePipelineStandIn::makeBGRASampleBuffer(4, 4, 0xff, CMTimeMake(n, 30)));
    EXPECT_NEAR(camera->averageFrameDurationDuringCapture(), 20.0, 1e-3);
    camera->resetBenchmarkAverage();
    EXPECT_EQ(camera->averageFrameDurationDuringCapture(), 0.0);
}

TEST_F(GPXVideoCameraTest, MicrophoneAudioGoesToTheAudioEncodingTarget) {
    testsupport::TemporaryDirectory dir;
    AVCaptureStandIn::setMicrophoneConnected(true);
    auto camera = GPXVideoCamera::camera();
    auto writer = make<GPXMovieWriter>(NSURL::fileURLWithPath(dir.file("cam.mp4")), CGSizeMake(16, 16),
                                       AVFileTypeMPEG4, Value());
    camera->setAudioEncodingTarget(writer);
    EXPECT_TRUE(writer->hasAudioTrack());
    EXPECT_EQ(camera->captureSession()->outputs().size(), 2u);
    camera->startCameraCapture();
    writer->startRecording();
    auto samples =
        make<CMSampleBuffer>(std::vector<std::int16_t>(1024, 100), 1u, 44100.0, CMTimeMake(0, 44100));
    EXPECT_EQ(AVCapturePipelineStandIn::pushAudioSampleBuffer(samples), 1);
    dispatch_barrier_sync(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_LOW, 0), [] {});
    performSyncOnContextQueue(writer->movieWriterContext(), [] {});
    EXPECT_NEAR(CMTimeGetSeconds(writer->duration()), 0, 1e-9);
    EXPECT_TRUE(CMTIME_IS_VALID(writer->duration()));
    camera->setAudioEncodingTarget(nullptr);
    EXPECT_EQ(camera->captureSession()->outputs().size(), 1u);
    writer->cancelRecording();
}

class GPXStillCameraTest : public GPXVideoCameraTest {};

TEST_F(GPXStillCameraTest, PhotoAsProcessedPictureAndJPEG) {
    auto camera = GPXStillCamera::camera();
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(camera->captureSessionPreset(), AVCaptureSessionPresetPhoto);
    EXPECT_FALSE(camera->captureAsYUV());
    EXPECT_EQ(camera->jpegCompressionQuality(), 0.8);
    camera->setOutputImageOrientation(UIInterfaceOrientationLandscapeRight);
    auto filter = make<GPXFilter>();
    camera->addTarget(filter);
    camera->startCameraCapture();
    auto photo = AVCapturePipelineStandIn::makeBGRASampleBuffer(40, 30, 0x208040ff, CMTimeMake(1, 30));
    photo->setAttachment("{Exif}", Value(Dictionary{{"ExposureTime", 0.01}}),
                         kCVAttachmentMode_ShouldPropagate);
    AVCapturePipelineStandIn::setStillPhoto(photo);

    auto done = dispatch_semaphore_create(0);
    Ref<UIImage> image;
    Ref<NSError> error;
    Dictionary metadata;
    camera->capturePhotoAsImageProcessedUpToFilter(filter, [&](const Ref<UIImage>& i, const Ref<NSError>& e) {
        image = i;
        error = e;
        metadata = camera->currentCaptureMetadata();
        dispatch_semaphore_signal(done);
    });
    ASSERT_TRUE(waitFor(done));
    ASSERT_EQ(error, nullptr);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->size(), CGSizeMake(40, 30));
    EXPECT_TRUE(near(rgbaAt(image->CGImage(), 20, 15), {0x20, 0x80, 0x40, 0xff}));
    EXPECT_TRUE(metadata.containsKey("{Exif}"));
    waitUntilNotCapturing(camera);
    EXPECT_TRUE(camera->currentCaptureMetadata().empty());

    std::optional<NSData> jpeg;
    camera->capturePhotoAsJPEGProcessedUpToFilter(filter,
                                                  [&](const std::optional<NSData>& d, const Ref<NSError>& e) {
                                                      jpeg = d;
                                                      error = e;
                                                      dispatch_semaphore_signal(done);
                                                  });
    ASSERT_TRUE(waitFor(done));
    waitUntilNotCapturing(camera);
    ASSERT_TRUE(jpeg.has_value());
    EXPECT_EQ(jpeg->bytes()[0], 0xFF);
    EXPECT_EQ(jpeg->bytes()[1], 0xD8);
    std::optional<NSData> png;
    camera->capturePhotoAsPNGProcessedUpToFilter(filter, UIImageOrientation::Up,
                                                 [&](const std::optional<NSData>& d, const Ref<NSError>&) {
                                                     png = d;
                                                     dispatch_semaphore_signal(done);
                                                 });
    ASSERT_TRUE(waitFor(done));
    ASSERT_TRUE(png.has_value());
    EXPECT_EQ(png->bytes()[1], 'P');

    // The preview goes on afterwards: the frame semaphore was given back each time.
    auto target = make<RecordingInput>();
    camera->addTarget(target);
    pushAndWait(AVCapturePipelineStandIn::makeBGRASampleBuffer(4, 4, 0xff, CMTimeMake(9, 30)));
    EXPECT_EQ(target->count("newFrame"), 1);
}

TEST_F(GPXStillCameraTest, ASecondRequestWhileOneIsInFlightGetsErrorMinus11830AtOnce) {
    auto camera = GPXStillCamera::camera();
    auto filter = make<GPXFilter>();
    camera->addTarget(filter);
    camera->startCameraCapture();
    AVCapturePipelineStandIn::setHoldStillCaptures(true);
    auto first = dispatch_semaphore_create(0);
    Ref<NSError> firstError = NSError::errorWithDomain("unset", 0);
    camera->capturePhotoAsImageProcessedUpToFilter(filter, [&](const Ref<UIImage>&, const Ref<NSError>& e) {
        firstError = e;
        dispatch_semaphore_signal(first);
    });
    Ref<NSError> secondError;
    bool answered = false;
    camera->capturePhotoAsJPEGProcessedUpToFilter(filter,
                                                  [&](const std::optional<NSData>& d, const Ref<NSError>& e) {
                                                      secondError = e;
                                                      answered = !d.has_value();
                                                  });
    EXPECT_TRUE(answered);  // at once, on this thread
    ASSERT_NE(secondError, nullptr);
    EXPECT_EQ(secondError->domain(), AVFoundationErrorDomain);
    EXPECT_EQ(secondError->code(), -11830);
    AVCapturePipelineStandIn::setHoldStillCaptures(false);
    ASSERT_TRUE(waitFor(first));
    EXPECT_EQ(firstError, nullptr);
}

TEST_F(GPXStillCameraTest, FailedCapturesAndOversizedPlanarPhotosAnswerWithAnError) {
    auto camera = GPXStillCamera::camera();
    auto filter = make<GPXFilter>();
    camera->addTarget(filter);
    camera->startCameraCapture();
    auto done = dispatch_semaphore_create(0);
    Ref<NSError> error;
    std::optional<NSData> data = NSData();
    auto handler = [&](const std::optional<NSData>& d, const Ref<NSError>& e) {
        data = d;
        error = e;
        dispatch_semaphore_signal(done);
    };
    AVCapturePipelineStandIn::setStillPhoto(nullptr);
    camera->capturePhotoAsJPEGProcessedUpToFilter(filter, handler);
    ASSERT_TRUE(waitFor(done));
    waitUntilNotCapturing(camera);
    EXPECT_NE(error, nullptr);
    EXPECT_FALSE(data.has_value());

    gpu_core_testing::setMaximumTextureSizeOverride(64);
    CVPixelBufferRef planar;
    CVPixelBufferCreate(128, 96, kCVPixelFormatType_420YpCbCr8BiPlanarFullRange, &planar);
    CMVideoFormatDescriptionRef format;
    CMVideoFormatDescriptionCreateForImageBuffer(planar, &format);
    CMSampleBufferRef planarPhoto;
    CMSampleBufferCreateForImageBuffer(planar, true, format, CMSampleTimingInfo{}, &planarPhoto);
    AVCapturePipelineStandIn::setStillPhoto(planarPhoto);
    data = NSData();
    camera->capturePhotoAsPNGProcessedUpToFilter(filter, handler);
    ASSERT_TRUE(waitFor(done));
    EXPECT_NE(error, nullptr);
    EXPECT_FALSE(data.has_value());

    // Neither failure kept the preview's frame semaphore.
    auto target = make<RecordingInput>();
    camera->addTarget(target);
    pushAndWait(AVCapturePipelineStandIn::makeBGRASampleBuffer(4, 4, 0xff, CMTimeMake(9, 30)));
    EXPECT_EQ(target->count("newFrame"), 1);
}

TEST_F(GPXStillCameraTest, PhotosLargerThanATextureAreScaledDown) {
    auto large = AVCapturePipelineStandIn::makeBGRASampleBuffer(4896, 3264, 0x102030ff, CMTimeMake(1, 30));
    gpu_core_testing::setMaximumTextureSizeOverride(4096);
    const CGSize fitted = GPXContext::sizeThatFitsWithinATextureForSize(CGSizeMake(4896, 3264));
    auto scaled = detail::makeScaledSampleBuffer(large->imageBuffer(), fitted);
    ASSERT_NE(scaled, nullptr);
    EXPECT_EQ(scaled->imageBuffer()->width(), 4096u);
    EXPECT_EQ(scaled->imageBuffer()->height(), static_cast<std::size_t>(fitted.height));
    EXPECT_EQ(CMTimeCompare(scaled->presentationTimeStamp(), CMTimeMake(1, 30)), 0);
    const std::uint8_t* p =
        scaled->imageBuffer()->baseAddress() + 100 * scaled->imageBuffer()->bytesPerRow() + 400;
    EXPECT_NEAR(p[2], 0x10, 1);
    EXPECT_NEAR(p[1], 0x20, 1);
    EXPECT_NEAR(p[0], 0x30, 1);

    // Through the camera: a 98 x 65 photo with a texture limit of 64 arrives at 64 x 42.
    gpu_core_testing::setMaximumTextureSizeOverride(64);
    auto camera = GPXStillCamera::camera();
    camera->setOutputImageOrientation(UIInterfaceOrientationLandscapeRight);
    auto filter = make<GPXFilter>();
    camera->addTarget(filter);
    camera->startCameraCapture();
    AVCapturePipelineStandIn::setStillPhoto(
        AVCapturePipelineStandIn::makeBGRASampleBuffer(98, 65, 0x102030ff, CMTimeMake(1, 30)));
    auto done = dispatch_semaphore_create(0);
    Ref<UIImage> image;
    camera->capturePhotoAsImageProcessedUpToFilter(filter, [&](const Ref<UIImage>& i, const Ref<NSError>&) {
        image = i;
        dispatch_semaphore_signal(done);
    });
    ASSERT_TRUE(waitFor(done));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->size(), CGSizeMake(64, 42));
}

TEST_F(GPXStillCameraTest, TheSampleBufferFormOnlyLogs) {
    auto camera = GPXStillCamera::camera();
    bool called = false;
    camera->capturePhotoAsSampleBufferWithCompletionHandler(
        [&](const CMSampleBufferRef&, const Ref<NSError>&) { called = true; });
    EXPECT_FALSE(called);
}

}  // namespace
