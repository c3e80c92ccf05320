#include "uikit/UITextEntryDriver.h"

#include <algorithm>

#include "dispatch/Clock.h"
#include "foundation/NSDate.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSString.h"
#include "foundation/NSTimer.h"
#include "graphics/NSValue+Geometry.h"
#include "uikit/UIApplication.h"
#include "uikit/UIScreen.h"
#include "uikit/UISearchBar.h"
#include "uikit/UITextField.h"
#include "uikit/UITextInput.h"

// ---- shared helpers -----------------------------------------------------------------------------

NSRange detail::clampRange(NSRange range, std::size_t length) {
    std::size_t location = std::min(range.location, length);
    std::size_t end = range.length > length - location ? length : location + range.length;
    return NSMakeRange(location, end - location);
}

std::string detail::replaceUTF16Range(const std::string& text, NSRange range, const std::string& replacement,
                                      NSRange* clamped) {
    const std::size_t length = NSString::length(text);
    NSRange r = clampRange(range, length);
    if (clamped) *clamped = r;
    const std::size_t start = NSString::byteOffsetOfIndex(text, r.location);
    const std::size_t end = NSString::byteOffsetOfIndex(text, NSMaxRange(r));
    return text.substr(0, start) + replacement + text.substr(end);
}

// ---- the keyboard -------------------------------------------------------------------------------

namespace {

struct Keyboard {
    CGFloat height = 216;
    bool visible = false;
    CGRect frame = CGRectZero;
    bool handingOver = false;
    bool pendingHide = false;
    Ref<NSTimer> didTimer;
};

Keyboard& keyboard() {
    static Keyboard k;
    return k;
}

Dictionary userInfo(CGRect begin, CGRect end) {
    return Dictionary{
        {UIKeyboardFrameBeginUserInfoKey, Value(NSValue_Geometry::valueWithCGRect(begin))},
        {UIKeyboardFrameEndUserInfoKey, Value(NSValue_Geometry::valueWithCGRect(end))},
        {UIKeyboardAnimationDurationUserInfoKey, Value(UITextEntryDriver::kAnimationDuration)},
        {UIKeyboardAnimationCurveUserInfoKey, Value(UITextEntryDriver::kAnimationCurve)},
    };
}

CGRect offscreen(CGFloat height) {
    const CGRect screen = UIScreen::mainScreen()->bounds();
    return CGRectMake(0, CGRectGetMaxY(screen), screen.size.width, height);
}

// Posts the "did" pair after the animation, unless a later change replaces it.
void postLater(const char* did, Dictionary info) {
    Keyboard& k = keyboard();
    if (k.didTimer) k.didTimer->invalidate();
    std::string name = did;
    k.didTimer = NSTimer::timerWithTimeInterval(
        UITextEntryDriver::kAnimationDuration, false, [name, info](const Ref<NSTimer>&) {
            keyboard().didTimer = nullptr;
            auto center = NSNotificationCenter::defaultCenter();
            center->postNotificationName(name, nullptr, info);
            center->postNotificationName(UIKeyboardDidChangeFrameNotification, nullptr, info);
        });
    // A microsecond early, so that advancing a manual clock by exactly the duration reaches it
    // whatever the rounding of the wall-clock seconds.
    k.didTimer->setFireDate(NSDate::dateWithTimeIntervalSince1970(
        PlatformClock::now() + UITextEntryDriver::kAnimationDuration - 1e-6));
    NSRunLoop::mainRunLoop()->addTimer(k.didTimer, NSRunLoopCommonModes);
}

void hideKeyboard() {
    Keyboard& k = keyboard();
    if (!k.visible) return;
    const CGRect begin = k.frame;
    const CGRect end = offscreen(begin.size.height);
    k.visible = false;
    k.frame = CGRectZero;
    Dictionary info = userInfo(begin, end);
    auto center = NSNotificationCenter::defaultCenter();
    center->postNotificationName(UIKeyboardWillChangeFrameNotification, nullptr, info);
    center->postNotificationName(UIKeyboardWillHideNotification, nullptr, info);
    postLater(UIKeyboardDidHideNotification, info);
}

}  // namespace

void detail::keyboardWillBecomeFirstResponder() {
    keyboard().handingOver = true;
    keyboard().pendingHide = false;
}

