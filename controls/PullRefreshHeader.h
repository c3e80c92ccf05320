#pragma once
// The pull-down header: a strip just above the first row of a list. Pulling the list down
// uncovers it; letting go after pulling more than its height starts a refresh, and while the
// refresh runs the header is held in view by enlarging the scroll view's top content inset. When
// the owner calls endRefreshing the inset shrinks back and the current time is stored in the
// standard user defaults under lastUpdatedTimeKey (shared by every header unless given its own).
//
//     auto header = PullRefreshNormalHeader::headerWithRefreshingBlock([weakList] { ... });
//     UIScrollView_PullRefresh::setHeader(tableView, header);
//     header->beginRefreshing();      // first page
//     ...
//     header->endRefreshing();        // when the page arrived
//
// While refreshing the header ignores scrolling; scrollViewOriginalInset keeps the inset from
// before the refresh enlarged it. On a collection view endRefreshing takes effect 0.1 s later.
// Main thread only.

#include <optional>
#include <string>

#include "controls/PullRefreshComponent.h"
#include "foundation/NSDate.h"

inline constexpr char PullRefreshHeaderLastUpdatedTimeKey[] = "PullRefreshHeaderLastUpdatedTimeKey";

class PullRefreshHeader : public PullRefreshComponent {
  public:
    using PullRefreshComponent::PullRefreshComponent;
    std::string className() const override { return "PullRefreshHeader"; }

    static Ref<PullRefreshHeader> headerWithRefreshingBlock(RefreshingBlock block) {
        return detail::makeRefreshControl<PullRefreshHeader>(std::move(block));
    }
    static Ref<PullRefreshHeader> headerWithRefreshingTarget(const Ref<NSObject>& target,
                                                             RefreshingAction action) {
        return detail::makeRefreshControl<PullRefreshHeader>(target, std::move(action));
    }

    void prepare() override;
    // Bottom edge on the top of the content (raised by ignoredScrollViewContentInsetTop).
    void placeSubviews() override;
    void scrollViewContentOffsetDidChange(const Dictionary* change) override;
    void setState(int state) override;
    void endRefreshing() override;

    // The date stored under lastUpdatedTimeKey, if any.
    std::optional<NSDate> lastUpdatedTime() const;
    const std::string& lastUpdatedTimeKey() const { return lastUpdatedTimeKey_; }
    virtual void setLastUpdatedTimeKey(const std::string& key) { lastUpdatedTimeKey_ = key; }
    CGFloat ignoredScrollViewContentInsetTop() const { return ignoredScrollViewContentInsetTop_; }
    void setIgnoredScrollViewContentInsetTop(CGFloat top) { ignoredScrollViewContentInsetTop_ = top; }

  private:
    std::string lastUpdatedTimeKey_;
    CGFloat ignoredScrollViewContentInsetTop_ = 0;
};
