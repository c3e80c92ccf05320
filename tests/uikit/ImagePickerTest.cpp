#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "graphics/NSValue+Geometry.h"
#include "graphics/UIGraphics.h"
#include "tests/uikit/ViewControllerTestSupport.h"
#include "uikit/UIImagePickerController.h"

using namespace uikittest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

Ref<UIImage> makeImage(CGFloat width, CGFloat height) {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(width, height), true, 1);
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

// A screen that takes the edited image when there is one, as an event-joining screen does.
class PhotoScreen : public RecordingController,
                    public UIImagePickerControllerDelegate,
                    public UINavigationControllerDelegate {
  public:
    using RecordingController::RecordingController;
    void imagePickerControllerDidFinishPickingMediaWithInfo(const Ref<UIImagePickerController>& picker,
                                                            const Dictionary& info) override {
        add("didFinishPicking");
        lastInfo = info;
        if (auto edited = info[UIImagePickerControllerEditedImage].objectAs<UIImage>()) image = edited;
        picker->dismissViewControllerAnimated(true);
    }
    void imagePickerControllerDidCancel(const Ref<UIImagePickerController>& picker) override {
        add("didCancel");
        picker->dismissViewControllerAnimated(true);
    }
    void openPicker(UIImagePickerControllerSourceType source) {
        auto picker = make<UIImagePickerController>();
        picker->setSourceType(source);
        picker->setAllowsEditing(true);
        picker->setDelegate(selfAs<PhotoScreen>());
        presentViewController(picker, true);
    }
    Dictionary lastInfo;
    Ref<UIImage> image;
};

// Implements nothing: the picker closes itself.
class SilentDelegate : public NSObject, public UIImagePickerControllerDelegate {};

class ImagePickerTest : public ControllerTest {
  protected:
    void SetUp() override {
        ControllerTest::SetUp();
        UIImagePickerTestDriver::reset();
        screen = make<PhotoScreen>("screen", log);
        showInWindow(screen);
        clearLog();
    }
    void TearDown() override {
        UIImagePickerTestDriver::reset();
        ControllerTest::TearDown();
    }
    Ref<PhotoScreen> screen;
};

}  // namespace

TEST_F(ImagePickerTest, CameraIsAbsentByDefault) {
    EXPECT_FALSE(UIImagePickerController::isSourceTypeAvailable(UIImagePickerControllerSourceTypeCamera));
    EXPECT_TRUE(
        UIImagePickerController::isSourceTypeAvailable(UIImagePickerControllerSourceTypePhotoLibrary));
    EXPECT_TRUE(
        UIImagePickerController::isSourceTypeAvailable(UIImagePickerControllerSourceTypeSavedPhotosAlbum));
    EXPECT_FALSE(UIImagePickerController::isCameraDeviceAvailable(UIImagePickerControllerCameraDeviceRear));
    EXPECT_FALSE(
        UIImagePickerController::isFlashAvailableForCameraDevice(UIImagePickerControllerCameraDeviceRear));
    EXPECT_THAT(
        UIImagePickerController::availableMediaTypesForSourceType(UIImagePickerControllerSourceTypeCamera),
        IsEmpty());
    EXPECT_THAT(UIImagePickerController::availableMediaTypesForSourceType(
                    UIImagePickerControllerSourceTypePhotoLibrary),
                ElementsAre("public.image"));
}

