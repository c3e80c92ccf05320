#pragma once
// Screenshots: a view tree (a window, or any view) rendered to a picture with cairo, the path that
// renderInContext: and the app's photo compositing share. What is drawn is the current model
// state (see CALayer::renderInContext); pending layout is not run first, so callers that want the
// picture a user would see pump the main run loop (or call layoutIfNeeded) before.

#include <string>

#include "graphics/UIImage.h"
#include "uikit/UIView.h"

class UIWindowRenderer {
  public:
    // The view's bounds at the scale (0: the screen's); nullptr for an empty view.
    static Ref<UIImage> imageOfView(const Ref<UIView>& view, CGFloat scale = 0, bool opaque = false);
    // What the phone's screen shows: every visible window in window-level order (ties in the order
    // they were ordered in), placed by its frame on a screen-sized picture over black, with the
    // visible alerts and action sheets (which have no windows of their own) drawn at the alert
    // level over a dimmed screen. Screenshots of the app take this, not the key window alone.
    static Ref<UIImage> imageOfScreen(CGFloat scale = 0);
    // Writes the picture as PNG; false when nothing could be rendered or written.
    static bool writePNG(const Ref<UIImage>& image, const std::string& path);
};
