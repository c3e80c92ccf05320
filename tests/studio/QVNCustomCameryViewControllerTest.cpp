// The watermark camera end to end: capture, flash and lens, the watermark lists and stickers,
// compositing (against a composite drawn here independently), the album and both shares.

#include <cmath>
#include <filesystem>

#include <set>

#include "app/UIImageSacle.h"
#include "controls/VHProgressHUD.h"
#include "foundation/NSJSONSerialization.h"
#include "studio/CameraArtwork.h"
#include "studio/UIImage+DrawPictures.h"
#include "tests/studio/CameraTestSupport.h"
#include "tests/support/GoldenImage.h"
#include "tests/support/ScreenTestSupport.h"
#include "uikit/CAAnimation.h"
#include "uikit/UIImagePickerController.h"

using namespace cameratest;

namespace {

// The photo with each (picture, centre, size, turn) drawn in, turned about its own centre.
struct Placed {
    Ref<UIImage> picture;
    CGPoint centre;
    CGSize size;
    double turn;
};
Ref<UIImage> expectedComposite(const Ref<UIImage>& photo, const std::vector<Placed>& stickers) {
    CGSize s = photo->size();
    UIGraphicsBeginImageContextWithOptions(s, false, 1);
    CGContextRef c = UIGraphicsGetCurrentContext();
    photo->drawInRect(CGRectMake(0, 0, s.width, s.height));
    for (const Placed& p : stickers) {
        CGContextSaveGState(c);
        CGContextTranslateCTM(c, p.centre.x, p.centre.y);
        CGContextRotateCTM(c, p.turn);
        p.picture->drawInRect(CGRectMake(-p.size.width / 2, -p.size.height / 2, p.size.width, p.size.height));
        CGContextRestoreGState(c);
    }
    Ref<UIImage> image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

Ref<UIImage> logoPicture(const Ref<QVNCustomCameryViewController>& camera) {
    return std::dynamic_pointer_cast<UIImageView>(camera->morkavelMarkImg()->contentView())->image();
}

// The logo of a 750 x 1334 photo on a 375 x 667 screen: the sticker's 156 x 11 points less
// margins make a 312 x 22 pixel strip around (570, 1299), which the artwork fills as far as its
// proportions let it.
Placed logoPlaced(const Ref<QVNCustomCameryViewController>& camera) {
    Ref<UIImage> logo = logoPicture(camera);
    CGSize art = logo->size();
    return {logo, CGPointMake(570, 1299), CGSizeMake(22 * art.width / art.height, 22), 0};
}

// The bounding box of the pixels where two pictures of one size differ by more than `tolerance`.
CGRect differingBox(const Ref<UIImage>& a, const Ref<UIImage>& b, int tolerance) {
    NSData pa = detail::pixelsAsPremultipliedBGRA(*a->CGImage());
    NSData pb = detail::pixelsAsPremultipliedBGRA(*b->CGImage());
    const std::size_t width = a->CGImage()->width(), height = a->CGImage()->height();
    long left = -1, top = -1, right = -1, bottom = -1;
    for (std::size_t y = 0; y < height; ++y) {
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint8_t* p = pa.bytes() + (y * width + x) * 4;
            const std::uint8_t* q = pb.bytes() + (y * width + x) * 4;
            bool differs = false;
            for (int c = 0; c < 4; ++c) differs = differs || std::abs(int(p[c]) - int(q[c])) > tolerance;
            if (!differs) continue;
            const long lx = static_cast<long>(x), ly = static_cast<long>(y);
            if (left < 0 || lx < left) left = lx;
            if (right < 0 || lx > right) right = lx;
            if (top < 0) top = ly;
            bottom = ly;
        }
    }
    if (left < 0) return CGRectNull;
    return CGRectMake(left, top, right - left + 1, bottom - top + 1);
}

Ref<VHProgressHUD> hudIn(const Ref<UIView>& view) {
    for (const Ref<UIView>& sub : view->subviews())
        if (auto hud = std::dynamic_pointer_cast<VHProgressHUD>(sub)) return hud;
    return nullptr;
}

std::size_t albumFiles(const std::string& folder) {
    std::size_t n = 0;
    for (auto& entry : std::filesystem::directory_iterator(folder)) n += entry.is_regular_file();
    return n;
}

}  // namespace