TEST_F(ImagePickerTest, SwitchesTurnTheCameraOnAndOff) {
    UIImagePickerTestDriver::setSourceTypeAvailable(UIImagePickerControllerSourceTypeCamera, true);
    EXPECT_TRUE(UIImagePickerController::isSourceTypeAvailable(UIImagePickerControllerSourceTypeCamera));
    EXPECT_TRUE(UIImagePickerController::isCameraDeviceAvailable(UIImagePickerControllerCameraDeviceFront));
    EXPECT_TRUE(
        UIImagePickerController::isFlashAvailableForCameraDevice(UIImagePickerControllerCameraDeviceRear));
    UIImagePickerTestDriver::setCameraDeviceAvailable(UIImagePickerControllerCameraDeviceFront, false);
    UIImagePickerTestDriver::setFlashAvailable(false);
    EXPECT_FALSE(UIImagePickerController::isCameraDeviceAvailable(UIImagePickerControllerCameraDeviceFront));
    EXPECT_FALSE(
        UIImagePickerController::isFlashAvailableForCameraDevice(UIImagePickerControllerCameraDeviceRear));
    UIImagePickerTestDriver::setSourceTypeAvailable(UIImagePickerControllerSourceTypePhotoLibrary, false);
    EXPECT_FALSE(
        UIImagePickerController::isSourceTypeAvailable(UIImagePickerControllerSourceTypePhotoLibrary));
    UIImagePickerTestDriver::reset();
    EXPECT_FALSE(UIImagePickerController::isSourceTypeAvailable(UIImagePickerControllerSourceTypeCamera));
    EXPECT_TRUE(
        UIImagePickerController::isSourceTypeAvailable(UIImagePickerControllerSourceTypePhotoLibrary));
}

TEST_F(ImagePickerTest, UnavailableSourceIsRefused) {
    auto picker = make<UIImagePickerController>();
    picker->setSourceType(UIImagePickerControllerSourceTypeCamera);
    EXPECT_EQ(picker->sourceType(), UIImagePickerControllerSourceTypePhotoLibrary);
    UIImagePickerTestDriver::setSourceTypeAvailable(UIImagePickerControllerSourceTypeCamera, true);
    picker->setSourceType(UIImagePickerControllerSourceTypeCamera);
    EXPECT_EQ(picker->sourceType(), UIImagePickerControllerSourceTypeCamera);
}

TEST_F(ImagePickerTest, PickerIsANavigationControllerWithOneScreen) {
    auto picker = make<UIImagePickerController>();
    EXPECT_EQ(picker->viewControllers().size(), 1u);
    EXPECT_THAT(picker->mediaTypes(), ElementsAre("public.image"));
    EXPECT_FALSE(picker->allowsEditing());
    EXPECT_EQ(picker->cameraFlashMode(), UIImagePickerControllerCameraFlashModeAuto);
    EXPECT_TRUE(picker->showsCameraControls());
}

TEST_F(ImagePickerTest, PickedImageReachesTheDelegateWithTheInfoKeys) {
    screen->openPicker(UIImagePickerControllerSourceTypePhotoLibrary);
    clock->advance(0.6);
    auto picker = UIImagePickerTestDriver::visiblePicker();
    ASSERT_NE(picker, nullptr);
    EXPECT_EQ(picker->presentingViewController(), screen);
    auto original = makeImage(40, 30);
    auto edited = makeImage(30, 30);
    UIImagePickerTestDriver::pickImage(picker, original, edited);
    EXPECT_THAT(entriesWith(log, "didFinish"), IsEmpty());  // delivered on the main run loop
    testsupport::drainMainRunLoop();
    EXPECT_THAT(entriesWith(log, "didFinish"), ElementsAre("screen.didFinishPicking"));
    EXPECT_EQ(screen->lastInfo[UIImagePickerControllerMediaType].stringValue(), "public.image");
    EXPECT_EQ(screen->lastInfo[UIImagePickerControllerOriginalImage].objectAs<UIImage>(), original);
    EXPECT_EQ(screen->lastInfo[UIImagePickerControllerEditedImage].objectAs<UIImage>(), edited);
    auto crop = screen->lastInfo[UIImagePickerControllerCropRect].objectAs<NSValue>();
    ASSERT_NE(crop, nullptr);
    EXPECT_RECT(NSValue_Geometry::CGRectValue(crop), 0, 0, 40, 30);
    EXPECT_EQ(screen->image, edited);
    clock->advance(0.6);
    EXPECT_EQ(screen->presentedViewController(), nullptr);
    EXPECT_EQ(UIImagePickerTestDriver::visiblePicker(), nullptr);
}

