#include "forum/QVNRizUrCell.h"

#include "dispatch/Dispatch.h"
#include "forum/ForumResources.h"
#include "forum/ForumSupport.h"
#include "foundation/NSFileManager.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSPathUtilities.h"
#include "graphics/CGImage.h"
#include "graphics/UIFont.h"
#include "graphics/UIGraphics.h"
#include "images/UIButton+WebCache.h"
#include "images/UIImageView+WebCache.h"
#include "network/NSData+URL.h"
#include "security/CommonDigest.h"

using detail::forum::imageNamed;

namespace {

Ref<UIColor> countColour() {
    return UIColor::colorWithRed(11 / 255.0, 46 / 255.0, 53 / 255.0, 1);
}

std::string cachesFolder() {
    auto folders = NSSearchPathForDirectoriesInDomains(NSCachesDirectory, NSUserDomainMask, true);
    return folders.empty() ? std::string() : folders.front();
}

std::string md5Hex(const std::string& text) {
    unsigned char digest[CC_MD5_DIGEST_LENGTH];
    CC_MD5(text.data(), static_cast<CC_LONG>(text.size()), digest);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char byte : digest) {
        out += hex[byte >> 4];
        out += hex[byte & 15];
    }
    return out;
}

std::string countTitle(const char* format, const std::optional<NSNumber>& number) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, format, number ? number->intValue() : 0);
    return buffer;
}

Ref<NSURL> urlOf(const std::optional<std::string>& text) {
    return text ? NSURL::URLWithString(*text) : nullptr;
}

}  // namespace

QVNRizUrCell::QVNRizUrCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier)
    : UITableViewCell(style, std::move(reuseIdentifier)) {}

void QVNRizUrCell::didInit() {
    const Ref<UIView>& content = contentView();
    Ref<QVNRizUrCell> self = selfAs<QVNRizUrCell>();

    userNameBtn = UIButton::buttonWithType(UIButtonTypeCustom);
    userNameBtn->addTarget(self, &QVNRizUrCell::tapUserImageAction,
                           "tapUserImageAction:", UIControlEventTouchUpInside);
    content->addSubview(userNameBtn);

    userNameLab = make<UILabel>();
    userNameLab->setTextAlignment(NSTextAlignmentLeft);
    content->addSubview(userNameLab);

    likeBtn = UIButton::buttonWithType(UIButtonTypeCustom);
    likeBtn->setContentHorizontalAlignment(UIControlContentHorizontalAlignmentLeft);
    likeBtn->titleLabel()->setFont(UIFont::systemFontOfSize(14));
    likeBtn->setTitleColor(countColour(), UIControlStateNormal);
    likeBtn->addTarget(self, &QVNRizUrCell::likeClick, "likeClick", UIControlEventTouchUpInside);
    content->addSubview(likeBtn);

    commentBtn = UIButton::buttonWithType(UIButtonTypeCustom);
    commentBtn->titleLabel()->setFont(UIFont::systemFontOfSize(14));
    commentBtn->titleLabel()->setTextAlignment(NSTextAlignmentCenter);
    commentBtn->setTitleColor(countColour(), UIControlStateNormal);
    commentBtn->addTarget(self, &QVNRizUrCell::replyClick, "replyClick", UIControlEventTouchUpInside);
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

    for (Ref<UIImageView>* view : {&leftImageView, &centerImageView, &rightImageView}) {
        *view = make<UIImageView>();
        (*view)->setContentMode(UIViewContentModeScaleAspectFit);
        content->addSubview(*view);
    }
}

void QVNRizUrCell::likeClick() {
    if (likeBlock) likeBlock(selfAs<QVNRizUrCell>());
}

void QVNRizUrCell::replyClick() {
    if (replyBlock) replyBlock(selfAs<QVNRizUrCell>());
}

void QVNRizUrCell::tapUserImageAction(const Ref<NSObject>&) {
    if (!detail::forum::currentUser()) return;
    if (tapUserImageBlock) tapUserImageBlock(selfAs<QVNRizUrCell>());
}

void QVNRizUrCell::setRizurFrame(const Ref<QVNRizUrFrame>& frame) {
    NS_ASSERT_MAIN_THREAD();
    rizurFrame_ = frame;
    settingFrame();
    settingData();
}

