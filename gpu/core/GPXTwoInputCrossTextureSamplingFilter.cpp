#include "gpu/core/GPXTwoInputCrossTextureSamplingFilter.h"

GPXTwoInputCrossTextureSamplingFilter::GPXTwoInputCrossTextureSamplingFilter(std::string fragmentShaderString)
    : TexelStepSampling<GPXTwoInputFilter>(kGPXTwoInputNearbyTexelSamplingVertexShaderString,
                                           std::move(fragmentShaderString)) {}
