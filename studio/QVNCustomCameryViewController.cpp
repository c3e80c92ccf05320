// The watermark camera: capture, flash and lens, the watermark lists and strip, and the stickers.

#include "studio/QVNCustomCameryViewController.h"

#include "app/QVNTAAnalyticsHelper.h"
#include "dispatch/Dispatch.h"
#include "sdk/analytics/collection/Tally.h"
#include "studio/CameraArtwork.h"
#include "studio/SaveView.h"
#include "uikit/CAAnimation.h"
#include "uikit/UIImagePickerController.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"

namespace {

constexpr long kBorderTag = 10;

void setNormalImage(const Weak<UIButton>& outlet, const std::string& name) {
    if (auto button = outlet.lock()) button->setImage(CameraArtwork::imageNamed(name), UIControlStateNormal);
}

std::vector<Ref<MaskImgModel>> modelsOf(const Array& array) {
    std::vector<Ref<MaskImgModel>> models;
    for (const Value& value : array)
        if (auto model = value.objectAs<MaskImgModel>()) models.push_back(model);
    return models;
}

}  // namespace

// ---- lazily made views and stickers -------------------------------------------------------------

Ref<UIView> QVNCustomCameryViewController::cameraView() {
    if (!cameraView_) {
        CGRect b = view()->bounds();
        cameraView_ = make<UIView>(CGRectMake(0, 0, b.size.width, b.size.height));
    }
    return cameraView_;
}

Ref<UIImageView> QVNCustomCameryViewController::baseView() {
    if (!baseView_) {
        baseView_ = make<UIImageView>(view()->frame());
        baseView_->setUserInteractionEnabled(true);
        baseView_->setMultipleTouchEnabled(true);
        cameraView()->addSubview(baseView_);
    }
    return baseView_;
}

std::vector<Ref<SKStickerView>>& QVNCustomCameryViewController::stickerViewArray() {
    if (!stickerViewArray_) stickerViewArray_.emplace(std::vector<Ref<SKStickerView>>{morkavelMarkImg()});
    return *stickerViewArray_;
}

Ref<SKStickerView> QVNCustomCameryViewController::morkavelMarkImg() {
    if (!morkavelMarkImg_) {
        CGRect screen = UIScreen::mainScreen()->bounds();
        auto logo =
            make<SKStickerView>(CGRectMake(screen.size.width - 180, screen.size.height - 35, 180, 35));
        // The composed photo draws the logo into the sticker less its handles' margins, a strip
        // far flatter than the artwork: it keeps its own proportions there.
        auto artwork = make<UIImageView>(CameraArtwork::imageNamed(kLogoImageName));
        artwork->setContentMode(UIViewContentModeScaleAspectFit);
        logo->setContentView(artwork);
        logo->setStickerViewDelegate(selfAs<QVNCustomCameryViewController>());
        logo->setPreventsPositionOutsideSuperview(false);
        logo->setTranslucencySticker(false);
        logo->hideEditingHandles();
        morkavelMarkImg_ = logo;
    }
    return morkavelMarkImg_;
}

// ---- view life ----------------------------------------------------------------------------------

void QVNCustomCameryViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    initialize();
    getmarkImgsWithType(1);
    getmarkImgsWithType(2);
}

void QVNCustomCameryViewController::viewWillAppear(bool animated) {
    if (auto panel = MiddleView.lock()) panel->setHidden(true);
    UIViewController::viewWillAppear(animated);
    QVNTAAnalyticsHelper::beginLogPageView(*this);
    Tally::beginLogPageView(std::string("QVNCustomCameryViewController"));
}

void QVNCustomCameryViewController::viewWillDisappear(bool animated) {
    UIViewController::viewWillDisappear(animated);
    QVNTAAnalyticsHelper::endLogPageView(*this);
    Tally::endLogPageView(std::string("QVNCustomCameryViewController"));
}

UIInterfaceOrientationMask QVNCustomCameryViewController::supportedInterfaceOrientations() const {
    return UIInterfaceOrientationMaskPortrait;
}

