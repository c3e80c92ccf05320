#include "gpu/filters/GPXDistortionFilters.h"

#include "gpu/core/GPXContext.h"
#include "gpu/filters/GPXFilterSupport.h"

namespace {

constexpr const char* kHead = "precision highp float;\n"
                              "varying highp vec2 textureCoordinate;\n"
                              "uniform sampler2D inputImageTexture;\n"
                              "uniform highp vec2 center;\n";

std::string shader(const char* body) {
    return detail::shaderText({kHead, body});
}

constexpr const char* kSphereBody = R"(uniform highp float radius;
uniform highp float aspectRatio;
uniform highp float refractiveIndex;
void main()
{
    highp vec2 textureCoordinateToUse = vec2(textureCoordinate.x, (textureCoordinate.y * aspectRatio + 0.5 - 0.5 * aspectRatio));
    highp float distanceFromCenter = distance(center, textureCoordinateToUse);
    lowp float checkForPresenceWithinSphere = step(distanceFromCenter, radius);
    distanceFromCenter = distanceFromCenter / radius;
    highp float normalizedDepth = radius * sqrt(max(1.0 - distanceFromCenter * distanceFromCenter, 0.0));
    highp vec3 sphereNormal = normalize(vec3(textureCoordinateToUse - center, normalizedDepth));
    highp vec3 refractedVector = refract(vec3(0.0, 0.0, -1.0), sphereNormal, refractiveIndex);
    gl_FragColor = texture2D(inputImageTexture, (refractedVector.xy + 1.0) * 0.5) * checkForPresenceWithinSphere;
}
)";

constexpr const char* kGlassSphereBody = R"(uniform highp float radius;
uniform highp float aspectRatio;
uniform highp float refractiveIndex;
const highp vec3 lightPosition = vec3(-0.5, 0.5, 1.0);
const highp vec3 ambientLightPosition = vec3(0.0, 0.0, 1.0);
void main()
{
    highp vec2 textureCoordinateToUse = vec2(textureCoordinate.x, (textureCoordinate.y * aspectRatio + 0.5 - 0.5 * aspectRatio));
    highp float distanceFromCenter = distance(center, textureCoordinateToUse);
    lowp float checkForPresenceWithinSphere = step(distanceFromCenter, radius);
    distanceFromCenter = distanceFromCenter / radius;
    highp float normalizedDepth = radius * sqrt(max(1.0 - distanceFromCenter * distanceFromCenter, 0.0));
    highp vec3 sphereNormal = normalize(vec3(textureCoordinateToUse - center, normalizedDepth));
    highp vec3 refractedVector = 2.0 * refract(vec3(0.0, 0.0, -1.0), sphereNormal, refractiveIndex);
    refractedVector.xy = -refractedVector.xy;
    highp vec3 finalSphereColor = texture2D(inputImageTexture, (refractedVector.xy + 1.0) * 0.5).rgb;
    highp float lightingIntensity = 2.5 * (1.0 - pow(clamp(dot(ambientLightPosition, sphereNormal), 0.0, 1.0), 0.25));
    finalSphereColor += lightingIntensity;
    lightingIntensity = clamp(dot(normalize(lightPosition), sphereNormal), 0.0, 1.0);
    lightingIntensity = pow(lightingIntensity, 15.0);
    finalSphereColor += vec3(0.8, 0.8, 0.8) * lightingIntensity;
    gl_FragColor = vec4(finalSphereColor, 1.0) * checkForPresenceWithinSphere;
}
)";

}  // namespace

// ---- centre and aspect ratio -------------------------------------------------------------------

GPXCenteredDistortionFilter::GPXCenteredDistortionFilter(std::string fragmentShaderString,
                                                         bool tracksAspectRatio,
                                                         const char* centerUniformName)
    : GPXFilter(std::move(fragmentShaderString)),
      tracksAspectRatio_(tracksAspectRatio),
      centerUniformName_(centerUniformName) {}

