#pragma once
// The tuning-list save box: names a list and stores it; when the studio was opened for an event,
// it also uploads the studio's screenshot and enters the list in the event. The box is its own
// transitioning delegate with custom presentation, so it pops in over the screen below
// (PopAnimator) and flies out (SlideOutAnimationController); a presenter may put its own
// transitioning delegate in place before presenting.
//
// The name field refuses a typed or pasted text made only of characters outside the allowed set
// (emoji and other symbols); a text with at least one allowed character goes in as typed.
// Success closes the box and the screen below it; every failure keeps the box open with a
// message ("该清单命名已存在" for a name the user already has), and an expired sign-in signs
// the user out after an alert.
//
// Landscape only. Main thread only.

#include <optional>
#include <string>

#include "app/QVNTuningList.h"
#include "controls/VHProgressHUD.h"
#include "graphics/UIImage.h"
#include "studio/HomeStandInPages.h"
#include "uikit/UIButton.h"
#include "uikit/UIGestureRecognizer.h"
#include "uikit/UITextField.h"
#include "uikit/UIViewController.h"
#include "uikit/UIViewControllerTransitioning.h"

class TuningListSaveViewController : public UIViewController,
                                     public UITextFieldDelegate,
                                     public UIViewControllerTransitioningDelegate,
                                     public UIGestureRecognizerDelegate {
  public:
    std::string className() const override { return "TuningListSaveViewController"; }
    void didInit();

    const Ref<QVNTuningList>& tuningList() const { return tuningList_; }
    void setTuningList(const Ref<QVNTuningList>& list) { tuningList_ = list; }
    const Ref<QVNActivity>& activity() const { return activity_; }
    void setActivity(const Ref<QVNActivity>& activity) { activity_ = activity; }
    const Ref<UIImage>& screenImage() const { return screenImage_; }
    void setScreenImage(const Ref<UIImage>& image) { screenImage_ = image; }

    // Outlets.
    Weak<UIView> popUpView;
    Weak<UITextField> nameTextField;
    Weak<UIButton> configureButton;
    Weak<UIButton> cancelButton;

    // Made on first use over the view and added to it.
    const Ref<VHProgressHUD>& hud();

    // Whether a replacement text may go into the name field (deletions always may).
    static bool acceptsReplacement(const std::string& replacement);
    // Whether a code point is in the allowed set.
    static bool isAllowedCharacter(char32_t c);

    void viewDidLoad() override;
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override;
    UIInterfaceOrientation preferredInterfaceOrientationForPresentation() const override;

    // Actions.
    void textFieldChanged(const Ref<NSObject>& sender);
    void configureButtonDidTouch(const Ref<NSObject>& sender);
    void cancelButtonDidTouch(const Ref<NSObject>& sender);
    void dismissKeyboard();
    void handleJoinError(const Ref<NSError>& error);

    // Delegates.
    std::optional<bool> textFieldShouldChangeCharactersInRange(UITextField& textField, NSRange range,
                                                               const std::string& string) override;
    Ref<UIViewControllerAnimatedTransitioning>
    animationControllerForPresentedController(const Ref<UIViewController>& presented,
                                              const Ref<UIViewController>& presenting,
                                              const Ref<UIViewController>& source) override;
    Ref<UIViewControllerAnimatedTransitioning>
    animationControllerForDismissedController(const Ref<UIViewController>& dismissed) override;
    std::optional<bool> gestureRecognizerShouldReceiveTouch(UIGestureRecognizer& recognizer,
                                                            const Ref<UITouch>& touch) override;

  private:
    void showHUDText(const std::string& text);
    // Closes the box and the screen that presented it, after `delay` seconds on the main queue.
    void closeAfter(double delay);
    void enterEvent(const std::optional<NSNumber>& listId);

    Ref<QVNTuningList> tuningList_;
    Ref<QVNActivity> activity_;
    Ref<UIImage> screenImage_;
    Ref<VHProgressHUD> hud_;
};
