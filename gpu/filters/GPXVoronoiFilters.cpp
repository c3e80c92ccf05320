#include "gpu/filters/GPXVoronoiFilters.h"

#include <cmath>

#include "foundation/NSLog.h"
#include "gpu/core/GPXContext.h"
#include "gpu/core/GPXFramebufferCache.h"
#include "gpu/filters/GPXFilterSupport.h"
#include "graphics/UIImage.h"

namespace {

constexpr const char* kJFAVertexShader = R"(attribute vec4 position;
attribute vec4 inputTextureCoordinate;
uniform float sampleStep;
varying vec2 textureCoordinate;
varying vec2 leftTextureCoordinate;
varying vec2 rightTextureCoordinate;
varying vec2 topTextureCoordinate;
varying vec2 topLeftTextureCoordinate;
varying vec2 topRightTextureCoordinate;
varying vec2 bottomTextureCoordinate;
varying vec2 bottomLeftTextureCoordinate;
varying vec2 bottomRightTextureCoordinate;
void main()
{
    gl_Position = position;
    vec2 widthStep = vec2(sampleStep, 0.0);
    vec2 heightStep = vec2(0.0, sampleStep);
    vec2 widthHeightStep = vec2(sampleStep);
    vec2 widthNegativeHeightStep = vec2(sampleStep, -sampleStep);
    textureCoordinate = inputTextureCoordinate.xy;
    leftTextureCoordinate = inputTextureCoordinate.xy - widthStep;
    rightTextureCoordinate = inputTextureCoordinate.xy + widthStep;
    topTextureCoordinate = inputTextureCoordinate.xy - heightStep;
    topLeftTextureCoordinate = inputTextureCoordinate.xy - widthHeightStep;
    topRightTextureCoordinate = inputTextureCoordinate.xy + widthNegativeHeightStep;
    bottomTextureCoordinate = inputTextureCoordinate.xy + heightStep;
    bottomLeftTextureCoordinate = inputTextureCoordinate.xy - widthNegativeHeightStep;
    bottomRightTextureCoordinate = inputTextureCoordinate.xy + widthHeightStep;
}
)";

constexpr const char* kJFAFragmentShader = R"(precision highp float;
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
uniform vec2 size;
vec2 getCoordFromColor(vec4 color)
{
    float z = color.z * 256.0;
    float yoff = floor(z / 8.0);
    float xoff = mod(z, 8.0);
    float x = color.x * 256.0 + xoff * 256.0;
    float y = color.y * 256.0 + yoff * 256.0;
    return vec2(x, y) / size;
}
void consider(vec2 coordinate, inout float bestDistance, inout vec4 bestColor)
{
    vec4 candidate = texture2D(inputImageTexture, coordinate);
    if (candidate.a == 1.0)
    {
        vec2 offset = textureCoordinate - getCoordFromColor(candidate);
        float d = dot(offset, offset);
        if (d < bestDistance)
        {
            bestDistance = d;
            bestColor = candidate;
        }
    }
}
void main()
{
    vec4 outputColor = texture2D(inputImageTexture, textureCoordinate);
    float bestDistance = 1.0;
    if (outputColor.a != 0.0)
    {
        vec2 offset = textureCoordinate - getCoordFromColor(outputColor);
        bestDistance = dot(offset, offset);
    }
    consider(topRightTextureCoordinate, bestDistance, outputColor);
    consider(topTextureCoordinate, bestDistance, outputColor);
    consider(topLeftTextureCoordinate, bestDistance, outputColor);
    consider(bottomRightTextureCoordinate, bestDistance, outputColor);
    consider(bottomTextureCoordinate, bestDistance, outputColor);
    consider(bottomLeftTextureCoordinate, bestDistance, outputColor);
    consider(leftTextureCoordinate, bestDistance, outputColor);
    consider(rightTextureCoordinate, bestDistance, outputColor);
    gl_FragColor = outputColor;
}
)";

}  // namespace

namespace detail {

bool validVoronoiSize(CGSize size, const char* powerOfTwoMessage) {
    const double lw = std::log2(size.width), lh = std::log2(size.height);
    if (lw != lh) {
        NSLogLine("Voronoi point texture must be square");
        return false;
    }
    if (std::floor(lw) != lw || std::floor(lh) != lh || !std::isfinite(lw)) {
        NSLog(powerOfTwoMessage, size.width, size.height);
        return false;
    }
    return true;
}

}  // namespace detail

// ---- jump flooding -----------------------------------------------------------------------------

GPXJFAVoronoiFilter::GPXJFAVoronoiFilter() : GPXFilter(kJFAVertexShader, kJFAFragmentShader) {}

GPXJFAVoronoiFilter::~GPXJFAVoronoiFilter() = default;

void GPXJFAVoronoiFilter::didInit() {
    GPXFilter::didInit();
    if (!filterProgram_) NSLogLine("nil returned");
    sampleStepUniform_ = detail::uniformLocation(*this, "sampleStep");
    sizeUniform_ = detail::uniformLocation(*this, "size");
}

