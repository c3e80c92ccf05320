#pragma once
// Counts the 8-bit values of a frame on the GPU: the frame's bytes are read back, every sampled
// pixel becomes a point in the column of its value, and additive blending sums the points in a
// 256 x 3 output (bins left to right, counts on the middle row, one byte step per sample up to
// 255). The histogram generator turns that output into bars.
//
// The bytes are read into a buffer of the filter's own, re-sized whenever a frame is larger than
// the last. Of every `downsamplingFactor` pixels one is counted (the points step through the
// buffer by factor - 1 pixels, a factor of 1 counts every pixel).

#include <cstdint>
#include <vector>

#include "gpu/core/GPXFilter.h"

enum HistogramType : std::int32_t {
    kGPXHistogramRed = 0,
    kGPXHistogramGreen = 1,
    kGPXHistogramBlue = 2,
    kGPXHistogramRGB = 3,
    kGPXHistogramLuminance = 4,
};

class GPXHistogramFilter : public GPXFilter {
  public:
    GPXHistogramFilter() : GPXHistogramFilter(kGPXHistogramRGB) {}
    // Types outside 0-4 count red.
    explicit GPXHistogramFilter(HistogramType newHistogramType);
    void didInit() override;
    virtual void initializeSecondaryAttributes();

    HistogramType histogramType() const { return histogramType_; }
    void setDownsamplingFactor(unsigned newValue) { downsamplingFactor_.store(newValue); }
    unsigned downsamplingFactor() const { return downsamplingFactor_.load(); }

    CGSize sizeOfFBO() override { return CGSizeMake(256, 3); }
    CGSize outputFrameSize() override { return CGSizeMake(256, 3); }
    void newFrameReadyAtTime(CMTime frameTime, long textureIndex) override;
    void setInputSize(CGSize newSize, long textureIndex) override;
    void setInputRotation(GPURotationMode newInputRotation, long textureIndex) override;
    void renderToTextureWithVertices(const GLfloat* vertices, const GLfloat* textureCoordinates) override;
    std::string className() const override { return "GPXHistogramFilter"; }

    // The shader text that places a value's point for a type, and the one that colours it.
    static std::string vertexShaderForHistogramType(HistogramType type);
    static const char* histogramFragmentShader();

  private:
    HistogramType histogramType_;
    std::atomic<unsigned> downsamplingFactor_{16};
    // On the shared context queue only.
    std::vector<GLubyte> vertexSamplingCoordinates_;
    Ref<GLProgram> secondFilterProgram_, thirdFilterProgram_;
    GLint secondFilterPositionAttribute_ = 0, thirdFilterPositionAttribute_ = 0;
};
