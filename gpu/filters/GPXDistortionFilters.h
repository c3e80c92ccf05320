#pragma once
// Geometric distortions that move where each output texel samples the input (swirl, bulge,
// pinch, stretch), two glass-sphere lenses, and the vignette. A centre is given in the picture's
// own coordinates and sent turned for the input's rotation; the lenses and bulge/pinch keep their
// circles round with an aspect ratio that follows the input size and rotation.

#include <atomic>
#include <mutex>

#include "gpu/core/GPXFilter.h"

// The centre and aspect-ratio handling the distortions share.
class GPXCenteredDistortionFilter : public GPXFilter {
  public:
    // Without a centre uniform name the filter has no centre.
    GPXCenteredDistortionFilter(std::string fragmentShaderString, bool tracksAspectRatio,
                                const char* centerUniformName = "center");
    void didInit() override;

    void setCenter(CGPoint newValue);
    CGPoint center() const;
    void setAspectRatio(double newValue);
    double aspectRatio() const { return aspectRatio_.load(); }

    void setInputRotation(GPURotationMode newInputRotation, long textureIndex) override;
    void setInputSize(CGSize newSize, long textureIndex) override;
    void forceProcessingAtSize(CGSize frameSize) override;

  protected:
    // Looks a float uniform up and sends a value to it, remembered under `location`.
    GLint floatUniform(const char* name);
    void adjustAspectRatio();

  private:
    bool tracksAspectRatio_;
    const char* centerUniformName_;
    GLint centerUniform_ = -1, aspectRatioUniform_ = -1;
    mutable std::mutex centerMutex_;
    CGPoint center_ = CGPointMake(0.5, 0.5);
    std::atomic<double> aspectRatio_{1.0};
};

// Turns texels within the radius by (1 - d / radius)^2 x angle x 8 radians about the centre.
class GPXSwirlFilter : public GPXCenteredDistortionFilter {
  public:
    GPXSwirlFilter();
    void didInit() override;
    void setRadius(double newValue);
    double radius() const;
    void setAngle(double newValue);
    double angle() const;
    std::string className() const override { return "GPXSwirlFilter"; }

  private:
    GLint radiusUniform_ = -1, angleUniform_ = -1;
    std::atomic<double> radius_{0.5}, angle_{1.0};
};

// Magnifies (scale > 0) or shrinks within the radius (defaults 0.25, 0.5).
class GPXBulgeDistortionFilter : public GPXCenteredDistortionFilter {
  public:
    GPXBulgeDistortionFilter();
    void didInit() override;
    void setRadius(double newValue);
    double radius() const;
    void setScale(double newValue);
    double scale() const;
    std::string className() const override { return "GPXBulgeDistortionFilter"; }

  private:
    GLint radiusUniform_ = -1, scaleUniform_ = -1;
    std::atomic<double> radius_{0.25}, scale_{0.5};
};

// Pulls towards the centre within the radius (defaults 1.0, 0.5); the fall-off is over 0.5.
class GPXPinchDistortionFilter : public GPXCenteredDistortionFilter {
  public:
    GPXPinchDistortionFilter();
    void didInit() override;
    void setRadius(double newValue);
    double radius() const;
    void setScale(double newValue);
    double scale() const;
    std::string className() const override { return "GPXPinchDistortionFilter"; }

  private:
    GLint radiusUniform_ = -1, scaleUniform_ = -1;
    std::atomic<double> radius_{1.0}, scale_{0.5};
};

// Stretches the middle: offsets up to 0.25 (in the -1..1 square) sample at half, 0.5 and beyond
// at themselves.
class GPXStretchDistortionFilter : public GPXCenteredDistortionFilter {
  public:
    GPXStretchDistortionFilter();
    std::string className() const override { return "GPXStretchDistortionFilter"; }
};

// The picture seen through a glass ball of the radius (default 0.25, refractive index 0.71);
// transparent black outside it.
class GPXSphereRefractionFilter : public GPXCenteredDistortionFilter {
  public:
    GPXSphereRefractionFilter();
    explicit GPXSphereRefractionFilter(std::string fragmentShaderString);
    void didInit() override;
    void setRadius(double newValue);
    double radius() const;
    void setRefractiveIndex(double newValue);
    double refractiveIndex() const;
    std::string className() const override { return "GPXSphereRefractionFilter"; }

  private:
    GLint radiusUniform_ = -1, refractiveIndexUniform_ = -1;
    std::atomic<double> radius_{0.25}, refractiveIndex_{0.71};
};

// The sphere turned over, with a rim light and a highlight; opaque inside.
class GPXGlassSphereFilter : public GPXSphereRefractionFilter {
  public:
    GPXGlassSphereFilter();
    std::string className() const override { return "GPXGlassSphereFilter"; }
};

// Darkens towards the vignette colour between the start and end distances from its centre
// (defaults 0.3, 0.75, black, (0.5, 0.5)); the centre is not turned.
class GPXVignetteFilter : public GPXFilter {
  public:
    GPXVignetteFilter();
    void didInit() override;
    void setVignetteCenter(CGPoint newValue);
    CGPoint vignetteCenter() const;
    void setVignetteColor(GPUVector3 newValue);
    GPUVector3 vignetteColor() const;
    void setVignetteStart(double newValue);
    double vignetteStart() const;
    void setVignetteEnd(double newValue);
    double vignetteEnd() const;
    std::string className() const override { return "GPXVignetteFilter"; }

  private:
    GLint centerUniform_ = -1, colorUniform_ = -1, startUniform_ = -1, endUniform_ = -1;
    mutable std::mutex mutex_;
    CGPoint vignetteCenter_ = CGPointMake(0.5, 0.5);
    GPUVector3 vignetteColor_{0, 0, 0};
    std::atomic<double> vignetteStart_{0.3}, vignetteEnd_{0.75};
};
