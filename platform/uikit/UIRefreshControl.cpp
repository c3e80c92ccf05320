#include "uikit/UIRefreshControl.h"

#include "foundation/NSMainThreadCheck.h"
#include "uikit/UIScrollView.h"

UIRefreshControl::UIRefreshControl() : UIControl(CGRectMake(0, -kHeight, 320, kHeight)) {
    setOpaque(false);
    setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
}

UIRefreshControl::~UIRefreshControl() {
    if (observation_) observation_->invalidate();
}

void UIRefreshControl::beginRefreshing() {
    NS_ASSERT_MAIN_THREAD();
    KVO::assign(*this, "refreshing", refreshing_, true);
}

void UIRefreshControl::endRefreshing() {
    NS_ASSERT_MAIN_THREAD();
    KVO::assign(*this, "refreshing", refreshing_, false);
}

void UIRefreshControl::setAttributedTitle(const Ref<NSAttributedString>& title) {
    NS_ASSERT_MAIN_THREAD();
    attributedTitle_ = title ? title->copy() : nullptr;
    setNeedsDisplay();
}

void UIRefreshControl::detach() {
    if (observation_) observation_->invalidate();
    observation_ = nullptr;
    scrollView_.reset();
}

void UIRefreshControl::didMoveToSuperview() {
    UIControl::didMoveToSuperview();
    detach();
    auto scroll = std::dynamic_pointer_cast<UIScrollView>(superview());
    if (!scroll) return;
    scrollView_ = scroll;
    Weak<UIRefreshControl> weak = std::static_pointer_cast<UIRefreshControl>(shared_from_this());
    observation_ = KVO::observe(*scroll, "contentOffset", NSKeyValueObservingOptionNew,
                                [weak](const Ref<NSObject>&, const Dictionary&) {
                                    if (auto control = weak.lock()) control->offsetChanged();
                                });
    setFrame(CGRectMake(0, -kHeight, scroll->bounds().size.width, kHeight));
}

void UIRefreshControl::offsetChanged() {
    auto scroll = scrollView_.lock();
    if (!scroll || !isEnabled()) return;
    const CGFloat pulled = -(scroll->contentOffset().y + scroll->contentInset().top);
    if (pulled <= 0) armed_ = true;
    if (!scroll->isDragging() || refreshing_ || !armed_) return;
    if (pulled >= kTriggerDistance) {
        armed_ = false;
        beginRefreshing();
        sendActionsForEvents(UIControlEventValueChanged, nullptr);
    }
}

Value UIRefreshControl::valueForKey(const std::string& key) const {
    if (key == "refreshing") return Value(refreshing_);
    return UIControl::valueForKey(key);
}
