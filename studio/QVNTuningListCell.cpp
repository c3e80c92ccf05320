#include "studio/QVNTuningListCell.h"

#include "foundation/NSMainThreadCheck.h"
#include "graphics/UIFont.h"

QVNTuningListCell::QVNTuningListCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier)
    : UITableViewCell(style, std::move(reuseIdentifier)) {
    auto label = make<UILabel>(CGRectMake(15, 0, 200, 44));
    label->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    label->setTextColor(UIColor::whiteColor());
    label->setFont(UIFont::systemFontOfSize(16));
    contentView()->addSubview(label);
    listNameLabel = label;
}

void QVNTuningListCell::awakeFromNib() {
    UITableViewCell::awakeFromNib();
    setBackgroundColor(UIColor::clearColor());
    setSelectionStyle(UITableViewCellSelectionStyleNone);
}

void QVNTuningListCell::setTuningList(const Ref<QVNTuningList>& list) {
    NS_ASSERT_MAIN_THREAD();
    tuningList_ = list;
    setAccessoryType(list && list->selected ? UITableViewCellAccessoryCheckmark
                                            : UITableViewCellAccessoryNone);
    if (auto label = listNameLabel.lock()) label->setText(list ? list->list_name : std::nullopt);
}
