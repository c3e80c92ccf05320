#pragma once
// Colour adjustments: single-input filters that change each pixel's colour on its own (the CGA
// filter samples a coarse grid), each with a fixed fragment shader and zero to three parameters.
// A parameter is a stored value plus a uniform looked up once; the setter stores the value and
// sends it (applied on the context queue before the next draw). No setter clamps. Unless a filter
// says otherwise the luminance is dot(rgb, (0.2125, 0.7154, 0.0721)) and alpha passes through.
//
// Also here: the adaptive threshold (a small group over the box blur) and the solid-colour
// generator, which fills its output with one colour.

#include <atomic>
#include <mutex>

#include "gpu/core/GPXFilterGroup.h"
#include "gpu/core/GPXTwoInputFilter.h"

// rgb + brightness. Default 0.
class GPXBrightnessFilter : public GPXFilter {
  public:
    GPXBrightnessFilter();
    void didInit() override;
    void setBrightness(double newValue);
    double brightness() const;
    std::string className() const override { return "GPXBrightnessFilter"; }

  private:
    GLint brightnessUniform_ = -1;
    std::atomic<double> brightness_{0.0};
};

// (rgb - 0.5) * contrast + 0.5. Default 1.
class GPXContrastFilter : public GPXFilter {
  public:
    GPXContrastFilter();
    void didInit() override;
    void setContrast(double newValue);
    double contrast() const;
    std::string className() const override { return "GPXContrastFilter"; }

  private:
    GLint contrastUniform_ = -1;
    std::atomic<double> contrast_{1.0};
};

// mix(grey of the pixel's luminance, rgb, saturation). Default 1; 0 gives grey.
class GPXSaturationFilter : public GPXFilter {
  public:
    GPXSaturationFilter();
    void didInit() override;
    void setSaturation(double newValue);
    double saturation() const;
    std::string className() const override { return "GPXSaturationFilter"; }

  private:
    GLint saturationUniform_ = -1;
    std::atomic<double> saturation_{1.0};
};

// pow(rgb, gamma). Default 1.
class GPXGammaFilter : public GPXFilter {
  public:
    GPXGammaFilter();
    void didInit() override;
    void setGamma(double newValue);
    double gamma() const;
    std::string className() const override { return "GPXGammaFilter"; }

  private:
    GLint gammaUniform_ = -1;
    std::atomic<double> gamma_{1.0};
};

// rgb * 2^exposure. Default 0.
class GPXExposureFilter : public GPXFilter {
  public:
    GPXExposureFilter();
    void didInit() override;
    void setExposure(double newValue);
    double exposure() const;
    std::string className() const override { return "GPXExposureFilter"; }

  private:
    GLint exposureUniform_ = -1;
    std::atomic<double> exposure_{0.0};
};

// Each channel times its own factor. Defaults 1.
class GPXRGBFilter : public GPXFilter {
  public:
    GPXRGBFilter();
    void didInit() override;
    void setRed(double newValue);
    double red() const;
    void setGreen(double newValue);
    double green() const;
    void setBlue(double newValue);
    double blue() const;
    std::string className() const override { return "GPXRGBFilter"; }

  private:
    GLint redUniform_ = -1, greenUniform_ = -1, blueUniform_ = -1;
    std::atomic<double> red_{1.0}, green_{1.0}, blue_{1.0};
};

// alpha * opacity. Default 1.
class GPXOpacityFilter : public GPXFilter {
  public:
    GPXOpacityFilter();
    void didInit() override;
    void setOpacity(double newValue);
    double opacity() const;
    std::string className() const override { return "GPXOpacityFilter"; }

  private:
    GLint opacityUniform_ = -1;
    std::atomic<double> opacity_{1.0};
};

// 1 - rgb.
class GPXColorInvertFilter : public GPXFilter {
  public:
    GPXColorInvertFilter();
    std::string className() const override { return "GPXColorInvertFilter"; }
};

// Grey of the pixel's luminance. It skips its pass while told that its input is already grey.
class GPXGrayscaleFilter : public GPXFilter {
  public:
    GPXGrayscaleFilter();
    bool wantsMonochromeInput() override { return false; }
    bool providesMonochromeOutput() override { return false; }
    void renderToTextureWithVertices(const GLfloat* vertices, const GLfloat* textureCoordinates) override;
    std::string className() const override { return "GPXGrayscaleFilter"; }
};