UIInterfaceOrientation QVNCustomCameryViewController::preferredInterfaceOrientationForPresentation() const {
    return UIInterfaceOrientationPortrait;
}

void QVNCustomCameryViewController::touchesBegan(const std::set<Ref<UITouch>>&, const Ref<UIEvent>&) {
    if (auto panel = MiddleView.lock(); panel && !panel->isHidden()) panel->setHidden(true);
    if (shareView_) shareView_->removeFromSuperview();
}

// ---- buttons ------------------------------------------------------------------------------------

void QVNCustomCameryViewController::buttonAction(const Ref<NSObject>& sender) {
    auto button = std::dynamic_pointer_cast<UIView>(sender);
    if (!button) return;
    switch (button->tag()) {
        case kFlashTag:
            changeFlash();
            break;
        case kLensTag:
            positionCnange();
            break;
        case kShootTag:
            takePhoto();
            break;
        case kPanelTag:
            showMiddleView();
            break;
        case kCloseTag:
            if (auto navigation = navigationController()) navigation->popViewControllerAnimated(true);
            break;
        default:
            break;
    }
}

void QVNCustomCameryViewController::btnAction(const Ref<NSObject>& sender) {
    auto button = std::dynamic_pointer_cast<UIView>(sender);
    if (!button) return;
    switch (button->tag()) {
        case kFrontListTag:
            clickPositiveBtn();
            break;
        case kSideListTag:
            clickSideBtn();
            break;
        case kRemoveAllTag:
            removeMarkImg();
            break;
        case kHidePanelTag:
            hideMiddleView();
            break;
        default:
            break;
    }
}

// ---- capture ------------------------------------------------------------------------------------

void QVNCustomCameryViewController::initialize() {
    session = make<AVCaptureSession>();
    session->setSessionPreset(AVCaptureSessionPresetHigh);
    device = AVCaptureDevice::defaultDeviceWithMediaType(AVMediaTypeVideo);
    if (device && device->lockForConfiguration(nullptr)) {
        setNormalImage(flashButton,
                       device->flashMode() != AVCaptureFlashModeOff ? "shangguang" : "shangguang-guanbi");
        device->unlockForConfiguration();
    }
    captureInput = AVCaptureDeviceInput::deviceInputWithDevice(device, nullptr);
    // No camera, or no access to it: no preview and nothing to shoot with.
    if (!captureInput) return;
    session->addInput(captureInput);
    captureOutput = make<AVCaptureStillImageOutput>();
    Dictionary settings = Dictionary::mutableDictionary();
    settings.setObject(AVVideoCodecKey, AVVideoCodecJPEG);
    captureOutput->setOutputSettings(settings);
    session->addOutput(captureOutput);

    Ref<UIView> holder = cameraView();
    view()->insertSubviewAtIndex(holder, 0);
    preview = AVCaptureVideoPreviewLayer::layerWithSession(session);
    CGRect b = holder->bounds();
    preview->setFrame(CGRectMake(0, 0, b.size.width, b.size.height));
    preview->setVideoGravity(AVLayerVideoGravityResizeAspectFill);
    holder->layer()->addSublayer(preview);
    session->startRunning();
}

void QVNCustomCameryViewController::changeFlash() {
    if (!UIImagePickerController::isSourceTypeAvailable(UIImagePickerControllerSourceTypeCamera)) return;
    if (!device || !device->hasFlash()) return;
    Ref<UIButton> button = flashButton.lock();
    if (button) button->setEnabled(false);
    if (device->lockForConfiguration(nullptr)) {
        if (device->flashMode() != AVCaptureFlashModeOff) {
            device->setFlashMode(AVCaptureFlashModeOff);
            setNormalImage(flashButton, "shangguang-guanbi");
        } else {
            device->setFlashMode(AVCaptureFlashModeAuto);
            setNormalImage(flashButton, "shangguang");
        }
        device->unlockForConfiguration();
    }
    if (button) button->setEnabled(true);
}

