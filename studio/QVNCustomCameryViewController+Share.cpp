// The watermark camera after the shot: the save bar, composing the photo, the album, and sharing
// to WeChat and Weibo.

#include <cmath>

#include "app/AppDelegate.h"
#include "controls/VHProgressHUD.h"
#include "graphics/UIGraphics.h"
#include "sdk/wechat/WXApi.h"
#include "sdk/weibo/bridge/WeiboSDK.h"
#include "studio/QVNCustomCameryViewController.h"
#include "studio/SaveView.h"
#include "studio/UIImage+DrawPictures.h"
#include "system/PhotoAlbum.h"
#include "uikit/UIApplication.h"
#include "uikit/UINib.h"

namespace {

// The Weibo open platform's default OAuth2 page.
constexpr char kWeiboRedirectURI[] = "https://api.weibo.com/oauth2/default.html";

template <class View>
Ref<View> firstTopLevelObject(const char* nibName, const Ref<NSObject>& owner) {
    auto nib = UINib::nibWithNibName(nibName, nullptr);
    if (!nib) return nullptr;
    auto objects = nib->instantiateWithOwner(owner);
    return objects.empty() ? nullptr : std::dynamic_pointer_cast<View>(objects.front());
}

}  // namespace

Ref<SaveView> QVNCustomCameryViewController::saveView() {
    if (!saveView_) {
        saveView_ =
            firstTopLevelObject<SaveView>(SaveView::kNibName, selfAs<QVNCustomCameryViewController>());
        if (!saveView_) saveView_ = make<SaveView>();
        CGRect b = view()->bounds();
        saveView_->setFrame(CGRectMake(0, b.size.height - 98, b.size.width, 98));
    }
    return saveView_;
}

Ref<ShareView> QVNCustomCameryViewController::shareView() {
    if (!shareView_) {
        shareView_ =
            firstTopLevelObject<ShareView>(ShareView::kNibName, selfAs<QVNCustomCameryViewController>());
        if (!shareView_) shareView_ = make<ShareView>();
        shareView_->setFrame(view()->frame());
        if (auto weibo = shareView_->weiboBtn.lock()) weibo->setHidden(true);
        if (!WXApi::isWXAppInstalled()) shareView_->hideWeiXinBtn();
    }
    return shareView_;
}

void QVNCustomCameryViewController::addSaveView() {
    Ref<SaveView> bar = saveView();
    if (bar->superview() == view())
        view()->bringSubviewToFront(bar);
    else
        view()->addSubview(bar);
    bar->setHidden(false);
    Weak<QVNCustomCameryViewController> weakSelf = selfAs<QVNCustomCameryViewController>();
    bar->setButtonAction([weakSelf](const Ref<UIButton>& button) {
        auto self = weakSelf.lock();
        if (!self || !button) return;
        switch (button->tag()) {
            case kCancelSaveTag:
                self->cancelSaveImg();
                break;
            case kSaveTag:
                self->saveImg(kSaveTag);
                break;
            case kSaveAndShareTag:
                // Nothing to share without a photo (the shot gave no picture).
                if (!self->originalImage()) break;
                self->saveImg(kSaveAndShareTag);
                self->shareImg();
                break;
            default:
                break;
        }
    });
}

void QVNCustomCameryViewController::cancelSaveImg() {
    saveView()->setHidden(true);
    if (session) session->startRunning();
}

void QVNCustomCameryViewController::saveImg(long tag) {
    // No photo yet (the shot gave no picture): there is nothing to compose or to write.
    if (!originalImage_) return;
    saveImg();
    Weak<QVNCustomCameryViewController> weakSelf = selfAs<QVNCustomCameryViewController>();
    UIImageWriteToSavedPhotosAlbum(
        finishImage, selfAs<NSObject>(),
        [weakSelf](const Ref<UIImage>& image, const Ref<NSError>& error, void* context) {
            if (auto self = weakSelf.lock()) self->imageDidFinishSavingWithError(image, error, context);
        });
    if (tag == kSaveTag) {
        saveView()->setHidden(true);
        if (session) session->startRunning();
    }
}

void QVNCustomCameryViewController::saveImg() {
    // Always from the original shot: composing over an earlier composition would stamp the logo
    // and the stickers a second time.
    Ref<UIImage> photo = originalImage_;
    for (const Ref<SKStickerView>& sticker : stickerViewArray()) {
        if (!photo) break;
        photo = saveImageWithUIImage(photo, sticker);
    }
    finishImage = photo;
}

