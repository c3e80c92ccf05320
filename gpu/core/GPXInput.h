#pragma once
// The pipeline's vocabulary: rotation modes, the vector and matrix values that uniforms take, and
// the consumer side of the graph.
//
// A consumer receives, per frame and per input slot ("texture index"), a framebuffer, a size, a
// rotation and then the new-frame call. Producers call these on the shared context queue.

#include "foundation/NSObject.h"
#include "gles/OpenGLES.h"
#include "gpu/core/CMTime.h"
#include "graphics/CGGeometry.h"

class GPXFramebuffer;

// The orientation in which a filter samples its input. Values outside 0-7 sample like
// rotationNone. Modes 1, 2, 5 and 6 turn by a quarter, so they swap width and height.
enum GPURotationMode : int {
    rotationNone = 0,
    rotationLeft = 1,
    rotationRight = 2,
    rotationFlipVertical = 3,
    rotationFlipHorizontal = 4,
    rotationRightFlipVertical = 5,
    rotationRightFlipHorizontal = 6,
    rotation180 = 7,
};

// Whether the mode turns the image by a quarter (and so swaps width and height).
inline bool GPURotationSwapsWidthAndHeight(GPURotationMode mode) {
    return mode == rotationLeft || mode == rotationRight || mode == rotationRightFlipVertical ||
           mode == rotationRightFlipHorizontal;
}

struct GPUVector3 {
    GLfloat one = 0, two = 0, three = 0;
};
struct GPUVector4 {
    GLfloat one = 0, two = 0, three = 0, four = 0;
};
struct GPUMatrix3x3 {
    GPUVector3 one, two, three;
};
struct GPUMatrix4x4 {
    GPUVector4 one, two, three, four;
};

class GPXInput {
  public:
    virtual ~GPXInput() = default;

    virtual void newFrameReadyAtTime(CMTime frameTime, long textureIndex) = 0;
    virtual void setInputFramebuffer(const Ref<GPXFramebuffer>& newInputFramebuffer, long textureIndex) = 0;
    virtual long nextAvailableTextureIndex() = 0;
    virtual void setInputSize(CGSize newSize, long textureIndex) = 0;
    virtual void setInputRotation(GPURotationMode newInputRotation, long textureIndex) = 0;
    // Zero means no limit.
    virtual CGSize maximumOutputSize() = 0;
    virtual void endProcessing() = 0;
    virtual bool shouldIgnoreUpdatesToThisTarget() = 0;
    virtual bool enabled() = 0;
    virtual bool wantsMonochromeInput() = 0;
    virtual void setCurrentlyReceivingMonochromeInput(bool newValue) = 0;
};
