#pragma once
// Blends: two-input filters that combine the first input (the base, b) with the second (the
// overlay, o) pixel by pixel, each with one fixed fragment shader. The two-input base supplies the
// second texture, its coordinates and rotation, and renders once both inputs have delivered.
// Divisions by a zero overlay (colour burn, divide, colour dodge) give whatever the GPU yields.
//
// The Poisson blend repeats its pass `numIterations` times, each pass reading the previous
// result; the inputs stay locked until the frame's last pass and are given back once.

#include <atomic>

#include "gpu/core/GPXTwoInputCrossTextureSamplingFilter.h"
#include "gpu/core/GPXTwoInputFilter.h"

// A blend with one fixed shader and no parameters.
#define GPX_DECLARE_PLAIN_BLEND(Class)                                                                       \
    class Class : public GPXTwoInputFilter {                                                                 \
      public:                                                                                                \
        Class();                                                                                             \
        std::string className() const override { return #Class; }                                            \
    };

// A blend with a "mixturePercent" uniform behind its `mix` property.
#define GPX_DECLARE_MIX_BLEND(Class, defaultMix)                                                             \
    class Class : public GPXTwoInputFilter {                                                                 \
      public:                                                                                                \
        Class();                                                                                             \
        void didInit() override;                                                                             \
        void setMix(double newValue);                                                                        \
        double mix() const;                                                                                  \
        std::string className() const override { return #Class; }                                            \
                                                                                                             \
      private:                                                                                               \
        GLint mixUniform_ = -1;                                                                              \
        std::atomic<double> mix_{defaultMix};                                                                \
    };

// mix(b, o, mix), all four channels. Default 0.5.
GPX_DECLARE_MIX_BLEND(GPXDissolveBlendFilter, 0.5)
// rgb mix(b, o, o.a * mix), alpha b.a. Default 0.5.
GPX_DECLARE_MIX_BLEND(GPXAlphaBlendFilter, 0.5)
// mix(b, o, o.a).
GPX_DECLARE_PLAIN_BLEND(GPXSourceOverBlendFilter)
// The overlay composited over the base with both alphas.
GPX_DECLARE_PLAIN_BLEND(GPXNormalBlendFilter)
GPX_DECLARE_PLAIN_BLEND(GPXMultiplyBlendFilter)
GPX_DECLARE_PLAIN_BLEND(GPXScreenBlendFilter)
GPX_DECLARE_PLAIN_BLEND(GPXDarkenBlendFilter)
GPX_DECLARE_PLAIN_BLEND(GPXLightenBlendFilter)
GPX_DECLARE_PLAIN_BLEND(GPXDifferenceBlendFilter)
GPX_DECLARE_PLAIN_BLEND(GPXSubtractBlendFilter)
GPX_DECLARE_PLAIN_BLEND(GPXExclusionBlendFilter)
GPX_DECLARE_PLAIN_BLEND(GPXLinearBurnBlendFilter)
GPX_DECLARE_PLAIN_BLEND(GPXColorBurnBlendFilter)
GPX_DECLARE_PLAIN_BLEND(GPXColorDodgeBlendFilter)
GPX_DECLARE_PLAIN_BLEND(GPXOverlayBlendFilter)
GPX_DECLARE_PLAIN_BLEND(GPXHardLightBlendFilter)
GPX_DECLARE_PLAIN_BLEND(GPXSoftLightBlendFilter)
GPX_DECLARE_PLAIN_BLEND(GPXAddBlendFilter)
GPX_DECLARE_PLAIN_BLEND(GPXDivideBlendFilter)
// The non-separable blends, on lum = dot(c, (0.3, 0.59, 0.11)) and sat = max - min.
GPX_DECLARE_PLAIN_BLEND(GPXColorBlendFilter)
GPX_DECLARE_PLAIN_BLEND(GPXHueBlendFilter)
GPX_DECLARE_PLAIN_BLEND(GPXSaturationBlendFilter)
GPX_DECLARE_PLAIN_BLEND(GPXLuminosityBlendFilter)

#undef GPX_DECLARE_PLAIN_BLEND
#undef GPX_DECLARE_MIX_BLEND

// The base with the overlay's mean grey (times its alpha) as alpha, composited over the output's
// clear colour.
class GPXMaskFilter : public GPXTwoInputFilter {
  public:
    GPXMaskFilter();
    void renderToTextureWithVertices(const GLfloat* vertices, const GLfloat* textureCoordinates) override;
    std::string className() const override { return "GPXMaskFilter"; }
};

// Base pixels close to the key colour (by chroma distance) are replaced by the overlay.
class GPXChromaKeyBlendFilter : public GPXTwoInputFilter {
  public:
    GPXChromaKeyBlendFilter();
    void didInit() override;
    void setThresholdSensitivity(double newValue);
    double thresholdSensitivity() const;
    void setSmoothing(double newValue);
    double smoothing() const;
    void setColorToReplaceRed(GLfloat redComponent, GLfloat greenComponent, GLfloat blueComponent);
    std::string className() const override { return "GPXChromaKeyBlendFilter"; }

  private:
    GLint thresholdSensitivityUniform_ = -1, smoothingUniform_ = -1, colorToReplaceUniform_ = -1;
    std::atomic<double> thresholdSensitivity_{0.4}, smoothing_{0.1};
};

// Seamless cloning: inside the overlay's alpha the base's local mean plus the overlay's
// Laplacian, mixed in by `mix`; repeated `numIterations` times (default 10).
class GPXPoissonBlendFilter : public GPXTwoInputCrossTextureSamplingFilter {
  public:
    GPXPoissonBlendFilter();
    void didInit() override;
    void setMix(double newValue);
    double mix() const;
    void setNumIterations(unsigned newValue);
    unsigned numIterations() const;
    void renderToTextureWithVertices(const GLfloat* vertices, const GLfloat* textureCoordinates) override;
    std::string className() const override { return "GPXPoissonBlendFilter"; }

  protected:
    void unlockInputs() override;

  private:
    GLint mixUniform_ = -1;
    std::atomic<double> mix_{0.5};
    std::atomic<unsigned> numIterations_{10};
    // On the queue: the passes' second target, and whether the inputs are held for later passes.
    Ref<GPXFramebuffer> secondOutputFramebuffer_;
    bool holdInputs_ = false;
};
