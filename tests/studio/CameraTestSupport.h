#pragma once
// The watermark camera's tests: a sandbox, the stand-in server with the watermark list, the
// capture stand-in with a supplied frame, the WeChat and Weibo app stand-ins, an album folder, and
// the camera pushed on a navigation stack in a key window.

#include <gtest/gtest.h>

#include "app/QVNAPIClient.h"
#include "app/QVNConfiguration.h"
#include "foundation/NSSandbox.h"
#include "graphics/UIGraphics.h"
#include "images/WIImageCache.h"
#include "images/WIWebImageDownloader.h"
#include "media/AVCapture.h"
#include "network/NSURLCache.h"
#include "sdk/wechat/WXApi.h"
#include "sdk/wechat/WeChatTesting.h"
#include "sdk/wechat/testing/WeChatAppStandIn.h"
#include "sdk/weibo/bridge/WeiboSDK.h"
#include "sdk/weibo/bridge/WeiboTesting.h"
#include "sdk/weibo/bridge/testing/WeiboAppStandIn.h"
#include "studio/CameraStoryboard.h"
#include "studio/QVNCustomCameryViewController.h"
#include "studio/SaveView.h"
#include "system/PhotoAlbum.h"
#include "system/SystemOtherApps.h"
#include "system/SystemTesting.h"
#include "system/UIPasteboard.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"
#include "tools/devserver/DevServer.h"
#include "tools/devserver/WatermarkRoutes.h"
#include "uikit/UIApplication.h"
#include "uikit/UIImagePickerController.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UITestDriver.h"
#include "uikit/UIWindow.h"

namespace cameratest {

inline constexpr char kWeChatAppID[] = "wx0123456789abcdef";
inline constexpr char kWeiboAppKey[] = "1234567890";

// A photo in two halves (red above, blue below) with a green square in the middle.
inline Ref<UIImage> samplePhoto(CGSize size = CGSizeMake(750, 1334)) {
    UIGraphicsBeginImageContextWithOptions(size, true, 1);
    CGContextRef c = UIGraphicsGetCurrentContext();
    CGContextSetRGBFillColor(c, 0.85, 0.2, 0.2, 1);
    CGContextFillRect(c, CGRectMake(0, 0, size.width, size.height / 2));
    CGContextSetRGBFillColor(c, 0.2, 0.3, 0.85, 1);
    CGContextFillRect(c, CGRectMake(0, size.height / 2, size.width, size.height / 2));
    CGContextSetRGBFillColor(c, 0.2, 0.8, 0.3, 1);
    CGContextFillRect(c, CGRectMake(size.width / 3, size.height / 3, size.width / 3, size.height / 3));
    Ref<UIImage> image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

class CameraTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(NSSandbox::setRoot(sandbox_.path()));
        NSURLCache::setSharedURLCache(make<NSURLCache>(0, 0, std::nullopt));
        devserver::addWatermarkRoutes(server);
        ASSERT_TRUE(server.start()) << server.lastError();
        QVNConfiguration::useServer(server.baseURL());
        QVNAPIClient::sharedClient()->requestSerializer()->setValue(std::string("close"), "Connection");
        WIWebImageDownloader::sharedDownloader()->setValue(std::string("close"), "Connection");
        Ref<WIImageCache> images = WIImageCache::sharedImageCache();
        images->setDiskCachePath(sandbox_.path() + "/Library/Caches/images");
        images->clearMemory();

        AVCaptureStandIn::reset();
        UIImagePickerTestDriver::setSourceTypeAvailable(UIImagePickerControllerSourceTypeCamera, true);
        photo = samplePhoto();
        AVCaptureStandIn::setStillFrame(*UIImagePNGRepresentation(photo));
        detail::setPhotoAlbumDirectory(album_.path());
        system_testing::setPhotoAlbumSaveError(nullptr);

        system_testing::resetPasteboards();
        UIPasteboard::setSharedDirectory(device_.path());
        system_testing::resetOtherApps();
        SystemOtherApps::setOwnBundleIdentifier("device.camera-test");
        SystemOtherApps::setOwnAppURLHandler([this](const Ref<NSURL>& url, const std::string&) {
            ++appURLs;
            return WeiboSDK::handleOpenURL(url, nullptr) || WXApi::handleOpenURL(url, nullptr);
        });
        wechat_testing::resetSDK();
        weibo_testing::resetSDK();
        WXApi::registerApp(kWeChatAppID);
        WeiboSDK::registerApp(std::string(kWeiboAppKey));
        wechat = WeChatAppStandIn::install();
        weibo = WeiboAppStandIn::install();

        UIScreen::mainScreen()->setBoundsSize(CGSizeMake(375, 667));
        CameraStoryboard::registerScenes();
        application = make<UIApplication>();
        UIApplication::setSharedApplication(application);
        window = make<UIWindow>(UIScreen::mainScreen()->bounds());
    }

