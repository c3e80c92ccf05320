#include "gpu/filters/GPXConvolutionFilters.h"

#include <algorithm>

#include "gpu/filters/GPXFilterSupport.h"

namespace {

constexpr const char* kNeighbourHead = R"(precision highp float;
uniform sampler2D inputImageTexture;
varying vec2 textureCoordinate;
varying vec2 leftTextureCoordinate;
varying vec2 rightTextureCoordinate;
varying vec2 topTextureCoordinate;
varying vec2 topLeftTextureCoordinate;
varying vec2 topRightTextureCoordinate;
varying vec2 bottomTextureCoordinate;
varying vec2 bottomLeftTextureCoordinate;
varying vec2 bottomRightTextureCoordinate;
)";

std::string convolutionShader(const char* offset) {
    return detail::shaderText({kNeighbourHead, R"(uniform mediump mat3 convolutionMatrix;
void main()
{
    mediump vec3 bottomColor = texture2D(inputImageTexture, bottomTextureCoordinate).rgb;
    mediump vec3 bottomLeftColor = texture2D(inputImageTexture, bottomLeftTextureCoordinate).rgb;
    mediump vec3 bottomRightColor = texture2D(inputImageTexture, bottomRightTextureCoordinate).rgb;
    mediump vec4 centerColor = texture2D(inputImageTexture, textureCoordinate);
    mediump vec3 leftColor = texture2D(inputImageTexture, leftTextureCoordinate).rgb;
    mediump vec3 rightColor = texture2D(inputImageTexture, rightTextureCoordinate).rgb;
    mediump vec3 topColor = texture2D(inputImageTexture, topTextureCoordinate).rgb;
    mediump vec3 topRightColor = texture2D(inputImageTexture, topRightTextureCoordinate).rgb;
    mediump vec3 topLeftColor = texture2D(inputImageTexture, topLeftTextureCoordinate).rgb;
    mediump vec3 resultColor = topLeftColor * convolutionMatrix[0][0] + topColor * convolutionMatrix[0][1] +
                               topRightColor * convolutionMatrix[0][2];
    resultColor += leftColor * convolutionMatrix[1][0] + centerColor.rgb * convolutionMatrix[1][1] +
                   rightColor * convolutionMatrix[1][2];
    resultColor += bottomLeftColor * convolutionMatrix[2][0] + bottomColor * convolutionMatrix[2][1] +
                   bottomRightColor * convolutionMatrix[2][2];
    gl_FragColor = vec4(resultColor)",
                               offset, R"(, centerColor.a);
}
)"});
}

}  // namespace

// ---- 3x3 convolution, emboss, Laplacian --------------------------------------------------------

GPX3x3ConvolutionFilter::GPX3x3ConvolutionFilter() : GPX3x3ConvolutionFilter(convolutionShader("")) {}

GPX3x3ConvolutionFilter::GPX3x3ConvolutionFilter(std::string fragmentShaderString)
    : GPX3x3TextureSamplingFilter(std::move(fragmentShaderString)) {}

void GPX3x3ConvolutionFilter::didInit() {
    GPX3x3TextureSamplingFilter::didInit();
    convolutionMatrixUniform_ = detail::uniformLocation(*this, "convolutionMatrix");
    setConvolutionKernel({{0, 0, 0}, {0, 1, 0}, {0, 0, 0}});
}

void GPX3x3ConvolutionFilter::setConvolutionKernel(GPUMatrix3x3 newValue) {
    {
        std::lock_guard lock(kernelMutex_);
        convolutionKernel_ = newValue;
    }
    setMatrix3f(newValue, convolutionMatrixUniform_, filterProgram_);
}

GPUMatrix3x3 GPX3x3ConvolutionFilter::convolutionKernel() const {
    std::lock_guard lock(kernelMutex_);
    return convolutionKernel_;
}

void GPXEmbossFilter::didInit() {
    GPX3x3ConvolutionFilter::didInit();
    setIntensity(1.0);
}

void GPXEmbossFilter::setIntensity(double newValue) {
    intensity_.store(newValue);
    const auto i = static_cast<GLfloat>(newValue);
    setConvolutionKernel({{-2.0f * i, -i, 0.0f}, {-i, 1.0f, i}, {0.0f, i, 2.0f * i}});
}

double GPXEmbossFilter::intensity() const {
    return intensity_.load();
}

GPXLaplacianFilter::GPXLaplacianFilter() : GPX3x3ConvolutionFilter(convolutionShader(" + vec3(0.5)")) {}