Ref<UIImage> QVNCustomCameryViewController::saveImageWithUIImage(const Ref<UIImage>& image,
                                                                 const Ref<SKStickerView>& stickerView) {
    if (!image || !stickerView) return image;
    CGSize photo = image->size();
    if (!(photo.width > 0) || !(photo.height > 0)) return image;
    CGSize base = baseView()->bounds().size;
    long mode = static_cast<long>(baseView()->contentMode());
    CGSize screen = view()->frame().size;

    UIGraphicsBeginImageContextWithOptions(photo, false, 1);
    CGContextRef context = UIGraphicsGetCurrentContext();
    image->drawInRect(CGRectMake(0, 0, photo.width, photo.height));

    CGPoint centre = UIImage_DrawPictures::getTranslatePositionWithImageSize(
        photo, base, stickerView->layer()->position(), mode);
    CGContextTranslateCTM(context, centre.x, centre.y);
    float rate = UIImage_DrawPictures::getScaleRateWithImageSize(photo, base, mode);
    float angle = static_cast<float>(stickerView->endDeltaAngle());
    CGPoint corner = UIImage_DrawPictures::getTranslateCornerPositionWithScaleRate(
        rate, stickerView->endScaleSize(), -angle);
    CGContextTranslateCTM(context, corner.x, corner.y);
    CGContextRotateCTM(context, -stickerView->endDeltaAngle());
    CGSize size =
        UIImage_DrawPictures::getTranslateSizeWithImageSize(photo, screen, stickerView->endScaleSize(), mode);
    if (auto content = std::dynamic_pointer_cast<UIImageView>(stickerView->contentView())) {
        if (Ref<UIImage> picture = content->image()) {
            // The picture fills the rectangle as its view fills the sticker: stretched by default
            // (as a watermark shows on screen), or at its own proportions, centred, when its view
            // keeps them.
            CGRect box = CGRectMake(0, 0, size.width, size.height);
            if (content->contentMode() == UIViewContentModeScaleAspectFit)
                box = AVMakeRectWithAspectRatioInsideRect(picture->size(), box);
            picture->drawInRect(box);
        }
    }

    Ref<UIImage> composed = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return composed ? composed : image;
}

void QVNCustomCameryViewController::imageDidFinishSavingWithError(const Ref<UIImage>&,
                                                                  const Ref<NSError>& error, void*) {
    Ref<VHProgressHUD> hud = VHProgressHUD::showHUDAddedTo(view(), true);
    hud->setMode(VHProgressHUDModeText);
    hud->setLabelText(std::string(error ? "保存失败" : "保存成功"));
    hud->show(true);
    hud->hide(true, 1.0);
    if (!error) removeMarkImage();
}

void QVNCustomCameryViewController::shareImg() {
    Ref<ShareView> sheet = shareView();
    view()->addSubview(sheet);
    Weak<QVNCustomCameryViewController> weakSelf = selfAs<QVNCustomCameryViewController>();
    sheet->setButtonAction([weakSelf](const Ref<UIButton>& button) {
        auto self = weakSelf.lock();
        if (!self || !button) return;
        switch (button->tag()) {
            case kMomentsTag:
                self->shareToWeixinWithScene(1);
                break;
            case kChatTag:
                self->shareToWeixinWithScene(0);
                break;
            case kWeiboTag:
                self->shareToWeibo();
                break;
            case kCancelShareTag:
                if (self->shareView_) self->shareView_->removeFromSuperview();
                break;
            default:
                break;
        }
    });
}

Ref<UIImage> QVNCustomCameryViewController::imageCompressForWidth(const Ref<UIImage>& image,
                                                                  CGFloat targetWidth) {
    if (!image) return nullptr;
    CGSize size = image->size();
    if (!(size.width > 0) || !(size.height > 0) || !(targetWidth > 0)) return nullptr;
    CGSize target = CGSizeMake(targetWidth, size.height * targetWidth / size.width);
    UIGraphicsBeginImageContextWithOptions(target, false, 1);
    image->drawInRect(CGRectMake(0, 0, target.width, target.height));
    Ref<UIImage> compressed = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return compressed;
}

void QVNCustomCameryViewController::shareToWeixinWithScene(std::int32_t scene) {
    if (!finishImage) return;
    auto message = WXMediaMessage::message();
    message->setThumbImage(imageCompressForWidth(finishImage, 200));
    auto object = WXImageObject::object();
    object->setImageData(UIImageJPEGRepresentation(finishImage, 0.3).value_or(NSData()));
    message->setMediaObject(object);
    auto request = make<SendMessageToWXReq>();
    request->setBText(false);
    request->setMessage(message);
    request->setScene(scene);
    WXApi::sendReq(request);
}

Ref<WBMessageObject> QVNCustomCameryViewController::messageToShare() {
    auto message = WBMessageObject::message();
    auto image = WBImageObject::object();
    if (finishImage) image->setImageData(UIImageJPEGRepresentation(finishImage, 0.3).value_or(NSData()));
    message->setImageObject(image);
    return message;
}

void QVNCustomCameryViewController::shareToWeibo() {
    if (!finishImage) return;
    auto authorize = WBAuthorizeRequest::request();
    authorize->setRedirectURI(std::string(kWeiboRedirectURI));
    authorize->setScope(std::string("all"));
    std::optional<std::string> token;
    if (auto app = UIApplication::sharedApplication())
        if (auto delegate = std::dynamic_pointer_cast<AppDelegate>(app->delegate()))
            token = delegate->wbtoken();
    auto request = WBSendMessageToWeiboRequest::requestWithMessage(messageToShare(), authorize, token);
    Dictionary info = Dictionary::mutableDictionary();
    info.setObject("ShareMessageFrom", "SendMessageToWeiboViewController");
    info.setObject("Other_Info_1", 123);
    info.setObject("Other_Info_2", Value(Array{Value("obj1"), Value("obj2")}));
    info.setObject("Other_Info_3", Value(Dictionary{{"key1", Value("obj1")}, {"key2", Value("obj2")}}));
    request->setUserInfo(Value(info));
    // An image over the SDK's limit is refused there, before anything leaves the app.
    WeiboSDK::sendRequest(request);
}
