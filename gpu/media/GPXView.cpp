#include "gpu/media/GPXView.h"

#include <cmath>

#include "foundation/NSLog.h"
#include "gpu/core/GPXAssert.h"
#include "gpu/core/GPXContext.h"
#include "gpu/core/GPXShaders.h"
#include "gpu/media/GPXMediaShaders.h"
#include "uikit/UIScreen.h"

namespace {

// The filter's rows with the bottom and top vertex pairs exchanged: the display's origin is at the
// bottom, while frames are stored from the top.
const GLfloat kDisplayCoordinates[8][8] = {
    {0.0f, 1.0f, 1.0f, 1.0f, 0.0f, 0.0f, 1.0f, 0.0f},  // none
    {0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 0.0f, 1.0f, 1.0f},  // left
    {1.0f, 1.0f, 1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f},  // right
    {0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f},  // flip vertical
    {1.0f, 1.0f, 0.0f, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f},  // flip horizontal
    {1.0f, 0.0f, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f},  // right, flip vertical
    {0.0f, 1.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f, 0.0f},  // right, flip horizontal
    {1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 0.0f, 1.0f},  // 180
};

// The largest rectangle of the aspect ratio centred inside the bounds.
CGRect aspectFitRect(CGSize aspectRatio, CGRect bounds) {
    if (aspectRatio.width <= 0 || aspectRatio.height <= 0) return bounds;
    const double scale =
        std::min(bounds.size.width / aspectRatio.width, bounds.size.height / aspectRatio.height);
    const CGSize size = CGSizeMake(aspectRatio.width * scale, aspectRatio.height * scale);
    return CGRectMake(bounds.origin.x + (bounds.size.width - size.width) / 2,
                      bounds.origin.y + (bounds.size.height - size.height) / 2, size.width, size.height);
}

}  // namespace

GPXView::GPXView() : GPXView(CGRectZero) {}

GPXView::GPXView(CGRect frame) : UIView(frame) {}

void GPXView::didInit() {
    commonInit();
}

void GPXView::commonInit() {
    setContentScaleFactor(UIScreen::mainScreen()->scale());
    setOpaque(true);
    setHidden(false);
    drawable_ = eaglLayer();
    drawable_->setOpaque(true);
    drawable_->setDrawableProperties(Dictionary{{kEAGLDrawablePropertyRetainedBacking, false},
                                                {kEAGLDrawablePropertyColorFormat, kEAGLColorFormatRGBA8}});
    enabled_.store(true);
    takeViewSize();

    performSyncOnSharedContextQueue([this] {
        GPXContext::useImageProcessingContext();
        inputRotation_ = rotationNone;
        displayProgram_ =
            detail::linkedProgram(GPXContext::sharedImageProcessingContext()->programForVertexShaderString(
                kGPXDefaultVertexShaderString, kGPXPassthroughFragmentShaderString));
        if (displayProgram_) {
            displayPositionAttribute_ = static_cast<GLint>(displayProgram_->attributeIndex("position"));
            displayTextureCoordinateAttribute_ =
                static_cast<GLint>(displayProgram_->attributeIndex("inputTextureCoordinate"));
            displayInputTextureUniform_ =
                static_cast<GLint>(displayProgram_->uniformIndex("inputImageTexture"));
            GPXContext::setActiveShaderProgram(displayProgram_);
            glEnableVertexAttribArray(static_cast<GLuint>(displayPositionAttribute_));
            glEnableVertexAttribArray(static_cast<GLuint>(displayTextureCoordinateAttribute_));
        }
        backgroundColorRed_ = backgroundColorGreen_ = backgroundColorBlue_ = 0;
        backgroundColorAlpha_ = 1;
        fillMode_ = kGPXFillModePreserveAspectRatio;
        createDisplayFramebuffer();
    });
}

GPXView::~GPXView() {
    performSyncOnSharedContextQueue([this] {
        destroyDisplayFramebuffer();
        if (inputFramebufferForDisplay_) {
            inputFramebufferForDisplay_->unlock();
            inputFramebufferForDisplay_.reset();
        }
    });
}

void GPXView::takeViewSize() {
    const CGSize size = bounds().size;
    const CGFloat scale = contentScaleFactor();
    if (drawable_) drawable_->updateDrawableSize();
    std::lock_guard lock(sizeMutex_);
    boundsSize_ = size;
    scale_ = scale;
}

