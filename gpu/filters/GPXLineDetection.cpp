#include "gpu/filters/GPXLineDetection.h"

#include <cmath>

#include "gpu/core/GPXAssert.h"
#include "gpu/core/GPXContext.h"
#include "gpu/core/GPXFramebufferCache.h"
#include "gpu/filters/GPXFilterSupport.h"
#include "gpu/filters/GPXReadBackSupport.h"

namespace {

constexpr const char* kPositionOnlyVertexShader = "attribute vec4 position;\n"
                                                  "void main()\n"
                                                  "{\n"
                                                  "    gl_Position = position;\n"
                                                  "}\n";

constexpr const char* kConstantVoteShader = "void main()\n"
                                            "{\n"
                                            "    gl_FragColor = vec4(0.004, 0.004, 0.004, 1.0);\n"
                                            "}\n";

constexpr const char* kCountingVoteShader = R"(#extension GL_EXT_shader_framebuffer_fetch : require
void main()
{
    mediump vec4 fragmentData = gl_LastFragData[0];
    fragmentData.r = fragmentData.r + 0.004;
    fragmentData.g = fragmentData.g + 0.004 * floor(fragmentData.r);
    fragmentData.b = fragmentData.b + 0.004 * floor(fragmentData.g);
    fragmentData.a = fragmentData.a + 0.004 * floor(fragmentData.b);
    fragmentData = fract(fragmentData);
    gl_FragColor = vec4(fragmentData.rgb, 1.0);
}
)";

void checkByteOutput(const GPUTextureOptions& options) {
    if (options.internalFormat != GL_RGBA)
        detail::gpxAssertionFailure("The output texture format for this filter must be GL_RGBA.");
    if (options.type != GL_UNSIGNED_BYTE)
        detail::gpxAssertionFailure(
            "The type of the output texture of this filter must be GL_UNSIGNED_BYTE.");
}

}  // namespace

// ---- the vote space ------------------------------------------------------------------------------

GPXParallelCoordinateLineTransformFilter::GPXParallelCoordinateLineTransformFilter()
    : GPXFilter(kPositionOnlyVertexShader,
                GPXContext::deviceSupportsFramebufferReads() ? kCountingVoteShader : kConstantVoteShader) {}

void GPXParallelCoordinateLineTransformFilter::initializeAttributes() {
    filterProgram_->addAttribute("position");
}

void GPXParallelCoordinateLineTransformFilter::generateLineCoordinates() {
    performSyncOnSharedContextQueue([&] {
        const auto width = static_cast<std::size_t>(std::max(inputTextureSize_.width, 0.0));
        const auto height = static_cast<std::size_t>(std::max(inputTextureSize_.height, 0.0));
        rawImagePixels_.assign(width * height * 4, 0);
        maxLinePairsToRender_ = static_cast<std::uint32_t>(width * height / 4);
        lineCoordinates_.assign(static_cast<std::size_t>(maxLinePairsToRender_) * 8, 0.0f);
        generatedSize_ = inputTextureSize_;
    });
}

unsigned GPXParallelCoordinateLineTransformFilter::linePairsToRender() {
    unsigned value = 0;
    performSyncOnSharedContextQueue([&] { value = linePairsToRender_; });
    return value;
}

void GPXParallelCoordinateLineTransformFilter::newFrameReadyAtTime(CMTime frameTime, long) {
    performSyncOnSharedContextQueue([&] {
        // Sized by the frame in hand, not only the first: a larger frame would overrun them.
        if (generatedSize_.width != inputTextureSize_.width ||
            generatedSize_.height != inputTextureSize_.height)
            generateLineCoordinates();
        renderToTextureWithVertices(nullptr, nullptr);
        informTargetsAboutNewFrameAtTime(frameTime);
    });
}

