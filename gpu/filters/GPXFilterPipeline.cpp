#include "gpu/filters/GPXFilterPipeline.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>

#include "foundation/NSLog.h"
#include "foundation/NSPropertyListSerialization.h"
#include "gpu/filters/GPXAverageLuminanceThresholdFilter.h"
#include "gpu/filters/GPXBlendFilters.h"
#include "gpu/filters/GPXBlurFilters.h"
#include "gpu/filters/GPXColorAdjustmentFilters.h"
#include "gpu/filters/GPXCompositeBlurFilters.h"
#include "gpu/filters/GPXConvolutionFilters.h"
#include "gpu/filters/GPXCornerDetectionFilters.h"
#include "gpu/filters/GPXCurvesAndLookupFilters.h"
#include "gpu/filters/GPXDistortionFilters.h"
#include "gpu/filters/GPXEdgeDetectionFilters.h"
#include "gpu/filters/GPXGeometryFilters.h"
#include "gpu/filters/GPXHSBFilter.h"
#include "gpu/filters/GPXHistogramEqualizationFilter.h"
#include "gpu/filters/GPXHistogramGenerator.h"
#include "gpu/filters/GPXMorphologyFilters.h"
#include "gpu/filters/GPXStylisingFilters.h"

namespace {

using detail::PipelineArgument;
using detail::PipelineScalar;

// What a setter takes, and how to call it on a filter.
struct Setter {
    enum class Kind { None, Number, Point, Text, List };
    Kind kind;
    std::function<void(GPXOutput&, const PipelineArgument&)> call;
};

struct FilterClass {
    std::function<Ref<GPXOutput>()> make;
    std::map<std::string, Setter> setters;
};

template <class F, class T>
Setter number(void (F::*method)(T)) {
    return {Setter::Kind::Number, [method](GPXOutput& filter, const PipelineArgument& argument) {
                (dynamic_cast<F&>(filter).*method)(static_cast<T>(std::get<double>(argument)));
            }};
}

template <class F>
Setter point(void (F::*method)(CGPoint)) {
    return {Setter::Kind::Point, [method](GPXOutput& filter, const PipelineArgument& argument) {
                (dynamic_cast<F&>(filter).*method)(std::get<CGPoint>(argument));
            }};
}

template <class F>
Setter action(void (F::*method)()) {
    return {Setter::Kind::None,
            [method](GPXOutput& filter, const PipelineArgument&) { (dynamic_cast<F&>(filter).*method)(); }};
}

template <class F>
FilterClass filterClass(std::map<std::string, Setter> setters = {}) {
    return {[] { return Ref<GPXOutput>(make<F>()); }, std::move(setters)};
}

const std::map<std::string, FilterClass>& registry() {
    static const std::map<std::string, FilterClass> classes = [] {
        std::map<std::string, FilterClass> r;
        r["GPXFilter"] = filterClass<GPXFilter>();
        // Colour adjustments.
        r["GPXBrightnessFilter"] = filterClass<GPXBrightnessFilter>(
            {{"setBrightness:", number(&GPXBrightnessFilter::setBrightness)}});
        r["GPXContrastFilter"] =
            filterClass<GPXContrastFilter>({{"setContrast:", number(&GPXContrastFilter::setContrast)}});
        r["GPXSaturationFilter"] = filterClass<GPXSaturationFilter>(
            {{"setSaturation:", number(&GPXSaturationFilter::setSaturation)}});
        r["GPXGammaFilter"] = filterClass<GPXGammaFilter>({{"setGamma:", number(&GPXGammaFilter::setGamma)}});
        r["GPXExposureFilter"] =
            filterClass<GPXExposureFilter>({{"setExposure:", number(&GPXExposureFilter::setExposure)}});
        r["GPXRGBFilter"] = filterClass<GPXRGBFilter>({{"setRed:", number(&GPXRGBFilter::setRed)},
                                                       {"setGreen:", number(&GPXRGBFilter::setGreen)},
                                                       {"setBlue:", number(&GPXRGBFilter::setBlue)}});
        r["GPXOpacityFilter"] =
            filterClass<GPXOpacityFilter>({{"setOpacity:", number(&GPXOpacityFilter::setOpacity)}});
        r["GPXColorInvertFilter"] = filterClass<GPXColorInvertFilter>();
        r["GPXGrayscaleFilter"] = filterClass<GPXGrayscaleFilter>();
        r["GPXLuminanceThresholdFilter"] = filterClass<GPXLuminanceThresholdFilter>(
            {{"setThreshold:", number(&GPXLuminanceThresholdFilter::setThreshold)}});
        r["GPXLuminanceRangeFilter"] = filterClass<GPXLuminanceRangeFilter>(
            {{"setRangeReductionFactor:", number(&GPXLuminanceRangeFilter::setRangeReductionFactor)}});
        r["GPXPosterizeFilter"] = filterClass<GPXPosterizeFilter>(
            {{"setColorLevels:", number(&GPXPosterizeFilter::setColorLevels)}});
        r["GPXHazeFilter"] =
            filterClass<GPXHazeFilter>({{"setDistance:", number(&GPXHazeFilter::setDistance)},
                                        {"setSlope:", number(&GPXHazeFilter::setSlope)}});
        r["GPXHighlightShadowFilter"] = filterClass<GPXHighlightShadowFilter>(
            {{"setShadows:", number(&GPXHighlightShadowFilter::setShadows)},
             {"setHighlights:", number(&GPXHighlightShadowFilter::setHighlights)}});
        r["GPXHueFilter"] = filterClass<GPXHueFilter>({{"setHue:", number(&GPXHueFilter::setHue)}});
        r["GPXWhiteBalanceFilter"] = filterClass<GPXWhiteBalanceFilter>(
            {{"setTemperature:", number(&GPXWhiteBalanceFilter::setTemperature)},
             {"setTint:", number(&GPXWhiteBalanceFilter::setTint)}});
        r["GPXFalseColorFilter"] = filterClass<GPXFalseColorFilter>();
        r["GPXChromaKeyFilter"] = filterClass<GPXChromaKeyFilter>(
            {{"setThresholdSensitivity:", number(&GPXChromaKeyFilter::setThresholdSensitivity)},
             {"setSmoothing:", number(&GPXChromaKeyFilter::setSmoothing)}});
        r["GPXCGAColorspaceFilter"] = filterClass<GPXCGAColorspaceFilter>();
        r["GPXColorMatrixFilter"] = filterClass<GPXColorMatrixFilter>(
            {{"setIntensity:", number(&GPXColorMatrixFilter::setIntensity)}});
        r["GPXSepiaFilter"] =
            filterClass<GPXSepiaFilter>({{"setIntensity:", number(&GPXColorMatrixFilter::setIntensity)}});
        r["GPXHSBFilter"] =
            filterClass<GPXHSBFilter>({{"reset", action(&GPXHSBFilter::reset)},
                                       {"rotateHue:", number(&GPXHSBFilter::rotateHue)},
                                       {"adjustSaturation:", number(&GPXHSBFilter::adjustSaturation)},
                                       {"adjustBrightness:", number(&GPXHSBFilter::adjustBrightness)},
                                       {"setIntensity:", number(&GPXColorMatrixFilter::setIntensity)}});
        r["GPXAdaptiveThresholdFilter"] = filterClass<GPXAdaptiveThresholdFilter>(
            {{"setBlurRadiusInPixels:", number(&GPXAdaptiveThresholdFilter::setBlurRadiusInPixels)}});
        r["GPXAverageLuminanceThresholdFilter"] = filterClass<GPXAverageLuminanceThresholdFilter>(
            {{"setThresholdMultiplier:",
              number(&GPXAverageLuminanceThresholdFilter::setThresholdMultiplier)}});
        r["GPXSolidColorGenerator"] = filterClass<GPXSolidColorGenerator>();
        // Curves and tables.
        auto pointList = [](void (GPXToneCurveFilter::*method)(const GPXToneCurveFilter::Points&)) {
            return Setter{Setter::Kind::List, [method](GPXOutput& filter, const PipelineArgument& argument) {
                              GPXToneCurveFilter::Points points;
                              for (auto& item : std::get<std::vector<PipelineScalar>>(argument))
                                  if (auto* p = std::get_if<CGPoint>(&item)) points.push_back(*p);
                              (dynamic_cast<GPXToneCurveFilter&>(filter).*method)(points);
                          }};
        };
        r["GPXToneCurveFilter"] = filterClass<GPXToneCurveFilter>(
            {{"setPointsWithACV:", Setter{Setter::Kind::Text,
                                          [](GPXOutput& filter, const PipelineArgument& argument) {
                                              dynamic_cast<GPXToneCurveFilter&>(filter).setPointsWithACV(
                                                  std::get<std::string>(argument));
                                          }}},
             {"setRGBControlPoints:", pointList(&GPXToneCurveFilter::setRGBControlPoints)},
             {"setRgbCompositeControlPoints:", pointList(&GPXToneCurveFilter::setRgbCompositeControlPoints)},
             {"setRedControlPoints:", pointList(&GPXToneCurveFilter::setRedControlPoints)},
             {"setGreenControlPoints:", pointList(&GPXToneCurveFilter::setGreenControlPoints)},
             {"setBlueControlPoints:", pointList(&GPXToneCurveFilter::setBlueControlPoints)}});
        r["GPXLevelsFilter"] = filterClass<GPXLevelsFilter>();
        r["GPXLookupFilter"] =
            filterClass<GPXLookupFilter>({{"setIntensity:", number(&GPXLookupFilter::setIntensity)}});
        r["GPXHistogramEqualizationFilter"] = filterClass<GPXHistogramEqualizationFilter>(
            {{"setDownsamplingFactor:", number(&GPXHistogramEqualizationFilter::setDownsamplingFactor)}});
        // Blends.
        r["GPXDissolveBlendFilter"] =
            filterClass<GPXDissolveBlendFilter>({{"setMix:", number(&GPXDissolveBlendFilter::setMix)}});
        r["GPXAlphaBlendFilter"] =
            filterClass<GPXAlphaBlendFilter>({{"setMix:", number(&GPXAlphaBlendFilter::setMix)}});
        r["GPXSourceOverBlendFilter"] = filterClass<GPXSourceOverBlendFilter>();
        r["GPXNormalBlendFilter"] = filterClass<GPXNormalBlendFilter>();
        r["GPXMultiplyBlendFilter"] = filterClass<GPXMultiplyBlendFilter>();
        r["GPXScreenBlendFilter"] = filterClass<GPXScreenBlendFilter>();
        r["GPXDarkenBlendFilter"] = filterClass<GPXDarkenBlendFilter>();
        r["GPXLightenBlendFilter"] = filterClass<GPXLightenBlendFilter>();
        r["GPXDifferenceBlendFilter"] = filterClass<GPXDifferenceBlendFilter>();
        r["GPXSubtractBlendFilter"] = filterClass<GPXSubtractBlendFilter>();
        r["GPXExclusionBlendFilter"] = filterClass<GPXExclusionBlendFilter>();
        r["GPXLinearBurnBlendFilter"] = filterClass<GPXLinearBurnBlendFilter>();
        r["GPXColorBurnBlendFilter"] = filterClass<GPXColorBurnBlendFilter>();
        r["GPXColorDodgeBlendFilter"] = filterClass<GPXColorDodgeBlendFilter>();
        r["GPXOverlayBlendFilter"] = filterClass<GPXOverlayBlendFilter>();
        r["GPXHardLightBlendFilter"] = filterClass<GPXHardLightBlendFilter>();
        r["GPXSoftLightBlendFilter"] = filterClass<GPXSoftLightBlendFilter>();
        r["GPXAddBlendFilter"] = filterClass<GPXAddBlendFilter>();
        r["GPXDivideBlendFilter"] = filterClass<GPXDivideBlendFilter>();
        r["GPXMaskFilter"] = filterClass<GPXMaskFilter>();
        r["GPXColorBlendFilter"] = filterClass<GPXColorBlendFilter>();
        r["GPXHueBlendFilter"] = filterClass<GPXHueBlendFilter>();
        r["GPXSaturationBlendFilter"] = filterClass<GPXSaturationBlendFilter>();
        r["GPXLuminosityBlendFilter"] = filterClass<GPXLuminosityBlendFilter>();
        r["GPXChromaKeyBlendFilter"] = filterClass<GPXChromaKeyBlendFilter>(
            {{"setThresholdSensitivity:", number(&GPXChromaKeyBlendFilter::setThresholdSensitivity)},
             {"setSmoothing:", number(&GPXChromaKeyBlendFilter::setSmoothing)}});
        r["GPXPoissonBlendFilter"] = filterClass<GPXPoissonBlendFilter>(
            {{"setMix:", number(&GPXPoissonBlendFilter::setMix)},
             {"setNumIterations:", number(&GPXPoissonBlendFilter::setNumIterations)}});
        // Blurs.
        const std::map<std::string, Setter> blurSetters{
            {"setBlurRadiusInPixels:", number(&GPXGaussianBlurFilter::setBlurRadiusInPixels)},
            {"setBlurRadiusAsFractionOfImageWidth:",
             number(&GPXGaussianBlurFilter::setBlurRadiusAsFractionOfImageWidth)},
            {"setBlurRadiusAsFractionOfImageHeight:",
             number(&GPXGaussianBlurFilter::setBlurRadiusAsFractionOfImageHeight)},
            {"setTexelSpacingMultiplier:", number(&GPXGaussianBlurFilter::setTexelSpacingMultiplier)},
            {"setBlurPasses:", number(&GPXGaussianBlurFilter::setBlurPasses)}};
        r["GPXGaussianBlurFilter"] = filterClass<GPXGaussianBlurFilter>(blurSetters);
        r["GPXBoxBlurFilter"] = filterClass<GPXBoxBlurFilter>(blurSetters);
        r["GPXSingleComponentGaussianBlurFilter"] =
            filterClass<GPXSingleComponentGaussianBlurFilter>(blurSetters);
        // Convolutions and neighbourhoods.
        r["GPX3x3ConvolutionFilter"] = filterClass<GPX3x3ConvolutionFilter>();
        r["GPXEmbossFilter"] =
            filterClass<GPXEmbossFilter>({{"setIntensity:", number(&GPXEmbossFilter::setIntensity)}});
        r["GPXLaplacianFilter"] = filterClass<GPXLaplacianFilter>();
        r["GPXSharpenFilter"] =
            filterClass<GPXSharpenFilter>({{"setSharpness:", number(&GPXSharpenFilter::setSharpness)}});
        r["GPXMedianFilter"] = filterClass<GPXMedianFilter>();
        r["GPXBilateralFilter"] = filterClass<GPXBilateralFilter>(
            {{"setDistanceNormalizationFactor:", number(&GPXBilateralFilter::setDistanceNormalizationFactor)},
             {"setTexelSpacingMultiplier:", number(&GPXGaussianBlurFilter::setTexelSpacingMultiplier)}});
        r["GPXUnsharpMaskFilter"] = filterClass<GPXUnsharpMaskFilter>(
            {{"setIntensity:", number(&GPXUnsharpMaskFilter::setIntensity)},
             {"setBlurRadiusInPixels:", number(&GPXUnsharpMaskFilter::setBlurRadiusInPixels)}});
        r["GPXLowPassFilter"] = filterClass<GPXLowPassFilter>(
            {{"setFilterStrength:", number(&GPXLowPassFilter::setFilterStrength)}});
        r["GPXHighPassFilter"] = filterClass<GPXHighPassFilter>(
            {{"setFilterStrength:", number(&GPXHighPassFilter::setFilterStrength)}});
        // Composite and directional blurs.
        r["GPXGaussianSelectiveBlurFilter"] = filterClass<GPXGaussianSelectiveBlurFilter>(
            {{"setExcludeCircleRadius:", number(&GPXGaussianSelectiveBlurFilter::setExcludeCircleRadius)},
             {"setExcludeCirclePoint:", point(&GPXGaussianSelectiveBlurFilter::setExcludeCirclePoint)},
             {"setExcludeBlurSize:", number(&GPXGaussianSelectiveBlurFilter::setExcludeBlurSize)},
             {"setBlurRadiusInPixels:", number(&GPXGaussianSelectiveBlurFilter::setBlurRadiusInPixels)},
             {"setAspectRatio:", number(&GPXGaussianSelectiveBlurFilter::setAspectRatio)}});
        r["GPXTiltShiftFilter"] = filterClass<GPXTiltShiftFilter>(
            {{"setTopFocusLevel:", number(&GPXTiltShiftFilter::setTopFocusLevel)},
             {"setBottomFocusLevel:", number(&GPXTiltShiftFilter::setBottomFocusLevel)},
             {"setFocusFallOffRate:", number(&GPXTiltShiftFilter::setFocusFallOffRate)},
             {"setBlurRadiusInPixels:", number(&GPXTiltShiftFilter::setBlurRadiusInPixels)}});
        r["GPXGaussianBlurPositionFilter"] = filterClass<GPXGaussianBlurPositionFilter>(
            {{"setBlurSize:", number(&GPXGaussianBlurPositionFilter::setBlurSize)},
             {"setBlurCenter:", point(&GPXGaussianBlurPositionFilter::setBlurCenter)},
             {"setBlurRadius:", number(&GPXGaussianBlurPositionFilter::setBlurRadius)}});
        r["GPXiOSBlurFilter"] = filterClass<GPXiOSBlurFilter>(
            {{"setBlurRadiusInPixels:", number(&GPXiOSBlurFilter::setBlurRadiusInPixels)},
             {"setSaturation:", number(&GPXiOSBlurFilter::setSaturation)},
             {"setRangeReductionFactor:", number(&GPXiOSBlurFilter::setRangeReductionFactor)},
             {"setDownsampling:", number(&GPXiOSBlurFilter::setDownsampling)}});
        r["GPXMotionBlurFilter"] =
            filterClass<GPXMotionBlurFilter>({{"setBlurSize:", number(&GPXMotionBlurFilter::setBlurSize)},
                                              {"setBlurAngle:", number(&GPXMotionBlurFilter::setBlurAngle)}});
        r["GPXZoomBlurFilter"] =
            filterClass<GPXZoomBlurFilter>({{"setBlurSize:", number(&GPXZoomBlurFilter::setBlurSize)},
                                            {"setBlurCenter:", point(&GPXZoomBlurFilter::setBlurCenter)}});
        // Geometry.
        r["GPXCropFilter"] = filterClass<GPXCropFilter>();
        r["GPXTransformFilter"] = filterClass<GPXTransformFilter>();
        r["GPXLanczosResamplingFilter"] = filterClass<GPXLanczosResamplingFilter>();
        r["GPXHistogramGenerator"] = filterClass<GPXHistogramGenerator>();
        // Edge detection, morphology, stylising and distortion (image to image; the detectors and
        // reductions hand numbers to callbacks and are made in code).
        r["GPXSobelEdgeDetectionFilter"] = filterClass<GPXSobelEdgeDetectionFilter>(
            {{"setEdgeStrength:", number(&GPXSobelEdgeDetectionFilter::setEdgeStrength)}});
        r["GPXPrewittEdgeDetectionFilter"] = filterClass<GPXPrewittEdgeDetectionFilter>(
            {{"setEdgeStrength:", number(&GPXSobelEdgeDetectionFilter::setEdgeStrength)}});
        r["GPXSketchFilter"] = filterClass<GPXSketchFilter>(
            {{"setEdgeStrength:", number(&GPXSobelEdgeDetectionFilter::setEdgeStrength)}});
        r["GPXThresholdEdgeDetectionFilter"] = filterClass<GPXThresholdEdgeDetectionFilter>(
            {{"setThreshold:", number(&GPXThresholdEdgeDetectionFilter::setThreshold)}});
        r["GPXThresholdSketchFilter"] = filterClass<GPXThresholdSketchFilter>(
            {{"setThreshold:", number(&GPXThresholdEdgeDetectionFilter::setThreshold)}});
        r["GPXCannyEdgeDetectionFilter"] = filterClass<GPXCannyEdgeDetectionFilter>(
            {{"setBlurRadiusInPixels:", number(&GPXCannyEdgeDetectionFilter::setBlurRadiusInPixels)},
             {"setUpperThreshold:", number(&GPXCannyEdgeDetectionFilter::setUpperThreshold)},
             {"setLowerThreshold:", number(&GPXCannyEdgeDetectionFilter::setLowerThreshold)}});
        r["GPXLocalBinaryPatternFilter"] = filterClass<GPXLocalBinaryPatternFilter>();
        r["GPXDilationFilter"] = filterClass<GPXDilationFilter>();
        r["GPXErosionFilter"] = filterClass<GPXErosionFilter>();
        r["GPXRGBDilationFilter"] = filterClass<GPXRGBDilationFilter>();
        r["GPXRGBErosionFilter"] = filterClass<GPXRGBErosionFilter>();
        r["GPXOpeningFilter"] = filterClass<GPXOpeningFilter>();
        r["GPXClosingFilter"] = filterClass<GPXClosingFilter>();
        r["GPXRGBOpeningFilter"] = filterClass<GPXRGBOpeningFilter>();
        r["GPXRGBClosingFilter"] = filterClass<GPXRGBClosingFilter>();
        r["GPXPixellateFilter"] = filterClass<GPXPixellateFilter>(
            {{"setFractionalWidthOfAPixel:", number(&GPXPixellateFilter::setFractionalWidthOfAPixel)}});
        r["GPXPolkaDotFilter"] = filterClass<GPXPolkaDotFilter>(
            {{"setFractionalWidthOfAPixel:", number(&GPXPixellateFilter::setFractionalWidthOfAPixel)},
             {"setDotScaling:", number(&GPXPolkaDotFilter::setDotScaling)}});
        r["GPXHalftoneFilter"] = filterClass<GPXHalftoneFilter>(
            {{"setFractionalWidthOfAPixel:", number(&GPXPixellateFilter::setFractionalWidthOfAPixel)}});
        r["GPXCrosshatchFilter"] = filterClass<GPXCrosshatchFilter>(
            {{"setCrossHatchSpacing:", number(&GPXCrosshatchFilter::setCrossHatchSpacing)},
             {"setLineWidth:", number(&GPXCrosshatchFilter::setLineWidth)}});
        r["GPXToonFilter"] =
            filterClass<GPXToonFilter>({{"setThreshold:", number(&GPXToonFilter::setThreshold)}});
        r["GPXSmoothToonFilter"] = filterClass<GPXSmoothToonFilter>(
            {{"setBlurRadiusInPixels:", number(&GPXSmoothToonFilter::setBlurRadiusInPixels)}});
        r["GPXKuwaharaFilter"] =
            filterClass<GPXKuwaharaFilter>({{"setRadius:", number(&GPXKuwaharaFilter::setRadius)}});
        r["GPXSwirlFilter"] =
            filterClass<GPXSwirlFilter>({{"setAngle:", number(&GPXSwirlFilter::setAngle)},
                                         {"setRadius:", number(&GPXSwirlFilter::setRadius)},
                                         {"setCenter:", point(&GPXSwirlFilter::setCenter)}});
        r["GPXBulgeDistortionFilter"] = filterClass<GPXBulgeDistortionFilter>(
            {{"setScale:", number(&GPXBulgeDistortionFilter::setScale)},
             {"setRadius:", number(&GPXBulgeDistortionFilter::setRadius)},
             {"setCenter:", point(&GPXBulgeDistortionFilter::setCenter)}});
        r["GPXPinchDistortionFilter"] = filterClass<GPXPinchDistortionFilter>(
            {{"setScale:", number(&GPXPinchDistortionFilter::setScale)},
             {"setRadius:", number(&GPXPinchDistortionFilter::setRadius)}});
        r["GPXStretchDistortionFilter"] = filterClass<GPXStretchDistortionFilter>(
            {{"setCenter:", point(&GPXStretchDistortionFilter::setCenter)}});
        r["GPXSphereRefractionFilter"] = filterClass<GPXSphereRefractionFilter>(
            {{"setRadius:", number(&GPXSphereRefractionFilter::setRadius)},
             {"setRefractiveIndex:", number(&GPXSphereRefractionFilter::setRefractiveIndex)}});
        r["GPXGlassSphereFilter"] = filterClass<GPXGlassSphereFilter>(
            {{"setRadius:", number(&GPXSphereRefractionFilter::setRadius)},
             {"setRefractiveIndex:", number(&GPXSphereRefractionFilter::setRefractiveIndex)}});
        r["GPXVignetteFilter"] = filterClass<GPXVignetteFilter>(
            {{"setVignetteStart:", number(&GPXVignetteFilter::setVignetteStart)},
             {"setVignetteEnd:", number(&GPXVignetteFilter::setVignetteEnd)},
             {"setVignetteCenter:", point(&GPXVignetteFilter::setVignetteCenter)}});
        return r;
    }();
    return classes;
}

Setter::Kind kindOf(const PipelineArgument& argument) {
    switch (argument.index()) {
        case 0:
            return Setter::Kind::None;
        case 1:
            return Setter::Kind::Number;
        case 2:
            return Setter::Kind::Point;
        case 3:
            return Setter::Kind::Text;
        default:
            return Setter::Kind::List;
    }
}

// NSString's float reading: the leading number, 0 when there is none.
double leadingNumber(const std::string& text) {
    const char* start = text.c_str();
    char* end = nullptr;
    const double value = std::strtod(start, &end);
    return end == start ? 0.0 : static_cast<float>(value);
}

// Builds the entries' filters and makes their calls; nullopt on any failure.
std::optional<std::vector<Ref<GPXOutput>>> buildFilters(const Value& configuration,
                                                        std::string* stringValue) {
    auto entries = detail::readPipelineConfiguration(configuration);
    if (!entries) return std::nullopt;
    std::vector<Ref<GPXOutput>> filters;
    for (auto& entry : *entries) {
        const auto& filterClass = registry().at(entry.filterName);
        auto filter = filterClass.make();
        for (auto& call : entry.calls) {
            if (auto* text = std::get_if<std::string>(&call.argument)) *stringValue = *text;
            filterClass.setters.at(call.setter).call(*filter, call.argument);
        }
        filters.push_back(filter);
    }
    return filters;
}

}  // namespace

