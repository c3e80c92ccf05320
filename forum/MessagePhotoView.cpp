#include "forum/MessagePhotoView.h"

#include <algorithm>

#include "forum/ForumResources.h"
#include "forum/ForumSupport.h"
#include "foundation/NSFileManager.h"
#include "foundation/NSLog.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSPathUtilities.h"
#include "graphics/UIColor.h"
#include "uikit/UIAlertController.h"
#include "uikit/UITapGestureRecognizer.h"
#include "uikit/UIViewController.h"
#include "uikit/UIWindow.h"

using detail::forum::imageNamed;

namespace {

std::string documentsFolder() {
    auto folders = NSSearchPathForDirectoriesInDomains(NSDocumentDirectory, NSUserDomainMask, true);
    return folders.empty() ? std::string() : folders.front();
}

Ref<UIImage> imageOf(const Ref<NSObject>& source) {
    if (auto asset = std::dynamic_pointer_cast<ALAsset>(source)) {
        Ref<ALAssetRepresentation> representation = asset->defaultRepresentation();
        CGImageRef picture = representation ? representation->fullScreenImage() : CGImageRef();
        return picture ? UIImage::imageWithCGImage(picture) : nullptr;
    }
    return std::dynamic_pointer_cast<UIImage>(source);
}

}  // namespace

// ---- a thumbnail ----------------------------------------------------------------------------------

void MessagePhotoMenuItem::setContentImage(const Ref<UIImage>& image) {
    const CGFloat W = bounds().size.width, H = bounds().size.height;
    imageView = make<UIImageView>(CGRectMake(0, 10, W - 10, H - 10));
    imageView->setContentMode(UIViewContentModeScaleAspectFit);
    imageView->setImage(image);
    imageView->setUserInteractionEnabled(true);
    Weak<MessagePhotoMenuItem> weak = selfAs<MessagePhotoMenuItem>();
    imageView->addGestureRecognizer(
        make<UITapGestureRecognizer>(self(), [weak](const Ref<UIGestureRecognizer>&) {
            if (auto self = weak.lock()) self->magnifyPicture();
        }));
    addSubview(imageView);
    deleteButton_ = UIButton::buttonWithType(UIButtonTypeCustom);
    deleteButton_->setFrame(CGRectMake(W - 17, 2, 15, 15));
    deleteButton_->setImage(imageNamed("close_05"), UIControlStateNormal);
    deleteButton_->setTag(static_cast<long>(index));
    deleteButton_->addTarget(selfAs<MessagePhotoMenuItem>(), &MessagePhotoMenuItem::deletePhotoItem,
                             "deletePhotoItem:", UIControlEventTouchUpInside);
    addSubview(deleteButton_);
}

void MessagePhotoMenuItem::magnifyPicture() {
    detail::forum::showImageFullScreen(imageView);
}

void MessagePhotoMenuItem::deletePhotoItem(const Ref<NSObject>& sender) {
    auto button = std::dynamic_pointer_cast<UIButton>(sender);
    if (auto d = delegate())
        d->messagePhotoItemViewDidSelectDeleteButtonAtIndex(selfAs<MessagePhotoMenuItem>(),
                                                            button ? button->tag() : index);
}

// ---- the strip ----------------------------------------------------------------------------------------

void MessagePhotoView::didInit() {
    setup();
}

void MessagePhotoView::setup() {
    const CGFloat W = bounds().size.width;
    photoScrollView = make<UIScrollView>(CGRectMake(0, 24, W, 126));
    photoScrollView->setContentSize(CGSizeMake(1024, 124));
    addSubview(photoScrollView);
    itemArray_.clear();
    pushBtn = UIButton::buttonWithType(UIButtonTypeCustom);
    pushBtn->setFrame(CGRectMake((W - 164) / 2, 174, 164, 35));
    pushBtn->setBackgroundImage(imageNamed("tijiao_up.png"), UIControlStateNormal);
    pushBtn->setBackgroundImage(imageNamed("tijiao_down.png"), UIControlStateSelected);
    lblNum = make<UILabel>(pushBtn->frame());
    addSubview(pushBtn);
    addSubview(lblNum);
    initlizerScrollView(demoArray_);
}

void MessagePhotoView::reloadDataWithImage(const Ref<UIImage>& image) {
    if (!image) return;
    demoArray_.push_back(image);
    initlizerScrollView(demoArray_);
}