Ref<AVCaptureDevice> QVNCustomCameryViewController::cameraWithPosition(AVCaptureDevicePosition position) {
    for (const Ref<AVCaptureDevice>& camera : AVCaptureDevice::devicesWithMediaType(AVMediaTypeVideo))
        if (camera->position() == position) return camera;
    return nullptr;
}

void QVNCustomCameryViewController::positionCnange() {
    if (!session) return;
    Ref<AVCaptureDeviceInput> current;
    for (const Ref<AVCaptureInput>& input : session->inputs()) {
        auto deviceInput = std::dynamic_pointer_cast<AVCaptureDeviceInput>(input);
        if (deviceInput && deviceInput->device()->hasMediaType(AVMediaTypeVideo)) {
            current = deviceInput;
            break;
        }
    }
    if (!current) return;
    AVCaptureDevicePosition next = current->device()->position() == AVCaptureDevicePositionFront
                                       ? AVCaptureDevicePositionBack
                                       : AVCaptureDevicePositionFront;
    // A phone without a camera on the other side keeps the one it has (and shows no flip).
    Ref<AVCaptureDevice> camera = cameraWithPosition(next);
    Ref<AVCaptureDeviceInput> input =
        camera ? AVCaptureDeviceInput::deviceInputWithDevice(camera, nullptr) : nullptr;
    if (!input) return;

    auto flip = CATransition::animation();
    flip->setDuration(0.8);
    flip->setType("oglFlip");
    if (device && device->position() == AVCaptureDevicePositionFront) {
        setNormalImage(positionBtn, "qiehuan-xuanzhong");
        flip->setSubtype(std::string(kCATransitionFromRight));
    } else if (device && device->position() == AVCaptureDevicePositionBack) {
        setNormalImage(positionBtn, "qiehuan");
        flip->setSubtype(std::string(kCATransitionFromLeft));
    }
    if (preview) preview->addAnimation(flip, std::string("animation"));

    device = camera;
    session->beginConfiguration();
    session->removeInput(current);
    session->addInput(input);
    session->commitConfiguration();
}

void QVNCustomCameryViewController::takePhoto() {
    if (!captureOutput) return;  // no camera: nothing to shoot with
    Ref<AVCaptureConnection> connection;
    for (const Ref<AVCaptureConnection>& candidate : captureOutput->connections()) {
        for (const Ref<AVCaptureInputPort>& port : candidate->inputPorts())
            if (port->mediaType() == AVMediaTypeVideo) {
                connection = candidate;
                break;
            }
        if (connection) break;
    }
    Weak<QVNCustomCameryViewController> weakSelf = selfAs<QVNCustomCameryViewController>();
    captureOutput->captureStillImageAsynchronouslyFromConnection(
        connection, [weakSelf](const Ref<AVCaptureSampleBuffer>& buffer, const Ref<NSError>&) {
            // The capture answers on a queue of its own; the screen's steps belong to the main one.
            dispatch_async(dispatch_get_main_queue(), [weakSelf, buffer] {
                auto self = weakSelf.lock();
                if (!self) return;
                self->addSaveView();
                if (self->session) self->session->stopRunning();
                auto data = AVCaptureStillImageOutput::jpegStillImageNSDataRepresentation(buffer);
                if (!data) return;
                // Bytes that do not decode leave the last photo as it was.
                if (Ref<UIImage> photo = UIImage::imageWithData(*data)) {
                    self->originalImage_ = photo;
                    self->finishImage = photo;
                }
            });
        });
}

// ---- the watermark panel ------------------------------------------------------------------------

void QVNCustomCameryViewController::getmarkImgsWithType(long type) {
    Weak<QVNCustomCameryViewController> weakSelf = selfAs<QVNCustomCameryViewController>();
    MaskImgModel::getMarkImgWithType(
        Value(type), [weakSelf, type](const std::optional<Array>& models, const Ref<NSError>& error) {
            auto self = weakSelf.lock();
            if (!self || error || !models) return;
            if (type == 1) {
                self->datasArray = modelsOf(*models);
                self->getDatasForTableViewArray(1);
            } else if (type == 2) {
                self->datasArraySide = modelsOf(*models);
            }
        });
}

