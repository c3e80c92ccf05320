#pragma once
// The image picker: the system screen that takes a photo with the camera or picks one from the
// photo library, presented modally by the app. There is no camera or library here: which sources
// exist is a switch tests set (UIImagePickerTestDriver; the camera is absent by default, the photo
// library and the saved-photos album present), and the picture the user "takes" or "picks" is one
// the test hands to the driver.
//
// The picker is a navigation controller (its stack holds one plain screen standing for the camera
// or album screen), presented and dismissed like any controller. The delegate (weak) hears the
// result on the main run loop:
//
// - imagePickerControllerDidFinishPickingMediaWithInfo(picker, info) with
//   UIImagePickerControllerMediaType "public.image", UIImagePickerControllerOriginalImage and,
//   when allowsEditing, UIImagePickerControllerEditedImage and UIImagePickerControllerCropRect;
// - imagePickerControllerDidCancel(picker).
//
// A delegate that does not override a method gets the platform's behaviour without one: the
// picker is dismissed (animated). Choosing a source type that is not available is logged and
// ignored (the platform raises). Main thread only.

#include <optional>
#include <string>
#include <vector>

#include "foundation/Value.h"
#include "graphics/UIImage.h"
#include "uikit/UINavigationController.h"

class UIImagePickerController;

enum UIImagePickerControllerSourceType : long {
    UIImagePickerControllerSourceTypePhotoLibrary = 0,
    UIImagePickerControllerSourceTypeCamera = 1,
    UIImagePickerControllerSourceTypeSavedPhotosAlbum = 2,
};

enum UIImagePickerControllerCameraDevice : long {
    UIImagePickerControllerCameraDeviceRear = 0,
    UIImagePickerControllerCameraDeviceFront = 1,
};

enum UIImagePickerControllerCameraFlashMode : long {
    UIImagePickerControllerCameraFlashModeOff = -1,
    UIImagePickerControllerCameraFlashModeAuto = 0,
    UIImagePickerControllerCameraFlashModeOn = 1,
};

enum UIImagePickerControllerCameraCaptureMode : long {
    UIImagePickerControllerCameraCaptureModePhoto = 0,
    UIImagePickerControllerCameraCaptureModeVideo = 1,
};

inline constexpr char UIImagePickerControllerMediaType[] = "UIImagePickerControllerMediaType";
inline constexpr char UIImagePickerControllerOriginalImage[] = "UIImagePickerControllerOriginalImage";
inline constexpr char UIImagePickerControllerEditedImage[] = "UIImagePickerControllerEditedImage";
inline constexpr char UIImagePickerControllerCropRect[] = "UIImagePickerControllerCropRect";
inline constexpr char UIImagePickerControllerMediaURL[] = "UIImagePickerControllerMediaURL";
inline constexpr char UIImagePickerControllerReferenceURL[] = "UIImagePickerControllerReferenceURL";
inline constexpr char UIImagePickerControllerMediaMetadata[] = "UIImagePickerControllerMediaMetadata";
// The uniform type identifiers of the media types.
inline constexpr char kUTTypeImage[] = "public.image";
inline constexpr char kUTTypeMovie[] = "public.movie";

// UIImagePickerControllerDelegate. The defaults dismiss the picker, as the platform does for a
// delegate without the method.
class UIImagePickerControllerDelegate {
  public:
    virtual ~UIImagePickerControllerDelegate() = default;
    // imagePickerController:didFinishPickingMediaWithInfo:
    virtual void
    imagePickerControllerDidFinishPickingMediaWithInfo(const Ref<UIImagePickerController>& picker,
                                                       const Dictionary& info);
    // imagePickerControllerDidCancel:
    virtual void imagePickerControllerDidCancel(const Ref<UIImagePickerController>& picker);
};

class UIImagePickerController : public UINavigationController {
  public:
    UIImagePickerController();
    void didInit();
    std::string className() const override { return "UIImagePickerController"; }

