#include "gpu/core/GPXFilter.h"

#include <array>
#include <vector>

#include "foundation/NSLog.h"
#include "gpu/core/GPXAssert.h"
#include "gpu/core/GPXContext.h"
#include "gpu/core/GPXFramebufferCache.h"

namespace {

const GLfloat kImageVertices[] = {-1.0f, -1.0f, 1.0f, -1.0f, -1.0f, 1.0f, 1.0f, 1.0f};

// Per mode: the coordinates for the bottom-left, bottom-right, top-left and top-right vertices.
const GLfloat kRotationCoordinates[8][8] = {
    {0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f},  // none
    {1.0f, 0.0f, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f},  // left
    {0.0f, 1.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f, 0.0f},  // right
    {0.0f, 1.0f, 1.0f, 1.0f, 0.0f, 0.0f, 1.0f, 0.0f},  // flip vertical
    {1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 0.0f, 1.0f},  // flip horizontal
    {0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 0.0f, 1.0f, 1.0f},  // right, flip vertical
    {1.0f, 1.0f, 1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f},  // right, flip horizontal
    {1.0f, 1.0f, 0.0f, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f},  // 180
};

bool isZero(CGSize size) {
    return size.width == 0 && size.height == 0;
}

}  // namespace

GPXFilter::GPXFilter(std::string vertexShaderString, std::string fragmentShaderString)
    : imageCaptureSemaphore_(dispatch_semaphore_create(0)),
      vertexShaderString_(std::move(vertexShaderString)),
      fragmentShaderString_(std::move(fragmentShaderString)) {
    dispatch_semaphore_signal(imageCaptureSemaphore_);
}

GPXFilter::GPXFilter(std::string fragmentShaderString)
    : GPXFilter(kGPXDefaultVertexShaderString, std::move(fragmentShaderString)) {}

GPXFilter::GPXFilter(const GLShaderFilename& fragmentShaderFilename)
    : GPXFilter(GLProgram::shaderTextFromResource(fragmentShaderFilename.name, "fsh").value_or("")) {}

GPXFilter::GPXFilter() : GPXFilter(kGPXPassthroughFragmentShaderString) {}

GPXFilter::~GPXFilter() = default;

void GPXFilter::didInit() {
    performSyncOnSharedContextQueue([this] {
        GPXContext::useImageProcessingContext();
        filterProgram_ = GPXContext::sharedImageProcessingContext()->programForVertexShaderString(
            vertexShaderString_, fragmentShaderString_);
        if (!filterProgram_->initialized()) {
            initializeAttributes();
            if (!filterProgram_->link()) {
                NSLogLine("Program link log: " + filterProgram_->programLog().value_or("(null)"));
                NSLogLine("Fragment shader compile log: " +
                          filterProgram_->fragmentShaderLog().value_or("(null)"));
                NSLogLine("Vertex shader compile log: " +
                          filterProgram_->vertexShaderLog().value_or("(null)"));
                filterProgram_.reset();
                detail::gpxAssertionFailure("Filter shader link failed");
                return;
            }
        }
        filterPositionAttribute_ = static_cast<GLint>(filterProgram_->attributeIndex("position"));
        filterTextureCoordinateAttribute_ =
            static_cast<GLint>(filterProgram_->attributeIndex("inputTextureCoordinate"));
        filterInputTextureUniform_ = static_cast<GLint>(filterProgram_->uniformIndex("inputImageTexture"));
        GPXContext::setActiveShaderProgram(filterProgram_);
        glEnableVertexAttribArray(static_cast<GLuint>(filterPositionAttribute_));
        glEnableVertexAttribArray(static_cast<GLuint>(filterTextureCoordinateAttribute_));
    });
}

void GPXFilter::initializeAttributes() {
    filterProgram_->addAttribute("position");
    filterProgram_->addAttribute("inputTextureCoordinate");
}

void GPXFilter::setupFilterForSize(CGSize) {}

void GPXFilter::useNextFrameForImageCapture() {
    usingNextFrameForImageCapture_.store(true);
    // Taken without waiting: a capture already pending keeps its hold.
    dispatch_semaphore_wait(imageCaptureSemaphore_, DISPATCH_TIME_NOW);
}

CGImageRef GPXFilter::newCGImageFromCurrentlyProcessedOutput() {
    const dispatch_time_t deadline =
        dispatch_time(DISPATCH_TIME_NOW, detail::kGPXImageCaptureTimeoutNanoseconds);
    if (dispatch_semaphore_wait(imageCaptureSemaphore_, deadline) != 0) return nullptr;
    Ref<GPXFramebuffer> framebuffer = framebufferForOutput();
    usingNextFrameForImageCapture_.store(false);
    dispatch_semaphore_signal(imageCaptureSemaphore_);
    return framebuffer ? framebuffer->newCGImageFromFramebufferContents() : nullptr;
}

