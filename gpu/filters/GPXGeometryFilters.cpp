#include "gpu/filters/GPXGeometryFilters.h"

#include "gpu/core/GPXAssert.h"
#include "gpu/core/GPXFramebufferCache.h"
#include "gpu/filters/GPXFilterSupport.h"

// ---- crop --------------------------------------------------------------------------------------

GPXCropFilter::GPXCropFilter() : GPXCropFilter(CGRectMake(0, 0, 1, 1)) {}

GPXCropFilter::GPXCropFilter(CGRect newCropRegion) : GPXFilter(), cropRegion_(newCropRegion) {}

void GPXCropFilter::didInit() {
    GPXFilter::didInit();
    const CGRect region = cropRegion();
    cropRegion_ = CGRectMake(0, 0, 1, 1);
    setCropRegion(region);
}

void GPXCropFilter::setCropRegion(CGRect newValue) {
    const bool valid = newValue.origin.x >= 0 && newValue.origin.x <= 1 && newValue.origin.y >= 0 &&
                       newValue.origin.y <= 1 && newValue.size.width >= 0 && newValue.size.width <= 1 &&
                       newValue.size.height >= 0 && newValue.size.height <= 1;
    if (!valid) {
        detail::gpxAssertionFailure(
            "Invalid parameter not satisfying: newValue.origin.x >= 0 && newValue.origin.x <= 1 && "
            "newValue.origin.y >= 0 && newValue.origin.y <= 1 && newValue.size.width >= 0 && "
            "newValue.size.width <= 1 "
            "&& newValue.size.height >= 0 && newValue.size.height <= 1");
        return;
    }
    {
        std::lock_guard lock(regionMutex_);
        cropRegion_ = newValue;
    }
    calculateCropTextureCoordinates();
}

CGRect GPXCropFilter::cropRegion() const {
    std::lock_guard lock(regionMutex_);
    return cropRegion_;
}

void GPXCropFilter::calculateCropTextureCoordinates() {
    const CGRect region = cropRegion();
    const auto x0 = static_cast<GLfloat>(CGRectGetMinX(region)),
               x1 = static_cast<GLfloat>(CGRectGetMaxX(region));
    const auto y0 = static_cast<GLfloat>(CGRectGetMinY(region)),
               y1 = static_cast<GLfloat>(CGRectGetMaxY(region));
    performSyncOnSharedContextQueue([&] {
        auto& c = cropTextureCoordinates_;
        switch (inputRotation_) {
            case rotationNone:
                c = {x0, y0, x1, y0, x0, y1, x1, y1};
                break;
            case rotationLeft:
                c = {y1, 1 - x1, y1, 1 - x0, y0, 1 - x1, y0, 1 - x0};
                break;
            case rotationRight:
                c = {y0, 1 - x0, y0, 1 - x1, y1, 1 - x0, y1, 1 - x1};
                break;
            case rotationFlipVertical:
                c = {x0, y1, x1, y1, x0, y0, x1, y0};
                break;
            case rotationFlipHorizontal:
                c = {x1, y0, x0, y0, x1, y1, x0, y1};
                break;
            case rotationRightFlipVertical:
                c = {y0, 1 - x1, y0, 1 - x0, y1, 1 - x1, y1, 1 - x0};
                break;
            case rotationRightFlipHorizontal:
                c = {y1, 1 - x0, y1, 1 - x1, y0, 1 - x0, y0, 1 - x1};
                break;
            case rotation180:
                c = {x1, y1, x0, y1, x1, y0, x0, y0};
                break;
            default:
                break;
        }
    });
}

std::array<GLfloat, 8> GPXCropFilter::cropTextureCoordinates() {
    std::array<GLfloat, 8> copy;
    performSyncOnSharedContextQueue([&] { copy = cropTextureCoordinates_; });
    return copy;
}

CGSize GPXCropFilter::originallySuppliedInputSize() {
    CGSize size;
    performSyncOnSharedContextQueue([&] { size = originallySuppliedInputSize_; });
    return size;
}

