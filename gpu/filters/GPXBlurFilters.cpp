#include "gpu/filters/GPXBlurFilters.h"

#include <cmath>
#include <cstdio>
#include <functional>

#include "gpu/core/GPXContext.h"
#include "gpu/core/GPXShaders.h"

namespace {

std::string number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", value);
    return text;
}

// Pairs carried in varyings: at most seven, so the array stays within 15 entries.
constexpr unsigned kMaximumPairsInVaryings = 7;

unsigned pairCount(unsigned blurRadius) {
    return (blurRadius + 1) / 2;
}

// The weight table with one entry beyond the radius (0), so that the last pair of an odd radius
// is complete.
std::vector<float> paddedWeights(unsigned blurRadius, double sigma) {
    auto weights = GPXGaussianBlurFilter::gaussianWeights(blurRadius, sigma);
    weights.resize(blurRadius + 2, 0.0f);
    return weights;
}

// Where one bilinear read between taps 2i+1 and 2i+2 returns their weighted mean.
double pairOffset(const std::vector<float>& weights, unsigned pair) {
    const double first = weights[pair * 2 + 1], second = weights[pair * 2 + 2];
    return ((pair * 2 + 1) * first + (pair * 2 + 2) * second) / (first + second);
}

std::string generateVertexShader(unsigned blurRadius, const std::function<double(unsigned)>& offsetOfPair) {
    if (blurRadius == 0) return kGPXDefaultVertexShaderString;
    const unsigned pairs = std::min(pairCount(blurRadius), kMaximumPairsInVaryings);
    std::string text = "attribute vec4 position;\n"
                       "attribute vec4 inputTextureCoordinate;\n"
                       "uniform float texelWidthOffset;\n"
                       "uniform float texelHeightOffset;\n"
                       "varying vec2 blurCoordinates[" +
                       std::to_string(1 + pairs * 2) +
                       "];\n"
                       "void main()\n"
                       "{\n"
                       "    gl_Position = position;\n"
                       "    vec2 singleStepOffset = vec2(texelWidthOffset, texelHeightOffset);\n"
                       "    blurCoordinates[0] = inputTextureCoordinate.xy;\n";
    for (unsigned i = 0; i < pairs; ++i) {
        const std::string offset = number(offsetOfPair(i));
        text += "    blurCoordinates[" + std::to_string(i * 2 + 1) +
                "] = inputTextureCoordinate.xy + singleStepOffset * " + offset + ";\n";
        text += "    blurCoordinates[" + std::to_string(i * 2 + 2) +
                "] = inputTextureCoordinate.xy - singleStepOffset * " + offset + ";\n";
    }
    return text + "}\n";
}

// The fragment generator shared by the three blurs: `read` is what one tap contributes (a vec4 or
// the red channel), `sumType` its accumulator, `finish` the output.
struct FragmentStyle {
    const char* sumDeclaration;
    const char* readSuffix;
    const char* finish;
};
constexpr FragmentStyle kColourStyle{"    lowp vec4 sum = vec4(0.0);\n", "", "    gl_FragColor = sum;\n"};
constexpr FragmentStyle kRedStyle{"    lowp float sum = 0.0;\n", ".r",
                                  "    gl_FragColor = vec4(sum, sum, sum, 1.0);\n"};

std::string generateFragmentShader(unsigned blurRadius, double centreWeight,
                                   const std::function<double(unsigned)>& weightOfPair,
                                   const std::function<double(unsigned)>& offsetOfPair,
                                   const FragmentStyle& style) {
    if (blurRadius == 0) return kGPXPassthroughFragmentShaderString;
    const unsigned allPairs = pairCount(blurRadius);
    const unsigned pairs = std::min(allPairs, kMaximumPairsInVaryings);
    std::string text = "uniform sampler2D inputImageTexture;\n"
                       "uniform highp float texelWidthOffset;\n"
                       "uniform highp float texelHeightOffset;\n"
                       "varying highp vec2 blurCoordinates[" +
                       std::to_string(1 + pairs * 2) +
                       "];\n"
                       "void main()\n"
                       "{\n" +
                       style.sumDeclaration;
    text += std::string("    sum += texture2D(inputImageTexture, blurCoordinates[0])") + style.readSuffix +
            " * " + number(centreWeight) + ";\n";
    for (unsigned i = 0; i < pairs; ++i) {
        const std::string weight = number(weightOfPair(i));
        for (unsigned k : {i * 2 + 1, i * 2 + 2}) {
            text += "    sum += texture2D(inputImageTexture, blurCoordinates[" + std::to_string(k) + "])" +
                    style.readSuffix + " * " + weight + ";\n";
        }
    }
    if (allPairs > kMaximumPairsInVaryings) {
        text += "    highp vec2 singleStepOffset = vec2(texelWidthOffset, texelHeightOffset);\n";
        for (unsigned i = kMaximumPairsInVaryings; i < allPairs; ++i) {
            const std::string weight = number(weightOfPair(i));
            const std::string offset = number(offsetOfPair(i));
            text += "    sum += texture2D(inputImageTexture, blurCoordinates[0] + singleStepOffset * " +
                    offset + ")" + style.readSuffix + " * " + weight + ";\n";
            text += "    sum += texture2D(inputImageTexture, blurCoordinates[0] - singleStepOffset * " +
                    offset + ")" + style.readSuffix + " * " + weight + ";\n";
        }
    }
    return text + style.finish + "}\n";
}

