#include "gpu/filters/GPXHSBFilter.h"

#include <cmath>

namespace {

using Matrix = GPXHSBFilter::Matrix;

constexpr float kRedWeight = 0.3f, kGreenWeight = 0.59f, kBlueWeight = 0.11f;

Matrix identity() {
    return {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
}

void rotateX(Matrix& m, float rs, float rc) {
    Matrix step = {{{1, 0, 0, 0}, {0, rc, rs, 0}, {0, -rs, rc, 0}, {0, 0, 0, 1}}};
    GPXHSBFilter::multiplyColorMatrices(m, step, m);
}

void rotateY(Matrix& m, float rs, float rc) {
    Matrix step = {{{rc, 0, -rs, 0}, {0, 1, 0, 0}, {rs, 0, rc, 0}, {0, 0, 0, 1}}};
    GPXHSBFilter::multiplyColorMatrices(m, step, m);
}

void rotateZ(Matrix& m, float rs, float rc) {
    Matrix step = {{{rc, rs, 0, 0}, {-rs, rc, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    GPXHSBFilter::multiplyColorMatrices(m, step, m);
}

void shearZ(Matrix& m, float dx, float dy) {
    Matrix step = {{{1, 0, dx, 0}, {0, 1, dy, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    GPXHSBFilter::multiplyColorMatrices(m, step, m);
}

// The point as a row vector, with w = 1 and the translation row included.
void transformPoint(const Matrix& m, float x, float y, float z, float& tx, float& ty, float& tz) {
    tx = x * m[0][0] + y * m[1][0] + z * m[2][0] + m[3][0];
    ty = x * m[0][1] + y * m[1][1] + z * m[2][1] + m[3][1];
    tz = x * m[0][2] + y * m[1][2] + z * m[2][2] + m[3][2];
}

}  // namespace

void GPXHSBFilter::multiplyColorMatrices(const Matrix& a, const Matrix& b, Matrix& result) {
    Matrix temp{};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            temp[y][x] = a[y][0] * b[0][x] + a[y][1] * b[1][x] + a[y][2] * b[2][x] + a[y][3] * b[3][x];
    result = temp;
}

void GPXHSBFilter::didInit() {
    GPXColorMatrixFilter::didInit();
    reset();
}

void GPXHSBFilter::reset() {
    {
        std::lock_guard lock(matrixMutex_);
        matrix_ = identity();
    }
    updateColorMatrix();
}

void GPXHSBFilter::apply(const Matrix& step) {
    {
        std::lock_guard lock(matrixMutex_);
        // matrix x step: the step applies after the ones before.
        multiplyColorMatrices(matrix_, step, matrix_);
    }
    updateColorMatrix();
}

void GPXHSBFilter::rotateHue(float h) {
    Matrix m = identity();
    const float mag = 0.70710677f;  // sqrt(2) / 2
    rotateX(m, mag, mag);
    const float ys = -0.57735026f, yc = 0.8164966f;
    rotateY(m, ys, yc);
    float lx, ly, lz;
    transformPoint(m, kRedWeight, kGreenWeight, kBlueWeight, lx, ly, lz);
    const float zsx = lx / lz, zsy = ly / lz;
    shearZ(m, zsx, zsy);
    const float angle = static_cast<float>(h * M_PI / 180.0);
    rotateZ(m, std::sin(angle), std::cos(angle));
    shearZ(m, -zsx, -zsy);
    rotateY(m, -ys, yc);
    rotateX(m, -mag, mag);
    apply(m);
}

void GPXHSBFilter::adjustSaturation(float s) {
    const double sat = s, t = 1.0 - sat;
    auto f = [](double v) { return static_cast<float>(v); };
    Matrix step = {{{f(t * kRedWeight + sat), f(t * kRedWeight), f(t * kRedWeight), 0},
                    {f(t * kGreenWeight), f(t * kGreenWeight + sat), f(t * kGreenWeight), 0},
                    {f(t * kBlueWeight), f(t * kBlueWeight), f(t * kBlueWeight + sat), 0},
                    {0, 0, 0, 1}}};
    apply(step);
}

void GPXHSBFilter::adjustBrightness(float b) {
    Matrix step = {{{b, 0, 0, 0}, {0, b, 0, 0}, {0, 0, b, 0}, {0, 0, 0, 1}}};
    apply(step);
}

GPXHSBFilter::Matrix GPXHSBFilter::matrix() const {
    std::lock_guard lock(matrixMutex_);
    return matrix_;
}

void GPXHSBFilter::updateColorMatrix() {
    const Matrix m = matrix();
    // Row k of the filter's matrix makes output channel k: column k of ours.
    GPUMatrix4x4 transposed{{m[0][0], m[1][0], m[2][0], m[3][0]},
                            {m[0][1], m[1][1], m[2][1], m[3][1]},
                            {m[0][2], m[1][2], m[2][2], m[3][2]},
                            {m[0][3], m[1][3], m[2][3], m[3][3]}};
    setColorMatrix(transposed);
}
