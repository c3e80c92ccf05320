#include "account/QVNFriendCell.h"

#include "account/AccountArtwork.h"
#include "app/QVNUserManager.h"
#include "foundation/NSURL.h"
#include "graphics/UIFont.h"
#include "images/UIImageView+WebCache.h"
#include "images/WIImageCache.h"
#include "uikit/UIScreen.h"
#include "uikit/UITapGestureRecognizer.h"

QVNFriendCell::QVNFriendCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier)
    : UITableViewCell(style, std::move(reuseIdentifier)) {}

Ref<QVNFriendCell> QVNFriendCell::makePrototype() {
    auto cell = make<QVNFriendCell>(UITableViewCellStyleDefault, std::string(kIdentifier));
    CGFloat width = UIScreen::mainScreen()->bounds().size.width;
    const Ref<UIView>& content = cell->contentView();
    auto avatar = make<UIImageView>(CGRectMake(12, 8, 48, 48));
    avatar->layer()->setCornerRadius(24);
    avatar->setClipsToBounds(true);
    avatar->setUserInteractionEnabled(true);
    content->addSubview(avatar);
    auto name = make<UILabel>(CGRectMake(72, 20, width - 84, 24));
    name->setFont(UIFont::systemFontOfSize(16));
    name->setTextColor(UIColor::darkGrayColor());
    content->addSubview(name);
    cell->userImageView = avatar;
    cell->userNameLabel = name;
    Weak<QVNFriendCell> weak = cell;
    avatar->addGestureRecognizer(make<UITapGestureRecognizer>(cell, [weak](const Ref<UIGestureRecognizer>&) {
        if (auto self = weak.lock()) self->tapUserImageAction(nullptr);
    }));
    return cell;
}

void QVNFriendCell::setMyFriend(const Ref<QVNFriend>& myFriend) {
    myFriend_ = myFriend;
    if (!myFriend) return;
    if (auto label = userNameLabel.lock()) label->setText(myFriend->user_nickname);
    auto avatar = userImageView.lock();
    if (!avatar) return;
    std::optional<std::string> key = myFriend->user_logo;
    Weak<UIImageView> weakAvatar = avatar;
    Weak<QVNFriendCell> weak = selfAs<QVNFriendCell>();
    Ref<QVNFriend> shown = myFriend;
    WIImageCache::sharedImageCache()->queryDiskCacheForKey(
        key, [weak, weakAvatar, key, shown](const Ref<UIImage>& image, WICacheSource) {
            auto self = weak.lock();
            auto view = weakAvatar.lock();
            // A reused row may show another friend by now.
            if (!self || !view || self->myFriend_ != shown) return;
            if (image) {
                view->setImage(image);
                return;
            }
            UIImageView_WebCache::wi_setImageWithURL(
                view, NSURL::URLWithString(key.value_or("")), AccountArtwork::imageNamed("touxiang.jpg"),
                [key](const Ref<UIImage>& loaded, const Ref<NSError>&, WICacheSource, const Ref<NSURL>&) {
                    if (loaded) WIImageCache::sharedImageCache()->storeImage(loaded, key);
                });
        });
}

void QVNFriendCell::tapUserImageAction(const Ref<NSObject>&) {
    if (!QVNUserManager::shareObject()->hasCurrentUser()) return;
    if (tapUserImageBlock) tapUserImageBlock(selfAs<QVNFriendCell>());
}
