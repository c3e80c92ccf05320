#include "gpu/filters/GPXCompositeBlurFilters.h"

#include <cmath>

#include "gpu/filters/GPXFilterSupport.h"

namespace {

constexpr const char* kTwoInputHead = R"(varying highp vec2 textureCoordinate;
varying highp vec2 textureCoordinate2;
uniform sampler2D inputImageTexture;
uniform sampler2D inputImageTexture2;
)";

bool isZero(CGSize size) {
    return size.width == 0 && size.height == 0;
}

}  // namespace

// ---- selective blur ----------------------------------------------------------------------------

void GPXGaussianSelectiveBlurFilter::didInit() {
    blurFilter_ = make<GPXGaussianBlurFilter>();
    addFilter(blurFilter_);
    selectiveFocusFilter_ =
        make<GPXTwoInputFilter>(detail::shaderText({kTwoInputHead, R"(uniform lowp float excludeCircleRadius;
uniform lowp vec2 excludeCirclePoint;
uniform lowp float excludeBlurSize;
uniform highp float aspectRatio;
void main()
{
    lowp vec4 sharpImageColor = texture2D(inputImageTexture, textureCoordinate);
    lowp vec4 blurredImageColor = texture2D(inputImageTexture2, textureCoordinate2);
    highp vec2 textureCoordinateToUse =
        vec2(textureCoordinate2.x, (textureCoordinate2.y * aspectRatio + 0.5 - 0.5 * aspectRatio));
    highp float distanceFromCenter = distance(excludeCirclePoint, textureCoordinateToUse);
    gl_FragColor = mix(sharpImageColor, blurredImageColor,
                       smoothstep(excludeCircleRadius - excludeBlurSize, excludeCircleRadius, distanceFromCenter));
}
)"}));
    addFilter(selectiveFocusFilter_);
    blurFilter_->addTargetAtTextureLocation(selectiveFocusFilter_, 1);
    setInitialFilters({blurFilter_, selectiveFocusFilter_});
    setTerminalFilter(selectiveFocusFilter_);
    setBlurRadiusInPixels(5.0);
    setExcludeCircleRadius(60.0 / 320.0);
    setExcludeCirclePoint(CGPointMake(0.5, 0.5));
    setExcludeBlurSize(30.0 / 320.0);
    // Until an input size arrives the ratio is 1 (a square), without marking it as set by hand.
    {
        std::lock_guard lock(mutex_);
        aspectRatio_ = 1.0;
    }
    selectiveFocusFilter_->setFloat(1.0f, "aspectRatio");
}

void GPXGaussianSelectiveBlurFilter::setInputSize(CGSize newSize, long textureIndex) {
    GPXFilterGroup::setInputSize(newSize, textureIndex);
    double ratio = 0;
    {
        std::lock_guard lock(mutex_);
        const CGSize old = inputSize_;
        inputSize_ = newSize;
        if (old == newSize || hasOverriddenAspectRatio_ || isZero(newSize) || newSize.height == 0) return;
        aspectRatio_ = ratio = newSize.width / newSize.height;
    }
    selectiveFocusFilter_->setFloat(static_cast<GLfloat>(ratio), "aspectRatio");
}

void GPXGaussianSelectiveBlurFilter::setExcludeCircleRadius(double newValue) {
    {
        std::lock_guard lock(mutex_);
        excludeCircleRadius_ = newValue;
    }
    selectiveFocusFilter_->setFloat(static_cast<GLfloat>(newValue), "excludeCircleRadius");
}
double GPXGaussianSelectiveBlurFilter::excludeCircleRadius() const {
    std::lock_guard lock(mutex_);
    return excludeCircleRadius_;
}
void GPXGaussianSelectiveBlurFilter::setExcludeCirclePoint(CGPoint newValue) {
    {
        std::lock_guard lock(mutex_);
        excludeCirclePoint_ = newValue;
    }
    selectiveFocusFilter_->setPoint(newValue, "excludeCirclePoint");
}
CGPoint GPXGaussianSelectiveBlurFilter::excludeCirclePoint() const {
    std::lock_guard lock(mutex_);
    return excludeCirclePoint_;
}
void GPXGaussianSelectiveBlurFilter::setExcludeBlurSize(double newValue) {
    {
        std::lock_guard lock(mutex_);
        excludeBlurSize_ = newValue;
    }
    selectiveFocusFilter_->setFloat(static_cast<GLfloat>(newValue), "excludeBlurSize");
}
double GPXGaussianSelectiveBlurFilter::excludeBlurSize() const {
    std::lock_guard lock(mutex_);
    return excludeBlurSize_;
}
void GPXGaussianSelectiveBlurFilter::setBlurRadiusInPixels(double newValue) {
    blurFilter_->setBlurRadiusInPixels(newValue);
}
double GPXGaussianSelectiveBlurFilter::blurRadiusInPixels() const {
    return blurFilter_->blurRadiusInPixels();
}
void GPXGaussianSelectiveBlurFilter::setAspectRatio(double newValue) {
    {
        std::lock_guard lock(mutex_);
        hasOverriddenAspectRatio_ = true;
        aspectRatio_ = newValue;
    }
    selectiveFocusFilter_->setFloat(static_cast<GLfloat>(newValue), "aspectRatio");
}
double GPXGaussianSelectiveBlurFilter::aspectRatio() const {
    std::lock_guard lock(mutex_);
    return aspectRatio_;
}

// ---- tilt shift --------------------------------------------------------------------------------

void GPXTiltShiftFilter::didInit() {
    blurFilter_ = make<GPXGaussianBlurFilter>();
    addFilter(blurFilter_);
    tiltShiftFilter_ =
        make<GPXTwoInputFilter>(detail::shaderText({kTwoInputHead, R"(uniform highp float topFocusLevel;
uniform highp float bottomFocusLevel;
uniform highp float focusFallOffRate;
void main()
{
    lowp vec4 sharpImageColor = texture2D(inputImageTexture, textureCoordinate);
    lowp vec4 blurredImageColor = texture2D(inputImageTexture2, textureCoordinate2);
    lowp float blurIntensity = 1.0 - smoothstep(topFocusLevel - focusFallOffRate, topFocusLevel, textureCoordinate2.y);
    blurIntensity += smoothstep(bottomFocusLevel, bottomFocusLevel + focusFallOffRate, textureCoordinate2.y);
    gl_FragColor = mix(sharpImageColor, blurredImageColor, blurIntensity);
}
)"}));
    addFilter(tiltShiftFilter_);
    blurFilter_->addTargetAtTextureLocation(tiltShiftFilter_, 1);
    setInitialFilters({blurFilter_, tiltShiftFilter_});
    setTerminalFilter(tiltShiftFilter_);
    setTopFocusLevel(0.4);
    setBottomFocusLevel(0.6);
    setFocusFallOffRate(0.2);
    setBlurRadiusInPixels(7.0);
}

#define GPX_DEFINE_FORWARDED(Class, getter, setter, field, member, uniformName)                              \
    void Class::setter(double newValue) {                                                                    \
        field.store(newValue);                                                                               \
        member->setFloat(static_cast<GLfloat>(newValue), uniformName);                                       \
    }                                                                                                        \
    double Class::getter() const {                                                                           \
        return field.load();                                                                                 \
    }

GPX_DEFINE_FORWARDED(GPXTiltShiftFilter, topFocusLevel, setTopFocusLevel, topFocusLevel_, tiltShiftFilter_,
                     "topFocusLevel")
GPX_DEFINE_FORWARDED(GPXTiltShiftFilter, bottomFocusLevel, setBottomFocusLevel, bottomFocusLevel_,
                     tiltShiftFilter_, "bottomFocusLevel")
GPX_DEFINE_FORWARDED(GPXTiltShiftFilter, focusFallOffRate, setFocusFallOffRate, focusFallOffRate_,
                     tiltShiftFilter_, "focusFallOffRate")
#undef GPX_DEFINE_FORWARDED

void GPXTiltShiftFilter::setBlurRadiusInPixels(double newValue) {
    blurFilter_->setBlurRadiusInPixels(newValue);
}
double GPXTiltShiftFilter::blurRadiusInPixels() const {
    return blurFilter_->blurRadiusInPixels();
}

// ---- blur position -----------------------------------------------------------------------------

namespace {

constexpr const char* kBlurPositionFragmentShader = R"(uniform sampler2D inputImageTexture;
varying highp vec2 textureCoordinate;
varying highp vec2 blurCoordinates[9];
uniform highp float aspectRatio;
uniform lowp vec2 blurCenter;
uniform highp float blurRadius;
void main()
{
    highp vec2 textureCoordinateToUse = vec2(textureCoordinate.x, (textureCoordinate.y * aspectRatio + 0.5 - 0.5 * aspectRatio));
    highp float dist = distance(blurCenter, textureCoordinateToUse);
    if (dist < blurRadius) {
        lowp vec4 sum = vec4(0.0);
        sum += texture2D(inputImageTexture, blurCoordinates[0]) * 0.05;
        sum += texture2D(inputImageTexture, blurCoordinates[1]) * 0.09;
        sum += texture2D(inputImageTexture, blurCoordinates[2]) * 0.12;
        sum += texture2D(inputImageTexture, blurCoordinates[3]) * 0.15;
        sum += texture2D(inputImageTexture, blurCoordinates[4]) * 0.18;
        sum += texture2D(inputImageTexture, blurCoordinates[5]) * 0.15;
        sum += texture2D(inputImageTexture, blurCoordinates[6]) * 0.12;
        sum += texture2D(inputImageTexture, blurCoordinates[7]) * 0.09;
        sum += texture2D(inputImageTexture, blurCoordinates[8]) * 0.05;
        gl_FragColor = sum;
    } else {
        gl_FragColor = texture2D(inputImageTexture, textureCoordinate);
    }
}
)";

}  // namespace

GPXGaussianBlurPositionFilter::GPXGaussianBlurPositionFilter()
    : GPXGaussianBlurPositionFilter(detail::kNineTapVertexShader, kBlurPositionFragmentShader) {}

GPXGaussianBlurPositionFilter::GPXGaussianBlurPositionFilter(std::string vertexShaderString,
                                                             std::string fragmentShaderString)
    : GPXTwoPassTextureSamplingFilter(
          vertexShaderString.empty() ? detail::kNineTapVertexShader : vertexShaderString,
          fragmentShaderString.empty() ? kBlurPositionFragmentShader : fragmentShaderString,
          vertexShaderString.empty() ? detail::kNineTapVertexShader : vertexShaderString,
          fragmentShaderString.empty() ? kBlurPositionFragmentShader : fragmentShaderString) {}

void GPXGaussianBlurPositionFilter::didInit() {
    GPXTwoPassTextureSamplingFilter::didInit();
    blurCenterUniform_ = detail::uniformLocation(secondFilterProgram_, "blurCenter");
    blurRadiusUniform_ = detail::uniformLocation(secondFilterProgram_, "blurRadius");
    aspectRatioUniform_ = detail::uniformLocation(secondFilterProgram_, "aspectRatio");
    setBlurSize(1.0);
    setBlurRadius(1.0);
    setBlurCenter(CGPointMake(0.5, 0.5));
    setFloat(1.0f, aspectRatioUniform_, secondFilterProgram_);
}

void GPXGaussianBlurPositionFilter::setBlurSize(double newValue) {
    blurSize_.store(newValue);
    performSyncOnSharedContextQueue([&] {
        verticalTexelSpacing_ = newValue;
        horizontalTexelSpacing_ = newValue;
        setupFilterForSize(sizeOfFBO());
    });
}
double GPXGaussianBlurPositionFilter::blurSize() const {
    return blurSize_.load();
}

void GPXGaussianBlurPositionFilter::setBlurCenter(CGPoint newValue) {
    {
        std::lock_guard lock(centerMutex_);
        blurCenter_ = newValue;
    }
    setPoint(rotatedPoint(newValue, inputRotation()), blurCenterUniform_, secondFilterProgram_);
}
CGPoint GPXGaussianBlurPositionFilter::blurCenter() const {
    std::lock_guard lock(centerMutex_);
    return blurCenter_;
}

void GPXGaussianBlurPositionFilter::setBlurRadius(double newValue) {
    blurRadius_.store(newValue);
    setFloat(static_cast<GLfloat>(newValue), blurRadiusUniform_, secondFilterProgram_);
}
double GPXGaussianBlurPositionFilter::blurRadius() const {
    return blurRadius_.load();
}
double GPXGaussianBlurPositionFilter::aspectRatio() const {
    return aspectRatio_.load();
}

void GPXGaussianBlurPositionFilter::adjustAspectRatio() {
    const CGSize size = inputTextureSize();
    if (size.width <= 0 || size.height <= 0) return;
    const double ratio =
        GPURotationSwapsWidthAndHeight(inputRotation()) ? size.width / size.height : size.height / size.width;
    aspectRatio_.store(ratio);
    setFloat(static_cast<GLfloat>(ratio), aspectRatioUniform_, secondFilterProgram_);
}

void GPXGaussianBlurPositionFilter::forceProcessingAtSize(CGSize frameSize) {
    GPXTwoPassTextureSamplingFilter::forceProcessingAtSize(frameSize);
    adjustAspectRatio();
}

void GPXGaussianBlurPositionFilter::setInputSize(CGSize newSize, long textureIndex) {
    const CGSize old = inputTextureSize();
    GPXTwoPassTextureSamplingFilter::setInputSize(newSize, textureIndex);
    const CGSize now = inputTextureSize();
    if (!(old == now) && !isZero(newSize)) adjustAspectRatio();
}

void GPXGaussianBlurPositionFilter::setInputRotation(GPURotationMode newInputRotation, long textureIndex) {
    GPXTwoPassTextureSamplingFilter::setInputRotation(newInputRotation, textureIndex);
    setBlurCenter(blurCenter());
    adjustAspectRatio();
}

// ---- frosted blur ------------------------------------------------------------------------------

void GPXiOSBlurFilter::didInit() {
    saturationFilter_ = make<GPXSaturationFilter>();
    addFilter(saturationFilter_);
    blurFilter_ = make<GPXGaussianBlurFilter>();
    addFilter(blurFilter_);
    luminanceRangeFilter_ = make<GPXLuminanceRangeFilter>();
    addFilter(luminanceRangeFilter_);
    saturationFilter_->addTarget(blurFilter_);
    blurFilter_->addTarget(luminanceRangeFilter_);
    setInitialFilters({saturationFilter_});
    setTerminalFilter(luminanceRangeFilter_);
    setBlurRadiusInPixels(12.0);
    setSaturation(0.8);
    setRangeReductionFactor(0.6);
    setDownsampling(4.0);
}

void GPXiOSBlurFilter::setInputSize(CGSize newSize, long textureIndex) {
    const double downsampling = downsampling_.load();
    if (downsampling > 1.0 && !isZero(newSize)) {
        const CGSize rotated = saturationFilter_->rotatedSize(newSize, textureIndex);
        saturationFilter_->forceProcessingAtSize(
            CGSizeMake(rotated.width / downsampling, rotated.height / downsampling));
        luminanceRangeFilter_->forceProcessingAtSize(rotated);
    }
    GPXFilterGroup::setInputSize(newSize, textureIndex);
}

void GPXiOSBlurFilter::setBlurRadiusInPixels(double newValue) {
    blurFilter_->setBlurRadiusInPixels(newValue);
}
double GPXiOSBlurFilter::blurRadiusInPixels() const {
    return blurFilter_->blurRadiusInPixels();
}
void GPXiOSBlurFilter::setSaturation(double newValue) {
    saturationFilter_->setSaturation(newValue);
}
double GPXiOSBlurFilter::saturation() const {
    return saturationFilter_->saturation();
}
void GPXiOSBlurFilter::setRangeReductionFactor(double newValue) {
    luminanceRangeFilter_->setRangeReductionFactor(newValue);
}
double GPXiOSBlurFilter::rangeReductionFactor() const {
    return luminanceRangeFilter_->rangeReductionFactor();
}
void GPXiOSBlurFilter::setDownsampling(double newValue) {
    downsampling_.store(newValue);
}
double GPXiOSBlurFilter::downsampling() const {
    return downsampling_.load();
}

// ---- motion blur -------------------------------------------------------------------------------

GPXMotionBlurFilter::GPXMotionBlurFilter()
    : GPXFilter(R"(attribute vec4 position;
attribute vec4 inputTextureCoordinate;
uniform highp vec2 directionalTexelStep;
varying vec2 textureCoordinate;
varying vec2 oneStepBackTextureCoordinate;
varying vec2 twoStepsBackTextureCoordinate;
varying vec2 threeStepsBackTextureCoordinate;
varying vec2 fourStepsBackTextureCoordinate;
varying vec2 oneStepForwardTextureCoordinate;
varying vec2 twoStepsForwardTextureCoordinate;
varying vec2 threeStepsForwardTextureCoordinate;
varying vec2 fourStepsForwardTextureCoordinate;
void main()
{
    gl_Position = position;
    textureCoordinate = inputTextureCoordinate.xy;
    oneStepBackTextureCoordinate = inputTextureCoordinate.xy - directionalTexelStep;
    twoStepsBackTextureCoordinate = inputTextureCoordinate.xy - 2.0 * directionalTexelStep;
    threeStepsBackTextureCoordinate = inputTextureCoordinate.xy - 3.0 * directionalTexelStep;
    fourStepsBackTextureCoordinate = inputTextureCoordinate.xy - 4.0 * directionalTexelStep;
    oneStepForwardTextureCoordinate = inputTextureCoordinate.xy + directionalTexelStep;
    twoStepsForwardTextureCoordinate = inputTextureCoordinate.xy + 2.0 * directionalTexelStep;
    threeStepsForwardTextureCoordinate = inputTextureCoordinate.xy + 3.0 * directionalTexelStep;
    fourStepsForwardTextureCoordinate = inputTextureCoordinate.xy + 4.0 * directionalTexelStep;
}
)",
                R"(precision highp float;
uniform sampler2D inputImageTexture;
varying vec2 textureCoordinate;
varying vec2 oneStepBackTextureCoordinate;
varying vec2 twoStepsBackTextureCoordinate;
varying vec2 threeStepsBackTextureCoordinate;
varying vec2 fourStepsBackTextureCoordinate;
varying vec2 oneStepForwardTextureCoordinate;
varying vec2 twoStepsForwardTextureCoordinate;
varying vec2 threeStepsForwardTextureCoordinate;
varying vec2 fourStepsForwardTextureCoordinate;
void main()
{
    lowp vec4 fragmentColor = texture2D(inputImageTexture, textureCoordinate) * 0.18;
    fragmentColor += texture2D(inputImageTexture, oneStepBackTextureCoordinate) * 0.15;
    fragmentColor += texture2D(inputImageTexture, twoStepsBackTextureCoordinate) * 0.12;
    fragmentColor += texture2D(inputImageTexture, threeStepsBackTextureCoordinate) * 0.09;
    fragmentColor += texture2D(inputImageTexture, fourStepsBackTextureCoordinate) * 0.05;
    fragmentColor += texture2D(inputImageTexture, oneStepForwardTextureCoordinate) * 0.15;
    fragmentColor += texture2D(inputImageTexture, twoStepsForwardTextureCoordinate) * 0.12;
    fragmentColor += texture2D(inputImageTexture, threeStepsForwardTextureCoordinate) * 0.09;
    fragmentColor += texture2D(inputImageTexture, fourStepsForwardTextureCoordinate) * 0.05;
    gl_FragColor = fragmentColor;
}
)") {}

void GPXMotionBlurFilter::didInit() {
    GPXFilter::didInit();
    directionalTexelStepUniform_ = detail::uniformLocation(*this, "directionalTexelStep");
    setBlurSize(2.5);
    setBlurAngle(0.0);
}

void GPXMotionBlurFilter::setBlurSize(double newValue) {
    blurSize_.store(newValue);
    recalculateTexelOffsets();
}
double GPXMotionBlurFilter::blurSize() const {
    return blurSize_.load();
}
void GPXMotionBlurFilter::setBlurAngle(double newValue) {
    blurAngle_.store(newValue);
    recalculateTexelOffsets();
}
double GPXMotionBlurFilter::blurAngle() const {
    return blurAngle_.load();
}

void GPXMotionBlurFilter::recalculateTexelOffsets() {
    const CGSize size = inputTextureSize();
    if (size.width <= 0 || size.height <= 0) return;
    const double a = blurAngle_.load() * M_PI / 180.0, s = blurSize_.load();
    const double aspect = size.height / size.width;
    CGPoint step;
    if (GPURotationSwapsWidthAndHeight(inputRotation())) {
        step = CGPointMake(s * std::sin(a) * (1.0 / aspect) / size.height, s * std::cos(a) / size.height);
    } else {
        step = CGPointMake(s * std::cos(a) * aspect / size.width, s * std::sin(a) / size.width);
    }
    {
        std::lock_guard lock(stepMutex_);
        directionalTexelStep_ = step;
    }
    setPoint(step, directionalTexelStepUniform_, filterProgram_);
}

CGPoint GPXMotionBlurFilter::directionalTexelStep() const {
    std::lock_guard lock(stepMutex_);
    return directionalTexelStep_;
}

void GPXMotionBlurFilter::setInputSize(CGSize newSize, long textureIndex) {
    const CGSize old = inputTextureSize();
    GPXFilter::setInputSize(newSize, textureIndex);
    if (!(old == inputTextureSize()) && !isZero(newSize)) recalculateTexelOffsets();
}

void GPXMotionBlurFilter::setInputRotation(GPURotationMode newInputRotation, long textureIndex) {
    GPXFilter::setInputRotation(newInputRotation, textureIndex);
    recalculateTexelOffsets();
}

// ---- zoom blur ---------------------------------------------------------------------------------

GPXZoomBlurFilter::GPXZoomBlurFilter()
    : GPXFilter(detail::shaderText({detail::kFilterShaderHead, R"(uniform highp vec2 blurCenter;
uniform highp float blurSize;
void main()
{
    highp vec2 samplingOffset = 1.0 / 100.0 * (blurCenter - textureCoordinate) * blurSize;
    lowp vec4 fragmentColor = texture2D(inputImageTexture, textureCoordinate) * 0.18;
    fragmentColor += texture2D(inputImageTexture, textureCoordinate + samplingOffset) * 0.15;
    fragmentColor += texture2D(inputImageTexture, textureCoordinate + (2.0 * samplingOffset)) * 0.12;
    fragmentColor += texture2D(inputImageTexture, textureCoordinate + (3.0 * samplingOffset)) * 0.09;
    fragmentColor += texture2D(inputImageTexture, textureCoordinate + (4.0 * samplingOffset)) * 0.05;
    fragmentColor += texture2D(inputImageTexture, textureCoordinate - samplingOffset) * 0.15;
    fragmentColor += texture2D(inputImageTexture, textureCoordinate - (2.0 * samplingOffset)) * 0.12;
    fragmentColor += texture2D(inputImageTexture, textureCoordinate - (3.0 * samplingOffset)) * 0.09;
    fragmentColor += texture2D(inputImageTexture, textureCoordinate - (4.0 * samplingOffset)) * 0.05;
    gl_FragColor = fragmentColor;
}
)"})) {}

void GPXZoomBlurFilter::didInit() {
    GPXFilter::didInit();
    blurSizeUniform_ = detail::uniformLocation(*this, "blurSize");
    blurCenterUniform_ = detail::uniformLocation(*this, "blurCenter");
    setBlurSize(1.0);
    setBlurCenter(CGPointMake(0.5, 0.5));
}

void GPXZoomBlurFilter::setBlurSize(double newValue) {
    blurSize_.store(newValue);
    setFloat(static_cast<GLfloat>(newValue), blurSizeUniform_, filterProgram_);
}
double GPXZoomBlurFilter::blurSize() const {
    return blurSize_.load();
}
void GPXZoomBlurFilter::setBlurCenter(CGPoint newValue) {
    {
        std::lock_guard lock(centerMutex_);
        blurCenter_ = newValue;
    }
    setPoint(rotatedPoint(newValue, inputRotation()), blurCenterUniform_, filterProgram_);
}
CGPoint GPXZoomBlurFilter::blurCenter() const {
    std::lock_guard lock(centerMutex_);
    return blurCenter_;
}
void GPXZoomBlurFilter::setInputRotation(GPURotationMode newInputRotation, long textureIndex) {
    GPXFilter::setInputRotation(newInputRotation, textureIndex);
    setBlurCenter(blurCenter());
}
