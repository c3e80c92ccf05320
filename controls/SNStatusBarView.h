#pragma once
// The status-bar notification's bar: a centred, shrink-to-fit text label and, once asked for, a
// small activity indicator 8 points to the left of the text. Main thread only.

#include <string>

#include "uikit/UIActivityIndicatorView.h"
#include "uikit/UILabel.h"
#include "uikit/UIView.h"

class SNStatusBarView : public UIView {
  public:
    using UIView::UIView;
    std::string className() const override { return "SNStatusBarView"; }

    // Made (and added) on first access.
    const Ref<UILabel>& textLabel();
    // Made (and added) on first access: the small white style, scaled to 0.7.
    const Ref<UIActivityIndicatorView>& activityIndicatorView();
    bool hasActivityIndicatorView() const { return activityIndicatorView_ != nullptr; }

    double textVerticalPositionAdjustment() const { return textVerticalPositionAdjustment_; }
    // Added to the text's vertical position; relays out.
    void setTextVerticalPositionAdjustment(double adjustment);

    void layoutSubviews() override;
    // The label's text measured in its font; zero without a text.
    CGSize currentTextSize();

  private:
    Ref<UILabel> textLabel_;
    Ref<UIActivityIndicatorView> activityIndicatorView_;
    double textVerticalPositionAdjustment_ = 0;
};