void detail::keyboardDidBecomeFirstResponder(UIView& view, const Ref<UIView>& inputView,
                                             const Ref<UIView>& inputAccessoryView) {
    Keyboard& k = keyboard();
    k.handingOver = false;
    k.pendingHide = false;
    CGFloat height = inputView ? inputView->frame().size.height : k.height;
    if (inputAccessoryView) height += inputAccessoryView->frame().size.height;
    const CGRect screen = UIScreen::mainScreen()->bounds();
    const CGRect end = CGRectMake(0, CGRectGetMaxY(screen) - height, screen.size.width, height);
    const CGRect begin = k.visible ? k.frame : offscreen(height);
    k.visible = true;
    k.frame = end;
    Dictionary info = userInfo(begin, end);
    auto center = NSNotificationCenter::defaultCenter();
    center->postNotificationName(UIKeyboardWillChangeFrameNotification, nullptr, info);
    center->postNotificationName(UIKeyboardWillShowNotification, nullptr, info);
    postLater(UIKeyboardDidShowNotification, info);
}

void detail::keyboardDidResignFirstResponder(UIView& view) {
    Keyboard& k = keyboard();
    if (k.handingOver) {
        // Another text view is taking over; if it fails, the keyboard goes then.
        k.pendingHide = true;
        return;
    }
    hideKeyboard();
}

void detail::keyboardTakeoverFailed() {
    Keyboard& k = keyboard();
    k.handingOver = false;
    if (k.pendingHide) {
        k.pendingHide = false;
        hideKeyboard();
    }
}

CGFloat UITextEntryDriver::keyboardHeight() {
    return keyboard().height;
}

void UITextEntryDriver::setKeyboardHeight(CGFloat height) {
    keyboard().height = std::max<CGFloat>(0, height);
}

bool UITextEntryDriver::isKeyboardVisible() {
    return keyboard().visible;
}

CGRect UITextEntryDriver::keyboardFrame() {
    return keyboard().frame;
}

void UITextEntryDriver::reset() {
    Keyboard& k = keyboard();
    if (k.didTimer) k.didTimer->invalidate();
    k = Keyboard();
}

// ---- typing -------------------------------------------------------------------------------------

namespace {

// The view that takes the keys: a search bar's are its field's.
Ref<UIView> entryView(const Ref<UIView>& view) {
    if (auto bar = std::dynamic_pointer_cast<UISearchBar>(view)) return bar->searchField();
    return view;
}

UIKeyInput* keyInputOf(const Ref<UIView>& view) {
    return dynamic_cast<UIKeyInput*>(view.get());
}

}  // namespace

bool UITextEntryDriver::focus(const Ref<UIView>& target) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    const Ref<UIView> view = entryView(target);
    auto* input = keyInputOf(view);
    if (!input) return false;
    if (input->isAcceptingText()) return true;
    return view->becomeFirstResponder() && input->isAcceptingText();
}

std::size_t UITextEntryDriver::typeText(const Ref<UIView>& target, const std::string& text) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    const Ref<UIView> view = entryView(target);
    auto* input = keyInputOf(view);
    if (!input || !focus(view)) return 0;
    std::size_t accepted = 0;
    for (NSRange r : NSString::composedCharacterSequenceRanges(text)) {
        if (!input->isAcceptingText()) break;  // a delegate ended editing meanwhile
        if (input->insertText(NSString::substringWithRange(text, r))) ++accepted;
    }
    return accepted;
}

bool UITextEntryDriver::insertText(const Ref<UIView>& target, const std::string& text) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    const Ref<UIView> view = entryView(target);
    auto* input = keyInputOf(view);
    return input && focus(view) && input->insertText(text);
}

bool UITextEntryDriver::deleteBackward(const Ref<UIView>& target) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    const Ref<UIView> view = entryView(target);
    auto* input = keyInputOf(view);
    return input && focus(view) && input->deleteBackward();
}

std::size_t UITextEntryDriver::deleteBackward(const Ref<UIView>& view, std::size_t count) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    std::size_t done = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (deleteBackward(view)) ++done;
    }
    return done;
}

bool UITextEntryDriver::replaceRange(const Ref<UIView>& target, NSRange range, const std::string& text) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    const Ref<UIView> view = entryView(target);
    auto* input = keyInputOf(view);
    return input && focus(view) && input->replaceTextInRange(range, text);
}

bool UITextEntryDriver::selectRange(const Ref<UIView>& target, NSRange range) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    const Ref<UIView> view = entryView(target);
    auto* input = keyInputOf(view);
    if (!input || !focus(view)) return false;
    input->setSelectedRange(range);
    return true;
}

bool UITextEntryDriver::pressReturn(const Ref<UIView>& target) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    const Ref<UIView> view = entryView(target);
    auto* input = keyInputOf(view);
    return input && input->isAcceptingText() && input->returnKeyPressed();
}

bool UITextEntryDriver::pressClearButton(const Ref<UIView>& target) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    const Ref<UIView> view = entryView(target);
    auto field = std::dynamic_pointer_cast<UITextField>(view);
    return field && field->pressClearButton();
}
