#include "gpu/core/GPXTwoPassTextureSamplingFilter.h"

#include "gpu/core/GPXContext.h"

GPXTwoPassTextureSamplingFilter::GPXTwoPassTextureSamplingFilter(std::string firstStageVertexShaderString,
                                                                 std::string firstStageFragmentShaderString,
                                                                 std::string secondStageVertexShaderString,
                                                                 std::string secondStageFragmentShaderString)
    : GPXTwoPassFilter(std::move(firstStageVertexShaderString), std::move(firstStageFragmentShaderString),
                       std::move(secondStageVertexShaderString), std::move(secondStageFragmentShaderString)) {
}

void GPXTwoPassTextureSamplingFilter::didInit() {
    GPXTwoPassFilter::didInit();
    performSyncOnSharedContextQueue([this] { lookUpTexelOffsetUniforms(); });
    setVerticalTexelSpacing(1.0);
    setHorizontalTexelSpacing(1.0);
}

void GPXTwoPassTextureSamplingFilter::lookUpTexelOffsetUniforms() {
    if (filterProgram_) {
        verticalPassTexelWidthOffsetUniform_ =
            static_cast<GLint>(filterProgram_->uniformIndex("texelWidthOffset"));
        verticalPassTexelHeightOffsetUniform_ =
            static_cast<GLint>(filterProgram_->uniformIndex("texelHeightOffset"));
    }
    if (secondFilterProgram_) {
        horizontalPassTexelWidthOffsetUniform_ =
            static_cast<GLint>(secondFilterProgram_->uniformIndex("texelWidthOffset"));
        horizontalPassTexelHeightOffsetUniform_ =
            static_cast<GLint>(secondFilterProgram_->uniformIndex("texelHeightOffset"));
    }
}

void GPXTwoPassTextureSamplingFilter::setUniformsForProgramAtIndex(unsigned programIndex) {
    GPXTwoPassFilter::setUniformsForProgramAtIndex(programIndex);
    if (programIndex == 0) {
        glUniform1f(verticalPassTexelWidthOffsetUniform_, verticalPassTexelWidthOffset_);
        glUniform1f(verticalPassTexelHeightOffsetUniform_, verticalPassTexelHeightOffset_);
    } else {
        glUniform1f(horizontalPassTexelWidthOffsetUniform_, horizontalPassTexelWidthOffset_);
        glUniform1f(horizontalPassTexelHeightOffsetUniform_, horizontalPassTexelHeightOffset_);
    }
}

void GPXTwoPassTextureSamplingFilter::setupFilterForSize(CGSize filterFrameSize) {
    performSyncOnSharedContextQueue([&] {
        // No size yet: the offsets wait for the first one.
        if (filterFrameSize.width <= 0 || filterFrameSize.height <= 0) return;
        if (GPURotationSwapsWidthAndHeight(inputRotation_)) {
            verticalPassTexelWidthOffset_ =
                static_cast<GLfloat>(verticalTexelSpacing_ / filterFrameSize.height);
            verticalPassTexelHeightOffset_ = 0.0f;
        } else {
            verticalPassTexelWidthOffset_ = 0.0f;
            verticalPassTexelHeightOffset_ =
                static_cast<GLfloat>(verticalTexelSpacing_ / filterFrameSize.height);
        }
        horizontalPassTexelWidthOffset_ =
            static_cast<GLfloat>(horizontalTexelSpacing_ / filterFrameSize.width);
        horizontalPassTexelHeightOffset_ = 0.0f;
    });
}

void GPXTwoPassTextureSamplingFilter::setVerticalTexelSpacing(double newValue) {
    performSyncOnSharedContextQueue([&] {
        verticalTexelSpacing_ = newValue;
        setupFilterForSize(sizeOfFBO());
    });
}

void GPXTwoPassTextureSamplingFilter::setHorizontalTexelSpacing(double newValue) {
    performSyncOnSharedContextQueue([&] {
        horizontalTexelSpacing_ = newValue;
        setupFilterForSize(sizeOfFBO());
    });
}

double GPXTwoPassTextureSamplingFilter::verticalTexelSpacing() {
    double value = 0;
    performSyncOnSharedContextQueue([&] { value = verticalTexelSpacing_; });
    return value;
}

double GPXTwoPassTextureSamplingFilter::horizontalTexelSpacing() {
    double value = 0;
    performSyncOnSharedContextQueue([&] { value = horizontalTexelSpacing_; });
    return value;
}

GPXTwoPassTextureSamplingFilter::TexelOffsets GPXTwoPassTextureSamplingFilter::texelOffsets() {
    TexelOffsets offsets;
    performSyncOnSharedContextQueue([&] {
        offsets = {verticalPassTexelWidthOffset_, verticalPassTexelHeightOffset_,
                   horizontalPassTexelWidthOffset_, horizontalPassTexelHeightOffset_};
    });
    return offsets;
}
