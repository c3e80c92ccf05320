#include "gpu/filters/GPXCurvesAndLookupFilters.h"

#include <algorithm>
#include <cmath>

#include "foundation/NSBundle.h"
#include "gpu/core/GPXAssert.h"
#include "gpu/filters/GPXBlendFilters.h"
#include "gpu/filters/GPXBlurFilters.h"
#include "gpu/filters/GPXFilterSupport.h"

namespace {

Ref<GPXACVFile> fileFromURL(const Ref<NSURL>& url) {
    std::optional<NSData> data;
    if (url && url->isFileURL()) data = NSData::dataWithContentsOfFile(url->path());
    return make<GPXACVFile>(data.value_or(NSData()));
}

Ref<GPXACVFile> fileFromBundle(const std::string& name) {
    auto path = NSBundle::mainBundle()->pathForResource(name, "acv");
    return make<GPXACVFile>(path ? NSData::dataWithContentsOfFile(*path).value_or(NSData()) : NSData());
}

GPXToneCurveFilter::Points pointsOf(const GPXACVFile::Points& sizes) {
    GPXToneCurveFilter::Points points;
    if (sizes)
        for (auto& size : *sizes) points.push_back(CGPointMake(size.width, size.height));
    return points;
}

// 0-255 as an integer; not-a-number counts as 0.
int clampedIndex(double value) {
    if (std::isnan(value)) return 0;
    return static_cast<int>(std::clamp(value, 0.0, 255.0));
}

const GPXToneCurveFilter::Points kDiagonal{{0.0, 0.0}, {0.5, 0.5}, {1.0, 1.0}};

}  // namespace

// ---- tone curve --------------------------------------------------------------------------------

