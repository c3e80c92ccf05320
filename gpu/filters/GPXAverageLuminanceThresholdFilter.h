#pragma once
// A luminance threshold that follows the picture: each frame's average luminosity, times
// `thresholdMultiplier` (default 1), becomes the threshold, so a pixel turns white when it is at
// least that bright and black otherwise, whatever the overall exposure. The frame is measured
// before it is thresholded, so every frame is cut at its own average.

#include <atomic>

#include "gpu/core/GPXFilterGroup.h"

class GPXLuminosity;
class GPXLuminanceThresholdFilter;

class GPXAverageLuminanceThresholdFilter : public GPXFilterGroup {
  public:
    void didInit();
    void setThresholdMultiplier(double newValue) { thresholdMultiplier_.store(newValue); }
    double thresholdMultiplier() const { return thresholdMultiplier_.load(); }
    std::string className() const override { return "GPXAverageLuminanceThresholdFilter"; }

    Ref<GPXLuminosity> luminosityFilter() const { return luminosityFilter_; }
    Ref<GPXLuminanceThresholdFilter> luminanceThresholdFilter() const { return luminanceThresholdFilter_; }

  private:
    Ref<GPXLuminosity> luminosityFilter_;
    Ref<GPXLuminanceThresholdFilter> luminanceThresholdFilter_;
    std::atomic<double> thresholdMultiplier_{1.0};
};
