#include "account/EditUserInfoViewController.h"

#include "account/AccountArtwork.h"
#include "account/AccountForms.h"
#include "account/ChangePasswordViewController.h"
#include "account/VerifyPhoneViewController.h"
#include "app/KeyboardMove.h"
#include "app/QVNAPIClient.h"
#include "app/QVNUserManager.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSString.h"
#include "foundation/NSURL.h"
#include "images/UIImageView+WebCache.h"
#include "images/WIWebImageManager.h"
#include "uikit/UIApplication.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIStoryboard.h"

namespace {

constexpr std::size_t kSignatureLimit = 30;
constexpr std::size_t kNicknameLimit = 8;

}  // namespace

EditUserInfoViewController::~EditUserInfoViewController() {
    NSNotificationCenter::defaultCenter()->removeObserver(static_cast<const NSObject*>(this));
}

const Ref<VHProgressHUD>& EditUserInfoViewController::hud() {
    if (!hud_) {
        hud_ = make<VHProgressHUD>(view());
        view()->addSubview(hud_);
    }
    return hud_;
}

void EditUserInfoViewController::fill() {
    if (!user_) return;
    if (auto field = nameField.lock()) field->setText(user_->user_nickname);
    if (auto label = sexLabel.lock(); label && user_->user_sex) {
        if (user_->user_sex->integerValue() == 1) label->setText(std::string("男"));
        if (user_->user_sex->integerValue() == 0) label->setText(std::string("女"));
    }
    if (auto text = signTextView.lock()) text->setText(user_->user_sign);
    if (auto label = showNumber.lock()) label->setText(user_->user_phone);
    if (auto avatar = userIconImageView.lock()) {
        UIImageView_WebCache::wi_setImageWithURL(avatar, NSURL::URLWithString(user_->user_logo.value_or("")),
                                                 AccountArtwork::imageNamed("touxiang.jpg"),
                                                 WILoadRefreshCached);
    }
}

void EditUserInfoViewController::viewDidLoad() {
    AccountScreen::viewDidLoad();
    user_ = QVNUserManager::shareObject()->currentUser();
    if (auto text = signTextView.lock()) text->setDelegate(selfAs<EditUserInfoViewController>());
    fill();
}

void EditUserInfoViewController::viewWillAppear(bool animated) {
    AccountScreen::viewWillAppear(animated);
    // A number bound on the binding screen shows on return.
    user_ = QVNUserManager::shareObject()->currentUser();
    if (auto label = showNumber.lock()) label->setText(user_ ? user_->user_phone : std::nullopt);
}

void EditUserInfoViewController::viewDidAppear(bool animated) {
    AccountScreen::viewDidAppear(animated);
    if (observingKeyboard_) return;
    auto center = NSNotificationCenter::defaultCenter();
    auto self = selfAs<EditUserInfoViewController>();
    center->addObserver(self, &EditUserInfoViewController::keyboardWillShow,
                        std::string(UIKeyboardWillShowNotification));
    center->addObserver(self, &EditUserInfoViewController::keyboardWillHide,
                        std::string(UIKeyboardWillHideNotification));
    observingKeyboard_ = true;
}

void EditUserInfoViewController::viewWillDisappear(bool animated) {
    AccountScreen::viewWillDisappear(animated);
    stopObservingKeyboard();
}

void EditUserInfoViewController::stopObservingKeyboard() {
    if (!observingKeyboard_) return;
    auto center = NSNotificationCenter::defaultCenter();
    center->removeObserver(this, std::string(UIKeyboardWillShowNotification), nullptr);
    center->removeObserver(this, std::string(UIKeyboardWillHideNotification), nullptr);
    observingKeyboard_ = false;
}

void EditUserInfoViewController::keyboardWillShow(const Ref<NSNotification>& notification) {
    Ref<UIView> root = view();
    KeyboardMove::fromNotification(*notification)
        .animate(
            [root] {
                CGPoint centre = root->center();
                root->setCenter(CGPointMake(centre.x, root->bounds().size.height / 2 - 236));
            },
            UIViewAnimationOptionBeginFromCurrentState);
}

