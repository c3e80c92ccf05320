#include "gpu/filters/GPXStylisingFilters.h"

#include "gpu/core/GPXContext.h"
#include "gpu/filters/GPXFilterSupport.h"

namespace {

constexpr const char* kHead = "precision highp float;\n"
                              "varying highp vec2 textureCoordinate;\n"
                              "uniform sampler2D inputImageTexture;\n";

std::string shader(const char* body) {
    return detail::shaderText({kHead, body});
}

// The smallest width that still covers one input pixel.
double oneInputPixel(GPXFilter& filter) {
    CGSize size = CGSizeZero;
    performSyncOnSharedContextQueue([&] { size = filter.sizeOfFBO(); });
    return size.width > 0 ? 1.0 / size.width : 1.0 / 2048.0;
}

constexpr const char* kPixellateBody = R"(uniform highp float fractionalWidthOfPixel;
uniform highp float aspectRatio;
void main()
{
    highp vec2 sampleDivisor = vec2(fractionalWidthOfPixel, fractionalWidthOfPixel / aspectRatio);
    highp vec2 samplePos = textureCoordinate - mod(textureCoordinate, sampleDivisor) + 0.5 * sampleDivisor;
    gl_FragColor = texture2D(inputImageTexture, samplePos);
}
)";

}  // namespace

// ---- pixellation -------------------------------------------------------------------------------

GPXPixellateFilter::GPXPixellateFilter() : GPXPixellateFilter(shader(kPixellateBody), nullptr) {}

GPXPixellateFilter::GPXPixellateFilter(std::string fragmentShaderString, const char* centerUniformName)
    : GPXCenteredDistortionFilter(std::move(fragmentShaderString), true, centerUniformName) {}

void GPXPixellateFilter::didInit() {
    GPXCenteredDistortionFilter::didInit();
    fractionalWidthOfAPixelUniform_ = detail::uniformLocation(*this, "fractionalWidthOfPixel");
    setFractionalWidthOfAPixel(0.05);
}

void GPXPixellateFilter::setFractionalWidthOfAPixel(double newValue) {
    const double value = std::max(newValue, oneInputPixel(*this));
    fractionalWidthOfAPixel_.store(value);
    setFloat(static_cast<GLfloat>(value), fractionalWidthOfAPixelUniform_, filterProgram_);
}

GPXPixellatePositionFilter::GPXPixellatePositionFilter()
    : GPXPixellateFilter(shader(R"(uniform highp float fractionalWidthOfPixel;
uniform highp float aspectRatio;
uniform lowp vec2 pixelateCenter;
uniform highp float pixelateRadius;
void main()
{
    highp vec2 textureCoordinateToUse = vec2(textureCoordinate.x, (textureCoordinate.y * aspectRatio + 0.5 - 0.5 * aspectRatio));
    highp float dist = distance(pixelateCenter, textureCoordinateToUse);
    if (dist < pixelateRadius)
    {
        highp vec2 sampleDivisor = vec2(fractionalWidthOfPixel, fractionalWidthOfPixel / aspectRatio);
        highp vec2 samplePos = textureCoordinate - mod(textureCoordinate, sampleDivisor) + 0.5 * sampleDivisor;
        gl_FragColor = texture2D(inputImageTexture, samplePos);
    }
    else
    {
        gl_FragColor = texture2D(inputImageTexture, textureCoordinate);
    }
}
)"),
                         "pixelateCenter") {}

void GPXPixellatePositionFilter::didInit() {
    GPXPixellateFilter::didInit();
    radiusUniform_ = detail::uniformLocation(*this, "pixelateRadius");
    setRadius(0.25);
}

GPX_DEFINE_FLOAT_PARAMETER(GPXPixellatePositionFilter, radius, setRadius, radius_, radiusUniform_)

GPXPolarPixellateFilter::GPXPolarPixellateFilter()
    : GPXCenteredDistortionFilter(shader(R"(uniform highp vec2 center;
uniform highp vec2 pixelSize;
void main()
{
    highp vec2 normCoord = 2.0 * textureCoordinate - 1.0;
    highp vec2 normCenter = 2.0 * center - 1.0;
    normCoord -= normCenter;
    highp float r = length(normCoord);
    highp float phi = atan(normCoord.y, normCoord.x);
    r = r - mod(r, pixelSize.x) + 0.03;
    phi = phi - mod(phi, pixelSize.y);
    normCoord.x = r * cos(phi);
    normCoord.y = r * sin(phi);
    normCoord += normCenter;
    highp vec2 textureCoordinateToUse = normCoord / 2.0 + 0.5;
    gl_FragColor = texture2D(inputImageTexture, textureCoordinateToUse);
}
)"),
                                  false) {}