void GPXLaplacianFilter::didInit() {
    GPX3x3ConvolutionFilter::didInit();
    setConvolutionKernel({{0.5f, 1.0f, 0.5f}, {1.0f, -6.0f, 1.0f}, {0.5f, 1.0f, 0.5f}});
}

// ---- sharpen -----------------------------------------------------------------------------------

GPXSharpenFilter::GPXSharpenFilter()
    : GPXFilter(R"(attribute vec4 position;
attribute vec4 inputTextureCoordinate;
uniform float imageWidthFactor;
uniform float imageHeightFactor;
uniform float sharpness;
varying vec2 textureCoordinate;
varying vec2 leftTextureCoordinate;
varying vec2 rightTextureCoordinate;
varying vec2 topTextureCoordinate;
varying vec2 bottomTextureCoordinate;
varying float centerMultiplier;
varying float edgeMultiplier;
void main()
{
    gl_Position = position;
    vec2 widthStep = vec2(imageWidthFactor, 0.0);
    vec2 heightStep = vec2(0.0, imageHeightFactor);
    textureCoordinate = inputTextureCoordinate.xy;
    leftTextureCoordinate = inputTextureCoordinate.xy - widthStep;
    rightTextureCoordinate = inputTextureCoordinate.xy + widthStep;
    topTextureCoordinate = inputTextureCoordinate.xy + heightStep;
    bottomTextureCoordinate = inputTextureCoordinate.xy - heightStep;
    centerMultiplier = 1.0 + 4.0 * sharpness;
    edgeMultiplier = sharpness;
}
)",
                R"(precision highp float;
varying highp vec2 textureCoordinate;
varying highp vec2 leftTextureCoordinate;
varying highp vec2 rightTextureCoordinate;
varying highp vec2 topTextureCoordinate;
varying highp vec2 bottomTextureCoordinate;
varying highp float centerMultiplier;
varying highp float edgeMultiplier;
uniform sampler2D inputImageTexture;
void main()
{
    mediump vec3 textureColor = texture2D(inputImageTexture, textureCoordinate).rgb;
    mediump vec3 leftTextureColor = texture2D(inputImageTexture, leftTextureCoordinate).rgb;
    mediump vec3 rightTextureColor = texture2D(inputImageTexture, rightTextureCoordinate).rgb;
    mediump vec3 topTextureColor = texture2D(inputImageTexture, topTextureCoordinate).rgb;
    mediump vec3 bottomTextureColor = texture2D(inputImageTexture, bottomTextureCoordinate).rgb;
    gl_FragColor = vec4((textureColor * centerMultiplier -
                         (leftTextureColor + rightTextureColor + topTextureColor + bottomTextureColor) * edgeMultiplier),
                        texture2D(inputImageTexture, bottomTextureCoordinate).w);
}
)") {}

void GPXSharpenFilter::didInit() {
    GPXFilter::didInit();
    sharpnessUniform_ = detail::uniformLocation(*this, "sharpness");
    imageWidthFactorUniform_ = detail::uniformLocation(*this, "imageWidthFactor");
    imageHeightFactorUniform_ = detail::uniformLocation(*this, "imageHeightFactor");
    setSharpness(0.0);
}
GPX_DEFINE_FLOAT_PARAMETER(GPXSharpenFilter, sharpness, setSharpness, sharpness_, sharpnessUniform_)

void GPXSharpenFilter::setupFilterForSize(CGSize filterFrameSize) {
    if (filterFrameSize.width <= 0 || filterFrameSize.height <= 0) return;
    performSyncOnSharedContextQueue([&] {
        GLfloat width = static_cast<GLfloat>(1.0 / filterFrameSize.width);
        GLfloat height = static_cast<GLfloat>(1.0 / filterFrameSize.height);
        if (GPURotationSwapsWidthAndHeight(inputRotation_)) std::swap(width, height);
        setFloat(width, imageWidthFactorUniform_, filterProgram_);
        setFloat(height, imageHeightFactorUniform_, filterProgram_);
    });
}

// ---- median ------------------------------------------------------------------------------------

