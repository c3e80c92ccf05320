#include "account/QVNAddFriendCell.h"

#include "account/AccountArtwork.h"
#include "app/UIColor+Extensions.h"
#include "foundation/NSURL.h"
#include "graphics/UIFont.h"
#include "images/UIImageView+WebCache.h"
#include "images/WIWebImageManager.h"
#include "uikit/UIScreen.h"
#include "uikit/UITapGestureRecognizer.h"

QVNAddFriendCell::QVNAddFriendCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier)
    : UITableViewCell(style, std::move(reuseIdentifier)) {}

Ref<QVNAddFriendCell> QVNAddFriendCell::makePrototype() {
    auto cell = make<QVNAddFriendCell>(UITableViewCellStyleDefault, std::string(kIdentifier));
    CGFloat width = UIScreen::mainScreen()->bounds().size.width;
    const Ref<UIView>& content = cell->contentView();
    auto avatar = make<UIImageView>(CGRectMake(12, 8, 48, 48));
    avatar->layer()->setCornerRadius(24);
    avatar->setClipsToBounds(true);
    avatar->setUserInteractionEnabled(true);
    content->addSubview(avatar);
    auto name = make<UILabel>(CGRectMake(72, 20, width - 170, 24));
    name->setFont(UIFont::systemFontOfSize(16));
    name->setTextColor(UIColor::darkGrayColor());
    content->addSubview(name);
    auto add = UIButton::buttonWithType(UIButtonTypeCustom);
    add->setFrame(CGRectMake(width - 88, 16, 76, 32));
    add->setTitle(std::string("加好友"), UIControlStateNormal);
    add->setTitleColor(UIColor::whiteColor(), UIControlStateNormal);
    add->titleLabel()->setFont(UIFont::systemFontOfSize(14));
    add->setBackgroundColor(UIColor_Extensions::QVNDeepAccentColor());
    add->layer()->setCornerRadius(4);
    content->addSubview(add);
    cell->userImage = avatar;
    cell->userName = name;
    cell->addFriendBtn = add;
    add->addTarget(cell, &QVNAddFriendCell::addFriend, "addFriend:", UIControlEventTouchUpInside);
    Weak<QVNAddFriendCell> weak = cell;
    avatar->addGestureRecognizer(make<UITapGestureRecognizer>(cell, [weak](const Ref<UIGestureRecognizer>&) {
        if (auto self = weak.lock()) self->tapUserImageAction(nullptr);
    }));
    return cell;
}

Ref<QVNAddFriendCell> QVNAddFriendCell::cellWithTableView(UITableView& tableView) {
    return std::dynamic_pointer_cast<QVNAddFriendCell>(
        tableView.dequeueReusableCellWithIdentifier(kIdentifier));
}

void QVNAddFriendCell::setFriends(const Ref<QVNFriend>& record) {
    friends_ = record;
    // A reused row may have shown a stranger before: the button follows this record alone.
    if (auto button = addFriendBtn.lock()) button->setHidden(record && record->isFriend);
    if (!record) return;
    if (auto label = userName.lock()) label->setText(record->user_nickname);
    if (auto avatar = userImage.lock()) {
        UIImageView_WebCache::wi_setImageWithURL(avatar, NSURL::URLWithString(record->user_logo.value_or("")),
                                                 AccountArtwork::imageNamed("touxiangmorentu"),
                                                 WILoadRefreshCached);
    }
}

void QVNAddFriendCell::addFriend(const Ref<NSObject>&) {
    if (addFriendBlock) addFriendBlock(selfAs<QVNAddFriendCell>());
}

void QVNAddFriendCell::tapUserImageAction(const Ref<NSObject>&) {
    if (tapUserImageBlock) tapUserImageBlock(selfAs<QVNAddFriendCell>());
}
