#pragma once
// Profile editing: the signed-in user's nickname, sex, signature and avatar, and the way on to the
// password change and phone binding. Pushed by the own profile (storyboard "MyUser",
// "EditUserInfoViewController"). Saving asks for confirmation, uploads a picked avatar first, then
// sends the text fields; the account calls store the changed user.
//
// Keyboard: while a field edits, the view is moved up out of the keyboard's way. The screen hears
// the keyboard only while it is on screen, with one registration at a time.
//
// A failed avatar upload does not stop the update; the success message then says that the avatar
// was not saved.
//
// Main thread only.

#include "account/AccountScreen.h"
#include "app/QVNUser.h"
#include "controls/VHProgressHUD.h"
#include "foundation/NSNotificationCenter.h"
#include "uikit/UIActionSheet.h"
#include "uikit/UIAlertView.h"
#include "uikit/UIImagePickerController.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UITextField.h"
#include "uikit/UITextView.h"

class ChangePasswordViewController;
class VerifyPhoneViewController;

class EditUserInfoViewController : public AccountScreen,
                                   public UIAlertViewDelegate,
                                   public UIImagePickerControllerDelegate,
                                   public UIActionSheetDelegate,
                                   public UITextViewDelegate {
  public:
    std::string className() const override { return "EditUserInfoViewController"; }

    static constexpr long kSexSheetTag = 10001;
    static constexpr char kSignaturePlaceholder[] = "个性签名";

    const Ref<QVNUser>& user() const { return user_; }
    void setUser(const Ref<QVNUser>& user) { user_ = user; }

    // Outlets.
    Weak<UITextField> nameField;
    Weak<UITextView> signTextView;
    Weak<UIImageView> userIconImageView;
    Weak<UILabel> sexLabel;
    Weak<UILabel> showNumber;

    const Ref<UIImage>& userUpdatedImage() const { return userUpdatedImage_; }
    // Made on first use over the view (indeterminate).
    const Ref<VHProgressHUD>& hud();
    const Ref<ChangePasswordViewController>& changePasswordVc() const { return changePasswordVc_; }
    const Ref<VerifyPhoneViewController>& verifyPhone() const { return verifyPhone_; }
    bool isObservingKeyboard() const { return observingKeyboard_; }

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    ~EditUserInfoViewController() override;

    void upLoadPhoto(const Ref<NSObject>& sender);
    void chooseSexAction(const Ref<NSObject>& sender);
    void submit(const Ref<NSObject>& sender);
    void back(const Ref<NSObject>& sender);
    void changeMimaAction(const Ref<NSObject>& sender);
    void verifyPhoneNumber(const Ref<NSObject>& sender);

    void keyboardWillShow(const Ref<NSNotification>& notification);
    void keyboardWillHide(const Ref<NSNotification>& notification);

    // ---- delegates ----------------------------------------------------------------------------
    void actionSheetClickedButtonAtIndex(const Ref<UIActionSheet>& actionSheet, long buttonIndex) override;
    void alertViewClickedButtonAtIndex(const Ref<UIAlertView>& alertView, long buttonIndex) override;
    void imagePickerControllerDidFinishPickingMediaWithInfo(const Ref<UIImagePickerController>& picker,
                                                            const Dictionary& info) override;
    void textViewDidChange(UITextView& textView) override;

  private:
    void fill();
    void openPicker(UIImagePickerControllerSourceType source);
    void update();
    void stopObservingKeyboard();

    Ref<QVNUser> user_;
    Ref<UIImage> userUpdatedImage_;
    Ref<VHProgressHUD> hud_;
    Ref<ChangePasswordViewController> changePasswordVc_;
    Ref<VerifyPhoneViewController> verifyPhone_;
    bool observingKeyboard_ = false;
};
