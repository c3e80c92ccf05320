#include "information/JoinActivityViewController.h"

#include "app/QVNAPIClient.h"
#include "app/QVNAccountScreens.h"
#include "app/QVNTextRules.h"
#include "app/QVNUserManager.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSString.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "uikit/UIAlertView.h"
#include "uikit/UIBars.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"

namespace {

constexpr CGFloat kBarHeight = 64;

Ref<UIColor> brandRed() {
    return UIColor::colorWithRed(171 / 255.0, 3 / 255.0, 0, 1);
}

void afterDelay(double seconds, std::function<void()> block) {
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, static_cast<std::int64_t>(seconds * NSEC_PER_SEC)),
                   dispatch_get_main_queue(), [block = std::move(block)] {
                       if (block) block();
                   });
}

}  // namespace

const Ref<VHProgressHUD>& JoinActivityViewController::hud() {
    if (!hud_) {
        hud_ = make<VHProgressHUD>(view());
        view()->addSubview(hud_);
    }
    return hud_;
}

// ---- the screen -----------------------------------------------------------------------------------

void JoinActivityViewController::loadView() {
    const CGRect bounds = UIScreen::mainScreen()->bounds();
    const CGFloat W = bounds.size.width;
    const CGFloat H = bounds.size.height;
    Ref<JoinActivityViewController> self = selfAs<JoinActivityViewController>();
    auto root = make<UIView>(bounds);
    root->setBackgroundColor(UIColor::whiteColor());

    auto bar = make<UIView>(CGRectMake(0, 0, W, kBarHeight));
    bar->setBackgroundColor(brandRed());
    bar->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    auto title = make<UILabel>(CGRectMake(60, 20, W - 120, 44));
    title->setText(std::string("参与活动"));
    title->setTextColor(UIColor::whiteColor());
    title->setFont(UIFont::boldSystemFontOfSize(17));
    title->setTextAlignment(NSTextAlignmentCenter);
    bar->addSubview(title);
    auto back = UIButton::buttonWithType(UIButtonTypeCustom);
    back->setFrame(CGRectMake(8, 20, 44, 44));
    back->setTitle(std::string("返回"), UIControlStateNormal);
    back->setTitleColor(UIColor::whiteColor(), UIControlStateNormal);
    back->addTarget(self, &JoinActivityViewController::popController,
                    "popController:", UIControlEventTouchUpInside);
    bar->addSubview(back);
    root->addSubview(bar);

    auto picture = make<UIImageView>(CGRectMake(10, kBarHeight + 10, W - 20, 200));
    picture->setBackgroundColor(UIColor::colorWithWhite(0.93, 1));
    picture->setClipsToBounds(true);
    root->addSubview(picture);
    auto upload = UIButton::buttonWithType(UIButtonTypeCustom);
    upload->setFrame(CGRectMake(10, kBarHeight + 216, W - 20, 36));
    upload->setTitle(std::string("选择照片"), UIControlStateNormal);
    upload->setTitleColor(brandRed(), UIControlStateNormal);
    upload->addTarget(self, &JoinActivityViewController::uploadImageButtonDidTouch,
                      "uploadImageButtonDidTouch:", UIControlEventTouchUpInside);
    root->addSubview(upload);
    auto field = make<UITextField>(CGRectMake(10, kBarHeight + 258, W - 20, 36));
    field->setBorderStyle(UITextBorderStyleRoundedRect);
    field->setPlaceholder(std::string("作品标题"));
    field->setDelegate(self);
    root->addSubview(field);
    auto remain = make<UILabel>(CGRectMake(10, kBarHeight + 300, W - 20, 20));
    remain->setFont(UIFont::systemFontOfSize(13));
    remain->setTextColor(UIColor::grayColor());
    root->addSubview(remain);
    auto rules = make<UITextView>(CGRectMake(10, kBarHeight + 324, W - 20, 80));
    rules->setText(std::string("上传一张照片并填写标题（不超过15个字）即可参与活动。"));
    rules->setFont(UIFont::systemFontOfSize(13));
    rules->setTextColor(UIColor::grayColor());
    root->addSubview(rules);
    auto tip = make<UILabel>(CGRectMake(10, kBarHeight + 408, W - 20, 20));
    tip->setFont(UIFont::systemFontOfSize(12));
    tip->setTextColor(brandRed());
    root->addSubview(tip);
    auto submit = UIButton::buttonWithType(UIButtonTypeCustom);
    submit->setFrame(CGRectMake(10, H - 60, W - 20, 44));
    submit->setTitle(std::string("提交"), UIControlStateNormal);
    submit->setTitleColor(UIColor::whiteColor(), UIControlStateNormal);
    submit->setBackgroundColor(brandRed());
    submit->setAutoresizingMask(UIViewAutoresizingFlexibleTopMargin);
    submit->addTarget(self, &JoinActivityViewController::submitButtonDidTouch,
                      "submitButtonDidTouch:", UIControlEventTouchUpInside);
    root->addSubview(submit);

    titleTextField = field;
    textView = rules;
    remainCountLabel = remain;
    imageView = picture;
    submitButton = submit;
    uploadImageButton = upload;
    tipLabel = tip;
    setView(root);
}

void JoinActivityViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    if (auto picture = imageView.lock()) picture->setContentMode(UIViewContentModeScaleAspectFit);
    configureSubViews();
    if (auto rules = textView.lock()) rules->setUserInteractionEnabled(false);
    if (auto field = titleTextField.lock())
        field->addTarget(selfAs<JoinActivityViewController>(), &JoinActivityViewController::valueChanged,
                         "valueChanged", UIControlEventAllEditingEvents);
}

void JoinActivityViewController::configureSubViews() {
    long places = activity_ && activity_->event_limit ? activity_->event_limit->integerValue() : 0;
    if (auto remain = remainCountLabel.lock())
        remain->setText(NSString::stringWithFormat("剩余名额%d", places));
    if (auto tip = tipLabel.lock()) tip->setHidden(true);
    if (auto submit = submitButton.lock()) submit->setEnabled(false);
    if (auto field = titleTextField.lock())
        field->addTarget(selfAs<JoinActivityViewController>(), &JoinActivityViewController::textFieldChange,
                         "textFieldChange:", UIControlEventEditingChanged);
    setupResignButton();
}

void JoinActivityViewController::setupResignButton() {
    auto field = titleTextField.lock();
    if (!field) return;
    auto toolbar = make<UIToolbar>(CGRectMake(0, 0, 320, 44));
    toolbar->setBarStyle(UIBarStyleDefault);
    auto space = make<UIBarButtonItem>(UIBarButtonSystemItemFlexibleSpace, nullptr, nullptr);
    auto button = UIButton::buttonWithType(UIButtonTypeCustom);
    button->setFrame(CGRectMake(2, 5, 100, 25));
    button->setTitle(std::string("退出键盘"), UIControlStateNormal);
    button->setTitleColor(brandRed(), UIControlStateNormal);
    button->addTarget(selfAs<JoinActivityViewController>(), &JoinActivityViewController::dismissKeyBoard,
                      "dismissKeyBoard", UIControlEventTouchUpInside);
    toolbar->setItems({space, make<UIBarButtonItem>(Ref<UIView>(button))});
    field->setInputAccessoryView(toolbar);
}

void JoinActivityViewController::dismissKeyBoard() {
    if (auto field = titleTextField.lock()) field->resignFirstResponder();
}

void JoinActivityViewController::textFieldChange(const Ref<NSObject>&) {
    updateSubmitButton();
}

void JoinActivityViewController::valueChanged() {
    updateSubmitButton();
}

void JoinActivityViewController::updateSubmitButton() {
    auto submit = submitButton.lock();
    if (!submit) return;
    auto picture = imageView.lock();
    auto field = titleTextField.lock();
    bool ready = picture && picture->image() && field && !field->text().empty();
    // While a submission runs the button stays off whatever is edited.
    submit->setEnabled(ready && !submitting_);
}

void JoinActivityViewController::popController(const Ref<NSObject>&) {
    if (auto navigation = navigationController())
        navigation->popViewControllerAnimated(true);
    else
        dismissViewControllerAnimated(true);
}

// ---- the photo ------------------------------------------------------------------------------------

void JoinActivityViewController::uploadImageButtonDidTouch(const Ref<NSObject>&) {
    if (UIImagePickerController::isSourceTypeAvailable(UIImagePickerControllerSourceTypeCamera))
        showPhotoMenu();
    else
        chosePhotoFromLibrary();
}

void JoinActivityViewController::showPhotoMenu() {
    auto sheet = make<UIActionSheet>(std::nullopt, selfAs<JoinActivityViewController>(), std::string("取消"),
                                     std::nullopt, std::vector<std::string>{"照相", "从相册选择"});
    sheet->showInView(view());
}

void JoinActivityViewController::actionSheetClickedButtonAtIndex(const Ref<UIActionSheet>&,
                                                                 long buttonIndex) {
    if (buttonIndex == 0) takePhotoWithCamera();
    if (buttonIndex == 1) chosePhotoFromLibrary();
}

void JoinActivityViewController::takePhotoWithCamera() {
    openPicker(UIImagePickerControllerSourceTypeCamera);
}

void JoinActivityViewController::chosePhotoFromLibrary() {
    openPicker(UIImagePickerControllerSourceTypePhotoLibrary);
}

void JoinActivityViewController::openPicker(UIImagePickerControllerSourceType source) {
    auto picker = make<UIImagePickerController>();
    picker->setSourceType(source);
    picker->setAllowsEditing(true);
    picker->setDelegate(selfAs<JoinActivityViewController>());
    presentViewController(picker, true);
}

void JoinActivityViewController::imagePickerControllerDidFinishPickingMediaWithInfo(
    const Ref<UIImagePickerController>& picker, const Dictionary& info) {
    if (auto image = info[UIImagePickerControllerEditedImage].objectAs<UIImage>()) {
        if (auto picture = imageView.lock()) picture->setImage(image);
    }
    updateSubmitButton();
    picker->dismissViewControllerAnimated(true);
}

