#pragma once
// QVNCarCell: a row of the car pick list: the car's logo (through the image cache) and its name.
// It comes from the nib "QVNCarCell" (registered on first use of nib()). Main thread only.

#include <optional>
#include <string>

#include "app/QVNCatalogueCar.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UINib.h"
#include "uikit/UITableViewCell.h"

class QVNCarCell : public UITableViewCell {
  public:
    static constexpr char kNibName[] = "QVNCarCell";

    QVNCarCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier)
        : UITableViewCell(style, std::move(reuseIdentifier)) {}
    std::string className() const override { return "QVNCarCell"; }

    static Ref<UINib> nib();
    static void registerNib();
    static double rowHeight() { return 134.0; }

    void awakeFromNib() override;
    void setSelected(bool selected, bool animated) override {
        UITableViewCell::setSelected(selected, animated);
    }
    const Ref<QVNCatalogueCar>& car() const { return car_; }
    void setCar(const Ref<QVNCatalogueCar>& car);

    Weak<UIImageView> carImageView;
    Weak<UILabel> carLabel;

  private:
    Ref<QVNCatalogueCar> car_;
};
