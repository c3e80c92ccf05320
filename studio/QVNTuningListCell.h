#pragma once
// QVNTuningListCell: one row of the tuning-list screen: the list's name, and a checkmark when the
// list is the chosen one (its `selected` mark). Clear, without selection highlighting.
//
// Main thread only.

#include <optional>
#include <string>

#include "app/QVNTuningList.h"
#include "uikit/UILabel.h"
#include "uikit/UITableViewCell.h"

class QVNTuningListCell : public UITableViewCell {
  public:
    QVNTuningListCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier);
    std::string className() const override { return "QVNTuningListCell"; }
    void awakeFromNib() override;

    Weak<UILabel> listNameLabel;

    const Ref<QVNTuningList>& tuningList() const { return tuningList_; }
    // Shows the list's name and its mark.
    void setTuningList(const Ref<QVNTuningList>& list);

  private:
    Ref<QVNTuningList> tuningList_;
};