namespace detail {

namespace {
// What the pattern's "." does not match, and what its "\s" does.
bool isLineEnd(char c) {
    return c == '\n' || c == '\r';
}
bool isPatternSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The arguments after "type(" at start: the first runs to the first "," or ")" on its line; each
// "," then starts another argument after its white space (line ends included), and the one that
// meets ")" is the last. No line end may come inside an argument. A regular expression engine
// finds the same by backtracking, which takes exponential time on a long text without its ")".
// On failure, *failedAt is where the reading stopped (a line end or the text's end): an argument
// list starting anywhere before it fails the same way, as it meets the same "," or stop.
std::optional<PipelineArgumentParts> argumentsFrom(const std::string& text, std::size_t start,
                                                   std::string type, std::size_t* failedAt) {
    auto scan = [&](std::size_t from) {
        while (from < text.size() && text[from] != ',' && text[from] != ')' && !isLineEnd(text[from])) ++from;
        return from;
    };
    std::size_t end = scan(start);
    auto failed = [&] {
        *failedAt = end;
        return std::nullopt;
    };
    if (end == text.size() || isLineEnd(text[end])) return failed();
    PipelineArgumentParts parts{std::move(type), text.substr(start, end - start), std::string()};
    while (text[end] == ',') {
        std::size_t from = end + 1;
        while (from < text.size() && isPatternSpace(text[from])) ++from;
        end = scan(from);
        if (end == text.size() || isLineEnd(text[end])) return failed();
        parts.last = text.substr(from, end - from);
    }
    return parts;
}
}  // namespace

std::optional<PipelineArgumentParts> matchPipelineArgumentText(const std::string& text) {
    static const char* const kTypes[] = {"float", "CGPoint", "NSString"};
    std::size_t failedAt = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        for (const char* type : kTypes) {
            const std::size_t length = std::strlen(type);
            if (text.compare(at, length, type) != 0 || at + length >= text.size() || text[at + length] != '(')
                continue;
            if (at + length + 1 <= failedAt) continue;  // its arguments end where the last ones failed
            if (auto parts = argumentsFrom(text, at + length + 1, type, &failedAt)) return parts;
        }
    }
    return std::nullopt;
}