    static bool isSourceTypeAvailable(UIImagePickerControllerSourceType sourceType);
    // {"public.image"} for an available source, empty otherwise.
    static std::vector<std::string>
    availableMediaTypesForSourceType(UIImagePickerControllerSourceType sourceType);
    static bool isCameraDeviceAvailable(UIImagePickerControllerCameraDevice cameraDevice);
    static bool isFlashAvailableForCameraDevice(UIImagePickerControllerCameraDevice cameraDevice);

    UIImagePickerControllerSourceType sourceType() const { return sourceType_; }
    void setSourceType(UIImagePickerControllerSourceType sourceType);
    const std::vector<std::string>& mediaTypes() const { return mediaTypes_; }
    void setMediaTypes(std::vector<std::string> mediaTypes) { mediaTypes_ = std::move(mediaTypes); }
    bool allowsEditing() const { return allowsEditing_; }
    void setAllowsEditing(bool allows) { allowsEditing_ = allows; }
    UIImagePickerControllerCameraDevice cameraDevice() const { return cameraDevice_; }
    void setCameraDevice(UIImagePickerControllerCameraDevice device) { cameraDevice_ = device; }
    UIImagePickerControllerCameraFlashMode cameraFlashMode() const { return flashMode_; }
    void setCameraFlashMode(UIImagePickerControllerCameraFlashMode mode) { flashMode_ = mode; }
    UIImagePickerControllerCameraCaptureMode cameraCaptureMode() const { return captureMode_; }
    void setCameraCaptureMode(UIImagePickerControllerCameraCaptureMode mode) { captureMode_ = mode; }
    bool showsCameraControls() const { return showsCameraControls_; }
    void setShowsCameraControls(bool shows) { showsCameraControls_ = shows; }
    const Ref<UIView>& cameraOverlayView() const { return cameraOverlayView_; }
    void setCameraOverlayView(const Ref<UIView>& view) { cameraOverlayView_ = view; }
    // Counted; the picture comes from UIImagePickerTestDriver::pickImage.
    void takePicture() { ++pictureRequests_; }
    int pictureRequests() const { return pictureRequests_; }

    // The picker's delegate (weak). Setting it also sets the navigation delegate when the object
    // is one, as the platform's single delegate slot does.
    Ref<UIImagePickerControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<UIImagePickerControllerDelegate>& delegate);

  private:
    UIImagePickerControllerSourceType sourceType_ = UIImagePickerControllerSourceTypePhotoLibrary;
    std::vector<std::string> mediaTypes_{kUTTypeImage};
    bool allowsEditing_ = false;
    UIImagePickerControllerCameraDevice cameraDevice_ = UIImagePickerControllerCameraDeviceRear;
    UIImagePickerControllerCameraFlashMode flashMode_ = UIImagePickerControllerCameraFlashModeAuto;
    UIImagePickerControllerCameraCaptureMode captureMode_ = UIImagePickerControllerCameraCaptureModePhoto;
    bool showsCameraControls_ = true;
    Ref<UIView> cameraOverlayView_;
    int pictureRequests_ = 0;
    Weak<UIImagePickerControllerDelegate> delegate_;
};

// The user's and the device's side of the picker, for tests and the demo.
class UIImagePickerTestDriver {
  public:
    // Which sources and cameras the device has. reset() restores: no camera (neither device, no
    // flash), photo library and saved-photos album present.
    static void setSourceTypeAvailable(UIImagePickerControllerSourceType sourceType, bool available);
    static void setCameraDeviceAvailable(UIImagePickerControllerCameraDevice device, bool available);
    static void setFlashAvailable(bool available);
    static void reset();

    // The frontmost presented picker of the visible windows, nullptr when none shows.
    static Ref<UIImagePickerController> visiblePicker();
    // The user took or chose `image`; the delegate hears it on the main run loop. With
    // allowsEditing the edited image is `editedImage`, or the image itself when that is nullptr.
    static void pickImage(const Ref<UIImagePickerController>& picker, const Ref<UIImage>& image,
                          const Ref<UIImage>& editedImage = nullptr);
    // The user cancelled; the delegate hears it on the main run loop.
    static void cancelPicker(const Ref<UIImagePickerController>& picker);
};
