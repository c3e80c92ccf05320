#include "uikit/UIPageControl.h"

#include <algorithm>

#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSMainThreadCheck.h"
#include "graphics/UIBezierPath.h"
#include "graphics/UIGraphics.h"

namespace {
constexpr CGFloat kDot = 7;
constexpr CGFloat kSpacing = 9;
}  // namespace

UIPageControl::UIPageControl() : UIPageControl(CGRectZero) {}

UIPageControl::UIPageControl(CGRect frame) : UIControl(frame) {
    setOpaque(false);
}

void UIPageControl::setNumberOfPages(long pages) {
    NS_ASSERT_MAIN_THREAD();
    numberOfPages_ = std::max(0L, pages);
    setCurrentPage(currentPage_);
    updateVisibility();
    invalidateIntrinsicContentSize();
    setNeedsDisplay();
}

void UIPageControl::setCurrentPage(long page) {
    NS_ASSERT_MAIN_THREAD();
    page = std::clamp(page, 0L, std::max(0L, numberOfPages_ - 1));
    KVO::assign(*this, "currentPage", currentPage_, page);
    displayedPage_ = page;
    setNeedsDisplay();
}

void UIPageControl::setHidesForSinglePage(bool hides) {
    NS_ASSERT_MAIN_THREAD();
    hidesForSinglePage_ = hides;
    updateVisibility();
}

void UIPageControl::updateVisibility() {
    if (hidesForSinglePage_) setHidden(numberOfPages_ <= 1);
}

void UIPageControl::updateCurrentPageDisplay() {
    NS_ASSERT_MAIN_THREAD();
    displayedPage_ = currentPage_;
    setNeedsDisplay();
}

void UIPageControl::setPageIndicatorTintColor(const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD();
    pageIndicatorTintColor_ = color;
    setNeedsDisplay();
}

void UIPageControl::setCurrentPageIndicatorTintColor(const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD();
    currentPageIndicatorTintColor_ = color;
    setNeedsDisplay();
}

CGSize UIPageControl::sizeForNumberOfPages(long pages) {
    if (pages <= 0) return {0, 37};
    return {pages * kDot + (pages - 1) * kSpacing, 37};
}

CGRect UIPageControl::rectForPage(long page) const {
    const CGRect b = bounds();
    const CGFloat width = sizeForNumberOfPages(numberOfPages_).width;
    const CGFloat x = b.origin.x + (b.size.width - width) / 2 + page * (kDot + kSpacing);
    return CGRectMake(x, b.origin.y + (b.size.height - kDot) / 2, kDot, kDot);
}

void UIPageControl::drawRect(CGRect rect) {
    if (!UIGraphicsGetCurrentContext()) return;
    const Ref<UIColor> other =
        pageIndicatorTintColor_ ? pageIndicatorTintColor_ : UIColor::colorWithWhite(1, 0.3);
    const Ref<UIColor> current =
        currentPageIndicatorTintColor_ ? currentPageIndicatorTintColor_ : UIColor::whiteColor();
    for (long page = 0; page < numberOfPages_; ++page) {
        (page == displayedPage_ ? current : other)->setFill();
        UIBezierPath::bezierPathWithOvalInRect(rectForPage(page))->fill();
    }
}

void UIPageControl::endTrackingWithTouch(const Ref<UITouch>& touch, const Ref<UIEvent>& event) {
    if (!isTouchInside() || numberOfPages_ <= 1) return;
    const CGFloat middle = CGRectGetMidX(bounds());
    const long page =
        std::clamp(currentPage_ + (lastTrackingPoint().x < middle ? -1 : 1), 0L, numberOfPages_ - 1);
    if (page == currentPage_) return;
    KVO::assign(*this, "currentPage", currentPage_, page);
    if (!defersDisplay_) displayedPage_ = page;
    setNeedsDisplay();
    sendActionsForEvents(UIControlEventValueChanged, event);
}

Value UIPageControl::valueForKey(const std::string& key) const {
    if (key == "currentPage") return Value(currentPage_);
    return UIControl::valueForKey(key);
}