void GPXPolarPixellateFilter::didInit() {
    GPXCenteredDistortionFilter::didInit();
    pixelSizeUniform_ = detail::uniformLocation(*this, "pixelSize");
    setPixelSize(CGSizeMake(0.05, 0.05));
}

void GPXPolarPixellateFilter::setPixelSize(CGSize newValue) {
    {
        std::lock_guard lock(mutex_);
        pixelSize_ = newValue;
    }
    setSize(newValue, pixelSizeUniform_, filterProgram_);
}

CGSize GPXPolarPixellateFilter::pixelSize() const {
    std::lock_guard lock(mutex_);
    return pixelSize_;
}

GPXPolkaDotFilter::GPXPolkaDotFilter()
    : GPXPixellateFilter(shader(R"(uniform highp float fractionalWidthOfPixel;
uniform highp float aspectRatio;
uniform highp float dotScaling;
void main()
{
    highp vec2 sampleDivisor = vec2(fractionalWidthOfPixel, fractionalWidthOfPixel / aspectRatio);
    highp vec2 samplePos = textureCoordinate - mod(textureCoordinate, sampleDivisor) + 0.5 * sampleDivisor;
    highp vec2 textureCoordinateToUse = vec2(textureCoordinate.x, (textureCoordinate.y * aspectRatio + 0.5 - 0.5 * aspectRatio));
    highp vec2 adjustedSamplePos = vec2(samplePos.x, (samplePos.y * aspectRatio + 0.5 - 0.5 * aspectRatio));
    highp float distanceFromSamplePoint = distance(adjustedSamplePos, textureCoordinateToUse);
    lowp float checkForPresenceWithinDot = step(distanceFromSamplePoint, (fractionalWidthOfPixel * 0.5) * dotScaling);
    lowp vec4 inputColor = texture2D(inputImageTexture, samplePos);
    gl_FragColor = vec4(inputColor.rgb * checkForPresenceWithinDot, inputColor.a);
}
)"),
                         nullptr) {}

void GPXPolkaDotFilter::didInit() {
    GPXPixellateFilter::didInit();
    dotScalingUniform_ = detail::uniformLocation(*this, "dotScaling");
    setDotScaling(0.9);
}

GPX_DEFINE_FLOAT_PARAMETER(GPXPolkaDotFilter, dotScaling, setDotScaling, dotScaling_, dotScalingUniform_)

GPXHalftoneFilter::GPXHalftoneFilter()
    : GPXPixellateFilter(shader(R"(uniform highp float fractionalWidthOfPixel;
uniform highp float aspectRatio;
const highp vec3 W = vec3(0.2125, 0.7154, 0.0721);
void main()
{
    highp vec2 sampleDivisor = vec2(fractionalWidthOfPixel, fractionalWidthOfPixel / aspectRatio);
    highp vec2 samplePos = textureCoordinate - mod(textureCoordinate, sampleDivisor) + 0.5 * sampleDivisor;
    highp vec2 textureCoordinateToUse = vec2(textureCoordinate.x, (textureCoordinate.y * aspectRatio + 0.5 - 0.5 * aspectRatio));
    highp vec2 adjustedSamplePos = vec2(samplePos.x, (samplePos.y * aspectRatio + 0.5 - 0.5 * aspectRatio));
    highp float distanceFromSamplePoint = distance(adjustedSamplePos, textureCoordinateToUse);
    lowp vec3 sampledColor = texture2D(inputImageTexture, samplePos).rgb;
    highp float dotScaling = 1.0 - dot(sampledColor, W);
    lowp float checkForPresenceWithinDot = 1.0 - step(distanceFromSamplePoint, (fractionalWidthOfPixel * 0.5) * dotScaling);
    gl_FragColor = vec4(vec3(checkForPresenceWithinDot), 1.0);
}
)"),
                         nullptr) {}

void GPXHalftoneFilter::didInit() {
    GPXPixellateFilter::didInit();
    setFractionalWidthOfAPixel(0.01);
}

// ---- crosshatch --------------------------------------------------------------------------------

