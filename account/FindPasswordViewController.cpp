#include "account/FindPasswordViewController.h"

#include "app/QVNAPIClient.h"
#include "app/QVNUser.h"
#include "foundation/NSMainThreadCheck.h"
#include "uikit/UINavigationController.h"

void FindPasswordViewController::findPasswordBtnAction(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    Ref<VHProgressHUD> box = beginAttempt();
    const std::string phone = textOf(phonenumberTextField), code = textOf(identifyCodeTextField),
                      password = textOf(PasswordTextfield), confirmation = textOf(turePasswordTextField);
    if (phone.empty()) return AccountForms::flash(box, "请输手机号码", 1.0);
    if (code.empty()) return AccountForms::flash(box, "请输入验证码", 1.0);
    if (!passwordsAccepted(box, password, confirmation)) return;

    showSubmitting(box);
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
            signInAndReturn(weak, box, phone, password);
        });
}

void FindPasswordViewController::goBack(const Ref<NSObject>&) {
    popScreen();
}
