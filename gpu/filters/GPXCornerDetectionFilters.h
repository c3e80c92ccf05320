#pragma once
// Corner detection: derivatives, their Gaussian-weighted neighbourhood, a cornerness formula and
// local maxima above a threshold, read back to hand the caller a list of corner positions. Beside
// it: the derivative filter that feeds it, a filter packing 2x2 reds into one pixel, the local
// binary pattern and the FAST detector's empty shell.

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

#include "gpu/core/GPX3x3TextureSamplingFilter.h"
#include "gpu/core/GPXFilterGroup.h"
#include "gpu/filters/GPXBlurFilters.h"
#include "gpu/filters/GPXColorAdjustmentFilters.h"
#include "gpu/filters/GPXEdgeDetectionFilters.h"

// (dh^2, dv^2, (dh dv + 1) / 2, 1) of the luminance with Prewitt weights, times edgeStrength.
class GPXXYDerivativeFilter : public GPXSobelEdgeDetectionFilter {
  public:
    GPXXYDerivativeFilter();
    std::string className() const override { return "GPXXYDerivativeFilter"; }
};

// The group of derivative, blur (radius 2 by default), cornerness (times `sensitivity`, 5 by
// default) and thresholded local maxima (threshold 0.2). The callback gets the corners as (x, y)
// pairs in 0-1 of the output size, in scan order from the first row read back, at most 511 (the
// last slot is overwritten once full), with their number and the frame time. The list is the
// detector's and is valid until the next frame; it is called on the shared context queue.
class GPXHarrisCornerDetectionFilter : public GPXFilterGroup {
  public:
    using CornersDetectedBlock =
        std::function<void(GLfloat* cornerArray, unsigned long cornersDetected, CMTime frameTime)>;
    static constexpr std::size_t kMaximumCorners = 511;

    GPXHarrisCornerDetectionFilter();
    explicit GPXHarrisCornerDetectionFilter(std::string cornerDetectionFragmentShader);
    void didInit();

    void setBlurRadiusInPixels(double newValue);
    double blurRadiusInPixels() const;
    void setSensitivity(double newValue);
    double sensitivity() const;
    void setThreshold(double newValue);
    double threshold() const;
    void setCornersDetectedBlock(CornersDetectedBlock block);
    CornersDetectedBlock cornersDetectedBlock() const;
    bool wantsMonochromeInput() override { return false; }

    void extractCornerLocationsFromImageAtFrameTime(CMTime frameTime);
    std::string className() const override { return "GPXHarrisCornerDetectionFilter"; }

    Ref<GPXXYDerivativeFilter> derivativeFilter() const { return derivativeFilter_; }
    Ref<GPXGaussianBlurFilter> blurFilter() const { return blurFilter_; }
    Ref<GPXFilter> harrisCornerDetectionFilter() const { return harrisCornerDetectionFilter_; }
    Ref<GPXThresholdedNonMaximumSuppressionFilter> nonMaximumSuppressionFilter() const {
        return nonMaximumSuppressionFilter_;
    }

  protected:
    std::string cornerDetectionFragmentShader_;
    Ref<GPXXYDerivativeFilter> derivativeFilter_;
    Ref<GPXGaussianBlurFilter> blurFilter_;
    Ref<GPXFilter> harrisCornerDetectionFilter_;
    Ref<GPXThresholdedNonMaximumSuppressionFilter> nonMaximumSuppressionFilter_;
    std::atomic<double> sensitivity_{5.0};
    // On the shared context queue only.
    std::vector<GLubyte> rawImagePixels_;
    std::vector<GLfloat> cornersArray_;

  private:
    mutable std::mutex blockMutex_;
    CornersDetectedBlock cornersDetectedBlock_;
};

// (x y - z^2) / (x + y).
class GPXNobleCornerDetectionFilter : public GPXHarrisCornerDetectionFilter {
  public:
    GPXNobleCornerDetectionFilter();
    std::string className() const override { return "GPXNobleCornerDetectionFilter"; }
};

// The smaller eigenvalue (times two): x + y - sqrt((x - y)^2 + 4 z^2). Sensitivity 1.5.
class GPXShiTomasiFeatureDetectionFilter : public GPXHarrisCornerDetectionFilter {
  public:
    GPXShiTomasiFeatureDetectionFilter();
    void didInit();
    std::string className() const override { return "GPXShiTomasiFeatureDetectionFilter"; }
};

// Each output pixel holds the reds of a 2x2 input block as (r, g, b, a); half the input size.
class GPXColorPackingFilter : public GPXFilter {
  public:
    GPXColorPackingFilter();
    void didInit() override;
    void setupFilterForSize(CGSize filterFrameSize) override;
    CGSize outputFrameSize() override;
    CGSize sizeOfFBO() override;
    std::string className() const override { return "GPXColorPackingFilter"; }

  private:
    GLint texelWidthUniform_ = -1, texelHeightUniform_ = -1;
};

// The 8-bit pattern of which neighbours are at least the centre, as a grey byte.
class GPXLocalBinaryPatternFilter : public GPX3x3TextureSamplingFilter {
  public:
    GPXLocalBinaryPatternFilter();
    std::string className() const override { return "GPXLocalBinaryPatternFilter"; }
};

// An empty group: no detector variant is built, so nothing passes through it.
class GPXFASTCornerDetectionFilter : public GPXFilterGroup {
  public:
    GPXFASTCornerDetectionFilter() : GPXFASTCornerDetectionFilter(1) {}
    explicit GPXFASTCornerDetectionFilter(unsigned) {}
    std::string className() const override { return "GPXFASTCornerDetectionFilter"; }
};