CGSize GPXFilter::sizeOfFBO() {
    CGSize outputSize = maximumOutputSize();
    if (isZero(outputSize) || inputTextureSize_.width < outputSize.width) return inputTextureSize_;
    return outputSize;
}

const GLfloat* GPXFilter::textureCoordinatesForRotation(GPURotationMode rotationMode) {
    int mode = static_cast<int>(rotationMode);
    if (mode < 0 || mode > 7) mode = 0;
    return kRotationCoordinates[mode];
}

const GLfloat* GPXFilter::imageVertices() {
    return kImageVertices;
}

void GPXFilter::renderToTextureWithVertices(const GLfloat* vertices, const GLfloat* textureCoordinates) {
    if (preventRendering_ || !filterProgram_ || !firstInputFramebuffer_) {
        unlockInputs();
        return;
    }
    const CGSize size = sizeOfFBO();
    if (size.width < 1 || size.height < 1) {
        // Nothing to draw into; a framebuffer of no size would be incomplete.
        unlockInputs();
        return;
    }
    GPXContext::setActiveShaderProgram(filterProgram_);
    outputFramebuffer_ =
        GPXContext::sharedFramebufferCache()->fetchFramebufferForSize(size, outputTextureOptions_, false);
    outputFramebuffer_->activateFramebuffer();
    if (usingNextFrameForImageCapture_.load()) outputFramebuffer_->lock();

    setUniformsForProgramAtIndex(0);

    glClearColor(backgroundColorRed_, backgroundColorGreen_, backgroundColorBlue_, backgroundColorAlpha_);
    glClear(GL_COLOR_BUFFER_BIT);

    glActiveTexture(GL_TEXTURE2);
    glBindTexture(GL_TEXTURE_2D, firstInputFramebuffer_->texture());
    glUniform1i(filterInputTextureUniform_, 2);
    bindAdditionalInputs();

    glVertexAttribPointer(static_cast<GLuint>(filterPositionAttribute_), 2, GL_FLOAT, GL_FALSE, 0, vertices);
    glVertexAttribPointer(static_cast<GLuint>(filterTextureCoordinateAttribute_), 2, GL_FLOAT, GL_FALSE, 0,
                          textureCoordinates);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    releaseAdditionalInputs();

    unlockInputs();
    if (usingNextFrameForImageCapture_.load()) dispatch_semaphore_signal(imageCaptureSemaphore_);
}

void GPXFilter::unlockInputs() {
    if (firstInputFramebuffer_) firstInputFramebuffer_->unlock();
}

void GPXFilter::informTargetsAboutNewFrameAtTime(CMTime frameTime) {
    if (frameProcessingCompletionBlock_) frameProcessingCompletionBlock_(selfAs<GPXOutput>(), frameTime);

    // Sizes and framebuffers reach every target before any target renders.
    const auto list = targets_;
    const auto indices = targetTextureIndices_;
    const auto ignored = targetToIgnoreForUpdates_.lock();
    const CGSize frameSize = outputFrameSize();
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i] == ignored) continue;
        setInputFramebufferForTarget(list[i], indices[i]);
        list[i]->setInputSize(frameSize, indices[i]);
    }
    if (auto framebuffer = framebufferForOutput()) framebuffer->unlock();
    if (!usingNextFrameForImageCapture_.load()) removeOutputFramebuffer();
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i] == ignored) continue;
        list[i]->newFrameReadyAtTime(frameTime, indices[i]);
    }
}

CGSize GPXFilter::outputFrameSize() {
    return inputTextureSize_;
}

void GPXFilter::setBackgroundColorRed(GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha) {
    performSyncOnSharedContextQueue([&] {
        backgroundColorRed_ = red;
        backgroundColorGreen_ = green;
        backgroundColorBlue_ = blue;
        backgroundColorAlpha_ = alpha;
    });
}

// ---- uniforms by name ------------------------------------------------------------------------

namespace {
GLint locationOf(const Ref<GLProgram>& program, const std::string& name) {
    GLint location = -1;
    if (!program) return location;
    performSyncOnSharedContextQueue([&] { location = static_cast<GLint>(program->uniformIndex(name)); });
    return location;
}
}  // namespace

