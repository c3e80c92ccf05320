#pragma once
// QVNBrandCell: a row of the brand pick list, showing the brand's name. It comes from the nib
// "QVNBrandCell" (registered on first use of nib()); the owner registers that nib under
// "brandCell" and fills the list through its own data source. Main thread only.

#include <optional>
#include <string>

#include "app/QVNBrand.h"
#include "uikit/UILabel.h"
#include "uikit/UINib.h"
#include "uikit/UITableViewCell.h"

class QVNBrandCell : public UITableViewCell {
  public:
    static constexpr char kNibName[] = "QVNBrandCell";

    QVNBrandCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier)
        : UITableViewCell(style, std::move(reuseIdentifier)) {}
    std::string className() const override { return "QVNBrandCell"; }

    static Ref<UINib> nib();
    // Registers the nib (idempotent).
    static void registerNib();

    void awakeFromNib() override;
    void setSelected(bool selected, bool animated) override {
        UITableViewCell::setSelected(selected, animated);
    }
    const Ref<QVNBrand>& brand() const { return brand_; }
    // The label shows brand_name (empty without one).
    void setBrand(const Ref<QVNBrand>& brand);

    Weak<UILabel> carTitleLabel;

  private:
    Ref<QVNBrand> brand_;
};
