#pragma once
// The automatic load-more footer: it keeps a strip of its own height below the content (by
// growing the scroll view's bottom inset while it is shown) and starts loading
//   - when the list is scrolled towards its end far enough that triggerAutomaticallyRefreshPercent
//     of the strip is in view (only when the content overflows the view, and not for a list
//     without content),
//   - when a drag ends at or past that end (on a list shorter than the view: at or above the
//     resting position), whatever automaticallyRefresh says,
//   - or when its text is tapped (PullRefreshAutoStateFooter).
// Loading runs the refresh callback 0.5 s after the state change; the strip is already reserved,
// so the insets do not move. Hiding the footer (a reload that empties the list) gives the strip
// back and returns it to Idle, from NoMoreData too. Main thread only.

#include "controls/PullRefreshFooter.h"

class PullRefreshAutoFooter : public PullRefreshFooter {
  public:
    using PullRefreshFooter::PullRefreshFooter;
    std::string className() const override { return "PullRefreshAutoFooter"; }

    static Ref<PullRefreshAutoFooter> footerWithRefreshingBlock(RefreshingBlock block) {
        return detail::makeRefreshControl<PullRefreshAutoFooter>(std::move(block));
    }
    static Ref<PullRefreshAutoFooter> footerWithRefreshingTarget(const Ref<NSObject>& target,
                                                                 RefreshingAction action) {
        return detail::makeRefreshControl<PullRefreshAutoFooter>(target, std::move(action));
    }

    // The delay between the change to Refreshing and the refresh callback.
    static constexpr double kRefreshingCallbackDelay = 0.5;

    void willMoveToSuperview(const Ref<UIView>& newSuperview) override;
    void prepare() override;
    void scrollViewContentSizeDidChange(const Dictionary* change) override;
    void scrollViewContentOffsetDidChange(const Dictionary* change) override;
    void scrollViewPanStateDidChange(const Dictionary* change) override;
    void setState(int state) override;
    // Gives back or reserves the strip.
    void setHidden(bool hidden) override;

    bool isAutomaticallyRefresh() const { return automaticallyRefresh_; }
    void setAutomaticallyRefresh(bool on) { automaticallyRefresh_ = on; }
    double triggerAutomaticallyRefreshPercent() const { return triggerAutomaticallyRefreshPercent_; }
    void setTriggerAutomaticallyRefreshPercent(double percent) {
        triggerAutomaticallyRefreshPercent_ = percent;
    }
    // A second name for triggerAutomaticallyRefreshPercent.
    double appearencePercentTriggerAutoRefresh() const { return triggerAutomaticallyRefreshPercent(); }
    void setAppearencePercentTriggerAutoRefresh(double percent) {
        setTriggerAutomaticallyRefreshPercent(percent);
    }

  private:
    // The scroll view while the footer is its subview.
    Ref<UIScrollView> attachedScrollView() const;

    bool automaticallyRefresh_ = true;
    double triggerAutomaticallyRefreshPercent_ = 1.0;
};
