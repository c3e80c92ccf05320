#include "controls/PullRefreshScrollSupport.h"

#include <algorithm>

namespace detail {

void settleIntoContentRange(UIScrollView& scrollView) {
    if (scrollView.isDragging() || scrollView.isTracking() || scrollView.isDecelerating()) return;
    const CGPoint offset = scrollView.contentOffset();
    const CGPoint min = scrollView.minimumContentOffset();
    const CGPoint max = scrollView.maximumContentOffset();
    const CGFloat y = std::clamp(offset.y, min.y, max.y);
    if (y != offset.y) scrollView.setContentOffset(CGPointMake(offset.x, y));
}

}  // namespace detail
