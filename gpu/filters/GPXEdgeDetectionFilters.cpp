#include "gpu/filters/GPXEdgeDetectionFilters.h"

#include "gpu/core/GPXShaders.h"
#include "gpu/filters/GPXFilterSupport.h"

namespace {

constexpr const char* kLuminanceFragmentShader = R"(precision highp float;
varying vec2 textureCoordinate;
uniform sampler2D inputImageTexture;
const highp vec3 W = vec3(0.2125, 0.7154, 0.0721);
void main()
{
    lowp vec4 textureColor = texture2D(inputImageTexture, textureCoordinate);
    float luminance = dot(textureColor.rgb, W);
    gl_FragColor = vec4(vec3(luminance), textureColor.a);
}
)";

// The nine red values as tl, t, tr, l, c, r, bl, b, br.
constexpr const char* kNeighbourReads = R"(precision highp float;
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
    float bl = texture2D(inputImageTexture, bottomLeftTextureCoordinate).r;
    float tr = texture2D(inputImageTexture, topRightTextureCoordinate).r;
    float tl = texture2D(inputImageTexture, topLeftTextureCoordinate).r;
    float br = texture2D(inputImageTexture, bottomRightTextureCoordinate).r;
    float l = texture2D(inputImageTexture, leftTextureCoordinate).r;
    float r = texture2D(inputImageTexture, rightTextureCoordinate).r;
    float b = texture2D(inputImageTexture, bottomTextureCoordinate).r;
    float t = texture2D(inputImageTexture, topTextureCoordinate).r;
    vec4 centerColor = texture2D(inputImageTexture, textureCoordinate);
    float c = centerColor.r;
)";

constexpr const char* kSobelGradient = R"(
    float h = -tl - 2.0 * t - tr + bl + 2.0 * b + br;
    float v = -bl - 2.0 * l - tl + br + 2.0 * r + tr;
)";

std::string neighbourShader(std::initializer_list<const char*> body, const char* uniforms = "") {
    std::string text = std::string("precision highp float;\n") + uniforms + kNeighbourReads;
    for (const char* part : body) text.append(part);
    text.append("}\n");
    return text;
}

std::string sobelShader() {
    return neighbourShader({kSobelGradient, "    float mag = length(vec2(h, v)) * edgeStrength;\n"
                                            "    gl_FragColor = vec4(vec3(mag), 1.0);\n"},
                           "uniform float edgeStrength;\n");
}

// "local maximum" factors shared by the suppression stages: k and M as in the plain filter.
constexpr const char* kLocalMaximum = R"(
    float multiplier = 1.0 - step(c, t);
    multiplier = multiplier * (1.0 - step(c, tl));
    multiplier = multiplier * (1.0 - step(c, l));
    multiplier = multiplier * (1.0 - step(c, bl));
    float maxValue = max(c, b);
    maxValue = max(maxValue, br);
    maxValue = max(maxValue, r);
    maxValue = max(maxValue, tr);
)";

constexpr const char* kPackedSuppressionShader = R"(precision highp float;
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
uniform float texelWidth;
uniform float texelHeight;
uniform lowp float threshold;
float packedValue(vec2 coordinate)
{
    vec4 packedRead = texture2D(inputImageTexture, coordinate);
    return packedRead.r + packedRead.g * 256.0 + packedRead.b * 65536.0;
}
#define at(dx, dy) packedValue(textureCoordinate + vec2(dx * texelWidth, dy * texelHeight))
void main()
{
    float c = packedValue(textureCoordinate);
    float tl = packedValue(topLeftTextureCoordinate);
    float tr = packedValue(topRightTextureCoordinate);
    float t = packedValue(topTextureCoordinate);
    float l = packedValue(leftTextureCoordinate);
    float bl = packedValue(bottomLeftTextureCoordinate);
    float b = packedValue(bottomTextureCoordinate);
    float br = packedValue(bottomRightTextureCoordinate);
    float r = packedValue(rightTextureCoordinate);
    float lower = max(max(t, tl), max(l, bl));
    lower = max(lower, max(max(at(-2.0, -2.0), at(-2.0, -1.0)), max(at(-2.0, 0.0), at(-2.0, 1.0))));
    lower = max(lower, max(max(at(-2.0, 2.0), at(-1.0, 2.0)), max(at(0.0, 2.0), at(1.0, 2.0))));
    float notAbove = max(max(b, br), max(r, tr));
    notAbove = max(notAbove, max(max(at(-1.0, -2.0), at(0.0, -2.0)), max(at(1.0, -2.0), at(2.0, -2.0))));
    notAbove = max(notAbove, max(max(at(2.0, -1.0), at(2.0, 0.0)), max(at(2.0, 1.0), at(2.0, 2.0))));
    float isMaximum = (1.0 - step(c, lower)) * step(notAbove, c);
    float f = step(threshold, isMaximum * c);
    gl_FragColor = vec4(f * c, tl, tr, t);
}
)";

}  // namespace

