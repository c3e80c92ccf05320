#include "gpu/core/GPXTwoPassFilter.h"

#include "foundation/NSLog.h"
#include "gpu/core/GPXAssert.h"
#include "gpu/core/GPXContext.h"
#include "gpu/core/GPXFramebufferCache.h"

namespace detail {
bool linkFilterProgram(const Ref<GLProgram>& program, const std::function<void()>& registerAttributes) {
    if (program->initialized()) return true;
    registerAttributes();
    if (program->link()) return true;
    NSLogLine("Program link log: " + program->programLog().value_or("(null)"));
    NSLogLine("Fragment shader compile log: " + program->fragmentShaderLog().value_or("(null)"));
    NSLogLine("Vertex shader compile log: " + program->vertexShaderLog().value_or("(null)"));
    gpxAssertionFailure("Filter shader link failed");
    return false;
}
}  // namespace detail

GPXTwoPassFilter::GPXTwoPassFilter(std::string firstStageVertexShaderString,
                                   std::string firstStageFragmentShaderString,
                                   std::string secondStageVertexShaderString,
                                   std::string secondStageFragmentShaderString)
    : GPXFilter(std::move(firstStageVertexShaderString), std::move(firstStageFragmentShaderString)),
      secondStageVertexShaderString_(std::move(secondStageVertexShaderString)),
      secondStageFragmentShaderString_(std::move(secondStageFragmentShaderString)) {}

GPXTwoPassFilter::GPXTwoPassFilter(std::string firstStageFragmentShaderString,
                                   std::string secondStageFragmentShaderString)
    : GPXTwoPassFilter(kGPXDefaultVertexShaderString, std::move(firstStageFragmentShaderString),
                       kGPXDefaultVertexShaderString, std::move(secondStageFragmentShaderString)) {}

void GPXTwoPassFilter::didInit() {
    GPXFilter::didInit();
    performSyncOnSharedContextQueue(
        [this] { prepareSecondProgram(secondStageVertexShaderString_, secondStageFragmentShaderString_); });
}

bool GPXTwoPassFilter::prepareSecondProgram(const std::string& vertexShaderString,
                                            const std::string& fragmentShaderString) {
    GPXContext::useImageProcessingContext();
    auto program = GPXContext::sharedImageProcessingContext()->programForVertexShaderString(
        vertexShaderString, fragmentShaderString);
    secondFilterProgram_ = program;
    if (!detail::linkFilterProgram(program, [this] { initializeSecondaryAttributes(); })) {
        secondFilterProgram_.reset();
        return false;
    }
    secondFilterPositionAttribute_ = static_cast<GLint>(program->attributeIndex("position"));
    secondFilterTextureCoordinateAttribute_ =
        static_cast<GLint>(program->attributeIndex("inputTextureCoordinate"));
    secondFilterInputTextureUniform_ = static_cast<GLint>(program->uniformIndex("inputImageTexture"));
    secondFilterInputTextureUniform2_ = static_cast<GLint>(program->uniformIndex("inputImageTexture2"));
    GPXContext::setActiveShaderProgram(program);
    glEnableVertexAttribArray(static_cast<GLuint>(secondFilterPositionAttribute_));
    glEnableVertexAttribArray(static_cast<GLuint>(secondFilterTextureCoordinateAttribute_));
    return true;
}

void GPXTwoPassFilter::initializeSecondaryAttributes() {
    secondFilterProgram_->addAttribute("position");
    secondFilterProgram_->addAttribute("inputTextureCoordinate");
}

Ref<GPXFramebuffer> GPXTwoPassFilter::framebufferForOutput() {
    Ref<GPXFramebuffer> framebuffer;
    performSyncOnSharedContextQueue([&] { framebuffer = secondOutputFramebuffer_; });
    return framebuffer;
}

void GPXTwoPassFilter::removeOutputFramebuffer() {
    performSyncOnSharedContextQueue([&] { secondOutputFramebuffer_.reset(); });
}

