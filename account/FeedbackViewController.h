#pragma once
// Feedback: a free text sent to the server as it stands (the untouched placeholder included).
// The "my" page pushes it (storyboard "MyUser", "FeedbackViewController"). The text view rises
// with the keyboard; the screen hears the keyboard only while it is on screen, once.
//
// Main thread only.

#include "account/AccountScreen.h"
#include "controls/VHProgressHUD.h"
#include "foundation/NSNotificationCenter.h"
#include "uikit/NSLayoutConstraint.h"
#include "uikit/UITextView.h"

class FeedbackViewController : public AccountScreen, public UITextViewDelegate {
  public:
    ~FeedbackViewController() override;
    std::string className() const override { return "FeedbackViewController"; }

    static constexpr char kPlaceholder[] = "反馈内容...";

    // Outlets.
    Weak<UITextView> FeedbackTextView;
    Weak<NSLayoutConstraint> feedbackBottomConstraint;

    // The HUD of the last reply.
    const Ref<VHProgressHUD>& replyHUD() const { return replyHUD_; }
    bool isObservingKeyboard() const { return observingKeyboard_; }

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    bool shouldAutorotate() const override { return false; }

    void SubmitBtnAction(const Ref<NSObject>& sender);
    void FanhuiBtnAction(const Ref<NSObject>& sender);
    void keyboardWillChange(const Ref<NSNotification>& notification);

    void textViewDidBeginEditing(UITextView& textView) override;
    void textViewDidEndEditing(UITextView& textView) override;

  private:
    Ref<VHProgressHUD> replyHUD_;
    bool observingKeyboard_ = false;
};
