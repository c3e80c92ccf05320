#include "account/VerifyPhoneViewController.h"

#include "account/AccountArtwork.h"
#include "app/QVNAPIClient.h"
#include "app/QVNUser.h"
#include "app/QVNUserManager.h"
#include "foundation/NSMainThreadCheck.h"

namespace {

std::string textOf(const Weak<UITextField>& field) {
    auto strong = field.lock();
    return strong ? strong->text() : std::string();
}

}  // namespace

const Ref<VHProgressHUD>& VerifyPhoneViewController::hud() {
    if (!hud_) hud_ = AccountForms::makeTextHUD(view());
    return hud_;
}

void VerifyPhoneViewController::viewDidLoad() {
    AccountScreen::viewDidLoad();
    auto self = selfAs<VerifyPhoneViewController>();
    auto phone = phoneNumber.lock();
    if (phone) {
        Ref<QVNUser> user = QVNUserManager::shareObject()->currentUser();
        phone->setText(user ? user->user_phone : std::nullopt);
        phone->setKeyboardType(UIKeyboardTypeNumberPad);
        phone->addTarget(self, &VerifyPhoneViewController::phoneNumberChange, "phoneNumberChange",
                         UIControlEventEditingChanged);
    }
    if (auto code = verifyNumber.lock()) code->setKeyboardType(UIKeyboardTypeNumberPad);
    if (auto submit = summitBtn.lock()) submit->setEnabled(false);
    if (auto button = verityBtn.lock()) {
        button->setEnabled(false);
        button->addTarget(self, &VerifyPhoneViewController::starTime, "starTime",
                          UIControlEventTouchUpInside);
    }
}

void VerifyPhoneViewController::phoneNumberChange(const Ref<NSObject>&) {
    bool filled = !textOf(phoneNumber).empty();
    auto code = verityBtn.lock();
    auto submit = summitBtn.lock();
    if (code) code->setEnabled(filled);
    if (submit) submit->setEnabled(filled);
    if (code && code->isEnabled()) {
        code->setTitleColor(UIColor::colorWithRed(11 / 255.0, 11 / 255.0, 11 / 255.0, 1),
                            UIControlStateNormal);
        if (submit) submit->setImage(AccountArtwork::imageNamed("tijiaobigup"), UIControlStateNormal);
    } else {
        if (code)
            code->setTitleColor(UIColor::colorWithRed(201 / 255.0, 215 / 255.0, 203 / 255.0, 1),
                                UIControlStateNormal);
        if (submit) submit->setImage(AccountArtwork::imageNamed("tijiaobigdown"), UIControlStateNormal);
    }
}

void VerifyPhoneViewController::starTime(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    Weak<VerifyPhoneViewController> weak = selfAs<VerifyPhoneViewController>();
    AccountForms::requestCode(view(), textOf(phoneNumber), [weak] {
        if (auto self = weak.lock()) self->backTime();
    });
}

void VerifyPhoneViewController::backTime() {
    if (auto button = verityBtn.lock()) countdown_.start(button);
}

void VerifyPhoneViewController::commitNumberBtn(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    Ref<VHProgressHUD> box = AccountForms::makeTextHUD(view());
    attemptHUD_ = box;
    const std::string phone = textOf(phoneNumber), code = textOf(verifyNumber);
    if (phone.empty()) return AccountForms::flash(box, "请输手机号码", 1.0);
    if (code.empty()) return AccountForms::flash(box, "请输入验证码", 1.0);
    box->setMode(VHProgressHUDModeSpinner);
    box->setLabelText(std::string("正在提交"));
    box->show(true);
    unsigned long number = static_cast<unsigned long>(Value(code).integerValue());
    Weak<VerifyPhoneViewController> weak = selfAs<VerifyPhoneViewController>();
    QVNUser::verifyPhoneWithCode(QVNUserManager::shareObject()->currentUserToken(), phone, number,
                                 [weak, box](const Ref<NSError>& error) {
                                     box->hide(true);
                                     auto self = weak.lock();
                                     if (!self) return;
                                     if (!error) {
                                         AccountForms::flash(self->hud(), "验证成功", 1.0);
                                         AccountForms::after(2.0, [weak] {
                                             if (auto screen = weak.lock()) screen->leave();
                                         });
                                         return;
                                     }
                                     const char* text = nullptr;
                                     switch (error->code()) {
                                         case QVNResultCodeWrongVerificationCode:
                                             text = "验证码错误";
                                             break;
                                         case QVNResultCodeAlreadyRegistered:
                                             text = "该手机号码已被绑定";
                                             break;
                                         case QVNResultCodeMalformedPhone:
                                             text = "手机号码格式错误";
                                             break;
                                         case QVNResultCodeVerificationServiceFailure:
                                             text = "验证码失效";
                                             break;
                                     }
                                     if (text) AccountForms::flash(self->hud(), text, 1.5);
                                 });
}

void VerifyPhoneViewController::goBack(const Ref<NSObject>&) {
    popScreen();
}
