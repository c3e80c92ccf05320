#include "uikit/UICollectionViewCell.h"

#include "foundation/NSMainThreadCheck.h"

UICollectionViewCell::UICollectionViewCell(CGRect frame) : UICollectionReusableView(frame) {
    contentView_ = make<UIView>(CGRect{{0, 0}, frame.size});
    contentView_->setBackgroundColor(UIColor::clearColor());
    contentView_->setOpaque(false);
    contentView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    addSubview(contentView_);
}

void UICollectionViewCell::setBackgroundView(const Ref<UIView>& view) {
    NS_ASSERT_MAIN_THREAD();
    if (view == backgroundView_) return;
    if (backgroundView_) backgroundView_->removeFromSuperview();
    backgroundView_ = view;
    if (view) {
        view->setFrame(bounds());
        view->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
        insertSubviewAtIndex(view, 0);
    }
}

void UICollectionViewCell::setSelectedBackgroundView(const Ref<UIView>& view) {
    NS_ASSERT_MAIN_THREAD();
    if (view == selectedBackgroundView_) return;
    if (selectedBackgroundView_) selectedBackgroundView_->removeFromSuperview();
    selectedBackgroundView_ = view;
    updateSelectionAppearance();
}

void UICollectionViewCell::setSelected(bool selected) {
    NS_ASSERT_MAIN_THREAD();
    selected_ = selected;
    updateSelectionAppearance();
}

void UICollectionViewCell::setHighlighted(bool highlighted) {
    NS_ASSERT_MAIN_THREAD();
    highlighted_ = highlighted;
    updateSelectionAppearance();
}

void UICollectionViewCell::updateSelectionAppearance() {
    if (!selectedBackgroundView_) return;
    const bool show = selected_ || highlighted_;
    if (show && selectedBackgroundView_->superviewPointer() != this) {
        selectedBackgroundView_->setFrame(bounds());
        selectedBackgroundView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth |
                                                     UIViewAutoresizingFlexibleHeight);
        if (backgroundView_) {
            insertSubviewAbove(selectedBackgroundView_, backgroundView_);
        } else {
            insertSubviewAtIndex(selectedBackgroundView_, 0);
        }
    } else if (!show && selectedBackgroundView_->superviewPointer() == this) {
        selectedBackgroundView_->removeFromSuperview();
    }
}

void UICollectionViewCell::prepareForReuse() {
    UICollectionReusableView::prepareForReuse();
    if (selected_ || highlighted_) {
        selected_ = false;
        highlighted_ = false;
        updateSelectionAppearance();
    }
}

void UICollectionViewCell::layoutSubviews() {
    UICollectionReusableView::layoutSubviews();
    const CGRect b = bounds();
    if (contentView_->frame() != b && contentView_->transform() == CGAffineTransformIdentity)
        contentView_->setFrame(b);
    if (backgroundView_) backgroundView_->setFrame(b);
    if (selectedBackgroundView_ && selectedBackgroundView_->superviewPointer() == this) {
        selectedBackgroundView_->setFrame(b);
    }
}
