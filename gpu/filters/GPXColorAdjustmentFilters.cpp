#include "gpu/filters/GPXColorAdjustmentFilters.h"

#include <cmath>

#include "gpu/core/GPXFramebufferCache.h"
#include "gpu/filters/GPXBlurFilters.h"
#include "gpu/filters/GPXFilterSupport.h"

namespace {

std::string shader(const char* body) {
    return detail::shaderText({detail::kFilterShaderHead,
                               "const highp vec3 luminanceWeighting = vec3(0.2125, 0.7154, 0.0721);\n",
                               body});
}

}  // namespace

// ---- brightness, contrast, saturation, gamma, exposure ----------------------------------------

GPXBrightnessFilter::GPXBrightnessFilter()
    : GPXFilter(shader(R"(uniform lowp float brightness;
void main()
{
    lowp vec4 c = texture2D(inputImageTexture, textureCoordinate);
    gl_FragColor = vec4(c.rgb + vec3(brightness), c.a);
}
)")) {}
void GPXBrightnessFilter::didInit() {
    GPXFilter::didInit();
    brightnessUniform_ = detail::uniformLocation(*this, "brightness");
    setBrightness(0.0);
}
GPX_DEFINE_FLOAT_PARAMETER(GPXBrightnessFilter, brightness, setBrightness, brightness_, brightnessUniform_)

GPXContrastFilter::GPXContrastFilter()
    : GPXFilter(shader(R"(uniform lowp float contrast;
void main()
{
    lowp vec4 c = texture2D(inputImageTexture, textureCoordinate);
    gl_FragColor = vec4((c.rgb - vec3(0.5)) * contrast + vec3(0.5), c.a);
}
)")) {}
void GPXContrastFilter::didInit() {
    GPXFilter::didInit();
    contrastUniform_ = detail::uniformLocation(*this, "contrast");
    setContrast(1.0);
}
GPX_DEFINE_FLOAT_PARAMETER(GPXContrastFilter, contrast, setContrast, contrast_, contrastUniform_)

GPXSaturationFilter::GPXSaturationFilter()
    : GPXFilter(shader(R"(uniform lowp float saturation;
void main()
{
    lowp vec4 c = texture2D(inputImageTexture, textureCoordinate);
    lowp float luminance = dot(c.rgb, luminanceWeighting);
    gl_FragColor = vec4(mix(vec3(luminance), c.rgb, saturation), c.a);
}
)")) {}
void GPXSaturationFilter::didInit() {
    GPXFilter::didInit();
    saturationUniform_ = detail::uniformLocation(*this, "saturation");
    setSaturation(1.0);
}
GPX_DEFINE_FLOAT_PARAMETER(GPXSaturationFilter, saturation, setSaturation, saturation_, saturationUniform_)

GPXGammaFilter::GPXGammaFilter()
    : GPXFilter(shader(R"(uniform lowp float gamma;
void main()
{
    lowp vec4 c = texture2D(inputImageTexture, textureCoordinate);
    gl_FragColor = vec4(pow(c.rgb, vec3(gamma)), c.a);
}
)")) {}
void GPXGammaFilter::didInit() {
    GPXFilter::didInit();
    gammaUniform_ = detail::uniformLocation(*this, "gamma");
    setGamma(1.0);
}
GPX_DEFINE_FLOAT_PARAMETER(GPXGammaFilter, gamma, setGamma, gamma_, gammaUniform_)

GPXExposureFilter::GPXExposureFilter()
    : GPXFilter(shader(R"(uniform highp float exposure;
void main()
{
    highp vec4 c = texture2D(inputImageTexture, textureCoordinate);
    gl_FragColor = vec4(c.rgb * pow(2.0, exposure), c.a);
}
)")) {}
void GPXExposureFilter::didInit() {
    GPXFilter::didInit();
    exposureUniform_ = detail::uniformLocation(*this, "exposure");
    setExposure(0.0);
}
GPX_DEFINE_FLOAT_PARAMETER(GPXExposureFilter, exposure, setExposure, exposure_, exposureUniform_)

// ---- RGB, opacity, invert, grey ----------------------------------------------------------------

GPXRGBFilter::GPXRGBFilter()
    : GPXFilter(shader(R"(uniform highp float redAdjustment;
uniform highp float greenAdjustment;
uniform highp float blueAdjustment;
void main()
{
    highp vec4 c = texture2D(inputImageTexture, textureCoordinate);
    gl_FragColor = vec4(c.r * redAdjustment, c.g * greenAdjustment, c.b * blueAdjustment, c.a);
}
)")) {}
void GPXRGBFilter::didInit() {
    GPXFilter::didInit();
    redUniform_ = detail::uniformLocation(*this, "redAdjustment");
    greenUniform_ = detail::uniformLocation(*this, "greenAdjustment");
    blueUniform_ = detail::uniformLocation(*this, "blueAdjustment");
    setRed(1.0);
    setGreen(1.0);
    setBlue(1.0);
}
GPX_DEFINE_FLOAT_PARAMETER(GPXRGBFilter, red, setRed, red_, redUniform_)
GPX_DEFINE_FLOAT_PARAMETER(GPXRGBFilter, green, setGreen, green_, greenUniform_)
GPX_DEFINE_FLOAT_PARAMETER(GPXRGBFilter, blue, setBlue, blue_, blueUniform_)

GPXOpacityFilter::GPXOpacityFilter()
    : GPXFilter(shader(R"(uniform lowp float opacity;
void main()
{
    lowp vec4 c = texture2D(inputImageTexture, textureCoordinate);
    gl_FragColor = vec4(c.rgb, c.a * opacity);
}
)")) {}
void GPXOpacityFilter::didInit() {
    GPXFilter::didInit();
    opacityUniform_ = detail::uniformLocation(*this, "opacity");
    setOpacity(1.0);
}
GPX_DEFINE_FLOAT_PARAMETER(GPXOpacityFilter, opacity, setOpacity, opacity_, opacityUniform_)

GPXColorInvertFilter::GPXColorInvertFilter()
    : GPXFilter(shader(R"(void main()
{
    lowp vec4 c = texture2D(inputImageTexture, textureCoordinate);
    gl_FragColor = vec4(1.0 - c.rgb, c.a);
}
)")) {}

GPXGrayscaleFilter::GPXGrayscaleFilter()
    : GPXFilter(shader(R"(void main()
{
    highp vec4 c = texture2D(inputImageTexture, textureCoordinate);
    highp float luminance = dot(c.rgb, luminanceWeighting);
    gl_FragColor = vec4(vec3(luminance), c.a);
}
)")) {}

void GPXGrayscaleFilter::renderToTextureWithVertices(const GLfloat* vertices,
                                                     const GLfloat* textureCoordinates) {
    if (currentlyReceivingMonochromeInput_) {
        // The input is grey already: nothing to draw, but the input is given back all the same.
        if (firstInputFramebuffer_) firstInputFramebuffer_->unlock();
        return;
    }
    GPXFilter::renderToTextureWithVertices(vertices, textureCoordinates);
}

// ---- thresholds and ranges ---------------------------------------------------------------------

GPXLuminanceThresholdFilter::GPXLuminanceThresholdFilter()
    : GPXFilter(shader(R"(uniform highp float threshold;
void main()
{
    highp vec4 c = texture2D(inputImageTexture, textureCoordinate);
    highp float luminance = dot(c.rgb, luminanceWeighting);
    gl_FragColor = vec4(vec3(step(threshold, luminance)), c.a);
}
)")) {}
void GPXLuminanceThresholdFilter::didInit() {
    GPXFilter::didInit();
    thresholdUniform_ = detail::uniformLocation(*this, "threshold");
    setThreshold(0.5);
}
GPX_DEFINE_FLOAT_PARAMETER(GPXLuminanceThresholdFilter, threshold, setThreshold, threshold_,
                           thresholdUniform_)

GPXLuminanceRangeFilter::GPXLuminanceRangeFilter()
    : GPXFilter(shader(R"(uniform lowp float rangeReduction;
void main()
{
    lowp vec4 c = texture2D(inputImageTexture, textureCoordinate);
    mediump float luminance = dot(c.rgb, luminanceWeighting);
    gl_FragColor = vec4(c.rgb + vec3((0.5 - luminance) * rangeReduction), c.a);
}
)")) {}
void GPXLuminanceRangeFilter::didInit() {
    GPXFilter::didInit();
    rangeReductionUniform_ = detail::uniformLocation(*this, "rangeReduction");
    setRangeReductionFactor(0.6);
}
GPX_DEFINE_FLOAT_PARAMETER(GPXLuminanceRangeFilter, rangeReductionFactor, setRangeReductionFactor,
                           rangeReductionFactor_, rangeReductionUniform_)

GPXPosterizeFilter::GPXPosterizeFilter()
    : GPXFilter(shader(R"(uniform highp float colorLevels;
void main()
{
    highp vec4 c = texture2D(inputImageTexture, textureCoordinate);
    gl_FragColor = floor((c * colorLevels) + vec4(0.5)) / colorLevels;
}
)")) {}
void GPXPosterizeFilter::didInit() {
    GPXFilter::didInit();
    colorLevelsUniform_ = detail::uniformLocation(*this, "colorLevels");
    setColorLevels(10);
}
void GPXPosterizeFilter::setColorLevels(unsigned newValue) {
    colorLevels_.store(newValue);
    setFloat(static_cast<GLfloat>(newValue), colorLevelsUniform_, filterProgram_);
}
unsigned GPXPosterizeFilter::colorLevels() const {
    return colorLevels_.load();
}

GPXHazeFilter::GPXHazeFilter()
    : GPXFilter(shader(R"(uniform lowp float hazeDistance;
uniform highp float slope;
void main()
{
    highp vec4 c = texture2D(inputImageTexture, textureCoordinate);
    highp float d = textureCoordinate.y * slope + hazeDistance;
    gl_FragColor = (c - vec4(d)) / (1.0 - d);
}
)")) {}
void GPXHazeFilter::didInit() {
    GPXFilter::didInit();
    distanceUniform_ = detail::uniformLocation(*this, "hazeDistance");
    slopeUniform_ = detail::uniformLocation(*this, "slope");
    setDistance(0.2);
    setSlope(0.0);
}
GPX_DEFINE_FLOAT_PARAMETER(GPXHazeFilter, distance, setDistance, distance_, distanceUniform_)
GPX_DEFINE_FLOAT_PARAMETER(GPXHazeFilter, slope, setSlope, slope_, slopeUniform_)

GPXHighlightShadowFilter::GPXHighlightShadowFilter()
    : GPXFilter(detail::shaderText({detail::kFilterShaderHead, R"(uniform lowp float shadows;
uniform lowp float highlights;
const mediump vec3 luminanceWeighting = vec3(0.3, 0.3, 0.3);
void main()
{
    lowp vec4 source = texture2D(inputImageTexture, textureCoordinate);
    mediump float luminance = dot(source.rgb, luminanceWeighting);
    mediump float shadow = clamp((pow(luminance, 1.0 / (shadows + 1.0)) +
                                  (-0.76) * pow(luminance, 2.0 / (shadows + 1.0))) - luminance, 0.0, 1.0);
    mediump float highlight = clamp((1.0 - (pow(1.0 - luminance, 1.0 / (2.0 - highlights)) +
                                            (-0.8) * pow(1.0 - luminance, 2.0 / (2.0 - highlights)))) - luminance,
                                    -1.0, 0.0);
    lowp vec3 result = vec3(0.0, 0.0, 0.0) + ((luminance + shadow + highlight) - 0.0) *
                       ((source.rgb - vec3(0.0, 0.0, 0.0)) / (luminance - 0.0));
    gl_FragColor = vec4(result.rgb, source.a);
}
)"})) {}
void GPXHighlightShadowFilter::didInit() {
    GPXFilter::didInit();
    shadowsUniform_ = detail::uniformLocation(*this, "shadows");
    highlightsUniform_ = detail::uniformLocation(*this, "highlights");
    setShadows(0.0);
    setHighlights(1.0);
}
GPX_DEFINE_FLOAT_PARAMETER(GPXHighlightShadowFilter, shadows, setShadows, shadows_, shadowsUniform_)
GPX_DEFINE_FLOAT_PARAMETER(GPXHighlightShadowFilter, highlights, setHighlights, highlights_,
                           highlightsUniform_)

// ---- hue and white balance ---------------------------------------------------------------------

GPXHueFilter::GPXHueFilter()
    : GPXFilter(detail::shaderText({detail::kFilterShaderHead, R"(uniform mediump float hueAdjust;
const highp vec4 kRGBToYPrime = vec4(0.299, 0.587, 0.114, 0.0);
const highp vec4 kRGBToI = vec4(0.595716, -0.274453, -0.321263, 0.0);
const highp vec4 kRGBToQ = vec4(0.211456, -0.522591, 0.31135, 0.0);
const highp vec4 kYIQToR = vec4(1.0, 0.9563, 0.6210, 0.0);
const highp vec4 kYIQToG = vec4(1.0, -0.2721, -0.6474, 0.0);
const highp vec4 kYIQToB = vec4(1.0, -1.1070, 1.7046, 0.0);
void main()
{
    highp vec4 color = texture2D(inputImageTexture, textureCoordinate);
    highp float YPrime = dot(color, kRGBToYPrime);
    highp float I = dot(color, kRGBToI);
    highp float Q = dot(color, kRGBToQ);
    highp float hue = atan(Q, I);
    highp float chroma = sqrt(I * I + Q * Q);
    hue -= hueAdjust;
    Q = chroma * sin(hue);
    I = chroma * cos(hue);
    highp vec4 yIQ = vec4(YPrime, I, Q, 0.0);
    gl_FragColor = vec4(dot(yIQ, kYIQToR), dot(yIQ, kYIQToG), dot(yIQ, kYIQToB), color.a);
}
)"})) {}
void GPXHueFilter::didInit() {
    GPXFilter::didInit();
    hueAdjustUniform_ = detail::uniformLocation(*this, "hueAdjust");
    setHue(90.0);
}
void GPXHueFilter::setHue(double newHue) {
    // Single-precision remainder, keeping the sign: -90 stays -90, 450 becomes 90.
    const double radians = std::fmod(static_cast<float>(newHue), 360.0f) * M_PI / 180.0;
    hue_.store(radians);
    setFloat(static_cast<GLfloat>(radians), hueAdjustUniform_, filterProgram_);
}
double GPXHueFilter::hue() const {
    return hue_.load();
}

GPXWhiteBalanceFilter::GPXWhiteBalanceFilter()
    : GPXFilter(detail::shaderText({detail::kFilterShaderHead, R"(uniform lowp float temperature;
uniform lowp float tint;
const lowp vec3 warmFilter = vec3(0.93, 0.54, 0.0);
const mediump mat3 RGBtoYIQ = mat3(0.299, 0.587, 0.114, 0.596, -0.274, -0.322, 0.212, -0.523, 0.311);
const mediump mat3 YIQtoRGB = mat3(1.0, 0.956, 0.621, 1.0, -0.272, -0.647, 1.0, -1.105, 1.702);
void main()
{
    lowp vec4 source = texture2D(inputImageTexture, textureCoordinate);
    mediump vec3 yiq = RGBtoYIQ * source.rgb;
    yiq.b = clamp(yiq.b + tint * 0.5226 * 0.1, -0.5226, 0.5226);
    lowp vec3 rgb = YIQtoRGB * yiq;
    lowp vec3 processed = vec3(
        (rgb.r < 0.5 ? (2.0 * rgb.r * warmFilter.r) : (1.0 - 2.0 * (1.0 - rgb.r) * (1.0 - warmFilter.r))),
        (rgb.g < 0.5 ? (2.0 * rgb.g * warmFilter.g) : (1.0 - 2.0 * (1.0 - rgb.g) * (1.0 - warmFilter.g))),
        (rgb.b < 0.5 ? (2.0 * rgb.b * warmFilter.b) : (1.0 - 2.0 * (1.0 - rgb.b) * (1.0 - warmFilter.b))));
    gl_FragColor = vec4(mix(rgb, processed, temperature), source.a);
}
)"})) {}
void GPXWhiteBalanceFilter::didInit() {
    GPXFilter::didInit();
    temperatureUniform_ = detail::uniformLocation(*this, "temperature");
    tintUniform_ = detail::uniformLocation(*this, "tint");
    setTemperature(5000.0);
    setTint(0.0);
}
void GPXWhiteBalanceFilter::setTemperature(double newValue) {
    temperature_.store(newValue);
    const double sent = (newValue - 5000.0) * (newValue < 5000.0 ? 0.0004 : 0.00006);
    setFloat(static_cast<GLfloat>(sent), temperatureUniform_, filterProgram_);
}
double GPXWhiteBalanceFilter::temperature() const {
    return temperature_.load();
}
void GPXWhiteBalanceFilter::setTint(double newValue) {
    tint_.store(newValue);
    setFloat(static_cast<GLfloat>(newValue / 100.0), tintUniform_, filterProgram_);
}
double GPXWhiteBalanceFilter::tint() const {
    return tint_.load();
}

// ---- false colour, chroma key, CGA -------------------------------------------------------------

GPXFalseColorFilter::GPXFalseColorFilter()
    : GPXFilter(shader(R"(uniform lowp vec3 firstColor;
uniform lowp vec3 secondColor;
void main()
{
    lowp vec4 c = texture2D(inputImageTexture, textureCoordinate);
    lowp float luminance = dot(c.rgb, luminanceWeighting);
    gl_FragColor = vec4(mix(firstColor.rgb, secondColor.rgb, luminance), c.a);
}
)")) {}
void GPXFalseColorFilter::didInit() {
    GPXFilter::didInit();
    firstColorUniform_ = detail::uniformLocation(*this, "firstColor");
    secondColorUniform_ = detail::uniformLocation(*this, "secondColor");
    setFirstColor({0.0f, 0.0f, 0.5f, 1.0f});
    setSecondColor({1.0f, 0.0f, 0.0f, 1.0f});
}
void GPXFalseColorFilter::setFirstColor(GPUVector4 newValue) {
    {
        std::lock_guard lock(colorsMutex_);
        firstColor_ = newValue;
    }
    setFirstColorRed(newValue.one, newValue.two, newValue.three);
}
GPUVector4 GPXFalseColorFilter::firstColor() const {
    std::lock_guard lock(colorsMutex_);
    return firstColor_;
}
void GPXFalseColorFilter::setSecondColor(GPUVector4 newValue) {
    {
        std::lock_guard lock(colorsMutex_);
        secondColor_ = newValue;
    }
    setSecondColorRed(newValue.one, newValue.two, newValue.three);
}
GPUVector4 GPXFalseColorFilter::secondColor() const {
    std::lock_guard lock(colorsMutex_);
    return secondColor_;
}
void GPXFalseColorFilter::setFirstColorRed(GLfloat red, GLfloat green, GLfloat blue) {
    setVec3({red, green, blue}, firstColorUniform_, filterProgram_);
}
void GPXFalseColorFilter::setSecondColorRed(GLfloat red, GLfloat green, GLfloat blue) {
    setVec3({red, green, blue}, secondColorUniform_, filterProgram_);
}

GPXChromaKeyFilter::GPXChromaKeyFilter()
    : GPXFilter(detail::shaderText({detail::kFilterShaderHead, R"(uniform lowp vec3 colorToReplace;
uniform highp float thresholdSensitivity;
uniform highp float smoothing;
void main()
{
    highp vec4 textureColor = texture2D(inputImageTexture, textureCoordinate);
    highp float maskY = 0.2989 * colorToReplace.r + 0.5866 * colorToReplace.g + 0.1145 * colorToReplace.b;
    highp float maskCr = 0.7132 * (colorToReplace.r - maskY);
    highp float maskCb = 0.5647 * (colorToReplace.b - maskY);
    highp float Y = 0.2989 * textureColor.r + 0.5866 * textureColor.g + 0.1145 * textureColor.b;
    highp float Cr = 0.7132 * (textureColor.r - Y);
    highp float Cb = 0.5647 * (textureColor.b - Y);
    highp float blendValue = smoothstep(thresholdSensitivity, thresholdSensitivity + smoothing,
                                        distance(vec2(Cr, Cb), vec2(maskCr, maskCb)));
    gl_FragColor = vec4(textureColor.rgb, textureColor.a * blendValue);
}
)"})) {}
void GPXChromaKeyFilter::didInit() {
    GPXFilter::didInit();
    thresholdSensitivityUniform_ = detail::uniformLocation(*this, "thresholdSensitivity");
    smoothingUniform_ = detail::uniformLocation(*this, "smoothing");
    colorToReplaceUniform_ = detail::uniformLocation(*this, "colorToReplace");
    setThresholdSensitivity(0.4);
    setSmoothing(0.1);
    setColorToReplaceRed(0.0f, 1.0f, 0.0f);
}
GPX_DEFINE_FLOAT_PARAMETER(GPXChromaKeyFilter, thresholdSensitivity, setThresholdSensitivity,
                           thresholdSensitivity_, thresholdSensitivityUniform_)
GPX_DEFINE_FLOAT_PARAMETER(GPXChromaKeyFilter, smoothing, setSmoothing, smoothing_, smoothingUniform_)
void GPXChromaKeyFilter::setColorToReplaceRed(GLfloat red, GLfloat green, GLfloat blue) {
    setVec3({red, green, blue}, colorToReplaceUniform_, filterProgram_);
}

GPXCGAColorspaceFilter::GPXCGAColorspaceFilter()
    : GPXFilter(detail::shaderText({detail::kFilterShaderHead, R"(void main()
{
    highp vec2 cell = vec2(1.0 / 200.0, 1.0 / 320.0);
    highp vec2 samplePosition = textureCoordinate - mod(textureCoordinate, cell);
    highp vec4 color = texture2D(inputImageTexture, samplePosition);
    mediump vec4 black = vec4(0.0, 0.0, 0.0, 1.0);
    mediump vec4 white = vec4(1.0, 1.0, 1.0, 1.0);
    mediump vec4 cyan = vec4(85.0 / 255.0, 1.0, 1.0, 1.0);
    mediump vec4 magenta = vec4(1.0, 85.0 / 255.0, 1.0, 1.0);
    highp float toBlack = distance(color, black);
    highp float toWhite = distance(color, white);
    highp float toCyan = distance(color, cyan);
    highp float toMagenta = distance(color, magenta);
    highp float nearest = min(min(toBlack, toWhite), min(toCyan, toMagenta));
    if (nearest == toBlack) {
        gl_FragColor = black;
    } else if (nearest == toWhite) {
        gl_FragColor = white;
    } else if (nearest == toCyan) {
        gl_FragColor = cyan;
    } else {
        gl_FragColor = magenta;
    }
}
)"})) {}

// ---- colour matrix and sepia -------------------------------------------------------------------

GPXColorMatrixFilter::GPXColorMatrixFilter()
    : GPXFilter(detail::shaderText({detail::kFilterShaderHead, R"(uniform lowp mat4 colorMatrix;
uniform lowp float intensity;
void main()
{
    lowp vec4 textureColor = texture2D(inputImageTexture, textureCoordinate);
    lowp vec4 outputColor = textureColor * colorMatrix;
    gl_FragColor = (intensity * outputColor) + ((1.0 - intensity) * textureColor);
}
)"})) {}
void GPXColorMatrixFilter::didInit() {
    GPXFilter::didInit();
    colorMatrixUniform_ = detail::uniformLocation(*this, "colorMatrix");
    intensityUniform_ = detail::uniformLocation(*this, "intensity");
    setIntensity(1.0);
    setColorMatrix({{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}});
}
void GPXColorMatrixFilter::setColorMatrix(GPUMatrix4x4 newValue) {
    {
        std::lock_guard lock(matrixMutex_);
        colorMatrix_ = newValue;
    }
    setMatrix4f(newValue, colorMatrixUniform_, filterProgram_);
}
GPUMatrix4x4 GPXColorMatrixFilter::colorMatrix() const {
    std::lock_guard lock(matrixMutex_);
    return colorMatrix_;
}
GPX_DEFINE_FLOAT_PARAMETER(GPXColorMatrixFilter, intensity, setIntensity, intensity_, intensityUniform_)

void GPXSepiaFilter::didInit() {
    GPXColorMatrixFilter::didInit();
    setIntensity(1.0);
    setColorMatrix({{0.3588f, 0.7044f, 0.1368f, 0.0f},
                    {0.2990f, 0.5870f, 0.1140f, 0.0f},
                    {0.2392f, 0.4696f, 0.0912f, 0.0f},
                    {0.0f, 0.0f, 0.0f, 1.0f}});
}

// ---- adaptive threshold ------------------------------------------------------------------------

namespace {
constexpr const char* kAdaptiveThresholdShader = R"(varying highp vec2 textureCoordinate;
varying highp vec2 textureCoordinate2;
uniform sampler2D inputImageTexture;
uniform sampler2D inputImageTexture2;
void main()
{
    highp float blurredInput = texture2D(inputImageTexture, textureCoordinate).r;
    highp float localLuminance = texture2D(inputImageTexture2, textureCoordinate2).r;
    highp float thresholdResult = step(blurredInput - 0.05, localLuminance);
    gl_FragColor = vec4(vec3(thresholdResult), 1.0);
}
)";
}  // namespace

void GPXAdaptiveThresholdFilter::didInit() {
    auto luminanceFilter = make<GPXGrayscaleFilter>();
    addFilter(luminanceFilter);
    boxBlurFilter_ = make<GPXBoxBlurFilter>();
    addFilter(boxBlurFilter_);
    auto adaptiveThresholdFilter = make<GPXTwoInputFilter>(kAdaptiveThresholdShader);
    addFilter(adaptiveThresholdFilter);
    luminanceFilter->addTarget(boxBlurFilter_);
    boxBlurFilter_->addTarget(adaptiveThresholdFilter);
    luminanceFilter->addTarget(adaptiveThresholdFilter);
    setInitialFilters({luminanceFilter});
    setTerminalFilter(adaptiveThresholdFilter);
}

void GPXAdaptiveThresholdFilter::setBlurRadiusInPixels(double newValue) {
    boxBlurFilter_->setBlurRadiusInPixels(newValue);
}

double GPXAdaptiveThresholdFilter::blurRadiusInPixels() const {
    return boxBlurFilter_->blurRadiusInPixels();
}

// ---- solid colour ------------------------------------------------------------------------------

GPXSolidColorGenerator::GPXSolidColorGenerator()
    : GPXFilter(detail::shaderText({detail::kFilterShaderHead, R"(uniform lowp vec4 color;
uniform lowp float useExistingAlpha;
void main()
{
    lowp vec4 textureColor = texture2D(inputImageTexture, textureCoordinate);
    gl_FragColor = vec4(color.rgb, max(textureColor.a, 1.0 - useExistingAlpha));
}
)"})) {}

void GPXSolidColorGenerator::didInit() {
    GPXFilter::didInit();
    useExistingAlphaUniform_ = detail::uniformLocation(*this, "useExistingAlpha");
    setUseExistingAlpha(false);
}

void GPXSolidColorGenerator::renderToTextureWithVertices(const GLfloat*, const GLfloat*) {
    performSyncOnSharedContextQueue([this] {
        // The input, if any, only gives the size: it goes back unread, once.
        if (firstInputFramebuffer_) firstInputFramebuffer_->unlock();
        firstInputFramebuffer_.reset();
        const CGSize size = sizeOfFBO();
        if (preventRendering_ || !filterProgram_ || size.width < 1 || size.height < 1) return;
        GPXContext::setActiveShaderProgram(filterProgram_);
        outputFramebuffer_ =
            GPXContext::sharedFramebufferCache()->fetchFramebufferForSize(size, outputTextureOptions_, false);
        outputFramebuffer_->activateFramebuffer();
        if (usingNextFrameForImageCapture_.load()) outputFramebuffer_->lock();
        const GPUVector4 c = color();
        glClearColor(c.one, c.two, c.three, c.four);
        glClear(GL_COLOR_BUFFER_BIT);
        if (usingNextFrameForImageCapture_.load()) dispatch_semaphore_signal(imageCaptureSemaphore_);
    });
}

void GPXSolidColorGenerator::setColorRed(GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha) {
    {
        std::lock_guard lock(colorMutex_);
        color_ = {red, green, blue, alpha};
    }
    performAsyncOnSharedContextQueue(
        [self = selfAs<GPXSolidColorGenerator>()] { self->newFrameReadyAtTime(kCMTimeIndefinite, 0); });
}

void GPXSolidColorGenerator::setColor(GPUVector4 newValue) {
    setColorRed(newValue.one, newValue.two, newValue.three, newValue.four);
}

GPUVector4 GPXSolidColorGenerator::color() const {
    std::lock_guard lock(colorMutex_);
    return color_;
}

void GPXSolidColorGenerator::setUseExistingAlpha(bool newValue) {
    useExistingAlpha_.store(newValue);
    setInteger(newValue ? 1 : 0, useExistingAlphaUniform_, filterProgram_);
}

bool GPXSolidColorGenerator::useExistingAlpha() const {
    return useExistingAlpha_.load();
}

void GPXSolidColorGenerator::forceProcessingAtSize(CGSize frameSize) {
    GPXFilter::forceProcessingAtSize(frameSize);
    const CGSize size = inputTextureSize();
    if (size.width != 0 || size.height != 0) {
        performAsyncOnSharedContextQueue(
            [self = selfAs<GPXSolidColorGenerator>()] { self->newFrameReadyAtTime(kCMTimeIndefinite, 0); });
    }
}

void GPXSolidColorGenerator::addTargetAtTextureLocation(const Ref<GPXInput>& newTarget,
                                                        long textureLocation) {
    GPXFilter::addTargetAtTextureLocation(newTarget, textureLocation);
    const CGSize size = inputTextureSize();
    if (newTarget && (size.width != 0 || size.height != 0)) {
        performSyncOnSharedContextQueue([&] {
            newTarget->setInputSize(size, textureLocation);
            newTarget->newFrameReadyAtTime(kCMTimeIndefinite, textureLocation);
        });
    }
}
