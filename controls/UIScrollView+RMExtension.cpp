#include "controls/UIScrollView+RMExtension.h"

#include "foundation/NSMainThreadCheck.h"

namespace UIScrollView_RMExtension {

namespace {
template <class Change>
void changeInset(UIScrollView& scrollView, Change change) {
    UIEdgeInsets inset = scrollView.contentInset();
    change(inset);
    scrollView.setContentInset(inset);
}
template <class Change>
void changeOffset(UIScrollView& scrollView, Change change) {
    CGPoint offset = scrollView.contentOffset();
    change(offset);
    scrollView.setContentOffset(offset);
}
template <class Change>
void changeSize(UIScrollView& scrollView, Change change) {
    CGSize size = scrollView.contentSize();
    change(size);
    scrollView.setContentSize(size);
}
}  // namespace

CGFloat pr_insetT(const UIScrollView& scrollView) {
    return scrollView.contentInset().top;
}
void setPr_insetT(UIScrollView& scrollView, CGFloat top) {
    NS_ASSERT_MAIN_THREAD();
    changeInset(scrollView, [top](UIEdgeInsets& i) { i.top = top; });
}
CGFloat pr_insetL(const UIScrollView& scrollView) {
    return scrollView.contentInset().left;
}
void setPr_insetL(UIScrollView& scrollView, CGFloat left) {
    NS_ASSERT_MAIN_THREAD();
    changeInset(scrollView, [left](UIEdgeInsets& i) { i.left = left; });
}
CGFloat pr_insetB(const UIScrollView& scrollView) {
    return scrollView.contentInset().bottom;
}
void setPr_insetB(UIScrollView& scrollView, CGFloat bottom) {
    NS_ASSERT_MAIN_THREAD();
    changeInset(scrollView, [bottom](UIEdgeInsets& i) { i.bottom = bottom; });
}
CGFloat pr_insetR(const UIScrollView& scrollView) {
    return scrollView.contentInset().right;
}
void setPr_insetR(UIScrollView& scrollView, CGFloat right) {
    NS_ASSERT_MAIN_THREAD();
    changeInset(scrollView, [right](UIEdgeInsets& i) { i.right = right; });
}

CGFloat pr_offsetX(const UIScrollView& scrollView) {
    return scrollView.contentOffset().x;
}
void setPr_offsetX(UIScrollView& scrollView, CGFloat x) {
    NS_ASSERT_MAIN_THREAD();
    changeOffset(scrollView, [x](CGPoint& o) { o.x = x; });
}
CGFloat pr_offsetY(const UIScrollView& scrollView) {
    return scrollView.contentOffset().y;
}
void setPr_offsetY(UIScrollView& scrollView, CGFloat y) {
    NS_ASSERT_MAIN_THREAD();
    changeOffset(scrollView, [y](CGPoint& o) { o.y = y; });
}

CGFloat pr_contentW(const UIScrollView& scrollView) {
    return scrollView.contentSize().width;
}
void setPr_contentW(UIScrollView& scrollView, CGFloat width) {
    changeSize(scrollView, [width](CGSize& s) { s.width = width; });
}
CGFloat pr_contentH(const UIScrollView& scrollView) {
    return scrollView.contentSize().height;
}
void setPr_contentH(UIScrollView& scrollView, CGFloat height) {
    changeSize(scrollView, [height](CGSize& s) { s.height = height; });
}

}  // namespace UIScrollView_RMExtension
