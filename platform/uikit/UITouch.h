#pragma once
// One finger on the screen, from the moment it goes down until it lifts (or the system cancels
// it). The same UITouch object follows the finger through the phases began, moved (or stationary),
// and ended or cancelled; its location is kept in the space of the tree it touches (a window's, or
// the root view's for a tree outside a window) and converted on request.
//
// The view is the one hit testing found when the finger went down; it does not change while the
// finger moves. The recognisers are those of that view and its ancestors that accepted the touch.
//
// Touches are made by the event source (UITestDriver) and updated by it and by the dispatcher;
// they belong to the main thread.

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/NSObject.h"
#include "graphics/CGGeometry.h"

class UIView;
class UIWindow;
class UIGestureRecognizer;

enum UITouchPhase : long {
    UITouchPhaseBegan = 0,
    UITouchPhaseMoved = 1,
    UITouchPhaseStationary = 2,
    UITouchPhaseEnded = 3,
    UITouchPhaseCancelled = 4,
};

class UITouch : public NSObject {
  public:
    UITouch();
    std::string className() const override { return "UITouch"; }

    // The location in the view's space; nullptr gives the window's (the tree root's) space.
    CGPoint locationInView(const Ref<UIView>& view) const;
    CGPoint previousLocationInView(const Ref<UIView>& view) const;

    Ref<UIView> view() const { return view_.lock(); }
    Ref<UIWindow> window() const;
    // The root of the touched tree (the window, when there is one).
    Ref<UIView> rootView() const { return root_.lock(); }
    UITouchPhase phase() const { return phase_; }
    // Taps in quick succession at about the same place count up (1 for a first tap).
    unsigned long tapCount() const { return tapCount_; }
    // Seconds on the platform clock's monotonic scale.
    double timestamp() const { return timestamp_; }
    // The recognisers receiving this touch.
    std::vector<Ref<UIGestureRecognizer>> gestureRecognizers() const;

    // ---- for the event source and the dispatcher --------------------------------------------
    // Location in the root's space.
    CGPoint location() const { return location_; }
    CGPoint previousLocation() const { return previous_; }
    // Moves the touch: the old location becomes the previous one.
    void moveTo(CGPoint location, double timestamp);
    void setPhase(UITouchPhase phase) { phase_ = phase; }
    void setTimestamp(double timestamp) { timestamp_ = timestamp; }
    void setTapCount(unsigned long count) { tapCount_ = count; }
    void setRootView(const Ref<UIView>& root) { root_ = root; }
    void setView(const Ref<UIView>& view) { view_ = view; }
    void setGestureRecognizers(std::vector<Weak<UIGestureRecognizer>> recognizers) {
        recognizers_ = std::move(recognizers);
    }
    void removeGestureRecognizer(const UIGestureRecognizer* recognizer);
    // The view no longer hears of this touch (a recogniser cancelled it there).
    bool isCancelledForView() const { return cancelledForView_; }
    void setCancelledForView(bool cancelled) { cancelledForView_ = cancelled; }
    // What the view has heard: began, and a final phase (ended or cancelled).
    bool viewHeardBegan() const { return viewHeardBegan_; }
    void setViewHeardBegan(bool heard) { viewHeardBegan_ = heard; }
    bool viewHeardEnd() const { return viewHeardEnd_; }
    void setViewHeardEnd(bool heard) { viewHeardEnd_ = heard; }
    // Order of creation, so that touches of one event are handled in the order they went down.
    std::uint64_t serial() const { return serial_; }

  private:
    Weak<UIView> view_;
    Weak<UIView> root_;
    std::vector<Weak<UIGestureRecognizer>> recognizers_;
    CGPoint location_{};
    CGPoint previous_{};
    UITouchPhase phase_ = UITouchPhaseBegan;
    unsigned long tapCount_ = 1;
    double timestamp_ = 0;
    bool cancelledForView_ = false;
    bool viewHeardBegan_ = false;
    bool viewHeardEnd_ = false;
    std::uint64_t serial_;
};