TEST_F(CameraTest, OpeningStartsThePreviewAndFetchesBothLists) {
    open();
    ASSERT_TRUE(camera->session);
    EXPECT_TRUE(camera->session->isRunning());
    EXPECT_EQ(camera->session->sessionPreset(), AVCaptureSessionPresetHigh);
    ASSERT_TRUE(camera->preview);
    EXPECT_EQ(camera->preview->videoGravity(), AVLayerVideoGravityResizeAspectFill);
    EXPECT_EQ(camera->view()->subviews().front(), camera->cameraView());
    EXPECT_EQ(camera->datasArray.size(), 3u);
    EXPECT_EQ(camera->datasArraySide.size(), 3u);
    EXPECT_EQ(camera->tableViewDatasArray.size(), 3u);  // the front list is shown at once
    EXPECT_EQ(camera->datasArraySide[0]->type, 2);
    EXPECT_TRUE(camera->MiddleView.lock()->isHidden());
    EXPECT_TRUE(camera->prefersStatusBarHidden());
    EXPECT_EQ(camera->supportedInterfaceOrientations(), UIInterfaceOrientationMaskPortrait);
    // The list requests went to the watermark address with their type.
    auto requests = server.requestsTo(std::string("/trasselin/") + devserver::kWatermarkListPath);
    ASSERT_EQ(requests.size(), 2u);
    // The logo is the list's first sticker, never on screen.
    ASSERT_EQ(camera->stickerViewArray().size(), 1u);
    EXPECT_EQ(camera->stickerViewArray()[0], camera->morkavelMarkImg());
    EXPECT_FALSE(camera->morkavelMarkImg()->superview());
    EXPECT_TRUE(CGRectEqualToRect(camera->morkavelMarkImg()->frame(), CGRectMake(195, 632, 180, 35)));
}

TEST_F(CameraTest, AFailedListLeavesItEmpty) {
    devserver::RouteControl broken;
    broken.status = 500;
    server.setRouteControl(devserver::kWatermarkListPath, broken);
    open(false);
    settle(0.5);
    waitUntil([&] {
        return server.requestsTo(std::string("/trasselin/") + devserver::kWatermarkListPath).size() >= 2;
    });
    settle(0.5);
    EXPECT_TRUE(camera->datasArray.empty());
    EXPECT_TRUE(camera->tableViewDatasArray.empty());
}

TEST_F(CameraTest, TheFlashCyclesOffAutoOffOnlyWhereThereIsOne) {
    open(false);
    auto flash = camera->flashButton.lock();
    ASSERT_EQ(camera->device->flashMode(), AVCaptureFlashModeAuto);
    press(QVNCustomCameryViewController::kFlashTag);
    EXPECT_EQ(camera->device->flashMode(), AVCaptureFlashModeOff);
    EXPECT_EQ(flash->imageForState(UIControlStateNormal), CameraArtwork::imageNamed("shangguang-guanbi"));
    EXPECT_TRUE(flash->isEnabled());
    press(QVNCustomCameryViewController::kFlashTag);
    EXPECT_EQ(camera->device->flashMode(), AVCaptureFlashModeAuto);
    EXPECT_EQ(flash->imageForState(UIControlStateNormal), CameraArtwork::imageNamed("shangguang"));
    UIImagePickerTestDriver::setSourceTypeAvailable(UIImagePickerControllerSourceTypeCamera, false);
    press(QVNCustomCameryViewController::kFlashTag);
    EXPECT_EQ(camera->device->flashMode(), AVCaptureFlashModeAuto);
    UIImagePickerTestDriver::setSourceTypeAvailable(UIImagePickerControllerSourceTypeCamera, true);
    // The front camera has no flash.
    press(QVNCustomCameryViewController::kLensTag);
    press(QVNCustomCameryViewController::kFlashTag);
    EXPECT_EQ(camera->device->flashMode(), AVCaptureFlashModeOff);
}