void GPXView::layoutSubviews() {
    UIView::layoutSubviews();
    takeViewSize();
    CGSize size;
    {
        std::lock_guard lock(sizeMutex_);
        size = boundsSize_;
    }
    performSyncOnSharedContextQueue([this, size] {
        if (size != boundsSizeAtFrameBufferEpoch_ && !(size.width == 0 && size.height == 0)) {
            destroyDisplayFramebuffer();
            createDisplayFramebuffer();
            recalculateViewGeometry();
        }
    });
}

void GPXView::createDisplayFramebuffer() {
    GPXContext::useImageProcessingContext();
    glGenFramebuffers(1, &displayFramebuffer_);
    glBindFramebuffer(GL_FRAMEBUFFER, displayFramebuffer_);
    glGenRenderbuffers(1, &displayRenderbuffer_);
    glBindRenderbuffer(GL_RENDERBUFFER, displayRenderbuffer_);
    GPXContext::sharedImageProcessingContext()->context()->renderbufferStorageFromDrawable(GL_RENDERBUFFER,
                                                                                           drawable_);

    GLint backingWidth = 0, backingHeight = 0;
    glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_WIDTH, &backingWidth);
    glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_HEIGHT, &backingHeight);
    if (backingWidth == 0 || backingHeight == 0) {
        // Not on screen yet: the next frame or layout tries again.
        destroyDisplayFramebuffer();
        return;
    }
    sizeInPixels_ = CGSizeMake(backingWidth, backingHeight);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, displayRenderbuffer_);
    CGSize bounds;
    {
        std::lock_guard lock(sizeMutex_);
        bounds = boundsSize_;
    }
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        char message[160];
        std::snprintf(message, sizeof(message),
                      "Failure with display framebuffer generation for display of size: %f, %f", bounds.width,
                      bounds.height);
        detail::gpxAssertionFailure(message);
    }
    boundsSizeAtFrameBufferEpoch_ = bounds;
}

void GPXView::destroyDisplayFramebuffer() {
    GPXContext::useImageProcessingContext();
    if (displayFramebuffer_) {
        glDeleteFramebuffers(1, &displayFramebuffer_);
        displayFramebuffer_ = 0;
    }
    if (displayRenderbuffer_) {
        glDeleteRenderbuffers(1, &displayRenderbuffer_);
        displayRenderbuffer_ = 0;
    }
}

void GPXView::setDisplayFramebuffer() {
    if (!displayFramebuffer_) createDisplayFramebuffer();
    glBindFramebuffer(GL_FRAMEBUFFER, displayFramebuffer_);
    glViewport(0, 0, static_cast<GLint>(sizeInPixels_.width), static_cast<GLint>(sizeInPixels_.height));
}

void GPXView::presentFramebuffer() {
    glBindRenderbuffer(GL_RENDERBUFFER, displayRenderbuffer_);
    GPXContext::sharedImageProcessingContext()->presentBufferForDisplay();
}

void GPXView::recalculateViewGeometry() {
    performSyncOnSharedContextQueue([this] {
        CGSize currentViewSize;
        {
            std::lock_guard lock(sizeMutex_);
            currentViewSize = boundsSize_;
        }
        const CGRect insetRect =
            aspectFitRect(inputImageSize_, CGRectMake(0, 0, currentViewSize.width, currentViewSize.height));
        double widthScaling = 1, heightScaling = 1;
        if (currentViewSize.width > 0 && currentViewSize.height > 0 && insetRect.size.width > 0 &&
            insetRect.size.height > 0) {
            switch (fillMode_) {
                case kGPXFillModePreserveAspectRatio:
                    widthScaling = insetRect.size.width / currentViewSize.width;
                    heightScaling = insetRect.size.height / currentViewSize.height;
                    break;
                case kGPXFillModePreserveAspectRatioAndFill:
                    widthScaling = currentViewSize.height / insetRect.size.height;
                    heightScaling = currentViewSize.width / insetRect.size.width;
                    break;
                default:
                    break;
            }
        }
        const auto sx = static_cast<GLfloat>(widthScaling), sy = static_cast<GLfloat>(heightScaling);
        imageVertices_ = {-sx, -sy, sx, -sy, -sx, sy, sx, sy};
    });
}