void MessagePhotoView::initlizerScrollView(const std::vector<Ref<NSObject>>& sources) {
    NS_ASSERT_MAIN_THREAD();
    for (const auto& subview : std::vector<Ref<UIView>>(photoScrollView->subviews()))
        subview->removeFromSuperview();
    itemArray_.clear();
    const CGFloat W = bounds().size.width;
    const std::size_t n = sources.size();
    for (std::size_t i = 0; i < n; ++i) {
        Ref<UIImage> image = imageOf(sources[i]);
        auto item =
            make<MessagePhotoMenuItem>(CGRectMake((W - 210) / 4 + i * ((W - 210) / 4 + 70), 0, 80, 116));
        photoItem = item;
        item->setDelegate(selfAs<MessagePhotoView>());
        item->index = static_cast<long long>(i);
        item->setContentImage(image);
        photoScrollView->addSubview(item);
        if (image) itemArray_.push_back(image);
    }
    addButton_ = nullptr;
    if (n < kMaximumPhotos) {
        addButton_ = UIButton::buttonWithType(UIButtonTypeCustom);
        addButton_->setFrame(CGRectMake(n * 108 + 38, 10, 70, 106));
        addButton_->setImage(imageNamed("add_05"), UIControlStateNormal);
        addButton_->setImage(imageNamed("add_05"), UIControlStateSelected);
        addButton_->addTarget(selfAs<MessagePhotoView>(), &MessagePhotoView::openMenu, "openMenu",
                              UIControlEventTouchUpInside);
        photoScrollView->addSubview(addButton_);
    }
    char count[96];
    std::snprintf(count, sizeof count, "已选%lu张，共可选5张", static_cast<unsigned long>(itemArray_.size()));
    lblNum->setText(std::string(count));
    lblNum->setBackgroundColor(UIColor::clearColor());
    lblNum->setTextColor(UIColor::grayColor());
    lblNum->setTextAlignment(NSTextAlignmentCenter);
    photoScrollView->setContentSize(CGSizeMake(std::min<std::size_t>(n + 1, kMaximumPhotos) * 108 + 38, 0));
    if (auto d = delegate()) d->sendImageArray(itemArray_);
}

void MessagePhotoView::messagePhotoItemViewDidSelectDeleteButtonAtIndex(const Ref<MessagePhotoMenuItem>&,
                                                                        long long index) {
    if (index < 0 || index >= static_cast<long long>(demoArray_.size())) return;
    demoArray_.erase(demoArray_.begin() + index);
    initlizerScrollView(demoArray_);
}

// ---- adding ---------------------------------------------------------------------------------------------

void MessagePhotoView::openMenu() {
    myActionSheet_ = make<UIActionSheet>(std::nullopt, selfAs<MessagePhotoView>(), std::string("取消"),
                                         std::nullopt, std::vector<std::string>{"拍照", "从相册中选择"});
    myActionSheet_->showInView(window() ? Ref<UIView>(window()) : selfAs<UIView>());
}

void MessagePhotoView::actionSheetClickedButtonAtIndex(const Ref<UIActionSheet>& sheet, long buttonIndex) {
    std::optional<std::string> title = sheet ? sheet->buttonTitleAtIndex(buttonIndex) : std::nullopt;
    if (title == std::optional<std::string>("拍照"))
        takePhoto();
    else if (title == std::optional<std::string>("从相册中选择"))
        localPhoto();
    else
        NSLogLine("取消");
}

Ref<UIViewController> MessagePhotoView::viewController() const {
    for (Ref<UIView> ancestor = superview(); ancestor; ancestor = ancestor->superview())
        if (auto controller = std::dynamic_pointer_cast<UIViewController>(ancestor->nextResponder()))
            return controller;
    return nullptr;
}

void MessagePhotoView::takePhoto() {
    if (!UIImagePickerController::isSourceTypeAvailable(UIImagePickerControllerSourceTypeCamera)) {
        NSLogLine("模拟其中无法打开照相机,请在真机中使用");
        return;
    }
    auto picker = make<UIImagePickerController>();
    picker->setSourceType(UIImagePickerControllerSourceTypeCamera);
    picker->setAllowsEditing(true);
    picker->setDelegate(selfAs<MessagePhotoView>());
    if (Ref<UIViewController> owner = viewController()) owner->presentViewController(picker, true);
}

