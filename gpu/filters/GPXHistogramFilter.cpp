#include "gpu/filters/GPXHistogramFilter.h"

#include <array>

#include "gpu/core/GPXAssert.h"
#include "gpu/core/GPXContext.h"
#include "gpu/core/GPXFramebufferCache.h"
#include "gpu/core/GPXTwoPassFilter.h"
#include "gpu/filters/GPXReadBackSupport.h"

namespace {

HistogramType validType(HistogramType type) {
    return type >= kGPXHistogramRed && type <= kGPXHistogramLuminance ? type : kGPXHistogramRed;
}

// Each point goes to the centre of its value's column: at the column's left edge it would fall on
// the boundary between two columns and land one column early.
std::string pointShader(const char* colorFactor, const char* value) {
    return std::string("attribute vec4 position;\n"
                       "varying vec3 colorFactor;\n"
                       "void main()\n"
                       "{\n"
                       "    colorFactor = vec3(") +
           colorFactor +
           ");\n"
           "    gl_Position = vec4(-1.0 + (" +
           value +
           " + 0.5) * 0.0078125, 0.0, 0.0, 1.0);\n"
           "    gl_PointSize = 1.0;\n"
           "}\n";
}

void drawPoints(GLint positionAttribute, const GLubyte* bytes, GLsizei stride, GLsizei count) {
    detail::drawClientPositions(GL_POINTS, positionAttribute, 4, GL_UNSIGNED_BYTE, stride, bytes, count);
}

}  // namespace

std::string GPXHistogramFilter::vertexShaderForHistogramType(HistogramType type) {
    switch (validType(type)) {
        case kGPXHistogramGreen:
            return pointShader("0.0, 1.0, 0.0", "position.y");
        case kGPXHistogramBlue:
            return pointShader("0.0, 0.0, 1.0", "position.z");
        case kGPXHistogramLuminance:
            return pointShader("1.0, 1.0, 1.0", "dot(position.xyz, vec3(0.2125, 0.7154, 0.0721))");
        default:
            return pointShader("1.0, 0.0, 0.0", "position.x");
    }
}

const char* GPXHistogramFilter::histogramFragmentShader() {
    return "varying lowp vec3 colorFactor;\n"
           "void main()\n"
           "{\n"
           "    gl_FragColor = vec4(colorFactor * 0.00390625, 1.0);\n"
           "}\n";
}

GPXHistogramFilter::GPXHistogramFilter(HistogramType newHistogramType)
    : GPXFilter(vertexShaderForHistogramType(newHistogramType), histogramFragmentShader()),
      histogramType_(validType(newHistogramType)) {}

void GPXHistogramFilter::didInit() {
    GPXFilter::didInit();
    if (histogramType_ != kGPXHistogramRGB) return;
    performSyncOnSharedContextQueue([this] {
        GPXContext::useImageProcessingContext();
        auto context = GPXContext::sharedImageProcessingContext();
        secondFilterProgram_ = context->programForVertexShaderString(
            vertexShaderForHistogramType(kGPXHistogramGreen), histogramFragmentShader());
        thirdFilterProgram_ = context->programForVertexShaderString(
            vertexShaderForHistogramType(kGPXHistogramBlue), histogramFragmentShader());
        for (auto* program : {&secondFilterProgram_, &thirdFilterProgram_}) {
            if (!detail::linkFilterProgram(*program, [this] { initializeSecondaryAttributes(); }))
                program->reset();
        }
        if (secondFilterProgram_)
            secondFilterPositionAttribute_ =
                static_cast<GLint>(secondFilterProgram_->attributeIndex("position"));
        if (thirdFilterProgram_)
            thirdFilterPositionAttribute_ =
                static_cast<GLint>(thirdFilterProgram_->attributeIndex("position"));
    });
}