// ---- the Sobel mechanism -----------------------------------------------------------------------

GPXSobelEdgeDetectionFilter::GPXSobelEdgeDetectionFilter() : GPXSobelEdgeDetectionFilter(sobelShader()) {}

GPXSobelEdgeDetectionFilter::GPXSobelEdgeDetectionFilter(std::string fragmentShaderString)
    : GPXTwoPassFilter(kGPXDefaultVertexShaderString, kLuminanceFragmentShader,
                       kGPXNearbyTexelSamplingVertexShaderString, std::move(fragmentShaderString)) {}

void GPXSobelEdgeDetectionFilter::didInit() {
    GPXTwoPassFilter::didInit();
    texelWidthUniform_ = detail::uniformLocation(secondFilterProgram_, "texelWidth");
    texelHeightUniform_ = detail::uniformLocation(secondFilterProgram_, "texelHeight");
    edgeStrengthUniform_ = detail::uniformLocation(secondFilterProgram_, "edgeStrength");
    setEdgeStrength(1.0);
}

void GPXSobelEdgeDetectionFilter::setupFilterForSize(CGSize filterFrameSize) {
    // The second pass samples the first's result, which is already at the render size and
    // unturned: the steps are never swapped.
    performSyncOnSharedContextQueue([&] {
        if (hasOverriddenImageSizeFactor_ || filterFrameSize.width <= 0 || filterFrameSize.height <= 0)
            return;
        texelWidth_ = 1.0 / filterFrameSize.width;
        texelHeight_ = 1.0 / filterFrameSize.height;
        setFloat(static_cast<GLfloat>(texelWidth_), texelWidthUniform_, secondFilterProgram_);
        setFloat(static_cast<GLfloat>(texelHeight_), texelHeightUniform_, secondFilterProgram_);
    });
}

void GPXSobelEdgeDetectionFilter::setTexelWidth(double newValue) {
    performSyncOnSharedContextQueue([&] {
        hasOverriddenImageSizeFactor_ = true;
        texelWidth_ = newValue;
    });
    setFloat(static_cast<GLfloat>(newValue), texelWidthUniform_, secondFilterProgram_);
}

void GPXSobelEdgeDetectionFilter::setTexelHeight(double newValue) {
    performSyncOnSharedContextQueue([&] {
        hasOverriddenImageSizeFactor_ = true;
        texelHeight_ = newValue;
    });
    setFloat(static_cast<GLfloat>(newValue), texelHeightUniform_, secondFilterProgram_);
}

double GPXSobelEdgeDetectionFilter::texelWidth() {
    double value = 0;
    performSyncOnSharedContextQueue([&] { value = texelWidth_; });
    return value;
}

double GPXSobelEdgeDetectionFilter::texelHeight() {
    double value = 0;
    performSyncOnSharedContextQueue([&] { value = texelHeight_; });
    return value;
}

bool GPXSobelEdgeDetectionFilter::hasOverriddenImageSizeFactor() {
    bool value = false;
    performSyncOnSharedContextQueue([&] { value = hasOverriddenImageSizeFactor_; });
    return value;
}

void GPXSobelEdgeDetectionFilter::setEdgeStrength(double newValue) {
    edgeStrength_.store(newValue);
    setFloat(static_cast<GLfloat>(newValue), edgeStrengthUniform_, secondFilterProgram_);
}

double GPXSobelEdgeDetectionFilter::edgeStrength() const {
    return edgeStrength_.load();
}

