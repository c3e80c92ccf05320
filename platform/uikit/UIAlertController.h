#pragma once
// Alert controllers: an alert or action sheet that is a view controller, presented with
// presentViewController like any other (also on a controller that is itself presented, such as a
// picker). It is visible to UIAlertTestDriver from the start of its presentation until its
// dismissal starts.
//
// Actions keep the order they were added in; at most one has the Cancel style (a second one is
// logged and dropped: the platform raises). Pressing an action (UIAlertTestDriver) dismisses the
// alert controller without animation and runs the action's handler when the dismissal is done, on
// the next turn of the main run loop. A disabled action cannot be pressed. The alert controller's
// presentation style is Custom: the presenter stays on screen underneath. Main thread only.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "uikit/UIViewController.h"

class UITextField;

enum UIAlertControllerStyle : long {
    UIAlertControllerStyleActionSheet = 0,
    UIAlertControllerStyleAlert = 1,
};

enum UIAlertActionStyle : long {
    UIAlertActionStyleDefault = 0,
    UIAlertActionStyleCancel = 1,
    UIAlertActionStyleDestructive = 2,
};

class UIAlertAction : public NSObject {
  public:
    using Handler = std::function<void(const Ref<UIAlertAction>& action)>;

    UIAlertAction(std::optional<std::string> title, UIAlertActionStyle style, Handler handler)
        : title_(std::move(title)), style_(style), handler_(std::move(handler)) {}
    std::string className() const override { return "UIAlertAction"; }

    // actionWithTitle:style:handler:
    static Ref<UIAlertAction> actionWithTitle(std::optional<std::string> title, UIAlertActionStyle style,
                                              Handler handler = {});

    const std::optional<std::string>& title() const { return title_; }
    UIAlertActionStyle style() const { return style_; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled) { enabled_ = enabled; }
    const Handler& handler() const { return handler_; }

  private:
    std::optional<std::string> title_;
    UIAlertActionStyle style_;
    Handler handler_;
    bool enabled_ = true;
};

class UIAlertController : public UIViewController {
  public:
    UIAlertController(std::optional<std::string> title, std::optional<std::string> message,
                      UIAlertControllerStyle preferredStyle);
    std::string className() const override { return "UIAlertController"; }

    // alertControllerWithTitle:message:preferredStyle:
    static Ref<UIAlertController> alertControllerWithTitle(std::optional<std::string> title,
                                                           std::optional<std::string> message,
                                                           UIAlertControllerStyle preferredStyle);

    const std::optional<std::string>& message() const { return message_; }
    void setMessage(std::optional<std::string> message) { message_ = std::move(message); }
    UIAlertControllerStyle preferredStyle() const { return preferredStyle_; }
    void addAction(const Ref<UIAlertAction>& action);
    const std::vector<Ref<UIAlertAction>>& actions() const { return actions_; }
    // Text fields exist only in the alert style and when the text field class is available; the
    // handler configures each new field.
    void addTextFieldWithConfigurationHandler(std::function<void(const Ref<UITextField>& textField)> handler);
    const std::vector<Ref<UITextField>>& textFields() const { return textFields_; }

    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;

    // ---- the user's side (UIAlertTestDriver) ---------------------------------------------------
    // Presses the action at the index (actions() order); false when not presented, out of range or
    // disabled.
    bool pressActionAtIndex(long index);
    bool isShowing() const { return showing_; }

  private:
    std::optional<std::string> message_;
    UIAlertControllerStyle preferredStyle_;
    std::vector<Ref<UIAlertAction>> actions_;
    std::vector<Ref<UITextField>> textFields_;
    bool showing_ = false;
};
