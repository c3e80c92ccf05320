#pragma once
// The two-input filter: a filter that draws from two textures at once (blends, masks, lookups).
// The first input is sampled as "inputImageTexture" at "textureCoordinate" (unit 2), the second
// as "inputImageTexture2" at "textureCoordinate2" (unit 3); each input keeps its own rotation.
//
// Frames: the filter renders once per pair, when both inputs have delivered since the last
// render. Frame times persist between renders, so a still picture (indefinite time, delivered
// once) pairs with every later frame of a moving source: a moving frame against a still one
// renders at once. Either input's check can be disabled, so that it counts as always received.
// The output takes the first input's size; sizes given at the second input are ignored.
//
// Producers added with addTarget() fill slot 0, then slot 1; a later producer replaces slot 1.
// Like every filter, the state belongs to the shared context queue.

#include "gpu/core/GPXFilter.h"

inline constexpr const char* kGPXTwoInputTextureVertexShaderString =
    "attribute vec4 position;\n"
    "attribute vec4 inputTextureCoordinate;\n"
    "attribute vec4 inputTextureCoordinate2;\n"
    "varying vec2 textureCoordinate;\n"
    "varying vec2 textureCoordinate2;\n"
    "void main()\n"
    "{\n"
    "    gl_Position = position;\n"
    "    textureCoordinate = inputTextureCoordinate.xy;\n"
    "    textureCoordinate2 = inputTextureCoordinate2.xy;\n"
    "}\n";

class GPXTwoInputFilter : public GPXFilter {
  public:
    explicit GPXTwoInputFilter(std::string fragmentShaderString);
    GPXTwoInputFilter(std::string vertexShaderString, std::string fragmentShaderString);
    void didInit() override;

    void initializeAttributes() override;
    void disableFirstFrameCheck();
    void disableSecondFrameCheck();

    // GPXInput.
    void newFrameReadyAtTime(CMTime frameTime, long textureIndex) override;
    long nextAvailableTextureIndex() override;
    void setInputFramebuffer(const Ref<GPXFramebuffer>& newInputFramebuffer, long textureIndex) override;
    void setInputSize(CGSize newSize, long textureIndex) override;
    void setInputRotation(GPURotationMode newInputRotation, long textureIndex) override;
    CGSize rotatedSize(CGSize sizeToRotate, long textureIndex) override;

    GPURotationMode inputRotation2();
    // The latest frame time at each input (invalid until one arrives).
    CMTime firstFrameTime();
    CMTime secondFrameTime();

    std::string className() const override { return "GPXTwoInputFilter"; }

  protected:
    // Binds the second input (unit 3) and feeds its coordinates before a draw; on the queue.
    void bindSecondInput();
    void bindAdditionalInputs() override;
    void releaseAdditionalInputs() override;
    // Gives the inputs back after a draw (or instead of one).
    void unlockInputs() override;

    // Touched on the shared context queue only.
    Ref<GPXFramebuffer> secondInputFramebuffer_;
    GLint filterSecondTextureCoordinateAttribute_ = -1;
    GLint filterInputTextureUniform2_ = -1;
    GPURotationMode inputRotation2_ = rotationNone;
    CMTime firstFrameTime_ = kCMTimeInvalid;
    CMTime secondFrameTime_ = kCMTimeInvalid;
    bool hasSetFirstTexture_ = false;
    bool hasReceivedFirstFrame_ = false;
    bool hasReceivedSecondFrame_ = false;
    bool firstFrameWasVideo_ = false;
    bool secondFrameWasVideo_ = false;
    bool firstFrameCheckDisabled_ = false;
    bool secondFrameCheckDisabled_ = false;
};
