#include "app/QVNCarTableView.h"

#include "app/QVNCarCell.h"
#include "foundation/NSMainThreadCheck.h"
#include "graphics/UIColor.h"
#include "uikit/UIImageView.h"

void QVNCarTableView::didInit() {
    UITableView::didInit();
    setupTableView();
}

void QVNCarTableView::setupTableView() {
    NS_ASSERT_MAIN_THREAD();
    setRowHeight(QVNCarCell::rowHeight());
    registerNib(QVNCarCell::nib(), kCellIdentifier);
    setBackgroundView(make<UIImageView>(UIImage::imageNamed(kBackgroundImageName)));
    setBackgroundColor(UIColor::clearColor());
    setSeparatorStyle(UITableViewCellSeparatorStyleNone);
}

void QVNCarTableView::setCars(const std::optional<Array>& cars) {
    NS_ASSERT_MAIN_THREAD();
    cars_ = cars;
    carsDataSource_ =
        make<ArrayDataSource>(cars, kCellIdentifier, [](const Ref<UIView>& view, const Value& item) {
            if (auto cell = asKind<QVNCarCell>(view)) cell->setCar(item.objectAs<QVNCatalogueCar>());
        });
    setDataSource(carsDataSource_);
    carsDataSource_->setTableView(selfAs<UITableView>());
}