void GPXParallelCoordinateLineTransformFilter::renderToTextureWithVertices(const GLfloat*, const GLfloat*) {
    if (preventRendering_ || !filterProgram_ || !firstInputFramebuffer_) {
        if (firstInputFramebuffer_) firstInputFramebuffer_->unlock();
        return;
    }
    checkByteOutput(outputTextureOptions_);
    const CGSize size = sizeOfFBO();
    const auto width = static_cast<std::size_t>(std::max(generatedSize_.width, 0.0));
    const auto height = static_cast<std::size_t>(std::max(generatedSize_.height, 0.0));
    if (size.width < 1 || size.height < 1 || width == 0 || height == 0) {
        firstInputFramebuffer_->unlock();
        return;
    }
    GPXContext::useImageProcessingContext();
    glFinish();
    detail::readFramebufferPixels(firstInputFramebuffer_, static_cast<GLsizei>(width),
                                  static_cast<GLsizei>(height), rawImagePixels_.data());

    linePairsToRender_ = 0;
    const std::size_t rowBytes = width * 4;
    for (std::size_t byte = 0; byte < rawImagePixels_.size(); byte += 8) {
        if (rawImagePixels_[byte] == 0 || maxLinePairsToRender_ == 0) continue;
        const std::size_t row = byte / rowBytes, column = (byte % rowBytes) / 4;
        const auto x =
            static_cast<GLfloat>(2.0 * static_cast<double>(column) / static_cast<double>(width) - 1.0);
        const auto y =
            static_cast<GLfloat>(2.0 * static_cast<double>(row) / static_cast<double>(height) - 1.0);
        const std::size_t pair = std::min<std::size_t>(linePairsToRender_, maxLinePairsToRender_ - 1);
        GLfloat* p = &lineCoordinates_[pair * 8];
        p[0] = -1.0f;
        p[1] = -y;
        p[2] = 0.0f;
        p[3] = x;
        p[4] = 0.0f;
        p[5] = x;
        p[6] = 1.0f;
        p[7] = y;
        linePairsToRender_ = std::min(linePairsToRender_ + 1, maxLinePairsToRender_);
    }

    outputFramebuffer_ =
        GPXContext::sharedFramebufferCache()->fetchFramebufferForSize(size, outputTextureOptions_, false);
    outputFramebuffer_->activateFramebuffer();
    if (usingNextFrameForImageCapture_.load()) outputFramebuffer_->lock();
    GPXContext::setActiveShaderProgram(filterProgram_);
    setUniformsForProgramAtIndex(0);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    if (!GPXContext::deviceSupportsFramebufferReads()) {
        glBlendEquation(GL_FUNC_ADD);
        glBlendFunc(GL_ONE, GL_ONE);
        glEnable(GL_BLEND);
    }
    glLineWidth(1.0f);
    detail::drawClientPositions(GL_LINES, filterPositionAttribute_, 2, GL_FLOAT, 0, lineCoordinates_.data(),
                                static_cast<GLsizei>(linePairsToRender_ * 4));
    glDisable(GL_BLEND);
    firstInputFramebuffer_->unlock();
    if (usingNextFrameForImageCapture_.load()) dispatch_semaphore_signal(imageCaptureSemaphore_);
}

// ---- the detector ------------------------------------------------------------------------------

void GPXHoughTransformLineDetector::didInit() {
    thresholdEdgeDetectionFilter_ = make<GPXCannyEdgeDetectionFilter>();
    addFilter(thresholdEdgeDetectionFilter_);
    parallelCoordinateLineTransformFilter_ = make<GPXParallelCoordinateLineTransformFilter>();
    addFilter(parallelCoordinateLineTransformFilter_);
    nonMaximumSuppressionFilter_ =
        make<GPXThresholdedNonMaximumSuppressionFilter>(GPXContext::deviceSupportsFramebufferReads());
    addFilter(nonMaximumSuppressionFilter_);

    Weak<GPXHoughTransformLineDetector> weak =
        std::dynamic_pointer_cast<GPXHoughTransformLineDetector>(selfAs<GPXOutput>());
    nonMaximumSuppressionFilter_->setFrameProcessingCompletionBlock(
        [weak](const Ref<GPXOutput>&, CMTime frameTime) {
            if (auto detector = weak.lock()) detector->extractLineParametersFromImageAtFrameTime(frameTime);
        });

    thresholdEdgeDetectionFilter_->addTarget(parallelCoordinateLineTransformFilter_);
    parallelCoordinateLineTransformFilter_->addTarget(nonMaximumSuppressionFilter_);
    setInitialFilters({thresholdEdgeDetectionFilter_});
    setTerminalFilter(nonMaximumSuppressionFilter_);
    setLineDetectionThreshold(0.12);
}

void GPXHoughTransformLineDetector::setLineDetectionThreshold(double newValue) {
    nonMaximumSuppressionFilter_->setThreshold(newValue);
}

double GPXHoughTransformLineDetector::lineDetectionThreshold() const {
    return nonMaximumSuppressionFilter_->threshold();
}

void GPXHoughTransformLineDetector::setLinesDetectedBlock(LinesDetectedBlock block) {
    std::lock_guard lock(blockMutex_);
    linesDetectedBlock_ = std::move(block);
}

