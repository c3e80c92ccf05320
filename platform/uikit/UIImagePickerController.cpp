#include "uikit/UIImagePickerController.h"

#include "dispatch/Dispatch.h"
#include "foundation/NSLog.h"
#include "foundation/NSMainThreadCheck.h"
#include "graphics/NSValue+Geometry.h"
#include "uikit/UIWindow.h"

namespace {

struct DeviceSwitches {
    bool camera = false;
    bool photoLibrary = true;
    bool savedPhotosAlbum = true;
    bool rearCamera = true;
    bool frontCamera = true;
    bool flash = true;
};

DeviceSwitches& switches() {
    static DeviceSwitches instance;
    return instance;
}

// The screen the picker shows: the camera's viewfinder or the album list.
class PickerScreen : public UIViewController {
  public:
    std::string className() const override { return "UIImagePickerScreen"; }
};

}  // namespace

void UIImagePickerControllerDelegate::imagePickerControllerDidFinishPickingMediaWithInfo(
    const Ref<UIImagePickerController>& picker, const Dictionary&) {
    if (picker) picker->dismissViewControllerAnimated(true);
}

void UIImagePickerControllerDelegate::imagePickerControllerDidCancel(
    const Ref<UIImagePickerController>& picker) {
    if (picker) picker->dismissViewControllerAnimated(true);
}

UIImagePickerController::UIImagePickerController() = default;

void UIImagePickerController::didInit() {
    UINavigationController::didInit();
    setViewControllers({make<PickerScreen>()}, false);
}

bool UIImagePickerController::isSourceTypeAvailable(UIImagePickerControllerSourceType sourceType) {
    switch (sourceType) {
        case UIImagePickerControllerSourceTypeCamera:
            return switches().camera;
        case UIImagePickerControllerSourceTypePhotoLibrary:
            return switches().photoLibrary;
        case UIImagePickerControllerSourceTypeSavedPhotosAlbum:
            return switches().savedPhotosAlbum;
    }
    return false;
}

std::vector<std::string>
UIImagePickerController::availableMediaTypesForSourceType(UIImagePickerControllerSourceType sourceType) {
    if (!isSourceTypeAvailable(sourceType)) return {};
    return {kUTTypeImage};
}

bool UIImagePickerController::isCameraDeviceAvailable(UIImagePickerControllerCameraDevice cameraDevice) {
    if (!switches().camera) return false;
    return cameraDevice == UIImagePickerControllerCameraDeviceRear ? switches().rearCamera
                                                                   : switches().frontCamera;
}

bool UIImagePickerController::isFlashAvailableForCameraDevice(
    UIImagePickerControllerCameraDevice cameraDevice) {
    return isCameraDeviceAvailable(cameraDevice) && switches().flash;
}

void UIImagePickerController::setSourceType(UIImagePickerControllerSourceType sourceType) {
    NS_ASSERT_MAIN_THREAD();
    if (!isSourceTypeAvailable(sourceType)) {
        NSLog("Source type %@ not available", static_cast<long>(sourceType));
        return;
    }
    sourceType_ = sourceType;
}

void UIImagePickerController::setDelegate(const Ref<UIImagePickerControllerDelegate>& delegate) {
    NS_ASSERT_MAIN_THREAD();
    delegate_ = delegate;
    if (auto navigationDelegate = std::dynamic_pointer_cast<UINavigationControllerDelegate>(delegate)) {
        UINavigationController::setDelegate(navigationDelegate);
    } else {
        UINavigationController::setDelegate(nullptr);
    }
}

// ---- the driver -------------------------------------------------------------------------------

void UIImagePickerTestDriver::setSourceTypeAvailable(UIImagePickerControllerSourceType sourceType,
                                                     bool available) {
    switch (sourceType) {
        case UIImagePickerControllerSourceTypeCamera:
            switches().camera = available;
            break;
        case UIImagePickerControllerSourceTypePhotoLibrary:
            switches().photoLibrary = available;
            break;
        case UIImagePickerControllerSourceTypeSavedPhotosAlbum:
            switches().savedPhotosAlbum = available;
            break;
    }
}

void UIImagePickerTestDriver::setCameraDeviceAvailable(UIImagePickerControllerCameraDevice device,
                                                       bool available) {
    if (device == UIImagePickerControllerCameraDeviceRear) {
        switches().rearCamera = available;
    } else {
        switches().frontCamera = available;
    }
}

void UIImagePickerTestDriver::setFlashAvailable(bool available) {
    switches().flash = available;
}

void UIImagePickerTestDriver::reset() {
    switches() = DeviceSwitches();
}

Ref<UIImagePickerController> UIImagePickerTestDriver::visiblePicker() {
    Ref<UIImagePickerController> found;
    for (auto& window : UIApplication::sharedApplication()->windows()) {
        if (window->isHidden()) continue;
        for (auto c = window->rootViewController(); c; c = c->presentedViewController()) {
            if (auto picker = std::dynamic_pointer_cast<UIImagePickerController>(c)) found = picker;
        }
    }
    return found;
}

void UIImagePickerTestDriver::pickImage(const Ref<UIImagePickerController>& picker, const Ref<UIImage>& image,
                                        const Ref<UIImage>& editedImage) {
    if (!picker || !image) return;
    Dictionary info = Dictionary::mutableDictionary();
    info.setObject(UIImagePickerControllerMediaType, Value(kUTTypeImage));
    info.setObject(UIImagePickerControllerOriginalImage, Value(image));
    if (picker->allowsEditing()) {
        Ref<UIImage> edited = editedImage ? editedImage : image;
        info.setObject(UIImagePickerControllerEditedImage, Value(edited));
        CGSize size = image->size();
        info.setObject(UIImagePickerControllerCropRect,
                       Value(NSValue_Geometry::valueWithCGRect(CGRectMake(0, 0, size.width, size.height))));
    }
    dispatch_async(dispatch_get_main_queue(), [picker, info] {
        if (auto delegate = picker->delegate()) {
            delegate->imagePickerControllerDidFinishPickingMediaWithInfo(picker, info);
        } else {
            picker->dismissViewControllerAnimated(true);
        }
    });
}

void UIImagePickerTestDriver::cancelPicker(const Ref<UIImagePickerController>& picker) {
    if (!picker) return;
    dispatch_async(dispatch_get_main_queue(), [picker] {
        if (auto delegate = picker->delegate()) {
            delegate->imagePickerControllerDidCancel(picker);
        } else {
            picker->dismissViewControllerAnimated(true);
        }
    });
}
