#include "gpu/filters/GPXBlendFilters.h"

#include "gpu/core/GPXFramebufferCache.h"
#include "gpu/filters/GPXFilterSupport.h"

namespace {

constexpr const char* kBlendHead = R"(varying highp vec2 textureCoordinate;
varying highp vec2 textureCoordinate2;
uniform sampler2D inputImageTexture;
uniform sampler2D inputImageTexture2;
)";

// A blend's shader: `body` computes gl_FragColor from `base` and `overlay`.
std::string blend(const char* body, const char* uniforms = "") {
    return detail::shaderText({kBlendHead, uniforms, R"(void main()
{
    mediump vec4 base = texture2D(inputImageTexture, textureCoordinate);
    mediump vec4 overlay = texture2D(inputImageTexture2, textureCoordinate2);
)",
                               body, "}\n"});
}

// The colour helpers of the non-separable blends.
constexpr const char* kNonSeparableHelpers = R"(highp float lum(highp vec3 c) {
    return dot(c, vec3(0.3, 0.59, 0.11));
}
highp vec3 clipcolor(highp vec3 c) {
    highp float l = lum(c);
    highp float n = min(min(c.r, c.g), c.b);
    highp float x = max(max(c.r, c.g), c.b);
    if (n < 0.0) {
        c.r = l + ((c.r - l) * l) / (l - n);
        c.g = l + ((c.g - l) * l) / (l - n);
        c.b = l + ((c.b - l) * l) / (l - n);
    }
    if (x > 1.0) {
        c.r = l + ((c.r - l) * (1.0 - l)) / (x - l);
        c.g = l + ((c.g - l) * (1.0 - l)) / (x - l);
        c.b = l + ((c.b - l) * (1.0 - l)) / (x - l);
    }
    return c;
}
highp vec3 setlum(highp vec3 c, highp float l) {
    highp float d = l - lum(c);
    return clipcolor(c + vec3(d));
}
highp float sat(highp vec3 c) {
    return max(max(c.r, c.g), c.b) - min(min(c.r, c.g), c.b);
}
highp float mid(highp float cmin, highp float cmid, highp float cmax, highp float s) {
    return ((cmid - cmin) * s) / (cmax - cmin);
}
highp vec3 setsat(highp vec3 c, highp float s) {
    if (c.r > c.g) {
        if (c.r > c.b) {
            if (c.g > c.b) {
                c.g = mid(c.b, c.g, c.r, s);
                c.b = 0.0;
            } else {
                c.b = mid(c.g, c.b, c.r, s);
                c.g = 0.0;
            }
            c.r = s;
        } else {
            c.r = mid(c.g, c.r, c.b, s);
            c.b = s;
            c.g = 0.0;
        }
    } else if (c.r > c.b) {
        c.r = mid(c.b, c.r, c.g, s);
        c.g = s;
        c.b = 0.0;
    } else if (c.g > c.b) {
        c.b = mid(c.r, c.b, c.g, s);
        c.g = s;
        c.r = 0.0;
    } else if (c.b > c.g) {
        c.g = mid(c.r, c.g, c.b, s);
        c.b = s;
        c.r = 0.0;
    } else if (c.g > c.r) {
        // Green and blue tie above red: both are the largest.
        c = vec3(0.0, s, s);
    } else {
        // Only a grey has no hue to keep.
        c = vec3(0.0);
    }
    return c;
}
)";

std::string nonSeparable(const char* result) {
    return detail::shaderText({kBlendHead, kNonSeparableHelpers, R"(void main()
{
    highp vec4 base = texture2D(inputImageTexture, textureCoordinate);
    highp vec4 overlay = texture2D(inputImageTexture2, textureCoordinate2);
    highp vec3 blended = )",
                               result, R"(;
    gl_FragColor = vec4(base.rgb * (1.0 - overlay.a) + blended * overlay.a, base.a);
}
)"});
}

}  // namespace

#define GPX_DEFINE_PLAIN_BLEND(Class, text)                                                                  \
    Class::Class() : GPXTwoInputFilter(text) {}

#define GPX_DEFINE_MIX_BLEND(Class, text, defaultMix)                                                        \
    Class::Class() : GPXTwoInputFilter(text) {}                                                              \
    void Class::didInit() {                                                                                  \
        GPXTwoInputFilter::didInit();                                                                        \
        mixUniform_ = detail::uniformLocation(*this, "mixturePercent");                                      \
        setMix(defaultMix);                                                                                  \
    }                                                                                                        \
    GPX_DEFINE_FLOAT_PARAMETER(Class, mix, setMix, mix_, mixUniform_)

