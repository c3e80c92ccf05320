#include "app/QVNCarCell.h"

#include <mutex>

#include "foundation/NSMainThreadCheck.h"
#include "graphics/UIColor.h"
#include "images/UIImageView+WebCache.h"

void QVNCarCell::registerNib() {
    static std::once_flag once;
    std::call_once(once, [] {
        UINib::registerNib(kNibName, [](const Ref<NSObject>&, const Dictionary&) {
            auto cell = make<QVNCarCell>(UITableViewCellStyleDefault, std::nullopt);
            cell->setFrame(CGRectMake(0, 0, 160, rowHeight()));
            auto image = make<UIImageView>(CGRectMake(10, 8, 140, 90));
            auto label = make<UILabel>(CGRectMake(10, 102, 140, 24));
            label->setTextAlignment(NSTextAlignmentCenter);
            cell->contentView()->addSubview(image);
            cell->contentView()->addSubview(label);
            cell->carImageView = image;
            cell->carLabel = label;
            cell->awakeFromNib();
            return std::vector<Ref<NSObject>>{cell};
        });
    });
}

Ref<UINib> QVNCarCell::nib() {
    registerNib();
    return UINib::nibWithNibName(kNibName, nullptr);
}

void QVNCarCell::awakeFromNib() {
    UITableViewCell::awakeFromNib();
    setBackgroundColor(UIColor::clearColor());
}

void QVNCarCell::setCar(const Ref<QVNCatalogueCar>& car) {
    NS_ASSERT_MAIN_THREAD();
    car_ = car;
    if (auto label = carLabel.lock()) label->setText(car ? car->cars_name : std::nullopt);
    if (auto image = carImageView.lock()) {
        Ref<NSURL> url = car && car->cars_logo ? NSURL::URLWithString(*car->cars_logo) : nullptr;
        UIImageView_WebCache::wi_setImageWithURL(image, url);
    }
}
