#pragma once
// The capture outputs the GPU pipeline's cameras use: frames and audio handed to a delegate on a
// queue, and still photos as pixel buffers.
//
// There is no camera here: tests push the frames and audio (AVCapturePipelineStandIn). A pushed
// sample reaches every data output of its kind whose session is running, on the queue the output
// was given, as the platform delivers capture callbacks. A still capture answers on a global
// queue with the photo the stand-in holds (or with an error), and may be held back until a test
// releases it, to look at a capture in flight.

#include <functional>
#include <mutex>
#include <vector>

#include "dispatch/Dispatch.h"
#include "media/AVCapture.h"
#include "media/CMSampleBuffer.h"

class AVCaptureVideoDataOutputSampleBufferDelegate {
  public:
    virtual ~AVCaptureVideoDataOutputSampleBufferDelegate() = default;
    virtual void captureOutputDidOutputSampleBuffer(const Ref<AVCaptureOutput>& captureOutput,
                                                    const CMSampleBufferRef& sampleBuffer,
                                                    const Ref<AVCaptureConnection>& connection) {}
};
using AVCaptureAudioDataOutputSampleBufferDelegate = AVCaptureVideoDataOutputSampleBufferDelegate;

// Shared by the two data outputs: the delegate, its queue, and delivery while the session runs.
class AVCaptureDataOutput : public AVCaptureOutput {
  public:
    void setSampleBufferDelegate(const Weak<AVCaptureVideoDataOutputSampleBufferDelegate>& delegate,
                                 dispatch_queue_t queue);
    Ref<AVCaptureVideoDataOutputSampleBufferDelegate> sampleBufferDelegate() const;
    // Hands the sample to the delegate on its queue when the output's session is running; false
    // when it went nowhere.
    bool deliverSampleBuffer(const CMSampleBufferRef& sampleBuffer);
    std::string className() const override { return "AVCaptureDataOutput"; }

  private:
    Weak<AVCaptureVideoDataOutputSampleBufferDelegate> delegate_;
    dispatch_queue_t queue_;
};

class AVCaptureVideoDataOutput : public AVCaptureDataOutput {
  public:
    void didInit();
    std::string className() const override { return "AVCaptureVideoDataOutput"; }
    bool alwaysDiscardsLateVideoFrames() const;
    void setAlwaysDiscardsLateVideoFrames(bool value);
    // 420v, 420f and BGRA.
    std::vector<OSType> availableVideoCVPixelFormatTypes() const;
    Dictionary videoSettings() const;
    void setVideoSettings(Dictionary settings);

  private:
    bool alwaysDiscards_ = true;
    Dictionary videoSettings_;
};

class AVCaptureAudioDataOutput : public AVCaptureDataOutput {
  public:
    void didInit();
    std::string className() const override { return "AVCaptureAudioDataOutput"; }
};

// Still photos as pixel buffers (the pipeline runs them through its filters).
class AVCaptureStillImagePixelOutput : public AVCaptureOutput {
  public:
    using Handler =
        std::function<void(const CMSampleBufferRef& imageDataSampleBuffer, const Ref<NSError>& error)>;
    std::string className() const override { return "AVCaptureStillImagePixelOutput"; }

    // 420v, 420f and BGRA.
    std::vector<OSType> availableImageDataCVPixelFormatTypes() const;
    Dictionary outputSettings() const;
    void setOutputSettings(Dictionary settings);
    // From the request until its handler has returned.
    bool isCapturingStillImage() const;
    void captureStillImageAsynchronouslyFromConnection(const Ref<AVCaptureConnection>& connection,
                                                       Handler handler);

  private:
    friend class AVCapturePipelineStandIn;
    mutable std::mutex stillMutex_;
    Dictionary settings_;
    int capturing_ = 0;
};

// What tests push through the pipeline cameras. Thread-safe.
class AVCapturePipelineStandIn {
  public:
    // Back to no held captures and the default photo (a 640 x 480 grey BGRA frame).
    static void reset();
    // To every video (or audio) data output whose session is running; answers how many took it.
    static int pushVideoSampleBuffer(const CMSampleBufferRef& sampleBuffer);
    static int pushAudioSampleBuffer(const CMSampleBufferRef& sampleBuffer);
    // How many pushed samples have been handed to their delegates so far (the delegate returned).
    static long deliveredSampleBufferCount();
    // How many pushed samples a running output has taken so far; once the delivered count has
    // reached it, no delivery of those is still under way (a baseline kept by the caller cannot
    // tell that: a delivery taken earlier may end after it was read).
    static long acceptedSampleBufferCount();
    // The photo a still capture answers with; nullptr: the capture answers with an error.
    static void setStillPhoto(CMSampleBufferRef photo);
    // While held, still captures wait; releasing answers them.
    static void setHoldStillCaptures(bool hold);
    // A BGRA frame of the colour (RGBA), rows of bytesPerRow (0: width x 4), at the time.
    static CMSampleBufferRef makeBGRASampleBuffer(std::size_t width, std::size_t height, std::uint32_t rgba,
                                                  CMTime time, std::size_t bytesPerRow = 0);
};