void QVNCustomCameryViewController::showMiddleView() {
    if (auto panel = MiddleView.lock()) panel->setHidden(false);
    setupHorizontalView();
}

void QVNCustomCameryViewController::hideMiddleView() {
    if (auto panel = MiddleView.lock()) panel->setHidden(true);
}

void QVNCustomCameryViewController::setupHorizontalView() {
    Ref<UIView> container = easyView.lock();
    if (!container) return;
    // Showing the panel again keeps the one strip rather than stacking another over it.
    if (horizontalTableView && horizontalTableView->superview() == container) {
        horizontalTableView->reload();
        return;
    }
    if (horizontalTableView) horizontalTableView->removeFromSuperview();
    CGRect b = container->bounds();
    auto strip = make<HorizontalTableView>(CGRectMake(0, 0, b.size.width, b.size.height), b.size.height);
    strip->setDelegate(selfAs<QVNCustomCameryViewController>());
    strip->tableView()->setBackgroundColor(
        UIColor::colorWithRed(0.1450980392156863, 0.1450980392156863, 0.15294117647058825, 1));
    strip->tableView()->setAllowsSelection(true);
    strip->tableView()->setSeparatorStyle(UITableViewCellSeparatorStyleNone);
    strip->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleTopMargin);
    container->addSubview(strip);
    horizontalTableView = strip;
    strip->reload();
}

void QVNCustomCameryViewController::clickPositiveBtn() {
    setNormalImage(sideBtn, "cemian");
    setNormalImage(positiveBtn, "zhengmian1");
    getDatasForTableViewArray(1);
}

void QVNCustomCameryViewController::clickSideBtn() {
    setNormalImage(positiveBtn, "zhengmian");
    setNormalImage(sideBtn, "cemian1");
    getDatasForTableViewArray(2);
}

void QVNCustomCameryViewController::getDatasForTableViewArray(long type) {
    tableViewDatasArray = type == 2 ? datasArraySide : datasArray;
    if (horizontalTableView) horizontalTableView->reload();
}

long QVNCustomCameryViewController::horizontalTableViewNumberOfRowsInSection(HorizontalTableView&, long) {
    return static_cast<long>(tableViewDatasArray.size());
}

Ref<UITableViewCell>
QVNCustomCameryViewController::horizontalTableViewCellForRowAtIndexPath(HorizontalTableView& tableView,
                                                                        const Ref<NSIndexPath>& indexPath) {
    auto cell = MaskImgCell::cellWithTableView(tableView.tableView());
    if (!cell)
        return make<UITableViewCell>(UITableViewCellStyleDefault, std::string(MaskImgCell::kIdentifier));
    long row = indexPath ? indexPath->row() : -1;
    if (row >= 0 && row < static_cast<long>(tableViewDatasArray.size()))
        cell->setMaskImgModel(tableViewDatasArray[static_cast<std::size_t>(row)]);
    if (Ref<UIImageView> thumbnail = cell->maskImageView.lock()) {
        // A reused cell already carries its border overlay.
        Ref<UIView> border = thumbnail->viewWithTag(kBorderTag);
        if (!border || border == thumbnail) {
            auto overlay = make<UIImageView>(
                CGRectInset(thumbnail->bounds(), -MaskImgCell::kFrameOutset, -MaskImgCell::kFrameOutset));
            overlay->setTag(kBorderTag);
            overlay->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
            thumbnail->addSubview(overlay);
        }
        bool selected =
            selectedHorizontalIndexPath && indexPath && selectedHorizontalIndexPath->isEqual(*indexPath);
        borderIsSelected(selected, thumbnail);
    }
    return cell;
}

void QVNCustomCameryViewController::borderIsSelected(bool selected, const Ref<UIView>& view) {
    if (!view) return;
    for (const Ref<UIView>& sub : view->subviews()) {
        if (sub->tag() != kBorderTag) continue;
        if (auto border = std::dynamic_pointer_cast<UIImageView>(sub))
            border->setImage(
                CameraArtwork::imageNamed(selected ? "selected_border.png" : "image_border1.png"));
        return;
    }
}

