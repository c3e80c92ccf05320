#pragma once
// Password recovery: the phone number proves itself with an SMS code, a new password is set
// (twice) and the user is signed in with it, then the navigation stack returns to its root.
// Pushed by the login screen (storyboard "MyUser", "FindPasswordViewController"). The checks, the
// code request, its countdown and the character watch are sign-up's.
//
// Main thread only.

#include "account/AccountForms.h"
#include "account/AccountScreen.h"
#include "uikit/UITextField.h"

class FindPasswordViewController : public AccountScreen, public UITextFieldDelegate {
  public:
    std::string className() const override { return "FindPasswordViewController"; }

    // Outlets.
    Weak<UITextField> phonenumberTextField;
    Weak<UITextField> identifyCodeTextField;
    Weak<UITextField> PasswordTextfield;
    Weak<UITextField> turePasswordTextField;
    Weak<UIButton> identifyCodeBtn;

    const Ref<VHProgressHUD>& hud();
    const Ref<VHProgressHUD>& attemptHUD() const { return attemptHUD_; }
    const AccountForms::CodeCountdown& countdown() const { return countdown_; }

    void viewDidLoad() override;
    bool shouldAutorotate() const override { return false; }

    void starTime(const Ref<NSObject>& sender);
    void backTime();
    void textFieldChanged(const Ref<NSObject>& sender);
    void findPasswordBtnAction(const Ref<NSObject>& sender);
    void goBack(const Ref<NSObject>& sender);

  private:
    Ref<VHProgressHUD> hud_;
    Ref<VHProgressHUD> attemptHUD_;
    AccountForms::CodeCountdown countdown_;
};