void GPXCenteredDistortionFilter::didInit() {
    GPXFilter::didInit();
    if (centerUniformName_) centerUniform_ = detail::uniformLocation(*this, centerUniformName_);
    aspectRatioUniform_ = detail::uniformLocation(*this, "aspectRatio");
    if (centerUniformName_) setCenter(CGPointMake(0.5, 0.5));
    if (tracksAspectRatio_) setAspectRatio(1.0);
}

GLint GPXCenteredDistortionFilter::floatUniform(const char* name) {
    return detail::uniformLocation(*this, name);
}

void GPXCenteredDistortionFilter::setCenter(CGPoint newValue) {
    {
        std::lock_guard lock(centerMutex_);
        center_ = newValue;
    }
    setPoint(rotatedPoint(newValue, inputRotation()), centerUniform_, filterProgram_);
}

CGPoint GPXCenteredDistortionFilter::center() const {
    std::lock_guard lock(centerMutex_);
    return center_;
}

void GPXCenteredDistortionFilter::setAspectRatio(double newValue) {
    aspectRatio_.store(newValue);
    setFloat(static_cast<GLfloat>(newValue), aspectRatioUniform_, filterProgram_);
}

void GPXCenteredDistortionFilter::adjustAspectRatio() {
    if (!tracksAspectRatio_) return;
    CGSize size = CGSizeZero;
    GPURotationMode rotation = rotationNone;
    performSyncOnSharedContextQueue([&] {
        size = inputTextureSize_;
        rotation = inputRotation_;
    });
    if (size.width <= 0 || size.height <= 0) return;
    setAspectRatio(GPURotationSwapsWidthAndHeight(rotation) ? size.width / size.height
                                                            : size.height / size.width);
}

void GPXCenteredDistortionFilter::setInputRotation(GPURotationMode newInputRotation, long textureIndex) {
    GPXFilter::setInputRotation(newInputRotation, textureIndex);
    if (centerUniformName_) setCenter(center());
    adjustAspectRatio();
}

void GPXCenteredDistortionFilter::setInputSize(CGSize newSize, long textureIndex) {
    CGSize old = CGSizeZero;
    performSyncOnSharedContextQueue([&] { old = inputTextureSize_; });
    GPXFilter::setInputSize(newSize, textureIndex);
    CGSize now = CGSizeZero;
    performSyncOnSharedContextQueue([&] { now = inputTextureSize_; });
    if ((now.width != old.width || now.height != old.height) && now.width > 0 && now.height > 0)
        adjustAspectRatio();
}

void GPXCenteredDistortionFilter::forceProcessingAtSize(CGSize frameSize) {
    GPXFilter::forceProcessingAtSize(frameSize);
    adjustAspectRatio();
}

// ---- swirl, bulge, pinch, stretch --------------------------------------------------------------

GPXSwirlFilter::GPXSwirlFilter()
    : GPXCenteredDistortionFilter(shader(R"(uniform highp float radius;
uniform highp float angle;
void main()
{
    highp vec2 textureCoordinateToUse = textureCoordinate;
    highp float dist = distance(center, textureCoordinate);
    if (dist < radius)
    {
        textureCoordinateToUse -= center;
        highp float percent = (radius - dist) / radius;
        highp float theta = percent * percent * angle * 8.0;
        highp float s = sin(theta);
        highp float c = cos(theta);
        textureCoordinateToUse = vec2(dot(textureCoordinateToUse, vec2(c, -s)), dot(textureCoordinateToUse, vec2(s, c)));
        textureCoordinateToUse += center;
    }
    gl_FragColor = texture2D(inputImageTexture, textureCoordinateToUse);
}
)"),
                                  false) {}

void GPXSwirlFilter::didInit() {
    GPXCenteredDistortionFilter::didInit();
    radiusUniform_ = floatUniform("radius");
    angleUniform_ = floatUniform("angle");
    setRadius(0.5);
    setAngle(1.0);
}

