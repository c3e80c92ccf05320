#pragma once
// Swipes: the required number of fingers travel the minimum distance (50 points) in one of the
// allowed directions within the maximum duration (0.5 s), staying within half that distance of
// the straight line. Recognised on the move that completes it; failed when the fingers go another
// way, take too long or lift too early.

#include "uikit/UIGestureRecognizer.h"

using UISwipeGestureRecognizerDirection = unsigned long;
inline constexpr UISwipeGestureRecognizerDirection UISwipeGestureRecognizerDirectionRight = 1u << 0;
inline constexpr UISwipeGestureRecognizerDirection UISwipeGestureRecognizerDirectionLeft = 1u << 1;
inline constexpr UISwipeGestureRecognizerDirection UISwipeGestureRecognizerDirectionUp = 1u << 2;
inline constexpr UISwipeGestureRecognizerDirection UISwipeGestureRecognizerDirectionDown = 1u << 3;

class UISwipeGestureRecognizer : public UIGestureRecognizer {
  public:
    using UIGestureRecognizer::UIGestureRecognizer;
    std::string className() const override { return "UISwipeGestureRecognizer"; }

    static constexpr CGFloat kMinimumDistance = 50;
    static constexpr double kMaximumDuration = 0.5;

    UISwipeGestureRecognizerDirection direction() const { return direction_; }
    void setDirection(UISwipeGestureRecognizerDirection direction) { direction_ = direction; }
    unsigned long numberOfTouchesRequired() const { return touchesRequired_; }
    void setNumberOfTouchesRequired(unsigned long n) { touchesRequired_ = n ? n : 1; }

    void touchesBegan(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void touchesMoved(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void touchesEnded(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void touchesCancelled(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void reset() override;

  private:
    CGPoint centroid(std::size_t* down) const;

    UISwipeGestureRecognizerDirection direction_ = UISwipeGestureRecognizerDirectionRight;
    unsigned long touchesRequired_ = 1;
    bool started_ = false;
    CGPoint start_{};
    double startTime_ = 0;
};
