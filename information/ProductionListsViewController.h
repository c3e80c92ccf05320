#pragma once
// The event's entry gallery on a waterfall grid (WFCollectionView) of QVNProductionSecondcell
// cards, the gallery an event's page opens ("MyActivity"/"ProductionListsViewController"). The
// waterfall gives the column width; the second card is 1.3 times as tall as wide, every other
// 1.09 times, so the columns start staggered. Paging, voting and trying a car:
// ProductionGallery.h.
//
// Main thread only.

#include <string>

#include "controls/WFCollectionView.h"
#include "foundation/Value.h"
#include "information/ProductionGallery.h"

class ProductionListsViewController : public detail::ProductionGallery, public WFCollectionViewDelegate {
  public:
    static constexpr char kStoryboard[] = "MyActivity";
    static constexpr char kIdentifier[] = "ProductionListsViewController";
    std::string className() const override { return "ProductionListsViewController"; }

    Ref<WFCollectionView> waterfall() const;

    // A first page kept apart from the grid: appended here and followed by a reload, never shown.
    Array& productionsDataArr();
    void loadProductionsData();

    CGFloat collectionViewHeightForWidth(WFCollectionView& collectionView, CGFloat width,
                                         const Ref<NSIndexPath>& indexPath) override;

  protected:
    std::string productionCellIdentifier() const override {
        return QVNProductionSecondcell::kReuseIdentifier;
    }
    void prepareCollectionView() override;

  private:
    std::optional<Array> productionsDataArr_;
};