TEST_F(CameraTest, TheLensSwitchReplacesTheVideoInputAndFlips) {
    open(false);
    press(QVNCustomCameryViewController::kLensTag);
    ASSERT_EQ(camera->session->inputs().size(), 1u);
    auto input = std::dynamic_pointer_cast<AVCaptureDeviceInput>(camera->session->inputs()[0]);
    EXPECT_EQ(input->device()->position(), AVCaptureDevicePositionFront);
    EXPECT_EQ(camera->device->position(), AVCaptureDevicePositionFront);
    auto flip = std::dynamic_pointer_cast<CATransition>(camera->preview->animationForKey("animation"));
    ASSERT_TRUE(flip);
    EXPECT_EQ(flip->type(), "oglFlip");
    EXPECT_EQ(flip->subtype(), std::optional<std::string>(kCATransitionFromLeft));
    EXPECT_EQ(camera->session->configurationDepth(), 0);
    press(QVNCustomCameryViewController::kLensTag);
    EXPECT_EQ(camera->device->position(), AVCaptureDevicePositionBack);
    EXPECT_EQ(camera->positionBtn.lock()->imageForState(UIControlStateNormal),
              CameraArtwork::imageNamed("qiehuan-xuanzhong"));
}

TEST_F(CameraTest, WithoutACameraOnTheOtherSideTheCurrentOneStays) {
    AVCaptureStandIn::setCameraConnected(AVCaptureDevicePositionFront, false);
    open(false);
    auto before = camera->session->inputs();
    press(QVNCustomCameryViewController::kLensTag);
    EXPECT_EQ(camera->session->inputs(), before);
    EXPECT_EQ(camera->device->position(), AVCaptureDevicePositionBack);
    EXPECT_FALSE(camera->preview->animationForKey("animation"));
}

TEST_F(CameraTest, WithoutAnyCameraThereIsNoPreviewAndTheShotDoesNothing) {
    AVCaptureStandIn::setCameraConnected(AVCaptureDevicePositionBack, false);
    AVCaptureStandIn::setCameraConnected(AVCaptureDevicePositionFront, false);
    open(false);
    EXPECT_FALSE(camera->captureOutput);
    EXPECT_FALSE(camera->preview);
    EXPECT_FALSE(camera->session->isRunning());
    press(QVNCustomCameryViewController::kShootTag);
    settle(0.2);
    EXPECT_EQ(AVCaptureStandIn::captureCount(), 0);
    EXPECT_FALSE(camera->hasShareView());
}

TEST_F(CameraTest, TheShotFreezesThePreviewAndKeepsThePhoto) {
    open(false);
    shoot();
    ASSERT_TRUE(waitUntil([&] { return camera->finishImage != nullptr; }));
    EXPECT_FALSE(camera->session->isRunning());
    EXPECT_EQ(camera->finishImage->size().width, 750);
    EXPECT_EQ(camera->originalImage(), camera->finishImage);
    EXPECT_TRUE(CGRectEqualToRect(camera->saveView()->frame(), CGRectMake(0, 667 - 98, 375, 98)));
    // Cancel returns to the live preview.
    press(QVNCustomCameryViewController::kCancelSaveTag, camera->saveView());
    EXPECT_TRUE(camera->saveView()->isHidden());
    EXPECT_TRUE(camera->session->isRunning());
}

TEST_F(CameraTest, AShotWithoutABufferShowsTheBarButSavesAndSharesNothing) {
    AVCaptureStandIn::setAnswersWithoutBuffer(true);
    open(false);
    shoot();
    EXPECT_FALSE(camera->session->isRunning());
    EXPECT_FALSE(camera->finishImage);
    press(QVNCustomCameryViewController::kSaveTag, camera->saveView());
    press(QVNCustomCameryViewController::kSaveAndShareTag, camera->saveView());
    settle(0.2);
    EXPECT_EQ(albumFiles(album_.path()), 0u);
    EXPECT_FALSE(camera->hasShareView() && camera->shareView()->superview());
    EXPECT_FALSE(hudIn(camera->view()));
}

