#pragma once
// QVNTuningListDetailCell: one row of the tuning-list detail: a part and its chosen option as
// text. Clear, without selection highlighting.
//
// Main thread only.

#include <optional>
#include <string>

#include "uikit/UILabel.h"
#include "uikit/UITableViewCell.h"

class QVNTuningListDetailCell : public UITableViewCell {
  public:
    QVNTuningListDetailCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier);
    std::string className() const override { return "QVNTuningListDetailCell"; }
    void awakeFromNib() override;

    Weak<UILabel> tuningDetailLabel;

    const std::optional<std::string>& tuningDetail() const { return tuningDetail_; }
    void setTuningDetail(const std::optional<std::string>& text);

  private:
    std::optional<std::string> tuningDetail_;
};