GPXPrewittEdgeDetectionFilter::GPXPrewittEdgeDetectionFilter()
    : GPXSobelEdgeDetectionFilter(neighbourShader({R"(
    float h = -tl - t - tr + bl + b + br;
    float v = -bl - l - tl + br + r + tr;
    float mag = length(vec2(h, v)) * edgeStrength;
    gl_FragColor = vec4(vec3(mag), 1.0);
)"},
                                                  "uniform float edgeStrength;\n")) {}

GPXSketchFilter::GPXSketchFilter()
    : GPXSobelEdgeDetectionFilter(neighbourShader({kSobelGradient, R"(
    float mag = 1.0 - length(vec2(h, v)) * edgeStrength;
    gl_FragColor = vec4(vec3(mag), 1.0);
)"},
                                                  "uniform float edgeStrength;\n")) {}

GPXThresholdEdgeDetectionFilter::GPXThresholdEdgeDetectionFilter()
    : GPXThresholdEdgeDetectionFilter(
          neighbourShader({R"(
    float h = (c - t) + (b - c);
    float v = (c - l) + (r - c);
    float mag = length(vec2(h, v)) * edgeStrength;
    gl_FragColor = vec4(vec3(step(threshold, mag)), 1.0);
)"},
                          "uniform float edgeStrength;\nuniform lowp float threshold;\n")) {}

GPXThresholdEdgeDetectionFilter::GPXThresholdEdgeDetectionFilter(std::string fragmentShaderString)
    : GPXSobelEdgeDetectionFilter(std::move(fragmentShaderString)) {}

void GPXThresholdEdgeDetectionFilter::didInit() {
    GPXSobelEdgeDetectionFilter::didInit();
    thresholdUniform_ = detail::uniformLocation(secondFilterProgram_, "threshold");
    setThreshold(0.25);
}

void GPXThresholdEdgeDetectionFilter::setThreshold(double newValue) {
    threshold_.store(newValue);
    setFloat(static_cast<GLfloat>(newValue), thresholdUniform_, secondFilterProgram_);
}

double GPXThresholdEdgeDetectionFilter::threshold() const {
    return threshold_.load();
}

GPXThresholdSketchFilter::GPXThresholdSketchFilter()
    : GPXThresholdEdgeDetectionFilter(
          neighbourShader({kSobelGradient, R"(
    float mag = length(vec2(h, v)) * edgeStrength;
    gl_FragColor = vec4(vec3(1.0 - step(threshold, mag)), 1.0);
)"},
                          "uniform float edgeStrength;\nuniform lowp float threshold;\n")) {}

// ---- the detectors' stages ---------------------------------------------------------------------

