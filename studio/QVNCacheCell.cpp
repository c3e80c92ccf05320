#include "studio/QVNCacheCell.h"

#include "app/UIColor+Extensions.h"
#include "foundation/NSMainThreadCheck.h"
#include "images/UIImageView+WebCache.h"

Ref<QVNCacheCell> QVNCacheCell::makeCell(const std::string& reuseIdentifier) {
    auto cell = make<QVNCacheCell>(UITableViewCellStyleDefault, reuseIdentifier);
    cell->setFrame(CGRectMake(0, 0, 320, rowHeight()));
    auto image = make<UIImageView>(CGRectMake(15, 10, 117, 70));
    auto label = make<UILabel>(CGRectMake(145, 30, 110, 30));
    label->setTextColor(UIColor::whiteColor());
    auto button = make<UIButton>(CGRectMake(262, 25, 44, 40));
    button->setTitle(std::string("删除"), UIControlStateNormal);
    cell->contentView()->addSubview(image);
    cell->contentView()->addSubview(label);
    cell->contentView()->addSubview(button);
    cell->carImageView = image;
    cell->carNameLabel = label;
    cell->removeButton = button;
    Weak<QVNCacheCell> weakCell = cell;
    button->addTarget(
        cell,
        [weakCell](const Ref<NSObject>& sender, const Ref<UIEvent>&) {
            if (auto strong = weakCell.lock()) strong->removeCar(sender);
        },
        "removeCar:", UIControlEventTouchUpInside);
    cell->awakeFromNib();
    return cell;
}

void QVNCacheCell::awakeFromNib() {
    UITableViewCell::awakeFromNib();
    setBackgroundColor(UIColor_Extensions::QVNCacheTableViewColor());
}

void QVNCacheCell::setCarCache(const Ref<QVNCarCache>& carCache) {
    NS_ASSERT_MAIN_THREAD();
    carCache_ = carCache;
    if (auto image = carImageView.lock()) {
        Ref<NSURL> url =
            carCache && carCache->cars_logo ? NSURL::URLWithString(*carCache->cars_logo) : nullptr;
        UIImageView_WebCache::wi_setImageWithURL(image, url);
    }
    if (auto label = carNameLabel.lock()) label->setText(carCache ? carCache->car_en : std::nullopt);
}

void QVNCacheCell::removeCar(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    if (removeCarBlock_) removeCarBlock_(carCache_);
}
