#include "uikit/UIProgressView.h"

#include <algorithm>
#include <cmath>

#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSMainThreadCheck.h"
#include "graphics/UIGraphics.h"

UIProgressView::UIProgressView() : UIProgressView(CGRectZero) {}

UIProgressView::UIProgressView(CGRect frame) : UIView(frame) {
    setOpaque(false);
}

UIProgressView::UIProgressView(UIProgressViewStyle style) : UIProgressView(CGRectZero) {
    style_ = style;
    setBounds(CGRectMake(0, 0, 0, style == UIProgressViewStyleBar ? 3 : 2));
}

void UIProgressView::setProgressViewStyle(UIProgressViewStyle style) {
    NS_ASSERT_MAIN_THREAD();
    style_ = style;
    invalidateIntrinsicContentSize();
    setNeedsDisplay();
}

void UIProgressView::setProgress(float progress) {
    NS_ASSERT_MAIN_THREAD();
    setProgress(progress, false);
}

void UIProgressView::setProgress(float progress, bool animated) {
    NS_ASSERT_MAIN_THREAD();
    if (std::isnan(progress)) progress = 0;
    lastAnimated_ = animated;
    KVO::assign(*this, "progress", progress_, std::clamp(progress, 0.0f, 1.0f));
    setNeedsDisplay();
}

void UIProgressView::setProgressTintColor(const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD();
    progressTintColor_ = color;
    setNeedsDisplay();
}

void UIProgressView::setTrackTintColor(const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD();
    trackTintColor_ = color;
    setNeedsDisplay();
}

void UIProgressView::setProgressImage(const Ref<UIImage>& image) {
    NS_ASSERT_MAIN_THREAD();
    progressImage_ = image;
    setNeedsDisplay();
}

void UIProgressView::setTrackImage(const Ref<UIImage>& image) {
    NS_ASSERT_MAIN_THREAD();
    trackImage_ = image;
    setNeedsDisplay();
}

CGSize UIProgressView::sizeThatFits(CGSize size) const {
    return {size.width > 0 ? size.width : bounds().size.width, style_ == UIProgressViewStyleBar ? 3.0 : 2.0};
}

CGSize UIProgressView::intrinsicContentSize() const {
    return {UIViewNoIntrinsicMetric, style_ == UIProgressViewStyleBar ? 3.0 : 2.0};
}

void UIProgressView::drawRect(CGRect rect) {
    if (!UIGraphicsGetCurrentContext()) return;
    const CGRect b = bounds();
    if (trackImage_) {
        trackImage_->drawInRect(b);
    } else {
        (trackTintColor_ ? trackTintColor_ : UIColor::colorWithWhite(0.72, 1))->setFill();
        UIRectFill(b);
    }
    const CGRect filled{b.origin, {b.size.width * progress_, b.size.height}};
    if (filled.size.width <= 0) return;
    if (progressImage_) {
        progressImage_->drawInRect(filled);
    } else {
        (progressTintColor_ ? progressTintColor_ : tintColor())->setFill();
        UIRectFill(filled);
    }
}

Value UIProgressView::valueForKey(const std::string& key) const {
    if (key == "progress") return Value(progress_);
    return UIView::valueForKey(key);
}
