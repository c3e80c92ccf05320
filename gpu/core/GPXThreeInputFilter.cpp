#include "gpu/core/GPXThreeInputFilter.h"

#include "gpu/core/GPXContext.h"

GPXThreeInputFilter::GPXThreeInputFilter(std::string fragmentShaderString)
    : GPXThreeInputFilter(kGPXThreeInputTextureVertexShaderString, std::move(fragmentShaderString)) {}

GPXThreeInputFilter::GPXThreeInputFilter(std::string vertexShaderString, std::string fragmentShaderString)
    : GPXTwoInputFilter(std::move(vertexShaderString), std::move(fragmentShaderString)) {}

void GPXThreeInputFilter::didInit() {
    GPXTwoInputFilter::didInit();
    performSyncOnSharedContextQueue([this] {
        if (!filterProgram_) return;
        GPXContext::useImageProcessingContext();
        filterThirdTextureCoordinateAttribute_ =
            static_cast<GLint>(filterProgram_->attributeIndex("inputTextureCoordinate3"));
        filterInputTextureUniform3_ = static_cast<GLint>(filterProgram_->uniformIndex("inputImageTexture3"));
        glEnableVertexAttribArray(static_cast<GLuint>(filterThirdTextureCoordinateAttribute_));
    });
}

void GPXThreeInputFilter::initializeAttributes() {
    GPXTwoInputFilter::initializeAttributes();
    filterProgram_->addAttribute("inputTextureCoordinate3");
}

void GPXThreeInputFilter::disableThirdFrameCheck() {
    performSyncOnSharedContextQueue([this] { thirdFrameCheckDisabled_ = true; });
}

void GPXThreeInputFilter::unlockInputs() {
    GPXTwoInputFilter::unlockInputs();
    if (thirdInputFramebuffer_) thirdInputFramebuffer_->unlock();
}

void GPXThreeInputFilter::bindAdditionalInputs() {
    GPXTwoInputFilter::bindAdditionalInputs();
    glActiveTexture(GL_TEXTURE4);
    glBindTexture(GL_TEXTURE_2D, thirdInputFramebuffer_ ? thirdInputFramebuffer_->texture() : 0);
    glUniform1i(filterInputTextureUniform3_, 4);
    glEnableVertexAttribArray(static_cast<GLuint>(filterThirdTextureCoordinateAttribute_));
    glVertexAttribPointer(static_cast<GLuint>(filterThirdTextureCoordinateAttribute_), 2, GL_FLOAT, GL_FALSE,
                          0, textureCoordinatesForRotation(inputRotation3_));
}

void GPXThreeInputFilter::releaseAdditionalInputs() {
    GPXTwoInputFilter::releaseAdditionalInputs();
    glDisableVertexAttribArray(static_cast<GLuint>(filterThirdTextureCoordinateAttribute_));
}

void GPXThreeInputFilter::newFrameReadyAtTime(CMTime frameTime, long textureIndex) {
    performSyncOnSharedContextQueue([&] {
        if (hasReceivedFirstFrame_ && hasReceivedSecondFrame_ && hasReceivedThirdFrame_) return;

        bool updatedMovieFrameOppositeStillImage = false;
        CMTime otherTime;
        if (textureIndex == 0) {
            hasReceivedFirstFrame_ = true;
            firstFrameTime_ = frameTime;
            otherTime = secondFrameTime_;
        } else if (textureIndex == 1) {
            hasReceivedSecondFrame_ = true;
            secondFrameTime_ = frameTime;
            otherTime = firstFrameTime_;
        } else {
            hasReceivedThirdFrame_ = true;
            thirdFrameTime_ = frameTime;
            otherTime = firstFrameTime_;
        }
        if (firstFrameCheckDisabled_) hasReceivedFirstFrame_ = true;
        if (secondFrameCheckDisabled_) hasReceivedSecondFrame_ = true;
        if (thirdFrameCheckDisabled_) hasReceivedThirdFrame_ = true;
        if (!CMTIME_IS_INDEFINITE(frameTime) && CMTIME_IS_INDEFINITE(otherTime))
            updatedMovieFrameOppositeStillImage = true;

        if ((hasReceivedFirstFrame_ && hasReceivedSecondFrame_ && hasReceivedThirdFrame_) ||
            updatedMovieFrameOppositeStillImage) {
            renderToTextureWithVertices(imageVertices(), textureCoordinatesForRotation(inputRotation_));
            informTargetsAboutNewFrameAtTime(frameTime);
            hasReceivedFirstFrame_ = false;
            hasReceivedSecondFrame_ = false;
            hasReceivedThirdFrame_ = false;
        }
    });
}

long GPXThreeInputFilter::nextAvailableTextureIndex() {
    long index = 0;
    performSyncOnSharedContextQueue(
        [&] { index = hasSetSecondTexture_ ? 2 : (hasSetFirstTexture_ ? 1 : 0); });
    return index;
}

void GPXThreeInputFilter::setInputFramebuffer(const Ref<GPXFramebuffer>& newInputFramebuffer,
                                              long textureIndex) {
    performSyncOnSharedContextQueue([&] {
        if (textureIndex == 0) {
            firstInputFramebuffer_ = newInputFramebuffer;
            hasSetFirstTexture_ = true;
        } else if (textureIndex == 1) {
            secondInputFramebuffer_ = newInputFramebuffer;
            hasSetSecondTexture_ = true;
        } else {
            thirdInputFramebuffer_ = newInputFramebuffer;
        }
        if (newInputFramebuffer) newInputFramebuffer->lock();
    });
}

void GPXThreeInputFilter::setInputSize(CGSize newSize, long textureIndex) {
    const bool zero = newSize.width == 0 && newSize.height == 0;
    if (textureIndex == 0) {
        GPXTwoInputFilter::setInputSize(newSize, textureIndex);
    } else if (textureIndex == 1 && zero) {
        performSyncOnSharedContextQueue([this] { hasSetSecondTexture_ = false; });
    }
}

void GPXThreeInputFilter::setInputRotation(GPURotationMode newInputRotation, long textureIndex) {
    performSyncOnSharedContextQueue([&] {
        if (textureIndex == 0) {
            inputRotation_ = newInputRotation;
        } else if (textureIndex == 1) {
            inputRotation2_ = newInputRotation;
        } else {
            inputRotation3_ = newInputRotation;
        }
    });
}

CGSize GPXThreeInputFilter::rotatedSize(CGSize sizeToRotate, long textureIndex) {
    GPURotationMode rotation = rotationNone;
    performSyncOnSharedContextQueue([&] {
        rotation =
            textureIndex == 0 ? inputRotation_ : (textureIndex == 1 ? inputRotation2_ : inputRotation3_);
    });
    if (GPURotationSwapsWidthAndHeight(rotation)) return CGSizeMake(sizeToRotate.height, sizeToRotate.width);
    return sizeToRotate;
}

GPURotationMode GPXThreeInputFilter::inputRotation3() {
    GPURotationMode value = rotationNone;
    performSyncOnSharedContextQueue([&] { value = inputRotation3_; });
    return value;
}

CMTime GPXThreeInputFilter::thirdFrameTime() {
    CMTime value;
    performSyncOnSharedContextQueue([&] { value = thirdFrameTime_; });
    return value;
}