GPX_DEFINE_MIX_BLEND(GPXDissolveBlendFilter,
                     blend(R"(
    gl_FragColor = mix(base, overlay, mixturePercent);
)",
                           "uniform lowp float mixturePercent;\n"),
                     0.5)

GPX_DEFINE_MIX_BLEND(GPXAlphaBlendFilter,
                     blend(R"(
    gl_FragColor = vec4(mix(base.rgb, overlay.rgb, overlay.a * mixturePercent), base.a);
)",
                           "uniform lowp float mixturePercent;\n"),
                     0.5)

GPX_DEFINE_PLAIN_BLEND(GPXSourceOverBlendFilter, blend(R"(
    gl_FragColor = mix(base, overlay, overlay.a);
)"))

GPX_DEFINE_PLAIN_BLEND(GPXNormalBlendFilter, blend(R"(
    mediump float a = overlay.a + base.a * (1.0 - overlay.a);
    gl_FragColor = vec4((overlay.rgb * overlay.a + base.rgb * base.a * (1.0 - overlay.a)) / (a + step(a, 0.0)), a);
)"))

GPX_DEFINE_PLAIN_BLEND(GPXMultiplyBlendFilter, blend(R"(
    gl_FragColor = overlay * base + overlay * (1.0 - base.a) + base * (1.0 - overlay.a);
)"))

GPX_DEFINE_PLAIN_BLEND(GPXScreenBlendFilter, blend(R"(
    gl_FragColor = vec4(1.0) - ((vec4(1.0) - overlay) * (vec4(1.0) - base));
)"))

GPX_DEFINE_PLAIN_BLEND(GPXDarkenBlendFilter, blend(R"(
    gl_FragColor = vec4(min(overlay.rgb * base.a, base.rgb * overlay.a) + overlay.rgb * (1.0 - base.a) +
                        base.rgb * (1.0 - overlay.a), 1.0);
)"))

GPX_DEFINE_PLAIN_BLEND(GPXLightenBlendFilter, blend(R"(
    gl_FragColor = max(base, overlay);
)"))

GPX_DEFINE_PLAIN_BLEND(GPXDifferenceBlendFilter, blend(R"(
    gl_FragColor = vec4(abs(overlay.rgb - base.rgb), base.a);
)"))

GPX_DEFINE_PLAIN_BLEND(GPXSubtractBlendFilter, blend(R"(
    gl_FragColor = vec4(base.rgb - overlay.rgb, base.a);
)"))

GPX_DEFINE_PLAIN_BLEND(GPXExclusionBlendFilter, blend(R"(
    gl_FragColor = vec4((overlay.rgb * base.a + base.rgb * overlay.a - 2.0 * overlay.rgb * base.rgb) +
                        overlay.rgb * (1.0 - base.a) + base.rgb * (1.0 - overlay.a), base.a);
)"))

GPX_DEFINE_PLAIN_BLEND(GPXLinearBurnBlendFilter, blend(R"(
    gl_FragColor = vec4(clamp(base.rgb + overlay.rgb - vec3(1.0), vec3(0.0), vec3(1.0)), base.a);
)"))

GPX_DEFINE_PLAIN_BLEND(GPXColorBurnBlendFilter, blend(R"(
    gl_FragColor = vec4(1.0) - (vec4(1.0) - base) / overlay;
)"))

GPX_DEFINE_PLAIN_BLEND(GPXColorDodgeBlendFilter, blend(R"(
    mediump vec3 baseOverlayAlphaProduct = vec3(overlay.a * base.a);
    mediump vec3 rightHandProduct = overlay.rgb * (1.0 - base.a) + base.rgb * (1.0 - overlay.a);
    mediump vec3 firstBlendColor = baseOverlayAlphaProduct + rightHandProduct;
    mediump vec3 overlayRGB = clamp((overlay.rgb / clamp(overlay.a, 0.01, 1.0)) * step(0.0, overlay.a), 0.0, 0.99);
    mediump vec3 secondBlendColor = (base.rgb * overlay.a) / (1.0 - overlayRGB) + rightHandProduct;
    mediump vec3 colorChoice = step((overlay.rgb * base.a + base.rgb * overlay.a), baseOverlayAlphaProduct);
    gl_FragColor = vec4(mix(firstBlendColor, secondBlendColor, colorChoice), 1.0);
)"))

GPX_DEFINE_PLAIN_BLEND(
    GPXOverlayBlendFilter,
    blend(R"(
    gl_FragColor = vec4(channel(base.r, overlay.r, base.a, overlay.a), channel(base.g, overlay.g, base.a, overlay.a),
                        channel(base.b, overlay.b, base.a, overlay.a), 1.0);
)",
          R"(mediump float channel(mediump float b, mediump float o, mediump float ba, mediump float oa) {
    if (2.0 * b < ba) return 2.0 * o * b + o * (1.0 - ba) + b * (1.0 - oa);
    return oa * ba - 2.0 * (ba - b) * (oa - o) + o * (1.0 - ba) + b * (1.0 - oa);
}
)"))

GPX_DEFINE_PLAIN_BLEND(
    GPXHardLightBlendFilter,
    blend(R"(
    gl_FragColor = vec4(channel(base.r, overlay.r, base.a, overlay.a), channel(base.g, overlay.g, base.a, overlay.a),
                        channel(base.b, overlay.b, base.a, overlay.a), 1.0);
)",
          R"(mediump float channel(mediump float b, mediump float o, mediump float ba, mediump float oa) {
    if (2.0 * o < oa) return 2.0 * o * b + o * (1.0 - ba) + b * (1.0 - oa);
    return oa * ba - 2.0 * (ba - b) * (oa - o) + o * (1.0 - ba) + b * (1.0 - oa);
}
)"))

GPX_DEFINE_PLAIN_BLEND(GPXSoftLightBlendFilter, blend(R"(
    mediump float alphaDivisor = base.a + step(base.a, 0.0);
    gl_FragColor = base * (overlay.a * (base / alphaDivisor) + (2.0 * overlay * (1.0 - (base / alphaDivisor)))) +
                   overlay * (1.0 - base.a) + base * (1.0 - overlay.a);
)"))

GPX_DEFINE_PLAIN_BLEND(
    GPXAddBlendFilter,
    blend(R"(
    gl_FragColor = vec4(channel(base.r, overlay.r, base.a, overlay.a), channel(base.g, overlay.g, base.a, overlay.a),
                        channel(base.b, overlay.b, base.a, overlay.a), overlay.a + base.a - overlay.a * base.a);
)",
          R"(mediump float channel(mediump float b, mediump float o, mediump float ba, mediump float oa) {
    if (o * ba + b * oa >= oa * ba) return oa * ba + o * (1.0 - ba) + b * (1.0 - oa);
    return o + b;
}
)"))

GPX_DEFINE_PLAIN_BLEND(
    GPXDivideBlendFilter,
    blend(R"(
    gl_FragColor = vec4(channel(base.r, overlay.r, base.a, overlay.a), channel(base.g, overlay.g, base.a, overlay.a),
                        channel(base.b, overlay.b, base.a, overlay.a), overlay.a + base.a - overlay.a * base.a);
)",
          R"(mediump float channel(mediump float b, mediump float o, mediump float ba, mediump float oa) {
    if (oa == 0.0 || ((b / o) > (ba / oa))) return oa * ba + o * (1.0 - ba) + b * (1.0 - oa);
    return (b * oa * oa) / o + o * (1.0 - ba) + b * (1.0 - oa);
}
)"))

GPX_DEFINE_PLAIN_BLEND(GPXColorBlendFilter, nonSeparable("setlum(overlay.rgb, lum(base.rgb))"))
GPX_DEFINE_PLAIN_BLEND(GPXHueBlendFilter,
                       nonSeparable("setlum(setsat(overlay.rgb, sat(base.rgb)), lum(base.rgb))"))
GPX_DEFINE_PLAIN_BLEND(GPXSaturationBlendFilter,
                       nonSeparable("setlum(setsat(base.rgb, sat(overlay.rgb)), lum(base.rgb))"))
GPX_DEFINE_PLAIN_BLEND(GPXLuminosityBlendFilter, nonSeparable("setlum(base.rgb, lum(overlay.rgb))"))

// ---- mask --------------------------------------------------------------------------------------

GPXMaskFilter::GPXMaskFilter()
    : GPXTwoInputFilter(blend(R"(
    gl_FragColor = vec4(base.rgb, dot(overlay.rgb, vec3(.33333334, .33333334, .33333334)) * overlay.a);
)")) {}

void GPXMaskFilter::renderToTextureWithVertices(const GLfloat* vertices, const GLfloat* textureCoordinates) {
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    GPXTwoInputFilter::renderToTextureWithVertices(vertices, textureCoordinates);
    glDisable(GL_BLEND);
}

// ---- chroma key blend --------------------------------------------------------------------------

GPXChromaKeyBlendFilter::GPXChromaKeyBlendFilter()
    : GPXTwoInputFilter(detail::shaderText({kBlendHead, R"(uniform lowp vec3 colorToReplace;
uniform highp float thresholdSensitivity;
uniform highp float smoothing;
void main()
{
    highp vec4 textureColor = texture2D(inputImageTexture, textureCoordinate);
    highp vec4 textureColor2 = texture2D(inputImageTexture2, textureCoordinate2);
    highp float maskY = 0.2989 * colorToReplace.r + 0.5866 * colorToReplace.g + 0.1145 * colorToReplace.b;
    highp float maskCr = 0.7132 * (colorToReplace.r - maskY);
    highp float maskCb = 0.5647 * (colorToReplace.b - maskY);
    highp float Y = 0.2989 * textureColor.r + 0.5866 * textureColor.g + 0.1145 * textureColor.b;
    highp float Cr = 0.7132 * (textureColor.r - Y);
    highp float Cb = 0.5647 * (textureColor.b - Y);
    highp float blendValue = 1.0 - smoothstep(thresholdSensitivity, thresholdSensitivity + smoothing,
                                              distance(vec2(Cr, Cb), vec2(maskCr, maskCb)));
    gl_FragColor = mix(textureColor, textureColor2, blendValue);
}
)"})) {}

void GPXChromaKeyBlendFilter::didInit() {
    GPXTwoInputFilter::didInit();
    thresholdSensitivityUniform_ = detail::uniformLocation(*this, "thresholdSensitivity");
    smoothingUniform_ = detail::uniformLocation(*this, "smoothing");
    colorToReplaceUniform_ = detail::uniformLocation(*this, "colorToReplace");
    setThresholdSensitivity(0.4);
    setSmoothing(0.1);
    setColorToReplaceRed(0.0f, 1.0f, 0.0f);
}
GPX_DEFINE_FLOAT_PARAMETER(GPXChromaKeyBlendFilter, thresholdSensitivity, setThresholdSensitivity,
                           thresholdSensitivity_, thresholdSensitivityUniform_)
GPX_DEFINE_FLOAT_PARAMETER(GPXChromaKeyBlendFilter, smoothing, setSmoothing, smoothing_, smoothingUniform_)
void GPXChromaKeyBlendFilter::setColorToReplaceRed(GLfloat red, GLfloat green, GLfloat blue) {
    setVec3({red, green, blue}, colorToReplaceUniform_, filterProgram_);
}

// ---- Poisson -----------------------------------------------------------------------------------

GPXPoissonBlendFilter::GPXPoissonBlendFilter()
    : GPXTwoInputCrossTextureSamplingFilter(R"(precision mediump float;
varying vec2 textureCoordinate;
varying vec2 leftTextureCoordinate;
varying vec2 rightTextureCoordinate;
varying vec2 topTextureCoordinate;
varying vec2 bottomTextureCoordinate;
varying vec2 textureCoordinate2;
varying vec2 leftTextureCoordinate2;
varying vec2 rightTextureCoordinate2;
varying vec2 topTextureCoordinate2;
varying vec2 bottomTextureCoordinate2;
uniform sampler2D inputImageTexture;
uniform sampler2D inputImageTexture2;
uniform lowp float mixturePercent;
void main()
{
    vec4 centerColor = texture2D(inputImageTexture, textureCoordinate);
    vec3 bottomColor = texture2D(inputImageTexture, bottomTextureCoordinate).rgb;
    vec3 leftColor = texture2D(inputImageTexture, leftTextureCoordinate).rgb;
    vec3 rightColor = texture2D(inputImageTexture, rightTextureCoordinate).rgb;
    vec3 topColor = texture2D(inputImageTexture, topTextureCoordinate).rgb;
    vec4 centerColor2 = texture2D(inputImageTexture2, textureCoordinate2);
    vec3 bottomColor2 = texture2D(inputImageTexture2, bottomTextureCoordinate2).rgb;
    vec3 leftColor2 = texture2D(inputImageTexture2, leftTextureCoordinate2).rgb;
    vec3 rightColor2 = texture2D(inputImageTexture2, rightTextureCoordinate2).rgb;
    vec3 topColor2 = texture2D(inputImageTexture2, topTextureCoordinate2).rgb;
    vec3 meanColor = (bottomColor + leftColor + rightColor + topColor) / 4.0;
    vec3 diffColor = centerColor.rgb - meanColor;
    vec3 meanColor2 = (bottomColor2 + leftColor2 + rightColor2 + topColor2) / 4.0;
    vec3 diffColor2 = centerColor2.rgb - meanColor2;
    vec3 gradColor = (meanColor + diffColor2);
    gl_FragColor = vec4(mix(centerColor.rgb, gradColor, centerColor2.a * mixturePercent), centerColor.a);
}
)") {}

void GPXPoissonBlendFilter::didInit() {
    GPXTwoInputCrossTextureSamplingFilter::didInit();
    mixUniform_ = detail::uniformLocation(*this, "mixturePercent");
    setMix(0.5);
    setNumIterations(10);
}
GPX_DEFINE_FLOAT_PARAMETER(GPXPoissonBlendFilter, mix, setMix, mix_, mixUniform_)

void GPXPoissonBlendFilter::setNumIterations(unsigned newValue) {
    numIterations_.store(newValue);
}

unsigned GPXPoissonBlendFilter::numIterations() const {
    return numIterations_.load();
}

void GPXPoissonBlendFilter::unlockInputs() {
    if (!holdInputs_) GPXTwoInputCrossTextureSamplingFilter::unlockInputs();
}

void GPXPoissonBlendFilter::renderToTextureWithVertices(const GLfloat* vertices,
                                                        const GLfloat* textureCoordinates) {
    const unsigned passes = std::max(1u, numIterations_.load());
    if (passes == 1 || preventRendering_ || !filterProgram_) {
        GPXTwoInputCrossTextureSamplingFilter::renderToTextureWithVertices(vertices, textureCoordinates);
        return;
    }
    const bool capturing = usingNextFrameForImageCapture_.load();
    usingNextFrameForImageCapture_.store(false);
    // The inputs stay locked through every pass of the frame and are given back once, at the end.
    holdInputs_ = true;
    GPXTwoInputCrossTextureSamplingFilter::renderToTextureWithVertices(vertices, textureCoordinates);
    auto cache = GPXContext::sharedFramebufferCache();
    const CGSize size = sizeOfFBO();
    for (unsigned pass = 1; pass < passes && outputFramebuffer_; ++pass) {
        // Each pass reads the previous result at unit 2 and the overlay at unit 3 and writes the
        // other framebuffer; the previous result then goes back to the cache.
        Ref<GPXFramebuffer> previous = outputFramebuffer_;
        Ref<GPXFramebuffer> next = cache->fetchFramebufferForSize(size, outputTextureOptions_, false);
        next->activateFramebuffer();
        GPXContext::setActiveShaderProgram(filterProgram_);
        setUniformsForProgramAtIndex(0);
        glClearColor(backgroundColorRed_, backgroundColorGreen_, backgroundColorBlue_, backgroundColorAlpha_);
        glClear(GL_COLOR_BUFFER_BIT);
        glActiveTexture(GL_TEXTURE2);
        glBindTexture(GL_TEXTURE_2D, previous->texture());
        glUniform1i(filterInputTextureUniform_, 2);
        bindSecondInput();
        glVertexAttribPointer(static_cast<GLuint>(filterPositionAttribute_), 2, GL_FLOAT, GL_FALSE, 0,
                              vertices);
        glVertexAttribPointer(static_cast<GLuint>(filterTextureCoordinateAttribute_), 2, GL_FLOAT, GL_FALSE,
                              0, textureCoordinatesForRotation(rotationNone));
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        glDisableVertexAttribArray(static_cast<GLuint>(filterSecondTextureCoordinateAttribute_));
        secondOutputFramebuffer_ = previous;
        outputFramebuffer_ = next;
        secondOutputFramebuffer_->unlock();
        secondOutputFramebuffer_.reset();
    }
    holdInputs_ = false;
    unlockInputs();
    usingNextFrameForImageCapture_.store(capturing);
    if (capturing && outputFramebuffer_) {
        outputFramebuffer_->lock();
        dispatch_semaphore_signal(imageCaptureSemaphore_);
    }
}