// White where the luminance is at least the threshold, else black. Default 0.5.
class GPXLuminanceThresholdFilter : public GPXFilter {
  public:
    GPXLuminanceThresholdFilter();
    void didInit() override;
    void setThreshold(double newValue);
    double threshold() const;
    std::string className() const override { return "GPXLuminanceThresholdFilter"; }

  private:
    GLint thresholdUniform_ = -1;
    std::atomic<double> threshold_{0.5};
};

// rgb + (0.5 - luminance) * factor: every channel pulled towards mid-grey. Default 0.6.
class GPXLuminanceRangeFilter : public GPXFilter {
  public:
    GPXLuminanceRangeFilter();
    void didInit() override;
    void setRangeReductionFactor(double newValue);
    double rangeReductionFactor() const;
    std::string className() const override { return "GPXLuminanceRangeFilter"; }

  private:
    GLint rangeReductionUniform_ = -1;
    std::atomic<double> rangeReductionFactor_{0.6};
};

// floor(rgba * levels + 0.5) / levels, alpha included. Default 10 levels.
class GPXPosterizeFilter : public GPXFilter {
  public:
    GPXPosterizeFilter();
    void didInit() override;
    void setColorLevels(unsigned newValue);
    unsigned colorLevels() const;
    std::string className() const override { return "GPXPosterizeFilter"; }

  private:
    GLint colorLevelsUniform_ = -1;
    std::atomic<unsigned> colorLevels_{10};
};

// With d = y * slope + distance: (rgba - d) / (1 - d). Defaults 0.2 and 0.
class GPXHazeFilter : public GPXFilter {
  public:
    GPXHazeFilter();
    void didInit() override;
    void setDistance(double newValue);
    double distance() const;
    void setSlope(double newValue);
    double slope() const;
    std::string className() const override { return "GPXHazeFilter"; }

  private:
    GLint distanceUniform_ = -1, slopeUniform_ = -1;
    std::atomic<double> distance_{0.2}, slope_{0.0};
};

// Lightens shadows and darkens highlights. Defaults (0, 1) leave the picture unchanged.
class GPXHighlightShadowFilter : public GPXFilter {
  public:
    GPXHighlightShadowFilter();
    void didInit() override;
    void setShadows(double newValue);
    double shadows() const;
    void setHighlights(double newValue);
    double highlights() const;
    std::string className() const override { return "GPXHighlightShadowFilter"; }

  private:
    GLint shadowsUniform_ = -1, highlightsUniform_ = -1;
    std::atomic<double> shadows_{0.0}, highlights_{1.0};
};

// Turns hues about the grey axis in YIQ space. Set in degrees (kept modulo 360 with the sign of
// the value); the getter answers radians. Default 90 degrees.
class GPXHueFilter : public GPXFilter {
  public:
    GPXHueFilter();
    void didInit() override;
    void setHue(double newHue);
    double hue() const;
    std::string className() const override { return "GPXHueFilter"; }

  private:
    GLint hueAdjustUniform_ = -1;
    std::atomic<double> hue_{0.0};
};

// Warms or cools by a colour temperature in kelvins (5000 is neutral) and shifts the tint.
class GPXWhiteBalanceFilter : public GPXFilter {
  public:
    GPXWhiteBalanceFilter();
    void didInit() override;
    void setTemperature(double newValue);
    double temperature() const;
    void setTint(double newValue);
    double tint() const;
    std::string className() const override { return "GPXWhiteBalanceFilter"; }

  private:
    GLint temperatureUniform_ = -1, tintUniform_ = -1;
    std::atomic<double> temperature_{5000.0}, tint_{0.0};
};

// mix(first, second, luminance): dark pixels take the first colour, bright ones the second.
class GPXFalseColorFilter : public GPXFilter {
  public:
    GPXFalseColorFilter();
    void didInit() override;
    // Store the colour and send its first three components.
    void setFirstColor(GPUVector4 newValue);
    GPUVector4 firstColor() const;
    void setSecondColor(GPUVector4 newValue);
    GPUVector4 secondColor() const;
    // Send without touching the stored colours.
    void setFirstColorRed(GLfloat redComponent, GLfloat greenComponent, GLfloat blueComponent);
    void setSecondColorRed(GLfloat redComponent, GLfloat greenComponent, GLfloat blueComponent);
    std::string className() const override { return "GPXFalseColorFilter"; }

