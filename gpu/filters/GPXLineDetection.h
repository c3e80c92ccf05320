#pragma once
// Straight lines: a detector that finds edges, lets every second edge pixel vote in a
// parallel-coordinate space (two segments per pixel, counted by additive blending or, where the
// device can read its framebuffer, by a carrying counter), keeps the local maxima of the votes
// and reads them back as (slope, intercept) pairs of y = m x + b in normalised device
// coordinates (-1 to 1; a vertical line is m = 100000 with b its x). Beside it, two overlay
// sources: one drawing such a list of lines, one drawing crosshairs at points.

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

#include "gpu/core/GPXFilterGroup.h"
#include "gpu/filters/GPXEdgeDetectionFilters.h"

// The vote space, of the input's size. Its buffers follow the input size.
class GPXParallelCoordinateLineTransformFilter : public GPXFilter {
  public:
    GPXParallelCoordinateLineTransformFilter();
    void initializeAttributes() override;
    void newFrameReadyAtTime(CMTime frameTime, long textureIndex) override;
    void renderToTextureWithVertices(const GLfloat* vertices, const GLfloat* textureCoordinates) override;
    // (Re)sizes the buffers for the current input size.
    void generateLineCoordinates();
    // The number of voting pixels in the last frame (capped at a quarter of the pixels).
    unsigned linePairsToRender();
    std::string className() const override { return "GPXParallelCoordinateLineTransformFilter"; }

  private:
    // On the shared context queue only.
    std::vector<GLubyte> rawImagePixels_;
    std::vector<GLfloat> lineCoordinates_;
    CGSize generatedSize_ = CGSizeZero;
    std::uint32_t maxLinePairsToRender_ = 0, linePairsToRender_ = 0;
};

class GPXHoughTransformLineDetector : public GPXFilterGroup {
  public:
    using LinesDetectedBlock =
        std::function<void(GLfloat* lineArray, unsigned long linesDetected, CMTime frameTime)>;
    static constexpr std::size_t kMaximumLines = 1021;

    void didInit();
    void setLineDetectionThreshold(double newValue);
    double lineDetectionThreshold() const;
    // Kept for callers; no stage reads it.
    void setEdgeThreshold(double newValue) { edgeThreshold_.store(newValue); }
    double edgeThreshold() const { return edgeThreshold_.load(); }
    void setLinesDetectedBlock(LinesDetectedBlock block);
    LinesDetectedBlock linesDetectedBlock() const;
    bool wantsMonochromeInput() override { return false; }
    void extractLineParametersFromImageAtFrameTime(CMTime frameTime);
    std::string className() const override { return "GPXHoughTransformLineDetector"; }

    Ref<GPXCannyEdgeDetectionFilter> thresholdEdgeDetectionFilter() const {
        return thresholdEdgeDetectionFilter_;
    }
    Ref<GPXParallelCoordinateLineTransformFilter> parallelCoordinateLineTransformFilter() const {
        return parallelCoordinateLineTransformFilter_;
    }
    Ref<GPXThresholdedNonMaximumSuppressionFilter> nonMaximumSuppressionFilter() const {
        return nonMaximumSuppressionFilter_;
    }

  private:
    Ref<GPXCannyEdgeDetectionFilter> thresholdEdgeDetectionFilter_;
    Ref<GPXParallelCoordinateLineTransformFilter> parallelCoordinateLineTransformFilter_;
    Ref<GPXThresholdedNonMaximumSuppressionFilter> nonMaximumSuppressionFilter_;
    std::atomic<double> edgeThreshold_{0.0};
    // On the shared context queue only.
    std::vector<GLubyte> rawImagePixels_;
    std::vector<GLfloat> linesArray_;
    mutable std::mutex blockMutex_;
    LinesDetectedBlock linesDetectedBlock_;
};

// Draws lines given as (m, b) pairs across a frame of its own (its size is set with
// forceProcessingAtSize) and hands it on; frames from an input draw nothing.
class GPXLineGenerator : public GPXFilter {
  public:
    static constexpr std::size_t kMaximumLines = 1024;
    GPXLineGenerator();
    void didInit() override;
    void setLineWidth(double newValue);
    double lineWidth() const { return lineWidth_.load(); }
    void setLineColorRed(GLfloat redComponent, GLfloat greenComponent, GLfloat blueComponent);
    void renderLinesFromArray(const GLfloat* lineSlopeAndIntercepts, unsigned long numberOfLines,
                              CMTime frameTime);
    void renderToTextureWithVertices(const GLfloat*, const GLfloat*) override {}
    std::string className() const override { return "GPXLineGenerator"; }

  private:
    GLint lineWidthUniform_ = -1, lineColorUniform_ = -1;
    std::atomic<double> lineWidth_{1.0};
    std::vector<GLfloat> lineCoordinates_;  // on the queue
};

// Draws a crosshair at each (x, y) point in 0-1 of a frame of its own and hands it on.
class GPXCrosshairGenerator : public GPXFilter {
  public:
    GPXCrosshairGenerator();
    void didInit() override;
    void setCrosshairWidth(double newValue);
    double crosshairWidth() const { return crosshairWidth_.load(); }
    void setCrosshairColorRed(GLfloat redComponent, GLfloat greenComponent, GLfloat blueComponent);
    void renderCrosshairsFromArray(const GLfloat* crosshairCoordinates, unsigned long numberOfCrosshairs,
                                   CMTime frameTime);
    void renderToTextureWithVertices(const GLfloat*, const GLfloat*) override {}
    std::string className() const override { return "GPXCrosshairGenerator"; }

  private:
    GLint crosshairWidthUniform_ = -1, crosshairColorUniform_ = -1;
    std::atomic<double> crosshairWidth_{5.0};
};
