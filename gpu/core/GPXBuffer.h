#pragma once
// A frame delay: keeps the last few input framebuffers and, for each new frame, passes on an older
// one instead, drawing nothing. The stream starts undelayed until the buffer has filled.

#include <deque>

#include "gpu/core/GPXFilter.h"

class GPXBuffer : public GPXFilter {
  public:
    GPXBuffer();
    ~GPXBuffer() override;

    void newFrameReadyAtTime(CMTime frameTime, long textureIndex) override;
    void renderToTextureWithVertices(const GLfloat*, const GLfloat*) override {}
    // 0 is ignored. Shrinking unlocks and drops the newest buffered frames.
    void setBufferSize(std::uint64_t newValue);
    std::uint64_t bufferSize();
    std::size_t bufferedFramebufferCount();

    std::string className() const override { return "GPXBuffer"; }

  private:
    std::deque<Ref<GPXFramebuffer>> bufferedFramebuffers_;  // oldest first; on the queue
    std::uint64_t bufferSize_ = 1;
};
