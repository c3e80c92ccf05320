#include "app/KeyboardMove.h"

#include "graphics/NSValue+Geometry.h"
#include "uikit/UIApplication.h"
#include "uikit/UIView.h"

KeyboardMove KeyboardMove::fromNotification(const NSNotification& notification) {
    KeyboardMove move;
    move.showing = notification.name() == UIKeyboardWillShowNotification;
    move.duration = notification.userInfoValue(UIKeyboardAnimationDurationUserInfoKey).doubleValue();
    long curve = notification.userInfoValue(UIKeyboardAnimationCurveUserInfoKey).integerValue();
    // The curve is an animation curve, which sits 16 bits up among the animation options.
    move.curve = static_cast<UIViewAnimationOptions>(curve) << 16;
    move.endFrame = NSValue_Geometry::CGRectValue(
        notification.userInfoValue(UIKeyboardFrameEndUserInfoKey).objectAs<NSValue>());
    return move;
}

void KeyboardMove::animate(std::function<void()> animations, UIViewAnimationOptions options) const {
    UIView::animateWithDuration(duration, 0, options | curve, std::move(animations), nullptr);
}
