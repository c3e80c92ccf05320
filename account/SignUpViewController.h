#pragma once
// Sign-up: a phone number, the SMS code the server sends to it, a nickname and a password (twice).
// After a successful sign-up the screen signs the new user in and returns to the root of the
// navigation stack. Pushed by the login screen (storyboard "MyUser", "SignUpViewController").
//
// Checks, in order, each shown in a text HUD for 1.0 s: phone, code, nickname present; password
// 6 to 16 characters (else the password hint); confirmation present and as long; both equal. The
// character watch on the password fields only warns. The code request and its countdown are
// AccountForms'.
//
// Main thread only.

#include "account/AccountCodeForm.h"

class SignUpViewController : public AccountCodeForm {
  public:
    std::string className() const override { return "SignUpViewController"; }

    // Outlets.
    Weak<UITextField> phoneTextField;
    Weak<UITextField> codeTextField;
    Weak<UITextField> nickNameTextField;
    Weak<UITextField> passwordTextField;
    Weak<UITextField> conformTextField;

    void signup(const Ref<NSObject>& sender);
    void fanhuiaction(const Ref<NSObject>& sender);

  protected:
    Weak<UITextField> phoneField() const override { return phoneTextField; }
    std::vector<Weak<UITextField>> passwordFields() const override {
        return {passwordTextField, conformTextField};
    }
};