GPXToneCurveFilter::GPXToneCurveFilter()
    : GPXFilter(detail::shaderText({detail::kFilterShaderHead, R"(uniform sampler2D toneCurveTexture;
void main()
{
    lowp vec4 textureColor = texture2D(inputImageTexture, textureCoordinate);
    lowp float redCurveValue = texture2D(toneCurveTexture, vec2(textureColor.r, 0.0)).r;
    lowp float greenCurveValue = texture2D(toneCurveTexture, vec2(textureColor.g, 0.0)).g;
    lowp float blueCurveValue = texture2D(toneCurveTexture, vec2(textureColor.b, 0.0)).b;
    gl_FragColor = vec4(redCurveValue, greenCurveValue, blueCurveValue, textureColor.a);
}
)"})) {}

GPXToneCurveFilter::GPXToneCurveFilter(const NSData& curveFileData) : GPXToneCurveFilter() {
    initialFile_ = make<GPXACVFile>(curveFileData);
}

GPXToneCurveFilter::GPXToneCurveFilter(const Ref<NSURL>& curveFileURL) : GPXToneCurveFilter() {
    initialFile_ = fileFromURL(curveFileURL);
}

GPXToneCurveFilter::GPXToneCurveFilter(const std::string& curveFileName) : GPXToneCurveFilter() {
    initialFile_ = fileFromBundle(curveFileName);
}

GPXToneCurveFilter::~GPXToneCurveFilter() {
    if (toneCurveTexture_ == 0) return;
    const GLuint texture = toneCurveTexture_;
    performSyncOnSharedContextQueue([texture] {
        GPXContext::useImageProcessingContext();
        glDeleteTextures(1, &texture);
    });
}

void GPXToneCurveFilter::didInit() {
    GPXFilter::didInit();
    toneCurveTextureUniform_ = detail::uniformLocation(*this, "toneCurveTexture");
    setInteger(3, toneCurveTextureUniform_, filterProgram_);
    if (initialFile_) {
        setPointsFromFile(initialFile_);
        initialFile_.reset();
        return;
    }
    setRGBControlPoints(kDiagonal);
    setRgbCompositeControlPoints(kDiagonal);
}

void GPXToneCurveFilter::setPointsFromFile(const Ref<GPXACVFile>& file) {
    {
        std::lock_guard lock(pointsMutex_);
        rgbCompositeControlPoints_ = pointsOf(file->rgbCompositeCurvePoints());
        redControlPoints_ = pointsOf(file->redCurvePoints());
        greenControlPoints_ = pointsOf(file->greenCurvePoints());
        blueControlPoints_ = pointsOf(file->blueCurvePoints());
        rgbCompositeCurve_ = getPreparedSplineCurve(rgbCompositeControlPoints_);
        redCurve_ = getPreparedSplineCurve(redControlPoints_);
        greenCurve_ = getPreparedSplineCurve(greenControlPoints_);
        blueCurve_ = getPreparedSplineCurve(blueControlPoints_);
    }
    updateToneCurveTexture();
}

void GPXToneCurveFilter::setPointsWithACV(const std::string& curveFileName) {
    setPointsFromFile(fileFromBundle(curveFileName));
}

void GPXToneCurveFilter::setPointsWithACVURL(const Ref<NSURL>& curveFileURL) {
    setPointsFromFile(fileFromURL(curveFileURL));
}

void GPXToneCurveFilter::setPointsWithACVData(const NSData& curveFileData) {
    setPointsFromFile(make<GPXACVFile>(curveFileData));
}

void GPXToneCurveFilter::setRGBControlPoints(const Points& points) {
    {
        std::lock_guard lock(pointsMutex_);
        redControlPoints_ = greenControlPoints_ = blueControlPoints_ = points;
        redCurve_ = greenCurve_ = blueCurve_ = getPreparedSplineCurve(points);
    }
    updateToneCurveTexture();
}

#define GPX_DEFINE_CONTROL_POINTS(setter, getter, points, curve)                                             \
    void GPXToneCurveFilter::setter(const Points& newPoints) {                                               \
        {                                                                                                    \
            std::lock_guard lock(pointsMutex_);                                                              \
            points = newPoints;                                                                              \
            curve = getPreparedSplineCurve(newPoints);                                                       \
        }                                                                                                    \
        updateToneCurveTexture();                                                                            \
    }                                                                                                        \
    GPXToneCurveFilter::Points GPXToneCurveFilter::getter() const {                                          \
        std::lock_guard lock(pointsMutex_);                                                                  \
        return points;                                                                                       \
    }

GPX_DEFINE_CONTROL_POINTS(setRgbCompositeControlPoints, rgbCompositeControlPoints, rgbCompositeControlPoints_,
                          rgbCompositeCurve_)
GPX_DEFINE_CONTROL_POINTS(setRedControlPoints, redControlPoints, redControlPoints_, redCurve_)
GPX_DEFINE_CONTROL_POINTS(setGreenControlPoints, greenControlPoints, greenControlPoints_, greenCurve_)
GPX_DEFINE_CONTROL_POINTS(setBlueControlPoints, blueControlPoints, blueControlPoints_, blueCurve_)
#undef GPX_DEFINE_CONTROL_POINTS

GPXToneCurveFilter::Curve GPXToneCurveFilter::getPreparedSplineCurve(const Points& points) {
    if (points.empty()) return std::nullopt;
    std::vector<CGPoint> sorted;
    for (auto& p : points)
        if (std::isfinite(p.x) && std::isfinite(p.y)) sorted.push_back(p);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const CGPoint& a, const CGPoint& b) { return a.x < b.x; });
    // Equal x would divide by zero in the spline: the first such point stays.
    sorted.erase(std::unique(sorted.begin(), sorted.end(),
                             [](const CGPoint& a, const CGPoint& b) { return a.x == b.x; }),
                 sorted.end());
    for (auto& p : sorted) p = CGPointMake(p.x * 255.0, p.y * 255.0);

    auto spline = splineCurve(sorted);
    if (!spline || spline->empty()) return std::nullopt;
    std::vector<CGPoint> full;
    const double firstX = spline->front().x;
    for (int i = 0; i < firstX && i < 256; ++i) full.push_back(CGPointMake(i, 0));
    full.insert(full.end(), spline->begin(), spline->end());
    const double lastX = spline->back().x;
    if (lastX < 255) {
        for (int i = static_cast<int>(lastX + 1); i <= 255; ++i) full.push_back(CGPointMake(i, 255));
    }
    std::vector<float> curve;
    curve.reserve(full.size());
    for (auto& p : full) curve.push_back(static_cast<float>(p.y - p.x));
    return curve;
}

std::optional<std::vector<CGPoint>> GPXToneCurveFilter::splineCurve(const std::vector<CGPoint>& points) {
    auto sd = secondDerivative(points);
    if (!sd || sd->empty()) return std::nullopt;
    std::vector<CGPoint> output;
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
        const CGPoint cur = points[i], next = points[i + 1];
        const double h = next.x - cur.x;
        for (long x = static_cast<long>(cur.x); x < static_cast<long>(next.x); ++x) {
            const double t = (x - cur.x) / h;
            const double a = 1 - t;
            const double b = t;
            double y = a * cur.y + b * next.y +
                       (h * h / 6) * ((a * a * a - a) * (*sd)[i] + (b * b * b - b) * (*sd)[i + 1]);
            y = std::clamp(y, 0.0, 255.0);
            output.push_back(CGPointMake(x, y));
        }
    }
    output.push_back(points.back());
    return output;
}

