#pragma once
// Password recovery: the phone number proves itself with an SMS code, a new password is set
// (twice) and the user is signed in with it, then the navigation stack returns to its root.
// Pushed by the login screen (storyboard "MyUser", "FindPasswordViewController"). The checks, the
// code request, its countdown and the character watch are sign-up's.
//
// Main thread only.

#include "account/AccountCodeForm.h"

class FindPasswordViewController : public AccountCodeForm {
  public:
    std::string className() const override { return "FindPasswordViewController"; }

    // Outlets.
    Weak<UITextField> phonenumberTextField;
    Weak<UITextField> identifyCodeTextField;
    Weak<UITextField> PasswordTextfield;
    Weak<UITextField> turePasswordTextField;

    bool shouldAutorotate() const override { return false; }

    void findPasswordBtnAction(const Ref<NSObject>& sender);
    void goBack(const Ref<NSObject>& sender);

  protected:
    Weak<UITextField> phoneField() const override { return phonenumberTextField; }
    std::vector<Weak<UITextField>> passwordFields() const override {
        return {PasswordTextfield, turePasswordTextField};
    }
};
