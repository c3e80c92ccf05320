#include "information/ProductionListViewController.h"

#include "graphics/UIColor.h"
#include "uikit/UIScreen.h"

Ref<ProductionListViewController>
ProductionListViewController::withLayout(Ref<UICollectionViewLayout> layout) {
    auto screen = make<ProductionListViewController>();
    if (!layout) layout = make<ProductionLayout>();
    screen->setViewLoader([layout](UIViewController& owner) -> Ref<UIView> {
        auto& gallery = static_cast<ProductionListViewController&>(owner);
        const CGRect bounds = UIScreen::mainScreen()->bounds();
        auto view = make<UIView>(bounds);
        view->setBackgroundColor(UIColor::colorWithWhite(0.93, 1));
        auto grid = make<UICollectionView>(
            CGRectMake(0, gridTop(), bounds.size.width, bounds.size.height - gridTop()), layout);
        grid->setBackgroundColor(UIColor::clearColor());
        grid->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
        grid->registerClass<QVNProductionCell>(QVNProductionCell::kReuseIdentifier);
        grid->setDelegate(gallery.selfAs<ProductionListViewController>());
        view->addSubview(grid);
        gallery.collectionView = grid;
        return view;
    });
    return screen;
}

void ProductionListViewController::prepareCollectionView() {
    numberOfColumns_ = 2;
    cellPadding_ = 2.5;
    addTitleBar();
    // A flow layout sizes its cards from the content width: settle the inset before its first pass.
    if (auto grid = collectionView.lock())
        if (std::dynamic_pointer_cast<UICollectionViewFlowLayout>(grid->collectionViewLayout()))
            collectionViewContentWidth();
}

double ProductionListViewController::collectionViewContentWidth() {
    if (collectionViewContentWidth_ > 0) return collectionViewContentWidth_;
    Ref<UICollectionView> grid = collectionView.lock();
    if (!grid) return 0;
    grid->setContentInset(UIEdgeInsetsMake(5, 5, 5, 5));
    // A grid not yet sized is asked again later.
    collectionViewContentWidth_ = std::max(0.0, static_cast<double>(grid->bounds().size.width) - 10);
    return collectionViewContentWidth_;
}

std::optional<CGSize> ProductionListViewController::collectionViewLayoutSizeForItemAtIndexPath(
    UICollectionView&, UICollectionViewLayout&, const Ref<NSIndexPath>&) {
    if (numberOfColumns_ < 1) return std::nullopt;
    const double width = collectionViewContentWidth() / numberOfColumns_ - 2 * cellPadding_;
    return CGSizeMake(std::max(0.0, width), QVNProductionCell::height());
}
