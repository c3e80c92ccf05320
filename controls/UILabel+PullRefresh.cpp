#include "controls/UILabel+PullRefresh.h"

namespace UILabel_PullRefresh {

Ref<UIColor> labelTextColor() {
    return UIColor::colorWithRed(90 / 255.0, 90 / 255.0, 90 / 255.0, 1.0);
}

Ref<UILabel> label() {
    auto label = make<UILabel>();
    label->setFont(UIFont::boldSystemFontOfSize(14));
    label->setTextColor(labelTextColor());
    label->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    label->setTextAlignment(NSTextAlignmentCenter);
    label->setBackgroundColor(UIColor::clearColor());
    return label;
}

}  // namespace UILabel_PullRefresh
