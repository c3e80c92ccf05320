#pragma once
// UIImageSacle: shows the picture of an image view full screen. The picture grows from its place
// on screen to the screen's width, centred vertically on a black backdrop in the key window; a tap
// on the backdrop shrinks it back and removes the backdrop.
//
// The frame the picture came from is remembered by the class, so one viewer is open at a time: a
// second one opened before the first closes makes both close to the second one's origin.
// Main thread only.

#include "foundation/NSObject.h"
#include "graphics/CGGeometry.h"

class UIImageView;
class UIGestureRecognizer;

class UIImageSacle : public NSObject {
  public:
    std::string className() const override { return "UIImageSacle"; }

    // Opens the viewer for the view's picture. A view without a picture, or whose picture has no
    // width, or an application without a key window, opens nothing.
    static void showImage(const Ref<UIImageView>& imageView);
    // Closes the viewer whose backdrop is the recogniser's view (the backdrop's tap action).
    static void hideImage(const Ref<UIGestureRecognizer>& tap);

    // Kept for callers that set it; the viewer itself works from the class-level frame.
    CGRect oldframe() const { return oldframe_; }
    void setOldframe(CGRect frame) { oldframe_ = frame; }

  private:
    CGRect oldframe_ = CGRectZero;
};
