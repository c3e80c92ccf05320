// Reading a keyboard notification (show or hide, duration, curve, end frame, missing values) and
// animating in step with it on the manual clock.

#include <gtest/gtest.h>

#include "app/KeyboardMove.h"
#include "graphics/NSValue+Geometry.h"
#include "tests/support/MainLoop.h"
#include "uikit/CAAnimation.h"
#include "uikit/UIApplication.h"
#include "uikit/UIView.h"

namespace {

Ref<NSNotification> keyboardNotification(const char* name, Dictionary info) {
    return make<NSNotification>(name, nullptr, std::move(info));
}

Dictionary fullInfo() {
    return Dictionary{
        {UIKeyboardAnimationDurationUserInfoKey, 0.25},
        {UIKeyboardAnimationCurveUserInfoKey, 3},
        {UIKeyboardFrameEndUserInfoKey, NSValue_Geometry::valueWithCGRect(CGRectMake(0, 451, 375, 216))}};
}

}  // namespace

TEST(KeyboardMoveTest, AShowingNotificationGivesItsDurationCurveAndEndFrame) {
    KeyboardMove move =
        KeyboardMove::fromNotification(*keyboardNotification(UIKeyboardWillShowNotification, fullInfo()));
    EXPECT_TRUE(move.showing);
    EXPECT_DOUBLE_EQ(move.duration, 0.25);
    EXPECT_EQ(move.curve, UIViewAnimationOptionCurveLinear);
    EXPECT_DOUBLE_EQ(move.endFrame.origin.y, 451);
    EXPECT_DOUBLE_EQ(move.height(), 216);
}

TEST(KeyboardMoveTest, AHidingNotificationIsNotShowingButKeepsItsFrame) {
    KeyboardMove move =
        KeyboardMove::fromNotification(*keyboardNotification(UIKeyboardWillHideNotification, fullInfo()));
    EXPECT_FALSE(move.showing);
    EXPECT_DOUBLE_EQ(move.endFrame.origin.y, 451);
}

TEST(KeyboardMoveTest, MissingOrWrongValuesReadAsZero) {
    KeyboardMove empty =
        KeyboardMove::fromNotification(*keyboardNotification(UIKeyboardWillShowNotification, Dictionary()));
    EXPECT_TRUE(empty.showing);
    EXPECT_EQ(empty.duration, 0);
    EXPECT_EQ(empty.curve, UIViewAnimationOptionCurveEaseInOut);
    EXPECT_EQ(empty.height(), 0);
    // A frame that is not a rectangle is no frame.
    KeyboardMove wrong = KeyboardMove::fromNotification(*keyboardNotification(
        UIKeyboardWillShowNotification,
        Dictionary{{UIKeyboardFrameEndUserInfoKey, NSValue_Geometry::valueWithCGPoint(CGPointMake(4, 5))}}));
    EXPECT_EQ(wrong.height(), 0);
    EXPECT_EQ(wrong.endFrame.origin.y, 0);
}

TEST(KeyboardMoveTest, AnimationsRunOverTheKeyboardsDurationAndCurve) {
    testsupport::ManualClock clock;
    KeyboardMove move =
        KeyboardMove::fromNotification(*keyboardNotification(UIKeyboardWillShowNotification, fullInfo()));
    auto view = make<UIView>(CGRectMake(0, 0, 10, 10));
    move.animate([&] { view->setAlpha(0.5); }, UIViewAnimationOptionBeginFromCurrentState);
    EXPECT_EQ(view->alpha(), 0.5);
    auto opacity = std::dynamic_pointer_cast<CABasicAnimation>(view->layer()->animationForKey("opacity"));
    ASSERT_TRUE(opacity);
    EXPECT_DOUBLE_EQ(opacity->duration(), 0.25);
    EXPECT_EQ(opacity->timingFunction()->name(), kCAMediaTimingFunctionLinear);
    clock.advance(0.3);
    EXPECT_EQ(view->runningAnimationCount(), 0u);
}
