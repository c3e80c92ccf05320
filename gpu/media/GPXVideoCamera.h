#pragma once
// The live-camera source. A capture session runs one camera; each video frame becomes an RGBA
// framebuffer (planar YUV converted on the GPU where the texture cache exists, BGRA uploaded
// otherwise), tagged with the rotation the interface orientation and mirroring call for, and
// handed to the targets. A frame that arrives while the previous one is still being processed is
// dropped, so the context queue never builds a backlog. Microphone audio can go to a movie
// writer.
//
// Capture callbacks arrive on global queues; all GL work and every hand-off to targets runs on
// the shared context queue. Made through cameraWithSessionPreset, which answers nullptr when there
// is no camera at the position or the session refuses the output.

#include <atomic>
#include <functional>
#include <mutex>

#include "dispatch/Dispatch.h"
#include "foundation/NSDate.h"
#include "gpu/core/GLProgram.h"
#include "gpu/core/GPXOutput.h"
#include "gpu/media/GPXMediaShaders.h"
#include "gpu/media/GPXMovieWriter.h"
#include "media/CaptureDataOutputs.h"
#include "uikit/UIApplication.h"

inline constexpr char AVCaptureSessionPreset640x480[] = "AVCaptureSessionPreset640x480";

class GPXVideoCameraDelegate {
  public:
    virtual ~GPXVideoCameraDelegate() = default;
    virtual void willOutputSampleBuffer(const CMSampleBufferRef& sampleBuffer) {}
};

class GPXVideoCamera : public GPXOutput, public AVCaptureVideoDataOutputSampleBufferDelegate {
  public:
    GPXVideoCamera(std::string sessionPreset, AVCaptureDevicePosition cameraPosition);
    ~GPXVideoCamera() override;
    void didInit();
    // The 640x480 preset and the back camera.
    static Ref<GPXVideoCamera> camera();
    static Ref<GPXVideoCamera> cameraWithSessionPreset(const std::string& sessionPreset,
                                                       AVCaptureDevicePosition cameraPosition);
    std::string className() const override { return "GPXVideoCamera"; }

    void startCameraCapture();
    void stopCameraCapture();
    void pauseCameraCapture() { capturePaused_.store(true); }
    void resumeCameraCapture() { capturePaused_.store(false); }
    void rotateCamera();
    AVCaptureDevicePosition cameraPosition() const;
    static bool isBackFacingCameraPresent();
    static bool isFrontFacingCameraPresent();
    bool frontFacingCameraPresent() const { return isFrontFacingCameraPresent(); }
    bool backFacingCameraPresent() const { return isBackFacingCameraPresent(); }
    void setCaptureSessionPreset(const std::string& preset);
    std::string captureSessionPreset() const;
    void setFrameRate(std::int32_t frameRate);
    std::int32_t frameRate() const { return frameRate_.load(); }
    Ref<AVCaptureConnection> videoCaptureConnection() const;
    void addTargetAtTextureLocation(const Ref<GPXInput>& newTarget, long textureLocation) override;
    void setAudioEncodingTarget(const Ref<GPXMovieWriter>& newValue);
    Ref<GPXMovieWriter> audioEncodingTarget() const;
    // Milliseconds per frame over the counted frames after the first five; 0 until there are more
    // than five.
    double averageFrameDurationDuringCapture() const;
    void resetBenchmarkAverage();
    Ref<GPXFramebuffer> framebufferForOutput() override;

    bool addAudioInputsAndOutputs();
    bool removeAudioInputsAndOutputs();
    virtual void removeInputsAndOutputs();

    void processVideoSampleBuffer(const CMSampleBufferRef& sampleBuffer);
    void processAudioSampleBuffer(const CMSampleBufferRef& sampleBuffer);
    // AVCaptureVideoDataOutputSampleBufferDelegate (video and audio).
    void captureOutputDidOutputSampleBuffer(const Ref<AVCaptureOutput>& captureOutput,
                                            const CMSampleBufferRef& sampleBuffer,
                                            const Ref<AVCaptureConnection>& connection) override;

    const Ref<AVCaptureSession>& captureSession() const { return captureSession_; }
    Ref<AVCaptureDevice> inputCamera() const;
    bool runBenchmark() const { return runBenchmark_.load(); }
    void setRunBenchmark(bool v) { runBenchmark_.store(v); }
    bool horizontallyMirrorFrontFacingCamera() const { return mirrorFront_.load(); }
    void setHorizontallyMirrorFrontFacingCamera(bool v);
    bool horizontallyMirrorRearFacingCamera() const { return mirrorRear_.load(); }
    void setHorizontallyMirrorRearFacingCamera(bool v);
    UIInterfaceOrientation outputImageOrientation() const { return outputImageOrientation_.load(); }
    void setOutputImageOrientation(UIInterfaceOrientation orientation);
    void setDelegate(const Weak<GPXVideoCameraDelegate>& delegate);
    GPURotationMode outputRotation();
    GPURotationMode internalRotation();
    bool captureAsYUV() const { return captureAsYUV_.load(); }
    bool isCapturePaused() const { return capturePaused_.load(); }
    const dispatch_semaphore_t& frameRenderingSemaphore() const { return frameRenderingSemaphore_; }
    const Ref<AVCaptureVideoDataOutput>& videoOutput() const { return videoOutput_; }

  protected:
    // Set up in didInit; a camera that failed leaves it false.
    bool initialized_ = false;
    std::atomic<bool> captureAsYUV_{true};
    dispatch_semaphore_t frameRenderingSemaphore_;
    Ref<AVCaptureSession> captureSession_;

  private:
    void updateOrientationSendToTargets();
    void convertYUVToRGBOutput();
    void updateTargetsForVideoCameraUsingCacheTextureAtWidth(int bufferWidth, int bufferHeight,
                                                             CMTime currentTime);

    std::string requestedPreset_;
    AVCaptureDevicePosition requestedPosition_;
    dispatch_queue_t cameraProcessingQueue_, audioProcessingQueue_;

    mutable std::mutex mutex_;  // guards the fields below
    Ref<AVCaptureDevice> inputCamera_;
    Ref<AVCaptureDevice> microphone_;
    Ref<AVCaptureDeviceInput> videoInput_, audioInput_;
    Ref<AVCaptureAudioDataOutput> audioOutput_;
    std::string captureSessionPreset_;
    Ref<GPXMovieWriter> audioEncodingTarget_;
    bool addedAudioInputsDueToEncodingTarget_ = false;
    Weak<GPXVideoCameraDelegate> delegate_;
    NSDate startingCaptureTime_;
    std::uint64_t numberOfFramesCaptured_ = 0;
    double totalFrameTimeDuringCapture_ = 0;

    Ref<AVCaptureVideoDataOutput> videoOutput_;
    std::atomic<bool> capturePaused_{false};
    std::atomic<bool> runBenchmark_{false}, mirrorFront_{false}, mirrorRear_{false};
    std::atomic<std::int32_t> frameRate_{0};
    std::atomic<UIInterfaceOrientation> outputImageOrientation_{UIInterfaceOrientationPortrait};

    // Touched on the shared context queue only.
    GPURotationMode outputRotation_ = rotationNone, internalRotation_ = rotationNone;
    detail::YUVConversion yuvConversion_;
    const GLfloat* preferredConversion_ = nullptr;
    bool isFullYUVRange_ = false;
    int imageBufferWidth_ = 0, imageBufferHeight_ = 0;
};

namespace detail {
// The rotation for a camera (back or not), mirroring and interface orientation.
GPURotationMode cameraRotation(bool backCamera, bool mirrored, UIInterfaceOrientation orientation);
}  // namespace detail
