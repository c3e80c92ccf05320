#include "uikit/UICollectionViewController.h"

#include "foundation/NSMainThreadCheck.h"
#include "uikit/UICollectionViewFlowLayout.h"
#include "uikit/UINib.h"
#include "uikit/UIScreen.h"

UICollectionViewController::UICollectionViewController(Ref<UICollectionViewLayout> layout)
    : layout_(std::move(layout)) {}

Ref<UICollectionView> UICollectionViewController::collectionView() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    loadViewIfNeeded();
    return collectionView_;
}

void UICollectionViewController::setCollectionView(const Ref<UICollectionView>& collectionView) {
    NS_ASSERT_MAIN_THREAD();
    collectionView_ = collectionView;
    setView(collectionView);
    if (collectionView) adopt(collectionView);
}

Ref<UICollectionViewLayout> UICollectionViewController::collectionViewLayout() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (auto view = collectionView()) return view->collectionViewLayout();
    return layout_;
}

void UICollectionViewController::adopt(const Ref<UICollectionView>& view) {
    auto me = std::static_pointer_cast<UICollectionViewController>(shared_from_this());
    if (!view->dataSource()) view->setDataSource(me);
    if (!view->UIScrollView::delegate()) view->setDelegate(me);
}

void UICollectionViewController::loadView() {
    const std::string nib = nibName() ? *nibName() : className();
    if (hasViewLoader() || UINib::hasNibNamed(nib)) {
        UIViewController::loadView();
        if (isViewLoaded()) {
            if (auto view = std::dynamic_pointer_cast<UICollectionView>(this->view())) {
                collectionView_ = view;
                adopt(view);
                return;
            }
        }
    }
    if (!layout_) layout_ = make<UICollectionViewFlowLayout>();
    auto view = make<UICollectionView>(UIScreen::mainScreen()->bounds(), layout_);
    view->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    collectionView_ = view;
    setView(view);
    adopt(view);
}

void UICollectionViewController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    if (!collectionView_) return;
    if (!collectionView_->hasLoadedData()) collectionView_->reloadData();
    if (clearsSelectionOnViewWillAppear_) {
        for (const auto& path : collectionView_->indexPathsForSelectedItems()) {
            collectionView_->deselectItemAtIndexPath(path, animated);
        }
    }
}
