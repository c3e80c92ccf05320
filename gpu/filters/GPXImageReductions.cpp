#include "gpu/filters/GPXImageReductions.h"

#include <cmath>

#include "gpu/core/GPXAssert.h"
#include "gpu/core/GPXContext.h"
#include "gpu/core/GPXFramebufferCache.h"
#include "gpu/filters/GPXFilterSupport.h"
#include "gpu/filters/GPXReadBackSupport.h"

namespace {

constexpr const char* kReductionVertexShader = R"(attribute vec4 position;
attribute vec4 inputTextureCoordinate;
uniform float texelWidth;
uniform float texelHeight;
varying vec2 upperLeftInputTextureCoordinate;
varying vec2 upperRightInputTextureCoordinate;
varying vec2 lowerLeftInputTextureCoordinate;
varying vec2 lowerRightInputTextureCoordinate;
void main()
{
    gl_Position = position;
    upperLeftInputTextureCoordinate = inputTextureCoordinate.xy + vec2(-texelWidth, -texelHeight);
    upperRightInputTextureCoordinate = inputTextureCoordinate.xy + vec2(texelWidth, -texelHeight);
    lowerLeftInputTextureCoordinate = inputTextureCoordinate.xy + vec2(-texelWidth, texelHeight);
    lowerRightInputTextureCoordinate = inputTextureCoordinate.xy + vec2(texelWidth, texelHeight);
}
)";

constexpr const char* kReductionSamples = R"(precision highp float;
uniform sampler2D inputImageTexture;
varying highp vec2 upperLeftInputTextureCoordinate;
varying highp vec2 upperRightInputTextureCoordinate;
varying highp vec2 lowerLeftInputTextureCoordinate;
varying highp vec2 lowerRightInputTextureCoordinate;
void main()
{
    highp vec4 upperLeftColor = texture2D(inputImageTexture, upperLeftInputTextureCoordinate);
    highp vec4 upperRightColor = texture2D(inputImageTexture, upperRightInputTextureCoordinate);
    highp vec4 lowerLeftColor = texture2D(inputImageTexture, lowerLeftInputTextureCoordinate);
    highp vec4 lowerRightColor = texture2D(inputImageTexture, lowerRightInputTextureCoordinate);
)";

std::string averageColorShader() {
    return detail::shaderText({kReductionSamples, R"(
    gl_FragColor = 0.25 * (upperLeftColor + upperRightColor + lowerLeftColor + lowerRightColor);
}
)"});
}

std::string luminosityShader() {
    return detail::shaderText({kReductionSamples, R"(
    const highp vec3 W = vec3(0.2125, 0.7154, 0.0721);
    highp float luminosity = 0.25 * (dot(upperLeftColor.rgb, W) + dot(upperRightColor.rgb, W) +
                                     dot(lowerLeftColor.rgb, W) + dot(lowerRightColor.rgb, W));
    gl_FragColor = vec4(vec3(luminosity), 1.0);
}
)"});
}

void checkReadBackOptions(const GPUTextureOptions& options, const char* formatMessage) {
    if (options.internalFormat != GL_RGBA) detail::gpxAssertionFailure(formatMessage);
    if (options.type != GL_UNSIGNED_BYTE)
        detail::gpxAssertionFailure(
            "The type of the output texture of this filter must be GL_UNSIGNED_BYTE.");
}

}  // namespace

// ---- average colour ----------------------------------------------------------------------------

GPXAverageColor::GPXAverageColor() : GPXAverageColor(averageColorShader()) {}

GPXAverageColor::GPXAverageColor(std::string fragmentShaderString)
    : GPXFilter(kReductionVertexShader, std::move(fragmentShaderString)) {}

void GPXAverageColor::didInit() {
    GPXFilter::didInit();
    texelWidthUniform_ = detail::uniformLocation(*this, "texelWidth");
    texelHeightUniform_ = detail::uniformLocation(*this, "texelHeight");
    setFrameProcessingCompletionBlock([](const Ref<GPXOutput>& output, CMTime frameTime) {
        if (auto filter = std::dynamic_pointer_cast<GPXAverageColor>(output))
            filter->extractAverageColorAtFrameTime(frameTime);
    });
}

void GPXAverageColor::setInputRotation(GPURotationMode, long) {
    performSyncOnSharedContextQueue([&] { inputRotation_ = rotationNone; });
}

