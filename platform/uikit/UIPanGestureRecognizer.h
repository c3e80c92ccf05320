#pragma once
// Pans (drags): begins once the fingers' centroid has moved the movement threshold (10 points)
// from where they went down, changes with every move, ends when the fingers lift (cancelled when
// the touches are cancelled; failed when they lift before it began).
//
// The translation counts from where the fingers went down (the threshold included) and can be set
// back (setTranslation), after which it counts from the current position; adding or lifting a
// finger does not make it jump. The velocity is that of the last move, in points per second on the
// touches' timestamps.

#include <climits>

#include "uikit/UIGestureRecognizer.h"

class UIPanGestureRecognizer : public UIGestureRecognizer {
  public:
    using UIGestureRecognizer::UIGestureRecognizer;
    std::string className() const override { return "UIPanGestureRecognizer"; }

    static constexpr CGFloat kMovementThreshold = 10;

    unsigned long minimumNumberOfTouches() const { return minimumTouches_; }
    void setMinimumNumberOfTouches(unsigned long n) { minimumTouches_ = n ? n : 1; }
    unsigned long maximumNumberOfTouches() const { return maximumTouches_; }
    void setMaximumNumberOfTouches(unsigned long n) { maximumTouches_ = n; }

    // In the view's space (nullptr: the window's).
    CGPoint translationInView(const Ref<UIView>& view) const;
    void setTranslation(CGPoint translation, const Ref<UIView>& view);
    CGPoint velocityInView(const Ref<UIView>& view) const;

    void touchesBegan(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void touchesMoved(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void touchesEnded(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void touchesCancelled(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void reset() override;

  private:
    std::size_t fingersDown() const;
    CGPoint centroid() const;
    // Keeps the translation steady when the set of fingers changes.
    void refollow();

    unsigned long minimumTouches_ = 1;
    unsigned long maximumTouches_ = ULONG_MAX;
    bool following_ = false;
    CGPoint start_{};
    CGPoint last_{};
    double lastTime_ = 0;
    CGPoint velocity_{};
};
