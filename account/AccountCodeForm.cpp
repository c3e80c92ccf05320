#include "account/AccountCodeForm.h"

#include "app/QVNUser.h"
#include "foundation/NSMainThreadCheck.h"
#include "uikit/UINavigationController.h"

std::string AccountCodeForm::textOf(const Weak<UITextField>& field) {
    auto strong = field.lock();
    return strong ? strong->text() : std::string();
}

const Ref<VHProgressHUD>& AccountCodeForm::hud() {
    if (!hud_) hud_ = AccountForms::makePasswordHint(view());
    return hud_;
}

void AccountCodeForm::viewDidLoad() {
    AccountScreen::viewDidLoad();
    auto self = selfAs<AccountCodeForm>();
    if (auto button = identifyCodeBtn.lock())
        button->addTarget(self, &AccountCodeForm::starTime, "starTime", UIControlEventTouchUpInside);
    for (const auto& weakField : passwordFields()) {
        if (auto field = weakField.lock())
            field->addTarget(self, &AccountCodeForm::textFieldChanged,
                             "textFieldChanged:", UIControlEventEditingChanged);
    }
}

void AccountCodeForm::starTime(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    Weak<AccountCodeForm> weak = selfAs<AccountCodeForm>();
    AccountForms::requestCode(view(), textOf(phoneField()), [weak] {
        if (auto self = weak.lock()) self->backTime();
    });
}

void AccountCodeForm::backTime() {
    if (auto button = identifyCodeBtn.lock()) countdown_.start(button);
}

void AccountCodeForm::textFieldChanged(const Ref<NSObject>& sender) {
    auto field = std::dynamic_pointer_cast<UITextField>(sender);
    if (!field || AccountForms::hasOnlyPasswordCharacters(field->text())) return;
    hud()->show(true);
    hud()->hide(true, 1.0);
}

Ref<VHProgressHUD> AccountCodeForm::beginAttempt() {
    Ref<VHProgressHUD> box = AccountForms::makeTextHUD(view());
    attemptHUD_ = box;
    return box;
}

bool AccountCodeForm::passwordsAccepted(const Ref<VHProgressHUD>& box, const std::string& password,
                                        const std::string& confirmation) {
    if (password.empty() || AccountForms::textLentToLong(password)) {
        hud()->show(true);
        hud()->hide(true, 1.0);
        return false;
    }
    if (confirmation.empty() || AccountForms::textLentToLong(confirmation)) {
        AccountForms::flash(box, "请输入确认密码", 1.0);
        return false;
    }
    if (confirmation != password) {
        AccountForms::flash(box, "两个密码不匹配，请重新输入", 1.0);
        return false;
    }
    return true;
}

void AccountCodeForm::showSubmitting(const Ref<VHProgressHUD>& box) {
    box->setMode(VHProgressHUDModeSpinner);
    box->setLabelText(std::string("正在提交"));
    box->show(true);
}

void AccountCodeForm::signInAndReturn(const Weak<AccountCodeForm>& weak, const Ref<VHProgressHUD>& box,
                                      const std::string& phone, const std::string& password) {
    QVNUser::loginWithUserName(phone, password, [weak, box](const Ref<NSError>& error, const Ref<QVNUser>&) {
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
}
