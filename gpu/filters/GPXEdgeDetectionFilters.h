#pragma once
// Edge maps from a picture's luminance: the Sobel family (a luminance pass, then a 3x3 gradient
// pass), the neighbourhood stages the detectors are built from (gradient with its quantised
// direction, suppression of non-maxima along it, weak-pixel inclusion, plain and thresholded
// local maxima) and the Canny detector chaining five of them. Shaders only: nothing is read back.
//
// In every 3x3 stage "top" is one texel towards smaller t and only the red channel is read.

#include <atomic>

#include "gpu/core/GPX3x3TextureSamplingFilter.h"
#include "gpu/core/GPXFilterGroup.h"
#include "gpu/core/GPXTwoPassFilter.h"
#include "gpu/filters/GPXBlurFilters.h"
#include "gpu/filters/GPXColorAdjustmentFilters.h"

// length(h, v) x edgeStrength with Sobel weights, as grey. The texel steps follow the render size
// until one is set, after which both stay.
class GPXSobelEdgeDetectionFilter : public GPXTwoPassFilter {
  public:
    GPXSobelEdgeDetectionFilter();
    // The second pass's fragment text; the first pass is always the luminance.
    explicit GPXSobelEdgeDetectionFilter(std::string fragmentShaderString);
    void didInit() override;

    void setupFilterForSize(CGSize filterFrameSize) override;
    void setTexelWidth(double newValue);
    void setTexelHeight(double newValue);
    double texelWidth();
    double texelHeight();
    bool hasOverriddenImageSizeFactor();
    void setEdgeStrength(double newValue);
    double edgeStrength() const;

    bool wantsMonochromeInput() override { return false; }
    bool providesMonochromeOutput() override { return false; }
    std::string className() const override { return "GPXSobelEdgeDetectionFilter"; }

  protected:
    // Touched on the shared context queue only.
    GLint texelWidthUniform_ = -1, texelHeightUniform_ = -1;
    double texelWidth_ = 0, texelHeight_ = 0;
    bool hasOverriddenImageSizeFactor_ = false;
    GLint edgeStrengthUniform_ = -1;
    std::atomic<double> edgeStrength_{1.0};
};

// Every weight 1.
class GPXPrewittEdgeDetectionFilter : public GPXSobelEdgeDetectionFilter {
  public:
    GPXPrewittEdgeDetectionFilter();
    std::string className() const override { return "GPXPrewittEdgeDetectionFilter"; }
};

// 1 - the Sobel magnitude: dark lines on white.
class GPXSketchFilter : public GPXSobelEdgeDetectionFilter {
  public:
    GPXSketchFilter();
    std::string className() const override { return "GPXSketchFilter"; }
};

// 1 where the centred difference magnitude reaches the threshold (default 0.25), else 0.
class GPXThresholdEdgeDetectionFilter : public GPXSobelEdgeDetectionFilter {
  public:
    GPXThresholdEdgeDetectionFilter();
    explicit GPXThresholdEdgeDetectionFilter(std::string fragmentShaderString);
    void didInit() override;
    void setThreshold(double newValue);
    double threshold() const;
    std::string className() const override { return "GPXThresholdEdgeDetectionFilter"; }

  private:
    GLint thresholdUniform_ = -1;
    std::atomic<double> threshold_{0.25};
};

// 1 - step(threshold, Sobel magnitude).
class GPXThresholdSketchFilter : public GPXThresholdEdgeDetectionFilter {
  public:
    GPXThresholdSketchFilter();
    std::string className() const override { return "GPXThresholdSketchFilter"; }
};

// (magnitude, direction x and y quantised to the eight compass steps and mapped to 0-1, 1). A flat
// neighbourhood has no direction: it gets (0, 0.5, 0.5, 1).
class GPXDirectionalSobelEdgeDetectionFilter : public GPX3x3TextureSamplingFilter {
  public:
    GPXDirectionalSobelEdgeDetectionFilter();
    std::string className() const override { return "GPXDirectionalSobelEdgeDetectionFilter"; }
};

