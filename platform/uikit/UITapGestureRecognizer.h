#pragma once
// Taps: the required number of fingers go down and up without moving further than the allowance,
// the required number of times, each tap starting within the tap interval of the previous one's
// end. Recognised (ended) when the last tap lifts; failed when a finger moves too far, too many
// fingers come down, or the next tap does not come in time (on the platform clock).

#include <map>

#include "uikit/UIGestureRecognizer.h"

class UITapGestureRecognizer : public UIGestureRecognizer {
  public:
    using UIGestureRecognizer::UIGestureRecognizer;
    std::string className() const override { return "UITapGestureRecognizer"; }

    unsigned long numberOfTapsRequired() const { return tapsRequired_; }
    void setNumberOfTapsRequired(unsigned long taps) { tapsRequired_ = taps ? taps : 1; }
    unsigned long numberOfTouchesRequired() const { return touchesRequired_; }
    void setNumberOfTouchesRequired(unsigned long touches) { touchesRequired_ = touches ? touches : 1; }
    // How far a finger may move from where it went down (points, window space).
    CGFloat allowableMovement() const { return allowableMovement_; }
    void setAllowableMovement(CGFloat points) { allowableMovement_ = points; }
    // How long the next tap may take to start after a tap ends (seconds).
    double maximumTapInterval() const { return maximumTapInterval_; }
    void setMaximumTapInterval(double seconds) { maximumTapInterval_ = seconds; }

    void touchesBegan(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void touchesMoved(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void touchesEnded(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void touchesCancelled(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void reset() override;

  private:
    unsigned long fingersDown() const;

    unsigned long tapsRequired_ = 1;
    unsigned long touchesRequired_ = 1;
    CGFloat allowableMovement_ = 10;
    double maximumTapInterval_ = 0.35;
    unsigned long taps_ = 0;
    unsigned long mostFingers_ = 0;
    std::map<const UITouch*, CGPoint> starts_;
    std::uint64_t timeout_ = 0;  // generation of the pending next-tap timeout
};
