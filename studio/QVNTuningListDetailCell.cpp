#include "studio/QVNTuningListDetailCell.h"

#include "foundation/NSMainThreadCheck.h"
#include "graphics/UIFont.h"

QVNTuningListDetailCell::QVNTuningListDetailCell(UITableViewCellStyle style,
                                                 std::optional<std::string> reuseIdentifier)
    : UITableViewCell(style, std::move(reuseIdentifier)) {
    auto label = make<UILabel>(CGRectMake(15, 0, 200, 36));
    label->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    label->setTextColor(UIColor::whiteColor());
    label->setFont(UIFont::systemFontOfSize(15));
    contentView()->addSubview(label);
    tuningDetailLabel = label;
}

void QVNTuningListDetailCell::awakeFromNib() {
    UITableViewCell::awakeFromNib();
    setBackgroundColor(UIColor::clearColor());
    setSelectionStyle(UITableViewCellSelectionStyleNone);
}

void QVNTuningListDetailCell::setTuningDetail(const std::optional<std::string>& text) {
    NS_ASSERT_MAIN_THREAD();
    tuningDetail_ = text;
    if (auto label = tuningDetailLabel.lock()) label->setText(text);
}