std::string gaussianFragmentShader(unsigned blurRadius, double sigma, const FragmentStyle& style) {
    if (blurRadius == 0) return kGPXPassthroughFragmentShaderString;
    auto weights = paddedWeights(blurRadius, sigma);
    return generateFragmentShader(
        blurRadius, weights[0], [&](unsigned i) { return double(weights[i * 2 + 1]) + weights[i * 2 + 2]; },
        [&](unsigned i) { return pairOffset(weights, i); }, style);
}

std::string gaussianVertexShader(unsigned blurRadius, double sigma) {
    if (blurRadius == 0) return kGPXDefaultVertexShaderString;
    auto weights = paddedWeights(blurRadius, sigma);
    return generateVertexShader(blurRadius, [&](unsigned i) { return pairOffset(weights, i); });
}

}  // namespace

// ---- generators --------------------------------------------------------------------------------

std::vector<float> GPXGaussianBlurFilter::gaussianWeights(unsigned blurRadius, double sigma) {
    std::vector<float> weights(blurRadius + 1);
    double total = 0;
    for (unsigned i = 0; i <= blurRadius; ++i) {
        weights[i] = static_cast<float>(std::exp(-double(i) * i / (2.0 * sigma * sigma)) /
                                        std::sqrt(2.0 * M_PI * sigma * sigma));
        total += i == 0 ? weights[i] : 2.0 * weights[i];
    }
    for (auto& weight : weights) weight = static_cast<float>(weight / total);
    return weights;
}

unsigned GPXGaussianBlurFilter::sampleRadiusForSigma(double sigma) {
    if (sigma < 1) return 0;
    const double minimumWeightToFindEdgeOfSamplingArea = 1.0 / 256.0;
    auto radius = static_cast<unsigned>(std::floor(
        std::sqrt(-2.0 * sigma * sigma *
                  std::log(minimumWeightToFindEdgeOfSamplingArea * std::sqrt(2.0 * M_PI * sigma * sigma)))));
    return radius + radius % 2;
}

std::string GPXGaussianBlurFilter::vertexShaderForOptimizedBlurOfRadius(unsigned blurRadius, double sigma) {
    return gaussianVertexShader(blurRadius, sigma);
}

std::string GPXGaussianBlurFilter::fragmentShaderForOptimizedBlurOfRadius(unsigned blurRadius, double sigma) {
    return gaussianFragmentShader(blurRadius, sigma, kColourStyle);
}

std::string GPXGaussianBlurFilter::vertexShaderForStandardBlurOfRadius(unsigned blurRadius, double) {
    if (blurRadius == 0) return kGPXDefaultVertexShaderString;
    const unsigned taps = blurRadius * 2 + 1;
    std::string text = "attribute vec4 position;\n"
                       "attribute vec4 inputTextureCoordinate;\n"
                       "uniform float texelWidthOffset;\n"
                       "uniform float texelHeightOffset;\n"
                       "varying vec2 blurCoordinates[" +
                       std::to_string(taps) +
                       "];\n"
                       "void main()\n"
                       "{\n"
                       "    gl_Position = position;\n"
                       "    vec2 singleStepOffset = vec2(texelWidthOffset, texelHeightOffset);\n";
    for (unsigned k = 0; k < taps; ++k) {
        const long distance = static_cast<long>(k) - static_cast<long>(blurRadius);
        std::string entry = "    blurCoordinates[" + std::to_string(k) + "] = inputTextureCoordinate.xy";
        if (distance < 0) {
            entry += " - singleStepOffset * " + number(double(-distance));
        } else if (distance > 0) {
            entry += " + singleStepOffset * " + number(double(distance));
        }
        text += entry + ";\n";
    }
    return text + "}\n";
}