std::optional<std::vector<double>> GPXToneCurveFilter::secondDerivative(const std::vector<CGPoint>& points) {
    const std::size_t n = points.size();
    if (n < 2) return std::nullopt;
    std::vector<std::array<double, 3>> matrix(n);
    std::vector<double> result(n, 0.0);
    matrix[0] = {0, 1, 0};
    for (std::size_t i = 1; i + 1 < n; ++i) {
        const CGPoint p1 = points[i - 1], p2 = points[i], p3 = points[i + 1];
        matrix[i] = {(p2.x - p1.x) / 6, (p3.x - p1.x) / 3, (p3.x - p2.x) / 6};
        result[i] = (p3.y - p2.y) / (p3.x - p2.x) - (p2.y - p1.y) / (p2.x - p1.x);
    }
    matrix[n - 1] = {0, 1, 0};
    // Eliminate the sub-diagonal downwards, then the super-diagonal upwards.
    for (std::size_t i = 1; i < n; ++i) {
        const double k = matrix[i][0] / matrix[i - 1][1];
        matrix[i][1] -= k * matrix[i - 1][2];
        matrix[i][0] = 0;
        result[i] -= k * result[i - 1];
    }
    for (std::size_t i = n - 1; i-- > 0;) {
        const double k = matrix[i][2] / matrix[i + 1][1];
        matrix[i][1] -= k * matrix[i + 1][0];
        matrix[i][2] = 0;
        result[i] -= k * result[i + 1];
    }
    std::vector<double> y2(n);
    for (std::size_t i = 0; i < n; ++i) y2[i] = result[i] / matrix[i][1];
    return y2;
}

void GPXToneCurveFilter::updateToneCurveTexture() {
    Curve composite, red, green, blue;
    {
        std::lock_guard lock(pointsMutex_);
        composite = rgbCompositeCurve_;
        red = redCurve_;
        green = greenCurve_;
        blue = blueCurve_;
    }
    performSyncOnSharedContextQueue([&] {
        GPXContext::useImageProcessingContext();
        glActiveTexture(GL_TEXTURE3);
        if (toneCurveTexture_ == 0) {
            glGenTextures(1, &toneCurveTexture_);
            glBindTexture(GL_TEXTURE_2D, toneCurveTexture_);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
            toneCurveByteArray_.assign(256 * 4, 0);
        } else {
            glBindTexture(GL_TEXTURE_2D, toneCurveTexture_);
        }
        auto complete = [](const Curve& curve) { return curve && curve->size() >= 256; };
        if (complete(composite) && complete(red) && complete(green) && complete(blue)) {
            const std::vector<float>* channels[3] = {&*blue, &*green, &*red};
            for (int i = 0; i < 256; ++i) {
                for (int c = 0; c < 3; ++c) {
                    const int own = clampedIndex(i + (*channels[c])[i]);
                    toneCurveByteArray_[i * 4 + c] =
                        static_cast<std::uint8_t>(clampedIndex(own + (*composite)[own]));
                }
                toneCurveByteArray_[i * 4 + 3] = 255;
            }
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 256, 1, 0, GL_BGRA, GL_UNSIGNED_BYTE,
                         toneCurveByteArray_.data());
        }
    });
}

std::vector<std::uint8_t> GPXToneCurveFilter::toneCurveBytes() {
    std::vector<std::uint8_t> bytes;
    performSyncOnSharedContextQueue([&] { bytes = toneCurveByteArray_; });
    return bytes;
}

void GPXToneCurveFilter::renderToTextureWithVertices(const GLfloat* vertices,
                                                     const GLfloat* textureCoordinates) {
    glActiveTexture(GL_TEXTURE3);
    glBindTexture(GL_TEXTURE_2D, toneCurveTexture_);
    GPXFilter::renderToTextureWithVertices(vertices, textureCoordinates);
}

// ---- levels ------------------------------------------------------------------------------------

