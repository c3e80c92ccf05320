#include "information/ProductionListsViewController.h"

#include "graphics/UIColor.h"

Ref<WFCollectionView> ProductionListsViewController::waterfall() const {
    return std::dynamic_pointer_cast<WFCollectionView>(collectionView.lock());
}

void ProductionListsViewController::prepareCollectionView() {
    const Ref<UIView>& root = view();
    root->setBackgroundColor(UIColor::colorWithWhite(0.93, 1));
    addTitleBar();
    if (collectionView.lock()) return;
    const CGSize size = root->bounds().size;
    auto grid = WFCollectionView::collectionViewWithFrame(
        CGRectMake(0, gridTop(), size.width, size.height - gridTop()));
    grid->setBackgroundColor(UIColor::clearColor());
    grid->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    grid->setDelegate(selfAs<ProductionListsViewController>());
    grid->registerNib(QVNProductionSecondcell::nib(), QVNProductionSecondcell::kReuseIdentifier);
    root->addSubview(grid);
    collectionView = grid;
}

Array& ProductionListsViewController::productionsDataArr() {
    if (!productionsDataArr_) productionsDataArr_ = Array::mutableArray();
    return *productionsDataArr_;
}

void ProductionListsViewController::loadProductionsData() {
    Weak<ProductionListsViewController> weak = selfAs<ProductionListsViewController>();
    QVNProduction::fetchProductionsForActivity(
        activity(), [weak](const std::optional<QVNProduction::List>& list) {
            auto self = weak.lock();
            if (!self || !list) return;
            for (const auto& production : *list) self->productionsDataArr().addObject(Value(production));
            if (auto grid = self->collectionView.lock()) grid->reloadData();
        });
}

CGFloat ProductionListsViewController::collectionViewHeightForWidth(WFCollectionView&, CGFloat width,
                                                                    const Ref<NSIndexPath>& indexPath) {
    return indexPath && indexPath->row() == 1 ? width * 1.3 : width * 1.09;
}
