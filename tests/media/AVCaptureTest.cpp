// The still-capture stand-in: cameras and their flash, sessions and their inputs, captures that
// answer off the calling thread, and the preview that freezes when the session stops.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "foundation/NSThread.h"
#include "graphics/UIGraphics.h"
#include "graphics/UIImage.h"
#include "media/AVCapture.h"
#include "tests/support/MainLoop.h"

namespace {

NSData jpegOfColour(double red, double green, double blue, CGSize size = CGSizeMake(64, 48)) {
    UIGraphicsBeginImageContextWithOptions(size, true, 1);
    CGContextSetRGBFillColor(UIGraphicsGetCurrentContext(), red, green, blue, 1);
    CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, size.width, size.height));
    Ref<UIImage> image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return *UIImageJPEGRepresentation(image, 0.9);
}

struct Shot {
    std::atomic<bool> done{false};
    std::atomic<bool> onMain{false};
    Ref<AVCaptureSampleBuffer> buffer;
    Ref<NSError> error;
    AVCaptureStillImageOutput::Handler handler() {
        return [this](const Ref<AVCaptureSampleBuffer>& b, const Ref<NSError>& e) {
            onMain = NSThread::isMainThread();
            buffer = b;
            error = e;
            done = true;
        };
    }
    bool wait() {
        return testsupport::pumpMainRunLoopUntil([this] { return done.load(); });
    }
};

class AVCaptureTest : public ::testing::Test {
  public:
    void SetUp() override { AVCaptureStandIn::reset(); }
    void TearDown() override { AVCaptureStandIn::reset(); }

    // A running session with the default camera and a JPEG still output.
    void build() {
        session = make<AVCaptureSession>();
        device = AVCaptureDevice::defaultDeviceWithMediaType(AVMediaTypeVideo);
        ASSERT_TRUE(device);
        input = AVCaptureDeviceInput::deviceInputWithDevice(device, nullptr);
        ASSERT_TRUE(input);
        session->addInput(input);
        output = make<AVCaptureStillImageOutput>();
        Dictionary settings = Dictionary::mutableDictionary();
        settings.setObject(AVVideoCodecKey, AVVideoCodecJPEG);
        output->setOutputSettings(settings);
        session->addOutput(output);
        session->startRunning();
    }

    Ref<AVCaptureSession> session;
    Ref<AVCaptureDevice> device;
    Ref<AVCaptureDeviceInput> input;
    Ref<AVCaptureStillImageOutput> output;
};

}  // namespace

TEST_F(AVCaptureTest, TheBackCameraHasAFlashAndTheFrontCameraNone) {
    auto back = AVCaptureDevice::defaultDeviceWithMediaType(AVMediaTypeVideo);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->position(), AVCaptureDevicePositionBack);
    EXPECT_TRUE(back->hasFlash());
    EXPECT_EQ(back->flashMode(), AVCaptureFlashModeAuto);
    EXPECT_TRUE(back->hasMediaType(AVMediaTypeVideo));
    auto devices = AVCaptureDevice::devicesWithMediaType(AVMediaTypeVideo);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[1]->position(), AVCaptureDevicePositionFront);
    EXPECT_FALSE(devices[1]->hasFlash());
    EXPECT_EQ(devices[1]->flashMode(), AVCaptureFlashModeOff);
    EXPECT_TRUE(AVCaptureDevice::devicesWithMediaType(AVMediaTypeAudio).empty());
    EXPECT_FALSE(AVCaptureDevice::defaultDeviceWithMediaType(AVMediaTypeAudio));
    // The same camera answers again.
    EXPECT_EQ(AVCaptureDevice::defaultDeviceWithMediaType(AVMediaTypeVideo), back);
}

TEST_F(AVCaptureTest, TheFlashChangesOnlyUnderTheLockAndOnlyWhereThereIsOne) {
    auto back = AVCaptureDevice::defaultDeviceWithMediaType(AVMediaTypeVideo);
    back->setFlashMode(AVCaptureFlashModeOff);  // not locked
    EXPECT_EQ(back->flashMode(), AVCaptureFlashModeAuto);
    ASSERT_TRUE(back->lockForConfiguration(nullptr));
    back->setFlashMode(AVCaptureFlashModeOff);
    EXPECT_EQ(back->flashMode(), AVCaptureFlashModeOff);
    back->setFlashMode(AVCaptureFlashModeOn);
    EXPECT_EQ(back->flashMode(), AVCaptureFlashModeOn);
    back->unlockForConfiguration();
    back->setFlashMode(AVCaptureFlashModeAuto);
    EXPECT_EQ(back->flashMode(), AVCaptureFlashModeOn);

    auto front = AVCaptureDevice::devicesWithMediaType(AVMediaTypeVideo).at(1);
    ASSERT_TRUE(front->lockForConfiguration(nullptr));
    front->setFlashMode(AVCaptureFlashModeAuto);
    EXPECT_EQ(front->flashMode(), AVCaptureFlashModeOff);
    EXPECT_FALSE(front->isFlashModeSupported(AVCaptureFlashModeAuto));
    EXPECT_TRUE(front->isFlashModeSupported(AVCaptureFlashModeOff));
    front->unlockForConfiguration();
}

