#pragma once
// The event's entry gallery on a grid of equal cards (QVNProductionCell, "ProductionCell"). The
// grid's layout is the scene's choice: the registered scene ("MyActivity"/
// "ProductionListViewController") lays the cards out with ProductionLayout; with a flow layout
// the gallery sizes each card itself (numberOfColumns across the content width, cellPadding on
// each side, the card's height). Paging, voting and trying a car: ProductionGallery.h.
//
// Main thread only.

#include <string>

#include "information/ProductionGallery.h"
#include "information/ProductionLayout.h"
#include "uikit/UICollectionViewFlowLayout.h"

class ProductionListViewController : public detail::ProductionGallery,
                                     public UICollectionViewDelegateFlowLayout {
  public:
    static constexpr char kStoryboard[] = "MyActivity";
    static constexpr char kIdentifier[] = "ProductionListViewController";
    std::string className() const override { return "ProductionListViewController"; }

    // The gallery as its scene makes it, its grid laid out by the layout (ProductionLayout when
    // none is given).
    static Ref<ProductionListViewController> withLayout(Ref<UICollectionViewLayout> layout = nullptr);

    int numberOfColumns() const { return numberOfColumns_; }
    double cellPadding() const { return cellPadding_; }
    // The grid's width less the 5-point content inset it sets on all four sides on first use; 0
    // until the grid has a width.
    double collectionViewContentWidth();

    std::optional<CGSize>
    collectionViewLayoutSizeForItemAtIndexPath(UICollectionView& collectionView,
                                               UICollectionViewLayout& layout,
                                               const Ref<NSIndexPath>& indexPath) override;

  protected:
    std::string productionCellIdentifier() const override { return QVNProductionCell::kReuseIdentifier; }
    void prepareCollectionView() override;

  private:
    int numberOfColumns_ = 0;
    double cellPadding_ = 0;
    double collectionViewContentWidth_ = 0;
};