GPXHoughTransformLineDetector::LinesDetectedBlock GPXHoughTransformLineDetector::linesDetectedBlock() const {
    std::lock_guard lock(blockMutex_);
    return linesDetectedBlock_;
}

void GPXHoughTransformLineDetector::extractLineParametersFromImageAtFrameTime(CMTime frameTime) {
    performSyncOnSharedContextQueue([&] {
        checkByteOutput(outputTextureOptions());
        auto framebuffer = nonMaximumSuppressionFilter_->framebufferForOutput();
        if (!framebuffer) return;
        const CGSize size = nonMaximumSuppressionFilter_->outputFrameSize();
        const auto width = static_cast<std::size_t>(std::max(size.width, 0.0));
        const auto height = static_cast<std::size_t>(std::max(size.height, 0.0));
        if (rawImagePixels_.size() < width * height * 4) rawImagePixels_.resize(width * height * 4);
        if (linesArray_.empty()) linesArray_.assign(2048, 0.0f);
        GPXContext::useImageProcessingContext();
        if (width * height > 0)
            detail::readFramebufferPixels(framebuffer, static_cast<GLsizei>(width),
                                          static_cast<GLsizei>(height), rawImagePixels_.data());
        std::size_t numberOfLines = 0;
        const std::size_t rowBytes = width * 4;
        for (std::size_t byte = 0; byte < width * height * 4; byte += 4) {
            if (rawImagePixels_[byte] == 0) continue;
            const std::size_t row = byte / rowBytes, column = (byte % rowBytes) / 4;
            const double x = 2.0 * static_cast<double>(column) / static_cast<double>(width) - 1.0;
            const double y = 2.0 * static_cast<double>(row) / static_cast<double>(height) - 1.0;
            double slope = 0, intercept = 0;
            if (x > -0.05 && x < 0.05) {
                slope = 100000.0;
                intercept = y;
            } else if (x <= -0.05) {
                slope = -1.0 / x - 1.0;
                intercept = y / x;
            } else {
                slope = 1.0 - 1.0 / x;
                intercept = y / x;
            }
            const std::size_t slot = std::min(numberOfLines, kMaximumLines - 1);
            linesArray_[slot * 2] = static_cast<GLfloat>(slope);
            linesArray_[slot * 2 + 1] = static_cast<GLfloat>(intercept);
            numberOfLines = std::min(numberOfLines + 1, kMaximumLines);
        }
        if (auto block = linesDetectedBlock()) block(linesArray_.data(), numberOfLines, frameTime);
    });
}

// ---- line generator ----------------------------------------------------------------------------

GPXLineGenerator::GPXLineGenerator()
    : GPXFilter(kPositionOnlyVertexShader, "uniform lowp vec3 lineColor;\n"
                                           "void main()\n"
                                           "{\n"
                                           "    gl_FragColor = vec4(lineColor, 1.0);\n"
                                           "}\n") {}

void GPXLineGenerator::didInit() {
    GPXFilter::didInit();
    lineWidthUniform_ = detail::uniformLocation(*this, "lineWidth");
    lineColorUniform_ = detail::uniformLocation(*this, "lineColor");
    setLineWidth(1.0);
    setLineColorRed(0.0f, 1.0f, 0.0f);
}

void GPXLineGenerator::setLineWidth(double newValue) {
    lineWidth_.store(newValue);
    performSyncOnSharedContextQueue([&] {
        if (!filterProgram_) return;
        GPXContext::setActiveShaderProgram(filterProgram_);
        glLineWidth(static_cast<GLfloat>(newValue));
    });
}

void GPXLineGenerator::setLineColorRed(GLfloat redComponent, GLfloat greenComponent, GLfloat blueComponent) {
    setVec3({redComponent, greenComponent, blueComponent}, lineColorUniform_, filterProgram_);
}