std::string GPXGaussianBlurFilter::fragmentShaderForStandardBlurOfRadius(unsigned blurRadius, double sigma) {
    if (blurRadius == 0) return kGPXPassthroughFragmentShaderString;
    auto weights = gaussianWeights(blurRadius, sigma);
    const unsigned taps = blurRadius * 2 + 1;
    std::string text = "uniform sampler2D inputImageTexture;\n"
                       "varying highp vec2 blurCoordinates[" +
                       std::to_string(taps) +
                       "];\n"
                       "void main()\n"
                       "{\n"
                       "    lowp vec4 sum = vec4(0.0);\n";
    for (unsigned k = 0; k < taps; ++k) {
        const unsigned distance = k < blurRadius ? blurRadius - k : k - blurRadius;
        text += "    sum += texture2D(inputImageTexture, blurCoordinates[" + std::to_string(k) + "]) * " +
                number(weights[distance]) + ";\n";
    }
    return text + "    gl_FragColor = sum;\n}\n";
}

// ---- Gaussian blur -----------------------------------------------------------------------------

GPXGaussianBlurFilter::GPXGaussianBlurFilter()
    : GPXGaussianBlurFilter(
          vertexShaderForOptimizedBlurOfRadius(4, 2.0), fragmentShaderForOptimizedBlurOfRadius(4, 2.0),
          vertexShaderForOptimizedBlurOfRadius(4, 2.0), fragmentShaderForOptimizedBlurOfRadius(4, 2.0)) {}

GPXGaussianBlurFilter::GPXGaussianBlurFilter(std::string firstStageVertexShaderString,
                                             std::string firstStageFragmentShaderString,
                                             std::string secondStageVertexShaderString,
                                             std::string secondStageFragmentShaderString)
    : GPXTwoPassTextureSamplingFilter(
          std::move(firstStageVertexShaderString), std::move(firstStageFragmentShaderString),
          std::move(secondStageVertexShaderString), std::move(secondStageFragmentShaderString)) {}

void GPXGaussianBlurFilter::didInit() {
    GPXTwoPassTextureSamplingFilter::didInit();
    setTexelSpacingMultiplier(1.0);
    blurRadiusInPixels_.store(2.0);
    shouldResizeBlurRadiusWithImageSize_.store(false);
}

std::string GPXGaussianBlurFilter::optimizedVertexShader(unsigned blurRadius, double sigma) const {
    return vertexShaderForOptimizedBlurOfRadius(blurRadius, sigma);
}

std::string GPXGaussianBlurFilter::optimizedFragmentShader(unsigned blurRadius, double sigma) const {
    return fragmentShaderForOptimizedBlurOfRadius(blurRadius, sigma);
}

void GPXGaussianBlurFilter::setBlurRadiusInPixels(double newValue) {
    const double sigma = std::round(newValue);
    // Cleared first: the size set-up that the switch runs must not convert a fraction again.
    shouldResizeBlurRadiusWithImageSize_.store(false);
    if (sigma == blurRadiusInPixels_.load()) return;
    blurRadiusInPixels_.store(sigma);
    switchToRadius(sampleRadiusForSigma(sigma), sigma);
}

void GPXGaussianBlurFilter::switchToRadius(unsigned sampleRadius, double sigma) {
    sampleRadius_.store(sampleRadius);
    switchToVertexShader(optimizedVertexShader(sampleRadius, sigma),
                         optimizedFragmentShader(sampleRadius, sigma));
}

double GPXGaussianBlurFilter::blurRadiusInPixels() const {
    return blurRadiusInPixels_.load();
}

unsigned GPXGaussianBlurFilter::sampleRadius() const {
    return sampleRadius_.load();
}

void GPXGaussianBlurFilter::setBlurRadiusAsFractionOfImageWidth(double newValue) {
    if (newValue < 0) return;
    shouldResizeBlurRadiusWithImageSize_.store(newValue > 0 &&
                                               newValue != blurRadiusAsFractionOfImageWidth_.load());
    blurRadiusAsFractionOfImageWidth_.store(newValue);
    blurRadiusAsFractionOfImageHeight_.store(0);
}

double GPXGaussianBlurFilter::blurRadiusAsFractionOfImageWidth() const {
    return blurRadiusAsFractionOfImageWidth_.load();
}

