#include "forum/QVNRizUrDetailCell.h"

#include "forum/ForumResources.h"
#include "forum/ForumSupport.h"
#include "foundation/NSMainThreadCheck.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "images/UIButton+WebCache.h"
#include "images/UIImageView+WebCache.h"

using detail::forum::imageNamed;

namespace {

Ref<UIColor> countColour() {
    return UIColor::colorWithRed(11 / 255.0, 46 / 255.0, 53 / 255.0, 1);
}

std::string countTitle(const std::optional<NSNumber>& number) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "(%d)", number ? number->intValue() : 0);
    return buffer;
}

}  // namespace

void QVNRizUrDetailCell::didInit() {
    const Ref<UIView>& content = contentView();
    Ref<QVNRizUrDetailCell> self = selfAs<QVNRizUrDetailCell>();
    userNameBtn = UIButton::buttonWithType(UIButtonTypeCustom);
    userNameBtn->addTarget(self, &QVNRizUrDetailCell::tapUserImageAction,
                           "tapUserImageAction:", UIControlEventTouchUpInside);
    content->addSubview(userNameBtn);
    userNameLab = make<UILabel>();
    userNameLab->setTextAlignment(NSTextAlignmentLeft);
    content->addSubview(userNameLab);
    likeBtn = UIButton::buttonWithType(UIButtonTypeCustom);
    likeBtn->setContentHorizontalAlignment(UIControlContentHorizontalAlignmentLeft);
    likeBtn->titleLabel()->setFont(UIFont::systemFontOfSize(14));
    likeBtn->setTitleColor(countColour(), UIControlStateNormal);
    likeBtn->addTarget(self, &QVNRizUrDetailCell::likeButtonClick,
                       "likeButtonClick:", UIControlEventTouchUpInside);
    content->addSubview(likeBtn);
    commentBtn = UIButton::buttonWithType(UIButtonTypeCustom);
    commentBtn->titleLabel()->setFont(UIFont::systemFontOfSize(14));
    commentBtn->titleLabel()->setTextAlignment(NSTextAlignmentCenter);
    commentBtn->setTitleColor(countColour(), UIControlStateNormal);
    commentBtn->addTarget(self, &QVNRizUrDetailCell::commentButtonClick,
                          "commentButtonClick:", UIControlEventTouchUpInside);
    content->addSubview(commentBtn);
    dateTimeLab = make<UILabel>();
    dateTimeLab->setFont(UIFont::systemFontOfSize(11));
    dateTimeLab->setTextAlignment(NSTextAlignmentLeft);
    dateTimeLab->setTextColor(UIColor::lightGrayColor());
    content->addSubview(dateTimeLab);
    titleLab = make<UILabel>();
    titleLab->setTextAlignment(NSTextAlignmentLeft);
    titleLab->setFont(UIFont::systemFontOfSize(15));
    titleLab->setNumberOfLines(0);
    content->addSubview(titleLab);
    for (auto& view : imageArray) {
        view = make<UIImageView>();
        content->addSubview(view);
    }
}

void QVNRizUrDetailCell::setCommentFrame(const Ref<QVNRizUrDetailFrame>& frame) {
    NS_ASSERT_MAIN_THREAD();
    commentFrame_ = frame;
    settingFrame();
    settingData();
}

void QVNRizUrDetailCell::settingFrame() {
    if (!commentFrame_) return;
    const QVNRizUrDetailFrame& f = *commentFrame_;
    userNameBtn->setFrame(f.userNameImageF);
    userNameLab->setFrame(f.userNameF);
    likeBtn->setFrame(f.likeF);
    commentBtn->setFrame(f.commentF);
    dateTimeLab->setFrame(f.dateTimeF);
    titleLab->setFrame(f.titleF);
    for (std::size_t i = 0; i < imageArray.size(); ++i) {
        if (i < f.imageArray.size()) imageArray[i]->setFrame(f.imageArray[i]);
    }
}

void QVNRizUrDetailCell::settingData() {
    if (!commentFrame_ || !commentFrame_->comment()) return;
    const Ref<QVNQuestionComment>& c = commentFrame_->comment();
    userNameLab->setText(c->user_nickname);
    dateTimeLab->setText(c->replytime);
    titleLab->setText(c->re_content);
    likeBtn->setTitle(countTitle(c->like), UIControlStateNormal);
    commentBtn->setTitle(countTitle(c->reply), UIControlStateNormal);
    commentBtn->setImage(imageNamed("wodepinglun"), UIControlStateNormal);
    likeBtn->setImage(imageNamed(c->is_like() ? "dianzan_down" : "dianzan_up"), UIControlStateNormal);
    UIButton_WebCache::wi_setImageWithURL(userNameBtn,
                                          c->user_logo ? NSURL::URLWithString(*c->user_logo) : nullptr,
                                          UIControlStateNormal, imageNamed("touxiangmorentu"));
    std::vector<std::string> pictures = detail::forum::splitPictures(c->pic_url);
    for (std::size_t i = 0; i < imageArray.size(); ++i) {
        const Ref<UIImageView>& view = imageArray[i];
        if (i < pictures.size() && i < commentFrame_->imageArray.size()) {
            view->setHidden(false);
            UIImageView_WebCache::wi_setImageWithURL(view, NSURL::URLWithString(pictures[i]), Ref<UIImage>());
        } else {
            // Not this answer's: nothing of an earlier answer stays visible.
            UIImageView_WebCache::wi_setImageWithURL(view, Ref<NSURL>(), Ref<UIImage>());
            view->setImage(nullptr);
            view->setHidden(true);
        }
    }
}

void QVNRizUrDetailCell::likeButtonClick(const Ref<NSObject>&) {
    if (likeBlock) likeBlock(selfAs<QVNRizUrDetailCell>());
}

void QVNRizUrDetailCell::commentButtonClick(const Ref<NSObject>&) {
    if (commentBlock) commentBlock(selfAs<QVNRizUrDetailCell>());
}

void QVNRizUrDetailCell::tapUserImageAction(const Ref<NSObject>&) {
    if (detail::forum::currentUser() && tapUserImageblock) tapUserImageblock(selfAs<QVNRizUrDetailCell>());
}
