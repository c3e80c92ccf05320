#include "uikit/UICollectionViewLayout.h"

#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSString.h"
#include "uikit/UICollectionView.h"

// ---- UICollectionViewLayoutAttributes -----------------------------------------------------------

void UICollectionViewLayoutAttributes::setCenter(CGPoint center) {
    frame_.origin = {center.x - frame_.size.width / 2, center.y - frame_.size.height / 2};
}

void UICollectionViewLayoutAttributes::setSize(CGSize size) {
    const CGPoint c = center();
    frame_.size = size;
    setCenter(c);
}

void UICollectionViewLayoutAttributes::copyFieldsFrom(const UICollectionViewLayoutAttributes& other) {
    indexPath_ = other.indexPath_;
    frame_ = other.frame_;
    transform3D_ = other.transform3D_;
    alpha_ = other.alpha_;
    zIndex_ = other.zIndex_;
    hidden_ = other.hidden_;
    category_ = other.category_;
    kind_ = other.kind_;
}

Ref<NSObject> UICollectionViewLayoutAttributes::copyObject() const {
    auto copy = make<UICollectionViewLayoutAttributes>();
    copy->copyFieldsFrom(*this);
    return copy;
}

bool UICollectionViewLayoutAttributes::isEqual(const NSObject& other) const {
    auto* o = dynamic_cast<const UICollectionViewLayoutAttributes*>(&other);
    if (!o) return false;
    const bool samePath =
        indexPath_ && o->indexPath_ ? *indexPath_ == *o->indexPath_ : indexPath_ == o->indexPath_;
    return samePath && frame_ == o->frame_ && transform3D_ == o->transform3D_ && alpha_ == o->alpha_ &&
           zIndex_ == o->zIndex_ && hidden_ == o->hidden_ && category_ == o->category_ && kind_ == o->kind_;
}

std::string UICollectionViewLayoutAttributes::description() const {
    return NSString::stringWithFormat("<%@: %p; index path: (%ld-%ld); frame = %@>", className(), this,
                                      indexPath_ ? indexPath_->section() : -1L,
                                      indexPath_ ? indexPath_->row() : -1L, NSStringFromCGRect(frame_));
}

// ---- UICollectionViewLayout ---------------------------------------------------------------------

Ref<UICollectionViewLayoutAttributes>
UICollectionViewLayout::layoutAttributesForCell(const Ref<NSIndexPath>& indexPath) const {
    auto attributes = makeLayoutAttributes();
    if (!attributes) attributes = make<UICollectionViewLayoutAttributes>();
    attributes->setIndexPath(indexPath);
    attributes->setElement(UICollectionElementCategoryCell, std::nullopt);
    return attributes;
}

Ref<UICollectionViewLayoutAttributes>
UICollectionViewLayout::layoutAttributesForSupplementary(const std::string& kind,
                                                         const Ref<NSIndexPath>& indexPath) const {
    auto attributes = layoutAttributesForCell(indexPath);
    attributes->setElement(UICollectionElementCategorySupplementaryView, kind);
    return attributes;
}

void UICollectionViewLayout::invalidateLayout() {
    NS_ASSERT_MAIN_THREAD();
    invalid_ = true;
    if (auto view = collectionView()) view->setNeedsLayout();
}

void UICollectionViewLayout::attachToCollectionView(const Weak<UICollectionView>& collectionView) {
    NS_ASSERT_MAIN_THREAD();
    collectionView_ = collectionView;
    invalid_ = true;
}
