#pragma once
// Alert views: a title, a message and buttons, answered by the user. There is no screen to draw
// them on: show() records the alert as visible (UIAlertTestDriver lists it and presses its
// buttons, standing in for the user) and keeps it alive until it is dismissed.
//
// Button indexes: the cancel button, when given, is 0; the other buttons follow in order; buttons
// added later with addButtonWithTitle come after. A press (UIAlertTestDriver::tapAlertButton)
// calls, in order: the delegate's clickedButtonAtIndex, willDismissWithButtonIndex (both within
// the press), then didDismissWithButtonIndex on the next turn of the main run loop, after the
// alert has left the visible list. dismissWithClickedButtonIndex (the program closing the alert)
// calls only the two dismiss methods, as on the platform.
//
// Several visible alerts stack: the last shown is the frontmost. Showing an alert that is already
// visible does nothing. The delegate is held weakly. Main thread only.

#include <optional>
#include <string>
#include <vector>

#include "uikit/UIView.h"

class UIAlertView;
class UITextField;

enum UIAlertViewStyle : long {
    UIAlertViewStyleDefault = 0,
    UIAlertViewStyleSecureTextInput = 1,
    UIAlertViewStylePlainTextInput = 2,
    UIAlertViewStyleLoginAndPasswordInput = 3,
};

// UIAlertViewDelegate: every method is optional.
class UIAlertViewDelegate {
  public:
    virtual ~UIAlertViewDelegate() = default;
    // alertView:clickedButtonAtIndex:
    virtual void alertViewClickedButtonAtIndex(const Ref<UIAlertView>& alertView, long buttonIndex) {}
    // alertViewCancel:
    virtual void alertViewCancel(const Ref<UIAlertView>& alertView) {}
    // willPresentAlertView: / didPresentAlertView:
    virtual void willPresentAlertView(const Ref<UIAlertView>& alertView) {}
    virtual void didPresentAlertView(const Ref<UIAlertView>& alertView) {}
    // alertView:willDismissWithButtonIndex: / alertView:didDismissWithButtonIndex:
    virtual void alertViewWillDismissWithButtonIndex(const Ref<UIAlertView>& alertView, long buttonIndex) {}
    virtual void alertViewDidDismissWithButtonIndex(const Ref<UIAlertView>& alertView, long buttonIndex) {}
};

class UIAlertView : public UIView {
  public:
    UIAlertView();
    // initWithTitle:message:delegate:cancelButtonTitle:otherButtonTitles:
    UIAlertView(std::optional<std::string> title, std::optional<std::string> message,
                const Ref<UIAlertViewDelegate>& delegate, std::optional<std::string> cancelButtonTitle,
                std::vector<std::string> otherButtonTitles = {});
    std::string className() const override { return "UIAlertView"; }

    const std::optional<std::string>& title() const { return title_; }
    void setTitle(std::optional<std::string> title) { title_ = std::move(title); }
    const std::optional<std::string>& message() const { return message_; }
    void setMessage(std::optional<std::string> message) { message_ = std::move(message); }
    Ref<UIAlertViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<UIAlertViewDelegate>& delegate) { delegate_ = delegate; }

    // The new button's index.
    long addButtonWithTitle(const std::string& title);
    // nullopt for an index out of range.
    std::optional<std::string> buttonTitleAtIndex(long index) const;
    long numberOfButtons() const { return static_cast<long>(buttons_.size()); }
    const std::vector<std::string>& buttonTitles() const { return buttons_; }
    // -1 when there is none.
    long cancelButtonIndex() const { return cancelButtonIndex_; }
    void setCancelButtonIndex(long index) { cancelButtonIndex_ = index; }
    long firstOtherButtonIndex() const;

    UIAlertViewStyle alertViewStyle() const { return style_; }
    void setAlertViewStyle(UIAlertViewStyle style);
    // The text fields of the input styles (one, or two for login and password); nullptr otherwise.
    Ref<UITextField> textFieldAtIndex(long index) const;

    bool isVisible() const { return visible_; }
    void show();
    void dismissWithClickedButtonIndex(long buttonIndex, bool animated);

    // ---- the user's side (UIAlertTestDriver) ---------------------------------------------------
    // Presses a button; false when the alert is not visible or the index is out of range.
    bool pressButtonAtIndex(long index);

  private:
    void finishDismissal(long buttonIndex);

    std::optional<std::string> title_;
    std::optional<std::string> message_;
    Weak<UIAlertViewDelegate> delegate_;
    std::vector<std::string> buttons_;
    long cancelButtonIndex_ = -1;
    UIAlertViewStyle style_ = UIAlertViewStyleDefault;
    std::vector<Ref<UITextField>> textFields_;
    bool visible_ = false;
};
