#include "controls/VHRoundProgressView.h"

#include <cmath>

#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSProcessInfo.h"
#include "graphics/UIBezierPath.h"
#include "graphics/UIGraphics.h"

namespace {
const char* const kObservedKeys[] = {"progressTintColor", "backgroundTintColor", "progress", "annular"};
}

VHRoundProgressView::VHRoundProgressView() : VHRoundProgressView(CGRectMake(0, 0, 37, 37)) {}

VHRoundProgressView::VHRoundProgressView(CGRect frame) : UIView(frame) {
    setBackgroundColor(UIColor::clearColor());
    setOpaque(false);
    progressTintColor_ = UIColor::colorWithWhite(1, 1);
    backgroundTintColor_ = UIColor::colorWithWhite(1, 0.1);
    registerForKVO();
}

VHRoundProgressView::~VHRoundProgressView() {
    unregisterFromKVO();
}

void VHRoundProgressView::registerForKVO() {
    for (const char* key : kObservedKeys) {
        observations_.push_back(detail::addObservationBlock(
            *this, key, NSKeyValueObservingOptionNew,
            [this](const Ref<NSObject>&, const Dictionary&) { setNeedsDisplay(); }));
    }
}

void VHRoundProgressView::unregisterFromKVO() {
    for (auto id : observations_) detail::removeObservation(*this, id);
    observations_.clear();
}

void VHRoundProgressView::setProgress(float progress) {
    KVO::assign(*this, "progress", progress_, progress);
}

void VHRoundProgressView::setProgressTintColor(const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD();
    KVO::assign(*this, "progressTintColor", progressTintColor_, color);
}

void VHRoundProgressView::setBackgroundTintColor(const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD();
    KVO::assign(*this, "backgroundTintColor", backgroundTintColor_, color);
}

void VHRoundProgressView::setAnnular(bool annular) {
    NS_ASSERT_MAIN_THREAD();
    KVO::assign(*this, "annular", annular_, annular);
}

Value VHRoundProgressView::valueForKey(const std::string& key) const {
    if (key == "progress") return Value(progress_);
    if (key == "progressTintColor") return Value(progressTintColor_);
    if (key == "backgroundTintColor") return Value(backgroundTintColor_);
    if (key == "annular") return Value(annular_);
    return UIView::valueForKey(key);
}

void VHRoundProgressView::drawRect(CGRect) {
    CGRect allRect = bounds();
    CGRect circleRect = CGRectInset(allRect, 2.0, 2.0);
    CGContextRef context = UIGraphicsGetCurrentContext();
    if (!context) return;
    const float pi = static_cast<float>(M_PI);
    const float startAngle = -(pi / 2);
    const float endAngle = (progress_ * 2 * pi) + startAngle;
    CGPoint center = CGPointMake(allRect.size.width / 2, allRect.size.height / 2);

    if (annular_) {
        // The thin ring of later systems; earlier ones drew a wider one with round caps.
        bool earlySystem = kCFCoreFoundationVersionNumber < 847.2;
        CGFloat lineWidth = earlySystem ? 5 : 2;
        CGFloat radius = (allRect.size.width - lineWidth) / 2;

        auto track = UIBezierPath::bezierPath();
        track->setLineWidth(lineWidth);
        track->setLineCapStyle(kCGLineCapButt);
        track->addArcWithCenter(center, radius, startAngle, 2 * pi + startAngle, true);
        if (backgroundTintColor_) backgroundTintColor_->set();
        track->stroke();

        auto arc = UIBezierPath::bezierPath();
        arc->setLineCapStyle(earlySystem ? kCGLineCapRound : kCGLineCapSquare);
        arc->setLineWidth(lineWidth);
        arc->addArcWithCenter(center, radius, startAngle, endAngle, true);
        if (progressTintColor_) progressTintColor_->set();
        arc->stroke();
        return;
    }

    if (progressTintColor_) progressTintColor_->setStroke();
    if (backgroundTintColor_) backgroundTintColor_->setFill();
    CGContextSetLineWidth(context, 2.0);
    CGContextFillEllipseInRect(context, circleRect);
    CGContextStrokeEllipseInRect(context, circleRect);

    CGFloat radius = (allRect.size.width - 4) / 2;
    if (progressTintColor_) progressTintColor_->setFill();
    CGContextMoveToPoint(context, center.x, center.y);
    CGContextAddArc(context, center.x, center.y, radius, startAngle, endAngle, 0);
    CGContextClosePath(context);
    CGContextFillPath(context);
}
