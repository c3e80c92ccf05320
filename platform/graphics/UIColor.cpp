#include "graphics/UIColor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

#include "foundation/NSKeyedArchiver.h"
#include "graphics/CGContext.h"
#include "graphics/UIGraphics.h"

namespace {

CGFloat clamp01(CGFloat v) {
    if (std::isnan(v)) return 0;
    return std::clamp(v, 0.0, 1.0);
}

// One shared space per model; spaces are immutable.
const CGColorSpaceRef& sharedSpace(CGColorSpaceModel model) {
    static const CGColorSpaceRef grey = make<CGColorSpace>(kCGColorSpaceModelMonochrome);
    static const CGColorSpaceRef rgb = make<CGColorSpace>(kCGColorSpaceModelRGB);
    return model == kCGColorSpaceModelMonochrome ? grey : rgb;
}

Ref<UIColor> makeGrey(CGFloat white, CGFloat alpha) {
    return make<UIColor>(make<CGColor>(sharedSpace(kCGColorSpaceModelMonochrome),
                                       std::vector<CGFloat>{clamp01(white), clamp01(alpha)}));
}

Ref<UIColor> makeRGB(CGFloat r, CGFloat g, CGFloat b, CGFloat a) {
    return make<UIColor>(make<CGColor>(sharedSpace(kCGColorSpaceModelRGB),
                                       std::vector<CGFloat>{clamp01(r), clamp01(g), clamp01(b), clamp01(a)}));
}

// Archived as its colour space's model and its components (alpha last), so that a colour comes
// back in the space it was made in: a grey stays grey, and equal to the colour archived.
constexpr char kSpaceKey[] = "UIColorSpaceModel";
constexpr char kComponentsKey[] = "UIColorComponents";

// The spaces a colour is read back in; nullptr for any other.
CGColorSpaceRef archivableSpace(std::int64_t model) {
    switch (model) {
        case kCGColorSpaceModelMonochrome:
        case kCGColorSpaceModelRGB:
            return sharedSpace(static_cast<CGColorSpaceModel>(model));
        case kCGColorSpaceModelCMYK:
            return CGColorSpaceCreateDeviceCMYK();
        default:
            return nullptr;
    }
}

void encodeColor(const NSObject& object, NSCoder& coder) {
    const auto& color = static_cast<const UIColor&>(object).CGColor();
    // Written, it could never be read: the archive fails now rather than the value later.
    if (!archivableSpace(color->model())) {
        coder.failWithError(NSError::errorWithDomain(
            NSCocoaErrorDomain, NSPropertyListWriteInvalidError,
            Dictionary{{NSLocalizedDescriptionKey,
                        std::string("A colour in a colour space that cannot be archived")}}));
        return;
    }
    coder.encodeInt64(static_cast<std::int64_t>(color->model()), kSpaceKey);
    Array components = Array::mutableArray();
    for (CGFloat c : color->components()) components.addObject(Value(static_cast<double>(c)));
    coder.encodeObject(components, kComponentsKey);
}

Ref<NSObject> decodeColor(NSCoder& coder) {
    auto refuse = [&](const std::string& reason) -> Ref<NSObject> {
        coder.failWithError(NSError::errorWithDomain(NSCocoaErrorDomain, NSCoderReadCorruptError,
                                                     Dictionary{{NSLocalizedDescriptionKey, reason}}));
        return nullptr;
    };
    CGColorSpaceRef space = archivableSpace(coder.decodeInt64ForKey(kSpaceKey));
    if (!space) return refuse("A colour in an unknown colour space");
    Value list = coder.decodeObjectOfClass("NSArray", kComponentsKey);
    const Array* components = list.array();
    if (!components || components->count() != CGColorSpaceModelComponentCount(space->model()) + 1)
        return refuse("A colour with the wrong number of components");
    std::vector<CGFloat> values;
    for (const Value& c : *components) {
        if (!c.isNumber() || !std::isfinite(c.doubleValue()))
            return refuse("A colour with a damaged component");
        values.push_back(clamp01(c.doubleValue()));
    }
    return make<UIColor>(make<CGColor>(space, std::move(values)));
}

[[maybe_unused]] const bool colorCodingRegistered = [] {
    NSCodingRegistry::registerClass("UIColor", encodeColor, decodeColor, true);
    return true;
}();

std::string formatComponent(CGFloat v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", v);
    return buffer;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// CGColor

std::size_t CGColorSpaceModelComponentCount(CGColorSpaceModel model) {
    switch (model) {
        case kCGColorSpaceModelMonochrome:
            return 1;
        case kCGColorSpaceModelRGB:
            return 3;
        case kCGColorSpaceModelCMYK:
            return 4;
        case kCGColorSpaceModelLab:
            return 3;
        default:
            return 0;
    }
}

CGColor::CGColor(CGColorSpaceRef space, std::vector<CGFloat> components)
    : space_(std::move(space)), components_(std::move(components)) {}

std::array<CGFloat, 4> CGColor::rgba() const {
    const auto& c = components_;
    switch (model()) {
        case kCGColorSpaceModelMonochrome:
            if (c.size() >= 2) return {c[0], c[0], c[0], c[1]};
            break;
        case kCGColorSpaceModelRGB:
            if (c.size() >= 4) return {c[0], c[1], c[2], c[3]};
            break;
        case kCGColorSpaceModelCMYK:
            if (c.size() >= 5) {
                CGFloat k = 1 - c[3];
                return {(1 - c[0]) * k, (1 - c[1]) * k, (1 - c[2]) * k, c[4]};
            }
            break;
        default:
            break;
    }
    return {0, 0, 0, alpha()};
}

bool CGColor::isEqual(const NSObject& other) const {
    auto o = dynamic_cast<const CGColor*>(&other);
    return o && o->model() == model() && o->components_ == components_;
}

std::size_t CGColor::hash() const {
    std::size_t h = std::hash<int>()(model());
    for (CGFloat v : components_) h = h * 31 + std::hash<CGFloat>()(v);
    return h;
}

CGColorRef CGColorCreate(const CGColorSpaceRef& space, const CGFloat* components) {
    if (!space || !components) return nullptr;
    std::size_t n = CGColorSpaceModelComponentCount(space->model());
    if (n == 0) return nullptr;
    return make<CGColor>(space, std::vector<CGFloat>(components, components + n + 1));
}

CGColorRef CGColorCreateCopyWithAlpha(const CGColorRef& color, CGFloat alpha) {
    if (!color) return nullptr;
    auto components = color->components();
    if (components.empty()) return nullptr;
    components.back() = clamp01(alpha);
    return make<CGColor>(color->colorSpace(), std::move(components));
}

const CGFloat* CGColorGetComponents(const CGColorRef& color) {
    return color ? color->components().data() : nullptr;
}

std::size_t CGColorGetNumberOfComponents(const CGColorRef& color) {
    return color ? color->components().size() : 0;
}

CGFloat CGColorGetAlpha(const CGColorRef& color) {
    return color ? color->alpha() : 0;
}

CGColorSpaceRef CGColorGetColorSpace(const CGColorRef& color) {
    return color ? color->colorSpace() : nullptr;
}

bool CGColorEqualToColor(const CGColorRef& a, const CGColorRef& b) {
    if (!a || !b) return a == b;
    return a->isEqual(*b);
}

// ---------------------------------------------------------------------------------------------
// UIColor

UIColor::UIColor(CGColorRef color) : color_(std::move(color)) {
    if (!color_)
        color_ = make<::CGColor>(sharedSpace(kCGColorSpaceModelMonochrome), std::vector<CGFloat>{0, 0});
}

Ref<UIColor> UIColor::colorWithRed(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha) {
    return makeRGB(red, green, blue, alpha);
}

Ref<UIColor> UIColor::colorWithWhite(CGFloat white, CGFloat alpha) {
    return makeGrey(white, alpha);
}

Ref<UIColor> UIColor::colorWithHue(CGFloat hue, CGFloat saturation, CGFloat brightness, CGFloat alpha) {
    CGFloat h = clamp01(hue), s = clamp01(saturation), v = clamp01(brightness);
    if (s == 0) return makeRGB(v, v, v, alpha);
    CGFloat sector = h * 6;
    if (sector >= 6) sector = 0;
    int i = static_cast<int>(std::floor(sector));
    CGFloat f = sector - i;
    CGFloat p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
    switch (i) {
        case 0:
            return makeRGB(v, t, p, alpha);
        case 1:
            return makeRGB(q, v, p, alpha);
        case 2:
            return makeRGB(p, v, t, alpha);
        case 3:
            return makeRGB(p, q, v, alpha);
        case 4:
            return makeRGB(t, p, v, alpha);
        default:
            return makeRGB(v, p, q, alpha);
    }
}

Ref<UIColor> UIColor::colorWithCGColor(const CGColorRef& color) {
    if (!color) return nullptr;
    return make<UIColor>(color);
}

Ref<UIColor> UIColor::blackColor() {
    return makeGrey(0, 1);
}
Ref<UIColor> UIColor::darkGrayColor() {
    return makeGrey(1.0 / 3.0, 1);
}
Ref<UIColor> UIColor::grayColor() {
    return makeGrey(0.5, 1);
}
Ref<UIColor> UIColor::lightGrayColor() {
    return makeGrey(2.0 / 3.0, 1);
}
Ref<UIColor> UIColor::whiteColor() {
    return makeGrey(1, 1);
}
Ref<UIColor> UIColor::clearColor() {
    return makeGrey(0, 0);
}
Ref<UIColor> UIColor::redColor() {
    return makeRGB(1, 0, 0, 1);
}
Ref<UIColor> UIColor::greenColor() {
    return makeRGB(0, 1, 0, 1);
}
Ref<UIColor> UIColor::blueColor() {
    return makeRGB(0, 0, 1, 1);
}
Ref<UIColor> UIColor::cyanColor() {
    return makeRGB(0, 1, 1, 1);
}
Ref<UIColor> UIColor::yellowColor() {
    return makeRGB(1, 1, 0, 1);
}
Ref<UIColor> UIColor::magentaColor() {
    return makeRGB(1, 0, 1, 1);
}
Ref<UIColor> UIColor::orangeColor() {
    return makeRGB(1, 0.5, 0, 1);
}
Ref<UIColor> UIColor::purpleColor() {
    return makeRGB(0.5, 0, 0.5, 1);
}
Ref<UIColor> UIColor::brownColor() {
    return makeRGB(0.6, 0.4, 0.2, 1);
}

Ref<UIColor> UIColor::colorWithAlphaComponent(CGFloat alpha) const {
    return make<UIColor>(CGColorCreateCopyWithAlpha(color_, alpha));
}

bool UIColor::getRed(CGFloat* red, CGFloat* green, CGFloat* blue, CGFloat* alpha) const {
    auto model = color_->model();
    if (model != kCGColorSpaceModelMonochrome && model != kCGColorSpaceModelRGB) return false;
    auto c = color_->rgba();
    if (red) *red = c[0];
    if (green) *green = c[1];
    if (blue) *blue = c[2];
    if (alpha) *alpha = c[3];
    return true;
}

bool UIColor::getWhite(CGFloat* white, CGFloat* alpha) const {
    const auto& c = color_->components();
    switch (color_->model()) {
        case kCGColorSpaceModelMonochrome:
            if (white) *white = c[0];
            if (alpha) *alpha = c[1];
            return true;
        case kCGColorSpaceModelRGB:
            if (white) *white = 0.299 * c[0] + 0.587 * c[1] + 0.114 * c[2];
            if (alpha) *alpha = c[3];
            return true;
        default:
            return false;
    }
}

bool UIColor::getHue(CGFloat* hue, CGFloat* saturation, CGFloat* brightness, CGFloat* alpha) const {
    CGFloat r, g, b, a;
    if (!getRed(&r, &g, &b, &a)) return false;
    CGFloat maxv = std::max({r, g, b}), minv = std::min({r, g, b}), delta = maxv - minv;
    CGFloat h = 0;
    if (delta > 0) {
        if (maxv == r) {
            h = (g - b) / delta;
            if (h < 0) h += 6;
        } else if (maxv == g) {
            h = (b - r) / delta + 2;
        } else {
            h = (r - g) / delta + 4;
        }
        h /= 6;
    }
    if (hue) *hue = h;
    if (saturation) *saturation = maxv > 0 ? delta / maxv : 0;
    if (brightness) *brightness = maxv;
    if (alpha) *alpha = a;
    return true;
}

void UIColor::set() const {
    setFill();
    setStroke();
}

void UIColor::setFill() const {
    if (auto context = UIGraphicsGetCurrentContext()) CGContextSetFillColorWithColor(context, color_);
}

void UIColor::setStroke() const {
    if (auto context = UIGraphicsGetCurrentContext()) CGContextSetStrokeColorWithColor(context, color_);
}

std::string UIColor::description() const {
    std::string text;
    switch (color_->model()) {
        case kCGColorSpaceModelMonochrome:
            text = "UIDeviceWhiteColorSpace";
            break;
        case kCGColorSpaceModelRGB:
            text = "UIDeviceRGBColorSpace";
            break;
        case kCGColorSpaceModelCMYK:
            text = "UIDeviceCMYKColorSpace";
            break;
        default:
            text = "UIColorSpace";
            break;
    }
    for (CGFloat v : color_->components()) text += " " + formatComponent(v);
    return text;
}

bool UIColor::isEqual(const NSObject& other) const {
    auto o = dynamic_cast<const UIColor*>(&other);
    return o && o->color_->isEqual(*color_);
}

std::size_t UIColor::hash() const {
    return color_->hash();
}

Ref<NSObject> UIColor::copyObject() const {
    return make<UIColor>(color_);
}
