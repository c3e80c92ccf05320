#include "information/QVNSearchCell.h"

#include <mutex>

#include "foundation/NSURL.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "images/UIImageView+WebCache.h"
#include "information/ArticleArtwork.h"
#include "uikit/UINib.h"
#include "uikit/UIScreen.h"

namespace {

std::optional<std::string> numberText(const std::optional<NSNumber>& number) {
    if (!number) return std::nullopt;
    return number->stringValue();
}

}  // namespace

QVNSearchCell::QVNSearchCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier)
    : UITableViewCell(style, std::move(reuseIdentifier)) {}

void QVNSearchCell::registerNib() {
    static std::once_flag once;
    std::call_once(once, [] {
        UINib::registerNib(kNibName, [](const Ref<NSObject>&, const Dictionary&) {
            const CGFloat W = UIScreen::mainScreen()->bounds().size.width;
            auto cell = make<QVNSearchCell>(UITableViewCellStyleDefault, std::string(kIdentifier));
            cell->setFrame(CGRectMake(0, 0, W, 85));
            const Ref<UIView>& content = cell->contentView();
            auto icon = make<UIImageView>(CGRectMake(10, 10, 88, 65));
            icon->setContentMode(UIViewContentModeScaleAspectFill);
            icon->setClipsToBounds(true);
            content->addSubview(icon);
            auto text = make<UITextView>(CGRectMake(104, 4, W - 114, 50));
            text->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
            text->setEditable(false);
            text->setScrollEnabled(false);
            text->setUserInteractionEnabled(false);
            text->setFont(UIFont::systemFontOfSize(15));
            text->setTextColor(UIColor::darkGrayColor());
            content->addSubview(text);
            auto time = make<UILabel>(CGRectMake(108, 58, 150, 18));
            time->setFont(UIFont::systemFontOfSize(11));
            time->setTextColor(UIColor::grayColor());
            content->addSubview(time);
            auto count = make<UILabel>(CGRectMake(W - 100, 58, 90, 18));
            count->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin);
            count->setFont(UIFont::systemFontOfSize(11));
            count->setTextColor(UIColor::grayColor());
            count->setTextAlignment(NSTextAlignmentRight);
            content->addSubview(count);
            cell->newsIcon = icon;
            cell->descTextView = text;
            cell->timeLabel = time;
            cell->commentLabel = count;
            return std::vector<Ref<NSObject>>{cell};
        });
    });
}

Ref<QVNSearchCell> QVNSearchCell::cellWithTableView(UITableView& tableView) {
    if (auto queued = std::dynamic_pointer_cast<QVNSearchCell>(
            tableView.dequeueReusableCellWithIdentifier(kIdentifier)))
        return queued;
    registerNib();
    Ref<UINib> nib = UINib::nibWithNibName(kNibName, nullptr);
    if (!nib) return nullptr;
    auto objects = nib->instantiateWithOwner(nullptr, Dictionary());
    return objects.empty() ? nullptr : std::dynamic_pointer_cast<QVNSearchCell>(objects.back());
}

void QVNSearchCell::fill(const std::optional<std::string>& icon, const std::optional<std::string>& text,
                         const std::optional<std::string>& time, const std::optional<std::string>& count) {
    if (auto view = newsIcon.lock()) {
        // Server text: an address that does not parse leaves the placeholder.
        Ref<NSURL> url = icon ? NSURL::URLWithString(*icon) : nullptr;
        UIImageView_WebCache::wi_setImageWithURL(view, url, detail::article::imageNamed("tupianlogo"));
    }
    if (auto view = descTextView.lock()) view->setText(text.value_or(""));
    if (auto label = timeLabel.lock()) label->setText(time);
    if (auto label = commentLabel.lock()) label->setText(count.value_or("0") + "评论");
}

void QVNSearchCell::setResult(const Ref<QVNNews>& news) {
    result_ = news;
    if (news) fill(news->news_pic, news->news_title, news->news_time, numberText(news->news_comment));
}

void QVNSearchCell::setResult(const Ref<QVNSeachResult>& result) {
    result_ = result;
    if (result) fill(result->news_pic, result->news_title, result->news_time, result->news_comment);
}

void QVNSearchCell::setVideo(const Ref<QVNVideo>& video) {
    video_ = video;
    if (video)
        fill(video->video_pic(), video->video_title(), video->video_time(), numberText(video->video_view()));
}

void QVNSearchCell::setQuestion(const Ref<detail::search::QuestionRow>& question) {
    question_ = question;
    if (question)
        fill(question->user_logo, question->question_title, question->addtime, numberText(question->reply));
}
