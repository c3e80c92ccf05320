#pragma once
// A controller whose view is a collection view, and which is its data source and delegate.
// Without a storyboard scene or nib it makes a collection view over the screen's bounds with the
// layout given at creation (a flow layout when none). viewWillAppear loads the data when it was
// never loaded and, with clearsSelectionOnViewWillAppear (the default), deselects the items.

#include "uikit/UICollectionView.h"
#include "uikit/UIViewController.h"

class UICollectionViewController : public UIViewController,
                                   public UICollectionViewDataSource,
                                   public UICollectionViewDelegate {
  public:
    // initWithCollectionViewLayout:
    explicit UICollectionViewController(Ref<UICollectionViewLayout> layout = nullptr);
    std::string className() const override { return "UICollectionViewController"; }

    Ref<UICollectionView> collectionView();
    void setCollectionView(const Ref<UICollectionView>& collectionView);
    Ref<UICollectionViewLayout> collectionViewLayout();
    bool clearsSelectionOnViewWillAppear() const { return clearsSelectionOnViewWillAppear_; }
    void setClearsSelectionOnViewWillAppear(bool on) { clearsSelectionOnViewWillAppear_ = on; }

    void loadView() override;
    void viewWillAppear(bool animated) override;

    long collectionViewNumberOfItemsInSection(UICollectionView& collectionView, long section) override {
        return 0;
    }
    Ref<UICollectionViewCell>
    collectionViewCellForItemAtIndexPath(UICollectionView& collectionView,
                                         const Ref<NSIndexPath>& indexPath) override {
        return nullptr;
    }

  private:
    void adopt(const Ref<UICollectionView>& view);

    Ref<UICollectionViewLayout> layout_;
    Ref<UICollectionView> collectionView_;
    bool clearsSelectionOnViewWillAppear_ = true;
};
