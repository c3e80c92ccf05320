#pragma once
// Pinches: two fingers moving apart or together. Begins once their distance has changed by the
// movement threshold (2 points) from the distance when the second finger came down; the scale is
// the distance over that first distance (times the scale last set, which setScale re-bases), so a
// pinch from 100 to 150 points ends with scale 1.5. Ends when a finger lifts; fails when the
// fingers lift before it began. A third finger is ignored.

#include "uikit/UIGestureRecognizer.h"

class UIPinchGestureRecognizer : public UIGestureRecognizer {
  public:
    using UIGestureRecognizer::UIGestureRecognizer;
    std::string className() const override { return "UIPinchGestureRecognizer"; }

    static constexpr CGFloat kMovementThreshold = 2;

    CGFloat scale() const { return scale_; }
    // The scale from now on counts from this value at the current distance.
    void setScale(CGFloat scale);
    // Scale per second, of the last move.
    CGFloat velocity() const { return velocity_; }

    void touchesBegan(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void touchesMoved(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void touchesEnded(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void touchesCancelled(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void reset() override;

  private:
    // The distance between the two fingers, or -1 while fewer are down.
    CGFloat distance() const;

    CGFloat scale_ = 1;
    CGFloat baseScale_ = 1;
    CGFloat baseDistance_ = 0;
    CGFloat velocity_ = 0;
    double lastTime_ = 0;
};