void MessagePhotoView::imagePickerControllerDidFinishPickingMediaWithInfo(
    const Ref<UIImagePickerController>& picker, const Dictionary& info) {
    if (picker) picker->dismissViewControllerAnimated(true);
    if (info[UIImagePickerControllerMediaType].optionalString() != std::string(kUTTypeImage)) return;
    Ref<UIImage> image = info[UIImagePickerControllerOriginalImage].objectAs<UIImage>();
    if (!image) return;
    reloadDataWithImage(image);
    if (auto jpeg = UIImageJPEGRepresentation(image, 0.1)) {
        std::string folder = documentsFolder();
        NSFileManager::defaultManager()->createDirectoryAtPath(folder, true);
        filePath_ = folder + "/image.png";
        jpeg->writeToFile(filePath_, true);
    }
}

void MessagePhotoView::imagePickerControllerDidCancel(const Ref<UIImagePickerController>& picker) {
    NSLogLine("您取消了选择图片");
    if (picker) picker->dismissViewControllerAnimated(true);
}

void MessagePhotoView::localPhoto() {
    auto picker = make<PKAssetPickerController>();
    picker->maximumNumberOfSelection =
        static_cast<long long>(kMaximumPhotos) - static_cast<long long>(demoArray_.size());
    picker->assetsFilter = ALAssetsFilter::allPhotos();
    picker->showEmptyGroups = false;
    picker->setDelegate(selfAs<MessagePhotoView>());
    picker->selectionFilter = NSPredicate::predicateWithBlock([](const Value& object, const Dictionary&) {
        auto asset = object.objectAs<ALAsset>();
        if (!asset) return true;
        if (asset->valueForProperty(ALAssetPropertyType).optionalString() != std::string(ALAssetTypeVideo))
            return true;
        Value duration = asset->valueForProperty(ALAssetPropertyDuration);
        return duration.number() && duration.number()->doubleValue() >= 5.0;
    });
    if (auto d = delegate()) d->addPicker(picker);
}

void MessagePhotoView::assetPickerControllerDidFinishPickingAssets(const Ref<PKAssetPickerController>& picker,
                                                                   const std::vector<Ref<ALAsset>>& assets) {
    if (assets.empty()) {
        // The user goes on choosing in the picker that is open: the alert only closes.
        auto alert = UIAlertController::alertControllerWithTitle(
            std::string("提示"), std::string("您还没选择图片，请重新选择"), UIAlertControllerStyleAlert);
        alert->addAction(UIAlertAction::actionWithTitle(std::string("确定"), UIAlertActionStyleDefault));
        if (picker) picker->presentViewController(alert, true);
        return;
    }
    photoMenuItems_ = assets;
    if (demoArray_.size() + assets.size() > kMaximumPhotos) {
        auto alert = UIAlertController::alertControllerWithTitle(
            std::string("提示"), std::string("不能上传超过5张的图片"), UIAlertControllerStyleAlert);
        Weak<PKAssetPickerController> weakPicker = picker;
        alert->addAction(UIAlertAction::actionWithTitle(std::string("确定"), UIAlertActionStyleDefault,
                                                        [weakPicker](const Ref<UIAlertAction>&) {
                                                            NSLogLine("点击确定，处理的事件在这里发生");
                                                            if (auto picker = weakPicker.lock())
                                                                picker->dismissViewControllerAnimated(true);
                                                        }));
        if (picker) picker->presentViewController(alert, true);
        return;
    }
    demoArray_.insert(demoArray_.end(), assets.begin(), assets.end());
    initlizerScrollView(demoArray_);
    if (picker) picker->dismissViewControllerAnimated(true);
}

// ---- files -----------------------------------------------------------------------------------------------

NSData MessagePhotoView::imageData(const Ref<UIImage>& image) {
    std::optional<NSData> best = UIImageJPEGRepresentation(image, 1.0);
    if (!best) return NSData();
    std::size_t length = best->length();
    double quality = length > 1048576 ? 0.1 : length > 524288 ? 0.5 : length > 204800 ? 0.9 : 1.0;
    if (quality == 1.0) return *best;
    return UIImageJPEGRepresentation(image, quality).value_or(*best);
}

void MessagePhotoView::saveTheImage(const NSData& data, long long index) {
    std::string folder = documentsFolder() + "/image";
    NSFileManager::defaultManager()->createDirectoryAtPath(folder, true);
    filePath_ = folder + "/" + std::to_string(index + 1) + "image.png";
    data.writeToFile(filePath_, true);
}
