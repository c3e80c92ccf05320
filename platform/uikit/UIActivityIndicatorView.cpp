#include "uikit/UIActivityIndicatorView.h"

#include <cmath>

#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSMainThreadCheck.h"
#include "graphics/UIBezierPath.h"
#include "graphics/UIGraphics.h"

CGFloat UIActivityIndicatorView::sizeForStyle(UIActivityIndicatorViewStyle style) {
    return style == UIActivityIndicatorViewStyleWhiteLarge ? 37 : 20;
}

UIActivityIndicatorView::UIActivityIndicatorView(UIActivityIndicatorViewStyle style)
    : UIView(CGRectMake(0, 0, sizeForStyle(style), sizeForStyle(style))), style_(style) {
    setOpaque(false);
    setUserInteractionEnabled(false);
    setHidden(true);
}

UIActivityIndicatorView::UIActivityIndicatorView(CGRect frame)
    : UIView(frame), style_(UIActivityIndicatorViewStyleWhite) {
    setOpaque(false);
    setUserInteractionEnabled(false);
    setHidden(true);
}

void UIActivityIndicatorView::setActivityIndicatorViewStyle(UIActivityIndicatorViewStyle style) {
    NS_ASSERT_MAIN_THREAD();
    style_ = style;
    const CGPoint c = center();
    const CGFloat side = sizeForStyle(style);
    setBounds(CGRectMake(0, 0, side, side));
    setCenter(c);
    setNeedsDisplay();
}

Ref<UIColor> UIActivityIndicatorView::color() const {
    if (color_) return color_;
    return style_ == UIActivityIndicatorViewStyleGray ? UIColor::grayColor() : UIColor::whiteColor();
}

void UIActivityIndicatorView::setColor(const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD();
    color_ = color;
    setNeedsDisplay();
}

void UIActivityIndicatorView::setHidesWhenStopped(bool hides) {
    NS_ASSERT_MAIN_THREAD();
    hidesWhenStopped_ = hides;
    if (!animating_) setHidden(hides);
}

void UIActivityIndicatorView::startAnimating() {
    NS_ASSERT_MAIN_THREAD();
    if (animating_) return;
    KVO::assign(*this, "animating", animating_, true);
    setHidden(false);
}

void UIActivityIndicatorView::stopAnimating() {
    NS_ASSERT_MAIN_THREAD();
    if (!animating_) return;
    KVO::assign(*this, "animating", animating_, false);
    if (hidesWhenStopped_) setHidden(true);
}

CGSize UIActivityIndicatorView::sizeThatFits(CGSize) const {
    const CGFloat side = sizeForStyle(style_);
    return {side, side};
}

void UIActivityIndicatorView::drawRect(CGRect rect) {
    if (!UIGraphicsGetCurrentContext()) return;
    const CGRect b = bounds();
    const CGFloat side = std::min(b.size.width, b.size.height);
    const CGPoint c{CGRectGetMidX(b), CGRectGetMidY(b)};
    const CGFloat outer = side / 2, inner = side / 4;
    const Ref<UIColor> base = color();
    for (int i = 0; i < 12; ++i) {
        const double angle = i * M_PI / 6 - M_PI / 2;
        auto spoke = UIBezierPath::bezierPath();
        spoke->moveToPoint({c.x + inner * std::cos(angle), c.y + inner * std::sin(angle)});
        spoke->addLineToPoint({c.x + outer * std::cos(angle), c.y + outer * std::sin(angle)});
        spoke->setLineWidth(side / 10);
        spoke->setLineCapStyle(kCGLineCapRound);
        base->colorWithAlphaComponent(base->alpha() * (1 - i / 14.0))->setStroke();
        spoke->stroke();
    }
}

Value UIActivityIndicatorView::valueForKey(const std::string& key) const {
    if (key == "animating") return Value(animating_);
    return UIView::valueForKey(key);
}
