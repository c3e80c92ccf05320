#pragma once
// Phone binding: the signed-in user binds (or re-binds) a phone number with an SMS code. Opened
// from profile editing (storyboard "MyUser", "VerifyPhoneViewController"). The phone field starts
// with the bound number, and both buttons stay disabled until the phone field is edited; then they
// are enabled exactly while it is not empty. A successful binding stores the user the server
// answers and leaves the screen 2.0 s later.
//
// Main thread only.

#include "account/AccountForms.h"
#include "account/AccountScreen.h"
#include "uikit/UITextField.h"

class VerifyPhoneViewController : public AccountScreen, public UITextFieldDelegate {
  public:
    std::string className() const override { return "VerifyPhoneViewController"; }

    // Outlets.
    Weak<UITextField> phoneNumber;
    Weak<UITextField> verifyNumber;
    Weak<UIButton> verityBtn;
    Weak<UIButton> summitBtn;

    // Made on first use: text-only, without text until a message is set.
    const Ref<VHProgressHUD>& hud();
    const Ref<VHProgressHUD>& attemptHUD() const { return attemptHUD_; }
    const AccountForms::CodeCountdown& countdown() const { return countdown_; }

    void viewDidLoad() override;
    bool shouldAutorotate() const override { return false; }

    void phoneNumberChange(const Ref<NSObject>& sender);
    void starTime(const Ref<NSObject>& sender);
    void backTime();
    void commitNumberBtn(const Ref<NSObject>& sender);
    void goBack(const Ref<NSObject>& sender);

  private:
    Ref<VHProgressHUD> hud_;
    Ref<VHProgressHUD> attemptHUD_;
    AccountForms::CodeCountdown countdown_;
};
