#pragma once
// Filters that change where pixels come from: the crop (a normalised region of the input, in the
// input's own orientation), the transform (an affine or 3D transform of the picture's quad,
// aspect-corrected unless told not to, about the centre or the top-left corner) and the Lanczos
// resampling (a separable resize whose taps are spaced by the source's texels; the caller sets the
// output size, for instance with forceProcessingAtSize()).

#include <array>
#include <mutex>

#include "gpu/core/GPXTwoPassTextureSamplingFilter.h"

class GPXCropFilter : public GPXFilter {
  public:
    GPXCropFilter();
    explicit GPXCropFilter(CGRect newCropRegion);
    void didInit() override;

    // Origin and size each within 0-1; anything else is reported and ignored.
    void setCropRegion(CGRect newValue);
    CGRect cropRegion() const;
    void calculateCropTextureCoordinates();
    // The eight corner coordinates in use (bottom-left, bottom-right, top-left, top-right).
    std::array<GLfloat, 8> cropTextureCoordinates();
    CGSize originallySuppliedInputSize();

    void setInputSize(CGSize newSize, long textureIndex) override;
    void setInputRotation(GPURotationMode newInputRotation, long textureIndex) override;
    void newFrameReadyAtTime(CMTime frameTime, long textureIndex) override;
    std::string className() const override { return "GPXCropFilter"; }

  private:
    mutable std::mutex regionMutex_;
    CGRect cropRegion_;
    // On the queue.
    std::array<GLfloat, 8> cropTextureCoordinates_{0, 0, 1, 0, 0, 1, 1, 1};
    CGSize originallySuppliedInputSize_ = CGSizeZero;
};

class GPXTransformFilter : public GPXFilter {
  public:
    GPXTransformFilter();
    void didInit() override;

    void setTransform3D(CATransform3D newValue);
    CATransform3D transform3D() const;
    void setAffineTransform(CGAffineTransform newValue);
    CGAffineTransform affineTransform() const;
    void setIgnoreAspectRatio(bool newValue);
    bool ignoreAspectRatio() const;
    void setAnchorTopLeft(bool newValue);
    bool anchorTopLeft() const;

    // Rows (k/(r-l), 0, 0, tx), (0, k/(t-b), 0, ty), (0, 0, k/(f-n), -(f+n)/(f-n)), (0, 0, 0, 1),
    // with k = 2, or 4 and tx = ty = -1 when anchored at the top-left.
    GPUMatrix4x4 loadOrthoMatrix(GLfloat left, GLfloat right, GLfloat bottom, GLfloat top, GLfloat near,
                                 GLfloat far) const;
    static GPUMatrix4x4 convert3DTransform(const CATransform3D& transform);
    GPUMatrix4x4 orthographicMatrix() const;

    void setupFilterForSize(CGSize filterFrameSize) override;
    void newFrameReadyAtTime(CMTime frameTime, long textureIndex) override;
    std::string className() const override { return "GPXTransformFilter"; }

  private:
    void sendOrthographicMatrix(const GPUMatrix4x4& matrix);

    GLint transformMatrixUniform_ = -1, orthographicMatrixUniform_ = -1;
    mutable std::mutex stateMutex_;  // guards the four below
    CATransform3D transform3D_;
    bool ignoreAspectRatio_ = false;
    bool anchorTopLeft_ = false;
    GPUMatrix4x4 orthographicMatrix_{};
    // On the queue: the quad of the last draw.
    std::array<GLfloat, 8> quad_{};
};

class GPXLanczosResamplingFilter : public GPXTwoPassTextureSamplingFilter {
  public:
    GPXLanczosResamplingFilter();
    void setInputSize(CGSize newSize, long textureIndex) override;
    void setupFilterForSize(CGSize filterFrameSize) override;
    void renderToTextureWithVertices(const GLfloat* vertices, const GLfloat* textureCoordinates) override;
    CGSize originalImageSize();
    void setOriginalImageSize(CGSize newValue);
    std::string className() const override { return "GPXLanczosResamplingFilter"; }

  private:
    CGSize originalImageSize_ = CGSizeZero;  // on the queue
};