Ref<UIView> QVNCustomCameryViewController::viewForIndexPath(const Ref<NSIndexPath>& indexPath,
                                                            const Ref<HorizontalTableView>& table) {
    if (!indexPath || !table) return nullptr;
    Ref<UITableViewCell> cell = table->tableView()->cellForRowAtIndexPath(indexPath);
    if (!cell || cell->contentView()->subviews().empty()) return nullptr;
    return cell->contentView()->subviews().front();
}

void QVNCustomCameryViewController::horizontalTableViewDidSelectRowAtIndexPath(
    HorizontalTableView& tableView, const Ref<NSIndexPath>& indexPath) {
    Ref<HorizontalTableView> table = tableView.selfAs<HorizontalTableView>();
    borderIsSelected(false, viewForIndexPath(selectedHorizontalIndexPath, table));
    selectedHorizontalIndexPath = indexPath;
    Ref<UIView> picked = viewForIndexPath(indexPath, table);
    borderIsSelected(true, picked);
    auto thumbnail = std::dynamic_pointer_cast<UIImageView>(picked);
    creakMaskImage(thumbnail ? thumbnail->image() : nullptr);
}

// ---- stickers -----------------------------------------------------------------------------------

void QVNCustomCameryViewController::creakMaskImage(const Ref<UIImage>& image) {
    auto picture = make<UIImageView>(image);
    if (stickerViewArray().size() >= kMaxStickers) {
        // Full: the pick replaces the picture of the sticker tapped last.
        if (selectedSKStickerView) selectedSKStickerView->setContentView(picture);
        return;
    }
    auto sticker = make<SKStickerView>(CGRectMake(50, 50, 100, 100));
    sticker->setCenter(view()->center());
    sticker->setContentView(picture);
    sticker->setStickerViewDelegate(selfAs<QVNCustomCameryViewController>());
    sticker->setPreventsPositionOutsideSuperview(false);
    sticker->setTranslucencySticker(false);
    sticker->showEditingHandles();
    baseView()->addSubview(sticker);
    stickerViewArray().push_back(sticker);

    Weak<QVNCustomCameryViewController> weakSelf = selfAs<QVNCustomCameryViewController>();
    sticker->setDeleteBlock([weakSelf](const Ref<SKStickerView>& deleted) {
        auto self = weakSelf.lock();
        if (!self) return;
        if (self->stickerViewArray_) {
            auto& list = *self->stickerViewArray_;
            list.erase(std::remove(list.begin(), list.end(), deleted), list.end());
        }
        // A sticker that left the screen can no longer be the one a full list's pick changes.
        if (self->selectedSKStickerView == deleted) self->selectedSKStickerView = nullptr;
    });
    auto tap = make<SKTapGestureRecognizer>(nullptr, [weakSelf](const Ref<UIGestureRecognizer>& recognizer) {
        if (auto self = weakSelf.lock()) self->tapAction(recognizer);
    });
    tap->setStickerView(sticker);
    sticker->addGestureRecognizer(tap);
}

void QVNCustomCameryViewController::tapAction(const Ref<UIGestureRecognizer>& recognizer) {
    if (auto tap = std::dynamic_pointer_cast<SKTapGestureRecognizer>(recognizer))
        selectedSKStickerView = tap->stickerView();
}

void QVNCustomCameryViewController::removeMarkImage() {
    if (baseView_) {
        std::vector<Ref<UIView>> placed = baseView_->subviews();
        for (const Ref<UIView>& sub : placed)
            if (std::dynamic_pointer_cast<SKStickerView>(sub)) sub->removeFromSuperview();
    }
    stickerViewArray_.reset();
}

void QVNCustomCameryViewController::removeMarkImg() {
    removeMarkImage();
    stickerViewArray().clear();
    stickerViewArray_.reset();
    selectedSKStickerView = nullptr;
}
