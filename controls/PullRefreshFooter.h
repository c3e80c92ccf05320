#pragma once
// The base of the load-more footers: factories, the 44-point height, the no-more-data state and
// hiding while the list is empty.
//
// Entering a scroll view, the footer gives it a reload-data block (UIScrollView+PullRefresh) that,
// while automaticallyHidden is on, hides the footer after every reload that leaves the list
// without items and shows it again otherwise. The block holds the footer and stays installed
// after the footer is removed, until another footer replaces it.
//
// The two families: PullRefreshAutoFooter (a strip kept below the content, loading as soon as it
// is scrolled into view) and PullRefreshBackFooter (revealed by pulling past the end). Main thread
// only.

#include "controls/PullRefreshComponent.h"

class PullRefreshFooter : public PullRefreshComponent {
  public:
    using PullRefreshComponent::PullRefreshComponent;
    std::string className() const override { return "PullRefreshFooter"; }

    static Ref<PullRefreshFooter> footerWithRefreshingBlock(RefreshingBlock block) {
        return detail::makeRefreshControl<PullRefreshFooter>(std::move(block));
    }
    static Ref<PullRefreshFooter> footerWithRefreshingTarget(const Ref<NSObject>& target,
                                                             RefreshingAction action) {
        return detail::makeRefreshControl<PullRefreshFooter>(target, std::move(action));
    }

    void prepare() override;
    void willMoveToSuperview(const Ref<UIView>& newSuperview) override;

    // NoMoreData.
    void endRefreshingWithNoMoreData();
    // NoMoreData (later on collection views, for the pull-up footers).
    virtual void noticeNoMoreData();
    // Idle.
    void resetNoMoreData();

    // Bottom space of the list that the pull-up footers' placement disregards.
    CGFloat ignoredScrollViewContentInsetBottom() const { return ignoredScrollViewContentInsetBottom_; }
    void setIgnoredScrollViewContentInsetBottom(CGFloat bottom) {
        ignoredScrollViewContentInsetBottom_ = bottom;
    }
    bool isAutomaticallyHidden() const { return automaticallyHidden_; }
    void setAutomaticallyHidden(bool on) { automaticallyHidden_ = on; }

  private:
    CGFloat ignoredScrollViewContentInsetBottom_ = 0;
    bool automaticallyHidden_ = true;
};