void EditUserInfoViewController::keyboardWillHide(const Ref<NSNotification>& notification) {
    KeyboardMove move = KeyboardMove::fromNotification(*notification);
    CGFloat keyboardTop = move.endFrame.origin.y;
    Ref<UIView> root = view();
    move.animate(
        [root, keyboardTop] {
            CGPoint centre = root->center();
            root->setCenter(CGPointMake(centre.x, keyboardTop - root->bounds().size.height / 2));
        },
        UIViewAnimationOptionBeginFromCurrentState);
}

// ---- avatar and sex ------------------------------------------------------------------------------

void EditUserInfoViewController::upLoadPhoto(const Ref<NSObject>&) {
    if (!UIImagePickerController::isSourceTypeAvailable(UIImagePickerControllerSourceTypeCamera)) {
        openPicker(UIImagePickerControllerSourceTypePhotoLibrary);
        return;
    }
    auto sheet = make<UIActionSheet>(std::nullopt, selfAs<EditUserInfoViewController>(), std::string("取消"),
                                     std::nullopt, std::vector<std::string>{"照相", "从相册选择"});
    sheet->showInView(view());
}

void EditUserInfoViewController::chooseSexAction(const Ref<NSObject>&) {
    auto sheet = make<UIActionSheet>(std::nullopt, selfAs<EditUserInfoViewController>(), std::string("取消"),
                                     std::nullopt, std::vector<std::string>{"男", "女"});
    sheet->setTag(kSexSheetTag);
    sheet->showInView(view());
}

void EditUserInfoViewController::actionSheetClickedButtonAtIndex(const Ref<UIActionSheet>& sheet,
                                                                 long index) {
    if (sheet->tag() == kSexSheetTag) {
        if (index == 0 || index == 1) {
            if (auto label = sexLabel.lock()) label->setText(std::string(index == 0 ? "男" : "女"));
        }
        return;
    }
    if (index == 0) openPicker(UIImagePickerControllerSourceTypeCamera);
    if (index == 1) openPicker(UIImagePickerControllerSourceTypePhotoLibrary);
}

void EditUserInfoViewController::openPicker(UIImagePickerControllerSourceType source) {
    auto picker = make<UIImagePickerController>();
    picker->setSourceType(source);
    picker->setAllowsEditing(true);
    picker->setDelegate(selfAs<EditUserInfoViewController>());
    presentViewController(picker, true);
}

void EditUserInfoViewController::imagePickerControllerDidFinishPickingMediaWithInfo(
    const Ref<UIImagePickerController>& picker, const Dictionary& info) {
    if (auto image = info[UIImagePickerControllerEditedImage].objectAs<UIImage>()) {
        if (auto avatar = userIconImageView.lock()) {
            // The stored avatar still on its way must not replace the picked one.
            UIImageView_WebCache::wi_cancelCurrentImageLoad(*avatar);
            avatar->setImage(image);
        }
        userUpdatedImage_ = image;
    }
    picker->dismissViewControllerAnimated(true);
}

void EditUserInfoViewController::textViewDidChange(UITextView& textView) {
    std::string text = textView.text();
    if (NSString::length(text) <= kSignatureLimit) return;
    AccountForms::showAlert(std::string("提示"), std::string("字符个数不能大于30"));
    textView.setText(NSString::substringToIndex(text, kSignatureLimit));
}

// ---- saving ---------------------------------------------------------------------------------------