TEST_F(CameraTest, PickingWatermarksPlacesStickersUpToThree) {
    open();
    pick(0);
    ASSERT_EQ(camera->stickerViewArray().size(), 2u);
    Ref<SKStickerView> first = camera->stickerViewArray()[1];
    EXPECT_EQ(first->superview(), camera->baseView());
    EXPECT_DOUBLE_EQ(first->center().x, 187.5);
    EXPECT_DOUBLE_EQ(first->center().y, 333.5);
    EXPECT_FALSE(first->isEditingHandlesHidden());
    EXPECT_TRUE(std::dynamic_pointer_cast<UIImageView>(first->contentView())->image());
    EXPECT_TRUE(camera->selectedHorizontalIndexPath->isEqual(*NSIndexPath::indexPathForRow(0, 0)));
    pick(1);
    pick(2);
    ASSERT_EQ(camera->stickerViewArray().size(), 4u);
    // Full, and nothing tapped: a fourth pick changes nothing.
    pick(0);
    EXPECT_EQ(camera->stickerViewArray().size(), 4u);
    // A tapped sticker takes the next pick's picture.
    Ref<SKStickerView> second = camera->stickerViewArray()[2];
    second->setCenter(CGPointMake(100, 200));  // out from under the third
    UITestDriver::tapAt(second, CGPointMake(50, 30));
    settle(0.5);
    ASSERT_EQ(camera->selectedSKStickerView, second);
    Ref<UIView> before = second->contentView();
    camera->clickSideBtn();
    pick(0);
    EXPECT_NE(second->contentView(), before);
    EXPECT_EQ(camera->stickerViewArray().size(), 4u);
}

TEST_F(CameraTest, ADeletedStickerFreesItsPlaceAndIsNoLongerSelected) {
    open();
    pick(0);
    pick(1);
    Ref<SKStickerView> sticker = camera->stickerViewArray()[1];
    sticker->setCenter(CGPointMake(100, 200));  // out from under the second
    camera->selectedSKStickerView = sticker;
    UITestDriver::tap(sticker->deleteControl());
    EXPECT_FALSE(sticker->superview());
    EXPECT_EQ(camera->stickerViewArray().size(), 2u);
    EXPECT_FALSE(camera->selectedSKStickerView);
}

TEST_F(CameraTest, RemovingAllKeepsTheLogoFirst) {
    open();
    pick(0);
    pick(1);
    camera->showMiddleView();
    press(QVNCustomCameryViewController::kRemoveAllTag);
    EXPECT_FALSE(camera->hasStickerViewArray());
    for (const Ref<UIView>& sub : camera->baseView()->subviews())
        EXPECT_FALSE(std::dynamic_pointer_cast<SKStickerView>(sub));
    pick(2);
    ASSERT_EQ(camera->stickerViewArray().size(), 2u);
    EXPECT_EQ(camera->stickerViewArray()[0], camera->morkavelMarkImg());
}

TEST_F(CameraTest, ThePanelShowsOneStripAndTabsKeepTheRow) {
    open();
    press(QVNCustomCameryViewController::kPanelTag);
    EXPECT_FALSE(camera->MiddleView.lock()->isHidden());
    auto strip = camera->horizontalTableView;
    press(QVNCustomCameryViewController::kPanelTag);
    EXPECT_EQ(camera->horizontalTableView, strip);
    std::size_t strips = 0;
    for (const Ref<UIView>& sub : camera->easyView.lock()->subviews())
        strips += std::dynamic_pointer_cast<HorizontalTableView>(sub) != nullptr;
    EXPECT_EQ(strips, 1u);
    camera->selectedHorizontalIndexPath = NSIndexPath::indexPathForRow(1, 0);
    press(QVNCustomCameryViewController::kSideListTag);
    EXPECT_EQ(camera->tableViewDatasArray[0]->type, 2);
    EXPECT_EQ(camera->selectedHorizontalIndexPath->row(), 1);
    EXPECT_EQ(camera->sideBtn.lock()->imageForState(UIControlStateNormal),
              CameraArtwork::imageNamed("cemian1"));
    press(QVNCustomCameryViewController::kHidePanelTag);
    EXPECT_TRUE(camera->MiddleView.lock()->isHidden());
    auto stray = UIButton::buttonWithType(UIButtonTypeCustom);
    stray->setTag(99);  // no such tag: nothing
    camera->buttonAction(stray);
    camera->btnAction(stray);
    EXPECT_TRUE(camera->MiddleView.lock()->isHidden());
}

