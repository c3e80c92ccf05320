#include "account/SignUpViewController.h"

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

const Ref<VHProgressHUD>& SignUpViewController::hud() {
    if (!hud_) hud_ = AccountForms::makePasswordHint(view());
    return hud_;
}

void SignUpViewController::viewDidLoad() {
    AccountScreen::viewDidLoad();
    auto self = selfAs<SignUpViewController>();
    if (auto button = identifyCodeBtn.lock())
        button->addTarget(self, &SignUpViewController::starTime, "starTime", UIControlEventTouchUpInside);
    for (const auto& field : {passwordTextField.lock(), conformTextField.lock()}) {
        if (field)
            field->addTarget(self, &SignUpViewController::textFieldChanged,
                             "textFieldChanged:", UIControlEventEditingChanged);
    }
}

void SignUpViewController::starTime(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    Weak<SignUpViewController> weak = selfAs<SignUpViewController>();
    AccountForms::requestCode(view(), textOf(phoneTextField), [weak] {
        if (auto self = weak.lock()) self->backTime();
    });
}

void SignUpViewController::backTime() {
    if (auto button = identifyCodeBtn.lock()) countdown_.start(button);
}

void SignUpViewController::textFieldChanged(const Ref<NSObject>& sender) {
    auto field = std::dynamic_pointer_cast<UITextField>(sender);
    if (!field || AccountForms::hasOnlyPasswordCharacters(field->text())) return;
    hud()->show(true);
    hud()->hide(true, 1.0);
}

void SignUpViewController::signup(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    Ref<VHProgressHUD> box = AccountForms::makeTextHUD(view());
    attemptHUD_ = box;
    const std::string phone = textOf(phoneTextField), code = textOf(codeTextField),
                      nickname = textOf(nickNameTextField), password = textOf(passwordTextField),
                      confirmation = textOf(conformTextField);
    if (phone.empty()) return AccountForms::flash(box, "请输手机号码", 1.0);
    if (code.empty()) return AccountForms::flash(box, "请输入验证码", 1.0);
    if (nickname.empty()) return AccountForms::flash(box, "请输入昵称", 1.0);
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
    Weak<SignUpViewController> weak = selfAs<SignUpViewController>();
    QVNUser::registerWithUserPhone(
        phone, nickname, password, number,
        [weak, box, phone, password](const Ref<NSError>& error, const Ref<QVNUser>&) {
            AccountForms::after(1.0, [box] { box->hide(true); });
            if (error) {
                switch (error->code()) {
                    case QVNResultCodeAlreadyRegistered:
                        box->setLabelText(std::string("用户已存在"));
                        break;
                    case QVNResultCodeWrongVerificationCode:
                        box->setLabelText(std::string("验证码错误"));
                        break;
                    case QVNResultCodeVerificationServiceFailure:
                        box->setLabelText(std::string("验证码平台错误"));
                        break;
                    default:
                        box->setLabelText(std::string("注册失败"));
                }
                return;
            }
            box->setLabelText(std::string("注册成功"));
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

void SignUpViewController::fanhuiaction(const Ref<NSObject>&) {
    popScreen();
}
