#pragma once
// The information tab: a horizontal pager of two news lists, car information (category 1) and
// brand information (category 2), under two title buttons each with its red underline. The home
// screen makes it from "MyInformation"/"InformationRootViewController", becomes its delegate and
// sends refreshFirstViewController whenever it shows the tab; dragging the pager past its second
// page tells the delegate, which moves on to its next tab.
//
// The brand page's view enters the pager only when the pager first comes to rest on it, so its
// list is not loaded before anyone looks at it; it then appears as a child whose view arrived in
// a shown container.
//
// Main thread only.

#include <string>
#include <vector>

#include "app/QVNInformationScreens.h"
#include "uikit/UIButton.h"
#include "uikit/UIScrollView.h"
#include "uikit/UIViewController.h"

class NewsListViewController;

class InformationRootViewController : public UIViewController,
                                      public UIScrollViewDelegate,
                                      public QVNInformationScreens::InformationTab {
  public:
    std::string className() const override { return "InformationRootViewController"; }

    // ---- outlets --------------------------------------------------------------------------------
    Weak<UIButton> carInfoButton;
    Weak<UIButton> brandInfoButton;
    Weak<UIView> informationRedLine;
    Weak<UIView> brandRedLine;
    Weak<UIScrollView> mainScrollView;

    const std::vector<Ref<UIButton>>& buttons() const { return buttons_; }
    const Ref<UIButton>& selectedButton() const { return selectedButton_; }
    Ref<InformationRootViewControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<InformationRootViewControllerDelegate>& delegate) override {
        delegate_ = delegate;
    }
    // The pages, car first.
    Ref<NewsListViewController> newsList(std::size_t index) const;

    // ---- the screen ---------------------------------------------------------------------------
    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;

    // ---- actions ------------------------------------------------------------------------------
    // The car page, reloaded from the server even when it already shows.
    void refreshFirstViewController() override;
    void showCarInfo(const Ref<NSObject>& sender);
    void showBrandInfo(const Ref<NSObject>& sender);
    void changeButtonColorWithSeletedButton(const Ref<UIButton>& button);

    // ---- UIScrollViewDelegate (the pager) ------------------------------------------------------
    void scrollViewDidScroll(UIScrollView& scrollView) override;
    void scrollViewDidEndScrollingAnimation(UIScrollView& scrollView) override;
    void scrollViewDidEndDecelerating(UIScrollView& scrollView) override;

    static constexpr char kCarInfoTitle[] = "汽车资讯";
    static constexpr char kBrandInfoTitle[] = "品牌资讯";

  private:
    std::vector<Ref<UIButton>> buttons_;
    Ref<UIButton> selectedButton_;
    Weak<InformationRootViewControllerDelegate> delegate_;
};
