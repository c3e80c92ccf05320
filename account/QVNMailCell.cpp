#include "account/QVNMailCell.h"

#include <algorithm>

#include "account/AccountArtwork.h"
#include "app/UIColor+Extensions.h"
#include "foundation/NSURL.h"
#include "graphics/UIFont.h"
#include "images/UIButton+WebCache.h"
#include "images/WIWebImageManager.h"
#include "uikit/UIScreen.h"

namespace {

constexpr CGFloat kAvatar = 40;
constexpr CGFloat kMargin = 10;
constexpr CGFloat kDateHeight = 18;
constexpr CGFloat kBubblePadding = 10;

}  // namespace

QVNMailCell::QVNMailCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier)
    : UITableViewCell(style, std::move(reuseIdentifier)) {}

bool QVNMailCell::own() const {
    return reuseIdentifier() == std::optional<std::string>(kOwnIdentifier);
}

Ref<QVNMailCell> QVNMailCell::makePrototype(const std::string& identifier) {
    auto cell = make<QVNMailCell>(UITableViewCellStyleDefault, identifier);
    const Ref<UIView>& content = cell->contentView();
    auto date = make<UILabel>(CGRectZero);
    date->setFont(UIFont::systemFontOfSize(11));
    date->setTextColor(UIColor::grayColor());
    date->setTextAlignment(NSTextAlignmentCenter);
    content->addSubview(date);
    auto avatar = UIButton::buttonWithType(UIButtonTypeCustom);
    avatar->layer()->setCornerRadius(kAvatar / 2);
    avatar->setClipsToBounds(true);
    content->addSubview(avatar);
    auto bubble = UIButton::buttonWithType(UIButtonTypeCustom);
    bubble->layer()->setCornerRadius(8);
    // The user's own words are white on the deeper accent, which they read on.
    bubble->setBackgroundColor(identifier == kOwnIdentifier ? UIColor_Extensions::QVNDeepAccentColor()
                                                            : UIColor::whiteColor());
    content->addSubview(bubble);
    auto text = make<UILabel>(CGRectZero);
    text->setFont(UIFont::systemFontOfSize(15));
    text->setNumberOfLines(0);
    text->setTextColor(identifier == kOwnIdentifier ? UIColor::whiteColor() : UIColor::darkGrayColor());
    content->addSubview(text);
    cell->dateLabel = date;
    cell->userIconButton = avatar;
    cell->contentButton = bubble;
    cell->contentLabel = text;
    cell->awakeFromNib();
    return cell;
}

void QVNMailCell::awakeFromNib() {
    UITableViewCell::awakeFromNib();
    setSelectionStyle(UITableViewCellSelectionStyleNone);
    setBackgroundColor(UIColor::clearColor());
    if (auto bubble = contentButton.lock()) bubble->titleLabel()->setNumberOfLines(0);
}

void QVNMailCell::setMail(const Ref<QVNMail>& mail) {
    mail_ = mail;
    if (!mail) return;
    if (auto avatar = userIconButton.lock()) {
        UIButton_WebCache::wi_setImageWithURL(
            avatar, NSURL::URLWithString(mail->sender_logo.value_or("")), UIControlStateNormal,
            AccountArtwork::imageNamed("touxiangmorentu"), WILoadRefreshCached);
    }
    if (auto label = dateLabel.lock()) label->setText(mail->message_time);
    if (auto label = contentLabel.lock()) label->setText(mail->message_content);
    setNeedsLayout();
}

CGSize QVNMailCell::sizeThatFits(CGSize size) const {
    CGFloat width = size.width > 0 ? size.width : UIScreen::mainScreen()->bounds().size.width;
    CGFloat textWidth = width * 0.6;
    CGFloat textHeight = 20;
    if (auto label = contentLabel.lock())
        textHeight = std::max<CGFloat>(20, label->sizeThatFits(CGSizeMake(textWidth, 10000)).height);
    CGFloat bubble = std::max(kAvatar, textHeight + 2 * kBubblePadding);
    return CGSizeMake(width, kMargin + kDateHeight + bubble + kMargin);
}

void QVNMailCell::layoutSubviews() {
    UITableViewCell::layoutSubviews();
    CGFloat width = contentView()->bounds().size.width;
    CGFloat textWidth = width * 0.6;
    auto label = contentLabel.lock();
    CGSize text = label ? label->sizeThatFits(CGSizeMake(textWidth, 10000)) : CGSizeMake(0, 20);
    text.width = std::min(text.width, textWidth);
    text.height = std::max<CGFloat>(20, text.height);
    CGFloat top = kMargin + kDateHeight;
    if (auto date = dateLabel.lock()) date->setFrame(CGRectMake(0, kMargin / 2, width, kDateHeight));
    CGFloat avatarX = own() ? width - kMargin - kAvatar : kMargin;
    if (auto avatar = userIconButton.lock()) avatar->setFrame(CGRectMake(avatarX, top, kAvatar, kAvatar));
    CGFloat bubbleWidth = text.width + 2 * kBubblePadding;
    CGFloat bubbleX = own() ? avatarX - kMargin - bubbleWidth : avatarX + kAvatar + kMargin;
    CGRect bubble =
        CGRectMake(bubbleX, top, bubbleWidth, std::max(kAvatar, text.height + 2 * kBubblePadding));
    if (auto button = contentButton.lock()) button->setFrame(bubble);
    if (label) label->setFrame(CGRectInset(bubble, kBubblePadding, kBubblePadding));
}
