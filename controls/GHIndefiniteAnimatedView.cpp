#include "controls/GHIndefiniteAnimatedView.h"

#include <cmath>

#include "controls/GHProgressHUDResources.h"
#include "foundation/NSMainThreadCheck.h"
#include "graphics/UIBezierPath.h"
#include "uikit/CAAnimation.h"
#include "uikit/UIScreen.h"

void GHIndefiniteAnimatedView::willMoveToSuperview(const Ref<UIView>& newSuperview) {
    if (newSuperview) {
        layoutAnimatedLayer();
    } else {
        dropLayer();
    }
}

void GHIndefiniteAnimatedView::layoutAnimatedLayer() {
    NS_ASSERT_MAIN_THREAD();
    const Ref<CAShapeLayer>& animated = indefiniteAnimatedLayer();
    layer()->addSublayer(animated);
    CGRect b = bounds();
    CGRect layerBounds = animated->bounds();
    animated->setPosition(
        CGPointMake(b.size.width - layerBounds.size.width / 2, b.size.height - layerBounds.size.height / 2));
}

const Ref<CAShapeLayer>& GHIndefiniteAnimatedView::indefiniteAnimatedLayer() {
    if (layer_) return layer_;

    const double c = radius_ + strokeThickness_ / 2 + 5;
    const CGPoint arcCenter = CGPointMake(c, c);
    // Two full turns from twelve o'clock, so stroke fractions below are fractions of a double circle.
    auto path =
        UIBezierPath::bezierPathWithArcCenter(arcCenter, radius_, M_PI * 3 / 2, M_PI / 2 + M_PI * 5, true);

    auto shape = CAShapeLayer::layer();
    shape->setContentsScale(UIScreen::mainScreen()->scale());
    shape->setFrame(CGRectMake(0, 0, c * 2, c * 2));
    shape->setFillColor(UIColor::clearColor()->CGColor());
    if (strokeColor_) shape->setStrokeColor(strokeColor_->CGColor());
    shape->setLineWidth(strokeThickness_);
    shape->setLineCap(kCALineCapRound);
    shape->setLineJoin(kCALineJoinBevel);
    shape->setPath(path->CGPath());

    auto mask = CALayer::layer();
    if (auto image = GHProgressHUDResources::imageNamed("angle-mask")) mask->setContents(image->CGImage());
    mask->setFrame(shape->bounds());
    shape->setMask(mask);

    // The mask turns over the arc; the arc itself stays.
    auto rotation = CABasicAnimation::animationWithKeyPath("transform.rotation");
    rotation->setToValue(Value(static_cast<float>(M_PI * 2)));
    rotation->setDuration(1);
    rotation->setTimingFunction(CAMediaTimingFunction::functionWithName(kCAMediaTimingFunctionLinear));
    rotation->setRemovedOnCompletion(false);
    rotation->setRepeatCount(kCARepeatForever);
    rotation->setFillMode(kCAFillModeForwards);
    rotation->setAutoreverses(false);
    mask->addAnimation(rotation, "rotate");

    // The ends breathe: the visible stroke always covers 0.47 of the double circle.
    auto strokeStart = CABasicAnimation::animationWithKeyPath("strokeStart");
    strokeStart->setFromValue(Value(0.015));
    strokeStart->setToValue(Value(0.515));
    auto strokeEnd = CABasicAnimation::animationWithKeyPath("strokeEnd");
    strokeEnd->setFromValue(Value(0.485));
    strokeEnd->setToValue(Value(0.985));
    auto group = CAAnimationGroup::animation();
    group->setDuration(1);
    group->setRepeatCount(kCARepeatForever);
    group->setRemovedOnCompletion(false);
    group->setTimingFunction(CAMediaTimingFunction::functionWithName(kCAMediaTimingFunctionLinear));
    group->setAnimations({strokeStart, strokeEnd});
    shape->addAnimation(group, "progress");

    layer_ = shape;
    return layer_;
}

void GHIndefiniteAnimatedView::dropLayer() {
    if (layer_) layer_->removeFromSuperlayer();
    layer_ = nullptr;
}

void GHIndefiniteAnimatedView::setFrame(CGRect frame) {
    UIView::setFrame(frame);
    if (superviewPointer()) layoutAnimatedLayer();
}

CGSize GHIndefiniteAnimatedView::sizeThatFits(CGSize) const {
    const double c = radius_ + strokeThickness_ / 2 + 5;
    return CGSizeMake(c * 2, c * 2);
}

void GHIndefiniteAnimatedView::setStrokeThickness(double thickness) {
    NS_ASSERT_MAIN_THREAD();
    strokeThickness_ = thickness;
    if (layer_) layer_->setLineWidth(thickness);
}

void GHIndefiniteAnimatedView::setRadius(double radius) {
    NS_ASSERT_MAIN_THREAD();
    radius_ = radius;
    dropLayer();
    if (superviewPointer()) layoutAnimatedLayer();
}

void GHIndefiniteAnimatedView::setStrokeColor(const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD();
    strokeColor_ = color;
    if (layer_) layer_->setStrokeColor(color ? color->CGColor() : CGColorRef());
}
