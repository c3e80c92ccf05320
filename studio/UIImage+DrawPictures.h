#pragma once
// UIImage(DrawPictures): where a sticker placed over a photo on screen lands in the photo's own
// pixels. The screen view shows the whole photo aspect-fit (letterboxed, the default) or, for
// content mode 2, aspect-fill.
//
// The arithmetic mixes doubles with values rounded to single precision at fixed places; composed
// photos are compared pixel by pixel, so those places are kept exactly. "Wide" below means the
// view is relatively wider than the photo (its width-to-height ratio, in single precision, is
// larger), so a fitted photo fills the view's height and leaves bands left and right.

#include "graphics/CGGeometry.h"
#include "graphics/UIImage.h"

namespace UIImage_DrawPictures {

// Photo pixels per view point: aspect-fit for any mode but 2, aspect-fill for 2.
float getScaleRateWithImageSize(CGSize imageSize, CGSize imageViewSize, long contentMode);
// The aspect-fill rate (an instance method; the receiver is not read).
float getScaleRateWithImageSize(const Ref<UIImage>& self, CGSize imageSize, CGSize imageViewSize);

// A point of the view in photo pixels.
CGPoint getTranslatePositionWithImageSize(CGSize imageSize, CGSize imageViewSize, CGPoint originPosition,
                                          long contentModle);
// The aspect-fill form (an instance method; the receiver is not read). It always maps as for a
// wide view, whatever the photo's shape.
CGPoint getTranslatePositionWithImageSize(const Ref<UIImage>& self, CGSize imageSize, CGSize imageViewSize,
                                          CGPoint originPosition);

// A size of the view in photo pixels.
CGSize getTranslateSizeWithImageSize(CGSize imageSize, CGSize imageViewSize, CGSize originSize,
                                     long contentMode);
// The aspect-fill form.
CGSize getTranslateSizeWithImageSize(CGSize imageSize, CGSize imageViewSize, CGSize originSize);

// The offset from a rectangle's centre to its top-left corner once it is rotated by
// transformAngle (radians, about its centre, y pointing down) and scaled by scaleRate.
CGPoint getTranslateCornerPositionWithScaleRate(float scaleRate, CGSize layerSize, float transformAngle);
// The angle (between pi/2 and pi) of the top-left corner of a width x height rectangle, seen from
// its centre with y pointing up.
float programWithWidth(float width, float height);
// Half the diagonal of a width x height rectangle.
float halfDiagonalLengthWithWidth(float width, float height);

}  // namespace UIImage_DrawPictures