GPX_DEFINE_FLOAT_PARAMETER(GPXSwirlFilter, radius, setRadius, radius_, radiusUniform_)
GPX_DEFINE_FLOAT_PARAMETER(GPXSwirlFilter, angle, setAngle, angle_, angleUniform_)

GPXBulgeDistortionFilter::GPXBulgeDistortionFilter()
    : GPXCenteredDistortionFilter(shader(R"(uniform highp float aspectRatio;
uniform highp float radius;
uniform highp float scale;
void main()
{
    highp vec2 textureCoordinateToUse = vec2(textureCoordinate.x, (textureCoordinate.y * aspectRatio + 0.5 - 0.5 * aspectRatio));
    highp float dist = distance(center, textureCoordinateToUse);
    textureCoordinateToUse = textureCoordinate;
    if (dist < radius)
    {
        textureCoordinateToUse -= center;
        highp float percent = 1.0 - ((radius - dist) / radius) * scale;
        percent = percent * percent;
        textureCoordinateToUse = textureCoordinateToUse * percent;
        textureCoordinateToUse += center;
    }
    gl_FragColor = texture2D(inputImageTexture, textureCoordinateToUse);
}
)"),
                                  true) {}

void GPXBulgeDistortionFilter::didInit() {
    GPXCenteredDistortionFilter::didInit();
    radiusUniform_ = floatUniform("radius");
    scaleUniform_ = floatUniform("scale");
    setRadius(0.25);
    setScale(0.5);
}

GPX_DEFINE_FLOAT_PARAMETER(GPXBulgeDistortionFilter, radius, setRadius, radius_, radiusUniform_)
GPX_DEFINE_FLOAT_PARAMETER(GPXBulgeDistortionFilter, scale, setScale, scale_, scaleUniform_)

GPXPinchDistortionFilter::GPXPinchDistortionFilter()
    : GPXCenteredDistortionFilter(shader(R"(uniform highp float aspectRatio;
uniform highp float radius;
uniform highp float scale;
void main()
{
    highp vec2 textureCoordinateToUse = vec2(textureCoordinate.x, (textureCoordinate.y * aspectRatio + 0.5 - 0.5 * aspectRatio));
    highp float dist = distance(center, textureCoordinateToUse);
    textureCoordinateToUse = textureCoordinate;
    if (dist < radius)
    {
        textureCoordinateToUse -= center;
        highp float percent = 1.0 + ((0.5 - dist) / 0.5) * scale;
        textureCoordinateToUse = textureCoordinateToUse * percent;
        textureCoordinateToUse += center;
        gl_FragColor = texture2D(inputImageTexture, textureCoordinateToUse);
    }
    else
    {
        gl_FragColor = texture2D(inputImageTexture, textureCoordinate);
    }
}
)"),
                                  true) {}

void GPXPinchDistortionFilter::didInit() {
    GPXCenteredDistortionFilter::didInit();
    radiusUniform_ = floatUniform("radius");
    scaleUniform_ = floatUniform("scale");
    setRadius(1.0);
    setScale(0.5);
}

GPX_DEFINE_FLOAT_PARAMETER(GPXPinchDistortionFilter, radius, setRadius, radius_, radiusUniform_)
GPX_DEFINE_FLOAT_PARAMETER(GPXPinchDistortionFilter, scale, setScale, scale_, scaleUniform_)

GPXStretchDistortionFilter::GPXStretchDistortionFilter()
    : GPXCenteredDistortionFilter(shader(R"(void main()
{
    highp vec2 normCoord = 2.0 * textureCoordinate - 1.0;
    highp vec2 normCenter = 2.0 * center - 1.0;
    normCoord -= normCenter;
    mediump vec2 s = sign(normCoord);
    normCoord = abs(normCoord);
    normCoord = 0.5 * normCoord + 0.5 * smoothstep(0.25, 0.5, normCoord) * normCoord;
    normCoord = s * normCoord;
    normCoord += normCenter;
    mediump vec2 textureCoordinateToUse = normCoord / 2.0 + 0.5;
    gl_FragColor = texture2D(inputImageTexture, textureCoordinateToUse);
}
)"),
                                  false) {}

