#include "account/QVNMessageCell.h"

#include "account/AccountArtwork.h"
#include "app/ScreenParts.h"
#include "foundation/NSURL.h"
#include "graphics/UIFont.h"
#include "images/UIImageView+WebCache.h"
#include "images/WIWebImageManager.h"
#include "uikit/UIScreen.h"

namespace {

Ref<UILabel> addLabel(const Ref<UIView>& parent, CGRect frame, CGFloat size, const Ref<UIColor>& colour) {
    auto label = ScreenParts::label(frame, size, colour);
    label->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    parent->addSubview(label);
    return label;
}

bool isUnread(const Ref<QVNMessage>& message) {
    return message->message_read && message->message_read->integerValue() == 0;
}

}  // namespace

QVNMessageCell::QVNMessageCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier)
    : UITableViewCell(style, std::move(reuseIdentifier)) {}

Ref<QVNMessageCell> QVNMessageCell::makePrototype(const std::string& identifier) {
    auto cell = make<QVNMessageCell>(UITableViewCellStyleDefault, identifier);
    CGFloat width = UIScreen::mainScreen()->bounds().size.width;
    cell->setFrame(CGRectMake(0, 0, width, 70));
    const Ref<UIView>& content = cell->contentView();
    Ref<UIColor> dark = UIColor::darkGrayColor(), grey = UIColor::grayColor();
    if (identifier == kSystemIdentifier) {
        auto holder = make<UIImageView>(CGRectMake(12, 16, 28, 28));
        holder->setBackgroundColor(UIColor::colorWithRed(99 / 255.0, 214 / 255.0, 228 / 255.0, 1));
        holder->layer()->setCornerRadius(14);
        content->addSubview(holder);
        cell->siTongHolderImage = holder;
        cell->digestLabel = addLabel(content, CGRectMake(52, 8, width - 64, 24), 15, dark);
        cell->dateLabel = addLabel(content, CGRectMake(52, 34, width - 64, 18), 12, grey);
    } else {
        auto avatar = make<UIImageView>(CGRectMake(12, 10, 50, 50));
        avatar->layer()->setCornerRadius(25);
        avatar->setClipsToBounds(true);
        content->addSubview(avatar);
        cell->userImageView = avatar;
        cell->userNameLabel = addLabel(content, CGRectMake(74, 10, width - 190, 22), 16, dark);
        cell->dateLabel = addLabel(content, CGRectMake(width - 160, 10, 148, 18), 12, grey);
        cell->dateLabel.lock()->setTextAlignment(NSTextAlignmentRight);
        cell->digestLabel = addLabel(content, CGRectMake(74, 36, width - 86, 22), 14, grey);
    }
    return cell;
}

CGSize QVNMessageCell::sizeThatFits(CGSize size) const {
    return CGSizeMake(size.width,
                      reuseIdentifier() == std::optional<std::string>(kSystemIdentifier) ? 60 : 70);
}

const Ref<UIImageView>& QVNMessageCell::dotImage() {
    if (!dotImage_) {
        auto avatar = userImageView.lock();
        CGFloat y = avatar ? avatar->frame().origin.y : 0;
        dotImage_ = make<UIImageView>(CGRectMake(y, y, 10, 10));
        dotImage_->setImage(AccountArtwork::imageNamed("dot_05"));
    }
    return dotImage_;
}

const Ref<UIImageView>& QVNMessageCell::siTongDotImage() {
    if (!siTongDotImage_) {
        auto holder = siTongHolderImage.lock();
        CGFloat y = holder ? holder->frame().origin.y : 0;
        siTongDotImage_ = make<UIImageView>(CGRectMake(y, y, 10, 10));
        siTongDotImage_->setImage(AccountArtwork::imageNamed("dot_05"));
    }
    return siTongDotImage_;
}

void QVNMessageCell::setMessage(const Ref<QVNMessage>& message) {
    message_ = message;
    if (!message) return;
    if (auto label = userNameLabel.lock()) label->setText(message->sender_nickname);
    if (auto label = digestLabel.lock()) label->setText(message->message_content);
    if (auto label = dateLabel.lock()) label->setText(message->message_time);
    if (message->sender_logo) {
        if (auto avatar = userImageView.lock()) {
            UIImageView_WebCache::wi_setImageWithURL(avatar, NSURL::URLWithString(*message->sender_logo),
                                                     AccountArtwork::imageNamed("touxiangmorentu"),
                                                     WILoadRefreshCached);
        }
        if (isUnread(message)) {
            addSubview(dotImage());
        } else {
            dotImage()->removeFromSuperview();
        }
    }
    if (message->message_category &&
        message->message_category->integerValue() == QVNMessage::kCategorySystem) {
        if (isUnread(message)) {
            addSubview(siTongDotImage());
        } else {
            siTongDotImage()->removeFromSuperview();
        }
    }
}
