#pragma once
// Gradients: colour stops at locations 0...1, drawn by CGContextDrawLinearGradient and
// CGContextDrawRadialGradient. Stops are kept as unpremultiplied RGBA whatever space they were
// given in, sorted by location. Immutable once made.

#include <array>
#include <cstddef>
#include <vector>

#include "foundation/NSObject.h"
#include "graphics/CGImage.h"
#include "graphics/UIColor.h"

class CGGradient : public NSObject {
  public:
    struct Stop {
        CGFloat location;
        std::array<CGFloat, 4> rgba;
    };
    CGGradient(CGColorSpaceRef space, std::vector<Stop> stops);

    const CGColorSpaceRef& colorSpace() const { return space_; }
    const std::vector<Stop>& stops() const { return stops_; }
    std::string className() const override { return "CGGradient"; }

  private:
    CGColorSpaceRef space_;
    std::vector<Stop> stops_;
};
using CGGradientRef = Ref<CGGradient>;

// `components` holds count colours of the space's component count plus alpha each. Without
// locations the stops are spread evenly from 0 to 1 (a single stop sits at 0). nullptr for a null
// space, no colours or a space without plain components.
CGGradientRef CGGradientCreateWithColorComponents(const CGColorSpaceRef& space, const CGFloat* components,
                                                  const CGFloat* locations, std::size_t count);
// The colours may be in any space; null colours are refused (nullptr).
CGGradientRef CGGradientCreateWithColors(const CGColorSpaceRef& space, const std::vector<CGColorRef>& colors,
                                         const CGFloat* locations = nullptr);

using CGGradientDrawingOptions = std::uint32_t;
enum : std::uint32_t {
    kCGGradientDrawsBeforeStartLocation = 1u << 0,
    kCGGradientDrawsAfterEndLocation = 1u << 1,
};