void GPXGaussianBlurFilter::setBlurRadiusAsFractionOfImageHeight(double newValue) {
    if (newValue < 0) return;
    shouldResizeBlurRadiusWithImageSize_.store(newValue > 0 &&
                                               newValue != blurRadiusAsFractionOfImageHeight_.load());
    blurRadiusAsFractionOfImageHeight_.store(newValue);
    blurRadiusAsFractionOfImageWidth_.store(0);
}

double GPXGaussianBlurFilter::blurRadiusAsFractionOfImageHeight() const {
    return blurRadiusAsFractionOfImageHeight_.load();
}

void GPXGaussianBlurFilter::setTexelSpacingMultiplier(double newValue) {
    texelSpacingMultiplier_.store(newValue);
    performSyncOnSharedContextQueue([&] {
        verticalTexelSpacing_ = newValue;
        horizontalTexelSpacing_ = newValue;
        setupFilterForSize(sizeOfFBO());
    });
}

double GPXGaussianBlurFilter::texelSpacingMultiplier() const {
    return texelSpacingMultiplier_.load();
}

void GPXGaussianBlurFilter::setBlurPasses(unsigned newValue) {
    blurPasses_.store(newValue);
}

unsigned GPXGaussianBlurFilter::blurPasses() const {
    return blurPasses_.load();
}

void GPXGaussianBlurFilter::setupFilterForSize(CGSize filterFrameSize) {
    GPXTwoPassTextureSamplingFilter::setupFilterForSize(filterFrameSize);
    if (!shouldResizeBlurRadiusWithImageSize_.load() || filterFrameSize.width <= 0 ||
        filterFrameSize.height <= 0)
        return;
    if (blurRadiusAsFractionOfImageWidth_.load() > 0) {
        setBlurRadiusInPixels(filterFrameSize.width * blurRadiusAsFractionOfImageWidth_.load());
    } else {
        setBlurRadiusInPixels(filterFrameSize.height * blurRadiusAsFractionOfImageHeight_.load());
    }
}

void GPXGaussianBlurFilter::switchToVertexShader(const std::string& newVertexShader,
                                                 const std::string& newFragmentShader) {
    performSyncOnSharedContextQueue([&] {
        GPXContext::useImageProcessingContext();
        auto program = GPXContext::sharedImageProcessingContext()->programForVertexShaderString(
            newVertexShader, newFragmentShader);
        filterProgram_ = program;
        if (!detail::linkFilterProgram(program, [this] { initializeAttributes(); })) {
            filterProgram_.reset();
            return;
        }
        filterPositionAttribute_ = static_cast<GLint>(program->attributeIndex("position"));
        filterTextureCoordinateAttribute_ =
            static_cast<GLint>(program->attributeIndex("inputTextureCoordinate"));
        filterInputTextureUniform_ = static_cast<GLint>(program->uniformIndex("inputImageTexture"));
        GPXContext::setActiveShaderProgram(program);
        glEnableVertexAttribArray(static_cast<GLuint>(filterPositionAttribute_));
        glEnableVertexAttribArray(static_cast<GLuint>(filterTextureCoordinateAttribute_));
        if (!prepareSecondProgram(newVertexShader, newFragmentShader)) return;
        lookUpTexelOffsetUniforms();
        setupFilterForSize(sizeOfFBO());
        glFinish();
    });
}

void GPXGaussianBlurFilter::renderToTextureWithVertices(const GLfloat* vertices,
                                                        const GLfloat* textureCoordinates) {
    const unsigned passes = std::max(1u, blurPasses_.load());
    const bool capturing = usingNextFrameForImageCapture_.load();
    // Only the last render holds the capture; the ones before hand their result on.
    if (passes > 1) usingNextFrameForImageCapture_.store(false);
    GPXTwoPassTextureSamplingFilter::renderToTextureWithVertices(vertices, textureCoordinates);
    if (passes == 1) return;

    // Each further pass blurs the previous result, which is already upright: the steps are the
    // unrotated ones meanwhile.
    const GPURotationMode rotation = inputRotation_;
    inputRotation_ = rotationNone;
    GPXTwoPassTextureSamplingFilter::setupFilterForSize(sizeOfFBO());
    for (unsigned pass = 1; pass < passes && secondOutputFramebuffer_; ++pass) {
        // The previous result's lock from the fetch becomes this pass's input lock.
        firstInputFramebuffer_ = secondOutputFramebuffer_;
        secondOutputFramebuffer_.reset();
        if (pass == passes - 1) usingNextFrameForImageCapture_.store(capturing);
        GPXTwoPassTextureSamplingFilter::renderToTextureWithVertices(
            vertices, textureCoordinatesForRotation(rotationNone));
    }
    inputRotation_ = rotation;
    GPXTwoPassTextureSamplingFilter::setupFilterForSize(sizeOfFBO());
    usingNextFrameForImageCapture_.store(capturing);
}

