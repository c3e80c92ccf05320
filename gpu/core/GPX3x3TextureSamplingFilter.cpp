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
    : TexelStepSampling<GPXFilter>(std::move(vertexShaderString), std::move(fragmentShaderString)) {}

bool GPX3x3TextureSamplingFilter::hasOverriddenImageSizeFactor() {
    bool value = false;
    performSyncOnSharedContextQueue([&] { value = hasOverriddenImageSizeFactor_; });
    return value;
}
