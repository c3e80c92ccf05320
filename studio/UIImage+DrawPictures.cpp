#include "studio/UIImage+DrawPictures.h"

#include <cmath>

namespace UIImage_DrawPictures {

namespace {

// Rounds to single precision. The store keeps the optimiser from folding a rounding into the
// double arithmetic around it, which it otherwise does for a product rounded and widened again.
inline float f(double x) {
    volatile float rounded = static_cast<float>(x);
    return rounded;
}

bool isWide(CGSize imageSize, CGSize imageViewSize) {
    float viewRatio = f(imageViewSize.width / imageViewSize.height);
    float imageRatio = f(imageSize.width / imageSize.height);
    return viewRatio > imageRatio;
}

float fitRate(CGSize image, CGSize view) {
    return isWide(image, view) ? f(image.height / view.height) : f(image.width / view.width);
}

float fillRate(CGSize image, CGSize view) {
    return isWide(image, view) ? f(image.width / view.width) : f(image.height / view.height);
}

CGSize scaled(CGSize size, float rate) {
    return CGSizeMake(f(size.width) * rate, f(size.height) * rate);
}

// Bands left and right: the fitted photo is wider than the view by twice the (negative) offset.
CGPoint mapAcrossHeight(CGSize image, CGSize view, CGPoint p) {
    float cx = f((f(image.width * (view.height / image.height)) - view.width) * 0.5);
    double k = image.height / view.height;
    return CGPointMake(f(k * f(p.x + cx)), f(k * f(p.y)));
}

}  // namespace

float getScaleRateWithImageSize(CGSize imageSize, CGSize imageViewSize, long contentMode) {
    return contentMode == 2 ? fillRate(imageSize, imageViewSize) : fitRate(imageSize, imageViewSize);
}

float getScaleRateWithImageSize(const Ref<UIImage>&, CGSize imageSize, CGSize imageViewSize) {
    return fillRate(imageSize, imageViewSize);
}

CGPoint getTranslatePositionWithImageSize(CGSize imageSize, CGSize imageViewSize, CGPoint originPosition,
                                          long contentModle) {
    if (contentModle == 2) return mapAcrossHeight(imageSize, imageViewSize, originPosition);
    if (isWide(imageSize, imageViewSize)) return mapAcrossHeight(imageSize, imageViewSize, originPosition);
    // Bands top and bottom.
    float cy =
        f((f(imageSize.height * (imageViewSize.width / imageSize.width)) - imageViewSize.height) * 0.5);
    double k = imageSize.width / imageViewSize.width;
    return CGPointMake(f(k * f(originPosition.x)), f(k * f(originPosition.y + cy)));
}

CGPoint getTranslatePositionWithImageSize(const Ref<UIImage>&, CGSize imageSize, CGSize imageViewSize,
                                          CGPoint originPosition) {
    return mapAcrossHeight(imageSize, imageViewSize, originPosition);
}

CGSize getTranslateSizeWithImageSize(CGSize imageSize, CGSize imageViewSize, CGSize originSize,
                                     long contentMode) {
    return scaled(originSize, getScaleRateWithImageSize(imageSize, imageViewSize, contentMode));
}

CGSize getTranslateSizeWithImageSize(CGSize imageSize, CGSize imageViewSize, CGSize originSize) {
    return scaled(originSize, fillRate(imageSize, imageViewSize));
}

float halfDiagonalLengthWithWidth(float width, float height) {
    float quarterSum =
        f(static_cast<double>(width * width) * 0.25 + static_cast<double>(height * height) * 0.25);
    return std::sqrt(quarterSum);
}

float programWithWidth(float width, float height) {
    float x = f(-0.5 * width + 0);
    return std::acos(x / halfDiagonalLengthWithWidth(width, height));
}

CGPoint getTranslateCornerPositionWithScaleRate(float scaleRate, CGSize layerSize, float transformAngle) {
    float w = f(layerSize.width), h = f(layerSize.height);
    float radius = halfDiagonalLengthWithWidth(w, h) * scaleRate;
    float phi = programWithWidth(w, h) - transformAngle;
    return CGPointMake(radius * std::cos(phi), -(radius * std::sin(phi)));
}

}  // namespace UIImage_DrawPictures
