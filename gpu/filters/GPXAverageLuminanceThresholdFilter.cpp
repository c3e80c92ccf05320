#include "gpu/filters/GPXAverageLuminanceThresholdFilter.h"

#include "gpu/filters/GPXColorAdjustmentFilters.h"
#include "gpu/filters/GPXImageReductions.h"

void GPXAverageLuminanceThresholdFilter::didInit() {
    // The measure comes first among the initial filters: its callback sets the threshold before
    // the same frame reaches the threshold filter.
    luminosityFilter_ = make<GPXLuminosity>();
    addFilter(luminosityFilter_);
    luminanceThresholdFilter_ = make<GPXLuminanceThresholdFilter>();
    addFilter(luminanceThresholdFilter_);

    // Weak both ways: the group owns the two filters, and the callback lives in one of them.
    Weak<GPXAverageLuminanceThresholdFilter> weakGroup = selfAs<GPXAverageLuminanceThresholdFilter>();
    Weak<GPXLuminanceThresholdFilter> weakThreshold = luminanceThresholdFilter_;
    luminosityFilter_->setLuminosityProcessingFinishedBlock(
        [weakGroup, weakThreshold](CGFloat luminosity, CMTime) {
            auto group = weakGroup.lock();
            auto threshold = weakThreshold.lock();
            if (group && threshold) threshold->setThreshold(group->thresholdMultiplier() * luminosity);
        });

    setInitialFilters({luminosityFilter_, luminanceThresholdFilter_});
    setTerminalFilter(luminanceThresholdFilter_);
}
