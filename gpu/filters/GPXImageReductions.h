#pragma once
// Filters that reduce a frame to a few numbers for a callback, called on the shared context queue
// with the frame time: the average colour, the average luminosity, and motion against a low-pass
// history (its centroid and the share of pixels that moved).
//
// The average shrinks the frame on the GPU, a quarter of each side per stage, while both sides
// stay at least 2, and reads back only the last stage. A frame under 8 pixels on a side needs no
// stage: its own pixels are read and averaged.

#include <functional>
#include <mutex>
#include <vector>

#include "gpu/core/GPXFilterGroup.h"
#include "gpu/core/GPXTwoInputFilter.h"
#include "gpu/filters/GPXConvolutionFilters.h"

class GPXAverageColor : public GPXFilter {
  public:
    using ColorAverageProcessingFinishedBlock =
        std::function<void(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha, CMTime frameTime)>;

    GPXAverageColor();
    void didInit() override;

    void setInputRotation(GPURotationMode newInputRotation, long textureIndex) override;
    void renderToTextureWithVertices(const GLfloat* vertices, const GLfloat* textureCoordinates) override;
    void extractAverageColorAtFrameTime(CMTime frameTime);

    void setColorAverageProcessingFinishedBlock(ColorAverageProcessingFinishedBlock block);
    ColorAverageProcessingFinishedBlock colorAverageProcessingFinishedBlock() const;
    // The size of the stage read back last (1 x 1 before any frame).
    CGSize finalStageSize();

    std::string className() const override { return "GPXAverageColor"; }

  protected:
    explicit GPXAverageColor(std::string fragmentShaderString);
    // The last stage's bytes read into `rawImagePixels_`; the number of pixels read.
    std::size_t readFinalStage();

    GLint texelWidthUniform_ = -1, texelHeightUniform_ = -1;
    // On the shared context queue only.
    std::vector<GLubyte> rawImagePixels_;
    CGSize finalStageSize_ = CGSizeMake(1, 1);

  private:
    mutable std::mutex blockMutex_;
    ColorAverageProcessingFinishedBlock colorAverageProcessingFinishedBlock_;
};

// The mean of dot(rgb, (0.2125, 0.7154, 0.0721)).
class GPXLuminosity : public GPXAverageColor {
  public:
    using LuminosityProcessingFinishedBlock = std::function<void(CGFloat luminosity, CMTime frameTime)>;

    GPXLuminosity();
    void didInit() override;
    void extractLuminosityAtFrameTime(CMTime frameTime);
    void setLuminosityProcessingFinishedBlock(LuminosityProcessingFinishedBlock block);
    LuminosityProcessingFinishedBlock luminosityProcessingFinishedBlock() const;
    std::string className() const override { return "GPXLuminosity"; }

  private:
    mutable std::mutex luminosityBlockMutex_;
    LuminosityProcessingFinishedBlock luminosityProcessingFinishedBlock_;
};

// Pixels whose colour is more than 0.2 from the low-pass history count as moving. A still frame
// reports intensity 0 and a centroid of not-a-number (no pixel to average).
class GPXMotionDetector : public GPXFilterGroup {
  public:
    using MotionDetectionBlock =
        std::function<void(CGPoint motionCentroid, CGFloat motionIntensity, CMTime frameTime)>;

    void didInit();
    void setLowPassFilterStrength(double newValue);
    double lowPassFilterStrength() const;
    void setMotionDetectionBlock(MotionDetectionBlock block);
    MotionDetectionBlock motionDetectionBlock() const;
    std::string className() const override { return "GPXMotionDetector"; }

    Ref<GPXLowPassFilter> lowPassFilter() const { return lowPassFilter_; }
    Ref<GPXTwoInputFilter> frameComparisonFilter() const { return frameComparisonFilter_; }
    Ref<GPXAverageColor> averageColor() const { return averageColor_; }

  private:
    Ref<GPXLowPassFilter> lowPassFilter_;
    Ref<GPXTwoInputFilter> frameComparisonFilter_;
    Ref<GPXAverageColor> averageColor_;
    mutable std::mutex blockMutex_;
    MotionDetectionBlock motionDetectionBlock_;
};