GPXLevelsFilter::GPXLevelsFilter()
    : GPXFilter(detail::shaderText({detail::kFilterShaderHead, R"(uniform mediump vec3 levelMinimum;
uniform mediump vec3 levelMiddle;
uniform mediump vec3 levelMaximum;
uniform mediump vec3 minOutput;
uniform mediump vec3 maxOutput;
void main()
{
    mediump vec4 textureColor = texture2D(inputImageTexture, textureCoordinate);
    mediump vec3 range = min(max(textureColor.rgb - levelMinimum, vec3(0.0)) / (levelMaximum - levelMinimum), vec3(1.0));
    gl_FragColor = vec4(mix(minOutput, maxOutput, pow(range, 1.0 / levelMiddle)), textureColor.a);
}
)"})) {}

void GPXLevelsFilter::didInit() {
    GPXFilter::didInit();
    minUniform_ = detail::uniformLocation(*this, "levelMinimum");
    midUniform_ = detail::uniformLocation(*this, "levelMiddle");
    maxUniform_ = detail::uniformLocation(*this, "levelMaximum");
    minOutputUniform_ = detail::uniformLocation(*this, "minOutput");
    maxOutputUniform_ = detail::uniformLocation(*this, "maxOutput");
    setMin(0.0f, 1.0f, 1.0f, 0.0f, 1.0f);
}

void GPXLevelsFilter::setChannel(int channel, GLfloat min, GLfloat mid, GLfloat max, GLfloat minOut,
                                 GLfloat maxOut) {
    std::lock_guard lock(vectorsMutex_);
    auto set = [channel](GPUVector3& v, GLfloat value) {
        (channel == 0 ? v.one : channel == 1 ? v.two : v.three) = value;
    };
    set(minVector_, min);
    set(midVector_, mid);
    set(maxVector_, max);
    set(minOutputVector_, minOut);
    set(maxOutputVector_, maxOut);
}

void GPXLevelsFilter::setMin(GLfloat min, GLfloat mid, GLfloat max, GLfloat minOut, GLfloat maxOut) {
    for (int channel = 0; channel < 3; ++channel) setChannel(channel, min, mid, max, minOut, maxOut);
    updateUniforms();
}
void GPXLevelsFilter::setMin(GLfloat min, GLfloat mid, GLfloat max) {
    setMin(min, mid, max, 0.0f, 1.0f);
}
void GPXLevelsFilter::setRedMin(GLfloat min, GLfloat mid, GLfloat max, GLfloat minOut, GLfloat maxOut) {
    setChannel(0, min, mid, max, minOut, maxOut);
    updateUniforms();
}
void GPXLevelsFilter::setRedMin(GLfloat min, GLfloat mid, GLfloat max) {
    setRedMin(min, mid, max, 0.0f, 1.0f);
}
void GPXLevelsFilter::setGreenMin(GLfloat min, GLfloat mid, GLfloat max, GLfloat minOut, GLfloat maxOut) {
    setChannel(1, min, mid, max, minOut, maxOut);
    updateUniforms();
}
void GPXLevelsFilter::setGreenMin(GLfloat min, GLfloat mid, GLfloat max) {
    setGreenMin(min, mid, max, 0.0f, 1.0f);
}
void GPXLevelsFilter::setBlueMin(GLfloat min, GLfloat mid, GLfloat max, GLfloat minOut, GLfloat maxOut) {
    setChannel(2, min, mid, max, minOut, maxOut);
    updateUniforms();
}
void GPXLevelsFilter::setBlueMin(GLfloat min, GLfloat mid, GLfloat max) {
    setBlueMin(min, mid, max, 0.0f, 1.0f);
}

void GPXLevelsFilter::updateUniforms() {
    std::lock_guard lock(vectorsMutex_);
    setVec3(minVector_, minUniform_, filterProgram_);
    setVec3(midVector_, midUniform_, filterProgram_);
    setVec3(maxVector_, maxUniform_, filterProgram_);
    setVec3(minOutputVector_, minOutputUniform_, filterProgram_);
    setVec3(maxOutputVector_, maxOutputUniform_, filterProgram_);
}

// ---- lookup ------------------------------------------------------------------------------------

GPXLookupFilter::GPXLookupFilter()
    : GPXTwoInputFilter(R"(varying highp vec2 textureCoordinate;
varying highp vec2 textureCoordinate2;
uniform sampler2D inputImageTexture;
uniform sampler2D inputImageTexture2;
uniform lowp float intensity;
void main()
{
    highp vec4 textureColor = texture2D(inputImageTexture, textureCoordinate);
    highp float blueColor = textureColor.b * 63.0;
    highp vec2 quad1;
    quad1.y = floor(floor(blueColor) / 8.0);
    quad1.x = floor(blueColor) - (quad1.y * 8.0);
    highp vec2 quad2;
    quad2.y = floor(ceil(blueColor) / 8.0);
    quad2.x = ceil(blueColor) - (quad2.y * 8.0);
    highp vec2 texPos1;
    texPos1.x = (quad1.x * 0.125) + 0.5 / 512.0 + ((0.125 - 1.0 / 512.0) * textureColor.r);
    texPos1.y = (quad1.y * 0.125) + 0.5 / 512.0 + ((0.125 - 1.0 / 512.0) * textureColor.g);
    highp vec2 texPos2;
    texPos2.x = (quad2.x * 0.125) + 0.5 / 512.0 + ((0.125 - 1.0 / 512.0) * textureColor.r);
    texPos2.y = (quad2.y * 0.125) + 0.5 / 512.0 + ((0.125 - 1.0 / 512.0) * textureColor.g);
    lowp vec4 newColor1 = texture2D(inputImageTexture2, texPos1);
    lowp vec4 newColor2 = texture2D(inputImageTexture2, texPos2);
    lowp vec4 newColor = mix(newColor1, newColor2, fract(blueColor));
    gl_FragColor = mix(textureColor, vec4(newColor.rgb, textureColor.w), intensity);
}
)") {}

void GPXLookupFilter::didInit() {
    GPXTwoInputFilter::didInit();
    intensityUniform_ = detail::uniformLocation(*this, "intensity");
    setIntensity(1.0);
}
GPX_DEFINE_FLOAT_PARAMETER(GPXLookupFilter, intensity, setIntensity, intensity_, intensityUniform_)

// ---- presets -----------------------------------------------------------------------------------

namespace {

// The bundle picture as a processed source feeding the lookup at slot 1; nullptr (after the
// report) when the bundle lacks it.
Ref<GPXPicture> lookupSource(const std::string& imageName, const Ref<GPXLookupFilter>& lookup,
                             const std::string& missingMessage) {
    auto image = UIImage::imageNamed(imageName);
    if (!image) {
        detail::gpxAssertionFailure(missingMessage);
        return nullptr;
    }
    auto source = make<GPXPicture>(image);
    source->addTargetAtTextureLocation(lookup, 1);
    source->processImage();
    return source;
}

}  // namespace

void GPXVelmarisFilter::didInit() {
    auto lookupFilter = make<GPXLookupFilter>();
    addFilter(lookupFilter);
    lookupImageSource_ = lookupSource("lookup_velmaris.png", lookupFilter,
                                      "To use GPXVelmarisFilter you need to add lookup_velmaris.png from "
                                      "GPX/framework/Resources to your application bundle.");
    setInitialFilters({lookupFilter});
    setTerminalFilter(lookupFilter);
}

void GPXTolvennaFilter::didInit() {
    auto lookupFilter = make<GPXLookupFilter>();
    addFilter(lookupFilter);
    lookupImageSource_ = lookupSource("lookup_tolvenna.png", lookupFilter,
                                      "To use GPXTolvennaFilter you need to add lookup_tolvenna.png from "
                                      "GPX/framework/Resources to your application bundle.");
    setInitialFilters({lookupFilter});
    setTerminalFilter(lookupFilter);
}

void GPXSoftEleganceFilter::didInit() {
    const std::string missing = "To use GPXSoftEleganceFilter you need to add lookup_soft_elegance_1.png and "
                                "lookup_soft_elegance_2.png from "
                                "GPX/framework/Resources to your application bundle.";
    auto lookupFilter1 = make<GPXLookupFilter>();
    addFilter(lookupFilter1);
    auto gaussianBlur = make<GPXGaussianBlurFilter>();
    gaussianBlur->setBlurRadiusInPixels(10.0);
    lookupFilter1->addTarget(gaussianBlur);
    addFilter(gaussianBlur);
    auto alphaBlend = make<GPXAlphaBlendFilter>();
    alphaBlend->setMix(0.14);
    lookupFilter1->addTarget(alphaBlend);
    gaussianBlur->addTarget(alphaBlend);
    addFilter(alphaBlend);
    auto lookupFilter2 = make<GPXLookupFilter>();
    alphaBlend->addTarget(lookupFilter2);
    addFilter(lookupFilter2);

    auto image1 = UIImage::imageNamed("lookup_soft_elegance_1.png");
    auto image2 = UIImage::imageNamed("lookup_soft_elegance_2.png");
    if (!image1 || !image2) {
        detail::gpxAssertionFailure(missing);
    } else {
        lookupImageSource1_ = lookupSource("lookup_soft_elegance_1.png", lookupFilter1, missing);
        lookupImageSource2_ = lookupSource("lookup_soft_elegance_2.png", lookupFilter2, missing);
    }
    setInitialFilters({lookupFilter1});
    setTerminalFilter(lookupFilter2);
}
