#pragma once
// A curves file ("acv"): big-endian 16-bit numbers, a version, a curve count, then per curve a
// point count and (output, input) pairs of 0-255. The first four curves are the composite RGB,
// red, green and blue curves; points are kept as (input, output) in 0-1.
//
// The reader checks every read against the data: an empty file, one with fewer than four curves
// or one whose counts run past its end leaves all four point lists absent (and logs why), so the
// tone curve then has nothing to use.

#include <optional>
#include <vector>

#include "foundation/NSData.h"
#include "foundation/NSObject.h"
#include "graphics/CGGeometry.h"

class GPXACVFile : public NSObject {
  public:
    using Points = std::optional<std::vector<CGSize>>;

    explicit GPXACVFile(const NSData& data);

    std::int16_t version() const { return version_; }
    std::int16_t totalCurves() const { return totalCurves_; }
    const Points& rgbCompositeCurvePoints() const { return rgbCompositeCurvePoints_; }
    const Points& redCurvePoints() const { return redCurvePoints_; }
    const Points& greenCurvePoints() const { return greenCurvePoints_; }
    const Points& blueCurvePoints() const { return blueCurvePoints_; }
    void setRgbCompositeCurvePoints(Points points) { rgbCompositeCurvePoints_ = std::move(points); }
    void setRedCurvePoints(Points points) { redCurvePoints_ = std::move(points); }
    void setGreenCurvePoints(Points points) { greenCurvePoints_ = std::move(points); }
    void setBlueCurvePoints(Points points) { blueCurvePoints_ = std::move(points); }

    std::string className() const override { return "GPXACVFile"; }

  private:
    std::int16_t version_ = 0;
    std::int16_t totalCurves_ = 0;
    Points rgbCompositeCurvePoints_, redCurvePoints_, greenCurvePoints_, blueCurvePoints_;
};