std::optional<PipelineScalar> parsePipelineArgumentText(const std::string& text) {
    auto parts = matchPipelineArgumentText(text);
    if (!parts) return std::nullopt;
    if (parts->type == "float") return PipelineScalar(leadingNumber(parts->first));
    if (parts->type == "CGPoint")
        return PipelineScalar(CGPointMake(leadingNumber(parts->first), leadingNumber(parts->last)));
    return PipelineScalar(parts->first);
}

std::optional<std::vector<PipelineFilterEntry>> readPipelineConfiguration(const Value& configuration) {
    const Value& filters = configuration["Filters"];
    if (!filters.isArray()) return std::nullopt;
    std::vector<PipelineFilterEntry> entries;
    for (const Value& entry : *filters.array()) {
        if (!entry.isDictionary() || !entry["FilterName"].isString()) return std::nullopt;
        PipelineFilterEntry parsed{*entry["FilterName"].string(), {}};
        auto found = registry().find(parsed.filterName);
        if (found == registry().end()) return std::nullopt;
        const Value& attributes = entry["Attributes"];
        if (attributes.isSomething() && !attributes.isDictionary()) return std::nullopt;
        if (attributes.isDictionary()) {
            for (const auto& [setterName, value] : *attributes.dictionary()) {
                auto setter = found->second.setters.find(setterName);
                if (setter == found->second.setters.end()) return std::nullopt;
                PipelineCall call{setterName, std::monostate{}};
                if (!setterName.empty() && setterName.back() == ':') {
                    if (value.isString()) {
                        auto scalar = parsePipelineArgumentText(*value.string());
                        if (!scalar) return std::nullopt;
                        std::visit([&](auto&& v) { call.argument = v; }, *scalar);
                    } else if (value.isArray()) {
                        std::vector<PipelineScalar> list;
                        for (const Value& item : *value.array()) {
                            auto scalar =
                                item.isString() ? parsePipelineArgumentText(*item.string()) : std::nullopt;
                            if (!scalar) return std::nullopt;
                            list.push_back(*scalar);
                        }
                        call.argument = std::move(list);
                    } else {
                        return std::nullopt;
                    }
                }
                if (kindOf(call.argument) != setter->second.kind) return std::nullopt;
                parsed.calls.push_back(std::move(call));
            }
        }
        entries.push_back(std::move(parsed));
    }
    return entries;
}

