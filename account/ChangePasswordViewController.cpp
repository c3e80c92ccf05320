#include "account/ChangePasswordViewController.h"

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

const Ref<VHProgressHUD>& ChangePasswordViewController::hud() {
    if (!hud_) hud_ = AccountForms::makePasswordHint(view());
    return hud_;
}

void ChangePasswordViewController::viewDidLoad() {
    AccountScreen::viewDidLoad();
    auto self = selfAs<ChangePasswordViewController>();
    for (const auto& field : {oldPassword.lock(), NewPassword.lock(), TureNewPassword.lock()}) {
        if (field)
            field->addTarget(self, &ChangePasswordViewController::textFieldChanged,
                             "textFieldChanged:", UIControlEventEditingChanged);
    }
}

void ChangePasswordViewController::textFieldChanged(const Ref<NSObject>& sender) {
    auto field = std::dynamic_pointer_cast<UITextField>(sender);
    if (!field) return;
    isEdit_ = AccountForms::hasOnlyPasswordCharacters(field->text());
    if (!isEdit_) {
        hud()->show(true);
        hud()->hide(true, 1.0);
    }
}

void ChangePasswordViewController::submitAction(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    if (!isEdit_) {
        hud()->show(true);
        hud()->hide(true, 1.0);
        return;
    }
    Ref<VHProgressHUD> box = AccountForms::makeTextHUD(view());
    attemptHUD_ = box;
    const std::string old = textOf(oldPassword), fresh = textOf(NewPassword),
                      confirmation = textOf(TureNewPassword);
    if (old.empty() || AccountForms::textLentToLong(old) || fresh.empty() ||
        AccountForms::textLentToLong(fresh)) {
        hud()->show(true);
        hud()->hide(true, 1.0);
        return;
    }
    if (confirmation.empty() || AccountForms::textLentToLong(confirmation))
        return AccountForms::flash(box, "请输入确认密码", 1.0);
    if (confirmation != fresh) return AccountForms::flash(box, "两个密码不匹配，请重新输入", 1.0);

    box->setMode(VHProgressHUDModeSpinner);
    box->setLabelText(std::string("正在提交"));
    box->show(true);
    Weak<ChangePasswordViewController> weak = selfAs<ChangePasswordViewController>();
    QVNUser::changePasswordWithOldPassword(old, confirmation, [weak, box](const Ref<NSError>& error) {
        AccountForms::after(1.0, [box] { box->hide(true); });
        if (!error) {
            box->setLabelText(std::string("密码已重置"));
            AccountForms::after(1.0, [weak] {
                if (auto self = weak.lock()) self->popScreen();
            });
        } else if (error->code() == QVNResultCodeInvalidToken) {
            AccountForms::showAlert(std::string(AccountForms::kInvalidTokenTitle), std::nullopt);
        } else {
            box->setLabelText(std::string("密码错误"));
        }
    });
}

void ChangePasswordViewController::goBackAction(const Ref<NSObject>&) {
    popScreen();
}