GPXMedianFilter::GPXMedianFilter()
    : GPX3x3TextureSamplingFilter(detail::shaderText({kNeighbourHead, R"(
// Orders a and b in place.
#define s2(a, b) temp = a; a = min(a, b); b = max(temp, b);
#define mn3(a, b, c) s2(a, b); s2(a, c);
#define mx3(a, b, c) s2(b, c); s2(a, c);
#define mnmx3(a, b, c) mx3(a, b, c); s2(a, b);
#define mnmx4(a, b, c, d) s2(a, b); s2(c, d); s2(a, c); s2(b, d);
#define mnmx5(a, b, c, d, e) s2(a, b); s2(c, d); mn3(a, c, e); mx3(b, d, e);
#define mnmx6(a, b, c, d, e, f) s2(a, d); s2(b, e); s2(c, f); mn3(a, b, c); mx3(d, e, f);
void main()
{
    vec3 v[6];
    v[0] = texture2D(inputImageTexture, bottomLeftTextureCoordinate).rgb;
    v[1] = texture2D(inputImageTexture, topRightTextureCoordinate).rgb;
    v[2] = texture2D(inputImageTexture, topLeftTextureCoordinate).rgb;
    v[3] = texture2D(inputImageTexture, bottomRightTextureCoordinate).rgb;
    v[4] = texture2D(inputImageTexture, leftTextureCoordinate).rgb;
    v[5] = texture2D(inputImageTexture, rightTextureCoordinate).rgb;
    vec3 temp;
    // The smallest and largest of six cannot be the median of nine: each step drops both
    // extremes and brings the next sample into the freed slot.
    mnmx6(v[0], v[1], v[2], v[3], v[4], v[5]);
    v[5] = texture2D(inputImageTexture, bottomTextureCoordinate).rgb;
    mnmx5(v[1], v[2], v[3], v[4], v[5]);
    v[5] = texture2D(inputImageTexture, topTextureCoordinate).rgb;
    mnmx4(v[2], v[3], v[4], v[5]);
    v[5] = texture2D(inputImageTexture, textureCoordinate).rgb;
    mnmx3(v[3], v[4], v[5]);
    gl_FragColor = vec4(v[4], 1.0);
}
)"})) {}

void GPXMedianFilter::didInit() {
    GPX3x3TextureSamplingFilter::didInit();
    performSyncOnSharedContextQueue([this] { hasOverriddenImageSizeFactor_ = false; });
}

// ---- bilateral ---------------------------------------------------------------------------------

namespace {

constexpr const char* kBilateralFragmentShader = R"(uniform sampler2D inputImageTexture;
varying highp vec2 textureCoordinate;
varying highp vec2 blurCoordinates[9];
uniform mediump float distanceNormalizationFactor;
void main()
{
    lowp vec4 centralColor = texture2D(inputImageTexture, blurCoordinates[4]);
    lowp float gaussianWeightTotal = 0.18;
    lowp vec4 sum = centralColor * 0.18;
    lowp float baseWeights[9];
    baseWeights[0] = 0.05;
    baseWeights[1] = 0.09;
    baseWeights[2] = 0.12;
    baseWeights[3] = 0.15;
    baseWeights[4] = 0.0;
    baseWeights[5] = 0.15;
    baseWeights[6] = 0.12;
    baseWeights[7] = 0.09;
    baseWeights[8] = 0.05;
    for (int i = 0; i < 9; i++) {
        if (i == 4) continue;
        lowp vec4 sampleColor = texture2D(inputImageTexture, blurCoordinates[i]);
        lowp float distanceFromCentralColor = min(distance(centralColor, sampleColor) * distanceNormalizationFactor, 1.0);
        lowp float gaussianWeight = baseWeights[i] * (1.0 - distanceFromCentralColor);
        gaussianWeightTotal += gaussianWeight;
        sum += sampleColor * gaussianWeight;
    }
    gl_FragColor = sum / gaussianWeightTotal;
}
)";

}  // namespace

GPXBilateralFilter::GPXBilateralFilter()
    : GPXGaussianBlurFilter(detail::kNineTapVertexShader, kBilateralFragmentShader,
                            detail::kNineTapVertexShader, kBilateralFragmentShader) {}

void GPXBilateralFilter::didInit() {
    GPXGaussianBlurFilter::didInit();
    firstDistanceNormalizationFactorUniform_ =
        detail::uniformLocation(filterProgram_, "distanceNormalizationFactor");
    secondDistanceNormalizationFactorUniform_ =
        detail::uniformLocation(secondFilterProgram_, "distanceNormalizationFactor");
    setTexelSpacingMultiplier(4.0);
    setDistanceNormalizationFactor(8.0);
}

void GPXBilateralFilter::setDistanceNormalizationFactor(double newValue) {
    distanceNormalizationFactor_.store(newValue);
    setFloat(static_cast<GLfloat>(newValue), firstDistanceNormalizationFactorUniform_, filterProgram_);
    setFloat(static_cast<GLfloat>(newValue), secondDistanceNormalizationFactorUniform_, secondFilterProgram_);
}

double GPXBilateralFilter::distanceNormalizationFactor() const {
    return distanceNormalizationFactor_.load();
}

// ---- unsharp mask ------------------------------------------------------------------------------

void GPXUnsharpMaskFilter::didInit() {
    blurFilter_ = make<GPXGaussianBlurFilter>();
    addFilter(blurFilter_);
    unsharpMaskFilter_ = make<GPXTwoInputFilter>(R"(varying highp vec2 textureCoordinate;
varying highp vec2 textureCoordinate2;
uniform sampler2D inputImageTexture;
uniform sampler2D inputImageTexture2;
uniform highp float intensity;
void main()
{
    lowp vec4 sharpImageColor = texture2D(inputImageTexture, textureCoordinate);
    lowp vec3 blurredImageColor = texture2D(inputImageTexture2, textureCoordinate2).rgb;
    gl_FragColor = vec4(sharpImageColor.rgb * intensity + blurredImageColor * (1.0 - intensity), sharpImageColor.a);
}
)");
    addFilter(unsharpMaskFilter_);
    blurFilter_->addTargetAtTextureLocation(unsharpMaskFilter_, 1);
    setInitialFilters({blurFilter_, unsharpMaskFilter_});
    setTerminalFilter(unsharpMaskFilter_);
    setIntensity(1.0);
    setBlurRadiusInPixels(4.0);
}

void GPXUnsharpMaskFilter::setBlurRadiusInPixels(double newValue) {
    blurFilter_->setBlurRadiusInPixels(newValue);
}

double GPXUnsharpMaskFilter::blurRadiusInPixels() const {
    return blurFilter_->blurRadiusInPixels();
}

void GPXUnsharpMaskFilter::setIntensity(double newValue) {
    intensity_.store(newValue);
    unsharpMaskFilter_->setFloat(static_cast<GLfloat>(newValue), "intensity");
}

double GPXUnsharpMaskFilter::intensity() const {
    return intensity_.load();
}

// ---- low pass and high pass --------------------------------------------------------------------

GPXLowPassFilter::~GPXLowPassFilter() {
    // The buffer feeds the dissolve and the dissolve the buffer: the loop is cut here.
    if (bufferFilter_) bufferFilter_->removeAllTargets();
    if (dissolveBlendFilter_) dissolveBlendFilter_->removeAllTargets();
}

void GPXLowPassFilter::didInit() {
    dissolveBlendFilter_ = make<GPXDissolveBlendFilter>();
    addFilter(dissolveBlendFilter_);
    bufferFilter_ = make<GPXBuffer>();
    addFilter(bufferFilter_);
    dissolveBlendFilter_->addTarget(bufferFilter_);
    bufferFilter_->addTargetAtTextureLocation(dissolveBlendFilter_, 1);
    // The current frame renders at once, against whatever the buffer last handed back.
    dissolveBlendFilter_->disableSecondFrameCheck();
    setInitialFilters({dissolveBlendFilter_});
    setTerminalFilter(dissolveBlendFilter_);
    setFilterStrength(0.5);
}

void GPXLowPassFilter::setFilterStrength(double newValue) {
    dissolveBlendFilter_->setMix(newValue);
}

double GPXLowPassFilter::filterStrength() const {
    return dissolveBlendFilter_->mix();
}

void GPXLowPassFilter::addTargetAtTextureLocation(const Ref<GPXInput>& newTarget, long textureLocation) {
    GPXFilterGroup::addTargetAtTextureLocation(newTarget, textureLocation);
    // Rewiring from outside removes every target of the dissolve, the buffer included.
    auto targets = dissolveBlendFilter_->targets();
    if (std::find(targets.begin(), targets.end(), Ref<GPXInput>(bufferFilter_)) == targets.end())
        dissolveBlendFilter_->addTargetAtTextureLocation(bufferFilter_, 1);
}

void GPXHighPassFilter::didInit() {
    lowPassFilter_ = make<GPXLowPassFilter>();
    addFilter(lowPassFilter_);
    differenceBlendFilter_ = make<GPXDifferenceBlendFilter>();
    addFilter(differenceBlendFilter_);
    lowPassFilter_->addTargetAtTextureLocation(differenceBlendFilter_, 1);
    setInitialFilters({lowPassFilter_, differenceBlendFilter_});
    setTerminalFilter(differenceBlendFilter_);
    setFilterStrength(0.5);
}

void GPXHighPassFilter::setFilterStrength(double newValue) {
    lowPassFilter_->setFilterStrength(newValue);
}

double GPXHighPassFilter::filterStrength() const {
    return lowPassFilter_->filterStrength();
}