  private:
    GLint firstColorUniform_ = -1, secondColorUniform_ = -1;
    mutable std::mutex colorsMutex_;
    GPUVector4 firstColor_{0.0f, 0.0f, 0.5f, 1.0f}, secondColor_{1.0f, 0.0f, 0.0f, 1.0f};
};

// Makes pixels near a key colour transparent, judged by their chroma (Cr, Cb) distance.
class GPXChromaKeyFilter : public GPXFilter {
  public:
    GPXChromaKeyFilter();
    void didInit() override;
    void setThresholdSensitivity(double newValue);
    double thresholdSensitivity() const;
    void setSmoothing(double newValue);
    double smoothing() const;
    void setColorToReplaceRed(GLfloat redComponent, GLfloat greenComponent, GLfloat blueComponent);
    std::string className() const override { return "GPXChromaKeyFilter"; }

  private:
    GLint thresholdSensitivityUniform_ = -1, smoothingUniform_ = -1, colorToReplaceUniform_ = -1;
    std::atomic<double> thresholdSensitivity_{0.4}, smoothing_{0.1};
};

// Four colours on a coarse grid: black, white, cyan and magenta, whichever is nearest.
class GPXCGAColorspaceFilter : public GPXFilter {
  public:
    GPXCGAColorspaceFilter();
    std::string className() const override { return "GPXCGAColorspaceFilter"; }
};

// rgba * matrix (row one makes the red output), mixed with the input by the intensity.
class GPXColorMatrixFilter : public GPXFilter {
  public:
    GPXColorMatrixFilter();
    void didInit() override;
    void setColorMatrix(GPUMatrix4x4 newValue);
    GPUMatrix4x4 colorMatrix() const;
    void setIntensity(double newValue);
    double intensity() const;
    std::string className() const override { return "GPXColorMatrixFilter"; }

  private:
    GLint colorMatrixUniform_ = -1, intensityUniform_ = -1;
    mutable std::mutex matrixMutex_;
    GPUMatrix4x4 colorMatrix_{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    std::atomic<double> intensity_{1.0};
};

// The colour matrix with the sepia tone.
class GPXSepiaFilter : public GPXColorMatrixFilter {
  public:
    GPXSepiaFilter() = default;
    void didInit() override;
    std::string className() const override { return "GPXSepiaFilter"; }
};

// White where a pixel is no darker than its neighbourhood's mean (a box blur of the grey
// picture) minus 0.05, else black; alpha 1.
class GPXBoxBlurFilter;
class GPXAdaptiveThresholdFilter : public GPXFilterGroup {
  public:
    GPXAdaptiveThresholdFilter() = default;
    void didInit();
    void setBlurRadiusInPixels(double newValue);
    double blurRadiusInPixels() const;
    std::string className() const override { return "GPXAdaptiveThresholdFilter"; }

  private:
    Ref<GPXBoxBlurFilter> boxBlurFilter_;
};

// Fills its output with one colour (default (0, 0, 0.5, 1)), at the size of its input or the
// size it is forced to. A target added once there is a size receives the colour at once.
class GPXSolidColorGenerator : public GPXFilter {
  public:
    GPXSolidColorGenerator();
    void didInit() override;
    void renderToTextureWithVertices(const GLfloat* vertices, const GLfloat* textureCoordinates) override;
    void setColorRed(GLfloat redComponent, GLfloat greenComponent, GLfloat blueComponent,
                     GLfloat alphaComponent);
    void setColor(GPUVector4 newValue);
    GPUVector4 color() const;
    void setUseExistingAlpha(bool newValue);
    bool useExistingAlpha() const;
    void forceProcessingAtSize(CGSize frameSize) override;
    void addTargetAtTextureLocation(const Ref<GPXInput>& newTarget, long textureLocation) override;
    std::string className() const override { return "GPXSolidColorGenerator"; }

  private:
    GLint useExistingAlphaUniform_ = -1;
    mutable std::mutex colorMutex_;
    GPUVector4 color_{0.0f, 0.0f, 0.5f, 1.0f};
    std::atomic<bool> useExistingAlpha_{false};
};
