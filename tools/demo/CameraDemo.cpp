#include "tools/demo/CameraDemo.h"

#include <cstdio>

#include "controls/VHProgressHUD.h"
#include "graphics/CGGradient.h"
#include "graphics/UIGraphics.h"
#include "media/AVCapture.h"
#include "sdk/wechat/testing/WeChatAppStandIn.h"
#include "studio/QVNCustomCameryViewController.h"
#include "studio/SaveView.h"
#include "system/SystemOtherApps.h"
#include "tools/demo/DemoSupport.h"
#include "uikit/UIAlertTestDriver.h"
#include "uikit/UIApplication.h"
#include "uikit/UIImagePickerController.h"
#include "uikit/UITestDriver.h"
#include "uikit/UIWindowRenderer.h"

namespace demo {

namespace {

// A portrait photo: sky over asphalt, with the picture (the studio's screenshot) across the middle.
Ref<UIImage> suppliedFrame(const Ref<UIImage>& picture) {
    const CGSize size = CGSizeMake(750, 1334);
    UIGraphicsBeginImageContextWithOptions(size, true, 1);
    CGContextRef c = UIGraphicsGetCurrentContext();
    for (int y = 0; y < 700; y += 4) {
        double t = y / 700.0;
        CGContextSetRGBFillColor(c, 0.35 + 0.4 * t, 0.55 + 0.3 * t, 0.85 + 0.1 * t, 1);
        CGContextFillRect(c, CGRectMake(0, y, size.width, 4));
    }
    CGContextSetRGBFillColor(c, 0.22, 0.22, 0.24, 1);
    CGContextFillRect(c, CGRectMake(0, 700, size.width, size.height - 700));
    CGContextSetRGBFillColor(c, 0.95, 0.85, 0.2, 1);
    for (int x = 20; x < 750; x += 120) CGContextFillRect(c, CGRectMake(x, 1100, 70, 14));
    if (picture && picture->size().width > 0) {
        CGSize p = picture->size();
        double h = p.height * size.width / p.width;
        picture->drawInRect(CGRectMake(0, 760 - h / 2, size.width, h));
    }
    Ref<UIImage> frame = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return frame;
}

Ref<UIButton> taggedButton(const Ref<UIView>& root, long tag) {
    if (auto button = std::dynamic_pointer_cast<UIButton>(root); button && button->tag() == tag)
        return button;
    for (const Ref<UIView>& sub : root->subviews())
        if (auto found = taggedButton(sub, tag)) return found;
    return nullptr;
}

void tapTagged(const Ref<UIView>& root, long tag) {
    Ref<UIButton> button = taggedButton(root, tag);
    require(button != nullptr, "the camera has no button tagged " + std::to_string(tag));
    UITestDriver::tap(button);
}

void writePicture(const Ref<UIImage>& image, const std::string& name) {
    std::string path = nextPicturePath(name);
    bool ok = image && UIWindowRenderer::writePNG(image, path);
    std::printf("%s %s\n", ok ? "screen" : "FAILED", path.c_str());
}

// Picks the strip's row by tapping its thumbnail once it has loaded.
void pickRow(const Ref<QVNCustomCameryViewController>& camera, long row) {
    require(camera->horizontalTableView != nullptr, "the watermark panel has no strip");
    auto path = NSIndexPath::indexPathForRow(row, 0);
    Ref<UIImageView> thumbnail;
    waitFor(
        [&] {
            thumbnail = std::dynamic_pointer_cast<UIImageView>(
                camera->viewForIndexPath(path, camera->horizontalTableView));
            return thumbnail && thumbnail->image();
        },
        "the watermark thumbnails did not load", 15);
    std::size_t before = camera->stickerViewArray().size();
    UITestDriver::tap(camera->horizontalTableView->tableView()->cellForRowAtIndexPath(path));
    waitFor([&] { return camera->stickerViewArray().size() == before + 1; }, "the watermark was not placed",
            5);
}

}  // namespace

void driveCamera(const Ref<MainViewController>& home, const Ref<UINavigationController>& navigation,
                 const Ref<UIImage>& picture) {
    // The device: a camera whose shot is the supplied frame, and the WeChat app.
    UIImagePickerTestDriver::setSourceTypeAvailable(UIImagePickerControllerSourceTypeCamera, true);
    AVCaptureStandIn::reset();
    Ref<UIImage> frame = suppliedFrame(picture);
    AVCaptureStandIn::setStillFrame(UIImageJPEGRepresentation(frame, 0.92));
    Ref<WeChatAppStandIn> wechat = WeChatAppStandIn::install();
    // WeChat's answer comes back through the application, as UIApplicationMain arranges it.
    SystemOtherApps::setOwnAppURLHandler([](const Ref<NSURL>& url, const std::string& source) {
        return UIApplication::sharedApplication()->openURLFromOtherApp(url, source, Value());
    });
    wechat->scriptShareResult(0);

    Ref<UIControl> cameraButton = controlWithAction(home->view(), home, "showCustomCameraVC:");
    require(cameraButton != nullptr, "the home screen has no camera button");
    UITestDriver::tap(cameraButton);
    waitFor([&] { return navigation->topViewController() != home && !navigation->isTransitioning(); },
            "the camera did not open", 10);
    auto camera = std::dynamic_pointer_cast<QVNCustomCameryViewController>(navigation->topViewController());
    require(camera != nullptr, "the screen opened is not the watermark camera");
    waitFor([&] { return !camera->datasArray.empty() && !camera->datasArraySide.empty(); },
            "the watermark lists did not load", 15);
    tapTagged(camera->view(), QVNCustomCameryViewController::kFlashTag);
    std::printf("camera open: %zu front and %zu side watermarks, flash %s\n", camera->datasArray.size(),
                camera->datasArraySide.size(),
                camera->device && camera->device->flashMode() == AVCaptureFlashModeOff ? "off" : "auto");
    runFor(0.3);
    screenshot("camera");

    // Two watermarks from the panel: a front view and a side view.
    tapTagged(camera->view(), QVNCustomCameryViewController::kPanelTag);
    runFor(0.4);
    pickRow(camera, 0);
    tapTagged(camera->view(), QVNCustomCameryViewController::kSideListTag);
    runFor(0.2);
    pickRow(camera, 1);
    screenshot("camera-watermarks");
    tapTagged(camera->view(), QVNCustomCameryViewController::kHidePanelTag);
    runFor(0.2);

    // The second (on top) dragged up to the left; the first, now uncovered, turned and grown with
    // its handle.
    Ref<SKStickerView> first = camera->stickerViewArray().at(1);
    Ref<SKStickerView> second = camera->stickerViewArray().at(2);
    UITestDriver::drag(camera->view(), second->center(), CGPointMake(110, 190), 12);
    CGRect handle = first->resizingControl()->frame();
    CGPoint grip =
        first->convertPointToView(CGPointMake(CGRectGetMidX(handle), CGRectGetMidY(handle)), nullptr);
    UITestDriver::drag(first->window(), grip, CGPointMake(grip.x + 30, grip.y + 70), 12);
    runFor(0.3);
    std::printf("stickers: one moved to (%.0f, %.0f); the other %.0f x %.0f, turned %.2f rad\n",
                second->center().x, second->center().y, first->bounds().size.width,
                first->bounds().size.height, first->endDeltaAngle());
    screenshot("camera-sticker-editing");

    // The shot freezes the preview, stickers and all, and brings up the save bar.
    tapTagged(camera->view(), QVNCustomCameryViewController::kShootTag);
    waitFor([&] { return camera->originalImage() != nullptr; }, "the shot gave no photo", 10);
    runFor(0.3);

    // Share: the photo is composed, saved to the album and offered to WeChat.
    UITestDriver::tap(camera->saveView()->shareBtn.lock());
    waitFor(
        [&] {
            for (const Ref<UIView>& sub : camera->view()->subviews())
                if (auto hud = std::dynamic_pointer_cast<VHProgressHUD>(sub))
                    return hud->labelText() == std::string("保存成功");
            return false;
        },
        "the photo was not saved to the album", 10);
    std::printf("photo %.0f x %.0f saved to the album\n", camera->finishImage->size().width,
                camera->finishImage->size().height);
    writePicture(camera->finishImage, "camera-composed-photo");
    runFor(0.4);
    screenshot("camera-share-sheet");
    runFor(1.5);  // the album's message fades

    std::size_t received = wechat->receivedCount();
    UITestDriver::tap(camera->shareView()->weixinBtn.lock());
    waitFor([&] { return wechat->receivedCount() > received; }, "WeChat received nothing", 10);
    auto request = std::dynamic_pointer_cast<SendMessageToWXReq>(wechat->received().back().request);
    require(request != nullptr, "WeChat could not read the share: " + wechat->received().back().error);
    auto object = request->message()
                      ? std::dynamic_pointer_cast<WXImageObject>(request->message()->mediaObject())
                      : nullptr;
    Ref<UIImage> shared = object ? UIImage::imageWithData(object->imageData()) : nullptr;
    require(shared != nullptr, "the shared message carries no picture");
    std::printf("WeChat received a %.0f x %.0f picture (%zu bytes) for scene %d\n", shared->size().width,
                shared->size().height, object->imageData().length(), request->scene());
    writePicture(shared, "camera-shared-to-wechat");
    waitFor([&] { return UIAlertTestDriver::frontmostAlert().has_value(); }, "WeChat's answer was not shown",
            10);
    std::printf("WeChat answered: %s\n", text(UIAlertTestDriver::frontmostAlert()->message).c_str());
    screenshot("camera-shared");
    UIAlertTestDriver::tapAlertButton(0);
    runFor(0.3);

    tapTagged(camera->shareView(), QVNCustomCameryViewController::kCancelShareTag);
    tapTagged(camera->view(), QVNCustomCameryViewController::kCloseTag);
    waitFor([&] { return navigation->topViewController() == home && !navigation->isTransitioning(); },
            "the camera did not close", 10);
    wechat->uninstall();
}

}  // namespace demo
