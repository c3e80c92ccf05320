#pragma once
// Colours.
//
// A CGColor is a colour space plus its components, alpha last: grey colours have two components
// (white, alpha), RGB colours four, CMYK colours five. A UIColor wraps one CGColor made in the
// device grey or device RGB space; the named colours black, white, grey shades and clear are
// grey colours, the others RGB, as on the platform. Components are clamped to 0...1. Both kinds
// are immutable and may be shared between threads.
//
// Drawing code reads any colour as RGBA through CGColor::rgba(): grey w gives (w, w, w), CMYK
// is converted naively (r = (1 - c)(1 - k) and so on).

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "foundation/NSObject.h"
#include "graphics/CGGeometry.h"
#include "graphics/CGImage.h"

class CGColor : public NSObject {
  public:
    // components holds the space's components followed by alpha.
    CGColor(CGColorSpaceRef space, std::vector<CGFloat> components);

    const CGColorSpaceRef& colorSpace() const { return space_; }
    CGColorSpaceModel model() const { return space_ ? space_->model() : kCGColorSpaceModelUnknown; }
    const std::vector<CGFloat>& components() const { return components_; }
    CGFloat alpha() const { return components_.empty() ? 1 : components_.back(); }
    // Red, green, blue, alpha, unpremultiplied.
    std::array<CGFloat, 4> rgba() const;

    std::string className() const override { return "CGColor"; }
    bool isEqual(const NSObject& other) const override;
    std::size_t hash() const override;

  private:
    CGColorSpaceRef space_;
    std::vector<CGFloat> components_;
};
using CGColorRef = Ref<CGColor>;

// Components per colour (without alpha) for a model: 1 grey, 3 RGB, 4 CMYK, 0 otherwise.
std::size_t CGColorSpaceModelComponentCount(CGColorSpaceModel model);

// nullptr for a null space or a space without plain components (pattern, indexed).
// `components` holds the space's component count plus one (alpha) values.
CGColorRef CGColorCreate(const CGColorSpaceRef& space, const CGFloat* components);
CGColorRef CGColorCreateCopyWithAlpha(const CGColorRef& color, CGFloat alpha);
// The components, alpha last; nullptr for a null colour.
const CGFloat* CGColorGetComponents(const CGColorRef& color);
std::size_t CGColorGetNumberOfComponents(const CGColorRef& color);
CGFloat CGColorGetAlpha(const CGColorRef& color);
CGColorSpaceRef CGColorGetColorSpace(const CGColorRef& color);
bool CGColorEqualToColor(const CGColorRef& a, const CGColorRef& b);

class UIColor : public NSObject {
  public:
    explicit UIColor(CGColorRef color);

    static Ref<UIColor> colorWithRed(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha);
    static Ref<UIColor> colorWithWhite(CGFloat white, CGFloat alpha);
    // Hue, saturation and brightness in 0...1 (hue 1 wraps to red).
    static Ref<UIColor> colorWithHue(CGFloat hue, CGFloat saturation, CGFloat brightness, CGFloat alpha);
    // nullptr for a null colour.
    static Ref<UIColor> colorWithCGColor(const CGColorRef& color);

    // Grey colours.
    static Ref<UIColor> blackColor();      // white 0
    static Ref<UIColor> darkGrayColor();   // white 1/3
    static Ref<UIColor> grayColor();       // white 0.5
    static Ref<UIColor> lightGrayColor();  // white 2/3
    static Ref<UIColor> whiteColor();      // white 1
    static Ref<UIColor> clearColor();      // white 0, alpha 0
    // RGB colours.
    static Ref<UIColor> redColor();
    static Ref<UIColor> greenColor();
    static Ref<UIColor> blueColor();
    static Ref<UIColor> cyanColor();
    static Ref<UIColor> yellowColor();
    static Ref<UIColor> magentaColor();
    static Ref<UIColor> orangeColor();  // 1, 0.5, 0
    static Ref<UIColor> purpleColor();  // 0.5, 0, 0.5
    static Ref<UIColor> brownColor();   // 0.6, 0.4, 0.2

    // The same colour with another alpha, in the same colour space.
    Ref<UIColor> colorWithAlphaComponent(CGFloat alpha) const;

    // RGB components; grey colours answer white for all three. False (and the outputs untouched)
    // for colours that have no RGB reading (CMYK and others). Any output may be null.
    bool getRed(CGFloat* red, CGFloat* green, CGFloat* blue, CGFloat* alpha) const;
    // Grey colours answer their white; RGB colours their luma 0.299 r + 0.587 g + 0.114 b.
    bool getWhite(CGFloat* white, CGFloat* alpha) const;
    bool getHue(CGFloat* hue, CGFloat* saturation, CGFloat* brightness, CGFloat* alpha) const;

    const CGColorRef& CGColor() const { return color_; }
    CGFloat alpha() const { return color_->alpha(); }

    // Sets the current graphics context's fill and stroke colour (set), or one of them. Nothing
    // happens without a current context.
    void set() const;
    void setFill() const;
    void setStroke() const;

    std::string className() const override { return "UIColor"; }
    // "UIDeviceRGBColorSpace 1 0 0 1" or "UIDeviceWhiteColorSpace 0.5 1" (components in %g).
    std::string description() const override;
    // Same colour space and components: white 0 is not equal to RGB 0, 0, 0.
    bool isEqual(const NSObject& other) const override;
    std::size_t hash() const override;
    Ref<NSObject> copyObject() const override;

  private:
    CGColorRef color_;
};
