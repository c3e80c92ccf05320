#pragma once
// A two-pass filter whose passes sample neighbours along one axis each: the first (vertical)
// pass steps along the input's height, the second (horizontal) along the width. Each pass reads
// its step from the uniforms "texelWidthOffset" and "texelHeightOffset", set from this filter's
// own values before the pass is drawn. The spacing multiplies the one-texel step (default 1.0).
//
// For an input turned by a quarter the first pass, which samples the unturned input, steps along
// the input texture's width instead.

#include "gpu/core/GPXTwoPassFilter.h"

class GPXTwoPassTextureSamplingFilter : public GPXTwoPassFilter {
  public:
    GPXTwoPassTextureSamplingFilter(std::string firstStageVertexShaderString,
                                    std::string firstStageFragmentShaderString,
                                    std::string secondStageVertexShaderString,
                                    std::string secondStageFragmentShaderString);
    void didInit() override;

    void setUniformsForProgramAtIndex(unsigned programIndex) override;
    void setupFilterForSize(CGSize filterFrameSize) override;

    void setVerticalTexelSpacing(double newValue);
    void setHorizontalTexelSpacing(double newValue);
    double verticalTexelSpacing();
    double horizontalTexelSpacing();

    struct TexelOffsets {
        GLfloat verticalPassTexelWidthOffset = 0, verticalPassTexelHeightOffset = 0;
        GLfloat horizontalPassTexelWidthOffset = 0, horizontalPassTexelHeightOffset = 0;
    };
    // The offsets the next draw will use.
    TexelOffsets texelOffsets();

    std::string className() const override { return "GPXTwoPassTextureSamplingFilter"; }

  protected:
    // Looks the offset uniforms up in both programs; on the queue. Also after a program switch.
    void lookUpTexelOffsetUniforms();

    // Touched on the shared context queue only.
    GLint verticalPassTexelWidthOffsetUniform_ = -1, verticalPassTexelHeightOffsetUniform_ = -1;
    GLint horizontalPassTexelWidthOffsetUniform_ = -1, horizontalPassTexelHeightOffsetUniform_ = -1;
    GLfloat verticalPassTexelWidthOffset_ = 0, verticalPassTexelHeightOffset_ = 0;
    GLfloat horizontalPassTexelWidthOffset_ = 0, horizontalPassTexelHeightOffset_ = 0;
    double verticalTexelSpacing_ = 1.0, horizontalTexelSpacing_ = 1.0;
};
