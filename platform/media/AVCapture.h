#pragma once
// Still-photo capture: a session joins a camera's input to a JPEG still output, and a preview
// layer shows what the session sees.
//
// There is no camera on this machine, so the devices are stand-ins: a back camera with a flash
// (flash mode auto at start) and a front camera without one. Tests and tools configure them
// through AVCaptureStandIn below: either camera can be taken away, and the picture a still
// capture answers with is supplied as JPEG bytes (or the capture answers without a buffer).
//
// A still capture answers on a global dispatch queue, never on the caller's thread, as the
// platform does. A running session's preview layers show the supplied frame, scaled by the layer's
// video gravity; a stopped session leaves its last frame in place (a frozen preview).
//
// Sessions, devices and outputs may be used from any thread (their state is behind locks); the
// preview layer belongs to the main thread like every layer.

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"
#include "media/AVMediaFormat.h"
#include "media/CMTime.h"
#include "uikit/CALayer.h"

inline constexpr char AVCaptureSessionPresetHigh[] = "AVCaptureSessionPresetHigh";
inline constexpr char AVCaptureSessionPresetPhoto[] = "AVCaptureSessionPresetPhoto";
inline constexpr char AVVideoCodecJPEG[] = "jpeg";
inline constexpr char AVLayerVideoGravityResize[] = "AVLayerVideoGravityResize";
inline constexpr char AVLayerVideoGravityResizeAspect[] = "AVLayerVideoGravityResizeAspect";
inline constexpr char AVLayerVideoGravityResizeAspectFill[] = "AVLayerVideoGravityResizeAspectFill";
// The domain of capture errors, and the codes the stand-in uses.
inline constexpr long AVErrorDeviceNotConnected = -11814;
inline constexpr long AVErrorSessionNotRunning = -11803;

enum AVCaptureDevicePosition : long {
    AVCaptureDevicePositionUnspecified = 0,
    AVCaptureDevicePositionBack = 1,
    AVCaptureDevicePositionFront = 2,
};

enum AVCaptureFlashMode : long {
    AVCaptureFlashModeOff = 0,
    AVCaptureFlashModeOn = 1,
    AVCaptureFlashModeAuto = 2,
};

// A camera. Devices are shared objects: the same position answers the same device until the
// stand-in is reset.
class AVCaptureDevice : public NSObject {
  public:
    AVCaptureDevice(std::string uniqueID, AVCaptureDevicePosition position, bool hasFlash);
    // A device of another media type (the microphone): no position, no flash.
    AVCaptureDevice(std::string uniqueID, std::string mediaType);
    std::string className() const override { return "AVCaptureDevice"; }

    // The back camera when there is one, else any camera; nullptr for another media type or no
    // camera at all.
    static Ref<AVCaptureDevice> defaultDeviceWithMediaType(const std::string& mediaType);
    // Every connected camera (back first); empty for another media type.
    static std::vector<Ref<AVCaptureDevice>> devicesWithMediaType(const std::string& mediaType);

    const std::string& uniqueID() const { return uniqueID_; }
    AVCaptureDevicePosition position() const { return position_; }
    bool hasMediaType(const std::string& mediaType) const { return mediaType == mediaType_; }
    bool hasFlash() const { return hasFlash_; }
    bool isFlashModeSupported(AVCaptureFlashMode mode) const;
    // False once the stand-in took the camera away.
    bool isConnected() const;

    AVCaptureFlashMode flashMode() const;
    // Needs the configuration lock; without it, or for an unsupported mode, the change is refused
    // with a log line (the platform raises).
    void setFlashMode(AVCaptureFlashMode mode);

    // Fails (false, with the error) for a camera that is no longer connected.
    bool lockForConfiguration(Ref<NSError>* error);
    void unlockForConfiguration();