std::vector<std::string> pipelineFilterNames() {
    std::vector<std::string> names;
    for (auto& [name, filterClass] : registry()) names.push_back(name);
    return names;
}

}  // namespace detail

// ---- the pipeline ------------------------------------------------------------------------------

GPXFilterPipeline::GPXFilterPipeline(std::vector<Ref<GPXOutput>> filters, const Ref<GPXOutput>& input,
                                     const Ref<GPXInput>& output)
    : filters_(std::move(filters)), input_(input), output_(output) {
    refreshFilters();
}

Ref<GPXFilterPipeline> GPXFilterPipeline::pipelineWithConfiguration(const Value& configuration,
                                                                    const Ref<GPXOutput>& input,
                                                                    const Ref<GPXInput>& output) {
    std::string stringValue;
    auto filters = buildFilters(configuration, &stringValue);
    if (!filters) {
        NSLogLine("Sorry, a parsing error occurred.");
        return nullptr;
    }
    auto pipeline = make<GPXFilterPipeline>(std::move(*filters), input, output);
    std::lock_guard lock(pipeline->mutex_);
    pipeline->stringValue_ = stringValue;
    return pipeline;
}

Ref<GPXFilterPipeline> GPXFilterPipeline::pipelineWithConfigurationFile(const Ref<NSURL>& configurationFile,
                                                                        const Ref<GPXOutput>& input,
                                                                        const Ref<GPXInput>& output) {
    Value configuration;
    if (configurationFile && configurationFile->isFileURL()) {
        if (auto data = NSData::dataWithContentsOfFile(configurationFile->path()))
            configuration = NSPropertyListSerialization::propertyListWithData(*data, 0, nullptr, nullptr);
    }
    return pipelineWithConfiguration(configuration, input, output);
}

