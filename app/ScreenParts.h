#pragma once
// The parts the areas' screens and cells build their views from: a white root the size of the
// screen, the dark top bar with its centred title, plain labels and text buttons, and a bar held to
// the bottom of the root by constraints so that it can ride up on the keyboard. Main thread only.

#include <string>

#include "uikit/NSLayoutConstraint.h"
#include "uikit/UIButton.h"
#include "uikit/UILabel.h"
#include "uikit/UIView.h"

namespace ScreenParts {

inline constexpr CGFloat kTopBarHeight = 64;

// A white view the size of the screen that follows the window's size.
Ref<UIView> screenRoot();

// A label in the system font of `fontSize`, in `colour`.
Ref<UILabel> label(CGRect frame, CGFloat fontSize, const Ref<UIColor>& colour);

// A custom button with a title in `colour` at 15 points.
Ref<UIButton> barButton(const std::string& title, CGRect frame, const Ref<UIColor>& colour);

// Adds the dark bar across the top of `root`; its title label, empty, comes back in `title`.
Ref<UIView> topBar(const Ref<UIView>& root, Ref<UILabel>& title);

// The constraints that hold a bar to the bottom of its root.
struct BottomPin {
    Ref<NSLayoutConstraint> bottom;  // the bar's distance above the root's bottom
    Ref<NSLayoutConstraint> height;
};

// Places `bar`, already in `root`, by constraints: across the root's width, `height` high, at its
// bottom.
BottomPin pinToBottom(const Ref<UIView>& root, const Ref<UIView>& bar, CGFloat height);

}  // namespace ScreenParts
