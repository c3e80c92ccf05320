#include "controls/SNStatusBarView.h"

#include <cmath>

#include "foundation/NSMainThreadCheck.h"
#include "graphics/NSAttributedString.h"
#include "graphics/NSStringDrawing.h"

const Ref<UILabel>& SNStatusBarView::textLabel() {
    if (!textLabel_) {
        textLabel_ = make<UILabel>();
        textLabel_->setBackgroundColor(UIColor::clearColor());
        textLabel_->setBaselineAdjustment(UIBaselineAdjustmentAlignCenters);
        textLabel_->setTextAlignment(NSTextAlignmentCenter);
        textLabel_->setAdjustsFontSizeToFitWidth(true);
        textLabel_->setClipsToBounds(true);
        addSubview(textLabel_);
    }
    return textLabel_;
}

const Ref<UIActivityIndicatorView>& SNStatusBarView::activityIndicatorView() {
    if (!activityIndicatorView_) {
        activityIndicatorView_ = make<UIActivityIndicatorView>(UIActivityIndicatorViewStyleWhite);
        activityIndicatorView_->setTransform(CGAffineTransformMakeScale(0.7, 0.7));
        addSubview(activityIndicatorView_);
    }
    return activityIndicatorView_;
}

void SNStatusBarView::setTextVerticalPositionAdjustment(double adjustment) {
    NS_ASSERT_MAIN_THREAD();
    textVerticalPositionAdjustment_ = adjustment;
    setNeedsLayout();
}

void SNStatusBarView::layoutSubviews() {
    UIView::layoutSubviews();
    const CGRect b = bounds();
    textLabel()->setFrame(
        CGRectMake(0, 1 + textVerticalPositionAdjustment_, b.size.width, b.size.height - 1));
    if (activityIndicatorView_) {
        const CGSize textSize = currentTextSize();
        CGRect indicatorFrame = activityIndicatorView_->frame();
        indicatorFrame.origin.x =
            std::round((b.size.width - textSize.width) / 2) - indicatorFrame.size.width - 8;
        indicatorFrame.origin.y = std::ceil((b.size.height - indicatorFrame.size.height) / 2 + 1);
        activityIndicatorView_->setFrame(indicatorFrame);
    }
}

CGSize SNStatusBarView::currentTextSize() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    const auto& text = textLabel()->text();
    if (!text) return CGSizeZero;
    return NSStringDrawing::sizeWithAttributes(*text,
                                               Dictionary{{NSFontAttributeName, Value(textLabel()->font())}});
}