unsigned GPXJFAVoronoiFilter::nextPowerOfTwo(CGPoint input) {
    auto value = static_cast<std::uint32_t>(std::max(input.x, input.y));
    value--;
    value |= value >> 1;
    value |= value >> 2;
    value |= value >> 4;
    value |= value >> 8;
    value |= value >> 16;
    value++;
    return value;
}

void GPXJFAVoronoiFilter::setSizeInPixels(CGSize newValue) {
    performSyncOnSharedContextQueue([&] { sizeInPixels_ = newValue; });
    if (!detail::validVoronoiSize(newValue,
                                  "Voronoi point texture must be a power of 2.  Texture size: %f, %f"))
        return;
    // The flooding halves its step from half the texture down to one texel.
    const unsigned side = nextPowerOfTwo(CGPointMake(newValue.width, newValue.height));
    performSyncOnSharedContextQueue(
        [&] { numPasses_ = static_cast<unsigned>(std::lround(std::log2(side))); });
    setSize(newValue, sizeUniform_, filterProgram_);
}

CGSize GPXJFAVoronoiFilter::sizeInPixels() {
    CGSize size = CGSizeZero;
    performSyncOnSharedContextQueue([&] { size = sizeInPixels_; });
    return size;
}

unsigned GPXJFAVoronoiFilter::numPasses() {
    unsigned value = 0;
    performSyncOnSharedContextQueue([&] { value = numPasses_; });
    return value;
}

void GPXJFAVoronoiFilter::renderToTextureWithVertices(const GLfloat* vertices,
                                                      const GLfloat* textureCoordinates) {
    if (preventRendering_ || !filterProgram_ || !firstInputFramebuffer_) {
        if (firstInputFramebuffer_) firstInputFramebuffer_->unlock();
        return;
    }
    const CGSize size = sizeOfFBO();
    if (size.width < 1 || size.height < 1) {
        firstInputFramebuffer_->unlock();
        return;
    }
    GPXContext::setActiveShaderProgram(filterProgram_);
    setUniformsForProgramAtIndex(0);
    glVertexAttribPointer(static_cast<GLuint>(filterPositionAttribute_), 2, GL_FLOAT, GL_FALSE, 0, vertices);
    glVertexAttribPointer(static_cast<GLuint>(filterTextureCoordinateAttribute_), 2, GL_FLOAT, GL_FALSE, 0,
                          textureCoordinates);

    // Two targets of the output size: each pass reads the one the previous pass wrote and writes
    // the other; drawing into the texture being read would be undefined.
    auto cache = GPXContext::sharedFramebufferCache();
    Ref<GPXFramebuffer> targets[2] = {cache->fetchFramebufferForSize(size, outputTextureOptions_, false),
                                      cache->fetchFramebufferForSize(size, outputTextureOptions_, false)};
    auto draw = [&](const Ref<GPXFramebuffer>& target, GLuint source, GLfloat sampleStep) {
        target->activateFramebuffer();
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glActiveTexture(GL_TEXTURE2);
        glBindTexture(GL_TEXTURE_2D, source);
        glUniform1i(filterInputTextureUniform_, 2);
        glUniform1f(sampleStepUniform_, sampleStep);
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    };
    currentPass_ = 0;
    draw(targets[0], firstInputFramebuffer_->texture(), 0.5f);
    int written = 0;
    const double steps = std::pow(2.0, numPasses_);
    for (unsigned pass = 1; pass <= numPasses_; ++pass) {
        currentPass_ = static_cast<int>(pass);
        const int next = 1 - written;
        draw(targets[next], targets[written]->texture(),
             static_cast<GLfloat>(std::pow(2.0, numPasses_ - pass) / steps));
        written = next;
    }
    targets[1 - written]->unlock();
    outputFramebuffer_ = targets[written];
    if (usingNextFrameForImageCapture_.load()) outputFramebuffer_->lock();
    firstInputFramebuffer_->unlock();
    if (usingNextFrameForImageCapture_.load()) dispatch_semaphore_signal(imageCaptureSemaphore_);
}

// ---- consumer ----------------------------------------------------------------------------------

GPXVoronoiConsumerFilter::GPXVoronoiConsumerFilter()
    : GPXTwoInputFilter(R"(precision highp float;
uniform sampler2D inputImageTexture;
uniform sampler2D inputImageTexture2;
uniform vec2 size;
varying vec2 textureCoordinate;
vec2 getCoordFromColor(vec4 color)
{
    float z = color.z * 256.0;
    float yoff = floor(z / 8.0);
    float xoff = mod(z, 8.0);
    float x = color.x * 256.0 + xoff * 256.0;
    float y = color.y * 256.0 + yoff * 256.0;
    return vec2(x, y) / size;
}
void main()
{
    vec4 colorLoc = texture2D(inputImageTexture2, textureCoordinate);
    vec4 color = texture2D(inputImageTexture, getCoordFromColor(colorLoc));
    gl_FragColor = color;
}
)") {}