Ref<UIImageView> QVNRizUrCell::thumbnailView(std::size_t index) const {
    switch (index) {
        case 0:
            return leftImageView;
        case 1:
            return centerImageView;
        default:
            return rightImageView;
    }
}

void QVNRizUrCell::settingFrame() {
    if (!rizurFrame_) return;
    const QVNRizUrFrame& f = *rizurFrame_;
    userNameBtn->setFrame(f.userNameImageF);
    userNameLab->setFrame(f.userNameF);
    likeBtn->setFrame(f.likeF);
    commentBtn->setFrame(f.commentF);
    dateTimeLab->setFrame(f.dateTimeF);
    titleLab->setFrame(f.titleF);
    Ref<QVNQuestion> q = f.question();
    if (!q || !q->question_pic) return;
    std::size_t n = detail::forum::splitPictures(q->question_pic).size();
    if (q->question_pic->empty()) n = 1;  // a present but empty list still places the first view
    const CGRect frames[] = {f.leftImageF, f.centerImageF, f.rightImageF};
    for (std::size_t i = 0; i < std::min<std::size_t>(n, 3); ++i) thumbnailView(i)->setFrame(frames[i]);
}

void QVNRizUrCell::settingData() {
    if (!rizurFrame_) return;
    Ref<QVNQuestion> q = rizurFrame_->question();
    if (!q) return;
    UIButton_WebCache::wi_setImageWithURL(userNameBtn, urlOf(q->user_logo), UIControlStateNormal,
                                          imageNamed("touxiangmorentu"));
    userNameLab->setText(q->user_nickname);
    likeBtn->setImage(imageNamed(q->is_like() ? "dianzan_down" : "dianzan_up"), UIControlStateNormal);
    likeBtn->setTitle(countTitle(" (%d)", q->like), UIControlStateNormal);
    commentBtn->setTitle(countTitle(" (%d)", q->reply), UIControlStateNormal);
    commentBtn->setImage(imageNamed("wodepinglun"), UIControlStateNormal);
    dateTimeLab->setText(q->addtime);
    titleLab->setText(q->question_title);

    std::vector<std::string> addresses = detail::forum::splitPictures(q->question_pic);
    for (std::size_t i = 0; i < 3; ++i) {
        if (i < addresses.size() && !addresses[i].empty()) {
            thumbnailView(i)->setHidden(false);
            showThumbnail(i, addresses[i]);
        } else {
            // Nothing of the previous question stays in a reused row.
            expected_[i].clear();
            thumbnailView(i)->setImage(nullptr);
            thumbnailView(i)->setHidden(true);
        }
    }
}

void QVNRizUrCell::showThumbnail(std::size_t index, const std::string& address) {
    expected_[index] = address;
    Ref<UIImageView> view = thumbnailView(index);
    if (hasCachedImage(address)) {
        if (Ref<UIImage> cached = UIImage::imageWithContentsOfFile(pathInCacheDirectory(address))) {
            view->setImage(cached);
            return;
        }
    }
    view->setImage(nullptr);
    CacheImage(address, view);
}

std::string QVNRizUrCell::pathInCacheDirectory(const std::string& address) {
    return cachesFolder() + "/image/" + md5Hex(address);
}

bool QVNRizUrCell::hasCachedImage(const std::string& address) {
    auto attributes = NSFileManager::defaultManager()->attributesOfItemAtPath(pathInCacheDirectory(address));
    if (!attributes) return false;
    const Value& size = (*attributes)[NSFileSize];
    return size.number() && size.number()->longLongValue() > 0;
}

void QVNRizUrCell::CacheImage(const std::string& address, const Ref<UIImageView>& imageView) {
    Weak<QVNRizUrCell> weakCell = selfAs<QVNRizUrCell>();
    Weak<UIImageView> weakView = imageView;
    CGSize viewSize = leftImageView->bounds().size;
    std::size_t index = imageView == leftImageView ? 0 : imageView == centerImageView ? 1 : 2;
    dispatch_async(dispatch_get_global_queue(0), [weakCell, weakView, address, viewSize, index] {
        std::optional<NSData> data = NSData_URL::dataWithContentsOfURL(NSURL::URLWithString(address));
        Ref<UIImage> picture = data ? UIImage::imageWithData(*data) : nullptr;
        Ref<UIImage> cropped;
        if (picture && viewSize.width > 0 && viewSize.height > 0)
            cropped = cutTheImage(picture, nullptr, comparisonOfRect(picture->size(), viewSize));
        else
            cropped = picture;
        if (cropped) {
            // A failed download stores nothing, and a half-written file is never seen.
            if (auto jpeg = UIImageJPEGRepresentation(cropped, 0.1)) {
                std::string folder = cachesFolder() + "/image";
                NSFileManager::defaultManager()->createDirectoryAtPath(folder, true, Dictionary(), nullptr);
                jpeg->writeToFile(pathInCacheDirectory(address), true);
            }
        }
        dispatch_async(dispatch_get_main_queue(), [weakCell, weakView, address, cropped, index] {
            auto cell = weakCell.lock();
            auto view = weakView.lock();
            if (!cell || !view || cell->expected_[index] != address) return;
            view->setImage(cropped);
        });
    });
}

