#pragma once
// A text shadow: colour, offset and blur radius. The platform class of this name is missing from
// the platform layer, and only the status-bar overlay's styles use it, so it lives here for now.

#include "foundation/NSObject.h"
#include "graphics/CGGeometry.h"
#include "graphics/UIColor.h"

class NSShadow : public NSObject {
  public:
    NSShadow() = default;
    std::string className() const override { return "NSShadow"; }

    // (0, -3) until set.
    CGSize shadowOffset() const { return shadowOffset_; }
    void setShadowOffset(CGSize offset) { shadowOffset_ = offset; }
    CGFloat shadowBlurRadius() const { return shadowBlurRadius_; }
    void setShadowBlurRadius(CGFloat radius) { shadowBlurRadius_ = radius < 0 ? 0 : radius; }
    // Black at a third opacity when none was set.
    Ref<UIColor> shadowColor() const {
        return shadowColor_ ? shadowColor_ : UIColor::colorWithWhite(0, 1.0 / 3);
    }
    void setShadowColor(const Ref<UIColor>& color) { shadowColor_ = color; }

  private:
    CGSize shadowOffset_{0, -3};
    CGFloat shadowBlurRadius_ = 0;
    Ref<UIColor> shadowColor_;
};
