#pragma once
// Password change: the signed-in user gives the old password and the new one twice. Opened from
// profile editing (storyboard "MyUser", "ChangePasswordViewController"). The character watch runs
// on all three fields and its flag (isEdit: the last edited field holds only allowed characters)
// gates the submission; then the length and equality checks of sign-up apply. A success shows
// "密码已重置" and pops 1.0 s later; 10003 shows the sign-in alert (the user stays signed in);
// any other failure "密码错误".
//
// Main thread only.

#include "account/AccountForms.h"
#include "account/AccountScreen.h"
#include "uikit/UITextField.h"

class ChangePasswordViewController : public AccountScreen, public UITextFieldDelegate {
  public:
    std::string className() const override { return "ChangePasswordViewController"; }

    // Outlets.
    Weak<UITextField> oldPassword;
    Weak<UITextField> NewPassword;
    Weak<UITextField> TureNewPassword;

    const Ref<VHProgressHUD>& hud();
    const Ref<VHProgressHUD>& attemptHUD() const { return attemptHUD_; }
    bool isEdit() const { return isEdit_; }

    void viewDidLoad() override;
    bool shouldAutorotate() const override { return false; }

    void textFieldChanged(const Ref<NSObject>& sender);
    void submitAction(const Ref<NSObject>& sender);
    void goBackAction(const Ref<NSObject>& sender);

  private:
    Ref<VHProgressHUD> hud_;
    Ref<VHProgressHUD> attemptHUD_;
    bool isEdit_ = false;
};