// The watermark lists' tabs, chosen by a finger: the chosen tab's white caption reads on its fill, and
// so does the other's on its dark grey. The tabs' middles are read, inside their rounded corners.
TEST_F(CameraTest, EitherTabsWhiteCaptionReadsOnItsFill) {
    open();
    UITestDriver::tap(buttonTagged(QVNCustomCameryViewController::kPanelTag, camera->view()));
    settle(0.5);
    ASSERT_FALSE(camera->MiddleView.lock()->isHidden());
    auto front = camera->positiveBtn.lock();
    auto side = camera->sideBtn.lock();
    ASSERT_TRUE(front && side);
    for (const auto& chosen : {side, front}) {
        SCOPED_TRACE(chosen == side ? "侧面" : "正面");
        UITestDriver::tap(chosen);
        settle(0.5);
        for (const auto& tab : {front, side})
            EXPECT_TRUE(testsupport::readsWhite(tab, CGRectInset(tab->bounds(), 6, 4)));
    }
    EXPECT_EQ(front->imageForState(UIControlStateNormal), CameraArtwork::imageNamed("zhengmian1"));
}

TEST_F(CameraTest, TheComposedPhotoMatchesAnIndependentlyDrawnComposite) {
    open();
    shoot();
    ASSERT_TRUE(waitUntil([&] { return camera->originalImage() != nullptr; }));
    pick(0);
    Ref<SKStickerView> sticker = camera->stickerViewArray()[1];
    sticker->setCenter(CGPointMake(120, 200));
    sticker->setEndDeltaAngle(0.4);
    sticker->setTransform(CGAffineTransformMakeRotation(-0.4));
    camera->saveImg();
    // 750 x 1334 on a 375 x 667 screen: two pixels per point, no bands.
    Ref<UIImage> watermark = std::dynamic_pointer_cast<UIImageView>(sticker->contentView())->image();
    Ref<UIImage> expected = expectedComposite(
        photo, {logoPlaced(camera), {watermark, CGPointMake(240, 400), CGSizeMake(152, 152), -0.4}});
    EXPECT_LT(testsupport::differingShare(camera->finishImage, expected, 40), 0.002);
    testsupport::compareWithGolden(camera->finishImage, testsupport::goldenDirectory("studio"),
                                   "camera-composed.png", "camera", 40, 0.002);
}

TEST_F(CameraTest, TheLogoKeepsTheArtworksProportionsInsideItsPlace) {
    open();
    shoot();
    ASSERT_TRUE(waitUntil([&] { return camera->originalImage() != nullptr; }));
    Ref<SKStickerView> logo = camera->morkavelMarkImg();
    CGSize art = logoPicture(camera)->size();
    CGSize base = camera->baseView()->bounds().size;
    long mode = static_cast<long>(camera->baseView()->contentMode());
    // Photos of the screen's shape at two scales, and one taller (bands beside it on screen).
    // (On a photo relatively wider than the screen the logo's place lies in the band below it.)
    for (CGSize size : {CGSizeMake(750, 1334), CGSizeMake(1500, 2668), CGSizeMake(720, 1600)}) {
        SCOPED_TRACE(NSStringFromCGSize(size));
        Ref<UIImage> shot = samplePhoto(size);
        Ref<UIImage> composed = camera->saveImageWithUIImage(shot, logo);
        ASSERT_TRUE(composed);

        // The logo's place: the sticker's drawn size at the photo's scale, centred on the
        // sticker's mapped centre.
        CGPoint centre = UIImage_DrawPictures::getTranslatePositionWithImageSize(
            size, base, logo->layer()->position(), mode);
        CGSize place = UIImage_DrawPictures::getTranslateSizeWithImageSize(size, camera->view()->frame().size,
                                                                           logo->endScaleSize(), mode);
        CGRect allowed = CGRectInset(
            CGRectMake(centre.x - place.width / 2, centre.y - place.height / 2, place.width, place.height),
            -1, -1);

        // Pixels the logo covers about half or more count as drawn.
        CGRect drawn = differingBox(composed, shot, 60);
        ASSERT_FALSE(CGRectIsNull(drawn));
        EXPECT_TRUE(CGRectContainsRect(allowed, drawn))
            << NSStringFromCGRect(drawn) << " outside " << NSStringFromCGRect(allowed);
        // Fitted: the artwork's proportions, as large as its place lets them be, centred.
        double fit = std::min(place.width / art.width, place.height / art.height);
        EXPECT_NEAR(drawn.size.width, art.width * fit, 1.0) << NSStringFromCGRect(drawn);
        EXPECT_NEAR(drawn.size.height, art.height * fit, 1.0) << NSStringFromCGRect(drawn);
        EXPECT_NEAR(CGRectGetMidX(drawn), centre.x, 1.0);
        EXPECT_NEAR(CGRectGetMidY(drawn), centre.y, 1.0);
    }
}