GPXCrosshatchFilter::GPXCrosshatchFilter()
    : GPXFilter(shader(R"(uniform highp float crossHatchSpacing;
uniform highp float lineWidth;
const highp vec3 W = vec3(0.2125, 0.7154, 0.0721);
void main()
{
    highp float luminance = dot(texture2D(inputImageTexture, textureCoordinate).rgb, W);
    lowp vec4 colorToDisplay = vec4(1.0, 1.0, 1.0, 1.0);
    if (luminance < 1.00)
    {
        if (mod(textureCoordinate.x + textureCoordinate.y, crossHatchSpacing) <= lineWidth)
            colorToDisplay = vec4(0.0, 0.0, 0.0, 1.0);
    }
    if (luminance < 0.75)
    {
        if (mod(textureCoordinate.x - textureCoordinate.y, crossHatchSpacing) <= lineWidth)
            colorToDisplay = vec4(0.0, 0.0, 0.0, 1.0);
    }
    if (luminance < 0.50)
    {
        if (mod(textureCoordinate.x + textureCoordinate.y - (crossHatchSpacing / 2.0), crossHatchSpacing) <= lineWidth)
            colorToDisplay = vec4(0.0, 0.0, 0.0, 1.0);
    }
    if (luminance < 0.3)
    {
        if (mod(textureCoordinate.x - textureCoordinate.y - (crossHatchSpacing / 2.0), crossHatchSpacing) <= lineWidth)
            colorToDisplay = vec4(0.0, 0.0, 0.0, 1.0);
    }
    gl_FragColor = colorToDisplay;
}
)")) {}

void GPXCrosshatchFilter::didInit() {
    GPXFilter::didInit();
    crossHatchSpacingUniform_ = detail::uniformLocation(*this, "crossHatchSpacing");
    lineWidthUniform_ = detail::uniformLocation(*this, "lineWidth");
    setCrossHatchSpacing(0.03);
    setLineWidth(0.003);
}

void GPXCrosshatchFilter::setCrossHatchSpacing(double newValue) {
    const double value = std::max(newValue, oneInputPixel(*this));
    crossHatchSpacing_.store(value);
    setFloat(static_cast<GLfloat>(value), crossHatchSpacingUniform_, filterProgram_);
}

GPX_DEFINE_FLOAT_PARAMETER(GPXCrosshatchFilter, lineWidth, setLineWidth, lineWidth_, lineWidthUniform_)

// ---- toon --------------------------------------------------------------------------------------

GPXToonFilter::GPXToonFilter()
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
uniform highp float threshold;
uniform highp float quantizationLevels;
void main()
{
    vec4 textureColor = texture2D(inputImageTexture, textureCoordinate);
    float bottomLeftIntensity = texture2D(inputImageTexture, bottomLeftTextureCoordinate).r;
    float topRightIntensity = texture2D(inputImageTexture, topRightTextureCoordinate).r;
    float topLeftIntensity = texture2D(inputImageTexture, topLeftTextureCoordinate).r;
    float bottomRightIntensity = texture2D(inputImageTexture, bottomRightTextureCoordinate).r;
    float leftIntensity = texture2D(inputImageTexture, leftTextureCoordinate).r;
    float rightIntensity = texture2D(inputImageTexture, rightTextureCoordinate).r;
    float bottomIntensity = texture2D(inputImageTexture, bottomTextureCoordinate).r;
    float topIntensity = texture2D(inputImageTexture, topTextureCoordinate).r;
    float h = -topLeftIntensity - 2.0 * topIntensity - topRightIntensity + bottomLeftIntensity + 2.0 * bottomIntensity + bottomRightIntensity;
    float v = -bottomLeftIntensity - 2.0 * leftIntensity - topLeftIntensity + bottomRightIntensity + 2.0 * rightIntensity + topRightIntensity;
    float mag = length(vec2(h, v));
    vec3 posterizedImageColor = floor((textureColor.rgb * quantizationLevels) + 0.5) / quantizationLevels;
    float thresholdTest = 1.0 - step(threshold, mag);
    gl_FragColor = vec4(posterizedImageColor * thresholdTest, textureColor.a);
}
)") {}

void GPXToonFilter::didInit() {
    GPX3x3TextureSamplingFilter::didInit();
    thresholdUniform_ = detail::uniformLocation(*this, "threshold");
    quantizationLevelsUniform_ = detail::uniformLocation(*this, "quantizationLevels");
    setThreshold(0.2);
    setQuantizationLevels(10.0);
}

GPX_DEFINE_FLOAT_PARAMETER(GPXToonFilter, threshold, setThreshold, threshold_, thresholdUniform_)
GPX_DEFINE_FLOAT_PARAMETER(GPXToonFilter, quantizationLevels, setQuantizationLevels, quantizationLevels_,
                           quantizationLevelsUniform_)

