#pragma once
// Page controls: a row of dots, one per page, the current one highlighted.
//
// currentPage stays within 0...numberOfPages - 1 (0 without pages). A tap on the left half moves
// one page back, on the right half one page on; when the page changes, ValueChanged is sent (with
// defersCurrentPageDisplay the dots keep showing the old page until updateCurrentPageDisplay).
// hidesForSinglePage hides the control while there is at most one page. Dots are 7 points wide,
// 9 apart, centred in the bounds; the size for n pages is (n × 7 + (n - 1) × 9) by 37.
// Main thread only.

#include "graphics/UIColor.h"
#include "uikit/UIControl.h"

class UIPageControl : public UIControl {
  public:
    UIPageControl();
    explicit UIPageControl(CGRect frame);
    std::string className() const override { return "UIPageControl"; }

    long numberOfPages() const { return numberOfPages_; }
    void setNumberOfPages(long pages);
    long currentPage() const { return currentPage_; }
    void setCurrentPage(long page);
    bool hidesForSinglePage() const { return hidesForSinglePage_; }
    void setHidesForSinglePage(bool hides);
    bool defersCurrentPageDisplay() const { return defersDisplay_; }
    void setDefersCurrentPageDisplay(bool defers) { defersDisplay_ = defers; }
    void updateCurrentPageDisplay();
    // The page the dots show (differs from currentPage only while a display is deferred).
    long displayedPage() const { return displayedPage_; }

    Ref<UIColor> pageIndicatorTintColor() const { return pageIndicatorTintColor_; }
    void setPageIndicatorTintColor(const Ref<UIColor>& color);
    Ref<UIColor> currentPageIndicatorTintColor() const { return currentPageIndicatorTintColor_; }
    void setCurrentPageIndicatorTintColor(const Ref<UIColor>& color);

    static CGSize sizeForNumberOfPages(long pages);
    CGSize sizeThatFits(CGSize size) const override { return sizeForNumberOfPages(numberOfPages_); }
    CGSize intrinsicContentSize() const override { return sizeForNumberOfPages(numberOfPages_); }
    // The dot of a page, in the control's space.
    CGRect rectForPage(long page) const;
    void drawRect(CGRect rect) override;
    void endTrackingWithTouch(const Ref<UITouch>& touch, const Ref<UIEvent>& event) override;
    // "currentPage".
    Value valueForKey(const std::string& key) const override;

  private:
    void updateVisibility();

    long numberOfPages_ = 0;
    long currentPage_ = 0;
    long displayedPage_ = 0;
    bool hidesForSinglePage_ = false;
    bool defersDisplay_ = false;
    Ref<UIColor> pageIndicatorTintColor_, currentPageIndicatorTintColor_;
};