TEST_F(ImagePickerTest, WithoutEditingThereIsNoEditedImage) {
    auto picker = make<UIImagePickerController>();
    picker->setDelegate(screen);
    screen->presentViewController(picker, false);
    testsupport::drainMainRunLoop();
    UIImagePickerTestDriver::pickImage(picker, makeImage(10, 10));
    testsupport::drainMainRunLoop();
    EXPECT_NE(screen->lastInfo[UIImagePickerControllerOriginalImage].objectAs<UIImage>(), nullptr);
    EXPECT_TRUE(screen->lastInfo[UIImagePickerControllerEditedImage].isNil());
    EXPECT_TRUE(screen->lastInfo[UIImagePickerControllerCropRect].isNil());
    EXPECT_EQ(screen->image, nullptr);
}

TEST_F(ImagePickerTest, EditingWithoutAnEditedImageHandsTheOriginal) {
    auto picker = make<UIImagePickerController>();
    picker->setAllowsEditing(true);
    picker->setDelegate(screen);
    auto original = makeImage(8, 8);
    UIImagePickerTestDriver::pickImage(picker, original);
    testsupport::drainMainRunLoop();
    EXPECT_EQ(screen->lastInfo[UIImagePickerControllerEditedImage].objectAs<UIImage>(), original);
}

TEST_F(ImagePickerTest, CancelReachesTheDelegate) {
    screen->openPicker(UIImagePickerControllerSourceTypePhotoLibrary);
    clock->advance(0.6);
    UIImagePickerTestDriver::cancelPicker(UIImagePickerTestDriver::visiblePicker());
    testsupport::drainMainRunLoop();
    EXPECT_THAT(entriesWith(log, "didCancel"), ElementsAre("screen.didCancel"));
    clock->advance(0.6);
    EXPECT_EQ(screen->presentedViewController(), nullptr);
}

TEST_F(ImagePickerTest, DelegateWithoutTheMethodsLetsThePickerCloseItself) {
    auto delegate = make<SilentDelegate>();
    for (int pass = 0; pass < 2; ++pass) {
        auto picker = make<UIImagePickerController>();
        picker->setDelegate(delegate);
        screen->presentViewController(picker, false);
        testsupport::drainMainRunLoop();
        if (pass == 0) {
            UIImagePickerTestDriver::pickImage(picker, makeImage(4, 4));
        } else {
            UIImagePickerTestDriver::cancelPicker(picker);
        }
        testsupport::drainMainRunLoop();
        clock->advance(0.6);
        EXPECT_EQ(screen->presentedViewController(), nullptr) << "pass " << pass;
    }
}

TEST_F(ImagePickerTest, DelegateIsHeldWeaklyAndFillsTheNavigationSlot) {
    auto picker = make<UIImagePickerController>();
    picker->setDelegate(screen);
    EXPECT_EQ(picker->UINavigationController::delegate(),
              std::static_pointer_cast<UINavigationControllerDelegate>(screen));
    {
        auto temporary = make<SilentDelegate>();
        picker->setDelegate(temporary);
        EXPECT_EQ(picker->UINavigationController::delegate(), nullptr);
    }
    EXPECT_EQ(picker->delegate(), nullptr);
    // With no delegate at all the pick closes the picker.
    screen->presentViewController(picker, false);
    testsupport::drainMainRunLoop();
    UIImagePickerTestDriver::pickImage(picker, makeImage(4, 4));
    testsupport::drainMainRunLoop();
    clock->advance(0.6);
    EXPECT_EQ(screen->presentedViewController(), nullptr);
}

TEST_F(ImagePickerTest, NothingIsDeliveredForNullInput) {
    UIImagePickerTestDriver::pickImage(nullptr, makeImage(4, 4));
    auto picker = make<UIImagePickerController>();
    picker->setDelegate(screen);
    UIImagePickerTestDriver::pickImage(picker, nullptr);
    UIImagePickerTestDriver::cancelPicker(nullptr);
    testsupport::drainMainRunLoop();
    EXPECT_THAT(calls(), IsEmpty());
}

TEST_F(ImagePickerTest, TakePictureIsCounted) {
    UIImagePickerTestDriver::setSourceTypeAvailable(UIImagePickerControllerSourceTypeCamera, true);
    auto picker = make<UIImagePickerController>();
    picker->setSourceType(UIImagePickerControllerSourceTypeCamera);
    picker->takePicture();
    picker->takePicture();
    EXPECT_EQ(picker->pictureRequests(), 2);
}
