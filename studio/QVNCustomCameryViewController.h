#pragma once
// QVNCustomCameryViewController: the watermark camera. A full-screen, portrait-only screen with a
// live preview, the flash toggle (off and auto) and the lens switch, a watermark panel with two
// server lists (front and side views of a car) shown in a horizontal strip, picked watermarks
// placed as stickers over the preview, and the shot. After the shot a save bar offers to save the
// photo (composed with the app's logo and every sticker) to the album or to share it to WeChat
// chat, WeChat moments or Weibo.
//
// The scene ("Main"/"QVNCustomCameryViewController", CameraStoryboard.h) builds the view, connects
// the outlets and sends buttonAction (tags 10-14) and btnAction (tags 18-21); the save bar and the
// share sheet come from the "SaveView" and "ShareView" nibs.
//
// Every photo is composed from the original shot, so saving or sharing again never stamps the
// logo and the stickers twice. The still capture answers off the main thread; its view steps run
// on the main queue. Main thread only otherwise.

#include <cstdint>
#include <optional>
#include <vector>

#include "controls/HorizontalTableView.h"
#include "media/AVCapture.h"
#include "sdk/wechat/WXApiDelegate.h"
#include "sdk/weibo/bridge/WBMessageObject.h"
#include "studio/MaskImgModel.h"
#include "studio/SKStickerView.h"
#include "uikit/UIButton.h"
#include "uikit/UIGestureRecognizer.h"
#include "uikit/UIScrollView.h"
#include "uikit/UIViewController.h"

class SaveView;
class ShareView;