// ---- spheres -----------------------------------------------------------------------------------

GPXSphereRefractionFilter::GPXSphereRefractionFilter() : GPXSphereRefractionFilter(shader(kSphereBody)) {}

GPXSphereRefractionFilter::GPXSphereRefractionFilter(std::string fragmentShaderString)
    : GPXCenteredDistortionFilter(std::move(fragmentShaderString), true) {}

void GPXSphereRefractionFilter::didInit() {
    GPXCenteredDistortionFilter::didInit();
    radiusUniform_ = floatUniform("radius");
    refractiveIndexUniform_ = floatUniform("refractiveIndex");
    setRadius(0.25);
    setCenter(CGPointMake(0.5, 0.5));
    setRefractiveIndex(0.71);
    setBackgroundColorRed(0.0f, 0.0f, 0.0f, 0.0f);
}

GPX_DEFINE_FLOAT_PARAMETER(GPXSphereRefractionFilter, radius, setRadius, radius_, radiusUniform_)
GPX_DEFINE_FLOAT_PARAMETER(GPXSphereRefractionFilter, refractiveIndex, setRefractiveIndex, refractiveIndex_,
                           refractiveIndexUniform_)

GPXGlassSphereFilter::GPXGlassSphereFilter() : GPXSphereRefractionFilter(shader(kGlassSphereBody)) {}

// ---- vignette ----------------------------------------------------------------------------------

GPXVignetteFilter::GPXVignetteFilter()
    : GPXFilter(R"(varying highp vec2 textureCoordinate;
uniform sampler2D inputImageTexture;
uniform lowp vec2 vignetteCenter;
uniform lowp vec3 vignetteColor;
uniform highp float vignetteStart;
uniform highp float vignetteEnd;
void main()
{
    lowp vec4 sourceImageColor = texture2D(inputImageTexture, textureCoordinate);
    lowp float d = distance(textureCoordinate, vec2(vignetteCenter.x, vignetteCenter.y));
    lowp float percent = smoothstep(vignetteStart, vignetteEnd, d);
    gl_FragColor = vec4(mix(sourceImageColor.rgb, vignetteColor, percent), sourceImageColor.a);
}
)") {}

void GPXVignetteFilter::didInit() {
    GPXFilter::didInit();
    centerUniform_ = detail::uniformLocation(*this, "vignetteCenter");
    colorUniform_ = detail::uniformLocation(*this, "vignetteColor");
    startUniform_ = detail::uniformLocation(*this, "vignetteStart");
    endUniform_ = detail::uniformLocation(*this, "vignetteEnd");
    setVignetteCenter(CGPointMake(0.5, 0.5));
    setVignetteColor({0, 0, 0});
    setVignetteStart(0.3);
    setVignetteEnd(0.75);
}

void GPXVignetteFilter::setVignetteCenter(CGPoint newValue) {
    {
        std::lock_guard lock(mutex_);
        vignetteCenter_ = newValue;
    }
    setPoint(newValue, centerUniform_, filterProgram_);
}

CGPoint GPXVignetteFilter::vignetteCenter() const {
    std::lock_guard lock(mutex_);
    return vignetteCenter_;
}

void GPXVignetteFilter::setVignetteColor(GPUVector3 newValue) {
    {
        std::lock_guard lock(mutex_);
        vignetteColor_ = newValue;
    }
    setVec3(newValue, colorUniform_, filterProgram_);
}

GPUVector3 GPXVignetteFilter::vignetteColor() const {
    std::lock_guard lock(mutex_);
    return vignetteColor_;
}

GPX_DEFINE_FLOAT_PARAMETER(GPXVignetteFilter, vignetteStart, setVignetteStart, vignetteStart_, startUniform_)
GPX_DEFINE_FLOAT_PARAMETER(GPXVignetteFilter, vignetteEnd, setVignetteEnd, vignetteEnd_, endUniform_)