void GPXHistogramFilter::initializeSecondaryAttributes() {
    if (secondFilterProgram_ && !secondFilterProgram_->initialized())
        secondFilterProgram_->addAttribute("position");
    if (thirdFilterProgram_ && !thirdFilterProgram_->initialized())
        thirdFilterProgram_->addAttribute("position");
}

void GPXHistogramFilter::newFrameReadyAtTime(CMTime frameTime, long) {
    performSyncOnSharedContextQueue([&] {
        renderToTextureWithVertices(nullptr, nullptr);
        informTargetsAboutNewFrameAtTime(frameTime);
    });
}

void GPXHistogramFilter::setInputSize(CGSize newSize, long) {
    performSyncOnSharedContextQueue([&] {
        if (preventRendering_) return;
        inputTextureSize_ = newSize;
    });
}

void GPXHistogramFilter::setInputRotation(GPURotationMode, long) {
    performSyncOnSharedContextQueue([&] { inputRotation_ = rotationNone; });
}

void GPXHistogramFilter::renderToTextureWithVertices(const GLfloat*, const GLfloat*) {
    if (outputTextureOptions_.internalFormat != GL_RGBA)
        detail::gpxAssertionFailure("The output texture format for this filter must be GL_RGBA.");
    if (outputTextureOptions_.type != GL_UNSIGNED_BYTE)
        detail::gpxAssertionFailure(
            "The type of the output texture of this filter must be GL_UNSIGNED_BYTE.");
    if (preventRendering_ || !filterProgram_ || !firstInputFramebuffer_) {
        if (firstInputFramebuffer_) firstInputFramebuffer_->unlock();
        return;
    }
    GPXContext::useImageProcessingContext();
    const CGSize inputSize = firstInputFramebuffer_->size();
    const auto width = static_cast<std::size_t>(std::max(inputSize.width, 0.0));
    const auto height = static_cast<std::size_t>(std::max(inputSize.height, 0.0));
    const std::size_t pixels = width * height;
    // Grown for a larger frame: the read-back writes the whole frame.
    if (vertexSamplingCoordinates_.size() < pixels * 4) vertexSamplingCoordinates_.assign(pixels * 4, 0);
    if (pixels > 0)
        detail::readFramebufferPixels(firstInputFramebuffer_, static_cast<GLsizei>(width),
                                      static_cast<GLsizei>(height), vertexSamplingCoordinates_.data());

    outputFramebuffer_ = GPXContext::sharedFramebufferCache()->fetchFramebufferForSize(
        sizeOfFBO(), outputTextureOptions_, false);
    outputFramebuffer_->activateFramebuffer();
    if (usingNextFrameForImageCapture_.load()) outputFramebuffer_->lock();

    GPXContext::setActiveShaderProgram(filterProgram_);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glBlendEquation(GL_FUNC_ADD);
    glBlendFunc(GL_ONE, GL_ONE);
    glEnable(GL_BLEND);

    const unsigned factor = std::max(downsamplingFactor_.load(), 1u);
    const auto stride = static_cast<GLsizei>((factor - 1) * 4);
    const auto count = static_cast<GLsizei>(pixels / factor);
    if (count > 0) {
        drawPoints(filterPositionAttribute_, vertexSamplingCoordinates_.data(), stride, count);
        if (histogramType_ == kGPXHistogramRGB) {
            if (secondFilterProgram_) {
                GPXContext::setActiveShaderProgram(secondFilterProgram_);
                drawPoints(secondFilterPositionAttribute_, vertexSamplingCoordinates_.data(), stride, count);
            }
            if (thirdFilterProgram_) {
                GPXContext::setActiveShaderProgram(thirdFilterProgram_);
                drawPoints(thirdFilterPositionAttribute_, vertexSamplingCoordinates_.data(), stride, count);
            }
        }
    }
    glDisable(GL_BLEND);
    firstInputFramebuffer_->unlock();
    if (usingNextFrameForImageCapture_.load()) dispatch_semaphore_signal(imageCaptureSemaphore_);
}