void GPXCropFilter::setInputSize(CGSize newSize, long textureIndex) {
    const CGRect region = cropRegion();
    performSyncOnSharedContextQueue([&] {
        if (preventRendering_) return;
        const CGSize rotated = rotatedSize(newSize, textureIndex);
        originallySuppliedInputSize_ = rotated;
        inputTextureSize_ =
            CGSizeMake(rotated.width * region.size.width, rotated.height * region.size.height);
        setupFilterForSize(sizeOfFBO());
    });
}

void GPXCropFilter::setInputRotation(GPURotationMode newInputRotation, long textureIndex) {
    GPXFilter::setInputRotation(newInputRotation, textureIndex);
    calculateCropTextureCoordinates();
}

void GPXCropFilter::newFrameReadyAtTime(CMTime frameTime, long) {
    performSyncOnSharedContextQueue([&] {
        renderToTextureWithVertices(imageVertices(), cropTextureCoordinates_.data());
        informTargetsAboutNewFrameAtTime(frameTime);
    });
}

// ---- transform ---------------------------------------------------------------------------------

GPXTransformFilter::GPXTransformFilter()
    : GPXFilter(R"(attribute vec4 position;
attribute vec4 inputTextureCoordinate;
uniform mat4 transformMatrix;
uniform mat4 orthographicMatrix;
varying vec2 textureCoordinate;
void main()
{
    gl_Position = transformMatrix * vec4(position.xyz, 1.0) * orthographicMatrix;
    textureCoordinate = inputTextureCoordinate.xy;
}
)",
                kGPXPassthroughFragmentShaderString) {}

void GPXTransformFilter::didInit() {
    GPXFilter::didInit();
    transformMatrixUniform_ = detail::uniformLocation(*this, "transformMatrix");
    orthographicMatrixUniform_ = detail::uniformLocation(*this, "orthographicMatrix");
    setTransform3D(CATransform3DIdentity);
    setIgnoreAspectRatio(false);
}

GPUMatrix4x4 GPXTransformFilter::convert3DTransform(const CATransform3D& t) {
    auto f = [](CGFloat v) { return static_cast<GLfloat>(v); };
    return {{f(t.m11), f(t.m12), f(t.m13), f(t.m14)},
            {f(t.m21), f(t.m22), f(t.m23), f(t.m24)},
            {f(t.m31), f(t.m32), f(t.m33), f(t.m34)},
            {f(t.m41), f(t.m42), f(t.m43), f(t.m44)}};
}

void GPXTransformFilter::setTransform3D(CATransform3D newValue) {
    {
        std::lock_guard lock(stateMutex_);
        transform3D_ = newValue;
    }
    setMatrix4f(convert3DTransform(newValue), transformMatrixUniform_, filterProgram_);
}

CATransform3D GPXTransformFilter::transform3D() const {
    std::lock_guard lock(stateMutex_);
    return transform3D_;
}

void GPXTransformFilter::setAffineTransform(CGAffineTransform newValue) {
    setTransform3D(CATransform3DMakeAffineTransform(newValue));
}

CGAffineTransform GPXTransformFilter::affineTransform() const {
    return CATransform3DGetAffineTransform(transform3D());
}

GPUMatrix4x4 GPXTransformFilter::loadOrthoMatrix(GLfloat left, GLfloat right, GLfloat bottom, GLfloat top,
                                                 GLfloat near, GLfloat far) const {
    const bool topLeft = anchorTopLeft();
    const GLfloat k = topLeft ? 4.0f : 2.0f;
    const GLfloat tx = topLeft ? -1.0f : -(right + left) / (right - left);
    const GLfloat ty = topLeft ? -1.0f : -(top + bottom) / (top - bottom);
    // Row by row; the shader multiplies the position from the left, so each row makes one output.
    return {{k / (right - left), 0, 0, tx},
            {0, k / (top - bottom), 0, ty},
            {0, 0, k / (far - near), -(far + near) / (far - near)},
            {0, 0, 0, 1}};
}

void GPXTransformFilter::sendOrthographicMatrix(const GPUMatrix4x4& matrix) {
    {
        std::lock_guard lock(stateMutex_);
        orthographicMatrix_ = matrix;
    }
    setMatrix4f(matrix, orthographicMatrixUniform_, filterProgram_);
}

GPUMatrix4x4 GPXTransformFilter::orthographicMatrix() const {
    std::lock_guard lock(stateMutex_);
    return orthographicMatrix_;
}

