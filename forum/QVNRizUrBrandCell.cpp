#include "forum/QVNRizUrBrandCell.h"

#include <mutex>

#include "foundation/NSMainThreadCheck.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"

void QVNRizUrBrandCell::registerNib() {
    static std::once_flag once;
    std::call_once(once, [] {
        UINib::registerNib(kNibName, [](const Ref<NSObject>&, const Dictionary&) {
            auto cell = make<QVNRizUrBrandCell>(UITableViewCellStyleDefault, std::nullopt);
            cell->setFrame(CGRectMake(0, 0, 100, 44));
            auto label = make<UILabel>(CGRectMake(8, 0, 84, 44));
            label->setTextAlignment(NSTextAlignmentCenter);
            cell->contentView()->addSubview(label);
            cell->brandLabel = label;
            cell->awakeFromNib();
            return std::vector<Ref<NSObject>>{cell};
        });
    });
}

Ref<UINib> QVNRizUrBrandCell::nib() {
    registerNib();
    return UINib::nibWithNibName(kNibName, nullptr);
}

void QVNRizUrBrandCell::awakeFromNib() {
    UITableViewCell::awakeFromNib();
    setBackgroundColor(UIColor::clearColor());
}

void QVNRizUrBrandCell::setCarBrand(const Ref<QVNMyCarBrand>& brand) {
    NS_ASSERT_MAIN_THREAD();
    carBrand_ = brand;
    if (brand && brand->brand_name == std::optional<std::string>("品牌"))
        brand->brand_name = std::string("所有");
    if (auto label = brandLabel.lock()) {
        label->setText(brand ? brand->brand_name : std::nullopt);
        label->setFont(UIFont::systemFontOfSize(15));
    }
}
