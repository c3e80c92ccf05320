#pragma once
// Joining an event with a photo and a title. The photo comes from the camera or the album; the
// title is refused locally when it holds emoji or is 16 UTF-16 units or longer. A signed-out
// user is sent to the login screen. Submitting uploads the photo, then joins with its address and
// the title; success marks the shared event joined and leaves after 1.5 s, a failure says so for
// 1.0 s and keeps the screen for another try. An invalid token also signs the user out.
//
// The submit button is enabled exactly when a photo is chosen and the title is not empty, and
// never while a submission runs, so a second tap cannot send a second entry.
//
// Pushed by an event's page (storyboard "MyActivity", "JoinActivityViewController").
// Main thread only.

#include <optional>
#include <string>

#include "app/QVNActivity.h"
#include "app/QVNProduction.h"
#include "controls/VHProgressHUD.h"
#include "information/InformationScreens.h"
#include "uikit/UIActionSheet.h"
#include "uikit/UIButton.h"
#include "uikit/UIImagePickerController.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UITextField.h"
#include "uikit/UITextView.h"
#include "uikit/UIViewController.h"

class JoinActivityViewController : public UIViewController,
                                   public InformationScreens::ActivityHandOver,
                                   public UIImagePickerControllerDelegate,
                                   public UITextFieldDelegate,
                                   public UIActionSheetDelegate {
  public:
    std::string className() const override { return "JoinActivityViewController"; }
    // A title holds at most this many UTF-16 units less one.
    static constexpr std::size_t kTitleLimit = 16;
    static constexpr double kSuccessDelay = 1.5;
    static constexpr double kFailureDelay = 1.0;

    const Ref<QVNActivity>& activity() const { return activity_; }
    void setActivity(const Ref<QVNActivity>& activity) override { activity_ = activity; }

    // Outlets.
    Weak<UITextField> titleTextField;
    Weak<UITextView> textView;
    Weak<UILabel> remainCountLabel;
    Weak<UIImageView> imageView;
    Weak<UIButton> submitButton;
    Weak<UIButton> uploadImageButton;
    Weak<UILabel> tipLabel;

    // Made on first use over the view, not shown until asked.
    const Ref<VHProgressHUD>& hud();
    // True from the submission's start until it fails (a success keeps it: the screen leaves).
    bool isSubmitting() const { return submitting_; }

    void loadView() override;
    void viewDidLoad() override;
    void configureSubViews();
    void setupResignButton();
    void dismissKeyBoard();
    void textFieldChange(const Ref<NSObject>& sender);
    void valueChanged();

    void uploadImageButtonDidTouch(const Ref<NSObject>& sender);
    void showPhotoMenu();
    void takePhotoWithCamera();
    void chosePhotoFromLibrary();

    static bool stringContainsEmoji(const std::string& string);
    void submitButtonDidTouch(const Ref<NSObject>& sender);
    void handleJoinError(const Ref<NSError>& error);
    void popController(const Ref<NSObject>& sender);
    // Joins with an entry made elsewhere (a studio screenshot and its tuning list).
    void joinEventFromCarViewControllerWithProduction(const Ref<QVNProduction>& production,
                                                      const std::optional<NSNumber>& tuningListId,
                                                      const std::optional<NSNumber>& eventId);

    // ---- delegates ----------------------------------------------------------------------------
    void actionSheetClickedButtonAtIndex(const Ref<UIActionSheet>& actionSheet, long buttonIndex) override;
    void imagePickerControllerDidFinishPickingMediaWithInfo(const Ref<UIImagePickerController>& picker,
                                                            const Dictionary& info) override;

    UIInterfaceOrientationMask supportedInterfaceOrientations() const override {
        return UIInterfaceOrientationMaskPortrait;
    }
    UIInterfaceOrientation preferredInterfaceOrientationForPresentation() const override {
        return UIInterfaceOrientationPortrait;
    }
    UIStatusBarStyle preferredStatusBarStyle() const override { return UIStatusBarStyleLightContent; }

  private:
    void openPicker(UIImagePickerControllerSourceType source);
    void updateSubmitButton();
    void showRefusal(const std::string& title);
    // Text HUD, event marked joined; `leave` runs 1.5 s later.
    void showJoined(std::function<void(const Ref<JoinActivityViewController>&)> leave);

    Ref<QVNActivity> activity_;
    Ref<VHProgressHUD> hud_;
    bool submitting_ = false;
};
