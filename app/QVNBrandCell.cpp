#include "app/QVNBrandCell.h"

#include <mutex>

#include "foundation/NSMainThreadCheck.h"
#include "graphics/UIColor.h"

void QVNBrandCell::registerNib() {
    static std::once_flag once;
    std::call_once(once, [] {
        UINib::registerNib(kNibName, [](const Ref<NSObject>&, const Dictionary&) {
            auto cell = make<QVNBrandCell>(UITableViewCellStyleDefault, std::nullopt);
            cell->setFrame(CGRectMake(0, 0, 100, 36));
            auto label = make<UILabel>(CGRectMake(8, 0, 84, 36));
            label->setTextAlignment(NSTextAlignmentCenter);
            cell->contentView()->addSubview(label);
            cell->carTitleLabel = label;
            cell->awakeFromNib();
            return std::vector<Ref<NSObject>>{cell};
        });
    });
}

Ref<UINib> QVNBrandCell::nib() {
    registerNib();
    return UINib::nibWithNibName(kNibName, nullptr);
}

void QVNBrandCell::awakeFromNib() {
    UITableViewCell::awakeFromNib();
    setBackgroundColor(UIColor::clearColor());
}

void QVNBrandCell::setBrand(const Ref<QVNBrand>& brand) {
    NS_ASSERT_MAIN_THREAD();
    brand_ = brand;
    if (auto label = carTitleLabel.lock())
        label->setText(brand && brand->brand_name ? *brand->brand_name : std::string());
}
