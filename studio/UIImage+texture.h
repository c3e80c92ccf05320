#pragma once
// UIImage(texture): cutting one view-angle picture out of a sprite sheet by its frame-table entry.
//
// A frame-table entry reads
//
//   {"filename": "01.png", "frame": {"x","y","w","h"}, "rotated": bool, "trimmed": bool,
//    "spriteSourceSize": {"x","y","w","h"}, "sourceSize": {"w","h"}}
//
// "frame" w and h are the upright picture's size; a rotated picture is stored a quarter turn
// clockwise, so it occupies an h-by-w rectangle of the sheet and is turned back on the way out.
// The sheet is cut in pixels (sheets have scale 1).
//
// A cut picture remembers where it sits in the untrimmed canvas ("spriteSourceSize" x, y) and how
// large that canvas is ("sourceSize"), as associated values; getSourceOrigin / getSourceSize read
// them back, with (0, 0) and the picture's own size for a picture that was not cut from a sheet.
//
// Entries come from outside and are taken one by one: values of the wrong kind read as 0, a
// rectangle reaching past the sheet gives the part inside it, one that is empty, not finite or
// wholly outside gives no picture, and an entry without "spriteSourceSize" or "sourceSize" gives a
// picture carrying no source origin or size.

#include "foundation/Value.h"
#include "graphics/CGGeometry.h"
#include "graphics/UIImage.h"

namespace UIImage_texture {

// The largest canvas side unTrimmedSliceWithFrameInfo draws (a hostile "sourceSize" allocates
// nothing larger).
inline constexpr double kMaximumCanvasSide = 16384;

// The sheet rectangle of the entry: ("frame" x, y, W, H), W and H swapped when rotated.
CGRect sliceFrameWithFrameInfo(const Value& frameInfo);
// "spriteSourceSize" as a rectangle.
CGRect sliceSourceFrameWithFrameInfo(const Value& frameInfo);
// "sourceSize" as a size.
CGSize sliceSourceSizeWithFrameInfo(const Value& frameInfo);
bool rotateInfoWithFrameInfo(const Value& frameInfo);
bool trimInfoWithFrameInfo(const Value& frameInfo);

// The upright picture of the entry, at scale 1, carrying its source origin and size; nil when the
// sheet has no bitmap or the rectangle has nothing inside it.
Ref<UIImage> trimmedSliceWithFrameInfo(const Ref<UIImage>& sheet, const Value& frameInfo);
// A picture of the cut's source size with the upright cut drawn at its source offset (as
// getSourceSize / getSourceOrigin read them); nil when the cut fails or the canvas is empty or too
// large.
Ref<UIImage> unTrimmedSliceWithFrameInfo(const Ref<UIImage>& sheet, const Value& frameInfo);

CGPoint getSourceOrigin(const Ref<UIImage>& image);
CGSize getSourceSize(const Ref<UIImage>& image);

}  // namespace UIImage_texture