void GPXFilter::setInteger(GLint newInteger, const std::string& uniformName) {
    setInteger(newInteger, locationOf(filterProgram_, uniformName), filterProgram_);
}
void GPXFilter::setFloat(GLfloat newFloat, const std::string& uniformName) {
    setFloat(newFloat, locationOf(filterProgram_, uniformName), filterProgram_);
}
void GPXFilter::setSize(CGSize newSize, const std::string& uniformName) {
    setSize(newSize, locationOf(filterProgram_, uniformName), filterProgram_);
}
void GPXFilter::setPoint(CGPoint newPoint, const std::string& uniformName) {
    setPoint(newPoint, locationOf(filterProgram_, uniformName), filterProgram_);
}
void GPXFilter::setFloatVec3(GPUVector3 newVec3, const std::string& uniformName) {
    setVec3(newVec3, locationOf(filterProgram_, uniformName), filterProgram_);
}
void GPXFilter::setFloatVec4(GPUVector4 newVec4, const std::string& uniformName) {
    setVec4(newVec4, locationOf(filterProgram_, uniformName), filterProgram_);
}
void GPXFilter::setFloatArray(const GLfloat* array, GLsizei count, const std::string& uniformName) {
    setFloatArray(array, count, locationOf(filterProgram_, uniformName), filterProgram_);
}

// ---- uniforms by location --------------------------------------------------------------------
// Each setter returns at once; on the queue it makes the program active, then stores and runs the
// GL call so that every later draw replays it.

#define GPX_UNIFORM_SETTER(body)                                                                             \
    if (!shaderProgram) return;                                                                              \
    performAsyncOnSharedContextQueue([this, keepAlive = self(), uniform, shaderProgram, value] {             \
        GPXContext::setActiveShaderProgram(shaderProgram);                                                   \
        setAndExecuteUniformStateCallbackAtIndex(uniform, shaderProgram, [uniform, value] { body; });        \
    })

void GPXFilter::setMatrix3f(GPUMatrix3x3 value, GLint uniform, const Ref<GLProgram>& shaderProgram) {
    GPX_UNIFORM_SETTER(glUniformMatrix3fv(uniform, 1, GL_FALSE, reinterpret_cast<const GLfloat*>(&value)));
}
void GPXFilter::setMatrix4f(GPUMatrix4x4 value, GLint uniform, const Ref<GLProgram>& shaderProgram) {
    GPX_UNIFORM_SETTER(glUniformMatrix4fv(uniform, 1, GL_FALSE, reinterpret_cast<const GLfloat*>(&value)));
}
void GPXFilter::setFloat(GLfloat value, GLint uniform, const Ref<GLProgram>& shaderProgram) {
    GPX_UNIFORM_SETTER(glUniform1f(uniform, value));
}
void GPXFilter::setPoint(CGPoint pointValue, GLint uniform, const Ref<GLProgram>& shaderProgram) {
    const std::array<GLfloat, 2> value{static_cast<GLfloat>(pointValue.x),
                                       static_cast<GLfloat>(pointValue.y)};
    GPX_UNIFORM_SETTER(glUniform2fv(uniform, 1, value.data()));
}
void GPXFilter::setSize(CGSize sizeValue, GLint uniform, const Ref<GLProgram>& shaderProgram) {
    const std::array<GLfloat, 2> value{static_cast<GLfloat>(sizeValue.width),
                                       static_cast<GLfloat>(sizeValue.height)};
    GPX_UNIFORM_SETTER(glUniform2fv(uniform, 1, value.data()));
}
void GPXFilter::setVec3(GPUVector3 value, GLint uniform, const Ref<GLProgram>& shaderProgram) {
    GPX_UNIFORM_SETTER(glUniform3fv(uniform, 1, reinterpret_cast<const GLfloat*>(&value)));
}
void GPXFilter::setVec4(GPUVector4 value, GLint uniform, const Ref<GLProgram>& shaderProgram) {
    GPX_UNIFORM_SETTER(glUniform4fv(uniform, 1, reinterpret_cast<const GLfloat*>(&value)));
}
void GPXFilter::setFloatArray(const GLfloat* arrayValue, GLsizei arrayLength, GLint uniform,
                              const Ref<GLProgram>& shaderProgram) {
    // Copied now: the caller's array may be gone by the time the queue applies it.
    const std::vector<GLfloat> value(arrayValue,
                                     arrayValue + (arrayValue && arrayLength > 0 ? arrayLength : 0));
    GPX_UNIFORM_SETTER(glUniform1fv(uniform, static_cast<GLsizei>(value.size()), value.data()));
}
void GPXFilter::setInteger(GLint value, GLint uniform, const Ref<GLProgram>& shaderProgram) {
    GPX_UNIFORM_SETTER(glUniform1i(uniform, value));
}

#undef GPX_UNIFORM_SETTER

void GPXFilter::setAndExecuteUniformStateCallbackAtIndex(GLint uniform, const Ref<GLProgram>&,
                                                         std::function<void()> uniformStateBlock) {
    if (!uniformStateBlock) return;
    uniformStateRestorationBlocks_[uniform] = uniformStateBlock;
    uniformStateBlock();
}

void GPXFilter::setUniformsForProgramAtIndex(unsigned) {
    for (auto& [location, block] : uniformStateRestorationBlocks_) block();
}

