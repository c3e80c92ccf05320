#include "controls/WFCollectionView.h"

#include "foundation/NSMainThreadCheck.h"
#include "graphics/UIColor.h"

WFCollectionView::WFCollectionView(CGRect frame) : UICollectionView(frame, makeLayout()) {
    waterFlow_ = std::static_pointer_cast<WFWaterFlowLayout>(collectionViewLayout());
}

WFCollectionView::WFCollectionView(CGRect frame, const Ref<UICollectionViewLayout>&)
    : WFCollectionView(frame) {}

void WFCollectionView::didInit() {
    UICollectionView::didInit();
    setBackgroundColor(UIColor::whiteColor());
    if (waterFlow_) waterFlow_->setDelagate(selfAs<WFCollectionView>());
}

void WFCollectionView::setColumnCount(int count) {
    NS_ASSERT_MAIN_THREAD();
    if (waterFlow_) waterFlow_->setColumnCount(count);
}

void WFCollectionView::setColumnMargin(CGFloat margin) {
    NS_ASSERT_MAIN_THREAD();
    if (waterFlow_) waterFlow_->setColumnMargin(margin);
}

void WFCollectionView::setRowMargin(CGFloat margin) {
    NS_ASSERT_MAIN_THREAD();
    if (waterFlow_) waterFlow_->setRowMargin(margin);
}

Ref<WFCollectionViewDelegate> WFCollectionView::delegate() const {
    return std::dynamic_pointer_cast<WFCollectionViewDelegate>(UICollectionView::delegate());
}

void WFCollectionView::setDelegate(const Ref<WFCollectionViewDelegate>& delegate) {
    NS_ASSERT_MAIN_THREAD();
    UICollectionView::setDelegate(delegate);
}

CGFloat WFCollectionView::waterflowLayoutHeightForWidth(WFWaterFlowLayout&, CGFloat width,
                                                        const Ref<NSIndexPath>& indexPath) {
    auto d = delegate();
    return d ? d->collectionViewHeightForWidth(*this, width, indexPath) : 0;
}
