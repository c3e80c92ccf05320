#include "account/SignUpViewController.h"

#include "app/QVNAPIClient.h"
#include "app/QVNUser.h"
#include "foundation/NSMainThreadCheck.h"
#include "uikit/UINavigationController.h"

void SignUpViewController::signup(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    Ref<VHProgressHUD> box = beginAttempt();
    const std::string phone = textOf(phoneTextField), code = textOf(codeTextField),
                      nickname = textOf(nickNameTextField), password = textOf(passwordTextField),
                      confirmation = textOf(conformTextField);
    if (phone.empty()) return AccountForms::flash(box, "请输手机号码", 1.0);
    if (code.empty()) return AccountForms::flash(box, "请输入验证码", 1.0);
    if (nickname.empty()) return AccountForms::flash(box, "请输入昵称", 1.0);
    if (!passwordsAccepted(box, password, confirmation)) return;

    showSubmitting(box);
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
            signInAndReturn(weak, box, phone, password);
        });
}

void SignUpViewController::fanhuiaction(const Ref<NSObject>&) {
    popScreen();
}