void GPXSmoothToonFilter::didInit() {
    blurFilter_ = make<GPXGaussianBlurFilter>();
    addFilter(blurFilter_);
    toonFilter_ = make<GPXToonFilter>();
    addFilter(toonFilter_);
    blurFilter_->addTarget(toonFilter_);
    setInitialFilters({blurFilter_});
    setTerminalFilter(toonFilter_);
    setBlurRadiusInPixels(2.0);
    setThreshold(0.2);
    setQuantizationLevels(10.0);
}

void GPXSmoothToonFilter::setBlurRadiusInPixels(double newValue) {
    blurFilter_->setBlurRadiusInPixels(newValue);
}
double GPXSmoothToonFilter::blurRadiusInPixels() const {
    return blurFilter_->blurRadiusInPixels();
}
void GPXSmoothToonFilter::setTexelWidth(double newValue) {
    toonFilter_->setTexelWidth(newValue);
}
double GPXSmoothToonFilter::texelWidth() {
    return toonFilter_->texelWidth();
}
void GPXSmoothToonFilter::setTexelHeight(double newValue) {
    toonFilter_->setTexelHeight(newValue);
}
double GPXSmoothToonFilter::texelHeight() {
    return toonFilter_->texelHeight();
}
void GPXSmoothToonFilter::setThreshold(double newValue) {
    toonFilter_->setThreshold(newValue);
}
double GPXSmoothToonFilter::threshold() const {
    return toonFilter_->threshold();
}
void GPXSmoothToonFilter::setQuantizationLevels(double newValue) {
    toonFilter_->setQuantizationLevels(newValue);
}
double GPXSmoothToonFilter::quantizationLevels() const {
    return toonFilter_->quantizationLevels();
}

// ---- Kuwahara ----------------------------------------------------------------------------------

namespace {

// Mean and variance sum of the quadrant i in [i0, i1], j in [j0, j1]; keeps it when its variance
// is strictly below the best so far.
constexpr const char* kKuwaharaQuadrant =
    R"(void quadrant(int i0, int i1, int j0, int j1, inout float minSigma2, inout vec3 result)
{
    vec3 m = vec3(0.0);
    vec3 s = vec3(0.0);
    float n = 0.0;
    for (int j = -8; j <= 8; ++j)
    {
        if (j < j0 || j > j1) continue;
        for (int i = -8; i <= 8; ++i)
        {
            if (i < i0 || i > i1) continue;
            vec3 c = texture2D(inputImageTexture, textureCoordinate + vec2(i, j) * src_size).rgb;
            m += c;
            s += c * c;
            n += 1.0;
        }
    }
    m /= n;
    s = abs(s / n - m * m);
    float sigma2 = s.r + s.g + s.b;
    if (sigma2 < minSigma2)
    {
        minSigma2 = sigma2;
        result = m;
    }
}
)";

}  // namespace

