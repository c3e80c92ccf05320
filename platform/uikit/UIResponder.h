#pragma once
// Responders: objects that can take part in event handling.
//
// Every view, window, the application (and later view controllers) is a responder. Events that a
// responder does not handle travel along nextResponder(): a view passes them to the view
// controller that manages it (when one registered itself), else to its superview; a window to the
// application; the application to its delegate when that is a responder.
//
// First responder: each window has at most one. becomeFirstResponder() succeeds only for a
// responder that can become first responder and that lives in a window; the window's previous
// first responder is asked to resign first (and may refuse, which makes the new one fail). A view
// that leaves its window resigns if it, or one of its subviews, was first responder.
//
// The touch methods forward to the next responder by default; the touch classes (UITouch,
// UIEvent) and their injection come with the gesture layer.
//
// Responders belong to the main thread.

#include <set>
#include <string>

#include "foundation/NSObject.h"

class UITouch;
class UIEvent;
class UIWindow;

class UIResponder : public NSObject {
  public:
    std::string className() const override { return "UIResponder"; }

    // The next link of the responder chain, nullptr at its end.
    virtual Ref<UIResponder> nextResponder() const { return nullptr; }

    virtual bool canBecomeFirstResponder() const { return false; }
    virtual bool canResignFirstResponder() const { return true; }
    // Subclasses (text fields) override these to tell their delegates and call the base, whose
    // answer says whether the change happened.
    virtual bool becomeFirstResponder();
    virtual bool resignFirstResponder();
    bool isFirstResponder() const;

    // Touch handling; the defaults pass the call to nextResponder().
    virtual void touchesBegan(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event);
    virtual void touchesMoved(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event);
    virtual void touchesEnded(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event);
    virtual void touchesCancelled(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event);

    // The window whose first-responder slot this responder would occupy: a view's own window; for
    // other responders the first window found along the responder chain. nullptr when none.
    virtual UIWindow* windowForFirstResponder() const;
};
