#include "app/TitledPageHeights.h"

#include <cmath>

namespace {

const char kHeightsKey = 0;

Ref<NSLayoutConstraint> heightOf(const Ref<UIView>& view) {
    return NSLayoutConstraint::constraintWithItem(view, NSLayoutAttributeHeight, NSLayoutRelationEqual,
                                                  nullptr, NSLayoutAttributeNotAnAttribute, 1, 0);
}

}  // namespace

TitledPageHeights TitledPageHeights::makeFor(UIView& header, const Ref<UILabel>& titleLabel,
                                             const Ref<UIWebView>& web) {
    TitledPageHeights heights{heightOf(titleLabel), heightOf(web)};
    // Kept alive by the view; layoutSubviews places the parts from their constants.
    header.setAssociatedObject(&kHeightsKey, Value(Array{Value(heights.title), Value(heights.page)}));
    return heights;
}

CGFloat TitledPageHeights::fit(UIView& header, CGRect measuredTitle, const Ref<UIWebView>& web,
                               const Ref<NSLayoutConstraint>& titleConstraint,
                               const Ref<NSLayoutConstraint>& pageConstraint, CGFloat chrome) {
    // Measured as a float and rounded up to whole points, so the last line is never clipped.
    CGFloat titleHeight = std::ceil(static_cast<float>(measuredTitle.size.height));
    if (titleConstraint) titleConstraint->setConstant(titleHeight);
    CGFloat pageHeight = web ? web->scrollView()->contentSize().height : 0;
    if (pageConstraint) pageConstraint->setConstant(pageHeight);
    CGRect f = header.frame();
    f.size.height = titleHeight + chrome + pageHeight;
    header.setFrame(f);
    header.setNeedsLayout();
    header.layoutIfNeeded();
    return titleHeight;
}
