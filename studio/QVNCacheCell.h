#pragma once
// QVNCacheCell: a row of the cached-cars screen: the car's logo, its folder word and a remove
// button that hands the row's entry to removeCarBlock. The storyboard's prototype "CacheCell" is
// built by makeCell (the outlets connected, awakeFromNib run). Main thread only.

#include <functional>
#include <optional>
#include <string>

#include "studio/QVNCarCache.h"
#include "uikit/UIButton.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UITableViewCell.h"

class QVNCacheCell : public UITableViewCell {
  public:
    using RemoveCarBlock = std::function<void(const Ref<QVNCarCache>& carCache)>;

    QVNCacheCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier)
        : UITableViewCell(style, std::move(reuseIdentifier)) {}
    std::string className() const override { return "QVNCacheCell"; }

    // The prototype cell of the storyboard scene.
    static Ref<QVNCacheCell> makeCell(const std::string& reuseIdentifier);
    static double rowHeight() { return 90.0; }

    void awakeFromNib() override;
    const Ref<QVNCarCache>& carCache() const { return carCache_; }
    // Loads the logo through the image cache and shows the folder word.
    void setCarCache(const Ref<QVNCarCache>& carCache);
    const RemoveCarBlock& removeCarBlock() const { return removeCarBlock_; }
    void setRemoveCarBlock(RemoveCarBlock block) { removeCarBlock_ = std::move(block); }
    // The remove button's action.
    void removeCar(const Ref<NSObject>& sender);

    Weak<UIImageView> carImageView;
    Weak<UILabel> carNameLabel;
    Weak<UIButton> removeButton;

  private:
    Ref<QVNCarCache> carCache_;
    RemoveCarBlock removeCarBlock_;
};
