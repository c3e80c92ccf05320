#include "gpu/core/GPX3x3TextureSamplingFilter.h"

#include "gpu/core/GPXContext.h"

namespace detail {
void applyAutomaticTexelSteps(GPXFilter& filter, CGSize size, GPURotationMode rotation, GLint widthUniform,
                              GLint heightUniform, double& texelWidth, double& texelHeight) {
    if (size.width <= 0 || size.height <= 0) return;
    texelWidth = 1.0 / size.width;
    texelHeight = 1.0 / size.height;
    auto program = filter.filterProgram();
    if (!program) return;
    GLfloat width = static_cast<GLfloat>(texelWidth), height = static_cast<GLfloat>(texelHeight);
    if (GPURotationSwapsWidthAndHeight(rotation)) std::swap(width, height);
    filter.setFloat(width, widthUniform, program);
    filter.setFloat(height, heightUniform, program);
}
}  // namespace detail

GPX3x3TextureSamplingFilter::GPX3x3TextureSamplingFilter(std::string fragmentShaderString)
    : GPX3x3TextureSamplingFilter(kGPXNearbyTexelSamplingVertexShaderString,
                                  std::move(fragmentShaderString)) {}

GPX3x3TextureSamplingFilter::GPX3x3TextureSamplingFilter(std::string vertexShaderString,
                                                         std::string fragmentShaderString)
    : GPXFilter(std::move(vertexShaderString), std::move(fragmentShaderString)) {}

void GPX3x3TextureSamplingFilter::didInit() {
    GPXFilter::didInit();
    performSyncOnSharedContextQueue([this] {
        if (!filterProgram_) return;
        texelWidthUniform_ = static_cast<GLint>(filterProgram_->uniformIndex("texelWidth"));
        texelHeightUniform_ = static_cast<GLint>(filterProgram_->uniformIndex("texelHeight"));
    });
}

void GPX3x3TextureSamplingFilter::setupFilterForSize(CGSize filterFrameSize) {
    performSyncOnSharedContextQueue([&] {
        if (hasOverriddenImageSizeFactor_) return;
        detail::applyAutomaticTexelSteps(*this, filterFrameSize, inputRotation_, texelWidthUniform_,
                                         texelHeightUniform_, texelWidth_, texelHeight_);
    });
}

void GPX3x3TextureSamplingFilter::setTexelWidth(double newValue) {
    performSyncOnSharedContextQueue([&] {
        hasOverriddenImageSizeFactor_ = true;
        texelWidth_ = newValue;
    });
    setFloat(static_cast<GLfloat>(newValue), texelWidthUniform_, filterProgram_);
}

void GPX3x3TextureSamplingFilter::setTexelHeight(double newValue) {
    performSyncOnSharedContextQueue([&] {
        hasOverriddenImageSizeFactor_ = true;
        texelHeight_ = newValue;
    });
    setFloat(static_cast<GLfloat>(newValue), texelHeightUniform_, filterProgram_);
}

double GPX3x3TextureSamplingFilter::texelWidth() {
    double value = 0;
    performSyncOnSharedContextQueue([&] { value = texelWidth_; });
    return value;
}

double GPX3x3TextureSamplingFilter::texelHeight() {
    double value = 0;
    performSyncOnSharedContextQueue([&] { value = texelHeight_; });
    return value;
}

bool GPX3x3TextureSamplingFilter::hasOverriddenImageSizeFactor() {
    bool value = false;
    performSyncOnSharedContextQueue([&] { value = hasOverriddenImageSizeFactor_; });
    return value;
}
