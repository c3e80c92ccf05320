#pragma once
// The three-input filter: the two-input filter with a third slot, sampled as "inputImageTexture3"
// at "textureCoordinate3" (unit 4). It renders once all three inputs have delivered (or a moving
// frame arrives against a still picture), and tells its targets the time of the frame that
// completed the set. Producers added with addTarget() fill slots 0, 1 and 2 in order.

#include "gpu/core/GPXTwoInputFilter.h"

inline constexpr const char* kGPXThreeInputTextureVertexShaderString =
    "attribute vec4 position;\n"
    "attribute vec4 inputTextureCoordinate;\n"
    "attribute vec4 inputTextureCoordinate2;\n"
    "attribute vec4 inputTextureCoordinate3;\n"
    "varying vec2 textureCoordinate;\n"
    "varying vec2 textureCoordinate2;\n"
    "varying vec2 textureCoordinate3;\n"
    "void main()\n"
    "{\n"
    "    gl_Position = position;\n"
    "    textureCoordinate = inputTextureCoordinate.xy;\n"
    "    textureCoordinate2 = inputTextureCoordinate2.xy;\n"
    "    textureCoordinate3 = inputTextureCoordinate3.xy;\n"
    "}\n";

class GPXThreeInputFilter : public GPXTwoInputFilter {
  public:
    explicit GPXThreeInputFilter(std::string fragmentShaderString);
    GPXThreeInputFilter(std::string vertexShaderString, std::string fragmentShaderString);
    void didInit() override;

    void initializeAttributes() override;
    void disableThirdFrameCheck();

    void newFrameReadyAtTime(CMTime frameTime, long textureIndex) override;
    long nextAvailableTextureIndex() override;
    void setInputFramebuffer(const Ref<GPXFramebuffer>& newInputFramebuffer, long textureIndex) override;
    void setInputSize(CGSize newSize, long textureIndex) override;
    void setInputRotation(GPURotationMode newInputRotation, long textureIndex) override;
    CGSize rotatedSize(CGSize sizeToRotate, long textureIndex) override;

    GPURotationMode inputRotation3();
    CMTime thirdFrameTime();

    std::string className() const override { return "GPXThreeInputFilter"; }

  protected:
    void bindAdditionalInputs() override;
    void releaseAdditionalInputs() override;
    void unlockInputs() override;

    // Touched on the shared context queue only.
    Ref<GPXFramebuffer> thirdInputFramebuffer_;
    GLint filterThirdTextureCoordinateAttribute_ = -1;
    GLint filterInputTextureUniform3_ = -1;
    GPURotationMode inputRotation3_ = rotationNone;
    CMTime thirdFrameTime_ = kCMTimeInvalid;
    bool hasSetSecondTexture_ = false;
    bool hasReceivedThirdFrame_ = false;
    bool thirdFrameWasVideo_ = false;
    bool thirdFrameCheckDisabled_ = false;
};
