#pragma once
// The base of filters that look at a pixel's eight neighbours (3x3 convolutions, edge detectors,
// local maxima). Its vertex shader computes the nine texture coordinates per vertex from a texel
// width and height; "top" is the smaller t coordinate.
//
// Steps follow the render size (1/width, 1/height) until the caller sets one with setTexelWidth()
// or setTexelHeight(), after which both stay as set. For an input turned by a quarter the shader
// gets the steps swapped, since it samples the unturned input. The steps in effect are stored with
// the filter's other uniform settings and replayed before each draw, so that two filters sharing
// one cached program each draw with their own.

#include "gpu/core/GPXContext.h"
#include "gpu/core/GPXFilter.h"

inline constexpr const char* kGPXNearbyTexelSamplingVertexShaderString =
    "attribute vec4 position;\n"
    "attribute vec4 inputTextureCoordinate;\n"
    "uniform float texelWidth;\n"
    "uniform float texelHeight;\n"
    "varying vec2 textureCoordinate;\n"
    "varying vec2 leftTextureCoordinate;\n"
    "varying vec2 rightTextureCoordinate;\n"
    "varying vec2 topTextureCoordinate;\n"
    "varying vec2 topLeftTextureCoordinate;\n"
    "varying vec2 topRightTextureCoordinate;\n"
    "varying vec2 bottomTextureCoordinate;\n"
    "varying vec2 bottomLeftTextureCoordinate;\n"
    "varying vec2 bottomRightTextureCoordinate;\n"
    "void main()\n"
    "{\n"
    "    gl_Position = position;\n"
    "    vec2 widthStep = vec2(texelWidth, 0.0);\n"
    "    vec2 heightStep = vec2(0.0, texelHeight);\n"
    "    vec2 widthHeightStep = vec2(texelWidth, texelHeight);\n"
    "    vec2 widthNegativeHeightStep = vec2(texelWidth, -texelHeight);\n"
    "    textureCoordinate = inputTextureCoordinate.xy;\n"
    "    leftTextureCoordinate = inputTextureCoordinate.xy - widthStep;\n"
    "    rightTextureCoordinate = inputTextureCoordinate.xy + widthStep;\n"
    "    topTextureCoordinate = inputTextureCoordinate.xy - heightStep;\n"
    "    topLeftTextureCoordinate = inputTextureCoordinate.xy - widthHeightStep;\n"
    "    topRightTextureCoordinate = inputTextureCoordinate.xy + widthNegativeHeightStep;\n"
    "    bottomTextureCoordinate = inputTextureCoordinate.xy + heightStep;\n"
    "    bottomLeftTextureCoordinate = inputTextureCoordinate.xy - widthNegativeHeightStep;\n"
    "    bottomRightTextureCoordinate = inputTextureCoordinate.xy + widthHeightStep;\n"
    "}\n";

namespace detail {
// The automatic texel steps of a filter rendering at `size` with the given input rotation: stores
// 1/width and 1/height in the two fields and the uniform values (swapped for a quarter turn) as
// replayed settings of the filter. Nothing for an empty size. On the shared context queue.
void applyAutomaticTexelSteps(GPXFilter& filter, CGSize size, GPURotationMode rotation, GLint widthUniform,
                              GLint heightUniform, double& texelWidth, double& texelHeight);
}  // namespace detail

namespace detail {
// The texel steps a nearby-texel sampler keeps over its base filter (one input or two): the
// uniforms "texelWidth" and "texelHeight", automatic from the render size until set by hand.
template <typename Base>
class TexelStepSampling : public Base {
  public:
    using Base::Base;

    void didInit() override {
        Base::didInit();
        performSyncOnSharedContextQueue([this] {
            if (!this->filterProgram_) return;
            texelWidthUniform_ = static_cast<GLint>(this->filterProgram_->uniformIndex("texelWidth"));
            texelHeightUniform_ = static_cast<GLint>(this->filterProgram_->uniformIndex("texelHeight"));
        });
    }

    void setupFilterForSize(CGSize filterFrameSize) override {
        performSyncOnSharedContextQueue([&] {
            if (hasOverriddenImageSizeFactor_) return;
            applyAutomaticTexelSteps(*this, filterFrameSize, this->inputRotation_, texelWidthUniform_,
                                     texelHeightUniform_, texelWidth_, texelHeight_);
        });
    }
    // Either one stops the automatic steps for both.
    void setTexelWidth(double newValue) {
        performSyncOnSharedContextQueue([&] {
            hasOverriddenImageSizeFactor_ = true;
            texelWidth_ = newValue;
        });
        this->setFloat(static_cast<GLfloat>(newValue), texelWidthUniform_, this->filterProgram_);
    }
    void setTexelHeight(double newValue) {
        performSyncOnSharedContextQueue([&] {
            hasOverriddenImageSizeFactor_ = true;
            texelHeight_ = newValue;
        });
        this->setFloat(static_cast<GLfloat>(newValue), texelHeightUniform_, this->filterProgram_);
    }
    double texelWidth() {
        double value = 0;
        performSyncOnSharedContextQueue([&] { value = texelWidth_; });
        return value;
    }
    double texelHeight() {
        double value = 0;
        performSyncOnSharedContextQueue([&] { value = texelHeight_; });
        return value;
    }

  protected:
    // Touched on the shared context queue only.
    GLint texelWidthUniform_ = -1;
    GLint texelHeightUniform_ = -1;
    double texelWidth_ = 0;
    double texelHeight_ = 0;
    bool hasOverriddenImageSizeFactor_ = false;
};
}  // namespace detail

class GPX3x3TextureSamplingFilter : public detail::TexelStepSampling<GPXFilter> {
  public:
    explicit GPX3x3TextureSamplingFilter(std::string fragmentShaderString);
    GPX3x3TextureSamplingFilter(std::string vertexShaderString, std::string fragmentShaderString);

    bool hasOverriddenImageSizeFactor();

    std::string className() const override { return "GPX3x3TextureSamplingFilter"; }
};
