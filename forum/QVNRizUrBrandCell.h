#pragma once
// QVNRizUrBrandCell: a row of the brand drop-down (the list's filter and the publishing screen's
// choice), from the nib "QVNRizUrBrandCell". The all-brands entry is called "品牌" on the list's
// button while it is the chosen filter; the cell calls it "所有" again whenever it shows it.
// Main thread only.

#include <optional>
#include <string>

#include "forum/QVNQuestion.h"
#include "uikit/UILabel.h"
#include "uikit/UINib.h"
#include "uikit/UITableViewCell.h"

class QVNRizUrBrandCell : public UITableViewCell {
  public:
    static constexpr char kNibName[] = "QVNRizUrBrandCell";

    QVNRizUrBrandCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier)
        : UITableViewCell(style, std::move(reuseIdentifier)) {}
    std::string className() const override { return "QVNRizUrBrandCell"; }

    static Ref<UINib> nib();
    static void registerNib();

    void awakeFromNib() override;
    void setSelected(bool selected, bool animated) override {
        UITableViewCell::setSelected(selected, animated);
    }

    const Ref<QVNMyCarBrand>& carBrand() const { return carBrand_; }
    void setCarBrand(const Ref<QVNMyCarBrand>& brand);

    Weak<UILabel> brandLabel;

  private:
    Ref<QVNMyCarBrand> carBrand_;
};