GPXDirectionalSobelEdgeDetectionFilter::GPXDirectionalSobelEdgeDetectionFilter()
    : GPX3x3TextureSamplingFilter(neighbourShader({R"(
    vec2 gradientDirection;
    gradientDirection.x = -bl - 2.0 * l - tl + br + 2.0 * r + tr;
    gradientDirection.y = -tl - 2.0 * t - tr + bl + 2.0 * b + br;
    float gradientMagnitude = length(gradientDirection);
    // A flat neighbourhood has no direction; normalising it would give not-a-number.
    vec2 normalizedDirection = gradientMagnitude > 0.0 ? gradientDirection / gradientMagnitude : vec2(0.0);
    normalizedDirection = sign(normalizedDirection) * floor(abs(normalizedDirection) + 0.617316);
    normalizedDirection = (normalizedDirection + 1.0) * 0.5;
    gl_FragColor = vec4(gradientMagnitude, normalizedDirection.x, normalizedDirection.y, 1.0);
)"})) {}

GPXDirectionalNonMaximumSuppressionFilter::GPXDirectionalNonMaximumSuppressionFilter()
    : GPXFilter(R"(precision highp float;
varying vec2 textureCoordinate;
uniform sampler2D inputImageTexture;
uniform float texelWidth;
uniform float texelHeight;
uniform mediump float upperThreshold;
uniform mediump float lowerThreshold;
void main()
{
    vec3 currentGradientAndDirection = texture2D(inputImageTexture, textureCoordinate).rgb;
    // The direction was quantised to -1, 0 or 1 and stored as a byte, which turns 0 into 1/255:
    // rounded back, so that a zero component samples the pixel's own column or row.
    vec2 gradientDirection = (floor(currentGradientAndDirection.gb * 2.0 + 0.5) - 1.0) * vec2(texelWidth, texelHeight);
    float firstSampledGradientMagnitude = texture2D(inputImageTexture, textureCoordinate + gradientDirection).r;
    float secondSampledGradientMagnitude = texture2D(inputImageTexture, textureCoordinate - gradientDirection).r;
    float multiplier = step(firstSampledGradientMagnitude, currentGradientAndDirection.r);
    multiplier = multiplier * step(secondSampledGradientMagnitude, currentGradientAndDirection.r);
    float thresholdCompliance = smoothstep(lowerThreshold, upperThreshold, currentGradientAndDirection.r);
    multiplier = multiplier * thresholdCompliance;
    gl_FragColor = vec4(multiplier, multiplier, multiplier, 1.0);
}
)") {}

void GPXDirectionalNonMaximumSuppressionFilter::didInit() {
    GPXFilter::didInit();
    texelWidthUniform_ = detail::uniformLocation(*this, "texelWidth");
    texelHeightUniform_ = detail::uniformLocation(*this, "texelHeight");
    upperThresholdUniform_ = detail::uniformLocation(*this, "upperThreshold");
    lowerThresholdUniform_ = detail::uniformLocation(*this, "lowerThreshold");
    setUpperThreshold(0.5);
    setLowerThreshold(0.1);
}

void GPXDirectionalNonMaximumSuppressionFilter::setupFilterForSize(CGSize filterFrameSize) {
    performSyncOnSharedContextQueue([&] {
        if (hasOverriddenImageSizeFactor_) return;
        detail::applyAutomaticTexelSteps(*this, filterFrameSize, inputRotation_, texelWidthUniform_,
                                         texelHeightUniform_, texelWidth_, texelHeight_);
    });
}

void GPXDirectionalNonMaximumSuppressionFilter::setTexelWidth(double newValue) {
    performSyncOnSharedContextQueue([&] {
        hasOverriddenImageSizeFactor_ = true;
        texelWidth_ = newValue;
    });
    setFloat(static_cast<GLfloat>(newValue), texelWidthUniform_, filterProgram_);
}

void GPXDirectionalNonMaximumSuppressionFilter::setTexelHeight(double newValue) {
    performSyncOnSharedContextQueue([&] {
        hasOverriddenImageSizeFactor_ = true;
        texelHeight_ = newValue;
    });
    setFloat(static_cast<GLfloat>(newValue), texelHeightUniform_, filterProgram_);
}

double GPXDirectionalNonMaximumSuppressionFilter::texelWidth() {
    double value = 0;
    performSyncOnSharedContextQueue([&] { value = texelWidth_; });
    return value;
}

double GPXDirectionalNonMaximumSuppressionFilter::texelHeight() {
    double value = 0;
    performSyncOnSharedContextQueue([&] { value = texelHeight_; });
    return value;
}

GPX_DEFINE_FLOAT_PARAMETER(GPXDirectionalNonMaximumSuppressionFilter, upperThreshold, setUpperThreshold,
                           upperThreshold_, upperThresholdUniform_)
GPX_DEFINE_FLOAT_PARAMETER(GPXDirectionalNonMaximumSuppressionFilter, lowerThreshold, setLowerThreshold,
                           lowerThreshold_, lowerThresholdUniform_)

GPXWeakPixelInclusionFilter::GPXWeakPixelInclusionFilter()
    : GPX3x3TextureSamplingFilter(neighbourShader({R"(
    float pixelIntensitySum = bl + tr + tl + br + l + r + b + t + c;
    float sumTest = step(1.5, pixelIntensitySum);
    float pixelTest = step(0.01, c);
    gl_FragColor = vec4(vec3(sumTest * pixelTest), 1.0);
)"})) {}

GPXNonMaximumSuppressionFilter::GPXNonMaximumSuppressionFilter()
    : GPX3x3TextureSamplingFilter(neighbourShader({kLocalMaximum, R"(
    gl_FragColor = vec4(centerColor.rgb * step(maxValue, c) * multiplier, 1.0);
)"})) {}

GPXThresholdedNonMaximumSuppressionFilter::GPXThresholdedNonMaximumSuppressionFilter()
    : GPXThresholdedNonMaximumSuppressionFilter(false) {}

GPXThresholdedNonMaximumSuppressionFilter::GPXThresholdedNonMaximumSuppressionFilter(bool packedColorspace)
    : GPX3x3TextureSamplingFilter(packedColorspace ? std::string(kPackedSuppressionShader)
                                                   : neighbourShader({kLocalMaximum, R"(
    float finalValue = c * step(maxValue, c) * multiplier;
    finalValue = step(threshold, finalValue);
    gl_FragColor = vec4(finalValue, finalValue, finalValue, 1.0);
)"},
                                                                     "uniform lowp float threshold;\n")) {}

void GPXThresholdedNonMaximumSuppressionFilter::didInit() {
    GPX3x3TextureSamplingFilter::didInit();
    thresholdUniform_ = detail::uniformLocation(*this, "threshold");
    setThreshold(0.9);
}

GPX_DEFINE_FLOAT_PARAMETER(GPXThresholdedNonMaximumSuppressionFilter, threshold, setThreshold, threshold_,
                           thresholdUniform_)

// ---- Canny -------------------------------------------------------------------------------------

void GPXCannyEdgeDetectionFilter::didInit() {
    luminanceFilter_ = make<GPXGrayscaleFilter>();
    addFilter(luminanceFilter_);
    blurFilter_ = make<GPXSingleComponentGaussianBlurFilter>();
    addFilter(blurFilter_);
    edgeDetectionFilter_ = make<GPXDirectionalSobelEdgeDetectionFilter>();
    addFilter(edgeDetectionFilter_);
    nonMaximumSuppressionFilter_ = make<GPXDirectionalNonMaximumSuppressionFilter>();
    addFilter(nonMaximumSuppressionFilter_);
    weakPixelInclusionFilter_ = make<GPXWeakPixelInclusionFilter>();
    addFilter(weakPixelInclusionFilter_);

    luminanceFilter_->addTarget(blurFilter_);
    blurFilter_->addTarget(edgeDetectionFilter_);
    edgeDetectionFilter_->addTarget(nonMaximumSuppressionFilter_);
    nonMaximumSuppressionFilter_->addTarget(weakPixelInclusionFilter_);
    setInitialFilters({luminanceFilter_});
    setTerminalFilter(weakPixelInclusionFilter_);

    setUpperThreshold(0.4);
    setLowerThreshold(0.1);
    setBlurRadiusInPixels(2.0);
    setBlurTexelSpacingMultiplier(1.0);
}

void GPXCannyEdgeDetectionFilter::setBlurRadiusInPixels(double newValue) {
    blurFilter_->setBlurRadiusInPixels(newValue);
}
double GPXCannyEdgeDetectionFilter::blurRadiusInPixels() const {
    return blurFilter_->blurRadiusInPixels();
}
void GPXCannyEdgeDetectionFilter::setBlurTexelSpacingMultiplier(double newValue) {
    blurFilter_->setTexelSpacingMultiplier(newValue);
}
double GPXCannyEdgeDetectionFilter::blurTexelSpacingMultiplier() const {
    return blurFilter_->texelSpacingMultiplier();
}
void GPXCannyEdgeDetectionFilter::setTexelWidth(double newValue) {
    edgeDetectionFilter_->setTexelWidth(newValue);
}
void GPXCannyEdgeDetectionFilter::setTexelHeight(double newValue) {
    edgeDetectionFilter_->setTexelHeight(newValue);
}
double GPXCannyEdgeDetectionFilter::texelWidth() {
    return edgeDetectionFilter_->texelWidth();
}
double GPXCannyEdgeDetectionFilter::texelHeight() {
    return edgeDetectionFilter_->texelHeight();
}
void GPXCannyEdgeDetectionFilter::setUpperThreshold(double newValue) {
    nonMaximumSuppressionFilter_->setUpperThreshold(newValue);
}
double GPXCannyEdgeDetectionFilter::upperThreshold() const {
    return nonMaximumSuppressionFilter_->upperThreshold();
}
void GPXCannyEdgeDetectionFilter::setLowerThreshold(double newValue) {
    nonMaximumSuppressionFilter_->setLowerThreshold(newValue);
}
double GPXCannyEdgeDetectionFilter::lowerThreshold() const {
    return nonMaximumSuppressionFilter_->lowerThreshold();
}