class QVNCustomCameryViewController : public UIViewController,
                                      public UIGestureRecognizerDelegate,
                                      public WXApiDelegate,
                                      public SKStickerViewDelegate,
                                      public HorizontalTableViewDelegate {
  public:
    // Button tags.
    enum : long {
        kFlashTag = 10,
        kLensTag = 11,
        kShootTag = 12,
        kPanelTag = 13,
        kCloseTag = 14,
        kFrontListTag = 18,
        kSideListTag = 19,
        kRemoveAllTag = 20,
        kHidePanelTag = 21,
        kCancelSaveTag = 22,
        kSaveTag = 23,
        kSaveAndShareTag = 24,
        kMomentsTag = 26,
        kChatTag = 27,
        kWeiboTag = 28,
        kCancelShareTag = 29,
    };
    // The most stickers the list holds: the logo and three watermarks.
    static constexpr std::size_t kMaxStickers = 4;
    static constexpr char kLogoImageName[] = "shuiyin.png";

    std::string className() const override { return "QVNCustomCameryViewController"; }

    // ---- outlets (the scene connects them) -------------------------------------------------
    Weak<UIButton> flashButton;
    Weak<UIButton> positionBtn;
    Weak<UIView> MiddleView;  // the watermark panel
    Weak<UIButton> positiveBtn;
    Weak<UIButton> sideBtn;
    Weak<UIButton> resetBtn;
    Weak<UIButton> closeBtn;
    Weak<UIScrollView> picScrollView;
    Weak<UIView> easyView;  // the strip's container inside the panel

    // ---- capture ----------------------------------------------------------------------------
    Ref<AVCaptureSession> session;
    Ref<AVCaptureDevice> device;
    Ref<AVCaptureDeviceInput> captureInput;
    Ref<AVCaptureStillImageOutput> captureOutput;
    Ref<AVCaptureVideoPreviewLayer> preview;
    // The photo as last composed (the shot itself until the first save or share).
    Ref<UIImage> finishImage;
    // The shot as the camera took it; every composition starts from it.
    const Ref<UIImage>& originalImage() const { return originalImage_; }

    // Made on first use: the preview's holder (the root view's size) and, inside it, the photo
    // layer that carries the placed stickers.
    Ref<UIView> cameraView();
    Ref<UIImageView> baseView();

    // ---- watermarks -------------------------------------------------------------------------
    std::vector<Ref<MaskImgModel>> datasArray;           // front views
    std::vector<Ref<MaskImgModel>> datasArraySide;       // side views
    std::vector<Ref<MaskImgModel>> tableViewDatasArray;  // the rows the strip shows
    // The stickers, the logo first; re-created holding the logo whenever it is read while absent.
    std::vector<Ref<SKStickerView>>& stickerViewArray();
    bool hasStickerViewArray() const { return stickerViewArray_.has_value(); }
    // The app's logo sticker, made on first use; never on screen, always composed.
    Ref<SKStickerView> morkavelMarkImg();
    Ref<SKStickerView> selectedSKStickerView;
    Ref<NSIndexPath> selectedHorizontalIndexPath;
    Ref<HorizontalTableView> horizontalTableView;

    // ---- view life --------------------------------------------------------------------------
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    bool prefersStatusBarHidden() const override { return true; }
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override;
    UIInterfaceOrientation preferredInterfaceOrientationForPresentation() const override;
    void touchesBegan(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;

    // ---- actions ----------------------------------------------------------------------------
    void buttonAction(const Ref<NSObject>& sender);
    void btnAction(const Ref<NSObject>& sender);

    void initialize();
    void changeFlash();
    void positionCnange();
    Ref<AVCaptureDevice> cameraWithPosition(AVCaptureDevicePosition position);
    void takePhoto();
    void showMiddleView();
    void hideMiddleView();
    void setupHorizontalView();
    void clickPositiveBtn();
    void clickSideBtn();
    void getDatasForTableViewArray(long type);
    void getmarkImgsWithType(long type);
    void creakMaskImage(const Ref<UIImage>& image);
    void removeMarkImg();
    void removeMarkImage();
    void tapAction(const Ref<UIGestureRecognizer>& recognizer);
    void borderIsSelected(bool selected, const Ref<UIView>& view);
    Ref<UIView> viewForIndexPath(const Ref<NSIndexPath>& indexPath, const Ref<HorizontalTableView>& table);

    // ---- the strip ----------------------------------------------------------------------------
    long horizontalTableViewNumberOfRowsInSection(HorizontalTableView& tableView, long section) override;
    Ref<UITableViewCell> horizontalTableViewCellForRowAtIndexPath(HorizontalTableView& tableView,
                                                                  const Ref<NSIndexPath>& indexPath) override;
    void horizontalTableViewDidSelectRowAtIndexPath(HorizontalTableView& tableView,
                                                    const Ref<NSIndexPath>& indexPath) override;

    // ---- save and share ---------------------------------------------------------------------
    Ref<SaveView> saveView();
    Ref<ShareView> shareView();
    bool hasShareView() const { return shareView_ != nullptr; }
    void addSaveView();
    void cancelSaveImg();
    // Composes, writes to the album and, for the save button (23), returns to the live preview.
    void saveImg(long tag);
    // Composes finishImage from the original shot and every sticker of the list, in order.
    void saveImg();
    // The photo with one sticker drawn in at its place, size and turn.
    Ref<UIImage> saveImageWithUIImage(const Ref<UIImage>& image, const Ref<SKStickerView>& stickerView);
    void imageDidFinishSavingWithError(const Ref<UIImage>& image, const Ref<NSError>& error,
                                       void* contextInfo);
    void shareImg();
    void shareToWeixinWithScene(std::int32_t scene);
    void shareToWeibo();
    Ref<WBMessageObject> messageToShare();
    // The image stretched into a scale-1 picture of the given width and the same aspect ratio;
    // nullptr for an image without area.
    Ref<UIImage> imageCompressForWidth(const Ref<UIImage>& image, CGFloat targetWidth);

  private:
    Ref<UIView> cameraView_;
    Ref<UIImageView> baseView_;
    std::optional<std::vector<Ref<SKStickerView>>> stickerViewArray_;
    Ref<SKStickerView> morkavelMarkImg_;
    Ref<SaveView> saveView_;
    Ref<ShareView> shareView_;
    Ref<UIImage> originalImage_;
};
