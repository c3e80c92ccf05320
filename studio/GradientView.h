#pragma once
// GradientView: the backdrop that the pop animator lays behind a small presented screen. It is
// clear itself and draws a radial darkening: black at 30% in the middle growing to 70% at the
// radius max(midX, midY), and 70% everywhere beyond it, so the corners are the darkest. It
// stretches with its superview (flexible width and height).
//
// Main thread only, as every view.

#include <string>

#include "uikit/UIView.h"

class GradientView : public UIView {
  public:
    GradientView();
    explicit GradientView(CGRect frame);
    std::string className() const override { return "GradientView"; }

    void drawRect(CGRect rect) override;

  private:
    void setUp();
};