// Keeps a magnitude that is a maximum along its quantised direction, weighted by the smooth band
// between the two thresholds (defaults 0.5 and 0.1).
class GPXDirectionalNonMaximumSuppressionFilter : public GPXFilter {
  public:
    GPXDirectionalNonMaximumSuppressionFilter();
    void didInit() override;
    void setupFilterForSize(CGSize filterFrameSize) override;
    void setTexelWidth(double newValue);
    void setTexelHeight(double newValue);
    double texelWidth();
    double texelHeight();
    void setUpperThreshold(double newValue);
    double upperThreshold() const;
    void setLowerThreshold(double newValue);
    double lowerThreshold() const;
    std::string className() const override { return "GPXDirectionalNonMaximumSuppressionFilter"; }

  private:
    GLint texelWidthUniform_ = -1, texelHeightUniform_ = -1, upperThresholdUniform_ = -1,
          lowerThresholdUniform_ = -1;
    double texelWidth_ = 0, texelHeight_ = 0;  // on the queue
    bool hasOverriddenImageSizeFactor_ = false;
    std::atomic<double> upperThreshold_{0.5}, lowerThreshold_{0.1};
};

// White where the pixel is lit and its 3x3 neighbourhood sums to at least 1.5.
class GPXWeakPixelInclusionFilter : public GPX3x3TextureSamplingFilter {
  public:
    GPXWeakPixelInclusionFilter();
    std::string className() const override { return "GPXWeakPixelInclusionFilter"; }
};

// The pixel's colour where it is strictly above its top, top-left, left and bottom-left neighbours
// and not below the other four; black elsewhere (of a plateau only the top-left pixel stays).
class GPXNonMaximumSuppressionFilter : public GPX3x3TextureSamplingFilter {
  public:
    GPXNonMaximumSuppressionFilter();
    std::string className() const override { return "GPXNonMaximumSuppressionFilter"; }
};

// White where the pixel is such a local maximum and reaches the threshold (default 0.9). The
// packed variant reads a value spread over the channels (b x 65536 + g x 256 + r) and compares
// over 5x5.
class GPXThresholdedNonMaximumSuppressionFilter : public GPX3x3TextureSamplingFilter {
  public:
    GPXThresholdedNonMaximumSuppressionFilter();
    explicit GPXThresholdedNonMaximumSuppressionFilter(bool packedColorspace);
    void didInit() override;
    void setThreshold(double newValue);
    double threshold() const;
    std::string className() const override { return "GPXThresholdedNonMaximumSuppressionFilter"; }

  private:
    GLint thresholdUniform_ = -1;
    std::atomic<double> threshold_{0.9};
};

// Grey, single-component blur, directional Sobel, directional suppression, weak-pixel inclusion:
// white on edges.
class GPXCannyEdgeDetectionFilter : public GPXFilterGroup {
  public:
    void didInit();
    void setBlurRadiusInPixels(double newValue);
    double blurRadiusInPixels() const;
    void setBlurTexelSpacingMultiplier(double newValue);
    double blurTexelSpacingMultiplier() const;
    void setTexelWidth(double newValue);
    void setTexelHeight(double newValue);
    double texelWidth();
    double texelHeight();
    void setUpperThreshold(double newValue);
    double upperThreshold() const;
    void setLowerThreshold(double newValue);
    double lowerThreshold() const;
    std::string className() const override { return "GPXCannyEdgeDetectionFilter"; }

    Ref<GPXGrayscaleFilter> luminanceFilter() const { return luminanceFilter_; }
    Ref<GPXSingleComponentGaussianBlurFilter> blurFilter() const { return blurFilter_; }
    Ref<GPXDirectionalSobelEdgeDetectionFilter> edgeDetectionFilter() const { return edgeDetectionFilter_; }
    Ref<GPXDirectionalNonMaximumSuppressionFilter> nonMaximumSuppressionFilter() const {
        return nonMaximumSuppressionFilter_;
    }
    Ref<GPXWeakPixelInclusionFilter> weakPixelInclusionFilter() const { return weakPixelInclusionFilter_; }

  private:
    Ref<GPXGrayscaleFilter> luminanceFilter_;
    Ref<GPXSingleComponentGaussianBlurFilter> blurFilter_;
    Ref<GPXDirectionalSobelEdgeDetectionFilter> edgeDetectionFilter_;
    Ref<GPXDirectionalNonMaximumSuppressionFilter> nonMaximumSuppressionFilter_;
    Ref<GPXWeakPixelInclusionFilter> weakPixelInclusionFilter_;
};