bool GPXFilterPipeline::parseConfiguration(const Value& configuration) {
    std::string stringValue;
    auto filters = buildFilters(configuration, &stringValue);
    if (!filters) return false;
    std::lock_guard lock(mutex_);
    filters_ = std::move(*filters);
    stringValue_ = stringValue;
    return true;
}

void GPXFilterPipeline::addFilter(const Ref<GPXOutput>& filter, std::size_t insertIndex) {
    if (!filter) return;
    {
        std::lock_guard lock(mutex_);
        filters_.insert(filters_.begin() + static_cast<long>(std::min(insertIndex, filters_.size())), filter);
    }
    refreshFilters();
}

void GPXFilterPipeline::addFilter(const Ref<GPXOutput>& filter) {
    addFilter(filter, filters().size());
}

void GPXFilterPipeline::replaceFilterAtIndex(std::size_t index, const Ref<GPXOutput>& filter) {
    if (!filter) return;
    {
        std::lock_guard lock(mutex_);
        if (index >= filters_.size()) return;
        filters_[index] = filter;
    }
    refreshFilters();
}

void GPXFilterPipeline::removeFilter(const Ref<GPXOutput>& filter) {
    {
        std::lock_guard lock(mutex_);
        filters_.erase(std::remove(filters_.begin(), filters_.end(), filter), filters_.end());
    }
    refreshFilters();
}