    // The frame durations a camera runs at; the invalid time (the default) lets the camera choose.
    // Changed only under lockForConfiguration, like the flash mode.
    CMTime activeVideoMinFrameDuration() const;
    void setActiveVideoMinFrameDuration(CMTime duration);
    CMTime activeVideoMaxFrameDuration() const;
    void setActiveVideoMaxFrameDuration(CMTime duration);

  private:
    friend class AVCaptureStandIn;
    mutable std::mutex mutex_;
    std::string uniqueID_;
    AVCaptureDevicePosition position_;
    bool hasFlash_;
    AVCaptureFlashMode flashMode_;
    int locks_ = 0;
    bool connected_ = true;
    std::string mediaType_ = AVMediaTypeVideo;
    CMTime minFrameDuration_ = kCMTimeInvalid;
    CMTime maxFrameDuration_ = kCMTimeInvalid;
};

class AVCaptureInputPort : public NSObject {
  public:
    explicit AVCaptureInputPort(std::string mediaType) : mediaType_(std::move(mediaType)) {}
    std::string className() const override { return "AVCaptureInputPort"; }
    const std::string& mediaType() const { return mediaType_; }

  private:
    std::string mediaType_;
};

class AVCaptureInput : public NSObject {
  public:
    std::string className() const override { return "AVCaptureInput"; }
    const std::vector<Ref<AVCaptureInputPort>>& ports() const { return ports_; }

  protected:
    std::vector<Ref<AVCaptureInputPort>> ports_;
};

class AVCaptureDeviceInput : public AVCaptureInput {
  public:
    explicit AVCaptureDeviceInput(Ref<AVCaptureDevice> device);
    std::string className() const override { return "AVCaptureDeviceInput"; }
    // nullptr (with the error) for no device or one that is no longer connected.
    static Ref<AVCaptureDeviceInput> deviceInputWithDevice(const Ref<AVCaptureDevice>& device,
                                                           Ref<NSError>* error);
    const Ref<AVCaptureDevice>& device() const { return device_; }

  private:
    Ref<AVCaptureDevice> device_;
};

// The link between an output and the input ports feeding it.
class AVCaptureConnection : public NSObject {
  public:
    explicit AVCaptureConnection(std::vector<Ref<AVCaptureInputPort>> ports) : ports_(std::move(ports)) {}
    std::string className() const override { return "AVCaptureConnection"; }
    const std::vector<Ref<AVCaptureInputPort>>& inputPorts() const { return ports_; }
    bool isEnabled() const { return true; }
    bool isActive() const { return true; }

  private:
    std::vector<Ref<AVCaptureInputPort>> ports_;
};

// What a still capture delivers: the encoded picture.
class AVCaptureSampleBuffer : public NSObject {
  public:
    explicit AVCaptureSampleBuffer(NSData jpeg) : jpeg_(std::move(jpeg)) {}
    std::string className() const override { return "AVCaptureSampleBuffer"; }
    const NSData& data() const { return jpeg_; }

  private:
    NSData jpeg_;
};

class AVCaptureSession;

class AVCaptureOutput : public NSObject {
  public:
    std::string className() const override { return "AVCaptureOutput"; }
    // One connection per input of the session the output belongs to, in the session's order;
    // empty while the output is in no session.
    std::vector<Ref<AVCaptureConnection>> connections() const;

  protected:
    friend class AVCaptureSession;
    mutable std::mutex mutex_;
    Weak<AVCaptureSession> session_;
};

class AVCaptureStillImageOutput : public AVCaptureOutput {
  public:
    using Handler = std::function<void(const Ref<AVCaptureSampleBuffer>& buffer, const Ref<NSError>& error)>;
    std::string className() const override { return "AVCaptureStillImageOutput"; }

    Dictionary outputSettings() const;
    void setOutputSettings(Dictionary settings);