TEST_F(CameraTest, ASecondSaveComposesFromTheOriginalShot) {
    open();
    shoot();
    ASSERT_TRUE(waitUntil([&] { return camera->originalImage() != nullptr; }));
    camera->saveImg();
    Ref<UIImage> once = camera->finishImage;
    camera->saveImg();
    EXPECT_EQ(testsupport::differingShare(camera->finishImage, once, 0), 0);
    Ref<UIImage> expected = expectedComposite(photo, {logoPlaced(camera)});
    EXPECT_LT(testsupport::differingShare(camera->finishImage, expected, 40), 0.002);
}

TEST_F(CameraTest, SavingWritesTheAlbumReportsAndClearsTheStickers) {
    open();
    shoot();
    ASSERT_TRUE(waitUntil([&] { return camera->originalImage() != nullptr; }));
    pick(0);
    press(QVNCustomCameryViewController::kSaveTag, camera->saveView());
    EXPECT_TRUE(camera->saveView()->isHidden());
    EXPECT_TRUE(camera->session->isRunning());
    ASSERT_TRUE(waitUntil([&] { return hudIn(camera->view()) != nullptr; }));
    EXPECT_EQ(hudIn(camera->view())->labelText(), std::optional<std::string>("保存成功"));
    EXPECT_EQ(albumFiles(album_.path()), 1u);
    EXPECT_FALSE(camera->hasStickerViewArray());
    clock.advance(2);
    EXPECT_FALSE(hudIn(camera->view()));
}

TEST_F(CameraTest, AnAlbumErrorReportsAndKeepsTheStickers) {
    system_testing::setPhotoAlbumSaveError(NSError::errorWithDomain("ALAssetsLibraryErrorDomain", -3310));
    open();
    shoot();
    ASSERT_TRUE(waitUntil([&] { return camera->originalImage() != nullptr; }));
    pick(0);
    press(QVNCustomCameryViewController::kSaveTag, camera->saveView());
    ASSERT_TRUE(waitUntil([&] { return hudIn(camera->view()) != nullptr; }));
    EXPECT_EQ(hudIn(camera->view())->labelText(), std::optional<std::string>("保存失败"));
    EXPECT_EQ(albumFiles(album_.path()), 0u);
    EXPECT_EQ(camera->stickerViewArray().size(), 2u);
    EXPECT_TRUE(camera->stickerViewArray()[1]->superview());
}

TEST_F(CameraTest, SharingToWeChatSendsTheComposedPhotoToChatAndMoments) {
    open();
    shoot();
    ASSERT_TRUE(waitUntil([&] { return camera->originalImage() != nullptr; }));
    press(QVNCustomCameryViewController::kSaveAndShareTag, camera->saveView());
    Ref<ShareView> sheet = camera->shareView();
    ASSERT_EQ(sheet->superview(), camera->view());
    EXPECT_TRUE(sheet->weiboBtn.lock()->isHidden());
    EXPECT_FALSE(sheet->weixinBtn.lock()->isHidden());
    EXPECT_FALSE(camera->saveView()->isHidden());                            // the bar stays behind the sheet
    ASSERT_TRUE(waitUntil([&] { return albumFiles(album_.path()) == 1; }));  // sharing also saves

    wechat->scriptShareResult(0);
    press(QVNCustomCameryViewController::kChatTag, sheet);
    ASSERT_TRUE(waitUntil([&] { return wechat->receivedCount() == 1; }));
    wechat->scriptShareResult(-2);
    press(QVNCustomCameryViewController::kMomentsTag, sheet);
    ASSERT_TRUE(waitUntil([&] { return wechat->receivedCount() == 2; }));
    auto received = wechat->received();
    for (std::size_t i = 0; i < 2; ++i) {
        auto request = std::dynamic_pointer_cast<SendMessageToWXReq>(received[i].request);
        ASSERT_TRUE(request) << received[i].error;
        EXPECT_EQ(request->scene(), i == 0 ? 0 : 1);
        EXPECT_FALSE(request->bText());
        auto object = std::dynamic_pointer_cast<WXImageObject>(request->message()->mediaObject());
        ASSERT_TRUE(object);
        auto shared = UIImage::imageWithData(object->imageData());
        ASSERT_TRUE(shared);
        EXPECT_EQ(shared->size().width, 750);
        ASSERT_TRUE(request->message()->thumbData());
        auto thumb = UIImage::imageWithData(*request->message()->thumbData());
        ASSERT_TRUE(thumb);
        EXPECT_EQ(thumb->size().width, 200);
    }
    EXPECT_EQ(sheet->superview(), camera->view());  // the sheet stays open
    // WeChat's answers come back through the app's URL entry.
    EXPECT_TRUE(waitUntil([&] { return appURLs >= 2; }));
    press(QVNCustomCameryViewController::kCancelShareTag, sheet);
    EXPECT_FALSE(sheet->superview());
}

