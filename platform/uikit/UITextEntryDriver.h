#pragma once
// Typing, for tests and the main job's scripted run, and the keyboard that text entry shows.
//
// Typing goes through the views' key-input entries (UITextInput.h), so every composed character
// sequence of typed text is first offered to the delegate, then applied, then reported (delegate,
// EditingChanged targets, the text-did-change notification), exactly as a keyboard would:
//   UITextEntryDriver::typeText(field, "ab😀")   // three questions: "a", "b", "😀"
// A search bar stands for its field. A view that is not editing is first focused (becomeFirstResponder, which
// asks the delegate whether editing may begin and needs the view to be in a window); when it cannot be
// focused nothing is typed.
//
// The keyboard: when a text field or text view becomes first responder the keyboard shows:
// UIKeyboardWillShowNotification is posted at once and UIKeyboardDidShowNotification after the
// animation duration (0.25 s on the platform clock), with the begin frame below the screen, the
// end frame at the bottom of the screen, the duration 0.25 and the curve 7 in the user info. Its
// height is the input view's height when the view has one, else keyboardHeight() (216 by
// default), plus the input accessory view's height. Moving from one text view to another posts
// the show notifications again (with the new height); resigning without a successor posts the
// hide notifications (will at once, did after the duration). Main thread only.

#include <cstddef>
#include <string>

#include "foundation/NSRange.h"
#include "graphics/CGGeometry.h"
#include "uikit/UIView.h"

class UITextEntryDriver {
  public:
    // ---- typing -------------------------------------------------------------------------------
    // Focuses the view when needed, then types each composed character sequence; answers how
    // many were accepted.
    static std::size_t typeText(const Ref<UIView>& view, const std::string& text);
    // One edit with the whole text (a paste, a dictation, an autocorrection).
    static bool insertText(const Ref<UIView>& view, const std::string& text);
    static bool deleteBackward(const Ref<UIView>& view);
    // deleteBackward `count` times; answers how many were accepted.
    static std::size_t deleteBackward(const Ref<UIView>& view, std::size_t count);
    static bool replaceRange(const Ref<UIView>& view, NSRange range, const std::string& text);
    static bool selectRange(const Ref<UIView>& view, NSRange range);
    static bool pressReturn(const Ref<UIView>& view);
    // The field's clear button (a text field with a clear button showing): asks textFieldShouldClear.
    static bool pressClearButton(const Ref<UIView>& view);
    // becomeFirstResponder as a tap on the view would; false when refused.
    static bool focus(const Ref<UIView>& view);

    // ---- the keyboard -------------------------------------------------------------------------
    static CGFloat keyboardHeight();
    static void setKeyboardHeight(CGFloat height);
    static bool isKeyboardVisible();
    // In screen coordinates; CGRectZero while hidden.
    static CGRect keyboardFrame();
    static constexpr double kAnimationDuration = 0.25;
    static constexpr long kAnimationCurve = 7;
    // Back to the defaults (216 points, hidden, nothing pending).
    static void reset();
};

namespace detail {
// Called by text fields and text views as they become and stop being first responder.
void keyboardWillBecomeFirstResponder();
void keyboardDidBecomeFirstResponder(UIView& view, const Ref<UIView>& inputView,
                                     const Ref<UIView>& inputAccessoryView);
void keyboardDidResignFirstResponder(UIView& view);
// The new responder could not take over after the old one resigned: the keyboard hides.
void keyboardTakeoverFailed();
}  // namespace detail