void GPXView::setBackgroundColorRed(GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha) {
    performSyncOnSharedContextQueue([&] {
        backgroundColorRed_ = red;
        backgroundColorGreen_ = green;
        backgroundColorBlue_ = blue;
        backgroundColorAlpha_ = alpha;
    });
}

const GLfloat* GPXView::textureCoordinatesForRotation(GPURotationMode rotationMode) {
    int mode = static_cast<int>(rotationMode);
    if (mode < 0 || mode > 7) mode = 0;
    return kDisplayCoordinates[mode];
}

void GPXView::newFrameReadyAtTime(CMTime, long) {
    performSyncOnSharedContextQueue([this] {
        if (!inputFramebufferForDisplay_) return;
        if (displayProgram_) {
            GPXContext::setActiveShaderProgram(displayProgram_);
            setDisplayFramebuffer();
        }
        if (displayProgram_ && displayFramebuffer_) {
            glClearColor(backgroundColorRed_, backgroundColorGreen_, backgroundColorBlue_,
                         backgroundColorAlpha_);
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            glActiveTexture(GL_TEXTURE4);
            glBindTexture(GL_TEXTURE_2D, inputFramebufferForDisplay_->texture());
            glUniform1i(displayInputTextureUniform_, 4);
            glVertexAttribPointer(static_cast<GLuint>(displayPositionAttribute_), 2, GL_FLOAT, GL_FALSE, 0,
                                  imageVertices_.data());
            glVertexAttribPointer(static_cast<GLuint>(displayTextureCoordinateAttribute_), 2, GL_FLOAT,
                                  GL_FALSE, 0, textureCoordinatesForRotation(inputRotation_));
            glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
            presentFramebuffer();
        }
        // Without a framebuffer (no size yet) nothing is drawn, but the frame is still given back.
        inputFramebufferForDisplay_->unlock();
        inputFramebufferForDisplay_.reset();
    });
}

void GPXView::setInputFramebuffer(const Ref<GPXFramebuffer>& newInputFramebuffer, long) {
    performSyncOnSharedContextQueue([&] {
        if (inputFramebufferForDisplay_)
            inputFramebufferForDisplay_->unlock();  // a frame that was never drawn
        inputFramebufferForDisplay_ = newInputFramebuffer;
        if (inputFramebufferForDisplay_) inputFramebufferForDisplay_->lock();
    });
}

void GPXView::setInputSize(CGSize newSize, long) {
    performSyncOnSharedContextQueue([&] {
        CGSize rotatedSize = newSize;
        if (GPURotationSwapsWidthAndHeight(inputRotation_)) {
            rotatedSize.width = newSize.height;
            rotatedSize.height = newSize.width;
        }
        if (rotatedSize != inputImageSize_) {
            inputImageSize_ = rotatedSize;
            recalculateViewGeometry();
        }
    });
}

void GPXView::setInputRotation(GPURotationMode newInputRotation, long) {
    performSyncOnSharedContextQueue([&] { inputRotation_ = newInputRotation; });
}

CGSize GPXView::maximumOutputSize() {
    std::lock_guard lock(sizeMutex_);
    return CGSizeMake(boundsSize_.width * scale_, boundsSize_.height * scale_);
}

int GPXView::fillMode() {
    int mode = 0;
    performSyncOnSharedContextQueue([&] { mode = fillMode_; });
    return mode;
}

void GPXView::setFillMode(int newValue) {
    performSyncOnSharedContextQueue([&] { fillMode_ = newValue; });
    recalculateViewGeometry();
}

CGSize GPXView::sizeInPixels() {
    CGSize size;
    performSyncOnSharedContextQueue([&] { size = sizeInPixels_; });
    if (size.width == 0 && size.height == 0) return maximumOutputSize();
    return size;
}

std::array<GLfloat, 8> GPXView::imageVertices() {
    std::array<GLfloat, 8> v{};
    performSyncOnSharedContextQueue([&] { v = imageVertices_; });
    return v;
}

CGSize GPXView::inputImageSize() {
    CGSize s;
    performSyncOnSharedContextQueue([&] { s = inputImageSize_; });
    return s;
}

GPURotationMode GPXView::inputRotation() {
    GPURotationMode r = rotationNone;
    performSyncOnSharedContextQueue([&] { r = inputRotation_; });
    return r;
}

GLuint GPXView::displayFramebuffer() {
    GLuint f = 0;
    performSyncOnSharedContextQueue([&] { f = displayFramebuffer_; });
    return f;
}