// ---- GPXInput ---------------------------------------------------------------------------------

void GPXFilter::newFrameReadyAtTime(CMTime frameTime, long) {
    performSyncOnSharedContextQueue([&] {
        renderToTextureWithVertices(kImageVertices, textureCoordinatesForRotation(inputRotation_));
        informTargetsAboutNewFrameAtTime(frameTime);
    });
}

void GPXFilter::setInputFramebuffer(const Ref<GPXFramebuffer>& newInputFramebuffer, long) {
    performSyncOnSharedContextQueue([&] {
        firstInputFramebuffer_ = newInputFramebuffer;
        if (firstInputFramebuffer_) firstInputFramebuffer_->lock();
    });
}

CGSize GPXFilter::rotatedSize(CGSize sizeToRotate, long) {
    if (GPURotationSwapsWidthAndHeight(inputRotation_))
        return CGSizeMake(sizeToRotate.height, sizeToRotate.width);
    return sizeToRotate;
}

CGPoint GPXFilter::rotatedPoint(CGPoint p, GPURotationMode rotation) {
    switch (rotation) {
        case rotationLeft:
            return CGPointMake(1.0 - p.y, p.x);
        case rotationRight:
            return CGPointMake(p.y, 1.0 - p.x);
        case rotationFlipVertical:
            return CGPointMake(p.x, 1.0 - p.y);
        case rotationFlipHorizontal:
            return CGPointMake(1.0 - p.x, p.y);
        case rotationRightFlipVertical:
            return CGPointMake(p.y, p.x);
        case rotationRightFlipHorizontal:
            return CGPointMake(1.0 - p.y, 1.0 - p.x);
        case rotation180:
            return CGPointMake(1.0 - p.x, 1.0 - p.y);
        default:
            return p;
    }
}

void GPXFilter::setInputSize(CGSize newSize, long textureIndex) {
    performSyncOnSharedContextQueue([&] {
        if (preventRendering_) return;
        if (overrideInputSize_) {
            // A picture of no size has no aspect ratio to fit: the size stays.
            if (!isZero(forcedMaximumSize_) && newSize.width > 0 && newSize.height > 0) {
                CGRect insetRect = AVMakeRectWithAspectRatioInsideRect(
                    newSize, CGRectMake(0, 0, forcedMaximumSize_.width, forcedMaximumSize_.height));
                inputTextureSize_ = insetRect.size;
            }
        } else {
            inputTextureSize_ = rotatedSize(newSize, textureIndex);
        }
        setupFilterForSize(sizeOfFBO());
    });
}

void GPXFilter::setInputRotation(GPURotationMode newInputRotation, long) {
    performSyncOnSharedContextQueue([&] { inputRotation_ = newInputRotation; });
}

void GPXFilter::forceProcessingAtSize(CGSize frameSize) {
    performSyncOnSharedContextQueue([&] {
        if (isZero(frameSize)) {
            overrideInputSize_ = false;
        } else {
            overrideInputSize_ = true;
            inputTextureSize_ = frameSize;
            forcedMaximumSize_ = CGSizeZero;
        }
    });
}

void GPXFilter::forceProcessingAtSizeRespectingAspectRatio(CGSize frameSize) {
    performSyncOnSharedContextQueue([&] {
        if (isZero(frameSize)) {
            overrideInputSize_ = false;
            inputTextureSize_ = CGSizeZero;
            forcedMaximumSize_ = CGSizeZero;
        } else {
            overrideInputSize_ = true;
            forcedMaximumSize_ = frameSize;
        }
    });
}

void GPXFilter::endProcessing() {
    performSyncOnSharedContextQueue([&] {
        if (isEndProcessing_) return;
        isEndProcessing_ = true;
        for (auto& target : std::vector<Ref<GPXInput>>(targets_)) target->endProcessing();
    });
}

void GPXFilter::setCurrentlyReceivingMonochromeInput(bool newValue) {
    performSyncOnSharedContextQueue([&] { currentlyReceivingMonochromeInput_ = newValue; });
}

bool GPXFilter::preventRendering() {
    bool value = false;
    performSyncOnSharedContextQueue([&] { value = preventRendering_; });
    return value;
}

void GPXFilter::setPreventRendering(bool value) {
    performSyncOnSharedContextQueue([&] { preventRendering_ = value; });
}

bool GPXFilter::currentlyReceivingMonochromeInput() {
    bool value = false;
    performSyncOnSharedContextQueue([&] { value = currentlyReceivingMonochromeInput_; });
    return value;
}

GPURotationMode GPXFilter::inputRotation() {
    GPURotationMode value = rotationNone;
    performSyncOnSharedContextQueue([&] { value = inputRotation_; });
    return value;
}