    void TearDown() override {
        UITestDriver::reset();
        if (window) window->setHidden(true);
        testsupport::drainMainRunLoop();
        UIApplication::setSharedApplication(nullptr);
        wechat_testing::resetSDK();
        weibo_testing::resetSDK();
        system_testing::resetOtherApps();
        system_testing::resetPasteboards();
        UIPasteboard::setSharedDirectory("");
        system_testing::setPhotoAlbumSaveError(nullptr);
        detail::setPhotoAlbumDirectory("");
        AVCaptureStandIn::reset();
        UIImagePickerTestDriver::reset();
        server.stop();
        QVNConfiguration::resetAll();
        NSURLCache::setSharedURLCache(nullptr);
    }

    // The camera from its scene, pushed over a plain root; its lists loaded when `waitForLists`.
    void open(bool waitForLists = true) {
        auto storyboard = UIStoryboard::storyboardWithName("Main", nullptr);
        ASSERT_TRUE(storyboard);
        camera = std::dynamic_pointer_cast<QVNCustomCameryViewController>(
            storyboard->instantiateViewControllerWithIdentifier("QVNCustomCameryViewController"));
        ASSERT_TRUE(camera);
        navigation = make<UINavigationController>(make<UIViewController>());
        window->setRootViewController(navigation);
        window->makeKeyAndVisible();
        navigation->pushViewController(camera, false);
        settle();
        if (waitForLists) {
            ASSERT_TRUE(
                waitUntil([&] { return !camera->datasArray.empty() && !camera->datasArraySide.empty(); }));
        }
    }

    void settle(double seconds = 0.05) {
        testsupport::drainMainRunLoop();
        clock.advance(seconds);
    }
    bool waitUntil(const std::function<bool()>& condition, double seconds = 10) {
        return testsupport::pumpMainRunLoopUntil(condition, seconds);
    }

    // Sends a button of the scene by tag (first match in the view tree).
    Ref<UIButton> buttonTagged(long tag, const Ref<UIView>& root) {
        if (auto b = std::dynamic_pointer_cast<UIButton>(root); b && b->tag() == tag) return b;
        for (const Ref<UIView>& sub : root->subviews())
            if (auto found = buttonTagged(tag, sub)) return found;
        return nullptr;
    }
    void press(long tag, const Ref<UIView>& root) {
        Ref<UIButton> b = buttonTagged(tag, root);
        ASSERT_TRUE(b) << "no button " << tag;
        b->sendActionsForControlEvents(UIControlEventTouchUpInside);
    }
    void press(long tag) { press(tag, camera->view()); }

    // Shoots and waits for the save bar.
    void shoot() {
        press(QVNCustomCameryViewController::kShootTag);
        ASSERT_TRUE(waitUntil([&] { return camera->saveView()->superview() != nullptr; }));
    }

    // Shows the panel and picks the strip's row once its thumbnail has loaded.
    void pick(long row) {
        if (!camera->horizontalTableView || !camera->horizontalTableView->superview())
            camera->showMiddleView();
        auto strip = camera->horizontalTableView;
        ASSERT_TRUE(strip);
        window->layoutIfNeeded();
        auto path = NSIndexPath::indexPathForRow(row, 0);
        ASSERT_TRUE(waitUntil([&] {
            auto thumbnail = std::dynamic_pointer_cast<UIImageView>(camera->viewForIndexPath(path, strip));
            return thumbnail && thumbnail->image();
        }));
        camera->horizontalTableViewDidSelectRowAtIndexPath(*strip, path);
    }

    testsupport::TemporaryDirectory sandbox_, album_, device_;
    testsupport::ManualClock clock;
    devserver::DevServer server;
    Ref<UIImage> photo;
    Ref<WeChatAppStandIn> wechat;
    Ref<WeiboAppStandIn> weibo;
    int appURLs = 0;
    Ref<UIApplication> application;
    Ref<UIWindow> window;
    Ref<UINavigationController> navigation;
    Ref<QVNCustomCameryViewController> camera;
};

}  // namespace cameratest
