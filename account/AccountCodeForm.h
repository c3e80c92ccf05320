#pragma once
// What sign-up and password recovery share: a phone number proven by an SMS code (the code button
// and its countdown), two password fields watched for characters a password may not hold (the
// password hint), the checks of the two passwords, and, once the server agreed, the sign-in with
// the new password and the return to the root of the navigation stack.
//
// Main thread only.

#include <string>
#include <vector>

#include "account/AccountForms.h"
#include "account/AccountScreen.h"
#include "uikit/UITextField.h"

class AccountCodeForm : public AccountScreen, public UITextFieldDelegate {
  public:
    Weak<UIButton> identifyCodeBtn;

    // The password hint, made on first use.
    const Ref<VHProgressHUD>& hud();
    // The HUD of the last attempt.
    const Ref<VHProgressHUD>& attemptHUD() const { return attemptHUD_; }
    const AccountForms::CodeCountdown& countdown() const { return countdown_; }

    void viewDidLoad() override;

    void starTime(const Ref<NSObject>& sender);
    void backTime();
    void textFieldChanged(const Ref<NSObject>& sender);

  protected:
    virtual Weak<UITextField> phoneField() const = 0;
    // The new password and its confirmation.
    virtual std::vector<Weak<UITextField>> passwordFields() const = 0;

    static std::string textOf(const Weak<UITextField>& field);
    // A new text HUD for this attempt (kept as attemptHUD()).
    Ref<VHProgressHUD> beginAttempt();
    // The password, then the confirmation, then that both agree; a refusal is shown (the hint, or
    // a message in the attempt's HUD for 1.0 s) and answers false.
    bool passwordsAccepted(const Ref<VHProgressHUD>& box, const std::string& password,
                           const std::string& confirmation);
    // The attempt's HUD turns into the "正在提交" spinner.
    static void showSubmitting(const Ref<VHProgressHUD>& box);
    // Signs in with the phone and the new password (also when the screen has gone meanwhile); on
    // success the screen's stack returns to its root 1.0 s later, on failure the HUD says why.
    static void signInAndReturn(const Weak<AccountCodeForm>& screen, const Ref<VHProgressHUD>& box,
                                const std::string& phone, const std::string& password);

  private:
    Ref<VHProgressHUD> hud_;
    Ref<VHProgressHUD> attemptHUD_;
    AccountForms::CodeCountdown countdown_;
};
