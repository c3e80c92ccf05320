#pragma once
// The single-input filter: it takes one input texture, draws it through a GLSL program into a
// framebuffer fetched from the shared cache, and hands the result to its targets.
//
// Creation: the program comes from the shared context's cache; the first filter with those texts
// registers the attributes (initializeAttributes) and links it. Subclasses finish their own set-up
// in didInit() after calling their base's, because the program is made there, once the object
// (and its overrides) exist.
//
// Uniforms: a setter returns at once and applies the value on the shared context queue. The
// setting is also stored, by uniform location, and replayed before every draw, so a filter keeps
// its values even when another filter sharing the same cached program sets the same uniform.
//
// Everything that touches the filter's state runs on the shared context queue (synchronously
// when called from elsewhere), as for any output.

#include <functional>
#include <map>
#include <string>

#include "dispatch/Dispatch.h"
#include "gpu/core/GLProgram.h"
#include "gpu/core/GPXOutput.h"
#include "gpu/core/GPXShaders.h"

class GPXFilter : public GPXOutput, public GPXInput {
  public:
    GPXFilter(std::string vertexShaderString, std::string fragmentShaderString);
    explicit GPXFilter(std::string fragmentShaderString);
    // The fragment text from the main bundle's "<name>.fsh"; a missing resource does not link.
    explicit GPXFilter(const GLShaderFilename& fragmentShaderFilename);
    // The pass-through filter.
    GPXFilter();
    ~GPXFilter() override;
    // Builds the program; subclasses call their base's first.
    virtual void didInit();

    virtual void initializeAttributes();
    virtual void setupFilterForSize(CGSize filterFrameSize);

    void useNextFrameForImageCapture() override;
    CGImageRef newCGImageFromCurrentlyProcessedOutput() override;

    virtual CGSize sizeOfFBO();
    // Eight floats: the texture coordinates for the quad's bottom-left, bottom-right, top-left and
    // top-right vertices. Values outside 0-7 give rotationNone's.
    static const GLfloat* textureCoordinatesForRotation(GPURotationMode rotationMode);
    // The full-screen quad (-1,-1), (1,-1), (-1,1), (1,1).
    static const GLfloat* imageVertices();
    virtual void renderToTextureWithVertices(const GLfloat* vertices, const GLfloat* textureCoordinates);
    virtual void informTargetsAboutNewFrameAtTime(CMTime frameTime);
    virtual CGSize outputFrameSize();

    void setBackgroundColorRed(GLfloat redComponent, GLfloat greenComponent, GLfloat blueComponent,
                               GLfloat alphaComponent);

    // Uniforms by name, in this filter's program.
    void setInteger(GLint newInteger, const std::string& uniformName);
    void setFloat(GLfloat newFloat, const std::string& uniformName);
    void setSize(CGSize newSize, const std::string& uniformName);
    void setPoint(CGPoint newPoint, const std::string& uniformName);
    void setFloatVec3(GPUVector3 newVec3, const std::string& uniformName);
    void setFloatVec4(GPUVector4 newVec4, const std::string& uniformName);
    void setFloatArray(const GLfloat* array, GLsizei count, const std::string& uniformName);

    // Uniforms by location, in the given program.
    void setMatrix3f(GPUMatrix3x3 matrix, GLint uniform, const Ref<GLProgram>& shaderProgram);
    void setMatrix4f(GPUMatrix4x4 matrix, GLint uniform, const Ref<GLProgram>& shaderProgram);
    void setFloat(GLfloat floatValue, GLint uniform, const Ref<GLProgram>& shaderProgram);
    void setPoint(CGPoint pointValue, GLint uniform, const Ref<GLProgram>& shaderProgram);
    void setSize(CGSize sizeValue, GLint uniform, const Ref<GLProgram>& shaderProgram);
    void setVec3(GPUVector3 vectorValue, GLint uniform, const Ref<GLProgram>& shaderProgram);
    void setVec4(GPUVector4 vectorValue, GLint uniform, const Ref<GLProgram>& shaderProgram);
    void setFloatArray(const GLfloat* arrayValue, GLsizei arrayLength, GLint uniform,
                       const Ref<GLProgram>& shaderProgram);
    void setInteger(GLint intValue, GLint uniform, const Ref<GLProgram>& shaderProgram);

    // Stores the block under the location (replacing an earlier one) and runs it. On the queue.
    virtual void setAndExecuteUniformStateCallbackAtIndex(GLint uniform, const Ref<GLProgram>& shaderProgram,
                                                          std::function<void()> uniformStateBlock);
    // Replays every stored setting. On the queue.
    virtual void setUniformsForProgramAtIndex(unsigned programIndex);

    // GPXInput.
    void newFrameReadyAtTime(CMTime frameTime, long textureIndex) override;
    long nextAvailableTextureIndex() override { return 0; }
    void setInputFramebuffer(const Ref<GPXFramebuffer>& newInputFramebuffer, long textureIndex) override;
    void setInputSize(CGSize newSize, long textureIndex) override;
    void setInputRotation(GPURotationMode newInputRotation, long textureIndex) override;
    CGSize maximumOutputSize() override { return CGSizeZero; }
    void endProcessing() override;
    bool shouldIgnoreUpdatesToThisTarget() override { return GPXOutput::shouldIgnoreUpdatesToThisTarget(); }
    bool enabled() override { return GPXOutput::enabled(); }
    bool wantsMonochromeInput() override { return false; }
    void setCurrentlyReceivingMonochromeInput(bool newValue) override;

    virtual CGSize rotatedSize(CGSize sizeToRotate, long textureIndex);
    static CGPoint rotatedPoint(CGPoint pointToRotate, GPURotationMode rotation);

    void forceProcessingAtSize(CGSize frameSize) override;
    void forceProcessingAtSizeRespectingAspectRatio(CGSize frameSize) override;

    bool preventRendering();
    void setPreventRendering(bool value);
    bool currentlyReceivingMonochromeInput();
    GPURotationMode inputRotation();
    // The linked program; nullptr when it failed to link.
    Ref<GLProgram> filterProgram() const { return filterProgram_; }

    std::string className() const override { return "GPXFilter"; }

  protected:
    // The steps of renderToTextureWithVertices()'s one draw that a filter with more inputs extends:
    // its other inputs are bound after the first, their coordinates switched off after the draw,
    // and every input given back (also when nothing is drawn). On the queue.
    virtual void bindAdditionalInputs() {}
    virtual void releaseAdditionalInputs() {}
    virtual void unlockInputs();

    // Touched on the shared context queue only.
    Ref<GPXFramebuffer> firstInputFramebuffer_;
    Ref<GLProgram> filterProgram_;
    GLint filterPositionAttribute_ = 0;
    GLint filterTextureCoordinateAttribute_ = 0;
    GLint filterInputTextureUniform_ = 0;
    GLfloat backgroundColorRed_ = 0, backgroundColorGreen_ = 0, backgroundColorBlue_ = 0,
            backgroundColorAlpha_ = 0;
    bool isEndProcessing_ = false;
    GPURotationMode inputRotation_ = rotationNone;
    bool currentlyReceivingMonochromeInput_ = false;
    bool preventRendering_ = false;
    std::map<GLint, std::function<void()>> uniformStateRestorationBlocks_;
    dispatch_semaphore_t imageCaptureSemaphore_;

  private:
    std::string vertexShaderString_;
    std::string fragmentShaderString_;
};
