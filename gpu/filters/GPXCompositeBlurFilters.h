#pragma once
// Blurs built on the Gaussian blur or on fixed taps: sharp inside a circle and blurred around it
// (selective blur), sharp in a horizontal band (tilt shift), blurred only inside a circle (blur
// position), colour filters around a downsampled blur (the frosted blur), and smears along a
// direction (motion blur) or towards a point (zoom blur). Positions are normalised texture
// coordinates (0-1, origin at the top-left of the texture as sampled). No value is clamped.

#include <atomic>
#include <mutex>

#include "gpu/core/GPXFilterGroup.h"
#include "gpu/core/GPXTwoInputFilter.h"
#include "gpu/filters/GPXBlurFilters.h"
#include "gpu/filters/GPXColorAdjustmentFilters.h"

// The circle stays sharp and blends into the blur over `excludeBlurSize`.
class GPXGaussianSelectiveBlurFilter : public GPXFilterGroup {
  public:
    void didInit();
    void setExcludeCircleRadius(double newValue);
    double excludeCircleRadius() const;
    void setExcludeCirclePoint(CGPoint newValue);
    CGPoint excludeCirclePoint() const;
    void setExcludeBlurSize(double newValue);
    double excludeBlurSize() const;
    void setBlurRadiusInPixels(double newValue);
    double blurRadiusInPixels() const;
    // Set by hand, it stays through later input sizes; otherwise width / height of the input.
    void setAspectRatio(double newValue);
    double aspectRatio() const;
    void setInputSize(CGSize newSize, long textureIndex) override;
    std::string className() const override { return "GPXGaussianSelectiveBlurFilter"; }

  private:
    Ref<GPXGaussianBlurFilter> blurFilter_;
    Ref<GPXTwoInputFilter> selectiveFocusFilter_;
    mutable std::mutex mutex_;  // guards the fields below
    bool hasOverriddenAspectRatio_ = false;
    double excludeCircleRadius_ = 0, excludeBlurSize_ = 0, aspectRatio_ = 0;
    CGPoint excludeCirclePoint_ = CGPointZero;
    CGSize inputSize_ = CGSizeZero;
};

// Sharp between the two focus levels, blurred above and below, with a fall-off.
class GPXTiltShiftFilter : public GPXFilterGroup {
  public:
    void didInit();
    void setTopFocusLevel(double newValue);
    double topFocusLevel() const;
    void setBottomFocusLevel(double newValue);
    double bottomFocusLevel() const;
    void setFocusFallOffRate(double newValue);
    double focusFallOffRate() const;
    void setBlurRadiusInPixels(double newValue);
    double blurRadiusInPixels() const;
    std::string className() const override { return "GPXTiltShiftFilter"; }

  private:
    Ref<GPXGaussianBlurFilter> blurFilter_;
    Ref<GPXTwoInputFilter> tiltShiftFilter_;
    std::atomic<double> topFocusLevel_{0.4}, bottomFocusLevel_{0.6}, focusFallOffRate_{0.2};
};

// A 9-tap blur inside a circle; outside it the picture is unchanged.
class GPXGaussianBlurPositionFilter : public GPXTwoPassTextureSamplingFilter {
  public:
    GPXGaussianBlurPositionFilter();
    // A subclass's own shader pair; empty texts fall back to this filter's.
    GPXGaussianBlurPositionFilter(std::string vertexShaderString, std::string fragmentShaderString);
    void didInit() override;
    void setBlurSize(double newValue);
    double blurSize() const;
    void setBlurCenter(CGPoint newValue);
    CGPoint blurCenter() const;
    void setBlurRadius(double newValue);
    double blurRadius() const;
    double aspectRatio() const;
    void adjustAspectRatio();

    void forceProcessingAtSize(CGSize frameSize) override;
    void setInputSize(CGSize newSize, long textureIndex) override;
    void setInputRotation(GPURotationMode newInputRotation, long textureIndex) override;
    std::string className() const override { return "GPXGaussianBlurPositionFilter"; }

  private:
    GLint blurCenterUniform_ = -1, blurRadiusUniform_ = -1, aspectRatioUniform_ = -1;
    std::atomic<double> blurSize_{1.0}, blurRadius_{1.0}, aspectRatio_{1.0};
    mutable std::mutex centerMutex_;
    CGPoint blurCenter_ = CGPointMake(0.5, 0.5);
};

// Saturation, a blur at a fraction of the size, and a luminance range scaled back up: a frosted
// look.
class GPXiOSBlurFilter : public GPXFilterGroup {
  public:
    void didInit();
    void setBlurRadiusInPixels(double newValue);
    double blurRadiusInPixels() const;
    void setSaturation(double newValue);
    double saturation() const;
    void setRangeReductionFactor(double newValue);
    double rangeReductionFactor() const;
    // Takes effect at the next input size.
    void setDownsampling(double newValue);
    double downsampling() const;
    void setInputSize(CGSize newSize, long textureIndex) override;
    std::string className() const override { return "GPXiOSBlurFilter"; }

  private:
    Ref<GPXSaturationFilter> saturationFilter_;
    Ref<GPXGaussianBlurFilter> blurFilter_;
    Ref<GPXLuminanceRangeFilter> luminanceRangeFilter_;
    std::atomic<double> downsampling_{4.0};
};

// Nine taps along a direction (degrees) at multiples of the blur size.
class GPXMotionBlurFilter : public GPXFilter {
  public:
    GPXMotionBlurFilter();
    void didInit() override;
    void setBlurSize(double newValue);
    double blurSize() const;
    void setBlurAngle(double newValue);
    double blurAngle() const;
    void recalculateTexelOffsets();
    // The step last sent.
    CGPoint directionalTexelStep() const;
    void setInputSize(CGSize newSize, long textureIndex) override;
    void setInputRotation(GPURotationMode newInputRotation, long textureIndex) override;
    std::string className() const override { return "GPXMotionBlurFilter"; }

  private:
    GLint directionalTexelStepUniform_ = -1;
    std::atomic<double> blurSize_{2.5}, blurAngle_{0.0};
    mutable std::mutex stepMutex_;
    CGPoint directionalTexelStep_ = CGPointZero;
};

// Nine taps towards and away from a centre point, spaced by the distance to it.
class GPXZoomBlurFilter : public GPXFilter {
  public:
    GPXZoomBlurFilter();
    void didInit() override;
    void setBlurSize(double newValue);
    double blurSize() const;
    void setBlurCenter(CGPoint newValue);
    CGPoint blurCenter() const;
    void setInputRotation(GPURotationMode newInputRotation, long textureIndex) override;
    std::string className() const override { return "GPXZoomBlurFilter"; }

  private:
    GLint blurSizeUniform_ = -1, blurCenterUniform_ = -1;
    std::atomic<double> blurSize_{1.0};
    mutable std::mutex centerMutex_;
    CGPoint blurCenter_ = CGPointMake(0.5, 0.5);
};
