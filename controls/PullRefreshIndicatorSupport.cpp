#include "controls/PullRefreshIndicatorSupport.h"

#include "controls/PullRefreshComponent.h"
#include "controls/PullRefreshSubviewSupport.h"

namespace detail {

CGPoint pullRefreshIndicatorCentre(CGRect bounds, bool textHidden) {
    CGFloat x = bounds.size.width * 0.5;
    if (!textHidden) x -= PullRefreshConst::IndicatorOffsetFromCentre;
    return CGPointMake(x, bounds.size.height * 0.5);
}

void placeArrowAndIndicator(UIImageView& arrow, UIActivityIndicatorView& indicator, CGPoint centre) {
    const auto& image = arrow.image();
    const CGSize size = image ? image->size() : CGSizeZero;
    // The arrow may be turned: size it through the bounds, place it through the centre.
    arrow.setBounds(CGRectMake(0, 0, size.width, size.height));
    arrow.setCenter(centre);
    if (size.width > 0 && size.height > 0) {
        indicator.setFrame(arrow.frame());
    } else {
        indicator.setCenter(centre);
    }
}

Ref<UIActivityIndicatorView> refreshIndicator(UIView& control, Weak<UIActivityIndicatorView>& slot,
                                              UIActivityIndicatorViewStyle style) {
    return lazySubview(control, slot, [style] {
        auto indicator = make<UIActivityIndicatorView>(style);
        indicator->setHidesWhenStopped(true);
        return indicator;
    });
}

}  // namespace detail
