#include "gpu/filters/GPXCornerDetectionFilters.h"

#include "foundation/NSDate.h"
#include "foundation/NSLog.h"
#include "gpu/core/GPXAssert.h"
#include "gpu/core/GPXContext.h"
#include "gpu/filters/GPXFilterSupport.h"
#include "gpu/filters/GPXReadBackSupport.h"

namespace {

constexpr const char* kDerivativeShader = R"(precision highp float;
varying vec2 textureCoordinate;
varying vec2 leftTextureCoordinate;
varying vec2 rightTextureCoordinate;
varying vec2 topTextureCoordinate;
varying vec2 topLeftTextureCoordinate;
varying vec2 topRightTextureCoordinate;
varying vec2 bottomTextureCoordinate;
varying vec2 bottomLeftTextureCoordinate;
varying vec2 bottomRightTextureCoordinate;
uniform sampler2D inputImageTexture;
uniform float edgeStrength;
void main()
{
    float topIntensity = texture2D(inputImageTexture, topTextureCoordinate).r;
    float topRightIntensity = texture2D(inputImageTexture, topRightTextureCoordinate).r;
    float topLeftIntensity = texture2D(inputImageTexture, topLeftTextureCoordinate).r;
    float bottomIntensity = texture2D(inputImageTexture, bottomTextureCoordinate).r;
    float bottomLeftIntensity = texture2D(inputImageTexture, bottomLeftTextureCoordinate).r;
    float bottomRightIntensity = texture2D(inputImageTexture, bottomRightTextureCoordinate).r;
    float leftIntensity = texture2D(inputImageTexture, leftTextureCoordinate).r;
    float rightIntensity = texture2D(inputImageTexture, rightTextureCoordinate).r;
    float verticalDerivative = -topLeftIntensity - topIntensity - topRightIntensity + bottomLeftIntensity +
                               bottomIntensity + bottomRightIntensity;
    float horizontalDerivative = -bottomLeftIntensity - leftIntensity - topLeftIntensity + bottomRightIntensity +
                                 rightIntensity + topRightIntensity;
    verticalDerivative = verticalDerivative * edgeStrength;
    horizontalDerivative = horizontalDerivative * edgeStrength;
    gl_FragColor = vec4(horizontalDerivative * horizontalDerivative, verticalDerivative * verticalDerivative,
                        ((verticalDerivative * horizontalDerivative) + 1.0) / 2.0, 1.0);
}
)";

// x, y and the signed product z' of the blurred derivatives, then the class's cornerness.
std::string cornernessShader(const char* formula) {
    return detail::shaderText({R"(precision highp float;
varying vec2 textureCoordinate;
uniform sampler2D inputImageTexture;
uniform lowp float sensitivity;
const mediump float harrisConstant = 0.04;
void main()
{
    mediump vec3 derivativeElements = texture2D(inputImageTexture, textureCoordinate).rgb;
    mediump float derivativeSum = derivativeElements.x + derivativeElements.y;
    mediump float zElement = (derivativeElements.z * 2.0) - 1.0;
    mediump float cornerness = )",
                               formula, R"(;
    gl_FragColor = vec4(vec3(cornerness * sensitivity), 1.0);
}
)"});
}

const std::string& harrisShader() {
    static const std::string text =
        cornernessShader("derivativeElements.x * derivativeElements.y - (zElement * zElement) - "
                         "harrisConstant * derivativeSum * "
                         "derivativeSum");
    return text;
}

}  // namespace

GPXXYDerivativeFilter::GPXXYDerivativeFilter() : GPXSobelEdgeDetectionFilter(kDerivativeShader) {}

// ---- Harris and its variants --------------------------------------------------------------------

GPXHarrisCornerDetectionFilter::GPXHarrisCornerDetectionFilter()
    : GPXHarrisCornerDetectionFilter(harrisShader()) {}

GPXHarrisCornerDetectionFilter::GPXHarrisCornerDetectionFilter(std::string cornerDetectionFragmentShader)
    : cornerDetectionFragmentShader_(std::move(cornerDetectionFragmentShader)) {}

void GPXHarrisCornerDetectionFilter::didInit() {
    derivativeFilter_ = make<GPXXYDerivativeFilter>();
    addFilter(derivativeFilter_);
    blurFilter_ = make<GPXGaussianBlurFilter>();
    addFilter(blurFilter_);
    harrisCornerDetectionFilter_ = make<GPXFilter>(cornerDetectionFragmentShader_);
    addFilter(harrisCornerDetectionFilter_);
    nonMaximumSuppressionFilter_ = make<GPXThresholdedNonMaximumSuppressionFilter>();
    addFilter(nonMaximumSuppressionFilter_);

    Weak<GPXHarrisCornerDetectionFilter> weak =
        std::dynamic_pointer_cast<GPXHarrisCornerDetectionFilter>(selfAs<GPXOutput>());
    nonMaximumSuppressionFilter_->setFrameProcessingCompletionBlock(
        [weak](const Ref<GPXOutput>&, CMTime frameTime) {
            if (auto detector = weak.lock()) detector->extractCornerLocationsFromImageAtFrameTime(frameTime);
        });

    derivativeFilter_->addTarget(blurFilter_);
    blurFilter_->addTarget(harrisCornerDetectionFilter_);
    harrisCornerDetectionFilter_->addTarget(nonMaximumSuppressionFilter_);
    setInitialFilters({derivativeFilter_});
    setTerminalFilter(nonMaximumSuppressionFilter_);

    setBlurRadiusInPixels(2.0);
    setSensitivity(5.0);
    setThreshold(0.2);
}