void GPXAverageColor::renderToTextureWithVertices(const GLfloat* vertices,
                                                  const GLfloat* textureCoordinates) {
    if (preventRendering_ || !filterProgram_ || !firstInputFramebuffer_) {
        if (firstInputFramebuffer_) firstInputFramebuffer_->unlock();
        return;
    }
    outputFramebuffer_.reset();
    GPXContext::setActiveShaderProgram(filterProgram_);
    glVertexAttribPointer(static_cast<GLuint>(filterPositionAttribute_), 2, GL_FLOAT, GL_FALSE, 0, vertices);
    glVertexAttribPointer(static_cast<GLuint>(filterTextureCoordinateAttribute_), 2, GL_FLOAT, GL_FALSE, 0,
                          textureCoordinates);

    GLuint sourceTexture = firstInputFramebuffer_->texture();
    const CGSize inputSize = firstInputFramebuffer_->size();
    const double w = std::floor(inputSize.width), h = std::floor(inputSize.height);
    const int stages = w >= 1 && h >= 1 ? static_cast<int>(std::min(std::floor(std::log(w) / std::log(4.0)),
                                                                    std::floor(std::log(h) / std::log(4.0))))
                                        : 0;
    Ref<GPXFramebuffer> previous;
    for (int stage = 1; stage <= stages; ++stage) {
        const double scale = std::pow(4.0, stage);
        const CGSize stageSize = CGSizeMake(std::floor(w / scale), std::floor(h / scale));
        if (stageSize.width < 2 || stageSize.height < 2) break;
        if (previous) previous->unlock();
        previous = GPXContext::sharedFramebufferCache()->fetchFramebufferForSize(
            stageSize, outputTextureOptions_, false);
        previous->activateFramebuffer();
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glActiveTexture(GL_TEXTURE2);
        glBindTexture(GL_TEXTURE_2D, sourceTexture);
        glUniform1i(filterInputTextureUniform_, 2);
        glUniform1f(texelWidthUniform_, static_cast<GLfloat>(0.5 / stageSize.width));
        glUniform1f(texelHeightUniform_, static_cast<GLfloat>(0.5 / stageSize.height));
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        sourceTexture = previous->texture();
        finalStageSize_ = stageSize;
    }
    if (previous) {
        firstInputFramebuffer_->unlock();
        outputFramebuffer_ = previous;
    } else {
        // Too small for a stage: the input itself is what is read back and handed on; its lock
        // passes to the output.
        outputFramebuffer_ = firstInputFramebuffer_;
        finalStageSize_ = CGSizeMake(std::max(w, 0.0), std::max(h, 0.0));
    }
    firstInputFramebuffer_.reset();
}

std::size_t GPXAverageColor::readFinalStage() {
    if (!outputFramebuffer_) return 0;
    const auto width = static_cast<std::size_t>(finalStageSize_.width);
    const auto height = static_cast<std::size_t>(finalStageSize_.height);
    const std::size_t pixels = width * height;
    if (pixels == 0) return 0;
    if (rawImagePixels_.size() < pixels * 4) rawImagePixels_.resize(pixels * 4);
    GPXContext::useImageProcessingContext();
    detail::readFramebufferPixels(outputFramebuffer_, static_cast<GLsizei>(width),
                                  static_cast<GLsizei>(height), rawImagePixels_.data());
    return pixels;
}

void GPXAverageColor::extractAverageColorAtFrameTime(CMTime frameTime) {
    performSyncOnSharedContextQueue([&] {
        checkReadBackOptions(outputTextureOptions_,
                             "The output texture internal format for this filter must be GL_RGBA.");
        const std::size_t pixels = readFinalStage();
        if (pixels == 0) return;
        std::uint64_t sums[4] = {0, 0, 0, 0};
        for (std::size_t i = 0; i < pixels; ++i)
            for (int k = 0; k < 4; ++k) sums[k] += rawImagePixels_[i * 4 + static_cast<std::size_t>(k)];
        auto block = colorAverageProcessingFinishedBlock();
        const double n = static_cast<double>(pixels);
        if (block)
            block(sums[0] / n / 255.0, sums[1] / n / 255.0, sums[2] / n / 255.0, sums[3] / n / 255.0,
                  frameTime);
    });
}

void GPXAverageColor::setColorAverageProcessingFinishedBlock(ColorAverageProcessingFinishedBlock block) {
    std::lock_guard lock(blockMutex_);
    colorAverageProcessingFinishedBlock_ = std::move(block);
}

GPXAverageColor::ColorAverageProcessingFinishedBlock
GPXAverageColor::colorAverageProcessingFinishedBlock() const {
    std::lock_guard lock(blockMutex_);
    return colorAverageProcessingFinishedBlock_;
}

