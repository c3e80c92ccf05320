#pragma once
// Action sheets: a list of choices that slides up from the bottom. As with alert views, showing
// one records it as visible (with the view it was shown in) for UIAlertTestDriver, which presses
// its buttons in the user's place.
//
// Button indexes: the destructive button, when given, is 0; the other buttons follow in order; the
// cancel button, when given, comes last; buttons added later come after those. A press calls the
// delegate's clickedButtonAtIndex and willDismissWithButtonIndex within the press, and
// didDismissWithButtonIndex on the next turn of the main run loop. The delegate is held weakly.
// Main thread only.

#include <optional>
#include <string>
#include <vector>

#include "uikit/UIView.h"

class UIActionSheet;

enum UIActionSheetStyle : long {
    UIActionSheetStyleAutomatic = -1,
    UIActionSheetStyleDefault = 0,
    UIActionSheetStyleBlackTranslucent = 2,
    UIActionSheetStyleBlackOpaque = 1,
};

// UIActionSheetDelegate: every method is optional.
class UIActionSheetDelegate {
  public:
    virtual ~UIActionSheetDelegate() = default;
    // actionSheet:clickedButtonAtIndex:
    virtual void actionSheetClickedButtonAtIndex(const Ref<UIActionSheet>& actionSheet, long buttonIndex) {}
    virtual void actionSheetCancel(const Ref<UIActionSheet>& actionSheet) {}
    virtual void willPresentActionSheet(const Ref<UIActionSheet>& actionSheet) {}
    virtual void didPresentActionSheet(const Ref<UIActionSheet>& actionSheet) {}
    virtual void actionSheetWillDismissWithButtonIndex(const Ref<UIActionSheet>& actionSheet,
                                                       long buttonIndex) {}
    virtual void actionSheetDidDismissWithButtonIndex(const Ref<UIActionSheet>& actionSheet,
                                                      long buttonIndex) {}
};

class UIActionSheet : public UIView {
  public:
    UIActionSheet();
    // initWithTitle:delegate:cancelButtonTitle:destructiveButtonTitle:otherButtonTitles:
    UIActionSheet(std::optional<std::string> title, const Ref<UIActionSheetDelegate>& delegate,
                  std::optional<std::string> cancelButtonTitle,
                  std::optional<std::string> destructiveButtonTitle,
                  std::vector<std::string> otherButtonTitles = {});
    std::string className() const override { return "UIActionSheet"; }

    const std::optional<std::string>& title() const { return title_; }
    void setTitle(std::optional<std::string> title) { title_ = std::move(title); }
    Ref<UIActionSheetDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<UIActionSheetDelegate>& delegate) { delegate_ = delegate; }
    UIActionSheetStyle actionSheetStyle() const { return style_; }
    void setActionSheetStyle(UIActionSheetStyle style) { style_ = style; }

    long addButtonWithTitle(const std::string& title);
    std::optional<std::string> buttonTitleAtIndex(long index) const;
    long numberOfButtons() const { return static_cast<long>(buttons_.size()); }
    const std::vector<std::string>& buttonTitles() const { return buttons_; }
    long cancelButtonIndex() const { return cancelButtonIndex_; }
    void setCancelButtonIndex(long index) { cancelButtonIndex_ = index; }
    long destructiveButtonIndex() const { return destructiveButtonIndex_; }
    void setDestructiveButtonIndex(long index) { destructiveButtonIndex_ = index; }
    long firstOtherButtonIndex() const;

    bool isVisible() const { return visible_; }
    // The view it was shown in (held weakly).
    Ref<UIView> shownInView() const { return shownIn_.lock(); }
    void showInView(const Ref<UIView>& view);
    void showFromToolbar(const Ref<UIView>& toolbar) { showInView(toolbar); }
    void showFromTabBar(const Ref<UIView>& tabBar) { showInView(tabBar); }
    void showFromRect(CGRect rect, const Ref<UIView>& view, bool animated) { showInView(view); }
    void dismissWithClickedButtonIndex(long buttonIndex, bool animated);

    // ---- the user's side (UIAlertTestDriver) ---------------------------------------------------
    bool pressButtonAtIndex(long index);

  private:
    void finishDismissal(long buttonIndex);

    std::optional<std::string> title_;
    Weak<UIActionSheetDelegate> delegate_;
    std::vector<std::string> buttons_;
    long cancelButtonIndex_ = -1;
    long destructiveButtonIndex_ = -1;
    UIActionSheetStyle style_ = UIActionSheetStyleAutomatic;
    Weak<UIView> shownIn_;
    bool visible_ = false;
};