TEST_F(CameraTest, WithoutWeChatOnlyCancelRemains) {
    wechat->uninstall();
    open();
    shoot();
    ASSERT_TRUE(waitUntil([&] { return camera->originalImage() != nullptr; }));
    press(QVNCustomCameryViewController::kSaveAndShareTag, camera->saveView());
    Ref<ShareView> sheet = camera->shareView();
    EXPECT_TRUE(sheet->weixinBtn.lock()->isHidden());
    EXPECT_TRUE(sheet->pengyouBtn.lock()->isHidden());
    EXPECT_EQ(sheet->xinLangWeiBoCenterXConstraint.lock()->constant(), 0);
    EXPECT_FALSE(sheet->cancelBtn.lock()->isHidden());
}

TEST_F(CameraTest, SharingToWeiboSendsTheMessageWithItsUserInfo) {
    open();
    shoot();
    ASSERT_TRUE(waitUntil([&] { return camera->originalImage() != nullptr; }));
    camera->saveImg();
    weibo->scriptStatus(0);
    camera->shareToWeibo();
    ASSERT_TRUE(waitUntil([&] { return weibo->receivedCount() == 1; }));
    auto request = std::dynamic_pointer_cast<WBSendMessageToWeiboRequest>(weibo->received()[0].request);
    ASSERT_TRUE(request) << weibo->received()[0].error;
    ASSERT_TRUE(request->message()->imageObject());
    EXPECT_TRUE(UIImage::imageWithData(request->message()->imageObject()->imageData()));
    ASSERT_TRUE(request->authRequest());
    EXPECT_EQ(request->authRequest()->scope(), std::optional<std::string>("all"));
    EXPECT_EQ(request->userInfo()["ShareMessageFrom"], Value("SendMessageToWeiboViewController"));
    EXPECT_EQ(request->userInfo()["Other_Info_1"], Value(123));

    // A message over the SDK's limit is refused before anything leaves the app.
    auto message = camera->messageToShare();
    message->imageObject()->setImageData(NSData::dataWithLength(WBImageObject::kMaxImageDataLength + 1));
    EXPECT_FALSE(WeiboSDK::sendRequest(
        WBSendMessageToWeiboRequest::requestWithMessage(message, nullptr, std::nullopt)));
    settle(0.2);
    EXPECT_EQ(weibo->receivedCount(), 1u);
}

TEST_F(CameraTest, ATouchOnTheScreenHidesThePanelAndClosesTheSheet) {
    open();
    shoot();
    ASSERT_TRUE(waitUntil([&] { return camera->originalImage() != nullptr; }));
    press(QVNCustomCameryViewController::kSaveAndShareTag, camera->saveView());
    camera->showMiddleView();
    camera->touchesBegan({}, nullptr);
    EXPECT_TRUE(camera->MiddleView.lock()->isHidden());
    EXPECT_FALSE(camera->shareView()->superview());
    EXPECT_FALSE(camera->saveView()->isHidden());
}