void GPXTransformFilter::setupFilterForSize(CGSize filterFrameSize) {
    if (ignoreAspectRatio() || filterFrameSize.width <= 0) return;
    const auto aspect = static_cast<GLfloat>(filterFrameSize.height / filterFrameSize.width);
    sendOrthographicMatrix(loadOrthoMatrix(-1.0f, 1.0f, -aspect, aspect, -1.0f, 1.0f));
}

void GPXTransformFilter::setIgnoreAspectRatio(bool newValue) {
    {
        std::lock_guard lock(stateMutex_);
        ignoreAspectRatio_ = newValue;
    }
    if (newValue) {
        sendOrthographicMatrix(loadOrthoMatrix(-1.0f, 1.0f, -1.0f, 1.0f, -1.0f, 1.0f));
    } else {
        setupFilterForSize(sizeOfFBO());
    }
}

bool GPXTransformFilter::ignoreAspectRatio() const {
    std::lock_guard lock(stateMutex_);
    return ignoreAspectRatio_;
}

void GPXTransformFilter::setAnchorTopLeft(bool newValue) {
    {
        std::lock_guard lock(stateMutex_);
        anchorTopLeft_ = newValue;
    }
    setIgnoreAspectRatio(ignoreAspectRatio());
}

bool GPXTransformFilter::anchorTopLeft() const {
    std::lock_guard lock(stateMutex_);
    return anchorTopLeft_;
}

void GPXTransformFilter::newFrameReadyAtTime(CMTime frameTime, long) {
    const bool ignore = ignoreAspectRatio(), topLeft = anchorTopLeft();
    performSyncOnSharedContextQueue([&] {
        const CGSize size = sizeOfFBO();
        const GLfloat a = size.width > 0 ? static_cast<GLfloat>(size.height / size.width) : 1.0f;
        const GLfloat h = ignore ? 1.0f : a;
        if (topLeft) {
            quad_ = {0, 0, 1, 0, 0, h, 1, h};
        } else {
            quad_ = {-1, -h, 1, -h, -1, h, 1, h};
        }
        renderToTextureWithVertices(quad_.data(), textureCoordinatesForRotation(inputRotation_));
        informTargetsAboutNewFrameAtTime(frameTime);
    });
}

// ---- Lanczos -----------------------------------------------------------------------------------

namespace {

constexpr const char* kLanczosVertexShader = R"(attribute vec4 position;
attribute vec2 inputTextureCoordinate;
uniform float texelWidthOffset;
uniform float texelHeightOffset;
varying vec2 centerTextureCoordinate;
varying vec2 oneStepLeftTextureCoordinate;
varying vec2 twoStepsLeftTextureCoordinate;
varying vec2 threeStepsLeftTextureCoordinate;
varying vec2 fourStepsLeftTextureCoordinate;
varying vec2 oneStepRightTextureCoordinate;
varying vec2 twoStepsRightTextureCoordinate;
varying vec2 threeStepsRightTextureCoordinate;
varying vec2 fourStepsRightTextureCoordinate;
void main()
{
    gl_Position = position;
    vec2 firstOffset = vec2(texelWidthOffset, texelHeightOffset);
    centerTextureCoordinate = inputTextureCoordinate;
    oneStepLeftTextureCoordinate = inputTextureCoordinate - firstOffset;
    twoStepsLeftTextureCoordinate = inputTextureCoordinate - 2.0 * firstOffset;
    threeStepsLeftTextureCoordinate = inputTextureCoordinate - 3.0 * firstOffset;
    fourStepsLeftTextureCoordinate = inputTextureCoordinate - 4.0 * firstOffset;
    oneStepRightTextureCoordinate = inputTextureCoordinate + firstOffset;
    twoStepsRightTextureCoordinate = inputTextureCoordinate + 2.0 * firstOffset;
    threeStepsRightTextureCoordinate = inputTextureCoordinate + 3.0 * firstOffset;
    fourStepsRightTextureCoordinate = inputTextureCoordinate + 4.0 * firstOffset;
}
)";