void GPXTwoPassFilter::renderToTextureWithVertices(const GLfloat* vertices,
                                                   const GLfloat* textureCoordinates) {
    const CGSize size = sizeOfFBO();
    if (preventRendering_ || !filterProgram_ || !secondFilterProgram_ || !firstInputFramebuffer_ ||
        size.width < 1 || size.height < 1) {
        if (firstInputFramebuffer_) firstInputFramebuffer_->unlock();
        return;
    }
    renderPasses(vertices, textureCoordinates, size, size);
}

void GPXTwoPassFilter::renderPasses(const GLfloat* vertices, const GLfloat* textureCoordinates,
                                    CGSize firstPassSize, CGSize size) {
    auto cache = GPXContext::sharedFramebufferCache();

    // First pass: the input, rotated, into outputFramebuffer_.
    GPXContext::setActiveShaderProgram(filterProgram_);
    outputFramebuffer_ = cache->fetchFramebufferForSize(firstPassSize, outputTextureOptions_, false);
    outputFramebuffer_->activateFramebuffer();
    setUniformsForProgramAtIndex(0);
    glClearColor(backgroundColorRed_, backgroundColorGreen_, backgroundColorBlue_, backgroundColorAlpha_);
    glClear(GL_COLOR_BUFFER_BIT);
    glActiveTexture(GL_TEXTURE2);
    glBindTexture(GL_TEXTURE_2D, firstInputFramebuffer_->texture());
    glUniform1i(filterInputTextureUniform_, 2);
    glVertexAttribPointer(static_cast<GLuint>(filterPositionAttribute_), 2, GL_FLOAT, GL_FALSE, 0, vertices);
    glVertexAttribPointer(static_cast<GLuint>(filterTextureCoordinateAttribute_), 2, GL_FLOAT, GL_FALSE, 0,
                          textureCoordinates);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    firstInputFramebuffer_->unlock();
    firstInputFramebuffer_.reset();

    // Second pass: the first's result, unrotated, into secondOutputFramebuffer_.
    secondOutputFramebuffer_ = cache->fetchFramebufferForSize(size, outputTextureOptions_, false);
    secondOutputFramebuffer_->activateFramebuffer();
    GPXContext::setActiveShaderProgram(secondFilterProgram_);
    if (usingNextFrameForImageCapture_.load()) secondOutputFramebuffer_->lock();
    setUniformsForProgramAtIndex(1);
    glActiveTexture(GL_TEXTURE3);
    glBindTexture(GL_TEXTURE_2D, outputFramebuffer_->texture());
    glVertexAttribPointer(static_cast<GLuint>(secondFilterTextureCoordinateAttribute_), 2, GL_FLOAT, GL_FALSE,
                          0, textureCoordinatesForRotation(rotationNone));
    glUniform1i(secondFilterInputTextureUniform_, 3);
    glVertexAttribPointer(static_cast<GLuint>(secondFilterPositionAttribute_), 2, GL_FLOAT, GL_FALSE, 0,
                          vertices);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);

    outputFramebuffer_->unlock();
    outputFramebuffer_.reset();
    if (usingNextFrameForImageCapture_.load()) dispatch_semaphore_signal(imageCaptureSemaphore_);
}

void GPXTwoPassFilter::setAndExecuteUniformStateCallbackAtIndex(GLint uniform,
                                                                const Ref<GLProgram>& shaderProgram,
                                                                std::function<void()> uniformStateBlock) {
    if (!uniformStateBlock) return;
    if (shaderProgram == filterProgram_) {
        uniformStateRestorationBlocks_[uniform] = uniformStateBlock;
    } else {
        secondProgramUniformStateRestorationBlocks_[uniform] = uniformStateBlock;
    }
    uniformStateBlock();
}

void GPXTwoPassFilter::setUniformsForProgramAtIndex(unsigned programIndex) {
    auto& blocks =
        programIndex == 0 ? uniformStateRestorationBlocks_ : secondProgramUniformStateRestorationBlocks_;
    for (auto& [location, block] : blocks) block();
}