GPXKuwaharaFilter::GPXKuwaharaFilter()
    : GPXFilter(detail::shaderText({kHead, R"(uniform int radius;
const vec2 src_size = vec2 (1.0 / 768.0, 1.0 / 1024.0);
)",
                                    kKuwaharaQuadrant, R"(void main()
{
    float minSigma2 = 100.0;
    vec3 result = vec3(0.0);
    quadrant(-radius, 0, -radius, 0, minSigma2, result);
    quadrant(0, radius, -radius, 0, minSigma2, result);
    quadrant(0, radius, 0, radius, minSigma2, result);
    quadrant(-radius, 0, 0, radius, minSigma2, result);
    gl_FragColor = vec4(result, 1.0);
}
)"})) {}

void GPXKuwaharaFilter::didInit() {
    GPXFilter::didInit();
    radiusUniform_ = detail::uniformLocation(*this, "radius");
    setRadius(3);
}

void GPXKuwaharaFilter::setRadius(unsigned newValue) {
    // The shader's loops reach 8 samples either way.
    radius_.store(newValue);
    setInteger(static_cast<GLint>(std::min(newValue, 8u)), radiusUniform_, filterProgram_);
}

GPXKuwaharaRadius3Filter::GPXKuwaharaRadius3Filter()
    : GPXFilter(detail::shaderText({kHead, R"(const vec2 src_size = vec2 (1.0 / 768.0, 1.0 / 1024.0);
)",
                                    kKuwaharaQuadrant, R"(void main()
{
    float minSigma2 = 100.0;
    vec3 result = vec3(0.0);
    quadrant(-3, 0, -3, 0, minSigma2, result);
    quadrant(-3, 0, 0, 3, minSigma2, result);
    quadrant(0, 3, 0, 3, minSigma2, result);
    quadrant(0, 3, -3, 0, minSigma2, result);
    gl_FragColor = vec4(result, 1.0);
}
)"})) {}

// ---- Perlin noise ------------------------------------------------------------------------------

GPXPerlinNoiseFilter::GPXPerlinNoiseFilter()
    : GPXFilter(shader(R"(uniform float scale;
uniform vec4 colorStart;
uniform vec4 colorFinish;
vec4 mod289(vec4 x)
{
    return x - floor(x * (1.0 / 289.0)) * 289.0;
}
vec4 permute(vec4 x)
{
    return mod289(((x * 34.0) + 1.0) * x);
}
vec4 taylorInvSqrt(vec4 r)
{
    return 1.79284291400159 - 0.85373472095314 * r;
}
vec2 fade(vec2 t)
{
    return t * t * t * (t * (t * 6.0 - 15.0) + 10.0);
}
float cnoise(vec2 P)
{
    vec4 Pi = floor(P.xyxy) + vec4(0.0, 0.0, 1.0, 1.0);
    vec4 Pf = fract(P.xyxy) - vec4(0.0, 0.0, 1.0, 1.0);
    Pi = mod289(Pi);
    vec4 ix = Pi.xzxz;
    vec4 iy = Pi.yyww;
    vec4 fx = Pf.xzxz;
    vec4 fy = Pf.yyww;
    vec4 i = permute(permute(ix) + iy);
    vec4 gx = fract(i * (1.0 / 41.0)) * 2.0 - 1.0;
    vec4 gy = abs(gx) - 0.5;
    vec4 tx = floor(gx + 0.5);
    gx = gx - tx;
    vec2 g00 = vec2(gx.x, gy.x);
    vec2 g10 = vec2(gx.y, gy.y);
    vec2 g01 = vec2(gx.z, gy.z);
    vec2 g11 = vec2(gx.w, gy.w);
    vec4 norm = taylorInvSqrt(vec4(dot(g00, g00), dot(g01, g01), dot(g10, g10), dot(g11, g11)));
    g00 *= norm.x;
    g01 *= norm.y;
    g10 *= norm.z;
    g11 *= norm.w;
    float n00 = dot(g00, vec2(fx.x, fy.x));
    float n10 = dot(g10, vec2(fx.y, fy.y));
    float n01 = dot(g01, vec2(fx.z, fy.z));
    float n11 = dot(g11, vec2(fx.w, fy.w));
    vec2 fade_xy = fade(Pf.xy);
    vec2 n_x = mix(vec2(n00, n01), vec2(n10, n11), fade_xy.x);
    float n_xy = mix(n_x.x, n_x.y, fade_xy.y);
    return 2.3 * n_xy;
}
void main()
{
    float n1 = (cnoise(textureCoordinate * scale) + 1.0) / 2.0;
    vec4 colorDiff = colorFinish - colorStart;
    gl_FragColor = colorStart + colorDiff * n1;
}
)")) {}

void GPXPerlinNoiseFilter::didInit() {
    GPXFilter::didInit();
    scaleUniform_ = detail::uniformLocation(*this, "scale");
    colorStartUniform_ = detail::uniformLocation(*this, "colorStart");
    colorFinishUniform_ = detail::uniformLocation(*this, "colorFinish");
    setScale(8.0);
    setColorStart({0, 0, 0, 1});
    setColorFinish({1, 1, 1, 1});
}

GPX_DEFINE_FLOAT_PARAMETER(GPXPerlinNoiseFilter, scale, setScale, scale_, scaleUniform_)

void GPXPerlinNoiseFilter::setColorStart(GPUVector4 newValue) {
    {
        std::lock_guard lock(mutex_);
        colorStart_ = newValue;
    }
    setVec4(newValue, colorStartUniform_, filterProgram_);
}

GPUVector4 GPXPerlinNoiseFilter::colorStart() const {
    std::lock_guard lock(mutex_);
    return colorStart_;
}

void GPXPerlinNoiseFilter::setColorFinish(GPUVector4 newValue) {
    {
        std::lock_guard lock(mutex_);
        colorFinish_ = newValue;
    }
    setVec4(newValue, colorFinishUniform_, filterProgram_);
}

GPUVector4 GPXPerlinNoiseFilter::colorFinish() const {
    std::lock_guard lock(mutex_);
    return colorFinish_;
}