void GPXVoronoiConsumerFilter::didInit() {
    GPXTwoInputFilter::didInit();
    sizeUniform_ = detail::uniformLocation(*this, "size");
}

void GPXVoronoiConsumerFilter::setSizeInPixels(CGSize newValue) {
    {
        std::lock_guard lock(mutex_);
        sizeInPixels_ = newValue;
    }
    if (!detail::validVoronoiSize(newValue,
                                  "Voronoi point texture must be a power of 2.  Texture size %f, %f"))
        return;
    setSize(newValue, sizeUniform_, filterProgram_);
}

CGSize GPXVoronoiConsumerFilter::sizeInPixels() const {
    std::lock_guard lock(mutex_);
    return sizeInPixels_;
}

// ---- mosaic ------------------------------------------------------------------------------------

GPXMosaicFilter::GPXMosaicFilter()
    : GPXTwoInputFilter(R"(precision highp float;
varying vec2 textureCoordinate;
uniform sampler2D inputImageTexture;
uniform sampler2D inputImageTexture2;
uniform vec2 inputTileSize;
uniform vec2 displayTileSize;
uniform float numTiles;
uniform int colorOn;
void main()
{
    vec2 xy = textureCoordinate;
    xy = xy - mod(xy, displayTileSize);
    vec4 lumcoeff = vec4(0.299, 0.587, 0.114, 0.0);
    vec4 inputColor = texture2D(inputImageTexture2, xy);
    float lum = dot(inputColor, lumcoeff);
    lum = 1.0 - lum;
    float stepsize = 1.0 / numTiles;
    float lumStep = (lum - mod(lum, stepsize)) / stepsize;
    float rowStep = 1.0 / inputTileSize.x;
    float x = mod(lumStep, rowStep);
    float y = floor(lumStep / rowStep);
    vec2 startCoord = vec2(float(x) * inputTileSize.x, float(y) * inputTileSize.y);
    vec2 finalCoord = startCoord + ((textureCoordinate - xy) * (inputTileSize / displayTileSize));
    vec4 color = texture2D(inputImageTexture, finalCoord);
    if (colorOn == 1)
    {
        color = color * inputColor;
    }
    gl_FragColor = color;
}
)") {}

void GPXMosaicFilter::didInit() {
    GPXTwoInputFilter::didInit();
    inputTileSizeUniform_ = detail::uniformLocation(*this, "inputTileSize");
    displayTileSizeUniform_ = detail::uniformLocation(*this, "displayTileSize");
    numTilesUniform_ = detail::uniformLocation(*this, "numTiles");
    colorOnUniform_ = detail::uniformLocation(*this, "colorOn");
    setDisplayTileSize(CGSizeMake(0.025, 0.025));
    setInputTileSize(CGSizeMake(0.125, 0.125));
    setNumTiles(64.0);
    setColorOn(true);
}

namespace {
CGSize clampedTileSize(CGSize size) {
    auto clamp = [](double v) { return std::isnan(v) ? 0.0 : std::clamp(v, 0.0, 1.0); };
    return CGSizeMake(clamp(size.width), clamp(size.height));
}
}  // namespace

void GPXMosaicFilter::setInputTileSize(CGSize newValue) {
    const CGSize clamped = clampedTileSize(newValue);
    {
        std::lock_guard lock(mutex_);
        inputTileSize_ = clamped;
    }
    setSize(clamped, inputTileSizeUniform_, filterProgram_);
}

CGSize GPXMosaicFilter::inputTileSize() const {
    std::lock_guard lock(mutex_);
    return inputTileSize_;
}

void GPXMosaicFilter::setDisplayTileSize(CGSize newValue) {
    const CGSize clamped = clampedTileSize(newValue);
    {
        std::lock_guard lock(mutex_);
        displayTileSize_ = clamped;
    }
    setSize(clamped, displayTileSizeUniform_, filterProgram_);
}

CGSize GPXMosaicFilter::displayTileSize() const {
    std::lock_guard lock(mutex_);
    return displayTileSize_;
}

void GPXMosaicFilter::setNumTiles(double newValue) {
    numTiles_.store(newValue);
    setFloat(static_cast<GLfloat>(newValue), "numTiles");
}

void GPXMosaicFilter::setColorOn(bool newValue) {
    colorOn_.store(newValue);
    setInteger(newValue ? 1 : 0, colorOnUniform_, filterProgram_);
}

void GPXMosaicFilter::setTileSet(const std::string& newValue) {
    Ref<GPXPicture> picture;
    {
        std::lock_guard lock(mutex_);
        tileSet_ = newValue;
    }
    auto image = UIImage::imageNamed(newValue);
    if (!image) {
        NSLogLine("Mosaic tile set not found: " + newValue);
        return;
    }
    picture = make<GPXPicture>(image, true);
    picture->addTarget(selfAs<GPXInput>());
    picture->processImage();
    std::lock_guard lock(mutex_);
    pic_ = picture;
}

std::string GPXMosaicFilter::tileSet() const {
    std::lock_guard lock(mutex_);
    return tileSet_;
}