void GPXFilterPipeline::removeFilterAtIndex(std::size_t index) {
    {
        std::lock_guard lock(mutex_);
        if (index >= filters_.size()) return;
        filters_.erase(filters_.begin() + static_cast<long>(index));
    }
    refreshFilters();
}

void GPXFilterPipeline::removeAllFilters() {
    {
        std::lock_guard lock(mutex_);
        filters_.clear();
    }
    refreshFilters();
}

void GPXFilterPipeline::replaceAllFilters(std::vector<Ref<GPXOutput>> newFilters) {
    {
        std::lock_guard lock(mutex_);
        filters_ = std::move(newFilters);
    }
    refreshFilters();
}

void GPXFilterPipeline::refreshFilters() {
    Ref<GPXOutput> previous = input();
    const Ref<GPXInput> tail = output();
    for (auto& filter : filters()) {
        auto asInput = std::dynamic_pointer_cast<GPXInput>(filter);
        if (!asInput) continue;
        if (previous) {
            previous->removeAllTargets();
            previous->addTarget(asInput);
        }
        previous = filter;
    }
    if (!previous) return;
    previous->removeAllTargets();
    if (tail) previous->addTarget(tail);
}

Ref<GPXOutput> GPXFilterPipeline::lastFilter() const {
    std::lock_guard lock(mutex_);
    return filters_.empty() ? nullptr : filters_.back();
}