TEST_F(AVCaptureTest, ARemovedCameraGivesNoInputAndCannotBeLocked) {
    AVCaptureStandIn::setCameraConnected(AVCaptureDevicePositionFront, false);
    auto devices = AVCaptureDevice::devicesWithMediaType(AVMediaTypeVideo);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0]->position(), AVCaptureDevicePositionBack);

    auto back = devices[0];
    AVCaptureStandIn::setCameraConnected(AVCaptureDevicePositionBack, false);
    EXPECT_FALSE(AVCaptureDevice::defaultDeviceWithMediaType(AVMediaTypeVideo));
    Ref<NSError> error;
    EXPECT_FALSE(AVCaptureDeviceInput::deviceInputWithDevice(back, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), AVErrorDeviceNotConnected);
    error = nullptr;
    EXPECT_FALSE(back->lockForConfiguration(&error));
    EXPECT_TRUE(error);
    EXPECT_FALSE(AVCaptureDeviceInput::deviceInputWithDevice(nullptr, nullptr));

    AVCaptureStandIn::setCameraConnected(AVCaptureDevicePositionBack, true);
    EXPECT_TRUE(AVCaptureDeviceInput::deviceInputWithDevice(back, nullptr));
}

TEST_F(AVCaptureTest, SessionsKeepTheirInputsAndOutputsInOrderWithoutDuplicates) {
    build();
    EXPECT_EQ(session->sessionPreset(), AVCaptureSessionPresetHigh);
    session->addInput(input);
    session->addInput(nullptr);
    EXPECT_EQ(session->inputs().size(), 1u);
    EXPECT_FALSE(session->canAddOutput(output));
    // An output belongs to one session.
    auto other = make<AVCaptureSession>();
    EXPECT_FALSE(other->canAddOutput(output));
    EXPECT_EQ(output->outputSettings().objectForKey(AVVideoCodecKey), Value(AVVideoCodecJPEG));

    auto connections = output->connections();
    ASSERT_EQ(connections.size(), 1u);
    ASSERT_EQ(connections[0]->inputPorts().size(), 1u);
    EXPECT_EQ(connections[0]->inputPorts()[0]->mediaType(), AVMediaTypeVideo);

    auto front = AVCaptureDevice::devicesWithMediaType(AVMediaTypeVideo).at(1);
    auto frontInput = AVCaptureDeviceInput::deviceInputWithDevice(front, nullptr);
    session->beginConfiguration();
    session->removeInput(input);
    session->addInput(frontInput);
    EXPECT_EQ(session->configurationDepth(), 1);
    session->commitConfiguration();
    EXPECT_EQ(session->configurationDepth(), 0);
    session->commitConfiguration();  // an extra commit does not go below zero
    EXPECT_EQ(session->configurationDepth(), 0);
    ASSERT_EQ(session->inputs().size(), 1u);
    EXPECT_EQ(std::dynamic_pointer_cast<AVCaptureDeviceInput>(session->inputs()[0])->device(), front);

    session->removeOutput(output);
    EXPECT_TRUE(output->connections().empty());
    EXPECT_TRUE(other->canAddOutput(output));
}

TEST_F(AVCaptureTest, AStillCaptureAnswersOffTheMainThreadWithTheSuppliedJPEG) {
    NSData frame = jpegOfColour(0.9, 0.1, 0.1);
    AVCaptureStandIn::setStillFrame(frame);
    build();
    Shot shot;
    output->captureStillImageAsynchronouslyFromConnection(output->connections().at(0), shot.handler());
    ASSERT_TRUE(shot.wait());
    EXPECT_FALSE(shot.onMain);
    EXPECT_FALSE(shot.error);
    auto bytes = AVCaptureStillImageOutput::jpegStillImageNSDataRepresentation(shot.buffer);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, frame);
    EXPECT_EQ(AVCaptureStandIn::captureCount(), 1);
}