void GPXHarrisCornerDetectionFilter::setBlurRadiusInPixels(double newValue) {
    blurFilter_->setBlurRadiusInPixels(newValue);
}
double GPXHarrisCornerDetectionFilter::blurRadiusInPixels() const {
    return blurFilter_->blurRadiusInPixels();
}
void GPXHarrisCornerDetectionFilter::setSensitivity(double newValue) {
    sensitivity_.store(newValue);
    harrisCornerDetectionFilter_->setFloat(static_cast<GLfloat>(newValue), "sensitivity");
}
double GPXHarrisCornerDetectionFilter::sensitivity() const {
    return sensitivity_.load();
}
void GPXHarrisCornerDetectionFilter::setThreshold(double newValue) {
    nonMaximumSuppressionFilter_->setThreshold(newValue);
}
double GPXHarrisCornerDetectionFilter::threshold() const {
    return nonMaximumSuppressionFilter_->threshold();
}

void GPXHarrisCornerDetectionFilter::setCornersDetectedBlock(CornersDetectedBlock block) {
    std::lock_guard lock(blockMutex_);
    cornersDetectedBlock_ = std::move(block);
}

GPXHarrisCornerDetectionFilter::CornersDetectedBlock
GPXHarrisCornerDetectionFilter::cornersDetectedBlock() const {
    std::lock_guard lock(blockMutex_);
    return cornersDetectedBlock_;
}

void GPXHarrisCornerDetectionFilter::extractCornerLocationsFromImageAtFrameTime(CMTime frameTime) {
    performSyncOnSharedContextQueue([&] {
        const GPUTextureOptions options = outputTextureOptions();
        if (options.internalFormat != GL_RGBA)
            detail::gpxAssertionFailure("The output texture format for this filter must be GL_RGBA.");
        if (options.type != GL_UNSIGNED_BYTE)
            detail::gpxAssertionFailure(
                "The type of the output texture of this filter must be GL_UNSIGNED_BYTE.");
        auto framebuffer = nonMaximumSuppressionFilter_->framebufferForOutput();
        if (!framebuffer) return;
        const CGSize size = nonMaximumSuppressionFilter_->outputFrameSize();
        const auto width = static_cast<std::size_t>(std::max(size.width, 0.0));
        const auto height = static_cast<std::size_t>(std::max(size.height, 0.0));
        // Grown for a larger frame: the read-back writes the whole output.
        if (rawImagePixels_.size() < width * height * 4) rawImagePixels_.resize(width * height * 4);
        if (cornersArray_.empty()) cornersArray_.assign(1024, 0.0f);
        GPXContext::useImageProcessingContext();
        if (width * height > 0)
            detail::readFramebufferPixels(framebuffer, static_cast<GLsizei>(width),
                                          static_cast<GLsizei>(height), rawImagePixels_.data());

        const double start = CFAbsoluteTimeGetCurrent();
        std::size_t numberOfCorners = 0;
        const std::size_t rowBytes = width * 4;
        for (std::size_t byte = 0; byte < width * height * 4; byte += 4) {
            if (rawImagePixels_[byte] == 0) continue;
            const std::size_t row = byte / rowBytes, column = (byte % rowBytes) / 4;
            const std::size_t slot = std::min(numberOfCorners, kMaximumCorners - 1);
            cornersArray_[slot * 2] =
                static_cast<GLfloat>(static_cast<double>(column) / static_cast<double>(width));
            cornersArray_[slot * 2 + 1] =
                static_cast<GLfloat>(static_cast<double>(row) / static_cast<double>(height));
            numberOfCorners = std::min(numberOfCorners + 1, kMaximumCorners);
        }
        NSLog("Processing time : %f ms", (CFAbsoluteTimeGetCurrent() - start) * 1000.0);
        if (auto block = cornersDetectedBlock()) block(cornersArray_.data(), numberOfCorners, frameTime);
    });
}

GPXNobleCornerDetectionFilter::GPXNobleCornerDetectionFilter()
    : GPXHarrisCornerDetectionFilter(cornernessShader(
          "(derivativeElements.x * derivativeElements.y - (zElement * zElement)) / derivativeSum")) {}

GPXShiTomasiFeatureDetectionFilter::GPXShiTomasiFeatureDetectionFilter()
    : GPXHarrisCornerDetectionFilter(
          cornernessShader("derivativeElements.x + derivativeElements.y - sqrt((derivativeElements.x - "
                           "derivativeElements.y) * "
                           "(derivativeElements.x - derivativeElements.y) + 4.0 * zElement * zElement)")) {}

