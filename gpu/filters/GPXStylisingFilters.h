#pragma once
// Single-pass artistic filters: block pixellation (plain, inside a circle, polar), polka dots,
// halftone, crosshatch, and the toon outline with its smoothed group. Block sizes are fractions
// of the picture's width, never below one input pixel; the blocks stay square through an aspect
// ratio that follows the input size and rotation.

#include <atomic>

#include "gpu/core/GPX3x3TextureSamplingFilter.h"
#include "gpu/core/GPXFilterGroup.h"
#include "gpu/filters/GPXBlurFilters.h"
#include "gpu/filters/GPXDistortionFilters.h"

// Blocks f wide (default 0.05), each the colour at its centre.
class GPXPixellateFilter : public GPXCenteredDistortionFilter {
  public:
    GPXPixellateFilter();
    GPXPixellateFilter(std::string fragmentShaderString, const char* centerUniformName);
    void didInit() override;
    // Raised to one input pixel (1/2048 while no input size is known).
    void setFractionalWidthOfAPixel(double newValue);
    double fractionalWidthOfAPixel() const { return fractionalWidthOfAPixel_.load(); }
    std::string className() const override { return "GPXPixellateFilter"; }

  private:
    GLint fractionalWidthOfAPixelUniform_ = -1;
    std::atomic<double> fractionalWidthOfAPixel_{0.05};
};

// Pixellates only within the radius of the centre (defaults 0.25, (0.5, 0.5)).
class GPXPixellatePositionFilter : public GPXPixellateFilter {
  public:
    GPXPixellatePositionFilter();
    void didInit() override;
    void setRadius(double newValue);
    double radius() const;
    std::string className() const override { return "GPXPixellatePositionFilter"; }

  private:
    GLint radiusUniform_ = -1;
    std::atomic<double> radius_{0.25};
};

// Blocks in polar coordinates about the centre: pixelSize is (radius step, angle step).
class GPXPolarPixellateFilter : public GPXCenteredDistortionFilter {
  public:
    GPXPolarPixellateFilter();
    void didInit() override;
    void setPixelSize(CGSize newValue);
    CGSize pixelSize() const;
    std::string className() const override { return "GPXPolarPixellateFilter"; }

  private:
    GLint pixelSizeUniform_ = -1;
    mutable std::mutex mutex_;
    CGSize pixelSize_ = CGSizeMake(0.05, 0.05);
};

// A round dot of the block's colour per block, dotScaling (default 0.9) of its width, on black.
class GPXPolkaDotFilter : public GPXPixellateFilter {
  public:
    GPXPolkaDotFilter();
    void didInit() override;
    void setDotScaling(double newValue);
    double dotScaling() const;
    std::string className() const override { return "GPXPolkaDotFilter"; }

  private:
    GLint dotScalingUniform_ = -1;
    std::atomic<double> dotScaling_{0.9};
};

// Black dots on white, larger where the block is darker; blocks 0.01 wide by default.
class GPXHalftoneFilter : public GPXPixellateFilter {
  public:
    GPXHalftoneFilter();
    void didInit() override;
    std::string className() const override { return "GPXHalftoneFilter"; }
};

// Up to four families of diagonal black lines, more where darker (spacing 0.03, width 0.003).
class GPXCrosshatchFilter : public GPXFilter {
  public:
    GPXCrosshatchFilter();
    void didInit() override;
    // Raised to one input pixel, as the pixellate width.
    void setCrossHatchSpacing(double newValue);
    double crossHatchSpacing() const { return crossHatchSpacing_.load(); }
    void setLineWidth(double newValue);
    double lineWidth() const;
    std::string className() const override { return "GPXCrosshatchFilter"; }

  private:
    GLint crossHatchSpacingUniform_ = -1, lineWidthUniform_ = -1;
    std::atomic<double> crossHatchSpacing_{0.03}, lineWidth_{0.003};
};

// Posterised colour (quantizationLevels, default 10), black where the Sobel magnitude of the red
// values reaches the threshold (default 0.2).
class GPXToonFilter : public GPX3x3TextureSamplingFilter {
  public:
    GPXToonFilter();
    void didInit() override;
    void setThreshold(double newValue);
    double threshold() const;
    void setQuantizationLevels(double newValue);
    double quantizationLevels() const;
    std::string className() const override { return "GPXToonFilter"; }

  private:
    GLint thresholdUniform_ = -1, quantizationLevelsUniform_ = -1;
    std::atomic<double> threshold_{0.2}, quantizationLevels_{10.0};
};

// A Gaussian blur (radius 2) before the toon filter, which softens the outlines of noise.
class GPXSmoothToonFilter : public GPXFilterGroup {
  public:
    void didInit();
    void setBlurRadiusInPixels(double newValue);
    double blurRadiusInPixels() const;
    void setTexelWidth(double newValue);
    double texelWidth();
    void setTexelHeight(double newValue);
    double texelHeight();
    void setThreshold(double newValue);
    double threshold() const;
    void setQuantizationLevels(double newValue);
    double quantizationLevels() const;
    std::string className() const override { return "GPXSmoothToonFilter"; }

    Ref<GPXGaussianBlurFilter> blurFilter() const { return blurFilter_; }
    Ref<GPXToonFilter> toonFilter() const { return toonFilter_; }

  private:
    Ref<GPXGaussianBlurFilter> blurFilter_;
    Ref<GPXToonFilter> toonFilter_;
};

// A painting look: each texel takes the mean colour of whichever of its four (r + 1)^2 quadrants
// varies least (radius default 3). Samples step by a fixed (1/768, 1/1024) whatever the size.
class GPXKuwaharaFilter : public GPXFilter {
  public:
    GPXKuwaharaFilter();
    void didInit() override;
    void setRadius(unsigned newValue);
    unsigned radius() const { return radius_.load(); }
    std::string className() const override { return "GPXKuwaharaFilter"; }

  private:
    GLint radiusUniform_ = -1;
    std::atomic<unsigned> radius_{3};
};

// The radius-3 case written out, its quadrants tried in its own order.
class GPXKuwaharaRadius3Filter : public GPXFilter {
  public:
    GPXKuwaharaRadius3Filter();
    std::string className() const override { return "GPXKuwaharaRadius3Filter"; }
};

// Gradient noise from colorStart to colorFinish (defaults black and white) at `scale` (8); the
// input only gives the size.
class GPXPerlinNoiseFilter : public GPXFilter {
  public:
    GPXPerlinNoiseFilter();
    void didInit() override;
    void setScale(double newValue);
    double scale() const;
    void setColorStart(GPUVector4 newValue);
    GPUVector4 colorStart() const;
    void setColorFinish(GPUVector4 newValue);
    GPUVector4 colorFinish() const;
    std::string className() const override { return "GPXPerlinNoiseFilter"; }

  private:
    GLint scaleUniform_ = -1, colorStartUniform_ = -1, colorFinishUniform_ = -1;
    std::atomic<double> scale_{8.0};
    mutable std::mutex mutex_;
    GPUVector4 colorStart_{0, 0, 0, 1}, colorFinish_{1, 1, 1, 1};
};
