#pragma once
// A two-input filter that also gives the fragment shader each input's four neighbour coordinates
// (left, right, top, bottom) one texel away; the second input's carry the suffix 2
// ("leftTextureCoordinate2"). The texel steps follow the same rule as the 3x3 sampling base:
// automatic from the render size until set, swapped for a quarter-turned first input, and replayed
// before each draw.

#include "gpu/core/GPX3x3TextureSamplingFilter.h"
#include "gpu/core/GPXTwoInputFilter.h"

inline constexpr const char* kGPXTwoInputNearbyTexelSamplingVertexShaderString =
    "attribute vec4 position;\n"
    "attribute vec4 inputTextureCoordinate;\n"
    "attribute vec4 inputTextureCoordinate2;\n"
    "uniform float texelWidth;\n"
    "uniform float texelHeight;\n"
    "varying vec2 textureCoordinate;\n"
    "varying vec2 leftTextureCoordinate;\n"
    "varying vec2 rightTextureCoordinate;\n"
    "varying vec2 topTextureCoordinate;\n"
    "varying vec2 bottomTextureCoordinate;\n"
    "varying vec2 textureCoordinate2;\n"
    "varying vec2 leftTextureCoordinate2;\n"
    "varying vec2 rightTextureCoordinate2;\n"
    "varying vec2 topTextureCoordinate2;\n"
    "varying vec2 bottomTextureCoordinate2;\n"
    "void main()\n"
    "{\n"
    "    gl_Position = position;\n"
    "    vec2 widthStep = vec2(texelWidth, 0.0);\n"
    "    vec2 heightStep = vec2(0.0, texelHeight);\n"
    "    textureCoordinate = inputTextureCoordinate.xy;\n"
    "    leftTextureCoordinate = inputTextureCoordinate.xy - widthStep;\n"
    "    rightTextureCoordinate = inputTextureCoordinate.xy + widthStep;\n"
    "    topTextureCoordinate = inputTextureCoordinate.xy - heightStep;\n"
    "    bottomTextureCoordinate = inputTextureCoordinate.xy + heightStep;\n"
    "    textureCoordinate2 = inputTextureCoordinate2.xy;\n"
    "    leftTextureCoordinate2 = inputTextureCoordinate2.xy - widthStep;\n"
    "    rightTextureCoordinate2 = inputTextureCoordinate2.xy + widthStep;\n"
    "    topTextureCoordinate2 = inputTextureCoordinate2.xy - heightStep;\n"
    "    bottomTextureCoordinate2 = inputTextureCoordinate2.xy + heightStep;\n"
    "}\n";

class GPXTwoInputCrossTextureSamplingFilter : public detail::TexelStepSampling<GPXTwoInputFilter> {
  public:
    explicit GPXTwoInputCrossTextureSamplingFilter(std::string fragmentShaderString);

    std::string className() const override { return "GPXTwoInputCrossTextureSamplingFilter"; }
};
