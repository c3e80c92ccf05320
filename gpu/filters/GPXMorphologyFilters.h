#pragma once
// Dilation and erosion over a square of radius 1 to 4, separably: the first pass folds along one
// axis, the second along the other, so the result is the maximum (minimum) over (2r + 1)^2
// pixels. The grey members read red only and write grey; the RGB members fold every channel.
// Opening (erosion, then dilation) and closing (dilation, then erosion) chain two of them.

#include <atomic>

#include "gpu/core/GPXFilterGroup.h"
#include "gpu/core/GPXTwoPassTextureSamplingFilter.h"

namespace detail {
enum class MorphologyFold { dilation, erosion, rgbDilation, rgbErosion };
// The radius a shader pair exists for: 0 and 1 give 1, 2 and 3 themselves, anything else 4.
unsigned morphologyShaderRadius(unsigned radius);
std::string morphologyVertexShader(unsigned radius);
std::string morphologyFragmentShader(unsigned radius, MorphologyFold fold);
}  // namespace detail

class GPXMorphologyFilterBase : public GPXTwoPassTextureSamplingFilter {
  public:
    GPXMorphologyFilterBase(unsigned radius, detail::MorphologyFold fold);
    // The radius the shaders sample (after the mapping above).
    unsigned radius() const { return radius_; }

  private:
    unsigned radius_;
};

class GPXDilationFilter : public GPXMorphologyFilterBase {
  public:
    GPXDilationFilter() : GPXDilationFilter(1) {}
    explicit GPXDilationFilter(unsigned radius)
        : GPXMorphologyFilterBase(radius, detail::MorphologyFold::dilation) {}
    std::string className() const override { return "GPXDilationFilter"; }
};

class GPXErosionFilter : public GPXMorphologyFilterBase {
  public:
    GPXErosionFilter() : GPXErosionFilter(1) {}
    explicit GPXErosionFilter(unsigned radius)
        : GPXMorphologyFilterBase(radius, detail::MorphologyFold::erosion) {}
    std::string className() const override { return "GPXErosionFilter"; }
};

class GPXRGBDilationFilter : public GPXMorphologyFilterBase {
  public:
    GPXRGBDilationFilter() : GPXRGBDilationFilter(1) {}
    explicit GPXRGBDilationFilter(unsigned radius)
        : GPXMorphologyFilterBase(radius, detail::MorphologyFold::rgbDilation) {}
    std::string className() const override { return "GPXRGBDilationFilter"; }
};

class GPXRGBErosionFilter : public GPXMorphologyFilterBase {
  public:
    GPXRGBErosionFilter() : GPXRGBErosionFilter(1) {}
    explicit GPXRGBErosionFilter(unsigned radius)
        : GPXMorphologyFilterBase(radius, detail::MorphologyFold::rgbErosion) {}
    std::string className() const override { return "GPXRGBErosionFilter"; }
};

// The two stages of an opening or closing, linked first to second.
template <class First, class Second>
class GPXMorphologyPair : public GPXFilterGroup {
  public:
    explicit GPXMorphologyPair(unsigned radius) : radius_(radius) {}
    void didInit() {
        first_ = make<First>(radius_);
        second_ = make<Second>(radius_);
        addFilter(first_);
        addFilter(second_);
        first_->addTarget(second_);
        setInitialFilters({first_});
        setTerminalFilter(second_);
    }

  protected:
    unsigned radius_;
    Ref<First> first_;
    Ref<Second> second_;
};

// Spacing passed to both stages.
template <class First, class Second>
class GPXSpacedMorphologyPair : public GPXMorphologyPair<First, Second> {
  public:
    using GPXMorphologyPair<First, Second>::GPXMorphologyPair;
    void setVerticalTexelSpacing(double newValue) {
        verticalTexelSpacing_.store(newValue);
        this->first_->setVerticalTexelSpacing(newValue);
        this->second_->setVerticalTexelSpacing(newValue);
    }
    double verticalTexelSpacing() const { return verticalTexelSpacing_.load(); }
    void setHorizontalTexelSpacing(double newValue) {
        horizontalTexelSpacing_.store(newValue);
        this->first_->setHorizontalTexelSpacing(newValue);
        this->second_->setHorizontalTexelSpacing(newValue);
    }
    double horizontalTexelSpacing() const { return horizontalTexelSpacing_.load(); }

  private:
    std::atomic<double> verticalTexelSpacing_{1.0}, horizontalTexelSpacing_{1.0};
};

class GPXOpeningFilter : public GPXSpacedMorphologyPair<GPXErosionFilter, GPXDilationFilter> {
  public:
    GPXOpeningFilter() : GPXOpeningFilter(1) {}
    explicit GPXOpeningFilter(unsigned radius) : GPXSpacedMorphologyPair(radius) {}
    Ref<GPXErosionFilter> erosionFilter() const { return first_; }
    Ref<GPXDilationFilter> dilationFilter() const { return second_; }
    std::string className() const override { return "GPXOpeningFilter"; }
};

class GPXClosingFilter : public GPXSpacedMorphologyPair<GPXDilationFilter, GPXErosionFilter> {
  public:
    GPXClosingFilter() : GPXClosingFilter(1) {}
    explicit GPXClosingFilter(unsigned radius) : GPXSpacedMorphologyPair(radius) {}
    Ref<GPXDilationFilter> dilationFilter() const { return first_; }
    Ref<GPXErosionFilter> erosionFilter() const { return second_; }
    std::string className() const override { return "GPXClosingFilter"; }
};

class GPXRGBOpeningFilter : public GPXMorphologyPair<GPXRGBErosionFilter, GPXRGBDilationFilter> {
  public:
    GPXRGBOpeningFilter() : GPXRGBOpeningFilter(1) {}
    explicit GPXRGBOpeningFilter(unsigned radius) : GPXMorphologyPair(radius) {}
    Ref<GPXRGBErosionFilter> erosionFilter() const { return first_; }
    Ref<GPXRGBDilationFilter> dilationFilter() const { return second_; }
    std::string className() const override { return "GPXRGBOpeningFilter"; }
};

class GPXRGBClosingFilter : public GPXMorphologyPair<GPXRGBDilationFilter, GPXRGBErosionFilter> {
  public:
    GPXRGBClosingFilter() : GPXRGBClosingFilter(1) {}
    explicit GPXRGBClosingFilter(unsigned radius) : GPXMorphologyPair(radius) {}
    Ref<GPXRGBDilationFilter> dilationFilter() const { return first_; }
    Ref<GPXRGBErosionFilter> erosionFilter() const { return second_; }
    std::string className() const override { return "GPXRGBClosingFilter"; }
};
