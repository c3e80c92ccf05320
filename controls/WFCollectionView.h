#pragma once
// A collection view that always lays its items out with its own waterfall layout
// (WFWaterFlowLayout), acts as that layout's delegate and passes the height question on to its
// own delegate in collection-view terms:
//
//     auto wall = WFCollectionView::collectionViewWithFrame(frame);
//     wall->setDataSource(source);
//     wall->setDelegate(source);  // answers collectionViewHeightForWidth
//
// A layout handed to the (frame, layout) constructor is ignored. The view starts white. Setting
// columnCount, columnMargin or rowMargin sets them on the layout (reading them reads the layout).
// The view holds its layout; the layout holds the view weakly, as its collection view and as its
// delegate. Main thread only.

#include "controls/WFWaterFlowLayout.h"
#include "uikit/UICollectionView.h"

class WFCollectionView;

// The collection view's delegate, with the item heights its layout needs.
class WFCollectionViewDelegate : public UICollectionViewDelegate {
  public:
    virtual CGFloat collectionViewHeightForWidth(WFCollectionView& collectionView, CGFloat width,
                                                 const Ref<NSIndexPath>& indexPath) = 0;
};

class WFCollectionView : public UICollectionView, public WFWaterflowLayoutDelagate {
  public:
    // initWithFrame: and initWithFrame:collectionViewLayout: (the layout is not used); both go
    // through initCollectionViewWithFrame:.
    explicit WFCollectionView(CGRect frame);
    WFCollectionView(CGRect frame, const Ref<UICollectionViewLayout>& ignoredLayout);
    std::string className() const override { return "WFCollectionView"; }
    void didInit();

    static Ref<WFCollectionView> collectionViewWithFrame(CGRect frame) {
        return make<WFCollectionView>(frame);
    }

    const Ref<WFWaterFlowLayout>& waterFlow() const { return waterFlow_; }

    int columnCount() const { return waterFlow_ ? waterFlow_->columnCount() : 0; }
    void setColumnCount(int count);
    CGFloat columnMargin() const { return waterFlow_ ? waterFlow_->columnMargin() : 0; }
    void setColumnMargin(CGFloat margin);
    CGFloat rowMargin() const { return waterFlow_ ? waterFlow_->rowMargin() : 0; }
    void setRowMargin(CGFloat margin);

    // The platform delegate, when it is a WFCollectionViewDelegate.
    Ref<WFCollectionViewDelegate> delegate() const;
    void setDelegate(const Ref<WFCollectionViewDelegate>& delegate);

    // WFWaterflowLayoutDelagate: the delegate's answer for this view; 0 without a delegate.
    CGFloat waterflowLayoutHeightForWidth(WFWaterFlowLayout& layout, CGFloat width,
                                          const Ref<NSIndexPath>& indexPath) override;

  private:
    // A new waterfall layout for the base class, kept in waterFlow_ by the constructor.
    static Ref<WFWaterFlowLayout> makeLayout() { return make<WFWaterFlowLayout>(); }

    Ref<WFWaterFlowLayout> waterFlow_;
};