constexpr const char* kLanczosFragmentShader = R"(precision highp float;
uniform sampler2D inputImageTexture;
varying vec2 centerTextureCoordinate;
varying vec2 oneStepLeftTextureCoordinate;
varying vec2 twoStepsLeftTextureCoordinate;
varying vec2 threeStepsLeftTextureCoordinate;
varying vec2 fourStepsLeftTextureCoordinate;
varying vec2 oneStepRightTextureCoordinate;
varying vec2 twoStepsRightTextureCoordinate;
varying vec2 threeStepsRightTextureCoordinate;
varying vec2 fourStepsRightTextureCoordinate;
void main()
{
    lowp vec4 fragmentColor = texture2D(inputImageTexture, centerTextureCoordinate) * 0.38026;
    fragmentColor += texture2D(inputImageTexture, oneStepLeftTextureCoordinate) * 0.27667;
    fragmentColor += texture2D(inputImageTexture, oneStepRightTextureCoordinate) * 0.27667;
    fragmentColor += texture2D(inputImageTexture, twoStepsLeftTextureCoordinate) * 0.08074;
    fragmentColor += texture2D(inputImageTexture, twoStepsRightTextureCoordinate) * 0.08074;
    fragmentColor += texture2D(inputImageTexture, threeStepsLeftTextureCoordinate) * -0.02612;
    fragmentColor += texture2D(inputImageTexture, threeStepsRightTextureCoordinate) * -0.02612;
    fragmentColor += texture2D(inputImageTexture, fourStepsLeftTextureCoordinate) * -0.02143;
    fragmentColor += texture2D(inputImageTexture, fourStepsRightTextureCoordinate) * -0.02143;
    gl_FragColor = fragmentColor;
}
)";

}  // namespace

GPXLanczosResamplingFilter::GPXLanczosResamplingFilter()
    : GPXTwoPassTextureSamplingFilter(kLanczosVertexShader, kLanczosFragmentShader, kLanczosVertexShader,
                                      kLanczosFragmentShader) {}

void GPXLanczosResamplingFilter::setInputSize(CGSize newSize, long textureIndex) {
    performSyncOnSharedContextQueue([&] {
        if (preventRendering_) return;
        originalImageSize_ = newSize;
    });
    GPXTwoPassTextureSamplingFilter::setInputSize(newSize, textureIndex);
}

void GPXLanczosResamplingFilter::setupFilterForSize(CGSize) {
    performSyncOnSharedContextQueue([&] {
        const CGSize source = originalImageSize_;
        if (source.width <= 0 || source.height <= 0) return;
        if (GPURotationSwapsWidthAndHeight(inputRotation_)) {
            verticalPassTexelWidthOffset_ = static_cast<GLfloat>(1.0 / source.height);
            verticalPassTexelHeightOffset_ = 0.0f;
        } else {
            verticalPassTexelWidthOffset_ = 0.0f;
            verticalPassTexelHeightOffset_ = static_cast<GLfloat>(1.0 / source.height);
        }
        horizontalPassTexelWidthOffset_ = static_cast<GLfloat>(1.0 / source.width);
        horizontalPassTexelHeightOffset_ = 0.0f;
    });
}

CGSize GPXLanczosResamplingFilter::originalImageSize() {
    CGSize size;
    performSyncOnSharedContextQueue([&] { size = originalImageSize_; });
    return size;
}

void GPXLanczosResamplingFilter::setOriginalImageSize(CGSize newValue) {
    performSyncOnSharedContextQueue([&] { originalImageSize_ = newValue; });
}

void GPXLanczosResamplingFilter::renderToTextureWithVertices(const GLfloat* vertices,
                                                             const GLfloat* textureCoordinates) {
    const CGSize outputSize = sizeOfFBO();
    const CGSize source = originalImageSize_;
    if (preventRendering_ || !filterProgram_ || !secondFilterProgram_ || !firstInputFramebuffer_ ||
        outputSize.width < 1 || outputSize.height < 1 || source.width < 1 || source.height < 1) {
        if (firstInputFramebuffer_) firstInputFramebuffer_->unlock();
        return;
    }
    // The first pass resamples one direction only: the output's height at the source's width.
    const CGSize firstPassSize = GPURotationSwapsWidthAndHeight(inputRotation_)
                                     ? CGSizeMake(outputSize.width, source.height)
                                     : CGSizeMake(source.width, outputSize.height);
    renderPasses(vertices, textureCoordinates, firstPassSize, outputSize);
}
