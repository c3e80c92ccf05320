#pragma once
// A source that feeds a GL texture made elsewhere (in the shared context's share group) into the
// graph. The texture is wrapped, not owned: counting is disabled on the wrapper, consumers'
// unlocks never hand it to the cache, and it is never deleted here.

#include "gpu/core/GPXOutput.h"

class GPXTextureInput : public GPXOutput {
  public:
    GPXTextureInput(GLuint newInputTexture, CGSize newTextureSize);

    // Feeds the texture to every target, asynchronously on the shared context queue.
    void processTextureWithFrameTime(CMTime frameTime);
    CGSize textureSize() const { return textureSize_; }

    std::string className() const override { return "GPXTextureInput"; }

  private:
    const CGSize textureSize_;
};
