#pragma once
// The on-screen sink: a view whose layer is an OpenGL ES drawable. Every frame it receives is
// drawn at once over the background colour, scaled by the fill mode and turned by the input
// rotation, and presented into the layer (which a window rendering then shows).
//
// GL work (set-up, resize, geometry, drawing, teardown) runs synchronously on the shared context
// queue. The view's size in points and pixels, which that work needs, is taken on the main
// thread whenever the view is laid out, so the queue never reads the view's own state.

#include <array>
#include <atomic>
#include <mutex>

#include "gpu/core/GLProgram.h"
#include "gpu/core/GPXFramebuffer.h"
#include "gpu/core/GPXInput.h"
#include "media/CAEAGLLayer.h"
#include "uikit/UIView.h"

enum GPXFillModeType : int {
    kGPXFillModeStretch = 0,
    kGPXFillModePreserveAspectRatio = 1,
    kGPXFillModePreserveAspectRatioAndFill = 2,
};

class GPXView : public UIView, public GPXInput {
  public:
    GPXView();
    explicit GPXView(CGRect frame);
    ~GPXView() override;
    void didInit();
    std::string className() const override { return "GPXView"; }

    Ref<CALayer> makeLayer() const override { return make<CAEAGLLayer>(); }
    Ref<CAEAGLLayer> eaglLayer() const { return std::static_pointer_cast<CAEAGLLayer>(layer()); }
    void layoutSubviews() override;

    void createDisplayFramebuffer();
    void destroyDisplayFramebuffer();
    void setDisplayFramebuffer();
    void presentFramebuffer();
    void recalculateViewGeometry();
    void setBackgroundColorRed(GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha);
    // Eight floats: bottom-left, bottom-right, top-left, top-right; values outside 0-7 give
    // rotationNone's.
    static const GLfloat* textureCoordinatesForRotation(GPURotationMode rotationMode);

    // GPXInput.
    void newFrameReadyAtTime(CMTime frameTime, long textureIndex) override;
    void setInputFramebuffer(const Ref<GPXFramebuffer>& newInputFramebuffer, long textureIndex) override;
    long nextAvailableTextureIndex() override { return 0; }
    void setInputSize(CGSize newSize, long textureIndex) override;
    void setInputRotation(GPURotationMode newInputRotation, long textureIndex) override;
    CGSize maximumOutputSize() override;
    void endProcessing() override {}
    bool shouldIgnoreUpdatesToThisTarget() override { return false; }
    bool enabled() override { return enabled_.load(); }
    void setEnabled(bool value) { enabled_.store(value); }
    bool wantsMonochromeInput() override { return false; }
    void setCurrentlyReceivingMonochromeInput(bool) override {}

    unsigned long aspectRatio() const { return aspectRatio_.load(); }
    void setAspectRatio(unsigned long value) { aspectRatio_.store(value); }
    int fillMode();
    void setFillMode(int newValue);
    CGSize sizeInPixels();

    // Read on the shared context queue, for tests and diagnosis.
    std::array<GLfloat, 8> imageVertices();
    CGSize inputImageSize();
    GPURotationMode inputRotation();
    GLuint displayFramebuffer();

  private:
    void commonInit();
    // The bounds size and the pixel scale, taken on the main thread.
    void takeViewSize();

    // Touched on the shared context queue only.
    GPURotationMode inputRotation_ = rotationNone;
    Ref<GPXFramebuffer> inputFramebufferForDisplay_;
    GLuint displayRenderbuffer_ = 0, displayFramebuffer_ = 0;
    Ref<GLProgram> displayProgram_;
    GLint displayPositionAttribute_ = 0, displayTextureCoordinateAttribute_ = 0,
          displayInputTextureUniform_ = 0;
    CGSize inputImageSize_ = CGSizeZero;
    std::array<GLfloat, 8> imageVertices_{};
    GLfloat backgroundColorRed_ = 0, backgroundColorGreen_ = 0, backgroundColorBlue_ = 0,
            backgroundColorAlpha_ = 1;
    CGSize boundsSizeAtFrameBufferEpoch_ = CGSizeZero;
    int fillMode_ = kGPXFillModePreserveAspectRatio;
    CGSize sizeInPixels_ = CGSizeZero;

    std::atomic<bool> enabled_{true};
    std::atomic<unsigned long> aspectRatio_{0};
    mutable std::mutex sizeMutex_;  // guards the two below
    CGSize boundsSize_ = CGSizeZero;
    CGFloat scale_ = 1;
    Ref<CAEAGLLayer> drawable_;
};
