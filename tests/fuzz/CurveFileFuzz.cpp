// The curves file reader and what the tone curve makes of its points: a file it accepts has all
// four curves, each point within 0-1 (a little beyond for numbers above 255); a file it refuses has none. The
// prepared curves stay finite whatever the points.

#include <cmath>

#include "FuzzSupport.h"
#include "gpu/filters/GPXACVFile.h"
#include "gpu/filters/GPXCurvesAndLookupFilters.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto file = make<GPXACVFile>(NSData(data, size));
    const GPXACVFile::Points* curves[] = {&file->rgbCompositeCurvePoints(), &file->redCurvePoints(),
                                          &file->greenCurvePoints(), &file->blueCurvePoints()};
    const bool accepted = curves[0]->has_value();
    for (auto* curve : curves) {
        FUZZ_CHECK(curve->has_value() == accepted);
        if (!*curve) continue;
        GPXToneCurveFilter::Points points;
        for (auto& point : **curve) {
            FUZZ_CHECK(point.width >= 0 && point.width <= 257.01 && point.height >= 0 &&
                       point.height <= 257.01);
            points.push_back(CGPointMake(point.width, point.height));
        }
        if (auto prepared = GPXToneCurveFilter::getPreparedSplineCurve(points)) {
            for (float value : *prepared) FUZZ_CHECK(std::isfinite(value));
        }
    }
    return 0;
}
