#pragma once
// Refresh controls: a pull-to-refresh control that sits above the content of the scroll view it
// is added to (as a subview).
//
// While the scroll view is dragged and pulled down past kTriggerDistance (60 points beyond the
// top inset) the control starts refreshing and sends ValueChanged, once per pull.
// beginRefreshing / endRefreshing set the state from code without sending anything. The control
// takes the scroll view's width and sits kHeight points tall above the content (y = -kHeight).
// It follows the scroll view through its observable contentOffset and stops when removed.
// Main thread only.

#include <optional>

#include "foundation/NSKeyValueObserving.h"
#include "graphics/NSAttributedString.h"
#include "uikit/UIControl.h"

class UIScrollView;

class UIRefreshControl : public UIControl {
  public:
    UIRefreshControl();
    ~UIRefreshControl() override;
    std::string className() const override { return "UIRefreshControl"; }

    static constexpr CGFloat kHeight = 60;
    static constexpr CGFloat kTriggerDistance = 60;

    bool isRefreshing() const { return refreshing_; }
    void beginRefreshing();
    void endRefreshing();

    Ref<NSAttributedString> attributedTitle() const { return attributedTitle_; }
    void setAttributedTitle(const Ref<NSAttributedString>& title);

    // The scroll view followed, nullptr when not in one.
    Ref<UIScrollView> scrollView() const { return scrollView_.lock(); }

    void didMoveToSuperview() override;
    // "refreshing".
    Value valueForKey(const std::string& key) const override;

  private:
    void offsetChanged();
    void detach();

    bool refreshing_ = false;
    // A pull already triggered; the next needs the content back at rest first.
    bool armed_ = true;
    Ref<NSAttributedString> attributedTitle_;
    Weak<UIScrollView> scrollView_;
    Ref<NSKeyValueObservation> observation_;
};