TEST_F(AVCaptureTest, WithoutASuppliedFrameTheCaptureIsAPlainPicture) {
    build();
    Shot shot;
    output->captureStillImageAsynchronouslyFromConnection(output->connections().at(0), shot.handler());
    ASSERT_TRUE(shot.wait());
    auto bytes = AVCaptureStillImageOutput::jpegStillImageNSDataRepresentation(shot.buffer);
    ASSERT_TRUE(bytes);
    auto image = UIImage::imageWithData(*bytes);
    ASSERT_TRUE(image);
    EXPECT_GT(image->size().width, 0);
}

TEST_F(AVCaptureTest, CapturesThatCannotSucceedAnswerWithoutABuffer) {
    struct Case {
        const char* name;
        std::function<void(AVCaptureTest&)> arrange;
        bool useConnection;
    };
    const Case cases[] = {
        {"asked for no buffer", [](AVCaptureTest&) { AVCaptureStandIn::setAnswersWithoutBuffer(true); },
         true},
        {"no connection", [](AVCaptureTest&) {}, false},
        {"session stopped", [](AVCaptureTest& t) { t.session->stopRunning(); }, true},
    };
    for (const Case& c : cases) {
        AVCaptureStandIn::reset();
        build();
        c.arrange(*this);
        Shot shot;
        output->captureStillImageAsynchronouslyFromConnection(
            c.useConnection ? output->connections().at(0) : nullptr, shot.handler());
        ASSERT_TRUE(shot.wait()) << c.name;
        EXPECT_FALSE(shot.buffer) << c.name;
        EXPECT_TRUE(shot.error) << c.name;
        EXPECT_FALSE(shot.onMain) << c.name;
        EXPECT_FALSE(AVCaptureStillImageOutput::jpegStillImageNSDataRepresentation(shot.buffer)) << c.name;
    }
    // No handler: nothing to call, nothing breaks.
    output->captureStillImageAsynchronouslyFromConnection(output->connections().at(0), nullptr);
}

TEST_F(AVCaptureTest, ThePreviewShowsTheFrameWhileRunningAndKeepsItWhenStopped) {
    AVCaptureStandIn::setStillFrame(jpegOfColour(0.1, 0.8, 0.1, CGSizeMake(40, 30)));
    auto idle = make<AVCaptureSession>();
    auto preview = AVCaptureVideoPreviewLayer::layerWithSession(idle);
    preview->setVideoGravity(AVLayerVideoGravityResizeAspectFill);
    EXPECT_EQ(preview->contentsGravity(), kCAGravityResizeAspectFill);
    EXPECT_EQ(preview->session(), idle);
    EXPECT_FALSE(preview->contents());  // not running yet
    idle->startRunning();
    ASSERT_TRUE(preview->contents());
    EXPECT_EQ(CGImageGetWidth(preview->contents()), 40u);
    EXPECT_EQ(preview->framesShown(), 1);
    idle->stopRunning();
    EXPECT_TRUE(preview->contents());  // frozen on the last frame
    AVCaptureStandIn::setStillFrame(jpegOfColour(0.1, 0.1, 0.8, CGSizeMake(20, 10)));
    idle->startRunning();
    EXPECT_EQ(CGImageGetWidth(preview->contents()), 20u);
    EXPECT_EQ(preview->framesShown(), 2);
}

TEST_F(AVCaptureTest, ASessionStartedOnAnotherThreadUpdatesItsPreviewOnTheMainThread) {
    auto session = make<AVCaptureSession>();
    auto preview = AVCaptureVideoPreviewLayer::layerWithSession(session);
    std::thread([session] { session->startRunning(); }).join();
    EXPECT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return preview->framesShown() == 1; }));
}

TEST_F(AVCaptureTest, SessionsAndDevicesTakeCallsFromManyThreads) {
    build();
    std::vector<std::thread> threads;
    std::atomic<int> answered{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 25; ++i) {
                if (device->lockForConfiguration(nullptr)) {
                    device->setFlashMode(i % 2 ? AVCaptureFlashModeOff : AVCaptureFlashModeAuto);
                    device->unlockForConfiguration();
                }
                session->beginConfiguration();
                session->commitConfiguration();
                (void)output->connections();
                output->captureStillImageAsynchronouslyFromConnection(
                    output->connections().at(0),
                    [&](const Ref<AVCaptureSampleBuffer>&, const Ref<NSError>&) { ++answered; });
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return answered.load() == 100; }));
    EXPECT_EQ(session->configurationDepth(), 0);
}
