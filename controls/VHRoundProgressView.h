#pragma once
// A determinate progress indicator: a pie that fills clockwise from twelve o'clock or, with
// `annular` set, a ring. The view observes its own properties and redraws whenever any of them is
// set (the same value again included). Clear background, not opaque. Main thread only.

#include <cstdint>
#include <string>
#include <vector>

#include "controls/VHProgressSettable.h"
#include "graphics/UIColor.h"
#include "uikit/UIView.h"

class VHRoundProgressView : public UIView, public detail::VHProgressSettable {
  public:
    // init: 37 x 37 points at (0, 0).
    VHRoundProgressView();
    explicit VHRoundProgressView(CGRect frame);
    ~VHRoundProgressView() override;
    std::string className() const override { return "VHRoundProgressView"; }

    // 0 (empty) to 1 (full).
    float progress() const { return progress_; }
    void setProgress(float progress) override;
    // Pie fill, ring arc and pie outline; white.
    const Ref<UIColor>& progressTintColor() const { return progressTintColor_; }
    void setProgressTintColor(const Ref<UIColor>& color);
    // Pie background and full ring; white at alpha 0.1.
    const Ref<UIColor>& backgroundTintColor() const { return backgroundTintColor_; }
    void setBackgroundTintColor(const Ref<UIColor>& color);
    bool isAnnular() const { return annular_; }
    void setAnnular(bool annular);

    void drawRect(CGRect rect) override;
    Value valueForKey(const std::string& key) const override;

  private:
    void registerForKVO();
    void unregisterFromKVO();

    float progress_ = 0;
    Ref<UIColor> progressTintColor_;
    Ref<UIColor> backgroundTintColor_;
    bool annular_ = false;
    std::vector<std::uint64_t> observations_;
};