void EditUserInfoViewController::submit(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    auto box = AccountForms::makeTextHUD(view());
    auto field = nameField.lock();
    std::string nickname = field ? field->text() : std::string();
    if (nickname.empty() || NSString::length(nickname) > kNicknameLimit)
        return AccountForms::flash(box, "昵称不能为空或已超出8位数", 1.0);
    auto sex = sexLabel.lock();
    if (!sex || !sex->text() || sex->text()->empty()) return AccountForms::flash(box, "请输入性别", 1.0);
    if (auto sign = signTextView.lock(); sign && sign->text() == kSignaturePlaceholder)
        sign->setText(std::string());
    auto alert =
        make<UIAlertView>(std::string("确认修改个人信息"), std::nullopt, selfAs<EditUserInfoViewController>(),
                          std::string("取消"), std::vector<std::string>{"确定"});
    alert->show();
}

void EditUserInfoViewController::alertViewClickedButtonAtIndex(const Ref<UIAlertView>&, long buttonIndex) {
    if (buttonIndex == 1) update();
}

void EditUserInfoViewController::update() {
    if (!user_) return;
    auto sex = sexLabel.lock();
    std::string sexText = sex ? sex->text().value_or("") : std::string();
    std::optional<NSNumber> sexNumber;
    if (sexText == "男") sexNumber = NSNumber::numberWithInt(1);
    if (sexText == "女") sexNumber = NSNumber::numberWithInt(0);
    auto field = nameField.lock();
    auto sign = signTextView.lock();
    user_->user_nickname = field ? field->text() : std::string();
    user_->user_sex = sexNumber;
    user_->user_sign = sign ? sign->text() : std::string();
    hud()->setMode(VHProgressHUDModeSpinner);
    hud()->setLabelText(std::string("正在更新"));
    hud()->show(true);

    Weak<EditUserInfoViewController> weak = selfAs<EditUserInfoViewController>();
    Ref<QVNUser> record = user_;
    auto sendProfile = [weak, record](bool avatarFailed) {
        QVNUser::updateUserInfo(record, [weak, avatarFailed](const Ref<NSError>& error) {
            auto self = weak.lock();
            if (!self) return;
            const Ref<VHProgressHUD>& box = self->hud();
            box->setMode(VHProgressHUDModeText);
            box->show(true);
            if (!error) {
                box->setLabelText(std::string(avatarFailed ? "更新成功,头像未保存" : "更新成功"));
                AccountForms::after(0.5, [weak] {
                    auto screen = weak.lock();
                    if (!screen) return;
                    screen->hud()->hide(true);
                    screen->leave();
                });
            } else if (error->code() == QVNResultCodeInvalidToken) {
                AccountForms::showAlert(std::string(AccountForms::kInvalidTokenTitle), std::nullopt);
                box->hide(true, 0.5);
            } else {
                box->setLabelText(std::string("该昵称已被使用"));
                box->hide(true, 0.5);
            }
        });
    };
    if (!userUpdatedImage_) return sendProfile(false);
    QVNUser::updateUserAvatar(record, userUpdatedImage_,
                              [sendProfile](const Ref<NSError>& error) { sendProfile(error != nullptr); });
}

// ---- other screens --------------------------------------------------------------------------------

void EditUserInfoViewController::back(const Ref<NSObject>&) {
    popScreen();
}

void EditUserInfoViewController::changeMimaAction(const Ref<NSObject>&) {
    auto screen = std::dynamic_pointer_cast<ChangePasswordViewController>(
        storyboard() ? storyboard()->instantiateViewControllerWithIdentifier("ChangePasswordViewController")
                     : nullptr);
    auto navigation = navigationController();
    if (!screen || !navigation) return;
    changePasswordVc_ = screen;
    navigation->pushViewController(screen, true);
}

void EditUserInfoViewController::verifyPhoneNumber(const Ref<NSObject>&) {
    auto screen = std::dynamic_pointer_cast<VerifyPhoneViewController>(
        storyboard() ? storyboard()->instantiateViewControllerWithIdentifier("VerifyPhoneViewController")
                     : nullptr);
    auto navigation = navigationController();
    if (!screen || !navigation) return;
    verifyPhone_ = screen;
    navigation->pushViewController(screen, true);
}