Ref<UIImage> QVNRizUrCell::modiftyPicture(const Ref<UIImage>& image, const Ref<UIImageView>&) const {
    if (!image) return nullptr;
    return cutTheImage(image, nullptr, comparisonOfRect(image->size(), leftImageView->bounds().size));
}

Ref<UIImage> QVNRizUrCell::imageCompressWithSimple(const Ref<UIImage>& image, float scale) {
    if (!image) return nullptr;
    CGSize size = image->size();
    UIGraphicsBeginImageContext(size);
    image->drawInRect(CGRectMake(0, 0, size.width * scale, size.height * scale));
    Ref<UIImage> out = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return out;
}

double QVNRizUrCell::comparisonOfSize(const Ref<UIImage>& image, const Ref<UIView>& view) {
    if (!image || !view) return 0;
    CGSize i = image->size(), v = view->bounds().size;
    if (i.width / v.width > i.height / v.height) return v.height / i.height;
    return v.width / i.width;
}

CGRect QVNRizUrCell::comparisonOfRect(CGSize image, CGSize view) {
    double rw = image.width / view.width, rh = image.height / view.height;
    if (rw > rh) {
        double s = view.height / image.height;
        return CGRectMake((image.width - view.width / s) * 0.5, 0, view.width / s, view.height / s);
    }
    double s = view.width / image.width;
    return CGRectMake(0, (image.height - view.height / s) * 0.5, view.width / s, view.height / s);
}

Ref<UIImage> QVNRizUrCell::cutTheImage(const Ref<UIImage>& image, const Ref<UIView>&, CGRect rect) {
    if (!image) return nullptr;
    CGImageRef part = CGImageCreateWithImageInRect(image->CGImage(), rect);
    return part ? UIImage::imageWithCGImage(part) : nullptr;
}

// ---- the interface-file cell -----------------------------------------------------------------------

void QVNRizUrCellNoImgTableViewCell::setQuestion(const Ref<QVNQuestion>& question) {
    question_ = question;
    if (!question) return;
    if (auto label = userNameLabel.lock()) label->setText(question->user_nickname);
    if (auto label = dateLabel.lock()) label->setText(question->addtime);
    if (auto button = likeButton.lock()) {
        button->setTitle(countTitle("(%d)", question->like), UIControlStateNormal);
        button->setImage(imageNamed(question->is_like() ? "dianzan_down" : "dianzan_up"),
                         UIControlStateNormal);
    }
    if (auto button = commentButton.lock())
        button->setTitle(countTitle("(%d)", question->reply), UIControlStateNormal);
    if (auto label = titleLabel.lock()) label->setText(question->question_title);
    if (auto view = userImageView.lock())
        UIImageView_WebCache::wi_setImageWithURL(view, urlOf(question->user_logo),
                                                 imageNamed("touxiangmorentu"), WILoadRefreshCached);
}

void QVNRizUrCellNoImgTableViewCell::likeClick() {
    if (likeBlock) likeBlock(selfAs<QVNRizUrCellNoImgTableViewCell>());
}

void QVNRizUrCellNoImgTableViewCell::replyClick() {
    if (replyBlock) replyBlock(selfAs<QVNRizUrCellNoImgTableViewCell>());
}

void QVNRizUrCellNoImgTableViewCell::tapUserImageAction(const Ref<NSObject>&) {
    if (!detail::forum::currentUser()) return;
    if (tapUserImageBlock) tapUserImageBlock(selfAs<QVNRizUrCellNoImgTableViewCell>());
}
