#pragma once
// What a keyboard will-show or will-hide notification tells of the keyboard's move, so a screen can
// move its bars in step with it: the same duration and curve, to where the keyboard ends.

#include <functional>

#include "foundation/NSNotificationCenter.h"
#include "graphics/CGGeometry.h"
#include "uikit/UIViewAnimation.h"

struct KeyboardMove {
    bool showing = false;  // a UIKeyboardWillShowNotification
    double duration = 0;
    // The notification's animation curve, moved to where the animation options hold the curve.
    UIViewAnimationOptions curve = 0;
    CGRect endFrame = CGRectZero;  // where the keyboard ends; zero when the notification has none

    static KeyboardMove fromNotification(const NSNotification& notification);

    CGFloat height() const { return endFrame.size.height; }

    // `animations` over the keyboard's duration and curve, with `options` besides.
    void animate(std::function<void()> animations, UIViewAnimationOptions options = 0) const;
};