TEST_F(CameraTest, TheThumbnailKeepsTheAspectRatioAtScaleOne) {
    open(false);
    Ref<UIImage> thumb = camera->imageCompressForWidth(samplePhoto(CGSizeMake(3000, 4000)), 200);
    ASSERT_TRUE(thumb);
    EXPECT_EQ(thumb->scale(), 1);
    EXPECT_EQ(thumb->size().width, 200);
    EXPECT_EQ(CGImageGetHeight(thumb->CGImage()), 267u);
    EXPECT_FALSE(camera->imageCompressForWidth(nullptr, 200));
    EXPECT_FALSE(camera->imageCompressForWidth(
        UIImage::imageWithCGImage(detail::makeBGRAImage(0, 0, NSData(), true)), 200));
}

TEST_F(CameraTest, CloseReturnsToThePreviousScreen) {
    open(false);
    press(QVNCustomCameryViewController::kCloseTag);
    settle(1);
    EXPECT_NE(navigation->topViewController(), camera);
}

TEST_F(CameraTest, TheComposedPhotoOpensFullScreen) {
    open(false);
    shoot();
    ASSERT_TRUE(waitUntil([&] { return camera->originalImage() != nullptr; }));
    camera->saveImg();
    auto preview = make<UIImageView>(CGRectMake(20, 40, 75, 133.4));
    preview->setImage(camera->finishImage);
    camera->view()->addSubview(preview);
    UIImageSacle::showImage(preview);
    Ref<UIView> backdrop = window->subviews().back();
    auto picture = std::dynamic_pointer_cast<UIImageView>(backdrop->viewWithTag(1));
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->image(), camera->finishImage);
    // 750 x 1334 across 375 points: 667 points high, filling the screen exactly.
    EXPECT_NEAR(picture->frame().size.height, 667, 1e-9);
    EXPECT_NEAR(picture->frame().origin.y, 0, 1e-9);
    clock.advance(0.5);  // touches wait for the opening animation
    UITestDriver::tapAt(backdrop, CGPointMake(20, 20));
    clock.advance(0.5);
    EXPECT_FALSE(backdrop->superview());
}

TEST(MaskImgModelTest, RepliesMapToWatermarksAndOddRowsAreLeftOut) {
    struct Case {
        const char* reply;
        std::size_t count;
    };
    const Case cases[] = {
        {R"({"resultCode":0,"data":[{"pic":"http://h/a.png","type":1,"wid":7},{"pic":"http://h/b.png","type":2}]})",
         2},
        {R"({"resultCode":0,"data":[]})", 0},
        {R"({"resultCode":0})", 0},
        {R"({"resultCode":0,"data":{"pic":"x"}})", 0},
        {R"({"resultCode":0,"data":[1,"x",null,[]]})", 0},
    };
    for (const Case& c : cases) {
        Value reply = NSJSONSerialization::JSONObjectWithData(NSData::fromString(c.reply), 0, nullptr);
        Array models = MaskImgModel::modelsWithReply(reply);
        EXPECT_EQ(models.count(), c.count) << c.reply;
    }
    Value reply = NSJSONSerialization::JSONObjectWithData(
        NSData::fromString(R"({"data":[{"pic":"http://h/a.png","type":2,"wid":7}]})"), 0, nullptr);
    auto model = MaskImgModel::modelsWithReply(reply).objectAtIndex(0).objectAs<MaskImgModel>();
    ASSERT_TRUE(model);
    EXPECT_EQ(model->pic, std::optional<std::string>("http://h/a.png"));
    EXPECT_EQ(model->type, 2);
    EXPECT_EQ(model->wid, 7);
    EXPECT_EQ(MaskImgModel::modelsWithReply(Value()).count(), 0u);
}

TEST_F(CameraTest, TheListAsksForEachTypeAndTheServerRefusesOthers) {
    open();
    auto requests = server.requestsTo(std::string("/trasselin/") + devserver::kWatermarkListPath);
    std::set<std::string> types;
    for (const auto& request : requests) types.insert(request.queryParam("type").value_or(""));
    EXPECT_EQ(types, (std::set<std::string>{"1", "2"}));
    std::optional<Ref<NSError>> refused;
    MaskImgModel::getMarkImgWithType(Value(3),
                                     [&](const std::optional<Array>& models, const Ref<NSError>& error) {
                                         EXPECT_FALSE(models);
                                         refused = error;
                                     });
    ASSERT_TRUE(waitUntil([&] { return refused.has_value(); }));
    ASSERT_TRUE(*refused);
    EXPECT_EQ((*refused)->code(), 10002);
}
