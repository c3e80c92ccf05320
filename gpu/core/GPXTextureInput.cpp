#include "gpu/core/GPXTextureInput.h"

#include "gpu/core/GPXContext.h"

GPXTextureInput::GPXTextureInput(GLuint newInputTexture, CGSize newTextureSize)
    : textureSize_(newTextureSize) {
    performSyncOnSharedContextQueue([&] {
        GPXContext::useImageProcessingContext();
        outputFramebuffer_ = make<GPXFramebuffer>(newTextureSize, newInputTexture);
    });
}

void GPXTextureInput::processTextureWithFrameTime(CMTime frameTime) {
    performAsyncOnSharedContextQueue([this, keepAlive = self(), frameTime] {
        const auto list = targets_;
        const auto indices = targetTextureIndices_;
        for (std::size_t i = 0; i < list.size(); ++i) {
            list[i]->setInputSize(textureSize_, indices[i]);
            list[i]->setInputFramebuffer(outputFramebuffer_, indices[i]);
            list[i]->newFrameReadyAtTime(frameTime, indices[i]);
        }
    });
}
