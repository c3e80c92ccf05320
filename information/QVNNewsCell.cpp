#include "information/QVNNewsCell.h"

#include "app/ScreenParts.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSString.h"
#include "foundation/NSURL.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "images/UIImageView+WebCache.h"
#include "uikit/UIScreen.h"

namespace {

using ScreenParts::label;

}  // namespace

QVNNewsCell::QVNNewsCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier)
    : UITableViewCell(style, std::move(reuseIdentifier)) {
    buildOutlets();
}

// The prototype cell's layout: the thumbnail on the left, the title over the date and the count.
void QVNNewsCell::buildOutlets() {
    const CGFloat W = UIScreen::mainScreen()->bounds().size.width;
    setFrame(CGRectMake(0, 0, W, rowHeight()));
    const Ref<UIView>& content = contentView();
    auto picture = make<UIImageView>(CGRectMake(10, 10, 100, 74));
    picture->setContentMode(UIViewContentModeScaleAspectFill);
    picture->setClipsToBounds(true);
    content->addSubview(picture);
    auto title = label(CGRectMake(120, 10, W - 130, 44), 15, UIColor::darkGrayColor());
    title->setNumberOfLines(2);
    title->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    content->addSubview(title);
    auto date = label(CGRectMake(120, 64, 110, 18), 12, UIColor::grayColor());
    content->addSubview(date);
    auto count = label(CGRectMake(W - 110, 64, 100, 18), 12, UIColor::grayColor());
    count->setTextAlignment(NSTextAlignmentRight);
    count->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin);
    content->addSubview(count);
    newsImageView = picture;
    titleLabel = title;
    dateLabel = date;
    commentCountLabel = count;
}

std::string QVNNewsCell::dateText(const std::optional<std::string>& newsTime) {
    if (!newsTime) return std::string();
    if (NSString::length(*newsTime) <= 10) return *newsTime;
    return NSString::substringToIndex(*newsTime, 10);
}

void QVNNewsCell::setNews(const Ref<QVNNews>& news) {
    NS_ASSERT_MAIN_THREAD();
    news_ = news;
    if (!news) return;
    if (auto title = titleLabel.lock()) title->setText(news->news_title);
    if (auto date = dateLabel.lock()) date->setText(dateText(news->news_time));
    if (auto picture = newsImageView.lock()) {
        // Server text: an address that does not parse leaves the placeholder.
        Ref<NSURL> url = news->news_pic ? NSURL::URLWithString(*news->news_pic) : nullptr;
        UIImageView_WebCache::wi_setImageWithURL(picture, url, UIImage::imageNamed(kPlaceholderImageName));
    }
    if (auto count = commentCountLabel.lock()) {
        const long comments = news->news_comment ? static_cast<long>(news->news_comment->integerValue()) : 0;
        count->setText(std::to_string(comments) + "评论");
    }
}
