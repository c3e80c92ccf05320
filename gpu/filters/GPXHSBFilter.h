#pragma once
// A colour matrix built up from hue rotations, saturation changes and brightness scalings, each
// applied on top of the ones before, until reset(). The matrix is in the row-vector convention
// (entry [i][j] is the weight of input channel i in output channel j) with the luminance weights
// (0.3, 0.59, 0.11); the colour-matrix filter gets its transpose after every change.

#include <mutex>

#include "gpu/filters/GPXColorAdjustmentFilters.h"

class GPXHSBFilter : public GPXColorMatrixFilter {
  public:
    using Matrix = std::array<std::array<float, 4>, 4>;

    GPXHSBFilter() = default;
    void didInit() override;

    void reset();
    // Degrees about the grey axis, keeping luminance.
    void rotateHue(float h);
    // 1 keeps colours, 0 makes grey, above 1 saturates.
    void adjustSaturation(float s);
    void adjustBrightness(float b);

    Matrix matrix() const;
    // The product a x b (computed into a temporary, so the result may be either operand).
    static void multiplyColorMatrices(const Matrix& a, const Matrix& b, Matrix& result);

    std::string className() const override { return "GPXHSBFilter"; }

  private:
    void updateColorMatrix();
    void apply(const Matrix& step);

    mutable std::mutex matrixMutex_;
    Matrix matrix_{};
};
