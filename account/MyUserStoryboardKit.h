#pragma once
// The pieces the "MyUser" scenes are built from: a screen of the app's dark colour with a title
// bar and a back button, rounded text fields, accent buttons, labels, and the way a control's
// event reaches a member action of its screen. Each scene's view loader (MyUserStoryboard*.cpp)
// lays its screen out with them and connects the outlets the screen's class names.
//
// Main thread only.

#include <string>

#include "graphics/UIFont.h"
#include "uikit/UIButton.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UITableView.h"
#include "uikit/UITextField.h"
#include "uikit/UIView.h"
#include "uikit/UIViewController.h"

namespace MyUserStoryboardKit {

inline constexpr CGFloat kBarHeight = 64;

// The screen's root view, of the main screen's size.
Ref<UIView> screenRoot(bool dark = true);
// A bar across the top with a centred title; answers the back button at its left.
Ref<UIButton> titleBar(const Ref<UIView>& root, const std::string& title);
Ref<UITextField> field(const Ref<UIView>& parent, CGRect frame, const std::string& placeholder,
                       bool secure = false);
Ref<UIButton> button(const Ref<UIView>& parent, CGRect frame, const std::string& title, bool accent = true);
Ref<UILabel> label(const Ref<UIView>& parent, CGRect frame, const std::string& text, CGFloat size = 15,
                   bool white = true);
// A white row across the view at y with a caption at its left; answers the row.
Ref<UIView> row(const Ref<UIView>& parent, CGFloat y, CGFloat height, const std::string& caption);
Ref<UITableView> table(const Ref<UIView>& parent, CGRect frame);
CGFloat width();
CGFloat height();

// A member action of the screen, held weakly by the control.
template <class Screen>
void connect(UIViewController& owner, const Ref<UIControl>& control,
             void (Screen::*action)(const Ref<NSObject>&), const std::string& selector,
             UIControlEvents events = UIControlEventTouchUpInside) {
    control->addTarget(owner.selfAs<Screen>(), action, selector, events);
}

}  // namespace MyUserStoryboardKit
