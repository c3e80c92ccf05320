#pragma once
// The separable blurs: a vertical pass, then a horizontal one, both running one generated shader
// pair that differs only in its texel offsets.
//
// The Gaussian blur's GLSL is generated for each radius: the weights are computed on the CPU and
// written into the shader as literals, and each pair of neighbouring taps is merged into one
// bilinear read at the point where the read returns their weighted mean. Up to seven pairs ride
// in varyings; further pairs are read at coordinates computed in the fragment shader. A program
// made for a radius stays in the context's cache, so a radius used before is not recompiled.
//
// `blurRadiusInPixels` is the Gaussian's sigma (rounded to a whole pixel); the sample radius is
// where the density falls to 1/256, raised to an even number. A radius given as a fraction of the
// picture's width or height is turned into pixels once, at the next size set-up. Extra passes
// (`blurPasses` above 1) blur the previous result again.
//
// The box blur (equal weights; its radius is the box's, an even number of pixels) and the
// single-component blur (the red channel only, written as grey) reuse the machinery with their
// own generators.

#include <string>

#include "gpu/core/GPXTwoPassTextureSamplingFilter.h"

class GPXGaussianBlurFilter : public GPXTwoPassTextureSamplingFilter {
  public:
    GPXGaussianBlurFilter();
    GPXGaussianBlurFilter(std::string firstStageVertexShaderString,
                          std::string firstStageFragmentShaderString,
                          std::string secondStageVertexShaderString,
                          std::string secondStageFragmentShaderString);
    void didInit() override;

    // The generators. A radius of 0 gives the pass-through shaders. For an odd radius the weight
    // beyond the last tap is taken as 0, so the kernel still sums to 1.
    static std::string vertexShaderForOptimizedBlurOfRadius(unsigned blurRadius, double sigma);
    static std::string fragmentShaderForOptimizedBlurOfRadius(unsigned blurRadius, double sigma);
    static std::string vertexShaderForStandardBlurOfRadius(unsigned blurRadius, double sigma);
    static std::string fragmentShaderForStandardBlurOfRadius(unsigned blurRadius, double sigma);
    // The sample radius for a sigma: where the density falls to 1/256, raised to an even number;
    // 0 below a sigma of 1.
    static unsigned sampleRadiusForSigma(double sigma);
    // The normalised weights w(0)..w(radius) of the symmetric kernel.
    static std::vector<float> gaussianWeights(unsigned blurRadius, double sigma);

    virtual void setBlurRadiusInPixels(double newValue);
    double blurRadiusInPixels() const;
    void setBlurRadiusAsFractionOfImageWidth(double newValue);
    double blurRadiusAsFractionOfImageWidth() const;
    void setBlurRadiusAsFractionOfImageHeight(double newValue);
    double blurRadiusAsFractionOfImageHeight() const;
    void setTexelSpacingMultiplier(double newValue);
    double texelSpacingMultiplier() const;
    void setBlurPasses(unsigned newValue);
    unsigned blurPasses() const;

    void setupFilterForSize(CGSize filterFrameSize) override;
    void renderToTextureWithVertices(const GLfloat* vertices, const GLfloat* textureCoordinates) override;
    // Makes the pair the program of both passes (from the cache, linked when new).
    void switchToVertexShader(const std::string& newVertexShader, const std::string& newFragmentShader);

    // The sample radius of the shaders in use.
    unsigned sampleRadius() const;

    std::string className() const override { return "GPXGaussianBlurFilter"; }

  protected:
    // The generators of the object's own class.
    virtual std::string optimizedVertexShader(unsigned blurRadius, double sigma) const;
    virtual std::string optimizedFragmentShader(unsigned blurRadius, double sigma) const;
    void switchToRadius(unsigned sampleRadius, double sigma);

    std::atomic<bool> shouldResizeBlurRadiusWithImageSize_{false};
    std::atomic<double> blurRadiusInPixels_{2.0};
    std::atomic<double> texelSpacingMultiplier_{1.0};
    std::atomic<double> blurRadiusAsFractionOfImageWidth_{0.0};
    std::atomic<double> blurRadiusAsFractionOfImageHeight_{0.0};
    std::atomic<unsigned> blurPasses_{0};
    std::atomic<unsigned> sampleRadius_{4};
};

// Equal weights over a box of the given radius (default 4).
class GPXBoxBlurFilter : public GPXGaussianBlurFilter {
  public:
    GPXBoxBlurFilter();
    void didInit() override;
    static std::string vertexShaderForOptimizedBlurOfRadius(unsigned blurRadius, double sigma);
    static std::string fragmentShaderForOptimizedBlurOfRadius(unsigned blurRadius, double sigma);
    // Rounded to the nearest even number of pixels.
    void setBlurRadiusInPixels(double newValue) override;
    std::string className() const override { return "GPXBoxBlurFilter"; }

  protected:
    std::string optimizedVertexShader(unsigned blurRadius, double sigma) const override;
    std::string optimizedFragmentShader(unsigned blurRadius, double sigma) const override;
};

// The Gaussian of the red channel, written as an opaque grey.
class GPXSingleComponentGaussianBlurFilter : public GPXGaussianBlurFilter {
  public:
    GPXSingleComponentGaussianBlurFilter();
    static std::string vertexShaderForOptimizedBlurOfRadius(unsigned blurRadius, double sigma);
    static std::string fragmentShaderForOptimizedBlurOfRadius(unsigned blurRadius, double sigma);
    std::string className() const override { return "GPXSingleComponentGaussianBlurFilter"; }

  protected:
    std::string optimizedVertexShader(unsigned blurRadius, double sigma) const override;
    std::string optimizedFragmentShader(unsigned blurRadius, double sigma) const override;
};
