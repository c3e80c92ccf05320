#include "information/QVNNewsCommentCell.h"

#include <algorithm>
#include <cstdio>

#include "app/ScreenParts.h"
#include "foundation/NSString.h"
#include "foundation/NSURL.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "images/UIImageView+WebCache.h"
#include "images/WIWebImageManager.h"
#include "information/ArticleArtwork.h"
#include "uikit/UIScreen.h"
#include "uikit/UITapGestureRecognizer.h"

using detail::article::imageNamed;

namespace {

// The text starts beside the avatar, under the name and date.
constexpr CGFloat kTextLeft = 60;
constexpr CGFloat kTextTop = 54;
constexpr CGFloat kBottomMargin = 10;
constexpr CGFloat kMinimumHeight = 64;

std::string count(const std::optional<NSNumber>& number) {
    char text[32];
    std::snprintf(text, sizeof text, "(%d)", number ? number->intValue() : 0);
    return text;
}

Ref<UILabel> addLabel(const Ref<UIView>& parent, CGRect frame, CGFloat size, const Ref<UIColor>& colour) {
    auto label = ScreenParts::label(frame, size, colour);
    parent->addSubview(label);
    return label;
}

Ref<UIButton> addCountButton(const Ref<UIView>& parent, CGRect frame) {
    auto button = UIButton::buttonWithType(UIButtonTypeCustom);
    button->setFrame(frame);
    button->titleLabel()->setFont(UIFont::systemFontOfSize(12));
    button->setTitleColor(UIColor::grayColor(), UIControlStateNormal);
    button->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin);
    parent->addSubview(button);
    return button;
}

}  // namespace

QVNNewsCommentCell::QVNNewsCommentCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier)
    : UITableViewCell(style, std::move(reuseIdentifier)) {}

Ref<QVNNewsCommentCell> QVNNewsCommentCell::makePrototype(const std::string& reuseIdentifier) {
    auto cell = make<QVNNewsCommentCell>(UITableViewCellStyleDefault, reuseIdentifier);
    const CGFloat W = UIScreen::mainScreen()->bounds().size.width;
    cell->setFrame(CGRectMake(0, 0, W, kMinimumHeight));
    const Ref<UIView>& content = cell->contentView();
    auto avatar = make<UIImageView>(CGRectMake(10, 10, 40, 40));
    avatar->layer()->setCornerRadius(20);
    avatar->setClipsToBounds(true);
    avatar->setUserInteractionEnabled(true);
    content->addSubview(avatar);
    auto name =
        addLabel(content, CGRectMake(kTextLeft, 10, W - kTextLeft - 130, 20), 14, UIColor::darkGrayColor());
    auto date = addLabel(content, CGRectMake(kTextLeft, 32, 100, 16), 11, UIColor::grayColor());
    auto like = addCountButton(content, CGRectMake(W - 126, 10, 56, 24));
    like->setImageEdgeInsets(UIEdgeInsetsMake(3, 0, 3, 0));
    auto reply = addCountButton(content, CGRectMake(W - 66, 10, 56, 24));
    reply->setImage(imageNamed("wodepinglun"), UIControlStateNormal);
    auto text =
        addLabel(content, CGRectMake(kTextLeft, kTextTop, W - kTextLeft - 10, 0), 15, UIColor::blackColor());
    text->setNumberOfLines(0);

    cell->userImageView = avatar;
    cell->userNameLabel = name;
    cell->dateLabel = date;
    cell->likeButton = like;
    cell->replyButton = reply;
    cell->contentLabel = text;
    like->addTarget(cell, &QVNNewsCommentCell::like, "like:", UIControlEventTouchUpInside);
    reply->addTarget(cell, &QVNNewsCommentCell::replyComment, "replyComment:", UIControlEventTouchUpInside);
    Weak<QVNNewsCommentCell> weak = cell;
    avatar->addGestureRecognizer(
        make<UITapGestureRecognizer>(cell, [weak](const Ref<UIGestureRecognizer>& tap) {
            if (auto self = weak.lock()) self->checkUserInfo(tap);
        }));
    cell->awakeFromNib();
    return cell;
}

void QVNNewsCommentCell::awakeFromNib() {
    UITableViewCell::awakeFromNib();
    setSelectionStyle(UITableViewCellSelectionStyleNone);
}

void QVNNewsCommentCell::setComment(const Ref<QVNNewsComment>& comment) {
    comment_ = comment;
    if (!comment) return;
    if (auto label = userNameLabel.lock()) label->setText(comment->user_nickname);
    if (auto label = contentLabel.lock()) label->setText(comment->content);
    if (auto label = dateLabel.lock()) {
        // The first ten characters are the date ("yyyy-MM-dd").
        std::optional<std::string> date;
        if (comment->replytime) date = NSString::substringToIndex(*comment->replytime, 10);
        label->setText(date);
    }
    if (auto button = likeButton.lock()) {
        button->setImage(imageNamed(comment->is_like() ? "dianzan_down" : "dianzan_up"),
                         UIControlStateNormal);
        button->setTitle(count(comment->like), UIControlStateNormal);
    }
    if (auto button = replyButton.lock()) button->setTitle(count(comment->reply), UIControlStateNormal);
    if (auto avatar = userImageView.lock()) {
        // Server text: an address that does not parse leaves the placeholder.
        Ref<NSURL> url = comment->user_logo ? NSURL::URLWithString(*comment->user_logo) : nullptr;
        UIImageView_WebCache::wi_setImageWithURL(avatar, url, imageNamed("touxiangmorentu"),
                                                 WILoadRefreshCached);
    }
    setNeedsLayout();
}

void QVNNewsCommentCell::replyComment(const Ref<NSObject>&) {
    if (replyCommentBlock) replyCommentBlock(comment_);
}

void QVNNewsCommentCell::like(const Ref<NSObject>&) {
    if (likeBlock) likeBlock(comment_);
}

void QVNNewsCommentCell::checkUserInfo(const Ref<NSObject>&) {
    if (checkUserInfoBlock) checkUserInfoBlock(comment_);
}

void QVNNewsCommentCell::layoutSubviews() {
    UITableViewCell::layoutSubviews();
    auto text = contentLabel.lock();
    if (!text) return;
    const CGFloat width = std::max<CGFloat>(0, bounds().size.width - kTextLeft - 10);
    CGFloat height = text->sizeThatFits(CGSizeMake(width, 10000)).height;
    text->setFrame(CGRectMake(kTextLeft, kTextTop, width, height));
}

CGSize QVNNewsCommentCell::sizeThatFits(CGSize size) const {
    auto text = contentLabel.lock();
    const CGFloat width = std::max<CGFloat>(0, size.width - kTextLeft - 10);
    CGFloat textHeight = text ? text->sizeThatFits(CGSizeMake(width, 10000)).height : 0;
    return CGSizeMake(size.width, std::max(kMinimumHeight, kTextTop + textHeight + kBottomMargin));
}
