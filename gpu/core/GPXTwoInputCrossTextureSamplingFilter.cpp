#include "gpu/core/GPXTwoInputCrossTextureSamplingFilter.h"

#include "gpu/core/GPX3x3TextureSamplingFilter.h"
#include "gpu/core/GPXContext.h"

GPXTwoInputCrossTextureSamplingFilter::GPXTwoInputCrossTextureSamplingFilter(std::string fragmentShaderString)
    : GPXTwoInputFilter(kGPXTwoInputNearbyTexelSamplingVertexShaderString, std::move(fragmentShaderString)) {}

void GPXTwoInputCrossTextureSamplingFilter::didInit() {
    GPXTwoInputFilter::didInit();
    performSyncOnSharedContextQueue([this] {
        if (!filterProgram_) return;
        texelWidthUniform_ = static_cast<GLint>(filterProgram_->uniformIndex("texelWidth"));
        texelHeightUniform_ = static_cast<GLint>(filterProgram_->uniformIndex("texelHeight"));
    });
}

void GPXTwoInputCrossTextureSamplingFilter::setupFilterForSize(CGSize filterFrameSize) {
    performSyncOnSharedContextQueue([&] {
        if (hasOverriddenImageSizeFactor_) return;
        detail::applyAutomaticTexelSteps(*this, filterFrameSize, inputRotation_, texelWidthUniform_,
                                         texelHeightUniform_, texelWidth_, texelHeight_);
    });
}

void GPXTwoInputCrossTextureSamplingFilter::setTexelWidth(double newValue) {
    performSyncOnSharedContextQueue([&] {
        hasOverriddenImageSizeFactor_ = true;
        texelWidth_ = newValue;
    });
    setFloat(static_cast<GLfloat>(newValue), texelWidthUniform_, filterProgram_);
}

void GPXTwoInputCrossTextureSamplingFilter::setTexelHeight(double newValue) {
    performSyncOnSharedContextQueue([&] {
        hasOverriddenImageSizeFactor_ = true;
        texelHeight_ = newValue;
    });
    setFloat(static_cast<GLfloat>(newValue), texelHeightUniform_, filterProgram_);
}

double GPXTwoInputCrossTextureSamplingFilter::texelWidth() {
    double value = 0;
    performSyncOnSharedContextQueue([&] { value = texelWidth_; });
    return value;
}

double GPXTwoInputCrossTextureSamplingFilter::texelHeight() {
    double value = 0;
    performSyncOnSharedContextQueue([&] { value = texelHeight_; });
    return value;
}