void GPXLineGenerator::renderLinesFromArray(const GLfloat* lineSlopeAndIntercepts,
                                            unsigned long numberOfLines, CMTime frameTime) {
    performSyncOnSharedContextQueue([&] {
        if (preventRendering_ || !filterProgram_) return;
        const CGSize size = sizeOfFBO();
        if (size.width < 1 || size.height < 1) return;
        if (lineCoordinates_.empty()) lineCoordinates_.assign(kMaximumLines * 4, 0.0f);
        const std::size_t count =
            lineSlopeAndIntercepts ? std::min<std::size_t>(numberOfLines, kMaximumLines) : 0;
        for (std::size_t i = 0; i < count; ++i) {
            const GLfloat slope = lineSlopeAndIntercepts[i * 2],
                          intercept = lineSlopeAndIntercepts[i * 2 + 1];
            GLfloat* p = &lineCoordinates_[i * 4];
            if (slope > 9000.0f) {
                p[0] = intercept;
                p[1] = -1.0f;
                p[2] = intercept;
                p[3] = 1.0f;
            } else {
                p[0] = -1.0f;
                p[1] = intercept - slope;
                p[2] = 1.0f;
                p[3] = intercept + slope;
            }
        }
        GPXContext::useImageProcessingContext();
        GPXContext::setActiveShaderProgram(filterProgram_);
        outputFramebuffer_ =
            GPXContext::sharedFramebufferCache()->fetchFramebufferForSize(size, outputTextureOptions_, false);
        outputFramebuffer_->activateFramebuffer();
        setUniformsForProgramAtIndex(0);
        glLineWidth(static_cast<GLfloat>(lineWidth_.load()));
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glBlendEquation(GL_FUNC_ADD);
        glBlendFunc(GL_ONE, GL_ONE);
        glEnable(GL_BLEND);
        detail::drawClientPositions(GL_LINES, filterPositionAttribute_, 2, GL_FLOAT, 0,
                                    lineCoordinates_.data(), static_cast<GLsizei>(2 * count));
        glDisable(GL_BLEND);
        informTargetsAboutNewFrameAtTime(frameTime);
    });
}

// ---- crosshair generator -----------------------------------------------------------------------

GPXCrosshairGenerator::GPXCrosshairGenerator()
    : GPXFilter(R"(attribute vec4 position;
uniform float crosshairWidth;
varying vec2 centerLocation;
varying float pointSpacing;
void main()
{
    gl_Position = vec4(((position.xy * 2.0) - 1.0), 0.0, 1.0);
    gl_PointSize = crosshairWidth + 1.0;
    pointSpacing = 1.0 / crosshairWidth;
    centerLocation = vec2(pointSpacing * ceil(crosshairWidth / 2.0), pointSpacing * ceil(crosshairWidth / 2.0));
}
)",
                R"(uniform lowp vec3 crosshairColor;
varying highp vec2 centerLocation;
varying highp float pointSpacing;
void main()
{
    lowp vec2 distanceFromCenter = abs(centerLocation - gl_PointCoord.xy);
    lowp float axisTest = step(pointSpacing, gl_PointCoord.y) * step(distanceFromCenter.x, 0.09) +
                          step(pointSpacing, gl_PointCoord.x) * step(distanceFromCenter.y, 0.09);
    gl_FragColor = vec4(crosshairColor * axisTest, axisTest);
}
)") {}

void GPXCrosshairGenerator::didInit() {
    GPXFilter::didInit();
    crosshairWidthUniform_ = detail::uniformLocation(*this, "crosshairWidth");
    crosshairColorUniform_ = detail::uniformLocation(*this, "crosshairColor");
    setCrosshairWidth(5.0);
    setCrosshairColorRed(0.0f, 1.0f, 0.0f);
}

void GPXCrosshairGenerator::setCrosshairWidth(double newValue) {
    crosshairWidth_.store(newValue);
    setFloat(static_cast<GLfloat>(newValue), crosshairWidthUniform_, filterProgram_);
}

void GPXCrosshairGenerator::setCrosshairColorRed(GLfloat redComponent, GLfloat greenComponent,
                                                 GLfloat blueComponent) {
    setVec3({redComponent, greenComponent, blueComponent}, crosshairColorUniform_, filterProgram_);
}

void GPXCrosshairGenerator::renderCrosshairsFromArray(const GLfloat* crosshairCoordinates,
                                                      unsigned long numberOfCrosshairs, CMTime frameTime) {
    performSyncOnSharedContextQueue([&] {
        if (preventRendering_ || !filterProgram_) return;
        const CGSize size = sizeOfFBO();
        if (size.width < 1 || size.height < 1) return;
        GPXContext::useImageProcessingContext();
        GPXContext::setActiveShaderProgram(filterProgram_);
        outputFramebuffer_ =
            GPXContext::sharedFramebufferCache()->fetchFramebufferForSize(size, outputTextureOptions_, false);
        outputFramebuffer_->activateFramebuffer();
        setUniformsForProgramAtIndex(0);
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        if (crosshairCoordinates)
            detail::drawClientPositions(GL_POINTS, filterPositionAttribute_, 2, GL_FLOAT, 0,
                                        crosshairCoordinates, static_cast<GLsizei>(numberOfCrosshairs));
        informTargetsAboutNewFrameAtTime(frameTime);
    });
}
