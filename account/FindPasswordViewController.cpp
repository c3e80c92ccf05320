#include "account/FindPasswordViewController.h"

#include "app/QVNAPIClient.h"
#include "app/QVNUser.h"
#include "foundation/NSMainThreadCheck.h"
#include "uikit/UINavigationController.h"

namespace {

std::string textOf(const Weak<UITextField>& field) {
    auto strong = field.lock();
    return strong ? strong->text() : std::string();
}

}  // namespace

const Ref<VHProgressHUD>& FindPasswordViewController::hud() {
    if (!hud_) hud_ = AccountForms::makePasswordHint(view());
    return hud_;
}

void FindPasswordViewController::viewDidLoad() {
    AccountScreen::viewDidLoad();
    auto self = selfAs<FindPasswordViewController>();
    if (auto button = identifyCodeBtn.lock())
        button->addTarget(self, &FindPasswordViewController::starTime, "starTime",
                          UIControlEventTouchUpInside);
    for (const auto& field : {PasswordTextfield.lock(), turePasswordTextField.lock()}) {
        if (field)
            field->addTarget(self, &FindPasswordViewController::textFieldChanged,
                             "textFieldChanged:", UIControlEventEditingChanged);
    }
}

void FindPasswordViewController::starTime(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    Weak<FindPasswordViewController> weak = selfAs<FindPasswordViewController>();
    AccountForms::requestCode(view(), textOf(phonenumberTextField), [weak] {
        if (auto self = weak.lock()) self->backTime();
    });
}

void FindPasswordViewController::backTime() {
    if (auto button = identifyCodeBtn.lock()) countdown_.start(button);
}

void FindPasswordViewController::textFieldChanged(const Ref<NSObject>& sender) {
    auto field = std::dynamic_pointer_cast<UITextField>(sender);
    if (!field || AccountForms::hasOnlyPasswordCharacters(field->text())) return;
    hud()->show(true);
    hud()->hide(true, 1.0);
}

void FindPasswordViewController::findPasswordBtnAction(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    Ref<VHProgressHUD> box = AccountForms::makeTextHUD(view());
    attemptHUD_ = box;
    const std::string phone = textOf(phonenumberTextField), code = textOf(identifyCodeTextField),
                      password = textOf(PasswordTextfield), confirmation = textOf(turePasswordTextField);
    if (phone.empty()) return AccountForms::flash(box, "请输手机号码", 1.0);
    if (code.empty()) return AccountForms::flash(box, "请输入验证码", 1.0);
    if (password.empty() || AccountForms::textLentToLong(password)) {
        hud()->show(true);
        hud()->hide(true, 1.0);
        return;
    }
    if (confirmation.empty() || AccountForms::textLentToLong(confirmation))
        return AccountForms::flash(box, "请输入确认密码", 1.0);
    if (confirmation != password) return AccountForms::flash(box, "两个密码不匹配，请重新输入", 1.0);

    box->setMode(VHProgressHUDModeSpinner);
    box->setLabelText(std::string("正在提交"));
    box->show(true);
    long number = Value(code).integerValue();
    Weak<FindPasswordViewController> weak = selfAs<FindPasswordViewController>();
    QVNUser::findPasswordWithIdentifyCode(
        number, phone, password, [weak, box, phone, password](const Ref<NSError>& error) {
            AccountForms::after(1.0, [box] { box->hide(true); });
            auto self = weak.lock();
            if (error) {
                box->hide(true);
                if (!self) return;
                if (error->code() == QVNResultCodeInvalidToken) {
                    AccountForms::showAlert(std::string(AccountForms::kInvalidTokenTitle), std::nullopt);
                } else if (error->code() == QVNResultCodeVerificationServiceFailure) {
                    AccountForms::flash(AccountForms::makeTextHUD(self->view()), "验证码平台错误", 1.5);
                } else if (error->code() == QVNResultCodeWrongVerificationCode) {
                    AccountForms::flash(AccountForms::makeTextHUD(self->view()), "验证码错误", 1.5);
                }
                return;
            }
            box->setLabelText(std::string("密码已重置"));
            QVNUser::loginWithUserName(
                phone, password, [weak, box](const Ref<NSError>& error, const Ref<QVNUser>&) {
                    if (error) {
                        box->setLabelText(AccountForms::errorMessage(error));
                        box->hide(true);
                        return;
                    }
                    box->hide(true);
                    AccountForms::after(1.0, [weak] {
                        auto self = weak.lock();
                        auto navigation = self ? self->navigationController() : nullptr;
                        if (navigation) navigation->popToRootViewControllerAnimated(true);
                    });
                });
        });
}

void FindPasswordViewController::goBack(const Ref<NSObject>&) {
    popScreen();
}