CGSize GPXAverageColor::finalStageSize() {
    CGSize size = CGSizeZero;
    performSyncOnSharedContextQueue([&] { size = finalStageSize_; });
    return size;
}

// ---- luminosity --------------------------------------------------------------------------------

GPXLuminosity::GPXLuminosity() : GPXAverageColor(luminosityShader()) {}

void GPXLuminosity::didInit() {
    GPXAverageColor::didInit();
    setFrameProcessingCompletionBlock([](const Ref<GPXOutput>& output, CMTime frameTime) {
        if (auto filter = std::dynamic_pointer_cast<GPXLuminosity>(output))
            filter->extractLuminosityAtFrameTime(frameTime);
    });
}

void GPXLuminosity::extractLuminosityAtFrameTime(CMTime frameTime) {
    performSyncOnSharedContextQueue([&] {
        checkReadBackOptions(outputTextureOptions_,
                             "The output texture format for this filter must be GL_RGBA.");
        const std::size_t pixels = readFinalStage();
        if (pixels == 0) return;
        std::uint64_t sum = 0;
        for (std::size_t i = 0; i < pixels; ++i) sum += rawImagePixels_[i * 4];
        auto block = luminosityProcessingFinishedBlock();
        if (block) block(static_cast<double>(sum) / static_cast<double>(pixels) / 255.0, frameTime);
    });
}

void GPXLuminosity::setLuminosityProcessingFinishedBlock(LuminosityProcessingFinishedBlock block) {
    std::lock_guard lock(luminosityBlockMutex_);
    luminosityProcessingFinishedBlock_ = std::move(block);
}

GPXLuminosity::LuminosityProcessingFinishedBlock GPXLuminosity::luminosityProcessingFinishedBlock() const {
    std::lock_guard lock(luminosityBlockMutex_);
    return luminosityProcessingFinishedBlock_;
}

// ---- motion ------------------------------------------------------------------------------------

void GPXMotionDetector::didInit() {
    lowPassFilter_ = make<GPXLowPassFilter>();
    addFilter(lowPassFilter_);
    frameComparisonFilter_ = make<GPXTwoInputFilter>(R"(varying highp vec2 textureCoordinate;
varying highp vec2 textureCoordinate2;
uniform sampler2D inputImageTexture;
uniform sampler2D inputImageTexture2;
uniform highp float intensity;
void main()
{
    lowp vec3 currentImageColor = texture2D(inputImageTexture, textureCoordinate).rgb;
    lowp vec3 lowPassImageColor = texture2D(inputImageTexture2, textureCoordinate2).rgb;
    mediump float colorDistance = distance(currentImageColor, lowPassImageColor);
    lowp float movementThreshold = step(0.2, colorDistance);
    gl_FragColor = movementThreshold * vec4(textureCoordinate2.x, textureCoordinate2.y, 1.0, 1.0);
}
)");
    addFilter(frameComparisonFilter_);
    lowPassFilter_->addTargetAtTextureLocation(frameComparisonFilter_, 1);

    averageColor_ = make<GPXAverageColor>();
    Weak<GPXMotionDetector> weak = std::dynamic_pointer_cast<GPXMotionDetector>(selfAs<GPXOutput>());
    averageColor_->setColorAverageProcessingFinishedBlock(
        [weak](CGFloat redAverage, CGFloat greenAverage, CGFloat, CGFloat alphaAverage, CMTime frameTime) {
            auto detector = weak.lock();
            if (!detector) return;
            auto block = detector->motionDetectionBlock();
            if (block)
                block(CGPointMake(redAverage / alphaAverage, greenAverage / alphaAverage), alphaAverage,
                      frameTime);
        });
    frameComparisonFilter_->addTarget(averageColor_);

    setInitialFilters({lowPassFilter_, frameComparisonFilter_});
    setTerminalFilter(frameComparisonFilter_);
    setLowPassFilterStrength(0.5);
}

void GPXMotionDetector::setLowPassFilterStrength(double newValue) {
    lowPassFilter_->setFilterStrength(newValue);
}

double GPXMotionDetector::lowPassFilterStrength() const {
    return lowPassFilter_->filterStrength();
}

void GPXMotionDetector::setMotionDetectionBlock(MotionDetectionBlock block) {
    std::lock_guard lock(blockMutex_);
    motionDetectionBlock_ = std::move(block);
}

GPXMotionDetector::MotionDetectionBlock GPXMotionDetector::motionDetectionBlock() const {
    std::lock_guard lock(blockMutex_);
    return motionDetectionBlock_;
}
