#include "gpu/core/GPXTwoInputFilter.h"

#include "gpu/core/GPXContext.h"

GPXTwoInputFilter::GPXTwoInputFilter(std::string fragmentShaderString)
    : GPXTwoInputFilter(kGPXTwoInputTextureVertexShaderString, std::move(fragmentShaderString)) {}

GPXTwoInputFilter::GPXTwoInputFilter(std::string vertexShaderString, std::string fragmentShaderString)
    : GPXFilter(std::move(vertexShaderString), std::move(fragmentShaderString)) {}

void GPXTwoInputFilter::didInit() {
    GPXFilter::didInit();
    performSyncOnSharedContextQueue([this] {
        if (!filterProgram_) return;
        GPXContext::useImageProcessingContext();
        filterSecondTextureCoordinateAttribute_ =
            static_cast<GLint>(filterProgram_->attributeIndex("inputTextureCoordinate2"));
        filterInputTextureUniform2_ = static_cast<GLint>(filterProgram_->uniformIndex("inputImageTexture2"));
        glEnableVertexAttribArray(static_cast<GLuint>(filterSecondTextureCoordinateAttribute_));
    });
}

void GPXTwoInputFilter::initializeAttributes() {
    GPXFilter::initializeAttributes();
    filterProgram_->addAttribute("inputTextureCoordinate2");
}

void GPXTwoInputFilter::disableFirstFrameCheck() {
    performSyncOnSharedContextQueue([this] { firstFrameCheckDisabled_ = true; });
}

void GPXTwoInputFilter::disableSecondFrameCheck() {
    performSyncOnSharedContextQueue([this] { secondFrameCheckDisabled_ = true; });
}

void GPXTwoInputFilter::unlockInputs() {
    if (firstInputFramebuffer_) firstInputFramebuffer_->unlock();
    if (secondInputFramebuffer_) secondInputFramebuffer_->unlock();
}

void GPXTwoInputFilter::bindSecondInput() {
    glActiveTexture(GL_TEXTURE3);
    glBindTexture(GL_TEXTURE_2D, secondInputFramebuffer_ ? secondInputFramebuffer_->texture() : 0);
    glUniform1i(filterInputTextureUniform2_, 3);
    // Enabled again here (and given back after the draw by the caller): another program may have
    // been drawn with this location switched off.
    glEnableVertexAttribArray(static_cast<GLuint>(filterSecondTextureCoordinateAttribute_));
    glVertexAttribPointer(static_cast<GLuint>(filterSecondTextureCoordinateAttribute_), 2, GL_FLOAT, GL_FALSE,
                          0, textureCoordinatesForRotation(inputRotation2_));
}

void GPXTwoInputFilter::bindAdditionalInputs() {
    bindSecondInput();
}

void GPXTwoInputFilter::releaseAdditionalInputs() {
    // Single-input programs never read this location; it is switched off so that no draw of theirs
    // can follow a stale pointer.
    glDisableVertexAttribArray(static_cast<GLuint>(filterSecondTextureCoordinateAttribute_));
}

void GPXTwoInputFilter::newFrameReadyAtTime(CMTime frameTime, long textureIndex) {
    performSyncOnSharedContextQueue([&] {
        // Both already in: a frame coming back round a feedback loop.
        if (hasReceivedFirstFrame_ && hasReceivedSecondFrame_) return;

        bool updatedMovieFrameOppositeStillImage = false;
        if (textureIndex == 0) {
            hasReceivedFirstFrame_ = true;
            firstFrameTime_ = frameTime;
            if (secondFrameCheckDisabled_) hasReceivedSecondFrame_ = true;
            if (!CMTIME_IS_INDEFINITE(frameTime) && CMTIME_IS_INDEFINITE(secondFrameTime_))
                updatedMovieFrameOppositeStillImage = true;
        } else {
            hasReceivedSecondFrame_ = true;
            secondFrameTime_ = frameTime;
            if (firstFrameCheckDisabled_) hasReceivedFirstFrame_ = true;
            if (!CMTIME_IS_INDEFINITE(frameTime) && CMTIME_IS_INDEFINITE(firstFrameTime_))
                updatedMovieFrameOppositeStillImage = true;
        }

        if ((hasReceivedFirstFrame_ && hasReceivedSecondFrame_) || updatedMovieFrameOppositeStillImage) {
            const CMTime passOnFrameTime =
                !CMTIME_IS_INDEFINITE(firstFrameTime_) ? firstFrameTime_ : secondFrameTime_;
            GPXFilter::newFrameReadyAtTime(passOnFrameTime, 0);
            hasReceivedFirstFrame_ = false;
            hasReceivedSecondFrame_ = false;
        }
    });
}

long GPXTwoInputFilter::nextAvailableTextureIndex() {
    long index = 0;
    performSyncOnSharedContextQueue([&] { index = hasSetFirstTexture_ ? 1 : 0; });
    return index;
}

void GPXTwoInputFilter::setInputFramebuffer(const Ref<GPXFramebuffer>& newInputFramebuffer,
                                            long textureIndex) {
    performSyncOnSharedContextQueue([&] {
        if (textureIndex == 0) {
            firstInputFramebuffer_ = newInputFramebuffer;
            hasSetFirstTexture_ = true;
        } else {
            secondInputFramebuffer_ = newInputFramebuffer;
        }
        if (newInputFramebuffer) newInputFramebuffer->lock();
    });
}

void GPXTwoInputFilter::setInputSize(CGSize newSize, long textureIndex) {
    if (textureIndex != 0) return;
    GPXFilter::setInputSize(newSize, textureIndex);
    if (newSize.width == 0 && newSize.height == 0)
        performSyncOnSharedContextQueue([this] { hasSetFirstTexture_ = false; });
}

void GPXTwoInputFilter::setInputRotation(GPURotationMode newInputRotation, long textureIndex) {
    performSyncOnSharedContextQueue([&] {
        if (textureIndex == 0) {
            inputRotation_ = newInputRotation;
        } else {
            inputRotation2_ = newInputRotation;
        }
    });
}

CGSize GPXTwoInputFilter::rotatedSize(CGSize sizeToRotate, long textureIndex) {
    GPURotationMode rotation = rotationNone;
    performSyncOnSharedContextQueue([&] { rotation = textureIndex == 0 ? inputRotation_ : inputRotation2_; });
    if (GPURotationSwapsWidthAndHeight(rotation)) return CGSizeMake(sizeToRotate.height, sizeToRotate.width);
    return sizeToRotate;
}

GPURotationMode GPXTwoInputFilter::inputRotation2() {
    GPURotationMode value = rotationNone;
    performSyncOnSharedContextQueue([&] { value = inputRotation2_; });
    return value;
}

CMTime GPXTwoInputFilter::firstFrameTime() {
    CMTime value;
    performSyncOnSharedContextQueue([&] { value = firstFrameTime_; });
    return value;
}

CMTime GPXTwoInputFilter::secondFrameTime() {
    CMTime value;
    performSyncOnSharedContextQueue([&] { value = secondFrameTime_; });
    return value;
}