Ref<UIImage> GPXFilterPipeline::currentFilteredFrame() {
    auto last = lastFilter();
    return last ? last->imageFromCurrentFramebuffer() : nullptr;
}

Ref<UIImage> GPXFilterPipeline::currentFilteredFrameWithOrientation(UIImageOrientation imageOrientation) {
    auto last = lastFilter();
    return last ? last->imageFromCurrentFramebufferWithOrientation(imageOrientation) : nullptr;
}

CGImageRef GPXFilterPipeline::newCGImageFromCurrentFilteredFrame() {
    auto last = lastFilter();
    return last ? last->newCGImageFromCurrentlyProcessedOutput() : nullptr;
}

std::vector<Ref<GPXOutput>> GPXFilterPipeline::filters() const {
    std::lock_guard lock(mutex_);
    return filters_;
}

void GPXFilterPipeline::setFilters(std::vector<Ref<GPXOutput>> filters) {
    std::lock_guard lock(mutex_);
    filters_ = std::move(filters);
}

Ref<GPXOutput> GPXFilterPipeline::input() const {
    std::lock_guard lock(mutex_);
    return input_;
}

void GPXFilterPipeline::setInput(const Ref<GPXOutput>& input) {
    std::lock_guard lock(mutex_);
    input_ = input;
}

Ref<GPXInput> GPXFilterPipeline::output() const {
    std::lock_guard lock(mutex_);
    return output_;
}

void GPXFilterPipeline::setOutput(const Ref<GPXInput>& output) {
    std::lock_guard lock(mutex_);
    output_ = output;
}

std::string GPXFilterPipeline::stringValue() const {
    std::lock_guard lock(mutex_);
    return stringValue_;
}
