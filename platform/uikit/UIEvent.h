#pragma once
// A touch event: the touches of one moment, those that changed and those that stayed put. One
// event object is reused for a whole multi-touch sequence, as on the platform; its timestamp is
// that of the latest change.
//
// Events are made by the event source (UITestDriver) and go through
// UIApplication::sendEvent → UIWindow::sendEvent → the dispatcher (UIEventDispatch.cpp). Main
// thread only.

#include <set>
#include <string>

#include "foundation/NSObject.h"

class UITouch;
class UIView;
class UIWindow;
class UIGestureRecognizer;

enum UIEventType : long {
    UIEventTypeTouches = 0,
    UIEventTypeMotion = 1,
    UIEventTypeRemoteControl = 2,
};

enum UIEventSubtype : long {
    UIEventSubtypeNone = 0,
};

class UIEvent : public NSObject {
  public:
    UIEvent();
    std::string className() const override { return "UIEvent"; }

    UIEventType type() const { return UIEventTypeTouches; }
    UIEventSubtype subtype() const { return UIEventSubtypeNone; }
    double timestamp() const { return timestamp_; }

    // Every touch of the event, moving or not.
    const std::set<Ref<UITouch>>& allTouches() const { return touches_; }
    std::set<Ref<UITouch>> touchesForView(const Ref<UIView>& view) const;
    std::set<Ref<UITouch>> touchesForWindow(const Ref<UIWindow>& window) const;
    std::set<Ref<UITouch>> touchesForGestureRecognizer(const Ref<UIGestureRecognizer>& recognizer) const;

    // ---- for the event source ---------------------------------------------------------------
    void addTouch(const Ref<UITouch>& touch) { touches_.insert(touch); }
    void removeTouch(const Ref<UITouch>& touch) { touches_.erase(touch); }
    void setTimestamp(double timestamp) { timestamp_ = timestamp; }

  private:
    std::set<Ref<UITouch>> touches_;
    double timestamp_ = 0;
};
