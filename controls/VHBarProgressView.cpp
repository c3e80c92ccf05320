#include "controls/VHBarProgressView.h"

#include <cmath>

#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSMainThreadCheck.h"
#include "graphics/UIGraphics.h"

namespace {
const char* const kObservedKeys[] = {"lineColor", "progressRemainingColor", "progressColor", "progress"};
}

VHBarProgressView::VHBarProgressView() : VHBarProgressView(CGRectMake(0, 0, 120, 20)) {}

VHBarProgressView::VHBarProgressView(CGRect frame) : UIView(frame) {
    progress_ = 0;
    lineColor_ = UIColor::whiteColor();
    progressColor_ = UIColor::whiteColor();
    progressRemainingColor_ = UIColor::clearColor();
    setBackgroundColor(UIColor::clearColor());
    setOpaque(false);
    registerForKVO();
}

VHBarProgressView::~VHBarProgressView() {
    unregisterFromKVO();
}

void VHBarProgressView::registerForKVO() {
    for (const char* key : kObservedKeys) {
        observations_.push_back(detail::addObservationBlock(
            *this, key, NSKeyValueObservingOptionNew,
            [this](const Ref<NSObject>&, const Dictionary&) { setNeedsDisplay(); }));
    }
}

void VHBarProgressView::unregisterFromKVO() {
    for (auto id : observations_) detail::removeObservation(*this, id);
    observations_.clear();
}

void VHBarProgressView::setProgress(float progress) {
    KVO::assign(*this, "progress", progress_, progress);
}

void VHBarProgressView::setLineColor(const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD();
    KVO::assign(*this, "lineColor", lineColor_, color);
}

void VHBarProgressView::setProgressRemainingColor(const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD();
    KVO::assign(*this, "progressRemainingColor", progressRemainingColor_, color);
}

void VHBarProgressView::setProgressColor(const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD();
    KVO::assign(*this, "progressColor", progressColor_, color);
}

Value VHBarProgressView::valueForKey(const std::string& key) const {
    if (key == "progress") return Value(progress_);
    if (key == "lineColor") return Value(lineColor_);
    if (key == "progressRemainingColor") return Value(progressRemainingColor_);
    if (key == "progressColor") return Value(progressColor_);
    return UIView::valueForKey(key);
}

namespace {

void setFill(const CGContextRef& context, const Ref<UIColor>& color) {
    if (color) CGContextSetFillColorWithColor(context, color->CGColor());
}

void setStroke(const CGContextRef& context, const Ref<UIColor>& color) {
    if (color) CGContextSetStrokeColorWithColor(context, color->CGColor());
}

// The outline of the bar, inset by 2 points, with caps of radius r.
void addOutline(const CGContextRef& c, CGFloat w, CGFloat h, float r) {
    CGContextMoveToPoint(c, 2, h / 2);
    CGContextAddArcToPoint(c, 2, 2, r + 2, 2, r);
    CGContextAddLineToPoint(c, w - r - 2, 2);
    CGContextAddArcToPoint(c, w - 2, 2, w - 2, h / 2, r);
    CGContextAddArcToPoint(c, w - 2, h - 2, w - r - 2, h - 2, r);
    CGContextAddLineToPoint(c, r + 2, h - 2);
    CGContextAddArcToPoint(c, 2, h - 2, 2, h / 2, r);
}

}  // namespace

void VHBarProgressView::drawRect(CGRect rect) {
    CGContextRef context = UIGraphicsGetCurrentContext();
    if (!context) return;
    const CGFloat w = rect.size.width;
    const CGFloat h = rect.size.height;

    // Outline and track.
    CGContextSetLineWidth(context, 2);
    setStroke(context, lineColor_);
    setFill(context, progressRemainingColor_);
    const float radius = static_cast<float>((h / 2) - 2);
    addOutline(context, w, h, radius);
    CGContextFillPath(context);
    addOutline(context, w, h, radius);
    CGContextStrokePath(context);

    // The filled part.
    setFill(context, progressColor_);
    const float q = radius - 2;
    const float amount = static_cast<float>(w) * progress_;

    if (amount <= 0) return;
    if (amount < q + 4) {
        // Inside the left cap: the whole cap.
        CGContextMoveToPoint(context, 4, h / 2);
        CGContextAddArcToPoint(context, 4, 4, q + 4, 4, q);
        CGContextAddLineToPoint(context, q + 4, h / 2);
        CGContextMoveToPoint(context, 4, h / 2);
        CGContextAddArcToPoint(context, 4, h - 4, q + 4, h - 4, q);
        CGContextAddLineToPoint(context, q + 4, h / 2);
        CGContextFillPath(context);
    } else if (amount <= w - q - 4) {
        // The straight middle.
        CGContextMoveToPoint(context, 4, h / 2);
        CGContextAddArcToPoint(context, 4, 4, q + 4, 4, q);
        CGContextAddLineToPoint(context, amount, 4);
        CGContextAddLineToPoint(context, amount, q + 4);
        CGContextMoveToPoint(context, 4, h / 2);
        CGContextAddArcToPoint(context, 4, h - 4, q + 4, h - 4, q);
        CGContextAddLineToPoint(context, amount, h - 4);
        CGContextAddLineToPoint(context, amount, q + 4);
        CGContextFillPath(context);
    } else {
        // Inside the right cap: follow its curve.
        const float x = amount - static_cast<float>(w - q - 4);
        float angle = std::acos(x / q);
        if (std::isnan(angle)) angle = 0;
        CGContextMoveToPoint(context, 4, h / 2);
        CGContextAddArcToPoint(context, 4, 4, q + 4, 4, q);
        CGContextAddLineToPoint(context, w - q - 4, 4);
        CGContextAddArc(context, w - q - 4, h / 2, q, M_PI, -angle, 0);
        CGContextAddLineToPoint(context, amount, h / 2);
        CGContextMoveToPoint(context, 4, h / 2);
        CGContextAddArcToPoint(context, 4, h - 4, q + 4, h - 4, q);
        CGContextAddLineToPoint(context, w - q - 4, h - 4);
        CGContextAddArc(context, w - q - 4, h / 2, q, -M_PI, angle, 1);
        CGContextAddLineToPoint(context, amount, h / 2);
        CGContextFillPath(context);
    }
}