// ---- box blur ----------------------------------------------------------------------------------

namespace {
// A pair reads midway between its two texels; the last "pair" of an odd radius has only one
// texel, which it reads on its own, at half the weight.
bool pairIsComplete(unsigned blurRadius, unsigned pair) {
    return pair * 2 + 2 <= blurRadius;
}
std::function<double(unsigned)> boxPairOffset(unsigned blurRadius) {
    return
        [blurRadius](unsigned pair) { return pair * 2.0 + (pairIsComplete(blurRadius, pair) ? 1.5 : 1.0); };
}
}  // namespace

std::string GPXBoxBlurFilter::vertexShaderForOptimizedBlurOfRadius(unsigned blurRadius, double) {
    return generateVertexShader(blurRadius, boxPairOffset(blurRadius));
}

std::string GPXBoxBlurFilter::fragmentShaderForOptimizedBlurOfRadius(unsigned blurRadius, double) {
    const double taps = blurRadius * 2.0 + 1.0;
    return generateFragmentShader(
        blurRadius, 1.0 / taps,
        [&](unsigned pair) { return (pairIsComplete(blurRadius, pair) ? 2.0 : 1.0) / taps; },
        boxPairOffset(blurRadius), kColourStyle);
}

GPXBoxBlurFilter::GPXBoxBlurFilter()
    : GPXGaussianBlurFilter(
          vertexShaderForOptimizedBlurOfRadius(4, 0.0), fragmentShaderForOptimizedBlurOfRadius(4, 0.0),
          vertexShaderForOptimizedBlurOfRadius(4, 0.0), fragmentShaderForOptimizedBlurOfRadius(4, 0.0)) {}

void GPXBoxBlurFilter::didInit() {
    GPXGaussianBlurFilter::didInit();
    blurRadiusInPixels_.store(4.0);
    sampleRadius_.store(4);
}

void GPXBoxBlurFilter::setBlurRadiusInPixels(double newValue) {
    const double radius = 2.0 * std::round(newValue / 2.0);
    shouldResizeBlurRadiusWithImageSize_.store(false);
    if (radius == blurRadiusInPixels_.load()) return;
    blurRadiusInPixels_.store(radius);
    switchToRadius(static_cast<unsigned>(std::max(radius, 0.0)), 0.0);
}

std::string GPXBoxBlurFilter::optimizedVertexShader(unsigned blurRadius, double sigma) const {
    return vertexShaderForOptimizedBlurOfRadius(blurRadius, sigma);
}

std::string GPXBoxBlurFilter::optimizedFragmentShader(unsigned blurRadius, double sigma) const {
    return fragmentShaderForOptimizedBlurOfRadius(blurRadius, sigma);
}

// ---- single component --------------------------------------------------------------------------

std::string GPXSingleComponentGaussianBlurFilter::vertexShaderForOptimizedBlurOfRadius(unsigned blurRadius,
                                                                                       double sigma) {
    return gaussianVertexShader(blurRadius, sigma);
}

std::string GPXSingleComponentGaussianBlurFilter::fragmentShaderForOptimizedBlurOfRadius(unsigned blurRadius,
                                                                                         double sigma) {
    return gaussianFragmentShader(blurRadius, sigma, kRedStyle);
}

GPXSingleComponentGaussianBlurFilter::GPXSingleComponentGaussianBlurFilter()
    : GPXGaussianBlurFilter(
          vertexShaderForOptimizedBlurOfRadius(4, 2.0), fragmentShaderForOptimizedBlurOfRadius(4, 2.0),
          vertexShaderForOptimizedBlurOfRadius(4, 2.0), fragmentShaderForOptimizedBlurOfRadius(4, 2.0)) {}

std::string GPXSingleComponentGaussianBlurFilter::optimizedVertexShader(unsigned blurRadius,
                                                                        double sigma) const {
    return vertexShaderForOptimizedBlurOfRadius(blurRadius, sigma);
}

std::string GPXSingleComponentGaussianBlurFilter::optimizedFragmentShader(unsigned blurRadius,
                                                                          double sigma) const {
    return fragmentShaderForOptimizedBlurOfRadius(blurRadius, sigma);
}
