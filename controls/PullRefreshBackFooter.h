#pragma once
// The pull-up footer: it waits just below the content (or at the bottom edge of the view when the
// content is shorter) without reserving space. Pulling the list up past its end uncovers it;
// letting go after pulling more than its height starts loading, and while loading it is held in
// view by enlarging the scroll view's bottom inset (also by the empty space under short content).
// Exactly that enlargement, lastBottomDelta, is taken back when loading ends.
//
// Geometry, with the top and bottom insets of scrollViewOriginalInset:
//   heightForContentBreakView = content height − (view height − bottom − top): how far the content
//     reaches beyond the visible area (negative when shorter);
//   happenOffsetY = max(heightForContentBreakView, 0) − top: the offset at which the footer starts
//     to show.
// In NoMoreData the footer only follows the pull with its percent. On a collection view
// endRefreshing and noticeNoMoreData take effect 0.1 s later. Main thread only.

#include "controls/PullRefreshFooter.h"

class PullRefreshBackFooter : public PullRefreshFooter {
  public:
    using PullRefreshFooter::PullRefreshFooter;
    std::string className() const override { return "PullRefreshBackFooter"; }

    static Ref<PullRefreshBackFooter> footerWithRefreshingBlock(RefreshingBlock block) {
        return detail::makeRefreshControl<PullRefreshBackFooter>(std::move(block));
    }
    static Ref<PullRefreshBackFooter> footerWithRefreshingTarget(const Ref<NSObject>& target,
                                                                 RefreshingAction action) {
        return detail::makeRefreshControl<PullRefreshBackFooter>(target, std::move(action));
    }

    void willMoveToSuperview(const Ref<UIView>& newSuperview) override;
    void scrollViewContentOffsetDidChange(const Dictionary* change) override;
    void scrollViewContentSizeDidChange(const Dictionary* change) override;
    void setState(int state) override;
    void endRefreshing() override;
    void noticeNoMoreData() override;

    CGFloat heightForContentBreakView() const;
    CGFloat happenOffsetY() const;

    long lastRefreshCount() const { return lastRefreshCount_; }
    void setLastRefreshCount(long count) { lastRefreshCount_ = count; }
    CGFloat lastBottomDelta() const { return lastBottomDelta_; }
    void setLastBottomDelta(CGFloat delta) { lastBottomDelta_ = delta; }

  private:
    long lastRefreshCount_ = 0;
    CGFloat lastBottomDelta_ = 0;
};
