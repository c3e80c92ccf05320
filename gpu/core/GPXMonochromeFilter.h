#pragma once
// The tint: recolours a picture with one colour while keeping its light and shade. Each pixel's
// luminance l = dot(rgb, (0.2125, 0.7154, 0.0721)) is overlay-blended with the colour f, channel
// by channel (2 l f below 0.5, else 1 - 2 (1 - l)(1 - f)), and the result is mixed with the input
// by the intensity; alpha passes through.

#include <mutex>

#include "gpu/core/GPXFilter.h"

inline constexpr const char* kGPXMonochromeFragmentShaderString =
    "precision lowp float;\n"
    "varying highp vec2 textureCoordinate;\n"
    "uniform sampler2D inputImageTexture;\n"
    "uniform float intensity;\n"
    "uniform vec3 filterColor;\n"
    "const mediump vec3 luminanceWeighting = vec3(0.2125, 0.7154, 0.0721);\n"
    "void main()\n"
    "{\n"
    "    vec4 textureColor = texture2D(inputImageTexture, textureCoordinate);\n"
    "    float luminance = dot(textureColor.rgb, luminanceWeighting);\n"
    "    vec3 grey = vec3(luminance);\n"
    "    vec3 overlay = vec3(\n"
    "        grey.r < 0.5 ? (2.0 * grey.r * filterColor.r) : (1.0 - 2.0 * (1.0 - grey.r) * (1.0 - "
    "filterColor.r)),\n"
    "        grey.g < 0.5 ? (2.0 * grey.g * filterColor.g) : (1.0 - 2.0 * (1.0 - grey.g) * (1.0 - "
    "filterColor.g)),\n"
    "        grey.b < 0.5 ? (2.0 * grey.b * filterColor.b) : (1.0 - 2.0 * (1.0 - grey.b) * (1.0 - "
    "filterColor.b)));\n"
    "    gl_FragColor = vec4(mix(textureColor.rgb, overlay, intensity), textureColor.a);\n"
    "}\n";

class GPXMonochromeFilter : public GPXFilter {
  public:
    GPXMonochromeFilter();
    void didInit() override;

    // Stores the colour and sends its first three components.
    void setColor(GPUVector4 color);
    GPUVector4 color() const;
    // Sends the colour without changing the stored one.
    void setColorRed(GLfloat redComponent, GLfloat greenComponent, GLfloat blueComponent);
    void setIntensity(double intensity);
    double intensity() const;

    GLint intensityUniform() const { return intensityUniform_; }
    GLint filterColorUniform() const { return filterColorUniform_; }

    std::string className() const override { return "GPXMonochromeFilter"; }

  private:
    GLint intensityUniform_ = -1;
    GLint filterColorUniform_ = -1;
    mutable std::mutex valuesMutex_;
    double intensity_ = 1.0;
    GPUVector4 color_{0.6f, 0.45f, 0.3f, 1.0f};
};