void GPXShiTomasiFeatureDetectionFilter::didInit() {
    GPXHarrisCornerDetectionFilter::didInit();
    setSensitivity(1.5);
}

// ---- colour packing and local binary pattern ----------------------------------------------------

GPXColorPackingFilter::GPXColorPackingFilter()
    : GPXFilter(R"(attribute vec4 position;
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
)",
                R"(precision highp float;
uniform sampler2D inputImageTexture;
varying highp vec2 upperLeftInputTextureCoordinate;
varying highp vec2 upperRightInputTextureCoordinate;
varying highp vec2 lowerLeftInputTextureCoordinate;
varying highp vec2 lowerRightInputTextureCoordinate;
void main()
{
    float upperLeftIntensity = texture2D(inputImageTexture, upperLeftInputTextureCoordinate).r;
    float upperRightIntensity = texture2D(inputImageTexture, upperRightInputTextureCoordinate).r;
    float lowerLeftIntensity = texture2D(inputImageTexture, lowerLeftInputTextureCoordinate).r;
    float lowerRightIntensity = texture2D(inputImageTexture, lowerRightInputTextureCoordinate).r;
    gl_FragColor = vec4(upperLeftIntensity, upperRightIntensity, lowerLeftIntensity, lowerRightIntensity);
}
)") {}

void GPXColorPackingFilter::didInit() {
    GPXFilter::didInit();
    texelWidthUniform_ = detail::uniformLocation(*this, "texelWidth");
    texelHeightUniform_ = detail::uniformLocation(*this, "texelHeight");
}

void GPXColorPackingFilter::setupFilterForSize(CGSize) {
    // Half a texel of the input: with the output at half size, the four reads fall on the centres
    // of the 2x2 block's pixels.
    performSyncOnSharedContextQueue([&] {
        if (!filterProgram_ || inputTextureSize_.width <= 0 || inputTextureSize_.height <= 0) return;
        setFloat(static_cast<GLfloat>(0.5 / inputTextureSize_.width), texelWidthUniform_, filterProgram_);
        setFloat(static_cast<GLfloat>(0.5 / inputTextureSize_.height), texelHeightUniform_, filterProgram_);
    });
}

CGSize GPXColorPackingFilter::outputFrameSize() {
    return CGSizeMake(std::floor(inputTextureSize_.width / 2), std::floor(inputTextureSize_.height / 2));
}

CGSize GPXColorPackingFilter::sizeOfFBO() {
    const CGSize outputSize = maximumOutputSize();
    if (outputSize.width > 0 && outputSize.height > 0 && inputTextureSize_.width >= outputSize.width)
        return outputSize;
    return outputFrameSize();
}

GPXLocalBinaryPatternFilter::GPXLocalBinaryPatternFilter()
    : GPX3x3TextureSamplingFilter(R"(precision highp float;
varying vec2 textureCoordinate;
varying vec2 leftTextureCoordinate;
varying vec2 rightTextureCoordinate;
varying vec2 topTextureCoordinate;
varying vec2 topLeftTextureCoordinate;
varying vec2 topRightTextureCoordinate;
varying vec2 bottomTextureCoordinate;
varying vec2 bottomLeftTextureCoordinate;
varying vec2 bottomRightTextureCoordinate;
uniform sampler2D inputImageTexture;
void main()
{
    lowp float centerIntensity = texture2D(inputImageTexture, textureCoordinate).r;
    lowp float bottomLeftIntensity = texture2D(inputImageTexture, bottomLeftTextureCoordinate).r;
    lowp float topRightIntensity = texture2D(inputImageTexture, topRightTextureCoordinate).r;
    lowp float topLeftIntensity = texture2D(inputImageTexture, topLeftTextureCoordinate).r;
    lowp float bottomRightIntensity = texture2D(inputImageTexture, bottomRightTextureCoordinate).r;
    lowp float leftIntensity = texture2D(inputImageTexture, leftTextureCoordinate).r;
    lowp float rightIntensity = texture2D(inputImageTexture, rightTextureCoordinate).r;
    lowp float bottomIntensity = texture2D(inputImageTexture, bottomTextureCoordinate).r;
    lowp float topIntensity = texture2D(inputImageTexture, topTextureCoordinate).r;
    lowp float byteTally = 1.0 / 255.0 * step(centerIntensity, topRightIntensity);
    byteTally += 2.0 / 255.0 * step(centerIntensity, topIntensity);
    byteTally += 4.0 / 255.0 * step(centerIntensity, topLeftIntensity);
    byteTally += 8.0 / 255.0 * step(centerIntensity, leftIntensity);
    byteTally += 16.0 / 255.0 * step(centerIntensity, bottomLeftIntensity);
    byteTally += 32.0 / 255.0 * step(centerIntensity, bottomIntensity);
    byteTally += 64.0 / 255.0 * step(centerIntensity, bottomRightIntensity);
    byteTally += 128.0 / 255.0 * step(centerIntensity, rightIntensity);
    gl_FragColor = vec4(byteTally, byteTally, byteTally, 1.0);
}
)") {}
