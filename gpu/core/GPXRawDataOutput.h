#pragma once
// A consumer that renders its input at a fixed size and gives the pixels back as bytes, with a
// callback for each new frame and a colour lookup at a point.
//
// Bytes are read on demand: rawBytesForImage() renders the latest input on the shared context
// queue and reads it back (once per frame), blocking its caller meanwhile. Rows are bottom-up,
// 4 bytes per pixel, in BGRA or RGBA order as asked for at creation.

#include <atomic>
#include <functional>
#include <vector>

#include "foundation/NSObject.h"
#include "gpu/core/GLProgram.h"
#include "gpu/core/GPXInput.h"

struct GPUByteColorVector {
    GLubyte red = 0, green = 0, blue = 0, alpha = 0;
    bool operator==(const GPUByteColorVector&) const = default;
};

// Swaps red and blue.
inline constexpr const char* kGPXColorSwizzlingFragmentShaderString =
    "varying highp vec2 textureCoordinate;\n"
    "uniform sampler2D inputImageTexture;\n"
    "void main()\n"
    "{\n"
    "    gl_FragColor = texture2D(inputImageTexture, textureCoordinate).bgra;\n"
    "}\n";

class GPXRawDataOutput : public NSObject, public GPXInput {
  public:
    GPXRawDataOutput(CGSize newImageSize, bool resultsInBGRAFormat);
    ~GPXRawDataOutput() override;

    GPUByteColorVector colorAtLocation(CGPoint locationInImage);
    // The pixels of the latest frame, width x height x 4 bytes, owned by this object; valid until
    // the next call that reads a new frame or changes the size.
    GLubyte* rawBytesForImage();
    std::size_t bytesPerRowInOutput();
    CGSize imageSize() const;
    void setImageSize(CGSize newImageSize);
    void lockFramebufferForReading();
    void unlockFramebufferAfterReading();

    // GPXInput.
    void newFrameReadyAtTime(CMTime frameTime, long textureIndex) override;
    long nextAvailableTextureIndex() override { return 0; }
    void setInputFramebuffer(const Ref<GPXFramebuffer>& newInputFramebuffer, long textureIndex) override;
    void setInputSize(CGSize, long) override {}
    void setInputRotation(GPURotationMode newInputRotation, long textureIndex) override;
    CGSize maximumOutputSize() override { return imageSize(); }
    void endProcessing() override {}
    bool shouldIgnoreUpdatesToThisTarget() override { return false; }
    bool enabled() override { return enabled_.load(); }
    void setEnabled(bool value) { enabled_.store(value); }
    bool wantsMonochromeInput() override { return false; }
    void setCurrentlyReceivingMonochromeInput(bool) override {}

    using NewFrameAvailableBlock = std::function<void()>;
    NewFrameAvailableBlock newFrameAvailableBlock() const;
    void setNewFrameAvailableBlock(NewFrameAvailableBlock block);

    // Whether the bytes come through the red-blue swapping program.
    bool usesSwizzlingProgram() const { return swizzling_; }

    std::string className() const override { return "GPXRawDataOutput"; }

  private:
    void renderAtInternalSize();

    // Touched on the shared context queue only.
    CGSize imageSize_;
    GPURotationMode inputRotation_ = rotationNone;
    const bool outputBGRA_;
    bool swizzling_ = false;
    Ref<GPXFramebuffer> firstInputFramebuffer_;
    Ref<GPXFramebuffer> outputFramebuffer_;
    Ref<GPXFramebuffer> retainedFramebuffer_;
    bool hasReadFromTheCurrentFrame_ = false;
    bool lockNextFramebuffer_ = false;
    std::vector<GLubyte> rawBytes_;
    NewFrameAvailableBlock newFrameAvailableBlock_;

    Ref<GLProgram> dataProgram_;
    GLint dataPositionAttribute_ = 0;
    GLint dataTextureCoordinateAttribute_ = 0;
    GLint dataInputTextureUniform_ = 0;
    std::atomic<bool> enabled_{true};
};
