#pragma once
// A determinate progress indicator: a horizontal rounded bar that fills from the left, its ends
// following the bar's rounded caps. The view observes its own properties and redraws whenever any
// of them is set. Clear background, not opaque. Main thread only.

#include <cstdint>
#include <string>
#include <vector>

#include "controls/VHProgressSettable.h"
#include "graphics/UIColor.h"
#include "uikit/UIView.h"

class VHBarProgressView : public UIView, public detail::VHProgressSettable {
  public:
    // init: 120 x 20 points at (0, 0).
    VHBarProgressView();
    explicit VHBarProgressView(CGRect frame);
    ~VHBarProgressView() override;
    std::string className() const override { return "VHBarProgressView"; }

    float progress() const { return progress_; }
    void setProgress(float progress) override;
    // The outline; white.
    const Ref<UIColor>& lineColor() const { return lineColor_; }
    void setLineColor(const Ref<UIColor>& color);
    // The whole bar inside the outline; clear.
    const Ref<UIColor>& progressRemainingColor() const { return progressRemainingColor_; }
    void setProgressRemainingColor(const Ref<UIColor>& color);
    // The filled part; white.
    const Ref<UIColor>& progressColor() const { return progressColor_; }
    void setProgressColor(const Ref<UIColor>& color);

    void drawRect(CGRect rect) override;
    Value valueForKey(const std::string& key) const override;

  private:
    void registerForKVO();
    void unregisterFromKVO();

    float progress_ = 0;
    Ref<UIColor> lineColor_;
    Ref<UIColor> progressRemainingColor_;
    Ref<UIColor> progressColor_;
    std::vector<std::uint64_t> observations_;
};