    // Captures from the connection; the handler runs on a global queue with the buffer, or with
    // no buffer and an error when the connection is missing or not this output's, the session is
    // not running, or the stand-in answers without a buffer.
    void captureStillImageAsynchronouslyFromConnection(const Ref<AVCaptureConnection>& connection,
                                                       Handler handler);
    // The JPEG bytes of a still buffer; nullopt for none.
    static std::optional<NSData> jpegStillImageNSDataRepresentation(const Ref<AVCaptureSampleBuffer>& buffer);

  private:
    Dictionary settings_;
};

class AVCaptureVideoPreviewLayer;

class AVCaptureSession : public NSObject {
  public:
    std::string className() const override { return "AVCaptureSession"; }

    std::string sessionPreset() const;
    void setSessionPreset(std::string preset);

    bool canAddInput(const Ref<AVCaptureInput>& input) const;
    // Adding an input or output twice, or a null one, does nothing.
    void addInput(const Ref<AVCaptureInput>& input);
    void removeInput(const Ref<AVCaptureInput>& input);
    std::vector<Ref<AVCaptureInput>> inputs() const;
    bool canAddOutput(const Ref<AVCaptureOutput>& output) const;
    void addOutput(const Ref<AVCaptureOutput>& output);
    void removeOutput(const Ref<AVCaptureOutput>& output);
    std::vector<Ref<AVCaptureOutput>> outputs() const;

    // Changes between begin and commit take effect together; both nest.
    void beginConfiguration();
    void commitConfiguration();
    int configurationDepth() const;

    void startRunning();
    void stopRunning();
    bool isRunning() const;

  private:
    friend class AVCaptureVideoPreviewLayer;
    void attachPreview(const Ref<AVCaptureVideoPreviewLayer>& layer);
    void refreshPreviews();

    mutable std::mutex mutex_;
    std::string preset_ = AVCaptureSessionPresetHigh;
    std::vector<Ref<AVCaptureInput>> inputs_;
    std::vector<Ref<AVCaptureOutput>> outputs_;
    std::vector<Weak<AVCaptureVideoPreviewLayer>> previews_;
    int configurationDepth_ = 0;
    bool running_ = false;
};

// Shows the session's picture: the supplied frame while it runs, the last one once it stops.
class AVCaptureVideoPreviewLayer : public CALayer {
  public:
    explicit AVCaptureVideoPreviewLayer(Ref<AVCaptureSession> session);
    std::string className() const override { return "AVCaptureVideoPreviewLayer"; }
    void didInit();
    static Ref<AVCaptureVideoPreviewLayer> layerWithSession(const Ref<AVCaptureSession>& session);

    const Ref<AVCaptureSession>& session() const { return session_; }
    const std::string& videoGravity() const { return videoGravity_; }
    void setVideoGravity(std::string gravity);
    // How many frames the layer has been handed (a new frame per session start).
    int framesShown() const { return framesShown_; }

  private:
    friend class AVCaptureSession;
    void showFrame(const CGImageRef& frame);

    Ref<AVCaptureSession> session_;
    std::string videoGravity_ = AVLayerVideoGravityResizeAspect;
    int framesShown_ = 0;
};

// The stand-in cameras, as tests and tools configure them. Thread-safe.
class AVCaptureStandIn {
  public:
    // Back to a connected back camera (flash, mode auto) and front camera (no flash), no frame
    // and answers with a buffer. Devices handed out before keep working as disconnected objects.
    static void reset();
    // Takes a camera away (its inputs can no longer be made) or puts it back.
    static void setCameraConnected(AVCaptureDevicePosition position, bool connected);
    // The JPEG bytes a still capture answers with (and the preview shows). Without a frame the
    // capture answers with a plain grey picture.
    static void setStillFrame(std::optional<NSData> jpeg);
    // When set, still captures answer with no buffer (and an error), as a failed capture does.
    static void setAnswersWithoutBuffer(bool without);
    // How many still captures were asked for since the last reset.
    static int captureCount();
    // Whether there is a microphone (the default audio device); none after a reset.
    static void setMicrophoneConnected(bool connected);
};