// ---- submitting -----------------------------------------------------------------------------------

bool JoinActivityViewController::stringContainsEmoji(const std::string& string) {
    return QVNTextRules::stringContainsEmoji(string);
}

void JoinActivityViewController::showRefusal(const std::string& title) {
    make<UIAlertView>(title, std::nullopt, nullptr, std::nullopt, std::vector<std::string>{"确定"})->show();
}

void JoinActivityViewController::submitButtonDidTouch(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    if (submitting_) return;
    auto field = titleTextField.lock();
    // The title as checked is the one sent: edits made while the photo uploads do not count.
    const std::string title = field ? field->text() : std::string();
    if (stringContainsEmoji(title)) return showRefusal("请去掉标题栏的表情再提交");
    if (NSString::length(title) >= kTitleLimit) return showRefusal("标题长度超出限制");
    if (!QVNUserManager::shareObject()->hasCurrentUser()) {
        Ref<UIStoryboard> board = UIStoryboard::storyboardWithName(QVNAccountScreens::kStoryboard, nullptr);
        Ref<UINavigationController> navigation = navigationController();
        Ref<UIViewController> login =
            board ? board->instantiateViewControllerWithIdentifier(QVNAccountScreens::kLoginIdentifier)
                  : nullptr;
        if (navigation && login) navigation->pushViewController(login, true);
        return;
    }
    std::optional<NSNumber> eventId = activity_ ? activity_->event_id : std::nullopt;
    auto picture = imageView.lock();
    Ref<UIImage> image = picture ? picture->image() : nullptr;
    auto production = make<QVNProduction>();
    submitting_ = true;
    updateSubmitButton();
    hud()->setLabelText(std::string("正在参与"));
    hud()->show(true);

    // The submission carries on if the screen is left meanwhile: the user asked for it, and the
    // shared event must learn that it was joined.
    Ref<JoinActivityViewController> self = selfAs<JoinActivityViewController>();
    QVNAPIClient::uploadPicture(
        image, [self, production, eventId, title](const std::optional<std::string>& url) {
            if (!url) {
                self->hud()->setLabelText(std::string("参与失败"));
                self->hud()->hide(true, kFailureDelay);
                self->submitting_ = false;
                self->updateSubmitButton();
                return;
            }
            production->pic_url = *url;
            production->pic_name = title;
            QVNProduction::joinEventWithProduction(
                production, eventId, std::nullopt, [self](const Ref<NSError>& error) {
                    if (error) return self->handleJoinError(error);
                    self->showJoined([](const Ref<JoinActivityViewController>& screen) {
                        Ref<UINavigationController> navigation = screen->navigationController();
                        // Only while it is still the screen on top: one the user left is not popped twice.
                        if (navigation && navigation->topViewController() == screen)
                            navigation->popViewControllerAnimated(true);
                    });
                });
        });
}

void JoinActivityViewController::showJoined(
    std::function<void(const Ref<JoinActivityViewController>&)> leave) {
    if (activity_) activity_->is_join = NSNumber::numberWithInt(1);
    const Ref<VHProgressHUD>& box = hud();
    box->setMode(VHProgressHUDModeText);
    box->setLabelText(std::string("参与成功"));
    box->show(true);
    Weak<JoinActivityViewController> weak = selfAs<JoinActivityViewController>();
    afterDelay(kSuccessDelay, [weak, leave = std::move(leave)] {
        if (auto screen = weak.lock()) leave(screen);
    });
}

void JoinActivityViewController::handleJoinError(const Ref<NSError>& error) {
    if (error && error->code() == QVNResultCodeInvalidToken) {
        showRefusal("帐号失效请重新登录");
        QVNUserManager::shareObject()->logOut();
    } else {
        hud()->setLabelText(std::string("参与失败"));
    }
    hud()->hide(true, kFailureDelay);
    submitting_ = false;
    updateSubmitButton();
}

void JoinActivityViewController::joinEventFromCarViewControllerWithProduction(
    const Ref<QVNProduction>& production, const std::optional<NSNumber>& tuningListId,
    const std::optional<NSNumber>& eventId) {
    NS_ASSERT_MAIN_THREAD();
    if (submitting_) return;
    submitting_ = true;
    updateSubmitButton();
    Ref<JoinActivityViewController> self = selfAs<JoinActivityViewController>();
    QVNProduction::joinEventWithProduction(
        production, eventId, tuningListId, [self](const Ref<NSError>& error) {
            if (error) return self->handleJoinError(error);
            self->showJoined([](const Ref<JoinActivityViewController>& screen) {
                // The presenter four levels up is found before this screen leaves the chain.
                Ref<UIViewController> above = screen;
                for (int level = 0; level < 4 && above; ++level) above = above->presentingViewController();
                screen->dismissViewControllerAnimated(true);
                if (above) above->dismissViewControllerAnimated(true);
            });
        });
}
