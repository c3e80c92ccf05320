#pragma once
// Neighbourhood filters: a general 3x3 convolution with two fixed-kernel subclasses (emboss,
// Laplacian), a four-neighbour sharpen, a 3x3 median, an edge-preserving bilateral blur on the
// Gaussian blur's two-pass machinery, and three composites: the unsharp mask and the temporal
// low-pass and high-pass filters (a moving average over frames, and what moves against it).

#include <atomic>
#include <mutex>

#include "gpu/core/GPX3x3TextureSamplingFilter.h"
#include "gpu/core/GPXBuffer.h"
#include "gpu/core/GPXFilterGroup.h"
#include "gpu/filters/GPXBlendFilters.h"
#include "gpu/filters/GPXBlurFilters.h"

// The sum of the nine neighbours weighted by the kernel (row one weights the top row); the
// centre's alpha. Default kernel: the identity.
class GPX3x3ConvolutionFilter : public GPX3x3TextureSamplingFilter {
  public:
    GPX3x3ConvolutionFilter();
    explicit GPX3x3ConvolutionFilter(std::string fragmentShaderString);
    void didInit() override;
    void setConvolutionKernel(GPUMatrix3x3 newValue);
    GPUMatrix3x3 convolutionKernel() const;
    std::string className() const override { return "GPX3x3ConvolutionFilter"; }

  private:
    GLint convolutionMatrixUniform_ = -1;
    mutable std::mutex kernelMutex_;
    GPUMatrix3x3 convolutionKernel_{{0, 0, 0}, {0, 1, 0}, {0, 0, 0}};
};

// Kernel (-2i, -i, 0), (-i, 1, i), (0, i, 2i) for intensity i (default 1).
class GPXEmbossFilter : public GPX3x3ConvolutionFilter {
  public:
    GPXEmbossFilter() = default;
    void didInit() override;
    void setIntensity(double newValue);
    double intensity() const;
    std::string className() const override { return "GPXEmbossFilter"; }

  private:
    std::atomic<double> intensity_{1.0};
};

// The Laplacian kernel, plus one half so that a flat area is mid-grey.
class GPXLaplacianFilter : public GPX3x3ConvolutionFilter {
  public:
    GPXLaplacianFilter();
    void didInit() override;
    std::string className() const override { return "GPXLaplacianFilter"; }
};

// centre (1 + 4s) minus the four neighbours times s; alpha from the neighbour below. Default 0.
// The steps follow the render size (swapped for a quarter-turned input) and are replayed before
// each draw, as the other neighbourhood filters' are.
class GPXSharpenFilter : public GPXFilter {
  public:
    GPXSharpenFilter();
    void didInit() override;
    void setSharpness(double newValue);
    double sharpness() const;
    void setupFilterForSize(CGSize filterFrameSize) override;
    std::string className() const override { return "GPXSharpenFilter"; }

  private:
    GLint sharpnessUniform_ = -1, imageWidthFactorUniform_ = -1, imageHeightFactorUniform_ = -1;
    std::atomic<double> sharpness_{0.0};
};

// The per-channel median of the 3x3 neighbourhood; alpha 1.
class GPXMedianFilter : public GPX3x3TextureSamplingFilter {
  public:
    GPXMedianFilter();
    void didInit() override;
    std::string className() const override { return "GPXMedianFilter"; }
};

// A 9-tap blur whose taps lose weight with their colour distance from the centre, so that edges
// stay. Taps are four texels apart; a larger factor preserves edges more (default 8). The shaders
// are fixed: a blur radius set on it is ignored.
class GPXBilateralFilter : public GPXGaussianBlurFilter {
  public:
    GPXBilateralFilter();
    void didInit() override;
    void setDistanceNormalizationFactor(double newValue);
    double distanceNormalizationFactor() const;
    void setBlurRadiusInPixels(double) override {}
    std::string className() const override { return "GPXBilateralFilter"; }

  private:
    GLint firstDistanceNormalizationFactorUniform_ = -1, secondDistanceNormalizationFactorUniform_ = -1;
    std::atomic<double> distanceNormalizationFactor_{8.0};
};

// sharp x intensity + blurred x (1 - intensity): intensities above 1 sharpen.
class GPXUnsharpMaskFilter : public GPXFilterGroup {
  public:
    void didInit();
    void setBlurRadiusInPixels(double newValue);
    double blurRadiusInPixels() const;
    void setIntensity(double newValue);
    double intensity() const;
    std::string className() const override { return "GPXUnsharpMaskFilter"; }

  private:
    Ref<GPXGaussianBlurFilter> blurFilter_;
    Ref<GPXTwoInputFilter> unsharpMaskFilter_;
    std::atomic<double> intensity_{1.0};
};

// Each output is mix(current input, an earlier output, strength): a moving average over frames.
class GPXLowPassFilter : public GPXFilterGroup {
  public:
    ~GPXLowPassFilter() override;
    void didInit();
    void setFilterStrength(double newValue);
    double filterStrength() const;
    void addTargetAtTextureLocation(const Ref<GPXInput>& newTarget, long textureLocation) override;
    std::string className() const override { return "GPXLowPassFilter"; }

  private:
    Ref<GPXDissolveBlendFilter> dissolveBlendFilter_;
    Ref<GPXBuffer> bufferFilter_;
};

// abs(low-pass result - current input): what moves lights up.
class GPXHighPassFilter : public GPXFilterGroup {
  public:
    void didInit();
    void setFilterStrength(double newValue);
    double filterStrength() const;
    std::string className() const override { return "GPXHighPassFilter"; }

  private:
    Ref<GPXLowPassFilter> lowPassFilter_;
    Ref<GPXDifferenceBlendFilter> differenceBlendFilter_;
};
